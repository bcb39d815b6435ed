#pragma once
// System services of the stand-in layer: clock, threads, program identity,
// command line, debugger output, local time, OS error codes, environment.
// Headers here use standard types only.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// ---- Millisecond clock ----------------------------------------------------
// The 32-bit millisecond count that stands in for the multimedia timer. It
// wraps after about 49.7 days; callers subtract in uint32_t.
using TTimeSource = std::uint32_t (*)();
std::uint32_t TickCount32();
// Replaces the time source (tests use a manual clock); returns the previous
// one. nullptr restores the steady clock.
TTimeSource SetTimeSource(TTimeSource source);
// False while another time source is installed: time-outs measured on
// TickCount32 then cannot sleep their whole length, as the clock moves only
// when its owner moves it.
bool TimeSourceIsSteady();

// A manual clock for tests: TickCount32() answers Now() while installed.
class TManualClock {
public:
  explicit TManualClock(std::uint32_t start = 0);
  ~TManualClock();
  TManualClock(const TManualClock&) = delete;
  TManualClock& operator=(const TManualClock&) = delete;
  void Advance(std::uint32_t ms);
  void Set(std::uint32_t ms);
  std::uint32_t Now() const;
private:
  TTimeSource previous_;
};

// ---- Threads --------------------------------------------------------------
std::uint32_t CurrentThreadId();  // kernel thread id
int ProcessorCount();             // processors this process may use, at least 1
std::int64_t PhysicalMemoryBytes();  // the machine's memory; 0 when unknown
void SleepMs(std::uint32_t ms);   // 0 yields
// Best-effort niceness for a Windows-style priority step (-2..2, -15, 15).
void SetCurrentThreadNice(int windowsPriority);
// Whether a thread of this process that lowers its priority may raise it
// back to normal (an ordinary user's process may not).
bool MayRaiseThreadPriority();

// ---- Program identity -----------------------------------------------------
std::string ProgramPath();  // UTF-8 path of the running executable
// Records argv at start-up; CommandLine() rebuilds one text from it.
void SetArguments(int argc, const char* const* argv);
const std::vector<std::string>& Arguments();
std::string CommandLine();
std::string QuoteArgument(std::string_view arg);

// ---- Debugger output ------------------------------------------------------
// One line of UTF-8 text per call; the default writes it to standard error.
using TDebugOutputHook = std::function<void(std::string_view)>;
void DebugOutput(std::string_view utf8);
TDebugOutputHook SetDebugOutputHook(TDebugOutputHook hook);

bool StdErrIsTerminal();
void WriteStdErr(std::string_view utf8);  // raw, no line end added
void FlushStdOut();

// ---- Outputs the user asked for -------------------------------------------
// An output the user asked for (the sound recording, the capture folder)
// cannot be written: the line (UTF-8, line end added) goes to standard
// error the first time Output fails, never again for it, and the program
// is to end with status 1 (OutputFailed). Any thread.
void ReportOutputFailure(std::string_view output, std::string_view line);
bool OutputFailed();
// "<what>: cannot write <file>: <the system's reason>" for OS error Code.
std::string CannotWriteText(std::string_view what, std::string_view file, int code);

// ---- Local time -----------------------------------------------------------
struct TLocalTime {
  std::uint16_t Year, Month, DayOfWeek, Day, Hour, Minute, Second, Milliseconds;
};
TLocalTime LocalTimeNow();

// ---- OS errors ------------------------------------------------------------
// The thread's last OS error (errno of the last failing platform call).
int LastOSError();
void SetLastOSError(int code);
std::string OSErrorText(int code);  // system text, empty when unknown

// ---- Environment, identity of code, randomness ----------------------------
// Value of an environment variable; exact name first, then ignoring ASCII case.
bool GetEnv(std::string_view name, std::string& value);
// A variable holding a decimal number; -1 when unset or not a number.
std::int64_t GetEnvNumber(std::string_view name);
void RandomBytes(void* buffer, std::size_t count);
// Demangled C++ type name of a typeid name.
std::string DemangleTypeName(const char* mangled);
// The file of the module that holds an address and the module's base address.
bool ModuleOfAddress(const void* address, std::string& file, std::uintptr_t& base);

// ---- Shared libraries -----------------------------------------------------
void* LoadLibrary(const std::string& path);  // nullptr on failure
void* LibrarySymbol(void* library, const char* name);
void FreeLibrary(void* library);

// ---- Fatal signals --------------------------------------------------------
// Reports a processor fault (access violation and the like) through the
// given function, then ends the process with exit code 1.
enum class TFaultKind { AccessViolation, Arithmetic, IllegalInstruction };
using TFaultReporter = void (*)(TFaultKind kind, const void* codeAddress, const void* dataAddress);
void InstallFaultHandler(TFaultReporter reporter);
void UninstallFaultHandler();

}  // namespace plat
