#include "ZmLib/Graphics/zmGeneratorCallbacks.h"

namespace zm {

namespace {

struct TKindPrefix {
  TGeneratedImageKind Kind;
  const char16_t* Prefix;
};

constexpr TKindPrefix kKindPrefixes[] = {
    {TGeneratedImageKind::Button, u"Button: "},
    {TGeneratedImageKind::Shadow, u"Shadow: "},
    {TGeneratedImageKind::Text, u"Text: "},
    {TGeneratedImageKind::Mask, u"Mask: "},
    {TGeneratedImageKind::PresetMask, u"PresetedMask:"},
    {TGeneratedImageKind::SlideEffectBuffer, u"SlideEffectBuffer:"},
    {TGeneratedImageKind::EffectResource, u"EffectResource:"},
    {TGeneratedImageKind::TextWithSize, u"TextWithSize:"},
};

}  // namespace

TResolveGeneratedImageProc ResolveGeneratedImageHook;

TGeneratedImageKind GeneratedImageKind(const WideString& name) {
  for (const auto& k : kKindPrefixes)
    if (WideStringView(name).starts_with(k.Prefix)) return k.Kind;
  return TGeneratedImageKind::None;
}

WideString GeneratedImageKindPrefix(TGeneratedImageKind kind) {
  for (const auto& k : kKindPrefixes)
    if (k.Kind == kind) return k.Prefix;
  return {};
}

TRef<TImage> ResolveGeneratedImage(const WideString& name) {
  if (!ResolveGeneratedImageHook || GeneratedImageKind(name) == TGeneratedImageKind::None) return nullptr;
  try {
    return ResolveGeneratedImageHook(name);
  } catch (const std::exception&) {
    return nullptr;
  }
}

}  // namespace zm
