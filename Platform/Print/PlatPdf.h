#pragma once
// A PDF document written in memory: the pages a printer DC draws, sized and
// placed as the page geometry says. Standard types only.
#include <cstdint>
#include <memory>
#include <string>

#include "Platform/Print/PlatPrint.h"

namespace plat::print {

class TPdfWriter {
public:
  explicit TPdfWriter(const TPageGeometry& page);
  ~TPdfWriter();
  TPdfWriter(const TPdfWriter&) = delete;
  TPdfWriter& operator=(const TPdfWriter&) = delete;

  // False when the page geometry was unusable or writing failed.
  bool Ok() const;
  // A bw x bh picture of top-down B, G, R, X rows stretched onto the
  // printable area's (x, y, w, h) device pixels; clipped to the sheet.
  bool DrawBitmap(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, const std::uint8_t* bgrx,
                  std::int32_t bw, std::int32_t bh, std::int32_t stride);
  // Ends the current page; the next drawing starts a new one.
  bool EndPage();
  // Closes the document and gives its bytes ("" after a failure). An open
  // page is ended; a document without a drawn page still has one blank page.
  std::string Finish();

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat::print
