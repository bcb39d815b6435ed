#include "ZmLib/Composite/zmMenuDesc.h"

namespace zm {

namespace {
constexpr std::int32_t kFirstCapacity = 16;
}

TMenuDesc::TMenuDesc(const WideString& name) : name_(name) {}

void TMenuDesc::Dispose() {
  Fire(kDestroyEvent);
  std::vector<TMenuItemDesc> items;
  items.swap(items_);
  items.clear();  // attachments go here, after the list is already empty
  capacity_ = 0;
  TEvents::Dispose();
}

TMenuItemDesc& TMenuDesc::Append() {
  if (std::int32_t(items_.size()) == capacity_) {
    capacity_ = capacity_ == 0 ? kFirstCapacity : capacity_ * 2;
    items_.reserve(std::size_t(capacity_));
  }
  return items_.emplace_back();
}

std::int32_t TMenuDesc::AddItem(const WideString& caption, std::int32_t commandId, bool visible) {
  TMenuItemDesc& it = Append();
  it.Caption = caption;
  it.CommandId = commandId;
  it.Hidden = !visible;
  return Count() - 1;
}

std::int32_t TMenuDesc::AddNamedItem(const WideString& caption, const std::string& commandName, bool visible) {
  TMenuItemDesc& it = Append();
  it.Caption = caption;
  it.CommandName = commandName;
  it.Hidden = !visible;
  return Count() - 1;
}

TMenuItemDesc* TMenuDesc::Item(std::int32_t index) {
  return index >= 0 && index < Count() ? &items_[std::size_t(index)] : nullptr;
}

TMenuDesc* EditContextMenu = nullptr;

void InitEditContextMenu() {
  if (EditContextMenu) return;
  auto m = MakeRef<TMenuDesc>(u"EditContextMenu");
  m->AddItem(u"Undo", ecUndo);
  m->AddItem(u"Redo", ecRedo);
  m->AddItem(u"-", 0);
  m->AddItem(u"Cut", ecCut);
  m->AddItem(u"Copy", ecCopy);
  m->AddItem(u"Paste", ecPaste);
  m->AddItem(u"Delete", ecDelete);
  m->AddItem(u"-", 0);
  m->AddItem(u"Select All", ecSelectAll);
  EditContextMenu = m.Detach();
}

void FiniEditContextMenu() {
  TMenuDesc* m = EditContextMenu;
  EditContextMenu = nullptr;
  if (m) m->ReleaseRef();
}

}  // namespace zm
