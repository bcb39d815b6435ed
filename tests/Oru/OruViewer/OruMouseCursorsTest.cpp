// Custom cursors as the program makes them: its own modules, the window
// layer's cursor calls, pixels read back from the cursors made.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatUser.h"
#include "ZmLib/Composite/winMouseCursor.h"
#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "tests/support/TempDir.h"

using namespace zm;

namespace {

// A .cur file with one 32-bit entry of 2 x 2 pixels, hot spot (1, 0).
std::string CurFile() {
  std::string f;
  auto u16 = [&](unsigned v) { f.push_back(char(v & 0xFF)), f.push_back(char((v >> 8) & 0xFF)); };
  auto u32 = [&](unsigned v) { u16(v & 0xFFFF), u16(v >> 16); };
  u16(0), u16(2), u16(1);
  f.push_back(2), f.push_back(2), f.push_back(0), f.push_back(0);
  u16(1), u16(0), u32(40 + 16 + 8), u32(22);
  u32(40), u32(2), u32(4), u16(1), u16(32), u32(0), u32(0), u32(0), u32(0), u32(0), u32(0);
  // Bottom row first: red, green; then blue, transparent.
  u32(0xFFFF0000), u32(0xFF00FF00), u32(0xFF0000FF), u32(0x00000000);
  u32(0), u32(0);  // AND mask
  return f;
}

std::vector<std::uint32_t> PixelsOf(plat::HCURSOR c, int& w, int& h, plat::POINT& hot) {
  w = h = 0;
  if (!plat::CursorPixels(c, nullptr, w, h, hot) || w < 1 || h < 1) return {};
  std::vector<std::uint32_t> px(std::size_t(w) * std::size_t(h));
  plat::CursorPixels(c, px.data(), w, h, hot);
  return px;
}

}  // namespace

TEST(ProgramCursors, MadeFromABitmapAndFromACursorFile) {
  ASSERT_TRUE(plat::InitWindowSystem());
  struct TShutdown {
    ~TShutdown() { plat::ShutdownWindowSystem(); }
  } shutdown;
  ASSERT_TRUE(CursorFromBitmapHook);
  ASSERT_TRUE(LoadCursorHook);
  // A 3 x 2 picture with alpha, hot spot (2, 1).
  auto bmp = MakeRef<TDirectBitmap>(3, PixelFormatByName("A8R8G8B8"), 2);
  const std::uint32_t pixels[6] = {0xFF102030u, 0x80405060u, 0x00000000u, 0xFFFFFFFFu, 0xFF000000u, 0x40FF0000u};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) bmp->Row32(y)[x] = pixels[y * 3 + x];
  const std::int32_t made = CursorFromBitmapHook(bmp.get(), {2, 1});
  ASSERT_GE(made, kCustomCursorBase);
  bool valid = false;
  plat::HCURSOR c = CursorHandle(made, valid);
  ASSERT_TRUE(valid);
  int w, h;
  plat::POINT hot;
  EXPECT_EQ(PixelsOf(c, w, h, hot), std::vector<std::uint32_t>(pixels, pixels + 6));
  EXPECT_EQ(w, 3);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(hot, (plat::POINT{2, 1}));
  // A picture of another pixel format is converted first.
  auto rgb = MakeRef<TDirectBitmap>(2, PixelFormatByName("R8G8B8"), 2);
  EXPECT_EQ(CursorFromBitmapHook(rgb.get(), {0, 0}), made + 1);

  // A cursor file, loaded once and then found by its name.
  zmtest::TTempDir dir;
  const WideString file = plat::FromUtf8(dir.Write("hand.cur", CurFile()));
  const std::int32_t loaded = LoadCursorHook(file);
  ASSERT_GE(loaded, kCustomCursorBase);
  EXPECT_EQ(LoadCursorHook(file), loaded);
  plat::HCURSOR f = CursorHandle(loaded, valid);
  ASSERT_TRUE(valid);
  EXPECT_EQ(PixelsOf(f, w, h, hot), (std::vector<std::uint32_t>{0xFF0000FFu, 0u, 0xFFFF0000u, 0xFF00FF00u}));
  EXPECT_EQ(hot, (plat::POINT{1, 0}));
  // Damaged or missing files and unknown resources make nothing.
  const WideString bad = plat::FromUtf8(dir.Write("bad.cur", CurFile().substr(0, 30)));
  EXPECT_EQ(LoadCursorHook(bad), 0);
  EXPECT_EQ(LoadCursorHook(plat::FromUtf8(dir.Path().string() + "/none.cur")), 0);
  EXPECT_EQ(LoadCursorHook(u"@NOSUCHCURSOR"), 0);

  // Both show as the pointer.
  EXPECT_TRUE(SetMouseCursor(made));
  EXPECT_EQ(plat::GetCursor(), c);
  EXPECT_TRUE(SetMouseCursor(loaded));
  EXPECT_EQ(plat::GetCursor(), f);
  SetMouseCursor(crArrow);
}
