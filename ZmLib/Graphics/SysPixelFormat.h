#pragma once
// The pixel-format registry: formats made from their names, and converters
// between any two formats, found (or built) by the pair's names.
//
// Formats and converters live in one registry keyed by text: a format under
// its name, a converter under source name + "->" + target name. Lookups
// create what is missing and never fail. The registry takes a lock, so
// lookups may come from any thread; formats and converters are read-only
// once made and live until the module is finalised.
//
// Other units reach the registry through the hooks of zmBitmap
// (PixelFormatByNameHook, PixelConverterHook).
#include <cstdint>
#include <vector>

#include "ZmLib/Graphics/zmPixelFormat.h"

namespace zm {

// ---- Formats -----------------------------------------------------------------------

// Channel kinds; alpha and luminance are the same kind.
constexpr std::uint8_t ckX = 0;  // bits that carry nothing
constexpr std::uint8_t ckR = 1;
constexpr std::uint8_t ckG = 2;
constexpr std::uint8_t ckB = 3;
constexpr std::uint8_t ckA = 4;  // A or Y

struct TPixelChannel {
  std::uint8_t Kind = ckX;
  std::int32_t Width = 0;  // bits
  friend bool operator==(const TPixelChannel&, const TPixelChannel&) = default;
};

// Channel widths above this are taken as this; it keeps every size of a
// format, however odd its name, far from overflowing.
constexpr std::int32_t kMaxChannelWidth = 4096;

class TCommonPixelFormat : public TPixelFormat {
public:
  // Reads a name: each of the letters R, G, B, A, Y, X (either case) starts
  // a channel of its kind, and the run of digits after it closes the channel
  // with that width. Anything else, and digits after no letter, is skipped.
  // The channels are listed from the most significant bits down; the
  // properties of TPixelFormat follow from them (Premultiplied is never set
  // here).
  void ParseName(const TByteString& name);

  // From the least significant bits up.
  std::vector<TPixelChannel> Channels;
  std::int32_t ChannelCount() const { return static_cast<std::int32_t>(Channels.size()); }
};

// The channel list of a name, from the least significant bits up.
std::vector<TPixelChannel> ParsePixelChannels(const TByteString& name);

// The format registered under Name (case matters), made on first use.
// An unrecognised name gives a format with whatever channels were found,
// possibly none.
TPixelFormat* FindPixelFormat(const TByteString& name);

// The standard formats, looked up at start-up (nil before and after).
extern TPixelFormat* pfY8;
extern TPixelFormat* pfA8;
extern TPixelFormat* pfR8G8B8;
extern TPixelFormat* pfA8R8G8B8;
extern TPixelFormat* pfB8G8R8;
extern TPixelFormat* pfA8B8G8R8;
extern TPixelFormat* pfB5G6R5;
extern TPixelFormat* pfB5G5R5X1;
extern TPixelFormat* pfX8B8G8R8;
extern TPixelFormat* pfA8r8g8b8;  // premultiplied
extern TPixelFormat* pfA8b8g8r8;  // premultiplied
// Looks the standard formats up and marks the two premultiplied ones.
void RegisterStdPixelFormats();

// ---- Converters ----------------------------------------------------------------------

// Base of the concrete converters: the four row operations address the
// target pixel X of the row and the source byte Offset, then call Convert.
// Convert reads Count pixels at Source and writes Count pixels at Target;
// nothing when Count is not positive.
class TConvertOperator : public TPixelConverter {
public:
  void Convert8(std::uint8_t* row, std::int32_t x, const std::uint8_t* buffer, std::int32_t offset,
                std::int32_t count) const final;
  void Convert16(std::uint16_t* row, std::int32_t x, const std::uint8_t* buffer, std::int32_t offset,
                 std::int32_t count) const final;
  void Convert24(TColor24* row, std::int32_t x, const std::uint8_t* buffer, std::int32_t offset,
                 std::int32_t count) const final;
  void Convert32(std::uint32_t* row, std::int32_t x, const std::uint8_t* buffer, std::int32_t offset,
                 std::int32_t count) const final;
  virtual void Convert(void* target, const void* source, std::int32_t count) const = 0;
};

// A format to itself: copies the bytes.
class TDirectConvertor : public TConvertOperator {
public:
  explicit TDirectConvertor(std::int32_t bytesPerPixel) : BytesPerPixel(bytesPerPixel) {}
  void Convert(void* target, const void* source, std::int32_t count) const override;
  std::int32_t BytesPerPixel;
};

// Two formats that are not packed: each target channel's byte is the source
// byte of the same kind; a kind the source lacks is 255 for alpha and 0
// otherwise (X always 0). Channel N is byte N of the pixel; bytes past the
// last channel are 0.
class TByteConvertor : public TConvertOperator {
public:
  TByteConvertor(const TPixelFormat* target, const TPixelFormat* source);
  void Convert(void* target, const void* source, std::int32_t count) const override;

  struct TPair {
    std::int32_t Source, Target;
  };
  struct TConst {
    std::int32_t Target;
    std::uint8_t Value;
  };
  std::int32_t SourceSize, TargetSize;
  std::vector<TPair> Pairs;
  std::vector<TConst> Constants;
};

// Either format packed: every channel is taken from the source word and
// rescaled through a table (fewer bits: the high bits; more bits: shifted up
// with the new low bits set, so 5-bit 31 becomes 255 and 1 becomes 15).
// A kind the source lacks is all ones for alpha and 0 otherwise. Pixels are
// read and written as little-endian words of their bytes (the first 8).
class TBitConvertor : public TConvertOperator {
public:
  TBitConvertor(const TPixelFormat* target, const TPixelFormat* source);
  void Convert(void* target, const void* source, std::int32_t count) const override;

  // Source channels wider than this index their table by their high bits.
  static constexpr std::int32_t kMaxTableBits = 12;

  std::vector<TPixelChannel> SourceChannels, TargetChannels;
  std::int32_t SourceWidths[5] = {}, TargetWidths[5] = {};  // by kind; 0 = absent
  std::int32_t SourceSize, TargetSize;                      // bytes per pixel
  std::uint64_t Constants[5] = {};                          // kinds without a table
  std::int32_t Offsets[5] = {-1, -1, -1, -1, -1};           // into Table; -1 = none
  std::vector<std::uint64_t> Table;
};

// One grey byte ("A8", "Y8") to a colour format: three equal bytes for a
// 3-byte target; any other target gets the grey packed into its colour
// channels (alpha all ones, X 0).
class TAYtoRGBConvertor : public TConvertOperator {
public:
  explicit TAYtoRGBConvertor(const TPixelFormat* target);
  void Convert(void* target, const void* source, std::int32_t count) const override;

  std::int32_t TargetSize;
  std::vector<std::uint64_t> Packed;  // by grey value, for targets other than 3 bytes
};

// Three bytes to the same three and alpha 255.
class TRGBToRGBA : public TConvertOperator {
public:
  void Convert(void* target, const void* source, std::int32_t count) const override;
};

// Four bytes to the first three.
class TRGBAToRGB : public TConvertOperator {
public:
  void Convert(void* target, const void* source, std::int32_t count) const override;
};

// 32-bit straight alpha to premultiplied: alpha 0 gives four zero bytes,
// alpha 255 copies, otherwise each colour byte becomes byte * alpha shr 8.
class TBGRAToPremulBGRA : public TConvertOperator {
public:
  void Convert(void* target, const void* source, std::int32_t count) const override;
};

// 16-bit 5-6-5 (blue lowest) to bytes B, G, R: (v and 31) * 8,
// ((v shr 5) and 63) * 4, (v shr 8) and $F8.
class TR5G6B5ToBGR8 : public TConvertOperator {
public:
  void Convert(void* target, const void* source, std::int32_t count) const override;
};

// 16-bit 5-5-5 (blue lowest) to bytes B, G, R, each 5 bits * 8.
class TX1R5G5B5ToBGR8 : public TConvertOperator {
public:
  void Convert(void* target, const void* source, std::int32_t count) const override;
};

// The converter from Source to Target; the caller does not own it. When
// none is registered for the pair, one is made and registered: a
// TDirectConvertor for one format object to itself, a TBitConvertor when
// either format is packed, else a TByteConvertor.
TPixelConverter* FindPixelConverter(TPixelFormat* target, TPixelFormat* source);
// Stores Converter for the pair, taking over the caller's reference; a
// converter stored for the pair before is freed (so pointers to it that
// FindPixelConverter gave out die with it).
void RegisterPixelConverter(TPixelFormat* target, TPixelFormat* source, TPixelConverter* converter);

// Module start and end: the registry, the hooks, the standard formats and
// the converters registered for them.
void InitSysPixelFormat();
void FiniSysPixelFormat();

}  // namespace zm
