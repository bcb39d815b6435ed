#include "OruLib2/OruViewer/OruMemoryBudget.h"

#include <algorithm>
#include <vector>

#include "Platform/PlatSystem.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/zmIni.h"

namespace oru {

namespace {

constexpr std::int64_t kMB = 1024 * 1024;
constexpr std::int64_t kMostBytes = 2048 * kMB;

// "1.5 GB", "300 MB".
WideString Amount(std::int64_t bytes) {
  if (bytes >= 1024 * kMB) return zm::FloatToStrDigits(double(bytes) / double(1024 * kMB), 1) + u" GB";
  return zm::IntToStr((bytes + kMB - 1) / kMB) + u" MB";
}

}  // namespace

std::int64_t MemoryLimitBytes() {
  const std::int64_t mb = plat::GetEnvNumber("ZM_MEMORY_LIMIT_MB");
  if (mb >= 0) return mb * kMB;
  const std::int64_t machine = plat::PhysicalMemoryBytes();
  return machine > 0 ? std::min(kMostBytes, machine / 2) : kMostBytes;
}

TShowMemory ShowObjectMemory(TOruSource* source, std::int32_t held) {
  TShowMemory m;
  if (!source || held < 1) return m;
  const std::int32_t count = source->SlideCount();
  // The heaviest Held counts, lightest first.
  std::vector<std::int64_t> heaviest;
  for (std::int32_t i = 0; i < count; ++i) {
    const zm::TIniSection* section = source->SlideSection(i);
    const std::int64_t objects = section ? section->ObjectCountDeep() : 0;
    if (objects > m.SlideObjects || m.Slide < 0) {
      m.Slide = i;
      m.SlideObjects = objects;
    }
    if (std::int32_t(heaviest.size()) < held) {
      heaviest.insert(std::upper_bound(heaviest.begin(), heaviest.end(), objects), objects);
    } else if (objects > heaviest.front()) {
      heaviest.erase(heaviest.begin());
      heaviest.insert(std::upper_bound(heaviest.begin(), heaviest.end(), objects), objects);
    }
  }
  for (const std::int64_t n : heaviest) m.Bytes += n * kObjectRecordBytes;
  return m;
}

WideString ShowMemoryRefusal(TOruSource* source, std::int32_t held, std::int64_t limit) {
  const TShowMemory m = ShowObjectMemory(source, held);
  if (m.Bytes <= limit) return {};
  return u"The show has more objects than the player can hold: slide " + zm::IntToStr(std::int64_t(m.Slide) + 1) +
         u" has " + zm::IntToStr(m.SlideObjects) + u" objects, and the slides held at once would take about " +
         Amount(m.Bytes) + u", more than the " + Amount(limit) + u" the player may take";
}

WideString MemoryRefusalText(std::int32_t slide, std::int64_t bytes, std::int64_t limit) {
  return u"The show takes more memory than the player can hold: with slide " + zm::IntToStr(std::int64_t(slide) + 1) +
         u" it would take about " + Amount(bytes) + u", more than the " + Amount(limit) + u" the player may take";
}

}  // namespace oru
