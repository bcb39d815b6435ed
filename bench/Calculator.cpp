// Modifier formulas as the engine runs them: one compiled formula evaluated
// for a million frames, the timing curve in its compiled form and rebuilt on
// every call, and the compilation itself.
#include <benchmark/benchmark.h>

#include <string>

#include "OruLib2/OruClasses/OruCalc.h"
#include "OruLib2/OruClasses/OruCurves.h"
#include "ZmLib/zmModules.h"

using namespace oru;

namespace {

const zm::TModuleRunner& Modules() {
  static zm::TModuleRunner modules(zm::JoinModules({zm::CoreModules()}));
  static bool calc = (InitCalc(), InitCurves(), true);
  (void)calc;
  return modules;
}

struct TFormula {
  double T = 0;
  TCalcCmdList List;
  explicit TFormula(const char* text) {
    Modules();
    TExpressionParser0 p;
    p.Resolver = [this](std::string_view name) -> zm::TRef<TCalcFunc> {
      if (name != "T") return nullptr;
      return zm::MakeRef<TCalcVariable>("T", [this] { return T; });
    };
    if (p.Parse(std::string(text), List) != kCalcNoError) std::abort();
  }
};

// A million evaluations on one machine, as frames come.
void RunMillion(benchmark::State& state, const char* text) {
  TFormula f(text);
  TCalcMachine m;
  for (auto _ : state) {
    double sum = 0;
    for (int i = 0; i < 1000000; ++i) {
      f.T = i * 1e-6;
      m.Clear();
      f.List.Execute(m);
      sum += m.Top();
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * 1000000);
}

void BM_EvaluateMillion_Arithmetic(benchmark::State& state) {
  RunMillion(state, "Sin(T * 2 * Pi) * 0.5 + Lerp(10, 20, T) / 4 - Sqr(T - 0.5)");
}
BENCHMARK(BM_EvaluateMillion_Arithmetic)->Unit(benchmark::kMillisecond);

void BM_EvaluateMillion_CompiledCurve(benchmark::State& state) {
  RunMillion(state, "QSplineGraph(T, 0.25, 0.1, 0.25, 1) * 100");
}
BENCHMARK(BM_EvaluateMillion_CompiledCurve)->Unit(benchmark::kMillisecond);

// The uncompiled curve splits its Bezier on every call.
void BM_EvaluateCurveRebuilt(benchmark::State& state) {
  TFormula f("QSplineGraph(T, 0.25, T*0+0.1, 0.25, 1)");
  TCalcMachine m;
  int i = 0;
  for (auto _ : state) {
    f.T = (i++ % 1000) * 1e-3;
    m.Clear();
    f.List.Execute(m);
    benchmark::DoNotOptimize(m.Top());
  }
}
BENCHMARK(BM_EvaluateCurveRebuilt)->Unit(benchmark::kMicrosecond);

void BM_Compile(benchmark::State& state) {
  Modules();
  const std::string text = "Sin(T * 2 * Pi) * 0.5 + Lerp(10, 20, T) / 4 - Power(T - 0.5, 2) + QSplineGraph(T, 0.4, 0, 0.2, 1)";
  TExpressionParser0 p;
  p.Resolver = [](std::string_view name) -> zm::TRef<TCalcFunc> {
    return name == "T" ? zm::MakeRef<TCalcVariable>("T", [] { return 0.5; }) : nullptr;
  };
  TCalcCmdList list;
  for (auto _ : state) {
    p.Parse(text, list);
    benchmark::DoNotOptimize(list.Count());
  }
}
BENCHMARK(BM_Compile)->Unit(benchmark::kMicrosecond);

}  // namespace
