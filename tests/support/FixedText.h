#pragma once
// A text element of fixed-width characters for layout tests: every
// character 6 pixels wide, Ascent + Descent high, nothing shaped.
#include <cstdint>
#include <string>

#include "ZmLib/VectorGraphics/zmTextElement.h"

namespace zmtest {

class TFixedText : public zm::TTextElement {
public:
  TFixedText(const zm::TFontParams& f, const std::u16string& text, std::int32_t ascent = 8, std::int32_t descent = 2)
      : TTextElement(f, 0), Text(text), ascent_(ascent), descent_(descent) {
    SetTextLength(std::int32_t(text.size()));
  }
  zm::TTextMetricsRec GetMetrics() override { return {ascent_, descent_, ascent_ + descent_, 0, 0, 6}; }
  zm::TCharBounds GetCharBounds(std::int32_t i) override { return {(i - 1) * 6, i * 6}; }
  bool IsClusterContinuation(std::int32_t) override { return false; }
  std::int32_t GetUnderlineSize() override { return 1; }
  std::int32_t GetUnderlinePos() override { return 1; }
  std::int32_t MeasureRange(std::int32_t, std::int32_t count) override { return 6 * count; }
  zm::TTextOverhangs GetOverhangs() override { return {0, 6 * Length(), 0, 6 * Length()}; }
  zm::TRef<zm::TTextElement> Clone() override {
    return zm::MakeRef<TFixedText>(FontParams(), Text, ascent_, descent_);
  }
  std::u16string Text;

private:
  std::int32_t ascent_, descent_;
};

// The maker a caption-text hook takes: FixedText<> is 10 high.
template <std::int32_t Ascent = 8, std::int32_t Descent = 2>
zm::TRef<zm::TTextElement> FixedText(const zm::TFontParams& f, const std::u16string& t) {
  return zm::MakeRef<TFixedText>(f, t, Ascent, Descent);
}

}  // namespace zmtest
