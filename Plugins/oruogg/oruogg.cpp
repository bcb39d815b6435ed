// The Ogg Vorbis decoder plug-in over libvorbisfile. Only Vorbis is taken:
// other codecs in an Ogg container (Opus, FLAC) are refused so that the
// player hands them to its general decoder. Streams of more than two
// channels are folded to stereo here, where their layout is known (Vorbis
// orders its channels its own way).
#include <vorbis/vorbisfile.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "Platform/Sound/PlatChannelFold.h"
#include "ZmLib/Music/oru_plugin.h"

namespace {

constexpr int kMaxChannels = 8;
constexpr long kMinRate = 1000;
constexpr long kMaxRate = 768000;
// Bytes handed over per Decode.
constexpr int kPieceBytes = 16384;
// Consecutive holes (lost pages) tolerated before a stream counts as broken.
constexpr int kMaxHoles = 64;

struct TSource {
  void* Stream;
  const OruStreamCallbacks* Callbacks;
};

// The player's procedures may raise (a failing file); that must not cross libvorbisfile.
size_t ReadProc(void* ptr, size_t size, size_t count, void* data) {
  auto* s = static_cast<TSource*>(data);
  if (size == 0 || count == 0) return 0;
  size_t want = size * count;
  if (want / size != count) return 0;
  auto* out = static_cast<unsigned char*>(ptr);
  size_t got = 0;
  try {
    while (got < want) {
      const size_t left = want - got;
      const int32_t piece = left > (1u << 20) ? int32_t(1 << 20) : int32_t(left);
      const int32_t n = s->Callbacks->Read(s->Stream, out + got, piece);
      if (n <= 0 || n > piece) break;
      got += size_t(n);
    }
  } catch (...) {
    errno = EIO;
    return got / size;
  }
  return got / size;
}

int SeekProc(void* data, ogg_int64_t offset, int whence) {
  auto* s = static_cast<TSource*>(data);
  try {
    int64_t r = -1;
    switch (whence) {
      case SEEK_SET:
        if (offset < 0) return -1;
        r = s->Callbacks->Seek64(s->Stream, offset, 0);
        break;
      case SEEK_CUR:
        r = s->Callbacks->Seek64(s->Stream, offset, 1);
        break;
      case SEEK_END:
        if (offset == INT64_MIN) return -1;
        r = s->Callbacks->Seek64(s->Stream, -offset, 2);
        break;
      default:
        return -1;
    }
    return r < 0 ? -1 : 0;
  } catch (...) {
    return -1;
  }
}

long TellProc(void* data) {
  auto* s = static_cast<TSource*>(data);
  try {
    return long(s->Callbacks->GetPosition64(s->Stream));
  } catch (...) {
    return -1;
  }
}

const ov_callbacks kCallbacks{ReadProc, SeekProc, nullptr, TellProc};

bool Rewind(const TSource& s) {
  try {
    return s.Callbacks->Seek64(s.Stream, 0, 0) == 0;
  } catch (...) {
    return false;
  }
}

bool UsableInfo(const vorbis_info* vi) {
  return vi && vi->channels >= 1 && vi->channels <= kMaxChannels && vi->rate >= kMinRate && vi->rate <= kMaxRate;
}

// The channels handed to the player: wider streams come folded to stereo.
int OutputChannels(int channels) { return channels > 2 ? 2 : channels; }

// The speakers of Vorbis' channel orders for 3 to 8 channels.
plat::sound::TStereoFold VorbisFold(int channels) {
  using namespace plat::sound;
  constexpr std::uint32_t L = kSpeakerFrontLeft, R = kSpeakerFrontRight, C = kSpeakerFrontCenter,
                          LFE = kSpeakerLowFrequency, BL = kSpeakerBackLeft, BR = kSpeakerBackRight,
                          SL = kSpeakerSideLeft, SR = kSpeakerSideRight, BC = kSpeakerBackCenter;
  static const std::uint32_t kOrders[9][8] = {{},
                                              {C},
                                              {L, R},
                                              {L, C, R},
                                              {L, R, BL, BR},
                                              {L, C, R, BL, BR},
                                              {L, C, R, BL, BR, LFE},
                                              {L, C, R, SL, SR, BC, LFE},
                                              {L, C, R, SL, SR, BL, BR, LFE}};
  return StereoFoldOf(kOrders[channels], std::uint32_t(channels));
}

// Folds n frames of 16-bit samples in place (the stereo result fits where
// the wider frames were); answers the bytes of the result.
long Fold(char* pcm, long bytes, int channels, const plat::sound::TStereoFold& fold) {
  const long frames = bytes / (2 * channels);
  auto* s = reinterpret_cast<int16_t*>(pcm);
  for (long f = 0; f < frames; ++f) {
    float l = 0, r = 0;
    for (int c = 0; c < channels; ++c) {
      const float v = s[f * channels + c];
      l += fold.Left[c] * v;
      r += fold.Right[c] * v;
    }
    const auto clamp = [](float v) { return int16_t(std::lrint(v > 32767 ? 32767 : v < -32768 ? -32768 : v)); };
    s[2 * f] = clamp(l);
    s[2 * f + 1] = clamp(r);
  }
  return frames * 4;
}

struct TDecoder {
  TSource Source;
  OggVorbis_File File;
  OruWriteProc Write;
  void* Target;
  int Channels;
  long Rate;
  bool Ended;
  plat::sound::TStereoFold Folding;
  char Piece[kPieceBytes];
};

}  // namespace

extern "C" {

ORU_EXPORT int32_t GetMediaInfo(void* stream, const OruStreamCallbacks* callbacks, int32_t* durationMs,
                                int32_t* dataOffset, OruWaveFormatEx* format) {
  if (!stream || !callbacks || !durationMs || !dataOffset || !format) return 0;
  TSource source{stream, callbacks};
  if (!Rewind(source)) return 0;
  OggVorbis_File file;
  if (ov_open_callbacks(&source, &file, nullptr, 0, kCallbacks) != 0) return 0;
  int32_t answer = 0;
  const vorbis_info* vi = ov_info(&file, -1);
  const double total = ov_time_total(&file, -1);
  // A stream whose end cannot be found (damaged or cut short) decodes to
  // nothing here; the player's general decoder copes better with it.
  if (UsableInfo(vi) && total > 0) {
    const double ms = total * 1000.0 + 0.5;
    *durationMs = ms < 2147483647.0 ? int32_t(ms) : INT32_MAX;
    *dataOffset = 0;
    std::memset(format, 0, sizeof *format);
    format->wFormatTag = 1;
    format->nChannels = uint16_t(OutputChannels(vi->channels));
    format->nSamplesPerSec = uint32_t(vi->rate);
    format->wBitsPerSample = 16;
    format->nBlockAlign = uint16_t(format->nChannels * 2);
    format->nAvgBytesPerSec = format->nSamplesPerSec * format->nBlockAlign;
    answer = 1;
  }
  ov_clear(&file);
  return answer;
}

ORU_EXPORT void* CreateDecoder(void* stream, const OruStreamCallbacks* callbacks, OruWriteProc write, void* target,
                               int32_t /*reserved*/) {
  if (!stream || !callbacks || !write) return nullptr;
  auto* d = new (std::nothrow) TDecoder;
  if (!d) return nullptr;
  d->Source = {stream, callbacks};
  d->Write = write;
  d->Target = target;
  d->Ended = false;
  if (!Rewind(d->Source) || ov_open_callbacks(&d->Source, &d->File, nullptr, 0, kCallbacks) != 0) {
    delete d;
    return nullptr;
  }
  const vorbis_info* vi = ov_info(&d->File, -1);
  if (!UsableInfo(vi)) {
    ov_clear(&d->File);
    delete d;
    return nullptr;
  }
  d->Channels = vi->channels;
  d->Rate = vi->rate;
  if (d->Channels > 2) d->Folding = VorbisFold(d->Channels);
  return d;
}

ORU_EXPORT void DestroyDecoder(void* decoder) {
  auto* d = static_cast<TDecoder*>(decoder);
  if (!d) return;
  ov_clear(&d->File);
  delete d;
}

ORU_EXPORT int32_t Decode(void* decoder) {
  auto* d = static_cast<TDecoder*>(decoder);
  if (!d || d->Ended) return 0;
  int holes = 0;
  for (;;) {
    int section = 0;
    const long n = ov_read(&d->File, d->Piece, kPieceBytes, 0, 2, 1, &section);
    if (n == OV_HOLE && ++holes < kMaxHoles) continue;
    if (n <= 0) {
      d->Ended = true;
      return 0;
    }
    // A chained stream that changes its format here cannot go on in the
    // format the player set up.
    const vorbis_info* vi = ov_info(&d->File, section);
    if (!vi || vi->channels != d->Channels || vi->rate != d->Rate) {
      d->Ended = true;
      return 0;
    }
    const long out = d->Channels > 2 ? Fold(d->Piece, n, d->Channels, d->Folding) : n;
    if (out <= 0) continue;
    d->Write(d->Target, d->Piece, int32_t(out));
    return int32_t(out);
  }
}

ORU_EXPORT int32_t SetPosition(void* decoder, int32_t* ms) {
  auto* d = static_cast<TDecoder*>(decoder);
  if (!d || !ms) return 0;
  const int64_t want = *ms < 0 ? 0 : *ms;
  ogg_int64_t pcm = want * d->Rate / 1000;
  const ogg_int64_t total = ov_pcm_total(&d->File, -1);
  if (total >= 0 && pcm > total) pcm = total;
  if (ov_pcm_seek(&d->File, pcm) != 0) return 0;
  d->Ended = false;
  const ogg_int64_t at = ov_pcm_tell(&d->File);
  if (at >= 0) *ms = int32_t(at * 1000 / d->Rate);
  return 1;
}

}  // extern "C"
