#pragma once
// The log: one global log object receives the diagnostic lines of every
// module. It is silent unless the program installs a debugger-output log
// (TStdLog) or a file log (TFileLog). Lines may carry the thread id and the
// milliseconds since start; start and stop banners frame a run.
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>

#include "ZmLib/Win32/SysLocks.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmStream.h"
#include "ZmLib/zmTypes.h"

namespace zm {

class TLog : public TRefObject {
public:
  // Receives each finished line; points at the object's own WriteText.
  using TWriteLineProc = std::function<void(const WideString& line)>;

  TLog();

  // Does nothing here: a plain TLog is silent.
  virtual void WriteText(const WideString& line);
  // Prefix, then "#" + thread id + " " and "[" + ms + "] " when enabled,
  // then the text; the line goes to WriteLine.
  virtual void Log(const WideString& text);

  TWriteLineProc WriteLine;
  // Set while the log is installed, before other threads write to it.
  WideString Prefix;
  std::atomic<bool> ShowThreadId{false};
  std::atomic<bool> ShowTime{false};

  // The line Log would make of text (without handing it on).
  WideString FormatLine(const WideString& text) const;
};

// Writes to the debugger output, which is safe from any thread.
class TStdLog : public TLog {
public:
  void WriteText(const WideString& line) override;
};

// Serialises Log with its critical section: lines from several threads
// never interleave.
class TExclLog : public TLog {
public:
  TExclLog();
  void Dispose() override;
  void Log(const WideString& text) override;
  TCriticalSection* Lock() const { return lock_; }

private:
  TCriticalSection* lock_ = nullptr;
};

// Writes each line as UTF-8 followed by CR LF at the stream's position,
// with the UTF-8 byte-order mark first when the stream is empty.
class TStreamLog : public TExclLog {
public:
  void Dispose() override;  // CloseStream, then the inherited one
  void WriteText(const WideString& line) override;
  // Attaches the stream; a stream attached before is closed first (freed
  // only when the log owned it).
  void SetStream(TStream* stream, bool owns);
  // Frees the stream when the log owns it, and forgets it.
  virtual void CloseStream();
  TStream* Stream() const { return stream_; }
  bool OwnsStream() const { return ownsStream_; }

private:
  TStream* stream_ = nullptr;
  bool ownsStream_ = false;
};

// The file log: an empty name means the program's path with the extension
// ".log". Append opens (or creates) the file and writes at its end;
// otherwise the file is created anew. A file that cannot be opened leaves
// the log without a stream (silent): logging never stops the program.
class TFileLog : public TStreamLog {
public:
  TFileLog(const WideString& fileName, bool append);
  const WideString& FileName() const { return fileName_; }

private:
  WideString fileName_;
};

// ---- The global log ------------------------------------------------------------

// The current log (never nil between the module's start and end). The
// pointer is valid until the log is replaced; LogLine holds a reference of
// its own while it writes, so replacing the log never pulls it from under a
// writer.
TLog* GetLog();
TRef<TLog> GetLogRef();
// Nil installs a new silent TLog; another object replaces the current one,
// which is released. The log takes over the caller's reference.
void SetLog(TLog* newLog);

// The line procedure other modules call; nil before the module starts.
using TLogLineProc = void (*)(const WideString& text);
extern TLogLineProc LogLineProc;
void LogLine(const WideString& text);

// Each builds Text + value + Suffix and logs it once.
void LogInt(const WideString& text, std::int64_t value, const WideString& suffix = {});
void LogFloat(const WideString& text, double value, const WideString& suffix = {});  // 16 decimals
void LogBool(const WideString& text, bool value, const WideString& suffix = {});     // "True", "False"
void LogInts(const WideString& text, std::span<const std::int32_t> values, const WideString& suffix = {});
void LogFloats(const WideString& text, std::span<const double> values, const WideString& suffix = {});
void LogPoint(const WideString& text, const TPoint& p, const WideString& suffix = {});
void LogRect(const WideString& text, const TRect& r, const WideString& suffix = {});
void LogStartTime(std::uint32_t& t);
void LogElapsed(const WideString& text, std::uint32_t t, const WideString& suffix = {});

// The local date and time and the clock when the module started.
const TSystemTime& LogStartDate();
std::uint32_t LogStartMs();

// The start banner names the program by its path with "/" between folders.
void WriteStartBanner(TLog* log);
void WriteStopBanner(TLog* log);

void InitLog();
void FiniLog();

}  // namespace zm
