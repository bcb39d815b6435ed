#include "ZmLib/zmCommandLine.h"

#include "ZmLib/Win32/winFileAPI.h"
#include "ZmLib/wpUnicode.h"

namespace zm {

std::int32_t TCommandItem::ToIntDef(std::int32_t def) const { return StrToIntDef(Text, def); }

// ============================================================================
// TCommandsStorage
// ============================================================================

TCommandsStorage::TCommandsStorage() : THashList(251) {}

void TCommandsStorage::Dispose() {
  Clear(true);
  ordered_ = nullptr;
  THashList::Dispose();
}

TKeyItem* TCommandsStorage::NewItem(THashItem* bucket, const WideString& key) {
  if (ordered_) ordered_->Clear();
  return new TCommand(bucket, key);
}

void TCommandsStorage::ForgetItem(TKeyItem* item) {
  if (ordered_) ordered_->Clear();
  THashList::ForgetItem(item);
}

TCommand* TCommandsStorage::FindCommand(const WideString& name) {
  TKeyItem* item = nullptr;
  return Find(name, item) ? static_cast<TCommand*>(item) : nullptr;
}

TList* TCommandsStorage::Ordered() {
  if (!ordered_) ordered_ = MakeRef<TList>();
  if (ordered_->Count() == 0) {
    for (std::int32_t b = 0; b < BucketCount(); ++b)
      if (THashItem* bucket = BucketAt(b))
        for (TKeyItem* e = bucket->First; e; e = e->Next) ordered_->Add(e);
    ordered_->Sort([](TRefObject* a, TRefObject* b) -> std::int32_t {
      const WideString& x = static_cast<TKeyItem*>(a)->Key;
      const WideString& y = static_cast<TKeyItem*>(b)->Key;
      return x < y ? -1 : (y < x ? 1 : 0);
    });
  }
  return ordered_.get();
}

// ============================================================================
// Splitting
// ============================================================================

namespace {
WideString Unquote(WideStringView raw) {
  if (!raw.empty() && raw.front() == u'"') raw.remove_prefix(1);
  if (!raw.empty() && raw.back() == u'"') raw.remove_suffix(1);
  WideString out;
  out.reserve(raw.size());
  for (char16_t c : raw)
    if (c != u'"') out += c;
  return out;
}
}  // namespace

void SplitCommandLine(const WideString& text, IStrings& list) {
  std::size_t p = 0, n = text.size();
  while (p < n) {
    while (p < n && text[p] <= 32) ++p;
    if (p >= n) break;
    std::size_t start = p;
    bool quoted = false;
    while (p < n) {
      char16_t c = text[p];
      if (c == u'"') quoted = !quoted;
      else if (!quoted && c <= 32) break;
      ++p;
    }
    list.Add(Unquote(WideStringView(text).substr(start, p - start)));
  }
}

namespace {
// Files the arguments of list from First on into storage.
void FileSwitches(IStrings& list, std::int32_t first, TCommandsStorage& storage) {
  WideString current;
  for (std::int32_t i = first; i < list.GetCount(); ++i) {
    WideString arg = list.GetString(i);
    if (arg.empty()) continue;
    if (arg[0] == u'-') {
      current = arg.substr(1);
      storage.GetItem(current);  // the switch exists even without values
    } else {
      storage.GetItem(current)->Add(new TCommandItem(arg));
    }
  }
}
}  // namespace

void ParseCommandLine(const WideString& text, IStrings& list, TCommandsStorage& storage) {
  const std::int32_t first = list.GetCount();
  SplitCommandLine(text, list);
  FileSwitches(list, first, storage);
}

void ParseArguments(const std::vector<WideString>& args, IStrings& list, TCommandsStorage& storage) {
  const std::int32_t first = list.GetCount();
  for (const WideString& a : args) list.Add(a);
  FileSwitches(list, first, storage);
}

void TStringsAdapter::Dispose() {
  list_ = nullptr;
  TRefObject::Dispose();
}

// ============================================================================
// Module
// ============================================================================

WideString ProgramPath;
WideString CommandLine;
TStringList* CommandArgs = nullptr;
TCommandsStorage* Commands = nullptr;

void InitCommandLine() {
  ProgramPath.clear();
  CommandLine.clear();
  FileAPI().GetModuleFileName(nullptr, ProgramPath);
  FileAPI().GetCommandLine(CommandLine);
  CommandArgs = MakeRef<TStringList>().Detach();
  Commands = MakeRef<TCommandsStorage>().Detach();
  // Joined into one text and split again, an argument would lose the quotes
  // inside it (a folder named with one) and fall apart at them.
  std::vector<WideString> args;
  if (FileAPI().GetArguments(args))
    ParseArguments(args, *CommandArgs, *Commands);
  else
    ParseCommandLine(CommandLine, *CommandArgs, *Commands);
}

void FiniCommandLine() {
  FreeAndNil(Commands);
  FreeAndNil(CommandArgs);
}

}  // namespace zm
