#pragma once
// Decoders outside the program: the optional Ogg and WMA plug-ins a show
// carries, chosen by file extension, and FFmpeg for every other file that is
// neither RIFF WAVE nor MPEG audio.
#include <cstdint>

#include "ZmLib/Music/oru_plugin.h"
#include "ZmLib/Music/zmMediaInfo.h"
#include "ZmLib/Music/zmWavConverter.h"

namespace zm {

// A loaded decoder plug-in with its five entry points.
class TDllDec : public TRefObject {
public:
  using TWriteProc = void (*)(void* target, const void* pcm, std::int32_t bytes);
  // Typed as the plug-ins define them: a call through another type is
  // undefined even where the records are laid out alike.
  using TGetMediaInfoProc = std::int32_t (*)(void* stream, const OruStreamCallbacks* callbacks,
                                             std::int32_t* durationMs, std::int32_t* dataOffset,
                                             OruWaveFormatEx* format);
  using TCreateDecoderProc = void* (*)(void* stream, const OruStreamCallbacks* callbacks, TWriteProc write,
                                       void* target, std::int32_t reserved);
  using TDestroyDecoderProc = void (*)(void* decoder);
  using TDecodeProc = std::int32_t (*)(void* decoder);
  using TSetPositionProc = std::int32_t (*)(void* decoder, std::int32_t* ms);

  // Loads the library; Valid() tells whether all five entry points exist.
  explicit TDllDec(const WideString& fileName);
  // Yields the processor once before the module goes, so that a thread that
  // just left a plug-in call is out of its code.
  void Dispose() override;

  bool Valid() const { return valid_; }
  void* Module() const { return module_; }

  TGetMediaInfoProc GetMediaInfo = nullptr;
  TCreateDecoderProc CreateDecoder = nullptr;
  TDestroyDecoderProc DestroyDecoder = nullptr;
  TDecodeProc Decode = nullptr;
  TSetPositionProc SetPosition = nullptr;

private:
  void* module_ = nullptr;
  bool valid_ = false;
};

// Load the plug-in at path unless one is loaded already; an invalid library
// is unloaded again and the answer is false. LoadWma first needs the Windows
// Media runtime ("Wmasf.dll", "WmvCore.dll"), which this system does not
// have, so WMA files go to FFmpeg.
bool LoadOgg(const WideString& path);
bool LoadWma(const WideString& path);
void UnloadOgg();
void UnloadWma();
// The loaded plug-ins (nil when absent).
TRef<TDllDec> OggPlugin();
TRef<TDllDec> WmaPlugin();

// The decoder choice (DecoderInfoHook): ".ogg" and ".wma" files, and Ogg and
// ASF content under any name, to their plug-ins when loaded and willing
// (kinds 6 and 5), everything else to FFmpeg (kind 10, delivered in the
// standard output format).
bool ChooseDecoder(TStream* stream, const WideString& fileName, TMediaInfo& info);

// The converters for kinds 5, 6 and 10 (CreatePluginConverterHook); nil when
// the plug-in of the kind is not loaded.
TRef<TWavConverter> CreatePluginConverter(const TMediaInfo& info, const WideString& fileName);

// Decodes through a plug-in, which reads the stream itself.
class TDllConverter : public TWavConverter {
public:
  explicit TDllConverter(TDllDec* decoder);
  void Dispose() override;

  // The base, then a decoder in the info's channels and rate; false when
  // the plug-in makes none.
  bool SetInputFormat(const TMediaInfo& info) override;
  bool Convert(TLocalBuffer& buffer) override;
  bool ReadInput() override;
  void Seek(std::int64_t ms) override;

  TLocalBuffer& Decoded() { return *decoded_; }
  bool HasDecoder() const { return handle_ != nullptr; }

private:
  void DestroyDecoder();

  TRef<TDllDec> dll_;
  TRef<TLocalBuffer> decoded_;
  void* handle_ = nullptr;
};

// Start-up and finalisation: set the decoder choice and the plug-in
// converter hooks; clear them and unload the plug-ins.
void InitDllDecoders();
void FiniDllDecoders();

}  // namespace zm
