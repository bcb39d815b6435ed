// The Windows Media Audio decoder plug-in over FFmpeg: the ASF container with
// WMA 1, WMA 2, WMA Pro or WMA Lossless in it. FFmpeg reads the file through
// the player's stream procedures only.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "ZmLib/Music/oru_plugin.h"

namespace {

constexpr int kIoBufferBytes = 32768;
constexpr int kMinRate = 1000;
constexpr int kMaxRate = 768000;
// A frame without a time stamp.
constexpr std::int64_t kUnknownTime = INT64_MIN;
// Decode failures in a row before the rest of the stream is given up.
constexpr int kMaxErrors = 64;

struct TSource {
  void* Stream;
  const OruStreamCallbacks* Callbacks;
};

// The player's procedures may raise (a failing file); that must not cross FFmpeg.
int ReadProc(void* opaque, std::uint8_t* buffer, int size) {
  auto* s = static_cast<TSource*>(opaque);
  if (size <= 0) return AVERROR_EOF;
  try {
    const std::int32_t n = s->Callbacks->Read(s->Stream, buffer, size);
    // FFmpeg needs an explicit end: 0 bytes would leave its end flag clear.
    if (n <= 0 || n > size) return AVERROR_EOF;
    return n;
  } catch (...) {
    return AVERROR(EIO);
  }
}

std::int64_t SeekProc(void* opaque, std::int64_t offset, int whence) {
  auto* s = static_cast<TSource*>(opaque);
  try {
    if (whence & AVSEEK_SIZE) return s->Callbacks->GetSize64(s->Stream);
    std::int64_t r = -1;
    switch (whence & ~AVSEEK_FORCE) {
      case SEEK_SET:
        if (offset < 0) return AVERROR(EINVAL);
        r = s->Callbacks->Seek64(s->Stream, offset, 0);
        break;
      case SEEK_CUR:
        r = s->Callbacks->Seek64(s->Stream, offset, 1);
        break;
      case SEEK_END:
        if (offset == INT64_MIN) return AVERROR(EINVAL);
        r = s->Callbacks->Seek64(s->Stream, -offset, 2);
        break;
      default:
        return AVERROR(EINVAL);
    }
    return r < 0 ? AVERROR(EIO) : r;
  } catch (...) {
    return AVERROR(EIO);
  }
}

bool IsWma(AVCodecID id) {
  return id == AV_CODEC_ID_WMAV1 || id == AV_CODEC_ID_WMAV2 || id == AV_CODEC_ID_WMAPRO ||
         id == AV_CODEC_ID_WMALOSSLESS;
}

// Stereo at most, except 5.1, which the player folds itself.
int OutputChannels(int channels) { return channels == 6 ? 6 : channels > 2 ? 2 : channels; }

class TWma {
public:
  TWma(void* stream, const OruStreamCallbacks* callbacks) : source_{stream, callbacks} {}
  ~TWma() { Close(); }

  bool Open();
  // Decodes the first frame ahead: its time is where the stream's audio begins.
  void Prime();
  bool Decode(int& written);
  bool Seek(std::int32_t& ms);

  std::int32_t DurationMs() const;
  int Channels() const { return outChannels_; }
  int Rate() const { return rate_; }

  OruWriteProc Write = nullptr;
  void* Target = nullptr;

private:
  void Close();
  bool Convert(AVFrame* frame);
  // The next decoded frame in frame_; false at the end.
  bool NextFrame();
  std::int64_t FrameSample(const AVFrame* frame) const;
  // Its time stamp, else where the last frame ended.
  std::int64_t TimeOf(const AVFrame* frame) const {
    const std::int64_t t = FrameSample(frame);
    return t == kUnknownTime ? next_ : t;
  }

  TSource source_;
  AVFormatContext* format_ = nullptr;
  AVIOContext* io_ = nullptr;
  AVCodecContext* codec_ = nullptr;
  SwrContext* swr_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVStream* stream_ = nullptr;
  AVChannelLayout inLayout_{};
  int inFormat_ = -1;
  int outChannels_ = 0;
  int rate_ = 0;
  bool draining_ = false;
  bool ended_ = false;
  // Samples before this one are dropped (after a seek); -1 none.
  std::int64_t skipTo_ = -1;
  // The time stamp of the first sample decoded from the start, in samples:
  // decoders may stamp their first frame later than 0.
  std::int64_t origin_ = 0;
  // Where the last converted frame ended, in samples (kUnknownTime after a seek).
  std::int64_t next_ = 0;
  std::vector<std::uint8_t> pending_;
};

void TWma::Close() {
  av_frame_free(&frame_);
  av_packet_free(&packet_);
  swr_free(&swr_);
  av_channel_layout_uninit(&inLayout_);
  avcodec_free_context(&codec_);
  if (format_) avformat_close_input(&format_);
  if (io_) {
    // FFmpeg may have replaced the buffer it was given.
    av_freep(&io_->buffer);
    avio_context_free(&io_);
  }
}

bool TWma::Open() {
  try {
    if (source_.Callbacks->Seek64(source_.Stream, 0, 0) != 0) return false;
  } catch (...) {
    return false;
  }
  auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferBytes));
  if (!buffer) return false;
  io_ = avio_alloc_context(buffer, kIoBufferBytes, 0, &source_, ReadProc, nullptr, SeekProc);
  if (!io_) {
    av_free(buffer);
    return false;
  }
  format_ = avformat_alloc_context();
  if (!format_) return false;
  format_->pb = io_;
  format_->flags |= AVFMT_FLAG_CUSTOM_IO;
  // On failure FFmpeg frees the context and clears the pointer.
  if (avformat_open_input(&format_, "", av_find_input_format("asf"), nullptr) < 0) return false;
  if (avformat_find_stream_info(format_, nullptr) < 0) return false;
  for (unsigned i = 0; i < format_->nb_streams && !stream_; ++i) {
    AVStream* st = format_->streams[i];
    if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && IsWma(st->codecpar->codec_id)) stream_ = st;
  }
  if (!stream_) return false;
  const AVCodec* decoder = avcodec_find_decoder(stream_->codecpar->codec_id);
  if (!decoder) return false;
  codec_ = avcodec_alloc_context3(decoder);
  if (!codec_ || avcodec_parameters_to_context(codec_, stream_->codecpar) < 0) return false;
  codec_->pkt_timebase = stream_->time_base;
  if (avcodec_open2(codec_, decoder, nullptr) < 0) return false;
  rate_ = codec_->sample_rate;
  outChannels_ = OutputChannels(codec_->ch_layout.nb_channels);
  if (rate_ < kMinRate || rate_ > kMaxRate || outChannels_ < 1) return false;
  packet_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  return packet_ && frame_;
}

std::int32_t TWma::DurationMs() const {
  std::int64_t us = AV_NOPTS_VALUE;
  if (format_ && format_->duration != AV_NOPTS_VALUE && format_->duration > 0) {
    us = format_->duration;
  } else if (stream_ && stream_->duration != AV_NOPTS_VALUE && stream_->duration > 0) {
    us = av_rescale_q(stream_->duration, stream_->time_base, AVRational{1, 1000000});
  }
  if (us == AV_NOPTS_VALUE) return 0;
  const std::int64_t ms = (us + 500) / 1000;
  return ms > INT32_MAX ? INT32_MAX : std::int32_t(ms);
}

std::int64_t TWma::FrameSample(const AVFrame* frame) const {
  std::int64_t ts = frame->best_effort_timestamp;
  if (ts == AV_NOPTS_VALUE) ts = frame->pts;
  if (ts == AV_NOPTS_VALUE) return kUnknownTime;
  if (stream_->start_time != AV_NOPTS_VALUE) ts -= stream_->start_time;
  return av_rescale_q(ts, stream_->time_base, AVRational{1, rate_}) - origin_;
}

void TWma::Prime() {
  if (!NextFrame()) return;
  const std::int64_t first = FrameSample(frame_);
  if (first != kUnknownTime && first > 0) origin_ = first;
  if (!Convert(frame_)) ended_ = true;
  av_frame_unref(frame_);
}

bool TWma::NextFrame() {
  int errors = 0;
  while (!ended_) {
    const int r = avcodec_receive_frame(codec_, frame_);
    if (r == 0) return true;
    if (r == AVERROR_EOF) break;
    if (r != AVERROR(EAGAIN)) {
      if (++errors >= kMaxErrors) break;
      continue;
    }
    if (draining_) break;
    const int got = av_read_frame(format_, packet_);
    if (got < 0) {
      draining_ = true;
      avcodec_send_packet(codec_, nullptr);
      continue;
    }
    if (packet_->stream_index == stream_->index && avcodec_send_packet(codec_, packet_) < 0 &&
        ++errors >= kMaxErrors) {
      av_packet_unref(packet_);
      break;
    }
    av_packet_unref(packet_);
  }
  ended_ = true;
  return false;
}

// Appends the frame as 16-bit interleaved PCM to pending_, less what a seek drops.
bool TWma::Convert(AVFrame* frame) {
  if (frame->nb_samples <= 0 || frame->sample_rate != rate_) return frame->nb_samples <= 0;
  AVChannelLayout layout{};
  if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame->ch_layout.nb_channels <= 0) {
    av_channel_layout_default(&layout, frame->ch_layout.nb_channels > 0 ? frame->ch_layout.nb_channels
                                                                        : codec_->ch_layout.nb_channels);
  } else if (av_channel_layout_copy(&layout, &frame->ch_layout) < 0) {
    return false;
  }
  if (!swr_ || frame->format != inFormat_ || av_channel_layout_compare(&layout, &inLayout_) != 0) {
    swr_free(&swr_);
    av_channel_layout_uninit(&inLayout_);
    inLayout_ = layout;
    layout = AVChannelLayout{};
    inFormat_ = frame->format;
    AVChannelLayout out{};
    av_channel_layout_default(&out, outChannels_);
    const int r = swr_alloc_set_opts2(&swr_, &out, AV_SAMPLE_FMT_S16, rate_, &inLayout_,
                                      AVSampleFormat(inFormat_), rate_, 0, nullptr);
    av_channel_layout_uninit(&out);
    if (r < 0 || swr_init(swr_) < 0) {
      swr_free(&swr_);
      inFormat_ = -1;
      return false;
    }
  }
  av_channel_layout_uninit(&layout);
  const int capacity = frame->nb_samples + int(swr_get_delay(swr_, rate_)) + 32;
  const std::size_t frameBytes = std::size_t(outChannels_) * 2;
  const std::size_t at = pending_.size();
  pending_.resize(at + std::size_t(capacity) * frameBytes);
  std::uint8_t* out = pending_.data() + at;
  const int n = swr_convert(swr_, &out, capacity, const_cast<const std::uint8_t**>(frame->extended_data),
                            frame->nb_samples);
  pending_.resize(at + (n > 0 ? std::size_t(n) * frameBytes : 0));
  const std::int64_t first = TimeOf(frame);
  next_ = first == kUnknownTime ? kUnknownTime : first + frame->nb_samples;
  if (n <= 0 || skipTo_ < 0) return n >= 0;
  // Trim the frames before the seek target.
  if (first == kUnknownTime) {
    skipTo_ = -1;
    return true;
  }
  const std::int64_t drop = skipTo_ - first;
  if (drop >= n) {
    pending_.resize(at);
  } else {
    if (drop > 0) pending_.erase(pending_.begin() + std::ptrdiff_t(at), pending_.begin() + std::ptrdiff_t(at + std::size_t(drop) * frameBytes));
    skipTo_ = -1;
  }
  return true;
}

bool TWma::Decode(int& written) {
  written = 0;
  while (pending_.empty()) {
    if (!NextFrame()) return false;
    const bool ok = Convert(frame_);
    av_frame_unref(frame_);
    if (!ok) {
      ended_ = true;
      return false;
    }
  }
  const std::size_t n = pending_.size() > std::size_t(INT32_MAX) ? std::size_t(INT32_MAX) : pending_.size();
  Write(Target, pending_.data(), std::int32_t(n));
  pending_.clear();
  written = int(n);
  return true;
}

bool TWma::Seek(std::int32_t& ms) {
  const std::int64_t want = ms < 0 ? 0 : ms;
  const std::int64_t start = stream_->start_time != AV_NOPTS_VALUE ? stream_->start_time : 0;
  const std::int32_t total = DurationMs();
  const std::int64_t target = av_rescale(want, rate_, 1000);
  if (total > 0 && want >= total) {
    // At or after the end nothing more comes.
    pending_.clear();
    ended_ = true;
    ms = total;
    return true;
  }
  // The container's seek may land after the target; then start again
  // further back (1 s, 2 s, 4 s ... before it).
  bool have = false;
  for (int attempt = 0; attempt < 8 && !have; ++attempt) {
    const std::int64_t back = attempt == 0 ? 0 : std::int64_t(rate_) << (attempt - 1);
    const std::int64_t from = target > back ? target - back : 0;
    const std::int64_t ts = start + av_rescale_q(from + origin_, AVRational{1, rate_}, stream_->time_base);
    if (av_seek_frame(format_, stream_->index, ts, AVSEEK_FLAG_BACKWARD) < 0) {
      if (attempt == 0) return false;
      break;
    }
    avcodec_flush_buffers(codec_);
    if (swr_) {
      swr_free(&swr_);
      inFormat_ = -1;
    }
    pending_.clear();
    draining_ = ended_ = false;
    next_ = kUnknownTime;
    if (!NextFrame()) break;
    const std::int64_t first = FrameSample(frame_);
    have = first == kUnknownTime || first <= target || from == 0 || attempt == 7;
    if (!have) av_frame_unref(frame_);
  }
  // Decode up to the target so that the position reached is known.
  skipTo_ = target;
  std::int64_t reached = -1;
  while (have) {
    const std::int64_t first = TimeOf(frame_);
    const bool ok = Convert(frame_);
    av_frame_unref(frame_);
    if (!ok) break;
    if (!pending_.empty()) {
      reached = first == kUnknownTime ? target : first > target ? first : target;
      break;
    }
    have = NextFrame();
  }
  skipTo_ = -1;
  if (reached < 0) {
    // Past the end: nothing more comes.
    pending_.clear();
    ended_ = true;
    ms = total > 0 && total < ms ? total : ms;
    return true;
  }
  const std::int64_t atMs = av_rescale(reached, 1000, rate_);
  ms = atMs > INT32_MAX ? INT32_MAX : std::int32_t(atMs);
  return true;
}

}  // namespace

extern "C" {

ORU_EXPORT int32_t GetMediaInfo(void* stream, const OruStreamCallbacks* callbacks, int32_t* durationMs,
                                int32_t* dataOffset, OruWaveFormatEx* format) {
  if (!stream || !callbacks || !durationMs || !dataOffset || !format) return 0;
  auto* w = new (std::nothrow) TWma(stream, callbacks);
  if (!w) return 0;
  int32_t answer = 0;
  if (w->Open()) {
    *durationMs = w->DurationMs();
    *dataOffset = 0;
    std::memset(format, 0, sizeof *format);
    format->wFormatTag = 1;
    format->nChannels = uint16_t(w->Channels());
    format->nSamplesPerSec = uint32_t(w->Rate());
    format->wBitsPerSample = 16;
    format->nBlockAlign = uint16_t(w->Channels() * 2);
    format->nAvgBytesPerSec = format->nSamplesPerSec * format->nBlockAlign;
    answer = 1;
  }
  delete w;
  return answer;
}

ORU_EXPORT void* CreateDecoder(void* stream, const OruStreamCallbacks* callbacks, OruWriteProc write, void* target,
                               int32_t /*reserved*/) {
  if (!stream || !callbacks || !write) return nullptr;
  auto* w = new (std::nothrow) TWma(stream, callbacks);
  if (!w) return nullptr;
  if (!w->Open()) {
    delete w;
    return nullptr;
  }
  w->Write = write;
  w->Target = target;
  w->Prime();
  return w;
}

ORU_EXPORT void DestroyDecoder(void* decoder) { delete static_cast<TWma*>(decoder); }

ORU_EXPORT int32_t Decode(void* decoder) {
  auto* w = static_cast<TWma*>(decoder);
  if (!w) return 0;
  try {
    int written = 0;
    return w->Decode(written) ? written : 0;
  } catch (...) {
    return 0;
  }
}

ORU_EXPORT int32_t SetPosition(void* decoder, int32_t* ms) {
  auto* w = static_cast<TWma*>(decoder);
  if (!w || !ms) return 0;
  try {
    return w->Seek(*ms) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
