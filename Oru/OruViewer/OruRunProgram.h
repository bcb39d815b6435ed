#pragma once
// Starting programs, documents and links from a show, after a check that
// refuses command lines naming system commands (shells, deleting, formatting
// and the like).
#include <initializer_list>
#include <vector>

#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/zmTypes.h"

namespace oru {

using zm::WideString;

inline constexpr const char16_t* kProhibitedCommand =
    u"Command line contains prohibited command and will not be performed.";

// The command word: ">" when the command contains ">"; otherwise the first
// word (blanks inside double quotes kept in it, "@", quotes and "|"
// dropped), lower-cased, without its folder and from its first "." on.
WideString CommandWord(const WideString& command);
// False when the command word is a refused one.
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

}  // namespace oru
