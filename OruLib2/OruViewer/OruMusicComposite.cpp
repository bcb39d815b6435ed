#include "OruLib2/OruViewer/OruMusicComposite.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "ZmLib/Music/zmConverterFactory.h"
#include "ZmLib/Music/zmMusicPlayer.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmIniInterfaces.h"

namespace oru {

using zm::MakeRef;
using zm::TRef;

const WideString kCompositeTrackGuid = u"9213AB40-17BB-458F-9C4C-1806F44BEB65";

namespace {

// Simultaneously opened items (waiting and active): each holds a file and a
// converter, so a track of thousands of overlapping tiny items must not
// open them all at once. Items beyond it wait in pending and join late.
constexpr std::int32_t kMaxOpenItems = 256;

WideString Num(std::int64_t v) {
  const std::string s = std::to_string(v);
  return WideString(s.begin(), s.end());
}

std::int32_t ClampInt32(std::int64_t v) {
  return std::int32_t(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                               std::numeric_limits<std::int32_t>::max()));
}

std::int32_t SaturatedAdd(std::int32_t a, std::int64_t b) { return ClampInt32(std::int64_t(a) + b); }

// A sample scaled by a gain, kept inside what the accumulator can hold.
std::int64_t Scale(std::int32_t sample, double gain) {
  const double v = std::nearbyint(double(sample) * gain);
  return std::int64_t(std::clamp(v, -2147483648.0, 2147483647.0));
}

}  // namespace

std::int64_t CompositeTimeToPosition(std::int64_t ms) {
  const std::int64_t avg = zm::StandardOutputFormat().nAvgBytesPerSec;
  // Far beyond any track, and small enough that the product cannot overflow.
  constexpr std::int64_t kFar = std::int64_t(1) << 42;
  const std::int64_t n = std::clamp(ms, -kFar, kFar) * avg;
  std::int64_t q = n / 4000;
  if (n % 4000 != 0 && n < 0) --q;  // floor
  return q * 4;
}

// ---- TVolumeParams -----------------------------------------------------------------

void TVolumeParams::Dispose() {
  Points.clear();
  Compiled.clear();
  zm::TRefObject::Dispose();
}

void TVolumeParams::AddPoint(std::int32_t time, std::int32_t volume) { Points.push_back(MakeRef<TVolumeItem>(time, volume)); }

void TVolumeParams::Compile(std::int32_t length, std::int32_t soundEnd) {
  Compiled.clear();
  segment_ = 0;
  struct P {
    std::int32_t time, volume;
  };
  std::vector<P> pts;
  pts.reserve(Points.size() + 1);
  for (const auto& p : Points) pts.push_back({p->Time, p->Volume});
  if (soundEnd < length && pts.size() >= 2) {
    // The last point (of equal times the one added later) and the one
    // before it: a fall to silence past the sound's end ends there.
    std::size_t last = 0;
    for (std::size_t i = 1; i < pts.size(); ++i)
      if (pts[i].time >= pts[last].time) last = i;
    const std::int32_t lastTime = pts[last].time;
    std::size_t prev = pts.size();
    for (std::size_t i = 0; i < pts.size(); ++i)
      if (pts[i].time < lastTime && (prev == pts.size() || pts[i].time >= pts[prev].time)) prev = i;
    if (prev < pts.size() && pts[last].volume == 0 && pts[prev].volume > 0 && lastTime > soundEnd) {
      const std::int64_t shift = std::int64_t(lastTime) - soundEnd;
      pts[prev].time = std::int32_t(std::max<std::int64_t>(0, pts[prev].time - shift));
      pts[last].time = soundEnd;
      // Points the last one superseded stay behind with it.
      std::vector<P> kept;
      for (std::size_t i = 0; i < pts.size(); ++i)
        if (i == last || pts[i].time != lastTime) kept.push_back(pts[i]);
      pts.swap(kept);
    }
  }
  if (!pts.empty()) pts.push_back({length, pts.back().volume});
  // Stable, so that of two equal times the one added later wins.
  std::stable_sort(pts.begin(), pts.end(), [](const P& a, const P& b) { return a.time < b.time; });
  std::vector<P> kept;
  kept.reserve(pts.size());
  for (const P& p : pts) {
    if (!kept.empty() && kept.back().time == p.time) kept.back() = p;
    else kept.push_back(p);
  }
  std::int64_t prevPosition = 0;
  std::int32_t prevVolume = kept.empty() ? 1000 : kept.front().volume;
  Compiled.reserve(kept.size());
  for (const P& p : kept) {
    TVolumeItem2 c;
    c.Position = CompositeTimeToPosition(p.time);
    if (c.Position != prevPosition) {
      c.Slope = (double(p.volume) - double(prevVolume)) / (double(c.Position - prevPosition) * 250.0);
      c.Flat = p.volume == prevVolume;
    } else {
      c.Slope = 0;
      c.Flat = true;
    }
    c.Gain = p.volume / 1000.0;
    Compiled.push_back(c);
    prevPosition = c.Position;
    prevVolume = p.volume;
  }
  if (!Compiled.empty()) Compiled.back().IsLast = true;
}

void TVolumeParams::CompileEdges(std::int32_t length, std::int32_t end) {
  Compiled.clear();
  segment_ = 0;
  // 10 ms each way; a sound shorter than both fades rises over its first
  // half and falls over its second, to the frame.
  const std::int64_t endPos = CompositeTimeToPosition(end);
  const std::int64_t half = std::min(CompositeTimeToPosition(10), endPos / 8 * 4);
  const std::int64_t lengthPos = std::max(CompositeTimeToPosition(length), endPos);
  const std::pair<std::int64_t, std::int32_t> points[] = {
      {0, 0}, {half, 1000}, {endPos - half, 1000}, {endPos, 0}, {lengthPos, 0}};
  for (const auto& [position, volume] : points) {
    // Of two points at one place the later wins.
    if (!Compiled.empty() && Compiled.back().Position == position) Compiled.pop_back();
    const std::int64_t from = Compiled.empty() ? 0 : Compiled.back().Position;
    const double fromVolume = Compiled.empty() ? 0.0 : Compiled.back().Gain * 1000.0;
    TVolumeItem2 c;
    c.Position = position;
    if (position != from) {
      c.Slope = (double(volume) - fromVolume) / (double(position - from) * 250.0);
      c.Flat = double(volume) == fromVolume;
    }
    c.Gain = volume / 1000.0;
    Compiled.push_back(c);
  }
  Compiled.back().IsLast = true;
}

std::size_t TVolumeParams::FindSegment(std::int64_t position) const {
  // The first point past position; Compiled.size() when there is none.
  auto it = std::upper_bound(Compiled.begin(), Compiled.end(), position,
                             [](std::int64_t p, const TVolumeItem2& c) { return p < c.Position; });
  return std::size_t(it - Compiled.begin());
}

void TVolumeParams::Seek(std::int64_t position) {
  double g = 0;
  const std::size_t i = FindSegment(position);
  if (i < Compiled.size()) {
    const TVolumeItem2& c = Compiled[i];
    g = c.Gain - double(c.Position - position) * c.Slope / 4.0;
    segment_ = i;
  }
  SetGain(g);
}

void TVolumeParams::Step(std::int64_t position, double& step, bool& flat, bool& ended) {
  step = 0;
  flat = true;
  ended = false;
  if (Compiled.empty()) {
    ended = true;
    return;
  }
  if (position < 0) {
    SetGain(Compiled.front().Gain);
    return;
  }
  const std::int64_t p = position + 1;
  if (p > Compiled.back().Position) {
    ended = Compiled.back().IsLast;
    return;
  }
  // The segment ending at point i holds (point i-1, point i].
  auto contains = [&](std::size_t i) {
    return i < Compiled.size() && Compiled[i].Position >= p && (i == 0 || Compiled[i - 1].Position < p);
  };
  if (!contains(segment_)) {
    if (contains(segment_ + 1)) ++segment_;
    else segment_ = FindSegment(p - 1);
  }
  step = Compiled[segment_].Slope;
  flat = Compiled[segment_].Flat;
}

void TVolumeParams::SetGain(double g) {
  Gain = g;
  Unity = g > 0.99 && g < 1.01;
}

bool TVolumeParams::Load(const zm::TIniFile& ini, const WideString& name) {
  Points.clear();
  for (std::int64_t j = 0;; ++j) {
    zm::TIniSection* s = ini.FindSection(name + u"_" + Num(j));
    if (!s) break;
    const std::int32_t volume = zm::IniGetInt(s->Find(u"1"), -1);
    if (volume < 0) break;
    AddPoint(zm::IniGetInt(s->Find(u"0"), 0), volume);
  }
  return !Points.empty();
}

void TVolumeParams::Save(zm::TIniFile& ini, const WideString& name) const {
  for (std::size_t j = 0; j < Points.size(); ++j) {
    const WideString section = name + u"_" + Num(std::int64_t(j));
    ini.WriteInteger(section, u"0", Points[j]->Time);
    ini.WriteInteger(section, u"1", Points[j]->Volume);
  }
}

// ---- TVolumeParamsList ------------------------------------------------------------------

void TVolumeParamsList::Dispose() {
  Items.clear();
  zm::TRefObject::Dispose();
}

TVolumeParams* TVolumeParamsList::Add() {
  Items.push_back(MakeRef<TVolumeParams>());
  return Items.back().get();
}

void TVolumeParamsList::Add(TRef<TVolumeParams> envelope) {
  if (envelope) Items.push_back(std::move(envelope));
}

void TVolumeParamsList::Clear() { Items.clear(); }

void TVolumeParamsList::Compile(std::int32_t length, std::int32_t soundEnd) {
  std::erase_if(Items, [](const TRef<TVolumeParams>& e) { return e->Automatic; });
  for (auto& e : Items) e->Compile(length, soundEnd);
  if (AutoFade) {
    auto fade = MakeRef<TVolumeParams>();
    fade->Automatic = true;
    fade->CompileEdges(length, std::max(0, std::min(length, soundEnd)));
    Items.push_back(std::move(fade));
  }
}

void TVolumeParamsList::Seek(std::int64_t position) {
  for (auto& e : Items) e->Seek(position);
}

bool TVolumeParamsList::Step(std::int64_t position) {
  bool allEnded = true;
  for (auto& e : Items) {
    double step;
    bool flat, ended;
    e->Step(position, step, flat, ended);
    if (!flat) e->SetGain(e->Gain + step);
    allEnded = allEnded && ended;
  }
  return allEnded;
}

double TVolumeParamsList::Gain(bool& unity) const {
  double g = 1.0;
  unity = true;
  for (const auto& e : Items) {
    if (e->Unity) continue;
    g *= e->Gain;
    unity = false;
  }
  return g;
}

void TVolumeParamsList::Load(const zm::TIniFile& ini, const WideString& section) {
  Clear();
  const std::int32_t count = ini.ReadInteger(section, u"FadeCount", 0);
  if (count < 0 || count > 1000000) return;
  // The list ends at the first envelope without points: a count alone must
  // not make a million lookups per item.
  for (std::int32_t k = 0; k < count; ++k) {
    auto e = MakeRef<TVolumeParams>();
    if (!e->Load(ini, u"Vol_" + section + u"_" + Num(k))) break;
    Items.push_back(std::move(e));
  }
}

void TVolumeParamsList::Save(zm::TIniFile& ini, const WideString& section) const {
  std::int32_t k = 0;
  for (const auto& e : Items) {
    if (e->Automatic || e->Points.empty()) continue;
    e->Save(ini, u"Vol_" + section + u"_" + Num(k));
    ++k;
  }
  if (k > 0) ini.WriteInteger(section, u"FadeCount", k);
}

// ---- Items and params --------------------------------------------------------------------------

void TCompositeItem::Dispose() {
  Volumes = nullptr;
  zm::TRefObject::Dispose();
}

void TCompositeItem2::Dispose() {
  Close();
  TCompositeItem::Dispose();
}

void TCompositeItem2::CloseStream() {
  if (!Stream) return;
  // The close procedure was taken at open: the channel killer may dispose the
  // item after the music player has gone, so the player is not asked again.
  zm::StreamWrapper()->Close(MusicPlayer, Stream, CloseWith.Proc, CloseWith.Data);
  Stream = nullptr;
}

void TCompositeItem2::Close() {
  Converter = nullptr;
  CloseStream();
  Opened = false;
}

bool TCompositeItem2::Open(zm::TMusicPlayer* player) {
  if (Opened) return true;
  if (OpenFailed) return false;
  MusicPlayer = player;
  zm::TStreamOpenPair open;
  if (player) player->GetOpenStream(open);
  CloseWith = {};
  if (player) player->GetCloseStream(CloseWith);
  zm::TStreamWrapperClass* wrapper = zm::StreamWrapper();
  try {
    Stream = wrapper->Open(player, FileName, open.Proc, open.Data);
    if (Stream && zm::TMediaInfoExtractor().Extract(Stream, zm::CutNameSuffix(FileName), Info) &&
        Info.Kind != zm::kMediaUnknown && Info.Kind != zm::kMediaComposite && zm::CreateConverterHook) {
      if (Info.Embedded && Info.DataOffset > 0) {
        // MPEG audio inside RIFF: the decoder reads it as a plain MP3 file.
        CloseStream();
        Stream = wrapper->OpenShifted(player, FileName, Info.DataOffset, open.Proc, open.Data);
        Info.DataOffset = 0;
      }
      if (Stream) Converter = zm::CreateConverterHook(Info, FileName);
      if (Converter) {
        Converter->Stream = Stream;
        if (Converter->SetInputFormat(Info)) {
          // Every item is mixed in the track's format, whatever its own.
          const zm::TWaveFormatEx& standard = zm::StandardOutputFormat();
          if (std::memcmp(&Converter->Output().Format, &standard, sizeof standard) != 0)
            Converter->SetOutputFormat(standard);
          Opened = true;
        }
      }
    }
  } catch (const std::exception&) {
    // A damaged file: the item stays silent, the track plays on.
  }
  if (!Opened) {
    Close();
    OpenFailed = true;
  }
  return Opened;
}

void TCompositeParams::Dispose() {
  Items.clear();
  mainVolume_ = nullptr;
  zm::TRefObject::Dispose();
}

void TCompositeParams::Clear() {
  Items.clear();
  mainVolume_ = nullptr;
  Duration = 0;
}

TCompositeItem* TCompositeParams::AddItem(const WideString& fileName, std::int32_t timeLine) {
  TRef<TCompositeItem> item = NewItem();
  item->FileName = fileName;
  item->TimeLine = timeLine;
  Items.push_back(item);
  return item.get();
}

void TCompositeParams::RemoveItem(TCompositeItem* item) {
  std::erase_if(Items, [item](const TRef<TCompositeItem>& i) { return i.get() == item; });
}

TVolumeParamsList* TCompositeParams::MainVolume() {
  if (!mainVolume_) mainVolume_ = MakeRef<TVolumeParamsList>(false);
  return mainVolume_.get();
}

bool TCompositeParams::ParseOne(const zm::TIniFile& ini, std::int64_t shift, std::int64_t& duration) {
  duration = ini.ReadInteger(u"Main", u"Duration", 0);
  for (std::int64_t n = 0;; ++n) {
    const WideString section = Num(n);
    zm::TIniSection* s = ini.FindSection(section);
    const WideString fileName = s ? s->ReadString(u"FileName") : WideString();
    if (fileName.empty()) break;
    TCompositeItem* item = AddItem(fileName, SaturatedAdd(ini.ReadInteger(section, u"TimeLine", 0), shift));
    item->BeginTime = ini.ReadInteger(section, u"BeginTime", 0);
    item->Duration = ini.ReadInteger(section, u"Duration", 0);
    item->Volumes->Load(ini, section);
  }
  if (ini.FindSection(u"MainVolume")) {
    mainVolume_ = MakeRef<TVolumeParamsList>(false);
    mainVolume_->Load(ini, u"MainVolume");
  }
  return true;
}

bool TCompositeParams::Parse(const WideString& text) {
  Clear();
  if (!IsCompositeTrack(text)) return false;
  std::int64_t total = 0;
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t begin = from + kCompositeTrackGuid.size();
    // A following text starts on a line of its own: a GUID inside a value
    // (a file name) does not split the text.
    std::size_t next = begin;
    for (;;) {
      next = text.find(kCompositeTrackGuid, next);
      if (next == WideString::npos || text[next - 1] == u'\n' || text[next - 1] == u'\r') break;
      ++next;
    }
    if (next == WideString::npos) next = text.size();
    zm::TRef<zm::TIniFile> ini = MakeRef<zm::TIniFile>();
    ini->LoadFromText(zm::WideToByteString(text, std::int32_t(begin) + 1, std::int32_t(next - begin)));
    std::int64_t duration = 0;
    ParseOne(*ini, total, duration);
    total = std::clamp<std::int64_t>(total + duration, 0, std::numeric_limits<std::int32_t>::max());
    from = next;
  }
  Duration = std::int32_t(total);
  return Duration > 0 && !Items.empty();
}

WideString TCompositeParams::Save() const {
  zm::TRef<zm::TIniFile> ini = MakeRef<zm::TIniFile>();
  ini->WriteInteger(u"Main", u"Duration", Duration);
  for (std::size_t n = 0; n < Items.size(); ++n) {
    const TCompositeItem& item = *Items[n];
    const WideString section = Num(std::int64_t(n));
    ini->WriteString(section, u"FileName", item.FileName);
    ini->WriteInteger(section, u"TimeLine", item.TimeLine);
    ini->WriteInteger(section, u"BeginTime", item.BeginTime);
    ini->WriteInteger(section, u"Duration", item.Duration);
    item.Volumes->Save(*ini, section);
  }
  if (mainVolume_) mainVolume_->Save(*ini, u"MainVolume");
  zm::TRef<zm::TBytesTextSaver> saver = MakeRef<zm::TBytesTextSaver>();
  ini->Save(*saver);
  saver->Close();
  if (saver->Bytes().Length() == 0) return {};
  return kCompositeTrackGuid + saver->Bytes().ToWide();
}

// ---- TChannelList ----------------------------------------------------------------------------

std::int32_t TChannelList::Add(TCompositeItem2* item) {
  Sorted = false;
  return zm::TList::Add(item);
}

void TChannelList::Sort() {
  std::vector<TCompositeItem2*> v;
  v.reserve(std::size_t(Count()));
  for (std::int32_t i = 0; i < Count(); ++i) v.push_back(Item(i));
  std::stable_sort(v.begin(), v.end(),
                   [](const TCompositeItem2* a, const TCompositeItem2* b) { return a->TimeLine < b->TimeLine; });
  for (std::int32_t i = 0; i < Count(); ++i) Put(i, v[std::size_t(i)]);
  Sorted = true;
}

// ---- TCompositeConverter -----------------------------------------------------------------------

TCompositeConverter::TCompositeConverter(zm::TMusicPlayer* player, const WideString& description)
    : description_(description),
      musicPlayer_(player),
      params_(MakeRef<TCompositeParams2>()),
      pending_(MakeRef<TChannelList>()),
      waiting_(MakeRef<TChannelList>()),
      active_(MakeRef<TChannelList>()),
      finished_(MakeRef<TChannelList>()),
      mixOutput_(MakeRef<zm::TLocalBuffer>()),
      accumulator_(std::size_t(kMixFrames * 2), 0) {}

void TCompositeConverter::Dispose() {
  for (auto* l : {pending_.get(), waiting_.get(), active_.get(), finished_.get()})
    if (l) l->Clear();
  pending_ = waiting_ = active_ = finished_ = nullptr;
  params_ = nullptr;  // closes every opened item
  mixOutput_ = nullptr;
  mainVolume_ = nullptr;
  zm::TWavConverter::Dispose();
}

bool TCompositeConverter::SetInputFormat(const zm::TMediaInfo& info) {
  const zm::TWaveFormatEx& standard = zm::StandardOutputFormat();
  input_->Format = output_->Format = mixOutput_->Format = standard;
  // The lists point into the items that parsing replaces.
  for (auto* l : {pending_.get(), waiting_.get(), active_.get(), finished_.get()}) l->Clear();
  mainVolume_ = nullptr;
  seeked_ = false;
  parsed_ = params_->Parse(description_);
  if (!parsed_) return false;
  for (auto& i : params_->Items) {
    auto* item = static_cast<TCompositeItem2*>(i.get());
    item->FadeEndMs = ItemLengthMs(item);
    item->Volumes->Compile(item->FadeEndMs);
    pending_->Add(item);
  }
  if (params_->HasMainVolume()) {
    mainVolume_ = TRef<TVolumeParamsList>(params_->MainVolume());
    mainVolume_->Compile(params_->Duration);
  }
  pending_->Sort();
  zm::TMediaInfo copy = info;
  copy.Format = standard;
  copy.Kind = zm::kMediaComposite;
  return zm::TWavConverter::SetInputFormat(copy);
}

std::int32_t TCompositeConverter::ItemLengthMs(const TCompositeItem2* item) const {
  // An item without a length plays to the track's end at most.
  const std::int64_t room = std::int64_t(params_->Duration) - item->TimeLine;
  return ClampInt32(item->Duration > 0 ? std::min<std::int64_t>(item->Duration, room) : room);
}

std::int64_t TCompositeConverter::ItemEndMs(const TCompositeItem2* item) const {
  if (item->Duration > 0) return std::int64_t(item->TimeLine) + item->Duration;
  if (item->Duration < 0) return std::numeric_limits<std::int64_t>::min();  // never plays
  if (item->Opened) return std::int64_t(item->TimeLine) + item->Info.Duration + 10000;
  return params_->Duration;
}

void TCompositeConverter::MoveTo(TCompositeItem2* item, TChannelList& from, TChannelList& to) {
  from.Remove(item);
  to.Add(item);
}

bool TCompositeConverter::OpenAt(TCompositeItem2* item, std::int64_t fileMs) {
  if (!item->Open(musicPlayer_)) return false;
  item->Exhausted = false;
  // A file that ends before its item: the item's fades end with its sound
  // (the fade out heard, not cut off by the file's end).
  const std::int32_t length = ItemLengthMs(item);
  // The file's length is whole ms, its sound ends within half of one
  // either way: the envelopes end past it, the sound's own end fade (to
  // its last frame) ends it.
  const std::int64_t sound = std::int64_t(item->Info.Duration) - item->BeginTime + 1;
  item->FadeEndMs = length;
  if (item->Info.Duration > 0 && sound < length) {
    item->FadeEndMs = ClampInt32(std::max<std::int64_t>(sound, 0));
    item->Volumes->Compile(length, item->FadeEndMs);
  }
  item->Converter->Seek(std::max<std::int64_t>(fileMs, 0));
  return true;
}

void TCompositeConverter::Seek(std::int64_t ms) {
  input_->Consume(input_->Length());
  output_->Consume(output_->Length());
  padded_ = 0;
  mixOutput_->Consume(mixOutput_->Length());
  decodedMs_ = double(ms);
  seeked_ = true;
  if (!parsed_) return;
  ms = std::clamp<std::int64_t>(ms, 0, std::numeric_limits<std::int32_t>::max());
  // Everything back to pending, in time-line order.
  for (TChannelList* l : {waiting_.get(), active_.get(), finished_.get()}) {
    for (std::int32_t i = 0; i < l->Count(); ++i) pending_->Add(l->Item(i));
    l->Clear();
  }
  for (std::int32_t i = 0; i < pending_->Count(); ++i) pending_->Item(i)->BlockOffset = -1;
  pending_->Sort();
  position_ = CompositeTimeToPosition(ms);

  std::vector<TCompositeItem2*> rest;
  std::int32_t i = 0, opened = 0;
  for (; i < pending_->Count(); ++i) {
    TCompositeItem2* item = pending_->Item(i);
    if (ItemEndMs(item) <= ms) {
      item->Close();
      finished_->Add(item);
      continue;
    }
    if (std::int64_t(item->TimeLine) > ms + kLookAheadMs || opened >= kMaxOpenItems) break;
    const std::int64_t local = position_ - CompositeTimeToPosition(item->TimeLine);
    item->Volumes->Seek(local);
    if (std::int64_t(item->TimeLine) < ms) {
      if (OpenAt(item, std::int64_t(item->BeginTime) + (ms - item->TimeLine))) {
        active_->Add(item);
        ++opened;
      } else {
        finished_->Add(item);
      }
    } else if (OpenAt(item, item->BeginTime)) {
      waiting_->Add(item);
      ++opened;
    } else {
      finished_->Add(item);
    }
  }
  for (; i < pending_->Count(); ++i) {
    rest.push_back(pending_->Item(i));
    rest.back()->Close();  // opened again when it comes near
  }
  pending_->Clear();
  for (auto* item : rest) pending_->Add(item);
  pending_->Sorted = true;
  if (mainVolume_) mainVolume_->Seek(position_);
}

void TCompositeConverter::MixItem(TCompositeItem2* item) {
  std::int32_t frames = kMixFrames, first = 0;
  if (item->BlockOffset >= 0) {
    first = std::min(item->BlockOffset, kMixBytes) / 4;
    frames = kMixFrames - first;
    item->BlockOffset = -1;
  }
  const std::int32_t bytes = frames * 4;
  if (bytes <= 0) return;
  // A fade's length (and a frame, so that data ending right there is known
  // to) further on than the block: a file that runs out within it fades out
  // over its last frames of sound, not on a step. The file is done only once
  // its sound is: what it has past this block is mixed with the next.
  item->Converter->Fill(bytes + (kEndFadeFrames + 1) * 4);
  zm::TLocalBuffer& out = item->Converter->Output();
  const std::int32_t have = std::min(bytes, out.Length()) / 4;
  const std::int32_t sound = item->Converter->SoundBytes() / 4;
  if (sound <= have) item->Exhausted = true;
  const std::int64_t start = CompositeTimeToPosition(item->TimeLine);
  const std::int64_t local = position_ + std::int64_t(first) * 4 - start;
  // Only a sound that ends before its envelopes' fade does needs one of
  // its own.
  const bool endFade = local + std::int64_t(sound) * 4 < CompositeTimeToPosition(item->FadeEndMs);
  // A sound shorter than two fades falls over its second half.
  const std::int32_t tailFrames = std::int32_t(
      std::clamp<std::int64_t>((std::max<std::int64_t>(local, 0) / 4 + sound) / 2, 1, kEndFadeFrames));
  const auto* samples = reinterpret_cast<const std::int16_t*>(out.Data());
  TVolumeParamsList& volumes = *item->Volumes;
  volumes.Seek(local);
  bool ended = false;
  for (std::int32_t f = 0; f < have; ++f) {
    const std::int64_t pos = local + std::int64_t(f) * 4;
    if (volumes.Step(pos)) {
      ended = true;
      break;
    }
    bool unity;
    double gain = volumes.Gain(unity);
    if (gain > 10.0) {
      // Accumulated steps drifted: take the exact gain of this frame.
      volumes.Seek(pos);
      gain = volumes.Gain(unity);
    }
    // The end's fade scales what the envelopes give, all of its steps.
    const double tail = endFade && sound - f < tailFrames ? double(std::max(sound - f, 0)) / tailFrames : 1.0;
    std::int32_t* acc = &accumulator_[std::size_t(first + f) * 2];
    for (int c = 0; c < 2; ++c) {
      std::int16_t s;
      std::memcpy(&s, samples + std::size_t(f) * 2 + c, 2);
      std::int64_t v;
      if (unity || (gain >= 0.99 && gain < 1.01)) v = s;
      else if (gain <= 0.00001) continue;
      else v = Scale(s, gain);
      if (tail < 1.0) v = std::int64_t(std::nearbyint(double(v) * tail));
      acc[c] = SaturatedAdd(acc[c], v);
    }
  }
  out.Consume(bytes);
  if (ended || item->Exhausted) {
    MoveTo(item, *active_, *finished_);
    item->Close();
  }
}

bool TCompositeConverter::MixBlock() {
  if (!seeked_) Seek(0);
  std::fill(accumulator_.begin(), accumulator_.end(), 0);
  const std::int64_t blockStart = position_;
  if (parsed_) {
    // 1. Waiting items that start in this block (one that starts where it
    //    ends starts with the next).
    for (std::int32_t i = 0; i < waiting_->Count();) {
      TCompositeItem2* item = waiting_->Item(i);
      const std::int64_t start = CompositeTimeToPosition(item->TimeLine);
      if (start < position_ + kMixBytes) {
        item->BlockOffset = std::int32_t(std::max<std::int64_t>(start - position_, 0));
        MoveTo(item, *waiting_, *active_);
      } else {
        ++i;
      }
    }
    // 2. Active items into the accumulator; MixItem may move the item on.
    std::vector<TCompositeItem2*> active;
    for (std::int32_t i = 0; i < active_->Count(); ++i) active.push_back(active_->Item(i));
    for (auto* item : active) MixItem(item);
  }
  // 3. The main volume, clamping and output.
  if (mainVolume_) mainVolume_->Seek(position_);
  mixOutput_->EnsureFree(kMixBytes);
  auto* out = mixOutput_->WritePointer();
  for (std::int32_t f = 0; f < kMixFrames; ++f) {
    double gain = 1.0;
    bool unity = true;
    if (mainVolume_) {
      mainVolume_->Step(position_ + std::int64_t(f) * 4);
      gain = mainVolume_->Gain(unity);
    }
    for (int c = 0; c < 2; ++c) {
      std::int64_t v = accumulator_[std::size_t(f) * 2 + c];
      if (!unity) {
        if (gain >= 1.01 || (gain > 0.001 && gain < 0.99)) v = Scale(std::int32_t(v), gain);
        else if (gain < 0.001) v = 0;
      }
      const auto s = std::int16_t(std::clamp<std::int64_t>(v, -32768, 32767));
      std::memcpy(out + (std::size_t(f) * 2 + c) * 2, &s, 2);
    }
  }
  mixOutput_->AddLength(kMixBytes);
  position_ += kMixBytes;
  // 4. Open what starts within the look-ahead; late joiners (held back by the
  //    open limit) start inside their file.
  if (parsed_) {
    const std::int64_t aheadEnd = position_ + CompositeTimeToPosition(kLookAheadMs);
    std::int32_t opened = waiting_->Count() + active_->Count();
    std::int32_t taken = 0;
    const std::int64_t nowMs = position_ * 1000 / zm::StandardOutputFormat().nAvgBytesPerSec;
    for (; taken < pending_->Count(); ++taken) {
      TCompositeItem2* item = pending_->Item(taken);
      const std::int64_t start = CompositeTimeToPosition(item->TimeLine);
      if (start > aheadEnd || opened >= kMaxOpenItems) break;
      if (ItemEndMs(item) <= nowMs) {
        item->Close();
        finished_->Add(item);
        continue;
      }
      if (start < position_) {
        const std::int64_t local = position_ - start;
        item->Volumes->Seek(local);
        if (OpenAt(item, std::int64_t(item->BeginTime) + (nowMs - item->TimeLine))) {
          active_->Add(item);
          ++opened;
        } else {
          finished_->Add(item);
        }
      } else if (OpenAt(item, item->BeginTime)) {
        item->Volumes->Seek(position_ - start);
        waiting_->Add(item);
        ++opened;
      } else {
        finished_->Add(item);
      }
    }
    if (taken > 0) {
      // One shift for the whole batch, not one per item.
      const std::int32_t n = pending_->Count();
      for (std::int32_t i = taken; i < n; ++i) pending_->Put(i - taken, pending_->Item(i));
      pending_->SetCount(n - taken);
    }
  }
  // 5. Whether the block belongs to the track.
  return blockStart < CompositeTimeToPosition(params_->Duration);
}

bool TCompositeConverter::Convert(zm::TLocalBuffer&) {
  if (!MixBlock()) {
    mixOutput_->Consume(mixOutput_->Length());
    return false;
  }
  return zm::TWavConverter::Convert(*mixOutput_);
}

// ---- Hooks ----------------------------------------------------------------------------------

bool IsCompositeTrack(const WideString& text) {
  return !text.empty() && text.compare(0, kCompositeTrackGuid.size(), kCompositeTrackGuid) == 0;
}

bool CompositeTrackInfo(const WideString& text, zm::TMediaInfo& info) {
  if (!IsCompositeTrack(text)) return false;
  auto params = MakeRef<TCompositeParams>();
  if (!params->Parse(text)) return false;
  std::memset(&info, 0, sizeof info);
  info.Kind = zm::kMediaComposite;
  info.Duration = std::uint32_t(params->Duration);
  info.Format = zm::StandardOutputFormat();
  return true;
}

TRef<zm::TWavConverter> CreateCompositeConverter(zm::TMusicPlayer* player, const WideString& text) {
  return MakeRef<TCompositeConverter>(player, text);
}

namespace {
zm::THookInstall<zm::TIsCompositeTrackProc> gIsCompositeHook;
zm::THookInstall<zm::TCompositeTrackInfoProc> gCompositeInfoHook;
zm::THookInstall<zm::TCreateCompositeConverterProc> gCompositeConverterHook;
}  // namespace

void InitMusicComposite() {
  gIsCompositeHook.Install(zm::IsCompositeTrackHook, &IsCompositeTrack);
  gCompositeInfoHook.Install(zm::CompositeTrackInfoHook, &CompositeTrackInfo);
  gCompositeConverterHook.Install(zm::CreateCompositeConverterHook, &CreateCompositeConverter);
}

void FiniMusicComposite() {
  gIsCompositeHook.Restore();
  gCompositeInfoHook.Restore();
  gCompositeConverterHook.Restore();
}

}  // namespace oru
