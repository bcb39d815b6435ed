#pragma once
// A vectorizer made for the tests: every character is a glyph whose outline
// is its black box (a blank has none). Widths: 'i' is 4 pixels, a blank 6,
// every other character 10; the black box leaves 1 pixel on each side. The
// font has ascent 8 and descent 2 at any size; glyph boxes reach from the
// base line up to the ascent ('g' reaches 2 below and 'T' 3 above it).
#include <atomic>

#include "ZmLib/VectorGraphics/zmTextKeys.h"
#include "ZmLib/VectorGraphics/zmVectorText.h"
#include "ZmLib/zmHookScope.h"

namespace zmtest {

inline std::int32_t FakeCharWidth(char16_t c) { return c == u'i' ? 4 : c == u' ' ? 6 : 10; }

class TFakeTextElement : public zm::TTextElementEx {
public:
  TFakeTextElement(const zm::TFontParams& font, const zm::WideString& text) : TTextElementEx(font, 0), Text(text) {
    SetTextLength(std::int32_t(text.size()));
  }

  zm::TTextMetricsRec GetMetrics() override { return {8, 2, 10, 0, 0, 7}; }
  zm::TCharBounds GetCharBounds(std::int32_t index) override {
    return {Measure(1, index - 1), Measure(1, index)};
  }
  bool IsClusterContinuation(std::int32_t) override { return false; }
  std::int32_t GetUnderlineSize() override { return 1; }
  std::int32_t GetUnderlinePos() override { return -3; }
  std::int32_t MeasureRange(std::int32_t start, std::int32_t count) override {
    ++MeasureCalls;
    return Measure(start, count);
  }
  zm::TTextOverhangs GetOverhangs() override {
    const std::int32_t w = Measure(1, Length());
    return Text.empty() ? zm::TTextOverhangs{} : zm::TTextOverhangs{1, w - 2, 1, w};
  }
  zm::TRef<zm::TTextElement> Clone() override { return zm::MakeRef<TFakeTextElement>(FontParams(), Text); }
  std::int32_t GetPartCount() override { return std::int32_t(Text.size()); }
  bool GetPart(std::int32_t index, zm::TTextPart& part) override {
    if (index < 0 || index >= GetPartCount()) return false;
    const char16_t c = Text[std::size_t(index)];
    part.FontKey = FontParams().Name + u":" + zm::StyleToText(FontParams().Style);
    part.GlyphIndex = c;
    part.Size = std::int32_t(FontParams().Size);
    part.Advance = FakeCharWidth(c);
    part.A = 1;
    part.B = part.Advance - 2;
    part.C = 1;
    part.Ascent = c == u'T' ? 11 : 8;
    part.Descent = c == u'g' ? 4 : 2;
    part.Height = part.Ascent + part.Descent;
    part.X = Measure(1, index);
    return true;
  }

  std::int32_t Measure(std::int32_t start, std::int32_t count) const {
    std::int32_t w = 0;
    for (std::int32_t i = start; i < start + count && i <= std::int32_t(Text.size()); ++i)
      if (i >= 1) w += FakeCharWidth(Text[std::size_t(i - 1)]);
    return w;
  }

  zm::WideString Text;
  std::int32_t MeasureCalls = 0;
};

class TFakeVectorizer : public zm::TVectorizer {
public:
  zm::TRef<zm::TTextElementEx> CreateTextElement(const zm::TFontParams& font, const zm::WideString& text) override {
    return zm::MakeRef<TFakeTextElement>(font, text);
  }
  void VectorizePart(const zm::TTextPart& part, zm::TPathPoints& sink) override {
    ++Parts;
    if (part.GlyphIndex == u' ') return;
    const float top = part.GlyphIndex == u'T' ? -11.0f : -8.0f;
    const float bottom = part.GlyphIndex == u'g' ? 2.0f : 0.0f;
    zm::RectToPathPoints({float(part.A), top, float(part.A + part.B), bottom}, sink);
  }
  void GetFontMetrics(const zm::TFontParams&, zm::TFontMetrics& m) override {
    m = {8, 2, -1, 1, 3, 1};
  }
  bool IsOutlineFont(const zm::TFontParams&) override { return true; }

  static inline std::atomic<int> Parts{0};
};

inline zm::TRef<zm::TVectorizer> CreateFakeVectorizer() { return zm::MakeRef<TFakeVectorizer>(); }

// Installs the fake vectorizer for a scope, restoring the previous hook.
struct TFakeVectorizerScope {
  zm::THookScope<zm::TCreateVectorizerProc> Vectorizer{zm::CreateVectorizerHook, &CreateFakeVectorizer};
};

}  // namespace zmtest
