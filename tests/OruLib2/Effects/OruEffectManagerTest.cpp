#include "OruLib2/Effects/OruEffectManager.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace oru;
using zm::TIniFile;
using zm::TRef;

TRef<TIniFile> Doc(const std::string& text) {
  TRef<TIniFile> f = zm::MakeRef<TIniFile>();
  f->LoadFromText(zm::TByteString(text));
  return f;
}

const char* const kShow = R"([main]
opt_scr_width=800
opt_scr_height=-5
object TheEffect:AnEffect
  time=1500
  mainonly=m
  object dissolve:AnEffect
    caption=Dissolve
    checked=1
    stdidx=2
    smoothline=0.2
  end
  object Hourhand:AnEffect
    caption=Clock
    key=action,direction
    action=11
    direction=101010101
    stdidx=4
  end
  object push:AnEffect
    key=direction
    direction=0000
    stdidx=9
  end
  object custom:AnEffect
    checked=1
    stdidx=14
    object a:one
      checked=1
    end
    object b:two
      checked=0
    end
  end
end
[Times]
opt_slidescount=7
[Slide1]
object TheEffect:AnEffect
  ref=dissolve
  time=700
  caption=mine
end
[Slide2]
object TheEffect:AnEffect
  ref=hourhand
  direction=111111111
end
[Slide3]
slideid=three
[Slide5]
object TheEffect:AnEffect
  ref=defowntime
end
[Slide6]
object TheEffect:AnEffect
  ref=zigzag
  time=-300
end
[Slide7]
object TheEffect:AnEffect
  time=250
  bstyle=3
  object fx:AnEffect
    checked=1
    CoverMode=0
  end
end
[effect_one]
CoverMode=1
)";

class EffectManager : public ::testing::Test {
protected:
  void SetUp() override {
    ini_ = Doc(kShow);
    m_ = zm::MakeRef<TORUEffectManager>(ini_.get(), 0, 0);
  }
  TRef<TIniFile> ini_;
  TRef<TORUEffectManager> m_;
};

TEST_F(EffectManager, NeedsADocumentAndReadsTheScreenSize) {
  try {
    zm::MakeRef<TORUEffectManager>(nullptr, 1, 1);
    FAIL();
  } catch (const zm::EAbort& e) {
    EXPECT_NE(std::string(e.what()).find("There is no IniFile for EffectRuller"), std::string::npos);
  }
  EXPECT_EQ(m_->GetScreenWidth(), 800);
  EXPECT_EQ(m_->GetScreenHeight(), 1080);  // -5 is no size
  TRef<TORUEffectManager> own = zm::MakeRef<TORUEffectManager>(ini_.get(), 600, 400);
  EXPECT_EQ(own->GetScreenWidth(), 400);
  EXPECT_EQ(own->GetScreenHeight(), 600);
  EXPECT_EQ(m_->GetCount(), 7);
  EXPECT_EQ(m_->GetIni(), ini_.get());
}

TEST_F(EffectManager, SlidePropsAndMissingDefinitions) {
  EXPECT_EQ(m_->GetEffect(-1), nullptr);
  EXPECT_EQ(m_->GetEffect(7), nullptr);
  EXPECT_EQ(m_->GetEffect(3), nullptr);  // no section
  // A section without a definition gets one that refers to "default".
  zm::TIniSection* s3 = ini_->FindSection(u"Slide3");
  EXPECT_EQ(s3->FindObject(u"TheEffect"), nullptr);
  TEffectProp* p = m_->GetEffect(2);
  ASSERT_NE(p, nullptr);
  ASSERT_NE(s3->FindObjectOfType(u"TheEffect", u"AnEffect"), nullptr);
  EXPECT_EQ(p->RefText(), u"default");
  EXPECT_EQ(p->GetName(), u"default");
  EXPECT_EQ(p->GetFamily(), kFamilyDefault);
  EXPECT_EQ(m_->GetEffect(2), p);  // made once
}

TEST_F(EffectManager, MainEntriesWithSyntheticOnes) {
  ASSERT_EQ(m_->GetMainEntryCount(), 7);
  EXPECT_EQ(m_->GetMainEntry(1)->GetName(), u"Hourhand");
  EXPECT_EQ(m_->GetMainEntry(4)->GetName(), u"default");
  EXPECT_EQ(m_->GetMainEntry(5)->GetName(), u"defowntime");
  EXPECT_EQ(m_->GetMainEntry(6)->GetName(), u"quick");
  EXPECT_EQ(m_->GetMainEntry(6)->GetFamily(), kFamilyQuick);
  EXPECT_EQ(m_->GetMainEntry(7), nullptr);
  EXPECT_EQ(m_->FindMainEntry(u"HOURHAND"), m_->GetMainEntry(1));
  EXPECT_EQ(m_->GetEntryCaption(1), u"Clock");
  EXPECT_EQ(m_->GetEntryHint(1), u"");

  // A definition that has its own "quick" lacks only two.
  TRef<TIniFile> f = Doc("[main]\r\nobject TheEffect:AnEffect\r\n  object Quick:AnEffect\r\n  end\r\nend\r\n");
  TRef<TORUEffectManager> m = zm::MakeRef<TORUEffectManager>(f.get(), 0, 0);
  ASSERT_EQ(m->GetMainEntryCount(), 3);
  EXPECT_EQ(m->GetMainEntry(0)->GetName(), u"Quick");
  EXPECT_EQ(m->GetMainEntry(2)->GetName(), u"defowntime");
}

TEST_F(EffectManager, CheckedStates) {
  EXPECT_EQ(m_->FindMainEntry(u"dissolve")->CheckedState(), 2);
  EXPECT_EQ(m_->FindMainEntry(u"hourhand")->CheckedState(), 1);  // directions partly set
  EXPECT_EQ(m_->FindMainEntry(u"push")->CheckedState(), 0);
  EXPECT_EQ(m_->FindMainEntry(u"custom")->CheckedState(), 2);
  EXPECT_FALSE(m_->FindMainEntry(u"default")->IsChecked());
  // A slide referring to the entry reads its own values for the named keys.
  EXPECT_EQ(m_->GetEffect(1)->CheckedState(), 2);
  EXPECT_EQ(m_->GetEffect(1)->KeyNames(), (std::vector<zm::WideString>{u"action", u"direction"}));
}

TEST_F(EffectManager, Times) {
  EXPECT_EQ(m_->GetMainTime(), 1500);
  EXPECT_EQ(m_->GetEffectTime(-1), 1500);
  EXPECT_EQ(m_->GetEffectTime(0), 700);   // a named entry: its own time
  EXPECT_EQ(m_->GetEffectTime(1), 0);     // a named entry without a time
  EXPECT_EQ(m_->GetEffectTime(2), 1500);  // "default"
  EXPECT_EQ(m_->GetEffectTime(3), 0);     // no section
  EXPECT_EQ(m_->GetEffectTime(5), 0);     // negative time
  EXPECT_EQ(m_->GetEffectTime(6), 250);   // own settings
  EXPECT_EQ(m_->GetEffectTime(99), 0);

  // "defowntime" without a time of its own gets the main time written.
  zm::TIniObject* o = ini_->FindSection(u"Slide5")->FindObject(u"TheEffect");
  EXPECT_EQ(o->Find(u"time"), nullptr);
  EXPECT_EQ(m_->GetEffectTime(4), 1500);
  ASSERT_NE(o->Find(u"time"), nullptr);
  EXPECT_EQ(o->Find(u"time")->GetString(), u"1500");

  // Main entries share the main time; "quick" is always 0.
  EXPECT_EQ(m_->FindMainEntry(u"push")->GetTime(), 1500);
  TRef<TIniFile> f = Doc("[Times]\r\nopt_slidescount=2\r\n[Slide1]\r\nobject TheEffect:AnEffect\r\n  ref=Quick\r\n  time=90\r\n"
                         "end\r\n[Slide2]\r\nobject TheEffect:AnEffect\r\n  ref=x\r\nend\r\n");
  TRef<TORUEffectManager> m = zm::MakeRef<TORUEffectManager>(f.get(), 0, 0);
  EXPECT_EQ(m->GetEffectTime(0), 0);
  EXPECT_EQ(m->GetEffectTime(-1), 0);  // no main definition
  EXPECT_EQ(m->GetMainEntryCount(), 3);
}

TEST_F(EffectManager, KeysResolveThroughReferences) {
  TEffectProp* clock = m_->GetEffect(1);
  EXPECT_EQ(clock->GetName(), u"Hourhand");
  EXPECT_EQ(clock->GetFamily(), kFamilyHourHand);
  EXPECT_EQ(clock->ReadString(u"direction"), u"111111111");  // own
  EXPECT_EQ(clock->ReadString(u"action"), u"11");            // the entry's
  EXPECT_EQ(clock->ReadString(u"mainonly"), u"");            // not from the main object
  // The caption always comes from the entry.
  EXPECT_EQ(m_->GetEffect(0)->GetCaption(), u"Dissolve");

  TEffectProp* zig = m_->GetEffect(5);
  EXPECT_EQ(zig->GetName(), u"zigzag");
  EXPECT_EQ(zig->GetFamily(), kFamilyNone);
  EXPECT_EQ(zig->ReadString(u"mainonly"), u"m");  // unknown entry: the main object
  EXPECT_EQ(zig->GetCaption(), u"");

  // A main entry takes "time" from the main definition.
  EXPECT_EQ(m_->FindMainEntry(u"dissolve")->ReadFloat(u"time", 0), 1500);
  EXPECT_DOUBLE_EQ(m_->FindMainEntry(u"dissolve")->ReadFloat(u"smoothline", 0), 0.2);

  TEffectProp* own = m_->GetEffect(6);
  EXPECT_FALSE(own->IsReference());
  EXPECT_EQ(own->GetName(), u"TheEffect");
  EXPECT_EQ(own->GetFamily(), kFamilyNone);
}

TEST_F(EffectManager, SubDefinitions) {
  TEffectProp* custom = m_->FindMainEntry(u"custom");
  ASSERT_EQ(custom->SubDefinitionCount(), 2);
  EXPECT_TRUE(custom->IsSubDefinitionChecked(0));
  EXPECT_FALSE(custom->IsSubDefinitionChecked(1));
  EXPECT_FALSE(custom->IsSubDefinitionChecked(2));
  EXPECT_EQ(custom->SubDefinitionSection(0, false), ini_->FindSection(u"effect_one"));
  EXPECT_EQ(custom->SubDefinitionSection(1, false), nullptr);
  EXPECT_EQ(custom->SubDefinitionObject(1), custom->SubDefinition(1));
  EXPECT_EQ(custom->FirstCheckedSubDefinition(), ini_->FindSection(u"effect_one"));
  zm::TIniSection* made = custom->SubDefinitionSection(1, true);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made, ini_->FindSection(u"effect_two"));

  // A slide's own custom definition plays its first checked child.
  TEffectProp* own = m_->GetEffect(6);
  ASSERT_NE(own->FirstCheckedSubDefinition(), nullptr);
  EXPECT_EQ(own->FirstCheckedSubDefinition()->GetName(), u"fx");
  EXPECT_EQ(m_->GetEffect(0)->FirstCheckedSubDefinition(), nullptr);
}

TEST_F(EffectManager, BackgroundKeys) {
  TRef<zm::TIniSection> target = zm::MakeRef<zm::TIniSection>("t");
  m_->GetEffect(6)->WriteBackgroundKeys(target.get());
  EXPECT_EQ(target->ReadString(u"bstyle"), u"3");
  EXPECT_EQ(target->ReadString(u"bcolor1"), u"16711680");
  EXPECT_EQ(target->ReadString(u"TransparentBg"), u"0");
  EXPECT_EQ(target->ReadString(u"CoverMode"), u"1");
  EXPECT_EQ(target->ReadString(u"opt_scr_width"), u"800");
  EXPECT_EQ(target->ReadString(u"opt_scr_height"), u"1080");
  EXPECT_EQ(target->Find(u"bcolor2"), nullptr);
  m_->GetEffect(6)->WriteBackgroundKeys(nullptr);
}

TEST_F(EffectManager, MainDefinitionMadeOnRequest) {
  TRef<TIniFile> f = Doc("[Times]\r\nopt_slidescount=1\r\n");
  TRef<TORUEffectManager> m = zm::MakeRef<TORUEffectManager>(f.get(), 0, 0);
  EXPECT_EQ(m->FindMainEffectSection(), nullptr);
  zm::TIniObject* main = m->GetMainEffectSection();
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->GetType(), u"AnEffect");
  EXPECT_EQ(m->GetMainTime(), 2000);
  EXPECT_EQ(m->GetMainEffectSection(), main);
}

TEST_F(EffectManager, DeleteEffect) {
  TEffectProp* push = m_->FindMainEntry(u"push");
  m_->BeginChange();
  EXPECT_FALSE(m_->DeleteEffect(push));
  m_->EndChange();
  EXPECT_FALSE(m_->DeleteEffect(m_->FindMainEntry(u"quick")));  // synthetic
  EXPECT_TRUE(m_->DeleteEffect(m_->FindMainEntry(u"push")));
  EXPECT_EQ(m_->FindMainEntry(u"push"), nullptr);
  EXPECT_EQ(m_->FindMainEffectSection()->FindObject(u"push"), nullptr);
  EXPECT_EQ(m_->GetMainEntryCount(), 6);
}

TEST(EffectVideoClips, FindsClipsAndStartTimes) {
  TRef<TIniFile> f = Doc(R"([main]
[Tracks]
object Music:Music
  object VideoClip:VideoClip
    ClipGUID={AAA}
    FileName=a.mp4
  end
end
object VideoClip:VideoClip
  ClipGUID={BBB}
end
[Times]
opt_slidescount=3
opt_synchpos1=1000
opt_synchpos2=3000
opt_synchpos3=4000
[Slide1]
object Box:Box
  object KeyPoint:KeyPoint
    object Video:Video
      ClipGUID={CCC}
    end
  end
end
[Slide2]
object Frame:Box
  object Video:Video
    ClipGUID={bbb}
  end
end
[Slide3]
object Video:Video
  ClipGUID={AAA}
end
)");
  zm::TIniList* clip = FindVideoClipSection(f.get(), u"{bbb}");
  ASSERT_NE(clip, nullptr);
  EXPECT_EQ(clip->Owner(), f->FindSection(u"Tracks"));
  zm::TIniList* nested = FindVideoClipSection(f.get(), u"{AAA}");
  ASSERT_NE(nested, nullptr);
  EXPECT_EQ(nested->ReadString(u"FileName"), u"a.mp4");
  EXPECT_EQ(FindVideoClipSection(f.get(), u"{none}"), nullptr);
  EXPECT_EQ(FindVideoClipSection(nullptr, u"{AAA}"), nullptr);

  EXPECT_EQ(FindVideoStartTime(f.get(), u"{BBB}"), 1000);
  EXPECT_EQ(FindVideoStartTime(f.get(), u"{AAA}"), 3000);
  EXPECT_EQ(FindVideoStartTime(f.get(), u"{CCC}"), -1);  // only inside a key frame
  EXPECT_EQ(FindVideoStartTime(f.get(), u""), -1);
  f->Delete(f->FindSection(u"main")->Index());
  EXPECT_EQ(FindVideoStartTime(f.get(), u"{BBB}"), -1);
}

TEST(EffectVideoClips, DeepNestingIsWalkedWithoutRecursion) {
  std::string text = "[main]\r\n[Times]\r\nopt_slidescount=1\r\n[Slide1]\r\n";
  const int depth = 50000;
  for (int i = 0; i < depth; ++i) text += "object Box:Box\r\n";
  text += "object Video:Video\r\nClipGUID=g\r\nend\r\n";
  for (int i = 0; i < depth; ++i) text += "end\r\n";
  TRef<TIniFile> f = Doc(text);
  EXPECT_EQ(FindVideoStartTime(f.get(), u"g"), 0);
}

TEST(EffectNames, RootAndNameHelpers) {
  TRef<zm::TIniSection> s = zm::MakeRef<zm::TIniSection>("s");
  s->AddObject(u"Root", u"Other");
  zm::TIniObject* root = GetRootSection(s.get());
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->GetType(), u"Container");
  EXPECT_EQ(GetRootSection(s.get()), root);
  EXPECT_EQ(s->ObjectCount(), 2);
  EXPECT_EQ(GetRootSection(nullptr), nullptr);

  EXPECT_EQ(JoinNameIndex(u"prop", 12), u"prop:12");
  EXPECT_EQ(JoinNameIndex(u"", -1), u":-1");
  EXPECT_EQ(ExtractAfterFirstColon(u"a:b:c"), u"b:c");
  EXPECT_EQ(ExtractAfterFirstColon(u"abc"), u"");
  EXPECT_EQ(ExtractAfterFirstColon(u"abc:"), u"");
}

}  // namespace
