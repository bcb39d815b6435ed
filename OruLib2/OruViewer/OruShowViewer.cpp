#include "OruLib2/OruViewer/OruShowViewer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "OruLib2/3DEngine/DrawManager3D2.h"
#include "OruLib2/Effects/OruEffectManager.h"
#include "Platform/PlatFrameClock.h"
#include "ZmLib/3DBasics/Dev3DApp2.h"
#include "ZmLib/Application2/zmApplication.h"
#include "ZmLib/Win32/winScreen.h"
#include "ZmLib/zmLog.h"

namespace oru {

using zm::TRef;

namespace {

// Border styles of the form: caption with a sizing frame, caption with a
// fixed frame, none (pop-up).
constexpr std::uint8_t kSizeableStyle = 1, kFixedStyle = 5, kNoFrameStyle = 0;

// A decimal integer; 0 when the text is not one.
std::int32_t DecimalOrZero(const WideString& s) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) negative = s[i++] == u'-';
  if (i >= s.size()) return 0;
  std::int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < u'0' || s[i] > u'9') return 0;
    v = v * 10 + (s[i] - u'0');
    if (v > std::numeric_limits<std::int32_t>::max()) return 0;
  }
  return static_cast<std::int32_t>(negative ? -v : v);
}

std::int32_t ClampSide(double v) {
  if (!(v >= 1)) return 1;  // also NaN
  return v >= 1e6 ? 1000000 : static_cast<std::int32_t>(std::lround(v));
}

// The 3D drawer on the form's device, as the draw controller reaches it.
class TSysDrawerLink : public TOruDrawerLink {
public:
  TSysDrawerLink() : drawer_(zm::MakeRef<T3DDrawer>()) {
    zm::T3DScreen* screen = drawer_->Screen();
    if (!screen) return;
    // The engine starts again on a lost device, and on a renderer made anew
    // for another size, which it lays the show out for; a renderer made
    // again only for another place changes nothing it drew.
    screen->OnLost = [this](zm::T3DScreen*) { Recreated(); };
    screen->OnClose = [this](zm::T3DScreen* s) {
      const zm::TSize size = SizeOf(s->WindowRect());
      if (size == size_) return;
      size_ = size;
      Recreated();
    };
  }
  void Dispose() override {
    if (zm::T3DScreen* screen = drawer_ ? drawer_->Screen() : nullptr) {
      screen->OnClose = nullptr;
      screen->OnLost = nullptr;
    }
    if (drawer_) drawer_->Close();
    drawer_ = nullptr;
    TOruDrawerLink::Dispose();
  }
  zm::TDeviceDrawer* Drawer() override { return drawer_.get(); }
  bool Open(zm::TDrawDevice* device) override {
    if (!drawer_) return false;
    const bool open = drawer_->Open(device);
    if (zm::T3DScreen* screen = drawer_->Screen()) size_ = SizeOf(screen->WindowRect());
    return open;
  }
  bool ScreenReady() override {
    zm::T3DScreen* screen = drawer_ ? drawer_->Screen() : nullptr;
    return screen && screen->CanDraw();
  }
  zm::TRect ScreenRect() override {
    zm::T3DScreen* screen = drawer_ ? drawer_->Screen() : nullptr;
    return screen ? screen->GetVisibleRect() : zm::TRect{};
  }

private:
  static zm::TSize SizeOf(const zm::TRect& r) {
    const auto side = [](std::int32_t a, std::int32_t b) {
      return std::int32_t(std::clamp<std::int64_t>(std::int64_t(b) - a, 0, INT32_MAX));
    };
    return {side(r.Left, r.Right), side(r.Top, r.Bottom)};
  }
  void Recreated() {
    if (OnDeviceRecreated) OnDeviceRecreated();
  }

  TRef<T3DDrawer> drawer_;
  zm::TSize size_;  // of the screen's renderer, as last seen
};

}  // namespace

TWindowPlacement PlaceShowWindow(std::int32_t width, std::int32_t height, std::int32_t kind, bool resize,
                                 const zm::TRect& monitor, const zm::TSize& nonClient) {
  TWindowPlacement p;
  p.BorderStyle = kind == wkFramed ? (resize ? kSizeableStyle : kFixedStyle) : kNoFrameStyle;
  const std::int64_t mw = std::max<std::int64_t>(0, std::int64_t(monitor.Right) - monitor.Left);
  const std::int64_t mh = std::max<std::int64_t>(0, std::int64_t(monitor.Bottom) - monitor.Top);
  std::int64_t cw = kind == wkFullScreen ? mw : width;
  std::int64_t ch = kind == wkFullScreen ? mh : height;
  // A window needs at least one pixel to draw on, whatever the show asks.
  cw = std::clamp<std::int64_t>(cw, 1, 1000000);
  ch = std::clamp<std::int64_t>(ch, 1, 1000000);
  const std::int64_t fw = kind == wkFramed ? std::max(0, nonClient.cx) : 0;
  const std::int64_t fh = kind == wkFramed ? std::max(0, nonClient.cy) : 0;
  if (cw + fw > mw || ch + fh > mh) {
    const double s = std::min(double(mw - fw) / double(cw), double(mh - fh) / double(ch));
    cw = ClampSide(double(cw) * s);
    ch = ClampSide(double(ch) * s);
  }
  p.Content = zm::TSize{std::int32_t(cw), std::int32_t(ch)};
  const std::int64_t ow = cw + fw, oh = ch + fh;
  // Halving toward zero, as the integer division does.
  const std::int64_t left = (std::int64_t(monitor.Left) + monitor.Right - ow) / 2;
  const std::int64_t top = (std::int64_t(monitor.Top) + monitor.Bottom - oh) / 2;
  auto cut = [](std::int64_t v) {
    return std::int32_t(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                  std::numeric_limits<std::int32_t>::max()));
  };
  p.Outer = zm::TRect{cut(left), cut(top), cut(left + ow), cut(top + oh)};
  return p;
}

std::int32_t ChooseDisplay(zm::TCommandsStorage* commands, std::int32_t count,
                           const std::function<bool(std::int32_t)>& isPrimary) {
  zm::TCommand* display = commands ? commands->FindCommand(u"display") : nullptr;
  if (display) {
    const std::int64_t index =
        std::int64_t(display->Count() > 0 ? DecimalOrZero(display->GetItem(0)->Text) : 0) - 1;
    if (index >= 0 && index < count) return std::int32_t(index);
  }
  for (std::int32_t i = count - 1; i >= 1; --i)
    if (isPrimary && isPrimary(i)) return i;
  return 0;
}

// ============================================================================

TOruShowViewer::TOruShowViewer(zm::TZmForm* form) : form_(form) {
  ZM_ASSERT(form, "Form not Assigned");
}

void TOruShowViewer::Dispose() {
  ReleaseEngine();
  OnPosition = nullptr;
  OnAction = nullptr;
  OnImage = nullptr;
  zm::TRefObject::Dispose();
}

void TOruShowViewer::ReleaseEngine() {
  TRef<TOruEngine> engine = std::move(engine_);
  if (engine) {
    engine->OnFirstFrame = nullptr;
    engine->OnPosition = nullptr;
    engine->OnEngineEvent = nullptr;
    // The frame callback stays: it holds nothing of the viewer.
    engine->Stop();
  }
  engine = nullptr;
  device_ = nullptr;
}

void TOruShowViewer::ApplyShowOptions(zm::TIniFile* /*ini*/) {}

void TOruShowViewer::CreateEngine(zm::TIniFile* ini) {
  if (engine_) return;
  auto* listener = dynamic_cast<zm::TPostEventList*>(zm::Application);
  ZM_ASSERT(listener, "Application not Assigned");
  device_ = zm::MakeRef<TSysDevice>(form_);
  device_->UpdateFromForm();
  engine_ = zm::MakeRef<TOruEngine>(device_.get(), std::uint8_t(0), true, true, listener, nullptr,
                                    [] { return TRef<TOruDrawerLink>(zm::MakeRef<TSysDrawerLink>()); });
  engine_->OnFirstFrame = [this](TCustomOruEngine*) { ShowWindowStep(); };
  engine_->OnPosition = [this](TCustomOruEngine*, std::int32_t time, bool ended, std::int32_t endTime) {
    PositionStep(time, ended, endTime);
  };
  engine_->OnEngineEvent = [this](TCustomOruEngine*, TOruEventData* data) { EventStep(data); };
  engine_->SetColorOverride(outsideOverride_, outsideColor_);
  engine_->SetBarriersEnabled(barriersEnabled_);
  engine_->SetCover(CoverLayout);
  // The window layer stamps the frame's pixels with its show time as the
  // device hands them over, before any other thread can present them.
  engine_->OnFrameDrawing = [](double showTime) {
    plat::SetPresentingShowTime(std::llround(std::clamp(showTime, 0.0, 9.0e15)));
  };
  if (const std::uint32_t step = plat::FrameStepMs()) {
    // Stepped runs: every frame of the engine moves the program clock and
    // is captured in the window.
    engine_->SetFrameStep(step);
    const plat::HWND window = device_->Window();
    engine_->OnFramePresented = [window](double showTime) {
      plat::FramePresented(window, std::llround(std::clamp(showTime, -9.0e15, 9.0e15)));
    };
    engine_->OnFrameStood = [window](double showTime) {
      plat::FrameStood(window, std::llround(std::clamp(showTime, -9.0e15, 9.0e15)));
    };
  } else {
    engine_->OnFramePresented = [](double showTime) {
      plat::FramePresented(nullptr, std::llround(std::clamp(showTime, -9.0e15, 9.0e15)));
    };
  }
  if (ini) {
    zm::TIniSection* main = ini->FindSection(u"Main");
    const std::int32_t full = zm::IniGetInt(zm::IniFind(main, u"opt_scr_full"), 1);
    if (full != 1) {
      // The show's size, as its slides are laid out: 1920 x 1080 when it
      // gives none (a window larger than the monitor is shrunk to fit).
      const std::int32_t w = ValidScreenSide(zm::IniGetInt(zm::IniFind(main, u"opt_scr_width"), 0), kDefaultScreenWidth);
      const std::int32_t h =
          ValidScreenSide(zm::IniGetInt(zm::IniFind(main, u"opt_scr_height"), 0), kDefaultScreenHeight);
      SetupWindow(w, h, zm::IniGetBool(zm::IniFind(main, u"opt_withoutborder"), true) ? wkBorderless : wkFramed);
    } else {
      const zm::TSize s = zm::ScreenSize();
      SetupWindow(s.cx, s.cy, wkFullScreen);
    }
  }
  // A frame drawn into a hidden window is lost; stepped runs must not lose
  // one, so their window shows before the first frame.
  if (plat::FrameStepMs() && !form_->Visible()) form_->SetVisible(true);
}

bool TOruShowViewer::Open(TOruSource* show, std::int32_t time) {
  zm::TIniFile* ini = show ? show->Project() : nullptr;
  if (!ini || !show->FileAccessor()) return false;
  CreateEngine(ini);
  ApplyShowOptions(ini);
  if (engine_->Running()) {
    engine_->RequestOpen(show, time, paused_);
    return true;
  }
  // A first open that fails leaves no engine behind: the next open starts
  // over.
  bool opened = false;
  try {
    opened = engine_->OpenShow(show, time) && engine_->Start();
  } catch (...) {
    ReleaseEngine();
    throw;
  }
  if (!opened) ReleaseEngine();
  return opened;
}

void TOruShowViewer::SetPaused(bool on) {
  if (on == paused_) return;
  paused_ = on;
  if (engine_) engine_->RequestPause(on);
}

void TOruShowViewer::SetPosition(std::int32_t time) {
  if (time >= 0 && engine_) engine_->RequestPosition(time, paused_);
}

void TOruShowViewer::SetPositionAndPause(std::int32_t time, bool on) {
  SetPosition(time);
  SetPaused(on);
}

void TOruShowViewer::PointerEvent(std::uint8_t kind, std::int32_t x, std::int32_t y, std::int32_t buttons,
                                  std::uint8_t shift) {
  PointerEventWithAction(kind, x, y, buttons, shift, EmptyActionInfo);
}

void TOruShowViewer::PointerEventWithAction(std::uint8_t kind, std::int32_t x, std::int32_t y, std::int32_t buttons,
                                            std::uint8_t shift, const TOruActionInfo& action) {
  if (!EngineRunning()) return;
  TRef<TMouseData> data = zm::MakeRef<TMouseData>();
  data->Kind = kind;
  data->X = x;
  data->Y = y;
  data->Buttons = buttons;
  data->Shift = shift;
  data->Action = action;
  engine_->Events()->Post(TOruEngine::kMouseEvent, data.Detach());
}

void TOruShowViewer::ShowHelp() {
  if (engine_) engine_->Events()->Post(TOruEngine::kHelpEvent, nullptr);
}

void TOruShowViewer::CloseDialog() {
  if (engine_) engine_->Events()->Post(TOruEngine::kCloseDialogEvent, nullptr);
}

bool TOruShowViewer::DialogShown() const { return engine_ && engine_->OverlayShowsDialog(); }

void TOruShowViewer::RequestImage() {
  if (EngineRunning()) engine_->Events()->Post(TOruEngine::kRenderEvent, nullptr);
}

void TOruShowViewer::SetBarriersEnabled(bool on) {
  barriersEnabled_ = on;
  if (engine_) engine_->SetBarriersEnabled(on);
}

void TOruShowViewer::SetOutsideColor(std::uint32_t color) {
  outsideOverride_ = true;
  outsideColor_ = color & 0xFFFFFF;
  if (engine_) engine_->SetColorOverride(true, outsideColor_);
}

void TOruShowViewer::StopEngine() {
  if (engine_) engine_->Stop();
}

std::int32_t TOruShowViewer::DisplayIndex() {
  zm::TScreen* screen = zm::Screen();
  const std::int32_t count = screen ? screen->MonitorCount() : 0;
  return ChooseDisplay(zm::Commands, count, [screen](std::int32_t i) {
    zm::screen::TMonitor* m = screen->Monitor(i);
    return m && m->Primary();
  });
}

void TOruShowViewer::SetupWindow(std::int32_t width, std::int32_t height, std::int32_t kind) {
  if (kind < wkFullScreen || kind > wkBorderless) kind = wkFramed;
  const bool resize = zm::Commands && zm::Commands->FindCommand(u"resize");
  zm::TRect monitor;
  if (zm::Commands && zm::Commands->FindCommand(u"desktopalign")) {
    monitor = zm::DesktopBounds();
  } else {
    zm::TScreen* screen = zm::Screen();
    zm::screen::TMonitor* m = screen ? screen->Monitor(DisplayIndex()) : nullptr;
    monitor = m ? m->Bounds() : zm::TRect{0, 0, zm::ScreenSize().cx, zm::ScreenSize().cy};
  }
  // The frame is measured with the border style the window will have.
  const TWindowPlacement first = PlaceShowWindow(width, height, kind, resize, monitor, zm::TSize{});
  form_->SetBorderStyle(first.BorderStyle);
  const zm::TSize frame = kind == wkFramed ? form_->GetNonClientSize() : zm::TSize{};
  const TWindowPlacement p = PlaceShowWindow(width, height, kind, resize, monitor, frame);
  form_->SetBounds(p.Outer);
  if (!device_) return;
  const zm::TPoint origin = form_->ClientToScreen(zm::TPoint{0, 0});
  device_->SetBounds(zm::TRect{0, 0, p.Content.cx, p.Content.cy}, origin, kind == wkFullScreen);
  const zm::TRect windowRect = form_->Bounds();
  if (auto* wrapper = device_->FindObject<zm::TRectangleWrapper>()) {
    wrapper->Rect = windowRect;
  } else if (zm::TList* objects = device_->Objects()) {
    TRef<zm::TRectangleWrapper> wrapper = zm::MakeRef<zm::TRectangleWrapper>(windowRect, std::uint8_t(0));
    if (objects->Add(wrapper.get()) >= 0) wrapper.Detach();  // the list holds this reference
  }
}

void TOruShowViewer::ShowWindowStep() {
  if (!form_->Visible()) form_->SetVisible(true);
}

void TOruShowViewer::PositionStep(std::int32_t time, bool ended, std::int32_t endTime) {
  time_ = time;
  endTime_ = endTime;
  if (OnPosition) OnPosition(this, ended);
}

void TOruShowViewer::EventStep(TOruEventData* data) {
  if (!data) return;
  const std::vector<std::int32_t>& p = data->Params;
  switch (data->Id) {
    case TOruEngine::kActionEvent:
      if (OnAction) {
        TOruActionInfo action;
        action.Code = std::uint8_t(p.size() > 0 ? p[0] : 0);
        action.Value = p.size() > 1 ? p[1] : 0;
        if (auto* text = dynamic_cast<TStrValue*>(data->Data)) action.Text = text->Value;
        OnAction(this, action, !(p.size() > 2 && p[2] != 0));
      }
      break;
    case TOruEngine::kImageEvent:
      if (OnImage) OnImage(this, data->Data);
      break;
    case TOruEngine::kWindowEvent:
      if (p.size() >= 3) SetupWindow(p[0], p[1], p[2]);
      break;
    case TOruEngine::kRefusedEvent:
      if (auto* why = dynamic_cast<TStrValue*>(data->Data); why && OnRefused) OnRefused(this, why->Value);
      break;
    default:
      break;
  }
}

}  // namespace oru
