#include "OruLib2/OruClasses/OruFileAccess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "OruLib2/OruClasses/zmStreamUtils.h"
#include "ZmLib/wpFileStream.h"
#include "tests/support/TempDir.h"
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

}  // namespace
