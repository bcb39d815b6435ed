#include "ZmLib/Graphics/Video/VideoSource2.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <exception>
#include <string>
#include <thread>

#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLog.h"

namespace zm {

namespace {

std::atomic<std::int32_t> gHardwareSources{0};
std::atomic<TVideoDecodeFaultProc> gDecodeFault{nullptr};
THookInstall<TCreateFrameSourceProc> gVideoCreate;

WideString Ascii(const std::string& s) { return WideString(s.begin(), s.end()); }

std::uint8_t AspectClassOf(double aspect) {
  if (!(aspect > 0)) return acOther;  // also NaN
  if (std::fabs(aspect - 16.0 / 9.0) <= 0.001) return ac16x9;
  if (std::fabs(aspect - 4.0 / 3.0) <= 0.001) return ac4x3;
  return acOther;
}

bool EndsWithGif(const WideString& name) {
  if (name.size() < 4) return false;
  const WideString ext = name.substr(name.size() - 4);
  static const char16_t kGif[] = u".gif";
  for (int i = 0; i < 4; ++i) {
    char16_t c = ext[std::size_t(i)];
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
    if (c != kGif[i]) return false;
  }
  return true;
}

}  // namespace

WideString VideoCodecClass(std::int32_t codecId) {
  switch (codecId) {
    case AV_CODEC_ID_MPEG2VIDEO: return u"MPEG2";
    case AV_CODEC_ID_MPEG4: return u"MPEG4";
    case AV_CODEC_ID_H264: return u"H264";
    case AV_CODEC_ID_VP9: return u"VP9";
    case AV_CODEC_ID_HEVC: return u"HEVC";
    default: return u"OTHER";
  }
}

std::int32_t HardwareSourceCount() { return gHardwareSources.load(); }

void SetVideoDecodeFaultForTest(TVideoDecodeFaultProc proc) { gDecodeFault.store(proc); }

// ---- TVideoSource2 ------------------------------------------------------------------------

TVideoSource2::TVideoSource2(TStream* stream, bool multiThread, bool useHardware, const WideString& fileName,
                             bool ownsStream)
    : fileName_(fileName), stream_(stream), ownsStream_(ownsStream), multiThread_(multiThread) {
  ZM_ASSERT(stream != nullptr, "TVideoSource2.Create - Stream not Assigned");
  startPosition_ = stream_->GetPosition();
  if (useHardware) {
    if (gHardwareSources.fetch_add(1) + 1 > kMaxHardwareSources)
      gHardwareSources.fetch_sub(1);
    else
      hasSlot_ = true;
  }
  bool opened = false;
  try {
    opened = Open();
  } catch (const std::exception&) {
    opened = false;
  }
  if (opened) return;
  decoder_ = nullptr;
  if (!hasSlot_) return;
  // Hardware may be what failed: once more on the processor.
  ReleaseSlot();
  try {
    stream_->SetPosition(startPosition_);
    opened = Open();
  } catch (const std::exception&) {
    opened = false;
  }
  if (!opened) decoder_ = nullptr;
}

void TVideoSource2::Dispose() {
  imageConvertor_ = nullptr;
  bitmapConvertor_ = nullptr;
  decoder_ = nullptr;
  if (ownsStream_) FreeObject(stream_);
  stream_ = nullptr;
  ReleaseSlot();
  TFrameSource::Dispose();
}

void TVideoSource2::ReleaseSlot() {
  if (!hasSlot_) return;
  hasSlot_ = false;
  gHardwareSources.fetch_sub(1);
}

bool TVideoSource2::Open() {
  decoder_ = MakeRef<TFFMpegVideo>();
  if (!decoder_->Open(stream_, fileName_)) return false;
  if (hasSlot_ && !decoder_->IsHardwareCandidate()) ReleaseSlot();
  decoder_->SetHardwareWanted(hasSlot_);
  const std::int32_t cpus = std::max<std::int32_t>(1, std::int32_t(std::thread::hardware_concurrency()));
  decoder_->SetThreadCount(decoder_->IsThreadCandidate() && multiThread_ ? cpus : 1);

  const TFFStreamInfo& si = decoder_->StreamInfo();
  Info.Rotation = si.Rotation;
  Info.HasAlpha = si.SourcePixelFormat == AV_PIX_FMT_BGRA;
  Info.Width = si.Width;
  Info.Height = si.Height;
  // A rate with a zero or negative part is no rate.
  if (si.RateNum > 0 && si.RateDen > 0) {
    Info.FrameRate = double(si.RateNum) / si.RateDen;
    usPerFrame_ = 1000000.0 * si.RateDen / si.RateNum;
    framesPerUs_ = 1.0 / usPerFrame_;
  } else {
    Info.FrameRate = 0;
    usPerFrame_ = 0;
    framesPerUs_ = 0;
  }
  Info.FrameCount = std::int32_t(std::clamp<std::int64_t>(decoder_->FrameCount(), 0, INT32_MAX));
  Info.AspectClass = AspectClassOf(si.DisplayAspect);

  current_ = -1;
  if (Decode(INT64_MIN) && decoder_->FrameProps().Valid) {
    Info.Interlaced = decoder_->FrameProps().Interlaced;
    Info.TopFieldFirst = decoder_->FrameProps().TopFieldFirst;
    current_ = 0;
  }
  if (!HasFrame() || decoder_->FrameProps().PixelFormat < 0) return false;
  decodedFrame_ = true;
  Info.CodecClass = VideoCodecClass(si.CodecId);
  Info.Reserved = 0;
  lastRequest_ = -1;
  return true;
}

bool TVideoSource2::HasFrame() const { return decoder_ && current_ >= 0 && decoder_->CurrentFrame() != nullptr; }

bool TVideoSource2::Decode(std::int64_t targetTime) {
  const TVideoDecodeFaultProc fault = gDecodeFault.load();
  if (fault && fault(*this)) return false;
  return decoder_->DecodeNext(targetTime);
}

bool TVideoSource2::SeekTo(std::int64_t time) {
  const TVideoDecodeFaultProc fault = gDecodeFault.load();
  if (fault && fault(*this)) return false;
  ++seeks_;
  return decoder_->SeekTime(time) && decoder_->CurrentFrame() != nullptr;
}

bool TVideoSource2::SkipTo(std::int64_t time) {
  const TVideoDecodeFaultProc fault = gDecodeFault.load();
  if (fault && fault(*this)) return false;
  return decoder_->SkipTo(time) && decoder_->CurrentFrame() != nullptr;
}

std::int32_t TVideoSource2::StepWindow() const {
  // The rate's inverse of an inverse is a hair short for rates like 30
  // (2.9999...), which would cost a whole frame of the window.
  const double w = std::trunc(100000.0 * framesPerUs_ + 1e-6);
  return w > 0 && w < INT32_MAX ? std::int32_t(w) : 0;
}

bool TVideoSource2::SeekFrame(std::int32_t index) {
  if (index < 0) index = 0;
  if (!decoder_) return false;
  lastRequest_ = index;
  bool result = false;
  const std::int32_t window = StepWindow();
  // Stepping needs a known position: after a failure the decoder may be
  // anywhere, so only a seek can bring it back.
  if (current_ >= 0 && index >= current_ && std::int64_t(index) <= std::int64_t(current_) + window) {
    result = true;
    while (index > current_) {
      ++current_;
      // Frames before the one asked for are only skipped, never converted.
      if (!Decode(current_ < index ? INT64_MAX : INT64_MIN)) {
        current_ = -1;
        result = false;
        break;
      }
    }
    if (result && !HasFrame()) {
      current_ = -1;
      result = false;
    }
  } else {
    // A seek from a known frame starts a new count; one that follows a
    // failure goes on counting, or a decoder that always fails would never
    // be replaced.
    if (current_ >= 0) hwErrors_ = 0;
    const std::int64_t time = std::int64_t(double(index) * usPerFrame_);
    // Ahead of a known frame with no key frame in between, a seek would
    // decode everything from that key frame again: decoding on skips fewer
    // (frames late by more than the window are passed over so).
    const std::int64_t at = current_ >= 0 && index > current_ && HasFrame() ? decoder_->FrameTime() : AV_NOPTS_VALUE;
    const std::int64_t key = at != AV_NOPTS_VALUE ? decoder_->KeyFrameTimeBefore(time) : AV_NOPTS_VALUE;
    bool ok = key != AV_NOPTS_VALUE && key <= at && SkipTo(time);
    if (!ok) ok = SeekTo(time);
    if (!ok) ok = SeekTo(time + 1);
    if (ok) {
      const std::int64_t t = decoder_->FrameTime();
      current_ = t == AV_NOPTS_VALUE ? index
                                     : std::int32_t(std::clamp<double>(
                                           std::trunc((double(t) + usPerFrame_ * 0.5) * framesPerUs_), 0, INT32_MAX));
      result = true;
    } else {
      current_ = -1;
    }
  }
  if (result || decoder_->AtEnd() || !decodedFrame_ || !hasSlot_) return result;

  ++hwErrors_;
  LogLine(u"ffmpeg. fHWErrors = " + Ascii(std::to_string(hwErrors_)));
  if (hwErrors_ <= kMaxHardwareErrors) return false;
  decoder_ = nullptr;
  ReleaseSlot();
  decodedFrame_ = false;
  hwErrors_ = 0;
  bool reopened = false;
  try {
    stream_->SetPosition(startPosition_);
    reopened = Open();
  } catch (const std::exception&) {
    reopened = false;
  }
  if (!reopened) {
    decoder_ = nullptr;
    current_ = -1;
    return false;
  }
  return SeekFrame(index);
}

bool TVideoSource2::GetFrame(TYUVImage* image) {
  if (!image || !HasFrame()) return false;
  if (!ConvertToYUVImage(image, decoder_->CurrentFrame(), decoder_->FrameProps().PixelFormat, imageConvertor_))
    return false;
  image->Commit();
  return true;
}

bool TVideoSource2::GetFrameBitmap(TBitmap* bitmap) {
  if (!bitmap || !HasFrame()) return false;
  return ConvertToBitmap(bitmap, decoder_->CurrentFrame(), decoder_->FrameProps().PixelFormat, bitmapConvertor_);
}

bool TVideoSource2::UsesHardware() { return hasSlot_; }

// ---- Factory ----------------------------------------------------------------------------

TRef<TFrameSource> CreateVideoSource2(TStream* stream, bool ownsStream, const WideString& fileName, bool multiThread,
                                      bool useHardware) {
  if (!stream) return nullptr;
  // Animated GIFs keep their own source, which follows the per-frame delays.
  const TCreateFrameSourceProc next = gVideoCreate.Saved();
  if (next && EndsWithGif(fileName)) return next(stream, ownsStream, fileName, multiThread, useHardware);
  std::int64_t start = 0;
  TRef<TVideoSource2> source;
  try {
    start = stream->GetPosition();
    // Not owned until it opened, so that another kind may still take the stream.
    source = MakeRef<TVideoSource2>(stream, multiThread, useHardware, fileName, false);
  } catch (const std::exception&) {
    source = nullptr;
  }
  if (source && source->Decoder()) {
    source->SetOwnsStream(ownsStream);
    return source;
  }
  source = nullptr;
  if (next) {
    try {
      stream->SetPosition(start);
    } catch (const std::exception&) {
    }
    return next(stream, ownsStream, fileName, multiThread, useHardware);
  }
  if (ownsStream) FreeObject(stream);
  return nullptr;
}

void InitVideoSource2() { gVideoCreate.Install(CreateFrameSourceHook, &CreateVideoSource2); }

void FiniVideoSource2() { gVideoCreate.Restore(); }

}  // namespace zm
