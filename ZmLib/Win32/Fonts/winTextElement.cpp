#include "ZmLib/Win32/Fonts/winTextElement.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <set>

#include "Platform/Gdi/PlatCoverage.h"
#include "ZmLib/Text/zmWideStringUtils.h"
#include "ZmLib/VectorGraphics/zmTextKeys.h"
#include "ZmLib/Win32/Fonts/winDWTextUtils.h"
#include "ZmLib/Win32/Fonts/winFontSubstitute.h"
#include "ZmLib/Win32/Fonts/winFontUtils.h"
#include "ZmLib/Win32/winSysUtils.h"

namespace zm {

namespace {

// Font division of all elements goes through this lock; recursive so that a
// run callback that lays out another element finds the replacer refusing
// rather than a deadlock.
std::recursive_mutex& LayoutLock() {
  static std::recursive_mutex lock;
  return lock;
}

constexpr char16_t kDirectionChars[] = {0, 0x202A, 0x202B, 0x202D, 0x202E};

plat::HGDIOBJ AsObj(plat::HFONT f) { return reinterpret_cast<plat::HGDIOBJ>(f); }

std::int32_t Clamp32(std::int64_t v) {
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

bool RightToLeftClass(char c) { return c == plat::GCPCLASS_HEBREW || c == plat::GCPCLASS_LOCALNUMBER; }
// Blanks and tabs that a line's end sets to the line's own direction.
bool LineEndBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == 0x000C || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
         c == 0x205F || c == 0x3000;
}

bool LeftToRightClass(char c) { return c == plat::GCPCLASS_LATIN || c == plat::GCPCLASS_LATINNUMBER; }

TFontParams UsableFont(TFontParams font) {
  if (!(font.Size > 0)) font.Size = 8;  // also a NaN
  // GDI's face name holds 31 characters.
  if (font.Name.size() >= std::size_t(plat::LF_FACESIZE)) font.Name.resize(plat::LF_FACESIZE - 1);
  return font;
}

bool GdiCharABCWidths(plat::HDC dc, plat::ABC* abc, std::uint32_t first, std::uint32_t count,
                      const std::uint16_t* glyphs) {
  if (!abc || count == 0) return count == 0;
  return plat::GetCharABCWidthsI(dc, first, count, glyphs, abc) != 0;
}

}  // namespace

TCharABCWidthsProc CharABCWidthsProc = nullptr;

plat::DWORD GetPlacement(plat::HDC dc, const char16_t* text, std::int32_t count, TPlacement& p, std::uint32_t mask,
                         plat::DWORD flags) {
  p = TPlacement{};
  if (count < 0 || !text) count = 0;
  const std::size_t n = std::size_t(count);
  const std::size_t room = n * 3 / 2 + 16;
  plat::GCP_RESULTSW r;
  if (mask & gpOutString) {
    p.OutString.assign(n, 0);
    r.lpOutString = p.OutString.data();
  }
  if (mask & gpOrder) {
    p.Order.assign(n + 1, plat::UINT(-1));
    r.lpOrder = p.Order.data();
  }
  if (mask & gpDx) {
    p.Dx.assign(std::max(n + 1, room), -1);
    r.lpDx = p.Dx.data();
  }
  if (mask & gpCaret) {
    p.Caret.assign(n, 0);
    r.lpCaretPos = p.Caret.data();
  }
  if (mask & gpClasses) {
    p.Classes.assign(n, 0);
    r.lpClass = p.Classes.data();
  }
  if (mask & gpGlyphs) {
    p.Glyphs.assign(room, 0);
    r.lpGlyphs = p.Glyphs.data();
  }
  r.nGlyphs = plat::UINT((mask & gpGlyphs) ? room : n);
  const plat::DWORD result = n ? plat::GetCharacterPlacementW(dc, text, count, 0, &r, flags) : 0;
  if (result != 0) {
    p.Shaped = true;
    p.GlyphCount = static_cast<std::int32_t>(std::min<std::size_t>(r.nGlyphs, (mask & gpGlyphs) ? room : n));
    return result;
  }
  if (!(mask & (gpOrder | gpDx | gpCaret | gpGlyphs))) return 0;
  // One glyph per character, in logical order.
  p.GlyphCount = count;
  std::vector<std::uint16_t> glyphs(n, 0);
  if (n && plat::GetGlyphIndicesW(dc, text, count, glyphs.data(), plat::GGI_MARK_NONEXISTING_GLYPHS) ==
               plat::GDI_ERROR)
    std::fill(glyphs.begin(), glyphs.end(), 0);
  for (std::uint16_t& g : glyphs)
    if (g == 0xFFFF) g = 0;  // the missing glyph, as shaping gives it
  std::vector<plat::ABC> abc(n);
  const bool widths = n && CharABCWidthsProc && CharABCWidthsProc(dc, abc.data(), 0, plat::UINT(n), glyphs.data());
  std::int64_t pen = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const int dx = widths ? Clamp32(std::int64_t(abc[i].abcA) + abc[i].abcB + abc[i].abcC) : 0;
    if (!p.Order.empty()) p.Order[i] = plat::UINT(i);
    if (!p.Dx.empty()) p.Dx[i] = dx;
    if (!p.Glyphs.empty()) p.Glyphs[i] = glyphs[i];
    if (!p.Classes.empty()) p.Classes[i] = plat::GCPCLASS_LATIN;
    if (!p.Caret.empty()) p.Caret[i] = Clamp32(pen);
    pen += dx;
  }
  return 0;
}

// ---- DC with a font selected ----------------------------------------------------------------

class TWinTextElement::TDcScope {
public:
  TDcScope(TWinTextElement* element, const TFontParams& font) : element_(element) {
    provided_ = bool(element->getDc_);
    dc_ = provided_ ? element->getDc_() : nullptr;
    if (!dc_) {
      provided_ = false;
      dc_ = plat::GetDC(nullptr);
    }
    if (!dc_) return;
    font_ = CreateGdiFont(font);
    if (font_) old_ = plat::SelectObject(dc_, AsObj(font_));
  }
  ~TDcScope() {
    if (old_) plat::SelectObject(dc_, old_);
    if (font_) plat::DeleteObject(AsObj(font_));
    if (!dc_) return;
    if (provided_) {
      if (element_->releaseDc_) element_->releaseDc_(dc_);
    } else {
      plat::ReleaseDC(nullptr, dc_);
    }
  }
  TDcScope(const TDcScope&) = delete;
  TDcScope& operator=(const TDcScope&) = delete;
  plat::HDC Dc() const { return dc_; }

private:
  TWinTextElement* element_;
  plat::HDC dc_ = nullptr;
  plat::HFONT font_ = nullptr;
  plat::HGDIOBJ old_ = nullptr;
  bool provided_ = false;
};

// ---- TWinTextElement ------------------------------------------------------------------------

TWinTextElement::TWinTextElement(const TFontParams& font, std::uint8_t flag) : TTextElementEx(UsableFont(font), flag) {
  caret_.assign(1, 0);
  advance_.assign(1, -1);
}

void TWinTextElement::Dispose() {
  runs_.clear();
  glyphs_.clear();
  glyphDx_.clear();
  OnFontRun = nullptr;
  getDc_ = nullptr;
  releaseDc_ = nullptr;
  TTextElementEx::Dispose();
}

void TWinTextElement::SetDcProcs(TGetDcProc get, TReleaseDcProc release) {
  getDc_ = std::move(get);
  releaseDc_ = std::move(release);
}

void TWinTextElement::SetText(const WideString& text) {
  text_ = text;
  Layout();
}

void TWinTextElement::SetDirection(std::uint8_t code) {
  direction_ = code <= tdRightToLeftOverride ? code : tdNone;
  Layout();
}

void TWinTextElement::InsertText(std::int32_t pos, const WideString& s, std::int32_t from, std::int32_t count) {
  if (!s.empty() && count > 0) {
    const std::int64_t length = std::int64_t(text_.size());
    const std::int64_t at = std::clamp<std::int64_t>(pos, 1, length + 1) - 1;
    const std::int64_t first = std::clamp<std::int64_t>(from, 1, std::int64_t(s.size())) - 1;
    const std::int64_t n = std::min<std::int64_t>(count, std::int64_t(s.size()) - first);
    text_.insert(std::size_t(at), s, std::size_t(first), std::size_t(n));
  }
  Layout();
}

void TWinTextElement::Layout() {
  const std::size_t n = text_.size();
  SetTextLength(Clamp32(std::int64_t(n)));
  runs_.clear();
  runs_.reserve(4);
  glyphs_.clear();
  glyphDx_.clear();
  extent_ = TTextOverhangs{};
  caret_.assign(n + 1, 0);
  bounds_.assign(n, TCharBounds{});
  clusterGlyph_.assign(n, 0);
  advance_.assign(n + 1, 0);
  advance_[n] = -1;
  if (n == 0) return;

  auto onRun = [this, n](const WideString&, std::int32_t start, bool& handled, bool found, const TFontParams& font,
                         std::int32_t count) {
    handled = true;
    if (start < 1 || count < 1 || std::size_t(start) > n) return;
    count = static_cast<std::int32_t>(std::min<std::size_t>(std::size_t(count), n - std::size_t(start) + 1));
    if (found && OnFontRun) {
      bool accept = true;
      OnFontRun(this, font, start - 1, count, accept);
      if (!accept) {
        handled = false;
        return;
      }
    }
    TWinFontRun run;
    run.Font = font;
    if (!found) run.Font.Name = u"Wingdings";
    run.Start = start - 1;
    run.Count = count;
    run.Found = found;
    runs_.push_back(run);
  };
  {
    std::lock_guard<std::recursive_mutex> lock(LayoutLock());
    if (TFontReplacer* replacer = FontReplacer())
      replacer->ReplaceFonts(text_, 1, onRun, FontParams(), Clamp32(std::int64_t(n)));
  }
  // Runs must tile the text; anything else (no replacer, a refusing one)
  // lays out in the element's font.
  {
    std::size_t next = 0;
    bool tiled = true;
    for (const TWinFontRun& r : runs_) {
      tiled = tiled && std::size_t(r.Start) == next;
      next = std::size_t(r.Start) + std::size_t(r.Count);
    }
    if (!tiled || next != n) {
      runs_.clear();
      TWinFontRun run;
      run.Font = FontParams();
      run.Count = Clamp32(std::int64_t(n));
      run.Found = true;
      runs_.push_back(run);
    }
  }

  // Runs that the whole text sets right to left: shaped alone, a run would
  // resolve its neutral characters by itself (a full stop at its end would
  // go to the right), so it is shaped with that order imposed.
  std::vector<bool> reversed(runs_.size(), false);
  if (runs_.size() > 1) {
    // Cut the runs where the visual order jumps and put them in visual order.
    // The text is ordered in the direction it starts in, as its runs are shaped.
    TPlacement whole;
    {
      WideString s;
      if (direction_) s.push_back(kDirectionChars[direction_]);
      s += text_;
      TDcScope dc(this, FontParams());
      GetPlacement(dc.Dc(), s.data(), Clamp32(std::int64_t(s.size())), whole, gpOrder | gpClasses | gpGlyphs,
                   kLayoutPlacementFlags);
      if (direction_) {
        whole.Order.erase(whole.Order.begin());
        if (!whole.Classes.empty()) whole.Classes.erase(whole.Classes.begin());
      }
    }
    std::vector<TWinFontRun> cut;
    cut.reserve(runs_.size() * 2);
    // A right-to-left piece gives the blanks at its logical end pieces of
    // their own: shaped alone, blanks at the end of a line go to its right.
    const auto add = [&](TWinFontRun piece) {
      std::int32_t end = piece.Start + piece.Count;
      if (piece.Count > 1 && whole.Order[std::size_t(end - 1)] < whole.Order[std::size_t(piece.Start)])
        while (end - 1 > piece.Start && LineEndBlank(text_[std::size_t(end - 1)])) {
          TWinFontRun blank = piece;
          blank.Start = --end;
          blank.Count = 1;
          cut.push_back(blank);
        }
      piece.Count = end - piece.Start;
      cut.push_back(piece);
    };
    for (const TWinFontRun& r : runs_) {
      TWinFontRun piece = r;
      for (std::int32_t i = r.Start + 1; i < r.Start + r.Count; ++i) {
        const std::int64_t d =
            std::int64_t(whole.Order[std::size_t(i)]) - std::int64_t(whole.Order[std::size_t(i - 1)]);
        if (d > 1 || d < -1) {
          piece.Count = i - piece.Start;
          add(piece);
          piece.Start = i;
        }
      }
      piece.Count = r.Start + r.Count - piece.Start;
      add(piece);
    }
    auto visualStart = [&whole](const TWinFontRun& r) {
      return std::min(whole.Order[std::size_t(r.Start)], whole.Order[std::size_t(r.Start + r.Count - 1)]);
    };
    std::stable_sort(cut.begin(), cut.end(),
                     [&](const TWinFontRun& a, const TWinFontRun& b) { return visualStart(a) < visualStart(b); });
    runs_ = std::move(cut);
    reversed.assign(runs_.size(), false);
    for (std::size_t k = 0; k < runs_.size(); ++k) {
      if (runs_[k].Count < 1) continue;
      const std::size_t first = std::size_t(runs_[k].Start), last = first + std::size_t(runs_[k].Count) - 1;
      const plat::UINT a = whole.Order[first], b = whole.Order[last];
      reversed[k] = a != b ? b < a : first < whole.Classes.size() && RightToLeftClass(whole.Classes[first]);
    }
  }

  std::int64_t left = std::numeric_limits<std::int32_t>::max(), right = -std::numeric_limits<std::int32_t>::max();
  std::int64_t x = 0;
  std::uint8_t direction = direction_;
  for (std::size_t k = 0; k < runs_.size(); ++k) {
    TWinFontRun& r = runs_[k];
    ShapeRun(r, Clamp32(x), reversed[k] ? std::uint8_t(tdRightToLeftOverride) : direction, left, right);
    x += r.Width;
    for (std::int32_t i = r.Start; i < r.Start + r.Count; ++i) {
      for (std::uint8_t code = 1; code <= tdRightToLeftOverride; ++code)
        if (text_[std::size_t(i)] == kDirectionChars[code]) direction = code;
    }
  }
  advance_[n] = -1;
  extent_.Width = Clamp32(x);
  if (left > right) {  // no ink at all
    extent_.First = 0;
    extent_.Second = 0;
  } else {
    extent_.First = Clamp32(left);
    extent_.Second = Clamp32(right - left);
  }
  extent_.Third = Clamp32(x - extent_.First - extent_.Second);
}

void TWinTextElement::ShapeRun(TWinFontRun& run, std::int32_t x, std::uint8_t direction, std::int64_t& left,
                               std::int64_t& right) {
  const std::int32_t count = run.Count;
  const std::size_t lead = direction ? 1 : 0;
  WideString s;
  s.reserve(std::size_t(count) + lead);
  if (lead) s.push_back(kDirectionChars[direction]);
  s.append(text_, std::size_t(run.Start), std::size_t(count));
  if (!run.Found) {
    // Characters no font has are laid out as what draws them, 'L' in
    // "Wingdings"; the second half of a surrogate pair joins the cluster of
    // the first through a combining grapheme joiner.
    for (std::size_t i = lead; i < s.size(); ++i) {
      const bool low = s[i] >= 0xDC00 && s[i] <= 0xDFFF;
      const bool afterHigh = i > lead && text_[std::size_t(run.Start) + (i - lead) - 1] >= 0xD800 &&
                             text_[std::size_t(run.Start) + (i - lead) - 1] <= 0xDBFF;
      s[i] = low && afterHigh ? char16_t(0x034F) : u'L';
    }
  }

  TDcScope dc(this, run.Font);
  TPlacement p;
  GetPlacement(dc.Dc(), s.data(), static_cast<std::int32_t>(s.size()), p, gpOrder | gpDx | gpClasses | gpGlyphs,
               kLayoutPlacementFlags);
  std::int32_t glyphCount = std::max(p.GlyphCount, 0);
  std::vector<std::uint16_t> glyphs(p.Glyphs.begin(), p.Glyphs.begin() + glyphCount);
  std::vector<std::int32_t> dx(p.Dx.begin(), p.Dx.begin() + glyphCount);
  std::vector<plat::UINT> order(p.Order.begin() + std::ptrdiff_t(lead), p.Order.begin() + std::ptrdiff_t(lead) + count);
  std::vector<char> classes(p.Classes.begin() + std::ptrdiff_t(lead), p.Classes.end());
  if (lead) {
    // Drop the control character's glyph, unless it shares a cluster.
    const plat::UINT own = p.Order[0];
    if (own < plat::UINT(glyphCount) && (count == 0 || order[0] != own)) {
      glyphs.erase(glyphs.begin() + own);
      dx.erase(dx.begin() + own);
      --glyphCount;
      for (plat::UINT& o : order)
        if (o != plat::UINT(-1) && o > own) --o;
    }
  }
  for (std::int32_t& d : dx) d = std::max(d, 0);
  if (glyphCount == 0) {
    for (std::int32_t i = 0; i < count; ++i) {
      caret_[std::size_t(run.Start + i)] = x;
      bounds_[std::size_t(run.Start + i)] = TCharBounds{x, x};
      clusterGlyph_[std::size_t(run.Start + i)] = static_cast<std::int32_t>(glyphs_.size());
    }
    if (std::size_t(run.Start + count) == text_.size()) caret_[text_.size()] = x;
    run.GlyphCount = 0;
    run.Width = 0;
    return;
  }
  for (plat::UINT& o : order) o = std::min(o, plat::UINT(glyphCount - 1));  // also an unwritten -1

  // Glyph to character: the last character of a cluster; glyphs that start
  // no character belong to the one before.
  const std::size_t g = std::size_t(glyphCount);
  std::vector<std::int32_t> glyphChar(g, -1);
  std::vector<bool> startsChar(g, false);
  for (std::int32_t i = 0; i < count; ++i) {
    glyphChar[order[std::size_t(i)]] = i;
    startsChar[order[std::size_t(i)]] = true;
  }
  for (std::size_t k = 0; k < g; ++k)
    if (glyphChar[k] < 0) glyphChar[k] = k ? glyphChar[k - 1] : 0;

  std::vector<std::int64_t> pos(g + 1, 0);
  for (std::size_t k = 0; k < g; ++k) pos[k + 1] = pos[k] + dx[k];
  auto clusterWidth = [&](std::size_t k) {
    std::int64_t w = dx[k];
    for (std::size_t h = k + 1; h < g && !startsChar[h]; ++h) w += dx[h];
    return w;
  };

  // Ink.
  if (CharABCWidthsProc && dc.Dc()) {
    std::vector<plat::ABC> abc(g);
    if (CharABCWidthsProc(dc.Dc(), abc.data(), 0, plat::UINT(g), glyphs.data()))
      for (std::size_t k = 0; k < g; ++k) {
        if (abc[k].abcB == 0) continue;  // a blank has no ink
        const std::int64_t a = x + pos[k] + abc[k].abcA;
        left = std::min(left, a);
        right = std::max(right, a + std::int64_t(abc[k].abcB));
      }
  }

  const std::int32_t base = static_cast<std::int32_t>(glyphs_.size());
  auto cls = [&](std::int32_t i) { return std::size_t(i) < classes.size() ? classes[std::size_t(i)] : char(0); };
  auto rtl = [&](std::int32_t i) { return RightToLeftClass(cls(i)) || direction == tdRightToLeftOverride; };
  for (std::int32_t i = 0; i < count; ++i) {
    const std::size_t k = order[std::size_t(i)];
    const bool starts = i == 0 || order[std::size_t(i - 1)] != k;
    std::int64_t at = pos[k];
    if (starts && rtl(i)) at += clusterWidth(k);
    const std::size_t c = std::size_t(run.Start + i);
    caret_[c] = Clamp32(x + at);
    clusterGlyph_[c] = base + static_cast<std::int32_t>(k);
    advance_[c] = starts ? Clamp32(clusterWidth(k)) : 0;
  }
  if (std::size_t(run.Start + count) == text_.size() && count > 0) {
    std::int32_t first = count - 1;
    while (first > 0 && order[std::size_t(first - 1)] == order[std::size_t(count - 1)]) --first;
    const std::int64_t w = clusterWidth(order[std::size_t(count - 1)]);
    const std::int64_t at = caret_[std::size_t(run.Start + first)];
    caret_[text_.size()] = Clamp32(rtl(first) ? at - w : at + w);
  }

  // Character bounds from the glyphs, then shared by every character of a cluster.
  std::vector<bool> seen(std::size_t(count), false);
  for (std::size_t k = 0; k < g; ++k) {
    const std::int32_t i = glyphChar[k];
    const char c = cls(i);
    TCharBounds& b = bounds_[std::size_t(run.Start + i)];
    const std::int32_t l = Clamp32(x + pos[k]), r = Clamp32(x + pos[k + 1]);
    if (LeftToRightClass(c)) {
      if (!seen[std::size_t(i)]) b.Start = l;
      b.End = r;
    } else if (RightToLeftClass(c)) {
      if (!seen[std::size_t(i)]) b.End = l;
      b.Start = r;
    }
    seen[std::size_t(i)] = true;
  }
  for (std::int32_t i = count - 1; i >= 1; --i)
    if (order[std::size_t(i)] == order[std::size_t(i - 1)])
      bounds_[std::size_t(run.Start + i - 1)] = bounds_[std::size_t(run.Start + i)];

  glyphs_.insert(glyphs_.end(), glyphs.begin(), glyphs.end());
  glyphDx_.insert(glyphDx_.end(), dx.begin(), dx.end());
  run.GlyphCount = glyphCount;
  run.Width = Clamp32(pos[g]);
}

TTextMetricsRec TWinTextElement::GetMetrics() {
  if (!metricsRead_) {
    if (FontUtils) {
      metrics_ = FontUtils->GetTextMetrics(FontParams());
    } else {
      TWinFontUtils utils;
      metrics_ = utils.GetTextMetrics(FontParams());
    }
    metricsRead_ = true;
  }
  return metrics_;
}

TCharBounds TWinTextElement::GetCharBounds(std::int32_t index) {
  const std::int32_t i = std::clamp(index, 0, Length());
  if (i < 1) return TCharBounds{caret_[std::size_t(i)], caret_[std::size_t(i)]};
  return TCharBounds{caret_[std::size_t(i - 1)], caret_[std::size_t(i)]};
}

bool TWinTextElement::IsClusterContinuation(std::int32_t index) {
  if (index <= 1 || index > Length()) return false;
  return clusterGlyph_[std::size_t(index - 1)] == clusterGlyph_[std::size_t(index - 2)];
}

namespace {

// The underline bar of a font: (size, position above the base line).
std::pair<std::int32_t, std::int32_t> UnderlineOf(const TFontParams& font) {
  TScreenFontDc dc(font);
  if (!dc.Dc()) return {0, 0};
  plat::OUTLINETEXTMETRICW otm;
  if (plat::GetOutlineTextMetricsW(dc.Dc(), sizeof otm, &otm))
    return {otm.otmsUnderscoreSize, otm.otmsUnderscorePosition};
  // A face without outline metrics: a bar a quarter of the descent thick, half of it down.
  plat::TEXTMETRICW tm;
  if (!plat::GetTextMetricsW(dc.Dc(), &tm)) return {0, 0};
  return {std::max<std::int32_t>(1, tm.tmDescent / 4), -tm.tmDescent / 2};
}

}  // namespace

std::int32_t TWinTextElement::GetUnderlineSize() { return UnderlineOf(FontParams()).first; }

std::int32_t TWinTextElement::GetUnderlinePos() { return UnderlineOf(FontParams()).second; }

std::int32_t TWinTextElement::MeasureRange(std::int32_t start, std::int32_t count) {
  const std::int64_t from = std::max<std::int64_t>(start, 1) - 1;
  const std::int64_t to = std::min<std::int64_t>(std::int64_t(start) + count - 1, Length());  // exclusive, 0-based
  if (from >= to) return 0;
  std::int64_t width = 0;
  for (const TWinFontRun& r : runs_) {
    const std::int64_t a = std::max<std::int64_t>(from, r.Start), b = std::min<std::int64_t>(to, r.Start + r.Count);
    if (a >= b) continue;
    TDcScope dc(this, r.Font);
    plat::SIZE size;
    if (dc.Dc() && plat::GetTextExtentPoint32W(dc.Dc(), text_.data() + a, static_cast<int>(b - a), &size))
      width += size.cx;
  }
  return Clamp32(width);
}

TTextOverhangs TWinTextElement::GetOverhangs() { return extent_; }

TRef<TTextElement> TWinTextElement::Clone() {
  TRef<TWinTextElement> copy = MakeRef<TWinTextElement>(FontParams(), Flag());
  copy->getDc_ = getDc_;
  copy->releaseDc_ = releaseDc_;
  copy->direction_ = direction_;
  copy->SetText(text_);
  return copy;
}

TRect TWinTextElement::GetDrawRect(const TPoint& p) {
  TRect r = TTextElementEx::GetDrawRect(p);
  if (OSVersion().Major >= 6) r.Right += 1;  // Vista's text output reaches one pixel further
  return r;
}

namespace {

// The name glyphs are cached under: the face actually drawn with when it is
// not the one asked for, so that glyph indices of this face never meet a
// glyph cache a show carries for the family it named.
WideString FontKeyName(plat::HDC dc, const WideString& asked) {
  char16_t face[plat::LF_FACESIZE] = {};
  const int n = dc ? plat::GetTextFaceW(dc, plat::LF_FACESIZE, face) : 0;
  if (n <= 1) return asked;
  const WideString used(face, std::size_t(n - 1));
  return WideLowerCaseCopy(used) == WideLowerCaseCopy(asked) ? asked : used;
}

}  // namespace

std::int32_t TWinTextElement::GetPartCount() { return static_cast<std::int32_t>(glyphs_.size()); }

bool TWinTextElement::GetPart(std::int32_t index, TTextPart& part) {
  if (index < 0 || std::size_t(index) >= glyphs_.size()) return false;
  std::int32_t local = index, base = 0;
  std::int64_t x = 0;
  const TWinFontRun* run = nullptr;
  for (const TWinFontRun& r : runs_) {
    if (local < r.GlyphCount) {
      run = &r;
      break;
    }
    local -= r.GlyphCount;
    base += r.GlyphCount;
    x += r.Width;
  }
  if (!run) return false;
  TDcScope dc(this, run->Font);
  const std::uint16_t glyph = glyphs_[std::size_t(index)];
  const std::int32_t dx = glyphDx_[std::size_t(index)];
  for (std::int32_t k = base; k < index; ++k) x += glyphDx_[std::size_t(k)];
  part = TTextPart{};
  part.FontKey = FontKeyName(dc.Dc(), run->Font.Name) + u":" + StyleToText(run->Font.Style);
  part.GlyphIndex = glyph;
  part.Size = Clamp32(std::llround(std::clamp<double>(run->Font.Size, -1e9, 1e9)));
  plat::ABC abc;
  if (CharABCWidthsProc && dc.Dc() && CharABCWidthsProc(dc.Dc(), &abc, 0, 1, &glyph)) {
    part.A = abc.abcA;
    part.B = Clamp32(abc.abcB);
    part.C = abc.abcC;
  } else {
    part.B = dx;
  }
  part.Advance = dx;
  plat::TEXTMETRICW tm;
  if (dc.Dc() && plat::GetTextMetricsW(dc.Dc(), &tm)) {
    part.Ascent = tm.tmAscent;
    part.Descent = tm.tmDescent;
  }
  part.Height = part.Ascent + part.Descent;
  part.X = Clamp32(x);
  return true;
}

std::int32_t TWinTextElement::CaretPos(std::int32_t index) const {
  if (index < 0 || std::size_t(index) >= caret_.size()) return 0;
  return caret_[std::size_t(index)];
}

TCharBounds TWinTextElement::CharEdges(std::int32_t index) const {
  if (index < 0 || std::size_t(index) >= bounds_.size()) return TCharBounds{};
  return bounds_[std::size_t(index)];
}

std::int32_t TWinTextElement::ClusterGlyph(std::int32_t index) const {
  if (index < 0 || std::size_t(index) >= clusterGlyph_.size()) return -1;
  return clusterGlyph_[std::size_t(index)];
}

std::int32_t TWinTextElement::CharAdvance(std::int32_t index) const {
  if (index < 0 || std::size_t(index) >= advance_.size()) return -1;
  return advance_[std::size_t(index)];
}

// ---- Font enumeration worker --------------------------------------------------------------

namespace {

constexpr std::int32_t kSampleHeight = 22;
constexpr float kFirstSampleSize = 9;

// The font infos by name and the workers that run, both kept for the
// module's end.
std::mutex gWorkerLock;
std::map<WideString, TRef<TFontInfo>>& FontInfos() {
  static std::map<WideString, TRef<TFontInfo>> infos;
  return infos;
}
std::set<TWinFontThread*>& RunningWorkers() {
  static std::set<TWinFontThread*> workers;
  return workers;
}

TFontInfo* InfoFor(const WideString& name, bool outline, bool fixedPitch) {
  std::lock_guard<std::mutex> g(gWorkerLock);
  TRef<TFontInfo>& info = FontInfos()[name];
  if (!info) {
    info = MakeRef<TFontInfo>();
    info->Name = name;
    info->Outline = outline;
    info->FixedPitch = fixedPitch;
  }
  return info.get();
}

struct TEnumState {
  TStringList* List;
  const std::function<bool()>* Stop;
};

int EnumFamily(const plat::LOGFONTW* log, const plat::TEXTMETRICW*, plat::DWORD fontType, plat::LPARAM data) {
  auto* state = reinterpret_cast<TEnumState*>(data);
  if (*state->Stop && (*state->Stop)()) return 0;
  if (!log) return 1;
  const std::size_t n =
      std::find(std::begin(log->lfFaceName), std::end(log->lfFaceName), u'\0') - std::begin(log->lfFaceName);
  const WideString name(log->lfFaceName, n);
  if (name.empty() || name[0] == u'@') return 1;  // vertical variants
  std::int32_t index;
  if (state->List->Find(name, index)) return 1;
  const std::uint8_t pitch = log->lfPitchAndFamily & 3;
  const bool outline = (fontType & plat::TRUETYPE_FONTTYPE) ||
                       ((fontType & plat::DEVICE_FONTTYPE) && pitch == plat::VARIABLE_PITCH);
  state->List->AddObject(name, InfoFor(name, outline, pitch == plat::FIXED_PITCH));
  return 1;
}

bool ListDirectWriteNames(TStringList& list) {
  if (!IsDirectWriteUsable()) return false;
  std::shared_ptr<plat::dwrite::Factory> factory;
  std::vector<std::u16string> names;
  if (!plat::dwrite::SUCCEEDED(plat::dwrite::Factory::Create(&factory)) || !factory ||
      !plat::dwrite::SUCCEEDED(factory->GetFamilyNames(&names)))
    return false;
  for (const std::u16string& name : names) {
    std::int32_t index;
    if (!name.empty() && !list.Find(name, index)) list.Add(name);
  }
  return true;
}

std::int32_t SampleHeightAt(const WideString& name, float size) {
  TRef<TWinTextElement> e = MakeRef<TWinTextElement>(MakeFontParams(name, 0, false, size, TColor24{}, TColor24{}), 0);
  return e->GetMetrics().Height;
}

}  // namespace

TRef<TStringList> TWinFontThread::ListFontNames(const std::function<bool()>& stop) {
  TRef<TStringList> list = MakeRef<TStringList>();
  list->SetIgnoreCase(true);
  list->SetSorted(true);
  if (ListDirectWriteNames(*list)) return list;
  list->Clear();
  TEnumState state{list.get(), &stop};
  plat::HDC dc = plat::GetDC(nullptr);
  if (!dc) return list;
  plat::EnumFontFamiliesW(dc, nullptr, &EnumFamily, reinterpret_cast<plat::LPARAM>(&state));
  plat::ReleaseDC(nullptr, dc);
  return list;
}

float TWinFontThread::SampleSize(const WideString& name) {
  const std::int32_t first = SampleHeightAt(name, kFirstSampleSize);
  if (first <= 0) return kFirstSampleSize;
  float size = kFirstSampleSize * kSampleHeight / float(first);
  const std::int32_t height = SampleHeightAt(name, size);
  // Heights do not grow evenly with the size; one more step down, never up.
  if (height > kSampleHeight) size -= size * float(height - kSampleHeight) / kSampleHeight;
  return size > 0 ? size : kFirstSampleSize;
}

bool TWinFontThread::StartJob() {
  if (started_) return false;
  {
    std::lock_guard<std::mutex> g(gWorkerLock);
    RunningWorkers().insert(this);
  }
  started_ = Start(false, &TWinFontThread::Run, this);
  if (!started_) {
    std::lock_guard<std::mutex> g(gWorkerLock);
    RunningWorkers().erase(this);
  }
  return started_;
}

void TWinFontThread::Run(void* arg) {
  auto* self = static_cast<TWinFontThread*>(arg);
  struct TUnregister {
    TWinFontThread* Self;
    ~TUnregister() {
      std::lock_guard<std::mutex> g(gWorkerLock);
      RunningWorkers().erase(Self);
    }
  } unregister{self};
  TRef<TStringList> list = ListFontNames([self] { return self->Terminated(); });
  if (self->Terminated()) return;  // a list cut short is not published
  self->SetFontList(list.get());
  for (std::int32_t i = 0; i < list->GetCount() && !self->Terminated(); ++i) {
    const WideString name = list->GetString(i);
    const TFontParams font =
        MakeFontParams(name, 0, true, SampleSize(name), TColor24{255, 255, 255}, TColor24{0, 0, 0});
    MakeRef<TWinTextElement>(font, 0)->SetText(u"Sample");
    if (self->OnFontWarmed) self->OnFontWarmed(name);
  }
}

TRef<TFontThread> CreateWinFontThread() {
  TRef<TWinFontThread> t = MakeRef<TWinFontThread>();
  t->StartJob();  // a worker that cannot start still answers, without a list
  return t;
}

// ---- Module -----------------------------------------------------------------------------------

void InitWinTextElement() {
  CharABCWidthsProc = &GdiCharABCWidths;
  CreateFontThreadHook = &CreateWinFontThread;
}

void FiniWinTextElement() {
  if (CreateFontThreadHook == &CreateWinFontThread) CreateFontThreadHook = &DefCreateFontThread;
  // Workers still running lay text out with what this module frees.
  std::vector<TRef<TWinFontThread>> running;
  {
    std::lock_guard<std::mutex> g(gWorkerLock);
    for (TWinFontThread* t : RunningWorkers()) running.push_back(TRef<TWinFontThread>(t));
  }
  for (TRef<TWinFontThread>& t : running) t->TerminateAndWait();
  running.clear();
  {
    std::lock_guard<std::mutex> g(gWorkerLock);
    FontInfos().clear();
  }
  CharABCWidthsProc = nullptr;
}

}  // namespace zm
