#include "Platform/PlatResources.h"

namespace plat {

namespace {
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
}  // namespace

const TEmbeddedResource* FindProgramResource(std::string_view type, std::string_view name) {
  for (const TEmbeddedResource& r : ProgramResources()) {
    std::string_view n(r.Name);
    if (type != r.Type || n.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < n.size() && same; ++i) same = AsciiUpper(name[i]) == n[i];
    if (same) return &r;
  }
  return nullptr;
}

}  // namespace plat
