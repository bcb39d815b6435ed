#pragma once
// The command line, split into arguments once at start-up and sorted into
// switches: an argument that begins with "-" names a switch, and the
// arguments after it, up to the next switch, are its values. Arguments
// before the first switch belong to the switch with the empty name. Switch
// names are compared exactly (with letter case).
#include <cstdint>
#include <vector>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmLists.h"
#include "ZmLib/zmStringList.h"
#include "ZmLib/zmTypes.h"

namespace zm {

// One argument.
class TCommandItem : public TRefObject {
public:
  explicit TCommandItem(const WideString& text) : Text(text) {}
  // The argument under the rules of StrToIntDef.
  std::int32_t ToIntDef(std::int32_t def) const;

  WideString Text;
};

// One switch: its key is the name without "-", its values are its
// TCommandItem arguments in command-line order (indexes 0-based).
class TCommand : public TKeyItem {
public:
  using TKeyItem::TKeyItem;
  TCommandItem* GetItem(std::int32_t n) const { return static_cast<TCommandItem*>(Get(n)); }
};

// The switches by name (251 buckets).
class TCommandsStorage : public THashList {
public:
  TCommandsStorage();
  void Dispose() override;  // frees the entries with their arguments
  TKeyItem* NewItem(THashItem* bucket, const WideString& key) override;
  void ForgetItem(TKeyItem* item) override;
  // Nil when the switch was not given.
  TCommand* FindCommand(const WideString& name);
  TCommand* GetCommand(const WideString& name) { return static_cast<TCommand*>(GetItem(name)); }
  // The switches sorted by name; made on demand and dropped whenever an
  // entry is added or forgotten.
  TList* Ordered();

private:
  TRef<TList> ordered_;
};

// Appends the arguments of text: blanks (codes 0 to 32) separate them
// outside double quotes; a quote at the start and one at the end of an
// argument are dropped, and every other quote inside is removed.
void SplitCommandLine(const WideString& text, IStrings& list);
// Splits text into list, then files each non-empty argument into storage.
void ParseCommandLine(const WideString& text, IStrings& list, TCommandsStorage& storage);
// The same for arguments already apart (as the system hands them over):
// each is taken whole, quotes and blanks included.
void ParseArguments(const std::vector<WideString>& args, IStrings& list, TCommandsStorage& storage);

// Forwards Clear and Add (and the rest) to the string list it holds.
class TStringsAdapter : public TRefObject, public IStrings {
public:
  explicit TStringsAdapter(TStringList* list) : list_(list) {}
  void Dispose() override;
  std::int32_t GetCount() override { return list_->GetCount(); }
  void SetCount(std::int32_t n) override { list_->SetCount(n); }
  void Clear() override { list_->Clear(); }
  std::int32_t Add(const WideString& s) override { return list_->Add(s); }
  bool Insert(std::int32_t i, const WideString& s) override { return list_->Insert(i, s); }
  void Delete(std::int32_t i) override { list_->Delete(i); }
  void AssignStrings(IStrings& source) override { list_->AssignStrings(source); }
  WideString GetString(std::int32_t i) override { return list_->GetString(i); }
  void SetString(std::int32_t i, const WideString& s) override { list_->SetString(i, s); }
  TStringList* List() const { return list_.get(); }

private:
  TRef<TStringList> list_;
};

// Filled at start-up, freed at shutdown. The arguments come as the system
// handed them over when it tells them, else from the command-line text.
extern WideString ProgramPath;  // the program's full file name
extern WideString CommandLine;  // the raw command-line text
extern TStringList* CommandArgs;
extern TCommandsStorage* Commands;

void InitCommandLine();
void FiniCommandLine();

}  // namespace zm
