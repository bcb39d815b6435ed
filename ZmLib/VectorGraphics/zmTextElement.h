#pragma once
// The abstractions that text measured by the window system and text drawn
// from glyph outlines share: TTextElement (one run of styled text that can
// measure itself and fit into a width), TTextElementEx (the same divided
// into parts, one per positioned glyph), the font services TFontUtils with
// the global FontUtils object, and the font-list worker TFontThread. The
// window-system implementations come with the font units.
//
// Character positions of a text element are 1-based; widths are pixels.
// An element is used by one thread at a time.
#include <cstdint>
#include <functional>
#include <vector>

#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmColorTypes.h"
#include "ZmLib/zmMonitors.h"
#include "ZmLib/zmStringList.h"

namespace zm {

// Six font values of an element: ascent, descent, height and three more.
struct TTextMetricsRec {
  std::int32_t Ascent = 0;
  std::int32_t Descent = 0;
  std::int32_t Height = 0;
  std::int32_t InternalLeading = 0;
  std::int32_t ExternalLeading = 0;
  std::int32_t AveCharWidth = 0;
};

// The ink extent of an element: the left ink edge (the first glyph's
// overhang), the ink width, the right overhang and the whole advance.
struct TTextOverhangs {
  std::int32_t First = 0;
  std::int32_t Second = 0;
  std::int32_t Third = 0;
  std::int32_t Width = 0;
};

// A caret range of one character.
struct TCharBounds {
  std::int32_t Start = 0;
  std::int32_t End = 0;
};

// One part of a text: a positioned glyph in one font. FontKey is the font
// name, ":" and the style words ("Bold,Italic").
struct TTextPart {
  WideString FontKey;
  std::uint16_t GlyphIndex = 0;
  std::int32_t Size = 0;  // points
  std::int32_t A = 0, B = 0, C = 0;
  std::int32_t Advance = 0;
  std::int32_t Ascent = 0, Descent = 0, Height = 0;
  std::int32_t X = 0;  // from the start of the line
};

class TTextElement;
// The next smaller count of characters to try (a break position) before
// Count; Flags is 0.
using TPrevBreakFunc = std::function<std::int32_t(TTextElement* element, std::int32_t count, std::int32_t flags)>;

class TTextElement : public TRefObject {
public:
  TTextElement(const TFontParams& fontParams, std::uint8_t flag);
  void Dispose() override;

  virtual TTextMetricsRec GetMetrics() = 0;
  virtual TCharBounds GetCharBounds(std::int32_t index) = 0;
  virtual bool IsClusterContinuation(std::int32_t index) = 0;
  virtual std::int32_t GetUnderlineSize() = 0;
  virtual std::int32_t GetUnderlinePos() = 0;
  // The width of Count characters from Start.
  virtual std::int32_t MeasureRange(std::int32_t start, std::int32_t count) = 0;
  virtual TTextOverhangs GetOverhangs() = 0;
  // The number of characters from Start that fit into MaxWidth: Start is
  // held within 1..length; the whole text from 1 that fits gives the length
  // at once; otherwise the count shrinks through PrevBreak while the range
  // is too wide (0 or less when nothing fits). A PrevBreak that gives no
  // smaller count (or none given) counts one character less.
  virtual std::int32_t FitChars(std::int32_t start, std::int32_t maxWidth, const TPrevBreakFunc& prevBreak);
  virtual TRef<TTextElement> Clone() = 0;
  // The area that drawing at P touches (right and bottom exclusive).
  virtual TRect GetDrawRect(const TPoint& p);
  // (x, y, x + GetWidth, y + height).
  virtual TRect GetTextRect(const TPoint& p);

  // The fourth value of GetOverhangs.
  std::int32_t GetWidth();
  bool IsTransparent() const { return IsTransparentText(fontParams_); }
  // A range width through the prefix and suffix caches (see the source).
  std::int32_t MeasureCached(std::int32_t start, std::int32_t count);

  std::int32_t Length() const { return length_; }
  std::uint8_t Flag() const { return flag_; }
  const TFontParams& FontParams() const { return fontParams_; }

protected:
  // A new text length; the width caches are dropped.
  void SetTextLength(std::int32_t length);

private:
  std::vector<std::int32_t> prefixWidths_;  // by count, -1 = not measured
  std::vector<std::int32_t> suffixWidths_;
  std::uint8_t flag_;
  std::int32_t length_ = 0;
  TFontParams fontParams_;
};

// A text divided into parts.
class TTextElementEx : public TTextElement {
public:
  using TTextElement::TTextElement;
  virtual std::int32_t GetPartCount() = 0;
  // Part is 0-based; false when there is no such part.
  virtual bool GetPart(std::int32_t index, TTextPart& part) = 0;
};

// ---- Font services ---------------------------------------------------------------------

// Font values for outline drawing: ascent and descent (pixels) and the
// underline and strike-out bars (position above the base line, thickness).
struct TFontMetrics {
  std::int32_t Ascent = 0;
  std::int32_t Descent = 0;
  float UnderlinePosition = 0;
  float UnderlineSize = 0;
  float StrikeOutPosition = 0;
  float StrikeOutSize = 0;
};

// Overhangs of the first and the last character of a measured text.
struct TSideOverhangs {
  std::int32_t Left = 0;
  std::int32_t Right = 0;
};

class TFontUtils : public TRefObject {
public:
  virtual TTextMetricsRec GetTextMetrics(const TFontParams& font) = 0;
  virtual TFontMetrics GetOutlineMetrics(const TFontParams& font) = 0;
  // MeasureTextEx without the overhangs and metrics.
  virtual TSize MeasureText(const TFontParams& font, const WideString& text);
  virtual TSize MeasureTextEx(const TFontParams& font, const WideString& text, TSideOverhangs& overhangs,
                              TTextMetricsRec& metrics) = 0;
  // A new bitmap with the text drawn.
  virtual TRef<TBitmap> DrawText(const TFontParams& font, const WideString& text) = 0;
};

// Set by the window-system font unit; freed when this module is finalised.
extern TFontUtils* FontUtils;

// A worker that holds the list of installed font names.
class TFontThread : public TActiveMonitor {
public:
  // Tells the worker to stop; frees the list.
  void Dispose() override;
  // Under the monitor: the held list becomes a copy of List (made on first
  // use); nil clears it.
  void SetFontList(TStringList* list);
  // Under the monitor: a copy of the held list, nil before one was set.
  TRef<TStringList> CopyFontList();
  void TerminateAndWait();

private:
  TRef<TStringList> fontList_;
};

// The font-list worker factory; the default answers nil. The window-system
// text unit stores one that starts the worker.
using TCreateFontThreadProc = TRef<TFontThread> (*)();
extern TCreateFontThreadProc CreateFontThreadHook;
TRef<TFontThread> DefCreateFontThread();

void InitTextElement();
void FiniTextElement();

}  // namespace zm
