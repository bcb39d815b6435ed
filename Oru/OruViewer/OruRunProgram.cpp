#include "Oru/OruViewer/OruRunProgram.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "Oru/OruViewer/OruScreenSaver.h"
#include "OruLib2/OruShowDialogs.h"
#include "Platform/Gdi/PlatFont.h"
#include "Platform/Gdi/PlatGdi.h"
#include "Platform/PlatProcess.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatDialogs.h"
#include "Platform/User/PlatTermination.h"
#include "Platform/User/PlatUser.h"
#include "ZmLib/Win32/winScreen.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmLog.h"

namespace oru {

namespace {

WideString WithoutQuotes(const WideString& s) {
  if (s.size() >= 2 && s.front() == u'"' && s.back() == u'"') return s.substr(1, s.size() - 2);
  return s;
}

// The first refused command, or nullptr.
const TProgramStart* FirstRefused(const std::vector<TProgramStart>& starts) {
  for (const TProgramStart& s : starts)
    if (!IsAllowedCommand(s.Command) || IsRefusedStart(s.Plan)) return &s;
  return nullptr;
}

// The first command that would start a program or open a file (a
// document, a "file:" link), or nullptr.
const TProgramStart* FirstOpeningFiles(const std::vector<TProgramStart>& starts) {
  using TKind = plat::TShellStart::TKind;
  for (const TProgramStart& s : starts) {
    const plat::TShellStart& plan = s.Plan;
    if (plan.Kind == TKind::Program || plan.Kind == TKind::Document ||
        (plan.Kind == TKind::Link && !plat::FilesOfLink(plan.Target).empty()))
      return &s;
  }
  return nullptr;
}

void ReportRefused(const WideString& command) {
  zm::LogLine(WideString(kProhibitedCommand) + u" " + Logged(command));
  zm::WndAPIClass->MessageBox(nullptr, kProhibitedCommand, WideString(), zm::MB_OK);
}

}  // namespace

WideString EnsurePrefix(std::initializer_list<const char16_t*> prefixes, const WideString& text) {
  for (const char16_t* p : prefixes) {
    WideString prefix(p);
    if (text.size() >= prefix.size() && zm::SameText(text.substr(0, prefix.size()), prefix)) return text;
  }
  return prefixes.size() ? WideString(*prefixes.begin()) + text : text;
}

void RunProgram(zm::TZmForm* form, const WideString& commandLine, const WideString& folder) {
  if (commandLine.empty()) return;
  if (const WideString why = TooLongToStart(commandLine); !why.empty()) {
    zm::LogLine(u"Not started (" + why + u"): " + LoggedStart(commandLine));
    return;
  }
  const std::vector<TProgramStart> starts = PlanCommands(commandLine, folder);
  if (const TProgramStart* refused = FirstRefused(starts)) {
    ReportRefused(refused->Command);
    return;
  }
  StartPlanned(form, starts);
}

// ---- the user's yes ---------------------------------------------------------------------

TStartAnswer TStartAnswers::Find(const WideString& commandLine, const std::vector<WideString>& shown) const {
  auto it = answers_.find(commandLine);
  if (it == answers_.end() || it->second.Shown != shown) return TStartAnswer::NotAsked;
  return it->second.Start ? TStartAnswer::Start : TStartAnswer::DontStart;
}

void TStartAnswers::Set(const WideString& commandLine, bool start, const std::vector<WideString>& shown) {
  answers_[commandLine] = TAnswer{start, shown};
}

bool TStartAnswers::FirstRefusal(const WideString& commandLine) { return logged_.insert(commandLine).second; }

bool TStartAnswers::FirstNotFound(const WideString& command) { return notFound_.insert(command).second; }

void TStartAnswers::Clear() {
  answers_.clear();
  logged_.clear();
  notFound_.clear();
  look_ = nullptr;
  codeLogged_.clear();
}

void TStartAnswers::SetCodeLook(std::function<TCarriedCode()> look) { look_ = std::move(look); }

TCarriedCode TStartAnswers::CarriedCode() { return look_ ? look_() : TCarriedCode(); }

bool NeedsStartAnswer(const WideString& command) {
  WideString file, params;
  SplitCommand(command, file, params);
  file = WithoutQuotes(file);
  for (const char16_t* scheme : {u"http:", u"https:", u"mailto:"}) {
    const WideString prefix(scheme);
    if (file.size() > prefix.size() && zm::SameText(file.substr(0, prefix.size()), prefix)) return false;
  }
  return true;
}

namespace {

// 96-dpi lengths at the screen's density.
template <class T>
T* Place(T* item, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
  item->X = ScaleDialogLength(x);
  item->Y = ScaleDialogLength(y);
  item->Width = ScaleDialogLength(w);
  item->Height = ScaleDialogLength(h);
  return item;
}

// Longer command lines are never shown, nor started on a question.
constexpr std::size_t kMaxShownLength = 16384;

constexpr char16_t kLeftToRight = u'\u202D';  // the left-to-right override

}  // namespace

// Start: a click counts only once the pointer has been off the button
// since the question showed.
class TStartButton : public zm::TDialogButton {
public:
  TStartButton(zm::TDialog* dialog, TOruStartDialog* question) : zm::TDialogButton(dialog), question_(question) {}
  zm::LRESULT HandleMessage(zm::TWndProcArgs& msg) override {
    switch (msg.Msg) {
      case plat::WM_LBUTTONDOWN:
      case plat::WM_LBUTTONDBLCLK:
      case plat::WM_LBUTTONUP:
        // Pressed by a hand that never left it: dropped, not kept.
        if (!question_->NotePointer()) return 0;
        break;
    }
    return zm::TDialogButton::HandleMessage(msg);
  }

private:
  TOruStartDialog* question_;
};

namespace {

// The question on screen (the UI thread's only).
TOruStartDialog* gOpenQuestion = nullptr;

}  // namespace

void EndStartQuestion() {
  if (gOpenQuestion && gOpenQuestion->Handle) gOpenQuestion->Command(plat::IDCANCEL);
}

TOruStartDialog::TOruStartDialog(const WideString& commandLine, const WideString& folder) {
  TShownTexts shown;
  if (commandLine.size() <= kMaxShownLength)
    for (const WideString& command : SplitCommands(commandLine))
      if (WideString text = QuestionText(command, folder); !text.empty()) shown.Texts.push_back(std::move(text));
  Build(commandLine, std::move(shown.Texts));
}

TOruStartDialog::TOruStartDialog(const WideString& commandLine, TShownTexts shown) {
  Build(commandLine, std::move(shown.Texts));
}

void TOruStartDialog::Build(const WideString& commandLine, std::vector<WideString> shown) {
  // The texts are the player's own: a show cannot word the question.
  Position = zm::dpWorkAreaCenter;
  Caption = kStartCaption;
  const zm::TRect work = zm::WorkArea();
  const std::int32_t workW = work.Right > work.Left ? work.Right - work.Left : 1024;
  const std::int32_t workH = work.Bottom > work.Top ? work.Bottom - work.Top : 768;
  const std::int32_t margin = ScaleDialogLength(12), indent = ScaleDialogLength(16);
  const std::int32_t textW =
      std::max(ScaleDialogLength(200), std::min(ScaleDialogLength(560), workW - 2 * margin - 16));

  // The lines as the dialog's controls draw them.
  plat::HDC dc = plat::GetDC(nullptr);
  plat::HGDIOBJ old = dc ? plat::SelectObject(dc, plat::GetStockObject(plat::DEFAULT_GUI_FONT)) : nullptr;
  const auto width = [dc](const WideString& s) {
    const WideString line = kLeftToRight + s;
    plat::SIZE z{};
    if (dc) plat::GetTextExtentPoint32W(dc, line.c_str(), int(line.size()), &z);
    return int(z.cx);
  };
  plat::SIZE em{};
  if (dc) plat::GetTextExtentPoint32W(dc, u"Xg", 2, &em);
  const std::int32_t lineH = std::max<std::int32_t>(em.cy, 8) + 2;
  std::vector<TQuestionLine> lines;
  if (commandLine.size() <= kMaxShownLength) {
    shown_ = std::move(shown);
    lines = QuestionLines(shown_, textW - indent, width);
  }
  if (dc) {
    plat::SelectObject(dc, old);
    plat::ReleaseDC(nullptr, dc);
  }

  const std::int32_t top = ScaleDialogLength(34);
  const std::int32_t below = ScaleDialogLength(8 + 16 + 14 + 25 + 12);
  const std::int32_t room = (workH - top - below - ScaleDialogLength(40)) / lineH;
  whole_ = commandLine.size() <= kMaxShownLength && !lines.empty() && std::int32_t(lines.size()) <= room;
  if (!whole_) lines.clear();
  lines_ = std::int32_t(lines.size());

  Width = textW + 2 * margin;
  auto* question = Place(Add<zm::TDialogStatic>(), 12, 12, 0, 16);
  question->Width = textW;
  question->Caption = kStartQuestion;
  std::int32_t y = top;
  for (std::size_t i = 0; i < lines.size(); ++i, y += lineH) {
    auto* line = Add<zm::TDialogStatic>();
    line->X = margin + (lines[i].Continued ? indent : 0);
    line->Y = y;
    line->Width = textW - (lines[i].Continued ? indent : 0);
    line->Height = lineH;
    line->Id = idStartCommand + std::int32_t(i);
    // Laid out left to right as the characters come: letters written
    // right to left cannot change the order of what is shown.
    line->Caption = kLeftToRight + lines[i].Text;
  }
  y += ScaleDialogLength(8);
  auto* warning = Add<zm::TDialogStatic>();
  warning->X = margin;
  warning->Y = y;
  warning->Width = textW;
  warning->Height = ScaleDialogLength(16);
  warning->Caption = kStartWarning;
  y += ScaleDialogLength(16 + 14);
  // Don't start comes first in the tab order as well.
  const std::int32_t buttonW = ScaleDialogLength(92), gap = ScaleDialogLength(6);
  auto* dont = Add<zm::TDialogButton>();
  dont->X = Width - margin - buttonW;
  dont->Y = y;
  dont->Width = buttonW;
  dont->Height = ScaleDialogLength(25);
  dont->Caption = kDontStartButton;
  dont->Id = plat::IDCANCEL;
  dont->Default = 1;
  auto* start = Add<TStartButton>(this);
  start->X = dont->X - gap - buttonW;
  start->Y = y;
  start->Width = buttonW;
  start->Height = ScaleDialogLength(25);
  start->Caption = kStartButton;
  start->Id = idStart;
  Height = y + ScaleDialogLength(25 + 12);
}

namespace {

constexpr plat::UINT_PTR kAnswerTimer = 1;
// How often the pointer is looked at until it has been off Start.
constexpr plat::UINT_PTR kPointerTimer = 2;
constexpr std::uint32_t kPointerLookMs = 25;

}  // namespace

bool TOruStartDialog::NotePointer() {
  if (pointerLeft_) return true;
  plat::POINT pointer{};
  plat::RECT button{};
  plat::HWND start = plat::GetDlgItem(Handle, idStart);
  if (!start || !plat::GetCursorPos(&pointer) || !plat::GetWindowRect(start, &button)) return false;
  pointerLeft_ = pointer.x < button.left || pointer.x >= button.right || pointer.y < button.top ||
                 pointer.y >= button.bottom;
  if (pointerLeft_) plat::KillTimer(Handle, kPointerTimer);
  return pointerLeft_;
}

void TOruStartDialog::HoldAnswers(bool hold) {
  answerable_ = !hold;
  for (std::int32_t id : {idStart, std::int32_t(plat::IDCANCEL)})
    if (plat::HWND button = plat::GetDlgItem(Handle, id)) {
      plat::EnableWindow(button, hold ? 0 : 1);
      // Drawn as it now is at once, not at its next change.
      plat::InvalidateRect(button, nullptr, 0);
    }
  // The keyboard goes to the default, Don't start, once it can be answered.
  if (!hold && plat::GetActiveWindow() == Handle) plat::SetFocus(plat::GetDlgItem(Handle, plat::IDCANCEL));
}

void TOruStartDialog::KeepStartFromPointer() {
  plat::POINT pointer{};
  plat::HWND start = plat::GetDlgItem(Handle, idStart);
  plat::RECT dialog{}, button{};
  if (!start || !plat::GetCursorPos(&pointer) || !plat::GetWindowRect(Handle, &dialog) ||
      !plat::GetWindowRect(start, &button))
    return;
  // Clear of the button by a margin: a hand still moving lands nearby.
  const std::int32_t margin = ScaleDialogLength(16);
  const auto under = [&](std::int32_t dx, std::int32_t dy) {
    return pointer.x >= button.left + dx - margin && pointer.x < button.right + dx + margin &&
           pointer.y >= button.top + dy - margin && pointer.y < button.bottom + dy + margin;
  };
  if (!under(0, 0)) return;
  const zm::TRect work = zm::WorkArea();
  const auto fits = [&](std::int32_t dx, std::int32_t dy) {
    return dialog.left + dx >= work.Left && dialog.right + dx <= work.Right && dialog.top + dy >= work.Top &&
           dialog.bottom + dy <= work.Bottom;
  };
  // The smallest move up, down, left or right that takes the button away
  // and keeps the question on the screen.
  const std::int32_t moves[4][2] = {{0, pointer.y + margin - button.top + 1},
                                    {0, pointer.y - margin - button.bottom - 1},
                                    {pointer.x + margin - button.left + 1, 0},
                                    {pointer.x - margin - button.right - 1, 0}};
  const std::int32_t(*best)[2] = nullptr;
  for (const auto& m : moves)
    if (fits(m[0], m[1]) && !under(m[0], m[1]) &&
        (!best || std::abs(m[0]) + std::abs(m[1]) < std::abs((*best)[0]) + std::abs((*best)[1])))
      best = &m;
  if (best)
    plat::SetWindowPos(Handle, nullptr, dialog.left + (*best)[0], dialog.top + (*best)[1], 0, 0,
                       plat::SWP_NOSIZE | plat::SWP_NOZORDER | plat::SWP_NOACTIVATE);
}

zm::LRESULT TOruStartDialog::DialogProc(zm::TWndProcArgs& msg) {
  // A signal to end the program answers Don't start, the wait included:
  // the program then ends as at any other time.
  if (msg.Msg == plat::WM_CLOSE && plat::TerminationRequested()) {
    Command(plat::IDCANCEL);
    return 1;
  }
  const zm::LRESULT result = zm::TDialog::DialogProc(msg);
  switch (msg.Msg) {
    case plat::WM_INITDIALOG:
      gOpenQuestion = this;
      HoldAnswers(true);
      KeepStartFromPointer();
      if (!NotePointer()) plat::SetTimer(Handle, kPointerTimer, kPointerLookMs, nullptr);
      break;
    case plat::WM_DESTROY:
      if (gOpenQuestion == this) gOpenQuestion = nullptr;
      break;
    case plat::WM_PAINT:
      // The wait runs from when the question is first drawn.
      if (!drawn_) {
        drawn_ = true;
        drawnAt_ = plat::TickCount32();
        plat::SetTimer(Handle, kAnswerTimer, kAnswerDelayMs, nullptr);
      }
      break;
    case plat::WM_TIMER:
      if (msg.WParam == kPointerTimer) NotePointer();
      if (msg.WParam == kAnswerTimer && !answerable_) {
        const std::uint32_t waited = plat::TickCount32() - drawnAt_;
        if (waited >= kAnswerDelayMs) {
          plat::KillTimer(Handle, kAnswerTimer);
          HoldAnswers(false);
        } else {
          plat::SetTimer(Handle, kAnswerTimer, kAnswerDelayMs - waited, nullptr);
        }
      }
      break;
  }
  return result;
}

bool AskToStart(HWND owner, const WideString& commandLine, const WideString& folder) {
  zm::TRef<TOruStartDialog> dialog = zm::MakeRef<TOruStartDialog>(commandLine, folder);
  return dialog->Whole() && dialog->ShowModal(owner) == idStart;
}

bool NobodyToAsk() {
  if (ScreenSaverMode) return true;
  // A dialog nobody answers ends at once without a display.
  return !plat::DialogDriver() && plat::WindowSystemBackEnd() != "sdl";
}

namespace {

// When one of the commands opens files (a program, a document, a "file:"
// link) and the show carries code now: the refusal said (a box, or where
// nobody sees it the log, once), the file found logged once, and true.
bool RefusedAsCarryingCode(TStartAnswers& answers, const std::vector<TProgramStart>& starts,
                           const WideString& commandLine, bool nobody) {
  const TProgramStart* opens = FirstOpeningFiles(starts);
  if (!opens) return false;
  const TCarriedCode code = answers.CarriedCode();
  if (!code.Found()) return false;
  // Stopped as the player ends: nothing starts, and nobody is told more.
  if (code.Cut && plat::ToUtf8(code.Reason) == plat::kLookStopped) {
    zm::LogLine(u"Not started (" + code.Reason + u"): " + LoggedStart(commandLine));
    return true;
  }
  if (answers.FirstCodeRefusal(code.File)) {
    const WideString why = code.Reason.empty() ? WideString() : code.Reason + u"; ";
    zm::LogLine(WideString(code.TooManyFiles ? u"Show folder too large to look through for code: "
                                             : u"Show carries code: ") +
                Logged(code.File) + u" (" + why + u"nothing it asks to start is started)");
  }
  if (!nobody) ReportRefused(opens->Command);
  else if (answers.FirstRefusal(commandLine)) zm::LogLine(WideString(kProhibitedCommand) + u" " + Logged(opens->Command));
  return true;
}

// Whether one of the commands needs the user's Start.
bool NeedsAnswer(const std::vector<WideString>& commands) {
  return std::any_of(commands.begin(), commands.end(), [](const WideString& c) { return NeedsStartAnswer(c); });
}

// What an answer holds for: each command as listed, and the files its
// start opened as they were (a file replaced since is asked for anew).
std::vector<WideString> AnsweredFor(const std::vector<TApprovedCommand>& found) {
  std::vector<WideString> seen;
  for (const TApprovedCommand& a : found) seen.push_back(a.Shown + u"\n" + plat::FromUtf8(a.Plan.Run.Identity()));
  return seen;
}

}  // namespace

bool ShowMayStart(HWND owner, TStartAnswers& answers, const WideString& commandLine, const WideString& folder,
                  bool byUser, std::vector<TApprovedCommand>* approved) {
  if (approved) approved->clear();
  const bool nobody = NobodyToAsk();
  const auto notStarted = [&](const WideString& why) {
    if (answers.FirstRefusal(commandLine)) zm::LogLine(u"Not started" + why + u": " + LoggedStart(commandLine));
    return false;
  };
  // Measured before anything else is done with it: a command line the
  // system would not start, or one that needs the question and is too long
  // for it, is not looked at further.
  if (const WideString why = TooLongToStart(commandLine); !why.empty()) return notStarted(u" (" + why + u")");
  const auto refuse = [&](const WideString& command) {
    // Where nobody sees a box, the log says it once.
    if (!nobody) ReportRefused(command);
    else if (answers.FirstRefusal(commandLine)) zm::LogLine(WideString(kProhibitedCommand) + u" " + LoggedStart(command));
    return false;
  };
  // The words first, which take a glance; then what takes a look.
  const std::vector<WideString> commands = SplitCommands(commandLine);
  for (const WideString& c : commands)
    if (!IsAllowedCommand(c)) return refuse(c);
  if (commandLine.size() > kMaxShownLength && (!byUser || NeedsAnswer(commands)))
    return notStarted(u" (too long to show whole)");
  // Each command planned once: the files it opened are what is judged,
  // listed and, on Start, started.
  const std::vector<TProgramStart> starts = PlanCommands(commandLine, folder);
  if (starts.empty()) return false;
  if (const TProgramStart* refused = FirstRefused(starts)) return refuse(refused->Command);
  // Whatever a show that carries code starts could load that code.
  if (RefusedAsCarryingCode(answers, starts, commandLine, nobody)) return false;
  // A program that is not there is not asked for: the question could show
  // no more than the text that names it.
  std::vector<TApprovedCommand> found;
  std::vector<WideString> shownNow;
  for (const TProgramStart& s : starts) {
    if (WideString text = QuestionText(s.Plan); !text.empty()) {
      shownNow.push_back(text);
      found.push_back({s.Command, std::move(text), s.Plan});
    } else if (answers.FirstNotFound(s.Command)) {
      zm::LogLine(u"Not started (not found): " + Logged(s.Command));
    }
  }
  if (found.empty()) return false;
  // A screen saver runs while nobody is there; a run without a display has
  // nobody to ask: nothing starts, links included.
  if (nobody) return notStarted(ScreenSaverMode ? u" (screen saver)" : u" (nobody to ask)");
  const std::vector<WideString> seen = AnsweredFor(found);
  const auto granted = [&] {
    if (approved) *approved = std::move(found);
    return true;
  };
  // A link the user clicked for opens; one the show opens on its own (at a
  // slide's start, at its end) is asked for as a program is.
  if (byUser && std::none_of(found.begin(), found.end(), [](const TApprovedCommand& a) {
        return NeedsStartAnswer(a.Command);
      }))
    return granted();
  switch (answers.Find(commandLine, seen)) {
    case TStartAnswer::Start: return granted();
    case TStartAnswer::DontStart: return notStarted(u"");
    case TStartAnswer::NotAsked: break;
  }
  zm::TRef<TOruStartDialog> dialog =
      zm::MakeRef<TOruStartDialog>(commandLine, TOruStartDialog::TShownTexts{shownNow});
  if (!dialog->Whole()) return notStarted(u" (too long to show whole)");
  const bool start = dialog->ShowModal(owner) == idStart;
  // The answer holds for what the question listed; should the list the
  // dialog shows differ from the one checked above, nothing starts.
  const bool same = dialog->Shown() == shownNow;
  answers.Set(commandLine, start && same, seen);
  // What the question showed, one command after the other.
  WideString shown;
  for (const WideString& text : dialog->Shown()) shown += (shown.empty() ? u"" : u", ") + text;
  zm::LogLine(u"Start question: " + shown + (start ? u": Start" : u": Don't start"));
  if (start && same) return granted();
  return notStarted(start ? u" (changed while asked)" : u"");
}

void LogNotAsked(const WideString& commandLine, const WideString& why) {
  zm::LogLine(u"Not asked (" + why + u"): " + LoggedStart(commandLine));
}

void RunApproved(zm::TZmForm* form, const std::vector<TApprovedCommand>& approved, const WideString& /*folder*/,
                 TStartAnswers* answers) {
  // What was asked about starts, as its plan opened it; each start looks
  // again: at the show for code, at the command as it is judged, at the
  // files for a change since they were judged.
  std::vector<TProgramStart> starts;
  WideString all;
  for (const TApprovedCommand& a : approved) {
    starts.push_back({a.Command, a.Plan});
    all += (all.empty() ? u"" : u", ") + a.Command;
  }
  if (answers && RefusedAsCarryingCode(*answers, starts, all, NobodyToAsk())) return;
  if (const TProgramStart* refused = FirstRefused(starts)) {
    ReportRefused(refused->Command);
    return;
  }
  std::erase_if(starts, [](const TProgramStart& s) {
    if (s.Plan.Kind != plat::TShellStart::TKind::Program || s.Plan.Run.Unchanged()) return false;
    zm::LogLine(u"Not started (changed since the question): " + Logged(s.Command));
    return true;
  });
  StartPlanned(form, starts);
}

}  // namespace oru
