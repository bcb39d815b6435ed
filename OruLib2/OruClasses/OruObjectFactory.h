#pragma once
// Slide objects made by type code. CreateOruObjectHook is a chain: the object
// module handles codes 1 to 7, the view-port module 9 to 11 and the video
// module 8, each passing every other code to the value it saved. Codes 1 to
// 7 are made by the classes registered for them (box, image, text, button).
#include <cstdint>

#include "OruLib2/OruClasses/OruObjects.h"

namespace oru {

// A new object of the type code made with TOruObject::Create(Parent,
// Props), or nil for a code nobody handles.
using TCreateOruObjectProc = TRef<TOruObject> (*)(std::int32_t typeCode, TOruObject* parent,
                                                  TOruObjectProps* props);
extern TCreateOruObjectProc CreateOruObjectHook;

// The object of the subtree that carries the main picture, with the
// picture's file name and size; nil when none.
using TGetObjectMediaProc = TOruObject* (*)(TOruObject* object, WideString& fileName, zm::TSize& size);
extern TGetObjectMediaProc GetObjectMediaHook;

// The camera's half field-of-view tangent (tan 30 degrees once the object
// module is initialised).
extern double OruCameraFovTangent;

// The maker of one of the object module's kinds (codes 1 to 7).
using TOruObjectClassProc = TRef<TOruObject> (*)(TOruObject* parent, TOruObjectProps* props);
// Sets the maker of a code 1..7 (nil removes it); other codes are ignored.
// Returns the maker it replaces.
TOruObjectClassProc SetOruObjectClass(std::int32_t typeCode, TOruObjectClassProc proc);

// A maker for SetOruObjectClass from a class.
template <class T>
TRef<TOruObject> MakeOruObject(TOruObject* parent, TOruObjectProps* props) {
  return TOruObject::Create<T>(parent, props);
}

// The object module's creator and media finder (what the hooks hold after
// InitOruObjects).
TRef<TOruObject> CreateBaseOruObject(std::int32_t typeCode, TOruObject* parent, TOruObjectProps* props);
TOruObject* GetBaseObjectMedia(TOruObject* object, WideString& fileName, zm::TSize& size);

// The object module: stores its creator and media finder in the hooks and
// the camera constant. Initialisations are counted; finalising does not put
// back what the hooks held.
void InitOruObjects();
void FiniOruObjects();

}  // namespace oru
