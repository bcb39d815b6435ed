#pragma once
// Program resources compiled into the executable at build time ("RES:" names,
// built-in colour profiles, cursors). Each program and test binary defines
// ProgramResources() from its own table (see cmake/ZmResources.cmake).
#include <cstddef>
#include <span>
#include <string_view>

namespace plat {

struct TEmbeddedResource {
  const char* Type;  // "RCDATA", "CURSOR", "ICC" ...
  const char* Name;  // upper-cased; integer ids are written "#106"
  const unsigned char* Data;
  std::size_t Size;
};

std::span<const TEmbeddedResource> ProgramResources();

// Finds a resource by type and name, ignoring the letter case of the name.
const TEmbeddedResource* FindProgramResource(std::string_view type, std::string_view name);

}  // namespace plat
