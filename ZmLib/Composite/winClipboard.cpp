#include "ZmLib/Composite/winClipboard.h"

#include <algorithm>
#include <cstring>

#include "Platform/Gdi/PlatGdi.h"
#include "Platform/User/PlatClipboard.h"
#include "ZmLib/Application2/winApplication.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/wpUnicode.h"

namespace zm {

TClipboard* Clipboard = nullptr;

namespace {
constexpr plat::UINT kShareableBlock = plat::GMEM_MOVEABLE | plat::GMEM_DDESHARE;
constexpr std::int32_t kMaxDibSide = 32768;
constexpr std::int64_t kMaxDibBytes = std::int64_t(1) << 30;

// Opens in the constructor, closes in the destructor.
class TOpenScope {
public:
  explicit TOpenScope(TClipboard* c) : c_(c), ok_(c->Open()) {}
  ~TOpenScope() {
    if (ok_) c_->Close();
  }
  bool Ok() const { return ok_; }

private:
  TClipboard* c_;
  bool ok_;
};

// A locked global block; unlocked on scope exit.
class TLockedBlock {
public:
  explicit TLockedBlock(plat::HGLOBAL h)
      : h_(h), p_(static_cast<std::uint8_t*>(plat::GlobalLock(h))), size_(p_ ? plat::GlobalSize(h) : 0) {}
  ~TLockedBlock() {
    if (p_) plat::GlobalUnlock(h_);
  }
  std::uint8_t* Data() const { return p_; }
  std::size_t Size() const { return size_; }

private:
  plat::HGLOBAL h_;
  std::uint8_t* p_;
  std::size_t size_;
};

bool ReadText(WideString& text) {
  plat::HGLOBAL h = plat::GetClipboardData(plat::CF_UNICODETEXT);
  if (!h) return false;
  TLockedBlock b(h);
  if (!b.Data()) return false;
  // A block without its terminating zero ends at its size.
  const std::size_t n = b.Size() / 2;
  text.resize(n);
  std::memcpy(text.data(), b.Data(), n * 2);
  text.resize(std::min(text.find(u'\0'), n));
  return true;
}

bool ValidBitCount(std::int32_t b) { return b == 1 || b == 4 || b == 8 || b == 16 || b == 24 || b == 32; }

// A palette DIB as a 24-bit one (the bitmap formats carry no palette).
TRef<TFastDIB> PaletteToRgb(TFastDIB* src) {
  auto out = MakeRef<TFastDIB>();
  out->UseDibSection = false;
  out->SetSize(src->Width(), src->Height(), 24);
  const std::int32_t b = src->BitCount(), perByte = 8 / b, mask = (1 << b) - 1;
  const plat::RGBQUAD* pal = src->Info().bmiColors;
  for (std::int32_t row = 0; row < src->AbsHeight(); ++row) {
    const std::uint8_t* in = src->Pixels8(row);
    TColor24* o = out->Pixels24(row);
    for (std::int32_t x = 0; x < src->Width(); ++x) {
      const std::int32_t shift = 8 - b * (x % perByte + 1);
      const plat::RGBQUAD& c = pal[(in[x / perByte] >> shift) & mask];
      o[x] = {c.rgbBlue, c.rgbGreen, c.rgbRed};
    }
  }
  return out;
}
}  // namespace

std::int32_t DibHeaderSize(std::int32_t bitCount, std::uint32_t compression) {
  if (bitCount <= 8) return 40 + 4 * (1 << std::max(bitCount, 0));
  if ((bitCount == 16 || bitCount == 32) && compression == plat::BI_BITFIELDS) return 52;
  return 40;
}

bool DibFromBlock(std::span<const std::uint8_t> block, TFastDIB* dib) {
  if (!dib || block.size() < sizeof(plat::BITMAPINFOHEADER)) return false;
  plat::BITMAPINFO info{};
  std::memcpy(&info.bmiHeader, block.data(), sizeof info.bmiHeader);
  const plat::BITMAPINFOHEADER& h = info.bmiHeader;
  const std::int32_t b = h.biBitCount;
  const std::int64_t w = h.biWidth, ah = h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
  if (!ValidBitCount(b) || w < 1 || ah < 1 || w > kMaxDibSide || ah > kMaxDibSide) return false;
  const std::int64_t rowBytes = (w * b + 31) / 32 * 4;
  if (rowBytes * ah > kMaxDibBytes) return false;
  const bool rle8 = h.biCompression == plat::BI_RLE8, rle4 = h.biCompression == plat::BI_RLE4;
  if ((rle8 && b != 8) || (rle4 && b != 4) || ((rle8 || rle4) && h.biHeight < 0)) return false;
  if (!rle8 && !rle4 && h.biCompression != plat::BI_RGB &&
      !(h.biCompression == plat::BI_BITFIELDS && (b == 16 || b == 32)))
    return false;
  const std::size_t header = std::size_t(DibHeaderSize(b, h.biCompression));
  if (block.size() < header) return false;
  std::memcpy(reinterpret_cast<std::uint8_t*>(&info) + sizeof info.bmiHeader, block.data() + sizeof info.bmiHeader,
              std::min(header, sizeof info) - sizeof info.bmiHeader);
  if (b <= 8 && (info.bmiHeader.biClrUsed == 0 || info.bmiHeader.biClrUsed > (1u << b)))
    info.bmiHeader.biClrUsed = 1u << b;
  dib->SetInfo(info);
  if (dib->Width() < 1 || dib->AbsHeight() < 1 || !dib->Bits()) return false;
  const std::span<const std::uint8_t> data = block.subspan(header);
  if (rle8) {
    dib->DecodeRLE8(data);
  } else if (rle4) {
    dib->DecodeRLE4(data);
  } else {
    std::int64_t n = h.biSizeImage;
    if (n == 0) n = dib->Size();
    if (n == 0) n = rowBytes * ah;
    n = std::min<std::int64_t>({n, std::int64_t(data.size()), dib->Size()});
    if (n > 0) std::memcpy(dib->Bits(), data.data(), std::size_t(n));
  }
  return true;
}

void TClipboard::Dispose() {
  if (Clipboard == this) Clipboard = nullptr;
  if (Clipbrd == this) Clipbrd = nullptr;
  TClipbrd::Dispose();
}

bool TClipboard::Open() {
  if (openCount_ == 0) {
    owner_ = WinApplication ? WinApplication->GetHandle() : nullptr;
    if (!plat::OpenClipboard(owner_)) {
      owner_ = nullptr;
      return false;
    }
    emptied_ = false;
  }
  ++openCount_;
  return true;
}

void TClipboard::Close() {
  if (openCount_ <= 0) return;
  if (--openCount_ == 0) {
    plat::CloseClipboard();
    owner_ = nullptr;
  }
}

bool TClipboard::Clear() {
  TOpenScope open(this);
  return open.Ok() && plat::EmptyClipboard();
}

bool TClipboard::GetText(WideString& text) {
  text.clear();
  TOpenScope open(this);
  if (!open.Ok()) return false;
  ReadText(text);
  return true;
}

bool TClipboard::SetText(const WideString& text) {
  TOpenScope open(this);
  if (!open.Ok()) return false;
  plat::HGLOBAL h = plat::GlobalAlloc(kShareableBlock, 2 * text.size() + 2);
  if (!h) return false;
  {
    TLockedBlock b(h);
    if (b.Data()) std::memcpy(b.Data(), text.data(), 2 * text.size());
  }
  Clear();
  if (!plat::SetClipboardData(plat::CF_UNICODETEXT, h)) {
    plat::GlobalFree(h);
    return false;
  }
  return true;
}

bool TClipboard::ContainsText(const WideString& text, bool ignoreCase) {
  TOpenScope open(this);
  if (!open.Ok() || !plat::IsClipboardFormatAvailable(plat::CF_UNICODETEXT)) return false;
  WideString clip;
  if (!ReadText(clip)) return false;
  if (!ignoreCase) return clip.starts_with(text);
  return SameText(clip.substr(0, text.size()), text);
}

bool TClipboard::Sequence(std::string& sequence) {
  sequence = std::to_string(plat::GetClipboardSequenceNumber());
  return true;
}

bool TClipboard::PutDib(TFastDIB* dib) {
  if (!dib || dib->Width() < 1 || dib->AbsHeight() < 1 || !dib->Bits()) return false;
  TOpenScope open(this);
  if (!open.Ok()) return false;
  if (!emptied_) {
    Clear();
    emptied_ = true;
  }
  plat::BITMAPINFO info = dib->Info();
  const std::int32_t b = info.bmiHeader.biBitCount;
  const auto header = std::size_t(DibHeaderSize(b, info.bmiHeader.biCompression));
  const auto image = std::size_t(std::max<std::int64_t>(dib->Size(), 0));
  info.bmiHeader.biSizeImage = plat::DWORD(image);
  plat::HGLOBAL h = plat::GlobalAlloc(kShareableBlock, header + image);
  if (!h) return false;
  {
    TLockedBlock blk(h);
    if (blk.Data()) {
      std::memcpy(blk.Data(), &info, std::min(header, sizeof info));
      std::memcpy(blk.Data() + header, dib->Bits(), image);
    }
  }
  if (!plat::SetClipboardData(plat::CF_DIB, h)) {
    plat::GlobalFree(h);
    return false;
  }
  return true;
}

bool TClipboard::ReadDib(TFastDIB* dib) {
  TOpenScope open(this);
  if (!open.Ok() || !dib) return false;
  plat::HGLOBAL h = plat::GetClipboardData(plat::CF_DIB);
  if (!h) return false;
  TLockedBlock b(h);
  if (!b.Data()) return false;
  try {
    return DibFromBlock({b.Data(), b.Size()}, dib);
  } catch (...) {
    return false;  // a DIB too large to make
  }
}

bool TClipboard::SetPicture(TBitmap* bitmap, const WideString& name) {
  auto* d = dynamic_cast<TDibBitmap*>(bitmap);
  if (d && d->Dib() && d->Width() >= 1 && d->Height() >= 1) {
    pictureName_ = name;
    return PutDib(d->Dib());
  }
  if (d && (d->Width() < 1 || d->Height() < 1)) {
    // Nothing to put; the name is kept as for any picture.
    pictureName_ = name;
    return true;
  }
  return TClipbrd::SetPicture(bitmap, name);
}

bool TClipboard::SetPictureImage(TImage* picture) {
  if (!picture || !picture->Store()) return false;
  TBitmap* level = nullptr;
  try {
    level = picture->Store()->GetMipLevel(0, nullptr, TDibBitmap::StaticClass());
  } catch (...) {
    level = nullptr;
  }
  auto* d = dynamic_cast<TDibBitmap*>(level);
  if (!d) return false;
  if (d->Dib() && d->Width() >= 1 && d->Height() >= 1 && !PutDib(d->Dib())) return false;
  if (auto* s = dynamic_cast<TSysBitmapStore*>(picture->Store())) pictureName_ = s->Name();
  return true;
}

TRef<TImage> TClipboard::GetPicture() {
  auto dib = MakeRef<TFastDIB>();
  dib->UseDibSection = false;
  if (!ReadDib(dib.get()) || dib->Width() < 1 || dib->AbsHeight() < 1) return nullptr;
  if (dib->BitCount() <= 8) dib = PaletteToRgb(dib.get());
  TRef<TDibBitmap> bmp = WrapDibBitmap(dib.get(), false);
  if (!bmp) return nullptr;
  return GetSysBitmapHook ? GetSysBitmapHook(bmp.get(), false, pictureName_)
                          : SysBitmapToImage(bmp.get(), false, pictureName_);
}

void InitWinClipboard() {
  if (Clipboard) {
    TClipboard* old = Clipboard;
    Clipboard = nullptr;
    if (Clipbrd == old) SetClipbrd(nullptr);
    old->ReleaseRef();
  }
  auto c = MakeRef<TClipboard>();
  SetClipbrd(c.get());
  Clipboard = c.Detach();
}

void FiniWinClipboard() {
  TClipboard* c = Clipboard;
  Clipboard = nullptr;
  if (Clipbrd == c) SetClipbrd(nullptr);
  if (c) c->ReleaseRef();
}

}  // namespace zm
