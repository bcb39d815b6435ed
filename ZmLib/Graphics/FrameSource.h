#pragma once
// Frame sources turn one video file into pictures by frame number; a YUV
// image is the picture a source fills, plane by plane. The factory hooks let
// the rest of the program make a source for a file without knowing which
// kinds exist: each kind chains its handler into the hooks at start-up.
//
// Frame numbers are 0-based.
#include <atomic>
#include <cstdint>
#include <mutex>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmLists.h"
#include "ZmLib/zmMonitors.h"
#include "ZmLib/zmStream.h"
#include "ZmLib/zmTypes.h"

namespace zm {

class TBitmap;  // the planes and frame bitmaps (zmBitmap)

// ---- Information record ---------------------------------------------------------------

// Aspect classes of the display aspect ratio.
constexpr std::uint8_t acOther = 0;  // other or unknown
constexpr std::uint8_t ac4x3 = 1;
constexpr std::uint8_t ac16x9 = 2;

// What a source tells of its video once opened; copied by value.
struct TFrameSourceInfo {
  std::int32_t Width = 0;  // pixels of the decoded frame
  std::int32_t Height = 0;
  std::uint8_t AspectClass = acOther;  // within 0.001 of 4:3 or 16:9
  bool Interlaced = false;             // from the first decoded frame
  bool TopFieldFirst = false;
  double FrameRate = 0;  // frames per second, 0 when unknown
  bool HasAlpha = false;  // the source pixels are 32-bit BGRA
  std::int32_t Reserved = 0;  // every source writes 0
  std::int32_t FrameCount = 0;
  // "H264", "MPEG2", "MPEG4", "VP9", "HEVC" or "OTHER".
  WideString CodecClass;
  std::int32_t Rotation = 0;  // whole degrees 0 to 359
  // One pass of the file in ms and the passes it asks for (a source that
  // loops for ever says kLoopForever); 0 where the source does not tell:
  // then the frame count alone bounds the clip.
  std::int32_t Duration = 0;
  std::int32_t LoopCount = 0;
};

constexpr std::int32_t kLoopForever = 1000000;

// The frame numbers a source answers over all its passes: the frame count,
// or, for a source that loops, the frames of Duration x LoopCount at the
// frame rate (at most the 32-bit range).
std::int32_t PlayedFrameCount(const TFrameSourceInfo& info);

// ---- TYUVImage ------------------------------------------------------------------------

// The picture a frame source fills: three planes (luma, then the two chroma
// planes at half width and half height, rounded up), or one packed plane
// when the derived class sets a layout flag: index 4 (32-bit BGRA) with the
// RGBA flag, else index 3 (16-bit grey) with the grey-scale flag. The plane
// operations of derived classes run under the image's own monitor.
class TYUVImage : public TMonitor {
public:
  // Sizes below 0 count as 0.
  TYUVImage(std::int32_t width, std::int32_t height);

  // The writable plane Index, or nil.
  virtual TRef<TBitmap> LockPlane(std::int32_t index) = 0;
  // Takes back a plane of LockPlane (the variable becomes nil).
  virtual bool UnlockPlane(std::int32_t index, TRef<TBitmap>& plane) = 0;
  // Marks every plane changed, so that the drawer uploads it.
  virtual void Commit() = 0;

  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  bool IsRGBA() const { return rgba_; }
  bool IsGrayScale() const { return grayScale_; }

  // The index of the packed plane (4 RGBA, 3 grey-scale), or -1 for three planes.
  std::int32_t PackedPlane() const;
  // Whether Index names a plane of this image's layout.
  bool HasPlane(std::int32_t index) const;
  // The size of plane Index (as a point: X the width, Y the height); the
  // empty size for an index the layout does not have.
  TPoint PlaneSize(std::int32_t index) const;

  // Lost content: the drawer marks the picture when its textures were lost
  // (calling the installed callback, which must not call back into the
  // picture's callback setter); writing a frame clears the mark.
  using TContentLostProc = void (*)(void* owner, TYUVImage* image);
  bool ContentLost() const { return contentLost_.load(); }
  void ClearContentLost() { contentLost_.store(false); }
  void MarkContentLost() {
    contentLost_.store(true);
    std::lock_guard<std::mutex> g(lostLock_);
    if (lostProc_) lostProc_(lostOwner_, this);
  }
  // Nil removes it; returns once a callback under way has ended.
  void SetContentLostCallback(TContentLostProc proc, void* owner) {
    std::lock_guard<std::mutex> g(lostLock_);
    lostProc_ = proc;
    lostOwner_ = owner;
  }

protected:
  void SetRGBA(bool on) { rgba_ = on; }
  void SetGrayScale(bool on) { grayScale_ = on; }

private:
  bool rgba_ = false;       // the plane-layout flag
  bool grayScale_ = false;  // the second flag
  std::int32_t width_;
  std::int32_t height_;
  std::atomic<bool> contentLost_{false};
  std::mutex lostLock_;
  TContentLostProc lostProc_ = nullptr;  // guarded by lostLock_
  void* lostOwner_ = nullptr;
};

// ---- TFrameSource -----------------------------------------------------------------------

class TFrameSource : public TRefObject {
public:
  TFrameSource();
  // Releases the owned list, then the inherited dispose.
  void Dispose() override;

  // Makes frame Index the current frame.
  virtual bool SeekFrame(std::int32_t index) = 0;
  // Writes the current frame into the image and, on success, calls the
  // image's Commit.
  virtual bool GetFrame(TYUVImage* image) = 0;
  // Writes the current frame into a 24-bit RGB bitmap.
  virtual bool GetFrameBitmap(TBitmap* bitmap) = 0;
  // Whether the source decodes with the graphics hardware; false here.
  virtual bool UsesHardware();

  // The list the source owns; its items belong to whoever added them.
  TList* List() const { return list_.get(); }

  // Filled by the source when it opens.
  TFrameSourceInfo Info;

private:
  TRef<TList> list_;
};

// ---- Factory --------------------------------------------------------------------------

// Makes a source for a file, or nil. The handler takes over an owned stream
// in every case: a source that it makes keeps it, and when it answers nil
// the stream has been freed. Handlers chain: a module that adds a kind saves
// the previous value at initialisation, handles its own files, passes every
// other call on (freeing an owned stream itself when there is no previous
// handler) and puts the saved value back at finalisation. Empty by default.
using TCreateFrameSourceProc = TRef<TFrameSource> (*)(TStream* stream, bool ownsStream, const WideString& fileName,
                                                      bool multiThread, bool useHardware);
extern TCreateFrameSourceProc CreateFrameSourceHook;

// Whether a file may be opened as video at all; chained the same way. Empty
// by default, which accepts every file.
using TAcceptFrameSourceProc = bool (*)(const WideString& fileName);
extern TAcceptFrameSourceProc AcceptFrameSourceHook;

// A source for the file through the hooks, or nil: nil without a factory,
// nil when the acceptance hook refuses the name, else what the factory
// answers. OwnsStream hands the stream over whatever the outcome: it is
// freed when no source keeps it. A stream that is not owned is never freed.
TRef<TFrameSource> CreateFrameSource(TStream* stream, bool ownsStream, const WideString& fileName, bool multiThread,
                                     bool useHardware);

}  // namespace zm
