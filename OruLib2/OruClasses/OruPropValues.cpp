#include "OruLib2/OruClasses/OruPropValues.h"

#include <cmath>
#include <limits>

#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmByteStringList.h"

namespace oru {

using namespace zm;

namespace {

// A part as a 32-bit float; the default when it is not a number or lies
// beyond what a float holds.
float FloatPart(const TCommaList& parts, std::int32_t n, float def) {
  double v = parts.GetFloat(n, std::numeric_limits<double>::quiet_NaN());
  if (!std::isfinite(v) || std::fabs(v) > std::numeric_limits<float>::max()) return def;
  return static_cast<float>(v);
}

// A part as a 32-bit integer; false when it is none.
bool IntPart(const TCommaList& parts, std::int32_t n, std::int32_t& value) {
  value = parts.GetInt(n, 0);
  return value == parts.GetInt(n, 1);  // only a part that is no number takes either default
}

bool SplitItem(const TIniItem* item, TCommaList& parts) {
  if (!item) return false;
  MakeCommaList(item->GetValue(), ',', parts);
  return true;
}

std::int32_t SkipBlanks(const WideString& s, std::int32_t i) {
  while (i < static_cast<std::int32_t>(s.size()) && s[static_cast<std::size_t>(i)] == u' ') ++i;
  return i;
}

std::int32_t FieldInt(const WideString& field) {
  std::int32_t v = 0;
  return TryStrToInt(field, v) ? v : 0;
}

}  // namespace

bool IsFlagChar(const WideString& text) { return text.size() == 1 && IsFlagChar(text[0]); }

WideString FormatFloat6(double value) { return FloatToStrDigits(value, 6); }

TPoint ReadItemPoint(const TIniItem* item, TPoint def) {
  TCommaList parts;
  if (!SplitItem(item, parts) || parts.Count() != 2) return def;
  TPoint p;
  if (!IntPart(parts, 0, p.X) || !IntPart(parts, 1, p.Y)) return def;
  return p;
}

TPoint ReadItemPoint(const TIniList* section, const WideString& key, TPoint def) {
  return ReadItemPoint(IniFind(section, key), def);
}

TFloatRect ReadItemRectF(const TIniItem* item, const TFloatRect& def) {
  TCommaList parts;
  if (!SplitItem(item, parts) || parts.Count() != 4) return def;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const TFloatRect r{FloatPart(parts, 0, nan), FloatPart(parts, 1, nan), FloatPart(parts, 2, nan),
                     FloatPart(parts, 3, nan)};
  if (std::isnan(r.Left) || std::isnan(r.Top) || std::isnan(r.Right) || std::isnan(r.Bottom)) return def;
  return r;
}

TFloatPoint3 ReadItemVector3(const TIniItem* item, const TFloatPoint3& def) {
  TCommaList parts;
  if (!SplitItem(item, parts) || parts.Count() != 3) return def;
  return {FloatPart(parts, 0, def.X), FloatPart(parts, 1, def.Y), FloatPart(parts, 2, def.Z)};
}

TColor32 ReadItemColor(const TIniItem* item, TColor32 def) {
  return item ? StrToColor32Def(item->GetValue(), def) : def;
}

TColor24 ReadItemRGB(const TIniItem* item, TColor24 def) {
  TColor32 d{def.B, def.G, def.R, 255};
  TColor32 c = ReadItemColor(item, d);
  return {c.B, c.G, c.R};
}

std::uint8_t ReadItemFontStyle(const TIniItem* item) {
  TCommaList parts;
  if (!SplitItem(item, parts)) return 0;
  static constexpr struct {
    const char* Word;
    std::uint8_t Bit;
  } kWords[] = {{"Bold", fsBold}, {"Italic", fsItalic}, {"Underline", fsUnderline}, {"StrikeOut", fsStrikeOut}};
  std::uint8_t style = 0;
  for (std::int32_t n = 0; n < parts.Count(); ++n) {
    const TByteString part = parts.GetItem(n);
    std::string_view word = part.View();
    while (!word.empty() && word.front() == ' ') word.remove_prefix(1);
    while (!word.empty() && word.back() == ' ') word.remove_suffix(1);
    for (const auto& w : kWords)
      if (word == w.Word) style |= w.Bit;
  }
  return style;
}

TRGBBytes ColorToRGBBytes(std::int32_t value) {
  auto v = static_cast<std::uint32_t>(value);
  return {std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
}

bool ParseTextWithSizeKey(const WideString& key, std::int32_t& width, std::int32_t& height, WideString& text) {
  width = 0;
  height = 0;
  text.clear();
  const WideString prefix = kTextWithSizePrefix;
  if (key.compare(0, prefix.size(), prefix) != 0) return false;
  // Width and height end at the next ":"; the text takes everything after.
  std::int32_t pos = static_cast<std::int32_t>(prefix.size());
  const auto len = static_cast<std::int32_t>(key.size());
  std::int32_t* fields[2] = {&width, &height};
  for (std::int32_t* field : fields) {
    pos = SkipBlanks(key, pos);
    std::size_t colon = key.find(u':', static_cast<std::size_t>(pos));
    std::int32_t end = colon == WideString::npos ? len : static_cast<std::int32_t>(colon);
    *field = FieldInt(key.substr(static_cast<std::size_t>(pos), static_cast<std::size_t>(end - pos)));
    pos = end < len ? end + 1 : len;
  }
  pos = SkipBlanks(key, pos);
  text = key.substr(static_cast<std::size_t>(pos));
  return true;
}

}  // namespace oru
