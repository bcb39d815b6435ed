#include "tests/support/kit/TempFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace zmtest {

TTempFolder::TTempFolder() {
  const char* env = std::getenv("TMPDIR");
  fs::path base = (env && *env) ? fs::path(env) : fs::path("/tmp");
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "zmtest-%08x", static_cast<unsigned>(rd()));
    fs::path p = base / name;
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = p.string();
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder in " + base.string());
}

TTempFolder::~TTempFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TTempFolder::File(std::string_view name) const { return (fs::path(path_) / fs::path(name)).string(); }

void WriteFileBytes(const std::string& path, std::string_view bytes) {
  fs::path p(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

}  // namespace zmtest
