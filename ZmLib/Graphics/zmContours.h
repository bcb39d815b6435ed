#pragma once
// Contour curves: a smooth curve through up to 255 control points that maps
// mask values 0..255 to 0..255 (shadows shape the edge of a blurred mask
// with it), read from a small curve record, and the ten built-in presets.
//
// Curve record, all numbers 16-bit big-endian: the point count n (2..255),
// the first point x, y, n - 2 intermediate points x, y, the last point x, y;
// every coordinate in 0..255. Preset record: a little-endian 32-bit length,
// that many bytes of name, then a curve record.
//
// The table is built by a Catmull-Rom curve through the points (a point with
// the x of the point kept before it is dropped), walked in 1000 steps per
// segment; entries left of the first point take its y, entries from the
// last point's x on take the last y, and every kept point's own entry is its
// y exactly.
#include <array>
#include <cstdint>
#include <vector>

#include "ZmLib/zmByteString.h"
#include "ZmLib/zmStream.h"

namespace zm {

struct TCurvePoint {
  std::int32_t X = 0;
  std::int32_t Y = 0;
  friend bool operator==(const TCurvePoint&, const TCurvePoint&) = default;
};

// The preset indexes: "Linear", "Cone", "Cone - Inverted", "Cove - Deep",
// "Cove - Shallow", "Gaussian", "Half Round", "Ring", "Ring - Double", "Tooth".
constexpr std::int32_t kContourPresetCount = 10;
// The preset record of an index 0..9 (empty for other indexes).
std::vector<std::uint8_t> ContourPresetRecord(std::int32_t index);

class TCurvesData {
public:
  static constexpr std::int32_t kNoPreset = -1;
  static constexpr std::int32_t kCreated = -4;

  TCurvesData();  // the reset state, index kCreated

  // Identity table, (0, 0) to (255, 255), no intermediate points. The
  // preset name and index stay.
  void Reset();
  // Reads a curve record and builds the table; on a short record, a count
  // outside 2..255 or a coordinate outside 0..255 the object is reset and
  // the answer is false.
  bool LoadFromStream(TStream* stream);
  // 0..9 loads that preset (name, then curve) and marks the curve set up.
  // Any other index: index kNoPreset, no name, the reset state, not set up.
  void SelectPreset(std::int32_t index);
  // Table entry i; indexes outside 0..255 are held to the nearest end.
  std::uint8_t GetValue(std::int32_t i) const;
  // A 32-bit little-endian length (0..999999) and that many bytes into Name;
  // false, and Name empty, for a length outside that range or a short read.
  bool ReadSizedString(TStream* stream);

  const TByteString& Name() const { return name_; }
  std::int32_t PresetIndex() const { return presetIndex_; }
  // Non-zero once a preset was selected.
  std::int32_t Initialized() const { return initialized_; }
  const std::array<std::uint8_t, 256>& Table() const { return table_; }
  TCurvePoint FirstPoint() const { return first_; }
  TCurvePoint LastPoint() const { return last_; }
  const std::vector<TCurvePoint>& Points() const { return points_; }

private:
  void BuildTable();
  void LoadPreset(std::int32_t index);

  TByteString name_;
  std::int32_t presetIndex_ = kCreated;
  std::int32_t initialized_ = 0;
  std::array<std::uint8_t, 256> table_{};
  TCurvePoint first_{0, 0};
  TCurvePoint last_{255, 255};
  std::vector<TCurvePoint> points_;
};

}  // namespace zm
