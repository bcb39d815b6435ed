#include "ZmLib/VectorGraphics/zmTextKeys.h"

#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "ZmLib/Graphics/zmColorTypes.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpUnicode.h"

namespace zm {

const TTextKeyParams DefaultTextKeyParams{};

namespace {

constexpr const char16_t* kStyleWords[] = {u"Bold", u"Italic", u"Underline", u"StrikeOut"};

// The fields of a key from 0-based position From, cut at ":"; the field
// at index Last (and only it) runs to the end of the key.
std::vector<WideString> CutFields(const WideString& key, std::size_t from, std::size_t last) {
  std::vector<WideString> fields;
  std::size_t pos = std::min(from, key.size());
  while (fields.size() < last) {
    const std::size_t colon = key.find(u':', pos);
    if (colon == WideString::npos) {
      // The sentinel ":" ends the last complete field.
      fields.push_back(key.substr(pos));
      return fields;
    }
    fields.push_back(key.substr(pos, colon - pos));
    pos = colon + 1;
  }
  fields.push_back(key.substr(pos));
  return fields;
}

bool ReadDouble(const WideString& text, double& value) {
  std::string s;
  for (char16_t c : text) {
    if (c > 127) return false;
    s.push_back(char(c));
  }
  std::size_t from = (!s.empty() && s[0] == '+') ? 1 : 0;
  if (from >= s.size() || s[from] == '+' || (s[from] == '-' && from == 1)) return false;
  double v = 0;
  const char* e = s.data() + s.size();
  const auto r = std::from_chars(s.data() + from, e, v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != e || !std::isfinite(v)) return false;
  value = v;
  return true;
}

WideString Num(double v) { return FloatToStrDigits(v, 6); }

}  // namespace

WideString StyleToText(std::uint8_t style) {
  WideString s;
  for (int i = 0; i < 4; ++i) {
    if (!(style & (1 << i))) continue;
    if (!s.empty()) s += u',';
    s += kStyleWords[i];
  }
  return s;
}

std::uint8_t TextToStyle(const WideString& text) {
  std::uint8_t style = 0;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t comma = text.find(u',', pos);
    const WideString part = text.substr(pos, comma == WideString::npos ? WideString::npos : comma - pos);
    for (int i = 0; i < 4; ++i)
      if (part == kStyleWords[i]) style = std::uint8_t(style | (1 << i));
    if (comma == WideString::npos) return style;
    pos = comma + 1;
  }
}

WideString LinesToKeyText(TStringList& lines) {
  WideString s = u"\"";
  for (std::int32_t i = 0; i < lines.GetCount(); ++i) {
    if (i > 0) s += u"\r\n";
    s += lines.GetString(i);
  }
  s += u'"';
  return s;
}

void KeyTextToLines(const WideString& text, TStringList& lines) {
  lines.Clear();
  WideStringView rest(text);
  if (rest.size() >= 2) {
    if (rest.front() == u'"') rest.remove_prefix(1);
    if (!rest.empty() && rest.back() == u'"') rest.remove_suffix(1);
  }
  if (rest.empty()) return;
  std::size_t start = 0, i = 0;
  while (i < rest.size()) {
    const char16_t c = rest[i];
    if (c != u'\r' && c != u'\n') {
      ++i;
      continue;
    }
    lines.Add(WideString(rest.substr(start, i - start)));
    const char16_t pair = c == u'\r' ? u'\n' : u'\r';
    i += (i + 1 < rest.size() && rest[i + 1] == pair) ? 2 : 1;
    start = i;
  }
  lines.Add(WideString(rest.substr(start)));
}

WideString MakeTextKey(TStringList& lines, const TTextKeyParams& p) {
  WideString key = kTextKeyPrefix;
  key += p.FontName;
  key += u':';
  key += Num(p.Scale);
  key += u':';
  key += Num(p.OffsetX);
  key += u':';
  key += Num(p.OffsetY);
  key += u':';
  key += StyleToText(p.Style);
  key += u':';
  key += IntToStr(p.Alignment);
  key += u':';
  key += Num(p.SizeFactor);
  key += u':';
  key += FloatToStrDigits(p.LineSpacing, 2);
  key += u':';
  key += LinesToKeyText(lines);
  return key;
}

void ParseTextKey(const WideString& key, TStringList& lines, TTextKeyParams& p) {
  const std::vector<WideString> f = CutFields(key + u':', 6, 8);
  auto field = [&f](std::size_t i) { return i < f.size() ? f[i] : WideString(); };
  p.FontName = field(0);
  double d;
  if (ReadDouble(field(1), d)) p.Scale = d;
  if (ReadDouble(field(2), d) && std::fabs(d) <= 3.4e38) p.OffsetX = float(d);
  if (ReadDouble(field(3), d) && std::fabs(d) <= 3.4e38) p.OffsetY = float(d);
  p.Style = TextToStyle(field(4));
  std::int32_t n;
  if (TryStrToInt(field(5), n)) p.Alignment = std::uint8_t(n);
  if (ReadDouble(field(6), d)) p.SizeFactor = d;
  if (TryStrToInt(field(7), n)) p.LineSpacing = n;
  // The last field runs to the end of the key, without the sentinel.
  WideString text = field(8);
  if (!text.empty() && f.size() == 9) text.pop_back();
  else if (f.size() < 9) text.clear();
  KeyTextToLines(text, lines);
}

WideString MakeVectorTextKey(const WideString& textKey) {
  const std::vector<WideString> f = CutFields(textKey, 6, 8);
  auto field = [&f](std::size_t i) { return i < f.size() ? f[i] : WideString(); };
  return kVectorTextKeyPrefix + field(0) + u':' + field(4) + u':' + field(8);
}

void ParseVectorTextKey(const WideString& key, TStringList& lines, TVectorTextKeyParams& p) {
  const std::vector<WideString> f = CutFields(key + u':', 10, 2);
  auto field = [&f](std::size_t i) { return i < f.size() ? f[i] : WideString(); };
  p.FontName = field(0);
  p.Style = TextToStyle(field(1));
  WideString text = field(2);
  if (!text.empty() && f.size() == 3) text.pop_back();
  else if (f.size() < 3) text.clear();
  KeyTextToLines(text, lines);
}

// ---- Case marks ------------------------------------------------------------------------

WideString EncodeMarkedText(const WideString& text) {
  const WideString lower = LowerCase(text);
  WideString out;
  out.reserve(text.size() + 8);
  bool inRun = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const bool changes = i < lower.size() && lower[i] != c;
    if (changes) {
      if (!inRun) out += u'<';
      inRun = true;
      out += c;
      continue;
    }
    if (inRun) out += u'>';
    inRun = false;
    if (c == u'<') out += u"<<";
    else if (c == u'>') out += u">>";
    else out += c;
  }
  if (inRun) out += u'>';
  return out;
}

TRef<TStringList> EncodeMarkedLines(TStringList& lines) {
  TRef<TStringList> out = MakeRef<TStringList>();
  for (std::int32_t i = 0; i < lines.GetCount(); ++i) out->Add(EncodeMarkedText(lines.GetString(i)));
  return out;
}

WideString DecodeMarkedText(const WideString& text) {
  WideString out;
  out.reserve(text.size());
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const char16_t c = text[i];
    if (c == u'<' && i + 1 < n && text[i + 1] == u'<') {
      out += u'<';
      i += 2;
    } else if (c == u'>' && i + 1 < n && text[i + 1] == u'>') {
      out += u'>';
      i += 2;
    } else if (c == u'<' && i + 1 < n) {
      const std::size_t close = text.find(u'>', i + 1);
      const std::size_t end = close == WideString::npos ? n : close;
      out.append(text, i + 1, end - i - 1);
      i = close == WideString::npos ? n : close + 1;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace zm
