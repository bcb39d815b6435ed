#include "tests/support/TempDir.h"

#include <system_error>

#include "Platform/PlatUtf8.h"

namespace zmtest {

TTempDir::~TTempDir() {
  // read-only folders keep their entries: make everything writable again
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(Path(), ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    if (!it->is_symlink(ec))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                   ec);
}

std::u16string TTempDir::Wide(const std::string& relative) const {
  std::string p = folder_.Path();
  if (!relative.empty()) p += "/" + relative;
  std::u16string w = plat::FromUtf8(p);
  for (char16_t& c : w)
    if (c == u'/') c = u'\\';
  return w;
}

std::string TTempDir::Write(const std::string& relative, const std::string& content) const {
  std::string p = folder_.File(relative);
  WriteFileBytes(p, content);
  return p;
}

std::string TTempDir::Read(const std::string& relative) const {
  try {
    return ReadFileBytes(folder_.File(relative));
  } catch (const std::exception&) {
    return {};
  }
}

bool TTempDir::Exists(const std::string& relative) const {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(folder_.File(relative), ec));
}

}  // namespace zmtest
