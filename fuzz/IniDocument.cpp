// The ini loader, the line tokenizer and the document built from outside
// bytes: every line is something, nothing is lost between a load and a
// save, and the normalised form reads back to itself.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmIniParser2.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

namespace {
std::string Saved(zm::TIniFile& f) {
  zm::TRef<zm::TMemoryStream> m = zm::MakeRef<zm::TMemoryStream>();
  f.SaveToStream(m.get(), false);
  return std::string(reinterpret_cast<const char*>(m->Memory()), static_cast<std::size_t>(m->GetSize()));
}

// A list read late holds what the same list of a full parse holds, and
// every key and block is found where the full parse finds it.
void CheckSame(const zm::TIniList* late, const zm::TIniList* full, int depth) {
  Check(late->Count() == full->Count() && late->KeyEnd() == full->KeyEnd() && late->ObjectCount() == full->ObjectCount());
  for (std::int32_t i = 0; i < full->Count(); ++i) {
    const zm::TIniItem* a = late->Get(i);
    const zm::TIniItem* b = full->Get(i);
    Check(a->NameView() == b->NameView() && a->ValueView() == b->ValueView() && a->IsList() == b->IsList() &&
          a->IsObject() == b->IsObject() && a->IsSection() == b->IsSection());
    if (b->HasValue()) Check(late->FindBytes(a->Name())->Index() == full->FindBytes(b->Name())->Index());
    if (b->IsObject()) {
      const zm::TIniObject* x = late->FindObject(a->GetName());
      const zm::TIniObject* y = full->FindObject(b->GetName());
      Check((x ? x->Index() : -1) == (y ? y->Index() : -1));
    }
    if (b->IsList() && !b->IsSection() && depth < 8)
      CheckSame(static_cast<const zm::TIniList*>(a), static_cast<const zm::TIniList*>(b), depth + 1);
  }
}

// Names of keys, blocks and block types at every depth of list, as plain
// letters where they are; each that a pending list answers it surely lacks.
void CollectNames(const zm::TIniList* list, std::vector<std::string>& names, int depth) {
  for (std::int32_t i = 0; i < list->Count() && depth < 8; ++i) {
    const zm::TIniItem* it = list->Get(i);
    if (it->HasValue() || it->IsObject()) names.emplace_back(it->NameView());
    if (it->IsObject()) names.emplace_back(it->ValueView());
    if (it->IsList()) CollectNames(static_cast<const zm::TIniList*>(it), names, depth + 1);
  }
}

void CheckNamesHeld(const zm::TIniList* pending, const zm::TIniList* full) {
  std::vector<std::string> names;
  CollectNames(full, names, 0);
  for (const std::string& name : names) {
    bool ascii = !name.empty();
    for (const char c : name) ascii = ascii && static_cast<std::uint8_t>(c) < 0x80;
    if (ascii) Check(pending->MayHoldName(name));
  }
}

// A list's own lines as ForEachLine passes them; of a pending list they
// come from the text, of a read one from its items.
std::string LinesOf(const zm::TIniList* list) {
  std::string out;
  list->ForEachLine([&](std::uint8_t kind, std::string_view name, std::string_view value) {
    out += std::to_string(kind) + ":" + std::to_string(name.size()) + ":" + std::string(name) + std::string(value) + "|";
    return true;
  });
  return out;
}

// The same walked in parts side by side, the parts joined in order.
std::string LinesInParts(const zm::TIniList* list, std::int32_t maxParts, std::int32_t partBytes) {
  std::vector<std::string> parts;
  list->ForEachLineInParts(
      maxParts, partBytes, [&](std::int32_t n) { parts.assign(static_cast<std::size_t>(n), std::string()); },
      [&](std::int32_t part, std::uint8_t kind, std::string_view name, std::string_view value) {
        parts[static_cast<std::size_t>(part)] += std::to_string(kind) + ":" + std::to_string(name.size()) + ":" +
                                                  std::string(name) + std::string(value) + "|";
      });
  std::string out;
  for (const std::string& p : parts) out += p;
  return out;
}

// Every key of the list and of its blocks is found by its own name.
void CheckLookups(zm::TIniList* list, int depth) {
  if (depth > 8) return;
  for (std::int32_t i = 0; i < list->Count(); ++i) {
    zm::TIniItem* it = list->Get(i);
    Check(it->Index() == i && it->Owner() == list);
    if (it->HasValue()) {
      zm::TIniItem* found = list->FindBytes(it->Name());
      Check(found != nullptr && found->Index() >= i);
    }
    if (it->IsList()) CheckLookups(static_cast<zm::TIniList*>(it), depth + 1);
  }
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::StartModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zm;
  if (size > 1 << 16) return 0;
  TByteString bytes(data, size);

  // The tokenizer: each step moves on and its ranges lie inside the text.
  TIniTokenizer t(bytes);
  std::int32_t lines = 0;
  while (!t.AtEnd()) {
    std::int32_t before = t.Position;
    std::uint8_t kind = t.ParseIniLine();
    Check(kind <= kIniEndLine && t.Position > before && t.Position <= t.End);
    Check(t.NameLength >= 0 && t.NameStart >= 0 && t.NameStart + t.NameLength <= t.End);
    Check(t.ValueLength >= 0 && t.ValueStart >= 0 && t.ValueStart + t.ValueLength <= t.End);
    Check(kind != kIniKeyLine || t.NameLength > 0);
    ++lines;
  }
  Check(lines <= bytes.Length());

  // The loader over all three encodings.
  TRef<TMemoryStream> stream = MakeRef<TMemoryStream>();
  stream->Write(TWriteBuffer(data, size));
  stream->SetPosition(0);
  TRef<TIniFile> doc = MakeRef<TIniFile>();
  Check(doc->LoadFromStream(stream.get()));
  CheckLookups(doc.get(), 0);

  // Saved, read and saved again: the same text.
  std::string once = Saved(*doc);
  TRef<TIniFile> again = MakeRef<TIniFile>();
  again->LoadFromText(TByteString(once));
  Check(Saved(*again) == once);

  // Parsed as a long text (its items in blocks), cut into parts on up to
  // three threads: the same document as one parse makes.
  {
    const std::int32_t bytesBefore = IniPartBytes, partsBefore = IniMaxParts;
    IniPartBytes = 1 + static_cast<std::int32_t>(size % 61);
    IniMaxParts = 1 + static_cast<std::int32_t>(size % 3);
    TRef<TIniFile> cut = MakeRef<TIniFile>();
    cut->LoadFromText(TByteString(once));
    IniPartBytes = bytesBefore;
    IniMaxParts = partsBefore;
    Check(Saved(*cut) == once);
  }

  // Read a section at a time, each when first looked into (in an order of
  // the input's choosing): what a full parse gives, found the same way.
  {
    zm::THookScope<std::int32_t> lateBytes(IniLateBytes), partBytes(IniPartBytes), maxParts(IniMaxParts),
        withParse(IniReadWithParseBytes);
    IniPartBytes = 1 + static_cast<std::int32_t>(size % 37);
    IniMaxParts = 1 + static_cast<std::int32_t>(size % 2);
    IniReadWithParseBytes = 1 + static_cast<std::int32_t>(size % 301);
    IniLateBytes = INT32_MAX;
    TRef<TIniFile> full = MakeRef<TIniFile>();
    full->LoadFromText(bytes);
    IniLateBytes = 1;
    TRef<TIniFile> late = MakeRef<TIniFile>();
    late->LoadFromText(bytes);
    const std::int32_t n = full->SectionCount();
    Check(late->SectionCount() == n);
    const std::int32_t step = n > 0 ? 1 + static_cast<std::int32_t>(data[0]) % n : 1;
    for (std::int32_t k = 0, i = n > 0 ? static_cast<std::int32_t>(size % std::size_t(n)) : 0; k < n; ++k) {
      const TIniSection* a = late->Section(i);
      const TIniSection* b = full->Section(i);
      // A section that surely holds no name holds none of them once read;
      // its lines walked in the text are those of its items.
      if (a->Pending()) {
        CheckNamesHeld(a, b);
        Check(LinesOf(a) == LinesOf(b) && a->Pending());
        // In parts on threads (a few sections an input: threads cost).
        if (k < 3)
          Check(LinesInParts(a, 1 + static_cast<std::int32_t>(size % 5), 1 + static_cast<std::int32_t>(size % 97)) ==
                    LinesOf(b) &&
                a->Pending());
      }
      Check(a->NameView() == b->NameView() && a->Index() == b->Index());
      const TIniSection* x = late->FindSection(a->GetName());
      const TIniSection* y = full->FindSection(b->GetName());
      Check((x ? x->Index() : -2) == (y ? y->Index() : -2));
      CheckSame(a, b, 0);
      i = (i + step) % n;  // a section may come again: read once, it answers alike
    }
    CheckSame(late.get(), full.get(), 0);
    Check(Saved(*late) == Saved(*full));
  }

  // A clone saves alike; the escaped one-value form reads back.
  TIniItem* copy = doc->Clone();
  Check(Saved(*static_cast<TIniFile*>(copy)) == once);
  copy->Free();
  TByteString value = doc->SaveToValue();
  Check(again->LoadFromValue(value));
  Check(Saved(*again) == once);

  // The bytes as one escaped value.
  TByteString raw;
  if (UnescapeIniBytes(bytes, raw)) Check(again->LoadFromValue(bytes));
  else Check(!again->LoadFromValue(bytes) && again->Count() == 0);
  DecodeIniValue(bytes);
  return 0;
}
