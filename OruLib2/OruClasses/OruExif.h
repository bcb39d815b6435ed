#pragma once
// The Exif block of a JPEG file: the first image directory, the Exif
// directory and the GPS directory, each field kept as read, enumerated values
// also as English text. Damaged data leaves the fields that could not be read
// empty; Load never raises for the file's content.
#include <cstdint>

#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmStream.h"

namespace oru {

using zm::TRef;
using zm::TStream;
using zm::WideString;

// A read-ahead cache over a source stream: the source is read once, front to
// back, in 4096-byte steps, and every seek and read is served from memory.
class TCacheStream : public zm::TMemoryStream {
public:
  static constexpr std::int32_t kStep = 4096;

  // A source that cannot tell its size caches nothing.
  explicit TCacheStream(TStream* source);

  std::int64_t GetSize() override { return sourceSize_; }
  // Caches up to the new position first; beyond the source's size is an
  // assertion error.
  void SetPosition(std::int64_t newPosition) override;
  std::int32_t Read(zm::TReadBuffer buffer, std::int32_t count, std::int32_t offset) override;
  using TStream::Read;

  std::int64_t Cached() const { return cached_; }

private:
  void CacheUpTo(std::int64_t p);

  TStream* source_;  // not owned
  std::int64_t sourceSize_;
  std::int64_t cached_ = 0;
};

class TExif {
public:
  TExif() = default;

  // Reads from the stream's start.
  void Load(TStream* stream);
  void Clear();

  WideString ImageDescription, Make, Model;
  std::uint8_t Orientation = 0;
  WideString OrientationText;
  WideString Copyright;
  bool ExifFound = false;  // an Exif APP1 segment was found
  WideString DateTime, DateTimeOriginal, DateTimeDigitized;
  WideString UserComment;
  WideString ExposureTime, FocalLength, FNumber, ShutterSpeed, Aperture, MaxAperture;
  std::uint8_t ExposureProgram = 0;
  WideString ExposureProgramText;
  std::int32_t PixelXDimension = 0, PixelYDimension = 0, XResolution = 0, YResolution = 0;
  std::uint8_t MeteringMode = 0;
  WideString MeteringModeText;
  std::uint8_t LightSource = 0;
  WideString LightSourceText;
  std::uint8_t Flash = 0;
  WideString FlashText;
  std::uint16_t ISOSpeed = 0;
  WideString ProgramName, Artist;
  WideString CompressedBitsPerPixel;
  // GPS position in degrees (south and west negative) and metres above sea
  // level (below negative); HasGPS when latitude and longitude were read.
  bool HasGPS = false;
  double GPSLatitude = 0, GPSLongitude = 0, GPSAltitude = 0;

private:
  struct TEntry {
    std::uint16_t Tag, Type;
    std::uint32_t Count;
    std::uint8_t Raw[4];
  };
  class TReader;
};

// Texts of the enumerated fields.
WideString ExifOrientationText(std::uint32_t v);
WideString ExifExposureProgramText(std::uint32_t v);
WideString ExifMeteringModeText(std::uint32_t v);
WideString ExifLightSourceText(std::uint32_t v);
WideString ExifFlashText(std::uint32_t v);
// Rational texts: "2.8" (two decimals, one trailing zero dropped) and
// "1/250" or "50/1"; a zero denominator gives an empty text.
WideString ExifDecimalText(std::uint32_t n, std::uint32_t d);
WideString ExifFractionText(std::uint32_t n, std::uint32_t d);
// "1/500 seconds" from an APEX shutter value.
WideString ExifShutterSpeedText(std::int32_t n, std::int32_t d);

}  // namespace oru
