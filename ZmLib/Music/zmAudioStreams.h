#pragma once
// Stream access of the audio side: every read of an audio file goes through
// one process-wide wrapper that serialises access under a lock (several
// decoding threads may read files sharing one container stream), the record
// of plain stream procedures that decoder plug-ins get, the shifted view that
// makes MPEG audio inside a RIFF WAVE file read like a plain MP3 file, and the
// growable byte buffer of the converters.
#include <cstdint>

#include "Platform/Acm/PlatAcm.h"
#include "ZmLib/Win32/SysLocks.h"
#include "ZmLib/zmStream.h"
#include "ZmLib/zmTypes.h"

namespace zm {

// The wave format record as files and the audio compression layer lay it out.
using TWaveFormatEx = plat::WAVEFORMATEX;

// 16-bit PCM with the given channels and rate: what decoders deliver.
TWaveFormatEx Pcm16Format(std::uint16_t channels, std::uint32_t rate);

// The suffix a file name may carry after its last "?"; it is cut off wherever the name
// becomes a file name or an extension.
WideString CutNameSuffix(const WideString& name);

// Answers whether a music name is a composite-track text rather than a file;
// nil until the soundtrack sets it.
using TIsCompositeTrackProc = bool (*)(const WideString& name);
extern TIsCompositeTrackProc IsCompositeTrackHook;

// The view of a stream from an offset on. Owns the inner stream.
class TMp3ShiftStream : public TStream {
public:
  TMp3ShiftStream(TStream* inner, std::int64_t shift);
  void Dispose() override;

  std::int64_t GetPosition() override;
  void SetPosition(std::int64_t p) override;
  std::int64_t GetSize() override;
  void SetSize(std::int64_t n) override;  // not supported: a failed assertion
  std::int32_t Read(TReadBuffer buffer, std::int32_t count, std::int32_t offset) override;
  std::int32_t Write(TWriteBuffer buffer, std::int32_t count, std::int32_t offset) override;
  using TStream::Read;
  using TStream::Write;

  TStream* Inner() const { return inner_; }
  std::int64_t Shift() const { return shift_; }
  // Gives up the inner stream without closing it.
  TStream* DetachInner();

private:
  TStream* inner_;
  std::int64_t shift_;
};

// Called with (openData, context, name); answers the stream or nil.
using TStreamOpenProc = TStream* (*)(void* openData, void* context, const WideString& name);
// Called with (closeData, context, stream); closes the stream.
using TStreamCloseProc = void (*)(void* closeData, void* context, TStream* stream);

class TStreamWrapperClass : public TRefObject {
public:
  TStreamWrapperClass();
  void Dispose() override;

  // Nil when nothing can be opened. A procedure is taken only above 65535.
  TStream* Open(void* context, const WideString& name, TStreamOpenProc openProc, void* openData);
  TStream* OpenShifted(void* context, const WideString& name, std::int64_t shift, TStreamOpenProc openProc,
                       void* openData);
  void Close(void* context, TStream* stream, TStreamCloseProc closeProc, void* closeData);

  // Nil streams answer -1 (positions, sizes) or 0 bytes read.
  std::int64_t GetPosition(TStream* stream);
  std::int64_t GetSize(TStream* stream);
  std::int32_t Read(TStream* stream, void* buffer, std::int32_t count);
  // Origin 0 from the start, 1 from the current position, 2 back from the
  // end; any other origin is a failed assertion. Answers the new position.
  std::int64_t Seek(TStream* stream, std::int32_t origin, std::int64_t offset);

private:
  TStream* OpenLocked(void* context, const WideString& name, TStreamOpenProc openProc, void* openData);
  void CloseLocked(void* context, TStream* stream, TStreamCloseProc closeProc, void* closeData);
  TRef<TSafeCriticalSection> lock_;
};

// The one wrapper of the process, made on first use.
TStreamWrapperClass* StreamWrapper();

// What decoder plug-ins get; every procedure takes the stream handle first
// and goes through the wrapper.
struct TStreamCallbacks {
  std::int32_t (*Read)(void* stream, void* buffer, std::int32_t count);
  std::int32_t (*GetPosition)(void* stream);
  std::int32_t (*Seek)(void* stream, std::int32_t offset, std::int32_t origin);
  std::int32_t (*GetSize)(void* stream);
  // A Read of 2^32 bytes or more, or of just over 100 MiB or more, is a
  // failed assertion "Too many".
  std::int64_t (*Read64)(void* stream, void* buffer, std::int64_t count);
  std::int64_t (*GetPosition64)(void* stream);
  std::int64_t (*Seek64)(void* stream, std::int64_t offset, std::int32_t origin);
  std::int64_t (*GetSize64)(void* stream);
};
const TStreamCallbacks& StreamCallbacks();

// A growable byte buffer with a wave format; the bytes in use are at the start.
class TLocalBuffer : public TRefObject {
public:
  void Dispose() override;

  // Adds bytes to the capacity; the first allocation takes exactly bytes.
  void Grow(std::int32_t bytes);
  void EnsureFree(std::int32_t bytes);
  std::int32_t FreeSpace() const { return capacity_ - length_; }
  std::uint8_t* WritePointer() { return data_ + length_; }
  std::uint8_t* Data() { return data_; }
  std::int32_t Capacity() const { return capacity_; }
  std::int32_t Length() const { return length_; }
  // For writers that filled WritePointer: marks n more bytes in use.
  void AddLength(std::int32_t n);
  // Moves all of other's bytes here and empties other; when they do not fit,
  // the failed assertion "Buffer overrun" and nothing moves.
  void Append(TLocalBuffer& other);
  // Removes min(bytes, length) bytes from the front.
  void Consume(std::int32_t bytes);
  // Keeps the first bytes only (nothing changes when fewer are held).
  void Truncate(std::int32_t bytes);
  // Reads from the stream's position up to the absolute position end, at most
  // the free space; answers whether anything was read.
  bool FillFromStream(TStream* stream, std::int64_t end);

  TWaveFormatEx Format{};

private:
  std::uint8_t* data_ = nullptr;
  std::int32_t capacity_ = 0;
  std::int32_t length_ = 0;
};

}  // namespace zm
