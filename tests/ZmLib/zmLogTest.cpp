#include "ZmLib/zmLog.h"

#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <vector>

#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpFileStream.h"
#include "tests/support/Capture.h"
#include "tests/support/TempDir.h"

using namespace zm;

namespace {

// A log that keeps its lines and notes when it is disposed.
class TRecordingLog : public TLog {
public:
  explicit TRecordingLog(bool* disposed = nullptr) : disposed_(disposed) {}
  void WriteText(const WideString& line) override { Lines.push_back(plat::ToUtf8(line)); }
  void Dispose() override {
    if (disposed_) *disposed_ = true;
    TLog::Dispose();
  }
  std::vector<std::string> Lines;

private:
  bool* disposed_;
};

std::string StreamText(TMemoryStream& s) {
  return std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.GetSize()));
}

}  // namespace

TEST(Log, LineTags) {
  plat::TManualClock clock(50000);
  TRef<TRecordingLog> log = MakeRef<TRecordingLog>();
  log->Prefix = u"P: ";
  log->ShowThreadId = true;
  log->Log(u"x");
  log->ShowThreadId = false;
  log->ShowTime = true;
  std::uint32_t base = GetTimeMs() - LogStartMs();
  clock.Advance(1234);
  log->Log(u"b");
  log->ShowThreadId = true;
  log->Log(u"c");
  // Thread ids: "#", at least four upper-case hexadecimal digits, a blank; then the time.
  EXPECT_EQ(IntToHexA(0x1A2B, 4), "1A2B");
  const std::string tag = "#" + IntToHexA(plat::CurrentThreadId(), 4) + " ", ms = std::to_string(base + 1234);
  EXPECT_EQ(log->Lines,
            (std::vector<std::string>{"P: " + tag + "x", "P: [" + ms + "] b", "P: " + tag + "[" + ms + "] c"}));
  zmtest::TDebugCapture capture;
  TRef<TStdLog> out = MakeRef<TStdLog>();
  out->Log(u"gr\u00FC\u00DF \U0001F600");
  EXPECT_EQ(capture.Lines(), std::vector<std::string>{"gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80"});
}

TEST(Log, StreamLogMarkOwnershipAndFailures) {
  TRef<TMemoryStream> stream = MakeRef<TMemoryStream>();
  TRef<TStreamLog> log = MakeRef<TStreamLog>();
  log->SetStream(stream.get(), false);
  log->Log(u"one");
  log->Log(u"\u00E9");
  const std::string written = "\xEF\xBB\xBFone\r\n\xC3\xA9\r\n";
  EXPECT_EQ(StreamText(*stream), written);
  // A stream that already holds text gets no second mark.
  TRef<TMemoryStream> old = MakeRef<TMemoryStream>();
  old->WriteAnsiString("earlier\r\n");
  TRef<TStreamLog> log2 = MakeRef<TStreamLog>();
  log2->SetStream(old.get(), false);
  log2->Log(u"later");
  EXPECT_EQ(StreamText(*old), "earlier\r\nlater\r\n");
  // An owned stream is freed when replaced (ASan would report a leak otherwise); an unowned one never.
  std::int32_t refs = stream->RefCount();
  log->SetStream(MakeRef<TMemoryStream>().Detach(), true);
  EXPECT_EQ(stream->RefCount(), refs);
  log->SetStream(stream.get(), false);
  log->CloseStream();
  EXPECT_EQ(stream->RefCount(), refs);
  log->Log(u"lost");  // no stream: nothing written, nothing raised
  EXPECT_EQ(StreamText(*stream), written);
  class TBrokenStream : public TMemoryStream {
  public:
    std::int32_t Write(TWriteBuffer, std::int32_t, std::int32_t) override { throw EStreamWriteError(); }
  };
  TRef<TBrokenStream> broken = MakeRef<TBrokenStream>();
  log->SetStream(broken.get(), false);
  EXPECT_NO_THROW(log->Log(u"disk full"));
}

TEST(Log, FileLogBesideTheProgram) {
  zmtest::TTempDir dir;
  WideString savedProgram = ProgramFile;
  ProgramFile = u"C:\\A\\play.exe";
  {
    // No such folder here: the name is still the program's, and the log is silent.
    TRef<TFileLog> log = MakeRef<TFileLog>(u"", false);
    EXPECT_EQ(log->FileName(), u"C:\\A\\play.log");
    EXPECT_NO_THROW(log->Log(u"nowhere"));
  }
  ProgramFile = dir.Wide("play.exe");
  MakeRef<TFileLog>(u"", false)->Log(u"first");
  ProgramFile = savedProgram;
  EXPECT_EQ(dir.Read("play.log"), "\xEF\xBB\xBF" "first\r\n");
  // Appending keeps the text and adds no second mark.
  MakeRef<TFileLog>(dir.Wide("play.log"), true)->Log(u"second");
  EXPECT_EQ(dir.Read("play.log"), "\xEF\xBB\xBF" "first\r\nsecond\r\n");
}

TEST(Log, Banners) {
  TRef<TRecordingLog> log = MakeRef<TRecordingLog>();
  log->Prefix = u"> ";
  log->ShowThreadId = true;
  log->ShowTime = true;
  // The program's path as the system writes it, not in the "\" form kept for paths.
  const WideString savedProgram = ProgramFile;
  ProgramFile = u"\\opt\\show\\play";
  WriteStartBanner(log.get());
  ProgramFile = savedProgram;
  // Untagged, and the tags are back on afterwards.
  EXPECT_TRUE(log->ShowThreadId && log->ShowTime);
  const std::string rule = "> " + std::string(64, '=');
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"> ", rule, "> Program : /opt/show/play",
                                                  "> started : " + plat::ToUtf8(SystemTimeToStr(LogStartDate())),
                                                  rule}));
  log->Lines.clear();
  plat::TManualClock clock(7000);
  WriteStopBanner(log.get());
  ASSERT_EQ(log->Lines.size(), 4u);
  const std::string& l = log->Lines[2];
  EXPECT_EQ(l.rfind("> Program stoped : ", 0), 0u) << l;
  std::string tail = " (work time : " + std::to_string(GetTimeMs() - LogStartMs()) + " ms)";
  EXPECT_TRUE(l.size() > tail.size() && l.substr(l.size() - tail.size()) == tail) << l;
  WriteStartBanner(nullptr);  // nothing to write to
}

TEST(Log, GlobalLogAndConvenienceWriters) {
  bool disposed = false;
  auto* first = new TRecordingLog(&disposed);
  SetLog(first);
  SetLog(first);  // the same object stays
  EXPECT_FALSE(disposed);
  plat::TManualClock clock(100);
  std::uint32_t t = 0;
  LogStartTime(t);
  LogFloat(u"g=", 2.0, u" px");
  const std::int32_t ints[] = {1, -2, 3};
  LogInts(u"i=", ints);
  LogInts(u"e=", {});
  clock.Advance(250);
  LogElapsed(u"took ", t, u" ms");
  EXPECT_EQ(first->Lines, (std::vector<std::string>{"g=2 px", "i=1, -2, 3", "e=", "took 250 ms"}));
  SetLog(nullptr);  // a new silent log; the old one is freed
  EXPECT_TRUE(disposed);
  TLog& silent = *GetLog();
  EXPECT_EQ(typeid(silent), typeid(TLog));
  EXPECT_NO_THROW(LogLine(u"silent"));
}
