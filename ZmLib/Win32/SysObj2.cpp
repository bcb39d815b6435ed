#include "ZmLib/Win32/SysObj2.h"

#include <cstdio>
#include <cstring>
#include <typeinfo>

#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"

namespace zm {

namespace {

std::string StripNamespace(std::string name) {
  // "zm::TFoo" -> "TFoo"; template arguments keep their own qualifiers.
  std::size_t lt = name.find('<');
  std::size_t scope = name.rfind("::", lt == std::string::npos ? std::string::npos : lt);
  if (scope != std::string::npos) name.erase(0, scope + 2);
  return name;
}

std::string TypeName(const std::type_info& t) { return StripNamespace(plat::DemangleTypeName(t.name())); }

std::string Hex(std::uint64_t v, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*llX", digits, static_cast<unsigned long long>(v));
  return buf;
}

}  // namespace

// ============================================================================
// TRefObject
// ============================================================================

TRefObject::TRefObject() noexcept : refCount_(1), flags_(kCreated) {}

TRefObject::~TRefObject() = default;

void TRefObject::Dispose() { flags_ |= kDisposed; }

void TRefObject::AfterConstruction() {
  if (RefCount() < 1) ZM_FAIL("No Inherited Create call at " + ClassName());
  flags_ |= kVerified;
}

std::int32_t TRefObject::AddRef() noexcept { return refCount_.fetch_add(1, std::memory_order_relaxed) + 1; }

std::int32_t TRefObject::ReleaseRef() {
  std::int32_t n = refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (n != 0) return n;
  refCount_.store(1, std::memory_order_relaxed);
  Free();
  return 0;
}

void TRefObject::Free() {
  std::int32_t n = refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (n >= 1) return;
  if (n < 0) {
    // Freed again while it is being disposed: report it, and never dispose
    // or release the memory a second time.
    ZM_FAIL("Dupliacte free or _release at " + ClassName());
  }
  auto finish = [this] {
    if (!(flags_ & kCreated)) DebugOutputUtf8("Error: inherited " + ClassName() + ".Create not called!");
    if (!(flags_ & kDisposed)) DebugOutputUtf8("Error: inherited " + ClassName() + ".Dispose not called!");
    delete this;
  };
  try {
    Dispose();
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

std::string TRefObject::ClassName() const { return TypeName(typeid(*this)); }

void ReportSwallowedException() noexcept {
  try {
    throw;
  } catch (const std::exception& e) {
    try {
      if (!IsSilentException(e)) DebugLog("Exception in destructor: " + std::string(e.what()));
    } catch (...) {
    }
  } catch (...) {
  }
}

// ============================================================================
// Exceptions
// ============================================================================

Exception::Exception(std::string message) : message_(std::move(message)), address_(__builtin_return_address(0)) {}

std::string Exception::ClassName() const { return TypeName(typeid(*this)); }

void TCommonException::InitMessage(const char* className) {
  SetMessage(std::string("Tavrel Exception: \"") + className + "\"");
}

namespace {
const char* IoErrorText(std::int32_t code) {
  switch (code) {
    case 2: return "File not found";
    case 3: return "Invalid filename";
    case 4: return "Too many open files";
    case 5: return "File access denied";
    case 100: return "Read beyond end of file";
    case 101: return "Disk full";
    case 106: return "Invalid numeric input";
    default: return nullptr;
  }
}
}  // namespace

EInOutError::EInOutError(std::int32_t ioCode)
    : ERunTimeError(IoErrorText(ioCode) ? std::string(IoErrorText(ioCode))
                                        : FormatPrintf("I/O error %d", {ioCode}),
                    ioCode) {}

// ---- FormatPrintf ---------------------------------------------------------------

std::string FormatPrintf(std::string_view fmt, std::initializer_list<TFmtArg> args) {
  constexpr std::size_t kMax = 2048;
  std::string out;
  const TFmtArg* arg = args.begin();
  const TFmtArg* end = args.end();
  std::size_t i = 0;
  while (i < fmt.size() && out.size() < kMax) {
    char c = fmt[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    std::size_t start = i++;
    if (i < fmt.size() && fmt[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    std::string spec = "%";
    while (i < fmt.size() && std::strchr("-+ #0", fmt[i])) spec += fmt[i++];
    auto digits = [&](bool allowStar) {
      if (allowStar && i < fmt.size() && fmt[i] == '*') {
        ++i;
        long long w = 0;
        if (arg != end) {
          if (auto p = std::get_if<std::int64_t>(&arg->Value)) w = *p;
          else if (auto q = std::get_if<std::uint64_t>(&arg->Value)) w = static_cast<long long>(*q);
          ++arg;
        }
        if (w < 0) w = 0;
        if (w > 1024) w = 1024;
        spec += std::to_string(w);
        return;
      }
      std::size_t n = 0;
      while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9' && n < 4) spec += fmt[i++], ++n;
      while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') ++i;  // absurd widths are cut
    };
    digits(true);
    if (i < fmt.size() && fmt[i] == '.') {
      spec += fmt[i++];
      digits(true);
    }
    while (i < fmt.size() && std::strchr("hlLqjzt", fmt[i])) ++i;  // sizes come from the value
    if (i >= fmt.size()) {
      out.append(fmt.substr(start));
      break;
    }
    char conv = fmt[i++];
    std::string piece;
    // Formats one value; the piece is as long as it needs to be.
    auto put = [&piece](const std::string& f, auto value) {
      int n = std::snprintf(nullptr, 0, f.c_str(), value);
      if (n <= 0) return;
      piece.resize(static_cast<std::size_t>(n) + 1);
      std::snprintf(piece.data(), piece.size(), f.c_str(), value);
      piece.resize(static_cast<std::size_t>(n));
    };
    const TFmtArg* a = (arg != end) ? arg++ : nullptr;
    if (!a) continue;
    const auto& v = a->Value;
    switch (conv) {
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X':
      case 'c': {
        long long iv = 0;
        if (auto p = std::get_if<std::int64_t>(&v)) iv = *p;
        else if (auto q = std::get_if<std::uint64_t>(&v)) iv = static_cast<long long>(*q);
        else if (auto d = std::get_if<double>(&v)) iv = static_cast<long long>(*d);
        else if (auto pp = std::get_if<const void*>(&v)) iv = static_cast<long long>(reinterpret_cast<std::uintptr_t>(*pp));
        else break;
        if (conv == 'c') {
          put(spec + "c", static_cast<int>(iv & 0xFF));
        } else if (conv == 'd' || conv == 'i') {
          put(spec + "lld", iv);
        } else {
          // Windows-style 32-bit values print as 32 bits.
          unsigned long long uv = static_cast<unsigned long long>(iv);
          if (std::holds_alternative<std::int64_t>(v) && iv >= INT32_MIN && iv <= INT32_MAX)
            uv = static_cast<std::uint32_t>(iv);
          put(spec + "ll" + conv, uv);
        }
        break;
      }
      case 'e':
      case 'E':
      case 'f':
      case 'g':
      case 'G': {
        double dv = 0;
        if (auto d = std::get_if<double>(&v)) dv = *d;
        else if (auto p = std::get_if<std::int64_t>(&v)) dv = static_cast<double>(*p);
        else if (auto q = std::get_if<std::uint64_t>(&v)) dv = static_cast<double>(*q);
        else break;
        put(spec + conv, dv);
        break;
      }
      case 's': {
        if (auto s = std::get_if<std::string>(&v)) {
          put(spec + "s", s->c_str());
        }
        break;
      }
      case 'p': {
        const void* p = nullptr;
        if (auto pp = std::get_if<const void*>(&v)) p = *pp;
        else if (auto q = std::get_if<std::uint64_t>(&v)) p = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(*q));
        else if (auto r = std::get_if<std::int64_t>(&v)) p = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(*r));
        else break;
        put(std::string("%08llX"), static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)));
        break;
      }
      default:
        break;
    }
    out += piece;
  }
  if (out.size() > kMax) out.resize(kMax);
  return out;
}

// ---- OS and run-time errors ------------------------------------------------------

std::string SysErrorMessage(std::int32_t code) {
  std::string s = plat::OSErrorText(code);
  if (s.size() > 256) s.resize(256);
  while (!s.empty() && (static_cast<unsigned char>(s.back()) <= 32 || s.back() == '.')) s.pop_back();
  return s;
}

void RaiseOSError(std::int32_t code) {
  if (code != 0)
    throw EOSError(FormatPrintf("System Error.  Code: %d.\r\n%s", {code, SysErrorMessage(code)}), code);
  throw EOSError("A call to an OS function failed", 0);
}

void RaiseLastOSError() { RaiseOSError(plat::LastOSError()); }

std::exception_ptr RunTimeErrorException(int number, std::int32_t ioCode, std::uint32_t externalCode) {
  static const char* const kVariant[] = {"Invalid variant type conversion",
                                         "Invalid variant operation",
                                         "Variant method calls not supported",
                                         "Error creating variant or safe array",
                                         "Invalid argument",
                                         "Variant or safe array index out of bounds"};
  switch (number) {
    case 1: return std::make_exception_ptr(EOutOfMemory("Out of memory"));
    case 2: return std::make_exception_ptr(EInvalidPointer("Invalid pointer operation"));
    case 3: return std::make_exception_ptr(EDivByZero("Division by zero"));
    case 4: return std::make_exception_ptr(ERangeError("Range check error"));
    case 5: return std::make_exception_ptr(EIntOverflow("Integer overflow"));
    case 6: return std::make_exception_ptr(EInvalidOp("Invalid floating point operation"));
    case 7: return std::make_exception_ptr(EZeroDivide("Floating point division by zero"));
    case 8: return std::make_exception_ptr(EOverflow("Floating point overflow"));
    case 9: return std::make_exception_ptr(EUnderflow("Floating point underflow"));
    case 10: return std::make_exception_ptr(EInvalidCast("Invalid class typecast"));
    case 11: return std::make_exception_ptr(EAccessViolation("Access violation"));
    case 12: return std::make_exception_ptr(EPrivilege("Privileged instruction"));
    case 13: return std::make_exception_ptr(EControlC("Control-C hit"));
    case 14: return std::make_exception_ptr(EStackOverflow("Stack overflow"));
    case 15: case 16: case 17: case 18: case 19: case 20:
      return std::make_exception_ptr(EVariantError(kVariant[number - 15]));
    case 21: return std::make_exception_ptr(EAssertionFailed("Assertion failed"));
    case 22:
      return std::make_exception_ptr(EExternalException(FormatPrintf("External exception %x", {externalCode}),
                                                        static_cast<std::int32_t>(externalCode)));
    case 23: return std::make_exception_ptr(EIntfCastError("Interface not supported"));
    default: return std::make_exception_ptr(EInOutError(ioCode));
  }
}

int OSExceptionCodeToErrorNumber(std::uint32_t code) {
  switch (code) {
    case 0xC0000094: return 3;   // integer divide by zero
    case 0xC000008C: return 4;   // array bounds exceeded
    case 0xC0000095: return 5;   // integer overflow
    case 0xC0000092:             // float stack check
    case 0xC000008F:             // float inexact result
    case 0xC0000090: return 6;   // float invalid operation
    case 0xC000008E: return 7;   // float divide by zero
    case 0xC0000091: return 8;   // float overflow
    case 0xC000008D:             // float denormal operand
    case 0xC0000093: return 9;   // float underflow
    case 0xC0000005: return 11;  // access violation
    case 0xC0000096: return 12;  // privileged instruction
    case 0xC000013A: return 13;  // control-C exit
    case 0xC00000FD: return 14;  // stack overflow
    default: return 22;
  }
}

std::string AccessViolationMessage(const void* codeAddress, std::string_view moduleName, bool write,
                                   const void* dataAddress) {
  const char* rw = write ? "Write" : "Read";
  if (!moduleName.empty())
    return FormatPrintf("Access violation at address %p in module '%s'. %s of address %p",
                        {codeAddress, std::string(moduleName), rw, dataAddress});
  return FormatPrintf("Access violation at address %p. %s of address %p", {codeAddress, rw, dataAddress});
}

void AbstractError() { throw EAbstractError("Abstract Error"); }

// ---- Reports -----------------------------------------------------------------------

TSilentExceptionClass SilentExceptionClass = nullptr;

bool IsSilentException(const std::exception& e) {
  TSilentExceptionClass f = SilentExceptionClass;
  if (!f) return dynamic_cast<const EAbort*>(&e) != nullptr;
  return f(e);
}

namespace {
bool IsEAbort(const std::exception& e) { return dynamic_cast<const EAbort*>(&e) != nullptr; }

void ModuleAndOffset(const void* address, std::string& module, std::uint64_t& shown) {
  std::string file;
  std::uintptr_t base = 0;
  shown = reinterpret_cast<std::uintptr_t>(address);
  if (plat::ModuleOfAddress(address, file, base)) {
    shown = reinterpret_cast<std::uintptr_t>(address) - base;
  } else {
    file = plat::ProgramPath();
  }
  std::size_t cut = file.find_last_of("/\\");
  module = cut == std::string::npos ? file : file.substr(cut + 1);
}
}  // namespace

std::string ExceptionErrorMessage(const std::exception* obj, const void* address, std::size_t size) {
  std::string module;
  std::uint64_t shown = 0;
  ModuleAndOffset(address, module, shown);
  std::string text;
  if (const auto* e = dynamic_cast<const Exception*>(obj)) {
    text = "Exception " + e->ClassName() + "  in module " + module + " at " + Hex(shown, 8) + ".\r\n" +
           e->Message() + ".\r\n";
  } else {
    std::string cls = obj ? TypeName(typeid(*obj)) : std::string("Exception");
    text = "Exception " + cls + "  in module " + module + " at " + Hex(shown, 8);
  }
  if (text.size() > size) text.resize(size);
  return text;
}

namespace {
int DefaultMessageBox(const WideString& text, const WideString& caption, std::uint32_t flags) {
  std::string line = plat::ToUtf8(caption) + ": " + plat::ToUtf8(text);
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  plat::WriteStdErr(line + "\n");
  switch (flags & 0xF) {
    case MB_YESNO: return IDYES;
    default: return IDOK;
  }
}
}  // namespace

TMessageBoxProc MessageBoxProc = &DefaultMessageBox;

int ShowMessageBox(const WideString& text, const WideString& caption, std::uint32_t flags) {
  TMessageBoxProc p = MessageBoxProc ? MessageBoxProc : &DefaultMessageBox;
  return p(text, caption, flags);
}

void ShowException(const std::exception* obj, const void* address) {
  if (obj && IsSilentException(*obj)) return;
  std::string text = ExceptionErrorMessage(obj, address, 1024);
  if (plat::StdErrIsTerminal()) {
    plat::FlushStdOut();
    plat::WriteStdErr(text + "\r\n");
    return;
  }
  DebugOutputUtf8(text);
  ShowMessageBox(plat::FromUtf8(text), u"Application Error", MB_OK | MB_ICONHAND | MB_TASKMODAL);
}

void ShowCurrentException() noexcept {
  try {
    throw;
  } catch (const Exception& e) {
    try { ShowException(&e, e.Address()); } catch (...) {}
  } catch (const std::exception& e) {
    try { ShowException(&e, nullptr); } catch (...) {}
  } catch (...) {
  }
}

const std::exception* ExceptObject() noexcept {
  // The handled exception lives as long as the catch block that asks.
  if (!std::current_exception()) return nullptr;
  try {
    throw;
  } catch (const std::exception& e) {
    return &e;
  } catch (...) {
    return nullptr;
  }
}

const void* ExceptAddr() noexcept {
  const auto* e = dynamic_cast<const Exception*>(ExceptObject());
  return e ? e->Address() : nullptr;
}

// ---- Debugger output --------------------------------------------------------------------

void DebugOutput(const WideString& text) { plat::DebugOutput(plat::ToUtf8(text)); }
void DebugOutputUtf8(std::string_view text) { plat::DebugOutput(text); }

std::string ThreadTagFor(std::uint32_t id) {
  // Not "$" + Hex(...): GCC 12 warns falsely (-Wrestrict) on a literal before a temporary.
  std::string tag(1, '$');
  tag += Hex(id, id < 65536 ? 4 : 8);
  return tag;
}
std::string ThreadTag() { return ThreadTagFor(plat::CurrentThreadId()); }
void DebugLog(std::string_view text) { DebugOutputUtf8(ThreadTag() + " " + std::string(text)); }

std::size_t StrLenA(const char* s) { return s ? std::strlen(s) : 0; }

char* StrLCopyA(char* dest, const char* source, std::size_t maxLen) {
  std::size_t i = 0;
  if (source)
    for (; i < maxLen && source[i]; ++i) dest[i] = source[i];
  dest[i] = '\0';
  return dest;
}

const char* StrRScanA(const char* s, char ch) { return s ? std::strrchr(s, ch) : nullptr; }

// ============================================================================
// Assertions
// ============================================================================

std::string AssertText(const std::string& message, const std::string& unit, int line) {
  return "Asseertion with message: '" + message + "' (" + unit + ", line: " + std::to_string(line) + ")";
}

TAssertNotifyProc AssertNotifyProc = nullptr;

void AssertReport(const std::string& message, const std::string& unit, int line) {
  std::string text = AssertText(message, unit, line);
  EAbort silent(text);
  DebugOutputUtf8(text);
  if (AssertNotifyProc) AssertNotifyProc(message, unit, line);
  throw silent;
}

namespace {
// Before the module starts: the same text, shown in a message box too.
void DefaultAssertHandler(const std::string& message, const std::string& unit, int line) {
  std::string text = AssertText(message, unit, line);
  DebugOutputUtf8(text);
  ShowMessageBox(plat::FromUtf8(text), u"Error", MB_OK | MB_ICONHAND);
  throw EAbort(text);
}

TAssertHandler gSavedAssertHandler = nullptr;
std::terminate_handler gSavedTerminate = nullptr;

[[noreturn]] void LastChanceHandler() {
  if (std::exception_ptr p = std::current_exception()) {
    try {
      std::rethrow_exception(p);
    } catch (...) {
      ShowCurrentException();
    }
  }
  std::_Exit(1);
}
}  // namespace

TAssertHandler AssertHandler = &DefaultAssertHandler;

std::string UnitPathOf(const char* file) {
  std::string f = file ? file : "";
  for (char& c : f)
    if (c == '\\') c = '/';
  static const char* const kRoots[] = {"/ZmLib/", "/OruLib2/", "/Oru/", "/Platform/", "/Plugins/", "/tests/",
                                       "/tools/", "/bench/", "/fuzz/"};
  std::size_t best = std::string::npos;
  for (const char* r : kRoots) {
    std::size_t p = f.rfind(r);
    if (p != std::string::npos && (best == std::string::npos || p < best)) best = p;
  }
  if (best != std::string::npos) f.erase(0, best + 1);
  std::size_t dot = f.rfind('.');
  std::size_t slash = f.rfind('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) f.erase(dot);
  for (char& c : f)
    if (c == '/') c = '\\';
  return f;
}

void AssertFailed(const std::string& message, const char* file, int line) {
  std::string unit = UnitPathOf(file);
  TAssertHandler h = AssertHandler ? AssertHandler : &DefaultAssertHandler;
  h(message, unit, line);
  // A handler must raise; make sure the operation never goes on.
  throw EAbort(AssertText(message, unit, line));
}

void InitSysObj2() {
  SilentExceptionClass = &IsEAbort;
  gSavedAssertHandler = AssertHandler;
  AssertHandler = &AssertReport;
  gSavedTerminate = std::set_terminate(&LastChanceHandler);
}

void FiniSysObj2() {
  std::set_terminate(gSavedTerminate);
  AssertHandler = gSavedAssertHandler ? gSavedAssertHandler : &DefaultAssertHandler;
  SilentExceptionClass = nullptr;
}

}  // namespace zm

namespace zm {

namespace {
void ReportFault(plat::TFaultKind kind, const void* code, const void* data) {
  std::string text;
  switch (kind) {
    case plat::TFaultKind::AccessViolation: {
      std::string file;
      std::uintptr_t base = 0;
      std::string module;
      if (plat::ModuleOfAddress(code, file, base)) module = file.substr(file.find_last_of('/') + 1);
      text = "Exception EAccessViolation.\r\n" + AccessViolationMessage(code, module, false, data);
      break;
    }
    case plat::TFaultKind::Arithmetic:
      text = "Exception EDivByZero.\r\nDivision by zero";
      break;
    case plat::TFaultKind::IllegalInstruction:
      text = "Exception EPrivilege.\r\nPrivileged instruction";
      break;
  }
  plat::WriteStdErr(text + "\r\n");
}
}  // namespace

void InstallFaultReport() { plat::InstallFaultHandler(&ReportFault); }

}  // namespace zm
