// The streaming container writer: byte for byte what the kit's in-memory
// writer makes of the same entries, and read back by the player's reader.
#include "OruLib2/OruPack/OruPackWriter.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "OruLib2/OruClasses/OruUnpack.h"
#include "Platform/PlatUtf8.h"
#include "tests/support/kit/ContainerReader.h"
#include "tests/support/kit/ShowContainerWriter.h"
#include "tests/support/kit/StreamBytes.h"
#include "tests/support/kit/TempFolder.h"

namespace {

using oru::TOruPackWriter;

// Bytes that deflate poorly and cross the writer's pieces of 1 MB.
std::string Noise(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    s[i] = static_cast<char>(seed >> 23);
  }
  return s;
}

struct TSample {
  std::string Name, Data;
  int Method;
};

std::vector<TSample> Samples() {
  return {{"Project.oru", "[main]\r\nopt_repeat=stop\r\n", oru::kDeflated},
          {"empty", "", oru::kEnciphered},
          {"empty.z", "", oru::kDeflated},
          {"pics\\[odd]\x01name.jpg", Noise(3 * (1 << 20) + 77, 1), oru::kEnciphered},
          {"music.mp3", Noise((1 << 20) + 5, 2), oru::kStored},
          {"big.txt", std::string(2500000, 'a') + Noise(100000, 3), oru::kDeflated},
          {"ExeGUID", TOruPackWriter::ExeGuidData("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}"), oru::kStored}};
}

}  // namespace

TEST(OruPackWriter, SameBytesAsTheKitAndReadBack) {
  zmtest::TTempFolder dir;
  for (bool prefixed : {false, true}) {
    SCOPED_TRACE(prefixed);
    const std::string program = prefixed ? Noise(5001, 9) : std::string();
    zmtest::TShowContainerWriter kit;
    std::string file = dir.File(prefixed ? "prefixed" : "plain");
    TOruPackWriter w(file);
    if (prefixed) {
      kit.Prefix = program;
      kit.TrailerForm = 2;
      std::istringstream in(program);
      w.WritePrefix(in);
    }
    for (const TSample& s : Samples()) {
      kit.Add(s.Name, s.Data, s.Method);
      std::istringstream in(s.Data);
      w.Add(s.Name, in, s.Method);
    }
    const std::int64_t size = w.Finish();
    const std::string bytes = zmtest::ReadFileBytes(file);
    ASSERT_EQ(size, static_cast<std::int64_t>(bytes.size()));
    ASSERT_TRUE(bytes == kit.Bytes()) << "the containers differ";
    EXPECT_EQ(w.DirectoryIni(), kit.DirectoryIni());

    zm::TRef<oru::TOruUnpack> u = zm::MakeRef<oru::TOruUnpack>(plat::FromUtf8(file));
    ASSERT_TRUE(u->HasShow()) << plat::ToUtf8(u->ErrorText());
    for (const TSample& s : Samples()) {
      std::int64_t pos = 0, stored = 0;
      std::uint8_t method = 0;
      ASSERT_TRUE(u->FindEntry(plat::FromUtf8(s.Name), pos, method, stored)) << s.Name;
      EXPECT_EQ(method, s.Method);
      zm::TRef<zm::TStream> in =
          oru::TOruUnpack::OpenEntryStream(u->OpenContainerFile().Detach(), method, true, u->Key(), pos, stored);
      EXPECT_TRUE(zmtest::ReadAllBytes(in.get(), 65536) == s.Data) << s.Name;
    }
  }
}

TEST(OruPackWriter, FailuresAreReported) {
  zmtest::TTempFolder dir;
  zmtest::WriteFileBytes(dir.File("file"), "x");
  EXPECT_THROW(TOruPackWriter(dir.File("file") + "/inside"), std::runtime_error);

  TOruPackWriter w(dir.File("c"));
  w.Add("a", std::string_view("abc"), oru::kStored);
  EXPECT_THROW(w.WritePrefix(std::string_view("late")), std::runtime_error);
  // A stream that breaks while it is read fails the entry.
  std::istringstream broken("data");
  broken.setstate(std::ios::badbit);
  EXPECT_THROW(w.Add("b", broken, oru::kDeflated), std::runtime_error);
  w.Finish();
  EXPECT_THROW(w.Add("c", std::string_view("x"), oru::kStored), std::runtime_error);
  EXPECT_THROW(w.Finish(), std::runtime_error);
}
