#pragma once
// The player in process, as OruViewer5 runs it: the main form opens the show
// of a command line and plays it in its headless window on the stepped
// clock; every presented frame is handed to the caller, and message boxes
// are recorded instead of shown.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ZmLib/zmTypes.h"

namespace oru {
class TMainForm;
}

namespace orutest {

struct TInProcessRun {
  bool Started = false;            // the main form showed
  std::vector<std::string> Boxes;  // "caption: text" of every message box
};

// Called for every presented frame (bits may be nil); true ends the run.
// Calls never overlap.
using TFrameSeen = std::function<bool(std::int64_t time, const std::uint32_t* bits, int width, int height)>;

// Runs on the UI thread every few milliseconds while the show plays, with
// the main form: what a user does to the window (resize, pause, close).
using TUiTick = std::function<void(oru::TMainForm& form)>;

// Plays until the show closes itself or Seen asks to end. Frames are
// captured to CaptureDir (at most CaptureLimit) when it is not empty. A
// step of 0 plays on the real clock: Seen then gets no pixels.
TInProcessRun PlayInProcess(const zm::WideString& commandLine, std::uint32_t stepMs, const TFrameSeen& seen,
                            const std::string& captureDir = std::string(), std::int64_t captureLimit = -1,
                            const TUiTick& uiTick = nullptr);

}  // namespace orutest
