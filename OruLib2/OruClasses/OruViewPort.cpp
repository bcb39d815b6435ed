#include "OruLib2/OruClasses/OruViewPort.h"

#include "OruLib2/OruClasses/OruObjectFactory.h"
#include "OruLib2/OruClasses/OruObjectReader.h"

namespace oru {

using namespace zm;

TRef<TImage> (*ViewPortEmptyContentHook)(TOruObject* viewPort) = nullptr;

void TOruViewPort::InitState() {
  Width = 1;
  Height = 1;
}

void TOruViewPort::ReadProps(TOruObjectProps* props, bool reload) {
  const TPoint size = ReadPropPoint(props, u"Size", TPoint{0, 0});
  Width = float(size.X);
  Height = float(size.Y);
  TOruObject::ReadProps(props, reload);
}

void TOruViewPort::Draw(TDeviceDrawer& drawer) {
  Stencil = nullptr;
  Content = nullptr;
  for (const TRef<TOruObject>& c : Children()) {
    if (auto* s = dynamic_cast<TOruMaskStencil*>(c.get())) Stencil = s;
    if (auto* m = dynamic_cast<TOruMaskContent*>(c.get())) Content = m;
  }
  // Half a view port shows nothing and keeps its changes for later.
  if (!Stencil || !Content) return;
  EmptyContent = Content->ChildCount() == 0 && ViewPortEmptyContentHook ? ViewPortEmptyContentHook(this) : nullptr;
  if (Active && FacingVisible() && !Hidden) {
    PrepareDraw(drawer);
    CommitFrame(false);
  } else {
    CommitFrame(true);
  }
}

void TOruViewPort::PrepareDraw(TDeviceDrawer& drawer) {
  if (!Stencil || !Content) return;
  // Hold both: drawing may run callbacks that change the tree.
  TRef<TOruObject> stencil(Stencil), content(Content);
  drawer.DrawMasked(stencil.get(), content.get(), GetOpacity(), EmptyContent.get());
}

namespace {

void ReadMaskProps(TOruObject& object, TOruObjectProps* props) {
  if (TOruObject* parent = object.Parent()) {
    object.Width = parent->Width;
    object.Height = parent->Height;
  }
  object.TranspForClick = ReadPropBool(props, u"TranspForClick", true) ? 1 : 0;
}

}  // namespace

void TOruMaskStencil::ReadProps(TOruObjectProps* props, bool reload) {
  TOruObject::ReadProps(props, reload);
  ReadMaskProps(*this, props);
}

void TOruMaskContent::ReadProps(TOruObjectProps* props, bool reload) {
  TOruObject::ReadProps(props, reload);
  ReadMaskProps(*this, props);
}

// ---- The module ----------------------------------------------------------------------------------

namespace {
TCreateOruObjectProc gSavedCreate = nullptr;
std::int32_t gViewPortInitCount = 0;
}  // namespace

TRef<TOruObject> CreateViewPortObject(std::int32_t typeCode, TOruObject* parent, TOruObjectProps* props) {
  switch (typeCode) {
    case kOruObjViewport: return TOruObject::Create<TOruViewPort>(parent, props);
    case kOruObjMaskStencil: return TOruObject::Create<TOruMaskStencil>(parent, props);
    case kOruObjMaskContent: return TOruObject::Create<TOruMaskContent>(parent, props);
    default: break;
  }
  return gSavedCreate && gSavedCreate != &CreateViewPortObject ? gSavedCreate(typeCode, parent, props) : nullptr;
}

void InitOruViewPorts() {
  if (gViewPortInitCount++ > 0) return;
  gSavedCreate = CreateOruObjectHook;
  CreateOruObjectHook = &CreateViewPortObject;
}

void FiniOruViewPorts() {
  if (gViewPortInitCount > 0) --gViewPortInitCount;
}

}  // namespace oru
