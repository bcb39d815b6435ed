#pragma once
// Test pictures: the product's JPEG writer (colour, grey, CMYK and YCCK,
// baseline, progressive or arithmetic-coded, restart markers, any APP
// markers) and the marker payloads and offsets the decoder tests need.
#include <string>

#include "OruLib2/OruPack/JpegWriter.h"

namespace zmtest {

using oru::TJpegKind;
using oru::TJpegOptions;
using oru::WriteJpeg;

// An APP2 payload carrying chunk Seq of Count of an ICC profile.
std::string IccChunk(int seq, int count, const std::string& data);
// An APP1 payload with a minimal Exif block holding the orientation.
std::string ExifOrientation(int orientation);
// Byte offsets of the first SOF marker's height and width fields (big
// endian 16-bit each); -1 when there is none.
int SofSizeOffset(const std::string& jpeg);

}  // namespace zmtest
