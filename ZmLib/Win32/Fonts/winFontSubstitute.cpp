#include "ZmLib/Win32/Fonts/winFontSubstitute.h"

#include <algorithm>
#include <cmath>

#include "Platform/Gdi/PlatShape.h"
#include "ZmLib/Text/zmWideStringUtils.h"
#include "ZmLib/Win32/Fonts/winFontUtils.h"
#include "ZmLib/Win32/winSysUtils.h"

namespace zm {

namespace {

constexpr std::int32_t kHashBuckets = 251;
// Fallback recursion ends with the list; this only guards against a list
// that somehow leads back to itself.
constexpr std::int32_t kMaxSplitDepth = 64;

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

TFontParams WithStyleIndex(TFontParams p, std::int32_t style) {
  p.Style = static_cast<std::uint8_t>((style & 1 ? fsBold : 0) | (style & 2 ? fsItalic : 0));
  return p;
}

}  // namespace

// ---- TFontItem ---------------------------------------------------------------------------

TFontItem::TFontItem(const TFontParams& params, bool variablePitch) : params_(params), variablePitch_(variablePitch) {}

void TFontItem::Dispose() {
  for (TFontUnicodeChars*& set : coverage_)
    if (set) {
      set->Free();
      set = nullptr;
    }
  TRefObject::Dispose();
}

TFontUnicodeChars* TFontItem::Coverage(std::int32_t style) const {
  return style >= 0 && style < 4 ? coverage_[style] : nullptr;
}

// ---- TFontReplacer -----------------------------------------------------------------------

// Holds the replacer's lock for a scope and marks the owner, so that a
// callback dividing text on the same thread is seen and refused.
class TFontReplacer::TLocked {
public:
  explicit TLocked(TFontReplacer* r) : r_(r) {
    if (r_->owner_.load() == std::this_thread::get_id()) {
      r_ = nullptr;  // already held by this thread: refuse
      return;
    }
    r_->lock_->Enter();
    r_->owner_.store(std::this_thread::get_id());
  }
  ~TLocked() {
    if (!r_) return;
    r_->owner_.store(std::thread::id{});
    r_->lock_->Leave();
  }
  bool Held() const { return r_ != nullptr; }
  TLocked(const TLocked&) = delete;
  TLocked& operator=(const TLocked&) = delete;

private:
  TFontReplacer* r_;
};

TFontReplacer::TFontReplacer()
    : allItems_(MakeRef<TList>()), fallback_(MakeRef<TList>()), lock_(MakeRef<TSafeCriticalSection>()) {
  dpi_ = ScreenPixelsPerInchY();
  directWrite_ = IsDirectWriteUsable();
  coverageProc_ = directWrite_ ? &DWGetFontCoverage : &GdiGetFontCoverage;
}

void TFontReplacer::Dispose() {
  if (items_) items_->Clear(false);
  items_ = nullptr;
  if (fallback_) fallback_->Clear();
  if (allItems_) allItems_->FreeAndClear();
  TRefObject::Dispose();
}

TFontItem* TFontReplacer::FindItem(const WideString& key) {
  if (!items_) items_ = MakeRef<THashList>(kHashBuckets);
  TKeyItem* entry = nullptr;
  if (!items_->Find(key, entry) || !entry) return nullptr;
  if (auto* item = dynamic_cast<TFontItem*>(entry->First())) return item;
  items_->Delete(key);  // a stale entry of another kind
  return nullptr;
}

TFontItem* TFontReplacer::FindOrMakeItem(const TFontParams& font, bool appendToFallback) {
  const WideString key = WideLowerCaseCopy(font.Name);
  if (TFontItem* item = FindItem(key)) return item;
  if (font.Name.size() >= 32) return nullptr;  // no GDI font can carry the name
  plat::TEXTMETRICW tm;
  {
    TScreenFontDc dc(font);
    if (!dc.Dc() || !plat::GetTextMetricsW(dc.Dc(), &tm)) return nullptr;
  }
  TRef<TFontItem> item = MakeRef<TFontItem>(font, (tm.tmPitchAndFamily & plat::TMPF_FIXED_PITCH) != 0);
  allItems_->Add(item.get());
  items_->GetItem(key)->Add(item.get());
  if (appendToFallback) fallback_->Add(item.get());
  return item.Detach();  // allItems_ keeps the reference
}

TFontUnicodeChars* TFontReplacer::CoverageOf(TFontItem* item, std::int32_t style) {
  TFontUnicodeChars*& set = item->coverage_[style & 3];
  if (!set) {
    set = MakeRef<TFontUnicodeChars>().Detach();
    // A source that fails leaves the set empty: the font covers nothing.
    if (coverageProc_) coverageProc_(WithStyleIndex(item->params_, style & 3), set);
  }
  return set;
}

void TFontReplacer::InitItem(TFontItem* item) {
  if (item->initialised_) return;
  TScreenFontDc dc(item->params_);
  plat::TEXTMETRICW tm;
  if (dc.Dc() && plat::GetTextMetricsW(dc.Dc(), &tm)) {
    item->defaultChar_ = tm.tmDefaultChar;
    char16_t glyphs[17] = {};
    plat::GCP_RESULTSW res;
    res.lpGlyphs = glyphs;
    res.nGlyphs = 17;
    if (plat::GetCharacterPlacementW(dc.Dc(), &item->defaultChar_, 1, 0, &res, plat::GCP_GLYPHSHAPE) && res.nGlyphs)
      item->missingGlyph_ = glyphs[0];
  }
  if (!directWrite_)
    for (std::int32_t style = 0; style < 4; ++style) CoverageOf(item, style);
  item->initialised_ = true;
}

std::int32_t TFontReplacer::CoveredPrefix(TFontItem* item, std::int32_t style, const WideString& text,
                                          std::int32_t start, std::int32_t count) {
  TLocked locked(this);
  return locked.Held() ? CoveredPrefixHeld(item, style, text, start, count) : 0;
}

std::int32_t TFontReplacer::CoveredPrefixHeld(TFontItem* item, std::int32_t style, const WideString& text,
                                              std::int32_t start, std::int32_t count) {
  if (!item || start < 1 || count < 1 || std::size_t(start) > text.size()) return 0;
  count = static_cast<std::int32_t>(std::min<std::size_t>(std::size_t(count), text.size() - std::size_t(start) + 1));
  const TFontUnicodeChars* set = CoverageOf(item, style);
  const char16_t* s = text.data() + (start - 1);
  std::int32_t k = 0;
  while (k < count) {
    char32_t code = s[k];
    std::int32_t n = 1;
    if (IsHigh(s[k])) {
      if (k + 1 >= count || !IsLow(s[k + 1])) break;  // a high surrogate without its partner
      code = 0x10000 + ((char32_t(s[k]) - 0xD800) << 10) + (char32_t(s[k + 1]) - 0xDC00);
      n = 2;
    }
    if (!set->Contains(code)) break;
    k += n;
  }
  if (k == count) return k;
  // Shaping may still find glyphs (composed forms) for what the set lacks.
  TScreenFontDc dc(WithStyleIndex(item->params_, style & 3));
  if (!dc.Dc()) return k;
  const std::size_t room = std::size_t(count) * 3 / 2 + 16;
  std::vector<plat::UINT> order(std::size_t(count), 0);
  std::vector<char16_t> glyphs(room, 0);
  plat::GCP_RESULTSW res;
  res.lpOrder = order.data();
  res.lpGlyphs = glyphs.data();
  res.nGlyphs = static_cast<plat::UINT>(room);
  const plat::DWORD flags = plat::GCP_REORDER | plat::GCP_GLYPHSHAPE | plat::GCP_DIACRITIC | plat::GCP_ERROR;
  if (!plat::GetCharacterPlacementW(dc.Dc(), s, count, 0, &res, flags)) return k;
  const plat::UINT made = std::min<plat::UINT>(res.nGlyphs, plat::UINT(room));
  if (plat::UINT(count - k) <= made) return k;
  for (std::int32_t i = 0; i < count; ++i) {
    const plat::UINT g = order[std::size_t(i)];
    if (g < made && glyphs[g] == item->missingGlyph_) return i;
  }
  return count;
}

std::int32_t TFontReplacer::AscentAt(const TFontParams& font, std::int32_t height) {
  plat::LOGFONTW log = MakeGdiLogFont(font, dpi_);
  log.lfHeight = height;
  TScreenFontDc dc(log);
  plat::TEXTMETRICW tm;
  if (!dc.Dc() || !plat::GetTextMetricsW(dc.Dc(), &tm)) return 0;
  return tm.tmAscent;
}

double TFontReplacer::MatchedSize(TFontItem* item, const TFontParams& font) {
  TLocked locked(this);
  return locked.Held() ? MatchedSizeHeld(item, font) : font.Size;
}

double TFontReplacer::MatchedSizeHeld(TFontItem* item, const TFontParams& font) {
  if (!item) return font.Size;
  const TTextMetricsRec want = [&] {
    TScreenFontDc dc(font);
    plat::TEXTMETRICW tm;
    TTextMetricsRec r;
    if (dc.Dc() && plat::GetTextMetricsW(dc.Dc(), &tm)) {
      r.Ascent = tm.tmAscent;
      r.Descent = tm.tmDescent;
      r.Height = tm.tmHeight;
    }
    return r;
  }();
  if (item->matched_ && item->matchAscent_ == want.Ascent && item->matchDescent_ == want.Descent &&
      item->matchHeight_ == want.Height && item->matchStyle_ == font.Style)
    return item->matchedSize_;
  TFontParams sub = font;
  sub.Name = item->params_.Name;
  const std::int32_t target = want.Ascent;
  double start = (std::isfinite(font.Size) ? double(font.Size) : 0.0) + 10.0;
  // Sizes far past the largest em the font layer makes (2048 px) are held there.
  start = std::clamp(start * dpi_ / 72.0, -4096.0, 4096.0);
  std::int32_t h = -static_cast<std::int32_t>(std::lround(start));
  const std::int32_t first = h;
  std::int32_t a = AscentAt(sub, h);
  // Ascents grow with the height: jump close to the answer, then walk back to
  // the first fitting height from the start, as the walk would have found it.
  if (a > target && h < 0 && a > 0) {
    const auto guess = static_cast<std::int32_t>(double(h) * target / a);
    if (guess > h) {
      h = guess;
      a = AscentAt(sub, h);
      while (a <= target && h - 1 >= first) {
        const std::int32_t b = AscentAt(sub, h - 1);
        if (b > target) break;
        --h;
        a = b;
      }
    }
  }
  while (a > target && h < 1) a = AscentAt(sub, ++h);
  while (h > -256 && AscentAt(sub, h - 1) <= target) --h;
  // No height fits (a requested font without ascent): keep the requested size.
  const double size = h < 0 ? -double(h) * 72.0 / dpi_ : double(font.Size);
  item->matched_ = true;
  item->matchAscent_ = want.Ascent;
  item->matchDescent_ = want.Descent;
  item->matchHeight_ = want.Height;
  item->matchStyle_ = font.Style;
  item->matchedSize_ = size;
  return size;
}

bool TFontReplacer::EmitRun(const WideString& text, std::int32_t start, std::int32_t count, TFontItem* item,
                            const TFontParams& font) {
  if (!OnFontRun) return true;
  TFontParams copy = font;
  copy.Name = item->params_.Name;
  if (!SameFontFace(copy, font)) copy.Size = static_cast<float>(MatchedSizeHeld(item, font));
  bool handled = true;
  OnFontRun(text, start, handled, true, copy, count);
  return handled;
}

TFontItem* TFontReplacer::NextFallback(TFontItem* item, bool topLevel, TFontItem* requested) {
  const std::int32_t n = fallback_->Count();
  auto search = [&](std::int32_t from, bool pitch) -> TFontItem* {
    for (std::int32_t i = std::max(from, 0); i < n; ++i) {
      auto* f = static_cast<TFontItem*>(fallback_->Get(i));
      if (f->variablePitch_ == pitch) return f;
    }
    return nullptr;
  };
  const std::int32_t from = topLevel ? 0 : fallback_->IndexOf(item) + 1;
  if (TFontItem* f = search(from, item->variablePitch_)) return f;
  if (requested && requested->variablePitch_ == item->variablePitch_)
    return search(fallback_->IndexOf(requested) + 1, !item->variablePitch_);  // -1 + 1: from the start
  return nullptr;
}

void TFontReplacer::SplitByCoverage(const WideString& text, std::int32_t from, bool topLevel, const TFontParams& font,
                                    TFontItem* item, TFontItem* requested, std::int32_t to, std::int32_t depth) {
  InitItem(item);
  const std::int32_t style = FontStyleIndex(font.Style);
  auto cluster = [&](std::int32_t at) { return std::min(FontClusterLength(text, at), to - at + 1); };
  auto covered = [&](std::int32_t at, std::int32_t len) {
    return CoveredPrefixHeld(item, style, text, at, len) == len;
  };
  while (from <= to) {
    std::int32_t n = 0;
    for (std::int32_t len; from + n <= to && (len = cluster(from + n)) > 0 && covered(from + n, len);) n += len;
    bool handled = n == 0 || EmitRun(text, from, n, item, font);
    std::int32_t passFrom = from, passCount = n;
    if (handled) {
      from += n;
      passFrom = from;
      passCount = 0;
      for (std::int32_t len; from + passCount <= to && (len = cluster(from + passCount)) > 0;) {
        if (covered(from + passCount, len)) break;
        passCount += len;
      }
    }
    if (passCount > 0) {
      TFontItem* next = depth < kMaxSplitDepth ? NextFallback(item, topLevel, requested) : nullptr;
      if (next) {
        SplitByCoverage(text, passFrom, false, font, next, requested, passFrom + passCount - 1, depth + 1);
      } else if (OnFontRun) {
        bool ignored = true;
        OnFontRun(text, passFrom, ignored, false, font, passCount);
      }
    }
    if (passFrom + passCount <= from) break;  // no progress: never loop
    from = passFrom + passCount;
  }
}

void TFontReplacer::ReplaceFonts(const WideString& text, std::int32_t start, const TFontRunEvent& callback,
                                 const TFontParams& font, std::int32_t count) {
  if (text.empty() || count == 0) return;
  if (start < 1) start = 1;
  if (std::size_t(start) > text.size()) return;
  const std::size_t left = text.size() - std::size_t(start) + 1;
  if (count < 0 || std::size_t(count) > left)
    count = static_cast<std::int32_t>(std::min<std::size_t>(left, 0x7FFFFFFF));
  TLocked locked(this);
  if (!locked.Held()) return;
  struct TRestore {
    TFontRunEvent& slot;
    TFontRunEvent saved;
    ~TRestore() { slot = std::move(saved); }
  } restore{OnFontRun, OnFontRun};
  if (callback) OnFontRun = callback;
  TFontItem* item = FindOrMakeItem(font, false);
  if (!item) {
    // A font GDI cannot measure: nothing covers the text.
    if (OnFontRun) {
      bool ignored = true;
      OnFontRun(text, start, ignored, false, font, count);
    }
    return;
  }
  InitItem(item);
  // Direction runs: cut where the visual order jumps.
  std::vector<plat::UINT> order(std::size_t(count), 0);
  bool ordered = false;
  {
    TScreenFontDc dc(font);
    plat::GCP_RESULTSW res;
    res.lpOrder = order.data();
    ordered = dc.Dc() && plat::GetCharacterPlacementW(dc.Dc(), text.data() + (start - 1), count, 0, &res,
                                                      plat::GCP_REORDER) != 0;
  }
  std::int32_t runStart = start;
  for (std::int32_t i = 1; i <= count; ++i) {
    bool cut = i == count;
    if (!cut && ordered) {
      const std::int64_t d = std::int64_t(order[std::size_t(i)]) - std::int64_t(order[std::size_t(i - 1)]);
      cut = d > 1 || d < -1;
    }
    if (cut) {
      SplitByCoverage(text, runStart, true, font, item, item, start + i - 1, 0);
      runStart = start + i;
    }
  }
}

void TFontReplacer::AddFallbackFonts(std::span<const WideString> names) {
  TLocked locked(this);
  if (!locked.Held()) return;
  for (const WideString& name : names) {
    TFontParams p;
    p.Name = name;
    p.Size = 10;
    if (TFontItem* item = FindOrMakeItem(p, true)) InitItem(item);
  }
}

std::int32_t TFontReplacer::FallbackCount() {
  TLocked locked(this);
  return locked.Held() ? fallback_->Count() : 0;
}

TFontItem* TFontReplacer::FallbackItem(std::int32_t index) {
  TLocked locked(this);
  return locked.Held() ? static_cast<TFontItem*>(fallback_->Get(index)) : nullptr;
}

TFontItem* TFontReplacer::GetFontItem(const TFontParams& font) {
  TLocked locked(this);
  if (!locked.Held()) return nullptr;
  TFontItem* item = FindOrMakeItem(font, false);
  if (item) InitItem(item);
  return item;
}

// ---- Fallback names and the global replacer ------------------------------------------------

std::vector<WideString> FallbackFontNames(std::uint8_t versionClass, std::uint32_t primaryLanguage) {
  constexpr std::uint32_t kLangChinese = 0x04, kLangJapanese = 0x11, kLangKorean = 0x12;
  std::vector<WideString> names;
  if (versionClass >= 12) {  // Windows 8 and later
    names = {u"Arial", u"Segoe UI", u"Verdana", u"Georgia", u"Ebrima", u"Gadugi"};
    std::vector<WideString> rest = {u"EmojiOne Color",     u"Leelawadee UI",    u"Malgun Gothic",
                                    u"Microsoft JhengHei UI", u"Microsoft YaHei UI", u"Mongolian Baiti",
                                    u"Microsoft PhagsPa",  u"Nirmala UI",       u"Yu Gothic UI"};
    std::vector<WideString> preferred;
    if (primaryLanguage == kLangChinese) preferred = {u"Microsoft JhengHei UI", u"Microsoft YaHei UI"};
    else if (primaryLanguage == kLangJapanese) preferred = {u"Yu Gothic UI"};
    else if (primaryLanguage == kLangKorean) preferred = {u"Malgun Gothic"};
    names.insert(names.end(), preferred.begin(), preferred.end());
    for (const WideString& n : rest)
      if (std::find(preferred.begin(), preferred.end(), n) == preferred.end()) names.push_back(n);
    return names;
  }
  names = {u"Kartika", u"Vrinda", u"Mv Boli",           u"Gautami", u"Tunga",  u"Shruti",
           u"Raavi",   u"Sylfaen", u"Estrangelo Edessa", u"Arial",   u"Latha",  u"Mangal",
           u"Microsoft Sans Serif", u"Ms Gothic"};
  if (versionClass == 11)  // Windows 7
    names.insert(names.end(), {u"Aparajita", u"Kokila", u"Khmer UI", u"Lao UI", u"Meiryo UI", u"Microsoft PhagsPa",
                               u"Microsoft Tai Le", u"Sakkal Majalla", u"Malgun Gothic"});
  else if (versionClass == 10)  // Vista
    names.insert(names.end(), {u"Batang", u"\tDFKai-SB", u"FangSong", u"Gulim", u"Malgun Gothic", u"Meiryo",
                               u"Browallia New", u"Andalus", u"Cordia New"});
  return names;
}

namespace {
TFontReplacer* gReplacer = nullptr;
}  // namespace

TFontReplacer* FontReplacer() { return gReplacer; }

void InitWinFontSubstitute() {
  if (gReplacer) return;
  SharedFullBitSet();
  TRef<TFontReplacer> r = MakeRef<TFontReplacer>();
  TSysLocale locale;
  GetSysLocale(locale);
  const std::vector<WideString> names = FallbackFontNames(GetWindowsVersion(), locale.PriLangID & 0x3FF);
  r->AddFallbackFonts(names);
  gReplacer = r.Detach();
}

void FiniWinFontSubstitute() { FreeAndNil(gReplacer); }

}  // namespace zm
