#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ZmLib/Composite/winMouseCursor.h"
#include "ZmLib/Composite/winSurface.h"
#include "Platform/Gdi/PlatFont.h"
#include "Platform/User/PlatUser.h"
#include "ZmLib/Win32/Fonts/winFontUtils.h"

using namespace zm;

namespace {
TRef<TWinSurface> Surface(int w, int h) { return MakeRef<TWinSurface>(w, h); }
}  // namespace

TEST(WinSurface, CellsAndInvalidation) {
  auto s = Surface(20, 10);
  EXPECT_EQ(s->CellsAcross(), 3);
  EXPECT_EQ(s->CellsDown(), 2);
  EXPECT_TRUE(s->Invalidate({0, 0, 1, 1}));
  EXPECT_EQ(s->DirtyCellCount(), 1);
  s->CollectPaintRects();
  EXPECT_EQ(s->DirtyCellCount(), 0);
  EXPECT_TRUE(s->Invalidate({8, 8, 16, 16}));
  EXPECT_EQ(s->DirtyCellCount(), 1);
  EXPECT_TRUE(s->CellDirty(1, 1));
  EXPECT_FALSE(s->Invalidate({5, 5, 5, 9}));       // empty
  EXPECT_FALSE(s->Invalidate({30, 0, 40, 10}));    // outside
  EXPECT_FALSE(s->Invalidate({-10, -10, 0, 0}));   // outside
  EXPECT_EQ(s->DirtyCellCount(), 1);
  EXPECT_TRUE(s->Invalidate({-100, -100, 1000, 1000}));  // clipped to the surface
  EXPECT_EQ(s->DirtyCellCount(), 6);
  EXPECT_EQ(s->DirtyRect(), (TRect{0, 0, 20, 10}));
}

TEST(WinSurface, DirtyRunsAreRowsOfCellsClippedToTheClip) {
  auto s = Surface(40, 20);
  s->Invalidate({0, 0, 16, 8});   // cells 0,1 of row 0
  s->Invalidate({32, 0, 40, 8});  // cell 4 of row 0
  s->Invalidate({8, 8, 9, 9});    // cell 1 of row 1
  TDirtyRunCursor cur;
  TRect run;
  std::vector<TRect> runs;
  while (s->NextDirtyRun({4, 2, 40, 20}, 1, cur, run)) runs.push_back(run);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0], (TRect{4, 2, 16, 8}));
  EXPECT_EQ(runs[1], (TRect{32, 2, 40, 8}));
  EXPECT_EQ(runs[2], (TRect{8, 8, 16, 16}));
  s->CollectPaintRects();
  EXPECT_EQ(s->PaintRects().size(), 3u);
  EXPECT_EQ(s->PaintRects()[2], (TRect{8, 8, 16, 16}));
  EXPECT_TRUE(IsEmptyRect(s->DirtyRect()));
}

TEST(WinSurface, SizesBelowOneAndDibReuse) {
  auto s = Surface(0, -5);
  EXPECT_EQ(s->Width(), 1);
  EXPECT_EQ(s->Height(), 1);
  EXPECT_EQ(s->CellsAcross(), 1);
  s->SetSize(500, 100, false);
  TFastDIB* dib = s->Dib();
  s->SetSize(450, 100, true);
  EXPECT_EQ(s->Dib(), dib);  // shrinking by 50 keeps the DIB
  EXPECT_EQ(s->Width(), 450);
  EXPECT_EQ(s->CellsAcross(), 57);
  s->SetSize(390, 100, true);
  EXPECT_NE(s->Dib(), dib);  // by 110: a new one
  EXPECT_EQ(s->Dib()->Width(), 390);
  s->SetSize(-3, -3, true);
  EXPECT_EQ(s->Width(), 1);
  EXPECT_EQ(s->Dib()->BitCount(), 24);
}

TEST(WinSurface, ResizeKeepsContentAndClipsTheDirtyRectangle) {
  auto s = Surface(16, 16);
  s->Invalidate({0, 0, 16, 16});
  s->FillRect({0, 0, 16, 16}, {10, 20, 30, 255});
  s->SetSize(300, 300, true);  // grows: new DIB, content copied
  EXPECT_EQ(s->Pixel(15, 15), (TColor24{10, 20, 30}));
  EXPECT_EQ(s->Pixel(16, 16), (TColor24{0, 0, 0}));
  s->SetSize(8, 4, true);
  EXPECT_EQ(s->DirtyRect(), (TRect{0, 0, 8, 4}));
  EXPECT_EQ(s->DirtyCellCount(), 1);
}

TEST(WinSurface, DrawingTouchesOnlyDirtyCells) {
  auto s = Surface(32, 16);
  TRectList drawn;
  s->SwapDrawnList(&drawn);
  s->Invalidate({8, 0, 9, 1});  // cell (1, 0)
  s->Invalidate({0, 8, 1, 9});  // cell (0, 1): the dirty rectangle covers (0, 0, 9, 9)
  s->SetOrigin(2, 0);
  s->FillRect({-2, 0, 30, 16}, {0, 0, 255, 255});  // red everywhere after the origin
  s->SwapDrawnList(nullptr);
  EXPECT_EQ(drawn.Count, 1);
  EXPECT_EQ(drawn[0], (TRect{0, 0, 32, 16}));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) {
      // Inside the dirty rectangle and inside a dirty cell; cell (0, 0) stays.
      bool inCell = (x == 8 && y < 8) || (y == 8 && x < 8);
      EXPECT_EQ(s->Pixel(x, y).R, inCell ? 255 : 0) << x << "," << y;
    }
  // Blending moves each channel by alpha / 256 of the distance.
  s->BlendRect({-2, 0, 30, 16}, {255, 0, 0, 128});
  EXPECT_EQ(s->Pixel(8, 0), (TColor24{127, 0, 127}));
  EXPECT_EQ(s->Pixel(0, 0), (TColor24{0, 0, 0}));
}

TEST(WinSurface, BitmapsCopyOrBlendByTheirAlpha) {
  auto s = Surface(16, 8);
  s->Invalidate({0, 0, 16, 8});
  s->FillRect({0, 0, 16, 8}, {0, 0, 0, 255});
  auto b = MakeRef<TDirectBitmap>(2, PixelFormatByName("A8R8G8B8"), 1);
  b->Row32(0)[0] = TColor32{200, 100, 50, 255}.Value();
  b->Row32(0)[1] = TColor32{200, 200, 200, 0}.Value();  // transparent
  s->DrawBitmap(3, 4, b.get());
  EXPECT_EQ(s->Pixel(3, 4), (TColor24{200, 100, 50}));
  EXPECT_EQ(s->Pixel(4, 4), (TColor24{0, 0, 0}));
  auto rgb = MakeRef<TDirectBitmap>(1, PixelFormatByName("R8G8B8"), 1);
  rgb->Row24(0)[0] = {1, 2, 3};
  s->DrawBitmap(15, 7, rgb.get());
  s->DrawBitmap(16, 8, rgb.get());  // outside: nothing
  s->DrawBitmap(0, 0, nullptr);
  EXPECT_EQ(s->Pixel(15, 7), (TColor24{1, 2, 3}));
}

TEST(WinSurface, PaintingCopiesTheCollectedRectanglesAndLayeredMagentaIsTransparent) {
  auto s = Surface(16, 16);
  s->Invalidate({0, 0, 16, 16});
  s->FillRect({0, 0, 16, 16}, {255, 0, 255, 255});  // magenta
  s->FillRect({0, 0, 8, 8}, {1, 2, 3, 255});
  s->CollectPaintRects();
  s->Invalidate({0, 0, 1, 1});
  s->CollectPaintRects();  // only the first cell this time
  auto target = MakeRef<TFastDIB>();
  target->SetSize(20, -20, 32);  // top-down
  ASSERT_TRUE(s->PaintTo(target->Dc(), 2, 2));
  EXPECT_EQ(TColor32::FromValue(target->Pixels32(2)[2]).R, 3);
  EXPECT_EQ(target->Pixels32(12)[12], 0u);  // not collected: not copied
  const TRect all{0, 0, 16, 16};
  ASSERT_TRUE(s->PaintLayeredTo(target->Dc(), 0, 0, &all, 1));
  EXPECT_EQ(target->Pixels32(12)[12], kLayeredTransparent);
  EXPECT_EQ(TColor32::FromValue(target->Pixels32(0)[0]).A, 255);
  EXPECT_EQ(s->AlphaDib()->BitCount(), 32);
  // Rectangles outside the surface copy nothing and do not fail.
  const TRect outside{100, 100, 120, 120};
  EXPECT_TRUE(s->PaintRectsTo(target->Dc(), 0, 0, &outside, 1));
}

TEST(WinSurface, ChangedFlagNotifiesOnlyOnChange) {
  auto s = Surface(4, 4);
  int calls = 0;
  s->OnChanged = [&](TWinSurface*) { ++calls; };
  s->SetChanged(true);
  s->SetChanged(true);
  s->SetChanged(false);
  EXPECT_EQ(calls, 2);
}

TEST(WinContextWrapper, BindsNestAndRefuseAnotherContext) {
  auto a = MakeRef<TFastDIB>(), b = MakeRef<TFastDIB>();
  a->SetSize(4, 4, 24);
  b->SetSize(4, 4, 24);
  auto w = MakeRef<TWinContextWrapper>();
  EXPECT_EQ(w->Font().Name, u"Tahoma");
  EXPECT_FLOAT_EQ(w->Font().Size, 10);
  EXPECT_ANY_THROW(w->Unbind());
  EXPECT_ANY_THROW(w->GetTextMetrics());
  w->Bind(a->Dc());
  w->Bind(a->Dc());
  EXPECT_ANY_THROW(w->Bind(b->Dc()));
  EXPECT_EQ(w->BindCount(), 2);
  TTextMetricsInfo m = w->GetTextMetrics();
  EXPECT_EQ(m.Ascent + m.Descent, m.Height);
  EXPECT_GT(m.Height, 0);
  int made = w->FontsMade(), colors = w->ColorsApplied();
  TFontParams f = w->Font();
  f.TextColor = {9, 9, 9};
  w->SetFont(f);  // colours only
  EXPECT_EQ(w->FontsMade(), made);
  EXPECT_EQ(w->ColorsApplied(), colors + 1);
  f.Size = 12;
  w->SetFont(f);
  EXPECT_EQ(w->FontsMade(), made + 1);
  w->Unbind();
  w->Unbind();
  EXPECT_EQ(w->Dc(), nullptr);
  w->Bind(b->Dc());  // free again: another context is fine
  w->Unbind();
}

// The font is selected into the context while bound, its metrics are the
// font's own, and the context gets its old font back at the last unbind.
TEST(WinContextWrapper, SelectsItsFontAndReadsItsMetrics) {
  auto dib = MakeRef<TFastDIB>();
  dib->SetSize(4, 4, 24);
  plat::HDC dc = dib->Dc();
  auto face = [dc] {
    char16_t name[plat::LF_FACESIZE] = {};
    const int n = plat::GetTextFaceW(dc, plat::LF_FACESIZE, name);
    return n > 1 ? std::u16string(name, std::size_t(n - 1)) : std::u16string();
  };
  const std::u16string before = face();
  auto w = MakeRef<TWinContextWrapper>();
  TFontParams f = MakeFontParams(u"Arial", fsBold, false, 24, {1, 2, 3}, {4, 5, 6});
  w->SetFont(f);
  w->Bind(dc);
  EXPECT_EQ(face(), u"Liberation Sans");
  EXPECT_EQ(plat::GetTextColor(dc), plat::RGB(3, 2, 1));
  EXPECT_EQ(plat::GetBkColor(dc), plat::RGB(6, 5, 4));
  const TTextMetricsInfo m = w->GetTextMetrics();
  TWinFontUtils utils;
  const TTextMetricsRec expected = utils.GetTextMetrics(f);
  EXPECT_EQ(m.Ascent, expected.Ascent);
  EXPECT_EQ(m.Descent, expected.Descent);
  EXPECT_EQ(m.Height, expected.Height);
  // Another face while bound is selected at once.
  f.Name = u"Courier New";
  w->SetFont(f);
  EXPECT_EQ(face(), u"Liberation Mono");
  w->Unbind();
  EXPECT_EQ(face(), before);
  // A face name longer than GDI holds is cut, not refused.
  f.Name = std::u16string(40, u'x');
  w->SetFont(f);
  EXPECT_NE(w->FontHandle(), nullptr);
}

TEST(WinSurface, SharedScreenContextIsCounted) {
  int before = SharedScreenDCUsers();
  plat::HDC a = AcquireSharedScreenDC();
  plat::HDC b = AcquireSharedScreenDC();
  EXPECT_EQ(a, b);
  ReleaseSharedScreenDC();
  ReleaseSharedScreenDC();
  ReleaseSharedScreenDC();  // unbalanced: ignored
  EXPECT_EQ(SharedScreenDCUsers(), before);
}

// ---- Mouse cursors -------------------------------------------------------------------

namespace {
int gMade = 0, gDestroyed = 0;
plat::HCURSOR FakeCursor(std::uintptr_t v) { return reinterpret_cast<plat::HCURSOR>(v); }
}  // namespace

TEST(MouseCursor, NumbersMapToCursorsAndChangesAreSkippedWhenCurrent) {
  ASSERT_TRUE(plat::InitWindowSystem());
  EXPECT_TRUE(SetMouseCursor(crIBeam));
  EXPECT_EQ(plat::GetCursor(), plat::LoadCursorW(nullptr, plat::IDC_IBEAM));
  EXPECT_TRUE(SetMouseCursor(crIBeam));  // already current
  EXPECT_TRUE(SetMouseCursor(12345 - 12400));  // unknown numbers are the arrow
  EXPECT_EQ(plat::GetCursor(), plat::LoadCursorW(nullptr, plat::IDC_ARROW));
  EXPECT_TRUE(SetMouseCursor(crWait));
  EXPECT_EQ(plat::GetCursor(), plat::LoadCursorW(nullptr, plat::IDC_WAIT));
  EXPECT_TRUE(SetMouseCursor(crNone));  // hides the pointer
  EXPECT_EQ(plat::GetCursor(), nullptr);
  EXPECT_FALSE(SetMouseCursor(kCustomCursorBase + 5000));  // no such custom cursor
  EXPECT_EQ(plat::GetCursor(), nullptr);
  SetMouseCursor(crArrow);
  plat::ShutdownWindowSystem();
}

TEST(MouseCursor, CustomCursorsFromBitmapsAndNames) {
  TCursorPlatform saved = CursorPlatform;
  gMade = gDestroyed = 0;
  // Without the platform calls nothing can be made.
  CursorPlatform = TCursorPlatform{};
  auto bmp = MakeRef<TDirectBitmap>(4, PixelFormatByName("R8G8B8"), 4);
  EXPECT_EQ(CursorFromBitmap(bmp.get(), {1, 1}), 0);
  EXPECT_EQ(LoadCursorByName(u"@HAND"), 0);

  CursorPlatform.FromPixels = [](const std::uint32_t* px, std::int32_t w, std::int32_t h, TPoint) {
    ++gMade;
    return (w == 4 && h == 4 && px) ? FakeCursor(0x1000 + gMade) : nullptr;
  };
  CursorPlatform.FromResource = [](const WideString& n) { return n == u"HAND" ? FakeCursor(0x2000) : nullptr; };
  CursorPlatform.FromFile = [](const WideString& n) { return n == u"x.cur" ? FakeCursor(0x3000) : nullptr; };
  CursorPlatform.Destroy = [](plat::HCURSOR) { ++gDestroyed; };
  int base = CustomCursorCount();
  std::int32_t n = CursorFromBitmap(bmp.get(), {1, 1});
  EXPECT_EQ(n, kCustomCursorBase + base);
  bool valid = false;
  EXPECT_EQ(CursorHandle(n, valid), FakeCursor(0x1000 + gMade));
  EXPECT_TRUE(valid);
  EXPECT_EQ(CursorFromBitmap(nullptr, {}), 0);
  std::int32_t r = LoadCursorByName(u"@HAND");
  EXPECT_EQ(r, n + 1);
  EXPECT_EQ(LoadCursorByName(u"@HAND"), r);  // cached
  EXPECT_EQ(LoadCursorByName(u"@"), 0);       // too short for a resource: a file name, not found
  EXPECT_EQ(LoadCursorByName(u"x.cur"), r + 1);
  EXPECT_EQ(LoadCursorByName(u""), 0);
  EXPECT_EQ(CustomCursorCount(), base + 3);
  // At exit only the cursors made from bitmaps are destroyed.
  FiniMouseCursor();
  EXPECT_EQ(gDestroyed, 1);
  EXPECT_EQ(CustomCursorCount(), 0);
  InitMouseCursor();
  CursorPlatform = saved;
}
