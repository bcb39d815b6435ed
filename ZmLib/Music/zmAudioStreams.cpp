#include "ZmLib/Music/zmAudioStreams.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "ZmLib/wpFileStream.h"

namespace zm {

TWaveFormatEx Pcm16Format(std::uint16_t channels, std::uint32_t rate) {
  TWaveFormatEx f{};
  f.wFormatTag = plat::WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = 16;
  f.nBlockAlign = std::uint16_t(channels * 2);
  f.nAvgBytesPerSec = std::uint32_t(f.nBlockAlign) * rate;
  return f;
}

namespace {
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b) {
  if (b > 0 && a > kInt64Max - b) return kInt64Max;
  if (b < 0 && a < std::numeric_limits<std::int64_t>::min() - b) return std::numeric_limits<std::int64_t>::min();
  return a + b;
}

std::int32_t Clamp32(std::int64_t v) {
  if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}
}  // namespace

TIsCompositeTrackProc IsCompositeTrackHook = nullptr;

WideString CutNameSuffix(const WideString& name) {
  const auto q = name.rfind(u'?');
  return q == WideString::npos ? name : name.substr(0, q);
}

// ---- TMp3ShiftStream -------------------------------------------------------------

TMp3ShiftStream::TMp3ShiftStream(TStream* inner, std::int64_t shift) : inner_(inner), shift_(shift < 0 ? 0 : shift) {}

void TMp3ShiftStream::Dispose() {
  if (TStream* s = DetachInner()) s->Free();
  TStream::Dispose();
}

TStream* TMp3ShiftStream::DetachInner() {
  TStream* s = inner_;
  inner_ = nullptr;
  return s;
}

std::int64_t TMp3ShiftStream::GetPosition() { return inner_ ? inner_->GetPosition() - shift_ : -1; }

void TMp3ShiftStream::SetPosition(std::int64_t p) {
  // The bytes before the shift stay hidden.
  if (inner_) inner_->SetPosition(SaturatingAdd(p < 0 ? 0 : p, shift_));
}

std::int64_t TMp3ShiftStream::GetSize() {
  if (!inner_) return -1;
  const std::int64_t n = inner_->GetSize();
  if (n < 0) return n;
  return n > shift_ ? n - shift_ : 0;
}

void TMp3ShiftStream::SetSize(std::int64_t) { ZM_FAIL("TMp3ShiftStream.SetSize not supported"); }

std::int32_t TMp3ShiftStream::Read(TReadBuffer buffer, std::int32_t count, std::int32_t offset) {
  return inner_ ? inner_->Read(buffer, count, offset) : 0;
}

std::int32_t TMp3ShiftStream::Write(TWriteBuffer buffer, std::int32_t count, std::int32_t offset) {
  return inner_ ? inner_->Write(buffer, count, offset) : 0;
}

// ---- TStreamWrapperClass ---------------------------------------------------------

TStreamWrapperClass::TStreamWrapperClass() : lock_(MakeRef<TSafeCriticalSection>()) {}

void TStreamWrapperClass::Dispose() {
  lock_ = nullptr;
  TRefObject::Dispose();
}

TStream* TStreamWrapperClass::OpenLocked(void* context, const WideString& name, TStreamOpenProc openProc,
                                         void* openData) {
  // Small values stand for "no procedure", as plug-ins pass them.
  if (reinterpret_cast<std::uintptr_t>(openProc) > 65535) return openProc(openData, context, name);
  if (IsCompositeTrackHook && IsCompositeTrackHook(name)) return nullptr;
  const WideString fileName = CutNameSuffix(name);
  if (fileName.empty()) return nullptr;
  return OpenMediaFile(fileName, FILE_SHARE_READ).Detach();
}

TStream* TStreamWrapperClass::Open(void* context, const WideString& name, TStreamOpenProc openProc, void* openData) {
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  return OpenLocked(context, name, openProc, openData);
}

TStream* TStreamWrapperClass::OpenShifted(void* context, const WideString& name, std::int64_t shift,
                                          TStreamOpenProc openProc, void* openData) {
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  TStream* inner = OpenLocked(context, name, openProc, openData);
  if (!inner) return nullptr;
  TStream* s = nullptr;
  try {
    s = MakeRef<TMp3ShiftStream>(inner, shift).Detach();
  } catch (...) {
    inner->Free();
    throw;
  }
  s->SetPosition(0);
  return s;
}

void TStreamWrapperClass::CloseLocked(void* context, TStream* stream, TStreamCloseProc closeProc, void* closeData) {
  if (!stream) return;
  if (auto* shifted = dynamic_cast<TMp3ShiftStream*>(stream)) {
    CloseLocked(context, shifted->DetachInner(), closeProc, closeData);
    shifted->Free();
  } else if (reinterpret_cast<std::uintptr_t>(closeProc) > 65535) {
    closeProc(closeData, context, stream);
  } else {
    stream->Free();
  }
}

void TStreamWrapperClass::Close(void* context, TStream* stream, TStreamCloseProc closeProc, void* closeData) {
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  CloseLocked(context, stream, closeProc, closeData);
}

std::int64_t TStreamWrapperClass::GetPosition(TStream* stream) {
  if (!stream) return -1;
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  return stream->GetPosition();
}

std::int64_t TStreamWrapperClass::GetSize(TStream* stream) {
  if (!stream) return -1;
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  return stream->GetSize();
}

std::int32_t TStreamWrapperClass::Read(TStream* stream, void* buffer, std::int32_t count) {
  if (!stream || !buffer || count <= 0) return 0;
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  return stream->Read(TReadBuffer(static_cast<std::uint8_t*>(buffer), static_cast<std::size_t>(count)), count, 0);
}

std::int64_t TStreamWrapperClass::Seek(TStream* stream, std::int32_t origin, std::int64_t offset) {
  if (origin < 0 || origin > 2) ZM_FAIL("TStreamWrapperClass.Seek: bad origin");
  if (!stream) return -1;
  TLockScope<TSafeCriticalSection> scope(lock_.get());
  std::int64_t p = offset;
  if (origin == 1) {
    p = SaturatingAdd(stream->GetPosition(), offset);
  } else if (origin == 2) {
    p = SaturatingAdd(stream->GetSize(), -offset);
  }
  stream->SetPosition(p < 0 ? 0 : p);
  return stream->GetPosition();
}

TStreamWrapperClass* StreamWrapper() {
  static TRef<TStreamWrapperClass> wrapper = MakeRef<TStreamWrapperClass>();
  return wrapper.get();
}

// ---- Stream callbacks ------------------------------------------------------------

namespace {
TStream* AsStream(void* s) { return static_cast<TStream*>(s); }

std::int64_t Read64Proc(void* stream, void* buffer, std::int64_t count) {
  if (count >= (std::int64_t(1) << 32) || count >= 0x6400001) ZM_FAIL("Too many");
  return StreamWrapper()->Read(AsStream(stream), buffer, static_cast<std::int32_t>(count));
}
}  // namespace

const TStreamCallbacks& StreamCallbacks() {
  static const TStreamCallbacks callbacks{
      [](void* s, void* b, std::int32_t n) { return StreamWrapper()->Read(AsStream(s), b, n); },
      [](void* s) { return Clamp32(StreamWrapper()->GetPosition(AsStream(s))); },
      [](void* s, std::int32_t offset, std::int32_t origin) {
        return Clamp32(StreamWrapper()->Seek(AsStream(s), origin, offset));
      },
      [](void* s) { return Clamp32(StreamWrapper()->GetSize(AsStream(s))); },
      Read64Proc,
      [](void* s) { return StreamWrapper()->GetPosition(AsStream(s)); },
      [](void* s, std::int64_t offset, std::int32_t origin) { return StreamWrapper()->Seek(AsStream(s), origin, offset); },
      [](void* s) { return StreamWrapper()->GetSize(AsStream(s)); },
  };
  return callbacks;
}

// ---- TLocalBuffer ----------------------------------------------------------------

void TLocalBuffer::Dispose() {
  std::free(data_);
  data_ = nullptr;
  capacity_ = length_ = 0;
  TRefObject::Dispose();
}

void TLocalBuffer::Grow(std::int32_t bytes) {
  if (bytes <= 0) return;
  if (bytes > std::numeric_limits<std::int32_t>::max() - capacity_) ZM_FAIL("TLocalBuffer.Grow: too large");
  const std::int32_t n = capacity_ + bytes;
  void* p = std::realloc(data_, static_cast<std::size_t>(n));
  if (!p) throw std::bad_alloc();
  data_ = static_cast<std::uint8_t*>(p);
  capacity_ = n;
}

void TLocalBuffer::EnsureFree(std::int32_t bytes) {
  if (FreeSpace() < bytes) Grow(bytes - FreeSpace());
}

void TLocalBuffer::AddLength(std::int32_t n) {
  if (n < 0 || n > FreeSpace()) ZM_FAIL("Buffer overrun");
  length_ += n;
}

void TLocalBuffer::Append(TLocalBuffer& other) {
  if (&other == this) ZM_FAIL("Buffer overrun");
  if (other.length_ > FreeSpace()) ZM_FAIL("Buffer overrun");
  if (other.length_ > 0) std::memcpy(WritePointer(), other.data_, static_cast<std::size_t>(other.length_));
  length_ += other.length_;
  other.length_ = 0;
}

void TLocalBuffer::Consume(std::int32_t bytes) {
  if (bytes <= 0) return;
  const std::int32_t n = bytes < length_ ? bytes : length_;
  length_ -= n;
  if (length_ > 0) std::memmove(data_, data_ + n, static_cast<std::size_t>(length_));
}

void TLocalBuffer::Truncate(std::int32_t bytes) {
  if (bytes >= 0 && bytes < length_) length_ = bytes;
}

bool TLocalBuffer::FillFromStream(TStream* stream, std::int64_t end) {
  TStreamWrapperClass* w = StreamWrapper();
  const std::int64_t pos = w->GetPosition(stream);
  if (!stream || pos < 0 || end <= pos) return false;
  const std::int64_t want = end - pos < FreeSpace() ? end - pos : FreeSpace();
  if (want <= 0) return false;
  const std::int32_t got = w->Read(stream, WritePointer(), static_cast<std::int32_t>(want));
  if (got <= 0) return false;
  length_ += got;
  return true;
}

}  // namespace zm
