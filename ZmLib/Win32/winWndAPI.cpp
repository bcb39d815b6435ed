#include "ZmLib/Win32/winWndAPI.h"

#include <cstring>

#include "Platform/PlatSystem.h"
#include "ZmLib/Win32/winVirtualMemoryManager.h"
#include "ZmLib/zmHookScope.h"

namespace zm {

using namespace plat;

int ShowStateCommand(int state) {
  static const int kCommands[12] = {SW_HIDE,          SW_MAXIMIZE,        SW_MINIMIZE, SW_RESTORE,
                                    SW_SHOW,          SW_SHOWDEFAULT,     SW_SHOWMAXIMIZED, SW_SHOWMINIMIZED,
                                    SW_SHOWMINNOACTIVE, SW_SHOWNA,        SW_SHOWNOACTIVATE, SW_SHOWNORMAL};
  return state >= 0 && state < 12 ? kCommands[state] : -1;
}

// ============================================================================
// TWndAPI
// ============================================================================

WideChar* TWndAPI::AllocTextBuffer(int n) { return new WideChar[std::size_t(n > 0 ? n : 1)](); }

void TWndAPI::FreeTextBuffer(WideChar* buffer) { delete[] buffer; }

WideChar* TWndAPI::CopyStringToBuffer(const WideString& s) {
  if (s.empty()) return nullptr;
  WideChar* b = AllocTextBuffer(int(s.size()) + 1);
  std::memcpy(b, s.data(), s.size() * sizeof(WideChar));
  b[s.size()] = 0;
  return b;
}

WideString TWndAPI::StringFromBuffer(const WideChar* buffer, int n) {
  if (!buffer) return {};
  if (n < 0) return WideString(buffer);
  return WideString(buffer, std::size_t(n));
}

ATOM TWndAPI::RegisterClass(const WNDCLASSW& wc) { return RegisterClassW(&wc); }

bool TWndAPI::UnregisterClass(const WideString& name, HINSTANCE instance) {
  return UnregisterClassW(name.c_str(), instance) != 0;
}

HWND TWndAPI::CreateWindow(const TWndCreateParams& p) {
  return CreateWindowExW(p.ExStyle, p.ClassName.c_str(), p.WindowName.c_str(), p.Style, p.X, p.Y, p.Width, p.Height,
                         p.Parent, p.Menu, ModuleInstance(), p.Param);
}

bool TWndAPI::DestroyWindow(HWND window) { return plat::DestroyWindow(window) != 0; }

bool TWndAPI::ShowWindow(HWND window, int state, bool direct) {
  int cmd = ShowStateCommand(state);
  if (cmd < 0 || !IsWindow(window)) return false;
  if (direct) {
    plat::ShowWindow(window, cmd);
    return IsWindow(window) != 0;
  }
  WINDOWPLACEMENT wp;
  if (!GetWindowPlacement(window, &wp)) return false;
  wp.showCmd = UINT(cmd);
  return SetWindowPlacement(window, &wp) != 0;
}

LRESULT TWndAPI::CallWindowProc(WNDPROC proc, HWND window, UINT msg, WPARAM w, LPARAM l) {
  return CallWindowProcW(proc, window, msg, w, l);
}

LRESULT TWndAPI::DefWindowProc(HWND window, UINT msg, WPARAM w, LPARAM l) { return DefWindowProcW(window, msg, w, l); }

bool TWndAPI::GetMessage(MSG& msg, HWND window, UINT filterMin, UINT filterMax) {
  // An error (-1) ends a loop as WM_QUIT does instead of spinning.
  return GetMessageW(&msg, window, filterMin, filterMax) > 0;
}

bool TWndAPI::PeekMessage(MSG& msg, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
  return PeekMessageW(&msg, window, filterMin, filterMax, remove) != 0;
}

bool TWndAPI::PostMessage(HWND window, UINT msg, WPARAM w, LPARAM l) { return PostMessageW(window, msg, w, l) != 0; }

LRESULT TWndAPI::SendMessage(HWND window, UINT msg, WPARAM w, LPARAM l) { return SendMessageW(window, msg, w, l); }

bool TWndAPI::SendNotifyMessage(HWND window, UINT msg, WPARAM w, LPARAM l) {
  return SendNotifyMessageW(window, msg, w, l) != 0;
}

bool TWndAPI::TranslateMessage(const MSG& msg) { return plat::TranslateMessage(&msg) != 0; }

LRESULT TWndAPI::DispatchMessage(const MSG& msg) { return DispatchMessageW(&msg); }

WideString TWndAPI::GetWindowText(HWND window) {
  int n = GetWindowTextLengthW(window);
  if (n <= 0) return {};
  WideChar* b = AllocTextBuffer(n + 1);
  int got = GetWindowTextW(window, b, n + 1);
  WideString s = StringFromBuffer(b, got < 0 ? 0 : got);
  FreeTextBuffer(b);
  return s;
}

bool TWndAPI::SetWindowText(HWND window, const WideString& text) {
  return SetWindowTextW(window, text.c_str()) != 0;
}

LONG_PTR TWndAPI::GetWindowLong(HWND window, int index) { return GetWindowLongPtrW(window, index); }

LONG_PTR TWndAPI::SetWindowLong(HWND window, int index, LONG_PTR value) {
  return SetWindowLongPtrW(window, index, value);
}

TRect TWndAPI::GetWindowBounds(HWND window) {
  RECT r{};
  if (IsIconic(window)) {
    WINDOWPLACEMENT wp;
    if (GetWindowPlacement(window, &wp)) r = wp.rcNormalPosition;
  } else if (!GetWindowRect(window, &r)) {
    return TRect{};
  }
  if (GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD) {
    if (HWND parent = GetParent(window)) {
      POINT a{r.left, r.top}, b{r.right, r.bottom};
      ScreenToClient(parent, &a);
      ScreenToClient(parent, &b);
      r = {a.x, a.y, b.x, b.y};
    }
  }
  return TRect{r.left, r.top, r.right, r.bottom};
}

int TWndAPI::MessageBox(HWND window, const WideString& text, const WideString& caption, UINT flags) {
  return MessageBoxW(window, text.c_str(), caption.c_str(), flags);
}

UINT TWndAPI::RegisterWindowMessage(const WideString& name) { return RegisterWindowMessageW(name.c_str()); }

namespace {
TWndAPI gDefaultWndAPI;
}
TWndAPI* WndAPIClass = &gDefaultWndAPI;

// ============================================================================
// Stubs
// ============================================================================

void BuildThunkCode(std::uint8_t* c, void* object, const void* method) {
  // System V: shift the four argument registers up by one, put the object
  // first and jump to the method; nothing of the stub stays on the stack.
  static const std::uint8_t kHead[] = {
      0xF3, 0x0F, 0x1E, 0xFA,  // endbr64
      0x49, 0x89, 0xC8,        // mov r8, rcx
      0x48, 0x89, 0xD1,        // mov rcx, rdx
      0x48, 0x89, 0xF2,        // mov rdx, rsi
      0x48, 0x89, 0xFE,        // mov rsi, rdi
      0x48, 0xBF};             // mov rdi, imm64
  std::memcpy(c, kHead, sizeof kHead);
  std::uint64_t o = reinterpret_cast<std::uintptr_t>(object), m = reinterpret_cast<std::uintptr_t>(method);
  std::memcpy(c + 18, &o, 8);
  c[26] = 0x48, c[27] = 0xB8;  // mov rax, imm64
  std::memcpy(c + 28, &m, 8);
  c[36] = 0xFF, c[37] = 0xE0;  // jmp rax
}

namespace {
void* MakeThunk(void* object, const void* method) {
  ZM_ASSERT(method != nullptr, "MakeThunk: no method");
  // 48 bytes keep every stub 16-byte aligned.
  void* p = AllocExecutable(48);
  std::uint8_t code[48];
  std::memset(code, 0xCC, sizeof code);
  BuildThunkCode(code, object, method);
  WriteExecutable(p, code, sizeof code);
  return p;
}
}  // namespace

WNDPROC MakeWndProcThunk(void* object, TWndThunkMethod method) {
  return reinterpret_cast<WNDPROC>(MakeThunk(object, reinterpret_cast<const void*>(method)));
}

HOOKPROC MakeHookThunk(void* object, THookThunkMethod method) {
  return reinterpret_cast<HOOKPROC>(MakeThunk(object, reinterpret_cast<const void*>(method)));
}

void FreeThunk(const void* thunk) { FreeExecutable(const_cast<void*>(thunk)); }

void RetargetThunk(const void* thunk, void* object, const void* method) {
  std::uint8_t code[48];
  std::memset(code, 0xCC, sizeof code);
  BuildThunkCode(code, object, method);
  WriteExecutable(const_cast<void*>(thunk), code, sizeof code);
}

// ============================================================================
// Subclassing
// ============================================================================

namespace {

struct TSubclassRecord {
  HWND Window;
  TWndProcHandler Code;
  void* Data;
  WNDPROC Stub;
  WNDPROC Previous;
  TSubclassRecord* Next;
};
TSubclassRecord* gRecords = nullptr;  // newest first; UI thread only

LRESULT SubclassEntry(void* object, HWND h, UINT m, WPARAM w, LPARAM l) {
  auto* r = static_cast<TSubclassRecord*>(object);
  TWndProcArgs args{h, m, w, l};
  return r->Code(r->Data, &args);
}

void DropRecord(TSubclassRecord* r) {
  for (TSubclassRecord** p = &gRecords; *p; p = &(*p)->Next)
    if (*p == r) {
      *p = r->Next;
      delete r;
      return;
    }
}

void AssertUiThread(const char* what) {
  ZM_ASSERT(UIThreadId() != 0 && plat::CurrentThreadId() == UIThreadId(),
            std::string(what) + ": not the main thread");
}

}  // namespace

// Keeps a window working whose stub could not be removed because another
// procedure sits on top of it: passes everything to the previous procedure
// and cleans up when the window goes.
class TReleaseThunk : public TRefObject {
public:
  TReleaseThunk(TSubclassRecord* record) : record_(record) {}
  static LRESULT Entry(void* object, HWND h, UINT m, WPARAM w, LPARAM l) {
    auto* self = static_cast<TReleaseThunk*>(object);
    WNDPROC prev = self->record_->Previous;
    LRESULT r = CallWindowProcW(prev, h, m, w, l);
    // WM_NCDESTROY is the last message a window gets, so nothing calls the
    // stub afterwards.
    if (m == WM_NCDESTROY) {
      FreeThunk(reinterpret_cast<const void*>(self->record_->Stub));
      DropRecord(self->record_);
      self->record_ = nullptr;
      self->Free();
    }
    return r;
  }

private:
  TSubclassRecord* record_;
};

WNDPROC TWndAPI::SubclassWindow(HWND window, TWndProcHandler handler, void* data) {
  AssertUiThread("SubclassWindow");
  ZM_ASSERT(IsWindow(window) != 0, "SubclassWindow: window not exists");
  ZM_ASSERT(handler != nullptr, "SubclassWindow: no handler");
  auto* r = new TSubclassRecord{window, handler, data, nullptr, nullptr, gRecords};
  r->Stub = MakeWndProcThunk(r, &SubclassEntry);
  gRecords = r;
  r->Previous = reinterpret_cast<WNDPROC>(
      WndAPIClass->SetWindowLong(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(r->Stub)));
  return r->Previous;
}

void TWndAPI::UnsubclassWindow(HWND window, TWndProcHandler handler, void* data, WNDPROC previous) {
  AssertUiThread("UnsubclassWindow");
  TSubclassRecord* r = gRecords;
  while (r && !(r->Window == window && r->Code == handler && r->Data == data && r->Previous == previous))
    r = r->Next;
  ZM_ASSERT(r != nullptr, "UnsubclassWindow: subclass record not found");
  if (IsWindow(window)) {
    WNDPROC current = reinterpret_cast<WNDPROC>(WndAPIClass->GetWindowLong(window, GWLP_WNDPROC));
    if (current == r->Stub) {
      WndAPIClass->SetWindowLong(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    } else {
      // Another procedure is on top: the stub stays and passes messages on.
      auto* rel = new TReleaseThunk(r);
      rel->AfterConstruction();
      RetargetThunk(reinterpret_cast<const void*>(r->Stub), rel, reinterpret_cast<const void*>(&TReleaseThunk::Entry));
      return;
    }
  }
  FreeThunk(reinterpret_cast<const void*>(r->Stub));
  DropRecord(r);
}

int SubclassRecordCount() {
  int n = 0;
  for (auto* r = gRecords; r; r = r->Next) ++n;
  return n;
}

// ============================================================================
// Module
// ============================================================================

namespace {
THookInstall<TMessageBoxProc> gMessageBoxHook;

int WindowMessageBox(const WideString& text, const WideString& caption, std::uint32_t flags) {
  return WndAPIClass->MessageBox(nullptr, text, caption, flags);
}
}  // namespace

void InitWinWndAPI() {
  plat::InitWindowSystem();
  WndAPIClass = &gDefaultWndAPI;
  gMessageBoxHook.Install(MessageBoxProc, &WindowMessageBox);
}

void FiniWinWndAPI() {
  gMessageBoxHook.RestoreIfStillSet();
  WndAPIClass = &gDefaultWndAPI;
  plat::ShutdownWindowSystem();
}

}  // namespace zm
