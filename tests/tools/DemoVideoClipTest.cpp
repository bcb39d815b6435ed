// The demo show's video clip read back with FFmpeg's own demuxer and
// decoder: every frame is there (the last one too), each lasting one frame
// period, and each shows the pattern of its own frame number.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "tests/support/kit/TempFolder.h"
#include "tools/DemoVideo.h"

using namespace oru;

namespace {

struct TDecoded {
  double Duration = 0;  // s, as the container gives it
  AVRational Rate{0, 1};
  std::vector<std::int64_t> Pts;  // in frame periods
  std::vector<std::vector<std::uint8_t>> Luma;
  int Width = 0, Height = 0;
};

TDecoded Decode(const std::string& path) {
  TDecoded d;
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return d;
  std::unique_ptr<AVFormatContext*, void (*)(AVFormatContext**)> closeFormat(&format, avformat_close_input);
  if (avformat_find_stream_info(format, nullptr) < 0 || format->nb_streams != 1) return d;
  AVStream* stream = format->streams[0];
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  std::unique_ptr<AVCodecContext*, void (*)(AVCodecContext**)> freeCtx(&ctx, avcodec_free_context);
  if (!codec || !ctx || avcodec_parameters_to_context(ctx, stream->codecpar) < 0 ||
      avcodec_open2(ctx, codec, nullptr) < 0)
    return d;
  d.Duration = double(format->duration) / AV_TIME_BASE;
  d.Rate = stream->avg_frame_rate;
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  auto drain = [&] {
    while (avcodec_receive_frame(ctx, frame) == 0) {
      d.Width = frame->width;
      d.Height = frame->height;
      d.Pts.push_back(av_rescale_q(frame->best_effort_timestamp, stream->time_base, av_inv_q(stream->r_frame_rate)));
      std::vector<std::uint8_t> y(std::size_t(frame->width) * std::size_t(frame->height));
      for (int r = 0; r < frame->height; ++r)
        std::copy_n(frame->data[0] + r * frame->linesize[0], frame->width,
                    y.begin() + std::ptrdiff_t(r) * frame->width);
      d.Luma.push_back(std::move(y));
    }
  };
  while (av_read_frame(format, packet) >= 0) {
    if (avcodec_send_packet(ctx, packet) >= 0) drain();
    av_packet_unref(packet);
  }
  avcodec_send_packet(ctx, nullptr);
  drain();
  av_frame_free(&frame);
  av_packet_free(&packet);
  return d;
}

}  // namespace

TEST(DemoVideoClip, EveryFrameComesBackInOrderWithItsPattern) {
  TDemoVideoOptions o;
  o.Width = 96;
  o.Height = 54;
  o.Fps = 25;
  o.Frames = 30;
  zmtest::TTempFolder folder;
  const std::string path = folder.File("clip.mp4");
  const std::string bytes = DemoVideo(o);
  zmtest::WriteFileBytes(path, bytes);
  // The same bytes every run: the show packs the same way each time.
  EXPECT_EQ(DemoVideo(o), bytes);

  const TDecoded d = Decode(path);
  ASSERT_EQ(d.Luma.size(), std::size_t(o.Frames));
  EXPECT_EQ(d.Width, o.Width);
  EXPECT_EQ(d.Height, o.Height);
  EXPECT_NEAR(av_q2d(d.Rate), o.Fps, 0.01);
  // The last frame lasts its period too: the clip is as long as its frames.
  EXPECT_NEAR(d.Duration, double(o.Frames) / o.Fps, 0.001);
  for (std::size_t n = 0; n < d.Pts.size(); ++n) ASSERT_EQ(d.Pts[n], std::int64_t(n));
  // The frame counter squares and the sweeping bar tell the frames apart;
  // mean error over the picture stays within the encoder's loss.
  for (int n = 0; n < o.Frames; ++n) {
    double error = 0;
    for (int y = 0; y < o.Height; ++y)
      for (int x = 0; x < o.Width; ++x)
        error += std::abs(int(d.Luma[std::size_t(n)][std::size_t(y * o.Width + x)]) - DemoVideoLuma(o, n, x, y));
    EXPECT_LT(error / (o.Width * o.Height), 6.0) << "frame " << n;
  }
}

TEST(DemoVideoClip, OptionsOutOfRangeAreRefused) {
  for (auto bad : {TDemoVideoOptions{15, 180, 25, 75}, TDemoVideoOptions{321, 180, 25, 75},
                   TDemoVideoOptions{320, 180, 0, 75}, TDemoVideoOptions{320, 180, 25, 0},
                   TDemoVideoOptions{320, 180, 25, 1001}, TDemoVideoOptions{4000, 180, 25, 75}})
    EXPECT_THROW(DemoVideo(bad), std::runtime_error) << bad.Width << "x" << bad.Height;
}
