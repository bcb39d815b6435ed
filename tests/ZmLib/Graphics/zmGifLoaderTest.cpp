#include "ZmLib/Graphics/zmGifLoader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLog.h"
#include "tests/ZmLib/Graphics/GifSuiteKit.h"
#include "tests/support/Capture.h"
#include "tests/support/TestData.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- A tiny GIF writer -------------------------------------------------------------------

// Palette entry i: R = i, G = 255 - i, B = 7i, opaque.
std::uint32_t Color(int i) {
  return 0xFF000000u | (std::uint32_t(i) << 16) | (std::uint32_t(255 - i) << 8) | std::uint32_t((i * 7) & 0xFF);
}

struct TFrame {
  int Left = 0, Top = 0, W = 1, H = 1;
  Bytes Pixels;           // palette indices, W x H (a single value fills the image)
  int Disposal = 0;
  int Delay = 10;         // hundredths
  int Transparent = -1;   // index, or none
  bool Control = true;    // with a graphic control block
};

// Codes of 9 bits only (minimum size 8): a clear code before the table
// would make them grow.
Bytes Lzw(const Bytes& pixels) {
  Bytes out;
  std::uint32_t acc = 0;
  int n = 0;
  const auto put = [&](int code) {
    acc |= std::uint32_t(code) << n;
    for (n += 9; n >= 8; n -= 8, acc >>= 8) out.push_back(std::uint8_t(acc));
  };
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    if (i % 254 == 0) put(256);
    put(pixels[i]);
  }
  put(257);
  if (n > 0) out.push_back(std::uint8_t(acc));
  return out;
}

// Loop: -1 no looping extension, else its count.
Bytes MakeGif(int sw, int sh, const std::vector<TFrame>& frames, int loop = 0, int background = 0) {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
  const auto u16 = [&](int v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
  };
  u16(sw);
  u16(sh);
  b.insert(b.end(), {0xF7, std::uint8_t(background), 0});
  for (int i = 0; i < 256; ++i) {
    const std::uint32_t c = Color(i);
    b.insert(b.end(), {std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c)});
  }
  if (loop >= 0) {
    b.insert(b.end(), {'!', 0xFF, 11});
    for (char c : std::string("NETSCAPE2.0")) b.push_back(std::uint8_t(c));
    b.insert(b.end(), {3, 1});
    u16(loop);
    b.push_back(0);
  }
  for (const TFrame& f : frames) {
    if (f.Control) {
      b.insert(b.end(), {'!', 0xF9, 4, std::uint8_t((f.Disposal << 2) | (f.Transparent >= 0 ? 1 : 0))});
      u16(f.Delay);
      b.insert(b.end(), {std::uint8_t(f.Transparent >= 0 ? f.Transparent : 0), 0});
    }
    b.push_back(',');
    u16(f.Left);
    u16(f.Top);
    u16(f.W);
    u16(f.H);
    b.push_back(0);
    b.push_back(8);
    Bytes px = f.Pixels.size() == 1 ? Bytes(std::size_t(f.W * f.H), f.Pixels[0]) : f.Pixels;
    const Bytes data = Lzw(px);
    for (std::size_t i = 0; i < data.size(); i += 255) {
      const std::size_t m = std::min<std::size_t>(255, data.size() - i);
      b.push_back(std::uint8_t(m));
      b.insert(b.end(), data.begin() + std::ptrdiff_t(i), data.begin() + std::ptrdiff_t(i + m));
    }
    b.push_back(0);
  }
  b.push_back(';');
  return b;
}

using zmtest::TCountedStream;

template <class S = TMemoryStream, class... A>
S* NewStream(const Bytes& b, A... args) {
  S* s = new S(args...);
  s->AfterConstruction();
  if (!b.empty()) s->Write(TWriteBuffer(b.data(), b.size()));
  s->SetPosition(0);
  return s;
}

TRef<TGifVideoSource> OpenSource(const Bytes& b) {
  TRef<TGifVideoSource> s = MakeRef<TGifVideoSource>(NewStream(b), u"a.gif", true);
  return s->Open() ? s : nullptr;
}

TRef<TDirectBitmap> Canvas(int w, int h) {
  return MakeRef<TDirectBitmap>(w, PixelFormatByName(TByteString("A8R8G8B8")), h);
}

TRef<TDirectBitmap> Compose(TGifVideoSource* s, int n) {
  TRef<TDirectBitmap> out = Canvas(s->ScreenWidth, s->ScreenHeight);
  return s->ComposeFrame(n, out.get()) ? out : nullptr;
}

// The bitmap of a loaded store (a wrapper over a direct bitmap).
TDirectBitmap* StoreBitmap(TBitmapStore* store) {
  auto* w = dynamic_cast<TWrapperBitmapStore*>(store);
  auto* d = w ? dynamic_cast<TSysDirectWrapper*>(w->Bitmap()) : nullptr;
  return d ? d->Bitmap() : nullptr;
}

TRef<TBitmapStore> Load(const Bytes& b, const char16_t* name) {
  return LoadBitmapStore(NewStream(b), name, true, {});
}

// Rows of pixels, colours by palette index: "." transparent, a letter for
// index 1, 2, ... ('A' = Color(1)), "?" anything else.
std::vector<std::string> Picture(TDirectBitmap* b, int x0 = 0, int w = -1) {
  if (w < 0) w = b->Width();
  std::vector<std::string> rows;
  for (int y = 0; y < b->Height(); ++y) {
    std::string r;
    for (int x = x0; x < x0 + w; ++x) {
      const std::uint32_t c = b->Row32(y)[x];
      char ch = '?';
      if ((c >> 24) == 0) ch = '.';
      for (int i = 1; i <= 26; ++i)
        if (c == Color(i)) ch = char('A' + i - 1);
      r += ch;
    }
    rows.push_back(r);
  }
  return rows;
}

using Rows = std::vector<std::string>;

// A YUV image with one packed RGBA plane that it lends or not.
class TPackedImage : public TYUVImage {
public:
  TPackedImage(int w, int h, bool lends) : TYUVImage(w, h), lends_(lends) { SetRGBA(true); }
  TRef<TBitmap> LockPlane(std::int32_t index) override {
    ++Locks;
    if (!lends_ || index != 4) return nullptr;
    if (!Plane) Plane = Canvas(Width(), Height());
    return Plane;
  }
  bool UnlockPlane(std::int32_t, TRef<TBitmap>& plane) override {
    ++Unlocks;
    plane = nullptr;
    return true;
  }
  void Commit() override { ++Commits; }
  TRef<TDirectBitmap> Plane;
  int Locks = 0, Unlocks = 0, Commits = 0;

private:
  bool lends_;
};

// ---- A palette PNG reader for the suite's reference frames -------------------------------

using zmtest::ReadPalettePng;
using zmtest::TPng;
const std::filesystem::path& kSuite = zmtest::kGifSuite;

Bytes FileBytes(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Four full-screen frames of one colour each (1 to 4), with delays.
Bytes Solid4(int loop, std::initializer_list<int> delays = {10, 20, 30, 40}) {
  std::vector<TFrame> frames;
  int i = 1;
  for (int d : delays) frames.push_back({0, 0, 2, 2, {std::uint8_t(i++)}, 1, d});
  return MakeGif(2, 2, frames, loop);
}

}  // namespace

// ---- Opening and timing -------------------------------------------------------------------

TEST(GifVideo, StillPictureIsNoVideoButLoadsAsPicture) {
  const Bytes still = MakeGif(3, 2, {{1, 0, 2, 2, {5}}}, -1);
  int disposed = 0;
  EXPECT_FALSE(GifCreateFrameSource(NewStream<TCountedStream>(still, &disposed), true, u"still.gif", true, false));
  EXPECT_EQ(disposed, 1);

  // As a picture: the first image at its own size, under every GIF key; the
  // atlas of a still picture is that image too, without tiles.
  for (const char16_t* name : {u"still.gif", u"still.gif_first_frame", u"still.gif|framesatlas"}) {
    TRef<TBitmapStore> store = Load(still, name);
    ASSERT_TRUE(store);
    TDirectBitmap* b = StoreBitmap(store.get());
    ASSERT_TRUE(b);
    EXPECT_EQ(Picture(b), (Rows{"EE", "EE"}));
    EXPECT_EQ(store->FindTag<TTilesTag>(), nullptr);
  }
  // An animation under ".gif" is its first image too.
  TRef<TBitmapStore> first = Load(Solid4(0), u"anim.GIF");
  ASSERT_TRUE(first);
  EXPECT_EQ(Picture(StoreBitmap(first.get())), (Rows{"AA", "AA"}));
}

TEST(GifVideo, DelaysGiveFrameRateDurationAndFrameTimes) {
  // 0 counts as 50 ms; 1 hundredth stays 10 ms.
  TRef<TGifVideoSource> s = OpenSource(Solid4(0, {0, 10, 20, 1}));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->FrameCount(), 4);
  EXPECT_DOUBLE_EQ(s->Info.FrameRate, 100.0);
  EXPECT_EQ(s->Duration(), 50 + 100 + 200 + 10);
  EXPECT_EQ(s->Info.Width, 2);
  EXPECT_TRUE(s->Info.HasAlpha);
  EXPECT_EQ(s->FrameAtTime(0), 0);
  EXPECT_EQ(s->FrameAtTime(49.9), 0);
  EXPECT_EQ(s->FrameAtTime(50), 1);
  EXPECT_EQ(s->FrameAtTime(349), 2);
  EXPECT_EQ(s->FrameAtTime(350), 3);
  EXPECT_EQ(s->FrameAtTime(1e9), 3);

  TRef<TGifVideoSource> t = OpenSource(Solid4(0, {0, 10, 20}));
  ASSERT_TRUE(t);
  EXPECT_DOUBLE_EQ(t->Info.FrameRate, 20.0);
  EXPECT_EQ(t->Duration(), 350);

  // A frame without a graphic control block keeps the one before.
  TRef<TGifVideoSource> u = OpenSource(MakeGif(1, 1, {{0, 0, 1, 1, {1}, 1, 30}, {0, 0, 1, 1, {2}, 0, 7, -1, false}}));
  ASSERT_TRUE(u);
  EXPECT_EQ(u->Frame(1)->DelayMs(), 300);
  EXPECT_EQ(u->Duration(), 600);
}

TEST(GifVideo, LoopCountsWrapOrHoldTheLastFrame) {
  // Delays 100, 200, 300, 400 ms: one pass is 1 s, a frame number is 100 ms.
  // Every pass starts again at frame 0 (frame number 10 is the second
  // pass's first); a finite count holds the last frame once played out.
  struct TCase {
    int Loop;
    std::int32_t Reported;
    std::vector<std::pair<int, int>> PositionFrame;
  } cases[] = {
      {2, 2, {{0, 0}, {9, 3}, {10, 0}, {11, 1}, {19, 3}, {20, 3}, {25, 3}, {1000, 3}}},
      {0, 1000000, {{10, 0}, {11, 1}, {25, 2}, {29, 3}, {30, 0}, {1000, 0}, {1001, 1}, {-5, 0}}},
      {-1, 1, {{9, 3}, {10, 3}, {11, 3}, {15, 3}}},  // no extension: plays once
  };
  for (const TCase& c : cases) {
    TRef<TGifVideoSource> s = OpenSource(Solid4(c.Loop));
    ASSERT_TRUE(s) << c.Loop;
    EXPECT_EQ(s->LoopCount(), c.Reported);
    EXPECT_DOUBLE_EQ(s->Info.FrameRate, 10.0);
    EXPECT_EQ(s->Info.FrameCount, 10);
    // The record tells one pass and the passes; the frame numbers of them all.
    EXPECT_EQ(s->Info.Duration, 1000);
    EXPECT_EQ(s->Info.LoopCount, c.Reported);
    EXPECT_EQ(PlayedFrameCount(s->Info), 10 * c.Reported);
    TRef<TSysBitmap> rgb = CreateSysBitmap(2, 2, FindPixelFormat("R8G8B8"));
    for (auto [position, frame] : c.PositionFrame) {
      EXPECT_EQ(s->FrameForPosition(position), frame) << c.Loop << " at " << position;
      // The frame reaches a 24-bit bitmap, colour for colour.
      ASSERT_TRUE(s->SeekFrame(position));
      ASSERT_TRUE(s->GetFrameBitmap(rgb.get()));
      const std::uint32_t want = Color(frame + 1);
      const TColor24 got = rgb->Row24(1)[1];
      EXPECT_EQ((std::uint32_t(got.R) << 16) | (std::uint32_t(got.G) << 8) | got.B, want & 0xFFFFFF)
          << c.Loop << " at " << position;
    }
  }
}

TEST(GifVideo, PackedPlaneIsFilledAndCommittedOnlyWhenLent) {
  TRef<TGifVideoSource> s = OpenSource(Solid4(0));
  ASSERT_TRUE(s);
  TRef<TPackedImage> lends = MakeRef<TPackedImage>(2, 2, true);
  s->SeekFrame(3);  // 300 ms: the third frame
  ASSERT_TRUE(s->GetFrame(lends.get()));
  EXPECT_EQ(Picture(lends->Plane.get()), (Rows{"CC", "CC"}));
  EXPECT_EQ(lends->Locks, 1);
  EXPECT_EQ(lends->Unlocks, 1);
  EXPECT_EQ(lends->Commits, 1);

  TRef<TPackedImage> refuses = MakeRef<TPackedImage>(2, 2, false);
  EXPECT_FALSE(s->GetFrame(refuses.get()));
  EXPECT_EQ(refuses->Commits, 0);
  EXPECT_FALSE(s->GetFrame(nullptr));
  EXPECT_FALSE(s->GetFrameBitmap(nullptr));
}

// ---- Composition --------------------------------------------------------------------------

// Disposal 2 leaves the previous rectangle transparent (as GIF89a's restore
// to a transparent background). Disposal 3 differs from GIF89a: the video
// goes back to the composition of the nearest key frame (here frame 0, so
// the disposal-2 hole of frame 1 is filled again), and only when a frame left
// in place (disposal 1) came before it, as the atlas does.
TEST(GifVideo, DisposalsComposePixelByPixel) {
  const Bytes two = MakeGif(4, 3, {{0, 0, 4, 3, {1}, 1},  // A everywhere, keep
                                   {1, 1, 2, 1, {2}, 2},  // B, then background
                                   {0, 0, 1, 1, {3}, 0},
                                   {3, 2, 1, 1, {4}, 3},  // D, restore: RestoreIndex 0
                                   {0, 2, 1, 1, {5}, 0}});
  const Rows expect[] = {{"AAAA", "AAAA", "AAAA"},
                         {"AAAA", "ABBA", "AAAA"},
                         {"CAAA", "A..A", "AAAA"},
                         {"CAAA", "A..A", "AAAD"},
                         {"AAAA", "AAAA", "EAAA"}};  // from frame 0's composition
  TRef<TGifVideoSource> s = OpenSource(two);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Frame(4)->PrevDisposal, 3);
  EXPECT_EQ(s->Frame(4)->RestoreIndex, 0);
  for (int n = 0; n < 5; ++n) {
    TRef<TDirectBitmap> b = Compose(s.get(), n);
    ASSERT_TRUE(b) << n;
    EXPECT_EQ(Picture(b.get()), expect[n]) << n;
  }
  // Random access gives the same canvases.
  for (int n : {4, 2, 0, 3, 1}) {
    TRef<TDirectBitmap> b = Compose(s.get(), n);
    ASSERT_TRUE(b) << n;
    EXPECT_EQ(Picture(b.get()), expect[n]) << n;
  }

  // Disposal 3 with no kept frame before it has nothing to go back to.
  TRef<TGifVideoSource> bare = OpenSource(MakeGif(2, 1, {{0, 0, 2, 1, {1}, 3}, {0, 0, 1, 1, {2}, 0}}));
  ASSERT_TRUE(bare);
  TRef<TDirectBitmap> b = Compose(bare.get(), 1);
  ASSERT_TRUE(b);
  EXPECT_EQ(Picture(b.get()), (Rows{"B."}));

  // The atlas, tile by tile, with its tag.
  const Bytes atlasGif = MakeGif(3, 2, {{0, 0, 3, 2, {1}, 1, 0},  // A, keep: the restore point
                                        {1, 0, 2, 1, {2}, 3, 10},  // B, then back to tile 0
                                        {0, 1, 1, 1, {3}, 2, 20},  // C, then background
                                        {2, 1, 1, 1, {4}, 0, 1},
                                        {2, 1, 5, 5, {5}, 0, 10}},  // reaches out of the screen
                                 3);
  TRef<TBitmapStore> store = Load(atlasGif, u"x.gif|framesatlas");
  ASSERT_TRUE(store);
  TDirectBitmap* atlas = StoreBitmap(store.get());
  ASSERT_TRUE(atlas);
  ASSERT_EQ(atlas->Width(), 15);
  ASSERT_EQ(atlas->Height(), 2);
  const Rows tiles[] = {{"AAA", "AAA"}, {"ABB", "AAA"}, {"AAA", "CAA"}, {"AAA", ".AD"}, {"AAA", ".AE"}};
  for (int j = 0; j < 5; ++j) EXPECT_EQ(Picture(atlas, j * 3, 3), tiles[j]) << j;
  TTilesTag* tag = store->FindTag<TTilesTag>();
  ASSERT_TRUE(tag);
  EXPECT_EQ(tag->TileWidth, 3);
  EXPECT_EQ(tag->TileHeight, 2);
  EXPECT_EQ(tag->FrameCount, 5);
  EXPECT_EQ(tag->ColumnCount, 5);
  EXPECT_EQ(tag->RowCount, 1);
  EXPECT_EQ(tag->TotalDuration, 50 + 100 + 200 + 10 + 100);
  EXPECT_EQ(tag->AverageDelay, 460 / 5);
  EXPECT_EQ(tag->DelayText, u"50,100,200,10,100");
  EXPECT_EQ(tag->LoopCount, 3);
}

// 31 frames of mixed places, transparency and disposals: frames composed in
// order, by jumps back and forth, and from a fresh source each, agree.
TEST(GifVideo, KeyFramesAndRandomAccessAgreeWithSequentialFrames) {
  std::vector<TFrame> frames{{0, 0, 6, 4, {1}, 1}};
  for (int i = 1; i <= 30; ++i) {
    TFrame f{i % 5, i % 3, 2 + i % 3, 1 + i % 2, {}, (i * 7) % 4, 5};
    for (int p = 0; p < f.W * f.H; ++p) f.Pixels.push_back(std::uint8_t(p % 3 == 0 ? 20 : 1 + (i + p) % 10));
    f.Transparent = i % 4 == 0 ? -1 : 20;
    frames.push_back(f);
  }
  const Bytes gif = MakeGif(6, 4, frames);
  TRef<TGifVideoSource> seq = OpenSource(gif);
  ASSERT_TRUE(seq);
  ASSERT_EQ(seq->FrameCount(), 31);
  std::vector<Rows> want;
  for (int n = 0; n < 31; ++n) {
    TRef<TDirectBitmap> b = Compose(seq.get(), n);
    ASSERT_TRUE(b) << n;
    want.push_back(Picture(b.get()));
  }
  EXPECT_EQ(seq->DecodeCount(), 30);  // one decode per frame in order

  TRef<TGifVideoSource> jump = OpenSource(gif);
  ASSERT_TRUE(jump);
  ASSERT_TRUE(Compose(jump.get(), 5));
  EXPECT_EQ(jump->DecodeCount(), 5);
  // Frame 23 right after 5: key frames 10 and 20 are made on the way.
  ASSERT_FALSE(jump->Frame(10)->Bitmap);
  TRef<TDirectBitmap> b23 = Compose(jump.get(), 23);
  ASSERT_TRUE(b23);
  EXPECT_EQ(jump->DecodeCount(), 5 + 20 + 3);
  EXPECT_TRUE(jump->Frame(10)->Bitmap);
  EXPECT_TRUE(jump->Frame(20)->Bitmap);
  EXPECT_EQ(Picture(b23.get()), want[23]);
  // Back to 12 starts at key frame 10; 13 then follows in one decode.
  const int before = jump->DecodeCount();
  EXPECT_EQ(Picture(Compose(jump.get(), 12).get()), want[12]);
  EXPECT_EQ(jump->DecodeCount(), before + 2);
  EXPECT_EQ(Picture(Compose(jump.get(), 13).get()), want[13]);
  EXPECT_EQ(jump->DecodeCount(), before + 3);
  for (int n : {30, 0, 29, 9, 10, 11, 1, 21, 20, 19}) {
    TRef<TDirectBitmap> b = Compose(jump.get(), n);
    ASSERT_TRUE(b) << n;
    EXPECT_EQ(Picture(b.get()), want[std::size_t(n)]) << n;
  }
  for (int n = 0; n < 31; ++n) {
    TRef<TGifVideoSource> fresh = OpenSource(gif);
    TRef<TDirectBitmap> b = Compose(fresh.get(), n);
    ASSERT_TRUE(b) << n;
    EXPECT_EQ(Picture(b.get()), want[std::size_t(n)]) << n;
  }
}

TEST(GifVideo, AtlasStopsAtThePixelLimit) {
  // 400 x 300 x 219 passes 26214400 pixels: 218 tiles are kept.
  std::vector<TFrame> frames{{0, 0, 400, 300, {1}, 1, 4}};
  for (int i = 1; i < 300; ++i) frames.push_back({i % 400, i % 300, 1, 1, {std::uint8_t(1 + i % 20)}, 1, 4});
  TRef<TBitmapStore> store = Load(MakeGif(400, 300, frames, 0), u"big.gif|framesatlas");
  ASSERT_TRUE(store);
  TDirectBitmap* atlas = StoreBitmap(store.get());
  ASSERT_TRUE(atlas);
  EXPECT_EQ(atlas->Width(), 400 * 218);
  EXPECT_EQ(atlas->Height(), 300);
  TTilesTag* tag = store->FindTag<TTilesTag>();
  ASSERT_TRUE(tag);
  EXPECT_EQ(tag->FrameCount, 218);
  EXPECT_EQ(tag->ColumnCount, 218);
  EXPECT_EQ(tag->TotalDuration, 218 * 40);
  EXPECT_EQ(tag->AverageDelay, 40);
  EXPECT_EQ(std::count(tag->DelayText.begin(), tag->DelayText.end(), u','), 217);
  EXPECT_EQ(tag->LoopCount, 0);
  // The last tile holds every dot drawn so far.
  EXPECT_EQ(atlas->Row32(217)[217 * 400 + 217], Color(1 + 217 % 20));
  EXPECT_EQ(atlas->Row32(5)[217 * 400 + 5], Color(1 + 5 % 20));
}

// ---- The public suite ---------------------------------------------------------------------

// Every frame of every animation against its reference. The system's
// disposal 3 differs from GIF89a: a frame after it goes back to the nearest
// key frame's composition when a kept (disposal-1) frame came before, and
// otherwise shows its own image alone, checked by that rule: the reference's
// pixels inside the frame's rectangle where the image is opaque, transparent
// everywhere else.
TEST(GifVideo, SuiteAnimationsMatchTheirReferences) {
  ZM_SKIP_WITHOUT_TESTDATA("gif-test-suite");
  ASSERT_TRUE(std::filesystem::is_directory(kSuite)) << kSuite;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kSuite)) {
    const std::string name = entry.path().stem().string();
    if (entry.path().extension() != ".gif" || name.rfind("animated", 0) != 0) continue;
    ++files;
    const Bytes data = FileBytes(entry.path());
    TRef<TFrameSource> fs = CreateFrameSource(NewStream(data), true, WideString(u"suite/x.gif"), true, false);
    auto* s = dynamic_cast<TGifVideoSource*>(fs.get());
    ASSERT_TRUE(s) << name;
    EXPECT_EQ(s->LoopCount(), name.find("noloop") != std::string::npos ? 1 : 1000000) << name;
    int visible = 0;
    for (int i = 0; i < s->FrameCount(); ++i) {
      TPng png;
      const std::string ref = name + "-" + std::to_string(i) + ".png";
      ASSERT_TRUE(ReadPalettePng(kSuite / "frames" / ref, png)) << ref;
      ASSERT_EQ(png.Width, s->ScreenWidth);
      ASSERT_EQ(png.Height, s->ScreenHeight);
      TRef<TDirectBitmap> b = Compose(s, i);
      ASSERT_TRUE(b) << ref;
      const TGifFrameData* f = s->Frame(i);
      const bool ownImageOnly = f->PrevDisposal == 3 && f->RestoreIndex < 0;
      // The "restoreprev" animations keep frame 0 (disposal 1) and then
      // restore after each frame: their references show frame 0 below
      // every later frame, so the kept frame is the one to go back to.
      if (name.find("restoreprev") != std::string::npos && name.find("firstframe") == std::string::npos)
        EXPECT_FALSE(ownImageOnly) << ref;
      const TRect r = f->Rect();
      int mismatches = 0;
      for (int y = 0; y < png.Height; ++y)
        for (int x = 0; x < png.Width; ++x) {
          const std::uint32_t got = b->Row32(y)[x], want = png.Pixels[std::size_t(y * png.Width + x)];
          visible += (got >> 24) != 0;
          if (ownImageOnly && (got >> 24) == 0 && x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom)
            continue;  // transparent in the image: the reference shows what lies below
          if (ownImageOnly && (x < r.Left || x >= r.Right || y < r.Top || y >= r.Bottom))
            mismatches += (got >> 24) != 0;
          else
            mismatches += (got >> 24) == 0 ? (want >> 24) != 0 : got != want;
        }

      EXPECT_EQ(mismatches, 0) << ref;
    }
    EXPECT_GT(visible, 0) << name;
  }
  EXPECT_EQ(files, 11);
}

// ---- Damaged data -------------------------------------------------------------------------

TEST(GifVideo, DamagedAndTruncatedStreamsGiveNilOrFalse) {
  std::vector<TFrame> frames;
  for (int i = 0; i < 12; ++i) frames.push_back({i % 3, 0, 3, 2, {std::uint8_t(1 + i)}, i % 4, 3, i % 2 ? 2 : -1});
  const Bytes gif = MakeGif(5, 3, frames);

  // Cut at every length: never a crash; whatever opens composes its frames
  // or answers false.
  for (std::size_t cut = 0; cut < gif.size(); ++cut) {
    const Bytes part(gif.begin(), gif.begin() + std::ptrdiff_t(cut));
    TRef<TGifVideoSource> s = OpenSource(part);
    if (s) {
      for (int p : {0, 3, 11, 7, 2, 40}) {
        s->SeekFrame(p);
        TRef<TDirectBitmap> out = Canvas(5, 3);
        s->GetFrameBitmap(out.get());
      }
    }
    for (const char16_t* name : {u"a.gif", u"a.gif|framesatlas"}) {
      TMemoryStream* stream = NewStream(part);
      TRef<TMemoryStream> keep(stream);
      stream->Free();
      TRef<TBitmapStore> store = LoadGif(stream, name, false, {}, name[5] != 0);
      if (!store) {
        EXPECT_EQ(stream->GetPosition(), 0) << cut;
      }
    }
  }

  // Frame 6's data damaged (a code beyond the table): the scan still finds
  // all frames; frames 0 to 5 compose, 6 and later answer false, and
  // frames before it still compose afterwards.
  Bytes bad = gif;
  std::size_t image = 0;
  for (int seen = 0, i = 0; i < int(bad.size()); ++i)
    if (bad[std::size_t(i)] == ',' && bad[std::size_t(i) - 1] == 0 && seen++ == 6) {
      image = std::size_t(i);
      break;
    }
  ASSERT_GT(image, 0u);
  bad[image + 12] = 0xFF;  // first data byte after the clear code's first 8 bits
  bad[image + 13] = 0xFF;
  TRef<TGifVideoSource> s = OpenSource(bad);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->FrameCount(), 12);
  for (int n = 0; n < 6; ++n) EXPECT_TRUE(Compose(s.get(), n)) << n;
  for (int n : {6, 7, 11, 10}) EXPECT_FALSE(Compose(s.get(), n)) << n;
  EXPECT_TRUE(Compose(s.get(), 3));
  TRef<TBitmapStore> atlas = Load(bad, u"bad.gif|framesatlas");
  ASSERT_TRUE(atlas);
  EXPECT_EQ(atlas->FindTag<TTilesTag>()->FrameCount, 6);

  // Not GIF at all.
  const Bytes junk = {'G', 'I', 'F', '8', '8', 'a', 1, 0, 1, 0, 0, 0, 0, ';'};
  EXPECT_FALSE(OpenSource(junk));
  EXPECT_FALSE(Load(junk, u"j.gif"));
  EXPECT_FALSE(OpenSource({}));
  TRef<TGifVideoSource> none = MakeRef<TGifVideoSource>(nullptr, u"n.gif", true);
  EXPECT_FALSE(none->Open());
  EXPECT_FALSE(none->GetFrameBitmap(Canvas(1, 1).get()));
  EXPECT_FALSE(GifCreateFrameSource(nullptr, true, u"n.gif", false, false));
  EXPECT_FALSE(LoadGif(nullptr, u"n.gif", true, {}, true));
  // A zero-sized screen opens no video.
  EXPECT_FALSE(OpenSource(MakeGif(0, 0, {{0, 0, 1, 1, {1}}, {0, 0, 1, 1, {2}}})));
}

// ---- The hooks ----------------------------------------------------------------------------

namespace {
int gPrevCreates = 0;
TRef<TFrameSource> PrevCreate(TStream* stream, bool ownsStream, const WideString&, bool, bool) {
  ++gPrevCreates;
  if (ownsStream) FreeObject(stream);
  return nullptr;
}
bool PrevAccept(const WideString&) { return false; }
}  // namespace

TEST(GifVideo, HooksChainAndFreeOwnedStreamsOnce) {
  // Reinstalled over fake handlers of another kind.
  FiniGifLoader();
  zm::THookScope create(CreateFrameSourceHook, &PrevCreate);
  zm::THookScope accept(AcceptFrameSourceHook, &PrevAccept);
  InitGifLoader();
  gPrevCreates = 0;

  EXPECT_TRUE(AcceptFrameSourceHook(u"dir/A.GIF"));
  EXPECT_FALSE(AcceptFrameSourceHook(u"clip.mp4"));  // the previous handler's answer
  int disposed = 0;
  {
    TRef<TFrameSource> s =
        CreateFrameSource(NewStream<TCountedStream>(Solid4(0), &disposed), true, u"a.Gif", false, false);
    ASSERT_TRUE(dynamic_cast<TGifVideoSource*>(s.get()));
    EXPECT_EQ(disposed, 0);  // kept for decoding on demand
  }
  EXPECT_EQ(disposed, 1);
  // A ".gif" that is no animation: nil, the owned stream freed once, and the
  // previous handler not asked.
  disposed = 0;
  EXPECT_FALSE(CreateFrameSource(NewStream<TCountedStream>(Bytes{1, 2, 3}, &disposed), true, u"b.gif", false, false));
  EXPECT_EQ(disposed, 1);
  // A stream not handed over stays the caller's.
  disposed = 0;
  TCountedStream* kept = NewStream<TCountedStream>(Bytes{1, 2, 3}, &disposed);
  EXPECT_FALSE(CreateFrameSourceHook(kept, false, u"b.gif", false, false));
  EXPECT_EQ(disposed, 0);
  kept->Free();
  EXPECT_EQ(gPrevCreates, 0);
  // Other names go on, with the stream.
  disposed = 0;
  EXPECT_FALSE(CreateFrameSourceHook(NewStream<TCountedStream>(Bytes{1}, &disposed), true, u"c.mp4", false, false));
  EXPECT_EQ(gPrevCreates, 1);
  EXPECT_EQ(disposed, 1);

  // Finalised: the fakes are back; with nothing before, other names are
  // accepted and their owned streams freed here.
  FiniGifLoader();
  EXPECT_EQ(CreateFrameSourceHook, &PrevCreate);
  EXPECT_EQ(AcceptFrameSourceHook, &PrevAccept);
  create.Set(nullptr);
  accept.Set(nullptr);
  InitGifLoader();
  EXPECT_TRUE(AcceptFrameSourceHook(u"clip.mp4"));
  disposed = 0;
  EXPECT_FALSE(CreateFrameSourceHook(NewStream<TCountedStream>(Bytes{1}, &disposed), true, u"c.mp4", false, false));
  EXPECT_EQ(disposed, 1);
  FiniGifLoader();
  create.Restore();
  accept.Restore();
  InitGifLoader();
}
