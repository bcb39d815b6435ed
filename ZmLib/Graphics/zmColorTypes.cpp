#include "ZmLib/Graphics/zmColorTypes.h"

#include <algorithm>

#include "ZmLib/zmByteStringList.h"

namespace zm {

namespace {

// A field "#hex" is read as hexadecimal digits, any other as a signed
// decimal; a missing or empty field, or a bad digit, gives def.
std::int32_t ParseColorPart(const TCommaList& list, std::int32_t n, std::int32_t def, bool& hex) {
  hex = false;
  std::int32_t start, len;
  if (!list.GetBounds(n, start, len)) return def;
  if (list.Text.GetByte(start) == '#') {
    hex = true;
    return list.Text.HexToIntDef(start + 1, len - 1, def);
  }
  return list.Text.ToIntDef(start, len, def);
}

std::uint8_t LowByte(std::int32_t v) { return static_cast<std::uint8_t>(static_cast<std::uint32_t>(v)); }

}  // namespace

// ---- Colour text --------------------------------------------------------------

TColor32 StrToColor32Def(const TByteString& text, TColor32 def) {
  TCommaList list;
  MakeCommaList(text, ',', list);
  const std::int32_t n = list.Count();
  TColor32 c;
  bool hex;
  if (n == 1 || n == 2) {
    std::uint32_t v = static_cast<std::uint32_t>(ParseColorPart(list, 0, 0, hex));
    if (hex) {
      c.B = std::uint8_t(v);
      c.G = std::uint8_t(v >> 8);
      c.R = std::uint8_t(v >> 16);
    } else {
      c.R = std::uint8_t(v);
      c.G = std::uint8_t(v >> 8);
      c.B = std::uint8_t(v >> 16);
    }
    std::int32_t a = ParseColorPart(list, 1, 255, hex);
    c.A = LowByte(std::min(a, 255));
    return c;
  }
  if (n == 3 || n == 4) {
    c.R = LowByte(list.GetInt(0, 0));
    c.G = LowByte(list.GetInt(1, 0));
    c.B = LowByte(list.GetInt(2, 0));
    c.A = LowByte(list.GetInt(3, 255));
    return c;
  }
  return def;
}

TColor32 ByteStrToColor32(const TByteString& text) { return StrToColor32Def(text, TColor32{}); }

TColor32 StrToColor32(const WideString& text) { return ByteStrToColor32(WideToByteString(text)); }

// ---- Conversions ----------------------------------------------------------------

TColor24 RGBToColor24(std::uint8_t r, std::uint8_t g, std::uint8_t b) { return {b, g, r}; }

TColor32 MakeColor32(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) { return {b, g, r, a}; }

TColor32 Color24ToColor32(std::uint8_t a, TColor24 c) { return {c.B, c.G, c.R, a}; }

TColor32 TransparentColor32(TColor32 c) {
  c.A = 0;
  return c;
}

TColorRef Color32ToColorRef(TColor32 c) {
  return std::uint32_t(c.R) | std::uint32_t(c.G) << 8 | std::uint32_t(c.B) << 16;
}

TColor24 ColorRefToColor24(TColorRef v) { return {std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)}; }

TColor32 ColorRefToColor32(TColorRef v, std::uint8_t a) { return Color24ToColor32(a, ColorRefToColor24(v)); }

TColor32 AverageColor32(TColor32 c1, TColor32 c2) {
  return {std::uint8_t((c1.B + c2.B) >> 1), std::uint8_t((c1.G + c2.G) >> 1), std::uint8_t((c1.R + c2.R) >> 1),
          std::uint8_t((c1.A + c2.A) >> 1)};
}

TColor32 BlendColor32(TColor32 c1, TColor32 c2, std::int32_t w) {
  w = std::clamp(w, 0, 256);
  auto mix = [w](int a, int b) { return std::uint8_t(a + (b - a) * w / 256); };
  return {mix(c1.B, c2.B), mix(c1.G, c2.G), mix(c1.R, c2.R), mix(c1.A, c2.A)};
}

bool SameRGB(TColor32 c1, TColor32 c2) { return c1.B == c2.B && c1.G == c2.G && c1.R == c2.R; }

bool SameColor32(TColor32 c1, TColor32 c2, bool bothClearEqual) {
  return c1 == c2 || (bothClearEqual && c1.A == 0 && c2.A == 0);
}

void BlendOverColor32(TColor32& dest, TColor32 source) {
  const int sa = source.A, da = dest.A;
  if (sa == 0) return;
  if (sa == 255 || da == 0) {
    dest = source;
    return;
  }
  if (da == 255) {
    auto over = [sa](std::uint8_t& d, int s) { d = std::uint8_t(d + (((s - d) * sa) >> 8)); };
    over(dest.B, source.B);
    over(dest.G, source.G);
    over(dest.R, source.R);
    return;
  }
  // Both partly transparent: the combined alpha, and the colours weighted by
  // the alpha each side contributes.
  const int a = sa + da - ((sa * da) >> 8);
  const int f = 65536 / a;
  auto over = [sa, da, f](std::uint8_t& d, int s) {
    const int dp = d * da;
    d = std::uint8_t(((dp + (s - (dp >> 8)) * sa) * f) >> 16);  // stays within 0..255
  };
  over(dest.B, source.B);
  over(dest.G, source.G);
  over(dest.R, source.R);
  dest.A = std::uint8_t(a >= 256 ? 255 : a);
}

// ---- Text appearance ------------------------------------------------------------

TFontParams MakeFontParams(const WideString& name, std::uint8_t style, bool transparent, float size,
                           TColor24 textColor, TColor24 backColor) {
  TFontParams p;
  p.Name = name;
  p.Size = size;
  p.Style = style;
  p.TextColor = textColor;
  p.BackColor = backColor;
  p.Transparency = transparent ? tmKeyed : tmOpaque;
  return p;
}

bool AssignFontParams(TFontParams& dest, const TFontParams& source, std::uint32_t mask) {
  bool changed = false;
  if ((mask & fpName) && dest.Name != source.Name) {
    dest.Name = source.Name;
    changed = true;
  }
  if ((mask & fpSize) && dest.Size != source.Size) {
    dest.Size = source.Size;
    changed = true;
  }
  if ((mask & fpStyle) && dest.Style != source.Style) {
    dest.Style = source.Style;
    changed = true;
  }
  if ((mask & fpColors) && !SameFontColors(dest, source)) {
    dest.TextColor = source.TextColor;
    dest.BackColor = source.BackColor;
    dest.Transparency = source.Transparency;
    changed = true;
  }
  return changed;
}

bool SameFontFace(const TFontParams& a, const TFontParams& b) {
  return a.Name == b.Name && a.Size == b.Size && a.Style == b.Style;
}

bool SameFontColors(const TFontParams& a, const TFontParams& b) {
  return a.Transparency == b.Transparency && a.TextColor == b.TextColor &&
         (a.Transparency == tmAutoKey || a.BackColor == b.BackColor);
}

bool IsTransparentText(const TFontParams& p) { return p.Transparency != tmOpaque; }

void SetTransparentText(TFontParams& p, bool on) {
  if (!on) p.Transparency = tmOpaque;
  else if (p.Transparency == tmOpaque) p.Transparency = tmAutoKey;
}

}  // namespace zm
