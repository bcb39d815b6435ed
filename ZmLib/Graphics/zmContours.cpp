#include "ZmLib/Graphics/zmContours.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace zm {

namespace {

struct TPreset {
  const char* Name;
  std::initializer_list<TCurvePoint> Points;
};

const TPreset kPresets[kContourPresetCount] = {
    {"Linear", {{0, 0}, {255, 255}}},
    {"Cone", {{0, 0}, {128, 255}, {255, 0}}},
    {"Cone - Inverted", {{0, 255}, {128, 0}, {255, 255}}},
    {"Cove - Deep", {{1, 63}, {148, 110}, {192, 255}}},
    {"Cove - Shallow", {{0, 127}, {83, 174}, {128, 255}}},
    {"Gaussian", {{0, 0}, {63, 11}, {113, 63}, {146, 194}, {191, 241}, {255, 255}}},
    {"Half Round", {{0, 0}, {27, 84}, {81, 178}, {173, 236}, {255, 255}}},
    {"Ring", {{0, 0}, {86, 255}, {172, 0}, {255, 255}}},
    {"Ring - Double", {{0, 0}, {48, 255}, {105, 0}, {158, 253}, {214, 1}, {255, 255}}},
    {"Tooth", {{0, 0}, {64, 127}, {128, 1}, {193, 127}, {255, 0}}},
};

void PutBE16(std::vector<std::uint8_t>& out, std::int32_t v) {
  out.push_back(std::uint8_t(v >> 8));
  out.push_back(std::uint8_t(v));
}

bool ReadBE16(TStream* stream, std::int32_t& v) {
  std::uint8_t b[2];
  if (stream->ReadData(TReadBuffer(b, 2), 2) != 2) return false;
  v = (std::int32_t(b[0]) << 8) | b[1];
  return true;
}

// Round half to even, clamped to a table entry.
std::int32_t ToEntry(double v) { return std::clamp(std::int32_t(std::nearbyint(std::clamp(v, -1e6, 1e6))), 0, 255); }

constexpr std::int32_t kMaxSizedString = 999999;

}  // namespace

std::vector<std::uint8_t> ContourPresetRecord(std::int32_t index) {
  std::vector<std::uint8_t> out;
  if (index < 0 || index >= kContourPresetCount) return out;
  const TPreset& p = kPresets[index];
  const std::uint32_t len = std::uint32_t(std::char_traits<char>::length(p.Name));
  for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(len >> (8 * i)));
  for (std::uint32_t i = 0; i < len; ++i) out.push_back(std::uint8_t(p.Name[i]));
  PutBE16(out, std::int32_t(p.Points.size()));
  for (const TCurvePoint& pt : p.Points) {
    PutBE16(out, pt.X);
    PutBE16(out, pt.Y);
  }
  return out;
}

TCurvesData::TCurvesData() { Reset(); }

void TCurvesData::Reset() {
  for (std::int32_t i = 0; i < 256; ++i) table_[std::size_t(i)] = std::uint8_t(i);
  first_ = {0, 0};
  last_ = {255, 255};
  points_.clear();
}

std::uint8_t TCurvesData::GetValue(std::int32_t i) const { return table_[std::size_t(std::clamp(i, 0, 255))]; }

bool TCurvesData::ReadSizedString(TStream* stream) {
  name_ = TByteString();
  if (!stream) return false;
  std::uint8_t b[4];
  if (stream->ReadData(TReadBuffer(b, 4), 4) != 4) return false;
  const std::int32_t len = std::int32_t(std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
                                        std::uint32_t(b[3]) << 24);
  if (len < 0 || len > kMaxSizedString) return false;
  if (len == 0) return true;
  const std::int64_t remaining = stream->GetRemaining();
  if (remaining >= 0 && remaining < len) return false;  // no buffer for bytes that are not there
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(len));
  if (stream->ReadData(TReadBuffer(bytes), len) != len) return false;
  name_ = TByteString(bytes.data(), bytes.size());
  return true;
}

bool TCurvesData::LoadFromStream(TStream* stream) {
  Reset();
  bool ok = stream != nullptr;
  std::int32_t count = 0;
  std::vector<TCurvePoint> pts;
  if (ok) ok = ReadBE16(stream, count) && count >= 2 && count <= 255;
  for (std::int32_t i = 0; ok && i < count; ++i) {
    TCurvePoint p;
    ok = ReadBE16(stream, p.X) && ReadBE16(stream, p.Y) && p.X <= 255 && p.Y <= 255;
    pts.push_back(p);
  }
  if (!ok) {
    Reset();
    return false;
  }
  first_ = pts.front();
  last_ = pts.back();
  points_.assign(pts.begin() + 1, pts.end() - 1);
  BuildTable();
  return true;
}

void TCurvesData::SelectPreset(std::int32_t index) {
  if (index < 0 || index >= kContourPresetCount) {
    presetIndex_ = kNoPreset;
    name_ = TByteString();
    initialized_ = 0;
    Reset();
    return;
  }
  // Each preset is read and its table built once; a curve set to one takes
  // a copy.
  static const std::array<TCurvesData, kContourPresetCount> presets = [] {
    std::array<TCurvesData, kContourPresetCount> made;
    for (std::int32_t i = 0; i < kContourPresetCount; ++i) made[std::size_t(i)].LoadPreset(i);
    return made;
  }();
  *this = presets[std::size_t(index)];
}

void TCurvesData::LoadPreset(std::int32_t index) {
  std::vector<std::uint8_t> record = ContourPresetRecord(index);
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  s->Write(TWriteBuffer(record));
  s->SetPosition(0);
  ReadSizedString(s.get());
  LoadFromStream(s.get());
  presetIndex_ = index;
  initialized_ = 1;
}

void TCurvesData::BuildTable() {
  std::vector<TCurvePoint> kept;
  kept.reserve(points_.size() + 2);
  auto take = [&](const TCurvePoint& p) {
    if (!kept.empty() && kept.back().X == p.X) return;
    kept.push_back(p);
  };
  take(first_);
  for (const TCurvePoint& p : points_) take(p);
  take(last_);

  static constexpr double M[4][4] = {
      {-0.5, 1.5, -1.5, 0.5}, {1, -2.5, 2, -0.5}, {-0.5, 0, 0.5, 0}, {0, 1, 0, 0}};
  const std::size_t n = kept.size();
  for (std::size_t k = 0; k + 1 < n; ++k) {
    const TCurvePoint& p0 = kept[k == 0 ? 0 : k - 1];
    const TCurvePoint& p1 = kept[k];
    const TCurvePoint& p2 = kept[k + 1];
    const TCurvePoint& p3 = kept[k + 2 < n ? k + 2 : k + 1];
    // Cubic coefficients (t^3, t^2, t, 1) of x and y.
    double cx[4], cy[4];
    for (int r = 0; r < 4; ++r) {
      cx[r] = M[r][0] * p0.X + M[r][1] * p1.X + M[r][2] * p2.X + M[r][3] * p3.X;
      cy[r] = M[r][0] * p0.Y + M[r][1] * p1.Y + M[r][2] * p2.Y + M[r][3] * p3.Y;
    }
    // Forward differences over 1000 steps of 0.001.
    const double h = 0.001, h2 = h * h, h3 = h2 * h;
    double x = cx[3], dx = cx[0] * h3 + cx[1] * h2 + cx[2] * h, d2x = 6 * cx[0] * h3 + 2 * cx[1] * h2,
           d3x = 6 * cx[0] * h3;
    double y = cy[3], dy = cy[0] * h3 + cy[1] * h2 + cy[2] * h, d2y = 6 * cy[0] * h3 + 2 * cy[1] * h2,
           d3y = 6 * cy[0] * h3;
    std::int32_t px = ToEntry(x), py = ToEntry(y);
    table_[std::size_t(px)] = std::uint8_t(py);
    for (int step = 0; step < 1000; ++step) {
      x += dx;
      dx += d2x;
      d2x += d3x;
      y += dy;
      dy += d2y;
      d2y += d3y;
      const std::int32_t X = ToEntry(x), Y = ToEntry(y);
      if (X != px || Y != py) table_[std::size_t(X)] = std::uint8_t(Y);
      px = X;
      py = Y;
    }
  }
  for (std::int32_t i = 0; i < first_.X; ++i) table_[std::size_t(i)] = std::uint8_t(first_.Y);
  for (std::int32_t i = last_.X; i < 256; ++i) table_[std::size_t(i)] = std::uint8_t(last_.Y);
  for (const TCurvePoint& p : kept) table_[std::size_t(p.X)] = std::uint8_t(p.Y);
}

}  // namespace zm
