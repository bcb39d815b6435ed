#include <gtest/gtest.h>

#include <latch>
#include <thread>
#include <vector>

#include "ZmLib/Win32/winPrinters.h"

namespace zm {

TEST(PrinterGlobal, OneInstanceWhenThreadsMeetOnFirstUse) {
  constexpr int kThreads = 8;
  std::vector<TPrinter*> seen(kThreads, nullptr);
  std::vector<std::int32_t> ppi(kThreads, 0);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      seen[std::size_t(i)] = Printers();
      ppi[std::size_t(i)] = ScreenLogPixelsY();
    });
  for (auto& t : threads) t.join();
  for (TPrinter* p : seen) EXPECT_EQ(p, seen[0]);
  EXPECT_NE(seen[0], nullptr);
  for (std::int32_t v : ppi) EXPECT_EQ(v, ScreenLogPixelsY());
  EXPECT_GT(ppi[0], 0);
}

}  // namespace zm
