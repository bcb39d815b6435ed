#include "ZmLib/Music/zmConverterFactory.h"

#include "ZmLib/Music/zmAdpcmConverter.h"
#include "ZmLib/Music/zmMpegConverter.h"
#include "ZmLib/zmHookScope.h"

namespace zm {

TCreateConverterProc CreateConverterHook = nullptr;
TCreateConverterProc CreatePluginConverterHook = nullptr;

namespace {
THookInstall<TCreateConverterProc> gConverterHook;
}  // namespace

TRef<TWavConverter> CreateConverter(const TMediaInfo& info, const WideString& fileName) {
  switch (info.Kind) {
    case kMediaPcm:
    case kMediaFloat:
      return MakeRef<TWavConverter>();
    case kMediaAdpcm:
      return MakeRef<TAdpcmConverter>();
    case kMediaMpeg:
      return MakeRef<TMpegConverter>();
    case kMediaWma:
    case kMediaOgg:
    case kMediaFFmpeg:
      // The decoder choice fills these in.
      return CreatePluginConverterHook ? CreatePluginConverterHook(info, fileName) : nullptr;
    default:
      break;
  }
  ZM_ASSERT(false, "Unknown media kind");
  return nullptr;
}

void InitConverterFactory() {
  gConverterHook.Install(CreateConverterHook, &CreateConverter);
}

void FiniConverterFactory() {
  gConverterHook.RestoreIfStillSet();
}

}  // namespace zm
