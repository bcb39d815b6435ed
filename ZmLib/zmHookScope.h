#pragma once
// Save, set and restore of a hook: a global (a plain variable or a
// std::atomic) that start-up fills and that code or a test replaces for a
// while. ARCHITECTURE.md lists the hooks and who fills them.
//
//   THookScope   one block or one object: sets on construction, gives the
//                old value back on destruction (also when the block is left
//                by an exception or a failed test assertion), or earlier
//                by Restore.
//   THookInstall a module (or a counted install): Install in its Init,
//                Restore in its Fini. It is constant-initialised, so a
//                module's static one is ready before any code runs.
//
// Both keep the value they replaced (Saved): the next handler of a chain.
// Neither locks: a hook is set while nothing else runs that reads it, as at
// start-up, at the end, or in a test before its threads start.
#include <atomic>
#include <concepts>
#include <type_traits>
#include <utility>

namespace zm {

namespace hook_detail {

template <class H>
struct TValue {
  using Type = H;
  static Type Exchange(H& hook, Type value) { return std::exchange(hook, std::move(value)); }
  static Type Load(const H& hook) { return hook; }
};

template <class T>
struct TValue<std::atomic<T>> {
  using Type = T;
  static Type Exchange(std::atomic<T>& hook, Type value) { return hook.exchange(value); }
  static Type Load(const std::atomic<T>& hook) { return hook.load(); }
};

}  // namespace hook_detail

// H is the hook variable's type; its value type is H, or T for std::atomic<T>.
template <class H>
class THookScope {
  using TV = hook_detail::TValue<H>;

public:
  using TValueType = typename TV::Type;

  THookScope(H& hook, std::type_identity_t<TValueType> value)
      : hook_(hook), saved_(TV::Exchange(hook, std::move(value))) {}
  // Keeps the value only: the scope's code sets the hook as it goes.
  explicit THookScope(H& hook) : hook_(hook), saved_(TV::Load(hook)) {}
  ~THookScope() { Restore(); }
  THookScope(const THookScope&) = delete;
  THookScope& operator=(const THookScope&) = delete;

  // Sets the hook again; the value kept stays the one from before the scope.
  void Set(std::type_identity_t<TValueType> value) { TV::Exchange(hook_, std::move(value)); }
  // Gives the old value back now; the end of the scope then does nothing.
  void Restore() {
    if (!active_) return;
    active_ = false;
    TV::Exchange(hook_, saved_);
  }
  const TValueType& Saved() const { return saved_; }

private:
  H& hook_;
  TValueType saved_;
  bool active_ = true;
};

template <class H>
class THookInstall {
  using TV = hook_detail::TValue<H>;

public:
  using TValueType = typename TV::Type;

  constexpr THookInstall() = default;
  THookInstall(const THookInstall&) = delete;
  THookInstall& operator=(const THookInstall&) = delete;

  // Sets the hook and keeps the value it held. A hook that holds Value
  // already keeps nothing, so a handler never chains to itself; installed
  // again before Restore, the value kept first stays.
  void Install(H& hook, std::type_identity_t<TValueType> value) {
    TValueType old = TV::Exchange(hook, value);
    set_ = std::move(value);
    if (hook_) return;
    hook_ = &hook;
    if constexpr (std::equality_comparable<TValueType>) {
      if (old == set_) return;
    }
    saved_ = std::move(old);
  }
  // Keeps the hook's value only: the caller sets the hook its own way.
  void Keep(H& hook) {
    if (hook_) return;
    hook_ = &hook;
    saved_ = TV::Load(hook);
  }
  // Gives the hook its old value back and forgets it; nothing when not installed.
  void Restore() {
    if (hook_) TV::Exchange(*hook_, std::move(saved_));
    Forget();
  }
  // As Restore, but only while the hook still holds what Install set: a
  // handler installed later and not yet removed stays.
  void RestoreIfStillSet() {
    if (hook_ && TV::Load(*hook_) == set_) TV::Exchange(*hook_, std::move(saved_));
    Forget();
  }
  bool Installed() const { return hook_ != nullptr; }
  // What the hook held before Install: the next handler of a chain (empty
  // when not installed).
  const TValueType& Saved() const { return saved_; }

private:
  void Forget() {
    hook_ = nullptr;
    saved_ = TValueType{};
    set_ = TValueType{};
  }

  H* hook_ = nullptr;
  TValueType saved_{};
  TValueType set_{};
};

}  // namespace zm
