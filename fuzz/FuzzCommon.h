#pragma once
// Shared by every fuzz target: the check that stops the run on a broken
// promise, and the modules a target starts from LLVMFuzzerInitialize.
#include <cstdlib>
#include <initializer_list>
#include <span>
#include <string_view>

#include "Platform/PlatSystem.h"
#include "ZmLib/zmModules.h"

namespace zmfuzz {

inline void Check(bool ok) {
  if (!ok) std::abort();
}

// Started once and never stopped: stopping them from a static destructor
// would outlive what they stop.
inline void StartModules(std::initializer_list<std::span<const zm::TModule>> tables = {zm::CoreModules()}) {
  static zm::TModuleRunner* modules = new zm::TModuleRunner(zm::JoinModules(tables));
  (void)modules;
}

// For targets whose inputs set off assertions on purpose.
inline void QuietDebugOutput() {
  plat::SetDebugOutputHook([](std::string_view) {});
}

}  // namespace zmfuzz
