#include "OruLib2/OruClasses/OruCalc.h"
#include "OruLib2/OruClasses/OruCurves.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace oru;
using zm::TRef;

constexpr double kPi = 3.141592653589793;

// A parser whose caller supplies the variables of vars.
struct TVarParser : TExpressionParser0 {
  std::map<std::string, double> Vars;
  TVarParser() {
    Resolver = [this](std::string_view name) -> TRef<TCalcFunc> {
      auto it = Vars.find(std::string(name));
      if (it == Vars.end()) return nullptr;
      const double v = it->second;
      return zm::MakeRef<TCalcVariable>(it->first, [v] { return v; });
    };
  }
};

struct TResult {
  std::int32_t Code = -1;
  std::string Cmds;
  double Value = 0;
  bool Ok = false;
};

TResult Compute(const std::string& text, std::map<std::string, double> vars = {}) {
  TVarParser p;
  p.Vars = std::move(vars);
  TCalcCmdList list;
  TResult r;
  r.Code = p.Parse(text, list);
  r.Cmds = list.Text();
  r.Value = list.Evaluate(&r.Ok);
  return r;
}

std::vector<std::string> gTrace;
void CollectTrace(const std::string& s) { gTrace.push_back(s); }

TEST(OruCalc, OperatorsPrecedenceAndAssociativityFoldedAndAtRunTime) {
  // Each formula is compiled once with constants (folded to one load) and
  // once with variables of the same values (run on the machine).
  struct TCase {
    const char* Text;
    double Expected;
  };
  const TCase cases[] = {
      {"a+b*c", 2 + 3.0 * 5},    {"(a+b)*c", (2 + 3.0) * 5}, {"c-b-a", 5 - 3.0 - 2},   {"c-(b-a)", 5 - (3.0 - 2)},
      {"c/b/a", 5 / 3.0 / 2},    {"c/(b/a)", 5 / (3.0 / 2)}, {"a*-b", 2 * -3.0},       {"-a*b", -2 * 3.0},
      {"-a-b", -2 - 3.0},        {"a-b*c+a/b", 2 - 15 + 2 / 3.0}, {"\ta +\n b\r", 5}, {"-(a)", -2},
      {"a*b*c*a", 60},           {"a+b+c+a", 12},             {"c-a-a-a", -1},          {"a/c*b", 2 / 5.0 * 3},
  };
  const std::map<std::string, double> vars = {{"a", 2}, {"b", 3}, {"c", 5}};
  for (const TCase& c : cases) {
    std::string folded = c.Text;
    for (auto& [name, v] : vars)
      for (std::size_t i = folded.find(name); i != std::string::npos; i = folded.find(name, i))
        folded.replace(i, 1, std::to_string(static_cast<int>(v)));
    const TResult k = Compute(folded);
    EXPECT_EQ(k.Code, kCalcNoError) << folded;
    EXPECT_EQ(k.Cmds.rfind("load ", 0), 0u) << folded << " -> " << k.Cmds;
    EXPECT_DOUBLE_EQ(k.Value, c.Expected) << folded;
    const TResult v = Compute(c.Text, vars);
    EXPECT_EQ(v.Code, kCalcNoError) << c.Text;
    EXPECT_TRUE(v.Ok) << c.Text;
    EXPECT_DOUBLE_EQ(v.Value, c.Expected) << c.Text << " -> " << v.Cmds;
  }
  // Mixed constant and variable operands take every one-operand command.
  for (const auto& [text, expected] : std::vector<std::pair<const char*, double>>{
           {"10-a", 8}, {"10/a", 5}, {"a/4", 0.5}, {"a-4", -2}, {"3*a", 6}, {"3+a", 5}, {"10/(a+3)", 2},
           {"(a+1)*(2+1)", 9}, {"1-a/2*b", -2}}) {
    const TResult r = Compute(text, vars);
    EXPECT_TRUE(r.Ok) << text;
    EXPECT_DOUBLE_EQ(r.Value, expected) << text << " -> " << r.Cmds;
  }
}

TEST(OruCalc, EveryBuiltInFunctionFoldedAndAtRunTime) {
  struct TCase {
    const char* Name;
    std::vector<double> Args;
    double Expected;
  };
  const TCase cases[] = {
      {"Sin", {kPi / 2}, 1},       {"Cos", {0}, 1},           {"Tan", {kPi / 4}, 1},       {"Cotan", {kPi / 4}, 1},
      {"ArcSin", {1}, kPi / 2},    {"ArcCos", {1}, 0},        {"ArcTan", {1}, kPi / 4},    {"ArcTan2", {1, 0}, kPi / 2},
      {"ArcTan2", {0, -1}, kPi},   {"Hypot", {3, 4}, 5},      {"Sqrt", {16}, 4},           {"Power", {2, 10}, 1024},
      {"Pow", {9, 0.5}, 3},        {"Power", {3, 2}, 9},      {"Sqr", {-3}, 9},            {"Abs", {-2.5}, 2.5},
      {"Frac", {-2.75}, -0.75},    {"Frac", {2.75}, 0.75},    {"Round", {2.5}, 2},         {"Round", {3.5}, 4},
      {"Round", {-2.5}, -2},       {"Round", {-3.5}, -4},     {"Round", {2.4999}, 2},      {"Round", {-0.6}, -1},
      {"Trunc", {-2.7}, -2},       {"Trunc", {2.7}, 2},       {"Ceil", {-2.7}, -2},        {"Ceil", {2.1}, 3},
      {"Lerp", {10, 20, 0.25}, 12.5}, {"Lerp", {1, -1, 2}, -3},
  };
  for (const TCase& c : cases) {
    std::string folded = std::string(c.Name) + "(";
    std::string run = folded;
    std::map<std::string, double> vars;
    for (std::size_t i = 0; i < c.Args.size(); ++i) {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17g", c.Args[i]);
      const std::string sep = i ? "," : "";
      folded += sep + buf;
      run += sep + "v" + std::to_string(i);
      vars["v" + std::to_string(i)] = c.Args[i];
    }
    folded += ")";
    run += ")";
    const TResult k = Compute(folded);
    EXPECT_EQ(k.Cmds.rfind("load ", 0), 0u) << folded << " -> " << k.Cmds;
    EXPECT_NEAR(k.Value, c.Expected, 1e-12) << folded;
    const TResult v = Compute(run, vars);
    EXPECT_TRUE(v.Ok) << run;
    EXPECT_NE(v.Cmds.find("call(" + std::to_string(c.Args.size()) + ")"), std::string::npos) << v.Cmds;
    EXPECT_NEAR(v.Value, c.Expected, 1e-12) << run;
  }
  // Names in any letter case; Pi and the edge-case example.
  EXPECT_EQ(Compute("Pi").Value, kPi);
  EXPECT_EQ(Compute("sin(pi/2)").Value, 1);
  EXPECT_EQ(Compute("SIN( PI / 2 )").Value, 1);
  EXPECT_EQ(Compute("Sin(Pi/2)").Cmds, "load 1");
  // Rnd is not folded: each run draws again, always within 0..1.
  EXPECT_EQ(Compute("Rnd").Cmds, "call(0) Rnd");
  EXPECT_EQ(Compute("Rnd*0+1").Value, 1);
  TVarParser p;
  TCalcCmdList list;
  ASSERT_EQ(p.Parse(std::string("rnd"), list), kCalcNoError);
  for (int i = 0; i < 200; ++i) {
    const double r = list.Evaluate();
    ASSERT_GE(r, 0);
    ASSERT_LE(r, 1);
  }
}

TEST(OruCalc, ConstantFoldsDropsNegsAndTheirTrace) {
  gTrace.clear();
  const TCalcTraceProc saved = SetCalcTraceHook(&CollectTrace);
  const std::map<std::string, double> x = {{"x", 3}};
  struct TCase {
    const char* Text;
    const char* Cmds;
    std::vector<std::string> Trace;
  };
  const TCase cases[] = {
      {"x+0", "call(0) x", {"(addc 0 \\drop)"}},
      {"x*1", "call(0) x", {"(mulc 1 \\drop)"}},
      {"x/1", "call(0) x", {"(mulc 1 \\drop)"}},
      {"0-x", "call(0) x; neg", {"(csub 0 \\neg)"}},
      {"x*-1", "call(0) x; neg", {"(mulc -1 \\neg)"}},
      {"x+1-1", "call(0) x", {"(addc 0 \\drop)"}},  // merged, then dropped
      {"x*2*0.5", "call(0) x", {"(mulc 1 \\drop)"}},
      {"-x*2", "call(0) x; mulc -2", {}},
      {"-(0-x)", "call(0) x", {"(csub 0 \\neg)"}},  // two negs cancel
      {"x+1+2", "call(0) x; addc 3", {}},
      {"x-2", "call(0) x; addc -2", {}},
      {"x/4", "call(0) x; mulc 0.25", {}},
      {"2-x", "call(0) x; csub 2", {}},
      {"2/x", "call(0) x; cdiv 2", {}},
      {"x*x", "call(0) x; call(0) x; mul", {}},
      {"x+0.000000001", "call(0) x", {"(addc 1e-09 \\drop)"}},
      // The square for a constant exponent of 2 (also one computed as 2).
      {"Power(x, 2)", "call(0) x; call(1) Sqr", {}},
      {"pow(x, 1+1)", "call(0) x; call(1) Sqr", {}},
      {"Power(x, 3)", "call(0) x; load 3; call(2) Power", {}},
      {"Power(2, x)", "load 2; call(0) x; call(2) Power", {}},
      {"Lerp(x, 1, 0.5)", "call(0) x; load 1; load 0.5; call(3) Lerp", {}},
  };
  for (const TCase& c : cases) {
    gTrace.clear();
    const TResult r = Compute(c.Text, x);
    EXPECT_EQ(r.Code, kCalcNoError) << c.Text;
    EXPECT_EQ(r.Cmds, c.Cmds) << c.Text;
    EXPECT_EQ(gTrace, c.Trace) << c.Text;
  }
  EXPECT_EQ(Compute("Power(x, 2)", x).Value, 9);
  EXPECT_EQ(SetCalcTraceHook(saved), &CollectTrace);
  // Without a hook the folds still happen.
  gTrace.clear();
  EXPECT_EQ(Compute("x*1", x).Cmds, "call(0) x");
  EXPECT_TRUE(gTrace.empty());
  EXPECT_EQ(Compute("").Cmds, "--nocmd--");
  EXPECT_EQ(TCalcCmdList().Text(), "--nocmd--");
}

TEST(OruCalc, ErrorsWithTheirTextsAndPositions) {
  struct TCase {
    const char* Text;
    std::int32_t Code;
    std::int32_t Pos;
    const char* Message;
  };
  const TCase cases[] = {
      {"1E", kCalcInvalidNumber, 1, "Invalid Number Format"},
      {"2 + 1e+", kCalcInvalidNumber, 5, "Invalid Number Format"},
      {"3e-x", kCalcInvalidNumber, 1, "Invalid Number Format"},
      {"1e999", kCalcInvalidNumber, 1, "Invalid Number Format"},
      {"(1+2", kCalcExpected, 5, "Expected Operator or \")\""},
      {"((x)", kCalcExpected, 5, "Expected Operator or \")\""},
      {"Sin(1", kCalcExpected, 6, "Expected Operator or \")\""},
      {"Sin(1 2)", kCalcExpected, 7, "Expected Operator or \")\""},
      {"1+", kCalcExpected, 3, "Expected Expression"},
      {"", kCalcNoError, 0, "No Error"},
      {")", kCalcExpected, 1, "Expected Expression"},
      {"--1", kCalcExpected, 2, "Expected Expression"},
      {"+1", kCalcExpected, 1, "Expected Expression"},
      {"Sin()", kCalcExpected, 5, "Expected Expression"},
      {"#", kCalcExpected, 1, "Expected Expression"},
      {".5", kCalcExpected, 1, "Expected Expression"},
      {"2 3", kCalcExpected, 3, "Expected Operator"},
      {"1,2", kCalcExpected, 2, "Expected Operator"},
      {"1)", kCalcExpected, 2, "Expected Operator"},
      {"2x", kCalcExpected, 2, "Expected Operator"},
      {"2^3", kCalcExpected, 2, "unknown operator ^"},
      {"(2;3)", kCalcExpected, 3, "unknown operator ;"},
      {"1 \xC3\xA9", kCalcExpected, 3, "unknown operator \xC3\xA9"},
      {"\xFF", kCalcExpected, 1, "Expected Expression"},
      {"1/0", kCalcDivByZero, 2, "Division by Zerro"},
      {"x / (2-2)", kCalcDivByZero, 3, "Division by Zerro"},
      {"x/-0", kCalcDivByZero, 2, "Division by Zerro"},
      {"Foo(1)", kCalcUnknownName, 1, "Unknown Function or Variable"},
      {"1 + sinx", kCalcUnknownName, 5, "Unknown Function or Variable"},
      {"Sin.T", kCalcUnknownName, 1, "Unknown Function or Variable"},
      {"Sin(1,2)", kCalcCallError, 1, "Function Call Error"},
      {"2*Sin", kCalcCallError, 3, "Function Call Error"},
      {"Pi(1)", kCalcCallError, 1, "Function Call Error"},
      {"Lerp(1,2)", kCalcCallError, 1, "Function Call Error"},
  };
  for (const TCase& c : cases) {
    TVarParser p;
    p.Vars["x"] = 1;
    TCalcCmdList list;
    list.Add(kCalcLoad, 42);  // a failed parse leaves nothing behind
    EXPECT_EQ(p.Parse(std::string(c.Text), list), c.Code) << c.Text;
    EXPECT_EQ(p.ErrorCode(), c.Code) << c.Text;
    EXPECT_EQ(p.ErrorPos(), c.Pos) << c.Text;
    EXPECT_EQ(p.ErrorText(), c.Message) << c.Text;
    EXPECT_EQ(list.Count(), 0) << c.Text;
  }
  // Wide text reports the same; a later good parse clears the error.
  TExpressionParser0 p;
  TCalcCmdList list;
  EXPECT_EQ(p.Parse(u"(1 \u00E9", list), kCalcExpected);
  EXPECT_EQ(p.ErrorText(), "unknown operator \xC3\xA9");
  EXPECT_EQ(p.ErrorPos(), 4);
  EXPECT_EQ(p.Parse(u"1+1", list), kCalcNoError);
  EXPECT_EQ(p.ErrorPos(), 0);
  EXPECT_EQ(p.ErrorText(), "No Error");
  EXPECT_EQ(list.Text(), "load 2");
  EXPECT_STREQ(CalcErrorText(99), "");
  EXPECT_STREQ(CalcErrorText(-1), "");
}

TEST(OruCalc, HostileTextsNestingLengthAndRange) {
  const std::int32_t max = TExpressionParser0::kMaxNesting;
  auto nested = [](const std::string& open, const std::string& close, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += open;
    s += "1";
    for (int i = 0; i < n; ++i) s += close;
    return s;
  };
  EXPECT_EQ(Compute(nested("(", ")", max)).Value, 1);
  EXPECT_EQ(Compute(nested("(", ")", max + 1)).Code, kCalcTooDeep);
  EXPECT_EQ(Compute(nested("-(", ")", max)).Value, 1);
  EXPECT_EQ(Compute(nested("Abs(", ")", max)).Value, 1);
  EXPECT_EQ(Compute(nested("Sin(", ")", max + 1)).Code, kCalcTooDeep);
  // Far past any stack: refused at the bound, unclosed or not.
  EXPECT_EQ(Compute(std::string(1000000, '(')).Code, kCalcTooDeep);
  EXPECT_EQ(Compute(nested("(x*", ")", 100000), {{"x", 1}}).Code, kCalcTooDeep);
  TVarParser p;
  TCalcCmdList deep;
  EXPECT_EQ(p.Parse(nested("(", ")", 5000), deep), kCalcTooDeep);
  EXPECT_EQ(p.ErrorText(), "Expression Nested Too Deeply");
  EXPECT_EQ(p.ErrorPos(), max + 1);

  // Long flat texts need no recursion; constants fold to one load.
  std::string sum = "1";
  for (int i = 0; i < 200000; ++i) sum += "+1";
  EXPECT_EQ(Compute(sum).Cmds, "load 200001");
  std::string xs = "x";
  for (int i = 0; i < 50000; ++i) xs += i % 2 ? "*x" : "+x";
  const TResult big = Compute(xs, {{"x", 1}});
  EXPECT_TRUE(big.Ok);
  EXPECT_EQ(big.Value, 25001);
  EXPECT_EQ(Compute(std::string(100000, '0') + "1.5").Value, 1.5);
  EXPECT_EQ(Compute("1" + std::string(308, '0')).Value, 1e308);
  EXPECT_EQ(Compute("1" + std::string(309, '0')).Code, kCalcInvalidNumber);
  EXPECT_EQ(Compute(std::string(100000, 'a')).Code, kCalcUnknownName);
  EXPECT_EQ(Compute(std::string("1\0+\0" "2", 5)).Value, 3);  // control characters separate
  EXPECT_EQ(Compute("1.").Value, 1);
  // Overflow at run time is the floating-point result, not a fault.
  const TResult inf = Compute("x*1e308*10", {{"x", 10}});
  EXPECT_TRUE(inf.Ok);
  EXPECT_TRUE(std::isinf(inf.Value));
  const TResult div = Compute("1/x", {{"x", 0}});
  EXPECT_TRUE(div.Ok);
  EXPECT_TRUE(std::isinf(div.Value));
}

TEST(OruCalc, CommandListAndMachineOnMisuse) {
  TCalcMachine m;
  double v = 7;
  EXPECT_FALSE(m.Pop(v));
  EXPECT_FALSE(m.SetTop(1));
  EXPECT_EQ(m.Top(), 0);
  EXPECT_EQ(m.Item(0), 0);
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(m.Push(i));
  EXPECT_EQ(m.Count(), 100);
  EXPECT_EQ(m.Item(0), 0);
  EXPECT_EQ(m.Item(98), 98);
  EXPECT_EQ(m.Item(99), 99);
  EXPECT_EQ(m.Item(100), 0);
  for (int i = 99; i >= 0; --i) {
    ASSERT_TRUE(m.Pop(v));
    ASSERT_EQ(v, i);
  }

  // Commands that find too few values stop the run.
  for (std::int32_t code : {kCalcNeg, kCalcAdd, kCalcSub, kCalcMul, kCalcDiv, kCalcAddC, kCalcMulC, kCalcCSub, kCalcCDiv}) {
    TCalcCmdList list;
    list.Add(code, 2);
    TCalcMachine e;
    EXPECT_FALSE(list.Execute(e)) << code;
    TCalcCmdList two;
    two.Add(kCalcLoad, 6);
    two.Add(kCalcLoad, 3);
    two.Add(code, 2);
    bool ok = false;
    const double r = two.Evaluate(&ok);
    EXPECT_EQ(ok, code >= kCalcAdd && code <= kCalcDiv) << code;  // one-operand ones leave two values
    if (ok) {
      EXPECT_EQ(r, code == kCalcAdd ? 9 : code == kCalcSub ? 3 : code == kCalcMul ? 18 : 2);
    }
  }
  TCalcCmdList list;
  TRef<TCalcFunc> lerp = FindCalcFunction("lerp");
  ASSERT_TRUE(lerp);
  list.Add(kCalcLoad, 1);
  list.AddCall(lerp.get());
  TCalcMachine e;
  EXPECT_FALSE(list.Execute(e));
  EXPECT_EQ(e.Count(), 1);  // the call left the stack alone
  EXPECT_EQ(list.Text(), "load 1; call(3) Lerp");
  list.Delete(5);
  list.Delete(-1);
  EXPECT_EQ(list.Count(), 2);
  list.Delete(0);
  EXPECT_EQ(list.Text(), "call(3) Lerp");
  EXPECT_THROW(list.AddCall(nullptr), zm::EAbort);
  EXPECT_THROW(list.Add(kCalcCall, 0), zm::EAbort);
  EXPECT_THROW((void)list[1], zm::EAbort);
  list.Clear();
  EXPECT_EQ(list.Text(), "--nocmd--");
  EXPECT_TRUE(list.Execute(e));
  // A formula leaving two values evaluates to 0.
  list.Add(kCalcLoad, 1);
  list.Add(kCalcLoad, 2);
  bool ok = true;
  EXPECT_EQ(list.Evaluate(&ok), 0);
  EXPECT_FALSE(ok);
  EXPECT_STREQ(CalcCodeName(kCalcCall + 3), "call");
  EXPECT_STREQ(CalcCodeName(kCalcCDiv), "cdiv");
}

TEST(OruCalc, RegistryLookupAndCallerVariables) {
  EXPECT_FALSE(FindCalcFunction("NoSuchFunction"));
  EXPECT_FALSE(FindCalcFunction(""));
  TRef<TCalcFunc> sqrt = FindCalcFunction("SQRT");
  ASSERT_TRUE(sqrt);
  EXPECT_EQ(sqrt->Name(), "Sqrt");
  EXPECT_GE(sqrt->RefCount(), 2);  // the registry's and ours
  EXPECT_EQ(FindCalcFunction("Pow")->ArgCount(), 2);

  RegisterCalcFunction(nullptr);
  TRef<TCalcFunc> twice = zm::MakeRef<TMathWrapper1>("CalcTestTwice", +[](double x) { return 2 * x; });
  RegisterCalcFunction(twice.get());
  EXPECT_EQ(FindCalcFunction("calctesttwice"), twice);
  EXPECT_EQ(Compute("CALCTESTTWICE(21)").Value, 42);
  // A later registration of the same name hides the earlier one.
  TRef<TCalcFunc> thrice = zm::MakeRef<TMathWrapper1>("CalcTestTwice", +[](double x) { return 3 * x; });
  RegisterCalcFunction(thrice.get());
  EXPECT_EQ(Compute("CalcTestTwice(2)").Value, 6);

  // A registered name wins over the caller's variables; unknown names reach them.
  const TResult r = Compute("Pi + T + Pos.X.T", {{"Pi", 100}, {"T", 1}, {"Pos.X.T", 10}});
  EXPECT_EQ(r.Code, kCalcNoError);
  EXPECT_DOUBLE_EQ(r.Value, kPi + 11);
  EXPECT_EQ(Compute("t", {{"T", 1}}).Code, kCalcUnknownName);  // the resolver decides about case
  // Variables are read at run time, never folded.
  double live = 1;
  TExpressionParser0 p;
  p.Resolver = [&live](std::string_view name) -> TRef<TCalcFunc> {
    if (name != "live") return nullptr;
    return zm::MakeRef<TCalcVariable>("live", [&live] { return live; });
  };
  TCalcCmdList list;
  ASSERT_EQ(p.Parse(std::string("live*2+1"), list), kCalcNoError);
  EXPECT_EQ(list.Evaluate(), 3);
  live = 10;
  EXPECT_EQ(list.Evaluate(), 21);
  EXPECT_EQ(list.Text(), "call(0) live; mulc 2; addc 1");

  // Finalisation releases the registry's references; compiled lists keep
  // theirs, and the next lookup starts the built-ins again.
  TRef<TCalcFunc> kept = FindCalcFunction("Sqrt");
  const std::int32_t refs = kept->RefCount();
  TCalcCmdList sq;
  ASSERT_EQ(p.Parse(std::string("Sqrt(live)"), sq), kCalcNoError);
  FiniCalc();
  EXPECT_EQ(kept->RefCount(), refs);  // ours and the list's, not the registry's
  EXPECT_EQ(sq.Evaluate(), std::sqrt(10.0));
  EXPECT_FALSE(FindCalcFunction("CalcTestTwice"));
  EXPECT_NE(FindCalcFunction("Sqrt"), kept);
  InitCalc();
  InitCurves();
  EXPECT_TRUE(FindCalcFunction("QSplineGraph"));
}

}  // namespace
