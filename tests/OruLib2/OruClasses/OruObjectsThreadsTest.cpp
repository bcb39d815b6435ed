#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "tests/OruLib2/OruClasses/OruObjectsTestKit.h"

namespace oru_objects_test {
namespace {

// The loader thread builds the next slide while the engine evaluates and
// hit-tests the current one: trees share the creation hooks and the class
// table, nothing else.
TEST(OruObjectsThreads, TreesBuiltEvaluatedAndDroppedOnTwoThreads) {
  TKindsGuard kinds;
  std::atomic<int> failures{0};
  auto worker = [&failures](int seed) {
    for (int i = 0; i < 40; ++i) {
      std::string body;
      for (int k = 0; k < 4; ++k) {
        const std::string n = "t" + std::to_string(seed) + "_" + std::to_string(k);
        body += Obj(n, k % 2 ? "Image" : "Box",
                    "Size=40,30\r\n" + KeyAt(0, "Position=0,0\r\n") + KeyAt(1000, "Position=50,50\r\nAngle=45\r\n") +
                        Obj(n + "c", "Box", "Size=10,10\r\n"));
      }
      TTestTree t = BuildTree(body);
      if (t.Slide->ChildCount() != 4) ++failures;
      for (double time = 0; time <= 1000; time += 250) {
        t.Layout(time);
        float x = 0, y = 0;
        if (!t.Slide->HitTest({160, 120}, nullptr, x, y)) ++failures;
        t.Slide->CommitFrame(true);
      }
      t.Slide->Load(t.Props.get(), true);
      if (t.Slide->ChildCount() != 4) ++failures;
      TOruObjectProps* first = t.Props->Child(0);
      t.Slide = nullptr;
      if (BoundOruObject(first) != nullptr) ++failures;
    }
  };
  std::thread a(worker, 1), b(worker, 2);
  a.join();
  b.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace oru_objects_test
