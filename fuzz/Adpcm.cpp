// MS ADPCM through the compression-manager streams: the input's first byte
// picks channels, block size and flags, the rest is block data. Whole and
// piecewise conversions must agree, and nothing may write past the output.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Platform/Acm/PlatAcm.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

namespace {

struct Out {
  plat::MMRESULT rc;
  std::uint32_t used;
  std::vector<std::uint8_t> pcm;
};

Out Convert(const plat::WAVEFORMATEX* src, const plat::WAVEFORMATEX* dst, const std::uint8_t* data,
            std::uint32_t size, std::uint32_t flags) {
  plat::HACMSTREAM h = nullptr;
  Check(plat::acmStreamOpen(&h, nullptr, src, dst, nullptr, 0, 0, 0) == plat::MMSYSERR_NOERROR);
  std::uint32_t room = 0;
  Check(plat::acmStreamSize(h, size, &room, plat::ACM_STREAMSIZEF_SOURCE) == plat::MMSYSERR_NOERROR);
  // Room for a short last block too, as a caller without block alignment must give.
  if (!(flags & plat::ACM_STREAMCONVERTF_BLOCKALIGN)) room += 2 * 8192;
  // Exactly sized so that AddressSanitizer sees any write past the end.
  std::vector<std::uint8_t> in(data, data + size);
  Out o{0, 0, std::vector<std::uint8_t>(room)};
  plat::ACMSTREAMHEADER hdr{};
  hdr.cbStruct = sizeof hdr;
  hdr.pbSrc = in.data();
  hdr.cbSrcLength = size;
  hdr.pbDst = o.pcm.data();
  hdr.cbDstLength = room;
  Check(plat::acmStreamPrepareHeader(h, &hdr, 0) == plat::MMSYSERR_NOERROR);
  o.rc = plat::acmStreamConvert(h, &hdr, flags);
  Check(hdr.cbSrcLengthUsed <= size && hdr.cbDstLengthUsed <= room);
  Check(plat::acmStreamUnprepareHeader(h, &hdr, 0) == plat::MMSYSERR_NOERROR);
  Check(plat::acmStreamClose(h, 0) == plat::MMSYSERR_NOERROR);
  o.used = hdr.cbSrcLengthUsed;
  o.pcm.resize(hdr.cbDstLengthUsed);
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 1 << 16) return 0;
  const int channels = 1 + (data[0] & 1);
  const std::uint32_t blockAlign = (data[0] & 2) ? 7 * channels + ((data[0] >> 4) & 7) : 32u << ((data[0] >> 2) & 3);
  const std::uint32_t flags = (data[0] & 0x80) ? plat::ACM_STREAMCONVERTF_BLOCKALIGN : 0;
  const std::uint32_t most = 2 + (blockAlign - 7 * channels) * 2 / channels;
  std::uint8_t fmt[18 + 32] = {};
  const std::uint8_t head[22] = {2, 0, static_cast<std::uint8_t>(channels), 0, 0x44, 0xAC, 0, 0, 0, 0, 0, 0,
                                 static_cast<std::uint8_t>(blockAlign), static_cast<std::uint8_t>(blockAlign >> 8),
                                 4, 0, 32, 0, static_cast<std::uint8_t>(most), static_cast<std::uint8_t>(most >> 8),
                                 7, 0};
  for (std::size_t i = 0; i < sizeof head; ++i) fmt[i] = head[i];
  const int coef[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};
  for (int i = 0; i < 7; ++i)
    for (int k = 0; k < 2; ++k) {
      fmt[22 + 4 * i + 2 * k] = static_cast<std::uint8_t>(coef[i][k] & 0xFF);
      fmt[23 + 4 * i + 2 * k] = static_cast<std::uint8_t>((coef[i][k] >> 8) & 0xFF);
    }
  const auto* src = reinterpret_cast<const plat::WAVEFORMATEX*>(fmt);
  const plat::WAVEFORMATEX dst{plat::WAVE_FORMAT_PCM, static_cast<std::uint16_t>(channels), 44100,
                               static_cast<std::uint32_t>(44100 * 2 * channels), static_cast<std::uint16_t>(2 * channels),
                               16, 0};

  const std::uint8_t* body = data + 1;
  const auto n = static_cast<std::uint32_t>(size - 1);
  const Out whole = Convert(src, &dst, body, n, flags);
  Check(whole.pcm.size() % (2 * channels) == 0);
  if (whole.rc == plat::MMSYSERR_NOERROR && flags) Check(whole.used == n / blockAlign * blockAlign);

  // Block by block: the same sound up to where the whole call stopped.
  std::vector<std::uint8_t> joined;
  for (std::uint32_t pos = 0; pos + blockAlign <= whole.used; pos += blockAlign) {
    const Out one = Convert(src, &dst, body + pos, blockAlign, plat::ACM_STREAMCONVERTF_BLOCKALIGN);
    Check(one.rc == plat::MMSYSERR_NOERROR && one.used == blockAlign);
    joined.insert(joined.end(), one.pcm.begin(), one.pcm.end());
  }
  Check(joined.size() <= whole.pcm.size());
  for (std::size_t i = 0; i < joined.size(); ++i) Check(joined[i] == whole.pcm[i]);
  return 0;
}
