#include "Platform/PlatPictureMemory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t kBig = plat::kPictureMemoryKeptFrom + 4096;

bool AllZeroPictureBytes(const plat::PictureMemory& m) {
  return std::all_of(m.data(), m.data() + m.size(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace

TEST(PlatPictureMemory, ReusedBlockComesBackCleared) {
  plat::TrimPictureMemory();
  const std::uint64_t reusedBefore = plat::GetPictureMemoryStats().Reused;
  {
    plat::PictureMemory a(kBig);
    ASSERT_EQ(a.size(), kBig);
    EXPECT_TRUE(AllZeroPictureBytes(a));
    std::memset(a.data(), 0xA5, a.size());
  }
  EXPECT_EQ(plat::GetPictureMemoryStats().KeptBlocks, 1u);
  // Another size is not answered from it.
  plat::PictureMemory other(kBig + 1);
  EXPECT_EQ(plat::GetPictureMemoryStats().Reused, reusedBefore);
  plat::PictureMemory b(kBig);
  EXPECT_EQ(plat::GetPictureMemoryStats().Reused, reusedBefore + 1);
  EXPECT_EQ(plat::GetPictureMemoryStats().KeptBlocks, 0u);
  EXPECT_TRUE(AllZeroPictureBytes(b));
}

TEST(PlatPictureMemory, SmallEmptyAndMovedBlocks) {
  plat::TrimPictureMemory();
  { plat::PictureMemory small(4096); }
  plat::PictureMemory none(0);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(plat::GetPictureMemoryStats().KeptBlocks, 0u);

  plat::PictureMemory a(kBig);
  a[kBig - 1] = 7;
  plat::PictureMemory b(std::move(a));
  EXPECT_TRUE(a.empty());
  EXPECT_EQ(b[kBig - 1], 7);
  b = plat::PictureMemory(kBig + 8);  // the old block is given back
  EXPECT_EQ(plat::GetPictureMemoryStats().KeptBlocks, 1u);
  EXPECT_EQ(b.size(), kBig + 8);
  b.Release();
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(plat::GetPictureMemoryStats().KeptBlocks, 2u);
  plat::TrimPictureMemory();
  EXPECT_EQ(plat::GetPictureMemoryStats().KeptBytes, 0u);
}

TEST(PlatPictureMemory, KeptBytesStayWithinTheirBound) {
  plat::TrimPictureMemory();
  const std::size_t block = plat::kPictureMemoryKeptBytes / 3 + 1;
  {
    std::vector<plat::PictureMemory> blocks;
    for (int i = 0; i < 4; ++i) blocks.emplace_back(block);
  }
  const plat::PictureMemoryStats s = plat::GetPictureMemoryStats();
  EXPECT_EQ(s.KeptBlocks, 2u);
  EXPECT_LE(s.KeptBytes, plat::kPictureMemoryKeptBytes);
  // A block larger than the bound is never kept.
  { plat::PictureMemory huge(plat::kPictureMemoryKeptBytes + 1); }
  EXPECT_EQ(plat::GetPictureMemoryStats().KeptBlocks, 2u);
  plat::TrimPictureMemory();
}
