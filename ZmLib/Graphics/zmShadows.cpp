#include "ZmLib/Graphics/zmShadows.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <numbers>
#include <vector>

#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/SysBitmapUtils.h"
#include "ZmLib/Graphics/SysPixelFormat.h"
#include "ZmLib/wpLoadCallBack.h"

namespace zm {

namespace {

// Round half to even, held to a range every size and position fits in.
std::int32_t RoundI(double v) {
  if (!(v == v)) return 0;
  return std::int32_t(std::nearbyint(std::clamp(v, -1e9, 1e9)));
}

// The working radius from which a shadow is kept at half its working size.
constexpr double kKeptHalfFromRadius = 4.0;

TRef<TSysBitmap> NewMask(std::int32_t w, std::int32_t h) {
  TPixelFormat* f = PixelFormatByName(PF_A8);
  if (!BitmapSizeAllowed(w, h, f)) throw Exception("Shadow mask too large");
  return CreateSysBitmap(w, h, f);
}

TRef<TSysBitmap> NewBitmap32(std::int32_t w, std::int32_t h) {
  TPixelFormat* f = PixelFormatByName(PF_A8R8G8B8);
  if (!BitmapSizeAllowed(w, h, f)) throw Exception("Shadow bitmap too large");
  return CreateSysBitmap(w, h, f);
}

// Passes the resampler's polls on and remembers a cancel.
struct TPollRelay {
  TStretchCallback Callback;
  void* Data;
  bool Cancelled = false;
  static void Call(void* relay, void* sender, bool& cancel) {
    auto* r = static_cast<TPollRelay*>(relay);
    if (r->Callback) r->Callback(r->Data, sender, cancel);
    if (cancel) r->Cancelled = true;
  }
};

struct TVec {
  double X = 0, Y = 0, Z = 0;
};
TVec Vec(const TFloatPoint3& p) { return {p.X, p.Y, p.Z}; }
TFloatPoint3 Pt(const TVec& v) { return {float(v.X), float(v.Y), float(v.Z)}; }
TVec operator+(const TVec& a, const TVec& b) { return {a.X + b.X, a.Y + b.Y, a.Z + b.Z}; }
TVec operator-(const TVec& a, const TVec& b) { return {a.X - b.X, a.Y - b.Y, a.Z - b.Z}; }
TVec operator*(const TVec& a, double s) { return {a.X * s, a.Y * s, a.Z * s}; }
double Length(const TVec& v) { return std::sqrt(v.X * v.X + v.Y * v.Y + v.Z * v.Z); }

}  // namespace

TShadowWorkScale ShadowWorkScale(const TShadowParams& p) {
  TShadowWorkScale s;
  s.W = double(p.Right - p.Left) + 2.0 * p.MarginX;
  s.H = double(p.Bottom - p.Top) + 2.0 * p.MarginY;
  if (!std::isfinite(s.W) || !std::isfinite(s.H)) return s;
  while (s.W * s.H >= 700000.0) {
    s.W /= 2;
    s.H /= 2;
    s.K *= 2;
    ++s.Halvings;
  }
  while (s.W >= 10000.0 || s.H >= 10000.0) {
    s.W /= 2;
    s.H /= 2;
    s.K *= 2;
    ++s.Halvings;
  }
  // The blur pads the silhouette by Ceil(2.5 r) on every side (r as
  // TDropShadow holds it): a blur wide for its object would make the
  // picture many times the object's size, so it is worked smaller still.
  auto added = [&] {
    double r = double(p.Blur) / s.K + 1.0;
    if (!(r > 0)) r = 1.0;
    const double m = 2.0 * std::ceil(std::clamp(r, 1.0, kMaxShadowBlur) * 2.5);
    return (s.W + m) * (s.H + m) - s.W * s.H;
  };
  while (std::min(s.W, s.H) >= 1.0 && added() >= 700000.0) {
    s.W /= 2;
    s.H /= 2;
    s.K *= 2;
    ++s.Halvings;
  }
  // The radius as the drop shadow holds it.
  const double r = double(p.Blur) / s.K + 1.0;
  if (r >= kKeptHalfFromRadius && std::isfinite(r)) s.KeptHalf = true;
  return s;
}

double NormalizeRectShadowParams(TShadowParams& p) {
  ZM_ASSERT(p.Left == 0 && p.Top == 0, "TShadow.NormalizeParams - Rect must start at 0, 0");
  const double area = (double(p.Right) + 2.0 * p.MarginX) * (double(p.Bottom) + 2.0 * p.MarginY);
  if (!(area > 0) || !std::isfinite(area)) return 1.0;
  const double s = std::sqrt(40000.0 / area);
  p.Right = float(RoundI(p.Right * s));
  p.Bottom = float(RoundI(p.Bottom * s));
  p.MarginX = float(RoundI(p.MarginX * s));
  p.MarginY = float(RoundI(p.MarginY * s));
  return s;
}

// ---- TDropShadow -----------------------------------------------------------------------

namespace {

// The table of a contour, made once for each contour met (a show uses a
// few): a shadow at a time would otherwise make it again.
void ContourLut(const std::array<std::uint8_t, 256>& contour, std::array<std::uint8_t, 4096>& lut) {
  struct TMade {
    std::array<std::uint8_t, 256> Contour;
    std::array<std::uint8_t, 4096> Lut;
  };
  // Never destroyed: a shadow may be made while the program ends.
  static std::mutex* lock = new std::mutex;
  static std::vector<TMade>* made = new std::vector<TMade>;
  constexpr std::size_t kKept = 16;
  {
    std::lock_guard<std::mutex> g(*lock);
    for (const TMade& m : *made)
      if (m.Contour == contour) {
        lut = m.Lut;
        return;
      }
  }
  TDropShadow::BuildContourLut(contour, lut);
  std::lock_guard<std::mutex> g(*lock);
  if (made->size() >= kKept) made->erase(made->begin());
  made->push_back({contour, lut});
}

}  // namespace

TDropShadow::TDropShadow() = default;

void TDropShadow::Dispose() {
  small_ = nullptr;
  result_ = nullptr;
  TRefObject::Dispose();
}

void TDropShadow::BuildContourLut(const std::array<std::uint8_t, 256>& c, std::array<std::uint8_t, 4096>& lut) {
  for (std::int32_t i = 0; i < 4096; ++i) {
    const std::int32_t j = i * 255 / 4095;
    const std::int32_t j2 = std::min(j + 1, 255);
    if (j2 == j) {  // the last entry has no right neighbour to blend with
      lut[std::size_t(i)] = c[std::size_t(j)];
      continue;
    }
    const double v = (c[std::size_t(j)] * (j2 * 4095.0 / 255.0 - i) + c[std::size_t(j2)] * (i - j * 4095.0 / 255.0)) *
                     255.0 / 4095.0;
    lut[std::size_t(i)] = std::uint8_t(std::clamp(RoundI(v), 0, 255));
  }
}

bool TDropShadow::Make(TSysBitmap* mask) {
  ZM_ASSERT(mask && (mask->BytesPerPixel() == 1 || mask->BytesPerPixel() == 4),
            "TDropShadow.Make - Unsupported PixelFormat");
  small_ = nullptr;
  result_ = nullptr;
  double r = blurRadius_;
  if (!(r > 0)) r = 1.0;
  // Below 1 the first pass would enlarge; far above the picture it only costs.
  r = std::clamp(r, 1.0, kMaxShadowBlur);
  const std::int32_t m = std::int32_t(std::ceil(r * 2.5));
  const std::int32_t w = mask->Width(), h = mask->Height();
  TRef<TSysBitmap> a = NewMask(w + 2 * m, h + 2 * m);
  for (std::int32_t y = 0; y < a->Height(); ++y) std::fill_n(a->ScanLine(y), a->Width(), std::uint8_t(0));

  TPollRelay relay{Progress, ProgressData};
  for (std::int32_t y = 0; y < h; ++y) {
    std::uint8_t* d = a->ScanLine(y + m) + m;
    if (mask->BytesPerPixel() == 1) {
      std::copy_n(mask->ScanLine(y), w, d);
    } else {
      const std::uint8_t* s = mask->ScanLine(y);
      for (std::int32_t x = 0; x < w; ++x) d[x] = s[4 * x + 3];
    }
    bool cancel = false;
    TPollRelay::Call(&relay, this, cancel);
    if (cancel) return false;
  }

  small_ = NewMask(RoundI(a->Width() / r) + 1, RoundI(a->Height() / r) + 1);
  Stretch(a.get(), small_.get(), SplineFilter, TPollRelay::Call, &relay, {}, this, float(1.0 / r), 2.0f);
  if (relay.Cancelled) return false;

  std::array<std::uint8_t, 4096> lut;
  std::span<const std::uint8_t> table;
  if (contour_.Initialized()) {
    ContourLut(contour_.Table(), lut);
    table = lut;
  }
  if (!KeptHalf) {
    result_ = NewMask(a->Width(), a->Height());
    Stretch(small_.get(), result_.get(), SplineFilter, TPollRelay::Call, &relay, table, this, float(r), 2.0f);
    return !relay.Cancelled;
  }
  // Made at half size: each kept pixel where the full-size ones it stands
  // for would be, the blur the same.
  result_ = NewMask((a->Width() + 1) / 2, (a->Height() + 1) / 2);
  const TSharedContributions cols = SharedContributions(a->Width(), small_->Width(), SplineFilter, float(r), 2.0f, true);
  StretchLists(
      small_.get(), result_.get(), *cols,
      [&] { return SharedContributions(a->Height(), small_->Height(), SplineFilter, float(r), 2.0f, true); },
      TPollRelay::Call, &relay, table, this);
  return !relay.Cancelled;
}

// ---- TShadowProducer -------------------------------------------------------------------

TShadowProducer::TShadowProducer() : dropShadow_(MakeRef<TDropShadow>()) {}

void TShadowProducer::Dispose() {
  dropShadow_ = nullptr;
  TRefObject::Dispose();
}

void TShadowProducer::SetBlurRadius(double radius) {
  blurRadius_ = radius;
  dropShadow_->SetBlurRadius(radius);
}

void TShadowProducer::SetContour(std::int32_t preset) { dropShadow_->Contour().SelectPreset(preset); }

TRef<TImage> TShadowProducer::Make(TImage* image) {
  TRef<TSysBitmap> out = MakeBitmap(image);
  return out ? SysBitmapToImage(out.get(), false, image->Params.FileName) : nullptr;
}

TRef<TSysBitmap> TShadowProducer::MakeBitmap(TImage* image) {
  if (!image || !image->Store()) return nullptr;
  TBitmap* level = image->Store()->GetMipLevel(0, PixelFormatByName(PF_A8R8G8B8), TSysBitmap::StaticClass());
  auto* source = dynamic_cast<TSysBitmap*>(level);
  if (!source) return nullptr;
  dropShadow_->Progress = Progress;
  dropShadow_->ProgressData = ProgressData;
  if (!dropShadow_->Make(source)) return nullptr;
  TSysBitmap* mask = dropShadow_->Result();
  TRef<TSysBitmap> out = NewBitmap32(mask->Width(), mask->Height());
  const std::uint32_t alpha = Color >> 24, rgb = Color & 0x00FFFFFFu;
  std::array<std::uint32_t, 256> pixel;  // the pixel of each coverage
  for (std::uint32_t v = 0; v < 256; ++v) pixel[v] = ((alpha * v / 255) << 24) | rgb;
  for (std::int32_t y = 0; y < mask->Height(); ++y) {
    const std::uint8_t* s = mask->ScanLine(y);
    std::uint32_t* d = out->Row32(y);
    for (std::int32_t x = 0; x < mask->Width(); ++x) d[x] = pixel[s[x]];
  }
  return out;
}

// ---- TShadowGenerator ------------------------------------------------------------------

TShadowGenerator::TShadowGenerator() : producer_(MakeRef<TShadowProducer>()) {}

void TShadowGenerator::Dispose() {
  producer_ = nullptr;
  TRefObject::Dispose();
}

namespace {

// The kept shadow picture: level 0 is the one made; once let go (its
// textures hold it) it is made again from the same parameters and picture.
class TShadowStore : public TSysBitmapStore {
public:
  TShadowStore(const WideString& name, TSysBitmap* made, const TShadowParams& params, const TImageAccessor& accessor)
      : TSysBitmapStore(name, TImageLoadHandler{}, {made->Width(), made->Height()}, made->PixelFormat()),
        made_(made),
        params_(params),
        accessor_(accessor) {}
  void Dispose() override {
    made_ = nullptr;
    accessor_ = nullptr;
    TSysBitmapStore::Dispose();
  }
  // A shadow of a named picture needs the accessor to find it again.
  bool RemakesLevels() const override { return accessor_ || params_.Name == kNoPictureName; }
  void GetSourceLevel(std::int32_t level, TMipLevelResult& result) override {
    if (level != 0) return;
    TRef<TSysBitmap> b = std::move(made_);
    if (!b) b = MakeRef<TShadowGenerator>()->MakeBitmap(params_, accessor_);
    const TPoint size = Size();
    if (!b || b->Width() != size.X || b->Height() != size.Y) {
      // The picture it was made from is gone: the shadow shows nothing.
      b = NewBitmap32(size.X, size.Y);
      b->FillRect({0, 0, size.X, size.Y}, TColor32{});
    }
    result.Bitmap = b;
    result.Owned = true;
    result.Level = 0;
  }

private:
  TRef<TSysBitmap> made_;
  TShadowParams params_;
  TImageAccessor accessor_;
};

}  // namespace

TRef<TImage> TShadowGenerator::MakeShadow(const TShadowParams& p, const TImageAccessor& accessor) {
  TRef<TSysBitmap> made = MakeBitmap(p, accessor);
  if (!made) return nullptr;
  return MakeRef<TImage>(MakeRef<TShadowStore>(MakeShadowKey(p), made.get(), p, accessor).get());
}

TRef<TSysBitmap> TShadowGenerator::MakeBitmap(const TShadowParams& p, const TImageAccessor& accessor) {
  const TShadowWorkScale ws = ShadowWorkScale(p);
  if (!(ws.W >= 0.5 && ws.H >= 0.5) || !std::isfinite(ws.W) || !std::isfinite(ws.H)) return nullptr;
  const std::int32_t w = std::max(RoundI(ws.W), 1), h = std::max(RoundI(ws.H), 1);
  const double k = ws.K;
  TRef<TSysBitmap> bmp = NewBitmap32(w, h);
  bmp->FillRect({0, 0, w, h}, TColor32::FromValue(std::uint32_t(std::clamp(p.BackAlpha, 0, 255)) << 24));

  if (p.Name != kNoPictureName) {
    TRef<TImage> picture = accessor ? accessor(p.Name) : nullptr;
    TBitmap* level = nullptr;
    if (picture && picture->Store())
      level = picture->Store()->GetMipLevel(std::clamp(p.MipLevel, 0, kMaxMipLevel),
                                            PixelFormatByName(PF_A8R8G8B8), TSysBitmap::StaticClass());
    if (auto* src = dynamic_cast<TSysBitmap*>(level)) {
      TRect cut{std::max(RoundI(p.Left), 0), std::max(RoundI(p.Top), 0), std::min(RoundI(p.Right), src->Width()),
                std::min(RoundI(p.Bottom), src->Height())};
      if (cut.Right > cut.Left && cut.Bottom > cut.Top) {
        TRef<TSysBitmap> cur = MakeRef<TCropBitmap>(cut, false, src);
        for (std::int32_t i = 0; i < ws.Halvings; ++i) {
          TRef<TSysBitmap> half = NewBitmap32((cur->Width() + 1) / 2, (cur->Height() + 1) / 2);
          HalveBitmap32(cur.get(), half.get());
          cur = half;
        }
        const std::int32_t x = RoundI(p.MarginX / k), y = RoundI(p.MarginY / k);
        bmp->CopyRect({x, y, x + cur->Width(), y + cur->Height()}, cur.get(), pmNone, {0, 0});
      }
    }
  } else if (p.StartOpacity == 255 && p.EndOpacity == 255) {
    bmp->FillRect({RoundI(p.MarginX / k), RoundI(p.MarginY / k), RoundI(ws.W - p.MarginX / k),
                   RoundI(ws.H - p.MarginY / k)},
                  TColor32::FromValue(0xFF000000u));
  } else if (p.Direction <= 7) {
    const std::int32_t b1 = p.StartOpacity, b2 = p.EndOpacity;
    for (std::int32_t r = 0; r < h; ++r) {
      std::uint32_t* row = bmp->Row32(r);
      for (std::int32_t x = 0; x < w; ++x) {
        std::int32_t t = 0, d = 1;
        switch (p.Direction) {
          case 0: t = x + r, d = w + h; break;
          case 1: t = (w - 1 - x) + r, d = w + h; break;
          case 2: t = (w - 1 - x) + (h - 1 - r), d = w + h; break;
          case 3: t = x + (h - 1 - r), d = w + h; break;
          case 4: t = h - 1 - r, d = h; break;
          case 5: t = r, d = h; break;
          case 6: t = x, d = w; break;
          default: t = w - 1 - x, d = w; break;
        }
        row[x] = std::uint32_t(b1 + (b2 - b1) * t / d) << 24;
      }
      if (LoadCallbackProc && !LoadCallbackProc()) break;
    }
  }

  TRef<TImage> silhouette = SysBitmapToImage(bmp.get(), false, MakeShadowKey(p));
  producer_->SetBlurRadius(p.Blur / k);
  producer_->DropShadow()->KeptHalf = ws.KeptHalf;
  producer_->Color = 0xFFFFFFFFu;
  producer_->SetContour(p.Contour);
  return producer_->MakeBitmap(silhouette.get());
}

// ---- TShadow ---------------------------------------------------------------------------

namespace {

// The reduction the generator works the key's picture at: that of the
// parameters as read back from the key, whose blur is the scaled one.
double KeyWorkScale(const WideString& key) {
  TShadowParams q;
  ParseShadowKey(key, q);
  return ShadowWorkScale(q).KeptScale();
}

}  // namespace

void TShadow::Dispose() {
  image_ = nullptr;
  TRefObject::Dispose();
}

TRef<TShadow> TShadow::CreateImageShadow(const TShadowParams& params, TBitmap* bitmap, const TImageAccessor& accessor,
                                         float scale) {
  return CreateImageShadowOfFormat(params, bitmap ? bitmap->PixelFormat() : nullptr, accessor, scale);
}

TRef<TShadow> TShadow::CreateImageShadowOfFormat(const TShadowParams& params, const TPixelFormat* f,
                                         const TImageAccessor& accessor, float scale) {
  TRef<TShadow> s = MakeRef<TShadow>();
  s->params_ = params;
  const bool alpha = f && f->BytesPerPixel == 4 && f->HasAlpha;
  TShadowParams key = params;
  if (!alpha || params.Name.empty() || params.IgnoreAlpha) key.Name = kNoPictureName;
  key.Blur = params.Blur * scale;
  s->key_ = MakeShadowKey(key);
  s->workScale_ = KeyWorkScale(s->key_);
  if (accessor) s->image_ = accessor(s->key_);
  return s;
}

TRef<TShadow> TShadow::CreateRectShadow(const TShadowParams& params, const TImageAccessor& accessor) {
  TRef<TShadow> s = MakeRef<TShadow>();
  TShadowParams p = params;
  p.Name = kNoPictureName;
  s->DistanceScale = NormalizeRectShadowParams(p);
  s->params_ = p;
  s->isRect_ = 1;
  TShadowParams key = p;
  key.Blur = float(std::sqrt(std::max(0.0, double(p.Right) * p.Bottom)) * p.Blur / 400.0);
  s->key_ = MakeShadowKey(key);
  s->workScale_ = KeyWorkScale(s->key_);
  if (accessor) s->image_ = accessor(s->key_);
  return s;
}

bool TShadow::SameParams(const TShadowParams& params) const {
  TShadowParams q = params;
  if (isRect_) {
    if (q.Left != 0 || q.Top != 0) return false;
    q.Name = kNoPictureName;
    NormalizeRectShadowParams(q);
  }
  const float a = q.Blur, b = params_.Blur;
  const bool blurSame = a == b || std::fabs(double(a) - b) <= 1e-4 * std::max(1.0, std::fabs(double(b)));
  q.Blur = params_.Blur;
  return blurSame && q == params_;
}

void TShadow::Draw(ShadowDrawer* drawer, const TFloatPoint3& origin, const TFloatPoint3& xAxis,
                   const TFloatPoint3& yAxis, std::uint32_t colour, float opacity, float angle, float distance,
                   float texScale) {
  if (!(opacity > 0) || !drawer || !image_) return;
  TShadowDrawRecord rec = drawer->DefaultRecord();
  rec.Opacity = opacity;
  rec.Red = std::uint8_t(colour >> 16);
  rec.Green = std::uint8_t(colour >> 8);
  rec.Blue = std::uint8_t(colour);

  const double m = std::ldexp(1.0, std::clamp(params_.MipLevel, 0, kMaxMipLevel));
  const double w0 = double(params_.Right - params_.Left) + 2.0 * params_.MarginX;
  const double h0 = double(params_.Bottom - params_.Top) + 2.0 * params_.MarginY;
  TVec o = Vec(origin), x = Vec(xAxis), y = Vec(yAxis);
  if (isRect_) {
    if (!(w0 > 0) || !(h0 > 0)) return;
    x = x * (1.0 / w0);
    y = y * (1.0 / h0);
  }
  const double lx = Length(x), ly = Length(y);
  const double d = double(distance) * DistanceScale * std::sqrt(lx * ly) / 100.0;
  const double a = double(angle) * std::numbers::pi / 180.0;
  if (!params_.OffsetAlongAxes)
    o = o + TVec{std::cos(a) * d, std::sin(a) * d, 0};
  else {
    if (lx > 0) o = o + x * (std::cos(a) * d / lx);
    if (ly > 0) o = o + y * (std::sin(a) * d / ly);
  }
  // The picture is worked at 1/k of the size and is larger than w0 x h0 by
  // the blur's margins: put its top-left that far out.
  const double k = workScale_;
  const double ex = (k * image_->Params.Width - w0) / 2.0 * m;
  const double ey = (k * image_->Params.Height - h0) / 2.0 * m;
  o = o - x * ex - y * ey;
  x = x * (k * m);
  y = y * (k * m);
  drawer->DrawImage(image_.get(), rec, Pt(o), Pt(x), Pt(y), float(texScale / (k * m)));
}

void TShadow::Precache(ShadowDrawer* drawer) {
  if (drawer && image_) drawer->Precache(image_.get());
}

void TShadow::ReleaseCache(ShadowDrawer* drawer) {
  if (drawer && image_) drawer->ReleaseCache(image_.get());
}

}  // namespace zm
