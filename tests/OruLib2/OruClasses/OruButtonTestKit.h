#pragma once
// Doubles for the button tests: a show whose files are held in memory, with
// skin pictures in a tiny text format, a slide host over it, button skins
// (each state a solid colour, so that a face shows its state), and a caption
// kind standing in for the text object with a fixed ink size.
//
// The skin-picture cache is global for the run: a skin name always stands
// for the same pictures in every test.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "OruLib2/OruClasses/OruButton.h"
#include "OruLib2/OruClasses/OruObjectFactory.h"
#include "OruLib2/OruClasses/OruSlideHost.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/VectorGraphics/zmButtonProducer.h"
#include "ZmLib/zmHookScope.h"
#include "tests/OruLib2/OruClasses/OruImageTestKit.h"
#include "tests/support/kit/StreamBytes.h"

namespace oru_button_test {

using namespace oru;
using namespace oru_image_test;
using oru::objects::TOruButton;
using zm::TRef;
using zm::WideString;

class TButtonTestSource : public TFileSource {
public:
  std::vector<std::pair<WideString, std::string>> files;
  std::atomic<int> opens{0};
  zm::TStream* OpenFile(const WideString& name) override {
    ++opens;
    for (const auto& [n, bytes] : files)
      if (n == name) return zmtest::MemoryStreamOf(bytes).Detach();
    return nullptr;
  }
};

// ".bpic": "<w>x<h> <r> <g> <b>", an opaque 32-bit picture of one colour.
inline TRef<zm::TBitmapStore> LoadButtonTestPicture(zm::TStream* stream, const WideString& fileName, bool ownsStream,
                                                   const zm::TImageLoadHandler& handler) {
  const std::string text = zmtest::ReadAllBytes(stream);
  int w = 0, h = 0, r = 0, g = 0, b = 0;
  if (std::sscanf(text.c_str(), "%dx%d %d %d %d", &w, &h, &r, &g, &b) != 5 || w < 1 || h < 1 || w > 64 || h > 64)
    throw zm::EStreamReadError();
  TRef<zm::TDirectBitmap> bitmap =
      zm::MakeRef<zm::TDirectBitmap>(w, zm::PixelFormatByName(zm::TByteString(zm::PF_A8R8G8B8)), h);
  bitmap->FillRect({0, 0, w, h}, zm::MakeColor32(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b), 255));
  TRef<zm::TBitmapStore> store = zm::MakeRef<zm::TWrapperBitmapStore>(fileName, handler, false, bitmap.get());
  if (ownsStream) stream->ReleaseRef();
  return store;
}

// The state colours of the test skins.
constexpr std::uint32_t kNormalRGB = 0xFF0000, kHoverRGB = 0x00FF00, kPressedRGB = 0x0000FF, kAquaRGB = 0x00FFFF;

// A 12 x 6 skin: corners 3 x 2, each state's parts cut from File[state].
inline std::string ButtonSkinIni(const std::string (&file)[3], const std::string& textParams) {
  const char* sections[3] = {"NormalState", "HoverState", "ClickState"};
  std::string ini;
  for (int s = 0; s < 3; ++s) {
    const auto part = [&](const char* key, int l, int t, int r, int b) {
      return std::string(key) + "=" + file[s] + "," + std::to_string(l) + "," + std::to_string(t) + "," +
             std::to_string(r) + "," + std::to_string(b) + "\r\n";
    };
    ini += std::string("[") + sections[s] + "]\r\n" + part("LeftTop", 0, 0, 3, 2) + part("Top", 3, 0, 9, 2) +
           part("RightTop", 9, 0, 12, 2) + part("Right", 9, 2, 12, 4) + part("RightBottom", 9, 4, 12, 6) +
           part("Bottom", 3, 4, 9, 6) + part("LeftBottom", 0, 4, 3, 6) + part("Left", 0, 2, 3, 4) +
           part("Center", 3, 2, 9, 4);
  }
  return ini + "[TextParams]\r\n" + textParams;
}

inline std::string Rgb(std::uint32_t rgb) {
  return std::to_string((rgb >> 16) & 0xFF) + " " + std::to_string((rgb >> 8) & 0xFF) + " " +
         std::to_string(rgb & 0xFF);
}

// What the test caption was told of its colour.
inline std::vector<std::pair<TOruObject*, zm::TColor24>>& CaptionColours() {
  static std::vector<std::pair<TOruObject*, zm::TColor24>> log;
  return log;
}

// Stands in for the text object: an ink of "Size" (default 40 x 10) that
// makes itself known to its button as the text does.
class TTestCaption : public TOruObject {
public:
  std::int32_t DrawCount = 0;
  void InitState() override {
    TOruObject::InitState();
    if (auto* button = dynamic_cast<TOruButton*>(Parent()); button && button->Child(0) == this)
      button->SetCaption(this);
  }
  void ReadProps(TOruObjectProps* props, bool reload) override {
    const zm::TPoint size = ReadPropPoint(props, u"Size", {40, 10});
    Width = float(size.X);
    Height = float(size.Y);
    TOruObject::ReadProps(props, reload);
  }
  void PrepareDraw(zm::TDeviceDrawer&) override { ++DrawCount; }
};

inline void RecordCaptionColour(TOruObject* caption, zm::TColor24 colour) {
  CaptionColours().push_back({caption, colour});
}

// The skins "btn" (red, green, blue faces; its caption takes 20 % off the
// caption's scale and needs at least 150 % of the height), "aqua" (cyan in
// every state) and "broken" (its hover part is of the wrong size), the
// button and caption kinds, the picture loader and the skin cache.
class ButtonFixture {
public:
  ButtonFixture() {
    zm::RegisterImageLoader(&LoadButtonTestPicture, {u".bpic"});
    ownCache_ = zm::HashBitmaps() == nullptr;
    if (ownCache_) zm::InitButtonProducer();
    savedText_ = SetOruObjectClass(kOruObjText, &MakeOruObject<TTestCaption>);
    savedButton_ = SetOruObjectClass(kOruObjButton, &MakeOruObject<TOruButton>);
    captionColour_.Set(&RecordCaptionColour);
    CaptionColours().clear();
    source = zm::MakeRef<TButtonTestSource>();
    const std::string btn[3] = {"n.bpic", "h.bpic", "c.bpic"};
    const std::string one[3] = {"a.bpic", "a.bpic", "a.bpic"};
    const std::string broken[3] = {"n.bpic", "small.bpic", "c.bpic"};
    source->files = {
        {u"pre\\btn\\skin.ini",
         ButtonSkinIni(btn, "Color=#102030\r\nBtnOffset=20\r\nBtnMinWidth=150\r\nFiltering=Nearest\r\n")},
        {u"pre\\btn\\n.bpic", "12x6 " + Rgb(kNormalRGB)},
        {u"pre\\btn\\h.bpic", "12x6 " + Rgb(kHoverRGB)},
        {u"pre\\btn\\c.bpic", "12x6 " + Rgb(kPressedRGB)},
        {u"pre\\aqua\\skin.ini", ButtonSkinIni(one, "Filtering=Nearest\r\n")},
        {u"pre\\aqua\\a.bpic", "12x6 " + Rgb(kAquaRGB)},
        {u"pre\\broken\\skin.ini", ButtonSkinIni(broken, "Filtering=Nearest\r\n")},
        {u"pre\\broken\\n.bpic", "12x6 " + Rgb(kNormalRGB)},
        {u"pre\\broken\\small.bpic", "4x2 " + Rgb(kHoverRGB)},
        {u"pre\\broken\\c.bpic", "12x6 " + Rgb(kPressedRGB)},
    };
    accessor = zm::MakeRef<TFileAccessor>(source.get());
    callbacks.EffectBufferSize = {&BufferSize, nullptr};
    callbacks.Camera = {&Camera, nullptr};
    callbacks.ShowSource = {&ShowSource, nullptr};
    host = zm::MakeRef<TOruSlideHost>(accessor.get(), callbacks, u"pre\\", false);
  }
  ~ButtonFixture() {
    host = nullptr;
    accessor = nullptr;
    captionColour_.Restore();
    SetOruObjectClass(kOruObjText, savedText_);
    SetOruObjectClass(kOruObjButton, savedButton_);
    if (ownCache_) zm::FiniButtonProducer();
    zm::UnregisterImageLoader(&LoadButtonTestPicture);
  }
  void RemoveFile(const WideString& name) {
    std::erase_if(source->files, [&](const auto& f) { return f.first == name; });
  }

  // A slide of Width x Height with Button "B" (keys Body) and, unless
  // Caption is empty, its caption "C" with one key frame.
  TTestTree Build(const std::string& body, const std::string& caption = "Size=40,10\r\n", float width = 64,
                  float height = 24) {
    std::string inner = body;
    if (!caption.empty()) inner += Obj("C", "Text", caption + KeyAt(0, "grps=4\r\nScaleX=100\r\nScaleY=100\r\n"));
    return BuildHostedTree(Obj("B", "Button", inner), host.get(), width, height);
  }

  TRef<TButtonTestSource> source;
  TRef<TFileAccessor> accessor;
  TOruHostCallbacks callbacks;
  TRef<TOruSlideHost> host;

private:
  static zm::TSize BufferSize(void*, TOruSlideHost*) { return {32, 24}; }
  static zm::TFloatPoint3 Camera(void*, TOruSlideHost*) { return CameraForOutput(64, 24); }
  static TOruSource* ShowSource(void*, TOruSlideHost*) { return nullptr; }

  bool ownCache_ = false;
  TOruObjectClassProc savedText_ = nullptr, savedButton_ = nullptr;
  zm::THookScope<TSetCaptionColourProc> captionColour_{SetCaptionColourHook};
};

}  // namespace oru_button_test
