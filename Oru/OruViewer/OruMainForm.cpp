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
}

void TMainForm::Dispose() {
  show_ = nullptr;
  zm::TRefObject::Dispose();
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
    // The viewer would play now; until it exists the log shows what it would play.
  } else {
    zm::ExitCode = 1;
  }
  Close();
  creationTick_ = zm::GetTimeMs();
}

bool TMainForm::OpenShow(WideString path, bool fromExe, std::int32_t start, bool /*checkStart*/, bool isTime) {
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
      return false;
    }
    if (ShowOpenedHook) ShowOpenedHook(show.get());
  }
  ZM_ASSERT(show, "Slideshow not Assigned");

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

  // Building the source is the viewer's first step; a show whose time line
  // cannot be built does not play.
  std::int64_t startTime = 0;
  try {
    show->GetSource();
    if (start > 0 || isTime) startTime = isTime ? start : SlideStartTime(start);
    LogShowTimeLine(show.get(), startTime);
  } catch (...) {
    zm::LogLine(u"Exception at OpenShow (" + CurrentExceptionText() + u")");
    ShowError(this, WideString(kCantLoadShow) + u"\r" + Quoted(opened));
    return false;
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

void TMainForm::Close() {
  if (closed_) return;
  closed_ = true;
  if (zm::Application) zm::Application->Terminate();
}

void InitOruMainForm() {}

void FiniOruMainForm() {
  SetShowCache(WideString(), WideString());
  CoverLayout = false;
  LocateFFmpegHook = nullptr;
  ShowOpenedHook = nullptr;
}

}  // namespace oru
