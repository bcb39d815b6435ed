// MPEG audio stream information over any bytes: the frame walk of the
// converter keeps its carry and the stream in range; a stream either fails or
// gives a first frame inside it with a second one behind it, sizes within
// the stream and a usable frame duration; seeking to any time stays within
// the stream; the encoder's tag gives a delay, padding and length within
// bounds, and the walk to any frame stays within the stream.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "ZmLib/Music/zmMpegInfo.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::QuietDebugOutput();
  zmfuzz::StartModules();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The frame search steps byte by byte; larger inputs only take longer.
  if (size > (1 << 16)) return 0;
  auto s = zm::MakeRef<zm::TMemoryStream>();
  if (size) s->Write(zm::TWriteBuffer(data, size));
  s->SetPosition(0);
  const std::int64_t n = std::int64_t(size);

  // The converter's walk over its reads: carries are never negative and the
  // stream never leaves its bounds.
  {
    std::uint8_t buf[512];
    std::int32_t carry = 0;
    for (int i = 0; i < 64; ++i) {
      const std::int32_t got = zm::StreamWrapper()->Read(s.get(), buf, sizeof buf);
      if (got <= 0) break;
      zm::TMpegInfo::ScanFrames(s.get(), buf, carry, got);
      Check(carry >= 0 && s->GetPosition() >= 0 && s->GetPosition() <= n);
    }
  }

  zm::TMpegInfo mp;
  zm::TMediaInfo info;
  if (!mp.Read(s.get(), info, size > 0 ? data[0] * 1000 : 0)) {
    Check(info.Kind == 0);
    return 0;
  }
  Check(info.Kind == 4);
  Check(std::int64_t(info.DataOffset) + 4 <= n);
  Check(std::int64_t(info.DataSize) <= n);
  Check(std::int64_t(info.FrameLength) >= mp.Header.FrameLength && info.FrameLength > 0);
  Check(std::isfinite(info.FrameDuration) && info.FrameDuration >= 0);
  Check(info.Format.nChannels == 1 || info.Format.nChannels == 2);
  Check(info.Format.nSamplesPerSec >= 8000 && info.Format.nSamplesPerSec <= 48000);
  Check(s->GetPosition() == std::int64_t(info.DataOffset));
  Check(info.Vbr() == 0 || info.Vbr() == 0xFFFFFFFFu);

  for (std::int64_t ms : {std::int64_t(-5), std::int64_t(0), std::int64_t(40), std::int64_t(info.Duration / 2), std::int64_t(info.Duration),
                          INT64_MAX}) {
    const std::int64_t back = zm::TMpegInfo::SeekToTime(s.get(), ms, info);
    Check(s->GetPosition() >= 0 && s->GetPosition() <= n);
    if (!info.Vbr()) Check(back <= 0);
  }

  // The encoder's tag: a delay and padding of 12 bits each, a sound no
  // longer than the frames it names; the walk to a frame stays inside.
  const zm::TMpegGapless& g = mp.Gapless;
  Check(g.Skip >= 0 && g.Skip <= 4095 + zm::TMpegGapless::kDecoderDelay && g.LeadFrames >= 1);
  Check(g.Samples == -1 || (g.Frames > 0 && g.Samples > 0 && g.Samples <= g.Frames * g.SamplesPerFrame));
  const zm::TMpegGapless again = zm::TMpegInfo::ReadGapless(s.get(), info);
  Check(again.Skip == g.Skip && again.Samples == g.Samples);
  for (std::int64_t frame : {std::int64_t(-1), std::int64_t(0), std::int64_t(3), INT64_MAX}) {
    const std::int64_t reached = zm::TMpegInfo::SeekToFrame(s.get(), frame, info);
    Check(reached >= 0 && reached <= std::max<std::int64_t>(frame, 0));
    Check(s->GetPosition() >= 0 && s->GetPosition() <= n);
  }
  return 0;
}
