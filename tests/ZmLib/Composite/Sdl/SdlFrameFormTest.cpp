// A frame form on the real SDL display (run under a virtual X server with
// ZM_DISPLAY=sdl): its painted frames are read back from the screen.
#include <gtest/gtest.h>

#include "Platform/PlatSystem.h"
#include "Platform/User/PlatUser.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Application2/zmTimer2.h"
#include "ZmLib/Composite/winControlStyles.h"
#include "ZmLib/Composite/winFrameForms.h"

using namespace zm;

namespace {

class TPanel : public TFrameControl {
public:
  using TFrameControl::TFrameControl;
  TColor32 Color;
  void Paint(TDrawSurface* s) override { s->FillRect({0, 0, Width(), Height()}, Color); }
};

struct TBoxDesc {
  TRect R;
  TColor32 C;
};

// Pumps until the condition holds or five seconds pass.
template <class F>
bool PumpUntil(F done) {
  std::uint32_t start = plat::TickCount32();
  plat::MSG m;
  while (!done()) {
    if (plat::TickCount32() - start > 5000) return false;
    if (plat::PeekMessageW(&m, nullptr, 0, 0, plat::PM_REMOVE)) {
      plat::TranslateMessage(&m);
      plat::DispatchMessageW(&m);
    } else {
      plat::WaitMessageTimeout(20);
    }
  }
  return true;
}

}  // namespace

// The client area (128 x 96) is sampled on a 64 x 48 grid (every second
// pixel) and compared with the picture the layout defines: each channel may
// differ by 8, and at most 1% of the samples may miss (none should).
TEST(SdlFrameForm, PaintedFramesShowOnTheScreen) {
  ASSERT_TRUE(plat::InitWindowSystem());
  ASSERT_EQ(plat::WindowSystemBackEnd(), "sdl") << "no display server: run under xvfb-run";
  auto* app = new TZmApplication();
  app->AfterConstruction();
  app->Initialize();
  auto* form = static_cast<TWinFrameForm*>(CreateFrameFormHook(NormalFormStyle));
  ASSERT_NE(form, nullptr);
  form->SetBounds({60, 60, 60 + 128, 60 + 96});
  const TBoxDesc boxes[] = {{{8, 8, 48, 40}, {0, 0, 255, 255}},
                            {{64, 16, 112, 64}, {0, 200, 0, 255}},
                            {{16, 56, 112, 88}, {200, 64, 16, 255}},
                            {{40, 30, 80, 70}, {40, 220, 250, 255}}};  // on top of the others
  for (const auto& b : boxes) {
    TPanel* p = NewControl<TPanel>(form->RootControl());
    p->Color = b.C;
    p->SetPosition(b.R.Left, b.R.Top);
    p->SetSize(b.R.Right - b.R.Left, b.R.Bottom - b.R.Top);
  }
  form->SetVisible(true);
  plat::HWND h = form->WinForm()->WindowHandle();
  ASSERT_NE(h, nullptr);
  TColor32 face = SysColor32(plat::COLOR_BTNFACE);
  auto expected = [&](int x, int y) {
    TColor32 c = face;
    for (const auto& b : boxes)
      if (x >= b.R.Left && x < b.R.Right && y >= b.R.Top && y < b.R.Bottom) c = b.C;
    return c;
  };
  auto near = [](std::uint32_t px, TColor32 c) {
    auto d = [](int a, int b) { return a > b ? a - b : b - a; };
    return d(int(px & 255), c.B) <= 8 && d(int((px >> 8) & 255), c.G) <= 8 && d(int((px >> 16) & 255), c.R) <= 8;
  };
  std::uint32_t px = 0;
  ASSERT_TRUE(PumpUntil([&] { return plat::ReadNativePixel(h, {60, 50}, px) && near(px, expected(60, 50)); }));
  int misses = 0;
  for (int gy = 0; gy < 48; ++gy)
    for (int gx = 0; gx < 64; ++gx) {
      int x = gx * 2, y = gy * 2;
      if (!plat::ReadNativePixel(h, {x, y}, px) || !near(px, expected(x, y))) ++misses;
    }
  EXPECT_LE(misses, 64 * 48 / 100) << misses << " of 3072 samples differ";
  form->Free();
  ProcessDeferredFrees();
  FiniZmTimer2();
  app->Finalize();
  app->Free();
}
