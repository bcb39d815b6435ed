#include "ZmLib/Music/zmMpegInfo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace zm {

namespace {

// kbps by [MPEG 1?][layer III, II, I][index].
constexpr std::int16_t kBitRates[2][3][16] = {
    {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0}},
    {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0}}};
// Hz by [version][index].
constexpr std::int32_t kSampleRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

std::uint32_t BE32(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

// Reads n bytes at pos; false on a short read.
bool ReadAt(TStream* s, std::int64_t pos, void* buffer, std::int32_t n) {
  TStreamWrapperClass* w = StreamWrapper();
  if (pos < 0 || w->Seek(s, 0, pos) != pos) return false;
  return w->Read(s, buffer, n) == n;
}

// Nearest integer, ties to even; out-of-range values are clamped.
std::int64_t RoundToInt64(double v) {
  if (!(v == v)) return 0;
  if (v >= 9.2e18) return INT64_MAX;
  if (v <= -9.2e18) return INT64_MIN;
  return std::int64_t(std::nearbyint(v));
}

// The record keeps 32-bit sizes and times.
std::uint32_t Clamp32(std::int64_t v) {
  if (v <= 0) return 0;
  return v >= std::int64_t(UINT32_MAX) ? UINT32_MAX : std::uint32_t(v);
}

bool HeaderAt(TStream* s, std::int64_t pos, TMpegHeader& h) {
  std::uint8_t b[4];
  return ReadAt(s, pos, b, 4) && ParseMpegHeader(b, h);
}

// Bytes a frame of this kind takes on average, padding spread over the frames.
double ExactFrameLength(const TMpegHeader& h) {
  const double coefficient = h.Layer == 3 ? (h.Version == 3 ? 48 : 24) : (h.Version == 3 ? 144 : 72);
  return h.SampleRate > 0 ? coefficient * h.BitRate * 1000.0 / h.SampleRate : 0.0;
}

// Frames of the same stream as the first: version, layer and rate alike.
bool SameStream(const TMpegHeader& a, const TMpegHeader& b) {
  return a.Version == b.Version && a.Layer == b.Layer && a.SampleRate == b.SampleRate;
}

// Whether the bit rate changes from frame to frame: the frames after the
// first and those found at a few places through the data tell (a file
// whose frames mostly share one rate plays as long as that rate says).
bool VariesBitRate(TStream* s, std::int64_t from, std::int64_t end, const TMpegHeader& first) {
  std::int64_t pos = from + first.FrameLength;
  TMpegHeader h;
  for (int i = 0; i < 4 && pos + 4 <= end && HeaderAt(s, pos, h) && SameStream(h, first); ++i) {
    if (h.BitRate != first.BitRate) return true;
    pos += h.FrameLength;
  }
  constexpr int kPlaces = 8;
  constexpr std::int32_t kLook = 4096;
  std::uint8_t b[kLook];
  for (int k = 1; k <= kPlaces; ++k) {
    const std::int64_t at = from + (end - from) * k / (kPlaces + 1);
    const std::int32_t n = std::int32_t(std::min<std::int64_t>(kLook, end - at));
    if (n < 8 || !ReadAt(s, at, b, n)) continue;
    // The first header there that another of the stream follows.
    for (std::int32_t p = 0; p + 4 <= n; ++p) {
      TMpegHeader next;
      if (!ParseMpegHeader(b + p, h) || !SameStream(h, first)) continue;
      const std::int64_t after = at + p + h.FrameLength;
      if (after + 4 > end || !HeaderAt(s, after, next) || !SameStream(next, first)) continue;
      if (h.BitRate != first.BitRate) return true;
      break;
    }
  }
  return false;
}

// The audio frames from From to End, walked frame by frame (bytes that
// begin no frame of the stream skipped).
std::int64_t CountFrames(TStream* s, std::int64_t from, std::int64_t end, const TMpegHeader& first) {
  constexpr std::int32_t kBlock = 1 << 16;
  std::vector<std::uint8_t> block(kBlock);
  std::int64_t blockAt = 0, frames = 0, pos = from;
  std::int32_t blockLength = 0;
  while (pos + 4 <= end) {
    if (pos < blockAt || pos + 4 > blockAt + blockLength) {
      blockAt = pos;
      const std::int32_t want = std::int32_t(std::min<std::int64_t>(kBlock, end - pos));
      blockLength = ReadAt(s, pos, block.data(), want) ? want : 0;
      if (blockLength < 4) break;
    }
    TMpegHeader h;
    if (ParseMpegHeader(block.data() + (pos - blockAt), h) && SameStream(h, first) && h.FrameLength >= 4) {
      pos += h.FrameLength;
      ++frames;
    } else {
      ++pos;
    }
  }
  return frames;
}

}  // namespace

bool ParseMpegHeader(const std::uint8_t* p, TMpegHeader& h) {
  const std::uint32_t r = BE32(p);
  if ((r >> 21) != 0x7FF) return false;
  const std::int32_t version = (r >> 19) & 3, layer = (r >> 17) & 3, rateIndex = (r >> 12) & 15,
                     srIndex = (r >> 10) & 3, emphasis = r & 3;
  if (version == 1 || layer == 0 || rateIndex == 0 || rateIndex == 15 || srIndex == 3 || emphasis == 2) return false;
  h.Raw = r;
  h.Version = version;
  h.Layer = layer;
  h.Crc = ((r >> 16) & 1) == 0;
  h.BitRate = kBitRates[version == 3][layer - 1][rateIndex];
  h.SampleRate = kSampleRates[version][srIndex];
  h.Padding = ((r >> 9) & 1) != 0;
  h.ChannelMode = (r >> 6) & 3;
  std::int32_t coefficient = 0;
  if (layer == 3) {
    coefficient = version == 3 ? 48 : 24;
    h.SamplesPerFrame = 384;
  } else {
    coefficient = version == 3 ? 144 : 72;
    h.SamplesPerFrame = (layer == 1 && version != 3) ? 576 : 1152;
  }
  h.FrameLength = std::int32_t(std::int64_t(coefficient) * h.BitRate * 1000 / h.SampleRate);
  if (h.Padding) h.FrameLength += layer == 3 ? 4 : 1;
  return true;
}

bool TMpegInfo::Read(TStream* stream, TMediaInfo& info, std::int32_t bitRateHint) {
  info = TMediaInfo{};
  Vbr = TVbrRecord{};
  if (!stream) return false;
  TStreamWrapperClass* w = StreamWrapper();
  StreamSize = w->GetSize(stream);
  if (StreamSize < 0) return false;
  std::int64_t size = StreamSize;
  std::uint8_t tag[10];
  if (!ReadAt(stream, 0, tag, 10)) return false;
  DataOffset = 0;
  if (std::memcmp(tag, "ID3", 3) == 0 && tag[3] != 0xFF && tag[4] != 0xFF) {
    std::int64_t tagSize = 0;
    for (int i = 6; i < 10; ++i) {
      if (tag[i] & 0x80) {
        tagSize = 0;
        break;
      }
      tagSize = (tagSize << 7) | tag[i];
    }
    DataOffset = 10 + tagSize;
    size -= DataOffset;
  }

  // A header counts only when a second one follows at its frame length.
  for (;; ++DataOffset, --size) {
    std::uint8_t b[4];
    if (!ReadAt(stream, DataOffset, b, 4)) return false;
    if (!ParseMpegHeader(b, Header)) continue;
    TMpegHeader next;
    if (!ReadAt(stream, DataOffset + Header.FrameLength, b, 4)) return false;
    if (ParseMpegHeader(b, next)) break;
  }

  std::memset(frame_, 0, sizeof frame_);
  w->Seek(stream, 0, DataOffset);
  w->Read(stream, frame_, kFrameBufferSize);
  Gapless = TMpegGapless::Parse(frame_, kFrameBufferSize);
  const bool mono = Header.ChannelMode == 3;
  const std::int32_t at = Header.Version == 3 ? (mono ? 21 : 36) : (mono ? 13 : 21);
  if (std::memcmp(frame_ + at, "Xing", 4) == 0) {
    Vbr.Found = true;
    std::memcpy(Vbr.Tag, "Xing", 4);
    Vbr.Frames = BE32(frame_ + at + 8);
    Vbr.Bytes = BE32(frame_ + at + 12);
  } else if (std::memcmp(frame_ + at, "VBRI", 4) == 0) {
    Vbr.Found = true;
    std::memcpy(Vbr.Tag, "VBRI", 4);
    Vbr.Bytes = BE32(frame_ + at + 10);
    Vbr.Frames = BE32(frame_ + at + 14);
  }

  if (StreamSize >= 128 && ReadAt(stream, StreamSize - 128, tag, 3) && std::memcmp(tag, "TAG", 3) == 0) size -= 128;
  if (size < 0) size = 0;

  // Without a VBR header a file whose bit rate varies is as long as its
  // frames, counted one by one; its size over the first frame's rate could
  // be anything.
  std::int64_t walked = -1;
  const bool vbrFrames = Vbr.Found && Vbr.Frames > 0;
  if (!vbrFrames) {
    // An encoder's tag frame may have a rate of its own (room for the tag):
    // the audio begins after it.
    const std::int64_t audio = DataOffset + Gapless.TagFrameLength;
    TMpegHeader first;
    if (audio + 4 <= DataOffset + size && HeaderAt(stream, audio, first) && SameStream(first, Header) &&
        (Vbr.Found || VariesBitRate(stream, audio, DataOffset + size, first))) {
      walked = CountFrames(stream, audio, DataOffset + size, first);
    }
  }

  std::int64_t kbps = Header.BitRate;
  if (bitRateHint >= 1000) kbps = bitRateHint / 1000;
  // Bytes times 8 over kbps gives ms; sizes here stay far below overflow.
  const std::int64_t cbrDuration = size * 8 / kbps;
  const std::int64_t frameCount = vbrFrames ? std::int64_t(Vbr.Frames) : walked;
  std::int64_t duration = cbrDuration;
  if (frameCount > 0) {
    duration = RoundToInt64(double(frameCount) * Header.SamplesPerFrame * 1000.0 / Header.SampleRate);
  }

  // The frames' time, before what is not the sound is taken off.
  const std::int64_t framesDuration = duration;
  if (Gapless.Samples >= 0 && Header.SampleRate > 0) {
    duration = RoundToInt64(double(Gapless.Samples) * 1000.0 / Header.SampleRate);
  } else if (Gapless.Skip > 0 && Header.SampleRate > 0) {
    duration = std::max<std::int64_t>(0, duration - RoundToInt64(double(Gapless.Skip) * 1000.0 / Header.SampleRate));
  }

  info.Kind = kMediaMpeg;
  info.DataOffset = Clamp32(DataOffset);
  info.DataSize = Clamp32(size);
  info.Duration = Clamp32(duration);
  const bool vbr = Vbr.Found || walked >= 0;
  info.FullDuration = Clamp32(frameCount > 0 ? framesDuration : StreamSize * 8 / kbps);
  info.SetVbr(vbr ? 0xFFFFFFFFu : 0);
  std::int32_t frameLength = Header.FrameLength;
  if (!vbr) {
    // Padding and rate changes: the largest of the first three frames.
    std::int64_t pos = DataOffset;
    TMpegHeader h;
    for (int i = 0; i < 3 && HeaderAt(stream, pos, h); ++i) {
      if (h.FrameLength > frameLength) frameLength = h.FrameLength;
      pos += h.FrameLength;
    }
  }
  info.FrameLength = std::uint32_t(frameLength);
  if (vbr) {
    info.FrameDuration = frameCount > 0 ? double(framesDuration) / double(frameCount) : 26.0;
  } else {
    info.FrameDuration = size > 0 ? double(frameLength) * double(framesDuration) / double(size) : 26.0;
  }
  const std::uint16_t channels = mono ? 1 : 2;
  info.Format = Pcm16Format(channels, std::uint32_t(Header.SampleRate));
  w->Seek(stream, 0, DataOffset);
  return true;
}

namespace {

// The length of the frame at pos when it is an encoder's tag frame ("Xing",
// "Info" or "VBRI"): decoders skip it, so times count from the frame after it.
std::int64_t TagFrameLength(TStream* s, std::int64_t pos) {
  std::uint8_t b[40];
  TMpegHeader h;
  if (!ReadAt(s, pos, b, sizeof b) || !ParseMpegHeader(b, h)) return 0;
  const bool mono = h.ChannelMode == 3;
  const std::int32_t at = h.Version == 3 ? (mono ? 21 : 36) : (mono ? 13 : 21);
  for (const char* tag : {"Xing", "Info", "VBRI"})
    if (std::memcmp(b + at, tag, 4) == 0) return h.FrameLength;
  return 0;
}

}  // namespace

std::int64_t TMpegInfo::SeekToTime(TStream* stream, std::int64_t ms, const TMediaInfo& info) {
  if (!stream) return 0;
  TStreamWrapperClass* w = StreamWrapper();
  const std::int64_t end = w->GetSize(stream);
  const std::int64_t frameLength = info.FrameLength;
  const std::int64_t first = std::int64_t(info.DataOffset) + TagFrameLength(stream, info.DataOffset);
  if (!info.Vbr()) {
    std::int64_t start = first;
    // Bytes per ms of the frames (the duration is the sound's, shorter).
    if (info.FrameDuration > 0 && frameLength > 0 && ms > 0) {
      const double skip = double(frameLength) / info.FrameDuration * double(ms);
      start = skip >= double(end) ? end : start + RoundToInt64(skip);
    }
    if (start > end) start = end;
    if (start < 0) start = 0;
    std::int64_t pos = start;
    for (; pos + 4 <= end; ++pos) {
      TMpegHeader h, next;
      if (!HeaderAt(stream, pos, h)) continue;
      if (h.FrameLength != frameLength && h.FrameLength != frameLength - 1) continue;
      if (HeaderAt(stream, pos + h.FrameLength, next)) break;
    }
    if (pos + 4 > end) pos = end;
    w->Seek(stream, 0, pos);
    if (frameLength <= 0) return 0;
    return -RoundToInt64(double(pos - start) / double(frameLength) * info.FrameDuration);
  }
  std::int64_t pos = first;
  double remaining = double(ms);
  if (remaining >= info.FrameDuration && info.FrameDuration > 0) {
    while (remaining > 0 && pos + 4 <= end) {
      TMpegHeader h;
      if (HeaderAt(stream, pos, h)) {
        pos += h.FrameLength;
        remaining -= info.FrameDuration;
      } else {
        ++pos;
      }
    }
  } else {
    remaining = 0;
  }
  w->Seek(stream, 0, pos);
  // Positive only when the stream ended before ms.
  return RoundToInt64(remaining);
}

TMpegGapless TMpegGapless::Parse(const std::uint8_t* frame, std::int32_t size) {
  TMpegGapless g;
  TMpegHeader h;
  if (!frame || size < 4 || !ParseMpegHeader(frame, h)) return g;
  g.SamplesPerFrame = h.SamplesPerFrame;
  g.SampleRate = h.SampleRate;
  const bool layer3 = h.Layer == 1, mono = h.ChannelMode == 3;
  if (layer3) {
    // The smallest frame of this version and rate holds the least main
    // data; the reservoir reaches back 511 bytes (255 in MPEG 2 and 2.5).
    const std::int32_t side = h.Version == 3 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const std::int32_t smallest = (h.Version == 3 ? 144 * 32 : 72 * 8) * 1000 / h.SampleRate;
    const std::int32_t data = std::max(1, smallest - 4 - side - (h.Crc ? 2 : 0));
    const std::int32_t back = h.Version == 3 ? 511 : 255;
    g.LeadFrames = 1 + (back + data - 1) / data;
    g.Skip = kUsualEncoderDelay + kDecoderDelay;
  }
  const std::int32_t at = h.Version == 3 ? (mono ? 21 : 36) : (mono ? 13 : 21);
  if (at + 8 > size) return g;
  const std::uint8_t* tag = frame + at;
  if (std::memcmp(tag, "Xing", 4) == 0 || std::memcmp(tag, "Info", 4) == 0) {
    g.TagFrameLength = h.FrameLength;
    const std::uint32_t flags = BE32(tag + 4);
    std::int32_t p = at + 8;
    if (flags & 1) {
      if (p + 4 <= size) g.Frames = BE32(frame + p);
      p += 4;
    }
    if (flags & 2) p += 4;
    if (flags & 4) p += 100;
    if (flags & 8) p += 4;
    // The LAME extension: a 9-byte version, then the delay and padding
    // (12 bits each) 21 bytes on.
    const std::uint8_t* lame = frame + p;
    if (layer3 && p + 24 <= size &&
        (std::memcmp(lame, "LAME", 4) == 0 || std::memcmp(lame, "Lavf", 4) == 0 || std::memcmp(lame, "Lavc", 4) == 0)) {
      g.Tagged = true;
      g.Delay = (lame[21] << 4) | (lame[22] >> 4);
      g.Padding = ((lame[22] & 0x0F) << 8) | lame[23];
      g.Skip = g.Delay + kDecoderDelay;
    }
  } else if (std::memcmp(tag, "VBRI", 4) == 0 && at + 18 <= size) {
    g.TagFrameLength = h.FrameLength;
    g.Frames = BE32(tag + 14);
  }
  if (layer3 && g.Frames > 0) {
    const std::int64_t total = g.Frames * h.SamplesPerFrame;
    // A padding shorter than the decoder's delay ends with the last frame.
    const std::int64_t end = g.Tagged ? std::min(total, total - g.Padding + kDecoderDelay) : total;
    g.Samples = end > g.Skip ? end - g.Skip : -1;
  }
  return g;
}

TMpegGapless TMpegInfo::ReadGapless(TStream* stream, const TMediaInfo& info) {
  std::uint8_t frame[kFrameBufferSize] = {};
  if (!stream) return TMpegGapless::Parse(nullptr, 0);
  TStreamWrapperClass* w = StreamWrapper();
  const std::int64_t at = info.DataOffset;
  if (w->Seek(stream, 0, at) != at) return TMpegGapless::Parse(nullptr, 0);
  const std::int32_t got = w->Read(stream, frame, kFrameBufferSize);
  return TMpegGapless::Parse(frame, got);
}

std::int64_t TMpegInfo::SeekToFrame(TStream* stream, std::int64_t frame, const TMediaInfo& info) {
  if (!stream) return 0;
  TStreamWrapperClass* w = StreamWrapper();
  const std::int64_t end = w->GetSize(stream);
  std::int64_t pos = std::int64_t(info.DataOffset) + TagFrameLength(stream, info.DataOffset);
  // A constant bit rate: encoders pad frames so that frame k starts within
  // a byte of k whole frame lengths (fractional) on. A header of the first
  // frame's kind there, followed by another, is that frame; anything else
  // (junk between frames, a changing rate without a VBR header) is walked.
  TMpegHeader first;
  if (!info.Vbr() && frame > 0 && frame < (std::int64_t(1) << 40) && HeaderAt(stream, pos, first)) {
    const auto same = [&](const TMpegHeader& h) {
      return h.Version == first.Version && h.Layer == first.Layer && h.BitRate == first.BitRate &&
             h.SampleRate == first.SampleRate;
    };
    const std::int64_t guess = pos + RoundToInt64(double(frame) * ExactFrameLength(first));
    for (const std::int64_t d : {0, -1, 1, -2, 2}) {
      TMpegHeader h, next;
      if (guess + d < pos || !HeaderAt(stream, guess + d, h) || !same(h)) continue;
      if (!HeaderAt(stream, guess + d + h.FrameLength, next) || !same(next)) continue;
      w->Seek(stream, 0, guess + d);
      return frame;
    }
  }
  std::int64_t reached = 0;
  // Read in large blocks: a walk through a long file makes few reads.
  constexpr std::int32_t kBlock = 1 << 16;
  std::vector<std::uint8_t> block;
  std::int64_t blockAt = 0;
  std::int32_t blockLength = 0;
  while (reached < frame && pos + 4 <= end) {
    if (pos < blockAt || pos + 4 > blockAt + blockLength) {
      block.resize(kBlock);
      blockAt = pos;
      blockLength = w->Seek(stream, 0, pos) == pos
                        ? w->Read(stream, block.data(), std::int32_t(std::min<std::int64_t>(kBlock, end - pos)))
                        : 0;
      if (blockLength < 4) break;
    }
    TMpegHeader h;
    if (ParseMpegHeader(block.data() + (pos - blockAt), h)) {
      pos += h.FrameLength;
      ++reached;
    } else {
      ++pos;
    }
  }
  if (pos > end) pos = end;
  if (pos < 0) pos = 0;
  w->Seek(stream, 0, pos);
  return reached;
}

void TMpegInfo::ScanFrames(TStream* stream, std::uint8_t* buffer, std::int32_t& carry, std::int32_t bytes) {
  if (!stream || !buffer || bytes <= 0) {
    carry = 0;
    return;
  }
  TStreamWrapperClass* w = StreamWrapper();
  std::int32_t p = carry < 0 ? 0 : carry;
  TMpegHeader h;
  while (p + 4 <= bytes) {
    if (ParseMpegHeader(buffer + p, h) && h.FrameLength >= 4 && h.FrameLength <= bytes) {
      p += h.FrameLength;
      continue;
    }
    std::int32_t q = p + 1;
    while (q + 4 <= bytes && !ParseMpegHeader(buffer + q, h)) ++q;
    if (q + 4 > bytes) break;  // no header left in this buffer
    // Read the bytes from that header again over the ones that form no frame.
    const std::int64_t base = w->GetPosition(stream) - bytes;
    const std::int32_t want = bytes - p;
    w->Seek(stream, 0, base + q);
    const std::int32_t got = w->Read(stream, buffer + p, want);
    if (got < want) {
      const std::int32_t kept = got > 0 ? got : 0;
      std::memset(buffer + p + kept, 0, std::size_t(want - kept));
      carry = 0;
      return;
    }
  }
  if (p >= bytes) {
    carry = p - bytes;
  } else if (bytes - p <= 4) {
    // A header cut by the buffer's end: its frame runs into the next read.
    const std::int64_t cur = w->GetPosition(stream);
    std::uint8_t b[4];
    w->Seek(stream, 0, cur - bytes + p);
    const bool ok = w->Read(stream, b, 4) == 4 && ParseMpegHeader(b, h);
    w->Seek(stream, 0, cur);
    carry = ok ? (p - bytes) + h.FrameLength : 0;
  } else {
    carry = 0;
  }
  if (carry < 0) carry = 0;
}

}  // namespace zm
