// Timing curves and the calculator's registry from several threads at once:
// the registered "QSplineGraph" and a compiled curve shared by every thread
// must give each thread the answers it gets alone.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "OruLib2/OruClasses/OruCalc.h"
#include "OruLib2/OruClasses/OruCurves.h"

using namespace oru;
using zm::TRef;

namespace {

// Compiles text with one variable "x" read from *x.
TCalcCmdList CompileWithX(const std::string& text, const double* x) {
  TExpressionParser0 p;
  p.Resolver = [x](std::string_view name) -> TRef<TCalcFunc> {
    if (name != "x") return nullptr;
    return zm::MakeRef<TCalcVariable>("x", [x] { return *x; });
  };
  TCalcCmdList list;
  EXPECT_EQ(p.Parse(text, list), kCalcNoError) << text;
  return list;
}

}  // namespace

TEST(OruCurvesThreads, SharedCurveFunctionsAndRegistryAnswerAlike) {
  constexpr int kThreads = 6;
  constexpr int kSteps = 400;
  // One compiled curve whose function object every thread runs.
  double unused = 0;
  const TCalcCmdList shared = CompileWithX("QSplineGraph(x, 0.3, 0.05, 0.2, 1)", &unused);
  ASSERT_NE(shared.Text().find("QSplineGraph-opt"), std::string::npos);
  auto reference = [](int thread, int step) {
    const double t = thread % 2 ? 1.0 - step / double(kSteps) : step / double(kSteps);  // forward and backward
    return std::pair{t, QSplineGraph(t, 0.3, 0.05, 0.2, 1)};
  };

  std::latch start(kThreads);
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k)
    threads.emplace_back([&, k] {
      double x = 0;
      // Each thread its own list over the registry's "QSplineGraph" (a
      // variable control point keeps it from being compiled away).
      const TCalcCmdList own = CompileWithX("QSplineGraph(x, 0.3, x*0+0.05, 0.2, 1)", &x);
      const std::string name = "CurvesThreadFunc" + std::to_string(k);
      start.arrive_and_wait();
      for (int s = 0; s <= kSteps; ++s) {
        auto [t, expected] = reference(k, s);
        x = t;
        TCalcMachine m;
        m.Push(t);
        // The shared list starts from the pushed t: run its call alone.
        if (!shared[1].Func->Execute(m) || m.Top() != expected) ++mismatches;
        if (own.Evaluate() != expected) ++mismatches;
        if (s % 50 == 0) {
          RegisterCalcFunction(zm::MakeRef<TMathConst>(name + std::to_string(s), s).get());
          if (!FindCalcFunction("qsplinegraph") || !FindCalcFunction(name + std::to_string(s))) ++mismatches;
        }
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
}
