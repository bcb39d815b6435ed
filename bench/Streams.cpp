#include <benchmark/benchmark.h>

#include <vector>

#include "ZmLib/zmStream.h"

using namespace zm;

// Typed little-endian writes and reads through the memory stream.
static void BM_MemoryStreamTypedWriteRead(benchmark::State& state) {
  for (auto _ : state) {
    TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
    for (int i = 0; i < 100000; ++i) s->WriteInteger(i);
    s->SetPosition(0);
    std::int64_t sum = 0;
    for (int i = 0; i < 100000; ++i) sum += s->ReadInteger();
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * 800000);
}
BENCHMARK(BM_MemoryStreamTypedWriteRead);

// Copy between streams through the 32 KB buffer.
static void BM_StreamCopy(benchmark::State& state) {
  TRef<TMemoryStream> src = MakeRef<TMemoryStream>();
  std::vector<std::uint8_t> block(1 << 20, 0x5A);
  for (int i = 0; i < 16; ++i) src->Write(block);
  for (auto _ : state) {
    TRef<TMemoryStream> dst = MakeRef<TMemoryStream>();
    src->SetPosition(0);
    dst->TStream::CopyFrom(src.get(), src->GetSize());
    benchmark::DoNotOptimize(dst->GetSize());
  }
  state.SetBytesProcessed(state.iterations() * src->GetSize());
}
BENCHMARK(BM_StreamCopy);
