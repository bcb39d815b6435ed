#include "ZmLib/Composite/winControlStyles.h"

#include "Platform/Gdi/PlatGdi.h"
#include "Platform/User/PlatUser.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Win32/Fonts/winFontUtils.h"
#include "ZmLib/zmHookScope.h"

namespace zm {

namespace {
constexpr std::int32_t COLOR_WINDOWFRAME = 6, COLOR_WINDOWTEXT = 8, COLOR_HIGHLIGHT = 13,
                       COLOR_HIGHLIGHTTEXT = 14, COLOR_BTNFACE = 15, COLOR_BTNSHADOW = 16,
                       COLOR_BTNHIGHLIGHT = 20, COLOR_3DDKSHADOW = 21, COLOR_3DLIGHT = 22, COLOR_INFOBK = 24,
                       COLOR_WINDOW = 5;

THookInstall<TCreateFocusHelperProc> gWinFocusHelper;

TColor24 Sys24(std::int32_t index) { return ColorRefToColor24(SysColor(index)); }

// The system message font (face, size and style; the colours are set by the
// caller).
TFontParams SystemMessageFont() {
  const TFontParams system = GetDefaultFontParams();
  return MakeFontParams(system.Name, system.Style, false, system.Size, {}, {});
}
}  // namespace

std::int32_t HScrollArrowWidth = 17, HScrollHeight = 17, VScrollWidth = 17, VScrollArrowHeight = 17;
std::int32_t VThumbHeight = 17, HThumbWidth = 17;
std::int32_t CaretBlinkTime = 530, KeyRepeatDelay = 500, KeyRepeatInterval = 33;

TColorRef SysColor(std::int32_t index) {
  TColorRef c = plat::GetSysColor(index);
  if (!ColorAdjustment.Enabled) return c;
  return Color32ToColorRef(AdjustColor(ColorRefToColor32(c, 255)));
}

TColor32 SysColor32(std::int32_t index) { return ColorRefToColor32(SysColor(index), 255); }

TColor32 TSysColorBrush::GetColor() { return SysColor32(Index); }

TColor32 BrushColor(TFrameBrush* brush) { return brush ? brush->GetColor() : kDefaultBrushColor; }

// ---- TWinControlStyles ------------------------------------------------------------------

TWinControlStyles::TWinControlStyles() {
  Background = MakeRef<TSysColorBrush>(COLOR_BTNFACE);
  Refresh();
}

void TWinControlStyles::Refresh() {
  plat::HDC dc = plat::GetDC(nullptr);
  std::int32_t dpiX = dc ? plat::GetDeviceCaps(dc, plat::LOGPIXELSX) : 0;
  std::int32_t dpiY = dc ? plat::GetDeviceCaps(dc, plat::LOGPIXELSY) : 0;
  if (dc) plat::ReleaseDC(nullptr, dc);
  if (dpiX >= 1 && dpiY >= 1) {
    ScaleX = dpiX / 96.0;
    ScaleY = dpiY / 96.0;
  }
  Font.Font = SystemMessageFont();
  Font.Font.TextColor = Sys24(COLOR_WINDOWTEXT);
  DefaultFont.Font = Font.Font;
  DefaultFont.Font.TextColor = Sys24(COLOR_WINDOWTEXT);
  DefaultFont.Font.BackColor = Sys24(COLOR_BTNFACE);
  DefaultFont.HasBackground = true;
  EditFont = Font;
  EditFont.Font.TextColor = Sys24(COLOR_WINDOWTEXT);
  EditFont.Font.BackColor = Sys24(COLOR_WINDOW);
  WindowColor = SysColor32(COLOR_WINDOW);
  InfoBkColor = SysColor32(COLOR_INFOBK);
  SelectionFont = Font;
  SelectionFont.Font.TextColor = Sys24(COLOR_HIGHLIGHTTEXT);
  SelectionFont.Font.BackColor = Sys24(COLOR_HIGHLIGHT);
  FaceColor = SysColor32(COLOR_BTNFACE);
  FrameColor = SysColor32(COLOR_WINDOWFRAME);
  LightColor = SysColor32(COLOR_3DLIGHT);
  HighlightColor = SysColor32(COLOR_BTNHIGHLIGHT);
  ShadowColor = SysColor32(COLOR_BTNSHADOW);
  DarkShadowColor = SysColor32(COLOR_3DDKSHADOW);
  MixedColor = BlendColor32(FaceColor, WindowColor, 176);

  // A one-pixel checkerboard of the frame colour.
  TRef<TBitmap> b = CreateBitmap(32, 32, PixelFormatByName("A8R8G8B8"), {}, nullptr, TDirectBitmap::StaticClass());
  if (auto* d = dynamic_cast<TDirectBitmap*>(b.get())) {
    for (std::int32_t y = 0; y < 32; ++y) {
      std::uint32_t* row = d->Row32(y);
      for (std::int32_t x = 0; x < 32; ++x) {
        TColor32 c = FrameColor;
        if ((x + y) % 2 == 0) c.A = 0;
        row[x] = c.Value();
      }
    }
    FocusPattern = nullptr;
    if (GetSysBitmapHook) FocusPattern = GetSysBitmapHook(b.Detach(), true, u"FocusPattern");
  }

  HScrollArrowWidth = plat::GetSystemMetrics(plat::SM_CXHSCROLL);
  HScrollHeight = plat::GetSystemMetrics(plat::SM_CYHSCROLL);
  VScrollWidth = plat::GetSystemMetrics(plat::SM_CXVSCROLL);
  VScrollArrowHeight = plat::GetSystemMetrics(plat::SM_CYVSCROLL);
  VThumbHeight = plat::GetSystemMetrics(plat::SM_CYVTHUMB);
  HThumbWidth = plat::GetSystemMetrics(plat::SM_CXHTHUMB);
}

// ---- Keyboard settings -------------------------------------------------------------------

std::int32_t KeyRepeatDelayFor(std::int32_t d) { return 250 + d * 750 / 3; }
std::int32_t KeyRepeatIntervalFor(std::int32_t s) { return (31 - s) * 12 + 32; }

void ReadKeyboardSettings() {
  // 0 (the call failed) leaves the blink time as it was.
  if (const plat::UINT blink = plat::GetCaretBlinkTime(); blink > 0 && blink <= 0x7FFFFFFF)
    CaretBlinkTime = std::int32_t(blink);
  int v = 0;
  if (plat::SystemParametersInfoA(plat::SPI_GETKEYBOARDDELAY, 0, &v, 0) && v >= 0 && v <= 3)
    KeyRepeatDelay = KeyRepeatDelayFor(v);
  v = 0;
  if (plat::SystemParametersInfoA(plat::SPI_GETKEYBOARDSPEED, 0, &v, 0) && v >= 0 && v <= 31)
    KeyRepeatInterval = KeyRepeatIntervalFor(v);
}

// ---- TWinFocusHelper ------------------------------------------------------------------------

TWinFocusHelper::TWinFocusHelper(TWinHandleRootControl* root) : TFocusHelper(root), winRoot_(root) {
  if (!root) return;
  root->FocusHelper = this;
  root->OnFocusChanged = [this] { Fire(kFocusChangedEvent, 0); };
}

void TWinFocusHelper::Dispose() {
  if (TWinHandleRootControl* r = winRoot_) {
    winRoot_ = nullptr;
    if (r->FocusHelper == this) {
      r->FocusHelper = nullptr;
      r->OnFocusChanged = nullptr;
    }
  }
  TFocusHelper::Dispose();
}

bool TWinFocusHelper::ShowFocus() {
  plat::HWND h = winRoot_ ? winRoot_->WindowHandle() : nullptr;
  if (!h || reinterpret_cast<std::intptr_t>(h) == -1) return true;
  plat::LRESULT state = plat::SendMessageW(h, plat::WM_QUERYUISTATE, 0, 0);
  return (state & plat::UISF_HIDEFOCUS) == 0;
}

TFocusHelper* CreateWinFocusHelper(TFrameControl* control) {
  TRootControl* root = control ? control->Root() : nullptr;
  if (auto* win = dynamic_cast<TWinHandleRootControl*>(root)) {
    if (win->TornDown()) return nullptr;
    TEventsWithTags* list = win->Listeners();
    if (auto* h = list->FindAttached<TFocusHelper>()) return h;
    TRef<TWinFocusHelper> h = MakeRef<TWinFocusHelper>(win);
    list->Attach(h.get());
    return h.get();
  }
  return gWinFocusHelper.Saved() ? gWinFocusHelper.Saved()(control) : nullptr;
}

void InitWinControlStyles() {
  gWinFocusHelper.Install(CreateFocusHelperHook, &CreateWinFocusHelper);
  SetDefaultControlStyles(MakeRef<TWinControlStyles>().Detach());
  ReadKeyboardSettings();
}

void FiniWinControlStyles() {
  SetDefaultControlStyles(nullptr);
  gWinFocusHelper.RestoreIfStillSet();
}

}  // namespace zm
