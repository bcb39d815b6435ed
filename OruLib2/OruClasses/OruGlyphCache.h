#pragma once
// Glyph outlines cached per font and per glyph for the whole process, and
// texts laid out as lines of references into that cache. Both can be kept
// in the show container ("VectTxt2: " entries for texts, "VectTextCache: "
// followed by the font key for a font's glyphs), so that a show plays with
// the outlines made when it was built, even without its fonts installed.
//
// The cache is emptied when another show (another "ExeGUID") is opened. It
// is shared by every thread that makes text pictures: TFontCache and
// TGlyphCache lock their lists; a glyph's data and a loaded text do not
// change once made.
//
// Stored forms (little-endian; a string is a 32-bit count of UTF-16 code
// units followed by them):
//   text:   line count, ascent, descent (32-bit), underline position and
//           size, strike-out position and size (floats); per line a glyph
//           count and per glyph its x offset (32-bit), scale (float),
//           glyph index (16-bit) and font key (string).
//   glyphs: glyph count, font key (string); per glyph its index (16-bit),
//           A, B, C, ascent, descent (32-bit), outline scale (float), point
//           count and per point x, y (floats) and kind (32-bit path code).
// Damaged or truncated data loads as nothing: never a partial list.
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "ZmLib/VectorGraphics/zmVectorText.h"
#include "ZmLib/zmStream.h"

namespace oru {

using zm::WideString;

inline constexpr char16_t kVectorTextCachePrefix[] = u"VectTextCache: ";
// Used when the text's own font has no outlines.
inline constexpr char16_t kDefaultVectorFontName[] = u"Arial";
// The size outlines are made at; a text's scale maps it to pixels.
constexpr float kCachedTextFontSize = 32.0f;

// One glyph's outline and extents at the size it was made.
class TGlyphData : public zm::TRefObject {
public:
  std::uint16_t GlyphIndex = 0;
  float OutlineScale = 0;  // the size the outline was made at
  std::int32_t A = 0, B = 0, C = 0;
  std::int32_t Ascent = 0, Descent = 0;
  zm::TPathPoints Outline;
};

// The glyphs of one font.
class TGlyphCache : public zm::TRefObject {
public:
  explicit TGlyphCache(const WideString& fontKey) : fontKey_(fontKey) {}
  const WideString& FontKey() const { return fontKey_; }

  // Nil and -1 when absent.
  zm::TRef<TGlyphData> FindGlyph(std::uint16_t glyphIndex, std::int32_t& index);
  // Appends the glyph of Part (its font key must be this cache's:
  // assertion) with Outline; the outline scale is the part's size.
  zm::TRef<TGlyphData> AddGlyph(const zm::TTextPart& part, const zm::TPathPoints& outline, std::int32_t& index);
  // The glyph of Part; when absent, Make gives its outline and it is added.
  // One lock covers both, so a glyph is made once however many threads ask.
  zm::TRef<TGlyphData> FindOrAddGlyph(const zm::TTextPart& part,
                                      const std::function<void(zm::TPathPoints& outline)>& make);
  std::int32_t Count();
  void Clear();
  // Empties the cache, then reads the stored glyphs. False (the cache left
  // empty) for damaged or truncated data; the stored font key is read but
  // the cache keeps its own.
  bool LoadFromStream(zm::TStream* stream);
  void SaveToStream(zm::TStream* stream);

private:
  WideString fontKey_;
  std::mutex lock_;
  std::vector<zm::TRef<TGlyphData>> glyphs_;
};

// The process-wide list of glyph caches.
class TFontCache : public zm::TRefObject {
public:
  void Dispose() override;
  // Exact text; nil and -1 when absent.
  zm::TRef<TGlyphCache> Find(const WideString& fontKey, std::int32_t& index);
  // The cache of FontKey, made and appended when absent.
  zm::TRef<TGlyphCache> Add(const WideString& fontKey, std::int32_t& index);
  // Appends Cache unless one of its font key is listed by now; the one
  // listed afterwards.
  zm::TRef<TGlyphCache> Insert(TGlyphCache* cache);
  std::int32_t Count();
  // A key other than the one held empties the list.
  void SetContext(const WideString& key);
  WideString Context();

private:
  std::mutex lock_;
  WideString context_;
  std::vector<zm::TRef<TGlyphCache>> caches_;
};

// The process-wide cache: made when the module starts, nil outside.
TFontCache* FontCache();

// One glyph of a line: which glyph of which font, where and how large.
class TGlyphPointer : public zm::TRefObject {
public:
  std::uint16_t GlyphIndex = 0;
  WideString FontKey;
  std::int32_t X = 0;  // from the line's start
  float Scale = 0;     // the wanted size
  // The cached glyph, found when the text was made; nil when the cache
  // lacked it (the glyph is then left out).
  zm::TRef<TGlyphData> Data;
};

class TGlyphLine : public zm::TRefObject {
public:
  std::vector<zm::TRef<TGlyphPointer>> Glyphs;  // drawing order
};

// A laid-out text whose parts are cached glyphs. Each outline is drawn at
// pointer scale / outline scale, and so are its extents.
class TCachedVectorText : public zm::TVectorText {
public:
  void Dispose() override;
  void GetLineMetrics(std::int32_t line, zm::TLineMetrics& metrics) override;
  std::int32_t GetPartCount(std::int32_t line) override;
  void VectorizePart(std::int32_t line, std::int32_t part, zm::TPathPoints& sink) override;
  void GetPartBox(std::int32_t line, std::int32_t part, zm::TPartBox& box) override;

  const std::vector<zm::TRef<TGlyphLine>>& Lines() const { return lines_; }
  // Glyph pointers whose glyph the cache lacked.
  std::int32_t MissingGlyphCount() const;

  // The text's font metrics and lines; the line count follows the lines.
  void Assign(const zm::TFontMetrics& metrics, std::vector<zm::TRef<TGlyphLine>> lines);

private:
  TGlyphPointer* Pointer(std::int32_t line, std::int32_t part) const;

  std::vector<zm::TRef<TGlyphLine>> lines_;
};

// Lays Lines out in Font through the vectoriser of CreateVectorizerHook,
// each glyph vectorised only when the font cache lacks it. A font without
// outlines is replaced by kDefaultVectorFontName. Nil without a vectoriser
// or a font cache. The vectoriser's exceptions pass on.
zm::TRef<TCachedVectorText> BuildCachedVectorText(const zm::TFontParams& font, zm::TStringList& lines);

// Text must be a TCachedVectorText (assertion).
void SaveCachedVectorText(zm::TVectorText* text, zm::TStream* stream);

// Told the font key of every glyph pointer read, before the glyphs are
// looked up in the font cache.
using TFontKeyCallback = void (*)(void* data, const WideString& fontKey);
// Reads a stored text from position 0 of Stream; nil for damaged or
// truncated data. Glyphs are looked up once everything is read.
zm::TRef<TCachedVectorText> LoadCachedVectorText(zm::TStream* stream, TFontKeyCallback fontCallback, void* data);

// The glyph-cache context follows the show's "ExeGUID"; the module makes
// the process-wide cache and installs GlyphCacheContextHook.
void InitGlyphCache();
void FiniGlyphCache();

}  // namespace oru
