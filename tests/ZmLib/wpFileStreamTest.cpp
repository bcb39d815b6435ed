#include "ZmLib/wpFileStream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "tests/support/TempDir.h"

using namespace zm;

namespace {

// A source that records the sizes asked of it.
class TRecordingSource : public TStream {
public:
  TRecordingSource(std::int64_t total, bool tellsSize) : total_(total), tellsSize_(tellsSize) {}
  std::int64_t GetPosition() override { return pos_; }
  void SetPosition(std::int64_t p) override { pos_ = p; }
  std::int64_t GetSize() override { return tellsSize_ ? total_ : -1; }
  void SetSize(std::int64_t) override {}
  std::int32_t Read(TReadBuffer b, std::int32_t count, std::int32_t offset) override {
    Asked.push_back(count);
    std::int32_t n = static_cast<std::int32_t>(std::min<std::int64_t>(count, total_ - pos_));
    for (std::int32_t i = 0; i < n; ++i) b[static_cast<std::size_t>(offset + i)] = static_cast<std::uint8_t>(i);
    pos_ += n;
    return n;
  }
  std::int32_t Write(TWriteBuffer, std::int32_t, std::int32_t) override { return 0; }
  std::vector<std::int32_t> Asked;

private:
  std::int64_t total_;
  bool tellsSize_;
  std::int64_t pos_ = 0;
};

std::string ReadAll(TStream& s) {
  std::string out(static_cast<std::size_t>(s.GetSize()), '\0');
  s.SetPosition(0);
  s.Read(TReadBuffer(reinterpret_cast<std::uint8_t*>(out.data()), out.size()));
  return out;
}

}  // namespace

TEST(Paths, ExtractAndChange) {
  EXPECT_EQ(ExtractFileExt(u"C:\\a.b\\c"), u"");
  EXPECT_EQ(ExtractFileExt(u"C:\\a\\c.tar.gz"), u".gz");
  EXPECT_EQ(ChangeFileExt(u"x.txt", u"log"), u"x.log");
  EXPECT_EQ(ChangeFileExt(u"dir.d\\x", u".log"), u"dir.d\\x.log");
  EXPECT_EQ(ExtractFilePath(u"C:\\dir\\", false), u"C:");
  EXPECT_EQ(ExtractFilePath(u"C:\\dir\\", true), u"C:\\");
  EXPECT_EQ(ExtractFileName(u"C:\\dir\\"), u"dir");
  EXPECT_EQ(ExtractFilePath(u"/tmp/show/x.jpg", false), u"/tmp/show");
  EXPECT_EQ(ExtractFileDrive(u"\\\\server\\share\\x\\y"), u"\\\\server\\share");
  EXPECT_EQ(ExtractFileDrive(u"\\\\\\share\\x"), u"");
  EXPECT_EQ(CombinePath(u"a\\", u"\\b"), u"a\\b");
  EXPECT_EQ(CombinePath(u"", u"\\b"), u"\\b");
  EXPECT_EQ(ExtractRelativePath(u"c:\\A\\B\\", u"C:\\a\\c\\f.txt"), u"..\\c\\f.txt");
  EXPECT_EQ(ExtractRelativePath(u"C:\\a\\", u"D:\\a\\f"), u"D:\\a\\f");
}

TEST(Folders, ForceDirectoriesAndDelete) {
  zmtest::TTempDir dir;
  EXPECT_FALSE(ForceDirectories(u""));
  EXPECT_TRUE(ForceDirectories(dir.Wide("a\\b\\c\\")));
  EXPECT_TRUE(DirectoryExists(dir.Wide("A\\B\\C")));
  dir.Write("file", "x");
  EXPECT_FALSE(ForceDirectories(dir.Wide("file\\sub")));  // a file is in the way
  EXPECT_FALSE(ForceDeleteFile(dir.Wide("missing")));
  FileAPI().SetFileAttributes(dir.Wide("file"), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(ForceDeleteFile(dir.Wide("FILE")));
  EXPECT_FALSE(dir.Exists("file"));
  // a folder cannot be deleted as a file: its attributes come back
  std::filesystem::create_directory(dir.Path() / "folder");
  EXPECT_THROW(ForceDeleteFile(dir.Wide("folder")), EFileAccessError);
  EXPECT_TRUE(DirectoryExists(dir.Wide("folder")));
  // a tree with read-only files and folders, and a link to a folder outside
  zmtest::TTempDir outside;
  outside.Write("keep.txt", "keep");
  dir.Write("tree/a.txt", "a");
  dir.Write("tree/sub/deeper/c.txt", "c");
  FileAPI().SetFileAttributes(dir.Wide("tree\\sub\\deeper\\c.txt"), FILE_ATTRIBUTE_READONLY);
  std::filesystem::create_directory_symlink(outside.Path(), dir.Path() / "tree" / "link");
  FileAPI().SetFileAttributes(dir.Wide("tree\\sub\\deeper"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(DeleteDirectory(dir.Wide("TREE\\")));
  EXPECT_FALSE(dir.Exists("tree"));
  EXPECT_EQ(outside.Read("keep.txt"), "keep");  // links are removed, never followed
  EXPECT_FALSE(DeleteDirectory(dir.Wide("missing")));
}

TEST(FileStream, ReadWriteSizeAndPosition) {
  zmtest::TTempDir dir;
  WideString name = dir.Wide("data.bin");
  TRef<TFileStream> f = MakeRef<TFileStream>(name, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
  f->WriteInteger(0x11223344);
  // 64-bit sizes and positions; SetSize keeps the position
  const std::int64_t big = 4294967297LL;
  f->SetSize(big);
  EXPECT_EQ(f->GetPosition(), 4);
  f->SetPosition(big - 1);
  f->WriteByte(7);
  EXPECT_EQ(f->GetSize(), big);
  f->SetSize(8);
  EXPECT_THROW(f->SetPosition(-1), EFileSeekError);
  // reads bounded by the caller's buffer; past the end nothing
  std::uint8_t buf[4];
  f->SetPosition(0);
  EXPECT_EQ(f->Read(TReadBuffer(buf), 100, 2), 2);
  EXPECT_EQ(f->Read(TReadBuffer(buf), 1, 4), 0);
  EXPECT_EQ(f->Read(TReadBuffer(buf), 1, -1), 0);
  f.reset();
  // errors of the file layer surface as stream errors with the same text
  TRef<TFileStream> r = MakeRef<TFileStream>(name, GENERIC_READ, OPEN_EXISTING);
  try {
    r->WriteByte(1);
    FAIL() << "no exception";
  } catch (const EStreamWriteError& e) {
    EXPECT_EQ(e.Message().find("Tavrel Exception"), std::string::npos);
  }
  r->Close();
  EXPECT_THROW(r->ReadByte(), EStreamReadError);
  EXPECT_THROW(r->GetSize(), EFileError);
  r->Clear();  // no file: nothing
}

TEST(FileStream, CopyFromBuffers) {
  zmtest::TTempDir dir;
  TRef<TFileStream> f = OpenFileForWrite(dir.Wide("copy.bin"), true);
  // a small copy uses the 32768-byte stack buffer
  TRef<TRecordingSource> small = MakeRef<TRecordingSource>(40000, true);
  EXPECT_EQ(f->CopyFrom(small.get(), 40000), 40000);
  EXPECT_EQ(small->Asked, (std::vector<std::int32_t>{32768, 7232}));
  // a large one a heap buffer of its own size
  TRef<TRecordingSource> large = MakeRef<TRecordingSource>(2000000, true);
  EXPECT_EQ(f->CopyFrom(large.get(), 5000000), 2000000);
  EXPECT_EQ(large->Asked, (std::vector<std::int32_t>{2000000}));
  // a source that cannot tell its size: a 1048577-byte buffer until it runs dry
  TRef<TRecordingSource> unknown = MakeRef<TRecordingSource>(1500000, false);
  EXPECT_EQ(f->CopyFrom(unknown.get(), 3000000), 1500000);
  EXPECT_EQ(unknown->Asked, (std::vector<std::int32_t>{1048577, 1048577, 1048577}));
  EXPECT_EQ(f->CopyFrom(unknown.get(), 10), 0);  // nothing left
  EXPECT_EQ(f->CopyFrom(nullptr, 10), 0);
  EXPECT_EQ(MakeRef<TFileStream>()->CopyFrom(large.get(), 10), 0);  // no file
}

TEST(FileStream, OpenHelpersSaveAndHooks) {
  zmtest::TTempDir dir;
  dir.Write("Show/Pictures/Photo.JPG", "picture");
  EXPECT_FALSE(OpenFileForRead(dir.Wide("none.jpg")));
  // a show made on Windows names the file its own way
  EXPECT_EQ(ReadAll(*OpenFileForRead(u"\\\\?\\" + dir.Wide("SHOW\\pictures\\photo.jpg"))), "picture");
  TRef<TFileStream> w = OpenFileForWrite(dir.Wide("Show\\Pictures\\PHOTO.jpg"), false);
  EXPECT_EQ(w->GetSize(), 7);  // opened, not emptied
  w->WriteAnsiString(TByteString("P"));
  w.reset();
  EXPECT_EQ(dir.Read("Show/Pictures/Photo.JPG"), "Picture");
  TRef<TStringStream> src = MakeRef<TStringStream>(TByteString("saved text"));
  src->SetPosition(3);
  EXPECT_TRUE(SaveStreamToFile(src.get(), dir.Wide("saved.txt")));
  EXPECT_EQ(dir.Read("saved.txt"), "saved text");
  EXPECT_THROW(SaveStreamToFile(src.get(), dir.Wide("no\\such\\folder\\x")), EFileOpenError);
  EXPECT_FALSE(ReadFile(dir.Wide("missing.txt")));
  TRef<TStream> hook = WriteFile(dir.Wide("SAVED.TXT"), false);
  hook->SetPosition(hook->GetSize());
  hook->WriteAnsiString(TByteString("!"));
  hook.reset();
  EXPECT_EQ(dir.Read("saved.txt"), "saved text!");
}

TEST(FileStream, Resources) {
  TRef<TResourceStream> logo = OpenResourceStream(u"Logo");
  ASSERT_TRUE(logo);
  EXPECT_EQ(logo->GetSize(), 8);
  EXPECT_FALSE(OpenResourceStream(u"Logo", "ICC"));
  EXPECT_FALSE(OpenResourceStream(u"Empty"));  // size below 1
  EXPECT_FALSE(OpenResourceStream(u"Nothing"));
  TRef<TStream> s = ReadFile(u"res:Logo.png");  // the prefix ignores case; the name stops at "."
  ASSERT_TRUE(s);
  EXPECT_EQ(ReadAll(*s), std::string("LOGO\0\x01\x02\xFF", 8));
  EXPECT_TRUE(ReadFile(u"Res:logo.a.b"));
  EXPECT_FALSE(ReadFile(u"RES:Missing.png"));
  EXPECT_FALSE(ReadFile(u"RES:"));
  EXPECT_FALSE(ReadFile(u"RE"));
}
