#include "ZmLib/Win32/Fonts/winTextVectorizer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "Platform/Gdi/PlatOutline.h"
#include "ZmLib/Win32/Fonts/winFontUtils.h"
#include "ZmLib/Win32/SysLocks.h"

namespace zm {

namespace {

plat::HGDIOBJ AsObj(plat::HFONT f) { return reinterpret_cast<plat::HGDIOBJ>(f); }

// The unit's shared screen DC and its lock.
plat::HDC gDc = nullptr;
TSafeCriticalSection* gLock = nullptr;

// The shared DC (or, outside the unit's life, a DC of its own) with a font
// selected, under the unit's lock.
class TSharedFontDc {
public:
  explicit TSharedFontDc(const TFontParams& font) {
    if (gLock) gLock->Enter();
    locked_ = gLock;
    dc_ = gDc;
    if (!dc_) dc_ = own_ = plat::GetDC(nullptr);
    if (!dc_ || font.Name.size() >= plat::LF_FACESIZE) return;
    font_ = CreateGdiFont(font);
    if (font_) old_ = plat::SelectObject(dc_, AsObj(font_));
  }
  ~TSharedFontDc() {
    if (old_) plat::SelectObject(dc_, old_);
    if (font_) plat::DeleteObject(AsObj(font_));
    if (own_) plat::ReleaseDC(nullptr, own_);
    if (locked_) locked_->Leave();
  }
  TSharedFontDc(const TSharedFontDc&) = delete;
  TSharedFontDc& operator=(const TSharedFontDc&) = delete;
  // nullptr when no font could be selected.
  plat::HDC Dc() const { return old_ ? dc_ : nullptr; }

private:
  TSafeCriticalSection* locked_ = nullptr;
  plat::HDC dc_ = nullptr;
  plat::HDC own_ = nullptr;
  plat::HFONT font_ = nullptr;
  plat::HGDIOBJ old_ = nullptr;
};

struct TFx {
  float X, Y;
};

TFx ReadPoint(const std::uint8_t* at) {
  plat::POINTFX p;
  std::memcpy(&p, at, sizeof p);
  return TFx{float(plat::FixedToDouble(p.x)), float(plat::FixedToDouble(p.y))};
}

}  // namespace

void FitToBlackBox(TPathPoints& points, std::size_t from, std::int32_t a, std::int32_t b) {
  if (from >= points.size()) return;
  float minX = points[from].X, maxX = minX;
  for (std::size_t i = from; i < points.size(); ++i) {
    minX = std::min(minX, points[i].X);
    maxX = std::max(maxX, points[i].X);
  }
  if (a - minX > 0) {
    const float shift = float(a) - minX;
    for (std::size_t i = from; i < points.size(); ++i) points[i].X += shift;
    minX += shift;
    maxX += shift;
  }
  if (maxX - float(a) - float(b) > 0 && minX < maxX) {
    // Offsets keep their fractions: whole pixels would bend the curves of
    // small sizes.
    const float scale = (float(a) + float(b) - minX) / (maxX - minX);
    for (std::size_t i = from; i < points.size(); ++i) points[i].X = (points[i].X - minX) * scale + minX;
  }
}

void ParseFontKey(const WideString& key, WideString& name, std::uint8_t& style) {
  style = 0;
  const std::size_t colon = key.find(u':');
  name = key.substr(0, colon);
  if (colon == WideString::npos) return;
  std::size_t end = key.find(u':', colon + 1);
  if (end == WideString::npos) end = key.size();
  std::size_t at = colon + 1;
  for (int items = 0; items < 4 && at <= end; ++items) {
    std::size_t comma = key.find(u',', at);
    if (comma == WideString::npos || comma > end) comma = end;
    std::size_t s = at;
    while (s < comma && (key[s] == u' ' || key[s] == u'\t')) ++s;
    const WideString word = key.substr(s, comma - s);
    if (word == u"Bold") style |= fsBold;
    else if (word == u"Italic") style |= fsItalic;
    else if (word == u"Underline") style |= fsUnderline;
    else if (word == u"StrikeOut") style |= fsStrikeOut;
    at = comma + 1;
  }
}

void NativeOutlineToPath(const std::uint8_t* data, std::size_t size, TPathPoints& sink) {
  if (!data) return;
  constexpr std::size_t kHeader = sizeof(plat::TTPOLYGONHEADER);
  std::size_t off = 0;
  while (off + kHeader <= size) {
    plat::TTPOLYGONHEADER h;
    std::memcpy(&h, data + off, kHeader);
    ZM_ASSERT(h.dwType == plat::TT_POLYGON_TYPE, "GetGlyphOutline: don't exist HeaderType");
    if (h.cb < kHeader || h.cb > size - off) return;  // cut short
    const std::size_t end = off + h.cb;
    const TFx start = ReadPoint(data + off + 8);
    AddPathPoint(sink, start.X, start.Y, pcMove);
    std::size_t at = off + kHeader;
    while (at + 4 <= end) {
      std::uint16_t type = 0, count = 0;
      std::memcpy(&type, data + at, 2);
      std::memcpy(&count, data + at + 2, 2);
      if (count == 0) return;
      const std::size_t bytes = (std::size_t(count) - 1) * 8 + 12;
      if (bytes > end - at) return;
      const std::uint8_t* pts = data + at + 4;
      auto pt = [pts](std::size_t i) { return ReadPoint(pts + i * 8); };
      if (type == plat::TT_PRIM_QSPLINE && count >= 2) {
        for (std::size_t i = 0; i + 1 < count; ++i) {
          const TFx c = pt(i);
          AddPathPoint(sink, c.X, c.Y, pcControl2);
          if (i + 2 < count) {
            const TFx d = pt(i + 1);
            AddPathPoint(sink, (c.X + d.X) / 2, (c.Y + d.Y) / 2, pcLine);
          } else {
            const TFx e = pt(i + 1);
            AddPathPoint(sink, e.X, e.Y, pcLine);
          }
        }
      } else if (type == plat::TT_PRIM_CSPLINE) {
        std::size_t i = 0;
        for (; i + 3 <= count; i += 3) {
          const TFx c1 = pt(i), c2 = pt(i + 1), e = pt(i + 2);
          AddPathPoint(sink, c1.X, c1.Y, pcControl3);
          AddPathPoint(sink, c2.X, c2.Y, pcControl2);
          AddPathPoint(sink, e.X, e.Y, pcLine);
        }
        for (; i < count; ++i) AddPathPoint(sink, pt(i).X, pt(i).Y, pcLine);
      } else {
        // Lines, and a one-point spline, which is a line to its point.
        for (std::size_t i = 0; i < count; ++i) AddPathPoint(sink, pt(i).X, pt(i).Y, pcLine);
      }
      at += bytes;
    }
    off = end;
  }
}

// ---- TWinVectorizer -------------------------------------------------------------------------

TRef<TTextElementEx> TWinVectorizer::CreateTextElement(const TFontParams& font, const WideString& text) {
  TRef<TWinTextElement> element = MakeRef<TWinTextElement>(font, 0);
  element->SetDcProcs([] { return plat::GetDC(nullptr); }, [](plat::HDC dc) { plat::ReleaseDC(nullptr, dc); });
  TWinTextElement::TFontRunProc saved = element->OnFontRun;
  // Bitmap faces cannot be outlined: their runs go to the next fallback font.
  element->OnFontRun = [this](TWinTextElement*, const TFontParams& f, std::int32_t, std::int32_t, bool& accept) {
    accept = IsOutlineFont(f);
  };
  try {
    element->SetText(text);
  } catch (...) {
    element->OnFontRun = saved;
    throw;
  }
  element->OnFontRun = saved;
  return element;
}

void TWinVectorizer::VectorizePart(const TTextPart& part, TPathPoints& sink) {
  WideString name;
  std::uint8_t style = 0;
  ParseFontKey(part.FontKey, name, style);
  if (part.Size <= 0 || name.empty()) return;
  TSharedFontDc dc(MakeFontParams(name, style, false, float(part.Size), TColor24{}, TColor24{}));
  if (!dc.Dc()) return;
  plat::MAT2 matrix{plat::FixedFromInt(1), plat::FixedFromInt(0), plat::FixedFromInt(0), plat::FixedFromInt(-1)};
  plat::GLYPHMETRICS gm;
  const plat::UINT format = plat::GGO_NATIVE | plat::GGO_GLYPH_INDEX;
  const plat::DWORD need = plat::GetGlyphOutlineW(dc.Dc(), part.GlyphIndex, format, &gm, 0, nullptr, &matrix);
  if (need == plat::GDI_ERROR || need == 0) return;
  std::vector<std::uint8_t> buffer(need);
  const plat::DWORD got = plat::GetGlyphOutlineW(dc.Dc(), part.GlyphIndex, format, &gm, need, buffer.data(), &matrix);
  if (got == plat::GDI_ERROR || got == 0) return;
  const std::size_t from = sink.size();
  NativeOutlineToPath(buffer.data(), std::min<std::size_t>(got, buffer.size()), sink);
  plat::ABC abc;
  const std::uint16_t glyph = part.GlyphIndex;
  if (sink.size() > from && CharABCWidthsProc && CharABCWidthsProc(dc.Dc(), &abc, 0, 1, &glyph))
    FitToBlackBox(sink, from, abc.abcA, static_cast<std::int32_t>(std::min<plat::UINT>(abc.abcB, 1u << 30)));
}

void TWinVectorizer::GetFontMetrics(const TFontParams& font, TFontMetrics& metrics) {
  metrics = TFontMetrics{};
  TSharedFontDc dc(font);
  if (!dc.Dc()) return;
  plat::OUTLINETEXTMETRICW otm;
  if (plat::GetOutlineTextMetricsW(dc.Dc(), sizeof otm, &otm)) {
    metrics.Ascent = otm.otmTextMetrics.tmAscent;
    metrics.Descent = otm.otmTextMetrics.tmDescent;
    metrics.UnderlinePosition = float(otm.otmsUnderscorePosition);
    metrics.UnderlineSize = float(otm.otmsUnderscoreSize);
    metrics.StrikeOutPosition = float(otm.otmsStrikeoutPosition);
    metrics.StrikeOutSize = float(otm.otmsStrikeoutSize);
    return;
  }
  plat::TEXTMETRICW tm;
  if (!plat::GetTextMetricsW(dc.Dc(), &tm)) return;
  metrics.Ascent = tm.tmAscent;
  metrics.Descent = tm.tmDescent;
  metrics.UnderlinePosition = -float(tm.tmDescent) * 0.5f;
  metrics.UnderlineSize = float(tm.tmDescent) * 0.25f;
  metrics.StrikeOutPosition = float(tm.tmAscent - tm.tmDescent) * 0.5f;
  metrics.StrikeOutSize = metrics.UnderlineSize;
}

bool TWinVectorizer::IsOutlineFont(const TFontParams& font) {
  TSharedFontDc dc(font);
  plat::TEXTMETRICW tm;
  if (!dc.Dc() || !plat::GetTextMetricsW(dc.Dc(), &tm)) return false;
  const plat::BYTE pf = tm.tmPitchAndFamily;
  return (pf & plat::TMPF_TRUETYPE) || ((pf & plat::TMPF_DEVICE) && (pf & plat::TMPF_VECTOR));
}

TRef<TVectorizer> CreateWinVectorizer() { return MakeRef<TWinVectorizer>(); }

// ---- Module -----------------------------------------------------------------------------------

void InitWinTextVectorizer() {
  if (!gLock) gLock = MakeRef<TSafeCriticalSection>().Detach();
  if (!gDc) gDc = plat::GetDC(nullptr);
  CreateVectorizerHook = &CreateWinVectorizer;
}

void FiniWinTextVectorizer() {
  if (CreateVectorizerHook == &CreateWinVectorizer) CreateVectorizerHook = &DefCreateVectorizer;
  if (gDc) plat::ReleaseDC(nullptr, gDc);
  gDc = nullptr;
  FreeAndNil(gLock);
}

}  // namespace zm
