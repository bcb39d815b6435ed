#pragma once
// The dialog manager: modal dialog boxes run from in-memory templates in the
// DLGTEMPLATE / DLGITEMTEMPLATE layout, with child windows of the predefined
// classes BUTTON (push, default push, auto check box), STATIC and EDIT. The
// template's lengths are taken as pixels. Enter presses the default button,
// Escape and the close box give IDCANCEL (none of them presses a button that
// is disabled), Tab walks the tab stops. The edit
// box a dialog opens with the focus in has its text selected, so that
// typing replaces it; a click places the caret. In
// headless runs a dialog driver answers; a dialog that nobody answers ends
// with IDCANCEL instead of waiting.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Platform/User/PlatUserTypes.h"

namespace plat {

using INT_PTR = std::intptr_t;
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

constexpr UINT WM_INITDIALOG = 0x0110, WM_COMMAND = 0x0111;
constexpr UINT BM_GETCHECK = 0x00F0, BM_SETCHECK = 0x00F1, BM_CLICK = 0x00F5;
constexpr WPARAM BST_UNCHECKED = 0, BST_CHECKED = 1;
constexpr WORD BN_CLICKED = 0, EN_CHANGE = 0x0300;
constexpr DWORD BS_PUSHBUTTON = 0x0, BS_DEFPUSHBUTTON = 0x1, BS_CHECKBOX = 0x2, BS_AUTOCHECKBOX = 0x3,
                BS_TYPEMASK = 0xF;
constexpr DWORD ES_MULTILINE = 0x4, ES_PASSWORD = 0x20, ES_AUTOVSCROLL = 0x40, ES_AUTOHSCROLL = 0x80,
                ES_READONLY = 0x800;
constexpr DWORD DS_ABSALIGN = 0x1, DS_3DLOOK = 0x4, DS_SETFONT = 0x40, DS_MODALFRAME = 0x80, DS_NOIDLEMSG = 0x100,
                DS_CENTER = 0x800;
constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200;
// A STATIC of this style shows the standard icon its text names as "#<id>"
// (IDI_EXCLAMATION, "#32515", the yellow warning sign; other ids nothing).
constexpr DWORD SS_ICON = 0x3, SS_TYPEMASK = 0x1F;
// Atoms of the predefined control classes in item templates.
constexpr WORD kButtonClassAtom = 0x0080, kEditClassAtom = 0x0081, kStaticClassAtom = 0x0082;


// ---- templates ------------------------------------------------------------------
struct TDialogItemDesc {
  DWORD Style = 0, ExStyle = 0;
  std::int16_t X = 0, Y = 0, Cx = 0, Cy = 0;
  WORD Id = 0;
  WORD ClassAtom = 0;  // one of the three predefined atoms
  std::u16string Title;
  std::vector<std::uint8_t> CreationData;
};

struct TDialogDesc {
  DWORD Style = 0, ExStyle = 0;
  std::int16_t X = 0, Y = 0, Cx = 0, Cy = 0;
  std::u16string Title;
  WORD PointSize = 0;  // with DS_SETFONT only
  std::u16string FaceName;
  std::vector<TDialogItemDesc> Items;
};

// Reads a template of size bytes. False for a truncated or inconsistent one,
// an extended template, a menu, a class of its own, or an item class that is
// not BUTTON, EDIT or STATIC (by atom or by name).
bool ParseDialogTemplate(const void* data, std::size_t size, TDialogDesc& desc);

// ---- modal dialogs ----------------------------------------------------------------
// Unlike the Win32 call, the size of the template is passed so that a damaged
// one is refused. The owner is disabled while the dialog runs. Returns the
// value given to EndDialog, or -1 for a bad template or owner, or when the
// dialog window cannot be made.
INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, const void* dialogTemplate, std::size_t size, HWND owner,
                                DLGPROC dialogProc, LPARAM initParam);
// The same from a template already read (or made in memory).
INT_PTR DialogBoxFromDesc(const TDialogDesc& desc, HWND owner, DLGPROC dialogProc, LPARAM initParam);
// For a loop of one's own: a message for the dialog or one of its controls
// is handled as the modal loop handles it (the dialog keys first); TRUE
// then, FALSE (nothing done) for any other message.
BOOL IsDialogMessageW(HWND dialog, MSG* msg);
// Ends the modal loop of dialog with result once the current message is done.
BOOL EndDialog(HWND dialog, INT_PTR result);
// Once at start; nothing to do here.
void InitCommonControls();

HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND control);
BOOL SetDlgItemTextW(HWND dialog, int id, const char16_t* text);
std::u16string DlgItemText(HWND dialog, int id);
UINT IsDlgButtonChecked(HWND dialog, int id);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
// The text an edit box shows: its text, or one '*' per character for a
// password box.
std::u16string EditDisplayText(HWND edit);

// ---- answering dialogs ----------------------------------------------------------------
// Drive is called once per dialog, after WM_INITDIALOG, on the UI thread. It
// may set texts, press ids and post input; the manager then runs the messages
// that are queued, and a dialog still open when the queue is empty ends with
// IDCANCEL (also without a driver in headless runs).
class IDialogDriver {
public:
  virtual ~IDialogDriver() = default;
  virtual void Drive(HWND dialog) = 0;
};
// nullptr removes the driver. The caller keeps it alive while installed.
void SetDialogDriver(IDialogDriver* driver);
IDialogDriver* DialogDriver();
// As a user's click: a button with that id is clicked (an auto check box
// toggles first); without one, WM_COMMAND with the id is sent to the dialog.
BOOL PressDialogId(HWND dialog, int id);

}  // namespace plat
