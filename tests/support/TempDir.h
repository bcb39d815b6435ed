#pragma once
// A temporary folder (tests/support/kit/TempFolder.h) with what the file
// tests need besides: names in the Windows form, files by relative name,
// and read-only entries made removable again at the end.
#include <filesystem>
#include <string>

#include "tests/support/kit/TempFolder.h"

namespace zmtest {

class TTempDir {
public:
  TTempDir() = default;
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  std::filesystem::path Path() const { return folder_.Path(); }
  // The folder (or a name in it) as a wide path with "\" separators, the
  // way shows name their files.
  std::u16string Wide(const std::string& relative = {}) const;
  // Writes a file (folders made as needed); returns its native path.
  std::string Write(const std::string& relative, const std::string& content) const;
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;

private:
  TTempFolder folder_;
};

}  // namespace zmtest
