#pragma once
// TMainForm: the player's main form. It reads the command line, finds and
// opens the show and reports what fails in the error box. Until the show
// viewer exists the form has no window: an opened show's time line goes to
// the log and the form closes again.
#include <cstdint>

#include "OruLib2/OruClasses/OruShowLoader.h"
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
inline constexpr const char16_t* kDefaultCaption = u"OruViewer v5.6";

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

class TMainForm : public zm::TRefObject {
public:
  // Reads the switches ("cover", "filename", "exename") and the raw
  // parameters ("-startup"); opens nothing yet.
  TMainForm(zm::TCommandsStorage& commands, zm::TStringList* args);
  void Dispose() override;

  // Resolves the show path against the program's folder and opens it at
  // the start position; a failure closes the form.
  void Start();

  // True when a show was opened. Path may be changed to the one that
  // opened; each failure is reported in the error box.
  bool OpenShow(WideString path, bool fromExe, std::int32_t start, bool checkStart, bool isTime);

  // The show time of slide max(I, 0): its start to the nearest millisecond,
  // plus 1 when it has no transition in and is not the end of an ending show.
  std::int64_t SlideStartTime(std::int32_t i);

  // Ends the message loop (no window to close yet).
  void Close();
  bool Closed() const { return closed_; }

  TOruShowLocator* Show() const { return show_.get(); }
  bool StartupMode() const { return startupMode_; }
  bool FromProject() const { return fromProject_; }
  const WideString& ProjectPath() const { return projectPath_; }
  const WideString& ShowPath() const { return showPath_; }
  const WideString& ShowFolder() const { return showFolder_; }
  const WideString& ShowVersion() const { return showVersion_; }
  const WideString& Caption() const { return caption_; }
  bool WheelEnabled() const { return wheelEnabled_; }
  std::uint32_t CreationTick() const { return creationTick_; }

private:
  zm::TCommandsStorage& commands_;
  zm::TRef<TOruShowLocator> show_;
  WideString projectPath_;
  WideString showPath_;
  WideString showFolder_;
  WideString showVersion_;
  WideString caption_;
  bool fromProject_ = false;
  bool startupMode_ = false;
  bool wheelEnabled_ = true;
  bool closed_ = false;
  std::uint32_t creationTick_ = 0;
};

void InitOruMainForm();
void FiniOruMainForm();

}  // namespace oru
