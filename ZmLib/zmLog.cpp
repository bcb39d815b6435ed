#include "ZmLib/zmLog.h"

#include <algorithm>
#include <mutex>
#include <string>

#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Win32/winFileAPI.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpFileStream.h"

namespace zm {

namespace {
TLog* gLog = nullptr;
std::mutex gLogLock;  // guards gLog against a writer taking it while it is replaced
TSystemTime gStartDate;
std::uint32_t gStartMs = 0;

WideString Join(std::span<const std::int32_t> values) {
  WideString s;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i) s += u", ";
    s += IntToStr(values[i]);
  }
  return s;
}

void LogOnce(const WideString& line) {
  if (TRef<TLog> log = GetLogRef()) log->Log(line);
}

// Switches the line tags off while a banner is written and holds the
// log's lock, if it has one, so that no other line lands inside it.
class TBannerScope {
public:
  explicit TBannerScope(TLog* log) : log_(log) {
    if (auto* excl = dynamic_cast<TExclLog*>(log)) lock_ = excl->Lock();
    if (lock_) lock_->Enter();
    threadId_ = log->ShowThreadId.exchange(false);
    time_ = log->ShowTime.exchange(false);
  }
  ~TBannerScope() {
    log_->ShowThreadId.store(threadId_);
    log_->ShowTime.store(time_);
    if (lock_) lock_->Leave();
  }
  TBannerScope(const TBannerScope&) = delete;
  TBannerScope& operator=(const TBannerScope&) = delete;

private:
  TLog* log_;
  TCriticalSection* lock_ = nullptr;
  bool threadId_ = false;
  bool time_ = false;
};
}  // namespace

// ============================================================================
// TLog
// ============================================================================

TLog::TLog() : WriteLine([this](const WideString& line) { WriteText(line); }) {}

void TLog::WriteText(const WideString&) {}

WideString TLog::FormatLine(const WideString& text) const {
  bool withId = ShowThreadId.load(std::memory_order_relaxed);
  bool withTime = ShowTime.load(std::memory_order_relaxed);
  if (!withId && !withTime) return Prefix + text;
  WideString line = Prefix;
  if (withId) {
    line += u'#';
    line += IntToHex(plat::CurrentThreadId(), 4);
    line += u' ';
  }
  if (withTime) {
    line += u'[';
    line += IntToStr(static_cast<std::uint32_t>(GetTimeMs() - gStartMs));
    line += u"] ";
  }
  line += text;
  return line;
}

void TLog::Log(const WideString& text) {
  WideString line = FormatLine(text);
  if (WriteLine) WriteLine(line);
}

void TStdLog::WriteText(const WideString& line) { DebugOutput(line); }

// ============================================================================
// TExclLog, TStreamLog, TFileLog
// ============================================================================

TExclLog::TExclLog() : lock_(MakeRef<TCriticalSection>().Detach()) {}

void TExclLog::Dispose() {
  FreeAndNil(lock_);
  TLog::Dispose();
}

void TExclLog::Log(const WideString& text) {
  TLockScope guard(lock_);
  TLog::Log(text);
}

void TStreamLog::Dispose() {
  CloseStream();
  TExclLog::Dispose();
}

void TStreamLog::WriteText(const WideString& line) {
  if (!stream_) return;
  std::string bytes;
  try {
    if (stream_->GetSize() == 0) bytes = "\xEF\xBB\xBF";
    bytes += plat::ToUtf8(line);
    bytes += "\r\n";
    stream_->Write(TWriteBuffer(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  } catch (const Exception&) {
    // A full disk or a broken stream loses the line, not the program.
  }
}

void TStreamLog::SetStream(TStream* stream, bool owns) {
  TLockScope guard(Lock());
  if (stream == stream_) {
    ownsStream_ = owns;
    return;
  }
  CloseStream();
  stream_ = stream;
  ownsStream_ = stream && owns;
}

void TStreamLog::CloseStream() {
  TCriticalSection* lock = Lock();
  if (lock) lock->Enter();
  TStream* s = stream_;
  bool owned = ownsStream_;
  stream_ = nullptr;
  ownsStream_ = false;
  if (lock) lock->Leave();
  if (owned && s) s->Free();
}

TFileLog::TFileLog(const WideString& fileName, bool append)
    : fileName_(fileName.empty() ? ChangeFileExt(ProgramFile, u".log") : fileName) {
  TFileStream* stream = new TFileStream();
  try {
    if (append) {
      stream->Open(fileName_, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, FILE_SHARE_READ);
      stream->SetPosition(stream->GetSize());
    } else {
      stream->Open(fileName_, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS, FILE_SHARE_READ);
    }
  } catch (const Exception&) {
    stream->Free();
    return;
  }
  SetStream(stream, true);
}

// ============================================================================
// The global log
// ============================================================================

TLogLineProc LogLineProc = nullptr;

TLog* GetLog() {
  std::lock_guard<std::mutex> guard(gLogLock);
  return gLog;
}

TRef<TLog> GetLogRef() {
  std::lock_guard<std::mutex> guard(gLogLock);
  return TRef<TLog>(gLog);
}

void SetLog(TLog* newLog) {
  if (!newLog) newLog = new TLog();
  TLog* old;
  {
    std::lock_guard<std::mutex> guard(gLogLock);
    old = gLog;
    if (old == newLog) return;
    gLog = newLog;
  }
  if (old) old->ReleaseRef();
}

void LogLine(const WideString& text) { LogOnce(text); }

void LogInt(const WideString& text, std::int64_t value, const WideString& suffix) {
  LogOnce(text + IntToStr(value) + suffix);
}

void LogFloat(const WideString& text, double value, const WideString& suffix) {
  LogOnce(text + FloatToStrDigits(value, 16) + suffix);
}

void LogBool(const WideString& text, bool value, const WideString& suffix) {
  LogOnce(text + (value ? u"True" : u"False") + suffix);
}

void LogInts(const WideString& text, std::span<const std::int32_t> values, const WideString& suffix) {
  LogOnce(text + Join(values) + suffix);
}

void LogFloats(const WideString& text, std::span<const double> values, const WideString& suffix) {
  WideString s;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i) s += u", ";
    s += FloatToStrDigits(values[i], 16);
  }
  LogOnce(text + s + suffix);
}

void LogPoint(const WideString& text, const TPoint& p, const WideString& suffix) {
  const std::int32_t v[] = {p.X, p.Y};
  LogOnce(text + Join(v) + suffix);
}

void LogRect(const WideString& text, const TRect& r, const WideString& suffix) {
  const std::int32_t v[] = {r.Left, r.Top, r.Right, r.Bottom};
  LogOnce(text + Join(v) + suffix);
}

void LogStartTime(std::uint32_t& t) { t = GetTimeMs(); }

void LogElapsed(const WideString& text, std::uint32_t t, const WideString& suffix) {
  LogOnce(text + IntToStr(static_cast<std::uint32_t>(GetTimeMs() - t)) + suffix);
}

const TSystemTime& LogStartDate() { return gStartDate; }
std::uint32_t LogStartMs() { return gStartMs; }

void WriteStartBanner(TLog* log) {
  if (!log) return;
  TBannerScope scope(log);
  const WideString rule(64, u'=');
  log->Log(u"");
  log->Log(rule);
  // The path as the system writes it, with "/" between folders.
  WideString program = ProgramFile;
  std::replace(program.begin(), program.end(), u'\\', u'/');
  log->Log(u"Program : " + program);
  log->Log(u"started : " + SystemTimeToStr(gStartDate));
  log->Log(rule);
}

void WriteStopBanner(TLog* log) {
  if (!log) return;
  TBannerScope scope(log);
  const WideString rule(64, u'-');
  TSystemTime now;
  WinGetLocalTime(now);
  std::uint32_t work = GetTimeMs() - gStartMs;
  log->Log(u"");
  log->Log(rule);
  log->Log(u"Program stoped : " + SystemTimeToStr(now) + u" (work time : " + IntToStr(work) + u" ms)");
  log->Log(rule);
}

void InitLog() {
  WinGetLocalTime(gStartDate);
  gStartMs = GetTimeMs();
  LogLineProc = &LogLine;
  SetLog(nullptr);
}

void FiniLog() {
  LogLineProc = nullptr;
  TLog* old;
  {
    std::lock_guard<std::mutex> guard(gLogLock);
    old = gLog;
    gLog = nullptr;
  }
  if (old) old->ReleaseRef();
}

}  // namespace zm
