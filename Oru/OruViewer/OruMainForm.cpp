#include "Oru/OruViewer/OruMainForm.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <memory>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "Oru/OruViewer/OruRunProgram.h"
#include "Oru/OruViewer/OruScreenSaver.h"
#include "Oru/OruViewer/OruStartup.h"
#include "OruLib2/OruClasses/zmOruSource2.h"
#include "OruLib2/OruShowDialogs.h"
#include "OruLib2/OruViewer/OruEngine.h"
#include "OruLib2/OruViewer/OruMemoryBudget.h"
#include "Platform/PlatFiles.h"
#include "Platform/PlatProcess.h"
#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "Platform/User/PlatTermination.h"
#include "Platform/User/PlatUser.h"
#include "ZmLib/Graphics/winImageUtils.h"
#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Application2/zmApplication.h"
#include "ZmLib/_MyUtils.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/Win32/winWndAPI.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpLoadCallBack.h"
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

// A path as the user's system writes it, for the texts they read.
WideString ShownPath(WideString path) {
  std::replace(path.begin(), path.end(), u'\\', u'/');
  return path;
}

// Follows "Can`t Load .oru File" when the path given is a folder: the file
// that names a project show, the one inside when there is one.
WideString FolderGivenNote(const WideString& folder) {
  const WideString project = zm::CombinePath(folder, u"Project.oru");
  if (zm::FileExists(project))
    return u"\r(this is a folder: a show is named by its Project.oru, here " + Quoted(ShownPath(project)) + u")";
  return u"\r(this is a folder: a show is named by its Project.oru, and this folder holds none)";
}

// Why a show file did not open, when the opener could not say: it is not
// there, it is a folder, or what it holds (or may be read of it) is no show.
WideString UnreadFileReason(const WideString& path) {
  if (zm::DirectoryExists(path)) return u" is a folder";
  if (!zm::FileExists(path)) return u" not found";
  return u" cannot be read as a show";
}

// A project given where a packed show is asked for (-exename): its
// Project.oru, or its folder, is played with -filename.
WideString ProjectGivenNote(const WideString& path) {
  if (zm::DirectoryExists(path)) {
    const WideString project = zm::CombinePath(path, u"Project.oru");
    if (!zm::FileExists(project)) return WideString();
    return u"\r(this is a project folder: play its Project.oru with -filename " + Quoted(ShownPath(project)) + u")";
  }
  if (zm::FileExists(path) && zm::SameText(zm::ExtractFileExt(path), u".oru"))
    return u"\r(this is a project's description: play it with -filename)";
  return WideString();
}

// A packed show given where a project is asked for (-filename).
WideString PackedGivenNote(const WideString& path) {
  return zm::FileExists(path) && EndsInShowContainer(path) ? u"\r(this is a packed show: play it with -exename)"
                                                         : WideString();
}

// A line the user must see: in the log, and on standard error unless the
// log is written there.
void SayOnConsole(const WideString& text) {
  zm::LogLine(text);
  if (!dynamic_cast<zm::TStdLog*>(zm::GetLog())) plat::WriteStdErr(plat::ToUtf8(text) + "\n");
}

// While a show opens on the UI thread (its description read and parsed,
// its tables filled, its time line made), the pump that would end the run
// waits: a terminating signal or the run's own end (headless: its quit
// time) asks the opening's stop instead, which the long steps look at and
// end by ELoadStopped. Without a thread to watch, the opening runs to its
// end as before.
class TOpenWatch {
public:
  TOpenWatch() : scope_(&stop_) {
    // Asked already (as the opening begins): stopped at its first look.
    if (plat::QuitAsked()) stop_.Request();
    try {
      thread_ = std::thread([this] { Watch(); });
    } catch (const std::system_error&) {
    }
  }
  ~TOpenWatch() {
    {
      std::lock_guard<std::mutex> l(lock_);
      done_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
  }
  TOpenWatch(const TOpenWatch&) = delete;
  TOpenWatch& operator=(const TOpenWatch&) = delete;

private:
  void Watch() {
    std::unique_lock<std::mutex> l(lock_);
    while (!done_) {
      if (plat::QuitAsked()) {
        stop_.Request();
        return;
      }
      wake_.wait_for(l, std::chrono::milliseconds(20));
    }
  }
  zm::TLoadStop stop_;
  zm::TLoadStopScope scope_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

// The opener raises for files it cannot read at all (missing, cut short,
// not deflate data); those count as a failed open without a text. An
// opening stopped by a quit is not a failure: that goes to the caller.
TRef<TOruShowLocator> TryOpenContainer(const WideString& fileName, WideString& errorText) {
  errorText.clear();
  try {
    TOpenWatch watch;
    return OpenContainerShow(fileName, errorText);
  } catch (const zm::ELoadStopped&) {
    throw;
  } catch (...) {
    errorText.clear();
    zm::LogLine(u"Can`t open show " + Quoted(fileName) + u": " + CurrentExceptionText());
    return nullptr;
  }
}

TRef<TOruShowLocator> TryOpenProject(const WideString& fileName) {
  try {
    TOpenWatch watch;
    return OpenProjectShow(fileName);
  } catch (const zm::ELoadStopped&) {
    throw;
  } catch (...) {
    zm::LogLine(u"Can`t open project " + Quoted(fileName) + u": " + CurrentExceptionText());
    return nullptr;
  }
}

WideString Ms(double v) { return zm::FloatToStrDigits(v, 3); }

// What a path names whatever its name (its device and inode): the same for
// every name of one file; empty when there is none.
std::string SameFileKey(const WideString& path) {
  const std::string state = plat::FileStateOf(plat::NativePath(path));
  const std::size_t first = state.find(':');
  return first == std::string::npos ? state : state.substr(0, state.find(':', first + 1));
}

// Why the show cannot be played although its description reads: it has no
// slides (the key the count is read from named), or its slides' objects
// would take more memory than the player may take. Empty when it can.
WideString PlayRefusal(TOruSource* source) {
  if (source->SlideCount() == 0) {
    const zm::TIniSection* times = source->TimesSection();
    if (!times) return u"The show has no slides: its description has no [Times] section with opt_slidescount";
    if (!times->Find(u"opt_slidescount")) return u"The show has no slides: [Times] has no opt_slidescount";
    return u"The show has no slides: opt_slidescount in [Times] is 0";
  }
  return ShowMemoryRefusal(source, TOruEngine::kCacheCapacity, MemoryLimitBytes());
}

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

void ShowError(TMainForm* form, const WideString& text) {
  WideString line = WideString(kErrorCaption) + u": " + text;
  std::replace(line.begin(), line.end(), u'\r', u' ');
  zm::LogLine(line);
  // Owned by the form's window once it has one (none before it is shown).
  HWND owner = form && form->Controller() ? form->Controller()->Handle() : nullptr;
  zm::WndAPIClass->MessageBox(owner, text, kErrorCaption, zm::MB_ICONEXCLAMATION);
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
    zm::CheckLoadStop();  // a quit asked while the show opens
    TSlideSpan span;
    source->GetSlideSpan(i, span);
    WideString line = u"Slide " + zm::IntToStr(i + 1) + u": start " + Ms(span.Start) + u" ms, duration " +
                      Ms(span.End - span.Start) + u" ms, transition in " + Ms(span.OwnLength) + u" ms, out " +
                      Ms(span.NextLength) + u" ms";
    WideString picture = zm::IniGetString(zm::IniFind(source->SlideSection(i), u"Picture"));
    if (!picture.empty()) {
      // Whether the show's picture can be reached at all, until slides are
      // drawn: where the show keeps it, without opening it.
      WideString state = u"missing";
      try {
        const std::int64_t size = accessor ? accessor->FileSize(picture) : -1;
        if (size >= 0) state = zm::IntToStr(size) + u" bytes";
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
  mouseMonitor_ = zm::MakeRef<zm::TMouseMonitor>(this, false);
  mouseMonitor_->SetOnEnter([this](zm::TMouseMonitor*) { PointerLeft(); });
  mouseMonitor_->SetOnLeave([this](zm::TMouseMonitor*) { PointerLeft(); });
  mouseMonitor_->OnHiddenChanged = [this](zm::TMouseMonitor*) { HiddenChanged(); };
  mouseMonitor_->OnTick = [this](zm::TMouseMonitor*) { UpdateCursor(); };
  viewer_ = zm::MakeRef<TOruShowViewer>(this);
  viewer_->CoverLayout = CoverLayout;
  viewer_->SetBarriersEnabled(true);
  viewer_->OnPosition = [this](TOruShowViewer* v, bool ended) { ViewerPosition(v, ended); };
  viewer_->OnAction = [this](TOruShowViewer* v, const TOruActionInfo& a, bool byUser) { ViewerAction(v, a, byUser); };
  viewer_->OnImage = [this](TOruShowViewer* v, zm::TRefObject* image) { ViewerImage(v, image); };
  // A show whose slides would take more memory than the player may take
  // is ended as one that could not be opened.
  viewer_->OnRefused = [this](TOruShowViewer*, const WideString& why) {
    if (refused_) return;
    refused_ = true;
    ShowError(this, why + u"\r" + Quoted(ShownPath(showPath_)));
    zm::ExitCode = 1;
    Close();
  };
}

void TMainForm::Dispose() {
  if (mouseMonitor_) {
    mouseMonitor_->OnHiddenChanged = nullptr;
    mouseMonitor_->OnTick = nullptr;
  }
  mouseMonitor_ = nullptr;
  if (viewer_) {
    viewer_->OnPosition = nullptr;
    viewer_->OnAction = nullptr;
    viewer_->OnImage = nullptr;
    viewer_->OnRefused = nullptr;
  }
  // The engine goes before the show it plays.
  viewer_ = nullptr;
  inputMapping_ = nullptr;
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
  const WideString given = path;
  path = zm::ResolveRelativePath(zm::ProgramDir, path);
  // A user who meant the current folder is told where the player looked.
  if (path != given) cantLoadNote_ = kRelativeToProgram;
  bool isTime = false;
  std::int32_t start = StartPosition(commands_, isTime);
  fromCommandLine_ = true;
  const bool opened = OpenShow(path, !fromProject_, start, true, isTime);
  fromCommandLine_ = false;
  cantLoadNote_.clear();
  if (opened) {
    showVersion_ = show_->Version();
    viewer_->SetPaused(false);
  } else {
    // A quit asked while the show opened ends the run as the quit does.
    if (!openStopped_) zm::ExitCode = 1;
    Close();
  }
  creationTick_ = zm::GetTimeMs();
}

bool TMainForm::OpenFailed(const WideString& path, const WideString& reason) {
  ShowError(this, WideString(kCantLoadShow) + u"\r" + Quoted(ShownPath(path)) + (reason.empty() ? WideString() : u"\r" + reason));
  return false;
}

bool TMainForm::PackedGiven(const WideString& path) {
  // Only the command line's show was given with an option; the file is
  // looked at only once the project did not play.
  const WideString packed = fromCommandLine_ ? PackedGivenNote(path) : WideString();
  if (packed.empty()) return false;
  ShowError(this, WideString(kCantLoadOru) + u"\r" + Quoted(ShownPath(path)) + packed + cantLoadNote_);
  return true;
}

bool TMainForm::OpenShow(WideString path, bool fromExe, std::int32_t start, bool checkStart, bool isTime) {
  openStopped_ = false;
  try {
    return OpenShowStoppable(std::move(path), fromExe, start, checkStart, isTime);
  } catch (const zm::ELoadStopped&) {
    // A quit asked while the show opened: nothing to tell, the run ends.
    zm::LogLine(u"Show opening stopped: the player is asked to end");
    openStopped_ = true;
    return false;
  }
}

bool TMainForm::OpenShowStoppable(WideString path, bool fromExe, std::int32_t start, bool checkStart, bool isTime) {
  // A playing show stands while another is opened.
  const bool wasPlaying = viewer_ && viewer_->EngineRunning() && !viewer_->Paused();
  if (wasPlaying) viewer_->SetPaused(true);
  auto resume = [&] {
    if (wasPlaying) viewer_->SetPaused(false);
  };

  TRef<TOruShowLocator> show;
  WideString opened;  // the file that was opened
  if (fromExe) {
    WideString firstError, secondError;
    WideString first = LocateShow(path);
    show = TryOpenContainer(first, firstError);
    opened = first;
    if (!show) {
      path = zm::ChangeFileExt(path, u".orushow");
      WideString second = LocateShow(path);
      if (second != first) show = TryOpenContainer(second, secondError);
      opened = second;
      if (!show) {
        // Told of the file the user named when it is there, else of the
        // other one tried; each path once.
        const bool firstThere = zm::FileExists(first) || zm::DirectoryExists(first);
        const bool secondThere = second != first && (zm::FileExists(second) || zm::DirectoryExists(second));
        const WideString& file = firstThere || !secondThere ? first : second;
        const WideString& error = firstThere || !secondThere ? firstError : secondError;
        WideString text;
        if (!error.empty()) {
          text = error + u"\r" + Quoted(ShownPath(file));
        } else {
          text = WideString(kCantLoadShow) + u"\r" + Quoted(ShownPath(file)) + UnreadFileReason(file);
          if (!firstThere && !secondThere && second != first) text += u" (nor " + Quoted(ShownPath(second)) + u")";
          text += (fromCommandLine_ ? ProjectGivenNote(file) : WideString()) + cantLoadNote_;
        }
        ShowError(this, text);
        resume();
        return false;
      }
    }
    if (ShowOpenedHook) ShowOpenedHook(show.get());
    if (LocateFFmpegHook) LocateFFmpegHook(show.get());
  } else {
    if (LocateFFmpegHook) LocateFFmpegHook(nullptr);
    std::replace(path.begin(), path.end(), u'/', u'\\');
    opened = path;
    show = TryOpenProject(path);
    if (!show) {
      if (PackedGiven(path)) {
        resume();
        return false;
      }
      const WideString reason = zm::DirectoryExists(path) ? FolderGivenNote(path) : UnreadFileReason(path);
      ShowError(this, WideString(kCantLoadOru) + u"\r" + Quoted(ShownPath(path)) + reason + cantLoadNote_);
      resume();
      return false;
    }
    if (ShowOpenedHook) ShowOpenedHook(show.get());
  }
  ZM_ASSERT(show, "Slideshow not Assigned");

  // The start checks (the show's password): a refused show is not opened.
  if (checkStart) {
    if (StartChecks(Controller() ? Controller()->Handle() : nullptr, show->Description())) {
      show = nullptr;
      resume();
      return false;
    }
    if (!ShowInTaskbar()) SetShowInTaskbar(true);
  }

  // The previous show goes; its end must not stop the new one.
  try {
    SetCurrentShow(show.get());
  } catch (...) {
    zm::ReportSwallowedException();
  }
  show_ = show;
  startAnswers_.Clear();
  // The show's folder and container are looked through at each command and
  // start, never on this thread alone.
  startAnswers_.SetCodeLook([this, opened, show] { return LookForCode(opened, show); });

  zm::TIniSection* main = show->Description() ? show->Description()->FindSection(u"Main") : nullptr;
  const bool asSaver = zm::SameText(zm::ExtractFileExt(zm::ProgramFile), u".scr");
  inputMapping_ = zm::MakeRef<TInputMappingClass>(show->Description(), asSaver);
  wheelEnabled_ = !zm::IniGetBool(zm::IniFind(main, u"opt_lockwheel"), false);
  caption_ = zm::IniGetString(zm::IniFind(main, u"opt_scr_caption"), kDefaultCaption);
  SetCaption(caption_);
  // Hidden for good (1), or after a still pointer for a number of seconds
  // (2; with no time it is never hidden: hidden at once it would never come
  // back, as a delay of 0 ignores moves).
  const std::int32_t hideMode = zm::IniGetInt(zm::IniFind(main, u"opt_hidecursor"), 0);
  const std::int64_t hideDelay =
      std::clamp<std::int64_t>(std::int64_t(zm::IniGetInt(zm::IniFind(main, u"opt_hc2_hideinterval"), 0)) * 1000,
                               0, INT32_MAX);
  const bool hide = hideMode == 1 || (hideMode == 2 && hideDelay > 0);
  mouseMonitor_->SetHideDelay(hideMode == 2 ? std::int32_t(hideDelay) : 0);
  mouseMonitor_->SetHidden(hide);
  SetCursor(hide ? -1 : 0);

  // Screen-saver mode plays only when the system asks for it ("/s"), and
  // only in the first instance.
  if (asSaver) {
    if (SecondInstanceHook && SecondInstanceHook()) return false;
    bool asked = false;
    if (zm::CommandArgs)
      for (std::int32_t i = 0; i < zm::CommandArgs->GetCount(); ++i)
        if (zm::CommandArgs->GetString(i) == u"/s" || zm::CommandArgs->GetString(i) == u"/S") asked = true;
    if (!asked) return false;
    if (ScreenSaverRunningHook) ScreenSaverRunningHook();
  } else if (DisableScreenSaverHook) {
    DisableScreenSaverHook();
  }

  // The time line is built before the show plays (and written when there is
  // a log); a show whose time line cannot be built does not play.
  // A show that reads but cannot be played (no slides, too many objects)
  // is not played either, and the user is told why.
  std::int64_t startTime = 0;
  WideString refusal;
  try {
    TOpenWatch watch;
    refusal = PlayRefusal(show->GetSource());
    if (refusal.empty()) {
      if (start > 0 || isTime) startTime = isTime ? start : SlideStartTime(start);
      if (commands_.FindCommand(u"log") || commands_.FindCommand(u"filelog")) LogShowTimeLine(show.get(), startTime);
    }
  } catch (const zm::ELoadStopped&) {
    throw;
  } catch (...) {
    const WideString error = CurrentExceptionText();
    zm::LogLine(u"Exception at OpenShow (" + error + u")");
    // The description's own fault, named by its key, where there is one.
    const WideString fault = TOruSource::DescriptionFault(show->Description());
    if (!fromExe && PackedGiven(opened)) return false;
    return OpenFailed(opened, fault.empty() ? error : fault);
  }
  if (!refusal.empty()) {
    // A packed show reads as a description without slides.
    if (!fromExe && PackedGiven(opened)) return false;
    ShowError(this, refusal + u"\r" + Quoted(ShownPath(opened)));
    return false;
  }
  // Slides that end as they start play as written (never seen): the user
  // is told which, whether or not there is a log.
  if (const WideString unseen = show->GetSource()->UnseenSlidesNote(); !unseen.empty()) SayOnConsole(unseen);

  // Without an application there is no loop to play in: the show is only
  // opened (the form's own checks).
  if (zm::Application) {
    bool played = false;
    WideString error;
    try {
      // Opened at the start position at once: no frame of time 0 is drawn
      // before the move.
      played = viewer_->Open(show->GetSource(), std::int32_t(std::clamp<std::int64_t>(startTime, 0, INT32_MAX)));
    } catch (...) {
      error = CurrentExceptionText();
      zm::LogLine(u"Exception at OpenShow (" + error + u")");
    }
    if (!played) return OpenFailed(opened, error);
    resume();
  }

  showPath_ = path;
  WideString exeName = zm::IniGetString(zm::IniFind(main, u"opt_exefn"));
  if (!exeName.empty() && !fromExe) {
    showPath_ = exeName;
    SetShowCache(exeName, path);
  }
  showFolder_ = zm::ExtractFilePath(showPath_, true);
  openedPath_ = opened;
  openedProject_ = !fromExe;
  showVersion_ = show->Version();
  return true;
}

std::int64_t TMainForm::SlideStartTime(std::int32_t i) {
  if (!show_) return 0;
  TOruSource* source = show_->GetSource();
  i = std::max(i, 0);
  // A show that ends has nothing after its end: a later slide is the end.
  if (source->RepeatMode() != kRepeatLoop) i = std::min(i, source->SlideCount());
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
  if (look_) {
    // Closed while the look for code runs (the show's own end waits for
    // it): the look stops, and the form closes once it has.
    closeAfterQuestion_ = true;
    AskLookToEnd();
    action = zm::caNone;
    return;
  }
  if (modalCount_ > 0) {
    // The window closed by the user or the system while the start question
    // waits: the question is answered Don't start, and the form closes
    // after it.
    if (asking_ && !closeRequested_) {
      closeAfterQuestion_ = true;
      EndStartQuestion();
      action = zm::caNone;
      return;
    }
    // The show's end while a question waits, say: the form stays.
    zm::LogLine(u"Not closed: a dialog is open");
    action = zm::caNone;
    return;
  }
  closing_ = true;
  const bool requested = closeRequested_;
  bool opened = false;
  if (show_) {
    zm::TIniFile* ini = show_->Description();
    std::int32_t runMode = ini ? ini->ReadInteger(u"Main", u"opt_runapponexit", 0) : 0;
    if (ini && ini->ReadBool(u"Main", u"opt_runapponexitiflastslide", true) && !endedAtLastSlide_) runMode = 0;
    if (!closeRequested_) runMode = 0;
    endedAtLastSlide_ = false;
    closeRequested_ = false;
    const WideString fn = ShowCommandText(ini ? zm::IniFind(ini->FindSection(u"Main"), u"opt_runapponexitfn") : nullptr);
    if (runMode > 0 && !fn.empty()) {
      // Esc ends the program: the show that is ending is never opened again
      // on its exit, nor one left on exit before (each opened on exit ends
      // as any other).
      const WideString again = runMode == 2 ? ShowLeftOnExit(fn) : WideString();
      if (!again.empty()) {
        zm::LogLine(u"Not opened on exit: " + again);
      } else {
        if (runMode == 2) leftOnExit_.push_back(SameFileKey(openedPath_.empty() ? showPath_ : openedPath_));
        // The show's own, at its end: no click asked for it.
        const bool ok = RunAction(MakeActionInfo(runMode == 2 ? acRunPresentation : acRunApp, 0, fn), false);
        opened = runMode == 2 && ok;
      }
    }
  }
  // Back to the show that linked here, at the slide it linked from.
  if (!opened && requested && !runStack_.empty()) {
    const TRunStackItem item = runStack_.back();
    runStack_.pop_back();
    const TOruActionInfo back = MakeActionInfo(acRunPresentation, 0, item.Text);
    // A project is opened again as a project, as a show file is as a file.
    opened = item.Project ? modalCount_ == 0 && viewer_ && OpenLinkedShow(back, true) : RunAction(back);
  }
  if (opened) {
    action = zm::caNone;
    closing_ = false;
    return;
  }
  if (viewer_) {
    viewer_->OnPosition = nullptr;
    viewer_->OnAction = nullptr;
    viewer_->OnImage = nullptr;
    viewer_->OnRefused = nullptr;
    viewer_->StopEngine();
  }
  closed_ = true;
  if (zm::Application) zm::Application->Terminate();
  closing_ = false;
}

void TMainForm::DoKey(zm::TKeyKind kind, std::uint16_t key, zm::WideChar& ch, zm::TShiftState shift) {
  // A key that ends the program (Esc) while the look for code runs: the
  // look stops, and the program ends as the key asks once it has.
  if (look_ && kind == zm::TKeyKind::Down && inputMapping_)
    if (const TOruActionInfo* a = inputMapping_->MapKey(shift, key, 1); a && (a->Code == acExit || a->Code == acCloseDialog)) {
      afterLook_ = *a;
      AskLookToEnd();
    }
  if (modalCount_ == 0 && kind != zm::TKeyKind::Char) {
    const bool down = kind == zm::TKeyKind::Down;
    // Start-up mode: Enter closes the player with exit code 1.
    if (startupMode_ && down && key == 13) {
      RunAction(MakeActionInfo(acCloseDialog, 0, WideString()));
      return;
    }
    TRef<TMainForm> keep(this);  // an action may close the form
    // A dialog of the show takes the keys: Esc closes it, only F1 goes on.
    if (viewer_ && viewer_->DialogShown()) {
      if (down && key == 27) viewer_->CloseDialog();
      if (key != 112) {
        zm::TZmForm::DoKey(kind, key, ch, shift);
        return;
      }
    }
    if (inputMapping_) {
      if (const TOruActionInfo* a = inputMapping_->MapKey(shift, key, down ? 1 : 0)) {
        const TOruActionInfo action = *a;  // the mapping may be replaced by the action
        if (action.Code == acHelp) {
          if (viewer_ && viewer_->EngineRunning()) viewer_->ShowHelp();
        } else {
          RunAction(action);
        }
      }
    }
    // A show that keeps the keyboard from moving it still lets these keys
    // release a "pause" slide.
    if (down && inputMapping_ && !inputMapping_->SyncPermitControl()) {
      switch (key) {
        case 19: case 32: case 34: case 39: case 167: case 176: case 179:
          GoOn();
          break;
        default:
          break;
      }
    }
  }
  zm::TZmForm::DoKey(kind, key, ch, shift);
}

void TMainForm::DoMouse(zm::TMouseKind kind, zm::TPoint pos, int button, zm::TShiftState shift) {
  // The click that started the program does not reach the show.
  if (modalCount_ == 0 && std::uint32_t(zm::GetTimeMs() - creationTick_) >= 1000 && viewer_) {
    TRef<TMainForm> keep(this);
    UpdateCursor();
    TOruActionInfo action;
    if (inputMapping_) action = inputMapping_->MapMouse(shift, pos, kind, button);
    const bool hidden = mouseMonitor_ && mouseMonitor_->Hidden();
    // A move has no click for an object to take: its action (the exit of a
    // screen saver) is run at once, as any action while the cursor is hidden
    // and any of a screen saver, which every button ends.
    const bool saver = inputMapping_ && inputMapping_->ScreenSaver();
    if ((hidden && action.Code != acHelp) || ((kind == zm::TMouseKind::Move || saver) && !action.IsEmpty())) {
      // A move is no click: a link it sets off is asked for.
      if (!action.IsEmpty()) RunAction(action, kind != zm::TMouseKind::Move);
    } else {
      std::int32_t buttons = button == 1 ? 1 : button == 4 ? 2 : button == 5 ? 4 : 0;
      if (action.IsEmpty()) viewer_->PointerEvent(std::uint8_t(kind), pos.X, pos.Y, buttons, shift);
      else viewer_->PointerEventWithAction(std::uint8_t(kind), pos.X, pos.Y, buttons, shift, action);
    }
  }
  zm::TZmForm::DoMouse(kind, pos, button, shift);
}

void TMainForm::DoMouseWheel(zm::TShiftState shift, zm::TPoint pos, int notches) {
  if (modalCount_ == 0 && wheelEnabled_ && show_ && viewer_ && viewer_->Engine()) {
    const std::int64_t now = viewer_->Time();
    std::int64_t target;
    if (shift == zm::ssCtrl) target = notches < 0 ? NextSlideTime(now, viewer_->Paused()) : PrevSlideTime(now);
    else target = now - 700 * std::int64_t(notches);
    MoveKeepingPause(target);
  }
  zm::TZmForm::DoMouseWheel(shift, pos, notches);
}

void TMainForm::StartFromShow(const WideString& commandLine, bool thenClose, bool byUser) {
  // Asked while the show is still there; the answer holds for this command
  // line until the show closes.
  // Only the commands the question listed may start.
  bool start = false;
  std::vector<TApprovedCommand> approved;
  ++modalCount_;
  asking_ = true;
  try {
    start = ShowMayStart(Controller() ? Controller()->Handle() : nullptr, startAnswers_, commandLine, zm::ProgramDir,
                         byUser, &approved);
  } catch (...) {
    zm::LogLine(u"Start question: " + CurrentExceptionText());
  }
  asking_ = false;
  --modalCount_;
  if (std::exchange(closeAfterQuestion_, false)) {
    Close();
    return;
  }
  if (EndAsAskedDuringLook()) return;
  if (thenClose) Close();
  if (!start) {
    RunAfterLook();
    return;
  }
  // The start looks once more, as modal as the question: what comes meanwhile waits.
  ++modalCount_;
  asking_ = true;
  try {
    RunApproved(this, approved, zm::ProgramDir, &startAnswers_);
  } catch (...) {
    zm::LogLine(u"Start: " + CurrentExceptionText());
  }
  asking_ = false;
  --modalCount_;
  if (std::exchange(closeAfterQuestion_, false)) {
    Close();
    return;
  }
  if (!EndAsAskedDuringLook()) RunAfterLook();
}

WideString TMainForm::ShowLeftOnExit(const WideString& commandLine) {
  // The show the action would open, found as OpenLinkedShow finds it.
  TRef<zm::TCommandsStorage> commands = zm::MakeRef<zm::TCommandsStorage>();
  TRef<zm::TStringList> args = zm::MakeRef<zm::TStringList>();
  zm::ParseCommandLine(commandLine, *args, *commands);
  WideString file;
  FirstArgument(*commands, WideString(), file);
  std::replace(file.begin(), file.end(), u'/', u'\\');
  if (file.empty()) return {};
  const WideString ending = openedPath_.empty() ? showPath_ : openedPath_;
  file = LocateShow(zm::ResolveRelativePath(zm::ExtractFilePath(ending, true), file));
  if ((!CachedShowName().empty() && zm::SameText(file, CachedShowName())) || SameFileKey(file) == SameFileKey(ending))
    return ShownPath(file) + u" is the show that is ending";
  const std::string key = SameFileKey(file);
  if (!key.empty() && std::find(leftOnExit_.begin(), leftOnExit_.end(), key) != leftOnExit_.end())
    return ShownPath(file) + u" was left on exit already";
  return {};
}

void TMainForm::AskLookToEnd() {
  if (!lookEndAsked_) lookEndAsked_ = std::chrono::steady_clock::now();
}

bool TMainForm::EndAsAskedDuringLook() {
  if (!afterLook_) return false;
  const TOruActionInfo action = *std::exchange(afterLook_, std::nullopt);
  RunAction(action);
  return true;
}

namespace {
// How long a look asked to end may still take to end by itself.
constexpr std::chrono::milliseconds kLookGrace{300};
}  // namespace

TCarriedCode TMainForm::LookForCode(const WideString& opened, const TRef<TOruShowLocator>& show) {
  plat::TLookBudget budget(kMaxLookMs);
  TCarriedCodeLook look;
  look.Budget = &budget;
  struct TDone {
    std::mutex Lock;
    std::condition_variable Wake;
    bool Done = false;
    TCarriedCode Found;
  };
  const auto done = std::make_shared<TDone>();
  const auto lookAt = [done, opened, show, look] {
    TCarriedCode found;
    try {
      found = FindCarriedCode(opened, show.get(), look);
    } catch (...) {
      found = {opened, u"the look for code failed"};
    }
    std::lock_guard<std::mutex> l(done->Lock);
    done->Found = std::move(found);
    done->Done = true;
    done->Wake.notify_all();
  };
  std::thread worker;
  try {
    worker = std::thread(lookAt);
  } catch (const std::system_error&) {
    lookAt();  // no thread to be had: looked at here
    return done->Found;
  }
  const auto finished = [&done] {
    std::lock_guard<std::mutex> l(done->Lock);
    return done->Done;
  };
  // The window is served meanwhile: its frames, its keys (Esc stops the
  // look), its close and a signal (each stops it), as a dialog serves it.
  look_ = &budget;
  bool quit = false;
  plat::WPARAM quitCode = 0;
  lookEndAsked_.reset();
  while (!finished() && !budget.Stopped()) {
    if (plat::QuitAsked()) AskLookToEnd();
    // Asked to end (Esc, the window's close, a signal, the run's end): a
    // look about to end is let end, any other stopped.
    if (lookEndAsked_ && std::chrono::steady_clock::now() - *lookEndAsked_ > kLookGrace) {
      budget.Stop();
      break;
    }
    plat::MSG m{};
    while (!budget.Stopped() && zm::WndAPIClass->PeekMessage(m, nullptr, 0, 0, plat::PM_REMOVE)) {
      if (m.message == plat::WM_QUIT) {
        quit = true;
        quitCode = m.wParam;
        budget.Stop();
        break;
      }
      zm::WndAPIClass->TranslateMessage(m);
      zm::WndAPIClass->DispatchMessage(m);
    }
    // A short wait of real time (the program's clock may be stepped by
    // what this thread serves).
    std::unique_lock<std::mutex> l(done->Lock);
    done->Wake.wait_for(l, std::chrono::milliseconds(10), [&done] { return done->Done; });
  }
  look_ = nullptr;
  // A stopped look ends at its next step.
  worker.join();
  // The end of the loop, seen here, is the outer loop's.
  if (quit) plat::PostQuitMessage(int(quitCode));
  return done->Found;
}

bool TMainForm::GoOn() {
  // The engine goes on from where it stands: a move from the time last
  // reported would land short of the stop and hold there again.
  return viewer_ && viewer_->Engine() && viewer_->Engine()->GoOn();
}

void TMainForm::MoveKeepingPause(std::int64_t time) {
  MoveViewer(std::int32_t(std::clamp<std::int64_t>(time, 0, INT32_MAX)), viewer_->Paused());
}

void TMainForm::MoveViewer(std::int32_t time, bool paused) { viewer_->SetPositionAndPause(time, paused); }

namespace {

// The command line that a web, mail or program action starts; empty for
// any other action.
WideString CommandOf(const TOruActionInfo& action) {
  switch (action.Code) {
    case acOpenWebSite: return EnsurePrefix({u"http://", u"https://"}, action.Text);
    case acWriteEmail: return EnsurePrefix({u"mailto:"}, action.Text);
    case acRunApp:
    case acRunAppAndExit: return action.Text;
    default: return WideString();
  }
}

}  // namespace

void TMainForm::NotCarriedOut(const TOruActionInfo& action) {
  const WideString command = CommandOf(action);
  if (command.empty()) return;
  LogNotAsked(command, asking_ ? u"another question is open"
                      : modalCount_ > 0 ? u"a dialog is open"
                                        : u"another action runs");
}

bool TMainForm::RunAction(const TOruActionInfo& action, bool byUser) {
  if (!viewer_) return false;
  if (modalCount_ > 0) {
    NotCarriedOut(action);
    return false;
  }
  TRef<TMainForm> keep(this);
  const std::int64_t t = viewer_->Time();
  switch (action.Code) {
    case acExit:
      closeRequested_ = true;
      Close();
      return true;
    case acPrevSlide:
      MoveKeepingPause(PrevSlideTime(t));
      return true;
    case acNextSlide:
      if (!GoOn()) MoveKeepingPause(NextSlideTime(t, viewer_->Paused()));
      return true;
    case acPause:
      if (!GoOn()) viewer_->SetPaused(!viewer_->Paused());
      return true;
    case acPrint:
      viewer_->RequestImage();
      return true;
    case acGotoSlide:
      MoveKeepingPause(SlideStartTime(action.Value != -1 ? action.Value - 1 : FindSlideById(action.Text)));
      return true;
    case acOpenWebSite:
    case acWriteEmail:
    case acRunApp:
    case acRunAppAndExit:
      StartFromShow(CommandOf(action), action.Code == acRunAppAndExit, byUser);
      return true;
    case acRunPresentation:
    case acRunPresentationAndReturn:
      return OpenLinkedShow(action);
    case acStop:
      MoveViewer(0, true);
      return true;
    case acCloseDialog:
      closeRequested_ = true;
      zm::ExitCode = 1;
      Close();
      return true;
    case acSeek:
      MoveKeepingPause(action.Value);
      return true;
    default:
      // Help, the open dialog, saving a slide and choosing a printer are not
      // carried out here.
      return false;
  }
}

std::vector<WideString> TMainForm::RunStack() const {
  std::vector<WideString> texts;
  for (const TRunStackItem& item : runStack_) texts.push_back(item.Text);
  return texts;
}

bool TMainForm::OpenLinkedShow(const TOruActionInfo& action, bool project) {
  TRef<TMainForm> keep(this);
  TRef<zm::TCommandsStorage> commands = zm::MakeRef<zm::TCommandsStorage>();
  TRef<zm::TStringList> args = zm::MakeRef<zm::TStringList>();
  zm::ParseCommandLine(action.Text, *args, *commands);
  WideString file;
  FirstArgument(*commands, WideString(), file);
  bool isTime = false;
  const std::int32_t start = StartPosition(*commands, isTime);
  std::replace(file.begin(), file.end(), u'/', u'\\');
  if (file.empty()) return false;
  // A link names its show beside the linking one.
  const WideString currentFolder = zm::ExtractFilePath(openedPath_.empty() ? showPath_ : openedPath_, true);
  file = zm::ResolveRelativePath(currentFolder, file);
  if (!project) file = LocateShow(file);

  // Links made for the built show, followed from its project: the same place
  // below the project's folder, else the same name there.
  zm::TIniFile* ini = show_ ? show_->Description() : nullptr;
  const WideString exeName = ini ? ini->ReadString(u"Main", u"opt_exefn", WideString()) : WideString();
  if (!project && !zm::FileExists(file) && !exeName.empty()) {
    const WideString exeFolder = zm::ExtractFilePath(exeName, true);
    std::vector<WideString> candidates;
    if (!exeFolder.empty() && file.size() > exeFolder.size() &&
        zm::SameText(file.substr(0, exeFolder.size()), exeFolder))
      candidates.push_back(currentFolder + file.substr(exeFolder.size()));
    candidates.push_back(currentFolder + zm::ExtractFileName(file));
    for (const WideString& c : candidates)
      if (zm::FileExists(c)) {
        file = c;
        break;
      }
  }

  // The build file of the open project stands for the project itself.
  const bool currentProject = !project && !CachedShowName().empty() && zm::SameText(file, CachedShowName());
  if (!currentProject && !project) {
    if (!zm::FileExists(file)) {
      ShowError(this, WideString(kShowNotFound) + u"\r" + ShownPath(file));
      return false;
    }
    WideString errorText;
    TRef<TOruShowLocator> probe;
    try {
      probe = TryOpenContainer(file, errorText);
    } catch (const zm::ELoadStopped&) {
      return false;  // the player is asked to end
    }
    if (!probe) {
      ShowError(this, WideString(kNotAShow) + u"\r" + ShownPath(file));
      return false;
    }
    if (probe->Version() != showVersion_) {
      ShowError(this, WideString(kVersionMismatch) + u"\r" + ShownPath(file));
      return false;
    }
  }

  zm::LogLine(u"Open show: " + file);
  TRunStackItem item;
  if (action.Code == acRunPresentationAndReturn) {
    // Before the first slide's start the slide is -1: the way back is slide 1.
    // A project is found again where it was opened, not by its build file.
    item.Project = openedProject_;
    item.Text = Quoted(item.Project ? openedPath_ : showPath_) + u" -slide " +
                zm::IntToStr(std::int64_t(std::max(CurrentSlide(), 0)) + 1);
  }
  const bool wasPaused = viewer_->Paused();
  const bool ok = currentProject ? OpenShow(CachedProjectPath(), false, start, true, isTime)
                                 : OpenShow(file, !project, start, true, isTime);
  if (ok) {
    if (!item.Text.empty()) runStack_.push_back(item);
    viewer_->SetPaused(false);
    return true;
  }
  viewer_->SetPaused(wasPaused);
  if (item.Text.empty()) {
    closeRequested_ = true;
    Close();
  }
  return false;
}

void TMainForm::PointerLeft() {
  // Every hover ends when the pointer is outside.
  if (mouseMonitor_ && !mouseMonitor_->IsInside() && viewer_)
    viewer_->PointerEvent(std::uint8_t(zm::TMouseKind::Move), 2147483647, 0, 0, 0);
}

void TMainForm::HiddenChanged() {
  if (!mouseMonitor_) return;
  if (mouseMonitor_->Hidden()) {
    // Over the navigation panel the cursor stays.
    TOruEngine* engine = viewer_ ? viewer_->Engine() : nullptr;
    if (engine && engine->Hover() && engine->HoverName() == u"NavPanel") mouseMonitor_->SetHidden(false);
    else SetCursor(-1);
  } else {
    SetCursor(0);
  }
}

void TMainForm::UpdateCursor() {
  if (mouseMonitor_ && mouseMonitor_->Hidden()) return;
  TOruEngine* engine = viewer_ ? viewer_->Engine() : nullptr;
  const bool link = engine && engine->Hover() && engine->HoverName() != u"TOruButton";
  // Called often (pointer events, polls, position reports): only a change
  // goes to the window.
  const std::int32_t cursor = link ? -21 : 0;
  if (Cursor() != cursor) SetCursor(cursor);
}

void TMainForm::ViewerPosition(TOruShowViewer* sender, bool ended) {
  if (closing_) return;
  // The show's end while the look for code runs comes once it is over, as
  // when the look held this thread.
  if (look_ && ended) {
    afterLookQueue_.push_back([this, sender] { ViewerPosition(sender, true); });
    return;
  }
  // What a resting pointer hovers changes with the frames (objects move
  // under it, slides change): the cursor follows the position reports.
  UpdateCursor();
  if (!ended || !show_) return;
  if (show_->GetSource()->RepeatMode() == kRepeatClose) {
    endedAtLastSlide_ = true;
    closeRequested_ = true;
    Close();
  }
}

void TMainForm::ViewerAction(TOruShowViewer* sender, const TOruActionInfo& action, bool byUser) {
  // What the show asks while the look for code runs is carried out once it
  // is over, as when the look held this thread.
  if (look_) {
    afterLookQueue_.push_back([this, sender, action, byUser] { ViewerAction(sender, action, byUser); });
    return;
  }
  if (inAction_) {
    NotCarriedOut(action);
    return;
  }
  inAction_ = true;
  TRef<TMainForm> keep(this);
  try {
    RunAction(action, byUser);
  } catch (...) {
    zm::LogLine(u"Exception at action " + zm::IntToStr(action.Code) + u" (" + CurrentExceptionText() + u")");
  }
  inAction_ = false;
  RunAfterLook();
}

void TMainForm::RunAfterLook() {
  if (look_ || inAction_ || afterLookQueue_.empty()) return;
  TRef<TMainForm> keep(this);
  for (auto queued = std::exchange(afterLookQueue_, {}); auto& f : queued) f();
}

void TMainForm::ViewerImage(TOruShowViewer* /*sender*/, zm::TRefObject* image) {
  zm::TIniFile* ini = show_ ? show_->Description() : nullptr;
  if (!ini || modalCount_ > 0) return;
  TRef<TMainForm> keep(this);
  TRef<zm::TRefObject> frame(image);
  TRef<TOruShowLocator> show = show_;
  auto object = zm::MakeRef<TCallBackClass>();
  object->Show = show;
  // Before the first slide starts, its picture is the one shown.
  object->SlideIndex = show->GetSource()->SlideCount() > 0 ? std::max(CurrentSlide(), 0) : -1;
  const TShowFileOpener open = [show](const WideString& name) -> zm::TStream* {
    TFileAccessor* accessor = show->Accessor();
    return accessor ? accessor->OpenFile(name) : nullptr;
  };
  auto toDib = [](zm::TImage* picture) {
    return picture && picture->Params.Width > 0 && picture->Params.Height > 0
               ? zm::MakeThumbnail(picture, picture->Params.Width, picture->Params.Height, true, true,
                                   zm::TColor32::FromValue(0xFFFFFFFF))
               : nullptr;
  };
  auto callback = [&](TCallBackClass* o, std::int32_t kind, TPictureData& data) {
    zm::TIniList* section = o->SlideIndex >= 0 ? show->GetSource()->SlideSection(o->SlideIndex) : nullptr;
    if (kind == pkFrame) data.Bitmap = toDib(dynamic_cast<zm::TImage*>(frame.get()));
    else if (kind == pkPictureFile) return SlidePictureFile(section, open, data);
    else if (kind == pkMainPicture) {
      const WideString name = zm::IniGetString(zm::IniFind(section, u"picture"));
      TRef<zm::TStream> file = TRef<zm::TStream>::Adopt(name.empty() ? nullptr : open(name));
      if (file) data.Bitmap = toDib(zm::LoadImageFromStream(file.get(), name).get());
    }
    return data.Bitmap != nullptr;
  };
  ++modalCount_;
  try {
    ShowPrintDialog(Controller() ? Controller()->Handle() : nullptr, ini, callback, object.get());
  } catch (...) {
    zm::LogLine(u"Print dialog: " + CurrentExceptionText());
  }
  --modalCount_;
}

void InitOruMainForm() { InitOruScreenSaver(); }

void FiniOruMainForm() {
  FiniOruScreenSaver();
  SetShowCache(WideString(), WideString());
  CoverLayout = false;
  LocateFFmpegHook = nullptr;
  ShowOpenedHook = nullptr;
}

}  // namespace oru
