#pragma once
// Video clips for the tests, made with the ffmpeg program on first use and
// kept in the test suite's media folder. Numbered clips carry each frame's
// number as a row of eight black/white blocks across the top half (bit 0 at
// the left); the bottom half is mid grey. The blocks are wide and flat, so
// the number survives lossy coding and ReadFrameNumber reads it back.
// Header only (also usable from the ThreadSanitizer binary).
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "ZmLib/zmStream.h"
#include "tests/ZmLib/Music/MusicMediaKit.h"

namespace zmtest {

enum class TClip {
  NumberedMpeg4,    // mpeg4 in .avi, 64x64, 25 fps, 2 s (50 frames), key frame every 10
  NumberedH264,     // h264 in .mp4, same figures
  NumberedVp9,      // vp9 in .webm, same figures
  InterlacedH264,   // h264 in .mkv, 64x64, 25 fps, 1 s, interlaced, coded top field first (FFmpeg's
                    // decoder reports interlaced_frame 1 but top_field_first 0 for it)
  InterlacedMpeg2,  // mpeg2 in .mpg, 64x64, 25 fps, 1 s, interlaced, bottom field first
  RotatedPlus90,    // NumberedH264 with a display matrix of +90 degrees (rotation 270)
  RotatedMinus90,   // ... of -90 degrees (rotation 90)
  Bgra,             // ffvhuff in .avi, decodes to BGRA, 64x64, 25 fps, 1 s
  Nv12,             // rawvideo NV12 in .nut, 64x64, 25 fps, 1 s
  YuvJ420,          // mjpeg in .avi, full-range 4:2:0, 64x64, 25 fps, 1 s
  Yuv422,           // h264 4:2:2 in .mp4, 64x64, 25 fps, 1 s (no direct YUV path)
  RawH264,          // bare h264 elementary stream: no timestamps, no duration; 64x64, 25 fps, 1 s
  Hd30,             // h264 1280x720, 30 fps, 0.2 s (6 frames)
  Hd60,             // h264 1280x720, 60 fps, 0.2 s (12 frames)
  AudioOnly,        // aac in .m4a, 48 kHz stereo, 2 s sine of 440 Hz; no video stream
  Truncated,        // the first half of NumberedH264's bytes (index at the end: cannot open)
  NotMedia,         // a text file named .mp4
  InterlacedMpeg2Tff,  // as InterlacedMpeg2, top field first (decodes with top_field_first 1)
};

struct TClipFigures {
  int Width = 64, Height = 64;
  double Fps = 25;
  int Frames = 50;
};

inline TClipFigures ClipFigures(TClip c) {
  switch (c) {
    case TClip::NumberedMpeg4:
    case TClip::NumberedH264:
    case TClip::NumberedVp9:
    case TClip::RotatedPlus90:
    case TClip::RotatedMinus90:
    case TClip::Truncated:
      return {64, 64, 25, 50};
    case TClip::Hd30:
      return {1280, 720, 30, 6};
    case TClip::Hd60:
      return {1280, 720, 60, 12};
    case TClip::AudioOnly:
    case TClip::NotMedia:
      return {0, 0, 0, 0};
    default:
      return {64, 64, 25, 25};
  }
}

inline const char* ClipFileName(TClip c) {
  switch (c) {
    case TClip::NumberedMpeg4: return "num_mpeg4.avi";
    case TClip::NumberedH264: return "num_h264.mp4";
    case TClip::NumberedVp9: return "num_vp9.webm";
    case TClip::InterlacedH264: return "int_h264_tff.mkv";
    case TClip::InterlacedMpeg2: return "int_mpeg2_bff.mpg";
    case TClip::RotatedPlus90: return "rot_plus90.mp4";
    case TClip::RotatedMinus90: return "rot_minus90.mp4";
    case TClip::Bgra: return "bgra.avi";
    case TClip::Nv12: return "nv12.nut";
    case TClip::YuvJ420: return "yuvj420.avi";
    case TClip::Yuv422: return "yuv422.mp4";
    case TClip::RawH264: return "raw.h264";
    case TClip::Hd30: return "hd30.mp4";
    case TClip::Hd60: return "hd60.mp4";
    case TClip::AudioOnly: return "audio.m4a";
    case TClip::Truncated: return "truncated.mp4";
    case TClip::NotMedia: return "notmedia.mp4";
    case TClip::InterlacedMpeg2Tff: return "int_mpeg2_tff.mpg";
  }
  return "clip.bin";
}

inline std::string ClipBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// The bytes as a stream at position 0 (the video tests link no audio
// library, so TTestStream's file opening is not for them).
inline zm::TRef<zm::TMemoryStream> MemoryClip(const std::string& bytes) {
  auto s = zm::MakeRef<zm::TMemoryStream>();
  if (!bytes.empty()) s->Write(zm::TWriteBuffer(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  s->SetPosition(0);
  return s;
}

// The lavfi source of a numbered clip: eight blocks of width/8 over the top half.
inline std::string NumberedSource(int w, int h, double fps, double seconds) {
  const std::string lum =
      "if(lt(Y\\," + std::to_string(h / 2) + ")\\,if(mod(floor(N/pow(2\\,floor(X*8/W)))\\,2)\\,235\\,16)\\,128)";
  return "-f lavfi -i \"color=c=black:s=" + std::to_string(w) + "x" + std::to_string(h) + ":r=" + std::to_string(fps) +
         ":d=" + std::to_string(seconds) + ",format=yuv420p,geq=lum='" + lum + "':cb=128:cr=128\"";
}

// The frame number a numbered clip's frame carries. plane is the luma plane
// (or any 8-bit plane of grey: pixelStep 4 reads one channel of BGRA);
// answers -1 when a block is neither clearly black nor clearly white.
inline int ReadFrameNumber(const std::uint8_t* plane, int width, int height, int stride, int pixelStep = 1) {
  if (!plane || width < 8 || height < 4) return -1;
  const int bw = width / 8;
  const int y0 = height / 8, y1 = height * 3 / 8;
  int number = 0;
  for (int b = 0; b < 8; ++b) {
    const int x0 = b * bw + bw / 4, x1 = b * bw + bw * 3 / 4;
    long sum = 0, n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x, ++n) sum += plane[std::ptrdiff_t(y) * stride + std::ptrdiff_t(x) * pixelStep];
    if (n == 0) return -1;
    const long mean = sum / n;
    if (mean > 160) {
      number |= 1 << b;
    } else if (mean > 90) {
      return -1;
    }
  }
  return number;
}

// Makes (once per media folder) the clip and answers its native path; empty
// when ffmpeg is missing or the clip could not be made. Callers GTEST_SKIP
// on an empty answer.
inline std::string MakeClip(const TMediaDir& dir, TClip c) {
  const std::string name = ClipFileName(c);
  const std::string path = (dir.Path() / name).string();
  std::error_code ec;
  if (std::filesystem::exists(path, ec) && std::filesystem::file_size(path, ec) > 0) return path;
  if (c == TClip::NotMedia) return dir.Write(name, "This is a plain text file, not a clip.\n");
  if (c == TClip::Truncated) {
    const std::string whole = MakeClip(dir, TClip::NumberedH264);
    if (whole.empty()) return {};
    const std::string bytes = ClipBytes(whole);
    return dir.Write(name, bytes.substr(0, bytes.size() / 2));
  }
  if (!HaveTool("ffmpeg")) return {};
  std::string src;
  if (c == TClip::RotatedPlus90 || c == TClip::RotatedMinus90) {
    src = MakeClip(dir, TClip::NumberedH264);
    if (src.empty()) return {};
  }
  const std::string x264 = " -c:v libx264 -preset ultrafast -threads 1 -crf 16";
  const std::string ff = "ffmpeg -hide_banner -loglevel error -y ";
  std::string cmd;
  switch (c) {
    case TClip::NumberedMpeg4:
      cmd = NumberedSource(64, 64, 25, 2) + " -c:v mpeg4 -q:v 2 -g 10";
      break;
    case TClip::NumberedH264:
      cmd = NumberedSource(64, 64, 25, 2) + x264 + " -g 10 -pix_fmt yuv420p";
      break;
    case TClip::NumberedVp9:
      cmd = NumberedSource(64, 64, 25, 2) +
            " -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -crf 10 -b:v 0 -g 10 -threads 1";
      break;
    case TClip::InterlacedH264:
      cmd = NumberedSource(64, 64, 25, 1);
      cmd.insert(cmd.size() - 1, ",setfield=tff");
      cmd += x264 + " -x264-params interlaced=1:tff=1 -pix_fmt yuv420p";
      break;
    case TClip::InterlacedMpeg2:
      cmd = NumberedSource(64, 64, 25, 1);
      cmd.insert(cmd.size() - 1, ",setfield=bff");
      cmd += " -c:v mpeg2video -flags +ilme+ildct -top 0 -q:v 2";
      break;
    case TClip::InterlacedMpeg2Tff:
      cmd = NumberedSource(64, 64, 25, 1);
      cmd.insert(cmd.size() - 1, ",setfield=tff");
      cmd += " -c:v mpeg2video -flags +ilme+ildct -top 1 -q:v 2";
      break;
    case TClip::RotatedPlus90:
      cmd = "-i " + ShellQuote(src) + " -c copy -metadata:s:v:0 rotate=90";
      break;
    case TClip::RotatedMinus90:
      cmd = "-i " + ShellQuote(src) + " -c copy -metadata:s:v:0 rotate=270";
      break;
    case TClip::Bgra:
      cmd = NumberedSource(64, 64, 25, 1) + " -c:v ffvhuff -pix_fmt bgra";
      break;
    case TClip::Nv12:
      cmd = NumberedSource(64, 64, 25, 1) + " -c:v rawvideo -pix_fmt nv12";
      break;
    case TClip::YuvJ420:
      cmd = NumberedSource(64, 64, 25, 1) + " -c:v mjpeg -q:v 2 -pix_fmt yuvj420p";
      break;
    case TClip::Yuv422:
      cmd = NumberedSource(64, 64, 25, 1) + x264 + " -pix_fmt yuv422p";
      break;
    case TClip::RawH264:
      cmd = NumberedSource(64, 64, 25, 1) + x264 + " -pix_fmt yuv420p -f h264";
      break;
    case TClip::Hd30:
      cmd = NumberedSource(1280, 720, 30, 0.2) + x264 + " -pix_fmt yuv420p";
      break;
    case TClip::Hd60:
      cmd = NumberedSource(1280, 720, 60, 0.2) + x264 + " -pix_fmt yuv420p";
      break;
    case TClip::AudioOnly:
      cmd = "-f lavfi -i \"sine=frequency=440:sample_rate=48000:duration=2\" -ac 2 -c:a aac -b:a 128k";
      break;
    default:
      return {};
  }
  if (RunTool(ff + cmd + " " + ShellQuote(path)) != 0) {
    std::filesystem::remove(path, ec);
    return {};
  }
  return path;
}

}  // namespace zmtest
