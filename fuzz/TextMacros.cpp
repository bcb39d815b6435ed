// Slide texts carry macros that are expanded against the slide and the
// main picture's Exif and IPTC data: any text over any picture bytes
// expands without a fault, never to nothing, and a text without macros
// comes back as it was.
//
// Input: a text (UTF-8) up to the first zero byte, then the picture file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "OruLib2/OruClasses/OruTextMacros.h"
#include "ZmLib/wpUnicode.h"
#include "fuzz/FuzzCommon.h"
#include "tests/support/kit/StreamBytes.h"

using zmfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::QuietDebugOutput();
  zmfuzz::StartModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace oru;
  if (size > 1 << 16) return 0;
  const std::string all(reinterpret_cast<const char*>(data), size);
  const std::size_t zero = all.find('\0');
  const std::string textBytes = all.substr(0, zero);
  const std::string picture = zero == std::string::npos ? std::string() : all.substr(zero + 1);
  // Lenient decoding: the show's reader takes any bytes.
  const WideString text = zm::TByteString(textBytes).ToWide();

  TMacroSlideFacts facts;
  facts.SlideIndex = size % 5 == 0 ? 2147483647 : std::int32_t(size % 3);
  facts.SlidesCount = -1;
  facts.HasPicture = !picture.empty();
  facts.PicturePath = u"C:\\photos/" + text.substr(0, 16) + u".jpg";
  facts.PictureWidth = facts.PictureHeight = -7;
  if (!picture.empty())
    facts.OpenPicture = [&picture]() { return zm::TRef<zm::TStream>::Adopt(zmtest::MemoryStreamOf(picture).Detach()); };
  zm::TRef<TMacroResolver> resolver = zm::MakeRef<TMacroResolver>(facts);
  zm::TRef<TMTParser> parser = zm::MakeRef<TMTParser>(resolver->Callback());
  const WideString out = parser->Expand(text);
  Check(!out.empty());
  if (text.find(u"<%") == WideString::npos && !text.empty()) Check(out == text);
  // Expanding twice terminates too, whatever the values held.
  parser->Expand(out);
  parser->GetValue = nullptr;
  return 0;
}
