#pragma once
// Starting programs, documents and links from a show, after a check that
// refuses command lines naming system commands (shells, deleting, formatting
// and the like), and, for anything but a web or e-mail link the user asked
// for, only after the user said yes to exactly that command line.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <set>
#include <vector>

#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/Win32/winDialogs.h"
#include "ZmLib/zmTypes.h"

namespace oru {

using zm::WideString;
using HWND = plat::HWND;

inline constexpr const char16_t* kProhibitedCommand =
    u"Command line contains prohibited command and will not be performed.";

// The command word: ">" when the command contains ">"; otherwise the first
// word (blanks inside double quotes kept in it, "@", quotes and "|"
// dropped), lower-cased, without its folder and from its first "." on.
WideString CommandWord(const WideString& command);
// False when the command word is a refused one, or when it starts another
// program (as "timeout", "nice" or "xargs" do) and a later word names a
// refused one.
bool IsAllowedCommand(const WideString& commandLine);

// Whether a program's file name is a refused one: a shell, an interpreter,
// a program that deletes or overwrites files, changes rights, or runs the
// commands its arguments give. The name is taken lower-cased, from its
// first "." on cut, and also without a version number at its end
// ("python3.11", "perl5.36.0", "tclsh8.6" and "vim.basic" are refused).
bool IsRefusedProgramName(const WideString& fileName);

// True when the command would run a refused program: the program that
// really starts (the command split as the start splits it, its path
// resolved, links followed, the retry in Folder included), or any program
// one of its arguments names (a path, or a name found in PATH), as
// starters such as "timeout", "env", "unshare" or the dynamic loader run
// them. A desktop launcher opened as a document counts as a program.
bool StartsRefusedProgram(const WideString& command, const WideString& folder);

// Text when it begins with one of the prefixes (any letter case); else the
// first prefix followed by Text.
WideString EnsurePrefix(std::initializer_list<const char16_t*> prefixes, const WideString& text);

// The commands of a command line: split at commas outside double quotes,
// each trimmed (empty ones dropped).
std::vector<WideString> SplitCommands(const WideString& commandLine);

// One command split into the file and its parameters the way the shell
// start takes them (quoted again where they were quoted).
void SplitCommand(const WideString& command, WideString& file, WideString& params);

// A "mailto:" link without the fields that would attach files to the mail
// ("attach", "attachment", in any letter case, also percent-encoded); any
// other text as it is.
WideString WithoutAttachments(const WideString& link);

// At most this many links open for one action; the rest are logged.
inline constexpr int kMaxLinksAtOnce = 3;

// Starts each command of the command line; when one is refused, a message
// box says so and none runs. A program that is not found is tried again in
// Folder; a link never is. Form may be nil.
void RunProgram(zm::TZmForm* form, const WideString& commandLine, const WideString& folder);

// ---- the user's yes ---------------------------------------------------------------------

enum class TStartAnswer : std::uint8_t { NotAsked, Start, DontStart };

// A show's answers: each holds for exactly the command line it was given
// for, until the show closes; any other command line is asked anew. What
// was not started is logged once per command line.
class TStartAnswers {
public:
  TStartAnswer Find(const WideString& commandLine) const;
  void Set(const WideString& commandLine, bool start);
  // True the first time only.
  bool FirstRefusal(const WideString& commandLine);
  void Clear();

private:
  std::map<WideString, bool> answers_;
  std::set<WideString> logged_;
};

inline constexpr const char16_t* kStartCaption = u"Slideshow";
inline constexpr const char16_t* kStartQuestion = u"This show asks to start:";
inline constexpr const char16_t* kStartWarning = u"Start it only if you trust the show.";
inline constexpr const char16_t* kStartButton = u"Start";
inline constexpr const char16_t* kDontStartButton = u"Don't start";
// The Start button's id; Don't start is IDCANCEL (Escape, Enter, the close
// box). The commands are shown one line after another from
// idStartCommand on; a command too long for one line goes on, indented, on
// the next.
inline constexpr std::int32_t idStart = 1010;
inline constexpr std::int32_t idStartCommand = 1011;

// False for an http:, https: or mailto: link (any letter case), which a
// show opens without asking when the user clicked or pressed a key for it;
// true for anything else.
bool NeedsStartAnswer(const WideString& command);

// The command as the question shows it: each blank as "␣", control and
// other invisible characters (line ends, tabs, direction marks, zero-width
// and unusual spaces) as their pictures or as "[U+XXXX]".
WideString VisibleCommand(const WideString& command);

// One line of the question's list.
struct TQuestionLine {
  WideString Text;
  bool Continued = false;  // goes on with the command of the line above
};
// Each command's visible form broken into lines no wider than MaxWidth as
// Width measures them, after a "␣", "/", "\" or "," where one fits, else
// where it must; nothing is left out.
std::vector<TQuestionLine> QuestionLines(const std::vector<WideString>& commands, int maxWidth,
                                         const std::function<int(const WideString&)>& width);

// Start / Don't start, listing every command of the command line whole;
// Don't start is the default.
class TOruStartDialog : public zm::TDialog {
public:
  explicit TOruStartDialog(const WideString& commandLine);
  // False when the list is too long for the screen: such a question is
  // never asked.
  bool Whole() const { return whole_; }
  std::int32_t LineCount() const { return lines_; }

private:
  bool whole_ = true;
  std::int32_t lines_ = 0;
};
// True only when the user chose Start (a dialog nobody answers ends with
// Don't start; one too long to show is not asked and is Don't start).
bool AskToStart(HWND owner, const WideString& commandLine);

// True when nobody can answer a question: a screen saver, or a run without
// a display that no dialog driver answers.
bool NobodyToAsk();

// Whether a show may start its command line. Refused commands give the box
// of RunProgram (only logged when nobody can see it) and false. When nobody
// can answer, nothing starts, links included. Web and e-mail links that
// the user asked for (ByUser: a click or a key) need no answer; anything
// else needs the user's Start for exactly this command line, asked for the
// first time it comes. Every refusal is logged once.
bool ShowMayStart(HWND owner, TStartAnswers& answers, const WideString& commandLine, const WideString& folder,
                  bool byUser);

}  // namespace oru
