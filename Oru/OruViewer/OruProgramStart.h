#pragma once
// The start a show's command makes, as the shell start takes it: the command
// line split into commands, each into its file and parameters, and planned
// (the file found where the start would find it, retried in the show's
// folder when it is not there); links as the desktop's opener gets them.
#include <string_view>
#include <vector>

#include "Platform/PlatProcess.h"
#include "ZmLib/zmTypes.h"

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

}  // namespace oru
