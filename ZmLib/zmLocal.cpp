#include "ZmLib/zmLocal.h"

#include "ZmLib/Win32/winSysUtils.h"

namespace zm {

TTranslateHook TranslateHook = nullptr;

namespace {
bool Replace(WideString* table, std::size_t size, std::span<const WideString> names) {
  if (names.size() != size) return false;
  for (std::size_t i = 0; i < size; ++i)
    if (!names[i].empty()) table[i] = names[i];
  return true;
}
}  // namespace

bool SetLongMonthNames(std::span<const WideString> names) { return Replace(LongMonthNames, 12, names); }
bool SetShortMonthNames(std::span<const WideString> names) { return Replace(ShortMonthNames, 12, names); }
bool SetLongDayNames(std::span<const WideString> names) { return Replace(LongDayNames, 7, names); }
bool SetShortDayNames(std::span<const WideString> names) { return Replace(ShortDayNames, 7, names); }

WideString TranslateText(const WideString& section, const WideString& key, const WideString& defaultText) {
  if (TranslateHook) return TranslateHook(section, key, defaultText);
  return defaultText;
}

void InitZmLocal() {
  static const char16_t* const kLongMonths[12] = {u"January", u"February", u"March",     u"April",
                                                  u"May",     u"June",     u"July",      u"August",
                                                  u"September", u"October", u"November", u"December"};
  static const char16_t* const kShortMonths[12] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                                   u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
  static const char16_t* const kLongDays[7] = {u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                               u"Thursday", u"Friday", u"Saturday"};
  static const char16_t* const kShortDays[7] = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
  for (int i = 0; i < 12; ++i) LongMonthNames[i] = kLongMonths[i], ShortMonthNames[i] = kShortMonths[i];
  for (int i = 0; i < 7; ++i) LongDayNames[i] = kLongDays[i], ShortDayNames[i] = kShortDays[i];
}

void FiniZmLocal() { TranslateHook = nullptr; }

}  // namespace zm
