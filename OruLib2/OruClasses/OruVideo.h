#pragma once
// Video objects: a clip placed on a slide like a picture, with its frame
// (border, crop, aspect), chroma key and deinterlacing. The object keeps no
// clock: each frame it turns the show time into a clip time and takes the
// picture of that time from the clip's extractor, which decodes ahead on a
// thread of its own into a few pictures made by the drawer.
//
// A video object carries its own clip values, or names an entry of the
// show's "Tracks" list by ClipGUID: the objects of one entry share a
// TVideoClip2 and, through it, one extractor and the picture it shows.
//
// Everything here runs on the thread that evaluates and draws the slide; the
// extractor's worker meets it only inside the extractor.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "OruLib2/OruClasses/OruImage.h"
#include "OruLib2/OruClasses/OruObjects.h"
#include "OruLib2/OruClasses/OruSlideHost.h"
#include "ZmLib/Graphics/Video/OruVideoExtractor.h"
#include "ZmLib/Graphics/zmShadows.h"
#include "ZmLib/zmImageTasks.h"
#include "ZmLib/zmIni.h"

namespace zm {
class TSysBitmap;
}

namespace oru {

// Deinterlace types ("DeinterlaceType").
constexpr std::uint8_t kDeinterlaceAuto = 0, kDeinterlaceWave = 1, kDeinterlaceBobEven = 2, kDeinterlaceBobOdd = 3;
inline constexpr std::array<const char16_t*, 4> DeinterlaceTypeNames = {u"Auto", u"Wave", u"BobEven", u"BobOdd"};

// The field a frame shows at clip time T (ms) for a deinterlace type: 0 both
// fields, 1 and 2 one field each. "Auto" is "Wave" for a progressive source,
// "BobOdd" for an interlaced one with the bottom field first and "BobEven"
// otherwise; "BobEven" shows field 1 before the middle of the frame's time
// range [Start, Stop] and field 2 from it on, "BobOdd" the reverse.
std::int32_t VideoFieldAt(std::uint8_t type, bool interlaced, bool topFieldFirst, double start, double stop,
                          double t);

// How many frames a clip's thread decodes ahead of the one shown: about
// 160 ms of the clip, at most 8 frames, and fewer where the pictures of a
// clip would take more than 64 MB.
std::int32_t VideoReadAheadFrames(const zm::TFrameSourceInfo& info);

// The extractor of a clip as the video unit makes it (CreateFrameExtractorHook):
// the decoding thread, the pictures it decodes into, and the one picture
// the objects of the clip hold between PrepareDraw and Reset.
class TVideoFrameExtractor : public TFrameExtractor {
public:
  explicit TVideoFrameExtractor(zm::TFrameSource* source);
  // Gives the held picture back and stops the thread.
  void Dispose() override;
  // Gives the held picture back; the thread goes on.
  void Flush() override;

  zm::TOruVideoExtractor* Video() const { return video_.get(); }
  // The pictures of the source's size from the drawer, given to the thread
  // once: one shown, one being decoded and VideoReadAheadFrames more that
  // the thread fills ahead of the show; false while the drawer cannot make
  // two.
  bool MakePictures(zm::TDeviceDrawer& drawer);
  bool HasPictures() const { return picturesMade_; }

  // The held picture and the number of objects that use it.
  zm::TVideoPoolEntry Held;
  std::int32_t HeldUses = 0;
  // Takes the picture of clip time T unless one is held; with Wait the frame
  // is decoded first. Raises the use count; false when no picture could be had.
  bool Hold(double displayRate, double t, bool wait);
  // Lowers the use count; the picture goes back to the thread at 0.
  void Release();
  // Set once the first request went out (later frames come from the
  // thread's read-ahead).
  bool Requested = false;

private:
  zm::TRef<zm::TOruVideoExtractor> video_;
  bool picturesMade_ = false;
};

// One entry of the show's "Tracks" list, shared by the objects that name it.
class TVideoClip2 : public zm::TRefObject {
public:
  // Registers in the wrapper's list of clips.
  TVideoClip2(TOruSlideHost* host, TExtractorWrapper* wrapper, zm::TIniList* entry);
  // Leaves the wrapper's list.
  void Dispose() override;

  // Reads the entry's keys ("StartSlideIdx" through the Times section of Project).
  void ReadEntry(const zm::TIniFile* project);
  // Writes the clip's duration and start video time back into the entry.
  void WriteBack();

  TExtractorWrapper* Wrapper() const { return wrapper_.get(); }
  TOruSlideHost* Host() const { return host_.get(); }

  WideString ClipGUID;
  WideString FileName;
  bool LoadFromDisk = false;
  double Duration = 0;
  double StartORUTime = 0;
  double StartVideoTime = 0;
  double FPSMultiplier = 1.0;
  WideString ClipCaption;
  bool Mute = false;
  double SynchPos = 0;  // "opt_synchpos" of the start slide, 0 when none

private:
  zm::TRef<TOruSlideHost> host_;
  zm::TRef<TExtractorWrapper> wrapper_;
  zm::TIniList* entry_;  // the "Tracks" entry, owned by the show description
};

// The clip of GUID among a wrapper's clips; nil when none.
TVideoClip2* FindVideoClip(TExtractorWrapper* wrapper, const WideString& guid);

class TOruVideo : public TOruObject {
public:
  // ---- Overrides of the object base, in slot order -------------------------------
  void Dispose() override;
  bool IsChanged() override;
  void Reset(zm::TDeviceDrawer& drawer) override;
  void PrepareDraw(zm::TDeviceDrawer& drawer) override;
  zm::TCustomColorGradeTexture* GetColorGrading() override;
  void ReadProps(TOruObjectProps* props, bool reload) override;
  void SetTime(bool recursive, double t) override;
  void InitState() override;
  zm::TSize GetImageSize() override;
  void PrepareAtTime(zm::TDeviceDrawer& drawer, double t) override;
  bool GetMainPicture(WideString& fileName, zm::TSize& size) override;

  // ---- Its own -----------------------------------------------------------------------
  // The clip time (ms) at show time T (ms).
  double VideoTimeAt(double t);
  // Opens the file (the clip's, else the object's own): the extractor or the
  // placeholder, the duration clamps and the layout.
  void SetFile();
  // Pixel aspect, crop and size from the source (or the placeholder).
  void CalcLayout();
  // The clip file name (the clip's, else the object's own).
  const WideString& ClipFileName() const;
  TVideoFrameExtractor* FrameExtractor() const;
  zm::TFrameSource* Source() const;
  // The show time of the last SetTime.
  double ShowTime() const { return showTime_; }

  WideString ClipGUID;
  zm::TRef<TVideoClip2> Clip;
  zm::TRef<TExtractorWrapper> Wrapper;
  // The own clip (used without a clip).
  WideString FileName;
  bool LoadFromDisk = false;
  double Duration = 0;
  double StartVideoTime = 0;
  double StartORUTime = 0;
  double FPSMultiplier = 1.0;
  bool Mute = false;
  TImageBorder Border;
  double DisplayRate = 60;
  bool AntialiasedBorder = true;
  std::uint8_t DeinterlaceType = kDeinterlaceAuto;
  bool WaitForConvert = false;
  bool ChromaEnable = false;
  zm::TColor24 Chromakey{0, 255, 0};
  float ChromaDelta = 0;
  std::int32_t ImageIndex = kImageIndexNone;
  double PixelAspect = 1.0;
  float Margin = 0;  // border width in source pixels
  zm::TRef<zm::TImage> Placeholder;
  zm::TRef<zm::TShadow> Shadow;
  // Whether this object holds the clip's shown picture (until Reset).
  bool Holding = false;
  // The field of the last draw (0 both, 1 and 2 one each) and its frame.
  std::int32_t LastField = 0;
  std::int32_t LastFrame = -1;

  TOruVideo() = default;

  // A shadow of new parameters being rendered in the background while the
  // old one is still drawn (the image-task queue's callback fills it).
  class TShadowTicket : public zm::TRefObject {
  public:
    std::atomic<bool> Ready{false};
    std::mutex Lock;
    zm::TRef<zm::TRefObject> Result;  // guarded by Lock
  };

private:
  bool PrepareShadow();
  void CancelPendingShadow();
  void DrawShadow(zm::TDeviceDrawer& drawer, float opacity);
  void DrawPlaceholder(zm::TDeviceDrawer& drawer, float opacity);
  // The clip's lookup texture for the drawer (nil without the grading hook).
  zm::TCustomColorGradeTexture* VideoGrading(zm::TDeviceDrawer& drawer);
  void LayOutSiblings();

  double showTime_ = 0;
  zm::TRef<TShadowTicket> shadowTicket_;
  zm::TRef<zm::TImageTaskQueue> shadowQueue_;  // where the pending shadow was queued
  zm::TRef<zm::TShadow> pendingShadow_;  // the parameters and key of the pending one, without picture
  zm::TRef<zm::TCustomColorGradeTexture> grading_;
  zm::TRef<zm::TSysBitmap> gradingTable_;
  bool gradingRgb_ = false;
};

// Registers the video kind (code 8) and the clip extractor with the object
// module's hooks.
void InitOruVideo();
void FiniOruVideo();

}  // namespace oru
