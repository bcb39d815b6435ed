#pragma once
// Modal dialogs made at run time: a dialog object with its items writes a
// dialog template into memory and runs it as a system dialog box, with one of
// its own methods as the dialog procedure. Positions and sizes are pixels:
// the template carries them as they stand and every window is moved and
// sized again in pixels once it exists.
#include <cstdint>
#include <functional>

#include "Platform/User/PlatDialogs.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/zmLists.h"
#include "ZmLib/zmStream.h"

namespace zm {

class TDialog;
class TCustomDialogItem;

using TDialogItemEvent = std::function<void(TCustomDialogItem* item)>;

class TCustomDialogItem : public TRefObject {
public:
  WideString Caption;
  std::int32_t X = 0, Y = 0, Width = 0, Height = 0;
  HWND Handle = nullptr;  // none until bound
  TDialogItemEvent OnChange;

  void Dispose() override;  // unbinds a bound item
  virtual void WriteTemplate(TStream* stream) = 0;
  // Subclasses the window so that its messages reach HandleMessage first.
  virtual void Bind(HWND handle);
  virtual void Initialize() {}
  // SetWindowPos to X, Y, Width, Height; an unbound item fails an assertion.
  virtual void ApplyBounds();
  virtual void Unbind();
  virtual void Changed();  // calls OnChange when set
  // Left-button press and release inside the item call Changed; every
  // message then goes on to the window's previous procedure.
  virtual LRESULT HandleMessage(TWndProcArgs& msg);

  bool Pressed() const { return pressed_ != 0; }

protected:
  plat::WNDPROC previous_ = nullptr;  // of the subclassing
  std::uint8_t pressed_ = 0;

private:
  static LRESULT SubclassHandler(void* data, TWndProcArgs* args);
};

class TDialogItem : public TCustomDialogItem {
public:
  std::uint8_t TabStop = 0;
  std::int32_t Id = 0;  // written as the 16-bit control id

  // Appends the item to the dialog's list; the dialog owns it from then on.
  explicit TDialogItem(TDialog* dialog);
  void Dispose() override;  // leaves the dialog's list
  void WriteTemplate(TStream* stream) override;

  virtual void GetDefaultSize(std::int32_t& width, std::int32_t& height);
  virtual std::uint32_t GetStyle();
  virtual std::uint32_t GetExStyle() { return 0; }
  virtual void WriteClass(TStream* stream) = 0;

  TDialog* Dialog() const { return dialog_; }

protected:
  TDialog* dialog_;
};

class TDialogCustomButton : public TDialogItem {
public:
  explicit TDialogCustomButton(TDialog* dialog);
  std::uint32_t GetStyle() override;
  void WriteClass(TStream* stream) override;
  virtual std::uint32_t GetButtonStyle() { return 0; }
};

class TDialogButton : public TDialogCustomButton {
public:
  std::uint8_t Default = 0;

  explicit TDialogButton(TDialog* dialog);
  void GetDefaultSize(std::int32_t& width, std::int32_t& height) override;
  std::uint32_t GetButtonStyle() override;
};

class TDialogCheckBox : public TDialogCustomButton {
public:
  std::uint8_t Checked = 0;

  explicit TDialogCheckBox(TDialog* dialog);
  void GetDefaultSize(std::int32_t& width, std::int32_t& height) override;
  std::uint32_t GetButtonStyle() override;
  void Initialize() override;  // the window's check state from Checked
  void Unbind() override;      // Checked from the window first
  // The window's state while it exists (stored into Checked), else Checked.
  bool GetChecked();
};

class TCustomDialogEdit : public TDialogItem {
public:
  std::uint8_t Password = 0, MultiLine = 0, ReadOnly = 0, ClientEdge = 0, WordWrap = 0;
  std::uint8_t ScrollBars = 0;  // 0 none, 1 vertical, 2 horizontal, 3 both

  explicit TCustomDialogEdit(TDialog* dialog);
  void GetDefaultSize(std::int32_t& width, std::int32_t& height) override;
  std::uint32_t GetStyle() override;
  std::uint32_t GetExStyle() override;
  void WriteClass(TStream* stream) override;
  // Caption takes the typed text first, so that it outlives the window.
  void Unbind() override;
};

class TDialogEdit : public TCustomDialogEdit {
public:
  using TCustomDialogEdit::TCustomDialogEdit;
};

class TDialogStatic : public TDialogItem {
public:
  explicit TDialogStatic(TDialog* dialog);
  void GetDefaultSize(std::int32_t& width, std::int32_t& height) override;
  void WriteClass(TStream* stream) override;
};

// Where Initialize puts the dialog.
enum : std::uint8_t {
  dpWorkAreaCenter = 0,  // centred in the primary monitor's work area
  dpOwnerCenter = 1,     // centred over the owner window
  dpTemplate = 2         // left where the template puts it
};

class TDialog : public TCustomDialogItem {
public:
  static constexpr std::uint32_t kTemplateStyle = 0x94C809C5;

  HWND Owner = nullptr;
  std::uint8_t Position = dpWorkAreaCenter;
  std::int32_t ModalResult = 0;

  TDialog();
  void Dispose() override;  // frees the items
  void WriteTemplate(TStream* stream) override;
  // Binds the dialog window, then its child windows in order to the items.
  void Bind(HWND handle) override;
  void Initialize() override;
  void ApplyBounds() override;  // the client area becomes Width x Height
  void Unbind() override;

  virtual void Command(std::int32_t id);  // ModalResult := id; EndDialog
  virtual LRESULT DialogProc(TWndProcArgs& msg);
  // Runs the dialog; the id it ended with, or -1 when it could not run.
  virtual std::intptr_t ShowModal(HWND owner);

  // Makes an item of this dialog (which owns it) and returns it.
  template <class T, class... A>
  T* Add(A&&... args) {
    T* item = new T(this, std::forward<A>(args)...);
    item->AfterConstruction();
    return item;
  }
  std::int32_t ItemCount() const { return items_ ? items_->Count() : 0; }
  TDialogItem* Item(std::int32_t i) const;  // nullptr out of range
  TList* Items() const { return items_.get(); }

private:
  friend class TDialogItem;
  TRef<TList> items_;
  static LRESULT DialogProcEntry(void* object, HWND h, UINT m, WPARAM w, LPARAM l);
};

class TDialogStream : public TMemoryStream {};

// The template's font size: 9 at 120 dots per inch horizontally, else
// 8 pt scaled by the vertical density (halves to even).
std::int32_t DialogFontPointSize(std::int32_t logPixelsX, std::int32_t logPixelsY);
extern const WideString kDialogFontFace;  // "MS Shell Dlg 2"

// Once at start-up.
void InitWinDialogs();

}  // namespace zm
