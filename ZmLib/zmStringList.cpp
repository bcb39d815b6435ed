#include "ZmLib/zmStringList.h"

#include <algorithm>

#include "ZmLib/wpUnicode.h"

namespace zm {

TStringList::TStringList() : items_(MakeRef<TList>()) {}

void TStringList::Dispose() {
  if (items_) {
    items_->FreeAndClear();
    items_.reset();
  }
  TSorter::Dispose();
}

// ---- Sorter ------------------------------------------------------------------------

std::int32_t TStringList::GetCount() { return items_->Count(); }

std::int32_t TStringList::Compare(std::int32_t i, std::int32_t j) {
  if (i == j) return 0;
  TStringItem* a = Slot(i);
  TStringItem* b = Slot(j);
  if (a && b) return CompareStrings(a->Text, b->Text);
  if (!a && !b) return 0;
  return a ? 1 : -1;
}

std::int32_t TStringList::CompareKey(const void* key, std::int32_t i) {
  const WideString& k = *static_cast<const WideString*>(key);
  TStringItem* item = Slot(i);
  if (!k.empty()) return item ? CompareStrings(k, item->Text) : 1;
  return item ? -1 : 0;
}

void TStringList::Exchange(std::int32_t i, std::int32_t j) { items_->Exchange(i, j); }

void TStringList::SortRange(std::int32_t lo, std::int32_t hi) {
  lo = std::max(lo, 0);
  hi = std::min(hi, GetCount() - 1);
  TSorter::SortRange(lo, hi);
}

bool TStringList::FindInRange(const void* key, std::int32_t lo, std::int32_t hi, std::int32_t& index) {
  lo = std::max(lo, 0);
  hi = std::min(hi, GetCount() - 1);
  return TSorter::FindInRange(key, lo, hi, index);
}

bool TStringList::Find(const WideString& s, std::int32_t& index) { return FindInRange(&s, 0, GetCount() - 1, index); }

bool TStringList::FindInRange(const WideString& s, std::int32_t lo, std::int32_t hi, std::int32_t& index) {
  return FindInRange(static_cast<const void*>(&s), lo, hi, index);
}

// ---- Strings ---------------------------------------------------------------------

TStringItem* TStringList::NewItem() { return new TStringItem(); }

bool TStringList::SameText(const WideString& a, const WideString& b) {
  return ignoreCase_ ? CompareStrings(a, b) == 0 : a == b;
}

std::int32_t TStringList::CompareStrings(const WideString& a, const WideString& b) {
  if (ignoreCase_) return zm::CompareStrings(a, b, true);
  std::int32_t r = a.compare(b);
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

void TStringList::SetCount(std::int32_t n) {
  if (n < 0 || n >= TList::kMaxListSize) return;
  for (std::int32_t i = GetCount() - 1; i >= n; --i) {
    TStringItem* item = Slot(i);
    items_->Put(i, nullptr);
    if (item) item->Free();
  }
  items_->SetCount(n);
}

TStringItem* TStringList::GetItem(std::int32_t i) {
  if (i < 0 || i >= GetCount()) return nullptr;
  TStringItem* item = Slot(i);
  if (!item) {
    item = NewItem();
    items_->Put(i, item);
  }
  return item;
}

WideString TStringList::GetString(std::int32_t i) {
  TStringItem* item = GetItem(i);
  return item ? item->Text : WideString();
}

void TStringList::SetString(std::int32_t i, const WideString& s) {
  TStringItem* item = GetItem(i);
  if (!item) return;
  item->SetText(s);
  ResortIfSorted();
}

TRefObject* TStringList::GetObject(std::int32_t i) {
  TStringItem* item = Slot(i);
  return item ? item->Object : nullptr;
}

void TStringList::Clear() { items_->FreeAndClear(); }

void TStringList::ClearObjects(bool freeObjects) {
  if (freeObjects) {
    for (std::int32_t i = 0; i < GetCount(); ++i) {
      TStringItem* item = Slot(i);
      if (!item || !item->Object) continue;
      TRefObject* obj = item->Object;
      item->SetObject(nullptr);
      obj->ReleaseRef();
    }
  }
  Clear();
}

void TStringList::Assign(TStringList& source) {
  if (&source == this) return;
  SetCount(source.GetCount());
  for (std::int32_t i = 0; i < source.GetCount(); ++i) {
    TStringItem* from = source.Slot(i);
    TStringItem* to = GetItem(i);
    if (from) to->Assign(*from);
    else {
      to->SetText(WideString());
      to->SetObject(nullptr);
    }
  }
  ResortIfSorted();
}

void TStringList::AssignStrings(IStrings& source) {
  if (&source == static_cast<IStrings*>(this)) return;
  std::int32_t n = source.GetCount();
  SetCount(n);
  for (std::int32_t i = 0; i < n; ++i) GetItem(i)->SetText(source.GetString(i));
  ResortIfSorted();
}

void TStringList::AddList(TStringList& source) {
  std::int32_t n = source.GetCount();  // fixed first: the source may be this list
  for (std::int32_t i = 0; i < n; ++i) {
    TStringItem* from = source.Slot(i);
    TStringItem* item = NewItem();
    if (from) item->Assign(*from);
    if (items_->Add(item) < 0) {
      item->Free();
      break;
    }
  }
  ResortIfSorted();
}

void TStringList::AddStrings(IStrings& source) {
  std::int32_t n = source.GetCount();
  for (std::int32_t i = 0; i < n; ++i) {
    TStringItem* item = NewItem();
    item->SetText(source.GetString(i));
    if (items_->Add(item) < 0) {
      item->Free();
      break;
    }
  }
  ResortIfSorted();
}

std::int32_t TStringList::Add(const WideString& s) { return AddObject(s, nullptr); }

std::int32_t TStringList::AddObject(const WideString& s, TRefObject* obj) {
  TStringItem* item = NewItem();
  item->SetText(s);
  item->SetObject(obj);
  std::int32_t index;
  if (sorted_) {
    Find(s, index);
    if (!items_->Insert(index, item)) index = -1;
  } else {
    index = items_->Add(item);
  }
  if (index < 0) item->Free();
  return index;
}

bool TStringList::Insert(std::int32_t i, const WideString& s) {
  if (i < 0 || i > GetCount()) return false;
  if (!items_->Insert(i, nullptr)) return false;
  GetItem(i)->SetText(s);
  ResortIfSorted();
  return true;
}

void TStringList::Delete(std::int32_t i) { Extract(i); }

TRefObject* TStringList::Extract(std::int32_t i) {
  if (i < 0 || i >= GetCount()) return nullptr;
  auto* item = static_cast<TStringItem*>(items_->ExtractAt(i));
  if (!item) return nullptr;
  TRefObject* obj = item->Object;
  item->Free();
  return obj;
}

std::int32_t TStringList::IndexOf(const WideString& s) {
  if (sorted_) {
    std::int32_t index;
    return Find(s, index) ? index : -1;
  }
  for (std::int32_t i = 0; i < GetCount(); ++i) {
    TStringItem* item = Slot(i);
    if (item ? SameText(item->Text, s) : s.empty()) return i;
  }
  return -1;
}

void TStringList::SetSorted(bool value) {
  if (value == sorted_) return;
  sorted_ = value;
  if (sorted_) Sort();
}

void TStringList::SetIgnoreCase(bool value) {
  if (value == ignoreCase_) return;
  ignoreCase_ = value;
  ResortIfSorted();
}

void TStringList::ResortIfSorted() {
  if (sorted_) Sort();
}

}  // namespace zm
