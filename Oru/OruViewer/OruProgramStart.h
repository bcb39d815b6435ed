#pragma once
// The start a show's command makes, as the shell start takes it: the command
// line split into commands, each into its file and parameters, and planned
// (the file found where the start would find it, retried in the show's
// folder when it is not there); links as the desktop's opener gets them.
#include <string_view>
#include <vector>

#include "Platform/PlatProcess.h"
#include "ZmLib/zmTypes.h"

namespace zm {
class TZmForm;
}

namespace oru {

using zm::WideString;

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

// The start a command makes: as the shell start takes it, then, when the
// file is not found, the retries in Folder (a link is never retried, so it
// can never turn into a file of that name).
plat::TShellStart PlanCommand(const WideString& command, const WideString& folder);

// Why the system would not start the command line, measured before anything
// else is done with it: more bytes in all than the system takes for a
// program's arguments (plat::ArgumentRoom), or a word longer than one
// argument may be (plat::MaxArgumentBytes). Empty when it fits.
WideString TooLongToStart(const WideString& commandLine);

// One command of a show and the start it makes, planned once: the files
// the plan opened are what is judged, shown and started.
struct TProgramStart {
  WideString Command;
  plat::TShellStart Plan;
};
// Each command of the command line (SplitCommands) planned in Folder.
std::vector<TProgramStart> PlanCommands(const WideString& commandLine, const WideString& folder);
// Starts the planned commands as they were planned: a program as the file
// its plan opened (and only while that is unchanged), a document and a
// link by the desktop's opener, at most kMaxLinksAtOnce links (the rest
// logged), a mail link without its attachments. A topmost form steps down
// for what starts. Each start is logged. Form may be nil.
void StartPlanned(zm::TZmForm* form, const std::vector<TProgramStart>& starts);

}  // namespace oru
