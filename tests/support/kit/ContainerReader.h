#pragma once
// Reads show containers back for tests, written here from the format alone
// (zlib directly, a small ini splitter), so that writers can be checked
// against it rather than against the player's own reader.
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zmtest {

// The little-endian 64-bit integer at pos.
std::int64_t Int64At(const std::string& s, std::int64_t pos);
// Inflates raw deflate data; raises std::runtime_error unless it is complete.
std::string RawInflate(const std::string& packed);

using TSections = std::vector<std::pair<std::string, std::map<std::string, std::string>>>;
// Splits ini text that uses CR LF only; fails on any other line end.
TSections SplitIni(const std::string& text);

struct TParsedContainer {
  std::int64_t End = 0, Base = 0, D = 0;
  std::string DirectoryText;
  TSections Sections;
  const std::map<std::string, std::string>& Section(const std::string& name) const;
  // The stored bytes of an entry, by its section.
  std::string Stored(const std::string& file, const std::string& section) const;
};

// Reads trailer and directory exactly as the format describes them; raises
// std::runtime_error on anything else.
TParsedContainer ParseContainer(const std::string& file);

// Undoes the enciphering of entries stored from position 0 of their data.
std::string Unmask(const std::string& s);

}  // namespace zmtest
