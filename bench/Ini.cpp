// Ini documents the size of a large show description: loading, lookups and
// saving.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "ZmLib/zmIni.h"
#include "ZmLib/zmModules.h"

using namespace zm;

namespace {

const TModuleRunner& Modules() {
  static TModuleRunner modules(JoinModules({CoreModules()}));
  return modules;
}

// About 10 MB in the layout of a show description: options, slides with
// nested object blocks, the timeline and a large file map.
const std::string& ShowText() {
  static const std::string text = [] {
    std::string s = "\xEF\xBB\xBF[main]\r\n";
    for (int i = 0; i < 200; ++i) s += "opt_option" + std::to_string(i) + "=" + std::to_string(i * 7) + "\r\n";
    std::mt19937 rng(7);
    int slide = 1;
    while (s.size() < 9 * 1024 * 1024) {
      s += "[Slide" + std::to_string(slide) + "]\r\n";
      s += "time=" + std::to_string(slide * 5000) + "\r\ntransition=" + std::to_string(rng() % 120) + "\r\n";
      for (int o = 0; o < 8; ++o) {
        s += "object Image" + std::to_string(o) + ":Image\r\n";
        s += "  file=%effects%\\pictures\\photo_" + std::to_string(rng() % 100000) + ".jpg\r\n";
        s += "  left=" + std::to_string(rng() % 1920) + "\r\n  top=" + std::to_string(rng() % 1080) + "\r\n";
        s += "  width=640\r\n  height=480\r\n  angle=0.25\r\n  opacity=1\r\n";
        s += "  text=Caption with some words \\n and a second line\r\n";
        s += "  object Frame:Box\r\n    color=FF336699\r\n    border=2\r\n";
        s += "    object Key1:KeyFrame\r\n      time=0\r\n      x=0.5\r\n      y=0.5\r\n    end\r\n";
        s += "  end\r\nend\r\n";
      }
      s += "\r\n";
      ++slide;
    }
    s += "[Times]\r\n";
    for (int i = 1; i < slide; ++i) s += "slide" + std::to_string(i) + "=" + std::to_string(i * 5000) + "\r\n";
    s += "[FileMap]\r\n";
    while (s.size() < 10 * 1024 * 1024)
      s += "pictures\\photo_" + std::to_string(rng() % 1000000) + ".jpg=" + std::to_string(rng()) + "\r\n";
    return s;
  }();
  return text;
}

TRef<TMemoryStream> ShowStream() {
  TRef<TMemoryStream> m = MakeRef<TMemoryStream>();
  const std::string& s = ShowText();
  m->Write(TWriteBuffer(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
  return m;
}

}  // namespace

static void BM_LoadShowDescription(benchmark::State& state) {
  Modules();
  TRef<TMemoryStream> m = ShowStream();
  for (auto _ : state) {
    TRef<TIniFile> f = MakeRef<TIniFile>();
    m->SetPosition(0);
    if (!f->LoadFromStream(m.get())) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(f->Count());
    state.PauseTiming();  // freeing is measured on its own
    f = nullptr;
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * m->GetSize());
}
BENCHMARK(BM_LoadShowDescription)->Unit(benchmark::kMillisecond);

static void BM_FreeShowDescription(benchmark::State& state) {
  Modules();
  TRef<TMemoryStream> m = ShowStream();
  for (auto _ : state) {
    state.PauseTiming();
    TRef<TIniFile> f = MakeRef<TIniFile>();
    m->SetPosition(0);
    f->LoadFromStream(m.get());
    state.ResumeTiming();
    f = nullptr;
  }
}
BENCHMARK(BM_FreeShowDescription)->Unit(benchmark::kMillisecond);

static void BM_SaveShowDescription(benchmark::State& state) {
  Modules();
  TRef<TMemoryStream> m = ShowStream();
  m->SetPosition(0);
  TRef<TIniFile> f = MakeRef<TIniFile>();
  f->LoadFromStream(m.get());
  for (auto _ : state) {
    TRef<TMemoryStream> out = MakeRef<TMemoryStream>();
    f->SaveToStream(out.get(), true);
    benchmark::DoNotOptimize(out->GetSize());
  }
  state.SetBytesProcessed(state.iterations() * m->GetSize());
}
BENCHMARK(BM_SaveShowDescription)->Unit(benchmark::kMillisecond);

// 100,000 lookups of keys by section and name (letter case mixed), most of
// them found, in the loaded show description.
static void BM_Lookups100k(benchmark::State& state) {
  Modules();
  TRef<TMemoryStream> m = ShowStream();
  m->SetPosition(0);
  TRef<TIniFile> f = MakeRef<TIniFile>();
  f->LoadFromStream(m.get());
  TIniSection* fileMap = f->FindSection(u"FileMap");
  std::vector<std::pair<WideString, WideString>> queries;
  std::mt19937 rng(3);
  std::int32_t slides = f->SectionCount() - 3;
  while (queries.size() < 100000) {
    switch (rng() % 4) {
      case 0: queries.emplace_back(u"MAIN", u"OPT_OPTION" + WideString(1, char16_t(u'0' + rng() % 10))); break;
      case 1: {
        std::string n = std::to_string(1 + rng() % slides);
        queries.emplace_back(u"slide" + WideString(n.begin(), n.end()), u"Transition");
        break;
      }
      case 2: {
        const TByteString& name = fileMap->Get(static_cast<std::int32_t>(rng() % fileMap->Count()))->Name();
        queries.emplace_back(u"filemap", name.ToWide());
        break;
      }
      default: queries.emplace_back(u"Times", u"missing_key"); break;
    }
  }
  for (auto _ : state) {
    std::int64_t found = 0;
    for (const auto& [section, key] : queries) found += IniFind(f->FindSection(section), key) != nullptr;
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(queries.size()));
}
BENCHMARK(BM_Lookups100k)->Unit(benchmark::kMillisecond);
