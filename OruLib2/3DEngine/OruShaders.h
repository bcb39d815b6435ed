#pragma once
// The drawer's fifteen pixel shaders. They run as C++ functions on the
// software device; the code the drawer hands to the renderer is a 32-bit
// little-endian byte count followed by a descriptor naming the function and
// declaring its samplers and constants.
#include <cstdint>
#include <span>
#include <string_view>

#include "ZmLib/zmByteString.h"
#include "ZmLib/zmModules.h"

namespace oru {

constexpr std::int32_t kShaderCount = 15;

// In the order of the drawer's shader table.
enum TShaderIndex : std::int32_t {
  shUnsharp,
  shVideoMask,
  shColorGrading,
  shColorGradeLinear,
  shColorGradeVideo,
  shColorGradeDeinter,
  shColorGradeChromaKey,
  shColorGradeChromaDeinter,
  shMotionBlur,
  shPremul,
  shPremul2,
  shPremul3,
  shGaussBlurH7,
  shGaussBlurV7,
  shGaussMix,
};

// The name of shader `index`; empty outside 0..kShaderCount-1.
std::string_view ShaderName(std::int32_t index);

// Registers the fifteen functions with the device's shader registry. Safe to
// call any number of times and from several threads; false only when a name
// is already taken by a different shader.
bool RegisterShaders();

// The stored code of a shader (count + descriptor); empty for a name or
// index that is not one of the fifteen. Registers the shaders first.
zm::TByteString GetShaderCode(std::string_view name);
zm::TByteString GetShaderCode(std::int32_t index);

std::span<const zm::TModule> Engine3DModules();

}  // namespace oru
