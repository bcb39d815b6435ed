#include "ZmLib/Graphics/zmGeneratorKeys.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace zm {

namespace {

WideString KeyInt(std::int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return WideString(buf, r.ptr);
}

// Fixed-point text with trailing zeros and point removed; never an exponent.
// Values that are not finite are written as 0 so that keys stay parseable.
WideString KeyFloat(double v, int decimals) {
  if (!std::isfinite(v)) return u"0";
  char buf[400];  // the largest single in fixed form with 16 decimals fits
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  std::string s(buf, r.ptr);
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return WideString(s.begin(), s.end());
}

// ASCII copy of a field; false when it holds anything else.
bool Narrow(WideStringView field, std::string& out) {
  out.clear();
  for (char16_t c : field) {
    if (c == 0 || c > 127) return false;
    out.push_back(char(c));
  }
  return true;
}

// A whole field as a 32-bit decimal integer.
bool ReadInt(WideStringView field, std::int32_t& v) {
  std::string s;
  if (!Narrow(field, s) || s.empty()) return false;
  const char* b = s.data();
  const char* e = b + s.size();
  std::int32_t x = 0;
  auto r = std::from_chars(b, e, x);
  if (r.ec != std::errc() || r.ptr != e) return false;
  v = x;
  return true;
}

// A whole field as a finite number within the range of a single.
bool ReadFloat(WideStringView field, float& v) {
  std::string s;
  if (!Narrow(field, s) || s.empty()) return false;
  const char* b = s.data();
  const char* e = b + s.size();
  double x = 0;
  auto r = std::from_chars(b, e, x, std::chars_format::fixed);
  if (r.ec != std::errc() || r.ptr != e || !std::isfinite(x)) return false;
  if (std::fabs(x) > double(std::numeric_limits<float>::max())) return false;
  v = float(x);
  return true;
}

std::int32_t IntOr(WideStringView field, std::int32_t fallback) {
  std::int32_t v;
  return ReadInt(field, v) ? v : fallback;
}
float FloatOr(WideStringView field, float fallback) {
  float v;
  return ReadFloat(field, v) ? v : fallback;
}

// The fields of Key after its first Skip characters, split at ":"; the
// field number MaxFields takes the rest. No text after the prefix: no fields.
std::vector<WideStringView> SplitKey(const WideString& key, std::size_t skip, std::size_t maxFields) {
  std::vector<WideStringView> fields;
  if (key.size() <= skip) return fields;
  WideStringView rest(key);
  rest.remove_prefix(skip);
  while (fields.size() + 1 < maxFields) {
    std::size_t p = rest.find(u':');
    if (p == WideStringView::npos) break;
    fields.push_back(rest.substr(0, p));
    rest.remove_prefix(p + 1);
  }
  fields.push_back(rest);
  return fields;
}

WideStringView SkipBlanks(WideStringView f) {
  while (!f.empty() && f.front() == u' ') f.remove_prefix(1);
  return f;
}

constexpr std::size_t kShadowPrefixLen = 8;  // "Shadow: "
constexpr std::size_t kButtonPrefixLen = 8;  // "Button: "
constexpr std::size_t kMaskPrefixLen = 13;   // "PresetedMask:"

}  // namespace

WideString MakeShadowKey(const TShadowParams& p) {
  WideString k = kShadowKeyPrefix;
  const WideString c = u":";
  k += KeyFloat(p.Left, 2) + c + KeyFloat(p.Top, 2) + c + KeyFloat(p.Right, 2) + c + KeyFloat(p.Bottom, 2) + c;
  k += KeyFloat(p.MarginX, 2) + c + KeyFloat(p.MarginY, 2) + c;
  k += KeyInt(p.BackAlpha) + c + KeyFloat(p.Blur, 16) + c + KeyInt(p.Contour) + c;
  k += KeyInt(p.Direction) + c + KeyInt(p.StartOpacity) + c + KeyInt(p.EndOpacity) + c;
  k += KeyInt(p.MipLevel) + c + p.Name;
  return k;
}

void ParseShadowKey(const WideString& key, TShadowParams& p) {
  // The fields start right after the 8-character prefix.
  if (key.size() < 9) return;
  auto f = SplitKey(key, kShadowPrefixLen, 14);
  float* floats[6] = {&p.Left, &p.Top, &p.Right, &p.Bottom, &p.MarginX, &p.MarginY};
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (i < 6) {
      *floats[i] = FloatOr(f[i], 0);
      continue;
    }
    switch (i) {
      case 6: p.BackAlpha = IntOr(f[i], 255); break;
      case 7: p.Blur = FloatOr(f[i], 0); break;
      case 8: p.Contour = IntOr(f[i], 0); break;
      case 9: p.Direction = std::uint8_t(IntOr(f[i], 8)); break;
      case 10: p.StartOpacity = std::uint8_t(IntOr(f[i], 0)); break;
      case 11: p.EndOpacity = std::uint8_t(IntOr(f[i], 0)); break;
      case 12: p.MipLevel = IntOr(f[i], 0); break;
      case 13: p.Name = WideString(f[i]); break;
      default: break;
    }
  }
}

WideString MakeButtonKey(const WideString& skinName, std::uint8_t state, std::int32_t width, std::int32_t hue,
                         std::int32_t saturation, std::int32_t lightness) {
  WideString k = kButtonKeyPrefix;
  const WideString c = u":";
  k += skinName + c + KeyInt(state) + c + KeyInt(width) + c + KeyInt(hue) + c + KeyInt(saturation) + c +
       KeyInt(lightness);
  return k;
}

WideString MakeButtonKey(const TButtonKeyParams& p) {
  return MakeButtonKey(p.SkinName, p.State, p.Width, p.Hue, p.Saturation, p.Lightness);
}

void ParseButtonKey(const WideString& key, TButtonKeyParams& p) {
  auto f = SplitKey(key, kButtonPrefixLen, 6);
  // The last field must not swallow what follows it: six fields at most.
  if (f.size() == 6) {
    WideStringView last = f[5];
    std::size_t colon = last.find(u':');
    if (colon != WideStringView::npos) f[5] = last.substr(0, colon);
  }
  for (std::size_t i = 0; i < f.size(); ++i) {
    switch (i) {
      case 0: p.SkinName = WideString(f[i]); break;
      case 1: p.State = std::uint8_t(IntOr(f[i], 0)); break;
      case 2: p.Width = IntOr(f[i], 0); break;
      case 3: p.Hue = IntOr(f[i], 0); break;
      case 4: p.Saturation = IntOr(f[i], 0); break;
      case 5: p.Lightness = IntOr(f[i], 0); break;
      default: break;
    }
  }
}

WideString MakeMaskKey(const TMaskParams& p) {
  WideString k = kMaskKeyPrefix;
  const WideString c = u":";
  k += KeyInt(p.Width) + c + KeyInt(p.Height) + c + KeyInt(p.Shape) + c + KeyFloat(p.Softness, 16) + c +
       KeyFloat(p.CornerSize, 16);
  return k;
}

void ParseMaskKey(const WideString& key, TMaskParams& p) {
  if (key.size() < 14) return;
  auto f = SplitKey(key, kMaskPrefixLen, 5);
  if (f.size() == 5) {
    WideStringView last = f[4];
    std::size_t colon = last.find(u':');
    if (colon != WideStringView::npos) f[4] = last.substr(0, colon);
  }
  for (std::size_t i = 0; i < f.size(); ++i) {
    WideStringView v = SkipBlanks(f[i]);
    switch (i) {
      case 0: p.Width = IntOr(v, 512); break;
      case 1: p.Height = IntOr(v, 512); break;
      case 2: {
        std::int32_t s = IntOr(v, 0);
        p.Shape = (s == kMaskEllipse) ? kMaskEllipse : kMaskRoundRect;
        break;
      }
      case 3: p.Softness = FloatOr(v, 0); break;
      case 4: p.CornerSize = FloatOr(v, 0); break;
      default: break;
    }
  }
}

}  // namespace zm
