#pragma once
// The frame engine's cursor numbers mapped to system and custom cursors.
// Numbers 1000 and above index the table of custom cursors; -11 is the wait
// cursor, 1 west-east sizing, 2 north-south, 3 the I-beam, 4 the hand, 5 the
// cross, 6 north-east to south-west, 7 north-west to south-east, 8 the
// four-way sizing cursor, -1 no cursor; any other number is the arrow.
#include <cstdint>

#include "Platform/User/PlatUserTypes.h"
#include "ZmLib/Graphics/zmBitmap.h"

namespace zm {

constexpr std::int32_t crNone = -1;
constexpr std::int32_t crWait = -11;
constexpr std::int32_t crArrow = 0;
constexpr std::int32_t crSizeWE = 1;
constexpr std::int32_t crSizeNS = 2;
constexpr std::int32_t crIBeam = 3;
constexpr std::int32_t crHand = 4;
constexpr std::int32_t crCross = 5;
constexpr std::int32_t crSizeNESW = 6;
constexpr std::int32_t crSizeNWSE = 7;
constexpr std::int32_t crSizeAll = 8;
constexpr std::int32_t kCustomCursorBase = 1000;

// The window layer's cursor calls (the defaults go to the platform; tests
// may put their own here). A nil entry fails, so the callers take their
// failure paths.
struct TCursorPlatform {
  // CreateIconIndirect with colour and mask both the 32-bit pixels (B, G, R, A, top-down).
  plat::HCURSOR (*FromPixels)(const std::uint32_t* pixels, std::int32_t width, std::int32_t height,
                              TPoint hotSpot) = nullptr;
  // LoadCursorW(module instance, name) for a cursor resource of the program.
  plat::HCURSOR (*FromResource)(const WideString& name) = nullptr;
  // LoadImageW(nil, path, IMAGE_CURSOR, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE).
  plat::HCURSOR (*FromFile)(const WideString& path) = nullptr;
  void (*Destroy)(plat::HCURSOR cursor) = nullptr;
};
extern TCursorPlatform CursorPlatform;

// The handle of a cursor number; Valid false when the number yields no
// cursor (an unused custom number). -1 gives nil, valid.
plat::HCURSOR CursorHandle(std::int32_t number, bool& valid);
// A cursor from a bitmap (converted to 32 bits) and its hot spot, owned by
// the table; 1000 + its index, 0 when it cannot be made.
std::int32_t CursorFromBitmap(TBitmap* bitmap, TPoint hotSpot);
// "@name" loads the program's cursor resource, any other name a cursor
// file; cached by name; 0 when it cannot be loaded.
std::int32_t LoadCursorByName(const WideString& name);
// True without a call when the cursor is already current; false when the
// number yields no cursor; else SetCursor.
bool SetMouseCursor(std::int32_t number);
std::int32_t CustomCursorCount();

using TLoadCursorProc = std::int32_t (*)(const WideString& name);
using TCursorFromBitmapProc = std::int32_t (*)(TBitmap* bitmap, TPoint hotSpot);
extern TLoadCursorProc LoadCursorHook;
extern TCursorFromBitmapProc CursorFromBitmapHook;

void InitMouseCursor();
// Destroys the owned cursors and clears the table and the name cache.
void FiniMouseCursor();

}  // namespace zm
