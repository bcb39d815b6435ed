#include "ZmLib/zmIni.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <type_traits>

#include "Platform/PlatBulkMemory.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Win32/SysLocks.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/Win32/winFileAPI.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmByteStringList.h"
#include "ZmLib/zmStringList.h"

namespace zm {

void ParseIniTextInParts(TIniTokenizer& t, TIniFile* root, bool late);

namespace {

TByteString Utf8Of(const WideString& s) { return TByteString(plat::ToUtf8(s)); }

std::uint32_t NameHash(std::string_view name) { return name.empty() ? 0 : BytesHashNoCase(name); }

void WriteView(TTextSaver& saver, std::string_view bytes) {
  if (!bytes.empty()) saver.WriteBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), static_cast<std::int32_t>(bytes.size()));
}

// Writes the tree below root (root included) without recursion.
void SaveTree(TIniItem* root, TTextSaver& saver, std::int32_t indent) {
  root->SaveHead(saver, indent);
  if (!root->IsList()) return;
  struct TFrame {
    TIniList* List;
    std::int32_t Next;
    std::int32_t Indent;
    std::int32_t ChildIndent;
  };
  auto* list = static_cast<TIniList*>(root);
  std::vector<TFrame> stack{{list, 0, indent, list->ChildIndent(indent)}};
  while (!stack.empty()) {
    TFrame& f = stack.back();
    if (f.Next < f.List->Count()) {
      TIniItem* child = f.List->Get(f.Next++);
      std::int32_t childIndent = f.ChildIndent;
      child->SaveHead(saver, childIndent);
      if (child->IsList()) {
        auto* sub = static_cast<TIniList*>(child);
        stack.push_back({sub, 0, childIndent, sub->ChildIndent(childIndent)});
      }
    } else {
      f.List->SaveTail(saver, f.Indent);
      stack.pop_back();
    }
  }
}

void WriteIndentCapped(TTextSaver& saver, std::int32_t indent) { saver.WriteIndent(std::min(indent, kMaxIniIndent)); }

TByteString SavedText(TIniItem& item) {
  TRef<TBytesTextSaver> saver = MakeRef<TBytesTextSaver>();
  item.Save(*saver);
  saver->Close();
  return saver->TakeBytes();
}

}  // namespace

// ============================================================================
// Escaped values
// ============================================================================

TByteString EncodeIniValue(const WideString& s) {
  WideString e;
  e.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c == u'\\') {
      e += u"\\\\";
    } else if (c == u'\r' || c == u'\n') {
      // CR LF and LF CR are one break.
      if (i + 1 < s.size() && (s[i + 1] == u'\r' || s[i + 1] == u'\n') && s[i + 1] != c) ++i;
      e += u"\\n";
    } else if (c >= 32) {
      e += c;
    }
  }
  return Utf8Of(e);
}

bool UnescapeIniBytes(const TByteString& value, TByteString& out) {
  const std::uint8_t* p = value.Data();
  std::int32_t n = value.Length();
  std::string r;
  r.reserve(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) {
    std::uint8_t b = p[i];
    if (b != '\\') {
      r += static_cast<char>(b);
      continue;
    }
    if (i + 1 >= n) {
      out = TByteString();
      return false;
    }
    std::uint8_t e = p[++i];
    if (e == '\\') {
      r += '\\';
    } else if (e == 'n') {
      r += "\r\n";
    } else {
      out = TByteString();
      return false;
    }
  }
  out = TByteString(std::move(r));
  return true;
}

WideString DecodeIniValue(const TByteString& value) {
  TByteString bytes;
  if (!UnescapeIniBytes(value, bytes)) return {};
  return bytes.ToWide();
}

// ============================================================================
// Item memory
// ============================================================================

namespace {

// A block of a long parse starts with the count of its items still alive.
// While the parse fills it the count holds kIniBlockOpen more, so that it
// cannot reach 0 before the block is full.
struct TIniBlockHead {
  std::atomic<std::int64_t> Live;
};
constexpr std::int64_t kIniBlockOpen = std::int64_t(1) << 40;

// Items of a block start 8 bytes past a multiple of 16, items of the heap on
// a multiple of 16: so the address tells which, and a block item finds its
// block's head at the block's start (blocks are aligned to their size).
constexpr std::size_t kIniSlotAlign = 16;
constexpr std::size_t kIniBlockItemOffset = 8;
static_assert(sizeof(TIniBlockHead) <= kIniBlockItemOffset);

std::size_t IniSlotBytes(std::size_t bytes) { return (bytes + kIniSlotAlign - 1) & ~(kIniSlotAlign - 1); }

bool InIniBlock(const void* item) {
  return (reinterpret_cast<std::uintptr_t>(item) & (kIniSlotAlign - 1)) == kIniBlockItemOffset;
}

TIniBlockHead* IniItemBlock(void* item) {
  return reinterpret_cast<TIniBlockHead*>(reinterpret_cast<std::uintptr_t>(item) &
                                          ~(std::uintptr_t(plat::kBulkBlockBytes) - 1));
}

void LeaveIniBlock(TIniBlockHead* head, std::int64_t count) {
  if (head->Live.fetch_sub(count, std::memory_order_acq_rel) == count) {
    head->~TIniBlockHead();
    plat::FreeBulkBlock(head);
  }
}

void* NewHeapIniItem(std::size_t bytes) { return ::operator new(bytes, std::align_val_t(kIniSlotAlign)); }

// bytes 0: unknown (an item whose constructor failed), nothing marked.
void FreeIniItemMemory(void* item, std::size_t bytes) noexcept {
  if (!item) return;
  if (!InIniBlock(item)) {
    ::operator delete(item, std::align_val_t(kIniSlotAlign));
    return;
  }
  // Out of bounds from here on, so that a use after the free is caught.
  if (bytes) plat::PoisonBulkMemory(item, bytes);
  LeaveIniBlock(IniItemBlock(item), 1);
}

}  // namespace

void* TIniItemBlocks::Take(std::size_t bytes, std::size_t extra) {
  const std::size_t slot = IniSlotBytes(bytes + extra);
  if (!block_ || used_ + slot > plat::kBulkBlockBytes) {
    Retire();
    if (slot > plat::kBulkBlockBytes - kIniBlockItemOffset) return nullptr;
    block_ = static_cast<std::uint8_t*>(plat::AllocBulkBlock());
    if (!block_) return nullptr;
    new (block_) TIniBlockHead{kIniBlockOpen};
    used_ = kIniBlockItemOffset;
    plat::PoisonBulkMemory(block_ + used_, plat::kBulkBlockBytes - used_);
  }
  std::uint8_t* item = block_ + used_;
  plat::UnpoisonBulkMemory(item, bytes + extra);
  used_ += slot;
  ++made_;
  return item;
}

void TIniItemBlocks::Retire() {
  if (!block_) return;
  LeaveIniBlock(reinterpret_cast<TIniBlockHead*>(block_), kIniBlockOpen - made_);
  block_ = nullptr;
  made_ = 0;
}

void* TIniItem::operator new(std::size_t bytes) { return NewHeapIniItem(bytes); }

void* TIniItem::operator new(std::size_t bytes, TIniItemBlocks& blocks, std::size_t extra) {
  if (void* item = blocks.Take(bytes, extra)) return item;
  return NewHeapIniItem(bytes + extra);
}

void TIniItem::operator delete(void* item, std::size_t bytes) noexcept { FreeIniItemMemory(item, bytes); }

void TIniItem::operator delete(void* item, TIniItemBlocks&, std::size_t) noexcept { FreeIniItemMemory(item, 0); }

void* TIniList::TBody::operator new(std::size_t bytes) { return NewHeapIniItem(bytes); }

void* TIniList::TBody::operator new(std::size_t bytes, TIniItemBlocks& blocks) {
  if (void* body = blocks.Take(bytes, 0)) return body;
  return NewHeapIniItem(bytes);
}

void TIniList::TBody::operator delete(void* body, std::size_t bytes) noexcept { FreeIniItemMemory(body, bytes); }

void TIniList::TBody::operator delete(void* body, TIniItemBlocks&) noexcept { FreeIniItemMemory(body, 0); }

const TIniList::TBody TIniList::kNoBody;

TIniList::TBody& TIniList::W(TIniItemBlocks* blocks) {
  if (!body_) body_.reset(blocks ? new (*blocks) TBody() : new TBody());
  return *body_;
}

static_assert(sizeof(TIniItem) == 72, "an item's fields are laid out to fill 72 bytes");

// ============================================================================
// Item text
// ============================================================================

void TIniItem::SetOutside(std::uint8_t form, std::size_t nameLength, std::size_t valueLength, const char* bytes) {
  textForm_ = form;
  insideNameLength_ = 0;
  const auto n = static_cast<std::uint32_t>(nameLength);
  std::memcpy(text_, &n, sizeof n);
  std::memcpy(text_ + kOutsideAddress, &bytes, sizeof bytes);
  valueLength_ = static_cast<std::uint32_t>(valueLength);
}

void TIniItem::FreeText() {
  if (textForm_ == kTextOnHeap) ::operator delete(const_cast<char*>(TextBytes()));
  textForm_ = kTextInside;
  insideNameLength_ = 0;
  valueLength_ = 0;
}

void TIniItem::SetText(std::string_view name, std::string_view value) {
  // Either may lie in the current text: the new text is made before the old goes.
  const std::size_t n = name.size() + value.size();
  if (FitsInside(name, value)) {
    unsigned char bytes[kInsideText];
    if (!name.empty()) std::memcpy(bytes, name.data(), name.size());
    if (!value.empty()) std::memcpy(bytes + name.size(), value.data(), value.size());
    FreeText();
    if (n) std::memcpy(text_, bytes, n);
    insideNameLength_ = static_cast<std::uint8_t>(name.size());
    valueLength_ = static_cast<std::uint32_t>(value.size());
    return;
  }
  char* bytes = static_cast<char*>(::operator new(n));
  if (!name.empty()) std::memcpy(bytes, name.data(), name.size());
  if (!value.empty()) std::memcpy(bytes + name.size(), value.data(), value.size());
  FreeText();
  SetOutside(kTextOnHeap, name.size(), value.size(), bytes);
}

void TIniItem::SetTextBeside(std::string_view name, std::string_view value, char* beside) {
  if (!name.empty()) std::memcpy(beside, name.data(), name.size());
  if (!value.empty()) std::memcpy(beside + name.size(), value.data(), value.size());
  FreeText();
  SetOutside(kTextBeside, name.size(), value.size(), beside);
}

// A parsed line's item: its name and value inside it when they fit, else,
// made in blocks, beside it in the same block.
template <class T>
T* NewParsedIniItem(TIniItemBlocks* blocks, std::string_view name, std::string_view value) {
  const bool inside = TIniItem::FitsInside(name, value);
  T* item = blocks ? new (*blocks, inside ? 0 : name.size() + value.size()) T() : new T();
  if (inside || !blocks) item->SetText(name, value);
  else item->SetTextBeside(name, value, reinterpret_cast<char*>(item) + sizeof(T));
  item->hash_ = NameHash(name);
  return item;
}

// ============================================================================
// TIniItem
// ============================================================================

TIniItem::TIniItem(const TByteString& name, const TByteString& value) : hash_(NameHash(name.View())) {
  SetText(name.View(), value.View());
}

void TIniItem::Dispose() {
  if (owner_) owner_->DetachItem(this);
  FreeText();
  TTextWriter::Dispose();
}

void TIniItem::SaveIndented(TTextSaver& saver, std::int32_t indent) { SaveTree(this, saver, indent); }

bool TIniItem::IsAncestorOf(const TIniItem*) const { return false; }

void TIniItem::Attach(bool) {}

TIniItem* TIniItem::CreateEmpty() const { return new TIniItem(); }

TIniItem* TIniItem::CloneHead() const {
  TIniItem* c = CreateEmpty();
  c->SetText(NameView(), ValueView());
  c->hash_ = hash_;
  return c;
}

TIniItem* TIniItem::Clone() const {
  TIniItem* root = CloneHead();
  if (!IsList()) return root;
  struct TFrame {
    const TIniList* Source;
    TIniList* Dest;
    std::int32_t Next;
  };
  std::vector<TFrame> stack{{static_cast<const TIniList*>(this), static_cast<TIniList*>(root), 0}};
  while (!stack.empty()) {
    TFrame& f = stack.back();
    if (f.Next >= f.Source->Count()) {
      stack.pop_back();
      continue;
    }
    const TIniItem* child = f.Source->Get(f.Next++);
    TIniItem* copy = child->CloneHead();
    TIniList* dest = f.Dest;
    dest->AppendParsed(copy);
    if (child->IsList()) stack.push_back({static_cast<const TIniList*>(child), static_cast<TIniList*>(copy), 0});
  }
  return root;
}

void TIniItem::Assign(TIniItem& source) {
  if (&source == this) return;
  SetNameBytes(source.Name());
  SetValue(source.GetValue());
}

void TIniItem::SaveHead(TTextSaver& saver, std::int32_t indent) {
  const std::string_view name = NameView(), value = ValueView();
  if (name.empty() && value.empty()) {
    saver.WriteNewLine();
    return;
  }
  WriteIndentCapped(saver, indent);
  if (!name.empty()) {
    WriteView(saver, name);
    static const std::uint8_t kEq = '=';
    saver.WriteBytes(&kEq, 1);
  }
  WriteView(saver, value);
  saver.WriteNewLine();
}

void TIniItem::SetName(const WideString& name) { SetNameBytes(Utf8Of(name)); }

void TIniItem::SetNameBytes(const TByteString& name) {
  TIniList* o = owner_;
  bool wasNamed = NameLength() != 0;
  if (o && wasNamed) o->UnlinkHash(this);
  SetText(name.View(), ValueView());
  hash_ = NameHash(name.View());
  if (o && !name.IsEmpty()) {
    o->LinkHash(this);
    TIniList::TBody& b = *o->body_;  // it holds this item
    if (HasValue() && index_ >= b.KeyEnd) b.KeyEnd = index_ + 1;
  }
}

void TIniItem::SetString(const WideString& s) { SetValue(Utf8Of(s)); }

void TIniItem::SetInt(std::int32_t v) { SetText(NameView(), std::to_string(v)); }

void TIniItem::SetInt64(std::int64_t v) { SetText(NameView(), std::to_string(v)); }

void TIniItem::SetFloat(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 16);
  std::string s(buf, r.ptr);
  // "1e+20" and "1e-05" are written "1E20" and "1E-5".
  std::size_t e = s.find('e');
  if (e != std::string::npos) {
    std::string mant = s.substr(0, e);
    std::string exp = s.substr(e + 1);
    bool negative = !exp.empty() && exp[0] == '-';
    if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) exp.erase(0, 1);
    while (exp.size() > 1 && exp[0] == '0') exp.erase(0, 1);
    s = mant + "E" + (negative ? "-" : "") + exp;
  }
  SetText(NameView(), s);
}

bool TIniItem::GetBool(bool def) const {
  const std::string_view v = ValueView();
  if (v.size() != 1) return def;
  if (v[0] == '0') return false;
  if (v[0] == '1') return true;
  return def;
}

void TIniItem::GetCommaList(TStringList& list, std::uint8_t separator) const {
  list.Clear();
  TCommaList parts;
  MakeCommaList(GetValue(), separator, parts);
  for (std::int32_t n = 0; n < parts.Count(); ++n) list.Add(parts.GetWide(n));
}

std::int32_t TIniItem::GetEnum(std::span<const WideString> names, std::int32_t def, bool ignoreCase) const {
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::int32_t c = CompareBytesWide(ValueView(), names[i], ignoreCase);
    if (c == 0) return static_cast<std::int32_t>(i);
  }
  return def;
}

// ============================================================================
// TIniList: children, hash index, object list
// ============================================================================

void TIniList::Dispose() {
  Clear();
  TIniItem::Dispose();
}

bool TIniList::IsAncestorOf(const TIniItem* item) const {
  for (const TIniList* o = item ? item->owner_ : nullptr; o; o = o->owner_)
    if (o == this) return true;
  return false;
}

TIniItem* TIniList::CreateEmpty() const { return new TIniList(); }

TIniItem* TIniList::Get(std::int32_t i) const {
  if (i < 0 || i >= Count()) return nullptr;
  return B().Items[static_cast<std::size_t>(i)];
}

namespace {
std::mutex& HashBuildLock() {
  static std::mutex lock;
  return lock;
}

// Late reads of sections: one at a time, and a reading may look into
// another section (the late section hook does), so the lock nests.
std::recursive_mutex& LateReadLock() {
  static std::recursive_mutex lock;
  return lock;
}
// The list this thread reads late: its own operations meanwhile (the hook's)
// see it as read.
thread_local const TIniList* tReadingLate = nullptr;
}  // namespace

void TIniList::ReadLate() const {
  std::lock_guard<std::recursive_mutex> guard(LateReadLock());
  if (!pending_.load(std::memory_order_relaxed) || tReadingLate == this) return;
  // Only sections of a document are pending, and they are read before they
  // leave it: the owner holds the text.
  auto* section = static_cast<TIniSection*>(const_cast<TIniList*>(this));
  auto* file = static_cast<TIniFile*>(owner_);
  const TIniList* outer = tReadingLate;
  tReadingLate = this;
  try {
    TIniTokenizer t(*file->text_, section->textFrom_, section->textTo_);
    ParseIniLines(t, section, file, &file->lateBlocks_, false);
    if (file->lateHook_) file->lateHook_(*section);
  } catch (...) {
    // Nothing half read stays: the next look reads it again.
    tReadingLate = outer;
    section->FreeChildren();
    throw;
  }
  tReadingLate = outer;
  section->pending_.store(false, std::memory_order_release);
}

namespace {

std::uint8_t FoldAscii(std::uint8_t b) { return static_cast<std::uint8_t>(b >= 'A' && b <= 'Z' ? b + 32 : b); }

bool IsAsciiLetter(std::uint8_t b) { return (b | 0x20) >= 'a' && (b | 0x20) <= 'z'; }

bool NameAt(const std::uint8_t* p, std::string_view name) {
  for (std::size_t k = 0; k < name.size(); ++k)
    if (FoldAscii(p[k]) != FoldAscii(static_cast<std::uint8_t>(name[k]))) return false;
  return true;
}

// Whether p[0, n) holds a byte beyond 127, a word at a time.
bool HasHighByte(const std::uint8_t* p, std::size_t n) {
  std::uint64_t any = 0;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, sizeof w);
    any |= w;
  }
  for (; i < n; ++i) any |= p[i];
  return (any & 0x8080808080808080ull) != 0;
}

// Whether p[0, n) holds name (plain letters in any case, other bytes as
// they are). Found from a byte that is no letter where the name has one
// (the library's search is fast), else from its first letter a word at a
// time: with "| 0x20" on both sides a letter matches in either case.
bool HoldsName(const std::uint8_t* p, std::size_t n, std::string_view name) {
  const std::size_t len = name.size();
  if (len > n) return false;
  std::size_t anchor = 0;
  while (anchor < len && IsAsciiLetter(static_cast<std::uint8_t>(name[anchor]))) ++anchor;
  if (anchor < len) {
    const std::uint8_t* from = p + anchor;
    const std::uint8_t* end = p + (n - len) + anchor + 1;
    while (from < end) {
      const void* at = std::memchr(from, name[anchor], static_cast<std::size_t>(end - from));
      if (!at) return false;
      const auto* q = static_cast<const std::uint8_t*>(at);
      if (NameAt(q - anchor, name)) return true;
      from = q + 1;
    }
    return false;
  }
  constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
  const std::uint64_t first = kOnes * (static_cast<std::uint8_t>(name[0]) | 0x20u);
  const std::size_t last = n - len;  // the last place the name may start
  std::size_t i = 0;
  for (; i + 8 <= last + 1; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, sizeof w);
    const std::uint64_t x = (w | kOnes * 0x20u) ^ first;
    if (!((x - kOnes) & ~x & kHighs)) continue;
    for (std::size_t k = 0; k < 8; ++k)
      if (NameAt(p + i + k, name)) return true;
  }
  for (; i <= last; ++i)
    if (NameAt(p + i, name)) return true;
  return false;
}

}  // namespace

bool TIniList::MayHoldNames(std::span<const std::string_view> names) const {
  if (!Pending()) return true;
  for (const std::string_view name : names) {
    if (name.empty()) return true;
    for (const char c : name)
      if (static_cast<std::uint8_t>(c) >= 0x80) return true;
  }
  // Pending lists are sections of a document, which keeps the text.
  const auto* section = static_cast<const TIniSection*>(this);
  const std::uint8_t* p = static_cast<const TIniFile*>(owner_)->text_->Data() + section->textFrom_;
  const auto n = static_cast<std::size_t>(section->textTo_ - section->textFrom_);
  // A letter beyond 127 may fold to one of the names' letters.
  if (HasHighByte(p, n)) return true;
  for (const std::string_view name : names)
    if (HoldsName(p, n, name)) return true;
  return false;
}

std::int64_t TIniList::ObjectCountDeep() const {
  if (Pending()) {
    const auto* section = static_cast<const TIniSection*>(this);
    TIniTokenizer t(*static_cast<const TIniFile*>(owner_)->text_, section->textFrom_, section->textTo_);
    std::int64_t n = 0;
    for (std::uint32_t lines = 1; !t.AtEnd(); ++lines) {
      if ((lines & (kIniStopLines - 1)) == 0) CheckLoadStop();
      if (t.ParseIniLine() == kIniObjectLine) ++n;
    }
    return n;
  }
  // Without recursion: the nesting of a document has no bound. Only sections
  // wait in the text, so the blocks below are read.
  std::int64_t n = 0;
  std::vector<const TIniList*> lists{this};
  std::uint32_t looks = 0;
  while (!lists.empty()) {
    if ((++looks & (kIniStopLines - 1)) == 0) CheckLoadStop();
    const TIniList* list = lists.back();
    lists.pop_back();
    n += static_cast<std::int64_t>(list->B().Objects.size());
    for (const TIniObject* o : list->B().Objects)
      if (!o->B().Objects.empty()) lists.push_back(o);
  }
  return n;
}

void TIniList::ForEachLine(
    const std::function<bool(std::uint8_t kind, std::string_view name, std::string_view value)>& visit) const {
  if (Pending()) {
    // Read as the late read would read it, its blocks' lines passed over.
    const auto* section = static_cast<const TIniSection*>(this);
    TIniTokenizer t(*static_cast<const TIniFile*>(owner_)->text_, section->textFrom_, section->textTo_);
    std::int64_t depth = 0;
    std::uint32_t lines = 0;
    while (!t.AtEnd()) {
      if ((++lines & (kIniStopLines - 1)) == 0) CheckLoadStop();
      const std::uint8_t kind = t.ParseIniLine();
      if (kind == kIniEndLine) {
        // Outside any block an end line is text.
        if (depth > 0) --depth;
        else if (!visit(kIniTextLine, {}, "end")) return;
        continue;
      }
      if (depth == 0 && !visit(kind, t.NameView(), t.ValueView())) return;
      if (kind == kIniObjectLine) ++depth;
    }
    return;
  }
  std::uint32_t lines = 0;
  for (const TIniItem* it : B().Items) {
    if ((++lines & (kIniStopLines - 1)) == 0) CheckLoadStop();
    const std::uint8_t kind = it->IsList() ? kIniObjectLine : it->HasValue() ? kIniKeyLine : kIniTextLine;
    if (!visit(kind, it->NameView(), it->ValueView())) return;
  }
}

void TIniFile::SetLateSectionHook(std::function<void(TIniSection&)> hook) {
  std::lock_guard<std::recursive_mutex> guard(LateReadLock());
  lateHook_ = std::move(hook);
}

void TIniList::DropHash() {
  hashReady_.store(false, std::memory_order_relaxed);
  if (body_) body_->Buckets.reset();
}

std::size_t TIniList::BucketOf(std::uint32_t hash) const {
  // The name hash is weak in its low bits and close for names that differ
  // only in their last characters: its high bits folded in, the bucket comes
  // from the high bits of a multiplicative mix.
  return ((hash ^ (hash >> 15)) * 0x9E3779B1u) >> B().BucketShift;
}

void TIniList::BuildHash(std::int32_t names) const {
  // Only lists with names have an index: their body exists.
  TBody& b = *body_;
  std::size_t size = 16;
  b.BucketShift = 28;
  while (size < static_cast<std::size_t>(std::max(names, b.NamedCount))) {
    size *= 2;
    --b.BucketShift;
  }
  b.Buckets.reset(new TIniItem*[size]());
  for (TIniItem* it : b.Items) {
    if (it->NameLength() == 0) continue;
    TIniItem*& head = b.Buckets[BucketOf(it->hash_)];
    it->next_ = head;
    head = it;
  }
}

void TIniList::LinkHash(TIniItem* item) {
  TBody& b = *body_;  // it holds the item
  item->next_ = nullptr;
  if (b.Buckets) {
    if ((std::int64_t(1) << (32 - b.BucketShift)) > b.NamedCount) {
      // Chains hold the higher indexes first.
      TIniItem** link = &b.Buckets[BucketOf(item->hash_)];
      while (*link && (*link)->index_ > item->index_) link = &(*link)->next_;
      item->next_ = *link;
      *link = item;
    } else {
      DropHash();  // full: rebuilt larger on the next lookup
    }
  }
  ++b.NamedCount;
}

void TIniList::UnlinkHash(TIniItem* item) {
  TBody& b = *body_;  // it holds the item
  if (b.Buckets) {
    TIniItem** link = &b.Buckets[BucketOf(item->hash_)];
    while (*link && *link != item) link = &(*link)->next_;
    if (*link) *link = item->next_;
  }
  item->next_ = nullptr;
  --b.NamedCount;
}

template <class Match>
TIniItem* TIniList::Lookup(std::uint32_t hash, Match match) const {
  Ready();
  const TBody& b = B();
  if (b.NamedCount == 0) return nullptr;
  if (b.NamedCount <= kLinearLookupLimit) {
    // A few names are looked along, later ones first as in a chain: most
    // lists of a show are this small, and an index for each would cost
    // more memory than they hold.
    for (std::size_t i = b.Items.size(); i-- > 0;) {
      TIniItem* it = b.Items[i];
      if (it->hash_ == hash && it->NameLength() != 0 && match(it)) return it;
    }
    return nullptr;
  }
  if (!hashReady_.load(std::memory_order_acquire)) {
    // Readers of a finished document may meet here from several threads.
    std::lock_guard<std::mutex> guard(HashBuildLock());
    if (!hashReady_.load(std::memory_order_relaxed)) {
      BuildHash();
      hashReady_.store(true, std::memory_order_release);
    }
  }
  for (TIniItem* it = b.Buckets[BucketOf(hash)]; it; it = it->next_)
    if (it->hash_ == hash && match(it)) return it;
  return nullptr;
}

bool TIniList::Insert(std::int32_t index, TIniItem* item) {
  if (!item || item == this || item->IsAncestorOf(this)) return false;
  Ready();
  // A pending section is read before it leaves the document that holds its text.
  if (item->IsList()) static_cast<TIniList*>(item)->Ready();
  index = std::clamp(index, 0, Count());
  if (item->owner_ == this) {
    if (item->index_ == index || item->index_ == index - 1) return true;
    if (item->index_ < index) --index;  // the places after it move down when it leaves
  }
  if (TIniList* old = item->owner_) old->DetachItem(item);
  TBody& b = W();
  b.Items.insert(static_cast<std::size_t>(index), item);
  for (std::size_t k = static_cast<std::size_t>(index) + 1; k < b.Items.size(); ++k)
    b.Items[k]->index_ = static_cast<std::int32_t>(k);
  item->owner_ = this;
  item->index_ = index;
  if (item->NameLength() != 0) LinkHash(item);
  item->Attach(true);
  if (index < b.KeyEnd) ++b.KeyEnd;
  else if (item->HasValue()) b.KeyEnd = index + 1;
  return true;
}

void TIniList::AppendParsed(TIniItem* item, TIniItemBlocks* blocks) {
  TBody& b = W(blocks);
  std::int32_t index = static_cast<std::int32_t>(b.Items.size());
  b.Items.push_back(item);
  item->owner_ = this;
  item->index_ = index;
  if (item->NameLength() != 0) LinkHash(item);
  item->Attach(true);
  if (item->HasValue()) b.KeyEnd = index + 1;
}

void TIniList::DetachItem(TIniItem* item) {
  std::int32_t i = item->index_;
  if (item->owner_ != this || !body_ || i < 0 || i >= static_cast<std::int32_t>(body_->Items.size()) ||
      body_->Items[static_cast<std::size_t>(i)] != item)
    ZM_FAIL("TIniItem.Index mismatch");
  TBody& b = *body_;
  item->Attach(false);
  if (item->NameLength() != 0) UnlinkHash(item);
  b.Items.erase(static_cast<std::size_t>(i));
  for (std::size_t k = static_cast<std::size_t>(i); k < b.Items.size(); ++k)
    b.Items[k]->index_ = static_cast<std::int32_t>(k);
  if (i < b.KeyEnd) --b.KeyEnd;
  item->owner_ = nullptr;
  item->index_ = -1;
  item->next_ = nullptr;
}

TIniItem* TIniList::Extract(TIniItem* item) {
  if (!item || item->owner_ != this) return nullptr;
  if (item->IsList()) static_cast<TIniList*>(item)->Ready();
  DetachItem(item);
  return item;
}

void TIniList::Delete(std::int32_t index) {
  if (TIniItem* item = Get(index)) {
    DetachItem(item);
    item->Free();
  }
}

void TIniList::ResetChildren() {
  DropHash();
  body_.reset();
  pending_.store(false, std::memory_order_relaxed);
  if (kind_ == kKindFile) {
    auto& sections = static_cast<TIniFile*>(this)->sections_;
    sections.clear();
    sections.shrink_to_fit();
  }
}

void TIniList::FreeChildren() {
  // Freed without recursion: a list that dies with its parent hands its
  // children over before it goes. Each child is detached without the index
  // upkeep, since the whole array goes.
  std::vector<TIniArray<TIniItem>> pending;
  if (body_) pending.push_back(std::move(body_->Items));
  const bool wasPending = pending_.load(std::memory_order_relaxed);
  ResetChildren();
  pending_.store(wasPending, std::memory_order_relaxed);
  while (!pending.empty()) {
    TIniArray<TIniItem> batch = std::move(pending.back());
    pending.pop_back();
    for (TIniItem* it : batch) {
      it->owner_ = nullptr;
      if (it->RefCount() > 1) {
        // Someone else holds it: it lives on, detached.
        it->index_ = -1;
        it->next_ = nullptr;
        if (it->kind_ == kKindObject) static_cast<TIniObject*>(it)->objectIndex_ = -1;
        if (it->IsSection()) static_cast<TIniSection*>(it)->sectionIndex_ = -1;
      } else if (it->IsList()) {
        auto* list = static_cast<TIniList*>(it);
        if (list->body_ && !list->body_->Items.empty()) pending.push_back(std::move(list->body_->Items));
        list->ResetChildren();
      }
      it->Free();
    }
  }
}

void TIniList::Clear() {
  // Sections held elsewhere live on without their document: they are read first.
  if (kind_ == kKindFile)
    for (TIniItem* it : B().Items)
      if (it->IsSection() && it->RefCount() > 1) static_cast<TIniList*>(it)->Ready();
  FreeChildren();
  pending_.store(false, std::memory_order_relaxed);
  if (kind_ == kKindFile) static_cast<TIniFile*>(this)->text_.reset();
}

void TIniList::Assign(TIniItem& source) {
  if (&source == this) return;
  if (source.IsList()) {
    auto& from = static_cast<TIniList&>(source);
    // Cloned before clearing: the source may lie below this list.
    std::vector<TIniItem*> copies;
    copies.reserve(static_cast<std::size_t>(from.Count()));
    for (TIniItem* child : from.B().Items) copies.push_back(child->Clone());
    Clear();
    for (TIniItem* c : copies) AppendParsed(c);
    return;
  }
  TIniTokenizer t(SavedText(source));
  Clear();
  while (!t.AtEnd()) {
    std::int32_t lineStart = t.Position;
    std::uint8_t kind = t.ParseIniLine();
    if (kind == kIniTextLine) continue;
    if (kind == kIniKeyLine) t.Position = lineStart;  // the key belongs to the contents
    if (kind != kIniEndLine) ParseIniText(t, this, nullptr);
    break;
  }
}

// ---- Lookups ------------------------------------------------------------------------

TIniItem* TIniList::Find(const WideString& name) const {
  if (name.empty()) return nullptr;
  return Lookup(WideHashNoCase(name),
                [&](TIniItem* it) { return it->HasValue() && CompareBytesWide(it->NameView(), name, true) == 0; });
}

TIniItem* TIniList::FindBytes(const TByteString& name) const {
  if (name.IsEmpty()) return nullptr;
  return Lookup(name.HashNoCase(),
                [&](TIniItem* it) { return it->HasValue() && CompareTextUTF8(it->NameView(), name.View()) == 0; });
}

TIniItem* TIniList::Find(const TIniName& name) const {
  if (name.Bytes().IsEmpty()) return nullptr;
  return Lookup(name.Hash(), [&](TIniItem* it) {
    return it->HasValue() && CompareTextUTF8(it->NameView(), name.Bytes().View()) == 0;
  });
}

TIniItem* TIniList::FindIndexed(const WideString& name, std::int32_t n) const {
  return Find(name + IntToStr(n));
}

namespace {

// The number 1 .. limit that ends name as IntToStr writes it (no sign, no
// leading zero), and how many bytes its digits take.
bool TrailingIndex(std::string_view name, std::int32_t limit, std::int32_t& n, std::int32_t& digits) {
  const auto length = static_cast<std::int32_t>(name.size());
  std::int32_t first = length;
  while (first > 0 && name[static_cast<std::size_t>(first - 1)] >= '0' && name[static_cast<std::size_t>(first - 1)] <= '9')
    --first;
  digits = length - first;
  if (digits < 1 || digits > 10 || name[static_cast<std::size_t>(first)] == '0') return false;
  std::int64_t v = 0;
  for (std::int32_t i = first; i < length; ++i) v = v * 10 + (name[static_cast<std::size_t>(i)] - '0');
  if (v > limit) return false;
  n = static_cast<std::int32_t>(v);
  return true;
}

// Whether item's name is prefix followed by digits of a number 1 .. limit
// (n), compared as Find compares names.
bool IsIndexedName(std::string_view name, const WideString& prefix, std::int32_t limit, std::int32_t& n) {
  std::int32_t digits = 0;
  if (!TrailingIndex(name, limit, n, digits)) return false;
  const std::int32_t length = static_cast<std::int32_t>(name.size()) - digits;
  // Letters below 128 on both sides compare as the full comparison does.
  if (static_cast<std::size_t>(length) == prefix.size()) {
    bool ascii = true, same = true;
    for (std::int32_t i = 0; i < length && ascii && same; ++i) {
      const std::uint32_t a = static_cast<std::uint8_t>(name[static_cast<std::size_t>(i)]),
                          b = prefix[static_cast<std::size_t>(i)];
      ascii = a < 0x80 && b < 0x80;
      same = (a | ((a >= 'A' && a <= 'Z') ? 0x20u : 0u)) == (b | ((b >= 'A' && b <= 'Z') ? 0x20u : 0u));
    }
    if (ascii) return same;
  }
  return CompareBytesWide(name.substr(0, static_cast<std::size_t>(length)), prefix, true) == 0;
}

bool EndsWithDigit(const WideString& s) { return !s.empty() && s.back() >= u'0' && s.back() <= u'9'; }

}  // namespace

void TIniList::FindIndexedRange(const WideString& name, std::int32_t count, std::vector<TIniItem*>& out) const {
  out.assign(static_cast<std::size_t>(std::max(count, 0)), nullptr);
  if (count < 1) return;
  if (name.empty() || EndsWithDigit(name)) {
    // Where the name's own digits meet the number is not clear from the text.
    for (std::int32_t n = 1; n <= count; ++n) out[static_cast<std::size_t>(n - 1)] = FindIndexed(name, n);
    return;
  }
  // In document order: of two keys of one name the later one stays, as Find finds it.
  Ready();
  std::int32_t n = 0;
  for (TIniItem* it : B().Items)
    if (it->HasValue() && IsIndexedName(it->NameView(), name, count, n)) out[static_cast<std::size_t>(n - 1)] = it;
}

TIniItem* TIniList::GetOrAdd(const WideString& name) {
  if (TIniItem* it = Find(name)) return it;
  Ready();
  ZM_ASSERT(B().KeyEnd <= Count(), "TIniList.KeyEnd beyond Count");
  auto* item = new TIniItem(Utf8Of(name), TByteString());
  Insert(B().KeyEnd, item);
  return item;
}

template <class Match>
TIniObject* TIniList::LookupObject(std::uint32_t hash, Match match) const {
  Ready();
  const TBody& b = B();
  if (b.NamedCount > kLinearLookupLimit) return static_cast<TIniObject*>(Lookup(hash, match));
  // Few names: only the blocks are looked along.
  for (std::size_t i = b.Objects.size(); i-- > 0;) {
    TIniObject* it = b.Objects[i];
    if (it->hash_ == hash && it->NameLength() != 0 && match(it)) return it;
  }
  return nullptr;
}

TIniObject* TIniList::FindObject(const WideString& name) const {
  if (name.empty()) return nullptr;
  return LookupObject(WideHashNoCase(name),
                      [&](TIniItem* it) { return it->IsObject() && CompareBytesWide(it->NameView(), name, true) == 0; });
}

TIniObject* TIniList::FindObject(const TIniName& name) const {
  if (name.Bytes().IsEmpty()) return nullptr;
  return LookupObject(name.Hash(),
                      [&](TIniItem* it) { return it->IsObject() && CompareTextUTF8(it->NameView(), name.Bytes().View()) == 0; });
}

TIniObject* TIniList::FindObjectOfType(const WideString& name, const WideString& type) const {
  if (name.empty()) return nullptr;
  return LookupObject(WideHashNoCase(name), [&](TIniItem* it) {
    return it->IsObject() && CompareBytesWide(it->NameView(), name, true) == 0 &&
           CompareBytesWide(it->ValueView(), type, true) == 0;
  });
}

TIniObject* TIniList::FirstObject() const {
  Ready();
  return B().Objects.empty() ? nullptr : B().Objects.front();
}

TIniObject* TIniList::NextObject(const TIniObject* object) const {
  if (!object || object->Owner() != this) return nullptr;
  std::size_t next = static_cast<std::size_t>(object->objectIndex_) + 1;
  return next < B().Objects.size() ? B().Objects[next] : nullptr;
}

TIniObject* TIniList::ObjectAt(std::int32_t i) const {
  Ready();
  return i >= 0 && static_cast<std::size_t>(i) < B().Objects.size() ? B().Objects[static_cast<std::size_t>(i)] : nullptr;
}

TIniObject* TIniList::AddObject(const WideString& name, const WideString& type) {
  Ready();
  auto* object = new TIniObject(Utf8Of(name), Utf8Of(type));
  Insert(B().Objects.empty() ? B().KeyEnd : B().Objects.back()->index_ + 1, object);
  return object;
}

TIniItem* TIniList::FindOrAddPath(const WideString& path) {
  std::vector<WideString> parts(1);
  for (char16_t c : path) {
    if (c == u':') parts.emplace_back();
    else parts.back() += c;
  }
  TIniList* current = this;
  std::size_t first = 0;
  if (kind_ == kKindFile && !owner_ && parts.size() >= 2) {
    current = static_cast<TIniFile*>(this)->GetOrAddSection(parts[0]);
    first = 1;
  }
  for (std::size_t k = first; k + 1 < parts.size(); ++k) {
    TIniObject* object = parts[k].empty() ? current->FirstObject() : current->FindObject(parts[k]);
    if (!object) object = current->AddObject(parts[k], {});
    current = object;
  }
  if (parts.back().empty()) return current;
  return current->GetOrAdd(parts.back());
}

WideString TIniList::ReadString(const WideString& name, const WideString& def) const {
  TIniItem* it = Find(name);
  return it ? it->GetString() : def;
}

bool TIniList::ReadBool(const WideString& name, bool def) const {
  TIniItem* it = Find(name);
  return it ? it->GetBool(def) : def;
}

void TIniList::WriteString(const WideString& name, const WideString& value) { GetOrAdd(name)->SetString(value); }

// ============================================================================
// TIniObject, TIniSection
// ============================================================================

namespace {
// Puts entry into an index-ordered list and renumbers what follows.
template <class T, class Slot>
void EnterOrdered(std::vector<T*>& list, T* entry, Slot slot) {
  if (list.capacity() == 0) list.reserve(2);
  std::size_t pos = list.size();
  if (!list.empty() && list.back()->Index() > entry->Index())
    pos = static_cast<std::size_t>(
        std::upper_bound(list.begin(), list.end(), entry,
                         [](const T* a, const T* b) { return a->Index() < b->Index(); }) -
        list.begin());
  list.insert(list.begin() + static_cast<std::ptrdiff_t>(pos), entry);
  for (std::size_t k = pos; k < list.size(); ++k) slot(list[k]) = static_cast<std::int32_t>(k);
}

template <class T, class Slot>
void EnterOrdered(TIniArray<T>& list, T* entry, Slot slot) {
  if (list.capacity() == 0) list.reserve(2);
  std::size_t pos = list.size();
  if (!list.empty() && list.back()->Index() > entry->Index())
    pos = static_cast<std::size_t>(std::upper_bound(list.begin(), list.end(), entry,
                                                    [](const T* a, const T* b) { return a->Index() < b->Index(); }) -
                                   list.begin());
  list.insert(pos, entry);
  for (std::size_t k = pos; k < list.size(); ++k) slot(list[k]) = static_cast<std::int32_t>(k);
}

template <class List, class T, class Slot>
void LeaveOrdered(List& list, T* entry, Slot slot, const char* mismatch) {
  std::int32_t i = slot(entry);
  if (i < 0 || static_cast<std::size_t>(i) >= list.size() || list[static_cast<std::size_t>(i)] != entry)
    ZM_FAIL(mismatch);
  if constexpr (std::is_same_v<List, std::vector<T*>>) list.erase(list.begin() + i);
  else list.erase(static_cast<std::size_t>(i));
  for (std::size_t k = static_cast<std::size_t>(i); k < list.size(); ++k) slot(list[k]) = static_cast<std::int32_t>(k);
  slot(entry) = -1;
}
}  // namespace

void TIniObject::Attach(bool entering) {
  TIniList* o = Owner();
  if (!o) return;
  auto slot = [](TIniObject* x) -> std::int32_t& { return x->objectIndex_; };
  // The owner holds this block: its body exists.
  if (entering) EnterOrdered(o->body_->Objects, this, slot);
  else LeaveOrdered(o->body_->Objects, this, slot, "TIniObject.ObjectIndex mismatch");
}

TIniItem* TIniObject::CreateEmpty() const { return new TIniObject(); }

void TIniObject::SaveHead(TTextSaver& saver, std::int32_t indent) {
  WriteIndentCapped(saver, indent);
  const std::string_view name = NameView(), type = TypeView();
  if (name.empty() && type.empty()) {
    WriteView(saver, "object");
  } else {
    WriteView(saver, "object ");
    WriteView(saver, name);
    // A name with ":" and no type keeps a closing ":" so that it reads back whole.
    if (!type.empty() || name.find(':') != std::string_view::npos) {
      WriteView(saver, ":");
      WriteView(saver, type);
    }
  }
  saver.WriteNewLine();
}

void TIniObject::SaveTail(TTextSaver& saver, std::int32_t indent) {
  WriteIndentCapped(saver, indent);
  WriteView(saver, "end");
  saver.WriteNewLine();
}

void TIniSection::Attach(bool entering) {
  TIniList* o = Owner();
  if (!o || o->kind_ != kKindFile) return;  // sections are listed by documents only
  auto& list = static_cast<TIniFile*>(o)->sections_;
  auto slot = [](TIniSection* x) -> std::int32_t& { return x->sectionIndex_; };
  if (entering) EnterOrdered(list, this, slot);
  else LeaveOrdered(list, this, slot, "TIniSection.SectionIndex mismatch");
}

TIniItem* TIniSection::CreateEmpty() const { return new TIniSection(); }

void TIniSection::SaveHead(TTextSaver& saver, std::int32_t) {
  WriteView(saver, "[");
  WriteView(saver, NameView());
  WriteView(saver, "]");
  saver.WriteNewLine();
}

// ============================================================================
// TIniFile
// ============================================================================

void TIniFile::Dispose() {
  Clear();
  TIniSection::Dispose();
}

TIniItem* TIniFile::CreateEmpty() const { return new TIniFile(); }

void TIniFile::Clear() { TIniList::Clear(); }

void TIniFile::Assign(TIniItem& source) {
  if (&source == this) return;
  if (source.IsList()) {
    TIniList::Assign(source);
    return;
  }
  LoadFromText(SavedText(source));
}

TIniSection* TIniFile::Section(std::int32_t i) const {
  if (i < 0 || static_cast<std::size_t>(i) >= sections_.size()) return nullptr;
  return sections_[static_cast<std::size_t>(i)];
}

TIniSection* TIniFile::FindSection(const WideString& name) const {
  if (name.empty()) return const_cast<TIniFile*>(this);
  return static_cast<TIniSection*>(Lookup(WideHashNoCase(name), [&](TIniItem* it) {
    return it->kind_ == kKindSection && CompareBytesWide(it->NameView(), name, true) == 0;
  }));
}

void TIniFile::FindIndexedSections(const WideString& name, std::int32_t count, std::vector<TIniSection*>& out) const {
  out.assign(static_cast<std::size_t>(std::max(count, 0)), nullptr);
  if (count < 1) return;
  if (name.empty() || EndsWithDigit(name)) {
    for (std::int32_t n = 1; n <= count; ++n) out[static_cast<std::size_t>(n - 1)] = FindSection(name + IntToStr(n));
    return;
  }
  std::int32_t n = 0;
  for (TIniSection* section : sections_)
    if (section->kind_ == kKindSection && IsIndexedName(section->NameView(), name, count, n))
      out[static_cast<std::size_t>(n - 1)] = section;
}

TIniSection* TIniFile::GetOrAddSection(const WideString& name) {
  if (TIniSection* s = FindSection(name)) return s;
  auto* section = new TIniSection(Utf8Of(name));
  Add(section);
  section->Add(new TIniItem());
  return section;
}

TIniSection* TIniFile::SectionForParse(std::string_view name, TIniItemBlocks* blocks, bool& made) {
  made = false;
  // A part's sections are joined with those of the same name as it is adopted.
  if (!name.empty() && !part_) {
    TIniItem* found = Lookup(BytesHashNoCase(name), [&](TIniItem* it) {
      return it->kind_ == kKindSection && CompareTextUTF8(it->NameView(), name) == 0;
    });
    if (found) return static_cast<TIniSection*>(found);
  }
  auto* section = NewParsedIniItem<TIniSection>(blocks, name, {});
  AppendParsed(section, blocks);
  made = true;
  return section;
}

WideString TIniFile::ReadString(const WideString& section, const WideString& key, const WideString& def) const {
  TIniSection* s = FindSection(section);
  return IniGetString(s ? s->Find(key) : nullptr, def);
}

std::int32_t TIniFile::ReadInteger(const WideString& section, const WideString& key, std::int32_t def) const {
  TIniSection* s = FindSection(section);
  return IniGetInt(s ? s->Find(key) : nullptr, def);
}

double TIniFile::ReadFloat(const WideString& section, const WideString& key, double def) const {
  TIniSection* s = FindSection(section);
  return IniGetFloat(s ? s->Find(key) : nullptr, def);
}

bool TIniFile::ReadBool(const WideString& section, const WideString& key, bool def) const {
  TIniSection* s = FindSection(section);
  return IniGetBool(s ? s->Find(key) : nullptr, def);
}

void TIniFile::WriteString(const WideString& section, const WideString& key, const WideString& value) {
  GetOrAddSection(section)->GetOrAdd(key)->SetString(value);
}

void TIniFile::WriteInteger(const WideString& section, const WideString& key, std::int32_t value) {
  GetOrAddSection(section)->GetOrAdd(key)->SetInt(value);
}

void TIniFile::LoadFromText(TByteString text) {
  Clear();
  if (text.Length() >= std::max(IniLateBytes, 1)) {
    // Kept: sections are read from it when first looked into.
    text_ = std::make_shared<const TByteString>(std::move(text));
    TIniTokenizer t(*text_, 0, text_->Length());
    ParseIniTextInParts(t, this, true);
    return;
  }
  TIniTokenizer t(std::move(text));
  ParseIniTextInParts(t, this, false);
}

void TIniFile::ReserveForParts(std::span<const TRef<TIniFile>> parts) {
  std::size_t items = B().Items.size(), sections = sections_.size();
  std::int32_t names = B().NamedCount;
  for (const TRef<TIniFile>& part : parts) {
    items += part->B().Items.size();
    sections += part->sections_.size();
    names += part->B().NamedCount;
  }
  W().Items.reserve(items);
  sections_.reserve(sections);
  // The index made once for all the names to come, not again as it fills.
  if (names > kLinearLookupLimit && BucketCount() <= names) {
    BuildHash(names + 1);
    hashReady_.store(true, std::memory_order_release);
  }
}

void TIniFile::AdoptSections(TIniFile& part) {
  // The part holds sections only: it began with a section line.
  for (TIniItem* item : part.B().Items) {
    auto* section = static_cast<TIniSection*>(item);
    TIniSection* same = nullptr;
    if (section->NameLength() != 0)
      same = static_cast<TIniSection*>(Lookup(section->hash_, [&](TIniItem* it) {
        return it->kind_ == kKindSection && CompareTextUTF8(it->NameView(), section->NameView()) == 0;
      }));
    // Both read before they are joined (the part's own text is the same text).
    if (same) {
      same->Ready();
      section->Ready();
    }
    item->owner_ = nullptr;
    item->index_ = -1;
    item->next_ = nullptr;
    if (!same) {
      AppendParsed(section);
      continue;
    }
    // Sections of one name are one: the later lines go to the end of the first.
    TIniArray<TIniItem> lines = section->body_ ? std::move(section->body_->Items) : TIniArray<TIniItem>();
    section->ResetChildren();
    for (TIniItem* line : lines) {
      line->owner_ = nullptr;
      line->index_ = -1;
      line->next_ = nullptr;
      same->AppendParsed(line);
    }
    section->Free();
  }
  if (part.body_) part.body_->Items.clear();
  part.ResetChildren();
}

bool TIniFile::LoadFromStream(TStream* stream) {
  Clear();
  TByteString text;
  if (!LoadIniText(stream, false, CP_ACP, text)) return false;
  LoadFromText(std::move(text));
  return true;
}

bool TIniFile::LoadFromFile(const WideString& name) {
  TRef<TStream> stream;
  try {
    stream = zm::ReadFile(name);
  } catch (const Exception&) {
    stream = nullptr;
  }
  if (!stream) {
    Clear();
    return false;
  }
  return LoadFromStream(stream.get());
}

void TIniFile::SaveToStream(TStream* stream, bool withMark) {
  TRef<TStreamTextSaver> saver = MakeRef<TStreamTextSaver>(stream, false);
  if (withMark) saver->WriteBOM();
  Save(*saver);
  saver->Close();
}

bool TIniFile::SaveToFile(const WideString& name) {
  try {
    TRef<TStream> stream = zm::WriteFile(name, false);
    if (!stream) return false;
    SaveToStream(stream.get(), true);
    stream->SetSize(stream->GetPosition());
    return true;
  } catch (const Exception&) {
    return false;
  }
}

bool TIniFile::LoadFromValue(const TByteString& bytes) {
  Clear();
  TByteString text;
  if (!UnescapeIniBytes(bytes, text)) return false;
  LoadFromText(std::move(text));
  return true;
}

TByteString TIniFile::SaveToValue() {
  TRef<TValueTextSaver> saver = MakeRef<TValueTextSaver>();
  Save(*saver);
  saver->Close();
  return saver->TakeBytes();
}

// ============================================================================
// Parsing
// ============================================================================

// ParseIniText, the items made in blocks when blocks are given; with late,
// each new section's lines are left in the text, to be read when first
// looked into.
void ParseIniLines(TIniTokenizer& t, TIniList* list, TIniFile* root, TIniItemBlocks* blocks, bool late);

std::int32_t IniPartBytes = 1 << 20;
std::int32_t IniMaxParts = 0;
std::int32_t IniLateBytes = 1 << 20;
std::int32_t IniReadWithParseBytes = 64 << 10;

namespace {

inline bool IsIniLineEnd(std::uint8_t b) { return b == 13 || b == 10; }

// Whether the line from its first non-blank byte lead is a section line:
// "[" with a "]" before the line's end.
bool IsSectionLineAt(const std::uint8_t* p, std::int32_t lead, std::int32_t end) {
  if (lead >= end || p[lead] != '[') return false;
  for (std::int32_t j = lead + 1; j < end; ++j) {
    if (p[j] == ']') return true;
    if (IsIniLineEnd(p[j])) return false;
  }
  return false;
}

// Blanks as the tokenizer knows them: control bytes but line ends, and space.
inline bool IsIniBlank(std::uint8_t b) { return b <= 32 && !IsIniLineEnd(b); }

// The lines from the start of a line at pos up to end, none of them a
// section line. Each line ends at its first line-end byte; CR LF and LF CR
// end it together: the lines the tokenizer reads.
std::int32_t LinesUpTo(const std::uint8_t* p, std::int32_t pos, std::int32_t end) {
  std::int32_t lines = 0;
  std::int32_t i = pos;
  while (i < end) {
    ++lines;
    const void* at = std::memchr(p + i, '\n', std::size_t(end - i));
    std::int32_t e = at ? static_cast<std::int32_t>(static_cast<const std::uint8_t*>(at) - p) : end;
    // A CR before the LF ends the line first.
    if (const void* cr = std::memchr(p + i, '\r', std::size_t(e - i)))
      e = static_cast<std::int32_t>(static_cast<const std::uint8_t*>(cr) - p);
    if (e >= end) break;
    const std::uint8_t other = p[e] == 13 ? 10 : 13;
    i = e + (e + 1 < end && p[e + 1] == other ? 2 : 1);
  }
  return lines;
}

// From the start of a line at pos, the start of the next section line before
// end, or end. Found from the "[" bytes alone: a section line is rare in a
// long run of lines (a long table), and the library's search finds the few
// "[" faster than the lines are walked. A "[" starts a section line when
// only blanks stand before it on its line, which starts at pos or after a
// line-end byte.
std::int32_t NextSectionLine(const std::uint8_t* p, std::int32_t pos, std::int32_t end) {
  std::int32_t from = pos;
  while (from < end) {
    const void* at = std::memchr(p + from, '[', std::size_t(end - from));
    if (!at) return end;
    const auto lead = static_cast<std::int32_t>(static_cast<const std::uint8_t*>(at) - p);
    std::int32_t start = lead;
    while (start > pos && IsIniBlank(p[start - 1])) --start;
    if ((start == pos || IsIniLineEnd(p[start - 1])) && IsSectionLineAt(p, lead, end)) return start;
    from = lead + 1;
  }
  return end;
}

// The start of a line after pos (past the end of the line that holds the
// first byte of text at or after pos), or end. Lines are found as the
// tokenizer finds them: a run of line ends pairs CR LF and LF CR from its
// first byte, which follows a byte of some line's text.
std::int32_t LineStartAfter(const std::uint8_t* p, std::int32_t pos, std::int32_t end) {
  std::int32_t i = pos;
  while (i < end && IsIniLineEnd(p[i])) ++i;
  while (i < end && !IsIniLineEnd(p[i])) ++i;
  if (i >= end) return end;
  const std::uint8_t other = p[i] == 13 ? 10 : 13;
  return i + (i + 1 < end && p[i + 1] == other ? 2 : 1);
}

// The start of the first section line at or after pos and before end; end
// when there is none.
std::int32_t SectionLineAtOrAfter(const TByteString& text, std::int32_t pos, std::int32_t end) {
  return NextSectionLine(text.Data(), LineStartAfter(text.Data(), pos, end), end);
}

}  // namespace

void ParseIniTextInParts(TIniTokenizer& t, TIniFile* root) { ParseIniTextInParts(t, root, false); }

void ParseIniTextInParts(TIniTokenizer& t, TIniFile* root, bool late) {
  const std::int32_t from = t.Position, to = t.End;
  const std::int64_t partBytes = std::max<std::int64_t>(IniPartBytes, 1);
  const std::int64_t threadCount = IniMaxParts > 0 ? IniMaxParts : std::min(GetProcessorCount(), 4);
  // A few parts for each thread, each thread taking the next one left as it
  // finishes one: threads that run at different speeds still end together.
  constexpr std::int64_t kPartsPerThread = 4;
  const std::int64_t parts =
      threadCount > 1 ? std::min<std::int64_t>(threadCount * kPartsPerThread, (std::int64_t(to) - from) / partBytes) : 1;
  // Each later part begins with a section line: the lines before it never
  // reach into it, as a section line closes every open block.
  std::vector<std::int32_t> bounds{from};
  for (std::int64_t k = 1; k < parts; ++k) {
    const std::int32_t at = SectionLineAtOrAfter(
        t.Source(), std::max(bounds.back() + 1, static_cast<std::int32_t>(from + (std::int64_t(to) - from) * k / parts)), to);
    if (at < to) bounds.push_back(at);
  }
  bounds.push_back(to);
  const std::size_t later = bounds.size() - 2;
  // The parts' threads give way to the same stop as the caller.
  TLoadStop* const stop = CurrentLoadStop();
  std::vector<TRef<TIniFile>> docs(later);
  std::vector<std::exception_ptr> errors(later);
  // A long text's items go into large blocks, each thread's into its own.
  const bool inBlocks = std::int64_t(to) - from >= partBytes;
  std::atomic<std::size_t> nextPart{0};
  auto parseLaterParts = [&](TIniItemBlocks& blocks) {
    TLoadStopScope stopScope(stop);
    for (std::size_t k; (k = nextPart.fetch_add(1)) < later;) {
      try {
        TIniTokenizer part(t.Source(), bounds[k + 1], bounds[k + 2]);
        docs[k] = MakeRef<TIniFile>();
        docs[k]->text_ = root->text_;
        docs[k]->part_ = true;
        docs[k]->keepPending_ = root->keepPending_;
        ParseIniLines(part, docs[k].get(), docs[k].get(), inBlocks ? &blocks : nullptr, late);
      } catch (...) {
        errors[k] = std::current_exception();
      }
    }
  };
  std::vector<std::thread> threads;
  for (std::int64_t n = 1; n < threadCount && static_cast<std::size_t>(n) <= later; ++n) {
    try {
      threads.emplace_back([&] {
        TIniItemBlocks blocks;
        parseLaterParts(blocks);
      });
    } catch (const std::system_error&) {
      break;  // the threads there are, this one among them, take every part
    }
  }
  std::exception_ptr first;
  TIniItemBlocks blocks;
  try {
    t.End = bounds[1];
    ParseIniLines(t, root, root, inBlocks ? &blocks : nullptr, late);
    t.End = to;
  } catch (...) {
    first = std::current_exception();
  }
  parseLaterParts(blocks);
  for (std::thread& thread : threads) thread.join();
  if (first) std::rethrow_exception(first);
  for (std::size_t k = 0; k < later; ++k)
    if (errors[k]) std::rethrow_exception(errors[k]);
  if (later) root->ReserveForParts(docs);
  for (std::size_t k = 0; k < later; ++k) root->AdoptSections(*docs[k]);
}

void ParseIniText(TIniTokenizer& t, TIniList* list, TIniFile* root) { ParseIniLines(t, list, root, nullptr, false); }

void ParseIniLines(TIniTokenizer& t, TIniList* list, TIniFile* root, TIniItemBlocks* blocks, bool late) {
  std::vector<TIniList*> open;  // the lists around the open object blocks
  TIniList* current = list;
  // A whole document's parse gives way to the stop of its thread's work
  // (a show opening that the user quits); a late read is a short look.
  const bool stoppable = list == root;
  std::uint32_t lines = 0;
  while (!t.AtEnd()) {
    if (stoppable && (++lines & (kIniStopLines - 1)) == 0) CheckLoadStop();
    switch (t.ParseIniLine()) {
      case kIniTextLine:
        current->AppendParsed(NewParsedIniItem<TIniItem>(blocks, {}, t.ValueView()), blocks);
        break;
      case kIniKeyLine:
        current->AppendParsed(NewParsedIniItem<TIniItem>(blocks, t.NameView(), t.ValueView()), blocks);
        break;
      case kIniSectionLine: {
        if (!root) return;
        // A section line closes blocks left open: it never lands inside them.
        open.clear();
        bool made = false;
        auto* section = root->SectionForParse(t.NameView(), blocks, made);
        current = section;
        if (!late) break;
        // A section met again is read now, the later lines after its own.
        if (!made) {
          section->Ready();
          break;
        }
        // Its lines wait in the text up to the next section line; a long
        // section (a show's slide times) is read with the parse, on its threads.
        const std::int32_t next = NextSectionLine(t.Source().Data(), t.Position, t.End);
        const bool keep = std::any_of(root->keepPending_.begin(), root->keepPending_.end(), [&](const WideString& n) {
          return CompareBytesWide(section->NameView(), n, true) == 0;
        });
        if (!keep && next - t.Position >= IniReadWithParseBytes) {
          // At most one item a line.
          section->W(blocks).Items.reserve(static_cast<std::size_t>(LinesUpTo(t.Source().Data(), t.Position, next)));
          break;
        }
        section->textFrom_ = t.Position;
        section->textTo_ = t.Position = next;
        section->pending_.store(true, std::memory_order_relaxed);
        break;
      }
      case kIniObjectLine: {
        auto* object = NewParsedIniItem<TIniObject>(blocks, t.NameView(), t.ValueView());
        current->AppendParsed(object, blocks);
        open.push_back(current);
        current = object;
        break;
      }
      case kIniEndLine:
        if (!open.empty()) {
          current = open.back();
          open.pop_back();
        } else if (root) {
          current->AppendParsed(NewParsedIniItem<TIniItem>(blocks, {}, "end"), blocks);
        } else {
          return;
        }
        break;
    }
  }
}

std::int32_t TIniList::ForEachLineInParts(std::int32_t maxParts, std::int32_t minPartBytes,
                                          const std::function<void(std::int32_t parts)>& begin,
                                          const TIniPartLineVisitor& visit) const {
  const auto asOnePart = [&] {
    begin(1);
    ForEachLine([&](std::uint8_t kind, std::string_view name, std::string_view value) {
      visit(0, kind, name, value);
      return true;
    });
    return 1;
  };
  if (maxParts < 2 || !Pending()) return asOnePart();
  const auto* section = static_cast<const TIniSection*>(this);
  const TByteString& text = *static_cast<const TIniFile*>(owner_)->text_;
  const std::int32_t from = section->textFrom_, to = section->textTo_;
  const std::int64_t parts = std::min<std::int64_t>(maxParts, (std::int64_t(to) - from) / std::max(minPartBytes, 1));
  if (parts < 2) return asOnePart();
  std::vector<std::int32_t> bounds{from};
  for (std::int64_t k = 1; k < parts; ++k) {
    const std::int32_t at = LineStartAfter(
        text.Data(), std::max(bounds.back(), static_cast<std::int32_t>(from + (std::int64_t(to) - from) * k / parts)), to);
    if (at < to && at > bounds.back()) bounds.push_back(at);
  }
  bounds.push_back(to);
  const auto n = static_cast<std::int32_t>(bounds.size() - 1);
  if (n < 2) return asOnePart();
  begin(n);
  // Blocks (an object line, an end line) cannot be told apart from the
  // middle of the text: met in any part, the lines are walked again as one.
  std::atomic<bool> blocks{false};
  std::vector<std::exception_ptr> errors(static_cast<std::size_t>(n));
  TLoadStop* const stop = CurrentLoadStop();
  auto walk = [&](std::int32_t k) {
    try {
      TLoadStopScope stopScope(stop);
      TIniTokenizer t(text, bounds[std::size_t(k)], bounds[std::size_t(k) + 1]);
      for (std::uint32_t lines = 1; !t.AtEnd() && !blocks.load(std::memory_order_relaxed); ++lines) {
        if ((lines & (kIniStopLines - 1)) == 0) CheckLoadStop();
        const std::uint8_t kind = t.ParseIniLine();
        if (kind == kIniObjectLine || kind == kIniEndLine) {
          blocks.store(true);
          return;
        }
        visit(k, kind, t.NameView(), t.ValueView());
      }
    } catch (...) {
      errors[std::size_t(k)] = std::current_exception();
    }
  };
  std::vector<std::thread> threads;
  std::int32_t k = 1;
  for (; k < n; ++k) {
    try {
      threads.emplace_back(walk, k);
    } catch (const std::system_error&) {
      break;  // the parts left are walked here
    }
  }
  walk(0);
  for (; k < n; ++k) walk(k);
  for (std::thread& thread : threads) thread.join();
  for (const std::exception_ptr& e : errors)
    if (e) std::rethrow_exception(e);
  return blocks.load() ? asOnePart() : n;
}

void IniGetCommaList(const TIniItem* item, TStringList& list, std::uint8_t separator) {
  if (item)
    item->GetCommaList(list, separator);
  else
    list.Clear();
}

}  // namespace zm
