#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Platform/Acm/PlatAcm.h"

namespace platacm_threads_test {

// Several tracks' converters share one stream at once, each with its own
// header, while other streams open and close around them.
TEST(PlatAcmThreads, OneStreamManyHeaders) {
  std::uint8_t fmt[18 + 32] = {2, 0, 1, 0, 0x22, 0x56, 0, 0, 0, 0, 0, 0, 0, 1, 4, 0, 32, 0, 0xF4, 1, 7, 0};
  const int coef[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};
  for (int i = 0; i < 7; ++i)
    for (int k = 0; k < 2; ++k) {
      fmt[22 + 4 * i + 2 * k] = static_cast<std::uint8_t>(coef[i][k] & 0xFF);
      fmt[23 + 4 * i + 2 * k] = static_cast<std::uint8_t>((coef[i][k] >> 8) & 0xFF);
    }
  const auto* src = reinterpret_cast<const plat::WAVEFORMATEX*>(fmt);
  plat::WAVEFORMATEX dst{plat::WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
  std::vector<std::uint8_t> in(256 * 8, 0x3C);
  for (std::size_t b = 0; b < in.size(); b += 256) in[b] = static_cast<std::uint8_t>(b / 256 % 7);

  plat::HACMSTREAM shared = nullptr;
  ASSERT_EQ(plat::acmStreamOpen(&shared, nullptr, src, &dst, nullptr, 0, 0, 0), plat::MMSYSERR_NOERROR);
  auto convert = [&](plat::HACMSTREAM h, std::vector<std::uint8_t>& out) {
    plat::ACMSTREAMHEADER hdr{};
    hdr.cbStruct = sizeof hdr;
    hdr.pbSrc = in.data();
    hdr.cbSrcLength = static_cast<std::uint32_t>(in.size());
    hdr.pbDst = out.data();
    hdr.cbDstLength = static_cast<std::uint32_t>(out.size());
    bool ok = plat::acmStreamPrepareHeader(h, &hdr, 0) == plat::MMSYSERR_NOERROR &&
              plat::acmStreamConvert(h, &hdr, plat::ACM_STREAMCONVERTF_BLOCKALIGN) == plat::MMSYSERR_NOERROR &&
              hdr.cbDstLengthUsed == out.size();
    return plat::acmStreamUnprepareHeader(h, &hdr, 0) == plat::MMSYSERR_NOERROR && ok;
  };
  std::vector<std::uint8_t> once(8 * 500 * 2);
  ASSERT_TRUE(convert(shared, once));

  std::vector<int> good(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      std::vector<std::uint8_t> out(once.size());
      for (int i = 0; i < 40; ++i) {
        plat::HACMSTREAM own = nullptr;
        bool ok = convert(shared, out) && out == once;
        ok = ok && plat::acmStreamOpen(&own, nullptr, src, &dst, nullptr, 0, 0, 0) == plat::MMSYSERR_NOERROR;
        ok = ok && convert(own, out) && out == once && plat::acmStreamClose(own, 0) == plat::MMSYSERR_NOERROR;
        good[t] += ok;
      }
    });
  for (auto& th : threads) th.join();
  for (int g : good) EXPECT_EQ(g, 40);
  EXPECT_EQ(plat::acmStreamClose(shared, 0), plat::MMSYSERR_NOERROR);
}

}  // namespace platacm_threads_test
