#pragma once
// Small helpers of the imaging tests: assertion messages, and bitmaps read
// and written as plain bytes or drawn as text.
#include <cstdint>
#include <string>
#include <vector>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"

namespace zmtest {

// The message of the assertion (the silent exception) that f raises.
template <class F>
std::string AssertionOf(F f) {
  try {
    f();
  } catch (const zm::EAbort& e) {
    return e.Message();
  }
  return "(no assertion)";
}

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Every pixel byte of a TSysBitmap, row after row.
inline std::vector<std::uint8_t> BytesOf(const zm::TSysBitmap& b) {
  std::vector<std::uint8_t> out;
  const std::size_t row = std::size_t(b.Width()) * std::size_t(b.BytesPerPixel());
  for (std::int32_t y = 0; y < b.Height(); ++y) out.insert(out.end(), b.ScanLine(y), b.ScanLine(y) + row);
  return out;
}

// A TSysDirectWrapper of the format holding the bytes (row after row).
inline zm::TRef<zm::TSysBitmap> BitmapOf(const char* format, std::int32_t w, std::int32_t h,
                                         const std::vector<std::uint8_t>& bytes) {
  zm::TRef<zm::TSysBitmap> b = zm::CreateSysBitmap(w, h, zm::FindPixelFormat(format));
  const std::size_t row = std::size_t(w) * std::size_t(b->BytesPerPixel());
  for (std::int32_t y = 0; y < h && (std::size_t(y) + 1) * row <= bytes.size(); ++y)
    std::copy(bytes.begin() + std::ptrdiff_t(std::size_t(y) * row), bytes.begin() + std::ptrdiff_t((y + 1) * row),
              b->ScanLine(y));
  return b;
}

// The alpha bytes of a 32-bit bitmap as rows of text: '.' for 0, '#' for 255, '+' between.
inline std::vector<std::string> AlphaPicture(zm::TDirectBitmap& b) {
  std::vector<std::string> rows(std::size_t(b.Height()));
  for (std::int32_t y = 0; y < b.Height(); ++y)
    for (std::int32_t x = 0; x < b.Width(); ++x) {
      const std::uint8_t a = std::uint8_t(b.Row32(y)[x] >> 24);
      rows[std::size_t(y)] += a == 0 ? '.' : a == 255 ? '#' : '+';
    }
  return rows;
}

}  // namespace zmtest
