#pragma once
// Doubles for the object-tree tests: a slide root with a fixed size, times
// and camera, and small kinds standing in for boxes, images, texts, buttons,
// video, view ports and masks, installed in the creation hooks for the
// lifetime of a guard.
#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <vector>

#include "OruLib2/OruClasses/OruObjectFactory.h"
#include "OruLib2/OruClasses/OruObjectReader.h"
#include "OruLib2/OruClasses/OruObjects.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmIni.h"

namespace oru_objects_test {

using namespace oru;
using zm::TFloatBasis3;
using zm::TFloatPoint;
using zm::TFloatPoint3;
using zm::TRef;

inline std::vector<std::string>& DrawLog() {
  static std::vector<std::string> log;
  return log;
}

// The root: own size, time points, a camera in front of the screen centre.
class TTestSlide : public TOruObject {
public:
  double Times[4] = {0, 0, 10000, 10000};
  bool HasEye = true;
  float EyeDepth = 1;  // eye z = -EyeDepth * height
  float Persp = 1;
  float OpacityPercent = 100;
  std::vector<TOruObject*> Changes;
  std::vector<std::string> Forgotten;

  double GetTimePoint(std::int32_t kind) override { return kind >= 0 && kind < 4 ? Times[kind] : 0; }
  TFloatPoint GetContainerSize() override { return {Width, Height}; }
  TFloatBasis3 GetParentTransform() override {
    TFloatBasis3 b;
    zm::MakeFloatBasis3(b, {Width / 2, Height / 2, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1});
    return b;
  }
  bool GetEyePoint(TFloatPoint3& eye) override {
    eye = {Width / 2, Height / 2, -EyeDepth * Height};
    return HasEye;
  }
  float GetPerspectiveFactor() override { return Persp; }
  bool ScreenToLocal(const TFloatPoint&, TFloatPoint3&) override { return false; }
  float GetOpacityPercent() override { return OpacityPercent; }
  void ObjectChanged(TOruObject* o) override { Changes.push_back(o); }
  void ForgetObjectKey(const zm::TByteString& key) override { Forgotten.push_back(key.Str()); }
};

// Any kind: remembers its code, takes "Size", logs PrepareDraw.
class TTestKind : public TOruObject {
public:
  std::int32_t Code = 0;
  void InitState() override { Code = Props() ? Props()->ObjectType() : 0; }
  void ReadProps(TOruObjectProps* props, bool reload) override {
    const zm::TPoint s = ReadPropPoint(props, u"Size", {0, 0});
    Width = static_cast<float>(s.X);
    Height = static_cast<float>(s.Y);
    TOruObject::ReadProps(props, reload);
  }
  void PrepareDraw(zm::TDeviceDrawer&) override { DrawLog().push_back(Key.Str()); }
};

class TTestImage : public TTestKind {
public:
  std::int32_t ImageIndex = kImageIndexNone;
  WideString ImageName;
  void ReadProps(TOruObjectProps* props, bool reload) override {
    ImageName = ReadPropString(props, u"ImageName");
    ImageIndex = ReadPropInt(props, u"ImageIndex", kImageIndexNone);
    TTestKind::ReadProps(props, reload);
  }
  bool GetMainPicture(WideString& fileName, zm::TSize& size) override {
    if (typeid(*this) != typeid(TTestImage) || ImageIndex == kImageIndexNone) return false;
    fileName = ImageName;
    size = {static_cast<std::int32_t>(Width), static_cast<std::int32_t>(Height)};
    return true;
  }
};

class TTestText : public TTestImage {
public:
  bool ShadowOnByDefault() const override { return true; }
};

class TTestButton : public TTestImage {};
class TTestVideo : public TTestKind {};
class TTestViewPort : public TTestKind {};

inline TCreateOruObjectProc& SavedViewPortHook() {
  static TCreateOruObjectProc p = nullptr;
  return p;
}
inline TCreateOruObjectProc& SavedVideoHook() {
  static TCreateOruObjectProc p = nullptr;
  return p;
}
inline TRef<TOruObject> CreateViewPortKinds(std::int32_t code, TOruObject* parent, TOruObjectProps* props) {
  if (code >= kOruObjViewport && code <= kOruObjMaskContent) return TOruObject::Create<TTestViewPort>(parent, props);
  return SavedViewPortHook() ? SavedViewPortHook()(code, parent, props) : nullptr;
}
inline TRef<TOruObject> CreateVideoKind(std::int32_t code, TOruObject* parent, TOruObjectProps* props) {
  if (code == kOruObjVideo) return TOruObject::Create<TTestVideo>(parent, props);
  return SavedVideoHook() ? SavedVideoHook()(code, parent, props) : nullptr;
}

// Installs the doubles as the object module's classes and chains the two
// other modules' creators over the hook, as their initialisations do.
class TKindsGuard {
public:
  TKindsGuard() {
    objects_.Set(&CreateBaseOruObject);
    media_.Set(&GetBaseObjectMedia);
    for (std::int32_t c = 1; c <= 7; ++c) {
      TOruObjectClassProc p = &MakeOruObject<TTestKind>;
      if (c == 4 || c == 5) p = &MakeOruObject<TTestImage>;
      if (c == 6) p = &MakeOruObject<TTestText>;
      if (c == 7) p = &MakeOruObject<TTestButton>;
      saved_[c] = SetOruObjectClass(c, p);
    }
    SavedViewPortHook() = CreateOruObjectHook;
    objects_.Set(&CreateViewPortKinds);
    SavedVideoHook() = CreateOruObjectHook;
    objects_.Set(&CreateVideoKind);
    DrawLog().clear();
  }
  ~TKindsGuard() {
    for (std::int32_t c = 1; c <= 7; ++c) SetOruObjectClass(c, saved_[c]);
  }

private:
  zm::THookScope<TCreateOruObjectProc> objects_{CreateOruObjectHook};
  zm::THookScope<TGetObjectMediaProc> media_{GetObjectMediaHook};
  TOruObjectClassProc saved_[8] = {};
};

// "object Name:Type" with a GUID of its name (empty Guid writes none).
inline std::string Obj(const std::string& name, const std::string& type, const std::string& body,
                       const std::string& guid = "*") {
  std::string g = guid == "*" ? "{" + name + "}" : guid;
  return "object " + name + ":" + type + "\r\n" + (g.empty() ? "" : "GUID=" + g + "\r\n") + body + "end\r\n";
}
inline std::string KeyAt(long long time, const std::string& keys) {
  return "object KeyPoint:KeyPoint\r\nTime=" + std::to_string(time) + "\r\n" + keys + "end\r\n";
}

// A slide of the given size built from the body of its section.
struct TTestTree {
  TRef<zm::TIniFile> File;
  TRef<TOruObjectProps> Props;
  TRef<TTestSlide> Slide;

  TOruObject* Find(const std::string& key) const { return FindIn(Slide.get(), "{" + key + "}"); }
  static TOruObject* FindIn(TOruObject* o, const std::string& key) {
    if (o->Key.Str() == key) return o;
    for (std::int32_t i = 0; i < o->ChildCount(); ++i)
      if (TOruObject* f = FindIn(o->Child(i), key)) return f;
    return nullptr;
  }
  void Layout(double t) {
    Slide->SetTimeAndLayout(true, t);
  }
};

inline TTestTree BuildTree(const std::string& body, float width = 320, float height = 240,
                           double slideEnd = 10000) {
  TTestTree t;
  t.File = zm::MakeRef<zm::TIniFile>();
  t.File->LoadFromText(zm::TByteString("[Slide1]\r\nGUID={S}\r\n" + body));
  t.Props = zm::MakeRef<TOruObjectProps>();
  t.Props->LoadFromIni(t.File->FindSection(u"Slide1"));
  t.Props->ScaleTimes({0, 0, slideEnd, slideEnd}, 1);
  t.Slide = TOruObject::Create<TTestSlide>(nullptr, t.Props.get());
  t.Slide->Width = width;
  t.Slide->Height = height;
  t.Slide->Times[2] = t.Slide->Times[3] = slideEnd;
  t.Slide->Load(t.Props.get(), false);
  return t;
}

}  // namespace oru_objects_test
