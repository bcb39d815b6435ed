#pragma once
// The drawing stand-in (gdi32): device contexts, bitmaps and DIB sections,
// palettes and the blits the imaging code uses. Names, argument meanings,
// constant values and failure results follow the Win32 calls; pixels live
// in plain memory. Standard types only.
//
// Handles are opaque values that carry a slot, a generation and a kind: a
// stale, unknown or wrong-kind handle makes the call fail, never crash. A
// bitmap is selected into at most one DC at a time, and DeleteObject of a
// selected bitmap fails (as in GDI), so a wrong release order leaks instead
// of freeing memory still in use.
//
// Pixel rules: DIB memory is zero-filled; rows are 4-byte aligned; a bottom-up
// DIB (positive height) keeps its last line first in memory. 16- and 32-bit
// bitmaps read their BI_BITFIELDS masks; BI_RGB means 5-5-5 (blue lowest) and
// B, G, R, X. Copies into 32-bit targets write alpha 0 unless the source is
// 32-bit too (then all four bytes move). Blits are SRCCOPY only and work on
// memory DCs and on window DCs (the token BeginPaint hands out); the screen
// DC has no pixels. The layer is safe to call from several threads; a DC is
// used by one thread at a time, as in GDI.
#include <cstddef>
#include <cstdint>

#include "Platform/User/PlatUserTypes.h"

namespace plat {

using BYTE = std::uint8_t;
using COLORREF = std::uint32_t;  // 0x00BBGGRR

struct HGDIOBJ__;
using HGDIOBJ = HGDIOBJ__*;
struct HPALETTE__;
using HPALETTE = HPALETTE__*;

#pragma pack(push, 2)
// The 40-byte header of BMP files and DIBs, laid out byte for byte.
struct BITMAPINFOHEADER {
  DWORD biSize = 0;
  LONG biWidth = 0;
  LONG biHeight = 0;  // negative: top-down
  WORD biPlanes = 0;
  WORD biBitCount = 0;
  DWORD biCompression = 0;
  DWORD biSizeImage = 0;
  LONG biXPelsPerMeter = 0;
  LONG biYPelsPerMeter = 0;
  DWORD biClrUsed = 0;
  DWORD biClrImportant = 0;
};
// The 14-byte header in front of a BMP file.
struct BITMAPFILEHEADER {
  WORD bfType = 0;
  DWORD bfSize = 0;
  WORD bfReserved1 = 0;
  WORD bfReserved2 = 0;
  DWORD bfOffBits = 0;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(BITMAPFILEHEADER) == 14);

struct RGBQUAD {
  BYTE rgbBlue = 0, rgbGreen = 0, rgbRed = 0, rgbReserved = 0;
};
static_assert(sizeof(RGBQUAD) == 4);

// The header and room for a full palette; with BI_BITFIELDS the first three
// entries hold the red, green and blue masks as 32-bit words. Calls read at
// most the entries the bit count can use.
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[256];
};

struct PALETTEENTRY {
  BYTE peRed = 0, peGreen = 0, peBlue = 0, peFlags = 0;
};
struct LOGPALETTE {
  WORD palVersion = 0x300;
  WORD palNumEntries = 0;
  PALETTEENTRY palPalEntry[256];
};

constexpr DWORD BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3;
constexpr UINT DIB_RGB_COLORS = 0, DIB_PAL_COLORS = 1;
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;
constexpr int PLANES = 14;
constexpr std::int64_t kMaxDibBytes = std::int64_t(1) << 30;  // larger DIB sections are refused

inline constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) { return COLORREF(r) | COLORREF(g) << 8 | COLORREF(b) << 16; }
inline constexpr BYTE GetRValue(COLORREF c) { return BYTE(c); }
inline constexpr BYTE GetGValue(COLORREF c) { return BYTE(c >> 8); }
inline constexpr BYTE GetBValue(COLORREF c) { return BYTE(c >> 16); }

// ---- Device contexts ---------------------------------------------------------------

// GetDC(nullptr): a screen DC (measuring only, no pixels). GetDC(hwnd): a DC
// on the window's client pixels (drawing shows once released). Give either
// back with ReleaseDC.
HDC GetDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC hdc);
// A memory DC with the stock 1 x 1 monochrome bitmap selected; hdc nullptr or
// any valid DC.
HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);  // memory DCs only; the selected bitmap is let go
// Bitmaps (into memory DCs) and fonts (into any DC, see PlatFont.h); the
// previous object of that kind, nullptr on failure.
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ obj);
BOOL DeleteObject(HGDIOBJ obj);
// The screen's capabilities for any valid DC (BITSPIXEL, LOGPIXELSX/Y,
// HORZRES, VERTRES, VREFRESH, PLANES); 0 for unknown indexes or bad DCs.
int GetDeviceCaps(HDC hdc, int index);

// ---- Bitmaps ------------------------------------------------------------------------

// A bitmap in the format of the DC's pixels: the screen's (32: B, G, R, X;
// 24; 16: 5-6-5 or 5-5-5, see SetScreen16GreenBits) or the selected bitmap's.
HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height);
// A DIB section: validated header (biSize >= 40, width >= 1, height != 0,
// planes 1, bit count 1, 4, 8, 16, 24 or 32, BI_RGB or BI_BITFIELDS for 16
// and 32 bits, at most kMaxDibBytes), DIB_RGB_COLORS, no file mapping.
// *bits receives the zero-filled memory. nullptr (and *bits nullptr) on failure.
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits, void* section, DWORD offset);
COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color);  // the colour stored, or CLR_INVALID
COLORREF GetPixel(HDC hdc, int x, int y);                   // CLR_INVALID outside or without pixels

// ---- Blits ---------------------------------------------------------------------------

// SRCCOPY of Width x Height from (XSrc, YSrc) of Src to (X, Y) of Dest,
// clipped to both; formats are converted. FALSE for other operations or DCs
// without pixels.
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, DWORD rop);
// Packed DIB pixels to a DC, nearest-neighbour when the sizes differ; the
// source rectangle of a bottom-up DIB is measured from its bottom line, as in
// GDI. The number of scan lines, 0 on failure.
int StretchDIBits(HDC dest, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
                  int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop);

// ---- Regions ------------------------------------------------------------------------
// A region is a set of rectangles kept in canonical form (y-x bands, no
// overlaps, equal neighbouring bands merged), so one rectangle is SIMPLEREGION
// and the empty set NULLREGION. Results: RGN_ERROR (0) for bad handles or
// arguments. Region objects are freed with DeleteObject.

constexpr int RGN_ERROR = 0, NULLREGION = 1, SIMPLEREGION = 2, COMPLEXREGION = 3;
constexpr int RGN_AND = 1, RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4, RGN_COPY = 5;
constexpr DWORD RDH_RECTANGLES = 1;

// The 32-byte header of region data, followed by nCount RECTs.
struct RGNDATAHEADER {
  DWORD dwSize = sizeof(RGNDATAHEADER);
  DWORD iType = RDH_RECTANGLES;
  DWORD nCount = 0;
  DWORD nRgnSize = 0;  // bytes of the rectangles
  RECT rcBound;
};
struct RGNDATA {
  RGNDATAHEADER rdh;
  char Buffer[sizeof(RECT)];  // the first of nCount rectangles
};
static_assert(sizeof(RGNDATAHEADER) == 32);

// Swapped corners are ordered; an empty rectangle gives an empty region.
HRGN CreateRectRgn(int left, int top, int right, int bottom);
HRGN CreateRectRgnIndirect(const RECT* rect);
// dest = src1 op src2 (src2 unused by RGN_COPY); dest may be a source. The
// type of the result.
int CombineRgn(HRGN dest, HRGN src1, HRGN src2, int mode);
int OffsetRgn(HRGN region, int dx, int dy);  // coordinates saturate at the int range
BOOL PtInRegion(HRGN region, int x, int y);
BOOL RectInRegion(HRGN region, const RECT* rect);  // whether any part of rect is inside
BOOL EqualRgn(HRGN a, HRGN b);
int GetRgnBox(HRGN region, RECT* box);  // the type; an empty box for NULLREGION
// data nullptr: the size needed. Else the bytes written (header + rectangles),
// 0 when count is too small.
DWORD GetRegionData(HRGN region, DWORD count, RGNDATA* data);
// xform must be nullptr. Checks dwSize, iType and that nCount rectangles fit in
// count; empty rectangles are dropped, overlaps merged, rcBound not trusted.
HRGN ExtCreateRegion(const void* xform, DWORD count, const RGNDATA* data);

// The application clip region of a DC (a copy; nullptr removes it), in DC
// coordinates; drawing is clipped to it and, for a BeginPaint DC, to the
// update region. The type of the resulting clip (SIMPLEREGION without one).
int SelectClipRgn(HDC hdc, HRGN region);
// 1 and a copy in region when the DC has an application clip, 0 when it has
// none (region unchanged), -1 on failure.
int GetClipRgn(HDC hdc, HRGN region);
int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom);

// ---- Palettes -----------------------------------------------------------------------

HPALETTE CreatePalette(const LOGPALETTE* palette);  // 1 to 256 entries
// Copies up to Count entries from Start; the count copied (the palette's
// size when Entries is nullptr), 0 on failure.
UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries);

// ---- Extensions looked up by name ------------------------------------------------------

// What "msimg32.dll" offers: nothing yet, so "AlphaBlend" and
// "TransparentBlt" are nullptr and callers take their fallbacks.
void* GetMsimg32ProcAddress(const char* name);

// ---- Settings and checks for tests -----------------------------------------------------

// Green bits (5 or 6) of compatible bitmaps when the screen has 16 bits per
// pixel; 6 at start.
void SetScreen16GreenBits(int bits);
// GDI objects alive now (DCs, bitmaps, palettes, regions, fonts; stock objects not counted).
int LiveGdiObjectCount();

}  // namespace plat
