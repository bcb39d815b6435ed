#include "OruLib2/OruClasses/OruObjectFactory.h"

#include <array>
#include <atomic>
#include <cmath>
#include <numbers>

namespace oru {

TCreateOruObjectProc CreateOruObjectHook = nullptr;
TGetObjectMediaProc GetObjectMediaHook = nullptr;
double OruCameraFovTangent = 0;

namespace {

// Makers of the object module's codes 1..7, index = code.
std::array<std::atomic<TOruObjectClassProc>, 8> gObjectClasses{};
std::int32_t gObjectsInitCount = 0;

}  // namespace

TOruObjectClassProc SetOruObjectClass(std::int32_t typeCode, TOruObjectClassProc proc) {
  if (typeCode < kOruObjFrame || typeCode > kOruObjButton) return nullptr;
  return gObjectClasses[static_cast<std::size_t>(typeCode)].exchange(proc);
}

TRef<TOruObject> CreateBaseOruObject(std::int32_t typeCode, TOruObject* parent, TOruObjectProps* props) {
  if (typeCode < kOruObjFrame || typeCode > kOruObjButton) return nullptr;
  TOruObjectClassProc proc = gObjectClasses[static_cast<std::size_t>(typeCode)].load();
  return proc ? proc(parent, props) : nullptr;
}

TOruObject* GetBaseObjectMedia(TOruObject* object, WideString& fileName, zm::TSize& size) {
  if (!object) return nullptr;
  if (object->GetMainPicture(fileName, size)) return object;
  TGetObjectMediaProc find = GetObjectMediaHook ? GetObjectMediaHook : &GetBaseObjectMedia;
  for (std::int32_t i = 0; i < object->ChildCount(); ++i) {
    TRef<TOruObject> child(object->Child(i));
    if (TOruObject* found = find(child.get(), fileName, size)) return found;
  }
  return nullptr;
}

void InitOruObjects() {
  // Later modules chain over these hooks; only the first initialisation sets them.
  if (gObjectsInitCount++ > 0) return;
  CreateOruObjectHook = &CreateBaseOruObject;
  GetObjectMediaHook = &GetBaseObjectMedia;
  OruCameraFovTangent = std::tan(std::numbers::pi / 6.0);
}

void FiniOruObjects() {
  if (gObjectsInitCount > 0) --gObjectsInitCount;
}

}  // namespace oru
