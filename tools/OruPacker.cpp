#include "tools/OruPacker.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <random>
#include <stdexcept>

#include "OruLib2/OruPack/OruPackWriter.h"

namespace fs = std::filesystem;

namespace orupack {

namespace {

constexpr const char* kDescriptionName = "Project.oru";
constexpr const char* kGuidEntry = "ExeGUID";

struct TOptions {
  std::string Folder, Output, Program, Guid;
  int Method = oru::kEnciphered;
};

struct TUsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

bool SameTextAscii(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// "{" 8-4-4-4-12 hexadecimal digits "}".
bool IsGuidText(const std::string& s) {
  if (s.size() != 38 || s.front() != '{' || s.back() != '}') return false;
  for (std::size_t i = 1; i < 37; ++i) {
    bool hyphen = i == 9 || i == 14 || i == 19 || i == 24;
    if (hyphen ? s[i] != '-' : !std::isxdigit(static_cast<unsigned char>(s[i]))) return false;
  }
  return true;
}

std::string NewGuidText() {
  std::random_device rd;
  static const char kHex[] = "0123456789ABCDEF";
  std::string s = "{";
  for (int i = 0; i < 32; ++i) {
    if (i == 8 || i == 12 || i == 16 || i == 20) s += '-';
    s += kHex[rd() & 15];
  }
  return s + "}";
}

TOptions ParseArguments(const std::vector<std::string>& args, bool& help) {
  TOptions o;
  std::vector<std::string> operands;
  help = false;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded) {
      operands.push_back(a);
      continue;
    }
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) throw TUsageError("option " + a + " needs a value");
      return args[++i];
    };
    if (a == "-h" || a == "--help") help = true;
    else if (a == "--stored") o.Method = oru::kStored;
    else if (a == "--deflated") o.Method = oru::kDeflated;
    else if (a == "--enciphered") o.Method = oru::kEnciphered;
    else if (a == "--program") o.Program = value();
    else if (a == "--guid") o.Guid = value();
    else if (a == "--") optionsEnded = true;
    else if (a.size() > 1 && a[0] == '-') throw TUsageError("unknown option " + a);
    else operands.push_back(a);
  }
  if (help) return o;
  if (operands.size() != 2) throw TUsageError("expected a project folder (or its Project.oru) and an output file");
  o.Folder = operands[0];
  o.Output = operands[1];
  if (o.Folder.empty() || o.Output.empty()) throw TUsageError("empty file name");
  if (!o.Guid.empty() && !IsGuidText(o.Guid)) throw TUsageError("--guid wants a text like {0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
  return o;
}

std::string LowerAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A name as the container's entries are compared: "\" between folders, no
// leading ".\", letter case ignored.
std::string EntryKey(std::string name) {
  std::replace(name.begin(), name.end(), '/', '\\');
  while (name.rfind(".\\", 0) == 0) name.erase(0, 2);
  return LowerAscii(std::move(name));
}

// The folder of a show: the folder given, or the one of the Project.oru given.
fs::path ShowFolder(const std::string& given) {
  const fs::path path = given;
  std::error_code ec;
  if (fs::is_regular_file(path, ec) && SameTextAscii(path.filename().string(), kDescriptionName)) {
    const fs::path parent = path.parent_path();
    return parent.empty() ? fs::path(".") : parent;
  }
  if (!fs::is_directory(path, ec)) {
    if (fs::exists(path, ec)) throw std::runtime_error(given + " is neither a show's folder nor its " + kDescriptionName);
    throw std::runtime_error("no such folder: " + given);
  }
  return path;
}

// Says on err which files the description names that the folder does not
// hold: the packed show would play without them.
void WarnOfMissingFiles(const std::vector<std::pair<std::string, fs::path>>& files, const std::string& folder,
                        std::ostream& err) {
  std::ifstream in(files.front().second, std::ios::binary);
  const std::string description((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> entries;
  for (const auto& f : files) entries.push_back(EntryKey(f.first));
  std::sort(entries.begin(), entries.end());
  std::vector<std::string> said;
  for (const TNamedFile& named : NamedFiles(description)) {
    const std::string key = EntryKey(named.Name);
    if (std::binary_search(entries.begin(), entries.end(), key)) continue;
    if (std::find(said.begin(), said.end(), key) != said.end()) continue;
    said.push_back(key);
    err << "OruPack: warning: " << kDescriptionName << " names " << named.Name << " (" << named.Key << " in ["
        << named.Section << "]), which is not in " << folder << ": the show will play without it\n";
  }
}

}  // namespace

std::vector<TNamedFile> NamedFiles(std::string_view text) {
  static const char* const kFileKeys[] = {"Picture", "ImageName", "bfn", "FileName", "opt_logo_fn", "opt_nav_inifile"};
  std::vector<TNamedFile> named;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::string section;
  while (!text.empty()) {
    std::size_t end = text.find_first_of("\r\n");
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos) continue;
    line.remove_prefix(first);
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close != std::string_view::npos) section = std::string(line.substr(1, close - 1));
      continue;
    }
    if (line.front() == ';') continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.remove_suffix(1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    if (value.empty()) continue;
    for (const char* k : kFileKeys)
      if (SameTextAscii(std::string(key), k)) {
        named.push_back({std::string(value), section, k});
        break;
      }
  }
  return named;
}

namespace {

// The show's files as (entry name, path), in name order; entry names are
// relative to the folder with "\" separators, the way show descriptions
// name files. The description comes first, under its proper name.
std::vector<std::pair<std::string, fs::path>> ShowFiles(const fs::path& folder, const fs::path& skip) {
  std::vector<std::pair<std::string, fs::path>> files;
  std::optional<fs::path> description;
  // Linked folders are not followed (a link to a parent would never end).
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
    if (!it->is_regular_file()) continue;
    std::error_code ec;
    if (!skip.empty() && fs::equivalent(it->path(), skip, ec)) continue;
    fs::path rel = it->path().lexically_relative(folder);
    std::string name = rel.generic_string();
    std::replace(name.begin(), name.end(), '/', '\\');
    if (it.depth() == 0 && SameTextAscii(name, kDescriptionName)) {
      if (description) throw std::runtime_error("more than one " + std::string(kDescriptionName) + " in " + folder.string());
      description = it->path();
      continue;
    }
    files.emplace_back(std::move(name), it->path());
  }
  if (!description) throw std::runtime_error(folder.string() + " holds no " + kDescriptionName);
  std::sort(files.begin(), files.end());
  files.insert(files.begin(), {kDescriptionName, *description});
  return files;
}

void Pack(const TOptions& o, std::ostream& out, std::ostream& err) {
  fs::path folder = ShowFolder(o.Folder), output = o.Output;
  if (!o.Program.empty() && !fs::is_regular_file(o.Program))
    throw std::runtime_error("no such program file: " + o.Program);
  auto files = ShowFiles(folder, fs::exists(output) ? output : fs::path());
  WarnOfMissingFiles(files, folder.string(), err);
  // Deflating keeps 32-bit sizes; check before anything is written.
  for (auto& [name, path] : files)
    if ((name == kDescriptionName || o.Method == oru::kDeflated) && name != kGuidEntry &&
        fs::file_size(path) > 0xFFFFFFFFu)
      throw std::runtime_error(name + " is too large to deflate; pack with --stored or --enciphered");

  fs::path temp = output;
  temp += ".part";
  std::int64_t size = 0;
  try {
    if (output.has_parent_path()) fs::create_directories(output.parent_path());
    oru::TOruPackWriter w(temp.string());
    if (!o.Program.empty()) {
      // The program's own bytes come first; positions in the directory are
      // plain file positions of the copy.
      std::ifstream program(o.Program, std::ios::binary);
      if (!program) throw std::runtime_error("cannot read " + o.Program);
      w.WritePrefix(program);
    }
    bool hasGuid = false;
    for (auto& [name, path] : files) {
      int method = name == kDescriptionName ? oru::kDeflated : o.Method;
      if (name == kGuidEntry) {
        hasGuid = true;
        method = oru::kStored;
      }
      std::ifstream in(path, std::ios::binary);
      if (!in) throw std::runtime_error("cannot read " + path.string());
      w.Add(name, in, method);
    }
    if (!hasGuid)
      w.Add(kGuidEntry, oru::TOruPackWriter::ExeGuidData(o.Guid.empty() ? NewGuidText() : o.Guid), oru::kStored);
    size = w.Finish();
    if (!o.Program.empty())
      fs::permissions(temp, fs::status(o.Program).permissions() | fs::perms::owner_exec, fs::perm_options::replace);
    fs::rename(temp, output);
  } catch (...) {
    std::error_code ec;
    fs::remove(temp, ec);
    throw;
  }
  out << "OruPack: " << files.size() << " files of " << folder.string() << " packed into " << o.Output << " ("
      << size << " bytes)\n";
}

}  // namespace

std::string UsageText() {
  return "Usage: OruPack [options] <project folder> <output file>\n"
         "\n"
         "Packs a show project folder (a folder holding \"Project.oru\" and the show's\n"
         "files; its Project.oru may be given instead) into a show container. The\n"
         "files are named in the container by their paths inside the folder, with \"\\\"\n"
         "between folders; \"Project.oru\" is always deflated, and an \"ExeGUID\" entry\n"
         "is added unless the folder has one. A file the show names that the folder\n"
         "does not hold is named in a warning; the show is packed all the same.\n"
         "\n"
         "Options:\n"
         "  --program <file>  write a copy of <file> (the OruViewer5 program) with the\n"
         "                    container appended; the copy plays the show on its own.\n"
         "                    Append last: strip drops what is appended.\n"
         "  --enciphered      store the show's files masked with the container format's\n"
         "                    fixed key (the default); anyone can undo the mask: it\n"
         "                    keeps no one from reading the files\n"
         "  --deflated        store the show's files deflated\n"
         "  --stored          store the show's files as they are\n"
         "  --guid <text>     the \"ExeGUID\" text, such as\n"
         "                    {0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9} (default: a new one)\n"
         "  -h, --help        show this text\n"
         "\n"
         "Exit status: 0 packed, 1 packing failed, 2 bad arguments.\n";
}

int RunOruPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TOptions o;
  try {
    bool help = false;
    o = ParseArguments(args, help);
    if (help) {
      out << UsageText();
      return kPacked;
    }
  } catch (const TUsageError& e) {
    err << "OruPack: " << e.what() << "\n\n" << UsageText();
    return kBadUsage;
  }
  try {
    Pack(o, out, err);
  } catch (const std::exception& e) {
    err << "OruPack: " << e.what() << "\n";
    return kFailed;
  }
  return kPacked;
}

}  // namespace orupack
