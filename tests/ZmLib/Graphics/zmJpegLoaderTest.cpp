#include "ZmLib/Graphics/zmJpegLoader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmJpegICCExtractor.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/zmLog.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"
#include "tests/support/Capture.h"
#include "tests/support/kit/JpegWriter.h"
#include "tests/support/kit/StreamBytes.h"
#include "tests/support/kit/TempFolder.h"

using namespace zm;
using zmtest::IccChunk;
using zmtest::TJpegKind;
using zmtest::TJpegOptions;
using zmtest::WriteJpeg;

namespace {

TRef<TBitmapStore> Load(const std::string& bytes, const WideString& name = u"pic.jpg",
                        const TImageLoadHandler& handler = {}) {
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(bytes);
  return LoadBitmapStore(s.get(), name, false, handler);
}

TSysBitmap* Level(TBitmapStore* store, std::int32_t level) {
  return dynamic_cast<TSysBitmap*>(store->GetMipLevel(level, nullptr, nullptr));
}

// The B, G, R bytes of pixel (x, y).
TColor24 PixelAt(TSysBitmap* b, std::int32_t x, std::int32_t y) { return b->Row24(y)[x]; }

bool Near(TColor24 a, TColor24 b, int tolerance) {
  return std::abs(a.B - b.B) <= tolerance && std::abs(a.G - b.G) <= tolerance && std::abs(a.R - b.R) <= tolerance;
}

// Left half red, right half blue (R, G, B components).
TJpegOptions TwoColours(int w, int h) {
  TJpegOptions s;
  s.Width = w;
  s.Height = h;
  s.Pixel = [w](int x, int, std::uint8_t* c) {
    c[0] = x < w / 2 ? 220 : 20;
    c[1] = 30;
    c[2] = x < w / 2 ? 20 : 200;
  };
  return s;
}

std::string Profile(TColorProfile* p) { return std::string(p->Data().begin(), p->Data().end()); }

// Sets the SOF's height and width.
std::string WithSize(std::string jpeg, int width, int height) {
  const int at = zmtest::SofSizeOffset(jpeg);
  jpeg[std::size_t(at)] = char(height >> 8);
  jpeg[std::size_t(at + 1)] = char(height);
  jpeg[std::size_t(at + 2)] = char(width >> 8);
  jpeg[std::size_t(at + 3)] = char(width);
  return jpeg;
}

// A stream that promises more bytes than it gives.
class TShortStream : public TMemoryStream {
public:
  std::int64_t GetSize() override { return TMemoryStream::GetSize() + 100; }
};

// Installs a log that writes to the debugger output for the test's life.
class TLogToDebug {
public:
  TLogToDebug() { SetLog(new TStdLog); }
  ~TLogToDebug() { SetLog(nullptr); }
  zmtest::TDebugCapture Capture;
};

}  // namespace

TEST(JpegLoader, ColourPicturesDecodeAtEveryLevel) {
  TRef<TBitmapStore> store = Load(WriteJpeg(TwoColours(64, 48)));
  ASSERT_TRUE(store);
  EXPECT_FALSE(store->ColorProfile);
  EXPECT_TRUE(Near(PixelAt(Level(store.get(), 0), 60, 40), TColor24{200, 30, 20}, 8));  // blue, as B, G, R
  const TPoint sizes[] = {{64, 48}, {32, 24}, {16, 12}, {8, 6}, {4, 3}, {2, 2}};
  for (int level = 0; level < 6; ++level) {
    TSysBitmap* b = Level(store.get(), level);
    EXPECT_EQ(b->Size(), sizes[level]) << level;
    // Levels 0 to 3 come from libjpeg's scaling, deeper ones from halving.
    EXPECT_EQ(dynamic_cast<TDibBitmap*>(b) != nullptr, level <= 3) << level;
    EXPECT_TRUE(Near(PixelAt(b, 0, 0), TColor24{20, 30, 220}, 12)) << level;  // red
  }
  EXPECT_EQ(Level(store.get(), 2), Level(store.get(), 2));  // made once
}

TEST(JpegLoader, LargePictureAtQuarterScaleDecodesOnlyThatSize) {
  TJpegOptions opts;
  opts.Width = 4000;
  opts.Height = 3000;
  opts.Quality = 50;
  TRef<TBitmapStore> store = Load(WriteJpeg(opts));
  ASSERT_TRUE(store);
  EXPECT_EQ(Level(store.get(), 2)->Size(), (TPoint{1000, 750}));
  EXPECT_EQ(store->LevelBitmapCount(0), 0);  // the full picture was never decoded
  TSysBitmap* l4 = Level(store.get(), 4);
  EXPECT_EQ(l4->Size(), (TPoint{250, 188}));
  EXPECT_FALSE(dynamic_cast<TDibBitmap*>(l4));  // halved from level 3
}

TEST(JpegLoader, GreyPicturesGoThroughThePalette) {
  TJpegOptions opts;
  opts.Kind = TJpegKind::Grey;
  opts.Width = 256;
  opts.Height = 8;
  opts.Pixel = [](int x, int, std::uint8_t* c) { c[0] = std::uint8_t(x); };
  TRef<TBitmapStore> store = Load(WriteJpeg(opts));
  ASSERT_TRUE(store);
  TSysBitmap* l0 = Level(store.get(), 0);
  EXPECT_EQ(l0->PixelFormat(), pfR8G8B8);
  EXPECT_EQ(static_cast<TJpegBitmapStore*>(store.get())->Jpeg()->LogPalette.palNumEntries, 236);
  std::set<int> levels;
  for (std::int32_t x = 0; x < l0->Width(); ++x) {
    const TColor24 c = PixelAt(l0, x, 4);
    ASSERT_TRUE(c.B == c.G && c.G == c.R) << x;
    ASSERT_NEAR(c.B, x, 6) << x;
    levels.insert(c.B);
  }
  EXPECT_GT(levels.size(), 100u);
}

TEST(JpegLoader, CmykAndYcckAreConvertedToRgb) {
  for (TJpegKind kind : {TJpegKind::Cmyk, TJpegKind::Ycck}) {
    TJpegOptions opts;
    opts.Kind = kind;
    opts.Width = 16;
    opts.Height = 16;
    // Stored the Adobe way (inverted): full magenta and yellow ink is red.
    opts.Pixel = [](int, int, std::uint8_t* c) { c[0] = 255, c[1] = 0, c[2] = 0, c[3] = 255; };
    TRef<TBitmapStore> s = Load(WriteJpeg(opts));
    ASSERT_TRUE(s);
    EXPECT_TRUE(Near(PixelAt(Level(s.get(), 0), 8, 8), TColor24{0, 0, 255}, 6)) << int(kind);
  }
}

TEST(JpegProfile, ProfilesFromIccChunksJoinedInOrder) {
  const std::string adobe = Profile(AdobeRGBProfile());
  auto profileOf = [](std::vector<std::pair<int, std::string>> markers) {
    TJpegOptions opts;
    opts.Width = opts.Height = 8;
    opts.Markers = std::move(markers);
    TRef<TBitmapStore> s = Load(WriteJpeg(opts), u"icc.jpg");
    return s ? s->ColorProfile : TRef<TColorProfile>();
  };
  // The sRGB profile is the built-in object.
  EXPECT_EQ(profileOf({{0xE2, IccChunk(1, 1, Profile(sRGBProfile()))}}).get(), sRGBProfile());
  // Chunks in any order, other APP2 segments and Exif around them.
  const std::string a = adobe.substr(0, 200), b = adobe.substr(200);
  TRef<TColorProfile> joined = profileOf({{0xE1, zmtest::ExifOrientation(6)},
                                          {0xE2, std::string("FPXR\0\0junk", 10)},
                                          {0xE2, IccChunk(2, 2, b)},
                                          {0xE2, IccChunk(1, 2, a)}});
  ASSERT_TRUE(joined);
  EXPECT_EQ(joined->Data(), AdobeRGBProfile()->Data());
  // A missing chunk or chunks that disagree: no profile rather than a cut one.
  EXPECT_FALSE(profileOf({{0xE2, IccChunk(1, 2, a)}}));
  EXPECT_FALSE(profileOf({{0xE2, IccChunk(1, 2, a)}, {0xE2, IccChunk(2, 3, b)}}));
  EXPECT_FALSE(profileOf({{0xE2, IccChunk(0, 1, a)}}));
  EXPECT_FALSE(profileOf({{0xE2, "FPXR"}}));  // only non-ICC APP2
  // Two whole profiles: the first one.
  TRef<TColorProfile> first = profileOf({{0xE2, IccChunk(1, 1, adobe)}, {0xE2, IccChunk(1, 1, Profile(FunkyRGBProfile()))}});
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Data(), AdobeRGBProfile()->Data());
  EXPECT_EQ(first->Name(), u"icc.jpg");
  // Through the profile-loader registry, by extension.
  TJpegOptions withIcc = TwoColours(8, 8);
  withIcc.Markers = {{0xE2, IccChunk(1, 1, adobe)}};
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(WriteJpeg(withIcc));
  EXPECT_EQ(LoadColorProfile(s.get(), u"X.JPEG")->Data(), AdobeRGBProfile()->Data());
  EXPECT_FALSE(LoadColorProfile(s.get(), u"x.png"));
  EXPECT_EQ(s->GetPosition(), 0);
}

TEST(JpegProfile, BadMarkerSequencesAreLoggedNotRaised) {
  TLogToDebug log;
  TJpegOptions opts;
  opts.Markers = {{0xE2, IccChunk(1, 1, Profile(AdobeRGBProfile()))}};
  const std::string good = WriteJpeg(opts);
  // Fill bytes after SOI: two duplicate-FF lines, then the search goes on.
  const std::string filled = good.substr(0, 2) + "\xFF\xFF" + good.substr(2);
  TRef<TMemoryStream> s = zmtest::MemoryStreamOf(filled);
  EXPECT_EQ(ExtractJpegICCProfile(s.get()), AdobeRGBProfile()->Data());
  EXPECT_TRUE(log.Capture.Contains("Error: duplicate $FF encountered at 3"));
  EXPECT_TRUE(log.Capture.Contains("Error: duplicate $FF encountered at 4"));
  EXPECT_TRUE(Load(filled)->ColorProfile);  // libjpeg reads it too
  const std::string broken = good.substr(0, 2) + "x" + good.substr(2);
  s = zmtest::MemoryStreamOf(broken);
  EXPECT_TRUE(ExtractJpegICCProfile(s.get()).empty());
  EXPECT_TRUE(log.Capture.Contains("Error: marker expected at 2"));
  s = zmtest::MemoryStreamOf("\xFF\xE2\x00\x10ICC_PROFILE");  // no SOI first
  EXPECT_TRUE(ExtractJpegICCProfile(s.get()).empty());
  // A length that runs past the end.
  s = zmtest::MemoryStreamOf(std::string("\xFF\xD8\xFF\xE2\xFF\xFF", 6) + "ICC_PROFILE");
  EXPECT_TRUE(ExtractJpegICCProfile(s.get()).empty());
}

TEST(JpegBadInput, NothingReadableGivesNilAndKeepsThePosition) {
  const std::string good = WriteJpeg(TwoColours(16, 16));
  for (const std::string& bad : {std::string(), std::string("BM not a jpeg at all"), good.substr(0, 40),
                                 WithSize(good, 0, 16), WithSize(good, 16, 0), WithSize(good, 65000, 65000),
                                 std::string("\xFF\xD8\xFF\xD9", 4)}) {
    TRef<TMemoryStream> s = zmtest::MemoryStreamOf("xx" + bad);
    s->SetPosition(2);
    s->AddRef();  // handed over with OwnsStream: released when nobody takes it
    EXPECT_FALSE(LoadJpegBitmapStore(s.get(), u"bad.jpg", true, {})) << bad.size();
    EXPECT_EQ(s->GetPosition(), 2);
    EXPECT_EQ(s->RefCount(), 2);  // the loader itself never releases a declined stream
    s->ReleaseRef();
  }
  // A stream that delivers less than it promised.
  TRef<TShortStream> shortStream = MakeRef<TShortStream>();
  shortStream->Write(TWriteBuffer(reinterpret_cast<const std::uint8_t*>(good.data()), good.size()));
  shortStream->SetPosition(0);
  EXPECT_FALSE(LoadJpegBitmapStore(shortStream.get(), u"short.jpg", false, {}));
  EXPECT_EQ(shortStream->GetPosition(), 0);
  TRef<TMemoryStream> junk = zmtest::MemoryStreamOf("not a jpeg");
  EXPECT_THROW(MakeRef<TJpegImage>()->LoadFromStream(junk.get()), EJPEG);
}

TEST(JpegBadInput, TruncatedDataGivesAPartialPicture) {
  const std::string good = WriteJpeg(TwoColours(64, 64));
  const std::size_t sos = good.find("\xFF\xDA");  // cut a third into the scan data
  TRef<TBitmapStore> s = Load(good.substr(0, sos + 14 + (good.size() - sos) / 3));
  ASSERT_TRUE(s);
  TSysBitmap* l0 = Level(s.get(), 0);
  EXPECT_EQ(l0->Size(), (TPoint{64, 64}));
  EXPECT_TRUE(Near(PixelAt(l0, 5, 0), TColor24{20, 30, 220}, 8));    // the top came through
  EXPECT_FALSE(Near(PixelAt(l0, 5, 63), TColor24{20, 30, 220}, 30));  // the rest did not
}

TEST(JpegBadInput, CutsAndDamageAnywhereNeverCrash) {
  TJpegOptions opts = TwoColours(40, 24);
  opts.Progressive = true;
  opts.Markers = {{0xE2, IccChunk(1, 1, Profile(AdobeRGBProfile()))}};
  const std::string good = WriteJpeg(opts);
  // Past the first scan's header an undamaged cut holds a picture.
  const std::size_t firstScan = good.find("\xFF\xDA") + 14;
  std::srand(7);
  int refused = 0, cleanLevels = 0;
  for (std::size_t cut = 0; cut < good.size(); cut += 37) {
    for (int damage = 0; damage < 2; ++damage) {
      std::string bytes = good.substr(0, cut);
      if (damage)
        for (int i = 0; i < 4 && !bytes.empty(); ++i) bytes[std::size_t(std::rand()) % bytes.size()] = char(std::rand());
      TRef<TBitmapStore> s;
      // The loader answers nil for what it cannot read; it never raises.
      EXPECT_NO_THROW(s = Load(bytes)) << "cut " << cut << " damage " << damage;
      if (!damage && cut > firstScan) {
        EXPECT_TRUE(s) << "cut " << cut;
      }
      if (!s) {
        ++refused;
        continue;
      }
      for (int level : {0, 3, 5}) {
        try {
          EXPECT_TRUE(s->GetMipLevel(level, nullptr, nullptr));
          if (!damage) ++cleanLevels;
        } catch (const EJPEG& e) {
          // libjpeg gave up (a cut through a later scan's tables does that
          // too): its error with its code, not a crash.
          EXPECT_NE(std::string(e.what()).find("JPEG error #"), std::string::npos) << e.what();
        }
      }
    }
  }
  EXPECT_GT(refused, 0);      // the early cuts hold no header
  EXPECT_GT(cleanLevels, 0);  // the later ones give pictures
}

TEST(JpegBadInput, HugePicturesAreRefusedBeforeMemoryIsTaken) {
  const std::string good = WriteJpeg(TwoColours(16, 16));
  EXPECT_FALSE(Load(WithSize(good, 65000, 65000)));  // above the pixel limit: no store at all
  // Below it, but too large to hold at full size: that level raises.
  TRef<TBitmapStore> s = Load(WithSize(good, 30000, 30000));
  ASSERT_TRUE(s);
  EXPECT_THROW(s->GetMipLevel(0, nullptr, nullptr), EJPEG);
  // A progressive one must gather every scan at full size whatever the
  // level: one whose coefficients cannot fit is refused up front, so that
  // it is never a picture no level of which decodes.
  TJpegOptions opts = TwoColours(16, 16);
  opts.Progressive = true;
  const std::string progressive = WriteJpeg(opts);
  EXPECT_FALSE(Load(WithSize(progressive, 30000, 30000)));
  s = Load(WithSize(progressive, 4000, 3000));  // 24 MB of them: decodes, grey where data is missing
  ASSERT_TRUE(s);
  EXPECT_EQ(Level(s.get(), 3)->Size(), (TPoint{500, 375}));
}

namespace {

// A memory stream that counts the bytes read out of it.
class TCountingStream : public TMemoryStream {
public:
  std::int32_t Read(TReadBuffer buffer, std::int32_t count, std::int32_t offset) override {
    const std::int32_t n = TMemoryStream::Read(buffer, count, offset);
    BytesRead += std::max(n, 0);
    return n;
  }
  using TMemoryStream::Read;
  std::int64_t BytesRead = 0;
};

// A noisy picture, so that its bytes fill several input blocks.
TJpegOptions Noisy(int w, int h) {
  TJpegOptions s;
  s.Width = w;
  s.Height = h;
  s.Quality = 95;
  s.Pixel = [](int x, int y, std::uint8_t* c) {
    const unsigned v = unsigned(x * 7919 + y * 104729) * 2654435761u;
    c[0] = std::uint8_t(v >> 24), c[1] = std::uint8_t(v >> 16), c[2] = std::uint8_t(x + y);
  };
  return s;
}

bool SamePixels(TSysBitmap* a, TSysBitmap* b) {
  if (a->Size() != b->Size()) return false;
  for (std::int32_t y = 0; y < a->Height(); ++y)
    if (std::memcmp(a->Row24(y), b->Row24(y), std::size_t(a->Width()) * 3) != 0) return false;
  return true;
}

}  // namespace

TEST(JpegInPlace, HandedOverMemoryIsDecodedWithoutACopy) {
  const std::string good = WriteJpeg(Noisy(300, 200));
  TRef<TBitmapStore> copied = Load(good);  // the copying road, for the pixels
  ASSERT_TRUE(copied);
  TRef<TCountingStream> s = MakeRef<TCountingStream>();
  s->Write(TWriteBuffer(reinterpret_cast<const std::uint8_t*>(good.data()), good.size()));
  s->SetPosition(0);
  s->AddRef();  // handed over
  TRef<TBitmapStore> store = LoadJpegBitmapStore(s.get(), u"pic.jpg", true, {});
  ASSERT_TRUE(store);
  EXPECT_EQ(s->RefCount(), 2);  // the store keeps the stream itself
  EXPECT_EQ(s->GetPosition(), s->GetSize());
  const std::int64_t afterLoad = s->BytesRead;  // the profile search reads the markers
  EXPECT_LT(afterLoad, std::int64_t(good.size()) / 4);
  for (int level : {0, 3}) {
    ASSERT_TRUE(SamePixels(Level(store.get(), level), Level(copied.get(), level))) << level;
  }
  EXPECT_EQ(s->BytesRead, afterLoad);  // the decodes read the memory in place

  // Cut pictures in place: the top comes through, the rest is grey, as
  // from a copy (running out of bytes in memory is no empty input).
  const std::string cut = good.substr(0, good.size() / 3);
  TRef<TMemoryStream> m = zmtest::MemoryStreamOf(cut);
  m->AddRef();
  TRef<TBitmapStore> partial = LoadJpegBitmapStore(m.get(), u"cut.jpg", true, {});
  ASSERT_TRUE(partial);
  EXPECT_TRUE(SamePixels(Level(partial.get(), 0), Level(Load(cut).get(), 0)));
}

TEST(JpegInPlace, HandedOverFilesAreReadAgainAndMustNotChangeSize) {
  zmtest::TTempFolder folder;
  const std::string path = folder.File("pic.jpg");
  const std::string good = WriteJpeg(Noisy(400, 300));
  ASSERT_GT(good.size(), 2u * 65536);  // several input blocks
  zmtest::WriteFileBytes(path, "xx" + good);
  TRef<TBitmapStore> copied = Load(good);
  TRef<TFileStream> f = OpenFileForRead(WideString(path.begin(), path.end()));
  ASSERT_TRUE(f);
  f->SetPosition(2);
  TRef<TBitmapStore> store = LoadJpegBitmapStore(f.Detach(), u"pic.jpg", true, {});
  ASSERT_TRUE(store);
  EXPECT_TRUE(SamePixels(Level(store.get(), 1), Level(copied.get(), 1)));
  // Rewritten meanwhile with a picture of another size: refused, not a
  // level of a size the store never announced.
  zmtest::WriteFileBytes(path, "xx" + WriteJpeg(TwoColours(64, 48)));
  EXPECT_THROW(store->GetMipLevel(0, nullptr, nullptr), EJPEG);
  // Cut short: what is left decodes, the rest grey.
  zmtest::WriteFileBytes(path, "xx" + good.substr(0, good.size() / 2));
  TSysBitmap* l2 = Level(store.get(), 2);
  EXPECT_TRUE(Near(PixelAt(l2, 3, 0), PixelAt(Level(copied.get(), 2), 3, 0), 0));
}

