#pragma once
// View ports (type code 9) show one subtree of a slide through the shape of
// another: the mask-stencil child (code 10) gives the shape, the
// mask-content child (code 11) what is seen through it, and the drawer
// combines both in one masked pass.
#include <cstdint>

#include "OruLib2/OruClasses/OruObjects.h"
#include "ZmLib/Graphics/zmImage.h"

namespace oru {

class TOruMaskStencil;
class TOruMaskContent;

class TOruViewPort : public TOruObject {
public:
  void Draw(zm::TDeviceDrawer& drawer) override;
  void PrepareDraw(zm::TDeviceDrawer& drawer) override;
  void ReadProps(TOruObjectProps* props, bool reload) override;
  void InitState() override;

  // The last stencil and the last content child of the last draw (not owned).
  TOruMaskStencil* Stencil = nullptr;
  TOruMaskContent* Content = nullptr;
  // Tiled under a content without children (nil: nothing).
  TRef<zm::TImage> EmptyContent;
};

// Takes its parent's size; lets clicks through unless TranspForClick is 0.
class TOruMaskStencil : public TOruObject {
public:
  void ReadProps(TOruObjectProps* props, bool reload) override;
};

class TOruMaskContent : public TOruObject {
public:
  void ReadProps(TOruObjectProps* props, bool reload) override;
};

// What a view port tiles under an empty content; nil: nothing.
extern TRef<zm::TImage> (*ViewPortEmptyContentHook)(TOruObject* viewPort);

// The view-port module: makes codes 9 to 11 and passes every other code to
// the creator it found. Initialisations are counted; finalising leaves the
// hook as it is.
TRef<TOruObject> CreateViewPortObject(std::int32_t typeCode, TOruObject* parent, TOruObjectProps* props);
void InitOruViewPorts();
void FiniOruViewPorts();

}  // namespace oru
