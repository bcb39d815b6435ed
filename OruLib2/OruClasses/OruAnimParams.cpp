#include "OruLib2/OruClasses/OruAnimParams.h"

#include <algorithm>
#include <cmath>

#include "ZmLib/wpUnicode.h"

namespace oru {

void ParseFrameDelays(const WideString& text, TImageAnimationParams& params) {
  std::int32_t count = std::clamp(params.Count, 0, kMaxAnimationFrames);
  params.Delays.assign(static_cast<std::size_t>(count), kDefaultFrameDelay);
  if (text.empty() || count == 0) return;

  std::vector<WideString> items;
  std::size_t start = 0;
  // Only the items that have a frame are looked at.
  while (items.size() < static_cast<std::size_t>(count)) {
    std::size_t comma = text.find(u',', start);
    items.push_back(text.substr(start, comma == WideString::npos ? WideString::npos : comma - start));
    if (comma == WideString::npos) break;
    start = comma + 1;
  }
  std::int32_t last = kDefaultFrameDelay;
  for (std::size_t i = 0; i < params.Delays.size(); ++i) {
    if (i < items.size()) {
      last = zm::StrToIntDef(zm::Trim(items[i]), 0);
      if (last < 1) last = kDefaultFrameDelay;
    }
    params.Delays[i] = last;
  }
}

bool SameAnimationParams(const TImageAnimationParams& a, const TImageAnimationParams& b) {
  return a.Enabled == b.Enabled && a.Columns == b.Columns && a.Rows == b.Rows && a.Count == b.Count &&
         a.Offset == b.Offset && a.RepCount == b.RepCount && a.Delays == b.Delays;
}

bool FrameRect(float width, float height, std::int32_t columns, std::int32_t rows, std::int32_t row,
               std::int32_t column, zm::TFloatRect& rect) {
  if (columns < 1 || rows < 1) {
    rect = {};
    return false;
  }
  float cw = width / static_cast<float>(columns);
  float ch = height / static_cast<float>(rows);
  rect.Left = cw * static_cast<float>(column);
  rect.Top = ch * static_cast<float>(row);
  rect.Right = cw * static_cast<float>(static_cast<std::int64_t>(column) + 1);
  rect.Bottom = ch * static_cast<float>(static_cast<std::int64_t>(row) + 1);
  return true;
}

std::int32_t AnimationFrameAt(const TImageAnimationParams& params, double localTime) {
  if (!params.Enabled || params.Columns < 1 || params.Rows < 1 || params.Delays.empty()) return 0;
  std::int64_t cells = static_cast<std::int64_t>(params.Columns) * params.Rows;
  if (cells <= 1) return 0;
  std::int64_t count = std::min<std::int64_t>({params.Count, cells, static_cast<std::int64_t>(params.Delays.size())});
  if (count <= 0) return 0;

  double total = 0;
  for (std::int64_t i = 0; i < count; ++i) total += params.Delays[static_cast<std::size_t>(i)];
  double elapsed = localTime - params.Offset;
  if (!(elapsed > 0) || !(total > 0) || !std::isfinite(total)) return 0;  // NaN lands here too
  if (!std::isfinite(elapsed)) return params.RepCount > 0 ? static_cast<std::int32_t>(count - 1) : 0;

  // Passes completed before the one that holds Elapsed (a boundary belongs
  // to the frame that ends there).
  double passes = std::ceil(elapsed / total) - 1;
  if (passes < 0) passes = 0;
  if (params.RepCount > 0 && passes >= params.RepCount) return static_cast<std::int32_t>(count - 1);
  double rest = elapsed - passes * total;
  if (rest > total) rest = total;
  double sum = 0;
  for (std::int64_t i = 0; i < count; ++i) {
    sum += params.Delays[static_cast<std::size_t>(i)];
    if (sum >= rest) return static_cast<std::int32_t>(i);
  }
  return static_cast<std::int32_t>(count - 1);
}

void AnimationFrameCell(const TImageAnimationParams& params, std::int32_t frame, std::int32_t& row,
                        std::int32_t& column) {
  std::int32_t columns = params.Columns < 1 ? 1 : params.Columns;
  if (frame < 0) frame = 0;
  column = frame % columns;
  row = frame / columns;
}

}  // namespace oru
