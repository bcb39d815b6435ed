#include <gtest/gtest.h>

#include <string>

#include "OruLib2/OruViewer/OruInputMapping.h"
#include "ZmLib/zmByteString.h"

using namespace oru;
using zm::TRef;

namespace {

TRef<TInputMappingClass> MappingOf(const std::string& text) {
  TRef<zm::TIniFile> ini = zm::MakeRef<zm::TIniFile>();
  ini->LoadFromText(zm::TByteString(text));
  return zm::MakeRef<TInputMappingClass>(ini.get());
}

std::uint8_t BoundCode(TInputMappingClass* m, zm::TShiftState shift, std::uint32_t key, std::uint8_t state = 1) {
  const TOruActionInfo* a = m->MapKey(shift, key, state);
  return a ? a->Code : 255;  // 255: no binding
}

}  // namespace

TEST(InputMapping, ShiftConditionsAndKeyStates) {
  TRef<TInputMappingClass> m = MappingOf("[Main]\r\n[Times]\r\nopt_slidescount=9\r\n");
  EXPECT_EQ(BoundCode(m.get(), 0, 39), acNextSlide);
  EXPECT_EQ(BoundCode(m.get(), zm::ssShift, 39), 255);
  // Button and Windows-key bits are outside the mask.
  EXPECT_EQ(BoundCode(m.get(), zm::ssLeft | zm::ssWin, 39), acNextSlide);
  EXPECT_EQ(BoundCode(m.get(), zm::ssCtrl, 80), acPause);
  EXPECT_EQ(BoundCode(m.get(), 0, 80), 255);
  EXPECT_EQ(BoundCode(m.get(), zm::ssCtrl | zm::ssShift, 80), 255);
  EXPECT_EQ(BoundCode(m.get(), 0, 39, 0), 255);  // released keys do nothing
  const TOruActionInfo* end = m->MapKey(0, 35, 1);
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(end->Code, acGotoSlide);
  EXPECT_EQ(end->Value, 9);
  EXPECT_EQ(m->MapKey(0, 36, 1)->Value, 0);
  EXPECT_EQ(BoundCode(m.get(), 0, 112), acHelp);
  EXPECT_EQ(BoundCode(m.get(), 0, 256 + 39), 255);
  EXPECT_EQ(BoundCode(m.get(), 0, 0xFFFFFFFFu), 255);
  // Nothing configured: no mouse action.
  EXPECT_TRUE(m->MapMouse(zm::ssLeft, {5, 5}, zm::TMouseKind::Down, 1).IsEmpty());
}

TEST(InputMapping, ShowWithoutKeyboardControlKeepsExit) {
  TRef<TInputMappingClass> m = MappingOf("[Main]\r\nopt_synchpermitcontrol=0\r\nopt_lockf1=1\r\n");
  EXPECT_FALSE(m->SyncPermitControl());
  EXPECT_EQ(BoundCode(m.get(), 0, 27), acExit);
  for (std::uint32_t k : {32u, 19u, 39u, 37u, 35u, 36u, 178u, 112u}) EXPECT_EQ(BoundCode(m.get(), 0, k), 255) << k;
  // A missing description gives the defaults.
  TRef<TInputMappingClass> d = zm::MakeRef<TInputMappingClass>(nullptr);
  EXPECT_EQ(BoundCode(d.get(), 0, 32), acPause);
  EXPECT_EQ(d->MapKey(0, 35, 1)->Value, 0);
}

TEST(InputMapping, MouseButtonsByName) {
  TRef<TInputMappingClass> m =
      MappingOf("[Main]\r\nopt_leftmouse=Next slide\r\nopt_rightmouse=Prev. slide\r\nopt_dblclick=Go to first\r\n");
  EXPECT_EQ(m->MapMouse(zm::ssLeft, {1, 1}, zm::TMouseKind::Down, 1).Code, acNextSlide);
  EXPECT_EQ(m->MapMouse(zm::ssRight, {1, 1}, zm::TMouseKind::Down, 4).Code, acPrevSlide);
  EXPECT_TRUE(m->MapMouse(0, {1, 1}, zm::TMouseKind::Up, 1).IsEmpty());
  EXPECT_TRUE(m->MapMouse(0, {1, 1}, zm::TMouseKind::Down, 5).IsEmpty());
  TOruActionInfo first = m->MapMouse(zm::ssLeft, {1, 1}, zm::TMouseKind::DoubleClick, 1);
  EXPECT_EQ(first.Code, acGotoSlide);
  EXPECT_EQ(first.Value, 0);
  // Moves never exit a show that did not ask for it.
  EXPECT_TRUE(m->MapMouse(0, {900, 900}, zm::TMouseKind::Move, 0).IsEmpty());
  EXPECT_EQ(m->MoveDetector(), nullptr);
  EXPECT_TRUE(TInputMappingClass::ActionByName(u"exit").IsEmpty());  // names are exact
}

TEST(InputMapping, ScreenSaverEndsOnAnyInput) {
  auto exits = [](const TOruActionInfo& a) { return a.Code == acExit; };
  TRef<TInputMappingClass> m = MappingOf("[Main]\r\nopt_ssaver=1\r\nopt_leftmouse=Next slide\r\n");
  for (std::uint32_t k : {65u, 39u, 1000u}) EXPECT_EQ(BoundCode(m.get(), zm::ssShift, k), acExit) << k;
  EXPECT_TRUE(exits(m->MapMouse(0, {100, 100}, zm::TMouseKind::Down, 1)));
  EXPECT_TRUE(exits(m->MapMouse(zm::ssRight, {100, 100}, zm::TMouseKind::Up, 4)));
  // Trembling around where the pointer was first seen is no move.
  EXPECT_FALSE(exits(m->MapMouse(0, {100, 100}, zm::TMouseKind::Move, 0)));
  EXPECT_FALSE(exits(m->MapMouse(0, {106, 104}, zm::TMouseKind::Move, 0)));
  EXPECT_FALSE(exits(m->MapMouse(0, {95, 95}, zm::TMouseKind::Move, 0)));
  EXPECT_TRUE(exits(m->MapMouse(0, {106, 105}, zm::TMouseKind::Move, 0)));

  TRef<TInputMappingClass> e = MappingOf("[Main]\r\nopt_exitonmove=1\r\n");
  EXPECT_FALSE(exits(e->MapMouse(0, {0, 0}, zm::TMouseKind::Move, 0)));
  EXPECT_TRUE(exits(e->MapMouse(0, {-11, 0}, zm::TMouseKind::Move, 0)));
  EXPECT_EQ(BoundCode(e.get(), 0, 65), 255);  // keys keep their bindings

  // Run as the system's screen saver, a show that says nothing of it is in
  // screen-saver mode all the same.
  TRef<zm::TIniFile> plain = zm::MakeRef<zm::TIniFile>();
  plain->LoadFromText(zm::TByteString(std::string("[Main]\r\nopt_leftmouse=Next slide\r\n")));
  TRef<TInputMappingClass> saver = zm::MakeRef<TInputMappingClass>(plain.get(), true);
  EXPECT_TRUE(saver->ScreenSaver());
  EXPECT_EQ(BoundCode(saver.get(), 0, 'A'), acExit);
  EXPECT_TRUE(exits(saver->MapMouse(0, {5, 5}, zm::TMouseKind::Down, 1)));
  EXPECT_FALSE(zm::MakeRef<TInputMappingClass>(plain.get(), false)->ScreenSaver());
}
