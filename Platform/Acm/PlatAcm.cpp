#include "Platform/Acm/PlatAcm.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <unordered_set>

namespace plat {

struct AcmStream {
  int channels = 0;
  std::uint32_t blockAlign = 0;
  std::uint32_t samplesPerBlock = 0;  // per channel
  int coef1[7] = {};
  int coef2[7] = {};
  int prepared = 0;  // headers prepared on it
};

namespace {

// Live handles, so that a stale or made-up handle is refused, not used.
std::mutex gLock;
std::unordered_set<AcmStream*>& Live() {
  static auto* live = new std::unordered_set<AcmStream*>;
  return *live;
}

constexpr std::uint32_t kHeaderBytesPerChannel = 7;
constexpr int kAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::int16_t S16(const std::uint8_t* p) { return static_cast<std::int16_t>(Le16(p)); }

struct Channel {
  int c1 = 0, c2 = 0, delta = 0, s1 = 0, s2 = 0;

  int Expand(int nibble) {
    long long p = (static_cast<long long>(s1) * c1 + static_cast<long long>(s2) * c2) / 256;
    p += static_cast<long long>(nibble >= 8 ? nibble - 16 : nibble) * delta;
    s2 = s1;
    s1 = static_cast<int>(std::clamp<long long>(p, -32768, 32767));
    // Left unbounded the step would overflow after a few loud nibbles.
    delta = std::clamp((kAdaptation[nibble] * delta) >> 8, 16, INT_MAX / 768);
    return s1;
  }
};

void Put16(std::uint8_t*& out, int v) {
  out[0] = static_cast<std::uint8_t>(v & 0xFF);
  out[1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
  out += 2;
}

// Samples per channel a block of `bytes` holds; 0 when it has no whole header.
std::uint32_t SamplesIn(const AcmStream& s, std::uint32_t bytes) {
  std::uint32_t head = kHeaderBytesPerChannel * static_cast<std::uint32_t>(s.channels);
  if (bytes < head) return 0;
  return std::min(s.samplesPerBlock, 2 + (bytes - head) * 2 / static_cast<std::uint32_t>(s.channels));
}

// Writes `samples` frames of interleaved PCM; false on a bad predictor index.
bool DecodeBlock(const AcmStream& s, const std::uint8_t* in, std::uint32_t samples, std::uint8_t* out) {
  const int n = s.channels;
  Channel ch[2];
  for (int c = 0; c < n; ++c) {
    int pred = in[c];
    if (pred > 6) return false;
    ch[c].c1 = s.coef1[pred];
    ch[c].c2 = s.coef2[pred];
    ch[c].delta = S16(in + n + 2 * c);
    ch[c].s1 = S16(in + 3 * n + 2 * c);
    ch[c].s2 = S16(in + 5 * n + 2 * c);
  }
  for (int c = 0; c < n; ++c) Put16(out, ch[c].s2);
  if (samples < 2) return true;
  for (int c = 0; c < n; ++c) Put16(out, ch[c].s1);
  // High nibble first; in stereo each byte holds one sample of each channel.
  const std::uint8_t* p = in + 7 * n;
  std::uint32_t nibbles = (samples - 2) * static_cast<std::uint32_t>(n);
  for (std::uint32_t i = 0; i < nibbles; ++i) {
    int nib = (i & 1) ? (p[i / 2] & 0x0F) : (p[i / 2] >> 4);
    Put16(out, ch[n == 2 ? (i & 1) : 0].Expand(nib));
  }
  return true;
}

AcmStream* Find(HACMSTREAM has) {
  return has && Live().count(has) ? has : nullptr;
}

}  // namespace

MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, const WAVEFORMATEX* pwfxDst,
                       const WAVEFILTER* pwfltr, std::uintptr_t dwCallback, std::uintptr_t dwInstance,
                       std::uint32_t fdwOpen) {
  (void)dwCallback;
  (void)dwInstance;
  if (!phas) return MMSYSERR_INVALPARAM;
  *phas = nullptr;
  if (!pwfxSrc || !pwfxDst) return MMSYSERR_INVALPARAM;
  if (fdwOpen != 0) return MMSYSERR_INVALFLAG;
  if (had || pwfltr) return ACMERR_NOTPOSSIBLE;
  const WAVEFORMATEX& src = *pwfxSrc;
  const WAVEFORMATEX& dst = *pwfxDst;
  if (src.wFormatTag != WAVE_FORMAT_ADPCM || src.nChannels < 1 || src.nChannels > 2 || src.nSamplesPerSec == 0 ||
      src.cbSize < 32 || src.nBlockAlign < kHeaderBytesPerChannel * src.nChannels)
    return ACMERR_NOTPOSSIBLE;
  if (dst.wFormatTag != WAVE_FORMAT_PCM || dst.nChannels != src.nChannels ||
      dst.nSamplesPerSec != src.nSamplesPerSec || dst.wBitsPerSample != 16 || dst.nBlockAlign != 2 * dst.nChannels)
    return ACMERR_NOTPOSSIBLE;

  auto s = new AcmStream;
  s->channels = src.nChannels;
  s->blockAlign = src.nBlockAlign;
  const auto* extra = reinterpret_cast<const std::uint8_t*>(pwfxSrc) + sizeof(WAVEFORMATEX);
  s->samplesPerBlock = Le16(extra);
  std::uint16_t numCoef = Le16(extra + 2);
  for (int i = 0; i < 7; ++i) {
    s->coef1[i] = S16(extra + 4 + 4 * i);
    s->coef2[i] = S16(extra + 6 + 4 * i);
  }
  std::uint32_t most = 2 + (s->blockAlign - kHeaderBytesPerChannel * s->channels) * 2 / s->channels;
  if (numCoef < 7 || s->samplesPerBlock < 2 || s->samplesPerBlock > most) {
    delete s;
    return ACMERR_NOTPOSSIBLE;
  }
  std::lock_guard<std::mutex> lock(gLock);
  Live().insert(s);
  *phas = s;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM has, std::uint32_t fdwClose) {
  std::lock_guard<std::mutex> lock(gLock);
  AcmStream* s = Find(has);
  if (!s) return MMSYSERR_INVALHANDLE;
  if (fdwClose != 0) return MMSYSERR_INVALFLAG;
  if (s->prepared > 0) return ACMERR_BUSY;
  Live().erase(s);
  delete s;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM has, std::uint32_t cbInput, std::uint32_t* pdwOutputBytes, std::uint32_t fdwSize) {
  std::lock_guard<std::mutex> lock(gLock);
  AcmStream* s = Find(has);
  if (!s) return MMSYSERR_INVALHANDLE;
  if (!pdwOutputBytes) return MMSYSERR_INVALPARAM;
  const std::uint64_t pcmPerBlock = std::uint64_t{s->samplesPerBlock} * s->channels * 2;
  std::uint64_t out;
  if (fdwSize == ACM_STREAMSIZEF_SOURCE)
    out = cbInput / s->blockAlign * pcmPerBlock;
  else if (fdwSize == ACM_STREAMSIZEF_DESTINATION)
    out = cbInput / pcmPerBlock * s->blockAlign;
  else
    return MMSYSERR_INVALFLAG;
  if (out > UINT32_MAX) return ACMERR_NOTPOSSIBLE;
  *pdwOutputBytes = static_cast<std::uint32_t>(out);
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, std::uint32_t fdwPrepare) {
  std::lock_guard<std::mutex> lock(gLock);
  AcmStream* s = Find(has);
  if (!s) return MMSYSERR_INVALHANDLE;
  if (!pash || pash->cbStruct != sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
  if (fdwPrepare != 0) return MMSYSERR_INVALFLAG;
  if ((!pash->pbSrc && pash->cbSrcLength) || (!pash->pbDst && pash->cbDstLength)) return MMSYSERR_INVALPARAM;
  if (pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) return MMSYSERR_NOERROR;
  pash->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
  ++s->prepared;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, std::uint32_t fdwUnprepare) {
  std::lock_guard<std::mutex> lock(gLock);
  AcmStream* s = Find(has);
  if (!s) return MMSYSERR_INVALHANDLE;
  if (!pash || pash->cbStruct != sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
  if (fdwUnprepare != 0) return MMSYSERR_INVALFLAG;
  if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
  --s->prepared;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, std::uint32_t fdwConvert) {
  AcmStream copy;
  {
    std::lock_guard<std::mutex> lock(gLock);
    AcmStream* s = Find(has);
    if (!s) return MMSYSERR_INVALHANDLE;
    copy = *s;
  }
  if (!pash || pash->cbStruct != sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
  if (fdwConvert & ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END))
    return MMSYSERR_INVALFLAG;
  if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  if ((!pash->pbSrc && pash->cbSrcLength) || (!pash->pbDst && pash->cbDstLength)) return MMSYSERR_INVALPARAM;

  pash->cbSrcLengthUsed = 0;
  pash->cbDstLengthUsed = 0;
  const std::uint32_t frameBytes = 2 * static_cast<std::uint32_t>(copy.channels);
  const bool wholeOnly = (fdwConvert & ACM_STREAMCONVERTF_BLOCKALIGN) != 0;
  std::uint32_t srcLeft = pash->cbSrcLength;
  std::uint32_t dstLeft = pash->cbDstLength;
  MMRESULT result = MMSYSERR_NOERROR;
  while (srcLeft > 0) {
    std::uint32_t bytes = std::min(srcLeft, copy.blockAlign);
    if (bytes < copy.blockAlign && wholeOnly) break;
    std::uint32_t samples = SamplesIn(copy, bytes);
    if (samples == 0) {
      result = MMSYSERR_ERROR;
      break;
    }
    std::uint32_t outBytes = samples * frameBytes;
    if (outBytes > dstLeft) break;
    if (!DecodeBlock(copy, pash->pbSrc + pash->cbSrcLengthUsed, samples, pash->pbDst + pash->cbDstLengthUsed)) {
      result = MMSYSERR_ERROR;
      break;
    }
    pash->cbSrcLengthUsed += bytes;
    pash->cbDstLengthUsed += outBytes;
    srcLeft -= bytes;
    dstLeft -= outBytes;
  }
  pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
  return result;
}

}  // namespace plat
