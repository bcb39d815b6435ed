#pragma once
// Every window-manager call of the framework goes through the class held in
// WndAPIClass, so a subclass can replace the window layer as a whole. The
// unit also binds methods of objects to plain window and hook procedures
// (stubs in executable memory) and subclasses windows with them.
#include <cstdint>

#include "Platform/User/PlatUser.h"
#include "ZmLib/Win32/SysObj2.h"

namespace zm {

using plat::HWND;
using plat::LPARAM;
using plat::LRESULT;
using plat::UINT;
using plat::WPARAM;

// Show states by index (the command each stands for is in the source).
enum TShowState : int {
  ssHide = 0, ssMaximize, ssMinimize, ssRestore, ssShow, ssShowDefault, ssShowMaximized, ssShowMinimized,
  ssShowMinNoActive, ssShowNA, ssShowNoActivate, ssShowNormal
};
int ShowStateCommand(int state);  // -1 for an unknown index

struct TWndCreateParams {
  std::uint32_t ExStyle = 0;
  WideString ClassName;
  WideString WindowName;
  std::uint32_t Style = 0;
  int X = 0, Y = 0, Width = 0, Height = 0;
  HWND Parent = nullptr;
  plat::HMENU Menu = nullptr;
  void* Param = nullptr;
};

// The arguments of a window procedure, as a subclass handler gets them.
struct TWndProcArgs {
  HWND Window;
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
};
// A subclass handler: (data, arguments) → result.
using TWndProcHandler = LRESULT (*)(void* data, TWndProcArgs* args);

class TWndAPI {
public:
  virtual ~TWndAPI() = default;
  // 1-4: text buffers of wide characters.
  virtual WideChar* AllocTextBuffer(int n);
  virtual void FreeTextBuffer(WideChar* buffer);
  virtual WideChar* CopyStringToBuffer(const WideString& s);  // nullptr for an empty string
  // The first n characters, or up to the zero when n is negative.
  virtual WideString StringFromBuffer(const WideChar* buffer, int n);
  // 5-8
  virtual plat::ATOM RegisterClass(const plat::WNDCLASSW& wc);
  virtual bool UnregisterClass(const WideString& name, plat::HINSTANCE instance);
  virtual HWND CreateWindow(const TWndCreateParams& p);
  virtual bool DestroyWindow(HWND window);
  // 9: direct shows at once; else the state is stored through the placement.
  virtual bool ShowWindow(HWND window, int state, bool direct);
  // 10-18
  virtual LRESULT CallWindowProc(plat::WNDPROC proc, HWND window, UINT msg, WPARAM w, LPARAM l);
  virtual LRESULT DefWindowProc(HWND window, UINT msg, WPARAM w, LPARAM l);
  virtual bool GetMessage(plat::MSG& msg, HWND window, UINT filterMin, UINT filterMax);  // false for WM_QUIT
  virtual bool PeekMessage(plat::MSG& msg, HWND window, UINT filterMin, UINT filterMax, UINT remove);
  virtual bool PostMessage(HWND window, UINT msg, WPARAM w, LPARAM l);
  virtual LRESULT SendMessage(HWND window, UINT msg, WPARAM w, LPARAM l);
  virtual bool SendNotifyMessage(HWND window, UINT msg, WPARAM w, LPARAM l);
  virtual bool TranslateMessage(const plat::MSG& msg);
  virtual LRESULT DispatchMessage(const plat::MSG& msg);
  // 19-22 (window longs are pointer-sized)
  virtual WideString GetWindowText(HWND window);
  virtual bool SetWindowText(HWND window, const WideString& text);
  virtual plat::LONG_PTR GetWindowLong(HWND window, int index);
  virtual plat::LONG_PTR SetWindowLong(HWND window, int index, plat::LONG_PTR value);
  // 23: the window rectangle (a minimised window's restored one); a child's in
  // its parent's client coordinates.
  virtual TRect GetWindowBounds(HWND window);
  // 24-25
  virtual int MessageBox(HWND window, const WideString& text, const WideString& caption, UINT flags);
  virtual UINT RegisterWindowMessage(const WideString& name);

  // Subclassing (UI thread only): installs a stub that calls handler(data,
  // args); returns the previous procedure, to which the handler passes what
  // it does not handle.
  static plat::WNDPROC SubclassWindow(HWND window, TWndProcHandler handler, void* data);
  static void UnsubclassWindow(HWND window, TWndProcHandler handler, void* data, plat::WNDPROC previous);
};

extern TWndAPI* WndAPIClass;

// ---- object-bound stubs -------------------------------------------------------
// A stub is a plain procedure that calls method(object, its own arguments...):
// up to four integer or pointer arguments are passed on.
using TWndThunkMethod = LRESULT (*)(void* object, HWND, UINT, WPARAM, LPARAM);
using THookThunkMethod = LRESULT (*)(void* object, int code, WPARAM, LPARAM);
plat::WNDPROC MakeWndProcThunk(void* object, TWndThunkMethod method);
plat::HOOKPROC MakeHookThunk(void* object, THookThunkMethod method);
void FreeThunk(const void* thunk);
// Points an existing stub at another object and method.
void RetargetThunk(const void* thunk, void* object, const void* method);
// The bytes of a stub (for checks): kThunkSize of them.
constexpr std::size_t kThunkSize = 38;
void BuildThunkCode(std::uint8_t* code, void* object, const void* method);

// The number of subclass records (for checks).
int SubclassRecordCount();

void InitWinWndAPI();
void FiniWinWndAPI();

}  // namespace zm
