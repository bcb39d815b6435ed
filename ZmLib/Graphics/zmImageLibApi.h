#pragma once
// The calls between the program and a picture library it loads at run time
// (plain C, the default calling convention of the platform). Fields that
// hold a pointer or a handle are pointer-sized.
#include <cstdint>

extern "C" {

// The program's stream as the library sees it. ReadAt and WriteAt move the
// stream to Position first and answer the bytes moved (0 on any failure).
struct TImageLibStream {
  void* Stream;
  std::int64_t (*GetSize)(void* stream);
  void (*SetSize)(void* stream, std::int64_t size);
  std::int32_t (*ReadAt)(void* stream, void* buffer, std::int32_t count, std::int64_t position);
  std::int32_t (*WriteAt)(void* stream, const void* buffer, std::int32_t count, std::int64_t position);
};

// Filled by OpenImage, Rows set by ReadImage: Height row pointers, top row
// first, pixels B, G, R (24 bits) or B, G, R, A with straight alpha (32).
// The library must not keep the stream record past OpenImage: the stream
// may be gone by the time ReadImage runs. Reserved is the library's own.
struct TImageLibRecord {
  void* ImageHandle;
  std::int32_t BitsPerPixel;
  std::int32_t Width;
  std::int32_t Height;
  std::uint8_t** Rows;
  void* Reserved;
};

using TOpenImageProc = bool (*)(TImageLibRecord* image, const TImageLibStream* stream);
using TOpenImageFileProc = bool (*)(TImageLibRecord* image, const char* utf8FileName);
using TReadImageProc = void (*)(TImageLibRecord* image);
using TCloseImageProc = void (*)(TImageLibRecord* image);

}  // extern "C"
