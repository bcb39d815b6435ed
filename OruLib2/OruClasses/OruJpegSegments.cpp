#include "OruLib2/OruClasses/OruJpegSegments.h"

#include <algorithm>
#include <cstring>

namespace oru {

namespace {

constexpr char kPhotoshop3[] = "Photoshop 3.0";  // with its zero byte: 14
constexpr char kPhotoshop25[] = "Adobe_Photoshop2.5:";

// Markers that stand alone, without a length field.
bool IsStandalone(std::uint8_t m) { return m == 0x00 || m == 0x01 || (m >= 0xD0 && m <= 0xD9); }

bool ReadBytes(TStream* s, std::uint8_t* p, std::int32_t n) {
  return s->Read(zm::TReadBuffer(p, static_cast<std::size_t>(n)), n, 0) == n;
}

// Reads count bytes into a new memory stream; nil when the source ends first.
TRef<zm::TMemoryStream> ReadData(TStream* s, std::int64_t count) {
  auto data = zm::MakeRef<zm::TMemoryStream>();
  if (count <= 0) return data;
  const std::int64_t remaining = s->GetRemaining();
  // A length beyond what the source holds is damage, not a reason to allocate.
  if (remaining >= 0 && count > remaining) return nullptr;
  try {
    if (data->CopyFrom(s, count) != count) return nullptr;
  } catch (const zm::EStreamError&) {
    return nullptr;
  }
  data->SetPosition(0);
  return data;
}

}  // namespace

// ---- TUserJPEGSegment ------------------------------------------------------

TUserJPEGSegment::TUserJPEGSegment() : Data(zm::MakeRef<zm::TMemoryStream>()) {}

void TUserJPEGSegment::Dispose() {
  Data = nullptr;
  TRefObject::Dispose();
}

std::int32_t TUserJPEGSegment::App13HeaderSize() {
  if (Marker != kJpegMarkerAPP13 || !Data || Data->GetSize() < 20) return 0;
  const std::uint8_t* p = Data->Memory();
  if (std::memcmp(p, kPhotoshop3, 14) == 0) return 14;
  if (std::memcmp(p, kPhotoshop25, 19) == 0) return 19;
  return 0;
}

bool TUserJPEGSegment::IsAdobeApp13() { return App13HeaderSize() != 0; }

// ---- TJPEGHeaderParser -----------------------------------------------------

TJPEGHeaderParser::TJPEGHeaderParser(TStream* stream, bool ownsStream, const zm::TByteCharSet& markers)
    : stream_(stream), ownsStream_(ownsStream), start_(0), markers_(markers), next_(0) {
  std::uint8_t soi[2] = {};
  bool ok = false;
  if (stream_) {
    start_ = stream_->GetPosition();
    ok = ReadBytes(stream_, soi, 2) && soi[0] == 0xFF && soi[1] == 0xD8;
    next_ = start_ + 2;
  }
  if (!ok) {
    if (ownsStream_ && stream_) stream_->Free();
    stream_ = nullptr;
    throw EInvalidJPEGHeader("JPEG header is not valid");
  }
}

void TJPEGHeaderParser::Dispose() {
  current_ = nullptr;
  if (ownsStream_ && stream_) stream_->Free();
  stream_ = nullptr;
  TRefObject::Dispose();
}

bool TJPEGHeaderParser::ReadMarker(std::uint8_t& marker, std::int64_t& offset) {
  std::uint8_t b = 0;
  if (!ReadBytes(stream_, &b, 1) || b != 0xFF) return false;
  // Fill bytes: any number of FF before the marker byte.
  do {
    offset = stream_->GetPosition() - 1;
    if (!ReadBytes(stream_, &b, 1)) return false;
  } while (b == 0xFF);
  marker = b;
  return true;
}

bool TJPEGHeaderParser::MoveNext() {
  current_ = nullptr;
  while (!ended_) {
    stream_->SetPosition(next_);
    if (stream_->GetPosition() != next_) break;
    std::uint8_t marker = 0;
    std::int64_t offset = 0;
    if (!ReadMarker(marker, offset)) break;
    std::int64_t dataSize = 0;
    if (!IsStandalone(marker)) {
      std::uint8_t len[2];
      if (!ReadBytes(stream_, len, 2)) break;
      const std::int32_t length = len[0] << 8 | len[1];
      if (length < 2) break;  // a length counts itself
      dataSize = length - 2;
    }
    next_ = stream_->GetPosition() + dataSize;
    if (marker == kJpegMarkerEOI) ended_ = true;

    TRef<TFoundJPEGSegment> seg;
    if (markers_.Contains(marker)) {
      TRef<zm::TMemoryStream> data = ReadData(stream_, dataSize);
      if (!data) break;  // cut off
      seg = zm::MakeRef<TFoundJPEGSegment>();
      seg->Marker = marker;
      seg->Offset = offset;
      seg->Data = data;
    }

    if (marker == kJpegMarkerSOS && !ended_) {
      // Entropy-coded data follows: nothing but the end marker can come after
      // it, so look for FF D9 only when the caller wants it.
      if (!markers_.Contains(kJpegMarkerEOI)) {
        ended_ = true;
      } else {
        stream_->SetPosition(next_);
        std::uint8_t buf[4096];
        bool lastFF = false;
        std::int64_t found = -1;
        for (;;) {
          const std::int64_t pos = stream_->GetPosition();
          const std::int32_t n = stream_->Read(zm::TReadBuffer(buf, sizeof buf), sizeof buf, 0);
          if (n <= 0) break;
          for (std::int32_t i = 0; i < n; ++i) {
            if (lastFF && buf[i] == 0xD9) {
              found = pos + i - 1;
              break;
            }
            lastFF = buf[i] == 0xFF;
          }
          if (found >= 0) break;
        }
        if (found < 0) ended_ = true;
        else next_ = found;
      }
    }
    if (seg) {
      current_ = seg;
      return true;
    }
  }
  ended_ = true;
  return false;
}

// ---- TAdobeBlock -----------------------------------------------------------

TAdobeBlock::TAdobeBlock() : Data(zm::MakeRef<zm::TMemoryStream>()) {}

void TAdobeBlock::Dispose() {
  Data = nullptr;
  TRefObject::Dispose();
}

bool TAdobeBlock::IsIPTCBlock() {
  return TypeID == 0x0404 && Data && Data->GetSize() >= 5 && Data->Memory()[0] == 0x1C;
}

// ---- TAdobeApp13Enumerator -------------------------------------------------

TAdobeApp13Enumerator::TAdobeApp13Enumerator(TUserJPEGSegment* segment) : next_(0) {
  const std::int32_t header = segment ? segment->App13HeaderSize() : 0;
  if (header > 0) {
    data_ = segment->Data;
    next_ = header;
  }
}

void TAdobeApp13Enumerator::Dispose() {
  current_ = nullptr;
  data_ = nullptr;
  TRefObject::Dispose();
}

bool TAdobeApp13Enumerator::MoveNext() {
  current_ = nullptr;
  if (!data_) return false;
  const std::uint8_t* p = data_->Memory();
  const std::int64_t size = data_->GetSize();
  std::int64_t pos = next_;
  auto fail = [this] {
    data_ = nullptr;
    return false;
  };
  // Signature, type ID and the name's length byte.
  if (pos + 7 > size) return fail();
  auto block = zm::MakeRef<TAdobeBlock>();
  std::memcpy(block->Signature, p + pos, 4);
  block->TypeID = static_cast<std::uint16_t>(p[pos + 4] << 8 | p[pos + 5]);
  const std::uint8_t nameLength = p[pos + 6];
  pos += 7;
  if (pos + nameLength > size) return fail();
  block->Name = zm::TByteString(p + pos, nameLength);
  pos += nameLength;
  // Length byte and name together take an even count of bytes.
  if (nameLength % 2 == 0) ++pos;
  if (pos + 4 > size) return fail();
  const std::int32_t signedSize =
      static_cast<std::int32_t>(std::uint32_t(p[pos]) << 24 | p[pos + 1] << 16 | p[pos + 2] << 8 | p[pos + 3]);
  const std::int64_t dataSize = std::max(signedSize, 0);
  pos += 4;
  if (pos + dataSize > size) return fail();
  if (dataSize > 0) block->Data->Write(zm::TWriteBuffer(p + pos, static_cast<std::size_t>(dataSize)));
  block->Data->SetPosition(0);
  pos += dataSize + (dataSize & 1);
  next_ = pos;
  current_ = block;
  return true;
}

}  // namespace oru
