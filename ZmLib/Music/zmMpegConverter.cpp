#include "ZmLib/Music/zmMpegConverter.h"

#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "ZmLib/Music/zmPcmResampler.h"

namespace zm {

struct TMpgState {
  mpg123_handle* Handle;
  long Rate;
  int Channels;
};

namespace {

// Guards the instance pointer and the user count: converters come and go on
// several threads.
std::mutex& InstanceLock() {
  static std::mutex m;
  return m;
}
TMpg123* gInstance = nullptr;
std::uint32_t gGeneration = 0;

}  // namespace

TMpg123* TMpg123::Acquire() {
  std::lock_guard<std::mutex> hold(InstanceLock());
  if (!gInstance) {
    gInstance = new TMpg123;
    ++gGeneration;
  }
  ++gInstance->users_;
  return gInstance;
}

void TMpg123::Release() {
  TMpg123* gone = nullptr;
  {
    std::lock_guard<std::mutex> hold(InstanceLock());
    if (!gInstance) return;
    if (--gInstance->users_ <= 0) gone = std::exchange(gInstance, nullptr);
  }
  delete gone;
}

TMpg123* TMpg123::Instance() {
  std::lock_guard<std::mutex> hold(InstanceLock());
  return gInstance;
}

std::uint32_t TMpg123::Generation() {
  std::lock_guard<std::mutex> hold(InstanceLock());
  return gGeneration;
}

bool TMpg123::InitState(TMpgState*& state, std::int32_t rate, std::int32_t channels) {
  TLockScope<TCriticalSection> hold(lock_.get());
  if (state) {
    mpg123_delete(state->Handle);
    delete std::exchange(state, nullptr);
  }
  if (rate <= 0 || channels < 1 || channels > 2) return false;
  int err = MPG123_OK;
  mpg123_handle* h = mpg123_new(nullptr, &err);
  if (!h) return false;
  // Whole frames out (no encoder delay or padding trimmed), so that a decode
  // from a sought frame keeps the timeline of a decode from the start; and
  // no printing on damaged data.
  mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  if (mpg123_format_none(h) != MPG123_OK ||
      mpg123_format(h, rate, channels == 1 ? MPG123_MONO : MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK ||
      mpg123_open_feed(h) != MPG123_OK) {
    mpg123_delete(h);
    return false;
  }
  state = new TMpgState{h, rate, channels};
  return true;
}

void TMpg123::ExitState(TMpgState*& state) {
  TLockScope<TCriticalSection> hold(lock_.get());
  if (!state) return;
  mpg123_delete(state->Handle);
  delete std::exchange(state, nullptr);
}

TMpgStatus TMpg123::Decode(TMpgState* state, const std::uint8_t* input, std::size_t inputBytes,
                           std::uint8_t* output, std::size_t outputBytes, std::size_t& produced) {
  TLockScope<TCriticalSection> hold(lock_.get());
  produced = 0;
  if (!state || (!output && outputBytes > 0) || (!input && inputBytes > 0)) return TMpgStatus::Error;
  std::size_t done = 0;
  const int rc = mpg123_decode(state->Handle, input, inputBytes, output, outputBytes, &done);
  produced = std::min(done, outputBytes);
  switch (rc) {
    case MPG123_OK:
      return TMpgStatus::Ok;
    case MPG123_NEW_FORMAT: {
      // Only the one format was allowed; anything else would not fit the
      // buffer the samples go to.
      long r = 0;
      int c = 0, e = 0;
      if (mpg123_getformat(state->Handle, &r, &c, &e) != MPG123_OK || r != state->Rate || c != state->Channels ||
          e != MPG123_ENC_SIGNED_16) {
        produced = 0;
        return TMpgStatus::Error;
      }
      return TMpgStatus::NewFormat;
    }
    case MPG123_NEED_MORE:
      return TMpgStatus::NeedMore;
    default:
      return TMpgStatus::Error;
  }
}

TMpegConverter::TMpegConverter() : mpg_(TMpg123::Acquire()), decoded_(MakeRef<TLocalBuffer>()) {
  blockSize_ = kBlockSize;
}

void TMpegConverter::Dispose() {
  if (mpg_) {
    mpg_->ExitState(state_);
    mpg_ = nullptr;
    TMpg123::Release();
  }
  decoded_ = nullptr;
  TWavConverter::Dispose();
}

void TMpegConverter::StartDecoder() {
  scanCarry_ = 0;
  failed_ = false;
  if (!mpg_ || !mpg_->InitState(state_, std::int32_t(mediaInfo_.Format.nSamplesPerSec), mediaInfo_.Format.nChannels)) {
    failed_ = true;
  }
}

bool TMpegConverter::SetInputFormat(const TMediaInfo& info) {
  const std::int32_t small = 6 * std::int32_t(std::min<std::uint32_t>(info.FrameLength, kBlockSize));
  const std::int32_t wanted = info.DataSize == 0 && small > 0 ? std::min(kBlockSize, small) : kBlockSize;
  blockSize_ = wanted;
  decoded_->Format = Pcm16Format(info.Format.nChannels, info.Format.nSamplesPerSec);
  gapless_ = TMpegInfo::ReadGapless(Stream, info);
  // A frame of another rate than the stream's would put the sound elsewhere.
  if (gapless_.SampleRate != std::int32_t(info.Format.nSamplesPerSec)) gapless_ = TMpegGapless::Parse(nullptr, 0);
  if (!TWavConverter::SetInputFormat(info)) return false;
  blockSize_ = wanted;
  decoded_->Consume(decoded_->Length());
  decoded_->EnsureFree(blockSize_);
  StartDecoder();
  return !failed_;
}

bool TMpegConverter::DecodeStep(TLocalBuffer& buffer) {
  if (!state_ || failed_) {
    buffer.Consume(buffer.Length());
    return decoded_->Length() > 0;
  }
  std::size_t produced = 0;
  decoded_->EnsureFree(kDecodeRoom);
  TMpgStatus st = mpg_->Decode(state_, buffer.Data(), std::size_t(buffer.Length()), decoded_->WritePointer(),
                               std::size_t(decoded_->FreeSpace()), produced);
  decoded_->AddLength(std::int32_t(produced));
  buffer.Consume(buffer.Length());
  while (TMpg123::Succeeded(st)) {
    // A success that gave nothing with room to spare has nothing more to give.
    if (st == TMpgStatus::Ok && produced == 0) break;
    decoded_->EnsureFree(kDecodeRoom);
    st = mpg_->Decode(state_, nullptr, 0, decoded_->WritePointer(), std::size_t(decoded_->FreeSpace()), produced);
    decoded_->AddLength(std::int32_t(produced));
  }
  if (st == TMpgStatus::Error) failed_ = true;
  return decoded_->Length() > 0;
}

void TMpegConverter::Trim() {
  const std::int64_t align = std::max<std::int64_t>(1, decoded_->Format.nBlockAlign);
  const std::int64_t frames = decoded_->Length() / align;
  const std::int64_t first = nextSample_;
  nextSample_ += frames;
  const std::int64_t drop = std::clamp<std::int64_t>(wantFrom_ - first, 0, frames);
  std::int64_t keep = frames - drop;
  if (soundEnd_ >= 0) keep = std::clamp<std::int64_t>(soundEnd_ - (first + drop), 0, keep);
  decoded_->Consume(std::int32_t(drop * align));
  decoded_->Truncate(std::int32_t(keep * align));
}

bool TMpegConverter::Convert(TLocalBuffer& buffer) {
  // Input that gives no whole frame yet is not the end; a broken decoder is.
  if (!DecodeStep(buffer)) return !failed_;
  Trim();
  if (decoded_->Length() == 0) return true;
  return TWavConverter::Convert(*decoded_);
}

bool TMpegConverter::ReadInput() {
  // The sound has been given whole: what follows is the encoder's padding.
  if (soundEnd_ >= 0 && nextSample_ >= soundEnd_) return false;
  // Like the base, but one block at a time (the block may be smaller than
  // the buffer), and to the stream's end when the info gives no size.
  TStreamWrapperClass* w = StreamWrapper();
  const std::int64_t pos = w->GetPosition(Stream);
  std::int64_t end = mediaInfo_.DataSize > 0 ? std::int64_t(mediaInfo_.DataOffset) + mediaInfo_.DataSize
                                            : w->GetSize(Stream);
  const std::int32_t before = Input().Length();
  end = std::min(end, pos + std::max(0, blockSize_ - before));
  if (pos < 0 || !Input().FillFromStream(Stream, end)) return false;
  const std::int32_t bytes = Input().Length() - before;
  TMpegInfo::ScanFrames(Stream, Input().Data() + before, scanCarry_, bytes);
  return true;
}

void TMpegConverter::Seek(std::int64_t ms) {
  const std::uint32_t avg = mediaInfo_.Format.nAvgBytesPerSec, rate = mediaInfo_.Format.nSamplesPerSec;
  const std::int64_t spf = gapless_.SamplesPerFrame;
  if (avg == 0 || rate == 0 || spf <= 0 || !Stream || !mpg_) {
    TWavConverter::Seek(ms);
    if (decoded_) decoded_->Consume(decoded_->Length());
    nextSample_ = 0;
    wantFrom_ = gapless_.Skip;
    soundEnd_ = -1;
    return;
  }
  if (ms < 0) ms = 0;
  // Far times are clamped before they become samples: past any stream.
  const double sample = std::nearbyint(std::min(double(ms), 1e12) * rate / 1000.0);
  const std::int64_t place = std::int64_t(sample) + gapless_.Skip;
  const std::int64_t lead =
      std::max<std::int64_t>(gapless_.LeadFrames, (std::int64_t(rate) * kMaxPrerollMs / 1000 + spf - 1) / spf);
  const std::int64_t startFrame = ms > 0 ? std::max<std::int64_t>(0, place / spf - lead) : 0;
  mpg_->ExitState(state_);
  const std::int64_t reached = TMpegInfo::SeekToFrame(Stream, startFrame, mediaInfo_);
  Input().Consume(Input().Length());
  Output().Consume(Output().Length());
  padded_ = 0;
  decoded_->Consume(decoded_->Length());
  if (resampler_) resampler_->Reset();
  StartDecoder();
  nextSample_ = reached * spf;
  wantFrom_ = place;
  soundEnd_ = gapless_.Samples >= 0 ? gapless_.Skip + gapless_.Samples : -1;
  decodedMs_ = double(place - gapless_.Skip) * 1000.0 / rate;
  prerollMs_ = double(place - nextSample_) * 1000.0 / rate;
  // Decoded ahead past the place (not padded: past the end nothing is).
  if (ms > 0) {
    const std::int32_t ahead = std::int32_t(Output().Format.nAvgBytesPerSec / 10);
    while (Output().Length() < ahead && ReadInput() && Convert(Input())) {
    }
  }
}

}  // namespace zm
