// Text through the GDI text element and the system vectoriser, on the
// private font set so that every machine measures the same fonts.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "Platform/Gdi/PlatFontInternal.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Text/zmTextModules.h"
#include "ZmLib/VectorGraphics/zmVectorModules.h"
#include "ZmLib/Win32/Fonts/winFontUtils.h"
#include "ZmLib/Win32/Fonts/winTextVectorizer.h"
#include "ZmLib/zmModules.h"

using namespace zm;

namespace {

const TModuleRunner& Modules() {
  static bool fonts = plat::gdi::UseTestFonts();
  static TModuleRunner modules(
      JoinModules({CoreModules(), TextModules(), GraphicsModules(), VectorModules(), WinFontModules()}));
  (void)fonts;
  return modules;
}

TFontParams Font(const WideString& name, float size) {
  return MakeFontParams(name, 0, false, size, TColor24{}, TColor24{255, 255, 255});
}

// Paragraphs of 60 to 200 characters: mostly Latin, with Arabic, Hebrew,
// CJK and emoji pieces, so that most of them divide into several font runs
// and both directions.
std::vector<WideString> MixedParagraphs(std::size_t n) {
  const WideString pieces[] = {u"The quick brown fox ", u"jumps over the lazy dog. ", u"Überblick café ",
                               u"مرحبا بالعالم ", u"שלום עולם ", u"日本語のテキスト ", u"你好世界 ",
                               u"\U0001F600\U0001F44D ", u"x\u0301 ", u"12,345.67 "};
  std::mt19937 rng(7);
  std::vector<WideString> v(n);
  for (WideString& s : v) {
    const std::size_t len = 60 + rng() % 140;
    while (s.size() < len) s += pieces[rng() % std::size(pieces)];
  }
  return v;
}

}  // namespace

// Lays out each of 10,000 paragraphs in a fresh element; with measure=1 it
// also measures half of it and fits it into 300 pixels at word breaks.
static void BM_ShapeAndMeasureParagraphs(benchmark::State& state) {
  const bool measure = state.range(0) != 0;
  Modules();
  const std::vector<WideString> paragraphs = MixedParagraphs(10000);
  const TFontParams font = Font(u"Arial", 14);
  std::int64_t chars = 0;
  for (const WideString& p : paragraphs) chars += std::int64_t(p.size());
  for (auto _ : state) {
    std::int64_t sum = 0;
    for (const WideString& p : paragraphs) {
      TRef<TWinTextElement> e = MakeRef<TWinTextElement>(font, 0);
      e->SetText(p);
      // Word breaks, as line filling asks for them.
      const TPrevBreakFunc prevBreak = [&p](TTextElement*, std::int32_t count, std::int32_t) {
        const std::size_t space = p.rfind(u' ', std::size_t(count - 1) - (count > 1));
        return space == WideString::npos ? count - 1 : std::int32_t(space);
      };
      sum += e->GetWidth();
      if (measure) sum += e->MeasureRange(1, e->Length() / 2) + e->FitChars(1, 300, prevBreak);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(paragraphs.size()));
  state.counters["chars"] = double(chars);
}
BENCHMARK(BM_ShapeAndMeasureParagraphs)->ArgName("measure")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The 95 printable ASCII glyphs of one font made into outline path points.
static void BM_VectorizeAsciiGlyphs(benchmark::State& state) {
  Modules();
  TRef<TVectorizer> v = CreateWinVectorizer();
  WideString ascii;
  for (char16_t c = 0x20; c < 0x7F; ++c) ascii += c;
  TRef<TTextElementEx> e = v->CreateTextElement(Font(u"Times New Roman", 48), ascii);
  std::vector<TTextPart> parts(std::size_t(e->GetPartCount()));
  for (std::size_t i = 0; i < parts.size(); ++i) e->GetPart(std::int32_t(i), parts[i]);
  TPathPoints sink;
  std::size_t points = 0;
  for (auto _ : state) {
    for (const TTextPart& part : parts) {
      sink.clear();
      v->VectorizePart(part, sink);
      points += sink.size();
    }
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(parts.size()));
  state.counters["points/glyph"] = double(points) / double(state.iterations() * parts.size());
}
BENCHMARK(BM_VectorizeAsciiGlyphs)->Unit(benchmark::kMicrosecond);
