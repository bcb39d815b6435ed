#pragma once
// Shared by every fuzz target: the check that stops the run on a broken
// promise, and the modules a target starts from LLVMFuzzerInitialize.
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <span>
#include <string_view>

#include "Platform/PlatSystem.h"
#include "ZmLib/zmModules.h"

namespace zmfuzz {

// Names the broken check's line, so that a CI log says which promise broke.
inline void Check(bool ok, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
  if (ok) return;
  std::fprintf(stderr, "broken promise at %s:%d\n", file, line);
  std::abort();
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
