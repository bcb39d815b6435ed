#pragma once
// Audio compression manager stand-in: streams that turn MS ADPCM into
// 16-bit PCM with the Win32 calls' shapes. No other conversion exists;
// everything else answers ACMERR_NOTPOSSIBLE. Standard types only.
#include <cstdint>

namespace plat {

using MMRESULT = std::uint32_t;
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;  // a damaged block
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;
constexpr MMRESULT ACMERR_BUSY = 513;
constexpr MMRESULT ACMERR_UNPREPARED = 514;

constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
constexpr std::uint16_t WAVE_FORMAT_ADPCM = 2;

constexpr std::uint32_t ACM_STREAMSIZEF_SOURCE = 0;
constexpr std::uint32_t ACM_STREAMSIZEF_DESTINATION = 1;
constexpr std::uint32_t ACM_STREAMCONVERTF_BLOCKALIGN = 0x4;
constexpr std::uint32_t ACM_STREAMCONVERTF_START = 0x10;
constexpr std::uint32_t ACM_STREAMCONVERTF_END = 0x20;
constexpr std::uint32_t ACMSTREAMHEADER_STATUSF_DONE = 0x10000;
constexpr std::uint32_t ACMSTREAMHEADER_STATUSF_PREPARED = 0x20000;
constexpr std::uint32_t ACMSTREAMHEADER_STATUSF_INQUEUE = 0x100000;

// The file's layout (18 bytes); cbSize extra bytes follow it in memory.
// For MS ADPCM they are samplesPerBlock, numCoef and numCoef pairs of
// 16-bit coefficients (32 bytes for the usual seven).
#pragma pack(push, 1)
struct WAVEFORMATEX {
  std::uint16_t wFormatTag;
  std::uint16_t nChannels;
  std::uint32_t nSamplesPerSec;
  std::uint32_t nAvgBytesPerSec;
  std::uint16_t nBlockAlign;
  std::uint16_t wBitsPerSample;
  std::uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

// Never looked at: no driver and no filter exist.
struct AcmDriver;
using HACMDRIVER = AcmDriver*;
struct WAVEFILTER;

struct AcmStream;
using HACMSTREAM = AcmStream*;

struct ACMSTREAMHEADER {
  std::uint32_t cbStruct;  // sizeof(ACMSTREAMHEADER)
  std::uint32_t fdwStatus;
  std::uintptr_t dwUser;
  std::uint8_t* pbSrc;
  std::uint32_t cbSrcLength;
  std::uint32_t cbSrcLengthUsed;
  std::uintptr_t dwSrcUser;
  std::uint8_t* pbDst;
  std::uint32_t cbDstLength;
  std::uint32_t cbDstLengthUsed;
  std::uintptr_t dwDstUser;
  std::uint32_t dwReservedDriver[10];
};

// pwfxSrc: MS ADPCM, 1 or 2 channels, with at least 32 extra bytes;
// pwfxDst: 16-bit PCM with the same channels and rate. No driver, no
// filter, no flags (asynchronous and query-only opens are not offered).
MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, const WAVEFORMATEX* pwfxDst,
                       const WAVEFILTER* pwfltr, std::uintptr_t dwCallback, std::uintptr_t dwInstance,
                       std::uint32_t fdwOpen);
MMRESULT acmStreamClose(HACMSTREAM has, std::uint32_t fdwClose);
// SOURCE: PCM bytes that cbInput bytes of whole blocks give;
// DESTINATION: ADPCM bytes of the whole blocks that fit cbInput PCM bytes.
MMRESULT acmStreamSize(HACMSTREAM has, std::uint32_t cbInput, std::uint32_t* pdwOutputBytes, std::uint32_t fdwSize);
MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, std::uint32_t fdwPrepare);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, std::uint32_t fdwUnprepare);
// Decodes the whole blocks of the source that fit the destination. Without
// ACM_STREAMCONVERTF_BLOCKALIGN a short last block is decoded too (as far as
// it goes) when it fits. A block whose predictor index is above 6, or a short
// last block without room for its header, stops the call with MMSYSERR_ERROR;
// the lengths used then count the blocks decoded before it.
MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, std::uint32_t fdwConvert);

}  // namespace plat
