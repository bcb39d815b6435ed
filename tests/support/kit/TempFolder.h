#pragma once
// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when
// the object goes.
#include <string>
#include <string_view>

namespace zmtest {

class TTempFolder {
public:
  TTempFolder();
  ~TTempFolder();
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;

  const std::string& Path() const { return path_; }
  // The path of a file inside the folder.
  std::string File(std::string_view name) const;

private:
  std::string path_;
};

// Writes bytes to a file, making its folders; raises std::runtime_error.
void WriteFileBytes(const std::string& path, std::string_view bytes);
std::string ReadFileBytes(const std::string& path);

}  // namespace zmtest
