#pragma once
// The clipboard and the movable global memory blocks it holds. The
// clipboard lives in this process: what one window puts there, any window
// of the program reads back. One thread at a time holds it open; tests can
// make it look held by another program. Thread-safe.
#include <cstddef>
#include <cstdint>

#include "Platform/User/PlatUserTypes.h"

namespace plat {

using HGLOBAL = void*;

constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GMEM_DDESHARE = 0x2000;

constexpr UINT CF_TEXT = 1;
constexpr UINT CF_DIB = 8;
constexpr UINT CF_UNICODETEXT = 13;

// A zero-filled block; null for a size of 0 or when memory runs out.
HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes);
// The block's memory (the lock count rises); null for an unknown handle.
void* GlobalLock(HGLOBAL block);
// False once the lock count is 0 (or for an unknown handle).
BOOL GlobalUnlock(HGLOBAL block);
// Null on success; the handle back when it is unknown or owned by the clipboard.
HGLOBAL GlobalFree(HGLOBAL block);
// 0 for an unknown handle.
std::size_t GlobalSize(HGLOBAL block);

// Fails while another thread holds it open or another program holds it.
// Opening again on the holding thread succeeds without nesting.
BOOL OpenClipboard(HWND owner);
// False when this thread does not hold it open.
BOOL CloseClipboard();
// Frees every block; false when this thread does not hold it open.
BOOL EmptyClipboard();
// The clipboard takes the block over (an earlier block of the format is
// freed); null when the clipboard is not open here or the handle is unknown.
HGLOBAL SetClipboardData(UINT format, HGLOBAL block);
// The clipboard's block (still owned by it); null when not open here or the
// format is missing.
HGLOBAL GetClipboardData(UINT format);
BOOL IsClipboardFormatAvailable(UINT format);
// Rises on every change of the contents.
DWORD GetClipboardSequenceNumber();

// Simulates another program holding the clipboard: opening fails while on.
void SetClipboardHeldElsewhere(bool held);
// Empties the clipboard and closes it (for the end of the program and tests).
void ResetClipboard();

}  // namespace plat
