#pragma once
// A fixture for the window manager's tests: a fresh headless window system,
// a recording window class, and helpers to pump the queue.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "Platform/Gdi/PlatGdi.h"
#include "Platform/PlatSystem.h"
#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"

namespace usertest {

using namespace plat;

struct TRecord {
  HWND Hwnd;
  UINT Msg;
  WPARAM W;
  LPARAM L;
};

// Messages seen by windows of the recording class; a test may handle any
// message itself through OnMessage (return true when handled).
struct TRecorder {
  static TRecorder& Get() {
    static TRecorder r;
    return r;
  }
  std::vector<TRecord> Log;
  std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT&)> OnMessage;
  std::mutex M;
  void Clear() {
    std::lock_guard<std::mutex> l(M);
    Log.clear();
  }
  // The messages of h (or of every window), optionally only those listed.
  std::vector<UINT> Msgs(HWND h, const std::vector<UINT>& only = {}) {
    std::lock_guard<std::mutex> l(M);
    std::vector<UINT> r;
    for (auto& e : Log)
      if ((!h || e.Hwnd == h) && (only.empty() || std::find(only.begin(), only.end(), e.Msg) != only.end()))
        r.push_back(e.Msg);
    return r;
  }
  std::vector<TRecord> Of(UINT msg) {
    std::lock_guard<std::mutex> l(M);
    std::vector<TRecord> r;
    for (auto& e : Log)
      if (e.Msg == msg) r.push_back(e);
    return r;
  }
};

inline LRESULT RecordingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  TRecorder& r = TRecorder::Get();
  {
    std::lock_guard<std::mutex> g(r.M);
    r.Log.push_back({h, m, w, l});
  }
  LRESULT res = 0;
  if (r.OnMessage && r.OnMessage(h, m, w, l, res)) return res;
  return DefWindowProcW(h, m, w, l);
}

// Dispatches messages until done() holds or timeoutMs pass: a real display's
// events come when its server sends them.
template <class F>
bool PumpMessagesUntil(F done, std::uint32_t timeoutMs = 5000) {
  const std::uint32_t start = TickCount32();
  MSG m;
  while (!done()) {
    if (TickCount32() - start > timeoutMs) return false;
    if (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    } else {
      WaitMessageTimeout(20);
    }
  }
  return true;
}

// The header of a 32-bit top-down DIB of w x h pixels.
inline BITMAPINFO Dib32Info(int w, int h) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = 40;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  return info;
}

// A 32-bit top-down DIB in a memory DC, every pixel one B, G, R, A word.
struct TDibSource {
  HDC Dc = nullptr;
  HBITMAP Bitmap = nullptr;
  HGDIOBJ Old = nullptr;
  std::uint32_t* Bits = nullptr;
  TDibSource(int w, int h, std::uint32_t bgra) {
    BITMAPINFO info = Dib32Info(w, h);
    void* p = nullptr;
    Bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &p, nullptr, 0);
    Bits = static_cast<std::uint32_t*>(p);
    std::fill_n(Bits, std::size_t(w) * h, bgra);
    Dc = CreateCompatibleDC(nullptr);
    Old = SelectObject(Dc, reinterpret_cast<HGDIOBJ>(Bitmap));
  }
  ~TDibSource() {
    SelectObject(Dc, Old);
    DeleteDC(Dc);
    DeleteObject(reinterpret_cast<HGDIOBJ>(Bitmap));
  }
  TDibSource(const TDibSource&) = delete;
  TDibSource& operator=(const TDibSource&) = delete;
};

class UserTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(InitWindowSystem());
    headless::ResetForTests();
    TRecorder::Get().Clear();
    TRecorder::Get().OnMessage = nullptr;
    WNDCLASSW wc{};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = &RecordingProc;
    wc.lpszClassName = u"Rec";
    wc.cbWndExtra = 16;
    ASSERT_NE(RegisterClassW(&wc), 0);
  }
  void TearDown() override {
    TRecorder::Get().OnMessage = nullptr;  // it may refer to the test's locals
    headless::ResetForTests();
    ShutdownWindowSystem();
  }
  // A window of the recording class.
  HWND Make(DWORD style = WS_OVERLAPPEDWINDOW, HWND parent = nullptr, RECT r = {100, 100, 420, 340}) {
    HWND h = CreateWindowExW(0, u"Rec", u"w", style, r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
                             nullptr, ModuleInstance(), nullptr);
    EXPECT_NE(h, nullptr);
    return h;
  }
  // Dispatches every queued message.
  void Pump() { headless::PumpUntilIdle(); }
};

}  // namespace usertest
