#include "OruLib2/OruClasses/OruObjectMod.h"

#include <charconv>

#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmIni.h"

namespace oru {

using zm::TByteString;
using zm::TFilterParam;
using zm::TIniItem;

std::atomic<bool> ObjectModFormulaEditing{false};

namespace {

const char16_t* const kModParamTypeNames[] = {u"String", u"Int", u"Float", u"Color", u"Combo"};

bool IsNameStart(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_'; }
bool IsNameChar(char16_t c) { return IsNameStart(c) || (c >= u'0' && c <= u'9') || c == u'.'; }

WideString TrimBlanks(const WideString& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && s[a] <= u' ') ++a;
  while (b > a && s[b - 1] <= u' ') --b;
  return s.substr(a, b - a);
}

double ParseDouble(const WideString& text, double def) {
  const std::string s = zm::TByteString(zm::UTF8Encode(TrimBlanks(text))).Str();
  if (s.empty()) return def;
  double v = 0;
  const char* first = s.data();
  if (*first == '+') ++first;
  auto [end, ec] = std::from_chars(first, s.data() + s.size(), v);
  return ec == std::errc() && end == s.data() + s.size() ? v : def;
}

// A key of the modifier block with that name (never a nested block).
TIniItem* FindKey(zm::TIniList* list, std::string_view name) {
  if (!list || name.empty()) return nullptr;
  TIniItem* item = list->FindBytes(TByteString(name));
  return item && !item->IsList() ? item : nullptr;
}

bool EndsWithTime(std::string_view name) {
  return name == "T" || name == "t" ||
         (name.size() > 2 && name[name.size() - 2] == '.' && (name.back() == 'T' || name.back() == 't'));
}

}  // namespace

std::int32_t ModParamTypeOf(const WideString& word) {
  for (std::int32_t i = 0; i < 5; ++i)
    if (zm::SameText(word, kModParamTypeNames[i])) return i;
  return -1;
}

bool ParseModParamInfo(const WideString& text, TFilterParam& param) {
  param = TFilterParam{};
  param.Min = 0;
  param.Max = 100;
  param.Default = 0;
  WideString typeWord, range;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find(u';', pos);
    if (end == WideString::npos) end = text.size();
    const WideString pair = text.substr(pos, end - pos);
    pos = end + 1;
    const std::size_t colon = pair.find(u':');
    if (colon == WideString::npos) continue;
    const WideString field = TrimBlanks(pair.substr(0, colon));
    const WideString value = TrimBlanks(pair.substr(colon + 1));
    if (zm::SameText(field, u"name"))
      param.Text = value;
    else if (zm::SameText(field, u"id"))
      param.Key = value;
    else if (zm::SameText(field, u"type"))
      typeWord = value;
    else if (zm::SameText(field, u"range"))
      range = value;
  }
  const std::int32_t type = ModParamTypeOf(typeWord);
  if (type < 0) return false;
  param.Kind = static_cast<std::uint8_t>(type);
  if (type == kModParamInt || type == kModParamFloat) {
    double* slots[3] = {&param.Min, &param.Max, &param.Default};
    std::size_t p = 0;
    for (int i = 0; i < 3 && p <= range.size() && !range.empty(); ++i) {
      std::size_t e = range.find(u',', p);
      if (e == WideString::npos) e = range.size();
      *slots[i] = ParseDouble(range.substr(p, e - p), *slots[i]);
      p = e + 1;
    }
  } else {
    param.Min = param.Max = param.Default = 0;
    if (type == kModParamCombo && !range.empty()) {
      std::size_t p = 0;
      while (p <= range.size()) {
        std::size_t e = range.find(u',', p);
        if (e == WideString::npos) e = range.size();
        param.Values.push_back(TrimBlanks(range.substr(p, e - p)));
        p = e + 1;
      }
      param.Texts = param.Values;
    }
  }
  return true;
}

// ---- TOruObjectMod ----------------------------------------------------------------------

void TOruObjectMod::Dispose() {
  cmds_.Clear();
  params_.reset();
  TObjectFilter::Dispose();
}

void TOruObjectMod::Detach() {
  owner_ = nullptr;
  cmds_.Clear();
}

double TOruObjectMod::MapValue(double value) {
  if (cmds_.Empty()) return 0;
  current_ = value;
  machine_.Clear();
  if (!cmds_.Execute(machine_) || machine_.Count() != 1) return 0;
  return machine_.Top();
}

TRef<TCalcFunc> TOruObjectMod::Resolve(std::string_view name) {
  if (EndsWithTime(name) && owner_) {
    const WideString field = name.size() == 1 ? dst_ : TByteString(name).ToWide();
    if (TRef<TCalcFunc> f = owner_->GetTimeGetter(field)) return f;
    if (name.size() == 1) return nullptr;
  }
  if (zm::CompareTextUTF8(name, "value") == 0)
    return zm::MakeRef<TCalcVariable>(std::string(name), [this] { return current_; });
  if (TIniItem* key = FindKey(object_, name))
    return zm::MakeRef<TMathConst>(std::string(name), key->GetFloat(0));
  if (owner_) return owner_->GetFieldGetter(TByteString(name).ToWide());
  return nullptr;
}

bool TOruObjectMod::Prepare() {
  formula_ = zm::IniReadString(object_, u"fn");
  dst_ = zm::IniReadString(object_, u"dst");
  cmds_.Clear();
  errorCode_ = kCalcNoError;
  errorText_.clear();
  if (formula_.empty()) return true;
  if (static_cast<std::int32_t>(formula_.size()) > kMaxModFormulaLength) {
    errorCode_ = kCalcExpected;
    errorText_ = "Formula too long";
    return false;
  }
  TExpressionParser0 parser;
  parser.Resolver = [this](std::string_view name) { return Resolve(name); };
  errorCode_ = parser.Parse(formula_, cmds_);
  if (errorCode_ != kCalcNoError) {
    errorText_ = parser.ErrorText();
    cmds_.Clear();
  }
  return errorCode_ == kCalcNoError;
}

zm::TFilterParamList TOruObjectMod::GetParams() {
  if (params_) return params_;
  auto list = std::make_shared<std::vector<TFilterParam>>();
  if (ObjectModFormulaEditing.load(std::memory_order_relaxed)) {
    TFilterParam fn;
    fn.Key = u"fn";
    fn.Text = u"func";
    fn.Kind = static_cast<std::uint8_t>(kModParamString);
    list->push_back(std::move(fn));
  }
  if (object_) {
    std::int32_t wanted = IniGetInt(object_->Find(u"pcount"), -1);
    std::int32_t seen = 0;
    for (std::int32_t i = 0; i < object_->Count() && (wanted < 0 || seen < wanted); ++i) {
      TIniItem* item = object_->Get(i);
      if (!item || item->IsList() || item->Name().CompareText("pinfo") != 0) continue;
      ++seen;
      TFilterParam p;
      if (ParseModParamInfo(item->GetString(), p)) list->push_back(std::move(p));
    }
  }
  params_ = std::move(list);
  return params_;
}

std::int32_t TOruObjectMod::GetParamCount() { return static_cast<std::int32_t>(GetParams()->size()); }

WideString TOruObjectMod::GetCaption() {
  if (formula_.empty()) return TObjectFilter::GetCaption();
  WideString out;
  std::size_t i = 0;
  while (i < formula_.size()) {
    const char16_t c = formula_[i];
    if (c >= u'0' && c <= u'9') {
      // A number's exponent letter is no name.
      std::size_t j = i;
      while (j < formula_.size() && (IsNameChar(formula_[j]) ||
                                     ((formula_[j] == u'+' || formula_[j] == u'-') && j > i &&
                                      (formula_[j - 1] == u'E' || formula_[j - 1] == u'e'))))
        ++j;
      out.append(formula_, i, j - i);
      i = j;
      continue;
    }
    if (!IsNameStart(c)) {
      out.push_back(c);
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < formula_.size() && IsNameChar(formula_[j])) ++j;
    const WideString name = formula_.substr(i, j - i);
    const std::string bytes = zm::UTF8Encode(name).Str();
    TIniItem* key = nullptr;
    if (!EndsWithTime(bytes) && zm::CompareTextUTF8(bytes, "value") != 0 && !FindCalcFunction(bytes))
      key = FindKey(object_, bytes);
    out += key ? key->GetString() : name;
    i = j;
  }
  return out;
}

bool TOruObjectMod::SetParamText(std::int32_t index, const WideString& text) {
  const bool changed = TObjectFilter::SetParamText(index, text);
  if (changed && object_) {
    if (TIniItem* preset = object_->Find(u"Preset")) object_->Delete(preset->Index());
    // The formula or one of its constants changed.
    preparedRevision_ = static_cast<std::int64_t>(static_cast<std::uint64_t>(revision_) + 1);
    notPrepared_ = !Prepare();
  }
  return changed;
}

}  // namespace oru
