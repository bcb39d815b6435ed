#pragma once
// The rasteriser: fixed point with 8 sub-pixel bits, edge functions with the
// top-left rule, pixel centres at integer coordinates, and attributes
// evaluated perspective-correctly from plane equations at each pixel centre,
// so a pixel's value does not depend on how the target is cut into bands.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "Platform/Gfx/GfxCombine.h"
#include "Platform/Gfx/GfxSampler.h"
#include "Platform/Gfx/GfxShaderAbi.h"
#include "Platform/Gfx/GfxVertex.h"

namespace plat::gfx {

// Rows per band, and the last rows of a draw in smaller bands.
constexpr std::int32_t kBandRows = 32;
constexpr std::int32_t kTailRows = 64;
constexpr std::int32_t kTailBandRows = 8;
// Draws of less work than this run on the calling thread alone. A draw's
// work is its triangles' box areas in pixels plus kRowWork for each row of
// each triangle: a thin edge down the whole frame costs more than its pixels
// say, and is worth sharing.
constexpr std::int64_t kInlineWork = 16384;
constexpr std::int64_t kRowWork = 8;
// Per-triangle set-up of draws with at least this many triangles is shared
// out in chunks of kTriangleChunk.
constexpr std::size_t kParallelTriangles = 128;
constexpr std::size_t kTriangleChunk = 32;
// The texel columns of the span path are made kColumnChunk at a time, on
// the workers when a draw has at least kParallelColumns.
constexpr std::int32_t kColumnChunk = 128;
constexpr std::int64_t kParallelColumns = 512;

// q(x, y) = a * x + (b * y + c), evaluated in that order everywhere. Left
// unset until made: a triangle holds one for every attribute a draw may
// have, and sets only the draw's own.
struct Plane {
  Plane() {}
  double a, b, c;
  double At(double x, double y) const { return a * x + (b * y + c); }
};

struct EdgeFn {
  std::int64_t dx = 0, dy = 0, xa = 0, ya = 0;  // fixed point, 8 bits
  std::int64_t bias = 0;                          // 0 on top and left edges, else 1
};

// One column of the span fast path: two texel indices and the weight of the second.
struct SpanTap {
  std::int32_t i0 = 0, i1 = 0;
  std::uint32_t w = 0;
};

struct TriangleSetup {
  TriangleSetup() {}  // the attributes' planes stay unset (see Plane)
  EdgeFn edge[3];
  std::int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // pixel box, inclusive-exclusive
  Plane rhw;
  Plane attr[kMaxAttrs];
  bool fast = false;  // eligible for the axis-aligned span path
  // The diffuse colour when it is the same at every pixel.
  bool constantDiffuse = false;
  std::uint32_t diffuse = 0xFFFFFFFFu;
  // Fast path only: the texel columns from x0 to x1, made by RasterizeAll when the span path draws it.
  std::vector<SpanTap> columns;
  std::vector<std::uint64_t> weights;  // each column's weight in four 16-bit lanes
  std::vector<std::int32_t> colI0, colI1, colW;  // the columns again, one array per field
  bool columnsExact = false, columnsContiguous = false;
  // Linear columns reading texels i and i + 1 in turn with one weight for all.
  bool columnsUniform = false;
};

// Everything the pixel stage needs, prepared once per draw.
struct PixelState {
  TSurfaceView target;
  std::int32_t clipX0 = 0, clipY0 = 0, clipX1 = 0, clipY1 = 0;  // viewport within the target
  BlendSetup blend;
  std::uint32_t stageCount = 0;  // stages that run before the cascade ends
  StageSetup stages[kMaxTextureStages];
  const TTextureView* textures[kMaxTextureStages] = {};
  SamplerSetup samplers[kMaxTextureStages];
  bool needsLod[kMaxTextureStages] = {};
  FvfLayout layout;
  bool sourceOver = false;  // the blend set-up is src*as + dst*(1-as)
  // Stage 0 as the texture alone (1), or texture with alpha x diffuse alpha (2); 0 otherwise.
  std::uint8_t stage0Kind = 0;
  bool allowFastPath = true;  // tests turn it off to compare against the general path
  // With a pixel shader bound the stages above are unused (stageCount 0).
  const ShaderInfo* shader = nullptr;
  PackedPixelShaderFn packedShader = nullptr;  // the shader's packed form, when it has one
  SamplerView shaderSamplers[kMaxSamplers];
  Float4 shaderConstants[kMaxShaderConstants];
};

// Sets up one screen triangle; false when nothing of it can be drawn.
bool SetupTriangle(const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2, std::uint32_t attrCount,
                   const PixelState& ps, TriangleSetup& out);

// Calls chunk(begin, end) over [0, count) in chunks of kTriangleChunk, on
// the workers when count reaches kParallelTriangles, else on the caller.
void ForTriangleChunks(std::size_t count, const std::function<void(std::size_t, std::size_t)>& chunk);

// Draws the part of the triangle in rows [rowBegin, rowEnd).
void RasterizeTriangle(const TriangleSetup& t, const PixelState& ps, std::int32_t rowBegin, std::int32_t rowEnd);

// The span of row y covered by the triangle, as [begin, end); empty when
// begin >= end. Exact: the same pixels the per-pixel edge test accepts.
void RowSpan(const TriangleSetup& t, std::int32_t y, std::int32_t& begin, std::int32_t& end);

// True when every pixel of the triangle leaves the target as it is (a
// coverage of 0 at its three corners): it need not be drawn.
bool TriangleKeepsTarget(const TriangleSetup& t, const PixelState& ps);

// The value of PixelState::stage0Kind for a stage.
std::uint8_t ClassifyStageZero(const StageSetup& s);

// Draws all triangles of a draw in bands over the workers (making the
// texel columns of those the span path draws).
void RasterizeAll(std::vector<TriangleSetup>& tris, const PixelState& ps);

// For tests: whether DrawPrimitives may take the span fast path, and how
// many triangle bands it has drawn so far.
void SetGfxFastPathEnabled(bool enabled);
std::uint64_t GfxFastPathCount();
// Rows the fast path has blended straight from the texture (texel centres on
// pixel centres, no filtering arithmetic).
std::uint64_t GfxDirectRowCount();
// Runs the row path (shapes with a coverage ramp, in the general path) has
// read straight from the texture (texel centres on pixel centres).
std::uint64_t GfxDirectRunCount();
// For tests: whether the general path may draw the common state (one 32-bit
// texture, source-over onto ARGB) a row batch at a time.
void SetGfxRowPathEnabled(bool enabled);

}  // namespace plat::gfx
