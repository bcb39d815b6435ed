#pragma once
// The millisecond clock, the OS version class, locale and language names,
// environment expansion, library loading, and number, GUID and date texts
// in fixed formats (never the system locale).
#include <cstdint>
#include <string>

#include "ZmLib/zmTypes.h"

namespace zm {

// ---- Clock ------------------------------------------------------------------
// Milliseconds since the module started, in wrapping 32-bit arithmetic.
std::uint32_t GetTimeMs();
void SleepMs(std::uint32_t ms);
void WinTimeBeginPeriod(std::uint32_t ms);  // no effect: sleeps are fine-grained here
void WinTimeEndPeriod(std::uint32_t ms);
void WinGetLocalTime(TSystemTime& t);

// ---- Version -----------------------------------------------------------------
constexpr std::uint32_t VER_PLATFORM_WIN32s = 0;
constexpr std::uint32_t VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr std::uint32_t VER_PLATFORM_WIN32_NT = 2;

struct TOSVersion {
  std::uint32_t PlatformId = VER_PLATFORM_WIN32_NT;
  std::uint32_t Major = 10;
  std::uint32_t Minor = 0;
  std::uint32_t Build = 0;
  std::string ServicePack;
};

// The version class (0..13) of a version record.
std::uint8_t ComputeWindowsVersionClass(const TOSVersion& v);
const TOSVersion& OSVersion();
std::uint8_t GetWindowsVersion();
bool IsWin9x();
bool IsWin2000OrLater();

// ---- Locale -----------------------------------------------------------------
struct TSysLocale {
  std::uint32_t DefaultLCID = 1033;
  std::uint32_t PriLangID = 9;
  std::uint32_t SubLangID = 1;
  bool FarEast = false;
  bool MiddleEast = true;
  std::uint8_t LeadBytes[32] = {};  // 256-bit set
};

void GetSysLocale(TSysLocale& l);
// The locale id of a POSIX locale name such as "de_CH.UTF-8" (1033 when unknown).
std::uint32_t LocaleNameToLCID(std::string_view posixName);
// The Windows ANSI code page of a locale id's language (1252 for the
// Western European languages and for unknown ones).
std::uint32_t AnsiCodePageOfLCID(std::uint32_t lcid);
// Sets the code page that text without a byte-order mark is read in (when it
// is not valid UTF-8) from the locale of character handling: LC_ALL, else
// LC_CTYPE, else LANG, read as LocaleNameToLCID reads it. Start-up calls it.
void ApplyLocaleCodePage();
// English name of a locale's language and region; defaultName when unknown.
WideString LanguageNameOf(std::uint32_t lcid, const WideString& defaultName);
WideString GetLanguageName(const WideString& defaultName);

// ---- Environment and libraries ----------------------------------------------
// Expands %NAME% from the environment; unknown names stay as written.
WideString ExpandEnvStrings(const WideString& s);

// The folder the program loads its own libraries from, with its final "/":
// fixed when the program is built (the folder it is built in, or the one it
// is installed to), never the folder of the file it runs as, which a
// self-playing show shares with whatever lies beside it. Empty when the
// build gave none.
std::string CodeFolder();

// Libraries load from the code folder (relative names are taken there) or,
// by a bare name, from the system's library path; never from the program's
// folder or the current one. A plug-in's Windows name ("oruogg.dll",
// "oruwma.dll"), in any folder, loads the program's own library instead;
// any other Windows library name and any Windows binary load nothing.
// Ordinals are not supported (nil).
void* WinLoadLibraryW(const WideString& name);
void* WinLoadLibraryA(const std::string& name);
inline void* WinLoadLibrary(const WideString& name) { return WinLoadLibraryW(name); }
void* WinGetProcAddress(void* module, const char* nameOrOrdinal);
void WinFreeLibrary(void* module);
std::int32_t WinInterlockedExchange(std::int32_t& target, std::int32_t value);

// ---- Numbers, memory and GUIDs ------------------------------------------------
WideString IntToHex(std::int64_t v, int digits);  // upper case, zero-padded
std::string IntToHexA(std::int64_t v, int digits);
WideString IntToStr(std::int64_t v);
std::string IntToStrA(std::int64_t v);
WideString PadLeft(std::int64_t v, int width, char16_t ch);
// Fixed-point text with trailing zeros (and a trailing point) removed.
WideString FloatToStrDigits(double v, int decimals);
std::int64_t MulDiv64(std::int64_t a, std::int64_t b, std::int64_t c);  // c = 0 raises EDivByZero
bool CompareMem(const void* p, const void* q, std::size_t len);
bool SameGUID(const TGUID& a, const TGUID& b);
bool IsRectEmpty(const TRect& r);
void NewGUID(TGUID& g);
WideString GUIDToString(const TGUID& g);

std::uint32_t ReadLE32(const void* p, std::size_t offset);
std::uint32_t ReadBE32(const void* p, std::size_t offset);
std::uint64_t ReadLE64(const void* p, std::size_t offset);
float ReadSingle(const void* p, std::size_t offset);
void WriteLE32(void* p, std::size_t offset, std::uint32_t v);

// ---- Dates and times ------------------------------------------------------------
bool IsLeapYear(int year);
std::int32_t DayNumber(const TSystemTime& t);  // 1 January of year 1 is day 1
int DayOfWeek(const TSystemTime& t);           // Sunday is 0
WideString FormatDate(const TSystemTime& t, const WideString& format = u"DD.MM.YYYY");
constexpr int kTimeHours = 1, kTimeMinutes = 2, kTimeSeconds = 4, kTimeMs = 8;
WideString FormatTime(const TSystemTime& t, int parts = 15);
WideString SystemTimeToStr(const TSystemTime& t, const WideString& format = u"DD.MM.YYYY", int parts = 15);
WideString MonthNameGenitive(const WideString& name);

// Filled by the localisation module.
extern WideString LongMonthNames[12];
extern WideString ShortMonthNames[12];
extern WideString LongDayNames[7];
extern WideString ShortDayNames[7];

void InitWinSysUtils();
void FiniWinSysUtils();

}  // namespace zm
