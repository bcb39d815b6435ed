#include "OruLib2/OruClasses/OruFileAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/zmStreamUtils.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/zmHookScope.h"
#include "ZmLib/zmLog.h"
#include "ZmLib/zmTempFiles.h"
#include "tests/support/EnvGuard.h"
#include "tests/ZmLib/VectorGraphics/FakeVectorizer.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/JpegWriter.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;
using namespace oru;
using zmtest::ReadAllBytes;

namespace {

// A source over a map of names to contents.
class TMapSource : public TFileSource {
public:
  std::vector<std::pair<WideString, std::string>> files;
  TStream* OpenFile(const WideString& name) override {
    for (const auto& [n, bytes] : files)
      if (n == name) return zmtest::MemoryStreamOf(bytes).Detach();
    return nullptr;
  }
};

std::string ReadAndFree(TStream* stream) {
  if (!stream) return "(nil)";
  TRef<TStream> held = TRef<TStream>::Adopt(stream);
  return ReadAllBytes(stream);
}

// Restores the global path variables after a test replaced them.
class FileAccess : public ::testing::Test {
protected:
  void SetUp() override { saved_ = GetPathVars(); }
  void TearDown() override { SetPathVars(saved_); }
  TPathVarTable saved_;
  zmtest::TTempDir dir_;
  zmtest::TEnvGuard env_;
};

TEST_F(FileAccess, AccessorReadsThroughTheCallbackWindow) {
  EXPECT_THROW(MakeRef<TFileAccessor>(nullptr), Exception);
  TRef<TMapSource> source = MakeRef<TMapSource>();
  source->files.push_back({u"a.txt", "hello"});
  TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(source.get());
  TStream* stream = accessor->OpenFile(u"a.txt");
  auto* partial = dynamic_cast<TPartialStream*>(stream);
  ASSERT_NE(partial, nullptr);
  EXPECT_EQ(partial->BlockSize(), TPartialStream::kCallbackBlockSize);
  EXPECT_EQ(ReadAndFree(stream), "hello");
  EXPECT_EQ(accessor->OpenFile(u"b.txt"), nullptr);
}

TEST_F(FileAccess, RealFilesByNameVariablesAndBaseFolder) {
  dir_.Write("vars/a.ini", "a");
  dir_.Write("base/b.ini", "b");
  TPathVarTable table;
  RegisterPathVar(table, u"%Mine%", dir_.Wide("vars") + u"\\", true);
  SetPathVars(table);
  TRef<TFileAccessor> accessor = CreateRealFileAccessor();
  accessor->SetBaseFolder(dir_.Wide("base") + u"\\");
  // The name before a "|"; never a folder.
  EXPECT_EQ(ReadAndFree(accessor->OpenFile(dir_.Wide("vars/a.ini") + u"|frames")), "a");
  for (const WideString& none : {dir_.Wide("vars/none.ini"), dir_.Wide("vars"), WideString(), WideString(u"|")})
    EXPECT_EQ(accessor->OpenFile(none), nullptr) << plat::ToUtf8(none);

  WideString name = u"C:\\Somewhere\\Else\\b.ini";
  EXPECT_TRUE(accessor->FindRealFile(name));
  EXPECT_EQ(name, dir_.Wide("base/b.ini"));
  name = u"nothing.ini";
  EXPECT_FALSE(accessor->FindRealFile(name));
  EXPECT_EQ(name, u"nothing.ini");
}

TEST_F(FileAccess, FolderMacros) {
  env_.Set("XDG_CONFIG_HOME", "/conf");
  env_.Set("XDG_DATA_HOME", "/data");
  env_.Set("XDG_DATA_DIRS", "relative/share:/machine:/opt/share");
  env_.Set("TMPDIR", dir_.Path().string());
  env_.Unset("SYSTEMROOT");
  env_.Unset("WINDIR");
  auto expand = [](WideString path, bool onlyAtStart = false) {
    bool replaced = ExpandFolderMacros(path, onlyAtStart);
    return (replaced ? u"+" : u"-") + path;
  };
  // The "\" after the macro is part of the replacement; letter case is ignored.
  EXPECT_EQ(expand(u"%APPDATA%\\file.txt"), u"+\\conf\\file.txt");
  EXPECT_EQ(expand(u"%AppData%file.txt"), u"+\\conf\\file.txt");
  EXPECT_EQ(expand(u"%LOCALAPPDATA%\\Tavrel"), u"+\\data\\Tavrel");
  EXPECT_EQ(expand(u"%TEMP%"), u"+" + dir_.Wide() + u"\\");
  // Anywhere in the text unless only the start counts.
  EXPECT_EQ(expand(u"x\\%APPDATA%\\y\\%PROGRAMDATA%"), u"+x\\\\conf\\y\\\\machine\\");
  EXPECT_EQ(expand(u"%APPDATA%%PROGRAMDATA%z", true), u"+\\conf\\\\machine\\z");
  // Unknown, unclosed, too short, too long or non-ASCII tokens stay.
  for (const char16_t* kept : {u"%WINDIR%\\x", u"%APPDATA", u"%", u"%ABCDEFGHIJKLM%", u"%APPDATA\u00C9%"})
    EXPECT_EQ(expand(kept), u"-" + WideString(kept)) << plat::ToUtf8(kept);
  // A token of 15 characters is passed over; a macro after it still counts.
  EXPECT_EQ(expand(u"%ABCDEFGHIJKLMN%TEMP%"), u"+%ABCDEFGHIJKLMN" + GetTempDir(true));

  // Relative or missing XDG values: below the home folder, else the
  // environment, else the macro and its "\" go.
  env_.Set("XDG_CONFIG_HOME", "conf");
  env_.Set("HOME", "/home/me");
  EXPECT_EQ(GetSpecialFolder(plat::CSIDL_APPDATA), u"\\home\\me\\.config\\");
  env_.Unset("XDG_CONFIG_HOME");
  env_.Unset("XDG_DATA_HOME");
  env_.Unset("HOME");
  env_.Set("APPDATA", "/roaming");
  EXPECT_EQ(expand(u"%LOCALAPPDATA%\\x", true), u"+\\roaming\\x");
  env_.Unset("APPDATA");
  EXPECT_EQ(expand(u"%APPDATA%\\x", true), u"+x");
}

TEST_F(FileAccess, PathVariables) {
  env_.Set("XDG_DATA_HOME", "/data");
  TPathVarTable table;
  RegisterPathVar(table, u"%Mine%", u"rel\\sub\\", false);
  RegisterPathVar(table, u"%MINE%", u"%LOCALAPPDATA%\\Tavrel\\", true);
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table[0].name, u"%mine%");
  EXPECT_EQ(table[0].path, ProgramDir + u"rel\\sub");
  EXPECT_EQ(table[1].path, u"\\data\\Tavrel");

  dir_.Write("first/both.txt", "1");
  dir_.Write("second/both.txt", "2");
  dir_.Write("third/only3.txt", "3");
  table.clear();
  RegisterPathVar(table, u"%v%", dir_.Wide("first"), false);
  RegisterPathVar(table, u"%v%", dir_.Wide("second"), true);
  RegisterPathVar(table, u"%v%", dir_.Wide("third"), false);
  RegisterPathVar(table, u"%w%", dir_.Wide("w%v%"), true);  // holds a token itself
  SetPathVars(table);
  // The first entry whose file exists; else the default; others skipped.
  EXPECT_EQ(ExpandPathVars(u"%V%\\both.txt"), dir_.Wide("first/both.txt"));
  EXPECT_EQ(ExpandPathVars(u"%v%\\only3.txt"), dir_.Wide("third/only3.txt"));
  EXPECT_EQ(ExpandPathVars(u"%v%\\none.txt"), dir_.Wide("second/none.txt"));
  // The part before "|" decides; unknown tokens stay; the inserted path is not scanned again.
  EXPECT_EQ(ExpandPathVars(u"%v%\\only3.txt|frames"), dir_.Wide("third/only3.txt") + u"|frames");
  EXPECT_EQ(ExpandPathVars(u"%x%\\a%v%\\b"), u"%x%\\a" + dir_.Wide("second") + u"\\b");
  EXPECT_EQ(ExpandPathVars(u"%w%\\f"), dir_.Wide("w%v%") + u"\\f");
  EXPECT_EQ(ExpandPathVars(u"%%"), u"%%");
  EXPECT_FALSE(FileExistsExpanded(u"%v%\\none.txt"));
  // The real source opens through the variables.
  EXPECT_EQ(ReadAndFree(CreateRealFileAccessor()->OpenFile(u"%v%\\both.txt|frames")), "1");
}

// Pictures of ".fat" files: "<width>x<height>" in the file; anything else
// is refused with an exception. Decodes are counted.
std::atomic<int> gDecodes{0};

TRef<TBitmapStore> LoadFakePicture(TStream* stream, const WideString& fileName, bool ownsStream,
                                   const TImageLoadHandler& handler) {
  std::string text = ReadAllBytes(stream);
  int w = 0, h = 0;
  if (std::sscanf(text.c_str(), "%dx%d", &w, &h) != 2 || w < 1 || h < 1 || w > 256 || h > 256)
    throw EStreamReadError();
  ++gDecodes;
  TRef<TDirectBitmap> bitmap = MakeRef<TDirectBitmap>(w, PixelFormatByName(TByteString(PF_A8R8G8B8)), h);
  bitmap->FillRect({0, 0, w, h}, TColor32{1, 2, 3, 255});
  TRef<TBitmapStore> store = MakeRef<TWrapperBitmapStore>(fileName, handler, false, bitmap.get());
  if (ownsStream) stream->ReleaseRef();
  return store;
}

TColor32 PixelAt(TImage* image, std::int32_t x, std::int32_t y) {
  TBitmap* bitmap = image->Store()->GetMipLevel(0, PixelFormatByName(TByteString(PF_A8R8G8B8)), nullptr);
  std::uint32_t pixel = 0;
  bitmap->GetPixels32(std::span<std::uint32_t>(&pixel, 1), 0, x, y, 1);
  return TColor32::FromValue(pixel);
}

class Pictures : public FileAccess {
protected:
  void SetUp() override {
    FileAccess::SetUp();
    RegisterImageLoader(&LoadFakePicture, {u".fat"});
    gDecodes = 0;
    liveBefore_ = LiveImageHandleCount();
  }
  void TearDown() override {
    UnregisterImageLoader(&LoadFakePicture);
    EXPECT_EQ(LiveImageHandleCount(), liveBefore_);
    FileAccess::TearDown();
  }
  TRef<TMapSource> Source(std::initializer_list<std::pair<WideString, std::string>> files) {
    TRef<TMapSource> source = MakeRef<TMapSource>();
    source->files = files;
    return source;
  }
  std::int32_t liveBefore_ = 0;
};

TEST_F(Pictures, OneSourceSharesOnePictureTwoSourcesKeepTwo) {
  TRef<TMapSource> one = Source({{u"a.fat", "8x6"}, {u"A.FAT", "8x6"}});
  TRef<TMapSource> two = Source({{u"a.fat", "4x2"}});
  TRef<TFileAccessor> first = MakeRef<TFileAccessor>(one.get());
  TRef<TFileAccessor> second = MakeRef<TFileAccessor>(one.get());
  TRef<TFileAccessor> other = MakeRef<TFileAccessor>(two.get());
  first->SetMipLevelLimit(3);

  TRef<TOruImage> a = first->GetImage(u"a.fat");
  TRef<TOruImage> b = second->GetImage(u"A.FAT");  // same source, name case ignored
  TRef<TOruImage> c = other->GetImage(u"a.fat");
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(a->Store(), b->Store());
  EXPECT_NE(a->Store(), c->Store());
  EXPECT_EQ(c->Params.Width, 4);
  EXPECT_EQ(a->MipLevelLimit, 3);
  EXPECT_EQ(gDecodes, 2);
  EXPECT_EQ(LiveImageHandleCount(), liveBefore_ + 2);

  // A copy keeps the entry; the entry goes with its last picture.
  TRef<TImage> copy = a->CreateCopy();
  ASSERT_TRUE(dynamic_cast<TOruImage*>(copy.get()));
  a.reset();
  b.reset();
  TRef<TOruImage> again = first->GetImage(u"a.fat");
  EXPECT_EQ(again->Store(), copy->Store());
  EXPECT_EQ(gDecodes, 2);
  copy.reset();
  again.reset();
  c.reset();
  EXPECT_EQ(LiveImageHandleCount(), liveBefore_);
  again = first->GetImage(u"a.fat");
  EXPECT_EQ(gDecodes, 3);
}

// The placeholder's lines, as the text producer was handed them.
class TRecordingVectorizer : public zmtest::TFakeVectorizer {
public:
  static inline std::vector<WideString> Lines;
  TRef<TTextElementEx> CreateTextElement(const TFontParams& font, const WideString& text) override {
    Lines.push_back(text);
    return TFakeVectorizer::CreateTextElement(font, text);
  }
};

TEST_F(Pictures, PlaceholdersSayWhatWentWrong) {
  zm::THookScope vectorizer(CreateVectorizerHook, [] { return TRef<TVectorizer>(MakeRef<TRecordingVectorizer>()); });
  TRef<TMapSource> source = Source({{u"bad.fat", "garbage"}, {u"empty.fat", ""}});
  TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(source.get());
  auto linesOf = [&](const WideString& name, bool isVideo) {
    TRecordingVectorizer::Lines.clear();
    EXPECT_TRUE(accessor->GetImage(name, isVideo));
    return TRecordingVectorizer::Lines;
  };
  using L = std::vector<WideString>;
  EXPECT_EQ(linesOf(u"pics\\bad.fat", false), (L{u" Image not found ", u" bad.fat "}));  // not in this source
  EXPECT_EQ(linesOf(u"bad.fat", false), (L{u" Image load error: ", u" bad.fat "}));
  EXPECT_EQ(linesOf(u"empty.fat", true), (L{u" Video load error: ", u" empty.fat "}));
  EXPECT_EQ(linesOf(u"clip.avi", true), (L{u" Video not found ", u" clip.avi "}));
  vectorizer.Restore();

  // Without any vectoriser the placeholder is a plain light grey picture.
  TRef<TImage> plain = MakePlaceholderImage(u"x.jpg", false, false);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->Params.Width, 160);
  EXPECT_EQ(PixelAt(plain.get(), 80, 24), (TColor32{230, 230, 230, 255}));
}

// A name longer than the placeholder holds keeps its start and its end,
// never half a pair of surrogates; the folder is never shown.
TEST(PlaceholderNames, LongNamesAreCutInTheMiddle) {
  EXPECT_EQ(PlaceholderName(u"pics\\beach.jpg"), u"beach.jpg");
  const WideString fits(kPlaceholderNameLength, u'x');
  EXPECT_EQ(PlaceholderName(u"a\\" + fits), fits);
  const WideString huge = u"start" + WideString(1 << 20, u'm') + u"end.jpg";
  const WideString cut = PlaceholderName(u"pics\\" + huge);
  EXPECT_EQ(cut.size(), kPlaceholderNameLength);
  EXPECT_EQ(cut.substr(0, 5), u"start");
  EXPECT_EQ(cut.substr(cut.size() - 7), u"end.jpg");
  EXPECT_NE(cut.find(u'\u2026'), WideString::npos);
  // Pairs on both sides of the cut stay whole or go whole.
  WideString pairs;
  while (pairs.size() < 4 * kPlaceholderNameLength) pairs += u"\U0001F600";
  for (const WideString& name : {pairs, u"x" + pairs, pairs + u"x"}) {
    const WideString c = PlaceholderName(name);
    EXPECT_LE(c.size(), kPlaceholderNameLength);
    for (std::size_t i = 0; i < c.size(); ++i) {
      const bool high = c[i] >= 0xD800 && c[i] <= 0xDBFF, low = c[i] >= 0xDC00 && c[i] <= 0xDFFF;
      if (high) EXPECT_TRUE(i + 1 < c.size() && c[i + 1] >= 0xDC00 && c[i + 1] <= 0xDFFF) << i;
      if (low) EXPECT_TRUE(i > 0 && c[i - 1] >= 0xD800 && c[i - 1] <= 0xDBFF) << i;
    }
  }
}

// The log's lines while installed.
class TLines : public TLog {
public:
  void WriteText(const WideString& line) override {
    std::lock_guard<std::mutex> g(m_);
    lines_.push_back(line);
  }
  std::size_t Count(const WideString& text) {
    std::lock_guard<std::mutex> g(m_);
    return std::size_t(std::count_if(lines_.begin(), lines_.end(), [&](const WideString& l) { return l.find(text) != l.npos; }));
  }

private:
  std::mutex m_;
  std::vector<WideString> lines_;
};

TEST_F(Pictures, APictureNoLevelOfWhichDecodesGetsItsPlaceholderAndOneLogLine) {
  // A progressive JPEG of a few hundred bytes that declares 30000 x 30000.
  zmtest::TJpegOptions o;
  o.Width = o.Height = 16;
  o.Progressive = true;
  std::string huge = zmtest::WriteJpeg(o);
  const int at = zmtest::SofSizeOffset(huge);
  ASSERT_GT(at, 0);
  huge[std::size_t(at)] = huge[std::size_t(at) + 2] = char(30000 >> 8);
  huge[std::size_t(at) + 1] = huge[std::size_t(at) + 3] = char(30000 & 0xFF);
  zm::THookScope vectorizer(CreateVectorizerHook, [] { return TRef<TVectorizer>(MakeRef<TRecordingVectorizer>()); });
  auto log = MakeRef<TLines>();
  log->AddRef();
  SetLog(log.get());
  {
    TRef<TMapSource> source = Source({{u"pics\\huge.jpg", huge}});
    TRecordingVectorizer::Lines.clear();
    // Asked again, also once let go (and so loaded again): said once.
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(MakeRef<TFileAccessor>(source.get())->GetImage(u"pics\\huge.jpg"));
    EXPECT_EQ(TRecordingVectorizer::Lines.front(), u" Image load error: ");
    EXPECT_TRUE(MakeRef<TFileAccessor>(source.get())->GetImage(u"pics\\gone.jpg"));
  }
  SetLog(nullptr);
  vectorizer.Restore();
  EXPECT_EQ(log->Count(u"Image load error: "), 1u);
  EXPECT_EQ(log->Count(u"gone.jpg"), 0u);  // missing, not undecodable: the placeholder says so
}

// A named pipe, a folder or a device where a show names a file is missing
// to the show: nothing waits on it, its picture is the "not found" one, and
// the log names it once with what it is.
TEST_F(Pictures, NamesThatAreNoRegularFilesAreMissingWithOneLogLineEach) {
  dir_.Write("pics/plain.fat", "2x2");
  std::filesystem::create_directories(dir_.Path() / "pics" / "folder.fat");
  ASSERT_EQ(std::system(("mkfifo '" + (dir_.Path() / "pics" / "pipe.fat").string() + "'").c_str()), 0);
  zm::THookScope vectorizer(CreateVectorizerHook, [] { return TRef<TVectorizer>(MakeRef<TRecordingVectorizer>()); });
  auto log = MakeRef<TLines>();
  log->AddRef();
  SetLog(log.get());
  {
    TRef<TFileAccessor> accessor = CreateRealFileAccessor();
    accessor->SetBaseFolder(dir_.Wide("pics") + u"\\");
    for (int i = 0; i < 2; ++i) {
      for (const WideString& name : {dir_.Wide("pics/pipe.fat"), dir_.Wide("pics/folder.fat"), WideString(u"/dev/ptmx")})
        EXPECT_EQ(accessor->OpenFile(name), nullptr) << plat::ToUtf8(name);
      WideString folder = u"elsewhere\\folder.fat";  // found in the base folder, and refused there
      EXPECT_TRUE(accessor->FindRealFile(folder));
      EXPECT_EQ(folder, dir_.Wide("pics") + u"\\folder.fat");
      EXPECT_EQ(accessor->OpenRealFile(u"elsewhere\\folder.fat"), nullptr);
      WideString plain = u"elsewhere\\plain.fat";  // a file comes before a folder
      EXPECT_TRUE(accessor->FindRealFile(plain));
      EXPECT_EQ(ReadAndFree(accessor->OpenRealFile(plain)), "2x2");
    }
    TRecordingVectorizer::Lines.clear();
    EXPECT_TRUE(accessor->GetImage(dir_.Wide("pics/pipe.fat"), true));
    EXPECT_EQ(TRecordingVectorizer::Lines, (std::vector<WideString>{u" Video not found ", u" pipe.fat "}));
  }
  SetLog(nullptr);
  vectorizer.Restore();
  const std::string folder = dir_.Path().string() + "/pics/";
  EXPECT_EQ(log->Count(u"Not a regular file (named pipe), not opened: " + plat::FromUtf8(folder + "pipe.fat")), 1u);
  EXPECT_EQ(log->Count(u"Not a regular file (folder), not opened: " + plat::FromUtf8(folder + "folder.fat")), 1u);
  EXPECT_EQ(log->Count(u"plain.fat"), 0u);
}

TRef<TImage> RedPicture(void* data, TFileSource*, const WideString& name) {
  static_cast<std::vector<WideString>*>(data)->push_back(name);
  if (name != u"made.fat") return nullptr;
  TRef<TDirectBitmap> bitmap = MakeRef<TDirectBitmap>(3, PixelFormatByName(TByteString(PF_A8R8G8B8)), 3);
  bitmap->FillRect({0, 0, 3, 3}, TColor32{0, 0, 255, 255});
  return SysBitmapToImage(bitmap.get(), false, name);
}

TEST_F(Pictures, ImageCallbacksComeBeforeTheFile) {
  TRef<TMapSource> source = Source({{u"made.fat", "8x6"}, {u"file.fat", "5x5"}});
  TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(source.get());
  std::vector<WideString> first, second;
  TRef<TCallbackHandle> h1 = source->AddCallback(&RedPicture, &first);
  TRef<TCallbackHandle> h2 = source->AddCallback(&RedPicture, &second);

  TRef<TOruImage> made = accessor->GetImage(u"made.fat");
  EXPECT_EQ(made->Params.Width, 3);
  EXPECT_TRUE(second.empty());  // the first picture wins
  EXPECT_EQ(accessor->GetImage(u"file.fat")->Params.Width, 5);
  EXPECT_EQ(second, std::vector<WideString>{u"file.fat"});

  // A freed handle leaves the list; one that outlives its source is harmless.
  h1.reset();
  made.reset();
  first.clear();
  made = accessor->GetImage(u"made.fat");
  EXPECT_TRUE(first.empty());
  accessor.reset();
  source.reset();
  EXPECT_EQ(h2->Source(), nullptr);
  h2.reset();
}

TEST_F(Pictures, CallbacksThatRecurseOrRaise) {
  TRef<TMapSource> source = Source({{u"a.fat", "8x6"}});
  TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(source.get());
  struct TAsk {
    TFileAccessor* accessor;
    int calls = 0;
    bool innerNil = false;
    bool raise = false;
  } ask{accessor.get()};
  // A callback asking for its own picture gets nil, not itself again.
  TRef<TCallbackHandle> handle = source->AddCallback(
      [](void* data, TFileSource*, const WideString& name) -> TRef<TImage> {
        auto* a = static_cast<TAsk*>(data);
        if (a->raise) throw EAbort("stop");
        ++a->calls;
        a->innerNil = !a->accessor->GetImage(name);
        return nullptr;
      },
      &ask);
  TRef<TOruImage> image = accessor->GetImage(u"a.fat");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Params.Width, 8);
  EXPECT_EQ(ask.calls, 1);
  EXPECT_TRUE(ask.innerNil);

  // One that raises leaves the picture to load later.
  image.reset();
  ask.raise = true;
  EXPECT_THROW(accessor->GetImage(u"a.fat"), EAbort);
  EXPECT_EQ(LiveImageHandleCount(), liveBefore_);
  ask.raise = false;
  EXPECT_EQ(accessor->GetImage(u"a.fat")->Params.Width, 8);
}

}  // namespace
