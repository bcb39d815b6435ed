// Stored vector texts and glyph caches come from the show container: any
// bytes load without a fault or a list sized beyond the data, what loads
// stores and loads back to the same bytes, and a loaded text measures,
// gives its outlines and, when small, renders.
#include <cstddef>
#include <cstdint>

#include "OruLib2/OruClasses/OruClassesModules.h"
#include "OruLib2/OruClasses/OruGlyphCache.h"
#include "ZmLib/Graphics/zmGraphicsModules.h"
#include "ZmLib/Text/zmTextModules.h"
#include "ZmLib/VectorGraphics/zmTextProducer.h"
#include "fuzz/FuzzCommon.h"
#include "tests/support/kit/StreamBytes.h"

using zmfuzz::Check;

namespace {

std::string Bytes(zm::TMemoryStream* s) { return zmtest::StreamBytes(s); }

zm::TRef<zm::TMemoryStream> StreamOf(const std::uint8_t* data, std::size_t size) {
  return zmtest::MemoryStreamOf(std::string_view(reinterpret_cast<const char*>(data), size));
}

// Every glyph pointer's font gets the glyphs read from the same bytes.
struct TGlyphSource {
  const std::uint8_t* data;
  std::size_t size;
};
void LoadGlyphs(void* p, const zm::WideString& key) {
  auto* src = static_cast<TGlyphSource*>(p);
  std::int32_t index;
  if (oru::FontCache()->Find(key, index)) return;
  zm::TRef<oru::TGlyphCache> cache = zm::MakeRef<oru::TGlyphCache>(key);
  zm::TRef<zm::TMemoryStream> s = StreamOf(src->data, src->size);
  if (cache->LoadFromStream(s.get())) oru::FontCache()->Insert(cache.get());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::QuietDebugOutput();
  zmfuzz::StartModules({zm::CoreModules(), zm::TextModules(), zm::GraphicsModules(), oru::OruClassesModules()});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zm;
  if (size > 1 << 16) return 0;
  oru::FontCache()->SetContext(u"a");
  oru::FontCache()->SetContext(u"b");

  // The bytes as a glyph cache.
  TRef<oru::TGlyphCache> glyphs = MakeRef<oru::TGlyphCache>(u"F");
  TRef<TMemoryStream> in = StreamOf(data, size);
  if (glyphs->LoadFromStream(in.get())) {
    TRef<TMemoryStream> out = MakeRef<TMemoryStream>();
    glyphs->SaveToStream(out.get());
    const std::string saved = Bytes(out.get());
    TRef<oru::TGlyphCache> again = MakeRef<oru::TGlyphCache>(u"F");
    out->SetPosition(0);
    Check(again->LoadFromStream(out.get()) && again->Count() == glyphs->Count());
    TRef<TMemoryStream> out2 = MakeRef<TMemoryStream>();
    again->SaveToStream(out2.get());
    Check(Bytes(out2.get()) == saved);
  }

  // The bytes as a text; its glyphs from the bytes after the first 4.
  TGlyphSource glyphBytes{data + (size > 4 ? 4 : size), size > 4 ? size - 4 : 0};
  in = StreamOf(data, size);
  TRef<oru::TCachedVectorText> text = oru::LoadCachedVectorText(in.get(), &LoadGlyphs, &glyphBytes);
  if (!text) return 0;
  TRef<TMemoryStream> out = MakeRef<TMemoryStream>();
  oru::SaveCachedVectorText(text.get(), out.get());
  Check(Bytes(out.get()) == std::string(reinterpret_cast<const char*>(data), std::size_t(out->GetSize())));

  TPathPoints points;
  for (std::int32_t i = 0; i < text->LineCount(); ++i) {
    TLineMetrics m;
    text->GetLineMetrics(i, m);
    for (std::int32_t k = 0; k < text->GetPartCount(i) && k < 64; ++k) {
      TPartBox box;
      text->GetPartBox(i, k, box);
      points.clear();
      text->VectorizePart(i, k, points);
    }
  }
  const TSize s = text->GetSize(1.0);
  if (s.cx > 0 && s.cy > 0 && std::int64_t(s.cx) * s.cy <= 1 << 16) {
    TRef<TTextProducer> producer = MakeRef<TTextProducer>();
    producer->SetText(text.get(), false);
    TRef<TDirectBitmap> b = producer->RenderEx(TColor32{255, 255, 255, 255}, TColor32{}, 0, {0, 0}, true, true, 1.0);
    if (b) Check(b->Width() == s.cx && b->Height() == s.cy);
    producer->SetText(nullptr, false);
  }
  return 0;
}
