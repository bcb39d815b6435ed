#include "ZmLib/Graphics/Video/FrameSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpUnicode.h"

using namespace zm;

namespace {

// A memory stream that counts its disposals.
class TCountedStream : public TMemoryStream {
public:
  explicit TCountedStream(int* disposed) : disposed_(disposed) {}
  void Dispose() override {
    ++*disposed_;
    TMemoryStream::Dispose();
  }

private:
  int* disposed_;
};

// A picture held as bitmaps: Y, U and V of "Y8", or one "A8R8G8B8" plane.
class TTestYUVImage : public TYUVImage {
public:
  TTestYUVImage(std::int32_t w, std::int32_t h, bool rgba) : TYUVImage(w, h) {
    SetRGBA(rgba);
    for (std::int32_t i = 0; i <= 4; ++i)
      if (HasPlane(i)) {
        const TPoint s = PlaneSize(i);
        planes_[i] = CreateSysBitmap(s.X, s.Y, FindPixelFormat(rgba ? PF_A8R8G8B8 : PF_Y8));
      }
  }
  void Dispose() override {
    for (auto& p : planes_) p = nullptr;
    TYUVImage::Dispose();
  }
  TRef<TBitmap> LockPlane(std::int32_t index) override {
    Enter();
    TRef<TBitmap> p = HasPlane(index) ? TRef<TBitmap>(planes_[index]) : nullptr;
    Leave();
    return p;
  }
  bool UnlockPlane(std::int32_t index, TRef<TBitmap>& plane) override {
    Enter();
    const bool ok = HasPlane(index) && plane.get() == planes_[index].get();
    plane = nullptr;
    Leave();
    return ok;
  }
  void Commit() override {
    Enter();
    ++Commits;
    Leave();
  }
  TSysBitmap* Plane(int i) const { return planes_[i].get(); }

  int Commits = 0;

private:
  TRef<TSysBitmap> planes_[5];
};

// A source of the test format: the bytes "TFS", then frame count, width
// and height (one byte each). Frame i has luma 10 * i and grey chroma.
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
    Info.FrameRate = 25;
    Info.CodecClass = u"OTHER";
    return true;
  }
  bool SeekFrame(std::int32_t index) override {
    if (index < 0 || index >= Info.FrameCount) return false;
    current_ = index;
    return true;
  }
  bool GetFrame(TYUVImage* image) override {
    if (!image || image->Width() < Info.Width || image->Height() < Info.Height) return false;
    const std::uint8_t luma = std::uint8_t(10 * current_);
    if (image->PackedPlane() == 4) {
      TRef<TBitmap> p = image->LockPlane(4);
      if (!p) return false;
      static_cast<TSysBitmap*>(p.get())->FillRect({0, 0, Info.Width, Info.Height},
                                                  TColor32{luma, luma, luma, 255});
      image->UnlockPlane(4, p);
    } else {
      for (std::int32_t i = 0; i <= 2; ++i) {
        TRef<TBitmap> p = image->LockPlane(i);
        if (!p) return false;
        auto* plane = static_cast<TSysBitmap*>(p.get());
        for (std::int32_t y = 0; y < plane->Height(); ++y)
          std::fill_n(plane->Row8(y), plane->Width(), i == 0 ? luma : std::uint8_t(128));
        image->UnlockPlane(i, p);
      }
    }
    image->Commit();
    return true;
  }
  bool GetFrameBitmap(TBitmap* bitmap) override {
    auto* b = dynamic_cast<TSysBitmap*>(bitmap);
    if (!b || b->BytesPerPixel() != 3) return false;
    const std::uint8_t luma = std::uint8_t(10 * current_);
    b->FillRect({0, 0, Info.Width, Info.Height}, TColor32{luma, luma, luma, 255});
    return true;
  }

  TStream* Stream() const { return stream_; }

private:
  TStream* stream_;
  bool ownsStream_;
  std::int32_t current_ = 0;
};

bool HasExt(const WideString& name, const WideString& ext) { return SameText(ExtractFileExt(name), ext); }

// Two kinds that chain into the hooks as modules do: kind A opens ".tfs"
// and refuses ".bad"; kind B opens ".tfb" and refuses ".nob".
TCreateFrameSourceProc gSavedCreateA = nullptr, gSavedCreateB = nullptr;
TAcceptFrameSourceProc gSavedAcceptA = nullptr, gSavedAcceptB = nullptr;

TRef<TFrameSource> OpenTest(TStream* stream, bool ownsStream) {
  TRef<TTestFrameSource> s = MakeRef<TTestFrameSource>(stream, ownsStream);
  if (!s->Open()) return nullptr;  // frees an owned stream with the source
  return s;
}

TRef<TFrameSource> PassOn(TCreateFrameSourceProc previous, TStream* stream, bool ownsStream, const WideString& name,
                          bool multiThread, bool useHardware) {
  if (previous) return previous(stream, ownsStream, name, multiThread, useHardware);
  if (ownsStream) FreeObject(stream);
  return nullptr;
}

TRef<TFrameSource> CreateA(TStream* stream, bool ownsStream, const WideString& name, bool multiThread, bool hw) {
  if (HasExt(name, u".tfs")) return OpenTest(stream, ownsStream);
  return PassOn(gSavedCreateA, stream, ownsStream, name, multiThread, hw);
}
TRef<TFrameSource> CreateB(TStream* stream, bool ownsStream, const WideString& name, bool multiThread, bool hw) {
  if (HasExt(name, u".tfb")) {
    TRef<TFrameSource> s = OpenTest(stream, ownsStream);
    if (s) s->Info.CodecClass = u"B";
    return s;
  }
  return PassOn(gSavedCreateB, stream, ownsStream, name, multiThread, hw);
}
bool AcceptA(const WideString& name) {
  if (HasExt(name, u".bad")) return false;
  return gSavedAcceptA ? gSavedAcceptA(name) : true;
}
bool AcceptB(const WideString& name) {
  if (HasExt(name, u".nob")) return false;
  return gSavedAcceptB ? gSavedAcceptB(name) : true;
}

void InitKindA() {
  gSavedCreateA = CreateFrameSourceHook;
  CreateFrameSourceHook = &CreateA;
  gSavedAcceptA = AcceptFrameSourceHook;
  AcceptFrameSourceHook = &AcceptA;
}
void FiniKindA() {
  CreateFrameSourceHook = gSavedCreateA;
  AcceptFrameSourceHook = gSavedAcceptA;
}
void InitKindB() {
  gSavedCreateB = CreateFrameSourceHook;
  CreateFrameSourceHook = &CreateB;
  gSavedAcceptB = AcceptFrameSourceHook;
  AcceptFrameSourceHook = &AcceptB;
}
void FiniKindB() {
  CreateFrameSourceHook = gSavedCreateB;
  AcceptFrameSourceHook = gSavedAcceptB;
}

TCountedStream* NewStream(int* disposed, std::uint8_t frames = 4, std::uint8_t w = 5, std::uint8_t h = 3) {
  auto* s = new TCountedStream(disposed);
  const std::uint8_t header[6] = {'T', 'F', 'S', frames, w, h};
  s->Write(header);
  s->SetPosition(0);
  return s;
}

// Installs kind A (and B) for one test and takes them out again.
class FrameSourceFactory : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(CreateFrameSourceHook, nullptr);
    ASSERT_EQ(AcceptFrameSourceHook, nullptr);
  }
  void TearDown() override {
    if (b_) FiniKindB();
    if (a_) FiniKindA();
    EXPECT_EQ(CreateFrameSourceHook, nullptr);
    EXPECT_EQ(AcceptFrameSourceHook, nullptr);
  }
  void InstallA() {
    InitKindA();
    a_ = true;
  }
  void InstallB() {
    InitKindB();
    b_ = true;
  }

private:
  bool a_ = false, b_ = false;
};

}  // namespace

TEST_F(FrameSourceFactory, WithNothingInstalledEveryRequestYieldsNil) {
  int disposed = 0;
  TCountedStream* kept = NewStream(&disposed);
  EXPECT_FALSE(CreateFrameSource(kept, false, u"clip.tfs", true, false));
  EXPECT_EQ(disposed, 0);  // a stream not handed over stays the caller's
  EXPECT_EQ(kept->RefCount(), 1);
  kept->Free();
  disposed = 0;
  // A stream handed over is gone with the nil answer.
  EXPECT_FALSE(CreateFrameSource(NewStream(&disposed), true, u"clip.tfs", true, false));
  EXPECT_EQ(disposed, 1);
  EXPECT_FALSE(CreateFrameSource(nullptr, true, u"clip.tfs", true, false));
}

TEST_F(FrameSourceFactory, RefusedNameFreesAnOwnedStreamOnce) {
  InstallA();
  int disposed = 0;
  EXPECT_FALSE(CreateFrameSource(NewStream(&disposed), true, u"C:\\show\\clip.BAD", false, false));
  EXPECT_EQ(disposed, 1);
  disposed = 0;
  TCountedStream* kept = NewStream(&disposed);
  EXPECT_FALSE(CreateFrameSource(kept, false, u"clip.bad", false, false));
  EXPECT_EQ(disposed, 0);
  kept->Free();
}

TEST_F(FrameSourceFactory, AcceptedFileGivesAnOpenSource) {
  InstallA();
  int disposed = 0;
  TRef<TFrameSource> s = CreateFrameSource(NewStream(&disposed, 4, 5, 3), true, u"clip.tfs", true, true);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Info.FrameCount, 4);
  EXPECT_EQ(s->Info.Width, 5);
  EXPECT_EQ(s->Info.Height, 3);
  EXPECT_EQ(s->Info.Reserved, 0);
  EXPECT_FALSE(s->UsesHardware());
  const TFrameSourceInfo copy = s->Info;  // the extractor keeps a copy
  EXPECT_EQ(copy.CodecClass, u"OTHER");
  TRef<TList> list(s->List());
  ASSERT_TRUE(list);
  EXPECT_EQ(list->RefCount(), 2);
  EXPECT_EQ(disposed, 0);
  s = nullptr;
  EXPECT_EQ(disposed, 1);  // the source kept the stream until it went
  EXPECT_EQ(list->RefCount(), 1);  // and released its list
}

TEST_F(FrameSourceFactory, NilFromTheFactoryFreesAnOwnedStreamOnce) {
  InstallA();
  int disposed = 0;
  // damaged header of a known kind
  EXPECT_FALSE(CreateFrameSource(NewStream(&disposed, 4, 0, 3), true, u"clip.tfs", false, false));
  EXPECT_EQ(disposed, 1);
  // a kind nobody handles
  disposed = 0;
  EXPECT_FALSE(CreateFrameSource(NewStream(&disposed), true, u"clip.xyz", false, false));
  EXPECT_EQ(disposed, 1);
}

TEST_F(FrameSourceFactory, KindsChainAndFinalisationRestores) {
  InstallA();
  InstallB();
  int disposed = 0;
  TRef<TFrameSource> b = CreateFrameSource(NewStream(&disposed), true, u"x.tfb", false, false);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Info.CodecClass, u"B");
  TRef<TFrameSource> a = CreateFrameSource(NewStream(&disposed), true, u"x.TFS", false, false);
  ASSERT_TRUE(a);  // passed on by B to A
  EXPECT_EQ(a->Info.CodecClass, u"OTHER");
  // each refusal is heard through the chain
  EXPECT_FALSE(CreateFrameSource(NewStream(&disposed), true, u"x.nob", false, false));
  EXPECT_FALSE(CreateFrameSource(NewStream(&disposed), true, u"x.bad", false, false));
  EXPECT_EQ(disposed, 2);

  FiniKindB();
  EXPECT_EQ(CreateFrameSourceHook, &CreateA);
  EXPECT_EQ(AcceptFrameSourceHook, &AcceptA);
  EXPECT_FALSE(CreateFrameSource(NewStream(&disposed), true, u"x.tfb", false, false));
  EXPECT_EQ(disposed, 3);
  InitKindB();  // back for TearDown
}

TEST_F(FrameSourceFactory, AcceptanceHookThatRaisesStillFreesTheStream) {
  InstallA();
  TAcceptFrameSourceProc saved = AcceptFrameSourceHook;
  AcceptFrameSourceHook = [](const WideString&) -> bool { throw std::runtime_error("broken"); };
  int disposed = 0;
  EXPECT_THROW(CreateFrameSource(NewStream(&disposed), true, u"x.tfs", false, false), std::runtime_error);
  EXPECT_EQ(disposed, 1);
  AcceptFrameSourceHook = saved;
}

TEST(YUVImage, PlanesOfEachLayout) {
  TRef<TTestYUVImage> yuv = MakeRef<TTestYUVImage>(5, 3, false);
  EXPECT_EQ(yuv->PackedPlane(), -1);
  EXPECT_EQ(yuv->PlaneSize(0), (TPoint{5, 3}));
  EXPECT_EQ(yuv->PlaneSize(1), (TPoint{3, 2}));  // halves rounded up
  EXPECT_EQ(yuv->PlaneSize(2), (TPoint{3, 2}));
  for (int i : {-1, 3, 4, 5}) {
    EXPECT_FALSE(yuv->HasPlane(i)) << i;
    EXPECT_EQ(yuv->PlaneSize(i), TPoint{}) << i;
    EXPECT_FALSE(yuv->LockPlane(i)) << i;
  }

  TRef<TTestYUVImage> rgba = MakeRef<TTestYUVImage>(5, 3, true);
  EXPECT_EQ(rgba->PackedPlane(), 4);
  EXPECT_TRUE(rgba->HasPlane(4));
  EXPECT_FALSE(rgba->HasPlane(0));
  EXPECT_EQ(rgba->PlaneSize(4), (TPoint{5, 3}));

  class TGray : public TTestYUVImage {
  public:
    TGray(bool alsoRgba) : TTestYUVImage(4, 4, false) {
      SetGrayScale(true);
      SetRGBA(alsoRgba);
    }
  };
  EXPECT_EQ(MakeRef<TGray>(false)->PackedPlane(), 3);
  EXPECT_EQ(MakeRef<TGray>(true)->PackedPlane(), 4);  // the layout flag wins

  // sizes below 0 are 0; the largest sizes halve without overflow
  class TBare : public TYUVImage {
  public:
    using TYUVImage::TYUVImage;
    TRef<TBitmap> LockPlane(std::int32_t) override { return nullptr; }
    bool UnlockPlane(std::int32_t, TRef<TBitmap>&) override { return false; }
    void Commit() override {}
  };
  TRef<TBare> odd = MakeRef<TBare>(-4, INT_MAX);
  EXPECT_EQ(odd->Width(), 0);
  EXPECT_EQ(odd->PlaneSize(1), (TPoint{0, INT_MAX / 2 + 1}));
}

TEST(FrameSource, GetFrameFillsThePlanesAndCommits) {
  int disposed = 0;
  TRef<TTestFrameSource> s = MakeRef<TTestFrameSource>(NewStream(&disposed, 4, 5, 3), true);
  ASSERT_TRUE(s->Open());
  TRef<TTestYUVImage> yuv = MakeRef<TTestYUVImage>(5, 3, false);
  ASSERT_TRUE(s->SeekFrame(2));
  ASSERT_TRUE(s->GetFrame(yuv.get()));
  EXPECT_EQ(yuv->Commits, 1);
  EXPECT_EQ(yuv->Plane(0)->Row8(2)[4], 20);
  EXPECT_EQ(yuv->Plane(1)->Row8(1)[2], 128);
  EXPECT_EQ(yuv->HoldCount(), 0);  // every plane went back

  TRef<TTestYUVImage> rgba = MakeRef<TTestYUVImage>(5, 3, true);
  ASSERT_TRUE(s->SeekFrame(3));
  ASSERT_TRUE(s->GetFrame(rgba.get()));
  EXPECT_EQ(rgba->Plane(4)->Row32(0)[0], 0xFF1E1E1Eu);

  // out of range, or a picture too small: false, nothing committed
  EXPECT_FALSE(s->SeekFrame(4));
  EXPECT_FALSE(s->SeekFrame(-1));
  TRef<TTestYUVImage> small = MakeRef<TTestYUVImage>(4, 3, false);
  EXPECT_FALSE(s->GetFrame(small.get()));
  EXPECT_EQ(small->Commits, 0);

  TRef<TSysBitmap> bmp = CreateSysBitmap(5, 3, FindPixelFormat(PF_R8G8B8));
  EXPECT_TRUE(s->GetFrameBitmap(bmp.get()));
  EXPECT_EQ(bmp->Row24(2)[4], (TColor24{30, 30, 30}));
}
