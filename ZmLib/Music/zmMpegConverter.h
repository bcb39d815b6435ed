#pragma once
// MPEG audio (layers I to III) to 16-bit PCM through libmpg123's feed
// interface. One TMpg123 serves the whole process and keeps the library's
// calls one at a time; every converter has a decoder state of its own.
#include <cstddef>
#include <cstdint>

#include "ZmLib/Music/zmMpegInfo.h"
#include "ZmLib/Music/zmWavConverter.h"

namespace zm {

// A decoder state of the library (opaque outside the unit).
struct TMpgState;

enum class TMpgStatus {
  Ok,         // output was produced (or the buffer is full)
  NewFormat,  // the stream's format became known; counts as success
  NeedMore,   // all fed input is used up
  Error,      // damaged beyond use, or an output format other than the one asked for
};

class TMpg123 {
public:
  // Takes (or makes) the instance of the process and counts one user.
  static TMpg123* Acquire();
  // Drops one user; the last one destroys the instance.
  static void Release();
  // The current instance, nil when no user exists.
  static TMpg123* Instance();
  // How many instances were made so far (a later one is a new one).
  static std::uint32_t Generation();

  std::int32_t Users() const { return users_; }

  // A fresh feed decoder that gives signed 16-bit samples at rate with
  // channels and nothing else; replaces (and ends) a state already held.
  bool InitState(TMpgState*& state, std::int32_t rate, std::int32_t channels);
  void ExitState(TMpgState*& state);
  // Feeds inputBytes (may be 0) and decodes into at most outputBytes.
  TMpgStatus Decode(TMpgState* state, const std::uint8_t* input, std::size_t inputBytes, std::uint8_t* output,
                    std::size_t outputBytes, std::size_t& produced);

  static bool Succeeded(TMpgStatus s) { return s == TMpgStatus::Ok || s == TMpgStatus::NewFormat; }

private:
  TMpg123() = default;
  std::int32_t users_ = 0;
  TRef<TCriticalSection> lock_ = MakeRef<TCriticalSection>();
};

// The output holds the sound only: the encoder's delay and padding (and
// the decoder's own delay) are dropped, so that time 0 is the first sample
// the encoder was given. Times are exact to the sample: every decode counts
// the samples of the frames it decodes from the frame it started at.
class TMpegConverter : public TWavConverter {
public:
  static constexpr std::int32_t kDecodeRoom = 8192;
  static constexpr std::int64_t kMaxPrerollMs = 100;

  TMpegConverter();
  void Dispose() override;

  // Decodes from at least 100 ms (and the frames a bit reservoir may reach
  // back over) before the place and drops up to its exact sample, so that
  // the first audible frame decodes whole; then decodes a little ahead.
  void Seek(std::int64_t ms) override;
  bool Convert(TLocalBuffer& buffer) override;
  bool ReadInput() override;
  bool SetInputFormat(const TMediaInfo& info) override;

  TLocalBuffer& Decoded() { return *decoded_; }
  // What the last Seek decoded and dropped before the place (ms).
  double PrerollMs() const { return prerollMs_; }
  const TMpegGapless& Gapless() const { return gapless_; }
  // The decoder failed for good (the rest of the stream plays as silence).
  bool Failed() const { return failed_; }

private:
  // Decodes buffer into decoded; answers whether decoded holds data.
  bool DecodeStep(TLocalBuffer& buffer);
  void StartDecoder();
  // Drops from what DecodeStep added what lies before the place asked for
  // or past the sound's end.
  void Trim();

  TMpg123* mpg_ = nullptr;
  TMpgState* state_ = nullptr;
  TRef<TLocalBuffer> decoded_;
  std::int32_t scanCarry_ = 0;
  double prerollMs_ = 0;
  bool failed_ = false;
  TMpegGapless gapless_;
  // Sample indexes among everything the frames decode to (frame 0's first
  // sample is 0): the next one the decoder gives, the first one wanted, and
  // the end of the sound (-1: the stream's end).
  std::int64_t nextSample_ = 0;
  std::int64_t wantFrom_ = 0;
  std::int64_t soundEnd_ = -1;
};

}  // namespace zm
