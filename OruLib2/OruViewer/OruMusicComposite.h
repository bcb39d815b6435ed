#pragma once
// Composite tracks: audio files placed on a time line, each with a start
// inside the file, a length and volume envelopes, plus envelopes for the
// whole track. The text form (a fixed GUID followed by an ini document)
// travels wherever a music file name does; TCompositeConverter mixes the
// placed files into one PCM stream of the standard output format.
//
// Units: times in ms (signed 32-bit), volumes in per mille (1000 = unity),
// positions in bytes of the standard output format (whole 4-byte frames).
#include <cstdint>
#include <vector>

#include "ZmLib/Music/zmMediaInfo.h"
#include "ZmLib/Music/zmMusicChannel.h"
#include "ZmLib/Music/zmWavConverter.h"
#include "ZmLib/Win32/SysObj2.h"
#include "ZmLib/zmLists.h"
#include "ZmLib/zmTypes.h"

namespace zm {
class TIniFile;
class TMusicPlayer;
}  // namespace zm

namespace oru {

using zm::WideString;

// Every composite text starts with this.
extern const WideString kCompositeTrackGuid;

// floor(ms * 176400 / 4000) * 4: the frame start of a time.
std::int64_t CompositeTimeToPosition(std::int64_t ms);

// One key point of an envelope.
class TVolumeItem : public zm::TRefObject {
public:
  TVolumeItem(std::int32_t time, std::int32_t volume) : Time(time), Volume(volume) {}
  std::int32_t Time;    // ms
  std::int32_t Volume;  // per mille
};

// A compiled point: the segment that ends here.
struct TVolumeItem2 {
  std::int64_t Position = 0;
  double Slope = 0;  // gain change per frame over the segment
  bool IsLast = false;
  double Gain = 0;
  bool Flat = true;  // same volume as the previous point
};

class TVolumeParams : public zm::TRefObject {
public:
  void Dispose() override;

  void AddPoint(std::int32_t time, std::int32_t volume);
  // Builds Compiled from Points for an envelope of length ms. A sound that
  // ends before (SoundEnd, ms) has the envelope's fall to silence at its
  // end (its last point silent, the one before louder) moved back to end
  // there.
  void Compile(std::int32_t length, std::int32_t soundEnd = INT32_MAX);
  // The automatic envelope of an item of length ms whose sound ends at End
  // ms: a 10 ms fade in and out, each half of a sound shorter than 20 ms.
  void CompileEdges(std::int32_t length, std::int32_t end);
  void Seek(std::int64_t position);
  // For the frame starting at position: the gain change per frame of its
  // segment, whether the segment is flat, and whether the envelope is over.
  void Step(std::int64_t position, double& step, bool& flat, bool& ended);
  void SetGain(double g);
  // Points from sections [<name>_0], [<name>_1], ... (keys "0" time, "1"
  // volume) up to the first without a non-negative volume; false when none.
  bool Load(const zm::TIniFile& ini, const WideString& name);
  void Save(zm::TIniFile& ini, const WideString& name) const;

  std::vector<zm::TRef<TVolumeItem>> Points;
  std::vector<TVolumeItem2> Compiled;
  double Gain = 1.0;
  bool Unity = true;
  bool Automatic = false;

private:
  std::size_t FindSegment(std::int64_t position) const;
  std::size_t segment_ = 0;
};

// Envelopes whose gains multiply.
class TVolumeParamsList : public zm::TRefObject {
public:
  explicit TVolumeParamsList(bool autoFade) : AutoFade(autoFade) {}
  void Dispose() override;

  // A new empty envelope at the end; the list keeps it.
  TVolumeParams* Add();
  void Add(zm::TRef<TVolumeParams> envelope);
  void Clear();
  std::int32_t Count() const { return static_cast<std::int32_t>(Items.size()); }
  // Compiles every envelope; with AutoFade adds the 10 ms fade-in/out
  // envelope. With a sound that ends before the length (SoundEnd, ms) the
  // envelopes end where it does.
  void Compile(std::int32_t length, std::int32_t soundEnd = INT32_MAX);
  // The automatic envelope of an item of length ms whose sound ends at End
  // ms: a 10 ms fade in and out, each half of a sound shorter than 20 ms.
  void CompileEdges(std::int32_t length, std::int32_t end);
  void Seek(std::int64_t position);
  // Steps every envelope; true when all of them have ended.
  bool Step(std::int64_t position);
  // The product of the gains that are not unity.
  double Gain(bool& unity) const;
  // Envelopes [Vol_<section>_<k>_<j>] for k < FadeCount of [<section>] (0..1000000),
  // up to the first envelope without points.
  void Load(const zm::TIniFile& ini, const WideString& section);
  // Non-automatic envelopes with FadeCount; nothing when there are none.
  void Save(zm::TIniFile& ini, const WideString& section) const;

  const bool AutoFade;
  std::vector<zm::TRef<TVolumeParams>> Items;
};

class TCompositeItem : public zm::TRefObject {
public:
  TCompositeItem() : Volumes(zm::MakeRef<TVolumeParamsList>(true)) {}
  void Dispose() override;

  WideString FileName;
  std::int32_t TimeLine = 0;   // start on the track, ms
  std::int32_t BeginTime = 0;  // start inside the file, ms
  std::int32_t Duration = 0;   // ms; 0 = to the end of the file
  zm::TRef<TVolumeParamsList> Volumes;
};

// The playing form of an item.
class TCompositeItem2 : public TCompositeItem {
public:
  void Dispose() override;
  // Opens the file through the music player's stream procedures; false (and
  // nothing held) when it is missing, damaged or of no known format.
  bool Open(zm::TMusicPlayer* player);
  void Close();

  zm::TMusicPlayer* MusicPlayer = nullptr;  // not owned; only a context for the stream procedures
  zm::TStreamClosePair CloseWith{};
  zm::TRef<zm::TWavConverter> Converter;
  zm::TMediaInfo Info{};
  bool Opened = false;
  bool OpenFailed = false;
  bool Exhausted = false;
  zm::TStream* Stream = nullptr;
  std::int32_t BlockOffset = -1;
  // Where its envelopes' own fade ends, ms into the item: its length, or
  // the end of its file's sound when that comes first.
  std::int32_t FadeEndMs = INT32_MAX;

private:
  void CloseStream();
};

class TCompositeParams : public zm::TRefObject {
public:
  TCompositeParams() = default;
  void Dispose() override;

  // False unless the text yields a positive duration and at least one item.
  bool Parse(const WideString& text);
  // The GUID and the ini text; empty when there is nothing to write.
  WideString Save() const;
  // A new item; the list keeps it.
  TCompositeItem* AddItem(const WideString& fileName, std::int32_t timeLine);
  void RemoveItem(TCompositeItem* item);
  void Clear();
  // Created on first use.
  TVolumeParamsList* MainVolume();
  bool HasMainVolume() const { return mainVolume_ != nullptr; }

  std::int32_t Count() const { return static_cast<std::int32_t>(Items.size()); }
  TCompositeItem* Item(std::int32_t i) const { return Items[std::size_t(i)].get(); }

  std::vector<zm::TRef<TCompositeItem>> Items;
  std::int32_t Duration = 0;  // ms

protected:
  virtual zm::TRef<TCompositeItem> NewItem() const { return zm::MakeRef<TCompositeItem>(); }

private:
  bool ParseOne(const zm::TIniFile& ini, std::int64_t shift, std::int64_t& duration);
  zm::TRef<TVolumeParamsList> mainVolume_;
};

class TCompositeParams2 : public TCompositeParams {
protected:
  zm::TRef<TCompositeItem> NewItem() const override { return zm::MakeRef<TCompositeItem2>(); }
};

// Items in time-line order once sorted; Add clears the flag.
class TChannelList : public zm::TList {
public:
  std::int32_t Add(TCompositeItem2* item);
  void Sort();
  TCompositeItem2* Item(std::int32_t i) const { return static_cast<TCompositeItem2*>(Get(i)); }
  bool Sorted = false;
};

class TCompositeConverter : public zm::TWavConverter {
public:
  static constexpr std::int32_t kMixBytes = 10000;
  static constexpr std::int32_t kMixFrames = kMixBytes / 4;
  // An item whose file runs out within its length fades out over its last
  // frames of sound (10 ms), as a stop does.
  static constexpr std::int32_t kEndFadeFrames = 441;
  // Items starting this far ahead are opened early.
  static constexpr std::int32_t kLookAheadMs = 5000;

  TCompositeConverter(zm::TMusicPlayer* player, const WideString& description);
  void Dispose() override;

  void Seek(std::int64_t ms) override;
  bool Convert(zm::TLocalBuffer& buffer) override;
  // Nothing to read: every block is mixed by Convert.
  bool ReadInput() override { return true; }
  bool SetInputFormat(const zm::TMediaInfo& info) override;

  // Mixes the next block into MixOutput; false once the track is over.
  bool MixBlock();

  TChannelList& Pending() { return *pending_; }
  TChannelList& Waiting() { return *waiting_; }
  TChannelList& Active() { return *active_; }
  TChannelList& Finished() { return *finished_; }
  TCompositeParams2* Params() const { return params_.get(); }
  zm::TLocalBuffer& MixOutput() { return *mixOutput_; }
  std::int64_t Position() const { return position_; }
  const WideString& Description() const { return description_; }

private:
  void MixItem(TCompositeItem2* item);
  bool OpenAt(TCompositeItem2* item, std::int64_t fileMs);
  std::int64_t ItemEndMs(const TCompositeItem2* item) const;
  // How long the item's envelopes last: its duration, within the track.
  std::int32_t ItemLengthMs(const TCompositeItem2* item) const;
  void MoveTo(TCompositeItem2* item, TChannelList& from, TChannelList& to);

  WideString description_;
  zm::TMusicPlayer* musicPlayer_;
  zm::TRef<TCompositeParams2> params_;
  zm::TRef<TChannelList> pending_, waiting_, active_, finished_;
  zm::TRef<zm::TLocalBuffer> mixOutput_;
  zm::TRef<TVolumeParamsList> mainVolume_;
  std::int64_t position_ = 0;
  bool seeked_ = false;
  bool parsed_ = false;
  std::vector<std::int32_t> accumulator_;
};

// The three hooks of the audio side.
bool IsCompositeTrack(const WideString& text);
bool CompositeTrackInfo(const WideString& text, zm::TMediaInfo& info);
zm::TRef<zm::TWavConverter> CreateCompositeConverter(zm::TMusicPlayer* player, const WideString& text);

// Start-up and finalisation: set the hooks, and restore them.
void InitMusicComposite();
void FiniMusicComposite();

}  // namespace oru
