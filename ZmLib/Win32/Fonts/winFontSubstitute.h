#pragma once
// Font substitution: TFontReplacer divides a text into runs and gives each
// run the first font, in a fixed fallback order, that has glyphs for all of
// its characters; each run goes to a callback with the font to draw it in,
// sized so that the substitute's ascent does not exceed the requested font's.
// Coverage comes from DirectWrite when it is usable, else from GDI.
//
// Positions are 1-based character indexes into the text. Every operation runs
// under the replacer's lock and the callback is called holding it: a callback
// that divides text itself is refused (nothing happens) rather than deadlocked.
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <thread>
#include <vector>

#include "ZmLib/Graphics/zmColorTypes.h"
#include "ZmLib/Win32/Fonts/winDWTextUtils.h"
#include "ZmLib/Win32/SysLocks.h"
#include "ZmLib/zmLists.h"

namespace zm {

// One run: Start and Count within Text; Found is true when Font covers the
// run, false when no font does (Font is then the requested one). With Found
// true the callback may set Handled to false to refuse the run, which is then
// offered to the next fallback font.
using TFontRunEvent = std::function<void(const WideString& text, std::int32_t start, bool& handled, bool found,
                                         const TFontParams& font, std::int32_t count)>;
// Fills the coverage of a font description; false when nothing could be read.
using TCoverageProc = bool (*)(const TFontParams& font, TFontUnicodeChars* set);

// Style index: bold + 2 x italic.
constexpr std::int32_t FontStyleIndex(std::uint8_t style) {
  return (style & fsBold ? 1 : 0) + (style & fsItalic ? 2 : 0);
}

// One known font.
class TFontItem : public TRefObject {
public:
  TFontItem(const TFontParams& params, bool variablePitch);
  void Dispose() override;  // releases the coverage sets

  const TFontParams& Params() const { return params_; }
  bool VariablePitch() const { return variablePitch_; }
  bool Initialised() const { return initialised_; }
  char16_t DefaultChar() const { return defaultChar_; }
  std::uint16_t MissingGlyph() const { return missingGlyph_; }
  // The coverage of a style index (0..3), nullptr until built.
  TFontUnicodeChars* Coverage(std::int32_t style) const;

private:
  friend class TFontReplacer;
  TFontParams params_;
  bool variablePitch_ = false;
  TFontUnicodeChars* coverage_[4] = {};  // each holds a reference
  char16_t defaultChar_ = 0;
  std::uint16_t missingGlyph_ = 0;
  // The last size match: the requested font's ascent, descent, height and style.
  bool matched_ = false;
  std::int32_t matchAscent_ = 0, matchDescent_ = 0, matchHeight_ = 0;
  std::uint8_t matchStyle_ = 0;
  double matchedSize_ = 0;
  bool initialised_ = false;
};

class TFontReplacer : public TRefObject {
public:
  // Reads the screen's density and picks the coverage source.
  TFontReplacer();
  void Dispose() override;

  // The fallback order: each name not known yet becomes an item (size 10, no
  // style) appended to the list; every item is initialised.
  void AddFallbackFonts(std::span<const WideString> names);
  std::int32_t FallbackCount();
  TFontItem* FallbackItem(std::int32_t index);  // nullptr out of range

  // The item of a font (found by its name without regard to case, or made);
  // nullptr when GDI cannot measure the font.
  TFontItem* GetFontItem(const TFontParams& font);
  // How many characters from Start (at most Count) the item covers in a style.
  std::int32_t CoveredPrefix(TFontItem* item, std::int32_t style, const WideString& text, std::int32_t start,
                             std::int32_t count);
  // The size of Item's font whose ascent best matches Font's (points).
  double MatchedSize(TFontItem* item, const TFontParams& font);

  // Divides Count characters of Text from Start into runs, calling Callback
  // (or OnFontRun when Callback is empty) for each. Nothing happens for an
  // empty text, a count below 1 or a start past the end; the range is held
  // within the text.
  void ReplaceFonts(const WideString& text, std::int32_t start, const TFontRunEvent& callback,
                    const TFontParams& font, std::int32_t count);

  bool UsesDirectWrite() const { return directWrite_; }
  std::int32_t PixelsPerInch() const { return dpi_; }
  TFontRunEvent OnFontRun;

private:
  class TLocked;
  std::int32_t CoveredPrefixHeld(TFontItem* item, std::int32_t style, const WideString& text, std::int32_t start,
                                 std::int32_t count);
  double MatchedSizeHeld(TFontItem* item, const TFontParams& font);
  TFontItem* FindItem(const WideString& key);
  TFontItem* FindOrMakeItem(const TFontParams& font, bool appendToFallback);
  void InitItem(TFontItem* item);
  TFontUnicodeChars* CoverageOf(TFontItem* item, std::int32_t style);
  TFontItem* NextFallback(TFontItem* item, bool topLevel, TFontItem* requested);
  bool EmitRun(const WideString& text, std::int32_t start, std::int32_t count, TFontItem* item,
               const TFontParams& font);
  void SplitByCoverage(const WideString& text, std::int32_t from, bool topLevel, const TFontParams& font,
                       TFontItem* item, TFontItem* requested, std::int32_t to, std::int32_t depth);
  std::int32_t AscentAt(const TFontParams& font, std::int32_t height);

  TRef<THashList> items_;      // lower-cased name -> TFontItem (made on first use)
  TRef<TList> allItems_;       // every item, one reference each
  TRef<TList> fallback_;       // in fallback order
  TRef<TSafeCriticalSection> lock_;
  std::atomic<std::thread::id> owner_{};
  TCoverageProc coverageProc_ = nullptr;
  bool directWrite_ = false;
  std::int32_t dpi_ = 96;
};

// The fallback names for a version class (that of GetWindowsVersion) and a
// primary language: the Windows 8 list with the locale's preferred names
// first, or the older lists.
std::vector<WideString> FallbackFontNames(std::uint8_t versionClass, std::uint32_t primaryLanguage);

// The replacer all text elements share; nullptr outside the unit's life.
TFontReplacer* FontReplacer();

void InitWinFontSubstitute();
void FiniWinFontSubstitute();

}  // namespace zm
