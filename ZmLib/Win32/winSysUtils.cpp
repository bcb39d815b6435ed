#include "ZmLib/Win32/winSysUtils.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>

#include "Platform/PlatSystem.h"
#include "Platform/PlatText.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Win32/SysObj2.h"

namespace zm {

namespace {
std::atomic<std::uint32_t> gStartTicks{0};
std::uint8_t gVersionClass = 13;
TOSVersion gVersion;
TSysLocale gLocale;

WideString Widen(std::string_view s) { return WideString(s.begin(), s.end()); }
}  // namespace

// ---- Clock ------------------------------------------------------------------------

std::uint32_t GetTimeMs() { return plat::TickCount32() - gStartTicks.load(std::memory_order_relaxed); }
void SleepMs(std::uint32_t ms) { plat::SleepMs(ms); }
void WinTimeBeginPeriod(std::uint32_t) {}
void WinTimeEndPeriod(std::uint32_t) {}

void WinGetLocalTime(TSystemTime& t) {
  plat::TLocalTime l = plat::LocalTimeNow();
  t.wYear = l.Year;
  t.wMonth = l.Month;
  t.wDayOfWeek = l.DayOfWeek;
  t.wDay = l.Day;
  t.wHour = l.Hour;
  t.wMinute = l.Minute;
  t.wSecond = l.Second;
  t.wMilliseconds = l.Milliseconds;
}

// ---- Version ------------------------------------------------------------------------

std::uint8_t ComputeWindowsVersionClass(const TOSVersion& v) {
  if (v.Major < 3) return 0;
  if (v.Major == 3) return 6;
  if (v.Major == 4) {
    if (v.Minor < 10) return 1;
    if (v.Minor < 90) return v.ServicePack == "A" ? 4 : 3;
    return 5;
  }
  if (v.Major == 5) {
    if (v.Minor == 0) return 7;
    if (v.Minor == 1) return 8;
    return 9;
  }
  if (v.Major == 6) {
    if (v.Minor == 0) return 10;
    if (v.Minor == 1) return 11;
    if (v.Minor == 2) return 12;
  }
  return 13;
}

const TOSVersion& OSVersion() { return gVersion; }
std::uint8_t GetWindowsVersion() { return gVersionClass; }
bool IsWin9x() { return gVersionClass >= 1 && gVersionClass <= 5; }
bool IsWin2000OrLater() { return gVersionClass >= 7 && gVersionClass <= 13; }

// ---- Locale and language names ----------------------------------------------------------

namespace {

struct TLangEntry {
  const char* Iso;
  const char* Name;
};

// Primary language ids 1..56.
const TLangEntry kLanguages[56] = {
    {"ar", "Arabic"},     {"bg", "Bulgarian"},  {"ca", "Catalan"},    {"zh", "Chinese"},
    {"cs", "Czech"},      {"da", "Danish"},     {"de", "German"},     {"el", "Greek"},
    {"en", "English"},    {"es", "Spanish"},    {"fi", "Finnish"},    {"fr", "French"},
    {"he", "Hebrew"},     {"hu", "Hungarian"},  {"is", "Icelandic"},  {"it", "Italian"},
    {"ja", "Japanese"},   {"ko", "Korean"},     {"nl", "Dutch"},      {"no", "Norwegian"},
    {"pl", "Polish"},     {"pt", "Portugese"},  {"rm", "Rhaeto-Romanic"}, {"ro", "Romanian"},
    {"ru", "Russian"},    {"hr", "Croatian"},   {"sk", "Slovak"},     {"sq", "Albanian"},
    {"sv", "Swedish"},    {"th", "Thai"},       {"tr", "Turkish"},    {"ur", "Urdu"},
    {"id", "Indonesian"}, {"uk", "Ukrainian"},  {"be", "Belarusian"}, {"sl", "Slovenian"},
    {"et", "Estonian"},   {"lv", "Latvian"},    {"lt", "Lithuanian"}, {"tg", "Tajik"},
    {"fa", "Farsi"},      {"vi", "Vietnamese"}, {"hy", "Armenian"},   {"az", "Azeri"},
    {"eu", "Basque"},     {"hsb", "Sorbian"},   {"mk", "Macedonian"}, {"st", "Sutu"},
    {"ts", "Tsonga"},     {"tn", "Tswana"},     {"ve", "Venda"},      {"xh", "Xhosa"},
    {"zu", "Zulu"},       {"af", "Afrikaans"},  {"ka", "Georgian"},   {"fo", "Faeroese"},
};

struct TRegionEntry {
  std::uint16_t Primary;
  std::uint16_t Sub;
  const char* Region;  // ISO 3166 code, or a script tag
  const char* Name;
};

const TRegionEntry kRegions[] = {
    {0x01, 1, "SA", "Arabic (Saudi Arabia)"}, {0x01, 2, "IQ", "Arabic (Iraq)"},
    {0x01, 3, "EG", "Arabic (Egypt)"},        {0x01, 4, "LY", "Arabic (Libya)"},
    {0x01, 5, "DZ", "Arabic (Algeria)"},      {0x01, 6, "MA", "Arabic (Morocco)"},
    {0x01, 7, "TN", "Arabic (Tunisia)"},      {0x01, 8, "OM", "Arabic (Oman)"},
    {0x01, 9, "YE", "Arabic (Yemen)"},        {0x01, 10, "SY", "Arabic (Syria)"},
    {0x01, 11, "JO", "Arabic (Jordan)"},      {0x01, 12, "LB", "Arabic (Lebanon)"},
    {0x01, 13, "KW", "Arabic (Kuwait)"},      {0x01, 14, "AE", "Arabic (U.A.E.)"},
    {0x01, 15, "BH", "Arabic (Bahrain)"},     {0x01, 16, "QA", "Arabic (Qatar)"},
    {0x04, 1, "TW", "Chinese (Taiwan)"},      {0x04, 2, "CN", "Chinese (PRC)"},
    {0x04, 3, "HK", "Chinese (Hong Kong)"},   {0x04, 4, "SG", "Chinese (Singapore)"},
    {0x07, 2, "CH", "German (Swiss)"},        {0x07, 3, "AT", "German (Austrian)"},
    {0x07, 4, "LU", "German (Luxembourg)"},   {0x07, 5, "LI", "German (Liechtenstein)"},
    {0x09, 1, "US", "English (US)"},          {0x09, 2, "GB", "English (UK)"},
    {0x09, 3, "AU", "English (Australian)"},  {0x09, 4, "CA", "English (Canadian)"},
    {0x09, 5, "NZ", "English (New Zealand)"}, {0x09, 6, "IE", "English (Ireland)"},
    {0x09, 7, "ZA", "English (South Africa)"}, {0x09, 8, "JM", "English (Jamaica)"},
    {0x09, 9, "029", "English (Caribbean)"},  {0x09, 10, "BZ", "English (Belize)"},
    {0x09, 11, "TT", "English (Trinidad)"},
    {0x0C, 2, "BE", "French (Belgian)"},      {0x0C, 3, "CA", "French (Canadian)"},
    {0x0C, 4, "CH", "French (Swiss)"},        {0x0C, 5, "LU", "French (Luxembourg)"},
    {0x10, 2, "CH", "Italian (Swiss)"},       {0x13, 2, "BE", "Dutch (Belgian)"},
    {0x16, 1, "BR", "Portugese (Brazilian)"}, {0x1A, 2, "latin", "Serbian (Latin)"},
    {0x1A, 3, "cyrillic", "Serbian (Cyrillic)"},
};

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return r;
}

}  // namespace

std::uint32_t LocaleNameToLCID(std::string_view name) {
  // language[_REGION][.codeset][@modifier]
  std::string_view lang = name, region, modifier;
  if (auto at = lang.find('@'); at != std::string_view::npos) {
    modifier = lang.substr(at + 1);
    lang = lang.substr(0, at);
  }
  if (auto dot = lang.find('.'); dot != std::string_view::npos) lang = lang.substr(0, dot);
  if (auto us = lang.find('_'); us != std::string_view::npos) {
    region = lang.substr(us + 1);
    lang = lang.substr(0, us);
  }
  std::string l = Lower(lang);
  if (l == "nb" || l == "nn") l = "no";
  std::uint16_t primary = 0, sub = 1;
  if (l == "sr") {
    primary = 0x1A;
    sub = Lower(modifier) == "latin" ? 2 : 3;
  } else {
    for (int i = 0; i < 56; ++i)
      if (l == kLanguages[i].Iso) primary = static_cast<std::uint16_t>(i + 1);
  }
  if (primary == 0) return 1033;
  if (primary == 0x16) sub = 2;  // Portugal unless the region says Brazil
  if (primary != 0x1A && !region.empty()) {
    for (const TRegionEntry& r : kRegions)
      if (r.Primary == primary && region == r.Region) sub = r.Sub;
  }
  return (std::uint32_t(sub) << 10) | primary;
}

std::uint32_t AnsiCodePageOfLCID(std::uint32_t lcid) {
  const std::uint32_t primary = lcid & 0x3FF, sub = (lcid >> 10) & 0x3F;
  switch (primary) {
    case 0x01: case 0x20: case 0x29: return 1256;                      // Arabic, Urdu, Farsi
    case 0x02: case 0x19: case 0x22: case 0x23: case 0x28: case 0x2F:  // Cyrillic
      return 1251;
    case 0x04: return sub == 2 || sub == 4 ? 936 : 950;                // Chinese: PRC, Singapore
    case 0x05: case 0x0E: case 0x15: case 0x18: case 0x1B: case 0x1C: case 0x24:
      return 1250;                                                     // Central European
    case 0x08: return 1253;
    case 0x0D: return 1255;
    case 0x11: return 932;
    case 0x12: return 949;
    case 0x1A: return sub == 3 ? 1251 : 1250;                          // Serbian (Cyrillic), else Latin
    case 0x1E: return 874;
    case 0x1F: case 0x2C: return 1254;                                 // Turkish, Azeri
    case 0x25: case 0x26: case 0x27: return 1257;                      // Baltic
    case 0x2A: return 1258;
    default: return 1252;
  }
}

void ApplyLocaleCodePage() {
  std::string name;
  std::uint32_t lcid = 1033;
  if ((plat::GetEnv("LC_ALL", name) && !name.empty()) || (plat::GetEnv("LC_CTYPE", name) && !name.empty()) ||
      (plat::GetEnv("LANG", name) && !name.empty()))
    lcid = LocaleNameToLCID(name);
  plat::SetAnsiCodePage(AnsiCodePageOfLCID(lcid));
}

WideString LanguageNameOf(std::uint32_t lcid, const WideString& defaultName) {
  std::uint32_t primary = lcid & 0x3FF;
  std::uint32_t sub = (lcid >> 10) & 0x3F;
  if (primary < 1 || primary > 56) return defaultName;
  for (const TRegionEntry& r : kRegions)
    if (r.Primary == primary && r.Sub == sub) return Widen(r.Name);
  return Widen(kLanguages[primary - 1].Name);
}

void GetSysLocale(TSysLocale& l) { l = gLocale; }

WideString GetLanguageName(const WideString& defaultName) { return LanguageNameOf(gLocale.DefaultLCID, defaultName); }

// ---- Environment and libraries ---------------------------------------------------------

WideString ExpandEnvStrings(const WideString& s) {
  WideString out;
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] == u'%') {
      std::size_t end = s.find(u'%', i + 1);
      if (end != WideString::npos && end > i + 1) {
        std::string name = plat::ToUtf8(s.substr(i + 1, end - i - 1));
        std::string value;
        if (plat::GetEnv(name, value)) {
          out += plat::FromUtf8(value);
          i = end + 1;
          continue;
        }
        // Unknown: keep the text and go on after the first '%'.
      }
    }
    out += s[i++];
  }
  return out;
}

namespace {

// Libraries a show names by their Windows file names, and what stands in for
// them here (in the code folder).
struct TLibraryMapEntry {
  const char* Name;  // lower case
  const char* Library;
};
const TLibraryMapEntry kLibraryMap[] = {
    {"oruogg.dll", "liboruogg.so"},
    {"oruwma.dll", "liboruwma.so"},
};

std::string FileNameOf(const std::string& path) {
  const std::size_t cut = path.rfind('/');
  return Lower(cut == std::string::npos ? path : path.substr(cut + 1));
}

const char* MappedLibrary(const std::string& path) {
  const std::string file = FileNameOf(path);
  for (const TLibraryMapEntry& e : kLibraryMap)
    if (file == e.Name) return e.Library;
  return nullptr;
}

// A Windows library's name (the visual styles, the media runtime ...): no
// such library exists here, whatever file of that name lies about.
bool IsWindowsLibraryName(const std::string& path) {
  const std::string file = FileNameOf(path);
  return file.size() > 4 && file.compare(file.size() - 4, 4, ".dll") == 0;
}

// A Windows binary (as a show carries them) starts with "MZ"; it cannot run here.
bool IsWindowsBinary(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  char magic[2] = {0, 0};
  return f.read(magic, 2) && magic[0] == 'M' && magic[1] == 'Z';
}

}  // namespace

std::string CodeFolder() {
#ifdef ZM_CODE_DIR
  std::string folder = ZM_CODE_DIR;
#else
  std::string folder;
#endif
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

void* WinLoadLibraryA(const std::string& name) {
  if (name.empty()) return nullptr;
  std::string path = name;
  for (char& c : path)
    if (c == '\\') c = '/';
  const std::string folder = CodeFolder();
  // A plug-in's name stands for our own library wherever the file lies and
  // whatever it holds: a file a show brought is never run.
  if (const char* mapped = MappedLibrary(path)) return folder.empty() ? nullptr : plat::LoadLibrary(folder + mapped);
  if (IsWindowsLibraryName(path)) return nullptr;
  // A bare name: the system's search only.
  if (path.find('/') == std::string::npos) return plat::LoadLibrary(path);
  if (path[0] != '/') {
    if (folder.empty()) return nullptr;
    path = folder + path;
  }
  if (IsWindowsBinary(path)) return nullptr;
  return plat::LoadLibrary(path);
}

void* WinLoadLibraryW(const WideString& name) { return WinLoadLibraryA(plat::ToUtf8(name)); }

void* WinGetProcAddress(void* module, const char* nameOrOrdinal) {
  if (reinterpret_cast<std::uintptr_t>(nameOrOrdinal) < 65536) return nullptr;
  return plat::LibrarySymbol(module, nameOrOrdinal);
}

void WinFreeLibrary(void* module) { plat::FreeLibrary(module); }

std::int32_t WinInterlockedExchange(std::int32_t& target, std::int32_t value) {
  return std::atomic_ref<std::int32_t>(target).exchange(value);
}

// ---- Numbers ---------------------------------------------------------------------------

std::string IntToHexA(std::int64_t v, int digits) {
  char buf[17];
  auto r = std::to_chars(buf, buf + sizeof buf, static_cast<std::uint64_t>(v), 16);
  std::string s(buf, r.ptr);
  for (char& c : s)
    if (c >= 'a' && c <= 'f') c = char(c - 32);
  if (digits > 64) digits = 64;
  if (static_cast<int>(s.size()) < digits) s.insert(0, static_cast<std::size_t>(digits) - s.size(), '0');
  return s;
}

WideString IntToHex(std::int64_t v, int digits) { return Widen(IntToHexA(v, digits)); }

std::string IntToStrA(std::int64_t v) { return std::to_string(v); }
WideString IntToStr(std::int64_t v) { return Widen(IntToStrA(v)); }

WideString PadLeft(std::int64_t v, int width, char16_t ch) {
  WideString s = IntToStr(v);
  if (width > 4096) width = 4096;
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<std::size_t>(width) - s.size(), ch);
  return s;
}

WideString FloatToStrDigits(double v, int decimals) {
  if (std::isnan(v)) return u"NAN";
  if (std::isinf(v)) return v > 0 ? u"INF" : u"-INF";
  if (decimals < 0) decimals = 0;
  if (decimals > 18) decimals = 18;
  char buf[512];
  std::to_chars_result r;
  if (std::fabs(v) >= 1e18)
    r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, decimals);
  else
    r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  std::string s(buf, r.ptr);
  for (char& c : s)
    if (c == 'e') c = 'E';
  if (s.find('E') == std::string::npos && s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return Widen(s);
}

std::int64_t MulDiv64(std::int64_t a, std::int64_t b, std::int64_t c) {
  if (c == 0) throw EDivByZero("Division by zero");
  __int128 p = static_cast<__int128>(a) * b / c;
  if (p > INT64_MAX) return INT64_MAX;
  if (p < INT64_MIN) return INT64_MIN;
  return static_cast<std::int64_t>(p);
}

bool CompareMem(const void* p, const void* q, std::size_t len) { return len == 0 || std::memcmp(p, q, len) == 0; }

bool SameGUID(const TGUID& a, const TGUID& b) {
  return a.D1 == b.D1 && a.D2 == b.D2 && a.D3 == b.D3 && std::memcmp(a.D4, b.D4, 8) == 0;
}

bool IsRectEmpty(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

void NewGUID(TGUID& g) {
  std::uint8_t b[16];
  plat::RandomBytes(b, sizeof b);
  b[7] = static_cast<std::uint8_t>((b[7] & 0x0F) | 0x40);  // version 4 (high nibble of D3)
  b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  g.D1 = ReadLE32(b, 0);
  g.D2 = static_cast<std::uint16_t>(b[4] | (b[5] << 8));
  g.D3 = static_cast<std::uint16_t>(b[6] | (b[7] << 8));
  std::memcpy(g.D4, b + 8, 8);
}

WideString GUIDToString(const TGUID& g) {
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "{" + temporary.
  std::string s;
  s.reserve(38);
  s += '{';
  s += IntToHexA(g.D1, 8);
  s += '-';
  s += IntToHexA(g.D2, 4);
  s += '-';
  s += IntToHexA(g.D3, 4);
  s += '-';
  for (int i = 0; i < 8; ++i) {
    if (i == 2) s += "-";
    s += IntToHexA(g.D4[i], 2);
  }
  s += "}";
  return Widen(s);
}

std::uint32_t ReadLE32(const void* p, std::size_t offset) {
  const auto* b = static_cast<const std::uint8_t*>(p) + offset;
  return std::uint32_t(b[0]) | (std::uint32_t(b[1]) << 8) | (std::uint32_t(b[2]) << 16) | (std::uint32_t(b[3]) << 24);
}

std::uint32_t ReadBE32(const void* p, std::size_t offset) {
  const auto* b = static_cast<const std::uint8_t*>(p) + offset;
  return (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) | std::uint32_t(b[3]);
}

std::uint64_t ReadLE64(const void* p, std::size_t offset) {
  return std::uint64_t(ReadLE32(p, offset)) | (std::uint64_t(ReadLE32(p, offset + 4)) << 32);
}

float ReadSingle(const void* p, std::size_t offset) {
  std::uint32_t u = ReadLE32(p, offset);
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}

void WriteLE32(void* p, std::size_t offset, std::uint32_t v) {
  auto* b = static_cast<std::uint8_t*>(p) + offset;
  b[0] = std::uint8_t(v);
  b[1] = std::uint8_t(v >> 8);
  b[2] = std::uint8_t(v >> 16);
  b[3] = std::uint8_t(v >> 24);
}

// ---- Dates and times -----------------------------------------------------------------------

bool IsLeapYear(int y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

std::int32_t DayNumber(const TSystemTime& t) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  std::int32_t y = t.wYear > 0 ? t.wYear - 1 : 0;
  std::int32_t n = 365 * y + y / 4 - y / 100 + y / 400;
  int month = t.wMonth < 1 ? 1 : (t.wMonth > 12 ? 12 : t.wMonth);
  for (int m = 1; m < month; ++m) n += (m == 2 && IsLeapYear(t.wYear)) ? 29 : kDays[m - 1];
  return n + t.wDay;
}

int DayOfWeek(const TSystemTime& t) { return DayNumber(t) % 7; }

WideString FormatDate(const TSystemTime& t, const WideString& format) {
  WideString out;
  std::size_t i = 0;
  while (i < format.size()) {
    char16_t c = format[i];
    if (c == u'\'') {
      ++i;
      continue;
    }
    if (c == u'D' || c == u'M' || c == u'Y') {
      std::size_t run = 0;
      while (i + run < format.size() && format[i + run] == c) ++run;
      int value = c == u'D' ? t.wDay : c == u'M' ? t.wMonth : t.wYear;
      out += PadLeft(value, static_cast<int>(run), u'0');
      i += run;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

WideString FormatTime(const TSystemTime& t, int parts) {
  WideString out;
  if (parts & kTimeHours) out += PadLeft(t.wHour, 2, u'0');
  // Separator and number appended apart: GCC 12 warns falsely (-Wrestrict)
  // on u":" + temporary.
  auto part = [&out](char16_t separator, std::int64_t value, int width) {
    out += separator;
    out += PadLeft(value, width, u'0');
  };
  if (parts & kTimeMinutes) part(u':', t.wMinute, 2);
  if (parts & kTimeSeconds) part(u':', t.wSecond, 2);
  if (parts & kTimeMs) part(u'.', t.wMilliseconds, 3);
  return out;
}

WideString SystemTimeToStr(const TSystemTime& t, const WideString& format, int parts) {
  return FormatDate(t, format) + u" " + FormatTime(t, parts);
}

WideString MonthNameGenitive(const WideString& name) {
  WideString s = name;
  if (s.empty()) return s;
  char16_t last = s.back();
  if (last == u'\u0439' || last == u'\u044C')
    s.back() = u'\u044F';
  else if (last == u'\u0442')
    s += u'\u0430';
  if (s[0] >= u'\u0410' && s[0] <= u'\u042F') s[0] = static_cast<char16_t>(s[0] + 0x20);
  return s;
}

WideString LongMonthNames[12];
WideString ShortMonthNames[12];
WideString LongDayNames[7];
WideString ShortDayNames[7];

// ---- Module ---------------------------------------------------------------------------------

void InitWinSysUtils() {
  gStartTicks.store(plat::TickCount32());
  gVersion = TOSVersion{};  // reported as NT 10.0
  gVersionClass = ComputeWindowsVersionClass(gVersion);
  TSysLocale l;
  std::string name;
  if ((plat::GetEnv("LC_ALL", name) && !name.empty()) || (plat::GetEnv("LC_MESSAGES", name) && !name.empty()) ||
      (plat::GetEnv("LANG", name) && !name.empty()))
    l.DefaultLCID = LocaleNameToLCID(name);
  if (l.DefaultLCID == 0) l.DefaultLCID = 1033;
  l.PriLangID = l.DefaultLCID & 0x3FF;
  l.SubLangID = (l.DefaultLCID >> 10) & 0x3F;
  l.FarEast = false;
  l.MiddleEast = true;
  gLocale = l;
  ApplyLocaleCodePage();
}

void FiniWinSysUtils() { plat::SetAnsiCodePage(plat::kDefaultAnsiCodePage); }

}  // namespace zm
