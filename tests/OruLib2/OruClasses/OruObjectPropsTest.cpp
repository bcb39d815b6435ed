#include "OruLib2/OruClasses/OruObjectProps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <thread>
#include <string>
#include <vector>

#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmIni.h"

namespace {

using oru::KeyFrameParams;
using oru::TOruObjectProps;
using zm::TIniFile;
using zm::TIniObject;
using zm::TRef;

struct PropsDoc {
  TRef<TIniFile> File;
  TRef<TOruObjectProps> Props;
  TIniObject* Object = nullptr;
};

// A slide section holding one object block "object Obj:<type>" with body.
PropsDoc LoadProps(const std::string& type, const std::string& body, double slideEnd = 10000) {
  PropsDoc d;
  d.File = zm::MakeRef<TIniFile>();
  d.File->LoadFromText(zm::TByteString("[Slide1]\r\nobject Obj:" + type + "\r\n" + body + "end\r\n"));
  d.Object = d.File->FindSection(u"Slide1")->FindObject(u"Obj");
  d.Props = zm::MakeRef<TOruObjectProps>();
  d.Props->LoadFromIni(d.Object);
  d.Props->ScaleTimes({0, 0, 0, slideEnd}, 1);
  return d;
}

std::string Key(int time, const std::string& keys, const std::string& children = {}) {
  return "object KeyPoint:KeyPoint\r\nTime=" + std::to_string(time) + "\r\n" + keys + children + "end\r\n";
}

double At(TOruObjectProps& p, double time, int param) {
  p.UpdateAtTime(time, false);
  return p.Param(param);
}

TEST(OruObjectPropsTables, ChecksNamesAndReferences) {
  EXPECT_NO_THROW(oru::CheckKeyFrameParamTable(KeyFrameParams));
  auto broken = KeyFrameParams;
  broken[3].Index = 4;
  EXPECT_THROW(oru::CheckKeyFrameParamTable(broken), zm::EAbort);
  broken = KeyFrameParams;
  broken[6].Multiplier = 0;
  EXPECT_THROW(oru::CheckKeyFrameParamTable(broken), zm::EAbort);
  broken = KeyFrameParams;
  broken[11].Group = 8;
  EXPECT_THROW(oru::CheckKeyFrameParamTable(broken), zm::EAbort);
  broken = KeyFrameParams;
  broken[3].PairElement = 0;  // a third pair key
  EXPECT_THROW(oru::CheckKeyFrameParamTable(broken), zm::EAbort);

  EXPECT_EQ(oru::OruObjectTypeOf(u"image"), 4);
  EXPECT_EQ(oru::OruObjectTypeOf(u"VIEWPORT"), 9);
  EXPECT_EQ(oru::OruObjectTypeOf(u"MaskContent"), 11);
  EXPECT_EQ(oru::OruObjectTypeOf(u"Images"), 0);
  EXPECT_EQ(oru::OruObjectTypeOf(u"I"), 0);
  EXPECT_EQ(oru::OruObjectTypeOf(u""), 0);
  EXPECT_EQ(oru::OruObjectTypeName(9), u"ViewPort");
  EXPECT_EQ(oru::OruObjectTypeName(12), u"");

  struct Case {
    const char16_t* Name;
    int Group, Param;
  } cases[] = {{u"pos.x", 1, 1}, {u"Pos.T", 1, -1},    {u"color.t", 6, -1}, {u"Opacity", 0, 0},
               {u"Frame.S", 7, 12}, {u"Angle.Y", 3, 8}, {u"Pos", -1, -1},   {u"Pos.Q", -1, -1},
               {u"Foo.X", -1, -1},  {u"Pos.X.Y", -1, -1}, {u"Scale.X", 2, 4}, {u"", -1, -1},
               {u"Pos.Angle", -1, -1}, {u".T", -1, -1},
               // A parameter's time is its group's; only real parameters have one.
               {u"Pos.X.T", 1, -1}, {u"frame.s.t", 7, -1}, {u"Opacity.T", 0, -1}, {u"Pos.Q.T", -1, -1},
               {u"Pos.X.Y.T", -1, -1}, {u"Pos.T.T", -1, -1}, {u"Pos..T", -1, -1}, {u"Foo.X.T", -1, -1}};
  for (const Case& c : cases) {
    const oru::TParamRef r = oru::ParseParamRef(c.Name);
    EXPECT_EQ(r.Group, c.Group) << zm::UTF8Encode(c.Name).Str();
    EXPECT_EQ(r.Param, c.Param) << zm::UTF8Encode(c.Name).Str();
  }
}

TEST(OruObjectProps, InterpolatesBeforeAtBetweenAndAfter) {
  PropsDoc d = LoadProps("Image", Key(1000, "Opacity=0\r\nPosition=10,20\r\nAngle=90\r\n") +
                                      Key(3000, "Opacity=100\r\nPosition=30,-20\r\nAngle=270\r\n"));
  TOruObjectProps& p = *d.Props;
  struct Row {
    double Time, Opacity, X, Y, Angle;
  } rows[] = {{0, 0, 0.1, 0.2, 0.25},        {1000, 0, 0.1, 0.2, 0.25},  {2000, 0.5, 0.2, 0, 0.5},
              {2500, 0.75, 0.25, -0.1, 0.625}, {3000, 1, 0.3, -0.2, 0.75}, {99999, 1, 0.3, -0.2, 0.75},
              {-5e9, 0, 0.1, 0.2, 0.25},       {1500, 0.25, 0.15, 0.1, 0.375}};
  for (const Row& r : rows) {
    p.UpdateAtTime(r.Time, false);
    EXPECT_NEAR(p.Param(oru::kParamOpacity), r.Opacity, 1e-12) << r.Time;
    EXPECT_NEAR(p.Param(oru::kParamPosX), r.X, 1e-12) << r.Time;
    EXPECT_NEAR(p.Param(oru::kParamPosY), r.Y, 1e-12) << r.Time;
    EXPECT_NEAR(p.Param(oru::kParamAngle), r.Angle, 1e-12) << r.Time;
    // Groups the key frames do not mention keep their defaults.
    EXPECT_NEAR(p.Param(oru::kParamScaleX), 1.0, 1e-12);
  }
  // A time that is no number reads as 0 instead of poisoning the state.
  p.UpdateAtTime(std::nan(""), false);
  EXPECT_NEAR(p.Param(oru::kParamOpacity), 0, 1e-12);
  p.UpdateAtTime(INFINITY, false);
  EXPECT_NEAR(p.Param(oru::kParamOpacity), 1, 1e-12);
}

TEST(OruObjectProps, SearchFromMemoMatchesFreshSearchInAnyOrder) {
  std::string body;
  // Pairs of key frames share a time.
  for (int k = 0; k < 40; ++k) body += Key(k / 2 * 500, "Opacity=" + std::to_string((k * 37) % 101) + "\r\n");
  PropsDoc d = LoadProps("Box", body);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> time(-1000, 11000);
  for (int i = 0; i < 400; ++i) {
    const double t = i % 4 == 0 ? 500.0 * (i % 23) : time(rng);
    PropsDoc fresh = LoadProps("Box", body);
    ASSERT_DOUBLE_EQ(At(*d.Props, t, 0), At(*fresh.Props, t, 0)) << t;
  }
}

TEST(OruObjectProps, OutOfOrderAndEqualTimes) {
  PropsDoc d = LoadProps("Box", Key(3000, "Opacity=30\r\n") + Key(1000, "Opacity=10\r\n") +
                                    Key(2000, "Opacity=20\r\n") + Key(2000, "Opacity=80\r\n"));
  const auto& items = d.Props->KeyFrames().Items;
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0]->Time(), 1000);
  // Equal times keep the file's order.
  double v = 0;
  items[1]->GetParam(0, v);
  EXPECT_EQ(v, 20);
  items[2]->GetParam(0, v);
  EXPECT_EQ(v, 80);
  EXPECT_NEAR(At(*d.Props, 1500, 0), 0.15, 1e-12);
  // At the shared time the later key frame rules, and no division by zero.
  EXPECT_NEAR(At(*d.Props, 2000, 0), 0.8, 1e-12);
  EXPECT_NEAR(At(*d.Props, 2500, 0), 0.55, 1e-12);
  EXPECT_NEAR(At(*d.Props, 1999.9999, 0), 0.2, 1e-6);
}

TEST(OruObjectProps, MissingAndDamagedValuesGiveDefaults) {
  // No key frames at all.
  PropsDoc none = LoadProps("Image", "");
  none.Props->UpdateAtTime(500, true);
  for (int i = 0; i < oru::kKeyFrameParamCount; ++i)
    EXPECT_DOUBLE_EQ(none.Props->Param(i), KeyFrameParams[i].Default * KeyFrameParams[i].Multiplier) << i;
  EXPECT_EQ(none.Props->GroupFrameA(0), nullptr);

  PropsDoc d = LoadProps("Image", Key(0, "grps=junk\r\nOpacity=abc\r\nScaleX=nan\r\nScaleY=1e999\r\n"
                                         "Position=7\r\nCenterPos=,\r\nZoom=\r\nOffsX=12\r\n") +
                                      "object KeyPoint:KeyPoint\r\nTime=zz.5\r\nOrigin=Nowhere\r\n"
                                      "grps=2\r\nPosition= 50 , 60 ,70\r\nend\r\n");
  const auto& items = d.Props->KeyFrames().Items;
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[1]->Time(), 0);
  EXPECT_EQ(items[1]->Origin(), 0);
  double v = -1;
  EXPECT_TRUE(items[0]->GetParam(oru::kParamOpacity, v));
  EXPECT_EQ(v, 100);
  items[0]->GetParam(oru::kParamScaleX, v);
  EXPECT_EQ(v, 100);
  items[0]->GetParam(oru::kParamScaleY, v);
  EXPECT_EQ(v, 100);
  items[0]->GetParam(oru::kParamPosX, v);
  EXPECT_EQ(v, 7);
  items[0]->GetParam(oru::kParamPosY, v);
  EXPECT_EQ(v, 0);
  items[0]->GetParam(oru::kParamCenterY, v);
  EXPECT_EQ(v, 0);
  items[0]->GetParam(oru::kParamFrameZoom, v);
  EXPECT_EQ(v, 100);
  // The second key frame holds only the position group.
  EXPECT_FALSE(items[1]->GetParam(oru::kParamOpacity, v));
  EXPECT_EQ(v, 100);
  EXPECT_TRUE(items[1]->GetParam(oru::kParamPosY, v));
  EXPECT_EQ(v, 60);
  d.Props->UpdateAtTime(0, false);
  EXPECT_NEAR(d.Props->Param(oru::kParamPosX), 0.5, 1e-12);
  EXPECT_NEAR(d.Props->Param(oru::kParamOpacity), 1, 1e-12);
  EXPECT_THROW(items[0]->GetParam(15, v), zm::EAbort);
  EXPECT_THROW(items[0]->GetParam(-1, v), zm::EAbort);
  EXPECT_THROW(items[0]->SetParam(15, 1), zm::EAbort);
  EXPECT_EQ(d.Props->Param(99), 0);
}

TEST(OruObjectProps, ObjectTypeDecidesColourAndFrameGroups) {
  const std::string body = Key(0, "grps=255\r\nZoom=200\r\n");
  for (auto [type, mask] : {std::pair{"Image", 255}, {"Video", 255}, {"Text", 127}, {"Button", 127},
                            {"Box", 63}, {"Viewport", 63}, {"Whatever", 63}}) {
    PropsDoc d = LoadProps(type, body);
    EXPECT_EQ(d.Props->KeyFrames().Items[0]->Groups(), mask) << type;
    EXPECT_NEAR(At(*d.Props, 0, oru::kParamFrameZoom), mask == 255 ? 2.0 : 1.0, 1e-12) << type;
  }
}

TEST(OruObjectProps, TimesFollowOriginsAndScale) {
  PropsDoc d = LoadProps("Box", "DeltaTime1=1001\r\nDeltaTime2=x\r\n" + Key(100, "Origin=slideend\r\nOpacity=0\r\n") +
                                    "object KeyPoint:KeyPoint\r\nOrigin=PrevEffectEnd\r\nTime=-200.9\r\n"
                                    "Opacity=100\r\nend\r\n");
  TOruObjectProps& p = *d.Props;
  p.ScaleTimes({1000, 2000, 8000, 9000}, 1.5);
  const auto& items = p.KeyFrames().Items;
  ASSERT_EQ(items.size(), 2u);
  // 2000 - round(300), then 9000 + 150: the list re-sorted after scaling.
  EXPECT_EQ(items[0]->Time(), 1700);
  EXPECT_EQ(items[1]->Time(), 9150);
  EXPECT_EQ(p.DeltaTime1(), 1502);  // 1501.5 rounds to even
  EXPECT_EQ(p.DeltaTime2(), 0);
  // Scaling works from the loaded times, so it does not pile up.
  p.ScaleTimes({1000, 2000, 8000, 9000}, 1.5);
  EXPECT_EQ(items[0]->Time(), 1700);
  p.ScaleTimes({NAN, 0, 0, INFINITY}, NAN);
  EXPECT_EQ(p.KeyFrames().Items[0]->Time(), -200);
  EXPECT_TRUE(std::isfinite(At(p, 50, 0)));
}

TEST(OruObjectProps, FrameOffsetsKeepThePointSteadyWhileZooming) {
  PropsDoc d = LoadProps("Image", Key(0, "Zoom=100\r\nOffsX=0\r\nOffsY=40\r\n") +
                                      Key(1000, "Zoom=300\r\nOffsX=50\r\nOffsY=40\r\n"));
  TOruObjectProps& p = *d.Props;
  p.UpdateAtTime(500, false);
  EXPECT_NEAR(p.Param(oru::kParamFrameZoom), 2.0, 1e-12);
  // (0 * 0 + (50 * 2 - 0) * 0.5) / (2 - 1)
  EXPECT_NEAR(p.RawParam(oru::kParamFrameX), 50, 1e-9);
  // Equal offsets interpolate plainly.
  EXPECT_NEAR(p.RawParam(oru::kParamFrameY), 40, 1e-9);
  // A smaller picture (s = 0.25) leaves no overhang: plain interpolation.
  p.SetBaseParam(oru::kParamScaleX, 25);
  p.UpdateAtTime(500, false);
  EXPECT_NEAR(p.RawParam(oru::kParamFrameX), 25, 1e-9);
  p.SetBaseParam(99, 1);
  p.SetBaseParam(4, NAN);
  EXPECT_EQ(p.BaseParam(4), 25);
}

TEST(OruObjectProps, ModifiersChangeValuesAsTheShowPlays) {
  PropsDoc d = LoadProps(
      "Image",
      Key(1000, "Opacity=0\r\nPosition=0,0\r\nAngle=10\r\n",
          "object m1:Mod\r\ndst=Opacity.T\r\nfn=value*value\r\nend\r\n"
          "object m2:Mod\r\ndst=Pos.X\r\nfn=value + amp*T\r\namp=40\r\nend\r\n"
          "object m3:Mod\r\ndst=Angle\r\nfn=Opacity + Pos.X\r\nend\r\n"
          "object bad:Mod\r\ndst=Pos.Y\r\nfn=(1+\r\nend\r\n"
          "object lost:Mod\r\ndst=Nowhere.X\r\nfn=1\r\nend\r\n"
          "object Filter:Filter\r\nobject Invert:x\r\nend\r\nobject NoSuchFilter:x\r\nend\r\n"
          "object Levels:x\r\nMax=128\r\nend\r\nend\r\n") +
          Key(3000, "Opacity=100\r\nPosition=100,50\r\nAngle=10\r\n"));
  TOruObjectProps& p = *d.Props;
  const auto* kf = p.KeyFrames().Items[0];
  EXPECT_EQ(kf->GroupMods(oru::kGroupOpacity).size(), 1u);
  EXPECT_EQ(kf->ParamMods(oru::kParamPosX).size(), 1u);
  EXPECT_EQ(kf->ParamMods(oru::kParamPosY).size(), 1u);
  EXPECT_TRUE(kf->ParamMods(oru::kParamPosY)[0]->NotPrepared());
  EXPECT_TRUE(kf->ParamMods(-1).empty());
  // The colour filters in file order, unknown kinds left out.
  ASSERT_NE(kf->Filters(), nullptr);
  EXPECT_EQ(kf->Filters()->IniObject()->GetName(), u"Invert");
  ASSERT_NE(kf->Filters()->Next, nullptr);
  EXPECT_EQ(kf->Filters()->Next->IniObject()->GetName(), u"Levels");
  EXPECT_EQ(kf->Filters()->Next->Next, nullptr);

  for (double t : {1000.0, 1500.0, 2000.0, 2500.0, 1200.0}) {
    const double f = (t - 1000) / 2000;
    p.UpdateAtTime(t, false);
    EXPECT_NEAR(p.Param(oru::kParamOpacity), f * f, 1e-12) << t;
    EXPECT_NEAR(p.GroupTime(oru::kGroupOpacity), f, 1e-12);
    EXPECT_NEAR(p.GroupFraction(oru::kGroupOpacity), f * f, 1e-12);
    EXPECT_NEAR(p.RawParam(oru::kParamPosX), 100 * f + 40 * f, 1e-9) << t;
    // The formula that does not compile changes nothing.
    EXPECT_NEAR(p.RawParam(oru::kParamPosY), 50 * f, 1e-9);
    // Fields of the object in stored units.
    EXPECT_NEAR(p.RawParam(oru::kParamAngle), 100 * f * f + 140 * f, 1e-9) << t;
  }
  oru::ObjectModifiersEnabled = false;
  p.UpdateAtTime(2000, false);
  oru::ObjectModifiersEnabled = true;
  EXPECT_NEAR(p.Param(oru::kParamOpacity), 0.5, 1e-12);
  EXPECT_NEAR(p.RawParam(oru::kParamAngle), 10, 1e-12);
  // A modifier kept beyond its object no longer reads the object's fields.
  TRef<oru::TOruObjectMod> held = kf->ParamMods(oru::kParamAngle)[0];
  d.Props.reset();
  EXPECT_EQ(held->Owner(), nullptr);
  EXPECT_EQ(held->MapValue(1), 0);
}

// Every field's time ("Pos.X.T", "Frame.S.T" ...) resolves through the object
// itself to the time of that field's group: here the group of the field has
// a key frame of its own at 2000, so its time at 2500 is 0.5 while every
// other group is at 0.75. Groups are updated in order, so a formula reads a
// later group's time as of the update before: the time is updated twice.
TEST(OruObjectProps, ModifiersReadTheTimeOfEachField) {
  for (const oru::TKeyFrameParamInfo& field : KeyFrameParams) {
    const std::string name = zm::UTF8Encode(field.Name).Str();
    const std::string mod = "object m:Mod\r\ndst=Angle\r\nfn=" + name + ".T\r\nend\r\n";
    const std::string own = "grps=" + std::to_string(1 << field.Group) + "\r\n";
    PropsDoc d = LoadProps("Image", Key(1000, "", mod) + Key(2000, own, mod) + Key(3000, "", mod));
    const auto* kf = d.Props->KeyFrames().Items[0];
    ASSERT_EQ(kf->ParamMods(oru::kParamAngle).size(), 1u) << name;
    EXPECT_FALSE(kf->ParamMods(oru::kParamAngle)[0]->NotPrepared()) << name;
    d.Props->UpdateAtTime(2500, false);
    d.Props->UpdateAtTime(2500, false);
    EXPECT_NEAR(d.Props->RawParam(oru::kParamAngle), 0.5, 1e-12) << name;
    EXPECT_NEAR(d.Props->GroupTime(field.Group == 0 ? 1 : 0), 0.75, 1e-12) << name;
  }
}

// Each slide's properties belong to one thread, but their formulas share the
// calculator's registered functions (the timing curve among them).
TEST(OruObjectProps, SlidesOnTwoThreadsEvaluateTheirFormulasAlike) {
  const std::string body =
      Key(0, "Opacity=0\r\nAngle=0\r\n",
          "object e:Mod\r\ndst=Opacity.T\r\nfn=QSplineGraph(T, x1, 0, 0.58, 1)\r\nx1=0.42\r\nend\r\n"
          "object w:Mod\r\ndst=Angle\r\nfn=value + QSplineGraph(T, 0.1, 0.9, 0.2, 0.3)*90 + 1/T\r\nend\r\n") +
      Key(1000, "Opacity=100\r\nAngle=360\r\n");
  auto sweep = [&body](std::vector<double>& out) {
    PropsDoc d = LoadProps("Box", body);
    for (int i = 0; i <= 2000; ++i) {
      d.Props->UpdateAtTime(i * 0.5, false);
      out.push_back(d.Props->Param(oru::kParamOpacity));
      out.push_back(d.Props->Param(oru::kParamAngle));
    }
  };
  std::vector<double> alone, a, b;
  sweep(alone);
  std::thread ta([&] { sweep(a); });
  std::thread tb([&] { sweep(b); });
  ta.join();
  tb.join();
  EXPECT_EQ(a, alone);
  EXPECT_EQ(b, alone);
  // An eased curve: slow at both ends, and 1/T at T = 0 leaves the value alone.
  EXPECT_LT(alone[2 * 100], 0.1 * 0.5);
  EXPECT_NEAR(alone[2 * 1000], 0.5, 1e-3);
  EXPECT_TRUE(std::isfinite(alone[1]));
  EXPECT_EQ(alone[1], 0);
}

TEST(OruObjectProps, LoneKeyFrameStillGivesModifiersATime) {
  PropsDoc d = LoadProps("Box", Key(2000, "Opacity=50\r\n",
                                    "object m:Mod\r\ndst=Opacity\r\nfn=value*(1-T)\r\nend\r\n"),
                         6000);
  EXPECT_NEAR(At(*d.Props, 0, 0), 0.5, 1e-12);
  EXPECT_NEAR(At(*d.Props, 3000, 0), 0.375, 1e-12);
  EXPECT_NEAR(At(*d.Props, 6000, 0), 0, 1e-12);
  EXPECT_NEAR(At(*d.Props, 9000, 0), 0, 1e-12);
  // No time after the key frame: T stays 0.
  d.Props->ScaleTimes({0, 0, 0, 2000}, 1);
  EXPECT_NEAR(At(*d.Props, 5000, 0), 0.5, 1e-12);
}

TEST(OruObjectProps, SetParamEditsOneElementAndMarksTheList) {
  PropsDoc d = LoadProps("Image", Key(0, "grps=1\r\nCenterPos=5\r\n",
                                      "object m:Mod\r\ndst=Scale.Y\r\nfn=value\r\nScaleY=80\r\nend\r\n"));
  TOruObjectProps& p = *d.Props;
  oru::TOruKeyFrame* kf = p.KeyFrames().Items[0];
  const std::uint32_t before = p.KeyFrames().ChangeCount;
  EXPECT_NEAR(At(p, 0, oru::kParamCenterY), 0, 1e-12);
  kf->SetParam(oru::kParamCenterY, 2.5);
  EXPECT_GT(p.KeyFrames().ChangeCount, before);
  EXPECT_EQ(kf->IniObject()->Find(u"CenterPos")->GetString(), u"5,2.5");
  EXPECT_EQ(kf->IniObject()->Find(u"grps")->GetInt(0), 1 | 16);
  EXPECT_NEAR(At(p, 0, oru::kParamCenterY), 0.025, 1e-12);
  EXPECT_NEAR(p.Param(oru::kParamCenterX), 0.05, 1e-12);
  kf->SetParam(oru::kParamPosY, -3);
  EXPECT_EQ(kf->IniObject()->Find(u"Position")->GetString(), u"0,-3");
  // A value held by the parameter's modifier is read and written there.
  double v = 0;
  kf->SetParam(oru::kParamScaleX, 1);  // sets the scale group
  EXPECT_TRUE(kf->GetParam(oru::kParamScaleY, v));
  EXPECT_EQ(v, 80);
  kf->SetParam(oru::kParamScaleY, 60);
  EXPECT_EQ(kf->ParamMods(oru::kParamScaleY)[0]->IniObject()->Find(u"ScaleY")->GetInt(0), 60);
  EXPECT_EQ(kf->IniObject()->Find(u"ScaleY"), nullptr);
  EXPECT_NEAR(At(p, 0, oru::kParamScaleY), 0.6, 1e-12);
  // A frame value on a box is stored but its group stays off.
  PropsDoc box = LoadProps("Box", Key(0, "grps=1\r\n"));
  box.Props->KeyFrames().Items[0]->SetParam(oru::kParamFrameZoom, 300);
  EXPECT_FALSE(box.Props->KeyFrames().Items[0]->GetParam(oru::kParamFrameZoom, v));
}

TEST(OruObjectProps, CreateAppendsAKeyFrameInTimeOrder) {
  PropsDoc d = LoadProps("Box", Key(500, "Opacity=0\r\n"));
  oru::TOruKeyFrame* kf = oru::TOruKeyFrame::Create(d.Props.get());
  EXPECT_EQ(oru::GetKeyFrame(d.Props->KeyFrames(), 0), kf);
  EXPECT_EQ(oru::GetKeyFrame(d.Props->KeyFrames(), 2), nullptr);
  EXPECT_EQ(oru::GetKeyFrame(d.Props->KeyFrames(), -1), nullptr);
  EXPECT_EQ(d.Object->ObjectCount(), 2);
  EXPECT_NEAR(At(*d.Props, 250, 0), 0.5, 1e-12);
  // Without a section the key frame keeps its own block.
  TRef<TOruObjectProps> bare = zm::MakeRef<TOruObjectProps>();
  oru::TOruKeyFrame* own = oru::TOruKeyFrame::Create(bare.get());
  own->SetParam(oru::kParamOpacity, 20);
  EXPECT_NEAR(At(*bare, 0, 0), 0.2, 1e-12);
  bare->LoadFromIni(nullptr);
  EXPECT_NEAR(At(*bare, 0, 0), 0.2, 1e-12);
}

TEST(OruObjectProps, ReloadReusesKeyFramesAndChildrenByGuid) {
  auto file = zm::MakeRef<TIniFile>();
  file->LoadFromText(zm::TByteString(
      "[Slide1]\r\nGUID={S}\r\n"
      "object KeyPoint:KeyPoint\r\nTime=0\r\nend\r\n"
      "object KeyPoint:KeyPoint\r\nTime=100\r\nend\r\n"
      "object A:Image\r\nGUID={A}\r\nobject Inner:Text\r\nGUID={I}\r\nend\r\nend\r\n"
      "object B:Box\r\nGUID={B}\r\nend\r\n"
      "object C:Box\r\nend\r\n"));
  zm::TIniSection* slide = file->FindSection(u"Slide1");
  auto props = zm::MakeRef<TOruObjectProps>();
  props->LoadFromIni(slide);
  ASSERT_EQ(props->ChildCount(), 3);
  EXPECT_EQ(props->GUID().Str(), "{S}");
  EXPECT_EQ(props->Child(0)->ObjectType(), oru::kOruObjImage);
  EXPECT_EQ(props->Child(0)->ChildCount(), 1);
  // The object without an identity got one written into it.
  const std::string made = slide->FindObject(u"C")->Find(u"GUID")->GetValue().Str();
  EXPECT_EQ(made.size(), 38u);
  EXPECT_EQ(props->Child(2)->GUID().Str(), made);

  oru::TOruKeyFrame* firstFrame = props->KeyFrames().Items[0];
  TOruObjectProps* a = props->Child(0);
  TOruObjectProps* b = props->Child(1);
  // Swap A and B, drop a key frame and C.
  slide->Delete(slide->FindObject(u"C")->Index());
  slide->Delete(slide->FindObject(u"A")->Index());
  slide->Delete(slide->FirstObject()->Index());
  slide->AddObject(u"A2", u"Image")->WriteString(u"GUID", u"{A}");
  props->LoadFromIni(slide);
  ASSERT_EQ(props->ChildCount(), 2);
  EXPECT_EQ(props->Child(0), b);
  EXPECT_EQ(props->Child(1), a);
  EXPECT_EQ(a->ChildCount(), 0);
  ASSERT_EQ(props->KeyFrames().Items.size(), 1u);
  EXPECT_EQ(props->KeyFrames().Items[0], firstFrame);
  EXPECT_EQ(firstFrame->Time(), 100);
  // A repeated identity takes the held properties once; the copy gets new ones.
  slide->AddObject(u"B2", u"Box")->WriteString(u"GUID", u"{B}");
  props->LoadFromIni(slide);
  ASSERT_EQ(props->ChildCount(), 3);
  EXPECT_EQ(props->Child(0), b);
  EXPECT_EQ(props->Child(1), a);
  EXPECT_NE(props->Child(2), b);
}

TEST(OruObjectProps, DeepNestingAndChildrenUpdates) {
  std::string text = "[Slide1]\r\n";
  const int depth = 300;
  for (int k = 0; k < depth; ++k) text += "object O" + std::to_string(k) + ":Box\r\nGUID={" + std::to_string(k) + "}\r\n";
  text += "object KeyPoint:KeyPoint\r\nOpacity=10\r\nend\r\n";
  for (int k = 0; k < depth; ++k) text += "end\r\n";
  auto file = zm::MakeRef<TIniFile>();
  file->LoadFromText(zm::TByteString(text));
  auto props = zm::MakeRef<TOruObjectProps>();
  props->LoadFromIni(file->FindSection(u"Slide1"));
  props->ScaleTimes({0, 0, 0, 1000}, 2);
  props->UpdateAtTime(10, true);
  int levels = 0;
  for (TOruObjectProps* c = props.get(); c->ChildCount() > 0; c = c->Child(0)) ++levels;
  EXPECT_GT(levels, 10);
  EXPECT_LT(levels, depth);
  TOruObjectProps* first = props->Child(0);
  EXPECT_NEAR(first->Param(0), 1.0, 1e-12);
}

TEST(OruObjectProps, AspectFactors) {
  PropsDoc d = LoadProps("Image", "EnableAspect=1\r\nAspect=2\r\n");
  TOruObjectProps& p = *d.Props;
  p.ApplyAspect(100, 100);  // r = 1 <= 2
  EXPECT_DOUBLE_EQ(p.AspectX(), 0.01);
  EXPECT_DOUBLE_EQ(p.AspectY(), 0.02);
  p.UpdateAtTime(0, false);
  EXPECT_DOUBLE_EQ(p.Param(oru::kParamScaleY), 2.0);
  p.ApplyAspect(400, 100);  // r = 4 > 2
  EXPECT_DOUBLE_EQ(p.AspectX(), 0.02);
  EXPECT_DOUBLE_EQ(p.AspectY(), 0.01);
  p.ApplyAspect(0, 100);
  EXPECT_DOUBLE_EQ(p.AspectX(), 0.01);
  PropsDoc off = LoadProps("Image", "EnableAspect=true\r\nAspect=2\r\n");
  off.Props->ApplyAspect(100, 100);
  EXPECT_DOUBLE_EQ(off.Props->AspectY(), 0.01);
  PropsDoc bad = LoadProps("Image", "EnableAspect=1\r\nAspect=-1\r\n");
  bad.Props->ApplyAspect(100, 100);
  EXPECT_DOUBLE_EQ(bad.Props->AspectY(), 0.01);
}

}  // namespace
