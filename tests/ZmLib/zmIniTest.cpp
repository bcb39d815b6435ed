// The ini document model: parsing into the tree, saving in the normalised
// form, lookups, editing, values and the load and save operations.
#include "ZmLib/zmIni.h"

#include <gtest/gtest.h>

#include <string>

#include "Platform/PlatUtf8.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/zmStringList.h"
#include "tests/support/TempDir.h"

using namespace zm;

namespace {

TRef<TIniFile> Parse(const std::string& text) {
  TRef<TIniFile> f = MakeRef<TIniFile>();
  f->LoadFromText(TByteString(text));
  return f;
}

std::string Saved(TIniFile& f, bool mark = false) {
  TRef<TMemoryStream> m = MakeRef<TMemoryStream>();
  f.SaveToStream(m.get(), mark);
  return std::string(reinterpret_cast<const char*>(m->Memory()), static_cast<std::size_t>(m->GetSize()));
}

// The names of a list's children, "-" for unnamed ones.
std::string Names(const TIniList* l) {
  std::string s;
  for (std::int32_t i = 0; i < l->Count(); ++i) {
    if (i) s += ",";
    const TIniItem* it = l->Get(i);
    s += it->Name().IsEmpty() ? "-" : it->Name().Str();
    EXPECT_EQ(it->Index(), i);
    EXPECT_EQ(it->Owner(), l);
  }
  return s;
}

const char* const kShow =
    "\xEF\xBB\xBF"
    "; show description\r\n"
    "[main]\r\n"
    "opt_repeat = repeat\r\n"
    "opt_fcp=1\r\n"
    "\r\n"
    "[Slide1]\r\n"
    "time=5000\r\n"
    "object Image1 : Image\r\n"
    "    file = pics\\a.jpg\r\n"
    "  object Frame:Box\r\n"
    "      color=FF00FF\r\n"
    "  end\r\n"
    "END\r\n"
    "[FileMap]\r\n"
    "a.jpg=12\r\n";

}  // namespace

TEST(IniDocument, ParsesAndSavesTheNormalisedForm) {
  TRef<TIniFile> f = MakeRef<TIniFile>();
  TRef<TMemoryStream> m = MakeRef<TMemoryStream>();
  m->WriteAnsiString(kShow);
  m->SetPosition(0);
  ASSERT_TRUE(f->LoadFromStream(m.get()));
  EXPECT_EQ(Names(f.get()), "-,main,Slide1,FileMap");
  EXPECT_EQ(f->ReadString(u"MAIN", u"OPT_REPEAT", u"?"), u"repeat");
  TIniSection* slide = f->FindSection(u"slide1");
  TIniObject* image = IniFindObject(slide, u"image1");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->ReadString(u"file"), u"pics\\a.jpg");
  TIniObject* frame = image->FindObjectOfType(u"FRAME", u"box");
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(image->FindObjectOfType(u"Frame", u"Image"), nullptr);
  EXPECT_EQ(IniGetString(IniFind(frame, u"color")), u"FF00FF");
  EXPECT_FALSE(frame->IsAncestorOf(slide));
  // The comment before the first section is the document's own item.
  EXPECT_EQ(f->Get(0)->GetString(), u"; show description");

  EXPECT_EQ(Saved(*f),
            "; show description\r\n"
            "[main]\r\n"
            "opt_repeat=repeat\r\n"
            "opt_fcp=1\r\n"
            "\r\n"
            "[Slide1]\r\n"
            "time=5000\r\n"
            "object Image1:Image\r\n"
            "  file=pics\\a.jpg\r\n"
            "  object Frame:Box\r\n"
            "    color=FF00FF\r\n"
            "  end\r\n"
            "end\r\n"
            "[FileMap]\r\n"
            "a.jpg=12\r\n");
  // Read and saved again, the normalised form stays as it is.
  std::string once = Saved(*f, true);
  EXPECT_EQ(once.compare(0, 3, "\xEF\xBB\xBF"), 0);
  m = MakeRef<TMemoryStream>();
  m->WriteAnsiString(once);
  m->SetPosition(0);
  ASSERT_TRUE(f->LoadFromStream(m.get()));
  EXPECT_EQ(Saved(*f, true), once);
  // Object lines without name or type; a name holding ":" reads back whole.
  const std::string objects = "object\r\nend\r\nobject :T\r\nend\r\nobject n\r\nend\r\nobject a:b:\r\nend\r\n";
  EXPECT_EQ(Saved(*Parse(objects)), objects);
  EXPECT_EQ(Names(Parse(objects).get()), "-,-,n,a:b");
}

TEST(IniDocument, SectionsMergeKeysOverrideAndEmptyNamesStayApart) {
  TRef<TIniFile> f = Parse("[A]\na=1\n[B]\nb=1\n[a]\nc=2\n[]\nx=1\n[]\ny=1\n");
  EXPECT_EQ(f->SectionCount(), 4);
  EXPECT_EQ(Names(f->FindSection(u"A")), "a,c");
  EXPECT_EQ(f->FindSection(u""), f.get());
  EXPECT_EQ(Names(f->Section(2)), "x");
  EXPECT_EQ(Names(f->Section(3)), "y");
  EXPECT_EQ(Saved(*f), "[A]\r\na=1\r\nc=2\r\n[B]\r\nb=1\r\n[]\r\nx=1\r\n[]\r\ny=1\r\n");

  // Of a key written twice the later one wins; removing it uncovers the earlier.
  f = Parse("[s]\nk=1\nK=2\nother=3\n");
  TIniSection* s = f->FindSection(u"s");
  EXPECT_EQ(s->Find(u"k")->Index(), 1);
  EXPECT_EQ(s->FindBytes("K")->Index(), 1);
  EXPECT_EQ(s->Find(u""), nullptr);
  s->Delete(1);
  EXPECT_EQ(s->Find(u"K")->GetInt(0), 1);
}

TEST(IniDocument, EndLinesAndUnbalancedBlocks) {
  // An "end" outside any block is kept as text.
  TRef<TIniFile> f = Parse("[s]\na=1\nend\nb=2\n");
  EXPECT_EQ(Names(f->FindSection(u"s")), "a,-,b");
  EXPECT_EQ(Saved(*f), "[s]\r\na=1\r\nend\r\nb=2\r\n");
  // A block without its end holds every line to the end of the text.
  f = Parse("object o:T\na=1\nobject p\nb=2\n");
  TIniObject* o = f->FindObject(u"o");
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(Names(o), "a,p");
  EXPECT_EQ(Saved(*f), "object o:T\r\n  a=1\r\n  object p\r\n    b=2\r\n  end\r\nend\r\n");
  // A section line closes open blocks and opens its section.
  f = Parse("[one]\nobject o\nobject p\nx=1\n[two]\ny=2\nend\n");
  EXPECT_EQ(Names(f->FindSection(u"one")), "o");
  EXPECT_EQ(Names(f->FindSection(u"two")), "y,-");
  EXPECT_EQ(Names(f->FindSection(u"one")->FindObject(u"o")->FindObject(u"p")), "x");
}

TEST(IniDocument, DeepNestingWithoutRecursion) {
  const int depth = 100000;
  std::string text;
  text.reserve(depth * 12);
  for (int i = 0; i < depth; ++i) text += "object o\n";
  text += "k=v\n";
  TRef<TIniFile> f = Parse(text);
  TIniList* l = f.get();
  int levels = 0;
  for (; TIniObject* o = l->FirstObject(); ++levels) l = o;
  EXPECT_EQ(levels, depth);
  EXPECT_EQ(l->ReadString(u"k"), u"v");
  // Saving caps the indentation, so the output stays linear.
  std::string saved = Saved(*f);
  EXPECT_LT(saved.size(), std::size_t(depth) * 2 * (kMaxIniIndent + 12));
  EXPECT_EQ(saved.find(std::string(kMaxIniIndent + 1, ' ')), std::string::npos);
  TIniItem* copy = f->Clone();
  EXPECT_EQ(Saved(*static_cast<TIniFile*>(copy)), saved);
  copy->Free();
}

TEST(IniDocument, NewKeysAndBlocksGoAfterTheLastKey) {
  TRef<TIniFile> f = Parse("[s]\na=1\nb=2\n; trailing comment\n\n[t]\n");
  TIniSection* s = f->FindSection(u"s");
  EXPECT_EQ(s->GetOrAdd(u"c")->Index(), 2);
  EXPECT_EQ(s->GetOrAdd(u"A"), s->Get(0));
  s->WriteString(u"d", u"x y");
  EXPECT_EQ(Saved(*f), "[s]\r\na=1\r\nb=2\r\nc=\r\nd=x y\r\n; trailing comment\r\n\r\n[t]\r\n");
  // A block goes to the key end, later ones after the last block.
  f = Parse("[s]\nk=1\n;c\n");
  s = f->FindSection(u"s");
  TIniObject* a = s->AddObject(u"a", u"T");
  TIniObject* b = s->AddObject(u"b", u"");
  EXPECT_EQ(s->NextObject(a), b);
  s->GetOrAdd(u"z");
  EXPECT_EQ(Names(s), "k,z,a,b,-");
  // A missing section is appended with one empty item.
  f = Parse("[a]\nx=1\n");
  f->WriteString(u"new", u"key", u"v\u00E9");
  f->WriteInteger(u"new", u"n", -7);
  EXPECT_EQ(Saved(*f), "[a]\r\nx=1\r\n[new]\r\nkey=v\xC3\xA9\r\nn=-7\r\n\r\n");
  EXPECT_EQ(f->ReadString(u"none", u"key", u"def"), u"def");
  // The document's own keys sit before the first section.
  f->WriteString(u"", u"top", u"1");
  EXPECT_EQ(f->Get(0)->GetName(), u"top");
}

TEST(IniDocument, FindOrAddPath) {
  TRef<TIniFile> f = Parse("[s]\nobject o:T\nk=1\nend\n");
  EXPECT_EQ(f->FindOrAddPath(u"S:O:K")->GetInt(0), 1);
  // Missing parts are added; an empty middle part takes the first block.
  f->FindOrAddPath(u"s::new");
  TIniItem* deep = f->FindOrAddPath(u"t:a:b:c");
  deep->SetString(u"x");
  EXPECT_EQ(f->FindOrAddPath(u""), f.get());
  f->FindOrAddPath(u"top");
  EXPECT_EQ(Saved(*f),
            "top=\r\n[s]\r\nobject o:T\r\n  k=1\r\n  new=\r\nend\r\n[t]\r\nobject a\r\n  object b\r\n    c=x\r\n  "
            "end\r\nend\r\n\r\n");
  // On a section, the first part is an object block.
  EXPECT_EQ(f->FindSection(u"t")->FindOrAddPath(u"a:b:c"), deep);
}

TEST(IniDocument, InsertMoveAndExtract) {
  TRef<TIniFile> f = Parse("[a]\nx=1\ny=2\nobject o\nend\n[b]\nz=3\n");
  TIniSection* a = f->FindSection(u"a");
  TIniSection* b = f->FindSection(u"b");
  // Moving items and blocks between lists keeps the hash indexes right.
  TIniItem* x = a->Find(u"x");
  ASSERT_NE(b->Find(u"z"), nullptr);
  EXPECT_TRUE(b->Insert(0, x));
  EXPECT_EQ(a->Find(u"x"), nullptr);
  EXPECT_EQ(b->Find(u"x"), x);
  TIniObject* o = a->FindObject(u"o");
  EXPECT_TRUE(b->Add(o));
  EXPECT_EQ(a->FirstObject(), nullptr);
  EXPECT_EQ(b->FirstObject(), o);
  // A list never goes into itself or below itself.
  EXPECT_FALSE(o->AddObject(u"inner", u"")->Add(o));
  EXPECT_FALSE(o->Add(o));
  EXPECT_FALSE(o->Insert(0, nullptr));
  // Extracted items belong to the caller; freeing a child takes it out of its list.
  TIniItem* z = b->Extract(b->Find(u"z"));
  EXPECT_EQ(b->Find(u"z"), nullptr);
  EXPECT_EQ(b->Extract(z), nullptr);
  z->Free();
  b->Delete(99);  // ignored
  a->Find(u"y")->Free();
  EXPECT_EQ(a->Count(), 0);
}

TEST(IniDocument, HashIndexGrowsAndRenames) {
  TRef<TIniFile> f = MakeRef<TIniFile>();
  TIniSection* s = f->GetOrAddSection(u"big");
  for (int i = 0; i < 1000; ++i) s->WriteString(u"key" + plat::FromUtf8(std::to_string(i)), u"v");
  EXPECT_GE(s->BucketCount(), 1000);
  EXPECT_NE(s->FindIndexed(u"KEY", 999), nullptr);
  EXPECT_EQ(s->FindIndexed(u"key", 1000), nullptr);
  // Renaming moves the item to its new name.
  TIniItem* k5 = s->Find(u"key5");
  k5->SetName(u"Renamed");
  EXPECT_EQ(s->Find(u"key5"), nullptr);
  EXPECT_EQ(s->Find(u"renamed"), k5);
  // Unicode names ignore case too.
  s->WriteString(u"\u00C4rger", u"1");
  EXPECT_NE(s->Find(u"\u00E4RGER"), nullptr);
}

TEST(IniDocument, AssignAndClone) {
  TRef<TIniFile> f = Parse(kShow + 3);
  TIniSection* slide = f->FindSection(u"Slide1");
  // From the text of a plain item: leading text skipped, then the contents
  // of the first section or block.
  TRef<TIniSection> fromText = MakeRef<TIniSection>();
  TRef<TIniItem> text =
      MakeRef<TIniItem>(TByteString(), TByteString("; lead\r\n[sec]\r\nk=1\r\nobject o\r\nend\r\n[next]\r\nz=2"));
  fromText->Assign(*text);
  EXPECT_EQ(Names(fromText.get()), "k,o");
  text->SetValue("; lead\r\nobject o:T\r\n  a=1\r\nend\r\nb=2");
  fromText->Assign(*text);
  EXPECT_EQ(Names(fromText.get()), "a");
  // A document assigned from another is a deep copy.
  TRef<TIniFile> doc = MakeRef<TIniFile>();
  doc->Assign(*f);
  EXPECT_EQ(Saved(*doc), Saved(*f));
  EXPECT_NE(doc->FindSection(u"Slide1")->FindObject(u"image1"), slide->FindObject(u"image1"));
  // Assigning a list from its own descendant.
  TIniObject* image = slide->FindObject(u"Image1");
  image->Assign(*image->FindObject(u"Frame"));
  EXPECT_EQ(Names(image), "color");
}

TEST(IniDocument, ValueConversions) {
  TRef<TIniItem> it = MakeRef<TIniItem>(TByteString("k"), TByteString());
  auto set = [&](const char* v) { it->SetValue(TByteString(v)); };
  set(" \x08-12");
  EXPECT_EQ(it->GetInt(7), -12);
  for (const char* bad : {"12 ", "+-1", "", "2147483648", "\t1"}) {
    set(bad);
    EXPECT_EQ(it->GetInt(7), 7) << bad;
  }
  it->SetString(u"5 ");  // stored as it is: the blank makes it invalid
  EXPECT_EQ(it->GetInt(7), 7);
  set("1.2.3");
  EXPECT_EQ(it->GetFloat(-1), -1.0);
  // Written floats read back the same.
  const std::pair<double, const char*> floats[] = {
      {0.1, "0.1"}, {2.0, "2"}, {-1234.5, "-1234.5"}, {1e20, "1E20"}, {1.0 / 3.0, "0.3333333333333333"}};
  for (auto [v, written] : floats) {
    it->SetFloat(v);
    EXPECT_EQ(it->GetValue().Str(), written);
    EXPECT_EQ(it->GetFloat(0), v);
  }

  for (const char* bad : {"true", "01", "", " 1", "2"}) {
    set(bad);
    EXPECT_TRUE(it->GetBool(true)) << bad;
    EXPECT_FALSE(it->GetBool(false)) << bad;
  }

  const WideString names[] = {u"repeat", u"close", u"Stop"};
  set("stop");
  EXPECT_EQ(it->GetEnum(names, -1, false), -1);
  EXPECT_EQ(it->GetEnum(names, -1, true), 2);

  set("a,b\xC3\xA9,,c");
  TRef<TStringList> list = MakeRef<TStringList>();
  it->GetCommaList(*list);
  ASSERT_EQ(list->GetCount(), 4);
  EXPECT_EQ(list->GetString(1), u"b\u00E9");

  // Nil items give the defaults.
  EXPECT_EQ(IniGetInt(nullptr, 3), 3);
  EXPECT_EQ(IniReadString(nullptr, u"x", u"d"), u"d");
}

TEST(IniDocument, EscapedValuesAndDocumentInOneValue) {
  EXPECT_EQ(EncodeIniValue(u"a\\b\r\nc\nd\re\n\rf\tg\u00E9").Str(), "a\\\\b\\nc\\nd\\ne\\nfg\xC3\xA9");
  EXPECT_EQ(DecodeIniValue("a\\\\b\\nc"), u"a\\b\r\nc");
  EXPECT_EQ(DecodeIniValue("tab\\there"), u"");
  EXPECT_EQ(DecodeIniValue("end\\"), u"");
  // A whole document in one value.
  TRef<TIniFile> f = Parse("[s]\npath=C:\\a\\b\nobject o\n  k=\\n\nend\n");
  TByteString value = f->SaveToValue();
  EXPECT_EQ(value.Str(), "[s]\\npath=C:\\\\a\\\\b\\nobject o\\n  k=\\\\n\\nend\\n");
  // The value travels as one line of another document.
  TRef<TIniFile> outer = MakeRef<TIniFile>();
  outer->GetOrAddSection(u"x")->GetOrAdd(u"doc")->SetValue(value);
  TRef<TIniFile> back = MakeRef<TIniFile>();
  ASSERT_TRUE(back->LoadFromValue(Parse(Saved(*outer))->FindSection(u"x")->Find(u"doc")->GetValue()));
  EXPECT_EQ(Saved(*back), Saved(*f));
  EXPECT_FALSE(back->LoadFromValue("[s]\\tbad"));
  EXPECT_EQ(back->Count(), 0);
}

TEST(IniDocument, FilesMissingOversizedAndDamaged) {
  zmtest::TTempDir dir;
  TRef<TIniFile> f = Parse("[s]\nk=v\n");
  // A longer older file is cut.
  dir.Write("a.ini", std::string(5000, ';') + "\r\n");
  ASSERT_TRUE(f->SaveToFile(dir.Wide("a.ini")));
  EXPECT_EQ(dir.Read("a.ini"), "\xEF\xBB\xBF[s]\r\nk=v\r\n");
  EXPECT_FALSE(f->SaveToFile(dir.Wide("no\\such\\folder\\x.ini")));
  // A failed load leaves the document empty.
  EXPECT_FALSE(f->LoadFromFile(dir.Wide("none.ini")));
  EXPECT_EQ(f->Count(), 0);
  // A 200 MB file (sparse on disk) is refused without being read.
  OpenFileForWrite(dir.Wide("huge.ini"), true)->SetSize(std::int64_t(200) << 20);
  f = Parse("[keep]\na=1\n");
  EXPECT_FALSE(f->LoadFromFile(dir.Wide("huge.ini")));
  EXPECT_EQ(f->Count(), 0);
  // Binary garbage loads as lines of something and saves back stable.
  std::string garbage;
  for (int i = 0; i < 70000; ++i) garbage += static_cast<char>((i * 7919) % 256);
  dir.Write("bin.ini", garbage);
  ASSERT_TRUE(f->LoadFromFile(dir.Wide("bin.ini")));
  std::string saved = Saved(*f);
  EXPECT_EQ(Saved(*Parse(saved)), saved);
  // A truncated UTF-8 document keeps what it has; a cut sequence stays bytes.
  dir.Write("cut.ini", std::string("\xEF\xBB\xBF[s]\r\nk=\xE2\x82", 12));
  ASSERT_TRUE(f->LoadFromFile(dir.Wide("cut.ini")));
  EXPECT_EQ(f->FindSection(u"s")->Find(u"k")->GetValue().Str(), "\xE2\x82");
  // One long line without a line end.
  f->LoadFromText(TByteString("k=" + std::string(1 << 20, 'v')));
  EXPECT_EQ(f->Find(u"k")->GetValue().Length(), 1 << 20);
}
