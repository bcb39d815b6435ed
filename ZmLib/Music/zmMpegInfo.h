#pragma once
// MPEG audio stream information (MPEG 1, 2 and 2.5, layers I to III): the
// first real frame behind an optional ID3v2 tag, a Xing or VBRI header, the
// duration and frame timing, and seeking to the frame for a time. All reads
// go through the stream wrapper.
#include <cstdint>

#include "ZmLib/Music/zmAudioStreams.h"
#include "ZmLib/Music/zmMediaInfo.h"

namespace zm {

struct TMpegHeader {
  std::uint32_t Raw = 0;
  std::int32_t Version = 0;  // 0 MPEG 2.5, 2 MPEG 2, 3 MPEG 1
  std::int32_t Layer = 0;    // 3 I, 2 II, 1 III
  bool Crc = false;
  std::int32_t BitRate = 0;     // kbps
  std::int32_t SampleRate = 0;  // Hz
  bool Padding = false;
  std::int32_t ChannelMode = 0;  // 3 mono
  std::int32_t FrameLength = 0;  // bytes
  std::int32_t SamplesPerFrame = 0;
};

// False for anything but a valid header (free format and reserved values included).
bool ParseMpegHeader(const std::uint8_t* p, TMpegHeader& h);

struct TVbrRecord {
  bool Found = false;
  char Tag[5] = {};  // "Xing" or "VBRI"
  std::uint32_t Frames = 0;
  std::uint32_t Bytes = 0;
};

// Where the sound lies among the samples a decoder gives for the audio
// frames (the encoder's tag frame not counted): Layer III decoders give the
// encoder's delay and their own 529 samples of delay first, and the last
// frame is padded. A LAME-style tag in the first frame ("LAME", "Lavf",
// "Lavc") tells the delay and padding; without one a Layer III stream is
// taken to have the usual encoder delay of 576 samples.
struct TMpegGapless {
  static constexpr std::int32_t kDecoderDelay = 529;
  static constexpr std::int32_t kUsualEncoderDelay = 576;

  bool Tagged = false;     // the delay and padding come from the tag
  std::int32_t Delay = 0;  // the encoder's, in samples
  std::int32_t Padding = 0;
  std::int64_t Frames = -1;  // audio frames, from the tag frame (-1: not told)
  std::int32_t SamplesPerFrame = 0;
  std::int32_t SampleRate = 0;
  std::int32_t TagFrameLength = 0;  // bytes of the tag frame (0: none)
  // Decoded samples before the sound, and the samples of sound (-1 when the
  // stream does not tell its length).
  std::int64_t Skip = 0;
  std::int64_t Samples = -1;
  // Frames to decode before a frame so that it decodes whole: its bit
  // reservoir may reach back over the frames before it, and the filter bank
  // carries over from the frame before.
  std::int32_t LeadFrames = 1;

  // From the first frame's bytes (Size of them); a record of defaults (no
  // skip, one lead frame) when they hold no frame.
  static TMpegGapless Parse(const std::uint8_t* frame, std::int32_t size);
};

class TMpegInfo {
public:
  static constexpr std::int32_t kFrameBufferSize = 1729;

  // Clears info first. Fills kind 4, the data offset and size, the durations,
  // the frame length and duration, the VBR flag (all ones with a Xing or VBRI
  // header) and the format of the decoded PCM16 output. False when no frame
  // followed by a second one is found or a read falls short.
  bool Read(TStream* stream, TMediaInfo& info, std::int32_t bitRateHint = 0);
  // Puts the stream at the frame for ms; answers 0 or a negative time such
  // that the frame reached starts at ms - answer.
  static std::int64_t SeekToTime(TStream* stream, std::int64_t ms, const TMediaInfo& info);
  // Puts the stream at audio frame Frame (0: the first after a tag frame),
  // walking the frames from the data's start; answers the frame reached,
  // less than Frame when the stream ends before it (then at its end).
  static std::int64_t SeekToFrame(TStream* stream, std::int64_t frame, const TMediaInfo& info);
  // The first frame's record, read at the data's start.
  static TMpegGapless ReadGapless(TStream* stream, const TMediaInfo& info);

  // After each read of bytes into buffer (the stream just past them): walks
  // the frames from carry; bytes that form no frame are read again from the
  // next header on, and carry becomes the part of the last frame beyond the
  // buffer.
  static void ScanFrames(TStream* stream, std::uint8_t* buffer, std::int32_t& carry, std::int32_t bytes);

  std::int64_t StreamSize = 0;
  std::int64_t DataOffset = 0;
  TMpegHeader Header;
  TVbrRecord Vbr;
  TMpegGapless Gapless;

private:
  std::uint8_t frame_[kFrameBufferSize] = {};
};

}  // namespace zm
