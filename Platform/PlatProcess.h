#pragma once
// Starting programs, documents and links the way the Windows shell does, on
// Linux: links go to xdg-open, executable files are started directly (never
// through a shell, so ">" and ";" stay plain text), other files are opened
// with xdg-open. The spawner is a seam: tests record instead of starting.
#include <string>
#include <string_view>
#include <vector>

namespace plat {

class IProcessSpawner {
 public:
  virtual ~IProcessSpawner() = default;
  // Starts Program with Argv (Argv[0] is its name); Search looks it up in
  // PATH; Dir empty keeps ours. 0, or the errno of the failure.
  virtual int Spawn(const std::string& program, const std::vector<std::string>& argv, const std::string& dir,
                    bool search) = 0;
};

// Installs a spawner (nullptr: the real one); returns the previous one.
IProcessSpawner* SetProcessSpawner(IProcessSpawner* spawner);

// "http:", "mailto:" and the like: a letter, then at least one letter,
// digit, "+", "." or "-", then ":" (so a drive "C:" is not one).
bool HasUrlScheme(std::u16string_view text);

// Shell start results, as the Windows shell gives them: above 32 success.
constexpr int kShellStarted = 42;
constexpr int kShellFileNotFound = 2;
constexpr int kShellPathNotFound = 3;
constexpr int kShellAccessDenied = 5;
constexpr int kShellFailed = 31;

// Starts File (a path of the file layer or a link) with Params as its
// arguments; a relative File is taken in Dir (the current folder when Dir is
// empty). A missing file gives 2, or 3 when its folder is missing too.
int ShellExecute(std::u16string_view file, const std::vector<std::u16string>& params, std::u16string_view dir);

}  // namespace plat
