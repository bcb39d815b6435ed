#include "tests/support/kit/ShowBuilder.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "tests/support/kit/JpegWriter.h"

namespace zmtest {

namespace {

template <typename List>
void Put(List& keys, std::string_view name, std::string value) {
  for (auto& [k, v] : keys)
    if (k == name) {
      v = std::move(value);
      return;
    }
  keys.emplace_back(std::string(name), std::move(value));
}

template <typename List>
bool Erase(List& keys, std::string_view name) {
  for (auto it = keys.begin(); it != keys.end(); ++it)
    if (it->first == name) {
      keys.erase(it);
      return true;
    }
  return false;
}

template <typename List>
std::string Lookup(const List& keys, std::string_view name) {
  for (const auto& [k, v] : keys)
    if (k == name) return v;
  return {};
}

std::string Hex6(std::uint32_t rgb) { return std::to_string(rgb & 0xFFFFFFu); }

void PutLE(std::string& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

std::string ShowNumber(double value) {
  if (!std::isfinite(value)) return "0";
  if (value == std::floor(value) && std::fabs(value) < 1e15) return std::to_string(static_cast<long long>(value));
  char buf[40];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

std::string ShowRGB(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
  std::string s = std::to_string(r) + "," + std::to_string(g) + "," + std::to_string(b);
  if (a != 255) s += "," + std::to_string(a);
  return s;
}

std::string NewShowGuid() {
  static std::atomic<unsigned long long> counter{0};
  const unsigned long long n = ++counter;
  char buf[48];
  std::snprintf(buf, sizeof buf, "{5EB0C0DE-0000-4000-8000-%012llX}", n & 0xFFFFFFFFFFFFull);
  return buf;
}

int EffectFamilyNumber(std::string_view word) {
  static constexpr std::pair<std::string_view, int> kFamilies[] = {
      {"dissolve", 2}, {"quick", 3},  {"hourhand", 4}, {"shapes", 5},   {"gates", 6}, {"page", 7},
      {"mosaic", 8},   {"push", 9},   {"slide", 10},   {"curling", 11}, {"flip", 12}, {"swap", 13}};
  for (const auto& [w, n] : kFamilies)
    if (w == word) return n;
  return -1;
}

// ---- TShowObject ------------------------------------------------------------------------

TShowObject::TShowObject(std::string name, std::string type)
    : name_(std::move(name)), type_(std::move(type)), guid_(NewShowGuid()) {}

TShowObject& TShowObject::Key(std::string_view name, std::string_view value) {
  Put(keys_, name, std::string(value));
  return *this;
}

TShowObject& TShowObject::Pair(std::string_view name, double a, double b) {
  return Key(name, ShowNumber(a) + "," + ShowNumber(b));
}

TShowObject& TShowObject::Text(std::string_view name, std::string_view value) {
  return Key(name, TIniText::EscapeValue(value));
}

bool TShowObject::Remove(std::string_view name) { return Erase(keys_, name); }

TShowObject& TShowObject::SetGuid(std::string guid) {
  guid_ = std::move(guid);
  return *this;
}

TShowObject& TShowObject::Add(std::string name, std::string type) {
  children_.push_back(std::make_unique<TShowObject>(std::move(name), std::move(type)));
  return *children_.back();
}

TKeyPointBlock& TShowObject::KeyPoint(long long time, std::string_view origin) {
  auto kp = std::make_unique<TKeyPointBlock>(time, origin);
  TKeyPointBlock& ref = *kp;
  children_.push_back(std::move(kp));
  return ref;
}

std::string TShowObject::Value(std::string_view name) const {
  if (name == "GUID") return guid_;
  return Lookup(keys_, name);
}

void TShowObject::WriteKeys(TIniText& text) const {
  if (!guid_.empty()) text.Key("GUID", guid_);
  for (const auto& [k, v] : keys_) text.Key(k, v);
}

void TShowObject::WriteTo(TIniText& text) const {
  text.Object(name_, type_);
  WriteKeys(text);
  for (const auto& c : children_) c->WriteTo(text);
  text.End();
}

// ---- TKeyPointBlock --------------------------------------------------------------------

TKeyPointBlock::TKeyPointBlock(long long time, std::string_view origin) : TShowObject("KeyPoint", "KeyPoint") {
  Key("Origin", origin);
  Key("Time", time);
}

TKeyPointBlock& TKeyPointBlock::Set(int group, std::string_view key, std::string value) {
  mask_ |= 1 << group;
  Key(key, value);
  return *this;
}

TKeyPointBlock& TKeyPointBlock::Opacity(double percent) { return Set(0, "Opacity", ShowNumber(percent)); }
TKeyPointBlock& TKeyPointBlock::Position(double x, double y) {
  return Set(1, "Position", ShowNumber(x) + "," + ShowNumber(y));
}
TKeyPointBlock& TKeyPointBlock::ZPos(double z) { return Set(1, "ZPos", ShowNumber(z)); }
TKeyPointBlock& TKeyPointBlock::Scale(double x, double y) {
  Set(2, "ScaleX", ShowNumber(x));
  return Set(2, "ScaleY", ShowNumber(y));
}
TKeyPointBlock& TKeyPointBlock::Angle(double angle, double angleX, double angleY) {
  Set(3, "Angle", ShowNumber(angle));
  Set(3, "AngleX", ShowNumber(angleX));
  return Set(3, "AngleY", ShowNumber(angleY));
}
TKeyPointBlock& TKeyPointBlock::Center(double x, double y) {
  return Set(4, "CenterPos", ShowNumber(x) + "," + ShowNumber(y));
}
TKeyPointBlock& TKeyPointBlock::Blur(double amount) { return Set(5, "Blur", ShowNumber(amount)); }
TKeyPointBlock& TKeyPointBlock::Frame(double zoom, double offsX, double offsY) {
  Set(7, "Zoom", ShowNumber(zoom));
  Set(7, "OffsX", ShowNumber(offsX));
  return Set(7, "OffsY", ShowNumber(offsY));
}

TShowObject& TKeyPointBlock::ColorFilter(std::string name, std::string kind) {
  mask_ |= 1 << 6;
  return Add(std::move(name), std::move(kind));
}

TKeyPointBlock& TKeyPointBlock::Groups(int mask) {
  fixed_ = mask;
  return *this;
}

void TKeyPointBlock::WriteKeys(TIniText& text) const {
  TShowObject::WriteKeys(text);
  text.Key("grps", static_cast<long long>(GroupMask()));
}

// ---- TShowSection ------------------------------------------------------------------------

TShowSection& TShowSection::Key(std::string_view name, std::string_view value) {
  Put(keys_, name, std::string(value));
  return *this;
}

bool TShowSection::Remove(std::string_view name) { return Erase(keys_, name); }

TShowSection& TShowSection::Line(std::string raw) {
  lines_.push_back(std::move(raw));
  return *this;
}

TShowObject& TShowSection::Add(std::string name, std::string type) {
  objects_.push_back(std::make_unique<TShowObject>(std::move(name), std::move(type)));
  return *objects_.back();
}

TShowObject& TShowSection::Find(std::string_view name, std::string_view type) {
  for (auto& o : objects_)
    if (o->Name() == name) return *o;
  return Add(std::string(name), std::string(type));
}

std::string TShowSection::Value(std::string_view name) const { return Lookup(keys_, name); }

void TShowSection::WriteTo(TIniText& text, const std::vector<std::pair<std::string, std::string>>& defaults) const {
  text.Section(name_);
  for (const auto& [k, v] : defaults) {
    bool own = false;
    for (const auto& key : keys_) own = own || key.first == k;
    if (!own) text.Key(k, v);
  }
  for (const auto& [k, v] : keys_) text.Key(k, v);
  for (const auto& l : lines_) text.Line(l);
  for (const auto& o : objects_) o->WriteTo(text);
}

// ---- TShowSlide --------------------------------------------------------------------------

TShowSlide::TShowSlide(int index, long long end)
    : index_(index), end_(end), section_("Slide" + std::to_string(index + 1)) {}

TShowSlide& TShowSlide::Id(std::string_view id) {
  section_.Key("slideid", id);
  return *this;
}

TShowSlide& TShowSlide::Picture(std::string_view file) {
  section_.Key("Picture", file);
  return *this;
}

TShowSlide& TShowSlide::SolidBackground(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  section_.Key("bstyle", 1).Key("bcolor", Hex6((std::uint32_t(r) << 16) | (std::uint32_t(g) << 8) | b));
  return *this;
}

TShowSlide& TShowSlide::PictureBackground(std::string_view file, double sizePercent) {
  section_.Key("bstyle", 2).Key("bfn", file).Key("bsize", sizePercent);
  return *this;
}

TShowSlide& TShowSlide::GradientBackground(std::uint32_t rgb1, std::uint32_t rgb2, int style) {
  section_.Key("bstyle", 3).Key("bcolor1", Hex6(rgb1)).Key("bcolor2", Hex6(rgb2)).Key("bcolorstyle", style);
  return *this;
}

TShowObject& TShowSlide::Effect() { return section_.Find("TheEffect", "AnEffect"); }

TShowSlide& TShowSlide::Transition(std::string_view ref, long long time) {
  Effect().Key("ref", ref).Key("time", time);
  return *this;
}

TShowSlide& TShowSlide::EndAction(std::string_view action) {
  section_.Key("Pers_EndAction", action);
  return *this;
}

TShowSlide& TShowSlide::RunApp(std::string_view fileName) {
  section_.Key("Pers_RunApp", 1).Key("RunAppFN", fileName);
  return *this;
}

TShowObject& TShowSlide::Object(std::string name, std::string type) {
  return section_.Add(std::move(name), std::move(type));
}

TShowObject& TShowSlide::Image(std::string name, std::string_view file) {
  return Object(std::move(name), "Image").Key("ImageName", file);
}

TShowObject& TShowSlide::AniImage(std::string name, std::string_view file, int columns, int rows, int count) {
  return Object(std::move(name), "AniImage")
      .Key("ImageName", file)
      .Key("AnimEnable", 1)
      .Key("AnimColumns", columns)
      .Key("AnimRows", rows)
      .Key("AnimCount", count);
}

TShowObject& TShowSlide::Box(std::string name, double w, double h, std::string_view color) {
  return Object(std::move(name), "Box").Pair("Size", w, h).Key("Color1", color);
}

TShowObject& TShowSlide::Frame(std::string name, double w, double h) {
  return Object(std::move(name), "Frame").Pair("Size", w, h);
}

TShowObject& TShowSlide::Splitter(std::string name, double w, double h) {
  return Object(std::move(name), "Splitter").Pair("Size", w, h);
}

TShowObject& TShowSlide::TextObject(std::string name, std::string_view text) {
  return Object(std::move(name), "Text").Text("Text", text).Key("FontName", "DejaVu Sans");
}

TShowObject& TShowSlide::Button(std::string name, std::string_view caption, std::string_view action) {
  TShowObject& b = Object(std::move(name), "Button");
  if (!action.empty()) b.Key("Action", action);
  TShowObject& t = b.Add("Caption", "Text").Text("Text", caption).Key("FontName", "DejaVu Sans");
  t.KeyPoint(0).Opacity(100);
  return b;
}

TShowObject& TShowSlide::Video(std::string_view clipGuid) {
  // The player finds video objects by their name.
  return Object("Video", "Video").Key("ClipGUID", clipGuid);
}

TShowObject& TShowSlide::ViewPort(std::string name, double w, double h) {
  TShowObject& v = Object(std::move(name), "ViewPort").Pair("Size", w, h);
  v.Add("Stencil", "MaskStencil");
  v.Add("Content", "MaskContent");
  return v;
}

TShowObject& TShowSlide::Comment(std::string_view file, long long durationMs) {
  TShowObject& music = section_.Find("Music", "Music");
  return music.Add("Comment", "TSoundComment").Key("FileName", file).Key("Duration", durationMs);
}

// ---- TShowBuilder ------------------------------------------------------------------------

TShowBuilder::TShowBuilder() { Defaults(); }

TShowBuilder::TShowBuilder(std::string folder) : TShowProjectWriter(std::move(folder)) { Defaults(); }

void TShowBuilder::Defaults() {
  main_.Key("OruVersion", "5.0.1")
      .Key("MinorVersion", 13)
      .Key("opt_scr_width", 320)
      .Key("opt_scr_height", 240)
      .Key("opt_repeat", "close")
      .Key("opt_pausewheninactive", 0)
      .Key("ColorManagement", "");
}

TShowSection& TShowBuilder::Section(std::string_view name) {
  if (name == "main") return main_;
  if (name == "Times") return times_;
  if (name == "Tracks") return tracks_;
  for (auto& s : extra_)
    if (s->Name() == name) return *s;
  extra_.push_back(std::make_unique<TShowSection>(std::string(name)));
  return *extra_.back();
}

TShowBuilder& TShowBuilder::Repeat(std::string_view word) {
  main_.Key("opt_repeat", word);
  return *this;
}

TShowBuilder& TShowBuilder::ScreenSize(int width, int height) {
  main_.Key("opt_scr_width", width).Key("opt_scr_height", height);
  return *this;
}

TShowBuilder& TShowBuilder::HiderColor(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  main_.Key("opt_scr_hidercolor", (std::uint32_t(b) << 16) | (std::uint32_t(g) << 8) | r);
  return *this;
}

TShowObject& TShowBuilder::MainEffect() {
  TShowObject& e = main_.Find("TheEffect", "AnEffect");
  if (e.Value("time").empty()) e.Key("time", 2000);
  return e;
}

TShowObject& TShowBuilder::AddEffect(std::string_view word, double smoothline) {
  TShowObject& e = MainEffect().Add(std::string(word), "AnEffect");
  e.Key("caption", word).Key("checked", 1);
  if (int family = EffectFamilyNumber(word); family >= 0) e.Key("stdidx", family);
  if (smoothline > 0) e.Key("smoothline", smoothline);
  return e;
}

TShowSlide& TShowBuilder::AddSlide(long long end) {
  slides_.push_back(std::make_unique<TShowSlide>(static_cast<int>(slides_.size()), end));
  return *slides_.back();
}

TShowObject& TShowBuilder::VideoClip(std::string_view file, long long durationMs) {
  return tracks_.Add("VideoClip", "VideoClip")
      .Key("ClipGUID", NewShowGuid())
      .Key("FileName", file)
      .Key("Duration", durationMs)
      .Key("StartVideoTime", 0)
      .Key("StartORUTime", 0)
      .Key("FPSMultiplier", 1);
}

TShowObject& TShowBuilder::Music() { return main_.Find("Music", "Music"); }

TShowObject& TShowBuilder::MusicItem(std::string_view file, long long durationMs) {
  TShowObject& music = Music();
  TShowObject* track = nullptr;
  for (std::size_t i = 0; i < music.ChildCount() && !track; ++i)
    if (music.Child(i).Type() == "TMusicTrack") track = &music.Child(i);
  if (!track) track = &music.Add("T1", "TMusicTrack");
  const std::string name = "I" + std::to_string(track->ChildCount() + 1);
  return track->Add(name, "TMusicItem").Key("FileName", file).Key("Duration", durationMs).Key("Volume", 100);
}

TShowBuilder& TShowBuilder::MapFile(std::string_view name, std::string_view target) {
  Section("FileMap").Line("\"" + std::string(name) + "\"=\"" + std::string(target) + "\"");
  return *this;
}

void TShowBuilder::AddJpeg(std::string name, int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  TJpegOptions opts;
  opts.Width = w;
  opts.Height = h;
  opts.FullChroma = true;
  opts.Quality = 100;
  opts.Pixel = [r, g, b](int, int, std::uint8_t* c) {
    c[0] = r;
    c[1] = g;
    c[2] = b;
  };
  AddFile(std::move(name), WriteJpeg(opts));
}

void TShowBuilder::AddBmp(std::string name, int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  // 24-bit, bottom-up rows padded to four bytes.
  const std::uint32_t stride = (static_cast<std::uint32_t>(w) * 3 + 3) & ~3u;
  const std::uint32_t pixels = stride * static_cast<std::uint32_t>(h);
  std::string out = "BM";
  PutLE(out, 54 + pixels, 4);
  PutLE(out, 0, 4);
  PutLE(out, 54, 4);
  PutLE(out, 40, 4);
  PutLE(out, static_cast<std::uint32_t>(w), 4);
  PutLE(out, static_cast<std::uint32_t>(h), 4);
  PutLE(out, 1, 2);
  PutLE(out, 24, 2);
  PutLE(out, 0, 4);
  PutLE(out, pixels, 4);
  PutLE(out, 2835, 4);
  PutLE(out, 2835, 4);
  PutLE(out, 0, 4);
  PutLE(out, 0, 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      out.push_back(static_cast<char>(b));
      out.push_back(static_cast<char>(g));
      out.push_back(static_cast<char>(r));
    }
    out.append(stride - static_cast<std::uint32_t>(w) * 3, '\0');
  }
  AddFile(std::move(name), std::move(out));
}

std::string TShowBuilder::Render() {
  // Counts and ends follow the slides; keys set on Times() win (damaged shows).
  std::vector<std::pair<std::string, std::string>> times = {{"opt_slidescount", std::to_string(slides_.size())}};
  for (const auto& s : slides_)
    times.emplace_back("opt_synchpos" + std::to_string(s->Index() + 1), std::to_string(s->End()));
  TIniText text;
  main_.WriteTo(text);
  times_.WriteTo(text, times);
  tracks_.WriteTo(text);
  for (const auto& s : slides_) s->Section().WriteTo(text);
  for (const auto& s : extra_) s->WriteTo(text);
  Description() = text;
  return text.Bytes(true);
}

const std::string& TShowBuilder::Write() {
  Render();
  return TShowProjectWriter::Write();
}

void TShowBuilder::AddToContainer(TShowContainerWriter& container, int fileMethod) {
  Render();
  TShowProjectWriter::AddToContainer(container, fileMethod);
}

}  // namespace zmtest
