// Shows written by the test show builder open through the show loader and
// read back as written; the small show services around them.
#include "tests/support/kit/ShowBuilder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "OruLib2/Effects/OruEffectManager.h"
#include "OruLib2/OruClasses/OruObjectProps.h"
#include "OruLib2/OruClasses/OruShowLoader.h"
#include "OruLib2/OruClasses/OruShowServices.h"
#include "OruLib2/OruClasses/zmOruSource2.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/zmIni.h"
#include "tests/support/TempDir.h"

using namespace zm;
using namespace oru;
using zmtest::TShowBuilder;
using zmtest::TShowObject;
using zmtest::TShowContainerWriter;

namespace {

WideString BuiltWide(const std::string& utf8) { return plat::FromUtf8(utf8); }

// The child properties whose GUID is Guid; nil when none.
TOruObjectProps* BuiltChild(TOruObjectProps* props, const std::string& guid) {
  for (std::int32_t i = 0; i < props->ChildCount(); ++i)
    if (props->Child(i)->GUID().View() == guid) return props->Child(i);
  return nullptr;
}

double BuiltKeyValue(TOruObjectProps* props, std::int32_t frame, std::int32_t param) {
  double v = -12345;
  GetKeyFrame(props->KeyFrames(), frame)->GetParam(param, v);
  return v;
}

class ShowBuilderTest : public ::testing::Test {
protected:
  void TearDown() override {
    FiniShowLoader();
    InitShowLoader();
  }
  TRef<TOruShowLocator> OpenPacked(TShowBuilder& show, TShowContainerWriter& w) {
    show.AddToContainer(w);
    const std::string file = (dir_.Path() / ("show" + std::to_string(++n_) + ".orushow")).string();
    w.WriteFile(file);
    WideString error;
    TRef<TOruShowLocator> l = OpenContainerShow(BuiltWide(file), error);
    EXPECT_TRUE(l) << plat::ToUtf8(error);
    return l;
  }
  zmtest::TTempDir dir_;
  int n_ = 0;
};

TEST_F(ShowBuilderTest, EveryObjectKindAndKeyFrameReadsBackAsWritten) {
  TShowBuilder show;
  show.HiderColor(0x11, 0x22, 0x33);
  show.AddEffect("dissolve");
  show.AddEffect("push").Key("direction", "0100");
  TShowObject& clip = show.VideoClip("clip.mp4", 4000);

  auto& s1 = show.AddSlide(3000).Id("first").SolidBackground(0x12, 0x34, 0x56).Transition("quick", 0);
  TShowObject& image = s1.Image("Photo", "a.jpg");
  image.KeyPoint(0).Opacity(0).Position(-10, 5).Scale(50, 40);
  image.KeyPoint(1000, "SlideBegin").Opacity(100).Position(30, 25).Angle(90);
  TShowObject& box = s1.Box("Panel", 40, 20, zmtest::ShowRGB(10, 20, 30, 128));
  TShowObject& text = s1.TextObject("Caption", "two\nlines \\ back");
  TShowObject& button = s1.Button("Next", "Go on", "nextslide");
  TShowObject& port = s1.ViewPort("Port", 50, 50);
  TShowObject& ani = s1.AniImage("Strip", "a.jpg", 2, 2, 3);
  TShowObject& frame = s1.Frame("Frame", 10, 10);
  TShowObject& splitter = s1.Splitter("Split", 10, 1);

  auto& s2 = show.AddSlide(7000).GradientBackground(0xFF0000, 0x0000FF, 1).Transition("dissolve", 500);
  s2.Video(clip.Value("ClipGUID"));
  show.AddSlide(9000).PictureBackground("a.jpg", 80).Transition("push", 700).EndAction("loop");
  show.AddJpeg("a.jpg", 4, 3, 200, 100, 50);
  show.Write();

  TRef<TOruShowLocator> locator = OpenProjectShow(BuiltWide(show.ProjectFile()));
  ASSERT_TRUE(locator);
  TOruSource* source = locator->GetSource();
  ASSERT_TRUE(source);
  ASSERT_EQ(source->SlideCount(), 3);
  EXPECT_EQ(source->ShowLength(), 9000);
  EXPECT_EQ(source->RepeatMode(), kRepeatClose);
  EXPECT_FALSE(source->PauseWhenInactive());
  EXPECT_EQ(source->ScreenWidth(), 320);
  EXPECT_EQ(source->SlideId(0), u"first");
  // Colours keep each key's own byte order.
  EXPECT_EQ(source->HiderColor()[0], 0x11);
  EXPECT_EQ(source->HiderColor()[1], 0x22);
  EXPECT_EQ(source->HiderColor()[2], 0x33);
  EXPECT_EQ(IniGetInt(source->SlideSection(0)->Find(u"bcolor"), 0), 0x123456);
  EXPECT_EQ(IniGetInt(source->SlideSection(1)->Find(u"bcolor2"), 0), 0x0000FF);

  TSlideSpan span;
  source->GetSlideSpan(1, span);
  EXPECT_EQ(span.Start, 3000);
  EXPECT_EQ(span.End, 7000);
  double loop = 0;
  EXPECT_TRUE(source->GetSlideEndAction(2, loop));
  EXPECT_EQ(loop, 2000 - 700);

  // Transitions: by word through the main entries and their family numbers.
  double time = 0;
  float smooth = 0;
  EXPECT_FALSE(source->GetSlideEffect(0, time, smooth));
  TRef<TOruEffect> fade = source->GetSlideEffect(1, time, smooth);
  ASSERT_TRUE(fade);
  EXPECT_EQ(fade->Kind, kEffectDissolve);
  EXPECT_EQ(time, 500);
  TRef<TOruEffect> push = source->GetSlideEffect(2, time, smooth);
  ASSERT_TRUE(push);
  EXPECT_EQ(push->Kind, kEffectPush);
  EXPECT_EQ(push->Flags, (std::vector<std::uint8_t>{1, 0, 0, 0}));  // stored right first, read left first

  // Objects: type codes, keys and key frames.
  TRef<TOruObjectProps> props = MakeRef<TOruObjectProps>();
  props->LoadFromIni(source->SlideSection(0));
  props->ScaleTimes({0, 0, 3000, 3000}, 1);
  EXPECT_EQ(props->ChildCount(), 9);  // eight objects and TheEffect
  struct {
    TShowObject* Object;
    std::int32_t Type;
  } kinds[] = {{&image, kOruObjImage},     {&box, kOruObjBox},        {&text, kOruObjText},
               {&button, kOruObjButton},   {&port, kOruObjViewport},  {&ani, kOruObjAniImage},
               {&frame, kOruObjFrame},     {&splitter, kOruObjSplitter}};
  for (const auto& k : kinds) {
    TOruObjectProps* p = BuiltChild(props.get(), k.Object->Guid());
    ASSERT_TRUE(p) << k.Object->Name();
    EXPECT_EQ(p->ObjectType(), k.Type) << k.Object->Name();
  }
  TOruObjectProps* img = BuiltChild(props.get(), image.Guid());
  ASSERT_EQ(img->KeyFrames().Items.size(), 2u);
  EXPECT_EQ(GetKeyFrame(img->KeyFrames(), 0)->Groups(), 1 | 2 | 4);
  EXPECT_EQ(GetKeyFrame(img->KeyFrames(), 1)->Groups(), 1 | 2 | 8);
  EXPECT_EQ(BuiltKeyValue(img, 0, kParamPosX), -10);
  EXPECT_EQ(BuiltKeyValue(img, 0, kParamScaleY), 40);
  EXPECT_EQ(BuiltKeyValue(img, 1, kParamPosY), 25);
  EXPECT_EQ(BuiltKeyValue(img, 1, kParamAngle), 90);
  EXPECT_EQ(GetKeyFrame(img->KeyFrames(), 1)->Time(), 1000);
  img->UpdateAtTime(500, false);
  EXPECT_GT(img->RawParam(kParamOpacity), 0);
  EXPECT_LT(img->RawParam(kParamOpacity), 100);
  img->UpdateAtTime(2000, false);
  EXPECT_NEAR(img->RawParam(kParamPosX), 30, 1e-9);

  EXPECT_EQ(TOruObjectProps::ReadString(BuiltChild(props.get(), text.Guid()), u"Text", u""),
            u"two\\nlines \\\\ back");  // raw: the text object decodes the escapes
  EXPECT_EQ(BuiltChild(props.get(), text.Guid())->Section()->Find(u"Text")->DecodeIniValue(), u"two\r\nlines \\ back");
  EXPECT_EQ(TOruObjectProps::ReadString(BuiltChild(props.get(), box.Guid()), u"Color1", u""), u"10,20,30,128");
  TOruObjectProps* btn = BuiltChild(props.get(), button.Guid());
  ASSERT_EQ(btn->ChildCount(), 1);
  EXPECT_EQ(btn->Child(0)->ObjectType(), kOruObjText);
  EXPECT_EQ(btn->Child(0)->KeyFrames().Items.size(), 1u);
  TOruObjectProps* vp = BuiltChild(props.get(), port.Guid());
  ASSERT_EQ(vp->ChildCount(), 2);
  EXPECT_EQ(vp->Child(0)->ObjectType(), kOruObjMaskStencil);
  EXPECT_EQ(vp->Child(1)->ObjectType(), kOruObjMaskContent);

  // The clip of [Tracks] and the show time of the slide that plays it.
  const WideString guid = BuiltWide(clip.Value("ClipGUID"));
  TIniList* entry = FindVideoClipSection(locator->Description(), guid);
  ASSERT_TRUE(entry);
  EXPECT_EQ(IniGetInt(entry->Find(u"Duration"), 0), 4000);
  EXPECT_EQ(FindVideoStartTime(locator->Description(), guid), 3000);

  // The picture decodes to its colour, every row (JPEG: nearly exact).
  TRef<TOruImage> picture = locator->Accessor()->GetImage(u"a.jpg");
  ASSERT_TRUE(picture);
  auto* b = dynamic_cast<TSysBitmap*>(
      picture->Store()->GetMipLevel(0, PixelFormatByName(PF_R8G8B8), TSysBitmap::StaticClass()));
  ASSERT_TRUE(b);
  ASSERT_EQ(b->Width(), 4);
  ASSERT_EQ(b->Height(), 3);
  for (int y = 0; y < 3; ++y) {
    const TColor24 c = b->Row24(y)[3];
    EXPECT_NEAR(c.R, 200, 3);
    EXPECT_NEAR(c.G, 100, 3);
    EXPECT_NEAR(c.B, 50, 3);
  }
}

TEST_F(ShowBuilderTest, ContainerShowsCarryTheirIdentityAndDirectory) {
  TShowBuilder show;
  show.AddSlide(1000);
  show.MusicItem("song.mp3", 5000);
  show.Slide(0).Comment("voice.wav", 800);
  TShowContainerWriter w;
  w.Add("ExeGUID", TShowContainerWriter::ExeGuidData("{0A1B2C3D-0000-4000-8000-000000000001}"));
  w.Add("ffmpegdlls\\avcodec.dll", "MZ");
  TRef<TOruShowLocator> packed = OpenPacked(show, w);
  ASSERT_TRUE(packed);
  EXPECT_EQ(ReadShowExeGUID(packed->Accessor()), u"{0A1B2C3D-0000-4000-8000-000000000001}");
  TIniFile* dir = ShowContainerDirectory(packed.get());
  ASSERT_TRUE(dir);
  EXPECT_TRUE(dir->FindSection(u"Project.oru"));
  EXPECT_TRUE(dir->FindSection(u"ffmpegdlls\\avcodec.dll"));
  // Music blocks are named like their type, as readers find them by name.
  TIniObject* music = packed->Description()->FindSection(u"main")->FindObject(u"Music");
  ASSERT_TRUE(music);
  EXPECT_EQ(music->GetType(), u"Music");
  EXPECT_TRUE(packed->Description()->FindSection(u"Slide1")->FindObject(u"Music")->FindObject(u"Comment"));

  // A show of a project folder has no container directory and no identity.
  show.Write();
  TRef<TOruShowLocator> project = OpenProjectShow(BuiltWide(show.ProjectFile()));
  ASSERT_TRUE(project);
  EXPECT_FALSE(ShowContainerDirectory(project.get()));
  EXPECT_EQ(ReadShowExeGUID(project->Accessor()), u"");
  EXPECT_FALSE(ShowContainerDirectory(nullptr));
  EXPECT_EQ(ReadShowExeGUID(nullptr), u"");
}

TEST_F(ShowBuilderTest, DamagedIdentityEntries) {
  auto identity = [this](const std::string& data) {
    TShowBuilder show;
    show.AddSlide(1000);
    TShowContainerWriter w;
    w.Add("ExeGUID", data);
    TRef<TOruShowLocator> l = OpenPacked(show, w);
    return l ? ReadShowExeGUID(l->Accessor()) : u"<no show>";
  };
  // Without the length prefix (or with a wrong one) the bytes are the text.
  EXPECT_EQ(identity("{AB}"), u"{AB}");
  EXPECT_EQ(identity(std::string("\x09\0\0\0", 4) + "{A}x{B}xx"), std::u16string(u"\x09\0\0\0{A}x{B}xx", 13));
  // A length that runs past the end, an odd length, a lone prefix.
  EXPECT_EQ(identity(std::string("\xFF\xFF\xFF\x7F", 4) + "ab").size(), 6u);
  EXPECT_EQ(identity(std::string("\x03\0\0\0", 4) + "abc").size(), 7u);
  EXPECT_EQ(identity(std::string("\0\0\0\0", 4)), u"");
  EXPECT_EQ(identity(""), u"");
  // Far too large to be an identity.
  EXPECT_EQ(identity(std::string(kMaxExeGUIDSize + 1, 'x')), u"");
  EXPECT_EQ(identity(std::string(kMaxExeGUIDSize, 'x')).size(), static_cast<std::size_t>(kMaxExeGUIDSize));
}

TEST_F(ShowBuilderTest, DamagedShowsTheBuilderCanWrite) {
  // Ends that fall are refused by the show source, not read.
  TShowBuilder falling;
  falling.AddSlide(5000);
  falling.AddSlide(2000);
  falling.Write();
  TRef<TOruShowLocator> l = OpenProjectShow(BuiltWide(falling.ProjectFile()));
  ASSERT_TRUE(l);
  EXPECT_THROW(l->GetSource(), EAbort);

  // Keys set on Times win over the counted ones; objects may lack a GUID.
  TShowBuilder odd;
  odd.AddSlide(1000).Image("NoId", "missing.jpg").SetGuid("");
  odd.Times().Key("opt_slidescount", 0);
  odd.Write();
  l = OpenProjectShow(BuiltWide(odd.ProjectFile()));
  ASSERT_TRUE(l);
  EXPECT_EQ(l->GetSource()->SlideCount(), 0);
  EXPECT_FALSE(l->Description()->FindSection(u"Slide1")->FindObject(u"NoId")->Find(u"GUID"));
}

TEST(ObjectPropsServices, BindingItemsAndLocalTime) {
  TRef<TOruObjectProps> props = MakeRef<TOruObjectProps>();
  auto* a = reinterpret_cast<TOruObject*>(0x1000);
  auto* b = reinterpret_cast<TOruObject*>(0x2000);
  EXPECT_FALSE(props->BoundObject());
  EXPECT_TRUE(props->Bind(a));
  EXPECT_TRUE(props->Bind(a));
  EXPECT_FALSE(props->Bind(b));  // one object at most
  props->Unbind(b);              // not the bound one: no change
  EXPECT_EQ(props->BoundObject(), a);
  props->Unbind(a);
  EXPECT_TRUE(props->Bind(b));
  props->Unbind(b);

  // Without a section every key reads as its default.
  EXPECT_FALSE(TOruObjectProps::FindItem(props.get(), u"Size"));
  EXPECT_FALSE(TOruObjectProps::FindItem(nullptr, u"Size"));
  EXPECT_EQ(TOruObjectProps::ReadString(nullptr, u"Size", u"d"), u"d");
  EXPECT_EQ(TOruObjectProps::ReadString(props.get(), u"Size", u"d"), u"d");

  EXPECT_EQ(props->LocalTime(), 0);
  props->UpdateAtTime(1234.5, true);
  EXPECT_EQ(props->LocalTime(), 1234.5);
  props->UpdateAtTime(std::nan(""), true);
  EXPECT_EQ(props->LocalTime(), 0);
}

TEST(ShowBuilderText, NumbersColoursAndFamilies) {
  EXPECT_EQ(zmtest::ShowNumber(2), "2");
  EXPECT_EQ(zmtest::ShowNumber(-0.25), "-0.25");
  EXPECT_EQ(zmtest::ShowNumber(std::nan("")), "0");
  EXPECT_EQ(zmtest::ShowRGB(1, 2, 3), "1,2,3");
  EXPECT_EQ(zmtest::ShowRGB(1, 2, 3, 0), "1,2,3,0");
  EXPECT_EQ(zmtest::EffectFamilyNumber("dissolve"), 2);
  EXPECT_EQ(zmtest::EffectFamilyNumber("swap"), 13);
  EXPECT_EQ(zmtest::EffectFamilyNumber("custom"), -1);
  for (const char* word : {"dissolve", "hourhand", "shapes", "gates", "page", "mosaic", "push", "slide", "curling",
                           "flip", "swap"})
    EXPECT_EQ(EffectKindOfFamily(zmtest::EffectFamilyNumber(word)), EffectKindOfWord(BuiltWide(word))) << word;
  EXPECT_NE(zmtest::NewShowGuid(), zmtest::NewShowGuid());
}

}  // namespace
