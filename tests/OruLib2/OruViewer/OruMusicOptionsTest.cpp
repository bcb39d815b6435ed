#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OruLib2/OruViewer/OruMusicComposite.h"
#include "OruLib2/OruViewer/OruMusicOptions.h"
#include "tests/support/kit/ShowBuilder.h"

using namespace oru;
using zm::TIniFile;
using zm::TRef;
using zmtest::TShowBuilder;
using zmtest::TShowObject;

namespace {

using Env = TMusicEnvelope;

TRef<TIniFile> DocOf(TShowBuilder& show) {
  show.Render();
  TRef<TIniFile> doc = zm::MakeRef<TIniFile>();
  doc->LoadFromText(zm::TByteString(show.Description().Bytes(false)));
  return doc;
}

TRef<TIniFile> DocOfText(const std::string& text) {
  TRef<TIniFile> doc = zm::MakeRef<TIniFile>();
  doc->LoadFromText(zm::TByteString(text));
  return doc;
}

TRef<TMusicOptionsReader> Reader(const TIniFile* doc) { return zm::MakeRef<TMusicOptionsReader>(doc); }

const zm::TIniObject* MainMusic(const TIniFile* doc) { return doc->FindSection(u"main")->FindObject(u"Music"); }

TShowObject& Item(TShowObject& track, const char* file, long long duration) {
  return track.Add(std::string("I") + std::to_string(track.ChildCount() + 1), "TMusicItem")
      .Key("FileName", file)
      .Key("Duration", duration);
}

}  // namespace

TEST(MusicOptionsReader, SyncPositionsFromDamagedTimes) {
  // A count below 1 still gives the start of the show.
  TRef<TIniFile> none = DocOfText("[Times]\nopt_slidescount=-4\n");
  EXPECT_EQ(Reader(none.get())->SyncPositions(), std::vector<std::int32_t>{0});
  // Falling and missing points are raised to the previous one.
  TRef<TIniFile> falling =
      DocOfText("[Times]\nopt_slidescount=5\nopt_synchpos1=3000\nopt_synchpos2=1000\nopt_synchpos4=9000\n");
  EXPECT_EQ(Reader(falling.get())->SyncPositions(), (std::vector<std::int32_t>{0, 3000, 3000, 3000, 9000}));
  // A hostile count does not size the table.
  TRef<TIniFile> huge = DocOfText("[Times]\nopt_slidescount=2147483647\n");
  EXPECT_EQ(Reader(huge.get())->SyncPositions().size(), std::size_t(kMaxSlideCount));
}

TEST(MusicOptionsReader, SequencesCrossFadesAndPausesWithinATrack) {
  TShowBuilder show;
  TShowObject& track = show.Music().Add("T1", "TMusicTrack");
  // The first item never moves back for its cross-fade, but still fades in.
  Item(track, "a.mp3", 5000).Key("FadeIn", 1000).Key("Cross", 800);
  Item(track, "b.mp3", 4000).Key("CrossMode", 0).Key("Cross", 1000).Key("StartTime", 250);
  Item(track, "c.mp3", 2000).Key("CrossMode", 1).Key("Pause", 500).Key("FadeOut", 300).Key("Volume", 50);
  TRef<TIniFile> doc = DocOf(show);
  TRef<TMusicOptionsReader> reader = Reader(doc.get());
  reader->Read(MainMusic(doc.get()));

  const auto& items = reader->MainItems();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].TimeLine, 0);
  EXPECT_EQ(items[0].Duration, 5000);
  ASSERT_EQ(items[0].Envelopes.size(), 2u);
  EXPECT_EQ(items[0].Envelopes[0], (Env{{0, 0}, {1000, 1000}}));
  // Its own cross-fade in, then the fade out under the next item's cross-fade.
  EXPECT_EQ(items[0].Envelopes[1], (Env{{0, 0}, {800, 1000}, {4000, 1000}, {5000, 0}}));

  EXPECT_EQ(items[1].TimeLine, 4000);
  EXPECT_EQ(items[1].BeginTime, 250);
  EXPECT_EQ(items[1].Envelopes, (std::vector<Env>{{{0, 0}, {1000, 1000}}}));

  EXPECT_EQ(items[2].TimeLine, 8500);
  EXPECT_EQ(items[2].Envelopes, (std::vector<Env>{{{1700, 500}, {2000, 0}}}));
  EXPECT_EQ(reader->MainLength(), 10500);

  // The text carries the same placement.
  TRef<TCompositeParams> parsed = zm::MakeRef<TCompositeParams>();
  ASSERT_TRUE(parsed->Parse(reader->MainText()));
  EXPECT_EQ(parsed->Duration, 10500);
  ASSERT_EQ(parsed->Count(), 3);
  EXPECT_EQ(parsed->Item(2)->FileName, u"c.mp3");
  EXPECT_EQ(parsed->Item(2)->TimeLine, 8500);
}

TEST(MusicOptionsReader, LinkedItemCutsEarlierItemsAndStartsAtItsSlide) {
  TShowBuilder show;
  show.AddSlide(3000);
  auto& s2 = show.AddSlide(6000);
  show.AddSlide(9000);
  TShowObject& t1 = show.Music().Add("T1", "TMusicTrack");
  Item(t1, "a.mp3", 5000);
  Item(t1, "b.mp3", 2000).Key("CrossMode", 1).Key("Pause", 100);  // starts after the link: dropped
  TShowObject& linked = Item(t1, "c.mp3", 1000).Key("Cross", 700).Key("CrossMode", 1).Key("Pause", 400);
  Item(t1, "d.mp3", 1000).Key("Cross", 200);  // cross-fades with the linked item as usual
  // The second track is longer; links with other braces and case still match.
  TShowObject& t2 = show.Music().Add("T2", "TMusicTrack");
  Item(t2, "e.mp3", 12000);
  std::string guid = linked.Guid();
  for (char& c : guid) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  s2.Section().Key("LinkedAudio", "{00000000-0000-0000-0000-000000000000}" + guid + "x{ignored}");

  TRef<TIniFile> doc = DocOf(show);
  TRef<TMusicOptionsReader> reader = Reader(doc.get());
  EXPECT_EQ(reader->LinkedSlide(zm::TByteString(linked.Guid()).ToWide()), 1);
  reader->Read(MainMusic(doc.get()));
  const auto& items = reader->MainItems();
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].FileName, u"a.mp3");
  EXPECT_EQ(items[0].Duration, 3000);
  EXPECT_EQ(items[1].FileName, u"c.mp3");
  EXPECT_EQ(items[1].TimeLine, 3000);
  EXPECT_TRUE(items[1].Envelopes.size() == 1u && items[1].Envelopes[0] == (Env{{800, 1000}, {1000, 0}}));
  EXPECT_EQ(items[2].TimeLine, 3800);
  EXPECT_EQ(items[3].FileName, u"e.mp3");
  EXPECT_EQ(reader->MainLength(), 12000);
}

TEST(MusicOptionsReader, MutedTracksOptionsAndItemsThatCannotPlay) {
  TShowBuilder show;
  TShowObject& music = show.Music();
  music.Add("Opt", "TMusicOptions").Key("IsRepeat", 1).Key("IsMute", 1).Key("MuteVolume", 30);
  TShowObject& muted = music.Add("M", "TMusicTrack").Key("IsMute", 1);
  Item(muted, "muted.mp3", 90000);
  music.Add("Empty1", "TMusicTrack");
  music.Add("Empty2", "TMusicTrack");
  TShowObject& t = music.Add("T", "TMusicTrack");
  Item(t, "silent.mp3", 1000).Key("Volume", 0);  // not placed, its time counts
  Item(t, "", 1000);                             // no file: would end the item list of the text
  Item(t, "half.mp3", 1000).Key("Volume", 50).Key("Duration", "1000.4");
  Item(t, "bad.mp3", 1000).Key("Volume", "loud").Key("Duration", -5);
  TRef<TIniFile> doc = DocOf(show);
  TRef<TMusicOptionsReader> reader = Reader(doc.get());
  reader->Read(MainMusic(doc.get()));
  EXPECT_TRUE(reader->IsRepeat());
  EXPECT_EQ(reader->MuteVolume(), 30);
  ASSERT_EQ(reader->MainItems().size(), 1u);
  EXPECT_EQ(reader->MainItems()[0].FileName, u"half.mp3");
  EXPECT_EQ(reader->MainItems()[0].TimeLine, 2000);
  EXPECT_EQ(reader->MainItems()[0].Envelopes, (std::vector<Env>{{{0, 500}, {1000, 500}}}));
  EXPECT_EQ(reader->MainLength(), 3000);

  // Nothing at all to play: no text, no length.
  TShowBuilder quiet;
  Item(quiet.Music().Add("T", "TMusicTrack"), "x.mp3", 1000).Key("Volume", 0);
  TRef<TIniFile> qdoc = DocOf(quiet);
  reader->Read(MainMusic(qdoc.get()));
  EXPECT_TRUE(reader->MainItems().empty());
  EXPECT_EQ(reader->MainLength(), 0);
  EXPECT_TRUE(reader->MainText().empty());
  EXPECT_FALSE(reader->IsRepeat());
}

TEST(MusicOptionsReader, VolumeParamsOrderedRelativeAndCutAtTheEnd) {
  // Frames at 44100/s: 0 ms, 500 ms (twice: raised by 1 ms), a damaged pair,
  // 1000 ms and 3000 ms; the item starts 500 ms into the file and lasts 1500.
  const WideString text = u"0:65536, 22050:32768,22050:0,junk,x:1, 44100:65536 ,132300:0,176400:65536";
  Env env = ParseMusicVolumeParams(text, 500, 1500);
  EXPECT_EQ(env, (Env{{-500, 1000}, {0, 500}, {1, 0}, {500, 1000}, {1500, 500}}));
  // A first point already past the end answers its own value at the end.
  EXPECT_EQ(ParseMusicVolumeParams(u"441000:131072", 0, 100), (Env{{100, 2000}}));
  EXPECT_TRUE(ParseMusicVolumeParams(u",,:,1:", 0, 100).empty());
  // Huge frame numbers do not overflow and stop at the item's end.
  EXPECT_EQ(ParseMusicVolumeParams(u"9223372036854775807:65536,1:1", 0, 100), (Env{{100, 1000}}));
}

TEST(MusicOptionsReader, CommentCutToItsLimitAndMixedWithClips) {
  TShowBuilder show;
  show.AddSlide(5000)
      .Comment("voice.mp3", 4000)
      .Key("Pause", 1500)
      .Key("FadeOut", 1000)
      .Key("StartTime", 200)
      .Key("VolumeParams", "0:65536,441000:0");
  TRef<TIniFile> doc = DocOf(show);
  const zm::TIniObject* music = doc->FindSection(u"Slide1")->FindObject(u"Music");
  std::vector<TClipSound> clips(2);
  clips[0] = {u"clip.mp4", 1000, 300, 6000, 0.25};
  clips[1] = {u"", 0, 0, 90000, 1.0};  // nothing to open: ignored
  TRef<TMusicOptionsReader> reader = Reader(nullptr);
  reader->CommentLimit = 3000;
  reader->Read(music, clips);
  const auto& items = reader->CommentItems();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].FileName, u"voice.mp3");
  EXPECT_EQ(items[0].TimeLine, 1500);
  EXPECT_EQ(items[0].BeginTime, 200);
  EXPECT_EQ(items[0].Duration, 1500);
  ASSERT_EQ(items[0].Envelopes.size(), 2u);
  EXPECT_EQ(items[0].Envelopes[0], (Env{{500, 1000}, {1500, 0}}));
  EXPECT_EQ(items[0].Envelopes[1], (Env{{-200, 1000}, {1500, 830}}));
  EXPECT_EQ(items[1].Envelopes, (std::vector<Env>{{{0, 250}, {6000, 250}}}));
  EXPECT_EQ(reader->CommentLength(), 7000);
  EXPECT_FALSE(reader->CommentText().empty());

  // "error" in any case drops the file; a limit below the pause leaves nothing.
  TShowBuilder bad;
  bad.AddSlide(5000).Comment("ErRoR", 4000);
  bad.AddSlide(9000).Comment("late.mp3", 4000).Key("Pause", 2000);
  TRef<TIniFile> bdoc = DocOf(bad);
  reader->CommentLimit = 0;
  reader->Read(bdoc->FindSection(u"Slide1")->FindObject(u"Music"));
  EXPECT_EQ(reader->CommentLength(), 0);
  EXPECT_TRUE(reader->CommentText().empty());
  reader->CommentLimit = 1000;
  reader->Read(bdoc->FindSection(u"Slide2")->FindObject(u"Music"));
  EXPECT_TRUE(reader->CommentItems().empty());
  EXPECT_EQ(reader->CommentLength(), 0);
}

TEST(MusicOptionsReader, CollectsTheSoundOfASlidesVideoClips) {
  TShowBuilder show;
  show.Repeat("repeat");
  show.AddSlide(4000).Transition("dissolve", 600);
  auto& s2 = show.AddSlide(10000).Transition("dissolve", 500);
  show.AddSlide(12000).Transition("dissolve", 800);
  TShowObject& shared = show.VideoClip("shared.mp4", 3000).Key("StartORUTime", 4500).Key("StartVideoTime", 100);
  TShowObject& early = show.VideoClip("early.mp4", 3000).Key("StartORUTime", 1000);
  TShowObject& disk = show.VideoClip("disk.mp4", 3000).Key("StartORUTime", 5000).Key("LoadFromDisk", 1);
  show.MapFile("shared.mp4", "mapped.mp4");
  s2.Video(shared.Value("ClipGUID"));
  s2.Object("Box", "Box").Add("Inner", "Video").Key("ClipGUID", shared.Value("ClipGUID"));  // taken once
  s2.Video(early.Value("ClipGUID"));                                                        // starts before the slide
  s2.Video(disk.Value("ClipGUID"));
  // Own clips: the window runs to the slide's end plus the next transition.
  s2.Object("Own", "Video").Key("FileName", "own.mp4").Key("StartORUTime", 5000).Key("Duration", 99000);
  s2.Object("Muted", "Video").Key("FileName", "m.mp4").Key("Duration", 1000).Key("Mute", 1);
  s2.Object("Fast", "Video").Key("FileName", "f.mp4").Key("Duration", 1000).Key("FPSMultiplier", 2);
  s2.Object("Anim", "Video").Key("FileName", "a.GIF").Key("Duration", 1000);
  s2.Object("Gone", "Video").Key("FileName", "g.mp4").Key("Duration", 1000).Key("StartORUTime", 20000);
  s2.Object("KeyPoint", "KeyPoint").Add("Hidden", "Video").Key("FileName", "h.mp4").Key("Duration", 1000);

  TRef<TIniFile> doc = DocOf(show);
  std::vector<TSlideSpan> spans(3);
  spans[1] = {4000, 10000, 500, 800, 10800};
  spans[2] = {10000, 12000, 800, 600, 12600};
  spans[0] = {0, 4000, 600, 500, 4500};
  std::vector<TClipSound> records;
  auto map = [](const WideString& n) { return n == u"shared.mp4" ? WideString(u"mapped.mp4") : WideString(); };
  TMusicOptionsReader::CollectClipSound(doc.get(), spans, doc->FindSection(u"Slide2"), records, map);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].FileName, u"mapped.mp4");
  // Placed on the slide's own track: 4500 ms of show time is 500 ms into the slide.
  EXPECT_EQ(records[0].TimeLine, 500);
  EXPECT_EQ(records[0].BeginTime, 100);
  EXPECT_EQ(records[0].Duration, 3000);
  EXPECT_EQ(records[1].FileName, u"LoadFromDisk:disk.mp4");
  EXPECT_EQ(records[2].FileName, u"own.mp4");
  EXPECT_EQ(records[2].TimeLine, 5000 - 4000);
  EXPECT_EQ(records[2].Duration, 10000 + 800 - 5000);

  // The last slide of a repeating show may sound into the first slide's transition.
  auto& s3 = show.Slide(2);
  s3.Object("Own", "Video").Key("FileName", "last.mp4").Key("Duration", 99000).Key("StartORUTime", 10000);
  // Begun 1000 ms before its slide: it sounds from where its pictures have got to.
  s3.Object("Begun", "Video")
      .Key("FileName", "begun.mp4")
      .Key("StartORUTime", 9000)
      .Key("StartVideoTime", 200)
      .Key("Duration", 2500);
  // A shared clip counts from the end of its start slide (the second: 10000).
  s3.Video(show.VideoClip("late.mp4", 700).Key("StartORUTime", 500).Key("StartSlideIdx", 2).Value("ClipGUID"));
  doc = DocOf(show);
  records.clear();
  TMusicOptionsReader::CollectClipSound(doc.get(), spans, doc->FindSection(u"Slide3"), records);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].TimeLine, 0);
  EXPECT_EQ(records[0].BeginTime, 0);
  EXPECT_EQ(records[0].Duration, 12000 - 10000 + 600);
  EXPECT_EQ(records[1].FileName, u"begun.mp4");
  EXPECT_EQ(records[1].TimeLine, 0);
  EXPECT_EQ(records[1].BeginTime, 1200);
  EXPECT_EQ(records[1].Duration, 1500);
  EXPECT_EQ(records[2].FileName, u"late.mp4");
  EXPECT_EQ(records[2].TimeLine, 500);
  EXPECT_EQ(records[2].Duration, 700);

  // Sections that are no slide give nothing.
  records.clear();
  TMusicOptionsReader::CollectClipSound(doc.get(), spans, doc->FindSection(u"Tracks"), records);
  TMusicOptionsReader::CollectClipSound(doc.get(), spans, nullptr, records);
  TMusicOptionsReader::CollectClipSound(nullptr, spans, doc->FindSection(u"Slide3"), records);
  EXPECT_TRUE(records.empty());
}

TEST(MusicOptionsReader, ClipsInsideBlocksComeInDocumentOrderAtAnyDepth) {
  // Clips before, inside and after blocks nested far deeper than a walk by
  // recursion could go, a clip inside a clip, and one inside a key point
  // (not the slide's).
  constexpr int kDepth = 20000;
  auto video = [](const std::string& name) {
    return "object " + name + ":Video\r\nFileName=" + name + ".mp4\r\nDuration=1000\r\n";
  };
  std::string text = "[Times]\r\nopt_slidescount=1\r\nopt_synchpos1=10000\r\n[Slide1]\r\n" + video("first") + "end\r\n";
  text += "object Outer:Group\r\n" + video("outer") + video("inner") + "end\r\nend\r\nend\r\n";
  for (int d = 0; d < kDepth; ++d) text += "object G:Group\r\n";
  text += video("deep") + "end\r\n";
  for (int d = 0; d < kDepth; ++d) text += "end\r\n";
  text += "object KeyPoint:KeyPoint\r\n" + video("hidden") + "end\r\nend\r\n" + video("last") + "end\r\n";
  TRef<TIniFile> doc = DocOfText(text);
  const std::vector<TSlideSpan> spans{{0, 10000, 0, 0, 10000}};
  std::vector<TClipSound> records;
  TMusicOptionsReader::CollectClipSound(doc.get(), spans, doc->FindSection(u"Slide1"), records);
  std::vector<WideString> names;
  for (const TClipSound& r : records) names.push_back(r.FileName);
  EXPECT_EQ(names, (std::vector<WideString>{u"first.mp4", u"outer.mp4", u"inner.mp4", u"deep.mp4", u"last.mp4"}));
}

TEST(MusicOptionsReader, HostileMusicObjectsStayBoundedAndLinear) {
  // Tracks nested far deeper than any thread's stack would allow recursion,
  // and a great many tiny tracks each with a linked item.
  constexpr int kDepth = 100000;
  constexpr int kTracks = 50000;
  std::string text =
      "[Times]\nopt_slidescount=2\nopt_synchpos1=50\n[Slide2]\nLinkedAudio={L}\n[main]\nobject Music:Music\n";
  for (int i = 0; i < kDepth; ++i) text += "object T:TMusicTrack\n";
  text += "object I:TMusicItem\nFileName=deep.mp3\nDuration=10\nend\n";
  for (int i = 0; i < kDepth; ++i) text += "end\n";
  for (int i = 0; i < kTracks; ++i)
    text += "object T:TMusicTrack\nobject I:TMusicItem\nFileName=t.mp3\nDuration=1\nGUID={L}\nend\nend\n";
  text += "end\n";
  TRef<TIniFile> doc = DocOfText(text);
  TRef<TMusicOptionsReader> reader = Reader(doc.get());
  reader->Read(MainMusic(doc.get()));
  ASSERT_EQ(reader->MainItems().size(), std::size_t(kTracks) + 1);
  EXPECT_EQ(reader->MainItems()[0].FileName, u"deep.mp3");
  EXPECT_EQ(reader->MainItems()[1].TimeLine, 50);
  EXPECT_EQ(reader->MainLength(), 51);

  // A slide with as many videos as the show has clips.
  constexpr int kClips = 20000;
  std::string clips = "[Times]\nopt_slidescount=1\nopt_synchpos1=1000\n[Tracks]\n";
  std::string slide = "[Slide1]\n";
  for (int i = 0; i < kClips; ++i) {
    const std::string guid = "{G" + std::to_string(i) + "}";
    clips += "object C:VideoClip\nClipGUID=" + guid + "\nFileName=c.mp4\nDuration=10\nend\n";
    slide += "object V:Video\nClipGUID=" + guid + "\nend\n";
  }
  TRef<TIniFile> vdoc = DocOfText(clips + slide);
  std::vector<TClipSound> records;
  std::vector<TSlideSpan> spans(1);
  TMusicOptionsReader::CollectClipSound(vdoc.get(), spans, vdoc->FindSection(u"Slide1"), records);
  EXPECT_EQ(records.size(), std::size_t(kClips));
}
