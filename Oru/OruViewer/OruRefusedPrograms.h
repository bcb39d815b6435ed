#pragma once
// The programs a show may not start, by what makes them dangerous to start
// from a show, and the judgement of a command by what would really run.
#include <span>
#include <string_view>

#include "ZmLib/zmTypes.h"

namespace plat {
struct TShellStart;
}

namespace oru {

using zm::WideString;

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

// StartsRefusedProgram of a start already planned: judged by the files
// its plan opened.
bool IsRefusedStart(const plat::TShellStart& start);

}  // namespace oru
