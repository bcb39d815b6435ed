#include "OruLib2/OruClasses/zmInflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/zmStreamUtils.h"
#include "tests/support/kit/ShowContainerWriter.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;
using namespace oru;
using zmtest::TShowContainerWriter;
using zmtest::RaisedText;
using zmtest::ReadAllBytes;
using zmtest::StreamBytes;

namespace {

// Text-like data that deflates well but not trivially.
std::string Sample(std::size_t n, unsigned seed = 1) {
  std::mt19937 rng(seed);
  static const char* words[] = {"slide", "show ", "opt_", "=1\r\n", "[Slide", "] ", "object ", "end\r\n", "Ä€"};
  std::string s;
  while (s.size() < n) {
    if (rng() % 5 == 0) s += static_cast<char>(rng() & 0xFF);
    else s += words[rng() % 9];
  }
  s.resize(n);
  return s;
}

std::string ZError(int code) { return std::string("EZDecompressionError: ") + zError(code); }

}  // namespace

TEST(InflateStream, RoundTripsInOddPieces) {
  for (std::size_t n : {std::size_t(0), std::size_t(1), std::size_t(65537), std::size_t(700001)}) {
    std::string plain = Sample(n, static_cast<unsigned>(n));
    auto src = zmtest::MemoryStreamOf(TShowContainerWriter::Deflate(plain));
    auto z = MakeRef<TInflateStream>(src.get(), -1);
    EXPECT_EQ(z->GetSize(), -1);
    EXPECT_EQ(ReadAllBytes(z.get(), 1 + static_cast<std::int32_t>(n % 977)), plain) << n;
    std::uint8_t b[4];
    EXPECT_EQ(z->Read(b), 0);  // after the end, nothing more
  }
  // A declared size, and other bytes of the same source before and after.
  std::string plain = Sample(5000);
  auto framed = zmtest::MemoryStreamOf("head" + TShowContainerWriter::Deflate(plain) + "trailing bytes");
  framed->SetPosition(4);
  auto z = MakeRef<TInflateStream>(framed.get(), 5000);
  EXPECT_EQ(z->GetSize(), 5000);
  EXPECT_EQ(ReadAllBytes(z.get()), plain);
}

TEST(InflateStream, SeekingForwardRestartingAndRefusingBackward) {
  std::string plain = Sample(100000);
  auto src = zmtest::MemoryStreamOf(TShowContainerWriter::Deflate(plain));
  auto z = MakeRef<TInflateStream>(src.get(), -1);
  z->SetPosition(20000);  // forward: read and dropped
  std::vector<std::uint8_t> b(10);
  ASSERT_EQ(z->Read(b), 10);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data()), 10), plain.substr(20000, 10));
  // Back to 0 after reading starts over.
  z->SetPosition(0);
  ASSERT_EQ(z->Read(b), 10);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data()), 10), plain.substr(0, 10));

  const std::string invalid = "EZDecompressionError: Invalid ZStream operation!";
  EXPECT_EQ(RaisedText([&] { z->SetPosition(5); }), invalid);
  EXPECT_THROW(z->SetPosition(100001), EStreamReadError);
  EXPECT_EQ(RaisedText([&] { z->Write(b); }), invalid);
}

TEST(InflateStream, SharesItsSourceWithOtherReaders) {
  std::string a = Sample(90000, 2), b = Sample(80000, 3);
  std::string da = TShowContainerWriter::Deflate(a), db = TShowContainerWriter::Deflate(b);
  auto src = zmtest::MemoryStreamOf(da + db);
  auto za = MakeRef<TInflateStream>(src.get(), -1);
  src->SetPosition(static_cast<std::int64_t>(da.size()));
  auto zb = MakeRef<TInflateStream>(src.get(), -1);
  std::string ra, rb;
  std::vector<std::uint8_t> buf(3001);
  for (;;) {
    std::int32_t ga = za->Read(buf);
    ra.append(reinterpret_cast<char*>(buf.data()), static_cast<std::size_t>(std::max(ga, 0)));
    src->SetPosition(7);  // someone else moves the source meanwhile
    std::int32_t gb = zb->Read(buf);
    rb.append(reinterpret_cast<char*>(buf.data()), static_cast<std::size_t>(std::max(gb, 0)));
    if (ga <= 0 && gb <= 0) break;
  }
  EXPECT_EQ(ra, a);
  EXPECT_EQ(rb, b);
}

TEST(InflateStream, BadAndCutDataRaise) {
  std::string packed = TShowContainerWriter::Deflate(Sample(200000));
  // Not deflate data at all (block type 3 is reserved).
  auto junk = zmtest::MemoryStreamOf(std::string("\xff\xff\xff\xff garbage", 13));
  EXPECT_EQ(RaisedText([&] { ReadAllBytes(MakeRef<TInflateStream>(junk.get(), -1).get()); }), ZError(Z_DATA_ERROR));
  // Cut short: the data ends before the compressed stream does.
  auto cut = zmtest::MemoryStreamOf(packed.substr(0, packed.size() / 2));
  EXPECT_EQ(RaisedText([&] { ReadAllBytes(MakeRef<TInflateStream>(cut.get(), -1).get()); }), ZError(Z_BUF_ERROR));
  // Errors are stream errors, so callers that catch those see them.
  auto none = zmtest::MemoryStreamOf("");
  EXPECT_THROW(ReadAllBytes(MakeRef<TInflateStream>(none.get(), -1).get()), EStreamError);
}

TEST(Inflator, InflatesAndReportsBadDataAndShortWrites) {
  auto inflator = MakeRef<TInflator>();
  int calls = 0;
  inflator->SetProgress([](void* data, TInflator*) { ++*static_cast<int*>(data); }, &calls);
  // Few input bytes for much output: zlib takes all input long before it has
  // given all output.
  std::string runs(500001, 'r');
  auto dst = MakeRef<TMemoryStream>();
  inflator->Inflate(zmtest::MemoryStreamOf(TShowContainerWriter::Deflate(runs)).get(), dst.get());
  EXPECT_EQ(StreamBytes(dst.get()), runs);
  EXPECT_EQ(inflator->TotalOut(), 500001);
  EXPECT_GE(calls, (500001 + 32767) / 32768);  // at least one per window written

  EXPECT_EQ(RaisedText([&] { inflator->Inflate(zmtest::MemoryStreamOf("\xff\xfe junk").get(), dst.get()); }), ZError(Z_DATA_ERROR));
  EXPECT_EQ(RaisedText([&] { inflator->Inflate(zmtest::MemoryStreamOf("").get(), dst.get()); }), ZError(Z_BUF_ERROR));

  // A match reaching back before the first byte: both decoders refuse it,
  // also when the inflator's window still holds an earlier picture.
  std::string tooFar("\313H\377\377\377\377\333\377\377\377\240\002c\025\230\2322\222\005\000", 20);
  inflator->Inflate(zmtest::MemoryStreamOf(TShowContainerWriter::Deflate(Sample(40000))).get(), dst.get());
  EXPECT_EQ(RaisedText([&] { inflator->Inflate(zmtest::MemoryStreamOf(tooFar).get(), dst.get()); }), ZError(Z_DATA_ERROR));
  auto tooFarSource = zmtest::MemoryStreamOf(tooFar);
  EXPECT_THROW(ReadAllBytes(MakeRef<TInflateStream>(tooFarSource.get(), -1).get()), EZDecompressionError);

  // A destination that takes only part of the output; a source that raises.
  std::string packed = TShowContainerWriter::Deflate(Sample(100000));
  auto store = zmtest::MemoryStreamOf(std::string(1000, ' '));
  auto small = MakeRef<TPartialStream>(store.get(), false, 0, 1000);
  EXPECT_THROW(inflator->Inflate(zmtest::MemoryStreamOf(packed).get(), small.get()), EStreamWriteError);
  auto packedSource = zmtest::MemoryStreamOf(packed);
  auto window = MakeRef<TPartialStream>(packedSource.get(), false, 0, 100);
  window->SetReadCallback(
      32768, [](void*, TStream*) { throw EStreamReadError(); }, nullptr);
  EXPECT_THROW(inflator->Inflate(window.get(), dst.get()), EStreamReadError);

  // Still usable after all that.
  auto good = MakeRef<TMemoryStream>();
  inflator->Inflate(zmtest::MemoryStreamOf(TShowContainerWriter::Deflate("fine")).get(), good.get());
  EXPECT_EQ(StreamBytes(good.get()), "fine");
}
