#include "OruLib2/OruClasses/OruViewerColorTransform.h"

#include "OruLib2/OruClasses/OruShowLoader.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/zmHookScope.h"

namespace oru {

using namespace zm;

namespace {

zm::THookInstall<TCreateColorTransformProc> gViewerTransformHook;

// The stored table of the current show for the source profile; nil when
// there is none or it does not load as a table.
TRef<TImage> LoadStoredTable(TFileAccessor* accessor, TColorProfile* source) {
  const WideString name = StoredColorTableName(source->Name());
  TStream* stream = accessor->OpenFile(name);
  if (!stream) return nullptr;
  TRef<TImage> picture = LoadImageFromStreamEx(stream, name, true);
  TBitmap* bitmap = picture ? picture->GetBitmap() : nullptr;
  if (!bitmap || bitmap->Width() != kGradeCubeSize || bitmap->Height() != kGradeCubeRows) return nullptr;
  return picture;
}

}  // namespace

TOruViewerColorTransform::TOruViewerColorTransform(TColorProfile* source, TColorProfile* target, TImage* picture)
    : TColorTransform(source, target) {
  ZM_ASSERT(picture, "TOruViewerColorTransform.Create - Picture not Assigned");
  TBitmap* bitmap = picture->GetBitmap();
  ZM_ASSERT(bitmap, "TOruViewerColorTransform.Create - Picture has no Bitmap");
  lookup_ = CreateSysBitmap(bitmap->Width(), bitmap->Height(), PixelFormatByName(PF_R8G8B8));
  ZM_ASSERT(lookup_, "TOruViewerColorTransform.Create - Bitmap not Created");
  lookup_->CopyFrom(bitmap);
  AddIdentityLut24(lookup_.get());
}

void TOruViewerColorTransform::Dispose() {
  lookup_ = nullptr;
  TColorTransform::Dispose();
}

void TOruViewerColorTransform::TransformBitmap(TBitmap* bitmap) {
  if (!lookup_) return;
  if (auto* sys = dynamic_cast<TSysBitmap*>(bitmap)) sys->CopyFrom(lookup_.get());
  else if (auto* direct = dynamic_cast<TDirectBitmap*>(bitmap)) direct->CopyFrom(lookup_.get());
}

WideString StoredColorTableName(const WideString& profileName) {
  return u"ColorSpaceExe_" + profileName + u"].ZMGFX";
}

TRef<TColorTransform> CreateViewerColorTransform(TColorProfile* source, TColorProfile* target) {
  if (source && target && !NoColorManagement) {
    TRef<TOruShowLocator> show = CurrentShowRef();
    if (show && show->FromContainer() && show->Accessor()) {
      try {
        if (TRef<TImage> table = LoadStoredTable(show->Accessor(), source))
          return MakeRef<TOruViewerColorTransform>(source, target, table.get());
      } catch (const Exception&) {
        // A damaged table is no table: the computed transform serves.
      }
    }
  }
  return gViewerTransformHook.Saved() ? gViewerTransformHook.Saved()(source, target) : nullptr;
}

void InitViewerColorTransform() {
  gViewerTransformHook.Install(CreateColorTransformHook, &CreateViewerColorTransform);
}

void FiniViewerColorTransform() {
  gViewerTransformHook.RestoreIfStillSet();
}

}  // namespace oru
