#include "tests/support/kit/ShowContainerWriter.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "OruLib2/OruPack/IniText.h"

namespace zmtest {

TContainerEntry& TShowContainerWriter::Add(std::string name, std::string data, int method) {
  TContainerEntry& e = entries_.emplace_back();
  e.Name = std::move(name);
  e.Data = std::move(data);
  e.Method = method;
  return e;
}

TContainerEntry& TShowContainerWriter::AddSparse(std::string name, std::int64_t size) {
  TContainerEntry& e = Add(std::move(name), {}, kStored);
  e.SparseSize = size;
  return e;
}

const TContainerEntry* TShowContainerWriter::Find(std::string_view name) const {
  if (!PrefixEntryName.empty() && name == PrefixEntryName) return &prefixEntry_;
  for (const TContainerEntry& e : entries_)
    if (e.Name == name) return &e;
  return nullptr;
}

std::vector<TShowContainerWriter::TSegment> TShowContainerWriter::Layout() {
  std::vector<TSegment> segs;
  std::int64_t pos = 0;
  if (!Prefix.empty()) {
    segs.push_back({Prefix, 0});
    pos = static_cast<std::int64_t>(Prefix.size());
  }
  prefixEntry_ = TContainerEntry{};
  prefixEntry_.Name = PrefixEntryName;
  prefixEntry_.Data = Prefix;
  prefixEntry_.Position = 0;
  prefixEntry_.StoredSize = pos;

  for (TContainerEntry& e : entries_) {
    e.Position = pos;
    if (e.SparseSize >= 0 && !e.StoredBytes) {
      segs.push_back({{}, e.SparseSize});
      e.StoredSize = e.SparseSize;
    } else {
      std::string stored;
      if (e.StoredBytes) stored = *e.StoredBytes;
      else if (e.Method == kDeflated) stored = Deflate(e.Data);
      else if (e.Method == kEnciphered) stored = Encipher(e.Data);
      else stored = e.Data;
      e.StoredSize = static_cast<std::int64_t>(stored.size());
      segs.push_back({std::move(stored), 0});
    }
    pos += e.StoredSize;
  }

  directoryPos_ = pos;
  oru::TIniText ini;
  auto section = [&](const TContainerEntry& e) {
    ini.Section(EscapeName(e.Name));
    if (!e.OmitPs) ini.Key("_ps", e.PsText ? *e.PsText : std::to_string(e.Position - Moved));
    if (!e.OmitSz) ini.Key("_sz", e.SzText ? *e.SzText : std::to_string(e.StoredSize));
    if (!e.OmitPm) ini.Key("_pm", e.PmText ? *e.PmText : std::to_string(e.Method));
  };
  if (!PrefixEntryName.empty()) section(prefixEntry_);
  for (const TContainerEntry& e : entries_) section(e);
  if (WriteProtection) {
    ini.Section("$protection$");
    ini.Key("strucpos", StrucPos ? *StrucPos : std::to_string(directoryPos_ - Moved));
    if (AllowModify) ini.Key("allowmodify", *AllowModify);
    if (OruVersion) ini.Key("oruversion", *OruVersion);
  }
  directoryIni_ = DirectoryText ? *DirectoryText : ini.Bytes(DirectoryBom) + ExtraDirectoryText;
  std::string dir = DirectoryBytes ? *DirectoryBytes : Deflate(directoryIni_);
  directoryLen_ = static_cast<std::int64_t>(dir.size());
  pos += directoryLen_;
  segs.push_back({std::move(dir), 0});

  std::int64_t base = TrailerForm == 2 ? Base : 0;
  std::string trailer = Int64Bytes(DirectoryOffset ? *DirectoryOffset : directoryPos_ - base);
  if (WriteTag) trailer += kTag;
  pos += static_cast<std::int64_t>(trailer.size());
  if (TrailerForm == 2) {
    std::int64_t e = pos;  // the end mark: the file size without the base field
    trailer += Int64Bytes(BaseField ? *BaseField : e - Base);
    pos += 8;
  }
  segs.push_back({std::move(trailer), 0});

  if (TruncateTo && *TruncateTo < pos) {
    std::int64_t keep = std::max<std::int64_t>(*TruncateTo, 0);
    std::vector<TSegment> cut;
    std::int64_t at = 0;
    for (TSegment& s : segs) {
      std::int64_t len = s.Hole ? s.Hole : static_cast<std::int64_t>(s.Bytes.size());
      if (at >= keep) break;
      std::int64_t take = std::min(len, keep - at);
      if (s.Hole) cut.push_back({{}, take});
      else cut.push_back({s.Bytes.substr(0, static_cast<std::size_t>(take)), 0});
      at += take;
    }
    segs = std::move(cut);
    pos = keep;
  }
  fileSize_ = pos;
  return segs;
}

std::string TShowContainerWriter::Bytes() {
  std::string out;
  for (TSegment& s : Layout()) {
    if (s.Hole) out.append(static_cast<std::size_t>(s.Hole), '\0');
    else out += s.Bytes;
  }
  return out;
}

std::int64_t TShowContainerWriter::WriteFile(const std::string& path) {
  std::vector<TSegment> segs = Layout();
  std::filesystem::path p(path);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
  {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    for (TSegment& s : segs) {
      if (s.Hole) f.seekp(s.Hole, std::ios::cur);  // leaves a hole
      else f.write(s.Bytes.data(), static_cast<std::streamsize>(s.Bytes.size()));
    }
    if (!f) throw std::runtime_error("cannot write " + path);
  }
  // A file that ends in a hole still needs its full length.
  std::filesystem::resize_file(p, static_cast<std::uintmax_t>(fileSize_));
  return fileSize_;
}

}  // namespace zmtest
