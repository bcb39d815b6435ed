#include "OruLib2/OruClasses/OruPackedImageReads.h"

#include "OruLib2/OruClasses/zmStreamUtils.h"
#include "ZmLib/Graphics/SysGfxLoader.h"
#include "ZmLib/zmHookScope.h"

namespace oru {

namespace {
zm::THookInstall<zm::TGfxReadTransformProc> gPackedReadsHook;
}  // namespace

zm::TRef<zm::TStream> PackedImageReadTransform(zm::TStream* source, zm::TStream* data) {
  auto* window = dynamic_cast<TPartialStream*>(source);
  if (!window || !data || !window->ReadCallback()) return nullptr;
  const std::int64_t size = data->GetSize();
  if (size < 0) return nullptr;
  // The window owns one reference; the constructor drops it if it raises.
  data->AddRef();
  zm::TRef<TPartialStream> wrapped = zm::MakeRef<TPartialStream>(data, true, 0, size);
  wrapped->SetReadCallback(window->BlockSize(), window->ReadCallback(), window->ReadCallbackData());
  return zm::TRef<zm::TStream>(wrapped);
}

void InitPackedImageReads() {
  if (gPackedReadsHook.Installed()) return;
  gPackedReadsHook.Install(zm::GfxReadTransformHook, &PackedImageReadTransform);
}

void FiniPackedImageReads() {
  gPackedReadsHook.RestoreIfStillSet();
}

}  // namespace oru
