#pragma once
// A memory DC with a font of the private test set selected, given back at
// the end of the scope.
#include <algorithm>
#include <string_view>

#include "Platform/Gdi/PlatFont.h"

namespace plattest {

struct TFontDc {
  plat::HDC Dc = nullptr;
  plat::HFONT Font = nullptr;
  plat::HGDIOBJ Old = nullptr;
  explicit TFontDc(std::u16string_view face, int ppem = 16) {
    plat::LOGFONTW log;
    log.lfHeight = -ppem;
    std::copy(face.begin(), face.end(), log.lfFaceName);
    Font = plat::CreateFontIndirectW(&log);
    Dc = plat::CreateCompatibleDC(nullptr);
    Old = plat::SelectObject(Dc, reinterpret_cast<plat::HGDIOBJ>(Font));
  }
  ~TFontDc() {
    plat::SelectObject(Dc, Old);
    plat::DeleteDC(Dc);
    plat::DeleteObject(reinterpret_cast<plat::HGDIOBJ>(Font));
  }
  TFontDc(const TFontDc&) = delete;
  TFontDc& operator=(const TFontDc&) = delete;
};

}  // namespace plattest
