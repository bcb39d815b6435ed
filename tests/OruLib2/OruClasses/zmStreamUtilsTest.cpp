#include "OruLib2/OruClasses/zmStreamUtils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "ZmLib/wpLoadCallBack.h"
#include "tests/support/Capture.h"
#include "tests/support/kit/ShowContainerWriter.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;
using namespace oru;
using zmtest::TShowContainerWriter;
using zmtest::RaisedText;
using zmtest::ReadAllBytes;

namespace {

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

// A memory stream that reports its disposal and the largest read asked of it.
class TTrackedStream : public TMemoryStream {
public:
  explicit TTrackedStream(bool* disposed = nullptr) : disposed_(disposed) {}
  void Dispose() override {
    if (disposed_) *disposed_ = true;
    TMemoryStream::Dispose();
  }
  std::int32_t Read(TReadBuffer b, std::int32_t count, std::int32_t offset) override {
    largestRead = std::max(largestRead, count);
    ++reads;
    return TMemoryStream::Read(b, count, offset);
  }
  using TMemoryStream::Read;
  std::int32_t largestRead = 0;
  int reads = 0;

private:
  bool* disposed_;
};

TRef<TTrackedStream> SourceOf(const std::string& bytes, bool* disposed = nullptr) {
  auto s = MakeRef<TTrackedStream>(disposed);
  s->Write(TWriteBuffer(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  s->SetPosition(0);
  return s;
}

}  // namespace

// ============================================================================
// TPartialStream
// ============================================================================

TEST(PartialStream, WindowMustFitTheSource) {
  auto src = SourceOf(Pattern(100));
  auto empty = MakeRef<TPartialStream>(src.get(), false, 40, 0);
  std::uint8_t b[8];
  EXPECT_EQ(empty->Read(b), 0);
  EXPECT_EQ(empty->GetSize(), 0);

  auto tail = MakeRef<TPartialStream>(src.get(), false, 60, 40);
  EXPECT_EQ(ReadAllBytes(tail.get()), Pattern(100).substr(60));

  for (auto [offset, size] : {std::pair<std::int64_t, std::int64_t>{60, 41}, {101, 0}, {-1, 10}, {10, -1},
                              {INT64_MAX, INT64_MAX}, {1, INT64_MAX}}) {
    EXPECT_EQ(RaisedText([&] { MakeRef<TPartialStream>(src.get(), false, offset, size); }), "EStreamError: Insufficient Source Size")
        << offset << "+" << size;
  }
  EXPECT_EQ(RaisedText([&] { MakeRef<TPartialStream>(nullptr, false, 0, 0); }), "EStreamError: Insufficient Source Size");
}

TEST(PartialStream, OwnedSourceIsFreedWithTheWindowEvenWhenRefused) {
  bool disposed = false;
  auto* src = SourceOf(Pattern(10), &disposed).Detach();
  auto w = MakeRef<TPartialStream>(src, true, 2, 5);
  EXPECT_FALSE(disposed);
  w = nullptr;
  EXPECT_TRUE(disposed);

  disposed = false;
  src = SourceOf(Pattern(10), &disposed).Detach();
  EXPECT_THROW(MakeRef<TPartialStream>(src, true, 2, 50), EStreamError);
  EXPECT_TRUE(disposed);

  // Not owned: the caller's stream stays.
  disposed = false;
  auto kept = SourceOf(Pattern(10), &disposed);
  MakeRef<TPartialStream>(kept.get(), false, 0, 10);
  EXPECT_FALSE(disposed);
}

TEST(PartialStream, PositionsAreRelativeToTheWindow) {
  std::string data = Pattern(1000);
  auto src = SourceOf(data);
  auto w = MakeRef<TPartialStream>(src.get(), false, 300, 200);
  EXPECT_EQ(src->GetPosition(), 300);
  EXPECT_EQ(w->GetPosition(), 0);
  w->SetPosition(150);
  EXPECT_EQ(src->GetPosition(), 450);
  std::uint8_t b[100];
  EXPECT_EQ(w->Read(b), 50);  // only to the window's end
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b), 50), data.substr(450, 50));
  EXPECT_EQ(w->GetPosition(), 200);

  w->SetPosition(200);  // the end is a valid position
  EXPECT_EQ(w->Read(b), 0);
  EXPECT_EQ(RaisedText([&] { w->SetPosition(201); }), "EStreamError: Incorrect Position");
  EXPECT_EQ(RaisedText([&] { w->SetPosition(-1); }), "EStreamError: Incorrect Position");
  EXPECT_EQ(RaisedText([&] { w->SetSize(10); }), "EStreamError: Stream Cannot be resized");
  EXPECT_EQ(w->GetSize(), 200);

  // A shared source moved before the window gives nothing, never bytes outside.
  src->SetPosition(10);
  EXPECT_EQ(w->Read(b), 0);
}

TEST(PartialStream, ReadCallbackRunsAfterEverySmallBlock) {
  auto src = SourceOf(Pattern(1000));
  auto w = MakeRef<TPartialStream>(src.get(), false, 0, 1000);
  EXPECT_EQ(w->BlockSize(), 32768);
  int calls = 0;
  w->SetReadCallback(
      32768, [](void* data, TStream*) { ++*static_cast<int*>(data); }, &calls);
  EXPECT_EQ(w->BlockSize(), 256);
  std::vector<std::uint8_t> b(1000);
  EXPECT_EQ(w->Read(b), 1000);
  EXPECT_EQ(calls, 4);  // 256 + 256 + 256 + 232
  // ...while the source is read in one go, not a read per small block.
  EXPECT_EQ(src->largestRead, 1000);

  w->SetReadCallback(16, [](void* data, TStream*) { ++*static_cast<int*>(data); }, &calls);
  EXPECT_EQ(w->BlockSize(), 16);
  w->SetReadCallback(0, nullptr, nullptr);
  EXPECT_EQ(w->BlockSize(), 32768);
  w->SetPosition(0);
  calls = 0;
  src->largestRead = 0;
  EXPECT_EQ(w->Read(b), 1000);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(src->largestRead, 1000);
}

TEST(PartialStream, LoadCallbackAsReadCallback) {
  static int polls;
  polls = 0;
  TLoadCallbackProc saved = LoadCallbackProc;
  LoadCallbackProc = [] {
    ++polls;
    return true;
  };
  auto src = SourceOf(Pattern(600));
  auto w = MakeRef<TPartialStream>(src.get(), false, 0, 600);
  w->SetReadCallback(32768, &LoadCallbackRead, nullptr);
  std::string got = ReadAllBytes(w.get());
  LoadCallbackProc = saved;
  EXPECT_EQ(got, Pattern(600));
  EXPECT_EQ(polls, 3);
}

TEST(PartialStream, WritesStayInsideTheWindow) {
  std::string data(100, 'x');
  auto src = SourceOf(data);
  auto w = MakeRef<TPartialStream>(src.get(), false, 10, 20);
  w->SetPosition(15);
  std::string text = "0123456789";
  EXPECT_EQ(w->Write(TWriteBuffer(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())), 5);
  std::string expect = data;
  expect.replace(25, 5, "01234");
  std::string whole(reinterpret_cast<const char*>(src->Memory()), 100);
  EXPECT_EQ(whole, expect);

  // CopyFrom fills the window and refuses to spill over it.
  auto from = SourceOf(Pattern(30));
  w->SetPosition(0);
  EXPECT_THROW(w->CopyFrom(from.get(), 30), EStreamWriteError);
  whole.assign(reinterpret_cast<const char*>(src->Memory()), 100);
  EXPECT_EQ(whole.substr(10, 20), Pattern(20));
  EXPECT_EQ(whole.substr(30), data.substr(30));

  from->SetPosition(0);
  w->SetPosition(0);
  EXPECT_EQ(w->CopyFrom(from.get(), 20), 20);
  EXPECT_EQ(w->CopyFrom(from.get(), -3), 0);
}

// ============================================================================
// TCryptStream
// ============================================================================

TEST(CryptStream, ReadingMayStartAnywhere) {
  std::string plain = Pattern(5000);
  std::string key(TShowContainerWriter::kKey);
  auto src = SourceOf(TShowContainerWriter::Encipher(plain));
  auto c = MakeRef<TCryptStream>(src.get(), TByteString(key), false);
  EXPECT_EQ(ReadAllBytes(c.get(), 333), plain);

  // From position 5 the same bytes as from 0 with 5 skipped.
  c->SetPosition(5);
  std::vector<std::uint8_t> b(100);
  ASSERT_EQ(c->Read(b), 100);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data()), 100), plain.substr(5, 100));

  // Random starts and lengths, across key wraps and long runs.
  std::mt19937 rng(7);
  for (int i = 0; i < 200; ++i) {
    std::int64_t at = rng() % 5000;
    std::int32_t n = static_cast<std::int32_t>(rng() % 5000);
    std::vector<std::uint8_t> piece(static_cast<std::size_t>(n) + 3);
    c->SetPosition(at);
    std::int32_t got = c->Read(piece, n, 3);
    ASSERT_EQ(got, std::min<std::int64_t>(n, 5000 - at));
    ASSERT_EQ(std::string(reinterpret_cast<char*>(piece.data()) + 3, static_cast<std::size_t>(got)),
              plain.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(got)));
  }
  EXPECT_EQ(c->GetSize(), 5000);
}

TEST(CryptStream, WrittenBytesReadBackAndTheBufferStaysPlain) {
  auto store = MakeRef<TMemoryStream>();
  auto c = MakeRef<TCryptStream>(store.get(), TByteString("k3y"), false);
  std::string text = Pattern(40000);
  std::string copy = text;
  c->SetPosition(0);
  EXPECT_EQ(c->Write(TWriteBuffer(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())), 40000);
  EXPECT_EQ(text, copy);
  std::string stored(reinterpret_cast<const char*>(store->Memory()), 40000);
  EXPECT_NE(stored, text);
  EXPECT_EQ(static_cast<std::uint8_t>(stored[4]), static_cast<std::uint8_t>(text[4] ^ '3'));  // key byte 4 mod 3
  c->SetPosition(0);
  EXPECT_EQ(ReadAllBytes(c.get()), text);
}

TEST(CryptStream, MaskFollowsTheWindowOfAnEntry) {
  // An entry enciphered on its own, stored at file position 1003.
  std::string entry = Pattern(777);
  std::string file = std::string(1003, 'p') + TShowContainerWriter::Encipher(entry) + "tail";
  auto src = SourceOf(file);
  auto c = MakeRef<TCryptStream>(MakeRef<TPartialStream>(src.get(), false, 1003, 777).Detach(),
                                 TByteString(std::string(TShowContainerWriter::kKey)), true);
  EXPECT_EQ(ReadAllBytes(c.get(), 100), entry);
}

TEST(CryptStream, NeedsASourceAndAKey) {
  zmtest::TDebugCapture quiet;
  auto src = SourceOf("abc");
  std::string m = RaisedText([&] { MakeRef<TCryptStream>(src.get(), TByteString(""), false); });
  EXPECT_NE(m.find("EAbort: Asseertion with message: 'TCryptStream.Create"), std::string::npos) << m;
  EXPECT_NE(m.find("zmStreamUtils"), std::string::npos) << m;
  EXPECT_THROW(MakeRef<TCryptStream>(nullptr, TByteString("k"), false), EAbort);

  bool disposed = false;
  auto* owned = SourceOf("abc", &disposed).Detach();
  EXPECT_THROW(MakeRef<TCryptStream>(owned, TByteString(""), true), EAbort);
  EXPECT_TRUE(disposed);
}
