#include "ZmLib/VectorGraphics/zmButtonProducer.h"

#include <algorithm>
#include <charconv>
#include <string>

#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/zmColorHSL.h"
#include "ZmLib/VectorGraphics/zmVectorText.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmStringList.h"

namespace zm {

namespace {

THashBitmaps* gHashBitmaps = nullptr;

const char16_t* const kStateSections[kButtonStateCount] = {u"NormalState", u"HoverState", u"ClickState"};
const char16_t* const kPartKeys[kButtonPartCount] = {u"LeftTop", u"Top",        u"RightTop", u"Right", u"RightBottom",
                                                     u"Bottom",  u"LeftBottom", u"Left",     u"Center"};
// Faces are never larger than this (a hostile key cannot ask for gigabytes).
constexpr std::int64_t kMaxButtonPixels = std::int64_t(1) << 26;

WideString Trim(WideStringView s) {
  std::size_t b = 0, e = s.size();
  while (b < e && s[b] <= u' ') ++b;
  while (e > b && s[e - 1] <= u' ') --e;
  return WideString(s.substr(b, e - b));
}

// A decimal integer; anything else is 0.
std::int32_t FieldInt(const WideString& field) {
  std::string ascii;
  for (char16_t c : Trim(field)) {
    if (c > 127) return 0;
    ascii += char(c);
  }
  std::int32_t v = 0;
  const char* end = ascii.data() + ascii.size();
  const auto [p, ec] = std::from_chars(ascii.data(), end, v);
  return ec == std::errc() && p == end ? v : 0;
}

// "file, left, top, right, bottom".
TButtonPart ParsePart(const WideString& value) {
  std::vector<WideString> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = value.find(u',', start);
    fields.push_back(value.substr(start, comma == WideString::npos ? WideString::npos : comma - start));
    if (comma == WideString::npos) break;
    start = comma + 1;
  }
  fields.resize(std::max<std::size_t>(fields.size(), 5));
  return {Trim(fields[0]), FieldInt(fields[1]), FieldInt(fields[2]), FieldInt(fields[3]), FieldInt(fields[4])};
}

// A picture's pixels in "A8R8G8B8", row after row.
struct TPixels {
  std::int32_t W = 0, H = 0;
  std::vector<std::uint32_t> Data;
  bool Has(std::int64_t x, std::int64_t y) const { return x >= 0 && y >= 0 && x < W && y < H; }
  std::uint32_t At(std::int64_t x, std::int64_t y) const { return Data[std::size_t(y * W + x)]; }
};

bool ReadPixels(TImage* image, TPixels& out) {
  TBitmapStore* store = image ? image->Store() : nullptr;
  if (!store) return false;
  TBitmap* b = store->GetMipLevel(0, PixelFormatByName(PF_A8R8G8B8), nullptr);
  if (!b || b->IsEmpty()) return false;
  out.W = b->Width();
  out.H = b->Height();
  out.Data.assign(std::size_t(out.W) * std::size_t(out.H), 0);
  for (std::int32_t y = 0; y < out.H; ++y)
    b->GetPixels32(std::span<std::uint32_t>(out.Data.data() + std::size_t(y) * std::size_t(out.W), std::size_t(out.W)),
                   0, 0, y, out.W);
  return true;
}

TFontParams ErrorFont() { return MakeFontParams(u"Tahoma", 0, false, 8.25f, {}, {}); }

}  // namespace

// ============================================================================
// THashBitmaps
// ============================================================================

void THashBitmaps::Dispose() {
  {
    std::lock_guard<std::mutex> g(lock_);
    Clear(true);
  }
  THashList::Dispose();
}

TRef<TImage> THashBitmaps::FindImage(const WideString& name) {
  std::lock_guard<std::mutex> g(lock_);
  TKeyItem* item = nullptr;
  if (!Find(name, item) || !item || item->Count() < 1) return nullptr;
  return TRef<TImage>(static_cast<TImage*>(item->Get(0)));
}

TRef<TImage> THashBitmaps::AddImage(const WideString& name, TImage* image) {
  if (!image) return nullptr;
  std::lock_guard<std::mutex> g(lock_);
  TKeyItem* item = GetItem(name);
  if (item->Count() > 0) return TRef<TImage>(static_cast<TImage*>(item->Get(0)));  // another thread was first
  if (item->Add(image) >= 0) image->AddRef();  // the cache's own reference, freed by Clear
  return TRef<TImage>(image);
}

std::int32_t THashBitmaps::ImageCount() {
  std::lock_guard<std::mutex> g(lock_);
  std::int32_t n = 0;
  for (std::int32_t i = 0; i < BucketCount(); ++i)
    if (THashItem* b = BucketAt(i))
      for (TKeyItem* e = b->First; e; e = e->Next) n += e->Count();
  return n;
}

THashBitmaps* HashBitmaps() { return gHashBitmaps; }

// ============================================================================
// TButtonProducer
// ============================================================================

TButtonProducer::TButtonProducer(const ButtonPictureLoader& loader, const ButtonProgressCallback& progress)
    : TextProducer(MakeRef<TTextProducer>()), Loader(loader), Progress(progress) {}

void TButtonProducer::Dispose() {
  TextProducer = nullptr;
  Loader = nullptr;
  Progress = nullptr;
  TRefObject::Dispose();
}

bool TButtonProducer::LoadFromFile(const WideString& fileName, const WideString& skinName) {
  SkinName = skinName;
  TRef<TIniFile> ini = MakeRef<TIniFile>();
  if (!ini->LoadFromFile(fileName)) return false;
  Load(ini.get());
  return true;
}

void TButtonProducer::Load(TIniFile* ini) {
  ZM_ASSERT(ini, "TButtonProducer.Load - Ini not Assigned");
  for (std::int32_t s = 0; s < kButtonStateCount; ++s)
    for (std::int32_t p = 0; p < kButtonPartCount; ++p)
      Parts[std::size_t(s * kButtonPartCount + p)] = ParsePart(ini->ReadString(kStateSections[s], kPartKeys[p], {}));
  TextColor = StrToColor32Def(UTF8Encode(ini->ReadString(u"TextParams", u"Color", {})), MakeColor32(0, 0, 0, 255));
  BtnOffset = float(ini->ReadFloat(u"TextParams", u"BtnOffset", 0));
  BtnMinWidth = float(ini->ReadFloat(u"TextParams", u"BtnMinWidth", 0));
  const WideString filtering = Trim(ini->ReadString(u"TextParams", u"Filtering", {}));
  Filtering = SameText(filtering, u"Nearest") ? bfNearest : SameText(filtering, u"Bilinear") ? bfBilinear : bfDefault;
  SkinWidth = Part(0, bpRight).Right;
  SkinHeight = Part(0, bpBottom).Bottom;
  Loaded = true;
}

TRef<TImage> TButtonProducer::GetPicture(const TButtonPart& part) {
  THashBitmaps* cache = gHashBitmaps;
  if (!cache) return nullptr;
  const WideString name = SkinName + u"\\" + part.FileName;
  if (TRef<TImage> cached = cache->FindImage(name)) return cached;
  if (!Loader) return nullptr;
  TRef<TImage> loaded;
  try {
    loaded = Loader(name);
  } catch (const Exception&) {
    return nullptr;  // a picture that cannot be loaded is missing
  }
  // A failure is not cached: the file may appear later.
  return loaded ? cache->AddImage(name, loaded.get()) : nullptr;
}

TRef<TImage> TButtonProducer::ErrorImage(const WideString& message, const WideString& name) {
  std::lock_guard<std::mutex> g(textLock_);
  try {
    TRef<TStringList> lines = MakeRef<TStringList>();
    lines->Add(message);
    TRef<TVectorText> text = CreateVectorText(ErrorFont(), *lines);
    if (!text || !TextProducer || !GetSysBitmapHook) return nullptr;
    TextProducer->SetText(text.get(), false);
    TRef<TDirectBitmap> bitmap =
        TextProducer->Render(TColor32::FromValue(0xFFFFFF00), TColor32::FromValue(0xFF0000FF), 1.0);
    TextProducer->SetText(nullptr, false);
    if (!bitmap) return nullptr;
    return GetSysBitmapHook(bitmap.Detach(), true, name);
  } catch (const Exception&) {
    return nullptr;  // no usable font
  }
}

TRef<TImage> TButtonProducer::MakeBitmap(std::uint8_t state, std::int32_t width, std::int32_t hue,
                                         std::int32_t saturation, std::int32_t lightness) {
  if (state >= kButtonStateCount || width < 1 || width > kMaxButtonWidth) return nullptr;
  const WideString key = MakeButtonKey(SkinName, state, width, hue, saturation, lightness);
  if (!gHashBitmaps) return ErrorImage(u"FileOpenError", key);

  const std::int64_t w = width, h = SkinHeight;
  const TButtonPart* parts = &Parts[std::size_t(state) * kButtonPartCount];
  const auto partWidth = [](const TButtonPart& p) { return std::int64_t(p.Right) - p.Left; };
  const auto partHeight = [](const TButtonPart& p) { return std::int64_t(p.Bottom) - p.Top; };
  // The middle span that the centre and the edges stretch over.
  const std::int64_t l = Part(0, bpLeft).Right, r = w - partWidth(parts[bpRight]);
  const std::int64_t t = parts[bpTop].Bottom, b = h - partHeight(parts[bpBottom]);

  TRef<TDirectBitmap> face;
  TPixels src;
  bool cancel = false;
  // One pixel, when both ends lie inside their bitmaps (skin rectangles come from files).
  const auto put = [&](std::int64_t x, std::int64_t y, std::int64_t sx, std::int64_t sy) {
    if (x >= 0 && y >= 0 && x < w && y < h && src.Has(sx, sy))
      face->Row32(std::int32_t(y))[std::size_t(x)] = src.At(sx, sy);
  };
  const auto columnDone = [&] {
    if (Progress) Progress(this, cancel);
    return !cancel;
  };
  // Copies the source rectangle [sx0, sx1) x [sy0, sy1), shifted by (dx, dy).
  const auto copyRect = [&](std::int64_t sx0, std::int64_t sx1, std::int64_t sy0, std::int64_t sy1, std::int64_t dx,
                            std::int64_t dy) {
    sx0 = std::max<std::int64_t>(sx0, 0), sx1 = std::min<std::int64_t>(sx1, src.W);
    sy0 = std::max<std::int64_t>(sy0, 0), sy1 = std::min<std::int64_t>(sy1, src.H);
    for (std::int64_t sx = sx0; sx < sx1; ++sx) {
      for (std::int64_t sy = sy0; sy < sy1; ++sy) put(sx + dx, sy + dy, sx, sy);
      if (!columnDone()) return false;
    }
    return true;
  };
  // Columns L..R-1 of rows [y0, y1) all take the source column SX, moved down by DY.
  const auto stretch = [&](std::int64_t sx, std::int64_t y0, std::int64_t y1, std::int64_t dy) {
    y0 = std::max<std::int64_t>(y0, 0), y1 = std::min<std::int64_t>(y1, src.H);
    for (std::int64_t x = std::max<std::int64_t>(l, 0); x < std::min(r, w); ++x) {
      for (std::int64_t y = y0; y < y1; ++y) put(x, y + dy, sx, y);
      if (!columnDone()) return false;
    }
    return true;
  };

  static constexpr std::int32_t kOrder[kButtonPartCount] = {bpCenter,  bpTop,      bpBottom,      bpLeft,      bpRight,
                                                            bpLeftTop, bpRightTop, bpRightBottom, bpLeftBottom};
  for (std::int32_t index : kOrder) {
    const TButtonPart& p = parts[index];
    TRef<TImage> picture = GetPicture(p);
    bool ok = false;
    try {
      ok = picture && ReadPixels(picture.get(), src) && src.W == SkinWidth && src.H == SkinHeight;
    } catch (const Exception&) {
      ok = false;  // a damaged picture is as good as a missing one
    }
    if (!ok) return ErrorImage(u"Incorrect Image: " + p.FileName, key);
    if (!face) {
      if (w * h > kMaxButtonPixels || !BitmapSizeAllowed(width, SkinHeight, PixelFormatByName(PF_A8R8G8B8)))
        return nullptr;
      face = MakeRef<TDirectBitmap>(width, PixelFormatByName(PF_A8R8G8B8), SkinHeight);
    }
    bool going = true;
    switch (index) {
      case bpCenter:
        going = stretch(p.Left, t, b, 0);
        break;
      case bpTop:
        going = stretch(p.Left, p.Top, p.Bottom, 0);
        break;
      case bpBottom:
        going = stretch(p.Left, p.Top, p.Bottom, b - p.Top);
        break;
      case bpLeft:
        going = copyRect(p.Left, p.Right, t, b, 0, 0);
        break;
      case bpRight:
        going = copyRect(p.Left, p.Right, t, b, r - p.Left, 0);
        break;
      case bpLeftTop:
        going = copyRect(p.Left, p.Right, p.Top, p.Bottom, 0, 0);
        break;
      case bpRightTop:
        going = copyRect(p.Left, p.Right, p.Top, p.Bottom, r - p.Left, 0);
        break;
      case bpRightBottom:
        going = copyRect(p.Left, p.Right, p.Top, p.Bottom, r - p.Left, b - p.Top);
        break;
      case bpLeftBottom:
        going = copyRect(p.Left, p.Right, p.Top, p.Bottom, 0, b - p.Top);
        break;
      default:
        break;
    }
    if (!going) return nullptr;
  }
  AdjustHSL(face.get(), TRect{0, 0, width, SkinHeight}, nullptr, hue, saturation, lightness);
  if (!GetSysBitmapHook) return nullptr;
  return GetSysBitmapHook(face.Detach(), true, key);
}

// ============================================================================
// TButtonProducerHost
// ============================================================================

TButtonProducerHost::TButtonProducerHost(const ButtonPictureLoader& loader, const ButtonProgressCallback& progress)
    : Loader(loader), Progress(progress) {}

void TButtonProducerHost::Dispose() {
  std::vector<TRef<TButtonProducer>> producers;
  {
    std::lock_guard<std::mutex> g(lock_);
    producers.swap(producers_);
  }
  producers.clear();
  Loader = nullptr;
  Progress = nullptr;
  TRefObject::Dispose();
}

TButtonProducer* TButtonProducerHost::GetProducer(const WideString& skinName) {
  std::lock_guard<std::mutex> g(lock_);
  for (std::size_t i = producers_.size(); i-- > 0;)
    if (producers_[i]->SkinName == skinName) return producers_[i].get();
  TRef<TButtonProducer> producer = MakeRef<TButtonProducer>(Loader, Progress);
  producer->SkinName = skinName;
  producers_.push_back(producer);
  return producer.get();
}

std::int32_t TButtonProducerHost::ProducerCount() {
  std::lock_guard<std::mutex> g(lock_);
  return std::int32_t(producers_.size());
}

// ============================================================================
// Module
// ============================================================================

void InitButtonProducer() {
  if (!gHashBitmaps) gHashBitmaps = MakeRef<THashBitmaps>().Detach();
}

void FiniButtonProducer() {
  THashBitmaps* cache = std::exchange(gHashBitmaps, nullptr);
  if (cache) cache->Free();
}

}  // namespace zm
