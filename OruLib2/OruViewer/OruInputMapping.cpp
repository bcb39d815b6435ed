#include "OruLib2/OruViewer/OruInputMapping.h"

#include <cstdlib>

namespace oru {

namespace {

// Virtual-key codes of the player's keyboard.
constexpr std::uint32_t vkPause = 19, vkEscape = 27, vkSpace = 32, vkPageUp = 33, vkPageDown = 34, vkEnd = 35,
                        vkHome = 36, vkLeft = 37, vkUp = 38, vkRight = 39, vkDown = 40, vkP = 80, vkF1 = 112,
                        vkBrowserBack = 166, vkBrowserForward = 167, vkMediaNext = 176, vkMediaPrev = 177,
                        vkMediaStop = 178, vkMediaPlayPause = 179;

std::int64_t Distance(std::int32_t a, std::int32_t b) { return std::llabs(std::int64_t(a) - std::int64_t(b)); }

}  // namespace

TInputMappingClass::TInputMappingClass(zm::TIniFile* ini, bool screenSaver) {
  auto readBool = [&](const char16_t* section, const char16_t* key, bool def) {
    return ini ? ini->ReadBool(section, key, def) : def;
  };
  auto readString = [&](const char16_t* key) {
    return ini ? ini->ReadString(u"Main", key, WideString()) : WideString();
  };
  leftClick_ = ActionByName(readString(u"opt_leftmouse"));
  rightClick_ = ActionByName(readString(u"opt_rightmouse"));
  doubleClick_ = ActionByName(readString(u"opt_dblclick"));

  screenSaver_ = screenSaver || readBool(u"Main", u"opt_ssaver", false);
  if (screenSaver_) {
    anyKey_ = zm::MakeRef<TKeyMap>();
    anyKey_->Action = MakeActionInfo(acExit, 0, WideString());
  }
  if (screenSaver_ || readBool(u"Main", u"opt_exitonmove", false)) moveDetector_ = zm::MakeRef<TMouseMoveDetector>();
  syncPermitControl_ = readBool(u"Main", u"opt_synchpermitcontrol", true);

  const TOruActionInfo exit = MakeActionInfo(acExit, 0, WideString());
  AddBinding(vkEscape, kShiftAltCtrl, 0, 1, exit);
  if (syncPermitControl_) {
    const TOruActionInfo pause = MakeActionInfo(acPause, 0, WideString());
    for (std::uint32_t k : {vkSpace, vkPause, vkMediaPlayPause}) AddBinding(k, kShiftAltCtrl, 0, 1, pause);
    AddBinding(vkP, kShiftAltCtrl, zm::ssCtrl, 1, pause);
    AddBinding(vkMediaStop, kShiftAltCtrl, 0, 1, MakeActionInfo(acStop, 0, WideString()));
    const TOruActionInfo prev = MakeActionInfo(acPrevSlide, 0, WideString());
    for (std::uint32_t k : {vkLeft, vkPageUp, vkBrowserBack, vkMediaPrev, vkUp})
      AddBinding(k, kShiftAltCtrl, 0, 1, prev);
    const TOruActionInfo next = MakeActionInfo(acNextSlide, 0, WideString());
    for (std::uint32_t k : {vkRight, vkPageDown, vkBrowserForward, vkMediaNext, vkDown})
      AddBinding(k, kShiftAltCtrl, 0, 1, next);
    AddBinding(vkHome, kShiftAltCtrl, 0, 1, MakeActionInfo(acGotoSlide, 0, WideString()));
    const std::int32_t last = ini ? ini->ReadInteger(u"Times", u"opt_slidescount", 0) : 0;
    AddBinding(vkEnd, kShiftAltCtrl, 0, 1, MakeActionInfo(acGotoSlide, last, WideString()));
  }
  if (!readBool(u"Main", u"opt_lockf1", false))
    AddBinding(vkF1, kShiftAltCtrl, 0, 1, MakeActionInfo(acHelp, 0, WideString()));
}

void TInputMappingClass::Dispose() {
  for (zm::TRef<TKeyMap>& chain : keys_) {
    // Unlinked one by one: a long chain must not recurse.
    zm::TRef<TKeyMap> item = std::move(chain);
    while (item) item = std::move(item->Next);
  }
  moveDetector_ = nullptr;
  anyKey_ = nullptr;
  zm::TRefObject::Dispose();
}

void TInputMappingClass::AddBinding(std::uint32_t key, std::uint8_t mask, std::uint8_t value, std::uint8_t keyState,
                                    const TOruActionInfo& action) {
  if (key >= 256) return;
  zm::TRef<TKeyMap> item = zm::MakeRef<TKeyMap>();
  item->ShiftMask = mask;
  item->ShiftValue = value;
  item->KeyState = keyState;
  item->Action = action;
  item->Next = std::move(keys_[key]);
  keys_[key] = std::move(item);
}

const TOruActionInfo* TInputMappingClass::MapKey(zm::TShiftState shift, std::uint32_t key, std::uint8_t keyState) {
  if (screenSaver_) return anyKey_ && anyKey_->KeyState == keyState ? &anyKey_->Action : nullptr;
  if (key >= 256) return nullptr;
  for (TKeyMap* m = keys_[key].get(); m; m = m->Next.get())
    if (m->KeyState == keyState && (shift & m->ShiftMask) == m->ShiftValue) return &m->Action;
  return nullptr;
}

TOruActionInfo TInputMappingClass::MapMouse(zm::TShiftState shift, zm::TPoint pos, zm::TMouseKind kind, int button) {
  const TOruActionInfo exit = MakeActionInfo(acExit, 0, WideString());
  // Button bits may be missing from the state of the press itself.
  if (screenSaver_ && (shift != 0 || kind == zm::TMouseKind::Down || kind == zm::TMouseKind::DoubleClick)) return exit;
  if (moveDetector_) {
    moveDetector_->MouseMove(pos.X, pos.Y);
    if (!anchored_) {
      anchored_ = true;
      anchor_ = pos;
    } else if (Distance(anchor_.X, pos.X) + Distance(anchor_.Y, pos.Y) > moveThreshold_) {
      return exit;
    }
  }
  if (kind == zm::TMouseKind::Down) {
    if (button == 1) return leftClick_;
    if (button == 4) return rightClick_;
  } else if (kind == zm::TMouseKind::DoubleClick && button == 1) {
    return doubleClick_;
  }
  return TOruActionInfo();
}

TOruActionInfo TInputMappingClass::ActionByName(const WideString& name) {
  if (name == u"Exit") return MakeActionInfo(acExit, 0, WideString());
  if (name == u"Next slide") return MakeActionInfo(acNextSlide, 0, WideString());
  if (name == u"Prev. slide") return MakeActionInfo(acPrevSlide, 0, WideString());
  if (name == u"Help") return MakeActionInfo(acHelp, 0, WideString());
  if (name == u"Pause") return MakeActionInfo(acPause, 0, WideString());
  if (name == u"Go to first") return MakeActionInfo(acGotoSlide, 0, WideString());
  return TOruActionInfo();
}

}  // namespace oru
