#pragma once
// Which characters a font covers: pages of 256 characters as bit sets
// (TBitSet, and TFullBitSet for a page that is covered whole, shared by all),
// TFontUnicodeChars (the pages of one font and style), and the two sources
// that fill them: DirectWrite (full code points, when it is usable) and GDI's
// GetFontUnicodeRanges (the BMP only), through the hook FontRangesProc.
#include <cstdint>
#include <vector>

#include "Platform/Gdi/PlatGdi.h"
#include "ZmLib/Graphics/zmColorTypes.h"
#include "ZmLib/Win32/SysObj2.h"

namespace zm {

constexpr char32_t kMaxCodePoint = 0x10FFFF;

// One page of 256 characters; a new page is empty.
class TBitSet : public TRefObject {
public:
  // The bit of the code's low byte.
  virtual bool Contains(char32_t code) const;
  // Sets the bits of the characters first..last (low bytes, first <= last).
  void IncludeRange(std::uint8_t first, std::uint8_t last);
  virtual bool IsFull() const { return false; }

private:
  std::uint32_t bits_[8] = {};
};

// A page in which every character is present; never modified.
class TFullBitSet : public TBitSet {
public:
  bool Contains(char32_t) const override { return true; }
  bool IsFull() const override { return true; }
};

// The one shared full page (made at start-up, or on first use).
TBitSet* SharedFullBitSet();

// The covered code points of one font and style. Not locked: its owner is.
class TFontUnicodeChars : public TRefObject {
public:
  void Dispose() override;  // releases every page
  // Adds first..last (held within 0..0x10FFFF; nothing when first > last).
  void AddRange(char32_t first, char32_t last);
  bool Contains(char32_t code) const;
  std::int32_t Capacity() const { return static_cast<std::int32_t>(pages_.size()); }
  // The page of index (code shr 8); nullptr when none of it is covered.
  TBitSet* Page(std::int32_t index) const;

private:
  std::vector<TBitSet*> pages_ = std::vector<TBitSet*>(4, nullptr);  // each holds a reference
};

// Whether the DirectWrite coverage can be used: tested once and cached. A
// call made while the test runs (from inside it) answers false.
bool IsDirectWriteUsable();
// Tests: forget the cached answer (and the shared factory).
void ResetDirectWriteUsable();

// The DirectWrite coverage of a font description: true when the ranges were
// read into Set; false (Set unchanged) when any step fails.
bool DWGetFontCoverage(const TFontParams& font, TFontUnicodeChars* set);

// GDI coverage of the font selected into a DC: the BMP ranges of
// GetFontUnicodeRanges. True when the size query succeeded.
using TFontRangesProc = bool (*)(plat::HDC dc, TFontUnicodeChars* set);
// Filled at start-up; nullptr when the system lacks the function.
extern TFontRangesProc FontRangesProc;
// The same for a font description (its font selected into a screen DC);
// false when FontRangesProc is missing or fails.
bool GdiGetFontCoverage(const TFontParams& font, TFontUnicodeChars* set);

void InitWinDWTextUtils();
void FiniWinDWTextUtils();

}  // namespace zm
