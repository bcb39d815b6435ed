#include "OruLib2/OruViewer/OruMusicOptions.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>
#include <utility>

#include "OruLib2/OruViewer/OruMusicComposite.h"
#include "ZmLib/Text/zmWideStringUtils.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/wpUnicode.h"

namespace oru {

using zm::TIniFile;
using zm::TIniItem;
using zm::TIniList;
using zm::TIniObject;

namespace {

constexpr std::int64_t kInt32Max = 2147483647;
// Values read from the document are kept far from 64-bit overflow; anything
// beyond the 32-bit track range is cut when placed anyway.
constexpr double kReadLimit = 1e15;

std::int32_t ClampMs(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, -kInt32Max, kInt32Max));
}

std::int64_t RoundValue(double v, std::int64_t def) {
  if (!std::isfinite(v)) return def;
  return std::llround(std::clamp(v, -kReadLimit, kReadLimit));
}

// Whole milliseconds of a key; fractions are rounded.
std::int64_t ReadMs(const TIniList* list, const char16_t* key, std::int64_t def) {
  const TIniItem* item = list ? list->Find(key) : nullptr;
  if (!item) return def;
  return RoundValue(item->GetFloat(static_cast<double>(def)), def);
}

double ReadFloat(const TIniList* list, const char16_t* key, double def) {
  const double v = zm::IniGetFloat(list ? list->Find(key) : nullptr, def);
  return std::isfinite(v) ? v : def;
}

bool ReadBool(const TIniList* list, const char16_t* key) {
  return zm::IniGetBool(list ? list->Find(key) : nullptr, false);
}

bool IsType(const TIniObject* o, const char16_t* type) { return o->GetValue().CompareWideText(type) == 0; }

bool IsNamedOrTyped(const TIniObject* o, const WideString& word) {
  return o->Name().CompareWideText(word) == 0 || o->GetValue().CompareWideText(word) == 0;
}

// The words every slide's blocks are compared with, made once.
const WideString kClipWordKeyPoint = u"KeyPoint";
const WideString kClipWordVideo = u"Video";

WideString GuidKey(const WideString& guid) {
  WideString s = zm::Trim(guid);
  if (!s.empty() && s.front() == u'{') s.erase(0, 1);
  if (!s.empty() && s.back() == u'}') s.pop_back();
  return zm::UpperCase(s);
}

// Per cent in the document, per mille on the track.
std::int32_t ReadVolume(const TIniList* list) {
  const double percent = ReadFloat(list, u"Volume", 100.0);
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(RoundValue(percent * 10.0, 1000), 0, 1000000));
}

// The keys an item and a voice comment share.
struct TSoundKeys {
  WideString FileName;
  std::int64_t StartTime = 0;
  std::int64_t Duration = 0;
  std::int64_t Pause = 0;
  std::int64_t FadeIn = 0;
  std::int64_t FadeOut = 0;
  std::int32_t Volume = 1000;
  WideString VolumeParams;
};

void ReadSoundKeys(const TIniObject* o, TSoundKeys& k) {
  k.FileName = zm::IniGetString(o->Find(u"FileName"));
  k.StartTime = std::max<std::int64_t>(0, ReadMs(o, u"StartTime", 0));
  k.Duration = std::max<std::int64_t>(0, ReadMs(o, u"Duration", 0));
  k.Pause = std::max<std::int64_t>(0, ReadMs(o, u"Pause", 0));
  k.FadeIn = ReadMs(o, u"FadeIn", 0);
  k.FadeOut = ReadMs(o, u"FadeOut", 0);
  k.Volume = ReadVolume(o);
  k.VolumeParams = zm::IniGetString(o->Find(u"VolumeParams"));
}

// The fade and volume envelope of an item of that duration; empty when it
// plays at unity throughout.
TMusicEnvelope FadeEnvelope(const TSoundKeys& k, std::int32_t duration) {
  TMusicEnvelope env;
  if (k.FadeIn < 1 && k.FadeOut < 1 && k.Volume == 1000) return env;
  if (k.FadeIn > 0) {
    env.push_back({0, 0});
    env.push_back({ClampMs(k.FadeIn), k.Volume});
  }
  if (k.FadeOut > 0) {
    env.push_back({ClampMs(duration - k.FadeOut), k.Volume});
    env.push_back({duration, 0});
  }
  if (k.Volume != 1000 && env.empty()) {
    env.push_back({0, k.Volume});
    env.push_back({duration, k.Volume});
  }
  return env;
}

void AddEnvelopes(TPlacedSound& sound, const TSoundKeys& k) {
  TMusicEnvelope fade = FadeEnvelope(k, sound.Duration);
  if (!fade.empty()) sound.Envelopes.push_back(std::move(fade));
  if (!k.VolumeParams.empty()) {
    TMusicEnvelope extra = ParseMusicVolumeParams(k.VolumeParams, ClampMs(k.StartTime), sound.Duration);
    if (!extra.empty()) sound.Envelopes.push_back(std::move(extra));
  }
}

// One music item as read, with what the time line adds.
struct TItemIn {
  TSoundKeys Keys;
  std::int64_t CrossMode = 0;
  std::int64_t Cross = 0;
  std::int64_t Start = -1;  // the linked slide's synchronisation time
  std::int64_t Limit = kInt32Max;
};

// Whether an item cross-fades with the one before it.
bool CrossesIn(const TItemIn& it) { return it.Start < 0 && it.CrossMode != 1 && it.Cross >= 1; }

}  // namespace

// ---- Composite text --------------------------------------------------------------------

WideString ComposeMusicTrack(const std::vector<TPlacedSound>& items, std::int32_t duration) {
  if (items.empty() || duration <= 0) return {};
  zm::TRef<TCompositeParams> params = zm::MakeRef<TCompositeParams>();
  params->Duration = duration;
  for (const TPlacedSound& s : items) {
    TCompositeItem* item = params->AddItem(s.FileName, s.TimeLine);
    item->BeginTime = s.BeginTime;
    item->Duration = s.Duration;
    for (const TMusicEnvelope& env : s.Envelopes) {
      TVolumeParams* v = item->Volumes->Add();
      for (const TMusicVolumePoint& p : env) v->AddPoint(p.Time, p.Volume);
    }
  }
  return params->Save();
}

TMusicEnvelope ParseMusicVolumeParams(const WideString& text, std::int32_t beginTime, std::int32_t duration) {
  TMusicEnvelope env;
  std::int64_t prevTime = 0;
  bool any = false;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t comma = text.find(u',', pos);
    if (comma == WideString::npos) comma = text.size();
    const WideString pair = zm::Trim(text.substr(pos, comma - pos));
    pos = comma + 1;
    const std::size_t colon = pair.find(u':');
    if (colon == WideString::npos) continue;
    const zm::TByteString a = zm::UTF8Encode(zm::Trim(pair.substr(0, colon)));
    const zm::TByteString b = zm::UTF8Encode(zm::Trim(pair.substr(colon + 1)));
    constexpr std::int64_t kBad = INT64_MIN;
    const std::int64_t frame = a.ToInt64Def(0, zm::kMaxCount32, kBad);
    const std::int64_t gain = b.ToInt64Def(0, zm::kMaxCount32, kBad);
    if (frame == kBad || gain == kBad) continue;
    std::int64_t time = RoundValue(static_cast<double>(frame) / kMusicParamsRate * 1000.0, 0);
    if (any && time <= prevTime) time = prevTime + 1;
    prevTime = time;
    any = true;
    const std::int32_t volume =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(RoundValue(gain / 65536.0 * 1000.0, 0), 0, 1000000));
    const std::int64_t local = time - beginTime;
    if (local >= duration) {
      // The envelope ends at the item's end, with the value it has there.
      std::int32_t v = volume;
      if (!env.empty() && local > env.back().Time) {
        const TMusicVolumePoint& p = env.back();
        v = static_cast<std::int32_t>(
            std::lround(p.Volume + (volume - p.Volume) * static_cast<double>(duration - p.Time) /
                                       static_cast<double>(local - p.Time)));
      }
      env.push_back({duration, v});
      break;
    }
    env.push_back({ClampMs(local), volume});
  }
  return env;
}

// ---- Reader ----------------------------------------------------------------------------

TMusicOptionsReader::TMusicOptionsReader(const TIniFile* ini) {
  // The points and the slides' links are read when an item first asks: a
  // show without music never needs them.
  timesIni_ = ini;
  ini_ = ini;
}

const std::vector<std::int32_t>& TMusicOptionsReader::SyncPositions() const {
  const zm::TIniFile* ini = std::exchange(timesIni_, nullptr);
  if (!ini) return syncPositions_;
  const zm::TIniSection* times = ini->FindSection(u"Times");
  const std::int32_t count =
      std::clamp(zm::IniGetInt(times ? times->Find(u"opt_slidescount") : nullptr, 1), 1, kMaxSlideCount);
  syncPositions_.assign(static_cast<std::size_t>(count), 0);
  // Each key looked for at once: one pass.
  std::vector<TIniItem*> keys;
  if (times) times->FindIndexedRange(u"opt_synchpos", count - 1, keys);
  for (std::int32_t i = 1; i < count; ++i) {
    const TIniItem* item = std::size_t(i - 1) < keys.size() ? keys[std::size_t(i - 1)] : nullptr;
    const std::int64_t v = item ? RoundValue(item->GetFloat(0), 0) : 0;
    syncPositions_[std::size_t(i)] = std::max(ClampMs(v), syncPositions_[std::size_t(i - 1)]);
  }
  return syncPositions_;
}

void TMusicOptionsReader::ReadLinkedAudio() const {
  const zm::TIniFile* ini = std::exchange(ini_, nullptr);
  if (!ini) return;
  const auto count = static_cast<std::int32_t>(SyncPositions().size());
  std::vector<zm::TIniSection*> slides;
  ini->FindIndexedSections(u"Slide", count, slides);
  for (std::int32_t i = 1; i <= count; ++i) {
    const zm::TIniSection* slide = slides[std::size_t(i - 1)];
    // A slide of a long show not read yet is read only when it may link.
    if (!slide || !slide->MayHoldName("LinkedAudio")) continue;
    const WideString links = zm::IniGetString(slide->Find(u"LinkedAudio"));
    std::size_t pos = 0;
    while (pos < links.size() && links[pos] == u'{') {
      const std::size_t close = links.find(u'}', pos);
      if (close == WideString::npos) break;
      // The first slide that links an item places it.
      linkedAudio_.emplace(GuidKey(links.substr(pos, close - pos + 1)), i - 1);
      pos = close + 1;
    }
  }
}

std::int32_t TMusicOptionsReader::LinkedSlide(const WideString& guid) const {
  if (guid.empty()) return -1;
  ReadLinkedAudio();
  if (linkedAudio_.empty()) return -1;
  auto it = linkedAudio_.find(GuidKey(guid));
  return it == linkedAudio_.end() ? -1 : it->second;
}

void TMusicOptionsReader::Read(const TIniList* music, std::span<const TClipSound> linkedClips) {
  mainText_.clear();
  mainLength_ = 0;
  mainItems_.clear();
  isRepeat_ = false;
  muteVolume_ = 100;
  commentText_.clear();
  commentLength_ = 0;
  commentItems_.clear();
  fileNames_.clear();

  // Flatten in document order: nil stands for a track boundary. Nesting is
  // walked with a stack so that deep documents cannot exhaust the thread's.
  std::vector<const TIniObject*> entries;
  const TIniObject* comment = nullptr;
  std::vector<const TIniObject*> stack;
  if (music) stack.push_back(music->FirstObject());
  while (!stack.empty()) {
    const TIniObject* o = stack.back();
    if (!o) {
      stack.pop_back();
      continue;
    }
    stack.back() = o->Owner()->NextObject(o);
    if (IsType(o, u"TMusicTrack")) {
      if (ReadBool(o, u"IsMute")) continue;
      entries.push_back(nullptr);
      stack.push_back(o->FirstObject());
    } else if (IsType(o, u"TMusicItem")) {
      entries.push_back(o);
    } else if (IsType(o, u"TMusicOptions")) {
      isRepeat_ = ReadBool(o, u"IsRepeat");
      const std::int64_t mute = ReadMs(o, u"MuteVolume", 100);
      muteVolume_ = ReadBool(o, u"IsMute") ? static_cast<std::int32_t>(std::clamp<std::int64_t>(mute, 0, 100)) : 100;
    } else if (IsType(o, u"TSoundComment")) {
      if (!comment) comment = o;
    }
  }

  // Tracks: the runs of items between boundaries.
  std::int64_t length = 0;
  std::vector<TItemIn> track;
  std::size_t i = 0;
  while (i < entries.size()) {
    track.clear();
    for (; i < entries.size() && entries[i]; ++i) {
      const TIniObject* o = entries[i];
      TItemIn it;
      ReadSoundKeys(o, it.Keys);
      it.CrossMode = ReadMs(o, u"CrossMode", 0);
      it.Cross = std::max<std::int64_t>(0, ReadMs(o, u"Cross", 0));
      const std::int32_t slide = LinkedSlide(zm::IniGetString(o->Find(u"GUID")));
      const std::vector<std::int32_t>& positions = SyncPositions();
      if (slide >= 0 && std::size_t(slide) < positions.size()) it.Start = positions[std::size_t(slide)];
      if (!it.Keys.FileName.empty()) fileNames_.push_back(it.Keys.FileName);
      track.push_back(std::move(it));
    }
    for (; i < entries.size() && !entries[i]; ++i) {
    }
    if (track.empty()) continue;

    // A linked item bounds every earlier item of its track.
    std::int64_t bound = kInt32Max;
    for (std::size_t k = track.size(); k-- > 0;) {
      track[k].Limit = bound;
      if (track[k].Start >= 0) bound = std::min(bound, track[k].Start);
    }

    std::int64_t time = 0;
    for (std::size_t k = 0; k < track.size(); ++k) {
      TItemIn& it = track[k];
      const bool first = time == 0;
      std::int64_t crossMode = it.CrossMode, cross = it.Cross, pause = it.Keys.Pause;
      if (it.Start >= 0) {
        time = it.Start;
        crossMode = cross = pause = 0;
      }
      const bool crossIn = crossMode != 1 && cross >= 1;
      // Where the item really starts; a cross-fade never reaches before 0,
      // and the first item of a track does not move back for it.
      std::int64_t place = time;
      if (crossMode == 1)
        place = time + pause;
      else if (crossIn && !first)
        place = std::max<std::int64_t>(0, time - cross);
      std::int64_t duration = std::min<std::int64_t>(it.Keys.Duration, kInt32Max);
      if (place + duration > it.Limit) duration = std::max<std::int64_t>(0, it.Limit - place);
      time = place;

      TPlacedSound sound;
      sound.FileName = it.Keys.FileName;
      sound.TimeLine = ClampMs(place);
      sound.BeginTime = ClampMs(it.Keys.StartTime);
      sound.Duration = ClampMs(duration);
      TMusicEnvelope fade = FadeEnvelope(it.Keys, sound.Duration);
      TMusicEnvelope cross2;
      if (crossIn) {
        cross2.push_back({0, 0});
        cross2.push_back({ClampMs(cross), 1000});
      }
      if (k + 1 < track.size() && CrossesIn(track[k + 1])) {
        cross2.push_back({ClampMs(sound.Duration - track[k + 1].Cross), 1000});
        cross2.push_back({sound.Duration, 0});
      }
      if (!fade.empty()) sound.Envelopes.push_back(std::move(fade));
      if (!cross2.empty()) sound.Envelopes.push_back(std::move(cross2));
      if (!it.Keys.VolumeParams.empty()) {
        TMusicEnvelope extra = ParseMusicVolumeParams(it.Keys.VolumeParams, sound.BeginTime, sound.Duration);
        if (!extra.empty()) sound.Envelopes.push_back(std::move(extra));
      }

      time = std::min<std::int64_t>(time + duration, kInt32Max);
      // A silent item, one with nothing to play, and one without a file keep
      // their time but are not placed (an item without a file name would end
      // the composite's item list).
      if (it.Keys.Volume > 0 && sound.Duration > 0 && !sound.FileName.empty()) mainItems_.push_back(std::move(sound));
    }
    length = std::max(length, time);
  }
  mainLength_ = mainItems_.empty() ? 0 : ClampMs(length);
  mainText_ = ComposeMusicTrack(mainItems_, mainLength_);

  ReadComment(comment, linkedClips);
}

void TMusicOptionsReader::ReadComment(const TIniObject* comment, std::span<const TClipSound> clips) {
  std::int64_t length = 0;
  if (comment) {
    TSoundKeys k;
    ReadSoundKeys(comment, k);
    if (!k.FileName.empty() && zm::LowerCase(k.FileName) != u"error") {
      length = std::min<std::int64_t>(k.Duration + k.Pause, kInt32Max);
      if (CommentLimit > 0 && CommentLimit < length) length = CommentLimit;
      // The file sounds from the pause on, until the (possibly cut) end.
      TPlacedSound sound;
      sound.FileName = k.FileName;
      sound.TimeLine = ClampMs(k.Pause);
      sound.BeginTime = ClampMs(k.StartTime);
      sound.Duration = ClampMs(std::max<std::int64_t>(0, length - k.Pause));
      fileNames_.push_back(k.FileName);
      if (sound.Duration > 0) {
        AddEnvelopes(sound, k);
        commentItems_.push_back(std::move(sound));
      }
    }
  }
  for (const TClipSound& c : clips) {
    if (c.FileName.empty() || c.Duration <= 0 || c.TimeLine < 0) continue;
    TPlacedSound sound;
    sound.FileName = c.FileName;
    sound.TimeLine = c.TimeLine;
    sound.BeginTime = std::max(0, c.BeginTime);
    sound.Duration = c.Duration;
    if (std::isfinite(c.Volume) && std::fabs(c.Volume - 1.0) > 1e-9) {
      const std::int32_t v =
          static_cast<std::int32_t>(std::clamp<std::int64_t>(RoundValue(c.Volume * 1000.0, 0), 0, 1000000));
      sound.Envelopes.push_back({{0, v}, {c.Duration, v}});
    }
    length = std::max<std::int64_t>(length, std::int64_t(c.TimeLine) + c.Duration);
    commentItems_.push_back(std::move(sound));
  }
  commentLength_ = commentItems_.empty() ? 0 : ClampMs(length);
  commentText_ = ComposeMusicTrack(commentItems_, commentLength_);
}

// ---- Clip sound of a slide ----------------------------------------------------------------

TVideoClipIndex::TVideoClipIndex(const TIniFile* ini) {
  // The order in which clip lookups meet the entries: each list's blocks,
  // then the blocks inside them, earlier first.
  const zm::TIniSection* tracks = ini ? ini->FindSection(u"Tracks") : nullptr;
  std::vector<const TIniList*> stack;
  if (tracks) stack.push_back(tracks);
  std::vector<const TIniList*> children;
  while (!stack.empty()) {
    const TIniList* list = stack.back();
    stack.pop_back();
    children.clear();
    for (const TIniObject* o = list->FirstObject(); o; o = list->NextObject(o)) {
      if (IsNamedOrTyped(o, u"VideoClip")) {
        const WideString guid = zm::IniGetString(o->Find(u"ClipGUID"));
        if (!guid.empty()) clips_.emplace(zm::UpperCase(guid), o);
      }
      if (o->GetValue().CompareWideText(u"KeyPoint") != 0) children.push_back(o);
    }
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
}

const TIniList* TVideoClipIndex::Find(const WideString& guid) const {
  if (guid.empty()) return nullptr;
  auto it = clips_.find(zm::UpperCase(guid));
  return it == clips_.end() ? nullptr : it->second;
}

void TMusicOptionsReader::CollectClipSound(const TIniFile* ini, std::span<const TSlideSpan> slides,
                                           const TIniList* slideObject, std::vector<TClipSound>& records,
                                           const TMusicFileMap& fileMap, const TVideoClipIndex* clipIndex) {
  CollectClipSound(
      ini, static_cast<std::int32_t>(slides.size()), [slides](std::int32_t k) { return slides[std::size_t(k)].OwnLength; },
      slideObject, records, fileMap, clipIndex);
}

void TMusicOptionsReader::CollectClipSound(const TIniFile* ini, std::int32_t count,
                                           const std::function<double(std::int32_t)>& ownLength,
                                           const TIniList* slideObject, std::vector<TClipSound>& records,
                                           const TMusicFileMap& fileMap, const TVideoClipIndex* clipIndex) {
  if (!ini || !slideObject) return;
  const zm::TByteString& name = slideObject->Name();
  if (name.Length() <= 5 || zm::TByteString("Slide").CompareText(name, 0, 5) != 0) return;
  const std::int32_t n = name.ToIntDef(5, zm::kMaxCount32, 0);
  if (n < 1 || n > kMaxSlideCount) return;

  // The slide's window, read when a video object asks for it: most slides
  // have none.
  bool windowRead = false;
  const zm::TIniSection* times = nullptr;
  auto syncPos = [&](std::int32_t i, std::int64_t def) -> std::int64_t {
    const TIniItem* item = times ? times->FindIndexed(u"opt_synchpos", i) : nullptr;
    return item ? RoundValue(item->GetFloat(static_cast<double>(def)), def) : def;
  };
  std::int64_t windowStart = 0, windowEnd = 0;
  auto readWindow = [&] {
    if (windowRead) return;
    windowRead = true;
    times = ini->FindSection(u"Times");
    windowStart = n == 1 ? 0 : syncPos(n - 1, 0);
    // The clip may sound on through the transition into the following slide.
    std::int64_t next = 0;
    if (n < count) {
      next = RoundValue(ownLength(n), 0);
    } else if (count > 0) {
      const WideString repeat = ini->ReadString(u"main", u"opt_repeat", {});
      if (zm::LowerCase(repeat) == u"repeat") next = RoundValue(ownLength(0), 0);
    }
    windowEnd = syncPos(n, kInt32Max) + next;
  };

  std::optional<TVideoClipIndex> ownIndex;
  std::unordered_set<WideString> taken;  // upper-case GUIDs of clips already collected
  // Blocks before the blocks inside them, key points not entered; walked
  // along the owners, so that the many slides without clips cost no memory.
  for (const TIniObject *o = slideObject->FirstObject(), *next = nullptr; o; o = next) {
    const bool keyPoint = o->Name().CompareWideText(kClipWordKeyPoint) == 0;
    next = keyPoint ? nullptr : o->FirstObject();
    for (const TIniObject* up = o; !next && up;) {
      next = up->Owner()->NextObject(up);
      up = next || up->Owner() == slideObject ? nullptr : static_cast<const TIniObject*>(up->Owner());
    }
    if (keyPoint || !IsNamedOrTyped(o, kClipWordVideo)) continue;
    readWindow();

    const WideString guid = zm::IniGetString(o->Find(u"ClipGUID"));
    const TIniList* clip = nullptr;
    if (!guid.empty()) {
      if (!clipIndex) clipIndex = &ownIndex.emplace(ini);
      clip = clipIndex->Find(guid);
    }
    const TIniList* keys = clip ? clip : o;
    // The clip's pictures start at this show time (a shared clip's counts
    // from the end of its own start slide); its sound starts with them.
    std::int64_t start = ReadMs(keys, u"StartORUTime", 0);
    std::int64_t begin = std::max<std::int64_t>(0, ReadMs(keys, u"StartVideoTime", 0));
    std::int64_t duration = ReadMs(keys, u"Duration", 0);
    if (clip) {
      if (!taken.insert(zm::UpperCase(guid)).second) continue;
      const std::int32_t startSlide = zm::IniGetInt(clip->Find(u"StartSlideIdx"), 0);
      if (startSlide >= 1) start += syncPos(startSlide, 0);
      if (start < windowStart) continue;
    } else {
      duration = std::min(windowEnd - start, duration);
      // Begun before the slide: it shows (and sounds) from where it has got to.
      if (start < windowStart) {
        begin += windowStart - start;
        duration -= windowStart - start;
        start = windowStart;
      }
    }
    if (ReadBool(keys, u"Mute")) continue;
    if (std::fabs(ReadFloat(keys, u"FPSMultiplier", 1.0) - 1.0) > 1e-9) continue;
    WideString file = zm::IniGetString(keys->Find(u"FileName"));
    if (clip && fileMap) {
      WideString mapped = fileMap(file);
      if (!mapped.empty()) file = mapped;
    }
    if (file.empty() || duration <= 0) continue;
    const WideString lower = zm::LowerCase(file);
    if (lower.size() >= 4 && lower.compare(lower.size() - 4, 4, u".gif") == 0) continue;
    if (ReadBool(keys, u"LoadFromDisk")) file = u"LoadFromDisk:" + file;
    TClipSound rec;
    rec.FileName = file;
    // The slide's comment track, which carries the sound, starts with the slide.
    rec.TimeLine = ClampMs(start - windowStart);
    rec.BeginTime = ClampMs(begin);
    rec.Duration = ClampMs(duration);
    rec.Volume = 1.0;
    records.push_back(std::move(rec));
  }
}

}  // namespace oru
