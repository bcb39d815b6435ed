#include "Platform/User/PlatClipboard.h"

#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace plat {

namespace {
struct TBlock {
  std::vector<std::uint8_t> Data;
  std::int32_t Locks = 0;
  bool OwnedByClipboard = false;
};

struct TClipboardState {
  std::mutex Lock;
  std::map<HGLOBAL, std::unique_ptr<TBlock>> Blocks;  // every live block
  std::map<UINT, HGLOBAL> Formats;
  std::thread::id Holder;
  bool Open = false;
  bool HeldElsewhere = false;
  DWORD Sequence = 1;
};

TClipboardState& State() {
  static TClipboardState s;
  return s;
}

TBlock* Find(TClipboardState& s, HGLOBAL h) {
  auto it = s.Blocks.find(h);
  return it == s.Blocks.end() ? nullptr : it->second.get();
}

bool OpenHere(const TClipboardState& s) { return s.Open && s.Holder == std::this_thread::get_id(); }

void DropFormats(TClipboardState& s) {
  for (auto& [format, h] : s.Formats) s.Blocks.erase(h);
  s.Formats.clear();
}
}  // namespace

HGLOBAL GlobalAlloc(UINT, std::size_t bytes) {
  if (bytes == 0) return nullptr;
  auto& s = State();
  std::unique_ptr<TBlock> b;
  try {
    b = std::make_unique<TBlock>();
    b->Data.assign(bytes, 0);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  HGLOBAL h = b.get();
  std::lock_guard g(s.Lock);
  s.Blocks.emplace(h, std::move(b));
  return h;
}

void* GlobalLock(HGLOBAL block) {
  auto& s = State();
  std::lock_guard g(s.Lock);
  TBlock* b = Find(s, block);
  if (!b) return nullptr;
  ++b->Locks;
  return b->Data.data();
}

BOOL GlobalUnlock(HGLOBAL block) {
  auto& s = State();
  std::lock_guard g(s.Lock);
  TBlock* b = Find(s, block);
  if (!b || b->Locks == 0) return 0;
  return --b->Locks > 0 ? 1 : 0;
}

HGLOBAL GlobalFree(HGLOBAL block) {
  auto& s = State();
  std::lock_guard g(s.Lock);
  TBlock* b = Find(s, block);
  if (!b || b->OwnedByClipboard) return block;
  s.Blocks.erase(block);
  return nullptr;
}

std::size_t GlobalSize(HGLOBAL block) {
  auto& s = State();
  std::lock_guard g(s.Lock);
  TBlock* b = Find(s, block);
  return b ? b->Data.size() : 0;
}

BOOL OpenClipboard(HWND) {
  auto& s = State();
  std::lock_guard g(s.Lock);
  if (s.HeldElsewhere) return 0;
  if (s.Open) return OpenHere(s) ? 1 : 0;
  s.Open = true;
  s.Holder = std::this_thread::get_id();
  return 1;
}

BOOL CloseClipboard() {
  auto& s = State();
  std::lock_guard g(s.Lock);
  if (!OpenHere(s)) return 0;
  s.Open = false;
  s.Holder = {};
  return 1;
}

BOOL EmptyClipboard() {
  auto& s = State();
  std::lock_guard g(s.Lock);
  if (!OpenHere(s)) return 0;
  DropFormats(s);
  ++s.Sequence;
  return 1;
}

HGLOBAL SetClipboardData(UINT format, HGLOBAL block) {
  auto& s = State();
  std::lock_guard g(s.Lock);
  TBlock* b = Find(s, block);
  if (!OpenHere(s) || !b) return nullptr;
  if (auto it = s.Formats.find(format); it != s.Formats.end() && it->second != block) s.Blocks.erase(it->second);
  b->OwnedByClipboard = true;
  s.Formats[format] = block;
  ++s.Sequence;
  return block;
}

HGLOBAL GetClipboardData(UINT format) {
  auto& s = State();
  std::lock_guard g(s.Lock);
  if (!OpenHere(s)) return nullptr;
  auto it = s.Formats.find(format);
  return it == s.Formats.end() ? nullptr : it->second;
}

BOOL IsClipboardFormatAvailable(UINT format) {
  auto& s = State();
  std::lock_guard g(s.Lock);
  return s.Formats.count(format) ? 1 : 0;
}

DWORD GetClipboardSequenceNumber() {
  auto& s = State();
  std::lock_guard g(s.Lock);
  return s.Sequence;
}

void SetClipboardHeldElsewhere(bool held) {
  auto& s = State();
  std::lock_guard g(s.Lock);
  s.HeldElsewhere = held;
}

void ResetClipboard() {
  auto& s = State();
  std::lock_guard g(s.Lock);
  DropFormats(s);
  s.Open = false;
  s.Holder = {};
  s.HeldElsewhere = false;
  ++s.Sequence;
}

}  // namespace plat
