#include "ZmLib/Graphics/zmFPReadGIF.h"

#include <algorithm>
#include <cstring>

#include "ZmLib/zmLog.h"

namespace zm {

namespace {

constexpr std::uint8_t kTrailer = ';';
constexpr std::uint8_t kImageIntroducer = ',';
constexpr std::uint8_t kExtensionIntroducer = '!';

TPixelFormat* FrameFormat() { return PixelFormatByName(TByteString("A8R8G8B8")); }

bool KnownSignature(const TGifScreenHeader& h) {
  return std::memcmp(h.Signature, "GIF", 3) == 0 &&
         (std::memcmp(h.Version, "87a", 3) == 0 || std::memcmp(h.Version, "89a", 3) == 0);
}

// The most pixels LZW codes in Bytes bytes can give: the k-th code after a
// clear yields at most k pixels (and never more than the table holds).
std::int64_t MaxPixelsFromBytes(std::int64_t bytes, std::int32_t minBits) {
  const std::int64_t n = bytes * 8 / std::max(minBits, 1);
  if (n <= 4096) return n * (n + 1) / 2;
  return std::int64_t(4096) * 4097 / 2 + (n - 4096) * 4096;
}

}  // namespace

bool GifSizeAllowed(std::int32_t width, std::int32_t height) {
  return BitmapSizeAllowed(width, height, FrameFormat());
}

// ---- TFPCustomImageReader -------------------------------------------------------------

void TFPCustomImageReader::Progress(TFPImgProgressStage stage, std::uint8_t percentDone, bool redrawNow,
                                    const TRect& rect, const std::string& msg, bool& continueReading) {
  if (OnProgress) OnProgress(this, stage, percentDone, redrawNow, rect, msg, continueReading);
}

// ---- TFPPalette -----------------------------------------------------------------------

void TFPPalette::Dispose() {
  Colors.clear();
  Count = 0;
  TRefObject::Dispose();
}

void TFPPalette::Clear() {
  Colors.clear();
  Count = 0;
}

std::int32_t TFPPalette::Add(std::uint32_t color) {
  if (std::size_t(Count) >= Colors.size()) Colors.resize(Colors.empty() ? 16 : Colors.size() * 2);
  Colors[std::size_t(Count)] = color;
  return Count++;
}

void TFPPalette::SetCount(std::int32_t n) {
  if (n < 0) n = 0;
  if (std::size_t(n) > Colors.size()) Colors.resize(std::size_t(n));
  // Entries beyond the old count read as transparent black.
  for (std::int32_t i = Count; i < n; ++i) Colors[std::size_t(i)] = 0;
  Count = n;
}

// ---- TFPReaderGif: blocks -------------------------------------------------------------

TFPReaderGif::TFPReaderGif() {
  LocalPalette = new TFPPalette;
  GlobalPalette = new TFPPalette;
  CurrentPalette = GlobalPalette;
  prefix_.assign(kMaxCodes, 0);
  suffix_.assign(kMaxCodes, 0);
  // Room for the longest chain plus the first code pushed ahead of it.
  stack_.assign(kMaxCodes * 2 + 2, 0);
}

void TFPReaderGif::Dispose() {
  FreeAndNil(LocalPalette);
  FreeAndNil(GlobalPalette);
  CurrentPalette = nullptr;
  savedPalette_ = nullptr;
  Pixels.clear();
  Pixels.shrink_to_fit();
  TFPCustomImageReader::Dispose();
}

bool TFPReaderGif::ReadBytes(TStream* stream, void* p, std::int32_t n) {
  if (n <= 0) return true;
  return stream->Read(TReadBuffer(static_cast<std::uint8_t*>(p), std::size_t(n)), n, 0) == n;
}

bool TFPReaderGif::ReadU8(TStream* stream, std::uint8_t& v) { return ReadBytes(stream, &v, 1); }

void TFPReaderGif::Skip(TStream* stream, std::int64_t n) {
  std::int64_t target = stream->GetPosition() + n;
  const std::int64_t size = stream->GetSize();
  if (size >= 0) target = std::min(target, size);
  stream->SetPosition(target);
}

void TFPReaderGif::SkipSubBlocks(TStream* stream) {
  std::uint8_t size = 0;
  while (ReadU8(stream, size) && size != 0) Skip(stream, size);
}

std::uint8_t TFPReaderGif::NextBlock(TStream* stream) {
  std::uint8_t introducer = 0;
  do {
    if (!ReadU8(stream, introducer)) return kTrailer;
  } while (introducer == 0);
  if (introducer != kExtensionIntroducer) return introducer;

  std::uint8_t label = 0;
  if (!ReadU8(stream, label)) return kTrailer;
  switch (label) {
    case 0x01: {  // plain text
      std::uint8_t size = 0;
      if (ReadU8(stream, size)) Skip(stream, size);
      SkipSubBlocks(stream);
      break;
    }
    case 0xF9: {  // graphic control
      TGifGraphicControl gc{};
      if (!ReadBytes(stream, &gc, sizeof gc)) return kTrailer;
      GraphicControl = gc;
      HasGraphicControl = true;
      break;
    }
    case 0xFF: {  // application
      std::uint8_t size = 0;
      for (;;) {
        if (!ReadU8(stream, size)) break;
        if (size == 11) {
          char id[11];
          if (!ReadBytes(stream, id, 11)) break;
          if (std::memcmp(id, "NETSCAPE2.0", 11) == 0) {
            HasNetscapeExtension = true;
            if (!ReadU8(stream, size)) break;
            if (size == 3) {
              std::uint8_t sub[3];
              if (!ReadBytes(stream, sub, 3)) break;
              if (sub[0] == 1) {
                IsAnimated = true;
                LoopCount = sub[1] | (sub[2] << 8);
                if (LoopCount > 65534) LoopCount = 0;
              }
              if (!ReadU8(stream, size)) break;
            }
          } else if (!ReadU8(stream, size)) {
            break;
          }
        }
        if (size == 0) break;
        Skip(stream, size);
      }
      break;
    }
    default:  // comments and unknown extensions
      SkipSubBlocks(stream);
      break;
  }
  return introducer;
}

// ---- TFPReaderGif: image setup --------------------------------------------------------

bool TFPReaderGif::ReadPalette(TStream* stream, TFPPalette* palette, std::uint8_t flags) {
  const std::int32_t n = 1 << ((flags & 7) + 1);
  std::uint8_t rgb[256 * 3];
  palette->Clear();
  if (!ReadBytes(stream, rgb, n * 3)) {
    palette->SetCount(256);
    return false;
  }
  for (std::int32_t i = 0; i < n; ++i)
    palette->Add(0xFF000000u | (std::uint32_t(rgb[i * 3]) << 16) | (std::uint32_t(rgb[i * 3 + 1]) << 8) |
                 rgb[i * 3 + 2]);
  palette->SetCount(256);
  return true;
}

bool TFPReaderGif::ReadDescriptorAndPalette(TStream* stream) {
  if (!ReadBytes(stream, &Descriptor, sizeof Descriptor)) return false;
  if (Descriptor.ImageFlags & 0x80) {
    if (!ReadPalette(stream, LocalPalette, Descriptor.ImageFlags)) return false;
    CurrentPalette = LocalPalette;
  } else {
    CurrentPalette = GlobalPalette;
  }
  return true;
}

bool TFPReaderGif::SetupImage(TStream* stream) {
  ZM_ASSERT(KnownSignature(Header), "Unknown/Unsupported GIF image type");
  BitsPerPixel = std::uint8_t((Header.ScreenFlags & 7) + 1);
  TransparentIndex = Header.BackgroundIndex;
  Width = Descriptor.ImageWidth;
  Height = Descriptor.ImageHeight;
  Interlaced = (Descriptor.ImageFlags & 0x40) != 0;
  Transparent = TransparentIndex != 0;
  if (HasGraphicControl) {
    Transparent = (GraphicControl.ControlFlags & 1) != 0;
    if (Transparent) TransparentIndex = GraphicControl.TransparentColorIndex;
  }

  // Refuse before taking memory: empty or oversized images, and images with
  // more pixels than the data left could hold.
  if (!GifSizeAllowed(Width, Height)) {
    LogLine(u"GIFWarning: image size refused! ");
    return false;
  }
  const std::int64_t size = stream->GetSize();
  if (size >= 0 && std::int64_t(Width) * Height > MaxPixelsFromBytes(size - stream->GetPosition(), 1)) {
    LogLine(u"GIFWarning: OutOfData! ");
    return false;
  }
  Pixels.assign(std::size_t(Height + 1) * std::size_t(Width), 0);

  if (Transparent) {
    SavedTransparentColor = CurrentPalette->Color(TransparentIndex);
    if (TransparentIndex < CurrentPalette->Count)
      CurrentPalette->Colors[TransparentIndex] = SavedTransparentColor & 0x00FFFFFFu;
    savedPalette_ = CurrentPalette;
  } else {
    savedPalette_ = nullptr;
  }
  return true;
}

void TFPReaderGif::RestoreTransparentColor() {
  if (savedPalette_ && TransparentIndex < savedPalette_->Count)
    savedPalette_->Colors[TransparentIndex] = SavedTransparentColor;
  savedPalette_ = nullptr;
}

TRef<TDirectBitmap> TFPReaderGif::DecodeImage(TStream* stream) {
  if (!ReadDescriptorAndPalette(stream)) return {};
  if (!SetupImage(stream)) return {};
  TRef<TDirectBitmap> bitmap = MakeRef<TDirectBitmap>(Width, FrameFormat(), Height);
  if (!ReadImageData(stream)) return {};
  if (!WriteImage(bitmap.get())) return {};
  return bitmap;
}

// ---- TFPReaderGif: public reads -------------------------------------------------------

bool TFPReaderGif::InternalCheck(TStream* stream) {
  if (!stream) return false;
  try {
    const std::int64_t saved = stream->GetPosition();
    TGifScreenHeader h{};
    const bool ok = ReadBytes(stream, &h, sizeof h) && KnownSignature(h);
    stream->SetPosition(saved);
    return ok;
  } catch (const std::exception&) {
    return false;
  }
}

void TFPReaderGif::InternalRead(TStream* stream, TRef<TDirectBitmap>& bitmap) {
  bitmap = {};
  IsAnimated = false;
  LoopCount = 1;
  HasGraphicControl = false;
  HasNetscapeExtension = false;
  LocalPalette->Clear();
  LocalPalette->SetCount(256);
  GlobalPalette->Clear();
  GlobalPalette->SetCount(256);
  CurrentPalette = GlobalPalette;
  savedPalette_ = nullptr;
  Transparent = false;
  Pixels.clear();
  if (!stream) return;

  bool go = true;
  Progress(psStarting, 0, false, TRect{}, "", go);
  if (!go) return;
  stream->SetPosition(0);
  if (!ReadBytes(stream, &Header, sizeof Header)) return;
  const std::int64_t size = stream->GetSize();
  const std::uint8_t percent = size > 0 ? std::uint8_t(std::min<std::int64_t>(100, stream->GetPosition() * 100 / size)) : 0;
  Progress(psRunning, percent, false, TRect{}, "", go);
  if (!go) return;
  if (Header.ScreenFlags & 0x80) {
    if (!ReadPalette(stream, GlobalPalette, Header.ScreenFlags)) return;
  }

  bool seenImage = false;
  std::int64_t afterFirst = 0;
  // The first image's graphic control: the look-ahead for a second image may
  // read the next one's, which belongs to that image.
  TGifGraphicControl firstControl{};
  bool firstHasControl = false;
  for (;;) {
    const std::uint8_t block = NextBlock(stream);
    if (block == kTrailer) {
      if (stream->GetPosition() > 0) stream->SetPosition(stream->GetPosition() - 1);
      if (seenImage) {
        GraphicControl = firstControl;
        HasGraphicControl = firstHasControl;
      }
      return;
    }
    if (block != kImageIntroducer) continue;
    if (seenImage) {
      // Back to the end of the first image, so that the next read meets the
      // second image's graphic control again.
      IsAnimated = true;
      GraphicControl = firstControl;
      HasGraphicControl = firstHasControl;
      stream->SetPosition(afterFirst);
      return;
    }
    seenImage = true;
    bitmap = DecodeImage(stream);
    if (!bitmap) return;
    afterFirst = stream->GetPosition();
    firstControl = GraphicControl;
    firstHasControl = HasGraphicControl;
  }
}

TGifNext TFPReaderGif::ReadNextImage(TStream* stream, TRef<TDirectBitmap>& bitmap) {
  bitmap = {};
  Pixels.clear();
  RestoreTransparentColor();
  if (!stream) return TGifNext::End;
  HasGraphicControl = false;
  std::uint8_t block;
  do {
    block = NextBlock(stream);
    if (block == kTrailer) return TGifNext::End;
  } while (block != kImageIntroducer);
  bitmap = DecodeImage(stream);
  return bitmap ? TGifNext::Image : TGifNext::Failed;
}

bool TFPReaderGif::CacheByte(TStream* stream, std::int64_t position, std::uint8_t& v) {
  if (position < cacheStart_ || position >= cacheStart_ + cacheLength_) {
    cache_.resize(4096);
    stream->SetPosition(position);
    cacheStart_ = position;
    cacheLength_ = stream->Read(TReadBuffer(cache_.data(), cache_.size()), 4096, 0);
    if (cacheLength_ <= 0) {
      cacheLength_ = 0;
      return false;
    }
  }
  v = cache_[std::size_t(position - cacheStart_)];
  return true;
}

bool TFPReaderGif::SkipNextImage(TStream* stream) {
  if (!stream) return false;
  HasGraphicControl = false;
  std::uint8_t block;
  do {
    block = NextBlock(stream);
    if (block == kTrailer) return false;
  } while (block != kImageIntroducer);
  if (!ReadBytes(stream, &Descriptor, sizeof Descriptor)) return false;
  if (Descriptor.ImageFlags & 0x80) Skip(stream, std::int64_t(3) << ((Descriptor.ImageFlags & 7) + 1));
  // The code size byte, then sub-blocks through the cache.
  std::int64_t pos = stream->GetPosition() + 1;
  cacheLength_ = 0;
  std::uint8_t size = 0;
  for (;;) {
    if (!CacheByte(stream, pos, size)) {
      const std::int64_t end = stream->GetSize();
      stream->SetPosition(end >= 0 ? std::min(pos, end) : pos);
      cacheLength_ = 0;
      return false;
    }
    ++pos;
    if (size == 0) break;
    pos += size;
  }
  stream->SetPosition(pos);
  cacheLength_ = 0;
  return true;
}

// ---- TFPReaderGif: LZW ----------------------------------------------------------------

std::int32_t TFPReaderGif::GetDataBlock(TStream* stream, std::uint8_t* dest) {
  std::uint8_t count = 0;
  if (!ReadU8(stream, count)) return 0;
  if (count == 0) return 0;
  const std::int32_t got = stream->Read(TReadBuffer(dest, count), count, 0);
  if (got < count) LogLine(u"GIFWarning: OutOfData! ");
  return std::max(got, 0);
}

std::int32_t TFPReaderGif::GetCode(TStream* stream) {
  while (curBit_ + codeSize_ > lastBit_) {
    if (zeroBlockSeen_) {
      if (curBit_ >= lastBit_) LogLine(u"GIFWarning: DecodeTooFewBits! ");
      return -1;
    }
    // Carry the unread bytes (fewer than a code's 12 bits) to the front.
    const std::int32_t from = curBit_ / 8;
    const std::int32_t keep = lastByte_ - from;
    ZM_ASSERT(keep >= 0 && keep <= 2, "StartIndex too large");
    std::memmove(window_, window_ + from, std::size_t(keep));
    curBit_ -= from * 8;
    const std::int32_t count = GetDataBlock(stream, window_ + keep);
    if (count == 0) zeroBlockSeen_ = true;
    lastByte_ = keep + count;
    lastBit_ = lastByte_ * 8;
  }
  std::int32_t code = 0;
  for (std::int32_t i = 0; i < codeSize_; ++i) {
    const std::int32_t bit = curBit_ + i;
    ZM_ASSERT(bit / 8 <= 257, "StartIndex too large");
    code |= ((window_[bit / 8] >> (bit % 8)) & 1) << i;
  }
  curBit_ += codeSize_;
  return code;
}

void TFPReaderGif::ResetTable() {
  codeSize_ = minCodeSize_ + 1;
  clearCode_ = 1 << minCodeSize_;
  ZM_ASSERT(clearCode_ <= 4095, "ClearCode too large");
  endCode_ = clearCode_ + 1;
  sizeLimit_ = clearCode_ * 2;
  nextCode_ = clearCode_ + 2;
  for (std::int32_t i = 0; i < clearCode_; ++i) {
    prefix_[std::size_t(i)] = 0;
    suffix_[std::size_t(i)] = i;
  }
  std::fill(prefix_.begin() + clearCode_, prefix_.end(), 0);
  std::fill(suffix_.begin() + clearCode_, suffix_.end(), 0);
}

// The next pixel; -2 after the end code, -1 when the data runs out or is
// damaged.
std::int32_t TFPReaderGif::ReadLZWByte(TStream* stream, bool init, std::int32_t minCodeSize) {
  if (init) {
    minCodeSize_ = minCodeSize;
    ZM_ASSERT(minCodeSize_ < 12, "ClearCode too large");
    curBit_ = lastBit_ = lastByte_ = 0;
    zeroBlockSeen_ = false;
    ResetTable();
    stackTop_ = 0;
    restart_ = true;
    return 0;
  }
  if (stackTop_ > 0) return stack_[std::size_t(--stackTop_)];

  const auto endImage = [&]() {
    if (!zeroBlockSeen_) SkipSubBlocks(stream);
    zeroBlockSeen_ = true;
    return -2;
  };

  if (restart_) {
    restart_ = false;
    std::int32_t code;
    do {
      code = GetCode(stream);
    } while (code == clearCode_);
    if (code < 0) return -1;
    if (code == endCode_) return endImage();
    if (code > clearCode_) return -1;  // nothing defined yet
    firstCode_ = oldCode_ = code;
    return code;
  }

  for (;;) {
    std::int32_t code = GetCode(stream);
    if (code < 0) return -1;
    if (code == clearCode_) {
      ResetTable();
      std::int32_t first;
      do {
        first = GetCode(stream);
      } while (first == clearCode_);
      if (first < 0) return -1;
      if (first == endCode_) return endImage();
      if (first > clearCode_) return -1;
      firstCode_ = oldCode_ = first;
      return first;
    }
    if (code == endCode_) return endImage();

    const std::int32_t inCode = code;
    const auto push = [&](std::int32_t v) {
      if (stackTop_ >= std::int32_t(stack_.size())) return false;
      stack_[std::size_t(stackTop_++)] = v;
      return true;
    };
    if (code >= nextCode_) {
      push(firstCode_);
      code = oldCode_;
    }
    while (code >= clearCode_) {
      ZM_ASSERT(code <= 4095, "Code too large");
      if (!push(suffix_[std::size_t(code)]) || prefix_[std::size_t(code)] == code) {
        // A chain that refers to itself would never end.
        LogLine(u"GIF Warning: DecodeCircular! ");
        stackTop_ = 0;
        return -1;
      }
      code = prefix_[std::size_t(code)];
    }
    firstCode_ = suffix_[std::size_t(code)];
    push(firstCode_);
    if (nextCode_ < kMaxCodes) {
      prefix_[std::size_t(nextCode_)] = oldCode_;
      suffix_[std::size_t(nextCode_)] = firstCode_;
      ++nextCode_;
      if (nextCode_ >= sizeLimit_ && sizeLimit_ < kMaxCodes) {
        sizeLimit_ *= 2;
        ++codeSize_;
      }
    }
    oldCode_ = inCode;
    if (stackTop_ > 0) return stack_[std::size_t(--stackTop_)];
  }
}

bool TFPReaderGif::ReadImageData(TStream* stream) {
  std::uint8_t minCodeSize = 0;
  if (!ReadU8(stream, minCodeSize)) return false;
  ReadLZWByte(stream, true, minCodeSize);
  const std::size_t count = std::size_t(Width) * std::size_t(Height);
  if (Pixels.size() < count) return false;
  for (std::size_t i = 0; i < count; ++i) {
    const std::int32_t v = ReadLZWByte(stream, false, minCodeSize);
    if (v < 0) {
      // Leave the stream behind this image's data for the next one.
      if (v == -1 && !zeroBlockSeen_) SkipSubBlocks(stream);
      return false;
    }
    Pixels[i] = std::uint8_t(v);
  }
  // The end code and the terminator after the last pixel.
  if (!zeroBlockSeen_) {
    if (ReadLZWByte(stream, false, minCodeSize) != -2 && !zeroBlockSeen_) SkipSubBlocks(stream);
  }
  return true;
}

bool TFPReaderGif::WriteImage(TDirectBitmap* bitmap) {
  if (!bitmap || bitmap->Width() != Width || bitmap->Height() != Height || bitmap->BytesPerPixel() != 4 ||
      Pixels.size() < std::size_t(Width) * std::size_t(Height))
    return false;
  const auto writeRow = [&](std::int32_t y, const std::uint8_t* src) {
    std::uint32_t* row = bitmap->Row32(y);
    for (std::int32_t x = 0; x < Width; ++x) row[x] = CurrentPalette->Color(src[x]);
  };
  if (!Interlaced) {
    for (std::int32_t y = 0; y < Height; ++y) writeRow(y, Pixels.data() + std::size_t(y) * std::size_t(Width));
    return true;
  }
  static constexpr std::int32_t kStart[4] = {0, 4, 2, 1};
  static constexpr std::int32_t kStep[4] = {8, 8, 4, 2};
  std::size_t source = 0;
  for (std::int32_t pass = 0; pass < 4; ++pass)
    for (std::int32_t y = kStart[pass]; y < Height; y += kStep[pass]) {
      writeRow(y, Pixels.data() + source * std::size_t(Width));
      ++source;
    }
  return true;
}

}  // namespace zm
