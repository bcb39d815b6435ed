#pragma once
// TStringList: wide strings with an attached object each, optionally kept
// sorted and optionally compared without letter case (Unicode folding). The
// entries are made lazily: a list can be given a count first and filled
// later; a slot without an entry reads as the empty string.
//
// Indexes are 0-based. Attached objects are not owned: Clear leaves them,
// ClearObjects(true) and Extract hand them back.
#include <cstdint>

#include "ZmLib/zmLists.h"
#include "ZmLib/zmTypes.h"

namespace zm {

// A collection of strings passed between modules without the class.
class IStrings {
public:
  // {AE4B9CC2-64FF-4D3A-A762-1A0AB6FDBD93}
  static constexpr TGUID IID = {0xAE4B9CC2u, 0x64FF, 0x4D3A, {0xA7, 0x62, 0x1A, 0x0A, 0xB6, 0xFD, 0xBD, 0x93}};

  virtual std::int32_t GetCount() = 0;
  virtual void SetCount(std::int32_t n) = 0;
  virtual void Clear() = 0;
  virtual std::int32_t Add(const WideString& s) = 0;
  virtual bool Insert(std::int32_t i, const WideString& s) = 0;
  virtual void Delete(std::int32_t i) = 0;
  virtual void AssignStrings(IStrings& source) = 0;
  virtual WideString GetString(std::int32_t i) = 0;
  virtual void SetString(std::int32_t i, const WideString& s) = 0;

protected:
  ~IStrings() = default;
};

class TStringItem : public TRefObject {
public:
  TStringItem() = default;
  virtual void SetText(const WideString& s) { Text = s; }
  virtual void SetObject(TRefObject* obj) { Object = obj; }
  virtual void Assign(const TStringItem& other) {
    SetText(other.Text);
    SetObject(other.Object);
  }

  WideString Text;
  TRefObject* Object = nullptr;
};

class TStringList : public TSorter, public IStrings {
public:
  TStringList();
  void Dispose() override;

  // ---- Sorter ----------------------------------------------------------------
  std::int32_t GetCount() override;
  // 0 when i = j; both present: CompareStrings of their texts; both absent:
  // 0; an absent entry sorts before a present one.
  std::int32_t Compare(std::int32_t i, std::int32_t j) override;
  // key is a const WideString*.
  std::int32_t CompareKey(const void* key, std::int32_t i) override;
  void Exchange(std::int32_t i, std::int32_t j) override;
  void SortRange(std::int32_t lo, std::int32_t hi) override;  // clamped
  bool FindInRange(const void* key, std::int32_t lo, std::int32_t hi, std::int32_t& index) override;  // clamped
  using TSorter::Find;
  bool Find(const WideString& s, std::int32_t& index);
  bool FindInRange(const WideString& s, std::int32_t lo, std::int32_t hi, std::int32_t& index);
  // A literal would otherwise take the key-pointer form.
  bool Find(const char16_t* s, std::int32_t& index) { return Find(WideString(s), index); }
  bool FindInRange(const char16_t* s, std::int32_t lo, std::int32_t hi, std::int32_t& index) {
    return FindInRange(WideString(s), lo, hi, index);
  }

  // ---- Strings ---------------------------------------------------------------
  virtual TStringItem* NewItem();
  virtual bool SameText(const WideString& a, const WideString& b);
  // With IgnoreCase the folded comparison; otherwise code-unit order (-1, 0, 1).
  virtual std::int32_t CompareStrings(const WideString& a, const WideString& b);
  void SetCount(std::int32_t n) override;
  // The entry at i, made when its slot is empty; nil out of range.
  virtual TStringItem* GetItem(std::int32_t i);
  WideString GetString(std::int32_t i) override;
  void SetString(std::int32_t i, const WideString& s) override;
  TRefObject* GetObject(std::int32_t i);
  void Clear() override;
  virtual void ClearObjects(bool freeObjects);
  virtual void Assign(TStringList& source);
  void AssignStrings(IStrings& source) override;
  virtual void AddList(TStringList& source);
  virtual void AddStrings(IStrings& source);
  std::int32_t Add(const WideString& s) override;
  virtual std::int32_t AddObject(const WideString& s, TRefObject* obj);
  bool Insert(std::int32_t i, const WideString& s) override;
  void Delete(std::int32_t i) override;
  virtual TRefObject* Extract(std::int32_t i);  // the entry's object
  virtual std::int32_t IndexOf(const WideString& s);

  bool Sorted() const { return sorted_; }
  bool IgnoreCase() const { return ignoreCase_; }
  void SetSorted(bool value);
  void SetIgnoreCase(bool value);
  IStrings& Strings() { return *this; }
  TList* Items() const { return items_.get(); }

private:
  TStringItem* Slot(std::int32_t i) const { return static_cast<TStringItem*>(items_->Get(i)); }
  void ResortIfSorted();

  TRef<TList> items_;
  bool ignoreCase_ = false;
  bool sorted_ = false;
};

}  // namespace zm
