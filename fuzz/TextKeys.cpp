// Text keys come back from the show container as entry names: any name
// parses without a fault, and marked text decodes to what was marked.
#include <cstddef>
#include <cstdint>

#include "ZmLib/VectorGraphics/zmTextKeys.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::QuietDebugOutput();
  zmfuzz::StartModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zm;
  if (size > 1 << 13) return 0;
  // Two bytes a character, so that any code unit can occur.
  WideString text;
  for (std::size_t i = 0; i + 1 < size; i += 2) text.push_back(char16_t(data[i] | data[i + 1] << 8));
  TRef<TStringList> lines = MakeRef<TStringList>();
  TTextKeyParams p = DefaultTextKeyParams;
  ParseTextKey(text, *lines, p);
  ParseTextKey(u"Text: " + text, *lines, p);
  TVectorTextKeyParams v;
  ParseVectorTextKey(u"VectTxt2: " + text, *lines, v);
  const WideString vkey = MakeVectorTextKey(text);
  Check(vkey.rfind(kVectorTextKeyPrefix, 0) == 0);
  DecodeMarkedText(text);
  Check(DecodeMarkedText(EncodeMarkedText(text)) == text);
  // Lines with neither CR nor LF survive a key round trip.
  TRef<TStringList> one = MakeRef<TStringList>();
  WideString line;
  for (char16_t c : text)
    if (c != u'\r' && c != u'\n') line.push_back(c);
  if (!line.empty()) {
    one->Add(line);
    TTextKeyParams q = DefaultTextKeyParams;
    q.FontName = u"F";
    ParseTextKey(MakeTextKey(*one, q), *lines, p);
    Check(lines->GetCount() == 1 && lines->GetString(0) == line);
  }
  return 0;
}
