#include "ZmLib/Music/zmAudioStreams.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ZmLib/zmHookScope.h"
#include "tests/support/TempDir.h"

using namespace zm;

namespace {

template <class F>
std::string AssertionOf(F f) {
  try {
    f();
  } catch (const EAbort& e) {
    return e.Message();
  }
  return "(no assertion)";
}
bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// A stream of n bytes whose byte i is i mod 251.
TStream* Counting(std::int32_t n) {
  auto s = MakeRef<TMemoryStream>();
  std::vector<std::uint8_t> b(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) b[std::size_t(i)] = std::uint8_t(i % 251);
  s->Write(b);
  s->SetPosition(0);
  return s.Detach();
}

struct TOpenLog {
  explicit TOpenLog(TStream* a) : answer(a) {}
  TStream* answer = nullptr;
  void* context = nullptr;
  WideString name;
  int closes = 0;
};
TStream* OpenProc(void* data, void* context, const WideString& name) {
  auto* log = static_cast<TOpenLog*>(data);
  log->context = context;
  log->name = name;
  return log->answer;
}
void CloseProc(void* data, void*, TStream* s) {
  ++static_cast<TOpenLog*>(data)->closes;
  s->Free();
}

}  // namespace

TEST(AudioStreams, ShiftedViewHidesTheBytesBeforeTheShift) {
  TStreamWrapperClass* w = StreamWrapper();
  TOpenLog log{Counting(1000)};
  int ctx = 0;
  TStream* s = w->OpenShifted(&ctx, u"a.mp3", 100, OpenProc, &log);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(log.context, &ctx);
  EXPECT_EQ(w->GetSize(s), 900);
  EXPECT_EQ(w->GetPosition(s), 0);
  std::uint8_t b[2] = {};
  EXPECT_EQ(w->Read(s, b, 2), 2);
  EXPECT_EQ(b[0], 100);
  // Seeks stay within the view: before its start clamps to byte 100.
  EXPECT_EQ(w->Seek(s, 2, 10), 890);
  EXPECT_EQ(w->Seek(s, 1, -5000), 0);
  EXPECT_EQ(w->Read(s, b, 1), 1);
  EXPECT_EQ(b[0], 100);
  EXPECT_TRUE(Contains(AssertionOf([&] { s->SetSize(10); }), "not supported"));
  // Closing the view closes the inner stream through the procedure once.
  w->Close(&ctx, s, CloseProc, &log);
  EXPECT_EQ(log.closes, 1);

  // A shift beyond the inner stream gives an empty view, not a negative size.
  TOpenLog small{Counting(10)};
  s = w->OpenShifted(nullptr, u"b", 50, OpenProc, &small);
  EXPECT_EQ(w->GetSize(s), 0);
  EXPECT_EQ(w->Read(s, b, 2), 0);
  w->Close(nullptr, s, nullptr, nullptr);  // no procedure: destroyed
  EXPECT_EQ(small.closes, 0);
}

TEST(AudioStreams, SeekOriginsAndBadInput) {
  TStreamWrapperClass* w = StreamWrapper();
  TStream* s = Counting(1000);
  EXPECT_EQ(w->Seek(s, 0, 300), 300);
  EXPECT_EQ(w->Seek(s, 1, 20), 320);
  EXPECT_EQ(w->Seek(s, 2, 10), 990);
  EXPECT_EQ(w->Seek(s, 0, -1), 0);
  EXPECT_TRUE(Contains(AssertionOf([&] { w->Seek(s, 3, 0); }), "origin"));
  EXPECT_TRUE(Contains(AssertionOf([&] { w->Seek(s, -1, 0); }), "origin"));
  std::uint8_t b[4];
  EXPECT_EQ(w->Read(s, b, -4), 0);
  EXPECT_EQ(w->Read(s, nullptr, 4), 0);
  EXPECT_EQ(w->Read(nullptr, b, 4), 0);
  EXPECT_EQ(w->GetSize(nullptr), -1);
  EXPECT_EQ(w->Seek(nullptr, 0, 0), -1);
  w->Close(nullptr, nullptr, nullptr, nullptr);
  w->Close(nullptr, s, nullptr, nullptr);
}

TEST(AudioStreams, OpenByNameCutsTheSuffixAndHonoursTheCompositeHook) {
  zmtest::TTempDir dir;
  dir.Write("song.mp3", "ID3xyz");
  TStreamWrapperClass* w = StreamWrapper();
  const WideString name = dir.Wide("song.mp3");

  // Small procedure values mean "none": the file is opened by name.
  TStream* s = w->Open(nullptr, name + u"?track=2", reinterpret_cast<TStreamOpenProc>(std::uintptr_t(1)), nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(w->GetSize(s), 6);
  w->Close(nullptr, s, nullptr, nullptr);

  EXPECT_EQ(w->Open(nullptr, dir.Wide("missing.mp3"), nullptr, nullptr), nullptr);
  EXPECT_EQ(w->Open(nullptr, u"", nullptr, nullptr), nullptr);
  EXPECT_EQ(w->Open(nullptr, u"?", nullptr, nullptr), nullptr);
  EXPECT_EQ(w->OpenShifted(nullptr, dir.Wide("missing.mp3"), 10, nullptr, nullptr), nullptr);

  zm::THookScope isComposite(IsCompositeTrackHook, [](const WideString&) { return true; });
  EXPECT_EQ(w->Open(nullptr, name, nullptr, nullptr), nullptr);
  isComposite.Restore();

  // A procedure gets the whole name, suffix included.
  TOpenLog log{Counting(4)};
  s = w->Open(nullptr, u"x.ogg?1", OpenProc, &log);
  EXPECT_EQ(log.name, u"x.ogg?1");
  w->Close(nullptr, s, CloseProc, &log);
  EXPECT_EQ(log.closes, 1);
}

TEST(AudioStreams, CallbacksGuardHugeReadsAndTakeOffsetBeforeOrigin) {
  const TStreamCallbacks& cb = StreamCallbacks();
  TStream* s = Counting(1000);
  std::uint8_t b[8] = {};
  EXPECT_TRUE(Contains(AssertionOf([&] { cb.Read64(s, b, 0x6400001); }), "Too many"));
  EXPECT_TRUE(Contains(AssertionOf([&] { cb.Read64(s, b, std::int64_t(1) << 32); }), "Too many"));
  EXPECT_EQ(cb.Seek(s, 10, 2), 990);
  EXPECT_EQ(cb.Seek64(s, 5, 1), 995);
  EXPECT_EQ(cb.Read64(s, b, 8), 5);
  EXPECT_EQ(b[0], 995 % 251);
  EXPECT_EQ(cb.GetPosition(s), 1000);
  EXPECT_EQ(cb.GetSize64(s), 1000);
  EXPECT_EQ(cb.Read(s, b, 8), 0);
  s->Free();
}

// Threads reading one shared stream: the lock keeps every read whole, so
// each word of the stream is read exactly once.
TEST(AudioStreams, ConcurrentReadsOfOneStreamAreSerialised) {
  constexpr std::uint32_t kWords = 16 * 1024;
  auto m = MakeRef<TMemoryStream>();
  for (std::uint32_t i = 0; i < kWords; ++i) m->WriteInteger(std::int32_t(i));
  m->SetPosition(0);
  std::vector<std::atomic<int>> seen(kWords);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      std::uint32_t b[9];
      for (;;) {
        const std::int32_t n = StreamWrapper()->Read(m.get(), b, sizeof b);
        if (n <= 0) break;
        for (std::int32_t i = 0; i < n / 4; ++i) {
          if (b[i] < kWords) seen[b[i]].fetch_add(1);
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  int wrong = 0;
  for (auto& c : seen) wrong += c.load() != 1;
  EXPECT_EQ(wrong, 0);
}

TEST(LocalBuffer, GrowAppendConsumeAndFill) {
  auto a = MakeRef<TLocalBuffer>();
  EXPECT_EQ(a->FreeSpace(), 0);
  a->Grow(10);
  EXPECT_EQ(a->Capacity(), 10);
  a->Grow(-5);
  EXPECT_EQ(a->Capacity(), 10);
  a->EnsureFree(4);
  EXPECT_EQ(a->Capacity(), 10);

  TStream* s = Counting(100);
  // Up to the end position, at most the free space.
  EXPECT_TRUE(a->FillFromStream(s, 6));
  EXPECT_EQ(a->Length(), 6);
  EXPECT_TRUE(a->FillFromStream(s, 100));
  EXPECT_EQ(a->Length(), 10);
  EXPECT_FALSE(a->FillFromStream(s, 100));  // full
  a->EnsureFree(5);
  EXPECT_EQ(a->Capacity(), 15);
  EXPECT_FALSE(a->FillFromStream(s, 10));  // already past the end
  EXPECT_FALSE(a->FillFromStream(nullptr, 100));

  a->Consume(3);
  EXPECT_EQ(a->Length(), 7);
  EXPECT_EQ(a->Data()[0], 3);
  EXPECT_EQ(a->Data()[6], 9);
  a->Consume(-1);
  EXPECT_EQ(a->Length(), 7);

  auto b = MakeRef<TLocalBuffer>();
  b->Grow(9);
  std::fill(b->WritePointer(), b->WritePointer() + 9, std::uint8_t(0xEE));
  b->AddLength(9);
  // 9 bytes do not fit into 8 free: nothing moves.
  EXPECT_TRUE(Contains(AssertionOf([&] { a->Append(*b); }), "Buffer overrun"));
  EXPECT_EQ(a->Length(), 7);
  EXPECT_EQ(b->Length(), 9);
  b->Consume(1);
  a->Append(*b);
  EXPECT_EQ(a->Length(), 15);
  EXPECT_EQ(b->Length(), 0);
  EXPECT_EQ(a->Data()[7], 0xEE);
  EXPECT_TRUE(Contains(AssertionOf([&] { a->Append(*a); }), "Buffer overrun"));
  EXPECT_TRUE(Contains(AssertionOf([&] { a->AddLength(1); }), "Buffer overrun"));

  a->Consume(1000);
  EXPECT_EQ(a->Length(), 0);
  EXPECT_EQ(a->FreeSpace(), 15);
  s->Free();
}
