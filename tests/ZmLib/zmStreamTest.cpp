#include "ZmLib/zmStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace zm;

namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> l) {
  std::vector<std::uint8_t> v;
  for (int b : l) v.push_back(static_cast<std::uint8_t>(b));
  return v;
}

TRef<TMemoryStream> StreamOf(const std::vector<std::uint8_t>& b) {
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  s->Write(b);
  s->SetPosition(0);
  return s;
}

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

TEST(MemoryStream, PositionIsClampedToData) {
  auto s = StreamOf(Bytes({1, 2, 3, 4}));
  s->SetPosition(-5);
  EXPECT_EQ(s->GetPosition(), 0);
  s->SetPosition(s->GetSize() + 10);
  EXPECT_EQ(s->GetPosition(), 4);
  EXPECT_EQ(s->GetRemaining(), 0);
}

TEST(MemoryStream, ReadAtBufferEndOrNegativeOffset) {
  auto s = StreamOf(Bytes({1, 2, 3}));
  std::uint8_t buf[2] = {0, 0};
  EXPECT_EQ(s->Read(buf, 2, 2), 0);
  EXPECT_EQ(s->GetPosition(), 0);
  EXPECT_EQ(s->Read(buf, 5, -3), 2);  // negative offset counts as 0, count cut to the buffer
  EXPECT_EQ(buf[1], 2);
  EXPECT_EQ(s->Read(buf, 5, 1), 1);
  EXPECT_EQ(buf[1], 3);
  EXPECT_EQ(s->Read(buf, 5, 0), 0);
}

TEST(MemoryStream, CapacityGrowthSteps) {
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  std::uint8_t b = 7;
  s->Write(TWriteBuffer(&b, 1));
  EXPECT_EQ(s->Capacity(), 16);
  EXPECT_EQ(s->GetSize(), 1);
  std::vector<int> caps;
  for (int i = 1; i < 600; ++i) {
    s->Write(TWriteBuffer(&b, 1));
    if (caps.empty() || caps.back() != s->Capacity()) caps.push_back(s->Capacity());
  }
  EXPECT_EQ(caps, (std::vector<int>{16, 32, 48, 112, 176, 240, 304, 608}));
}

TEST(MemoryStream, WriteIsRefusedBeyondTheLimitWithoutRaising) {
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  std::uint8_t small[4] = {};
  // The claimed buffer is never touched: growth fails first.
  TWriteBuffer huge(small, 0x20000000);
  EXPECT_EQ(s->Write(huge, 0x20000000, 0), 0);
  EXPECT_EQ(s->GetSize(), 0);
  s->SetSize(std::int64_t(1) << 40);
  EXPECT_EQ(s->GetSize(), 0);
}

TEST(MemoryStream, SetSizeAndClear) {
  auto s = StreamOf(Bytes({1, 2, 3, 4, 5}));
  s->SetPosition(5);
  s->SetSize(3);
  EXPECT_EQ(s->GetPosition(), 3);
  s->SetSize(10);
  EXPECT_EQ(s->GetSize(), 10);
  EXPECT_EQ(s->Memory()[2], 3);
  s->SetSize(-1);
  EXPECT_EQ(s->GetSize(), 0);
  EXPECT_EQ(s->Capacity(), 0);
}

TEST(Stream, TypedReadsInBothByteOrders) {
  auto s = StreamOf(Bytes({0x12, 0x34}));
  EXPECT_EQ(s->ReadWordBE(), 0x1234);
  s->SetPosition(0);
  EXPECT_EQ(s->ReadWord(), 0x3412);
  s = StreamOf(Bytes({0xFF, 0xFE, 1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 0x80}));
  EXPECT_EQ(s->ReadSmallIntBE(), -2);
  EXPECT_EQ(s->ReadCardinal(), 0x04030201u);
  EXPECT_EQ(s->ReadDWordBE(), 0x01020304u);
  EXPECT_EQ(s->ReadInt64(), static_cast<std::int64_t>(0x8007060504030201ull));
  EXPECT_THROW(s->ReadByte(), EStreamReadError);
}

TEST(Stream, TypedWritesRoundTrip) {
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  s->WriteByte(0xAA);
  s->WriteWord(0x1234);
  s->WriteWideChar(u'\u20AC');
  s->WriteInteger(-2);
  s->WriteSingle(1.5f);
  EXPECT_EQ(s->GetSize(), 1 + 2 + 2 + 4 + 4);
  EXPECT_EQ(s->Memory()[1], 0x34);
  EXPECT_EQ(s->Memory()[3], 0xAC);
  s->SetPosition(0);
  EXPECT_EQ(s->ReadByte(), 0xAA);
  EXPECT_EQ(s->ReadWord(), 0x1234);
  EXPECT_EQ(s->ReadWord(), 0x20AC);
  EXPECT_EQ(s->ReadInteger(), -2);
  EXPECT_EQ(s->ReadSingle(), 1.5f);
  try {
    s->ReadWord();
    FAIL();
  } catch (const EStreamReadError& e) {
    EXPECT_STREQ(e.what(), "Tavrel Exception: \"EStreamReadError\"");
  }
}

TEST(Stream, ShortWriteRaises) {
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
  WideString w(1500, u'\u00E9');
  s->WriteWideString(w);
  s->WriteWideRange(u"ABCD", 3, 9);
  EXPECT_EQ(s->GetSize(), 5 + 3 + 2 + 3000 + 4);
  EXPECT_EQ(std::memcmp(s->Memory(), "hellobcdxy", 10), 0);
  s->SetPosition(10);
  WideString back(1502, u' ');
  EXPECT_EQ(s->ReadWideChars(back, 1, 5000), 1502);
  EXPECT_EQ(back.substr(1498), u"\u00E9\u00E9CD");
  // Clamped to the characters available from Start.
  s->SetPosition(10);
  WideString two(u"__");
  EXPECT_EQ(s->ReadWideChars(two, 0, 5), 2);
  EXPECT_EQ(two, u"\u00E9\u00E9");
  // Stops after a short piece.
  s->SetPosition(s->GetSize() - 3);
  WideString tail(u"....");
  EXPECT_EQ(s->ReadWideChars(tail, 1, 4), 1);
  TByteString a("------");
  s->SetPosition(0);
  EXPECT_EQ(s->ReadAnsiChars(a, 2, 100), 5);
  EXPECT_EQ(a.Str(), "-hello");
}

TEST(Stream, LoadFromStreamKeepsSourcePosition) {
  auto src = StreamOf(Bytes({9, 8, 7, 6}));
  src->SetPosition(3);
  TRef<TMemoryStream> dst = MakeRef<TMemoryStream>();
  dst->LoadFromStream(src.get());
  EXPECT_EQ(src->GetPosition(), 3);
  EXPECT_EQ(dst->GetPosition(), 0);
  EXPECT_EQ(dst->GetSize(), 4);
  EXPECT_EQ(dst->Memory()[3], 6);
}

TEST(Stream, LoadFromStreamThatDeliversLessThanItsSizeRaises) {
  TRef<TDribble> src = MakeRef<TDribble>(10);
  src->size_ = 20;
  TRef<TMemoryStream> dst = MakeRef<TMemoryStream>();
  EXPECT_THROW(dst->LoadFromStream(src.get()), EStreamError);
}

TEST(Stream, CopyFromSourceThatRunsDryReturnsWhatCame) {
  TRef<TDribble> src = MakeRef<TDribble>(100);
  TRef<TMemoryStream> dst = MakeRef<TMemoryStream>();
  EXPECT_EQ(dst->CopyFrom(src.get(), 1000), 100);
  EXPECT_EQ(dst->GetSize(), 100);
  EXPECT_EQ(dst->CopyFrom(src.get(), -4), 0);
  // Unknown size: LoadFromStream copies until the source gives no more.
  TRef<TDribble> src2 = MakeRef<TDribble>(50);
  dst->LoadFromStream(src2.get());
  EXPECT_EQ(dst->GetSize(), 50);
}

TEST(Stream, MemoryCopyFromIsCutToTheSource) {
  auto src = StreamOf(Bytes({1, 2, 3, 4, 5, 6}));
  src->SetPosition(2);
  TRef<TMemoryStream> dst = MakeRef<TMemoryStream>();
  EXPECT_EQ(dst->CopyFrom(src.get(), 100), 4);
  EXPECT_EQ(dst->GetSize(), 4);
  EXPECT_EQ(dst->Memory()[0], 3);
}

TEST(StringStream, WrapsAndGrowsItsText) {
  TRef<TStringStream> s = MakeRef<TStringStream>(TByteString("abc"));
  EXPECT_EQ(s->GetSize(), 3);
  EXPECT_EQ(s->GetPosition(), 0);
  s->SetPosition(3);
  s->WriteAnsiString(TByteString("def"));
  EXPECT_EQ(s->DataString().Str(), "abcdef");
  s->SetPosition(1);
  EXPECT_EQ(s->ReadByte(), 'b');
}

TEST(StreamHooks, DefaultsAssert) {
  try {
    DefaultReadFile(u"x");
    FAIL();
  } catch (const EAbort& e) {
    EXPECT_NE(std::string(e.what()).find("zmStream.ReadFile not Assigned"), std::string::npos);
  }
  EXPECT_THROW(DefaultWriteFile(u"x", true), EAbort);
}
