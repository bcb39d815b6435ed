#include "Oru/OruViewer/OruProgramStart.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "Oru/OruViewer/OruQuestionText.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/zmCommandLine.h"
#include "ZmLib/zmLog.h"
#include "ZmLib/zmStringList.h"
#include "ZmLib/wpUnicode.h"

namespace oru {

namespace {

WideString TrimAll(const WideString& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && s[a] <= u' ') ++a;
  while (b > a && s[b - 1] <= u' ') --b;
  return s.substr(a, b - a);
}

WideString Without(const WideString& s, char16_t c) {
  WideString r;
  for (char16_t x : s)
    if (x != c) r += x;
  return r;
}

WideString Unquoted(const WideString& s) {
  if (s.size() >= 2 && s.front() == u'"' && s.back() == u'"') return s.substr(1, s.size() - 2);
  return s;
}

std::vector<std::u16string> Arguments(const WideString& params) {
  std::vector<std::u16string> args;
  if (params.empty()) return args;
  zm::TRef<zm::TStringList> list = zm::MakeRef<zm::TStringList>();
  zm::SplitCommandLine(params, *list);
  for (std::int32_t i = 0; i < list->GetCount(); ++i) args.push_back(list->GetString(i));
  return args;
}

int HexDigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool IsMailLink(const WideString& text) { return text.size() >= 7 && zm::SameText(text.substr(0, 7), u"mailto:"); }

// A field name of a link, percent escapes decoded and lower-cased (A to Z).
WideString FieldName(const WideString& field) {
  WideString name;
  for (std::size_t i = 0; i < field.size() && field[i] != u'='; ++i) {
    char16_t c = field[i];
    if (c == u'%' && i + 2 < field.size() && HexDigitValue(field[i + 1]) >= 0 && HexDigitValue(field[i + 2]) >= 0) {
      c = char16_t(HexDigitValue(field[i + 1]) * 16 + HexDigitValue(field[i + 2]));
      i += 2;
    }
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
    name += c;
  }
  return name;
}

}  // namespace

std::vector<WideString> SplitCommands(const WideString& commandLine) {
  std::vector<WideString> commands;
  WideString current;
  bool quoted = false;
  for (char16_t c : commandLine) {
    if (c == u'"') quoted = !quoted;
    if (c == u',' && !quoted) {
      commands.push_back(TrimAll(current));
      current.clear();
    } else {
      current += c;
    }
  }
  commands.push_back(TrimAll(current));
  std::erase_if(commands, [](const WideString& c) { return c.empty(); });
  return commands;
}

void SplitCommand(const WideString& command, WideString& file, WideString& params) {
  const bool quotedFile = !command.empty() && command[0] == u'"';
  std::size_t end = quotedFile ? command.find(u'"', 1) : command.find(u' ');
  if (end == WideString::npos)
    end = command.size();
  else if (quotedFile)
    ++end;
  file = TrimAll(Without(command.substr(0, end), u'"'));
  WideString rest = command.substr(end);
  const bool quotedParams = rest.find(u'"') != WideString::npos;
  params = TrimAll(Without(rest, u'"'));
  if (quotedFile) file = u"\"" + file + u"\"";
  if (quotedParams && !params.empty()) params = u"\"" + params + u"\"";
}

plat::TShellStart PlanCommand(const WideString& command, const WideString& folder) {
  using TKind = plat::TShellStart::TKind;
  WideString file, params;
  SplitCommand(command, file, params);
  if (file.empty() || file == u"\"\"") return plat::TShellStart();
  WideString dir = folder;
  if (dir.size() > 3 && (dir.back() == u'\\' || dir.back() == u'/')) dir.pop_back();
  plat::TShellStart plan = plat::PlanShellExecute(Unquoted(file), Arguments(params), WideString());
  const auto missing = [&] { return plan.Kind == TKind::FileNotFound || plan.Kind == TKind::PathNotFound; };
  if (plan.Kind == TKind::Link || !missing()) return plan;
  if (params.empty()) {
    const WideString name = file.size() > 5 ? Unquoted(file) : file;
    plan = plat::PlanShellExecute(Unquoted(name), {}, dir);
    if (missing() && !dir.empty()) plan = plat::PlanShellExecute(Unquoted(dir + u"\\" + name), {}, dir);
  } else {
    plan = plat::PlanShellExecute(Unquoted(file.size() > 5 ? Unquoted(file) : file),
                                  Arguments(params.size() > 5 ? Unquoted(params) : params), dir);
  }
  if (plan.Kind == TKind::Link) plan = plat::TShellStart();
  return plan;
}

WideString WithoutAttachments(const WideString& link) {
  if (!IsMailLink(link)) return link;
  const std::size_t query = link.find(u'?');
  if (query == WideString::npos) return link;
  WideString kept;
  std::size_t a = query + 1;
  while (a <= link.size()) {
    std::size_t b = link.find(u'&', a);
    if (b == WideString::npos) b = link.size();
    const WideString field = link.substr(a, b - a);
    const WideString name = TrimAll(FieldName(field));
    if (!field.empty() && name != u"attach" && name != u"attachment") kept += (kept.empty() ? u"" : u"&") + field;
    a = b + 1;
  }
  return link.substr(0, query) + (kept.empty() ? WideString() : u"?" + kept);
}

WideString TooLongToStart(const WideString& commandLine) {
  const std::size_t room = plat::ArgumentRoom(), most = plat::MaxArgumentBytes();
  const auto said = [](const char16_t* what, std::size_t bytes, std::size_t limit) {
    return WideString(what) + zm::IntToStr(std::int64_t(bytes)) + u" bytes, the system starts at most " +
           zm::IntToStr(std::int64_t(limit));
  };
  // Every character is a byte at least: no need to count a line that long.
  if (commandLine.size() > room) return said(u"longer than the system starts: at least ", commandLine.size(), room);
  std::size_t bytes = 0, word = 0, longest = 0;
  for (std::size_t i = 0; i < commandLine.size(); ++i) {
    const char16_t c = commandLine[i];
    const std::size_t n = c < 0x80 ? 1 : c < 0x800 ? 2 : (c >= 0xD800 && c <= 0xDFFF) ? 2 : 3;
    bytes += n;
    word = c == u' ' || c == u'\t' ? 0 : word + n;
    longest = std::max(longest, word);
  }
  if (bytes > room) return said(u"longer than the system starts: ", bytes, room);
  if (longest + 1 > most) return said(u"a word longer than the system starts: ", longest, most - 1);
  return {};
}

std::vector<TProgramStart> PlanCommands(const WideString& commandLine, const WideString& folder) {
  std::vector<TProgramStart> starts;
  for (WideString& c : SplitCommands(commandLine)) {
    plat::TShellStart plan = PlanCommand(c, folder);
    starts.push_back({std::move(c), std::move(plan)});
  }
  return starts;
}

void StartPlanned(zm::TZmForm* form, const std::vector<TProgramStart>& starts) {
  // (The window would be drawn inactive here; nothing to do on this system.)
  int links = 0;
  for (const TProgramStart& s : starts) {
    plat::TShellStart plan = s.Plan;
    if (plan.Kind == plat::TShellStart::TKind::Link) {
      if (++links > kMaxLinksAtOnce) {
        zm::LogLine(u"Not started (more than " + zm::IntToStr(kMaxLinksAtOnce) + u" links at once): " + Logged(s.Command));
        continue;
      }
      plan.Target = plat::ToUtf8(WithoutAttachments(plat::FromUtf8(plan.Target)));
    }
    WideString file, params;
    SplitCommand(s.Command, file, params);
    if (file.empty() || file == u"\"\"") continue;
    // A topmost window would hide what starts.
    const bool topmost = form && form->StayOnTop();
    if (topmost) form->SetStayOnTop(false);
    const int r = plat::ShellExecutePlanned(plan);
    zm::LogLine(u"Run: " + Logged(s.Command) + u" (" + zm::IntToStr(r) + u")");
    if (topmost && r < 33) form->SetStayOnTop(true);
  }
}

}  // namespace oru
