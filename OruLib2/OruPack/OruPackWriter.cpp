#include "OruLib2/OruPack/OruPackWriter.h"

#include <zlib.h>

#include <istream>
#include <stdexcept>

#include "OruLib2/OruPack/IniText.h"

namespace oru {

namespace {

constexpr std::size_t kChunk = std::size_t(1) << 20;

[[noreturn]] void Fail(const std::string& text) { throw std::runtime_error(text); }

}  // namespace

std::string Int64Bytes(std::int64_t v) {
  std::string s(8, '\0');
  auto u = static_cast<std::uint64_t>(v);
  for (int i = 0; i < 8; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>((u >> (8 * i)) & 0xFF);
  return s;
}

std::string TOruPackWriter::EscapeName(std::string_view name) {
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

std::string TOruPackWriter::Deflate(std::string_view data, int level) {
  z_stream zs{};
  if (deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) Fail("deflateInit2 failed");
  std::string out;
  std::string buffer(std::size_t(1) << 16, '\0');
  int r = Z_OK;
  // avail_in is 32 bits wide: feed at most a gigabyte at a time.
  while (r != Z_STREAM_END) {
    if (zs.avail_in == 0 && !data.empty()) {
      std::size_t n = std::min<std::size_t>(data.size(), std::size_t(1) << 30);
      zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
      zs.avail_in = static_cast<uInt>(n);
      data.remove_prefix(n);
    }
    zs.next_out = reinterpret_cast<Bytef*>(buffer.data());
    zs.avail_out = static_cast<uInt>(buffer.size());
    r = deflate(&zs, data.empty() ? Z_FINISH : Z_NO_FLUSH);
    if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) break;
    out.append(buffer.data(), buffer.size() - zs.avail_out);
  }
  deflateEnd(&zs);
  if (r != Z_STREAM_END) Fail("deflate failed");
  return out;
}

std::string TOruPackWriter::Encipher(std::string_view data, std::int64_t start) {
  std::string out(data);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char>(out[i] ^ kKey[static_cast<std::size_t>((start + std::int64_t(i)) % 32)]);
  return out;
}

std::string TOruPackWriter::ExeGuidData(std::string_view guidText) {
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

// Turns an entry's bytes into its stored bytes piece by piece and writes them.
class TOruPackWriter::TEntrySink {
public:
  TEntrySink(TOruPackWriter& w, int method) : w_(w), method_(method) {
    if (method_ == kDeflated) {
      if (deflateInit2(&zs_, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) Fail("deflateInit2 failed");
      out_.resize(kChunk / 4);
    }
  }
  ~TEntrySink() {
    if (method_ == kDeflated) deflateEnd(&zs_);
  }
  TEntrySink(const TEntrySink&) = delete;
  TEntrySink& operator=(const TEntrySink&) = delete;

  // data may be changed in place (enciphering).
  void Put(char* data, std::size_t size) {
    if (method_ == kEnciphered) {
      for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>(data[i] ^ kKey[(offset_ + i) % 32]);
      offset_ = (offset_ + size) % 32;
    }
    if (method_ == kDeflated) Pump(data, size, Z_NO_FLUSH);
    else w_.Write(data, size);
  }
  void Finish() {
    if (method_ == kDeflated) Pump(nullptr, 0, Z_FINISH);
  }

private:
  void Pump(char* data, std::size_t size, int flush) {
    zs_.next_in = reinterpret_cast<Bytef*>(data);
    zs_.avail_in = static_cast<uInt>(size);
    for (;;) {
      zs_.next_out = reinterpret_cast<Bytef*>(out_.data());
      zs_.avail_out = static_cast<uInt>(out_.size());
      int r = deflate(&zs_, flush);
      if (r == Z_STREAM_ERROR) Fail("deflate failed");
      w_.Write(out_.data(), out_.size() - zs_.avail_out);
      if (flush == Z_FINISH ? r == Z_STREAM_END : zs_.avail_in == 0 && zs_.avail_out != 0) break;
    }
  }

  TOruPackWriter& w_;
  int method_;
  z_stream zs_{};
  std::vector<char> out_;
  std::size_t offset_ = 0;
};

TOruPackWriter::TOruPackWriter(const std::string& path) : path_(path), buffer_(kChunk) {
  out_.open(path, std::ios::binary | std::ios::trunc);
  if (!out_) Fail("cannot write " + path);
}

TOruPackWriter::~TOruPackWriter() = default;

void TOruPackWriter::CheckOpen() const {
  if (finished_) Fail("the container " + path_ + " is already finished");
}

void TOruPackWriter::Write(const char* data, std::size_t size) {
  if (size == 0) return;
  out_.write(data, static_cast<std::streamsize>(size));
  if (!out_) Fail("cannot write " + path_);
  pos_ += static_cast<std::int64_t>(size);
}

void TOruPackWriter::WritePrefix(std::istream& in) {
  CheckOpen();
  if (!entries_.empty()) Fail("the prefix must come before the entries");
  prefixed_ = true;
  while (in) {
    in.read(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    Write(buffer_.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) Fail("cannot read the prefix of " + path_);
}

void TOruPackWriter::WritePrefix(std::string_view bytes) {
  CheckOpen();
  if (!entries_.empty()) Fail("the prefix must come before the entries");
  prefixed_ = true;
  Write(bytes.data(), bytes.size());
}

const TOruPackWriter::TEntry& TOruPackWriter::Add(std::string name, std::istream& in, int method) {
  CheckOpen();
  TEntry e{std::move(name), method, pos_, 0};
  {
    TEntrySink sink(*this, method);
    while (in) {
      in.read(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
      sink.Put(buffer_.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) Fail("cannot read " + e.Name);
    sink.Finish();
  }
  e.Size = pos_ - e.Position;
  entries_.push_back(std::move(e));
  return entries_.back();
}

const TOruPackWriter::TEntry& TOruPackWriter::Add(std::string name, std::string_view data, int method) {
  CheckOpen();
  TEntry e{std::move(name), method, pos_, 0};
  {
    TEntrySink sink(*this, method);
    while (!data.empty()) {
      std::size_t n = std::min(data.size(), buffer_.size());
      std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n), buffer_.begin());
      sink.Put(buffer_.data(), n);
      data.remove_prefix(n);
    }
    sink.Finish();
  }
  e.Size = pos_ - e.Position;
  entries_.push_back(std::move(e));
  return entries_.back();
}

std::int64_t TOruPackWriter::Finish() {
  CheckOpen();
  const std::int64_t directoryPos = pos_;
  TIniText ini;
  for (const TEntry& e : entries_) {
    ini.Section(EscapeName(e.Name));
    ini.Key("_ps", e.Position);
    ini.Key("_sz", e.Size);
    ini.Key("_pm", e.Method);
  }
  ini.Section(kProtection);
  ini.Key("strucpos", directoryPos);
  ini.Key("allowmodify", "0");
  ini.Key("oruversion", kOruVersion);
  directoryIni_ = ini.Bytes(true);
  std::string dir = Deflate(directoryIni_);
  Write(dir.data(), dir.size());

  // The base is 0 in both forms: positions are plain file positions.
  std::string trailer = Int64Bytes(directoryPos);
  trailer += kTag;
  if (prefixed_) trailer += Int64Bytes(pos_ + static_cast<std::int64_t>(trailer.size()));
  Write(trailer.data(), trailer.size());
  out_.close();
  if (!out_) Fail("cannot write " + path_);
  finished_ = true;
  return pos_;
}

}  // namespace oru
