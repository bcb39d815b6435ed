#pragma once
// TOruSource: the opened show as the player sees it. It reads the options
// of the show description that every later stage needs, builds the time line
// of the slides (when each starts and ends, how long the transitions into
// and out of it last), answers which slide is on screen at a show time, and
// gives each slide its transition, end action and run-a-program action.
//
// Show times are milliseconds as doubles; slide indexes are 0-based. Indexes
// at or past the slide count address the repeated passes of the show.
//
// Made on one thread; the engine, the slide producer and the music player
// read it from theirs. Only GetSlideEffect changes state (the transition
// pool's cursor and parity, the slide's effect prop made on first use),
// under a lock of its own. A slide's transition length and actions are read
// from its section when first asked for, under another lock: the time line
// of a long show is made from its slide times alone, and a section its
// description reads late is completed (its definition made when missing)
// before anyone sees it.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "OruLib2/Effects/OruEffectManager.h"
#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruClasses/OruSlideRandomList.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmTypes.h"

namespace oru {

using zm::WideString;

// Transition families as the renderer knows them (TOruEffect::Kind).
constexpr std::int32_t kEffectDissolve = 1;
constexpr std::int32_t kEffectHourHand = 2;
constexpr std::int32_t kEffectShapes = 3;
constexpr std::int32_t kEffectGates = 4;
constexpr std::int32_t kEffectPage = 5;
constexpr std::int32_t kEffectMosaic = 6;
constexpr std::int32_t kEffectPush = 7;
constexpr std::int32_t kEffectSlide = 8;
constexpr std::int32_t kEffectCurling = 9;
constexpr std::int32_t kEffectFlip = 10;
constexpr std::int32_t kEffectSwap = 11;
constexpr std::int32_t kEffectCustom = 12;  // an effect slide (CustomObject)

// Smoothing values below this are stored as kMinSmoothline.
constexpr double kSmoothlineThreshold = 0.1;
constexpr double kMinSmoothline = 0.001;

// One transition as the renderer needs it.
class TOruEffect : public zm::TRefObject {
public:
  void Dispose() override;
  // A copy with the same settings and definition object.
  zm::TRef<TOruEffect> Clone() const;

  double Smoothline = kMinSmoothline;
  std::int32_t Kind = 0;
  std::int32_t Variants = 0;  // how many variants it can play
  std::vector<std::int32_t> Ints;
  std::vector<float> Floats;
  std::vector<std::uint8_t> Flags;  // 0 or 1
  // For a custom effect: the definition it plays (section or object).
  zm::TRef<zm::TIniList> CustomObject;
};

// Reads the transition of one family from a definition (keys resolved
// through the definition's references); nil when the definition gives no
// variant. kind is one of the kEffect... numbers 1 .. 11. With defaults,
// the keys a variant is made of that nobody gives take the family's own
// settings (a clock hand, a circle, the first direction, a mosaic of 8 x 6
// tiles), and *defaulted tells whether one did.
zm::TRef<TOruEffect> ReadFamilyEffect(std::int32_t kind, const TEffectProp& definition, bool defaults = false,
                                      bool* defaulted = nullptr);
// The family (TOruEffect::Kind) of a word such as "dissolve"; 0 for others.
std::int32_t EffectKindOfWord(const WideString& word);
// The family (TOruEffect::Kind) of a main entry's "stdidx"; 0 for none.
std::int32_t EffectKindOfFamily(std::int32_t family);
// A copy of effect restricted to variant v (0 .. Variants - 1): for families
// with an action and a direction group, the v-th enabled (action, direction)
// pair, actions first; for the others the v-th enabled flag (of the four
// directions for "flip").
zm::TRef<TOruEffect> RestrictToVariant(const TOruEffect& effect, std::int32_t v);

// The first five fields of a time-line record, as GetSlideSpan gives them.
struct TSlideSpan {
  double Start = 0;         // the end of the previous slide
  double End = 0;           // this slide's "opt_synchpos"
  double OwnLength = 0;     // this slide's transition, at most End - Start
  double NextLength = 0;    // the following slide's transition
  double VisibleUntil = 0;  // End + NextLength
};

// Start and end of the span before the first slide (index -1) and before
// that (index < -1).
// The text of a command a show names (a slide's RunAppFN, the program or
// show it opens on exit), made only as long as a system could start it: a
// longer value comes back cut just past what the system starts, so that
// the start's measure refuses it without the whole text ever being made.
WideString ShowCommandText(const zm::TIniItem* item);

constexpr double kBeforeShowStart = -1073741823.0;
constexpr double kLongBeforeShowStart = -2147483647.0;

// "opt_repeat".
constexpr std::int32_t kRepeatLoop = 0;   // "repeat"
constexpr std::int32_t kRepeatClose = 1;  // "close"
constexpr std::int32_t kRepeatStop = 2;   // "stop"

class TOruSource : public zm::TRefObject {
public:
  // Both must be given (assertion). With ownsAccessor the source takes over
  // the caller's references to the accessor and the description and frees
  // them when it goes (also when the constructor fails); otherwise the
  // caller keeps both alive longer than the source. The source itself only
  // hands the accessor out. Screen-saver mode holds when the program's own
  // file name ends in ".scr"; the second form sets it.
  TOruSource(TFileAccessor* fileAccessor, bool ownsAccessor, zm::TIniFile* project);
  TOruSource(TFileAccessor* fileAccessor, bool ownsAccessor, zm::TIniFile* project, bool screenSaver);
  void Dispose() override;

  // The time-line record of any slide index, the returned number being its
  // pass (loop) of the show: Index >= count wraps into later passes, moved
  // by whole show lengths; -1 is the span before the show; below -1 the one
  // before that.
  std::int32_t GetSlideSpan(std::int32_t index, TSlideSpan& span) const;
  // Only the start and end of GetSlideSpan: no slide's section is read.
  std::int32_t GetSlideBounds(std::int32_t index, double& start, double& end) const;
  // The slide on screen at a show time: the first index (from -1 on) whose
  // span holds it, a boundary belonging to the earlier slide. -1 for times
  // up to 0, for times of a show that has no length, and for times so late
  // that their index would not fit in 32 bits.
  std::int32_t SlideAtTime(double time) const;
  // The transition into slide index (wrapped by the slide count), with its
  // time and smoothing; nil (time 0) when there is none.
  zm::TRef<TOruEffect> GetSlideEffect(std::int32_t index, double& time, float& smoothline);
  // True for "pause" and "loop"; for "loop" duration is the span without the
  // slide's own transition.
  bool GetSlideEndAction(std::int32_t index, double& duration) const;
  bool GetSlideRunApp(std::int32_t index, WideString& fileName) const;

  // Fixed-seed mode: transitions drawn from the pool depend on the slide
  // index and the seed only (repeatable runs); otherwise they are random.
  void SetFixedSeed(bool on, std::uint32_t seed);

  // ---- Options and parts ------------------------------------------------------------
  zm::TIniFile* Project() const { return project_; }
  TFileAccessor* FileAccessor() const { return accessor_; }
  TORUEffectManager* EffectManager() const { return effects_.get(); }
  zm::TIniSection* MainSection() const { return main_; }
  zm::TIniSection* TimesSection() const { return times_; }
  std::int32_t SlideCount() const { return count_; }
  std::int32_t RepeatMode() const { return repeat_; }
  double ShowLength() const { return length_; }
  bool ScreenSaver() const { return screenSaver_; }
  bool PauseWhenInactive() const { return pauseWhenInactive_; }
  // The colour outside the show's picture: red, green, blue.
  const std::uint8_t* HiderColor() const { return hider_; }
  double UnsharpAmount() const { return unsharp_; }
  double MainEffectTime() const { return mainEffectTime_; }
  std::int32_t ScreenWidth() const;
  std::int32_t ScreenHeight() const;
  // The slide's identity text; empty outside 0 .. count - 1.
  WideString SlideId(std::int32_t index) const;
  // The slide's section (through the slide order), nil when absent. The
  // sections of slides 0 .. count - 1 are found once, when the source is
  // made: a later change of the slide order does not move them.
  zm::TIniSection* SlideSection(std::int32_t index) const;
  std::int32_t PoolSize() const { return static_cast<std::int32_t>(pool_.size()); }
  TOruEffect* PoolEffect(std::int32_t i) const;  // in pool order; nil out of range

  // True when the program's own file name ends in ".scr" (letter case ignored).
  static bool IsScreenSaverProgram();

  // Why a description cannot be made a source (the constructor fails), in
  // words that name the key to mend: "opt_synchpos3=8000 is before
  // opt_synchpos2=10000 ...", "opt_synchpos2 is missing ...",
  // "opt_slidescount=three in [Times] is not a whole number ...". Empty
  // when it can.
  static WideString DescriptionFault(zm::TIniFile* project);
  // The slides never on screen because they end as they start (ends that
  // do not grow, such as lengths written where ends belong), named by their
  // keys; empty when every slide shows.
  WideString UnseenSlidesNote() const;

private:
  // Fills timeKeys with the "opt_synchpos" keys of the slides.
  void ReadOptions(std::vector<std::int32_t>& times);
  // Fails "Incorrect ..." for a description whose slide count, slide times
  // or other counts and times are not whole numbers from 0 to 2^31 - 1.
  void CheckCountsAndTimes(std::vector<std::int32_t>& times) const;
  void BuildPool();
  void BuildTimeLine(const std::vector<std::int32_t>& times);
  // A section of the description read late: a slide's is completed.
  void CompleteLateSection(zm::TIniSection& section);
  // Slide k's (0 .. count - 1) transition length and actions, read once.
  double OwnLength(std::int32_t k) const;
  double NextLength(std::int32_t k) const;
  void ReadActions(std::int32_t k) const;
  std::int32_t WrapIndex(std::int32_t index) const;
  zm::TRef<TOruEffect> DrawFromPool(std::int32_t index);
  zm::TRef<TOruEffect> MakeSlideEffect(std::int32_t index, const TEffectProp& prop, const WideString& word);
  // What the log says of a slide's transition that is not played as the
  // show names it: once a slide.
  void LogSlideEffect(std::int32_t index, const WideString& text);
  void ShufflePool();
  zm::TRef<TOruEffect> GenericEffect(zm::TIniList* definition) const;

  zm::TRef<TORUEffectManager> effects_;
  zm::TIniFile* project_ = nullptr;
  TFileAccessor* accessor_ = nullptr;
  bool owns_ = false;
  zm::TIniSection* main_ = nullptr;
  zm::TIniSection* times_ = nullptr;
  // Held so that the show's slide order stays registered while it is open.
  zm::TRef<TSlideRandomList> slideOrder_;
  // One record per slide: its times and section from the start, the rest
  // once its flag in read_ says so.
  struct TSlideRecord {
    double Start = 0;
    double End = 0;  // "opt_synchpos"
    zm::TIniSection* Section = nullptr;  // through the slide order, nil when absent
    double OwnLength = 0;                // its transition, at most End - Start
    std::int8_t EndAction = -1;          // "Pers_EndAction": 0 timer, 1 pause, 2 loop, -1 none
    bool RunApp = false;                 // "Pers_RunApp" with a "RunAppFN"
  };
  static constexpr std::uint8_t kOwnLengthRead = 1;
  static constexpr std::uint8_t kActionsRead = 2;
  std::vector<TSlideRecord> records_;
  mutable std::unique_ptr<std::atomic<std::uint8_t>[]> read_;
  mutable std::mutex readLock_;
  // The slides' sections in address order, for the late section hook.
  std::vector<const zm::TIniSection*> slideSections_;
  std::int32_t count_ = 0;
  std::int32_t repeat_ = kRepeatLoop;
  double length_ = 0;
  // Choice state of the transition pool.
  bool fixedSeed_ = false;
  std::uint32_t seed_ = 0;
  bool parity_ = false;
  std::uint32_t cursor_ = 0;
  std::uint8_t hider_[3] = {0, 0, 0};
  double unsharp_ = 0;
  double mainEffectTime_ = 0;
  std::vector<zm::TRef<TOruEffect>> pool_;
  std::vector<std::int32_t> poolOrder_;
  bool screenSaver_ = false;
  bool pauseWhenInactive_ = true;
  std::vector<bool> effectLogged_;  // by slide, under poolLock_
  std::mutex poolLock_;
};

}  // namespace oru
