#include "ZmLib/Graphics/zmJpegICCExtractor.h"

#include <cstring>
#include <map>
#include <string>

#include "ZmLib/zmLog.h"

namespace zm {

namespace {

constexpr std::uint8_t kSOI = 0xD8, kSOS = 0xDA, kAPP2 = 0xE2;
constexpr char kIccTag[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};

WideString Ascii(const std::string& s) { return WideString(s.begin(), s.end()); }

bool ReadOne(TStream* s, std::uint8_t& b) { return s->Read(TReadBuffer(&b, 1), 1, 0) == 1; }

// Markers that carry a 16-bit length (counting itself).
bool HasLength(std::uint8_t m) {
  return (m >= 0xC0 && m <= 0xCF) || (m >= 0xDA && m <= 0xDD) || (m >= 0xE0 && m <= 0xEF) || m == 0xFE;
}

struct TChunks {
  std::int32_t Count = 0;  // the count the first chunk announced
  bool Broken = false;
  std::map<std::int32_t, std::vector<std::uint8_t>> Parts;
};

void AddChunk(TChunks& c, const std::vector<std::uint8_t>& payload) {
  if (payload.size() < 14 || std::memcmp(payload.data(), kIccTag, sizeof kIccTag) != 0) return;
  const std::int32_t seq = payload[12], count = payload[13];
  if (seq < 1 || count < 1 || seq > count || (c.Count && c.Count != count)) {
    c.Broken = true;
    return;
  }
  c.Count = count;
  // A repeated chunk keeps the first one seen.
  c.Parts.emplace(seq, std::vector<std::uint8_t>(payload.begin() + 14, payload.end()));
}

}  // namespace

std::vector<std::uint8_t> ExtractJpegICCProfile(TStream* stream) {
  if (!stream) return {};
  const std::int64_t size = stream->GetSize();
  if (size > kMaxICCSearchSize) return {};
  TChunks chunks;
  bool first = true;
  for (;;) {
    std::uint8_t b;
    const std::int64_t at = stream->GetPosition();
    if (!ReadOne(stream, b)) {
      LogLine(u"Jpeg Marker expected");
      break;
    }
    if (b != 0xFF) {
      LogLine(u"Error: marker expected at " + Ascii(std::to_string(at)));
      break;
    }
    std::uint8_t marker;
    bool ok = ReadOne(stream, marker);
    while (ok && marker == 0xFF) {
      LogLine(u"Error: duplicate $FF encountered at " + Ascii(std::to_string(stream->GetPosition() - 1)));
      ok = ReadOne(stream, marker);
    }
    if (!ok) {
      LogLine(u"Jpeg Marker expected");
      break;
    }
    if (first && marker != kSOI) break;
    first = false;
    std::int32_t payload = 0;
    if (HasLength(marker)) {
      std::uint8_t len[2];
      if (stream->Read(TReadBuffer(len, 2), 2, 0) == 2) payload = std::max((len[0] << 8 | len[1]) - 2, 0);
    }
    if (marker == kAPP2) {
      std::vector<std::uint8_t> data(static_cast<std::size_t>(payload));
      const std::int32_t got = payload ? stream->Read(TReadBuffer(data), payload, 0) : 0;
      if (got != payload) break;
      AddChunk(chunks, data);
      continue;
    }
    stream->SetPosition(stream->GetPosition() + payload);
    if (marker == kSOS) break;
  }
  if (chunks.Parts.empty()) return {};
  if (chunks.Broken || std::int32_t(chunks.Parts.size()) != chunks.Count) {
    LogLine(u"Jpeg ICC profile incomplete: " + Ascii(std::to_string(chunks.Parts.size())) + u" of " +
            Ascii(std::to_string(chunks.Count)) + u" chunks");
    return {};
  }
  std::vector<std::uint8_t> profile;
  for (const auto& [seq, part] : chunks.Parts) profile.insert(profile.end(), part.begin(), part.end());
  return profile;
}

}  // namespace zm
