// A decoder plug-in as a hostile show would carry it: a real library of
// this system with the five plug-in functions, whose constructor runs as
// soon as anything loads it and leaves the file that ZM_SHOW_CODE_RAN names.
#include <cstdint>
#include <cstdlib>
#include <fstream>

#define CANARY_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

__attribute__((constructor)) void Ran() {
  const char* mark = std::getenv("ZM_SHOW_CODE_RAN");
  if (mark && *mark) std::ofstream(mark) << "code from a show ran\n";
}

}  // namespace

CANARY_EXPORT std::int32_t GetMediaInfo(void*, const void*, std::int32_t*, std::int32_t*, void*) { return 0; }
CANARY_EXPORT void* CreateDecoder(void*, const void*, void*, void*, std::int32_t) { return nullptr; }
CANARY_EXPORT void DestroyDecoder(void*) {}
CANARY_EXPORT std::int32_t Decode(void*) { return 0; }
CANARY_EXPORT std::int32_t SetPosition(void*, std::int32_t*) { return 0; }
