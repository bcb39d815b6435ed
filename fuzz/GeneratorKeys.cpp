// Generated-picture keys come back as picture names from shows and caches:
// any text parses without a fault, and a key written from what was parsed
// parses back to the same parameters. The bytes are also read as a contour
// curve record.
#include <cstddef>
#include <cstdint>

#include "ZmLib/Graphics/zmContours.h"
#include "ZmLib/Graphics/zmGeneratorCallbacks.h"
#include "ZmLib/Graphics/zmGeneratorKeys.h"
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
  GeneratedImageKind(text);

  for (const WideString& key : {text, kShadowKeyPrefix + text}) {
    TShadowParams p;
    ParseShadowKey(key, p);
    const WideString k1 = MakeShadowKey(p);
    TShadowParams q;
    ParseShadowKey(k1, q);
    Check(MakeShadowKey(q) == k1);
    Check(q.Name == p.Name);
  }
  for (const WideString& key : {text, kButtonKeyPrefix + text}) {
    TButtonKeyParams p;
    ParseButtonKey(key, p);
    TButtonKeyParams q;
    ParseButtonKey(MakeButtonKey(p), q);
    Check(q == p);
  }
  for (const WideString& key : {text, kMaskKeyPrefix + text}) {
    TMaskParams p;
    ParseMaskKey(key, p);
    Check(p.Shape == kMaskRoundRect || p.Shape == kMaskEllipse);
    const WideString k1 = MakeMaskKey(p);
    TMaskParams q;
    ParseMaskKey(k1, q);
    Check(MakeMaskKey(q) == k1);
  }

  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  if (size) s->Write(TWriteBuffer(data, size));
  s->SetPosition(0);
  TCurvesData c;
  // A refused record leaves the identity; an accepted one any table (points
  // need not run left to right, so a later one may overwrite an earlier one).
  if (!c.LoadFromStream(s.get()))
    for (int i = 0; i < 256; ++i) Check(c.GetValue(i) == i);
  s->SetPosition(0);
  c.ReadSizedString(s.get());
  return 0;
}
