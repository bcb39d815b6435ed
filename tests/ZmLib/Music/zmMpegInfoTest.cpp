#include "ZmLib/Music/zmMpegInfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/kit/StreamBytes.h"

using namespace zm;

namespace {

// MPEG 1 layer III, 128 kbps, 44100 Hz, stereo: 417 bytes a frame.
const std::string kHeader("\xFF\xFB\x90\x00", 4);

std::string Frame(const std::string& header = kHeader, std::size_t length = 417) {
  std::string f(length, '\0');
  f.replace(0, header.size(), header);
  return f;
}

std::string BE(std::uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

TMpegHeader Parse(const std::string& b) {
  TMpegHeader h;
  if (!ParseMpegHeader(reinterpret_cast<const std::uint8_t*>(b.data()), h)) h.FrameLength = -1;
  return h;
}

}  // namespace

TEST(MpegInfo, FrameLengthsAndRejectedHeaders) {
  EXPECT_EQ(Parse(kHeader).FrameLength, 417);
  EXPECT_EQ(Parse(std::string("\xFF\xFB\x92\x00", 4)).FrameLength, 418);
  // MPEG 2 layer III mono, 64 kbps at 22050 Hz; MPEG 1 layer I with padding.
  const TMpegHeader m2 = Parse(std::string("\xFF\xF3\x80\xC0", 4));
  EXPECT_EQ(m2.FrameLength, 208);
  EXPECT_EQ(m2.SamplesPerFrame, 576);
  EXPECT_EQ(Parse(std::string("\xFF\xFF\x12\x00", 4)).FrameLength, 38);
  // Free format, bit-rate 15, sample rate 3, version 1, layer 0, emphasis 2, no sync.
  for (const char* bad : {"\xFF\xFB\x00\x00", "\xFF\xFB\xF0\x00", "\xFF\xFB\x9C\x00", "\xFF\xEB\x90\x00",
                          "\xFF\xF9\x90\x00", "\xFF\xFB\x90\x02", "\xFF\xDB\x90\x00"}) {
    EXPECT_EQ(Parse(std::string(bad, 4)).FrameLength, -1) << int(std::uint8_t(bad[1]));
  }
}

TEST(MpegInfo, TagsAndStrayHeadersDoNotCount) {
  // An ID3v2 tag of 20 bytes, a stray header with junk after it, ten frames, an ID3v1 tag.
  std::string tag("ID3\x03\x00\x00\x00\x00\x00\x14", 10);
  tag += std::string("\xFF\xE0\xFF\xFB\x90\x00", 6) + std::string(14, 'x');
  std::string junk = kHeader + std::string(10, '\x01');
  std::string frames;
  for (int i = 0; i < 10; ++i) frames += Frame();
  std::string v1 = "TAG" + std::string(125, ' ');
  auto s = zmtest::MemoryStreamOf(tag + junk + frames + v1);

  TMpegInfo mp;
  TMediaInfo info;
  ASSERT_TRUE(mp.Read(s.get(), info));
  EXPECT_EQ(+info.Kind, 4);
  EXPECT_EQ(info.DataOffset, 30u + 14u);
  EXPECT_EQ(info.DataSize, 4170u);
  // The frames' time less the samples a Layer III decoder gives before the
  // sound when no encoder's tag tells them (1105 at 44100 Hz: 25 ms).
  EXPECT_EQ(info.Duration, 4170u * 8 / 128 - 25);
  EXPECT_EQ(info.FullDuration, std::uint32_t(s->GetSize() * 8 / 128));
  EXPECT_EQ(info.Vbr(), 0u);
  EXPECT_EQ(info.FrameLength, 417u);
  EXPECT_DOUBLE_EQ(info.FrameDuration, 26.0);
  EXPECT_EQ(+info.Format.nChannels, 2);
  EXPECT_EQ(+info.Format.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(+info.Format.nBlockAlign, 4);
  // A bit-rate hint in bits per second replaces the header's.
  ASSERT_TRUE(mp.Read(s.get(), info, 256000));
  EXPECT_EQ(info.Duration, 4170u * 8 / 256 - 25);

  // Constant bit rate: 100 ms lands 64 bytes before the fifth frame.
  ASSERT_TRUE(mp.Read(s.get(), info));
  EXPECT_EQ(TMpegInfo::SeekToTime(s.get(), 100, info), -4);
  EXPECT_EQ(s->GetPosition(), 44 + 4 * 417);
  EXPECT_EQ(TMpegInfo::SeekToTime(s.get(), INT64_MAX, info), 0);
  EXPECT_EQ(s->GetPosition(), s->GetSize());
}

TEST(MpegInfo, VbrDurationComesFromTheXingFrameCount) {
  std::string first = Frame();
  first.replace(4 + 32, 16, "Xing" + BE(15) + BE(100) + BE(5 * 417));
  std::string data = first;
  for (int i = 0; i < 4; ++i) data += Frame();
  auto s = zmtest::MemoryStreamOf(data);
  TMpegInfo mp;
  TMediaInfo info;
  ASSERT_TRUE(mp.Read(s.get(), info));
  EXPECT_EQ(info.Vbr(), 0xFFFFFFFFu);
  EXPECT_EQ(info.Duration, 2587u);  // 100 frames of 1152 samples at 44100 Hz, less 1105
  EXPECT_EQ(info.FullDuration, 2612u);
  EXPECT_DOUBLE_EQ(info.FrameDuration, 26.12);
  // Decoders skip the Xing frame, so time counts from the frame after it.
  // Below one frame: that frame; else frame by frame.
  EXPECT_EQ(TMpegInfo::SeekToTime(s.get(), 20, info), 0);
  EXPECT_EQ(s->GetPosition(), 417);
  EXPECT_EQ(TMpegInfo::SeekToTime(s.get(), 60, info), -18);
  EXPECT_EQ(s->GetPosition(), 4 * 417);
  // Past the last frame: the end, with the time not reached.
  EXPECT_GT(TMpegInfo::SeekToTime(s.get(), 1000, info), 0);
  EXPECT_EQ(s->GetPosition(), 5 * 417);

  // VBRI sits at the same place with bytes before frames.
  std::string vbri = Frame();
  vbri.replace(4 + 32, 18, "VBRI" + std::string(6, '\0') + BE(4000) + BE(50));
  s = zmtest::MemoryStreamOf(vbri + Frame());
  ASSERT_TRUE(mp.Read(s.get(), info));
  EXPECT_EQ(mp.Vbr.Frames, 50u);
  EXPECT_EQ(mp.Vbr.Bytes, 4000u);
  EXPECT_EQ(info.Duration, 1281u);
}

// Without a Xing or VBRI header, frames whose bit rates vary are counted one
// by one: the file lasts as long as its frames, whatever its first frame's
// rate says, and seeks walk them. Frames all of one rate stay a constant
// bit rate.
TEST(MpegInfo, VbrWithoutAHeaderLastsAsLongAsItsFrames) {
  const std::string k256("\xFF\xFB\xE0\x00", 4), k64("\xFF\xFB\x50\x00", 4);
  ASSERT_EQ(Parse(k256).FrameLength, 1044);  // 320 kbps
  ASSERT_EQ(Parse(k64).FrameLength, 208);
  // Loud frames first (whose rate would make the file short), then quiet ones.
  std::string data;
  for (int i = 0; i < 100; ++i) data += i < 10 ? Frame(k256, 1044) : i % 3 ? Frame(k64, 208) : Frame();
  auto s = zmtest::MemoryStreamOf(data);
  TMpegInfo mp;
  TMediaInfo info;
  ASSERT_TRUE(mp.Read(s.get(), info));
  EXPECT_EQ(info.Vbr(), 0xFFFFFFFFu);
  EXPECT_EQ(info.FullDuration, 2612u);  // 100 frames of 1152 samples at 44100 Hz
  EXPECT_EQ(info.Duration, 2587u);      // less the usual encoder and decoder delays
  EXPECT_DOUBLE_EQ(info.FrameDuration, 26.12);
  EXPECT_EQ(TMpegInfo::SeekToFrame(s.get(), 12, info), 12);
  EXPECT_EQ(s->GetPosition(), 10 * 1044 + 2 * 208);

  // One rate throughout: the size over that rate.
  std::string cbr;
  for (int i = 0; i < 100; ++i) cbr += Frame();
  s = zmtest::MemoryStreamOf(cbr);
  ASSERT_TRUE(mp.Read(s.get(), info));
  EXPECT_EQ(info.Vbr(), 0u);
  EXPECT_EQ(info.FullDuration, 2606u);  // 41700 bytes at 128 kbps
}

// An Info frame with a LAME-style extension tells the encoder's delay and
// padding: the sound is the frames' samples less both, and lies after the
// delay and the decoder's 529. An unknown encoder's extension tells
// nothing; the usual delay is taken then.
TEST(MpegInfo, EncodersTagTellsWhereTheSoundLies) {
  const auto tagFrame = [](const std::string& version, std::uint32_t delayAndPadding) {
    std::string first = Frame();
    // Info, flags (frames, bytes, table, quality), 100 frames, bytes, the table, quality.
    first.replace(36, 16, "Info" + BE(15) + BE(100) + BE(101 * 417));
    const std::size_t lame = 36 + 8 + 4 + 4 + 100 + 4;
    first.replace(lame, 9, version);
    first[lame + 21] = char(delayAndPadding >> 16);
    first[lame + 22] = char(delayAndPadding >> 8);
    first[lame + 23] = char(delayAndPadding);
    return first;
  };
  std::string frames;
  for (int i = 0; i < 4; ++i) frames += Frame();
  struct TCase {
    std::string Version;
    std::uint32_t DelayAndPadding;
    bool Tagged;
    std::int64_t Skip, Samples;
    std::uint32_t Duration;
  } cases[] = {
      // Delay 576, padding 1260 (0x240, 0x4EC).
      {"LAME3.100", 0x2404EC, true, 576 + 529, 115200 - 576 - 1260, 2571},
      {"Lavc59.37", 0x2404EC, true, 576 + 529, 115200 - 576 - 1260, 2571},
      // A padding shorter than the decoder's delay: the sound ends with the last frame.
      {"Lavf59.27", 0x100010, true, 256 + 529, 115200 - 256 - 529, 2594},
      {"Other1.00", 0x2404EC, false, 1105, 115200 - 1105, 2587},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Version);
    auto s = zmtest::MemoryStreamOf(tagFrame(c.Version, c.DelayAndPadding) + frames);
    TMpegInfo mp;
    TMediaInfo info;
    ASSERT_TRUE(mp.Read(s.get(), info));
    EXPECT_EQ(mp.Gapless.Tagged, c.Tagged);
    EXPECT_EQ(mp.Gapless.Frames, 100);
    EXPECT_EQ(mp.Gapless.Skip, c.Skip);
    EXPECT_EQ(mp.Gapless.Samples, c.Samples);
    EXPECT_EQ(mp.Gapless.TagFrameLength, 417);
    EXPECT_EQ(info.Duration, c.Duration);
    EXPECT_EQ(info.Vbr(), 0u);  // an Info frame is no VBR header
    const TMpegGapless again = TMpegInfo::ReadGapless(s.get(), info);
    EXPECT_EQ(again.Skip, c.Skip);
    EXPECT_EQ(again.Samples, c.Samples);
    // The walk to a frame starts after the tag frame and stops at the end.
    EXPECT_EQ(TMpegInfo::SeekToFrame(s.get(), 2, info), 2);
    EXPECT_EQ(s->GetPosition(), 3 * 417);
    EXPECT_EQ(TMpegInfo::SeekToFrame(s.get(), 9, info), 4);
    EXPECT_EQ(s->GetPosition(), 5 * 417);
  }
  // Layer II has no delay to drop; a reservoir needs frames before a frame.
  const std::string layer2("\xFF\xFD\x94\x00", 4);  // MPEG 1 layer II, 128 kbps, 44100 Hz
  const TMpegGapless l2 = TMpegGapless::Parse(reinterpret_cast<const std::uint8_t*>(layer2.data()), 4);
  EXPECT_EQ(l2.Skip, 0);
  EXPECT_EQ(l2.LeadFrames, 1);
  const TMpegGapless l3 = TMpegGapless::Parse(reinterpret_cast<const std::uint8_t*>(kHeader.data()), 4);
  EXPECT_EQ(l3.Skip, 1105);
  EXPECT_EQ(l3.Samples, -1);
  EXPECT_GE(l3.LeadFrames, 5);
  EXPECT_EQ(TMpegGapless::Parse(nullptr, 0).SamplesPerFrame, 0);
}

TEST(MpegInfo, DamagedStreamsFail) {
  TMpegInfo mp;
  TMediaInfo info;
  EXPECT_FALSE(mp.Read(nullptr, info));
  EXPECT_FALSE(mp.Read(zmtest::MemoryStreamOf("").get(), info));
  EXPECT_FALSE(mp.Read(zmtest::MemoryStreamOf(kHeader + "xyzxyz").get(), info));
  // One frame without a second, a tag larger than the file.
  EXPECT_FALSE(mp.Read(zmtest::MemoryStreamOf(Frame()).get(), info));
  EXPECT_FALSE(mp.Read(zmtest::MemoryStreamOf(std::string("ID3\x03\x00\x00\x7F\x7F\x7F\x7F", 10) + Frame() + Frame()).get(), info));
  EXPECT_EQ(+info.Kind, 0);
  // A size byte with its top bit set makes the tag size 0.
  ASSERT_TRUE(mp.Read(zmtest::MemoryStreamOf(std::string("ID3\x03\x00\x00\x80\x00\x00\x00", 10) + Frame() + Frame()).get(), info));
  EXPECT_EQ(info.DataOffset, 10u);
  EXPECT_EQ(TMpegInfo::SeekToTime(nullptr, 10, info), 0);
}

TEST(MpegInfo, ScanFramesReadsAgainOverJunkAndCarriesCutFrames) {
  const std::string data = Frame() + std::string(10, '\x55') + Frame() + Frame() + Frame();
  auto s = zmtest::MemoryStreamOf(data);
  std::vector<std::uint8_t> buf(1000);
  ASSERT_EQ(s->Read(buf), 1000);
  std::int32_t carry = 0;
  TMpegInfo::ScanFrames(s.get(), buf.data(), carry, 1000);
  // The junk is replaced by the second frame; the third runs 251 bytes on.
  EXPECT_EQ(buf[417], 0xFF);
  EXPECT_EQ(buf[834], 0xFF);
  EXPECT_EQ(carry, 251);
  EXPECT_EQ(s->GetPosition(), 1010);

  // A header cut after 2 bytes: its frame is carried, the stream stays.
  s = zmtest::MemoryStreamOf(Frame() + Frame());
  buf.assign(419, 0);
  ASSERT_EQ(s->Read(buf), 419);
  carry = 0;
  TMpegInfo::ScanFrames(s.get(), buf.data(), carry, 419);
  EXPECT_EQ(carry, 415);
  EXPECT_EQ(s->GetPosition(), 419);

  // Junk up to the end with a header whose re-read falls short: the rest is cleared.
  s = zmtest::MemoryStreamOf(std::string(300, '\x55') + kHeader + std::string(96, '\x55'));
  buf.assign(400, 0);
  ASSERT_EQ(s->Read(buf), 400);
  carry = 0;
  TMpegInfo::ScanFrames(s.get(), buf.data(), carry, 400);
  EXPECT_EQ(carry, 0);
  EXPECT_EQ(buf[0], 0xFF);
  EXPECT_EQ(buf[399], 0);
  carry = 7;
  TMpegInfo::ScanFrames(nullptr, buf.data(), carry, 400);
  EXPECT_EQ(carry, 0);
}
