#include "ZmLib/Win32/winSysUtils.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "Platform/PlatSystem.h"
#include "ZmLib/Win32/SysObj2.h"
#include "tests/support/EnvGuard.h"

using namespace zm;

namespace {
TSystemTime Date(int y, int m, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  TSystemTime t;
  t.wYear = static_cast<std::uint16_t>(y);
  t.wMonth = static_cast<std::uint16_t>(m);
  t.wDay = static_cast<std::uint16_t>(d);
  t.wHour = static_cast<std::uint16_t>(h);
  t.wMinute = static_cast<std::uint16_t>(mi);
  t.wSecond = static_cast<std::uint16_t>(s);
  t.wMilliseconds = static_cast<std::uint16_t>(ms);
  return t;
}
}  // namespace

TEST(Clock, MillisecondsSurviveTheThirtyTwoBitWrap) {
  {
    plat::TManualClock clock(0xFFFFFF00u);
    InitWinSysUtils();
    EXPECT_EQ(GetTimeMs(), 0u);
    clock.Advance(0x180);  // the tick count wraps past zero
    EXPECT_EQ(clock.Now(), 0x80u);
    EXPECT_EQ(GetTimeMs(), 0x180u);
  }
  InitWinSysUtils();
  EXPECT_LT(GetTimeMs(), 1000u);
}

TEST(Dates, DayNumbersAndFormatting) {
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_EQ(DayNumber(Date(1, 1, 1)), 1);
  EXPECT_EQ(DayNumber(Date(2001, 1, 1)), 730486);
  EXPECT_EQ(DayOfWeek(Date(2001, 1, 1)), 1);
  EXPECT_EQ(DayNumber(Date(2000, 3, 1)) - DayNumber(Date(2000, 2, 28)), 2);
  EXPECT_EQ(DayOfWeek(Date(2026, 12, 6)), 0);  // a Sunday
  TSystemTime t = Date(2009, 3, 5, 7, 8, 9, 10);
  EXPECT_EQ(SystemTimeToStr(t), u"05.03.2009 07:08:09.010");
  EXPECT_EQ(FormatDate(t, u"YYYY-MM-DD"), u"2009-03-05");
  EXPECT_EQ(FormatDate(t, u"D/M/YY 'x'"), u"5/3/2009 x");
  EXPECT_EQ(FormatTime(t, kTimeHours | kTimeMinutes), u"07:08");
  EXPECT_EQ(FormatTime(t, kTimeSeconds | kTimeMs), u":09.010");
  EXPECT_EQ(MonthNameGenitive(u"\u041C\u0430\u0439"), u"\u043C\u0430\u044F");  // Май -> мая
  EXPECT_EQ(MonthNameGenitive(u"March"), u"March");
  EXPECT_EQ(MonthNameGenitive(u""), u"");
}

TEST(Numbers, HexDecimalAndFloatTexts) {
  EXPECT_EQ(IntToHex(255, 4), u"00FF");
  EXPECT_EQ(IntToHex(65536, 2), u"10000");
  EXPECT_EQ(IntToHex(-1, 2), u"FFFFFFFFFFFFFFFF");
  EXPECT_EQ(FloatToStrDigits(1.5, 3), u"1.5");
  EXPECT_EQ(FloatToStrDigits(2.0, 2), u"2");
  EXPECT_EQ(FloatToStrDigits(-0.001, 2), u"0");
  EXPECT_EQ(FloatToStrDigits(1e20, 2), u"1.00E+20");
  EXPECT_EQ(MulDiv64(INT64_MAX, 4, 8), INT64_MAX / 2);
  EXPECT_THROW(MulDiv64(1, 2, 0), EDivByZero);
}

TEST(Version, ClassesAndLanguageNames) {
  auto cls = [](std::uint32_t major, std::uint32_t minor, const char* sp = "") {
    TOSVersion v;
    v.Major = major;
    v.Minor = minor;
    v.ServicePack = sp;
    return ComputeWindowsVersionClass(v);
  };
  EXPECT_EQ(cls(2, 0), 0);
  EXPECT_EQ(cls(4, 10, "A"), 4);
  EXPECT_EQ(cls(4, 10, " A "), 3);
  EXPECT_EQ(cls(3, 51), 6);
  EXPECT_EQ(cls(10, 0), 13);
  EXPECT_EQ(LanguageNameOf(0x0416, u"?"), u"Portugese (Brazilian)");
  EXPECT_EQ(LanguageNameOf(0x0001, u"?"), u"Arabic");  // a primary language alone
  EXPECT_EQ(LanguageNameOf(0x0029, u"?"), u"Farsi");
  EXPECT_EQ(LanguageNameOf(0x0038, u"?"), u"Faeroese");
  EXPECT_EQ(LanguageNameOf(0x0039, u"?"), u"?");
  EXPECT_EQ(LocaleNameToLCID("de_CH.UTF-8"), 0x0807u);
  EXPECT_EQ(LocaleNameToLCID("sr_RS@latin"), 0x081Au);
  EXPECT_EQ(LocaleNameToLCID(""), 1033u);
}

TEST(Environment, ExpandsKnownNamesOnly) {
  zmtest::TEnvGuard env("ZM_TEST_VAR", "value");
  EXPECT_EQ(ExpandEnvStrings(u"a%ZM_TEST_VAR%b"), u"avalueb");
  EXPECT_EQ(ExpandEnvStrings(u"%zm_test_var%"), u"value");  // names ignore case
  EXPECT_EQ(ExpandEnvStrings(u"%ZM_NO_SUCH_VAR%x"), u"%ZM_NO_SUCH_VAR%x");
  EXPECT_EQ(ExpandEnvStrings(u"100% sure"), u"100% sure");
}
