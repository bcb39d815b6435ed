#include "Platform/PlatProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include "Platform/PlatFiles.h"
#include "Platform/PlatUtf8.h"

extern char** environ;

namespace plat {

namespace {

// "/proc/self/fd/N": the open file itself, whatever its path now leads to.
std::string DescriptorPath(int fd) {
  std::string path = "/proc/self/fd/";
  return path.append(std::to_string(fd));
}

class TRealSpawner : public IProcessSpawner {
 public:
  int Spawn(const TSpawnRequest& request) override {
    const TRealRun* run = request.Run;
    if (run && (!run->Known || run->Files.empty() || run->Argv.empty())) return ENOEXEC;
    const std::vector<std::string>& argv = run ? run->Argv : request.Argv;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // The environment, without what env on a script's line takes out.
    std::vector<char*> env;
    for (char** e = environ; e && *e; ++e) {
      const std::string_view entry(*e);
      bool unset = false;
      if (run)
        for (const std::string& name : run->Unset)
          unset = unset || (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
                            entry[name.size()] == '=');
      if (!unset) env.push_back(*e);
    }
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return ENOMEM;
    const auto fail = [&actions](int error) {
      posix_spawn_file_actions_destroy(&actions);
      return error;
    };
    if (!request.Dir.empty() && posix_spawn_file_actions_addchdir_np(&actions, request.Dir.c_str()) != 0)
      return fail(ENOMEM);
    std::string path;
    if (run) {
      // The scripts of the way stay open in what starts (their /dev/fd/N);
      // a descriptor given onto itself is kept across the start.
      for (std::size_t i = 0; i + 1 < run->Files.size(); ++i)
        if (posix_spawn_file_actions_adddup2(&actions, run->Files[i]->Descriptor(), run->Files[i]->Descriptor()) != 0)
          return fail(ENOMEM);
      path = DescriptorPath(run->Files.back()->Descriptor());
    } else {
      // Searched only in PATH's absolute folders: never the current one.
      path = request.Search ? FindProgram(request.Program, std::string_view()) : request.Program;
    }
    if (path.empty()) return fail(ENOENT);
    pid_t pid = 0;
    const int r = posix_spawn(&pid, path.c_str(), &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) return r;
    // Started programs live on their own; only their exit status is collected.
    try {
      std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
      }).detach();
    } catch (...) {
    }
    return 0;
  }
};

TRealSpawner gRealSpawner;
std::mutex gSpawnerLock;
IProcessSpawner* gSpawner = &gRealSpawner;

IProcessSpawner* Spawner() {
  std::lock_guard<std::mutex> lock(gSpawnerLock);
  return gSpawner;
}

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

int SpawnResult(int error) {
  if (error == 0) return kShellStarted;
  if (error == ENOENT) return kShellFileNotFound;
  if (error == EACCES) return kShellAccessDenied;
  return kShellFailed;
}

int OpenWithDesktop(const std::string& target, const std::string& dir) {
  TSpawnRequest request;
  request.Program = "xdg-open";
  request.Argv = {"xdg-open", target};
  request.Dir = dir;
  request.Search = true;
  return SpawnResult(Spawner()->Spawn(request));
}

}  // namespace

IProcessSpawner* SetProcessSpawner(IProcessSpawner* spawner) {
  std::lock_guard<std::mutex> lock(gSpawnerLock);
  IProcessSpawner* previous = gSpawner == &gRealSpawner ? nullptr : gSpawner;
  gSpawner = spawner ? spawner : &gRealSpawner;
  return previous;
}

IProcessSpawner* RealProcessSpawner() { return &gRealSpawner; }

bool HasUrlScheme(std::u16string_view text) {
  if (text.size() < 3 || !IsAsciiLetter(text[0])) return false;
  for (std::size_t i = 1; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c == u':') return i >= 2;
    if (!IsAsciiLetter(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'.' && c != u'-') return false;
  }
  return false;
}

TShellStart PlanShellExecute(std::u16string_view file, const std::vector<std::u16string>& params,
                             std::u16string_view dir) {
  using TKind = TShellStart::TKind;
  TShellStart plan;
  if (file.empty()) return plan;
  // A NUL would cut the name short for the system: another program than the
  // one checked would start, or other arguments than the ones given.
  if (file.find(u'\0') != std::u16string_view::npos) return plan;
  if (dir.find(u'\0') != std::u16string_view::npos) {
    plan.Kind = TKind::PathNotFound;
    return plan;
  }
  for (const std::u16string& p : params)
    if (p.find(u'\0') != std::u16string::npos) {
      plan.Kind = TKind::Failed;
      return plan;
    }
  if (HasUrlScheme(file)) {
    plan.Kind = TKind::Link;
    plan.Target = ToUtf8(file);
    return plan;
  }

  namespace fs = std::filesystem;
  std::string nativeDir = dir.empty() ? std::string() : ResolvePath(NativePath(dir));
  std::string native = NativePath(file);
  if (native.empty() || native[0] != '/') {
    std::error_code ec;
    fs::path base = nativeDir.empty() ? fs::current_path(ec) : fs::path(nativeDir);
    native = (base / native).string();
  }
  native = ResolvePath(native);
  struct stat st {};
  if (::stat(native.c_str(), &st) != 0) {
    std::string folder = fs::path(native).parent_path().string();
    struct stat fst {};
    plan.Kind = ::stat(folder.c_str(), &fst) == 0 && S_ISDIR(fst.st_mode) ? TKind::FileNotFound : TKind::PathNotFound;
    return plan;
  }
  struct stat dst {};
  plan.Dir =
      !nativeDir.empty() && ::stat(nativeDir.c_str(), &dst) == 0 && S_ISDIR(dst.st_mode) ? nativeDir : std::string();
  plan.Target = native;
  // A program is opened now: what is judged is what starts.
  const std::shared_ptr<const TOpenedFile> program = S_ISREG(st.st_mode) ? TOpenedFile::Open(native) : nullptr;
  if (program ? program->Executable() : S_ISREG(st.st_mode) && ::access(native.c_str(), X_OK) == 0) {
    plan.Kind = TKind::Program;
    plan.Argv.push_back(native);
    for (const std::u16string& p : params) plan.Argv.push_back(ToUtf8(p));
    // One that cannot be read cannot be judged: it stays unknown.
    if (program) plan.Run = RealRunOf(program, plan.Argv, plan.Dir);
    return plan;
  }
  // A document or folder: opened by its desktop program, without parameters.
  plan.Kind = TKind::Document;
  return plan;
}

int ShellExecutePlanned(const TShellStart& start) {
  using TKind = TShellStart::TKind;
  switch (start.Kind) {
    case TKind::FileNotFound: return kShellFileNotFound;
    case TKind::PathNotFound: return kShellPathNotFound;
    case TKind::Failed: return kShellFailed;
    case TKind::Link: return OpenWithDesktop(start.Target, std::string());
    case TKind::Document: return OpenWithDesktop(start.Target, start.Dir);
    case TKind::Program: break;
  }
  // What cannot be told, or has changed since it was judged, does not start.
  if (start.Argv.empty() || !start.Run.Known || !start.Run.Unchanged()) return kShellFailed;
  TSpawnRequest request;
  request.Program = start.Target;
  request.Argv = start.Argv;
  request.Dir = start.Dir;
  request.Run = &start.Run;
  return SpawnResult(Spawner()->Spawn(request));
}

std::size_t ArgumentRoom() {
  const long max = ::sysconf(_SC_ARG_MAX);
  std::size_t room = max > 0 ? std::size_t(max) : std::size_t(128 * 1024);
  std::size_t environment = 0;
  for (char** e = environ; e && *e; ++e) environment += std::strlen(*e) + 1 + sizeof(char*);
  // The pointers of the arguments take room too; a little is left for them.
  return room > environment + 4096 ? room - environment - 4096 : 0;
}

std::size_t MaxArgumentBytes() {
  const long page = ::sysconf(_SC_PAGESIZE);
  return std::size_t(page > 0 ? page : 4096) * 32;
}

int ShellExecute(std::u16string_view file, const std::vector<std::u16string>& params, std::u16string_view dir) {
  return ShellExecutePlanned(PlanShellExecute(file, params, dir));
}

std::string PathInFolder(const std::string& path, const std::string& dir) {
  if (!path.empty() && path[0] == '/') return path;
  std::string base = dir;
  if (base.empty()) {
    std::error_code ec;
    base = std::filesystem::current_path(ec).string();
  }
  return base + "/" + path;
}

std::string RealPath(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return std::string();
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return std::string();
  std::string r(real);
  std::free(real);
  return r;
}

std::string FindProgram(std::string_view word, std::string_view dir) {
  if (word.empty() || word.size() >= PATH_MAX || word.find('\0') != std::string_view::npos) return std::string();
  const auto executable = [](const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::access(path.c_str(), X_OK) != 0)
      return std::string();
    return RealPath(path);
  };
  if (word.find('/') != std::string_view::npos) {
    std::string path(word);
    if (path[0] != '/') {
      std::string base(dir);
      if (base.empty()) {
        std::error_code ec;
        base = std::filesystem::current_path(ec).string();
      }
      if (base.empty()) return std::string();
      path = base + "/" + path;
    }
    return executable(path);
  }
  const char* env = std::getenv("PATH");
  // Without PATH, exec takes the system's default folders.
  const std::string folders = env ? env : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = folders.substr(start, end - start);
    if (!folder.empty() && folder[0] == '/') {
      std::string found = executable(folder + "/" + std::string(word));
      if (!found.empty()) return found;
    }
    start = end + 1;
  }
  return std::string();
}

namespace {

// Up to n bytes at offset of an open file; fewer at its end or on an error.
std::size_t ReadOpenFileAt(int fd, std::uint64_t offset, void* buffer, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    const ssize_t r = ::pread(fd, static_cast<char*>(buffer) + got, n - got, off_t(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += std::size_t(r);
  }
  return got;
}

// Up to max bytes from offset; fewer at the file's end or on an error.
std::string ReadAt(int fd, off_t offset, std::size_t max) {
  std::string data(max, '\0');
  std::size_t got = 0;
  while (got < max) {
    const ssize_t n = ::pread(fd, data.data() + got, max - got, offset + off_t(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += std::size_t(n);
  }
  data.resize(got);
  return data;
}

bool ContainsNoCase(const std::string& data, std::string_view what) {
  return std::search(data.begin(), data.end(), what.begin(), what.end(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         }) != data.end();
}

}  // namespace

namespace {

bool IsJarManifestName(std::string_view name) {
  constexpr std::string_view kManifest = "META-INF/MANIFEST.MF";
  if (name.size() != kManifest.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(name[i])) != kManifest[i]) return false;
  return true;
}

}  // namespace

bool ZipListsJarManifest(const TReadAt& read, std::uint64_t size) {
  bool listed = false;
  VisitZipDirectory(read, size, false, [&listed](const TZipEntry& entry) {
    listed = IsJarManifestName(entry.Name);
    return !listed;
  });
  return listed;
}

namespace {

// Bounds of a look through an office document's parts.
constexpr std::uint64_t kMaxDocumentParts = std::uint64_t(64) << 20;

// What, in an OpenDocument's XML, runs a macro or a script: bindings of
// events, and libraries embedded in a flat document.
bool BindsScripts(const std::string& xml) {
  for (const std::string_view needle : {"vnd.sun.star.script:", "macro:", "script:event-listener",
                                        "ooo:library-embedded", "ooo:module", "<office:script "})
    if (ContainsNoCase(xml, needle)) return true;
  return false;
}

bool EndsWithNoCase(std::string_view name, std::string_view ending) {
  return name.size() >= ending.size() &&
         std::equal(ending.begin(), ending.end(), name.end() - std::ptrdiff_t(ending.size()), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         });
}

bool HasFolderNoCase(std::string_view name, std::string_view folder) {
  std::string lower(name);
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  // Appended, not summed with a literal in front: g++ 12 warns falsely on that sum.
  std::string inside = "/";
  inside.append(folder).append("/");
  return lower.compare(0, inside.size() - 1, inside, 1, std::string::npos) == 0 ||
         lower.find(inside) != std::string::npos;
}

// A zip's kind by what it lists (a Java archive, a Windows app package, an
// office document with macros), or a flat OpenDocument with them.
TFileContent ZipOrFlatDocumentContent(int fd, std::uint64_t size, const std::string& head) {
  const TReadAt read = [fd](std::uint64_t offset, void* buffer, std::size_t n) {
    return ReadOpenFileAt(fd, offset, buffer, n);
  };
  if (ContainsNoCase(head, "<office:document")) {
    if (size > kMaxDocumentParts) return TFileContent::OfficeMacros;
    return BindsScripts(ReadAt(fd, 0, std::size_t(size))) ? TFileContent::OfficeMacros : TFileContent::Data;
  }
  bool jar = false, appx = false, macros = false, openDocument = false;
  std::vector<TZipEntry> parts;
  VisitZipDirectory(read, size, false, [&](const TZipEntry& e) {
    jar = jar || IsJarManifestName(e.Name);
    appx = appx || EndsWithNoCase(e.Name, "AppxManifest.xml") || EndsWithNoCase(e.Name, "AppxBlockMap.xml");
    macros = macros || EndsWithNoCase(e.Name, "vbaProject.bin") || EndsWithNoCase(e.Name, "vbaData.xml") ||
             HasFolderNoCase(e.Name, "basic") || HasFolderNoCase(e.Name, "scripts");
    openDocument = openDocument || EndsWithNoCase(e.Name, "META-INF/manifest.xml");
    if (EndsWithNoCase(e.Name, ".xml")) parts.push_back(e);
    return !jar && parts.size() < 10000;
  });
  if (jar) return TFileContent::JavaArchive;
  // The manifest's name in the first entry or the directory at the end of
  // a zip whose directory does not read.
  if (head.compare(0, 2, "PK") == 0 &&
      (ContainsNoCase(head, "META-INF/MANIFEST.MF") ||
       ContainsNoCase(ReadAt(fd, off_t(size > 64 * 1024 ? size - 64 * 1024 : 0), 64 * 1024), "META-INF/MANIFEST.MF")))
    return TFileContent::JavaArchive;
  if (appx) return TFileContent::Package;
  if (macros) return TFileContent::OfficeMacros;
  if (openDocument) {
    std::uint64_t left = kMaxDocumentParts;
    for (const TZipEntry& part : parts) {
      std::string xml;
      if (part.Size > left || !ReadZipMember(read, size, part, left, xml) || BindsScripts(xml))
        return TFileContent::OfficeMacros;
      left -= xml.size();
    }
  }
  return TFileContent::Data;
}

}  // namespace

namespace {

// What an open regular file holds by its content.
TFileContent ContentOfOpenFile(int fd, const struct stat& opened) {
  if (!S_ISREG(opened.st_mode)) return TFileContent::Special;
  // Launchers may put a long comment before their group; the opener
  // reads the whole file.
  const std::string head = ReadAt(fd, 0, 64 * 1024);
  const auto startsWith = [&head](std::string_view magic) { return head.compare(0, magic.size(), magic) == 0; };
  if (startsWith("\x7F" "ELF")) return TFileContent::Executable;
  if (startsWith("#!")) return TFileContent::Script;
  if (startsWith("MZ")) return TFileContent::WindowsProgram;
  if (startsWith(std::string_view("\x4C\x00\x00\x00\x01\x14\x02\x00", 8))) return TFileContent::ShellLink;
  if (startsWith("\xD0\xCF\x11\xE0")) return TFileContent::OleCompound;
  if (ContainsNoCase(head, "[Desktop Entry]") || ContainsNoCase(head, "[KDE Desktop Entry]") ||
      ContainsNoCase(head, "[Desktop Action"))
    return TFileContent::DesktopEntry;
  if (startsWith("!<arch>\n") || startsWith("\xED\xAB\xEE\xDB") || startsWith("hsqs") || startsWith("sqsh"))
    return TFileContent::Package;
  return ZipOrFlatDocumentContent(fd, std::uint64_t(opened.st_size), head);
}

}  // namespace

TFileContent FileContentOf(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return TFileContent::Missing;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return TFileContent::Missing;
  if (S_ISDIR(st.st_mode)) return TFileContent::Folder;
  if (!S_ISREG(st.st_mode)) return TFileContent::Special;
  // Not blocking: the file may have turned into a pipe since.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return TFileContent::Data;
  struct stat opened {};
  const TFileContent kind = ::fstat(fd, &opened) != 0 ? TFileContent::Special : ContentOfOpenFile(fd, opened);
  ::close(fd);
  return kind;
}

namespace {

// The first bytes of an open regular file tell code.
bool OpenFileStartsAsCode(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 2) return false;
  const std::string head = ReadAt(fd, 0, 4);
  return head.compare(0, 4, "\x7F" "ELF") == 0 || head.compare(0, 2, "#!") == 0;
}

// Opened for a look at its first bytes only: never blocking (a pipe put in
// its place), never the controlling terminal.
constexpr int kLookFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

}  // namespace

bool StartsAsCode(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  const int fd = ::open(path.c_str(), kLookFlags);
  if (fd < 0) return false;
  const bool code = OpenFileStartsAsCode(fd);
  ::close(fd);
  return code;
}

namespace {

// What packed files held, by the file and its state: a look made again
// reads an unchanged one no more.
struct TPeekedFile {
  std::uint64_t Size = 0;
  std::int64_t Modified = 0, Changed = 0;
  TPeekFinding Finding;
};
std::mutex gPeekedLock;
std::map<std::pair<dev_t, ino_t>, TPeekedFile> gPeeked;
constexpr std::size_t kMaxPeeked = 4096;

std::int64_t Ns(const timespec& t) { return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }

// What an open regular file holds: code by its first bytes, or what packed
// data holds.
TPeekFinding JudgeOpenFile(int fd, const struct stat& st, std::string_view name, const TLookBudget* budget) {
  char head[kPackedHeadSize];
  const std::size_t n = ReadOpenFileAt(fd, 0, head, std::size_t(std::min<off_t>(st.st_size, off_t(sizeof head))));
  const std::string_view h(head, n);
  if (h.substr(0, 4) == "\x7F" "ELF" || h.substr(0, 2) == "#!") return {TPeekFinding::TWhy::Code, {}, {}};
  if (n < std::size_t(std::min<off_t>(st.st_size, off_t(sizeof head))))
    return {TPeekFinding::TWhy::Unjudged, {}, "cannot be read"};
  if (PackedKindOf(h) == TPackedKind::None) return {};
  const std::pair<dev_t, ino_t> key{st.st_dev, st.st_ino};
  {
    std::lock_guard<std::mutex> lock(gPeekedLock);
    const auto it = gPeeked.find(key);
    if (it != gPeeked.end() && it->second.Size == std::uint64_t(st.st_size) &&
        it->second.Modified == Ns(st.st_mtim) && it->second.Changed == Ns(st.st_ctim))
      return it->second.Finding;
  }
  TPeekLimits limits;
  limits.Budget = budget;
  TPeekFinding finding = PeekIntoPacked(
      [fd](std::uint64_t offset, void* buffer, std::size_t count) { return ReadOpenFileAt(fd, offset, buffer, count); },
      std::uint64_t(st.st_size), name, limits);
  // What the look had no time for is not what the file holds.
  if (finding.Cut) return finding;
  if (finding.Why == TPeekFinding::TWhy::Unjudged) finding.Reason = "packed data that cannot be judged: " + finding.Reason;
  std::lock_guard<std::mutex> lock(gPeekedLock);
  if (gPeeked.size() >= kMaxPeeked) gPeeked.clear();
  gPeeked[key] = {std::uint64_t(st.st_size), Ns(st.st_mtim), Ns(st.st_ctim), finding};
  return finding;
}

bool Within(const std::string& path, const std::string& folder) {
  return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                            (folder == "/" || path[folder.size()] == '/'));
}

}  // namespace

TCodeSearch FindCodeInFolder(const std::string& folder, const TCodeLook& look) {
  TCodeSearch search;
  if (folder.empty() || folder.find('\0') != std::string::npos) return search;
  const std::string& container = look.Container;
  const std::size_t maxEntries = look.MaxEntries;
  struct stat shown {};
  const bool hasContainer =
      !container.empty() && container.find('\0') == std::string::npos && ::stat(container.c_str(), &shown) == 0;
  const std::string root = RealPath(folder);
  const auto found = [&search](std::string path, std::string reason, std::string inside = {}) {
    search.Found = std::move(path);
    search.Reason = std::move(reason);
    search.Inside = std::move(inside);
  };
  std::vector<std::string> folders{folder};
  while (!folders.empty() && search.Found.empty() && search.Complete) {
    const std::string here = std::move(folders.back());
    folders.pop_back();
    // What cannot be listed may hold anything: a folder one may enter but
    // not read (mode 0111) still lets a program run what it holds.
    const int dirFd = ::open(here.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (here == folder ? 0 : O_NOFOLLOW));
    DIR* dir = dirFd < 0 ? nullptr : ::fdopendir(dirFd);
    if (!dir) {
      if (dirFd >= 0) ::close(dirFd);
      found(here, "a folder that cannot be read");
      break;
    }
    for (;;) {
      errno = 0;
      const dirent* e = ::readdir(dir);
      if (!e) {
        if (errno != 0) found(here, "a folder that cannot be read");
        break;
      }
      const std::string_view name = e->d_name;
      if (name == "." || name == "..") continue;
      if (++search.Entries > maxEntries) {
        search.Complete = false;
        break;
      }
      const std::string path = here + "/" + std::string(name);
      if (const char* over = look.Budget ? look.Budget->Over() : nullptr) {
        found(path, over);
        search.Cut = true;
        break;
      }
      struct stat st {};
      // The kind the folder tells, else the entry's own.
      if (e->d_type == DT_REG) {
        st.st_mode = S_IFREG;
      } else if (e->d_type == DT_DIR) {
        st.st_mode = S_IFDIR;
      } else if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) continue;  // gone since it was listed
        found(path, "cannot be read");
        break;
      }
      if (S_ISLNK(st.st_mode)) {
        // A link counts as what it leads to; one to a folder is not
        // entered, and leads out of the show unless it stays inside it.
        if (::fstatat(dirFd, e->d_name, &st, 0) != 0) {
          found(path, "a link that leads nowhere the look can read");
          break;
        }
        if (S_ISDIR(st.st_mode)) {
          const std::string target = RealPath(path);
          if (root.empty() || target.empty() || !Within(target, root)) {
            found(path, "a link to a folder outside the show");
            break;
          }
          continue;
        }
      }
      if (S_ISDIR(st.st_mode)) {
        folders.push_back(path);
        continue;
      }
      if (!S_ISREG(st.st_mode)) {
        found(path, "a device, pipe or socket");
        break;
      }
      const int fd = ::openat(dirFd, e->d_name, kLookFlags);
      if (fd < 0 && errno == ENOENT) continue;
      struct stat opened {};
      if (fd < 0 || ::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        if (fd >= 0) ::close(fd);
        found(path, "cannot be read");
        break;
      }
      if (hasContainer && opened.st_dev == shown.st_dev && opened.st_ino == shown.st_ino) {
        // The show's container, by any name: its program, when it is not
        // the player's own, by its first bytes.
        const bool code = !look.ContainerIsPlayer && OpenFileStartsAsCode(fd);
        ::close(fd);
        if (code) {
          found(path, {});
          break;
        }
        continue;
      }
      const TPeekFinding finding = JudgeOpenFile(fd, opened, name, look.Budget);
      ::close(fd);
      if (finding.Cut) {
        found(path, finding.Reason, finding.Inside);
        search.Cut = true;
        break;
      }
      if (finding.Why == TPeekFinding::TWhy::Code) {
        found(path, {}, finding.Inside);
        break;
      }
      if (finding.Why == TPeekFinding::TWhy::Unjudged) {
        found(path, finding.Reason, finding.Inside);
        break;
      }
    }
    ::closedir(dir);
  }
  return search;
}

namespace {

// The "#!" line of an open file (InterpreterOf).
bool InterpreterOfOpenFile(int fd, std::string& interpreter, std::string& argument) {
  interpreter.clear();
  argument.clear();
  struct stat st {};
  std::string head;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) head = ReadAt(fd, 0, 256);
  if (head.compare(0, 2, "#!") != 0) return false;
  // What lies past the file's end reads as NULs.
  head.resize(256, '\0');
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  std::size_t end = head.find('\n');
  std::size_t a = 2;
  while (a < head.size() && a < end && blank(head[a])) ++a;
  if (end == std::string::npos) {
    // No line end in what is read: the interpreter's name must end in it;
    // the argument is cut where the reading stopped.
    const std::size_t cut = 255;
    std::size_t t = a;
    while (t < cut && !blank(head[t]) && head[t] != '\0') ++t;
    if (a >= cut || t >= cut) return false;
    end = cut;
  }
  while (end > a && blank(head[end - 1])) --end;
  std::size_t b = a;
  while (b < end && !blank(head[b]) && head[b] != '\0') ++b;
  if (b == a) return false;
  interpreter = head.substr(a, b - a);
  if (b < end && head[b] != '\0') {
    while (b < end && blank(head[b])) ++b;
    argument = head.substr(b, end - b);
    argument = argument.substr(0, argument.find('\0'));
  }
  return true;
}

}  // namespace

std::uint64_t ElfLength(std::string_view head) {
  if (head.size() < 64 || head.compare(0, 4, "\x7F" "ELF") != 0 || head[5] != 1) return 0;
  const auto le = [&head](std::size_t at, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(head[at + std::size_t(i)]);
    return v;
  };
  const bool wide = head[4] == 2;
  if (!wide && head[4] != 1) return 0;
  const std::uint64_t phoff = wide ? le(0x20, 8) : le(0x1C, 4), shoff = wide ? le(0x28, 8) : le(0x20, 4);
  const std::uint64_t phentsize = le(wide ? 0x36 : 0x2A, 2), phnum = le(wide ? 0x38 : 0x2C, 2);
  const std::uint64_t shentsize = le(wide ? 0x3A : 0x2E, 2), shnum = le(wide ? 0x3C : 0x30, 2);
  // No program is longer than this: what claims more is no program here.
  constexpr std::uint64_t kMost = std::uint64_t(1) << 48;
  if (phoff > kMost || shoff > kMost) return 0;
  std::uint64_t end = std::max(phoff + phentsize * phnum, shoff + shentsize * shnum);
  // The segments lie before the section headers in what linkers write;
  // those whose headers were read count too.
  const std::size_t entry = wide ? 56 : 32;
  if (phentsize >= entry)
    for (std::uint64_t i = 0; i < phnum; ++i) {
      const std::uint64_t at = phoff + i * phentsize;
      if (at > head.size() - entry) break;
      const std::uint64_t offset = wide ? le(std::size_t(at) + 8, 8) : le(std::size_t(at) + 4, 4);
      const std::uint64_t size = wide ? le(std::size_t(at) + 32, 8) : le(std::size_t(at) + 16, 4);
      if (offset > kMost || size > kMost) return 0;
      end = std::max(end, offset + size);
    }
  return end;
}

std::string FileStateOf(const std::string& path) {
  struct stat st {};
  if (path.empty() || path.find('\0') != std::string::npos || ::stat(path.c_str(), &st) != 0) return {};
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
         std::to_string(Ns(st.st_mtim)) + ":" + std::to_string(Ns(st.st_ctim));
}

namespace {

std::mutex gSameProgramLock;
std::map<std::string, bool> gSameProgram;

bool CompareStartingPrograms(int a, int b) {
  constexpr std::size_t kHead = 64 * 1024;
  const std::string headA = ReadAt(a, 0, kHead), headB = ReadAt(b, 0, kHead);
  const std::uint64_t length = ElfLength(headA);
  if (length == 0 || length != ElfLength(headB)) return false;
  std::vector<char> bufferA(1 << 20), bufferB(1 << 20);
  for (std::uint64_t at = 0; at < length;) {
    const std::size_t n = std::size_t(std::min<std::uint64_t>(bufferA.size(), length - at));
    if (ReadOpenFileAt(a, at, bufferA.data(), n) != n || ReadOpenFileAt(b, at, bufferB.data(), n) != n ||
        std::memcmp(bufferA.data(), bufferB.data(), n) != 0)
      return false;
    at += n;
  }
  return true;
}

}  // namespace

bool StartsWithSameProgram(const std::string& file, const std::string& program) {
  const std::string key = FileStateOf(file) + " " + FileStateOf(program);
  if (key.size() < 3) return false;
  {
    std::lock_guard<std::mutex> lock(gSameProgramLock);
    if (const auto it = gSameProgram.find(key); it != gSameProgram.end()) return it->second;
  }
  const std::shared_ptr<const TOpenedFile> a = TOpenedFile::Open(file), b = TOpenedFile::Open(program);
  const bool same = a && b && CompareStartingPrograms(a->Descriptor(), b->Descriptor());
  std::lock_guard<std::mutex> lock(gSameProgramLock);
  if (gSameProgram.size() > 64) gSameProgram.clear();
  gSameProgram[key] = same;
  return same;
}

bool InterpreterOf(const std::string& path, std::string& interpreter, std::string& argument) {
  interpreter.clear();
  argument.clear();
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  const bool script = InterpreterOfOpenFile(fd, interpreter, argument);
  ::close(fd);
  return script;
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecoded(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
      out += char(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

std::vector<std::string> FilesOfLink(std::string_view link) {
  std::vector<std::string> files;
  if (link.size() < 5 || !std::equal(link.begin(), link.begin() + 5, "file:", [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
      }))
    return files;
  std::string_view rest = link.substr(5);
  if (rest.substr(0, 2) == "//") {
    rest.remove_prefix(2);
    const std::size_t slash = rest.find('/');
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
  }
  std::error_code ec;
  const std::string here = std::filesystem::current_path(ec).string();
  const auto add = [&](std::string path) {
    if (path.empty()) return;
    if (path[0] != '/') path = here + "/" + path;
    if (std::find(files.begin(), files.end(), path) == files.end()) files.push_back(std::move(path));
  };
  const std::string_view cut = rest.substr(0, rest.find_first_of("?#"));
  for (std::string_view s : {rest, cut}) {
    add(PercentDecoded(s));
    add(std::string(s));
  }
  return files;
}

// ---- a program opened to be judged and started ------------------------------------------

std::shared_ptr<const TOpenedFile> TOpenedFile::Open(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return nullptr;
  // Not blocking: the file may have turned into a pipe since it was found.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  std::shared_ptr<TOpenedFile> file(new TOpenedFile);
  file->fd_ = fd;
  file->path_ = path;
  file->device_ = std::uint64_t(st.st_dev);
  file->inode_ = std::uint64_t(st.st_ino);
  file->size_ = std::uint64_t(st.st_size);
  file->modified_ = Ns(st.st_mtim);
  file->changed_ = Ns(st.st_ctim);
  // Where what was opened lies, read from the open file: a link swapped
  // since cannot make it name another.
  char target[PATH_MAX + 1];
  const ssize_t n = ::readlink(DescriptorPath(fd).c_str(), target, PATH_MAX);
  file->realPath_ = n > 0 && target[0] == '/' ? std::string(target, std::size_t(n)) : plat::RealPath(path);
  return file;
}

TOpenedFile::~TOpenedFile() {
  if (fd_ >= 0) ::close(fd_);
}

TFileContent TOpenedFile::Content() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return TFileContent::Data;
  return ContentOfOpenFile(fd_, st);
}

bool TOpenedFile::Interpreter(std::string& interpreter, std::string& argument) const {
  return InterpreterOfOpenFile(fd_, interpreter, argument);
}

bool TOpenedFile::Executable() const {
  // The open file's own rights, not those of whatever its path names now.
  return ::access(DescriptorPath(fd_).c_str(), X_OK) == 0;
}

bool TOpenedFile::Unchanged() const {
  struct stat st {};
  return ::fstat(fd_, &st) == 0 && std::uint64_t(st.st_dev) == device_ && std::uint64_t(st.st_ino) == inode_ &&
         std::uint64_t(st.st_size) == size_ && Ns(st.st_mtim) == modified_ && Ns(st.st_ctim) == changed_;
}

std::string TOpenedFile::Identity() const {
  return std::to_string(device_) + ":" + std::to_string(inode_) + ":" + std::to_string(size_) + ":" +
         std::to_string(modified_) + ":" + std::to_string(changed_);
}

bool TRealRun::Unchanged() const {
  return std::all_of(Files.begin(), Files.end(), [](const auto& f) { return f && f->Unchanged(); });
}

std::string TRealRun::Identity() const {
  std::string id;
  for (const auto& f : Files) {
    if (!id.empty()) id += ' ';
    id += f ? f->Identity() : std::string("?");
  }
  return id;
}

namespace {

// At most this many "#!" interpreters in a row, as the system follows them.
constexpr int kMaxInterpreters = 4;

bool IsBlankChar(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// env on a "#!" line, given Words (the line's argument, then the
// script's path): the program it looks up (Name as written, Program as
// found), with Words left as the arguments it gets ("-S" splits its text)
// and the variables it takes out in Unset, as long as neither the program
// nor its environment changes otherwise (no "-i", "-C", "NAME=VALUE",
// nothing env would expand or unquote). False otherwise.
bool ThroughEnv(std::deque<std::string>& words, std::string& name, std::string& program,
                std::vector<std::string>& unset, const std::string& dir) {
  const auto split = [&words](const std::string& text) {
    if (text.find_first_of("'\"\\$#") != std::string::npos) return false;
    std::vector<std::string> pieces;
    for (std::size_t a = 0; a < text.size();) {
      while (a < text.size() && IsBlankChar(text[a])) ++a;
      std::size_t b = a;
      while (b < text.size() && !IsBlankChar(text[b])) ++b;
      if (b > a) pieces.push_back(text.substr(a, b - a));
      a = b;
    }
    words.insert(words.begin(), pieces.begin(), pieces.end());
    return true;
  };
  while (!words.empty()) {
    const std::string w = words.front();
    if (w.empty() || w[0] != '-') break;
    words.pop_front();
    if (w == "--") {
      break;
    } else if (w.compare(0, 2, "-S") == 0 || w.compare(0, 15, "--split-string=") == 0) {
      std::string text = w[1] == 'S' ? w.substr(2) : w.substr(15);
      if (w == "-S" || w == "--split-string") {
        if (words.empty()) return false;
        text = words.front();
        words.pop_front();
      }
      if (!split(text)) return false;
    } else if (w == "-u" || w == "--unset") {
      if (words.empty()) return false;
      unset.push_back(words.front());
      words.pop_front();
    } else if (w.compare(0, 2, "-u") == 0) {
      unset.push_back(w.substr(2));
    } else if (w.compare(0, 8, "--unset=") == 0) {
      unset.push_back(w.substr(8));
    } else if (!(w == "-v" || w == "--debug" || w == "-0" || w == "--null" || w.compare(0, 14, "--block-signal") == 0 ||
                 w.compare(0, 16, "--default-signal") == 0 || w.compare(0, 15, "--ignore-signal") == 0 ||
                 w == "--list-signal-handling")) {
      return false;
    }
  }
  if (words.empty()) return false;
  name = words.front();
  if (name.find('=') != std::string::npos) return false;
  words.pop_front();
  // env searches every folder of PATH, the relative ones too: only where it
  // holds none is the program the one found here.
  if (name.find('/') == std::string::npos) {
    const char* path = std::getenv("PATH");
    const std::string folders = path ? path : "";
    for (std::size_t a = 0; a <= folders.size();) {
      std::size_t b = folders.find(':', a);
      if (b == std::string::npos) b = folders.size();
      if (b == a || folders[a] != '/') return false;
      a = b + 1;
    }
  }
  program = FindProgram(name, dir);
  return !program.empty();
}

}  // namespace

TRealRun RealRunOf(const std::shared_ptr<const TOpenedFile>& program, const std::vector<std::string>& argv,
                   const std::string& dir) {
  TRealRun run;
  if (!program || argv.empty()) return run;
  const std::string env = FindProgram("env", {});
  run.Args.assign(argv.begin() + 1, argv.end());
  // What the file opened last is started with: its name, then the rest.
  std::string name = argv[0];
  std::vector<std::string> rest(argv.begin() + 1, argv.end());
  std::shared_ptr<const TOpenedFile> file = program;
  for (int depth = 0;; ++depth) {
    run.Files.push_back(file);
    run.Programs.push_back(file->Path());
    run.Programs.push_back(file->RealPath());
    switch (file->Content()) {
      case TFileContent::Executable:
        run.Argv = {name};
        run.Argv.insert(run.Argv.end(), rest.begin(), rest.end());
        run.Known = true;
        return run;
      case TFileContent::Script: break;
      default: return run;
    }
    std::string interpreter, argument;
    if (depth == kMaxInterpreters || !file->Interpreter(interpreter, argument)) return run;
    // The script goes on as its own open file, as the system hands on one
    // it starts by its descriptor.
    std::string script = "/dev/fd/";
    script.append(std::to_string(file->Descriptor()));
    const std::string written = PathInFolder(interpreter, dir);
    const std::string found = FindProgram(written, {});
    if (found.empty()) return run;
    std::vector<std::string> given;
    if (found != env || env.empty()) {
      // Its name as written counts too (a link named "sh" to busybox).
      run.Programs.push_back(written);
      if (!argument.empty()) {
        run.Args.push_back(argument);
        given.push_back(argument);
      }
      given.push_back(script);
      name = interpreter;
      file = TOpenedFile::Open(found);
    } else {
      // env [options] NAME [words]: NAME runs with the words, the script
      // and the arguments before.
      std::deque<std::string> words;
      if (!argument.empty()) words.push_back(argument);
      words.push_back(file->Path());
      std::string looked;
      if (!ThroughEnv(words, name, looked, run.Unset, dir)) return run;
      // What env leaves before the script's path came from the line (the
      // path is last, unless env took it as the program).
      if (!words.empty()) {
        words.back() = script;
        run.Args.insert(run.Args.end(), words.begin(), words.end() - 1);
      }
      given.assign(words.begin(), words.end());
      file = TOpenedFile::Open(looked);
    }
    if (!file) return run;
    given.insert(given.end(), rest.begin(), rest.end());
    rest = std::move(given);
  }
}

}  // namespace plat
