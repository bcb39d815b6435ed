#include "OruLib2/OruClasses/OruShowServices.h"

#include <cstdint>
#include <vector>

#include "OruLib2/OruClasses/OruUnpack.h"
#include "ZmLib/zmStream.h"

namespace oru {

using zm::TRef;
using zm::TStream;

zm::TIniFile* ShowContainerDirectory(const TOruShowLocator* locator) {
  if (!locator || !locator->Accessor()) return nullptr;
  auto* packed = dynamic_cast<TPackedFileSource*>(locator->Accessor()->Source());
  if (!packed || !packed->Unpack() || !packed->Unpack()->Struc()) return nullptr;
  return packed->Unpack()->Struc()->Ini();
}

WideString ReadShowExeGUID(TFileAccessor* accessor) {
  if (!accessor) return {};
  std::vector<std::uint8_t> bytes;
  try {
    TRef<TStream> s = TRef<TStream>::Adopt(accessor->OpenFile(kExeGUIDEntry));
    if (!s) return {};
    const std::int64_t size = s->GetSize() - s->GetPosition();
    if (size <= 0 || size > kMaxExeGUIDSize) return {};
    bytes.resize(static_cast<std::size_t>(size));
    const std::int32_t got =
        s->Read(zm::TReadBuffer(bytes.data(), bytes.size()), static_cast<std::int32_t>(size), 0);
    if (got != size) return {};
  } catch (const zm::Exception&) {
    return {};  // a damaged entry identifies nothing
  }
  WideString text;
  if (bytes.size() >= 4) {
    const std::uint32_t len = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (std::uint32_t(bytes[3]) << 24);
    if (len == bytes.size() - 4 && len % 2 == 0) {
      for (std::size_t i = 4; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
      return text;
    }
  }
  for (std::uint8_t b : bytes) text.push_back(static_cast<char16_t>(b));
  return text;
}

zm::TRef<zm::TImage> RenderLoadErrorImage(const WideString& fileName, bool found) {
  return MakePlaceholderImage(fileName, found, true);
}

}  // namespace oru
