#include "OruLib2/OruClasses/OruGlyphCache.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "OruLib2/OruClasses/OruSlideHost.h"
#include "ZmLib/wpLoadCallBack.h"
#include "ZmLib/zmHookScope.h"

namespace oru {

using zm::MakeRef;
using zm::TPathPoints;
using zm::TRef;
using zm::TStream;

namespace {

// Thrown inside the readers for data that cannot be right; never leaves
// this unit.
struct TDamagedData {};

// Reads stored data with every count checked against what the stream still
// holds, so that no count makes a list larger than the data could fill.
class TCheckedReader {
public:
  explicit TCheckedReader(TStream* stream) : s_(stream) {}

  std::int32_t Integer() { return s_->ReadInteger(); }
  std::uint16_t Word() { return s_->ReadWord(); }
  float Finite() {
    const float v = s_->ReadSingle();
    if (!std::isfinite(v)) throw TDamagedData{};
    return v;
  }
  // A count of items that take at least MinBytes each.
  std::int32_t Count(std::int64_t minBytes) {
    const std::int32_t n = s_->ReadInteger();
    if (n < 0 || std::int64_t(n) * minBytes > Remaining()) throw TDamagedData{};
    return n;
  }
  WideString String() {
    const std::int32_t n = Count(2);
    WideString s(std::size_t(n), u'\0');
    if (n > 0 && s_->ReadWideChars(s, 1, n) != n) throw TDamagedData{};
    return s;
  }

private:
  std::int64_t Remaining() {
    const std::int64_t size = s_->GetSize();
    if (size < 0) return std::numeric_limits<std::int64_t>::max();
    return std::max<std::int64_t>(size - s_->GetPosition(), 0);
  }
  TStream* s_;
};

void WriteString(TStream* s, const WideString& text) {
  s->WriteInteger(std::int32_t(text.size()));
  s->WriteWideString(text);
}

// Pointer scale / outline scale; 1 when the outline's size is unusable.
float GlyphFactor(const TGlyphPointer& p) {
  const float outline = p.Data ? p.Data->OutlineScale : 0.0f;
  return outline > 0 ? p.Scale / outline : 1.0f;
}

TRef<TFontCache> gFontCache;
zm::THookInstall<TGlyphCacheContextProc> gGlyphContextHook;

void SetGlyphCacheContext(const WideString& context) {
  if (TFontCache* cache = FontCache()) cache->SetContext(context);
}

}  // namespace

// ---- TGlyphCache ---------------------------------------------------------------------

TRef<TGlyphData> TGlyphCache::FindGlyph(std::uint16_t glyphIndex, std::int32_t& index) {
  std::lock_guard<std::mutex> g(lock_);
  for (std::size_t i = 0; i < glyphs_.size(); ++i)
    if (glyphs_[i]->GlyphIndex == glyphIndex) {
      index = std::int32_t(i);
      return glyphs_[i];
    }
  index = -1;
  return nullptr;
}

namespace {

// A glyph's record with the part's metrics, its outline still empty.
TRef<TGlyphData> NewGlyphData(const zm::TTextPart& part) {
  TRef<TGlyphData> d = MakeRef<TGlyphData>();
  d->GlyphIndex = part.GlyphIndex;
  d->OutlineScale = float(part.Size);
  d->A = part.A;
  d->B = part.B;
  d->C = part.C;
  d->Ascent = part.Ascent;
  d->Descent = part.Descent;
  return d;
}

}  // namespace

TRef<TGlyphData> TGlyphCache::AddGlyph(const zm::TTextPart& part, const TPathPoints& outline, std::int32_t& index) {
  ZM_ASSERT(part.FontKey == fontKey_, "TGlyphCache.AddGlyph - Font Key Mismatch");
  TRef<TGlyphData> d = NewGlyphData(part);
  d->Outline = outline;
  std::lock_guard<std::mutex> g(lock_);
  glyphs_.push_back(d);
  index = std::int32_t(glyphs_.size()) - 1;
  return d;
}

TRef<TGlyphData> TGlyphCache::FindOrAddGlyph(const zm::TTextPart& part,
                                             const std::function<void(TPathPoints& outline)>& make) {
  ZM_ASSERT(part.FontKey == fontKey_, "TGlyphCache.AddGlyph - Font Key Mismatch");
  std::lock_guard<std::mutex> g(lock_);
  for (const TRef<TGlyphData>& d : glyphs_)
    if (d->GlyphIndex == part.GlyphIndex) return d;
  TRef<TGlyphData> d = NewGlyphData(part);
  make(d->Outline);
  glyphs_.push_back(d);
  return d;
}

std::int32_t TGlyphCache::Count() {
  std::lock_guard<std::mutex> g(lock_);
  return std::int32_t(glyphs_.size());
}

void TGlyphCache::Clear() {
  std::vector<TRef<TGlyphData>> old;
  std::lock_guard<std::mutex> g(lock_);
  old.swap(glyphs_);
}

bool TGlyphCache::LoadFromStream(TStream* stream) {
  Clear();
  if (!stream) return false;
  std::vector<TRef<TGlyphData>> loaded;
  try {
    TCheckedReader r(stream);
    // A glyph takes at least 30 bytes, a point 12.
    const std::int32_t count = r.Count(30);
    r.String();
    loaded.reserve(std::size_t(count));
    for (std::int32_t i = 0; i < count; ++i) {
      TRef<TGlyphData> d = MakeRef<TGlyphData>();
      d->GlyphIndex = r.Word();
      d->A = r.Integer();
      d->B = r.Integer();
      d->C = r.Integer();
      d->Ascent = r.Integer();
      d->Descent = r.Integer();
      d->OutlineScale = r.Finite();
      const std::int32_t points = r.Count(12);
      d->Outline.reserve(std::size_t(points));
      for (std::int32_t k = 0; k < points; ++k) {
        zm::TPathPoint p;
        p.X = r.Finite();
        p.Y = r.Finite();
        p.Code = r.Integer();
        if (p.Code < zm::pcMove || p.Code > zm::pcControl3) throw TDamagedData{};
        d->Outline.push_back(p);
      }
      loaded.push_back(std::move(d));
    }
  } catch (const TDamagedData&) {
    return false;
  } catch (const zm::EStreamError&) {
    return false;
  }
  std::lock_guard<std::mutex> g(lock_);
  glyphs_.swap(loaded);
  return true;
}

void TGlyphCache::SaveToStream(TStream* stream) {
  std::vector<TRef<TGlyphData>> glyphs;
  {
    std::lock_guard<std::mutex> g(lock_);
    glyphs = glyphs_;
  }
  stream->WriteInteger(std::int32_t(glyphs.size()));
  WriteString(stream, fontKey_);
  for (const TRef<TGlyphData>& d : glyphs) {
    stream->WriteWord(d->GlyphIndex);
    stream->WriteInteger(d->A);
    stream->WriteInteger(d->B);
    stream->WriteInteger(d->C);
    stream->WriteInteger(d->Ascent);
    stream->WriteInteger(d->Descent);
    stream->WriteSingle(d->OutlineScale);
    stream->WriteInteger(std::int32_t(d->Outline.size()));
    for (const zm::TPathPoint& p : d->Outline) {
      stream->WriteSingle(p.X);
      stream->WriteSingle(p.Y);
      stream->WriteInteger(p.Code);
    }
  }
}

// ---- TFontCache ----------------------------------------------------------------------

void TFontCache::Dispose() {
  {
    std::lock_guard<std::mutex> g(lock_);
    caches_.clear();
  }
  TRefObject::Dispose();
}

TRef<TGlyphCache> TFontCache::Find(const WideString& fontKey, std::int32_t& index) {
  std::lock_guard<std::mutex> g(lock_);
  for (std::size_t i = 0; i < caches_.size(); ++i)
    if (caches_[i]->FontKey() == fontKey) {
      index = std::int32_t(i);
      return caches_[i];
    }
  index = -1;
  return nullptr;
}

TRef<TGlyphCache> TFontCache::Add(const WideString& fontKey, std::int32_t& index) {
  std::lock_guard<std::mutex> g(lock_);
  for (std::size_t i = 0; i < caches_.size(); ++i)
    if (caches_[i]->FontKey() == fontKey) {
      index = std::int32_t(i);
      return caches_[i];
    }
  caches_.push_back(MakeRef<TGlyphCache>(fontKey));
  index = std::int32_t(caches_.size()) - 1;
  return caches_.back();
}

TRef<TGlyphCache> TFontCache::Insert(TGlyphCache* cache) {
  std::lock_guard<std::mutex> g(lock_);
  for (const TRef<TGlyphCache>& c : caches_)
    if (c->FontKey() == cache->FontKey()) return c;
  caches_.emplace_back(cache);
  return caches_.back();
}

std::int32_t TFontCache::Count() {
  std::lock_guard<std::mutex> g(lock_);
  return std::int32_t(caches_.size());
}

void TFontCache::SetContext(const WideString& key) {
  std::vector<TRef<TGlyphCache>> old;
  std::lock_guard<std::mutex> g(lock_);
  if (key == context_) return;
  context_ = key;
  old.swap(caches_);
}

WideString TFontCache::Context() {
  std::lock_guard<std::mutex> g(lock_);
  return context_;
}

TFontCache* FontCache() { return gFontCache.get(); }

// ---- TCachedVectorText ---------------------------------------------------------------

void TCachedVectorText::Dispose() {
  lines_.clear();
  TVectorText::Dispose();
}

void TCachedVectorText::Assign(const zm::TFontMetrics& metrics, std::vector<TRef<TGlyphLine>> lines) {
  fontMetrics_ = metrics;
  lines_ = std::move(lines);
  lineCount_ = std::int32_t(lines_.size());
}

TGlyphPointer* TCachedVectorText::Pointer(std::int32_t line, std::int32_t part) const {
  if (line < 0 || line >= std::int32_t(lines_.size())) return nullptr;
  const auto& glyphs = lines_[std::size_t(line)]->Glyphs;
  if (part < 0 || part >= std::int32_t(glyphs.size())) return nullptr;
  return glyphs[std::size_t(part)].get();
}

std::int32_t TCachedVectorText::MissingGlyphCount() const {
  std::int32_t n = 0;
  for (const TRef<TGlyphLine>& l : lines_)
    for (const TRef<TGlyphPointer>& p : l->Glyphs)
      if (!p->Data) ++n;
  return n;
}

std::int32_t TCachedVectorText::GetPartCount(std::int32_t line) {
  if (line < 0 || line >= std::int32_t(lines_.size())) return 0;
  return std::int32_t(lines_[std::size_t(line)]->Glyphs.size());
}

void TCachedVectorText::VectorizePart(std::int32_t line, std::int32_t part, TPathPoints& sink) {
  TGlyphPointer* p = Pointer(line, part);
  if (!p || !p->Data) return;
  const float f = GlyphFactor(*p);
  for (const zm::TPathPoint& pt : p->Data->Outline) zm::AddPathPoint(sink, pt.X * f, pt.Y * f, pt.Code);
}

// Extents are scaled like the outline: a glyph made at another size than
// the one wanted must still measure as it is drawn.
void TCachedVectorText::GetPartBox(std::int32_t line, std::int32_t part, zm::TPartBox& box) {
  box = zm::TPartBox{};
  TGlyphPointer* p = Pointer(line, part);
  if (!p) return;
  box.X = float(p->X);
  if (!p->Data) return;
  const float f = GlyphFactor(*p);
  box.A = float(p->Data->A) * f;
  box.B = float(p->Data->B) * f;
  box.C = float(p->Data->C) * f;
  box.Advance = box.A + box.B + box.C;
  box.Ascent = float(p->Data->Ascent) * f;
  box.Descent = float(p->Data->Descent) * f;
  box.Height = box.Ascent + box.Descent;
}

// Over the cached glyphs: the ink from the leftmost of x, x + A, x + A + B,
// x + A + B + C to the rightmost, the glyphs from the smallest x to the
// largest x + A + B + C, and the largest vertical extents. A line without
// cached glyphs has the font's extents.
void TCachedVectorText::GetLineMetrics(std::int32_t line, zm::TLineMetrics& metrics) {
  metrics = zm::TLineMetrics{};
  double left = std::numeric_limits<double>::max(), right = -left, start = left, end = -left;
  bool any = false;
  const std::int32_t n = GetPartCount(line);
  for (std::int32_t i = 0; i < n; ++i) {
    if (!Pointer(line, i)->Data) continue;
    zm::TPartBox b;
    GetPartBox(line, i, b);
    const double x = b.X, xa = x + b.A, xb = xa + b.B, xc = xb + b.C;
    left = std::min({left, x, xa, xb, xc});
    right = std::max({right, x, xa, xb, xc});
    start = std::min(start, x);
    end = std::max(end, xc);
    metrics.Ascent = std::max(metrics.Ascent, b.Ascent);
    metrics.Descent = std::max(metrics.Descent, b.Descent);
    any = true;
  }
  if (!any) {
    metrics.Ascent = float(fontMetrics_.Ascent);
    metrics.Descent = float(fontMetrics_.Descent);
    metrics.Height = metrics.Ascent + metrics.Descent;
    return;
  }
  metrics.Width = float(end - start);
  metrics.Leading = float(left - start);
  metrics.Trailing = float(end - right);
  metrics.BlackWidth = metrics.Width - metrics.Leading - metrics.Trailing;
  metrics.Height = metrics.Ascent + metrics.Descent;
}

// ---- Building, saving, loading -------------------------------------------------------

TRef<TCachedVectorText> BuildCachedVectorText(const zm::TFontParams& font, zm::TStringList& lines) {
  TFontCache* cache = FontCache();
  TRef<zm::TVectorizer> v = zm::CreateVectorizerHook ? zm::CreateVectorizerHook() : nullptr;
  if (!cache || !v) return nullptr;
  zm::TFontParams f = font;
  if (!v->IsOutlineFont(f)) f.Name = kDefaultVectorFontName;
  zm::TFontMetrics metrics;
  v->GetFontMetrics(f, metrics);

  std::vector<TRef<TGlyphLine>> out;
  TRef<TGlyphCache> fontGlyphs;  // the cache of the last part's font
  const std::int32_t n = std::max(lines.GetCount(), 0);
  out.reserve(std::size_t(n));
  for (std::int32_t i = 0; i < n; ++i) {
    // A long text is many steps: its builder, told to stop, ends between lines.
    zm::CheckLoadStop();
    TRef<TGlyphLine> line = MakeRef<TGlyphLine>();
    TRef<zm::TTextElementEx> e = v->CreateTextElement(f, lines.GetString(i));
    const std::int32_t parts = e ? e->GetPartCount() : 0;
    for (std::int32_t k = 0; k < parts; ++k) {
      zm::TTextPart part;
      if (!e->GetPart(k, part)) continue;
      if (!fontGlyphs || fontGlyphs->FontKey() != part.FontKey) {
        std::int32_t index;
        fontGlyphs = cache->Add(part.FontKey, index);
      }
      TRef<TGlyphPointer> p = MakeRef<TGlyphPointer>();
      p->GlyphIndex = part.GlyphIndex;
      p->FontKey = part.FontKey;
      p->X = part.X;
      p->Scale = float(part.Size);
      p->Data = fontGlyphs->FindOrAddGlyph(part, [&](TPathPoints& outline) { v->VectorizePart(part, outline); });
      line->Glyphs.push_back(std::move(p));
    }
    out.push_back(std::move(line));
  }
  TRef<TCachedVectorText> text = MakeRef<TCachedVectorText>();
  text->Assign(metrics, std::move(out));
  return text;
}

void SaveCachedVectorText(zm::TVectorText* text, TStream* stream) {
  auto* cached = dynamic_cast<TCachedVectorText*>(text);
  ZM_ASSERT(cached, "SaveCachedVectorText - Not a TCachedVectorText");
  ZM_ASSERT(stream, "SaveCachedVectorText - Stream not Assigned");
  const zm::TFontMetrics& m = cached->FontMetrics();
  stream->WriteInteger(std::int32_t(cached->Lines().size()));
  stream->WriteInteger(m.Ascent);
  stream->WriteInteger(m.Descent);
  stream->WriteSingle(m.UnderlinePosition);
  stream->WriteSingle(m.UnderlineSize);
  stream->WriteSingle(m.StrikeOutPosition);
  stream->WriteSingle(m.StrikeOutSize);
  for (const TRef<TGlyphLine>& line : cached->Lines()) {
    stream->WriteInteger(std::int32_t(line->Glyphs.size()));
    for (const TRef<TGlyphPointer>& p : line->Glyphs) {
      stream->WriteInteger(p->X);
      stream->WriteSingle(p->Scale);
      stream->WriteWord(p->GlyphIndex);
      WriteString(stream, p->FontKey);
    }
  }
}

TRef<TCachedVectorText> LoadCachedVectorText(TStream* stream, TFontKeyCallback fontCallback, void* data) {
  if (!stream) return nullptr;
  zm::TFontMetrics m;
  std::vector<TRef<TGlyphLine>> lines;
  try {
    stream->SetPosition(0);
    TCheckedReader r(stream);
    // A line takes at least 4 bytes, a glyph pointer 14.
    const std::int32_t count = r.Count(4);
    m.Ascent = r.Integer();
    m.Descent = r.Integer();
    m.UnderlinePosition = r.Finite();
    m.UnderlineSize = r.Finite();
    m.StrikeOutPosition = r.Finite();
    m.StrikeOutSize = r.Finite();
    lines.reserve(std::size_t(count));
    for (std::int32_t i = 0; i < count; ++i) {
      TRef<TGlyphLine> line = MakeRef<TGlyphLine>();
      const std::int32_t glyphs = r.Count(14);
      line->Glyphs.reserve(std::size_t(glyphs));
      for (std::int32_t k = 0; k < glyphs; ++k) {
        TRef<TGlyphPointer> p = MakeRef<TGlyphPointer>();
        p->X = r.Integer();
        p->Scale = r.Finite();
        p->GlyphIndex = r.Word();
        p->FontKey = r.String();
        if (fontCallback) fontCallback(data, p->FontKey);
        line->Glyphs.push_back(std::move(p));
      }
      lines.push_back(std::move(line));
    }
  } catch (const TDamagedData&) {
    return nullptr;
  } catch (const zm::EStreamError&) {
    return nullptr;
  }

  if (TFontCache* cache = FontCache()) {
    TRef<TGlyphCache> fontGlyphs;
    WideString lastKey;
    bool looked = false;
    for (const TRef<TGlyphLine>& line : lines)
      for (const TRef<TGlyphPointer>& p : line->Glyphs) {
        if (!looked || p->FontKey != lastKey) {
          std::int32_t index;
          fontGlyphs = cache->Find(p->FontKey, index);
          lastKey = p->FontKey;
          looked = true;
        }
        if (!fontGlyphs) continue;
        std::int32_t index;
        p->Data = fontGlyphs->FindGlyph(p->GlyphIndex, index);
      }
  }
  TRef<TCachedVectorText> text = MakeRef<TCachedVectorText>();
  text->Assign(m, std::move(lines));
  return text;
}

// ---- Module --------------------------------------------------------------------------

void InitGlyphCache() {
  gFontCache = MakeRef<TFontCache>();
  gGlyphContextHook.Install(GlyphCacheContextHook, &SetGlyphCacheContext);
}

void FiniGlyphCache() {
  gGlyphContextHook.RestoreIfStillSet();
  gFontCache = nullptr;
}

}  // namespace oru
