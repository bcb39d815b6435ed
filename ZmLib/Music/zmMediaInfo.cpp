#include "ZmLib/Music/zmMediaInfo.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <set>

#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Music/zmMpegInfo.h"
#include "ZmLib/Music/zmPcmResampler.h"
#include "ZmLib/zmLog.h"

namespace zm {

TDecoderInfoProc DecoderInfoHook = nullptr;

namespace {

std::uint16_t LE16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
std::uint32_t LE32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

bool ReadAt(TStream* s, std::int64_t pos, void* buffer, std::int32_t n) {
  TStreamWrapperClass* w = StreamWrapper();
  if (pos < 0 || w->Seek(s, 0, pos) != pos) return false;
  return w->Read(s, buffer, n) == n;
}

// Whether the name (its "?" suffix cut off) ends in one of the MPEG audio extensions.
bool HasMpegExtension(const WideString& fileName) {
  const WideString name = CutNameSuffix(fileName);
  const auto dot = name.rfind(u'.');
  if (dot == WideString::npos || name.size() - dot != 4) return false;
  char16_t e[3];
  for (int i = 0; i < 3; ++i) {
    const char16_t c = name[dot + 1 + std::size_t(i)];
    e[i] = c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
  }
  return e[0] == u'm' && e[1] == u'p' && (e[2] == u'3' || e[2] == u'2' || e[2] == u'1');
}

// Whether the four bytes can name a RIFF chunk (printable ASCII).
bool ChunkId(const std::uint8_t* p) {
  for (int i = 0; i < 4; ++i)
    if (p[i] < 0x20 || p[i] > 0x7E) return false;
  return true;
}

// Where the chunk after one of Size bytes whose header lies at Header
// begins: chunks of odd size are followed by a pad byte; a writer that left
// it out is followed as well, when only its way leads to a chunk.
std::int64_t NextChunk(TStream* s, std::int64_t header, std::uint32_t size, std::int64_t streamSize) {
  const std::int64_t next = header + 8 + std::int64_t(size);
  if ((size & 1) == 0) return next;
  std::uint8_t id[4];
  if (next + 1 + 4 <= streamSize && ReadAt(s, next + 1, id, 4) && ChunkId(id)) return next + 1;
  if (next + 4 <= streamSize && ReadAt(s, next, id, 4) && ChunkId(id)) return next;
  return next + 1;
}

// Content that is surely no MPEG audio, whatever the file's name says: the
// signatures of other containers.
bool OtherContainer(const std::uint8_t* h, std::int32_t n) {
  if (n < 4) return false;
  static const char* const kFour[] = {"OggS", "fLaC", "MThd", "FORM", "wvpk", "MAC ", ".snd", "caff", "RF64", "#!AM", "ADIF"};
  for (const char* sig : kFour)
    if (std::memcmp(h, sig, 4) == 0) return true;
  static const std::uint8_t kAsf[4] = {0x30, 0x26, 0xB2, 0x75}, kEbml[4] = {0x1A, 0x45, 0xDF, 0xA3};
  if (std::memcmp(h, kAsf, 4) == 0 || std::memcmp(h, kEbml, 4) == 0) return true;
  // An MP4 or M4A file: a "ftyp" box first.
  return n >= 8 && std::memcmp(h + 4, "ftyp", 4) == 0;
}

// PCM and float formats the converter can play: anything else (no channels,
// no rate, a block that is not one frame) goes to the decoders instead.
bool PlayablePcm(const TWaveFormatEx& f) {
  const std::uint16_t bits = f.wBitsPerSample;
  const bool depth = f.wFormatTag == 3 ? bits == 32 : (bits == 8 || bits == 16 || bits == 24 || bits == 32);
  return depth && f.nChannels >= 1 && f.nSamplesPerSec >= TPcmResampler::kMinRate &&
         f.nSamplesPerSec <= TPcmResampler::kMaxRate && f.nBlockAlign == std::uint32_t(f.nChannels) * (bits / 8);
}

}  // namespace

bool TRiffInfo::Read(TStream* stream, TMediaInfo& info) {
  info = TMediaInfo{};
  if (!stream) return false;
  TStreamWrapperClass* w = StreamWrapper();
  const std::int64_t streamSize = w->GetSize(stream);
  // buf[0..4) "WAVE" or the last bytes of the chunk before, then a chunk
  // header and the first 16 bytes of the chunk.
  std::uint8_t buf[28];
  std::int64_t at = 8;
  if (!ReadAt(stream, at, buf, 28) || std::memcmp(buf, "WAVE", 4) != 0) return false;
  while (std::memcmp(buf + 4, "fmt ", 4) != 0) {
    // Sizes are unsigned: every step moves forward, so damaged sizes end at the stream's end.
    at = NextChunk(stream, at + 4, LE32(buf + 8), streamSize) - 4;
    if (streamSize >= 0 && at + 28 > streamSize) return false;
    if (!ReadAt(stream, at, buf, 28)) return false;
  }
  const std::int64_t fmtStart = at + 12;
  const std::uint32_t fmtSize = LE32(buf + 8);
  // A shorter chunk would lend its fields from whatever follows it.
  if (fmtSize < 16) return false;

  TWaveFormatEx f{};
  f.wFormatTag = LE16(buf + 12);
  f.nChannels = LE16(buf + 14);
  f.nSamplesPerSec = LE32(buf + 16);
  f.nAvgBytesPerSec = LE32(buf + 20);
  f.nBlockAlign = LE16(buf + 24);
  f.wBitsPerSample = LE16(buf + 26);

  switch (f.wFormatTag) {
    case 1:
    case 3:
      if (!PlayablePcm(f)) return false;
      // The byte rate only restates the others; a file that leaves it out still plays.
      if (f.nAvgBytesPerSec == 0) f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
      info.Kind = f.wFormatTag == 1 ? kMediaPcm : kMediaFloat;
      break;
    case 2:
      if (fmtSize < 18 + 32 || f.nChannels == 0 || f.nBlockAlign == 0 || f.nAvgBytesPerSec == 0 ||
          f.nSamplesPerSec < TPcmResampler::kMinRate || f.nSamplesPerSec > TPcmResampler::kMaxRate) {
        return false;
      }
      if (!ReadAt(stream, fmtStart + 18, info.Extra, 32)) return false;
      f.cbSize = 32;
      info.Kind = kMediaAdpcm;
      break;
    case 85: {
      const std::int64_t hint = std::int64_t(f.nAvgBytesPerSec) * 8;
      TMpegInfo mpeg;
      if (!mpeg.Read(stream, info, hint > INT32_MAX ? INT32_MAX : std::int32_t(hint))) return false;
      info.Embedded = 1;
      return true;
    }
    default:
      return false;
  }
  info.Format = f;

  std::int64_t pos = NextChunk(stream, fmtStart - 8, fmtSize, streamSize);
  std::uint8_t header[8];
  for (;;) {
    if (streamSize >= 0 && pos + 8 > streamSize) return false;
    if (!ReadAt(stream, pos, header, 8)) return false;
    if (std::memcmp(header, "data", 4) == 0) break;
    pos = NextChunk(stream, pos, LE32(header + 4), streamSize);
  }
  pos += 8;
  // A size beyond the file (or a streaming writer's all ones), or none at
  // all (a writer that never came back to fill it in), ends at the file's end.
  std::int64_t size = LE32(header + 4);
  if (streamSize >= 0 && (size == 0 || size > streamSize - pos)) size = streamSize - pos > 0 ? streamSize - pos : 0;
  info.DataOffset = std::uint32_t(pos > UINT32_MAX ? UINT32_MAX : pos);
  info.DataSize = std::uint32_t(size);
  const double ms = std::nearbyint(double(size) / f.nAvgBytesPerSec * 1000.0);
  info.Duration = ms >= double(UINT32_MAX) ? UINT32_MAX : std::uint32_t(ms);
  return true;
}

bool TMediaInfoExtractor::Extract(TStream* stream, const WideString& fileName, TMediaInfo& info) {
  info = TMediaInfo{};
  if (!stream) return false;
  TStreamWrapperClass* w = StreamWrapper();
  const std::int64_t position = w->GetPosition(stream);
  const auto toDecoders = [&]() {
    w->Seek(stream, 0, position);
    info = TMediaInfo{};
    return DecoderInfoHook ? DecoderInfoHook(stream, fileName, info) : false;
  };
  std::uint8_t head[12] = {};
  const std::int64_t size = w->GetSize(stream);
  const std::int32_t got = size >= 12 ? 12 : std::int32_t(std::max<std::int64_t>(size, 0));
  const bool read = got > 0 && ReadAt(stream, 0, head, got);
  const bool riff = read && got >= 4 && std::memcmp(head, "RIFF", 4) == 0;
  bool known = false;
  if (riff) {
    known = TRiffInfo().Read(stream, info) || toDecoders();
  } else {
    // The content chooses: a file named as MPEG audio that is something
    // else goes to the decoders, as does one in which no MPEG audio is found.
    if (HasMpegExtension(fileName) && !(read && OtherContainer(head, got))) {
      w->Seek(stream, 0, position);
      TMpegInfo mpeg;
      known = mpeg.Read(stream, info);
    }
    if (!known) known = toDecoders();
  }
  if (!known) {
    info = TMediaInfo{};
    SayUnplayableSound(fileName, size == 0 ? u"the file is empty"
                                 : riff    ? u"a WAVE file whose sound the player cannot read"
                                           : u"not a sound the player can decode");
  }
  return known;
}

void SayUnplayableSound(const WideString& fileName, const WideString& why) {
  static std::mutex lock;
  static std::set<WideString> said;
  {
    std::lock_guard<std::mutex> g(lock);
    if (!said.insert(fileName).second) return;
  }
  const WideString text = u"Sound load error: " + fileName + u" (" + why + u")";
  LogLine(text);
  // Even without a log; a log written to standard error has it already.
  if (!dynamic_cast<TStdLog*>(GetLog())) plat::WriteStdErr(plat::ToUtf8(text) + "\n");
}

}  // namespace zm
