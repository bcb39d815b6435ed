#include "OruLib2/OruShowDialogs.h"

#include <algorithm>
#include <limits>

#include "Platform/PlatSystem.h"
#include "ZmLib/Graphics/winImageUtils.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/Win32/winCommonDialogs.h"
#include "ZmLib/Win32/winPrinters.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmByteString.h"
#include "ZmLib/zmLog.h"

namespace oru {

using zm::MakeRef;
using zm::TRef;

namespace {

constexpr const char16_t* kErrorBoxCaption = u"Slideshow Error";
constexpr const char* kPrintTitle = "Slideshow";

WideString Option(zm::TIniFile* ini, const WideString& key, const WideString& def) {
  return ini->ReadString(u"Main", key, def);
}

template <class T>
T* Place(T* item, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
  item->X = ScaleDialogLength(x);
  item->Y = ScaleDialogLength(y);
  item->Width = ScaleDialogLength(w);
  item->Height = ScaleDialogLength(h);
  return item;
}

WideString ExceptionText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return zm::TByteString(std::string(e.what())).ToWide();
  } catch (...) {
    return u"unknown exception";
  }
}

void ReportError(HWND owner, const WideString& text) {
  zm::LogLine(WideString(kErrorBoxCaption) + u": " + text);
  zm::WndAPIClass->MessageBox(owner, text, kErrorBoxCaption, zm::MB_ICONEXCLAMATION);
}

bool IsJpegName(const WideString& name) {
  const WideString ext = zm::ExtractFileExt(name);
  for (const char16_t* j : {u".jpg", u".jpeg", u".jpe", u".jfif"})
    if (zm::SameText(ext, j)) return true;
  return false;
}

bool UsableBitmap(const TPictureData& data) {
  return data.Bitmap && data.Bitmap->Width() > 0 && data.Bitmap->AbsHeight() > 0 && data.Bitmap->Bits();
}

// Written under a temporary name beside the chosen file and renamed over it
// when complete: a save that fails leaves an earlier file as it was, and
// says which file and the system's reason (no such folder, no permission,
// the disk full).
void SaveReplacing(const WideString& name, zm::TStream* source) {
  const WideString temp = name + u".saving";
  std::string reason;
  bool made = false;
  try {
    TRef<zm::TFileStream> out = MakeRef<zm::TFileStream>(temp, zm::GENERIC_WRITE, zm::CREATE_ALWAYS, 0u);
    made = true;
    source->SetPosition(0);
    const std::int64_t size = source->GetSize();
    if (out->CopyFrom(source, size) != size) {
      reason = "Can`t write the picture file";
    } else {
      // Closed here: a disk that fills up may say so only now.
      out->Close();
      if (!zm::FileAPI().MoveFile(temp, name, zm::MOVEFILE_REPLACE_EXISTING))
        reason = zm::SysErrorMessage(plat::LastOSError());
    }
  } catch (const zm::EFileOpenError& e) {
    reason = zm::SysErrorMessage(e.Code());
  } catch (const zm::EFileError& e) {
    reason = e.what();
  } catch (const zm::EStreamError& e) {
    reason = e.what();
  } catch (...) {
    if (made) zm::FileAPI().DeleteFile(temp);
    throw;
  }
  if (reason.empty()) return;
  if (made) zm::FileAPI().DeleteFile(temp);
  WideString shown = name;
  std::replace(shown.begin(), shown.end(), u'\\', u'/');
  throw zm::Exception(zm::UTF8Encode(shown).Str() + "\r" + reason);
}

}  // namespace

std::int32_t ScaleDialogLength(std::int32_t length, std::int32_t logPixelsY) {
  if (logPixelsY < 1) return length;
  const std::int64_t n = std::int64_t(length) * logPixelsY;
  std::int64_t q = n / 96, r = n % 96;
  if (r < 0) r += 96, --q;  // floor, so that halves round the same on both sides of 0
  if (2 * r > 96 || (2 * r == 96 && (q & 1))) ++q;
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(q, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::int32_t ScaleDialogLength(std::int32_t length) { return ScaleDialogLength(length, zm::ScreenLogPixelsY()); }

// ---- the picture callback ---------------------------------------------------------------

void TCallBackClass::Dispose() {
  Callback = nullptr;
  Show = nullptr;
  zm::TRefObject::Dispose();
}

bool TCallBackClass::Get(std::int32_t kind, TPictureData& data) {
  if (!Callback) return false;
  try {
    return Callback(this, kind, data);
  } catch (...) {
    zm::LogLine(u"Picture for the print dialog: " + ExceptionText());
    return false;
  }
}

bool SlidePictureFile(const zm::TIniList* slideSection, const TShowFileOpener& open, TPictureData& data) {
  const WideString name = zm::IniGetString(zm::IniFind(slideSection, u"picture"));
  if (name.empty() || !open) return false;
  try {
    TRef<zm::TStream> file = TRef<zm::TStream>::Adopt(open(name));
    if (!file) return false;
    if (!data.Stream) data.Stream = MakeRef<zm::TMemoryStream>();
    data.Stream->SetSize(0);
    if (IsJpegName(name)) {
      // A JPEG keeps its own bytes, with its metadata.
      file->SetPosition(0);
      data.Stream->CopyFrom(file.get(), zm::TStream::kMaxCount);
      data.Name = name;
    } else {
      TRef<zm::TImage> image = zm::LoadImageFromStream(file.get(), zm::ChangeFileExt(name, u".zmgfx"));
      if (!image || image->Params.Width < 1 || image->Params.Height < 1) return false;
      TRef<zm::TFastDIB> dib = zm::MakeThumbnail(image.get(), image->Params.Width, image->Params.Height, true, true,
                                                 zm::TColor32::FromValue(0xFFFFFFFF));
      if (!dib) return false;
      dib->SaveToStream(data.Stream.get());
      data.Name = zm::ChangeFileExt(name, u".bmp");
    }
    data.Stream->SetPosition(0);
    return true;
  } catch (...) {
    zm::LogLine(u"Picture " + name + u": " + ExceptionText());
    if (data.Stream) data.Stream->SetSize(0);
    return false;
  }
}

// ---- the password dialog ----------------------------------------------------------------

TOruPasswordDialog::TOruPasswordDialog(zm::TIniFile* ini) {
  ZM_ASSERT(ini != nullptr, "Ini not Assigned");
  Position = zm::dpWorkAreaCenter;
  Caption = Option(ini, u"opt_lng_password_caption", u"Password required");
  Width = ScaleDialogLength(260);
  Height = ScaleDialogLength(98);
  Place(Add<zm::TDialogStatic>(), 12, 12, 244, 16)->Caption =
      Option(ini, u"opt_lng_password_label", u"Enter password:");
  edit_ = Place(Add<zm::TDialogEdit>(), 12, 32, 236, 21);
  edit_->Password = 1;
  auto* ok = Place(Add<zm::TDialogButton>(), 52, 62, 75, 25);
  ok->Caption = Option(ini, u"opt_lng_button_ok", u"OK");
  ok->Id = plat::IDOK;
  ok->Default = 1;
  auto* cancel = Place(Add<zm::TDialogButton>(), 133, 62, 75, 25);
  cancel->Caption = Option(ini, u"opt_lng_button_cancel", u"Cancel");
  cancel->Id = plat::IDCANCEL;
}

bool PasswordCheck(HWND owner, zm::TIniFile* ini) {
  if (!ini || !ini->ReadBool(u"Main", u"opt_usepass", false)) return false;
  const WideString password = Option(ini, u"opt_pass", kDefaultShowPassword);
  TRef<TOruPasswordDialog> dialog = MakeRef<TOruPasswordDialog>(ini);
  if (dialog->ShowModal(owner) != plat::IDOK) return true;
  return dialog->Edit()->Caption != password;
}

bool StartChecks(HWND owner, zm::TIniFile* ini) {
  ZM_ASSERT(ini != nullptr, "Ini not Assigned");
  return PasswordCheck(owner, ini);
}

// ---- the print dialog --------------------------------------------------------------------

TOruPrintDialog::TOruPrintDialog(zm::TIniFile* ini, TCallBackClass* callback) : callback_(callback) {
  ZM_ASSERT(ini != nullptr, "Ini not Assigned");
  Position = zm::dpWorkAreaCenter;
  Caption = Option(ini, u"opt_lng_print_caption", u"Print");
  Width = ScaleDialogLength(282);
  Height = ScaleDialogLength(86);
  auto* print = Place(Add<zm::TDialogButton>(), 12, 12, 125, 25);
  print->Caption = Option(ini, u"opt_lng_print_button5", u"Print");
  print->Id = idPrint;
  if (ini->ReadBool(u"Main", u"CanRestore", false)) {
    save_ = Place(Add<zm::TDialogButton>(), 145, 12, 125, 25);
    save_->Caption = Option(ini, u"opt_lng_print_button6", u"Save");
    save_->Id = idSave;
  }
  auto* change = Place(Add<zm::TDialogButton>(), 12, 49, 125, 25);
  change->Caption = Option(ini, u"opt_lng_print_label", u"Change Printer");
  change->Id = idChangePrinter;
  // Id 0: a click never ends the dialog.
  mainOnly_ = Place(Add<zm::TDialogCheckBox>(), 145, 49, 125, 25);
  mainOnly_->Caption = Option(ini, u"opt_lng_print_button7", u"Only Main Image");
}

void TOruPrintDialog::Dispose() {
  callback_ = nullptr;
  zm::TDialog::Dispose();
}

void TOruPrintDialog::Command(std::int32_t id) {
  bool close = false;
  try {
    switch (id) {
      case idChangePrinter: ChangePrinter(); return;
      case idPrint: close = PrintPicture(); break;
      case idSave:
        // Saving not allowed: a forged command does nothing either.
        if (!save_) return;
        close = SavePicture();
        break;
      default: zm::TDialog::Command(id); return;
    }
  } catch (...) {
    ReportError(Handle, ExceptionText());
    return;
  }
  if (close) zm::TDialog::Command(1);
}

bool TOruPrintDialog::PrintPicture() {
  TPictureData data;
  bool got = false;
  if (callback_) {
    if (mainOnly_->GetChecked()) got = callback_->Get(pkMainPicture, data) && UsableBitmap(data);
    if (!got) got = callback_->Get(pkFrame, data) && UsableBitmap(data);
  }
  if (got) {
    zm::TPrinter* printer = zm::Printers();
    const bool portrait = data.Bitmap->Width() <= data.Bitmap->AbsHeight();
    printer->SetOrientation(portrait ? zm::TPrinterOrientation::Portrait : zm::TPrinterOrientation::Landscape);
    printer->PrintBitmap(data.Bitmap->Bits(), data.Bitmap->Info(), kPrintTitle, data.Bitmap->Dc());
  }
  return true;
}

bool TOruPrintDialog::SavePicture() {
  TRef<zm::TSaveDialog> save = MakeRef<zm::TSaveDialog>(Handle);
  save->Options = zm::kDefaultSaveOptions | zm::SaveOption(zm::ofOverwritePrompt);
  TPictureData data;
  if (callback_ && mainOnly_->GetChecked() && callback_->Get(pkPictureFile, data) && !data.Name.empty() &&
      data.Stream) {
    // The show's own folders are not on the disk: only the name is offered.
    const WideString ext = zm::ExtractFileExt(data.Name);
    save->FileName = zm::ExtractFileName(data.Name);
    save->DefaultExt = ext.size() > 1 ? ext.substr(1) : WideString();
    save->Filter = ext.size() > 1 ? u"*" + ext : WideString(u"*.*");
    if (!save->Execute()) return false;
    SaveReplacing(save->FileName, data.Stream.get());
    return true;
  }
  TPictureData frame;
  if (callback_ && callback_->Get(pkFrame, frame) && UsableBitmap(frame)) {
    save->FileName = u"Slide" + zm::IntToStr(std::int64_t(callback_->SlideIndex) + 1) + u".bmp";
    save->DefaultExt = u"bmp";
    save->Filter = u"*.bmp";
    if (save->Execute()) {
      TRef<zm::TMemoryStream> bmp = MakeRef<zm::TMemoryStream>();
      frame.Bitmap->SaveToStream(bmp.get());
      SaveReplacing(save->FileName, bmp.get());
    }
  }
  return true;
}

void TOruPrintDialog::ChangePrinter() {
  TRef<zm::TPrintDialog> dialog = MakeRef<zm::TPrintDialog>(Handle);
  dialog->Execute();
}

std::intptr_t ShowPrintDialog(HWND owner, zm::TIniFile* ini, const TPictureCallback& callback,
                              TCallBackClass* object) {
  ZM_ASSERT(ini != nullptr, "Ini not Assigned");
  ZM_ASSERT(callback != nullptr, "Callback not Assigned");
  TRef<TCallBackClass> holder(object);
  if (!holder) holder = MakeRef<TCallBackClass>();
  holder->Callback = callback;
  TRef<TOruPrintDialog> dialog = MakeRef<TOruPrintDialog>(ini, holder.get());
  return dialog->ShowModal(owner);
}

}  // namespace oru
