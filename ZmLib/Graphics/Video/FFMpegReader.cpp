#include "ZmLib/Graphics/Video/FFMpegReader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/PlatUtf8.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmLog.h"

namespace zm {

namespace {

constexpr int kIOBufferSize = 32832;
// Larger pictures than this are damaged headers, not video.
constexpr int kMaxPictureSide = 16384;
// Audio beyond these is a damaged header too (and would cost the resampler
// seconds to set up).
constexpr int kMaxSampleRate = 768000;
constexpr int kMaxChannels = 64;

void Log(const std::string& text) { LogLine(plat::FromUtf8(text)); }

// Times from damaged files can sit anywhere in 64 bits: arithmetic on them saturates.
std::int64_t Clamp64(__int128 v) {
  return v > INT64_MAX ? INT64_MAX : v < INT64_MIN + 1 ? INT64_MIN + 1 : std::int64_t(v);
}
std::int64_t SatAdd(std::int64_t a, std::int64_t b) { return Clamp64(__int128(a) + b); }
std::int64_t SatSub(std::int64_t a, std::int64_t b) { return Clamp64(__int128(a) - b); }
// Seek times beyond this many microseconds (about 30 years) mean the end.
constexpr std::int64_t kMaxSeekUs = std::int64_t(1) << 50;
// How much earlier than the place an audio seek starts decoding, at least.
constexpr std::int64_t kAudioPrerollUs = 250000;

// Media is read from the stream the program hands over and from nothing
// else: no file, no network address that a playlist, a reference or a
// session description inside the data names.
int RefuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) noexcept {
  return AVERROR(EPERM);
}

// Demuxers whose data names other inputs to read: playlists, manifests,
// concatenations and network sessions.
bool ReadsOtherInputs(const AVInputFormat* format) {
  static constexpr std::string_view kRefused[] = {"hls", "dash", "concat", "imf", "webm_dash_manifest",
                                                  "sdp", "rtsp", "rtp",    "sap"};
  if (!format || !format->name) return false;
  // One demuxer may go by several names, separated by commas.
  std::string_view names(format->name);
  while (!names.empty()) {
    const std::size_t comma = names.find(',');
    const std::string_view name = names.substr(0, comma);
    if (std::find(std::begin(kRefused), std::end(kRefused), name) != std::end(kRefused)) return true;
    if (comma == std::string_view::npos) break;
    names.remove_prefix(comma + 1);
  }
  return false;
}

// The stream's callbacks run inside FFmpeg: nothing may raise through it.
int ReadCallback(void* opaque, std::uint8_t* buffer, int size) {
  auto* stream = static_cast<TStream*>(opaque);
  if (!stream || !buffer || size <= 0) return AVERROR(EINVAL);
  try {
    const std::int32_t n = stream->Read(TReadBuffer(buffer, std::size_t(size)), size, 0);
    return n > 0 ? n : AVERROR_EOF;
  } catch (...) {
    return AVERROR(EIO);
  }
}

std::int64_t SeekCallback(void* opaque, std::int64_t offset, int whence) {
  auto* stream = static_cast<TStream*>(opaque);
  if (!stream) return AVERROR(EINVAL);
  try {
    whence &= ~AVSEEK_FORCE;
    std::int64_t position;
    switch (whence) {
      case AVSEEK_SIZE: {
        const std::int64_t size = stream->GetSize();
        return size >= 0 ? size : AVERROR(ENOSYS);
      }
      case SEEK_SET:
        position = offset;
        break;
      case SEEK_CUR:
        position = stream->GetPosition() + offset;
        break;
      case SEEK_END: {
        const std::int64_t size = stream->GetSize();
        if (size < 0) return AVERROR(ENOSYS);
        position = size + offset;
        break;
      }
      default:
        return AVERROR(EINVAL);
    }
    if (position < 0) return AVERROR(EINVAL);
    stream->SetPosition(position);
    return stream->GetPosition();
  } catch (...) {
    return AVERROR(EIO);
  }
}

AVRational SafeTimeBase(AVRational tb) {
  if (tb.den == 0) tb.den = tb.num;
  if (tb.den == 0) tb.den = 1;
  return tb;
}

std::int64_t ToMicroseconds(std::int64_t v, AVRational tb) {
  if (v == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
  return FF().av_rescale_q(v, SafeTimeBase(tb), AV_TIME_BASE_Q);
}

WideString MetaText(AVDictionary* dict, const char* key) {
  const AVDictionaryEntry* e = dict ? FF().av_dict_get(dict, key, nullptr, 0) : nullptr;
  return e && e->value ? plat::FromUtf8(e->value) : WideString();
}

std::int32_t MetaInt(AVDictionary* dict, const char* key) {
  const AVDictionaryEntry* e = dict ? FF().av_dict_get(dict, key, nullptr, 0) : nullptr;
  if (!e || !e->value || !*e->value) return 0;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(e->value, &end, 10);
  if (errno || *end || v < INT32_MIN || v > INT32_MAX) return 0;
  return std::int32_t(v);
}

WideString DecoderName(AVCodecID id) {
  const AVCodec* codec = FF().avcodec_find_decoder(id);
  if (!codec || !codec->name) return {};
  const std::string name = codec->name;
  if (name == "h264") return u"H.264";
  if (name == "mpeg2video") return u"MPEG2";
  return UpperCase(plat::FromUtf8(name));
}

// The record of one stream (picture fields only for video).
void FillInfo(AVFormatContext* format, std::int32_t index, TFFStreamInfo& info) {
  info = TFFStreamInfo{};
  const AVStream* st = format->streams[index];
  const AVCodecParameters* par = st->codecpar;
  info.Language = MetaText(st->metadata, "language");
  info.CodecId = par->codec_id;
  info.CodecName = DecoderName(par->codec_id);
  info.StartTime = st->start_time;
  info.Duration = st->duration;
  info.StartTimeUs = ToMicroseconds(st->start_time, st->time_base);
  info.DurationUs = ToMicroseconds(st->duration, st->time_base);
  info.BitRate = par->bit_rate;
  if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
    info.Channels = par->ch_layout.nb_channels;
    info.SampleRate = par->sample_rate;
    info.SampleFormat = par->format;
    return;
  }
  info.Width = par->width;
  info.Height = par->height;
  AVRational sar = st->sample_aspect_ratio.num != 0 ? st->sample_aspect_ratio : par->sample_aspect_ratio;
  if (sar.num != 0 && sar.den != 0) {
    info.SampleAspectNum = sar.num;
    info.SampleAspectDen = sar.den;
    info.SampleAspect = double(sar.num) / sar.den;
    int n = 0, d = 0;
    FF().av_reduce(&n, &d, std::int64_t(par->width) * sar.num, std::int64_t(par->height) * sar.den, 1048576);
    if (d != 0) {
      info.DisplayAspectNum = n;
      info.DisplayAspectDen = d;
      info.DisplayAspect = double(n) / d;
    }
  }
  info.SourcePixelFormat = par->format;
  info.IsBGRA = par->format == AV_PIX_FMT_BGRA;
  const AVRational rate =
      st->avg_frame_rate.num != 0 && st->avg_frame_rate.den != 0 ? st->avg_frame_rate : st->r_frame_rate;
  info.RateNum = rate.num;
  info.RateDen = rate.den;
  std::size_t size = 0;
  const std::uint8_t* matrix = FF().av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (matrix && size >= 9 * sizeof(std::int32_t)) {
    std::int32_t m[9];
    std::memcpy(m, matrix, sizeof m);
    const double theta = FF().av_display_rotation_get(m);
    if (!std::isnan(theta)) info.Rotation = std::int32_t(((std::lround(-theta) % 360) + 360) % 360);
  }
}

AVSampleFormat PackedFormat(AVSampleFormat f) {
  switch (f) {
    case AV_SAMPLE_FMT_U8P: return AV_SAMPLE_FMT_U8;
    case AV_SAMPLE_FMT_S16P: return AV_SAMPLE_FMT_S16;
    case AV_SAMPLE_FMT_S32P: return AV_SAMPLE_FMT_S32;
    case AV_SAMPLE_FMT_FLTP: return AV_SAMPLE_FMT_FLT;
    case AV_SAMPLE_FMT_DBLP: return AV_SAMPLE_FMT_DBL;
    case AV_SAMPLE_FMT_S64P: return AV_SAMPLE_FMT_S64;
    default: return f;
  }
}

// A codec context of our own from the stream's parameters.
AVCodecContext* NewCodecContext(const AVStream* st, const AVCodec* codec) {
  AVCodecContext* ctx = FF().avcodec_alloc_context3(codec);
  if (!ctx) return nullptr;
  if (FF().avcodec_parameters_to_context(ctx, st->codecpar) < 0) {
    FF().avcodec_free_context(&ctx);
    return nullptr;
  }
  ctx->pkt_timebase = st->time_base;
  return ctx;
}

enum AVPixelFormat HardwareFormat(AVCodecContext*, const enum AVPixelFormat* formats) {
  const AVPixelFormat wanted = HardwarePixelFormat();
  for (const AVPixelFormat* p = formats; p && *p != AV_PIX_FMT_NONE; ++p)
    if (*p == wanted) return *p;
  try {
    Log("ffmpeg: Failed to get HW surface format.");
  } catch (...) {
  }
  return AV_PIX_FMT_NONE;
}

}  // namespace

// ---- TFFAVStream --------------------------------------------------------------------

TFFAVStream::TFFAVStream() { LoadFFmpegLibraries(); }

void TFFAVStream::Dispose() {
  Close();
  TRefObject::Dispose();
}

bool TFFAVStream::Open(TStream* stream, const WideString& fileName) {
  ZM_ASSERT(stream != nullptr, "TFFAVStream.Open: no stream");
  Close();
  lastError_.clear();
  if (!LoadFFmpegLibraries()) {
    lastError_ = u"ffmpeg: libraries not loaded";
    return false;
  }
  PrepareFFmpegFormats();
  // The demuxer takes the position it reads from as the file's first byte:
  // whoever looked into the stream before (its media information) may have
  // left it anywhere.
  bool atStart = false;
  try {
    stream->SetPosition(0);
    atStart = stream->GetPosition() == 0;
  } catch (const std::exception&) {
  }
  if (!atStart) {
    lastError_ = fileName + u": the stream cannot go back to its start";
    return false;
  }
  stream_ = stream;
  fileName_ = fileName;
  format_ = FF().avformat_alloc_context();
  if (!format_) return false;
  auto* buffer = static_cast<std::uint8_t*>(FF().av_malloc(kIOBufferSize));
  io_ = buffer ? FF().avio_alloc_context(buffer, kIOBufferSize, 0, stream, &ReadCallback, nullptr, &SeekCallback)
               : nullptr;
  if (!io_) {
    FF().av_free(buffer);
    Close();
    return false;
  }
  format_->pb = io_;
  format_->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_NONBLOCK;
  format_->io_open = &RefuseOpen;
  format_->protocol_whitelist = FF().av_strdup("file");
  const std::string name = plat::ToUtf8(fileName);
  // The demuxer is chosen first, so that one that would read other inputs
  // never reads even its header.
  const AVInputFormat* detected = nullptr;
  int r = FF().av_probe_input_buffer2(io_, &detected, name.c_str(), nullptr, 0, 0);
  if (r >= 0 && ReadsOtherInputs(detected)) {
    Log("ffmpeg: " + name + ": " + detected->name + " input not read (it names other inputs)");
    lastError_ = fileName + u": input that names other inputs";
    Close();
    return false;
  }
  if (r >= 0) {
    r = FF().avformat_open_input(&format_, name.c_str(), detected, nullptr);
    // On failure FFmpeg freed the format context; the I/O context is still ours.
    if (r < 0) format_ = nullptr;
  }
  if (r < 0) {
    lastError_ = FFmpegErrorText(fileName, r);
    Close();
    return false;
  }
  r = FF().avformat_find_stream_info(format_, nullptr);
  if (r < 0) {
    lastError_ = u"Could not find codec parameters: " + fileName;
    Close();
    return false;
  }
  io_->eof_reached = 0;
  io_->error = 0;
  packet_ = FF().av_packet_alloc();
  if (!packet_) {
    Close();
    return false;
  }
  return true;
}

void TFFAVStream::CloseCodec() {
  if (Codec) FF().avcodec_free_context(&Codec);
  Codec = nullptr;
}

void TFFAVStream::Close() {
  atEnd_ = readExhausted_ = false;
  draining_ = false;
  LastFrameTime = PrevFrameTime = AV_NOPTS_VALUE;
  StreamChosen = false;
  StreamIndex = -1;
  if (!format_ && !io_ && !packet_ && !Codec) return;
  if (packet_) FF().av_packet_free(&packet_);
  packet_ = nullptr;
  packetHeld_ = false;
  CloseCodec();
  // The demuxer closes first: its close may still use the I/O context.
  if (format_) FF().avformat_close_input(&format_);
  format_ = nullptr;
  if (io_) {
    // FFmpeg may have replaced the buffer we gave it: free the current one.
    FF().av_freep(&io_->buffer);
    FF().avio_context_free(&io_);
  }
  io_ = nullptr;
  stream_ = nullptr;
}

bool TFFAVStream::IsOpen() const { return format_ != nullptr; }

void TFFAVStream::DropPacket() {
  if (packetHeld_ && packet_) FF().av_packet_unref(packet_);
  packetHeld_ = false;
}

bool TFFAVStream::ReadPacket() {
  if (packetHeld_) return true;
  if (!format_ || !packet_ || !Codec || atEnd_) return false;
  if (draining_) {
    // The decoder has had the end of input; it answers from what it holds.
    packetHeld_ = true;
    return true;
  }
  for (;;) {
    const int r = FF().av_read_frame(format_, packet_);
    if (r >= 0) {
      if (packet_->stream_index != StreamIndex) {
        FF().av_packet_unref(packet_);
        continue;
      }
      if (FF().avcodec_send_packet(Codec, packet_) < 0) {
        FF().av_packet_unref(packet_);
        continue;
      }
      packetHeld_ = true;
      return true;
    }
    if (r == AVERROR(EAGAIN)) return false;
    if (!readExhausted_) {
      // The first failure: the decoder gives out the frames it still holds.
      readExhausted_ = true;
      draining_ = FF().avcodec_send_packet(Codec, nullptr) >= 0;
      if (draining_) {
        packetHeld_ = true;
        return true;
      }
    }
    if (r == AVERROR(EPIPE) || r == AVERROR_EOF || (format_->pb && FF().avio_feof(format_->pb)) || readExhausted_)
      atEnd_ = true;
    return false;
  }
}

bool TFFAVStream::Seek(AVCodecContext* codec, std::int32_t streamIndex, std::int64_t time) {
  if (!format_) return false;
  time = std::clamp(time, -kMaxSeekUs, kMaxSeekUs);
  std::int64_t ts = time;
  if (streamIndex >= 0 && streamIndex < std::int32_t(format_->nb_streams)) {
    const AVStream* st = format_->streams[streamIndex];
    ts = FF().av_rescale_q(time, AV_TIME_BASE_Q, SafeTimeBase(st->time_base));
    // Frame times count from the stream's start.
    if (st->start_time != AV_NOPTS_VALUE) ts = SatAdd(ts, st->start_time);
  } else {
    streamIndex = -1;
    if (format_->start_time != AV_NOPTS_VALUE) ts = SatAdd(ts, format_->start_time);
  }
  if (codec) FF().avcodec_flush_buffers(codec);
  atEnd_ = readExhausted_ = false;
  draining_ = false;
  int r = FF().av_seek_frame(format_, streamIndex, ts, AVSEEK_FLAG_BACKWARD);
  if (r < 0 && Kind == 2) r = FF().av_seek_frame(format_, streamIndex, ts, AVSEEK_FLAG_ANY);
  if (r < 0) Log("ffmpeg: Could not seek to position");
  DropPacket();
  LastFrameTime = PrevFrameTime = AV_NOPTS_VALUE;
  if (format_->pb) format_->pb->eof_reached = 0;
  return r >= 0;
}

void TFFAVStream::GetInfo(TFFContainerInfo& info) const {
  info = TFFContainerInfo{};
  if (!format_) return;
  info.StartTime = format_->start_time == AV_NOPTS_VALUE ? 0 : format_->start_time;
  info.Duration = format_->duration == AV_NOPTS_VALUE ? -1 : format_->duration;
  info.BitRate = format_->bit_rate;
  AVDictionary* m = format_->metadata;
  info.Year = MetaInt(m, "year");
  info.Track = MetaInt(m, "track");
  info.Title = MetaText(m, "title");
  info.Author = MetaText(m, "author");
  info.Copyright = MetaText(m, "copyright");
  info.Comment = MetaText(m, "comment");
  info.Album = MetaText(m, "album");
  info.Genre = MetaText(m, "genre");
}

// ---- TFFMpegVideo -------------------------------------------------------------------

TFFMpegVideo::TFFMpegVideo() {
  input_ = new TFFAVStream;
  input_->Kind = 1;
  if (LoadFFmpegLibraries()) {
    AddHardwareHolder();
    holder_ = true;
  }
  hardwareStatus_ = HardwareDeviceStatus();
}

void TFFMpegVideo::Dispose() {
  Close();
  if (input_) input_->Free();
  input_ = nullptr;
  if (holder_) DropHardwareHolder();
  holder_ = false;
  TRefObject::Dispose();
}

void TFFMpegVideo::ResetFrame() {
  if (decoded_) FF().av_frame_free(&decoded_);
  if (transfer_) FF().av_frame_free(&transfer_);
  decoded_ = transfer_ = current_ = nullptr;
  props_ = TFFFrameProps{};
  frameTime_ = AV_NOPTS_VALUE;
}

void TFFMpegVideo::Close() {
  if (decoded_ || transfer_) ResetFrame();
  if (input_) input_->Close();
  streamCount_ = 0;
  durationUs_ = 0;
  hardwareLatched_ = false;
  hardwareInUse_ = false;
  streamIndex_ = -1;
  rateNum_ = rateDen_ = 0;
  firstVideo_ = -1;
  videoCount_ = 0;
  frameCount_ = 0;
  info_ = TFFStreamInfo{};
  decoderFailed_ = false;
}

bool TFFMpegVideo::Open(TStream* stream, const WideString& fileName) {
  Close();
  if (!stream || !input_ || !input_->Open(stream, fileName)) return false;
  AVFormatContext* f = input_->Format();
  streamCount_ = std::int32_t(f->nb_streams);
  for (std::int32_t i = 0; i < streamCount_; ++i) {
    if (f->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    if (videoCount_++ == 0) firstVideo_ = i;
  }
  if (firstVideo_ >= 0) FillStreamInfo(firstVideo_);
  std::int64_t duration = 0;
  if (info_.DurationUs != AV_NOPTS_VALUE && info_.DurationUs > 0) {
    duration = info_.DurationUs;
  } else if (f->duration != AV_NOPTS_VALUE && f->duration > 0) {
    duration = f->duration;
  }
  durationUs_ = duration;
  if (firstVideo_ >= 0 && info_.RateDen >= 1 && info_.RateNum > 0)
    frameCount_ = std::llround(std::clamp(double(duration) / 1000000.0 * info_.RateNum / info_.RateDen, 0.0, 1e15));
  return true;
}

void TFFMpegVideo::FillStreamInfo(std::int32_t index) {
  AVFormatContext* f = input_ ? input_->Format() : nullptr;
  if (!f) return;
  if (index < 0) {
    index = firstVideo_;
    if (index < 0) {
      Log("ffmpeg: no video stream.");
      return;
    }
  }
  if (index >= std::int32_t(f->nb_streams)) {
    Log("ffmpeg: stream index #" + std::to_string(index) + " is invalid.");
    return;
  }
  if (f->streams[index]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
    Log("ffmpeg: stream #" + std::to_string(index) + " is not video stream.");
    return;
  }
  FillInfo(f, index, info_);
}

std::int32_t TFFMpegVideo::SelectStream(std::int32_t index) {
  AVFormatContext* f = input_ ? input_->Format() : nullptr;
  if (!f) return -1;
  if (index < 0) index = streamIndex_ >= 0 ? streamIndex_ : firstVideo_;
  if (index < 0) {
    Log("ffmpeg: no video stream.");
    return -1;
  }
  if (index >= std::int32_t(f->nb_streams)) {
    Log("ffmpeg: stream index #" + std::to_string(index) + " is invalid.");
    return -1;
  }
  const AVStream* st = f->streams[index];
  if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
    Log("ffmpeg: stream #" + std::to_string(index) + " is not video stream.");
    return -1;
  }
  if (index == streamIndex_) return index;
  ResetFrame();
  input_->CloseCodec();
  input_->DropPacket();
  decoderFailed_ = false;
  streamIndex_ = index;
  input_->StreamIndex = index;
  input_->StreamChosen = true;
  FillInfo(f, index, info_);
  if (st->avg_frame_rate.num != 0 && st->avg_frame_rate.den != 0) {
    rateNum_ = st->avg_frame_rate.num;
    rateDen_ = st->avg_frame_rate.den;
  } else {
    rateNum_ = st->r_frame_rate.num;
    rateDen_ = st->r_frame_rate.den;
  }
  return index;
}

bool TFFMpegVideo::OpenDecoder() {
  AVFormatContext* f = input_->Format();
  if (input_->Codec) return true;
  const AVStream* st = f->streams[streamIndex_];
  const AVCodecParameters* par = st->codecpar;
  ZM_ASSERT(par->codec_type == AVMEDIA_TYPE_VIDEO, "OpenVideoDecoder: not a video stream");
  if (par->width <= 0 || par->height <= 0 || par->width > kMaxPictureSide || par->height > kMaxPictureSide) {
    Log("ffmpeg: frame size of codec is invalid in OpenVideoDecoder");
    return false;
  }
  const bool useHardware = hardwareInUse_ && HardwareDeviceReady();
  const int threads = useHardware ? 1 : std::clamp(threadsAsked_, 1, 4);
  const AVCodec* codec = FF().avcodec_find_decoder(par->codec_id);
  if (!codec) {
    Log("ffmpeg: avcodec_find_decoder: Unsupported codec");
    return false;
  }
  Log(std::string("ffmpeg: avcodec_find_decoder: LDecoder.name = ") + (codec->name ? codec->name : ""));
  AVCodecContext* ctx = NewCodecContext(st, codec);
  if (!ctx) return false;
  ctx->thread_count = threads;
  if (useHardware) {
    AVBufferRef* device = HardwareDevice();
    ctx->hw_device_ctx = device ? FF().av_buffer_ref(device) : nullptr;
    if (!ctx->hw_device_ctx) {
      FF().avcodec_free_context(&ctx);
      return false;
    }
    ctx->get_format = &HardwareFormat;
  }
  if (FF().avcodec_open2(ctx, codec, nullptr) < 0) {
    Log("ffmpeg: Error while opening codec for input file stream");
    FF().avcodec_free_context(&ctx);
    return false;
  }
  // Only an opened decoder knows its rate when the stream gives no average.
  const AVRational avg = st->avg_frame_rate, real = st->r_frame_rate;
  if ((avg.num == 0 || avg.den == 0) && ctx->framerate.den == real.den &&
      std::int64_t(ctx->framerate.num) == std::int64_t(real.num) * ctx->ticks_per_frame && ctx->framerate.num != 0) {
    rateNum_ = ctx->framerate.num;
    rateDen_ = ctx->framerate.den;
  }
  input_->Codec = ctx;
  return true;
}

void TFFMpegVideo::LatchHardware() {
  if (hardwareLatched_) return;
  hardwareLatched_ = true;
  hardwareInUse_ = hardwareWanted_;
}

bool TFFMpegVideo::DecodeNext(std::int64_t targetTime) {
  current_ = nullptr;
  props_.Valid = false;
  if (!input_ || !input_->IsOpen()) return false;
  LatchHardware();
  if (input_->AtEnd() && input_->ReadExhausted()) return false;
  if (decoderFailed_) return false;
  if (!input_->Codec) {
    if (SelectStream(-1) < 0 || !OpenDecoder()) {
      decoderFailed_ = true;
      return false;
    }
  }
  if (!decoded_) decoded_ = FF().av_frame_alloc();
  if (!transfer_) transfer_ = FF().av_frame_alloc();
  if (!decoded_ || !transfer_) return false;
  AVCodecContext* ctx = input_->Codec;
  const AVStream* st = input_->Format()->streams[streamIndex_];
  for (;;) {
    if (!input_->ReadPacket()) return false;
    const int r = FF().avcodec_receive_frame(ctx, decoded_);
    if (r == AVERROR(EAGAIN)) {
      input_->DropPacket();
      continue;
    }
    if (r == AVERROR_EOF) {
      input_->DropPacket();
      input_->SetAtEnd();
      return false;
    }
    if (r < 0) return false;
    break;
  }
  // The frame's time: its own, else the packet's, else carried on from the
  // two frames before it.
  const AVPacket* pkt = input_->Packet();
  std::int64_t ts = decoded_->best_effort_timestamp;
  if (ts == AV_NOPTS_VALUE && pkt) ts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
  std::int64_t t;
  if (ts != AV_NOPTS_VALUE) {
    if (st->start_time != AV_NOPTS_VALUE) ts = SatSub(ts, st->start_time);
    t = FF().av_rescale_q(ts, SafeTimeBase(st->time_base), AV_TIME_BASE_Q);
  } else if (input_->LastFrameTime != AV_NOPTS_VALUE && input_->PrevFrameTime != AV_NOPTS_VALUE) {
    t = Clamp64(__int128(2) * input_->LastFrameTime - input_->PrevFrameTime);
  } else if (input_->LastFrameTime != AV_NOPTS_VALUE) {
    t = SatAdd(input_->LastFrameTime,
               rateNum_ > 0 && rateDen_ > 0 ? std::int64_t(1000000) * rateDen_ / rateNum_ : 40000);
  } else {
    t = 0;
  }
  input_->PrevFrameTime = input_->LastFrameTime;
  input_->LastFrameTime = t;
  frameTime_ = t;
  if (t < targetTime) {
    FF().av_frame_unref(decoded_);
    return true;
  }
  AVFrame* frame = decoded_;
  if (hardwareInUse_ && decoded_->format == HardwarePixelFormat() && decoded_->format != AV_PIX_FMT_NONE) {
    FF().av_frame_unref(transfer_);
    if (FF().av_hwframe_transfer_data(transfer_, decoded_, 0) < 0) return false;
    frame = transfer_;
  }
  current_ = frame;
  props_.PixelFormat = frame->format;
  props_.Width = frame->width;
  props_.Height = frame->height;
  props_.KeyFrame = frame->key_frame != 0;
  props_.Interlaced = frame->interlaced_frame != 0;
  props_.TopFieldFirst = frame->top_field_first != 0;
  props_.PictureType = frame->pict_type;
  props_.Pts = pkt ? pkt->pts : AV_NOPTS_VALUE;
  props_.Dts = pkt ? pkt->dts : AV_NOPTS_VALUE;
  props_.StreamIndex = streamIndex_;
  props_.PacketDuration = decoded_->pkt_duration;
  props_.Valid = true;
  return true;
}

bool TFFMpegVideo::SeekTime(std::int64_t time) {
  if (!input_ || !input_->IsOpen()) return false;
  LatchHardware();
  if (streamIndex_ < 0 && SelectStream(-1) < 0) return false;
  const bool sought = input_->Seek(input_->Codec, streamIndex_, std::max<std::int64_t>(time, 0));
  ResetFrame();
  if (!sought) return false;
  time = std::clamp<std::int64_t>(time, -kMaxSeekUs, kMaxSeekUs);
  const std::int64_t d = frameCount_ > 0 ? durationUs_ / frameCount_ : 1;
  const std::int64_t target = time - d / 2;
  for (;;) {
    if (!DecodeNext(target)) return false;
    if (input_->AtEnd()) return true;
    if (time <= 0 && current_) return true;
    if (current_ && frameTime_ > target) return true;
  }
}

bool TFFMpegVideo::SkipTo(std::int64_t time) {
  if (!input_ || !input_->IsOpen() || !input_->Codec) return false;
  time = std::clamp<std::int64_t>(time, -kMaxSeekUs, kMaxSeekUs);
  const std::int64_t d = frameCount_ > 0 ? durationUs_ / frameCount_ : 1;
  const std::int64_t target = time - d / 2;
  for (;;) {
    if (!DecodeNext(target)) return false;
    if (input_->AtEnd()) return true;
    if (current_ && frameTime_ > target) return true;
  }
}

std::int64_t TFFMpegVideo::KeyFrameTimeBefore(std::int64_t time) const {
  if (!input_ || !input_->IsOpen() || streamIndex_ < 0) return AV_NOPTS_VALUE;
  AVFormatContext* format = input_->Format();
  if (!format || streamIndex_ >= std::int32_t(format->nb_streams)) return AV_NOPTS_VALUE;
  AVStream* st = format->streams[streamIndex_];
  const AVRational base = SafeTimeBase(st->time_base);
  std::int64_t ts = FF().av_rescale_q(std::clamp<std::int64_t>(time, 0, kMaxSeekUs), AV_TIME_BASE_Q, base);
  if (st->start_time != AV_NOPTS_VALUE) ts = SatAdd(ts, st->start_time);
  const int at = FF().av_index_search_timestamp(st, ts, AVSEEK_FLAG_BACKWARD);
  const AVIndexEntry* e = at >= 0 ? FF().avformat_index_get_entry(st, at) : nullptr;
  if (!e || e->timestamp == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
  std::int64_t key = e->timestamp;
  if (st->start_time != AV_NOPTS_VALUE) key = SatSub(key, st->start_time);
  return FF().av_rescale_q(key, base, AV_TIME_BASE_Q);
}

bool TFFMpegVideo::AtEnd() const { return input_ && input_->AtEnd() && input_->ReadExhausted(); }

bool TFFMpegVideo::IsHardwareCandidate() const {
  const std::int32_t id = info_.CodecId;
  if (id != AV_CODEC_ID_H264 && id != AV_CODEC_ID_VP9 && id != AV_CODEC_ID_HEVC) return false;
  const double fps = info_.RateNum > 0 && info_.RateDen > 0 ? std::round(double(info_.RateNum) / info_.RateDen) : 30;
  return double(info_.Width) * info_.Height * fps > 30000000.0;
}

bool TFFMpegVideo::IsThreadCandidate() const {
  const std::int32_t id = info_.CodecId;
  return id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_VP9 || id == AV_CODEC_ID_HEVC || id == AV_CODEC_ID_AV1;
}

const AVFrame* TFFMpegVideo::CurrentFrame() const { return current_; }
const TFFFrameProps& TFFMpegVideo::FrameProps() const { return props_; }
std::int64_t TFFMpegVideo::FrameTime() const { return frameTime_; }
const TFFStreamInfo& TFFMpegVideo::StreamInfo() const { return info_; }
std::int64_t TFFMpegVideo::FrameCount() const { return frameCount_; }
std::int64_t TFFMpegVideo::DurationUs() const { return durationUs_; }
std::int32_t TFFMpegVideo::StreamCount() const { return streamCount_; }
std::int32_t TFFMpegVideo::VideoStreamCount() const { return videoCount_; }
std::int32_t TFFMpegVideo::RateNum() const { return rateNum_ ? rateNum_ : info_.RateNum; }
std::int32_t TFFMpegVideo::RateDen() const { return rateNum_ ? rateDen_ : info_.RateDen; }
void TFFMpegVideo::SetHardwareWanted(bool on) { hardwareWanted_ = on; }
void TFFMpegVideo::SetThreadCount(std::int32_t count) { threadsAsked_ = count; }
bool TFFMpegVideo::HardwareInUse() const { return hardwareInUse_; }
const WideString& TFFMpegVideo::HardwareStatus() const { return hardwareStatus_; }
TFFAVStream* TFFMpegVideo::Input() const { return input_; }

// ---- TFFMpegAudio -------------------------------------------------------------------

TFFMpegAudio::TFFMpegAudio(std::int32_t outChannels, std::int32_t outSampleRate, std::int32_t outSampleFormat)
    : askedChannels_(outChannels), askedRate_(outSampleRate), askedFormat_(outSampleFormat) {
  input_ = new TFFAVStream;
  input_->Kind = 2;
}

void TFFMpegAudio::Dispose() {
  Close();
  if (input_) input_->Free();
  input_ = nullptr;
  TRefObject::Dispose();
}

void TFFMpegAudio::DropDecoded() {
  decodedBytes_.clear();
  decodedTime_ = AV_NOPTS_VALUE;
  pending_ = false;
}

void TFFMpegAudio::Close() {
  if (input_) input_->Close();
  if (resampler_) FF().swr_free(&resampler_);
  resampler_ = nullptr;
  if (resampleBuffer_) FF().av_freep(&resampleBuffer_);
  resampleBuffer_ = nullptr;
  resampleSize_ = 0;
  if (frame_) FF().av_frame_free(&frame_);
  frame_ = nullptr;
  if (outLayout_.nb_channels) FF().av_channel_layout_uninit(&outLayout_);
  if (srcLayout_.nb_channels) FF().av_channel_layout_uninit(&srcLayout_);
  outLayout_ = AVChannelLayout{};
  srcLayout_ = AVChannelLayout{};
  srcRate_ = 0;
  srcFormat_ = -1;
  outChannels_ = outRate_ = 0;
  outFormat_ = -1;
  DropDecoded();
  decodedBytes_.shrink_to_fit();
  streamIndex_ = -1;
  audioCount_ = 0;
  firstAudio_ = -1;
  decoderFailed_ = false;
  freshlyOpened_ = false;
  info_ = TFFStreamInfo{};
}

bool TFFMpegAudio::Open(TStream* stream, const WideString& fileName) {
  Close();
  if (!stream || !input_ || !input_->Open(stream, fileName)) return false;
  AVFormatContext* f = input_->Format();
  for (std::int32_t i = 0; i < std::int32_t(f->nb_streams); ++i) {
    if (f->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    if (audioCount_++ == 0) firstAudio_ = i;
  }
  if (firstAudio_ >= 0) FillInfo(f, firstAudio_, info_);
  freshlyOpened_ = true;
  return true;
}

std::int32_t TFFMpegAudio::SelectStream(std::int32_t index) {
  AVFormatContext* f = input_ ? input_->Format() : nullptr;
  if (!f) return -1;
  if (index < 0) index = streamIndex_ >= 0 ? streamIndex_ : firstAudio_;
  if (index < 0) {
    Log("ffmpeg: No audio stream.");
    return -1;
  }
  if (index >= std::int32_t(f->nb_streams)) {
    Log("ffmpeg: Stream index is invalid (" + std::to_string(index) + ")");
    return -1;
  }
  const AVStream* st = f->streams[index];
  if (st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) {
    Log("ffmpeg: Stream is not audio stream (" + std::to_string(index) + ")");
    return -1;
  }
  if (index == streamIndex_) return index;
  input_->CloseCodec();
  input_->DropPacket();
  DropDecoded();
  decoderFailed_ = false;
  streamIndex_ = index;
  input_->StreamIndex = index;
  input_->StreamChosen = true;
  FillInfo(f, index, info_);
  // The output format: what the creator asked, the stream's own where it gave none.
  const AVCodecParameters* par = st->codecpar;
  outChannels_ = askedChannels_ > 0 ? askedChannels_ : par->ch_layout.nb_channels;
  outRate_ = askedRate_ > 0 ? askedRate_ : par->sample_rate;
  // Output is interleaved: a planar format is given in its packed form.
  outFormat_ = PackedFormat(AVSampleFormat(askedFormat_ >= 0 ? askedFormat_ : par->format));
  if (outLayout_.nb_channels) FF().av_channel_layout_uninit(&outLayout_);
  if (askedChannels_ <= 0 && par->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC && par->ch_layout.nb_channels > 0) {
    if (FF().av_channel_layout_copy(&outLayout_, &par->ch_layout) < 0) outLayout_ = AVChannelLayout{};
  } else if (outChannels_ > 0) {
    FF().av_channel_layout_default(&outLayout_, outChannels_);
  }
  return index;
}

bool TFFMpegAudio::OpenDecoder() {
  if (input_->Codec) return true;
  const AVStream* st = input_->Format()->streams[streamIndex_];
  const AVCodec* codec = FF().avcodec_find_decoder(st->codecpar->codec_id);
  if (!codec) {
    Log("ffmpeg: Unsupported codec (id=" + std::to_string(int(st->codecpar->codec_id)) +
        ") for input file stream #" + std::to_string(streamIndex_));
    return false;
  }
  AVCodecContext* ctx = NewCodecContext(st, codec);
  if (!ctx || FF().avcodec_open2(ctx, codec, nullptr) < 0) {
    Log("ffmpeg: Error while opening codec for input file stream #" + std::to_string(streamIndex_));
    if (ctx) FF().avcodec_free_context(&ctx);
    return false;
  }
  input_->Codec = ctx;
  return true;
}

bool TFFMpegAudio::AppendFrame(const AVFrame* frame) {
  const int channels = frame->ch_layout.nb_channels;
  if (channels <= 0 || frame->nb_samples <= 0 || frame->sample_rate <= 0) return true;
  if (channels > kMaxChannels || frame->sample_rate > kMaxSampleRate) return false;
  if (outChannels_ <= 0 || outChannels_ > kMaxChannels || outRate_ <= 0 || outRate_ > kMaxSampleRate ||
      outFormat_ < 0)
    return false;
  AVChannelLayout layout{};
  if (frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) {
    if (FF().av_channel_layout_copy(&layout, &frame->ch_layout) < 0) return false;
  } else {
    FF().av_channel_layout_default(&layout, channels);
  }
  const bool same = srcLayout_.nb_channels && FF().av_channel_layout_compare(&layout, &srcLayout_) == 0 &&
                    srcFormat_ == frame->format && srcRate_ == frame->sample_rate;
  if (!same) {
    if (resampler_) FF().swr_free(&resampler_);
    resampler_ = nullptr;
    if (srcLayout_.nb_channels) FF().av_channel_layout_uninit(&srcLayout_);
    srcLayout_ = layout;
    layout = AVChannelLayout{};
    srcFormat_ = frame->format;
    srcRate_ = frame->sample_rate;
  } else {
    FF().av_channel_layout_uninit(&layout);
  }
  const int outBytesPerSample = FF().av_get_bytes_per_sample(AVSampleFormat(outFormat_));
  if (outBytesPerSample <= 0) return false;
  const bool passThrough = FF().av_channel_layout_compare(&srcLayout_, &outLayout_) == 0 &&
                           srcFormat_ == outFormat_ && srcRate_ == outRate_;
  if (passThrough) {
    const int size =
        FF().av_samples_get_buffer_size(nullptr, channels, frame->nb_samples, AVSampleFormat(srcFormat_), 1);
    if (size < 0) return false;
    decodedBytes_.insert(decodedBytes_.end(), frame->extended_data[0], frame->extended_data[0] + size);
    return true;
  }
  if (!resampler_) {
    if (FF().swr_alloc_set_opts2(&resampler_, &outLayout_, AVSampleFormat(outFormat_), outRate_, &srcLayout_,
                                 AVSampleFormat(srcFormat_), srcRate_, 0, nullptr) < 0 ||
        FF().swr_init(resampler_) < 0) {
      Log("ffmpeg: swr_init() failed");
      Log("ffmpeg: Can not resample");
      if (resampler_) FF().swr_free(&resampler_);
      resampler_ = nullptr;
      return false;
    }
  }
  const std::int64_t room = std::int64_t(frame->nb_samples) * outRate_ / srcRate_ + 256;
  const std::int64_t bytes = room * outChannels_ * outBytesPerSample;
  if (bytes > INT32_MAX) return false;
  FF().av_fast_malloc(&resampleBuffer_, &resampleSize_, std::size_t(bytes));
  if (!resampleBuffer_) {
    resampleSize_ = 0;
    Log("ffmpeg: av_fast_malloc() failed");
    return false;
  }
  std::uint8_t* out[1] = {resampleBuffer_};
  const int n = FF().swr_convert(resampler_, out, int(room), const_cast<const std::uint8_t**>(frame->extended_data),
                                 frame->nb_samples);
  if (n < 0) {
    Log("ffmpeg: swr_convert() failed");
    return false;
  }
  if (n >= room) FF().swr_init(resampler_);
  decodedBytes_.insert(decodedBytes_.end(), resampleBuffer_,
                       resampleBuffer_ + std::size_t(n) * std::size_t(outChannels_) * std::size_t(outBytesPerSample));
  return true;
}

bool TFFMpegAudio::DecodeNext() {
  if (pending_) {
    pending_ = false;
    return true;
  }
  DropDecoded();
  if (!input_ || !input_->IsOpen() || decoderFailed_) return false;
  freshlyOpened_ = false;
  if (input_->AtEnd() && input_->ReadExhausted()) return false;
  if (!input_->Codec) {
    if (SelectStream(-1) < 0 || !OpenDecoder()) {
      decoderFailed_ = true;
      return false;
    }
  }
  if (!frame_) frame_ = FF().av_frame_alloc();
  if (!frame_) return false;
  AVCodecContext* ctx = input_->Codec;
  const AVStream* st = input_->Format()->streams[streamIndex_];
  bool got = false;
  for (;;) {
    if (!input_->ReadPacket()) return got;
    const int r = FF().avcodec_receive_frame(ctx, frame_);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) {
      input_->DropPacket();
      if (r == AVERROR_EOF) input_->SetAtEnd();
      if (got || r == AVERROR_EOF) return got;
      continue;
    }
    if (r < 0) return got;
    if (!got) {
      std::int64_t ts = frame_->best_effort_timestamp;
      if (ts != AV_NOPTS_VALUE) {
        if (st->start_time != AV_NOPTS_VALUE) ts = SatSub(ts, st->start_time);
        decodedTime_ = FF().av_rescale_q(ts, SafeTimeBase(st->time_base), AV_TIME_BASE_Q);
      } else if (input_->LastFrameTime != AV_NOPTS_VALUE) {
        decodedTime_ = input_->LastFrameTime;
      } else {
        decodedTime_ = 0;
      }
    }
    const bool ok = AppendFrame(frame_);
    FF().av_frame_unref(frame_);
    if (!ok) return false;
    got = true;
    // Where the next packet's audio begins when it carries no time.
    if (outRate_ > 0 && outChannels_ > 0) {
      const int bps = FF().av_get_bytes_per_sample(AVSampleFormat(outFormat_));
      if (bps > 0)
        input_->LastFrameTime = SatAdd(
            decodedTime_, std::int64_t(decodedBytes_.size() / std::size_t(bps * outChannels_)) * 1000000 / outRate_);
    }
  }
}

bool TFFMpegAudio::SeekTime(std::int64_t time) {
  if (!input_ || !input_->IsOpen()) return false;
  if (streamIndex_ < 0 && SelectStream(-1) < 0) return false;
  time = std::clamp<std::int64_t>(time, 0, kMaxSeekUs);
  // A decoder needs the sound before the place (an overlap, a bit
  // reservoir, the codec's own pre-roll): decoding starts that much earlier,
  // before the stream's start at the place 0, where the priming samples
  // lie, and everything before the place is dropped by the frames' times.
  const AVCodecParameters* par = input_->Format()->streams[streamIndex_]->codecpar;
  std::int64_t preroll = kAudioPrerollUs;
  if (par->seek_preroll > 0 && par->sample_rate > 0)
    preroll = std::max(preroll, std::int64_t(par->seek_preroll) * 1000000 / par->sample_rate);
  const bool fresh = freshlyOpened_;
  // Just opened, the input stands at its start, where a place within the
  // pre-roll is decoded from (a demuxer that cannot seek a file of one
  // frame would be left at its end).
  bool sought = fresh && time < preroll;
  if (!sought) sought = input_->Seek(input_->Codec, streamIndex_, time - preroll);
  // A demuxer that finds nothing before its start: from the start.
  if (!sought && time < preroll) sought = input_->Seek(input_->Codec, streamIndex_, 0);
  DropDecoded();
  if (!sought && !(time == 0 && fresh)) return false;
  const int bps = outFormat_ >= 0 ? FF().av_get_bytes_per_sample(AVSampleFormat(outFormat_)) : 0;
  // A chunk's own time may be off by part of a block (Vorbis gives the
  // chunk after a change of block size a time that differs from where its
  // samples lie): the chunks are counted on from the first one, and the
  // count is placed by the middle of the chunks' differences from it.
  std::int64_t first = 0, counted = 0;
  std::vector<std::int64_t> offsets;
  for (;;) {
    if (!DecodeNext()) return input_->AtEnd();
    if (bps <= 0 || outChannels_ <= 0 || outRate_ <= 0) continue;
    const std::size_t frameBytes = std::size_t(bps) * std::size_t(outChannels_);
    const std::int64_t samples = std::int64_t(decodedBytes_.size() / frameBytes);
    if (offsets.empty()) first = decodedTime_;
    const std::int64_t at = SatAdd(first, Clamp64(__int128(counted) * 1000000 / outRate_));
    offsets.push_back(SatSub(decodedTime_, at));
    counted += samples;
    std::vector<std::int64_t> sorted = offsets;
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2), sorted.end());
    const std::int64_t start = SatAdd(at, sorted[sorted.size() / 2]);
    const std::int64_t end = SatAdd(start, samples * 1000000 / outRate_);
    if (end <= time) continue;
    // The chunk that reaches the time: what lies before it goes, to the
    // nearest sample.
    const std::int64_t skip = std::clamp<std::int64_t>(
        Clamp64((__int128(SatSub(time, start)) * outRate_ + 500000) / 1000000), 0, samples);
    decodedBytes_.erase(decodedBytes_.begin(), decodedBytes_.begin() + std::ptrdiff_t(skip * std::int64_t(frameBytes)));
    decodedTime_ = SatAdd(start, skip * 1000000 / outRate_);
    pending_ = true;
    return true;
  }
}

const std::uint8_t* TFFMpegAudio::Decoded() const { return decodedBytes_.empty() ? nullptr : decodedBytes_.data(); }
std::int32_t TFFMpegAudio::DecodedSize() const { return std::int32_t(decodedBytes_.size()); }
std::int64_t TFFMpegAudio::DecodedTime() const { return decodedTime_; }
bool TFFMpegAudio::HasStream() const { return firstAudio_ >= 0; }
std::int32_t TFFMpegAudio::AudioStreamCount() const { return audioCount_; }
const TFFStreamInfo& TFFMpegAudio::StreamInfo() const { return info_; }
std::int32_t TFFMpegAudio::OutChannels() const {
  return outChannels_ > 0 ? outChannels_ : (askedChannels_ > 0 ? askedChannels_ : info_.Channels);
}
std::int32_t TFFMpegAudio::OutSampleRate() const {
  return outRate_ > 0 ? outRate_ : (askedRate_ > 0 ? askedRate_ : info_.SampleRate);
}
std::int32_t TFFMpegAudio::OutSampleFormat() const {
  if (outFormat_ >= 0) return outFormat_;
  return PackedFormat(AVSampleFormat(askedFormat_ >= 0 ? askedFormat_ : info_.SampleFormat));
}
TFFAVStream* TFFMpegAudio::Input() const { return input_; }

}  // namespace zm
