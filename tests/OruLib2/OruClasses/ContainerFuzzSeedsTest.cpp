// The seeds of the show-container fuzz targets, made by the container
// writer and run through the targets' own check. With ZM_WRITE_FUZZ_SEEDS
// set to the fuzz corpus folder, the seeds are written there too.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/ShowContainerFuzz.h"
#include "tests/support/kit/TempFolder.h"

using zmtest::TShowContainerWriter;

namespace {

struct TSeed {
  std::string Name;
  std::string Bytes;
  int Entries;  // read whole by the check
};

void WriteSeeds(const std::string& target, const std::vector<TSeed>& seeds) {
  const char* folder = std::getenv("ZM_WRITE_FUZZ_SEEDS");
  if (!folder || !*folder) return;
  for (const TSeed& s : seeds) zmtest::WriteFileBytes(std::string(folder) + "/" + target + "/" + s.Name, s.Bytes);
}

}  // namespace

TEST(ContainerFuzzSeeds, ContainerFilesAndDirectoryTextsPassTheCheck) {
  std::vector<TSeed> seeds;
  auto add = [&](std::string name, TShowContainerWriter w, int entries) {
    seeds.push_back({std::move(name), w.Bytes(), entries});
  };
  add("form1", zmfuzz::FixedEntries(0), 4);
  add("form2-program", zmfuzz::FixedEntries(3), 5);
  TShowContainerWriter moved = zmfuzz::FixedEntries(3);
  moved.Base = moved.Moved = static_cast<std::int64_t>(moved.Prefix.size());
  moved.AllowModify = "1";
  add("moved", moved, 5);
  TShowContainerWriter modified = zmfuzz::FixedEntries(0);
  modified.Moved = 3;
  add("modified", modified, 0);
  TShowContainerWriter damaged = zmfuzz::FixedEntries(1);
  damaged.StrucPos = "x1";
  damaged.AllowModify = "1";
  add("damaged", damaged, 0);
  TShowContainerWriter knobs = zmfuzz::FixedEntries(0);
  knobs.Add("noSize", "n").OmitSz = true;
  knobs.Add("method7", "seven").PmText = "7";
  knobs.Add("far", "f").PsText = "99999";
  knobs.Add("cut", "c", zmtest::kDeflated).StoredBytes = "\x03";
  add("entry-knobs", knobs, 5);
  // Twenty entries that name one deflated MiB: each unpacks it again, and
  // the check's sum stops them at 16.
  TShowContainerWriter shared;
  shared.Add("zeros", std::string(1 << 20, '\0'), zmtest::kDeflated);
  for (int i = 0; i < 19; ++i) shared.Add("z" + std::to_string(i), "", zmtest::kDeflated);
  shared.Bytes();  // lays the entries out
  for (std::size_t i = 1; i < shared.Entries().size(); ++i) {
    shared.Entries()[i].PsText = std::to_string(shared.Entries()[0].Position);
    shared.Entries()[i].SzText = std::to_string(shared.Entries()[0].StoredSize);
  }
  add("shared-deflated", shared, int(zmfuzz::kUnpackedTotal >> 20));
  for (const TSeed& s : seeds) {
    EXPECT_LT(s.Bytes.size(), 2000u) << s.Name;
    EXPECT_EQ(zmfuzz::CheckContainer(s.Bytes), s.Entries) << s.Name;
  }
  WriteSeeds("ShowContainer", seeds);

  std::vector<TSeed> directories;
  for (std::uint8_t flags : {0, 3}) {
    TShowContainerWriter w = zmfuzz::FixedEntries(flags);
    w.Bytes();
    directories.push_back({"directory" + std::to_string(flags),
                           std::string(1, static_cast<char>(flags)) + w.DirectoryIni(), flags & 2 ? 5 : 4});
  }
  for (const TSeed& s : directories) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(s.Bytes.data());
    EXPECT_EQ(zmfuzz::CheckContainer(zmfuzz::ContainerWithDirectory(bytes, s.Bytes.size())), s.Entries) << s.Name;
  }
  WriteSeeds("ShowContainerDirectory", directories);
}
