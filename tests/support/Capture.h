#pragma once
// Captures the debugger output and the message boxes while alive.
#include <mutex>
#include <string>
#include <vector>

#include "ZmLib/Win32/SysObj2.h"

#include "ZmLib/zmHookScope.h"

namespace zmtest {

class TDebugCapture {
public:
  TDebugCapture();
  ~TDebugCapture();
  std::vector<std::string> Lines() const;
  bool Contains(const std::string& fragment) const;

private:
  mutable std::mutex m_;
  std::vector<std::string> lines_;
};

class TMessageBoxCapture {
public:
  struct TBox {
    std::u16string Text, Caption;
    std::uint32_t Flags;
  };
  explicit TMessageBoxCapture(int answer = zm::IDOK);
  static std::vector<TBox>& Boxes();

private:
  zm::THookScope<zm::TMessageBoxProc> box_{zm::MessageBoxProc};
};

}  // namespace zmtest
