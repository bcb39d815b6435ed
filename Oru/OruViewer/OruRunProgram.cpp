#include "Oru/OruViewer/OruRunProgram.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "Oru/OruViewer/OruScreenSaver.h"
#include "OruLib2/OruShowDialogs.h"
#include "Platform/PlatProcess.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmCommandLine.h"
#include "ZmLib/zmLog.h"
#include "ZmLib/zmStringList.h"

namespace oru {

namespace {

// The system's own command words.
constexpr std::u16string_view kRefused[] = {
    u">",       u"at",     u"attrib",   u"call",     u"cmd",     u"command", u"copy",   u"del",   u"deltree", u"erase",
    u"for",     u"format", u"fdisk",    u"runonce",  u"move",    u"net",     u"runas",  u"net1",  u"ren",     u"rename",
    u"replace", u"rmdir",  u"rd",       u"recover",  u"regedit", u"rundll",  u"qstart", u"start", u"sys",     u"type",
    u"xcopy",   u"regsrv", u"regedt32", u"regsvr32", u"rcp",     u"ftp",     u"tftp"};
// Their counterparts here: shells and script interpreters, privilege,
// deleting, formatting, walking folders to act on each file, process and
// power control.
constexpr std::u16string_view kRefusedHere[] = {
    u"sh",      u"bash",     u"dash",   u"zsh",     u"ksh",      u"csh",    u"tcsh",    u"fish",
    u"busybox", u"env",      u"sudo",   u"su",      u"doas",     u"pkexec", u"rm",      u"dd",
    u"mkfs",    u"shred",    u"wipefs", u"chmod",   u"chown",    u"kill",   u"killall", u"pkill",
    u"shutdown", u"reboot",  u"poweroff", u"halt",  u"systemctl", u"cp",    u"mv",      u"nohup",
    u"setsid",  u"python",   u"python2", u"python3", u"perl",    u"ruby",   u"node",    u"nodejs",
    u"php",     u"lua",      u"tclsh",  u"awk",     u"gawk",     u"mawk",   u"find",    u"truncate"};
// Programs that start the program named later on their command line (env,
// nohup and setsid are refused themselves).
constexpr std::u16string_view kStartsAnother[] = {u"timeout", u"nice",    u"ionice", u"xargs", u"stdbuf",
                                                  u"time",    u"taskset", u"chrt",   u"flock"};

bool Listed(std::u16string_view word) {
  return std::find(std::begin(kRefused), std::end(kRefused), word) != std::end(kRefused) ||
         std::find(std::begin(kRefusedHere), std::end(kRefusedHere), word) != std::end(kRefusedHere);
}

bool StartsAnother(std::u16string_view word) {
  return std::find(std::begin(kStartsAnother), std::end(kStartsAnother), word) != std::end(kStartsAnother);
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

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

int Start(const WideString& file, const WideString& params, const WideString& dir) {
  int r = plat::ShellExecute(Unquoted(file), Arguments(params), dir);
  zm::LogLine(u"Run: " + file + (params.empty() ? WideString() : u" " + params) + u" (" + zm::IntToStr(r) + u")");
  return r;
}

}  // namespace

namespace {

// The command with blanks and tabs inside double quotes made "_", and "@",
// quotes and "|" dropped.
WideString Normalised(const WideString& command) {
  WideString s = command;
  bool quoted = false;
  for (char16_t& c : s) {
    if (c == u'"')
      quoted = !quoted;
    else if (quoted && IsBlank(c))
      c = u'_';
  }
  return Without(Without(Without(s, u'@'), u'"'), u'|');
}

// A word lower-cased (A to Z), without its folder and from its first "." on.
WideString ProgramName(WideString word) {
  for (char16_t& c : word)
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
  std::size_t slash = word.find_last_of(u'\\');
  if (slash != WideString::npos) word.erase(0, slash + 1);
  slash = word.find_last_of(u'/');
  if (slash != WideString::npos) word.erase(0, slash + 1);
  std::size_t dot = word.find(u'.');
  if (dot != WideString::npos) word.erase(dot);
  return word;
}

// The words of a normalised command, each as ProgramName makes it.
std::vector<WideString> ProgramNames(const WideString& normalised) {
  std::vector<WideString> words;
  std::size_t a = 0;
  while (a < normalised.size()) {
    while (a < normalised.size() && IsBlank(normalised[a])) ++a;
    std::size_t b = a;
    while (b < normalised.size() && !IsBlank(normalised[b])) ++b;
    if (b > a) words.push_back(ProgramName(normalised.substr(a, b - a)));
    a = b;
  }
  return words;
}

}  // namespace

WideString CommandWord(const WideString& command) {
  if (command.find(u'>') != WideString::npos) return u">";
  const WideString s = Normalised(command);
  std::size_t a = 0;
  while (a < s.size() && IsBlank(s[a])) ++a;
  std::size_t b = a;
  while (b < s.size() && !IsBlank(s[b])) ++b;
  return ProgramName(s.substr(a, b - a));
}

bool IsAllowedCommand(const WideString& commandLine) {
  const WideString word = CommandWord(commandLine);
  if (Listed(word)) return false;
  if (!StartsAnother(word)) return true;
  // Which later word is the program depends on the starter's options; none
  // of them may be a refused one.
  const std::vector<WideString> words = ProgramNames(Normalised(commandLine));
  return std::none_of(words.begin(), words.end(), [](const WideString& w) { return Listed(w); });
}

WideString EnsurePrefix(std::initializer_list<const char16_t*> prefixes, const WideString& text) {
  for (const char16_t* p : prefixes) {
    WideString prefix(p);
    if (text.size() >= prefix.size() && zm::SameText(text.substr(0, prefix.size()), prefix)) return text;
  }
  return prefixes.size() ? WideString(*prefixes.begin()) + text : text;
}

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

namespace {

// False, after the box, when one of the commands is refused.
bool AllAllowed(const std::vector<WideString>& commands) {
  for (const WideString& c : commands) {
    if (!IsAllowedCommand(c)) {
      zm::LogLine(WideString(kProhibitedCommand) + u" " + c);
      zm::WndAPIClass->MessageBox(nullptr, kProhibitedCommand, WideString(), zm::MB_OK);
      return false;
    }
  }
  return true;
}

}  // namespace

void RunProgram(zm::TZmForm* form, const WideString& commandLine, const WideString& folder) {
  // (The window would be drawn inactive here; nothing to do on this system.)
  if (commandLine.empty()) return;
  const std::vector<WideString> commands = SplitCommands(commandLine);
  if (!AllAllowed(commands)) return;
  WideString dir = folder;
  if (dir.size() > 3 && (dir.back() == u'\\' || dir.back() == u'/')) dir.pop_back();
  for (const WideString& c : commands) {
    WideString file, params;
    SplitCommand(c, file, params);
    if (file.empty() || file == u"\"\"") continue;
    // A topmost window would hide what starts.
    const bool topmost = form && form->StayOnTop();
    if (topmost) form->SetStayOnTop(false);
    int r = Start(file, params, WideString());
    if (r == plat::kShellFileNotFound || r == plat::kShellPathNotFound) {
      if (params.empty()) {
        WideString name = file.size() > 5 ? Unquoted(file) : file;
        r = Start(name, WideString(), dir);
        if ((r == plat::kShellFileNotFound || r == plat::kShellPathNotFound) && !dir.empty())
          r = Start(dir + u"\\" + name, WideString(), dir);
      } else {
        r = Start(file.size() > 5 ? Unquoted(file) : file, params.size() > 5 ? Unquoted(params) : params, dir);
      }
    }
    if (topmost && r < 33) form->SetStayOnTop(true);
  }
}

// ---- the user's yes ---------------------------------------------------------------------

bool NeedsStartAnswer(const WideString& command) {
  WideString file, params;
  SplitCommand(command, file, params);
  file = Unquoted(file);
  for (const char16_t* scheme : {u"http:", u"https:", u"mailto:"}) {
    const WideString prefix(scheme);
    if (file.size() > prefix.size() && zm::SameText(file.substr(0, prefix.size()), prefix)) return false;
  }
  return true;
}

namespace {

// 96-dpi lengths at the screen's density.
template <class T>
T* Place(T* item, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
  item->X = ScaleDialogLength(x);
  item->Y = ScaleDialogLength(y);
  item->Width = ScaleDialogLength(w);
  item->Height = ScaleDialogLength(h);
  return item;
}

}  // namespace

TOruStartDialog::TOruStartDialog(const WideString& commandLine) {
  // The texts are the player's own: a show cannot word the question.
  Position = zm::dpWorkAreaCenter;
  Caption = kStartCaption;
  Width = ScaleDialogLength(420);
  Height = ScaleDialogLength(136);
  Place(Add<zm::TDialogStatic>(), 12, 12, 396, 16)->Caption = kStartQuestion;
  // Read-only and scrolling: every character of the command can be seen.
  auto* command = Place(Add<zm::TDialogEdit>(), 12, 32, 396, 21);
  command->ReadOnly = 1;
  command->Id = idStartCommand;
  command->Caption = commandLine;
  Place(Add<zm::TDialogStatic>(), 12, 62, 396, 16)->Caption = kStartWarning;
  // Don't start comes first in the tab order as well.
  auto* dont = Place(Add<zm::TDialogButton>(), 316, 98, 92, 25);
  dont->Caption = kDontStartButton;
  dont->Id = plat::IDCANCEL;
  dont->Default = 1;
  auto* start = Place(Add<zm::TDialogButton>(), 218, 98, 92, 25);
  start->Caption = kStartButton;
  start->Id = idStart;
}

bool AskToStart(HWND owner, const WideString& commandLine) {
  zm::TRef<TOruStartDialog> dialog = zm::MakeRef<TOruStartDialog>(commandLine);
  return dialog->ShowModal(owner) == idStart;
}

bool ShowMayStart(HWND owner, TStartAnswer& answer, const WideString& commandLine) {
  const std::vector<WideString> commands = SplitCommands(commandLine);
  if (commands.empty() || !AllAllowed(commands)) return false;
  if (std::none_of(commands.begin(), commands.end(), NeedsStartAnswer)) return true;
  if (answer == TStartAnswer::NotAsked) {
    // A screen saver runs while nobody is there to answer.
    if (ScreenSaverMode) {
      answer = TStartAnswer::DontStart;
    } else {
      const bool start = AskToStart(owner, commandLine);
      answer = start ? TStartAnswer::Start : TStartAnswer::DontStart;
      zm::LogLine(u"Start question: " + commandLine + (start ? u": Start" : u": Don't start"));
    }
  }
  if (answer == TStartAnswer::Start) return true;
  zm::LogLine((ScreenSaverMode ? u"Not started (screen saver): " : u"Not started: ") + commandLine);
  return false;
}

}  // namespace oru
