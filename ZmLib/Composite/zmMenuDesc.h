#pragma once
// Menu descriptions: captions and commands a control shows as a context
// menu, and the edit context menu every edit box shares. UI thread only.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ZmLib/Composite/zmEvents.h"

namespace zm {

struct TMenuItemDesc {
  WideString Caption;  // "-" is a separator
  std::string CommandName;
  std::int32_t CommandId = 0;
  bool Hidden = false;
  TRef<TRefObject> Attachment;  // owned, released with the item
  bool IsSeparator() const { return Caption == u"-"; }
};

class TMenuDesc : public TEvents {
public:
  static constexpr std::int32_t kDestroyEvent = 0;
  explicit TMenuDesc(const WideString& name);
  // Tells the listeners (event 0), then frees the items and their attachments.
  void Dispose() override;
  // The index of the new item.
  std::int32_t AddItem(const WideString& caption, std::int32_t commandId, bool visible = true);
  std::int32_t AddNamedItem(const WideString& caption, const std::string& commandName, bool visible = true);
  std::int32_t Count() const { return std::int32_t(items_.size()); }
  std::int32_t Capacity() const { return capacity_; }
  // Nil outside 0..Count-1.
  TMenuItemDesc* Item(std::int32_t index);
  const WideString& Name() const { return name_; }
  // The current item (-1: none) and its companion field.
  std::int32_t Current = -1;
  std::int32_t Current2 = -1;

private:
  TMenuItemDesc& Append();
  WideString name_;
  std::vector<TMenuItemDesc> items_;
  std::int32_t capacity_ = 0;
};

// Command ids of the edit context menu.
constexpr std::int32_t ecUndo = 1;
constexpr std::int32_t ecRedo = 2;
constexpr std::int32_t ecCut = 3;
constexpr std::int32_t ecCopy = 4;
constexpr std::int32_t ecPaste = 5;
constexpr std::int32_t ecDelete = 6;
constexpr std::int32_t ecSelectAll = 7;

// "EditContextMenu", made at start-up (nil before); holds a reference.
extern TMenuDesc* EditContextMenu;
void InitEditContextMenu();
void FiniEditContextMenu();

}  // namespace zm
