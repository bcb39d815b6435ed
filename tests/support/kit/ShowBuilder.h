#pragma once
// Test shows from a few lines of C++: slides with objects of every kind,
// key frames, backgrounds, transitions, video clips and music, written as
// a show project (or into a container) by the show-project writer.
//
//   zmtest::TShowBuilder show;
//   auto& s = show.AddSlide(3000).SolidBackground(0x20, 0x40, 0x60).Transition("dissolve", 500);
//   s.Image("Photo", "a.jpg").KeyPoint(0).Opacity(0).Position(-10, 5);
//   show.AddJpeg("a.jpg", 32, 24, 200, 100, 50);
//   show.Write();
//
// Conventions the player relies on:
// - every object block gets a unique "GUID" (KeyPoint and TheEffect too);
// - KeyPoint, Music, Video and VideoClip blocks are named like their type;
// - each key keeps its own colour form: slide "bcolor" is 0xRRGGBB, the
//   main "opt_scr_hidercolor" is 0x00BBGGRR, object colours are "R,G,B[,A]";
// - transition entries of `main` carry their family number "stdidx"
//   (dissolve 2, quick 3, hourhand 4 ... swap 13).
// New shows are small (320 x 240), never pause when inactive, and have
// colour management off, so pictures keep their exact colours.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "tests/support/kit/ShowProjectWriter.h"

namespace zmtest {

// A number as the player writes it: integers without a point, others in
// their shortest exact form.
std::string ShowNumber(double value);
// "R,G,B" or "R,G,B,A" (A written when below 255).
std::string ShowRGB(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255);
// A fresh "{XXXXXXXX-XXXX-4XXX-8XXX-XXXXXXXXXXXX}", unique in the process.
std::string NewShowGuid();
// The family number ("stdidx") of a transition word; -1 for others.
int EffectFamilyNumber(std::string_view word);

class TKeyPointBlock;

// One "object Name:Type" block with its keys and child blocks.
class TShowObject {
public:
  TShowObject(std::string name, std::string type);
  virtual ~TShowObject() = default;
  TShowObject(const TShowObject&) = delete;
  TShowObject& operator=(const TShowObject&) = delete;

  // A key written as given; a second call for one name replaces the value.
  TShowObject& Key(std::string_view name, std::string_view value);
  TShowObject& Key(std::string_view name, const char* value) { return Key(name, std::string_view(value)); }
  TShowObject& Key(std::string_view name, const std::string& value) { return Key(name, std::string_view(value)); }
  TShowObject& Key(std::string_view name, double value) { return Key(name, std::string_view(ShowNumber(value))); }
  template <typename T>
    requires std::is_integral_v<T>
  TShowObject& Key(std::string_view name, T value) {
    return Key(name, std::string_view(std::to_string(value)));
  }
  // "a,b".
  TShowObject& Pair(std::string_view name, double a, double b);
  // A string value escaped as the player reads it ("\n" for line breaks).
  TShowObject& Text(std::string_view name, std::string_view value);
  // Removes a key (to write objects that lack one); false when absent.
  bool Remove(std::string_view name);
  // Replaces the GUID (duplicates, odd forms); empty writes no GUID key.
  TShowObject& SetGuid(std::string guid);

  // A child block, appended after the existing ones.
  TShowObject& Add(std::string name, std::string type);
  // A key frame at Time (ms) counted from Origin ("SlideBegin",
  // "PrevEffectEnd", "NextEffectBegin", "SlideEnd").
  TKeyPointBlock& KeyPoint(long long time, std::string_view origin = "SlideBegin");

  const std::string& Name() const { return name_; }
  const std::string& Type() const { return type_; }
  const std::string& Guid() const { return guid_; }
  // The value of a key as written; empty when absent.
  std::string Value(std::string_view name) const;
  std::size_t ChildCount() const { return children_.size(); }
  TShowObject& Child(std::size_t i) const { return *children_.at(i); }

  void WriteTo(TIniText& text) const;

protected:
  virtual void WriteKeys(TIniText& text) const;

private:
  std::string name_;
  std::string type_;
  std::string guid_;
  std::vector<std::pair<std::string, std::string>> keys_;
  std::vector<std::unique_ptr<TShowObject>> children_;
};

// A "KeyPoint" block. Each setter also sets its group bit in "grps"
// (Opacity 1, Pos 2, Scale 4, Angle 8, Center 16, Blur 32, Color 64,
// Frame 128) unless Groups fixed the mask. Values are in the stored units:
// per cent, degrees.
class TKeyPointBlock : public TShowObject {
public:
  TKeyPointBlock(long long time, std::string_view origin);

  TKeyPointBlock& Opacity(double percent);
  TKeyPointBlock& Position(double x, double y);
  TKeyPointBlock& ZPos(double z);
  TKeyPointBlock& Scale(double x, double y);
  TKeyPointBlock& Angle(double angle, double angleX = 0, double angleY = 0);
  TKeyPointBlock& Center(double x, double y);
  TKeyPointBlock& Blur(double amount);  // negative sharpens
  TKeyPointBlock& Frame(double zoom, double offsX, double offsY);
  // A colour filter of this key frame ("Filter" child of the given kind).
  TShowObject& ColorFilter(std::string name, std::string kind);
  // Writes exactly this mask (damaged and partial masks).
  TKeyPointBlock& Groups(int mask);
  int GroupMask() const { return fixed_ >= 0 ? fixed_ : mask_; }

protected:
  void WriteKeys(TIniText& text) const override;

private:
  TKeyPointBlock& Set(int group, std::string_view key, std::string value);
  int mask_ = 0;
  int fixed_ = -1;
};

// One section: keys, raw lines and object blocks, written in that order.
class TShowSection {
public:
  explicit TShowSection(std::string name) : name_(std::move(name)) {}
  TShowSection(const TShowSection&) = delete;
  TShowSection& operator=(const TShowSection&) = delete;

  TShowSection& Key(std::string_view name, std::string_view value);
  TShowSection& Key(std::string_view name, const char* value) { return Key(name, std::string_view(value)); }
  TShowSection& Key(std::string_view name, const std::string& value) { return Key(name, std::string_view(value)); }
  TShowSection& Key(std::string_view name, double value) { return Key(name, std::string_view(ShowNumber(value))); }
  template <typename T>
    requires std::is_integral_v<T>
  TShowSection& Key(std::string_view name, T value) {
    return Key(name, std::string_view(std::to_string(value)));
  }
  bool Remove(std::string_view name);
  TShowSection& Line(std::string raw);
  TShowObject& Add(std::string name, std::string type);
  // The first block of that name, added with the type when missing.
  TShowObject& Find(std::string_view name, std::string_view type);

  const std::string& Name() const { return name_; }
  std::string Value(std::string_view name) const;
  // Defaults are written first, each unless the section sets that key.
  void WriteTo(TIniText& text, const std::vector<std::pair<std::string, std::string>>& defaults = {}) const;

private:
  std::string name_;
  std::vector<std::pair<std::string, std::string>> keys_;
  std::vector<std::string> lines_;
  std::vector<std::unique_ptr<TShowObject>> objects_;
};

// One slide: its section "Slide<n>" and the end of its span ("opt_synchpos<n>").
class TShowSlide {
public:
  TShowSlide(int index, long long end);

  int Index() const { return index_; }  // 0-based
  long long End() const { return end_; }
  TShowSection& Section() { return section_; }
  const TShowSection& Section() const { return section_; }

  TShowSlide& Id(std::string_view id);                     // "slideid"
  TShowSlide& Picture(std::string_view file);              // "Picture"
  TShowSlide& SolidBackground(std::uint8_t r, std::uint8_t g, std::uint8_t b);  // bstyle 1
  TShowSlide& PictureBackground(std::string_view file, double sizePercent = 100);  // bstyle 2
  // bstyle 3; Style is "bcolorstyle" (1 and 2 are the two gradient kinds).
  TShowSlide& GradientBackground(std::uint32_t rgb1, std::uint32_t rgb2, int style);
  // The slide's "TheEffect": Ref is a main entry word or "default",
  // "defowntime", "quick"; Time in ms.
  TShowSlide& Transition(std::string_view ref, long long time);
  TShowObject& Effect();
  TShowSlide& EndAction(std::string_view action);  // "timer", "pause", "loop"
  TShowSlide& RunApp(std::string_view fileName);

  // Objects on the slide (base keys only; add the kind's keys to the result).
  TShowObject& Object(std::string name, std::string type);
  TShowObject& Image(std::string name, std::string_view file);
  TShowObject& AniImage(std::string name, std::string_view file, int columns, int rows, int count);
  TShowObject& Box(std::string name, double w, double h, std::string_view color = "255,255,255");
  TShowObject& Frame(std::string name, double w, double h);
  TShowObject& Splitter(std::string name, double w, double h);
  // Lines of Text become paragraphs (escaped as "\n").
  TShowObject& TextObject(std::string name, std::string_view text);
  // The button's first child is its caption, a Text with one key frame.
  TShowObject& Button(std::string name, std::string_view caption, std::string_view action = "");
  // A "Video" object playing the clip of [Tracks] with that "ClipGUID".
  TShowObject& Video(std::string_view clipGuid);
  // A ViewPort with its MaskStencil and MaskContent children (empty ones).
  TShowObject& ViewPort(std::string name, double w, double h);
  // The slide's voice comment (its "Music" block with a TSoundComment).
  TShowObject& Comment(std::string_view file, long long durationMs);

private:
  int index_;
  long long end_;
  TShowSection section_;
};

class TShowBuilder : public TShowProjectWriter {
public:
  // Into a fresh temporary folder, or into the caller's folder.
  TShowBuilder();
  explicit TShowBuilder(std::string folder);

  TShowSection& Main() { return main_; }
  TShowSection& Times() { return times_; }
  TShowSection& Tracks() { return tracks_; }
  TShowSection& Section(std::string_view name);  // any other section, made when missing

  TShowBuilder& Repeat(std::string_view word);  // "repeat", "close", "stop"
  TShowBuilder& ScreenSize(int width, int height);
  TShowBuilder& HiderColor(std::uint8_t r, std::uint8_t g, std::uint8_t b);  // 0x00BBGGRR
  // The main "TheEffect" block ("time" 2000 unless set).
  TShowObject& MainEffect();
  // A transition entry of the main effect, named by its word, with its
  // "stdidx" (for family words), "checked=1" and "smoothline".
  TShowObject& AddEffect(std::string_view word, double smoothline = 0);

  // A slide ending at End (ms of show time); ends should rise.
  TShowSlide& AddSlide(long long end);
  std::size_t SlideCount() const { return slides_.size(); }
  TShowSlide& Slide(std::size_t i) { return *slides_.at(i); }

  // A [Tracks] clip: "VideoClip" block with a fresh "ClipGUID".
  TShowObject& VideoClip(std::string_view file, long long durationMs);
  // The show's music block ("Music" in `main`).
  TShowObject& Music();
  // A music item in the first track of the music block (made when missing).
  TShowObject& MusicItem(std::string_view file, long long durationMs);
  // A "FileMap" line: Name opens Target.
  TShowBuilder& MapFile(std::string_view name, std::string_view target);

  // Pictures of one colour (a BMP decodes once a BMP loader is registered).
  void AddJpeg(std::string name, int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b);
  void AddBmp(std::string name, int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b);

  // The description as the builder holds it (also put into Description()).
  std::string Render();
  // Render, then the writer's own Write / AddToContainer.
  const std::string& Write();
  void AddToContainer(TShowContainerWriter& container, int fileMethod = kEnciphered);

private:
  void Defaults();

  TShowSection main_{"main"};
  TShowSection times_{"Times"};
  TShowSection tracks_{"Tracks"};
  std::vector<std::unique_ptr<TShowSection>> extra_;
  std::vector<std::unique_ptr<TShowSlide>> slides_;
};

}  // namespace zmtest
