#include "OruLib2/OruPack/JpegWriter.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <jpeglib.h>

namespace oru {

namespace {

[[noreturn]] void Fail(j_common_ptr info) {
  char text[JMSG_LENGTH_MAX];
  (*info->err->format_message)(info, text);
  throw std::runtime_error(std::string("libjpeg: ") + text);
}

void Gradient(const TJpegOptions& s, int x, int y, std::uint8_t* c) {
  const int w = s.Width > 1 ? s.Width - 1 : 1, h = s.Height > 1 ? s.Height - 1 : 1;
  const auto gx = std::uint8_t(x * 255 / w), gy = std::uint8_t(y * 255 / h);
  switch (s.Kind) {
    case TJpegKind::Grey: c[0] = std::uint8_t((gx + gy) / 2); break;
    case TJpegKind::Rgb: c[0] = gx, c[1] = gy, c[2] = 128; break;
    default: c[0] = gx, c[1] = gy, c[2] = 64, c[3] = 200; break;
  }
}

// Frees the compressor and its memory buffer however the writing ends.
struct TCompressor {
  jpeg_compress_struct Info{};
  jpeg_error_mgr Err{};
  unsigned char* Buffer = nullptr;
  unsigned long Size = 0;
  TCompressor() {
    Info.err = jpeg_std_error(&Err);
    Err.error_exit = &Fail;
    jpeg_create_compress(&Info);
  }
  ~TCompressor() {
    jpeg_destroy_compress(&Info);
    std::free(Buffer);
  }
};

}  // namespace

std::string WriteJpeg(const TJpegOptions& opts) {
  TCompressor c;
  jpeg_mem_dest(&c.Info, &c.Buffer, &c.Size);
  c.Info.image_width = JDIMENSION(opts.Width);
  c.Info.image_height = JDIMENSION(opts.Height);
  int components = 3;
  switch (opts.Kind) {
    case TJpegKind::Grey: components = 1, c.Info.in_color_space = JCS_GRAYSCALE; break;
    case TJpegKind::Rgb: c.Info.in_color_space = JCS_RGB; break;
    default: components = 4, c.Info.in_color_space = JCS_CMYK; break;
  }
  c.Info.input_components = components;
  jpeg_set_defaults(&c.Info);
  if (opts.Kind == TJpegKind::Ycck) jpeg_set_colorspace(&c.Info, JCS_YCCK);
  jpeg_set_quality(&c.Info, opts.Quality, TRUE);
  if (opts.FullChroma)
    for (int i = 0; i < c.Info.num_components; ++i)
      c.Info.comp_info[i].h_samp_factor = c.Info.comp_info[i].v_samp_factor = 1;
  if (opts.Progressive) jpeg_simple_progression(&c.Info);
  c.Info.arith_code = opts.Arithmetic ? TRUE : FALSE;
  c.Info.restart_in_rows = opts.RestartRows;
  jpeg_start_compress(&c.Info, TRUE);
  for (const auto& [marker, payload] : opts.Markers)
    jpeg_write_marker(&c.Info, marker, reinterpret_cast<const JOCTET*>(payload.data()), unsigned(payload.size()));
  std::vector<std::uint8_t> row(std::size_t(opts.Width) * std::size_t(components));
  for (int y = 0; y < opts.Height; ++y) {
    for (int x = 0; x < opts.Width; ++x) {
      std::uint8_t* p = row.data() + std::size_t(x) * std::size_t(components);
      if (opts.Pixel) opts.Pixel(x, y, p);
      else Gradient(opts, x, y, p);
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c.Info, &r, 1);
  }
  jpeg_finish_compress(&c.Info);
  return std::string(reinterpret_cast<const char*>(c.Buffer), c.Size);
}

}  // namespace oru
