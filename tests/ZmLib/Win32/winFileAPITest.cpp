#include "ZmLib/Win32/winFileAPI.h"

#include <gtest/gtest.h>

#include <vector>

#include "Platform/PlatSystem.h"
#include "Platform/PlatUtf8.h"
#include "ZmLib/wpFileStream.h"
#include "tests/support/FileAPISwap.h"
#include "tests/support/TempDir.h"

using namespace zm;
using zmtest::TFileAPISwap;

namespace {

// Records the names that reach CreateFile, then lets the real one work.
class TRecordingFileAPI : public TFileAPI {
public:
  THandle CreateFile(const WideString& name, std::uint32_t access, std::uint32_t share, const void* security,
                     std::uint32_t creation, std::uint32_t flags, THandle templateFile) override {
    Names.push_back(name);
    return TFileAPI::CreateFile(name, access, share, security, creation, flags, templateFile);
  }
  std::vector<WideString> Names;
};

}  // namespace

TEST(FileAPI, LongPathPrefix) {
  WideString local = u"C:\\" + WideString(297, u'a');
  EXPECT_EQ(AddLongPathPrefix(local), u"\\\\?\\" + local);
  WideString network = u"\\\\server\\share\\" + WideString(285, u'b');  // 300 characters
  EXPECT_EQ(AddLongPathPrefix(network), u"\\\\?\\UNC" + network.substr(1));
  WideString shortPath = u"C:\\" + WideString(244, u'c');  // 247 characters
  EXPECT_EQ(AddLongPathPrefix(shortPath), shortPath);
  EXPECT_EQ(AddLongPathPrefix(shortPath + u"c"), u"\\\\?\\" + shortPath + u"c");
  EXPECT_EQ(AddLongPathPrefix(u"\\\\?\\" + local), u"\\\\?\\" + local);
  EXPECT_EQ(StripLongPathPrefix(u"\\\\?\\unc\\srv\\x"), u"\\\\srv\\x");
  EXPECT_EQ(StripLongPathPrefix(u"\\\\?\\UNC\\"), u"UNC\\");  // 8 characters: not a network path
  for (const WideString& p : {local, network}) EXPECT_EQ(StripLongPathPrefix(AddLongPathPrefix(p)), p);
}

TEST(FileAPI, LongPathsWorkEndToEnd) {
  zmtest::TTempDir dir;
  WideString path = dir.Wide();
  while (path.size() < 300) path += u"\\folder-with-a-long-name";
  ASSERT_TRUE(ForceDirectories(path));
  WideString file = path + u"\\file.txt";
  OpenFileForWrite(file, true)->WriteAnsiString(TByteString("long"));
  EXPECT_EQ(OpenFileForRead(u"\\\\?\\" + file)->GetSize(), 4);
  EXPECT_TRUE(DeleteDirectory(dir.Wide("folder-with-a-long-name")));
  EXPECT_FALSE(dir.Exists("folder-with-a-long-name"));
}

TEST(FileAPI, TheReplaceableObjectCarriesEveryCall) {
  zmtest::TTempDir dir;
  dir.Write("x.txt", "x");
  TRef<TRecordingFileAPI> rec = MakeRef<TRecordingFileAPI>();
  {
    TFileAPISwap swap(rec);
    EXPECT_TRUE(ReadFile(dir.Wide("X.TXT")));
  }
  EXPECT_EQ(rec->Names, std::vector<WideString>{dir.Wide("X.TXT")});
  TRef<TFileAPI> none;
  TFileAPISwap swap(none);
  EXPECT_THROW(FileExists(u"x"), EAbort);  // no file layer: an assertion, no crash
}

TEST(FileAPI, FileErrorsCarryTheCode) {
  zmtest::TTempDir dir;
  WideString missing = dir.Wide("Nö such file");
  try {
    FileOpen(missing, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    FAIL() << "no exception";
  } catch (const EFileOpenError& e) {
    EXPECT_EQ(e.Message(), plat::ToUtf8(missing));
    EXPECT_EQ(e.WindowsCode(), ERROR_FILE_NOT_FOUND);
  }
  EXPECT_THROW(FileSeek(INVALID_HANDLE_VALUE, FILE_BEGIN, 0), EFileSeekError);
  EXPECT_THROW(FileClose(INVALID_HANDLE_VALUE), EFileWriteError);
  dir.Write("r.txt", "data");
  THandle h = FileOpen(dir.Wide("r.txt"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_THROW(FileWrite(h, "x", 1), EFileWriteError);
  EXPECT_THROW(SetFileSize(h, 1), EFileAccessError);
  EXPECT_EQ(FileSeek(h, FILE_CURRENT, 0), 0);  // the position came back
  EXPECT_THROW(FileSeek(h, FILE_BEGIN, -1), EFileSeekError);
  FileClose(h);
}

TEST(FileAPI, SystemQueries) {
  TFileAPI& api = FileAPI();
  WideString self;
  ASSERT_TRUE(api.GetModuleFileName(nullptr, self));
  EXPECT_EQ(self.find(u'/'), WideString::npos);
  EXPECT_FALSE(api.GetModuleFileName(&self, self));
  TByteString shortName;
  EXPECT_TRUE(api.GetShortPathName(u"\\tmp\\é.txt", shortName));
  EXPECT_EQ(shortName.Str(), "\\tmp\\\xC3\xA9.txt");
  EXPECT_FALSE(api.GetShortPathName(WideString(261, u'x'), shortName));
  zmtest::TTempDir dir;
  dir.Write("f1", "");
  dir.Write("f2", "");
  TWin32FindData d;
  THandle h = api.FindFirst(dir.Wide("F*"), d);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(api.FindNext(h, d));
  EXPECT_FALSE(api.FindNext(h, d));
  EXPECT_TRUE(api.FindClose(h));
  EXPECT_EQ(api.FindFirst(dir.Wide("none*"), d), INVALID_HANDLE_VALUE);
  EXPECT_EQ(WindowsErrorCode(plat::LastOSError()), ERROR_FILE_NOT_FOUND);
}
