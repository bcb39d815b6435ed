#pragma once
// How a frame of more than two channels folds to stereo: the front left and
// right on their sides, the surrounds (back and side) on theirs at -3 dB, the
// centres on both at -3 dB (a back or top centre at -6 dB), the
// low-frequency channels left out; the whole scaled down so that no side
// gets more than the sum of full-scale channels it takes, so a source that
// does not clip never clips. Mono sounds on both sides at its own level.
// Header only and standard types only: the Ogg plug-in folds with it too.
#include <cstddef>
#include <cstdint>

namespace plat::sound {

// Speaker bits as the WAVE extensible format and FFmpeg number them; a
// layout's channels come in the order of their bits.
constexpr std::uint32_t kSpeakerFrontLeft = 0x1;
constexpr std::uint32_t kSpeakerFrontRight = 0x2;
constexpr std::uint32_t kSpeakerFrontCenter = 0x4;
constexpr std::uint32_t kSpeakerLowFrequency = 0x8;
constexpr std::uint32_t kSpeakerBackLeft = 0x10;
constexpr std::uint32_t kSpeakerBackRight = 0x20;
constexpr std::uint32_t kSpeakerFrontLeftOfCenter = 0x40;
constexpr std::uint32_t kSpeakerFrontRightOfCenter = 0x80;
constexpr std::uint32_t kSpeakerBackCenter = 0x100;
constexpr std::uint32_t kSpeakerSideLeft = 0x200;
constexpr std::uint32_t kSpeakerSideRight = 0x400;
constexpr std::uint32_t kSpeakerTopCenter = 0x800;
constexpr std::uint32_t kSpeakerTopFrontLeft = 0x1000;
constexpr std::uint32_t kSpeakerTopFrontCenter = 0x2000;
constexpr std::uint32_t kSpeakerTopFrontRight = 0x4000;
constexpr std::uint32_t kSpeakerTopBackLeft = 0x8000;
constexpr std::uint32_t kSpeakerTopBackCenter = 0x10000;
constexpr std::uint32_t kSpeakerTopBackRight = 0x20000;

// Layouts wider than this fold only their first kMaxFoldChannels channels.
constexpr std::uint32_t kMaxFoldChannels = 32;

// The layout a channel count stands for when nothing else says it (FFmpeg's
// choice for such streams, so that a file sounds alike by every road):
// mono, stereo, 2.1, 4.0, 5.0, 5.1, 6.1, 7.1; wider counts take the first
// bits in order.
constexpr std::uint32_t DefaultChannelMask(std::uint32_t channels) {
  switch (channels) {
    case 1: return kSpeakerFrontCenter;
    case 2: return 0x3;
    case 3: return 0xB;
    case 4: return 0x107;
    case 5: return 0x37;
    case 6: return 0x3F;
    case 7: return 0x70F;
    case 8: return 0x63F;
    default: return channels >= 32 ? 0xFFFFFFFFu : (1u << channels) - 1;
  }
}

// The weights of each channel on the left and the right.
struct TStereoFold {
  std::uint32_t Channels = 0;
  float Left[kMaxFoldChannels] = {};
  float Right[kMaxFoldChannels] = {};
};

namespace fold_detail {

constexpr float kMinus3dB = 0.70710678f;
constexpr float kMinus6dB = 0.5f;

// One speaker's weights.
constexpr void Weights(std::uint32_t speaker, float& left, float& right) {
  switch (speaker) {
    case kSpeakerFrontLeft:
    case kSpeakerFrontLeftOfCenter:
      left = 1, right = 0;
      return;
    case kSpeakerFrontRight:
    case kSpeakerFrontRightOfCenter:
      left = 0, right = 1;
      return;
    case kSpeakerFrontCenter:
      left = right = kMinus3dB;
      return;
    case kSpeakerLowFrequency:
      left = right = 0;
      return;
    case kSpeakerBackLeft:
    case kSpeakerSideLeft:
    case kSpeakerTopFrontLeft:
    case kSpeakerTopBackLeft:
      left = kMinus3dB, right = 0;
      return;
    case kSpeakerBackRight:
    case kSpeakerSideRight:
    case kSpeakerTopFrontRight:
    case kSpeakerTopBackRight:
      left = 0, right = kMinus3dB;
      return;
    default:  // back and top centres, and speakers without a side
      left = right = kMinus6dB;
      return;
  }
}

}  // namespace fold_detail

// The fold of channels laid out as speakers[0..channels) say (one bit each).
constexpr TStereoFold StereoFoldOf(const std::uint32_t* speakers, std::uint32_t channels) {
  TStereoFold f;
  f.Channels = channels < kMaxFoldChannels ? channels : kMaxFoldChannels;
  if (f.Channels == 1) {
    f.Left[0] = f.Right[0] = 1;
    return f;
  }
  float sumLeft = 0, sumRight = 0;
  for (std::uint32_t c = 0; c < f.Channels; ++c) {
    fold_detail::Weights(speakers[c], f.Left[c], f.Right[c]);
    sumLeft += f.Left[c];
    sumRight += f.Right[c];
  }
  const float most = sumLeft > sumRight ? sumLeft : sumRight;
  if (most > 1) {
    for (std::uint32_t c = 0; c < f.Channels; ++c) {
      f.Left[c] /= most;
      f.Right[c] /= most;
    }
  }
  return f;
}

// The fold of channels in the order of the mask's bits; a mask that does not
// name as many speakers as there are channels stands for the count's default.
constexpr TStereoFold StereoFold(std::uint32_t channels, std::uint32_t mask = 0) {
  std::uint32_t bits = 0;
  for (std::uint32_t m = mask; m; m &= m - 1) ++bits;
  if (bits != channels) mask = DefaultChannelMask(channels);
  std::uint32_t speakers[kMaxFoldChannels] = {};
  std::uint32_t n = 0;
  for (std::uint32_t bit = 0; bit < 32 && n < kMaxFoldChannels && n < channels; ++bit)
    if (mask & (1u << bit)) speakers[n++] = 1u << bit;
  // Counts beyond the mask's bits: the rest have no side.
  for (; n < channels && n < kMaxFoldChannels; ++n) speakers[n] = 0;
  return StereoFoldOf(speakers, channels);
}

}  // namespace plat::sound
