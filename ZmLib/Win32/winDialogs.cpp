#include "ZmLib/Win32/winDialogs.h"

#include <algorithm>
#include <mutex>

#include "ZmLib/Win32/winScreen.h"

namespace zm {

using namespace plat;

namespace {

constexpr std::uint32_t kBaseStyle = WS_CHILD | WS_VISIBLE;  // 0x50000000
constexpr std::uint32_t kEditStyle = WS_CLIPSIBLINGS | WS_BORDER | ES_AUTOVSCROLL;  // 0x04800040

void WriteSmall(TStream* s, std::int32_t v) { s->WriteWord(static_cast<std::uint16_t>(v)); }

bool InsideClient(HWND h, LPARAM l) {
  RECT r;
  if (!GetClientRect(h, &r)) return false;
  int x = GET_X_LPARAM(l), y = GET_Y_LPARAM(l);
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

}  // namespace

const WideString kDialogFontFace = u"MS Shell Dlg 2";

std::int32_t DialogFontPointSize(std::int32_t logPixelsX, std::int32_t logPixelsY) {
  if (logPixelsX == 120) return 9;
  if (logPixelsY <= 0) return 8;
  // 8 * dpi / 96, rounded to nearest with halves to even.
  std::int64_t n = 8 * std::int64_t(logPixelsY), q = n / 96, r = n % 96;
  if (2 * r > 96 || (2 * r == 96 && (q & 1))) ++q;
  return static_cast<std::int32_t>(std::min<std::int64_t>(q, 0xFFFF));
}

// ---- TCustomDialogItem ---------------------------------------------------------------

void TCustomDialogItem::Dispose() {
  if (Handle) {
    try {
      Unbind();
    } catch (...) {
      ReportSwallowedException();
    }
  }
  OnChange = nullptr;
  TRefObject::Dispose();
}

void TCustomDialogItem::Bind(HWND handle) {
  if (Handle) Unbind();
  previous_ = TWndAPI::SubclassWindow(handle, &SubclassHandler, this);
  Handle = handle;
}

void TCustomDialogItem::ApplyBounds() {
  ZM_ASSERT(Handle != nullptr, "ApplyBounds: item not bound");
  SetWindowPos(Handle, nullptr, X, Y, Width, Height, SWP_NOZORDER);
}

void TCustomDialogItem::Unbind() {
  if (!Handle) return;
  HWND h = Handle;
  Handle = nullptr;
  pressed_ = 0;
  TWndAPI::UnsubclassWindow(h, &SubclassHandler, this, previous_);
  previous_ = nullptr;
}

void TCustomDialogItem::Changed() {
  if (OnChange) OnChange(this);
}

LRESULT TCustomDialogItem::HandleMessage(TWndProcArgs& msg) {
  // Taken first: the message may unbind the item on its way.
  WNDPROC previous = previous_;
  if (msg.Msg == WM_LBUTTONDOWN) {
    if (InsideClient(msg.Window, msg.LParam)) pressed_ = 1;
  } else if (msg.Msg == WM_LBUTTONUP && pressed_) {
    pressed_ = 0;
    if (InsideClient(msg.Window, msg.LParam)) Changed();
  }
  if (!previous) return DefWindowProcW(msg.Window, msg.Msg, msg.WParam, msg.LParam);
  return CallWindowProcW(previous, msg.Window, msg.Msg, msg.WParam, msg.LParam);
}

LRESULT TCustomDialogItem::SubclassHandler(void* data, TWndProcArgs* args) {
  return static_cast<TCustomDialogItem*>(data)->HandleMessage(*args);
}

// ---- TDialogItem -----------------------------------------------------------------------

TDialogItem::TDialogItem(TDialog* dialog) : dialog_(dialog) {
  ZM_ASSERT(dialog != nullptr && dialog->items_, "TDialogItem: no dialog");
  dialog->items_->Add(this);
  TDialogItem::GetDefaultSize(Width, Height);
}

void TDialogItem::Dispose() {
  // The dialog's list reads nil while the dialog frees its items.
  if (dialog_ && dialog_->items_) dialog_->items_->Remove(this);
  dialog_ = nullptr;
  TCustomDialogItem::Dispose();
}

void TDialogItem::GetDefaultSize(std::int32_t& width, std::int32_t& height) {
  width = 0;
  height = 0;
}

std::uint32_t TDialogItem::GetStyle() { return kBaseStyle | (TabStop ? WS_TABSTOP : 0u); }

void TDialogItem::WriteTemplate(TStream* stream) {
  while (stream->GetPosition() % 4 != 0) stream->WriteByte(0);
  stream->WriteInteger(static_cast<std::int32_t>(GetStyle()));
  stream->WriteInteger(static_cast<std::int32_t>(GetExStyle()));
  WriteSmall(stream, X);
  WriteSmall(stream, Y);
  WriteSmall(stream, Width);
  WriteSmall(stream, Height);
  WriteSmall(stream, Id);
  WriteClass(stream);
  // A zero inside the caption would end the title early and shift the rest.
  WideString text = Caption.substr(0, Caption.find(u'\0'));
  if (!text.empty()) stream->WriteWideString(text);
  stream->WriteWord(0);
  stream->WriteWord(0);  // no creation data
}

// ---- buttons and check boxes --------------------------------------------------------------

TDialogCustomButton::TDialogCustomButton(TDialog* dialog) : TDialogItem(dialog) { TabStop = 1; }

std::uint32_t TDialogCustomButton::GetStyle() { return TDialogItem::GetStyle() | GetButtonStyle(); }

void TDialogCustomButton::WriteClass(TStream* stream) {
  stream->WriteWord(0xFFFF);
  stream->WriteWord(kButtonClassAtom);
}

TDialogButton::TDialogButton(TDialog* dialog) : TDialogCustomButton(dialog) { GetDefaultSize(Width, Height); }

void TDialogButton::GetDefaultSize(std::int32_t& width, std::int32_t& height) {
  width = 50;
  height = 14;
}

std::uint32_t TDialogButton::GetButtonStyle() { return Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON; }

TDialogCheckBox::TDialogCheckBox(TDialog* dialog) : TDialogCustomButton(dialog) { GetDefaultSize(Width, Height); }

void TDialogCheckBox::GetDefaultSize(std::int32_t& width, std::int32_t& height) {
  width = 50;
  height = 8;
}

std::uint32_t TDialogCheckBox::GetButtonStyle() { return BS_AUTOCHECKBOX; }

void TDialogCheckBox::Initialize() {
  if (Handle) SendMessageW(Handle, BM_SETCHECK, Checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TDialogCheckBox::Unbind() {
  GetChecked();
  TDialogCustomButton::Unbind();
}

bool TDialogCheckBox::GetChecked() {
  if (Handle && IsWindow(Handle)) Checked = SendMessageW(Handle, BM_GETCHECK, 0, 0) != 0;
  return Checked != 0;
}

// ---- edit boxes and static texts -----------------------------------------------------------

TCustomDialogEdit::TCustomDialogEdit(TDialog* dialog) : TDialogItem(dialog) {
  TabStop = 1;
  ClientEdge = 1;
  GetDefaultSize(Width, Height);
}

void TCustomDialogEdit::GetDefaultSize(std::int32_t& width, std::int32_t& height) {
  width = 50;
  height = 12;
}

std::uint32_t TCustomDialogEdit::GetStyle() {
  std::uint32_t s = TDialogItem::GetStyle() | kEditStyle;
  if (Password) s |= ES_PASSWORD;
  if (MultiLine) s |= ES_MULTILINE;
  if (ReadOnly) s |= ES_READONLY;
  if (!WordWrap) s |= ES_AUTOHSCROLL;
  if (ScrollBars & 1) s |= WS_VSCROLL;
  if (ScrollBars & 2) s |= WS_HSCROLL;
  return s;
}

std::uint32_t TCustomDialogEdit::GetExStyle() { return ClientEdge ? WS_EX_CLIENTEDGE : 0u; }

void TCustomDialogEdit::WriteClass(TStream* stream) {
  stream->WriteWord(0xFFFF);
  stream->WriteWord(kEditClassAtom);
}

void TCustomDialogEdit::Unbind() {
  if (Handle && IsWindow(Handle)) Caption = WindowText(Handle);
  TDialogItem::Unbind();
}

TDialogStatic::TDialogStatic(TDialog* dialog) : TDialogItem(dialog) { GetDefaultSize(Width, Height); }

void TDialogStatic::GetDefaultSize(std::int32_t& width, std::int32_t& height) {
  width = 50;
  height = 8;
}

void TDialogStatic::WriteClass(TStream* stream) {
  stream->WriteWord(0xFFFF);
  stream->WriteWord(kStaticClassAtom);
}

// ---- TDialog ---------------------------------------------------------------------------------

TDialog::TDialog() : items_(MakeRef<TList>()) {}

void TDialog::Dispose() {
  if (Handle) {
    try {
      Unbind();
    } catch (...) {
      ReportSwallowedException();
    }
  }
  FreeListItems(items_);
  items_ = nullptr;
  TCustomDialogItem::Dispose();
}

TDialogItem* TDialog::Item(std::int32_t i) const {
  return items_ ? static_cast<TDialogItem*>(items_->Get(i)) : nullptr;
}

void TDialog::WriteTemplate(TStream* stream) {
  const std::int32_t count = ItemCount();
  ZM_ASSERT(count <= 0xFFFF, "WriteTemplate: too many dialog items");
  stream->WriteInteger(static_cast<std::int32_t>(kTemplateStyle));
  stream->WriteInteger(0);
  WriteSmall(stream, count);
  WriteSmall(stream, X);
  WriteSmall(stream, Y);
  WriteSmall(stream, Width);
  WriteSmall(stream, Height);
  stream->WriteWord(0);  // no menu
  stream->WriteWord(0);  // the predefined dialog class
  WideString title = Caption.substr(0, Caption.find(u'\0'));
  stream->WriteWideString(title);
  stream->WriteWord(0);
  TPoint ppi = PixelsPerInch();
  stream->WriteWord(static_cast<std::uint16_t>(DialogFontPointSize(ppi.X, ppi.Y)));
  stream->WriteWideString(kDialogFontFace);
  stream->WriteWord(0);
  for (std::int32_t i = 0; i < count; ++i) Item(i)->WriteTemplate(stream);
}

void TDialog::Bind(HWND handle) {
  TCustomDialogItem::Bind(handle);
  // The child windows come in template order, which is the list order.
  HWND child = nullptr;
  for (std::int32_t i = 0; i < ItemCount(); ++i) {
    child = FindWindowExA(handle, child, nullptr, nullptr);
    if (!child) break;
    Item(i)->Bind(child);
  }
}

void TDialog::ApplyBounds() {
  ZM_ASSERT(Handle != nullptr, "ApplyBounds: item not bound");
  RECT wr, cr;
  GetWindowRect(Handle, &wr);
  GetClientRect(Handle, &cr);
  const int dw = Width - (cr.right - cr.left), dh = Height - (cr.bottom - cr.top);
  SetWindowPos(Handle, nullptr, wr.left, wr.top, wr.right - wr.left + dw, wr.bottom - wr.top + dh, SWP_NOZORDER);
  for (std::int32_t i = 0; i < ItemCount(); ++i) Item(i)->ApplyBounds();
}

void TDialog::Initialize() {
  if (Handle && Position != dpTemplate) {
    RECT wr;
    GetWindowRect(Handle, &wr);
    const int w = wr.right - wr.left, h = wr.bottom - wr.top;
    bool place = false;
    int left = 0, top = 0;
    if (Position == dpOwnerCenter) {
      RECT oc, ow;
      if (Owner && GetClientRect(Owner, &oc) && GetWindowRect(Owner, &ow) && oc.right > oc.left &&
          oc.bottom > oc.top) {
        left = ow.left + (oc.right - oc.left - w) / 2;
        top = ow.top + (oc.bottom - oc.top - h) / 2;
        place = true;
      }
    } else {
      TRect c = CenteredRect(w, h);
      left = c.Left;
      top = c.Top;
      place = true;
    }
    if (place) {
      TRect work = WorkArea();
      left = std::max(0, std::min(left, work.Right - work.Left - w));
      top = std::max(0, std::min(top, work.Bottom - work.Top - h));
      SetWindowPos(Handle, nullptr, left, top, 0, 0, SWP_NOSIZE);
    }
  }
  for (std::int32_t i = 0; i < ItemCount(); ++i) Item(i)->Initialize();
}

void TDialog::Unbind() {
  TCustomDialogItem::Unbind();
  for (std::int32_t i = 0; i < ItemCount(); ++i)
    if (Item(i)->Handle) Item(i)->Unbind();
}

void TDialog::Command(std::int32_t id) {
  ModalResult = id;
  EndDialog(Handle, id);
}

LRESULT TDialog::DialogProc(TWndProcArgs& msg) {
  switch (msg.Msg) {
    case WM_INITDIALOG:
      Bind(msg.Window);
      ApplyBounds();
      Initialize();
      break;
    case WM_COMMAND: {
      // Only a click (a button, or Enter and Escape pressing one) is a
      // command, and id 0 never ends the dialog. An edit box notifies every
      // change it makes while the user types: that goes to its OnChange.
      const WORD code = HIWORD(msg.WParam);
      if (code == BN_CLICKED) {
        if (LOWORD(msg.WParam) != 0) Command(LOWORD(msg.WParam));
      } else if (code == EN_CHANGE && msg.LParam) {
        for (std::int32_t i = 0; i < ItemCount(); ++i)
          if (Item(i)->Handle == reinterpret_cast<HWND>(msg.LParam)) {
            Item(i)->Changed();
            break;
          }
      }
      break;
    }
    case WM_DESTROY: Unbind(); break;
    case WM_SYSKEYDOWN:
      if (Handle && GetFocus() != Handle) {
        SetFocus(Handle);
        PostMessageW(Handle, WM_KEYDOWN, msg.WParam, msg.LParam);
      }
      break;
  }
  return 0;
}

LRESULT TDialog::DialogProcEntry(void* object, HWND h, UINT m, WPARAM w, LPARAM l) {
  TWndProcArgs args{h, m, w, l};
  return static_cast<TDialog*>(object)->DialogProc(args);
}

std::intptr_t TDialog::ShowModal(HWND owner) {
  Owner = owner;
  TRef<TDialogStream> stream = MakeRef<TDialogStream>();
  WriteTemplate(stream.get());
  struct TThunk {
    WNDPROC Proc;
    ~TThunk() { FreeThunk(reinterpret_cast<const void*>(Proc)); }
  } thunk{MakeWndProcThunk(this, &DialogProcEntry)};
  return DialogBoxIndirectParamW(ModuleInstance(), stream->Memory(), static_cast<std::size_t>(stream->GetSize()),
                                 owner, thunk.Proc, reinterpret_cast<LPARAM>(this));
}

void InitWinDialogs() {
  static std::once_flag once;
  std::call_once(once, [] { InitCommonControls(); });
}

}  // namespace zm
