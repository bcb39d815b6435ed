// The ini text form: tokenizer, loader and text savers.
#include "ZmLib/zmIniParser2.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/PlatText.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/zmIniInterfaces.h"
#include "tests/support/EnvGuard.h"

using namespace zm;

namespace {

struct TLine {
  int Kind;
  std::string Name, Value;
  int Indent, LineEnd;
  friend bool operator==(const TLine&, const TLine&) = default;
};

std::ostream& operator<<(std::ostream& os, const TLine& l) {
  return os << "{" << l.Kind << ", '" << l.Name << "', '" << l.Value << "', " << l.Indent << ", " << l.LineEnd << "}";
}

std::vector<TLine> Lines(const std::string& text) {
  TIniTokenizer t{TByteString(text)};
  std::vector<TLine> out;
  while (!t.AtEnd()) {
    std::int32_t before = t.Position;
    int kind = t.ParseIniLine();
    EXPECT_GT(t.Position, before);  // every step moves on
    out.push_back({kind, t.Name().Str(), t.Value().Str(), t.Indentation, t.LineEndKind});
  }
  return out;
}

TLine One(const std::string& line) {
  std::vector<TLine> v = Lines(line);
  EXPECT_EQ(v.size(), 1u) << line;
  return v.empty() ? TLine{} : v[0];
}

// A stream over fixed bytes that may claim another size and hand out its
// bytes in small parts.
class TFakeStream : public TStream {
public:
  TFakeStream(std::string data, std::int64_t claimed, std::int32_t chunk = 1 << 30)
      : data_(std::move(data)), claimed_(claimed), chunk_(chunk) {}
  std::int64_t GetPosition() override { return pos_; }
  void SetPosition(std::int64_t p) override { pos_ = p; }
  std::int64_t GetSize() override { return claimed_; }
  void SetSize(std::int64_t) override {}
  std::int32_t Read(TReadBuffer b, std::int32_t count, std::int32_t offset) override {
    ++Reads;
    std::int64_t left = static_cast<std::int64_t>(data_.size()) - pos_;
    std::int32_t n = static_cast<std::int32_t>(std::max<std::int64_t>(0, std::min<std::int64_t>({count, left, chunk_})));
    for (std::int32_t i = 0; i < n; ++i) b[static_cast<std::size_t>(offset + i)] = static_cast<std::uint8_t>(data_[pos_ + i]);
    pos_ += n;
    return n;
  }
  std::int32_t Write(TWriteBuffer, std::int32_t, std::int32_t) override { return 0; }
  void Dispose() override {
    if (Freed) *Freed = true;
    TStream::Dispose();
  }
  int Reads = 0;
  bool* Freed = nullptr;

private:
  std::string data_;
  std::int64_t claimed_;
  std::int32_t chunk_;
  std::int64_t pos_ = 0;
};

bool Load(const std::string& bytes, std::string& text, std::uint32_t codePage = 0) {
  TByteString t;
  bool ok = LoadIniText(MakeRef<TFakeStream>(bytes, bytes.size()).Detach(), true, codePage, t);
  text = t.Str();
  return ok;
}

}  // namespace

TEST(IniTokenizer, LineKinds) {
  EXPECT_EQ(One("  Name One  =  a value \t "), (TLine{kIniKeyLine, "Name One", "a value", 2, 0}));
  EXPECT_EQ(One("k=   \r\n"), (TLine{kIniKeyLine, "k", "", 0, kIniCrLf}));
  // No quoting: everything after the first "=" is the value.
  EXPECT_EQ(One("a=b=c;d[e]:f"), (TLine{kIniKeyLine, "a", "b=c;d[e]:f", 0, 0}));
  EXPECT_EQ(One("\t\x01" "x\xC3\xA9=\xE2\x82\xAC"), (TLine{kIniKeyLine, "x\xC3\xA9", "\xE2\x82\xAC", 2, 0}));
  EXPECT_EQ(One("=value"), (TLine{kIniTextLine, "", "=value", 0, 0}));
  EXPECT_EQ(One("  ; comment = x  "), (TLine{kIniTextLine, "", "; comment = x", 2, 0}));
  // A "[" without "]" on its line is text.
  EXPECT_EQ(Lines("[a\n]"), (std::vector<TLine>{{kIniTextLine, "", "[a", 0, kIniLf}, {kIniTextLine, "", "]", 0, 0}}));
  EXPECT_EQ(One("[  main  ] trailing = text"), (TLine{kIniSectionLine, "main", "", 0, 0}));
  EXPECT_EQ(One("[]"), (TLine{kIniSectionLine, "", "", 0, 0}));
  EXPECT_EQ(One(" [Slide 1]\r"), (TLine{kIniSectionLine, "Slide 1", "", 1, kIniCr}));
  EXPECT_EQ(One("OBJECT  Name  :  Type  "), (TLine{kIniObjectLine, "Name", "Type", 0, 0}));
  EXPECT_EQ(One("object a:b:c"), (TLine{kIniObjectLine, "a:b", "c", 0, 0}));
  EXPECT_EQ(One("object"), (TLine{kIniObjectLine, "", "", 0, 0}));
  EXPECT_EQ(One("  object :Image"), (TLine{kIniObjectLine, "", "Image", 2, 0}));
  EXPECT_EQ(One("object  = 5"), (TLine{kIniKeyLine, "object", "5", 0, 0}));
  EXPECT_EQ(One("objects"), (TLine{kIniTextLine, "", "objects", 0, 0}));
  EXPECT_EQ(One("ObJeCt\xC3\xA9"), (TLine{kIniObjectLine, "\xC3\xA9", "", 0, 0}));
  EXPECT_EQ(One("  eNd  anything"), (TLine{kIniEndLine, "", "", 2, 0}));
  EXPECT_EQ(One("ending"), (TLine{kIniTextLine, "", "ending", 0, 0}));
  EXPECT_EQ(One("end = 3"), (TLine{kIniKeyLine, "end", "3", 0, 0}));
}

TEST(IniTokenizer, LineEndsMixed) {
  std::vector<TLine> v = Lines("a=1\r\nb=2\n\rc=3\rd=4\ne=5");
  ASSERT_EQ(v.size(), 5u);
  const int ends[] = {kIniCrLf, kIniLfCr, kIniCr, kIniLf, 0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(v[std::size_t(i)].LineEnd, ends[i]) << i;
  // Two equal line-end bytes are two lines.
  v = Lines("a\n\nb\r\rc");
  ASSERT_EQ(v.size(), 5u);
  EXPECT_EQ(v[1], (TLine{kIniTextLine, "", "", 0, kIniLf}));
  EXPECT_EQ(v[3], (TLine{kIniTextLine, "", "", 0, kIniCr}));
  // Binary bytes below 32 are blanks; none of them stops the scan.
  EXPECT_EQ(One(std::string("\0\0k\0=\0v\0\0", 10)), (TLine{kIniKeyLine, "k", "v", 2, 0}));
}

TEST(IniLoader, Encodings) {
  std::string text;
  EXPECT_TRUE(Load("\xEF\xBB\xBF" "a=\xC3\xA9", text));
  EXPECT_EQ(text, "a=\xC3\xA9");
  // UTF-16 little-endian, with a surrogate pair.
  EXPECT_TRUE(Load(std::string("\xFF\xFE" "a\0=\0\xE9\0\x3D\xD8\x00\xDE", 12), text));
  EXPECT_EQ(text, "a=\xC3\xA9\xF0\x9F\x98\x80");
  // Without a mark: valid UTF-8 stays, anything else is in the ANSI code
  // page, Windows-1252 for a Western locale.
  const std::uint32_t savedAnsi = plat::AnsiCodePage();
  plat::SetAnsiCodePage(1252);
  EXPECT_TRUE(Load("k=\xE9\x80", text));
  EXPECT_EQ(text, "k=\xC3\xA9\xE2\x82\xAC");
  // A Russian locale reads Windows-1251, a Japanese one Shift-JIS; UTF-8 stays.
  zmtest::TEnvGuard env;
  env.Unset("LC_ALL");
  env.Unset("LC_CTYPE");
  env.Set("LANG", "ru_RU.UTF-8");
  ApplyLocaleCodePage();
  EXPECT_EQ(plat::AnsiCodePage(), 1251u);
  EXPECT_TRUE(Load("k=\xE9", text));
  EXPECT_EQ(text, "k=\xD0\xB9");
  EXPECT_TRUE(Load("k=\xC3\xA9", text));
  EXPECT_EQ(text, "k=\xC3\xA9");
  env.Set("LC_CTYPE", "ja_JP.UTF-8");  // character handling wins over LANG
  ApplyLocaleCodePage();
  EXPECT_TRUE(Load("k=\x93\xFA", text));
  EXPECT_EQ(text, "k=\xE6\x97\xA5");
  env.Set("LC_ALL", "C.UTF-8");
  ApplyLocaleCodePage();
  EXPECT_EQ(plat::AnsiCodePage(), 1252u);
  // A page this system cannot convert reads as Windows-1252.
  plat::SetAnsiCodePage(4242);
  EXPECT_TRUE(Load("k=\xE9", text));
  EXPECT_EQ(text, "k=\xC3\xA9");
  plat::SetAnsiCodePage(savedAnsi);
  EXPECT_TRUE(Load("k=\xE9", text, 1251));
  EXPECT_EQ(text, "k=\xD0\xB9");
  EXPECT_TRUE(Load("\xFF\xFE\x41", text));  // an odd byte after the mark is dropped
  EXPECT_EQ(text, "");
  EXPECT_FALSE(Load("k=v", text, 4242));  // a code page this system cannot read
  EXPECT_EQ(text, "");
}

TEST(IniLoader, ShortAndOversizedStreams) {
  TByteString text("junk");
  for (const std::string& head : {std::string("\xEF\xBB\xBF" "abc"), std::string("\xFF\xFE" "a\0", 4),
                                  std::string("abc")}) {
    bool freed = false;
    auto* s = MakeRef<TFakeStream>(head, 100).Detach();
    s->Freed = &freed;
    EXPECT_FALSE(LoadIniText(s, true, 0, text));
    EXPECT_TRUE(freed);
    EXPECT_TRUE(text.IsEmpty());
  }
  // Parts arriving one byte at a time are read whole.
  TRef<TFakeStream> slow = MakeRef<TFakeStream>("\xEF\xBB\xBFkey=value", 12, 1);
  EXPECT_TRUE(LoadIniText(slow.get(), false, 0, text));
  EXPECT_EQ(text.Str(), "key=value");
  EXPECT_FALSE(LoadIniText(nullptr, true, 0, text));
  // A stream that cannot tell its size.
  EXPECT_FALSE(LoadIniText(MakeRef<TFakeStream>("a=b", -1).Detach(), true, 0, text));
  // One byte over: refused before anything is read.
  TRef<TFakeStream> big = MakeRef<TFakeStream>("a=b", kMaxIniTextSize + 1);
  EXPECT_FALSE(LoadIniText(big.get(), false, 0, text));
  EXPECT_EQ(big->Reads, 0);
  // The rest from the stream's position is what counts.
  TRef<TFakeStream> mid = MakeRef<TFakeStream>("xxxxa=b", 7);
  mid->SetPosition(4);
  EXPECT_TRUE(LoadIniText(mid.get(), false, 0, text));
  EXPECT_EQ(text.Str(), "a=b");
}

TEST(TextSavers, BuffersFlushesAndFailures) {
  TRef<TMemoryStream> m = MakeRef<TMemoryStream>();
  {
    TRef<TStreamTextSaver> s = MakeRef<TStreamTextSaver>(m.get(), false);
    s->WriteBOM();
    s->WriteIndent(0);
    s->WriteIndent(-3);
    s->WriteIndent(3);
    s->WriteLine(u"\u00E9t\u00E9");
    s->WriteText(u"abcdef", 0, 2);   // a start below 1 counts as 1
    s->WriteText(u"abcdef", 5, 99);  // clamped to the end
    s->WriteText(u"abcdef", 9, 2);   // past the end: nothing
    EXPECT_EQ(m->GetSize(), 0);      // still in the buffer
    s->WriteBytes(TByteString(std::string(40000, 'x')));
    EXPECT_EQ(m->GetSize(), 32768);
    s->WriteBytes(TByteString("0123456789"), 8, 5);
  }  // freed: closed and flushed
  std::string expected = "\xEF\xBB\xBF   \xC3\xA9t\xC3\xA9\r\nabef" + std::string(40000, 'x') + "89";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m->Memory()), static_cast<std::size_t>(m->GetSize())), expected);
  bool freed = false;
  auto* f = MakeRef<TFakeStream>("", 0).Detach();
  f->Freed = &freed;
  TRef<TStreamTextSaver> s = MakeRef<TStreamTextSaver>(f, true);
  s->WriteLine(u"x");
  // The fake stream takes no bytes: the flush reports it.
  EXPECT_THROW(s->Close(), EStreamWriteError);
  EXPECT_TRUE(freed);
}
