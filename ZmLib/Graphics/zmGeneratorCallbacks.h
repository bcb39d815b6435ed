#pragma once
// What the picture generators call back into the slide host for: loading
// the pictures of a button skin, reporting a button face's progress,
// resolving the names of generated pictures, and drawing a shadow. The
// imaging code only declares them; the slide host fills them in.
#include <cstdint>
#include <functional>

#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/Graphics/zmRectUtils.h"
#include "ZmLib/zmTypes.h"

namespace zm {

class TButtonProducer;

// Loads a picture of a button skin by name (the skin name, "\" and the
// part's file name); nil when it cannot be loaded.
using ButtonPictureLoader = std::function<TRef<TImage>(const WideString& name)>;

// Called with the producer after every column of a button face; setting
// Cancel stops the drawing.
using ButtonProgressCallback = std::function<void(TButtonProducer* producer, bool& cancel)>;

// Gets a picture by name the way the file accessor does (the generators ask
// it for the pictures they work from and for the generated pictures they
// are keyed by); nil when there is none.
using TImageAccessor = std::function<TRef<TImage>(const WideString& name)>;

// ---- Generated picture names -----------------------------------------------------------

// The kinds of generated pictures, told apart by the prefix of their name.
enum class TGeneratedImageKind : std::uint8_t {
  None,  // not a generated picture
  Button,             // "Button: "
  Shadow,             // "Shadow: "
  Text,               // "Text: "
  Mask,               // "Mask: "
  PresetMask,         // "PresetedMask:"
  SlideEffectBuffer,  // "SlideEffectBuffer:"
  EffectResource,     // "EffectResource:"
  TextWithSize,       // "TextWithSize:"
};

// The kind of a name by its prefix (letter case counts).
TGeneratedImageKind GeneratedImageKind(const WideString& name);
// The prefix of a kind; empty for None.
WideString GeneratedImageKindPrefix(TGeneratedImageKind kind);

// The slide host's resolver for names the file accessor does not hold: it
// makes the picture a generated name stands for, or answers nil.
using TResolveGeneratedImageProc = std::function<TRef<TImage>(const WideString& name)>;
// Set by the slide host; empty until then.
extern TResolveGeneratedImageProc ResolveGeneratedImageHook;
// Through the hook: nil when no hook is set, the name is not a generated
// picture's, or the hook fails (its exception is swallowed: a picture that
// cannot be made is simply missing).
TRef<TImage> ResolveGeneratedImage(const WideString& name);

// ---- Shadow drawer ---------------------------------------------------------------------

// How the drawer draws an image: opacity 0..1, the tint colour's bytes and
// whatever else a drawer keeps in its default record.
struct TShadowDrawRecord {
  float Opacity = 1.0f;
  std::uint8_t Red = 255, Green = 255, Blue = 255;
  std::int32_t BlendMode = 0;  // the drawer's own meaning
};

// Draws shadow images for TShadow.Draw, Precache and ReleaseCache.
class ShadowDrawer {
public:
  virtual ~ShadowDrawer() = default;
  // The record draws start from.
  virtual TShadowDrawRecord DefaultRecord() const { return {}; }
  // Draws Image into the parallelogram at Origin whose edges are Width x
  // XAxis and Height x YAxis (the axes are the steps of one image pixel);
  // TexScale tells the drawer how finely the image is sampled (for
  // choosing a mip level).
  virtual void DrawImage(TImage* image, const TShadowDrawRecord& record, const TFloatPoint3& origin,
                         const TFloatPoint3& xAxis, const TFloatPoint3& yAxis, float texScale) = 0;
  // Prepares or drops the texture the drawer keeps for Image.
  virtual void Precache(TImage* /*image*/) {}
  virtual void ReleaseCache(TImage* /*image*/) {}
};

}  // namespace zm
