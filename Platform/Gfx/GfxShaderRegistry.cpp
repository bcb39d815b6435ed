// The registry of C++ pixel shaders, their descriptors, and the sampler
// access the shaders use.
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include "Platform/Gfx/GfxShaderAbi.h"

namespace plat::gfx {
namespace {

constexpr std::uint8_t kMagic[4] = {'Z', 'P', 'S', '2'};
constexpr std::uint8_t kModel = 0x20;
constexpr std::size_t kMaxNameBytes = 255;

struct Registry {
  std::mutex mutex;
  // Entries are never removed, so the pointers handed out stay valid.
  std::map<std::string, std::unique_ptr<ShaderInfo>, std::less<>> shaders;
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

std::uint32_t PackShaderColour(const Float4& c) {
  return ToByte(c.a) << 24 | ToByte(c.r) << 16 | ToByte(c.g) << 8 | ToByte(c.b);
}

}  // namespace plat::gfx
