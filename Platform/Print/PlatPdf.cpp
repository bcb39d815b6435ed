#include "Platform/Print/PlatPdf.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include <cstring>

namespace plat::print {

struct TPdfWriter::Impl {
  TPageGeometry Page;
  std::string Bytes;
  cairo_surface_t* Surface = nullptr;
  cairo_t* Cr = nullptr;
  bool Failed = false;
  bool Finished = false;

  static cairo_status_t Write(void* closure, const unsigned char* data, unsigned int length) {
    auto* self = static_cast<Impl*>(closure);
    try {
      self->Bytes.append(reinterpret_cast<const char*>(data), length);
    } catch (...) {
      return CAIRO_STATUS_WRITE_ERROR;
    }
    return CAIRO_STATUS_SUCCESS;
  }
  void Close() {
    if (Cr) cairo_destroy(Cr);
    Cr = nullptr;
    if (Surface) {
      cairo_surface_finish(Surface);
      if (cairo_surface_status(Surface) != CAIRO_STATUS_SUCCESS) Failed = true;
      cairo_surface_destroy(Surface);
    }
    Surface = nullptr;
  }
};

TPdfWriter::TPdfWriter(const TPageGeometry& page) : impl_(std::make_unique<Impl>()) {
  impl_->Page = page;
  if (page.WidthPt < 1 || page.HeightPt < 1 || page.Dpi < 1) {
    impl_->Failed = true;
    return;
  }
  impl_->Surface = cairo_pdf_surface_create_for_stream(&Impl::Write, impl_.get(), page.WidthPt, page.HeightPt);
  impl_->Cr = cairo_create(impl_->Surface);
  if (cairo_status(impl_->Cr) != CAIRO_STATUS_SUCCESS) impl_->Failed = true;
}

TPdfWriter::~TPdfWriter() { impl_->Close(); }

bool TPdfWriter::Ok() const { return !impl_->Failed; }

bool TPdfWriter::DrawBitmap(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, const std::uint8_t* bgrx,
                            std::int32_t bw, std::int32_t bh, std::int32_t stride) {
  Impl& m = *impl_;
  if (m.Failed || m.Finished || !bgrx || bw < 1 || bh < 1 || w < 1 || h < 1 || stride < bw * 4) return false;
  cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_RGB24, bw, bh);
  if (cairo_surface_status(img) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(img);
    return false;
  }
  cairo_surface_flush(img);
  // RGB24 is a native 32-bit word 0xXXRRGGBB: the bytes B, G, R, X on a
  // little-endian machine, so rows copy as they are.
  unsigned char* dst = cairo_image_surface_get_data(img);
  const int dstStride = cairo_image_surface_get_stride(img);
  for (std::int32_t row = 0; row < bh; ++row)
    std::memcpy(dst + std::ptrdiff_t(row) * dstStride, bgrx + std::ptrdiff_t(row) * stride, std::size_t(bw) * 4);
  cairo_surface_mark_dirty(img);

  const double scale = 72.0 / m.Page.Dpi;
  cairo_save(m.Cr);
  cairo_rectangle(m.Cr, 0, 0, m.Page.WidthPt, m.Page.HeightPt);
  cairo_clip(m.Cr);
  cairo_translate(m.Cr, m.Page.LeftPt + x * scale, m.Page.TopPt + y * scale);
  cairo_scale(m.Cr, w * scale / bw, h * scale / bh);
  cairo_set_source_surface(m.Cr, img, 0, 0);
  cairo_pattern_set_extend(cairo_get_source(m.Cr), CAIRO_EXTEND_PAD);
  cairo_rectangle(m.Cr, 0, 0, bw, bh);
  cairo_fill(m.Cr);
  cairo_restore(m.Cr);
  cairo_surface_destroy(img);
  if (cairo_status(m.Cr) != CAIRO_STATUS_SUCCESS) m.Failed = true;
  return !m.Failed;
}

bool TPdfWriter::EndPage() {
  Impl& m = *impl_;
  if (m.Failed || m.Finished) return false;
  cairo_show_page(m.Cr);
  return cairo_status(m.Cr) == CAIRO_STATUS_SUCCESS;
}

std::string TPdfWriter::Finish() {
  Impl& m = *impl_;
  if (m.Finished) return m.Failed ? std::string() : m.Bytes;
  m.Finished = true;
  m.Close();
  if (m.Failed) m.Bytes.clear();
  return m.Bytes;
}

}  // namespace plat::print
