// The parsers of ini values and parameter texts over byte strings: numbers,
// separated lists, lines and name/value pairs.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ZmLib/zmByteString.h"
#include "ZmLib/zmByteStringList.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::StartModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zm;
  if (size > 1 << 16) return 0;
  TByteString text(data, size);
  text.ToIntDef(0, kMaxCount32, 0);
  text.ToInt64Def(0, kMaxCount32, 0);
  text.ToFloatDef(0, kMaxCount32, 0);
  text.HexToIntDef(0, kMaxCount32, 0);
  text.ToBool();

  std::int32_t start = 0, len = 0, lines = 0;
  if (GetFirstLine(text, start, len)) {
    ++lines;
    while (GetNextLine(text, start, len)) {
      Check(start >= 0 && len >= 0 && start + len <= text.Length());
      ++lines;
    }
  }
  Check(lines <= text.Length());

  TCommaList list;
  MakeCommaList(text, ',', list);
  for (std::int32_t i = -1; i <= list.Count(); ++i) {
    std::int32_t s, l;
    if (list.GetBounds(i, s, l)) Check(s >= 0 && l > 0 && s + l <= text.Length());
    list.GetInt(i, 0);
    list.GetFloat(i, 0);
    list.GetWide(i);
  }

  TPListParser parser;
  parser.AddName("width");
  parser.AddName("height", 3);
  parser.AddName("name", 4);
  std::vector<TByteString> results;
  std::int32_t r = parser.Parse(text, results, ';', ':');
  Check(results.size() == 5);
  if (r < 0) Check(~r <= text.Length());
  return 0;
}
