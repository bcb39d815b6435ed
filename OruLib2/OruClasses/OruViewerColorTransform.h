#pragma once
// The viewer's colour transform: a show made by the authoring product may
// carry, for a source colour space, a ready-made colour look-up table as a
// picture entry "ColorSpaceExe_<profile name>].ZMGFX" of its container,
// holding differences from the identity. The unit plugs into
// CreateColorTransformHook so that such a table is used instead of a
// computed transform; every other case goes to the hook installed before.
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/zmColorProfiles.h"
#include "ZmLib/Graphics/zmImage.h"

namespace oru {

using zm::WideString;

class TOruViewerColorTransform : public zm::TColorTransform {
public:
  // The table of differences in Picture (32 x 1024 pixels, the cube layout of
  // the colour-grading tables) becomes an absolute table; the caller keeps
  // the picture. A picture of another size fails the assertion of
  // AddIdentityLut24.
  TOruViewerColorTransform(zm::TColorProfile* source, zm::TColorProfile* target, zm::TImage* picture);
  void Dispose() override;  // releases the table
  // Copies the table into the bitmap (clipped and converted): the table is
  // what the renderer's colour-grading texture needs. Bitmaps that are
  // neither TSysBitmaps nor TDirectBitmaps stay as they are.
  void TransformBitmap(zm::TBitmap* bitmap) override;

  zm::TSysBitmap* LookupBitmap() const { return lookup_.get(); }

private:
  zm::TRef<zm::TSysBitmap> lookup_;
};

// The entry name of the stored table of a source profile.
WideString StoredColorTableName(const WideString& profileName);

// The value of CreateColorTransformHook while the unit runs.
zm::TRef<zm::TColorTransform> CreateViewerColorTransform(zm::TColorProfile* source, zm::TColorProfile* target);

void InitViewerColorTransform();  // installs the hook, keeping the previous one
void FiniViewerColorTransform();  // puts the previous hook back

}  // namespace oru
