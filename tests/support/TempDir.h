#pragma once
// A fresh folder under the system's temporary folder, removed with
// everything in it when the object goes.
#include <filesystem>
#include <string>

namespace zmtest {

class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The folder (or a name in it) as a wide path with "\" separators, the
  // way shows name their files.
  std::u16string Wide(const std::string& relative = {}) const;
  // Writes a file (folders made as needed); returns its native path.
  std::string Write(const std::string& relative, const std::string& content) const;
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;

private:
  std::filesystem::path path_;
};

}  // namespace zmtest
