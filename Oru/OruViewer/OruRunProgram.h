#pragma once
// Starting programs, documents and links from a show, after a check that
// refuses command lines naming system commands (shells, deleting, formatting
// and the like), and, for anything but a web or e-mail link, only after the
// user said yes.
#include <cstdint>
#include <initializer_list>
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

// Text when it begins with one of the prefixes (any letter case); else the
// first prefix followed by Text.
WideString EnsurePrefix(std::initializer_list<const char16_t*> prefixes, const WideString& text);

// The commands of a command line: split at commas outside double quotes,
// each trimmed (empty ones dropped).
std::vector<WideString> SplitCommands(const WideString& commandLine);

// One command split into the file and its parameters the way the shell
// start takes them (quoted again where they were quoted).
void SplitCommand(const WideString& command, WideString& file, WideString& params);

// Starts each command of the command line; when one is refused, a message
// box says so and none runs. A start that does not find the file is tried
// again in Folder. Form may be nil.
void RunProgram(zm::TZmForm* form, const WideString& commandLine, const WideString& folder);

// ---- the user's yes ---------------------------------------------------------------------

// A show's answer to starting things outside the player: asked the first
// time, it holds until the show closes.
enum class TStartAnswer : std::uint8_t { NotAsked, Start, DontStart };

inline constexpr const char16_t* kStartCaption = u"Slideshow";
inline constexpr const char16_t* kStartQuestion = u"This show asks to start:";
inline constexpr const char16_t* kStartWarning = u"Start it only if you trust the show.";
inline constexpr const char16_t* kStartButton = u"Start";
inline constexpr const char16_t* kDontStartButton = u"Don't start";
// The Start button's id; Don't start is IDCANCEL (Escape, Enter, the close
// box). The command is shown in a read-only edit box.
inline constexpr std::int32_t idStart = 1010;
inline constexpr std::int32_t idStartCommand = 1011;

// False for an http:, https: or mailto: link (any letter case), which a
// show opens without asking; true for anything else.
bool NeedsStartAnswer(const WideString& command);

// Start / Don't start, showing the exact command line; Don't start is the
// default.
class TOruStartDialog : public zm::TDialog {
public:
  explicit TOruStartDialog(const WideString& commandLine);
};
// True only when the user chose Start (a dialog nobody answers, as in
// headless runs, ends with Don't start).
bool AskToStart(HWND owner, const WideString& commandLine);

// Whether a show may start its command line: refused commands give the
// box of RunProgram and false; web and e-mail links need no answer;
// otherwise the show's Answer, asked for when it is NotAsked (never asked in
// screen-saver mode: Don't start). What was refused is logged.
bool ShowMayStart(HWND owner, TStartAnswer& answer, const WideString& commandLine);

}  // namespace oru
