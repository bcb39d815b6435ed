// Exif blocks of any shape: loading never raises, never reads outside the
// Exif segment and never hangs on directories that point at each other; the
// macros of a slide text expand over the same picture and always end.
#include <cstddef>
#include <cstdint>

#include "OruLib2/OruClasses/OruExif.h"
#include "OruLib2/OruClasses/OruTextMacros.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::QuietDebugOutput();
  zmfuzz::StartModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace oru;
  if (size > (1 << 20)) return 0;
  auto s = zm::MakeRef<zm::TMemoryStream>();
  if (size) s->Write(zm::TWriteBuffer(data, size));
  s->SetPosition(0);
  TExif exif;
  exif.Load(s.get());
  if (!exif.ExifFound) Check(exif.Make.empty() && exif.UserComment.empty() && exif.DateTime.empty());
  Check(exif.ImageDescription.size() <= 10000 && exif.UserComment.size() <= 10000);
  if (!exif.HasGPS) Check(exif.GPSLatitude == 0 && exif.GPSLongitude == 0);

  TMacroSlideFacts facts;
  facts.SlideIndex = 2;
  facts.SlidesCount = 9;
  facts.HasPicture = true;
  facts.PicturePath = u"C:\\Shows\\Trip\\p.jpg";
  facts.OpenPicture = [&s] { return zm::TRef<zm::TStream>(s.get()); };
  auto parser = zm::MakeRef<TMTParser>(zm::MakeRef<TMacroResolver>(facts)->Callback());
  const zm::WideString text =
      u"<%SlideIndex%> <%MainImg.Exif.Date%> <%MainImg.Exif.Time%> <%MainImg.Exif.Comment%> "
      u"<%MainImg.Exif.Description%> <%MainImg.IPTC.City%> <%MainImg.IPTC.AuthorByline%> <%MainImg.FolderName%>";
  const zm::WideString out = parser->Expand(text);
  Check(!out.empty() && out.substr(0, 2) == u"3 ");
  return 0;
}
