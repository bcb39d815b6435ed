#include "ZmLib/Graphics/SysPixelFormat.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/zmLists.h"

namespace zm {

TPixelFormat* pfY8 = nullptr;
TPixelFormat* pfA8 = nullptr;
TPixelFormat* pfR8G8B8 = nullptr;
TPixelFormat* pfA8R8G8B8 = nullptr;
TPixelFormat* pfB8G8R8 = nullptr;
TPixelFormat* pfA8B8G8R8 = nullptr;
TPixelFormat* pfB5G6R5 = nullptr;
TPixelFormat* pfB5G5R5X1 = nullptr;
TPixelFormat* pfX8B8G8R8 = nullptr;
TPixelFormat* pfA8r8g8b8 = nullptr;
TPixelFormat* pfA8b8g8r8 = nullptr;

namespace {

template <class T, class... A>
T* Make(A&&... args) {
  return MakeRef<T>(std::forward<A>(args)...).Detach();
}

constexpr std::int32_t kRegistryBuckets = 251;
constexpr std::int64_t kMaxBitsPerPixel = std::int64_t(1) << 24;

// The registry and the lock that guards it. Slide loaders look formats up
// while the UI thread does, so every access goes through the lock.
std::mutex gLock;
THashList* gRegistry = nullptr;

// A registered converter with the pair it was registered for: different
// pairs may share a key text when names contain "->".
class TConverterEntry : public TRefObject {
public:
  TConverterEntry(TPixelFormat* target, TPixelFormat* source, TPixelConverter* converter)
      : Target(target), Source(source), Converter(converter) {}
  void Dispose() override {
    FreeAndNil(Converter);
    TRefObject::Dispose();
  }
  TPixelFormat* Target;
  TPixelFormat* Source;
  TPixelConverter* Converter;
};

// Keys hold one character per byte, so every byte name has a key of its own.
WideString KeyOf(std::string_view bytes) {
  WideString k(bytes.size(), u'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) k[i] = static_cast<unsigned char>(bytes[i]);
  return k;
}

WideString PairKey(const TPixelFormat* target, const TPixelFormat* source) {
  return KeyOf(source->Name.Str() + "->" + target->Name.Str());
}

std::uint8_t KindOf(std::uint8_t c) {
  switch (c) {
    case 'R': case 'r': return ckR;
    case 'G': case 'g': return ckG;
    case 'B': case 'b': return ckB;
    case 'A': case 'a': case 'Y': case 'y': return ckA;
    default: return ckX;
  }
}

bool IsChannelLetter(std::uint8_t c) {
  switch (c) {
    case 'R': case 'r': case 'G': case 'g': case 'B': case 'b':
    case 'A': case 'a': case 'Y': case 'y': case 'X': case 'x': return true;
    default: return false;
  }
}

// The channels of a format, from a TCommonPixelFormat's list or its name.
std::vector<TPixelChannel> ChannelsOf(const TPixelFormat* f) {
  if (auto c = dynamic_cast<const TCommonPixelFormat*>(f)) return c->Channels;
  return ParsePixelChannels(f->Name);
}

std::uint64_t LowBits(std::int32_t width) {
  return width >= 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << width) - 1;
}

std::uint64_t ShiftRight(std::uint64_t v, std::int32_t n) { return n >= 64 ? 0 : v >> n; }

std::uint64_t ReadWord(const std::uint8_t* p, std::int32_t size) {
  std::uint64_t w = 0;
  for (std::int32_t i = std::min(size, 8) - 1; i >= 0; --i) w = (w << 8) | p[i];
  return w;
}

void WriteWord(std::uint8_t* p, std::int32_t size, std::uint64_t w) {
  std::int32_t n = std::min(size, 8);
  for (std::int32_t i = 0; i < n; ++i, w >>= 8) p[i] = std::uint8_t(w);
  if (size > n) std::memset(p + n, 0, std::size_t(size - n));
}

// A source value of sw bits as a value of tw bits: the high bits when
// narrowing, shifted up with the new low bits set when widening.
std::uint64_t Rescale(std::uint64_t v, std::int32_t sw, std::int32_t tw) {
  if (v == 0) return 0;
  tw = std::min(tw, 64);
  const std::int32_t d = tw - sw;
  if (d == 0) return v;
  if (d < 0) return v >> -d;
  return (v << d) | LowBits(d);
}

TPixelFormat* FindPixelFormatLocked(const TByteString& name) {
  ZM_ASSERT(gRegistry, "FindPixelFormat - Registry not Initialized");
  TKeyItem* item = gRegistry->GetItem(KeyOf(name.View()));
  for (std::int32_t i = 0; i < item->Count(); ++i)
    if (auto f = dynamic_cast<TPixelFormat*>(item->Get(i)); f && f->Name == name) return f;
  TRef<TCommonPixelFormat> f = MakeRef<TCommonPixelFormat>();
  f->ParseName(name);
  item->Add(f.get());
  return f.Detach();
}

TConverterEntry* FindEntryLocked(TPixelFormat* target, TPixelFormat* source, TKeyItem*& item) {
  item = gRegistry->GetItem(PairKey(target, source));
  for (std::int32_t i = 0; i < item->Count(); ++i)
    if (auto e = dynamic_cast<TConverterEntry*>(item->Get(i)); e && e->Target == target && e->Source == source)
      return e;
  return nullptr;
}

// Returns the converter it replaced, for the caller to free outside the lock.
TPixelConverter* RegisterLocked(TPixelFormat* target, TPixelFormat* source, TPixelConverter* converter) {
  TKeyItem* item;
  if (TConverterEntry* e = FindEntryLocked(target, source, item)) {
    TPixelConverter* old = e->Converter;
    e->Converter = converter;
    return old != converter ? old : nullptr;
  }
  item->Add(Make<TConverterEntry>(target, source, converter));
  return nullptr;
}

void Register(const char* target, const char* source, TPixelConverter* converter) {
  RegisterPixelConverter(FindPixelFormat(target), FindPixelFormat(source), converter);
}

}  // namespace

// ---- Formats -------------------------------------------------------------------------

std::vector<TPixelChannel> ParsePixelChannels(const TByteString& name) {
  std::vector<TPixelChannel> list;
  list.reserve(std::min<std::size_t>(std::size_t(name.Length()), 64));
  bool pending = false;
  std::uint8_t kind = ckX;
  std::int32_t i = 0;
  const std::int32_t n = name.Length();
  while (i < n) {
    const std::uint8_t c = name.GetByte(i);
    if (IsChannelLetter(c)) {
      kind = KindOf(c);
      pending = true;
      ++i;
    } else if (c >= '0' && c <= '9' && pending) {
      std::int32_t width = 0;
      for (; i < n && name.GetByte(i) >= '0' && name.GetByte(i) <= '9'; ++i)
        width = std::min(width * 10 + (name.GetByte(i) - '0'), kMaxChannelWidth);
      list.push_back({kind, width});
      pending = false;
    } else {
      ++i;
    }
  }
  std::reverse(list.begin(), list.end());
  return list;
}

void TCommonPixelFormat::ParseName(const TByteString& name) {
  Name = name;
  Channels = ParsePixelChannels(name);
  std::int64_t bits = 0;
  bool color = false, alpha = false, packed = false;
  for (const TPixelChannel& ch : Channels) {
    bits = std::min(bits + ch.Width, kMaxBitsPerPixel);
    if (ch.Kind >= ckR && ch.Kind <= ckB) color = true;
    if (ch.Kind == ckA) alpha = true;
    if (ch.Kind == ckX) packed = false;
    if (ch.Width % 8 != 0) packed = true;
  }
  BitsPerPixel = std::int32_t(bits);
  BytesPerPixel = bits == 0 ? 1 : std::int32_t((bits - 1) / 8 + 1);
  HasAlpha = alpha;
  Packed = packed;
  Premultiplied = 0;
  ColorModel = !color ? cmNoColor : alpha ? cmColorAlpha : cmColor;
}

TPixelFormat* FindPixelFormat(const TByteString& name) {
  std::lock_guard<std::mutex> lock(gLock);
  return FindPixelFormatLocked(name);
}

void RegisterStdPixelFormats() {
  pfY8 = FindPixelFormat(PF_Y8);
  pfA8 = FindPixelFormat(PF_A8);
  pfR8G8B8 = FindPixelFormat(PF_R8G8B8);
  pfA8R8G8B8 = FindPixelFormat(PF_A8R8G8B8);
  pfB8G8R8 = FindPixelFormat(PF_B8G8R8);
  pfA8B8G8R8 = FindPixelFormat(PF_A8B8G8R8);
  pfB5G6R5 = FindPixelFormat(PF_B5G6R5);
  pfB5G5R5X1 = FindPixelFormat(PF_B5G5R5X1);
  pfX8B8G8R8 = FindPixelFormat(PF_X8B8G8R8);
  pfA8r8g8b8 = FindPixelFormat(PF_A8r8g8b8);
  pfA8b8g8r8 = FindPixelFormat(PF_A8b8g8r8);
  pfA8r8g8b8->Premultiplied = 1;
  pfA8b8g8r8->Premultiplied = 1;
}

// ---- Converters ------------------------------------------------------------------------

void TConvertOperator::Convert8(std::uint8_t* row, std::int32_t x, const std::uint8_t* buffer, std::int32_t offset,
                                std::int32_t count) const {
  if (count > 0) Convert(row + x, buffer + offset, count);
}

void TConvertOperator::Convert16(std::uint16_t* row, std::int32_t x, const std::uint8_t* buffer,
                                 std::int32_t offset, std::int32_t count) const {
  if (count > 0) Convert(row + x, buffer + offset, count);
}

void TConvertOperator::Convert24(TColor24* row, std::int32_t x, const std::uint8_t* buffer, std::int32_t offset,
                                 std::int32_t count) const {
  if (count > 0) Convert(row + x, buffer + offset, count);
}

void TConvertOperator::Convert32(std::uint32_t* row, std::int32_t x, const std::uint8_t* buffer,
                                 std::int32_t offset, std::int32_t count) const {
  if (count > 0) Convert(row + x, buffer + offset, count);
}

void TDirectConvertor::Convert(void* target, const void* source, std::int32_t count) const {
  if (count > 0) std::memmove(target, source, std::size_t(count) * std::size_t(BytesPerPixel));
}

TByteConvertor::TByteConvertor(const TPixelFormat* target, const TPixelFormat* source)
    : SourceSize(source->BytesPerPixel), TargetSize(target->BytesPerPixel) {
  std::vector<TPixelChannel> src = ChannelsOf(source), dst = ChannelsOf(target);
  std::int32_t position[5] = {-1, -1, -1, -1, -1};
  // Channel N is byte N; channels past the pixel's bytes (odd names) are left out.
  for (std::int32_t i = 0; i < std::int32_t(src.size()) && i < SourceSize; ++i)
    if (src[std::size_t(i)].Kind != ckX) position[src[std::size_t(i)].Kind] = i;
  for (std::int32_t j = 0; j < std::int32_t(dst.size()) && j < TargetSize; ++j) {
    const std::uint8_t k = dst[std::size_t(j)].Kind;
    if (k != ckX && position[k] >= 0) Pairs.push_back({position[k], j});
    else Constants.push_back({j, std::uint8_t(k == ckA ? 255 : 0)});
  }
  // Bytes that no channel reaches (wide channels) are written too, as 0.
  for (std::int32_t j = std::int32_t(dst.size()); j < TargetSize; ++j) Constants.push_back({j, 0});
}

void TByteConvertor::Convert(void* target, const void* source, std::int32_t count) const {
  auto* t = static_cast<std::uint8_t*>(target);
  auto* s = static_cast<const std::uint8_t*>(source);
  std::uint8_t pixel[8];
  const bool small = SourceSize <= 8;
  for (std::int32_t p = 0; p < count; ++p, t += TargetSize, s += SourceSize) {
    // A copy of the source pixel lets a conversion run in place.
    const std::uint8_t* sp = s;
    if (small) {
      std::memcpy(pixel, s, std::size_t(SourceSize));
      sp = pixel;
    }
    for (const TPair& pr : Pairs) t[pr.Target] = sp[pr.Source];
    for (const TConst& c : Constants) t[c.Target] = c.Value;
  }
}

TBitConvertor::TBitConvertor(const TPixelFormat* target, const TPixelFormat* source)
    : SourceChannels(ChannelsOf(source)),
      TargetChannels(ChannelsOf(target)),
      SourceSize(source->BytesPerPixel),
      TargetSize(target->BytesPerPixel) {
  for (const TPixelChannel& ch : SourceChannels)
    if (ch.Kind != ckX) SourceWidths[ch.Kind] = ch.Width;
  for (const TPixelChannel& ch : TargetChannels)
    if (ch.Kind != ckX) TargetWidths[ch.Kind] = ch.Width;
  struct TMade {
    std::int32_t Sw, Tw, Offset;
  };
  std::vector<TMade> made;
  for (std::int32_t k = ckR; k <= ckA; ++k) {
    const std::int32_t sw = SourceWidths[k], tw = TargetWidths[k];
    if (sw == 0 || tw == 0) {
      Constants[k] = k == ckA ? LowBits(tw) : 0;
      continue;
    }
    const std::int32_t iw = std::min(sw, kMaxTableBits);
    auto same = std::find_if(made.begin(), made.end(), [&](const TMade& m) { return m.Sw == iw && m.Tw == tw; });
    if (same != made.end()) {
      Offsets[k] = same->Offset;
      continue;
    }
    const std::int32_t offset = std::int32_t(Table.size());
    const std::uint64_t entries = std::uint64_t(1) << iw;
    Table.resize(Table.size() + entries);
    for (std::uint64_t v = 0; v < entries; ++v) Table[std::size_t(offset) + v] = Rescale(v, iw, tw);
    made.push_back({iw, tw, offset});
    Offsets[k] = offset;
  }
}

void TBitConvertor::Convert(void* target, const void* source, std::int32_t count) const {
  auto* t = static_cast<std::uint8_t*>(target);
  auto* s = static_cast<const std::uint8_t*>(source);
  for (std::int32_t p = 0; p < count; ++p, t += TargetSize, s += SourceSize) {
    std::uint64_t word = ReadWord(s, SourceSize);
    std::uint64_t value[5] = {};
    for (const TPixelChannel& ch : SourceChannels) {
      const std::uint64_t v = word & LowBits(ch.Width);
      word = ShiftRight(word, ch.Width);
      if (ch.Kind != ckX) value[ch.Kind] = ch.Width > kMaxTableBits ? ShiftRight(v, ch.Width - kMaxTableBits) : v;
    }
    std::uint64_t out = 0;
    std::int32_t shift = 0;
    for (const TPixelChannel& ch : TargetChannels) {
      if (shift >= 64) break;
      std::uint64_t v = 0;
      if (ch.Kind != ckX) {
        const std::int32_t o = Offsets[ch.Kind];
        v = o >= 0 ? Table[std::size_t(o) + value[ch.Kind]] : Constants[ch.Kind];
      }
      out |= (v & LowBits(ch.Width)) << shift;
      shift += ch.Width;
    }
    WriteWord(t, TargetSize, out);
  }
}

TAYtoRGBConvertor::TAYtoRGBConvertor(const TPixelFormat* target) : TargetSize(target->BytesPerPixel) {
  if (TargetSize == 3) return;
  std::vector<TPixelChannel> dst = ChannelsOf(target);
  Packed.resize(256);
  for (std::uint64_t g = 0; g < 256; ++g) {
    std::uint64_t out = 0;
    std::int32_t shift = 0;
    for (const TPixelChannel& ch : dst) {
      if (shift >= 64) break;
      std::uint64_t v = ch.Kind == ckX ? 0 : ch.Kind == ckA ? LowBits(ch.Width) : Rescale(g, 8, ch.Width);
      out |= (v & LowBits(ch.Width)) << shift;
      shift += ch.Width;
    }
    Packed[g] = out;
  }
}

void TAYtoRGBConvertor::Convert(void* target, const void* source, std::int32_t count) const {
  auto* t = static_cast<std::uint8_t*>(target);
  auto* s = static_cast<const std::uint8_t*>(source);
  if (TargetSize == 3) {
    // Backwards, so that a run widened in place does not overwrite its source.
    for (std::int32_t p = count - 1; p >= 0; --p) {
      const std::uint8_t g = s[p];
      t[p * 3] = t[p * 3 + 1] = t[p * 3 + 2] = g;
    }
    return;
  }
  for (std::int32_t p = count - 1; p >= 0; --p) WriteWord(t + std::size_t(p) * TargetSize, TargetSize, Packed[s[p]]);
}

void TRGBToRGBA::Convert(void* target, const void* source, std::int32_t count) const {
  auto* t = static_cast<std::uint8_t*>(target);
  auto* s = static_cast<const std::uint8_t*>(source);
  const auto ti = reinterpret_cast<std::uintptr_t>(t), si = reinterpret_cast<std::uintptr_t>(s);
  if (std::endian::native == std::endian::little && count > 1 &&
      (ti >= si + std::uintptr_t(count) * 3 || si >= ti + std::uintptr_t(count) * 4)) {
    // Apart: forwards, one 4-byte read per pixel (its fourth byte, the next
    // pixel's blue, becomes the alpha); the last pixel reads only its own.
    const std::int32_t last = count - 1;
    for (std::int32_t p = 0; p < last; ++p) {
      std::uint32_t v;
      std::memcpy(&v, s + std::size_t(p) * 3, 4);
      v |= 0xFF000000u;
      std::memcpy(t + std::size_t(p) * 4, &v, 4);
    }
    const std::uint8_t* q = s + std::size_t(last) * 3;
    std::uint8_t* d = t + std::size_t(last) * 4;
    d[0] = q[0], d[1] = q[1], d[2] = q[2], d[3] = 255;
    return;
  }
  // Backwards, so that a run widened in place does not overwrite its source.
  for (std::int32_t p = count - 1; p >= 0; --p) {
    const std::uint8_t b = s[p * 3], g = s[p * 3 + 1], r = s[p * 3 + 2];
    t[p * 4] = b;
    t[p * 4 + 1] = g;
    t[p * 4 + 2] = r;
    t[p * 4 + 3] = 255;
  }
}

void TRGBAToRGB::Convert(void* target, const void* source, std::int32_t count) const {
  auto* t = static_cast<std::uint8_t*>(target);
  auto* s = static_cast<const std::uint8_t*>(source);
  for (std::int32_t p = 0; p < count; ++p) {
    const std::uint8_t b = s[p * 4], g = s[p * 4 + 1], r = s[p * 4 + 2];
    t[p * 3] = b;
    t[p * 3 + 1] = g;
    t[p * 3 + 2] = r;
  }
}

void TBGRAToPremulBGRA::Convert(void* target, const void* source, std::int32_t count) const {
  auto* t = static_cast<std::uint8_t*>(target);
  auto* s = static_cast<const std::uint8_t*>(source);
  for (std::int32_t p = 0; p < count; ++p, t += 4, s += 4) {
    const unsigned a = s[3];
    if (a == 0) {
      std::memset(t, 0, 4);
    } else if (a == 255) {
      std::memmove(t, s, 4);
    } else {
      const std::uint8_t b = s[0], g = s[1], r = s[2];
      t[0] = std::uint8_t(b * a >> 8);
      t[1] = std::uint8_t(g * a >> 8);
      t[2] = std::uint8_t(r * a >> 8);
      t[3] = std::uint8_t(a);
    }
  }
}

void TR5G6B5ToBGR8::Convert(void* target, const void* source, std::int32_t count) const {
  auto* t = static_cast<std::uint8_t*>(target);
  auto* s = static_cast<const std::uint8_t*>(source);
  for (std::int32_t p = count - 1; p >= 0; --p) {
    const unsigned v = unsigned(s[p * 2]) | unsigned(s[p * 2 + 1]) << 8;
    t[p * 3] = std::uint8_t((v & 31) * 8);
    t[p * 3 + 1] = std::uint8_t(((v >> 5) & 63) * 4);
    t[p * 3 + 2] = std::uint8_t((v >> 8) & 0xF8);
  }
}

void TX1R5G5B5ToBGR8::Convert(void* target, const void* source, std::int32_t count) const {
  auto* t = static_cast<std::uint8_t*>(target);
  auto* s = static_cast<const std::uint8_t*>(source);
  for (std::int32_t p = count - 1; p >= 0; --p) {
    const unsigned v = unsigned(s[p * 2]) | unsigned(s[p * 2 + 1]) << 8;
    t[p * 3] = std::uint8_t((v & 31) * 8);
    t[p * 3 + 1] = std::uint8_t(((v >> 5) & 31) * 8);
    t[p * 3 + 2] = std::uint8_t(((v >> 10) & 31) * 8);
  }
}

TPixelConverter* FindPixelConverter(TPixelFormat* target, TPixelFormat* source) {
  ZM_ASSERT(target && source, "FindPixelConverter - PixelFormat not Assigned");
  std::lock_guard<std::mutex> lock(gLock);
  ZM_ASSERT(gRegistry, "FindPixelConverter - Registry not Initialized");
  TKeyItem* item;
  if (TConverterEntry* e = FindEntryLocked(target, source, item)) return e->Converter;
  TPixelConverter* c;
  if (target == source) c = Make<TDirectConvertor>(source->BytesPerPixel);
  else if (target->Packed || source->Packed) c = Make<TBitConvertor>(target, source);
  else c = Make<TByteConvertor>(target, source);
  item->Add(Make<TConverterEntry>(target, source, c));
  return c;
}

void RegisterPixelConverter(TPixelFormat* target, TPixelFormat* source, TPixelConverter* converter) {
  ZM_ASSERT(target && source, "RegisterPixelConverter - PixelFormat not Assigned");
  ZM_ASSERT(converter, "RegisterPixelConverter - Converter not Assigned");
  std::unique_lock<std::mutex> lock(gLock);
  if (!gRegistry) {
    lock.unlock();
    converter->Free();
    ZM_FAIL("RegisterPixelConverter - Registry not Initialized");
  }
  TPixelConverter* old = RegisterLocked(target, source, converter);
  lock.unlock();
  FreeObject(old);
}

void InitSysPixelFormat() {
  {
    std::lock_guard<std::mutex> lock(gLock);
    if (!gRegistry) gRegistry = Make<THashList>(kRegistryBuckets);
  }
  PixelFormatByNameHook = &FindPixelFormat;
  RegisterStdPixelFormats();
  for (const char* source : {PF_A8, PF_Y8})
    for (const char* target : {PF_B8G8R8, PF_R8G8B8, PF_B5G6R5, PF_B5G5R5X1})
      Register(target, source, Make<TAYtoRGBConvertor>(FindPixelFormat(target)));
  Register(PF_A8B8G8R8, PF_B8G8R8, Make<TRGBToRGBA>());
  Register(PF_A8b8g8r8, PF_B8G8R8, Make<TRGBToRGBA>());
  Register(PF_A8R8G8B8, PF_R8G8B8, Make<TRGBToRGBA>());
  Register(PF_A8r8g8b8, PF_R8G8B8, Make<TRGBToRGBA>());
  Register(PF_B8G8R8, PF_A8B8G8R8, Make<TRGBAToRGB>());
  Register(PF_R8G8B8, PF_A8R8G8B8, Make<TRGBAToRGB>());
  Register(PF_R8G8B8, PF_R5G6B5, Make<TR5G6B5ToBGR8>());
  Register(PF_R8G8B8, PF_X1R5G5B5, Make<TX1R5G5B5ToBGR8>());
  Register(PF_A8r8g8b8, PF_A8R8G8B8, Make<TBGRAToPremulBGRA>());
  Register(PF_A8b8g8r8, PF_A8B8G8R8, Make<TBGRAToPremulBGRA>());
  PixelConverterHook = &FindPixelConverter;
}

void FiniSysPixelFormat() {
  PixelConverterHook = nullptr;
  PixelFormatByNameHook = nullptr;
  for (TPixelFormat** f : {&pfY8, &pfA8, &pfR8G8B8, &pfA8R8G8B8, &pfB8G8R8, &pfA8B8G8R8, &pfB5G6R5, &pfB5G5R5X1,
                           &pfX8B8G8R8, &pfA8r8g8b8, &pfA8b8g8r8})
    *f = nullptr;
  THashList* registry;
  {
    std::lock_guard<std::mutex> lock(gLock);
    registry = std::exchange(gRegistry, nullptr);
  }
  if (!registry) return;
  registry->Clear(true);
  registry->Free();
}

}  // namespace zm
