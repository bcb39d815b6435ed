#include "ZmLib/Win32/winVirtualMemoryManager.h"

#include <cstring>

#include "Platform/User/PlatExecPages.h"

namespace zm {

namespace {
constexpr std::size_t kPage = 4096;

class TSystemPages final : public TVirtualPageSource {
public:
  void* AllocPages(std::size_t size) override { return plat::AllocExecPages(size); }
  void FreePages(void* base, std::size_t size) override { plat::FreeExecPages(base, size); }
  void SetWritable(void* base, std::size_t size, bool writable) override {
    plat::ProtectExecPages(base, size, writable);
  }
};
}  // namespace

TVirtualPageSource& SystemPageSource() {
  static TSystemPages s;
  return s;
}

// ---- TVirtualPage ---------------------------------------------------------------

TVirtualPage::TVirtualPage(TVirtualPageSource& source, std::size_t size) : source_(source) {
  size_ = (size + kPage - 1) / kPage * kPage;
  if (size_ == 0) size_ = kPage;
  base_ = static_cast<std::uint8_t*>(source_.AllocPages(size_));
  if (!base_) {
    size_ = 0;
    return;
  }
  free_ = size_;
  head_ = new TVirtualPointer{base_, size_, true, nullptr};
}

void TVirtualPage::Dispose() {
  while (head_) {
    TVirtualPointer* n = head_->Next;
    delete head_;
    head_ = n;
  }
  if (base_) source_.FreePages(base_, size_);
  base_ = nullptr;
  TRefObject::Dispose();
}

bool TVirtualPage::Contains(const void* p) const {
  auto* b = static_cast<const std::uint8_t*>(p);
  return base_ && b >= base_ && b < base_ + size_;
}

void* TVirtualPage::Alloc(std::size_t size) {
  if (size == 0) size = 1;
  for (TVirtualPointer* v = head_; v; v = v->Next) {
    if (!v->Free || v->Size < size) continue;
    if (v->Size > size) {
      // The remainder stays free behind the piece.
      v->Next = new TVirtualPointer{v->Address + size, v->Size - size, true, v->Next};
      v->Size = size;
    }
    v->Free = false;
    free_ -= size;
    return v->Address;
  }
  return nullptr;
}

bool TVirtualPage::FreePiece(void* p) {
  TVirtualPointer* prev = nullptr;
  for (TVirtualPointer* v = head_; v; prev = v, v = v->Next) {
    if (v->Address != p) continue;
    if (v->Free) return false;  // freed twice
    v->Free = true;
    free_ += v->Size;
    if (v->Next && v->Next->Free) {
      TVirtualPointer* n = v->Next;
      v->Size += n->Size;
      v->Next = n->Next;
      delete n;
    }
    if (prev && prev->Free) {
      prev->Size += v->Size;
      prev->Next = v->Next;
      delete v;
    }
    return true;
  }
  return false;
}

// ---- TVirtualMemory -------------------------------------------------------------

void TVirtualMemory::Dispose() {
  while (pages_) {
    TNode* n = pages_->Next;
    pages_->Page->Free();
    delete pages_;
    pages_ = n;
  }
  count_ = 0;
  TRefObject::Dispose();
}

void* TVirtualMemory::Alloc(std::size_t size) {
  ZM_ASSERT(size > 0 && size <= (std::size_t(1) << 30), "TVirtualMemory.Alloc: bad size");
  for (TNode* n = pages_; n; n = n->Next)
    if (n->Page->FreeBytes() >= size)
      if (void* p = n->Page->Alloc(size)) return p;
  auto* page = new TVirtualPage(source_, size);
  page->AfterConstruction();
  if (!page->Base()) {
    page->Free();
    ZM_FAIL("TVirtualMemory.Alloc: out of executable memory");
  }
  // New pages go to the end: first fit keeps using the older ones.
  TNode** tail = &pages_;
  while (*tail) tail = &(*tail)->Next;
  *tail = new TNode{page, nullptr};
  ++count_;
  return page->Alloc(size);
}

bool TVirtualMemory::FreeMem(void* p) {
  if (!p) return pages_ == nullptr;
  TNode* prev = nullptr;
  for (TNode* n = pages_; n; prev = n, n = n->Next) {
    if (!n->Page->Contains(p)) continue;
    ZM_ASSERT(n->Page->FreePiece(p), "TVirtualMemory.Free: not an allocated piece");
    if (n->Page->FreeBytes() == n->Page->Size()) {
      (prev ? prev->Next : pages_) = n->Next;
      n->Page->Free();
      delete n;
      --count_;
    }
    return pages_ == nullptr;
  }
  ZM_FAIL("TVirtualMemory.Free: pointer of no page");
  return false;
}

void TVirtualMemory::Write(void* dest, const void* code, std::size_t size) {
  for (TNode* n = pages_; n; n = n->Next) {
    if (!n->Page->Contains(dest)) continue;
    source_.SetWritable(n->Page->Base(), n->Page->Size(), true);
    std::memcpy(dest, code, size);
    source_.SetWritable(n->Page->Base(), n->Page->Size(), false);
    return;
  }
  ZM_FAIL("TVirtualMemory.Write: pointer of no page");
}

// ---- the stub allocator ------------------------------------------------------------

namespace {
TVirtualMemory* gMemory = nullptr;  // UI thread only
}

void* AllocExecutable(std::size_t size) {
  if (!gMemory) {
    gMemory = new TVirtualMemory();
    gMemory->AfterConstruction();
  }
  return gMemory->Alloc(size);
}

void FreeExecutable(void* p) {
  if (!gMemory || !p) return;
  if (gMemory->FreeMem(p)) FreeAndNil(gMemory);
}

void WriteExecutable(void* dest, const void* code, std::size_t size) {
  ZM_ASSERT(gMemory != nullptr, "WriteExecutable: no executable memory");
  gMemory->Write(dest, code, size);
}

int ExecutablePageCount() { return gMemory ? gMemory->PageCount() : 0; }

}  // namespace zm
