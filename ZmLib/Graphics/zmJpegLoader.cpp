#include "ZmLib/Graphics/zmJpegLoader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

// jpeglib.h wants size_t and FILE declared first.
#include <jpeglib.h>
#include <jerror.h>

#include "ZmLib/Graphics/zmJpegICCExtractor.h"

namespace zm {

namespace {

// While on, pictures decode at best quality (nothing turns it off).
bool gBestQuality = true;

constexpr std::int32_t kInputBufferSize = 4096;
// More scans than any encoder writes: a file with more is hostile (each
// scan costs a pass over the whole picture).
constexpr int kMaxJpegScans = 1000;

// ---- The context of one decode or header read -------------------------------------

struct TProgressMgr {
  jpeg_progress_mgr Pub;
  TJpegImage* Instance;
  std::int32_t LastPass, LastPercent, LastTime, LastScanline;
};

struct TStreamSource {
  jpeg_source_mgr Pub;
  TStream* Stream;
  bool StartOfFile;
  JOCTET Buffer[kInputBufferSize];
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
  if (!p->Instance || p->Pub.pass_limit <= 0 || p->Pub.total_passes <= 0) return;
  const double done = (p->Pub.completed_passes + double(p->Pub.pass_counter) / double(p->Pub.pass_limit)) /
                      double(p->Pub.total_passes);
  const auto percent = std::uint8_t(std::clamp(int(100.0 * done), 0, 100));
  p->Instance->Progress(p->Instance, TProgressStage::Running, percent, true, TRect{}, WideString());
}

// ---- The source manager over the program's streams -----------------------------------

void InitSource(j_decompress_ptr info) { reinterpret_cast<TStreamSource*>(info->src)->StartOfFile = true; }

boolean FillInputBuffer(j_decompress_ptr info) {
  auto* s = reinterpret_cast<TStreamSource*>(info->src);
  std::int32_t n = s->Stream->Read(TReadBuffer(s->Buffer, kInputBufferSize), kInputBufferSize, 0);
  if (n <= 0) {
    if (s->StartOfFile) ERREXIT(info, JERR_INPUT_EMPTY);
    WARNMS(info, JWRN_JPEG_EOF);
    // An end marker in place of the missing data ends the picture cleanly.
    s->Buffer[0] = 0xFF;
    s->Buffer[1] = JPEG_EOI;
    n = 2;
  }
  s->Pub.next_input_byte = s->Buffer;
  s->Pub.bytes_in_buffer = std::size_t(n);
  s->StartOfFile = false;
  return TRUE;
}

void SkipInputData(j_decompress_ptr info, long count) {
  auto* s = reinterpret_cast<TStreamSource*>(info->src);
  if (count <= 0) return;
  while (count > long(s->Pub.bytes_in_buffer)) {
    count -= long(s->Pub.bytes_in_buffer);
    FillInputBuffer(info);
  }
  s->Pub.next_input_byte += count;
  s->Pub.bytes_in_buffer -= std::size_t(count);
}

void TermSource(j_decompress_ptr) {}

// Makes the decompressor over a stream; Instance receives progress.
void CreateDecompressor(TDecodeContext& c, TStream* stream, TJpegImage* instance) {
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
  c.Source.Stream = stream;
  c.Source.Pub.init_source = &InitSource;
  c.Source.Pub.fill_input_buffer = &FillInputBuffer;
  c.Source.Pub.skip_input_data = &SkipInputData;
  c.Source.Pub.resync_to_restart = &jpeg_resync_to_restart;
  c.Source.Pub.term_source = &TermSource;
  c.Info.src = &c.Source.Pub;
}

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

}  // namespace

// ============================================================================
// Small classes
// ============================================================================

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

void TJpegImage::LoadFromStream(TStream* stream) {
  ZM_ASSERT(stream, "TJpegImage.LoadFromStream - Stream not Assigned");
  const std::int64_t size = stream->GetSize(), position = stream->GetPosition();
  const std::int64_t count = size - position;
  if (size < 0 || count < 0 || count > TMemoryStream::kMaxSize) throw EStreamReadError();
  Data = MakeRef<TJPEGData>();
  if (count > 0 && Data->Stream->CopyFrom(stream, count) != count) throw EStreamReadError();
  Data->Stream->SetPosition(0);
  if (count == 0) {
    PaletteChanged = true;
    Changed();
    return;
  }
  TDecodeContext c;
  TDecompressorGuard guard(c);
  CreateDecompressor(c, Data->Stream.get(), nullptr);
  jpeg_read_header(&c.Info, TRUE);
  Data->Width = std::int32_t(c.Info.image_width);
  Data->Height = std::int32_t(c.Info.image_height);
  Data->Grayscale = c.Info.jpeg_color_space == JCS_GRAYSCALE;
  Progressive = jpeg_has_multiple_scans(&c.Info);
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

  try {
    // Decoder setup.
    CreateDecompressor(c, Data->Stream.get(), this);
    Data->Stream->SetPosition(0);
    jpeg_read_header(&info, TRUE);
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
    jpeg->LoadFromStream(stream);
  } catch (const std::exception&) {
    ok = false;
  }
  if (ok) {
    const TPoint size = jpeg->GetDimensions();
    ok = size.X > 0 && size.Y > 0 && std::int64_t(size.X) * size.Y <= kMaxJpegPixels;
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
