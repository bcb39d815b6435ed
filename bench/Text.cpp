// Text encodings, case-insensitive hash lookups and string sorting.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmByteString.h"
#include "ZmLib/zmLists.h"
#include "ZmLib/zmModules.h"
#include "ZmLib/zmStringList.h"

using namespace zm;

namespace {

// The core modules (fold tables) for the whole run.
const TModuleRunner& Modules() {
  static TModuleRunner modules(JoinModules({CoreModules()}));
  return modules;
}

// About 1 MB of text: mostly Latin with accents, some Cyrillic, CJK and emoji.
WideString SampleText() {
  const WideString pieces[] = {u"Slide show ", u"Überblick ", u"café ", u"Привет ", u"日本語 ", u"\U0001F600 ",
                               u"The quick brown fox "};
  WideString s;
  std::mt19937 rng(1);
  while (s.size() < 512 * 1024) s += pieces[rng() % std::size(pieces)];
  return s;
}

std::vector<WideString> RandomNames(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  const char16_t letters[] = u"abcdefghijklmnopqrstuvwxyzÄÖÜäöüéèABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::vector<WideString> v(n);
  for (WideString& s : v) {
    std::size_t len = 6 + rng() % 14;
    for (std::size_t i = 0; i < len; ++i) s += letters[rng() % (std::size(letters) - 1)];
  }
  return v;
}

// A hash list whose keys ignore letter case (as registries of names would).
class TNoCaseHashList : public THashList {
public:
  TNoCaseHashList() : THashList(251) {}
  std::uint32_t HashKey(const WideString& key) override { return WideHashNoCase(key); }
  bool SameKey(const WideString& a, const WideString& b) override { return SameText(a, b); }
};

}  // namespace

static void BM_Utf16ToUtf8(benchmark::State& state) {
  Modules();
  WideString text = SampleText();
  for (auto _ : state) {
    TByteString b = UTF8Encode(text);
    benchmark::DoNotOptimize(b.Data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size() * 2));
}
BENCHMARK(BM_Utf16ToUtf8);

static void BM_Utf8ToUtf16Strict(benchmark::State& state) {
  Modules();
  TByteString bytes = UTF8Encode(SampleText());
  for (auto _ : state) {
    WideString w = UTF8Decode(bytes);
    benchmark::DoNotOptimize(w.data());
  }
  state.SetBytesProcessed(state.iterations() * bytes.Length());
}
BENCHMARK(BM_Utf8ToUtf16Strict);

static void BM_Utf8ToUtf16Lenient(benchmark::State& state) {
  Modules();
  TByteString bytes = UTF8Encode(SampleText());
  for (auto _ : state) {
    WideString w = bytes.ToWide();
    benchmark::DoNotOptimize(w.data());
  }
  state.SetBytesProcessed(state.iterations() * bytes.Length());
}
BENCHMARK(BM_Utf8ToUtf16Lenient);

static void BM_Utf8ToUtf16Ascii(benchmark::State& state) {
  Modules();
  TByteString bytes(std::string(1 << 20, 'x'));
  for (auto _ : state) {
    WideString w = UTF8Decode(bytes);
    benchmark::DoNotOptimize(w.data());
  }
  state.SetBytesProcessed(state.iterations() * bytes.Length());
}
BENCHMARK(BM_Utf8ToUtf16Ascii);

// Lookups of every key, given in another letter case, in a list of 251
// buckets holding that many keys.
static void BM_HashListLookupNoCase(benchmark::State& state) {
  Modules();
  std::vector<WideString> keys = RandomNames(static_cast<std::size_t>(state.range(0)), 2);
  TRef<TNoCaseHashList> h = MakeRef<TNoCaseHashList>();
  for (const WideString& k : keys) h->GetItem(k);
  std::vector<WideString> probes;
  for (const WideString& k : keys) probes.push_back(UpperCase(k));
  for (auto _ : state) {
    int found = 0;
    for (const WideString& p : probes) found += h->Contains(p);
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(probes.size()));
}
BENCHMARK(BM_HashListLookupNoCase)->Arg(250)->Arg(10000);

// The case-insensitive hash of UTF-8 keys (byte-string registries).
static void BM_ByteStringHashNoCase(benchmark::State& state) {
  Modules();
  std::vector<TByteString> keys;
  for (const WideString& k : RandomNames(10000, 3)) keys.push_back(UTF8Encode(k));
  for (auto _ : state) {
    std::uint32_t x = 0;
    for (const TByteString& k : keys) x ^= k.HashNoCase();
    benchmark::DoNotOptimize(x);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(keys.size()));
}
BENCHMARK(BM_ByteStringHashNoCase);

// Sorting 100,000 strings in a string list, with and without letter case.
static void BM_SortStrings100k(benchmark::State& state) {
  Modules();
  bool ignoreCase = state.range(0) != 0;
  std::vector<WideString> names = RandomNames(100000, 4);
  for (auto _ : state) {
    state.PauseTiming();
    TRef<TStringList> l = MakeRef<TStringList>();
    l->SetIgnoreCase(ignoreCase);
    for (const WideString& n : names) l->Add(n);
    state.ResumeTiming();
    l->Sort();
    benchmark::DoNotOptimize(l->GetString(0));
    state.PauseTiming();
    l.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_SortStrings100k)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The callback introsort over the same strings held in a vector.
static void BM_IntroSortStrings100k(benchmark::State& state) {
  Modules();
  std::vector<WideString> names = RandomNames(100000, 4);
  for (auto _ : state) {
    std::vector<WideString> v = names;
    TSortContext c;
    InitSortCallbacks(
        c,
        [](void* d, std::int32_t i, std::int32_t j) {
          auto& s = *static_cast<std::vector<WideString>*>(d);
          return CompareStrings(s[static_cast<std::size_t>(i)], s[static_cast<std::size_t>(j)], true);
        },
        &v,
        [](void* d, std::int32_t i, std::int32_t j) {
          auto& s = *static_cast<std::vector<WideString>*>(d);
          std::swap(s[static_cast<std::size_t>(i)], s[static_cast<std::size_t>(j)]);
        },
        &v);
    IntroSortRange(c, 0, static_cast<std::int32_t>(v.size()) - 1);
    benchmark::DoNotOptimize(v.front());
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_IntroSortStrings100k)->Unit(benchmark::kMillisecond);
