#include "OruLib2/OruClasses/OruViewerColorTransform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "OruLib2/OruClasses/OruShowLoader.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/3DBasics/CustomColorGradeTexture.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/zmICCColorTransform.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/ShowContainerWriter.h"

using namespace zm;
using namespace oru;

namespace {

// The packed image format is not read here: a test format for ".zmgfx",
// int32 width and height, then rows of B, G, R bytes.
TRef<TBitmapStore> LoadTestTable(TStream* stream, const WideString& name, bool ownsStream,
                                 const TImageLoadHandler& handler) {
  const std::int64_t start = stream->GetPosition();
  std::int32_t wh[2] = {0, 0};
  if (stream->Read(TReadBuffer(reinterpret_cast<std::uint8_t*>(wh), sizeof wh), sizeof wh, 0) != sizeof wh ||
      wh[0] < 1 || wh[1] < 1 || wh[0] > 4096 || wh[1] > 4096) {
    stream->SetPosition(start);
    return nullptr;
  }
  TRef<TSysBitmap> b = CreateSysBitmap(wh[0], wh[1], PixelFormatByName(PF_R8G8B8));
  for (std::int32_t y = 0; y < wh[1]; ++y) {
    const std::int32_t n = wh[0] * 3;
    if (stream->Read(TReadBuffer(reinterpret_cast<std::uint8_t*>(b->Row24(y)), n), n, 0) != n) {
      stream->SetPosition(start);
      return nullptr;
    }
  }
  if (ownsStream) stream->ReleaseRef();
  return MakeRef<TWrapperBitmapStore>(name, handler, true, b.Detach());
}

// A table of differences: the same (b, g, r) everywhere.
std::string Table(std::uint8_t b, std::uint8_t g, std::uint8_t r, std::int32_t w = kGradeCubeSize,
                  std::int32_t h = kGradeCubeRows) {
  std::string s(8, '\0');
  std::memcpy(s.data(), &w, 4);
  std::memcpy(s.data() + 4, &h, 4);
  for (std::int32_t i = 0; i < w * h; ++i) s += {static_cast<char>(b), static_cast<char>(g), static_cast<char>(r)};
  return s;
}

std::string EntryName(const char16_t* profile) { return plat::ToUtf8(StoredColorTableName(profile)); }

struct TCall {
  TColorProfile* Source = nullptr;
  TColorProfile* Target = nullptr;
  int Count = 0;
};
TCall gCall;

TRef<TColorTransform> RecordingHook(TColorProfile* source, TColorProfile* target) {
  gCall.Source = source;
  gCall.Target = target;
  ++gCall.Count;
  return nullptr;
}

class ViewerColorTransformTest : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterImageLoader(&LoadTestTable, {u".zmgfx"});
    NoColorManagement = false;
    gCall = {};
  }
  void TearDown() override {
    SetCurrentShow(nullptr);
    UnregisterImageLoader(&LoadTestTable);
    NoColorManagement = false;
    if (recorder_) {
      FiniViewerColorTransform();
      recorder_.reset();
      InitViewerColorTransform();
    }
  }
  // The recording hook stands where the ICC transform stood.
  void ChainOverRecorder() {
    FiniViewerColorTransform();
    recorder_.emplace(CreateColorTransformHook, &RecordingHook);
    InitViewerColorTransform();
  }
  // Opens a container show with the entries and makes it current.
  TRef<TOruShowLocator> Show(zmtest::TShowContainerWriter& w) {
    w.Add("Project.oru", "[main]\r\n", zmtest::kDeflated);
    const std::string name = "show" + std::to_string(++shows_) + ".orushow";
    w.WriteFile((dir_.Path() / name).string());
    WideString e;
    TRef<TOruShowLocator> l = OpenContainerShow(dir_.Wide(name), e);
    EXPECT_TRUE(l);
    SetCurrentShow(l.get());
    return l;
  }
  // Whether the previous hook was asked for (Source, Target).
  bool FellBack(TColorProfile* source, TColorProfile* target) {
    gCall = {};
    TRef<TColorTransform> t = CreateColorTransform(source, target);
    return !t && gCall.Count == 1 && gCall.Source == source && gCall.Target == target;
  }

  zmtest::TTempDir dir_;
  int shows_ = 0;
  std::optional<zm::THookScope<TCreateColorTransformProc>> recorder_;
};

TEST_F(ViewerColorTransformTest, StoredTableBecomesAnAbsoluteTable) {
  // No show: the computed transform.
  EXPECT_NE(dynamic_cast<TICCColorTransform*>(CreateColorTransform(AdobeRGBProfile(), sRGBProfile()).get()), nullptr);

  zmtest::TShowContainerWriter w;
  w.Add(EntryName(u"YUVsRGB"), Table(1, 0, 255), zmtest::kDeflated);
  w.Add(EntryName(u"sRGB"), Table(10, 20, 30), zmtest::kStored);
  ASSERT_TRUE(Show(w));
  TRef<TColorTransform> t = CreateColorTransform(YUVsRGBProfile(), AdobeRGBProfile());
  auto* viewer = dynamic_cast<TOruViewerColorTransform*>(t.get());
  ASSERT_NE(viewer, nullptr);
  TRef<TSysBitmap> out = CreateSysBitmap(kGradeCubeSize, kGradeCubeRows, PixelFormatByName(PF_R8G8B8));
  viewer->TransformBitmap(out.get());
  for (int i : {0, 17, 31}) {
    TColor24 c = out->Row24(i * kGradeCubeSize + (31 - i))[i];
    EXPECT_EQ(c.B, static_cast<std::uint8_t>(GradeLevel(i) + 1));
    EXPECT_EQ(c.G, GradeLevel(31 - i));
    EXPECT_EQ(c.R, static_cast<std::uint8_t>(GradeLevel(i) - 1));  // 255 wraps, as the table wants
  }
  // Into other formats and sizes: converted and clipped.
  TRef<TSysBitmap> wide = CreateSysBitmap(4, 2, PixelFormatByName(PF_A8R8G8B8));
  viewer->TransformBitmap(wide.get());
  EXPECT_EQ(wide->Row32(1)[3] & 0xFFFFFFu, (std::uint32_t(GradeLevel(3) - 1) << 16) | (GradeLevel(1) << 8) | 1u);

  // Single colours go through the stored table too.
  TRef<TColorProfile> mine = MakeRef<TColorProfile>(AdobeRGBProfile()->Data(), u"Mine");
  TColor24 black{0, 0, 0}, result{};
  CorrectColorByProfile(mine.get(), result, black);
  EXPECT_EQ(result.R, 30);
}

TEST_F(ViewerColorTransformTest, EveryOtherCaseFallsBackToThePreviousHook) {
  ChainOverRecorder();
  TColorProfile* yuv = YUVsRGBProfile();
  TColorProfile* adobe = AdobeRGBProfile();
  EXPECT_TRUE(FellBack(yuv, adobe));  // no show

  zmtest::TShowContainerWriter w;
  w.Add(EntryName(u"YUVsRGB"), Table(1, 2, 3), zmtest::kEnciphered);
  w.Add(EntryName(u"FunkyRGB"), Table(1, 2, 3, 16, 16));  // not a cube
  w.Add(EntryName(u"sRGB"), "junk");                      // no picture
  TRef<TOruShowLocator> show = Show(w);
  ASSERT_TRUE(show);
  gCall = {};
  EXPECT_TRUE(dynamic_cast<TOruViewerColorTransform*>(CreateColorTransform(yuv, adobe).get()));
  EXPECT_EQ(gCall.Count, 0);
  // No entry for the source profile, or one that is no table.
  EXPECT_TRUE(FellBack(adobe, yuv));
  EXPECT_TRUE(FellBack(FunkyRGBProfile(), yuv));
  EXPECT_TRUE(FellBack(sRGBProfile(), adobe));
  // Switched off for the program.
  NoColorManagement = true;
  EXPECT_TRUE(FellBack(yuv, adobe));
  NoColorManagement = false;
  // No loader for the packed pictures.
  UnregisterImageLoader(&LoadTestTable);
  EXPECT_TRUE(FellBack(yuv, adobe));
  RegisterImageLoader(&LoadTestTable, {u".zmgfx"});

  // A show opened from a project folder never uses a stored table.
  dir_.Write("project/Project.oru", "[main]\r\n");
  TRef<TOruShowLocator> project = OpenProjectShow(dir_.Wide("project\\Project.oru"));
  ASSERT_TRUE(project);
  SetCurrentShow(project.get());
  EXPECT_TRUE(FellBack(yuv, adobe));
}

TEST_F(ViewerColorTransformTest, TransformNeedsACubePicture) {
  TRef<TSysBitmap> small = CreateSysBitmap(16, 16, PixelFormatByName(PF_R8G8B8));
  TRef<TImage> picture = SysBitmapToImage(small.get(), false, u"small");
  ASSERT_TRUE(picture);
  EXPECT_THROW(MakeRef<TOruViewerColorTransform>(sRGBProfile(), AdobeRGBProfile(), picture.get()), EAbort);
  EXPECT_THROW(MakeRef<TOruViewerColorTransform>(sRGBProfile(), AdobeRGBProfile(), nullptr), EAbort);
}

}  // namespace
