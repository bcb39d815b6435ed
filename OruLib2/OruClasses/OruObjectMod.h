#pragma once
// Formula modifiers of slide objects: a block of the show description,
// attached to a key frame, whose formula ("fn") computes one animated value
// (the field named by "dst") per frame. A modifier is a value filter: it
// carries named, typed parameters like the colour filters do, and its
// value mapping runs the compiled formula.
//
// Names in a formula resolve in this order (after the calculator's
// registered functions): "T" (the time of the "dst" field) and
// "<field>.T" (the time of that field), "value" (the value being mapped),
// the keys of the modifier block (constants), then the owner's fields.
//
// One thread evaluates a modifier at a time (the slide's).
#include <atomic>
#include <cstdint>

#include "OruLib2/OruClasses/OruCalc.h"
#include "ZmLib/Graphics/zmObjectFilters.h"
#include "ZmLib/zmTypes.h"

namespace zm {
class TIniObject;
}

namespace oru {

using zm::WideString;

// Gives modifiers the times and fields of the object they animate.
class TOruModOwner {
public:
  // A function pushing the time of a field ("Pos.X", "Pos.T"); nil when
  // the name is no field.
  virtual TRef<TCalcFunc> GetTimeGetter(const WideString& field) = 0;
  // A function pushing a field's value; nil when the name is no field.
  virtual TRef<TCalcFunc> GetFieldGetter(const WideString& name) = 0;

protected:
  ~TOruModOwner() = default;
};

// The longest formula that is compiled, in characters.
constexpr std::int32_t kMaxModFormulaLength = 256;

// Program-wide: offer the formula itself as the first parameter.
extern std::atomic<bool> ObjectModFormulaEditing;

// Parameter types of a modifier's descriptions.
constexpr std::int32_t kModParamString = 0, kModParamInt = 1, kModParamFloat = 2, kModParamColor = 3,
                       kModParamCombo = 4;
// The type code of a type word (letter case ignored), -1 for others.
std::int32_t ModParamTypeOf(const WideString& word);
// One "pinfo" text ("name:..;id:..;type:..;range:..") as a parameter
// record; false when its type is not known.
bool ParseModParamInfo(const WideString& text, zm::TFilterParam& param);

class TOruObjectMod : public zm::TObjectFilter {
public:
  void Dispose() override;  // clears the command list
  // Runs the formula with "value" = value: the one value left on the stack
  // when every command ran, else 0.
  double MapValue(double value) override;
  // Reads "fn" and "dst" and compiles the formula; false on a parse error
  // or a formula too long.
  bool Prepare() override;
  std::int32_t GetKind() override { return zm::fkValue; }
  std::int32_t GetParamCount() override;
  zm::TFilterParamList GetParams() override;
  // The formula with the modifier's own keys written out as their values.
  WideString GetCaption() override;
  // Removes "Preset" when a value changed, and compiles again.
  bool SetParamText(std::int32_t index, const WideString& text) override;

  // Set before Load: the owner resolves times and fields while compiling.
  void SetOwner(TOruModOwner* owner) { owner_ = owner; }
  // Forgets the owner and the compiled formula (which refers to it): for
  // an owner that goes away while others still hold the modifier.
  void Detach();
  TOruModOwner* Owner() const { return owner_; }
  const WideString& Formula() const { return formula_; }
  const WideString& Dst() const { return dst_; }
  const TCalcCmdList& Commands() const { return cmds_; }
  std::int32_t ErrorCode() const { return errorCode_; }
  const std::string& ErrorText() const { return errorText_; }

private:
  TRef<TCalcFunc> Resolve(std::string_view name);

  TOruModOwner* owner_ = nullptr;
  WideString formula_;
  WideString dst_;
  TCalcCmdList cmds_;
  TCalcMachine machine_;  // cleared per run: as good as a fresh one
  double current_ = 0;    // "value" while mapping
  std::int32_t errorCode_ = 0;
  std::string errorText_;
  zm::TFilterParamList params_;  // built on first request
};

}  // namespace oru
