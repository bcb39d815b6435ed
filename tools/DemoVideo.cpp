#include "tools/DemoVideo.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

namespace oru {

namespace {

// The MP4 muxer goes back to patch sizes and to write its index: an output
// that can seek, kept in memory.
struct TMemoryOut {
  std::string Bytes;
  std::size_t At = 0;

  static int Write(void* opaque, std::uint8_t* data, int size) {
    auto* o = static_cast<TMemoryOut*>(opaque);
    if (size < 0) return AVERROR(EINVAL);
    const std::size_t n = std::size_t(size);
    if (o->At + n > o->Bytes.size()) o->Bytes.resize(o->At + n);
    std::memcpy(o->Bytes.data() + o->At, data, n);
    o->At += n;
    return size;
  }
  static std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
    auto* o = static_cast<TMemoryOut*>(opaque);
    if (whence & AVSEEK_SIZE) return std::int64_t(o->Bytes.size());
    std::int64_t to = offset;
    switch (whence & ~AVSEEK_FORCE) {
      case SEEK_SET: break;
      case SEEK_CUR: to += std::int64_t(o->At); break;
      case SEEK_END: to += std::int64_t(o->Bytes.size()); break;
      default: return AVERROR(EINVAL);
    }
    if (to < 0) return AVERROR(EINVAL);
    o->At = std::size_t(to);
    return to;
  }
};

struct TEncoder {
  AVFormatContext* Format = nullptr;
  AVIOContext* Io = nullptr;
  AVCodecContext* Codec = nullptr;
  AVFrame* Frame = nullptr;
  AVPacket* Packet = nullptr;
  TMemoryOut Out;

  ~TEncoder() {
    av_packet_free(&Packet);
    av_frame_free(&Frame);
    avcodec_free_context(&Codec);
    if (Io) av_freep(&Io->buffer);
    avio_context_free(&Io);
    avformat_free_context(Format);
  }
};

void Check(int result, const char* what) {
  if (result < 0) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(result, text, sizeof text);
    throw std::runtime_error(std::string("demo video: ") + what + ": " + text);
  }
}

// Sends one frame (nil: the end) and writes every packet it gives.
void Encode(TEncoder& e, AVStream* stream, AVFrame* frame) {
  Check(avcodec_send_frame(e.Codec, frame), "send frame");
  for (;;) {
    const int r = avcodec_receive_packet(e.Codec, e.Packet);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
    Check(r, "receive packet");
    // Every frame lasts one tick: the last one too, so the clip is whole.
    if (e.Packet->duration <= 0) e.Packet->duration = 1;
    av_packet_rescale_ts(e.Packet, e.Codec->time_base, stream->time_base);
    e.Packet->stream_index = stream->index;
    Check(av_interleaved_write_frame(e.Format, e.Packet), "write packet");
  }
}

}  // namespace

int DemoVideoLuma(const TDemoVideoOptions& o, int n, int x, int y) {
  // A gradient drifting right by 4 pixels a frame.
  int v = 40 + ((x + 4 * n + y / 2) % o.Width) * 140 / o.Width;
  // A bright vertical bar sweeping across once over the clip.
  const int bar = (n * (o.Width + 24)) / std::max(1, o.Frames) - 24;
  if (x >= bar && x < bar + 24) v = 235;
  // The frame number in binary: white squares along the top.
  const int cell = std::max(4, o.Height / 16);
  if (y >= cell / 2 && y < cell / 2 + cell && x >= cell / 2) {
    const int bit = (x - cell / 2) / (cell + cell / 2);
    const int inCell = (x - cell / 2) % (cell + cell / 2);
    if (bit < 10 && inCell < cell) v = (n >> bit & 1) ? 235 : 16;
  }
  return v;
}

std::string DemoVideo(const TDemoVideoOptions& o) {
  if (o.Width < 16 || o.Width > 1920 || o.Height < 16 || o.Height > 1080 || o.Width % 2 || o.Height % 2 ||
      o.Fps < 1 || o.Fps > 60 || o.Frames < 1 || o.Frames > 1000)
    throw std::runtime_error("demo video options out of range");
  TEncoder e;
  Check(avformat_alloc_output_context2(&e.Format, nullptr, "mp4", nullptr), "output format");
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  if (!codec) throw std::runtime_error("demo video: no MPEG-4 encoder");
  AVStream* stream = avformat_new_stream(e.Format, nullptr);
  e.Codec = avcodec_alloc_context3(codec);
  e.Frame = av_frame_alloc();
  e.Packet = av_packet_alloc();
  if (!stream || !e.Codec || !e.Frame || !e.Packet) throw std::runtime_error("demo video: out of memory");

  e.Codec->width = o.Width;
  e.Codec->height = o.Height;
  e.Codec->pix_fmt = AV_PIX_FMT_YUV420P;
  e.Codec->time_base = AVRational{1, o.Fps};
  e.Codec->framerate = AVRational{o.Fps, 1};
  e.Codec->gop_size = o.Fps;
  e.Codec->max_b_frames = 0;
  e.Codec->thread_count = 1;  // the same bytes every run
  e.Codec->flags |= AV_CODEC_FLAG_BITEXACT;
  e.Codec->global_quality = FF_QP2LAMBDA * 4;
  e.Codec->flags |= AV_CODEC_FLAG_QSCALE;
  if (e.Format->oformat->flags & AVFMT_GLOBALHEADER) e.Codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  Check(avcodec_open2(e.Codec, codec, nullptr), "open encoder");
  Check(avcodec_parameters_from_context(stream->codecpar, e.Codec), "stream parameters");
  stream->time_base = e.Codec->time_base;
  e.Format->flags |= AVFMT_FLAG_BITEXACT;

  constexpr int kIoBuffer = 1 << 16;
  auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBuffer));
  if (!buffer) throw std::runtime_error("demo video: out of memory");
  e.Io = avio_alloc_context(buffer, kIoBuffer, 1, &e.Out, nullptr, &TMemoryOut::Write, &TMemoryOut::Seek);
  if (!e.Io) {
    av_free(buffer);
    throw std::runtime_error("demo video: out of memory");
  }
  e.Format->pb = e.Io;
  e.Format->flags |= AVFMT_FLAG_CUSTOM_IO;
  Check(avformat_write_header(e.Format, nullptr), "write header");

  e.Frame->format = AV_PIX_FMT_YUV420P;
  e.Frame->width = o.Width;
  e.Frame->height = o.Height;
  Check(av_frame_get_buffer(e.Frame, 0), "frame buffer");
  for (int n = 0; n < o.Frames; ++n) {
    Check(av_frame_make_writable(e.Frame), "frame writable");
    for (int y = 0; y < o.Height; ++y)
      for (int x = 0; x < o.Width; ++x)
        e.Frame->data[0][y * e.Frame->linesize[0] + x] = std::uint8_t(DemoVideoLuma(o, n, x, y));
    // Colour drifting with the frame number: blue towards red.
    for (int y = 0; y < o.Height / 2; ++y)
      for (int x = 0; x < o.Width / 2; ++x) {
        e.Frame->data[1][y * e.Frame->linesize[1] + x] = std::uint8_t(160 - n * 64 / o.Frames);
        e.Frame->data[2][y * e.Frame->linesize[2] + x] = std::uint8_t(96 + n * 64 / o.Frames);
      }
    e.Frame->pts = n;
    Encode(e, stream, e.Frame);
  }
  Encode(e, stream, nullptr);
  Check(av_write_trailer(e.Format), "write trailer");
  avio_flush(e.Io);
  return std::move(e.Out.Bytes);
}

}  // namespace oru
