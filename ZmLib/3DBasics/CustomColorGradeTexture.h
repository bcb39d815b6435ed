#pragma once
// Colour-grading look-up tables. A cube table has 32 entries per channel,
// laid out as a bitmap of 32 columns and 1024 rows: row 32 * z + y holds
// slice z, row y, and column x the entry of red index x, green index y and
// blue index z. The lattice level of index i is 8 * i + i div 4, so that
// index 31 reaches 255.
//
// A grade texture keeps one table on the device for the grading shaders:
// a 32 x 32 x 32 volume texture (a full cube) or a 256 x 16 strip (a curve
// per channel in row 0). It is made on first use and made again, from the
// same table, after the device goes. An object colour filter chain may be
// laid over the table: over the whole cube, or over row 0 of the strip only
// (rows 1 to 15 keep the unfiltered ramp).
#include <atomic>
#include <cstdint>

#include "ZmLib/3DBasics/CustomTexture.h"
#include "ZmLib/Graphics/zmObjectFilters.h"

namespace zm {

class TSysBitmap;
class TColorProfile;

constexpr std::int32_t kGradeCubeSize = 32;
constexpr std::int32_t kGradeCubeRows = kGradeCubeSize * kGradeCubeSize;
constexpr std::int32_t kGradeStripWidth = 256;
constexpr std::int32_t kGradeStripHeight = 16;

// Kinds of TCustomColorGradeTexture; any kind but the volume is a strip.
constexpr std::uint8_t gkStrip = 0;
constexpr std::uint8_t gkVolume = 1;

// The lattice level of index i (0 to 31).
constexpr std::uint8_t GradeLevel(std::int32_t i) { return static_cast<std::uint8_t>(8 * i + i / 4); }

// Adds the identity's levels to every entry of a 24-bit cube table (pixels
// of three bytes: blue, green, red), byte by byte with wrap-around, which
// turns a stored table of differences into a table of colours. A table that
// is not 32 x 1024 pixels of three bytes fails an assertion and is left as
// it was.
void AddIdentityLut24(TSysBitmap* table);
inline void AddIdentity24(TSysBitmap* table) { AddIdentityLut24(table); }
// Writes the identity cube into a 24-bit table; the same assertion as above.
void FillIdentity24(TSysBitmap* table);
// Writes the identity cube into a 32 x 1024 A8R8G8B8 table (alpha 255);
// other bitmaps fail an assertion and are left as they were.
void FillIdentityCube32(TSysBitmap* table);
// Writes the identity strip into a 256 x 16 A8R8G8B8 table: every row the
// grey ramp of the column. Other bitmaps fail an assertion.
void FillIdentityStrip32(TSysBitmap* table);

// The YUV-to-RGB cube entry of column x (V), row y (U) and slice z (Y), as
// an A8R8G8B8 value.
std::uint32_t YuvGradeEntry(std::int32_t x, std::int32_t y, std::int32_t z);

// Whether colour management is on for the program (its switch lives with
// the show classes, which fill this at start); nil counts as on.
using TColorManagementOnProc = bool (*)();
extern std::atomic<TColorManagementOnProc> ColorManagementOnHook;

// The shared 32 x 1024 A8R8G8B8 cubes: the identity (Identity true) or the
// YUV-to-RGB cube, one cached cube per kind. With colour management off the
// profile is ignored and the cube stays as made. A nil profile means the
// current display profile. The cube is passed through a transform from
// sRGB (identity) or "YUVsRGB" (YUV) to the profile when one can be made;
// it is reused while the profile's name is the one it was made for. Safe
// from any thread; the cube must not be written to.
TRef<TSysBitmap> GetSharedGradeTable(bool identity, TColorProfile* profile);
// Frees the shared cubes (end of the program, and tests).
void FreeSharedGradeTables();

class TCustomColorGradeTexture : public TCustomColoringTexture {
public:
  // Asserts a screen. Nothing is made on the device here.
  TCustomColorGradeTexture(T3DScreen* screen, std::uint8_t kind);
  // Frees an owned source and lets the filter go, then the base's resources.
  void Dispose() override;

  // Replaces the source table (nil: the identity) and lets the device
  // texture go, so the next Realize fills it from the new table. A table
  // that is not 32 x 1024 (volume) or 256 x 16 (strip) A8R8G8B8 pixels
  // fails an assertion; the texture keeps its old table. Owns: the texture
  // holds a reference and drops it when the table is replaced; otherwise
  // the caller keeps the table alive.
  void SetSource(TSysBitmap* bitmap, bool owns);
  // The filter chain laid over the table (nil: none); the texture holds a
  // reference to its head. The device texture is let go and made again at
  // once, so the new table is on the device when the screen can draw.
  void SetGradeFilter(TObjectFilter* filter);
  TObjectFilter* GradeFilter() const { return filter_.get(); }
  // The device texture, made and filled when missing: nil when the screen
  // cannot draw or the device makes or locks none. Never raises.
  TBaseTexture* Realize();

  std::uint8_t Kind() const { return kind_; }
  bool IsVolume() const { return kind_ == gkVolume; }
  TSysBitmap* Source() const { return source_; }
  bool OwnsSource() const { return bool(ownedSource_); }

private:
  bool Fill(TBaseTexture* texture);

  TSysBitmap* source_ = nullptr;
  TRef<TSysBitmap> ownedSource_;
  std::uint8_t kind_;
  TRef<TObjectFilter> filter_;
};

}  // namespace zm
