#pragma once
// Media files through FFmpeg: TFFAVStream demuxes one of the program's
// streams, TFFMpegVideo decodes its video (optionally on the graphics
// hardware), TFFMpegAudio decodes and resamples its audio. Messages go to
// the log, prefixed "ffmpeg: "; nothing here is shown to the user and no
// operation raises: failures answer false.
//
// Times are microseconds unless said otherwise. Each object is used by one
// thread at a time.
#include <cstdint>
#include <vector>

#include "ZmLib/Graphics/Video/FFMpegApi.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmStream.h"
#include "ZmLib/zmTypes.h"

namespace zm {

// One stream of a file (the picture fields stay 0 for audio).
struct TFFStreamInfo {
  WideString Language;   // "language" metadata, empty when absent
  std::int32_t CodecId = 0;  // AVCodecID
  WideString CodecName;  // "H.264", "MPEG2", else the decoder's name upper-cased
  std::int64_t StartTime = AV_NOPTS_VALUE;  // in the stream's time base
  std::int64_t Duration = AV_NOPTS_VALUE;
  std::int64_t StartTimeUs = AV_NOPTS_VALUE;
  std::int64_t DurationUs = AV_NOPTS_VALUE;
  std::int64_t BitRate = 0;
  std::int32_t Height = 0;
  std::int32_t Width = 0;
  double SampleAspect = -1;   // -1 unknown
  double DisplayAspect = -1;  // -1 unknown
  std::int32_t SampleAspectNum = 0, SampleAspectDen = 0;
  std::int32_t DisplayAspectNum = 0, DisplayAspectDen = 0;
  std::int32_t SourcePixelFormat = -1;  // AVPixelFormat before decoding
  bool IsBGRA = false;
  std::int32_t RateNum = 0, RateDen = 0;  // frame rate
  std::int32_t Rotation = 0;              // whole degrees 0 to 359
  // Audio streams.
  std::int32_t Channels = 0;
  std::int32_t SampleRate = 0;
  std::int32_t SampleFormat = -1;  // AVSampleFormat
};

// The container.
struct TFFContainerInfo {
  std::int64_t StartTime = 0;
  std::int64_t Duration = -1;  // -1 unknown
  std::int64_t BitRate = 0;
  std::int32_t Year = 0;   // 0 when the text is not a number
  std::int32_t Track = 0;
  WideString Title, Author, Copyright, Comment, Album, Genre;
};

// What the decoder said of the current picture.
struct TFFFrameProps {
  std::int32_t PixelFormat = -1;  // of the current frame (after any hardware transfer)
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  bool KeyFrame = false;
  bool Interlaced = false;
  bool TopFieldFirst = false;
  std::int32_t PictureType = 0;
  std::int64_t Pts = AV_NOPTS_VALUE;  // packet times, stream time base
  std::int64_t Dts = AV_NOPTS_VALUE;
  std::int32_t StreamIndex = -1;
  std::int64_t PacketDuration = 0;
  bool Valid = false;
};

// One opened input. The owner sets Kind (0 plain, 1 video, 2 audio).
class TFFAVStream : public TRefObject {
public:
  TFFAVStream();
  void Dispose() override;

  // Opens the input over Stream (not owned; must not be nil); FileName names
  // it in messages and is the demuxer's only format hint.
  bool Open(TStream* stream, const WideString& fileName);
  void Close();
  bool IsOpen() const;
  // Seeks to Time of stream StreamIndex (-1: in microseconds of the
  // container), flushing Codec when given.
  bool Seek(AVCodecContext* codec, std::int32_t streamIndex, std::int64_t time);
  void GetInfo(TFFContainerInfo& info) const;

  // The text of the last open failure.
  const WideString& LastError() const { return lastError_; }
  // No more frames will come.
  bool AtEnd() const { return atEnd_; }
  // The demuxer has reported its first failure.
  bool ReadExhausted() const { return readExhausted_; }
  AVFormatContext* Format() const { return format_; }

  std::uint8_t Kind = 0;

  // The decode state its owner drives. The codec context is this object's
  // (freed at Close); ReadPacket sends the packets of StreamIndex to it.
  bool StreamChosen = false;
  std::int32_t StreamIndex = -1;
  AVCodecContext* Codec = nullptr;
  // Holds a packet that was sent to Codec (or the end-of-input drain) until
  // the decoder asks for more; false when no packet came.
  bool ReadPacket();
  // The decoder asked for more: the held packet goes.
  void DropPacket();
  bool PacketHeld() const { return packetHeld_; }
  const AVPacket* Packet() const { return packet_; }
  // Times of the last two frames (microseconds; AV_NOPTS_VALUE none), for
  // frames that come without any.
  std::int64_t LastFrameTime = AV_NOPTS_VALUE;
  std::int64_t PrevFrameTime = AV_NOPTS_VALUE;
  // The decoder has given its last frame.
  void SetAtEnd() { atEnd_ = readExhausted_ = true; }
  // Frees the codec context.
  void CloseCodec();

protected:
  TStream* stream_ = nullptr;
  WideString fileName_;
  AVIOContext* io_ = nullptr;
  WideString lastError_;
  AVFormatContext* format_ = nullptr;
  AVPacket* packet_ = nullptr;
  bool packetHeld_ = false;
  bool draining_ = false;
  bool atEnd_ = false;
  bool readExhausted_ = false;
};

// A video decoder on one input (kind 1).
class TFFMpegVideo : public TRefObject {
public:
  TFFMpegVideo();
  void Dispose() override;

  // Closes first; opens the input and computes the stream figures.
  bool Open(TStream* stream, const WideString& fileName);
  void Close();
  // -1 keeps the current stream, else takes the first video stream; answers
  // the stream chosen (-1 none).
  std::int32_t SelectStream(std::int32_t index);
  // Decodes the next frame. A frame earlier than TargetTime answers true
  // with no current frame (skipped without conversion); INT64_MIN takes
  // every frame, INT64_MAX skips every frame.
  bool DecodeNext(std::int64_t targetTime);
  // Seeks and decodes up to the frame at Time.
  bool SeekTime(std::int64_t time);
  // Decodes on from where the decoder stands, without seeking, up to the
  // frame at Time (the frames before it skipped without conversion).
  bool SkipTo(std::int64_t time);
  // The time (from the stream's start) of the key frame at or before Time,
  // where a seek to Time starts decoding; AV_NOPTS_VALUE when the stream's
  // index does not tell.
  std::int64_t KeyFrameTimeBefore(std::int64_t time) const;
  bool AtEnd() const;

  // H.264, VP9 or HEVC of more than 30 million pixels a second.
  bool IsHardwareCandidate() const;
  // H.264, VP9, HEVC or AV1.
  bool IsThreadCandidate() const;

  // The current picture (system memory), or nil.
  const AVFrame* CurrentFrame() const;
  const TFFFrameProps& FrameProps() const;
  // Time of the current frame from the stream's start (AV_NOPTS_VALUE none).
  std::int64_t FrameTime() const;
  const TFFStreamInfo& StreamInfo() const;
  std::int64_t FrameCount() const;
  std::int64_t DurationUs() const;
  std::int32_t StreamCount() const;
  std::int32_t VideoStreamCount() const;
  // Rate of the current stream.
  std::int32_t RateNum() const;
  std::int32_t RateDen() const;

  // Set by the frame source before the first decode.
  void SetHardwareWanted(bool on);
  void SetThreadCount(std::int32_t count);
  // Latched at the first decode or seek.
  bool HardwareInUse() const;
  // The hardware status text copied at creation ("...=OK" / "...=Failed").
  const WideString& HardwareStatus() const;

  TFFAVStream* Input() const;

private:
  void ResetFrame();
  bool OpenDecoder();
  void FillStreamInfo(std::int32_t index);
  void LatchHardware();

  TFFAVStream* input_ = nullptr;
  std::int32_t streamCount_ = 0;
  std::int64_t durationUs_ = 0;
  bool hardwareInUse_ = false;
  bool hardwareLatched_ = false;
  std::int32_t threadsAsked_ = 1;
  std::int32_t streamIndex_ = -1;
  TFFFrameProps props_;
  std::int64_t frameTime_ = AV_NOPTS_VALUE;
  AVFrame* decoded_ = nullptr;
  AVFrame* transfer_ = nullptr;
  AVFrame* current_ = nullptr;
  std::int32_t rateNum_ = 0, rateDen_ = 0;
  std::int32_t firstVideo_ = -1;
  std::int32_t videoCount_ = 0;
  std::int64_t frameCount_ = 0;
  TFFStreamInfo info_;
  bool hardwareWanted_ = false;
  WideString hardwareStatus_;
  bool decoderFailed_ = false;
  bool holder_ = false;
};

// An audio decoder on one input (kind 2) with output in a fixed format.
class TFFMpegAudio : public TRefObject {
public:
  // OutSampleFormat is an AVSampleFormat. Channels or rate 0 keep the
  // stream's own (only the sample format is converted).
  TFFMpegAudio(std::int32_t outChannels, std::int32_t outSampleRate, std::int32_t outSampleFormat);
  void Dispose() override;

  bool Open(TStream* stream, const WideString& fileName);
  void Close();
  // -1 takes the current or first audio stream; answers it (-1 none).
  std::int32_t SelectStream(std::int32_t index);
  // Decodes one packet's frames, converted; false at the end or on failure.
  bool DecodeNext();
  // The bytes of the last DecodeNext (valid until the next call).
  const std::uint8_t* Decoded() const;
  std::int32_t DecodedSize() const;
  // Time of the first decoded byte.
  std::int64_t DecodedTime() const;
  // Lands on the time's sample (us; below 0 is 0): decodes from earlier and
  // drops what lies before it, the next DecodeNext handing out the rest.
  bool SeekTime(std::int64_t time);

  // Whether an audio stream was found at open.
  bool HasStream() const;
  std::int32_t AudioStreamCount() const;
  const TFFStreamInfo& StreamInfo() const;
  // The output format (the stream's own where the creator gave 0).
  std::int32_t OutChannels() const;
  std::int32_t OutSampleRate() const;
  std::int32_t OutSampleFormat() const;

  TFFAVStream* Input() const;

private:
  bool OpenDecoder();
  // Converts one frame and appends it to the decoded bytes; false on failure.
  bool AppendFrame(const AVFrame* frame);
  void DropDecoded();

  TFFAVStream* input_ = nullptr;
  std::int32_t askedChannels_, askedRate_, askedFormat_;
  std::int32_t outChannels_ = 0, outRate_ = 0, outFormat_ = -1;
  AVChannelLayout outLayout_{};
  AVChannelLayout srcLayout_{};
  std::int32_t srcRate_ = 0, srcFormat_ = -1;
  SwrContext* resampler_ = nullptr;
  std::uint8_t* resampleBuffer_ = nullptr;
  unsigned resampleSize_ = 0;
  std::vector<std::uint8_t> decodedBytes_;
  std::int64_t decodedTime_ = AV_NOPTS_VALUE;
  bool pending_ = false;  // bytes left by a seek that the next DecodeNext hands out
  bool freshlyOpened_ = false;
  std::int32_t streamIndex_ = -1;
  std::int32_t audioCount_ = 0;
  std::int32_t firstAudio_ = -1;
  bool decoderFailed_ = false;
  AVFrame* frame_ = nullptr;
  TFFStreamInfo info_;
};

}  // namespace zm
