// Threads meeting on the filter registry and the cached parameter lists
// while the language changes, and one prepared chain applied by several
// threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/Graphics/zmObjectFilters.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmLocal.h"

using namespace zm;

namespace {

std::atomic<int> gFilterLanguage{0};

WideString FilterThreadsTranslate(const WideString&, const WideString& key, const WideString& def) {
  const std::string n = std::to_string(gFilterLanguage.load());
  const WideString lang(n.begin(), n.end());
  return key.empty() ? lang : lang + u":" + def;
}

}  // namespace

TEST(ObjectFiltersThreads, ParamListsStayWholeWhileTheLanguageChanges) {
  TRef<TIniFile> doc = MakeRef<TIniFile>();
  // With ids, binding only reads the blocks.
  doc->LoadFromText(
      "object HSL\n id=1\nend\nobject Levels\n id=2\nend\nobject Colorisation3\n id=3\nend\n"
      "object BrightContrast\n id=4\nend\n");
  zm::THookScope translate(TranslateHook, &FilterThreadsTranslate);
  constexpr int kThreads = 4;
  std::atomic<int> ready{0};
  std::atomic<int> broken{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads + 1) std::this_thread::yield();
      for (int i = 0; i < 300; ++i) {
        TIniObject* o = doc->FirstObject();
        for (int k = 0; k < (i + t) % 4; ++k) o = doc->NextObject(o);
        // Each thread its own filter; the object blocks are only read.
        TRef<TObjectFilter> f = CreateObjectFilter(o);
        if (!f) {
          broken.fetch_add(1);
          continue;
        }
        TFilterParamList p = f->GetParams();
        if (!p || std::int32_t(p->size()) != f->GetParamCount()) broken.fetch_add(1);
        // Every text of one list is of one language.
        const WideString first = (*p)[0].Text.substr(0, (*p)[0].Text.find(u':'));
        for (const TFilterParam& q : *p)
          if (q.Text.substr(0, q.Text.find(u':')) != first) broken.fetch_add(1);
      }
    });
  ready.fetch_add(1);
  while (ready.load() < kThreads + 1) std::this_thread::yield();
  for (int i = 1; i <= 200; ++i) {
    gFilterLanguage.store(i);
    std::this_thread::yield();
  }
  for (auto& th : threads) th.join();
  translate.Restore();
  EXPECT_EQ(broken.load(), 0);
}

TEST(ObjectFiltersThreads, OneChainAppliedByManyThreads) {
  TRef<TIniFile> doc = MakeRef<TIniFile>();
  doc->LoadFromText("object Invert\nend\nobject Colorization\n  Color=#808080\nend\n");
  TObjectFilter* chain = nullptr;
  for (TIniObject* o = doc->FirstObject(); o; o = doc->NextObject(o))
    chain = PrependFilter(CreateObjectFilter(o).Detach(), chain);
  chain = ReverseFilterChain(chain);
  constexpr int kThreads = 4;
  std::vector<std::vector<std::uint8_t>> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) {
        TRef<TSysBitmap> b = CreateSysBitmap(32, 1024, FindPixelFormat(PF_A8R8G8B8));
        for (int y = 0; y < 1024; ++y)
          for (int x = 0; x < 32; ++x) b->Row32(y)[x] = std::uint32_t(x * 8 | y << 8 | (y >> 2) << 16);
        ApplyFilterChain(chain, b.get(), 32, 1024);
        std::vector<std::uint8_t> bytes(b->ScanLine(1023), b->ScanLine(1023) + 32 * 4);
        if (i == 0) results[std::size_t(t)] = bytes;
        if (bytes != results[std::size_t(t)]) results[std::size_t(t)].clear();
      }
    });
  for (auto& th : threads) th.join();
  for (int t = 1; t < kThreads; ++t) EXPECT_EQ(results[std::size_t(t)], results[0]);
  EXPECT_FALSE(results[0].empty());
  FreeFilterChain(chain);
}
