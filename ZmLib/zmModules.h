#pragma once
// Module initialisation and finalisation run from explicit ordered tables:
// each library lists its units in dependency order, the program (and each
// test binary) joins the tables, and finalisation runs in reverse.
#include <span>
#include <vector>

namespace zm {

struct TModule {
  const char* Name;
  void (*Init)();
  void (*Fini)();
};

// The units of the core library, in dependency order.
std::span<const TModule> CoreModules();

// Runs Init of each module in order; Fini runs for the started ones in
// reverse. A module whose Init throws is not finalised; the ones before it are.
class TModuleRunner {
public:
  TModuleRunner() = default;
  explicit TModuleRunner(const std::vector<TModule>& modules) { Start(modules); }
  ~TModuleRunner() { Stop(); }
  TModuleRunner(const TModuleRunner&) = delete;
  TModuleRunner& operator=(const TModuleRunner&) = delete;
  void Start(const std::vector<TModule>& modules);
  void Stop() noexcept;

private:
  std::vector<TModule> started_;
};

std::vector<TModule> JoinModules(std::initializer_list<std::span<const TModule>> tables);

}  // namespace zm
