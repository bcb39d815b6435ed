#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <string>
#include <thread>

#include "OruLib2/OruClasses/OruShowLoader.h"
#include "OruLib2/OruViewer/OruMusicComposite.h"
#include "OruLib2/OruViewer/OruMusicSource.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/kit/ShowBuilder.h"

using namespace oru;
using zm::TIniFile;
using zm::TRef;
using zmtest::TShowBuilder;
using zmtest::TShowObject;

namespace {

TRef<TOruSource> SourceOf(TShowBuilder& show) {
  show.Render();
  TRef<TIniFile> doc = zm::MakeRef<TIniFile>();
  doc->LoadFromText(zm::TByteString(show.Description().Bytes(false)));
  TRef<TMappedFileSource> files = zm::MakeRef<TMappedFileSource>();
  files->LoadFileMap(doc->FindSection(u"FileMap"));
  TRef<TFileAccessor> accessor = zm::MakeRef<TFileAccessor>(files.get());
  return zm::MakeRef<TOruSource>(accessor.Detach(), true, doc.Detach());
}

TShowObject& MusicOptions(TShowBuilder& show) { return show.Music().Add("Options", "TMusicOptions"); }

}  // namespace

TEST(PlayList, GrowsAddsAndWrapsRepeatingIndexes) {
  TRef<TPlayList> list = zm::MakeRef<TPlayList>(true);
  TPlayListEntry e;
  e.Text = u"stale";
  EXPECT_FALSE(list->Get(0, e));
  EXPECT_TRUE(e.Text.empty());
  EXPECT_EQ(list->Capacity(), 0u);
  EXPECT_EQ(list->AddEntry(u"a", 1000), 0);
  EXPECT_EQ(list->Capacity(), 1u);
  EXPECT_EQ(list->AddEntry(u"b", 500), 1);
  EXPECT_EQ(list->Capacity(), 8u);
  list->AddEntry(u"bad", std::numeric_limits<double>::quiet_NaN());
  for (int i = 0; i < 6; ++i) list->AddEntry(u"c", -3);
  EXPECT_EQ(list->Capacity(), 16u);
  EXPECT_EQ(list->Count(), 9);
  EXPECT_EQ(list->Total(), 1500);

  ASSERT_TRUE(list->Get(1, e));
  EXPECT_EQ(e.Text, u"b");
  EXPECT_EQ(e.Start, 1000);
  EXPECT_EQ(e.Duration, 500);
  // Past the end: the same entries, moved on by whole totals.
  ASSERT_TRUE(list->Get(9 * 3 + 1, e));
  EXPECT_EQ(e.Text, u"b");
  EXPECT_EQ(e.Start, 1000 + 3 * 1500);
  ASSERT_TRUE(list->Get(std::numeric_limits<std::int64_t>::max(), e));
  EXPECT_FALSE(list->Get(-1, e));
  EXPECT_TRUE(e.Text.empty());

  list->Clear();
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(list->Total(), 0);
  EXPECT_EQ(list->AddEntry(u"x", 10), 0);
}

TEST(PlayList, ReaderMeetsAWriterThatGrowsTheList) {
  // The reader must never see a half-moved array while the list grows.
  TRef<TPlayList> list = zm::MakeRef<TPlayList>(false);
  constexpr int kEntries = 20000;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < kEntries; ++i) list->AddEntry(u"entry", 10);
    done = true;
  });
  int bad = 0;
  TPlayListEntry e;
  for (std::int64_t i = 0; !done || i < kEntries; ++i) {
    const std::int32_t n = list->Count();
    if (n == 0) continue;
    if (!list->Get(i % n, e) || e.Text != u"entry" || e.Start != double(i % n) * 10) ++bad;
  }
  writer.join();
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(list->Total(), kEntries * 10.0);
}

TEST(MusicSource, DisabledMusicAndShowsWithoutMusic) {
  TShowBuilder show;
  show.AddSlide(3000).Comment("voice.mp3", 1000);
  show.MusicItem("a.mp3", 2000);
  show.Music().Key("music_disable", 1);
  TRef<TOruSource> src = SourceOf(show);
  TRef<TOruMusicSource> music = zm::MakeRef<TOruMusicSource>(src.get());
  EXPECT_FALSE(music->HasMusic());
  EXPECT_EQ(music->SlideCount(), 0);
  EXPECT_EQ(music->MainList(), nullptr);
  EXPECT_EQ(music->Slide(0), nullptr);

  // No music object: music is on (comments may play), but no main list.
  TShowBuilder bare;
  bare.AddSlide(3000);
  bare.AddSlide(5000);
  TRef<TOruSource> bsrc = SourceOf(bare);
  TRef<TOruMusicSource> bmusic = zm::MakeRef<TOruMusicSource>(bsrc.get());
  EXPECT_TRUE(bmusic->HasMusic());
  EXPECT_EQ(bmusic->MainList(), nullptr);
  ASSERT_EQ(bmusic->SlideCount(), 2);
  EXPECT_EQ(bmusic->Slide(0)->NextSlide, 1);
  EXPECT_EQ(bmusic->Slide(1)->NextSlide, 0);
  EXPECT_EQ(bmusic->Slide(1)->Span.Start, 3000);
  EXPECT_TRUE(bmusic->Slide(1)->Comment.empty());
  EXPECT_EQ(bmusic->Length(), 5000);
}

TEST(MusicSource, SynchronisedMusicRepeatsOnlyWhenItEndsWellBeforeTheShow) {
  struct Case {
    long long musicMs;
    bool sync;
    bool repeat;
  } cases[] = {{9700, true, true}, {9900, true, false}, {9900, false, true}};
  for (const Case& c : cases) {
    TShowBuilder show;
    show.AddSlide(4000);
    show.AddSlide(10000);
    if (c.sync) show.Main().Key("opt_syncmode", 1);
    MusicOptions(show).Key("IsRepeat", 1);
    show.MusicItem("a.mp3", c.musicMs);
    TRef<TOruSource> src = SourceOf(show);
    TRef<TOruMusicSource> music = zm::MakeRef<TOruMusicSource>(src.get());
    SCOPED_TRACE(c.musicMs);
    EXPECT_EQ(music->Synchronised(), c.sync);
    EXPECT_EQ(music->Repeat(), c.repeat);
    ASSERT_NE(music->MainList(), nullptr);
    // The sequences read the list: it must agree with the source.
    EXPECT_EQ(music->MainList()->Repeat(), c.repeat);
    EXPECT_EQ(music->MainList()->Total(), c.musicMs);
    TPlayListEntry e;
    ASSERT_TRUE(music->MainList()->Get(0, e));
    EXPECT_TRUE(IsCompositeTrack(e.Text));
  }
}

TEST(MusicSource, CommentsSoundToTheirOwnSlideOrOnUntilTheNextComment) {
  for (bool fully : {false, true}) {
    TShowBuilder show;
    show.AddSlide(2000).Comment("one.mp3", 10000);
    auto& s2 = show.AddSlide(4000);
    show.AddSlide(6000).Comment("three.mp3", 10000);
    show.AddSlide(8000).Comment("four.mp3", 10000).Key("Pause", 500);
    // A slide with a video clip only: its sound is the slide's comment.
    // (Clip starts are show times: the slide runs from 2000.)
    s2.Object("Clip", "Video").Key("FileName", "clip.mp4").Key("Duration", 1200).Key("StartORUTime", 2300);
    // A shared clip of the show opens under its mapped name.
    s2.Video(show.VideoClip("v.mp4", 500).Key("StartORUTime", 4000).Value("ClipGUID"));
    show.MapFile("v.mp4", "w.mp4");
    if (fully) show.Main().Key("opt_fullyplaysound", 1);
    TRef<TOruSource> src = SourceOf(show);
    TRef<TOruMusicSource> music = zm::MakeRef<TOruMusicSource>(src.get());
    SCOPED_TRACE(fully);
    EXPECT_EQ(music->CommentToOwnSlide(), !fully);
    ASSERT_EQ(music->SlideCount(), 4);
    EXPECT_EQ(music->Slide(0)->CommentLength, fully ? 4000 : 2000);
    EXPECT_EQ(music->Slide(1)->CommentLength, 2500);
    EXPECT_EQ(music->Slide(2)->CommentLength, 2000);
    EXPECT_EQ(music->Slide(3)->CommentLength, 2000);
    EXPECT_EQ(music->Slide(3)->CommentStartPosition, 0);

    TRef<TCompositeParams> p = zm::MakeRef<TCompositeParams>();
    ASSERT_TRUE(p->Parse(music->Slide(1)->Comment));
    ASSERT_EQ(p->Count(), 2);
    EXPECT_EQ(p->Item(1)->FileName, u"w.mp4");
    ASSERT_TRUE(p->Parse(music->Slide(3)->Comment));
    ASSERT_EQ(p->Count(), 1);
    EXPECT_EQ(p->Item(0)->TimeLine, 500);
    EXPECT_EQ(p->Item(0)->Duration, 1500);
  }
}

TEST(MusicSource, MissingSlideSectionFails) {
  TShowBuilder show;
  show.AddSlide(2000);
  show.AddSlide(4000);
  show.Times().Key("opt_slidescount", 3).Key("opt_synchpos3", 6000);
  TRef<TOruSource> src = SourceOf(show);
  try {
    zm::MakeRef<TOruMusicSource>(src.get());
    FAIL() << "no error";
  } catch (const zm::Exception& e) {
    EXPECT_STREQ(e.what(), "Slide not Found");
  }
}

TEST(MusicSource, SlidesReadLateGiveWhatAFullReadGives) {
  // Comments, a clip's sound, slides without either; the description read a
  // section at a time when first asked, and whole.
  // Main music with an item that slide 5 links to its start.
  TShowBuilder show;
  show.AddSlide(2000).Comment("one.mp3", 10000);
  auto& s2 = show.AddSlide(4000);
  show.AddSlide(6000);
  show.AddSlide(8000).Comment("four.mp3", 10000).Key("Pause", 500);
  auto& s5 = show.AddSlide(9000);
  s2.Object("Clip", "Video").Key("FileName", "clip.mp4").Key("Duration", 1200).Key("StartORUTime", 2300);
  show.Main().Key("opt_fullyplaysound", 1);
  show.MusicItem("a.mp3", 5000);
  s5.Section().Key("LinkedAudio", show.MusicItem("b.mp3", 3000).Guid());
  show.Render();
  const std::string text = show.Description().Bytes(false);
  auto music = [&](bool late) {
    zm::THookScope<std::int32_t> lateBytes(zm::IniLateBytes);
    zm::IniLateBytes = late ? 1 : INT32_MAX;
    TRef<TIniFile> doc = zm::MakeRef<TIniFile>();
    doc->LoadFromText(zm::TByteString(text));
    TRef<TFileAccessor> accessor = zm::MakeRef<TFileAccessor>(zm::MakeRef<TMappedFileSource>().get());
    TRef<TOruSource> src = zm::MakeRef<TOruSource>(accessor.Detach(), true, doc.Detach());
    return std::make_pair(src, zm::MakeRef<TOruMusicSource>(src.get()));
  };
  auto [fullShow, full] = music(false);
  auto [lateShow, late] = music(true);
  // A slide that surely has no music of its own waits to be read, also
  // when asked whether it may have a comment.
  EXPECT_FALSE(late->MayHaveComment(2));
  EXPECT_TRUE(lateShow->SlideSection(2)->Pending());
  EXPECT_TRUE(late->MayHaveComment(0));
  EXPECT_FALSE(full->MayHaveComment(2));
  ASSERT_EQ(late->SlideCount(), full->SlideCount());
  for (std::int32_t i = late->SlideCount() - 1; i >= 0; --i) {
    const TSlideMusicInfo* a = late->Slide(i);
    const TSlideMusicInfo* b = full->Slide(i);
    EXPECT_EQ(a->Span.Start, b->Span.Start) << i;
    EXPECT_EQ(a->Span.End, b->Span.End) << i;
    EXPECT_EQ(a->Span.OwnLength, b->Span.OwnLength) << i;
    EXPECT_EQ(a->Span.NextLength, b->Span.NextLength) << i;
    EXPECT_EQ(a->NextSlide, b->NextSlide) << i;
    EXPECT_EQ(a->Comment, b->Comment) << i;
    EXPECT_EQ(a->CommentLength, b->CommentLength) << i;
    EXPECT_EQ(a->CommentStartPosition, b->CommentStartPosition) << i;
  }
  EXPECT_GT(late->Slide(1)->CommentLength, 0);
  ASSERT_TRUE(late->MainList() && full->MainList());
  TPlayListEntry a, b;
  ASSERT_TRUE(late->MainList()->Get(0, a) && full->MainList()->Get(0, b));
  EXPECT_EQ(a.Text, b.Text);
  EXPECT_EQ(a.Duration, 8000 + 3000);  // the linked item starts with slide 5
}
