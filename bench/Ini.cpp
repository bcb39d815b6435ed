// Ini documents the size of a large show description: loading, lookups and
// saving; and the memory a description of 100,000 slides takes once opened
// (its sections read when first looked into) and once read whole.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "OruLib2/OruPack/IniText.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmModules.h"

using namespace zm;

namespace {

const TModuleRunner& Modules() {
  static TModuleRunner modules(JoinModules({CoreModules()}));
  return modules;
}

// The description of "MeasurePlayer opening-shows": slides of one colour,
// each entering with a cross-fade, 3 s apart.
std::string SolidSlidesText(int count) {
  oru::TIniText d;
  d.Section("main").Key("OruVersion", "5.0.1").Key("MinorVersion", 13).Key("projectname", "Opening");
  d.Key("opt_scr_width", 1280).Key("opt_scr_height", 720).Key("opt_scr_full", 0).Key("opt_withoutborder", 1);
  d.Key("opt_repeat", "close").Key("opt_pausewheninactive", 0).Key("ColorManagement", "");
  int guid = 0;
  auto nextGuid = [&guid] {
    char s[40];
    std::snprintf(s, sizeof s, "{5A0E93C1-2B7D-4E58-A1F3-%012X}", ++guid);
    return std::string(s);
  };
  d.Object("TheEffect", "AnEffect").Key("GUID", nextGuid()).Key("time", 500);
  d.Object("dissolve", "dissolve").Key("GUID", nextGuid()).Key("caption", "fade").Key("checked", 1);
  d.Key("group", "GroupBasic").Key("stdidx", 2).Key("smoothline", "0").End().End();
  d.Section("Times").Key("opt_slidescount", count);
  for (int i = 1; i <= count; ++i) d.Key("opt_synchpos" + std::to_string(i), i * 3000LL);
  for (int i = 1; i <= count; ++i) {
    char color[16];
    std::snprintf(color, sizeof color, "0x%06X", unsigned(i * 2654435761u) & 0xFFFFFFu);
    d.Section("Slide" + std::to_string(i)).Key("slideid", "s" + std::to_string(i)).Key("bstyle", 1).Key("bcolor", color);
    d.Object("TheEffect", "AnEffect").Key("GUID", nextGuid()).Key("ref", i == 1 ? "quick" : "dissolve");
    d.Key("time", i == 1 ? 0 : 500).End();
  }
  return d.Bytes();
}

// The resident size of this process in bytes.
double ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  double pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096.0;
}

// What the player reads of a description to its first frame: the options,
// the slide times, the first slides.
void ReadAsOpened(const TIniFile& f) {
  benchmark::DoNotOptimize(f.ReadInteger(u"main", u"opt_scr_width", 0));
  const TIniSection* times = f.FindSection(u"Times");
  std::vector<TIniItem*> keys;
  if (times) times->FindIndexedRange(u"opt_synchpos", times->Count(), keys);
  for (const char16_t* slide : {u"Slide1", u"Slide2", u"Slide3"})
    benchmark::DoNotOptimize(IniFindObject(f.FindSection(slide), u"TheEffect"));
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

// The memory of a 100,000-slide description (19 MB of text), opened as the
// player opens it and then read whole: the growth of the resident size, in
// MB and over the text's size. One pass each, first in the program, so that
// nothing freed before is reused.
static void BM_SolidSlidesDescriptionMemory(benchmark::State& state) {
  Modules();
  const std::string text = SolidSlidesText(100000);
  for (auto _ : state) {
    const double before = ResidentBytes();
    TRef<TIniFile> f = MakeRef<TIniFile>();
    f->LoadFromText(TByteString(text));
    ReadAsOpened(*f);
    const double opened = ResidentBytes() - before;
    for (std::int32_t i = 0; i < f->SectionCount(); ++i) benchmark::DoNotOptimize(f->Section(i)->Count());
    const double whole = ResidentBytes() - before;
    state.counters["text_MB"] = double(text.size()) / 1e6;
    state.counters["opened_MB"] = opened / 1e6;
    state.counters["opened_x_text"] = opened / double(text.size());
    state.counters["whole_MB"] = whole / 1e6;
    state.counters["whole_x_text"] = whole / double(text.size());
  }
}
BENCHMARK(BM_SolidSlidesDescriptionMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

// Loading the same description and reading what the player reads to its
// first frame.
static void BM_OpenSolidSlidesDescription(benchmark::State& state) {
  Modules();
  const std::string text = SolidSlidesText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    TRef<TIniFile> f = MakeRef<TIniFile>();
    f->LoadFromText(TByteString(text));
    ReadAsOpened(*f);
    state.PauseTiming();  // freeing is not part of opening
    f = nullptr;
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_OpenSolidSlidesDescription)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Whether each slide's section may name an end action or a program to run,
// without reading it (what the engine asks of every slide at the start).
static void BM_SlideSectionsMayHoldNames(benchmark::State& state) {
  Modules();
  const std::string text = SolidSlidesText(100000);
  TRef<TIniFile> f = MakeRef<TIniFile>();
  f->LoadFromText(TByteString(text));
  static constexpr std::string_view kNames[] = {"Pers_EndAction", "Pers_RunApp"};
  for (auto _ : state) {
    std::int32_t may = 0;
    for (std::int32_t i = 0; i < f->SectionCount(); ++i) may += f->Section(i)->MayHoldNames(kNames);
    benchmark::DoNotOptimize(may);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_SlideSectionsMayHoldNames)->Unit(benchmark::kMillisecond);

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
        const TByteString name = fileMap->Get(static_cast<std::int32_t>(rng() % fileMap->Count()))->Name();
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
