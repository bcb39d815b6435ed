#pragma once
// TTextProducer: rasterises a vector text into a new 32-bit bitmap
// ("A8R8G8B8", straight alpha) through a TRasterHelper it keeps between
// renders. A producer belongs to one thread at a time.
#include <cstdint>
#include <functional>

#include "ZmLib/VectorGraphics/zmRasterizerUtils.h"
#include "ZmLib/VectorGraphics/zmVectorText.h"

namespace zm {

// Line alignments.
constexpr std::uint8_t taLeft = 0;
constexpr std::uint8_t taCenter = 1;
constexpr std::uint8_t taRight = 2;

// Told about every part painted: the line, the part, its box, and where its
// origin (on the base line) landed in the bitmap.
using TTextPartEvent =
    std::function<void(std::int32_t line, std::int32_t part, const TPartBox& box, const TFloatPoint& origin)>;

class TTextProducer : public TRefObject {
public:
  void Dispose() override;

  // Replaces the vector text. Owns: the producer takes over the caller's
  // reference; otherwise it takes one of its own. Nil clears it.
  void SetText(TVectorText* text, bool owns);
  TVectorText* Text() const { return text_.get(); }

  // RenderEx without offset, underline or strike-out, at single spacing.
  TRef<TDirectBitmap> Render(TColor32 color, TColor32 backColor, double scale);
  // The text in Color at Scale, in a bitmap of the text's size (1-pixel
  // margin). Uncovered pixels take BackColor and partly covered ones are
  // blended over it, unless BackColor is Color at alpha 0: then the pixels
  // hold Color with the coverage as alpha. Nil without a text, for a scale
  // that is not a positive number, or when the bitmap would be too large.
  TRef<TDirectBitmap> RenderEx(TColor32 color, TColor32 backColor, std::int32_t spacing, const TFloatPoint& offset,
                               bool underline, bool strikeOut, double scale);

  // (x * scale + offset x, y * scale + offset y) of the part being painted.
  TFloatPoint MapPoint(const TFloatPoint& p) const;

  std::uint8_t Alignment = taLeft;
  TTextPartEvent OnPart;

private:
  void FillBar(float left, float top, float right, float height);

  TRef<TVectorText> text_;
  TRef<TRasterHelper> helper_;
  float offsetX_ = 0, offsetY_ = 0, scale_ = 1;
};

}  // namespace zm
