#include "tests/support/kit/ShowProjectWriter.h"

#include <filesystem>

namespace zmtest {

TShowProjectWriter::TShowProjectWriter() : temp_(std::make_unique<TTempFolder>()), folder_(temp_->Path()) {}

TShowProjectWriter::TShowProjectWriter(std::string folder) : folder_(std::move(folder)) {}

std::string TShowProjectWriter::DescriptionBytes() const { return raw_ ? *raw_ : description_.Bytes(true); }

void TShowProjectWriter::AddFile(std::string name, std::string data) {
  files_.emplace_back(std::move(name), std::move(data));
}

std::string TShowProjectWriter::ProjectFile() const {
  return (std::filesystem::path(folder_) / kDescriptionName).string();
}

const std::string& TShowProjectWriter::Write() {
  std::filesystem::create_directories(folder_);
  WriteFileBytes(ProjectFile(), DescriptionBytes());
  for (const auto& [name, data] : files_) {
    std::string rel = name;
    for (char& c : rel)
      if (c == '\\') c = '/';
    WriteFileBytes((std::filesystem::path(folder_) / rel).string(), data);
  }
  return folder_;
}

void TShowProjectWriter::AddToContainer(TShowContainerWriter& container, int fileMethod) const {
  container.Add(kDescriptionName, DescriptionBytes(), kDeflated);
  for (const auto& [name, data] : files_) container.Add(name, data, fileMethod);
}

}  // namespace zmtest
