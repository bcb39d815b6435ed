#pragma once
// Exact, fast runs: with ZM_FRAME_STEP_MS=N the program clock (TickCount32)
// moves by exactly N ms per presented frame and never on its own,
// so a show plays as fast as frames can be drawn and two runs draw the same
// frames; while the screen stands still its last frame counts again, step
// by step (FrameStood), so that the clock goes on. With ZM_CAPTURE_DIR such frames are written as "NNNNNN.png" with a
// line "frame, program clock ms, window, show time ms" in frames.tsv, on the
// presenting thread (the window layer captures real-clock frames itself).
#include <cstdint>
#include <functional>
#include <string>

#include "Platform/User/PlatUserTypes.h"

namespace plat {

// The step (ms) from ZM_FRAME_STEP_MS, read once; 0 when it is not set or
// not a positive number.
std::uint32_t FrameStepFromEnvironment();

// Installs the stepped clock (Step > 0) starting at the present clock value,
// or restores the steady clock (Step 0). Captures go to CaptureDir when it is
// not empty (at most CaptureLimit frames when that is not negative).
void SetFrameStepping(std::uint32_t stepMs, const std::string& captureDir = std::string(),
                      std::int64_t captureLimit = -1);
// From ZM_FRAME_STEP_MS, ZM_CAPTURE_DIR and ZM_CAPTURE_LIMIT; false when the
// step is not set (nothing changes then).
bool SetFrameSteppingFromEnvironment();
std::uint32_t FrameStepMs();
// Stepping is on and frames are captured here (the window layer then leaves
// capturing to the presenting device).
bool FrameStepCaptures();

// A frame of Window was presented, showing ShowTime (ms; the caller's
// position). The time is kept for the capture lines. While stepping, the
// window's client pixels are captured when a folder is set, then the clock
// moves by the step. Call it on the presenting thread right after the
// present, so that the pixels are those of this frame.
void FramePresented(HWND window, std::int64_t showTime);
// While stepping, the screen stood still for a step (nothing to draw: the
// show paused, held at a slide or at its end): the frame shown last counts
// as presented again, with its show time. Its capture is the file of the
// frame before (linked, or copied), the clock moves by the step. Nothing
// on the real clock.
void FrameStood(HWND window, std::int64_t showTime);
// Sees every stepped frame (tests): its number, show time and the window's
// client pixels (nil when the window could not be read). Frames of the real
// clock come with number -1 and no pixels. Runs on the presenting thread; it
// must not wait for the UI thread.
using TFrameObserver = std::function<void(std::int64_t frame, std::int64_t showTime, const std::uint32_t* bits,
                                          int width, int height)>;
void SetFrameObserver(TFrameObserver observer);
// The show time of the frame presented last; -1 before one.
std::int64_t LastFrameShowTime();
// The show time (ms) of the frame the calling thread draws now (-1: none).
// Set before the frame is drawn: the window layer stamps the pixels the
// thread presents with it, so that a capture names the time of the frame it
// shows, whenever the display thread hands the pixels on.
void SetPresentingShowTime(std::int64_t showTime);
std::int64_t PresentingShowTime();
// Sees the show time of each frame as its thread stamps it, before drawing
// it (tests: what the sound is at a frame's show time, apart from the
// time the frame takes to draw and present). Runs on that thread.
using TStampObserver = std::function<void(std::int64_t showTime)>;
void SetStampObserver(TStampObserver observer);
// Frames presented while stepping.
std::int64_t SteppedFrameCount();

// The capture files of the window layer and of stepped frames. The PNG is
// written for speed (low compression level, one cheap filter). False, with
// errno the system's reason, when the file cannot be written whole (a
// picture cut short is removed).
bool WriteCapturePng(const std::string& path, const std::uint32_t* bits, int stride, int width, int height);
bool AppendCaptureLine(const std::string& dir, std::int64_t frame, std::uint32_t clockMs, std::uintptr_t window,
                       std::int64_t showTime);
// A capture file that cannot be written ends the capture: said once on the
// error output with the file, the reason and, when the capture folder is
// not there (or no folder), that folder; the run then ends with status 1.
void ReportCaptureFailure(const std::string& file, int osError);
// ZM_CAPTURE_DIR as the capture uses it: a relative folder taken from the
// current one when the capture starts, so that it is the folder the program
// was started in and every message names it whole.
std::string CaptureFolder(const std::string& dir);

}  // namespace plat
