// A finished ini document read from several threads at once: the hash
// indexes are built on first use by whichever thread comes first.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "Platform/PlatUtf8.h"
#include "ZmLib/zmIni.h"

using namespace zm;

TEST(IniThreads, ConcurrentReadersOfOneDocument) {
  std::string text;
  for (int s = 0; s < 40; ++s) {
    text += "[Slide" + std::to_string(s) + "]\r\n";
    for (int k = 0; k < 60; ++k) text += "key" + std::to_string(k) + "=" + std::to_string(s * 1000 + k) + "\r\n";
    text += "object Image:Image\r\n  file=a" + std::to_string(s) + ".jpg\r\nend\r\n";
  }
  TRef<TIniFile> doc = MakeRef<TIniFile>();
  doc->LoadFromText(TByteString(text));
  ASSERT_EQ(doc->SectionCount(), 40);
  std::atomic<bool> go{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int round = 0; round < 3; ++round)
        for (int i = 0; i < 40; ++i) {
          int s = (i * 7 + t) % 40;
          std::u16string section = plat::FromUtf8("SLIDE" + std::to_string(s));
          TIniSection* sec = doc->FindSection(section);
          int k = (i + t * 13) % 60;
          if (IniGetInt(IniFind(sec, plat::FromUtf8("Key" + std::to_string(k))), -1) != s * 1000 + k) ++wrong;
          TIniObject* image = IniFindObject(sec, u"image");
          const std::string file = std::string("a").append(std::to_string(s)).append(".jpg");
          if (IniReadString(image, u"file") != plat::FromUtf8(file)) ++wrong;
        }
    });
  go.store(true);
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}
