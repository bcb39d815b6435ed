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
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "Oru/OruViewer/OruCarriedCode.h"
#include "Platform/Gdi/PlatGdi.h"
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

// The refused programs by what makes them dangerous to start from a show
// (the README lists them): each runs the code or the commands that its
// arguments, its options or the files they name give, or writes, replaces
// or deletes files, changes the system or its settings, gives away rights
// or shuts down. A program in none of them is asked for.
struct TRefusedCategory {
  std::u16string_view Name;
  std::span<const std::u16string_view> Members;
  // Refused as a command's first word too (IsAllowedCommand), so that also
  // a document of that name is; else only as a program that runs (the
  // words of these are common names: "date.jpg", "bridge.jpg").
  bool ByCommandWord = true;
};
std::span<const TRefusedCategory> RefusedCategories();
// Whole families of programs by how their names begin ("llvm-", "dpkg-" ...).
struct TRefusedFamily {
  std::u16string_view Prefix, What;
};
std::span<const TRefusedFamily> RefusedFamilies();
// Options that a program otherwise asked for (media players, a picture
// viewer) is refused with: each runs a shell line, a script or code, or
// writes files. An argument is the option when it is the option, starts
// with it and "=", or for a one-letter option holds its value glued on.
struct TRefusedOptions {
  std::u16string_view Program;
  std::span<const std::u16string_view> Options;
};
std::span<const TRefusedOptions> RefusedOptions();

// Whether a program's file name is a refused one (of a category or a
// family). The name is taken lower-cased, from its first "." on cut, and
// also without a version number at its end ("python3.11", "perl5.36.0",
// "tclsh8.6", "vim.basic") and without the target of a cross tool chain
// before it (the three parts of "x86_64-linux-gnu-gcc-12"); any "ld-..." is
// the dynamic loader.
bool IsRefusedProgramName(const WideString& fileName);

// True when the command would run a refused program: the program that
// really starts (the command split as the start splits it, its path
// resolved, links followed, the retry in Folder included; for a "#!"
// script each interpreter down to the program, through the system's env
// on the line to the program it looks up, at most four deep; refused too
// when that cannot be told, or the file is neither ELF nor a script), any
// program one of its arguments names (a path, or a name found in PATH), as
// starters such as "timeout", "env", "unshare" or the dynamic loader run
// them, or a response file ("@name" naming a file) given to any program.
// Whatever the program, an argument (the script line's included) that
// carries a command ("${", "$(", a backquote, "%pipe%" in any letter case,
// "|" at its start or after a "=") or names code (the path of a file that is
// an ELF program or library or a "#!" script, also after a "=" or ":") is
// refused. A document or a "file:" link goes to the desktop's opener: it
// counts as a program when it carries a command, or is a launcher by its
// name (".desktop") or a launcher, an executable, a "#!" script, a Windows
// program or a Java archive by its content, whatever its name; so does a
// link that carries a command.
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
// for, and only while its commands are shown as they were then (a program
// that has since appeared, or a link that now leads elsewhere, is asked
// anew), until the show closes; any other command line is asked anew. What
// was not started is logged once per command line.
class TStartAnswers {
public:
  TStartAnswer Find(const WideString& commandLine, const std::vector<WideString>& shown = {}) const;
  void Set(const WideString& commandLine, bool start, const std::vector<WideString>& shown = {});
  // True the first time only.
  bool FirstRefusal(const WideString& commandLine);
  // True the first time a command is not found.
  bool FirstNotFound(const WideString& command);
  // Forgets the answers and the look for code.
  void Clear();

  // How to find the code the show carries (FindCarriedCode); looked for
  // anew each time it is asked, so that what a started command has made
  // since (a program it unpacked) is seen.
  void SetCodeLook(std::function<TCarriedCode()> look);
  TCarriedCode CarriedCode();
  // True the first time for each file found: the log names it once.
  bool FirstCodeRefusal(const WideString& file) { return codeLogged_.insert(file).second; }

private:
  struct TAnswer {
    bool Start = false;
    std::vector<WideString> Shown;
  };
  std::map<WideString, TAnswer> answers_;
  std::set<WideString> logged_, notFound_;
  std::function<TCarriedCode()> look_;
  std::set<WideString> codeLogged_;
};

inline constexpr const char16_t* kStartCaption = u"Slideshow";
inline constexpr const char16_t* kStartQuestion = u"This show asks to start:";
inline constexpr const char16_t* kStartWarning = u"Start it only if you trust the show.";
inline constexpr const char16_t* kStartButton = u"Start";
inline constexpr const char16_t* kDontStartButton = u"Don't start";
// The Start button's id; Don't start is IDCANCEL (Escape, Enter, the close
// box). The commands are shown one line after another from
// idStartCommand on, each line laid out left to right in the order of its
// characters; a command too long for one line goes on, indented, on the
// next.
inline constexpr std::int32_t idStart = 1010;
inline constexpr std::int32_t idStartCommand = 1011;

// False for an http:, https: or mailto: link (any letter case), which a
// show opens without asking when the user clicked or pressed a key for it;
// true for anything else.
bool NeedsStartAnswer(const WideString& command);

// A text as the question shows it, so that two texts that differ never
// look the same: each blank as "␣", control characters (line ends, tabs)
// as their pictures, and as "[U+XXXX]" other invisible characters
// (direction marks, zero-width and unusual spaces), the question's own
// marks where the text holds them ("[", "␣" and the other pictures), and
// every character that does not read as itself (plat::ReadsAsItself: a
// look-alike in the confusables data as Cyrillic "а" or "∕", a letter
// written apart from its mark, a mark on no letter ...) or that the
// question's font does not draw as its own (no glyph, as Han in DejaVu
// Sans; or one it draws exactly as another's).
WideString VisibleCommand(const WideString& command);

// A text drawn as the question draws its lines (in its font and colours),
// pixel by pixel: each pixel's difference from the background by the
// largest of its colour channels (0 to 255), in a cell of kCellWidth x
// kCellHeight with the text at (kTextX, kTextY). Made on the thread that
// uses it.
class TQuestionInk {
public:
  static constexpr int kCellWidth = 80, kCellHeight = 40, kTextX = 20, kTextY = 10;
  TQuestionInk();
  ~TQuestionInk();
  TQuestionInk(const TQuestionInk&) = delete;
  TQuestionInk& operator=(const TQuestionInk&) = delete;
  // False when nothing can be drawn.
  bool Ready() const { return bits_ != nullptr; }
  // The face the question's font resolves to, and its cell height.
  WideString Face() const;
  std::int32_t Height() const;
  bool HasGlyph(char32_t c) const;
  std::vector<std::uint8_t> Of(std::u32string_view text) const;

private:
  plat::HDC dc_ = nullptr;
  plat::HGDIOBJ bitmap_ = nullptr, oldBitmap_ = nullptr, oldFont_ = nullptr;
  std::uint32_t* bits_ = nullptr;
  std::uint32_t background_ = 0;
};
// Two texts draw clearly apart when at least this many pixels differ by
// more than kInkApart of 255.
inline constexpr int kPixelsApart = 12;
inline constexpr int kInkApart = 40;
// How many pixels of two drawings differ by more than kInkApart.
int PixelsApart(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);
// Whether the question's font is the face the table of characters shown as
// themselves was made for (OruQuestionGlyphs.inc); only then does any
// character beyond ASCII show as itself.
bool QuestionFaceIsKnown(const TQuestionInk& ink);

// One command as the question shows it: the path of the program that
// would run (links followed; every character outside printable ASCII as
// "[U+XXXX]") followed by each argument it gets, in double quotes (a quote
// in it as "[U+0022]"); a document's path, or a link as the desktop's
// opener gets it, as VisibleCommand shows them. A link whose host holds
// anything beyond ASCII (also percent-encoded) is followed by a blank and
// "(host NAME)", NAME the ASCII form a browser looks up, or by "(host with
// no ASCII form)". Empty when the command would start nothing (the program
// is not found).
WideString QuestionText(const WideString& command, const WideString& folder);

// One line of the question's list.
struct TQuestionLine {
  WideString Text;
  bool Continued = false;  // goes on with the command of the line above
};
// Each text (as shown) broken into lines no wider than MaxWidth as Width
// measures them, after a blank, "␣", "/", "\" or "," where one fits, else
// where it must; nothing is left out.
std::vector<TQuestionLine> QuestionLines(const std::vector<WideString>& texts, int maxWidth,
                                         const std::function<int(const WideString&)>& width);

// Start / Don't start, listing whole every command of the command line
// that would start something (QuestionText, commands planned in Folder);
// Don't start is the default. The question takes no answer that was not
// read: until it has been drawn for kAnswerDelayMs of the program clock its
// buttons are unavailable (drawn so, and drawn available the moment they
// are), so that clicks on them and the dialog's keys and close box do
// nothing then and are not kept for later; it opens with Start away from
// the pointer where the screen leaves room, and a click on Start counts
// only once the pointer has been off it since the question showed (a
// resting hand does not answer). A signal that asks the program to end
// answers Don't start at any time, the wait included.
class TOruStartDialog : public zm::TDialog {
public:
  static constexpr std::uint32_t kAnswerDelayMs = 1000;

  explicit TOruStartDialog(const WideString& commandLine, const WideString& folder = {});
  // False when the list is too long for the screen, or empty: such a
  // question is never asked.
  bool Whole() const { return whole_; }
  std::int32_t LineCount() const { return lines_; }
  // The commands as listed.
  const std::vector<WideString>& Shown() const { return shown_; }
  // The buttons take clicks.
  bool Answerable() const { return answerable_; }
  // The pointer has been off Start since the question showed: a click on
  // Start counts.
  bool PointerHasLeftStart() const { return pointerLeft_; }

  zm::LRESULT DialogProc(zm::TWndProcArgs& msg) override;

private:
  friend class TStartButton;
  void KeepStartFromPointer();
  void HoldAnswers(bool hold);
  // Whether the pointer is off Start now (noted for good once it is).
  bool NotePointer();

  bool whole_ = true;
  std::int32_t lines_ = 0;
  std::vector<WideString> shown_;
  bool drawn_ = false, answerable_ = false, pointerLeft_ = false;
  std::uint32_t drawnAt_ = 0;
};
// Ends the start question that is open, if any, with Don't start, also
// while its buttons wait: the window it asks for closes (the user or the
// system closing the player).
void EndStartQuestion();
// True only when the user chose Start (a dialog nobody answers ends with
// Don't start; one too long to show is not asked and is Don't start).
bool AskToStart(HWND owner, const WideString& commandLine, const WideString& folder = {});

// True when nobody can answer a question: a screen saver, or a run without
// a display that no dialog driver answers.
bool NobodyToAsk();

// Whether a show may start its command line. Refused commands give the box
// of RunProgram (only logged when nobody can see it) and false; so does
// every program, document and "file:" link of a show that carries code
// (Answers' CarriedCode, looked for at each of them; the log names each
// file found once). A command
// whose program is not found is not asked for (logged once as not found).
// When nobody can answer, nothing starts, links included. Web and e-mail
// links that the user asked for (ByUser: a click or a key) need no answer;
// anything else needs the user's Start for exactly this command line,
// asked for the first time it comes; the log says what the question
// showed. Every refusal is logged once. On true, Approved (when given)
// holds the commands that may start, each with its text as shown: a
// command that was not shown never starts.
struct TApprovedCommand {
  WideString Command, Shown;
};
bool ShowMayStart(HWND owner, TStartAnswers& answers, const WideString& commandLine, const WideString& folder,
                  bool byUser, std::vector<TApprovedCommand>* approved = nullptr);

// Logs a command line of the show that is not asked about, and why: it
// came while another question or a dialog was open (the show goes on and
// it does not come back).
void LogNotAsked(const WideString& commandLine, const WideString& why);

// Runs the approved commands (RunProgram) that would still start what was
// shown; one that now resolves otherwise (its program appeared, moved or
// was replaced since) is logged and left out. With Answers, the look for
// code is made once more just before: a show found to carry code now (made
// while the question was open) starts none of its programs, documents and
// "file:" links, as ShowMayStart refuses them.
void RunApproved(zm::TZmForm* form, const std::vector<TApprovedCommand>& approved, const WideString& folder,
                 TStartAnswers* answers = nullptr);

}  // namespace oru
