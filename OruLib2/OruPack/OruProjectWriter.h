#pragma once
// Writes a show project: a folder with "Project.oru" (the show description,
// ini text in UTF-8 with a byte-order mark) and the show's files.
#include <string>
#include <utility>
#include <vector>

#include "OruLib2/OruPack/IniText.h"

namespace oru {

class TOruProjectWriter {
public:
  static constexpr const char* kDescriptionName = "Project.oru";

  // Into an existing (or new) folder.
  explicit TOruProjectWriter(std::string folder);

  // The show description, built line by line.
  TIniText& Description() { return description_; }
  // Exact bytes for "Project.oru" instead of the built description.
  void SetRawDescription(std::string bytes) {
    raw_ = std::move(bytes);
    hasRaw_ = true;
  }
  // The bytes "Project.oru" gets.
  std::string DescriptionBytes() const { return hasRaw_ ? raw_ : description_.Bytes(true); }

  // A file of the show; "\" and "/" both separate folders.
  void AddFile(std::string name, std::string data) { files_.emplace_back(std::move(name), std::move(data)); }
  const std::vector<std::pair<std::string, std::string>>& Files() const { return files_; }

  // Writes "Project.oru" and the files, making folders; returns the folder.
  // Raises std::runtime_error when a file cannot be written.
  const std::string& Write();
  const std::string& Folder() const { return folder_; }
  std::string ProjectFile() const;

private:
  std::string folder_;
  TIniText description_;
  std::string raw_;
  bool hasRaw_ = false;
  std::vector<std::pair<std::string, std::string>> files_;
};

}  // namespace oru
