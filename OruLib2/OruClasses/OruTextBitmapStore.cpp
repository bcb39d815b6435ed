#include "OruLib2/OruClasses/OruTextBitmapStore.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <set>
#include <vector>

#include "OruLib2/OruClasses/OruSlideHost.h"
#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/VectorGraphics/zmTextProducer.h"
#include "ZmLib/zmHookScope.h"

namespace oru {

using zm::MakeRef;
using zm::TRef;

namespace {

zm::TPixelFormat* TextBitmapFormat() { return zm::PixelFormatByName(zm::TByteString(zm::PF_A8R8G8B8)); }

// Holds the show's file accessor while a text's glyph caches are loaded.
class TFileAccessorCacheReader : public zm::TRefObject {
public:
  explicit TFileAccessorCacheReader(TFileAccessor* accessor) : Accessor(accessor) {}
  TRef<TFileAccessor> Accessor;
  std::set<WideString> Tried;  // each font's entry is opened once per text
};

// Loads the stored glyphs of a font the font cache lacks.
void LoadStoredGlyphs(void* data, const WideString& fontKey) {
  auto* reader = static_cast<TFileAccessorCacheReader*>(data);
  TFontCache* cache = FontCache();
  if (!reader->Accessor || !cache || !reader->Tried.insert(fontKey).second) return;
  std::int32_t index;
  if (cache->Find(fontKey, index)) return;
  TRef<zm::TStream> entry = TRef<zm::TStream>::Adopt(reader->Accessor->OpenFile(VectorTextCacheName(fontKey)));
  if (!entry) return;
  TRef<TGlyphCache> glyphs = MakeRef<TGlyphCache>(fontKey);
  if (glyphs->LoadFromStream(entry.get())) cache->Insert(glyphs.get());
}

class TTextStoreMaker : public TTextBitmapMaker {
public:
  TRef<zm::TImage> MakeTextBitmap(const WideString& description, TFileAccessor* accessor) override {
    // A text is measured at its natural size before it is made at the size
    // it is drawn: the outlines laid out then serve again.
    const WideString outlines = zm::MakeVectorTextKey(zm::kTextKeyPrefix + description);
    TRef<TCachedVectorText> laidOut;
    {
      std::lock_guard<std::mutex> g(lock_);
      for (const TMeasured& m : measured_)
        if (m.Accessor == accessor && m.Outlines == outlines)
          if (auto* store = dynamic_cast<TTextBitmapStore*>(m.Image->Store())) laidOut = TRef<TCachedVectorText>(store->Text());
    }
    TRef<TTextBitmapStore> store;
    try {
      store = TTextBitmapStore::Create(description, accessor, laidOut.get());
    } catch (const zm::EAbort&) {
      throw;
    } catch (const std::exception&) {
      return nullptr;  // no usable font: the text is left out
    }
    return store ? MakeRef<zm::TImage>(store.get()) : nullptr;
  }
  TRef<zm::TImage> MeasureText(const WideString& description, TFileAccessor* accessor) override {
    {
      std::lock_guard<std::mutex> g(lock_);
      for (const TMeasured& m : measured_)
        if (m.Accessor == accessor && m.Description == description) return m.Image;
    }
    // Outlines only: a measured store never renders its pixels.
    TRef<zm::TImage> image = MakeTextBitmap(description, accessor);
    if (!image) return nullptr;
    const WideString outlines = zm::MakeVectorTextKey(zm::kTextKeyPrefix + description);
    std::lock_guard<std::mutex> g(lock_);
    if (measured_.size() >= kMeasuredKept) measured_.erase(measured_.begin());
    measured_.push_back({description, outlines, accessor, image});
    return image;
  }
  void Flush() override {
    std::lock_guard<std::mutex> g(lock_);
    measured_.clear();
  }
  void Dispose() override {
    Flush();
    TTextBitmapMaker::Dispose();
  }

private:
  // The texts of a slide repeat a few descriptions, or each is new.
  static constexpr std::size_t kMeasuredKept = 16;
  struct TMeasured {
    WideString Description;
    WideString Outlines;            // the "VectTxt2: " key of its outlines
    const TFileAccessor* Accessor;  // only compared
    TRef<zm::TImage> Image;
  };
  std::mutex lock_;
  std::vector<TMeasured> measured_;
};

TRef<TTextBitmapMaker> CreateTextStoreMaker() { return MakeRef<TTextStoreMaker>(); }

zm::THookInstall<TCreateTextBitmapMakerProc> gTextMakerHook;

// Stored outlines cut like the text they stand for: a show's entry may hold
// more than its name says.
TRef<TCachedVectorText> CutStoredText(TCachedVectorText* text) {
  std::size_t left = kMaxTextLength;
  bool cut = text->Lines().size() > kMaxTextLines;
  std::vector<TRef<TGlyphLine>> lines;
  for (const TRef<TGlyphLine>& line : text->Lines()) {
    if (lines.size() == kMaxTextLines || (left == 0 && !lines.empty())) {
      cut = true;
      break;
    }
    const std::size_t keep = std::min({line->Glyphs.size(), kMaxTextLineLength, left});
    if (keep < line->Glyphs.size()) {
      TRef<TGlyphLine> shorter = MakeRef<TGlyphLine>();
      shorter->Glyphs.assign(line->Glyphs.begin(), line->Glyphs.begin() + std::ptrdiff_t(keep));
      lines.push_back(shorter);
      cut = true;
    } else {
      lines.push_back(line);
    }
    left -= keep;
  }
  if (!cut) return TRef<TCachedVectorText>(text);
  TRef<TCachedVectorText> out = MakeRef<TCachedVectorText>();
  out->Assign(text->FontMetrics(), std::move(lines));
  return out;
}

}  // namespace

bool CutText(std::vector<WideString>& lines) {
  bool cut = false;
  if (lines.size() > kMaxTextLines) {
    lines.resize(kMaxTextLines);
    cut = true;
  }
  std::size_t left = kMaxTextLength;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    WideString& line = lines[i];
    if (left == 0) {
      lines.resize(i);
      return true;
    }
    std::size_t keep = std::min({line.size(), kMaxTextLineLength, left});
    if (keep < line.size()) {
      // The high half of a pair goes with its low half.
      if (line[keep - 1] >= 0xD800 && line[keep - 1] <= 0xDBFF) --keep;
      line.resize(keep);
      cut = true;
    }
    left -= line.size();
  }
  return cut;
}

TRef<TTextBitmapStore> TTextBitmapStore::Create(const WideString& description, TFileAccessor* accessor) {
  return Create(description, accessor, nullptr);
}

TRef<TTextBitmapStore> TTextBitmapStore::Create(const WideString& description, TFileAccessor* accessor,
                                                TCachedVectorText* laidOut) {
  const WideString key = zm::kTextKeyPrefix + description;
  TRef<zm::TStringList> marked = MakeRef<zm::TStringList>();
  zm::TTextKeyParams params = zm::DefaultTextKeyParams;
  zm::ParseTextKey(key, *marked, params);
  if (!(params.Scale > 0) || !std::isfinite(params.Scale)) return nullptr;

  TRef<TCachedVectorText> text(laidOut);
  if (accessor && !text) {
    TRef<zm::TStream> entry = TRef<zm::TStream>::Adopt(accessor->OpenFile(zm::MakeVectorTextKey(key)));
    if (entry) {
      TRef<TFileAccessorCacheReader> reader = MakeRef<TFileAccessorCacheReader>(accessor);
      text = LoadCachedVectorText(entry.get(), &LoadStoredGlyphs, reader.get());
      if (text) text = CutStoredText(text.get());
    }
  }
  // Stored outlines that lack glyphs (or are damaged) are made again when a
  // vectoriser can; otherwise what is stored is drawn as far as it goes.
  if (!text || (!laidOut && text->MissingGlyphCount() > 0)) {
    std::vector<WideString> decoded;
    const std::int32_t count = std::min<std::int32_t>(marked->GetCount(), std::int32_t(kMaxTextLines));
    for (std::int32_t i = 0; i < count; ++i) decoded.push_back(zm::DecodeMarkedText(marked->GetString(i)));
    CutText(decoded);
    TRef<zm::TStringList> lines = MakeRef<zm::TStringList>();
    for (const WideString& line : decoded) lines->Add(line);
    const zm::TFontParams font =
        zm::MakeFontParams(params.FontName, params.Style, true, kCachedTextFontSize, {}, {});
    if (TRef<TCachedVectorText> built = BuildCachedVectorText(font, *lines)) text = built;
  }
  if (!text) return nullptr;

  const zm::TSize size = text->GetSize(params.Scale, params.LineSpacing);
  if (!zm::BitmapSizeAllowed(size.cx, size.cy, TextBitmapFormat())) return nullptr;
  return MakeRef<TTextBitmapStore>(key, zm::TPoint{size.cx, size.cy}, text.get(), params);
}

TTextBitmapStore::TTextBitmapStore(const WideString& name, const zm::TPoint& size, TCachedVectorText* text,
                                   const zm::TTextKeyParams& params)
    : TSysBitmapStore(name, zm::TImageLoadHandler{}, size, TextBitmapFormat()),
      text_(text),
      params_(params),
      textSize_(params.Scale) {}

void TTextBitmapStore::Dispose() {
  text_ = nullptr;
  TSysBitmapStore::Dispose();
}

void TTextBitmapStore::GetSourceLevel(std::int32_t level, zm::TMipLevelResult& result) {
  if (level != 0 || !text_) return;
  const zm::TColor32 color = zm::TColor32::FromValue(std::uint32_t(params_.Color));
  TRef<zm::TTextProducer> producer = MakeRef<zm::TTextProducer>();
  producer->SetText(text_.get(), false);
  producer->Alignment = params_.Alignment;
  TRef<zm::TDirectBitmap> bitmap =
      producer->RenderEx(color, zm::TransparentColor32(color), params_.LineSpacing, {0, 0},
                         (params_.Style & zm::fsUnderline) != 0, (params_.Style & zm::fsStrikeOut) != 0, textSize_);
  producer->SetText(nullptr, false);
  const zm::TPoint size = Size();
  if (!bitmap || bitmap->Width() != size.X || bitmap->Height() != size.Y) {
    // The level must have the store's size whatever the renderer did.
    bitmap = MakeRef<zm::TDirectBitmap>(size.X, TextBitmapFormat(), size.Y);
    bitmap->FillRect({0, 0, size.X, size.Y}, zm::TColor32{});
  }
  result.Bitmap = MakeRef<zm::TSysDirectWrapper>(bitmap.get(), false);
  result.Owned = true;
  result.Level = 0;
  ++renderCount_;
}

double TTextBitmapStore::SizeOr(double size) const { return size > 0 && std::isfinite(size) ? size : textSize_; }

zm::TSize TTextBitmapStore::Measure(double size) { return text_->GetSize(SizeOr(size), params_.LineSpacing); }

zm::TFloatRect TTextBitmapStore::InkRect(double size) { return text_->GetBounds(SizeOr(size), params_.LineSpacing); }

float TTextBitmapStore::LineHeight(double size) { return text_->GetLineHeight(SizeOr(size)); }

void InitTextBitmapStore() {
  gTextMakerHook.Install(CreateTextBitmapMakerHook, &CreateTextStoreMaker);
}

void FiniTextBitmapStore() {
  gTextMakerHook.RestoreIfStillSet();
}

}  // namespace oru
