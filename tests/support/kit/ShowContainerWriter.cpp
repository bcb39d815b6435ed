#include "tests/support/kit/ShowContainerWriter.h"

#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "tests/support/kit/IniText.h"

namespace zmtest {

std::string Int64Bytes(std::int64_t v) {
  std::string s(8, '\0');
  auto u = static_cast<std::uint64_t>(v);
  for (int i = 0; i < 8; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>((u >> (8 * i)) & 0xFF);
  return s;
}

std::string TShowContainerWriter::EscapeName(std::string_view name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : name) {
    auto c = static_cast<unsigned char>(ch);
    if (c == '[') out += '<';
    else if (c == ']') out += '>';
    else if (c < 32) {
      out += '#';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else out += ch;
  }
  return out;
}

std::string TShowContainerWriter::Deflate(std::string_view data, int level) {
  z_stream zs{};
  if (deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  std::string out(deflateBound(&zs, static_cast<uLong>(data.size())) + 16, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  int r = deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  if (r != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

std::string TShowContainerWriter::Encipher(std::string_view data, std::int64_t start) {
  std::string out(data);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char>(out[i] ^ kKey[static_cast<std::size_t>((start + std::int64_t(i)) % 32)]);
  return out;
}

std::string TShowContainerWriter::ExeGuidData(std::string_view guidText) {
  std::string text;
  for (char c : guidText) {
    text += c;
    text += '\0';
  }
  auto n = static_cast<std::uint32_t>(text.size());
  std::string out{static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF), static_cast<char>((n >> 16) & 0xFF),
                  static_cast<char>(n >> 24)};
  return out + text;
}

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
  TIniText ini;
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
