#include "OruLib2/OruClasses/zmOruSource2.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "OruLib2/OruClasses/OruPropValues.h"
#include "OruLib2/OruClasses/OruSlideRandomList.h"
#include "Platform/PlatProcess.h"
#include "ZmLib/Text/zmWideStringUtils.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmLog.h"
#include "ZmLib/zmRandom.h"

namespace oru {

using namespace zm;

namespace {

// A mosaic of more tiles a side than this is taken for damage.
constexpr std::int32_t kMaxMosaicTiles = 512;
constexpr std::int32_t kSeedRange = 4096;

const WideString kRepeatWords[] = {u"repeat", u"close", u"stop"};

float ToSingle(double v, float def) {
  if (!std::isfinite(v) || std::fabs(v) > std::numeric_limits<float>::max()) return def;
  return static_cast<float>(v);
}

// The keys of a definition, with a family's own settings for those nobody
// gives when Use is set.
struct TKeyDefault {
  const TEffectProp& Def;
  bool Use;
  bool* Used;
  // The key's text, its default when it is absent and defaults are asked for.
  WideString Read(const char16_t* key, const char16_t* dflt) const {
    if (Use && dflt && !Def.FindKey(key)) {
      if (Used) *Used = true;
      return dflt;
    }
    return Def.ReadString(key);
  }
};

// The flag characters of a key: flag j is set when character j is "1";
// dflt, when given, is the family's own text for the key.
void ReadFlags(const TKeyDefault& def, const char16_t* key, std::int32_t n, std::vector<std::uint8_t>& flags,
               std::size_t at, const char16_t* dflt) {
  WideString text = def.Read(key, dflt);
  for (std::int32_t j = 0; j < n; ++j)
    flags[at + static_cast<std::size_t>(j)] = j < static_cast<std::int32_t>(text.size()) && IsFlagChar(text[static_cast<std::size_t>(j)]);
}

// A one-character flag; def when the key is absent.
std::uint8_t ReadFlag(const TEffectProp& def, const char16_t* key, bool dflt) {
  TIniItem* item = def.FindKey(key);
  if (!item) return dflt;
  const TByteString& v = item->GetValue();
  return v.Length() > 0 && v[0] == '1';
}

// A count or a time (whole milliseconds or seconds) of the description: Def
// when the key is absent or holds nothing but blanks. Any other value must be
// a whole number from 0 to 2^31 - 1; a negative one, a fraction, an exponent,
// text or one past 32 bits means the description is damaged, not that the
// show has nothing in it.
enum class TWhole { Absent, Blank, Number, Damaged };
TWhole ReadWhole(const TIniItem* item, std::int64_t def, std::int64_t& n) {
  n = def;
  if (!item) return TWhole::Absent;
  const TByteString& v = item->GetValue();
  bool blank = true;
  for (std::int32_t i = 0; i < v.Length() && blank; ++i) blank = v[i] == ' ' || v[i] == '\t';
  if (blank) return TWhole::Blank;
  n = v.ToInt64Def(0, kMaxCount32, -1);
  if (n < 0 || n > kMaxCount32) {
    n = def;
    return TWhole::Damaged;
  }
  return TWhole::Number;
}

// "key=value" as the description has it; a long value is cut.
WideString KeyText(const WideString& key, const TIniItem* item) {
  constexpr std::int32_t kShown = 40;
  const TByteString& v = item->GetValue();
  WideString text = key + u"=" + v.ToWide(0, kShown);
  if (v.Length() > kShown) text += u"...";
  return text;
}

const WideString kTimeKey = u"opt_synchpos";
const WideString kTimesMeaning = u"opt_synchposN is the show time in ms at which slide N ends";

// A fault that keeps a description from being a source: the text the
// source fails with, and the words that tell a user what to mend.
struct TDescriptionFault {
  const char* Assertion = nullptr;
  WideString Advice;
};

// The counts and times read as the source is made, each a whole number
// when given, and slide ends that never go back. Times gets the slides'
// ends (0 for those absent) as far as they were read.
TDescriptionFault CheckDescription(const TIniFile* project, std::vector<std::int32_t>& times) {
  TDescriptionFault fault;
  const auto damaged = [&fault](const char* assertion, const WideString& section, const WideString& key,
                                const TIniItem* item, const WideString& meaning) {
    fault.Assertion = assertion;
    fault.Advice = KeyText(key, item) + u" in [" + section + u"] is not a whole number from 0 to 2147483647 (" +
                   meaning + u")";
    return fault;
  };
  const TIniSection* timesSection = project->FindSection(u"Times");
  const TIniSection* main = project->FindSection(u"main");
  std::int64_t slides = 0, n = 0;
  const TIniItem* countItem = timesSection ? timesSection->Find(u"opt_slidescount") : nullptr;
  if (ReadWhole(countItem, 0, slides) == TWhole::Damaged)
    return damaged("Incorrect slides count", u"Times", u"opt_slidescount", countItem, u"the number of slides");
  // Times past the last slide are never read; absent ones are 0.
  std::vector<TIniItem*> timeKeys;
  if (timesSection)
    timesSection->FindIndexedRange(kTimeKey, std::int32_t(std::min<std::int64_t>(slides, kMaxSlideCount)), timeKeys);
  times.resize(timeKeys.size());
  std::vector<TWhole> read(timeKeys.size());
  for (std::size_t k = 0; k < timeKeys.size(); ++k) {
    read[k] = ReadWhole(timeKeys[k], 0, n);
    if (read[k] == TWhole::Damaged)
      return damaged("Incorrect time", u"Times", kTimeKey + IntToStr(std::int64_t(k) + 1), timeKeys[k],
                     kTimesMeaning);
    times[k] = static_cast<std::int32_t>(n);
  }
  if (main) {
    struct TCount {
      const char* Assertion;
      const char16_t* Key;
      const char16_t* Meaning;
    };
    static constexpr TCount kCounts[] = {
        {"Incorrect dialogs count", u"opt_customdialogscount", u"the number of the show's own dialogs"},
        {"Incorrect buttons count", u"opt_newnavbuttons_count", u"the number of navigation buttons"},
        {"Incorrect time", u"opt_hc2_hideinterval", u"the seconds before a still pointer hides"}};
    for (const TCount& c : kCounts) {
      const TIniItem* item = main->Find(c.Key);
      if (ReadWhole(item, 0, n) == TWhole::Damaged) return damaged(c.Assertion, u"main", c.Key, item, c.Meaning);
    }
  }
  if (const TIniSection* paths = project->FindSection(u"PathModifiers")) {
    const TIniItem* item = paths->Find(u"Count");
    if (ReadWhole(item, 0, n) == TWhole::Damaged)
      return damaged("Incorrect path modifiers count", u"PathModifiers", u"Count", item, u"the number of path modifiers");
  }
  // Each slide ends no earlier than the one before it.
  for (std::size_t k = 1; k < times.size(); ++k) {
    if (times[k] >= times[k - 1]) continue;
    const WideString key = kTimeKey + IntToStr(std::int64_t(k) + 1);
    fault.Assertion = "Incorrect time";
    // The one before has a value: it is later than this one.
    if (read[k] == TWhole::Number)
      fault.Advice = KeyText(key, timeKeys[k]) + u" is before " + KeyText(kTimeKey + IntToStr(std::int64_t(k)), timeKeys[k - 1]);
    else
      fault.Advice = key + (read[k] == TWhole::Absent ? u" is missing" : u" has no value");
    fault.Advice += u" ([Times]: " + kTimesMeaning + u", growing from slide to slide)";
    return fault;
  }
  return fault;
}

std::int32_t CountSet(const std::vector<std::uint8_t>& flags, std::size_t from, std::size_t n) {
  std::int32_t c = 0;
  for (std::size_t i = from; i < from + n && i < flags.size(); ++i) c += flags[i] ? 1 : 0;
  return c;
}

// Families with an action group (2 flags at 0) and a direction group after it.
bool HasActionGroup(std::int32_t kind, std::size_t& directions) {
  switch (kind) {
    case kEffectHourHand: directions = 9; return true;
    case kEffectShapes: directions = 3; return true;
    case kEffectCurling: directions = 8; return true;
    default: directions = 0; return false;
  }
}

double Smoothing(const TEffectProp& def, double dflt) {
  double v = def.ReadFloat(u"smoothline", dflt);
  return v < kSmoothlineThreshold ? kMinSmoothline : v;
}

// The keys of a slide's section read for every slide at open.
const TIniName kSlideIdKey("slideid");
const TIniName kSlidePictureKey("Picture");
const TIniName kSlideEndActionKey("Pers_EndAction");
const TIniName kSlideRunAppKey("Pers_RunApp");
const TIniName kSlideRunAppFileKey("RunAppFN");

// "slideid", else the bare name of the "Picture" file.
WideString IdOfSection(const TIniList* section) {
  if (!section) return {};
  WideString id = IniGetString(section->Find(kSlideIdKey));
  if (!id.empty()) return id;
  return ChangeFileExt(ExtractFileName(IniGetString(section->Find(kSlidePictureKey))), u"");
}

}  // namespace

// ============================================================================
// TOruEffect and the family readers
// ============================================================================

void TOruEffect::Dispose() {
  CustomObject.reset();
  Ints.clear();
  Floats.clear();
  Flags.clear();
  TRefObject::Dispose();
}

TRef<TOruEffect> TOruEffect::Clone() const {
  TRef<TOruEffect> e = MakeRef<TOruEffect>();
  e->Smoothline = Smoothline;
  e->Kind = Kind;
  e->Variants = Variants;
  e->Ints = Ints;
  e->Floats = Floats;
  e->Flags = Flags;
  e->CustomObject = CustomObject;
  return e;
}

std::int32_t EffectKindOfWord(const WideString& word) {
  static constexpr const char16_t* kWords[] = {u"dissolve", u"hourhand", u"shapes", u"gates",  u"page", u"mosaic",
                                               u"push",     u"slide",    u"curling", u"flip", u"swap"};
  for (std::size_t i = 0; i < std::size(kWords); ++i)
    if (WideSameText(word, kWords[i])) return static_cast<std::int32_t>(i) + 1;
  return 0;
}

std::int32_t EffectKindOfFamily(std::int32_t family) {
  // "dissolve" is 2; "quick" (3) sits between it and "hourhand" (4).
  if (family == kFamilyDissolve) return kEffectDissolve;
  if (family >= kFamilyHourHand && family <= kFamilySwap) return family - 2;
  return 0;
}

TRef<TOruEffect> ReadFamilyEffect(std::int32_t kind, const TEffectProp& def, bool defaults, bool* defaulted) {
  if (defaulted) *defaulted = false;
  const TKeyDefault keys{def, defaults, defaulted};
  TRef<TOruEffect> e = MakeRef<TOruEffect>();
  e->Kind = kind;
  e->Smoothline = Smoothing(def, kMinSmoothline);
  auto directions4 = [&](std::vector<std::uint8_t>& flags) {
    // Stored right, left, up, down; the renderer wants left, right, up, down.
    std::vector<std::uint8_t> d(4);
    ReadFlags(keys, u"direction", 4, d, 0, u"1000");
    flags[0] = d[1];
    flags[1] = d[0];
    flags[2] = d[2];
    flags[3] = d[3];
  };
  switch (kind) {
    case kEffectDissolve:
    case kEffectMosaic:
      e->Flags = {ReadFlag(def, u"checked", true)};
      e->Variants = e->Flags[0];
      if (kind == kEffectMosaic) {
        // One tile would be a cut at some moment of the transition.
        const auto tiles = [&](const char16_t* key, std::int32_t dflt) {
          std::int32_t n = def.ReadInteger(key, 1);
          if (defaults && !def.FindKey(key)) {
            n = dflt;
            if (defaulted) *defaulted = true;
          }
          return std::clamp(n, 1, kMaxMosaicTiles);
        };
        e->Ints = {tiles(u"cols", 8), tiles(u"rows", 6), def.ReadInteger(u"appearence", 0), 0};
      }
      break;
    case kEffectHourHand:
    case kEffectShapes:
    case kEffectCurling: {
      std::size_t dirs = 0;
      HasActionGroup(kind, dirs);
      e->Flags.assign(kind == kEffectCurling ? 12 : 2 + dirs, 0);
      ReadFlags(keys, u"action", 2, e->Flags, 0, u"10");
      if (kind == kEffectCurling) {
        std::vector<std::uint8_t> d(8);
        ReadFlags(keys, u"direction", 8, d, 0, u"00000001");
        for (std::size_t k = 0; k < 8; ++k) e->Flags[2 + k] = d[7 - k];
        e->Flags[10] = ReadFlag(def, u"usecolor", false);
        e->Flags[11] = ReadFlag(def, u"usevolume", false);
        e->Ints = {def.ReadInteger(u"pipe", 1), def.ReadInteger(u"color", 0)};
        e->Floats = {ToSingle(def.ReadFloat(u"radius", 0), 0), ToSingle(def.ReadFloat(u"3dvolume", 0.125), 0.125f)};
      } else {
        // The hour hand sweeps round the centre; a shape grows as a circle.
        ReadFlags(keys, u"direction", static_cast<std::int32_t>(dirs), e->Flags, 2,
                  kind == kEffectHourHand ? u"000010000" : u"100");
      }
      if (kind == kEffectHourHand) {
        e->Floats = {ToSingle(def.ReadFloat(u"offset", 0), 0)};
        e->Smoothline = Smoothing(def, 0.35);
      }
      if (kind == kEffectShapes) e->Ints = {def.ReadInteger(u"centerx", 50), def.ReadInteger(u"centery", 50)};
      e->Variants = CountSet(e->Flags, 0, 2) * CountSet(e->Flags, 2, dirs);
      break;
    }
    case kEffectGates:
    case kEffectPage:
      e->Flags.assign(8, 0);
      ReadFlags(keys, u"direction", 8, e->Flags, 0, u"10000000");
      e->Variants = CountSet(e->Flags, 0, 8);
      break;
    case kEffectPush:
    case kEffectSlide:
    case kEffectSwap:
      e->Flags.assign(4, 0);
      directions4(e->Flags);
      e->Variants = CountSet(e->Flags, 0, 4);
      if (kind == kEffectSwap)
        e->Floats = {ToSingle(def.ReadFloat(u"depth", 4), 4), ToSingle(def.ReadFloat(u"distance", 1), 1),
                     ToSingle(def.ReadFloat(u"angle", 60), 60)};
      break;
    case kEffectFlip:
      e->Flags.assign(6, 0);
      directions4(e->Flags);
      e->Flags[4] = ReadFlag(def, u"spin_center", false);
      e->Flags[5] = ReadFlag(def, u"nonlinear_speed", false);
      e->Floats = {ToSingle(def.ReadFloat(u"3dvolume", 0.5), 0.5f)};
      e->Variants = CountSet(e->Flags, 0, 4);
      break;
    default:
      return nullptr;
  }
  if (e->Variants < 1) return nullptr;
  return e;
}

TRef<TOruEffect> RestrictToVariant(const TOruEffect& effect, std::int32_t v) {
  TRef<TOruEffect> e = effect.Clone();
  e->Variants = 1;
  std::size_t dirs = 0;
  if (HasActionGroup(effect.Kind, dirs) && e->Flags.size() >= 2 + dirs) {
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    for (std::size_t a = 0; a < 2; ++a)
      for (std::size_t d = 0; d < dirs; ++d)
        if (effect.Flags[a] && effect.Flags[2 + d]) pairs.emplace_back(a, 2 + d);
    if (pairs.empty()) return e;
    auto [a, d] = pairs[static_cast<std::size_t>(v) % pairs.size()];
    std::fill(e->Flags.begin(), e->Flags.begin() + static_cast<std::ptrdiff_t>(2 + dirs), 0);
    e->Flags[a] = 1;
    e->Flags[d] = 1;
    return e;
  }
  const std::size_t n = effect.Kind == kEffectFlip ? std::min<std::size_t>(4, e->Flags.size()) : e->Flags.size();
  std::vector<std::size_t> enabled;
  for (std::size_t i = 0; i < n; ++i)
    if (effect.Flags[i]) enabled.push_back(i);
  if (enabled.empty()) return e;
  std::size_t keep = enabled[static_cast<std::size_t>(v) % enabled.size()];
  for (std::size_t i = 0; i < n; ++i) e->Flags[i] = i == keep;
  return e;
}

// ============================================================================
// TOruSource
// ============================================================================

TOruSource::TOruSource(TFileAccessor* fileAccessor, bool ownsAccessor, TIniFile* project)
    : TOruSource(fileAccessor, ownsAccessor, project, IsScreenSaverProgram()) {}

TOruSource::TOruSource(TFileAccessor* fileAccessor, bool ownsAccessor, TIniFile* project, bool screenSaver) {
  ZM_ASSERT(fileAccessor != nullptr && project != nullptr, "TOruSource.Create: no file accessor or show description");
  project_ = project;
  accessor_ = fileAccessor;
  owns_ = ownsAccessor;
  screenSaver_ = screenSaver;
  try {
    std::vector<std::int32_t> times;
    ReadOptions(times);
    BuildPool();
    BuildTimeLine(times);
  } catch (...) {
    // A failed source still frees what it was given to own.
    Dispose();
    throw;
  }
}

void TOruSource::Dispose() {
  // The hook reaches this source: the description may outlive it.
  if (project_ && !slideSections_.empty()) project_->SetLateSectionHook(nullptr);
  slideSections_.clear();
  pool_.clear();
  poolOrder_.clear();
  records_.clear();
  effects_.reset();
  slideOrder_.reset();
  main_ = nullptr;
  times_ = nullptr;
  TIniFile* project = std::exchange(project_, nullptr);
  TFileAccessor* accessor = std::exchange(accessor_, nullptr);
  if (owns_) {
    owns_ = false;
    FreeObject(project);
    FreeObject(accessor);
  }
  TRefObject::Dispose();
}

bool TOruSource::IsScreenSaverProgram() { return SameText(ExtractFileExt(ProgramFile), u".scr"); }

void TOruSource::CheckCountsAndTimes(std::vector<std::int32_t>& times) const {
  const TDescriptionFault fault = CheckDescription(project_, times);
  if (fault.Assertion) ZM_FAIL(fault.Assertion);
}

WideString TOruSource::DescriptionFault(TIniFile* project) {
  if (!project) return {};
  std::vector<std::int32_t> times;
  return CheckDescription(project, times).Advice;
}

WideString TOruSource::UnseenSlidesNote() const {
  // A slide that ends as it starts is never on screen; its transition in
  // is cut to nothing as well.
  constexpr std::size_t kNamed = 5;
  std::vector<std::int32_t> unseen;
  for (std::int32_t i = 0; i < count_; ++i)
    if (!(records_[static_cast<std::size_t>(i)].End > records_[static_cast<std::size_t>(i)].Start)) unseen.push_back(i);
  if (unseen.empty()) return {};
  std::vector<TIniItem*> keys;
  if (times_) times_->FindIndexedRange(kTimeKey, count_, keys);
  std::vector<WideString> slides, ends;
  for (std::size_t j = 0; j < unseen.size() && j < kNamed; ++j) {
    const auto at = static_cast<std::size_t>(unseen[j]);
    const WideString key = kTimeKey + IntToStr(std::int64_t(at) + 1);
    slides.push_back(IntToStr(std::int64_t(at) + 1));
    ends.push_back(at < keys.size() && keys[at] ? KeyText(key, keys[at]) : key + u" (missing)");
  }
  // "a", "a and b", "a, b and c", "a, b, c, d, e and 3 more".
  const auto join = [&unseen](const std::vector<WideString>& parts) {
    WideString text;
    const bool more = unseen.size() > parts.size();
    for (std::size_t j = 0; j < parts.size(); ++j)
      text += (j == 0 ? WideString() : j + 1 == parts.size() && !more ? u" and " : u", ") + parts[j];
    if (more) text += u" and " + IntToStr(std::int64_t(unseen.size() - parts.size())) + u" more";
    return text;
  };
  return (unseen.size() == 1 ? u"Slide " + join(slides) + u" is" : u"Slides " + join(slides) + u" are") +
         u" never shown: " + join(ends) + u" in [Times] end" + (unseen.size() == 1 ? u"s it as it starts" : u" them as they start") +
         u" (" + kTimesMeaning + u", not how long it lasts)";
}

void TOruSource::ReadOptions(std::vector<std::int32_t>& times) {
  times_ = project_->FindSection(u"Times");
  CheckCountsAndTimes(times);
  // Options are written below: the description gets a main section.
  main_ = project_->GetOrAddSection(u"main");
  slideOrder_ = GetSlideRandomList(project_);

  auto side = [&](const char16_t* key, std::int32_t def) {
    return ValidScreenSide(main_->GetOrAdd(key)->GetInt(def), def);
  };
  const std::int32_t width = side(u"opt_scr_width", kDefaultScreenWidth);
  const std::int32_t height = side(u"opt_scr_height", kDefaultScreenHeight);

  main_->WriteString(u"opt_ssaver", screenSaver_ ? u"1" : u"0");
  if (screenSaver_) {
    main_->WriteString(u"opt_fcp", u"0");
    main_->WriteString(u"opt_hidecursor", u"1");
    main_->WriteString(u"opt_scr_full", u"1");
    main_->WriteString(u"opt_repeat", u"repeat");
  }
  TIniItem* repeat = main_->Find(u"opt_repeat");
  repeat_ = repeat ? repeat->GetEnum(kRepeatWords, kRepeatLoop, true) : kRepeatLoop;
  pauseWhenInactive_ = IniGetBool(main_->Find(u"opt_pausewheninactive"), true);
  // A Windows colour value: red in the low byte.
  auto hider = static_cast<std::uint32_t>(IniGetInt(main_->Find(u"opt_scr_hidercolor"), 0));
  hider_[0] = std::uint8_t(hider);
  hider_[1] = std::uint8_t(hider >> 8);
  hider_[2] = std::uint8_t(hider >> 16);
  double unsharp = IniGetFloat(main_->Find(u"opt_scr_unsharpamount"), 0);
  unsharp_ = std::isfinite(unsharp) ? unsharp : 0;
  count_ = std::clamp(IniGetInt(times_ ? times_->Find(u"opt_slidescount") : nullptr, 0), 0, kMaxSlideCount);

  effects_ = MakeRef<TORUEffectManager>(project_, height, width);
}

TRef<TOruEffect> TOruSource::GenericEffect(TIniList* definition) const {
  TRef<TOruEffect> e = MakeRef<TOruEffect>();
  e->Kind = kEffectCustom;
  e->Variants = 1;
  e->Flags = {1};
  e->CustomObject = TRef<TIniList>(definition);
  return e;
}

void TOruSource::BuildPool() {
  mainEffectTime_ = effects_->GetMainTime();
  const std::int32_t entries = effects_->GetMainEntryCount();
  for (std::int32_t i = 0; i < entries; ++i) {
    TEffectProp* entry = effects_->GetMainEntry(i);
    if (!entry || !entry->IsChecked()) continue;
    if (WideSameText(entry->GetName(), kWordCustom)) {
      const std::int32_t subs = entry->SubDefinitionCount();
      for (std::int32_t s = 0; s < subs; ++s)
        if (entry->IsSubDefinitionChecked(s))
          if (TIniSection* section = entry->SubDefinitionSection(s, false)) pool_.push_back(GenericEffect(section));
      continue;
    }
    const std::int32_t family = entry->GetFamily();
    TRef<TOruEffect> e;
    if (std::int32_t kind = EffectKindOfFamily(family)) e = ReadFamilyEffect(kind, *entry);
    else if (family > kFamilySwap) e = GenericEffect(entry->FirstCheckedSubDefinition());
    if (e) pool_.push_back(std::move(e));
  }
  poolOrder_.resize(pool_.size());
  for (std::size_t k = 0; k < poolOrder_.size(); ++k) poolOrder_[k] = static_cast<std::int32_t>(k);
  ShufflePool();
}

void TOruSource::ShufflePool() {
  const auto n = static_cast<std::int32_t>(poolOrder_.size());
  for (std::int32_t k = 0; k + 1 < n; ++k) {
    std::int32_t j = Random(n - k);
    if (j != k) std::swap(poolOrder_[static_cast<std::size_t>(k)], poolOrder_[static_cast<std::size_t>(j)]);
  }
}

void TOruSource::BuildTimeLine(const std::vector<std::int32_t>& times) {
  records_.assign(static_cast<std::size_t>(count_), TSlideRecord());
  read_.reset(new std::atomic<std::uint8_t>[static_cast<std::size_t>(count_)]());
  // Each slide's section is found once, here; the effects take theirs too.
  std::vector<TIniSection*> sections = count_ > 0 ? GetSlideSections(project_, count_) : std::vector<TIniSection*>();
  effects_->SetSlideSections(sections);
  // Sections the description reads later are completed as they are read.
  bool late = false;
  for (TIniSection* section : sections) late = late || (section && section->Pending());
  if (late) {
    slideSections_.assign(sections.begin(), sections.end());
    std::sort(slideSections_.begin(), slideSections_.end());
    project_->SetLateSectionHook([this](TIniSection& section) { CompleteLateSection(section); });
  }
  double previous = 0;
  for (std::int32_t i = 0; i < count_; ++i) {
    // A long time line gives way to the stop of its thread's work (a show
    // opening that the user quits).
    if ((i & (kIniStopLines - 1)) == kIniStopLines - 1) CheckLoadStop();
    // Whole milliseconds, checked when the options were read; absent is 0.
    const auto at = static_cast<std::size_t>(i);
    const double t = at < times.size() ? times[at] : 0;
    if (t < previous) ZM_FAIL("Incorrect time");
    TSlideRecord& r = records_[at];
    r.Start = previous;
    r.End = t;
    r.Section = at < sections.size() ? sections[at] : nullptr;
    length_ = t;
    previous = t;
    if (r.Section && r.Section->Pending()) continue;
    // A slide with a section always has an effect definition there; its
    // prop is made when the slide's transition is first asked for.
    r.OwnLength = std::min(effects_->SlideEffectTime(i), r.End - r.Start);
    read_[at].store(kOwnLengthRead, std::memory_order_relaxed);
    ReadActions(i);
  }
}

void TOruSource::CompleteLateSection(TIniSection& section) {
  if (std::binary_search(slideSections_.begin(), slideSections_.end(), &section))
    effects_->CompleteSlideDefinition(&section);
}

double TOruSource::OwnLength(std::int32_t k) const {
  const auto at = static_cast<std::size_t>(k);
  if (read_[at].load(std::memory_order_acquire) & kOwnLengthRead) return records_[at].OwnLength;
  std::lock_guard<std::mutex> guard(readLock_);
  const TSlideRecord& r = records_[at];
  if (!(read_[at].load(std::memory_order_relaxed) & kOwnLengthRead)) {
    // Its section was completed when it was read: reading changes nothing.
    const_cast<TSlideRecord&>(r).OwnLength = std::min(effects_->CompletedSlideEffectTime(r.Section), r.End - r.Start);
    read_[at].fetch_or(kOwnLengthRead, std::memory_order_release);
  }
  return r.OwnLength;
}

double TOruSource::NextLength(std::int32_t k) const {
  if (k + 1 < count_) return OwnLength(k + 1);
  return repeat_ == kRepeatLoop ? OwnLength(0) : 0;
}

void TOruSource::ReadActions(std::int32_t k) const {
  const auto at = static_cast<std::size_t>(k);
  if (read_[at].load(std::memory_order_acquire) & kActionsRead) return;
  std::lock_guard<std::mutex> guard(readLock_);
  if (read_[at].load(std::memory_order_relaxed) & kActionsRead) return;
  auto& r = const_cast<TSlideRecord&>(records_[at]);
  // Most slides have neither: their sections need not be read for them.
  const TIniSection* section = r.Section;
  static constexpr std::string_view kActionKeys[] = {"Pers_EndAction", "Pers_RunApp"};
  if (section && section->MayHoldNames(kActionKeys)) {
    static const WideString kActions[] = {u"timer", u"pause", u"loop"};
    TIniItem* action = section->Find(kSlideEndActionKey);
    r.EndAction = static_cast<std::int8_t>(action ? action->GetEnum(kActions, -1, true) : -1);
    // Whether there is a command, without making its text.
    const TIniItem* command = section->Find(kSlideRunAppFileKey);
    r.RunApp = IniGetBool(section->Find(kSlideRunAppKey), false) && command && !command->ValueView().empty();
  }
  read_[at].fetch_or(kActionsRead, std::memory_order_release);
}

std::int32_t TOruSource::WrapIndex(std::int32_t index) const {
  return count_ > 0 && index >= count_ ? index % count_ : index;
}

std::int32_t TOruSource::GetSlideBounds(std::int32_t index, double& start, double& end) const {
  if (index >= 0) {
    start = end = 0;
    if (count_ < 1) return 0;
    const std::int32_t loop = index / count_;
    const TSlideRecord& r = records_[static_cast<std::size_t>(index - loop * count_)];
    const double offset = loop * length_;
    start = offset > 0 ? r.Start + offset : r.Start;
    end = offset > 0 ? r.End + offset : r.End;
    return loop;
  }
  start = index == -1 ? kBeforeShowStart : kLongBeforeShowStart;
  end = index == -1 ? 0 : kBeforeShowStart;
  return -1;
}

std::int32_t TOruSource::GetSlideSpan(std::int32_t index, TSlideSpan& span) const {
  span = TSlideSpan();
  if (index >= 0) {
    if (count_ < 1) return 0;
    const std::int32_t loop = GetSlideBounds(index, span.Start, span.End);
    const std::int32_t k = index - loop * count_;
    span.OwnLength = OwnLength(k);
    span.NextLength = NextLength(k);
    span.VisibleUntil = span.End + span.NextLength;
    return loop;
  }
  if (index == -1) {
    span.Start = kBeforeShowStart;
    span.End = 0;
    span.NextLength = count_ > 0 ? OwnLength(0) : 0;
    span.VisibleUntil = span.NextLength;
    return -1;
  }
  span.Start = kLongBeforeShowStart;
  span.End = kBeforeShowStart;
  span.VisibleUntil = kBeforeShowStart;
  return -1;
}

std::int32_t TOruSource::SlideAtTime(double time) const {
  // Everything up to 0 is the span before the show (or earlier, which the
  // search from -1 never reaches).
  if (!(time > 0) || !std::isfinite(time) || count_ < 1 || !(length_ > 0)) return -1;
  auto endOf = [this](std::int64_t index) {
    double start = 0, end = 0;
    GetSlideBounds(static_cast<std::int32_t>(index), start, end);
    return end;
  };
  // Span ends grow with the index: the first one at or past the time.
  std::int64_t lo = 0, hi = std::numeric_limits<std::int32_t>::max();
  if (endOf(hi) < time) return -1;
  while (lo < hi) {
    std::int64_t mid = lo + (hi - lo) / 2;
    if (endOf(mid) >= time) hi = mid;
    else lo = mid + 1;
  }
  return static_cast<std::int32_t>(lo);
}

void TOruSource::SetFixedSeed(bool on, std::uint32_t seed) {
  std::lock_guard<std::mutex> guard(poolLock_);
  fixedSeed_ = on;
  seed_ = seed;
  parity_ = false;
  cursor_ = 0;
  // A repeatable choice needs a repeatable pool order too.
  if (on)
    for (std::size_t k = 0; k < poolOrder_.size(); ++k) poolOrder_[k] = static_cast<std::int32_t>(k);
}

TRef<TOruEffect> TOruSource::DrawFromPool(std::int32_t index) {
  const auto n = static_cast<std::uint32_t>(pool_.size());
  if (n == 0) return nullptr;
  std::uint32_t slot;
  if (fixedSeed_) {
    slot = static_cast<std::uint32_t>(index) % n;
  } else {
    slot = cursor_++ % n;
    if (slot == 0) ShufflePool();
  }
  const TOruEffect& effect = *pool_[static_cast<std::size_t>(poolOrder_[slot])];
  ZM_ASSERT(effect.Variants >= 1, "TOruSource.GetSlideEffect: an effect of the pool without variants");
  std::int32_t v;
  bool parity;
  if (fixedSeed_) {
    v = static_cast<std::int32_t>((static_cast<std::uint32_t>(index) ^ seed_) % static_cast<std::uint32_t>(effect.Variants));
    parity = ((index & 1) != 0) != parity_;
  } else {
    v = Random(effect.Variants);
    parity = parity_;
    parity_ = !parity_;
  }
  if (((v & 1) != 0) != parity) v = v + 1 < effect.Variants ? v + 1 : 0;
  return RestrictToVariant(effect, v);
}

void TOruSource::LogSlideEffect(std::int32_t index, const WideString& text) {
  const auto at = static_cast<std::size_t>(index);
  if (effectLogged_.size() < records_.size()) effectLogged_.resize(records_.size());
  if (at >= effectLogged_.size() || effectLogged_[at]) return;
  effectLogged_[at] = true;
  LogLine(u"Slide " + IntToStr(std::int64_t(index) + 1) + u": transition " + text);
}

TRef<TOruEffect> TOruSource::MakeSlideEffect(std::int32_t index, const TEffectProp& prop, const WideString& word) {
  // A name the show's main definition does not hold: a family the player
  // has plays with its own settings where the slide gives none.
  const bool undefined = prop.IsReference() && !prop.Referenced();
  if (std::int32_t kind = EffectKindOfWord(word)) {
    bool defaulted = false;
    TRef<TOruEffect> e = ReadFamilyEffect(kind, prop, undefined, &defaulted);
    if (e && defaulted)
      LogSlideEffect(index, u"\"" + word + u"\" is not in the TheEffect of [main]: played with its own settings");
    return e;
  }
  if (undefined) LogSlideEffect(index, u"\"" + word + u"\" is not one the player has: cross-fades");
  return GenericEffect(prop.FirstCheckedSubDefinition());
}

TRef<TOruEffect> TOruSource::GetSlideEffect(std::int32_t index, double& time, float& smoothline) {
  time = 0;
  smoothline = 0;
  if (count_ < 1 || index < 0) return nullptr;
  std::lock_guard<std::mutex> guard(poolLock_);
  index = WrapIndex(index);
  TEffectProp* prop = effects_->GetEffect(index);
  if (!prop) return nullptr;
  time = prop->GetTime();
  smoothline = ToSingle(prop->ReadFloat(u"smoothline", 0), 0);
  const WideString word = prop->GetName();
  TRef<TOruEffect> effect;
  if (WideSameText(word, kWordDefault)) {
    effect = DrawFromPool(index);
    time = mainEffectTime_;
    smoothline = effect ? ToSingle(effect->Smoothline, 0) : 0;
  } else if (WideSameText(word, kWordDefOwnTime)) {
    effect = DrawFromPool(index);
  } else if (!WideSameText(word, kWordQuick)) {
    effect = MakeSlideEffect(index, *prop, word);
  }
  if (!effect && time > 0) {
    // The time line gives the slide a transition of this length: standing
    // still through it and cutting in at its end would look broken.
    effect = MakeRef<TOruEffect>();
    effect->Kind = kEffectDissolve;
    effect->Variants = 1;
    effect->Flags = {1};
    LogSlideEffect(index, u"\"" + word + u"\" gives nothing to play: cross-fades");
  }
  if (effect && effect->Kind == kEffectMosaic) {
    effect->Ints.resize(4, 0);
    effect->Ints[3] = fixedSeed_ ? static_cast<std::int32_t>(static_cast<std::uint32_t>(index) ^ seed_)
                                 : Random(kSeedRange) * kSeedRange + Random(kSeedRange);
  }
  if (!effect) time = 0;
  if (time == 0) return nullptr;
  return effect;
}

bool TOruSource::GetSlideEndAction(std::int32_t index, double& duration) const {
  duration = 0;
  if (count_ < 1 || index < 0) return false;
  const std::int32_t k = WrapIndex(index);
  ReadActions(k);
  const TSlideRecord& r = records_[static_cast<std::size_t>(k)];
  std::int32_t action = r.EndAction;
  if (action < 0) action = IniGetBool(main_ ? main_->Find(u"opt_manualshow") : nullptr, false) ? 1 : -1;
  if (action == 2) duration = std::max(0.0, r.End - r.Start - OwnLength(k));
  return action == 1 || action == 2;
}

WideString ShowCommandText(const zm::TIniItem* item) {
  if (!item) return {};
  const std::string_view value = item->ValueView();
  const std::size_t room = plat::ArgumentRoom();
  // One byte past what the system starts, on a character's first byte.
  if (value.size() <= room) return item->GetString();
  std::size_t cut = room + 1;
  while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
  return zm::BytesToWide(value.substr(0, cut)) + WideString(room + 1 - cut, u'.');
}

bool TOruSource::GetSlideRunApp(std::int32_t index, WideString& fileName) const {
  fileName.clear();
  if (count_ < 1 || index < 0) return false;
  const std::int32_t k = WrapIndex(index);
  ReadActions(k);
  const TSlideRecord& r = records_[static_cast<std::size_t>(k)];
  if (!r.RunApp || !r.Section) return false;
  fileName = ShowCommandText(r.Section->Find(u"RunAppFN"));
  return !fileName.empty();
}

std::int32_t TOruSource::ScreenWidth() const { return effects_ ? effects_->GetScreenWidth() : kDefaultScreenWidth; }
std::int32_t TOruSource::ScreenHeight() const {
  return effects_ ? effects_->GetScreenHeight() : kDefaultScreenHeight;
}

TIniSection* TOruSource::SlideSection(std::int32_t index) const {
  if (index >= 0 && index < static_cast<std::int32_t>(records_.size()))
    return records_[static_cast<std::size_t>(index)].Section;
  return project_ ? GetSlideSection(project_, index) : nullptr;
}

WideString TOruSource::SlideId(std::int32_t index) const {
  if (index < 0 || index >= count_) return {};
  return IdOfSection(SlideSection(index));
}

TOruEffect* TOruSource::PoolEffect(std::int32_t i) const {
  if (i < 0 || i >= static_cast<std::int32_t>(poolOrder_.size())) return nullptr;
  return pool_[static_cast<std::size_t>(poolOrder_[static_cast<std::size_t>(i)])].get();
}

}  // namespace oru
