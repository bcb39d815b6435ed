#pragma once
// What must be known of an audio file before it plays: the fixed 96-byte
// media-information record that travels with a track, read from RIFF WAVE
// files, MPEG audio files, or by the decoder choice for everything else.
#include <cstdint>
#include <cstddef>
#include <cstring>

#include "ZmLib/Music/zmAudioStreams.h"

namespace zm {

// Kinds of audio the record names.
constexpr std::uint8_t kMediaUnknown = 0;
constexpr std::uint8_t kMediaPcm = 1;
constexpr std::uint8_t kMediaAdpcm = 2;
constexpr std::uint8_t kMediaFloat = 3;  // IEEE float, or PCM needing the resampler
constexpr std::uint8_t kMediaMpeg = 4;
constexpr std::uint8_t kMediaWma = 5;
constexpr std::uint8_t kMediaOgg = 6;
constexpr std::uint8_t kMediaComposite = 9;
constexpr std::uint8_t kMediaFFmpeg = 10;

// Packed, yet placed on 8 bytes so the fields before Kind sit aligned. The
// format's fields are not: copy them (e.g. +info.Format.nChannels) rather
// than bind references to them.
#pragma pack(push, 1)
struct alignas(8) TMediaInfo {
  std::uint32_t DataOffset;    // position of the audio data in the stream
  std::uint32_t DataSize;      // bytes
  std::uint32_t Duration;      // ms
  std::uint32_t FullDuration;  // ms (MPEG): CBR over the whole stream, or the VBR duration
  std::uint32_t FrameLength;   // bytes (MPEG)
  std::uint32_t Reserved;
  double FrameDuration;   // ms (MPEG)
  std::uint32_t Embedded;  // 1: MPEG audio inside a RIFF WAVE file
  std::uint8_t Kind;
  TWaveFormatEx Format;
  std::uint8_t Extra[34];  // extra format bytes (the ADPCM coefficients)
  std::uint8_t Pad[7];

  // The MPEG VBR flag shares bytes with the extra format bytes (MPEG has none).
  std::uint32_t Vbr() const {
    std::uint32_t v;
    std::memcpy(&v, reinterpret_cast<const std::uint8_t*>(this) + 56, 4);
    return v;
  }
  void SetVbr(std::uint32_t v) { std::memcpy(reinterpret_cast<std::uint8_t*>(this) + 56, &v, 4); }
};
#pragma pack(pop)
static_assert(sizeof(TMediaInfo) == 96 && alignof(TMediaInfo) == 8);
static_assert(offsetof(TMediaInfo, FrameDuration) == 24);
static_assert(offsetof(TMediaInfo, Kind) == 36);
static_assert(offsetof(TMediaInfo, Format) == 37);
static_assert(offsetof(TMediaInfo, Extra) == 55);

// The decoder choice for files that are neither RIFF WAVE nor named as MPEG
// audio; nil until the decoder choice is set up, which makes such files
// unknown.
using TDecoderInfoProc = bool (*)(TStream* stream, const WideString& fileName, TMediaInfo& info);
extern TDecoderInfoProc DecoderInfoHook;

class TRiffInfo {
public:
  // False for anything but a readable WAVE file of a known format tag.
  bool Read(TStream* stream, TMediaInfo& info);
};

class TMediaInfoExtractor {
public:
  // Clears info first; the stream's position is kept for the decoder choice.
  // The content chooses the reader, whatever the name says. A file that no
  // reader takes is said to be unplayable (SayUnplayableSound).
  bool Extract(TStream* stream, const WideString& fileName, TMediaInfo& info);
};

// Says, once a run for each file, that a sound file cannot be played and
// why: "Sound load error: <name> (<why>)", in the log and, unless the log
// goes there already, on standard error; the show plays on without it.
void SayUnplayableSound(const WideString& fileName, const WideString& why);

}  // namespace zm
