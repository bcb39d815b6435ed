#include "OruLib2/Effects/OruEffectManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ZmLib/Text/zmWideStringUtils.h"
#include "ZmLib/Win32/winSysUtils.h"

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
opt_slidescount=6
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

// How slides' transitions resolve to times and families is tested through
// the show source; these are the manager's own rules.

TEST_F(EffectManager, SlidePropsAndMainEntries) {
  EXPECT_THROW(zm::MakeRef<TORUEffectManager>(nullptr, 1, 1), zm::EAbort);
  EXPECT_EQ(m_->GetScreenHeight(), 1080);  // -5 is no size
  EXPECT_EQ(m_->GetEffect(6), nullptr);
  // A section without a definition gets one that refers to "default".
  TEffectProp* p = m_->GetEffect(2);
  ASSERT_NE(p, nullptr);
  EXPECT_NE(ini_->FindSection(u"Slide3")->FindObjectOfType(u"TheEffect", u"AnEffect"), nullptr);
  EXPECT_EQ(p->GetFamily(), kFamilyDefault);
  EXPECT_EQ(m_->GetEffect(2), p);  // made once

  // The main entries, then the synthetic ones the definition lacks.
  ASSERT_EQ(m_->GetMainEntryCount(), 7);
  EXPECT_EQ(m_->GetMainEntry(6)->GetFamily(), kFamilyQuick);
  EXPECT_EQ(m_->GetMainEntry(7), nullptr);
  TRef<TIniFile> f = Doc("[main]\r\nobject TheEffect:AnEffect\r\n  object Quick:AnEffect\r\n  end\r\nend\r\n");
  EXPECT_EQ(zm::MakeRef<TORUEffectManager>(f.get(), 0, 0)->GetMainEntryCount(), 3);
  EXPECT_EQ(m_->FindMainEntry(u"hourhand")->CheckedState(), 1);  // directions partly set
  EXPECT_EQ(m_->FindMainEntry(u"push")->CheckedState(), 0);
  // A slide referring to the entry reads its own values for the named keys.
  EXPECT_EQ(m_->GetEffect(1)->CheckedState(), 2);
}

TEST_F(EffectManager, TimesAndKeysThroughReferences) {
  EXPECT_EQ(m_->GetEffectTime(5), 0);  // negative time
  // "defowntime" without a time of its own gets the main time written.
  zm::TIniObject* o = ini_->FindSection(u"Slide5")->FindObject(u"TheEffect");
  EXPECT_EQ(m_->GetEffectTime(4), 1500);
  ASSERT_NE(o->Find(u"time"), nullptr);
  EXPECT_EQ(o->Find(u"time")->GetString(), u"1500");
  // No main definition: no main time, one made on request.
  TRef<TIniFile> f = Doc("[Times]\r\nopt_slidescount=1\r\n");
  TRef<TORUEffectManager> m = zm::MakeRef<TORUEffectManager>(f.get(), 0, 0);
  EXPECT_EQ(m->GetEffectTime(-1), 0);
  EXPECT_EQ(m->FindMainEffectSection(), nullptr);
  ASSERT_NE(m->GetMainEffectSection(), nullptr);
  EXPECT_EQ(m->GetMainTime(), 2000);

  TEffectProp* clock = m_->GetEffect(1);
  EXPECT_EQ(clock->ReadString(u"direction"), u"111111111");  // own
  EXPECT_EQ(clock->ReadString(u"action"), u"11");            // the entry's
  EXPECT_EQ(clock->ReadString(u"mainonly"), u"");            // not from the main object
  EXPECT_EQ(m_->GetEffect(0)->GetCaption(), u"Dissolve");    // always the entry's
  EXPECT_EQ(m_->GetEffect(5)->ReadString(u"mainonly"), u"m");  // unknown entry: the main object
}

TEST(EffectManagerSlideTimes, AskedWithoutPropsTheDefinitionsCompleteAsWithThem) {
  // References in other letter cases, one with a letter beyond the plain
  // ones (decided as the wide comparison decides), one that names no
  // entry, a slide without a definition and one without a reference.
  const std::string text = std::string(
                               "[main]\r\nobject TheEffect:AnEffect\r\n  time=1500\r\nend\r\n"
                               "[Times]\r\nopt_slidescount=7\r\n"
                               "[Slide1]\r\nobject TheEffect:AnEffect\r\n  ref=DEFAULT\r\n  time=300\r\nend\r\n"
                               "[Slide2]\r\nobject TheEffect:AnEffect\r\n  ref=QuIcK\r\n  time=300\r\nend\r\n"
                               "[Slide3]\r\nobject TheEffect:AnEffect\r\n  ref=defOwnTime\r\nend\r\n"
                               "[Slide4]\r\nobject TheEffect:AnEffect\r\n  ref=qu\xC4\xB1") +
                           "ck\r\n  time=300\r\nend\r\n"
                           "[Slide5]\r\nobject TheEffect:AnEffect\r\n  ref=nosuch\r\n  time=250\r\nend\r\n"
                           "[Slide6]\r\nk=1\r\n"
                           "[Slide7]\r\nobject TheEffect:AnEffect\r\n  time=900\r\nend\r\n";
  TRef<TIniFile> withProps = Doc(text), without = Doc(text);
  TRef<TORUEffectManager> props = zm::MakeRef<TORUEffectManager>(withProps.get(), 0, 0);
  TRef<TORUEffectManager> times = zm::MakeRef<TORUEffectManager>(without.get(), 0, 0);
  const double dotless = zm::WideSameText(u"qu\u0131ck", u"quick") ? 0 : 300;
  const double expected[] = {1500, 0, 1500, dotless, 250, 1500, 900};
  for (std::int32_t i = 0; i < 7; ++i) {
    EXPECT_EQ(times->SlideEffectTime(i), expected[i]) << i;
    EXPECT_EQ(props->GetEffectTime(i), expected[i]) << i;
  }
  EXPECT_EQ(times->SlideEffectTime(7), 0);
  EXPECT_EQ(times->SlideEffectTime(-1), 0);
  // The same definitions made and times written; props made afterwards
  // agree and change nothing more.
  EXPECT_EQ(without->SaveToValue(), withProps->SaveToValue());
  for (std::int32_t i = 0; i < 7; ++i) EXPECT_EQ(times->GetEffectTime(i), expected[i]) << i;
  EXPECT_EQ(without->SaveToValue(), withProps->SaveToValue());
}

TEST_F(EffectManager, SubDefinitions) {
  TEffectProp* custom = m_->FindMainEntry(u"custom");
  ASSERT_EQ(custom->SubDefinitionCount(), 2);
  EXPECT_FALSE(custom->IsSubDefinitionChecked(2));
  EXPECT_EQ(custom->SubDefinitionSection(1, false), nullptr);
  zm::TIniSection* made = custom->SubDefinitionSection(1, true);  // made on request
  EXPECT_EQ(made, ini_->FindSection(u"effect_two"));
}

TEST(EffectMainEntries, FoundByNameAsTheTextComparisonFindsThem) {
  // Many entries and many sub-definitions; names that are the same text in
  // another case or only by their upper case (a dotless i), and ones that
  // are not (an accent, the Kelvin sign); of two alike the first counts.
  std::string text = "[main]\r\nobject TheEffect:AnEffect\r\n";
  const char* const names[] = {"Dissolve", "\xC4\xB1tem", "item", "\xC3\xA9t\xC3\xA9", "\xE2\x84\xAA" "elvin", "DISSOLVE"};
  for (const char* name : names) text += std::string("object ") + name + ":AnEffect\r\nstdidx=2\r\nend\r\n";
  constexpr int kMany = 20000;
  text += "object custom:AnEffect\r\n";
  for (int i = 0; i < kMany; ++i) text += "object s" + std::to_string(i) + ":t" + std::to_string(i) + "\r\nchecked=" + (i % 2 ? "1" : "0") + "\r\nend\r\n";
  text += "end\r\n";
  for (int i = 0; i < kMany; ++i) text += "object e" + std::to_string(i) + ":AnEffect\r\nend\r\n";
  text += "end\r\n";
  TRef<TIniFile> f = Doc(text);
  TRef<TORUEffectManager> m = zm::MakeRef<TORUEffectManager>(f.get(), 0, 0);
  auto at = [&](const zm::WideString& name) {
    TEffectProp* p = m->FindMainEntry(name);
    for (std::int32_t i = 0; p && i < m->GetMainEntryCount(); ++i)
      if (m->GetMainEntry(i) == p) return i;
    return -1;
  };
  for (const zm::WideString& name : {zm::WideString(u"dissolve"), zm::WideString(u"ITEM"), zm::WideString(u"\u0131TEM"),
                                     zm::WideString(u"ete"), zm::WideString(u"\u00C9T\u00C9"), zm::WideString(u"kelvin"),
                                     zm::WideString(u"\u212Aelvin"), zm::WideString(u"e19999"), zm::WideString(u"custom"),
                                     zm::WideString(u"none")}) {
    // What a look along every entry finds.
    std::int32_t expected = -1;
    for (std::int32_t i = 0; i < m->GetMainEntryCount() && expected < 0; ++i)
      if (zm::WideSameText(m->GetMainEntry(i)->Object()->GetName(), name)) expected = i;
    EXPECT_EQ(at(name), expected);
  }
  EXPECT_EQ(at(u"DISSOLVE"), 0);
  EXPECT_EQ(at(u"ITEM"), 1);
  EXPECT_EQ(at(u"e19999"), 7 + kMany - 1);
  // Sub-definitions by their place, through to the last.
  TEffectProp* custom = m->FindMainEntry(u"custom");
  ASSERT_EQ(custom->SubDefinitionCount(), kMany);
  EXPECT_EQ(custom->SubDefinition(kMany - 1)->GetName(), u"s" + zm::IntToStr(kMany - 1));
  EXPECT_TRUE(custom->IsSubDefinitionChecked(kMany - 1));
  EXPECT_FALSE(custom->IsSubDefinitionChecked(kMany - 2));
  EXPECT_EQ(custom->SubDefinition(kMany), nullptr);
  EXPECT_EQ(custom->SubDefinition(-1), nullptr);
}

TEST(EffectUserProps, CopiedIntoTheRootContainerOnceEach) {
  TRef<TIniFile> f = Doc(R"([main]
object TheEffect:AnEffect
  object page:AnEffect
    userprops=3
    prop1=main one
    prop2=main two
    Prop10=ten
    property=no
    prop=no
    prop2x=no
    object SectionField:Field
      name=Pos
    end
  end
end
[Times]
opt_slidescount=1
[Slide1]
object TheEffect:AnEffect
  ref=page
  PROP1=own one
  prop1=second of the name
  caption=no
end
[Target]
object Root:Other
  prop1=not the container
end
object Root:Container
  prop2=old
  prop2=older
  keep=1
end
)");
  TRef<TORUEffectManager> m = zm::MakeRef<TORUEffectManager>(f.get(), 0, 0);
  TEffectProp* slide = m->GetEffect(0);
  ASSERT_NE(slide, nullptr);
  zm::TIniSection* target = f->FindSection(u"Target");
  // Copying twice changes nothing more: each property is there once.
  for (int pass = 0; pass < 2; ++pass) {
    slide->CopyUserProps(target);
    zm::TIniObject* root = target->FindObjectOfType(u"Root", u"Container");
    ASSERT_NE(root, nullptr);
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < root->Count(); ++i) names.push_back(root->Get(i)->Name().Str());
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return zm::TByteString(a).CompareText(zm::TByteString(b)) < 0;
    });
    EXPECT_EQ(names, (std::vector<std::string>{"keep", "prop1", "Prop10", "prop2", "SectionField", "userprops"}))
        << pass;
    // The slide's own value (the one its object answers for the name) wins
    // over the entry's; the entry's replace what was there.
    EXPECT_EQ(root->ReadString(u"prop1"), u"second of the name");
    EXPECT_EQ(root->ReadString(u"prop2"), u"main two");
    EXPECT_EQ(root->ReadString(u"userprops"), u"3");
    zm::TIniObject* field = root->FindObject(u"sectionfield");
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->ReadString(u"name"), u"Pos");
  }
  // The other "Root" object is not the container.
  EXPECT_EQ(target->FindObjectOfType(u"Root", u"Other")->ReadString(u"prop1"), u"not the container");
  // A target without a container gets one; no user properties, nothing made.
  zm::TIniSection* fresh = f->GetOrAddSection(u"Fresh");
  m->FindMainEntry(u"page")->CopyUserProps(fresh);
  ASSERT_NE(fresh->FindObjectOfType(u"Root", u"Container"), nullptr);
  EXPECT_EQ(fresh->FindObjectOfType(u"Root", u"Container")->ReadString(u"prop1"), u"main one");
  zm::TIniSection* empty = f->GetOrAddSection(u"Empty");
  m->GetMainEntry(m->GetMainEntryCount() - 1)->CopyUserProps(empty);
  EXPECT_EQ(empty->FindObject(u"Root"), nullptr);
  slide->CopyUserProps(nullptr);
  // Copied into the effect's own object, the properties are copies.
  slide->CopyUserProps(slide->Object());
  EXPECT_EQ(slide->Object()->ReadString(u"prop1"), u"second of the name");
  EXPECT_EQ(GetRootSection(slide->Object())->ReadString(u"prop1"), u"second of the name");
}

TEST(EffectVideoClips, DeepNestingIsWalkedWithoutRecursion) {
  std::string text = "[main]\r\n[Times]\r\nopt_slidescount=1\r\n[Slide1]\r\n";
  const int depth = 50000;
  for (int i = 0; i < depth; ++i) text += "object Box:Box\r\n";
  text += "object Video:Video\r\nClipGUID=g\r\nend\r\n";
  for (int i = 0; i < depth; ++i) text += "end\r\n";
  TRef<TIniFile> f = Doc(text);
  EXPECT_EQ(FindVideoStartTime(f.get(), u"g"), 0);
  EXPECT_EQ(FindVideoStartTime(f.get(), u"none"), -1);
}

// Slide end times are integers: a floating text is not a time.
TEST(EffectVideoClips, StartTimeIsTheIntegerEndOfThePreviousSlide) {
  const std::string head = "[main]\r\n[Times]\r\nopt_slidescount=3\r\nopt_synchpos1=1500\r\nopt_synchpos2=";
  const std::string tail = "\r\n[Slide1]\r\n[Slide2]\r\n[Slide3]\r\nobject Video:Video\r\nClipGUID=g\r\nend\r\n";
  EXPECT_EQ(FindVideoStartTime(Doc(head + "2500" + tail).get(), u"g"), 2500);
  EXPECT_EQ(FindVideoStartTime(Doc(head + "2500.0" + tail).get(), u"g"), 0);
  EXPECT_EQ(FindVideoStartTime(Doc(head + "1e3" + tail).get(), u"g"), 0);
}

}  // namespace
