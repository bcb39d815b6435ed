#pragma once
// The ini document: the one tree of named text values of the system (show
// description, container directory, effect and style definitions, skins).
// It keeps every line of the text in order, comments and blank lines
// included, so that a document saved again keeps its layout in the
// normalised form: two blanks per object level, CR LF line ends.
//
// Ownership: a list owns its children (the reference they were made with);
// lookups hand out plain pointers that stay valid while the item is in the
// document. Names are compared without letter case through a hash index per
// list; a name that occurs twice finds the later item. Empty names are never
// looked up. Byte positions are 0-based; indexes of children are 0-based.
//
// Nesting is walked without recursion, so arbitrarily deep object blocks
// load, save, clone and free safely.
//
// A document has no lock: one thread builds or changes it. Once it is
// finished, any number of threads may read it at once (the hash indexes
// that lookups build on first use are built under a lock).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ZmLib/zmByteString.h"
#include "ZmLib/zmIniInterfaces.h"
#include "ZmLib/zmIniParser2.h"
#include "ZmLib/zmStream.h"
#include "ZmLib/zmTypes.h"

namespace zm {

class TIniList;
class TIniObject;
class TIniSection;
class TIniFile;
class TStringList;
// The large blocks the items of a long parse are placed in (see TIniItem).
class TIniItemBlocks;

// The escaped form of a value: a backslash is stored as two, a line break
// (CR, LF, CR LF or LF CR) as backslash and "n"; other characters below 32
// are dropped.
TByteString EncodeIniValue(const WideString& s);
// The reverse: two backslashes give one, backslash and "n" give CR LF; any
// other escape, or a backslash at the end, gives an empty string.
WideString DecodeIniValue(const TByteString& value);
// The same on bytes; false (and empty out) for an invalid escape.
bool UnescapeIniBytes(const TByteString& value, TByteString& out);

// A name looked up again and again (a key every slide of a show has): its
// bytes and hash made once. Lookups by it find what lookups by the same
// name as wide text find. Its hash folds letters beyond the plain ones
// through tables the core module loads: such a name is made after it
// started, a name of plain letters anywhere (at namespace scope too).
class TIniName {
public:
  explicit TIniName(const char* utf8) : bytes_(utf8), hash_(bytes_.IsEmpty() ? 0 : bytes_.HashNoCase()) {}
  const TByteString& Bytes() const { return bytes_; }
  std::uint32_t Hash() const { return hash_; }

private:
  TByteString bytes_;
  std::uint32_t hash_;
};

// Indentation written per line is capped here (indentation carries no
// meaning on reading); it keeps the output of very deep nesting linear.
constexpr std::int32_t kMaxIniIndent = 64;

class TIniItem : public TTextWriter {
public:
  TIniItem() = default;
  TIniItem(TByteString name, TByteString value);

  // Items live on the heap, or, made by the parse of a long text, side by
  // side in large blocks; a block goes when the last of its items does.
  static void* operator new(std::size_t bytes);
  static void* operator new(std::size_t bytes, TIniItemBlocks& blocks);
  static void operator delete(void* item, std::size_t bytes) noexcept;
  static void operator delete(void* item, TIniItemBlocks& blocks) noexcept;

  // ---- The family's operations ------------------------------------------------
  void Dispose() override;  // leaves its owner first
  void Save(TTextSaver& saver) override { SaveIndented(saver, 0); }
  virtual void SaveIndented(TTextSaver& saver, std::int32_t indent);
  virtual bool IsAncestorOf(const TIniItem* item) const;
  // Called with true when the item enters a list, false when it leaves.
  virtual void Attach(bool entering);
  // A new item of the same class with copies of name, value and children;
  // the caller holds its reference.
  virtual TIniItem* Clone() const;
  // True for a key line (a plain item with a name).
  virtual bool HasValue() const { return !name_.IsEmpty(); }
  virtual TIniItem* CreateEmpty() const;
  virtual void Clear() {}
  // A plain item copies name and value.
  virtual void Assign(TIniItem& source);

  // The text of the item itself, and of a list's end after its children.
  virtual void SaveHead(TTextSaver& saver, std::int32_t indent);
  virtual void SaveTail(TTextSaver&, std::int32_t) {}
  virtual std::int32_t ChildIndent(std::int32_t indent) const { return indent; }

  bool IsList() const { return kind_ >= kKindList; }
  bool IsObject() const { return kind_ == kKindObject; }
  bool IsSection() const { return kind_ >= kKindSection; }

  TIniList* Owner() const { return owner_; }
  std::int32_t Index() const { return index_; }

  // ---- Values -----------------------------------------------------------------
  const TByteString& Name() const { return name_; }
  const TByteString& GetValue() const { return value_; }
  WideString GetName() const { return name_.ToWide(); }
  void SetName(const WideString& name);
  void SetNameBytes(const TByteString& name);
  void SetValue(const TByteString& value) { value_ = value; }
  // UTF-8 without escape processing.
  WideString GetString() const { return value_.ToWide(); }
  void SetString(const WideString& s);
  // The escaped forms (see EncodeIniValue).
  WideString DecodeIniValue() const { return zm::DecodeIniValue(value_); }
  void EncodeIniValue(const WideString& s) { value_ = zm::EncodeIniValue(s); }
  // Optional blanks (codes 32 and 8) and sign, then decimal digits up to
  // the end; anything else, or a value out of range, gives def.
  std::int32_t GetInt(std::int32_t def) const { return value_.ToIntDef(0, kMaxCount32, def); }
  void SetInt(std::int32_t v);
  std::int64_t GetInt64(std::int64_t def) const { return value_.ToInt64Def(0, kMaxCount32, def); }
  void SetInt64(std::int64_t v);
  double GetFloat(double def) const { return value_.ToFloatDef(0, kMaxCount32, def); }
  // 16 significant digits, "." as the point, no trailing zeros.
  void SetFloat(double v);
  // Exactly "0" or "1"; anything else gives def.
  bool GetBool(bool def) const;
  void SetBool(bool v) { value_ = v ? "1" : "0"; }
  // The value split at the separator, each part decoded from UTF-8.
  void GetCommaList(TStringList& list, std::uint8_t separator = ',') const;
  // The index of the value among names (exactly or ignoring case), or def.
  std::int32_t GetEnum(std::span<const WideString> names, std::int32_t def, bool ignoreCase) const;

protected:
  static constexpr std::uint8_t kKindItem = 0;
  static constexpr std::uint8_t kKindList = 1;
  static constexpr std::uint8_t kKindObject = 2;
  static constexpr std::uint8_t kKindSection = 3;
  static constexpr std::uint8_t kKindFile = 4;
  std::uint8_t kind_ = kKindItem;

  TIniItem* CloneHead() const;

private:
  friend class TIniList;
  friend class TIniObject;
  friend class TIniSection;
  friend class TIniFile;

  TIniList* owner_ = nullptr;
  std::int32_t index_ = -1;
  std::uint32_t hash_ = 0;    // of the name, without letter case
  TIniItem* next_ = nullptr;  // next of the owner's hash chain
  TByteString name_;
  TByteString value_;
};

class TIniList : public TIniItem {
public:
  TIniList() { kind_ = kKindList; }
  TIniList(TByteString name, TByteString value) : TIniItem(std::move(name), std::move(value)) { kind_ = kKindList; }

  void Dispose() override;  // Clear first
  bool IsAncestorOf(const TIniItem* item) const override;
  bool HasValue() const override { return false; }
  TIniItem* CreateEmpty() const override;
  void Clear() override;
  // From another list: clones of its children. From any other item: its
  // saved text parsed into this list (leading text lines skipped, then the
  // contents of a section or object line, or everything from a key line on).
  void Assign(TIniItem& source) override;

  // ---- Children -----------------------------------------------------------------
  std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
  TIniItem* Get(std::int32_t i) const;  // nil out of range
  std::int32_t NamedCount() const { return namedCount_; }
  // Where new keys go: after the last key line.
  std::int32_t KeyEnd() const { return keyEnd_; }
  // Takes over the caller's reference to item (a child of another list is
  // moved). False when refused (a list into itself or one of its
  // descendants): the caller keeps the item then.
  bool Insert(std::int32_t index, TIniItem* item);
  bool Add(TIniItem* item) { return Insert(Count(), item); }
  // Takes a child out of the list; the caller gets its reference.
  TIniItem* Extract(TIniItem* item);
  void Delete(std::int32_t index);  // frees the child; a bad index is ignored

  // ---- Lookups (names without letter case) -------------------------------------------
  TIniItem* Find(const WideString& name) const;
  TIniItem* FindBytes(const TByteString& name) const;
  TIniItem* Find(const TIniName& name) const;
  // The key named name directly followed by the decimal digits of n.
  TIniItem* FindIndexed(const WideString& name, std::int32_t n) const;
  // FindIndexed(name, n) for n = 1 .. count at once, in out[n - 1] (nil
  // where absent): one pass along the children instead of a look-up each.
  void FindIndexedRange(const WideString& name, std::int32_t count, std::vector<TIniItem*>& out) const;
  // The key of that name; a new one with an empty value at KeyEnd when missing.
  TIniItem* GetOrAdd(const WideString& name);
  TIniObject* FindObject(const WideString& name) const;
  TIniObject* FindObject(const TIniName& name) const;
  TIniObject* FindObjectOfType(const WideString& name, const WideString& type) const;
  TIniObject* FirstObject() const;
  TIniObject* NextObject(const TIniObject* object) const;
  std::int32_t ObjectCount() const { return static_cast<std::int32_t>(objects_.size()); }
  // A new object block after the last one, or at KeyEnd when there is none.
  TIniObject* AddObject(const WideString& name, const WideString& type);
  // A path of parts separated by ":": on a document (without owner) the
  // first part names a section; middle parts name object blocks (an empty
  // part: the first block), found or added; the last part names a key,
  // found or added. A path ending with ":" gives the list reached.
  TIniItem* FindOrAddPath(const WideString& path);

  WideString ReadString(const WideString& name, const WideString& def = {}) const;
  bool ReadBool(const WideString& name, bool def) const;
  void WriteString(const WideString& name, const WideString& value);

  std::int32_t BucketCount() const { return static_cast<std::int32_t>(buckets_.size()); }
  // Lists with at most this many named children are searched without an
  // index (the same results, later items first).
  static constexpr std::int32_t kLinearLookupLimit = 8;

protected:
  void AppendParsed(TIniItem* item);  // fast append while parsing

private:
  friend class TIniItem;
  friend class TIniObject;
  friend class TIniSection;
  friend class TIniFile;
  friend void ParseIniText(TIniTokenizer& tokenizer, TIniList* list, TIniFile* root);
  friend void ParseIniLines(TIniTokenizer& tokenizer, TIniList* list, TIniFile* root, TIniItemBlocks* blocks);

  template <class Match>
  TIniItem* Lookup(std::uint32_t hash, Match match) const;
  template <class Match>
  TIniObject* LookupObject(std::uint32_t hash, Match match) const;
  // The first room of a list's items: most lists hold a few.
  static constexpr std::size_t kFirstCapacity = 4;
  // Buckets for at least names named children (never fewer than the list has).
  void BuildHash(std::int32_t names = 0) const;
  void DropHash();
  std::size_t BucketOf(std::uint32_t hash) const;
  void LinkHash(TIniItem* item);
  void UnlinkHash(TIniItem* item);
  void DetachItem(TIniItem* item);
  // Forgets every child (without freeing) and the indexes over them.
  void ResetChildren();

  std::vector<TIniItem*> items_;
  mutable std::vector<TIniItem*> buckets_;  // empty until the first lookup
  mutable std::int32_t bucketShift_ = 28;   // 32 - log2 of the bucket count
  mutable std::atomic<bool> hashReady_{false};
  std::int32_t namedCount_ = 0;
  std::int32_t keyEnd_ = 0;
  std::vector<TIniObject*> objects_;  // the object blocks among the children, by index
};

// An "object" ... "end" block; its value is the block's type name.
class TIniObject : public TIniList {
public:
  TIniObject() { kind_ = kKindObject; }
  TIniObject(TByteString name, TByteString type) : TIniList(std::move(name), std::move(type)) { kind_ = kKindObject; }
  void Attach(bool entering) override;
  TIniItem* CreateEmpty() const override;
  void SaveHead(TTextSaver& saver, std::int32_t indent) override;
  void SaveTail(TTextSaver& saver, std::int32_t indent) override;
  std::int32_t ChildIndent(std::int32_t indent) const override { return indent + 2; }
  const TByteString& Type() const { return GetValue(); }
  WideString GetType() const { return GetValue().ToWide(); }
  std::int32_t ObjectIndex() const { return objectIndex_; }

private:
  friend class TIniList;
  std::int32_t objectIndex_ = -1;
};

// A section, opened by a "[name]" line.
class TIniSection : public TIniList {
public:
  TIniSection() { kind_ = kKindSection; }
  explicit TIniSection(TByteString name) : TIniList(std::move(name), {}) { kind_ = kKindSection; }
  void Attach(bool entering) override;
  TIniItem* CreateEmpty() const override;
  void SaveHead(TTextSaver& saver, std::int32_t indent) override;
  std::int32_t SectionIndex() const { return sectionIndex_; }

private:
  friend class TIniList;
  std::int32_t sectionIndex_ = -1;
};

// The whole document: its own items are those before the first section;
// the sections are its children too.
class TIniFile : public TIniSection {
public:
  TIniFile() { kind_ = kKindFile; }
  void Dispose() override;
  TIniItem* CreateEmpty() const override;
  void Clear() override;
  // From a list: clones of its children; from any other item: its saved
  // text parsed as a whole document.
  void Assign(TIniItem& source) override;
  void SaveHead(TTextSaver&, std::int32_t) override {}

  std::int32_t SectionCount() const { return static_cast<std::int32_t>(sections_.size()); }
  TIniSection* Section(std::int32_t i) const;  // nil out of range
  // The document itself for an empty name.
  TIniSection* FindSection(const WideString& name) const;
  // FindSection(name + the decimal digits of n) for n = 1 .. count at once,
  // in out[n - 1]: one pass along the sections.
  void FindIndexedSections(const WideString& name, std::int32_t count, std::vector<TIniSection*>& out) const;
  // Appended at the end with one empty item when missing.
  TIniSection* GetOrAddSection(const WideString& name);

  WideString ReadString(const WideString& section, const WideString& key, const WideString& def) const;
  std::int32_t ReadInteger(const WideString& section, const WideString& key, std::int32_t def) const;
  double ReadFloat(const WideString& section, const WideString& key, double def) const;
  bool ReadBool(const WideString& section, const WideString& key, bool def) const;
  void WriteString(const WideString& section, const WideString& key, const WideString& value);
  void WriteInteger(const WideString& section, const WideString& key, std::int32_t value);
  using TIniList::ReadBool;
  using TIniList::ReadString;
  using TIniList::WriteString;

  // Clears the document, then reads and parses the stream's text; false
  // (document empty) when the text cannot be read.
  bool LoadFromStream(TStream* stream);
  // Through the ReadFile hook; false (document empty) when the file cannot
  // be opened or read.
  bool LoadFromFile(const WideString& name);
  // Stream errors are raised as the stream raises them.
  void SaveToStream(TStream* stream, bool withMark);
  // Through the WriteFile hook, always with the mark; a longer older file
  // is cut. False when the file cannot be opened or written.
  bool SaveToFile(const WideString& name);
  // A whole document held escaped in one value; false (document empty)
  // for an invalid escape.
  bool LoadFromValue(const TByteString& bytes);
  TByteString SaveToValue();
  // Parses text as the whole document (after Clear).
  void LoadFromText(TByteString text);

private:
  friend class TIniList;
  friend class TIniSection;
  friend void ParseIniText(TIniTokenizer& tokenizer, TIniList* list, TIniFile* root);
  friend void ParseIniTextInParts(TIniTokenizer& tokenizer, TIniFile* root);
  friend void ParseIniLines(TIniTokenizer& tokenizer, TIniList* list, TIniFile* root, TIniItemBlocks* blocks);
  TIniSection* SectionForParse(TByteString name, TIniItemBlocks* blocks);
  // Takes the sections of a document parsed from a later part of the same
  // text, merging those whose names it has already; part is left empty.
  void AdoptSections(TIniFile& part);
  std::vector<TIniSection*> sections_;
};

// Parses lines into list. With a document root, section lines open (or
// reopen) sections of the root and close any open blocks; without one, a
// section line, or an end line outside any block, ends the parse.
void ParseIniText(TIniTokenizer& tokenizer, TIniList* list, TIniFile* root);
// ParseIniText of a whole document into root. A long text is cut at section
// lines into parts of at least IniPartBytes (up to four for each thread),
// parsed side by side on up to IniMaxParts threads (0: the processors, at
// most 4), each thread taking the next part left, and joined in order: the
// same document as one parse makes.
void ParseIniTextInParts(TIniTokenizer& tokenizer, TIniFile* root);
extern std::int32_t IniPartBytes;
extern std::int32_t IniMaxParts;

// ---- Forms that accept a nil list or item -----------------------------------------
inline TIniItem* IniFind(const TIniList* list, const WideString& name) { return list ? list->Find(name) : nullptr; }
inline TIniObject* IniFindObject(const TIniList* list, const WideString& name) {
  return list ? list->FindObject(name) : nullptr;
}
inline WideString IniGetString(const TIniItem* item, const WideString& def = {}) {
  return item ? item->GetString() : def;
}
inline std::int32_t IniGetInt(const TIniItem* item, std::int32_t def) { return item ? item->GetInt(def) : def; }
inline std::int64_t IniGetInt64(const TIniItem* item, std::int64_t def) { return item ? item->GetInt64(def) : def; }
inline double IniGetFloat(const TIniItem* item, double def) { return item ? item->GetFloat(def) : def; }
inline bool IniGetBool(const TIniItem* item, bool def) { return item ? item->GetBool(def) : def; }
inline WideString IniReadString(const TIniList* list, const WideString& name, const WideString& def = {}) {
  return list ? list->ReadString(name, def) : def;
}
inline TByteString IniGetValue(const TIniItem* item) { return item ? item->GetValue() : TByteString(); }
inline std::int32_t IniGetEnum(const TIniItem* item, std::span<const WideString> names, std::int32_t def,
                               bool ignoreCase) {
  return item ? item->GetEnum(names, def, ignoreCase) : def;
}
// A nil item gives an empty list.
void IniGetCommaList(const TIniItem* item, TStringList& list, std::uint8_t separator = ',');

}  // namespace zm
