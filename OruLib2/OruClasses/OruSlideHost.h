#pragma once
// The slide host: the one object per show that slide objects ask for
// everything outside themselves. It owns the producers of generated pictures
// (button faces, texts, masks), the frame extractors of video files, the
// image-task queue, and the resolver registered with the show's file source
// that makes a picture whenever a name with a generated-picture prefix is
// asked for ("Button: ", "Shadow: ", "Text: ", "Mask: ", "PresetedMask:",
// "SlideEffectBuffer:", "EffectResource:", "TextWithSize:").
//
// The host also fills the generators' callbacks: the skin-picture loader of
// the button producers, ResolveGeneratedImageHook (answered by the newest live host)
// and a ShadowDrawer over a TDeviceDrawer.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "OruLib2/OruClasses/OruFileAccess.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/3DBasics/DeviceDrawer.h"
#include "ZmLib/Graphics/zmGeneratorCallbacks.h"
#include "ZmLib/Graphics/zmMaskGenerator.h"
#include "ZmLib/VectorGraphics/zmButtonProducer.h"
#include "ZmLib/VectorGraphics/zmTextProducer.h"
#include "ZmLib/zmImageTasks.h"
#include "ZmLib/zmTypes.h"

namespace zm {
class TFrameSource;
}

namespace oru {

class TOruSlideHost;
class TOruObject;
class TOruSource;

// ---- Callbacks of the host's creator ----------------------------------------------------

// A code and data pair; empty while Code is nil.
template <class Proc>
struct TOruHostCallback {
  Proc Code = nullptr;
  void* Data = nullptr;
  explicit operator bool() const { return Code != nullptr; }
};

// The width and height of the output rectangle (the slide-effect buffers).
using TEffectBufferSizeProc = zm::TSize (*)(void* data, TOruSlideHost* host);
// The eye point of the slide's 3D space.
using TCameraProc = zm::TFloatPoint3 (*)(void* data, TOruSlideHost* host);
// The show source behind the host (nil when there is none).
using TShowSourceProc = TOruSource* (*)(void* data, TOruSlideHost* host);
// The picture of an "EffectResource:" name (nil when there is none).
using TEffectResourceProc = zm::TRef<zm::TImage> (*)(void* data, TOruSlideHost* host, const WideString& name);
// Told when an object changed.
using TObjectChangedProc = void (*)(void* data, TOruObject* object);

struct TOruHostCallbacks {
  TOruHostCallback<TEffectBufferSizeProc> EffectBufferSize;  // required
  TOruHostCallback<TCameraProc> Camera;                      // required
  TOruHostCallback<TShowSourceProc> ShowSource;              // required
  TOruHostCallback<TEffectResourceProc> EffectResource;      // optional
  TOruHostCallback<TObjectChangedProc> ObjectChanged;        // optional
};

// The callbacks a slide producer gives for an output of Width x Height:
// the buffer size is that size, the eye point is (W/2, H/2, -H * kCameraDepthFactor).
constexpr double kCameraDepthFactor = 1.0;
zm::TFloatPoint3 CameraForOutput(std::int32_t width, std::int32_t height);

// ---- Seams for the video, glyph-cache and text-bitmap units ----------------------------

// The frame extractor of one clip. The video unit derives its threaded
// extractor from it; this one only reads what the source says of itself.
class TFrameExtractor : public zm::TRefObject {
public:
  // Keeps a reference to Source (nil allowed).
  explicit TFrameExtractor(zm::TFrameSource* source);
  void Dispose() override;
  // Drops whatever frames are held; the extractor stays usable.
  virtual void Flush() {}
  // Over every pass of a source that loops.
  virtual std::int32_t FrameCount() const;
  virtual double FrameRate() const;
  zm::TFrameSource* Source() const { return source_.get(); }

private:
  zm::TRef<zm::TFrameSource> source_;
};
// Makes the extractor over a frame source; the video unit sets it. Empty:
// a plain TFrameExtractor.
using TCreateFrameExtractorProc = zm::TRef<TFrameExtractor> (*)(zm::TFrameSource* source);
extern TCreateFrameExtractorProc CreateFrameExtractorHook;

// The glyph cache starts afresh when the text of the show's "ExeGUID" entry
// differs from the one it holds; the glyph-cache unit sets the hook.
using TGlyphCacheContextProc = void (*)(const WideString& context);
extern TGlyphCacheContextProc GlyphCacheContextHook;

// Makes the bitmaps of "Text: " names; the text-bitmap unit derives from it.
class TTextBitmapMaker : public zm::TRefObject {
public:
  // The picture of a text description (what follows "Text: "), nil when it
  // cannot be made. Accessor reads cached vector text.
  virtual zm::TRef<zm::TImage> MakeTextBitmap(const WideString& description, TFileAccessor* accessor) = 0;
  // The same picture to be measured, never drawn (a text at its natural
  // size); the maker may hand out one it made before for the description,
  // so that a text repeated over a slide is laid out once.
  virtual zm::TRef<zm::TImage> MeasureText(const WideString& description, TFileAccessor* accessor) {
    return MakeTextBitmap(description, accessor);
  }
  // Drops what it caches.
  virtual void Flush() {}
};
// Makes the host's text-bitmap maker on first use; empty: "Text: " names
// give nil.
using TCreateTextBitmapMakerProc = zm::TRef<TTextBitmapMaker> (*)();
extern TCreateTextBitmapMakerProc CreateTextBitmapMakerHook;

// ---- Extractor holders -----------------------------------------------------------------

// Extractor states.
constexpr std::uint8_t kExtractorReady = 0;     // a frame extractor exists
constexpr std::uint8_t kExtractorNoSource = 1;  // the file opened but no source was made
constexpr std::uint8_t kExtractorNoFile = 2;    // the file did not open
constexpr std::uint8_t kExtractorUnset = 255;   // no media name set yet

// One per media name of a host; asking again for the name shares it.
class TExtractorWrapper : public zm::TRefObject {
public:
  TExtractorWrapper(TOruSlideHost* host, bool plainFile);
  // Flushes and releases the extractor and leaves the host's list.
  void Dispose() override;

  // Resolves, opens and makes the extractor when Name differs from the one
  // held (see the states above).
  void SetMediaName(const WideString& name);
  const WideString& MediaName() const { return mediaName_; }
  const WideString& FilePath() const { return filePath_; }
  std::uint8_t State() const { return state_; }
  TFrameExtractor* Extractor() const { return extractor_.get(); }
  // Frame count / frame rate * 1000; 0 without an extractor.
  double DurationMs() const;

  // The clips of the "Tracks" list that play the file (the video unit's
  // TVideoClip2; not owned: each clip leaves the list when it goes).
  std::vector<void*> Users;

private:
  friend class TOruSlideHost;
  TOruSlideHost* host_;  // nil once the host is gone
  bool plainFile_;
  WideString mediaName_;
  WideString filePath_;
  std::uint8_t state_ = kExtractorUnset;
  zm::TRef<TFrameExtractor> extractor_;
};

// ---- Colour grading ---------------------------------------------------------------------

// Colour-grade textures live on the drawer's screen, which only the 3D
// engine can reach: it sets the hook. Empty (or nil answers): pictures are
// drawn without grading.
using TMakeGradeTextureProc = zm::TRef<zm::TCustomColorGradeTexture> (*)(zm::TDeviceDrawer& drawer,
                                                                        std::uint8_t kind);
extern TMakeGradeTextureProc MakeGradeTextureHook;

// A colour-grading texture and its grading source: a table (nil: the
// identity), read in mode 3 only, with a filter laid over it (nil: none).
// One per key frame with a colour modifier, and one for the overlay's logo.
// Mode 3 (the image's own colour table) needs the volume kind, the other
// modes the strip.
class TColorGradeWrapper : public zm::TRefObject {
public:
  void Dispose() override;

  // Marks the wrapper dirty when Table or Filter differs from the one held.
  void SetSource(zm::TSysBitmap* table, zm::TObjectFilter* filter);
  zm::TSysBitmap* Table() const { return table_.get(); }
  zm::TObjectFilter* Source() const { return filter_.get(); }
  bool Dirty() const { return dirty_; }

  // The texture for Drawer, made through MakeGradeTextureHook on first use
  // and again when Mode3 or the drawer changes; the source is laid on it
  // when dirty. Nil when no texture can be made (the wrapper stays dirty).
  zm::TCustomColorGradeTexture* Prepare(zm::TDeviceDrawer& drawer, bool mode3);
  zm::TCustomColorGradeTexture* Texture() const { return texture_.get(); }

  const void* KeyFrame = nullptr;  // the key frame it grades for: only compared, never followed

private:
  zm::TRef<zm::TSysBitmap> table_;
  zm::TRef<zm::TObjectFilter> filter_;
  zm::TRef<zm::TCustomColorGradeTexture> texture_;
  const void* drawer_ = nullptr;  // the texture's drawer: only compared
  bool mode3_ = false;
  bool dirty_ = true;
};

// ---- The host ---------------------------------------------------------------------------

class TOruSlideHost : public zm::TRefObject {
public:
  // The three required callbacks must be assigned (assertion); Accessor
  // too. OwnsAccessor: the host takes over the caller's reference, else it
  // takes one of its own.
  TOruSlideHost(TFileAccessor* accessor, const TOruHostCallbacks& callbacks, const WideString& namePrefix,
                bool ownsAccessor);
  void Dispose() override;

  // The button producer of a skin, made on first use (LoadButtonSkin loads
  // it); nil for an empty skin name.
  zm::TButtonProducer* GetButtonProducer(const WideString& skinName);
  // The extractor holder of a media name (shared; the caller owns the
  // returned reference). PlainFile opens the name as a disk file instead of
  // a show entry.
  zm::TRef<TExtractorWrapper> GetExtractor(const WideString& mediaName, bool plainFile = false);
  std::int32_t ExtractorCount();
  // Disposes the holders no one but the host holds; their number.
  std::int32_t DropUnusedExtractors();
  // Loads the skin's producer from "<prefix><skin>\<file>" through the
  // accessor; false (producer not loaded) when that file is missing.
  bool LoadButtonSkin(const WideString& skinName, const WideString& skinFileName);

  // The resolver: the picture a generated name stands for; nil for other
  // names and when it cannot be made.
  zm::TRef<zm::TImage> ResolveImage(const WideString& name);
  // A picture of the show through the accessor (resolver included); the
  // placeholder picture when the file is missing.
  zm::TRef<zm::TImage> GetImage(const WideString& name);
  // A skin picture through the accessor under the name prefix; nil when
  // missing.
  zm::TRef<zm::TImage> LoadSkinPicture(const WideString& name);

  // The callbacks.
  zm::TSize SlideEffectBufferSize();
  zm::TFloatPoint3 CameraPoint();
  TOruSource* ShowSource();
  void NotifyObjectChanged(TOruObject* object);
  const TOruHostCallbacks& Callbacks() const { return callbacks_; }

  // The effect-buffer keys: "SlideEffectBuffer:" or "EffectResource:", the
  // buffer number, ", " and the two buffer-size numbers joined by ", ".
  WideString EffectBufferKey(bool resource, std::int32_t buffer) const;

  // Queues pictures that take long to make; stopped by Dispose.
  zm::TImageTaskQueue* ImageTasks() const { return imageTasks_.get(); }

  TFileAccessor* FileAccessor() const { return accessor_.get(); }
  zm::TButtonProducerHost* ButtonHost() const { return buttonHost_.get(); }
  // The host draws its placeholder texts with it under its own lock; other
  // threads keep producers of their own.
  zm::TTextProducer* TextProducer() const { return textProducer_.get(); }
  zm::TMaskGenerator* MaskGenerator() const { return maskGenerator_.get(); }
  // The text-bitmap maker (made on first use; nil without the hook).
  TTextBitmapMaker* TextBitmapMaker();
  const WideString& NamePrefix() const { return namePrefix_; }
  // The "ExeGUID" text read at creation (empty when the show has none).
  const WideString& ExeGuid() const { return exeGuid_; }

  std::int32_t SlideCount = 0;
  std::int32_t BufferSize1 = 0, BufferSize2 = 0;
  // Taken from DefaultHostScale at creation.
  double Scale = 1.0;
  // How the frame sources of video clips decode: on several threads, and
  // with the graphics hardware when it can (the source falls back).
  bool VideoMultiThread = true;
  bool VideoUseHardware = false;
  // Show time (ms) that the clips of the "Tracks" list are shifted by,
  // together with their synchronisation position.
  double TimeOffset = 0;

private:
  friend class TExtractorWrapper;
  static zm::TRef<zm::TImage> ResolverCallback(void* data, TFileSource* source, const WideString& name);
  zm::TRef<zm::TImage> MakeMask(const WideString& name);
  zm::TRef<zm::TImage> MakeEffectResource(const WideString& rest);
  zm::TRef<zm::TImage> MakeSlideEffectBuffer();
  zm::TRef<zm::TImage> MakeSizedTextPlaceholder(const WideString& rest);
  void RemoveExtractor(TExtractorWrapper* wrapper);

  zm::TRef<TFileAccessor> accessor_;
  zm::TRef<TCallbackHandle> resolverHandle_;
  TOruHostCallbacks callbacks_;
  zm::TRef<zm::TButtonProducerHost> buttonHost_;
  zm::TRef<zm::TTextProducer> textProducer_;
  zm::TRef<zm::TMaskGenerator> maskGenerator_;
  std::mutex extractorLock_;
  std::vector<zm::TRef<TExtractorWrapper>> extractors_;
  std::mutex textLock_;
  zm::TRef<TTextBitmapMaker> textMaker_;
  zm::TRef<zm::TImageTaskQueue> imageTasks_;
  WideString namePrefix_;
  WideString exeGuid_;
};

// The process default of TOruSlideHost::Scale.
extern double DefaultHostScale;
// Whether colour management is on (the program's switch). The producers
// take no callback for it yet; readers of the switch ask here.
extern std::atomic<bool> ColorManagementEnabled;

// Placeholder texts of the resolver.
inline constexpr char16_t kSlideEffectBufferName[] = u"zaglushka for slide-effect buffer";
inline constexpr char16_t kEffectResourceName[] = u"effect resource";
inline constexpr char16_t kSizedTextPlaceholderText[] = u"Sized Text Zaglushka";

// ---- Shadow drawer ----------------------------------------------------------------------

// Draws shadow pictures through a device drawer (the z of the points is
// dropped: objects are laid out flat on the drawer's plane).
class TDeviceShadowDrawer : public zm::ShadowDrawer {
public:
  explicit TDeviceShadowDrawer(zm::TDeviceDrawer* drawer) : drawer_(drawer) {}
  void DrawImage(zm::TImage* image, const zm::TShadowDrawRecord& record, const zm::TFloatPoint3& origin,
                 const zm::TFloatPoint3& xAxis, const zm::TFloatPoint3& yAxis, float texScale) override;
  void Precache(zm::TImage* image) override;
  void ReleaseCache(zm::TImage* image) override;

private:
  zm::TDeviceDrawer* drawer_;  // not owned
};

}  // namespace oru
