#include "OruLib2/OruClasses/zmStreamUtils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/zmHookScope.h"
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
    return TMemoryStream::Read(b, count, offset);
  }
  using TMemoryStream::Read;
  std::int32_t largestRead = 0;

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

TEST(PartialStream, WindowMustFitTheSource) {
  auto src = SourceOf(Pattern(100));
  std::uint8_t b[8];
  EXPECT_EQ(MakeRef<TPartialStream>(src.get(), false, 40, 0)->Read(b), 0);
  EXPECT_EQ(ReadAllBytes(MakeRef<TPartialStream>(src.get(), false, 60, 40).get()), Pattern(100).substr(60));
  for (auto [offset, size] : {std::pair<std::int64_t, std::int64_t>{60, 41}, {101, 0}, {-1, 10}, {10, -1},
                              {INT64_MAX, INT64_MAX}, {1, INT64_MAX}}) {
    // Copies: clang 14 cannot capture structured bindings.
    EXPECT_EQ(RaisedText([&, offset = offset, size = size] {
                MakeRef<TPartialStream>(src.get(), false, offset, size);
              }),
              "EStreamError: Insufficient Source Size")
        << offset << "+" << size;
  }
  EXPECT_THROW(MakeRef<TPartialStream>(nullptr, false, 0, 0), EStreamError);

  // An owned source goes with the window, also when the window is refused.
  bool disposed = false;
  auto w = MakeRef<TPartialStream>(SourceOf(Pattern(10), &disposed).Detach(), true, 2, 5);
  w = nullptr;
  EXPECT_TRUE(disposed);
  disposed = false;
  EXPECT_THROW(MakeRef<TPartialStream>(SourceOf(Pattern(10), &disposed).Detach(), true, 2, 50), EStreamError);
  EXPECT_TRUE(disposed);
}

TEST(PartialStream, PositionsAreRelativeToTheWindow) {
  std::string data = Pattern(1000);
  auto src = SourceOf(data);
  auto w = MakeRef<TPartialStream>(src.get(), false, 300, 200);
  w->SetPosition(150);
  std::uint8_t b[100];
  EXPECT_EQ(w->Read(b), 50);  // only to the window's end
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b), 50), data.substr(450, 50));

  w->SetPosition(200);  // the end is a valid position
  EXPECT_EQ(w->Read(b), 0);
  EXPECT_EQ(RaisedText([&] { w->SetPosition(201); }), "EStreamError: Incorrect Position");
  EXPECT_EQ(RaisedText([&] { w->SetSize(10); }), "EStreamError: Stream Cannot be resized");
  // A shared source moved before the window gives nothing, never bytes outside.
  src->SetPosition(10);
  EXPECT_EQ(w->Read(b), 0);
}

TEST(PartialStream, MemoryViewIsTheWindowsPartOfTheSourceMemory) {
  std::string data = Pattern(1000);
  auto src = SourceOf(data);
  auto w = MakeRef<TPartialStream>(src.get(), false, 300, 200);
  auto inner = MakeRef<TPartialStream>(w.get(), false, 50, 100);
  const std::span<const std::uint8_t> v = inner->MemoryView();
  ASSERT_EQ(v.size(), 100u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(v.data()), v.size()), data.substr(350, 100));
  // Bytes not in memory as they read: none, never the wrong ones.
  auto masked = MakeRef<TPartialStream>(MakeRef<TCryptStream>(src.get(), "k", false).Detach(), true, 0, 10);
  EXPECT_TRUE(masked->MemoryView().empty());
  src->SetSize(400);  // the source shrank below the window's end
  EXPECT_TRUE(w->MemoryView().empty());
  EXPECT_TRUE(inner->MemoryView().empty());
}

TEST(PartialStream, ReadCallbackRunsAfterEverySmallBlock) {
  // The load callback as the read callback polls once a block of 256 bytes...
  static int polls;
  polls = 0;
  zm::THookScope callback(LoadCallbackProc, [] {
    ++polls;
    return true;
  });
  auto src = SourceOf(Pattern(1000));
  auto w = MakeRef<TPartialStream>(src.get(), false, 0, 1000);
  w->SetReadCallback(32768, &LoadCallbackRead, nullptr);
  EXPECT_EQ(w->BlockSize(), 256);
  std::string got = ReadAllBytes(w.get(), 1000);
  callback.Restore();
  EXPECT_EQ(got, Pattern(1000));
  EXPECT_EQ(polls, 4);  // 256 + 256 + 256 + 232
  // ...while the source is read in one go, not a read per small block.
  EXPECT_EQ(src->largestRead, 1000);
}

TEST(CryptStream, ReadingMayStartAnywhere) {
  std::string plain = Pattern(5000);
  auto src = SourceOf(TShowContainerWriter::Encipher(plain));
  auto c = MakeRef<TCryptStream>(src.get(), TByteString(std::string(TShowContainerWriter::kKey)), false);
  EXPECT_EQ(ReadAllBytes(c.get(), 333), plain);
  // From position 5 the same bytes as from 0 with 5 skipped; random starts
  // and lengths, across key wraps and long runs.
  std::mt19937 rng(7);
  for (int i = 0; i < 200; ++i) {
    std::int64_t at = i == 0 ? 5 : rng() % 5000;
    std::int32_t n = static_cast<std::int32_t>(rng() % 5000);
    std::vector<std::uint8_t> piece(static_cast<std::size_t>(n) + 3);
    c->SetPosition(at);
    std::int32_t got = c->Read(piece, n, 3);
    ASSERT_EQ(got, std::min<std::int64_t>(n, 5000 - at));
    ASSERT_EQ(std::string(reinterpret_cast<char*>(piece.data()) + 3, static_cast<std::size_t>(got)),
              plain.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(got)));
  }
}

TEST(CryptStream, WrittenBytesReadBackAndTheBufferStaysPlain) {
  auto store = MakeRef<TMemoryStream>();
  auto c = MakeRef<TCryptStream>(store.get(), TByteString("k3y"), false);
  std::string text = Pattern(40000);
  std::string copy = text;
  EXPECT_EQ(c->Write(TWriteBuffer(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())), 40000);
  EXPECT_EQ(text, copy);
  std::string stored(reinterpret_cast<const char*>(store->Memory()), 40000);
  EXPECT_EQ(static_cast<std::uint8_t>(stored[4]), static_cast<std::uint8_t>(text[4] ^ '3'));  // key byte 4 mod 3
  c->SetPosition(0);
  EXPECT_EQ(ReadAllBytes(c.get()), text);
}

TEST(CryptStream, NeedsASourceAndAKey) {
  zmtest::TDebugCapture quiet;
  auto src = SourceOf("abc");
  std::string m = RaisedText([&] { MakeRef<TCryptStream>(src.get(), TByteString(""), false); });
  EXPECT_NE(m.find("EAbort: Asseertion with message: 'TCryptStream.Create"), std::string::npos) << m;
  EXPECT_THROW(MakeRef<TCryptStream>(nullptr, TByteString("k"), false), EAbort);
  bool disposed = false;
  EXPECT_THROW(MakeRef<TCryptStream>(SourceOf("abc", &disposed).Detach(), TByteString(""), true), EAbort);
  EXPECT_TRUE(disposed);
}
