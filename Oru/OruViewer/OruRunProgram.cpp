#include "Oru/OruViewer/OruRunProgram.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>

#include "Oru/OruViewer/OruScreenSaver.h"
#include "OruLib2/OruShowDialogs.h"
#include "Platform/Gdi/PlatFont.h"
#include "Platform/Gdi/PlatGdi.h"
#include "Platform/PlatProcess.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatDialogs.h"
#include "Platform/User/PlatUser.h"
#include "ZmLib/Win32/winScreen.h"
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
// deleting, overwriting and formatting, walking folders to act on each file,
// running the commands an argument or a script gives (editors, build tools,
// terminals, remote shells, the desktop's openers), process and power
// control, and programs that fetch or send files.
constexpr std::u16string_view kRefusedHere[] = {
    // shells
    u"sh", u"bash", u"rbash", u"dash", u"ash", u"zsh", u"ksh", u"mksh", u"lksh", u"pdksh", u"oksh", u"csh", u"tcsh",
    u"fish", u"yash", u"posh", u"elvish", u"xonsh", u"nu", u"pwsh", u"powershell", u"busybox", u"toybox",
    // interpreters and programs that run what their arguments say
    u"python", u"python2", u"python3", u"pypy", u"perl", u"ruby", u"irb", u"node", u"nodejs", u"deno", u"bun",
    u"php", u"lua", u"luajit", u"tclsh", u"wish", u"expect", u"guile", u"racket", u"sbcl", u"clisp", u"ocaml",
    u"rscript", u"julia", u"java", u"jshell", u"jrunscript", u"awk", u"gawk", u"mawk", u"nawk", u"sed", u"vi",
    u"vim", u"nvim", u"ex", u"view", u"rvim", u"rview", u"gvim", u"emacs", u"gdb", u"make", u"cmake", u"tar",
    u"find", u"script", u"watch", u"parallel", u"flock", u"env", u"nohup", u"setsid", u"ld", u"git", u"ssh",
    u"systemd-run", u"nsenter", u"capsh", u"firejail", u"bwrap", u"unshare", u"setpriv", u"chroot",
    // the desktop's openers run launchers and the programs files ask for; links go to them as links
    u"xdg-open", u"gio", u"gvfs-open", u"kde-open", u"kioclient", u"exo-open", u"gnome-open", u"gtk-launch",
    u"mimeopen", u"run-mailcap", u"dbus-send", u"gdbus", u"busctl",
    // terminals run a shell
    u"xterm", u"uxterm", u"x-terminal-emulator", u"gnome-terminal", u"konsole", u"xfce4-terminal", u"lxterminal",
    u"mate-terminal", u"terminator", u"tilix", u"kitty", u"alacritty", u"urxvt", u"rxvt", u"foot",
    // privilege
    u"sudo", u"su", u"doas", u"pkexec", u"runuser", u"sg", u"newgrp",
    // deleting, overwriting, formatting, rights
    u"rm", u"rmdir", u"unlink", u"shred", u"truncate", u"dd", u"mkfs", u"mke2fs", u"mkswap", u"wipefs", u"fdisk",
    u"sfdisk", u"parted", u"cp", u"mv", u"ln", u"install", u"tee", u"rsync", u"chmod", u"chown", u"chgrp", u"chattr",
    // fetching and sending
    u"curl", u"wget", u"nc", u"ncat", u"netcat", u"socat", u"scp", u"sftp",
    // processes and power
    u"kill", u"killall", u"pkill", u"shutdown", u"reboot", u"poweroff", u"halt", u"systemctl", u"init", u"telinit",
    u"crontab", u"batch"};
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

bool IsRefusedProgramName(const WideString& fileName) {
  WideString name = ProgramName(fileName);
  if (name.empty()) return false;
  if (Listed(name)) return true;
  // The dynamic loader runs any file it is given ("ld-linux-x86-64.so.2").
  if (name.size() > 3 && name.compare(0, 3, u"ld-") == 0) return true;
  // A version at the end: "python3", "perl5", "tclsh8".
  while (!name.empty() && ((name.back() >= u'0' && name.back() <= u'9') || name.back() == u'-' || name.back() == u'_'))
    name.pop_back();
  return !name.empty() && Listed(name);
}

namespace {

WideString FileNameOf(const std::string& path) {
  const std::size_t cut = path.rfind('/');
  return plat::FromUtf8(cut == std::string::npos ? path : path.substr(cut + 1));
}

// The start a command makes: as the shell start takes it, then, when the
// file is not found, the retries in Folder (a link is never retried, so it
// can never turn into a file of that name).
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

// Whether Word, an argument, names a refused program that a starter
// ("timeout", "unshare", the dynamic loader ...) would run.
bool NamesRefusedProgram(const std::string& word, const std::string& dir) {
  // Longer than a file name can be: no program's.
  if (word.empty() || word.size() > 4096 || (word.find('/') == std::string::npos && word.size() > 255)) return false;
  const std::string real = plat::FindProgram(word, dir);
  if (real.empty()) return false;
  return IsRefusedProgramName(FileNameOf(word)) || IsRefusedProgramName(FileNameOf(real));
}

bool RefusedStart(const plat::TShellStart& start) {
  using TKind = plat::TShellStart::TKind;
  if (start.Kind == TKind::Document) {
    // Opening a desktop launcher runs the command it holds.
    for (const std::string& path : {start.Target, plat::RealPath(start.Target)}) {
      const WideString name = FileNameOf(path);
      if (name.size() >= 8 && zm::SameText(name.substr(name.size() - 8), u".desktop")) return true;
    }
    return false;
  }
  if (start.Kind != TKind::Program) return false;
  if (IsRefusedProgramName(FileNameOf(start.Target)) || IsRefusedProgramName(FileNameOf(plat::RealPath(start.Target))))
    return true;
  // Every argument that is itself a program, also after a "=" ("--rsh=...").
  std::set<std::string> seen;
  for (std::size_t i = 1; i < start.Argv.size(); ++i) {
    const std::string& a = start.Argv[i];
    for (const std::string& word : {a, a.substr(a.rfind('=') == std::string::npos ? a.size() : a.rfind('=') + 1)})
      if (seen.insert(word).second && NamesRefusedProgram(word, start.Dir)) return true;
  }
  return false;
}

// The first refused command, or nullptr.
const WideString* FirstRefused(const std::vector<WideString>& commands, const WideString& folder) {
  for (const WideString& c : commands)
    if (!IsAllowedCommand(c) || StartsRefusedProgram(c, folder)) return &c;
  return nullptr;
}

// A show's text in the log, one line whatever it holds: line ends and other
// control characters as their pictures.
WideString Logged(const WideString& text) {
  WideString out = text;
  for (char16_t& c : out) {
    if (c < 0x20) c = char16_t(0x2400 + c);
    else if (c == 0x7F) c = u'\u2421';
    else if (c == 0x85 || c == 0x2028 || c == 0x2029) c = u'\u2424';
  }
  return out;
}

void ReportRefused(const WideString& command) {
  zm::LogLine(WideString(kProhibitedCommand) + u" " + Logged(command));
  zm::WndAPIClass->MessageBox(nullptr, kProhibitedCommand, WideString(), zm::MB_OK);
}

bool IsMailLink(const WideString& text) { return text.size() >= 7 && zm::SameText(text.substr(0, 7), u"mailto:"); }

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// A field name of a link, percent escapes decoded and lower-cased (A to Z).
WideString FieldName(const WideString& field) {
  WideString name;
  for (std::size_t i = 0; i < field.size() && field[i] != u'='; ++i) {
    char16_t c = field[i];
    if (c == u'%' && i + 2 < field.size() && HexValue(field[i + 1]) >= 0 && HexValue(field[i + 2]) >= 0) {
      c = char16_t(HexValue(field[i + 1]) * 16 + HexValue(field[i + 2]));
      i += 2;
    }
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
    name += c;
  }
  return name;
}

}  // namespace

bool StartsRefusedProgram(const WideString& command, const WideString& folder) {
  return RefusedStart(PlanCommand(command, folder));
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

void RunProgram(zm::TZmForm* form, const WideString& commandLine, const WideString& folder) {
  // (The window would be drawn inactive here; nothing to do on this system.)
  if (commandLine.empty()) return;
  const std::vector<WideString> commands = SplitCommands(commandLine);
  if (const WideString* refused = FirstRefused(commands, folder)) {
    ReportRefused(*refused);
    return;
  }
  int links = 0;
  for (const WideString& c : commands) {
    plat::TShellStart plan = PlanCommand(c, folder);
    if (plan.Kind == plat::TShellStart::TKind::Link) {
      if (++links > kMaxLinksAtOnce) {
        zm::LogLine(u"Not started (more than " + zm::IntToStr(kMaxLinksAtOnce) + u" links at once): " + Logged(c));
        continue;
      }
      plan.Target = plat::ToUtf8(WithoutAttachments(plat::FromUtf8(plan.Target)));
    }
    WideString file, params;
    SplitCommand(c, file, params);
    if (file.empty() || file == u"\"\"") continue;
    // A topmost window would hide what starts.
    const bool topmost = form && form->StayOnTop();
    if (topmost) form->SetStayOnTop(false);
    const int r = plat::ShellExecutePlanned(plan);
    zm::LogLine(u"Run: " + Logged(c) + u" (" + zm::IntToStr(r) + u")");
    if (topmost && r < 33) form->SetStayOnTop(true);
  }
}

// ---- the user's yes ---------------------------------------------------------------------

TStartAnswer TStartAnswers::Find(const WideString& commandLine) const {
  auto it = answers_.find(commandLine);
  if (it == answers_.end()) return TStartAnswer::NotAsked;
  return it->second ? TStartAnswer::Start : TStartAnswer::DontStart;
}

void TStartAnswers::Set(const WideString& commandLine, bool start) { answers_[commandLine] = start; }

bool TStartAnswers::FirstRefusal(const WideString& commandLine) { return logged_.insert(commandLine).second; }

void TStartAnswers::Clear() {
  answers_.clear();
  logged_.clear();
}

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

// Characters that show nothing, or something else than they are: spaces
// other than the blank, joiners, direction marks and overrides, fillers,
// variation selectors and tags.
bool Invisible(char32_t c) {
  return (c >= 0x80 && c <= 0xA0) || c == 0xAD || c == 0x34F || c == 0x61C || c == 0x115F || c == 0x1160 ||
         c == 0x1680 || c == 0x17B4 || c == 0x17B5 || (c >= 0x180B && c <= 0x180F) || (c >= 0x2000 && c <= 0x200F) ||
         (c >= 0x2028 && c <= 0x202F) || (c >= 0x205F && c <= 0x206F) || c == 0x2800 || c == 0x3000 ||
         c == 0x3164 || (c >= 0xFE00 && c <= 0xFE0F) || c == 0xFEFF || c == 0xFFA0 || (c >= 0xFFF0 && c <= 0xFFFB) ||
         c == 0xFFFE || c == 0xFFFF || (c >= 0x1BCA0 && c <= 0x1BCA3) || (c >= 0x1D173 && c <= 0x1D17A) ||
         (c >= 0xE0000 && c <= 0xE0FFF);
}

WideString CodeText(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "[U+%04X]", unsigned(c));
  return plat::FromUtf8(buf);
}

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

WideString VisibleCommand(const WideString& command) {
  WideString out;
  out.reserve(command.size());
  for (std::size_t i = 0; i < command.size(); ++i) {
    const char16_t c = command[i];
    if (IsHigh(c) && i + 1 < command.size() && IsLow(command[i + 1])) {
      const char32_t cp = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(command[i + 1]) - 0xDC00);
      if (Invisible(cp)) out += CodeText(cp);
      else out.append(command, i, 2);
      ++i;
    } else if (IsHigh(c) || IsLow(c)) {
      out += CodeText(c);  // half a pair
    } else if (c == u' ') {
      out += u'\u2423';
    } else if (c < 0x20) {
      out += char16_t(0x2400 + c);  // the control pictures
    } else if (c == 0x7F) {
      out += u'\u2421';
    } else if (Invisible(c)) {
      out += CodeText(c);
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<TQuestionLine> QuestionLines(const std::vector<WideString>& commands, int maxWidth,
                                         const std::function<int(const WideString&)>& width) {
  std::vector<TQuestionLine> lines;
  for (const WideString& command : commands) {
    const WideString shown = VisibleCommand(command);
    bool continued = false;
    std::size_t pos = 0;
    while (pos < shown.size()) {
      // The longest piece from Pos that fits (one character at least).
      std::size_t lo = 1, hi = shown.size() - pos;
      while (lo < hi) {
        const std::size_t mid = lo + (hi - lo + 1) / 2;
        if (width(shown.substr(pos, mid)) <= maxWidth) lo = mid;
        else hi = mid - 1;
      }
      std::size_t n = lo;
      // Never half a surrogate pair.
      if (pos + n < shown.size() && IsLow(shown[pos + n])) n = n > 1 ? n - 1 : n + 1;
      if (pos + n < shown.size()) {
        // After a blank, a folder separator or a comma in the later half.
        for (std::size_t k = n; k > n / 2; --k) {
          const char16_t c = shown[pos + k - 1];
          if (c == u'\u2423' || c == u'/' || c == u'\\' || c == u',') {
            n = k;
            break;
          }
        }
      }
      lines.push_back({shown.substr(pos, n), continued});
      continued = true;
      pos += n;
    }
  }
  return lines;
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

// Longer command lines are never shown, nor started on a question.
constexpr std::size_t kMaxShownLength = 16384;

}  // namespace

TOruStartDialog::TOruStartDialog(const WideString& commandLine) {
  // The texts are the player's own: a show cannot word the question.
  Position = zm::dpWorkAreaCenter;
  Caption = kStartCaption;
  const zm::TRect work = zm::WorkArea();
  const std::int32_t workW = work.Right > work.Left ? work.Right - work.Left : 1024;
  const std::int32_t workH = work.Bottom > work.Top ? work.Bottom - work.Top : 768;
  const std::int32_t margin = ScaleDialogLength(12), indent = ScaleDialogLength(16);
  const std::int32_t textW =
      std::max(ScaleDialogLength(200), std::min(ScaleDialogLength(560), workW - 2 * margin - 16));

  // The lines as the dialog's controls draw them.
  plat::HDC dc = plat::GetDC(nullptr);
  plat::HGDIOBJ old = dc ? plat::SelectObject(dc, plat::GetStockObject(plat::DEFAULT_GUI_FONT)) : nullptr;
  const auto width = [dc](const WideString& s) {
    plat::SIZE z{};
    if (dc) plat::GetTextExtentPoint32W(dc, s.c_str(), int(s.size()), &z);
    return int(z.cx);
  };
  plat::SIZE em{};
  if (dc) plat::GetTextExtentPoint32W(dc, u"Xg", 2, &em);
  const std::int32_t lineH = std::max<std::int32_t>(em.cy, 8) + 2;
  const std::vector<WideString> commands = SplitCommands(commandLine);
  std::vector<TQuestionLine> lines;
  if (commandLine.size() <= kMaxShownLength) lines = QuestionLines(commands, textW - indent, width);
  if (dc) {
    plat::SelectObject(dc, old);
    plat::ReleaseDC(nullptr, dc);
  }

  const std::int32_t top = ScaleDialogLength(34);
  const std::int32_t below = ScaleDialogLength(8 + 16 + 14 + 25 + 12);
  const std::int32_t room = (workH - top - below - ScaleDialogLength(40)) / lineH;
  whole_ = commandLine.size() <= kMaxShownLength && !lines.empty() && std::int32_t(lines.size()) <= room;
  if (!whole_) lines.clear();
  lines_ = std::int32_t(lines.size());

  Width = textW + 2 * margin;
  auto* question = Place(Add<zm::TDialogStatic>(), 12, 12, 0, 16);
  question->Width = textW;
  question->Caption = kStartQuestion;
  std::int32_t y = top;
  for (std::size_t i = 0; i < lines.size(); ++i, y += lineH) {
    auto* line = Add<zm::TDialogStatic>();
    line->X = margin + (lines[i].Continued ? indent : 0);
    line->Y = y;
    line->Width = textW - (lines[i].Continued ? indent : 0);
    line->Height = lineH;
    line->Id = idStartCommand + std::int32_t(i);
    line->Caption = lines[i].Text;
  }
  y += ScaleDialogLength(8);
  auto* warning = Add<zm::TDialogStatic>();
  warning->X = margin;
  warning->Y = y;
  warning->Width = textW;
  warning->Height = ScaleDialogLength(16);
  warning->Caption = kStartWarning;
  y += ScaleDialogLength(16 + 14);
  // Don't start comes first in the tab order as well.
  const std::int32_t buttonW = ScaleDialogLength(92), gap = ScaleDialogLength(6);
  auto* dont = Add<zm::TDialogButton>();
  dont->X = Width - margin - buttonW;
  dont->Y = y;
  dont->Width = buttonW;
  dont->Height = ScaleDialogLength(25);
  dont->Caption = kDontStartButton;
  dont->Id = plat::IDCANCEL;
  dont->Default = 1;
  auto* start = Add<zm::TDialogButton>();
  start->X = dont->X - gap - buttonW;
  start->Y = y;
  start->Width = buttonW;
  start->Height = ScaleDialogLength(25);
  start->Caption = kStartButton;
  start->Id = idStart;
  Height = y + ScaleDialogLength(25 + 12);
}

bool AskToStart(HWND owner, const WideString& commandLine) {
  zm::TRef<TOruStartDialog> dialog = zm::MakeRef<TOruStartDialog>(commandLine);
  return dialog->Whole() && dialog->ShowModal(owner) == idStart;
}

bool NobodyToAsk() {
  if (ScreenSaverMode) return true;
  // A dialog nobody answers ends at once without a display.
  return !plat::DialogDriver() && plat::WindowSystemBackEnd() != "sdl";
}

bool ShowMayStart(HWND owner, TStartAnswers& answers, const WideString& commandLine, const WideString& folder,
                  bool byUser) {
  const std::vector<WideString> commands = SplitCommands(commandLine);
  if (commands.empty()) return false;
  const bool nobody = NobodyToAsk();
  if (const WideString* refused = FirstRefused(commands, folder)) {
    // Where nobody sees a box, the log says it once.
    if (!nobody) ReportRefused(*refused);
    else if (answers.FirstRefusal(commandLine)) zm::LogLine(WideString(kProhibitedCommand) + u" " + Logged(*refused));
    return false;
  }
  const auto notStarted = [&](const char16_t* why) {
    if (answers.FirstRefusal(commandLine)) zm::LogLine(WideString(u"Not started") + why + u": " + Logged(commandLine));
    return false;
  };
  // A screen saver runs while nobody is there; a run without a display has
  // nobody to ask: nothing starts, links included.
  if (nobody) return notStarted(ScreenSaverMode ? u" (screen saver)" : u" (nobody to ask)");
  // A link the user clicked for opens; one the show opens on its own (at a
  // slide's start, at its end) is asked for as a program is.
  if (byUser && std::none_of(commands.begin(), commands.end(), NeedsStartAnswer)) return true;
  switch (answers.Find(commandLine)) {
    case TStartAnswer::Start: return true;
    case TStartAnswer::DontStart: return notStarted(u"");
    case TStartAnswer::NotAsked: break;
  }
  zm::TRef<TOruStartDialog> dialog = zm::MakeRef<TOruStartDialog>(commandLine);
  if (!dialog->Whole()) return notStarted(u" (too long to show whole)");
  const bool start = dialog->ShowModal(owner) == idStart;
  answers.Set(commandLine, start);
  zm::LogLine(u"Start question: " + Logged(commandLine) + (start ? u": Start" : u": Don't start"));
  return start || notStarted(u"");
}

}  // namespace oru
