#include "ZmLib/Graphics/zmJpegLoader.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

// jpeglib.h wants size_t and FILE declared first.
#include <jpeglib.h>
#include <jerror.h>

#include "Platform/PlatSystem.h"
#include "ZmLib/Graphics/zmJpegICCExtractor.h"
#include "ZmLib/wpLoadCallBack.h"

namespace zm {

namespace {

// While on, pictures decode at best quality (nothing turns it off).
bool gBestQuality = true;

// Pictures that are not in memory are read in blocks this large: libjpeg
// takes its fast Huffman path only while several kilobytes are buffered.
constexpr std::int32_t kInputBufferSize = 1 << 16;
// More scans than any encoder writes: a file with more is hostile (each
// scan costs a pass over the whole picture).
constexpr int kMaxJpegScans = 1000;

// ---- The context of one decode or header read -------------------------------------

struct TProgressMgr {
  jpeg_progress_mgr Pub;
  TJpegImage* Instance;
  std::int32_t LastPass, LastPercent, LastTime, LastScanline;
  const std::atomic<bool>* Cancel;  // set when another strip of the decode failed
};

// Ends a strip whose decode is no longer wanted.
struct TStripCancelled {};

// The source manager: the whole picture when it is in memory, else blocks
// read from the stream, never past the picture's Size bytes.
struct TStreamSource {
  jpeg_source_mgr Pub;
  TStream* Stream;
  std::int64_t Remaining;
  bool StartOfFile;
  bool AtEnd;
  JOCTET* Buffer;  // from libjpeg's pool
  std::span<const std::uint8_t> Memory;  // the whole picture when it is in memory
};

struct TDecodeContext {
  jpeg_error_mgr Err;
  TProgressMgr Progress;
  J_DCT_METHOD FinalDCT;
  boolean FinalTwoPassQuant;
  J_DITHER_MODE FinalDitherMode;
  jpeg_decompress_struct Info;
  TStreamSource Source;
  bool Created;
};

[[noreturn]] void ErrorExit(j_common_ptr info) { throw EJPEG(info->err->msg_code); }
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}
void FormatMessage(j_common_ptr, char* buffer) { buffer[0] = 0; }
void ResetErrorMgr(j_common_ptr info) {
  info->err->msg_code = 0;
  info->err->num_warnings = 0;
}

void ProgressMonitor(j_common_ptr info) {
  auto* p = reinterpret_cast<TProgressMgr*>(info->progress);
  if (!info->is_decompressor) return;
  auto* d = reinterpret_cast<j_decompress_ptr>(info);
  if (d->input_scan_number > kMaxJpegScans) throw EJPEG(JERR_BAD_PROGRESSION);
  if (p->Cancel && p->Cancel->load(std::memory_order_relaxed)) throw TStripCancelled();
  // A decode for work that was told to stop ends within a few rows.
  CheckLoadStop();
  if (!p->Instance || p->Pub.pass_limit <= 0 || p->Pub.total_passes <= 0) return;
  const double done = (p->Pub.completed_passes + double(p->Pub.pass_counter) / double(p->Pub.pass_limit)) /
                      double(p->Pub.total_passes);
  const auto percent = std::uint8_t(std::clamp(int(100.0 * done), 0, 100));
  p->Instance->Progress(p->Instance, TProgressStage::Running, percent, true, TRect{}, WideString());
}

// ---- The source manager over the program's streams -----------------------------------

const JOCTET kEndMarker[2] = {0xFF, JPEG_EOI};

// Bytes in memory are all there from the start: running out of them is a cut
// picture, not an empty one.
void InitSource(j_decompress_ptr info) {
  reinterpret_cast<TStreamSource*>(info->src)->StartOfFile = info->src->bytes_in_buffer == 0;
}

// No data left: an end marker in place of the missing data ends the picture
// cleanly (what is missing stays grey).
void SupplyEnd(j_decompress_ptr info, TStreamSource* s) {
  if (s->StartOfFile) ERREXIT(info, JERR_INPUT_EMPTY);
  WARNMS(info, JWRN_JPEG_EOF);
  s->Pub.next_input_byte = kEndMarker;
  s->Pub.bytes_in_buffer = sizeof kEndMarker;
  s->AtEnd = true;
}

boolean FillInputBuffer(j_decompress_ptr info) {
  auto* s = reinterpret_cast<TStreamSource*>(info->src);
  std::int32_t n = 0;
  if (s->Stream && s->Remaining > 0)
    n = s->Stream->Read(TReadBuffer(s->Buffer, kInputBufferSize),
                        std::int32_t(std::min<std::int64_t>(s->Remaining, kInputBufferSize)), 0);
  if (n <= 0) {
    SupplyEnd(info, s);
  } else {
    s->Remaining -= n;
    s->Pub.next_input_byte = s->Buffer;
    s->Pub.bytes_in_buffer = std::size_t(n);
  }
  s->StartOfFile = false;
  return TRUE;
}

void SkipInputData(j_decompress_ptr info, long count) {
  auto* s = reinterpret_cast<TStreamSource*>(info->src);
  if (count <= 0) return;
  while (count > long(s->Pub.bytes_in_buffer)) {
    count -= long(s->Pub.bytes_in_buffer);
    s->Pub.bytes_in_buffer = 0;
    FillInputBuffer(info);
    if (s->AtEnd) return;  // leaves the end marker to be read
  }
  s->Pub.next_input_byte += count;
  s->Pub.bytes_in_buffer -= std::size_t(count);
}

void TermSource(j_decompress_ptr) {}

// Makes the decompressor, without input yet; Instance receives progress.
void CreateDecompressor(TDecodeContext& c, TJpegImage* instance) {
  std::memset(static_cast<void*>(&c), 0, sizeof c);
  jpeg_std_error(&c.Err);
  c.Err.error_exit = &ErrorExit;
  c.Err.emit_message = &EmitMessage;
  c.Err.output_message = &OutputMessage;
  c.Err.format_message = &FormatMessage;
  c.Err.reset_error_mgr = &ResetErrorMgr;
  c.Info.err = &c.Err;
  jpeg_create_decompress(&c.Info);
  c.Created = true;
  c.Info.mem->max_memory_to_use = kMaxJpegWorkMemory;
  c.Progress.Pub.progress_monitor = &ProgressMonitor;
  c.Progress.Instance = instance;
  c.Info.progress = &c.Progress.Pub;
  c.Source.Pub.init_source = &InitSource;
  c.Source.Pub.fill_input_buffer = &FillInputBuffer;
  c.Source.Pub.skip_input_data = &SkipInputData;
  c.Source.Pub.resync_to_restart = &jpeg_resync_to_restart;
  c.Source.Pub.term_source = &TermSource;
  c.Info.src = &c.Source.Pub;
}

// The input: the whole picture in memory.
void AttachMemory(TDecodeContext& c, std::span<const std::uint8_t> bytes) {
  c.Source.Memory = bytes;
  c.Source.Pub.next_input_byte = bytes.data();
  c.Source.Pub.bytes_in_buffer = bytes.size();
}

// Makes the decompressor over the picture's bytes; Instance receives
// progress. Bytes in memory are handed to libjpeg whole; other streams are
// positioned at the picture's start and read in blocks.
void CreateDecompressor(TDecodeContext& c, const TJPEGData& data, TJpegImage* instance) {
  CreateDecompressor(c, instance);
  TStream* stream = data.Stream.get();
  if (!stream || data.Size <= 0) return;  // the first fill reports the empty input
  const std::span<const std::uint8_t> view = stream->MemoryView();
  if (data.Start >= 0 && std::int64_t(view.size()) >= data.Start + data.Size) {
    AttachMemory(c, view.subspan(std::size_t(data.Start), std::size_t(data.Size)));
    return;
  }
  stream->SetPosition(data.Start);
  c.Source.Stream = stream;
  c.Source.Remaining = data.Size;
  c.Source.Buffer = static_cast<JOCTET*>((*c.Info.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&c.Info),
                                                                      JPOOL_PERMANENT, kInputBufferSize));
}

// A copy of picture bytes taken from a stream the image may not keep:
// exactly as large as the picture, without clearing it first.
class TJpegBytes : public TStream {
public:
  explicit TJpegBytes(std::int64_t size) : bytes_(new std::uint8_t[std::size_t(size)]), size_(size) {}
  // Fills the copy from the stream's position; false when it delivers less.
  bool Fill(TStream* from) {
    const std::span<const std::uint8_t> view = from->MemoryView();
    const std::int64_t at = from->GetPosition();
    if (at >= 0 && std::int64_t(view.size()) >= at + size_) {
      std::memcpy(bytes_.get(), view.data() + at, std::size_t(size_));
      from->SetPosition(at + size_);
      return true;
    }
    for (std::int64_t done = 0; done < size_;) {
      const std::int32_t want = std::int32_t(std::min<std::int64_t>(size_ - done, 1 << 24));
      const std::int32_t got = from->Read(TReadBuffer(bytes_.get() + done, std::size_t(want)), want, 0);
      if (got <= 0) return false;
      done += got;
    }
    return true;
  }
  std::int64_t GetPosition() override { return position_; }
  void SetPosition(std::int64_t p) override {
    if (p < 0 || p > size_) throw EStreamSeekError();
    position_ = p;
  }
  std::int64_t GetSize() override { return size_; }
  void SetSize(std::int64_t) override { throw EStreamWriteError(); }
  std::int32_t Read(TReadBuffer buffer, std::int32_t count, std::int32_t offset) override {
    if (offset < 0 || count <= 0 || std::size_t(offset) >= buffer.size()) return 0;
    const std::int64_t n = std::min<std::int64_t>({count, std::int64_t(buffer.size()) - offset, size_ - position_});
    if (n <= 0) return 0;
    std::memcpy(buffer.data() + offset, bytes_.get() + position_, std::size_t(n));
    position_ += n;
    return std::int32_t(n);
  }
  std::int32_t Write(TWriteBuffer, std::int32_t, std::int32_t) override { return 0; }
  using TStream::Read;
  using TStream::Write;
  std::span<const std::uint8_t> MemoryView() override { return {bytes_.get(), std::size_t(size_)}; }

private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::int64_t size_;
  std::int64_t position_ = 0;
};

// Destroys the decompressor whatever happens.
class TDecompressorGuard {
public:
  explicit TDecompressorGuard(TDecodeContext& c) : c_(c) {}
  ~TDecompressorGuard() {
    if (c_.Created) jpeg_destroy_decompress(&c_.Info);
    c_.Created = false;
  }
  TDecompressorGuard(const TDecompressorGuard&) = delete;
  TDecompressorGuard& operator=(const TDecompressorGuard&) = delete;

private:
  TDecodeContext& c_;
};

bool IsFourComponent(J_COLOR_SPACE s) { return s == JCS_CMYK || s == JCS_YCCK; }

// CMYK (inverted in Adobe files) to bytes B, G, R.
void CmykToBgr(const std::uint8_t* cmyk, std::uint8_t* bgr, JDIMENSION width, bool inverted) {
  for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
    int c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
    if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    bgr[0] = std::uint8_t((y * k + 127) / 255);
    bgr[1] = std::uint8_t((m * k + 127) / 255);
    bgr[2] = std::uint8_t((c * k + 127) / 255);
  }
}

// ---- Decoding in strips -----------------------------------------------------------

// A baseline picture in memory decodes in horizontal strips on several
// threads, each with a decompressor of its own. libjpeg can only reach a
// strip by decoding the entropy data before it (jpeg_skip_scanlines, which
// leaves out the rest of the work), so later strips are made shorter: with
// H the share of a decode that skipping costs, strip k gets T (1 - H)^k of
// the rows and all strips end together. H as measured at 1/1, 1/2, 1/4 and
// 1/8, against the whole cost of a row here (writing into a new picture's
// memory included, which weighs most at full size).
constexpr double kSkipShare[4] = {0.50, 0.66, 0.75, 0.94};
constexpr int kMaxStrips = 2;
// Smaller pictures are not worth a thread, nor are strips with fewer rows or
// a smaller share of them (their thread would mostly repeat the entropy
// decoding of the others).
constexpr std::int64_t kMinStripPixels = std::int64_t(1) << 20;
constexpr JDIMENSION kMinStripRows = 32;
constexpr double kMinStripShare = 0.1;

std::atomic<std::int32_t> gDecodeThreads{0};

// Row bounds of the strips: {0, b1, ..., height}; {0, height} for one strip.
std::vector<JDIMENSION> StripBounds(JDIMENSION width, JDIMENSION height, int scale, int threads) {
  if (std::int64_t(width) * height < kMinStripPixels) return {0, height};
  const double q = 1.0 - kSkipShare[std::clamp(scale, 0, 3)];
  for (int n = std::min(threads, kMaxStrips); n >= 2; --n) {
    const double first = (1.0 - q) / (1.0 - std::pow(q, n)), last = first * std::pow(q, n - 1);
    if (last < kMinStripShare || last * height < kMinStripRows) continue;
    std::vector<JDIMENSION> bounds{0};
    double done = 0.0, share = first;
    for (int k = 0; k + 1 < n; ++k, share *= q) {
      done += share;
      bounds.push_back(std::max(JDIMENSION(done * height) & ~JDIMENSION(15), bounds.back()));
    }
    bounds.push_back(height);
    return bounds;
  }
  return {0, height};
}

// Whether a decode at Scale would run in strips, as far as the stored
// picture tells before its header is read again.
bool StripsLikely(const TJPEGData& data, std::uint8_t scale, bool progressive, bool eightBit) {
  if (progressive || eightBit || data.Grayscale || data.Size <= 0) return false;
  if (LoadCallbackMode() != 0 || JpegDecodeThreads() < 2) return false;
  const std::int64_t d = std::int64_t(1) << std::min<int>(scale, 3);
  const std::int64_t w = (data.Width + d - 1) / d, h = (data.Height + d - 1) / d;
  return StripBounds(JDIMENSION(w), JDIMENSION(h), scale, kMaxStrips).size() > 2;
}

// The settings of a decode that every strip's decompressor copies.
struct TStripSetup {
  unsigned ScaleDenom;
  J_COLOR_SPACE OutColorSpace;
  J_DCT_METHOD DctMethod;
  boolean FancyUpsampling, BlockSmoothing;
  JDIMENSION Width, Height;
  int LinesPerRead;
  std::uint8_t* Top;
  std::ptrdiff_t Step;
};

// The rows from libjpeg's next one up to Last, straight into the picture.
void ReadRows(jpeg_decompress_struct& info, const TStripSetup& s, JDIMENSION last) {
  while (info.output_scanline < last) {
    JSAMPROW ptrs[16];
    const int n = std::min<int>(s.LinesPerRead, int(last - info.output_scanline));
    std::uint8_t* row = s.Top + std::ptrdiff_t(info.output_scanline) * s.Step;
    for (int k = 0; k < n; ++k) ptrs[k] = row + k * s.Step;
    if (jpeg_read_scanlines(&info, ptrs, JDIMENSION(n)) == 0) break;
  }
}

// Rows [First, Last) by a decompressor of its own over the same bytes.
void DecodeStrip(std::span<const std::uint8_t> bytes, const TStripSetup& s, JDIMENSION first, JDIMENSION last,
                 const std::atomic<bool>* cancel) {
  TDecodeContext c;
  TDecompressorGuard guard(c);
  CreateDecompressor(c, nullptr);
  AttachMemory(c, bytes);
  c.Progress.Cancel = cancel;
  jpeg_decompress_struct& info = c.Info;
  jpeg_read_header(&info, TRUE);
  info.scale_num = 1;
  info.scale_denom = s.ScaleDenom;
  info.out_color_space = s.OutColorSpace;
  info.dct_method = s.DctMethod;
  info.do_fancy_upsampling = s.FancyUpsampling;
  info.do_block_smoothing = s.BlockSmoothing;
  jpeg_start_decompress(&info);
  if (info.output_width != s.Width || info.output_height != s.Height || info.output_components != 3)
    throw EJPEG(JERR_FILE_READ);
  if (first > 0) jpeg_skip_scanlines(&info, first);
  ReadRows(info, s, last);
}

// Strip 0 on this thread through C (started already), the others on
// threads of their own (or here, when no thread can be had). Once all have
// stopped, the first error of a strip is raised; a failed strip stops the
// others early.
void DecodeInStrips(TDecodeContext& c, const TStripSetup& s, const std::vector<JDIMENSION>& bounds) {
  const std::size_t n = bounds.size() - 1;
  std::atomic<bool> cancel{false};
  std::vector<std::exception_ptr> errors(n);
  // The strips' threads see the stop of the work that decodes.
  TLoadStop* stop = CurrentLoadStop();
  auto run = [&](std::size_t k) {
    const TLoadStopScope scope(stop);
    try {
      DecodeStrip(c.Source.Memory, s, bounds[k], bounds[k + 1], &cancel);
    } catch (...) {
      errors[k] = std::current_exception();
      cancel.store(true);
    }
  };
  {
    std::vector<std::thread> threads;
    threads.reserve(n);
    struct TJoin {
      std::vector<std::thread>& Threads;
      ~TJoin() {
        for (std::thread& t : Threads) t.join();
      }
    } join{threads};
    std::vector<std::size_t> here;
    for (std::size_t k = 1; k < n; ++k) {
      try {
        threads.emplace_back(run, k);
      } catch (const std::system_error&) {
        here.push_back(k);
      }
    }
    c.Progress.Cancel = &cancel;
    try {
      ReadRows(c.Info, s, bounds[1]);
    } catch (...) {
      errors[0] = std::current_exception();
      cancel.store(true);
    }
    c.Progress.Cancel = nullptr;
    for (std::size_t k : here) run(k);
  }
  for (const std::exception_ptr& e : errors) {
    if (!e) continue;
    try {
      std::rethrow_exception(e);
    } catch (const TStripCancelled&) {
      // stopped for another strip's error, raised in its turn
    }
  }
}

}  // namespace

// ============================================================================
// Small classes
// ============================================================================

void SetJpegDecodeThreads(std::int32_t count) { gDecodeThreads.store(std::max(count, 0)); }

std::int32_t JpegDecodeThreads() {
  const std::int32_t n = gDecodeThreads.load();
  // One processor is left to the rest of the program (the frames while a
  // coming slide decodes): of those it may run on, not of the machine's.
  return n > 0 ? n : std::max(std::int32_t(plat::ProcessorCount()) - 1, 1);
}

EJPEG::EJPEG(std::int32_t code) : Exception(FormatPrintf("JPEG error #%d", {code})), code_(code) {}

void TProgress::Progress(TRefObject* sender, TProgressStage stage, std::uint8_t percentDone, bool redrawNow,
                         const TRect& rect, const WideString& message) {
  if (OnProgress) OnProgress(sender, stage, percentDone, redrawNow, rect, message);
}

TJPEGData::TJPEGData() : Stream(MakeRef<TMemoryStream>()) {}

void TJPEGData::Dispose() {
  Stream = nullptr;
  TRefObject::Dispose();
}

// ============================================================================
// TJpegImage
// ============================================================================

TJpegImage::TJpegImage() { LogPalette.palVersion = 0x300; }

void TJpegImage::Dispose() {
  Data = nullptr;
  if (Palette) plat::DeleteObject(reinterpret_cast<plat::HGDIOBJ>(Palette));
  Palette = nullptr;
  TProgress::Dispose();
}

TPoint TJpegImage::GetDimensions() const { return Data ? TPoint{Data->Width, Data->Height} : TPoint{0, 0}; }

void TJpegImage::LoadFromStream(TStream* stream, bool keepStream) {
  ZM_ASSERT(stream, "TJpegImage.LoadFromStream - Stream not Assigned");
  const std::int64_t size = stream->GetSize(), position = stream->GetPosition();
  const std::int64_t count = size - position;
  if (size < 0 || count < 0 || count > TMemoryStream::kMaxSize) throw EStreamReadError();
  Data = MakeRef<TJPEGData>();
  if (count == 0) {
    PaletteChanged = true;
    Changed();
    return;
  }
  if (keepStream) {
    Data->Stream = TRef<TStream>(stream);
    Data->Start = position;
  } else {
    TRef<TJpegBytes> copy = MakeRef<TJpegBytes>(count);
    if (!copy->Fill(stream)) throw EStreamReadError();
    Data->Stream = copy;
  }
  Data->Size = count;
  TDecodeContext c;
  TDecompressorGuard guard(c);
  CreateDecompressor(c, *Data, nullptr);
  jpeg_read_header(&c.Info, TRUE);
  if (keepStream) stream->SetPosition(position + count);
  Data->Width = std::int32_t(c.Info.image_width);
  Data->Height = std::int32_t(c.Info.image_height);
  Data->Grayscale = c.Info.jpeg_color_space == JCS_GRAYSCALE;
  Progressive = jpeg_has_multiple_scans(&c.Info);
  // The header read up to the first scan, so the components' sizes in
  // blocks are known.
  std::int64_t blocks = 0;
  for (int i = 0; i < c.Info.num_components; ++i)
    blocks += std::int64_t(c.Info.comp_info[i].width_in_blocks) * c.Info.comp_info[i].height_in_blocks;
  Data->CoefficientBytes = blocks * std::int64_t(sizeof(JBLOCK));
}

TRef<TFastDIB> TJpegImage::Decode(std::uint8_t scale) {
  ZM_ASSERT(Data && Data->Stream, "TJpegImage.Decode - No Data");
  TRef<TFastDIB> dib = MakeRef<TFastDIB>();
  const std::uint8_t savedScale = Scale;
  Scale = std::min<std::uint8_t>(scale, 3);
  bool needPalette = true;
  TDecodeContext c;
  TDecompressorGuard guard(c);
  jpeg_decompress_struct& info = c.Info;

  auto buildPalette = [&]() {
    const int n = std::clamp(info.actual_number_of_colors, 0, 256);
    LogPalette.palVersion = 0x300;
    LogPalette.palNumEntries = std::uint16_t(n);
    for (int i = 0; i < n; ++i) {
      plat::PALETTEENTRY& e = LogPalette.palPalEntry[i];
      if (info.out_color_components == 1) {
        const std::uint8_t v = info.colormap[0][i];
        e = plat::PALETTEENTRY{v, v, v, 0};
      } else {
        e = plat::PALETTEENTRY{info.colormap[2][i], info.colormap[1][i], info.colormap[0][i], 0};
      }
    }
    if (Palette) plat::DeleteObject(reinterpret_cast<plat::HGDIOBJ>(Palette));
    Palette = n > 0 ? plat::CreatePalette(&LogPalette) : nullptr;
    PaletteChanged = true;
    PaletteValid = true;
  };

  TRef<TJpegBytes> copy;
  try {
    // Decoder setup.
    CreateDecompressor(c, *Data, this);
    if (c.Source.Stream && StripsLikely(*Data, Scale, Progressive, PixelFormat == jf8Bit)) {
      // Strips need the bytes in memory: a picture read from a file is
      // copied once, which costs far less than the strips save.
      try {
        copy = MakeRef<TJpegBytes>(Data->Size);
      } catch (const std::bad_alloc&) {
        copy = nullptr;  // read in blocks as before
      }
      if (copy && copy->Fill(c.Source.Stream)) {
        AttachMemory(c, copy->MemoryView());
        c.Source.Stream = nullptr;
        c.Source.Remaining = 0;
      } else {
        c.Source.Stream->SetPosition(Data->Start);
      }
    }
    jpeg_read_header(&info, TRUE);
    // A kept file may have been rewritten since: never a picture of a size
    // other than the one the store announced.
    if (std::int32_t(info.image_width) != Data->Width || std::int32_t(info.image_height) != Data->Height)
      throw EJPEG(JERR_FILE_READ);
    if (std::int64_t(info.image_width) * info.image_height > kMaxJpegPixels) throw EJPEG(JERR_IMAGE_TOO_BIG);
    info.scale_num = 1;
    info.scale_denom = 1u << Scale;
    info.do_block_smoothing = Smoothing ? TRUE : FALSE;
    const bool fourComponent = IsFourComponent(info.jpeg_color_space);
    if (Data->Grayscale) info.out_color_space = JCS_GRAYSCALE;
    else if (fourComponent) info.out_color_space = JCS_CMYK;
    else if (PixelFormat != jf8Bit) info.out_color_space = JCS_EXT_BGR;
    if ((PixelFormat == jf8Bit && !fourComponent) || info.out_color_space == JCS_GRAYSCALE) {
      info.quantize_colors = TRUE;
      info.desired_number_of_colors = 236;
    }
    if (Performance == jpBestSpeed) {
      info.dct_method = JDCT_IFAST;
      info.two_pass_quantize = FALSE;
      info.dither_mode = JDITHER_ORDERED;
    }
    c.FinalDCT = info.dct_method;
    c.FinalTwoPassQuant = info.two_pass_quantize;
    c.FinalDitherMode = info.dither_mode;
    if (ProgressiveDisplay && jpeg_has_multiple_scans(&info)) {
      info.enable_2pass_quant = info.two_pass_quantize;
      info.dct_method = JDCT_IFAST;
      info.two_pass_quantize = FALSE;
      info.dither_mode = JDITHER_ORDERED;
      info.buffered_image = TRUE;
    }

    const int bits = (info.quantize_colors && (PixelFormat == jf8Bit || info.out_color_space == JCS_GRAYSCALE)) ? 8 : 24;
    Progress(this, TProgressStage::Starting, 0, false, TRect{}, WideString());
    if (Palette) {
      if (PixelFormat == jf8Bit && info.quantize_colors) {
        plat::PALETTEENTRY entries[256];
        const int n = int(plat::GetPaletteEntries(Palette, 0, 256, entries));
        if (n > 0) {
          info.colormap = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE, JDIMENSION(n), 3);
          for (int i = 0; i < n; ++i) {
            info.colormap[0][i] = entries[i].peBlue;
            info.colormap[1][i] = entries[i].peGreen;
            info.colormap[2][i] = entries[i].peRed;
          }
          info.actual_number_of_colors = n;
          needPalette = false;
        }
      } else {
        plat::DeleteObject(reinterpret_cast<plat::HGDIOBJ>(Palette));
        Palette = nullptr;
      }
    }

    // The output must fit in a DIB before libjpeg takes its working memory.
    jpeg_calc_output_dimensions(&info);
    const std::int64_t rowBytes = std::int64_t(DibStride(std::int32_t(info.output_width), bits));
    if (rowBytes * info.output_height > plat::kMaxDibBytes) throw EJPEG(JERR_IMAGE_TOO_BIG);

    jpeg_start_decompress(&info);
    const bool buffered = info.buffered_image;
    if (bits == 8 && info.quantize_colors && info.colormap && needPalette && !buffered) buildPalette();
    if (bits == 8 && PaletteValid) {
      // LogPalette entries hold B, G, R in their first three bytes (the
      // order the expansion copies), which is the order of RGBQUAD.
      plat::RGBQUAD colors[256];
      for (int i = 0; i < LogPalette.palNumEntries; ++i)
        colors[i] = plat::RGBQUAD{LogPalette.palPalEntry[i].peRed, LogPalette.palPalEntry[i].peGreen,
                                  LogPalette.palPalEntry[i].peBlue, 0};
      dib->SetColors(colors, LogPalette.palNumEntries);
    }
    dib->SetSize(std::int32_t(info.output_width), std::int32_t(info.output_height), bits);

    // The picture's top row and the step to the next one (negative in a
    // bottom-up DIB).
    const auto& rows = dib->Scanlines();
    std::uint8_t* top = dib->TopDown() ? rows.front() : rows.back();
    const std::ptrdiff_t step = dib->TopDown() ? dib->Stride() : -std::ptrdiff_t(dib->Stride());
    const int linesPerRead =
        (step > 0 && step % 4 == 0) ? std::clamp(info.rec_outbuf_height, 1, 16) : 1;
    std::vector<std::uint8_t> scratch;
    if (info.out_color_space == JCS_CMYK)
      scratch.resize(std::size_t(info.output_width) * std::size_t(info.output_components));
    const bool inverted = info.saw_Adobe_marker;

    auto readRows = [&]() {
      std::uint8_t* row = top;
      while (info.output_scanline < info.output_height) {
        if (!scratch.empty()) {
          JSAMPROW p = scratch.data();
          if (jpeg_read_scanlines(&info, &p, 1) != 1) break;
          CmykToBgr(scratch.data(), row, info.output_width, inverted);
          row += step;
          continue;
        }
        JSAMPROW ptrs[16];
        const int n = std::min<int>(linesPerRead, int(info.output_height - info.output_scanline));
        for (int k = 0; k < n; ++k) ptrs[k] = row + k * step;
        const JDIMENSION got = jpeg_read_scanlines(&info, ptrs, JDIMENSION(n));
        if (got == 0) break;
        row += std::ptrdiff_t(got) * step;
      }
    };

    // Baseline 24-bit pictures in memory: in strips on several threads.
    std::vector<JDIMENSION> bounds{0, info.output_height};
    if (!buffered && !c.Source.Memory.empty() && scratch.empty() && bits == 24 && !info.quantize_colors &&
        !jpeg_has_multiple_scans(&info))
      // While a show plays, loads yield to it (load callback modes 1 and 2):
      // no extra threads then.
      bounds = StripBounds(info.output_width, info.output_height, Scale,
                           LoadCallbackMode() == 0 ? JpegDecodeThreads() : 1);
    if (bounds.size() > 2) {
      const TStripSetup setup{info.scale_denom, info.out_color_space, info.dct_method, info.do_fancy_upsampling,
                              info.do_block_smoothing, info.output_width, info.output_height, linesPerRead, top, step};
      DecodeInStrips(c, setup, bounds);
      // The decompressor stopped at the end of its strip: nothing to finish.
    } else {
      if (buffered) {
        for (int pass = 0; pass <= kMaxJpegScans; ++pass) {
          jpeg_start_output(&info, info.input_scan_number);
          if (info.colormap && info.quantize_colors && bits == 8 && needPalette) buildPalette();
          readRows();
          jpeg_finish_output(&info);
          if (jpeg_input_complete(&info)) break;
          int r;
          do r = jpeg_consume_input(&info);
          while (r != JPEG_REACHED_SOS && r != JPEG_REACHED_EOI && r != JPEG_SUSPENDED);
          if (r != JPEG_REACHED_SOS) break;
        }
        info.dct_method = c.FinalDCT;
        info.dither_mode = c.FinalDitherMode;
        if (c.FinalTwoPassQuant) {
          info.two_pass_quantize = TRUE;
          info.colormap = nullptr;
        }
        jpeg_start_output(&info, info.input_scan_number);
      }
      // A final two-pass quantisation made a new colour map.
      if (buffered && c.FinalTwoPassQuant && bits == 8 && info.colormap && needPalette) buildPalette();
      readRows();
      if (buffered) jpeg_finish_output(&info);
      jpeg_finish_decompress(&info);
    }
  } catch (...) {
    try {
      Progress(this, TProgressStage::Ending, 0, PaletteChanged, TRect{}, WideString());
      if (PaletteChanged) Changed();
    } catch (...) {
    }
    Scale = savedScale;
    throw;
  }
  Progress(this, TProgressStage::Ending, 100, PaletteChanged, TRect{}, WideString());
  if (PaletteChanged) Changed();
  Scale = savedScale;
  return dib;
}

// ============================================================================
// TJpegBitmapStore
// ============================================================================

namespace {
TJpegImage* NeedJpeg(TJpegImage* jpeg) {
  ZM_ASSERT(jpeg, "TJpegBitmapStore.Create - Jpeg not Assigned");
  return jpeg;
}

TPixelFormat* StoreFormat(TJpegImage* jpeg) {
  switch (NeedJpeg(jpeg)->PixelFormat) {
    case jf24Bit: return PixelFormatByName(PF_B8G8R8);
    case jf8Bit: return PixelFormatByName(PF_Y8);
    default: ZM_FAIL("TJpegBitmapStore.Create - Invalid PixelFormat");
  }
}
}  // namespace

TJpegBitmapStore::TJpegBitmapStore(const WideString& name, const TImageLoadHandler& handler, TJpegImage* jpeg)
    : TSysBitmapStore(name, handler, NeedJpeg(jpeg)->GetDimensions(), StoreFormat(jpeg)) {
  jpeg_ = TRef<TJpegImage>::Adopt(jpeg);
  jpeg_->OnProgress = [this](TRefObject*, TProgressStage, std::uint8_t percent, bool, const TRect&,
                             const WideString&) { JpegProgress(percent); };
}

void TJpegBitmapStore::Dispose() {
  if (jpeg_) jpeg_->OnProgress = nullptr;
  jpeg_ = nullptr;
  TSysBitmapStore::Dispose();
}

void TJpegBitmapStore::JpegProgress(std::uint8_t percent) {
  if (!ProgressHandler) return;
  ProgressHandler(float(percent) * (jpeg_->PixelFormat == jf8Bit ? 0.005f : 0.01f));
}

void TJpegBitmapStore::GetSourceLevel(std::int32_t level, TMipLevelResult& result) {
  if (level < 0 || level > 3) return;
  TRef<TFastDIB> dib = jpeg_->Decode(std::uint8_t(level));
  if (dib->BitCount() == 8) {
    // The palette indexes become their colours.
    TRef<TFastDIB> wide = MakeRef<TFastDIB>();
    wide->SetSize(dib->Width(), dib->Height(), 24);
    const std::int32_t h = dib->AbsHeight(), w = dib->Width();
    const bool valid = jpeg_->PaletteValid;
    const plat::PALETTEENTRY* pal = jpeg_->LogPalette.palPalEntry;
    for (std::int32_t y = 0; y < h; ++y) {
      if (ProgressHandler) ProgressHandler(0.5f + 0.5f * float(y) / float(h));
      const std::uint8_t* s = dib->Pixels8(y);
      std::uint8_t* d = wide->Pixels8(y);
      for (std::int32_t x = 0; x < w; ++x, d += 3) {
        const std::uint8_t v = s[x];
        if (valid) d[0] = pal[v].peRed, d[1] = pal[v].peGreen, d[2] = pal[v].peBlue;
        else d[0] = d[1] = d[2] = v;
      }
    }
    dib = wide;
  }
  if (ProgressHandler) ProgressHandler(1.0f);
  result.Bitmap = WrapDibBitmap(dib.get(), false);
  result.Owned = true;
  result.Level = level;
}

// ============================================================================
// Loaders
// ============================================================================

TRef<TBitmapStore> LoadJpegBitmapStore(TStream* stream, const WideString& fileName, bool ownsStream,
                                       const TImageLoadHandler& handler) {
  if (!stream) return nullptr;
  const std::int64_t start = stream->GetPosition();
  TRef<TJpegImage> jpeg = MakeRef<TJpegImage>();
  jpeg->Performance = gBestQuality ? jpBestQuality : jpBestSpeed;
  bool ok = true;
  try {
    jpeg->LoadFromStream(stream, ownsStream);
  } catch (const std::exception&) {
    ok = false;
  }
  if (ok) {
    const TPoint size = jpeg->GetDimensions();
    ok = size.X > 0 && size.Y > 0 && std::int64_t(size.X) * size.Y <= kMaxJpegPixels;
    // A few hundred bytes may declare a picture whose scans could never be
    // gathered in memory: every level would fail to decode.
    if (ok && jpeg->Progressive)
      ok = jpeg->Data->CoefficientBytes <= std::int64_t(kMaxJpegWorkMemory) - kJpegOtherWorkMemory;
  }
  if (!ok) {
    stream->SetPosition(start);
    return nullptr;
  }
  TRef<TJpegBitmapStore> store = MakeRef<TJpegBitmapStore>(fileName, handler, jpeg.Detach());
  const std::int64_t p = stream->GetPosition();
  stream->SetPosition(start);
  store->ColorProfile = LoadJpegColorProfile(stream, fileName);
  stream->SetPosition(p);
  if (ownsStream) stream->ReleaseRef();
  return store;
}

TRef<TColorProfile> LoadJpegColorProfile(TStream* stream, const WideString& name) {
  return ColorProfileFromData(ExtractJpegICCProfile(stream), name);
}

void InitJpegLoader() {
  RegisterImageLoader(&LoadJpegBitmapStore, {u".jpg", u".jpeg", u".jpe", u".jfif"});
  RegisterProfileLoader(&LoadJpegColorProfile, {u".jpg", u".jpeg", u".jpe", u".jfif"});
}

void FiniJpegLoader() {
  UnregisterImageLoader(&LoadJpegBitmapStore);
  UnregisterProfileLoader(&LoadJpegColorProfile);
}

}  // namespace zm
