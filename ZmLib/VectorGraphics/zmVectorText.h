#pragma once
// Text as glyph outlines: the vectorizer interface with its factory hook,
// TVectorText (lines of parts, each part a glyph with its outline) with its
// layout, and TSimpleVectorText, which lays lines out through a vectorizer.
//
// Lines and parts are 0-based. Outline coordinates are font pixels with y
// growing downwards from the base line, relative to the part's position.
#include <cstdint>
#include <vector>

#include "ZmLib/Graphics/zmRectUtils.h"
#include "ZmLib/VectorGraphics/zmRasterizerTypes.h"
#include "ZmLib/VectorGraphics/zmTextElement.h"

namespace zm {

class TVectorizer : public TRefObject {
public:
  // A text element laid out with Text in the font.
  virtual TRef<TTextElementEx> CreateTextElement(const TFontParams& font, const WideString& text) = 0;
  // The glyph outlines of one part, appended to Sink as path points.
  virtual void VectorizePart(const TTextPart& part, TPathPoints& sink) = 0;
  virtual void GetFontMetrics(const TFontParams& font, TFontMetrics& metrics) = 0;
  virtual bool IsOutlineFont(const TFontParams& font) = 0;
};

// The vectorizer factory; the default answers nil: no text can be made
// into outlines until the text vectoriser unit has stored its factory.
using TCreateVectorizerProc = TRef<TVectorizer> (*)();
extern TCreateVectorizerProc CreateVectorizerHook;
TRef<TVectorizer> DefCreateVectorizer();

// Where a part lies: its x from the line's start and its extents (A, B, C
// and advance horizontally, ascent and descent vertically, their sum).
struct TPartBox {
  float X = 0;
  float A = 0, B = 0, C = 0;
  float Advance = 0;
  float Ascent = 0, Descent = 0;
  float Height = 0;
};

// A line's extents: its width from the first part's position to the end of
// the last, how far the ink starts after that (Leading) and ends before it
// (Trailing, both negative when the ink reaches beyond), the ink width, and
// the vertical extents.
struct TLineMetrics {
  float Width = 0;
  float Leading = 0;
  float Trailing = 0;
  float BlackWidth = 0;
  float Ascent = 0;
  float Descent = 0;
  float Height = 0;
};

// The result of TVectorText.LayoutLines, in pixels at the scale.
struct TTextLayout {
  struct TLine {
    TFloatPoint Origin;  // top left of the line's box
    TRect Box;           // (0, -ascent, width, descent), rounded
  };
  std::vector<TLine> Lines;
  std::int32_t TextWidth = 0;   // the widest box
  float TextHeight = 0;         // below the last line
  // How far ink reaches beyond the boxes on each side (never negative).
  float OverLeft = 0, OverTop = 0, OverRight = 0, OverBottom = 0;
};

class TVectorText : public TRefObject {
public:
  virtual void GetLineMetrics(std::int32_t line, TLineMetrics& metrics) = 0;
  virtual std::int32_t GetPartCount(std::int32_t line) = 0;
  virtual void VectorizePart(std::int32_t line, std::int32_t part, TPathPoints& sink) = 0;
  virtual void GetPartBox(std::int32_t line, std::int32_t part, TPartBox& box) = 0;

  std::int32_t LineCount() const { return lineCount_; }
  const TFontMetrics& FontMetrics() const { return fontMetrics_; }

  // Lines stacked at Scale; between lines an extra (ascent + descent) *
  // Scale * Spacing / 200.
  TTextLayout LayoutLines(std::int32_t spacing, double scale);
  // The area the text covers, ink overhangs included.
  TFloatRect GetBounds(double scale, std::int32_t spacing = 0);
  // The pixel size needed: the text with its overhangs, rounded, and 2 more
  // pixels each way (a 1-pixel margin on every side).
  TSize GetSize(double scale, std::int32_t spacing = 0);
  // (ascent + descent) * Scale.
  float GetLineHeight(double scale) const;

protected:
  std::int32_t lineCount_ = 0;
  TFontMetrics fontMetrics_;
};

// Lines of text laid out by a vectorizer, one text element per line.
class TSimpleVectorText : public TVectorText {
public:
  // The vectorizer comes from CreateVectorizerHook; without one the
  // assertion "CreateVectorizerHook not Assigned".
  TSimpleVectorText(const TFontParams& font, TStringList& lines);
  // With a vectorizer already made (it is shared, not copied).
  TSimpleVectorText(const TFontParams& font, TStringList& lines, TVectorizer* vectorizer);
  void Dispose() override;

  void GetLineMetrics(std::int32_t line, TLineMetrics& metrics) override;
  std::int32_t GetPartCount(std::int32_t line) override;
  void VectorizePart(std::int32_t line, std::int32_t part, TPathPoints& sink) override;
  void GetPartBox(std::int32_t line, std::int32_t part, TPartBox& box) override;

  TVectorizer* Vectorizer() const { return vectorizer_.get(); }
  TTextElementEx* Element(std::int32_t line) const;

private:
  void Build(const TFontParams& font, TStringList& lines);

  TRef<TVectorizer> vectorizer_;
  std::vector<TRef<TTextElementEx>> elements_;
};

// A new TSimpleVectorText; nil when no vectorizer can be made.
TRef<TVectorText> CreateVectorText(const TFontParams& font, TStringList& lines);

// A move to (left, top) and lines to (right, top), (right, bottom), (left, bottom).
void RectToPathPoints(const TFloatRect& rect, TPathPoints& points);

}  // namespace zm
