#pragma once
// The vertex stage: FVF decoding, world-view-projection transform, clipping
// (near z >= 0, far z <= w, and a guard band around the target), viewport
// mapping with pixel centres at integers, culling, and assembly of triangle
// lists, strips and fans into screen triangles.
#include <array>
#include <cstdint>
#include <vector>

#include "Platform/Gfx/GfxPipeline.h"

namespace plat::gfx {

constexpr std::uint32_t kMaxTexSets = 8;
// Diffuse a, r, g, b (0..255), then the texture sets, up to 4 floats each.
constexpr std::uint32_t kAttrDiffuse = 0;
constexpr std::uint32_t kMaxAttrs = 4 + kMaxTexSets * 4;
// Screen coordinates are held inside +-kGuardBand pixels.
constexpr double kGuardBand = 32768.0;

struct FvfLayout {
  std::uint32_t stride = 0;  // bytes the FVF needs
  bool rhw = false;          // positions are already in screen space
  std::int32_t diffuseOffset = -1;
  std::uint32_t texCount = 0;
  std::uint32_t texOffset[kMaxTexSets] = {};
  std::uint32_t texSize[kMaxTexSets] = {};  // floats per set, 1..4
  std::uint32_t attrOffset[kMaxTexSets] = {};  // first attribute of each set
  std::uint32_t attrCount = 4;
};
// False for layouts the device cannot read (no position, blend weights,
// more than 8 sets).
bool DecodeFvf(std::uint32_t fvf, FvfLayout& out);

// A vertex after viewport mapping. Attributes are premultiplied by rhw so
// they interpolate linearly in screen space. Only the draw's attribute count
// of them is set and read: a vertex is made for every corner of every
// triangle, and clearing all of them cost more than the rest of its set-up.
struct ScreenVertex {
  ScreenVertex() {}
  double x = 0, y = 0, z = 0, rhw = 1;
  double attr[kMaxAttrs];
};

struct ScreenTriangles {
  std::vector<ScreenVertex> vertices;
  std::vector<std::array<std::uint32_t, 3>> triangles;  // all wound clockwise on screen
  std::uint32_t attrCount = 4;
};

// Row-vector product a * b.
Matrix MultiplyMatrix(const Matrix& a, const Matrix& b);

// Runs the vertex stage over a draw. Triangles that are culled, degenerate,
// clipped away or carry a NaN or infinity are dropped; points and lines
// draw nothing. False when the draw cannot be read at all.
bool BuildScreenTriangles(const TDrawCall& call, const FvfLayout& layout, Cull cull, ScreenTriangles& out);

}  // namespace plat::gfx
