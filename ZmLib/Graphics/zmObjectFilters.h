#pragma once
// Colour filters of show objects. A filter is bound to an ini object block
// of the show description (the block's name is the filter's registered
// name) and maps colours: the drawing side runs a chain of filters over a
// colour look-up table kept in a 32-bit bitmap (pixels in bytes blue, green,
// red, alpha) and draws the object through that table. Filters that treat
// each channel by itself need one row of the table; filters that mix
// channels need all of it (see GetFilterChainKind).
//
// Ownership: a filter owns the rest of its chain (Next); disposing it frees
// the chain behind it. The bound ini object is not owned and must outlive
// the filter's use of it.
//
// Threads: the registry and the cached parameter descriptors may be used
// from any thread. One filter (and its bound object) is changed by one
// thread at a time; a prepared chain may be applied by any number of
// threads at once.
#include <cstdint>
#include <memory>
#include <vector>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmByteString.h"
#include "ZmLib/zmTypes.h"

namespace zm {

class TIniObject;
class TSysBitmap;

// Kinds of a filter and of a chain.
constexpr std::int32_t fkNone = 0;     // empty chain
constexpr std::int32_t fkValue = 1;    // maps numbers (object modifiers)
constexpr std::int32_t fkChannel = 2;  // maps each colour channel by itself: one table row
constexpr std::int32_t fkMixed = 3;    // mixes channels: every table row

// Kinds of a parameter.
constexpr std::uint8_t fpkString = 0;
constexpr std::uint8_t fpkNumber = 1;
constexpr std::uint8_t fpkFloat = 2;
constexpr std::uint8_t fpkColor = 3;
constexpr std::uint8_t fpkEnum = 4;

// One parameter of a filter, as the filter editor shows it.
struct TFilterParam {
  WideString Key;   // the ini value that holds it
  WideString Text;  // shown, translated
  std::uint8_t Kind = fpkNumber;
  double Min = 0;
  double Max = 0;
  double Default = 0;
  // Enumerations: the stored values and the texts shown for them.
  std::vector<WideString> Values;
  std::vector<WideString> Texts;
};
// Shared and immutable: a list handed out stays valid after the cache that
// made it is rebuilt.
using TFilterParamList = std::shared_ptr<const std::vector<TFilterParam>>;

class TObjectFilter : public TRefObject {
public:
  TObjectFilter() = default;
  // Frees Next (and so the rest of the chain).
  void Dispose() override;

  // ---- The family's operations, in slot order -------------------------------------
  // Maps the first Width pixels of rows 0 .. Rows-1 of a 32-bit table in
  // place (alpha of the touched pixels 255), then copies row 0 over every
  // row from Rows to the last. Nothing in the base. A nil or non-32-bit
  // bitmap, or Width or Rows below 1, is left as it is; both are cut to the
  // bitmap.
  virtual void ApplyToBitmap(TSysBitmap* bitmap, std::int32_t width, std::int32_t rows);
  // The value mapping of value filters; 0 in the base.
  virtual double MapValue(double value);
  // Reads the parameters from the bound object into working values; false
  // when they cannot be used.
  virtual bool Prepare();
  virtual std::int32_t GetKind();  // fkChannel in the base
  virtual std::int32_t GetParamCount();
  virtual TFilterParamList GetParams();  // never nil
  // The text shown for the filter: the display name in the base.
  virtual WideString GetCaption();
  // The text of parameter Index (0-based); empty beyond the parameters.
  virtual WideString GetParamText(std::int32_t index);
  // Stores parameter Index in the bound object; true when the value changed
  // (the revision then goes up by one and is written back as "$rev").
  virtual bool SetParamText(std::int32_t index, const WideString& text);

  // Binds the filter to an ini object. The first binding takes the object's
  // "id" (a new GUID is stored when it has none) and "$rev"; later bindings
  // must meet the same "id" and "$rev", else false and nothing changes.
  // Then "Disable" is read and Prepare runs when the revision is new.
  bool Load(TIniObject* object);

  // ---- Fields -------------------------------------------------------------------
  TObjectFilter* Next = nullptr;  // owned
  const TByteString& Id() const { return id_; }
  TIniObject* IniObject() const { return object_; }
  std::int64_t Revision() const { return revision_; }
  std::int64_t PreparedRevision() const { return preparedRevision_; }
  const WideString& DisplayName() const { return displayName_; }
  void SetDisplayName(const WideString& name) { displayName_ = name; }
  bool NotPrepared() const { return notPrepared_; }
  bool Disabled() const { return disabled_; }
  void SetDisabled(bool disabled) { disabled_ = disabled; }

protected:
  TByteString id_;
  TIniObject* object_ = nullptr;
  std::int64_t revision_ = 0;
  std::int64_t preparedRevision_ = 0;
  WideString displayName_;
  bool notPrepared_ = false;
  bool disabled_ = false;
};

// A filter "class": makes a new filter (reference count 1).
using TObjectFilterClass = TObjectFilter* (*)();
template <class T>
TObjectFilter* NewObjectFilter() {
  TObjectFilter* f = new T();
  f->AfterConstruction();
  return f;
}

// ---- Per-channel linear map: v = trunc(c * k + b), clamped to 0..255 ------------------
class TLinearGenerator : public TObjectFilter {
public:
  void ApplyToBitmap(TSysBitmap* bitmap, std::int32_t width, std::int32_t rows) override;
  // "k" (default 1) and "d" (default 0): every channel k and d * 255.
  bool Prepare() override;
  float K[3] = {1, 1, 1};  // blue, green, red
  float B[3] = {0, 0, 0};
};

class TBrightContrastGenerator : public TLinearGenerator {
public:
  bool Prepare() override;  // "Bright" and "Contrast", -100..100
  std::int32_t GetParamCount() override;
  TFilterParamList GetParams() override;
};

class TInvertColor : public TLinearGenerator {
public:
  bool Prepare() override;  // k = -1, b = 255
};

class TLevelsGenerator : public TObjectFilter {
public:
  void ApplyToBitmap(TSysBitmap* bitmap, std::int32_t width, std::int32_t rows) override;
  bool Prepare() override;  // "Min", "Med", "Max"
  std::int32_t GetParamCount() override;
  TFilterParamList GetParams() override;
  std::uint8_t InMin = 0;
  double Gamma[3] = {1, 1, 1};
  double Scale[3] = {1.0 / 255, 1.0 / 255, 1.0 / 255};
  std::uint8_t OutMin[3] = {0, 0, 0};
  std::uint8_t OutMax[3] = {255, 255, 255};
};

// Blends every pixel toward the colour times its luminance.
class TColorizationGenerator : public TObjectFilter {
public:
  void ApplyToBitmap(TSysBitmap* bitmap, std::int32_t width, std::int32_t rows) override;
  bool Prepare() override;  // "Color" and "Amount" (0..100)
  std::int32_t GetKind() override;
  std::int32_t GetParamCount() override;
  TFilterParamList GetParams() override;
  // "<preset>: <display name>" while "Preset" is set.
  WideString GetCaption() override;
  // Also drops "Preset" when a value changed.
  bool SetParamText(std::int32_t index, const WideString& text) override;
  float Amount = 1;  // 0..1
  std::uint8_t ColorB = 0, ColorG = 0, ColorR = 0;

protected:
  // The target of channel c with colour component C and luminance L.
  virtual std::int32_t Target(std::int32_t c, std::int32_t C, std::int32_t L) const;
};

// Target (C * c) shr 8.
class TColorMultiply : public TColorizationGenerator {
protected:
  std::int32_t Target(std::int32_t c, std::int32_t C, std::int32_t L) const override;
};

// Target min((C * c) shr 7, 255).
class TDoubleColorMultiply : public TColorizationGenerator {
protected:
  std::int32_t Target(std::int32_t c, std::int32_t C, std::int32_t L) const override;
};

class THSLGenerator : public TObjectFilter {
public:
  void ApplyToBitmap(TSysBitmap* bitmap, std::int32_t width, std::int32_t rows) override;
  bool Prepare() override;  // "Hue" -180..180, "Saturation" and "Lightness" -100..100
  std::int32_t GetKind() override;
  std::int32_t GetParamCount() override;
  TFilterParamList GetParams() override;
  std::int32_t Hue = 0;  // shifts on the 0..255 scale
  std::int32_t Saturation = 0;
  std::int32_t Lightness = 0;
};

// ---- Colour presets of the colorisation filters ------------------------------------
struct TColorPreset {
  WideString Name;   // stored in "Preset"
  WideString Text;   // shown, translated
  WideString Color;  // colour text; empty for "Custom"
};
std::vector<TColorPreset> ColorPresets();

// ---- Registry ---------------------------------------------------------------------
class TFilterInfo : public TRefObject {
public:
  TFilterInfo* Next = nullptr;  // owned by the registry
  WideString Name;
  WideString DisplayName;
  TObjectFilterClass Class = nullptr;
};

// Adds a kind in front of the registry; an empty display name takes Name.
// A nil class or empty name is ignored.
void RegisterObjectFilter(TObjectFilterClass filterClass, const WideString& name,
                          const WideString& displayName = {});
// The registered kinds, the latest first.
std::vector<TRef<TFilterInfo>> ObjectFilterInfos();
// A new filter for the object (its name compared with the registered names
// ignoring case), bound to it; nil for a nil object or an unknown name.
TRef<TObjectFilter> CreateObjectFilter(TIniObject* object);

// ---- Chains (raw pointers: the chain's head owns the rest) --------------------------------
// Filter in front of Chain; Chain when Filter is nil.
TObjectFilter* PrependFilter(TObjectFilter* filter, TObjectFilter* chain);
TObjectFilter* ReverseFilterChain(TObjectFilter* chain);
// The chain's Next, cut off its first filter; nil for an empty chain.
TObjectFilter* TakeFilterTail(TObjectFilter*& chain);
void FreeFilterChain(TObjectFilter*& chain);
// ApplyToBitmap or MapValue of every enabled filter, the last first.
void ApplyFilterChain(TObjectFilter* chain, TSysBitmap* bitmap, std::int32_t width, std::int32_t rows);
void ApplyValueFilters(TObjectFilter* chain, double& value);
void ApplyValueFiltersSingle(TObjectFilter* chain, float& value);
// The highest kind of the enabled filters (fkNone for none). A value filter
// followed by a colour filter fails the assertion
// "Error: Value filters can`t be combined".
std::int32_t GetFilterChainKind(TObjectFilter* chain);
// The sum of the revisions as decimal text for cache keys; empty when the
// sum is not above 0.
TByteString GetFilterChainRevision(TObjectFilter* chain);

// Module start and end: the built-in kinds and the cached lists.
void InitObjectFilters();
void FiniObjectFilters();

}  // namespace zm
