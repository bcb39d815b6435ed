#pragma once
// Decodes the pictures of one clip on a worker thread, ahead of the drawer,
// into a small pool of pictures that the owner supplies. The drawing thread
// takes the nearest picture at once; the worker decodes the one wanted next.
//
// Owner's protocol: Create, AddImage for every picture, Request / TakeFrame /
// PutBack while showing, Stop before the last reference goes.
//
// The worker writes a frame holding no lock of its own; the picture's plane
// locks take the picture's monitor, then the device's lock. The extractor's
// monitor is innermost: nothing else is taken under it, and pictures are
// let go outside it.
#include <cstdint>
#include <vector>

#include "ZmLib/Graphics/FrameSource.h"
#include "ZmLib/zmMonitors.h"

namespace zm {

// A picture with the frame it holds. Frame index kNoVideoFrame: nothing
// decoded yet; kLostVideoFrame: the picture's content was lost.
constexpr std::int32_t kNoVideoFrame = -2;
constexpr std::int32_t kLostVideoFrame = -2147483647;

struct TVideoPoolEntry {
  TRef<TYUVImage> Image;                 // the pool's (or the taker's) reference
  std::int32_t AskedIndex = kNoVideoFrame;  // what the consumer asked for when it took it
  std::int32_t FrameIndex = kNoVideoFrame;  // what the picture holds
};

class TOruVideoExtractor : public TActiveMonitor {
public:
  // Nil for a nil source. OwnsSource: the extractor takes over one
  // reference the caller holds (Detach it); otherwise it takes its own. The
  // worker starts at once, one priority step below normal, and drops the
  // source when it ends.
  static TRef<TOruVideoExtractor> Create(TFrameSource* source, bool ownsSource);

  void Dispose() override;

  // Adds an empty picture to the pool and installs the lost-content
  // callback in it. Nil images, and images after Stop, are ignored.
  void AddImage(TYUVImage* image);

  // The frame shown at clip time TimeMs, clamped to 0 .. frame count - 1
  // (0 for a clip without frames or without a frame rate). A source that
  // loops counts the frames of all its passes (PlayedFrameCount): it wraps
  // the numbers past one pass itself.
  std::int32_t FrameIndexAt(double timeMs) const;
  // The clip times (ms) covered by frame Index; both 0 without a frame rate.
  void FrameTimeRange(std::int32_t index, double& start, double& stop) const;

  // Asks for the frame at TimeMs unless a picture already holds it; with
  // Wait, returns once it is decoded (or the extractor stopped).
  void Request(bool wait, double timeMs);
  // Takes the picture nearest to TimeMs (ties toward the earlier frame) out
  // of the pool and asks for the frame after it. True only for the exact
  // frame; an empty pool clears Entry and gives false.
  bool TakeFrame(TVideoPoolEntry& entry, double displayRate, double timeMs);
  // Returns a taken picture and clears Entry; an entry without image is
  // ignored. After Stop the picture is released instead.
  void PutBack(TVideoPoolEntry& entry);
  // Ends the worker (without waiting for it) and releases the pooled pictures.
  void Stop();

  // How many frames past the one the consumer last asked for the worker
  // decodes on its own, in order, into pictures that hold frames it has
  // gone past (0, the default: only what is asked for). The pool needs
  // Frames + 2 pictures for that: one shown, one being decoded.
  void SetReadAhead(std::int32_t frames);
  std::int32_t ReadAhead();
  // Returns once the worker has nothing to decode and no picture out, or
  // has stopped.
  void WaitIdle();

  const TFrameSourceInfo& Info() const { return info_; }
  std::int32_t FrameCount() const { return frameCount_; }
  // Snapshots for the owner and tests (under the lock).
  std::int32_t RequestedIndex();
  std::int32_t PoolCount();
  // The frame indices of the pooled pictures, in pool order.
  std::vector<std::int32_t> PoolFrames();
  // Whether the worker has left its loop and dropped the source.
  bool Finished() const { return finished_.load(); }

protected:
  TOruVideoExtractor(TFrameSource* source, bool ownsSource);

private:
  template <class T, class... A>
  friend TRef<T> MakeRef(A&&... args);

  static void WorkerProc(void* arg);
  static void LostProc(void* owner, TYUVImage* image);
  void Work();
  void ImageLost(TYUVImage* image);
  void MarkLostEntries();
  std::int32_t FindFrame(std::int32_t index) const;  // pool position or -1
  bool Holds(std::int32_t index) const;              // in the pool or with a consumer
  // Under the lock: the frame the worker decodes next and the pool
  // position of the picture it goes into; false when there is nothing to do.
  bool NextWork(std::int32_t& frame, std::int32_t& picture);
  // The last frame read ahead of the consumer's, kNoVideoFrame without
  // read-ahead.
  std::int32_t ReadAheadEnd() const;
  // The pool position of the picture Frame is decoded into, -1 none.
  std::int32_t PictureFor(std::int32_t frame) const;
  std::int32_t Recyclable(std::int32_t target, std::int32_t keepFrom, std::int32_t keepTo) const;
  void PoolAdd(TVideoPoolEntry&& entry);
  TVideoPoolEntry PoolTake(std::int32_t at);

  TRef<TFrameSource> source_;
  bool ownsSource_;
  TFrameSourceInfo info_;
  std::int32_t frameCount_;  // over every pass
  std::vector<TVideoPoolEntry> pool_;  // capacity 4, then doubled
  std::int32_t count_ = 0;
  std::int32_t requested_ = kNoVideoFrame;
  // The frame the consumer asked for last (TakeFrame, Request): frames
  // before it are late and never decoded for the read-ahead.
  std::int32_t wanted_ = kNoVideoFrame;
  std::int32_t readAhead_ = 0;
  std::vector<std::int32_t> out_;  // the frames of the pictures consumers hold
  std::int32_t decoding_ = 0;  // pictures out of the pool with the worker
  std::atomic<bool> finished_{false};
};

}  // namespace zm
