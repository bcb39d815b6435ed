#include "ZmLib/Graphics/zmObjectFilters.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numbers>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/zmColorHSL.h"
#include "ZmLib/Graphics/zmColorTypes.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmLocal.h"

namespace zm {

namespace {

const WideString kObjects = u"Objects";
const WideString kFilterPrefix = u"filter_";
const WideString kFilterOptPrefix = u"filteropt_";

template <class T>
T ClampTo(T v, T lo, T hi) {
  return v < lo ? lo : v > hi ? hi : v;
}

constexpr double kMaxLinear = 10000;

// trunc, clamped to 0..255; NaN gives 0.
std::uint8_t TruncByte(double v) {
  if (!(v > 0)) return 0;
  if (v >= 255) return 255;
  return static_cast<std::uint8_t>(v);
}

// Runs map over the first Width pixels of rows 0 .. Rows-1 (alpha set to
// 255), then copies row 0 over the rows below Rows.
template <class Map>
void MapTable(TSysBitmap* bitmap, std::int32_t width, std::int32_t rows, Map map) {
  if (!bitmap || bitmap->BytesPerPixel() != 4 || width < 1 || rows < 1) return;
  const std::int32_t w = std::min(width, bitmap->Width());
  const std::int32_t h = std::min(rows, bitmap->Height());
  if (w < 1 || h < 1) return;
  for (std::int32_t y = 0; y < h; ++y) {
    std::uint8_t* p = bitmap->ScanLine(y);
    for (std::int32_t x = 0; x < w; ++x, p += 4) {
      map(p[0], p[1], p[2]);
      p[3] = 255;
    }
  }
  const std::size_t rowBytes = std::size_t(bitmap->Width()) * 4;
  const std::uint8_t* first = bitmap->ScanLine(0);
  for (std::int32_t y = h; y < bitmap->Height(); ++y) std::memmove(bitmap->ScanLine(y), first, rowBytes);
}

// Per-channel maps go through a table of 256 entries per channel.
struct TChannelLut {
  std::uint8_t V[3][256];
};

void ApplyChannelLut(TSysBitmap* bitmap, std::int32_t width, std::int32_t rows, const TChannelLut& lut) {
  MapTable(bitmap, width, rows, [&](std::uint8_t& b, std::uint8_t& g, std::uint8_t& r) {
    b = lut.V[0][b];
    g = lut.V[1][g];
    r = lut.V[2][r];
  });
}

std::int32_t ReadInt(TIniObject* o, const WideString& key, std::int32_t def) { return IniGetInt(IniFind(o, key), def); }

double ReadFloat(TIniObject* o, const WideString& key, double def) {
  const double v = IniGetFloat(IniFind(o, key), def);
  return std::isfinite(v) ? v : def;
}

// ---- Registry ----------------------------------------------------------------------

std::mutex gRegistryLock;
TFilterInfo* gRegistry = nullptr;

// ---- Cached descriptors ----------------------------------------------------------------

enum TParamSet { psBrightContrast, psLevels, psColorization, psHSL, psCount };

struct TParamRow {
  const char16_t* Key;
  const char16_t* Display;
  std::uint8_t Kind;
  double Min, Max, Default;
};

constexpr TParamRow kBrightContrast[] = {{u"Bright", u"Brightness", fpkNumber, -100, 100, 0},
                                         {u"Contrast", u"Contrast", fpkNumber, -100, 100, 0}};
constexpr TParamRow kLevels[] = {{u"Min", u"Min", fpkNumber, 0, 255, 0},
                                 {u"Med", u"Med", fpkNumber, -100, 100, 0},
                                 {u"Max", u"Max", fpkNumber, 0, 255, 255}};
constexpr TParamRow kColorization[] = {{u"Color", u"Color", fpkColor, 0, 100, 0},
                                       {u"Amount", u"Amount", fpkNumber, 0, 100, 100}};
constexpr TParamRow kHSL[] = {{u"Hue", u"Hue", fpkNumber, -180, 180, 0},
                              {u"Saturation", u"Saturation", fpkNumber, -100, 100, 0},
                              {u"Lightness", u"Lightness", fpkNumber, -100, 100, 0}};

std::mutex gParamLock;
TFilterParamList gParams[psCount];
WideString gParamLanguage;

WideString CurrentLanguage() { return TranslateText({}, {}, {}); }

template <std::size_t N>
TFilterParamList BuildParams(const TParamRow (&rows)[N]) {
  auto list = std::make_shared<std::vector<TFilterParam>>();
  for (const TParamRow& row : rows) {
    TFilterParam p;
    p.Key = row.Key;
    p.Text = TranslateText(kObjects, kFilterOptPrefix + row.Display, row.Display);
    p.Kind = row.Kind;
    p.Min = row.Min;
    p.Max = row.Max;
    p.Default = row.Default;
    list->push_back(std::move(p));
  }
  return list;
}

TFilterParamList BuildParamSet(TParamSet set) {
  switch (set) {
    case psBrightContrast: return BuildParams(kBrightContrast);
    case psLevels: return BuildParams(kLevels);
    case psColorization: return BuildParams(kColorization);
    default: return BuildParams(kHSL);
  }
}

TFilterParamList CachedParams(TParamSet set) {
  // Built outside the lock (a translator may take locks of its own), and
  // built again for as long as the language changed meanwhile, so that one
  // list never mixes two languages.
  for (;;) {
    const WideString language = CurrentLanguage();
    {
      std::lock_guard<std::mutex> guard(gParamLock);
      if (language != gParamLanguage) {
        for (auto& p : gParams) p.reset();
        gParamLanguage = language;
      }
      if (gParams[set]) return gParams[set];
    }
    TFilterParamList built = BuildParamSet(set);
    if (CurrentLanguage() != language) continue;
    std::lock_guard<std::mutex> guard(gParamLock);
    if (language == gParamLanguage && !gParams[set]) gParams[set] = built;
    return built;
  }
}

struct TPresetRow {
  const char16_t* Name;
  const char16_t* Color;
};
constexpr TPresetRow kPresets[] = {
    {u"GrayScale", u"#808080"}, {u"Sepia", u"155,130,99"}, {u"Cyan", u"#6B7E92"}, {u"Custom", u""}};

WideString PresetText(const WideString& name) { return TranslateText(u"ColorCorrect", name, name); }

const TFilterParamList& NoParams() {
  static const TFilterParamList empty = std::make_shared<const std::vector<TFilterParam>>();
  return empty;
}

}  // namespace

// ---- TObjectFilter ------------------------------------------------------------------------

void TObjectFilter::Dispose() {
  // The chain is let go link by link, so a long chain frees without deep
  // recursion; a link someone else still holds keeps the rest behind it.
  TObjectFilter* n = std::exchange(Next, nullptr);
  while (n) {
    if (n->RefCount() != 1) {
      n->Free();
      break;
    }
    TObjectFilter* after = std::exchange(n->Next, nullptr);
    n->Free();
    n = after;
  }
  TRefObject::Dispose();
}

void TObjectFilter::ApplyToBitmap(TSysBitmap*, std::int32_t, std::int32_t) {}
double TObjectFilter::MapValue(double) { return 0; }
bool TObjectFilter::Prepare() { return true; }
std::int32_t TObjectFilter::GetKind() { return fkChannel; }
std::int32_t TObjectFilter::GetParamCount() { return 0; }
TFilterParamList TObjectFilter::GetParams() { return NoParams(); }
WideString TObjectFilter::GetCaption() { return displayName_; }

WideString TObjectFilter::GetParamText(std::int32_t index) {
  const TFilterParamList params = GetParams();
  if (!params || index < 0 || index >= std::int32_t(params->size()) || !object_) return {};
  const TFilterParam& p = (*params)[std::size_t(index)];
  const WideString value = IniReadString(object_, p.Key);
  if (p.Kind != fpkEnum) return value;
  for (std::size_t i = 0; i < p.Values.size() && i < p.Texts.size(); ++i)
    if (p.Values[i] == value) return p.Texts[i];
  return {};
}

bool TObjectFilter::SetParamText(std::int32_t index, const WideString& text) {
  const TFilterParamList params = GetParams();
  if (!params || index < 0 || index >= std::int32_t(params->size()) || !object_) return false;
  const TFilterParam& p = (*params)[std::size_t(index)];
  WideString value = text;
  if (p.Kind == fpkEnum) {
    bool found = false;
    for (std::size_t i = 0; i < p.Values.size() && i < p.Texts.size(); ++i)
      if (p.Texts[i] == text) {
        value = p.Values[i];
        found = true;
        break;
      }
    if (!found) return false;
  }
  TIniItem* item = object_->Find(p.Key);
  if (item && item->GetString() == value) return false;
  if (!item) item = object_->GetOrAdd(p.Key);
  item->SetString(value);
  revision_ = static_cast<std::int64_t>(static_cast<std::uint64_t>(revision_) + 1);  // wraps, never overflows
  object_->GetOrAdd(u"$rev")->SetInt64(revision_);
  return true;
}

bool TObjectFilter::Load(TIniObject* object) {
  if (!object) return false;
  const std::int64_t rev = IniGetInt64(object->Find(u"$rev"), 0);
  if (!id_.IsEmpty()) {
    TIniItem* id = object->Find(u"id");
    if (!id || id->GetValue() != id_ || rev != revision_) return false;
  } else {
    if (displayName_.empty()) displayName_ = object->GetName();
    TIniItem* id = object->Find(u"id");
    if (!id || id->GetValue().IsEmpty()) {
      TGUID g;
      NewGUID(g);
      id = object->GetOrAdd(u"id");
      id->SetValue(GUIDToByteString(g));
    }
    id_ = id->GetValue();
    revision_ = rev;
  }
  object_ = object;
  disabled_ = IniGetBool(object->Find(u"Disable"), false);
  // Wrapping add: a hostile "$rev" at the top of the range must not overflow.
  const auto next = static_cast<std::int64_t>(static_cast<std::uint64_t>(revision_) + 1);
  if (next != preparedRevision_) {
    preparedRevision_ = next;
    notPrepared_ = !Prepare();
  }
  return true;
}

// ---- TLinearGenerator ---------------------------------------------------------------------

bool TLinearGenerator::Prepare() {
  // Bounded so that no factor or offset becomes infinite (0 * inf is NaN).
  const float k = static_cast<float>(ClampTo(ReadFloat(object_, u"k", 1.0), -kMaxLinear, kMaxLinear));
  const float d = static_cast<float>(ClampTo(ReadFloat(object_, u"d", 0.0), -kMaxLinear, kMaxLinear) * 255);
  for (int i = 0; i < 3; ++i) {
    K[i] = k;
    B[i] = d;
  }
  return true;
}

void TLinearGenerator::ApplyToBitmap(TSysBitmap* bitmap, std::int32_t width, std::int32_t rows) {
  TChannelLut lut;
  for (int ch = 0; ch < 3; ++ch)
    for (int c = 0; c < 256; ++c) lut.V[ch][c] = TruncByte(double(c) * double(K[ch]) + double(B[ch]));
  ApplyChannelLut(bitmap, width, rows, lut);
}

bool TBrightContrastGenerator::Prepare() {
  const std::int32_t bright = ClampTo(ReadInt(object_, u"bright", 0), -100, 100);
  const std::int32_t contrast = ClampTo(ReadInt(object_, u"contrast", 0), -100, 100);
  const double a = (100 - contrast) * std::numbers::pi * 0.0025;
  const float k = std::fabs(a) <= 0.001 ? 10000.0f : static_cast<float>(ClampTo(1.0 / std::tan(a), 0.0, 10000.0));
  const float b = static_cast<float>(((1 - double(k)) * 0.5 + (bright / 255.0) * double(k)) * 255);
  for (int i = 0; i < 3; ++i) {
    K[i] = k;
    B[i] = b;
  }
  return true;
}

std::int32_t TBrightContrastGenerator::GetParamCount() { return std::int32_t(std::size(kBrightContrast)); }
TFilterParamList TBrightContrastGenerator::GetParams() { return CachedParams(psBrightContrast); }

bool TInvertColor::Prepare() {
  for (int i = 0; i < 3; ++i) {
    K[i] = -1;
    B[i] = 255;
  }
  return true;
}

// ---- TLevelsGenerator --------------------------------------------------------------------

bool TLevelsGenerator::Prepare() {
  const std::int32_t mn = ClampTo(ReadInt(object_, u"Min", 0), 0, 255);
  const std::int32_t med = ClampTo(ReadInt(object_, u"Med", 0), -100, 100);
  const std::int32_t mx = ClampTo(ReadInt(object_, u"Max", 255), 0, 255);
  const double scale = mx == mn ? 1.0 : 1.0 / double(mx - mn);
  const double gamma = ClampTo(med == -100 ? 10.0 : double(100 - med) / double(med + 100), 0.1, 10.0);
  InMin = static_cast<std::uint8_t>(mn);
  for (int i = 0; i < 3; ++i) {
    Scale[i] = scale;
    Gamma[i] = gamma;
    OutMin[i] = 0;
    OutMax[i] = 255;
  }
  return true;
}

void TLevelsGenerator::ApplyToBitmap(TSysBitmap* bitmap, std::int32_t width, std::int32_t rows) {
  TChannelLut lut;
  for (int ch = 0; ch < 3; ++ch) {
    const std::int32_t lo = OutMin[ch], hi = std::max<std::int32_t>(OutMax[ch], lo);
    for (int c = 0; c < 256; ++c) {
      const double t = std::max(0, c - std::int32_t(InMin)) * Scale[ch];
      // A negative base (Max below Min) has no real power: the output minimum.
      const double v = t > 0 ? std::pow(t, Gamma[ch]) * (hi - lo) + lo : lo;
      lut.V[ch][c] = static_cast<std::uint8_t>(ClampTo<std::int32_t>(TruncByte(v), lo, hi));
    }
  }
  ApplyChannelLut(bitmap, width, rows, lut);
}

std::int32_t TLevelsGenerator::GetParamCount() { return std::int32_t(std::size(kLevels)); }
TFilterParamList TLevelsGenerator::GetParams() { return CachedParams(psLevels); }

// ---- Colorisation ---------------------------------------------------------------------------

bool TColorizationGenerator::Prepare() {
  Amount = static_cast<float>(ClampTo(ReadFloat(object_, u"Amount", 100), 0.0, 100.0) * 0.01);
  TIniItem* color = IniFind(object_, u"Color");
  const TColor32 c = color ? ByteStrToColor32(color->GetValue()) : TColor32{};
  ColorB = c.B;
  ColorG = c.G;
  ColorR = c.R;
  return true;
}

std::int32_t TColorizationGenerator::Target(std::int32_t, std::int32_t C, std::int32_t L) const { return (C * L) >> 7; }
std::int32_t TColorMultiply::Target(std::int32_t c, std::int32_t C, std::int32_t) const { return (C * c) >> 8; }
std::int32_t TDoubleColorMultiply::Target(std::int32_t c, std::int32_t C, std::int32_t) const {
  return std::min((C * c) >> 7, 255);
}

void TColorizationGenerator::ApplyToBitmap(TSysBitmap* bitmap, std::int32_t width, std::int32_t rows) {
  const std::int32_t a = static_cast<std::int32_t>(std::nearbyint(double(Amount) * 256));
  const std::int32_t cb = ColorB, cg = ColorG, cr = ColorR;
  MapTable(bitmap, width, rows, [&](std::uint8_t& b, std::uint8_t& g, std::uint8_t& r) {
    const std::int32_t l = (r * 13933 + g * 46871 + b * 7471) >> 16;
    auto blend = [&](std::uint8_t& c, std::int32_t C) {
      const std::int32_t v = c + (Target(c, C, l) - c) * a / 256;
      c = static_cast<std::uint8_t>(ClampTo(v, 0, 255));
    };
    blend(b, cb);
    blend(g, cg);
    blend(r, cr);
  });
}

std::int32_t TColorizationGenerator::GetKind() {
  return disabled_ ? GetFilterChainKind(this) : fkMixed;
}

std::int32_t TColorizationGenerator::GetParamCount() { return std::int32_t(std::size(kColorization)); }
TFilterParamList TColorizationGenerator::GetParams() { return CachedParams(psColorization); }

WideString TColorizationGenerator::GetCaption() {
  const WideString preset = IniReadString(object_, u"Preset");
  if (preset.empty()) return displayName_;
  return PresetText(preset) + u": " + displayName_;
}

bool TColorizationGenerator::SetParamText(std::int32_t index, const WideString& text) {
  const bool changed = TObjectFilter::SetParamText(index, text);
  if (changed && object_)
    if (TIniItem* preset = object_->Find(u"Preset")) object_->Delete(preset->Index());
  return changed;
}

std::vector<TColorPreset> ColorPresets() {
  std::vector<TColorPreset> list;
  for (const TPresetRow& row : kPresets) list.push_back({row.Name, PresetText(row.Name), row.Color});
  return list;
}

// ---- THSLGenerator ----------------------------------------------------------------------------

bool THSLGenerator::Prepare() {
  const std::int32_t hue = ClampTo(ReadInt(object_, u"Hue", 0), -180, 180);
  const std::int32_t sat = ClampTo(ReadInt(object_, u"Saturation", 0), -100, 100);
  const std::int32_t light = ClampTo(ReadInt(object_, u"Lightness", 0), -100, 100);
  Hue = static_cast<std::int32_t>(std::nearbyint(hue / 360.0 * 256));
  Saturation = static_cast<std::int32_t>(std::nearbyint(sat * 2.56));
  Lightness = static_cast<std::int32_t>(std::nearbyint(light * 2.56));
  return true;
}

void THSLGenerator::ApplyToBitmap(TSysBitmap* bitmap, std::int32_t width, std::int32_t rows) {
  MapTable(bitmap, width, rows, [&](std::uint8_t& b, std::uint8_t& g, std::uint8_t& r) {
    std::int32_t h, s, l;
    RGBToHSL255(r, g, b, h, s, l);
    h += Hue;
    if (h < 0) h += 256;
    if (h > 255) h -= 256;
    s = ClampTo(s + Saturation, 0, 255);
    l = ClampTo(l + Lightness, 0, 255);
    std::int32_t nr, ng, nb;
    HSL255ToRGB(h, s, l, nr, ng, nb);
    r = static_cast<std::uint8_t>(ClampTo(nr, 0, 255));
    g = static_cast<std::uint8_t>(ClampTo(ng, 0, 255));
    b = static_cast<std::uint8_t>(ClampTo(nb, 0, 255));
  });
}

std::int32_t THSLGenerator::GetKind() { return disabled_ ? GetFilterChainKind(this) : fkMixed; }
std::int32_t THSLGenerator::GetParamCount() { return std::int32_t(std::size(kHSL)); }
TFilterParamList THSLGenerator::GetParams() { return CachedParams(psHSL); }

// ---- Registry ---------------------------------------------------------------------------

void RegisterObjectFilter(TObjectFilterClass filterClass, const WideString& name, const WideString& displayName) {
  if (!filterClass || name.empty()) return;
  auto* info = new TFilterInfo();
  info->AfterConstruction();
  info->Name = name;
  info->DisplayName = displayName.empty() ? name : displayName;
  info->Class = filterClass;
  std::lock_guard<std::mutex> guard(gRegistryLock);
  info->Next = gRegistry;
  gRegistry = info;
}

std::vector<TRef<TFilterInfo>> ObjectFilterInfos() {
  std::vector<TRef<TFilterInfo>> list;
  std::lock_guard<std::mutex> guard(gRegistryLock);
  for (TFilterInfo* i = gRegistry; i; i = i->Next) list.emplace_back(i);
  return list;
}

TRef<TObjectFilter> CreateObjectFilter(TIniObject* object) {
  if (!object) return nullptr;
  const WideString name = object->GetName();
  TObjectFilterClass cls = nullptr;
  WideString entryName, entryDisplay;
  {
    std::lock_guard<std::mutex> guard(gRegistryLock);
    for (TFilterInfo* i = gRegistry; i; i = i->Next)
      if (CompareStrings(i->Name, name, true) == 0) {
        cls = i->Class;
        entryName = i->Name;
        entryDisplay = i->DisplayName;
        break;
      }
  }
  if (!cls) return nullptr;
  TRef<TObjectFilter> filter = TRef<TObjectFilter>::Adopt(cls());
  if (!filter) return nullptr;
  filter->SetDisplayName(TranslateText(kObjects, kFilterPrefix + entryName, entryDisplay));
  filter->Load(object);
  return filter;
}

// ---- Chains ---------------------------------------------------------------------------------

TObjectFilter* PrependFilter(TObjectFilter* filter, TObjectFilter* chain) {
  if (!filter) return chain;
  filter->Next = chain;
  return filter;
}

TObjectFilter* ReverseFilterChain(TObjectFilter* chain) {
  TObjectFilter* head = nullptr;
  while (chain) {
    TObjectFilter* next = chain->Next;
    chain->Next = head;
    head = chain;
    chain = next;
  }
  return head;
}

TObjectFilter* TakeFilterTail(TObjectFilter*& chain) {
  if (!chain) return nullptr;
  return std::exchange(chain->Next, nullptr);
}

void FreeFilterChain(TObjectFilter*& chain) { FreeAndNil(chain); }

namespace {
std::vector<TObjectFilter*> EnabledFilters(TObjectFilter* chain) {
  std::vector<TObjectFilter*> list;
  for (TObjectFilter* f = chain; f; f = f->Next)
    if (!f->Disabled()) list.push_back(f);
  return list;
}
}  // namespace

void ApplyFilterChain(TObjectFilter* chain, TSysBitmap* bitmap, std::int32_t width, std::int32_t rows) {
  const auto list = EnabledFilters(chain);
  for (auto it = list.rbegin(); it != list.rend(); ++it) (*it)->ApplyToBitmap(bitmap, width, rows);
}

void ApplyValueFilters(TObjectFilter* chain, double& value) {
  const auto list = EnabledFilters(chain);
  for (auto it = list.rbegin(); it != list.rend(); ++it) value = (*it)->MapValue(value);
}

void ApplyValueFiltersSingle(TObjectFilter* chain, float& value) {
  double v = value;
  ApplyValueFilters(chain, v);
  value = static_cast<float>(v);
}

std::int32_t GetFilterChainKind(TObjectFilter* chain) {
  std::int32_t highest = fkNone;
  for (TObjectFilter* f = chain; f; f = f->Next) {
    if (f->Disabled()) continue;
    const std::int32_t k = f->GetKind();
    if (k > highest) {
      if (highest == fkValue) ZM_FAIL("Error: Value filters can`t be combined");
      highest = k;
      if (highest >= fkMixed) break;
    }
  }
  return highest;
}

TByteString GetFilterChainRevision(TObjectFilter* chain) {
  std::uint64_t sum = 0;  // wraps rather than overflows on hostile revisions
  for (TObjectFilter* f = chain; f; f = f->Next) sum += static_cast<std::uint64_t>(f->Revision());
  const auto total = static_cast<std::int64_t>(sum);
  if (total <= 0) return {};
  return TByteString(std::to_string(total));
}

// ---- Module ------------------------------------------------------------------------------

void InitObjectFilters() {
  RegisterObjectFilter(&NewObjectFilter<TLevelsGenerator>, u"Levels");
  RegisterObjectFilter(&NewObjectFilter<TColorizationGenerator>, u"Colorization");
  RegisterObjectFilter(&NewObjectFilter<TBrightContrastGenerator>, u"BrightContrast");
  RegisterObjectFilter(&NewObjectFilter<THSLGenerator>, u"HSL");
  RegisterObjectFilter(&NewObjectFilter<TColorMultiply>, u"Colorisation2");
  RegisterObjectFilter(&NewObjectFilter<TDoubleColorMultiply>, u"Colorisation3");
  RegisterObjectFilter(&NewObjectFilter<TInvertColor>, u"Invert");
}

void FiniObjectFilters() {
  TFilterInfo* list;
  {
    std::lock_guard<std::mutex> guard(gRegistryLock);
    list = std::exchange(gRegistry, nullptr);
  }
  while (list) {
    TFilterInfo* next = std::exchange(list->Next, nullptr);
    list->Free();
    list = next;
  }
  std::lock_guard<std::mutex> guard(gParamLock);
  for (auto& p : gParams) p.reset();
  gParamLanguage.clear();
}

}  // namespace zm
