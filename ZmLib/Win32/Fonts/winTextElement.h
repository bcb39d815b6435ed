#pragma once
// TWinTextElement: one line of text laid out by GDI. The shared font
// replacer divides the text into font runs (characters a font lacks go to
// fallback fonts), every run is shaped on its own with
// GetCharacterPlacementW, and the element keeps caret positions, character
// bounds, clusters, the ink extent and the positioned glyphs (its parts).
//
// Character positions of the public operations are 1-based; run starts are
// 0-based. Layout divides fonts under the module's lock; an element itself
// is used by one thread at a time.
#include <cstdint>
#include <functional>
#include <vector>

#include "Platform/Gdi/PlatFont.h"
#include "Platform/Gdi/PlatShape.h"
#include "ZmLib/VectorGraphics/zmTextElement.h"

namespace zm {

// Direction codes: the control character put before every run's text.
constexpr std::uint8_t tdNone = 0, tdLeftToRight = 1, tdRightToLeft = 2, tdLeftToRightOverride = 3,
                       tdRightToLeftOverride = 4;

// Bits of the GetPlacement mask.
constexpr std::uint32_t gpOutString = 1, gpOrder = 2, gpDx = 4, gpCaret = 8, gpClasses = 16, gpGlyphs = 32;

// The shaping flags of layout (reorder, glyph shapes, ligatures, marks, input classes).
constexpr plat::DWORD kLayoutPlacementFlags = 0x80132;

// The arrays of one placement call. Order and Dx are preset to -1, the
// others to 0. Glyphs and Dx have room for Count * 3 / 2 + 16 glyphs.
struct TPlacement {
  std::vector<char16_t> OutString;
  std::vector<plat::UINT> Order;
  std::vector<int> Dx;
  std::vector<int> Caret;
  std::vector<char> Classes;
  std::vector<char16_t> Glyphs;
  std::int32_t GlyphCount = 0;
  bool Shaped = false;  // false: the arrays come from the fallback
};

// GetCharacterPlacementW of Count characters with the arrays Mask asks for.
// When it fails and order, dx, caret or glyphs were asked for: identity
// order, glyphs from GetGlyphIndicesW (a missing one gives 0), dx from the
// ABC widths (0 when they cannot be had), left-to-right classes. The
// placement call's answer (0 on failure).
plat::DWORD GetPlacement(plat::HDC dc, const char16_t* text, std::int32_t count, TPlacement& placement,
                         std::uint32_t mask, plat::DWORD flags);

// ABC widths of Count glyph indexes (First when Glyphs is nil); false when
// they cannot be had. Set at start-up; nil turns ink measuring off.
using TCharABCWidthsProc = bool (*)(plat::HDC dc, plat::ABC* abc, std::uint32_t first, std::uint32_t count,
                                    const std::uint16_t* glyphs);
extern TCharABCWidthsProc CharABCWidthsProc;

// One font run of a laid-out text.
struct TWinFontRun {
  TFontParams Font;
  std::int32_t Start = 0;  // 0-based character index
  std::int32_t Count = 0;
  std::int32_t GlyphCount = 0;
  std::int32_t Width = 0;  // advance
  // False: no font covers the run; it is laid out and drawn as 'L' in
  // "Wingdings" (a frowning face), one per character.
  bool Found = false;
};

class TWinTextElement : public TTextElementEx {
public:
  using TGetDcProc = std::function<plat::HDC()>;
  using TReleaseDcProc = std::function<void(plat::HDC)>;
  // Offered every covered run (Start 0-based) before it is taken; Accept
  // false refuses it and the replacer offers the characters to the next
  // fallback font.
  using TFontRunProc = std::function<void(TWinTextElement* element, const TFontParams& font, std::int32_t start,
                                          std::int32_t count, bool& accept)>;

  // A size that is not above 0 (or no number) becomes 8; a face name is
  // cut to the 31 characters GDI holds.
  TWinTextElement(const TFontParams& font, std::uint8_t flag);
  void Dispose() override;

  TTextMetricsRec GetMetrics() override;
  // (caret[Index - 1], caret[Index]) with Index held within 0..length.
  TCharBounds GetCharBounds(std::int32_t index) override;
  bool IsClusterContinuation(std::int32_t index) override;
  std::int32_t GetUnderlineSize() override;
  std::int32_t GetUnderlinePos() override;
  std::int32_t MeasureRange(std::int32_t start, std::int32_t count) override;
  TTextOverhangs GetOverhangs() override;
  TRef<TTextElement> Clone() override;
  TRect GetDrawRect(const TPoint& p) override;
  std::int32_t GetPartCount() override;
  bool GetPart(std::int32_t index, TTextPart& part) override;

  // Inserts Count characters of S from From (1-based) before Pos, each held
  // within range, and lays the text out again.
  void InsertText(std::int32_t pos, const WideString& s, std::int32_t from, std::int32_t count);
  void SetText(const WideString& text);
  const WideString& Text() const { return text_; }
  // The direction the text starts in; lays the text out again.
  void SetDirection(std::uint8_t code);
  std::uint8_t Direction() const { return direction_; }
  // Where the element gets its DC from; empty: the screen DC.
  void SetDcProcs(TGetDcProc get, TReleaseDcProc release);

  // Layout results.
  const std::vector<TWinFontRun>& Runs() const { return runs_; }  // in visual order
  const std::vector<std::uint16_t>& Glyphs() const { return glyphs_; }
  // The advance of each glyph of Glyphs, in px.
  const std::vector<std::int32_t>& GlyphAdvances() const { return glyphDx_; }
  // Caret position before character Index (0-based), Index = length: after the last.
  std::int32_t CaretPos(std::int32_t index) const;
  // The left and right edges of character Index's (0-based) cluster,
  // (right, left) for right-to-left characters.
  TCharBounds CharEdges(std::int32_t index) const;
  // The element's glyph of character Index's (0-based) cluster; -1 out of range.
  std::int32_t ClusterGlyph(std::int32_t index) const;
  // The advance of character Index (0-based): its cluster's width for the
  // first character of a cluster, 0 for the rest, -1 after the last.
  std::int32_t CharAdvance(std::int32_t index) const;

  TFontRunProc OnFontRun;

private:
  class TDcScope;
  void Layout();
  void ShapeRun(TWinFontRun& run, std::int32_t x, std::uint8_t direction, std::int64_t& left, std::int64_t& right);

  WideString text_;
  std::uint8_t direction_ = tdNone;
  bool metricsRead_ = false;
  TTextMetricsRec metrics_;
  std::vector<TWinFontRun> runs_;
  TTextOverhangs extent_;
  std::vector<std::int32_t> caret_;         // length + 1
  std::vector<TCharBounds> bounds_;         // length
  std::vector<std::int32_t> clusterGlyph_;  // length
  std::vector<std::int32_t> advance_;       // length + 1
  std::vector<std::uint16_t> glyphs_;
  std::vector<std::int32_t> glyphDx_;  // per glyph
  TGetDcProc getDc_;
  TReleaseDcProc releaseDc_;
};

// ---- Font enumeration worker --------------------------------------------------------------

// What GDI's enumeration tells of a family, attached to its name in the
// worker's list. One object per name is kept until the module ends, so the
// copies of a published list stay valid after their worker has gone.
class TFontInfo : public TRefObject {
public:
  WideString Name;
  bool Outline = false;     // TrueType, or a device font of variable pitch
  bool FixedPitch = false;
};

// Lists the installed font families (sorted, without duplicates, letter
// case ignored), publishes the list, then lays a sample text out in every
// font at a 22-pixel height so that the font replacer has their items and
// coverage before they are needed. Stops between fonts when told.
class TWinFontThread : public TFontThread {
public:
  // Called on the worker after each font's sample was laid out; set it
  // before StartJob.
  std::function<void(const WideString& name)> OnFontWarmed;

  // False when a job already ran or the thread cannot start.
  bool StartJob();

  // The installed family names: DirectWrite's when it is usable, else GDI's
  // enumeration (with a TFontInfo attached to each name). Stop, when given,
  // ends the enumeration early; the list is then incomplete.
  static TRef<TStringList> ListFontNames(const std::function<bool()>& stop = nullptr);
  // The size (points) at which the font is 22 pixels high.
  static float SampleSize(const WideString& name);

private:
  static void Run(void* arg);
  bool started_ = false;
};

// The factory of CreateFontThreadHook: a started TWinFontThread.
TRef<TFontThread> CreateWinFontThread();

void InitWinTextElement();
void FiniWinTextElement();

}  // namespace zm
