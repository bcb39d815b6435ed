#pragma once
// Writes a show project for tests: a folder with "Project.oru" (the show
// description, ini text in UTF-8 with a byte-order mark) and the show's files.
// The same show can also be put into a container.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/kit/IniText.h"
#include "tests/support/kit/ShowContainerWriter.h"
#include "tests/support/kit/TempFolder.h"

namespace zmtest {

class TShowProjectWriter {
public:
  static constexpr const char* kDescriptionName = "Project.oru";

  // Into a fresh temporary folder, removed with the writer.
  TShowProjectWriter();
  // Into an existing (or new) folder that the caller owns.
  explicit TShowProjectWriter(std::string folder);

  // The show description, built line by line.
  TIniText& Description() { return description_; }
  // Exact bytes for "Project.oru" instead of the built description.
  void SetRawDescription(std::string bytes) { raw_ = std::move(bytes); }
  // The bytes "Project.oru" gets.
  std::string DescriptionBytes() const;

  // A file of the show; "\" and "/" both separate folders.
  void AddFile(std::string name, std::string data);

  // Writes "Project.oru" and the files; returns the folder.
  const std::string& Write();
  const std::string& Folder() const { return folder_; }
  std::string ProjectFile() const;

  // Puts the show into a container: "Project.oru" deflated, the files with
  // the given method, under their names as given.
  void AddToContainer(TShowContainerWriter& container, int fileMethod = kEnciphered) const;

private:
  std::unique_ptr<TTempFolder> temp_;
  std::string folder_;
  TIniText description_;
  std::optional<std::string> raw_;
  std::vector<std::pair<std::string, std::string>> files_;
};

}  // namespace zmtest
