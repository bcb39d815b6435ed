#include "OruLib2/OruClasses/OruObjectMod.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "ZmLib/zmIni.h"

namespace {

using oru::TOruObjectMod;
using zm::TIniFile;
using zm::TIniObject;
using zm::TRef;

// Answers "Pos.X" (value 7) and times of "Pos.*" (0.25); counts its calls.
class ModTestOwner : public oru::TOruModOwner {
public:
  int TimeCalls = 0;
  std::u16string LastTimeField;
  TRef<oru::TCalcFunc> GetTimeGetter(const std::u16string& field) override {
    ++TimeCalls;
    LastTimeField = field;
    if (field.rfind(u"Pos.", 0) != 0) return nullptr;
    return zm::MakeRef<oru::TCalcVariable>("time", [] { return 0.25; });
  }
  TRef<oru::TCalcFunc> GetFieldGetter(const std::u16string& name) override {
    if (name != u"Pos.X") return nullptr;
    return zm::MakeRef<oru::TCalcVariable>("Pos.X", [] { return 7.0; });
  }
};

// Pushes two values: a formula calling it leaves an extra value behind.
class ModTestTwoValues : public oru::TCalcFunc {
public:
  ModTestTwoValues() : TCalcFunc("ModTestTwoValues", 0) {}
  bool Execute(oru::TCalcMachine& m) const override { return m.Push(1) && m.Push(2); }
};

struct ModDoc {
  TRef<TIniFile> File;
  TRef<TOruObjectMod> Mod;
  TIniObject* Object = nullptr;
};

ModDoc MakeMod(const std::string& body, oru::TOruModOwner* owner = nullptr) {
  ModDoc d;
  d.File = zm::MakeRef<TIniFile>();
  d.File->LoadFromText(zm::TByteString("[S]\r\nobject Shape:Mod\r\n" + body + "end\r\n"));
  d.Object = d.File->FindSection(u"S")->FindObject(u"Shape");
  d.Mod = zm::MakeRef<TOruObjectMod>();
  d.Mod->SetOwner(owner);
  d.Mod->Load(d.Object);
  return d;
}

TEST(OruObjectMod, EvaluatesFormulasWithResolvedNames) {
  ModTestOwner owner;
  ModDoc d = MakeMod("dst=Pos.Y\r\nfn=value*k + Pos.X + T*4 + Pos.Z.t*8 + Sqrt(16)\r\nk=3\r\n", &owner);
  ASSERT_FALSE(d.Mod->NotPrepared()) << d.Mod->ErrorText();
  EXPECT_EQ(d.Mod->GetKind(), 1);
  // 2*3 + 7 + 1 + 2 + 4: "T" is the time of "dst", "Pos.Z.t" of that field,
  // and "Sqrt" stays the registered function although it ends in "t".
  EXPECT_DOUBLE_EQ(d.Mod->MapValue(2), 20);
  EXPECT_DOUBLE_EQ(d.Mod->MapValue(-1), 11);
  EXPECT_EQ(owner.TimeCalls, 2);

  // Without an owner, times and fields are refused.
  ModDoc alone = MakeMod("dst=Pos.Y\r\nfn=T + 1\r\n");
  EXPECT_TRUE(alone.Mod->NotPrepared());
  EXPECT_EQ(alone.Mod->ErrorCode(), oru::kCalcUnknownName);
  EXPECT_DOUBLE_EQ(alone.Mod->MapValue(5), 0);
  ModDoc unknown = MakeMod("fn=Pos.Q + 1\r\n", &owner);
  EXPECT_NE(unknown.Mod->ErrorText().find("Unknown Function or Variable"), std::string::npos);
  // A key that is no number is a constant 0.
  ModDoc text = MakeMod("fn=name + 1\r\nname=abc\r\n");
  EXPECT_DOUBLE_EQ(text.Mod->MapValue(0), 1);
}

TEST(OruObjectMod, DegenerateFormulasGiveZero) {
  ModDoc empty = MakeMod("dst=Opacity\r\n");
  EXPECT_FALSE(empty.Mod->NotPrepared());
  EXPECT_TRUE(empty.Mod->Commands().Empty());
  EXPECT_DOUBLE_EQ(empty.Mod->MapValue(42), 0);

  TRef<ModTestTwoValues> twoValues = zm::MakeRef<ModTestTwoValues>();
  oru::RegisterCalcFunction(twoValues.get());
  ModDoc two = MakeMod("fn=ModTestTwoValues + 1\r\n");
  ASSERT_FALSE(two.Mod->NotPrepared()) << two.Mod->ErrorText();
  EXPECT_DOUBLE_EQ(two.Mod->MapValue(0), 0);

  ModDoc longer = MakeMod("fn=value+" + std::string(251, '0') + "\r\n");
  EXPECT_TRUE(longer.Mod->NotPrepared());
  EXPECT_DOUBLE_EQ(longer.Mod->MapValue(3), 0);
  ModDoc limit = MakeMod("fn=value+" + std::string(250, '0') + "\r\n");
  EXPECT_FALSE(limit.Mod->NotPrepared());
  EXPECT_DOUBLE_EQ(limit.Mod->MapValue(3), 3);
  ModDoc broken = MakeMod("fn=1 +* 2\r\n");
  EXPECT_TRUE(broken.Mod->NotPrepared());
  EXPECT_FALSE(broken.Mod->ErrorText().empty());
  EXPECT_DOUBLE_EQ(broken.Mod->MapValue(3), 0);
  ModDoc divide = MakeMod("fn=value/0\r\n");
  EXPECT_TRUE(divide.Mod->NotPrepared() || std::isinf(divide.Mod->MapValue(1)));
}

TEST(OruObjectMod, ParameterDescriptions) {
  zm::TFilterParam p;
  EXPECT_TRUE(oru::ParseModParamInfo(u"name:Size;id:sz;type:Float", p));
  EXPECT_EQ(p.Key, u"sz");
  EXPECT_EQ(p.Text, u"Size");
  EXPECT_EQ(p.Kind, oru::kModParamFloat);
  EXPECT_EQ(p.Min, 0);
  EXPECT_EQ(p.Max, 100);
  EXPECT_EQ(p.Default, 0);
  EXPECT_TRUE(oru::ParseModParamInfo(u" type : int ; range: -5, x ;id:n", p));
  EXPECT_EQ(p.Kind, oru::kModParamInt);
  EXPECT_EQ(p.Min, -5);
  EXPECT_EQ(p.Max, 100);
  EXPECT_EQ(p.Default, 0);
  EXPECT_TRUE(oru::ParseModParamInfo(u"type:Combo;range:a,b", p));
  EXPECT_EQ(p.Values.size(), 2u);
  EXPECT_FALSE(oru::ParseModParamInfo(u"name:x;type:Vector", p));
  EXPECT_FALSE(oru::ParseModParamInfo(u"", p));
  EXPECT_FALSE(oru::ParseModParamInfo(u";;:;type", p));

  ModDoc d = MakeMod(
      "fn=value*amp\r\npcount=3\r\npinfo=name:Amp;id:amp;type:Float;range:1,10,2\r\n"
      "pinfo=name:Bad;id:bad;type:Matrix\r\npinfo=name:Tint;id:c;type:color\r\n"
      "pinfo=name:Late;id:late;type:Int\r\namp=2\r\nPreset=Wobble\r\n");
  oru::ObjectModFormulaEditing = true;
  zm::TFilterParamList params = d.Mod->GetParams();
  oru::ObjectModFormulaEditing = false;
  ASSERT_EQ(params->size(), 3u);  // "fn", then two of the three counted
  EXPECT_EQ((*params)[0].Key, u"fn");
  EXPECT_EQ((*params)[0].Text, u"func");
  EXPECT_EQ((*params)[1].Default, 2);
  EXPECT_EQ((*params)[2].Kind, oru::kModParamColor);
  // Built once: the flag is read on the first request only.
  EXPECT_EQ(d.Mod->GetParamCount(), 3);

  EXPECT_EQ(d.Mod->GetCaption(), u"value*2");
  EXPECT_DOUBLE_EQ(d.Mod->MapValue(3), 6);
  // Editing a value drops the preset and takes effect at once.
  EXPECT_TRUE(d.Mod->SetParamText(1, u"5"));
  EXPECT_EQ(d.Object->Find(u"Preset"), nullptr);
  EXPECT_DOUBLE_EQ(d.Mod->MapValue(3), 15);
  EXPECT_EQ(d.Mod->GetCaption(), u"value*5");
  EXPECT_FALSE(d.Mod->SetParamText(1, u"5"));
  EXPECT_FALSE(d.Mod->SetParamText(7, u"1"));
  EXPECT_TRUE(d.Mod->SetParamText(0, u"value+amp"));
  EXPECT_DOUBLE_EQ(d.Mod->MapValue(3), 8);

  ModDoc none = MakeMod("");
  EXPECT_EQ(none.Mod->GetParamCount(), 0);
  EXPECT_EQ(none.Mod->GetCaption(), u"Shape");
  ModDoc num = MakeMod("fn=1e5*e + e2\r\ne=2\r\ne2=3\r\n");
  EXPECT_EQ(num.Mod->GetCaption(), u"1e5*2 + 3");
}

TEST(OruObjectMod, DetachForgetsTheOwner) {
  ModTestOwner owner;
  ModDoc d = MakeMod("dst=Pos.X\r\nfn=Pos.X + value\r\n", &owner);
  EXPECT_DOUBLE_EQ(d.Mod->MapValue(1), 8);
  d.Mod->Detach();
  EXPECT_EQ(d.Mod->Owner(), nullptr);
  EXPECT_DOUBLE_EQ(d.Mod->MapValue(1), 0);
}

}  // namespace
