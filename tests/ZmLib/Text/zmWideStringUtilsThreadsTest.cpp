#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ZmLib/Text/zmWideStringUtils.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmByteString.h"

using namespace zm;

// The comparison keeps its mark buffers per thread, and the tables are only
// read: several threads compare and hash at once.
TEST(WideStringUtilsThreads, ComparisonsOnSeveralThreads) {
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&wrong, t] {
      WideString a = u"r\u00E9sum\u00E9" + WideString(static_cast<std::size_t>(t + 1), u'\u0301');
      WideString b = u"RE\u0301SUME\u0301" + WideString(static_cast<std::size_t>(t + 1), u'\u0301');
      for (int i = 0; i < 2000; ++i) {
        if (!WideSameText(a, b)) ++wrong;
        if (WideSameText(a, u"RESUME")) ++wrong;
        if (WideHashNoCase(u"Ärger") != TByteString("äRGER").HashNoCase()) ++wrong;
        if (!SameText(u"STRASSE", u"strasse")) ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}
