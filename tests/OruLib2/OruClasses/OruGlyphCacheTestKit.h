#pragma once
// A counting vectoriser over the tests' fake one (every glyph's outline is
// its black box; see FakeVectorizer.h), installed for a scope with a fresh
// glyph-cache context, so that each test starts from an empty cache.
#include <atomic>
#include <mutex>
#include <string>

#include "OruLib2/OruClasses/OruGlyphCache.h"
#include "ZmLib/zmHookScope.h"
#include "tests/ZmLib/VectorGraphics/FakeVectorizer.h"

namespace oru_test {

// "Bitmap Font" has no outlines; glyphs made and the last font laid out
// are counted.
class TCountingVectorizer : public zmtest::TFakeVectorizer {
public:
  zm::TRef<zm::TTextElementEx> CreateTextElement(const zm::TFontParams& font, const zm::WideString& text) override {
    ++Elements;
    {
      std::lock_guard<std::mutex> g(NameLock());
      LastFont() = font.Name;
    }
    return TFakeVectorizer::CreateTextElement(font, text);
  }
  void VectorizePart(const zm::TTextPart& part, zm::TPathPoints& sink) override {
    ++Made;
    TFakeVectorizer::VectorizePart(part, sink);
  }
  bool IsOutlineFont(const zm::TFontParams& font) override { return font.Name != u"Bitmap Font"; }

  static inline std::atomic<int> Made{0};
  static inline std::atomic<int> Elements{0};
  static zm::WideString LastFontName() {
    std::lock_guard<std::mutex> g(NameLock());
    return LastFont();
  }

private:
  static std::mutex& NameLock() {
    static std::mutex m;
    return m;
  }
  static zm::WideString& LastFont() {
    static zm::WideString name;
    return name;
  }
};

inline zm::TRef<zm::TVectorizer> CreateCountingVectorizer() { return zm::MakeRef<TCountingVectorizer>(); }

struct TGlyphTestScope {
  zm::THookScope<zm::TCreateVectorizerProc> Vectorizer{zm::CreateVectorizerHook};
  explicit TGlyphTestScope(bool withVectorizer = true) {
    static std::atomic<int> serial{0};
    const std::string context = "glyph-test-" + std::to_string(++serial);
    oru::FontCache()->SetContext(zm::WideString(context.begin(), context.end()));
    Vectorizer.Set(withVectorizer ? &CreateCountingVectorizer : &zm::DefCreateVectorizer);
    TCountingVectorizer::Made = 0;
    TCountingVectorizer::Elements = 0;
  }
};

inline zm::TRef<zm::TStringList> LinesOf(std::initializer_list<const char16_t*> lines) {
  zm::TRef<zm::TStringList> l = zm::MakeRef<zm::TStringList>();
  for (const char16_t* s : lines) l->Add(s);
  return l;
}

inline zm::TFontParams TestFont(const char16_t* name = u"Arial", std::uint8_t style = 0, float size = 32) {
  return zm::MakeFontParams(name, style, true, size, {}, {});
}

}  // namespace oru_test
