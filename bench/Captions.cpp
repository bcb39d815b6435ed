// A slide of many captions built as the player builds it (the slide loader,
// the 3D drawer on the software device, the show's fonts), each caption a
// different short text or all of one text, with and without their shadows:
// the time of the build, and the picture memory a caption holds.
#include <benchmark/benchmark.h>

#include <string>

#include "OruLib2/OruClasses/OruClassesModules.h"
#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruViewer/OruSlideLoader.h"
#include "Platform/PlatPictureMemory.h"
#include "ZmLib/Text/zmTextModules.h"
#include "ZmLib/VectorGraphics/zmVectorModules.h"
#include "ZmLib/Win32/Fonts/winFontUtils.h"
#include "bench/DrawerStage.h"
#include "tests/support/kit/IniText.h"

namespace {

using namespace oru;
using zm::TRef;

constexpr std::int32_t kW = 1920, kH = 1080;

// The drawer's stage with the modules of texts: fonts, outlines, the slide
// objects.
struct TCaptionStage : TDrawerStage {
  TCaptionStage(std::int32_t width, std::int32_t height)
      : TDrawerStage(width, height,
                     zm::JoinModules({zm::CoreModules(), zm::TextModules(), zm::GraphicsModules(), zm::VectorModules(),
                                      zm::WinFontModules(), zm::AppModules(), zm::Basics3DModules(),
                                      zm::Dev3D9Modules(), Engine3DModules(), OruClassesModules()})) {}
};

// Draws nothing: a frame lets the textures of pictures no image holds go.
class TEmptyItem : public zm::TDrawItem {
public:
  void Draw(zm::TDeviceDrawer&) override {}
};

// Count captions of "w<i>" (or all "w1"), DejaVu Sans at a tenth of the
// slide's height, spread over it.
std::string Show(std::int32_t count, bool different, bool shadow) {
  zmtest::TIniText t;
  t.Section("main").Key("opt_repeat", "stop").Key("opt_scr_width", kW).Key("opt_scr_height", kH);
  t.Section("Times").Key("opt_slidescount", 1).Key("opt_synchpos1", 60000);
  t.Section("Slide1");
  t.Object("TheEffect", "AnEffect").Key("GUID", "{E}").Key("ref", "quick").End();
  for (std::int32_t i = 0; i < count; ++i) {
    const std::string id = std::to_string(i);
    t.Object("T" + id, "Text").Key("GUID", "{T" + id + "}").Key("Text", different ? "w" + id : "w1");
    t.Key("FontName", "DejaVu Sans");
    if (!shadow) t.Key("ShadowEnable", 0);
    t.Object("KeyPoint", "KeyPoint")
        .Key("GUID", "{K" + id + "}")
        .Key("Position", std::to_string(i * 37 % 180 - 90) + "," + std::to_string(i * 53 % 180 - 90))
        .Key("ScaleX", 10)
        .Key("ScaleY", 10)
        .End();
    t.End();
  }
  return t.Bytes(false);
}

// Args: captions, different texts (1) or one (0), shadows (1) or none (0).
void BM_SlideOfCaptions(benchmark::State& state) {
  const std::int32_t count = std::int32_t(state.range(0));
  const std::string show = Show(count, state.range(1) != 0, state.range(2) != 0);
  // One stage for the program: its modules start once.
  static TCaptionStage stage(kW, kH);
  double held = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TRef<zm::TIniFile> doc = zm::MakeRef<zm::TIniFile>();
    doc->LoadFromText(zm::TByteString(show));
    TRef<TFileAccessor> accessor = zm::MakeRef<TFileAccessor>(zm::MakeRef<TRealFileSource>().get());
    TRef<TOruSource> source = zm::MakeRef<TOruSource>(accessor.Detach(), true, doc.Detach());
    TRef<TOruSlideLoader> loader = zm::MakeRef<TOruSlideLoader>(source.get(), 3, kW, kH, false);
    loader->Layout(zm::TSize{kW, kH}, false);
    T3DDrawer* drawer = stage.drawer.get();
    loader->Cache()->OnSlidePrepared = [drawer](TSlideCache*, TDrawContainer* c) {
      if (c->Slide) c->Slide->PrepareResources(*drawer);
    };
    stage.drawer->Draw(zm::MakeRef<TEmptyItem>().get());
    plat::TrimPictureMemory();
    const std::int64_t before = plat::PictureMemoryBytes();
    state.ResumeTiming();
    for (int i = 0; i < 10 && !loader->Pass(); ++i) {
    }
    state.PauseTiming();
    plat::TrimPictureMemory();
    held = double(plat::PictureMemoryBytes() - before);
    loader = nullptr;
    source = nullptr;
    state.ResumeTiming();
  }
  state.counters["held_per_caption"] = benchmark::Counter(held / count);
}
BENCHMARK(BM_SlideOfCaptions)
    ->ArgNames({"captions", "different", "shadow"})
    ->Args({300, 1, 1})
    ->Args({300, 0, 1})
    ->Args({300, 1, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
