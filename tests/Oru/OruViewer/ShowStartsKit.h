#pragma once
// What the tests of a show's starts share: a spawner that records the
// starts (and makes them when asked), hands that answer the question, the
// log kept, programs and stand-ins written for a test.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Oru/OruViewer/OruRunProgram.h"
#include "Platform/Gdi/PlatFont.h"
#include "Platform/Gdi/PlatGdi.h"
#include "Platform/Gdi/PlatShape.h"
#include "Platform/PlatProcess.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatDialogs.h"
#include "Platform/User/PlatTermination.h"
#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLog.h"
#include "tests/Oru/OruViewer/InProcessPlayer.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/ShowBuilder.h"
#include "tests/support/kit/PackedWriter.h"
#include "tests/support/kit/ShowContainerWriter.h"
#include "tests/Oru/OruViewer/TestShows.h"
#include "OruLib2/OruClasses/OruShowLoader.h"

namespace orutest {

using namespace oru;
using TArgs = std::vector<std::string>;

// Records every start (as the command named it, and the file its plan
// opened for it); makes it too when Forward is set, else answers Error.
class TWatchedSpawner : public plat::IProcessSpawner {
public:
  TWatchedSpawner() : saved_(plat::SetProcessSpawner(this)) {}
  ~TWatchedSpawner() override { plat::SetProcessSpawner(saved_); }
  int Spawn(const plat::TSpawnRequest& request) override {
    Starts.push_back(request.Argv);
    Ran.push_back(request.Run && !request.Run->Files.empty() ? request.Run->Files.front()->RealPath()
                                                              : request.Program);
    if (BeforeStart) BeforeStart();
    return Forward ? plat::RealProcessSpawner()->Spawn(request) : Error;
  }
  std::vector<TArgs> Starts;
  std::vector<std::string> Ran;
  // Called at each start, after its last look, before the system starts it.
  std::function<void()> BeforeStart;
  bool Forward = false;
  int Error = 0;

private:
  plat::IProcessSpawner* saved_;
};

class TBoxCount : public zm::TWndAPI {
public:
  int MessageBox(zm::HWND, const WideString&, const WideString&, zm::UINT) override {
    ++Count;
    return zm::IDOK;
  }
  int Count = 0;
};

// Answers the questions in turn (Don't start once the list is used up) and
// keeps the commands each one listed (a line set in further is the rest of
// the command above it).
class TAnswers : public plat::IDialogDriver {
public:
  explicit TAnswers(std::vector<bool> starts) : starts_(std::move(starts)) { plat::SetDialogDriver(this); }
  ~TAnswers() override { plat::SetDialogDriver(nullptr); }
  void Drive(plat::HWND dialog) override {
    std::vector<std::string> commands;
    plat::RECT first{};
    for (int id = idStartCommand; plat::HWND line = plat::GetDlgItem(dialog, id); ++id) {
      plat::RECT r{};
      plat::GetWindowRect(line, &r);
      if (id == idStartCommand) first = r;
      // Every line is laid out left to right: it begins with the override.
      std::u16string text = plat::WindowText(line);
      EXPECT_EQ(text.substr(0, 1), u"\u202D");
      text.erase(0, 1);
      if (r.left > first.left && !commands.empty()) commands.back() += plat::ToUtf8(text);
      else commands.push_back(plat::ToUtf8(text));
    }
    Asked.push_back(commands);
    const bool start = Asked.size() <= starts_.size() && starts_[Asked.size() - 1];
    plat::PressDialogId(dialog, start ? idStart : plat::IDCANCEL);
  }
  std::vector<std::vector<std::string>> Asked;

private:
  std::vector<bool> starts_;
};

inline std::string Executable(const zmtest::TTempDir& dir, const std::string& relative, const std::string& text) {
  const std::string p = dir.Write(relative, text);
  std::filesystem::permissions(p, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
  return p;
}

// A program and its arguments as the question lists them.
inline std::string Shown(const std::string& program, const std::vector<std::string>& args = {}) {
  std::string text = std::filesystem::canonical(program).string();
  for (const std::string& a : args) text += " \"" + a + "\"";
  return text;
}

// The pixels of the command lines of each question, answered Don't start.
class TQuestionPixels : public plat::IDialogDriver {
public:
  TQuestionPixels() { plat::SetDialogDriver(this); }
  ~TQuestionPixels() override { plat::SetDialogDriver(nullptr); }
  void Drive(plat::HWND dialog) override {
    plat::headless::PumpUntilIdle();
    for (int id = idStartCommand; plat::HWND line = plat::GetDlgItem(dialog, id); ++id) {
      int w = 0, h = 0;
      const std::vector<std::uint32_t> px = plat::headless::CaptureClient(line, w, h);
      Pixels.push_back(std::uint32_t(w));
      Pixels.insert(Pixels.end(), px.begin(), px.end());
    }
    plat::PressDialogId(dialog, plat::IDCANCEL);
  }
  std::vector<std::uint32_t> Of(const WideString& commandLine) {
    Pixels.clear();
    AskToStart(nullptr, commandLine);
    return Pixels;
  }
  std::vector<std::uint32_t> Pixels;
};

// Keeps the lines written to the log.
class TStartLog : public zm::TLog {
public:
  void WriteText(const WideString& line) override {
    std::lock_guard<std::mutex> l(lock_);
    Lines.push_back(plat::ToUtf8(line));
  }
  std::vector<std::string> Taken() {
    std::lock_guard<std::mutex> l(lock_);
    return std::exchange(Lines, {});
  }
  // The lines kept that begin so.
  std::vector<std::string> Beginning(const std::string& start) {
    std::lock_guard<std::mutex> l(lock_);
    std::vector<std::string> found;
    for (const std::string& line : Lines)
      if (line.rfind(start, 0) == 0) found.push_back(line);
    return found;
  }

private:
  std::mutex lock_;
  std::vector<std::string> Lines;
};

// Holds each question open while the show plays on (what comes meanwhile is
// handled) until the log has a line that begins with its Until; then
// answers as TAnswers does. After the last one, the user closes the show.
class THeldAnswers : public TAnswers {
public:
  THeldAnswers(std::vector<bool> starts, TStartLog& log, std::vector<std::string> until)
      : TAnswers(std::move(starts)), log_(log), until_(std::move(until)) {}
  void Drive(plat::HWND dialog) override {
    const std::size_t i = Asked.size();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (i < until_.size() && log_.Beginning(until_[i]).empty() && std::chrono::steady_clock::now() < deadline) {
      plat::MSG m{};
      if (plat::PeekMessageW(&m, nullptr, 0, 0, plat::PM_REMOVE)) plat::DispatchMessageW(&m);
      else plat::WaitMessageTimeout(100);
    }
    TAnswers::Drive(dialog);
    if (i + 1 == until_.size()) plat::PostMessageW(plat::GetParent(dialog), plat::WM_CLOSE, 0, 0);
  }

private:
  TStartLog& log_;
  std::vector<std::string> until_;
};

inline std::vector<std::string> LinesOf(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// Polls for a started program's traces for at most a generous while: it
// runs on its own, after the start returned.
inline bool Eventually(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}



// A program of 128 bytes, as the player's own program stands in for in a
// test: an ELF header whose one section header ends its image.
inline std::string PlayerStandIn() {
  std::string elf(128, '\0');
  elf.replace(0, 7, "\x7F" "ELF\x02\x01\x01", 7);
  elf[0x28] = 64;  // the section headers from 64 on,
  elf[0x36] = 56;
  elf[0x3A] = 64;  // 64 bytes each,
  elf[0x3C] = 1;   // one of them
  elf.replace(64, 10, "the player");
  return elf;
}

// The first bytes of an ELF file: a program or a shared library by content.
inline const std::string kElf = std::string("\x7F" "ELF\x02\x01\x01\x00", 8);

// Stand-ins of interpreters, named as the real ones; scripts' "#!" lines
// name them instead of the system's paths.
inline std::string StandInLine(const zmtest::TTempDir& dir, std::string line) {
  for (const char* name : {"perl", "python3", "bash", "sh", "viewer"}) {
    const std::string path = "/usr/bin/" + std::string(name);
    if (const std::size_t at = line.find(path); at != std::string::npos)
      line.replace(at, path.size(), (dir.Path() / "interp" / name).string());
  }
  return line;
}



// Stand-ins of programs that load libraries from their arguments, and of a
// picture viewer, as programs of their own (ELF by their first bytes).
struct TLoaders {
  explicit TLoaders(const zmtest::TTempDir& dir) {
    for (const char* name : {"ffmpeg", "ssh-keygen", "sox", "viewer"}) Executable(dir, std::string("bin/") + name, kElf);
    Bin = (dir.Path() / "bin").string() + "/";
  }
  // The ways the programs were made to load a library: after "f=" and
  // before ":option", glued to an option, with ".so" added by the program,
  // named in a data file.
  std::vector<std::string> Attacks(const std::string& lib) const {
    return {Bin + "ffmpeg -i in.wav -af ladspa=f=" + lib + ".so:p=amp out.wav", Bin + "ssh-keygen -D" + lib + ".so",
            Bin + "sox -n -n trim 0 0.01 ladspa " + lib,
            Bin + "ffmpeg -f lavfi -i anullsrc -filter_complex_script " + lib + ".txt out.wav"};
  }
  std::string Bin;
};


}  // namespace orutest
