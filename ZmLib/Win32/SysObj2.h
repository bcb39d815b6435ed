#pragma once
// The reference-counted base object, the exception classes, the assertion
// report and the small debugging helpers every unit uses.
#include <atomic>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "ZmLib/zmTypes.h"

namespace zm {

// ============================================================================
// Reference-counted object
// ============================================================================

// Every framework class derives from TRefObject. The count starts at 1;
// Free and Release lower it and the object is destroyed at 0. Clean-up is the
// virtual Dispose, whose overrides end by calling the inherited Dispose. Only
// TRefObject declares a destructor; it is protected, so objects live on the
// heap and die through Free/Release.
class TRefObject {
public:
  static constexpr std::uint8_t kCreated = 1;
  static constexpr std::uint8_t kVerified = 2;
  static constexpr std::uint8_t kDisposed = 4;

  TRefObject() noexcept;
  TRefObject(const TRefObject&) = delete;
  TRefObject& operator=(const TRefObject&) = delete;

  virtual void Dispose();

  // Checks that the constructor chain reached the base; MakeRef calls it.
  void AfterConstruction();

  std::int32_t AddRef() noexcept;  // new count
  // The interface release (_Release): named apart so that classes with a
  // Release of their own (TMutex.Release) do not hide it.
  std::int32_t ReleaseRef();       // new count; disposes at 0
  void Free();                     // drops one reference; disposes below 1

  std::int32_t RefCount() const noexcept { return refCount_.load(std::memory_order_acquire); }
  std::uint8_t Flags() const noexcept { return flags_; }
  // The class name without namespace, as reports print it.
  std::string ClassName() const;

protected:
  virtual ~TRefObject();

private:
  std::atomic<std::int32_t> refCount_;
  std::uint8_t flags_ = 0;
};

// Free of a nil reference does nothing.
inline void FreeObject(TRefObject* obj) {
  if (obj) obj->Free();
}
template <class T>
void FreeAndNil(T*& obj) {
  T* p = obj;
  obj = nullptr;
  if (p) p->Free();
}

// Reports an exception that a destructor swallowed (destructors never throw).
void ReportSwallowedException() noexcept;

// Intrusive pointer: copies add a reference, the destructor releases one.
template <class T>
class TRef {
public:
  TRef() noexcept = default;
  TRef(std::nullptr_t) noexcept {}
  // Shares p: takes a reference of its own.
  explicit TRef(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  // Takes over the reference the caller holds (the initial one of new).
  static TRef Adopt(T* p) noexcept {
    TRef r;
    r.p_ = p;
    return r;
  }
  TRef(const TRef& o) noexcept : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  TRef(TRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  TRef(const TRef<U>& o) noexcept : p_(o.get()) {
    if (p_) p_->AddRef();
  }
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  TRef(TRef<U>&& o) noexcept : p_(o.Detach()) {}
  ~TRef() { reset(); }

  TRef& operator=(const TRef& o) noexcept {
    TRef(o).swap(*this);
    return *this;
  }
  TRef& operator=(TRef&& o) noexcept {
    TRef(std::move(o)).swap(*this);
    return *this;
  }
  TRef& operator=(std::nullptr_t) noexcept {
    reset();
    return *this;
  }

  void reset() noexcept {
    if (T* q = std::exchange(p_, nullptr)) {
      try {
        q->ReleaseRef();
      } catch (...) {
        ReportSwallowedException();
      }
    }
  }
  // Gives up the reference without releasing it.
  T* Detach() noexcept { return std::exchange(p_, nullptr); }
  void swap(TRef& o) noexcept { std::swap(p_, o.p_); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  friend bool operator==(const TRef& a, const TRef& b) noexcept { return a.p_ == b.p_; }
  friend bool operator==(const TRef& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

private:
  T* p_ = nullptr;
};

template <class T, class... A>
TRef<T> MakeRef(A&&... args) {
  T* p = new T(std::forward<A>(args)...);
  try {
    p->AfterConstruction();
  } catch (...) {
    p->Free();
    throw;
  }
  return TRef<T>::Adopt(p);
}

template <class T, class U>
TRef<T> RefCast(const TRef<U>& r) noexcept {
  return TRef<T>(dynamic_cast<T*>(r.get()));
}

// ============================================================================
// Exceptions
// ============================================================================

// Root of the error classes; the message is UTF-8 text.
class Exception : public std::exception {
public:
  explicit Exception(std::string message = {});
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string m) { message_ = std::move(m); }
  // Where the exception was made (the raise site, as near as C++ tells).
  const void* Address() const noexcept { return address_; }
  std::string ClassName() const;

private:
  std::string message_;
  const void* address_;
};

// The silent exception: it unwinds an operation without a message box.
class EAbort : public Exception {
public:
  using Exception::Exception;
};

// Classes that carry one 32-bit code besides the message.
class ERunTimeError : public Exception {
public:
  ERunTimeError(std::string message, std::int32_t code) : Exception(std::move(message)), code_(code) {}
  std::int32_t Code() const noexcept { return code_; }

private:
  std::int32_t code_;
};

#define ZM_DECLARE_EXCEPTION(Name, Parent) \
  class Name : public Parent {             \
  public:                                  \
    using Parent::Parent;                  \
  };

class EHeapException : public ERunTimeError {
public:
  explicit EHeapException(std::string m, std::int32_t code = 0) : ERunTimeError(std::move(m), code) {}
};
ZM_DECLARE_EXCEPTION(EOutOfMemory, EHeapException)
ZM_DECLARE_EXCEPTION(EInvalidPointer, EHeapException)
class EInOutError : public ERunTimeError {
public:
  // The message for an I/O error code.
  explicit EInOutError(std::int32_t ioCode);
  EInOutError(std::string m, std::int32_t ioCode) : ERunTimeError(std::move(m), ioCode) {}
};
class EExternal : public ERunTimeError {
public:
  explicit EExternal(std::string m, std::int32_t code = 0) : ERunTimeError(std::move(m), code) {}
};
ZM_DECLARE_EXCEPTION(EExternalException, EExternal)
ZM_DECLARE_EXCEPTION(EIntError, EExternal)
ZM_DECLARE_EXCEPTION(EDivByZero, EIntError)
ZM_DECLARE_EXCEPTION(ERangeError, EIntError)
ZM_DECLARE_EXCEPTION(EIntOverflow, EIntError)
ZM_DECLARE_EXCEPTION(EMathError, EExternal)
ZM_DECLARE_EXCEPTION(EInvalidOp, EMathError)
ZM_DECLARE_EXCEPTION(EZeroDivide, EMathError)
ZM_DECLARE_EXCEPTION(EOverflow, EMathError)
ZM_DECLARE_EXCEPTION(EUnderflow, EMathError)
ZM_DECLARE_EXCEPTION(EAccessViolation, EExternal)
ZM_DECLARE_EXCEPTION(EPrivilege, EExternal)
ZM_DECLARE_EXCEPTION(EStackOverflow, EExternal)
ZM_DECLARE_EXCEPTION(EControlC, EExternal)
ZM_DECLARE_EXCEPTION(EInvalidCast, Exception)
ZM_DECLARE_EXCEPTION(EVariantError, Exception)
ZM_DECLARE_EXCEPTION(EAssertionFailed, Exception)
ZM_DECLARE_EXCEPTION(EAbstractError, Exception)
ZM_DECLARE_EXCEPTION(EIntfCastError, Exception)
ZM_DECLARE_EXCEPTION(ESafecallException, Exception)
class EOSError : public ERunTimeError {
public:
  EOSError(std::string m, std::int32_t code) : ERunTimeError(std::move(m), code) {}
};

// Root of the internal faults. The default message is
// "Tavrel Exception: " + '"' + class name + '"'. C++ cannot dispatch
// virtually during base construction, so each class passes its own name
// (ZM_COMMON_EXCEPTION does it).
class TCommonException : public Exception {
public:
  TCommonException() : TCommonException("TCommonException") {}

protected:
  explicit TCommonException(const char* className) : Exception() { InitMessage(className); }
  void InitMessage(const char* className);
};

#define ZM_COMMON_EXCEPTION(Name, Parent)               \
  class Name : public Parent {                          \
  public:                                               \
    Name() : Parent(#Name) {}                           \
                                                        \
  protected:                                            \
    explicit Name(const char* cls) : Parent(cls) {}     \
  };

// ---- printf-style formatting of an argument array ----------------------------

// One value of the argument array: integers, floating point, pointers, text.
struct TFmtArg {
  std::variant<std::int64_t, std::uint64_t, double, const void*, std::string> Value;
  TFmtArg(int v) : Value(std::int64_t(v)) {}
  TFmtArg(long v) : Value(std::int64_t(v)) {}
  TFmtArg(long long v) : Value(std::int64_t(v)) {}
  TFmtArg(unsigned v) : Value(std::uint64_t(v)) {}
  TFmtArg(unsigned long v) : Value(std::uint64_t(v)) {}
  TFmtArg(unsigned long long v) : Value(std::uint64_t(v)) {}
  TFmtArg(double v) : Value(v) {}
  TFmtArg(const void* p) : Value(p) {}
  TFmtArg(const char* s) : Value(std::string(s ? s : "")) {}
  TFmtArg(std::string s) : Value(std::move(s)) {}
  TFmtArg(std::string_view s) : Value(std::string(s)) {}
};

// Formats like printf (%d %i %u %x %X %s %p %c %e %f %g %%, flags, width,
// precision) into at most 2048 characters. A missing or mistyped argument
// prints nothing; it never reads past the array.
std::string FormatPrintf(std::string_view format, std::initializer_list<TFmtArg> args);

// ---- errors from the OS and the run time ---------------------------------

// The system's text for an error code, without trailing blanks and full stops.
std::string SysErrorMessage(std::int32_t code);
// Raises EOSError for the thread's last OS error.
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseOSError(std::int32_t code);

// Run-time error numbers 1..23 as exceptions (see the table in the source);
// any other number gives EInOutError for ioCode.
std::exception_ptr RunTimeErrorException(int number, std::int32_t ioCode = 0, std::uint32_t externalCode = 0);
// Windows exception codes of processor faults to run-time error numbers.
int OSExceptionCodeToErrorNumber(std::uint32_t code);
std::string AccessViolationMessage(const void* codeAddress, std::string_view moduleName, bool write,
                                   const void* dataAddress);
// Raised on a call of an abstract virtual operation.
[[noreturn]] void AbstractError();

// ---- reports ------------------------------------------------------------------

// The report text of an exception, cut to size characters.
std::string ExceptionErrorMessage(const std::exception* obj, const void* address, std::size_t size = 1024);
// Shows an exception to the user unless it is silent.
void ShowException(const std::exception* obj, const void* address);
// Reports the exception being handled (call inside a catch).
void ShowCurrentException() noexcept;
// The exception the calling thread is handling (inside a catch), or nullptr,
// and the address where it was raised.
const std::exception* ExceptObject() noexcept;
const void* ExceptAddr() noexcept;

// Exceptions of this class or a descendant are never shown.
using TSilentExceptionClass = bool (*)(const std::exception&);
extern TSilentExceptionClass SilentExceptionClass;
bool IsSilentException(const std::exception& e);

// Message boxes go through this procedure so that the window layer can show
// them; the default writes "caption: text" as one line to standard error and
// answers the default button.
constexpr std::uint32_t MB_OK = 0x0;
constexpr std::uint32_t MB_OKCANCEL = 0x1;
constexpr std::uint32_t MB_YESNO = 0x4;
constexpr std::uint32_t MB_ICONHAND = 0x10;  // stop icon
constexpr std::uint32_t MB_ICONQUESTION = 0x20;
constexpr std::uint32_t MB_ICONEXCLAMATION = 0x30;
constexpr std::uint32_t MB_ICONINFORMATION = 0x40;
constexpr std::uint32_t MB_TASKMODAL = 0x2000;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
using TMessageBoxProc = int (*)(const WideString& text, const WideString& caption, std::uint32_t flags);
extern TMessageBoxProc MessageBoxProc;
int ShowMessageBox(const WideString& text, const WideString& caption, std::uint32_t flags);

// ---- debugger output -------------------------------------------------------------

void DebugOutput(const WideString& text);
void DebugOutputUtf8(std::string_view text);
// "$" + the thread id in upper-case hexadecimal, 4 digits below 65536, else 8.
std::string ThreadTag();
std::string ThreadTagFor(std::uint32_t threadId);
void DebugLog(std::string_view text);  // ThreadTag + " " + text

// ---- small byte-string helpers --------------------------------------------------
std::size_t StrLenA(const char* s);
char* StrLCopyA(char* dest, const char* source, std::size_t maxLen);
const char* StrRScanA(const char* s, char ch);

// ============================================================================
// Assertions
// ============================================================================

// The handler every failed assertion calls; it must raise. AssertReport (the
// default once the module is initialised) raises the silent exception with
// "Asseertion with message: '<msg>' (<unit>, line: <n>)".
using TAssertHandler = void (*)(const std::string& message, const std::string& unit, int line);
extern TAssertHandler AssertHandler;
using TAssertNotifyProc = void (*)(const std::string& message, const std::string& unit, int line);
extern TAssertNotifyProc AssertNotifyProc;

void AssertReport(const std::string& message, const std::string& unit, int line);
std::string AssertText(const std::string& message, const std::string& unit, int line);
// The unit path of a source file: "ZmLib\Win32\SysObj2" for .../ZmLib/Win32/SysObj2.cpp.
std::string UnitPathOf(const char* file);
[[noreturn]] void AssertFailed(const std::string& message, const char* file, int line);

#define ZM_ASSERT(cond, msg)                                                   \
  do {                                                                         \
    if (!(cond)) ::zm::AssertFailed((msg), __FILE__, __LINE__);                \
  } while (0)
#define ZM_FAIL(msg) ::zm::AssertFailed((msg), __FILE__, __LINE__)

// Module start and end: handlers, the silent class, the last-chance handler.
void InitSysObj2();
void FiniSysObj2();

}  // namespace zm

namespace zm {
// Installs the report of processor faults (access violations and the like):
// the fault's exception text goes to the debugger output and standard error,
// and the process ends with exit code 1. C++ cannot continue after them.
void InstallFaultReport();
}  // namespace zm
