// The look into packed data: code is found inside every kind of compressed
// stream and archive a program here could unpack, within one another too,
// and whatever the look cannot judge counts (it fails closed): damage, a
// kind it does not read, an enciphered member, more depth, bytes or members
// than it reads.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "Platform/PlatArchivePeek.h"
#include "tests/support/kit/PackedWriter.h"

using plat::TPeekFinding;
using zmtest::TPackedMember;

namespace {

const std::string kElf = std::string("\x7F" "ELF\x02\x01\x01\0", 8) + std::string(300, '\x01');
const std::string kPhoto = "\xFF\xD8\xFF\xE0" + std::string(3000, 'p');

TPeekFinding Peek(const std::string& data, const std::string& name, const plat::TPeekLimits& limits = {}) {
  return plat::PeekIntoPacked(
      [&data](std::uint64_t offset, void* to, std::size_t n) -> std::size_t {
        if (offset >= data.size()) return 0;
        const std::size_t got = std::min<std::size_t>(n, data.size() - std::size_t(offset));
        if (got > 0) std::memcpy(to, data.data() + offset, got);
        return got;
      },
      data.size(), name, limits);
}

// The same data read in order, a few bytes at a time.
TPeekFinding PeekInOrder(const std::string& data, const std::string& name) {
  std::size_t at = 0;
  return plat::PeekIntoPackedStream(
      [&](void* to, std::size_t n) -> std::size_t {
        const std::size_t got = std::min<std::size_t>({n, data.size() - at, 7});
        if (got > 0) std::memcpy(to, data.data() + at, got);
        at += got;
        return got;
      },
      name);
}

std::vector<std::pair<std::string, std::string>> Compressors() {
  return {{"gz", zmtest::Gzipped(kElf)},
          {"xz", zmtest::Xzed(kElf)},
          {"lzma", zmtest::Lzmaed(kElf)},
          {"bz2", zmtest::Bzipped(kElf)},
          {"zst", zmtest::Zstded(kElf)}};
}

}  // namespace

TEST(ArchivePeek, CodeInEveryKindOfPackedDataIsFound) {
  for (const auto& [ending, packed] : Compressors()) {
    EXPECT_EQ(Peek(packed, "helper." + ending).Why, TPeekFinding::TWhy::Code) << ending;
    EXPECT_EQ(Peek(packed, "helper." + ending).Inside, "|helper") << ending;
    EXPECT_EQ(PeekInOrder(packed, "helper." + ending).Why, TPeekFinding::TWhy::Code) << ending;
  }
  EXPECT_EQ(Peek(zmtest::Gzipped("#!/bin/sh\n"), "run.gz").Why, TPeekFinding::TWhy::Code);
  // Several gzip members and zstd frames: each is unpacked.
  EXPECT_EQ(Peek(zmtest::Gzipped(kPhoto) + zmtest::Gzipped(std::string(600, 'x') + kElf), "x.gz").Why,
            TPeekFinding::TWhy::None);
  EXPECT_EQ(Peek(zmtest::Zstded(kPhoto) + zmtest::Zstded(kElf), "x.zst").Why, TPeekFinding::TWhy::None);
  const std::string tar = zmtest::Tarred({{"photos/", "", '5'},
                                          {"photos/1.jpg", kPhoto},
                                          {"link", "", '2'},
                                          {std::string(120, 'd') + "/bin/helper", kElf}});
  const TPeekFinding inTar = Peek(tar, "tools.tar");
  EXPECT_EQ(inTar.Why, TPeekFinding::TWhy::Code);
  EXPECT_EQ(inTar.Inside, "|" + std::string(120, 'd') + "/bin/helper");
  for (const std::uint16_t method : {0, 8, 12, 93, 95}) {
    const std::string zip = zmtest::Zipped({{"photos/1.jpg", kPhoto, '0', method}, {"bin/helper", kElf, '0', method}});
    EXPECT_EQ(Peek(zip, "tools.zip").Inside, "|bin/helper") << method;
    EXPECT_EQ(PeekInOrder(zip, "tools.zip").Inside, "|bin/helper") << method;
  }
  // Within one another: a gzipped tar holding a zip holding an xz stream.
  const std::string nested = zmtest::Gzipped(
      zmtest::Tarred({{"a.jpg", kPhoto}, {"tools.zip", zmtest::Zipped({{"helper.xz", zmtest::Xzed(kElf)}})}}));
  const TPeekFinding deep = Peek(nested, "tools.tgz");
  EXPECT_EQ(deep.Why, TPeekFinding::TWhy::Code);
  EXPECT_EQ(deep.Inside, "|tools.tar|tools.zip|helper.xz|helper");

  // What holds no code holds nothing: plain data, and the same kinds with
  // photos only.
  EXPECT_FALSE(Peek(kPhoto, "photo.jpg").Found());
  EXPECT_FALSE(Peek(zmtest::Gzipped(kPhoto), "photo.jpg.gz").Found());
  EXPECT_FALSE(Peek(zmtest::Tarred({{"1.jpg", kPhoto}, {"2.jpg", kPhoto}}), "p.tar").Found());
  EXPECT_FALSE(Peek(zmtest::Zipped({{"1.jpg", kPhoto}, {"docs/", ""}}), "p.zip").Found());
  EXPECT_FALSE(Peek(zmtest::Zipped({}), "empty.zip").Found());
}

TEST(ArchivePeek, WhatCannotBeJudgedCounts) {
  const auto unjudged = [](const std::string& data, const plat::TPeekLimits& limits = {}) {
    const TPeekFinding f = Peek(data, "x", limits);
    return f.Why == TPeekFinding::TWhy::Unjudged ? f.Reason : "judged";
  };
  // Cut short: each compressed kind; with a byte changed: those that
  // check what they unpack.
  for (const auto& [ending, packed] : Compressors()) {
    EXPECT_EQ(unjudged(packed.substr(0, packed.size() / 2)), "damaged") << ending;
    std::string changed = packed;
    changed[changed.size() / 2] = char(changed[changed.size() / 2] ^ 0x55);
    if (ending != "zst" && ending != "lzma") EXPECT_NE(Peek(changed, "x").Why, TPeekFinding::TWhy::None) << ending;
  }
  const std::string tar = zmtest::Tarred({{"1.jpg", kPhoto}, {"2.jpg", kPhoto}});
  std::string badSum = tar;
  badSum[512 + 512 * 6 + 10] = 'x';  // the second header's name
  EXPECT_EQ(unjudged(badSum), "damaged");
  EXPECT_EQ(unjudged(tar.substr(0, 512 + 1000)), "damaged");
  EXPECT_EQ(unjudged(zmtest::Tarred({{"holes", kElf, 'S'}})), "a sparse member");
  const std::string zip = zmtest::Zipped({{"1.jpg", kPhoto}, {"bin/helper", kPhoto}});
  EXPECT_EQ(unjudged(zip.substr(0, zip.size() - 30)), "damaged");
  EXPECT_EQ(unjudged(zmtest::Zipped({{"helper", kElf, '0', 8, true}})), "an enciphered member");
  EXPECT_EQ(unjudged(zmtest::Zipped({{"helper", kElf, '0', 14}})), "a member packed in a way the look does not read");
  for (const std::string& magic : {std::string("7z\xBC\xAF\x27\x1C"), std::string("Rar!\x1A\x07\x01"),
                                  std::string("!<arch>\ndebian-binary"), std::string("070701"),
                                  std::string("\x04\x22\x4D\x18"), std::string("hsqs")})
    EXPECT_EQ(unjudged(magic + std::string(600, '\0')), "packed in a way the look does not read");
  // Bounds: depth, unpacked bytes (a bomb), members.
  std::string onion = kPhoto;
  for (int i = 0; i < 5; ++i) onion = zmtest::Gzipped(onion);
  EXPECT_EQ(unjudged(onion), "packed too deep");
  plat::TPeekLimits small;
  small.MaxBytes = 1 << 20;
  EXPECT_EQ(unjudged(zmtest::Gzipped(zmtest::Tarred({{"zeros", std::string(8 << 20, '\0')}, {"helper", kElf}})), small),
            "larger than the look unpacks");
  EXPECT_EQ(unjudged(zmtest::Xzed(zmtest::Tarred({{"big", std::string(4 << 20, 'x')}})), small),
            "larger than the look unpacks");
  small.MaxMembers = 3;
  std::vector<TPackedMember> many(4, TPackedMember{"1.jpg", kPhoto});
  EXPECT_EQ(unjudged(zmtest::Zipped(many), small), "more members than the look reads");
  EXPECT_EQ(unjudged(zmtest::Tarred(many), small), "more members than the look reads");
}
