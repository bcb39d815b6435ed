// Tiled textures without a device: the choice of tiles, the layout of a
// picture over them, their reuse, the managers' and multi-textures' ends,
// and the fill of one tile with its borders.
#include <gtest/gtest.h>

#include "OruLib2/MultiTexture6.h"
#include "OruLib2/TileBitmap.h"
#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/Graphics/GraphicsTestUtil.h"

namespace multi_texture_test {

using namespace zm;
using zmtest::AssertionOf;
using zmtest::Contains;

// 32-bit pixels that tell their position: x in the low 16 bits, y above.
TRef<TSysBitmap> Positions(std::int32_t w, std::int32_t h) {
  TRef<TSysBitmap> b = CreateSysBitmap(w, h, FindPixelFormat(PF_A8R8G8B8));
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) b->Row32(y)[x] = std::uint32_t(y) << 16 | std::uint32_t(x);
  return b;
}

struct TPlaced {
  std::int32_t X, Y, UsedW, UsedH, TileW, TileH;
  friend bool operator==(const TPlaced&, const TPlaced&) = default;
};
std::ostream& operator<<(std::ostream& o, const TPlaced& p) {
  return o << "(" << p.X << "," << p.Y << " used " << p.UsedW << "x" << p.UsedH << " of " << p.TileW << "x" << p.TileH
           << ")";
}

std::vector<TPlaced> Placement(const TMultiTexture6& mt) {
  std::vector<TPlaced> out;
  for (std::int32_t i = 0; i < mt.TileCount(); ++i) {
    const TTextureTile* t = mt.Tile(i);
    out.push_back({t->Position().X, t->Position().Y, t->Used().cx, t->Used().cy, t->Size().cx, t->Size().cy});
  }
  return out;
}

class MultiTexture : public ::testing::Test {
 protected:
  void SetUp() override {
    screen = MakeRef<T3DScreen>();
    manager = MakeRef<TTextureManager6>(screen.get());
    // The tile sizes themselves: every picture goes on the managers' tiles.
    manager->FitsWholePictures = false;
  }
  void TearDown() override {
    callback_.Restore();
    manager = nullptr;
    screen = nullptr;
  }
  TRef<TMultiTexture6> Picture(std::int32_t w, std::int32_t h) {
    TRef<TMultiTexture6> mt = MakeRef<TMultiTexture6>(manager.get());
    mt->SetPicture(Positions(w, h).Detach(), true, false, false, 1, 1, {0, 0, w, h});
    return mt;
  }

  zm::THookScope<TLoadCallbackProc> callback_{LoadCallbackProc};
  TRef<T3DScreen> screen;
  TRef<TTextureManager6> manager;
};

TEST_F(MultiTexture, ChoiceOfTileSizes) {
  ASSERT_EQ(manager->TileManagerCount(), 9);
  struct TCase {
    std::int32_t W, H, TileW, TileH;
  };
  // Most useful pixels first, then least waste, then the earlier size.
  for (const TCase& c : {TCase{302, 202, 512, 256},
                         {1002, 602, 512, 512},
                         {60, 60, 64, 64},
                         {100, 60, 256, 64},
                         {60, 100, 64, 256},
                         {200, 200, 256, 256},
                         {1, 1, 64, 64},
                         {130, 300, 256, 512}}) {
    TTextureTile* t = manager->GetTile(c.W, c.H);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->Size(), (TSize{c.TileW, c.TileH})) << c.W << "x" << c.H;
    EXPECT_EQ(t->Used(), (TSize{std::min(c.W, c.TileW), std::min(c.H, c.TileH)}));
    EXPECT_TRUE(t->NeedsFill());
    t->Manager()->PutBack(t);
  }
  // Nothing useful: no tile, and no manager is dropped for it.
  EXPECT_EQ(manager->GetTile(0, 100), nullptr);
  EXPECT_EQ(manager->GetTile(-5, -5), nullptr);
  EXPECT_EQ(manager->GetTile(INT32_MIN, INT32_MIN), nullptr);
  EXPECT_EQ(manager->TileManagerCount(), 9);
}

TEST_F(MultiTexture, LayoutOfSmallAndLargePictures) {
  TRef<TMultiTexture6> small = Picture(300, 200);
  small->Layout();
  EXPECT_EQ(Placement(*small), (std::vector<TPlaced>{{-1, -1, 302, 202, 512, 256}}));

  TRef<TMultiTexture6> large = Picture(1000, 600);
  large->Layout();
  const std::vector<TPlaced> p = Placement(*large);
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(p[0], (TPlaced{-1, -1, 512, 512, 512, 512}));
  EXPECT_EQ(p[1], (TPlaced{509, -1, 492, 512, 512, 512}));
  EXPECT_EQ(p[2], (TPlaced{-1, 509, 512, 92, 512, 256}));
  EXPECT_EQ(p[3], (TPlaced{509, 509, 492, 92, 512, 256}));

  // Thin pictures: every pixel is covered once by the tiles' content.
  for (auto [w, h] : {std::pair{1, 1}, {1, 2000}, {2000, 1}, {511, 510}, {510, 511}}) {
    TRef<TMultiTexture6> mt = Picture(w, h);
    mt->Layout();
    std::vector<int> covered(std::size_t(w) * std::size_t(h));
    for (const TPlaced& t : Placement(*mt))
      for (std::int32_t y = t.Y + 1; y < t.Y + t.UsedH - 1; ++y)
        for (std::int32_t x = t.X + 1; x < t.X + t.UsedW - 1; ++x) {
          ASSERT_TRUE(x >= 0 && y >= 0 && x < w && y < h) << "content outside the picture " << t;
          ++covered[std::size_t(y) * std::size_t(w) + std::size_t(x)];
        }
    for (int c : covered) ASSERT_EQ(c, 1) << w << "x" << h;
  }
}

TEST_F(MultiTexture, TilesGoBackToTheFreeListAndAreReused) {
  TRef<TMultiTexture6> mt = Picture(1000, 600);
  mt->Layout();
  std::vector<TTextureTile*> first;
  for (std::int32_t i = 0; i < mt->TileCount(); ++i) first.push_back(mt->Tile(i));
  TTileManager* big = manager->TileManager(0);
  ASSERT_EQ(big->TileWidth(), 512);
  ASSERT_EQ(big->TileHeight(), 512);
  EXPECT_EQ(big->Tiles()->Count(), 2);
  EXPECT_EQ(big->FreeTiles()->Count(), 0);

  // A new picture hands the tiles back; the next layout takes them again.
  mt->SetPicture(Positions(1000, 600).Detach(), true, false, false, 1, 1, {0, 0, 1000, 600});
  EXPECT_EQ(mt->TileCount(), 0);
  EXPECT_EQ(big->FreeTiles()->Count(), 2);
  for (TTextureTile* t : first) {
    EXPECT_TRUE(t->NeedsFill());
    EXPECT_FALSE(t->Prepared());
    EXPECT_EQ(t->Owner(), nullptr);
  }
  mt->Layout();
  EXPECT_EQ(big->Tiles()->Count(), 2);
  EXPECT_EQ(big->FreeTiles()->Count(), 0);
  std::vector<TTextureTile*> second;
  for (std::int32_t i = 0; i < mt->TileCount(); ++i) second.push_back(mt->Tile(i));
  std::sort(first.begin(), first.end());
  std::sort(second.begin(), second.end());
  EXPECT_EQ(first, second);

  // Disposing gives them back too.
  mt = nullptr;
  EXPECT_EQ(big->FreeTiles()->Count(), 2);
}

TEST_F(MultiTexture, ManagersThatCannotMakeTilesAreDropped) {
  // Without a screen no tile can be made: every size is tried once and let go.
  TRef<TTextureManager6> none = MakeRef<TTextureManager6>(nullptr);
  EXPECT_EQ(none->GetTile(100, 100), nullptr);
  EXPECT_EQ(none->TileManagerCount(), 0);
  EXPECT_EQ(none->GetTile(100, 100), nullptr);
  TRef<TMultiTexture6> mt = MakeRef<TMultiTexture6>(none.get());
  mt->SetPicture(Positions(10, 10).Detach(), true, false, false, 1, 1, {0, 0, 10, 10});
  EXPECT_TRUE(Contains(AssertionOf([&] { mt->Layout(); }), "TMultiTexture6.Layout - No Tile"));
  mt = nullptr;

  // A manager whose free tiles are in the list still hands them out.
  TRef<TMultiTexture6> a = Picture(300, 200);
  a->Layout();
  TTextureTile* t = a->Tile(0);
  a->ReleaseTiles();
  EXPECT_EQ(manager->GetTile(302, 202), t);
  t->Manager()->PutBack(t);
}

TEST_F(MultiTexture, EndsOfManagersAndMultiTextures) {
  TRef<TMultiTexture6> a = MakeRef<TMultiTexture6>(manager.get());
  TRef<TMultiTexture6> b = MakeRef<TMultiTexture6>(manager.get());
  TRef<TMultiTexture6> c = Picture(700, 300);
  c->Layout();
  EXPECT_EQ(a->Index(), 0);
  EXPECT_EQ(c->Index(), 2);
  // The last entry moves into the slot that is left.
  a = nullptr;
  ASSERT_EQ(manager->MultiTextureCount(), 2);
  EXPECT_EQ(manager->MultiTexture(0), c.get());
  EXPECT_EQ(c->Index(), 0);
  EXPECT_EQ(manager->MultiTexture(1), b.get());
  EXPECT_EQ(b->Index(), 1);

  // The manager goes first: the two left are unlinked, and their tiles are
  // theirs to free.
  TTextureManager6* m = manager.Detach();
  EXPECT_TRUE(Contains(AssertionOf([&] { m->Free(); }), "Error: Multi Textures Count = 2"));
  EXPECT_EQ(c->Manager(), nullptr);
  EXPECT_EQ(b->Manager(), nullptr);
  ASSERT_GT(c->TileCount(), 0);
  EXPECT_EQ(c->Tile(0)->Manager(), nullptr);
  c = nullptr;
  b = nullptr;

  EXPECT_TRUE(
      Contains(AssertionOf([&] { MakeRef<TMultiTexture6>(nullptr); }), "TMultiTexture6.Create - Manager not Assigned"));
}

TEST_F(MultiTexture, ManagerFreedWithMultiTexturesLeftReportsTheirCount) {
  TRef<TMultiTexture6> a = MakeRef<TMultiTexture6>(manager.get());
  TRef<TMultiTexture6> b = Picture(100, 100);
  b->Layout();
  TTextureManager6* m = manager.Detach();
  EXPECT_TRUE(Contains(AssertionOf([&] { m->Free(); }), "Error: Multi Textures Count = 2"));
}

TEST_F(MultiTexture, SetPictureChecksAndKeepsTheOldPictureOnFailure) {
  TRef<TMultiTexture6> mt = Picture(300, 200);
  mt->Layout();
  TBitmap* old = mt->Source();
  TRef<TSysBitmap> pic = Positions(40, 30);
  EXPECT_TRUE(Contains(AssertionOf([&] {
                         mt->SetPicture(nullptr, true, false, false, 1, 1, {0, 0, 1, 1});
                       }),
                       "Bitmap not Assigned"));
  for (const TRect& r : {TRect{0, 0, 0, 10}, TRect{5, 5, 5, 6}, TRect{-1, 0, 10, 10}, TRect{0, 0, 41, 30},
                         TRect{0, 0, 40, 31}, TRect{10, 10, 5, 20}})
    EXPECT_TRUE(
        Contains(AssertionOf([&] { mt->SetPicture(pic.get(), true, false, false, 1, 1, r); }), "Invalid Crop Rect"));
  EXPECT_TRUE(Contains(AssertionOf([&] {
                         mt->SetPicture(pic.get(), true, true, false, 0, 3, {0, 0, 40, 30});
                       }),
                       "Invalid Tile Count"));
  EXPECT_EQ(pic->RefCount(), 1);  // still only ours
  EXPECT_EQ(mt->Source(), old);
  EXPECT_EQ(mt->TileCount(), 1);

  // A crop view of the rectangle; the tiles read it from its corner.
  mt->SetPicture(pic.get(), false, false, true, 1, 1, {10, 5, 30, 25});
  EXPECT_EQ(mt->PictureSize(), (TSize{20, 20}));
  EXPECT_TRUE(mt->Premultiplied());
  std::uint32_t px = 0;
  mt->Source()->GetPixels({reinterpret_cast<std::uint8_t*>(&px), 4}, 0, 0, 0, 1);
  EXPECT_EQ(px, 5u << 16 | 10u);
  // Tiled: the tile bitmap over the whole picture.
  mt->SetPicture(pic.get(), false, true, false, 3, 2, {0, 0, 40, 30});
  EXPECT_EQ(mt->PictureSize(), (TSize{44, 36}));
  ASSERT_NE(dynamic_cast<TTileBitmap*>(mt->Source()), nullptr);
  // A plain direct bitmap is read through a view of its rows.
  TRef<TDirectBitmap> direct = MakeRef<TDirectBitmap>(8, FindPixelFormat(PF_R8G8B8), 8);
  mt->SetPicture(direct.get(), false, false, false, 1, 1, {2, 2, 6, 6});
  EXPECT_EQ(mt->PictureSize(), (TSize{4, 4}));
  // Any other bitmap is copied into one whose rows can be cropped.
  TRef<TTileBitmap> view = MakeRef<TTileBitmap>(pic.get(), false, 1, 1);
  mt->SetPicture(view.get(), false, false, false, 1, 1, {1, 1, 3, 3});
  mt->Source()->GetPixels({reinterpret_cast<std::uint8_t*>(&px), 4}, 0, 0, 0, 1);
  EXPECT_EQ(px, 0u);  // view (1, 1) shows source (0, 0)
}

// The fill of one tile, straight into a bitmap of the tile's size: the used
// rectangle at the tile's position, then its edges repeated over the rest.
TEST_F(MultiTexture, FillCopiesThePieceAndRepeatsItsEdges) {
  TRef<TMultiTexture6> mt = Picture(300, 200);
  mt->Layout();
  TTextureTile* t = mt->Tile(0);
  TRef<TSysBitmap> level = CreateSysBitmap(512, 256, FindPixelFormat(PF_A8R8G8B8));
  t->FillLevel(level.get());
  EXPECT_FALSE(t->NeedsFill());
  auto at = [&](std::int32_t x, std::int32_t y) { return level->Row32(y)[x]; };
  auto src = [](std::int32_t x, std::int32_t y) { return std::uint32_t(y) << 16 | std::uint32_t(x); };
  EXPECT_EQ(at(1, 1), src(0, 0));
  EXPECT_EQ(at(300, 200), src(299, 199));
  EXPECT_EQ(at(0, 0), src(0, 0));      // corner border
  EXPECT_EQ(at(0, 50), src(0, 49));    // left border
  EXPECT_EQ(at(50, 0), src(49, 0));    // top border
  EXPECT_EQ(at(301, 7), src(299, 6));  // right border
  EXPECT_EQ(at(511, 7), src(299, 6));  // and beyond the used width
  EXPECT_EQ(at(7, 255), src(6, 199));  // below
  EXPECT_EQ(at(511, 255), src(299, 199));

  // An inner seam: the second tile of a wide row starts with the first
  // one's last content column as its border.
  TRef<TMultiTexture6> wide = Picture(1000, 100);
  wide->Layout();
  ASSERT_EQ(wide->TileCount(), 2);
  TRef<TSysBitmap> l2 = CreateSysBitmap(512, 512, FindPixelFormat(PF_A8R8G8B8));
  TTextureTile* second = wide->Tile(1);
  ASSERT_EQ(second->Position().X, 509);
  second->FillLevel(l2.get());
  EXPECT_EQ(l2->Row32(1)[0], src(509, 0));
  EXPECT_EQ(l2->Row32(1)[1], src(510, 0));
  EXPECT_EQ(l2->Row32(1)[490], src(999, 0));
  EXPECT_EQ(l2->Row32(1)[491], src(999, 0));
  TRef<TSysBitmap> l1 = CreateSysBitmap(512, 512, FindPixelFormat(PF_A8R8G8B8));
  wide->Tile(0)->FillLevel(l1.get());
  EXPECT_EQ(l1->Row32(1)[510], src(509, 0));
  EXPECT_EQ(l1->Row32(1)[511], src(510, 0));

  // A 24-bit picture is converted on the way.
  TRef<TSysBitmap> rgb = zmtest::BitmapOf(PF_R8G8B8, 2, 1, {1, 2, 3, 4, 5, 6});
  mt->SetPicture(rgb.get(), false, false, false, 1, 1, {0, 0, 2, 1});
  mt->Layout();
  TRef<TSysBitmap> l3 = CreateSysBitmap(64, 64, FindPixelFormat(PF_A8R8G8B8));
  ASSERT_EQ(mt->Tile(0)->Size(), (TSize{64, 64}));
  mt->Tile(0)->FillLevel(l3.get());
  EXPECT_EQ(l3->Row32(1)[1] & 0xFFFFFFu, 0x030201u);
  EXPECT_EQ(l3->Row32(63)[63] & 0xFFFFFFu, 0x060504u);
}

namespace {
int gCalls = 0;
int gStopAt = 0;
bool CountingCallback() { return ++gCalls < gStopAt; }
}  // namespace

TEST_F(MultiTexture, FillAbandonedByTheLoadCallbackIsDoneAgainLater) {
  TRef<TMultiTexture6> mt = Picture(300, 200);
  mt->Layout();
  TTextureTile* t = mt->Tile(0);
  TRef<TSysBitmap> level = CreateSysBitmap(512, 256, FindPixelFormat(PF_A8R8G8B8));
  gCalls = 0;
  gStopAt = 10;
  callback_.Set(&CountingCallback);
  t->FillLevel(level.get());
  EXPECT_EQ(gCalls, 10);  // polled once per row up to the refusal
  EXPECT_TRUE(t->NeedsFill());
  gCalls = 0;
  gStopAt = 1000;
  t->FillLevel(level.get());
  EXPECT_EQ(gCalls, 256);
  EXPECT_FALSE(t->NeedsFill());
  EXPECT_EQ(level->Row32(255)[511], 199u << 16 | 299u);
}


// A picture that one tile holds whole takes a tile of exactly its size (and
// border) that no manager keeps; larger ones keep the managers' tiles.
TEST_F(MultiTexture, WholePicturesTakeATileOfTheirOwnSize) {
  manager->FitsWholePictures = true;
  for (auto [w, h] : {std::pair{300, 200}, {1, 1}, {510, 510}, {33, 509}}) {
    TRef<TMultiTexture6> mt = Picture(w, h);
    mt->Layout();
    EXPECT_EQ(Placement(*mt), (std::vector<TPlaced>{{-1, -1, w + 2, h + 2, w + 2, h + 2}})) << w << "x" << h;
    EXPECT_EQ(mt->Tile(0)->Extent(), (TSize{w + 2, h + 2}));
    EXPECT_EQ(mt->Tile(0)->Manager(), nullptr);
  }
  for (std::int32_t i = 0; i < manager->TileManagerCount(); ++i) EXPECT_EQ(manager->TileManager(i)->Tiles()->Count(), 0);
  // One pixel more than a tile holds: the managers' tiles, as before.
  TRef<TMultiTexture6> wide = Picture(511, 10);
  wide->Layout();
  ASSERT_EQ(wide->TileCount(), 2);
  EXPECT_NE(wide->Tile(0)->Manager(), nullptr);
  EXPECT_EQ(manager->GetFittedTile(513, 10), nullptr);
  EXPECT_EQ(manager->GetFittedTile(0, 10), nullptr);
}

// A picture that can be made again is let go once every tile holds its
// piece, and made again when a tile must be filled anew.
TEST_F(MultiTexture, PictureLetGoIsMadeAgainForAFill) {
  manager->FitsWholePictures = true;
  TRef<TMultiTexture6> mt = Picture(300, 200);
  EXPECT_FALSE(mt->LetSourceGo());  // nothing to make it again from
  int made = 0;
  mt->SetPicture(Positions(300, 200).Detach(), true, false, false, 1, 1, {0, 0, 300, 200});
  mt->SetRemake([&made]() -> TRef<TBitmap> {
    ++made;
    return Positions(300, 200);
  });
  mt->Layout();
  EXPECT_FALSE(mt->LetSourceGo());  // its tile is not filled yet
  TRef<TSysBitmap> level = CreateSysBitmap(302, 202, FindPixelFormat(PF_A8R8G8B8));
  mt->Tile(0)->FillLevel(level.get());
  EXPECT_TRUE(mt->LetSourceGo());
  EXPECT_FALSE(mt->HoldsSource());
  EXPECT_EQ(mt->PictureSize(), (TSize{300, 200}));
  EXPECT_EQ(made, 0);
  // The tile filled again (a device lost) reads the picture made anew.
  TRef<TSysBitmap> again = CreateSysBitmap(302, 202, FindPixelFormat(PF_A8R8G8B8));
  mt->Tile(0)->FillLevel(again.get());
  EXPECT_EQ(made, 1);
  EXPECT_EQ(again->Row32(200)[300], 199u << 16 | 299u);
  // A picture made again at another size is not read: the tile shows nothing.
  ASSERT_TRUE(mt->LetSourceGo());
  mt->SetRemake([]() -> TRef<TBitmap> { return Positions(30, 20); });
  mt->Tile(0)->FillLevel(again.get());
  EXPECT_EQ(again->Row32(100)[100], 0u);
  EXPECT_EQ(mt->Source(), nullptr);
}

}  // namespace multi_texture_test
