#include "ZmLib/Graphics/FrameSource.h"

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <utility>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmHookScope.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;

namespace {

using zmtest::TCountedStream;

// A source of the test format: the bytes "TFS", then frame count, width
// and height (one byte each). It only opens; it has no frames to give.
class TTestFrameSource : public TFrameSource {
public:
  TTestFrameSource(TStream* stream, bool ownsStream) : stream_(stream), ownsStream_(ownsStream) {}
  void Dispose() override {
    if (ownsStream_) FreeAndNil(stream_);
    TFrameSource::Dispose();
  }
  bool Open() {
    std::uint8_t h[6] = {};
    if (!stream_ || stream_->Read(h) != 6 || h[0] != 'T' || h[1] != 'F' || h[2] != 'S' || h[4] == 0 || h[5] == 0)
      return false;
    Info.FrameCount = h[3];
    Info.Width = h[4];
    Info.Height = h[5];
    Info.CodecClass = u"OTHER";
    return true;
  }
  bool SeekFrame(std::int32_t) override { return false; }
  bool GetFrame(TYUVImage*) override { return false; }
  bool GetFrameBitmap(TBitmap*) override { return false; }

private:
  TStream* stream_;
  bool ownsStream_;
};

bool HasExt(const WideString& name, const WideString& ext) { return SameText(ExtractFileExt(name), ext); }

// Two kinds that chain into the hooks as modules do: kind 0 opens ".tfs" and
// refuses ".bad"; kind 1 opens ".tfb" (codec class "B") and refuses ".nob".
struct TKind {
  const char16_t *Opens, *Refuses;
  TCreateFrameSourceProc SavedCreate = nullptr;
  TAcceptFrameSourceProc SavedAccept = nullptr;
} gKinds[2] = {{u".tfs", u".bad"}, {u".tfb", u".nob"}};

template <int K>
TRef<TFrameSource> CreateKind(TStream* stream, bool ownsStream, const WideString& name, bool multiThread, bool hw) {
  if (HasExt(name, gKinds[K].Opens)) {
    TRef<TTestFrameSource> s = MakeRef<TTestFrameSource>(stream, ownsStream);
    if (!s->Open()) return nullptr;  // frees an owned stream with the source
    if (K == 1) s->Info.CodecClass = u"B";
    return s;
  }
  if (gKinds[K].SavedCreate) return gKinds[K].SavedCreate(stream, ownsStream, name, multiThread, hw);
  if (ownsStream) FreeObject(stream);
  return nullptr;
}
template <int K>
bool AcceptKind(const WideString& name) {
  return !HasExt(name, gKinds[K].Refuses) && (!gKinds[K].SavedAccept || gKinds[K].SavedAccept(name));
}
template <int K>
void InitKind() {
  gKinds[K].SavedCreate = std::exchange(CreateFrameSourceHook, &CreateKind<K>);
  gKinds[K].SavedAccept = std::exchange(AcceptFrameSourceHook, &AcceptKind<K>);
}
void FiniKind(int k) {
  CreateFrameSourceHook = gKinds[k].SavedCreate;
  AcceptFrameSourceHook = gKinds[k].SavedAccept;
}

TCountedStream* NewStream(int* disposed, std::uint8_t frames = 4, std::uint8_t w = 5, std::uint8_t h = 3) {
  auto* s = new TCountedStream(disposed);
  const std::uint8_t header[6] = {'T', 'F', 'S', frames, w, h};
  s->Write(header);
  s->SetPosition(0);
  return s;
}

// Installs kind 0 (and 1) for one test and takes them out again.
class FrameSourceFactory : public ::testing::Test {
protected:
  // The kinds the modules installed (the GIF source) step aside meanwhile.
  void SetUp() override {
    create_.Set(nullptr);
    accept_.Set(nullptr);
  }
  void TearDown() override {
    for (int k = installed_ - 1; k >= 0; --k) FiniKind(k);
    EXPECT_EQ(CreateFrameSourceHook, nullptr);
    EXPECT_EQ(AcceptFrameSourceHook, nullptr);
    create_.Restore();
    accept_.Restore();
  }
  void Install(int kinds) {
    if (kinds > 0) InitKind<0>();
    if (kinds > 1) InitKind<1>();
    installed_ = kinds;
  }

private:
  int installed_ = 0;
  zm::THookScope<TCreateFrameSourceProc> create_{CreateFrameSourceHook};
  zm::THookScope<TAcceptFrameSourceProc> accept_{AcceptFrameSourceHook};
};

}  // namespace

TEST_F(FrameSourceFactory, WithNothingInstalledEveryRequestYieldsNil) {
  int disposed = 0;
  TCountedStream* kept = NewStream(&disposed);
  EXPECT_FALSE(CreateFrameSource(kept, false, u"clip.tfs", true, false));
  EXPECT_EQ(disposed, 0);  // a stream not handed over stays the caller's
  kept->Free();
  disposed = 0;
  // A stream handed over is gone with the nil answer.
  EXPECT_FALSE(CreateFrameSource(NewStream(&disposed), true, u"clip.tfs", true, false));
  EXPECT_EQ(disposed, 1);
  EXPECT_FALSE(CreateFrameSource(nullptr, true, u"clip.tfs", true, false));
}

TEST_F(FrameSourceFactory, EveryNilAnswerFreesAnOwnedStreamOnce) {
  Install(1);
  int disposed = 0;
  // A refused name, a damaged header of a known kind, a kind nobody handles.
  for (const char16_t* name : {u"C:\\show\\clip.BAD", u"clip.tfs", u"clip.xyz"}) {
    disposed = 0;
    EXPECT_FALSE(CreateFrameSource(NewStream(&disposed, 4, 0, 3), true, name, false, false));
    EXPECT_EQ(disposed, 1);
  }
  disposed = 0;
  TCountedStream* kept = NewStream(&disposed);
  EXPECT_FALSE(CreateFrameSource(kept, false, u"clip.bad", false, false));
  EXPECT_EQ(disposed, 0);
  kept->Free();
}

TEST_F(FrameSourceFactory, AcceptedFileGivesAnOpenSource) {
  Install(1);
  int disposed = 0;
  TRef<TFrameSource> s = CreateFrameSource(NewStream(&disposed, 4, 5, 3), true, u"clip.tfs", true, true);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Info.Width, 5);
  EXPECT_FALSE(s->UsesHardware());
  TRef<TList> list(s->List());
  EXPECT_EQ(disposed, 0);
  s = nullptr;
  EXPECT_EQ(disposed, 1);  // the source kept the stream until it went
  EXPECT_EQ(list->RefCount(), 1);  // and released its list
}

TEST_F(FrameSourceFactory, KindsChainAndFinalisationRestores) {
  Install(2);
  int disposed = 0;
  EXPECT_EQ(CreateFrameSource(NewStream(&disposed), true, u"x.tfb", false, false)->Info.CodecClass, u"B");
  // passed on by kind 1 to kind 0
  EXPECT_EQ(CreateFrameSource(NewStream(&disposed), true, u"x.TFS", false, false)->Info.CodecClass, u"OTHER");
  // each refusal is heard through the chain
  EXPECT_FALSE(CreateFrameSource(NewStream(&disposed), true, u"x.nob", false, false));
  EXPECT_FALSE(CreateFrameSource(NewStream(&disposed), true, u"x.bad", false, false));
  EXPECT_EQ(disposed, 4);
  FiniKind(1);
  EXPECT_EQ(CreateFrameSourceHook, &CreateKind<0>);
  EXPECT_FALSE(CreateFrameSource(NewStream(&disposed), true, u"x.tfb", false, false));
  EXPECT_EQ(disposed, 5);
  InitKind<1>();  // back for TearDown
}

TEST_F(FrameSourceFactory, AcceptanceHookThatRaisesStillFreesTheStream) {
  Install(1);
  zm::THookScope accept(AcceptFrameSourceHook, [](const WideString&) -> bool { throw std::runtime_error("broken"); });
  int disposed = 0;
  EXPECT_THROW(CreateFrameSource(NewStream(&disposed), true, u"x.tfs", false, false), std::runtime_error);
  EXPECT_EQ(disposed, 1);
}

namespace {
class TBareYUV : public TYUVImage {
public:
  TBareYUV(std::int32_t w, std::int32_t h, bool gray, bool rgba) : TYUVImage(w, h) {
    SetGrayScale(gray);
    SetRGBA(rgba);
  }
  TRef<TBitmap> LockPlane(std::int32_t) override { return nullptr; }
  bool UnlockPlane(std::int32_t, TRef<TBitmap>&) override { return false; }
  void Commit() override {}
};
}  // namespace

TEST(YUVImage, PlanesOfEachLayout) {
  TRef<TBareYUV> yuv = MakeRef<TBareYUV>(5, 3, false, false);
  EXPECT_EQ(yuv->PackedPlane(), -1);
  EXPECT_EQ(yuv->PlaneSize(2), (TPoint{3, 2}));  // halves rounded up
  for (int i : {-1, 3, 4, 5}) {
    EXPECT_FALSE(yuv->HasPlane(i)) << i;
    EXPECT_EQ(yuv->PlaneSize(i), TPoint{}) << i;
  }
  TRef<TBareYUV> rgba = MakeRef<TBareYUV>(5, 3, false, true);
  EXPECT_EQ(rgba->PackedPlane(), 4);
  EXPECT_FALSE(rgba->HasPlane(0));
  EXPECT_EQ(MakeRef<TBareYUV>(4, 4, true, false)->PackedPlane(), 3);
  EXPECT_EQ(MakeRef<TBareYUV>(4, 4, true, true)->PackedPlane(), 4);  // the layout flag wins
  // Sizes below 0 are 0; the largest sizes halve without overflow.
  TRef<TBareYUV> odd = MakeRef<TBareYUV>(-4, INT_MAX, false, false);
  EXPECT_EQ(odd->Width(), 0);
  EXPECT_EQ(odd->PlaneSize(1), (TPoint{0, INT_MAX / 2 + 1}));
}
