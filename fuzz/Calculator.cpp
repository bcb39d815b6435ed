// Formula texts of object modifiers: a text either compiles to commands that
// leave exactly one value on the machine, or fails with an empty list, a
// position inside the text and a message. Timing curves with any control
// points end. Nothing crashes, hangs or reads outside the text.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "OruLib2/OruClasses/OruCalc.h"
#include "OruLib2/OruClasses/OruCurves.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::StartModules();
  zmfuzz::QuietDebugOutput();
  static bool started = (oru::InitCalc(), oru::InitCurves(), true);
  (void)started;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace oru;
  if (size > 1 << 14) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  double vars[3] = {0.25, -3, 1e300};
  TExpressionParser0 parser;
  parser.Resolver = [&vars](std::string_view name) -> zm::TRef<TCalcFunc> {
    const int i = name == "x" ? 0 : name == "y" ? 1 : name == "T" || name.ends_with(".T") ? 2 : -1;
    if (i < 0) return nullptr;
    double* v = &vars[i];
    return zm::MakeRef<TCalcVariable>(std::string(name), [v] { return *v; });
  };
  TCalcCmdList list;
  const std::int32_t code = parser.Parse(text, list);
  Check(code == parser.ErrorCode());
  if (code != kCalcNoError) {
    Check(list.Empty());
    Check(parser.ErrorPos() >= 1 && static_cast<std::size_t>(parser.ErrorPos()) <= size + 1);
    Check(!parser.ErrorText().empty());
  } else {
    Check(parser.ErrorPos() == 0);
    Check(!list.Text().empty());
    for (double v : {0.0, 0.5, -1e-300}) {
      vars[0] = v;
      TCalcMachine m;
      // A compiled formula always leaves one value (an empty text none).
      Check(list.Execute(m));
      Check(m.Count() == (list.Empty() ? 0 : 1));
    }
  }

  // "#" and the time and control points of a timing curve as raw doubles
  // (only then: hostile curves are slow to split, and formulas come first).
  if (size >= 1 + 5 * sizeof(double) && data[0] == '#') {
    double a[5];
    std::memcpy(a, data + 1, sizeof a);
    const double y = QSplineGraph(a[0], a[1], a[2], a[3], a[4]);
    // Inside 0..1 with control points inside the unit square the curve stays in it.
    const bool unit = a[0] >= 0 && a[0] <= 1 && a[1] >= 0 && a[1] <= 1 && a[2] >= 0 && a[2] <= 1 && a[3] >= 0 &&
                      a[3] <= 1 && a[4] >= 0 && a[4] <= 1;
    if (unit) Check(y >= -1e-5 && y <= 1 + 1e-5);
  }
  return 0;
}
