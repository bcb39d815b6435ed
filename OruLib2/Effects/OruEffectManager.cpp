#include "OruLib2/Effects/OruEffectManager.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

#include "ZmLib/Text/zmUnicodeCharInfo.h"
#include "ZmLib/Text/zmWideStringUtils.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpUnicode.h"

namespace oru {

TSlideSectionProc SlideSectionProc = &SequentialSlideSection;

zm::TIniSection* SequentialSlideSection(const zm::TIniFile* project, std::int32_t i) {
  if (!project) return nullptr;
  return project->FindSection(u"Slide" + zm::IntToStr(std::int64_t(i) + 1));
}

using namespace zm;

namespace {

const WideString kTheEffect = u"TheEffect";
const WideString kAnEffect = u"AnEffect";
// Looked up for every slide of a show.
const TIniName kTheEffectName("TheEffect");
const TIniName kEffectTimeKey("time");
const TIniName kEffectRefKey("ref");

// Durations are never negative; a value that is not a number is 0.
double SanitizeTime(double v) { return std::isfinite(v) && v > 0 ? v : 0; }

bool IsWord(const WideString& text, const char16_t* word) { return WideSameText(text, word); }

// IsWord of text held as UTF-8, words being plain letters: text of plain
// letters too is compared here without case, as IsWord compares it.
bool IsWordBytes(const TByteString& text, const char16_t* word) {
  const std::uint8_t* p = text.Data();
  const auto n = static_cast<std::size_t>(text.Length());
  if (std::any_of(p, p + n, [](std::uint8_t b) { return b >= 0x80; })) return IsWord(text.ToWide(), word);
  std::size_t i = 0;
  for (; i < n && word[i]; ++i) {
    const auto fold = [](std::uint32_t c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    if (fold(p[i]) != fold(word[i])) return false;
  }
  return i == n && !word[i];
}

std::int32_t ScreenSide(const TIniFile* ini, const char16_t* key, std::int32_t def) {
  return ValidScreenSide(ini->ReadInteger(u"main", key, def), def);
}

bool IsNamedOrTyped(const TIniItem* item, const char16_t* word) {
  return item->Name().CompareWideText(word) == 0 || item->GetValue().CompareWideText(word) == 0;
}

// The key an entry's name is found by from an ASCII name: the upper case of
// each character. Such a name is the same text (WideSameText) as the entry's
// exactly when the keys are equal, and only names whose every character has
// an ASCII upper case can be; false for any other name.
bool AsciiNameKey(const WideString& name, std::string& key) {
  key.clear();
  for (const char16_t c : name) {
    const auto upper = static_cast<char16_t>(CharInfo(c).UpperCase);
    if (upper >= 0x80) return false;
    key += static_cast<char>(upper);
  }
  return true;
}

// Depth-first over the object blocks below root, without recursion (the
// nesting of a document has no bound). visit returns true to stop; enter
// says whether to look inside an object.
template <class Visit, class Enter>
TIniList* WalkObjects(TIniList* root, Visit visit, Enter enter) {
  std::vector<TIniList*> stack{root};
  while (!stack.empty()) {
    TIniList* list = stack.back();
    stack.pop_back();
    std::vector<TIniList*> children;
    for (TIniObject* o = list->FirstObject(); o; o = list->NextObject(o)) {
      if (visit(o)) return o;
      if (enter(o)) children.push_back(o);
    }
    // Earlier blocks first.
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
  return nullptr;
}

}  // namespace

// ============================================================================
// TEffectProp
// ============================================================================

TEffectProp::TEffectProp(TORUEffectManager* owner, TIniList* object, bool slideEffect)
    : owner_(owner), object_(object), slideEffect_(slideEffect) {}

void TEffectProp::Dispose() {
  object_.reset();
  keyNames_.clear();
  TRefObject::Dispose();
}

WideString TEffectProp::RefText() const {
  if (!slideEffect_ || !object_) return {};
  return IniGetString(object_->Find(u"ref"));
}

bool TEffectProp::IsReference() const { return !RefText().empty(); }

TEffectProp* TEffectProp::Referenced() const {
  WideString ref = RefText();
  return ref.empty() || !owner_ ? nullptr : owner_->FindMainEntry(ref);
}

WideString TEffectProp::GetName() const {
  if (!IsReference()) return object_ ? object_->GetName() : WideString();
  if (TEffectProp* entry = Referenced()) return entry->GetName();
  return RefText();
}

std::int32_t TEffectProp::GetFamily() const {
  if (IsReference()) {
    if (TEffectProp* entry = Referenced()) return entry->GetFamily();
    WideString ref = RefText();
    if (IsWord(ref, kWordDefault)) return kFamilyDefault;
    if (IsWord(ref, kWordDefOwnTime)) return kFamilyDefOwnTime;
    if (IsWord(ref, kWordQuick)) return kFamilyQuick;
    return kFamilyNone;
  }
  return IniGetInt(object_ ? object_->Find(u"stdidx") : nullptr, kFamilyNone);
}

namespace {

// GetTime of a slide's definition object; complete: a "defowntime" without
// its own time gets the main time written (else it only reads as that).
double SlideDefinitionTime(const TORUEffectManager* owner, TIniList* object, bool complete = true) {
  // The main time only where it is used: every slide of a show asks.
  auto mainTime = [owner] { return owner ? owner->GetMainTime() : 0; };
  TIniItem* own = object ? object->Find(kEffectTimeKey) : nullptr;
  // RefText, read without making a wide copy.
  const TIniItem* refKey = object ? object->Find(kEffectRefKey) : nullptr;
  const TByteString ref = refKey ? refKey->GetValue() : TByteString();
  if (ref.IsEmpty()) return own ? SanitizeTime(own->GetFloat(0)) : mainTime();
  if (IsWordBytes(ref, kWordDefault)) return mainTime();
  if (IsWordBytes(ref, kWordQuick)) return 0;
  if (!own && IsWordBytes(ref, kWordDefOwnTime)) {
    if (!complete) {
      // What the time written and read back gives.
      TRef<TIniItem> written = MakeRef<TIniItem>();
      written->SetFloat(mainTime());
      return SanitizeTime(written->GetFloat(0));
    }
    own = object->GetOrAdd(u"time");
    own->SetFloat(mainTime());
  }
  return own ? SanitizeTime(own->GetFloat(0)) : 0;
}

}  // namespace

double TEffectProp::GetTime() {
  if (!slideEffect_) return owner_ ? owner_->GetMainTime() : 0;
  return SlideDefinitionTime(owner_, object_.get());
}

TIniItem* TEffectProp::FindKey(const WideString& name) const {
  if (!object_) return nullptr;
  if (!slideEffect_) {
    if (WideSameText(name, u"time")) {
      TIniObject* main = owner_ ? owner_->FindMainEffectSection() : nullptr;
      return main ? main->Find(name) : nullptr;
    }
    return object_->Find(name);
  }
  if (!IsReference()) return object_->Find(name);
  TEffectProp* entry = Referenced();
  if (WideSameText(name, u"caption")) return entry ? entry->FindKey(name) : nullptr;
  if (TIniItem* own = object_->Find(name)) return own;
  if (entry) return entry->FindKey(name);
  TIniObject* main = owner_ ? owner_->FindMainEffectSection() : nullptr;
  return main ? main->Find(name) : nullptr;
}

WideString TEffectProp::ReadString(const WideString& name, const WideString& def) const {
  return IniGetString(FindKey(name), def);
}

std::int32_t TEffectProp::ReadInteger(const WideString& name, std::int32_t def) const {
  return IniGetInt(FindKey(name), def);
}

double TEffectProp::ReadFloat(const WideString& name, double def) const {
  double v = IniGetFloat(FindKey(name), def);
  return std::isfinite(v) ? v : def;
}

const std::vector<WideString>& TEffectProp::OwnKeyNames() const {
  if (!keyNamesRead_) {
    keyNamesRead_ = true;
    keyNames_.clear();
    TIniItem* item = object_ ? object_->Find(u"key") : nullptr;
    if (item) {
      WideString all = item->GetString();
      std::size_t start = 0;
      while (start <= all.size()) {
        std::size_t comma = all.find(u',', start);
        if (comma == WideString::npos) comma = all.size();
        WideString part = Trim(all.substr(start, comma - start));
        if (!part.empty()) keyNames_.push_back(std::move(part));
        start = comma + 1;
      }
    }
  }
  return keyNames_;
}

const std::vector<WideString>& TEffectProp::KeyNames() const {
  if (IsReference()) {
    if (TEffectProp* entry = Referenced()) return entry->KeyNames();
    static const std::vector<WideString> kNone;
    return kNone;
  }
  return OwnKeyNames();
}

std::int32_t TEffectProp::CheckedState() const {
  const std::vector<WideString>& names = KeyNames();
  if (names.empty()) return IniGetBool(FindKey(u"checked"), false) ? 2 : 0;
  bool allFull = true;
  for (const WideString& name : names) {
    TIniItem* item = FindKey(name);
    const TByteString empty;
    const TByteString& value = item ? item->GetValue() : empty;
    std::int32_t set = 0;
    for (std::int32_t i = 0; i < value.Length(); ++i)
      if (value[static_cast<std::size_t>(i)] == '1') ++set;
    if (set == 0) return 0;
    if (set != value.Length()) allFull = false;
  }
  return allFull ? 2 : 1;
}

std::int32_t TEffectProp::SubDefinitionCount() const {
  if (!object_) return 0;
  std::int32_t n = object_->ObjectCount();
  if (n == 0 && IsReference())
    if (TEffectProp* entry = Referenced()) return entry->SubDefinitionCount();
  return n;
}

TIniObject* TEffectProp::SubDefinition(std::int32_t i) const {
  if (!object_ || i < 0) return nullptr;
  if (object_->ObjectCount() == 0 && IsReference()) {
    TEffectProp* entry = Referenced();
    return entry ? entry->SubDefinition(i) : nullptr;
  }
  return object_->ObjectAt(i);
}

bool TEffectProp::IsSubDefinitionChecked(std::int32_t i) const {
  TIniObject* sub = SubDefinition(i);
  return sub && IniGetBool(sub->Find(u"checked"), false);
}

TIniSection* TEffectProp::SubDefinitionSection(std::int32_t i, bool create) const {
  TIniObject* sub = SubDefinition(i);
  TIniFile* ini = owner_ ? owner_->GetIni() : nullptr;
  if (!sub || !ini || sub->GetValue().IsEmpty()) return nullptr;
  WideString name = u"effect_" + sub->GetType();
  return create ? ini->GetOrAddSection(name) : ini->FindSection(name);
}

TIniList* TEffectProp::SubDefinitionObject(std::int32_t i) const {
  if (TIniSection* section = SubDefinitionSection(i, false)) return section;
  return SubDefinition(i);
}

TIniList* TEffectProp::FirstCheckedSubDefinition() const {
  const std::int32_t n = SubDefinitionCount();
  for (std::int32_t i = 0; i < n; ++i)
    if (IsSubDefinitionChecked(i)) return SubDefinitionObject(i);
  return nullptr;
}

void TEffectProp::WriteBackgroundKeys(TIniList* target) const {
  if (!target) return;
  auto copy = [&](const char16_t* key, const char16_t* def) {
    TIniItem* item = FindKey(key);
    if (item) target->GetOrAdd(key)->SetValue(item->GetValue());
    else if (def) target->WriteString(key, def);
  };
  copy(u"bstyle", nullptr);
  switch (ReadInteger(u"bstyle", 0)) {
    case 1:
      copy(u"bcolor", nullptr);
      break;
    case 2:
      copy(u"bfn", nullptr);
      copy(u"bsize", u"100");
      break;
    case 3:
      copy(u"bcolor1", u"16711680");
      copy(u"bcolor2", nullptr);
      copy(u"bcolorStyle", nullptr);
      break;
    case 4:
      copy(u"CustomEffBg", nullptr);
      break;
    default:
      break;
  }
  copy(u"TransparentBg", u"0");
  target->WriteString(u"CoverMode", u"1");
  if (owner_) {
    target->GetOrAdd(u"opt_scr_width")->SetInt(owner_->GetScreenWidth());
    target->GetOrAdd(u"opt_scr_height")->SetInt(owner_->GetScreenHeight());
  }
}

namespace {

bool IsUserPropName(const TByteString& name) {
  const std::string& n = name.Str();
  auto same = [&n](std::string_view word, std::size_t length) {
    if (length > n.size()) return false;
    for (std::size_t i = 0; i < length; ++i)
      if (std::tolower(static_cast<unsigned char>(n[i])) != word[i]) return false;
    return true;
  };
  if (n.size() == 12 && same("sectionfield", 12)) return true;
  if (n.size() == 9 && same("userprops", 9)) return true;
  if (n.size() < 5 || !same("prop", 4)) return false;
  return std::all_of(n.begin() + 4, n.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

void TEffectProp::CopyUserProps(TIniList* target) const {
  if (!target) return;
  // Copies are taken before the target changes: it may hold the source.
  std::vector<TRef<TIniItem>> copies;
  std::vector<std::string> names;
  auto collect = [&](const TIniList* from) {
    if (!from) return;
    for (std::int32_t i = 0; i < from->Count(); ++i) {
      const TIniItem* item = from->Get(i);
      if (!item || !IsUserPropName(item->Name())) continue;
      std::string key = item->Name().Str();
      std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return char(std::tolower(c)); });
      if (std::find(names.begin(), names.end(), key) != names.end()) continue;
      names.push_back(std::move(key));
      // A key named twice: the one the object answers for the name.
      const TIniItem* effective = item;
      if (!item->IsList())
        if (const TIniItem* found = from->FindBytes(item->Name()); found && !found->IsList()) effective = found;
      copies.push_back(TRef<TIniItem>::Adopt(effective->Clone()));
    }
  };
  collect(object_.get());
  if (IsReference())
    if (const TEffectProp* ref = Referenced()) collect(ref->Object());
  if (copies.empty()) return;
  TIniObject* root = GetRootSection(target);
  if (!root) return;
  for (TRef<TIniItem>& copy : copies) {
    // Keys and object blocks of the name alike.
    const TByteString& name = copy->Name();
    for (std::int32_t i = root->Count() - 1; i >= 0; --i)
      if (const TIniItem* old = root->Get(i); old && old->Name().CompareText(name) == 0) root->Delete(i);
    if (root->Add(copy.get())) copy.Detach();
  }
}

// ============================================================================
// TORUEffectManager
// ============================================================================

TORUEffectManager::TORUEffectManager(TIniFile* project, std::int32_t height, std::int32_t width) : ini_(project) {
  ZM_ASSERT(project != nullptr, "There is no IniFile for EffectRuller");
  width_ = ValidScreenSide(width, ScreenSide(project, u"opt_scr_width", kDefaultScreenWidth));
  height_ = ValidScreenSide(height, ScreenSide(project, u"opt_scr_height", kDefaultScreenHeight));
}

void TORUEffectManager::Dispose() {
  ClearCaches();
  ini_.reset();
  TRefObject::Dispose();
}

std::int32_t TORUEffectManager::GetCount() {
  return ini_ ? std::clamp(ini_->ReadInteger(u"Times", u"opt_slidescount", 0), 0, kMaxEffectSlideCount) : 0;
}

TIniObject* TORUEffectManager::SlideEffectObject(std::int32_t i) {
  if (!ini_) return nullptr;
  TIniSection* section = i >= 0 && static_cast<std::size_t>(i) < slideSections_.size()
                             ? slideSections_[static_cast<std::size_t>(i)]
                             : SlideSectionProc(ini_.get(), i);
  return SlideEffectObjectOf(section);
}

TIniObject* TORUEffectManager::SlideEffectObjectOf(TIniSection* section) {
  if (!section) return nullptr;
  TIniObject* object = section->FindObject(kTheEffectName);
  if (!object) {
    object = section->AddObject(kTheEffect, kAnEffect);
    object->WriteString(u"ref", kWordDefault);
  }
  return object;
}

TRef<TEffectProp> TORUEffectManager::CreateEffect(std::int32_t i) {
  TIniObject* object = SlideEffectObject(i);
  return object ? NewEffectProp(object, true) : nullptr;
}

TRef<TEffectProp> TORUEffectManager::NewEffectProp(TIniList* object, bool slideEffect) {
  return MakeRef<TEffectProp>(this, object, slideEffect);
}

void TORUEffectManager::Changed() { ClearCaches(); }

void TORUEffectManager::ClearCaches() {
  mainProps_.clear();
  mainByAscii_.Clear();
  realEntries_ = 0;
  mainBuilt_ = false;
  slideProps_.clear();
  slideTried_.clear();
}

void TORUEffectManager::EndChange() {
  if (changing_ > 0 && --changing_ == 0) Changed();
}

bool TORUEffectManager::DeleteEffect(TEffectProp* entry) {
  if (Changing() || !entry) return false;
  BuildMainEntries();
  for (std::int32_t k = 0; k < realEntries_; ++k) {
    if (mainProps_[static_cast<std::size_t>(k)].get() != entry) continue;
    TIniList* object = entry->Object();
    if (object && object->Owner()) object->Owner()->Delete(object->Index());
    Changed();
    return true;
  }
  return false;
}

WideString TORUEffectManager::GetEntryCaption(std::int32_t i) {
  TEffectProp* entry = GetMainEntry(i);
  return entry ? entry->GetCaption() : WideString();
}

WideString TORUEffectManager::GetEntryHint(std::int32_t) { return {}; }

bool TORUEffectManager::InSlideRange(std::int32_t i) {
  // Slides whose sections were handed over are within the count.
  return i >= 0 && (static_cast<std::size_t>(i) < slideSections_.size() || i < GetCount());
}

TEffectProp* TORUEffectManager::GetEffect(std::int32_t i) {
  if (!InSlideRange(i)) return nullptr;
  const auto slot = static_cast<std::size_t>(i);
  if (slideProps_.size() <= slot) {
    slideProps_.resize(slot + 1);
    slideTried_.resize(slot + 1, false);
  }
  if (!slideTried_[slot]) {
    slideTried_[slot] = true;
    slideProps_[slot] = CreateEffect(i);
  }
  return slideProps_[slot].get();
}

TIniObject* TORUEffectManager::FindMainEffectSection() const {
  TIniSection* main = ini_ ? ini_->FindSection(u"main") : nullptr;
  return main ? main->FindObject(kTheEffect) : nullptr;
}

TIniObject* TORUEffectManager::GetMainEffectSection() {
  if (TIniObject* found = FindMainEffectSection()) return found;
  if (!ini_) return nullptr;
  TIniObject* object = ini_->GetOrAddSection(u"main")->AddObject(kTheEffect, kAnEffect);
  // A new definition has no entries: the list of main entries stays as it is.
  object->GetOrAdd(u"time")->SetInt(kNewMainEffectTime);
  return object;
}

double TORUEffectManager::GetMainTime() const {
  TIniObject* main = FindMainEffectSection();
  return main ? SanitizeTime(IniGetFloat(main->Find(u"time"), 0)) : 0;
}

void TORUEffectManager::BuildMainEntries() {
  if (mainBuilt_) return;
  mainBuilt_ = true;
  mainProps_.clear();
  TIniObject* main = FindMainEffectSection();
  if (main)
    for (TIniObject* o = main->FirstObject(); o; o = main->NextObject(o)) mainProps_.push_back(NewEffectProp(o, false));
  realEntries_ = static_cast<std::int32_t>(mainProps_.size());
  if (!addSynthetic_) {
    IndexMainEntries();
    return;
  }
  static constexpr struct {
    const char16_t* Name;
    const char16_t* Family;
  } kSynthetic[] = {{kWordDefault, u"0"}, {kWordDefOwnTime, u"1"}, {kWordQuick, u"3"}};
  for (const auto& s : kSynthetic) {
    if (main && main->FindObject(s.Name)) continue;
    // Not part of the document: the entry only answers its name and family.
    TRef<TIniObject> object = MakeRef<TIniObject>(UTF8Encode(s.Name), UTF8Encode(kAnEffect));
    object->WriteString(u"stdidx", s.Family);
    mainProps_.push_back(NewEffectProp(object.get(), false));
  }
  IndexMainEntries();
}

void TORUEffectManager::IndexMainEntries() {
  mainByAscii_.Clear();
  std::string key;
  for (std::size_t k = 0; k < mainProps_.size(); ++k) {
    TIniList* object = mainProps_[k]->Object();
    if (!object) continue;
    // A name of plain bytes is keyed from them, any other decoded first.
    const std::string_view bytes = object->NameView();
    bool plain = true;
    key.clear();
    for (const char b : bytes) {
      if (static_cast<std::uint8_t>(b) >= 0x80) {
        plain = false;
        break;
      }
      key += static_cast<char>(CharInfo(static_cast<char16_t>(b)).UpperCase);
    }
    if (plain || AsciiNameKey(object->GetName(), key)) mainByAscii_.AddAscii(key, static_cast<std::int32_t>(k));
  }
  mainByAscii_.MakeIndex();
}

std::int32_t TORUEffectManager::GetMainEntryCount() {
  BuildMainEntries();
  return static_cast<std::int32_t>(mainProps_.size());
}

TEffectProp* TORUEffectManager::GetMainEntry(std::int32_t i) {
  BuildMainEntries();
  if (i < 0 || i >= static_cast<std::int32_t>(mainProps_.size())) return nullptr;
  return mainProps_[static_cast<std::size_t>(i)].get();
}

TEffectProp* TORUEffectManager::FindMainEntry(const WideString& name) {
  if (name.empty()) return nullptr;
  BuildMainEntries();
  // An ASCII name (the names of effects) is found at once, however many
  // entries there are: every slide asks.
  std::string key;
  if (std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x80; }) && AsciiNameKey(name, key)) {
    std::int32_t k = -1;
    return mainByAscii_.FindAscii(key, k) ? mainProps_[static_cast<std::size_t>(k)].get() : nullptr;
  }
  for (const TRef<TEffectProp>& p : mainProps_)
    if (p->Object() && WideSameText(p->Object()->GetName(), name)) return p.get();
  return nullptr;
}

double TORUEffectManager::GetEffectTime(std::int32_t i) {
  if (i < 0) return GetMainTime();
  TEffectProp* prop = GetEffect(i);
  return prop ? prop->GetTime() : 0;
}

double TORUEffectManager::SlideEffectTime(std::int32_t i) {
  if (!InSlideRange(i)) return 0;
  const auto slot = static_cast<std::size_t>(i);
  if (slot < slideTried_.size() && slideTried_[slot]) {
    TEffectProp* prop = slideProps_[slot].get();
    return prop ? prop->GetTime() : 0;
  }
  // The prop is made later, when the slide's transition is asked for.
  TIniObject* object = SlideEffectObject(i);
  return object ? SlideDefinitionTime(this, object) : 0;
}

void TORUEffectManager::CompleteSlideDefinition(TIniSection* section) {
  if (TIniObject* object = SlideEffectObjectOf(section)) SlideDefinitionTime(this, object);
}

double TORUEffectManager::CompletedSlideEffectTime(const TIniSection* section) const {
  if (!section) return 0;
  // A missing definition is made with "ref" = "default": the main time.
  TIniObject* object = section->FindObject(kTheEffectName);
  return object ? SlideDefinitionTime(this, object, false) : GetMainTime();
}

// ============================================================================
// Video clips and names
// ============================================================================

TIniList* FindVideoClipSection(const TIniFile* project, const WideString& guid) {
  TIniSection* tracks = project ? project->FindSection(u"Tracks") : nullptr;
  if (!tracks || guid.empty()) return nullptr;
  return WalkObjects(
      tracks,
      [&](TIniObject* o) {
        return IsNamedOrTyped(o, u"VideoClip") && WideSameText(IniGetString(o->Find(u"ClipGUID")), guid);
      },
      [](TIniObject* o) { return o->GetValue().CompareWideText(u"KeyPoint") != 0; });
}

TIniObject* GetRootSection(TIniList* target) {
  if (!target) return nullptr;
  if (TIniObject* root = target->FindObjectOfType(u"Root", u"Container")) return root;
  return target->AddObject(u"Root", u"Container");
}

double FindVideoStartTime(const TIniFile* project, const WideString& guid) {
  if (!project || guid.empty()) return -1;
  TIniSection* times = project->FindSection(u"Times");
  if (!project->FindSection(u"main") || !times) return -1;
  const std::int32_t count = std::clamp(IniGetInt(times->Find(u"opt_slidescount"), 0), 0, kMaxEffectSlideCount);
  for (std::int32_t i = 0; i < count; ++i) {
    TIniSection* section = SlideSectionProc(project, i);
    if (!section) continue;
    TIniList* video = WalkObjects(
        section,
        [&](TIniObject* o) {
          return IsNamedOrTyped(o, u"Video") && WideSameText(IniGetString(o->Find(u"ClipGUID")), guid);
        },
        [](TIniObject* o) { return o->GetValue().CompareWideText(u"KeyPoint") != 0; });
    if (!video) continue;
    if (i == 0) return 0;
    // Slide end times are whole milliseconds, read as the time line reads them.
    return IniGetInt(times->FindIndexed(u"opt_synchpos", i), 0);
  }
  return -1;
}

WideString JoinNameIndex(const WideString& name, std::int32_t i) { return name + u":" + IntToStr(i); }

WideString ExtractAfterFirstColon(const WideString& text) {
  std::size_t colon = text.find(u':');
  return colon == WideString::npos ? WideString() : text.substr(colon + 1);
}

}  // namespace oru
