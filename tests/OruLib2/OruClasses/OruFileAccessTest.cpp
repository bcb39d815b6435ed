#include "OruLib2/OruClasses/OruFileAccess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/zmStreamUtils.h"
#include "ZmLib/Graphics/SysBitmapStore.h"
#include "ZmLib/Graphics/zmBitmap.h"
#include "ZmLib/Graphics/zmPixelFormat.h"
#include "ZmLib/wpFileStream.h"
#include "ZmLib/zmTempFiles.h"
#include "tests/ZmLib/VectorGraphics/FakeVectorizer.h"
#include "tests/support/TempDir.h"
#include "tests/support/kit/JpegWriter.h"
#include "tests/support/kit/StreamBytes.h"

using namespace zm;
using namespace oru;
using zmtest::ReadAllBytes;

namespace {

// Sets environment variables for one test and puts them back afterwards.
class TEnvGuard {
public:
  ~TEnvGuard() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) ::setenv(it->first.c_str(), it->second->c_str(), 1);
      else ::unsetenv(it->first.c_str());
    }
  }
  void Set(const char* name, const std::string& value) {
    Save(name);
    ::setenv(name, value.c_str(), 1);
  }
  void Unset(const char* name) {
    Save(name);
    ::unsetenv(name);
  }

private:
  void Save(const char* name) {
    const char* v = std::getenv(name);
    saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A source over a map of names to contents, counting its opens.
class TMapSource : public TFileSource {
public:
  std::vector<std::pair<WideString, std::string>> files;
  int opens = 0;
  TStream* OpenFile(const WideString& name) override {
    ++opens;
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
  TEnvGuard env_;
};

TEST_F(FileAccess, SourcesHaveUniqueIds) {
  TRef<TRealFileSource> a = MakeRef<TRealFileSource>();
  TRef<TRealFileSource> b = MakeRef<TRealFileSource>();
  EXPECT_NE(a->SourceId(), b->SourceId());
  EXPECT_NE(a->Lock(), nullptr);
}

TEST_F(FileAccess, AccessorOpensThroughThePartialStream) {
  TRef<TMapSource> source = MakeRef<TMapSource>();
  source->files.push_back({u"a.txt", "hello"});
  TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(source.get());

  TStream* stream = accessor->OpenFile(u"a.txt");
  ASSERT_NE(stream, nullptr);
  auto* partial = dynamic_cast<TPartialStream*>(stream);
  ASSERT_NE(partial, nullptr);
  EXPECT_TRUE(partial->OwnsSource());
  EXPECT_EQ(partial->GetSize(), 5);
  EXPECT_EQ(partial->BlockSize(), TPartialStream::kCallbackBlockSize);
  EXPECT_EQ(ReadAndFree(stream), "hello");

  EXPECT_EQ(accessor->OpenFile(u"missing"), nullptr);
  EXPECT_EQ(source->opens, 2);
}

TEST_F(FileAccess, MissingFileHandlerAndOpenHook) {
  TRef<TMapSource> source = MakeRef<TMapSource>();
  source->files.push_back({u"a.txt", "hello"});
  TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(source.get());

  static std::vector<WideString> asked;
  asked.clear();
  std::string spare = "spare";
  accessor->SetMissingFileHandler(
      [](void* data, const WideString& name) -> TStream* {
        asked.push_back(name);
        return zmtest::MemoryStreamOf(*static_cast<std::string*>(data)).Detach();
      },
      &spare);
  EXPECT_EQ(ReadAndFree(accessor->OpenFile(u"b.txt")), "spare");
  EXPECT_EQ(ReadAndFree(accessor->OpenFile(u"a.txt")), "hello");  // found: no handler
  EXPECT_EQ(asked, std::vector<WideString>{u"b.txt"});

  // The hook sees every open and may replace the stream, or drop it.
  accessor->SetOpenHook([](const WideString& name, TStream*& stream) {
    if (name == u"a.txt") {
      stream->Free();
      stream = zmtest::MemoryStreamOf("hooked").Detach();
    } else if (name == u"drop") {
      if (stream) stream->Free();
      stream = nullptr;
    }
  });
  EXPECT_EQ(ReadAndFree(accessor->OpenFile(u"a.txt")), "hooked");
  EXPECT_EQ(ReadAndFree(accessor->OpenFile(u"drop")), "spare");
  accessor->SetMissingFileHandler(nullptr, nullptr);
  EXPECT_EQ(accessor->OpenFile(u"drop"), nullptr);
}

TEST_F(FileAccess, AccessorNeedsASource) {
  EXPECT_THROW(MakeRef<TFileAccessor>(nullptr), Exception);
}

TEST_F(FileAccess, RealSourceOpensDiskFilesAndTheNameBeforeTheBar) {
  dir_.Write("pics/One.jpg", "one");
  TRef<TFileAccessor> accessor = CreateRealFileAccessor();
  EXPECT_EQ(ReadAndFree(accessor->OpenFile(dir_.Wide("pics/One.jpg"))), "one");
  EXPECT_EQ(ReadAndFree(accessor->OpenFile(dir_.Wide("pics/One.jpg") + u"|frames")), "one");
  EXPECT_EQ(accessor->OpenFile(dir_.Wide("pics/Two.jpg")), nullptr);
  EXPECT_EQ(accessor->OpenFile(dir_.Wide("pics")), nullptr);  // a folder is no file
  EXPECT_EQ(accessor->OpenFile(u""), nullptr);
  EXPECT_EQ(accessor->OpenFile(u"|"), nullptr);
}

TEST_F(FileAccess, FindRealFileTriesNameThenVariablesThenBaseFolder) {
  dir_.Write("vars/a.ini", "a");
  dir_.Write("base/b.ini", "b");
  TPathVarTable table;
  RegisterPathVar(table, u"%Mine%", dir_.Wide("vars") + u"\\", true);
  SetPathVars(table);

  TRef<TFileAccessor> accessor = CreateRealFileAccessor();
  accessor->SetBaseFolder(dir_.Wide("base") + u"\\");
  WideString name = dir_.Wide("base/b.ini");
  EXPECT_TRUE(accessor->FindRealFile(name));
  EXPECT_EQ(name, dir_.Wide("base/b.ini"));

  name = u"%MINE%\\a.ini";
  EXPECT_TRUE(accessor->FindRealFile(name));
  EXPECT_EQ(name, dir_.Wide("vars/a.ini"));

  name = u"C:\\Somewhere\\Else\\b.ini";
  EXPECT_TRUE(accessor->FindRealFile(name));
  EXPECT_EQ(name, dir_.Wide("base/b.ini"));

  name = u"nothing.ini";
  EXPECT_FALSE(accessor->FindRealFile(name));
  EXPECT_EQ(name, u"nothing.ini");

  EXPECT_EQ(ReadAndFree(accessor->OpenRealFile(u"elsewhere\\b.ini")), "b");
  EXPECT_EQ(accessor->OpenRealFile(u"nothing.ini"), nullptr);

  // Copies keep the source and the base folder.
  TRef<TFileAccessor> copy = accessor->CreateCopy();
  EXPECT_EQ(copy->Source(), accessor->Source());
  EXPECT_EQ(copy->BaseFolder(), accessor->BaseFolder());
}

TEST_F(FileAccess, GlobalAccessorGivesItsBaseFolderToNewOnes) {
  ASSERT_NE(GlobalFileAccessor(), nullptr);
  WideString before = GlobalFileAccessor()->BaseFolder();
  GlobalFileAccessor()->SetBaseFolder(u"\\shows\\one\\");
  EXPECT_EQ(CreateRealFileAccessor()->BaseFolder(), u"\\shows\\one\\");
  GlobalFileAccessor()->SetBaseFolder(before);
}

// ---- Folder macros, special folders, path variables ------------------------------------

TEST_F(FileAccess, SpecialFoldersFollowTheXdgVariables) {
  env_.Set("XDG_CONFIG_HOME", "/conf/home");
  env_.Set("XDG_DATA_HOME", "/data/home");
  env_.Set("XDG_DATA_DIRS", "relative/share:/usr/share:/opt/share");
  env_.Unset("SYSTEMROOT");
  env_.Unset("WINDIR");
  EXPECT_EQ(GetSpecialFolder(26), u"\\conf\\home\\");
  EXPECT_EQ(GetSpecialFolder(28), u"\\data\\home\\");
  EXPECT_EQ(GetSpecialFolder(35), u"\\usr\\share\\");
  EXPECT_EQ(GetSpecialFolder(36), u"\\");
  EXPECT_EQ(GetSpecialFolder(5), u"");
  EXPECT_EQ(GetSpecialFolder(-1), u"");

  // Relative or missing XDG values fall back below the home folder; no home, nothing.
  env_.Set("XDG_CONFIG_HOME", "conf");
  env_.Unset("XDG_DATA_HOME");
  env_.Unset("XDG_DATA_DIRS");
  env_.Set("HOME", "/home/me");
  env_.Set("WINDIR", "/win");
  EXPECT_EQ(GetSpecialFolder(26), u"\\home\\me\\.config\\");
  EXPECT_EQ(GetSpecialFolder(28), u"\\home\\me\\.local\\share\\");
  EXPECT_EQ(GetSpecialFolder(35), u"\\usr\\local\\share\\");
  EXPECT_EQ(GetSpecialFolder(36), u"\\win\\");
  env_.Unset("HOME");
  EXPECT_EQ(GetSpecialFolder(26), u"");
  EXPECT_EQ(GetSpecialFolder(28), u"");
}

TEST_F(FileAccess, FolderMacros) {
  env_.Set("XDG_CONFIG_HOME", "/conf");
  env_.Set("XDG_DATA_HOME", "/data");
  env_.Set("XDG_DATA_DIRS", "/machine");
  env_.Set("TMPDIR", dir_.Path().string());
  env_.Unset("SYSTEMROOT");
  env_.Unset("WINDIR");
  auto expand = [](WideString path, bool onlyAtStart = false) {
    bool replaced = ExpandFolderMacros(path, onlyAtStart);
    return (replaced ? u"+" : u"-") + path;
  };
  // The "\" after the macro is part of the replacement; letter case is ignored.
  EXPECT_EQ(expand(u"%APPDATA%\\file.txt"), u"+\\conf\\file.txt");
  EXPECT_EQ(expand(u"%appdata%\\file.txt"), u"+\\conf\\file.txt");
  EXPECT_EQ(expand(u"%AppData%file.txt"), u"+\\conf\\file.txt");
  EXPECT_EQ(expand(u"%LOCALAPPDATA%\\Tavrel"), u"+\\data\\Tavrel");
  EXPECT_EQ(expand(u"%PROGRAMDATA%\\x"), u"+\\machine\\x");
  EXPECT_EQ(expand(u"%SystemRoot%\\Fonts"), u"+\\Fonts");
  EXPECT_EQ(expand(u"%TEMP%\\a.tmp"), u"+" + GetTempDir(true) + u"a.tmp");
  EXPECT_EQ(GetTempDir(false), dir_.Wide());
  EXPECT_EQ(expand(u"%TEMP%"), u"+" + dir_.Wide() + u"\\");
  // Anywhere in the text unless only the start counts.
  EXPECT_EQ(expand(u"x\\%APPDATA%\\y\\%PROGRAMDATA%"), u"+x\\\\conf\\y\\\\machine\\");
  EXPECT_EQ(expand(u"x\\%APPDATA%\\y", true), u"-x\\%APPDATA%\\y");
  EXPECT_EQ(expand(u"%FOO%%APPDATA%", true), u"-%FOO%%APPDATA%");
  EXPECT_EQ(expand(u"%FOO%%APPDATA%"), u"+%FOO%\\conf\\");
  EXPECT_EQ(expand(u"%APPDATA%%PROGRAMDATA%z", true), u"+\\conf\\\\machine\\z");
  // Unknown, unclosed, too short, too long or non-ASCII tokens stay.
  EXPECT_EQ(expand(u"%WINDIR%\\x"), u"-%WINDIR%\\x");
  EXPECT_EQ(expand(u"%APPDATA"), u"-%APPDATA");
  EXPECT_EQ(expand(u"%TEMP"), u"-%TEMP");
  EXPECT_EQ(expand(u""), u"-");
  EXPECT_EQ(expand(u"%"), u"-%");
  EXPECT_EQ(expand(u"%ABCDEFGHIJKLM%"), u"-%ABCDEFGHIJKLM%");
  EXPECT_EQ(expand(u"%APPDATA\u00C9%"), u"-%APPDATA\u00C9%");
  EXPECT_EQ(expand(u"%LOCALAPPDATA\u0130"), u"-%LOCALAPPDATA\u0130");
  // A token of 15 characters is passed over; a macro after it still counts.
  EXPECT_EQ(expand(u"%ABCDEFGHIJKLMN%TEMP%"), u"+%ABCDEFGHIJKLMN" + GetTempDir(true));
}

TEST_F(FileAccess, FolderMacrosFallBackToTheEnvironment) {
  env_.Unset("XDG_CONFIG_HOME");
  env_.Unset("XDG_DATA_HOME");
  env_.Unset("HOME");
  env_.Set("APPDATA", "/roaming");
  WideString path = u"%LOCALAPPDATA%\\x";
  EXPECT_TRUE(ExpandFolderMacros(path, true));
  EXPECT_EQ(path, u"\\roaming\\x");
  // Nothing at all: the macro and its "\" go.
  env_.Unset("APPDATA");
  path = u"%APPDATA%\\x";
  EXPECT_TRUE(ExpandFolderMacros(path, true));
  EXPECT_EQ(path, u"x");
}

TEST_F(FileAccess, PathParts) {
  EXPECT_EQ(ExtractLastPathPart(u"a\\b\\c"), u"c");
  EXPECT_EQ(ExtractLastPathPart(u"a\\b\\c\\"), u"c");
  EXPECT_EQ(ExtractLastPathPart(u"a/b/c"), u"c");
  EXPECT_EQ(ExtractLastPathPart(u"c"), u"c");
  EXPECT_EQ(ExtractLastPathPart(u"\\"), u"");
  EXPECT_EQ(ExtractLastPathPart(u""), u"");
  EXPECT_EQ(ExtractFolderPath(u"a\\b\\c", true), u"a\\b\\");
  EXPECT_EQ(ExtractFolderPath(u"a\\b\\c\\", false), u"a\\b");
  EXPECT_EQ(ExtractFolderPath(u"\\c", false), u"");
  EXPECT_EQ(ExtractFolderPath(u"\\c", true), u"\\");
  EXPECT_EQ(ExtractFolderPath(u"c", true), u"");
  EXPECT_EQ(ExtractFolderPath(u"", true), u"");
}

TEST_F(FileAccess, RegisteringPathVariables) {
  env_.Set("XDG_DATA_HOME", "/data");
  TPathVarTable table;
  RegisterPathVar(table, u"%Mine%", u"\\abs\\folder\\", false);
  RegisterPathVar(table, u"%mine%", u"rel\\sub", true);
  RegisterPathVar(table, u"%MINE%", u"%LOCALAPPDATA%\\Tavrel\\", true);
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[0].name, u"%mine%");
  EXPECT_EQ(table[0].path, u"\\abs\\folder");
  EXPECT_FALSE(table[0].isDefault);
  EXPECT_EQ(table[1].path, ProgramDir + u"rel\\sub");
  EXPECT_EQ(table[2].path, u"\\data\\Tavrel");
  EXPECT_TRUE(table[2].isDefault);

  // The built-in table: program folder first, local folder as the default.
  TPathVarTable builtIn = DefaultPathVars();
  ASSERT_EQ(builtIn.size(), 4u);
  EXPECT_EQ(builtIn[0].name, u"%styles%");
  EXPECT_EQ(builtIn[0].path, ProgramDir + u"All\\Themes");
  EXPECT_EQ(builtIn[1].path, u"\\data\\Tavrel\\Styles");
  EXPECT_EQ(builtIn[2].name, u"%effects%");
  EXPECT_EQ(builtIn[2].path, ProgramDir + u"All\\Effects");
  EXPECT_FALSE(builtIn[2].isDefault);
  EXPECT_EQ(builtIn[3].path, u"\\data\\Tavrel\\Effects");
  EXPECT_TRUE(builtIn[3].isDefault);
}

TEST_F(FileAccess, ExpandingPathVariables) {
  dir_.Write("first/only1.txt", "1");
  dir_.Write("second/both.txt", "2");
  dir_.Write("first/both.txt", "1");
  dir_.Write("third/only3.txt", "3");
  TPathVarTable table;
  RegisterPathVar(table, u"%v%", dir_.Wide("first"), false);
  RegisterPathVar(table, u"%v%", dir_.Wide("second"), true);
  RegisterPathVar(table, u"%v%", dir_.Wide("third"), false);
  RegisterPathVar(table, u"%w%", dir_.Wide("w%v%"), true);  // holds a token itself
  SetPathVars(table);

  // The first entry whose file exists; else the default; others skipped.
  EXPECT_EQ(ExpandPathVars(u"%V%\\both.txt"), dir_.Wide("first/both.txt"));
  EXPECT_EQ(ExpandPathVars(u"%v%\\only1.txt"), dir_.Wide("first/only1.txt"));
  EXPECT_EQ(ExpandPathVars(u"%v%\\only3.txt"), dir_.Wide("third/only3.txt"));
  EXPECT_EQ(ExpandPathVars(u"%v%\\none.txt"), dir_.Wide("second/none.txt"));
  // The part before "|" decides; unknown tokens stay; the inserted path is not scanned again.
  EXPECT_EQ(ExpandPathVars(u"%v%\\only3.txt|frames"), dir_.Wide("third/only3.txt") + u"|frames");
  EXPECT_EQ(ExpandPathVars(u"%x%\\a%v%\\b"), u"%x%\\a" + dir_.Wide("second") + u"\\b");
  EXPECT_EQ(ExpandPathVars(u"%w%\\f"), dir_.Wide("w%v%") + u"\\f");
  EXPECT_EQ(ExpandPathVars(u"no tokens"), u"no tokens");
  EXPECT_EQ(ExpandPathVars(u"%"), u"%");
  EXPECT_EQ(ExpandPathVars(u"%%"), u"%%");

  EXPECT_TRUE(FileExistsExpanded(u"%v%\\only3.txt|x"));
  EXPECT_FALSE(FileExistsExpanded(u"%v%\\none.txt"));

  // The real source opens through the variables.
  TRef<TFileAccessor> accessor = CreateRealFileAccessor();
  EXPECT_EQ(ReadAndFree(accessor->OpenFile(u"%v%\\only3.txt")), "3");
  EXPECT_EQ(ReadAndFree(accessor->OpenFile(u"%V%\\both.txt")), "1");
  EXPECT_EQ(ReadAndFree(accessor->OpenFile(u"%v%\\both.txt|frames")), "1");

  // A replaced table is what later expansions see.
  SetPathVars({});
  EXPECT_EQ(ExpandPathVars(u"%v%\\both.txt"), u"%v%\\both.txt");
}

// ---- Pictures -----------------------------------------------------------------------------

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

  TRef<TOruImage> a = first->GetImage(u"a.fat");
  TRef<TOruImage> b = second->GetImage(u"A.FAT");  // same source, name case ignored
  TRef<TOruImage> c = other->GetImage(u"a.fat");
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(a->Store(), b->Store());
  EXPECT_EQ(a->Handle(), b->Handle());
  EXPECT_NE(a->Store(), c->Store());
  EXPECT_EQ(a->Params.Width, 8);
  EXPECT_EQ(c->Params.Width, 4);
  EXPECT_EQ(gDecodes, 2);
  EXPECT_EQ(LiveImageHandleCount(), liveBefore_ + 2);
  EXPECT_TRUE(a->Handle()->Loaded());
  EXPECT_EQ(a->Handle()->SourceId(), one->SourceId());

  // A copy keeps the entry; the entry goes with its last picture.
  TRef<TImage> copy = a->CreateCopy();
  ASSERT_TRUE(dynamic_cast<TOruImage*>(copy.get()));
  a.reset();
  b.reset();
  EXPECT_EQ(LiveImageHandleCount(), liveBefore_ + 2);
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

TEST_F(Pictures, LimitAndAccessCallbackGoOntoEachPicture) {
  TRef<TMapSource> source = Source({{u"a.fat", "8x6"}});
  TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(source.get());
  accessor->SetMipLevelLimit(3);
  static int accesses = 0;
  accesses = 0;
  TOruImageAccessProc saved = OruImageAccessHook;
  OruImageAccessHook = [](TOruImage*) { ++accesses; };
  TRef<TOruImage> image = accessor->GetImage(u"a.fat");
  OruImageAccessHook = saved;
  EXPECT_EQ(image->MipLevelLimit, 3);
  image->NotifyAccess();
  EXPECT_EQ(accesses, 1);
}

TEST_F(Pictures, RealJpegFromDisk) {
  zmtest::TJpegOptions opts;
  opts.Pixel = [](int, int, std::uint8_t* c) {
    c[0] = 200;
    c[1] = 40;
    c[2] = 20;
  };
  dir_.Write("pics/photo.jpg", zmtest::WriteJpeg(opts));
  TRef<TFileAccessor> accessor = CreateRealFileAccessor();
  TRef<TOruImage> image = accessor->GetImage(dir_.Wide("pics/photo.jpg"));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Params.Width, 64);
  EXPECT_EQ(image->Params.Height, 48);
  TColor32 p = PixelAt(image.get(), 10, 10);
  EXPECT_NEAR(p.R, 200, 6);
  EXPECT_NEAR(p.G, 40, 6);
  EXPECT_NEAR(p.B, 20, 6);
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
  TCreateVectorizerProc saved = CreateVectorizerHook;
  CreateVectorizerHook = [] { return TRef<TVectorizer>(MakeRef<TRecordingVectorizer>()); };
  TRef<TMapSource> source = Source({{u"bad.fat", "garbage"}, {u"empty.fat", ""}});
  TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(source.get());
  auto linesOf = [&](const WideString& name, bool isVideo) {
    TRecordingVectorizer::Lines.clear();
    TRef<TOruImage> image = accessor->GetImage(name, isVideo);
    EXPECT_TRUE(image);
    return TRecordingVectorizer::Lines;
  };
  using L = std::vector<WideString>;
  EXPECT_EQ(linesOf(u"pics\\bad.fat", false), (L{u" Image not found ", u" bad.fat "}));  // not in this source
  EXPECT_EQ(linesOf(u"bad.fat", false), (L{u" Image load error: ", u" bad.fat "}));
  EXPECT_EQ(linesOf(u"empty.fat", true), (L{u" Video load error: ", u" empty.fat "}));
  EXPECT_EQ(linesOf(u"folder\\gone.jpg", false), (L{u" Image not found ", u" gone.jpg "}));
  EXPECT_EQ(linesOf(u"clip.avi", true), (L{u" Video not found ", u" clip.avi "}));

  // Grey text on light grey.
  TRef<TOruImage> image = accessor->GetImage(u"other.jpg");
  ASSERT_TRUE(image);
  EXPECT_GT(image->Params.Width, 20);
  EXPECT_EQ(PixelAt(image.get(), 0, 0), (TColor32{230, 230, 230, 255}));
  bool ink = false;
  for (std::int32_t y = 0; y < image->Params.Height && !ink; ++y)
    for (std::int32_t x = 0; x < image->Params.Width && !ink; ++x)
      ink = PixelAt(image.get(), x, y) == TColor32{100, 100, 100, 255};
  EXPECT_TRUE(ink);
  CreateVectorizerHook = saved;

  // Without any vectoriser the placeholder is a plain light grey picture.
  TRef<TImage> plain = MakePlaceholderImage(u"x.jpg", false, false);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->Params.Width, 160);
  EXPECT_EQ(plain->Params.Height, 48);
  EXPECT_EQ(PixelAt(plain.get(), 80, 24), (TColor32{230, 230, 230, 255}));
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
  EXPECT_EQ(h1->Source(), source.get());

  TRef<TOruImage> made = accessor->GetImage(u"made.fat");
  EXPECT_EQ(made->Params.Width, 3);
  EXPECT_EQ(gDecodes, 0);
  EXPECT_EQ(first.size(), 1u);
  EXPECT_TRUE(second.empty());  // the first picture wins
  TRef<TOruImage> file = accessor->GetImage(u"file.fat");
  EXPECT_EQ(file->Params.Width, 5);
  EXPECT_EQ(second, std::vector<WideString>{u"file.fat"});

  // A freed handle leaves the list; one that outlives its source is harmless.
  h1.reset();
  made.reset();
  first.clear();
  made = accessor->GetImage(u"made.fat");
  EXPECT_TRUE(first.empty());
  EXPECT_EQ(made->Params.Width, 3);
  accessor.reset();
  source.reset();
  EXPECT_EQ(h2->Source(), nullptr);
  h2.reset();
}

TEST_F(Pictures, ACallbackAskingForItsOwnPictureDoesNotRecurse) {
  TRef<TMapSource> source = Source({{u"a.fat", "8x6"}});
  TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(source.get());
  struct TAsk {
    TFileAccessor* accessor;
    int calls = 0;
    bool innerNil = false;
  } ask{accessor.get()};
  TRef<TCallbackHandle> handle = source->AddCallback(
      [](void* data, TFileSource*, const WideString& name) -> TRef<TImage> {
        auto* a = static_cast<TAsk*>(data);
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
}

TEST_F(Pictures, ACallbackThatRaisesLeavesThePictureToLoadLater) {
  TRef<TMapSource> source = Source({{u"a.fat", "8x6"}});
  TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(source.get());
  static bool raise = true;
  raise = true;
  TRef<TCallbackHandle> handle = source->AddCallback(
      [](void*, TFileSource*, const WideString&) -> TRef<TImage> {
        if (raise) throw EAbort("stop");
        return nullptr;
      },
      nullptr);
  EXPECT_THROW(accessor->GetImage(u"a.fat"), EAbort);
  EXPECT_EQ(LiveImageHandleCount(), liveBefore_);
  raise = false;
  EXPECT_EQ(accessor->GetImage(u"a.fat")->Params.Width, 8);
}

}  // namespace
