#include "Oru/OruViewer/OruMainForm.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

#include "Oru/OruViewer/OruStartup.h"
#include "OruLib2/OruClasses/zmOruSource2.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Application2/zmApplication.h"
#include "ZmLib/_MyUtils.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmByteString.h"
#include "ZmLib/zmLog.h"

namespace oru {

using zm::TRef;

TShowHookProc LocateFFmpegHook = nullptr;
TShowHookProc ShowOpenedHook = nullptr;
bool CoverLayout = false;

namespace {

WideString gCachedShowName;
WideString gCachedProjectPath;

WideString Quoted(const WideString& s) { return u"\"" + s + u"\""; }

// The opener raises for files it cannot read at all (missing, cut short,
// not deflate data); those count as a failed open without a text.
TRef<TOruShowLocator> TryOpenContainer(const WideString& fileName, WideString& errorText) {
  errorText.clear();
  try {
    return OpenContainerShow(fileName, errorText);
  } catch (...) {
    errorText.clear();
    zm::LogLine(u"Can`t open show " + Quoted(fileName) + u": " + CurrentExceptionText());
    return nullptr;
  }
}

TRef<TOruShowLocator> TryOpenProject(const WideString& fileName) {
  try {
    return OpenProjectShow(fileName);
  } catch (...) {
    zm::LogLine(u"Can`t open project " + Quoted(fileName) + u": " + CurrentExceptionText());
    return nullptr;
  }
}

WideString Ms(double v) { return zm::FloatToStrDigits(v, 3); }

// A strict decimal number: optional sign, then digits only.
bool ReadDecimal(const WideString& s, std::int32_t& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) negative = s[i++] == u'-';
  if (i >= s.size()) return false;
  std::int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < u'0' || s[i] > u'9') return false;
    v = v * 10 + (s[i] - u'0');
    if (v > std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1) return false;
  }
  if (negative) v = -v;
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

// The first argument of a switch; false when the switch or its argument is missing.
bool FirstArgument(zm::TCommandsStorage& commands, const WideString& name, WideString& value) {
  zm::TCommand* c = commands.FindCommand(name);
  if (!c || c->Count() < 1) return false;
  value = c->GetItem(0)->Text;
  return true;
}

}  // namespace

WideString CurrentExceptionText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return zm::TByteString(std::string(e.what())).ToWide();
  } catch (...) {
    return u"unknown exception";
  }
}

void ShowError(TMainForm* /*form*/, const WideString& text) {
  WideString line = WideString(kErrorCaption) + u": " + text;
  std::replace(line.begin(), line.end(), u'\r', u' ');
  zm::LogLine(line);
  // The form has no window of its own yet, so the box has no owner.
  zm::WndAPIClass->MessageBox(nullptr, text, kErrorCaption, zm::MB_ICONEXCLAMATION);
}

std::int32_t StartPosition(zm::TCommandsStorage& commands, bool& isTime) {
  isTime = false;
  WideString text;
  if (!FirstArgument(commands, u"slide", text)) {
    if (!FirstArgument(commands, u"time", text)) return 0;
    isTime = true;
  }
  std::int32_t v = 0;
  return ReadDecimal(text, v) && v > 0 ? v - 1 : 0;
}

std::int64_t StartupWindowHandle(zm::TStringList* args) {
  // The first argument is the program itself.
  if (!args || args->GetCount() < 3) return 0;
  std::int32_t v = 0;
  return ReadDecimal(args->GetString(args->GetCount() - 1), v) ? v : 0;
}

WideString LocateShow(const WideString& path) {
  if (!gCachedShowName.empty() && zm::SameText(path, gCachedShowName)) return path;
  if (zm::SameText(zm::ExtractFileExt(path), u".app")) {
    WideString bundled = zm::CombinePath(path, u"Contents\\Resources\\slideshow.dat");
    if (zm::FileExists(bundled)) return bundled;
    return zm::ChangeFileExt(path, u".orushow");
  }
  return path;
}

void SetShowCache(const WideString& showName, const WideString& projectPath) {
  if (!gCachedShowName.empty()) RegisterProjectSubstitution(gCachedShowName, WideString());
  gCachedShowName = showName;
  gCachedProjectPath = projectPath;
  // Opening the build file while its project is open opens the project.
  if (!showName.empty()) RegisterProjectSubstitution(showName, projectPath);
}

const WideString& CachedShowName() { return gCachedShowName; }
const WideString& CachedProjectPath() { return gCachedProjectPath; }

void LogShowTimeLine(TOruShowLocator* show, std::int64_t startTime) {
  TOruSource* source = show->GetSource();
  static const char16_t* const kRepeat[] = {u"repeat", u"close", u"stop"};
  const std::int32_t mode = source->RepeatMode();
  const std::int32_t count = source->SlideCount();
  zm::LogLine(u"Show: " + zm::IntToStr(count) + u" slides, length " + Ms(source->ShowLength()) + u" ms, " +
              (mode >= 0 && mode <= 2 ? kRepeat[mode] : u"repeat"));
  TFileAccessor* accessor = show->Accessor();
  for (std::int32_t i = 0; i < count; ++i) {
    TSlideSpan span;
    source->GetSlideSpan(i, span);
    WideString line = u"Slide " + zm::IntToStr(i + 1) + u": start " + Ms(span.Start) + u" ms, duration " +
                      Ms(span.End - span.Start) + u" ms, transition in " + Ms(span.OwnLength) + u" ms, out " +
                      Ms(span.NextLength) + u" ms";
    WideString picture = zm::IniGetString(zm::IniFind(source->SlideSection(i), u"Picture"));
    if (!picture.empty()) {
      // Whether the show's picture can be reached at all, until slides are drawn.
      WideString state = u"missing";
      try {
        TRef<zm::TStream> stream = TRef<zm::TStream>::Adopt(accessor ? accessor->OpenFile(picture) : nullptr);
        if (stream) state = zm::IntToStr(stream->GetSize()) + u" bytes";
      } catch (...) {
        state = u"unreadable: " + CurrentExceptionText();
      }
      line += u", picture " + Quoted(picture) + u" (" + state + u")";
    }
    zm::LogLine(line);
  }
  zm::LogLine(u"Start: " + zm::IntToStr(startTime) + u" ms");
}

// ============================================================================
// TMainForm
// ============================================================================

TMainForm::TMainForm(zm::TCommandsStorage& commands, zm::TStringList* args) : commands_(commands) {
  if (args)
    for (std::int32_t i = 0; i < args->GetCount(); ++i)
      if (args->GetString(i) == u"-startup") startupMode_ = true;
  CoverLayout = commands.FindCommand(u"cover") != nullptr;
  if (startupMode_) SetStayOnTop(true);
  SetBorderIcons(zm::biSystemMenu);
  viewer_ = zm::MakeRef<TOruShowViewer>(this);
  viewer_->CoverLayout = CoverLayout;
  viewer_->SetBarriersEnabled(true);
  viewer_->OnPosition = [this](TOruShowViewer* v, bool ended) { ViewerPosition(v, ended); };
  viewer_->OnAction = [this](TOruShowViewer* v, const TOruActionInfo& a) { ViewerAction(v, a); };
  viewer_->OnImage = [this](TOruShowViewer* v, zm::TRefObject* image) { ViewerImage(v, image); };
}

void TMainForm::Dispose() {
  if (viewer_) {
    viewer_->OnPosition = nullptr;
    viewer_->OnAction = nullptr;
    viewer_->OnImage = nullptr;
  }
  // The engine goes before the show it plays.
  viewer_ = nullptr;
  runStack_.clear();
  show_ = nullptr;
  zm::TZmForm::Dispose();
}

void TMainForm::Start() {
  WideString path;
  if (FirstArgument(commands_, u"filename", path)) {
    fromProject_ = true;
    projectPath_ = path;
  } else if (!FirstArgument(commands_, u"exename", path)) {
    path = zm::ProgramFile;
  }
  path = zm::ResolveRelativePath(zm::ProgramDir, path);
  bool isTime = false;
  std::int32_t start = StartPosition(commands_, isTime);
  if (OpenShow(path, !fromProject_, start, true, isTime)) {
    showVersion_ = show_->Version();
    viewer_->SetPaused(false);
  } else {
    zm::ExitCode = 1;
    Close();
  }
  creationTick_ = zm::GetTimeMs();
}

bool TMainForm::OpenFailed(const WideString& path) {
  ShowError(this, WideString(kCantLoadShow) + u"\r" + Quoted(path));
  return false;
}

bool TMainForm::OpenShow(WideString path, bool fromExe, std::int32_t start, bool checkStart, bool isTime) {
  // A playing show stands while another is opened.
  const bool wasPlaying = viewer_ && viewer_->EngineRunning() && !viewer_->Paused();
  if (wasPlaying) viewer_->SetPaused(true);
  auto resume = [&] {
    if (wasPlaying) viewer_->SetPaused(false);
  };

  TRef<TOruShowLocator> show;
  WideString opened;  // the file that was opened
  if (fromExe) {
    WideString errorText;
    WideString first = LocateShow(path);
    show = TryOpenContainer(first, errorText);
    opened = first;
    if (!show) {
      path = zm::ChangeFileExt(path, u".orushow");
      WideString second = LocateShow(path);
      show = TryOpenContainer(second, errorText);
      opened = second;
      if (!show) {
        ShowError(this, (errorText.empty() ? WideString(kCantLoadShow) : errorText) + u"\r" + Quoted(first) +
                            u" or " + Quoted(second));
        resume();
        return false;
      }
    }
    if (ShowOpenedHook) ShowOpenedHook(show.get());
    if (LocateFFmpegHook) LocateFFmpegHook(show.get());
  } else {
    if (LocateFFmpegHook) LocateFFmpegHook(nullptr);
    std::replace(path.begin(), path.end(), u'/', u'\\');
    show = TryOpenProject(path);
    opened = path;
    if (!show) {
      ShowError(this, WideString(kCantLoadOru) + u"\r" + Quoted(path));
      resume();
      return false;
    }
    if (ShowOpenedHook) ShowOpenedHook(show.get());
  }
  ZM_ASSERT(show, "Slideshow not Assigned");

  // No password check yet: every show passes; it then gets a taskbar button.
  if (checkStart && !ShowInTaskbar()) SetShowInTaskbar(true);

  // The previous show goes; its end must not stop the new one.
  try {
    SetCurrentShow(show.get());
  } catch (...) {
    zm::ReportSwallowedException();
  }
  show_ = show;

  zm::TIniSection* main = show->Description() ? show->Description()->FindSection(u"Main") : nullptr;
  wheelEnabled_ = !zm::IniGetBool(zm::IniFind(main, u"opt_lockwheel"), false);
  caption_ = zm::IniGetString(zm::IniFind(main, u"opt_scr_caption"), kDefaultCaption);
  SetCaption(caption_);
  // Hidden for good (1) or after a delay of still pointer (2, until the
  // pointer's watcher exists: shown).
  if (zm::IniGetInt(zm::IniFind(main, u"opt_hidecursor"), 0) == 1) SetCursor(-1);
  else SetCursor(0);

  // Screen-saver mode plays only when the system asks for it ("/s").
  if (zm::SameText(zm::ExtractFileExt(zm::ProgramFile), u".scr")) {
    bool asked = false;
    if (zm::CommandArgs)
      for (std::int32_t i = 0; i < zm::CommandArgs->GetCount(); ++i)
        if (zm::CommandArgs->GetString(i) == u"/s" || zm::CommandArgs->GetString(i) == u"/S") asked = true;
    if (!asked) return false;
  }

  // The time line is written before the show plays; a show whose time line
  // cannot be built does not play.
  std::int64_t startTime = 0;
  try {
    show->GetSource();
    if (start > 0 || isTime) startTime = isTime ? start : SlideStartTime(start);
    LogShowTimeLine(show.get(), startTime);
  } catch (...) {
    zm::LogLine(u"Exception at OpenShow (" + CurrentExceptionText() + u")");
    return OpenFailed(opened);
  }

  // Without an application there is no loop to play in: the show is only
  // opened (the form's own checks).
  if (zm::Application) {
    bool played = false;
    try {
      // Opened at the start position at once: no frame of time 0 is drawn
      // before the move.
      played = viewer_->Open(show->Accessor(), show->Description(),
                             std::int32_t(std::clamp<std::int64_t>(startTime, 0, INT32_MAX)));
    } catch (...) {
      zm::LogLine(u"Exception at OpenShow (" + CurrentExceptionText() + u")");
    }
    if (!played) return OpenFailed(opened);
    resume();
  }

  showPath_ = path;
  WideString exeName = zm::IniGetString(zm::IniFind(main, u"opt_exefn"));
  if (!exeName.empty() && !fromExe) {
    showPath_ = exeName;
    SetShowCache(exeName, path);
  }
  showFolder_ = zm::ExtractFilePath(showPath_, true);
  return true;
}

std::int64_t TMainForm::SlideStartTime(std::int32_t i) {
  if (!show_) return 0;
  TOruSource* source = show_->GetSource();
  i = std::max(i, 0);
  TSlideSpan span;
  source->GetSlideSpan(i, span);
  // Far passes of a long show stay within what a time can hold.
  constexpr double kLimit = 9007199254740992.0;  // 2^53
  std::int64_t t = std::llround(std::clamp(span.Start, -kLimit, kLimit));
  const bool endOfEndingShow = source->RepeatMode() != kRepeatLoop && i >= source->SlideCount();
  if (span.OwnLength == 0 && !endOfEndingShow) ++t;
  return t;
}

namespace {
std::int64_t RoundMs(double v) {
  constexpr double kLimit = 9007199254740992.0;  // 2^53
  return std::llround(std::clamp(v, -kLimit, kLimit));
}
}  // namespace

std::int64_t TMainForm::NextSlideTime(std::int64_t t, bool afterTransition) {
  if (!show_) return 0;
  TOruSource* source = show_->GetSource();
  const bool ending = source->RepeatMode() != kRepeatLoop;
  // The end of an ending show counts as a slide: the step after the last one.
  const std::int32_t limit = ending ? std::max(source->SlideCount(), 0) : 2147483646;
  std::int32_t i = std::min(limit, source->SlideAtTime(double(t)));
  TSlideSpan span;
  source->GetSlideSpan(i, span);
  // Bounded: a repeating show has slides ahead without end.
  for (int guard = 0; guard < 100000 && !(double(t) < span.Start) && i < limit; ++guard)
    source->GetSlideSpan(++i, span);
  std::int64_t r = RoundMs(span.Start);
  const bool endOfEnding = ending && i >= source->SlideCount();
  if (span.OwnLength == 0 && !endOfEnding) ++r;
  else if (afterTransition) r += RoundMs(span.OwnLength);
  return r;
}

std::int64_t TMainForm::PrevSlideTime(std::int64_t t) {
  if (!show_) return 0;
  TOruSource* source = show_->GetSource();
  std::int32_t i = source->SlideAtTime(double(t));
  TSlideSpan span;
  source->GetSlideSpan(i, span);
  if (double(t) < span.End) --i;
  if (i <= 0) return 0;
  source->GetSlideSpan(i, span);
  const std::int64_t p = RoundMs(span.Start + span.OwnLength);
  if (t - p >= 500) return p;
  if (i - 1 <= 0) return 0;
  source->GetSlideSpan(i - 1, span);
  return RoundMs(span.Start + span.OwnLength);
}

std::int32_t TMainForm::FindSlideById(const WideString& id) {
  if (!show_) return -1;
  TOruSource* source = show_->GetSource();
  for (std::int32_t i = 0; i < source->SlideCount(); ++i)
    if (source->SlideId(i) == id) return i;
  return -1;
}

std::int32_t TMainForm::CurrentSlide() {
  if (!show_) return 0;
  return show_->GetSource()->SlideAtTime(double(viewer_ ? viewer_->Time() : 0));
}

void TMainForm::CloseQuery(std::int32_t& action) {
  if (closing_) return;
  if (modalCount_ > 0) {
    action = zm::caNone;
    return;
  }
  closing_ = true;
  if (show_) {
    // Programs and shows to run on exit need the actions; until then the
    // flags are only cleared.
    endedAtLastSlide_ = false;
    closeRequested_ = false;
  }
  if (viewer_) {
    viewer_->OnPosition = nullptr;
    viewer_->OnAction = nullptr;
    viewer_->OnImage = nullptr;
    viewer_->StopEngine();
  }
  closed_ = true;
  if (zm::Application) zm::Application->Terminate();
  closing_ = false;
}

void TMainForm::DoKey(zm::TKeyKind kind, std::uint16_t key, zm::WideChar& ch, zm::TShiftState shift) {
  if (modalCount_ == 0 && kind == zm::TKeyKind::Down) {
    // Start-up mode: Enter closes the player with exit code 1.
    if (startupMode_ && key == 13) {
      zm::ExitCode = 1;
      Close();
      return;
    }
    if (key == 27) {
      Close();
      return;
    }
  }
  zm::TZmForm::DoKey(kind, key, ch, shift);
}

void TMainForm::DoMouse(zm::TMouseKind kind, zm::TPoint pos, int button, zm::TShiftState shift) {
  // The click that started the program does not reach the show.
  if (modalCount_ == 0 && std::uint32_t(zm::GetTimeMs() - creationTick_) >= 1000 && viewer_) {
    std::int32_t buttons = button == 1 ? 1 : button == 4 ? 2 : button == 5 ? 4 : 0;
    viewer_->PointerEvent(std::uint8_t(kind), pos.X, pos.Y, buttons, shift);
  }
  zm::TZmForm::DoMouse(kind, pos, button, shift);
}

void TMainForm::DoMouseWheel(zm::TShiftState shift, zm::TPoint pos, int notches) {
  if (modalCount_ == 0 && wheelEnabled_ && show_ && viewer_ && viewer_->Engine()) {
    const std::int64_t now = viewer_->Time();
    std::int64_t target;
    if (shift == zm::ssCtrl) target = notches < 0 ? NextSlideTime(now, viewer_->Paused()) : PrevSlideTime(now);
    else target = now - 700 * std::int64_t(notches);
    viewer_->SetPosition(std::int32_t(std::clamp<std::int64_t>(target, 0, INT32_MAX)));
  }
  zm::TZmForm::DoMouseWheel(shift, pos, notches);
}

void TMainForm::ViewerPosition(TOruShowViewer* /*sender*/, bool ended) {
  if (closing_ || !ended || !show_) return;
  if (show_->GetSource()->RepeatMode() == kRepeatClose) {
    endedAtLastSlide_ = true;
    closeRequested_ = true;
    Close();
  }
}

void TMainForm::ViewerAction(TOruShowViewer* /*sender*/, const TOruActionInfo& action) {
  if (inAction_) return;
  inAction_ = true;
  // The actions themselves come later; the log says what was asked.
  zm::LogLine(u"Action " + zm::IntToStr(action.Code) + u" (" + zm::IntToStr(action.Value) + u") " + action.Text);
  inAction_ = false;
}

void TMainForm::ViewerImage(TOruShowViewer* /*sender*/, zm::TRefObject* /*image*/) {}

void InitOruMainForm() {}

void FiniOruMainForm() {
  SetShowCache(WideString(), WideString());
  CoverLayout = false;
  LocateFFmpegHook = nullptr;
  ShowOpenedHook = nullptr;
}

}  // namespace oru
