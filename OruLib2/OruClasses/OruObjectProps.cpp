#include "OruLib2/OruClasses/OruObjectProps.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpUnicode.h"

namespace oru {

using zm::TByteString;
using zm::TIniItem;
using zm::TIniList;
using zm::TIniObject;

const std::array<TKeyFrameParamInfo, kKeyFrameParamCount> KeyFrameParams = {{
    {0, u"Opacity", 0, u"Opacity", -1, 100, 0.01},
    {1, u"Pos.X", 1, u"Position", 0, 0, 0.01},
    {2, u"Pos.Y", 1, u"Position", 1, 0, 0.01},
    {3, u"Pos.Z", 1, u"ZPos", -1, 0, 0.01},
    {4, u"Scale.X", 2, u"ScaleX", -1, 100, 0.01},
    {5, u"Scale.Y", 2, u"ScaleY", -1, 100, 0.01},
    {6, u"Angle", 3, u"Angle", -1, 0, 1.0 / 360},
    {7, u"Angle.X", 3, u"AngleX", -1, 0, 1.0 / 360},
    {8, u"Angle.Y", 3, u"AngleY", -1, 0, 1.0 / 360},
    {9, u"Center.X", 4, u"CenterPos", 0, 0, 0.01},
    {10, u"Center.Y", 4, u"CenterPos", 1, 0, 0.01},
    {11, u"Blur", 5, u"Blur", -1, 0, 0.01},
    {12, u"Frame.S", 7, u"Zoom", -1, 100, 0.01},
    {13, u"Frame.X", 7, u"OffsX", -1, 0, 0.01},
    {14, u"Frame.Y", 7, u"OffsY", -1, 0, 0.01},
}};

const std::array<const char16_t*, kKeyFrameGroupCount> KeyFrameGroupNames = {
    u"Opacity", u"Pos", u"Scale", u"Angle", u"Center", u"Blur", u"Color", u"Frame"};

const std::array<const char16_t*, 4> KeyFrameOriginNames = {u"SlideBegin", u"PrevEffectEnd", u"NextEffectBegin",
                                                             u"SlideEnd"};

std::atomic<bool> ObjectModifiersEnabled{true};

namespace {

const char16_t* const kObjectTypeNames[] = {u"Frame",   u"Box",  u"Splitter", u"Image",
                                            u"AniImage", u"Text", u"Button",   u"Video",
                                            u"ViewPort", u"MaskStencil", u"MaskContent"};

// Hostile documents may nest objects without end; deeper ones are ignored.
constexpr std::int32_t kMaxObjectDepth = 64;
constexpr double kTimeEpsilon = 0.0001;

// The parameters of a group lie side by side in the table: [first, end).
struct TGroupRange {
  std::int32_t First = 0;
  std::int32_t End = 0;
};
constexpr std::array<TGroupRange, kKeyFrameGroupCount> kGroupRanges = {
    {{0, 1}, {1, 4}, {4, 6}, {6, 9}, {9, 11}, {11, 12}, {12, 12}, {12, 15}}};

// Reports the fault like any assertion, then lets the caller repair it.
void ReportAssertion(const char* message) {
  try {
    ZM_FAIL(message);
  } catch (const zm::EAbort&) {
  }
}

std::string FormatNumber(double v) {
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

double Finite(double v, double def) { return std::isfinite(v) ? v : def; }

// Element e of a comma-separated list of numbers, blanks around it ignored.
double PairElement(const TByteString& text, std::int32_t element, double def) {
  std::int32_t start = 0;
  for (std::int32_t e = 0; e < element; ++e) {
    const std::size_t comma = text.View().find(',', static_cast<std::size_t>(start));
    if (comma == std::string_view::npos) return def;
    start = static_cast<std::int32_t>(comma) + 1;
  }
  std::size_t stop = text.View().find(',', static_cast<std::size_t>(start));
  std::int32_t end = stop == std::string_view::npos ? text.Length() : static_cast<std::int32_t>(stop);
  while (start < end && text[static_cast<std::size_t>(start)] <= ' ') ++start;
  while (end > start && text[static_cast<std::size_t>(end - 1)] <= ' ') --end;
  if (start >= end) return def;
  return text.ToFloatDef(start, end - start, def);
}

// "Time": milliseconds, only the part before a ".".
std::int64_t ReadKeyTime(const TIniItem* item) {
  if (!item) return 0;
  const TByteString& v = item->GetValue();
  const std::size_t dot = v.View().find('.');
  const std::int32_t len = dot == std::string_view::npos ? v.Length() : static_cast<std::int32_t>(dot);
  return v.ToInt64Def(0, len, 0);
}

void ApplyMods(const std::vector<TRef<TOruObjectMod>>& mods, double& value) {
  // The last modifier first, as value filter chains run.
  for (auto it = mods.rbegin(); it != mods.rend(); ++it) {
    TOruObjectMod* m = it->get();
    if (m->Disabled() || m->NotPrepared()) continue;
    // A formula that divides by zero must not hand infinities to drawing.
    const double v = m->MapValue(value);
    if (std::isfinite(v)) value = v;
  }
}

double WorkingValue(const TOruObjectProps& props, std::int32_t i, double raw) {
  if (i == kParamScaleX) return raw * props.AspectX();
  if (i == kParamScaleY) return raw * props.AspectY();
  return raw * KeyFrameParams[static_cast<std::size_t>(i)].Multiplier;
}

}  // namespace

void CheckKeyFrameParamTable(std::span<const TKeyFrameParamInfo> table) {
  std::int32_t pairs = 0;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const TKeyFrameParamInfo& p = table[i];
    ZM_ASSERT(p.Index == static_cast<std::int32_t>(i), "Invalid oru keyframe param index");
    ZM_ASSERT(p.Multiplier != 0, "Invalid keyframe Value multiplier");
    ZM_ASSERT(p.Group >= 0 && p.Group < kKeyFrameGroupCount, "Invalid Group Range");
    // Count each pair key once, at its first element.
    if (p.PairElement == 0) ++pairs;
  }
  ZM_ASSERT(pairs == 2, "Invalid keyframe pair keys");
}

std::int32_t OruObjectTypeOf(const WideString& word) {
  if (word.empty()) return 0;
  const char32_t first = zm::FoldChar(word[0]);
  for (std::int32_t i = 0; i < 11; ++i)
    if (zm::FoldChar(kObjectTypeNames[i][0]) == first && zm::SameText(word, kObjectTypeNames[i])) return i + 1;
  return 0;
}

WideString OruObjectTypeName(std::int32_t type) {
  return type >= 1 && type <= 11 ? WideString(kObjectTypeNames[type - 1]) : WideString();
}

std::uint8_t KeyFrameGroupMaskFor(std::int32_t objectType) {
  if (objectType >= kOruObjImage && objectType <= kOruObjVideo)
    return objectType == kOruObjImage || objectType == kOruObjVideo ? 0xFF : 0x7F;
  return 0x3F;
}

TParamRef ParseParamRef(const WideString& name) {
  TParamRef ref;
  const std::size_t dot = name.find(u'.');
  const WideString group = name.substr(0, dot);
  std::int32_t g = -1;
  for (std::int32_t k = 0; k < kKeyFrameGroupCount && g < 0; ++k)
    if (zm::SameText(group, KeyFrameGroupNames[static_cast<std::size_t>(k)])) g = k;
  if (g < 0) return ref;
  if (dot != WideString::npos && name.size() == dot + 2 && (name[dot + 1] == u'T' || name[dot + 1] == u't')) {
    ref.Group = g;
    return ref;
  }
  // A parameter's time is the time of its group.
  const std::size_t n = name.size();
  if (dot != WideString::npos && n > dot + 2 && name[n - 2] == u'.' && (name[n - 1] == u'T' || name[n - 1] == u't')) {
    const TParamRef field = ParseParamRef(name.substr(0, n - 2));
    if (field.Param >= 0) ref.Group = field.Group;
    return ref;
  }
  const TGroupRange r = kGroupRanges[static_cast<std::size_t>(g)];
  for (std::int32_t i = r.First; i < r.End; ++i)
    if (zm::SameText(name, KeyFrameParams[static_cast<std::size_t>(i)].Name)) {
      ref.Group = g;
      ref.Param = i;
      break;
    }
  return ref;
}

double TOruTimeFrame::OriginTime(std::int32_t origin) const {
  switch (origin) {
    case 1: return PrevEffectEnd;
    case 2: return NextEffectBegin;
    case 3: return SlideEnd;
    default: return SlideBegin;
  }
}

TOruKeyFrame* GetKeyFrame(const TOruKeyFrameList& list, std::int32_t i) {
  return i >= 0 && i < static_cast<std::int32_t>(list.Items.size()) ? list.Items[static_cast<std::size_t>(i)]
                                                                      : nullptr;
}

void SetKeyFramesChanged(TOruKeyFrameList& list, bool flag) {
  list.Changed = flag;
  if (flag) ++list.ChangeCount;
}

// ---- TOruKeyFrame -----------------------------------------------------------------------

TOruKeyFrame* TOruKeyFrame::Create(TOruObjectProps* props) {
  ZM_ASSERT(props, "TOruKeyFrame.Create without properties");
  auto* kf = new TOruKeyFrame(props);
  kf->AfterConstruction();
  TIniObject* ini = nullptr;
  if (props->section_) {
    ini = props->section_->AddObject(u"KeyPoint", u"KeyPoint");
  } else {
    kf->ownIni_ = new TIniObject("KeyPoint", "KeyPoint");
    kf->ownIni_->AfterConstruction();
    ini = kf->ownIni_;
  }
  props->keyFrames_.Items.push_back(kf);
  kf->Load(ini);
  props->SortKeyFrames();
  return kf;
}

void TOruKeyFrame::Dispose() {
  ClearChildren();
  zm::FreeAndNil(ownIni_);
  ini_ = nullptr;
  props_ = nullptr;
  TRefObject::Dispose();
}

void TOruKeyFrame::ClearChildren() {
  auto detach = [](std::vector<TRef<TOruObjectMod>>& mods) {
    for (auto& m : mods) m->Detach();
    mods.clear();
  };
  for (auto& mods : paramMods_) detach(mods);
  for (auto& mods : groupMods_) detach(mods);
  zm::FreeFilterChain(filters_);
}

void TOruKeyFrame::Load(TIniObject* ini) {
  ClearChildren();
  ini_ = ini;
  const std::uint8_t allowed = props_ ? KeyFrameGroupMaskFor(props_->objectType_) : 0xFF;
  groups_ = static_cast<std::uint8_t>(zm::IniGetInt(ini->Find(u"grps"), 255) & allowed);
  origin_ = 0;
  if (TIniItem* o = ini->Find(u"Origin")) {
    static const std::array<WideString, 4> names = {KeyFrameOriginNames[0], KeyFrameOriginNames[1],
                                                    KeyFrameOriginNames[2], KeyFrameOriginNames[3]};
    origin_ = o->GetEnum(names, 0, true);
  }
  relTime_ = ReadKeyTime(ini->Find(u"Time"));
  LoadChildren();
  ReadValues();
  UpdateTime(props_ ? props_->timeFactor_ : 1.0);
}

void TOruKeyFrame::LoadChildren() {
  for (TIniObject* obj = ini_->FirstObject(); obj; obj = ini_->NextObject(obj)) {
    if (zm::SameText(obj->GetName(), u"Filter")) {
      for (TIniObject* f = obj->FirstObject(); f; f = obj->NextObject(f))
        if (TRef<zm::TObjectFilter> filter = zm::CreateObjectFilter(f))
          filters_ = zm::PrependFilter(filter.Detach(), filters_);
      continue;
    }
    TRef<TOruObjectMod> mod = zm::MakeRef<TOruObjectMod>();
    mod->SetOwner(props_);
    if (!mod->Load(obj)) continue;
    const TParamRef ref = ParseParamRef(mod->Dst());
    if (!ref.IsValid()) {
      mod->Detach();
      continue;
    }
    if (ref.IsTime())
      groupMods_[static_cast<std::size_t>(ref.Group)].push_back(std::move(mod));
    else
      paramMods_[static_cast<std::size_t>(ref.Param)].push_back(std::move(mod));
  }
  filters_ = zm::ReverseFilterChain(filters_);
}

TIniList* TOruKeyFrame::ValueStore(std::int32_t i) const {
  const auto& mods = paramMods_[static_cast<std::size_t>(i)];
  if (!mods.empty()) {
    TIniObject* m = mods.front()->IniObject();
    if (m && m->Find(KeyFrameParams[static_cast<std::size_t>(i)].Key)) return m;
  }
  return ini_;
}

void TOruKeyFrame::ReadValues() {
  for (std::int32_t i = 0; i < kKeyFrameParamCount; ++i) {
    const TKeyFrameParamInfo& p = KeyFrameParams[static_cast<std::size_t>(i)];
    double v = p.Default;
    if (groups_ & (1u << p.Group)) {
      TIniList* store = ValueStore(i);
      const TIniItem* item = store ? store->Find(p.Key) : nullptr;
      if (item && !item->IsList())
        v = p.PairElement < 0 ? item->GetFloat(p.Default) : PairElement(item->GetValue(), p.PairElement, p.Default);
      // Damaged numbers ("nan", "1e999") must not poison the interpolation.
      v = Finite(v, p.Default);
    }
    values_[static_cast<std::size_t>(i)] = v;
    if (p.PairElement >= 0) pairs_[p.Key[0] == u'P' ? 0 : 1][static_cast<std::size_t>(p.PairElement)] = v;
  }
}

void TOruKeyFrame::UpdateTime(double factor) {
  const double origin = props_ ? props_->frame_.OriginTime(origin_) : 0.0;
  time_ = origin + std::nearbyint(static_cast<double>(relTime_) * factor);
  if (!std::isfinite(time_)) time_ = origin;
}

std::span<const TRef<TOruObjectMod>> TOruKeyFrame::ParamMods(std::int32_t i) const {
  if (i < 0 || i >= kKeyFrameParamCount) return {};
  return paramMods_[static_cast<std::size_t>(i)];
}

std::span<const TRef<TOruObjectMod>> TOruKeyFrame::GroupMods(std::int32_t g) const {
  if (g < 0 || g >= kKeyFrameGroupCount) return {};
  return groupMods_[static_cast<std::size_t>(g)];
}

bool TOruKeyFrame::GetParam(std::int32_t i, double& value) const {
  ZM_ASSERT(i >= 0 && i < kKeyFrameParamCount, "Invalid oru keyframe param index");
  const TKeyFrameParamInfo& p = KeyFrameParams[static_cast<std::size_t>(i)];
  const bool set = (groups_ >> p.Group) & 1;
  value = set ? values_[static_cast<std::size_t>(i)] : p.Default;
  return set;
}

void TOruKeyFrame::SetParam(std::int32_t i, double value) {
  ZM_ASSERT(i >= 0 && i < kKeyFrameParamCount, "Invalid oru keyframe param index");
  if (!ini_) return;
  const TKeyFrameParamInfo& p = KeyFrameParams[static_cast<std::size_t>(i)];
  TIniList* store = ini_;
  const auto& mods = paramMods_[static_cast<std::size_t>(i)];
  if (!mods.empty() && mods.front()->IniObject()) store = mods.front()->IniObject();
  TIniItem* item = store->GetOrAdd(p.Key);
  if (p.PairElement < 0) {
    item->SetFloat(value);
  } else {
    // Only this element changes; missing ones before it take the defaults.
    std::vector<std::string> parts;
    const std::string_view text = item->ValueView();
    if (!text.empty()) {
      std::size_t pos = 0;
      for (;;) {
        const std::size_t comma = text.find(',', pos);
        parts.emplace_back(text.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos));
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
      }
    }
    const std::size_t element = static_cast<std::size_t>(p.PairElement);
    while (parts.size() <= element)
      parts.push_back(FormatNumber(KeyFrameParams[static_cast<std::size_t>(i - p.PairElement) + parts.size()].Default));
    parts[element] = FormatNumber(value);
    std::string joined;
    for (std::size_t k = 0; k < parts.size(); ++k) {
      if (k) joined += ',';
      joined += parts[k];
    }
    item->SetValue(TByteString(std::move(joined)));
  }
  const std::uint8_t allowed = props_ ? KeyFrameGroupMaskFor(props_->objectType_) : 0xFF;
  groups_ = static_cast<std::uint8_t>((groups_ | (1u << p.Group)) & allowed);
  ini_->GetOrAdd(u"grps")->SetInt(groups_);
  ReadValues();
  if (props_) SetKeyFramesChanged(props_->keyFrames_, true);
}

// ---- TOruObjectProps -----------------------------------------------------------------------

TOruObjectProps::TOruObjectProps() {
  for (std::size_t i = 0; i < base_.size(); ++i) base_[i] = KeyFrameParams[i].Default;
  groupMemo_.fill(-1);
  for (std::size_t i = 0; i < raw_.size(); ++i) {
    raw_[i] = KeyFrameParams[i].Default;
    values_[i] = WorkingValue(*this, static_cast<std::int32_t>(i), raw_[i]);
  }
}

void TOruObjectProps::Dispose() {
  std::vector<TOruKeyFrame*> frames = std::move(keyFrames_.Items);
  keyFrames_.Items.clear();
  for (TOruKeyFrame* kf : frames) {
    kf->ClearChildren();
    kf->props_ = nullptr;
    kf->Free();
  }
  groupFrames_ = {};
  groupA_.fill(nullptr);
  groupB_.fill(nullptr);
  children_.clear();
  TRefObject::Dispose();
}

bool TOruObjectProps::Bind(TOruObject* object) {
  if (bound_ && bound_ != object) return false;
  bound_ = object;
  return true;
}

void TOruObjectProps::Unbind(TOruObject* object) {
  if (bound_ == object) bound_ = nullptr;
}

TIniItem* TOruObjectProps::FindItem(const TOruObjectProps* props, const WideString& key) {
  return props && props->section_ ? props->section_->Find(key) : nullptr;
}

WideString TOruObjectProps::ReadString(const TOruObjectProps* props, const WideString& key, const WideString& def) {
  return props && props->section_ ? props->section_->ReadString(key, def) : def;
}

TOruObjectProps* TOruObjectProps::Child(std::int32_t i) const {
  return i >= 0 && i < ChildCount() ? children_[static_cast<std::size_t>(i)].get() : nullptr;
}

void TOruObjectProps::LoadFromIni(TIniList* section) { LoadLevel(section, 0); }

void TOruObjectProps::LoadLevel(TIniList* section, std::int32_t depth) {
  section_ = section;
  if (!section) return;
  objectType_ = section->IsObject() ? OruObjectTypeOf(static_cast<TIniObject*>(section)->GetType()) : 0;
  if (TIniItem* g = section->Find(u"GUID")) guid_ = g->GetValue();
  loadedDelta1_ = Finite(zm::IniGetFloat(section->Find(u"DeltaTime1"), 0), 0);
  loadedDelta2_ = Finite(zm::IniGetFloat(section->Find(u"DeltaTime2"), 0), 0);
  deltaTime1_ = std::nearbyint(loadedDelta1_ * timeFactor_);
  deltaTime2_ = std::nearbyint(loadedDelta2_ * timeFactor_);
  treeNode_ = zm::IniGetBool(section->Find(u"TreeNode"), false);
  animEnable_ = zm::IniGetBool(section->Find(u"AnimEnable"), true);

  std::size_t used = 0;
  std::vector<TRef<TOruObjectProps>> old = std::move(children_);
  children_.clear();
  for (TIniObject* obj = section->FirstObject(); obj; obj = section->NextObject(obj)) {
    if (zm::SameText(obj->GetType(), u"KeyPoint")) {
      TOruKeyFrame* kf;
      if (used < keyFrames_.Items.size()) {
        kf = keyFrames_.Items[used];
      } else {
        kf = new TOruKeyFrame(this);
        kf->AfterConstruction();
        keyFrames_.Items.push_back(kf);
      }
      ++used;
      kf->Load(obj);
      continue;
    }
    if (depth + 1 >= kMaxObjectDepth) continue;
    TIniItem* g = obj->Find(u"GUID");
    if (!g || g->GetValue().IsEmpty()) {
      ReportAssertion("OruObject GUID not Assigned");
      zm::TGUID id;
      zm::NewGUID(id);
      g = obj->GetOrAdd(u"GUID");
      g->SetValue(zm::GUIDToByteString(id));
    }
    const TByteString& guid = g->GetValue();
    TRef<TOruObjectProps> child;
    const std::size_t pos = children_.size();
    if (pos < old.size() && old[pos] && old[pos]->guid_ == guid) {
      child = std::move(old[pos]);
    } else {
      for (auto& o : old)
        if (o && o->guid_ == guid) {
          child = std::move(o);
          break;
        }
    }
    if (!child) child = zm::MakeRef<TOruObjectProps>();
    child->guid_ = guid;
    child->timeFactor_ = timeFactor_;
    child->frame_ = frame_;
    child->LoadLevel(obj, depth + 1);
    children_.push_back(std::move(child));
  }
  while (keyFrames_.Items.size() > used) {
    TOruKeyFrame* kf = keyFrames_.Items.back();
    keyFrames_.Items.pop_back();
    kf->ClearChildren();
    kf->props_ = nullptr;
    kf->Free();
  }
  SortKeyFrames();
  SetKeyFramesChanged(keyFrames_, true);
}

void TOruObjectProps::SortKeyFrames() {
  auto& items = keyFrames_.Items;
  const auto earlier = [](const TOruKeyFrame* a, const TOruKeyFrame* b) { return a->time_ < b->time_; };
  if (!std::is_sorted(items.begin(), items.end(), earlier)) std::stable_sort(items.begin(), items.end(), earlier);
  SetKeyFramesChanged(keyFrames_, true);
}

void TOruObjectProps::ApplyAspect(std::int32_t width, std::int32_t height) {
  aspectX_ = 0.01;
  aspectY_ = 0.01;
  if (!section_ || !zm::IniGetBool(section_->Find(u"EnableAspect"), false)) return;
  const double a = zm::IniGetFloat(section_->Find(u"Aspect"), 0);
  if (!(a > 0) || !std::isfinite(a) || width <= 0 || height <= 0) return;
  const double r = static_cast<double>(width) / height;
  if (r <= a)
    aspectY_ = 0.01 * height * a / width;
  else
    aspectX_ = 0.01 * width / (height * a);
}

void TOruObjectProps::SetBaseParam(std::int32_t i, double value) {
  if (i >= 0 && i < kKeyFrameParamCount && std::isfinite(value)) base_[static_cast<std::size_t>(i)] = value;
}

double TOruObjectProps::BaseParam(std::int32_t i) const {
  return i >= 0 && i < kKeyFrameParamCount ? base_[static_cast<std::size_t>(i)] : 0.0;
}

void TOruObjectProps::ScaleTimes(const TOruTimeFrame& frame, double factor) {
  frame_.SlideBegin = Finite(frame.SlideBegin, 0);
  frame_.PrevEffectEnd = Finite(frame.PrevEffectEnd, 0);
  frame_.NextEffectBegin = Finite(frame.NextEffectBegin, 0);
  frame_.SlideEnd = Finite(frame.SlideEnd, 0);
  timeFactor_ = Finite(factor, 1);
  deltaTime1_ = Finite(std::nearbyint(loadedDelta1_ * timeFactor_), 0);
  deltaTime2_ = Finite(std::nearbyint(loadedDelta2_ * timeFactor_), 0);
  for (TOruKeyFrame* kf : keyFrames_.Items) kf->UpdateTime(timeFactor_);
  SortKeyFrames();
  for (auto& c : children_) c->ScaleTimes(frame_, timeFactor_);
}

void TOruObjectProps::RebuildGroups() {
  for (std::int32_t g = 0; g < kKeyFrameGroupCount; ++g) {
    auto& list = groupFrames_[static_cast<std::size_t>(g)];
    list.clear();
    for (TOruKeyFrame* kf : keyFrames_.Items)
      if ((kf->groups_ >> g) & 1) list.push_back(kf);
  }
  groupsBuiltFor_ = keyFrames_.ChangeCount;
}

void TOruObjectProps::UpdateGroup(std::int32_t g, double t) {
  const std::size_t gi = static_cast<std::size_t>(g);
  const auto& frames = groupFrames_[gi];
  const std::int32_t n = static_cast<std::int32_t>(frames.size());
  const TGroupRange range = kGroupRanges[gi];
  if (n == 0) {
    groupA_[gi] = groupB_[gi] = nullptr;
    groupF_[gi] = groupT_[gi] = 0;
    for (std::int32_t i = range.First; i < range.End; ++i) {
      raw_[static_cast<std::size_t>(i)] = KeyFrameParams[static_cast<std::size_t>(i)].Default;
      values_[static_cast<std::size_t>(i)] = WorkingValue(*this, i, raw_[static_cast<std::size_t>(i)]);
    }
    return;
  }
  // Search from where the previous call stopped: one step per key frame
  // passed while the show plays; strides that double (then a bisection)
  // keep jumps across the slide short.
  auto timeAt = [&frames](std::int32_t k) { return frames[static_cast<std::size_t>(k)]->time_; };
  std::int32_t lo = std::clamp(groupMemo_[gi], -1, n - 1);  // at or before t, or -1
  std::int32_t hi;                                          // after t, or n
  if (lo >= 0 && timeAt(lo) > t) {
    hi = lo;
    for (std::int32_t step = 1;; step *= 2) {
      lo = hi - step;
      if (lo < 0) {
        lo = -1;
        break;
      }
      if (timeAt(lo) <= t) break;
      hi = lo;
    }
  } else {
    for (std::int32_t step = 1;; step *= 2) {
      hi = lo + step;
      if (hi >= n) {
        hi = n;
        break;
      }
      if (timeAt(hi) > t) break;
      lo = hi;
    }
  }
  while (hi - lo > 1) {
    const std::int32_t mid = lo + (hi - lo) / 2;
    if (timeAt(mid) <= t)
      lo = mid;
    else
      hi = mid;
  }
  const std::int32_t idx = lo;
  groupMemo_[gi] = idx;

  TOruKeyFrame* a;
  TOruKeyFrame* b;
  double f = 0;
  if (idx < 0) {
    a = b = frames.front();
  } else if (idx == n - 1) {
    a = b = frames.back();
    if (n == 1) {
      // A lone key frame still gives modifiers a time: up to the slide's end.
      const double span = frame_.SlideEnd - a->time_;
      if (span > kTimeEpsilon) f = std::clamp((t - a->time_) / span, 0.0, 1.0);
    }
  } else {
    a = frames[static_cast<std::size_t>(idx)];
    b = frames[static_cast<std::size_t>(idx + 1)];
    const double d = b->time_ - a->time_;
    if (d > kTimeEpsilon) f = (t - a->time_) / d;
  }
  groupA_[gi] = a;
  groupB_[gi] = b;
  groupT_[gi] = f;
  const bool mods = ObjectModifiersEnabled.load(std::memory_order_relaxed);
  if (mods && !a->groupMods_[gi].empty()) ApplyMods(a->groupMods_[gi], f);
  groupF_[gi] = f;

  double zoom = 0;
  for (std::int32_t i = range.First; i < range.End; ++i) {
    const std::size_t ii = static_cast<std::size_t>(i);
    const double va = a->values_[ii];
    const double vb = b->values_[ii];
    double v = va + (vb - va) * f;
    if (i == kParamFrameZoom) zoom = v * KeyFrameParams[ii].Multiplier;
    if (i == kParamFrameX || i == kParamFrameY) {
      // Keep the framed point steady while the zoom changes: interpolate
      // the offsets as distances within the picture's overhang.
      const double mz = KeyFrameParams[kParamFrameZoom].Multiplier;
      const double za = a->values_[kParamFrameZoom] * mz;
      const double zb = b->values_[kParamFrameZoom] * mz;
      if (std::abs(za - zb) > kTimeEpsilon && std::abs(va - vb) > kTimeEpsilon) {
        const double s = base_[i == kParamFrameX ? kParamScaleX : kParamScaleY] * 0.01;
        const double d = zoom * s - 1;
        if (d > 0) {
          const double oa = va * (za * s - 1);
          const double ob = vb * (zb * s - 1);
          v = (oa + (ob - oa) * f) / d;
        }
      }
    }
    if (mods && !a->paramMods_[ii].empty()) {
      raw_[ii] = v;
      ApplyMods(a->paramMods_[ii], v);
    }
    raw_[ii] = v;
    values_[ii] = WorkingValue(*this, i, v);
  }
}

void TOruObjectProps::UpdateAtTime(double time, bool withChildren) {
  if (std::isnan(time)) time = 0;
  localTime_ = time;
  if (groupsBuiltFor_ != keyFrames_.ChangeCount) RebuildGroups();
  for (std::int32_t g = 0; g < kKeyFrameGroupCount; ++g) UpdateGroup(g, time);
  if (withChildren)
    for (auto& c : children_) c->UpdateAtTime(time, true);
}

double TOruObjectProps::Param(std::int32_t i) const {
  return i >= 0 && i < kKeyFrameParamCount ? values_[static_cast<std::size_t>(i)] : 0.0;
}

double TOruObjectProps::RawParam(std::int32_t i) const {
  return i >= 0 && i < kKeyFrameParamCount ? raw_[static_cast<std::size_t>(i)] : 0.0;
}

TOruKeyFrame* TOruObjectProps::GroupFrameA(std::int32_t g) const {
  return g >= 0 && g < kKeyFrameGroupCount ? groupA_[static_cast<std::size_t>(g)] : nullptr;
}

TOruKeyFrame* TOruObjectProps::GroupFrameB(std::int32_t g) const {
  return g >= 0 && g < kKeyFrameGroupCount ? groupB_[static_cast<std::size_t>(g)] : nullptr;
}

double TOruObjectProps::GroupFraction(std::int32_t g) const {
  return g >= 0 && g < kKeyFrameGroupCount ? groupF_[static_cast<std::size_t>(g)] : 0.0;
}

double TOruObjectProps::GroupTime(std::int32_t g) const {
  return g >= 0 && g < kKeyFrameGroupCount ? groupT_[static_cast<std::size_t>(g)] : 0.0;
}

TRef<TCalcFunc> TOruObjectProps::GetTimeGetter(const WideString& field) {
  const TParamRef ref = ParseParamRef(field);
  if (!ref.IsValid()) return nullptr;
  return zm::MakeRef<TTimeGetter>(zm::UTF8Encode(field).Str(), this, ref.Group);
}

TRef<TCalcFunc> TOruObjectProps::GetFieldGetter(const WideString& name) {
  const TParamRef ref = ParseParamRef(name);
  if (!ref.IsValid() || ref.IsTime()) return nullptr;
  return zm::MakeRef<TFieldGetter>(zm::UTF8Encode(name).Str(), this, ref.Param);
}

// ---- Getters ------------------------------------------------------------------------------

TParamGetter::TParamGetter(std::string name, TOruObjectProps* props, std::int32_t index)
    : TCalcFunc(std::move(name), 0), props_(props), index_(index) {}

bool TTimeGetter::Execute(TCalcMachine& machine) const { return machine.Push(props_->GroupTime(index_)); }

bool TFieldGetter::Execute(TCalcMachine& machine) const { return machine.Push(props_->RawParam(index_)); }

void InitOruObjectProps() { CheckKeyFrameParamTable(KeyFrameParams); }

void FiniOruObjectProps() {}

}  // namespace oru
