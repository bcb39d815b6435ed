// Many threads writing to one log, and the global log replaced while
// threads write through it.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Platform/PlatUtf8.h"
#include "ZmLib/zmLog.h"

using namespace zm;

namespace {
constexpr int kThreads = 8;
constexpr int kLines = 400;

// Counts the lines that reach it; safe from any thread.
class TCountingLog : public TLog {
public:
  void WriteText(const WideString&) override { Count.fetch_add(1); }
  std::atomic<int> Count{0};
};
}  // namespace

TEST(LogThreads, LinesNeverInterleave) {
  TRef<TMemoryStream> stream = MakeRef<TMemoryStream>();
  TRef<TStreamLog> log = MakeRef<TStreamLog>();
  log->SetStream(stream.get(), false);
  log->ShowThreadId = true;
  log->ShowTime = true;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i)
        log->Log(u"thread " + WideString(1, char16_t(u'A' + t)) + u" line " +
                 WideString(plat::FromUtf8(std::to_string(i))) + u" \u00E9\u00E9\u00E9");
    });
  for (auto& th : threads) th.join();
  std::string text(reinterpret_cast<const char*>(stream->Memory()), static_cast<std::size_t>(stream->GetSize()));
  ASSERT_EQ(text.compare(0, 3, "\xEF\xBB\xBF"), 0);
  EXPECT_EQ(text.find("\xEF\xBB\xBF", 3), std::string::npos);  // one mark only
  // Every line whole: "#XXXX [ms] thread T line N ééé".
  const std::string tail = " \xC3\xA9\xC3\xA9\xC3\xA9";
  std::map<char, std::set<int>> seen;
  std::size_t lines = 0;
  for (std::size_t pos = 3, end; pos < text.size(); pos = end + 2, ++lines) {
    end = text.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos);
    const std::string l = text.substr(pos, end - pos);
    const std::size_t npos = std::string::npos, who = l.find("] thread "), num = l.find(" line ");
    ASSERT_TRUE(l.rfind("#", 0) == 0 && l.find(" [") != npos && who != npos && num != npos &&
                l.size() > tail.size() && l.compare(l.size() - tail.size(), tail.size(), tail) == 0)
        << l;
    seen[l[who + 9]].insert(std::stoi(l.substr(num + 6)));
  }
  EXPECT_EQ(lines, std::size_t(kThreads * kLines));
  ASSERT_EQ(seen.size(), std::size_t(kThreads));
  for (auto& [who, numbers] : seen) EXPECT_EQ(numbers.size(), std::size_t(kLines)) << who;
}

TEST(LogThreads, GlobalLogReplacedWhileWriting) {
  std::vector<TCountingLog*> logs;
  std::atomic<int> written{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kLines; ++i) {
        LogLine(u"x");
        LogInt(u"n=", i);
        written.fetch_add(2);
      }
    });
  // Each replaced log is kept alive by the test to read its count afterwards.
  int received = 0;
  go.store(true);
  for (int k = 0; k < 50; ++k) {
    auto* log = new TCountingLog();
    log->AddRef();
    logs.push_back(log);
    SetLog(log);
    std::this_thread::yield();
  }
  for (auto& th : threads) th.join();
  SetLog(nullptr);
  for (TCountingLog* log : logs) {
    received += log->Count.load();
    log->ReleaseRef();
  }
  // Lines that landed before the first replacement went to the silent log.
  EXPECT_LE(received, written.load());
  EXPECT_EQ(written.load(), kThreads * kLines * 2);
}

TEST(LogThreads, BannerIsWrittenWhole) {
  TRef<TMemoryStream> stream = MakeRef<TMemoryStream>();
  TRef<TStreamLog> log = MakeRef<TStreamLog>();
  log->SetStream(stream.get(), false);
  log->ShowThreadId = true;
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    while (!stop.load()) log->Log(u"noise");
  });
  for (int k = 0; k < 20; ++k) WriteStartBanner(log.get());
  stop.store(true);
  writer.join();
  std::string text(reinterpret_cast<const char*>(stream->Memory()), static_cast<std::size_t>(stream->GetSize()));
  // Every banner's five lines are together and untagged.
  std::string rule(64, '=');
  std::size_t pos = 0;
  int banners = 0;
  while ((pos = text.find("\r\n" + rule + "\r\nProgram : ", pos)) != std::string::npos) {
    std::size_t next = text.find("\r\n", pos + 2 + rule.size() + 2);
    std::size_t started = next + 2;
    EXPECT_EQ(text.compare(started, 10, "started : "), 0);
    std::size_t after = text.find("\r\n", started);
    EXPECT_EQ(text.compare(after + 2, rule.size(), rule), 0);
    ++banners;
    pos = after;
  }
  EXPECT_EQ(banners, 20);
  EXPECT_TRUE(log->ShowThreadId);
}
