#pragma once
// What the objects of a show's slides take once built, against the memory
// the player may take: a show that could not be held is refused before any
// of its slides is built. Pictures are not counted: they are read at the
// size they are drawn, whatever the file's.
#include <cstdint>

#include "OruLib2/OruClasses/zmOruSource2.h"
#include "ZmLib/zmTypes.h"

namespace oru {

// An object of a slide once built: its record, its properties and key
// frames, and its lines of the description (a box takes about 3 KB, a
// picture or a caption with its key point about 8 KB: two objects).
inline constexpr std::int64_t kObjectRecordBytes = 4096;

// The most the player may take: 2 GB, or half the machine's memory where
// that is less; ZM_MEMORY_LIMIT_MB, when set to a number of MB, instead.
std::int64_t MemoryLimitBytes();

struct TShowMemory {
  std::int64_t Bytes = 0;         // the objects of the heaviest slides held at once
  std::int32_t Slide = -1;        // the heaviest slide (0-based); -1: none
  std::int64_t SlideObjects = 0;  // its objects, key points counted
};

// The memory of the objects of the Held heaviest slides: the slides the
// loader holds at once may be any of the show's (a shuffled order, a jump).
// Counted in the description without building a slide.
TShowMemory ShowObjectMemory(TOruSource* source, std::int32_t held);

// Why the show cannot be held, for the user; empty when it fits Limit.
WideString ShowMemoryRefusal(TOruSource* source, std::int32_t held, std::int64_t limit);

// Why the show cannot be held once the player passed the limit: with Slide
// (0-based) it would take Bytes (what it holds besides included).
WideString MemoryRefusalText(std::int32_t slide, std::int64_t bytes, std::int64_t limit);

}  // namespace oru
