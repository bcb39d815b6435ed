#include "tools/GifWriter.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_map>

namespace oru {

namespace {

void Put16(std::string& s, unsigned v) {
  s += char(v & 0xFF);
  s += char((v >> 8) & 0xFF);
}

// Packs variable-width codes, least significant bit first, into sub-blocks
// of at most 255 bytes.
class TCodeWriter {
public:
  explicit TCodeWriter(std::string& out) : out_(out) {}
  void Put(unsigned code, int width) {
    bits_ |= std::uint32_t(code) << count_;
    count_ += width;
    while (count_ >= 8) {
      Byte(std::uint8_t(bits_ & 0xFF));
      bits_ >>= 8;
      count_ -= 8;
    }
  }
  void Finish() {
    if (count_ > 0) Byte(std::uint8_t(bits_ & 0xFF));
    Flush();
    out_ += '\0';  // block terminator
  }

private:
  void Byte(std::uint8_t b) {
    block_.push_back(char(b));
    if (block_.size() == 255) Flush();
  }
  void Flush() {
    if (block_.empty()) return;
    out_ += char(block_.size());
    out_ += block_;
    block_.clear();
  }
  std::string& out_;
  std::string block_;
  std::uint32_t bits_ = 0;
  int count_ = 0;
};

// The LZW code stream of one frame. The table restarts with a clear code
// when it reaches 4096 entries.
void Compress(std::string& out, const std::vector<std::uint8_t>& indices, int minCodeSize) {
  out += char(minCodeSize);
  TCodeWriter w(out);
  const unsigned clear = 1u << minCodeSize, end = clear + 1;
  std::unordered_map<std::uint32_t, unsigned> table;  // (prefix << 8 | byte) -> code
  unsigned next = end + 1;
  int width = minCodeSize + 1;
  w.Put(clear, width);
  unsigned prefix = indices[0];
  for (std::size_t i = 1; i < indices.size(); ++i) {
    const std::uint8_t c = indices[i];
    const std::uint32_t key = std::uint32_t(prefix) << 8 | c;
    auto it = table.find(key);
    if (it != table.end()) {
      prefix = it->second;
      continue;
    }
    w.Put(prefix, width);
    if (next < 4096) {
      table.emplace(key, next);
      // The decoder widens its codes once the code it adds needs the width.
      if (next == (1u << width) && width < 12) ++width;
      ++next;
    } else {
      w.Put(clear, width);
      table.clear();
      next = end + 1;
      width = minCodeSize + 1;
    }
    prefix = c;
  }
  w.Put(prefix, width);
  w.Put(end, width);
  w.Finish();
}

}  // namespace

std::string WriteGif(const TGifAnimation& a) {
  if (a.Width < 1 || a.Height < 1 || a.Width > 65535 || a.Height > 65535)
    throw std::invalid_argument("GIF: bad size");
  if (a.Palette.size() < 2 || a.Palette.size() > 256) throw std::invalid_argument("GIF: bad palette");
  if (a.Frames.empty()) throw std::invalid_argument("GIF: no frames");
  int bits = 1;
  while ((1u << bits) < a.Palette.size()) ++bits;
  const std::size_t pixels = std::size_t(a.Width) * std::size_t(a.Height);
  for (const TGifFrame& f : a.Frames) {
    if (f.Indices.size() != pixels) throw std::invalid_argument("GIF: frame of the wrong size");
    if (*std::max_element(f.Indices.begin(), f.Indices.end()) >= a.Palette.size())
      throw std::invalid_argument("GIF: index outside the palette");
  }

  std::string s = "GIF89a";
  Put16(s, unsigned(a.Width));
  Put16(s, unsigned(a.Height));
  s += char(0x80 | (bits - 1) << 4 | (bits - 1));  // global table, its size
  s += '\0';                                         // background colour
  s += '\0';                                         // aspect
  for (std::size_t i = 0; i < (1u << bits); ++i)
    for (int c = 0; c < 3; ++c) s += char(i < a.Palette.size() ? a.Palette[i][std::size_t(c)] : 0);
  // Repetitions (application extension).
  s += "\x21\xFF\x0BNETSCAPE2.0\x03\x01";
  Put16(s, unsigned(std::clamp(a.Loops, 0, 65535)));
  s += '\0';
  const int minCodeSize = std::max(2, bits);
  for (const TGifFrame& f : a.Frames) {
    s += "\x21\xF9\x04";
    s += '\x04';  // disposal 1: leave in place (every frame covers the whole picture)
    Put16(s, unsigned(std::clamp((f.DelayMs + 5) / 10, 0, 65535)));
    s += '\0';  // transparent index (unused)
    s += '\0';
    s += '\x2C';
    Put16(s, 0), Put16(s, 0), Put16(s, unsigned(a.Width)), Put16(s, unsigned(a.Height));
    s += '\0';  // no local table, not interlaced
    Compress(s, f.Indices, minCodeSize);
  }
  s += '\x3B';
  return s;
}

}  // namespace oru
