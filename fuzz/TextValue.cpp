// The Text value of a text object: only what the cut keeps is read, and
// what is read is what decoding, splitting and cutting the whole value
// gives, whatever its bytes (escapes, line ends of every kind, also encoded
// overlong, bad and cut UTF-8, long runs of stray continuation bytes, lines
// past their cut).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruText.h"
#include "OruLib2/OruClasses/OruTextBitmapStore.h"
#include "ZmLib/zmIni.h"
#include "fuzz/FuzzCommon.h"
#include "tests/support/kit/TextValueCut.h"

using oru::WideString;
using zmfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::StartModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1 << 20) return 0;
  const std::string value(reinterpret_cast<const char*>(data), size);
  std::vector<WideString> read = oru::ParseTextValue(zm::TByteString(value));
  Check(!read.empty() && read.size() <= oru::kMaxTextLines);
  for (const WideString& line : read) Check(line.size() <= oru::kMaxTextLineLength + 1);
  oru::CutText(read);
  Check(read == zmtest::WholeTextCut(value));
  return 0;
}
