#include "ZmLib/Win32/Fonts/winDWTextUtils.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>

#include "Platform/Gdi/PlatCoverage.h"
#include "ZmLib/Win32/Fonts/winFontUtils.h"

namespace zm {

namespace dw = plat::dwrite;

// ---- Pages -------------------------------------------------------------------------------

bool TBitSet::Contains(char32_t code) const {
  const std::uint32_t low = code & 0xFF;
  return (bits_[low >> 5] >> (low & 31)) & 1;
}

void TBitSet::IncludeRange(std::uint8_t first, std::uint8_t last) {
  for (std::uint32_t c = first; c <= last; ++c) bits_[c >> 5] |= 1u << (c & 31);
}

TBitSet* SharedFullBitSet() {
  static TRef<TBitSet> full = MakeRef<TFullBitSet>();
  return full.get();
}

void TFontUnicodeChars::Dispose() {
  for (TBitSet*& page : pages_)
    if (page) {
      page->Free();
      page = nullptr;
    }
  pages_.clear();
  TRefObject::Dispose();
}

void TFontUnicodeChars::AddRange(char32_t first, char32_t last) {
  last = std::min(last, kMaxCodePoint);
  if (first > last) return;
  const std::size_t lastPage = last >> 8;
  if (lastPage >= pages_.size()) {
    std::size_t capacity = std::max<std::size_t>(pages_.size(), 4);
    while (capacity <= lastPage) capacity *= 2;
    pages_.resize(capacity, nullptr);
  }
  for (std::size_t page = first >> 8; page <= lastPage; ++page) {
    const char32_t lo = std::max<char32_t>(first, char32_t(page << 8));
    const char32_t hi = std::min<char32_t>(last, char32_t(page << 8) | 0xFF);
    TBitSet*& p = pages_[page];
    if (p && p->IsFull()) continue;
    if (!p) {
      if ((lo & 0xFF) == 0 && (hi & 0xFF) == 0xFF) {
        p = SharedFullBitSet();
        p->AddRef();
        continue;
      }
      p = MakeRef<TBitSet>().Detach();
    }
    p->IncludeRange(std::uint8_t(lo & 0xFF), std::uint8_t(hi & 0xFF));
  }
}

TBitSet* TFontUnicodeChars::Page(std::int32_t index) const {
  return index >= 0 && std::size_t(index) < pages_.size() ? pages_[std::size_t(index)] : nullptr;
}

bool TFontUnicodeChars::Contains(char32_t code) const {
  const TBitSet* page = Page(static_cast<std::int32_t>(std::min<char32_t>(code, kMaxCodePoint + 1) >> 8));
  return page && page->Contains(code);
}

// ---- DirectWrite -------------------------------------------------------------------------

namespace {

enum class TUsable { Unknown, Testing, Yes, No };

std::recursive_mutex gDWLock;
TUsable gUsable = TUsable::Unknown;
std::shared_ptr<dw::Factory> gFactory;

// The shared factory; nullptr when DirectWrite cannot start.
std::shared_ptr<dw::Factory> SharedFactory() {
  std::lock_guard<std::recursive_mutex> lock(gDWLock);
  if (!gFactory) {
    std::shared_ptr<dw::Factory> f;
    if (dw::SUCCEEDED(dw::Factory::Create(&f)) && f) gFactory = std::move(f);
  }
  return gFactory;
}

}  // namespace

bool IsDirectWriteUsable() {
  std::lock_guard<std::recursive_mutex> lock(gDWLock);
  if (gUsable == TUsable::Unknown) {
    gUsable = TUsable::Testing;
    bool ok = false;
    if (std::shared_ptr<dw::Factory> f = SharedFactory()) {
      // The first font of the first family as a face; the stand-in's faces
      // are all of the newer interface, so the face itself is the answer.
      std::shared_ptr<dw::FontFace> face;
      ok = dw::SUCCEEDED(f->CreateFirstFontFace(&face)) && face;
    }
    gUsable = ok ? TUsable::Yes : TUsable::No;
  }
  return gUsable == TUsable::Yes;
}

void ResetDirectWriteUsable() {
  std::lock_guard<std::recursive_mutex> lock(gDWLock);
  gUsable = TUsable::Unknown;
  gFactory.reset();
}

bool DWGetFontCoverage(const TFontParams& font, TFontUnicodeChars* set) {
  if (!set) return false;
  std::shared_ptr<dw::Factory> factory = SharedFactory();
  if (!factory) return false;
  TScreenFontDc dc(font);
  if (!dc.Dc()) return false;
  std::shared_ptr<dw::FontFace> face;
  if (!dw::SUCCEEDED(factory->CreateFontFaceFromHdc(dc.Dc(), &face)) || !face) return false;
  std::uint32_t count = 0;
  // The count query has to fail for lack of room.
  if (face->GetUnicodeRanges(0, nullptr, &count) != dw::E_NOT_SUFFICIENT_BUFFER) return false;
  std::vector<dw::DWRITE_UNICODE_RANGE> ranges(count);
  std::uint32_t actual = 0;
  if (!dw::SUCCEEDED(face->GetUnicodeRanges(count, ranges.data(), &actual))) return false;
  ranges.resize(std::min(actual, count));
  for (const dw::DWRITE_UNICODE_RANGE& r : ranges) set->AddRange(r.first, r.last);
  return true;
}

// ---- GDI ---------------------------------------------------------------------------------

namespace {

bool GdiFontRanges(plat::HDC dc, TFontUnicodeChars* set) {
  if (!set) return false;
  const plat::DWORD size = plat::GetFontUnicodeRanges(dc, nullptr);
  if (size < offsetof(plat::GLYPHSET, ranges)) return false;
  std::vector<std::uint8_t> buffer(std::max<std::size_t>(size, sizeof(plat::GLYPHSET)));
  auto* glyphs = reinterpret_cast<plat::GLYPHSET*>(buffer.data());
  if (plat::GetFontUnicodeRanges(dc, glyphs) == 0) return true;  // the size was had; nothing more
  const std::size_t room = (size - offsetof(plat::GLYPHSET, ranges)) / sizeof(plat::WCRANGE);
  const std::size_t n = std::min<std::size_t>(glyphs->cRanges, room);
  for (std::size_t i = 0; i < n; ++i) {
    plat::WCRANGE r;  // past the declared single entry: copied out, not indexed
    std::memcpy(&r, buffer.data() + offsetof(plat::GLYPHSET, ranges) + i * sizeof r, sizeof r);
    if (r.cGlyphs) set->AddRange(r.wcLow, char32_t(r.wcLow) + r.cGlyphs - 1);
  }
  return true;
}

}  // namespace

TFontRangesProc FontRangesProc = nullptr;

bool GdiGetFontCoverage(const TFontParams& font, TFontUnicodeChars* set) {
  if (!FontRangesProc || !set) return false;
  TScreenFontDc dc(font);
  return dc.Dc() && FontRangesProc(dc.Dc(), set);
}

// ---- Module ------------------------------------------------------------------------------

void InitWinDWTextUtils() {
  SharedFullBitSet();
  FontRangesProc = &GdiFontRanges;
}

void FiniWinDWTextUtils() {
  FontRangesProc = nullptr;
  ResetDirectWriteUsable();
}

}  // namespace zm
