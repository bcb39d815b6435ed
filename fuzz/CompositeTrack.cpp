// Composite-track texts from any bytes (after the GUID): a parsed track saves
// to a text that parses to the same items and length; its envelopes compile
// and the converter mixes whole blocks over it (the placed files do not
// exist, so every item stays silent) without running past the track.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "OruLib2/OruViewer/OruMusicComposite.h"
#include "ZmLib/Music/zmMusicModules.h"
#include "ZmLib/zmByteString.h"
#include "fuzz/FuzzCommon.h"

using zmfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zmfuzz::QuietDebugOutput();
  zmfuzz::StartModules({zm::CoreModules(), zm::MusicModules()});
  oru::InitMusicComposite();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1 << 16)) return 0;
  const zm::TByteString bytes(std::string(reinterpret_cast<const char*>(data), size));
  const zm::WideString text = oru::kCompositeTrackGuid + bytes.ToWide();

  auto params = zm::MakeRef<oru::TCompositeParams>();
  zm::TMediaInfo info{};
  const bool ok = params->Parse(text);
  Check(ok == oru::CompositeTrackInfo(text, info));
  if (!ok) return 0;
  Check(params->Duration > 0 && params->Count() > 0 && info.Duration == std::uint32_t(params->Duration));

  const zm::WideString saved = params->Save();
  auto again = zm::MakeRef<oru::TCompositeParams>();
  Check(again->Parse(saved));
  Check(again->Duration == params->Duration && again->Count() == params->Count());
  Check(again->Save() == saved);

  // Mixing: a few blocks from the start and from a time the input picks.
  auto conv = zm::RefCast<oru::TCompositeConverter>(oru::CreateCompositeConverter(nullptr, text));
  Check(conv->SetInputFormat(info));
  const std::int64_t trackBytes = oru::CompositeTimeToPosition(params->Duration);
  for (std::int64_t seekMs : {std::int64_t(0), std::int64_t(data[0]) * 997 % (std::int64_t(params->Duration) + 1)}) {
    conv->Seek(seekMs);
    for (int i = 0; i < 8; ++i) {
      const std::int64_t before = conv->Position();
      const bool more = conv->MixBlock();
      Check(more == (before < trackBytes));
      Check(conv->MixOutput().Length() == oru::TCompositeConverter::kMixBytes);
      for (std::int32_t k = 0; k < conv->MixOutput().Length(); ++k) Check(conv->MixOutput().Data()[k] == 0);
      conv->MixOutput().Consume(conv->MixOutput().Length());
      if (!more) break;
    }
  }
  return 0;
}
