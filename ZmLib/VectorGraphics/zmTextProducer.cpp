#include "ZmLib/VectorGraphics/zmTextProducer.h"

#include <algorithm>
#include <cmath>

#include "ZmLib/Graphics/zmPixelFormat.h"

namespace zm {

void TTextProducer::Dispose() {
  text_ = nullptr;
  if (helper_ && helper_->Painting()) helper_->EndPaint();
  helper_ = nullptr;
  OnPart = nullptr;
  TRefObject::Dispose();
}

void TTextProducer::SetText(TVectorText* text, bool owns) {
  if (owns) text_ = TRef<TVectorText>::Adopt(text);
  else text_ = TRef<TVectorText>(text);
}

TFloatPoint TTextProducer::MapPoint(const TFloatPoint& p) const {
  return {p.X * scale_ + offsetX_, p.Y * scale_ + offsetY_};
}

TRef<TDirectBitmap> TTextProducer::Render(TColor32 color, TColor32 backColor, double scale) {
  return RenderEx(color, backColor, 0, {0, 0}, false, false, scale);
}

void TTextProducer::FillBar(float left, float top, float right, float height) {
  offsetX_ = 0;
  offsetY_ = 0;
  scale_ = 1;
  TPathPoints bar;
  RectToPathPoints({left, top, right, top + std::max(height, 1.0f)}, bar);
  helper_->AddPath(bar, false);
}

TRef<TDirectBitmap> TTextProducer::RenderEx(TColor32 color, TColor32 backColor, std::int32_t spacing,
                                            const TFloatPoint& offset, bool underline, bool strikeOut,
                                            double scale) {
  if (!text_ || !(scale > 0) || !std::isfinite(scale)) return nullptr;
  const TTextLayout layout = text_->LayoutLines(spacing, scale);
  const TSize size = text_->GetSize(scale, spacing);
  if (!BitmapSizeAllowed(size.cx, size.cy, PixelFormatByName(TByteString(PF_A8R8G8B8)))) return nullptr;

  if (!helper_) helper_ = MakeRef<TRasterHelper>();
  helper_->Color = color;
  helper_->StrokeMode = smFill;
  helper_->SetPaintSource(nullptr);
  helper_->SetPointTransform([this](const TFloatPoint& p) { return MapPoint(p); });
  helper_->BeginPaintTransparent(size.cx, size.cy);
  try {
    const TFontMetrics& fm = text_->FontMetrics();
    TPathPoints points;
    for (std::int32_t i = 0; i < std::int32_t(layout.Lines.size()); ++i) {
      const TTextLayout::TLine& line = layout.Lines[std::size_t(i)];
      // The margin and the ink that reaches left of and above the boxes.
      float x = line.Origin.X + offset.X + 1 + layout.OverLeft;
      const float y = line.Origin.Y + offset.Y + 1 + layout.OverTop;
      if (Alignment == taCenter) x += float(layout.TextWidth) / 2 - float(line.Box.Left + line.Box.Right) / 2;
      else if (Alignment == taRight) x += float(layout.TextWidth - line.Box.Right);
      const float baseline = y + float(double(fm.Ascent) * scale);
      const std::int32_t parts = text_->GetPartCount(i);
      for (std::int32_t p = 0; p < parts; ++p) {
        TPartBox box;
        text_->GetPartBox(i, p, box);
        points.clear();
        text_->VectorizePart(i, p, points);
        offsetX_ = x + float(double(box.X) * scale);
        offsetY_ = baseline;
        scale_ = float(scale);
        helper_->AddPath(points, false);
        if (OnPart) OnPart(i, p, box, {offsetX_, offsetY_});
      }
      const float left = x + float(line.Box.Left), right = x + float(line.Box.Right);
      if (underline)
        FillBar(left, baseline - float(fm.UnderlinePosition * scale), right, float(fm.UnderlineSize * scale));
      if (strikeOut)
        FillBar(left, baseline - float(fm.StrikeOutPosition * scale), right, float(fm.StrikeOutSize * scale));
    }
  } catch (...) {
    helper_->EndPaint();
    throw;
  }
  TRef<TDirectBitmap> bitmap = helper_->EndPaint();
  if (!(backColor == TransparentColor32(color))) {
    for (std::int32_t row = 0; row < bitmap->Height(); ++row) {
      TColor32* px = reinterpret_cast<TColor32*>(bitmap->ScanLine(row));
      for (std::int32_t c = 0; c < bitmap->Width(); ++c) {
        TColor32 v = backColor;
        BlendOverColor32(v, px[c]);
        px[c] = v;
      }
    }
  }
  return bitmap;
}

}  // namespace zm
