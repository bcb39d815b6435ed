#pragma once
// The soundtrack description of one opened show, built once when the music
// player starts: whether there is music at all, the main play list (the main
// music as one composite track), each slide's voice comment (a composite
// track too), and the flags that decide how the music follows the show.
//
// Built on one thread; afterwards only read. A play list takes a lock of its
// own, so a reader may meet a writer. A slide's record is made when first
// asked for (under a lock): a long show's slides are not read to start it.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "OruLib2/OruClasses/zmOruSource2.h"
#include "OruLib2/OruViewer/OruMusicOptions.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmTypes.h"

namespace oru {

// Music stays repeating in synchronised mode only when it ends at least this
// long before the show does.
constexpr double kMusicRepeatMargin = 200.0;

struct TPlayListEntry {
  WideString Text;           // file name or composite text to open
  double Start = 0;          // ms within the list
  double StartPosition = 0;  // ms inside the file
  double Duration = 0;       // ms
};

class TPlayList : public zm::TRefObject {
 public:
  explicit TPlayList(bool repeat) : repeat_(repeat) {}

  void Clear();
  // The entry starts at the current total; a negative or non-finite duration
  // counts as 0. Answers its index.
  std::int32_t AddEntry(const WideString& text, double duration);
  // The entry of a list index: indexes past the end wrap, the start moved on
  // by whole totals. False (and an empty record) for a negative index or an
  // empty list.
  bool Get(std::int64_t index, TPlayListEntry& entry) const;
  std::int32_t Count() const;
  double Total() const;
  bool Repeat() const { return repeat_; }
  // Room held for entries (grows 0, 1, 8, then doubling).
  std::size_t Capacity() const;

 private:
  mutable std::mutex lock_;
  std::vector<TPlayListEntry> entries_;
  double total_ = 0;
  const bool repeat_;
};

// What one slide contributes; made when first asked for (TOruMusicSource::Slide).
struct TSlideMusicInfo {
  TSlideSpan Span;                  // the slide's time record
  std::int32_t NextSlide = 0;       // index of the following slide, 0 after the last
  WideString Comment;               // composite text of the voice comment; empty when none
  double CommentStartPosition = 0;  // ms
  double CommentLength = 0;         // ms, never negative
};

class TOruMusicSource : public zm::TRefObject {
 public:
  // The show stays owned by the caller and must outlive the source. Raises
  // "Slide not Found" when a slide has no section; Slide raises "Incorrect
  // music time" for a comment of negative length (durations and pauses read
  // as never negative make none).
  explicit TOruMusicSource(TOruSource* show);
  void Dispose() override;

  std::int32_t SlideCount() const { return slideCount_; }
  // Nil out of range.
  const TSlideMusicInfo* Slide(std::int32_t i) const;
  // The start and end of slide i's time record, without making the record.
  bool SlideBounds(std::int32_t i, double& start, double& end) const;
  // False when slide i surely has no comment (its section, still waiting in
  // its text, names neither music nor video): its record is not made.
  bool MayHaveComment(std::int32_t i) const;
  double Length() const;  // the show's total duration, ms
  TOruSource* Show() const { return show_; }
  zm::TIniFile* Ini() const { return ini_; }
  // Nil when the show has no main music to play.
  TPlayList* MainList() const { return mainList_.get(); }

  bool HasMusic() const { return hasMusic_; }
  bool Synchronised() const { return synchronised_; }
  bool Repeat() const { return repeat_; }
  bool CommentToOwnSlide() const { return commentToOwnSlide_; }

 private:
  void BuildSlides();
  // Slide i's record (made under fillLock_).
  TSlideMusicInfo* MakeSlide(std::int32_t i) const;

  TOruSource* show_;
  zm::TIniFile* ini_ = nullptr;
  bool hasMusic_ = false;
  bool synchronised_ = false;
  bool repeat_ = false;
  bool commentToOwnSlide_ = true;
  // Each slide's record once made (nil before): a long show's are not made
  // at all unless asked for.
  std::int32_t slideCount_ = 0;
  mutable std::unique_ptr<std::atomic<TSlideMusicInfo*>[]> slides_;
  mutable std::mutex fillLock_;
  // What the records made later read with: the reader (which has forgotten
  // the main music), the bounds of comments that may play on, the show's
  // file names and clips.
  zm::TRef<TMusicOptionsReader> reader_;
  std::vector<std::int32_t> boundOf_;
  TMusicFileMap fileMap_;
  std::optional<TVideoClipIndex> clipIndex_;
  zm::TRef<TPlayList> mainList_;
};

// The music object of a list: its first object named "Music"; nil when none.
zm::TIniObject* FindMusicObject(const zm::TIniList* list);

}  // namespace oru
