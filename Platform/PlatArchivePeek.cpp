#include "Platform/PlatArchivePeek.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "Platform/PlatSystem.h"

namespace plat {

namespace {

std::uint64_t Le(const std::uint8_t* p, int n) {
  std::uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

bool StartsWith(std::string_view data, std::string_view magic) { return data.substr(0, magic.size()) == magic; }

// The old lzma format has no mark: its properties byte, a dictionary of a
// usual size and a length that is unknown or plausible tell it.
bool LooksLikeLzma(std::string_view head) {
  if (head.size() < 13) return false;
  const auto* p = reinterpret_cast<const std::uint8_t*>(head.data());
  if (p[0] > 224) return false;
  const std::uint64_t dictionary = Le(p + 1, 4), length = Le(p + 5, 8);
  const bool usualDictionary = dictionary >= 4096 && (dictionary & (dictionary - 1)) == 0;
  return p[0] == 0x5D && usualDictionary && (length == ~std::uint64_t(0) || length < (std::uint64_t(1) << 38));
}

bool TarChecksumOk(const std::uint8_t* block);

}  // namespace

TPackedKind PackedKindOf(std::string_view head) {
  if (StartsWith(head, "\x1F\x8B\x08")) return TPackedKind::Gzip;
  if (StartsWith(head, std::string_view("\xFD" "7zXZ\0", 6))) return TPackedKind::Xz;
  if (head.size() >= 10 && StartsWith(head, "BZh") && head[3] >= '1' && head[3] <= '9' &&
      (head.substr(4, 6) == "\x31\x41\x59\x26\x53\x59" || head.substr(4, 6) == "\x17\x72\x45\x38\x50\x90"))
    return TPackedKind::Bzip2;
  if (StartsWith(head, "\x28\xB5\x2F\xFD")) return TPackedKind::Zstd;
  if (StartsWith(head, "PK\x03\x04") || StartsWith(head, "PK\x05\x06") || StartsWith(head, "PK\x07\x08"))
    return TPackedKind::Zip;
  if (head.size() >= kPackedHeadSize &&
      (head.substr(257, 5) == "ustar" || TarChecksumOk(reinterpret_cast<const std::uint8_t*>(head.data()))))
    return TPackedKind::Tar;
  for (const std::string_view magic :
       {std::string_view("7z\xBC\xAF\x27\x1C"), std::string_view("Rar!\x1A\x07"), std::string_view("070701"),
        std::string_view("070702"), std::string_view("070707"), std::string_view("!<arch>\n"),
        std::string_view("\x04\x22\x4D\x18"), std::string_view("LZIP"), std::string_view("\x89LZO\0\r\n\x1A\n", 9),
        std::string_view("\x1F\x9D"), std::string_view("hsqs"), std::string_view("sqsh"), std::string_view("xar!"),
        std::string_view("\xED\xAB\xEE\xDB"), std::string_view("MSCF")})
    if (StartsWith(head, magic)) return TPackedKind::Unread;
  if (LooksLikeLzma(head)) return TPackedKind::Lzma;
  return TPackedKind::None;
}

// ---- the zip's central directory -----------------------------------------------------

namespace {

constexpr std::uint64_t kMaxZipDirectory = std::uint64_t(16) << 20;
constexpr std::size_t kZipEntryHead = 46;

// One central directory entry at E (Room bytes there), of a directory the
// end record puts at DirAt and that lies at Start: its length, or 0 when it
// is damaged.
std::size_t ReadZipEntry(const std::uint8_t* e, std::size_t room, std::uint64_t start, std::uint64_t dirAt,
                         TZipEntry& entry) {
  if (room < kZipEntryHead || Le(e, 4) != 0x02014B50) return 0;
  const std::size_t nameLength = Le(e + 28, 2), extra = Le(e + 30, 2), comment = Le(e + 32, 2);
  if (room - kZipEntryHead < nameLength) return 0;
  entry.Name.assign(reinterpret_cast<const char*>(e + kZipEntryHead), nameLength);
  const std::size_t length = kZipEntryHead + nameLength + extra + comment;
  entry.Flags = std::uint16_t(Le(e + 8, 2));
  entry.Method = std::uint16_t(Le(e + 10, 2));
  entry.PackedSize = Le(e + 20, 4);
  entry.Size = Le(e + 24, 4);
  std::uint64_t local = Le(e + 42, 4);
  if (room < length) return 0;
  // ZIP64: the fields given as all ones follow in its extra field, in order.
  if (entry.Size == 0xFFFFFFFF || entry.PackedSize == 0xFFFFFFFF || local == 0xFFFFFFFF) {
    const std::uint8_t* x = e + kZipEntryHead + nameLength;
    const std::uint8_t* end = x + extra;
    bool found = false;
    while (end - x >= 4 && !found) {
      const std::size_t id = Le(x, 2), n = Le(x + 2, 2);
      if (std::size_t(end - x - 4) < n) break;
      if (id == 1) {
        found = true;
        const std::uint8_t* f = x + 4;
        std::size_t left = n;
        for (std::uint64_t* field : {&entry.Size, &entry.PackedSize, &local}) {
          if (*field != 0xFFFFFFFF) continue;
          if (left < 8) return 0;
          *field = Le(f, 8);
          f += 8;
          left -= 8;
        }
      }
      x += 4 + n;
    }
    if (!found) return 0;
  }
  // Moved as far as the directory is from where the end record puts it.
  if (start >= dirAt) {
    if (local > ~std::uint64_t(0) - (start - dirAt)) return 0;
    entry.LocalAt = local + (start - dirAt);
  } else {
    if (local < dirAt - start) return 0;
    entry.LocalAt = local - (dirAt - start);
  }
  return length;
}

}  // namespace

bool VisitZipDirectory(const TReadAt& read, std::uint64_t size, bool whole,
                       const std::function<bool(const TZipEntry&)>& visit) {
  constexpr std::size_t kEndRecord = 22, kLocator = 20, kEnd64 = 56;
  if (size < kEndRecord) return false;
  const std::uint64_t tailStart = size > 65535 + kEndRecord ? size - 65535 - kEndRecord : 0;
  std::vector<std::uint8_t> tail(std::size_t(size - tailStart));
  if (read(tailStart, tail.data(), tail.size()) != tail.size()) return false;
  // The end records in the tail, from the last: padding or a comment may
  // follow the real one. A few at most, each read of a directory bounded.
  int records = 0;
  for (std::size_t i = tail.size() - kEndRecord + 1; i-- > 0 && records < 8;) {
    const std::uint8_t* end = tail.data() + i;
    if (Le(end, 4) != 0x06054B50) continue;
    ++records;
    const std::uint64_t endAt = tailStart + i;
    std::uint64_t count = Le(end + 10, 2), dirSize = Le(end + 12, 4), dirAt = Le(end + 16, 4);
    std::uint64_t recordAt = endAt;
    if ((count == 0xFFFF || dirSize == 0xFFFFFFFF || dirAt == 0xFFFFFFFF) && endAt >= kLocator) {
      std::uint8_t locator[kLocator], end64[kEnd64];
      if (read(endAt - kLocator, locator, kLocator) == kLocator && Le(locator, 4) == 0x07064B50) {
        const std::uint64_t end64At = Le(locator + 8, 8);
        if (end64At < size && read(end64At, end64, kEnd64) == kEnd64 && Le(end64, 4) == 0x06064B50) {
          count = Le(end64 + 32, 8);
          dirSize = Le(end64 + 40, 8);
          dirAt = Le(end64 + 48, 8);
          recordAt = end64At;
        }
      }
    }
    if (dirSize > recordAt) continue;
    // Where the end record says, and where it lies if data came before.
    const std::uint64_t starts[2] = {dirAt, recordAt - dirSize};
    for (int s = 0; s < 2; ++s) {
      const std::uint64_t start = starts[s];
      if (start >= size || (s == 1 && start == starts[0])) continue;
      std::vector<std::uint8_t> dir(std::size_t(std::min({dirSize, size - start, kMaxZipDirectory})));
      if (dir.size() < kZipEntryHead && !(whole && count == 0)) continue;
      if (!dir.empty()) dir.resize(read(start, dir.data(), dir.size()));
      std::vector<TZipEntry> entries;
      std::size_t at = 0;
      std::uint64_t n = 0;
      for (; n < count; ++n) {
        TZipEntry entry;
        const std::size_t length = ReadZipEntry(dir.data() + at, dir.size() - at, start, dirAt, entry);
        if (length == 0) break;
        at += length;
        if (whole) {
          entries.push_back(std::move(entry));
        } else if (!visit(entry)) {
          return true;
        }
      }
      if (!whole || n < count) continue;
      for (const TZipEntry& entry : entries)
        if (!visit(entry)) return true;
      return true;
    }
  }
  return false;
}

// ---- unpacking -----------------------------------------------------------------------

namespace {

// What the look cannot judge, and why.
struct TUnjudged {
  std::string Reason;
};

[[noreturn]] void Unjudged(std::string reason) { throw TUnjudged{std::move(reason)}; }

constexpr const char* kDamaged = "damaged";
constexpr const char* kTooLarge = "larger than the look unpacks";

// The look's budget spent: its reason, raised apart from what the data is.
struct TCut {
  const char* Reason;
};

struct TPeekRun {
  TPeekLimits Limits;
  std::uint64_t BytesLeft = 0, MembersLeft = 0;
  void Unpacked(std::uint64_t n) {
    if (n > BytesLeft) Unjudged(kTooLarge);
    BytesLeft -= n;
    Look();
  }
  void Look() const {
    if (Limits.Budget)
      if (const char* over = Limits.Budget->Over()) throw TCut{over};
  }
};

std::atomic<std::uint64_t> gUnpacked{0};

// Data read in order; some can be read anywhere too.
class TSource {
public:
  TSource() = default;
  TSource(const TSource&) = delete;
  TSource& operator=(const TSource&) = delete;
  virtual ~TSource() = default;
  // Up to n bytes; fewer only at the end of the data.
  virtual std::size_t Read(std::uint8_t* to, std::size_t n) = 0;
  // Drops n bytes; false when the data ends before.
  virtual bool Skip(std::uint64_t n) {
    std::uint8_t buffer[16384];
    while (n > 0) {
      const std::size_t got = Read(buffer, std::size_t(std::min<std::uint64_t>(n, sizeof buffer)));
      if (got == 0) return false;
      n -= got;
    }
    return true;
  }
  // The whole data read anywhere, when it can be.
  virtual const TReadAt* At() const { return nullptr; }
  virtual std::uint64_t Size() const { return 0; }
};

// Size bytes from Start of data read anywhere.
class TWindow : public TSource {
public:
  TWindow(const TReadAt& read, std::uint64_t start, std::uint64_t size) : read_(read), start_(start), size_(size) {
    at_ = [this](std::uint64_t offset, void* buffer, std::size_t n) -> std::size_t {
      if (offset >= size_) return 0;
      return read_(start_ + offset, buffer, std::size_t(std::min<std::uint64_t>(n, size_ - offset)));
    };
  }
  std::size_t Read(std::uint8_t* to, std::size_t n) override {
    const std::size_t got = at_(position_, to, n);
    if (got < n && position_ + got < size_) Unjudged(kDamaged);  // a read that failed
    position_ += got;
    return got;
  }
  bool Skip(std::uint64_t n) override {
    if (n > size_ - position_) return false;
    position_ += n;
    return true;
  }
  const TReadAt* At() const override { return &at_; }
  std::uint64_t Size() const override { return size_; }

private:
  const TReadAt& read_;
  std::uint64_t start_, size_, position_ = 0;
  TReadAt at_;
};

// Bytes already read, then the rest of the data.
class TPrefixed : public TSource {
public:
  TPrefixed(std::string head, TSource& rest) : head_(std::move(head)), rest_(rest) {}
  std::size_t Read(std::uint8_t* to, std::size_t n) override {
    std::size_t got = 0;
    if (used_ < head_.size()) {
      got = std::min(n, head_.size() - used_);
      std::memcpy(to, head_.data() + used_, got);
      used_ += got;
    }
    if (got < n) got += rest_.Read(to + got, n - got);
    return got;
  }

private:
  std::string head_;
  std::size_t used_ = 0;
  TSource& rest_;
};

// At most Size bytes of other data (an archive member).
class TLimited : public TSource {
public:
  TLimited(TSource& inner, std::uint64_t size) : inner_(inner), left_(size) {}
  std::size_t Read(std::uint8_t* to, std::size_t n) override {
    const std::size_t got = inner_.Read(to, std::size_t(std::min<std::uint64_t>(n, left_)));
    left_ -= got;
    return got;
  }
  bool Skip(std::uint64_t n) override {
    if (n > left_ || !inner_.Skip(n)) return false;
    left_ -= n;
    return true;
  }
  // What is left of it dropped: false when the data ended before.
  bool Finish() { return Skip(left_); }

private:
  TSource& inner_;
  std::uint64_t left_;
};

// Data read in order from a caller.
class TCallerSource : public TSource {
public:
  explicit TCallerSource(const TReadNext& next) : next_(next) {}
  std::size_t Read(std::uint8_t* to, std::size_t n) override {
    std::size_t got = 0;
    while (got < n && !ended_) {
      const std::size_t more = next_(to + got, n - got);
      if (more == 0 || more > n - got) ended_ = true;
      else got += more;
    }
    return got;
  }

private:
  const TReadNext& next_;
  bool ended_ = false;
};

// Up to n bytes, as many as the data holds.
std::string ReadUpTo(TSource& source, std::size_t n) {
  std::string data(n, '\0');
  data.resize(source.Read(reinterpret_cast<std::uint8_t*>(data.data()), n));
  return data;
}

// A compressed stream unpacked; every byte it gives is counted.
class TUnpacker : public TSource {
public:
  TUnpacker(TSource& in, TPeekRun& run) : in_(in), run_(run) {}
  std::size_t Read(std::uint8_t* to, std::size_t n) override {
    std::size_t got = 0;
    while (got < n && !ended_) {
      if (inLeft_ == 0 && !inEnded_) {
        inLeft_ = in_.Read(input_, sizeof input_);
        inNext_ = input_;
        inEnded_ = inLeft_ == 0;
      }
      const std::size_t before = got;
      got += Step(to + got, n - got);
      run_.Unpacked(got - before);
      if (got == before && inEnded_ && inLeft_ == 0 && !ended_) Unjudged(kDamaged);  // cut short
    }
    return got;
  }

protected:
  // Unpacks into To (N bytes of room) from the input at hand; the bytes
  // made. Sets ended_ at the end of the stream.
  virtual std::size_t Step(std::uint8_t* to, std::size_t n) = 0;
  // Whether more input follows (read in when needed), beginning so: a
  // stream of several members goes on.
  bool InputGoesOnWith(std::string_view magic) {
    if (inLeft_ < magic.size() && !inEnded_) {
      std::memmove(input_, inNext_, inLeft_);
      inNext_ = input_;
      while (inLeft_ < magic.size()) {
        const std::size_t got = in_.Read(input_ + inLeft_, sizeof input_ - inLeft_);
        if (got == 0) {
          inEnded_ = true;
          break;
        }
        inLeft_ += got;
      }
    }
    return inLeft_ >= magic.size() && std::memcmp(inNext_, magic.data(), magic.size()) == 0;
  }

  TSource& in_;
  TPeekRun& run_;
  std::uint8_t input_[65536];
  const std::uint8_t* inNext_ = input_;
  std::size_t inLeft_ = 0;
  bool inEnded_ = false, ended_ = false;
};

class TInflater : public TUnpacker {
public:
  // Gzip (of any number of members) or raw deflate.
  TInflater(TSource& in, TPeekRun& run, bool gzip) : TUnpacker(in, run), gzip_(gzip) {
    if (inflateInit2(&z_, gzip ? 16 + MAX_WBITS : -MAX_WBITS) != Z_OK) Unjudged("out of memory");
  }
  ~TInflater() override { inflateEnd(&z_); }

private:
  std::size_t Step(std::uint8_t* to, std::size_t n) override {
    z_.next_in = const_cast<Bytef*>(inNext_);
    z_.avail_in = uInt(inLeft_);
    z_.next_out = to;
    z_.avail_out = uInt(std::min<std::size_t>(n, 1 << 30));
    const int r = inflate(&z_, Z_NO_FLUSH);
    const std::size_t made = std::size_t(z_.next_out - to);
    inNext_ = z_.next_in;
    inLeft_ = z_.avail_in;
    if (r == Z_STREAM_END) {
      // gzip unpacks the members that follow, and passes over what is not one.
      if (gzip_ && InputGoesOnWith("\x1F\x8B")) inflateReset(&z_);
      else ended_ = true;
    } else if (r != Z_OK && !(r == Z_BUF_ERROR && made == 0 && inLeft_ == 0)) {
      Unjudged(kDamaged);
    }
    return made;
  }
  z_stream z_{};
  bool gzip_;
};

class TXzUnpacker : public TUnpacker {
public:
  TXzUnpacker(TSource& in, TPeekRun& run, bool lzma) : TUnpacker(in, run) {
    // The dictionary an encoder asks for is made at once: bounded.
    constexpr std::uint64_t kMemory = std::uint64_t(128) << 20;
    const lzma_ret r = lzma ? lzma_alone_decoder(&s_, kMemory) : lzma_stream_decoder(&s_, kMemory, LZMA_CONCATENATED);
    if (r != LZMA_OK) Unjudged("out of memory");
  }
  ~TXzUnpacker() override { lzma_end(&s_); }

private:
  std::size_t Step(std::uint8_t* to, std::size_t n) override {
    s_.next_in = inNext_;
    s_.avail_in = inLeft_;
    s_.next_out = to;
    s_.avail_out = n;
    const lzma_ret r = lzma_code(&s_, inEnded_ && inLeft_ == 0 ? LZMA_FINISH : LZMA_RUN);
    const std::size_t made = std::size_t(s_.next_out - to);
    inNext_ = s_.next_in;
    inLeft_ = s_.avail_in;
    if (r == LZMA_STREAM_END) ended_ = true;
    else if (r == LZMA_MEMLIMIT_ERROR || r == LZMA_MEM_ERROR) Unjudged(kTooLarge);
    else if (r != LZMA_OK && !(r == LZMA_BUF_ERROR && made == 0)) Unjudged(kDamaged);
    return made;
  }
  lzma_stream s_ = LZMA_STREAM_INIT;
};

class TBzip2Unpacker : public TUnpacker {
public:
  TBzip2Unpacker(TSource& in, TPeekRun& run) : TUnpacker(in, run) { Start(); }
  ~TBzip2Unpacker() override { BZ2_bzDecompressEnd(&s_); }

private:
  void Start() {
    s_ = bz_stream{};
    if (BZ2_bzDecompressInit(&s_, 0, 0) != BZ_OK) Unjudged("out of memory");
  }
  std::size_t Step(std::uint8_t* to, std::size_t n) override {
    s_.next_in = const_cast<char*>(reinterpret_cast<const char*>(inNext_));
    s_.avail_in = unsigned(inLeft_);
    s_.next_out = reinterpret_cast<char*>(to);
    s_.avail_out = unsigned(std::min<std::size_t>(n, 1 << 30));
    const int r = BZ2_bzDecompress(&s_);
    const std::size_t made = std::size_t(s_.next_out - reinterpret_cast<char*>(to));
    inNext_ = reinterpret_cast<const std::uint8_t*>(s_.next_in);
    inLeft_ = s_.avail_in;
    if (r == BZ_STREAM_END) {
      // bzip2 unpacks the streams that follow too.
      if (InputGoesOnWith("BZh")) {
        BZ2_bzDecompressEnd(&s_);
        Start();
      } else {
        ended_ = true;
      }
    } else if (r != BZ_OK) {
      Unjudged(r == BZ_MEM_ERROR ? kTooLarge : kDamaged);
    }
    return made;
  }
  bz_stream s_{};
};

class TZstdUnpacker : public TUnpacker {
public:
  TZstdUnpacker(TSource& in, TPeekRun& run) : TUnpacker(in, run), d_(ZSTD_createDStream()) {
    // zstd's own bound on the window (128 MiB) holds.
    if (!d_ || ZSTD_isError(ZSTD_initDStream(d_))) Unjudged("out of memory");
  }
  ~TZstdUnpacker() override { ZSTD_freeDStream(d_); }

private:
  std::size_t Step(std::uint8_t* to, std::size_t n) override {
    ZSTD_inBuffer in{inNext_, inLeft_, 0};
    ZSTD_outBuffer out{to, n, 0};
    const std::size_t r = ZSTD_decompressStream(d_, &out, &in);
    inNext_ += in.pos;
    inLeft_ -= in.pos;
    if (ZSTD_isError(r)) Unjudged(ZSTD_getErrorCode(r) == ZSTD_error_frameParameter_windowTooLarge ? kTooLarge : kDamaged);
    // Frames may follow one another: the data ends where one has ended.
    if (r == 0) frameDone_ = true;
    else if (in.pos > 0 || out.pos > 0) frameDone_ = false;
    if (frameDone_ && out.pos == 0 && inLeft_ == 0 && inEnded_) ended_ = true;
    return out.pos;
  }
  ZSTD_DStream* d_;
  bool frameDone_ = false;
};

// The unpacked name of a compressed file: its last ending dropped (".tgz"
// and the like become ".tar").
std::string UnpackedName(std::string_view name) {
  const std::size_t slash = name.rfind('/');
  std::string base(slash == std::string_view::npos ? name : name.substr(slash + 1));
  const std::size_t dot = base.rfind('.');
  if (dot == std::string::npos || dot == 0) return base + "~";
  std::string ending = base.substr(dot + 1);
  for (char& c : ending) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (ending == "tgz" || ending == "tbz" || ending == "tbz2" || ending == "txz" || ending == "tzst" || ending == "tlz")
    return base.substr(0, dot) + ".tar";
  return base.substr(0, dot);
}

bool IsCode(std::string_view head) { return StartsWith(head, "\x7F" "ELF") || StartsWith(head, "#!"); }

bool TarChecksumOk(const std::uint8_t* block) {
  std::uint64_t stored = 0;
  int digits = 0;
  std::size_t i = 148;
  while (i < 156 && block[i] == ' ') ++i;
  for (; i < 156 && block[i] >= '0' && block[i] <= '7'; ++i, ++digits) stored = stored * 8 + (block[i] - '0');
  if (digits == 0 || (i < 156 && block[i] != ' ' && block[i] != '\0')) return false;
  std::uint64_t sum = 0;
  std::int64_t signedSum = 0;
  for (std::size_t k = 0; k < 512; ++k) {
    const std::uint8_t b = k >= 148 && k < 156 ? ' ' : block[k];
    sum += b;
    signedSum += static_cast<std::int8_t>(b);
  }
  return stored == sum || std::int64_t(stored) == signedSum;
}

// A tar header's number: octal, or base 256 when its first bit is set.
std::optional<std::uint64_t> TarNumber(const std::uint8_t* field, std::size_t n) {
  std::uint64_t v = 0;
  if (field[0] & 0x80) {
    if (field[0] != 0x80) return std::nullopt;  // negative
    for (std::size_t i = 1; i < n; ++i) {
      if (v >> 56) return std::nullopt;
      v = (v << 8) | field[i];
    }
    return v;
  }
  std::size_t i = 0;
  while (i < n && field[i] == ' ') ++i;
  for (; i < n && field[i] >= '0' && field[i] <= '7'; ++i) {
    if (v >> 60) return std::nullopt;
    v = v * 8 + (field[i] - '0');
  }
  if (i < n && field[i] != ' ' && field[i] != '\0') return std::nullopt;
  return v;
}

std::string TarText(const std::uint8_t* field, std::size_t n) {
  std::size_t length = 0;
  while (length < n && field[length]) ++length;
  return std::string(reinterpret_cast<const char*>(field), length);
}

class TPeeker {
public:
  explicit TPeeker(const TPeekLimits& limits) {
    run_.Limits = limits;
    run_.BytesLeft = limits.MaxBytes;
    run_.MembersLeft = limits.MaxMembers;
  }

  // What Source (the data at Inside, named Name) holds.
  TPeekFinding Judge(TSource& source, const std::string& inside, const std::string& name, int depth) {
    try {
      return JudgeOrRaise(source, inside, name, depth);
    } catch (const TUnjudged& u) {
      return {TPeekFinding::TWhy::Unjudged, inside, u.Reason};
    } catch (const TCut& c) {
      return {TPeekFinding::TWhy::Unjudged, inside, c.Reason, true};
    }
  }

private:
  TPeekFinding JudgeOrRaise(TSource& source, const std::string& inside, const std::string& name, int depth) {
    const TReadAt* at = source.At();
    std::string head;
    if (at) {
      head.resize(std::size_t(std::min<std::uint64_t>(kPackedHeadSize, source.Size())));
      if ((*at)(0, head.data(), head.size()) != head.size()) Unjudged(kDamaged);
    } else {
      head = ReadUpTo(source, kPackedHeadSize);
    }
    if (IsCode(head)) return {TPeekFinding::TWhy::Code, inside, {}};
    const TPackedKind kind = PackedKindOf(head);
    if (kind == TPackedKind::None) return {};
    if (kind == TPackedKind::Unread) Unjudged("packed in a way the look does not read");
    if (depth >= run_.Limits.MaxDepth) Unjudged("packed too deep");
    run_.Look();
    if (depth == 0) gUnpacked.fetch_add(1);
    // The data from its start again.
    std::unique_ptr<TSource> whole;
    if (at) whole = std::make_unique<TWindow>(*at, 0, source.Size());
    else whole = std::make_unique<TPrefixed>(head, source);
    std::unique_ptr<TSource> unpacked;
    switch (kind) {
      case TPackedKind::Gzip: unpacked = std::make_unique<TInflater>(*whole, run_, true); break;
      case TPackedKind::Xz: unpacked = std::make_unique<TXzUnpacker>(*whole, run_, false); break;
      case TPackedKind::Lzma: unpacked = std::make_unique<TXzUnpacker>(*whole, run_, true); break;
      case TPackedKind::Bzip2: unpacked = std::make_unique<TBzip2Unpacker>(*whole, run_); break;
      case TPackedKind::Zstd: unpacked = std::make_unique<TZstdUnpacker>(*whole, run_); break;
      case TPackedKind::Tar: return Tar(*whole, inside, depth);
      case TPackedKind::Zip: {
        if (at) return Zip(*at, source.Size(), inside, depth);
        // In a compressed stream: read whole into memory (it was counted as
        // it was unpacked).
        std::vector<std::uint8_t> data;
        std::uint8_t buffer[65536];
        for (std::size_t got; (got = whole->Read(buffer, sizeof buffer)) > 0;) {
          if (data.size() + got > run_.Limits.MaxBytes) Unjudged(kTooLarge);
          data.insert(data.end(), buffer, buffer + got);
        }
        const TReadAt memory = [&data](std::uint64_t offset, void* to, std::size_t n) -> std::size_t {
          if (offset >= data.size()) return 0;
          const std::size_t got = std::size_t(std::min<std::uint64_t>(n, data.size() - offset));
          if (got > 0) std::memcpy(to, data.data() + offset, got);
          return got;
        };
        return Zip(memory, data.size(), inside, depth);
      }
      default: return {};
    }
    const std::string inner = UnpackedName(name);
    return Judge(*unpacked, inside + "|" + inner, inner, depth + 1);
  }

  void Member() {
    if (run_.MembersLeft == 0) Unjudged("more members than the look reads");
    --run_.MembersLeft;
    run_.Look();
  }

  TPeekFinding Tar(TSource& source, const std::string& inside, int depth) {
    std::uint8_t block[512];
    std::string longName;
    // The size a pax header gives the next member (0: none given).
    std::uint64_t paxSize = 0;
    bool paxSized = false;
    constexpr std::uint64_t kMaxMeta = 1 << 20;
    for (;;) {
      const std::size_t got = source.Read(block, sizeof block);
      // The end: the data's at a header's place, or a zero block.
      if (got == 0) return {};
      if (got < sizeof block) Unjudged(kDamaged);
      if (std::all_of(block, block + sizeof block, [](std::uint8_t b) { return b == 0; })) return {};
      if (!TarChecksumOk(block)) Unjudged(kDamaged);
      std::optional<std::uint64_t> size = TarNumber(block + 124, 12);
      if (!size) Unjudged(kDamaged);
      if (paxSized) size = paxSize;
      const char type = char(block[156]);
      const std::uint64_t padding = (512 - *size % 512) % 512;
      if (type == 'L' || type == 'K' || type == 'x' || type == 'g') {
        if (*size > kMaxMeta) Unjudged(kDamaged);
        std::string meta(std::size_t(*size), '\0');
        if (source.Read(reinterpret_cast<std::uint8_t*>(meta.data()), meta.size()) != meta.size() ||
            !source.Skip(padding))
          Unjudged(kDamaged);
        if (type == 'L') longName = meta.substr(0, meta.find('\0'));
        if (type == 'x') PaxRecords(meta, longName, paxSize, paxSized);
        else if (type == 'g' && meta.find("GNU.sparse.") != std::string::npos) Unjudged("a sparse member");
        continue;
      }
      std::string name = longName;
      if (name.empty()) {
        name = TarText(block, 100);
        const std::string prefix = TarText(block + 345, 155);
        if (std::string_view(reinterpret_cast<const char*>(block) + 257, 5) == "ustar" && !prefix.empty())
          name = prefix + "/" + name;
      }
      longName.clear();
      paxSized = false;
      if (type == 'S') Unjudged("a sparse member");
      if (type == 'M') Unjudged("a member continued from another volume");
      if ((type >= '1' && type <= '6') || type == 'V' || type == 'D') {
        if (!source.Skip(*size + padding)) Unjudged(kDamaged);
        continue;
      }
      // A file; any other kind tar takes as one too.
      Member();
      TLimited member(source, *size);
      const TPeekFinding found = Judge(member, inside + "|" + name, name, depth + 1);
      if (found.Found()) return found;
      if (!member.Finish() || !source.Skip(padding)) Unjudged(kDamaged);
    }
  }

  // A pax header's records ("LENGTH KEY=VALUE\n"): the path and size of
  // the member that follows.
  static void PaxRecords(const std::string& meta, std::string& path, std::uint64_t& size, bool& sized) {
    for (std::size_t at = 0; at < meta.size();) {
      std::size_t length = 0, i = at;
      while (i < meta.size() && meta[i] >= '0' && meta[i] <= '9' && length <= meta.size())
        length = length * 10 + std::size_t(meta[i++] - '0');
      if (i == at || i >= meta.size() || meta[i] != ' ' || length == 0 || length > meta.size() - at) Unjudged(kDamaged);
      const std::string record = meta.substr(i + 1, at + length - i - 1);
      const std::size_t equals = record.find('=');
      if (equals == std::string::npos || record.empty() || record.back() != '\n') Unjudged(kDamaged);
      const std::string key = record.substr(0, equals), value = record.substr(equals + 1, record.size() - equals - 2);
      if (key == "path") {
        path = value;
      } else if (key == "size") {
        std::uint64_t v = 0;
        if (value.empty() || value.size() > 19) Unjudged(kDamaged);
        for (const char c : value) {
          if (c < '0' || c > '9') Unjudged(kDamaged);
          v = v * 10 + std::uint64_t(c - '0');
        }
        size = v;
        sized = true;
      } else if (key.rfind("GNU.sparse.", 0) == 0) {
        Unjudged("a sparse member");
      }
      at += length;
    }
  }

  TPeekFinding Zip(const TReadAt& read, std::uint64_t size, const std::string& inside, int depth) {
    std::vector<TZipEntry> entries;
    bool tooMany = false;
    const bool whole = VisitZipDirectory(read, size, true, [&](const TZipEntry& e) {
      if (entries.size() >= run_.MembersLeft) {
        tooMany = true;
        return false;
      }
      entries.push_back(e);
      return true;
    });
    if (tooMany) Unjudged("more members than the look reads");
    if (!whole) Unjudged(kDamaged);
    for (const TZipEntry& e : entries) {
      if (!e.Name.empty() && e.Name.back() == '/' && e.Size == 0) continue;
      Member();
      const std::string at = inside + "|" + e.Name;
      try {
        if (e.Flags & 1) Unjudged("an enciphered member");
        std::uint8_t local[30];
        if (e.LocalAt > size || read(e.LocalAt, local, sizeof local) != sizeof local || Le(local, 4) != 0x04034B50)
          Unjudged(kDamaged);
        const std::uint64_t dataAt = e.LocalAt + 30 + Le(local + 26, 2) + Le(local + 28, 2);
        if (dataAt > size || e.PackedSize > size - dataAt) Unjudged(kDamaged);
        TWindow data(read, dataAt, e.PackedSize);
        std::unique_ptr<TSource> unpacked;
        switch (e.Method) {
          case 0: break;
          case 8: unpacked = std::make_unique<TInflater>(data, run_, false); break;
          case 12: unpacked = std::make_unique<TBzip2Unpacker>(data, run_); break;
          case 93: unpacked = std::make_unique<TZstdUnpacker>(data, run_); break;
          case 95: unpacked = std::make_unique<TXzUnpacker>(data, run_, false); break;
          default: Unjudged("a member packed in a way the look does not read");
        }
        const TPeekFinding found = Judge(unpacked ? *unpacked : static_cast<TSource&>(data), at, e.Name, depth + 1);
        if (found.Found()) return found;
      } catch (const TUnjudged& u) {
        return {TPeekFinding::TWhy::Unjudged, at, u.Reason};
      }
    }
    return {};
  }

  TPeekRun run_;
};

}  // namespace

TLookBudget::TLookBudget(std::uint32_t ms) : start_(TickCount32()), ms_(ms) {}

const char* TLookBudget::Over() const {
  if (stopped_.load()) return kLookStopped;
  return TickCount32() - start_ > ms_ ? kLookTookTooLong : nullptr;
}

std::uint64_t PackedDataUnpacked() { return gUnpacked.load(); }

TPeekFinding PeekIntoPacked(const TReadAt& read, std::uint64_t size, std::string_view name, const TPeekLimits& limits) {
  TPeeker peeker(limits);
  TWindow data(read, 0, size);
  return peeker.Judge(data, {}, std::string(name), 0);
}

TPeekFinding PeekIntoPackedStream(const TReadNext& next, std::string_view name, const TPeekLimits& limits) {
  TPeeker peeker(limits);
  TCallerSource data(next);
  return peeker.Judge(data, {}, std::string(name), 0);
}

bool ReadZipMember(const TReadAt& read, std::uint64_t size, const TZipEntry& entry, std::uint64_t max,
                   std::string& data) {
  data.clear();
  try {
    std::uint8_t local[30];
    if ((entry.Flags & 1) || entry.LocalAt > size || read(entry.LocalAt, local, sizeof local) != sizeof local ||
        Le(local, 4) != 0x04034B50)
      return false;
    const std::uint64_t dataAt = entry.LocalAt + 30 + Le(local + 26, 2) + Le(local + 28, 2);
    if (dataAt > size || entry.PackedSize > size - dataAt) return false;
    TWindow window(read, dataAt, entry.PackedSize);
    TPeekRun run;
    run.BytesLeft = max + 1;
    std::unique_ptr<TSource> unpacked;
    switch (entry.Method) {
      case 0: break;
      case 8: unpacked = std::make_unique<TInflater>(window, run, false); break;
      case 12: unpacked = std::make_unique<TBzip2Unpacker>(window, run); break;
      case 93: unpacked = std::make_unique<TZstdUnpacker>(window, run); break;
      case 95: unpacked = std::make_unique<TXzUnpacker>(window, run, false); break;
      default: return false;
    }
    TSource& source = unpacked ? *unpacked : static_cast<TSource&>(window);
    std::uint8_t buffer[65536];
    for (std::size_t got; (got = source.Read(buffer, sizeof buffer)) > 0;) {
      if (data.size() + got > max) return false;
      data.append(reinterpret_cast<const char*>(buffer), got);
    }
    return true;
  } catch (const TUnjudged&) {
    return false;
  }
}

}  // namespace plat
