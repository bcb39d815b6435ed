#include "ZmLib/Win32/winInput.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/User/PlatUser.h"
#include "Platform/User/PlatUserHeadless.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLocal.h"

using namespace zm;

namespace {

class TLog : public TInputReceiver {
public:
  std::vector<std::string> Calls;
  void Key(std::uint16_t key, TShiftState shift, bool down) override {
    Calls.push_back("key " + std::to_string(key) + " " + std::to_string(shift) + (down ? " down" : " up"));
  }
  void Char(WideChar c) override { Calls.push_back("char " + std::to_string(int(c))); }
  void Mouse(TShiftState shift, TPoint pos, TMouseKind kind, int button) override {
    static const char* kKinds[] = {"move", "down", "up", "dbl"};
    Calls.push_back(std::string("mouse ") + kKinds[int(kind)] + " " + std::to_string(button) + " " +
                    std::to_string(shift) + " " + std::to_string(pos.X) + "," + std::to_string(pos.Y));
  }
  void Wheel(int notches, TShiftState, TPoint pos) override {
    Calls.push_back("wheel " + std::to_string(notches) + " " + std::to_string(pos.X));
  }
};

TEST(WinInput, WheelAddsUpToWholeNotches) {
  plat::headless::ResetForTests();
  TInputTranslator t;
  TLog log;
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(t.Translate(nullptr, plat::WM_MOUSEWHEEL, plat::MAKEWPARAM(0, 40), plat::MAKELPARAM(10, 20), log));
  EXPECT_EQ(log.Calls, std::vector<std::string>{"wheel 1 10"});  // on the third
  log.Calls.clear();
  t.Translate(nullptr, plat::WM_MOUSEWHEEL, plat::MAKEWPARAM(0, -300), 0, log);
  EXPECT_EQ(log.Calls, std::vector<std::string>{"wheel -2 0"});
  EXPECT_EQ(t.WheelTotal(), -60);
  // The registered wheel message carries the delta in wParam.
  plat::UINT roll = plat::RegisterWindowMessageW(u"MSWHEEL_ROLLMSG");
  log.Calls.clear();
  t.Translate(nullptr, roll, plat::WPARAM(180), 0, log);
  EXPECT_EQ(log.Calls, std::vector<std::string>{"wheel 1 0"});
}

TEST(WinInput, ButtonsAndKeys) {
  TInputTranslator t;
  TLog log;
  t.Translate(nullptr, plat::WM_LBUTTONDBLCLK, plat::MK_LBUTTON | plat::MK_SHIFT, plat::MAKELPARAM(3, -4), log);
  t.Translate(nullptr, plat::WM_RBUTTONUP, 0, plat::MAKELPARAM(1, 2), log);
  t.Translate(nullptr, plat::WM_SYSKEYDOWN, 'X', plat::LPARAM(1) << 29, log);  // Alt from the message
  EXPECT_EQ(log.Calls, (std::vector<std::string>{"mouse down 1 18 3,-4", "mouse dbl 1 18 3,-4", "mouse up 4 0 1,2",
                                                 "key 88 4 down"}));
  EXPECT_FALSE(t.Translate(nullptr, plat::WM_USER, 0, 0, log));
  // With the own translation, characters come from the key and WM_CHAR is ignored.
  t.OwnCharTranslation = true;
  log.Calls.clear();
  t.Translate(nullptr, plat::WM_KEYDOWN, 'Q', 0, log);
  t.Translate(nullptr, plat::WM_CHAR, u'q', 0, log);
  EXPECT_EQ(log.Calls, (std::vector<std::string>{"key 81 0 down", "char 113"}));
}

TEST(ZmLocal, ReplacingNamesNeedsTheWholeTable) {
  WideString saved[12];
  for (int i = 0; i < 12; ++i) saved[i] = LongMonthNames[i];
  std::vector<WideString> eleven(11, u"X");
  EXPECT_FALSE(SetLongMonthNames(eleven));
  EXPECT_EQ(LongMonthNames[0], saved[0]);
  std::vector<WideString> twelve(12);
  twelve[1] = u"Februar";
  EXPECT_TRUE(SetLongMonthNames(twelve));
  EXPECT_EQ(LongMonthNames[0], saved[0]);  // empty entries change nothing
  EXPECT_EQ(LongMonthNames[1], u"Februar");
  SetLongMonthNames(std::vector<WideString>(saved, saved + 12));
  EXPECT_EQ(TranslateText(u"Main", u"Close", u"Close"), u"Close");
  zm::THookScope translate(TranslateHook, [](const WideString&, const WideString& key, const WideString&) {
    return u"<" + key + u">";
  });
  EXPECT_EQ(TranslateText(u"Main", u"Close", u"Close"), u"<Close>");
}

}  // namespace
