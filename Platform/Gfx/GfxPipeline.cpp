// DrawPrimitives: the vertex stage, triangle set-up and the banded raster.
#include "Platform/Gfx/GfxPipeline.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "Platform/Gfx/GfxPixels.h"
#include "Platform/Gfx/GfxRaster.h"
#include "Platform/Gfx/GfxVertex.h"

namespace plat::gfx {
namespace {

bool TargetUsable(const TSurfaceView& t) {
  const PixelFormatInfo* info = FindPixelFormat(t.format);
  if (t.bits == nullptr || t.width == 0 || t.height == 0 || info == nullptr || info->depth) return false;
  const std::int64_t row = static_cast<std::int64_t>(t.width) * info->bytesPerPixel;
  return t.pitch >= row && t.width < (1u << 15) && t.height < (1u << 15);
}

bool TextureUsable(const TTextureView& tex) {
  switch (tex.kind) {
    case TTextureKind::Texture2D: {
      if (tex.levelCount == 0) return false;
      const TSurfaceView& l = tex.levels[0];
      const PixelFormatInfo* info = FindPixelFormat(l.format);
      return l.bits != nullptr && l.width > 0 && l.height > 0 && info != nullptr && !info->depth &&
             l.pitch >= static_cast<std::int64_t>(l.width) * info->bytesPerPixel;
    }
    case TTextureKind::Volume: {
      const TVolumeView& v = tex.volume;
      const PixelFormatInfo* info = FindPixelFormat(v.format);
      return v.bits != nullptr && v.width > 0 && v.height > 0 && v.depth > 0 && info != nullptr && !info->depth;
    }
    default: return false;
  }
}

Cull CullFrom(std::uint32_t v) {
  switch (v) {
    case 1: return Cull::None;
    case 2: return Cull::Cw;
    default: return Cull::Ccw;
  }
}

// Leaves the pixels inside Rect out of the triangles: one inside drops,
// one reaching over it goes on as the parts of its box around it (a pixel
// is the same whichever part of the box it is drawn from).
void LeaveOutRect(std::vector<TriangleSetup>& tris, const Rect& r) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  std::vector<TriangleSetup> out;
  out.reserve(tris.size());
  for (TriangleSetup& t : tris) {
    const std::int32_t x0 = std::max(t.x0, r.left), x1 = std::min(t.x1, r.right);
    const std::int32_t y0 = std::max(t.y0, r.top), y1 = std::min(t.y1, r.bottom);
    if (x0 >= x1 || y0 >= y1) {
      out.push_back(std::move(t));
      continue;
    }
    const auto part = [&](std::int32_t px0, std::int32_t py0, std::int32_t px1, std::int32_t py1) {
      if (px0 >= px1 || py0 >= py1) return;
      TriangleSetup& p = out.emplace_back(t);
      p.x0 = px0;
      p.y0 = py0;
      p.x1 = px1;
      p.y1 = py1;
    };
    part(t.x0, t.y0, t.x1, y0);  // above
    part(t.x0, y0, x0, y1);      // left
    part(x1, y0, t.x1, y1);      // right
    part(t.x0, y1, t.x1, t.y1);  // below
  }
  tris = std::move(out);
}

// Draws the triangles; with Changed, learns whether any pixel of the target
// changed (the rows they reach are kept and compared).
void RasterizeWatched(std::vector<TriangleSetup>& setups, const PixelState& ps, bool* changed) {
  if (changed == nullptr) {
    RasterizeAll(setups, ps);
    return;
  }
  *changed = false;
  if (setups.empty()) return;
  std::int32_t x0 = setups[0].x0, y0 = setups[0].y0, x1 = setups[0].x1, y1 = setups[0].y1;
  for (const TriangleSetup& t : setups) {
    x0 = std::min(x0, t.x0);
    y0 = std::min(y0, t.y0);
    x1 = std::max(x1, t.x1);
    y1 = std::max(y1, t.y1);
  }
  const PixelFormatInfo* info = FindPixelFormat(ps.target.format);
  if (x1 <= x0 || y1 <= y0 || info == nullptr) {
    RasterizeAll(setups, ps);
    *changed = true;
    return;
  }
  const std::size_t rowBytes = static_cast<std::size_t>(x1 - x0) * info->bytesPerPixel;
  const auto row = [&](std::int32_t y) {
    return ps.target.bits + static_cast<std::ptrdiff_t>(y) * ps.target.pitch +
           static_cast<std::ptrdiff_t>(x0) * info->bytesPerPixel;
  };
  thread_local std::vector<std::uint8_t> before;
  before.resize(rowBytes * static_cast<std::size_t>(y1 - y0));
  for (std::int32_t y = y0; y < y1; ++y)
    std::memcpy(before.data() + rowBytes * static_cast<std::size_t>(y - y0), row(y), rowBytes);
  RasterizeAll(setups, ps);
  for (std::int32_t y = y0; y < y1 && !*changed; ++y)
    *changed = std::memcmp(before.data() + rowBytes * static_cast<std::size_t>(y - y0), row(y), rowBytes) != 0;
}

}  // namespace

void DrawPrimitives(const TDrawCall& call) {
  if (call.targetChanged != nullptr) *call.targetChanged = false;
  PixelState ps;
  ps.target = call.target;
  if (!TargetUsable(ps.target) || !DecodeFvf(call.fvf, ps.layout)) return;
  const std::int64_t vx0 = call.viewport.x, vy0 = call.viewport.y;
  ps.clipX0 = static_cast<std::int32_t>(std::min<std::int64_t>(vx0, call.target.width));
  ps.clipY0 = static_cast<std::int32_t>(std::min<std::int64_t>(vy0, call.target.height));
  ps.clipX1 = static_cast<std::int32_t>(std::min<std::int64_t>(vx0 + call.viewport.width, call.target.width));
  ps.clipY1 = static_cast<std::int32_t>(std::min<std::int64_t>(vy0 + call.viewport.height, call.target.height));
  if (call.scissorTest) {
    ps.clipX0 = std::max(ps.clipX0, call.scissor.left);
    ps.clipY0 = std::max(ps.clipY0, call.scissor.top);
    ps.clipX1 = std::min(ps.clipX1, call.scissor.right);
    ps.clipY1 = std::min(ps.clipY1, call.scissor.bottom);
  }
  if (ps.clipX0 >= ps.clipX1 || ps.clipY0 >= ps.clipY1) return;

  Cull cull = Cull::Ccw;
  if (call.renderStates != nullptr) {
    ps.blend = MakeBlendSetup(*call.renderStates);
    ps.sourceOver = IsSourceOverBlend(ps.blend);
    cull = CullFrom((*call.renderStates)[static_cast<std::uint32_t>(RenderState::CullMode)]);
  }
  // A bound pixel shader replaces the stages; it reads every sampler.
  if (call.pixelShader != nullptr && call.pixelShader->fn != nullptr) {
    ps.shader = call.pixelShader;
    ps.packedShader = FindPackedPixelShader(call.pixelShader);
    for (std::uint32_t i = 0; i < kMaxSamplers; ++i) {
      if (TextureUsable(call.textures[i])) ps.shaderSamplers[i].texture = &call.textures[i];
      if (call.samplerStates != nullptr) ps.shaderSamplers[i].setup = MakeSamplerSetup(call.samplerStates[i]);
    }
    if (call.pixelShaderConstants != nullptr)
      for (std::uint32_t i = 0; i < kMaxShaderConstants; ++i) {
        const float* c = call.pixelShaderConstants + i * 4;
        ps.shaderConstants[i] = Float4{c[0], c[1], c[2], c[3]};
      }
  }
  // The colour cascade ends at the first stage that is disabled or has no
  // texture; with none running, the vertex colour is the output.
  if (ps.shader == nullptr && call.stageStates != nullptr) {
    for (std::uint32_t i = 0; i < kMaxTextureStages; ++i) {
      const StageSetup st = MakeStageSetup(call.stageStates[i]);
      if (st.colorOp == TextureOp::Disable || !TextureUsable(call.textures[i])) break;
      ps.stages[i] = st;
      ps.textures[i] = &call.textures[i];
      if (call.samplerStates != nullptr) ps.samplers[i] = MakeSamplerSetup(call.samplerStates[i]);
      ps.needsLod[i] = SamplerNeedsLod(call.textures[i], ps.samplers[i]);
      ps.stageCount = i + 1;
    }
  }
  if (ps.stageCount > 0) ps.stage0Kind = ClassifyStageZero(ps.stages[0]);

  thread_local ScreenTriangles screen;
  thread_local std::vector<TriangleSetup> setups;
  thread_local std::vector<std::uint8_t> keepFlags;
  if (!BuildScreenTriangles(call, ps.layout, cull, screen)) return;
  setups.clear();
  const std::size_t count = screen.triangles.size();
  if (count < kParallelTriangles) {
    for (const auto& tri : screen.triangles) {
      TriangleSetup& t = setups.emplace_back();
      if (!SetupTriangle(screen.vertices[tri[0]], screen.vertices[tri[1]], screen.vertices[tri[2]], screen.attrCount,
                         ps, t) ||
          TriangleKeepsTarget(t, ps))
        setups.pop_back();
    }
  } else {
    // Set up in place on the workers, then the dropped ones closed up, in
    // order. (The workers have thread_locals of their own: only these
    // references reach the caller's.)
    std::vector<TriangleSetup>& out = setups;
    std::vector<std::uint8_t>& keep = keepFlags;
    const ScreenTriangles& in = screen;
    out.resize(count);
    keep.assign(count, 0);
    ForTriangleChunks(count, [&](std::size_t begin, std::size_t end) {
      for (std::size_t i = begin; i < end; ++i) {
        const auto& tri = in.triangles[i];
        keep[i] = SetupTriangle(in.vertices[tri[0]], in.vertices[tri[1]], in.vertices[tri[2]], in.attrCount, ps,
                                out[i]) &&
                  !TriangleKeepsTarget(out[i], ps);
      }
    });
    std::size_t n = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (!keep[i]) continue;
      if (n != i) out[n] = std::move(out[i]);
      ++n;
    }
    out.resize(n);
  }
  if (call.exclusionTest) LeaveOutRect(setups, call.exclusion);
  RasterizeWatched(setups, ps, call.targetChanged);
}

}  // namespace plat::gfx
