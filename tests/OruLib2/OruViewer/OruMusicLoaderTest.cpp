#include "OruLib2/OruViewer/OruMusicLoader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/PlatSystem.h"
#include "ZmLib/Music/zmConverterFactory.h"
#include "ZmLib/Music/zmDllDecoders.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLog.h"
#include "tests/OruLib2/OruViewer/OruMusicLoaderTestKit.h"
#include "tests/ZmLib/Music/MusicPlayerKit.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/TempDir.h"

namespace oru {
namespace {

using namespace orutest;
using zm::MakeRef;
using zm::TRef;

class TLoaderLog : public zm::TLog {
public:
  void WriteText(const WideString& line) override {
    std::lock_guard<std::mutex> g(m);
    Lines.push_back(line);
  }
  bool Has(const WideString& text) {
    std::lock_guard<std::mutex> g(m);
    return std::any_of(Lines.begin(), Lines.end(), [&](const WideString& l) { return l.find(text) != l.npos; });
  }
  std::mutex m;
  std::vector<WideString> Lines;
};

// The loader's thread is not started: the test drains both queues itself,
// standing in for both threads in turn.
class MusicLoader : public ::testing::Test {
protected:
  void SetUp() override {
    log_ = MakeRef<TLoaderLog>();
    log_->AddRef();
    zm::SetLog(log_.get());
    player_ = MakeRef<TFakePlayer>();
    events_ = MakeRef<TPlayerEvents>();
  }
  void TearDown() override {
    if (loader_) loader_->Free();
    events_ = nullptr;
    zm::SetLog(nullptr);
  }
  TMusicLoader* Loader(zm::TMusicPlayer* player) {
    if (!loader_) {
      show_ = MemoryShow({{u"music\\a.wav", "RIFFa"}});
      loader_ = MakeRef<TMusicLoader>(show_.get(), events_.get(), player).Detach();
    }
    return loader_;
  }
  void RunLoader() { loader_->Events()->ProcessEvents(); }

  TRef<TLoaderLog> log_;
  TRef<TFakePlayer> player_;
  TRef<TPlayerEvents> events_;
  TRef<TFileAccessor> show_;
  TMusicLoader* loader_ = nullptr;
};

TEST_F(MusicLoader, AnswersEveryRequestInOrderAndOpensOnlyLiveChannels) {
  TMusicLoader* l = Loader(player_.get());
  player_->Lengths[u"short.wav"] = 3000;
  player_->Lengths[u"long.wav"] = 60000;
  std::vector<TRef<TOruChannel>> asked = {
      NewChannel(1, u"short.wav", 500, 1000, 10000),  // 2500 ms left of the file: end 3500
      NewChannel(2, u"long.wav", -20, 0, 1000),       // negative position opens at 0; window kept
      NewChannel(-1, u"cancelled.wav"),               // never opened
      NewChannel(3, u"missing.wav"),                  // no channel: logged, still answered
      NewChannel(4, u"throw.wav"),                    // a failing decoder: the same
  };
  for (auto& c : asked) l->OpenRequest(c.get());
  RunLoader();
  ASSERT_TRUE(events_->WaitForAnswers(asked.size()));
  EXPECT_EQ(events_->AnswerCount, asked.size());
  // The cancelled one comes back too, and belongs to nobody.
  ASSERT_EQ(events_->Answers.size(), asked.size() - 1);
  for (std::size_t i = 0, j = 0; i < asked.size(); ++i) {
    if (i == 2) continue;
    EXPECT_EQ(events_->Answers[j++].get(), asked[i].get());
  }

  EXPECT_TRUE(asked[0]->AudioChannel);
  EXPECT_DOUBLE_EQ(asked[0]->EndTime, 3500.0);
  EXPECT_TRUE(asked[1]->AudioChannel);
  EXPECT_DOUBLE_EQ(asked[1]->EndTime, 1000.0);
  for (int i : {2, 3, 4}) EXPECT_FALSE(asked[i]->AudioChannel) << i;
  EXPECT_TRUE(log_->Has(u"+++++++++++++++++++ Channel Create ERROR"));
  {
    std::lock_guard<std::mutex> g(player_->Record->m);
    ASSERT_EQ(player_->Record->requests.size(), 4u);
    EXPECT_EQ(player_->Record->requests[0].second, 500u);
    EXPECT_EQ(player_->Record->requests[1].second, 0u);
    for (auto& r : player_->Record->requests) EXPECT_NE(r.first, u"cancelled.wav");
  }

  // Released by the player: the audio channels end when the loader drops
  // the last references, not before.
  events_->Answers.clear();
  for (auto& c : asked) l->Release(std::move(c));
  EXPECT_EQ(player_->Record->Disposed(), 0);
  RunLoader();
  EXPECT_EQ(player_->Record->Disposed(), 2);
  EXPECT_TRUE(log_->Has(u"+++++++++++++++++++ Destroy Channel short.wav Time"));
}

TEST_F(MusicLoader, WithoutMusicPlayerAnswersEmptyAndWithoutFileAccessFails) {
  TMusicLoader* l = Loader(nullptr);
  TRef<TOruChannel> c = NewChannel(1, u"music\\a.wav", 0, 0, 5000);
  l->OpenRequest(c.get());
  RunLoader();
  ASSERT_TRUE(events_->WaitForAnswers(1));
  EXPECT_FALSE(c->AudioChannel);
  EXPECT_DOUBLE_EQ(c->EndTime, 5000.0);
  events_->Answers.clear();
  l->Release(std::move(c));
  RunLoader();

  EXPECT_THROW(MakeRef<TMusicLoader>(nullptr, events_.get(), player_.get()), zm::EAbort);
}

TEST_F(MusicLoader, StreamProceduresReadTheShowOrTheDiskAndAreTakenBackAtTheEnd) {
  zmtest::TTempDir dir;
  dir.Write("disk.wav", "from disk");
  Loader(player_.get());
  zm::TStreamOpenPair open;
  zm::TStreamClosePair close;
  player_->GetOpenStream(open);
  player_->GetCloseStream(close);
  ASSERT_EQ(open.Proc, &TMusicLoader::OpenStream);
  ASSERT_EQ(close.Proc, &TMusicLoader::CloseStream);

  auto read = [&](const WideString& name) -> std::string {
    zm::TStream* s = open.Proc(open.Data, nullptr, name);
    if (!s) return "<none>";
    std::string text(static_cast<std::size_t>(s->GetSize()), '\0');
    s->SetPosition(0);
    s->Read(zm::TReadBuffer(reinterpret_cast<std::uint8_t*>(text.data()), text.size()),
            static_cast<std::int32_t>(text.size()), 0);
    close.Proc(close.Data, nullptr, s);
    return text;
  };
  EXPECT_EQ(read(u"music\\a.wav"), "RIFFa");
  EXPECT_EQ(read(u"LoadFromDisk:" + dir.Wide("disk.wav")), "from disk");
  // The prefix decides: a disk name without it is looked up in the show.
  EXPECT_EQ(read(dir.Wide("disk.wav")), "<none>");
  EXPECT_EQ(read(u"LoadFromDisk:" + dir.Wide("absent.wav")), "<none>");
  EXPECT_EQ(read(u"LoadFromDisk:"), "<none>");
  EXPECT_EQ(read(u"absent.wav"), "<none>");
  close.Proc(close.Data, nullptr, nullptr);

  // Channels that outlive the loader do not call into it.
  loader_->Free();
  loader_ = nullptr;
  player_->GetOpenStream(open);
  player_->GetCloseStream(close);
  EXPECT_EQ(open.Proc, nullptr);
  EXPECT_EQ(close.Proc, nullptr);
}

TEST_F(MusicLoader, ChannelGivenUpBeforeItsAnswerEndsOnTheLoader) {
  TMusicLoader* l = Loader(player_.get());
  TRef<TOruChannel> c = NewChannel(1, u"song.wav");
  l->OpenRequest(c.get());
  RunLoader();  // opened; the answer waits in the player's queue
  ASSERT_TRUE(c->AudioChannel);
  // The player cancels and releases it before it sees the answer; the
  // loader drops its reference first.
  c->Cancel();
  l->Release(std::move(c));
  RunLoader();
  EXPECT_EQ(player_->Record->Disposed(), 0);
  // The answer holds the last reference: handled on the player's side, it
  // goes back to the loader instead of ending there.
  ASSERT_TRUE(events_->WaitForAnswers(1));
  events_->Answers.clear();
  EXPECT_EQ(player_->Record->Disposed(), 0);
  EXPECT_EQ(l->Events()->Count(), 1u);
  RunLoader();
  EXPECT_EQ(player_->Record->Disposed(), 1);

  // Answers that find the player's queue closed are dropped at once.
  TRef<TOruChannel> d = NewChannel(2, u"late.wav");
  l->OpenRequest(d.get());
  events_->Close();
  d = nullptr;
  RunLoader();
  RunLoader();
  EXPECT_EQ(player_->Record->Disposed(), 2);
}

TEST(ChannelOperator, StartStopPlayAndDestroy) {
  auto record = std::make_shared<TChannelRecord>();
  auto op = MakeRef<TChannelOperator>();
  auto loaded = [&](const WideString& name) {
    TRef<TOruChannel> c = NewChannel(1, name, 0, 0, 1000, op.get());
    c->AudioChannel = MakeRef<TFakeChannel>(record, name, 1000);
    c->Loaded = true;
    return c;
  };

  // Not loaded yet: nothing to start.
  TRef<TOruChannel> early = NewChannel(1, u"early.wav", 0, 0, 1000, op.get());
  early->Start();
  EXPECT_FALSE(early->Playing);
  EXPECT_EQ(op->Count(), 0);

  // Stopped while still queued: leaves the queue and never sounds.
  TRef<TOruChannel> a = loaded(u"a.wav");
  a->Start();
  a->Start();
  EXPECT_EQ(op->Count(), 1);
  a->Stop();
  EXPECT_FALSE(a->Playing);
  EXPECT_FALSE(a->Stopped);
  EXPECT_EQ(op->Count(), 0);
  op->PlayPending();
  EXPECT_EQ(record->plays, 0);
  EXPECT_EQ(record->stops, 0);

  // Queued channels start together; a failed one (no audio) is skipped.
  TRef<TOruChannel> b = loaded(u"b.wav");
  TRef<TOruChannel> failed = NewChannel(1, u"failed.wav", 0, 0, 1000, op.get());
  failed->Loaded = true;
  a->Start();
  b->Start();
  failed->Start();
  EXPECT_EQ(op->Count(), 3);
  op->PlayPending();
  EXPECT_EQ(op->Count(), 0);
  EXPECT_EQ(record->plays, 2);

  // Sounding: stopped with a fade, once.
  a->Stop();
  a->Stop();
  EXPECT_TRUE(a->Stopped);
  EXPECT_EQ(record->stops, 1);
  failed->Stop();
  EXPECT_TRUE(failed->Stopped);

  // Destroy stops only what still sounds.
  a->Destroy();
  EXPECT_EQ(record->stops, 1);
  b->Destroy();
  EXPECT_EQ(record->stops, 2);
  EXPECT_EQ(record->Disposed(), 2);
  b->Destroy();

  // A queue dropped with channels in it releases them.
  TRef<TOruChannel> c = loaded(u"c.wav");
  c->Start();
  const std::int32_t refs = c->RefCount();
  op->ClearQueue();
  EXPECT_EQ(c->RefCount(), refs - 1);
  c->Playing = false;
  c->Start();
  op = nullptr;
  c = nullptr;
  EXPECT_EQ(record->Disposed(), 3);
}

// A channel loaded after its start time moves on by as much before it
// sounds; one on time does not. One held by a pause goes on from the place
// of the pause's time.
TEST(ChannelOperator, ALateChannelStartsWhereTheShowIs) {
  auto record = std::make_shared<TChannelRecord>();
  auto op = MakeRef<TChannelOperator>();
  auto loaded = [&](std::int32_t position, double start) {
    TRef<TOruChannel> c = NewChannel(1, u"late.wav", position, start, start + 5000, op.get());
    c->AudioChannel = MakeRef<TFakeChannel>(record, u"late.wav", 5000);
    c->Loaded = true;
    return c;
  };
  TRef<TOruChannel> onTime = loaded(300, 1000);
  onTime->StartAt(1000.6);
  TRef<TOruChannel> late = loaded(300, 1000);
  late->StartAt(1137.9);
  EXPECT_TRUE(onTime->Playing);
  EXPECT_TRUE(late->Playing);
  EXPECT_EQ(late->StartPosition, 437);
  EXPECT_EQ(late->StartTime, 1137);
  op->PlayPending();
  EXPECT_EQ(record->plays, 2);
  EXPECT_EQ(record->positions, std::vector<std::uint32_t>{437});

  // Paused at 1500 (it sounded): it goes on from the place of 1500, decoded
  // ahead from there while the show stands, moved on by as much as the
  // resume comes late.
  late->Hold(1500.7);
  EXPECT_TRUE(late->Stopped);
  EXPECT_FALSE(late->Playing);
  EXPECT_EQ(record->stops, 1);
  EXPECT_EQ(late->StartPosition, 800);
  EXPECT_EQ(late->StartTime, 1500);
  EXPECT_EQ(record->positions.size(), 1u);
  late->DecodeAhead();
  late->DecodeAhead();
  EXPECT_EQ(record->positions, (std::vector<std::uint32_t>{437, 800}));
  late->Hold(1600);  // not playing: nothing
  late->StartAt(1503.2);
  EXPECT_TRUE(late->Playing);
  EXPECT_EQ(record->positions, (std::vector<std::uint32_t>{437, 800, 803}));
  // Resumed before it decoded ahead: once, at the resume's place.
  op->PlayPending();
  late->Hold(1700);
  late->StartAt(1700);
  EXPECT_EQ(record->positions, (std::vector<std::uint32_t>{437, 800, 803, 1000}));
  // Held while still queued, it never sounded: it only leaves the queue.
  TRef<TOruChannel> queued = loaded(300, 2000);
  queued->StartAt(2000);
  queued->Hold(2100);
  EXPECT_FALSE(queued->Playing);
  EXPECT_FALSE(queued->Stopped);
  EXPECT_EQ(queued->StartPosition, 300);
  queued->DecodeAhead();
  EXPECT_EQ(record->positions.size(), 4u);
  // Not loaded: nothing moves.
  TRef<TOruChannel> early = NewChannel(1, u"early.wav", 0, 0, 1000, op.get());
  early->StartAt(500);
  EXPECT_FALSE(early->Playing);
  EXPECT_EQ(early->StartPosition, 0);
  op->ClearQueue();
}

// The real music player reads the show's files through the loader.
class MusicLoaderOnPlayer : public zmtest::TManualPlayerTest {
protected:
  void SetUp() override {
    TManualPlayerTest::SetUp();
    if (!zm::CreateConverterHook) converter_.Set(&zm::CreateConverter);
  }
  void TearDown() override {
    TManualPlayerTest::TearDown();
    converter_.Restore();
    // No music modules start in this binary: end the channel killer as
    // their finalisation would (it is made again on demand).
    zm::FiniMusicChannel();
  }
  zm::THookScope<zm::TCreateConverterProc> converter_{zm::CreateConverterHook};
};

TEST_F(MusicLoaderOnPlayer, OpensShowAndDiskFilesAndFailsOnMissingOrDamagedOnes) {
  zmtest::TWavLayout w;
  const std::string second = zmtest::EncodeSamples(zmtest::Sine(44100, 2, 44100, 441.0, 0.5), 16);
  zmtest::WriteWav(dir_, "disk.wav", w, second + second);
  std::string damaged = zmtest::MakeWav(w, second);
  damaged.replace(8, 4, "JUNK");
  TRef<TFileAccessor> show =
      MemoryShow({{u"music\\tone.wav", zmtest::MakeWav(w, second)}, {u"music\\damaged.wav", damaged}});
  auto events = MakeRef<TPlayerEvents>();
  auto loader = MakeRef<TMusicLoader>(show.get(), events.get(), Player());

  std::vector<TRef<TOruChannel>> asked = {
      NewChannel(1, u"music\\tone.wav", 200, 0, 5000),  // 800 ms of it left
      NewChannel(2, u"LoadFromDisk:" + dir_.Wide("disk.wav"), 0, 1000, 2500),
      NewChannel(3, u"music\\absent.wav"),
      NewChannel(4, u"music\\damaged.wav"),
      NewChannel(5, u"LoadFromDisk:" + dir_.Wide("absent.wav")),
  };
  for (auto& c : asked) loader->OpenRequest(c.get());
  loader->Events()->ProcessEvents();
  ASSERT_TRUE(events->WaitForAnswers(asked.size()));
  ASSERT_TRUE(asked[0]->AudioChannel);
  EXPECT_EQ(asked[0]->AudioChannel->GetLength(), 1000u);
  EXPECT_DOUBLE_EQ(asked[0]->EndTime, 800.0);
  ASSERT_TRUE(asked[1]->AudioChannel);
  EXPECT_DOUBLE_EQ(asked[1]->EndTime, 2500.0);
  for (int i : {2, 3, 4}) EXPECT_FALSE(asked[i]->AudioChannel) << i;
  EXPECT_EQ(Player()->ChannelCount(), 2u);

  events->Answers.clear();
  for (auto& c : asked) loader->Release(std::move(c));
  loader->Events()->ProcessEvents();
  EXPECT_EQ(Player()->ChannelCount(), 0u);
  loader = nullptr;
}

// A channel given back while its faded sound still plays (the killer takes
// it only once the manual clock moves) does not hold up the next open, as a
// seek's: the new channel is answered with the old one still there, which
// ends on the loader's thread once its sound has played.
TEST_F(MusicLoaderOnPlayer, ChannelPlayingOutDoesNotHoldUpTheNextOpen) {
  const std::string wav = zmtest::MakeWav(zmtest::TWavLayout{}, std::string(44100 * 4 * 3, '\x10'));
  auto events = MakeRef<TPlayerEvents>();
  auto op = MakeRef<TChannelOperator>();
  TRef<TFileAccessor> show = MemoryShow({{u"a.wav", wav}});
  auto loader = MakeRef<TMusicLoader>(show.get(), events.get(), Player());
  ASSERT_TRUE(loader->Start());
  TRef<TOruChannel> old = NewChannel(1, u"a.wav", 0, 0, 100000, op.get());
  loader->OpenRequest(old.get());
  ASSERT_TRUE(events->WaitForAnswers(1));
  events->Answers.clear();
  ASSERT_TRUE(old->AudioChannel);
  old->Loaded = true;
  old->Start();
  op->PlayPending();
  Run(100);
  old->Stop();
  Run(10);
  loader->Release(std::move(old));
  TRef<TOruChannel> next = NewChannel(2, u"a.wav", 1000, 0, 100000, op.get());
  loader->OpenRequest(next.get());
  ASSERT_TRUE(events->WaitForAnswers(2));
  events->Answers.clear();
  EXPECT_TRUE(next->AudioChannel);
  EXPECT_EQ(Player()->ChannelCount(), 2u);
  for (int i = 0; i < 3; ++i) Run(100);
  EXPECT_TRUE(zmtest::WaitUntil([&] { return Player()->ChannelCount() == 1; }));
  loader->Release(std::move(next));
  EXPECT_TRUE(loader->Stop());
}

// A channel held by a pause decodes ahead from the place of the pause while
// its sound fades, and resumes from there. Given back while held (a seek
// while paused), it ends once its fade has played: what waits decoded
// ahead plays nothing out.
TEST_F(MusicLoaderOnPlayer, ChannelHeldByAPauseResumesFromItsPlaceAndEndsWhenGivenBack) {
  const std::string wav = zmtest::MakeWav(zmtest::TWavLayout{}, std::string(44100 * 4 * 3, '\x10'));
  auto events = MakeRef<TPlayerEvents>();
  auto op = MakeRef<TChannelOperator>();
  TRef<TFileAccessor> show = MemoryShow({{u"a.wav", wav}});
  auto loader = MakeRef<TMusicLoader>(show.get(), events.get(), Player());
  ASSERT_TRUE(loader->Start());
  TRef<TOruChannel> c = NewChannel(1, u"a.wav", 0, 0, 100000, op.get());
  loader->OpenRequest(c.get());
  ASSERT_TRUE(events->WaitForAnswers(1));
  events->Answers.clear();
  ASSERT_TRUE(c->AudioChannel);
  c->Loaded = true;
  c->StartAt(0);
  op->PlayPending();
  Run(100);
  c->Hold(100);
  c->DecodeAhead();
  TRef<zm::TChannelMusic> music = zm::RefCast<zm::TChannelMusic>(c->AudioChannel);
  ASSERT_TRUE(music);
  EXPECT_EQ(music->MusicChannelCount(), 2u);
  EXPECT_EQ(music->SoundingCount(), 1u);
  EXPECT_EQ(music->GetPosition(), 100u);
  c->StartAt(100);
  op->PlayPending();
  EXPECT_TRUE(music->IsPlaying());
  EXPECT_EQ(music->MusicChannelCount(), 2u);  // no third run: it plays the one decoded ahead
  Run(100);
  c->Hold(200);
  c->DecodeAhead();
  music = nullptr;
  loader->Release(std::move(c));
  for (int i = 0; i < 3; ++i) Run(100);
  EXPECT_TRUE(zmtest::WaitUntil([&] { return Player()->ChannelCount() == 0; }));
  EXPECT_TRUE(loader->Stop());
}

// ---- Decoder plug-ins ----------------------------------------------------------------

std::vector<WideString> gPluginLoads;
int gPluginUnloads = 0;
bool LoadPluginFake(const WideString& name) {
  gPluginLoads.push_back(name);
  return true;
}
void UnloadPluginFake() { ++gPluginUnloads; }

// The plug-ins are removed before the hooks are given back.
struct TPluginHooks {
  ~TPluginHooks() { RemovePlugins(); }
  zm::THookScope<TLoadPluginProc> ogg{LoadOggPluginHook}, wma{LoadWmaPluginHook};
  zm::THookScope<TUnloadPluginProc> uogg{UnloadOggPluginHook}, uwma{UnloadWmaPluginHook};
};

TEST(MusicPlugins, TheProgramsOwnPlugInIsLoadedOncePerProcessWhenTheShowNamesOne) {
  TPluginHooks hooks;
  auto log = MakeRef<TLoaderLog>();
  log->AddRef();
  zm::SetLog(log.get());
  gPluginLoads.clear();
  gPluginUnloads = 0;
  hooks.ogg.Set(&LoadPluginFake);
  hooks.wma.Set(nullptr);  // no WMA decoder here: loading fails
  hooks.uogg.Set(&UnloadPluginFake);
  hooks.uwma.Set(&UnloadPluginFake);

  TRef<TFileAccessor> show = MemoryShow({{u"codecs\\ogg.bin", "oggdata"}, {u"codecs\\wma.bin", "wmadata"}});
  auto ini = MakeRef<zm::TIniFile>();
  ini->WriteString(u"Main", u"opt_oggpath", u"codecs\\ogg.bin");
  ini->WriteString(u"Main", u"opt_wmapath", u"codecs\\wma.bin");

  // A show without the entries, or without options, prepares nothing.
  auto other = MakeRef<zm::TIniFile>();
  other->WriteString(u"Main", u"opt_oggpath", u"codecs\\absent.bin");
  PreparePlugins(show.get(), nullptr);
  PreparePlugins(nullptr, ini.get());
  PreparePlugins(show.get(), other.get());
  EXPECT_TRUE(gPluginLoads.empty());
  RemovePlugins();

  // The plug-ins' own names, never a file of the show.
  PreparePlugins(show.get(), ini.get());
  ASSERT_EQ(gPluginLoads.size(), 1u);
  EXPECT_EQ(gPluginLoads[0], u"oruogg.dll");
  EXPECT_EQ(OggPluginPath(), u"oruogg.dll");
  EXPECT_TRUE(WmaPluginPath().empty());
  EXPECT_TRUE(log->Has(u"WMA INITIALIZE FAILED"));
  EXPECT_FALSE(log->Has(u"OGG INITIALIZE FAILED"));

  // Once per process.
  PreparePlugins(show.get(), ini.get());
  EXPECT_EQ(gPluginLoads.size(), 1u);

  RemovePlugins();
  EXPECT_EQ(gPluginUnloads, 1);  // only the loaded one
  EXPECT_TRUE(OggPluginPath().empty());
  zm::SetLog(nullptr);
}

// The file a library of this system leaves when its constructor runs.
class TShowCodeMark {
public:
  explicit TShowCodeMark(const zmtest::TTempDir& dir) : path_(dir.Path() / "show-code-ran") {
    env_.Set("ZM_SHOW_CODE_RAN", path_.string());
  }
  bool Ran() const { return std::filesystem::exists(path_); }

private:
  std::filesystem::path path_;
  zmtest::TEnvGuard env_;
};

TEST(MusicPlugins, AShowsLibraryIsNeverWrittenOutNorLoaded) {
  TPluginHooks hooks;  // the decoder choice's own loading
  RemovePlugins();
  zmtest::TTempDir dir;
  TShowCodeMark mark(dir);
  std::ifstream in(ZM_SHOW_PLUGIN_CANARY, std::ios::binary);
  const std::string library((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(library.substr(1, 3), "ELF");

  // Under the plug-ins' names and under names of its own.
  TRef<TFileAccessor> show = MemoryShow({{u"oruogg.dll", library}, {u"codecs\\mine.so", library}});
  auto ini = MakeRef<zm::TIniFile>();
  ini->WriteString(u"Main", u"opt_oggpath", u"oruogg.dll");
  ini->WriteString(u"Main", u"opt_wmapath", u"codecs\\mine.so");
  PreparePlugins(show.get(), ini.get());
  EXPECT_EQ(OggPluginPath(), u"oruogg.dll");  // the program's own, beside it
  EXPECT_TRUE(zm::OggPlugin());
  RemovePlugins();
  EXPECT_FALSE(mark.Ran());

  // The library is what it claims: loaded by itself, its code runs.
  void* loaded = plat::LoadLibrary(ZM_SHOW_PLUGIN_CANARY);
  ASSERT_NE(loaded, nullptr);
  EXPECT_TRUE(mark.Ran());
  plat::FreeLibrary(loaded);
}

}  // namespace
}  // namespace oru
