// Relative-path resolution and "%NAME%" scanning over paths that shows and
// settings carry: the text is UTF-16 code units; a 0 unit splits base and path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ZmLib/Graphics/Video/_MyUtils.h"
#include "ZmLib/zmModules.h"

namespace {
zm::TModuleRunner* gModules = nullptr;

void Check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gModules = new zm::TModuleRunner(zm::JoinModules({zm::CoreModules()}));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zm;
  if (size > 1 << 14) return 0;
  WideString all;
  for (std::size_t i = 0; i + 1 < size; i += 2) all += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  std::size_t split = all.find(u'\0');
  WideString base = split == WideString::npos ? WideString() : all.substr(0, split);
  WideString path = split == WideString::npos ? all : all.substr(split + 1);

  WideString r = ResolveRelativePath(base, path);
  Check(r.size() <= base.size() + path.size() + 1);
  WideString t = r;
  SetTrailingBackslash(t, true);
  SetTrailingBackslash(t, false);

  std::int32_t pos = static_cast<std::int32_t>(size % 7) - 2;
  WideString token;
  std::int32_t last = pos;
  while (NextPercentToken(all, pos, token, (size & 1) != 0)) {
    Check(pos > last && pos <= static_cast<std::int32_t>(all.size()) + 1);
    Check(token.size() >= 2 && token.front() == u'%' && token.back() == u'%');
    last = pos;
  }
  Check(pos == static_cast<std::int32_t>(all.size()) + 1 && token.empty());
  return 0;
}
