// The head of any file walked as JPEG segments, and every APP13 segment's
// resource blocks: offsets only grow, blocks stay inside their segment, and
// nothing is allocated beyond the input.
#include <cstddef>
#include <cstdint>

#include "OruLib2/OruClasses/OruJpegSegments.h"
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
  zm::TByteCharSet markers;
  markers.AddRange(0, 255);
  // Even sizes report every marker, odd ones only APP13 (the scan is skipped then).
  if (size % 2) markers = zm::TByteCharSet(std::string_view("\xED", 1));
  try {
    auto parser = zm::MakeRef<TJPEGHeaderParser>(s.get(), false, markers);
    std::int64_t last = -1;
    while (parser->MoveNext()) {
      TFoundJPEGSegment* seg = parser->Current();
      Check(markers.Contains(seg->Marker));
      Check(seg->Offset > last && seg->Offset + 2 <= std::int64_t(size));
      Check(seg->Offset + 2 + seg->Data->GetSize() <= std::int64_t(size) + 2);
      last = seg->Offset;
      if (!seg->IsAdobeApp13()) continue;
      auto blocks = zm::MakeRef<TAdobeApp13Enumerator>(seg);
      std::int64_t total = 0;
      while (blocks->MoveNext()) {
        total += blocks->Current()->Data->GetSize();
        Check(total <= seg->Data->GetSize());
        if (blocks->Current()->IsIPTCBlock()) Check(blocks->Current()->Data->Memory()[0] == 0x1C);
      }
    }
    Check(!parser->MoveNext());
  } catch (const EInvalidJPEGHeader&) {
    Check(size < 2 || data[0] != 0xFF || data[1] != 0xD8);
  }
  return 0;
}
