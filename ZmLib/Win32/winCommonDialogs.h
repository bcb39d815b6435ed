#pragma once
// The common dialogs: choosing a printer (TPrintDialog) and a file name to
// save to (TSaveDialog). Both are modal template dialogs of our own, owned by
// a window and answered by the dialog driver when one is installed.
#include <cstdint>
#include <vector>

#include "ZmLib/Win32/winDialogs.h"
#include "ZmLib/Win32/winPrinters.h"
#include "ZmLib/zmStringList.h"

namespace zm {

// The application's own window (nullptr when there is none); the
// application installs it at start-up.
using TApplicationWindowProc = HWND (*)();
extern TApplicationWindowProc ApplicationWindowHook;
HWND ApplicationWindow();

class TCommonDialog : public TRefObject {
public:
  // Without an owner the application's own window owns the dialog.
  explicit TCommonDialog(HWND owner = nullptr) : Owner(owner ? owner : ApplicationWindow()) {}
  HWND Owner;
  // True when the user confirmed.
  virtual bool Execute() = 0;
};

// ---- save options ------------------------------------------------------------------
// Bit numbers of TSaveDialog::Options.
enum : std::uint32_t {
  ofReadOnly = 0, ofOverwritePrompt, ofHideReadOnly, ofNoChangeDir, ofShowHelp, ofNoValidate,
  ofAllowMultiSelect, ofExtensionDifferent, ofPathMustExist, ofFileMustExist, ofCreatePrompt, ofShareAware,
  ofNoReadOnlyReturn, ofNoTestFileCreate, ofNoNetworkButton, ofNoLongNames, ofNoDereferenceLinks,
  ofEnableIncludeNotify, ofEnableSizing, ofDontAddToRecent, ofForceShowHidden
};
constexpr std::uint32_t kSaveOptionCount = 21;
constexpr std::uint32_t SaveOption(std::uint32_t bit) { return 1u << bit; }
constexpr std::uint32_t kDefaultSaveOptions = 0x40004;  // hide read-only, enable sizing

// The classic dialog's flags for the options, with the explorer, no
// read-only return and hook flags always added; bits past 20 are ignored.
std::uint32_t ClassicSaveFlags(std::uint32_t options);
// The item-based dialog's flags for the options (no others).
std::uint32_t ItemSaveFlags(std::uint32_t options);

// One file type of a filter "description|pattern|description|pattern".
struct TFilterPattern {
  WideString Name, Pattern;
  bool HasPattern = false;  // a description without a pattern has none
  friend bool operator==(const TFilterPattern&, const TFilterPattern&) = default;
};
std::vector<TFilterPattern> SplitFilter(const WideString& filter);

// The names a multi-select buffer holds: NUL-separated strings ending with an
// empty one. With multi and more than one string the first is the folder and
// each further one a name in it; otherwise the whole buffer up to its first
// NUL is one name. An empty buffer gives none.
std::vector<WideString> FilesFromBuffer(const std::u16string& buffer, bool multi);

class TSaveDialog : public TCommonDialog {
public:
  using TCommonDialog::TCommonDialog;
  std::uint32_t Options = kDefaultSaveOptions;
  WideString InitialDir;
  WideString FileName;    // in and out
  WideString DefaultExt;  // without the dot
  std::int32_t FilterIndex = 0;
  WideString Filter;
  void Dispose() override;
  TStringList* Files() { return files_.get(); }

  // Asks for a path: an edit box filled with the folder shown and FileName,
  // OK and Cancel. The folder shown is InitialDir, else the folder of an
  // absolute FileName, else the documents folder; a relative answer is
  // taken in it, a name without an extension gets DefaultExt; with the overwrite prompt an existing file
  // must be confirmed (No asks again). The current folder is the same
  // afterwards whatever happened. False on cancel or an empty answer, and
  // then FileName and Files are left as they were.
  bool Execute() override;

private:
  TRef<TStringList> files_ = MakeRef<TStringList>();
};

// ---- printing --------------------------------------------------------------------
enum : std::uint8_t {
  poPrintToFile = 1, poPageNums = 2, poSelection = 4, poWarning = 8, poHelp = 16, poDisablePrintToFile = 32
};

class TPrintDialog : public TCommonDialog {
public:
  using TCommonDialog::TCommonDialog;
  std::uint8_t Collate = 0, PrintToFile = 0;
  std::int32_t ToPage = 0, MaxPage = 0, MinPage = 0, FromPage = 0, Copies = 0;
  std::uint8_t Options = 0;
  std::uint8_t PrintRange = 0;  // 0 all pages, 1 selection, 2 page numbers

  // Shows the printers, one check box each (the current one checked; without
  // a device mode the system's default), and the copies. On OK the printer
  // layer takes the chosen printer with its settings and the copies; its
  // EPrinter errors reach the caller.
  bool Execute() override;
};

// The system print dialog's flags for these fields (0x10308C when all are 0).
std::uint32_t PrintDialogFlags(const TPrintDialog& dialog);

// Where the print dialog goes over its owner: centred across, its top a third
// of the way down, from the window rectangles (divisions toward zero).
void PlaceOverOwner(const plat::RECT& owner, const plat::RECT& dialog, std::int32_t& left, std::int32_t& top);

// Copies typed into a box: a whole number from 1 to 9999; anything else 1.
std::int32_t CopiesFromText(const WideString& text);

}  // namespace zm
