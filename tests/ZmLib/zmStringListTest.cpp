#include "ZmLib/zmStringList.h"

#include <gtest/gtest.h>

#include <vector>

#include "ZmLib/wpUnicode.h"

using namespace zm;

namespace {

std::vector<WideString> Texts(TStringList& l) {
  std::vector<WideString> v;
  for (std::int32_t i = 0; i < l.GetCount(); ++i) v.push_back(l.GetString(i));
  return v;
}

class TTag : public TRefObject {};

}  // namespace

TEST(StringList, LazyEntries) {
  TRef<TStringList> l = MakeRef<TStringList>();
  l->SetCount(3);
  EXPECT_EQ(Texts(*l), (std::vector<WideString>{u"", u"", u""}));
  EXPECT_NE(l->Items()->Get(1), nullptr);  // GetString made the entry
  EXPECT_EQ(l->GetString(-1), u"");
  l->SetString(7, u"ignored");
  l->SetCount(-4);
  EXPECT_EQ(l->GetCount(), 3);
  // Unsorted: an empty slot matches only an empty string.
  l->SetCount(2);
  l->SetString(1, u"x");
  EXPECT_EQ(l->IndexOf(u""), 0);
  EXPECT_EQ(l->IndexOf(u"X"), -1);
  l->SetIgnoreCase(true);
  EXPECT_EQ(l->IndexOf(u"X"), 1);
}

TEST(StringList, SortedAndCaseInsensitive) {
  TRef<TStringList> l = MakeRef<TStringList>();
  l->SetIgnoreCase(true);
  l->SetSorted(true);
  for (const char16_t* s : {u"b", u"A", u"c"}) l->Add(s);
  EXPECT_EQ(Texts(*l), (std::vector<WideString>{u"A", u"b", u"c"}));
  EXPECT_EQ(l->IndexOf(u"B"), 1);
  // Switching letter case on re-sorts.
  TRef<TStringList> m = MakeRef<TStringList>();
  m->SetSorted(true);
  for (const char16_t* s : {u"b", u"A", u"a", u"B"}) m->Add(s);
  EXPECT_EQ(Texts(*m), (std::vector<WideString>{u"A", u"B", u"a", u"b"}));
  m->SetIgnoreCase(true);
  std::vector<WideString> t = Texts(*m);
  EXPECT_TRUE(SameText(t[0], u"a") && SameText(t[1], u"a") && SameText(t[2], u"b") && SameText(t[3], u"b"));
  // Insert and SetString keep a sorted list sorted.
  TRef<TStringList> n = MakeRef<TStringList>();
  n->SetSorted(true);
  n->Add(u"m");
  n->Add(u"n");
  EXPECT_TRUE(n->Insert(0, u"z"));
  EXPECT_FALSE(n->Insert(9, u"q"));
  n->SetString(2, u"a");
  EXPECT_EQ(Texts(*n), (std::vector<WideString>{u"a", u"m", u"n"}));
  // Empty strings sort first; an empty key matches only an empty slot; Find clamps its range.
  n->Add(u"");
  std::int32_t index = -1;
  EXPECT_FALSE(n->Find(u"", index));
  EXPECT_EQ(index, 0);
  EXPECT_TRUE(n->FindInRange(u"n", -10, 100, index));
  EXPECT_EQ(index, 3);
  n->SortRange(-5, 500);
}

TEST(StringList, ObjectsAndExtract) {
  TRef<TStringList> l = MakeRef<TStringList>();
  TRef<TTag> tag = MakeRef<TTag>();
  l->AddObject(u"one", tag.get());
  l->Add(u"two");
  EXPECT_EQ(l->Extract(0), tag.get());  // the entry is freed, the object stays
  EXPECT_EQ(tag->RefCount(), 1);
  EXPECT_EQ(l->Extract(5), nullptr);
  // ClearObjects(true) releases one reference of each object.
  TRef<TTag> shared = MakeRef<TTag>();
  shared->AddRef();  // the list's reference
  l->AddObject(u"x", shared.get());
  l->ClearObjects(true);
  EXPECT_EQ(shared->RefCount(), 1);
  EXPECT_EQ(l->GetCount(), 0);
}

TEST(StringList, AssignAndAdd) {
  TRef<TStringList> src = MakeRef<TStringList>();
  TRef<TTag> tag = MakeRef<TTag>();
  src->Add(u"c");
  src->AddObject(u"a", tag.get());
  src->SetCount(3);  // an empty slot
  TRef<TStringList> dst = MakeRef<TStringList>();
  dst->Add(u"old");
  dst->Assign(*src);
  EXPECT_EQ(Texts(*dst), (std::vector<WideString>{u"c", u"a", u""}));
  EXPECT_EQ(dst->GetObject(1), tag.get());
  TRef<TStringList> sorted = MakeRef<TStringList>();
  sorted->SetSorted(true);
  for (const char16_t* s : {u"d", u"b", u"f"}) sorted->Add(s);
  TRef<TStringList> two = MakeRef<TStringList>();
  two->Add(u"e");
  two->Add(u"a");
  sorted->AddStrings(two->Strings());
  EXPECT_EQ(Texts(*sorted), (std::vector<WideString>{u"a", u"b", u"d", u"e", u"f"}));
  // adding a list to itself copies what it held before
  TRef<TStringList> self = MakeRef<TStringList>();
  self->Add(u"q");
  self->AddList(*self);
  self->AddStrings(self->Strings());
  self->Assign(*self);
  EXPECT_EQ(Texts(*self), (std::vector<WideString>{u"q", u"q", u"q", u"q"}));
}
