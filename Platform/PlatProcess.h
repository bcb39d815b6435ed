#pragma once
// Starting programs, documents and links the way the Windows shell does, on
// Linux: links go to xdg-open, executable files are started directly (never
// through a shell, so ">" and ";" stay plain text), other files are opened
// with xdg-open. A program is opened once when its start is planned, judged
// from what was opened, and that very file is started by its descriptor
// (a script's interpreter alike): no link or rename after the look changes
// what runs. The spawner is a seam: tests record instead of starting.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/PlatArchivePeek.h"

namespace plat {

struct TRealRun;

// One start for the spawner.
struct TSpawnRequest {
  // What is started as the command names it: a path, or a name looked up
  // in PATH's absolute folders (Search); and its arguments, its name first.
  std::string Program;
  std::vector<std::string> Argv;
  std::string Dir;  // empty keeps ours
  bool Search = false;
  // A program opened when its start was planned: the system runs what this
  // says (the file opened last, by its descriptor, with its own arguments,
  // scripts as /dev/fd/N), whatever Program names by then.
  const TRealRun* Run = nullptr;
};

class IProcessSpawner {
 public:
  virtual ~IProcessSpawner() = default;
  // 0, or the errno of the failure.
  virtual int Spawn(const TSpawnRequest& request) = 0;
};

// Installs a spawner (nullptr: the real one); returns the previous one.
IProcessSpawner* SetProcessSpawner(IProcessSpawner* spawner);
// The real one, for a spawner that watches the starts and still makes them.
IProcessSpawner* RealProcessSpawner();

// "http:", "mailto:" and the like: a letter, then at least one letter,
// digit, "+", "." or "-", then ":" (so a drive "C:" is not one).
bool HasUrlScheme(std::u16string_view text);

// Shell start results, as the Windows shell gives them: above 32 success.
constexpr int kShellStarted = 42;
constexpr int kShellFileNotFound = 2;
constexpr int kShellPathNotFound = 3;
constexpr int kShellAccessDenied = 5;
constexpr int kShellFailed = 31;

// What a file is by its content, whatever its name says (links followed).
enum class TFileContent : std::uint8_t {
  Missing,
  Folder,
  Special,         // a device, pipe or socket: reading it may never end
  Data,            // none of the below (or unreadable)
  DesktopEntry,    // a desktop launcher: "[Desktop Entry]" in its first 64 KiB
  Executable,      // ELF
  Script,          // "#!"
  WindowsProgram,  // "MZ"
  JavaArchive,     // a zip holding META-INF/MANIFEST.MF
  ShellLink,       // a Windows shell link: 4C 00 00 00 01 14 02 00
  OleCompound,     // an OLE compound file (installers, documents with macros): D0 CF 11 E0
  // An office document with macros or scripts: a zip listing a VBA project
  // (vbaProject.bin, vbaData.xml) or an OpenDocument's Basic or Scripts
  // folder, or an OpenDocument (zipped, or flat XML) whose parts bind
  // events to macros or scripts ("vnd.sun.star.script:", "macro:", event
  // listeners, embedded libraries); one too large to read through counts.
  OfficeMacros,
  // A package an installer installs: Debian's (an "ar" archive), RPM, a
  // squashfs image (snap), a Windows app package (a zip listing
  // AppxManifest.xml or AppxBlockMap.xml).
  Package
};

// A regular file opened to be judged and started: what is judged from it
// is what starts, whatever its path leads to by then. Shared by the copies
// of a plan; closed with the last.
class TOpenedFile {
 public:
  // Opened for reading (links followed, never blocking, never as the
  // terminal, closed in what starts); null when Path is no regular file or
  // cannot be opened.
  static std::shared_ptr<const TOpenedFile> Open(const std::string& path);
  ~TOpenedFile();
  TOpenedFile(const TOpenedFile&) = delete;
  TOpenedFile& operator=(const TOpenedFile&) = delete;

  int Descriptor() const { return fd_; }
  // The path it was opened by, and the path of what was opened (links
  // followed, found from the open file itself).
  const std::string& Path() const { return path_; }
  const std::string& RealPath() const { return realPath_; }
  TFileContent Content() const;
  // Its "#!" line (InterpreterOf).
  bool Interpreter(std::string& interpreter, std::string& argument) const;
  // The user may run it.
  bool Executable() const;
  // Still what was opened and judged: the same size, modification and
  // change times (a write, a change of its mode or links changes them).
  bool Unchanged() const;
  // The file and its state as opened: equal only for the same file unchanged.
  std::string Identity() const;

 private:
  TOpenedFile() = default;
  int fd_ = -1;
  std::string path_, realPath_;
  std::uint64_t device_ = 0, inode_ = 0, size_ = 0;
  std::int64_t modified_ = 0, changed_ = 0;
};

// What the system really runs when a program starts: the file; for a "#!"
// script its interpreter (a relative one taken in the folder the program
// starts in), given the argument of its line, the script and the arguments
// before; for the system's env on such a line the program it looks up (its
// "-S" split, "-u", "-v", "--" and signal options followed), at most four
// scripts deep. Every file of the way is opened once and judged from what
// was opened; the start runs the last one by its descriptor, each script
// handed on as /dev/fd/N of its own open file, as the system hands on a
// script it starts by its descriptor.
struct TRealRun {
  // False when that cannot be told: a file the system does not start by
  // itself (neither ELF nor "#!"), an interpreter that is missing or no
  // program, a chain longer than the system follows, env used otherwise.
  bool Known = false;
  // The names of the way, to be judged by name: each file by the path it
  // was reached by and by what was opened, each interpreter as written.
  std::vector<std::string> Programs;
  // The arguments given along the way (not the scripts' own paths).
  std::vector<std::string> Args;
  // The files of the way, in order; the last is the program that runs.
  std::vector<std::shared_ptr<const TOpenedFile>> Files;
  // What that program gets: its arguments, its name first; and the
  // variables env takes out of its environment.
  std::vector<std::string> Argv;
  std::vector<std::string> Unset;
  // The files of the way are as they were opened.
  bool Unchanged() const;
  // The identities of the files of the way.
  std::string Identity() const;
};
// The real run of an opened program started with Argv (its name first) in
// Dir.
TRealRun RealRunOf(const std::shared_ptr<const TOpenedFile>& program, const std::vector<std::string>& argv,
                   const std::string& dir);

// What a shell start of File would do, worked out before anything starts,
// so that what is checked is what runs.
struct TShellStart {
  enum class TKind : std::uint8_t { FileNotFound, PathNotFound, Failed, Link, Program, Document };
  TKind Kind = TKind::FileNotFound;
  // Link: the link; Program and Document: the file's path (absolute, in
  // the letter case found on disk, links not followed).
  std::string Target;
  std::vector<std::string> Argv;  // Program: argv, the path first
  std::string Dir;                // the working folder; empty keeps ours
  // Program: what it really runs, each file opened at the plan.
  TRealRun Run;
};
TShellStart PlanShellExecute(std::u16string_view file, const std::vector<std::u16string>& params,
                             std::u16string_view dir);
// Carries a plan out: the shell start result (above 32 success). A program
// starts as its plan opened it, and only while its files are unchanged
// (kShellFailed otherwise, nothing started).
int ShellExecutePlanned(const TShellStart& start);

// What the system takes for the arguments and environment of a program it
// starts, in bytes: the room its limit (ARG_MAX) leaves beside our
// environment, which a started program gets too; and the most one argument
// may hold (MAX_ARG_STRLEN, its final NUL included).
std::size_t ArgumentRoom();
std::size_t MaxArgumentBytes();

// Starts File (a path of the file layer or a link) with Params as its
// arguments; a relative File is taken in Dir (the current folder when Dir is
// empty). A missing file gives 2, or 3 when its folder is missing too.
int ShellExecute(std::u16string_view file, const std::vector<std::u16string>& params, std::u16string_view dir);

// The program a word names when it is started: a word with a "/" is a path
// (a relative one taken in Dir, else the current folder); any other is
// looked for in the absolute folders of PATH, as exec does (an empty or
// relative entry, the current folder, never counts). The file with every
// link followed; empty when that is no executable file.
std::string FindProgram(std::string_view word, std::string_view dir);
// Path with every link followed; empty when it does not exist.
std::string RealPath(const std::string& path);
// Path as a program started in Dir (the current folder when empty) takes it.
std::string PathInFolder(const std::string& path, const std::string& dir);

TFileContent FileContentOf(const std::string& path);

// Whether zip data of Size bytes lists the manifest a Java archive is
// started by, "META-INF/MANIFEST.MF" in any letter case, in its central
// directory, found as Java finds it: from an end record in the last 64 KiB
// (ZIP64 too), at the offset it gives or just before the end record (data
// put before the zip). Reads are bounded (the tail, at most 16 MiB of
// directory); damaged data is no manifest.
bool ZipListsJarManifest(const TReadAt& read, std::uint64_t size);

// Whether a file's first bytes make it code that a program here could load
// or run: native code for this system (ELF: a program or a shared library)
// or a "#!" script. Only a regular file is read (links followed), and only
// its first four bytes.
bool StartsAsCode(const std::string& path);

// The files of a folder and of its subfolders (a link to a folder is not
// entered; a link to a file counts as that file) looked through for the
// first that carries code or that the look cannot judge, so that it fails
// closed: a file that StartsAsCode tells of; packed data (compressed files
// and archives, PeekIntoPacked) that holds code or cannot be judged; a
// folder or file that cannot be read (Folder itself too); a link to a
// folder outside Folder, or one that leads nowhere; a device, pipe or
// socket. What packed data held is kept for as long as the file is
// unchanged (the same file, size and times), so that a look made again
// reads it no more: each file once, whatever its names.
struct TCodeLook {
  // The show's container, when it is one: it and every name that is the
  // same file are judged by their first bytes alone (the show's entries
  // are looked at one by one apart), and pass when ContainerIsPlayer (a
  // self-playing show: the player's own program, the show behind it).
  std::string Container;
  bool ContainerIsPlayer = false;
  // At most this many entries are looked at: Complete is false when there
  // were more.
  std::size_t MaxEntries = 100000;
  // The look's time; when it is spent, what is not judged yet counts.
  const TLookBudget* Budget = nullptr;
};
struct TCodeSearch {
  // Empty when nothing was found.
  std::string Found;
  // Where inside packed data ("|tools.tar|bin/helper"); else empty.
  std::string Inside;
  // Why what was found counts, when it is not code itself ("a folder that
  // cannot be read" ...); empty for code.
  std::string Reason;
  std::size_t Entries = 0;
  bool Complete = true;
  // The look's budget ran out (Reason says how): Found names where it was.
  bool Cut = false;
};
TCodeSearch FindCodeInFolder(const std::string& folder, const TCodeLook& look);

// Where an ELF program of these first bytes (its header) ends: the end of
// its furthest header table or segment; 0 when they are no ELF header.
std::uint64_t ElfLength(std::string_view head);
// Whether File begins with the very program Program begins with: an ELF
// image of the same extent, byte for byte (what follows it in either, a
// show appended, aside). Kept while both files are unchanged.
bool StartsWithSameProgram(const std::string& file, const std::string& program);
// The file and its state (device, inode, size, modification and change
// times): equal only for the same file unchanged; empty when it is not there.
std::string FileStateOf(const std::string& path);

// The "#!" line of a script as the system reads it when the script is
// started: the interpreter as written (a relative one is taken in the
// folder the program starts in) and the one argument after it (the rest of
// the line, blanks and tabs at its ends dropped, up to a NUL; empty when
// none). False when the file is no such script or one the system refuses to
// start: no interpreter, or one cut short by the 256 bytes it reads.
bool InterpreterOf(const std::string& path, std::string& interpreter, std::string& argument);

// The local paths a "file:" link (any letter case) may name, as openers
// differ on it: with its percent escapes decoded and as written, each
// whole and cut at "?" or "#"; a host name is passed over ("file://host/x"
// is /x), a relative path is taken in the current folder. Empty for any
// other link.
std::vector<std::string> FilesOfLink(std::string_view link);

}  // namespace plat
