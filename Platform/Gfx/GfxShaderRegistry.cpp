// The registry of C++ pixel shaders, their descriptors, and the sampler
// access the shaders use.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "Platform/Gfx/GfxShaderAbi.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace plat::gfx {
namespace {

constexpr std::uint8_t kMagic[4] = {'Z', 'P', 'S', '2'};
constexpr std::uint8_t kModel = 0x20;
constexpr std::size_t kMaxNameBytes = 255;

struct Registry {
  std::mutex mutex;
  // Entries are never removed, so the pointers handed out stay valid.
  std::map<std::string, std::unique_ptr<ShaderInfo>, std::less<>> shaders;
  std::map<const ShaderInfo*, PackedPixelShaderFn> packed;
};

Registry& TheRegistry() {
  static Registry* r = new Registry;  // outlives every static that may draw
  return *r;
}

bool DeclarationValid(const std::string& name, const std::vector<SamplerDecl>& samplers,
                      const std::vector<ConstantDecl>& constants) {
  if (name.empty() || name.size() > 0xFFFF || samplers.size() > kMaxSamplers || constants.size() > 255) return false;
  for (const SamplerDecl& s : samplers)
    if (s.reg >= kMaxSamplers || (s.type != SamplerType::Texture2D && s.type != SamplerType::Volume) ||
        s.name.size() > kMaxNameBytes)
      return false;
  for (const ConstantDecl& c : constants)
    if (c.count == 0 || std::uint32_t{c.reg} + c.count > kMaxShaderConstants || c.name.size() > kMaxNameBytes)
      return false;
  return true;
}

class Reader {
public:
  explicit Reader(std::span<const std::uint8_t> d) : d_(d) {}
  bool U8(std::uint8_t& v) {
    if (pos_ + 1 > d_.size()) return false;
    v = d_[pos_++];
    return true;
  }
  bool U16(std::uint16_t& v) {
    if (pos_ + 2 > d_.size()) return false;
    v = static_cast<std::uint16_t>(d_[pos_] | d_[pos_ + 1] << 8);
    pos_ += 2;
    return true;
  }
  bool Text(std::size_t n, std::string& s) {
    if (n > d_.size() - pos_) return false;
    s.assign(reinterpret_cast<const char*>(d_.data() + pos_), n);
    pos_ += n;
    return true;
  }
  bool AtEnd() const { return pos_ == d_.size(); }

private:
  std::span<const std::uint8_t> d_;
  std::size_t pos_ = 0;
};

Float4 Unpack(std::uint32_t argb) {
  return Float4{static_cast<float>(argb >> 16 & 255) / 255.0f, static_cast<float>(argb >> 8 & 255) / 255.0f,
                static_cast<float>(argb & 255) / 255.0f, static_cast<float>(argb >> 24) / 255.0f};
}

std::uint32_t ToByte(float v) {
  if (!(v > 0.0f)) return 0;  // NaN too
  if (v >= 1.0f) return 255;
  return static_cast<std::uint32_t>(v * 255.0f + 0.5f);
}

}  // namespace

bool RegisterPixelShader(const ShaderInfo& info) {
  if (info.fn == nullptr || !DeclarationValid(info.name, info.samplers, info.constants)) return false;
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.shaders.find(info.name);
  if (it != r.shaders.end()) {
    const ShaderInfo& old = *it->second;
    return old.fn == info.fn && old.samplers == info.samplers && old.constants == info.constants;
  }
  r.shaders.emplace(info.name, std::make_unique<ShaderInfo>(info));
  return true;
}

const ShaderInfo* FindPixelShader(std::string_view name) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.shaders.find(name);
  return it == r.shaders.end() ? nullptr : it->second.get();
}

bool RegisterPackedPixelShader(std::string_view name, PackedPixelShaderFn fn) {
  if (fn == nullptr) return false;
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.shaders.find(name);
  if (it == r.shaders.end()) return false;
  const auto [at, added] = r.packed.emplace(it->second.get(), fn);
  return added || at->second == fn;
}

PackedPixelShaderFn FindPackedPixelShader(const ShaderInfo* shader) {
  if (shader == nullptr) return nullptr;
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.packed.find(shader);
  return it == r.packed.end() ? nullptr : it->second;
}

std::vector<std::uint8_t> EncodeShaderDescriptor(ShaderKind kind, const ShaderInfo& info) {
  if (!DeclarationValid(info.name, info.samplers, info.constants)) return {};
  std::vector<std::uint8_t> out(kMagic, kMagic + 4);
  const auto text = [&](const std::string& s) { out.insert(out.end(), s.begin(), s.end()); };
  out.push_back(static_cast<std::uint8_t>(kind));
  out.push_back(kModel);
  out.push_back(0);
  out.push_back(0);
  out.push_back(static_cast<std::uint8_t>(info.name.size() & 255));
  out.push_back(static_cast<std::uint8_t>(info.name.size() >> 8));
  text(info.name);
  out.push_back(static_cast<std::uint8_t>(info.samplers.size()));
  for (const SamplerDecl& s : info.samplers) {
    out.push_back(s.reg);
    out.push_back(static_cast<std::uint8_t>(s.type));
    out.push_back(static_cast<std::uint8_t>(s.name.size()));
    text(s.name);
  }
  out.push_back(static_cast<std::uint8_t>(info.constants.size()));
  for (const ConstantDecl& c : info.constants) {
    out.push_back(c.reg);
    out.push_back(c.count);
    out.push_back(static_cast<std::uint8_t>(c.name.size()));
    text(c.name);
  }
  return out;
}

std::vector<std::uint8_t> PixelShaderDescriptor(std::string_view name) {
  const ShaderInfo* info = FindPixelShader(name);
  return info ? EncodeShaderDescriptor(ShaderKind::Pixel, *info) : std::vector<std::uint8_t>{};
}

bool DecodeShaderDescriptor(std::span<const std::uint8_t> code, ShaderDescriptor& out) {
  out = ShaderDescriptor{};
  Reader r(code);
  std::uint8_t magic[4], kind, model, count;
  std::uint16_t reserved, nameLen;
  for (auto& m : magic)
    if (!r.U8(m)) return false;
  if (!std::equal(magic, magic + 4, kMagic)) return false;
  if (!r.U8(kind) || !r.U8(model) || !r.U16(reserved) || model != kModel || reserved != 0) return false;
  if (kind != static_cast<std::uint8_t>(ShaderKind::Pixel) && kind != static_cast<std::uint8_t>(ShaderKind::Vertex))
    return false;
  out.kind = static_cast<ShaderKind>(kind);
  if (!r.U16(nameLen) || !r.Text(nameLen, out.name)) return false;
  if (!r.U8(count)) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    SamplerDecl s;
    std::uint8_t type, len;
    if (!r.U8(s.reg) || !r.U8(type) || !r.U8(len) || !r.Text(len, s.name)) return false;
    s.type = static_cast<SamplerType>(type);
    out.samplers.push_back(std::move(s));
  }
  if (!r.U8(count)) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    ConstantDecl c;
    std::uint8_t len;
    if (!r.U8(c.reg) || !r.U8(c.count) || !r.U8(len) || !r.Text(len, c.name)) return false;
    out.constants.push_back(std::move(c));
  }
  return r.AtEnd() && DeclarationValid(out.name, out.samplers, out.constants);
}

Float4 Tex2D(const SamplerView& s, float u, float v) {
  if (s.texture == nullptr || s.texture->kind != TTextureKind::Texture2D || s.texture->levelCount == 0)
    return Float4{0, 0, 0, 1};
  // Shaders get no derivatives: the level of detail is 0 plus the bias.
  return Unpack(Sample2D(*s.texture, s.setup, u, v, 0.0f));
}

Float4 Tex3D(const SamplerView& s, float u, float v, float w) {
  if (s.texture == nullptr || s.texture->kind != TTextureKind::Volume) return Float4{0, 0, 0, 1};
  return Unpack(SampleVolume(*s.texture, s.setup, u, v, w));
}

void Tex2DPacked(const SamplerView& s, const float* u, const float* v, std::size_t n, std::uint32_t* out) {
  if (s.texture == nullptr || s.texture->kind != TTextureKind::Texture2D || s.texture->levelCount == 0) {
    for (std::size_t i = 0; i < n; ++i) out[i] = 0xFF000000u;
    return;
  }
  Sample2DSpan(*s.texture, s.setup, u, v, n, out);
}

void Tex2DRedBytes(const SamplerView& s, const float* u, const float* v, std::size_t n, std::uint8_t* out) {
  if (s.texture == nullptr) {
    std::fill_n(out, n, std::uint8_t{0});
    return;
  }
  if (n > kShaderSpan) {
    for (std::size_t first = 0; first < n; first += kShaderSpan)
      Tex2DRedBytes(s, u + first, v + first, std::min<std::size_t>(kShaderSpan, n - first), out + first);
    return;
  }
  // Columns by the span's first u and the plane's width: the spans of a row
  // and of the planes (Y, U, V) come back row after row.
  constexpr std::size_t kSets = 128;
  thread_local std::unique_ptr<ChannelColumns[]> columns;
  if (!columns) columns = std::make_unique<ChannelColumns[]>(kSets);
  const TTextureView& tex = *s.texture;
  const std::uint32_t width = tex.kind == TTextureKind::Texture2D && tex.levelCount > 0 ? tex.levels[0].width : 0;
  const std::uint32_t key = n > 0 ? std::bit_cast<std::uint32_t>(u[0]) * 0x9E3779B1u ^ width * 0x85EBCA6Bu : 0;
  ChannelColumns& pick = columns[(key >> 16) % kSets];
  Sample2DChannelSpan(*s.texture, s.setup, u, v, n, 16, out, pick);
}

void PrepareTexColumns(const SamplerView& s, const float* u, std::size_t n, TexColumns& c) {
  c.count = n < kShaderSpan ? n : kShaderSpan;
  c.keptRow = -1;
  std::copy_n(u, c.count, c.u);
  bool linear = false;
  std::uint32_t fill = 0;
  const TSurfaceView* l = s.texture != nullptr ? VectorLevel(*s.texture, s.setup, linear, fill) : nullptr;
  c.direct = l != nullptr;
  if (!c.direct) return;
  c.level = *l;
  c.addressU = s.setup.addressU;
  c.linear = linear;
  SnapColumns(*l, s.setup, linear, u, c.count, c.i0, c.i1, c.w);
}

void Tex2DPackedAtV(const SamplerView& s, TexColumns& c, float v, std::uint32_t* out) {
  bool linear = false;
  std::uint32_t fill = 0;
  const TSurfaceView* l = c.direct && s.texture != nullptr ? VectorLevel(*s.texture, s.setup, linear, fill) : nullptr;
  // Columns made for another texture or sampler would read the wrong texels, or past the row.
  if (l != nullptr && (l->bits != c.level.bits || l->pitch != c.level.pitch || l->width != c.level.width ||
                       l->height != c.level.height || l->format != c.level.format ||
                       s.setup.addressU != c.addressU || linear != c.linear))
    l = nullptr;
  if (l == nullptr) {
    float vs[kShaderSpan];
    std::fill_n(vs, c.count, v);
    Tex2DPacked(s, c.u, vs, c.count, out);
    return;
  }
  std::int64_t y0, y1;
  std::uint32_t wy;
  SnapRow(*l, s.setup, linear, v, y0, y1, wy);
  // The rows SampleLevel lerps; a row read last time is kept.
  const auto row = [&](std::int64_t y, std::uint32_t* scratch) -> const std::uint32_t* {
    if (y == c.keptRow) return c.kept;
    FilterRowColumns(*l, linear, fill, y, c.i0, c.i1, c.w, c.count, scratch);
    return scratch;
  };
  const std::uint32_t* top = row(y0, c.top);
  const std::uint32_t* keep = top;
  std::int64_t keepRow = y0;
  if (wy == 0) {  // a zero weight gives the top row exactly
    std::copy_n(top, c.count, out);
  } else {
    const std::uint32_t* bottom = row(y1, c.bottom);
    LerpRows(top, bottom, wy, c.count, out);
    keep = bottom;
    keepRow = y1;
  }
  if (keep != c.kept) std::copy_n(keep, c.count, c.kept);
  c.keptRow = keepRow;
}

const float* UnitChannels() {
  static const auto table = [] {
    std::array<float, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) t[i] = static_cast<float>(i) / 255.0f;
    return t;
  }();
  return table.data();
}

namespace {

#if defined(__SSE2__)
// The channel values b / 255.0f, as UnitChannels holds them, times the weight.
__attribute__((target("avx2"))) inline __m256 ChannelTimes(__m256i t, int shift, __m256 weight) {
  const __m256i byte = _mm256_and_si256(_mm256_srli_epi32(t, shift), _mm256_set1_epi32(255));
  return _mm256_mul_ps(_mm256_div_ps(_mm256_cvtepi32_ps(byte), _mm256_set1_ps(255.0f)), weight);
}

__attribute__((target("avx2"))) std::size_t AccumulateAvx2(const std::uint32_t* texels, std::size_t n, float weight,
                                                           float* r, float* g, float* b, float* a) {
  const __m256 w = _mm256_set1_ps(weight);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(texels + i));
    _mm256_storeu_ps(r + i, _mm256_add_ps(_mm256_loadu_ps(r + i), ChannelTimes(t, 16, w)));
    _mm256_storeu_ps(g + i, _mm256_add_ps(_mm256_loadu_ps(g + i), ChannelTimes(t, 8, w)));
    _mm256_storeu_ps(b + i, _mm256_add_ps(_mm256_loadu_ps(b + i), ChannelTimes(t, 0, w)));
    _mm256_storeu_ps(a + i, _mm256_add_ps(_mm256_loadu_ps(a + i), ChannelTimes(t, 24, w)));
  }
  return i;
}

bool HasAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}
#endif

}  // namespace

void AccumulateTexels(const std::uint32_t* texels, std::size_t n, float weight, float* r, float* g, float* b,
                      float* a) {
  std::size_t i = 0;
#if defined(__SSE2__)
  if (HasAvx2()) i = AccumulateAvx2(texels, n, weight, r, g, b, a);
#endif
  const float* unit = UnitChannels();
  for (; i < n; ++i) {
    const std::uint32_t t = texels[i];
    r[i] = r[i] + unit[t >> 16 & 255] * weight;
    g[i] = g[i] + unit[t >> 8 & 255] * weight;
    b[i] = b[i] + unit[t & 255] * weight;
    a[i] = a[i] + unit[t >> 24] * weight;
  }
}

std::uint32_t PackShaderColour(const Float4& c) {
  return ToByte(c.a) << 24 | ToByte(c.r) << 16 | ToByte(c.g) << 8 | ToByte(c.b);
}

void PackShaderColours(const Float4* in, std::size_t n, std::uint32_t* out) {
  static_assert(sizeof(Float4) == 16);
  std::size_t i = 0;
#if defined(__SSE2__)
  // ToByte on four channels: the rounded product inside (0, 1), else 0 or 255.
  const auto pack = [](const Float4& c) {
    const __m128 v = _mm_shuffle_ps(_mm_loadu_ps(&c.r), _mm_loadu_ps(&c.r), _MM_SHUFFLE(3, 0, 1, 2));  // b g r a
    const __m128i x = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, _mm_set1_ps(255.0f)), _mm_set1_ps(0.5f)));
    const __m128i inside = _mm_castps_si128(_mm_cmpgt_ps(v, _mm_setzero_ps()));
    const __m128i full = _mm_castps_si128(_mm_cmpge_ps(v, _mm_set1_ps(1.0f)));
    return _mm_or_si128(_mm_andnot_si128(full, _mm_and_si128(inside, x)), _mm_and_si128(full, _mm_set1_epi32(255)));
  };
  for (; i + 4 <= n; i += 4) {
    const __m128i lo = _mm_packs_epi32(pack(in[i]), pack(in[i + 1]));
    const __m128i hi = _mm_packs_epi32(pack(in[i + 2]), pack(in[i + 3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(lo, hi));
  }
#endif
  for (; i < n; ++i) out[i] = PackShaderColour(in[i]);
}

}  // namespace plat::gfx
