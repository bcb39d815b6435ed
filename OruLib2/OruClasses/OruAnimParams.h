#pragma once
// Animated images laid out as a frame strip: one picture holding a grid of
// frames shown one after another with per-frame delays. The record of the
// parameters ("AnimEnable", "AnimColumns", "AnimRows", "AnimCount",
// "AnimInterval", "AnimRepCount", "AnimOffset"), the frame delays, the frame
// due at a time and the rectangle of a frame in the grid.
#include <cstdint>
#include <vector>

#include "ZmLib/Graphics/zmRectUtils.h"
#include "ZmLib/zmTypes.h"

namespace oru {

using zm::WideString;

// Delay arrays are never longer than this, whatever the frame count says.
constexpr std::int32_t kMaxAnimationFrames = 65536;
// The delay of a frame whose interval is missing or below 1 ms.
constexpr std::int32_t kDefaultFrameDelay = 100;

struct TImageAnimationParams {
  std::int32_t Enabled = 0;  // boolean
  std::int32_t Columns = 1;
  std::int32_t Rows = 1;
  std::int32_t Count = 1;
  std::vector<std::int32_t> Delays;  // ms, one per frame
  std::int32_t RepCount = 0;         // 0: forever
  double Offset = 0;                 // ms of local time before the first frame
};

// The delays of Params.Count frames (0 for a negative count, at most
// kMaxAnimationFrames) from the comma-separated Text: each item an integer
// (0 when not a number), below 1 becoming 100; frames past the last item
// repeat its delay; no items: 100 for every frame.
void ParseFrameDelays(const WideString& text, TImageAnimationParams& params);

bool SameAnimationParams(const TImageAnimationParams& a, const TImageAnimationParams& b);

// Cell (Row, Column) of a Width x Height strip of Columns x Rows cells.
// False, with an empty rectangle, when Columns or Rows is below 1.
bool FrameRect(float width, float height, std::int32_t columns, std::int32_t rows, std::int32_t row,
               std::int32_t column, zm::TFloatRect& rect);

// The frame due at LocalTime (ms): 0 unless the animation is on, has more
// than one cell and has delays. Of min(Count, Columns x Rows) frames, the
// first whose running sum of delays reaches LocalTime - Offset (0 when
// negative) is due; each pass through the list counts one repetition and
// with RepCount above 0 the last frame stays once that many are done.
std::int32_t AnimationFrameAt(const TImageAnimationParams& params, double localTime);

// The cell of a frame: column = frame mod columns, row = frame div columns.
void AnimationFrameCell(const TImageAnimationParams& params, std::int32_t frame, std::int32_t& row,
                        std::int32_t& column);

}  // namespace oru
