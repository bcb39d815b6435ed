// Fit and centre modes that the layout has no rule for, as a show file may
// hold them: laid out as placed into the container with a centre in percent,
// said once per object in the log, and drawn.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ZmLib/zmLog.h"
#include "tests/OruLib2/OruClasses/OruObjectsTestKit.h"

namespace oru_layout_modes_test {

using namespace oru_objects_test;

class TLinesLog : public zm::TLog {
public:
  void WriteText(const WideString& line) override { Lines.push_back(line); }
  std::vector<WideString> Lines;
};

TEST(OruLayoutModes, NoFitAndAbsoluteCentreAreLaidOutAsPlaceIntoAndPercent) {
  TKindsGuard kinds;
  const std::string keys = KeyAt(0, "Position=20,-10\r\nCenterPos=100,50\r\nScaleX=50\r\nAngle=30\r\n");
  const auto box = [&](const std::string& name, const std::string& modes) {
    return Obj(name, "Box", modes + "Size=40,20\r\n" + keys);
  };
  TTestTree t = BuildTree(box("Plain", "") + box("NoFit", "FitMode=None\r\n") +
                          box("AbsCentre", "CenterMode=Absolute\r\n") +
                          box("Both", "FitMode=None\r\nCenterMode=Absolute\r\n") +
                          box("Cover", "FitMode=Cover\r\nCenterMode=Absolute\r\n"));
  auto* log = new TLinesLog;
  zm::SetLog(log);
  // Twice: the second layout says nothing more.
  ASSERT_NO_THROW(t.Layout(0));
  ASSERT_NO_THROW(t.Layout(40));
  const std::vector<WideString> lines = log->Lines;
  zm::SetLog(nullptr);

  const TOruObject* plain = t.Find("Plain");
  ASSERT_NE(plain, nullptr);
  ASSERT_TRUE(plain->BasisValid);
  for (const char* name : {"NoFit", "AbsCentre", "Both"}) {
    const TOruObject* o = t.Find(name);
    ASSERT_NE(o, nullptr) << name;
    EXPECT_TRUE(zm::SameFloatBasis3(o->Basis, plain->Basis)) << name;
    EXPECT_EQ(o->ZoomX, plain->ZoomX) << name;
    EXPECT_EQ(o->X0, plain->X0) << name;
    EXPECT_EQ(o->Y0, plain->Y0) << name;
  }
  // The object keeps what the file said.
  EXPECT_EQ(t.Find("Both")->FitMode, kFitNone);
  EXPECT_EQ(t.Find("Both")->CenterMode, kPosAbsolute);
  // Cover still covers; only its centre is taken in percent.
  const TOruObject* cover = t.Find("Cover");
  EXPECT_DOUBLE_EQ(cover->ZoomX, 0.5 * 12.0);  // max(320 / 40, 240 / 20) = 12
  EXPECT_EQ(cover->X0, plain->X0);

  // One line for each of the four objects, naming the modes.
  std::vector<WideString> said;
  for (const WideString& l : lines)
    if (l.find(u"laid out as PlaceInto, Percent") != WideString::npos) said.push_back(l);
  ASSERT_EQ(said.size(), 4u);
  EXPECT_NE(said[0].find(u"FitMode 0, CenterMode 1"), WideString::npos);
  EXPECT_NE(said[2].find(u"FitMode 0, CenterMode 0"), WideString::npos);
}

}  // namespace oru_layout_modes_test
