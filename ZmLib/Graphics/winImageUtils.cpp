#include "ZmLib/Graphics/winImageUtils.h"

#include <algorithm>
#include <cmath>

#include "ZmLib/Graphics/SysBilinearDrawer.h"
#include "ZmLib/Graphics/zmFixedPointResize.h"

namespace zm {

void FitSize(std::int32_t sourceWidth, std::int32_t sourceHeight, std::int32_t boxWidth, std::int32_t boxHeight,
             std::int32_t& width, std::int32_t& height) {
  boxWidth = std::max(boxWidth, 1);
  boxHeight = std::max(boxHeight, 1);
  if (sourceWidth < 1 || sourceHeight < 1) {
    width = boxWidth;
    height = boxHeight;
    return;
  }
  const double sx = double(boxWidth) / sourceWidth, sy = double(boxHeight) / sourceHeight;
  if (sx < sy) {
    width = boxWidth;
    height = std::int32_t(std::min(std::nearbyint(sourceHeight * sx), double(boxHeight)));
  } else {
    width = std::int32_t(std::min(std::nearbyint(sourceWidth * sy), double(boxWidth)));
    height = boxHeight;
  }
  // A very long, thin picture still gives a picture.
  width = std::max(width, 1);
  height = std::max(height, 1);
}

TRef<TFastDIB> MakeThumbnail(TImage* image, std::int32_t boxWidth, std::int32_t boxHeight, bool flatten,
                             bool noEnlarge, TColor32 background) {
  if (!image) return nullptr;
  ZM_ASSERT(boxWidth >= 1 && boxHeight >= 1, "MakeThumbnail: BoxWidth or BoxHeight < 1");
  const TImageParams& p = image->Params;
  const bool alpha = p.PixelFormat && p.PixelFormat->HasAlpha;
  TPixelFormat* format = PixelFormatByName(TByteString(alpha ? PF_A8R8G8B8 : PF_R8G8B8));
  const std::int32_t level = MipLevelForSize({p.Width, p.Height}, boxWidth, boxHeight);
  auto* source = dynamic_cast<TSysBitmap*>(image->Store()->GetMipLevel(level, format, TSysBitmap::StaticClass()));
  ZM_ASSERT(source, "MakeThumbnail: no Bitmap of the Level");

  std::int32_t w, h;
  FitSize(source->Width(), source->Height(), boxWidth, boxHeight, w, h);
  if (noEnlarge && source->Width() < w && source->Height() < h) {
    w = source->Width();
    h = source->Height();
  }

  TRef<TFastDIB> dib = MakeRef<TFastDIB>();
  if (alpha && !flatten) {
    dib->SetSize(w, h, 32);
    TRef<TDibBitmap> view = WrapDibBitmap(dib.get(), false);
    ResizeBitmapRect(view.get(), source, {0, 0, w, h}, MakeColor32(background.R, background.G, background.B, 0).Value(),
                     {0, 0, source->Width(), source->Height()});
    return dib;
  }
  dib->SetSize(w, h, 24);
  TRef<TDibBitmap> view = WrapDibBitmap(dib.get(), false);
  if (alpha) view->FillRect({0, 0, w, h}, MakeColor32(background.R, background.G, background.B, 255));
  TRef<TBilinearDrawer> drawer = MakeRef<TBilinearDrawer>(8, 8);
  drawer->SetSource(source, false);
  TDrawerMatrix m;
  m.M[2] = float(w) / float(source->Width());
  m.M[5] = float(h) / float(source->Height());
  drawer->SetTransform({0, 0, w, h}, m);
  drawer->Draw(view.get());
  return dib;
}

}  // namespace zm
