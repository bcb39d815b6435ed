#include "ZmLib/Win32/winCommonDialogs.h"

#include <algorithm>
#include <array>

#include "Platform/PlatShell.h"
#include "Platform/Print/PlatPrint.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/zmByteString.h"

namespace zm {

using namespace plat;

namespace {

// Classic and item-based flag of each save option, by bit.
constexpr std::array<std::uint32_t, kSaveOptionCount> kClassicFlags = {
    0x1,    0x2,    0x4,     0x8,     0x10,    0x100,    0x200,    0x400,    0x800,     0x1000,    0x2000,
    0x4000, 0x8000, 0x10000, 0x20000, 0x40000, 0x100000, 0x400000, 0x800000, 0x2000000, 0x10000000};
constexpr std::array<std::uint32_t, kSaveOptionCount> kItemFlags = {
    0,      0x2,    0,       0x8,     0,       0x100,    0x200,    0x4,      0x800,     0x1000,    0x2000,
    0x4000, 0x8000, 0x10000, 0,       0,       0x100000, 0,        0,        0x2000000, 0x10000000};
constexpr std::uint32_t kClassicAlways = 0x88020;  // explorer, no read-only return, hook

constexpr int kPathEditId = 100;
constexpr int kCopiesEditId = 90;
constexpr int kFirstPrinterId = 100;
constexpr std::int32_t kMaxListedPrinters = 0x7FFF;

// Dialogs over a window of their own are placed over it; over the
// application's window (hidden) or none, in the work area.
bool OwnerPlacesDialog(HWND owner) { return owner && owner != ApplicationWindow(); }

bool IsAbsolutePath(const WideString& p) {
  return !p.empty() && (p[0] == u'/' || p[0] == u'\\' || (p.size() >= 2 && p[1] == u':'));
}

// A path as the user's system writes it, in the texts they read and edit.
WideString ShownPath(WideString path) {
  std::replace(path.begin(), path.end(), u'\\', u'/');
  return path;
}

WideString Trimmed(const WideString& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && (s[a] == u' ' || s[a] == u'\t')) ++a;
  while (b > a && (s[b - 1] == u' ' || s[b - 1] == u'\t')) --b;
  return s.substr(a, b - a);
}

TDialogButton* AddButton(TDialog* d, const WideString& text, int id, bool isDefault, int x, int y) {
  auto* b = d->Add<TDialogButton>();
  b->Caption = text;
  b->Id = id;
  b->Default = isDefault ? 1 : 0;
  b->X = x, b->Y = y, b->Width = 75, b->Height = 25;
  return b;
}

TDialogStatic* AddText(TDialog* d, const WideString& text, int x, int y, int w, int h) {
  auto* s = d->Add<TDialogStatic>();
  s->Caption = text;
  s->X = x, s->Y = y, s->Width = w, s->Height = h;
  return s;
}

// Yes replaces the file; No (the default) and Escape keep it.
bool ConfirmReplace(HWND owner, const WideString& path) {
  TRef<TDialog> d = MakeRef<TDialog>();
  d->Caption = u"Confirm Save As";
  d->Width = 360, d->Height = 92;
  d->Position = dpOwnerCenter;
  AddText(d.get(), ShownPath(path) + u" already exists.\r\nDo you want to replace it?", 12, 12, 336, 36);
  AddButton(d.get(), u"Yes", IDYES, false, 192, 56);
  AddButton(d.get(), u"No", IDNO, true, 273, 56);
  return d->ShowModal(owner) == IDYES;
}

// The printer list as radio buttons: a click checks one box and clears the
// others, and never ends the dialog.
class TPrinterChoiceDialog : public TDialog {
public:
  std::vector<TDialogCheckBox*> Boxes;
  void Command(std::int32_t id) override {
    const std::int32_t i = id - kFirstPrinterId;
    if (i >= 0 && i < std::int32_t(Boxes.size())) {
      for (std::int32_t k = 0; k < std::int32_t(Boxes.size()); ++k) {
        Boxes[k]->Checked = k == i;
        Boxes[k]->Initialize();
      }
      return;
    }
    TDialog::Command(id);
  }
  void Initialize() override {
    TDialog::Initialize();
    if (!Handle || !OwnerPlacesDialog(Owner)) return;
    RECT ow, dw;
    if (!GetWindowRect(Owner, &ow) || !GetWindowRect(Handle, &dw)) return;
    std::int32_t left = 0, top = 0;
    PlaceOverOwner(ow, dw, left, top);
    SetWindowPos(Handle, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
};

}  // namespace

TApplicationWindowProc ApplicationWindowHook = nullptr;

HWND ApplicationWindow() { return ApplicationWindowHook ? ApplicationWindowHook() : nullptr; }

std::uint32_t ClassicSaveFlags(std::uint32_t options) {
  std::uint32_t f = kClassicAlways;
  for (std::uint32_t b = 0; b < kSaveOptionCount; ++b)
    if (options & SaveOption(b)) f |= kClassicFlags[b];
  return f;
}

std::uint32_t ItemSaveFlags(std::uint32_t options) {
  std::uint32_t f = 0;
  for (std::uint32_t b = 0; b < kSaveOptionCount; ++b)
    if (options & SaveOption(b)) f |= kItemFlags[b];
  return f;
}

std::vector<TFilterPattern> SplitFilter(const WideString& filter) {
  std::vector<TFilterPattern> out;
  std::size_t pos = 0;
  while (pos < filter.size()) {
    std::size_t bar = filter.find(u'|', pos);
    TFilterPattern entry;
    entry.Name = filter.substr(pos, bar == WideString::npos ? WideString::npos : bar - pos);
    if (bar == WideString::npos) {
      out.push_back(std::move(entry));
      break;
    }
    std::size_t next = filter.find(u'|', bar + 1);
    entry.Pattern = filter.substr(bar + 1, next == WideString::npos ? WideString::npos : next - bar - 1);
    entry.HasPattern = true;
    out.push_back(std::move(entry));
    if (next == WideString::npos) break;
    pos = next + 1;
  }
  return out;
}

std::vector<WideString> FilesFromBuffer(const std::u16string& buffer, bool multi) {
  std::vector<WideString> parts;
  std::size_t pos = 0;
  while (pos < buffer.size()) {
    std::size_t end = buffer.find(u'\0', pos);
    if (end == pos) break;  // the empty string ends the list
    parts.push_back(buffer.substr(pos, end == std::u16string::npos ? std::u16string::npos : end - pos));
    if (end == std::u16string::npos) break;
    pos = end + 1;
  }
  if (parts.empty()) return {};
  if (!multi || parts.size() == 1) return {parts[0]};
  std::vector<WideString> files;
  const WideString folder = IncludeTrailingBackslash(parts[0]);
  for (std::size_t i = 1; i < parts.size(); ++i) files.push_back(folder + parts[i]);
  return files;
}

// ---- TSaveDialog ------------------------------------------------------------------

void TSaveDialog::Dispose() {
  files_ = nullptr;
  TCommonDialog::Dispose();
}

bool TSaveDialog::Execute() {
  // Whatever the dialog does, the current folder is put back.
  struct TFolderGuard {
    WideString Saved = GetCurrentDir(false);
    ~TFolderGuard() {
      if (!Saved.empty()) SetCurrentDir(Saved);
    }
  } guard;

  // The folder shown, where a bare name goes: the user sees it in the box.
  WideString folder = InitialDir;
  if (folder.empty() && IsAbsolutePath(FileName)) folder = ExtractFilePath(FileName, false);
  if (folder.empty()) {
    std::u16string documents;
    folder = plat::DocumentsFolderPath(documents) ? WideString(documents) : guard.Saved;
  }
  WideString text = FileName;
  if (!folder.empty() && !IsAbsolutePath(FileName)) text = IncludeTrailingBackslash(folder) + FileName;
  for (;;) {
    TRef<TDialog> d = MakeRef<TDialog>();
    d->Caption = u"Save As";
    d->Width = 360, d->Height = 100;
    d->Position = OwnerPlacesDialog(Owner) ? dpOwnerCenter : dpWorkAreaCenter;
    AddText(d.get(), u"File name:", 12, 12, 336, 16);
    auto* edit = d->Add<TDialogEdit>();
    edit->Id = kPathEditId;
    edit->Caption = ShownPath(text);
    edit->X = 12, edit->Y = 32, edit->Width = 336, edit->Height = 21;
    AddButton(d.get(), u"OK", IDOK, true, 192, 64);
    AddButton(d.get(), u"Cancel", IDCANCEL, false, 273, 64);
    if (d->ShowModal(Owner) != IDOK) return false;

    // A text left as shown is the path it showed; a typed one is taken as typed.
    if (edit->Caption != ShownPath(text)) text = edit->Caption;
    WideString path = Trimmed(text);
    if (path.empty()) return false;
    if (!IsAbsolutePath(path) && !folder.empty()) path = IncludeTrailingBackslash(folder) + path;
    // A folder is no file name.
    if (path.back() == u'\\' || path.back() == u'/' || DirectoryExists(path)) return false;
    if (!DefaultExt.empty() && ExtractFileExt(path).empty()) path += u"." + DefaultExt;
    if ((Options & SaveOption(ofOverwritePrompt)) && FileExists(path) && !ConfirmReplace(Owner, path)) continue;
    files_->Clear();
    files_->Add(path);
    FileName = path;
    return true;
  }
}

// ---- TPrintDialog -----------------------------------------------------------------

std::uint32_t PrintDialogFlags(const TPrintDialog& d) {
  std::uint32_t f = d.PrintRange == 1 ? 0x1u : d.PrintRange == 2 ? 0x2u : 0x0u;
  f |= 0x3000;  // print and setup hooks
  if (d.Collate) f |= 0x10;
  if (!(d.Options & poPrintToFile)) f |= 0x100000;
  if (!(d.Options & poPageNums)) f |= 0x8;
  if (!(d.Options & poSelection)) f |= 0x4;
  if (d.Options & poDisablePrintToFile) f |= 0x80000;
  if (d.PrintToFile) f |= 0x20;
  if (d.Options & poHelp) f |= 0x800;
  if (!(d.Options & poWarning)) f |= 0x80;
  return f;
}

void PlaceOverOwner(const RECT& owner, const RECT& dialog, std::int32_t& left, std::int32_t& top) {
  const std::int64_t ow = std::int64_t(owner.right) - owner.left, oh = std::int64_t(owner.bottom) - owner.top;
  const std::int64_t dw = std::int64_t(dialog.right) - dialog.left, dh = std::int64_t(dialog.bottom) - dialog.top;
  left = static_cast<std::int32_t>(std::clamp<std::int64_t>(owner.left + (ow - dw) / 2, INT32_MIN, INT32_MAX));
  top = static_cast<std::int32_t>(std::clamp<std::int64_t>(owner.top + (oh - dh) / 3, INT32_MIN, INT32_MAX));
}

std::int32_t CopiesFromText(const WideString& text) {
  const WideString t = Trimmed(text);
  if (t.empty() || t.size() > 4) return 1;
  std::int32_t v = 0;
  for (char16_t c : t) {
    if (c < u'0' || c > u'9') return 1;
    v = v * 10 + (c - u'0');
  }
  return v >= 1 ? v : 1;
}

bool TPrintDialog::Execute() {
  TPrinter* printer = Printers();
  const std::int32_t count = std::min(printer->PrinterCount(), kMaxListedPrinters);
  if (count <= 0) return false;

  std::string device, driver, port;
  TDevModeBlock mode;
  printer->GetPrinter(device, driver, port, mode);
  // Without settings of its own the choice starts from the system's default.
  const std::string preset = mode ? device : plat::print::PrintBackend().DefaultName();
  std::int32_t current = -1;
  for (std::int32_t i = 0; i < count && current < 0; ++i)
    if (printer->PrinterDevice(i)->Device == preset) current = i;
  if (current < 0) current = 0;

  TRef<TPrinterChoiceDialog> d = MakeRef<TPrinterChoiceDialog>();
  d->Caption = u"Print";
  d->Position = OwnerPlacesDialog(Owner) ? dpTemplate : dpWorkAreaCenter;
  std::int32_t y = 12;
  for (std::int32_t i = 0; i < count; ++i, y += 24) {
    auto* box = d->Add<TDialogCheckBox>();
    box->Caption = TByteString(printer->PrinterDevice(i)->Device).ToWide();
    box->Id = kFirstPrinterId + i;
    box->Checked = i == current;
    box->X = 12, box->Y = y, box->Width = 276, box->Height = 21;
    d->Boxes.push_back(box);
  }
  AddText(d.get(), u"Copies:", 12, y + 3, 60, 16);
  auto* copiesEdit = d->Add<TDialogEdit>();
  copiesEdit->Id = kCopiesEditId;
  copiesEdit->Caption = IntToStr(mode && mode->dmCopies > 0 ? mode->dmCopies : 1);
  copiesEdit->X = 80, copiesEdit->Y = y, copiesEdit->Width = 60, copiesEdit->Height = 21;
  y += 33;
  AddButton(d.get(), u"OK", IDOK, true, 132, y);
  AddButton(d.get(), u"Cancel", IDCANCEL, false, 213, y);
  d->Width = 300, d->Height = y + 37;
  if (d->ShowModal(Owner) != IDOK) return false;

  std::int32_t chosen = current;
  for (std::int32_t i = 0; i < count; ++i)
    if (d->Boxes[std::size_t(i)]->Checked) {
      chosen = i;
      break;
    }
  const std::int32_t typed = CopiesFromText(copiesEdit->Caption);
  TPrinterDevice* dev = printer->PrinterDevice(chosen);
  const std::string chosenDevice = dev->Device, chosenDriver = dev->Driver, chosenPort = dev->Port;

  // The chosen printer's settings come back; copies go into them when they
  // hold copies, as a driver does, and the copies count is then 1.
  TDevModeBlock result;
  if (mode && chosenDevice == device) {
    result = std::make_shared<TDevMode>(*mode);
  } else {
    TDevMode m;
    if (plat::print::PrintBackend().DocumentProperties(chosenDevice, m)) result = std::make_shared<TDevMode>(m);
  }
  std::int32_t nCopies = typed;
  if (result && (result->dmFields & plat::print::DM_COPIES)) {
    result->dmCopies = static_cast<std::int16_t>(typed);
    nCopies = 1;
  }
  printer->SetPrinter(chosenDevice, chosenDriver, chosenPort, result);
  PrintToFile = 0;
  std::int32_t copies = nCopies;
  if (result) {
    if (nCopies == 1) copies = printer->GetNumCopies();
    printer->SetNumCopies(static_cast<std::int16_t>(copies));
  }
  Copies = copies;
  return true;
}

}  // namespace zm
