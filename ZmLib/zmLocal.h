#pragma once
// The names of months and days, and the text-translation hook.
#include <span>

#include "ZmLib/zmTypes.h"

namespace zm {

// Replacing a table takes exactly the table's length and copies only the
// non-empty entries; any other length changes nothing. False then.
bool SetLongMonthNames(std::span<const WideString> names);
bool SetShortMonthNames(std::span<const WideString> names);
bool SetLongDayNames(std::span<const WideString> names);
bool SetShortDayNames(std::span<const WideString> names);

// A translator supplies the text for (section, key); without one the default
// is used.
using TTranslateHook = WideString (*)(const WideString& section, const WideString& key,
                                      const WideString& defaultText);
extern TTranslateHook TranslateHook;
WideString TranslateText(const WideString& section, const WideString& key, const WideString& defaultText);

void InitZmLocal();
void FiniZmLocal();

}  // namespace zm
