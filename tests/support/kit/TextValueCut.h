#pragma once
// What a text object shows of a Text value, made the plain way: the whole
// value decoded, split at every line end and cut. The reference the
// streamed reading is compared with, in tests and in its fuzz target.
#include <cstddef>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/OruText.h"
#include "ZmLib/zmIni.h"

namespace zmtest {

inline std::vector<oru::WideString> WholeTextCut(const std::string& value) {
  const oru::WideString text = zm::DecodeIniValue(zm::TByteString(value));
  std::vector<oru::WideString> out(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c != u'\r' && c != u'\n') {
      out.back() += c;
      continue;
    }
    if (i + 1 < text.size() && (text[i + 1] == u'\r' || text[i + 1] == u'\n') && text[i + 1] != c) ++i;
    out.emplace_back();
  }
  oru::CutText(out);
  return out;
}

}  // namespace zmtest
