// PNG data of any shape through the picture library the program loads at run
// time, by its four entry points: a picture is declined with the stream
// where it was, or opened and read (damaged data giving what decodes),
// never a crash, a hang or a huge allocation. Each input also goes in with
// its chunk checksums made right, so that mutations reach the decoder. The
// library is looked for where the build puts it, or at $ZM_PNGLIB.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Platform/PlatUtf8.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Graphics/zmImageLib.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

namespace {
// Larger pictures are opened but not decoded, to keep each run short.
constexpr std::int64_t kDecodePixels = std::int64_t(1) << 22;

std::uint32_t Crc32(const std::uint8_t* p, std::size_t n) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

std::vector<std::uint8_t> WithRightChecksums(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> b(data, data + size);
  for (std::size_t at = 8; at + 12 <= b.size();) {
    const std::uint32_t len = std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 |
                              std::uint32_t(b[at + 2]) << 8 | b[at + 3];
    if (len > b.size() - at - 12) break;
    const std::uint32_t crc = Crc32(&b[at + 4], len + 4);
    for (int k = 0; k < 4; ++k) b[at + 8 + len + std::size_t(k)] = std::uint8_t(crc >> (24 - 8 * k));
    at += 12 + std::size_t(len);
  }
  return b;
}

void Run(const std::uint8_t* data, std::size_t size) {
  using namespace zm;
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  if (size) s->Write(TWriteBuffer(data, size));
  s->SetPosition(size ? 1 : 0);
  const std::int64_t start = s->GetPosition();
  TRef<TBitmapStore> store = LoadImageLibStore(s.get(), u"fuzz.png", false, {});
  if (!store) {
    Check(s->GetPosition() == start);
    return;
  }
  auto* lib = static_cast<TImageLibStore*>(store.get());
  Check(lib->Record().BitsPerPixel == 24 || lib->Record().BitsPerPixel == 32);
  if (std::int64_t(store->Params.Width) * store->Params.Height > kDecodePixels) return;
  TBitmap* level = store->GetMipLevel(0, nullptr, nullptr);
  Check(level && level->Width() == store->Params.Width && level->Height() == store->Params.Height);
  store->GetMipLevel(2, nullptr, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::QuietDebugOutput();
  zmfuzz::StartModules({zm::CoreModules(), zm::GraphicsModules()});
  std::string path;
  const bool registered = (plat::GetEnv("ZM_PNGLIB", path) && !path.empty())
                              ? zm::RegisterImageLibrary(plat::FromUtf8(path), {u".png"})
                              : zm::RegisterImageLibrary(zm::kPngLibraryFile, {u".png"});
  Check(registered);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1 << 20)) return 0;
  Run(data, size);
  const std::vector<std::uint8_t> fixed = WithRightChecksums(data, size);
  Run(fixed.data(), fixed.size());
  return 0;
}
