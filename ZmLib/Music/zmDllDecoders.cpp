#include "ZmLib/Music/zmDllDecoders.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <thread>

#include "ZmLib/Graphics/Video/FFMpegApi.h"
#include "ZmLib/Graphics/Video/FFMpegReader.h"
#include "ZmLib/Music/oru_plugin.h"
#include "ZmLib/Music/zmConverterFactory.h"
#include "ZmLib/Music/zmFFMpegConverter.h"
#include "ZmLib/Music/zmPcmResampler.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/_MyUtils.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpUnicode.h"

namespace zm {

// The plug-ins see these records through their own declarations.
static_assert(sizeof(TWaveFormatEx) == sizeof(OruWaveFormatEx));
static_assert(offsetof(TWaveFormatEx, nBlockAlign) == offsetof(OruWaveFormatEx, nBlockAlign));
static_assert(offsetof(TWaveFormatEx, cbSize) == offsetof(OruWaveFormatEx, cbSize));
static_assert(sizeof(TStreamCallbacks) == sizeof(OruStreamCallbacks));
static_assert(offsetof(TStreamCallbacks, Read64) == offsetof(OruStreamCallbacks, Read64));
static_assert(offsetof(TStreamCallbacks, GetSize64) == offsetof(OruStreamCallbacks, GetSize64));

// The stream procedures as the plug-ins see them (the records match, above).
static const OruStreamCallbacks* PluginCallbacks() { return reinterpret_cast<const OruStreamCallbacks*>(&StreamCallbacks()); }

// ---- TDllDec ------------------------------------------------------------------------

TDllDec::TDllDec(const WideString& fileName) {
  // A plug-in may link the media libraries: keep the program's own copy
  // resident, so that unloading a plug-in never unloads them (and all they
  // pulled in) again.
  LoadFFmpegLibraries();
  if (!LoadDll(module_, fileName)) {
    module_ = nullptr;
    return;
  }
  LoadDllProc(module_, "GetMediaInfo", true, GetMediaInfo);
  LoadDllProc(module_, "CreateDecoder", true, CreateDecoder);
  LoadDllProc(module_, "DestroyDecoder", true, DestroyDecoder);
  LoadDllProc(module_, "Decode", true, Decode);
  LoadDllProc(module_, "SetPosition", true, SetPosition);
  valid_ = GetMediaInfo && CreateDecoder && DestroyDecoder && Decode && SetPosition;
}

void TDllDec::Dispose() {
  GetMediaInfo = nullptr;
  CreateDecoder = nullptr;
  DestroyDecoder = nullptr;
  Decode = nullptr;
  SetPosition = nullptr;
  valid_ = false;
  if (module_) {
    std::this_thread::yield();
    WinFreeLibrary(module_);
    module_ = nullptr;
  }
  TRefObject::Dispose();
}

// ---- The loaded plug-ins -------------------------------------------------------------

namespace {

struct TPlugins {
  std::mutex Lock;
  TRef<TDllDec> Ogg;
  TRef<TDllDec> Wma;
};

TPlugins& Plugins() {
  static TPlugins p;
  return p;
}

bool LoadInto(TRef<TDllDec>& slot, const WideString& path) {
  if (slot) return true;
  TRef<TDllDec> dll = MakeRef<TDllDec>(path);
  if (!dll->Valid()) return false;  // dropping the last reference unloads it
  slot = dll;
  return true;
}

// Whether the library can be loaded; it is freed again at once.
bool CanLoad(const WideString& name) {
  void* h = nullptr;
  if (!LoadDll(h, name)) return false;
  WinFreeLibrary(h);
  return true;
}

void Unload(TRef<TDllDec>& slot) {
  TRef<TDllDec> dll;
  {
    std::lock_guard<std::mutex> g(Plugins().Lock);
    dll.swap(slot);
  }
  // A converter that still decodes keeps its own reference.
}

// The extension with its dot, after any name suffix.
WideString ExtensionOf(const WideString& fileName) { return ExtractFileExt(CutNameSuffix(fileName)); }

bool FromPlugin(TDllDec* dll, TStream* stream, std::uint8_t kind, TMediaInfo& info) {
  if (!dll || !dll->Valid()) return false;
  std::int32_t duration = 0, offset = 0;
  TWaveFormatEx format{};
  StreamWrapper()->Seek(stream, 0, 0);
  if (!dll->GetMediaInfo(stream, PluginCallbacks(), &duration, &offset, reinterpret_cast<OruWaveFormatEx*>(&format))) return false;
  // Checked here too: a plug-in is outside code, and a channel's ring is sized from this.
  if (format.nChannels == 0 || format.nSamplesPerSec == 0 || format.wBitsPerSample != 16) return false;
  info.Kind = kind;
  info.Duration = duration > 0 ? std::uint32_t(duration) : 0;
  info.DataOffset = offset > 0 ? std::uint32_t(offset) : 0;
  const std::int64_t size = StreamWrapper()->GetSize(stream);
  info.DataSize = size > info.DataOffset ? std::uint32_t(std::min<std::int64_t>(size - info.DataOffset, UINT32_MAX)) : 0;
  info.Format = Pcm16Format(format.nChannels, format.nSamplesPerSec);
  return true;
}

bool FromFFmpeg(TStream* stream, const WideString& extension, TMediaInfo& info) {
  TRef<TFFMpegAudio> audio = MakeRef<TFFMpegAudio>(0, 0, AV_SAMPLE_FMT_S16);
  StreamWrapper()->Seek(stream, 0, 0);
  // The extension is the only hint of the format FFmpeg gets.
  const bool found = audio->Open(stream, u"qwe" + extension) && HasDecodableAudio(*audio);
  std::int64_t us = -1;
  if (found) {
    us = audio->StreamInfo().DurationUs;
    if (us == AV_NOPTS_VALUE || us < 0) {
      TFFContainerInfo container;
      audio->Input()->GetInfo(container);
      us = container.Duration;
    }
  }
  audio->Close();
  if (!found) return false;
  info.Kind = kMediaFFmpeg;
  const double ms = us > 0 ? std::round(double(us) / 1000.0) : 0.0;
  info.Duration = ms < double(UINT32_MAX) ? std::uint32_t(ms) : UINT32_MAX;
  info.Format = StandardOutputFormat();
  return true;
}

}  // namespace

bool LoadOgg(const WideString& path) {
  std::lock_guard<std::mutex> g(Plugins().Lock);
  return LoadInto(Plugins().Ogg, path);
}

bool LoadWma(const WideString& path) {
  if (!CanLoad(u"Wmasf.dll") || !CanLoad(u"WmvCore.dll")) return false;
  std::lock_guard<std::mutex> g(Plugins().Lock);
  return LoadInto(Plugins().Wma, path);
}

void UnloadOgg() { Unload(Plugins().Ogg); }
void UnloadWma() { Unload(Plugins().Wma); }

TRef<TDllDec> OggPlugin() {
  std::lock_guard<std::mutex> g(Plugins().Lock);
  return Plugins().Ogg;
}

TRef<TDllDec> WmaPlugin() {
  std::lock_guard<std::mutex> g(Plugins().Lock);
  return Plugins().Wma;
}

bool ChooseDecoder(TStream* stream, const WideString& fileName, TMediaInfo& info) {
  if (!stream) return false;
  const WideString ext = ExtensionOf(fileName);
  const WideString lower = LowerCase(ext);
  // The plug-ins take their files by name, and by content whatever the name.
  std::uint8_t head[4] = {};
  StreamWrapper()->Seek(stream, 0, 0);
  const bool read = StreamWrapper()->Read(stream, head, 4) == 4;
  static const std::uint8_t kAsf[4] = {0x30, 0x26, 0xB2, 0x75};
  const bool ogg = lower == u".ogg" || (read && std::memcmp(head, "OggS", 4) == 0);
  const bool asf = lower == u".wma" || (read && std::memcmp(head, kAsf, 4) == 0);
  if (ogg && FromPlugin(OggPlugin().get(), stream, kMediaOgg, info)) return true;
  if (asf && FromPlugin(WmaPlugin().get(), stream, kMediaWma, info)) return true;
  return FromFFmpeg(stream, ext, info);
}

TRef<TWavConverter> CreatePluginConverter(const TMediaInfo& info, const WideString& fileName) {
  switch (info.Kind) {
    case kMediaOgg:
      if (TRef<TDllDec> dll = OggPlugin()) return MakeRef<TDllConverter>(dll.get());
      return nullptr;
    case kMediaWma:
      if (TRef<TDllDec> dll = WmaPlugin()) return MakeRef<TDllConverter>(dll.get());
      return nullptr;
    case kMediaFFmpeg:
      return MakeRef<TFFMpegConverter2>(fileName);
    default:
      return nullptr;
  }
}

// ---- TDllConverter -------------------------------------------------------------------

namespace {
// Plug-ins call this with their PCM; nothing may raise back into them.
void AppendPcm(void* target, const void* pcm, std::int32_t bytes) {
  auto* b = static_cast<TLocalBuffer*>(target);
  if (!b || !pcm || bytes <= 0) return;
  try {
    b->EnsureFree(bytes);
    std::memcpy(b->WritePointer(), pcm, std::size_t(bytes));
    b->AddLength(bytes);
  } catch (...) {
  }
}
}  // namespace

TDllConverter::TDllConverter(TDllDec* decoder) : dll_(decoder), decoded_(MakeRef<TLocalBuffer>()) {}

void TDllConverter::Dispose() {
  DestroyDecoder();
  decoded_ = nullptr;
  dll_ = nullptr;
  TWavConverter::Dispose();
}

void TDllConverter::DestroyDecoder() {
  if (handle_ && dll_) dll_->DestroyDecoder(handle_);
  handle_ = nullptr;
}

bool TDllConverter::SetInputFormat(const TMediaInfo& info) {
  DestroyDecoder();
  if (!TWavConverter::SetInputFormat(info)) return false;
  if (!dll_ || !dll_->Valid() || !Stream || info.Format.nChannels == 0) return false;
  decoded_->Consume(decoded_->Length());
  decoded_->Format = Pcm16Format(info.Format.nChannels, info.Format.nSamplesPerSec);
  decoded_->EnsureFree(blockSize_);
  handle_ = dll_->CreateDecoder(Stream, PluginCallbacks(), &AppendPcm, decoded_.get(), 0);
  return handle_ != nullptr;
}

bool TDllConverter::Convert(TLocalBuffer&) {
  if (!handle_ || !decoded_) return false;
  dll_->Decode(handle_);
  if (decoded_->Length() <= 0) return false;
  return TWavConverter::Convert(*decoded_);
}

bool TDllConverter::ReadInput() { return true; }

void TDllConverter::Seek(std::int64_t ms) {
  Input().Consume(Input().Length());
  Output().Consume(Output().Length());
  padded_ = 0;
  if (decoded_) decoded_->Consume(decoded_->Length());
  if (resampler_) resampler_->Reset();
  if (ms < 0) ms = 0;
  std::int32_t position = ms > INT32_MAX ? INT32_MAX : std::int32_t(ms);
  if (handle_) dll_->SetPosition(handle_, &position);
  decodedMs_ = double(position);
}

// ---- Start-up ------------------------------------------------------------------------

void InitDllDecoders() {
  DecoderInfoHook = &ChooseDecoder;
  CreatePluginConverterHook = &CreatePluginConverter;
}

void FiniDllDecoders() {
  if (DecoderInfoHook == &ChooseDecoder) DecoderInfoHook = nullptr;
  if (CreatePluginConverterHook == &CreatePluginConverter) CreatePluginConverterHook = nullptr;
  UnloadOgg();
  UnloadWma();
}

}  // namespace zm
