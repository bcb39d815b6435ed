#include "OruLib2/OruClasses/OruExif.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmByteString.h"

namespace oru {

namespace {

WideString ExifAscii(std::string_view s) { return WideString(s.begin(), s.end()); }

constexpr std::int32_t kSearchWindow = 2000;
constexpr std::uint32_t kMaxTextCount = 10000;
constexpr std::int32_t kDefaultEntryCount = 100;

constexpr std::uint16_t kTypeByte = 1;
constexpr std::uint16_t kTypeShort = 3;

}  // namespace

// ---- TCacheStream -----------------------------------------------------------

TCacheStream::TCacheStream(TStream* source) : source_(source), sourceSize_(source ? source->GetSize() : 0) {
  if (sourceSize_ < 0) sourceSize_ = 0;
}

void TCacheStream::CacheUpTo(std::int64_t p) {
  ZM_ASSERT(p >= 0 && p <= sourceSize_ && p < kMaxSize, "Cache position beyond the stream");
  while (p > cached_) {
    if (!GrowTo(cached_ + kStep)) ZM_FAIL("Cache position beyond the stream");
    std::int32_t got = 0;
    if (cached_ < sourceSize_) {
      source_->SetPosition(cached_);
      const std::int32_t want = static_cast<std::int32_t>(std::min<std::int64_t>(kStep, sourceSize_ - cached_));
      got = source_->Read(zm::TReadBuffer(Memory() + cached_, static_cast<std::size_t>(want)), want, 0);
      if (got < want) sourceSize_ = cached_ + std::max(got, 0);  // the source was shorter than it said
    }
    cached_ += kStep;
  }
}

void TCacheStream::SetPosition(std::int64_t newPosition) {
  CacheUpTo(newPosition);
  position_ = static_cast<std::int32_t>(newPosition);
}

std::int32_t TCacheStream::Read(zm::TReadBuffer buffer, std::int32_t count, std::int32_t offset) {
  ZM_ASSERT(count >= 0, "Cache read count out of range");
  if (offset < 0) offset = 0;
  if (static_cast<std::size_t>(offset) >= buffer.size()) return 0;
  const std::int64_t end = std::min<std::int64_t>(std::int64_t(position_) + count, sourceSize_);
  CacheUpTo(end);
  const std::int64_t n = std::min<std::int64_t>({end - position_, std::int64_t(buffer.size()) - offset});
  if (n < 1) return 0;
  std::memcpy(buffer.data() + offset, Memory() + position_, static_cast<std::size_t>(n));
  position_ += static_cast<std::int32_t>(n);
  return static_cast<std::int32_t>(n);
}

// ---- texts ------------------------------------------------------------------

WideString ExifOrientationText(std::uint32_t v) {
  static const char16_t* const kNames[] = {u"Normal",
                                           u"Mirrored",
                                           u"Rotated 180",
                                           u"Rotated 180, mirrored",
                                           u"Rotated 90 left, mirrored",
                                           u"Rotated 90 right",
                                           u"Rotated 90 right, mirrored",
                                           u"Rotated 90 left"};
  return v >= 1 && v <= 8 ? kNames[v - 1] : u"Unknown";
}

WideString ExifExposureProgramText(std::uint32_t v) {
  static const char16_t* const kNames[] = {u"Manual Control",  u"Normal Program", u"Aperture Priority",
                                           u"Shutter Priority", u"Creative Program", u"Action Program",
                                           u"Portrait Mode",   u"Landscape Mode"};
  return v >= 1 && v <= 8 ? kNames[v - 1] : u"Unknown";
}

WideString ExifMeteringModeText(std::uint32_t v) {
  static const char16_t* const kNames[] = {u"Unknown", u"Average", u"Center Weighted Average", u"Spot",
                                           u"Multi Spot", u"Pattern", u"Partial", u"Other"};
  return v <= 7 ? kNames[v] : u"Unknown";
}

WideString ExifLightSourceText(std::uint32_t v) {
  switch (v) {
    case 1: return u"Daylight";
    case 2: return u"Flourescent";
    case 3: return u"Tungsten";
    case 10: return u"Flash";
    case 17: return u"Standard Light A";
    case 18: return u"Standard Light B";
    case 19: return u"Standard Light C";
    case 20: return u"D55";
    case 21: return u"D65";
    case 22: return u"D75";
    case 255: return u"Other";
    default: return u"Unknown";
  }
}

WideString ExifFlashText(std::uint32_t v) {
  switch (v) {
    case 1: return u"Flash";
    case 5: return u"Flash No Strobe";
    case 7: return u"Flash Strobe";
    case 25: return u"Flash (Auto)";
    default: return u"No Flash";
  }
}

WideString ExifDecimalText(std::uint32_t n, std::uint32_t d) {
  if (d == 0) return {};
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, double(n) / double(d), std::chars_format::fixed, 2);
  std::string s(buf, r.ptr);
  if (!s.empty() && s.back() == '0') s.pop_back();
  return ExifAscii(s);
}

WideString ExifFractionText(std::uint32_t n, std::uint32_t d) {
  if (d == 0) return {};
  if (d == 1000000) return u"0";
  if (n != 0 && d % n == 0) return ExifAscii("1/" + std::to_string(d / n));
  return ExifAscii(std::to_string(n) + "/" + std::to_string(d));
}

WideString ExifShutterSpeedText(std::int32_t n, std::int32_t d) {
  if (d == 0) return {};
  const double v = double(n) / double(d);
  if (v >= 65535) return u"1 seconds";
  // 2^62 still fits the integer; longer exposures than a second (v below 0)
  // have no "1/x" form.
  if (v > 16000 || v > 62 || v < 0) return {};
  return ExifAscii("1/" + std::to_string(std::llround(std::exp2(v))) + " seconds");
}

// ---- the reader ---------------------------------------------------------------

// Reads of the TIFF structure, bounded to the APP1 segment: offsets that
// point outside it read nothing.
class TExif::TReader {
public:
  TReader(TCacheStream* s, std::int64_t base, std::int64_t limit, bool motorola)
      : s_(s), base_(base), limit_(limit), motorola_(motorola) {}

  bool ReadAt(std::int64_t offset, std::uint8_t* p, std::int64_t n) {
    const std::int64_t at = base_ + offset;
    if (offset < 0 || n < 0 || at + n > limit_) return false;
    s_->SetPosition(at);
    return s_->Read(zm::TReadBuffer(p, static_cast<std::size_t>(n)), static_cast<std::int32_t>(n), 0) == n;
  }
  std::uint16_t U16(const std::uint8_t* p) const {
    return motorola_ ? std::uint16_t(p[0] << 8 | p[1]) : std::uint16_t(p[1] << 8 | p[0]);
  }
  std::uint32_t U32(const std::uint8_t* p) const {
    return motorola_ ? std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]
                     : std::uint32_t(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0];
  }

  // The entries of the directory at offset; a count of 0 stands for
  // defaultCount. Stops at a tag 0 and at the segment's end.
  std::vector<TEntry> Directory(std::int64_t offset, std::int32_t defaultCount) {
    std::vector<TEntry> entries;
    std::uint8_t b[12];
    if (!ReadAt(offset, b, 2)) return entries;
    std::int32_t count = U16(b);
    if (count == 0) count = defaultCount;
    for (std::int32_t i = 0; i < count; ++i) {
      if (!ReadAt(offset + 2 + std::int64_t(i) * 12, b, 12)) break;
      TEntry e;
      e.Tag = U16(b);
      if (e.Tag == 0) break;
      e.Type = U16(b + 2);
      e.Count = U32(b + 4);
      std::memcpy(e.Raw, b + 8, 4);
      entries.push_back(e);
    }
    return entries;
  }

  // An inline number: BYTE and SHORT values sit at the start of the field.
  std::uint32_t Value(const TEntry& e) const {
    if (e.Type == kTypeByte) return e.Raw[0];
    if (e.Type == kTypeShort) return U16(e.Raw);
    return U32(e.Raw);
  }

  WideString Text(const TEntry& e) {
    if (e.Count == 0 || e.Count > kMaxTextCount) return {};
    std::vector<std::uint8_t> bytes(e.Count);
    // Up to four bytes are stored in the entry itself.
    if (e.Count <= 4) std::memcpy(bytes.data(), e.Raw, e.Count);
    else if (!ReadAt(U32(e.Raw), bytes.data(), e.Count)) return {};
    while (!bytes.empty() && bytes.back() == 0) bytes.pop_back();
    return zm::TByteString(bytes.data(), bytes.size()).ToWide();
  }

  WideString Comment(const TEntry& e) {
    if (e.Count < 8 || e.Count > kMaxTextCount) return Text(e);
    std::vector<std::uint8_t> bytes(e.Count);
    if (!ReadAt(U32(e.Raw), bytes.data(), e.Count)) return {};
    if (std::memcmp(bytes.data(), "UNICODE\0", 8) == 0) {
      WideString w;
      for (std::size_t i = 8; i + 1 < bytes.size(); i += 2) w.push_back(char16_t(U16(bytes.data() + i)));
      while (!w.empty() && w.back() == 0) w.pop_back();
      return zm::Trim(w);
    }
    const bool ascii = std::memcmp(bytes.data(), "ASCII", 5) == 0;
    const bool undefined = std::all_of(bytes.begin(), bytes.begin() + 8, [](std::uint8_t c) { return c == 0; });
    std::size_t from = ascii || undefined ? 8 : 0;
    while (bytes.size() > from && bytes.back() == 0) bytes.pop_back();
    const WideString w = zm::TByteString(bytes.data() + from, bytes.size() - from).ToWide();
    return ascii || undefined ? zm::Trim(w) : w;
  }

  bool Rational(const TEntry& e, std::uint32_t& n, std::uint32_t& d, std::uint32_t index = 0) {
    std::uint8_t b[8];
    if (e.Count <= index || !ReadAt(std::int64_t(U32(e.Raw)) + std::int64_t(index) * 8, b, 8)) return false;
    n = U32(b);
    d = U32(b + 4);
    return true;
  }

private:
  TCacheStream* s_;
  std::int64_t base_, limit_;
  bool motorola_;
};

void TExif::Clear() { *this = TExif(); }

void TExif::Load(TStream* stream) {
  Clear();
  if (!stream) return;
  auto cache = zm::MakeRef<TCacheStream>(stream);
  const std::int64_t size = cache->GetSize();
  try {
    std::uint8_t b[10];
    auto readAt = [&](std::int64_t pos, std::uint8_t* p, std::int32_t n) {
      if (pos < 0 || pos + n > size) return false;
      cache->SetPosition(pos);
      return cache->Read(zm::TReadBuffer(p, static_cast<std::size_t>(n)), n, 0) == n;
    };
    // FF E1, the length and "Exif" with two zero bytes.
    auto isExifAt = [&](std::int64_t pos) {
      return readAt(pos, b, 10) && b[0] == 0xFF && b[1] == 0xE1 && std::memcmp(b + 4, "Exif\0\0", 6) == 0;
    };
    if (!readAt(0, b, 2) || b[0] != 0xFF || b[1] != 0xD8) return;
    std::int64_t pos = 2;
    if (readAt(pos, b, 4) && b[0] == 0xFF && b[1] == 0xE0) pos += 2 + (b[2] << 8 | b[3]);
    if (!isExifAt(pos)) {
      // The Exif segment may follow others (tables, other APP segments):
      // look for it close to the head of the file.
      const std::int32_t n = static_cast<std::int32_t>(std::clamp<std::int64_t>(size - pos, 0, kSearchWindow));
      std::vector<std::uint8_t> window(static_cast<std::size_t>(n));
      if (n < 2 || !readAt(pos, window.data(), n)) return;
      std::int64_t found = -1;
      for (std::int32_t i = 0; i + 1 < n && found < 0; ++i)
        if (window[i] == 0xFF && window[i + 1] == 0xE1 && isExifAt(pos + i)) found = pos + i;
      if (found < 0) return;
      pos = found;
      readAt(pos, b, 10);
    }
    ExifFound = true;
    const std::int64_t limit = std::min<std::int64_t>(pos + 2 + (b[2] << 8 | b[3]), size);
    const std::int64_t base = pos + 10;
    std::uint8_t h[8];
    if (!readAt(base, h, 8)) return;
    bool motorola;
    if (h[0] == 'M' && h[1] == 'M') motorola = true;
    else if (h[0] == 'I' && h[1] == 'I') motorola = false;
    else return;
    TReader r(cache.get(), base, limit, motorola);

    std::uint32_t exifOffset = 0, gpsOffset = 0;
    for (const TEntry& e : r.Directory(r.U32(h + 4), kDefaultEntryCount)) {
      std::uint32_t n = 0, d = 0;
      switch (e.Tag) {
        case 0x010E: ImageDescription = r.Text(e); break;
        case 0x010F: Make = r.Text(e); break;
        case 0x0110: Model = r.Text(e); break;
        case 0x0131: ProgramName = r.Text(e); break;
        case 0x0132: DateTime = r.Text(e); break;
        case 0x013B: Artist = r.Text(e); break;
        case 0x8298: Copyright = r.Text(e); break;
        case 0x0112:
          Orientation = static_cast<std::uint8_t>(r.Value(e));
          OrientationText = ExifOrientationText(Orientation);
          break;
        case 0x011A:
          if (r.Rational(e, n, d)) XResolution = static_cast<std::int32_t>(n);
          break;
        case 0x011B:
          if (r.Rational(e, n, d)) YResolution = static_cast<std::int32_t>(n);
          break;
        case 0x8769: exifOffset = r.Value(e); break;
        case 0x8825: gpsOffset = r.Value(e); break;
        case 0x9286:
          if (UserComment.empty()) UserComment = r.Comment(e);
          break;
        default: break;
      }
    }

    // The Exif directory is read once, whatever it points at, so a
    // directory that names itself or IFD0 cannot loop.
    if (exifOffset != 0) {
      for (const TEntry& e : r.Directory(exifOffset, 0)) {
        std::uint32_t n = 0, d = 0;
        switch (e.Tag) {
          case 0x829A:
            if (r.Rational(e, n, d)) {
              ExposureTime = ExifFractionText(n, d);
              if (!ExposureTime.empty()) ExposureTime += u" seconds";
            }
            break;
          case 0x829D:
            if (r.Rational(e, n, d)) FNumber = ExifDecimalText(n, d);
            break;
          case 0x8822:
            ExposureProgram = static_cast<std::uint8_t>(r.Value(e));
            ExposureProgramText = ExifExposureProgramText(ExposureProgram);
            break;
          case 0x8827: ISOSpeed = static_cast<std::uint16_t>(r.Value(e)); break;
          case 0x9003: DateTimeOriginal = r.Text(e); break;
          case 0x9004: DateTimeDigitized = r.Text(e); break;
          case 0x9102:
            if (r.Rational(e, n, d)) CompressedBitsPerPixel = ExifDecimalText(n, d);
            break;
          case 0x9201:
            if (r.Rational(e, n, d))
              ShutterSpeed = ExifShutterSpeedText(static_cast<std::int32_t>(n), static_cast<std::int32_t>(d));
            break;
          case 0x9202:
            if (r.Rational(e, n, d)) Aperture = ExifDecimalText(n, d);
            break;
          case 0x9205:
            if (r.Rational(e, n, d)) MaxAperture = ExifDecimalText(n, d);
            break;
          case 0x9207:
            MeteringMode = static_cast<std::uint8_t>(r.Value(e));
            MeteringModeText = ExifMeteringModeText(MeteringMode);
            break;
          case 0x9208:
            LightSource = static_cast<std::uint8_t>(r.Value(e));
            LightSourceText = ExifLightSourceText(LightSource);
            break;
          case 0x9209:
            Flash = static_cast<std::uint8_t>(r.Value(e));
            FlashText = ExifFlashText(Flash);
            break;
          case 0x920A:
            if (r.Rational(e, n, d)) {
              FocalLength = ExifFractionText(n, d);
              if (!FocalLength.empty()) FocalLength += u" mm";
            }
            break;
          case 0x9286: UserComment = r.Comment(e); break;
          case 0xA002: PixelXDimension = static_cast<std::int32_t>(r.Value(e)); break;
          case 0xA003: PixelYDimension = static_cast<std::int32_t>(r.Value(e)); break;
          default: break;
        }
      }
    }

    if (gpsOffset != 0) {
      // Degrees, minutes and seconds as three rationals.
      auto degrees = [&](const TEntry& e, double& out) {
        double v = 0, scale = 1;
        for (std::uint32_t i = 0; i < 3; ++i) {
          std::uint32_t n = 0, d = 0;
          if (!r.Rational(e, n, d, i) || d == 0) return false;
          v += double(n) / double(d) / scale;
          scale *= 60;
        }
        out = v;
        return true;
      };
      bool south = false, west = false, below = false, hasLat = false, hasLon = false;
      for (const TEntry& e : r.Directory(gpsOffset, 0)) {
        std::uint32_t n = 0, d = 0;
        switch (e.Tag) {
          case 0x0001: south = e.Raw[0] == 'S'; break;
          case 0x0002: hasLat = degrees(e, GPSLatitude); break;
          case 0x0003: west = e.Raw[0] == 'W'; break;
          case 0x0004: hasLon = degrees(e, GPSLongitude); break;
          case 0x0005: below = e.Raw[0] == 1; break;
          case 0x0006:
            if (r.Rational(e, n, d) && d != 0) GPSAltitude = double(n) / double(d);
            break;
          default: break;
        }
      }
      HasGPS = hasLat && hasLon;
      if (!HasGPS) GPSLatitude = GPSLongitude = 0;
      if (south) GPSLatitude = -GPSLatitude;
      if (west) GPSLongitude = -GPSLongitude;
      if (below) GPSAltitude = -GPSAltitude;
    }
  } catch (const zm::EStreamError&) {
    // A source that fails under the cache: keep what was read.
  }
}

}  // namespace oru
