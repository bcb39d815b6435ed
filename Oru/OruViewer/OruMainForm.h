#pragma once
// TMainForm: the player's main form. It reads the command line, finds and
// opens the show, reports what fails in the error box and plays the show in
// its window until it is closed.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Oru/OruViewer/OruRunProgram.h"
#include "OruLib2/OruClasses/OruShowLoader.h"
#include "OruLib2/OruViewer/OruInputMapping.h"
#include "OruLib2/OruViewer/OruShowViewer.h"
#include "ZmLib/Application2/zmForms.h"
#include "ZmLib/Application2/zmMouseMonitor.h"
#include "ZmLib/zmCommandLine.h"
#include "ZmLib/zmStringList.h"
#include "ZmLib/zmTypes.h"

namespace oru {

// Called by OpenShow with the show just opened (nil for a project show,
// before it is opened); the start-up fills them.
using TShowHookProc = void (*)(TOruShowLocator* show);
extern TShowHookProc LocateFFmpegHook;
extern TShowHookProc ShowOpenedHook;

// The switch "cover": slides are laid out to cover the screen.
extern bool CoverLayout;

inline constexpr const char16_t* kErrorCaption = u"Slideshow Error";
inline constexpr const char16_t* kCantLoadShow = u"Can`t Load Show";
inline constexpr const char16_t* kCantLoadOru = u"Can`t Load .oru File";
// Follows either text above when the show path given was relative.
inline constexpr const char16_t* kRelativeToProgram =
    u"\r(relative paths are resolved against the program's folder, not the current folder)";
inline constexpr const char16_t* kDefaultCaption = u"OruViewer v5.6";
inline constexpr const char16_t* kShowNotFound = u"OruShow File not Found:";
inline constexpr const char16_t* kNotAShow = u"Not OruShow Executable File or File Corrupted:";
inline constexpr const char16_t* kVersionMismatch = u"OruShow ExeFile Version Mismatch:";

class TMainForm;

// The message of the exception being handled (call inside a catch).
WideString CurrentExceptionText();

// The error box: Text with the caption "Slideshow Error" and the
// exclamation icon, owned by the form's window.
void ShowError(TMainForm* form, const WideString& text);

// The start: the first argument of "slide", else of "time" (then IsTime),
// read as a decimal number; that number minus 1 when it reads and is above
// 0, else 0.
std::int32_t StartPosition(zm::TCommandsStorage& commands, bool& isTime);

// The window to hand the foreground back to in start-up mode: the last
// parameter read as a decimal number; 0 when it is not one or when there
// is only one parameter. Args holds the program's name first.
std::int64_t StartupWindowHandle(zm::TStringList* args);

// The file to open for a container path: the path of the cached build file
// itself; in a bundle folder ("*.app") its "Contents\Resources\slideshow.dat",
// or the path with the extension ".orushow" when the bundle has none; any
// other path unchanged.
WideString LocateShow(const WideString& path);
// The build file a project show names and the project path it stands for
// (empty texts: none).
void SetShowCache(const WideString& showName, const WideString& projectPath);
const WideString& CachedShowName();
const WideString& CachedProjectPath();

// The time line and start of an opened show, written to the log.
void LogShowTimeLine(TOruShowLocator* show, std::int64_t startTime);

// The player's only window: opens the show, hands it to the show viewer,
// applies the show's window options, turns input into actions and viewer
// requests and carries the actions out. A show opened by an action replaces
// the current one; with a way back, closing it returns to the linking slide.
class TMainForm : public zm::TZmForm {
public:
  // Reads the switches ("cover", "filename", "exename") and the raw
  // parameters ("-startup"), makes the viewer; opens nothing yet.
  TMainForm(zm::TCommandsStorage& commands, zm::TStringList* args);
  void Dispose() override;

  // Resolves the show path against the program's folder and opens it at
  // the start position, then plays it; a failure closes the form.
  void Start();

  // True when a show was opened (and, with an application to run it, handed
  // to the viewer). Each failure is reported in the error box.
  // False when the show did not open: told to the user, or stopped by a
  // quit asked meanwhile (OpenStopped).
  bool OpenShow(WideString path, bool fromExe, std::int32_t start, bool checkStart, bool isTime);
  bool OpenStopped() const { return openStopped_; }

  // The show time of slide max(I, 0): its start to the nearest millisecond,
  // plus 1 when it has no transition in and is not the end of an ending show.
  std::int64_t SlideStartTime(std::int32_t i);
  // The targets of the next- and previous-slide steps from time T.
  std::int64_t NextSlideTime(std::int64_t t, bool afterTransition);
  std::int64_t PrevSlideTime(std::int64_t t);
  // The slide whose id is Id; -1 when none.
  std::int32_t FindSlideById(const WideString& id);
  // The slide at the viewer's last reported time.
  std::int32_t CurrentSlide();

  // Carries an action out; false when it was not (an open modal dialog, no
  // viewer, a code not handled here, a show that did not open). ByUser: a
  // click or a key of the user asked for it; a show's own (at a slide's
  // start, at its end) asks before it opens even a web link.
  bool RunAction(const TOruActionInfo& action, bool byUser = true);

  void CloseQuery(std::int32_t& action) override;
  void DoKey(zm::TKeyKind kind, std::uint16_t key, zm::WideChar& ch, zm::TShiftState shift) override;
  void DoMouse(zm::TMouseKind kind, zm::TPoint pos, int button, zm::TShiftState shift) override;
  void DoMouseWheel(zm::TShiftState shift, zm::TPoint pos, int notches) override;

  // The form has let itself close (the message loop ends).
  bool Closed() const { return closed_; }

  TOruShowLocator* Show() const { return show_.get(); }
  TOruShowViewer* Viewer() const { return viewer_.get(); }
  bool StartupMode() const { return startupMode_; }
  bool FromProject() const { return fromProject_; }
  const WideString& ProjectPath() const { return projectPath_; }
  const WideString& ShowPath() const { return showPath_; }
  const WideString& ShowFolder() const { return showFolder_; }
  const WideString& ShowVersion() const { return showVersion_; }
  const WideString& Caption() const { return caption_; }
  bool WheelEnabled() const { return wheelEnabled_; }
  std::uint32_t CreationTick() const { return creationTick_; }
  bool EndedAtLastSlide() const { return endedAtLastSlide_; }
  bool CloseRequested() const { return closeRequested_; }
  // Command lines of the shows to return to, the last one on top.
  std::vector<WideString> RunStack() const;
  TInputMappingClass* InputMapping() const { return inputMapping_.get(); }
  zm::TMouseMonitor* MouseMonitor() const { return mouseMonitor_.get(); }

protected:
  // Every move of an action goes through here: the viewer to Time, paused or playing.
  virtual void MoveViewer(std::int32_t time, bool paused);

private:
  bool OpenShowStoppable(WideString path, bool fromExe, std::int32_t start, bool checkStart, bool isTime);
  // A packed show given to -filename: said so with the option to use (true).
  bool PackedGiven(const WideString& path);
  void ViewerPosition(TOruShowViewer* sender, bool ended);
  void ViewerAction(TOruShowViewer* sender, const TOruActionInfo& action, bool byUser);
  void ViewerImage(TOruShowViewer* sender, zm::TRefObject* image);
  // Reports a failed open in the error box, with why when it is known.
  bool OpenFailed(const WideString& path, const WideString& reason);
  // Actions 8 to 11: programs and links, once the show may start them;
  // ThenClose closes the form before the start.
  void StartFromShow(const WideString& commandLine, bool thenClose, bool byUser);
  // An action that comes while another runs or a dialog is open is not
  // carried out; one that would start something is logged, with why.
  void NotCarriedOut(const TOruActionInfo& action);
  // Actions 12 and 14: another show in this window. Project: the way back
  // to a show that was opened from its project on disk.
  bool OpenLinkedShow(const TOruActionInfo& action, bool project = false);
  // Lets the engine play on from the "pause" slide it stands at; false when
  // it stands at none.
  bool GoOn();
  void MoveKeepingPause(std::int64_t time);
  void PointerLeft();
  void HiddenChanged();
  void UpdateCursor();
  // The look for code the show carries (FindCarriedCode), made on a worker
  // thread while this thread serves the window: Esc, the window's close, a
  // terminating signal or the run's end stop it at once.
  TCarriedCode LookForCode(const WideString& opened, const zm::TRef<TOruShowLocator>& show);
  // After a look that Esc stopped: the program ends as Esc ends it. True
  // when it did.
  bool EndAsAskedDuringLook();
  // Esc, the window's close or a signal while the look runs: it ends soon.
  void AskLookToEnd();
  // Why the show an on-exit action would open is not opened: it is the show
  // that is ending, or one left on exit before; empty when it may be.
  WideString ShowLeftOnExit(const WideString& commandLine);
  // Carries out what the show asked while the look ran (not inside another action).
  void RunAfterLook();

  zm::TCommandsStorage& commands_;
  zm::TRef<TOruShowLocator> show_;
  zm::TRef<TOruShowViewer> viewer_;
  zm::TRef<zm::TMouseMonitor> mouseMonitor_;
  zm::TRef<TInputMappingClass> inputMapping_;
  // A show to return to: its command line, and whether it was opened from
  // its project on disk (else from a show file).
  struct TRunStackItem {
    WideString Text;
    bool Project = false;
  };
  std::vector<TRunStackItem> runStack_;
  WideString cantLoadNote_;  // added to "Can`t Load" while the command line's show opens
  bool fromCommandLine_ = false;  // the show opening is the command line's: its errors name the options
  WideString openedPath_;  // the file the current show was read from
  bool openedProject_ = false;  // the current show came from its project on disk
  WideString projectPath_;
  WideString showPath_;
  WideString showFolder_;
  WideString showVersion_;
  WideString caption_;
  bool fromProject_ = false;
  bool startupMode_ = false;
  bool wheelEnabled_ = true;
  bool endedAtLastSlide_ = false;
  bool closeRequested_ = false;
  bool openStopped_ = false;  // the last opening ended by a quit asked meanwhile
  bool refused_ = false;  // the show could not be held: ended, once
  bool inAction_ = false;
  bool asking_ = false;  // the start question is open
  bool closeAfterQuestion_ = false;  // the window was closed while it was
  bool closing_ = false;
  bool closed_ = false;
  std::int32_t modalCount_ = 0;
  TStartAnswers startAnswers_;  // of the current show
  std::uint32_t creationTick_ = 0;
  // The look for code being made, while it is; and the action (Esc's) that
  // stopped it, to be carried out once it has.
  plat::TLookBudget* look_ = nullptr;
  std::optional<TOruActionInfo> afterLook_;
  std::vector<std::function<void()>> afterLookQueue_;
  std::optional<std::chrono::steady_clock::time_point> lookEndAsked_;
  // The shows (their files) left on exit for another.
  std::vector<std::string> leftOnExit_;
};

void InitOruMainForm();
void FiniOruMainForm();

}  // namespace oru
