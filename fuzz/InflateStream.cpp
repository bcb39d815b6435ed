// Raw deflate read through a window (and optionally the cipher) by the
// inflate stream in random pieces with random seeks, compared with the
// one-call inflater over the same bytes.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/zmInflate.h"
#include "OruLib2/OruClasses/zmStreamUtils.h"

using namespace zm;
using namespace oru;

namespace {

constexpr std::int64_t kOutputCap = 8 << 20;

struct TRng {
  std::uint32_t s;
  std::uint32_t Next() {
    s = s * 1103515245u + 12345u;
    return s >> 8;
  }
};

// The memory source, a window over it from Offset, and the cipher when asked.
struct TChain {
  TRef<TMemoryStream> Memory = MakeRef<TMemoryStream>();
  TRef<TStream> Top;
  TChain(const std::uint8_t* data, std::size_t size, std::int64_t offset, bool crypt) {
    Memory->Write(TWriteBuffer(data, size));
    std::int64_t o = std::min<std::int64_t>(offset, static_cast<std::int64_t>(size));
    TRef<TStream> w = TRef<TStream>::Adopt(
        new TPartialStream(Memory.get(), false, o, static_cast<std::int64_t>(size) - o));
    if (crypt) Top = TRef<TStream>::Adopt(new TCryptStream(w.Detach(), TByteString("5E2C8A0F"), true));
    else Top = w;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  TRng rng{data[0]};
  bool crypt = data[1] & 1;
  bool seeks = data[1] & 2;
  std::int64_t offset = (data[1] >> 2) & 7;
  data += 2;
  size -= 2;

  std::string viaStream;
  bool streamOk = true;
  try {
    TChain chain(data, size, offset, crypt);
    auto z = MakeRef<TInflateStream>(chain.Top.get(), -1);
    std::vector<std::uint8_t> buf(70000);
    for (int round = 0; round < 100000; ++round) {
      if (seeks && rng.Next() % 8 == 0) {
        std::int64_t target = z->GetPosition() + static_cast<std::int64_t>(rng.Next() % 20000) - 2000;
        try {
          z->SetPosition(target);
        } catch (const EStreamError&) {
        }
        viaStream.clear();  // positions moved: only the last pass from 0 is compared
        z->SetPosition(0);
      }
      std::int32_t want = 1 + static_cast<std::int32_t>(rng.Next() % 70000);
      std::int32_t got = z->Read(buf, want, 0);
      if (got < 0 || got > want) __builtin_trap();
      if (got == 0) break;
      viaStream.append(reinterpret_cast<const char*>(buf.data()), static_cast<std::size_t>(got));
      if (static_cast<std::int64_t>(viaStream.size()) > kOutputCap) return 0;
    }
  } catch (const EStreamError&) {
    streamOk = false;
  }

  bool inflatorOk = true;
  std::string viaInflator;
  try {
    TChain chain(data, size, offset, crypt);
    auto out = MakeRef<TMemoryStream>();
    auto inflator = MakeRef<TInflator>();
    inflator->Inflate(chain.Top.get(), out.get());
    viaInflator.assign(reinterpret_cast<const char*>(out->Memory()), static_cast<std::size_t>(out->GetSize()));
  } catch (const EStreamError&) {
    inflatorOk = false;
  }
  if (streamOk != inflatorOk) __builtin_trap();
  if (streamOk && viaStream != viaInflator) __builtin_trap();
  return 0;
}
