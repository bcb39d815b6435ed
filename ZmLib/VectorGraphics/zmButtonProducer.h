#pragma once
// Button faces from button skins. A skin is an ini file that cuts pictures
// into nine parts (four corners, four edges, the centre) for each of the
// three states; the producer stretches them to any width at the skin's
// height, shifts hue, saturation and lightness, and names the face by its
// "Button: " key. A host keeps one producer per skin. One global cache
// (THashBitmaps) holds the skin pictures by "<skin>\<file>" for the whole
// run; it exists between the unit's Init and Fini.
//
// This unit lives beside the vector text because a face that cannot be made
// becomes a picture of its error text.
#include <cstdint>
#include <mutex>
#include <vector>

#include "ZmLib/Graphics/zmGeneratorCallbacks.h"
#include "ZmLib/Graphics/zmGeneratorKeys.h"
#include "ZmLib/VectorGraphics/zmTextProducer.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmLists.h"

namespace zm {

// The nine parts of a state, in the order of the skin file and of memory.
constexpr std::int32_t bpLeftTop = 0;
constexpr std::int32_t bpTop = 1;
constexpr std::int32_t bpRightTop = 2;
constexpr std::int32_t bpRight = 3;
constexpr std::int32_t bpRightBottom = 4;
constexpr std::int32_t bpBottom = 5;
constexpr std::int32_t bpLeftBottom = 6;
constexpr std::int32_t bpLeft = 7;
constexpr std::int32_t bpCenter = 8;
constexpr std::int32_t kButtonPartCount = 9;
constexpr std::int32_t kButtonStateCount = 3;

// Filtering values of a skin's "TextParams".
constexpr std::uint8_t bfNearest = 0;
constexpr std::uint8_t bfBilinear = 1;
constexpr std::uint8_t bfDefault = 2;

// Faces wider than this are refused (nil).
constexpr std::int32_t kMaxButtonWidth = 32768;

// One part: its picture file and its rectangle in that picture (right and
// bottom exclusive).
struct TButtonPart {
  WideString FileName;
  std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// The cache of skin pictures by name; any thread may use it.
class THashBitmaps : public THashList {
 public:
  THashBitmaps() : THashList(200) {}
  void Dispose() override;  // releases every picture

  TRef<TImage> FindImage(const WideString& name);
  // Adds Image under Name unless a picture is there already; answers the
  // picture the cache keeps.
  TRef<TImage> AddImage(const WideString& name, TImage* image);
  std::int32_t ImageCount();

 private:
  std::mutex lock_;
};

// The global cache; nil outside Init..Fini.
THashBitmaps* HashBitmaps();

class TButtonProducer : public TRefObject {
 public:
  TButtonProducer(const ButtonPictureLoader& loader, const ButtonProgressCallback& progress);
  void Dispose() override;

  // Reads the ini file (through the ReadFile hook), keeps SkinName and loads
  // the skin. False, with the skin name kept and nothing loaded, when the
  // file cannot be read.
  bool LoadFromFile(const WideString& fileName, const WideString& skinName);
  // Reads the skin; the assertion "TButtonProducer.Load - Ini not Assigned"
  // without a document.
  void Load(TIniFile* ini);

  // The face of State (0 normal, 1 hover, 2 click) at Width, shifted by Hue
  // (degrees), Saturation and Lightness (percent), owned by its image and
  // named MakeButtonKey(...). A part picture that is missing or not of the
  // skin's size gives the error text image "Incorrect Image: <file>", no
  // global cache gives "FileOpenError" (nil when the text cannot be drawn).
  // Nil for another state, a width below 1 or above kMaxButtonWidth, and
  // when the progress callback cancels.
  TRef<TImage> MakeBitmap(std::uint8_t state, std::int32_t width, std::int32_t hue, std::int32_t saturation,
                          std::int32_t lightness);

  const TButtonPart& Part(std::int32_t state, std::int32_t part) const {
    return Parts[std::size_t(state * kButtonPartCount + part)];
  }

  TButtonPart Parts[kButtonStateCount * kButtonPartCount];
  TColor32 TextColor = MakeColor32(0, 0, 0, 255);
  float BtnOffset = 0;
  float BtnMinWidth = 0;
  std::uint8_t Filtering = bfDefault;
  std::int32_t SkinWidth = 0, SkinHeight = 0;
  WideString SkinName;
  TRef<TTextProducer> TextProducer;  // draws the error texts
  bool Loaded = false;
  ButtonPictureLoader Loader;
  ButtonProgressCallback Progress;

 private:
  // The part's picture from the cache, loaded on a miss.
  TRef<TImage> GetPicture(const TButtonPart& part);
  TRef<TImage> ErrorImage(const WideString& message, const WideString& name);

  std::mutex textLock_;  // the text producer serves one face at a time
};

class TButtonProducerHost : public TRefObject {
 public:
  TButtonProducerHost(const ButtonPictureLoader& loader, const ButtonProgressCallback& progress);
  void Dispose() override;  // frees the producers

  // The producer of the skin (names compared exactly), searched from the
  // last to the first; a new one, with the host's loader and progress and
  // the skin name set, is added when missing. It lives as long as the host.
  TButtonProducer* GetProducer(const WideString& skinName);
  std::int32_t ProducerCount();

  ButtonPictureLoader Loader;
  ButtonProgressCallback Progress;

 private:
  std::mutex lock_;
  std::vector<TRef<TButtonProducer>> producers_;
};

void InitButtonProducer();
void FiniButtonProducer();

}  // namespace zm
