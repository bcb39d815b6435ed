#pragma once
// The colour profile embedded in a JPEG file: the APP2 segments marked
// "ICC_PROFILE" before the first scan, joined in the order of their
// sequence numbers. Segments of other kinds are skipped; a profile whose
// chunks are incomplete or inconsistent is not taken (it would be cut).
// Streams larger than 100 MiB are not searched. Faults of the marker
// sequence are logged and end the search with what was found before them;
// nothing is raised for bad data.
#include <cstdint>
#include <vector>

#include "ZmLib/zmStream.h"

namespace zm {

constexpr std::int64_t kMaxICCSearchSize = 104857600;

// The profile bytes, empty when there is none. Reads from the stream's
// position (the start of the JPEG data) and leaves the position anywhere.
std::vector<std::uint8_t> ExtractJpegICCProfile(TStream* stream);

}  // namespace zm
