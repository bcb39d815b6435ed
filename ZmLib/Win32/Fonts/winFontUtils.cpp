#include "ZmLib/Win32/Fonts/winFontUtils.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Platform/User/PlatUser.h"
#include "ZmLib/Graphics/zmDibBitmap.h"
#include "ZmLib/Win32/Fonts/winDWTextUtils.h"
#include "ZmLib/Win32/Fonts/winFontSubstitute.h"
#include "ZmLib/Win32/Fonts/winTextVectorizer.h"
#include "ZmLib/Win32/winSysUtils.h"

namespace zm {

namespace {

plat::HGDIOBJ AsObj(plat::HFONT f) { return reinterpret_cast<plat::HGDIOBJ>(f); }

// Pixel heights beyond this are far past the layer's largest em (2048 px);
// holding them here keeps the conversion defined for any float.
constexpr double kMaxFontPixels = 1 << 20;

std::int32_t Round(double v) { return static_cast<std::int32_t>(std::lround(v)); }

TColor24 ContrastOf(TColor24 c) {
  auto flip = [](std::uint8_t v) -> std::uint8_t { return v >= 128 ? 0 : 255; };
  return TColor24{flip(c.B), flip(c.G), flip(c.R)};
}

std::uint8_t Clamp255(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

std::int32_t ScreenPixelsPerInchY() {
  plat::HDC screen = plat::GetDC(nullptr);
  std::int32_t dpi = screen ? plat::GetDeviceCaps(screen, plat::LOGPIXELSY) : 0;
  if (screen) plat::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

TFontParams GetDefaultFontParams() {
  TFontParams p;
  p.TextColor = ColorRefToColor24(plat::GetSysColor(plat::COLOR_BTNTEXT));
  p.BackColor = ColorRefToColor24(plat::GetSysColor(plat::COLOR_BTNFACE));
  plat::NONCLIENTMETRICSW m;
  if (plat::SystemParametersInfoW(plat::SPI_GETNONCLIENTMETRICS, sizeof m, &m, 0)) {
    const plat::LOGFONTW& f = m.lfMessageFont;
    std::size_t n = 0;
    while (n < 31 && f.lfFaceName[n]) ++n;
    p.Name.assign(f.lfFaceName, n);
    p.Size = static_cast<float>(-static_cast<double>(f.lfHeight) * 72.0 / ScreenPixelsPerInchY());
    if (f.lfWeight >= 700) p.Style |= fsBold;
    if (f.lfItalic) p.Style |= fsItalic;
    if (f.lfUnderline) p.Style |= fsUnderline;
    if (f.lfStrikeOut) p.Style |= fsStrikeOut;
  } else {
    p.Name = IsWin2000OrLater() ? u"Tahoma" : u"MS Sans Serif";
    p.Size = 8.25f;
  }
  return p;
}

plat::LOGFONTW MakeGdiLogFont(const TFontParams& font, std::int32_t dpi) {
  ZM_ASSERT(font.Name.size() < 32, "CreateGdiFont: font name too long");
  plat::LOGFONTW log;
  double px = static_cast<double>(font.Size) * dpi / 72.0;
  if (!std::isfinite(px)) px = std::isnan(px) ? 0 : (px > 0 ? kMaxFontPixels : -kMaxFontPixels);
  px = std::clamp(px, -kMaxFontPixels, kMaxFontPixels);
  log.lfHeight = -Round(px);
  log.lfWeight = (font.Style & fsBold) ? plat::FW_BOLD : 0;
  log.lfItalic = (font.Style & fsItalic) ? 1 : 0;
  log.lfUnderline = (font.Style & fsUnderline) ? 1 : 0;
  log.lfStrikeOut = (font.Style & fsStrikeOut) ? 1 : 0;
  log.lfCharSet = plat::DEFAULT_CHARSET;
  log.lfQuality = plat::PROOF_QUALITY;
  // An embedded NUL ends the name, as in the C string GDI reads.
  for (std::size_t i = 0; i < font.Name.size() && font.Name[i]; ++i) log.lfFaceName[i] = font.Name[i];
  return log;
}

plat::HFONT CreateGdiFont(const TFontParams& font) {
  plat::LOGFONTW log = MakeGdiLogFont(font, ScreenPixelsPerInchY());
  return plat::CreateFontIndirectW(&log);
}

// ---- TScreenFontDc -----------------------------------------------------------------------

TScreenFontDc::TScreenFontDc(const TFontParams& font) {
  plat::LOGFONTW log = MakeGdiLogFont(font, ScreenPixelsPerInchY());  // asserts before anything is taken
  Select(log);
}

TScreenFontDc::TScreenFontDc(const plat::LOGFONTW& log) { Select(log); }

void TScreenFontDc::Select(const plat::LOGFONTW& log) {
  dc_ = plat::GetDC(nullptr);
  if (!dc_) return;
  font_ = plat::CreateFontIndirectW(&log);
  if (!font_) return;
  old_ = plat::SelectObject(dc_, AsObj(font_));
  selected_ = old_ != nullptr;
}

TScreenFontDc::~TScreenFontDc() {
  if (selected_) plat::SelectObject(dc_, old_);
  if (font_) plat::DeleteObject(AsObj(font_));
  if (dc_) plat::ReleaseDC(nullptr, dc_);
}

// ---- TWinFontUtils -----------------------------------------------------------------------

namespace {

TTextMetricsRec MetricsOf(plat::HDC dc, bool& ok) {
  TTextMetricsRec r;
  plat::TEXTMETRICW tm;
  ok = plat::GetTextMetricsW(dc, &tm) != 0;
  if (ok) {
    r.Ascent = tm.tmAscent;
    r.Descent = tm.tmDescent;
    r.Height = tm.tmHeight;
    r.InternalLeading = tm.tmInternalLeading;
    r.ExternalLeading = tm.tmExternalLeading;
    r.AveCharWidth = tm.tmAveCharWidth;
  }
  return r;
}

// A and C of one character; zeros when the call fails (a surrogate or a DC
// without a font).
plat::ABC AbcOf(plat::HDC dc, char16_t c) {
  plat::ABC abc;
  if (!plat::GetCharABCWidthsW(dc, c, c, &abc)) abc = plat::ABC{};
  return abc;
}

}  // namespace

TTextMetricsRec TWinFontUtils::GetTextMetrics(const TFontParams& font) {
  TScreenFontDc dc(font);
  bool ok = false;
  return dc.Dc() ? MetricsOf(dc.Dc(), ok) : TTextMetricsRec{};
}

TFontMetrics TWinFontUtils::GetOutlineMetrics(const TFontParams& font) {
  TFontMetrics m;
  TScreenFontDc dc(font);
  if (!dc.Dc()) return m;
  plat::OUTLINETEXTMETRICW otm;
  if (plat::GetOutlineTextMetricsW(dc.Dc(), sizeof otm, &otm)) {
    m.Ascent = otm.otmTextMetrics.tmAscent;
    m.Descent = otm.otmTextMetrics.tmDescent;
    m.UnderlinePosition = static_cast<float>(otm.otmsUnderscorePosition);
    m.UnderlineSize = static_cast<float>(otm.otmsUnderscoreSize);
    m.StrikeOutPosition = static_cast<float>(otm.otmsStrikeoutPosition);
    m.StrikeOutSize = static_cast<float>(otm.otmsStrikeoutSize);
  } else {
    bool ok = false;
    TTextMetricsRec t = MetricsOf(dc.Dc(), ok);
    m.Ascent = t.Ascent;
    m.Descent = t.Descent;
  }
  return m;
}

bool TWinFontUtils::GetTextBox(const TFontParams& font, const WideString& text, TTextBox& box) {
  box = TTextBox{};
  TScreenFontDc sdc(font);
  plat::HDC dc = sdc.Dc();
  if (!dc) return false;
  bool ok = false;
  box.Metrics = MetricsOf(dc, ok);
  if (!ok) return false;
  const int count = static_cast<int>(std::min<std::size_t>(text.size(), 0x7FFFFFFF));
  plat::SIZE ext;
  if (!plat::GetTextExtentPoint32W(dc, text.data(), count, &ext)) return false;
  box.Extent = TSize{ext.cx, ext.cy};
  plat::ABC first, last;
  if (count > 0) {
    first = AbcOf(dc, text.front());
    last = AbcOf(dc, text.back());
  }
  box.Overhangs.Left = first.abcA;
  box.Overhangs.Right = last.abcC;
  const bool transparent = IsTransparentText(font);
  TRect& r = box.Box;
  r.Top = 0;
  r.Bottom = box.Metrics.Height;
  if (transparent && !(font.Style & (fsItalic | fsUnderline))) {
    // Only the ink: from the first character's left bearing to the last one's.
    r.Left = first.abcA;
    r.Right = ext.cx - last.abcC + 1;
  } else {
    r.Left = std::min(0, first.abcA);
    r.Right = ext.cx + std::max(0, -last.abcC) + 1;
  }
  if (font.Style & fsUnderline) {
    plat::OUTLINETEXTMETRICW otm;
    if (plat::GetOutlineTextMetricsW(dc, sizeof otm, &otm))
      r.Bottom = std::max(r.Bottom, box.Metrics.Ascent - otm.otmsUnderscorePosition + otm.otmsUnderscoreSize);
  }
  // Blanks have no ink: keep a box of at least one pixel.
  if (r.Right <= r.Left) r.Right = r.Left + 1;
  if (r.Bottom <= r.Top) r.Bottom = r.Top + 1;
  return true;
}

TSize TWinFontUtils::MeasureTextEx(const TFontParams& font, const WideString& text, TSideOverhangs& overhangs,
                                   TTextMetricsRec& metrics) {
  TTextBox box;
  overhangs = TSideOverhangs{};
  metrics = TTextMetricsRec{};
  if (!GetTextBox(font, text, box)) return TSize{};
  overhangs = box.Overhangs;
  metrics = box.Metrics;
  TSize s = box.Extent;
  if (overhangs.Left < 0) s.cx -= overhangs.Left;
  if (overhangs.Right < 0) s.cx -= overhangs.Right;
  return s;
}

TColor24 TransparentKeyColor(const TFontParams& font) {
  const TColor24 b = font.BackColor, t = font.TextColor;
  auto near = [](std::uint8_t x, std::uint8_t y) { return std::abs(int(x) - int(y)) < 16; };
  if (font.Transparency == tmAutoKey || near(b.R, t.R) || near(b.G, t.G) || near(b.B, t.B)) return ContrastOf(t);
  return b;
}

std::uint8_t KeyedPixelAlpha(TColor24& p, TColor24 key, TColor24 text) {
  if (p == key) return 0;
  if (p == text) return 255;
  const std::uint8_t pc[3] = {p.B, p.G, p.R}, kc[3] = {key.B, key.G, key.R};
  double alpha = 0;
  for (int i = 0; i < 3; ++i) {
    const int P = pc[i], K = kc[i];
    if (P > K) alpha = std::max(alpha, (P - K) * 255.0 / (255 - K));
    else if (P < K) alpha = std::max(alpha, (K - P) * 255.0 / K);
  }
  const std::uint8_t a = Clamp255(alpha);
  if (a == 0) {
    p = key;
    return 0;
  }
  std::uint8_t out[3];
  for (int i = 0; i < 3; ++i) out[i] = Clamp255(kc[i] + (pc[i] - kc[i]) * 255.0 / a);
  p = TColor24{out[0], out[1], out[2]};
  return a;
}

TRef<TBitmap> TWinFontUtils::DrawText(const TFontParams& font, const WideString& text) {
  TTextBox box;
  if (!GetTextBox(font, text, box)) return nullptr;
  const bool transparent = IsTransparentText(font);
  const std::int32_t w = box.Box.Right - box.Box.Left, h = box.Box.Bottom - box.Box.Top;
  const std::int32_t bits = transparent ? 32 : 24;
  if (std::int64_t(DibStride(w, bits)) * h > plat::kMaxDibBytes) return nullptr;
  TRef<TDibBitmap> bitmap = NewDibBitmap(w, h, bits);
  TFastDIB* dib = bitmap->Dib();
  plat::HDC dc = dib->Dc();
  if (!dc) return nullptr;
  const TColor24 key = transparent ? TransparentKeyColor(font) : font.BackColor;
  for (std::int32_t y = 0; y < h; ++y) {
    if (transparent) std::fill_n(dib->Pixels32(y), w, (std::uint32_t(key.R) << 16) | (key.G << 8) | key.B);
    else std::fill_n(dib->Pixels24(y), w, key);
  }
  plat::HFONT f = CreateGdiFont(font);
  if (f) {
    plat::HGDIOBJ old = plat::SelectObject(dc, AsObj(f));
    if (old) {
      plat::SetTextColor(dc, plat::RGB(font.TextColor.R, font.TextColor.G, font.TextColor.B));
      plat::SetBkMode(dc, plat::TRANSPARENT);
      plat::RECT clip{0, 0, w, h};
      const auto count = static_cast<plat::UINT>(std::min<std::size_t>(text.size(), 0x7FFFFFFF));
      plat::ExtTextOutW(dc, -box.Box.Left, -box.Box.Top, plat::ETO_CLIPPED, &clip, text.data(), count, nullptr);
      plat::SelectObject(dc, old);
    }
    plat::DeleteObject(AsObj(f));
  }
  if (transparent) {
    for (std::int32_t y = 0; y < h; ++y) {
      std::uint32_t* row = dib->Pixels32(y);
      for (std::int32_t x = 0; x < w; ++x) {
        const std::uint32_t v = row[x];
        TColor24 p{std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16)};
        const std::uint8_t a = KeyedPixelAlpha(p, key, font.TextColor);
        row[x] = (std::uint32_t(a) << 24) | (std::uint32_t(p.R) << 16) | (std::uint32_t(p.G) << 8) | p.B;
      }
    }
  }
  return bitmap;
}

// ---- Regions -----------------------------------------------------------------------------

std::vector<TRect> RegionToRects(plat::HRGN region) {
  std::vector<TRect> out;
  if (!region) return out;
  const plat::DWORD size = plat::GetRegionData(region, 0, nullptr);
  if (size < sizeof(plat::RGNDATAHEADER)) return out;
  std::vector<std::uint8_t> buffer(size);
  auto* data = reinterpret_cast<plat::RGNDATA*>(buffer.data());
  if (plat::GetRegionData(region, size, data) == 0 || data->rdh.iType != plat::RDH_RECTANGLES) return out;
  const std::size_t room = (size - sizeof(plat::RGNDATAHEADER)) / sizeof(plat::RECT);
  const std::size_t n = std::min<std::size_t>(data->rdh.nCount, room);
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    plat::RECT r;
    std::memcpy(&r, buffer.data() + sizeof(plat::RGNDATAHEADER) + i * sizeof(plat::RECT), sizeof r);
    out.push_back(TRect{r.left, r.top, r.right, r.bottom});
  }
  return out;
}

plat::HRGN RectsToRegion(std::span<const TRect> rects, const TRect& bounds) {
  if (rects.empty()) return nullptr;
  const std::size_t bytes = sizeof(plat::RGNDATAHEADER) + rects.size() * sizeof(plat::RECT);
  if (bytes > 0xFFFFFFFFu) return nullptr;
  std::vector<std::uint8_t> buffer(std::max(bytes, sizeof(plat::RGNDATA)));
  plat::RGNDATAHEADER h;
  h.nCount = static_cast<plat::DWORD>(rects.size());
  h.nRgnSize = static_cast<plat::DWORD>(rects.size() * sizeof(plat::RECT));
  h.rcBound = plat::RECT{bounds.Left, bounds.Top, bounds.Right, bounds.Bottom};
  std::memcpy(buffer.data(), &h, sizeof h);
  for (std::size_t i = 0; i < rects.size(); ++i) {
    plat::RECT r{rects[i].Left, rects[i].Top, rects[i].Right, rects[i].Bottom};
    std::memcpy(buffer.data() + sizeof h + i * sizeof r, &r, sizeof r);
  }
  return plat::ExtCreateRegion(nullptr, static_cast<plat::DWORD>(bytes),
                               reinterpret_cast<const plat::RGNDATA*>(buffer.data()));
}

// ---- Module ------------------------------------------------------------------------------

void InitWinFontUtils() {
  if (!FontUtils) FontUtils = MakeRef<TWinFontUtils>().Detach();
}

// The text element unit frees FontUtils at its own end; freeing ours here
// keeps a restart of this unit alone clean.
void FiniWinFontUtils() {
  if (dynamic_cast<TWinFontUtils*>(FontUtils)) FreeAndNil(FontUtils);
}

namespace {
const TModule kWinFontModules[] = {
    {"winFontUtils", &InitWinFontUtils, &FiniWinFontUtils},
    {"winDWTextUtils", &InitWinDWTextUtils, &FiniWinDWTextUtils},
    {"winFontSubstitute", &InitWinFontSubstitute, &FiniWinFontSubstitute},
    {"winTextElement", &InitWinTextElement, &FiniWinTextElement},
    {"winTextVectorizer", &InitWinTextVectorizer, &FiniWinTextVectorizer},
};
}  // namespace

std::span<const TModule> WinFontModules() { return kWinFontModules; }

}  // namespace zm
