#include "OruLib2/OruClasses/OruObjectReader.h"

#include <cmath>
#include <vector>

#include "OruLib2/OruClasses/OruObjects.h"
#include "OruLib2/OruClasses/OruPropValues.h"
#include "OruLib2/OruClasses/OruShowLoader.h"
#include "ZmLib/Graphics/zmColorProfiles.h"

namespace oru {

zm::TIniItem* FindPropItem(const TOruObjectProps* props, const char16_t* key) {
  if (!props || !key || !props->Section()) return nullptr;
  zm::TIniItem* item = props->Section()->Find(WideString(key));
  // Child blocks carry names too; only key lines are values.
  return item && item->HasValue() ? item : nullptr;
}

bool ReadPropBool(const TOruObjectProps* props, const char16_t* key, bool def) {
  const zm::TIniItem* item = FindPropItem(props, key);
  return item ? item->GetBool(def) : def;
}

std::int32_t ReadPropInt(const TOruObjectProps* props, const char16_t* key, std::int32_t def) {
  const zm::TIniItem* item = FindPropItem(props, key);
  return item ? item->GetInt(def) : def;
}

double ReadPropFloat(const TOruObjectProps* props, const char16_t* key, double def) {
  const zm::TIniItem* item = FindPropItem(props, key);
  if (!item) return def;
  const double v = item->GetFloat(def);
  return std::isfinite(v) ? v : def;
}

float ReadPropSingle(const TOruObjectProps* props, const char16_t* key, float def) {
  const double v = ReadPropFloat(props, key, def);
  return std::fabs(v) <= 3.0e38 ? static_cast<float>(v) : def;
}

std::int32_t ReadPropEnum(const TOruObjectProps* props, const char16_t* key, std::span<const char16_t* const> names,
                          std::int32_t def) {
  const zm::TIniItem* item = FindPropItem(props, key);
  if (!item) return def;
  std::vector<WideString> words;
  words.reserve(names.size());
  for (const char16_t* n : names) words.emplace_back(n);
  return item->GetEnum(words, def, true);
}

WideString ReadPropString(const TOruObjectProps* props, const char16_t* key, const WideString& def) {
  const zm::TIniItem* item = FindPropItem(props, key);
  return item ? item->GetString() : def;
}

zm::TColor24 ReadPropRGB(const TOruObjectProps* props, const char16_t* key, zm::TColor24 def) {
  const zm::TIniItem* item = FindPropItem(props, key);
  return item ? ReadItemRGB(item, def) : def;
}

zm::TColor32 ReadPropColor(const TOruObjectProps* props, const char16_t* key, zm::TColor32 def) {
  const zm::TIniItem* item = FindPropItem(props, key);
  return item ? ReadItemColor(item, def) : def;
}

zm::TFloatRect ReadPropRectF(const TOruObjectProps* props, const char16_t* key, const zm::TFloatRect& def) {
  const zm::TIniItem* item = FindPropItem(props, key);
  return item ? ReadItemRectF(item, def) : def;
}

zm::TPoint ReadPropPoint(const TOruObjectProps* props, const char16_t* key, zm::TPoint def) {
  const zm::TIniItem* item = FindPropItem(props, key);
  return item ? ReadItemPoint(item, def) : def;
}

std::uint8_t ReadPropFontStyle(const TOruObjectProps* props, const char16_t* key) {
  const zm::TIniItem* item = FindPropItem(props, key);
  return item ? ReadItemFontStyle(item) : 0;
}

zm::TColor24 CorrectDisplayColor(zm::TColor24 colour) {
  if (NoColorManagement) return colour;
  zm::TColor24 out = colour;
  zm::CorrectColorByProfile(nullptr, out, colour);
  return out;
}

zm::TColor32 CorrectDisplayColor32(zm::TColor32 colour) {
  const zm::TColor24 c = CorrectDisplayColor(zm::TColor24{colour.B, colour.G, colour.R});
  zm::TColor32 out = colour;
  out.B = c.B;
  out.G = c.G;
  out.R = c.R;
  return out;
}

void ReadOruObjectBaseKeys(TOruObject& o, const TOruObjectProps* props, bool shadowOnByDefault) {
  o.FitMode = static_cast<std::uint8_t>(ReadPropEnum(props, u"FitMode", FitModeNames, kFitPlaceInto));
  o.PosMode = static_cast<std::uint8_t>(ReadPropEnum(props, u"PosMode", PosModeNames, kPosPercent));
  o.CenterMode = static_cast<std::uint8_t>(ReadPropEnum(props, u"CenterMode", PosModeNames, kPosPercent));
  o.TranspForClick = ReadPropBool(props, u"TranspForClick", false) ? 1 : 0;
  o.ShadowEnable = ReadPropBool(props, u"ShadowEnable", shadowOnByDefault) ? 1 : 0;
  o.ShadowSize = ReadPropSingle(props, u"ShadowSize", 16.0f);
  o.ShadowColor = ReadPropRGB(props, u"ShadowColor", zm::TColor24{0, 0, 0});
  o.ShadowColorCorrected = o.ShadowEnable ? CorrectDisplayColor(o.ShadowColor) : o.ShadowColor;
  o.ShadowOpacity = ReadPropSingle(props, u"ShadowOpacity", 59.0f);
  o.ShadowDistance = ReadPropSingle(props, u"ShadowDistance", 1.5f);
  o.ShadowAngle = ReadPropFloat(props, u"ShadowAngle", 45);
  o.ShadowSpreadIndex = ReadPropInt(props, u"ShadowSpreadIndex", 0);
  o.Shadow3D = ReadPropBool(props, u"3DShadow", false) ? 1 : 0;
  o.HideMode = ReadPropInt(props, u"HideMode", 0);
  o.HideNegative = o.HideMode > 1 ? 1 : 0;
  o.HideNonNegative = (o.HideMode & 1) != 0 ? 1 : 0;
  o.ChildInvis = ReadPropBool(props, u"ChildInvis", false) ? 1 : 0;
  o.Action = ReadPropString(props, u"Action");
}

void ReadOruTextKeys(const TOruObjectProps* props, TOruTextKeys& k) {
  k.TextColor = ReadPropRGB(props, u"TextColor", k.TextColor);
  k.TextColorHover = ReadPropRGB(props, u"TextColorHover", k.TextColor);
  k.TextColorClick = ReadPropRGB(props, u"TextColorClick", k.TextColor);
  k.TextColorCorrected = CorrectDisplayColor(k.TextColor);
  // Equal colours share the correction already made.
  k.TextColorHoverCorrected =
      k.TextColorHover == k.TextColor ? k.TextColorCorrected : CorrectDisplayColor(k.TextColorHover);
  k.TextColorClickCorrected =
      k.TextColorClick == k.TextColor ? k.TextColorCorrected : CorrectDisplayColor(k.TextColorClick);
  k.FontName = ReadPropString(props, u"FontName", k.FontName);
  if (FindPropItem(props, u"FontStyle")) k.FontStyle = ReadPropFontStyle(props, u"FontStyle");
  k.TextAlign = static_cast<std::uint8_t>(ReadPropEnum(props, u"TextAlign", TextAlignNames, k.TextAlign));
  k.LineSpacing = ReadPropInt(props, u"LineSpacing", k.LineSpacing);
  k.Rasterize = ReadPropBool(props, u"Rasterize", k.Rasterize);
  k.RasterizedGUID = ReadPropString(props, u"RasterizedGUID", k.RasterizedGUID);
  k.IsComment = ReadPropBool(props, u"IsComment", k.IsComment);
}

void ReadOruButtonKeys(const TOruObjectProps* props, TOruButtonKeys& k) {
  k.Theme = ReadPropString(props, u"Theme");
  k.BtnOpacity = ReadPropSingle(props, u"BtnOpacity", 100.0f);
  k.TxtOpacity = ReadPropSingle(props, u"TxtOpacity", 100.0f);
  k.Hue = ReadPropInt(props, u"Hue", 0);
  k.Saturation = ReadPropInt(props, u"Saturation", 0);
  k.Lightness = ReadPropInt(props, u"Lightness", 0);
}

void ReadOruButtonLateKeys(const TOruObjectProps* props, TOruButtonKeys& k) {
  k.BtnMinWidth = ReadPropSingle(props, u"BtnMinWidth", k.BtnMinWidth);
  k.BtnOffsetX = ReadPropSingle(props, u"BtnOffsetX", 100.0f);
}

}  // namespace oru
