// The slide loader's thread told to stop from another thread while it builds
// a slide of many objects, at the start and at points along the build: its
// thread ends, the build's stop looked at from both threads.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>

#include "OruLib2/OruClasses/OruFileAccess.h"
#include "OruLib2/OruViewer/OruSlideLoader.h"
#include "tests/support/kit/IniText.h"

namespace {

using namespace oru;
using zm::TRef;

TRef<TOruSlideLoader> ManyObjectsLoader() {
  zmtest::TIniText t;
  t.Section("main").Key("opt_repeat", "repeat").Key("opt_scr_width", 320).Key("opt_scr_height", 240);
  t.Section("Times").Key("opt_slidescount", 2).Key("opt_synchpos1", 1000).Key("opt_synchpos2", 2000);
  for (int s = 1; s <= 2; ++s) {
    t.Section("Slide" + std::to_string(s));
    for (int i = 0; i < 3000; ++i) t.Object("B" + std::to_string(i), "Box").Key("Size", "10,10").End();
  }
  TRef<zm::TIniFile> doc = zm::MakeRef<zm::TIniFile>();
  doc->LoadFromText(zm::TByteString(t.Bytes(false)));
  TRef<TFileAccessor> accessor = zm::MakeRef<TFileAccessor>(zm::MakeRef<TRealFileSource>().get());
  TRef<TOruSource> source = zm::MakeRef<TOruSource>(accessor.Detach(), true, doc.Detach());
  return zm::MakeRef<TOruSlideLoader>(source.Detach(), 3, 320, 240, true);
}

TEST(SlideLoaderStopThreads, StoppedFromAnotherThreadWhileItBuilds) {
  for (const std::uint64_t at : {0ull, 100ull, 5000ull, 20000ull}) {
    SCOPED_TRACE("stopped after " + std::to_string(at) + " steps");
    TRef<TOruSlideLoader> loader = ManyObjectsLoader();
    ASSERT_TRUE(loader->Start());
    // Until the build has taken that many steps, or the loader has done
    // all it had to (it then waits for the time to move).
    while (loader->WorkStop().Polls() < at && loader->Running() && !loader->SlidesReady(0)) std::this_thread::yield();
    loader->Terminate();
    EXPECT_TRUE(loader->WorkStop().Requested());
    EXPECT_TRUE(loader->Wait(60000));
    EXPECT_FALSE(loader->Running());
    // Started again, it builds: the stop was for the work then.
    ASSERT_TRUE(loader->Start());
    EXPECT_FALSE(loader->WorkStop().Requested());
    loader->Terminate();
    EXPECT_TRUE(loader->Wait(60000));
  }
}

}  // namespace
