#include "ZmLib/Composite/winThemes2.h"

#include "ZmLib/Composite/zmEvents.h"

#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Win32/winFileAPI.h"
#include "ZmLib/Win32/winHooks.h"
#include "ZmLib/Win32/winSysUtils.h"

namespace zm {

namespace {
// Assertions of this unit carry its historical source name.
constexpr const char* kUnit = "/ZmLib/Win32/winThemes2.cpp";

const char16_t* const kClassNames[kThemeClassCount] = {
    u"button",  u"clock",   u"combobox",    u"edit",      u"explorerbar", u"header",   u"listview", u"menu",
    u"page",    u"progress", u"rebar",      u"scrollbar", u"spin",        u"startpanel", u"status", u"tab",
    u"taskband", u"taskbar", u"toolbar",    u"tooltip",   u"trackbar",    u"traynotify", u"treeview", u"window"};

struct TRange {
  std::int32_t First, Last, Part, FirstState;
};
const TRange kButton[] = {{2, 7, 1, 1}, {8, 15, 2, 1}, {16, 27, 3, 1}, {28, 29, 4, 1}, {30, 30, 5, 1}};
const TRange kCombo[] = {{2, 5, 1, 1}};
const TRange kEdit[] = {{2, 8, 1, 1}, {9, 9, 2, 1}};
const TRange kListView[] = {{2, 6, 1, 1}, {7, 7, 2, 1}, {8, 8, 3, 1}, {9, 9, 4, 1}, {10, 10, 5, 1}};
const TRange kScroll[] = {{2, 17, 1, 1},  {18, 22, 2, 1}, {23, 27, 3, 1}, {28, 32, 4, 1}, {33, 37, 5, 1},
                          {38, 42, 6, 1}, {43, 47, 7, 1}, {48, 52, 8, 1}, {53, 57, 9, 1}, {58, 59, 10, 1},
                          {60, 63, 1, 17}};
const TRange kSpin[] = {{2, 5, 1, 1}, {6, 9, 2, 1}, {10, 13, 3, 1}, {14, 17, 4, 1}};
const TRange kTab[] = {{2, 6, 1, 1},   {7, 11, 2, 1},  {12, 16, 3, 1}, {17, 21, 4, 1}, {22, 26, 5, 1},
                       {27, 31, 6, 1}, {32, 36, 7, 1}, {37, 41, 8, 1}, {42, 42, 9, 1}, {43, 43, 10, 1}};
const TRange kToolbar[] = {{2, 7, 1, 1}, {8, 13, 2, 1}, {14, 19, 3, 1}, {20, 25, 4, 1}, {26, 31, 5, 1}, {32, 37, 6, 1}};

template <std::size_t N>
TThemedElement Map(std::int32_t cls, const TRange (&table)[N], std::int32_t n) {
  for (const TRange& r : table)
    if (n >= r.First && n <= r.Last) return {cls, r.Part, n - r.First + r.FirstState};
  return {cls, 0, std::int32_t(std::int64_t(n) + 1)};
}

TThemeServices* gServices = nullptr;
std::int32_t gLibraryUsers = 0;
void* gLibrary = nullptr;
}  // namespace

const char16_t* ThemeClassName(std::int32_t index) {
  return index >= 0 && index < kThemeClassCount ? kClassNames[index] : nullptr;
}

TThemedElement ThemedElement(TThemeKind kind, std::int32_t n) {
  if (n == INT32_MAX) n = INT32_MAX - 1;  // state n + 1 must fit
  switch (kind) {
    case TThemeKind::Button: return Map(0, kButton, n);
    case TThemeKind::ComboBox: return Map(2, kCombo, n);
    case TThemeKind::Edit: return Map(3, kEdit, n);
    case TThemeKind::ListView: return Map(6, kListView, n);
    case TThemeKind::ScrollBar: return Map(11, kScroll, n);
    case TThemeKind::Spin: return Map(12, kSpin, n);
    case TThemeKind::Tab: return Map(15, kTab, n);
    case TThemeKind::Toolbar: return Map(18, kToolbar, n);
  }
  return {0, 0, n + 1};
}

// ---- The library ------------------------------------------------------------------------

const TUxThemeApi* LoadUxTheme() {
  // The C entry points of the real library cannot be called through this
  // table anyway; a library found by name that lacks them counts as absent.
  if (!gLibrary) gLibrary = WinLoadLibraryA("uxtheme.dll");
  if (!gLibrary) return nullptr;
  static TUxThemeApi api;
  api.IsAppThemed = reinterpret_cast<bool (*)()>(WinGetProcAddress(gLibrary, "IsAppThemed"));
  api.IsThemeActive = reinterpret_cast<bool (*)()>(WinGetProcAddress(gLibrary, "IsThemeActive"));
  if (!api.IsAppThemed || !api.IsThemeActive) {
    WinFreeLibrary(gLibrary);
    gLibrary = nullptr;
    return nullptr;
  }
  ++gLibraryUsers;
  return &api;
}

void ReleaseUxTheme() {
  if (gLibraryUsers > 0 && --gLibraryUsers == 0 && gLibrary) {
    WinFreeLibrary(gLibrary);
    gLibrary = nullptr;
  }
}

TThemeLibraryLoader LoadThemeLibraryHook{&LoadUxTheme, &ReleaseUxTheme};

// ---- TThemeServices --------------------------------------------------------------------

TThemeServices::TThemeServices() {
  std::int32_t version = FileAPIClass ? FileAPIClass->GetFileVersion(u"comctl32.dll") : -1;
  comCtl6_ = version >= 0x60000;
  if (comCtl6_ && LoadThemeLibraryHook.Load) api_ = LoadThemeLibraryHook.Load();
  if (!WinApplication || !HookManager) AssertFailed("TThemeServices.Create: no application", kUnit, __LINE__);
  app_ = WinApplication;
  const plat::UINT ids[] = {WM_THEMECHANGED_ID};
  HookManager->AddMsgHooks(app_, ids, &MessageHook, this);
}

void TThemeServices::Dispose() {
  if (app_ && HookManager) {
    const plat::UINT ids[] = {WM_THEMECHANGED_ID};
    HookManager->RemoveMsgHooks(app_, ids, &MessageHook, this);
  }
  app_ = nullptr;
  CloseHandles();
  if (api_) {
    api_ = nullptr;
    if (LoadThemeLibraryHook.Release) LoadThemeLibraryHook.Release();
  }
  TRefObject::Dispose();
}

void TThemeServices::MessageHook(void* data, plat::HWND, TMessage& message, bool&) {
  if (message.Msg == WM_THEMECHANGED_ID) static_cast<TThemeServices*>(data)->ThemeChanged();
}

bool TThemeServices::ThemesEnabled() const {
  return comCtl6_ && api_ && api_->IsAppThemed && api_->IsThemeActive && api_->IsAppThemed() &&
         api_->IsThemeActive();
}

HTHEME TThemeServices::GetThemeHandle(std::int32_t themeClass) {
  if (themeClass < 0 || themeClass >= kThemeClassCount || !ThemesEnabled()) return 0;
  if (!handles_[themeClass] && api_->OpenThemeData)
    handles_[themeClass] = api_->OpenThemeData(nullptr, kClassNames[themeClass]);
  return handles_[themeClass];
}

bool TThemeServices::DrawElement(plat::HDC dc, const TThemedElement& e, const TRect& rect, const TRect* clip) {
  HTHEME h = GetThemeHandle(e.ThemeClass);
  if (!h || !api_->DrawThemeBackground) return false;
  return api_->DrawThemeBackground(h, dc, e.Part, e.State, &rect, clip) == 0;
}

bool TThemeServices::GetElementContentRect(plat::HDC dc, const TThemedElement& e, const TRect& bounds,
                                           TRect& content) {
  HTHEME h = GetThemeHandle(e.ThemeClass);
  if (!h || !api_->GetThemeBackgroundContentRect) return false;
  return api_->GetThemeBackgroundContentRect(h, dc, e.Part, e.State, &bounds, &content) == 0;
}

bool TThemeServices::GetElementSize(plat::HDC dc, const TThemedElement& e, const TRect* rect, std::int32_t kind,
                                    TSize& size) {
  HTHEME h = GetThemeHandle(e.ThemeClass);
  if (!h || !api_->GetThemePartSize) return false;
  return api_->GetThemePartSize(h, dc, e.Part, e.State, rect, kind, &size) == 0;
}

void TThemeServices::CloseHandles() {
  for (HTHEME& h : handles_) {
    if (h && api_ && api_->CloseThemeData) api_->CloseThemeData(h);
    h = 0;
  }
}

void TThemeServices::ThemeChanged() {
  TKeepAlive self(this);
  CloseHandles();
  if (OnThemeChange) OnThemeChange();
}

TThemeServices* ThemeServices() {
  if (!gServices) gServices = MakeRef<TThemeServices>().Detach();
  return gServices;
}

void FreeThemeServices() {
  if (TThemeServices* s = gServices) {
    gServices = nullptr;
    s->Free();
  }
}

void InitWinThemes2() {}
void FiniWinThemes2() { FreeThemeServices(); }

}  // namespace zm
