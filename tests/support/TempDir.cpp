#include "tests/support/TempDir.h"

#include <atomic>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include "Platform/PlatUtf8.h"

namespace zmtest {

TTempDir::TTempDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0;; ++attempt) {
    path_ = base / ("zmtest-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(path_)) break;
    if (attempt > 100) throw std::runtime_error("cannot make a temporary folder");
  }
}

TTempDir::~TTempDir() {
  std::error_code ec;
  // make read-only folders writable again so that everything can go
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ec);
  std::filesystem::remove_all(path_, ec);
}

std::u16string TTempDir::Wide(const std::string& relative) const {
  std::string p = path_.string();
  if (!relative.empty()) p += "/" + relative;
  std::u16string w = plat::FromUtf8(p);
  for (char16_t& c : w)
    if (c == u'/') c = u'\\';
  return w;
}

std::string TTempDir::Write(const std::string& relative, const std::string& content) const {
  std::filesystem::path p = path_ / relative;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary);
  f << content;
  return p.string();
}

std::string TTempDir::Read(const std::string& relative) const {
  std::ifstream f(path_ / relative, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool TTempDir::Exists(const std::string& relative) const {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path_ / relative, ec));
}

}  // namespace zmtest
