#include "Platform/Gfx/GfxVertex.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace plat::gfx {
namespace {

// Clip-space w below this counts as behind the eye.
constexpr double kMinW = 1e-7;

// As ScreenVertex: only the draw's attributes are set and read.
struct ClipVertex {
  ClipVertex() {}
  double p[4] = {};  // x, y, z, w
  double attr[kMaxAttrs];
};

float LoadFloat(const std::uint8_t* p) {
  float f;
  std::memcpy(&f, p, 4);
  return f;
}

bool Finite(const ScreenVertex& v, std::uint32_t n) {
  if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z) || !std::isfinite(v.rhw)) return false;
  for (std::uint32_t i = 0; i < n; ++i)
    if (!std::isfinite(v.attr[i])) return false;
  return true;
}

// Sutherland-Hodgman against dist(v) >= 0, with linear interpolation.
template <typename V, typename Dist>
std::uint32_t ClipPolygon(const V* in, std::uint32_t count, V* out, std::uint32_t attrCount, Dist dist) {
  std::uint32_t n = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const V& a = in[i];
    const V& b = in[(i + 1) % count];
    const double da = dist(a), db = dist(b);
    if (da >= 0) out[n++].CopyFrom(a, attrCount);
    if ((da >= 0) != (db >= 0)) {
      const double t = da / (da - db);
      V& c = out[n++];
      c.CopyFrom(a, attrCount);
      c.Lerp(b, t, attrCount);
    }
  }
  return n;
}

struct ClipV : ClipVertex {
  void CopyFrom(const ClipV& b, std::uint32_t n) {
    for (int k = 0; k < 4; ++k) p[k] = b.p[k];
    std::copy_n(b.attr, n, attr);
  }
  void Lerp(const ClipV& b, double t, std::uint32_t n) {
    for (int k = 0; k < 4; ++k) p[k] += (b.p[k] - p[k]) * t;
    for (std::uint32_t k = 0; k < n; ++k) attr[k] += (b.attr[k] - attr[k]) * t;
  }
};
struct ScreenV : ScreenVertex {
  void CopyFrom(const ScreenV& b, std::uint32_t n) {
    x = b.x;
    y = b.y;
    z = b.z;
    rhw = b.rhw;
    std::copy_n(b.attr, n, attr);
  }
  void Lerp(const ScreenV& b, double t, std::uint32_t n) {
    x += (b.x - x) * t;
    y += (b.y - y) * t;
    z += (b.z - z) * t;
    rhw += (b.rhw - rhw) * t;
    for (std::uint32_t k = 0; k < n; ++k) attr[k] += (b.attr[k] - attr[k]) * t;
  }
};

class Assembler {
public:
  Assembler(const TDrawCall& call, const FvfLayout& layout, Cull cull, ScreenTriangles& out)
      : call_(call), layout_(layout), cull_(cull), out_(out) {
    const Matrix wv = MultiplyMatrix(call.world, call.view);
    wvp_ = MultiplyMatrix(wv, call.projection);
  }

  void Triangle(std::uint32_t i0, std::uint32_t i1, std::uint32_t i2) {
    // Most triangles need no clipping: their three corners alone are made.
    // The polygons of a clip are large (a vertex holds every attribute), so
    // they are set up only for the few that cross a plane.
    ScreenV three[3];
    if (layout_.rhw) {
      ScreenFromRhw(i0, three[0]);
      ScreenFromRhw(i1, three[1]);
      ScreenFromRhw(i2, three[2]);
    } else {
      ClipV c[3];
      ClipFrom(i0, c[0]);
      ClipFrom(i1, c[1]);
      ClipFrom(i2, c[2]);
      bool inside = true;
      for (int k = 0; k < 3; ++k) {
        for (double v : c[k].p)
          if (!std::isfinite(v)) return;
        inside = inside && c[k].p[2] >= 0 && c[k].p[3] - c[k].p[2] >= 0 && c[k].p[3] - kMinW >= 0;
      }
      if (!inside) {
        ClipTriangle(c);
        return;
      }
      for (int k = 0; k < 3; ++k) Project(c[k], three[k]);
    }
    Emit(three, 3);
  }

private:
  // Near, far and behind the eye, then the rest as Emit.
  void ClipTriangle(const ClipV (&corners)[3]) {
    const std::uint32_t attrs = layout_.attrCount;
    ClipV c[12], t[12];
    for (int k = 0; k < 3; ++k) Copy(corners[k], c[k]);
    std::uint32_t m = ClipPolygon(c, 3, t, attrs, [](const ClipV& v) { return v.p[2]; });
    m = ClipPolygon(t, m, c, attrs, [](const ClipV& v) { return v.p[3] - v.p[2]; });
    m = ClipPolygon(c, m, t, attrs, [](const ClipV& v) { return v.p[3] - kMinW; });
    if (m < 3) return;
    ScreenV poly[12];
    for (std::uint32_t k = 0; k < m; ++k) Project(t[k], poly[k]);
    Emit(poly, m);
  }

  // A polygon in screen space (at most 12 corners): the guard band, the
  // winding and the cull, then its fan of triangles.
  void Emit(const ScreenV* in, std::uint32_t n) {
    const std::uint32_t attrs = layout_.attrCount;
    for (std::uint32_t k = 0; k < n; ++k)
      if (!Finite(in[k], attrs)) return;
    // A polygon inside the guard band comes out of the clips as it went in.
    bool inside = true;
    for (std::uint32_t k = 0; k < n; ++k)
      inside = inside && in[k].x + kGuardBand >= 0 && kGuardBand - in[k].x >= 0 && in[k].y + kGuardBand >= 0 &&
               kGuardBand - in[k].y >= 0;
    if (!inside) {
      ScreenV poly[12], tmp[12];
      for (std::uint32_t k = 0; k < n; ++k) Copy(in[k], poly[k]);
      n = ClipPolygon(poly, n, tmp, attrs, [](const ScreenV& v) { return v.x + kGuardBand; });
      n = ClipPolygon(tmp, n, poly, attrs, [](const ScreenV& v) { return kGuardBand - v.x; });
      n = ClipPolygon(poly, n, tmp, attrs, [](const ScreenV& v) { return v.y + kGuardBand; });
      n = ClipPolygon(tmp, n, poly, attrs, [](const ScreenV& v) { return kGuardBand - v.y; });
      Wind(poly, n);
      return;
    }
    Wind(in, n);
  }

  void Wind(const ScreenV* poly, std::uint32_t n) {
    if (n < 3) return;
    double area = 0;
    for (std::uint32_t k = 0; k < n; ++k) {
      const ScreenV& a = poly[k];
      const ScreenV& b = poly[(k + 1) % n];
      area += a.x * b.y - b.x * a.y;
    }
    // y grows downwards: a positive area is clockwise on screen.
    if (!(area != 0) || (cull_ == Cull::Cw && area > 0) || (cull_ == Cull::Ccw && area < 0)) return;
    const std::uint32_t base = static_cast<std::uint32_t>(out_.vertices.size());
    for (std::uint32_t k = 0; k < n; ++k) Copy(poly[k], out_.vertices.emplace_back());
    for (std::uint32_t k = 1; k + 1 < n; ++k) {
      if (area > 0)
        out_.triangles.push_back({base, base + k, base + k + 1});
      else
        out_.triangles.push_back({base, base + k + 1, base + k});
    }
  }

  const std::uint8_t* At(std::uint32_t i) const { return call_.vertices + static_cast<std::size_t>(i) * call_.vertexStride; }

  void LoadAttributes(const std::uint8_t* v, double* attr) const {
    std::uint32_t color = 0xFFFFFFFFu;
    if (layout_.diffuseOffset >= 0) std::memcpy(&color, v + layout_.diffuseOffset, 4);
    attr[0] = color >> 24;
    attr[1] = (color >> 16) & 255;
    attr[2] = (color >> 8) & 255;
    attr[3] = color & 255;
    for (std::uint32_t s = 0; s < layout_.texCount; ++s)
      for (std::uint32_t k = 0; k < layout_.texSize[s]; ++k)
        attr[layout_.attrOffset[s] + k] = LoadFloat(v + layout_.texOffset[s] + 4 * k);
  }

  void ClipFrom(std::uint32_t i, ClipV& c) const {
    const std::uint8_t* v = At(i);
    const double x = LoadFloat(v), y = LoadFloat(v + 4), z = LoadFloat(v + 8);
    for (int k = 0; k < 4; ++k)
      c.p[k] = x * wvp_.m[0][k] + y * wvp_.m[1][k] + z * wvp_.m[2][k] + wvp_.m[3][k];
    LoadAttributes(v, c.attr);
  }

  void Project(const ClipV& c, ScreenVertex& s) const {
    const Viewport& vp = call_.viewport;
    s.rhw = 1.0 / c.p[3];
    s.x = vp.x + (1.0 + c.p[0] * s.rhw) * vp.width * 0.5;
    s.y = vp.y + (1.0 - c.p[1] * s.rhw) * vp.height * 0.5;
    s.z = vp.minZ + c.p[2] * s.rhw * (vp.maxZ - vp.minZ);
    for (std::uint32_t k = 0; k < layout_.attrCount; ++k) s.attr[k] = c.attr[k] * s.rhw;
  }

  void ScreenFromRhw(std::uint32_t i, ScreenVertex& s) const {
    const std::uint8_t* v = At(i);
    s.x = LoadFloat(v);
    s.y = LoadFloat(v + 4);
    s.z = LoadFloat(v + 8);
    const double rhw = LoadFloat(v + 12);
    // A zero or broken rhw would make every attribute 0/0: such vertices draw
    // without perspective.
    s.rhw = rhw > 0 && std::isfinite(rhw) ? rhw : 1.0;
    LoadAttributes(v, s.attr);
    for (std::uint32_t k = 0; k < layout_.attrCount; ++k) s.attr[k] *= s.rhw;
  }

  // The draw's attributes only (see ScreenVertex).
  void Copy(const ClipVertex& from, ClipVertex& to) const {
    for (int k = 0; k < 4; ++k) to.p[k] = from.p[k];
    std::copy_n(from.attr, layout_.attrCount, to.attr);
  }
  void Copy(const ScreenVertex& from, ScreenVertex& to) const {
    to.x = from.x;
    to.y = from.y;
    to.z = from.z;
    to.rhw = from.rhw;
    std::copy_n(from.attr, layout_.attrCount, to.attr);
  }

  const TDrawCall& call_;
  const FvfLayout& layout_;
  Cull cull_;
  ScreenTriangles& out_;
  Matrix wvp_;
};

}  // namespace

bool DecodeFvf(std::uint32_t fvf, FvfLayout& out) {
  out = FvfLayout{};
  std::uint32_t size = 0;
  switch (fvf & FvfPositionMask) {
    case FvfXyz: size = 12; break;
    case FvfXyzRhw:
      size = 16;
      out.rhw = true;
      break;
    default: return false;
  }
  if (fvf & FvfNormal) size += 12;
  if (fvf & 0x020) size += 4;  // point size
  if (fvf & FvfDiffuse) {
    out.diffuseOffset = static_cast<std::int32_t>(size);
    size += 4;
  }
  if (fvf & FvfSpecular) size += 4;
  out.texCount = FvfTexCount(fvf);
  if (out.texCount > kMaxTexSets) return false;
  std::uint32_t attr = 4;
  for (std::uint32_t s = 0; s < out.texCount; ++s) {
    static constexpr std::uint32_t kSizes[4] = {2, 3, 4, 1};
    out.texSize[s] = kSizes[(fvf >> (16 + 2 * s)) & 3];
    out.texOffset[s] = size;
    out.attrOffset[s] = attr;
    size += 4 * out.texSize[s];
    attr += out.texSize[s];
  }
  out.attrCount = attr;
  out.stride = size;
  return true;
}

Matrix MultiplyMatrix(const Matrix& a, const Matrix& b) {
  Matrix r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double s = 0;
      for (int k = 0; k < 4; ++k) s += static_cast<double>(a.m[i][k]) * b.m[k][j];
      r.m[i][j] = static_cast<float>(s);
    }
  return r;
}

bool BuildScreenTriangles(const TDrawCall& call, const FvfLayout& layout, Cull cull, ScreenTriangles& out) {
  out.vertices.clear();
  out.triangles.clear();
  out.attrCount = layout.attrCount;
  if (call.vertices == nullptr || call.vertexStride < layout.stride || layout.stride == 0) return false;
  const std::uint64_t nv = call.vertexCount;
  std::uint64_t prims = call.primitiveCount;
  Assembler as(call, layout, cull, out);
  switch (call.primitiveType) {
    case PrimitiveType::TriangleList:
      if (prims > nv / 3) prims = nv / 3;
      for (std::uint32_t p = 0; p < prims; ++p) as.Triangle(3 * p, 3 * p + 1, 3 * p + 2);
      return true;
    case PrimitiveType::TriangleStrip:
      if (nv < 3) return true;
      if (prims > nv - 2) prims = nv - 2;
      // Every second triangle of a strip is reversed to keep one winding.
      for (std::uint32_t p = 0; p < prims; ++p) {
        if (p & 1)
          as.Triangle(p + 1, p, p + 2);
        else
          as.Triangle(p, p + 1, p + 2);
      }
      return true;
    case PrimitiveType::TriangleFan:
      if (nv < 3) return true;
      if (prims > nv - 2) prims = nv - 2;
      for (std::uint32_t p = 0; p < prims; ++p) as.Triangle(0, p + 1, p + 2);
      return true;
    default: return true;  // points and lines are never drawn
  }
}

}  // namespace plat::gfx
