// Media information over any bytes, named as a WAVE file and as MPEG audio:
// the record either stays cleared (no decoder choice is set) or names a kind
// whose data lies inside the stream with a format the converters can play;
// PCM and float records then convert to the end without running past it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ZmLib/Music/zmMediaInfo.h"
#include "ZmLib/Music/zmWavConverter.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::QuietDebugOutput();
  zmfuzz::StartModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The MPEG frame search steps byte by byte; larger inputs only take longer.
  if (size > (1 << 16)) return 0;
  auto s = zm::MakeRef<zm::TMemoryStream>();
  if (size) s->Write(zm::TWriteBuffer(data, size));
  const std::int64_t n = std::int64_t(size);

  for (const char16_t* name : {u"x.wav", u"x.mp3"}) {
    s->SetPosition(0);
    zm::TMediaInfo info;
    std::memset(&info, 0xA5, sizeof info);
    if (!zm::TMediaInfoExtractor().Extract(s.get(), name, info)) {
      Check(info.Kind == zm::kMediaUnknown);
      continue;
    }
    Check(info.Kind >= zm::kMediaPcm && info.Kind <= zm::kMediaMpeg);
    Check(std::int64_t(info.DataOffset) + info.DataSize <= n);
    Check(info.Embedded == 0 || (info.Embedded == 1 && info.Kind == zm::kMediaMpeg));
    if (info.Kind == zm::kMediaMpeg || info.Kind == zm::kMediaAdpcm) continue;

    const std::uint16_t channels = info.Format.nChannels, align = info.Format.nBlockAlign;
    const std::uint16_t bits = info.Format.wBitsPerSample;
    Check(channels >= 1 && align == channels * (bits / 8) && info.Format.nAvgBytesPerSec > 0);

    auto conv = zm::MakeRef<zm::TWavConverter>();
    conv->Stream = s.get();
    Check(conv->SetInputFormat(info));
    for (int i = 0; i < 256 && conv->Fill(4096); ++i) {
      Check(conv->Output().Length() >= 4096);
      conv->Output().Consume(conv->Output().Length());
      Check(s->GetPosition() <= std::int64_t(info.DataOffset) + info.DataSize);
    }
    conv->Seek(1000);
    Check(s->GetPosition() <= std::int64_t(info.DataOffset) + info.DataSize);
  }
  return 0;
}
