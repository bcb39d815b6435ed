#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "OruLib2/OruClasses/OruShowServices.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/ShowBuilder.h"

using namespace zm;
using namespace oru;

// The slide host reads the show's identity on the loader thread while the
// player reads the container directory and other threads open entries.
TEST(ShowServicesThreads, IdentityAndDirectoryReadFromManyThreads) {
  zmtest::TTempDir dir;
  zmtest::TShowBuilder show;
  show.AddSlide(1000);
  zmtest::TShowContainerWriter w;
  w.Add("ExeGUID", zmtest::TShowContainerWriter::ExeGuidData("{0A1B2C3D-0000-4000-8000-000000000002}"));
  for (int i = 0; i < 8; ++i) w.Add("f" + std::to_string(i), std::string(1000 + i, 'q'), i % 3);
  show.AddToContainer(w);
  w.WriteFile((dir.Path() / "show.orushow").string());
  WideString error;
  TRef<TOruShowLocator> locator = OpenContainerShow(dir.Wide("show.orushow"), error);
  ASSERT_TRUE(locator);

  constexpr int kThreads = 6;
  std::vector<int> bad(kThreads, 0);
  std::vector<std::vector<std::string>> guids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int n = 0; n < 40; ++n) {
        if (ReadShowExeGUID(locator->Accessor()) != u"{0A1B2C3D-0000-4000-8000-000000000002}") ++bad[t];
        TIniFile* d = ShowContainerDirectory(locator.get());
        if (!d || !d->FindSection(u"f" + std::u16string(1, static_cast<char16_t>(u'0' + n % 8)))) ++bad[t];
        guids[t].push_back(zmtest::NewShowGuid());
      }
    });
  for (auto& th : threads) th.join();
  std::set<std::string> unique;
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(bad[t], 0) << "thread " << t;
    unique.insert(guids[t].begin(), guids[t].end());
  }
  EXPECT_EQ(unique.size(), static_cast<std::size_t>(kThreads * 40));  // builders on many threads never share a GUID
}
