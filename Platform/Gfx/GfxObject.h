#pragma once
// Reference counting of the device's objects. AddRef and Release count the
// callers' references and Release answers what remains, as callers poll it.
// Bindings inside the device (a bound texture, the current render target, the
// stream source) hold an internal reference instead: it keeps the memory but
// is not counted, so a texture released while bound stays valid for the
// device without keeping the device alive through a cycle.
#include <atomic>
#include <cstdint>
#include <utility>

namespace plat::gfx {

class Object {
public:
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  virtual std::uint32_t AddRef();
  // The remaining count; the object goes when it and every binding are gone.
  virtual std::uint32_t Release();
  // The callers' references (for checks; racy by nature).
  virtual std::uint32_t RefCount() const;

  // Bindings held by the device.
  virtual void AddInternalRef();
  virtual void ReleaseInternalRef();

protected:
  Object() = default;
  virtual ~Object() = default;
  // The last caller reference went (bindings may remain).
  virtual void OnFinalRelease() {}
  // A caller reference came back through a getter of a binding.
  virtual void OnRevive() {}

private:
  // Low 32 bits: callers' references; high 32 bits: internal references.
  std::atomic<std::uint64_t> counts_{1};
};

// Intrusive pointer over AddRef/Release. A raw pointer given to the
// constructor gets a reference of its own; Adopt takes one over.
template <class T>
class Ref {
public:
  Ref() = default;
  Ref(std::nullptr_t) {}
  explicit Ref(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  Ref(const Ref& o) : Ref(o.p_) {}
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U>
  Ref(const Ref<U>& o) : Ref(static_cast<T*>(o.Get())) {}
  ~Ref() { Reset(); }
  Ref& operator=(const Ref& o) {
    Ref(o).Swap(*this);
    return *this;
  }
  Ref& operator=(Ref&& o) noexcept {
    Ref(std::move(o)).Swap(*this);
    return *this;
  }
  Ref& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }
  static Ref Adopt(T* p) {
    Ref r;
    r.p_ = p;
    return r;
  }
  // Hands the reference to the caller.
  T* Detach() { return std::exchange(p_, nullptr); }
  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  void Swap(Ref& o) noexcept { std::swap(p_, o.p_); }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  friend bool operator==(const Ref& a, const Ref& b) { return a.p_ == b.p_; }
  friend bool operator==(const Ref& a, std::nullptr_t) { return a.p_ == nullptr; }

private:
  T* p_ = nullptr;
};

// An internal (binding) reference.
template <class T>
class Binding {
public:
  Binding() = default;
  Binding(const Binding&) = delete;
  Binding& operator=(const Binding&) = delete;
  ~Binding() { Reset(); }
  void Set(T* p) {
    if (p) p->AddInternalRef();
    if (T* old = std::exchange(p_, p)) old->ReleaseInternalRef();
  }
  void Reset() { Set(nullptr); }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

private:
  T* p_ = nullptr;
};

}  // namespace plat::gfx
