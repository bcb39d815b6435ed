#pragma once
// Theme services: whether visual styles may be used, and the wrapper of the
// visual-styles library (one theme handle per theme class, opened on demand;
// the program's element numbers mapped to (class, part, state)). There is no
// visual-styles library on this system: the default loader answers "not
// available" and every control draws its classic theme. Tests install a
// loader of their own through LoadThemeLibraryHook.
#include <cstdint>
#include <functional>

#include "Platform/Gdi/PlatGdi.h"
#include "ZmLib/Win32/SysObj2.h"

namespace zm {

using HTHEME = std::uintptr_t;

// The entry points of the visual-styles library that the services call.
// Results follow the library: 0 (S_OK) is success.
struct TUxThemeApi {
  bool (*IsAppThemed)() = nullptr;
  bool (*IsThemeActive)() = nullptr;
  HTHEME (*OpenThemeData)(plat::HWND window, const char16_t* classList) = nullptr;
  std::int32_t (*CloseThemeData)(HTHEME theme) = nullptr;
  std::int32_t (*DrawThemeBackground)(HTHEME theme, plat::HDC dc, std::int32_t part, std::int32_t state,
                                      const TRect* rect, const TRect* clip) = nullptr;
  std::int32_t (*GetThemeBackgroundContentRect)(HTHEME theme, plat::HDC dc, std::int32_t part, std::int32_t state,
                                                const TRect* bounds, TRect* content) = nullptr;
  std::int32_t (*GetThemePartSize)(HTHEME theme, plat::HDC dc, std::int32_t part, std::int32_t state,
                                   const TRect* rect, std::int32_t kind, TSize* size) = nullptr;
};

// Loads the library (shared and counted by the loader); nil when it cannot.
// Release is called once for every successful load.
struct TThemeLibraryLoader {
  const TUxThemeApi* (*Load)() = nullptr;
  void (*Release)() = nullptr;
};
extern TThemeLibraryLoader LoadThemeLibraryHook;
// The default: "uxtheme.dll" through the library loader, with every entry
// point found by name; nil here.
const TUxThemeApi* LoadUxTheme();
void ReleaseUxTheme();

// Theme classes by index ("button" ... "window").
constexpr std::int32_t kThemeClassCount = 24;
const char16_t* ThemeClassName(std::int32_t index);  // nil out of range

// Control kinds of the element numbers.
enum class TThemeKind { Button, ComboBox, Edit, ListView, ScrollBar, Spin, Tab, Toolbar };

struct TThemedElement {
  std::int32_t ThemeClass = 0;
  std::int32_t Part = 0;
  std::int32_t State = 0;
  friend bool operator==(const TThemedElement&, const TThemedElement&) = default;
};
// Number N of a kind to its element; numbers outside the kind's table give
// part 0, state N + 1.
TThemedElement ThemedElement(TThemeKind kind, std::int32_t n);

constexpr plat::UINT WM_THEMECHANGED_ID = 794;

class TThemeServices : public TRefObject {
public:
  // Reads the common-controls version through the file API and loads the
  // library only for 6.0 or later; registers for WM_THEMECHANGED with the
  // application (which must exist: assertion).
  TThemeServices();
  void Dispose() override;

  bool CommonControls6() const { return comCtl6_; }
  bool LibraryLoaded() const { return api_ != nullptr; }
  // Asked again on every call.
  bool ThemesEnabled() const;
  // Opens the class's handle on first use while themes are enabled; 0 when off.
  HTHEME GetThemeHandle(std::int32_t themeClass);
  bool DrawElement(plat::HDC dc, const TThemedElement& e, const TRect& rect, const TRect* clip = nullptr);
  bool GetElementContentRect(plat::HDC dc, const TThemedElement& e, const TRect& bounds, TRect& content);
  bool GetElementSize(plat::HDC dc, const TThemedElement& e, const TRect* rect, std::int32_t kind, TSize& size);
  // Closes every open handle (they open again on next use) and calls OnThemeChange.
  void ThemeChanged();
  std::function<void()> OnThemeChange;

private:
  static void MessageHook(void* data, plat::HWND window, struct TMessage& message, bool& handled);
  void CloseHandles();
  bool comCtl6_ = false;
  const TUxThemeApi* api_ = nullptr;
  HTHEME handles_[kThemeClassCount] = {};
  void* app_ = nullptr;  // the application it registered with
};

// The global services (made on first use).
TThemeServices* ThemeServices();
void FreeThemeServices();

void InitWinThemes2();
void FiniWinThemes2();

}  // namespace zm
