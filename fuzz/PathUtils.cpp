// Relative-path resolution, "%NAME%" scanning, folder macros, path
// variables and path parts over paths that shows and settings carry: the
// text is UTF-16 code units; a 0 unit splits base and path.
#include <cstddef>
#include <cstdint>

#include "OruLib2/OruClasses/OruFileAccess.h"
#include "ZmLib/_MyUtils.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

namespace {
oru::TPathVarTable* gTable = nullptr;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::StartModules();
  gTable = new oru::TPathVarTable(oru::DefaultPathVars());
  oru::RegisterPathVar(*gTable, u"%a%", u"%b%", true);
  oru::RegisterPathVar(*gTable, u"%b%", u"x%a%y", false);
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

  // Each macro is replaced once at most: the text cannot grow without end.
  WideString macros = path;
  bool replaced = oru::ExpandFolderMacros(macros, (size & 2) != 0);
  Check(replaced || macros == path);
  WideString lastPart = oru::ExtractLastPathPart(path);
  WideString folder = oru::ExtractFolderPath(path, true);
  Check(folder.size() + lastPart.size() <= path.size());
  Check(path.compare(0, folder.size(), folder) == 0);
  Check(oru::ExtractFolderPath(path, false).size() + (folder.empty() ? 0 : 1) == folder.size());
  if (path.size() < 256) {
    WideString expanded = oru::ExpandPathVars(*gTable, path);
    Check(path.find(u'%') != WideString::npos || expanded == path);
  }
  return 0;
}
