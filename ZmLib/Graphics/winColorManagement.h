#pragma once
// Where the system keeps colour profiles and which one the monitor uses:
// the colour-management library (looked up on first use; a failed look-up
// is remembered), the cached colour folder, and the monitor-profile path
// that start-up reads through MonitorProfilePathHook.
#include <cstdint>
#include <vector>

#include "ZmLib/zmTypes.h"

namespace zm {

// The whole file through the ReadFile hook; empty when it cannot be opened
// or is larger than kMaxProfileFileSize.
constexpr std::int64_t kMaxProfileFileSize = 64 << 20;
std::vector<std::uint8_t> LoadFileToBytes(const WideString& fileName);

// The system colour folder, always ending in "\"; empty when the library or
// the function is missing or the call fails. Asked once and cached.
WideString GetColorDirectory();
// True when Path names an existing file; otherwise the colour folder joined
// with Path is taken when that exists; false when neither does.
bool ResolveProfilePath(WideString& path);
// The standard profile of a colour space through the library; false when
// the function is missing or fails. Size in bytes, as the library counts.
bool GetStandardColorSpaceProfile(const char16_t* machine, std::uint32_t colorSpace, char16_t* buffer,
                                  std::uint32_t& size);
// Colour space 0: the screen's profile first; then the standard profile of
// the colour space. Path is empty (false) when neither names an existing file.
bool GetColorSpaceProfilePath(std::uint32_t colorSpace, WideString& path);

// For tests: behave as if the colour-management library were missing, or
// look it up again (the cached folder is forgotten either way).
void SetColorLibraryMissingForTests(bool missing);

void InitColorManagement();
void FiniColorManagement();

}  // namespace zm
