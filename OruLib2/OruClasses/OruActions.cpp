#include "OruLib2/OruClasses/OruActions.h"

#include "ZmLib/wpUnicode.h"

namespace oru {

const TOruActionInfo EmptyActionInfo{};

TOruActionInfo MakeActionInfo(std::uint8_t code, std::int32_t value, const WideString& text) {
  TOruActionInfo info;
  info.Code = code;
  info.Value = value;
  info.Text = text;
  return info;
}

namespace {

struct TKeyword {
  const char16_t* Text;
  std::uint8_t Code;
};

constexpr TKeyword kExact[] = {
    {u"exit", acExit},
    {u"prevslide", acPrevSlide},
    {u"nextslide", acNextSlide},
    {u"help", acHelp},
    {u"pause", acPause},
    {u"print", acPrint},
    {u"gotofirstslide", acGotoSlide},
    {u"stop", acStop},
    {u"closedialog", acCloseDialog},
    {u"saveslide", acSaveSlide},
    {u"changeprinter", acChangePrinter},
};

// Calls with a quoted argument. "runappandexit(" and
// "runpresentationandreturn(" cannot be taken for the shorter ones: the
// parenthesis is part of each prefix.
constexpr TKeyword kQuotedCalls[] = {
    {u"openwebsite(", acOpenWebSite},
    {u"writeemail(", acWriteEmail},
    {u"runapp(", acRunApp},
    {u"runappandexit(", acRunAppAndExit},
    {u"runpresentation(", acRunPresentation},
    {u"runpresentationandreturn(", acRunPresentationAndReturn},
    {u"opendialog(", acOpenDialog},
};

constexpr char16_t kGotoSlide[] = u"gotoslide(";

bool StartsWith(const WideString& s, zm::WideStringView prefix) {
  return s.size() >= prefix.size() && zm::WideStringView(s).substr(0, prefix.size()) == prefix;
}

// Characters [from, to) of S; empty when the range is empty or reversed.
WideString Slice(const WideString& s, std::size_t from, std::size_t to) {
  if (to > s.size()) to = s.size();
  if (from >= to) return {};
  return s.substr(from, to - from);
}

// Optional blanks and sign, then decimal digits only, within 32 bits.
bool ReadDecimal(const WideString& s, std::int32_t& value) {
  std::size_t i = 0, n = s.size();
  while (i < n && s[i] == u' ') ++i;
  bool negative = false;
  if (i < n && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
  if (i >= n) return false;
  std::int64_t acc = 0;
  for (; i < n; ++i) {
    if (s[i] < u'0' || s[i] > u'9') return false;
    acc = acc * 10 + (s[i] - u'0');
    if (acc > 2147483648LL) return false;
  }
  if (negative) acc = -acc;
  if (acc > 2147483647LL) return false;
  value = static_cast<std::int32_t>(acc);
  return true;
}

}  // namespace

TOruActionInfo ParseActionString(const WideString& command) {
  const WideString lower = zm::LowerCase(command);
  for (const auto& k : kExact)
    if (lower == k.Text) return MakeActionInfo(k.Code, 0, {});

  const zm::WideStringView gotoPrefix(kGotoSlide);
  if (StartsWith(lower, gotoPrefix)) {
    WideString text = Slice(command, gotoPrefix.size(), command.size() - 1);
    std::int32_t n = 0;
    if (!ReadDecimal(text, n)) n = -1;
    return MakeActionInfo(acGotoSlide, n, text);
  }
  for (const auto& k : kQuotedCalls) {
    const zm::WideStringView prefix(k.Text);
    if (!StartsWith(lower, prefix)) continue;
    std::size_t end = command.size() >= 2 ? command.size() - 2 : 0;
    return MakeActionInfo(k.Code, 0, Slice(command, prefix.size() + 1, end));
  }
  return EmptyActionInfo;
}

}  // namespace oru
