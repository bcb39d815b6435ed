#pragma once
// The colour-management stand-in (Mscms and the screen profile): where
// colour profiles live and which profile the screen and the standard colour
// spaces use. This system has no monitor profile and no standard profile
// files, so those calls fail unless a test names one; the colour folder is
// "/usr/share/color/icc". Sizes and results follow the Win32 calls. Texts
// are UTF-16 with a terminating zero. Standard types only.
#include <string>

#include "Platform/User/PlatUserTypes.h"

namespace plat {

// pSize in bytes (terminator included). FALSE, with the size needed, when
// the buffer is missing or too small.
BOOL GetColorDirectoryW(const char16_t* machine, char16_t* buffer, DWORD* size);
BOOL GetStandardColorSpaceProfileW(const char16_t* machine, DWORD colorSpace, char16_t* buffer, DWORD* size);
// size in characters (terminator included); FALSE with the size needed
// when the buffer is too small, FALSE when the DC has no profile.
BOOL GetICMProfileW(HDC hdc, DWORD* size, char16_t* buffer);

// Settings for tests; an empty text means none (the folder: the default).
void SetColorDirectoryForTests(const std::u16string& folder);
void SetScreenProfileForTests(const std::u16string& path);
void SetStandardProfileForTests(const std::u16string& path);

}  // namespace plat
