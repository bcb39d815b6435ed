#pragma once
// Executable memory for object-bound stubs: pages of 4096-byte multiples,
// each cut into pieces by first fit; a freed piece merges with free
// neighbours, and a page that is free again is given back.
#include <cstddef>
#include <cstdint>

#include "ZmLib/Win32/SysObj2.h"

namespace zm {

// Where pages come from (tests put in a fake).
class TVirtualPageSource {
public:
  virtual ~TVirtualPageSource() = default;
  virtual void* AllocPages(std::size_t size) = 0;
  virtual void FreePages(void* base, std::size_t size) = 0;
  virtual void SetWritable(void* base, std::size_t size, bool writable) = 0;
};
// mmap'ed pages of the platform layer.
TVirtualPageSource& SystemPageSource();

struct TVirtualPointer {
  std::uint8_t* Address;
  std::size_t Size;
  bool Free;
  TVirtualPointer* Next;
};

class TVirtualPage : public TRefObject {
public:
  TVirtualPage(TVirtualPageSource& source, std::size_t size);
  void Dispose() override;
  std::uint8_t* Base() const { return base_; }
  std::size_t Size() const { return size_; }
  std::size_t FreeBytes() const { return free_; }
  bool Contains(const void* p) const;
  // First fit; nullptr when no free piece is large enough.
  void* Alloc(std::size_t size);
  // Marks the piece free and merges it; false when p is no piece of this page.
  bool FreePiece(void* p);
  TVirtualPointer* Pieces() const { return head_; }

private:
  TVirtualPageSource& source_;
  std::uint8_t* base_ = nullptr;
  std::size_t size_ = 0;
  std::size_t free_ = 0;
  TVirtualPointer* head_ = nullptr;
};

class TVirtualMemory : public TRefObject {
public:
  explicit TVirtualMemory(TVirtualPageSource& source = SystemPageSource()) : source_(source) {}
  void Dispose() override;
  // Fails an assertion when no memory can be had.
  void* Alloc(std::size_t size);
  // True when the allocator has no pages left afterwards.
  bool FreeMem(void* p);
  int PageCount() const { return count_; }
  // Writes code into a piece: writable for the copy, executable after.
  void Write(void* dest, const void* code, std::size_t size);
  TVirtualPageSource& Source() const { return source_; }

private:
  struct TNode {
    TVirtualPage* Page;
    TNode* Next;
  };
  TVirtualPageSource& source_;
  TNode* pages_ = nullptr;
  int count_ = 0;
};

// The stub allocator: made on first use, freed when its last page goes.
void* AllocExecutable(std::size_t size);
void FreeExecutable(void* p);
void WriteExecutable(void* dest, const void* code, std::size_t size);
// Pages held by the stub allocator (0 when it does not exist).
int ExecutablePageCount();

}  // namespace zm
