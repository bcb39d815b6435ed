// Pixel-format names of any shape, and conversions between the formats they
// make and the standard ones: every converter stays inside the pixels it is
// given.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

namespace {
void Run(zm::TPixelConverter* c, const zm::TPixelFormat* target, const zm::TPixelFormat* source, std::int32_t n,
         std::uint8_t fill) {
  // Buffers exactly as long as the pixels, so that AddressSanitizer sees any overrun.
  std::vector<std::uint8_t> in(std::size_t(source->BytesPerPixel) * std::size_t(n), fill);
  std::vector<std::uint8_t> out(std::size_t(target->BytesPerPixel) * std::size_t(n));
  c->Convert8(out.data(), 0, in.data(), 0, n);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::QuietDebugOutput();
  zmfuzz::StartModules({zm::CoreModules(), zm::GraphicsModules()});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zm;
  if (size > 4096) return 0;
  // Made outside the registry, which would keep every name for good.
  TRef<TCommonPixelFormat> f = MakeRef<TCommonPixelFormat>();
  f->ParseName(TByteString(data, size));
  Check(f->BytesPerPixel >= 1 && f->BitsPerPixel >= 0);
  Check(f->BytesPerPixel == (f->BitsPerPixel == 0 ? 1 : (f->BitsPerPixel - 1) / 8 + 1));
  std::int64_t bits = 0;
  for (const TPixelChannel& ch : f->Channels) {
    Check(ch.Width >= 0 && ch.Width <= kMaxChannelWidth);
    bits += ch.Width;
  }
  Check(bits == f->BitsPerPixel || f->BitsPerPixel == (1 << 24));
  if (f->BytesPerPixel > 1 << 16) return 0;

  const std::uint8_t fill = size ? data[0] : 0;
  for (TPixelFormat* other : {pfA8R8G8B8, pfB5G6R5, pfY8, pfR8G8B8}) {
    for (bool toOther : {false, true}) {
      TPixelFormat* target = toOther ? other : f.get();
      TPixelFormat* source = toOther ? f.get() : other;
      TRef<TPixelConverter> c;
      if (target->Packed || source->Packed) c = MakeRef<TBitConvertor>(target, source);
      else c = MakeRef<TByteConvertor>(target, source);
      Run(c.get(), target, source, 3, fill);
    }
  }
  return 0;
}
