#include "ZmLib/Win32/winWndAPI.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/Win32/winVirtualMemoryManager.h"

using namespace zm;
using namespace plat;

namespace {

// ---- the allocator, over fake pages ------------------------------------------------

class TFakePages : public TVirtualPageSource {
public:
  std::map<void*, std::size_t> Live;
  int Allocs = 0;
  void* AllocPages(std::size_t size) override {
    ++Allocs;
    void* p = ::operator new(size);
    Live[p] = size;
    return p;
  }
  void FreePages(void* base, std::size_t size) override {
    EXPECT_EQ(Live[base], size);
    Live.erase(base);
    ::operator delete(base);
  }
  void SetWritable(void*, std::size_t, bool) override {}
};

TEST(VirtualMemory, StubsSharePagesAndFreedPagesGoBack) {
  TFakePages pages;
  auto* mem = new TVirtualMemory(pages);
  mem->AfterConstruction();
  auto* a = static_cast<std::uint8_t*>(mem->Alloc(20));
  auto* b = static_cast<std::uint8_t*>(mem->Alloc(13));
  EXPECT_EQ(pages.Allocs, 1);
  EXPECT_EQ(b, a + 20);
  EXPECT_FALSE(mem->FreeMem(a));
  EXPECT_TRUE(mem->FreeMem(b));  // the page is free again and goes back
  EXPECT_TRUE(pages.Live.empty());
  // First fit reuses a hole; free neighbours merge on both sides.
  std::uint8_t* p[4];
  for (auto*& q : p) q = static_cast<std::uint8_t*>(mem->Alloc(100));
  mem->FreeMem(p[1]);
  EXPECT_EQ(mem->Alloc(60), p[1]);  // split: 40 bytes stay free behind it
  EXPECT_EQ(mem->Alloc(40), p[1] + 60);
  for (void* q : {p[1], p[1] + 60, p[2], p[0]}) mem->FreeMem(q);
  EXPECT_EQ(mem->Alloc(300), p[0]);  // the three merged pieces
  // A request larger than a page takes a block of its own.
  void* big = mem->Alloc(5000);
  EXPECT_EQ(pages.Live[big], 8192u);
  mem->FreeMem(big);
  mem->FreeMem(p[0]);
  EXPECT_TRUE(mem->FreeMem(p[3]));
  EXPECT_TRUE(pages.Live.empty());
  int dummy;
  EXPECT_THROW(mem->FreeMem(&dummy), EAbort);
  mem->Free();
}

// ---- stubs -------------------------------------------------------------------------

struct TTarget {
  std::uint64_t Seen[4] = {};
  int Calls = 0;
};

LRESULT WndMethod(void* self, HWND h, UINT m, WPARAM w, LPARAM l) {
  auto* t = static_cast<TTarget*>(self);
  t->Seen[0] = reinterpret_cast<std::uintptr_t>(h);
  t->Seen[1] = m;
  t->Seen[2] = w;
  t->Seen[3] = std::uint64_t(l);
  return ++t->Calls * 1000;
}

LRESULT HookMethod(void* self, int code, WPARAM w, LPARAM l) {
  auto* t = static_cast<TTarget*>(self);
  t->Seen[0] = std::uint64_t(std::int64_t(code));
  t->Seen[1] = w;
  t->Seen[2] = std::uint64_t(l);
  return -7;
}

TEST(Thunks, CallsWithWideArguments) {
  TTarget t, u;
  WNDPROC wp = MakeWndProcThunk(&t, &WndMethod);
  HOOKPROC hp = MakeHookThunk(&t, &HookMethod);
  EXPECT_EQ(ExecutablePageCount(), 1);  // both in one page
  using TSeen = std::vector<std::uint64_t>;
  HWND h = reinterpret_cast<HWND>(std::uintptr_t(0xA1A2A3A4A5A6A7A8));
  EXPECT_EQ(wp(h, 0xB1B2B3B4, WPARAM(0xC1C2C3C4C5C6C7C8), LPARAM(0xD1D2D3D4D5D6D7D8)), 1000);
  EXPECT_EQ(TSeen(t.Seen, t.Seen + 4),
            (TSeen{0xA1A2A3A4A5A6A7A8u, 0xB1B2B3B4u, 0xC1C2C3C4C5C6C7C8u, 0xD1D2D3D4D5D6D7D8u}));
  EXPECT_EQ(hp(-3, WPARAM(0xE1E2E3E4E5E6E7E8), LPARAM(0x0F0E0D0C0B0A0908)), -7);
  EXPECT_EQ(TSeen(t.Seen, t.Seen + 3), (TSeen{std::uint64_t(-3), 0xE1E2E3E4E5E6E7E8u, 0x0F0E0D0C0B0A0908u}));
  // Retargeting rewrites the stub in place.
  RetargetThunk(reinterpret_cast<const void*>(wp), &u, reinterpret_cast<const void*>(&WndMethod));
  wp(h, 1, 2, 3);
  EXPECT_EQ(u.Calls, 1);
  EXPECT_EQ(t.Calls, 1);
  FreeThunk(reinterpret_cast<const void*>(wp));
  FreeThunk(reinterpret_cast<const void*>(hp));
  EXPECT_EQ(ExecutablePageCount(), 0);
}

// ---- TWndAPI over the headless window system -----------------------------------------

class WndAPI : public ::testing::Test {
protected:
  void SetUp() override {
    headless::ResetForTests();
    WNDCLASSW wc{};
    wc.lpfnWndProc = &ClassProc;
    wc.lpszClassName = u"WndApiTest";
    ASSERT_NE(WndAPIClass->RegisterClass(wc), 0);
    Log().clear();
  }
  void TearDown() override { headless::ResetForTests(); }
  static std::vector<std::string>& Log() {
    static std::vector<std::string> l;
    return l;
  }
  static LRESULT ClassProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_USER) Log().push_back("class");
    return DefWindowProcW(h, m, w, l);
  }
  HWND Make(std::uint32_t style = WS_OVERLAPPEDWINDOW, HWND parent = nullptr) {
    TWndCreateParams p;
    p.ClassName = u"WndApiTest";
    p.WindowName = u"Caption";
    p.Style = style;
    p.X = 10, p.Y = 20, p.Width = 300, p.Height = 200;
    p.Parent = parent;
    return WndAPIClass->CreateWindow(p);
  }
};

TEST_F(WndAPI, BoundsAndPlacement) {
  TWndAPI& api = *WndAPIClass;
  HWND h = Make();
  ASSERT_NE(h, nullptr);
  HWND child = Make(WS_CHILD | WS_VISIBLE, h);
  EXPECT_EQ(api.GetWindowBounds(child), (TRect{10, 20, 310, 220}));  // in the parent's client area
  // A minimised window reports its restored rectangle.
  api.ShowWindow(h, ssShowMinimized, true);
  EXPECT_TRUE(IsIconic(h));
  EXPECT_EQ(api.GetWindowBounds(h), (TRect{10, 20, 310, 220}));
  EXPECT_EQ(api.GetWindowBounds(reinterpret_cast<HWND>(std::uintptr_t(77))), TRect{});
  // The placement path stores the state without showing the window.
  h = Make();
  EXPECT_TRUE(WndAPIClass->ShowWindow(h, ssShowMaximized, false));
  EXPECT_FALSE(IsWindowVisible(h));
  WINDOWPLACEMENT wp;
  GetWindowPlacement(h, &wp);
  EXPECT_EQ(wp.showCmd, UINT(SW_SHOWMAXIMIZED));
  EXPECT_FALSE(WndAPIClass->ShowWindow(h, 12, true));  // no such state
  EXPECT_TRUE(WndAPIClass->ShowWindow(h, ssShow, true));
  EXPECT_TRUE(IsZoomed(h));
}

// ---- subclassing -------------------------------------------------------------------

struct TSub {
  WNDPROC Previous = nullptr;
  std::vector<std::string>* Log;
  static LRESULT Handler(void* data, TWndProcArgs* a) {
    auto* s = static_cast<TSub*>(data);
    if (a->Msg == WM_USER) s->Log->push_back("sub");
    return CallWindowProcW(s->Previous, a->Window, a->Msg, a->WParam, a->LParam);
  }
};

WNDPROC gForeignPrevious = nullptr;
LRESULT ForeignProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  return CallWindowProcW(gForeignPrevious, h, m, w, l);
}

TEST_F(WndAPI, SubclassAndRemove) {
  HWND h = Make();
  TSub s;
  s.Log = &Log();
  s.Previous = TWndAPI::SubclassWindow(h, &TSub::Handler, &s);
  EXPECT_EQ(s.Previous, &ClassProc);
  SendMessageW(h, WM_USER, 0, 0);
  EXPECT_EQ(Log(), (std::vector<std::string>{"sub", "class"}));
  TWndAPI::UnsubclassWindow(h, &TSub::Handler, &s, s.Previous);
  EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(h, GWLP_WNDPROC)), &ClassProc);
  EXPECT_EQ(ExecutablePageCount(), 0);
  EXPECT_THROW(TWndAPI::UnsubclassWindow(h, &TSub::Handler, &s, s.Previous), EAbort);
  // Only the UI thread subclasses.
  bool raised = false;
  std::thread([&] {
    try {
      TWndAPI::SubclassWindow(h, &TSub::Handler, &s);
    } catch (const EAbort&) {
      raised = true;
    }
  }).join();
  EXPECT_TRUE(raised);
  EXPECT_THROW(TWndAPI::SubclassWindow(reinterpret_cast<HWND>(std::uintptr_t(99)), &TSub::Handler, &s), EAbort);
  // Removed under another component's subclass: the stub stays, passing messages on, until the window goes.
  Log().clear();
  s.Previous = TWndAPI::SubclassWindow(h, &TSub::Handler, &s);
  gForeignPrevious = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ForeignProc)));
  TWndAPI::UnsubclassWindow(h, &TSub::Handler, &s, s.Previous);
  EXPECT_EQ(SubclassRecordCount(), 1);
  SendMessageW(h, WM_USER, 0, 0);
  EXPECT_EQ(Log(), std::vector<std::string>{"class"});
  DestroyWindow(h);
  EXPECT_EQ(SubclassRecordCount(), 0);
  EXPECT_EQ(ExecutablePageCount(), 0);
  // Removed after the window was destroyed.
  h = Make();
  s.Previous = TWndAPI::SubclassWindow(h, &TSub::Handler, &s);
  DestroyWindow(h);
  TWndAPI::UnsubclassWindow(h, &TSub::Handler, &s, s.Previous);
  EXPECT_EQ(SubclassRecordCount(), 0);
}

}  // namespace
