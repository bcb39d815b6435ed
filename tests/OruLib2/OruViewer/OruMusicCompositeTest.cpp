#include "OruLib2/OruViewer/OruMusicComposite.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ZmLib/Music/zmConverterFactory.h"
#include "ZmLib/Music/zmMusicPlayer.h"
#include "OruLib2/OruViewer/OruMusicOptions.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmIni.h"
#include "tests/ZmLib/Music/MusicMediaKit.h"

using namespace oru;
using zm::MakeRef;
using zm::RefCast;
using zm::TRef;

namespace {

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// A stereo 16-bit 44.1 kHz WAV whose every sample is value(frame).
template <class F>
std::string ShapedWav(std::int32_t frames, F value) {
  std::string data;
  for (std::int32_t f = 0; f < frames; ++f) {
    const auto v = std::uint16_t(std::int16_t(value(f)));
    zmtest::PutLE(data, v, 2);
    zmtest::PutLE(data, v, 2);
  }
  return zmtest::MakeWav(zmtest::TWavLayout{}, data);
}

// The hooks the mixer relies on, as start-up sets them.
class CompositeMix : public ::testing::Test {
protected:
  void SetUp() override {
    if (!zm::CreateConverterHook) factory_.Set(&zm::CreateConverter);
    InitMusicComposite();
  }
  void TearDown() override {
    FiniMusicComposite();
  }

  // The whole track as the channel would pull it; stops after limit blocks.
  // Opened runs once the items due at the start are open.
  std::vector<std::int16_t> Render(const WideString& text, std::int64_t seekMs = INT64_MIN, int limit = 2000,
                                   const std::function<void()>& opened = nullptr) {
    std::vector<std::int16_t> pcm;
    zm::TMediaInfo info{};
    if (!CompositeTrackInfo(text, info)) return pcm;
    TRef<zm::TWavConverter> c = CreateCompositeConverter(nullptr, text);
    converter_ = RefCast<TCompositeConverter>(c);
    if (!c->SetInputFormat(info)) return pcm;
    if (seekMs != INT64_MIN) c->Seek(seekMs);
    if (opened) opened();
    for (int i = 0; i < limit; ++i) {
      const bool more = c->Fill(TCompositeConverter::kMixBytes);
      zm::TLocalBuffer& out = c->Output();
      if (more) {
        const std::size_t n = std::size_t(out.Length()) / 2;
        const std::size_t at = pcm.size();
        pcm.resize(at + n);
        std::memcpy(pcm.data() + at, out.Data(), n * 2);
      }
      out.Consume(out.Length());
      if (!more) break;
    }
    return pcm;
  }

  zmtest::TMediaDir dir_;
  TRef<TCompositeConverter> converter_;

private:
  zm::THookScope<zm::TCreateConverterProc> factory_{zm::CreateConverterHook};
};

// One placed file with no envelope of its own.
WideString OneItem(const WideString& file, int duration, int timeLine, int beginTime, int itemDuration) {
  TRef<TCompositeParams> p = MakeRef<TCompositeParams>();
  p->Duration = duration;
  TCompositeItem* item = p->AddItem(file, timeLine);
  item->BeginTime = beginTime;
  item->Duration = itemDuration;
  return p->Save();
}

}  // namespace

// ---- Envelopes ------------------------------------------------------------------------------

TEST(VolumeEnvelope, CompileSortsDropsEqualTimesAndSeeks) {
  auto e = MakeRef<TVolumeParams>();
  // Out of order, with two points at 100 ms: the one added later wins.
  e->AddPoint(200, 1000);
  e->AddPoint(100, 200);
  e->AddPoint(0, 0);
  e->AddPoint(100, 600);
  e->Compile(300);
  ASSERT_EQ(e->Compiled.size(), 4u);  // 0, 100, 200 and the end copy at 300
  EXPECT_EQ(e->Compiled[1].Position, CompositeTimeToPosition(100));
  EXPECT_DOUBLE_EQ(e->Compiled[1].Gain, 0.6);
  // The end copy is of the point added last, not of the latest in time.
  EXPECT_DOUBLE_EQ(e->Compiled[3].Gain, 0.6);
  EXPECT_TRUE(e->Compiled[3].IsLast);
  EXPECT_FALSE(e->Compiled[2].IsLast);

  e->Seek(CompositeTimeToPosition(50));
  EXPECT_NEAR(e->Gain, 0.3, 1e-3);
  e->Seek(CompositeTimeToPosition(200));
  EXPECT_NEAR(e->Gain, 1.0, 1e-9);
  EXPECT_TRUE(e->Unity);
  e->Seek(CompositeTimeToPosition(250));
  EXPECT_NEAR(e->Gain, 0.8, 1e-3);
  // Past the last key point the gain is 0.
  e->Seek(CompositeTimeToPosition(300));
  EXPECT_EQ(e->Gain, 0.0);

  // Stepping frame by frame across segments lands where Seek does.
  auto list = MakeRef<TVolumeParamsList>(false);
  list->Add(e);
  list->Seek(0);
  const std::int64_t end = CompositeTimeToPosition(180);
  for (std::int64_t p = 0; p < end; p += 4) ASSERT_FALSE(list->Step(p));
  bool unity;
  const double stepped = list->Gain(unity);
  e->Seek(end);
  EXPECT_NEAR(stepped, e->Gain, 1e-6);

  // Before the start: the first gain, no change; past the end: ended.
  double step;
  bool flat, ended;
  e->Step(-400, step, flat, ended);
  EXPECT_EQ(e->Gain, 0.0);
  EXPECT_EQ(step, 0.0);
  EXPECT_FALSE(ended);
  e->Step(CompositeTimeToPosition(300), step, flat, ended);
  EXPECT_TRUE(ended);
  EXPECT_EQ(step, 0.0);
}

TEST(VolumeEnvelope, HostileValuesStayDefined) {
  // Extreme times and volumes, and an empty envelope: no overflow, no crash.
  auto e = MakeRef<TVolumeParams>();
  e->AddPoint(INT_MIN, INT_MAX);
  e->AddPoint(INT_MAX, -5);
  e->AddPoint(0, INT_MAX);
  e->Compile(INT_MAX);
  e->Seek(std::int64_t(1) << 40);
  e->Seek(-(std::int64_t(1) << 40));
  double step;
  bool flat, ended;
  e->Step(std::int64_t(1) << 40, step, flat, ended);

  auto empty = MakeRef<TVolumeParams>();
  empty->Compile(1000);
  empty->Step(100, step, flat, ended);
  EXPECT_TRUE(ended);

  // An automatic fade for a length below its own 20 ms.
  auto list = MakeRef<TVolumeParamsList>(true);
  list->Compile(3);
  list->Compile(-50);
  list->Compile(INT_MIN);
  EXPECT_EQ(list->Count(), 1);  // compiling again replaces the automatic envelope
  list->Seek(0);
  list->Step(0);
}

TEST(VolumeEnvelope, TwentyMsItemFadesInAndOut) {
  auto list = MakeRef<TVolumeParamsList>(true);
  list->Compile(20);
  list->Seek(0);
  std::vector<double> g;
  for (std::int64_t p = 0; !list->Step(p); p += 4) {
    bool unity;
    g.push_back(list->Gain(unity));
  }
  ASSERT_EQ(g.size(), 882u);  // 20 ms of frames, then the envelope is over
  EXPECT_LT(g.front(), 0.01);
  EXPECT_NEAR(g[440], 1.0, 0.01);
  EXPECT_LT(g.back(), 0.01);
  for (std::size_t i = 1; i < 441; ++i) ASSERT_GE(g[i], g[i - 1]) << i;
  for (std::size_t i = 442; i < g.size(); ++i) ASSERT_LE(g[i], g[i - 1]) << i;
}

// ---- Text form ------------------------------------------------------------------------------

TEST(CompositeText, SaveParseRoundTripAndMerge) {
  auto p = MakeRef<TCompositeParams>();
  p->Duration = 5000;
  TCompositeItem* a = p->AddItem(u"a.wav", 100);
  a->BeginTime = 20;
  a->Duration = 3000;
  TVolumeParams* e = a->Volumes->Add();
  e->AddPoint(0, 0);
  e->AddPoint(500, 800);
  p->AddItem(u"b.mp3", 2000);
  p->MainVolume()->Add()->AddPoint(0, 700);
  a->Volumes->Compile(3000);  // the automatic envelope is never saved
  const WideString text = p->Save();
  ASSERT_TRUE(IsCompositeTrack(text));

  auto q = MakeRef<TCompositeParams>();
  ASSERT_TRUE(q->Parse(text));
  EXPECT_EQ(q->Duration, 5000);
  ASSERT_EQ(q->Count(), 2);
  EXPECT_EQ(q->Item(0)->FileName, u"a.wav");
  EXPECT_EQ(q->Item(0)->BeginTime, 20);
  EXPECT_EQ(q->Item(0)->Duration, 3000);
  ASSERT_EQ(q->Item(0)->Volumes->Count(), 1);
  ASSERT_EQ(q->Item(0)->Volumes->Items[0]->Points.size(), 2u);
  EXPECT_EQ(q->Item(0)->Volumes->Items[0]->Points[1]->Volume, 800);
  EXPECT_EQ(q->Item(1)->Volumes->Count(), 0);
  ASSERT_TRUE(q->HasMainVolume());
  EXPECT_EQ(q->MainVolume()->Count(), 1);
  EXPECT_EQ(q->Save(), text);

  // Two texts in a row: renumbered, shifted by the first's length, lengths
  // summed, the later main volume wins.
  auto r = MakeRef<TCompositeParams>();
  r->Duration = 1000;
  r->AddItem(u"c.wav", 10);
  r->MainVolume()->Add()->AddPoint(0, 300);
  auto m = MakeRef<TCompositeParams>();
  ASSERT_TRUE(m->Parse(text + r->Save()));
  EXPECT_EQ(m->Duration, 6000);
  ASSERT_EQ(m->Count(), 3);
  EXPECT_EQ(m->Item(2)->FileName, u"c.wav");
  EXPECT_EQ(m->Item(2)->TimeLine, 5010);
  EXPECT_EQ(m->MainVolume()->Items[0]->Points[0]->Volume, 300);
}

TEST(CompositeText, RejectsWhatIsNotATrack) {
  zm::TMediaInfo info{};
  info.Kind = 77;
  const WideString g = kCompositeTrackGuid;
  for (const WideString& t : {WideString(), WideString(u"song.mp3"), u"x" + g + u"[Main]\r\nDuration=10\r\n",
                              g.substr(0, 20), g, g + u"[Main]\r\nDuration=1000\r\n",
                              g + u"[Main]\r\nDuration=0\r\n[0]\r\nFileName=a.wav\r\n",
                              g + u"[Main]\r\nDuration=-5\r\n[0]\r\nFileName=a.wav\r\n",
                              g + u"[Main]\r\nDuration=100\r\n[1]\r\nFileName=gap.wav\r\n"}) {
    auto p = MakeRef<TCompositeParams>();
    EXPECT_FALSE(p->Parse(t));
    EXPECT_FALSE(CompositeTrackInfo(t, info));
  }
  EXPECT_EQ(info.Kind, 77);  // untouched on failure

  ASSERT_TRUE(CompositeTrackInfo(g + u"[Main]\r\nDuration=1234\r\n[0]\r\nFileName=a.wav\r\n", info));
  EXPECT_EQ(info.Kind, zm::kMediaComposite);
  EXPECT_EQ(info.Duration, 1234u);
  EXPECT_EQ(+info.Format.nSamplesPerSec, 44100u);
  EXPECT_EQ(+info.Format.nChannels, 2);
  EXPECT_EQ(info.DataSize, 0u);
}

TEST(CompositeText, DamagedEnvelopesAndHugeCountsParseQuickly) {
  const WideString g = kCompositeTrackGuid;
  std::u16string text = g + u"[Main]\r\nDuration=1000\r\n";
  // Envelope 0 ends at the missing volume of its third point; envelope 1 at
  // a negative one; a huge FadeCount must not walk a million names per item.
  for (int n = 0; n < 2000; ++n) {
    text += u"[" + U16(std::to_string(n)) + u"]\r\nFileName=f.wav\r\nFadeCount=1000000\r\n";
  }
  text += u"[Vol_0_0_0]\r\n0=0\r\n1=0\r\n[Vol_0_0_1]\r\n0=50\r\n1=1000\r\n[Vol_0_0_2]\r\n0=90\r\n";
  text += u"[Vol_0_1_0]\r\n0=0\r\n1=-3\r\n[Vol_0_1_1]\r\n0=10\r\n1=500\r\n";
  text += u"[1]\r\nFadeCount=banana\r\n[MainVolume]\r\nFadeCount=-1\r\n";
  const auto t0 = std::chrono::steady_clock::now();
  auto p = MakeRef<TCompositeParams>();
  ASSERT_TRUE(p->Parse(text));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
  EXPECT_EQ(p->Count(), 2000);
  ASSERT_EQ(p->Item(0)->Volumes->Count(), 1);
  EXPECT_EQ(p->Item(0)->Volumes->Items[0]->Points.size(), 2u);
  EXPECT_EQ(p->Item(1)->Volumes->Count(), 0);
  EXPECT_TRUE(p->HasMainVolume());
  EXPECT_EQ(p->MainVolume()->Count(), 0);

  // Garbage after the GUID, and a GUID cut in the middle of a second text.
  EXPECT_FALSE(MakeRef<TCompositeParams>()->Parse(g + u"\x01\xFFFF[[[\r\n=\\\r\n" + g.substr(0, 8)));
}

// ---- Mixing ---------------------------------------------------------------------------------

TEST_F(CompositeMix, PlacesFileOnTimeLineWithFadesAndSeek) {
  // Sample value = frame number inside the file: offsets show directly.
  dir_.Write("ramp.wav", ShapedWav(44100, [](std::int32_t f) { return f % 30000; }));
  const WideString text = OneItem(dir_.Wide("ramp.wav"), 1000, 100, 50, 500);
  const std::vector<std::int16_t> pcm = Render(text);
  // Whole 10000-byte blocks covering 1000 ms.
  ASSERT_EQ(pcm.size(), std::size_t(18 * 5000));
  const std::int64_t start = CompositeTimeToPosition(100) / 4;
  const std::int64_t from = CompositeTimeToPosition(50) / 4;
  for (std::int64_t f = 0; f < start; ++f) ASSERT_EQ(pcm[std::size_t(f * 2)], 0) << f;
  // Inside the automatic fades only a fraction of the sample comes through.
  EXPECT_LT(pcm[std::size_t(start + 100) * 2], (from + 100) / 2);
  for (std::int64_t k = 450; k < 21000; k += 997) {
    ASSERT_NEAR(pcm[std::size_t(start + k) * 2], from + k, 1) << k;
    ASSERT_EQ(pcm[std::size_t(start + k) * 2], pcm[std::size_t(start + k) * 2 + 1]);
  }
  const std::int64_t stop = CompositeTimeToPosition(600) / 4;
  for (std::int64_t f = stop; f < std::int64_t(pcm.size() / 2); ++f) ASSERT_EQ(pcm[std::size_t(f * 2)], 0) << f;

  // A seek into the item starts inside the file at the matching sample.
  const std::vector<std::int16_t> sought = Render(text, 300);
  const std::int64_t k = CompositeTimeToPosition(300) / 4 - start + 10;
  EXPECT_NEAR(sought[10 * 2], from + k, 1);
  // Past the track, and absurdly far: nothing more to play, no overflow.
  EXPECT_TRUE(Render(text, 1000).empty());
  EXPECT_TRUE(Render(text, INT64_MAX).empty());
  EXPECT_TRUE(Render(text, INT64_MIN / 2).size() == pcm.size());
}

TEST_F(CompositeMix, OverlappingItemsClampAndMainVolumeScales) {
  dir_.Write("hi.wav", ShapedWav(22050, [](std::int32_t) { return 30000; }));
  dir_.Write("lo.wav", ShapedWav(22050, [](std::int32_t) { return -30000; }));
  auto p = MakeRef<TCompositeParams>();
  p->Duration = 500;
  for (int i = 0; i < 2; ++i) p->AddItem(dir_.Wide("hi.wav"), 0)->Duration = 200;
  for (int i = 0; i < 2; ++i) p->AddItem(dir_.Wide("lo.wav"), 250)->Duration = 200;
  std::vector<std::int16_t> pcm = Render(p->Save());
  ASSERT_GT(pcm.size(), std::size_t(CompositeTimeToPosition(400) / 2));
  EXPECT_EQ(pcm[std::size_t(CompositeTimeToPosition(100) / 2)], 32767);
  EXPECT_EQ(pcm[std::size_t(CompositeTimeToPosition(350) / 2)], -32768);

  // An envelope at 0.1 on the item, and the whole track at 0.25.
  auto q = MakeRef<TCompositeParams>();
  q->Duration = 300;
  TCompositeItem* item = q->AddItem(dir_.Wide("hi.wav"), 0);
  item->Volumes->Add()->AddPoint(0, 100);
  q->MainVolume()->Add()->AddPoint(0, 250);
  pcm = Render(q->Save());
  ASSERT_GT(pcm.size(), 2000u);
  EXPECT_NEAR(pcm[2000], 750, 1);  // 30000 * 0.1 * 0.25

  // Gain 0 on the track: silence, not noise.
  auto z = MakeRef<TCompositeParams>();
  z->Duration = 300;
  z->AddItem(dir_.Wide("hi.wav"), 0)->Volumes->Add()->AddPoint(0, 20000);
  z->MainVolume()->Add()->AddPoint(0, 0);
  pcm = Render(z->Save());
  for (std::int16_t s : pcm) ASSERT_EQ(s, 0);
}

TEST_F(CompositeMix, BadFilesPlaySilentlyForTheTrackLength) {
  dir_.Write("good.wav", ShapedWav(4410, [](std::int32_t) { return 1000; }));
  dir_.Write("trunc.wav", ShapedWav(4410, [](std::int32_t) { return 1000; }).substr(0, 30));
  dir_.Write("noise.mp3", std::string(4000, '\x5a'));
  dir_.Write("unknown.xyz", std::string("hello, not audio"));
  auto p = MakeRef<TCompositeParams>();
  p->Duration = 400;
  for (const char* name : {"missing.wav", "trunc.wav", "noise.mp3", "unknown.xyz"}) p->AddItem(dir_.Wide(name), 0);
  // A track that names itself (and a neighbour that names the track) is no file.
  p->AddItem(kCompositeTrackGuid + u"self", 0);
  p->AddItem(dir_.Wide("good.wav"), 200)->Duration = 50;
  const std::vector<std::int16_t> pcm = Render(p->Save());
  ASSERT_EQ(pcm.size(), std::size_t(8 * 5000));  // ceil(70560 / 10000) blocks, then the end
  for (std::int64_t f = 0; f < CompositeTimeToPosition(200) / 4; ++f) ASSERT_EQ(pcm[std::size_t(f * 2)], 0);
  EXPECT_EQ(pcm[std::size_t(CompositeTimeToPosition(225) / 2)], 1000);
  // Everything ended up finished and closed.
  EXPECT_EQ(converter_->Active().Count() + converter_->Waiting().Count(), 0);
}

// A file cut short while it plays (its length known from before): its
// sound ends on a fade of its last 10 ms, as at a stop, not on a step.
TEST_F(CompositeMix, AFileCutShortWhileItPlaysFadesItsLastTenMsOut) {
  dir_.Write("dc.wav", ShapedWav(88200, [](std::int32_t) { return 20000; }));
  const std::string path = (dir_.Path() / "dc.wav").string();
  const WideString text = OneItem(dir_.Wide("dc.wav"), 2000, 0, 0, 2000);
  const std::vector<std::int16_t> pcm =
      Render(text, INT64_MIN, 2000, [&] { std::filesystem::resize_file(path, 44 + 44100 * 4); });
  ASSERT_GE(pcm.size(), std::size_t(2 * 44100 + 2000));
  for (std::int64_t k = 0; k < 441; ++k)
    ASSERT_NEAR(pcm[std::size_t(44100 - 441 + k) * 2], 20000.0 * double(441 - k) / 441.0, 2.0) << k;
  for (std::size_t f = 44100; f < pcm.size() / 2; ++f) ASSERT_EQ(pcm[f * 2], 0) << f;
}

TEST_F(CompositeMix, ThousandsOfTinyItemsStayBounded) {
  dir_.Write("tick.wav", ShapedWav(441, [](std::int32_t) { return 100; }));
  auto p = MakeRef<TCompositeParams>();
  p->Duration = 3000;
  // All at once, then one every millisecond: far more than may be open.
  for (int i = 0; i < 1500; ++i) p->AddItem(dir_.Wide("tick.wav"), 0)->Duration = 5;
  for (int i = 0; i < 1500; ++i) p->AddItem(dir_.Wide("tick.wav"), 1000 + i)->Duration = 2;
  zm::TMediaInfo info{};
  const WideString text = p->Save();
  ASSERT_TRUE(CompositeTrackInfo(text, info));
  auto c = RefCast<TCompositeConverter>(CreateCompositeConverter(nullptr, text));
  ASSERT_TRUE(c->SetInputFormat(info));
  std::int32_t most = 0, blocks = 0;
  while (c->MixBlock()) {
    most = std::max(most, c->Active().Count() + c->Waiting().Count());
    c->MixOutput().Consume(c->MixOutput().Length());
    ASSERT_LT(++blocks, 100);
  }
  EXPECT_EQ(blocks, 53);
  EXPECT_LE(most, 256);
  EXPECT_EQ(c->Finished().Count(), 3000);
  EXPECT_EQ(c->Pending().Count(), 0);
  // Setting the format again parses afresh and starts over.
  ASSERT_TRUE(c->SetInputFormat(info));
  EXPECT_TRUE(c->MixBlock());
  EXPECT_EQ(c->Position(), TCompositeConverter::kMixBytes);
}

// The main music of a show description, read as the player reads it and
// mixed as its channel pulls it.
class ReadAndMix : public CompositeMix {
protected:
  std::vector<std::int16_t> MainMusic(const std::string& description) {
    TRef<zm::TIniFile> doc = MakeRef<zm::TIniFile>();
    doc->LoadFromText(zm::TByteString(description));
    TRef<TMusicOptionsReader> reader = MakeRef<TMusicOptionsReader>(doc.get());
    reader->Read(doc->FindSection(u"main")->FindObject(u"Music"));
    return Render(reader->MainText());
  }
  std::string File(const char* name) { return (dir_.Path() / name).string(); }
  static std::int64_t Frame(double ms) { return std::int64_t(ms * 44.1); }
};

TEST_F(ReadAndMix, FadeInAndCrossFadeFollowTheirLinesSampleBySample) {
  dir_.Write("a.wav", ShapedWav(44100 * 3, [](std::int32_t) { return 20000; }));
  dir_.Write("b.wav", ShapedWav(44100 * 2, [](std::int32_t) { return 10000; }));
  // a: 3 s fading in over 500 ms; b cross-fades in over its last second.
  const std::vector<std::int16_t> pcm = MainMusic(
      "[main]\nobject Music:Music\nobject T:TMusicTrack\n"
      "object A:TMusicItem\nFileName=" + File("a.wav") + "\nDuration=3000\nFadeIn=500\nend\n"
      "object B:TMusicItem\nFileName=" + File("b.wav") + "\nDuration=2000\nCross=1000\nend\nend\nend\n");
  ASSERT_GE(pcm.size(), std::size_t(Frame(4000)) * 2);
  auto at = [&](std::int64_t f) { return double(pcm[std::size_t(f) * 2]); };
  // A gain within 1 % of unity leaves the samples as they are.
  auto gained = [](double v, double gain) { return gain > 0.99 && gain < 1.01 ? v : v * gain; };
  // Past the automatic 10 ms ramps at the items' edges, every frame lies on
  // the line between its envelope points, at its own frame or up to two
  // ahead (the gain steps before it is applied, and an item's start is
  // rounded to whole frames), within a step of the 16-bit grid.
  auto onLine = [&](std::int64_t f, auto expected, double tolerance) {
    for (int ahead = 0; ahead <= 2; ++ahead)
      if (std::abs(at(f) - expected(f + ahead)) <= tolerance) return true;
    return false;
  };
  auto fadeIn = [&](std::int64_t f) { return gained(20000, double(f) / Frame(500)); };
  for (std::int64_t f = Frame(10); f < Frame(500); ++f) ASSERT_TRUE(onLine(f, fadeIn, 2.5)) << f << ": " << at(f);
  for (std::int64_t f = Frame(500); f < Frame(2000); ++f) ASSERT_NEAR(at(f), 20000, 1) << f;
  auto cross = [&](std::int64_t f) {
    const double x = double(f - Frame(2000)) / Frame(1000);
    return gained(20000, 1 - x) + gained(10000, x);
  };
  for (std::int64_t f = Frame(2010); f < Frame(2990); ++f) ASSERT_TRUE(onLine(f, cross, 3.5)) << f << ": " << at(f);
  for (std::int64_t f = Frame(3000); f < Frame(3990); ++f) ASSERT_NEAR(at(f), 10000, 1) << f;
}

TEST_F(ReadAndMix, LinkedItemTakesOverAtItsSlideStartWithinTheEdgeRamps) {
  dir_.Write("a.wav", ShapedWav(44100 * 5, [](std::int32_t) { return 20000; }));
  dir_.Write("c.wav", ShapedWav(44100 * 2, [](std::int32_t) { return -10000; }));
  // The second slide starts at 3000 ms and brings its own item, which cuts
  // the one playing.
  const std::vector<std::int16_t> pcm = MainMusic(
      "[Times]\nopt_slidescount=2\nopt_synchpos1=3000\nopt_synchpos2=6000\n[Slide2]\nLinkedAudio={L}\n"
      "[main]\nobject Music:Music\nobject T:TMusicTrack\n"
      "object A:TMusicItem\nFileName=" + File("a.wav") + "\nDuration=5000\nend\n"
      "object C:TMusicItem\nGUID={L}\nFileName=" + File("c.wav") + "\nDuration=2000\nend\nend\nend\n");
  ASSERT_GE(pcm.size(), std::size_t(Frame(4500)) * 2);
  const std::int64_t change = Frame(3000), ramp = Frame(10);
  for (std::int64_t f = ramp; f < change - ramp; ++f) ASSERT_EQ(pcm[std::size_t(f) * 2], 20000) << f;
  for (std::int64_t f = change + ramp; f < Frame(4500); ++f) ASSERT_EQ(pcm[std::size_t(f) * 2], -10000) << f;
}

// Files come through the player's stream procedures, from memory here; every
// stream opened is closed once, across seeks and at disposal.
class TMemoryPlayer : public zm::TMusicPlayer {
public:
  bool IsReady() override { return true; }
  void SetCloseStream(zm::TStreamCloseProc, void*) override {}
  void SetOpenStream(zm::TStreamOpenProc, void*) override {}
  void GetOpenStream(zm::TStreamOpenPair& pair) override { pair = {&OpenProc, this}; }
  void GetCloseStream(zm::TStreamClosePair& pair) override { pair = {&CloseProc, this}; }
  double GetTime() override { return 0; }
  TRef<zm::TChannel> CreateChannel(const WideString&, std::uint32_t) override { return nullptr; }

  static zm::TStream* OpenProc(void* data, void*, const WideString& name) {
    auto* self = static_cast<TMemoryPlayer*>(data);
    if (name != u"mem:tone") return nullptr;
    auto s = MakeRef<zm::TMemoryStream>();
    s->Write(zm::TWriteBuffer(reinterpret_cast<const std::uint8_t*>(self->File.data()), self->File.size()));
    s->SetPosition(0);
    ++self->Opens;
    return s.Detach();
  }
  static void CloseProc(void* data, void*, zm::TStream* stream) {
    ++static_cast<TMemoryPlayer*>(data)->Closes;
    stream->Free();
  }
  std::string File;
  int Opens = 0, Closes = 0;
};

// The channel killer may dispose a track after its music player has gone:
// the track closes its files without asking the player again.
class TShortLivedPlayer : public TMemoryPlayer {
public:
  void GetCloseStream(zm::TStreamClosePair& pair) override { pair = {&CloseAlone, nullptr}; }
  static void CloseAlone(void*, void*, zm::TStream* stream) {
    ++ClosedAlone;
    stream->Free();
  }
  static inline int ClosedAlone = 0;
};

TEST_F(CompositeMix, TracksCloseTheirFilesAfterTheirPlayerHasGone) {
  zmtest::TWavLayout layout;
  layout.Channels = 2;
  layout.Rate = 44100;
  std::string data;
  for (int f = 0; f < 44100; ++f) {
    zmtest::PutLE(data, 1000, 2);
    zmtest::PutLE(data, 1000, 2);
  }
  auto player = MakeRef<TShortLivedPlayer>();
  player->File = zmtest::MakeWav(layout, data);
  auto p = MakeRef<TCompositeParams>();
  p->Duration = 1000;
  p->AddItem(u"mem:tone", 0);
  const WideString text = p->Save();
  zm::TMediaInfo info{};
  ASSERT_TRUE(CompositeTrackInfo(text, info));
  TShortLivedPlayer::ClosedAlone = 0;
  auto c = RefCast<TCompositeConverter>(CreateCompositeConverter(player.get(), text));
  ASSERT_TRUE(c->SetInputFormat(info));
  ASSERT_TRUE(c->MixBlock());
  EXPECT_EQ(player->Opens, 1);
  player = nullptr;  // the player goes first
  c = nullptr;       // then the track, with its file still open
  EXPECT_EQ(TShortLivedPlayer::ClosedAlone, 1);
}

TEST_F(CompositeMix, OtherRatesAreResampledAndPlayerStreamsBalance) {
  // 22050 Hz mono, one second of a constant: still one second on the track.
  zmtest::TWavLayout layout;
  layout.Channels = 1;
  layout.Rate = 22050;
  std::string data;
  for (int f = 0; f < 22050; ++f) zmtest::PutLE(data, 5000, 2);
  auto player = MakeRef<TMemoryPlayer>();
  player->File = zmtest::MakeWav(layout, data);
  auto p = MakeRef<TCompositeParams>();
  p->Duration = 1500;
  p->AddItem(u"mem:tone", 0);
  p->AddItem(u"mem:absent", 0);
  const WideString text = p->Save();
  zm::TMediaInfo info{};
  ASSERT_TRUE(CompositeTrackInfo(text, info));
  {
    auto c = RefCast<TCompositeConverter>(CreateCompositeConverter(player.get(), text));
    ASSERT_TRUE(c->SetInputFormat(info));
    std::vector<std::int16_t> pcm;
    for (int i = 0; i < 200 && c->MixBlock(); ++i) {
      const auto* s = reinterpret_cast<const std::int16_t*>(c->MixOutput().Data());
      pcm.insert(pcm.end(), s, s + c->MixOutput().Length() / 2);
      c->MixOutput().Consume(c->MixOutput().Length());
    }
    ASSERT_GE(pcm.size(), std::size_t(CompositeTimeToPosition(1400) / 2));
    EXPECT_NEAR(pcm[std::size_t(CompositeTimeToPosition(500) / 2)], 5000, 5);
    EXPECT_NEAR(pcm[std::size_t(CompositeTimeToPosition(980) / 2) + 1], 5000, 5);
    EXPECT_EQ(pcm[std::size_t(CompositeTimeToPosition(1030) / 2)], 0);
    EXPECT_EQ(player->Opens, 1);
    EXPECT_EQ(player->Closes, 1);  // closed when its file ran out

    // Seeking back opens it again; further seeks reuse the open file.
    c->Seek(200);
    c->Seek(1400);
    c->Seek(0);
    c->MixBlock();
  }
  EXPECT_EQ(player->Opens, 2);  // reopened once after it had run out, then kept
  EXPECT_EQ(player->Opens, player->Closes);
}

TEST_F(CompositeMix, HooksAndUnparsableDescription) {
  EXPECT_EQ(zm::IsCompositeTrackHook, &IsCompositeTrack);
  EXPECT_EQ(zm::CompositeTrackInfoHook, &CompositeTrackInfo);
  EXPECT_EQ(zm::CreateCompositeConverterHook, &CreateCompositeConverter);
  // The wrapper opens no file for a composite text.
  EXPECT_EQ(zm::StreamWrapper()->Open(nullptr, kCompositeTrackGuid + u"x", nullptr, nullptr), nullptr);

  // A converter over a bad text refuses its format and mixes silence only.
  zm::TMediaInfo info{};
  info.Format = zm::StandardOutputFormat();
  auto c = RefCast<TCompositeConverter>(CreateCompositeConverter(nullptr, u"nonsense"));
  EXPECT_FALSE(c->SetInputFormat(info));
  c->Seek(100);
  EXPECT_FALSE(c->Fill(4000));
  EXPECT_FALSE(c->MixBlock());
}
