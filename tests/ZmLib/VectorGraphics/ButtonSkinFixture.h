#pragma once
// A button skin made for the tests: three 12 x 6 pictures (one per state)
// written as 32-bit BMP files with the skin's ini file into a temporary
// folder, and the picture loader the slide host would hand to a producer
// host, reading them back. Each picture pixel tells where it came from:
// blue = x * 16, green = y * 32, red = 10 + state * 80, alpha = 192 + x.
//
// The nine parts: corners 3 x 2, edges and centre between them, so the
// middle span of a face of width W is columns 3..W-4 and rows 2..3.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/VectorGraphics/zmButtonProducer.h"
#include "tests/support/TempDir.h"

namespace zmtest {

constexpr std::int32_t kSkinW = 12, kSkinH = 6;
inline const char* const kStateFiles[3] = {"normal.bmp", "hover.bmp", "click.bmp"};

inline std::uint32_t SkinPixel(std::int32_t state, std::int32_t x, std::int32_t y) {
  return std::uint32_t(192 + x) << 24 | std::uint32_t(10 + state * 80) << 16 | std::uint32_t(y * 32) << 8 |
         std::uint32_t(x * 16);
}

// The picture column a face column of Width shows.
inline std::int32_t SkinColumn(std::int32_t x, std::int32_t width) {
  return x < 3 ? x : x >= width - 3 ? x - (width - kSkinW) : 3;
}

inline void PutLE(std::string& s, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += char((v >> (8 * i)) & 0xFF);
}

// A top-down 32-bit BI_RGB BMP of the pixels of F(x, y).
template <class F>
std::string Bmp32(std::int32_t w, std::int32_t h, F f) {
  std::string s = "BM";
  PutLE(s, std::uint32_t(54 + w * h * 4), 4);
  PutLE(s, 0, 4);
  PutLE(s, 54, 4);
  PutLE(s, 40, 4);
  PutLE(s, std::uint32_t(w), 4);
  PutLE(s, std::uint32_t(-h), 4);
  PutLE(s, 1, 2);
  PutLE(s, 32, 2);
  for (int i = 0; i < 6; ++i) PutLE(s, i == 1 ? std::uint32_t(w * h * 4) : 0, 4);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) PutLE(s, f(x, y), 4);
  return s;
}

inline std::uint32_t GetLE(const std::string& s, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= std::uint32_t(std::uint8_t(s[at + std::size_t(i)])) << (8 * i);
  return v;
}

// Reads back what Bmp32 writes; nil for anything else.
inline zm::TRef<zm::TImage> ReadBmp32(const std::string& s, const zm::WideString& name) {
  if (s.size() < 54 || s[0] != 'B' || s[1] != 'M' || GetLE(s, 28, 2) != 32) return nullptr;
  const auto w = std::int32_t(GetLE(s, 18, 4)), h = -std::int32_t(GetLE(s, 22, 4));
  if (w < 1 || h < 1 || s.size() < 54 + std::size_t(w) * std::size_t(h) * 4) return nullptr;
  zm::TRef<zm::TDirectBitmap> b = zm::MakeRef<zm::TDirectBitmap>(w, zm::FindPixelFormat(zm::PF_A8R8G8B8), h);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) b->Row32(y)[x] = GetLE(s, 54 + std::size_t(y * w + x) * 4, 4);
  return zm::GetSysBitmapHook(b.get(), false, name);
}

inline std::string PartLine(const char* key, const char* file, int l, int t, int r, int b) {
  return std::string(key) + "=" + file + "," + std::to_string(l) + "," + std::to_string(t) + "," + std::to_string(r) +
         "," + std::to_string(b) + "\r\n";
}

inline std::string SkinIni(const char* textParams =
                               "[TextParams]\r\nColor=#FF8000\r\nBtnOffset=1.5\r\n"
                               "BtnMinWidth=40\r\nFiltering=Bilinear\r\n") {
  const char* sections[3] = {"NormalState", "HoverState", "ClickState"};
  std::string ini;
  for (int s = 0; s < 3; ++s) {
    const char* f = kStateFiles[s];
    ini += std::string("[") + sections[s] + "]\r\n";
    ini += PartLine("LeftTop", f, 0, 0, 3, 2) + PartLine("Top", f, 3, 0, 9, 2) + PartLine("RightTop", f, 9, 0, 12, 2) +
           PartLine("Right", f, 9, 2, 12, 4) + PartLine("RightBottom", f, 9, 4, 12, 6) +
           PartLine("Bottom", f, 3, 4, 9, 6) + PartLine("LeftBottom", f, 0, 4, 3, 6) + PartLine("Left", f, 0, 2, 3, 4) +
           PartLine("Center", f, 3, 2, 9, 4);
  }
  return ini + textParams;
}

// A skins folder: Skin(name) writes a complete skin under it.
class TSkinFolder {
 public:
  void Skin(const std::string& skin) {
    for (int s = 0; s < 3; ++s)
      dir_.Write(skin + "/" + kStateFiles[s],
                 Bmp32(kSkinW, kSkinH, [s](std::int32_t x, std::int32_t y) { return SkinPixel(s, x, y); }));
    dir_.Write(skin + "/skin.ini", SkinIni());
  }
  void Write(const std::string& relative, const std::string& content) { dir_.Write(relative, content); }
  void Remove(const std::string& relative) { std::filesystem::remove(dir_.Path() / relative); }
  zm::WideString IniName(const std::string& skin) const { return dir_.Wide(skin + "/skin.ini"); }

  // The slide host's loader: "<skin>\<file>" under the folder; counts its calls.
  zm::ButtonPictureLoader Loader() {
    return [this](const zm::WideString& name) -> zm::TRef<zm::TImage> {
      ++Loads;
      std::string path;
      for (char16_t c : name) path += c == u'\\' ? '/' : char(c);
      std::ifstream in(dir_.Path() / path, std::ios::binary);
      if (!in) return nullptr;
      const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      return ReadBmp32(data, name);
    };
  }

  std::atomic<int> Loads{0};

 private:
  TTempDir dir_;
};

}  // namespace zmtest
