#pragma once
// Puts a file API in place of FileAPIClass for the lifetime of the object.
#include <utility>

#include "ZmLib/Win32/winFileAPI.h"

namespace zmtest {

class TFileAPISwap {
public:
  explicit TFileAPISwap(zm::TRef<zm::TFileAPI> api) : saved_(zm::FileAPIClass) { zm::FileAPIClass = std::move(api); }
  ~TFileAPISwap() { zm::FileAPIClass = saved_; }
  TFileAPISwap(const TFileAPISwap&) = delete;
  TFileAPISwap& operator=(const TFileAPISwap&) = delete;

private:
  zm::TRef<zm::TFileAPI> saved_;
};

}  // namespace zmtest
