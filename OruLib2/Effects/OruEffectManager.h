#pragma once
// Effect definitions: the transitions between slides as the show
// description holds them. One main definition, the object "TheEffect" of
// type "AnEffect" in `main`, lists every transition family with its settings
// as child objects (the main entries); each slide's section holds its own
// "TheEffect", which either refers to a main entry by name ("ref") or carries
// its own settings. TORUEffectManager gives one TEffectProp per definition,
// answering name, family, duration, flags and keys with references resolved.
//
// Custom effects: the child objects of a definition are its
// sub-definitions; sub-definition i is checked when its "checked" is "1",
// and names, by its value (the object's type text), the section
// "effect_" + value of the show description that holds the effect slide.
//
// Slide indexes are 0-based; a slide's section is found through the slide
// order (GetSlideSection). The manager and its props are made and filled on
// one thread (the show source does it while it is built); afterwards they
// are only read, but for a slide's prop, made when it is first asked for:
// the show source completes every slide's definition while it is built
// (SlideEffectTime), so that making a prop later only reads the document,
// and asks for props under its lock.
#include <cstdint>
#include <utility>
#include <vector>

#include "ZmLib/Graphics/zmImage.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmLists.h"
#include "ZmLib/zmTypes.h"

namespace oru {

using zm::WideString;

// Family numbers ("stdidx") of the main entries.
constexpr std::int32_t kFamilyNone = -1;
constexpr std::int32_t kFamilyDefault = 0;
constexpr std::int32_t kFamilyDefOwnTime = 1;
constexpr std::int32_t kFamilyDissolve = 2;
constexpr std::int32_t kFamilyQuick = 3;
constexpr std::int32_t kFamilyHourHand = 4;
constexpr std::int32_t kFamilyShapes = 5;
constexpr std::int32_t kFamilyGates = 6;
constexpr std::int32_t kFamilyPage = 7;
constexpr std::int32_t kFamilyMosaic = 8;
constexpr std::int32_t kFamilyPush = 9;
constexpr std::int32_t kFamilySlide = 10;
constexpr std::int32_t kFamilyCurling = 11;
constexpr std::int32_t kFamilyFlip = 12;
constexpr std::int32_t kFamilySwap = 13;

// The synthetic references, in the order they join the main entries.
inline constexpr const char16_t* kWordDefault = u"default";
inline constexpr const char16_t* kWordDefOwnTime = u"defowntime";
inline constexpr const char16_t* kWordQuick = u"quick";
inline constexpr const char16_t* kWordCustom = u"custom";

// The show's screen ("opt_scr_width", "opt_scr_height"). Sides beyond
// kMaxScreenSide are taken for damage and replaced by the default.
constexpr std::int32_t kDefaultScreenWidth = 1920;
constexpr std::int32_t kDefaultScreenHeight = 1080;
constexpr std::int32_t kMaxScreenSide = 32767;
constexpr std::int32_t ValidScreenSide(std::int32_t v, std::int32_t def) {
  return v >= 1 && v <= kMaxScreenSide ? v : def;
}

// The time written into a main definition made because it was missing.
constexpr std::int32_t kNewMainEffectTime = 2000;

// The most slides a show may have (the slide order's limit): larger counts
// read from a description are cut to it.
constexpr std::int32_t kMaxEffectSlideCount = 100000;

// Finds the section of slide index i (0-based). Slide sections are reached
// through the show's slide order, which the show document keeps above this
// library; its module installs its lookup here. The default takes "Slide"
// followed by i + 1, the order of a show that plays in sequence.
using TSlideSectionProc = zm::TIniSection* (*)(const zm::TIniFile* project, std::int32_t i);
extern TSlideSectionProc SlideSectionProc;
// The default lookup; nil for a nil document.
zm::TIniSection* SequentialSlideSection(const zm::TIniFile* project, std::int32_t i);

class TORUEffectManager;

class TEffectProp : public zm::TRefObject {
public:
  // slideEffect: the definition of a slide (it may refer to a main entry);
  // else a main entry.
  TEffectProp(TORUEffectManager* owner, zm::TIniList* object, bool slideEffect);
  void Dispose() override;

  zm::TIniList* Object() const { return object_.get(); }
  TORUEffectManager* Owner() const { return owner_; }
  bool IsSlideEffect() const { return slideEffect_; }
  // A slide definition with a non-empty "ref".
  bool IsReference() const;
  WideString RefText() const;
  // The main entry that "ref" names (letter case ignored), nil when none.
  TEffectProp* Referenced() const;

  // The object's name for own settings; for a reference the referenced
  // entry's name, or the "ref" text when no entry has that name.
  virtual WideString GetName() const;
  // For a reference the referenced entry's family (0 "default",
  // 1 "defowntime", 3 "quick" when the name is not an entry, else -1);
  // otherwise "stdidx" (default -1).
  virtual std::int32_t GetFamily() const;
  // The duration in milliseconds (never negative; 0 for a value that is not
  // a number). A "defowntime" reference without a "time" of its own gets
  // one written, holding the main time.
  virtual double GetTime();

  // A key with references resolved: a reference takes its own key, else the
  // referenced entry's, else (when "ref" names no entry) the main
  // definition's; "caption" always comes from the referenced entry. A main
  // entry takes "time" from the main definition, every other key from its
  // own object.
  zm::TIniItem* FindKey(const WideString& name) const;
  WideString ReadString(const WideString& name, const WideString& def = {}) const;
  std::int32_t ReadInteger(const WideString& name, std::int32_t def) const;
  // def also for a value that is not a finite number.
  double ReadFloat(const WideString& name, double def) const;
  WideString GetCaption() const { return ReadString(u"caption"); }

  // The names of the keys that make up one variant ("key", split at ","),
  // of the referenced entry for a reference.
  const std::vector<WideString>& KeyNames() const;
  // 2 fully, 1 partly, 0 not: with key names, 2 when each named key has all
  // its flag characters set, 0 when any has none set (an empty value counts
  // as none), else 1; without, 2 when "checked" is "1", else 0.
  std::int32_t CheckedState() const;
  bool IsChecked() const { return CheckedState() != 0; }

  // ---- Sub-definitions of custom effects -------------------------------------------
  // The own object's child objects; for a reference without any, those of
  // the referenced entry.
  std::int32_t SubDefinitionCount() const;
  zm::TIniObject* SubDefinition(std::int32_t i) const;  // nil out of range
  bool IsSubDefinitionChecked(std::int32_t i) const;
  // The section "effect_" + the sub-definition's value; made when missing
  // and create is set (nil otherwise, and for a sub-definition without value).
  zm::TIniSection* SubDefinitionSection(std::int32_t i, bool create) const;
  // What a custom transition plays: the sub-definition's section when the
  // show has it, else the sub-definition object itself.
  zm::TIniList* SubDefinitionObject(std::int32_t i) const;
  // SubDefinitionObject of the first checked sub-definition, nil when none.
  zm::TIniList* FirstCheckedSubDefinition() const;

  // Writes the background keys of this definition into target: "bstyle"
  // and the keys of that style, "TransparentBg", "CoverMode" ("1") and the
  // manager's screen size as "opt_scr_width" and "opt_scr_height".
  void WriteBackgroundKeys(zm::TIniList* target) const;

  // Copies the effect's user properties ("sectionfield", "userprops" and
  // "prop" followed by a number; keys or object blocks, letter case
  // ignored) into target's "Root" container (made when missing): the own
  // object's first, then, for a reference, the referenced entry's that it
  // lacks. Each lands once: one of the same name already in the container
  // is replaced. Nothing happens when there are none.
  void CopyUserProps(zm::TIniList* target) const;

private:
  const std::vector<WideString>& OwnKeyNames() const;

  TORUEffectManager* owner_;  // the manager holds its props, not the reverse
  zm::TRef<zm::TIniList> object_;
  bool slideEffect_;
  mutable bool keyNamesRead_ = false;
  mutable std::vector<WideString> keyNames_;
};

class TORUEffectManager : public zm::TRefObject {
public:
  // Asserts the document ("There is no IniFile for EffectRuller"). A width or
  // height below 1 is replaced by `main` "opt_scr_width" (1920) or
  // "opt_scr_height" (1080).
  TORUEffectManager(zm::TIniFile* project, std::int32_t height, std::int32_t width);
  void Dispose() override;

  // `Times` "opt_slidescount", cut to 0 .. kMaxEffectSlideCount.
  virtual std::int32_t GetCount();
  virtual std::int32_t GetScreenWidth() { return width_; }
  virtual std::int32_t GetScreenHeight() { return height_; }
  virtual zm::TIniFile* GetIni() { return ini_.get(); }
  // The prop of slide i: its section's "TheEffect" (made with "ref" =
  // "default" when missing); nil when the slide has no section.
  virtual zm::TRef<TEffectProp> CreateEffect(std::int32_t i);
  virtual zm::TRef<TEffectProp> NewEffectProp(zm::TIniList* object, bool slideEffect);
  // The definitions changed: the props are made again on demand.
  virtual void Changed();
  virtual void ClearCaches();
  // Removes a real main entry from the main definition (not while a change
  // is under way); false when it is not one.
  virtual bool DeleteEffect(TEffectProp* entry);
  // The captions of main entry i; the second form is always empty.
  virtual WideString GetEntryCaption(std::int32_t i);
  virtual WideString GetEntryHint(std::int32_t i);

  // Several edits as one change: Changed runs when the last one ends.
  void BeginChange() { ++changing_; }
  void EndChange();
  bool Changing() const { return changing_ > 0; }

  // The slide prop of slide i (0 .. count - 1), made on first use; nil out
  // of range or without a section.
  TEffectProp* GetEffect(std::int32_t i);
  // The main definition, made with "time" = 2000 when missing.
  zm::TIniObject* GetMainEffectSection();
  // The main definition, nil when missing.
  zm::TIniObject* FindMainEffectSection() const;
  // The main "time" (0 without a main definition, or when not a number).
  double GetMainTime() const;

  // The main entries: the main definition's child objects, then "default",
  // "defowntime" and "quick" when the definition lacks them.
  std::int32_t GetMainEntryCount();
  TEffectProp* GetMainEntry(std::int32_t i);
  TEffectProp* FindMainEntry(const WideString& name);

  // The duration of slide i's effect, 0 without a prop; the main time for a
  // negative i.
  double GetEffectTime(std::int32_t i);
  // GetEffectTime of slide i (0 .. count - 1) without making its prop, the
  // definition completed as making and asking the prop would complete it
  // ("TheEffect" made when missing, a "defowntime" reference's "time").
  double SlideEffectTime(std::int32_t i);
  // The same completion of a slide's section (a section read late is
  // completed so before other threads see it).
  void CompleteSlideDefinition(zm::TIniSection* section);
  // The time of a completed slide section's definition, read only: what
  // SlideEffectTime gives for that slide. Any thread may ask.
  double CompletedSlideEffectTime(const zm::TIniSection* section) const;

  // The slides' sections by index, found all at once by whoever knows the
  // slide order (the show source): CreateEffect then takes slide i's section
  // from here instead of looking it up. Indexes past them are looked up.
  void SetSlideSections(std::vector<zm::TIniSection*> sections) { slideSections_ = std::move(sections); }

private:
  void BuildMainEntries();
  void IndexMainEntries();
  // Slide i's definition, made when its section lacks it; nil without a section.
  zm::TIniObject* SlideEffectObject(std::int32_t i);
  zm::TIniObject* SlideEffectObjectOf(zm::TIniSection* section);
  bool InSlideRange(std::int32_t i);

  zm::TRef<zm::TIniFile> ini_;
  std::int32_t width_;
  std::int32_t height_;
  std::int32_t changing_ = 0;
  bool addSynthetic_ = true;
  bool mainBuilt_ = false;
  std::vector<zm::TRef<TEffectProp>> mainProps_;
  // The first entry of each name any ASCII name is the same text as, by the
  // upper case of its characters (see FindMainEntry).
  zm::TNameTable mainByAscii_;
  std::int32_t realEntries_ = 0;
  std::vector<zm::TRef<TEffectProp>> slideProps_;
  std::vector<bool> slideTried_;
  std::vector<zm::TIniSection*> slideSections_;
};

// ---- Video clips ----------------------------------------------------------------------

// The first "VideoClip" object of `Tracks` (by name or type) whose
// "ClipGUID" equals guid (letter case ignored), nil when none.
zm::TIniList* FindVideoClipSection(const zm::TIniFile* project, const WideString& guid);
// The first "Root" object of type "Container" in target, added when missing.
zm::TIniObject* GetRootSection(zm::TIniList* target);
// The show time at which the first slide whose object tree holds a "Video"
// object with that "ClipGUID" begins: 0 for the first slide, else `Times`
// "opt_synchpos" + i; "KeyPoint" objects are not searched into. -1 when no
// slide has it, or when `main` or `Times` is missing.
double FindVideoStartTime(const zm::TIniFile* project, const WideString& guid);

// Name + ":" + the decimal index.
WideString JoinNameIndex(const WideString& name, std::int32_t i);
// The text after the first ":", empty when there is none.
WideString ExtractAfterFirstColon(const WideString& text);

// The tile layout of an animation strip lives with the pictures.
using TTilesTag = zm::TTilesTag;

}  // namespace oru
