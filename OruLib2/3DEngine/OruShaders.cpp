#include "OruLib2/3DEngine/OruShaders.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "OruLib2/3DEngine/BroomFilters.h"
#include "OruLib2/3DEngine/PerspectiveFilters.h"
#include "OruLib2/3DEngine/RollFilter.h"
#include "OruLib2/3DEngine/ShapeFilters.h"
#include "Platform/Gfx/GfxShaderAbi.h"

namespace oru {
namespace {

namespace gfx = plat::gfx;
using gfx::Float4;
using gfx::SamplerType;
using gfx::ShaderEnv;
using gfx::ShaderVaryings;

// ---- arithmetic -----------------------------------------------------------------

Float4 Lerp(const Float4& a, const Float4& b, float t) {
  return {a.r + t * (b.r - a.r), a.g + t * (b.g - a.g), a.b + t * (b.b - a.b), a.a + t * (b.a - a.a)};
}
Float4 Mul(const Float4& a, const Float4& b) { return {a.r * b.r, a.g * b.g, a.b * b.b, a.a * b.a}; }
Float4 Scale(const Float4& a, float k) { return {a.r * k, a.g * k, a.b * k, a.a * k}; }
Float4 Add(const Float4& a, const Float4& b) { return {a.r + b.r, a.g + b.g, a.b + b.b, a.a + b.a}; }

// Transparent pixels divide by an alpha of 0: x / 0 is 0 so the result is
// defined rather than NaN or infinite.
float SafeDiv(float x, float d) { return d != 0.0f ? x / d : 0.0f; }
Float4 DivRgb(const Float4& c, float d) { return {SafeDiv(c.r, d), SafeDiv(c.g, d), SafeDiv(c.b, d), c.a}; }

float Clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }

// Texture coordinates and the vertex colour of pixel i.
float U0(const ShaderVaryings& in, int i) { return in.t[0][0][i]; }
float V0(const ShaderVaryings& in, int i) { return in.t[0][1][i]; }
float U1(const ShaderVaryings& in, int i) { return in.t[1][0][i]; }
float V1(const ShaderVaryings& in, int i) { return in.t[1][1][i]; }
Float4 Diffuse(const ShaderVaryings& in, int i) { return {in.v0[0][i], in.v0[1][i], in.v0[2][i], in.v0[3][i]}; }

// Lookup coordinates on the texel centres of the 32-entry volumes and the
// 256-texel curves.
constexpr float kVolumeScale = 0.96875f, kVolumeOffset = 0.015625f;
constexpr float kCurveScale = 0.996094f, kCurveOffset = 0.00195312f;

// ---- the shaders ------------------------------------------------------------------

void Unsharp(const ShaderEnv& e, const ShaderVaryings& in, Float4* out) {
  const float dx = e.c[0].r, dy = e.c[0].g, threshold = e.c[1].r, amount = e.c[2].r;
  for (int i = 0; i < in.count; ++i) {
    const float u = U0(in, i), v = V0(in, i);
    const gfx::SamplerView& s = *e.s[0];
    const Float4 centre = gfx::Tex2D(s, u, v);
    const Float4 edges = Add(Add(gfx::Tex2D(s, u - dx, v), gfx::Tex2D(s, u + dx, v)),
                             Add(gfx::Tex2D(s, u, v - dy), gfx::Tex2D(s, u, v + dy)));
    const Float4 corners = Add(Add(gfx::Tex2D(s, u - dx, v - dy), gfx::Tex2D(s, u + dx, v - dy)),
                               Add(gfx::Tex2D(s, u - dx, v + dy), gfx::Tex2D(s, u + dx, v + dy)));
    const Float4 blur = Scale(Add(Add(Scale(centre, 4.0f), Scale(edges, 2.0f)), corners), 1.0f / 16.0f);
    const auto sharpen = [&](float c, float b) {
      const float d = c - b;
      return std::fabs(d) - threshold >= 0.0f ? c + amount * d : c;
    };
    out[i] = {sharpen(centre.r, blur.r), sharpen(centre.g, blur.g), sharpen(centre.b, blur.b), centre.a};
  }
}

void VideoMask(const ShaderEnv& e, const ShaderVaryings& in, Float4* out) {
  const float invert = e.c[0].r;
  for (int i = 0; i < in.count; ++i) {
    const float l = (gfx::Tex2D(*e.s[0], U0(in, i), V0(in, i)).r - 0.0625f) * 1.16438f;
    const float value = invert + (1.0f - 2.0f * invert) * l;
    out[i] = {value, value, value, value * in.v0[3][i]};
  }
}

void ColorGrading(const ShaderEnv& e, const ShaderVaryings& in, Float4* out) {
  const float t = e.c[0].r;
  for (int i = 0; i < in.count; ++i) {
    const Float4 c = Mul(gfx::Tex2D(*e.s[0], U0(in, i), V0(in, i)), Diffuse(in, i));
    const float pr = c.r * kVolumeScale + kVolumeOffset, pg = c.g * kVolumeScale + kVolumeOffset,
                pb = c.b * kVolumeScale + kVolumeOffset;
    Float4 r = Lerp(gfx::Tex3D(*e.s[1], pr, pg, pb), gfx::Tex3D(*e.s[2], pr, pg, pb), t);
    r.a = c.a;
    out[i] = r;
  }
}

void ColorGradeLinear(const ShaderEnv& e, const ShaderVaryings& in, Float4* out) {
  const float t = e.c[0].r;
  // The curves are the first row of the strip: a colour filter maps only
  // that row, the others keep the plain ramp, so a read down the diagonal
  // would mostly miss the grading.
  const auto curves = [](const gfx::SamplerView& s, float pr, float pg, float pb) {
    return Float4{gfx::Tex2D(s, pr, 0.0f).r, gfx::Tex2D(s, pg, 0.0f).g, gfx::Tex2D(s, pb, 0.0f).b, 0.0f};
  };
  for (int i = 0; i < in.count; ++i) {
    const Float4 c = Mul(gfx::Tex2D(*e.s[0], U0(in, i), V0(in, i)), Diffuse(in, i));
    const float pr = c.r * kCurveScale + kCurveOffset, pg = c.g * kCurveScale + kCurveOffset,
                pb = c.b * kCurveScale + kCurveOffset;
    Float4 r = Lerp(curves(*e.s[1], pr, pg, pb), curves(*e.s[2], pr, pg, pb), t);
    r.a = c.a;
    out[i] = r;
  }
}

// The YUV family: s0 Y, s1 U, s2 V (luminance planes), s3 and s4 tables
// indexed by (V, U, Y). c1 srcsizey = (H, 1/H) and c2 offsy select one field.
struct TVideoOptions {
  bool deinterlace = false;
  bool chromaKey = false;
};

float FieldLuma(const ShaderEnv& e, float u, float v) {
  const float h = e.c[1].r, recipH = e.c[1].g, offX = e.c[2].r, offY = e.c[2].g;
  const float line = v * h + offY;
  const float k = std::floor(line * 0.5f);
  const float y0 = (2.0f * k + 0.5f + offX) * recipH;
  const float y1 = (2.0f * k + 2.5f + offX) * recipH;
  const float w = (line - (2.0f * k + 0.5f)) * 0.5f;
  const float l0 = gfx::Tex2D(*e.s[0], u, y0).r;
  const float l1 = gfx::Tex2D(*e.s[0], u, y1).r;
  return l0 + w * (l1 - l0);
}

// Pixel by pixel through Tex2D and Tex3D: for volumes the lattice path
// cannot read.
template <bool Deinterlace, bool ChromaKey>
void ColorGradeVideoEach(const ShaderEnv& e, const ShaderVaryings& in, Float4* out) {
  const float t = e.c[0].r;
  for (int i = 0; i < in.count; ++i) {
    const float u = U0(in, i), v = V0(in, i);
    const float y = Deinterlace ? FieldLuma(e, u, v) : gfx::Tex2D(*e.s[0], u, v).r;
    const float cu = gfx::Tex2D(*e.s[1], u, v).r, cv = gfx::Tex2D(*e.s[2], u, v).r;
    const float px = cv * kVolumeScale + kVolumeOffset, py = cu * kVolumeScale + kVolumeOffset,
                pz = y * kVolumeScale + kVolumeOffset;
    Float4 r = Lerp(gfx::Tex3D(*e.s[3], px, py, pz), gfx::Tex3D(*e.s[4], px, py, pz), t);
    float alpha = in.v0[3][i];
    if constexpr (ChromaKey) {
      const float d = e.c[3].r, recipD = e.c[3].g;
      const float h = std::fabs((cu - e.c[4].r) + (cv - e.c[4].g)) * 0.5f;
      if (!(h - d >= 0.0f)) alpha *= (h * recipD) * (h * recipD);
    }
    r.a = alpha;
    out[i] = r;
  }
}

Float4 UnpackRgb(std::uint32_t p, const float* unit) {
  return {unit[p >> 16 & 255], unit[p >> 8 & 255], unit[p & 255], 0.0f};
}

// The device's packing of one channel: saturated, NaN as 0, x 255 rounded.
std::uint32_t ChannelByte(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 1.0f) return 255;
  return static_cast<std::uint32_t>(v * 255.0f + 0.5f);
}

// The same results a span at a time: the planes are read as bytes, and the
// volumes are indexed by those bytes through lattices made once per volume
// and thread. The second volume is skipped where the mix cannot move off
// the first (t 0, or the same volume with a finite t); then a packed colour
// is the volume's texel with the alpha, as its channels pack back to
// themselves. Writes colours to outF, or packed colours to outP when Packed.
template <bool Deinterlace, bool ChromaKey, bool Packed>
void VideoSpans(const ShaderEnv& e, const ShaderVaryings& in, Float4* outF, std::uint32_t* outP) {
  // On the heap: every thread would carry them in its static TLS otherwise.
  thread_local std::unique_ptr<gfx::VolumeLattice[]> made;
  if (!made) made = std::make_unique<gfx::VolumeLattice[]>(2);
  gfx::VolumeLattice* lattices = made.get();
  const gfx::SamplerView& s3 = *e.s[3];
  const gfx::SamplerView& s4 = *e.s[4];
  const float t = e.c[0].r;
  const bool sameVolume = s3.texture == s4.texture && s3.setup.addressU == s4.setup.addressU &&
                          s3.setup.addressV == s4.setup.addressV && s3.setup.addressW == s4.setup.addressW &&
                          s3.setup.magFilter == s4.setup.magFilter;
  const bool second = !(t == 0.0f || (sameVolume && std::isfinite(t)));
  const auto prepare = [&](const gfx::SamplerView& s, gfx::VolumeLattice& l) {
    return s.texture != nullptr && gfx::PrepareVolumeLattice(*s.texture, s.setup, kVolumeScale, kVolumeOffset, l);
  };
  constexpr int kChunk = gfx::kShaderSpan;
  if (!prepare(s3, lattices[0]) || (second && !prepare(s4, lattices[1]))) {
    if constexpr (!Packed) {
      ColorGradeVideoEach<Deinterlace, ChromaKey>(e, in, outF);
    } else {
      Float4 colours[kChunk];
      for (int at = 0; at < in.count; at += kChunk) {
        ShaderVaryings part = in;
        part.count = std::min(kChunk, in.count - at);
        for (auto& set : part.t)
          for (auto& p : set) p = p != nullptr ? p + at : nullptr;
        for (auto& p : part.v0) p = p != nullptr ? p + at : nullptr;
        ColorGradeVideoEach<Deinterlace, ChromaKey>(e, part, colours);
        gfx::PackShaderColours(colours, static_cast<std::size_t>(part.count), outP + at);
      }
    }
    return;
  }
  const float* unit = gfx::UnitChannels();
  std::uint8_t by[kChunk], bu[kChunk], bv[kChunk];
  std::uint32_t first[kChunk], other[kChunk];
  // Deinterlaced luma is a lerp of two field rows: the volumes' z taps come from its float.
  float fieldV0[kChunk], fieldV1[kChunk], fieldW[kChunk];
  std::uint8_t l0[kChunk], l1[kChunk];
  alignas(32) std::int32_t zo0[2][kChunk], zo1[2][kChunk];
  alignas(32) std::uint32_t zw[2][kChunk];
  for (int at = 0; at < in.count; at += kChunk) {
    const int n = std::min(kChunk, in.count - at);
    const auto count = static_cast<std::size_t>(n);
    const float* u = in.t[0][0] + at;
    const float* v = in.t[0][1] + at;
    gfx::Tex2DRedBytes(*e.s[1], u, v, count, bu);
    gfx::Tex2DRedBytes(*e.s[2], u, v, count, bv);
    gfx::VolumeZTaps taps[2] = {{zo0[0], zo1[0], zw[0]}, {zo0[1], zo1[1], zw[1]}};
    if constexpr (Deinterlace) {
      const float h = e.c[1].r, recipH = e.c[1].g, offX = e.c[2].r, offY = e.c[2].g;
      for (int i = 0; i < n; ++i) {
        const float line = v[i] * h + offY;
        const float k = std::floor(line * 0.5f);
        fieldV0[i] = (2.0f * k + 0.5f + offX) * recipH;
        fieldV1[i] = (2.0f * k + 2.5f + offX) * recipH;
        fieldW[i] = (line - (2.0f * k + 0.5f)) * 0.5f;
      }
      gfx::Tex2DRedBytes(*e.s[0], u, fieldV0, count, l0);
      gfx::Tex2DRedBytes(*e.s[0], u, fieldV1, count, l1);
      for (int i = 0; i < n; ++i) {
        const float a = unit[l0[i]], b = unit[l1[i]];
        const float y = a + fieldW[i] * (b - a);
        const float pz = y * kVolumeScale + kVolumeOffset;
        for (int m = 0; m < (second ? 2 : 1); ++m)
          gfx::VolumeAxisTaps(lattices[m], 2, pz, zo0[m][i], zo1[m][i], zw[m][i]);
      }
    } else {
      gfx::Tex2DRedBytes(*e.s[0], u, v, count, by);
    }
    gfx::SampleVolumeLattice(lattices[0], bv, bu, by, Deinterlace ? &taps[0] : nullptr, count, first);
    if (second) gfx::SampleVolumeLattice(lattices[1], bv, bu, by, Deinterlace ? &taps[1] : nullptr, count, other);
    const float* vertexAlpha = in.v0[3] + at;
    Float4 mixed[kChunk];  // packed all at once when the volumes are mixed
    for (int i = 0; i < n; ++i) {
      float alpha = vertexAlpha[i];
      if constexpr (ChromaKey) {
        const float cu = unit[bu[i]], cv = unit[bv[i]];
        const float d = e.c[3].r, recipD = e.c[3].g;
        const float hk = std::fabs((cu - e.c[4].r) + (cv - e.c[4].g)) * 0.5f;
        if (!(hk - d >= 0.0f)) alpha *= (hk * recipD) * (hk * recipD);
      }
      if (Packed && !second) {
        outP[at + i] = ChannelByte(alpha) << 24 | (first[i] & 0xFFFFFFu);
        continue;
      }
      Float4 r = UnpackRgb(first[i], unit);
      if (second) r = Lerp(r, UnpackRgb(other[i], unit), t);
      r.a = alpha;
      (Packed ? mixed[i] : outF[at + i]) = r;
    }
    if (Packed && second) gfx::PackShaderColours(mixed, count, outP + at);
  }
}

template <bool Deinterlace, bool ChromaKey>
void ColorGradeVideo(const ShaderEnv& e, const ShaderVaryings& in, Float4* out) {
  VideoSpans<Deinterlace, ChromaKey, false>(e, in, out, nullptr);
}
template <bool Deinterlace, bool ChromaKey>
void ColorGradeVideoPacked(const ShaderEnv& e, const ShaderVaryings& in, std::uint32_t* out) {
  VideoSpans<Deinterlace, ChromaKey, true>(e, in, nullptr, out);
}

void MotionBlur(const ShaderEnv& e, const ShaderVaryings& in, Float4* out) {
  const float t = e.c[0].r;
  for (int i = 0; i < in.count; ++i)
    out[i] = Lerp(gfx::Tex2D(*e.s[0], U0(in, i), V0(in, i)), gfx::Tex2D(*e.s[1], U0(in, i), V0(in, i)), t);
}

void Premul(const ShaderEnv& e, const ShaderVaryings& in, Float4* out) {
  for (int i = 0; i < in.count; ++i) {
    const Float4 p = Mul(gfx::Tex2D(*e.s[0], U0(in, i), V0(in, i)), gfx::Tex2D(*e.s[1], U1(in, i), V1(in, i)));
    Float4 r = DivRgb(p, p.a);
    r.a = p.a * in.v0[3][i];
    out[i] = r;
  }
}

void Premul2(const ShaderEnv& e, const ShaderVaryings& in, Float4* out) {
  for (int i = 0; i < in.count; ++i) {
    const Float4 s1 = gfx::Tex2D(*e.s[1], U1(in, i), V1(in, i));
    Float4 r = Mul(gfx::Tex2D(*e.s[0], U0(in, i), V0(in, i)), DivRgb(s1, s1.a));
    r.a *= in.v0[3][i];
    out[i] = r;
  }
}

void Premul3(const ShaderEnv& e, const ShaderVaryings& in, Float4* out) {
  for (int i = 0; i < in.count; ++i) {
    Float4 m = gfx::Tex2D(*e.s[0], U0(in, i), V0(in, i));
    const Float4 content = gfx::Tex2D(*e.s[1], U1(in, i), V1(in, i));
    const float g =
        (1.0f - std::fabs(m.r - m.g)) * (1.0f - std::fabs(m.g - m.b)) * (1.0f - std::fabs(m.b - m.r));
    // Coverage comes from the mask's own brightness, before grey turns white:
    // the mask target is cleared to black, which must hide the content.
    m.a = std::max({m.r, m.g, m.b});
    m.r += g * (1.0f - m.r);
    m.g += g * (1.0f - m.g);
    m.b += g * (1.0f - m.b);
    Float4 r = DivRgb(Mul(content, m), content.a);
    r.a *= in.v0[3][i];
    out[i] = r;
  }
}

// Seven taps weighted data1.x (±3), .y (±2), .z (±1), .w (0), stepping by
// data2.x across or data2.y down. Each tap is read for the whole span at
// once; every pixel still sums its taps in the same order, so the sums are
// those of one Tex2D per tap.
template <bool Vertical>
void GaussBlur7(const ShaderEnv& e, const ShaderVaryings& in, Float4* out) {
  const Float4 w = e.c[0];
  const float step = Vertical ? e.c[1].g : e.c[1].r;
  const float weights[7] = {w.r, w.g, w.b, w.a, w.b, w.g, w.r};
  constexpr int kChunk = gfx::kShaderSpan;
  float fixed[kChunk], moving[kChunk], r[kChunk], g[kChunk], b[kChunk], a[kChunk];
  std::uint32_t texels[kChunk];
  gfx::TexColumns columns;
  for (int first = 0; first < in.count; first += kChunk) {
    const int n = std::min(kChunk, in.count - first);
    const float* along = (Vertical ? in.t[0][1] : in.t[0][0]) + first;
    const float* across = (Vertical ? in.t[0][0] : in.t[0][1]) + first;
    for (int i = 0; i < n; ++i) {
      fixed[i] = Clamp01(across[i]);
      r[i] = g[i] = b[i] = a[i] = 0.0f;
    }
    // Down a span along a row every pixel keeps its column: found once for all taps.
    if (Vertical) gfx::PrepareTexColumns(*e.s[0], fixed, static_cast<std::size_t>(n), columns);
    for (int k = -3; k <= 3; ++k) {
      const float o = static_cast<float>(k) * step;
      for (int i = 0; i < n; ++i) moving[i] = Clamp01(along[i] + o);
      std::uint32_t differ = 0;
      for (int i = 0; i < n; ++i) differ |= std::bit_cast<std::uint32_t>(moving[i]) ^ std::bit_cast<std::uint32_t>(moving[0]);
      if (Vertical && differ == 0)
        gfx::Tex2DPackedAtV(*e.s[0], columns, moving[0], texels);
      else if (Vertical)
        gfx::Tex2DPacked(*e.s[0], fixed, moving, static_cast<std::size_t>(n), texels);
      else
        gfx::Tex2DPacked(*e.s[0], moving, fixed, static_cast<std::size_t>(n), texels);
      gfx::AccumulateTexels(texels, static_cast<std::size_t>(n), weights[k + 3], r, g, b, a);
    }
    for (int i = 0; i < n; ++i) out[first + i] = Float4{r[i], g[i], b[i], a[i]};
  }
}

void GaussMix(const ShaderEnv& e, const ShaderVaryings& in, Float4* out) {
  const float alpha = e.c[0].r;
  for (int i = 0; i < in.count; ++i)
    out[i] = Lerp(gfx::Tex2D(*e.s[0], U0(in, i), V0(in, i)), gfx::Tex2D(*e.s[1], U1(in, i), V1(in, i)), alpha);
}

// ---- the table ---------------------------------------------------------------------

constexpr SamplerType k2D = SamplerType::Texture2D;
constexpr SamplerType k3D = SamplerType::Volume;

std::vector<gfx::SamplerDecl> VideoSamplers() {
  return {{0, k2D, "Y"}, {1, k2D, "U"}, {2, k2D, "V"}, {3, k3D, "table1"}, {4, k3D, "table2"}};
}

const std::array<gfx::ShaderInfo, kShaderCount>& Table() {
  static const std::array<gfx::ShaderInfo, kShaderCount> table = {{
      {"unsharp", {{0, k2D, "samp"}}, {{0, 1, "invsize"}, {1, 1, "Threshold"}, {2, 1, "amount"}}, &Unsharp},
      {"videomask", {{0, k2D, "Y"}}, {{0, 1, "invert"}}, &VideoMask},
      {"color_grading",
       {{0, k2D, "image"}, {1, k3D, "table1"}, {2, k3D, "table2"}},
       {{0, 1, "t"}},
       &ColorGrading},
      {"color_grade_linear",
       {{0, k2D, "image"}, {1, k2D, "curve1"}, {2, k2D, "curve2"}},
       {{0, 1, "t"}},
       &ColorGradeLinear},
      {"color_grade_video", VideoSamplers(), {{0, 1, "t"}}, &ColorGradeVideo<false, false>},
      {"color_grade_deinter",
       VideoSamplers(),
       {{0, 1, "t"}, {1, 1, "srcsizey"}, {2, 1, "offsy"}},
       &ColorGradeVideo<true, false>},
      {"color_grade_chromakey",
       VideoSamplers(),
       {{0, 1, "t"}, {3, 1, "deltas"}, {4, 1, "chromakey"}},
       &ColorGradeVideo<false, true>},
      {"color_grade_chroma_deinter",
       VideoSamplers(),
       {{0, 1, "t"}, {1, 1, "srcsizey"}, {2, 1, "offsy"}, {3, 1, "deltas"}, {4, 1, "chromakey"}},
       &ColorGradeVideo<true, true>},
      {"motion_blur", {{0, k2D, "current"}, {1, k2D, "trail"}}, {{0, 1, "t"}}, &MotionBlur},
      {"premul", {{0, k2D, "tex0"}, {1, k2D, "tex1"}}, {}, &Premul},
      {"premul2", {{0, k2D, "tex0"}, {1, k2D, "tex1"}}, {}, &Premul2},
      {"premul3", {{0, k2D, "mask"}, {1, k2D, "content"}}, {}, &Premul3},
      {"gauss_blur_h7", {{0, k2D, "samp"}}, {{0, 1, "data1"}, {1, 1, "data2"}}, &GaussBlur7<false>},
      {"gauss_blur_v7", {{0, k2D, "samp"}}, {{0, 1, "data1"}, {1, 1, "data2"}}, &GaussBlur7<true>},
      {"gauss_mix", {{0, k2D, "Big"}, {1, k2D, "Small"}}, {{0, 1, "alpha"}}, &GaussMix},
  }};
  return table;
}

std::int32_t IndexOf(std::string_view name) {
  const auto& t = Table();
  for (std::int32_t i = 0; i < kShaderCount; ++i)
    if (t[static_cast<std::size_t>(i)].name == name) return i;
  return -1;
}

// The stored codes, built once after registration.
struct TCodes {
  bool registered = false;
  std::array<zm::TByteString, kShaderCount> code;
};

const TCodes& Codes() {
  static const TCodes codes = [] {
    TCodes c;
    c.registered = true;
    for (const gfx::ShaderInfo& info : Table()) c.registered = gfx::RegisterPixelShader(info) && c.registered;
    const std::pair<const char*, gfx::PackedPixelShaderFn> packed[] = {
        {"color_grade_video", &ColorGradeVideoPacked<false, false>},
        {"color_grade_deinter", &ColorGradeVideoPacked<true, false>},
        {"color_grade_chromakey", &ColorGradeVideoPacked<false, true>},
        {"color_grade_chroma_deinter", &ColorGradeVideoPacked<true, true>}};
    for (const auto& [name, fn] : packed) c.registered = gfx::RegisterPackedPixelShader(name, fn) && c.registered;
    for (std::size_t i = 0; i < Table().size(); ++i) {
      const std::vector<std::uint8_t> d = gfx::EncodeShaderDescriptor(gfx::ShaderKind::Pixel, Table()[i]);
      std::vector<std::uint8_t> bytes(4);
      const auto n = static_cast<std::uint32_t>(d.size());
      for (std::size_t b = 0; b < 4; ++b) bytes[b] = static_cast<std::uint8_t>(n >> (8 * b));
      bytes.insert(bytes.end(), d.begin(), d.end());
      c.code[i] = zm::TByteString(bytes.data(), bytes.size());
    }
    return c;
  }();
  return codes;
}

void InitShaders() { RegisterShaders(); }
void FiniShaders() {}  // the device's registry keeps its entries for the process

const zm::TModule kEngine3DModules[] = {
    {"OruShaders", &InitShaders, &FiniShaders},
    {"ShapeFilters", &InitShapeFilters, &FiniShapeFilters},
    {"BroomFilters", &InitBroomFilters, &FiniBroomFilters},
    {"RollFilter", &InitRollFilters, &FiniRollFilters},
    {"PerspectiveFilters", &InitPerspectiveFilters, &FiniPerspectiveFilters},
};

}  // namespace

std::string_view ShaderName(std::int32_t index) {
  if (index < 0 || index >= kShaderCount) return {};
  return Table()[static_cast<std::size_t>(index)].name;
}

bool RegisterShaders() { return Codes().registered; }

zm::TByteString GetShaderCode(std::int32_t index) {
  if (index < 0 || index >= kShaderCount) return {};
  return Codes().code[static_cast<std::size_t>(index)];
}

zm::TByteString GetShaderCode(std::string_view name) { return GetShaderCode(IndexOf(name)); }

std::span<const zm::TModule> Engine3DModules() { return kEngine3DModules; }

}  // namespace oru
