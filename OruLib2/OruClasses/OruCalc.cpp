#include "OruLib2/OruClasses/OruCalc.h"

#include <array>
#include <charconv>
#include <cmath>
#include <mutex>
#include <system_error>

#include "ZmLib/zmRandom.h"

namespace oru {

// ============================================================================
// Stack machine
// ============================================================================

bool TCalcMachine::SetTop(double v) {
  if (count_ <= 0) return false;
  top_ = v;
  return true;
}

bool TCalcMachine::Push(double v) {
  if (count_ >= kMaxDepth) return false;
  if (count_ > 0) {
    const auto n = static_cast<std::size_t>(count_ - 1);
    if (n >= rest_.size()) rest_.resize(rest_.empty() ? 8 : rest_.size() * 2);
    rest_[n] = top_;
  }
  top_ = v;
  ++count_;
  return true;
}

bool TCalcMachine::Pop(double& v) {
  if (count_ <= 0) return false;
  v = top_;
  --count_;
  if (count_ > 0) top_ = rest_[static_cast<std::size_t>(count_ - 1)];
  return true;
}

double TCalcMachine::Item(std::int32_t i) const {
  if (i < 0 || i >= count_) return 0;
  if (i == count_ - 1) return top_;
  return rest_[static_cast<std::size_t>(i)];
}

// ============================================================================
// Functions
// ============================================================================

TCalcFunc::TCalcFunc(std::string name, std::int32_t argCount) : name_(std::move(name)), argCount_(argCount) {}

bool TCalcFunc::Optimize(const TCalcCallInfo&, TRef<TCalcFunc>&) const { return false; }

TMathFunc::TMathFunc(std::string name, std::int32_t argCount)
    : TCalcFunc(std::move(name), argCount < 0 ? 0 : argCount > kMaxArgs ? kMaxArgs : argCount) {
  SetPure(true);
}

bool TMathFunc::Execute(TCalcMachine& machine) const {
  const std::int32_t n = ArgCount();
  if (machine.Count() < n) return false;
  if (n == 0) return machine.Push(Calc(nullptr));
  std::array<double, kMaxArgs> args{};
  for (std::int32_t i = n - 1; i >= 0; --i) machine.Pop(args[static_cast<std::size_t>(i)]);
  return machine.Push(Calc(args.data()));
}

TMathConst::TMathConst(std::string name, double value) : TMathFunc(std::move(name), 0), value_(value) {}

TMathWrapper0::TMathWrapper0(std::string name, TProc proc, bool pure) : TMathFunc(std::move(name), 0), proc_(proc) {
  ZM_ASSERT(proc_, "TMathWrapper0.Create - Proc not Assigned");
  SetPure(pure);
}
TMathWrapper1::TMathWrapper1(std::string name, TProc proc) : TMathFunc(std::move(name), 1), proc_(proc) {
  ZM_ASSERT(proc_, "TMathWrapper1.Create - Proc not Assigned");
}
TMathWrapper1Ext::TMathWrapper1Ext(std::string name, TProc proc) : TMathFunc(std::move(name), 1), proc_(proc) {
  ZM_ASSERT(proc_, "TMathWrapper1Ext.Create - Proc not Assigned");
}
TMathWrapper2Ext::TMathWrapper2Ext(std::string name, TProc proc) : TMathFunc(std::move(name), 2), proc_(proc) {
  ZM_ASSERT(proc_, "TMathWrapper2Ext.Create - Proc not Assigned");
}
TMathWrapper3::TMathWrapper3(std::string name, TProc proc) : TMathFunc(std::move(name), 3), proc_(proc) {
  ZM_ASSERT(proc_, "TMathWrapper3.Create - Proc not Assigned");
}

namespace {
double SqrProc(double x) { return x * x; }
}  // namespace

TPowerOptFunc::TPowerOptFunc(std::string name) : TMathFunc(std::move(name), 2) {}

double TPowerOptFunc::Calc(const double* a) const { return std::pow(a[0], a[1]); }

bool TPowerOptFunc::Optimize(const TCalcCallInfo& call, TRef<TCalcFunc>& replacement) const {
  if (call.ArgCount != 2 || !call.Args[1].IsConst) return false;
  if (!(std::fabs(call.Args[1].Value - 2) < TExpressionParser0::kTolerance)) return false;
  replacement = zm::MakeRef<TMathWrapper1>("Sqr", &SqrProc);
  return true;
}

TCalcVariable::TCalcVariable(std::string name, TGetter getter) : TCalcFunc(std::move(name), 0), getter_(std::move(getter)) {}

bool TCalcVariable::Execute(TCalcMachine& machine) const { return machine.Push(getter_ ? getter_() : 0.0); }

// ============================================================================
// Commands
// ============================================================================

namespace {

constexpr std::array<const char*, 11> kCodeNames = {"load", "neg",  "add",  "sub",  "mul", "div",
                                                    "addc", "mulc", "csub", "cdiv", "call"};

// The shortest text that reads back as v.
std::string FloatText(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("?");
}

}  // namespace

const char* CalcCodeName(std::int32_t code) {
  if (code < 0) return "";
  return kCodeNames[static_cast<std::size_t>(code < kCalcCall ? code : kCalcCall)];
}

const TCalcCmd& TCalcCmdList::operator[](std::int32_t i) const {
  ZM_ASSERT(i >= 0 && i < Count(), "TCalcCmdList.Get Index out of bounds");
  return items_[static_cast<std::size_t>(i)];
}

void TCalcCmdList::Grow() {
  if (items_.size() == items_.capacity()) items_.reserve(items_.capacity() < 16 ? 16 : items_.capacity() * 2);
}

void TCalcCmdList::Add(std::int32_t code, double operand) {
  ZM_ASSERT(code >= kCalcLoad && code < kCalcCall, "TCalcCmdList.Add Invalid code");
  Grow();
  items_.push_back(TCalcCmd{code, nullptr, operand});
}

void TCalcCmdList::AddCall(TCalcFunc* func) {
  ZM_ASSERT(func, "TCalcCmdList.AddCall Function not Assigned");
  Grow();
  items_.push_back(TCalcCmd{kCalcCall + func->ArgCount(), TRef<TCalcFunc>(func), 0});
}

void TCalcCmdList::Delete(std::int32_t i) {
  if (i < 0 || i >= Count()) return;
  items_.erase(items_.begin() + i);
}

void TCalcCmdList::Clear() { items_.clear(); }

bool TCalcCmdList::Execute(TCalcMachine& m) const {
  double x = 0;
  for (const TCalcCmd& c : items_) {
    const std::int32_t n = m.Count();
    switch (c.Code) {
      case kCalcLoad:
        if (!m.Push(c.Operand)) return false;
        break;
      case kCalcNeg:
        if (n < 1) return false;
        m.SetTop(-m.Top());
        break;
      case kCalcAdd:
      case kCalcSub:
      case kCalcMul:
      case kCalcDiv: {
        if (n < 2) return false;
        m.Pop(x);
        const double t = m.Top();
        m.SetTop(c.Code == kCalcAdd ? t + x : c.Code == kCalcSub ? t - x : c.Code == kCalcMul ? t * x : t / x);
        break;
      }
      case kCalcAddC:
        if (n < 1) return false;
        m.SetTop(m.Top() + c.Operand);
        break;
      case kCalcMulC:
        if (n < 1) return false;
        m.SetTop(m.Top() * c.Operand);
        break;
      case kCalcCSub:
        if (n < 1) return false;
        m.SetTop(c.Operand - m.Top());
        break;
      case kCalcCDiv:
        if (n < 1) return false;
        m.SetTop(c.Operand / m.Top());
        break;
      default:
        if (c.Code < kCalcCall || !c.Func || !c.Func->Execute(m)) return false;
    }
  }
  return true;
}

double TCalcCmdList::Evaluate(bool* ok) const {
  TCalcMachine m;
  const bool good = Execute(m) && m.Count() == 1;
  if (ok) *ok = good;
  return good ? m.Top() : 0.0;
}

std::string TCalcCmdList::Text() const {
  if (items_.empty()) return "--nocmd--";
  std::string s;
  for (const TCalcCmd& c : items_) {
    if (!s.empty()) s += "; ";
    switch (c.Code) {
      case kCalcLoad:
      case kCalcAddC:
      case kCalcMulC:
      case kCalcCSub:
      case kCalcCDiv:
        s += CalcCodeName(c.Code);
        s += ' ';
        s += FloatText(c.Operand);
        break;
      default:
        if (c.Code >= kCalcCall) {
          s += "call(" + std::to_string(c.Code - kCalcCall) + ")";
          if (c.Func) s += ' ' + c.Func->Text();
        } else {
          s += CalcCodeName(c.Code);
        }
    }
  }
  return s;
}

// ============================================================================
// Errors and the trace hook
// ============================================================================

const char* CalcErrorText(std::int32_t code) {
  static constexpr std::array<const char*, 7> kTexts = {
      "No Error",      "Expected",
      "Invalid Number Format", "Division by Zerro",
      "Unknown Function or Variable", "Function Call Error",
      "Expression Nested Too Deeply"};
  if (code < 0 || code >= static_cast<std::int32_t>(kTexts.size())) return "";
  return kTexts[static_cast<std::size_t>(code)];
}

namespace {
std::atomic<TCalcTraceProc> gTraceHook{nullptr};

void Trace(const char* code, double operand, const char* what) {
  if (TCalcTraceProc p = gTraceHook.load(std::memory_order_acquire))
    p(std::string("(") + code + " " + FloatText(operand) + " \\" + what + ")");
}
}  // namespace

TCalcTraceProc SetCalcTraceHook(TCalcTraceProc proc) { return gTraceHook.exchange(proc, std::memory_order_acq_rel); }
TCalcTraceProc GetCalcTraceHook() { return gTraceHook.load(std::memory_order_acquire); }

// ============================================================================
// Registry
// ============================================================================

namespace {

constexpr std::size_t kChains = 16;

std::mutex gRegistryLock;
std::array<std::vector<TRef<TCalcFunc>>, kChains>* gChains = nullptr;  // under the lock
bool gBuiltinsDone = false;                                             // under the lock

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::size_t NameChain(std::string_view name) {
  std::uint32_t h = 0;
  for (char c : name) h = h * 31u + static_cast<unsigned char>(LowerAscii(c));
  return h % kChains;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

void AddLocked(TCalcFunc* f) {
  if (!gChains) gChains = new std::array<std::vector<TRef<TCalcFunc>>, kChains>();
  (*gChains)[NameChain(f->Name())].push_back(TRef<TCalcFunc>(f));
}

template <class T, class... A>
void AddBuiltin(A&&... args) {
  TRef<T> f = zm::MakeRef<T>(std::forward<A>(args)...);
  AddLocked(f.get());
}

long double CotanProc(long double x) { return std::cos(x) / std::sin(x); }

// Halves go to the even neighbour whatever the rounding mode.
double RoundHalfEven(double x) {
  const double f = std::floor(x);
  const double d = x - f;
  if (d > 0.5) return f + 1;
  if (d < 0.5) return f;
  return std::fmod(f, 2.0) == 0 ? f : f + 1;
}

// The common functions run in double (x87 extended precision costs several
// times as much per frame); the cotangent's ratio and the two-argument
// functions keep extended precision.
void RegisterBuiltinsLocked() {
  if (gBuiltinsDone) return;
  gBuiltinsDone = true;
  using W1 = TMathWrapper1;
  using W1E = TMathWrapper1Ext;
  using W2E = TMathWrapper2Ext;
  AddBuiltin<TMathConst>("Pi", 3.141592653589793);
  AddBuiltin<W1>("Sin", +[](double x) { return std::sin(x); });
  AddBuiltin<W1>("Cos", +[](double x) { return std::cos(x); });
  AddBuiltin<W1>("Tan", +[](double x) { return std::tan(x); });
  AddBuiltin<W1E>("Cotan", &CotanProc);
  AddBuiltin<W1>("ArcSin", +[](double x) { return std::asin(x); });
  AddBuiltin<W1>("ArcCos", +[](double x) { return std::acos(x); });
  AddBuiltin<W1>("ArcTan", +[](double x) { return std::atan(x); });
  AddBuiltin<W2E>("ArcTan2", +[](long double y, long double x) { return std::atan2(y, x); });
  AddBuiltin<W2E>("Hypot", +[](long double x, long double y) { return std::hypot(x, y); });
  AddBuiltin<W1>("Sqrt", +[](double x) { return std::sqrt(x); });
  AddBuiltin<TPowerOptFunc>("Power");
  AddBuiltin<TPowerOptFunc>("Pow");
  AddBuiltin<W1>("Sqr", &SqrProc);
  AddBuiltin<W1>("Abs", +[](double x) { return std::fabs(x); });
  AddBuiltin<W1>("Frac", +[](double x) { return x - std::trunc(x); });
  AddBuiltin<W1>("Round", &RoundHalfEven);
  AddBuiltin<W1>("Trunc", +[](double x) { return std::trunc(x); });
  AddBuiltin<W1>("Ceil", +[](double x) { return std::ceil(x); });
  AddBuiltin<TMathWrapper3>("Lerp", +[](double a, double b, double t) { return (b - a) * t + a; });
  AddBuiltin<TMathWrapper0>(
      "Rnd", +[] { return zm::Random(2147483647) / 2147483647.0; }, false);
}

}  // namespace

void RegisterCalcFunction(TCalcFunc* func) {
  if (!func) return;
  std::lock_guard<std::mutex> lock(gRegistryLock);
  RegisterBuiltinsLocked();  // built-ins first, so that later names hide them
  AddLocked(func);
}

TRef<TCalcFunc> FindCalcFunction(std::string_view name) {
  std::lock_guard<std::mutex> lock(gRegistryLock);
  RegisterBuiltinsLocked();
  const auto& chain = (*gChains)[NameChain(name)];
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    if (SameName((*it)->Name(), name)) return *it;
  return nullptr;
}

void InitCalc() {}

void FiniCalc() {
  std::array<std::vector<TRef<TCalcFunc>>, kChains>* chains;
  {
    std::lock_guard<std::mutex> lock(gRegistryLock);
    chains = gChains;
    gChains = nullptr;
    gBuiltinsDone = false;
  }
  delete chains;  // releases the functions outside the lock
}

// ============================================================================
// Parser
// ============================================================================
//
// expression = term { ("+" | "-") term }
// term       = factor { ("*" | "/") factor }
// factor     = [ "-" ] primary
// primary    = number | "(" expression ")" | identifier [ "(" expression { "," expression } ")" ]
//
// Each rule answers an operand: a constant (nothing emitted yet) or code
// already emitted that leaves the value on the stack. Constants are emitted
// only where they cannot be folded.

class TCalcCompiler {
public:
  TCalcCompiler(TExpressionParser0& parser, std::u16string_view text, TCalcCmdList& list)
      : parser_(parser), text_(text), list_(list) {}

  std::int32_t Run() {
    parser_.errorCode_ = kCalcNoError;
    parser_.errorPos_ = 0;
    parser_.errorText_ = CalcErrorText(kCalcNoError);
    list_.Clear();
    Next();
    if (kind_ != kEnd) {
      TOperand v;
      if (Expression(v)) {
        if (kind_ == kEnd)
          Materialise(v);
        else
          FailAfterOperand("Operator");
      }
    }
    if (failed_) list_.Clear();
    return parser_.errorCode_;
  }

private:
  enum TKind { kEnd, kNumber, kOp, kIdent, kOther };
  struct TOperand {
    bool IsConst = true;
    double Value = 0;
  };

  // ---- tokens ----

  static bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
  static bool IsLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_'; }

  void Next() {
    while (pos_ < text_.size() && text_[pos_] <= 32) ++pos_;
    start_ = pos_;
    if (pos_ >= text_.size()) {
      kind_ = kEnd;
      return;
    }
    const char16_t c = text_[pos_];
    if (IsDigit(c)) {
      ReadNumber();
      return;
    }
    if (IsLetter(c)) {
      while (pos_ < text_.size() && (IsLetter(text_[pos_]) || IsDigit(text_[pos_]) || text_[pos_] == u'.')) ++pos_;
      kind_ = kIdent;
      return;
    }
    ++pos_;
    kind_ = (c == u'(' || c == u')' || c == u'*' || c == u'+' || c == u',' || c == u'-' || c == u'/') ? kOp : kOther;
  }

  void ReadNumber() {
    auto digits = [&] {
      std::size_t n = 0;
      while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_, ++n;
      return n;
    };
    digits();
    if (pos_ < text_.size() && text_[pos_] == u'.') {
      ++pos_;
      digits();
    }
    bool good = true;
    if (pos_ < text_.size() && (text_[pos_] == u'E' || text_[pos_] == u'e')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == u'+' || text_[pos_] == u'-')) ++pos_;
      good = digits() > 0;
    }
    kind_ = kNumber;
    number_ = 0;
    if (good) {
      std::string s(text_.begin() + static_cast<std::ptrdiff_t>(start_), text_.begin() + static_cast<std::ptrdiff_t>(pos_));
      if (s.back() == '.') s.pop_back();  // "1." reads as 1
      auto r = std::from_chars(s.data(), s.data() + s.size(), number_);
      good = r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(number_);
    }
    if (!good) Fail(kCalcInvalidNumber, {}, start_);
  }

  bool IsOp(char16_t c) const { return kind_ == kOp && text_[start_] == c; }
  std::string_view TokenAscii(std::string& buf) const {
    buf.assign(text_.begin() + static_cast<std::ptrdiff_t>(start_), text_.begin() + static_cast<std::ptrdiff_t>(pos_));
    return buf;
  }

  // ---- errors ----

  bool Fail(std::int32_t code, std::string_view expected, std::size_t at) {
    if (failed_) return false;
    failed_ = true;
    parser_.errorCode_ = code;
    parser_.errorPos_ = static_cast<std::int32_t>(at > 0x7FFFFFFE ? 0x7FFFFFFE : at) + 1;
    parser_.errorText_ = CalcErrorText(code);
    if (!expected.empty()) {
      parser_.errorText_ += ' ';
      parser_.errorText_ += expected;
    }
    return false;
  }

  // Something other than the expected continuation follows an operand.
  bool FailAfterOperand(std::string_view expected) {
    if (kind_ == kOther) {
      if (failed_) return false;
      Fail(kCalcExpected, {}, start_);
      parser_.errorText_ = "unknown operator " + CharText(text_[start_]);
      return false;
    }
    return Fail(kCalcExpected, expected, start_);
  }

  static std::string CharText(char16_t c) {
    std::string s;
    if (c < 0x80) {
      s += static_cast<char>(c);
    } else if (c < 0x800) {
      s += static_cast<char>(0xC0 | (c >> 6));
      s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      s += '?';
    } else {
      s += static_cast<char>(0xE0 | (c >> 12));
      s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
  }

  // ---- emitting ----

  bool LastIs(std::int32_t code) const { return !list_.Empty() && list_[list_.Count() - 1].Code == code; }
  void DropLast() { list_.Delete(list_.Count() - 1); }

  void Materialise(TOperand& v) {
    if (!v.IsConst) return;
    list_.Add(kCalcLoad, v.Value);
    v.IsConst = false;
  }

  void EmitNeg() {
    if (LastIs(kCalcNeg))
      DropLast();
    else
      list_.Add(kCalcNeg);
  }

  // An operation with a constant operand on the value the last commands left.
  void EmitConst(std::int32_t code, double k) {
    constexpr double tol = TExpressionParser0::kTolerance;
    if (code == kCalcAddC && LastIs(kCalcAddC)) {
      k += list_[list_.Count() - 1].Operand;
      DropLast();
    } else if (code == kCalcMulC && LastIs(kCalcMulC)) {
      k *= list_[list_.Count() - 1].Operand;
      DropLast();
    } else if (code == kCalcMulC && LastIs(kCalcNeg)) {
      k = -k;
      DropLast();
    }
    if (code == kCalcAddC && std::fabs(k) < tol) return Trace("addc", k, "drop");
    if (code == kCalcMulC && std::fabs(k - 1) < tol) return Trace("mulc", k, "drop");
    if (code == kCalcMulC && std::fabs(k + 1) < tol) {
      Trace("mulc", k, "neg");
      return EmitNeg();
    }
    if (code == kCalcCSub && std::fabs(k) < tol) {
      Trace("csub", k, "neg");
      return EmitNeg();
    }
    list_.Add(code, k);
  }

  bool Combine(char16_t op, std::size_t opPos, TOperand& a, const TOperand& b) {
    if (op == u'/' && b.IsConst && b.Value == 0) return Fail(kCalcDivByZero, {}, opPos);
    if (a.IsConst && b.IsConst) {
      a.Value = op == u'+' ? a.Value + b.Value : op == u'-' ? a.Value - b.Value : op == u'*' ? a.Value * b.Value : a.Value / b.Value;
      return true;
    }
    if (b.IsConst) {
      if (op == u'+') EmitConst(kCalcAddC, b.Value);
      if (op == u'-') EmitConst(kCalcAddC, -b.Value);
      if (op == u'*') EmitConst(kCalcMulC, b.Value);
      if (op == u'/') EmitConst(kCalcMulC, 1 / b.Value);
    } else if (a.IsConst) {
      if (op == u'+') EmitConst(kCalcAddC, a.Value);
      if (op == u'-') EmitConst(kCalcCSub, a.Value);
      if (op == u'*') EmitConst(kCalcMulC, a.Value);
      if (op == u'/') list_.Add(kCalcCDiv, a.Value);
    } else {
      list_.Add(op == u'+' ? kCalcAdd : op == u'-' ? kCalcSub : op == u'*' ? kCalcMul : kCalcDiv);
    }
    a.IsConst = false;
    return true;
  }

  // Emits a call whose argument values (the last commands when constant) are
  // in place; folds and replaces it where it can.
  void EmitCall(TRef<TCalcFunc> f, std::vector<TCalcArgInfo>& args, TOperand& v) {
    for (int round = 0; round < 4; ++round) {
      const auto n = static_cast<std::int32_t>(args.size());
      bool allConst = true;
      for (const TCalcArgInfo& a : args) allConst = allConst && a.IsConst;
      if (allConst && f->IsPure()) {
        TCalcMachine m;
        for (const TCalcArgInfo& a : args) m.Push(a.Value);
        if (f->Execute(m) && m.Count() == 1) {
          for (std::int32_t i = 0; i < n; ++i) DropLast();
          v.IsConst = true;
          v.Value = m.Top();
          return;
        }
      }
      TRef<TCalcFunc> repl;
      const TCalcCallInfo call{args.data(), n};
      if (!f->Optimize(call, repl) || !repl || repl->ArgCount() > n) break;
      bool dropsConstants = true;
      for (std::int32_t i = repl->ArgCount(); i < n; ++i) dropsConstants = dropsConstants && args[static_cast<std::size_t>(i)].IsConst;
      if (!dropsConstants) break;
      for (std::int32_t i = repl->ArgCount(); i < n; ++i) DropLast();
      args.resize(static_cast<std::size_t>(repl->ArgCount()));
      f = repl;
    }
    list_.AddCall(f.get());
    v.IsConst = false;
  }

  // ---- grammar ----

  bool Expression(TOperand& v) {
    if (!Term(v)) return false;
    while (IsOp(u'+') || IsOp(u'-')) {
      const char16_t op = text_[start_];
      const std::size_t at = start_;
      Next();
      TOperand w;
      if (!Term(w) || !Combine(op, at, v, w)) return false;
    }
    return !failed_;
  }

  bool Term(TOperand& v) {
    if (!Factor(v)) return false;
    while (IsOp(u'*') || IsOp(u'/')) {
      const char16_t op = text_[start_];
      const std::size_t at = start_;
      Next();
      TOperand w;
      if (!Factor(w) || !Combine(op, at, v, w)) return false;
    }
    return !failed_;
  }

  bool Factor(TOperand& v) {
    if (failed_) return false;
    if (!IsOp(u'-')) return Primary(v);
    Next();
    if (!Primary(v)) return false;
    if (v.IsConst)
      v.Value = -v.Value;
    else
      EmitNeg();
    return true;
  }

  bool Primary(TOperand& v) {
    if (failed_) return false;
    if (kind_ == kNumber) {
      v = TOperand{true, number_};
      Next();
      return !failed_;
    }
    if (IsOp(u'(')) {
      if (++depth_ > TExpressionParser0::kMaxNesting) return Fail(kCalcTooDeep, {}, start_);
      Next();
      if (!Expression(v)) return false;
      if (!IsOp(u')')) return FailAfterOperand("Operator or \")\"");
      --depth_;
      Next();
      return !failed_;
    }
    if (kind_ == kIdent) return Call(v);
    return Fail(kCalcExpected, "Expression", start_);
  }

  bool Call(TOperand& v) {
    const std::size_t at = start_;
    std::string name;
    TokenAscii(name);
    TRef<TCalcFunc> f = parser_.FindName(name);
    if (!f) return Fail(kCalcUnknownName, {}, at);
    Next();
    std::vector<TCalcArgInfo> args;
    if (IsOp(u'(')) {
      if (++depth_ > TExpressionParser0::kMaxNesting) return Fail(kCalcTooDeep, {}, start_);
      Next();
      for (;;) {
        TOperand a;
        if (!Expression(a)) return false;
        args.push_back(TCalcArgInfo{a.IsConst, a.Value});
        if (static_cast<std::int32_t>(args.size()) > f->ArgCount()) return Fail(kCalcCallError, {}, at);
        Materialise(a);
        if (IsOp(u',')) {
          Next();
          continue;
        }
        if (IsOp(u')')) break;
        return FailAfterOperand("Operator or \")\"");
      }
      --depth_;
      Next();
      if (failed_) return false;
    }
    if (static_cast<std::int32_t>(args.size()) != f->ArgCount()) return Fail(kCalcCallError, {}, at);
    EmitCall(std::move(f), args, v);
    return true;
  }

  TExpressionParser0& parser_;
  std::u16string_view text_;
  TCalcCmdList& list_;
  std::size_t pos_ = 0;
  std::size_t start_ = 0;
  TKind kind_ = kEnd;
  double number_ = 0;
  std::int32_t depth_ = 0;
  bool failed_ = false;
};

namespace {

// Lenient UTF-8 reading: a malformed byte reads as U+FFFD, which no token
// accepts.
std::u16string DecodeUtf8(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      ++i;
      continue;
    }
    std::size_t len = b >= 0xF0 && b < 0xF5 ? 4 : b >= 0xE0 && b < 0xF0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
    std::uint32_t cp = len == 4 ? b & 0x07u : len == 3 ? b & 0x0Fu : b & 0x1Fu;
    bool ok = len > 0 && i + len <= s.size();
    for (std::size_t k = 1; ok && k < len; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      ok = (c & 0xC0) == 0x80;
      cp = (cp << 6) | (c & 0x3Fu);
    }
    ok = ok && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF) && !(len == 3 && cp < 0x800) && !(len == 4 && cp < 0x10000);
    if (!ok) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += len;
  }
  return out;
}

}  // namespace

std::int32_t TExpressionParser0::Parse(const WideString& text, TCalcCmdList& list) {
  return TCalcCompiler(*this, text, list).Run();
}

std::int32_t TExpressionParser0::Parse(std::string_view text, TCalcCmdList& list) {
  const std::u16string wide = DecodeUtf8(text);
  return TCalcCompiler(*this, wide, list).Run();
}

TRef<TCalcFunc> TExpressionParser0::FindName(std::string_view name) {
  if (TRef<TCalcFunc> f = FindCalcFunction(name)) return f;
  if (Resolver) return Resolver(name);
  return nullptr;
}

}  // namespace oru
