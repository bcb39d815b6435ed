#pragma once
// The player's own dialogs: the show password asked before a show opens and
// the print dialog (print the slide or its main picture, change the printer,
// save the picture). Their texts come from the show's options, so that a show
// can translate them; lengths are 96-dpi pixels scaled to the screen.
#include <cstdint>
#include <functional>

#include "ZmLib/Graphics/zmDibBitmap.h"
#include "ZmLib/Win32/winDialogs.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmStream.h"

namespace oru {

using zm::WideString;
using HWND = plat::HWND;

inline constexpr const char16_t* kDefaultShowPassword = u"qmwr83kzpvtyhnbx41Dlqej";

// Control ids of the print dialog.
enum : std::int32_t { idChangePrinter = 1000, idPrint = 1001, idSave = 1002 };

// A 96-dpi length at the given vertical density: L x dpi / 96 to the nearest
// whole, halves to even. A density below 1 leaves the length as it is.
std::int32_t ScaleDialogLength(std::int32_t length, std::int32_t logPixelsY);
// At the screen's density.
std::int32_t ScaleDialogLength(std::int32_t length);

// What the print dialog asks for.
enum : std::int32_t {
  pkMainPicture = 0,  // the slide's main picture decoded into Bitmap
  pkFrame = 1,        // the captured frame into Bitmap
  pkPictureFile = 2   // the slide's picture file: Name and its bytes in Stream
};

struct TPictureData {
  zm::TRef<zm::TFastDIB> Bitmap;
  WideString Name;
  zm::TRef<zm::TMemoryStream> Stream = zm::MakeRef<zm::TMemoryStream>();
};

class TCallBackClass;
// True when the picture of that kind was given.
using TPictureCallback = std::function<bool(TCallBackClass* object, std::int32_t kind, TPictureData& data)>;

class TCallBackClass : public zm::TRefObject {
public:
  zm::TRef<zm::TRefObject> Show;
  TPictureCallback Callback;
  std::int32_t SlideIndex = -1;  // -1 when none
  void Dispose() override;
  // Asks the callback; false without one or when it raises.
  bool Get(std::int32_t kind, TPictureData& data);
};

// The picture file of a slide: the "picture" key of its section. JPEG files are copied unchanged; any other picture is decoded
// and written as a BMP file, its name taking ".bmp". Open gives a new stream
// over a show file (nullptr when it cannot). False when there is no picture,
// it cannot be opened or decoded. Data.Stream is left at position 0.
using TShowFileOpener = std::function<zm::TStream*(const WideString& name)>;
bool SlidePictureFile(const zm::TIniList* slideSection, const TShowFileOpener& open, TPictureData& data);

// ---- the dialogs ----------------------------------------------------------------------------

class TOruPasswordDialog : public zm::TDialog {
public:
  explicit TOruPasswordDialog(zm::TIniFile* ini);
  zm::TDialogEdit* Edit() const { return edit_; }

private:
  zm::TDialogEdit* edit_;
};

class TOruPrintDialog : public zm::TDialog {
public:
  TOruPrintDialog(zm::TIniFile* ini, TCallBackClass* callback);
  void Dispose() override;
  void Command(std::int32_t id) override;

  zm::TDialogButton* SaveButton() const { return save_; }  // nullptr when saving is not allowed
  zm::TDialogCheckBox* MainImageBox() const { return mainOnly_; }

  // The actions of the buttons; each true when the dialog is to close.
  bool PrintPicture();
  bool SavePicture();
  void ChangePrinter();

private:
  zm::TRef<TCallBackClass> callback_;
  zm::TDialogButton* save_ = nullptr;
  zm::TDialogCheckBox* mainOnly_ = nullptr;
};

// False (the show may open) unless "opt_usepass" is set; then only OK with
// the exact password passes.
bool PasswordCheck(HWND owner, zm::TIniFile* ini);
// True when the show may not open. Ini must be given.
bool StartChecks(HWND owner, zm::TIniFile* ini);

// Ini and Callback must be given. The modal result: 1 after a print or save,
// else what ended the dialog (2 for Escape or the close box).
std::intptr_t ShowPrintDialog(HWND owner, zm::TIniFile* ini, const TPictureCallback& callback,
                              TCallBackClass* object);

}  // namespace oru
