// The text decoders on outside bytes: lenient and strict UTF-8, UTF-16 with
// broken surrogates, code pages, and the comparisons and hashes over them.
#include <cstddef>
#include <cstdint>
#include <span>

#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Text/zmTextModules.h"
#include "ZmLib/Text/zmWideStringUtils.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmByteString.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // the assertions of the strict decoder are expected here: keep them quiet
  zmfuzz::QuietDebugOutput();
  zmfuzz::StartModules({zm::CoreModules(), zm::TextModules()});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zm;
  if (size > 1 << 16) return 0;
  TByteString bytes(data, size);
  std::span<const std::uint8_t> span(data, size);

  // lenient decoding never fails, and agrees with the hashes of its result
  WideString wide = bytes.ToWide();
  std::int32_t pos = 0;
  while (pos < bytes.Length()) {
    std::int32_t before = pos;
    DecodeUTF8Char(bytes.Data(), bytes.Length() - 1, pos);
    Check(pos > before);
  }
  bytes.Hash();
  bytes.HashNoCase();
  bytes.CompareWideText(wide);
  bytes.CompareText(TByteString(wide.empty() ? std::string() : plat::ToUtf8(wide)));

  // strict decoding either decodes or fails its assertion
  try {
    WideString strict = UTF8Decode(bytes);
    // an over-long four-byte form counts two units but decodes to one
    Check(UTF16Count(span, 0, static_cast<std::int32_t>(size) - 1) >= static_cast<std::int32_t>(strict.size()));
  } catch (const EAbort&) {
  }

  // the bytes read as UTF-16: the encoder's form decodes back exactly
  WideString units(size / 2, u'\0');
  for (std::size_t i = 0; i + 1 < size; i += 2) units[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  TByteString encoded = UTF8Encode(units);
  Check(encoded.Length() == UTF8Length(units));
  Check(UTF8Decode(encoded) == units);
  Check(encoded.HashNoCase() == WideHashNoCase(units));
  Check(encoded.Hash() == WideHash(units));
  Check(encoded.CompareWide(units) == 0);
  Check(plat::FromUtf8(plat::ToUtf8(units)).size() <= units.size() + 1);
  CaseFold(units);
  UpperCase(units);
  WideLowerCaseCopy(units);
  Check(WideSameText(units, units));
  WideCompareText(units, 1, -1, wide, 1, -1);

  // code pages chosen by the first byte
  static const std::uint32_t kPages[] = {CP_ACP, CP_OEMCP, 1250, 1251, 1252, 1253, 932, 936, 949, 950, CP_UTF8, 65000};
  if (size > 0) {
    WideString s;
    AnsiRangeToWide(span, 1, s, kPages[data[0] % std::size(kPages)], static_cast<std::int32_t>(size));
  }
  return 0;
}
