#include "OruLib2/OruPack/OruProjectWriter.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string_view>

namespace oru {

namespace {

void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  f.close();
  if (!f) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

TOruProjectWriter::TOruProjectWriter(std::string folder) : folder_(std::move(folder)) {}

std::string TOruProjectWriter::ProjectFile() const {
  return (std::filesystem::path(folder_) / kDescriptionName).string();
}

const std::string& TOruProjectWriter::Write() {
  std::filesystem::create_directories(folder_);
  WriteBytes(ProjectFile(), DescriptionBytes());
  for (const auto& [name, data] : files_) {
    std::string rel = name;
    for (char& c : rel)
      if (c == '\\') c = '/';
    WriteBytes(std::filesystem::path(folder_) / rel, data);
  }
  return folder_;
}

}  // namespace oru
