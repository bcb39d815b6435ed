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
// that lookups build on first use are built under a lock, and so are the
// sections of a long text read when first asked for).
//
// Memory: an item holds its name and value inside itself when they are
// short; a long text's parse places its items one after the other in large
// blocks, with their longer names and values beside them. A text of at least
// IniLateBytes keeps its bytes, and each of its sections is read from them
// when something first looks into it: what it then holds is what a parse of
// the whole text would have put there.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
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

// The items one thread makes while it parses a long text, placed one after
// the other in large blocks, each block given back with the last of its
// items; when no block can be had they go to the heap.
class TIniItemBlocks {
public:
  TIniItemBlocks() = default;
  TIniItemBlocks(const TIniItemBlocks&) = delete;
  TIniItemBlocks& operator=(const TIniItemBlocks&) = delete;
  ~TIniItemBlocks() { Retire(); }
  // Room for an item of bytes and extra bytes after it; nullptr when no
  // block can be had.
  void* Take(std::size_t bytes, std::size_t extra);

private:
  void Retire();  // no more items go into the current block
  std::uint8_t* block_ = nullptr;
  std::size_t used_ = 0;
  std::int64_t made_ = 0;
};

// The children of a list (or its object blocks): an array of 16 bytes that
// grows by doubling. Positions are 0-based.
template <class T>
class TIniArray {
public:
  TIniArray() = default;
  TIniArray(const TIniArray&) = delete;
  TIniArray& operator=(const TIniArray&) = delete;
  TIniArray(TIniArray&& other) noexcept : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
    other.data_ = nullptr;
    other.size_ = other.capacity_ = 0;
  }
  TIniArray& operator=(TIniArray&& other) noexcept {
    if (this != &other) {
      Release();
      data_ = other.data_;
      size_ = other.size_;
      capacity_ = other.capacity_;
      other.data_ = nullptr;
      other.size_ = other.capacity_ = 0;
    }
    return *this;
  }
  ~TIniArray() { Release(); }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::size_t capacity() const { return capacity_; }
  T* operator[](std::size_t i) const { return data_[i]; }
  T* const* begin() const { return data_; }
  T* const* end() const { return data_ + size_; }
  T* front() const { return data_[0]; }
  T* back() const { return data_[size_ - 1]; }
  void reserve(std::size_t n) {
    if (n <= capacity_) return;
    T** grown = static_cast<T**>(::operator new(n * sizeof(T*)));
    if (size_) std::memcpy(grown, data_, size_ * sizeof(T*));
    ::operator delete(data_);
    data_ = grown;
    capacity_ = static_cast<std::uint32_t>(n);
  }
  void push_back(T* v) {
    if (size_ == capacity_) reserve(capacity_ ? std::size_t(capacity_) * 2 : 4);
    data_[size_++] = v;
  }
  void insert(std::size_t at, T* v) {
    if (size_ == capacity_) reserve(capacity_ ? std::size_t(capacity_) * 2 : 4);
    std::memmove(data_ + at + 1, data_ + at, (size_ - at) * sizeof(T*));
    data_[at] = v;
    ++size_;
  }
  void erase(std::size_t at) {
    std::memmove(data_ + at, data_ + at + 1, (size_ - at - 1) * sizeof(T*));
    --size_;
  }
  void clear() {
    Release();
    data_ = nullptr;
    size_ = capacity_ = 0;
  }

private:
  void Release() { ::operator delete(data_); }
  T** data_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = 0;
};

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

// The lines of a part of a list (ForEachLineInParts); called on that part's thread.
using TIniPartLineVisitor =
    std::function<void(std::int32_t part, std::uint8_t kind, std::string_view name, std::string_view value)>;

// Long walks of a document (a whole text's parse, ForEachLine,
// ObjectCountDeep) look at the stop of their thread's work (wpLoadCallBack.h)
// once every this many lines.
constexpr std::uint32_t kIniStopLines = 4096;

// Indentation written per line is capped here (indentation carries no
// meaning on reading); it keeps the output of very deep nesting linear.
constexpr std::int32_t kMaxIniIndent = 64;

class TIniItem : public TTextWriter {
public:
  TIniItem() = default;
  TIniItem(const TByteString& name, const TByteString& value);

  // Items live on the heap, or, made by the parse of a long text, side by
  // side in large blocks (with extra bytes after the item for its text); a
  // block goes when the last of its items does.
  static void* operator new(std::size_t bytes);
  static void* operator new(std::size_t bytes, TIniItemBlocks& blocks, std::size_t extra);
  static void operator delete(void* item, std::size_t bytes) noexcept;
  static void operator delete(void* item, TIniItemBlocks& blocks, std::size_t extra) noexcept;

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
  virtual bool HasValue() const { return NameLength() != 0; }
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
  // Copies of the bytes; the views stay valid until the item's name or value
  // changes or the item goes.
  TByteString Name() const { return TByteString(NameView()); }
  TByteString GetValue() const { return TByteString(ValueView()); }
  std::string_view NameView() const { return {TextBytes(), NameLength()}; }
  std::string_view ValueView() const { return {TextBytes() + NameLength(), valueLength_}; }
  WideString GetName() const { return BytesToWide(NameView()); }
  void SetName(const WideString& name);
  void SetNameBytes(const TByteString& name);
  void SetValue(const TByteString& value) { SetText(NameView(), value.View()); }
  // UTF-8 without escape processing.
  WideString GetString() const { return BytesToWide(ValueView()); }
  void SetString(const WideString& s);
  // The escaped forms (see EncodeIniValue).
  WideString DecodeIniValue() const { return zm::DecodeIniValue(GetValue()); }
  void EncodeIniValue(const WideString& s) { SetValue(zm::EncodeIniValue(s)); }
  // Optional blanks (codes 32 and 8) and sign, then decimal digits up to
  // the end; anything else, or a value out of range, gives def.
  std::int32_t GetInt(std::int32_t def) const { return BytesToIntDef(ValueView(), def); }
  void SetInt(std::int32_t v);
  std::int64_t GetInt64(std::int64_t def) const { return BytesToInt64Def(ValueView(), def); }
  void SetInt64(std::int64_t v);
  double GetFloat(double def) const { return BytesToFloatDef(ValueView(), def); }
  // 16 significant digits, "." as the point, no trailing zeros.
  void SetFloat(double v);
  // Exactly "0" or "1"; anything else gives def.
  bool GetBool(bool def) const;
  void SetBool(bool v) { SetValue(v ? "1" : "0"); }
  // The value split at the separator, each part decoded from UTF-8.
  void GetCommaList(TStringList& list, std::uint8_t separator = ',') const;
  // The index of the value among names (exactly or ignoring case), or def.
  std::int32_t GetEnum(std::span<const WideString> names, std::int32_t def, bool ignoreCase) const;

  // Name and value bytes an item holds inside itself (together).
  static constexpr std::size_t kInsideText = 28;

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
  template <class T>
  friend T* NewParsedIniItem(TIniItemBlocks* blocks, std::string_view name, std::string_view value);

  // Where the name and value bytes are (name first): inside the item, just
  // after it in its block (made by a parse), or on the heap (owned).
  static constexpr std::uint8_t kTextInside = 0;
  static constexpr std::uint8_t kTextBeside = 1;
  static constexpr std::uint8_t kTextOnHeap = 2;
  static bool FitsInside(std::string_view name, std::string_view value) {
    return name.size() + value.size() <= kInsideText && name.size() <= 255;
  }
  std::size_t NameLength() const {
    if (textForm_ == kTextInside) return insideNameLength_;
    std::uint32_t n;
    std::memcpy(&n, text_, sizeof n);
    return n;
  }
  const char* TextBytes() const {
    if (textForm_ == kTextInside) return reinterpret_cast<const char*>(text_);
    const char* p;
    std::memcpy(&p, text_ + kOutsideAddress, sizeof p);
    return p;
  }
  // Name and value (either may lie in the item's own text); the hash of the
  // name is the caller's.
  void SetText(std::string_view name, std::string_view value);
  // Name and value copied to beside, which lies just after the item.
  void SetTextBeside(std::string_view name, std::string_view value, char* beside);
  void SetOutside(std::uint8_t form, std::size_t nameLength, std::size_t valueLength, const char* bytes);
  void FreeText();

  // The layout keeps an item at 72 bytes: the first three fill the base's
  // tail, and text_ is 4-aligned, its address part (outside forms) at 8.
  std::uint8_t textForm_ = kTextInside;
  std::uint8_t insideNameLength_ = 0;
  std::int32_t index_ = -1;
  std::uint32_t hash_ = 0;    // of the name, without letter case
  TIniList* owner_ = nullptr;
  TIniItem* next_ = nullptr;  // next of the owner's hash chain
  std::uint32_t valueLength_ = 0;
  // Inside: the bytes. Outside: the name length, then the address.
  static constexpr std::size_t kOutsideAddress = 4;
  alignas(4) unsigned char text_[kInsideText] = {};
};

class TIniList : public TIniItem {
public:
  TIniList() { kind_ = kKindList; }
  TIniList(const TByteString& name, const TByteString& value) : TIniItem(name, value) { kind_ = kKindList; }

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
  std::int32_t Count() const {
    Ready();
    return static_cast<std::int32_t>(B().Items.size());
  }
  TIniItem* Get(std::int32_t i) const;  // nil out of range
  std::int32_t NamedCount() const {
    Ready();
    return B().NamedCount;
  }
  // Where new keys go: after the last key line.
  std::int32_t KeyEnd() const {
    Ready();
    return B().KeyEnd;
  }
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
  // The object block at position i among the blocks (0-based); nil out of range.
  TIniObject* ObjectAt(std::int32_t i) const;
  std::int32_t ObjectCount() const {
    Ready();
    return static_cast<std::int32_t>(B().Objects.size());
  }
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

  std::int32_t BucketCount() const {
    Ready();
    return B().Buckets ? std::int32_t(1) << (32 - B().BucketShift) : 0;
  }
  // True while the list's lines wait in its document's text (a section of
  // a long text nothing has looked into yet).
  bool Pending() const { return pending_.load(std::memory_order_acquire); }
  // False when the list, still pending, surely has no line of that name
  // (letters below 128, in any letter case) at any depth: its text holds
  // only such letters and never that name. True otherwise: the caller looks.
  // What the late section hook adds is not counted. Reads nothing.
  bool MayHoldName(std::string_view asciiName) const { return MayHoldNames({&asciiName, 1}); }
  // The same for any of several names, in one pass over the text.
  bool MayHoldNames(std::span<const std::string_view> asciiNames) const;
  // The object blocks in the list at any depth. A list still pending is not
  // read: its text's object lines are counted (what the late section hook
  // adds is not). Gives way to the stop of the calling thread's work
  // (ELoadStopped), as ForEachLine and the parse of a whole text do.
  std::int64_t ObjectCountDeep() const;
  // The list's own lines in order, as its items have them: kind
  // (kIniTextLine, kIniKeyLine, or kIniObjectLine for a list below it, a
  // block or a document's section, whose lines are not passed), name and
  // value bytes (valid for the call). A list still pending is not read: its
  // lines are taken from the text in place (what the late section hook adds
  // is not passed). Visit returns false to stop.
  void ForEachLine(const std::function<bool(std::uint8_t kind, std::string_view name, std::string_view value)>& visit) const;
  // ForEachLine cut into at most maxParts runs of lines of about equal
  // length (at least minPartBytes each) walked side by side: part k on a
  // thread of its own, part 0 on the calling thread's; visit(part, kind,
  // name, value) sees each part's lines in order, and every line of part k
  // comes before those of part k + 1 in the list. Only a pending list of
  // plain lines is cut; any other (and one whose text holds a block) is
  // walked as one part on the calling thread. begin(parts) comes first,
  // again with 1 when lines are walked anew as one part. The threads share
  // the caller's work stop; an exception of a part is raised once all are
  // done. Returns the parts walked.
  std::int32_t ForEachLineInParts(std::int32_t maxParts, std::int32_t minPartBytes,
                                  const std::function<void(std::int32_t parts)>& begin,
                                  const TIniPartLineVisitor& visit) const;
  // Lists with at most this many named children are searched without an
  // index (the same results, later items first).
  static constexpr std::int32_t kLinearLookupLimit = 8;

protected:
  void AppendParsed(TIniItem* item, TIniItemBlocks* blocks = nullptr);  // fast append while parsing
  // Reads the lines of a pending list first.
  void Ready() const {
    if (pending_.load(std::memory_order_acquire)) ReadLate();
  }

private:
  friend class TIniItem;
  friend class TIniObject;
  friend class TIniSection;
  friend class TIniFile;
  friend void ParseIniText(TIniTokenizer& tokenizer, TIniList* list, TIniFile* root);
  friend void ParseIniLines(TIniTokenizer& tokenizer, TIniList* list, TIniFile* root, TIniItemBlocks* blocks,
                            bool late);
  void ReadLate() const;

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
  // Frees every child (those held elsewhere live on, detached); a pending
  // list stays pending.
  void FreeChildren();

  // The children and what is kept over them, made with the first child (in
  // the parse's blocks while it parses): a list without children, such as a
  // section still waiting in its text, holds only a nil.
  struct TBody {
    static void* operator new(std::size_t bytes);
    static void* operator new(std::size_t bytes, TIniItemBlocks& blocks);
    static void operator delete(void* body, std::size_t bytes) noexcept;
    static void operator delete(void* body, TIniItemBlocks& blocks) noexcept;
    TIniArray<TIniItem> Items;
    TIniArray<TIniObject> Objects;  // the object blocks among the children, by index
    std::unique_ptr<TIniItem*[]> Buckets;  // nil until the first lookup
    std::int32_t NamedCount = 0;
    std::int32_t KeyEnd = 0;
    std::uint8_t BucketShift = 28;  // 32 - log2 of the bucket count
  };
  static const TBody kNoBody;
  const TBody& B() const { return body_ ? *body_ : kNoBody; }
  TBody& W(TIniItemBlocks* blocks = nullptr);
  std::unique_ptr<TBody> body_;
  mutable std::atomic<bool> hashReady_{false};
  std::atomic<bool> pending_{false};
};

// An "object" ... "end" block; its value is the block's type name.
class TIniObject : public TIniList {
public:
  TIniObject() { kind_ = kKindObject; }
  TIniObject(const TByteString& name, const TByteString& type) : TIniList(name, type) { kind_ = kKindObject; }
  void Attach(bool entering) override;
  TIniItem* CreateEmpty() const override;
  void SaveHead(TTextSaver& saver, std::int32_t indent) override;
  void SaveTail(TTextSaver& saver, std::int32_t indent) override;
  std::int32_t ChildIndent(std::int32_t indent) const override { return indent + 2; }
  TByteString Type() const { return GetValue(); }
  std::string_view TypeView() const { return ValueView(); }
  WideString GetType() const { return GetString(); }
  std::int32_t ObjectIndex() const { return objectIndex_; }

private:
  friend class TIniList;
  std::int32_t objectIndex_ = -1;
};

// A section, opened by a "[name]" line.
class TIniSection : public TIniList {
public:
  TIniSection() { kind_ = kKindSection; }
  explicit TIniSection(const TByteString& name) : TIniList(name, {}) { kind_ = kKindSection; }
  void Attach(bool entering) override;
  TIniItem* CreateEmpty() const override;
  void SaveHead(TTextSaver& saver, std::int32_t indent) override;
  std::int32_t SectionIndex() const { return sectionIndex_; }

private:
  friend class TIniList;
  friend class TIniFile;
  friend void ParseIniLines(TIniTokenizer& tokenizer, TIniList* list, TIniFile* root, TIniItemBlocks* blocks,
                            bool late);
  std::int32_t sectionIndex_ = -1;
  // While pending: where its lines lie in the document's text.
  std::int32_t textFrom_ = 0;
  std::int32_t textTo_ = 0;
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
  // Parses text as the whole document (after Clear). A text of at least
  // IniLateBytes is kept, its sections read from it when first looked into.
  void LoadFromText(TByteString text);

  // Sections of these names (letter case ignored) stay pending in a text
  // read a section at a time, however long they are, for a user that walks
  // their lines in place (ForEachLine) rather than read them. Set before
  // the text is loaded; kept by Clear.
  void KeepPending(std::vector<WideString> names) { keepPending_ = std::move(names); }

  // Called with each section of this document that is read late, on the
  // thread that first looks into it and before any other thread sees its
  // lines (under the lock of late reads, which setting it takes too): the
  // document's user may complete the section there.
  void SetLateSectionHook(std::function<void(TIniSection&)> hook);

private:
  friend class TIniList;
  friend class TIniSection;
  friend void ParseIniText(TIniTokenizer& tokenizer, TIniList* list, TIniFile* root);
  friend void ParseIniTextInParts(TIniTokenizer& tokenizer, TIniFile* root, bool late);
  friend void ParseIniLines(TIniTokenizer& tokenizer, TIniList* list, TIniFile* root, TIniItemBlocks* blocks,
                            bool late);
  // The section of that name met again, else a new one appended.
  TIniSection* SectionForParse(std::string_view name, TIniItemBlocks* blocks, bool& made);
  // Takes the sections of a document parsed from a later part of the same
  // text, merging those whose names it has already; part is left empty.
  // The room for all of them is made first, at once.
  void ReserveForParts(std::span<const TRef<TIniFile>> parts);
  void AdoptSections(TIniFile& part);
  std::vector<TIniSection*> sections_;
  // The text pending sections are read from, and the blocks their items go to.
  std::shared_ptr<const TByteString> text_;
  TIniItemBlocks lateBlocks_;
  std::function<void(TIniSection&)> lateHook_;
  std::vector<WideString> keepPending_;
  bool part_ = false;  // a later part of a parse, to be adopted
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
// Texts of at least IniLateBytes are read a section at a time, each when
// first looked into (LoadFromText); only sections of IniReadWithParseBytes
// and more (a long show's slide times) are read with the parse.
extern std::int32_t IniLateBytes;
extern std::int32_t IniReadWithParseBytes;

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
