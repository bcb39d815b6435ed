#pragma once
// Puts a file API in place of FileAPIClass for the lifetime of the object.
#include <utility>

#include "ZmLib/Win32/winFileAPI.h"

#include "ZmLib/zmHookScope.h"

namespace zmtest {

class TFileAPISwap {
public:
  explicit TFileAPISwap(zm::TRef<zm::TFileAPI> api) : swap_(zm::FileAPIClass, std::move(api)) {}

private:
  zm::THookScope<zm::TRef<zm::TFileAPI>> swap_;
};

}  // namespace zmtest
