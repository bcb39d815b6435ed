#include "Platform/Acm/PlatAcm.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace platacm_test {

using Bytes = std::vector<std::uint8_t>;

bool HaveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

Bytes ReadAll(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

void WriteAll(const std::filesystem::path& p, const Bytes& b) {
  std::ofstream f(p, std::ios::binary);
  f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

std::uint32_t Le32(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24); }

void Put(Bytes& b, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A WAVE file's format (with its extra bytes) and sound data.
struct Wave {
  Bytes fmt;
  Bytes data;
  const plat::WAVEFORMATEX* Format() const { return reinterpret_cast<const plat::WAVEFORMATEX*>(fmt.data()); }
};

Wave ParseWave(const Bytes& file) {
  Wave w;
  for (std::size_t pos = 12; pos + 8 <= file.size();) {
    std::uint32_t size = Le32(&file[pos + 4]);
    std::size_t end = std::min(file.size(), pos + 8 + size);
    Bytes body(file.begin() + static_cast<std::ptrdiff_t>(pos + 8), file.begin() + static_cast<std::ptrdiff_t>(end));
    if (std::memcmp(&file[pos], "fmt ", 4) == 0) w.fmt = body;
    if (std::memcmp(&file[pos], "data", 4) == 0) w.data = body;
    pos += 8 + size + (size & 1);
  }
  return w;
}

Bytes MakeWave(const Wave& w) {
  Bytes b{'R', 'I', 'F', 'F'};
  Put(b, static_cast<std::uint32_t>(4 + 8 + w.fmt.size() + 8 + w.data.size()), 4);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put(b, static_cast<std::uint32_t>(w.fmt.size()), 4);
  b.insert(b.end(), w.fmt.begin(), w.fmt.end());
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  Put(b, static_cast<std::uint32_t>(w.data.size()), 4);
  b.insert(b.end(), w.data.begin(), w.data.end());
  return b;
}

// The usual MS ADPCM format with the seven standard coefficient pairs.
Bytes AdpcmFormat(int channels, int blockAlign) {
  Bytes f;
  Put(f, plat::WAVE_FORMAT_ADPCM, 2);
  Put(f, static_cast<std::uint32_t>(channels), 2);
  Put(f, 22050, 4);
  Put(f, 11100, 4);
  Put(f, static_cast<std::uint32_t>(blockAlign), 2);
  Put(f, 4, 2);
  Put(f, 32, 2);
  Put(f, static_cast<std::uint32_t>((blockAlign - 7 * channels) * 2 / channels + 2), 2);
  Put(f, 7, 2);
  const int c[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};
  for (auto& p : c) {
    Put(f, static_cast<std::uint32_t>(p[0]), 2);
    Put(f, static_cast<std::uint32_t>(p[1]), 2);
  }
  return f;
}

plat::WAVEFORMATEX PcmOf(const plat::WAVEFORMATEX& src) {
  plat::WAVEFORMATEX d{};
  d.wFormatTag = plat::WAVE_FORMAT_PCM;
  d.nChannels = src.nChannels;
  d.nSamplesPerSec = src.nSamplesPerSec;
  d.nBlockAlign = static_cast<std::uint16_t>(2 * src.nChannels);
  d.nAvgBytesPerSec = d.nBlockAlign * d.nSamplesPerSec;
  d.wBitsPerSample = 16;
  return d;
}

struct Result {
  plat::MMRESULT rc;
  std::uint32_t srcUsed;
  Bytes pcm;
};

// One stream for one piece, the way the converter drives it: Size, then
// a header over the whole piece.
Result Convert(const Wave& w, const std::uint8_t* src, std::uint32_t n, std::uint32_t flags,
               std::uint32_t extraRoom = 0) {
  plat::HACMSTREAM h = nullptr;
  plat::WAVEFORMATEX dst = PcmOf(*w.Format());
  EXPECT_EQ(plat::acmStreamOpen(&h, nullptr, w.Format(), &dst, nullptr, 0, 0, 0), plat::MMSYSERR_NOERROR);
  std::uint32_t size = 0;
  EXPECT_EQ(plat::acmStreamSize(h, n, &size, plat::ACM_STREAMSIZEF_SOURCE), plat::MMSYSERR_NOERROR);
  Result r{};
  r.pcm.resize(size + extraRoom);
  plat::ACMSTREAMHEADER hdr{};
  hdr.cbStruct = sizeof hdr;
  hdr.pbSrc = const_cast<std::uint8_t*>(src);
  hdr.cbSrcLength = n;
  hdr.pbDst = r.pcm.data();
  hdr.cbDstLength = static_cast<std::uint32_t>(r.pcm.size());
  EXPECT_EQ(plat::acmStreamPrepareHeader(h, &hdr, 0), plat::MMSYSERR_NOERROR);
  r.rc = plat::acmStreamConvert(h, &hdr, flags);
  EXPECT_EQ(plat::acmStreamUnprepareHeader(h, &hdr, 0), plat::MMSYSERR_NOERROR);
  EXPECT_EQ(plat::acmStreamClose(h, 0), plat::MMSYSERR_NOERROR);
  r.srcUsed = hdr.cbSrcLengthUsed;
  r.pcm.resize(hdr.cbDstLengthUsed);
  return r;
}

Bytes FfmpegDecode(const zmtest::TTempDir& dir, const std::string& wav) {
  std::string out = (dir.Path() / (wav + ".raw")).string();
  std::string cmd = "ffmpeg -v error -y -i '" + (dir.Path() / wav).string() + "' -f s16le '" + out + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  return ReadAll(out);
}

// Encoded by ffmpeg, then decoded by both: whole files, and the same files
// cut inside their last block (decoded as far as the short block goes).
TEST(PlatAcm, MatchesFfmpegBitForBit) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
  zmtest::TTempDir dir;
  for (int channels : {1, 2}) {
    for (int block : {256, 512, 1024, 2048}) {
      SCOPED_TRACE("channels " + std::to_string(channels) + " block " + std::to_string(block));
      std::string name = "s" + std::to_string(channels) + "_" + std::to_string(block) + ".wav";
      std::string cmd = "ffmpeg -v error -y -f lavfi -i 'sine=f=440:beep_factor=3:sample_rate=22050:d=0.7' -ac " +
                        std::to_string(channels) + " -c:a adpcm_ms -block_size " + std::to_string(block) + " '" +
                        (dir.Path() / name).string() + "'";
      ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
      Wave w = ParseWave(ReadAll(dir.Path() / name));
      ASSERT_GE(w.fmt.size(), 18u + 32u);
      ASSERT_EQ(w.Format()->nBlockAlign, block);
      ASSERT_EQ(w.data.size() % block, 0u);
      Bytes expected = FfmpegDecode(dir, name);
      Result r = Convert(w, w.data.data(), static_cast<std::uint32_t>(w.data.size()),
                         plat::ACM_STREAMCONVERTF_BLOCKALIGN);
      EXPECT_EQ(r.rc, plat::MMSYSERR_NOERROR);
      EXPECT_EQ(r.srcUsed, w.data.size());
      EXPECT_TRUE(r.pcm == expected) << r.pcm.size() << " vs " << expected.size();

      // Cut inside the last block: block-aligned conversion leaves the
      // tail; without the flag it is decoded like ffmpeg does.
      Wave cut = w;
      cut.data.resize(cut.data.size() - static_cast<std::size_t>(block) / 3);
      std::string cutName = "cut" + name;
      WriteAll(dir.Path() / cutName, MakeWave(cut));
      Bytes cutExpected = FfmpegDecode(dir, cutName);
      auto n = static_cast<std::uint32_t>(cut.data.size());
      Result whole = Convert(cut, cut.data.data(), n, plat::ACM_STREAMCONVERTF_BLOCKALIGN);
      EXPECT_EQ(whole.rc, plat::MMSYSERR_NOERROR);
      EXPECT_EQ(whole.srcUsed, n / block * block);
      Result tail = Convert(cut, cut.data.data(), n, 0, static_cast<std::uint32_t>(block * 4));
      EXPECT_EQ(tail.rc, plat::MMSYSERR_NOERROR);
      EXPECT_EQ(tail.srcUsed, n);
      EXPECT_TRUE(tail.pcm == cutExpected) << tail.pcm.size() << " vs " << cutExpected.size();
      EXPECT_TRUE(std::equal(whole.pcm.begin(), whole.pcm.end(), tail.pcm.begin()));
    }
  }
}

// Random block bodies reach the decoder's limits (negative and huge steps,
// clipping) that a sine never does; ffmpeg decides what is right.
TEST(PlatAcm, RandomBlocksMatchFfmpeg) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
  zmtest::TTempDir dir;
  std::mt19937 rng(7);
  for (int channels : {1, 2}) {
    Wave w{AdpcmFormat(channels, 256), {}};
    w.data.resize(256 * 40);
    for (auto& b : w.data) b = static_cast<std::uint8_t>(rng());
    for (std::size_t blk = 0; blk < w.data.size(); blk += 256) {
      for (int c = 0; c < channels; ++c) w.data[blk + c] %= 7;
      if (blk % 1024 == 0)  // the loudest step, for the step's ceiling
        for (int c = 0; c < channels; ++c) w.data[blk + channels + 2 * c + 1] = 0x7F;
    }
    std::string name = "r" + std::to_string(channels) + ".wav";
    WriteAll(dir.Path() / name, MakeWave(w));
    Result r = Convert(w, w.data.data(), static_cast<std::uint32_t>(w.data.size()), plat::ACM_STREAMCONVERTF_BLOCKALIGN);
    EXPECT_EQ(r.rc, plat::MMSYSERR_NOERROR);
    EXPECT_TRUE(r.pcm == FfmpegDecode(dir, name)) << "channels " << channels;
  }
}

// Pieces of any size, each through its own stream with the unused tail
// carried on, and destinations too small for all, give the one-call result.
TEST(PlatAcm, PiecesEqualOneCall) {
  for (int channels : {1, 2}) {
    Wave w{AdpcmFormat(channels, 512), {}};
    std::mt19937 rng(channels);
    w.data.resize(512 * 9);
    for (auto& b : w.data) b = static_cast<std::uint8_t>(rng());
    for (std::size_t blk = 0; blk < w.data.size(); blk += 512)
      for (int c = 0; c < channels; ++c) w.data[blk + c] %= 7;
    const auto total = static_cast<std::uint32_t>(w.data.size());
    Bytes once = Convert(w, w.data.data(), total, plat::ACM_STREAMCONVERTF_BLOCKALIGN).pcm;
    ASSERT_EQ(once.size(), std::size_t{9} * ((512 - 7 * channels) * 2 / channels + 2) * channels * 2);

    for (std::uint32_t piece : {1u, 511u, 513u, 1000u, 4096u}) {
      Bytes joined;
      std::uint32_t pos = 0, pending = 0;
      while (pos < total) {
        pending = std::min(total - pos, pending + piece);
        Result r = Convert(w, w.data.data() + pos, pending, plat::ACM_STREAMCONVERTF_BLOCKALIGN);
        ASSERT_EQ(r.rc, plat::MMSYSERR_NOERROR);
        joined.insert(joined.end(), r.pcm.begin(), r.pcm.end());
        pos += r.srcUsed;
        pending -= r.srcUsed;
        if (pos + pending == total && r.srcUsed == 0) break;
      }
      EXPECT_EQ(pos, total) << "piece " << piece;
      EXPECT_TRUE(joined == once) << "piece " << piece;
    }

    // A destination one byte short of three blocks takes two.
    plat::HACMSTREAM h = nullptr;
    plat::WAVEFORMATEX dst = PcmOf(*w.Format());
    ASSERT_EQ(plat::acmStreamOpen(&h, nullptr, w.Format(), &dst, nullptr, 0, 0, 0), plat::MMSYSERR_NOERROR);
    std::uint32_t three = 0;
    ASSERT_EQ(plat::acmStreamSize(h, 3 * 512 + 100, &three, plat::ACM_STREAMSIZEF_SOURCE), plat::MMSYSERR_NOERROR);
    std::uint32_t back = 0;
    ASSERT_EQ(plat::acmStreamSize(h, three - 1, &back, plat::ACM_STREAMSIZEF_DESTINATION), plat::MMSYSERR_NOERROR);
    EXPECT_EQ(back, 2u * 512);
    Bytes out(three - 1);
    plat::ACMSTREAMHEADER hdr{};
    hdr.cbStruct = sizeof hdr;
    hdr.pbSrc = w.data.data();
    hdr.cbSrcLength = total;
    hdr.pbDst = out.data();
    hdr.cbDstLength = three - 1;
    ASSERT_EQ(plat::acmStreamPrepareHeader(h, &hdr, 0), plat::MMSYSERR_NOERROR);
    EXPECT_EQ(plat::acmStreamConvert(h, &hdr, plat::ACM_STREAMCONVERTF_BLOCKALIGN), plat::MMSYSERR_NOERROR);
    EXPECT_EQ(hdr.cbSrcLengthUsed, 2u * 512);
    EXPECT_EQ(hdr.cbDstLengthUsed, three / 3 * 2);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + hdr.cbDstLengthUsed, once.begin()));
    EXPECT_EQ(plat::acmStreamUnprepareHeader(h, &hdr, 0), plat::MMSYSERR_NOERROR);
    EXPECT_EQ(plat::acmStreamClose(h, 0), plat::MMSYSERR_NOERROR);
  }
}

// A bad predictor index (either channel) or a last block without room for
// its header fails the call; the blocks before it stay decoded.
TEST(PlatAcm, DamagedBlocks) {
  for (int channels : {1, 2}) {
    Wave w{AdpcmFormat(channels, 256), Bytes(256 * 3, 0x11)};
    for (std::size_t blk = 0; blk < w.data.size(); blk += 256)
      for (int c = 0; c < channels; ++c) w.data[blk + c] = 1;
    const std::uint32_t pcmBlock = static_cast<std::uint32_t>((256 - 7 * channels) * 2 / channels + 2) * channels * 2;
    for (int bad = 0; bad < channels; ++bad) {
      Wave d = w;
      d.data[256 + bad] = 7;
      Result r = Convert(d, d.data.data(), 256 * 3, plat::ACM_STREAMCONVERTF_BLOCKALIGN);
      EXPECT_EQ(r.rc, plat::MMSYSERR_ERROR);
      EXPECT_EQ(r.srcUsed, 256u);
      EXPECT_EQ(r.pcm.size(), pcmBlock);
      d.data[256 + bad] = 0xFF;
      EXPECT_EQ(Convert(d, d.data.data(), 256 * 3, 0).rc, plat::MMSYSERR_ERROR);
    }
    const std::uint32_t shortTail = 256 + 7 * static_cast<std::uint32_t>(channels) - 1;
    Result r = Convert(w, w.data.data(), shortTail, 0, 4096);
    EXPECT_EQ(r.rc, plat::MMSYSERR_ERROR);
    EXPECT_EQ(r.srcUsed, 256u);
    r = Convert(w, w.data.data(), shortTail, plat::ACM_STREAMCONVERTF_BLOCKALIGN);
    EXPECT_EQ(r.rc, plat::MMSYSERR_NOERROR);
    EXPECT_EQ(r.srcUsed, 256u);
    // Exactly a header: its two samples per channel.
    r = Convert(w, w.data.data(), shortTail + 1, 0, 4096);
    EXPECT_EQ(r.rc, plat::MMSYSERR_NOERROR);
    EXPECT_EQ(r.pcm.size(), pcmBlock + 4u * channels);
  }
}

// Only MS ADPCM to 16-bit PCM of the same shape opens; misuse of handles
// and headers answers an error.
TEST(PlatAcm, RefusesWhatItCannotDo) {
  Wave w{AdpcmFormat(2, 1024), Bytes(1024, 0)};
  const plat::WAVEFORMATEX pcm = PcmOf(*w.Format());
  plat::HACMSTREAM h = reinterpret_cast<plat::HACMSTREAM>(&w);
  auto open = [&](const Bytes& src, plat::WAVEFORMATEX dst) {
    return plat::acmStreamOpen(&h, nullptr, reinterpret_cast<const plat::WAVEFORMATEX*>(src.data()), &dst, nullptr, 0,
                               0, 0);
  };
  auto patched = [&](std::size_t at, std::uint16_t v) {
    Bytes f = w.fmt;
    f[at] = static_cast<std::uint8_t>(v);
    f[at + 1] = static_cast<std::uint8_t>(v >> 8);
    return f;
  };
  EXPECT_EQ(open(patched(0, 0x11), pcm), plat::ACMERR_NOTPOSSIBLE);    // IMA ADPCM
  EXPECT_EQ(open(patched(2, 3), pcm), plat::ACMERR_NOTPOSSIBLE);       // three channels
  EXPECT_EQ(open(patched(12, 13), pcm), plat::ACMERR_NOTPOSSIBLE);     // block below two headers
  EXPECT_EQ(open(patched(16, 30), pcm), plat::ACMERR_NOTPOSSIBLE);     // too few extra bytes
  EXPECT_EQ(open(patched(18, 1013), pcm), plat::ACMERR_NOTPOSSIBLE);   // more samples than a block holds
  EXPECT_EQ(open(patched(20, 6), pcm), plat::ACMERR_NOTPOSSIBLE);      // six coefficient pairs
  EXPECT_EQ(h, nullptr);
  plat::WAVEFORMATEX bad = pcm;
  bad.wBitsPerSample = 8;
  bad.nBlockAlign = 2;
  EXPECT_EQ(open(w.fmt, bad), plat::ACMERR_NOTPOSSIBLE);
  bad = pcm;
  bad.nChannels = 1;
  bad.nBlockAlign = 2;
  EXPECT_EQ(open(w.fmt, bad), plat::ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(plat::acmStreamOpen(nullptr, nullptr, w.Format(), &pcm, nullptr, 0, 0, 0), plat::MMSYSERR_INVALPARAM);
  EXPECT_EQ(plat::acmStreamOpen(&h, nullptr, nullptr, &pcm, nullptr, 0, 0, 0), plat::MMSYSERR_INVALPARAM);
  EXPECT_EQ(plat::acmStreamOpen(&h, nullptr, w.Format(), &pcm, nullptr, 0, 0, 1), plat::MMSYSERR_INVALFLAG);

  ASSERT_EQ(open(w.fmt, pcm), plat::MMSYSERR_NOERROR);
  std::uint32_t size = 0;
  EXPECT_EQ(plat::acmStreamSize(h, 1024, nullptr, 0), plat::MMSYSERR_INVALPARAM);
  EXPECT_EQ(plat::acmStreamSize(h, 1024, &size, 2), plat::MMSYSERR_INVALFLAG);
  Bytes out(4048);
  plat::ACMSTREAMHEADER hdr{};
  hdr.cbStruct = sizeof hdr;
  hdr.pbSrc = w.data.data();
  hdr.cbSrcLength = 1024;
  hdr.pbDst = out.data();
  hdr.cbDstLength = 4048;
  EXPECT_EQ(plat::acmStreamConvert(h, &hdr, plat::ACM_STREAMCONVERTF_BLOCKALIGN), plat::ACMERR_UNPREPARED);
  EXPECT_EQ(plat::acmStreamUnprepareHeader(h, &hdr, 0), plat::ACMERR_UNPREPARED);
  hdr.cbStruct = 84 - 1;
  EXPECT_EQ(plat::acmStreamPrepareHeader(h, &hdr, 0), plat::MMSYSERR_INVALPARAM);
  hdr.cbStruct = sizeof hdr;
  ASSERT_EQ(plat::acmStreamPrepareHeader(h, &hdr, 0), plat::MMSYSERR_NOERROR);
  EXPECT_EQ(plat::acmStreamConvert(h, &hdr, 0x8000), plat::MMSYSERR_INVALFLAG);
  EXPECT_EQ(plat::acmStreamClose(h, 0), plat::ACMERR_BUSY);
  EXPECT_EQ(plat::acmStreamUnprepareHeader(h, &hdr, 0), plat::MMSYSERR_NOERROR);
  EXPECT_EQ(plat::acmStreamClose(h, 0), plat::MMSYSERR_NOERROR);
  // A closed (or never opened) handle is refused, not used.
  EXPECT_EQ(plat::acmStreamClose(h, 0), plat::MMSYSERR_INVALHANDLE);
  EXPECT_EQ(plat::acmStreamSize(h, 1024, &size, 0), plat::MMSYSERR_INVALHANDLE);
  EXPECT_EQ(plat::acmStreamConvert(h, &hdr, 0), plat::MMSYSERR_INVALHANDLE);
  EXPECT_EQ(plat::acmStreamClose(nullptr, 0), plat::MMSYSERR_INVALHANDLE);
}

}  // namespace platacm_test
