#pragma once
// Animated GIF pictures, two ways. As a video: TGifVideoSource plugs into
// the frame-source hooks, decodes frames on demand, composes them on the
// logical screen with GIF disposal, keeps every tenth composed frame and maps
// frame numbers (at the rate of the shortest delay) to frames by time, with
// looping. As a still picture: the loaders for ".gif" and ".gif_first_frame"
// give the first image, and ".gif|framesatlas" gives every frame composed
// side by side in one bitmap, with a TTilesTag telling the layout and timing.
//
// Frame delays are DelayTime x 10 ms, a delay of 0 counting as 50 ms.
// Disposal rules (the system's own, kept identical in both ways where they
// apply): 2 leaves the previous frame's rectangle transparent; 3 in the video
// goes back to the composition of the nearest key frame, in the atlas to the
// last tile whose frame had disposal 1.
//
// Damaged data: a stream that is not GIF gives nil; a frame that cannot be
// decoded ends the scan at open and makes the composition of later frames
// fail (false, nothing written).
#include <cstdint>
#include <vector>

#include "ZmLib/Graphics/FrameSource.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/zmFPReadGIF.h"

namespace zm {

// Milliseconds of a delay in hundredths (0 counts as 50 ms).
inline std::int32_t GifDelayMs(std::uint16_t delayTime) { return delayTime == 0 ? 50 : std::int32_t(delayTime) * 10; }

// The atlas stops adding frames before its pixels would pass this.
constexpr std::int64_t kGifAtlasMaxPixels = 26214400;
// Video sources refuse logical screens with more pixels than this: every
// cached key frame and both work canvases are screen-sized.
constexpr std::int64_t kGifVideoMaxScreenPixels = std::int64_t(1) << 25;

// One frame of a video source.
class TGifFrameData : public TRefObject {
public:
  void Dispose() override;

  // The cached composition (screen size, "A8R8G8B8"): frame 0 from the
  // open, other key frames once composed.
  TRef<TDirectBitmap> Bitmap;
  std::uint16_t Left = 0;
  std::uint16_t Top = 0;
  std::uint16_t ImageWidth = 0;
  std::uint16_t ImageHeight = 0;
  std::uint8_t ImageFlags = 0;
  // The reader's graphic control as it stood when the frame was met.
  std::uint8_t BlockSize = 0;
  std::uint8_t ControlFlags = 0;
  std::uint16_t DelayTime = 0;
  std::uint8_t TransparentColorIndex = 0;
  std::uint8_t BlockTerminator = 0;
  bool IsKeyFrame = false;
  std::int32_t PrevDisposal = -1;
  TRect PrevRect;
  std::int32_t RestoreIndex = -1;
  // Where the next frame is read from: right behind this frame's data.
  std::int64_t StreamPosition = 0;

  std::int32_t Disposal() const { return ControlFlags >> 2; }
  std::int32_t DelayMs() const { return GifDelayMs(DelayTime); }
  TRect Rect() const { return {Left, Top, Left + ImageWidth, Top + ImageHeight}; }
  // The frame follows a disposal-3 frame that has something to go back to.
  bool FollowsRestore() const { return PrevDisposal == 3 && RestoreIndex >= 0; }
};

class TGifVideoSource : public TFrameSource {
public:
  // The stream stays open for decoding on demand; OwnsStream hands it over
  // (freed with the source).
  TGifVideoSource(TStream* stream, const WideString& fileName, bool ownsStream);
  void Dispose() override;

  // Scans the frames; false when the stream holds no animation (a still GIF
  // is not a video), is not GIF, or its screen is too large.
  bool Open();

  // Stores the frame number; always true.
  bool SeekFrame(std::int32_t index) override;
  // Composes the current frame into the packed plane 4 the image lends;
  // false (nothing drawn) when it lends none.
  bool GetFrame(TYUVImage* image) override;
  // Composes the current frame into Bitmap (a TDirectBitmap or a TSysBitmap,
  // any format, clipped to its size).
  bool GetFrameBitmap(TBitmap* bitmap) override;

  // The frame shown at T milliseconds: the first whose running sum of
  // delays exceeds T, the last when none does.
  std::int32_t FrameAtTime(double ms) const;
  // The frame of a frame number at the frame rate, with looping (a finite
  // loop count holds the last frame once it has played out).
  std::int32_t FrameForPosition(std::int32_t position) const;
  // Composition of frame N into Result (screen size, "A8R8G8B8"); false when
  // a frame on the way cannot be decoded.
  bool ComposeFrame(std::int32_t n, TDirectBitmap* result);

  std::int32_t FrameCount() const { return std::int32_t(Frames.size()); }
  TGifFrameData* Frame(std::int32_t i) const { return Frames[std::size_t(i)].get(); }
  std::int32_t Duration() const { return duration_; }  // ms, sum of all delays
  // The reader's loop count, 1000000 for "forever".
  std::int32_t LoopCount() const { return loopCount_; }
  std::int32_t Position() const { return position_; }
  std::int32_t LastIndex() const { return lastIndex_; }
  const WideString& FileName() const { return fileName_; }
  // Frames decoded since the open (diagnostics and tests).
  std::int32_t DecodeCount() const { return decodeCount_; }

  std::int32_t ScreenWidth = 0;
  std::int32_t ScreenHeight = 0;
  std::vector<TRef<TGifFrameData>> Frames;

private:
  TRef<TDirectBitmap> NewCanvas() const;
  // Decodes the next image at the stream's position; nil when none comes.
  TRef<TDirectBitmap> DecodeNext();
  // Seeks behind frame Index - 1 and decodes frame Index (frame 0 is never
  // decoded again: it is cached at the open).
  TRef<TDirectBitmap> DecodeFrame(std::int32_t index);
  // The canvas of frame Index: its image drawn on a new transparent canvas,
  // the transparent pixels filled from Previous.
  TRef<TDirectBitmap> ComposeOn(std::int32_t index, TDirectBitmap* image, TDirectBitmap* previous) const;
  // The cached composition a frame after a restore (disposal 3) goes back
  // to, or nil when it is not cached.
  TDirectBitmap* RestoreBase(std::int32_t n) const;
  bool BuildKeyFrames(std::int32_t from, std::int32_t to);
  void Keep(std::int32_t index, const TRef<TDirectBitmap>& canvas);
  bool ComposeCurrent();

  TStream* stream_;
  bool ownsStream_;
  TRef<TFPReaderGif> reader_;
  bool isValid_ = false;
  TRef<TDirectBitmap> lastFrame_;
  std::int32_t lastIndex_ = -1;
  WideString fileName_;
  std::int32_t position_ = 0;
  std::int32_t readerLoopCount_ = 1;
  std::int32_t shortest_ = 1000;  // ms, the shortest delay
  std::int32_t duration_ = 0;
  std::int32_t loopCount_ = 1;
  std::int32_t decodeCount_ = 0;
};

// One frame while an atlas is built.
class TImgStore : public TRefObject {
public:
  void Dispose() override;
  std::uint16_t Left = 0;
  std::uint16_t Top = 0;
  std::uint16_t ImageWidth = 0;
  std::uint16_t ImageHeight = 0;
  std::uint8_t ImageFlags = 0;
  std::uint8_t BlockSize = 0;
  std::uint8_t ControlFlags = 0;
  std::uint16_t DelayTime = 0;
  std::uint8_t TransparentColorIndex = 0;
  std::uint8_t BlockTerminator = 0;
  TRef<TDirectBitmap> Bitmap;  // the decoded image until it is drawn
};

// Loaders (registered for ".gif", ".gif_first_frame" and ".gif|framesatlas").
TRef<TBitmapStore> LoadGifBitmapStore(TStream* stream, const WideString& fileName, bool ownsStream,
                                      const TImageLoadHandler& handler);
TRef<TBitmapStore> LoadGifFirstFrameStore(TStream* stream, const WideString& fileName, bool ownsStream,
                                          const TImageLoadHandler& handler);
TRef<TBitmapStore> LoadGifFramesAtlas(TStream* stream, const WideString& fileName, bool ownsStream,
                                      const TImageLoadHandler& handler);
// The shared body: the first image, or with Atlas every frame side by side.
TRef<TBitmapStore> LoadGif(TStream* stream, const WideString& fileName, bool ownsStream,
                           const TImageLoadHandler& handler, bool atlas);

// The frame-source hook handlers: ".gif" names (letter case ignored) are
// this unit's; every other call goes to the handler installed before.
bool GifAcceptFrameSource(const WideString& fileName);
TRef<TFrameSource> GifCreateFrameSource(TStream* stream, bool ownsStream, const WideString& fileName,
                                        bool multiThread, bool useHardware);

void InitGifLoader();
void FiniGifLoader();

}  // namespace zm
