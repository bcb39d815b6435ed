#pragma once
// Chooses the converter for a track from the kind its media information
// records.
#include "ZmLib/Music/zmMediaInfo.h"
#include "ZmLib/Music/zmWavConverter.h"

namespace zm {

// Answers a new converter (without a stream yet) or nil.
using TCreateConverterProc = TRef<TWavConverter> (*)(const TMediaInfo& info, const WideString& fileName);
// Nil until the factory is set up at start-up.
extern TCreateConverterProc CreateConverterHook;

// Kinds whose decoders are set up elsewhere (the plug-ins, FFmpeg); nil
// answers none for them.
extern TCreateConverterProc CreatePluginConverterHook;

// PCM and float/wide PCM: TWavConverter; ADPCM: TAdpcmConverter; MPEG audio:
// TMpegConverter; plug-in and FFmpeg kinds through CreatePluginConverterHook.
// Any other kind is a failed assertion.
TRef<TWavConverter> CreateConverter(const TMediaInfo& info, const WideString& fileName);

// Start-up and finalisation: set the hook to the factory, and restore it.
void InitConverterFactory();
void FiniConverterFactory();

}  // namespace zm
