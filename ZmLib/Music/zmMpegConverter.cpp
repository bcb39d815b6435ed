#include "ZmLib/Music/zmMpegConverter.h"

#include <mpg123.h>

#include <algorithm>
#include <mutex>

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
  if (!TWavConverter::SetInputFormat(info)) return false;
  blockSize_ = wanted;
  decoded_->Format = Pcm16Format(info.Format.nChannels, info.Format.nSamplesPerSec);
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

bool TMpegConverter::Convert(TLocalBuffer& buffer) {
  // Input that gives no whole frame yet is not the end; a broken decoder is.
  if (!DecodeStep(buffer)) return !failed_;
  return TWavConverter::Convert(*decoded_);
}

bool TMpegConverter::ReadInput() {
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
  const std::uint32_t avg = mediaInfo_.Format.nAvgBytesPerSec;
  if (avg == 0 || !Stream || !mpg_) {
    TWavConverter::Seek(ms);
    if (decoded_) decoded_->Consume(decoded_->Length());
    return;
  }
  if (ms < 0) ms = 0;
  mpg_->ExitState(state_);
  const std::int64_t preroll = std::min(ms, kMaxPrerollMs);
  const std::int64_t target = ms - preroll;
  const std::int64_t answer = TMpegInfo::SeekToTime(Stream, target, mediaInfo_);
  Input().Consume(Input().Length());
  Output().Consume(Output().Length());
  decoded_->Consume(decoded_->Length());
  StartDecoder();
  decodedMs_ = double(target) - double(answer);
  prerollMs_ = preroll;
  const std::int64_t align = std::max<std::int64_t>(1, mediaInfo_.Format.nBlockAlign);
  const std::int64_t prerollBytes = preroll * avg / 1000 / align * align;
  const std::int64_t tenth = std::max(align, std::int64_t(avg) / 10 / align * align);
  for (int i = 0; i < 11 && Output().Length() < prerollBytes; ++i) Fill(std::int32_t(tenth));
  Output().Consume(std::int32_t(prerollBytes));
}

}  // namespace zm
