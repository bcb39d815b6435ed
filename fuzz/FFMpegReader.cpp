// The media reader over any bytes: a video and an audio reader each open
// the bytes or refuse them, decode a few frames, seek to the start and
// decode again, never raising and never handing out a picture without
// rows. Work per input stays bounded: few frames, small inputs.
#include <cstddef>
#include <cstdint>

#include "ZmLib/Graphics/Video/FFMpegReader.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::QuietDebugOutput();
  zmfuzz::StartModules();
  zm::SetHardwareDecoding(false);
  return 0;
}

namespace {

void CheckFrame(const zm::TFFMpegVideo& v) {
  const AVFrame* f = v.CurrentFrame();
  if (!f) return;
  Check(f->width > 0 && f->height > 0 && f->width <= 16384 && f->height <= 16384);
  Check(f->data[0] != nullptr);
  Check(v.FrameProps().Valid);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1 << 17) || !zm::LoadFFmpegLibraries()) return 0;
  auto s = zm::MakeRef<zm::TMemoryStream>();
  if (size) s->Write(zm::TWriteBuffer(data, size));

  s->SetPosition(0);
  auto video = zm::MakeRef<zm::TFFMpegVideo>();
  if (video->Open(s.get(), u"input")) {
    Check(video->VideoStreamCount() <= video->StreamCount());
    for (int i = 0; i < 4 && video->DecodeNext(INT64_MIN); ++i) CheckFrame(*video);
    if (video->SeekTime(0)) CheckFrame(*video);
    if (video->DecodeNext(INT64_MIN)) CheckFrame(*video);
  } else {
    Check(!video->Input()->LastError().empty() || !video->Input()->IsOpen());
  }
  video->Close();

  s->SetPosition(0);
  auto audio = zm::MakeRef<zm::TFFMpegAudio>(2, 44100, AV_SAMPLE_FMT_S16);
  if (audio->Open(s.get(), u"input")) {
    for (int i = 0; i < 4 && audio->DecodeNext(); ++i) Check(audio->DecodedSize() % 4 == 0);
    audio->SeekTime(0);
    if (audio->DecodeNext()) Check(audio->DecodedSize() % 4 == 0);
  }
  audio->Close();
  return 0;
}
