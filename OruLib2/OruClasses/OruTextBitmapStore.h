#pragma once
// The picture of a "Text: " name: a bitmap store whose full-size level is
// rendered from the text's outlines when first asked for. The outlines come
// from the show's "VectTxt2: " entry when it carries one (their glyphs from
// "VectTextCache: " entries), else they are laid out now through the glyph
// cache. Smaller levels are halved from the full size by the base store.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruClasses/OruGlyphCache.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/VectorGraphics/zmTextKeys.h"

namespace oru {

// A text is cut to what a slide can show: at most kMaxTextLines lines of at
// most kMaxTextLineLength characters (UTF-16 units), kMaxTextLength in all.
// A line of 1000 characters is already wider than the largest raster a text
// is rendered at (30000 pixels) at its natural size, so more of it would only
// shrink what shows; 20000 characters fill the largest raster (10,000,000
// pixels) with cells of about 20 x 25 pixels, more than any slide can show
// legibly.
constexpr std::size_t kMaxTextLines = 1000;
constexpr std::size_t kMaxTextLineLength = 1000;
constexpr std::size_t kMaxTextLength = 20000;
// Cuts Lines to those limits: the lines after the last one kept are
// dropped, a line is cut at its end, never inside a surrogate pair. True
// when something was cut.
bool CutText(std::vector<WideString>& lines);

class TTextBitmapStore : public zm::TSysBitmapStore {
public:
  // The store of Description (what follows "Text: "), reading cached
  // outlines through Accessor (nil: none); the text, and stored outlines,
  // cut as CutText says. Nil when the text cannot be made: no outlines
  // stored and no vectoriser, a scale that is not a positive number, or a
  // size no bitmap may have. The vectoriser's exceptions pass on.
  static zm::TRef<TTextBitmapStore> Create(const WideString& description, TFileAccessor* accessor);
  // The same with the outlines laid out already for the text of the same
  // font, style and lines (another size of it); nil: laid out here.
  static zm::TRef<TTextBitmapStore> Create(const WideString& description, TFileAccessor* accessor,
                                           TCachedVectorText* laidOut);

  // Use Create.
  TTextBitmapStore(const WideString& name, const zm::TPoint& size, TCachedVectorText* text,
                   const zm::TTextKeyParams& params);
  void Dispose() override;

  // Level 0: the text rendered at the store's size; other levels: none.
  void GetSourceLevel(std::int32_t level, zm::TMipLevelResult& result) override;
  // The text is rendered again whenever its pixels are wanted once more.
  bool RemakesLevels() const override { return true; }

  // The vector-text measures at Size; a size that is not a positive number
  // means the store's own.
  zm::TSize Measure(double size);
  zm::TFloatRect InkRect(double size);
  float LineHeight(double size);

  TCachedVectorText* Text() const { return text_.get(); }
  const zm::TTextKeyParams& Params() const { return params_; }
  // The text's scale: font units to pixels.
  double TextSize() const { return textSize_; }
  // How often level 0 was rendered (diagnostics, tests).
  std::int32_t RenderCount() const { return renderCount_; }

private:
  double SizeOr(double size) const;

  zm::TRef<TCachedVectorText> text_;
  zm::TTextKeyParams params_;
  double textSize_ = 1;
  std::int32_t renderCount_ = 0;
};

// The entry of a font's stored glyphs.
inline WideString VectorTextCacheName(const WideString& fontKey) { return kVectorTextCachePrefix + fontKey; }

// The module installs CreateTextBitmapMakerHook: the slide host's "Text: "
// pictures become images over text-bitmap stores.
void InitTextBitmapStore();
void FiniTextBitmapStore();

}  // namespace oru
