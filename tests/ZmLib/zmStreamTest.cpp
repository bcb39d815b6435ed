#include "ZmLib/zmStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/support/kit/StreamBytes.h"

using namespace zm;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A source that cannot tell its size and gives fewer bytes than asked for.
class TDribble : public TStream {
public:
  explicit TDribble(int total) : left_(total) {}
  std::int64_t GetPosition() override { return pos_; }
  void SetPosition(std::int64_t p) override { pos_ = p; }
  std::int64_t GetSize() override { return size_; }
  void SetSize(std::int64_t) override {}
  std::int32_t Read(TReadBuffer b, std::int32_t count, std::int32_t offset) override {
    std::int32_t n = std::min({count, 7, left_});
    for (std::int32_t i = 0; i < n; ++i) b[static_cast<std::size_t>(offset + i)] = 0xAB;
    left_ -= n;
    pos_ += n;
    return n;
  }
  std::int32_t Write(TWriteBuffer, std::int32_t, std::int32_t) override { return 0; }
  std::int64_t size_ = -1;

private:
  std::int32_t left_;
  std::int64_t pos_ = 0;
};

}  // namespace

TEST(MemoryStream, PositionAndReadsStayInBounds) {
  auto s = zmtest::MemoryStreamOf(Bytes{1, 2, 3, 4});
  s->SetPosition(-5);
  EXPECT_EQ(s->GetPosition(), 0);
  s->SetPosition(s->GetSize() + 10);
  EXPECT_EQ(s->GetPosition(), 4);
  s->SetPosition(0);
  std::uint8_t buf[2] = {0, 0};
  EXPECT_EQ(s->Read(buf, 2, 2), 0);
  EXPECT_EQ(s->GetPosition(), 0);
  EXPECT_EQ(s->Read(buf, 5, -3), 2);  // negative offset counts as 0, count cut to the buffer
  EXPECT_EQ(buf[1], 2);
  EXPECT_EQ(s->Read(buf, 5, 1), 1);
  EXPECT_EQ(buf[1], 3);
}

TEST(MemoryStream, GrowthSizeAndLimits) {
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  s->WriteByte(7);
  EXPECT_EQ(s->Capacity(), 16);
  EXPECT_EQ(s->GetSize(), 1);
  // The claimed buffer is never touched: growth fails first, without raising.
  std::uint8_t small[4] = {};
  EXPECT_EQ(s->Write(TWriteBuffer(small, 0x20000000), 0x20000000, 0), 0);
  s->SetSize(std::int64_t(1) << 40);
  EXPECT_EQ(s->GetSize(), 1);
  s = zmtest::MemoryStreamOf(Bytes{1, 2, 3, 4, 5});
  s->SetPosition(5);
  s->SetSize(3);
  EXPECT_EQ(s->GetPosition(), 3);
  s->SetSize(-1);
  EXPECT_EQ(s->GetSize(), 0);
}

TEST(Stream, TypedValuesInBothByteOrders) {
  auto s = zmtest::MemoryStreamOf(Bytes{0x12, 0x34});
  EXPECT_EQ(s->ReadWordBE(), 0x1234);
  s->SetPosition(0);
  EXPECT_EQ(s->ReadWord(), 0x3412);
  s = zmtest::MemoryStreamOf(Bytes{0xFF, 0xFE, 1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 0x80});
  EXPECT_EQ(s->ReadSmallIntBE(), -2);
  EXPECT_EQ(s->ReadDWordBE(), 0x01020304u);
  EXPECT_EQ(s->ReadInt64(), static_cast<std::int64_t>(0x8007060504030201ull));
  s = MakeRef<TMemoryStream>();
  s->WriteWideChar(u'\u20AC');
  s->WriteSingle(1.5f);
  EXPECT_EQ(s->Memory()[0], 0xAC);
  s->SetPosition(0);
  EXPECT_EQ(s->ReadWord(), 0x20AC);
  EXPECT_EQ(s->ReadSingle(), 1.5f);
  try {
    s->ReadWord();
    FAIL();
  } catch (const EStreamReadError& e) {
    EXPECT_STREQ(e.what(), "Tavrel Exception: \"EStreamReadError\"");
  }
  TDribble sink(0);
  EXPECT_THROW(sink.WriteInteger(1), EStreamWriteError);
  std::uint8_t b[3] = {1, 2, 3};
  EXPECT_EQ(sink.WriteData(b, 3), 0);  // the plain form never raises
}

TEST(Stream, TextWritersAndReaders) {
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  s->WriteAnsiString(TByteString("hello"));
  s->WriteAnsiRange(TByteString("abcdef"), 2, 3);
  s->WriteAnsiRange(TByteString("xy"), 0, 50);  // start below 1 counts as 1; count cut
  s->WriteWideString(u"\u00E9\u00E9");
  s->WriteWideRange(u"ABCD", 3, 9);
  EXPECT_EQ(s->GetSize(), 5 + 3 + 2 + 4 + 4);
  EXPECT_EQ(std::memcmp(s->Memory(), "hellobcdxy\xE9", 11), 0);
  // Clamped to the characters available from Start; stops after a short piece.
  s->SetPosition(10);
  WideString back(u"__");
  EXPECT_EQ(s->ReadWideChars(back, 0, 5), 2);
  EXPECT_EQ(back, u"\u00E9\u00E9");
  s->SetPosition(s->GetSize() - 3);
  WideString tail(u"....");
  EXPECT_EQ(s->ReadWideChars(tail, 1, 4), 1);
  TByteString a("------");
  s->SetPosition(0);
  EXPECT_EQ(s->ReadAnsiChars(a, 2, 100), 5);  // clamped to the string
  EXPECT_EQ(a.Str(), "-hello");
}

TEST(Stream, LoadAndCopy) {
  auto src = zmtest::MemoryStreamOf(Bytes{9, 8, 7, 6});
  src->SetPosition(3);
  TRef<TMemoryStream> dst = MakeRef<TMemoryStream>();
  dst->LoadFromStream(src.get());
  EXPECT_EQ(src->GetPosition(), 3);
  EXPECT_EQ(dst->GetPosition(), 0);
  EXPECT_EQ(dst->Memory()[3], 6);
  // A memory source is cut to what it holds from its position.
  src->SetPosition(1);
  EXPECT_EQ(dst->CopyFrom(src.get(), 100), 3);
  // A source that delivers less than its size.
  TRef<TDribble> liar = MakeRef<TDribble>(10);
  liar->size_ = 20;
  EXPECT_THROW(dst->LoadFromStream(liar.get()), EStreamError);
  // A source that runs dry early gives what came; unknown sizes load until it is dry.
  dst = MakeRef<TMemoryStream>();
  TRef<TDribble> dry = MakeRef<TDribble>(100);
  EXPECT_EQ(dst->CopyFrom(dry.get(), 1000), 100);
  EXPECT_EQ(dst->CopyFrom(dry.get(), -4), 0);
  dst->LoadFromStream(MakeRef<TDribble>(50).get());
  EXPECT_EQ(dst->GetSize(), 50);
}

TEST(Stream, StringStreamAndDefaultHooks) {
  TRef<TStringStream> s = MakeRef<TStringStream>(TByteString("abc"));
  s->SetPosition(3);
  s->WriteAnsiString(TByteString("def"));
  EXPECT_EQ(s->DataString().Str(), "abcdef");
  EXPECT_THROW(DefaultReadFile(u"x"), EAbort);  // the hooks must be set
  EXPECT_THROW(DefaultWriteFile(u"x", true), EAbort);
}
