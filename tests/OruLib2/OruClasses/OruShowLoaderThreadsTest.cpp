#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "OruLib2/OruClasses/OruShowLoader.h"
#include "Platform/PlatUtf8.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/ShowProjectWriter.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;
using namespace oru;

namespace {

std::string Content(int i) { return "file " + std::to_string(i) + std::string(static_cast<std::size_t>(i) * 97, 'z'); }

}  // namespace

// Players open the files of one show from many threads while the current
// show changes hands: the name map and rotation table are only read.
TEST(ShowLoaderThreads, ReadersShareTheMapAndTheCurrentShow) {
  constexpr int kFiles = 24;
  zmtest::TTempDir dir;
  zmtest::TShowProjectWriter show;
  show.Description().Section("FileMap");
  for (int i = 0; i < kFiles; ++i)
    show.Description().Line("\"Alias" + std::to_string(i) + ".JPG\"=\"file" + std::to_string(i) + ".bin\"");
  show.Description().Line("\"loop\"=\"LOOP\"").Section("RotationState");
  for (int i = 0; i < kFiles; ++i) show.Description().Line(";\"file" + std::to_string(i) + ".bin\"=" + "368"[i % 3]);
  zmtest::TShowContainerWriter w;
  show.AddToContainer(w, zmtest::kStored);
  for (int i = 0; i < kFiles; ++i) w.Add("file" + std::to_string(i) + ".bin", Content(i), i % 3);
  w.WriteFile((dir.Path() / "show.orushow").string());
  WideString error;
  TRef<TOruShowLocator> locator = OpenContainerShow(dir.Wide("show.orushow"), error);
  ASSERT_TRUE(locator);
  auto* source = dynamic_cast<TMappedFileSource*>(locator->Accessor()->Source());
  ASSERT_NE(source, nullptr);

  std::atomic<bool> go{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t)
    threads.emplace_back([&, t] {
      while (!go) std::this_thread::yield();
      for (int k = 0; k < 60; ++k) {
        const int i = (k * 7 + t) % kFiles;
        TRef<TStream> s = TRef<TStream>::Adopt(
            locator->Accessor()->OpenFile(plat::FromUtf8((k % 2 ? "alias" : "ALIAS") + std::to_string(i) + ".jpg")));
        if (!s || zmtest::ReadAllBytes(s.get(), 500) != Content(i)) ++wrong;
        if (source->RotationOf(plat::FromUtf8("FILE" + std::to_string(i) + ".BIN")) != "368"[i % 3] - '0') ++wrong;
        if (locator->Accessor()->OpenFile(u"loop")) ++wrong;
      }
    });
  threads.emplace_back([&] {
    while (!go) std::this_thread::yield();
    for (int k = 0; k < 200; ++k) {
      if (k % 2) SetCurrentShow(locator.get());
      else PushShow(locator.get());
      TRef<TOruShowLocator> current = CurrentShowRef();
      if (current && current != locator) ++wrong;
      if (k % 2) PopShow();
    }
  });
  threads.emplace_back([&] {
    while (!go) std::this_thread::yield();
    for (int k = 0; k < 400; ++k)
      if (TRef<TOruShowLocator> current = CurrentShowRef()) {
        TRef<TStream> s = TRef<TStream>::Adopt(current->Accessor()->OpenFile(u"file1.bin"));
        if (!s) ++wrong;
      }
  });
  go = true;
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  FiniShowLoader();
  InitShowLoader();
  EXPECT_EQ(locator->RefCount(), 1);
}

// A long description's rotation table is read beside the opening, its lines
// in parts on threads of their own: pictures asked for meanwhile wait for it
// and are turned as its lines say; a show that goes while its table is read
// stops the reading and waits for it.
TEST(ShowLoaderThreads, TurnsAskedWhileTheTableIsReadWaitForIt) {
  constexpr int kLines = 110000;  // a text of over 2 MB: pending, read in parts
  zmtest::TTempDir dir;
  zmtest::TShowProjectWriter show;
  show.Description().Section("RotationState");
  for (int i = 0; i < kLines; ++i) show.Description().Line(";\"p" + std::to_string(i) + ".jpg\"=" + "368"[i % 3]);
  zmtest::TShowContainerWriter w;
  show.AddToContainer(w, zmtest::kStored);
  w.WriteFile((dir.Path() / "long.orushow").string());

  WideString error;
  TRef<TOruShowLocator> locator = OpenContainerShow(dir.Wide("long.orushow"), error);
  ASSERT_TRUE(locator);
  auto* source = dynamic_cast<TMappedFileSource*>(locator->Accessor()->Source());
  ASSERT_NE(source, nullptr);
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&, t] {
      for (int k = 0; k < 40; ++k) {
        const int i = (k * 7919 + t * 104729) % kLines;
        if (source->RotationOf(plat::FromUtf8("P" + std::to_string(i) + ".JPG")) != "368"[i % 3] - '0') ++wrong;
      }
    });
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(source->RotationOf(u"p0.jpg"), 3);
  EXPECT_EQ(source->RotationOf(u"missing.jpg"), 1);

  for (int round = 0; round < 3; ++round) {
    TRef<TOruShowLocator> gone = OpenContainerShow(dir.Wide("long.orushow"), error);
    ASSERT_TRUE(gone);
    gone = nullptr;  // its table is still being read, most likely
  }
}
