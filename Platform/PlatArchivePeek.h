#pragma once
// A look into packed data for code that a program could unpack from it:
// compressed streams (gzip, xz and lzma, bzip2, zstd) are unpacked and
// archives (zip, tar) walked, and each member's first bytes are judged as a
// file's are (ELF, "#!"), packed data within packed data too, to a bounded
// depth, size and count. What the look cannot judge (damaged data, a kind
// of packing it does not read, data past its bounds, an enciphered member)
// counts as code: it fails closed.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace plat {

// Up to n bytes at offset into buffer; fewer at the end or on an error.
using TReadAt = std::function<std::size_t(std::uint64_t offset, void* buffer, std::size_t n)>;

// How many first bytes tell the kind of packed data (a tar's mark lies at 257).
inline constexpr std::size_t kPackedHeadSize = 512;

enum class TPackedKind : std::uint8_t {
  None,  // not packed data the look knows of
  Gzip,
  Xz,
  Lzma,  // the older format xz and unlzma read
  Bzip2,
  Zstd,
  Zip,  // a zip starting at the data's start
  Tar,
  Unread  // packed data the look does not read: 7z, rar, cpio, ar (and so .deb), lz4, lzip, lzop, compress, squashfs, xar, rpm
};
// The kind the first bytes tell (as many as there are, up to kPackedHeadSize).
TPackedKind PackedKindOf(std::string_view head);

// How long a whole look may take (by the program clock), and a stop asked
// from any thread. What the look has not judged by then counts as code.
class TLookBudget {
 public:
  explicit TLookBudget(std::uint32_t ms);
  TLookBudget(const TLookBudget&) = delete;
  TLookBudget& operator=(const TLookBudget&) = delete;
  void Stop() { stopped_.store(true); }
  bool Stopped() const { return stopped_.load(); }
  // Empty while the look may go on; else why it may not.
  const char* Over() const;

 private:
  std::uint32_t start_, ms_;
  std::atomic<bool> stopped_{false};
};
inline constexpr const char* kLookTookTooLong = "the look for code took too long";
inline constexpr const char* kLookStopped = "the look for code was stopped";

struct TPeekLimits {
  int MaxDepth = 4;                                 // packed data within packed data
  std::uint64_t MaxBytes = std::uint64_t(64) << 20;  // unpacked in all, and a zip read into memory
  std::uint64_t MaxMembers = 100000;                // archive members in all
  const TLookBudget* Budget = nullptr;              // the time of the whole look, when it has one
};

// How many times packed data has been unpacked to be looked into, since
// the program started: the look's work, as tests count it.
std::uint64_t PackedDataUnpacked();

struct TPeekFinding {
  enum class TWhy : std::uint8_t { None, Code, Unjudged };
  TWhy Why = TWhy::None;
  // Where inside: the names of the levels down to the member, each after a
  // "|" ("|tools.tar|bin/helper" in "tools.tar.gz"); empty for the data itself.
  std::string Inside;
  // Why it could not be judged ("damaged", "larger than the look unpacks" ...).
  std::string Reason;
  // Not judged for the look's budget (its time, a stop), not for what the
  // data is: not to be kept as what the data holds.
  bool Cut = false;
  bool Found() const { return Why != TWhy::None; }
};

// What Size bytes of packed data (read at offsets) hold; Name, the file's
// name, names what a compressed stream unpacks to ("helper.gz": "helper").
// Data that is no packed data of a known kind holds nothing.
TPeekFinding PeekIntoPacked(const TReadAt& read, std::uint64_t size, std::string_view name,
                            const TPeekLimits& limits = {});

// The same for data read in order: Next gives up to n bytes, 0 at the end.
using TReadNext = std::function<std::size_t(void* buffer, std::size_t n)>;
TPeekFinding PeekIntoPackedStream(const TReadNext& next, std::string_view name, const TPeekLimits& limits = {});

// One entry of a zip's central directory.
struct TZipEntry {
  std::string Name;
  std::uint16_t Flags = 0, Method = 0;
  std::uint64_t PackedSize = 0, Size = 0;
  std::uint64_t LocalAt = 0;  // where its local header lies in the data (data put before the zip counted)
};
// Visits the entries of the central directory of zip data of Size bytes,
// found as unzip and Java find it: from an end record in the last 64 KiB
// (ZIP64 too), at the offset it gives or just before the end record (data
// put before the zip). Reads are bounded (the tail, at most 16 MiB of
// directory, a few end records). Whole: only a directory that reads whole,
// each of its entries visited once; else every entry read before damage, of
// each directory tried. Visit returns false to stop. True when a directory
// was read whole (or Visit stopped).
bool VisitZipDirectory(const TReadAt& read, std::uint64_t size, bool whole,
                       const std::function<bool(const TZipEntry&)>& visit);

// The unpacked data of a zip's member (stored, deflated, bzip2, zstd or xz),
// at most Max bytes. False when it cannot be read: damaged, enciphered,
// packed otherwise, or longer than Max.
bool ReadZipMember(const TReadAt& read, std::uint64_t size, const TZipEntry& entry, std::uint64_t max,
                   std::string& data);

}  // namespace plat
