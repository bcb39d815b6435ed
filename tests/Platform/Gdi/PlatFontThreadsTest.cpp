#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "Platform/Gdi/PlatFont.h"
#include "Platform/Gdi/PlatFontInternal.h"

using namespace plat;

namespace {

LOGFONTW ThreadFontLog(const char16_t* face, LONG height, LONG weight) {
  LOGFONTW log;
  log.lfHeight = height;
  log.lfWeight = weight;
  for (int i = 0; face[i] && i < 31; ++i) log.lfFaceName[i] = face[i];
  return log;
}

// What one thread measures and draws with a font of its own in a DC of its own.
struct TThreadResult {
  SIZE Extent{};
  long Ink = 0;
  bool Ok = false;
};

TThreadResult MeasureAndDraw(const LOGFONTW& log, HFONT shared) {
  TThreadResult r;
  BITMAPINFO info{};
  info.bmiHeader = {40, 64, -32, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ oldBitmap = SelectObject(dc, reinterpret_cast<HGDIOBJ>(bitmap));
  HFONT font = CreateFontIndirectW(&log);
  HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HGDIOBJ>(font));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  r.Ok = bitmap && font && GetTextExtentPoint32W(dc, u"Wave 42", 7, &r.Extent) &&
         ExtTextOutW(dc, 1, 1, 0, nullptr, u"Wave 42", 7, nullptr);
  // The shared handle realised at the same moment by every thread.
  r.Ok = r.Ok && gdi::RealiseFont(shared) != nullptr;
  for (int i = 0; i < 64 * 32; ++i) r.Ink += static_cast<std::uint8_t*>(bits)[i * 4];
  SelectObject(dc, oldFont);
  DeleteObject(reinterpret_cast<HGDIOBJ>(font));
  SelectObject(dc, oldBitmap);
  DeleteDC(dc);
  DeleteObject(reinterpret_cast<HGDIOBJ>(bitmap));
  return r;
}

}  // namespace

// Fonts are made, measured and drawn from several threads (the font worker,
// background rendering, the UI): every thread must see what one thread alone sees.
TEST(FontThreadsTest, ThreadsCreateMeasureAndDrawFontsAtOnce) {
  ASSERT_TRUE(gdi::UseTestFonts());
  const int baseline = LiveGdiObjectCount();
  const LOGFONTW logs[] = {
      ThreadFontLog(u"Arial", -13, 0),          ThreadFontLog(u"Arial", -21, FW_BOLD),
      ThreadFontLog(u"Tahoma", -11, 0),         ThreadFontLog(u"Times New Roman", -17, 0),
      ThreadFontLog(u"Microsoft YaHei UI", -15, FW_BOLD), ThreadFontLog(u"Unknown Face", -9, 0),
  };
  constexpr int kKinds = sizeof(logs) / sizeof(logs[0]);
  const LOGFONTW sharedLog = ThreadFontLog(u"Courier New", -14, 0);
  HFONT shared = CreateFontIndirectW(&sharedLog);
  TThreadResult expected[kKinds];
  for (int k = 0; k < kKinds; ++k) {
    expected[k] = MeasureAndDraw(logs[k], shared);
    ASSERT_TRUE(expected[k].Ok);
    ASSERT_GT(expected[k].Ink, 0);
  }
  constexpr int kThreads = 6, kRounds = 20;
  std::atomic<int> mismatches{0}, ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();  // start together
      for (int i = 0; i < kRounds; ++i) {
        const int k = (t + i) % kKinds;
        const TThreadResult r = MeasureAndDraw(logs[k], shared);
        if (!r.Ok || r.Extent.cx != expected[k].Extent.cx || r.Extent.cy != expected[k].Extent.cy ||
            r.Ink != expected[k].Ink)
          mismatches.fetch_add(1);
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_TRUE(DeleteObject(reinterpret_cast<HGDIOBJ>(shared)));
  EXPECT_EQ(LiveGdiObjectCount(), baseline);
}
