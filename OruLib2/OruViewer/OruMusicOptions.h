#pragma once
// TMusicOptionsReader: turns one "Music" object of the show description (the
// show's main music or one slide's) into a composite track. It lays the
// music items on a time line (sequencing, cross-fades, pauses, links to the
// slides' synchronisation points), builds their volume envelopes, and for a
// slide builds the voice-comment track, mixed with the sound of the slide's
// video clips.
//
// Times are milliseconds (signed 32-bit on the track), volumes per mille.
// The laid-out items stay readable (MainItems, CommentItems) beside the
// composite texts made from them.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "OruLib2/OruClasses/zmOruSource2.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmIni.h"
#include "ZmLib/zmTypes.h"

namespace oru {

using zm::WideString;

// The longest a placed sound may be; also "no limit" of an item.
constexpr std::int32_t kMusicNoLimit = 2147483647;
// Frames per second of "VolumeParams" frame numbers (the standard output rate).
constexpr double kMusicParamsRate = 44100.0;

// A key point of a volume envelope, relative to the item's start.
struct TMusicVolumePoint {
  std::int32_t Time = 0;    // ms
  std::int32_t Volume = 0;  // per mille
  friend bool operator==(const TMusicVolumePoint&, const TMusicVolumePoint&) = default;
};
using TMusicEnvelope = std::vector<TMusicVolumePoint>;

// One file placed on a composite track.
struct TPlacedSound {
  WideString FileName;
  std::int32_t TimeLine = 0;              // start on the track
  std::int32_t BeginTime = 0;             // start inside the file
  std::int32_t Duration = 0;              // always positive here
  std::vector<TMusicEnvelope> Envelopes;  // their gains multiply
};

// The sound of one video clip of a slide, placed relative to the slide start.
struct TClipSound {
  WideString FileName;
  std::int32_t TimeLine = 0;
  std::int32_t BeginTime = 0;
  std::int32_t Duration = 0;
  double Volume = 1.0;
};

// The composite text of placed sounds on a track of that length; empty when
// nothing is placed or the length is not positive.
WideString ComposeMusicTrack(const std::vector<TPlacedSound>& items, std::int32_t duration);

// "VolumeParams" text ("frame:gain16.16" pairs, comma-separated) as an
// envelope relative to the item: times measured from beginTime, strictly
// rising, cut at duration with the value interpolated there. Pairs that do
// not parse are skipped.
TMusicEnvelope ParseMusicVolumeParams(const WideString& text, std::int32_t beginTime, std::int32_t duration);

// Turns a stored clip file name into the name to open (the show's file map).
using TMusicFileMap = std::function<WideString(const WideString&)>;

// The "VideoClip" entries of [Tracks] by "ClipGUID" (letter case ignored; the
// first entry of a GUID counts), so that shows with many clips stay linear.
class TVideoClipIndex {
 public:
  explicit TVideoClipIndex(const zm::TIniFile* ini);
  // Nil when no entry has that GUID.
  const zm::TIniList* Find(const WideString& guid) const;

 private:
  std::unordered_map<WideString, const zm::TIniList*> clips_;
};

class TMusicOptionsReader : public zm::TRefObject {
 public:
  // Without a document the reader knows no synchronisation points and no
  // links (comments and unlinked items still read). A document given stays
  // while the reader is used: the slides' links are read from it when an
  // item first asks for one.
  explicit TMusicOptionsReader(const zm::TIniFile* ini = nullptr);

  // Builds the main track and the voice comment of a "Music" object (nil:
  // the comment from the clips alone). Every result is replaced.
  void Read(const zm::TIniList* music, std::span<const TClipSound> linkedClips = {});

  // The sound records of the video clips of one slide section ("Slide<N>"),
  // appended to records. slides is the show's slide time table. Without an
  // index of the show's clips one is made when the slide needs it.
  static void CollectClipSound(const zm::TIniFile* ini, std::span<const TSlideSpan> slides,
                               const zm::TIniList* slideObject, std::vector<TClipSound>& records,
                               const TMusicFileMap& fileMap = {}, const TVideoClipIndex* clipIndex = nullptr);
  // The same with the slide count and each slide's own transition length
  // (0-based index) asked for only where a clip needs it.
  static void CollectClipSound(const zm::TIniFile* ini, std::int32_t slideCount,
                               const std::function<double(std::int32_t)>& ownLength,
                               const zm::TIniList* slideObject, std::vector<TClipSound>& records,
                               const TMusicFileMap& fileMap = {}, const TVideoClipIndex* clipIndex = nullptr);

  // ---- Results ------------------------------------------------------------------------
  const WideString& MainText() const { return mainText_; }
  std::int32_t MainLength() const { return mainLength_; }
  const std::vector<TPlacedSound>& MainItems() const { return mainItems_; }
  bool IsRepeat() const { return isRepeat_; }
  std::int32_t MuteVolume() const { return muteVolume_; }
  const WideString& CommentText() const { return commentText_; }
  std::int32_t CommentLength() const { return commentLength_; }
  const std::vector<TPlacedSound>& CommentItems() const { return commentItems_; }
  // The longest the voice comment may sound (0: no limit); set before Read.
  std::int32_t CommentLimit = 0;

  // The slides' synchronisation points, read from the document when first
  // asked for (a show whose music links to no slide never needs them).
  const std::vector<std::int32_t>& SyncPositions() const;
  // The 0-based index of the slide that links an item GUID; -1 when none.
  std::int32_t LinkedSlide(const WideString& guid) const;
  const std::vector<WideString>& FileNames() const { return fileNames_; }

 private:
  void ReadComment(const zm::TIniObject* comment, std::span<const TClipSound> clips);
  // Fills linkedAudio_ on the first look-up (one thread uses a reader).
  void ReadLinkedAudio() const;

  mutable std::vector<std::int32_t> syncPositions_{0};
  mutable const zm::TIniFile* timesIni_ = nullptr;  // until the points are read; outlives the reader
  mutable const zm::TIniFile* ini_ = nullptr;  // until the links are read; outlives the reader
  mutable std::unordered_map<WideString, std::int32_t> linkedAudio_;  // upper-case GUID without braces
  std::vector<WideString> fileNames_;
  WideString mainText_;
  std::int32_t mainLength_ = 0;
  std::vector<TPlacedSound> mainItems_;
  bool isRepeat_ = false;
  std::int32_t muteVolume_ = 100;
  WideString commentText_;
  std::int32_t commentLength_ = 0;
  std::vector<TPlacedSound> commentItems_;
};

}  // namespace oru
