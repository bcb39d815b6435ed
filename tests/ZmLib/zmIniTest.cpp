// The ini document model: parsing into the tree, saving in the normalised
// form, lookups, editing, values and the load and save operations.
#include "ZmLib/zmIni.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/PlatBulkMemory.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/zmHookScope.h"
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
    "\r\n"
    "[Slide1]\r\n"
    "time=5000\r\n"
    "object Image1 : Image\r\n"
    "    file = pics\\a.jpg\r\n"
    "  object Frame:Box\r\n"
    "      color=FF00FF\r\n"
    "  end\r\n"
    "END\r\n";

}  // namespace

TEST(IniDocument, ParsesAndSavesTheNormalisedForm) {
  TRef<TIniFile> f = MakeRef<TIniFile>();
  TRef<TMemoryStream> m = MakeRef<TMemoryStream>();
  m->WriteAnsiString(kShow);
  m->SetPosition(0);
  ASSERT_TRUE(f->LoadFromStream(m.get()));
  EXPECT_EQ(Names(f.get()), "-,main,Slide1");
  EXPECT_EQ(f->ReadString(u"MAIN", u"OPT_REPEAT", u"?"), u"repeat");
  TIniSection* slide = f->FindSection(u"slide1");
  TIniObject* image = IniFindObject(slide, u"image1");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->ReadString(u"file"), u"pics\\a.jpg");
  TIniObject* frame = image->FindObjectOfType(u"FRAME", u"box");
  EXPECT_EQ(image->FindObjectOfType(u"Frame", u"Image"), nullptr);
  EXPECT_EQ(IniGetString(IniFind(frame, u"color")), u"FF00FF");
  // The comment before the first section is the document's own item.
  EXPECT_EQ(f->Get(0)->GetString(), u"; show description");
  EXPECT_EQ(Saved(*f),
            "; show description\r\n"
            "[main]\r\n"
            "opt_repeat=repeat\r\n"
            "\r\n"
            "[Slide1]\r\n"
            "time=5000\r\n"
            "object Image1:Image\r\n"
            "  file=pics\\a.jpg\r\n"
            "  object Frame:Box\r\n"
            "    color=FF00FF\r\n"
            "  end\r\n"
            "end\r\n");
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
  EXPECT_EQ(Saved(*f), "[A]\r\na=1\r\nc=2\r\n[B]\r\nb=1\r\n[]\r\nx=1\r\n[]\r\ny=1\r\n");
  // Of a key written twice the later one wins; removing it uncovers the earlier.
  f = Parse("[s]\nk=1\nK=2\nother=3\n");
  TIniSection* s = f->FindSection(u"s");
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
  EXPECT_EQ(Saved(*f), "object o:T\r\n  a=1\r\n  object p\r\n    b=2\r\n  end\r\nend\r\n");
  // A section line closes open blocks and opens its section.
  f = Parse("[one]\nobject o\nobject p\nx=1\n[two]\ny=2\nend\n");
  EXPECT_EQ(Saved(*f), "[one]\r\nobject o\r\n  object p\r\n    x=1\r\n  end\r\nend\r\n[two]\r\ny=2\r\nend\r\n");
}

TEST(IniDocument, DeepNestingWithoutRecursion) {
  const int depth = 100000;
  std::string text;
  for (int i = 0; i < depth; ++i) text += "object o\n";
  TRef<TIniFile> f = Parse(text + "k=v\n");
  TIniList* l = f.get();
  int levels = 0;
  for (; TIniObject* o = l->FirstObject(); ++levels) l = o;
  EXPECT_EQ(levels, depth);
  EXPECT_EQ(l->ReadString(u"k"), u"v");
  // Saving caps the indentation, so the output stays linear.
  std::string saved = Saved(*f);
  EXPECT_EQ(f->ObjectCountDeep(), depth);
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
  EXPECT_EQ(s->ObjectAt(1), b);
  EXPECT_EQ(s->ObjectAt(2), nullptr);
  EXPECT_EQ(s->ObjectAt(-1), nullptr);
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

TEST(IniDocument, MovesAssignsAndTheHashIndex) {
  TRef<TIniFile> f = Parse(kShow + 3);
  TIniSection* head = f->FindSection(u"main");
  TIniSection* slide = f->FindSection(u"Slide1");
  // Moving items and blocks between lists keeps the hash indexes right.
  TIniItem* time = slide->Find(u"time");
  EXPECT_TRUE(head->Insert(0, time));
  EXPECT_EQ(slide->Find(u"time"), nullptr);
  EXPECT_EQ(head->Find(u"TIME"), time);
  TIniObject* image = slide->FindObject(u"Image1");
  EXPECT_TRUE(head->Add(image));
  EXPECT_EQ(slide->FirstObject(), nullptr);
  // A list never goes into itself or below itself.
  EXPECT_FALSE(image->FindObject(u"Frame")->Add(image));
  EXPECT_FALSE(image->Add(image));
  EXPECT_FALSE(image->Insert(0, nullptr));
  // A document assigned from another is a deep copy; a list may take its own descendant.
  TRef<TIniFile> doc = MakeRef<TIniFile>();
  doc->Assign(*f);
  EXPECT_EQ(Saved(*doc), Saved(*f));
  EXPECT_NE(doc->FindSection(u"main")->FindObject(u"image1"), image);
  image->Assign(*image->FindObject(u"Frame"));
  EXPECT_EQ(Names(image), "color");
  // From the text of a plain item: leading text skipped, then the first section's contents.
  TRef<TIniItem> text = MakeRef<TIniItem>(TByteString(), TByteString("; lead\r\n[sec]\r\nk=1\r\n[next]\r\nz=2"));
  slide->Assign(*text);
  EXPECT_EQ(Names(slide), "k");
  for (int i = 0; i < 1000; ++i) slide->WriteString(u"key" + plat::FromUtf8(std::to_string(i)), u"v");
  EXPECT_NE(slide->FindIndexed(u"KEY", 999), nullptr);
  TIniItem* k5 = slide->Find(u"key5");
  k5->SetName(u"Renamed");  // renaming moves the item to its new name
  EXPECT_EQ(slide->Find(u"key5"), nullptr);
  EXPECT_EQ(slide->Find(u"renamed"), k5);
}

TEST(IniDocument, IndexedLookupsAtOnceFindWhatEachLookupFinds) {
  // Later duplicates, other letter cases, a folded letter, leading zeros,
  // numbers past the count, blocks of a key's name and names that only
  // begin like the keys.
  const std::string keys =
      "opt_synchpos1=a\r\nOPT_SynchPos2=b\r\nopt_synchpos2=c\r\nopt_synchpos03=x\r\n"
      "object opt_synchpos4:Block\r\nend\r\nopt_\xC5\xBFynchpos5=s\r\nopt_synchpos99=far\r\n"
      "xopt_synchpos6=no\r\nopt_synchpos=none\r\nopt_synchpos7=z\r\nk12=twelve\r\n";
  TRef<TIniFile> f = Parse("[Few]\r\n" + keys + "[Slide1]\r\n[slide2]\r\n[SLIDE03]\r\n[Slide4x]\r\n[Slide5]\r\n");
  // The same keys in a list long enough to have an index.
  TIniSection* many = f->GetOrAddSection(u"Many");
  many->Assign(*f->FindSection(u"Few"));
  for (int i = 0; i < 20; ++i) many->WriteString(u"pad" + plat::FromUtf8(std::to_string(i)), u"p");
  for (const TIniList* list : {static_cast<TIniList*>(f->FindSection(u"Few")), static_cast<TIniList*>(many)}) {
    std::vector<TIniItem*> all;
    list->FindIndexedRange(u"opt_synchpos", 8, all);
    ASSERT_EQ(all.size(), 8u);
    for (std::int32_t n = 1; n <= 8; ++n) EXPECT_EQ(all[std::size_t(n - 1)], list->FindIndexed(u"opt_synchpos", n)) << n;
    EXPECT_EQ(all[1]->GetString(), u"c");
    EXPECT_EQ(all[2], nullptr);
    EXPECT_EQ(all[3], nullptr);
    ASSERT_NE(all[4], nullptr);  // the long s folds to s
    // A name ending in a digit: where the number begins is not clear.
    list->FindIndexedRange(u"k1", 3, all);
    EXPECT_EQ(all[1], list->Find(u"k12"));
    list->FindIndexedRange(u"opt_synchpos", 0, all);
    EXPECT_TRUE(all.empty());
  }
  std::vector<TIniSection*> sections;
  f->FindIndexedSections(u"Slide", 6, sections);
  for (std::int32_t n = 1; n <= 6; ++n)
    EXPECT_EQ(sections[std::size_t(n - 1)], f->FindSection(u"Slide" + plat::FromUtf8(std::to_string(n)))) << n;
  EXPECT_NE(sections[1], nullptr);
  EXPECT_EQ(sections[2], nullptr);
}

TEST(IniDocument, FewNamesAndManyFindTheSameItems) {
  // Short lists are searched along their items, long ones through the
  // index: a list that grows and shrinks across the limit answers alike.
  TRef<TIniFile> f = Parse("[s]\r\na=1\r\nobject a:T\r\nend\r\nA=2\r\n");
  TIniSection* s = f->FindSection(u"s");
  auto check = [&](const char* when) {
    ASSERT_NE(s->Find(u"a"), nullptr) << when;
    EXPECT_EQ(s->Find(u"a")->GetString(), u"2") << when;
    ASSERT_NE(s->FindObject(u"A"), nullptr) << when;
    EXPECT_EQ(s->FindObject(u"A")->GetType(), u"T") << when;
    EXPECT_EQ(s->Find(u"b"), nullptr) << when;
  };
  check("few");
  for (int i = 0; i < 2 * TIniList::kLinearLookupLimit; ++i) s->WriteString(u"k" + plat::FromUtf8(std::to_string(i)), u"v");
  check("many");
  while (s->Count() > 3) s->Delete(s->Count() - 1);
  check("few again");
  for (int i = 0; i < 2 * TIniList::kLinearLookupLimit; ++i) s->WriteString(u"m" + plat::FromUtf8(std::to_string(i)), u"v");
  check("many again");
  EXPECT_NE(s->Find(u"M7"), nullptr);
}

TEST(IniDocument, ValueConversions) {
  TRef<TIniItem> it = MakeRef<TIniItem>(TByteString("k"), TByteString());
  auto set = [&](const char* v) { it->SetValue(TByteString(v)); };
  set(" \x08-12");
  EXPECT_EQ(it->GetInt(7), -12);
  for (const char* bad : {"12 ", "+-1", "2147483648", "\t1"}) {
    set(bad);
    EXPECT_EQ(it->GetInt(7), 7) << bad;
  }
  it->SetString(u"5 ");  // stored as it is: the blank makes it invalid
  EXPECT_EQ(it->GetInt(7), 7);
  set("1.2.3");
  EXPECT_EQ(it->GetFloat(-1), -1.0);
  // Written floats read back the same.
  const std::pair<double, const char*> floats[] = {
      {0.1, "0.1"}, {2.0, "2"}, {1e20, "1E20"}, {1.0 / 3.0, "0.3333333333333333"}};
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
  EXPECT_EQ(IniReadString(nullptr, u"x", u"d"), u"d");  // nil items give the defaults
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
}

TEST(IniDocument, NamesMadeOnceFindWhatWideNamesFind) {
  // A key and a block of one name, other letter cases, a folded letter, a
  // later duplicate; a list of few names and one with an index.
  TRef<TIniFile> f = Parse(
      "[s]\r\nslideid=1\r\nobject slideid:T\r\nend\r\nSLIDEID=2\r\nopt_\xC5\xBFynch=folded\r\n"
      "object TheEffect:AnEffect\r\nend\r\n");
  TIniSection* few = f->FindSection(u"s");
  TIniSection* many = f->GetOrAddSection(u"many");
  many->Assign(*few);
  for (int i = 0; i < 3 * TIniList::kLinearLookupLimit; ++i) many->WriteString(u"pad" + plat::FromUtf8(std::to_string(i)), u"p");
  const TIniName slideId("SlideID"), synch("OPT_SYNCH"), theEffect("theeffect"), missing("none"), empty("");
  for (const TIniList* list : {static_cast<TIniList*>(few), static_cast<TIniList*>(many)}) {
    EXPECT_EQ(list->Find(slideId), list->Find(u"slideid"));
    EXPECT_EQ(list->Find(slideId)->GetString(), u"2");
    EXPECT_EQ(list->Find(synch), list->Find(u"opt_synch"));
    EXPECT_NE(list->Find(synch), nullptr);  // the long s folds to s
    EXPECT_EQ(list->FindObject(slideId), list->FindObject(u"SLIDEID"));
    EXPECT_EQ(list->FindObject(slideId)->GetType(), u"T");
    EXPECT_EQ(list->FindObject(theEffect), list->FindObject(u"TheEffect"));
    EXPECT_EQ(list->Find(theEffect), nullptr);  // a block is no key
    EXPECT_EQ(list->Find(missing), nullptr);
    EXPECT_EQ(list->Find(empty), nullptr);
    EXPECT_EQ(list->FindObject(empty), nullptr);
  }
}

TEST(IniDocument, ItemsOfALongTextLiveOnInTheirBlocksUntilTheLastGoes) {
  zm::THookScope<std::int32_t> partBytes(IniPartBytes), maxParts(IniMaxParts);
  // Long enough for its items to go into blocks, cut into parts that meet
  // the same sections again.
  IniPartBytes = 4096;
  IniMaxParts = 3;
  std::string text = "top=1\r\n";
  for (int s = 0; s < 3000; ++s) {
    text += "[S" + std::to_string(s % 2000) + "]\r\nk" + std::to_string(s) + "=v" + std::to_string(s) + "\r\n";
    text += "object O:T\r\n  inner=" + std::string(40, 'x') + "\r\nend\r\n";
  }
  const std::size_t before = plat::BulkBlocksInUse();
  TRef<TIniFile> whole = Parse(text);
  EXPECT_GT(plat::BulkBlocksInUse(), before);
  const std::string saved = Saved(*whole);
  IniMaxParts = 1;
  EXPECT_EQ(Saved(*Parse(text)), saved);  // the same document as one parse makes

  // Items taken out live on after their document, in another or alone,
  // and are freed one by one in any order.
  TIniSection* s7 = whole->FindSection(u"S7");
  TRef<TIniItem> key(s7->Find(u"k7"));
  TIniObject* block = s7->FindObject(u"O");
  TRef<TIniFile> other = Parse("[kept]\r\n");
  ASSERT_TRUE(other->FindSection(u"kept")->Add(s7->Extract(block)));
  whole->Delete(whole->FindSection(u"S1999")->Index());
  whole = nullptr;
  EXPECT_GT(plat::BulkBlocksInUse(), before);
  EXPECT_EQ(key->GetString(), u"v7");
  EXPECT_EQ(key->Owner(), nullptr);
  EXPECT_EQ(IniReadString(other->FindSection(u"kept")->FindObject(u"o"), u"INNER"), plat::FromUtf8(std::string(40, 'x')));
  other->FindSection(u"kept")->GetOrAdd(u"later")->SetString(u"heap");
  key = nullptr;
  EXPECT_GT(plat::BulkBlocksInUse(), before);
  other = nullptr;
  EXPECT_EQ(plat::BulkBlocksInUse(), before);
}

namespace {

// Everything a reader can ask of a document, in one text: each item's kind,
// name, value and place, what its name finds, each list's blocks in order,
// its key end and named count, each section's place and what its name finds.
// A list is asked in the order given by later (its children's places), so
// that a document read late answers in an order other than its own.
void Shape(const TIniList* list, std::string& out) {
  out += "{" + std::to_string(list->Count()) + "," + std::to_string(list->KeyEnd()) + "," +
         std::to_string(list->NamedCount()) + "," + std::to_string(list->ObjectCount());
  for (std::int32_t i = 0; i < list->Count(); ++i) {
    const TIniItem* it = list->Get(i);
    out += "|" + std::to_string(it->IsList() + it->IsObject() + it->IsSection()) + ":" + it->Name().Str() + "=" +
           it->GetValue().Str();
    if (it->Index() != i || it->Owner() != list) out += "!place";
    if (it->HasValue()) out += "@" + std::to_string(list->FindBytes(it->Name())->Index());
    if (it->IsObject()) {
      const TIniObject* found = list->FindObject(it->GetName());
      out += "#" + std::to_string(found ? found->Index() : -1);
    }
    if (it->IsList() && !it->IsSection()) Shape(static_cast<const TIniList*>(it), out);
  }
  for (const TIniObject* o = list->FirstObject(); o; o = list->NextObject(o))
    out += ">" + std::to_string(o->Index()) + "/" + std::to_string(o->ObjectIndex());
  out += "}";
}

std::string Shape(const TIniFile& doc, bool backwards) {
  const std::int32_t n = doc.SectionCount();
  std::vector<std::string> sections(static_cast<std::size_t>(n));
  for (std::int32_t k = 0; k < n; ++k) {
    const std::int32_t i = backwards ? n - 1 - k : k;
    const TIniSection* s = doc.Section(i);
    std::string& out = sections[static_cast<std::size_t>(i)];
    out += "[" + s->Name().Str() + " " + std::to_string(s->Index()) + "/" + std::to_string(s->SectionIndex());
    if (!s->Name().IsEmpty()) out += "=" + std::to_string(doc.FindSection(s->GetName())->Index());
    Shape(s, out);
  }
  std::string out;
  for (const std::string& section : sections) out += section;
  Shape(&doc, out);
  return out;
}

// How many section lines of the text name a section name (letter case aside).
int SectionLines(const std::string& text, std::string_view name) {
  TIniTokenizer t{TByteString(text)};
  int lines = 0;
  while (!t.AtEnd())
    if (t.ParseIniLine() == kIniSectionLine && CompareTextUTF8(t.NameView(), name) == 0) ++lines;
  return lines;
}

TRef<TIniFile> ParseLate(const std::string& text, bool late) {
  zm::THookScope<std::int32_t> lateBytes(IniLateBytes);
  IniLateBytes = late ? 1 : INT32_MAX;
  return Parse(text);
}

// Values of every length the representation tells apart, with the escapes
// and quotes the syntax passes through, under names short and long.
std::string EveryLength() {
  std::string text = "top=" + std::string(40, 't') + "\r\n";
  const std::size_t lengths[] = {0, 1, 15, 16, 27, 28, 29, 38, 255, 256, 1000};
  int n = 0;
  for (const std::size_t name : {1, 15, 16, 28, 29, 255, 256, 300})
    for (const std::size_t value : lengths) {
      text += "[S" + std::to_string(n++ % 7) + "]\r\n";
      const std::string key = "k" + std::to_string(n) + std::string(name > 1 ? name - 1 : 0, 'n');
      std::string v;
      for (std::size_t i = 0; i < value; ++i) v += "ab\\\"'=;:[]"[i % 11];
      text += key.substr(0, name) + "=" + v + "\r\n";
      text += "object O" + std::to_string(n) + ":" + v.substr(0, value / 2) + "\r\n  inner=" + v + "\r\nend\r\n";
      text += ";" + v + "\r\n";
    }
  return text;
}

}  // namespace

TEST(IniDocument, ItemsHoldValuesOfEveryLength) {
  // An item made anew and set to each length in turn, up and down again.
  TRef<TIniItem> it = MakeRef<TIniItem>(TByteString("k"), TByteString());
  const std::size_t lengths[] = {0, 1, 15, 16, 27, 28, 29, 38, 1000, 38, 28, 1, 0};
  for (const std::size_t length : lengths) {
    std::string v;
    for (std::size_t i = 0; i < length; ++i) v += static_cast<char>('a' + i % 26);
    it->SetValue(TByteString(v));
    EXPECT_EQ(it->GetValue().Str(), v);
    EXPECT_EQ(it->Name().Str(), "k");
    TIniItem* copy = it->Clone();
    EXPECT_EQ(copy->GetValue().Str(), v);
    copy->Free();
    it->SetNameBytes(TByteString(std::string(length + 1, 'n')));
    EXPECT_EQ(it->Name().Str(), std::string(length + 1, 'n'));
    EXPECT_EQ(it->GetValue().Str(), v);
    it->SetNameBytes(TByteString("k"));
  }
  // An escaped value decodes alike whatever its length.
  it->EncodeIniValue(u"C:\\" + std::u16string(40, u'x') + u"\r\nend");
  EXPECT_EQ(it->DecodeIniValue(), u"C:\\" + std::u16string(40, u'x') + u"\r\nend");

  // Parsed in blocks (long values beside their items), on the heap, and
  // read late: the same items, found the same way, saved the same.
  zm::THookScope<std::int32_t> partBytes(IniPartBytes), maxParts(IniMaxParts);
  const std::string text = EveryLength();
  IniPartBytes = INT32_MAX;
  const std::string expected = Shape(*ParseLate(text, false), false);
  const std::string saved = Saved(*ParseLate(text, false));
  IniPartBytes = 512;
  IniMaxParts = 2;
  EXPECT_EQ(Shape(*ParseLate(text, false), false), expected);
  EXPECT_EQ(Shape(*ParseLate(text, true), true), expected);
  EXPECT_EQ(Saved(*ParseLate(text, true)), saved);
  TRef<TIniFile> doc = ParseLate(text, true);
  TIniItem* top = doc->Find(u"top");
  ASSERT_NE(top, nullptr);
  top->SetValue("short");  // from beside its item to inside it
  EXPECT_EQ(top->GetString(), u"short");
}

TEST(IniDocument, SectionsReadLateAreWhatAFullParseGives) {
  // The documents of the cases above, and sections met again later, blocks
  // that a section line closes, "end" at the top, lines that only look like
  // sections, every line end, no line end at the last line.
  const std::string texts[] = {
      kShow,
      "[A]\na=1\n[B]\nb=1\n[a]\nc=2\n[]\nx=1\n[]\ny=1\n",
      "[s]\nk=1\nK=2\nother=3\n",
      "[s]\na=1\nend\nb=2\n",
      "object o:T\na=1\nobject p\nb=2\n",
      "[one]\nobject o\nobject p\nx=1\n[two]\ny=2\nend\n",
      "[s]\na=1\nb=2\n; trailing comment\n\n[t]\n",
      "[Few]\r\nopt_synchpos1=a\r\nOPT_SynchPos2=b\r\nopt_synchpos2=c\r\nobject opt_synchpos4:Block\r\nend\r\n"
      "[Slide1]\r\n[slide2]\r\n[SLIDE03]\r\n[Slide4x]\r\n[Slide5]\r\n",
      "[s]\r\na=1\r\nobject a:T\r\nend\r\nA=2\r\n",
      "; lead\r\n  [ spaced ] after\r\n[no end\r\n x = 1 \n\r[s]\rk=\r\n\r\n[S]\n\rend=1\r\nobject=2\r\nEND\r\nlast",
      EveryLength(),
      "a=[b]\r\n \t[c]\r\nx [d]\r\n[e\r\n\n\r\n\r[f]\r\n[[g]]\r\n\t\t\n[h] [i]",
  };
  for (const std::string& text : texts) {
    TRef<TIniFile> full = ParseLate(text, false);
    TRef<TIniFile> late = ParseLate(text, true);
    // Each section waits to be read, but one met again: that one is read with the parse.
    for (std::int32_t i = 0; i < late->SectionCount(); ++i) {
      const TIniSection* s = late->Section(i);
      EXPECT_EQ(s->Pending(), s->Name().IsEmpty() || SectionLines(text, s->NameView()) == 1) << s->Name().Str();
    }
    EXPECT_EQ(Shape(*late, true), Shape(*full, false)) << text;
    for (std::int32_t i = 0; i < late->SectionCount(); ++i) EXPECT_FALSE(late->Section(i)->Pending());
    // Changed alike: a key added, a block added, a section taken out.
    late = ParseLate(text, true);
    for (TIniFile* doc : {full.get(), late.get()}) {
      doc->WriteString(u"s", u"new", u"v");
      if (TIniSection* s = doc->Section(0)) s->AddObject(u"added", u"T");
      if (doc->SectionCount() > 1) doc->Delete(doc->Section(doc->SectionCount() - 1)->Index());
    }
    EXPECT_EQ(Saved(*late), Saved(*full)) << text;
  }
}

TEST(IniDocument, LongSectionsAreReadWithTheParse) {
  // A section of the slide times' length is read with the parse, the short
  // ones around it wait: the document is the same either way.
  ASSERT_EQ(IniReadWithParseBytes, 64 << 10);
  std::string text = "[main]\r\na=1\r\n[Times]\r\n";
  for (int i = 1; i <= 5000; ++i) text += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * 3000) + "\r\n";
  text += "[Slide1]\r\nk=1\r\n[times]\r\nlater=1\r\n";
  TRef<TIniFile> late = ParseLate(text, true);
  EXPECT_TRUE(late->FindSection(u"main")->Pending());
  EXPECT_FALSE(late->FindSection(u"Times")->Pending());
  EXPECT_TRUE(late->FindSection(u"Slide1")->Pending());
  EXPECT_EQ(Shape(*late, true), Shape(*ParseLate(text, false), false));
  EXPECT_EQ(IniGetString(late->FindSection(u"Times")->Find(u"LATER")), u"1");  // met again: read on
}

TEST(IniDocument, ObjectsCountedAtAnyDepthAlsoInAWaitingSection) {
  // Objects in objects, an unclosed one, an "object" that is a key or a
  // value, letter case and indentation: the count is what the read makes.
  const std::string text =
      "[s]\r\nk=object x:Y\r\nobject a:Box\r\n  object kp:KeyPoint\r\n  end\r\n  objects=2\r\nend\r\n"
      "OBJECT b:Text\r\n\tobject c:KeyPoint\r\n    object d:Filter\r\nend\r\nend\r\nend\r\nobject e:Box\r\n"
      "[t]\r\nk=1\r\n";
  TRef<TIniFile> whole = ParseLate(text, false);
  TRef<TIniFile> late = ParseLate(text, true);
  TIniSection* waiting = late->FindSection(u"s");
  ASSERT_TRUE(waiting->Pending());
  EXPECT_EQ(waiting->ObjectCountDeep(), 6);
  EXPECT_TRUE(waiting->Pending());  // counted in the text, not read
  EXPECT_EQ(whole->FindSection(u"s")->ObjectCountDeep(), 6);
  EXPECT_EQ(late->FindSection(u"t")->ObjectCountDeep(), 0);
  EXPECT_EQ(whole->FindSection(u"t")->ObjectCountDeep(), 0);
  late->FindSection(u"s")->Find(u"k");  // read now
  EXPECT_FALSE(waiting->Pending());
  EXPECT_EQ(waiting->ObjectCountDeep(), 6);
}

TEST(IniDocument, SectionsKeptPendingAreWalkedInTheText) {
  // A long section its user walks in place stays in the text whatever its
  // length; its lines come as the read would make them: keys, text, blocks
  // without their lines, an end outside any block as text.
  const std::string table =
      "k = v \r\n; note\r\n\r\nobject o:T\r\n  inner=1\r\n  object p\r\n  end\r\n  end\r\nend\r\nlast=2";
  std::string text = "[main]\r\na=1\r\n[Table]\r\n" + table + "\r\n";
  for (int i = 0; i < 6000; ++i) text += ";\"f" + std::to_string(i) + "\"=6\r\n";
  text += "[Times]\r\nt=1\r\n";
  auto lines = [](const TIniList* list, int most) {
    std::string out;
    list->ForEachLine([&](std::uint8_t kind, std::string_view name, std::string_view value) {
      out += std::to_string(kind) + ":" + std::string(name) + "=" + std::string(value) + "|";
      return --most > 0;
    });
    return out;
  };
  zm::THookScope<std::int32_t> lateBytes(IniLateBytes);
  IniLateBytes = 1;
  TRef<TIniFile> kept = MakeRef<TIniFile>();
  kept->KeepPending({u"TABLE"});
  kept->LoadFromText(TByteString(text));
  TRef<TIniFile> read = ParseLate(text, false);
  TIniSection* waiting = kept->FindSection(u"Table");
  ASSERT_GE(text.size(), std::size_t(IniReadWithParseBytes));
  ASSERT_TRUE(waiting->Pending());
  EXPECT_EQ(lines(waiting, 1 << 30), lines(read->FindSection(u"Table"), 1 << 30));
  EXPECT_EQ(lines(waiting, 6), "1:k=v|0:=; note|0:=|3:o=T|0:=end|1:last=2|");
  EXPECT_TRUE(waiting->Pending());  // walked, not read
  EXPECT_EQ(kept->ReadString(u"Times", u"t", u""), u"1");
  // Read, it is what the parse makes; the setting outlives a new load.
  EXPECT_EQ(Shape(*kept, true), Shape(*read, false));
  kept->LoadFromText(TByteString(text));
  EXPECT_TRUE(kept->FindSection(u"table")->Pending());
}

TEST(IniDocument, PendingLinesWalkedInPartsAreTheLinesInOrder) {
  // Lines of every line end and blanks, cut anywhere: the parts together
  // are the lines; a block anywhere makes it one part, walked again.
  std::string lines;
  const char* const ends[] = {"\r\n", "\n", "\r", "\n\r", "\r\n\r\n", "\n\n\r"};
  for (int i = 0; i < 3000; ++i) lines += (i % 7 ? "k" : " ;c") + std::to_string(i) + (i % 3 ? "=v" : "") + ends[i % 6];
  auto walk = [](const TIniList* list, std::int32_t maxParts, std::int32_t partBytes, std::int32_t& used) {
    std::vector<std::string> parts;
    int begun = 0;
    used = list->ForEachLineInParts(
        maxParts, partBytes,
        [&](std::int32_t n) {
          ++begun;
          parts.assign(static_cast<std::size_t>(n), std::string());
        },
        [&](std::int32_t part, std::uint8_t kind, std::string_view name, std::string_view value) {
          parts[static_cast<std::size_t>(part)] += std::to_string(kind) + std::string(name) + "=" + std::string(value) + "|";
        });
    std::string all = std::to_string(begun) + ":";
    for (const std::string& p : parts) all += p;
    return all;
  };
  for (const std::string& tail : {std::string(), std::string("object o\r\ninner=1\r\nend\r\n")}) {
    const std::string text = "[t]\r\n" + lines + tail + "[u]\r\n";
    TRef<TIniFile> doc = ParseLate(text, true);
    TRef<TIniFile> read = ParseLate(text, false);
    const TIniSection* waiting = doc->FindSection(u"t");
    ASSERT_TRUE(waiting->Pending());
    std::int32_t one = 0, many = 0;
    const std::string whole = walk(read->FindSection(u"t"), 8, 100, one);
    EXPECT_EQ(one, 1);  // read: one part
    const std::string cut = walk(waiting, 8, 100, many);
    EXPECT_EQ(cut.substr(cut.find(':')), whole.substr(whole.find(':')));
    EXPECT_EQ(many, tail.empty() ? 8 : 1);
    EXPECT_EQ(cut.substr(0, 2), tail.empty() ? "1:" : "2:");
    EXPECT_TRUE(waiting->Pending());
  }
}

TEST(IniDocument, ASectionReadLateOutlivesItsDocument) {
  const std::string text = "[a]\r\nk=1\r\nobject o:T\r\n  inner=" + std::string(50, 'x') + "\r\nend\r\n[b]\r\nj=2\r\n";
  TRef<TIniFile> doc = ParseLate(text, true);
  // Taken out or held while the document is cleared, a section is read
  // first: its lines come from the document's text.
  TRef<TIniItem> a = TRef<TIniItem>::Adopt(doc->Extract(doc->FindSection(u"a")));
  TRef<TIniSection> b(doc->FindSection(u"b"));
  ASSERT_TRUE(b->Pending());
  doc->Clear();
  doc = nullptr;
  EXPECT_FALSE(b->Pending());
  EXPECT_EQ(b->ReadString(u"J"), u"2");
  auto* section = static_cast<TIniSection*>(a.get());
  EXPECT_EQ(IniReadString(section->FindObject(u"O"), u"inner"), plat::FromUtf8(std::string(50, 'x')));
  // A section moved to another document is read before it goes.
  doc = ParseLate(text, true);
  TRef<TIniFile> other = Parse("[c]\r\n");
  ASSERT_TRUE(other->Add(doc->FindSection(u"b")));
  doc = nullptr;
  EXPECT_EQ(other->ReadString(u"b", u"j", u""), u"2");
  // The hook sees each section once, read, before it is handed out.
  doc = ParseLate(text + "[a]\r\nagain=1\r\n", true);
  std::vector<std::string> seen;
  doc->SetLateSectionHook([&](TIniSection& s) {
    seen.push_back(s.Name().Str() + ":" + std::to_string(s.Count()));
    s.GetOrAdd(u"hooked")->SetString(u"yes");
  });
  EXPECT_EQ(doc->ReadString(u"b", u"hooked", u""), u"yes");
  EXPECT_EQ(doc->ReadString(u"b", u"hooked", u""), u"yes");
  EXPECT_EQ(doc->ReadString(u"a", u"again", u""), u"1");  // met again: read with the parse
  EXPECT_EQ(seen, std::vector<std::string>{"b:1"});
}
