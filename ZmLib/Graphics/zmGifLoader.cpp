#include "ZmLib/Graphics/zmGifLoader.h"

#include <algorithm>
#include <climits>
#include <string>

#include "ZmLib/Graphics/SysBitmap.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/wpUnicode.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLog.h"

namespace zm {

namespace {

TPixelFormat* CanvasFormat() { return PixelFormatByName(TByteString("A8R8G8B8")); }

WideString Decimal(std::int64_t v) {
  const std::string s = std::to_string(v);
  return WideString(s.begin(), s.end());
}

bool IsGifName(const WideString& name) { return SameText(ExtractFileExt(name), u".gif"); }

// Copies Image to (X, Y) of Canvas, transparent pixels included, cut to Clip.
void DrawImage(TDirectBitmap* canvas, TDirectBitmap* image, std::int32_t x, std::int32_t y, const TRect& clip) {
  const std::int32_t x0 = std::max(x, clip.Left);
  const std::int32_t x1 = std::int32_t(std::min<std::int64_t>(std::int64_t(x) + image->Width(), clip.Right));
  const std::int32_t y0 = std::max(y, clip.Top);
  const std::int32_t y1 = std::int32_t(std::min<std::int64_t>(std::int64_t(y) + image->Height(), clip.Bottom));
  if (x0 >= x1 || y0 >= y1) return;
  for (std::int32_t row = y0; row < y1; ++row)
    std::copy_n(image->Row32(row - y) + (x0 - x), x1 - x0, canvas->Row32(row) + x0);
}

// Gives every pixel of Canvas with alpha 0 inside Area the pixel of Source
// at the same place shifted by SourceDX, except inside Keep (left alone).
void FillTransparent(TDirectBitmap* canvas, const TRect& area, TDirectBitmap* source, std::int32_t sourceDX,
                     const TRect& keep) {
  for (std::int32_t y = area.Top; y < area.Bottom; ++y) {
    std::uint32_t* dst = canvas->Row32(y);
    const std::uint32_t* src = source->Row32(y) + sourceDX;
    const bool rowKept = y >= keep.Top && y < keep.Bottom;
    for (std::int32_t x = area.Left; x < area.Right; ++x) {
      if (dst[x] >> 24) continue;
      if (rowKept && x >= keep.Left && x < keep.Right) continue;
      dst[x] = src[x];
    }
  }
}

// Copies a composed canvas into a caller's bitmap of any format.
bool CopyToBitmap(TBitmap* target, TDirectBitmap* canvas) {
  const TRect all{0, 0, canvas->Width(), canvas->Height()};
  if (auto* direct = dynamic_cast<TDirectBitmap*>(target)) {
    direct->CopyRect(all, canvas, TPoint{0, 0});
    return true;
  }
  if (auto* sys = dynamic_cast<TSysBitmap*>(target)) {
    sys->CopyRect(all, canvas, pmNone, TPoint{0, 0});
    return true;
  }
  return false;
}

THookInstall<TAcceptFrameSourceProc> gGifAccept;
THookInstall<TCreateFrameSourceProc> gGifCreate;

}  // namespace

// ---- TGifFrameData / TImgStore ------------------------------------------------------------

void TGifFrameData::Dispose() {
  Bitmap = nullptr;
  TRefObject::Dispose();
}

void TImgStore::Dispose() {
  Bitmap = nullptr;
  TRefObject::Dispose();
}

// ---- TGifVideoSource ----------------------------------------------------------------------

TGifVideoSource::TGifVideoSource(TStream* stream, const WideString& fileName, bool ownsStream)
    : stream_(stream), ownsStream_(ownsStream), fileName_(fileName) {}

void TGifVideoSource::Dispose() {
  if (ownsStream_) FreeObject(stream_);
  stream_ = nullptr;
  reader_ = nullptr;
  lastFrame_ = nullptr;
  Frames.clear();
  TFrameSource::Dispose();
}

TRef<TDirectBitmap> TGifVideoSource::NewCanvas() const {
  return MakeRef<TDirectBitmap>(ScreenWidth, CanvasFormat(), ScreenHeight);
}

bool TGifVideoSource::Open() {
  if (!stream_) return false;
  reader_ = MakeRef<TFPReaderGif>();
  // The reader reads from the start whatever the position: check there too.
  stream_->SetPosition(0);
  isValid_ = reader_->InternalCheck(stream_);
  if (!isValid_) return false;
  TRef<TDirectBitmap> first;
  try {
    reader_->InternalRead(stream_, first);
  } catch (const std::exception&) {
    first = nullptr;
  }
  if (!first || !reader_->IsAnimated) return false;

  ScreenWidth = reader_->Header.ScreenWidth;
  ScreenHeight = reader_->Header.ScreenHeight;
  if (!GifSizeAllowed(ScreenWidth, ScreenHeight) ||
      std::int64_t(ScreenWidth) * ScreenHeight > kGifVideoMaxScreenPixels)
    return false;

  std::int32_t shortest = 1000;
  std::int64_t total = 0;
  std::int32_t prevDisposal = -1, lastKeep = -1, restore = -1;
  TRect prevRect;
  for (std::int32_t i = 0;; ++i) {
    TRef<TGifFrameData> f = MakeRef<TGifFrameData>();
    const TGifImageDescriptor& d = reader_->Descriptor;
    const TGifGraphicControl& gc = reader_->GraphicControl;
    f->Left = d.Left;
    f->Top = d.Top;
    f->ImageWidth = d.ImageWidth;
    f->ImageHeight = d.ImageHeight;
    f->ImageFlags = d.ImageFlags;
    f->BlockSize = gc.BlockSize;
    f->ControlFlags = gc.ControlFlags;
    f->DelayTime = gc.DelayTime;
    f->TransparentColorIndex = gc.TransparentColorIndex;
    f->BlockTerminator = gc.BlockTerminator;
    f->PrevDisposal = prevDisposal;
    f->RestoreIndex = restore;
    f->PrevRect = prevRect;
    f->StreamPosition = stream_->GetPosition();
    f->IsKeyFrame = i % 10 == 0;
    total += f->DelayMs();
    shortest = std::min(shortest, f->DelayMs());
    prevRect = f->Rect();
    prevDisposal = f->Disposal();
    if (prevDisposal == 1) lastKeep = i;  // the frame left in place, as in the atlas
    if (prevDisposal == 3) restore = lastKeep;
    if (i == 0) {
      // Cached on the screen, so that every composition has the screen's size.
      f->Bitmap = NewCanvas();
      DrawImage(f->Bitmap.get(), first.get(), f->Left, f->Top, TRect{0, 0, ScreenWidth, ScreenHeight});
    }
    Frames.push_back(f);
    bool more = false;
    try {
      more = reader_->SkipNextImage(stream_);
    } catch (const std::exception&) {
      more = false;
    }
    if (!more) break;
  }

  shortest_ = shortest;
  duration_ = std::int32_t(std::min<std::int64_t>(total, INT32_MAX));
  readerLoopCount_ = reader_->LoopCount;
  loopCount_ = readerLoopCount_ == 0 ? kLoopForever : readerLoopCount_;
  Info.Width = ScreenWidth;
  Info.Height = ScreenHeight;
  Info.AspectClass = acOther;
  Info.Interlaced = false;
  Info.TopFieldFirst = false;
  Info.FrameRate = 1000.0 / shortest;
  Info.HasAlpha = true;
  Info.Reserved = 0;
  // Frame numbers run at the frame rate: one pass of the animation. The
  // passes the file asks for go with it, and FrameForPosition wraps them.
  Info.FrameCount = std::int32_t(std::max<std::int64_t>(1, (std::int64_t(duration_) + shortest - 1) / shortest));
  Info.CodecClass = u"OTHER";
  Info.Rotation = 0;
  Info.Duration = duration_;
  Info.LoopCount = loopCount_;
  lastFrame_ = NewCanvas();
  lastIndex_ = -1;
  return true;
}

bool TGifVideoSource::SeekFrame(std::int32_t index) {
  position_ = index;
  return true;
}

std::int32_t TGifVideoSource::FrameAtTime(double ms) const {
  std::int64_t sum = 0;
  for (std::int32_t i = 0; i < FrameCount(); ++i) {
    sum += Frame(i)->DelayMs();
    if (double(sum) > ms) return i;
  }
  return FrameCount() - 1;
}

std::int32_t TGifVideoSource::FrameForPosition(std::int32_t position) const {
  if (Frames.empty() || duration_ <= 0) return 0;
  // Position / (1000 / Shortest) x 1000, kept exact in whole milliseconds.
  std::int64_t t = std::int64_t(position) * shortest_;
  const std::int64_t d = duration_;
  // A pass starts again at its first frame: reducing a time that ends a
  // pass to the duration itself would show the last frame in its place,
  // and frame numbers at the rate of the shortest delay meet every pass's
  // end, so frame 0 would never come back.
  if (readerLoopCount_ > 0 && t >= std::int64_t(readerLoopCount_) * d) {
    t = d;
  } else if (t >= d) {
    t %= d;
  }
  return FrameAtTime(double(t));
}

TRef<TDirectBitmap> TGifVideoSource::DecodeNext() {
  TRef<TDirectBitmap> image;
  try {
    reader_->ReadNextImage(stream_, image);
  } catch (const std::exception&) {
    image = nullptr;
  }
  if (image) ++decodeCount_;
  return image;
}

TRef<TDirectBitmap> TGifVideoSource::DecodeFrame(std::int32_t index) {
  if (index < 1) return nullptr;
  // Always from the scanned position: a damaged image may end its decoding
  // elsewhere than the scan ended it, and every path must see the same frames.
  stream_->SetPosition(Frame(index - 1)->StreamPosition);
  return DecodeNext();
}

TRef<TDirectBitmap> TGifVideoSource::ComposeOn(std::int32_t index, TDirectBitmap* image,
                                               TDirectBitmap* previous) const {
  const TGifFrameData* f = Frame(index);
  TRef<TDirectBitmap> canvas = NewCanvas();
  const TRect screen{0, 0, ScreenWidth, ScreenHeight};
  DrawImage(canvas.get(), image, f->Left, f->Top, screen);
  if (!previous || f->PrevDisposal < 0 || (f->PrevDisposal == 3 && f->RestoreIndex < 0)) return canvas;
  FillTransparent(canvas.get(), screen, previous, 0, f->PrevDisposal == 2 ? f->PrevRect : TRect{});
  return canvas;
}

void TGifVideoSource::Keep(std::int32_t index, const TRef<TDirectBitmap>& canvas) {
  TGifFrameData* f = Frame(index);
  if (f->Bitmap) LogLine(u"Twice Extracting KeyFrame#" + Decimal(index) + u" at " + fileName_);
  f->Bitmap = canvas;
}

bool TGifVideoSource::BuildKeyFrames(std::int32_t from, std::int32_t to) {
  TRef<TDirectBitmap> background = Frame(from)->Bitmap;
  TRef<TDirectBitmap> lastKey = background;
  if (!background) return false;
  for (std::int32_t j = from + 1; j <= to; ++j) {
    TRef<TDirectBitmap> image = DecodeFrame(j);
    if (!image) break;
    TRef<TDirectBitmap> canvas = ComposeOn(j, image.get(), background.get());
    if (Frame(j)->IsKeyFrame) {
      Keep(j, canvas);
      lastKey = canvas;
    }
    background = Frame(j)->Disposal() == 3 ? lastKey : canvas;
  }
  return Frame(to)->Bitmap != nullptr;
}

TDirectBitmap* TGifVideoSource::RestoreBase(std::int32_t n) const {
  // Building key frame N goes back to the key frame before it; any other
  // frame to the key frame at or below it.
  const std::int32_t key = Frame(n)->IsKeyFrame ? n - 10 : n / 10 * 10;
  return key >= 0 ? Frame(key)->Bitmap.get() : nullptr;
}

bool TGifVideoSource::ComposeFrame(std::int32_t n, TDirectBitmap* result) {
  if (!isValid_ || n < 0 || n >= FrameCount()) return false;
  TGifFrameData* f = Frame(n);
  TRef<TDirectBitmap> out;
  if (f->IsKeyFrame && f->Bitmap) {
    out = f->Bitmap;
  } else if (n == lastIndex_ + 1 && lastFrame_ && (!f->FollowsRestore() || RestoreBase(n))) {
    // The next frame in order: one decode. After a restore the base is the
    // key frame the walks below would go back to.
    TRef<TDirectBitmap> image = DecodeFrame(n);
    if (!image) return false;
    out = ComposeOn(n, image.get(), f->FollowsRestore() ? RestoreBase(n) : lastFrame_.get());
    if (f->IsKeyFrame) Keep(n, out);
  } else {
    const std::int32_t k0 = n / 10 * 10;
    std::int32_t k = k0;
    while (k > 0 && !Frame(k)->Bitmap) k -= 10;
    if (k < k0 && !BuildKeyFrames(k, k0)) return false;
    TRef<TDirectBitmap> c = Frame(k0)->Bitmap;
    if (!c) return false;
    if (k0 == n) {
      out = c;
    } else if (f->FollowsRestore()) {
      TRef<TDirectBitmap> image = DecodeFrame(n);
      if (!image) return false;
      out = ComposeOn(n, image.get(), c.get());
    } else {
      TRef<TDirectBitmap> previous = c;
      for (std::int32_t j = k0 + 1; j <= n; ++j) {
        TRef<TDirectBitmap> image = DecodeFrame(j);
        if (!image) return false;
        if (Frame(j)->FollowsRestore()) previous = c;
        previous = ComposeOn(j, image.get(), previous.get());
      }
      out = previous;
    }
  }
  // Compositions are never changed once made, so the cached ones are shared.
  lastFrame_ = out;
  lastIndex_ = n;
  if (result && result != out.get()) result->CopyRect(TRect{0, 0, ScreenWidth, ScreenHeight}, out.get(), TPoint{0, 0});
  return true;
}

bool TGifVideoSource::ComposeCurrent() {
  const std::int32_t n = FrameForPosition(position_);
  if (n == lastIndex_ && lastFrame_) return true;
  return ComposeFrame(n, nullptr);
}

bool TGifVideoSource::GetFrame(TYUVImage* image) {
  if (!image || !isValid_) return false;
  if (!ComposeCurrent()) return false;
  TRef<TBitmap> plane = image->LockPlane(4);
  if (!plane) return false;
  const bool ok = CopyToBitmap(plane.get(), lastFrame_.get());
  image->UnlockPlane(4, plane);
  if (ok) image->Commit();
  return ok;
}

bool TGifVideoSource::GetFrameBitmap(TBitmap* bitmap) {
  if (!bitmap || !isValid_) return false;
  if (!ComposeCurrent()) return false;
  return CopyToBitmap(bitmap, lastFrame_.get());
}

// ---- Loaders ------------------------------------------------------------------------------

namespace {

TRef<TDirectBitmap> BuildAtlas(TFPReaderGif* reader, TStream* stream, TRef<TDirectBitmap> first,
                               TRef<TTilesTag>& tag) {
  const std::int32_t w = reader->Header.ScreenWidth, h = reader->Header.ScreenHeight;
  std::vector<TRef<TImgStore>> frames;
  std::int64_t total = 0;
  WideString delays;
  TRef<TDirectBitmap> image = std::move(first);
  for (;;) {
    TRef<TImgStore> s = MakeRef<TImgStore>();
    const TGifImageDescriptor& d = reader->Descriptor;
    const TGifGraphicControl& gc = reader->GraphicControl;
    s->Left = d.Left;
    s->Top = d.Top;
    s->ImageWidth = d.ImageWidth;
    s->ImageHeight = d.ImageHeight;
    s->ImageFlags = d.ImageFlags;
    s->BlockSize = gc.BlockSize;
    s->ControlFlags = gc.ControlFlags;
    s->DelayTime = gc.DelayTime;
    s->TransparentColorIndex = gc.TransparentColorIndex;
    s->BlockTerminator = gc.BlockTerminator;
    s->Bitmap = image;
    const std::int32_t delay = GifDelayMs(gc.DelayTime);
    total += delay;
    if (!delays.empty()) delays += u',';
    delays += Decimal(delay);
    frames.push_back(s);
    TRef<TDirectBitmap> next;
    try {
      reader->ReadNextImage(stream, next);
    } catch (const std::exception&) {
      next = nullptr;
    }
    if (!next || std::int64_t(w) * h * std::int64_t(frames.size() + 1) > kGifAtlasMaxPixels) break;
    image = next;
  }

  const std::int32_t n = std::int32_t(frames.size());
  if (!GifSizeAllowed(w, h) || !GifSizeAllowed(std::int32_t(std::min<std::int64_t>(std::int64_t(w) * n, INT32_MAX)), h))
    return nullptr;
  TRef<TDirectBitmap> atlas = MakeRef<TDirectBitmap>(w * n, CanvasFormat(), h);
  std::int32_t prevDisposal = -1, lastKeep = -1, restore = -1;
  TRect prevRect;
  for (std::int32_t j = 0; j < n; ++j) {
    TImgStore* s = frames[std::size_t(j)].get();
    const TRect tile{j * w, 0, (j + 1) * w, h};
    // Cut to the tile: an image reaching out of the screen must not spill
    // into the next tile.
    DrawImage(atlas.get(), s->Bitmap.get(), j * w + s->Left, s->Top, tile);
    if (j > 0) {
      if (prevDisposal == 2) {
        const TRect keep{prevRect.Left + j * w, prevRect.Top, prevRect.Right + j * w, prevRect.Bottom};
        FillTransparent(atlas.get(), tile, atlas.get(), -w, keep);
      } else if (prevDisposal == 3) {
        if (restore >= 0) FillTransparent(atlas.get(), tile, atlas.get(), (restore - j) * w, TRect{});
      } else {
        FillTransparent(atlas.get(), tile, atlas.get(), -w, TRect{});
      }
    }
    s->Bitmap = nullptr;
    prevRect = TRect{s->Left, s->Top, s->Left + s->ImageWidth, s->Top + s->ImageHeight};
    prevDisposal = s->ControlFlags >> 2;
    if (prevDisposal == 1) lastKeep = j;
    if (prevDisposal == 3) restore = lastKeep;
  }

  tag = MakeRef<TTilesTag>();
  tag->TileWidth = w;
  tag->TileHeight = h;
  tag->FrameCount = n;
  tag->ColumnCount = n;
  tag->RowCount = 1;
  tag->TotalDuration = std::int32_t(std::min<std::int64_t>(total, INT32_MAX));
  tag->AverageDelay = std::int32_t(total / n);
  tag->DelayText = delays;
  tag->LoopCount = reader->LoopCount;
  return atlas;
}

}  // namespace

TRef<TBitmapStore> LoadGif(TStream* stream, const WideString& fileName, bool ownsStream,
                           const TImageLoadHandler& handler, bool atlas) {
  if (!stream) return nullptr;
  const std::int64_t start = stream->GetPosition();
  TRef<TFPReaderGif> reader = MakeRef<TFPReaderGif>();
  if (!reader->InternalCheck(stream)) return nullptr;
  TRef<TDirectBitmap> first;
  TRef<TTilesTag> tag;
  TRef<TDirectBitmap> bitmap;
  try {
    reader->InternalRead(stream, first);
  } catch (const std::exception&) {
    first = nullptr;
  }
  if (!atlas || !reader->IsAnimated)
    bitmap = first;
  else if (first)
    bitmap = BuildAtlas(reader.get(), stream, first, tag);
  if (!bitmap) {
    stream->SetPosition(start);
    return nullptr;
  }
  TRef<TSysDirectWrapper> wrapper = MakeRef<TSysDirectWrapper>(bitmap.get(), true);
  bitmap.Detach();  // the wrapper took over the reference
  TRef<TWrapperBitmapStore> store = MakeRef<TWrapperBitmapStore>(fileName, handler, true, wrapper.Detach());
  if (tag) store->Tags.push_back(tag);
  if (ownsStream) stream->ReleaseRef();
  return store;
}

TRef<TBitmapStore> LoadGifBitmapStore(TStream* stream, const WideString& fileName, bool ownsStream,
                                      const TImageLoadHandler& handler) {
  return LoadGif(stream, fileName, ownsStream, handler, false);
}

TRef<TBitmapStore> LoadGifFirstFrameStore(TStream* stream, const WideString& fileName, bool ownsStream,
                                          const TImageLoadHandler& handler) {
  return LoadGif(stream, fileName, ownsStream, handler, false);
}

TRef<TBitmapStore> LoadGifFramesAtlas(TStream* stream, const WideString& fileName, bool ownsStream,
                                      const TImageLoadHandler& handler) {
  return LoadGif(stream, fileName, ownsStream, handler, true);
}

// ---- Frame-source hooks -------------------------------------------------------------------

bool GifAcceptFrameSource(const WideString& fileName) {
  if (IsGifName(fileName)) return true;
  return gGifAccept.Saved() ? gGifAccept.Saved()(fileName) : true;
}

TRef<TFrameSource> GifCreateFrameSource(TStream* stream, bool ownsStream, const WideString& fileName,
                                        bool multiThread, bool useHardware) {
  if (!stream) return nullptr;
  if (!IsGifName(fileName)) {
    if (gGifCreate.Saved()) return gGifCreate.Saved()(stream, ownsStream, fileName, multiThread, useHardware);
    if (ownsStream) FreeObject(stream);
    return nullptr;
  }
  // The source owns the stream from here on: dropping it frees the stream.
  TRef<TGifVideoSource> source = MakeRef<TGifVideoSource>(stream, fileName, ownsStream);
  bool ok = false;
  try {
    ok = source->Open();
  } catch (const std::exception&) {
    ok = false;
  }
  if (!ok) return nullptr;
  return source;
}

void InitGifLoader() {
  RegisterImageLoader(&LoadGifBitmapStore, {u".gif"});
  RegisterImageLoader(&LoadGifFirstFrameStore, {u".gif_first_frame"});
  RegisterImageLoader(&LoadGifFramesAtlas, {u".gif|framesatlas"});
  gGifAccept.Install(AcceptFrameSourceHook, &GifAcceptFrameSource);
  gGifCreate.Install(CreateFrameSourceHook, &GifCreateFrameSource);
}

void FiniGifLoader() {
  gGifAccept.Restore();
  gGifCreate.Restore();
  UnregisterImageLoader(&LoadGifBitmapStore);
  UnregisterImageLoader(&LoadGifFirstFrameStore);
  UnregisterImageLoader(&LoadGifFramesAtlas);
}

}  // namespace zm
