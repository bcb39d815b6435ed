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
#include "Oru/OruViewer/OruProgramStart.h"
#include "Oru/OruViewer/OruQuestionText.h"
#include "Oru/OruViewer/OruRefusedPrograms.h"
#include "Platform/Gdi/PlatGdi.h"
#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/Win32/winDialogs.h"
#include "ZmLib/zmTypes.h"

namespace oru {

using zm::WideString;
using HWND = plat::HWND;

inline constexpr const char16_t* kProhibitedCommand =
    u"Command line contains prohibited command and will not be performed.";

// Text when it begins with one of the prefixes (any letter case); else the
// first prefix followed by Text.
WideString EnsurePrefix(std::initializer_list<const char16_t*> prefixes, const WideString& text);

// Starts each command of the command line, as its start is planned and
// judged (each program started as the file the plan opened); when one is
// refused, a message box says so and none runs. A command line longer than
// the system starts is logged and not started. A program that is not found
// is tried again in Folder; a link never is. Form may be nil.
void RunProgram(zm::TZmForm* form, const WideString& commandLine, const WideString& folder);

// ---- the user's yes ---------------------------------------------------------------------

enum class TStartAnswer : std::uint8_t { NotAsked, Start, DontStart };

// A show's answers: each holds for exactly the command line it was given
// for, and only while its commands are shown as they were then and start
// the same files, unchanged (a program that has since appeared, a link that
// now leads elsewhere, a file replaced or written over, is asked anew),
// until the show closes; any other command line is asked anew. What was
// not started is logged once per command line.
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
  // The commands of the command line as they are to be listed, already
  // worked out (QuestionText of each start planned).
  struct TShownTexts {
    std::vector<WideString> Texts;
  };
  TOruStartDialog(const WideString& commandLine, TShownTexts shown);
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
  void Build(const WideString& commandLine, std::vector<WideString> shown);
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

// Whether a show may start its command line. It is measured first: one
// longer than the system starts, or one that needs the question and is too
// long for it, is logged (once) and not looked at further. Each command is
// planned once, its files opened then judged, listed and on Start started.
// Refused commands give the box of RunProgram (only logged when nobody can
// see it) and false; so does
// every program, document and "file:" link of a show that carries code
// (Answers' CarriedCode, looked for at each of them; the log names each
// file found once). A command
// whose program is not found is not asked for (logged once as not found).
// When nobody can answer, nothing starts, links included. Web and e-mail
// links that the user asked for (ByUser: a click or a key) need no answer;
// anything else needs the user's Start for exactly this command line,
// asked for the first time it comes; the log says what the question
// showed. Every refusal is logged once. On true, Approved (when given)
// holds the commands that may start, each with its text as shown and its
// start as planned: a command that was not shown never starts.
struct TApprovedCommand {
  WideString Command, Shown;
  // The start as it was planned, judged and shown: its files opened then.
  plat::TShellStart Plan;
};
bool ShowMayStart(HWND owner, TStartAnswers& answers, const WideString& commandLine, const WideString& folder,
                  bool byUser, std::vector<TApprovedCommand>* approved = nullptr);

// Logs a command line of the show that is not asked about, and why: it
// came while another question or a dialog was open (the show goes on and
// it does not come back).
void LogNotAsked(const WideString& commandLine, const WideString& why);

// Starts the approved commands as they were planned for the question: each
// program as the file opened then, whatever its path leads to now; one
// written over since is logged and left out. Each start looks again: the
// commands are judged once more (a refused one: the box, and none runs)
// and, with Answers, the look for code is made once more just before: a
// show found to carry code now (made while the question was open) starts
// none of its programs, documents and "file:" links, as ShowMayStart
// refuses them.
void RunApproved(zm::TZmForm* form, const std::vector<TApprovedCommand>& approved, const WideString& folder,
                 TStartAnswers* answers = nullptr);

}  // namespace oru
