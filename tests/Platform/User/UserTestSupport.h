#pragma once
// A fixture for the window manager's tests: a fresh headless window system,
// a recording window class, and helpers to pump the queue.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"

namespace usertest {

struct TRecord {
  plat::HWND Hwnd;
  plat::UINT Msg;
  plat::WPARAM W;
  plat::LPARAM L;
};

// Messages seen by windows of the recording class; a test may handle any
// message itself through OnMessage (return true when handled).
class TRecorder {
public:
  static TRecorder& Get();
  std::vector<TRecord> Log;
  std::function<bool(plat::HWND, plat::UINT, plat::WPARAM, plat::LPARAM, plat::LRESULT&)> OnMessage;
  std::mutex M;
  void Clear() {
    std::lock_guard<std::mutex> l(M);
    Log.clear();
  }
  std::vector<plat::UINT> Msgs(plat::HWND h, const std::vector<plat::UINT>& only = {});
  std::vector<TRecord> Of(plat::UINT msg);
};

plat::LRESULT RecordingProc(plat::HWND h, plat::UINT m, plat::WPARAM w, plat::LPARAM l);

class UserTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
  // A window of the recording class ("Rec", CS_DBLCLKS unless told).
  plat::HWND Make(plat::DWORD style = plat::WS_OVERLAPPEDWINDOW, plat::HWND parent = nullptr,
                  plat::RECT r = {100, 100, 420, 340}, plat::DWORD exStyle = 0);
  // Dispatches every queued message.
  void Pump() { plat::headless::PumpUntilIdle(); }
  plat::UINT classStyle_ = plat::CS_DBLCLKS;
};

using namespace plat;


inline TRecorder& TRecorder::Get() {
  static TRecorder r;
  return r;
}

inline std::vector<UINT> TRecorder::Msgs(HWND h, const std::vector<UINT>& only) {
  std::lock_guard<std::mutex> l(M);
  std::vector<UINT> r;
  for (auto& e : Log)
    if ((!h || e.Hwnd == h) && (only.empty() || std::find(only.begin(), only.end(), e.Msg) != only.end()))
      r.push_back(e.Msg);
  return r;
}

inline std::vector<TRecord> TRecorder::Of(UINT msg) {
  std::lock_guard<std::mutex> l(M);
  std::vector<TRecord> r;
  for (auto& e : Log)
    if (e.Msg == msg) r.push_back(e);
  return r;
}

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

inline void UserTest::SetUp() {
  ASSERT_TRUE(InitWindowSystem());
  headless::ResetForTests();
  TRecorder::Get().Clear();
  TRecorder::Get().OnMessage = nullptr;
  WNDCLASSW wc{};
  wc.style = classStyle_;
  wc.lpfnWndProc = &RecordingProc;
  wc.lpszClassName = u"Rec";
  wc.cbWndExtra = 16;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  ASSERT_NE(RegisterClassW(&wc), 0);
}

inline void UserTest::TearDown() {
  TRecorder::Get().OnMessage = nullptr;
  headless::ResetForTests();
  ShutdownWindowSystem();
}

inline HWND UserTest::Make(DWORD style, HWND parent, RECT r, DWORD exStyle) {
  HWND h = CreateWindowExW(exStyle, u"Rec", u"w", style, r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
                           nullptr, ModuleInstance(), nullptr);
  EXPECT_NE(h, nullptr);
  return h;
}

}  // namespace usertest
