#pragma once
// The frame source for every video file FFmpeg can read. It decides on
// hardware decoding and the decoder's thread count, steps or seeks to frame
// numbers, converts the current frame for the drawer, and falls back to the
// processor when hardware decoding keeps failing.
//
// A source is used by one thread at a time; the count of hardware slots is
// the only state sources share.
#include <cstdint>

#include "ZmLib/Graphics/FrameSource.h"
#include "ZmLib/Graphics/Video/FFMpegConvert.h"
#include "ZmLib/Graphics/Video/FFMpegReader.h"

namespace zm {

// At most this many sources decode on the graphics hardware at a time.
constexpr std::int32_t kMaxHardwareSources = 10;
// Failed frame requests with hardware before the clip is reopened without it.
constexpr std::int32_t kMaxHardwareErrors = 5;

class TVideoSource2 : public TFrameSource {
public:
  // Stream must not be nil. An owned stream is freed with the source, also
  // when the clip could not be opened (Decoder() is then nil).
  TVideoSource2(TStream* stream, bool multiThread, bool useHardware, const WideString& fileName, bool ownsStream);
  void Dispose() override;

  // Frame Index (below 0 counts as 0): a few frames ahead are decoded in
  // turn, so are those further ahead that no key frame lies before, anything
  // else is a seek.
  bool SeekFrame(std::int32_t index) override;
  bool GetFrame(TYUVImage* image) override;
  bool GetFrameBitmap(TBitmap* bitmap) override;
  // True while a hardware slot is held.
  bool UsesHardware() override;

  TFFMpegVideo* Decoder() const { return decoder_.get(); }
  // -1 when there is none.
  std::int32_t CurrentFrame() const { return current_; }
  std::int32_t HardwareErrors() const { return hwErrors_; }
  // The frames stepped through instead of seeking: those within 0.1 s.
  std::int32_t StepWindow() const;
  // The seeks the decoder made (a jump forward that a seek would decode
  // from the same key frame or an earlier one decodes on instead).
  std::int32_t Seeks() const { return seeks_; }

  // The stream is given up with the source (the factory takes it back when
  // the clip did not open).
  void SetOwnsStream(bool on) { ownsStream_ = on; }

private:
  bool Open();
  void ReleaseSlot();
  bool Decode(std::int64_t targetTime);
  bool SeekTo(std::int64_t time);
  bool SkipTo(std::int64_t time);
  bool HasFrame() const;

  WideString fileName_;
  std::int64_t startPosition_ = 0;
  TStream* stream_ = nullptr;
  bool ownsStream_ = false;
  bool hasSlot_ = false;
  bool decodedFrame_ = false;
  std::int32_t hwErrors_ = 0;
  std::int32_t seeks_ = 0;
  bool multiThread_ = false;
  TRef<TFFMpegVideo> decoder_;
  std::int32_t lastRequest_ = -1;
  double usPerFrame_ = 0;
  double framesPerUs_ = 0;
  std::int32_t current_ = -1;
  TRef<TFFVideoFormatConvertor> imageConvertor_;
  TRef<TFFVideoFormatConvertor> bitmapConvertor_;
};

// The codec class the information record names for a codec id.
WideString VideoCodecClass(std::int32_t codecId);

// The factory chained into CreateFrameSourceHook: a source when FFmpeg opens
// the clip, else the previous handler's answer (the stream rewound).
TRef<TFrameSource> CreateVideoSource2(TStream* stream, bool ownsStream, const WideString& fileName, bool multiThread,
                                      bool useHardware);

// Sources holding a hardware slot now.
std::int32_t HardwareSourceCount();

// Test seam: when set, every decode or seek of a source for which it answers
// true fails, as a broken hardware decoder would. Nil restores normal work.
using TVideoDecodeFaultProc = bool (*)(const TVideoSource2& source);
void SetVideoDecodeFaultForTest(TVideoDecodeFaultProc proc);

// Module start and end: chains the factory in and restores the previous one.
void InitVideoSource2();
void FiniVideoSource2();

}  // namespace zm
