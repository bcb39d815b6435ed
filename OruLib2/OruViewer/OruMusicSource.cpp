#include "OruLib2/OruViewer/OruMusicSource.h"

#include <algorithm>
#include <cmath>

#include "OruLib2/OruClasses/OruShowLoader.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/zmLog.h"

namespace oru {

using zm::TIniFile;
using zm::TIniList;
using zm::TIniObject;

// ---- TPlayList ----------------------------------------------------------------------------

void TPlayList::Clear() {
  std::lock_guard<std::mutex> g(lock_);
  entries_.clear();
  entries_.shrink_to_fit();
  total_ = 0;
}

std::int32_t TPlayList::AddEntry(const WideString& text, double duration) {
  std::lock_guard<std::mutex> g(lock_);
  if (!std::isfinite(duration) || duration < 0) duration = 0;
  const std::size_t cap = entries_.capacity();
  if (entries_.size() == cap) entries_.reserve(cap == 0 ? 1 : cap == 1 ? 8 : cap * 2);
  TPlayListEntry e;
  e.Text = text;
  e.Start = total_;
  e.Duration = duration;
  entries_.push_back(std::move(e));
  total_ = std::max(total_, entries_.back().Start + duration);
  return static_cast<std::int32_t>(entries_.size() - 1);
}

bool TPlayList::Get(std::int64_t index, TPlayListEntry& entry) const {
  std::lock_guard<std::mutex> g(lock_);
  entry = TPlayListEntry();
  if (index < 0 || entries_.empty()) return false;
  const std::int64_t count = static_cast<std::int64_t>(entries_.size());
  const std::int64_t loop = index / count;
  entry = entries_[std::size_t(index - loop * count)];
  entry.Start += static_cast<double>(loop) * total_;
  return true;
}

std::int32_t TPlayList::Count() const {
  std::lock_guard<std::mutex> g(lock_);
  return static_cast<std::int32_t>(entries_.size());
}

double TPlayList::Total() const {
  std::lock_guard<std::mutex> g(lock_);
  return total_;
}

std::size_t TPlayList::Capacity() const {
  std::lock_guard<std::mutex> g(lock_);
  return entries_.capacity();
}

// ---- TOruMusicSource ------------------------------------------------------------------------

TIniObject* FindMusicObject(const TIniList* list) {
  static const zm::TIniName kMusic("Music");
  return list ? list->FindObject(kMusic) : nullptr;
}

namespace {

// Each file of the main music, once, and whether the show has it, as the
// time line says of the slides' pictures: a missing one is silent.
void LogMusicFiles(TOruSource* show, const std::vector<TPlacedSound>& items) {
  std::vector<WideString> named;
  for (const TPlacedSound& item : items) {
    if (item.FileName.empty() || std::find(named.begin(), named.end(), item.FileName) != named.end()) continue;
    named.push_back(item.FileName);
    WideString state = u"missing";
    try {
      const std::int64_t size = show->FileAccessor() ? show->FileAccessor()->FileSize(item.FileName) : -1;
      if (size >= 0) state = zm::IntToStr(size) + u" bytes";
    } catch (const std::exception& e) {
      state = u"unreadable: " + zm::TByteString(std::string(e.what())).ToWide();
    }
    zm::LogLine(u"Music \"" + item.FileName + u"\" (" + state + u")");
  }
}

bool HasOwnComment(const TIniList* slide) {
  const TIniObject* music = FindMusicObject(slide);
  for (const TIniObject* o = music ? music->FirstObject() : nullptr; o; o = music->NextObject(o))
    if (o->GetValue().CompareWideText(u"TSoundComment") == 0 && !zm::IniGetString(o->Find(u"FileName")).empty())
      return true;
  return false;
}

}  // namespace

TOruMusicSource::TOruMusicSource(TOruSource* show) : show_(show) {
  ZM_ASSERT(show != nullptr, "TOruMusicSource: no show");
  ini_ = show->Project();
  const TIniObject* music = FindMusicObject(show->MainSection());
  if (music && zm::IniGetBool(music->Find(u"music_disable"), false)) return;
  hasMusic_ = true;

  zm::TRef<TMusicOptionsReader> reader = zm::MakeRef<TMusicOptionsReader>(ini_);
  reader->Read(music);
  repeat_ = reader->IsRepeat();
  LogMusicFiles(show, reader->MainItems());

  const TIniList* main = show->MainSection();
  synchronised_ = zm::IniGetBool(main ? main->Find(u"opt_syncmode") : nullptr, false);
  commentToOwnSlide_ = !zm::IniGetBool(main ? main->Find(u"opt_fullyplaysound") : nullptr, false);

  // The slides are read with the same reader, which forgets the main music.
  const WideString mainText = reader->MainText();
  const double mainLength = reader->MainLength();
  reader_ = reader;
  BuildSlides();

  const double total = mainLength > 0 ? mainLength : 0.0;
  if (synchronised_ && repeat_ && total + kMusicRepeatMargin > show->ShowLength()) repeat_ = false;
  // The list repeats exactly when the source does: the sequences read it.
  if (mainLength > 0) {
    mainList_ = zm::MakeRef<TPlayList>(repeat_);
    mainList_->AddEntry(mainText, mainLength);
  }
}

void TOruMusicSource::Dispose() {
  for (std::int32_t i = 0; i < slideCount_ && slides_; ++i) delete slides_[std::size_t(i)].exchange(nullptr);
  slides_.reset();
  slideCount_ = 0;
  reader_ = nullptr;
  clipIndex_.reset();
  mainList_ = nullptr;
  zm::TRefObject::Dispose();
}

namespace {
// Music or video clips of a slide's own: a section that surely names
// neither has no comment to read.
bool MayHaveSound(const TIniList* section) {
  static constexpr std::string_view kSoundNames[] = {"Music", "Video"};
  return section && section->MayHoldNames(kSoundNames);
}
}  // namespace

const TSlideMusicInfo* TOruMusicSource::Slide(std::int32_t i) const {
  if (i < 0 || i >= SlideCount()) return nullptr;
  std::atomic<TSlideMusicInfo*>& slot = slides_[std::size_t(i)];
  if (const TSlideMusicInfo* made = slot.load(std::memory_order_acquire)) return made;
  std::lock_guard<std::mutex> guard(fillLock_);
  if (const TSlideMusicInfo* made = slot.load(std::memory_order_relaxed)) return made;
  TSlideMusicInfo* made = MakeSlide(i);
  slot.store(made, std::memory_order_release);
  return made;
}

bool TOruMusicSource::SlideBounds(std::int32_t i, double& start, double& end) const {
  start = end = 0;
  if (i < 0 || i >= SlideCount()) return false;
  show_->GetSlideBounds(i, start, end);
  return true;
}

bool TOruMusicSource::MayHaveComment(std::int32_t i) const {
  if (i < 0 || i >= SlideCount()) return false;
  if (const TSlideMusicInfo* made = slides_[std::size_t(i)].load(std::memory_order_acquire))
    return !made->Comment.empty();
  if (!MayHaveSound(show_->SlideSection(i))) return false;
  const TSlideMusicInfo* info = Slide(i);
  return info && !info->Comment.empty();
}

double TOruMusicSource::Length() const { return show_->ShowLength(); }


void TOruMusicSource::BuildSlides() {
  const std::int32_t count = show_->SlideCount();
  for (std::int32_t i = 0; i < count; ++i)
    if (!show_->SlideSection(i)) throw zm::Exception("Slide not Found");
  // For each slide, the record that bounds a comment that may play on: the
  // one before the next slide with a comment of its own, else the last.
  // Found from the end so that long shows stay linear.
  if (!commentToOwnSlide_) {
    boundOf_.assign(static_cast<std::size_t>(count), count - 1);
    std::int32_t bound = count - 1;
    for (std::int32_t i = count - 1; i >= 0; --i) {
      boundOf_[std::size_t(i)] = bound;
      const TIniList* section = show_->SlideSection(i);
      if (i > 0 && section->MayHoldName("Music") && HasOwnComment(section)) bound = i - 1;
    }
  }
  if (auto* mapped = dynamic_cast<TMappedFileSource*>(show_->FileAccessor()->Source()))
    fileMap_ = [mapped](const WideString& name) { return mapped->MappedName(name); };
  clipIndex_.emplace(ini_);
  // Each slide's record waits until it is asked for: durations and pauses
  // are read as never negative, so no comment can fail the build.
  slides_.reset(new std::atomic<TSlideMusicInfo*>[static_cast<std::size_t>(count)]());
  slideCount_ = count;
}

TSlideMusicInfo* TOruMusicSource::MakeSlide(std::int32_t i) const {
  const std::int32_t count = SlideCount();
  auto made = std::make_unique<TSlideMusicInfo>();
  TSlideMusicInfo& info = *made;
  show_->GetSlideSpan(i, info.Span);
  info.NextSlide = i + 1 < count ? i + 1 : 0;
  const TIniList* section = show_->SlideSection(i);
  if (MayHaveSound(section)) {
    const TIniObject* music = FindMusicObject(section);
    std::vector<TClipSound> clips;
    const auto ownLength = [this](std::int32_t k) {
      TSlideSpan span;
      show_->GetSlideSpan(k, span);
      return span.OwnLength;
    };
    TMusicOptionsReader::CollectClipSound(ini_, count, ownLength, section, clips, fileMap_, &*clipIndex_);
    if (music || !clips.empty()) {
      double boundStart = 0, boundEnd = 0;
      show_->GetSlideBounds(commentToOwnSlide_ ? i : boundOf_[std::size_t(i)], boundStart, boundEnd);
      const double limit = std::round(boundEnd - info.Span.Start);
      reader_->CommentLimit = limit > 0 ? static_cast<std::int32_t>(std::min(limit, double(kMusicNoLimit))) : 0;
      reader_->Read(music, clips);
      if (reader_->CommentLength() < 0) throw zm::Exception("Incorrect music time");
      if (reader_->CommentLength() > 0) {
        info.Comment = reader_->CommentText();
        info.CommentStartPosition = 0;
        info.CommentLength = reader_->CommentLength();
      }
    }
  }
  return made.release();
}

}  // namespace oru
