#pragma once
// The expression calculator: a formula text is compiled once into a command
// list for a small stack machine of 64-bit floats and evaluated for every
// frame. Functions are reference-counted objects found by name in a
// process-wide registry (letter case ignored).
//
// Threads: the registry guards itself with one lock; a command list, a
// machine and a parser belong to one thread each. Registered function objects
// are shared by every thread, so they keep no state between calls.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmTypes.h"

namespace oru {

using zm::TRef;
using zm::WideString;

// ---- Stack machine ---------------------------------------------------------

// The top is held apart from the others so that the usual one-value
// operations touch no array. Pops and peeks on an empty stack answer false
// (or 0) instead of reading anything.
class TCalcMachine {
public:
  // Bounds the stack against runaway command lists.
  static constexpr std::int32_t kMaxDepth = 1 << 20;

  std::int32_t Count() const { return count_; }
  double Top() const { return count_ > 0 ? top_ : 0.0; }
  // Replaces the top value; false on an empty stack.
  bool SetTop(double v);
  bool Push(double v);  // false when the stack is full
  bool Pop(double& v);  // false on an empty stack
  // The i-th value from the bottom (0-based); 0 outside the stack.
  double Item(std::int32_t i) const;
  void Clear() { count_ = 0; }

private:
  std::int32_t count_ = 0;
  double top_ = 0;
  std::vector<double> rest_;  // the values below the top
};

// ---- Functions ---------------------------------------------------------------

class TCalcFunc;

// What the compiler knows about one argument of a call it is about to emit.
struct TCalcArgInfo {
  bool IsConst = false;
  double Value = 0;  // when IsConst
};

// A call being compiled: its arguments in order.
struct TCalcCallInfo {
  const TCalcArgInfo* Args = nullptr;
  std::int32_t ArgCount = 0;
};

class TCalcFunc : public zm::TRefObject {
public:
  TCalcFunc(std::string name, std::int32_t argCount);

  const std::string& Name() const { return name_; }
  std::int32_t ArgCount() const { return argCount_; }
  // Pure functions give the same result for the same arguments, so calls
  // with constant arguments are computed once at compile time.
  bool IsPure() const { return pure_; }

  // Pops the arguments and pushes the result; false when the machine does
  // not hold enough values (the machine is then left unchanged).
  virtual bool Execute(TCalcMachine& machine) const = 0;
  // A cheaper equivalent for this call, or false. The replacement takes the
  // first replacement->ArgCount() arguments; the others must be constants,
  // which the compiler then drops.
  virtual bool Optimize(const TCalcCallInfo& call, TRef<TCalcFunc>& replacement) const;
  // How the function prints in a command list.
  virtual std::string Text() const { return name_; }

protected:
  void SetPure(bool pure) { pure_ = pure; }

private:
  std::string name_;
  std::int32_t argCount_;
  bool pure_ = false;
};

// Takes numeric arguments: Execute pops them and pushes Calc of them.
class TMathFunc : public TCalcFunc {
public:
  static constexpr std::int32_t kMaxArgs = 16;
  // Pure by default.
  TMathFunc(std::string name, std::int32_t argCount);
  bool Execute(TCalcMachine& machine) const override;
  // args[0] is the first argument.
  virtual double Calc(const double* args) const = 0;
};

class TMathConst : public TMathFunc {
public:
  TMathConst(std::string name, double value);
  double Value() const { return value_; }
  double Calc(const double*) const override { return value_; }

private:
  double value_;
};

// Wrappers of plain routines of 0 to 3 arguments. The "Ext" ones take the
// routine in extended precision.
class TMathWrapper0 : public TMathFunc {
public:
  using TProc = double (*)();
  TMathWrapper0(std::string name, TProc proc, bool pure = true);
  double Calc(const double*) const override { return proc_(); }

private:
  TProc proc_;
};

class TMathWrapper1 : public TMathFunc {
public:
  using TProc = double (*)(double);
  TMathWrapper1(std::string name, TProc proc);
  double Calc(const double* a) const override { return proc_(a[0]); }

private:
  TProc proc_;
};

class TMathWrapper1Ext : public TMathFunc {
public:
  using TProc = long double (*)(long double);
  TMathWrapper1Ext(std::string name, TProc proc);
  double Calc(const double* a) const override { return static_cast<double>(proc_(a[0])); }

private:
  TProc proc_;
};

class TMathWrapper2Ext : public TMathFunc {
public:
  using TProc = long double (*)(long double, long double);
  TMathWrapper2Ext(std::string name, TProc proc);
  double Calc(const double* a) const override { return static_cast<double>(proc_(a[0], a[1])); }

private:
  TProc proc_;
};

class TMathWrapper3 : public TMathFunc {
public:
  using TProc = double (*)(double, double, double);
  TMathWrapper3(std::string name, TProc proc);
  double Calc(const double* a) const override { return proc_(a[0], a[1], a[2]); }

private:
  TProc proc_;
};

// Base to the power exponent; a constant exponent of 2 compiles to the square.
class TPowerOptFunc : public TMathFunc {
public:
  explicit TPowerOptFunc(std::string name);
  double Calc(const double* a) const override;
  bool Optimize(const TCalcCallInfo& call, TRef<TCalcFunc>& replacement) const override;
};

// A value supplied by the caller (a variable): 0 arguments, never folded.
class TCalcVariable : public TCalcFunc {
public:
  using TGetter = std::function<double()>;
  TCalcVariable(std::string name, TGetter getter);
  bool Execute(TCalcMachine& machine) const override;

private:
  TGetter getter_;
};

// ---- Commands -----------------------------------------------------------------

enum TCalcCode : std::int32_t {
  kCalcLoad = 0,
  kCalcNeg = 1,
  kCalcAdd = 2,
  kCalcSub = 3,
  kCalcMul = 4,
  kCalcDiv = 5,
  kCalcAddC = 6,
  kCalcMulC = 7,
  kCalcCSub = 8,
  kCalcCDiv = 9,
  kCalcCall = 10,  // a call's code is kCalcCall + its argument count
};

// "load", "neg", ... "cdiv", "call"; "" for a negative code.
const char* CalcCodeName(std::int32_t code);

struct TCalcCmd {
  std::int32_t Code = kCalcLoad;
  TRef<TCalcFunc> Func;  // calls only
  double Operand = 0;
};

class TCalcCmdList {
public:
  std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  // The i-th command; out of range fails an assertion.
  const TCalcCmd& operator[](std::int32_t i) const;

  // A plain command (codes 0 .. 9); a call code fails an assertion.
  void Add(std::int32_t code, double operand = 0);
  // A call of func (an assertion when nil).
  void AddCall(TCalcFunc* func);
  void Delete(std::int32_t i);  // a bad index is ignored
  void Clear();
  // Runs the commands in order; true when every command ran. A command that
  // finds too few values stops the run.
  bool Execute(TCalcMachine& machine) const;
  // Runs on a fresh machine: the one value left, else 0 (and ok false).
  double Evaluate(bool* ok = nullptr) const;
  // The commands separated by "; " ("load 2; mulc 3; call(1) Sin"), or
  // "--nocmd--" when empty.
  std::string Text() const;

private:
  void Grow();
  std::vector<TCalcCmd> items_;
};

// ---- Errors -----------------------------------------------------------------------

enum TCalcError : std::int32_t {
  kCalcNoError = 0,
  kCalcExpected = 1,
  kCalcInvalidNumber = 2,
  kCalcDivByZero = 3,
  kCalcUnknownName = 4,
  kCalcCallError = 5,
  kCalcTooDeep = 6,  // parentheses and calls nested past kMaxNesting
};

// "No Error", "Expected", "Invalid Number Format", "Division by Zerro",
// "Unknown Function or Variable", "Function Call Error",
// "Expression Nested Too Deeply"; "" for other codes.
const char* CalcErrorText(std::int32_t code);

// Reports each fold that drops a command or turns it into "neg", as
// "(addc 0 \drop)". Installed process-wide; nil reports nothing.
using TCalcTraceProc = void (*)(const std::string& text);
TCalcTraceProc SetCalcTraceHook(TCalcTraceProc proc);  // the previous hook
TCalcTraceProc GetCalcTraceHook();

// ---- Registry ---------------------------------------------------------------------

// Adds a reference to func; a later function of the same name hides an
// earlier one. Nil is ignored.
void RegisterCalcFunction(TCalcFunc* func);
// The function of that name (letter case ignored) with a reference taken,
// or nil. The built-in functions are registered on the first lookup.
TRef<TCalcFunc> FindCalcFunction(std::string_view name);

// ---- Parser -----------------------------------------------------------------------

// Compiles formula texts (see the grammar in the source). Constants are
// folded: operations with a constant operand become addc/mulc/csub/cdiv,
// calls of pure functions with constant arguments are computed, and
// functions may replace their calls (Optimize).
class TExpressionParser0 {
public:
  static constexpr std::int32_t kMaxNesting = 200;
  static constexpr double kTolerance = 0.00000001;

  // Looks up names that the registry does not know (the caller's
  // variables); nil answers refuse the name.
  using TResolver = std::function<TRef<TCalcFunc>(std::string_view name)>;
  TResolver Resolver;

  TExpressionParser0() = default;
  virtual ~TExpressionParser0() = default;

  // Clears list and compiles text into it; the error code (kCalcNoError on
  // success; a failed parse leaves the list empty). Blank text compiles to
  // an empty list. Byte text is UTF-8.
  std::int32_t Parse(const WideString& text, TCalcCmdList& list);
  std::int32_t Parse(std::string_view text, TCalcCmdList& list);

  std::int32_t ErrorCode() const { return errorCode_; }
  // 1-based character position of the fault in the text; 0 without error.
  std::int32_t ErrorPos() const { return errorPos_; }
  // The code's text plus what was expected ("Expected Operator or \")\"").
  const std::string& ErrorText() const { return errorText_; }

protected:
  // The function for a name: the registry first, then Resolver.
  virtual TRef<TCalcFunc> FindName(std::string_view name);

private:
  friend class TCalcCompiler;
  std::int32_t errorCode_ = 0;
  std::int32_t errorPos_ = 0;
  std::string errorText_;
};

// Module start and end: the registry is emptied and its functions released.
void InitCalc();
void FiniCalc();

}  // namespace oru
