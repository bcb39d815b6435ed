#pragma once
// The animation of one slide object: its key frames as read from the
// object's block of the show description, and the object's state (15
// parameter values) at any show time, interpolated between key frames and
// shaped by formula modifiers.
//
// Times are milliseconds held as doubles. Parameter and group indexes are
// 0-based. One thread updates a set of properties (the slide's); nothing
// here takes a lock.
#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "OruLib2/OruClasses/OruObjectMod.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmTypes.h"

namespace oru {

using zm::WideString;

constexpr std::int32_t kKeyFrameParamCount = 15;
constexpr std::int32_t kKeyFrameGroupCount = 8;

// Parameter indexes.
constexpr std::int32_t kParamOpacity = 0, kParamPosX = 1, kParamPosY = 2, kParamPosZ = 3, kParamScaleX = 4,
                       kParamScaleY = 5, kParamAngle = 6, kParamAngleX = 7, kParamAngleY = 8, kParamCenterX = 9,
                       kParamCenterY = 10, kParamBlur = 11, kParamFrameZoom = 12, kParamFrameX = 13,
                       kParamFrameY = 14;
// Group indexes (bit g of a key frame's mask).
constexpr std::int32_t kGroupOpacity = 0, kGroupPos = 1, kGroupScale = 2, kGroupAngle = 3, kGroupCenter = 4,
                       kGroupBlur = 5, kGroupColor = 6, kGroupFrame = 7;

struct TKeyFrameParamInfo {
  std::int32_t Index;
  const char16_t* Name;
  std::int32_t Group;
  const char16_t* Key;
  std::int32_t PairElement;  // -1, or 0 / 1 for the numbers of a pair key
  double Default;
  double Multiplier;  // from the stored units to the working ones
};

extern const std::array<TKeyFrameParamInfo, kKeyFrameParamCount> KeyFrameParams;
extern const std::array<const char16_t*, kKeyFrameGroupCount> KeyFrameGroupNames;
// The key-frame origin words, by code.
extern const std::array<const char16_t*, 4> KeyFrameOriginNames;

// Fails an assertion when a table is unusable (indexes out of place, a zero
// multiplier, a group out of range, other than two pair keys).
void CheckKeyFrameParamTable(std::span<const TKeyFrameParamInfo> table);

// Object type codes; 0 for an unknown word.
constexpr std::int32_t kOruObjFrame = 1, kOruObjBox = 2, kOruObjSplitter = 3, kOruObjImage = 4,
                       kOruObjAniImage = 5, kOruObjText = 6, kOruObjButton = 7, kOruObjVideo = 8,
                       kOruObjViewport = 9, kOruObjMaskStencil = 10, kOruObjMaskContent = 11;
std::int32_t OruObjectTypeOf(const WideString& word);  // letter case ignored
WideString OruObjectTypeName(std::int32_t type);       // empty for unknown codes
// The group bits an object of the type keeps.
std::uint8_t KeyFrameGroupMaskFor(std::int32_t objectType);

// A parameter ("Pos.X", "Opacity") or the time of a group: the group's
// name or one of its parameters' names followed by ".T" ("Pos.T",
// "Pos.X.T", "Frame.S.T"); group part without letter case.
struct TParamRef {
  std::int32_t Group = -1;
  std::int32_t Param = -1;  // -1 for a group's time
  bool IsTime() const { return Group >= 0 && Param < 0; }
  bool IsValid() const { return Group >= 0; }
};
TParamRef ParseParamRef(const WideString& name);

// The program-wide switch of formula modifiers.
extern std::atomic<bool> ObjectModifiersEnabled;

// Show times an object's key frames count from.
struct TOruTimeFrame {
  double SlideBegin = 0;
  double PrevEffectEnd = 0;
  double NextEffectBegin = 0;
  double SlideEnd = 0;
  double OriginTime(std::int32_t origin) const;
};

class TOruObjectProps;
class TOruObject;

class TOruKeyFrame : public zm::TRefObject {
public:
  // Appends a new key frame (with a new "KeyPoint" block when the
  // properties have a section); the properties own it.
  static TOruKeyFrame* Create(TOruObjectProps* props);

  void Dispose() override;

  // Asserts 0 <= i < 15. The stored value (from the parameter's modifier
  // block when that holds the key) when the group bit is set, else the
  // default; returns whether the bit is set.
  bool GetParam(std::int32_t i, double& value) const;
  // Stores the value, sets the group bit, writes "grps" and marks the list
  // changed.
  void SetParam(std::int32_t i, double value);

  TOruObjectProps* Props() const { return props_; }
  zm::TIniObject* IniObject() const { return ini_; }
  std::int32_t Origin() const { return origin_; }
  double Time() const { return time_; }               // absolute
  std::int64_t RelativeTime() const { return relTime_; }  // as loaded
  std::uint8_t Groups() const { return groups_; }
  // The raw value the interpolation uses (default when the group is unset).
  double Value(std::int32_t i) const { return values_[static_cast<std::size_t>(i)]; }
  std::span<const TRef<TOruObjectMod>> ParamMods(std::int32_t i) const;
  std::span<const TRef<TOruObjectMod>> GroupMods(std::int32_t g) const;
  // The colour filters of the key frame (a chain; nil when none).
  zm::TObjectFilter* Filters() const { return filters_; }

private:
  friend class TOruObjectProps;
  explicit TOruKeyFrame(TOruObjectProps* props) : props_(props) {}

  void Load(zm::TIniObject* ini);
  void ClearChildren();
  void LoadChildren();
  void ReadValues();
  void UpdateTime(double factor);
  zm::TIniList* ValueStore(std::int32_t i) const;

  TOruObjectProps* props_;
  zm::TIniObject* ini_ = nullptr;
  zm::TIniObject* ownIni_ = nullptr;  // when the properties have no section
  std::int32_t origin_ = 0;
  std::int64_t relTime_ = 0;
  double time_ = 0;
  std::uint8_t groups_ = 255;
  std::array<std::array<double, 2>, 2> pairs_{};  // "Position", "CenterPos"
  std::array<double, kKeyFrameParamCount> values_{};
  std::array<std::vector<TRef<TOruObjectMod>>, kKeyFrameParamCount> paramMods_;
  std::array<std::vector<TRef<TOruObjectMod>>, kKeyFrameGroupCount> groupMods_;
  zm::TObjectFilter* filters_ = nullptr;
};

// The key frames of an object, sorted by time (equal times keep their
// order), with a counter bumped on every change.
struct TOruKeyFrameList {
  std::vector<TOruKeyFrame*> Items;  // owned references
  std::uint32_t ChangeCount = 0;
  bool Changed = false;
};
TOruKeyFrame* GetKeyFrame(const TOruKeyFrameList& list, std::int32_t i);  // nil out of range
void SetKeyFramesChanged(TOruKeyFrameList& list, bool flag);

class TOruObjectProps : public zm::TRefObject, public TOruModOwner {
public:
  TOruObjectProps();
  void Dispose() override;

  // Reads the object's block; key frames and child properties already held
  // are reused. A child without "GUID" gets one written into it.
  void LoadFromIni(zm::TIniList* section);
  void ApplyAspect(std::int32_t width, std::int32_t height);
  // Indexes 4 and 5: width and height in percent of the slide. Bad indexes
  // are ignored.
  void SetBaseParam(std::int32_t i, double value);
  double BaseParam(std::int32_t i) const;
  // Sets the time frame and scales the loaded times by factor (rounded),
  // for the children too.
  void ScaleTimes(const TOruTimeFrame& frame, double factor);
  void UpdateAtTime(double time, bool withChildren);
  // The time of the last UpdateAtTime (0 before the first).
  double LocalTime() const { return localTime_; }

  // The slide object drawn from these properties (not owned; one at most).
  // Bind answers false when another object is bound already; Unbind only
  // clears the slot when Object is the bound one.
  TOruObject* BoundObject() const { return bound_; }
  bool Bind(TOruObject* object);
  void Unbind(TOruObject* object);

  // The item of Key in the object's section; nil without a section.
  static zm::TIniItem* FindItem(const TOruObjectProps* props, const WideString& key);
  static WideString ReadString(const TOruObjectProps* props, const WideString& key, const WideString& def);

  // ---- State after UpdateAtTime -------------------------------------------------
  // The working value (stored value times the multiplier; the scales take
  // the aspect factors instead).
  double Param(std::int32_t i) const;
  // The value in stored units, as modifiers see it.
  double RawParam(std::int32_t i) const;
  // The key frames around the time for a group (nil when the group has
  // none) and the fraction between them after modifiers.
  TOruKeyFrame* GroupFrameA(std::int32_t g) const;
  TOruKeyFrame* GroupFrameB(std::int32_t g) const;
  double GroupFraction(std::int32_t g) const;
  // The fraction before modifiers: the "time" of the group for formulas.
  double GroupTime(std::int32_t g) const;

  // ---- Modifier owner ---------------------------------------------------------------
  TRef<TCalcFunc> GetTimeGetter(const WideString& field) override;
  TRef<TCalcFunc> GetFieldGetter(const WideString& name) override;

  zm::TIniList* Section() const { return section_; }
  std::int32_t ObjectType() const { return objectType_; }
  const zm::TByteString& GUID() const { return guid_; }
  TOruKeyFrameList& KeyFrames() { return keyFrames_; }
  const TOruKeyFrameList& KeyFrames() const { return keyFrames_; }
  std::int32_t ChildCount() const { return static_cast<std::int32_t>(children_.size()); }
  TOruObjectProps* Child(std::int32_t i) const;  // nil out of range
  double AspectX() const { return aspectX_; }
  double AspectY() const { return aspectY_; }
  const TOruTimeFrame& TimeFrame() const { return frame_; }
  double DeltaTime1() const { return deltaTime1_; }
  double DeltaTime2() const { return deltaTime2_; }
  bool TreeNode() const { return treeNode_; }
  bool AnimEnabled() const { return animEnable_; }

private:
  friend class TOruKeyFrame;
  void LoadLevel(zm::TIniList* section, std::int32_t depth);
  void SortKeyFrames();
  void RebuildGroups();
  void UpdateGroup(std::int32_t g, double time);

  zm::TIniList* section_ = nullptr;
  TOruObject* bound_ = nullptr;
  double localTime_ = 0;
  std::int32_t objectType_ = 0;
  zm::TByteString guid_;
  TOruKeyFrameList keyFrames_;
  std::array<double, kKeyFrameParamCount> base_{};
  double aspectX_ = 0.01;
  double aspectY_ = 0.01;
  TOruTimeFrame frame_;
  double timeFactor_ = 1;
  double loadedDelta1_ = 0, loadedDelta2_ = 0;
  double deltaTime1_ = 0, deltaTime2_ = 0;
  bool treeNode_ = false;
  bool animEnable_ = true;
  std::vector<TRef<TOruObjectProps>> children_;

  // Per group: its key frames in time order (rebuilt when the list's
  // change counter moves) and the index of the last frame at or before the
  // time of the previous call (-1 before the first).
  std::uint32_t groupsBuiltFor_ = 0xFFFFFFFFu;
  std::array<std::vector<TOruKeyFrame*>, kKeyFrameGroupCount> groupFrames_;
  std::array<std::int32_t, kKeyFrameGroupCount> groupMemo_{};
  std::array<TOruKeyFrame*, kKeyFrameGroupCount> groupA_{};
  std::array<TOruKeyFrame*, kKeyFrameGroupCount> groupB_{};
  std::array<double, kKeyFrameGroupCount> groupF_{};
  std::array<double, kKeyFrameGroupCount> groupT_{};
  std::array<double, kKeyFrameParamCount> raw_{};
  std::array<double, kKeyFrameParamCount> values_{};
};

// Expression functions that read the properties' state during an update.
class TParamGetter : public TCalcFunc {
public:
  TParamGetter(std::string name, TOruObjectProps* props, std::int32_t index);

protected:
  TOruObjectProps* props_;
  std::int32_t index_;
};
// The time (fraction before modifiers) of a group.
class TTimeGetter : public TParamGetter {
public:
  using TParamGetter::TParamGetter;
  bool Execute(TCalcMachine& machine) const override;
};
// A parameter's value in stored units.
class TFieldGetter : public TParamGetter {
public:
  using TParamGetter::TParamGetter;
  bool Execute(TCalcMachine& machine) const override;
};

void InitOruObjectProps();
void FiniOruObjectProps();

}  // namespace oru
