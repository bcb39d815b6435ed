#pragma once
// Path and folder functions, TFileStream (a stream over a file with 64-bit
// positions), TResourceStream, and the ReadFile/WriteFile hooks that give
// "RES:" names their meaning.
//
// Paths are wide strings; both "\" and "/" separate folders, and "\" is
// written where a separator is added. Paths read back from the system
// (ProgramFile, GetCurrentDir) use "\".
#include <cstdint>
#include <string_view>

#include "ZmLib/Win32/winFileAPI.h"
#include "ZmLib/zmStream.h"

namespace zm {

// The program's full path and its folder with a trailing "\".
extern WideString ProgramFile;
extern WideString ProgramDir;

// ---- Paths -----------------------------------------------------------------------
WideString IncludeTrailingBackslash(const WideString& path);
WideString ExcludeTrailingBackslash(const WideString& path);
// "X:", the "\\server\share" of a network path, else empty.
WideString ExtractFileDrive(const WideString& path);
// The part before the last separator (a separator at the very end is not
// counted), with or without that separator.
WideString ExtractFilePath(const WideString& path, bool withBackslash = true);
WideString ExtractFileName(const WideString& path);
// From the last "." after the last separator, dot included.
WideString ExtractFileExt(const WideString& path);
WideString ChangeFileExt(const WideString& name, const WideString& ext);
WideString CombinePath(const WideString& folder, const WideString& name);
// Dest relative to the folder of base (a folder ends with a separator),
// when both are on the same drive; else dest unchanged.
WideString ExtractRelativePath(const WideString& base, const WideString& dest);
WideString GetCurrentDir(bool withBackslash);
bool SetCurrentDir(const WideString& path);

// ---- Folders -----------------------------------------------------------------------
bool FileExists(const WideString& name);
bool DirectoryExists(const WideString& name);
// The size of an existing file (not a folder) without opening it; -1 when
// there is none.
std::int64_t FileSizeOf(const WideString& name);
bool ForceDirectories(const WideString& path);
// Deletes a file, clearing its read-only attribute when needed; false when
// it does not exist; EFileAccessError when it cannot be deleted.
bool ForceDeleteFile(const WideString& name);
// Deletes a folder with everything in it (read-only files too). Links are
// removed, never followed. An empty path gives true.
bool DeleteDirectory(const WideString& path);

// ---- TFileStream -------------------------------------------------------------------

class TFileStream : public TStream {
public:
  TFileStream() = default;  // no file open
  // Raises EFileOpenError (the message is the name) when the file cannot be opened.
  TFileStream(const WideString& name, std::uint32_t access, std::uint32_t creation,
              std::uint32_t share = FILE_SHARE_READ);
  void Dispose() override;

  // Closes any open file, then opens this one.
  void Open(const WideString& name, std::uint32_t access, std::uint32_t creation,
            std::uint32_t share = FILE_SHARE_READ);
  void Close();

  std::int64_t GetPosition() override;
  void SetPosition(std::int64_t p) override;
  std::int64_t GetSize() override;
  void SetSize(std::int64_t n) override;  // the position stays
  void Clear() override;
  std::int64_t CopyFrom(TStream* source, std::int64_t count) override;
  // One OS read or write; file errors surface as EStreamReadError /
  // EStreamWriteError with the same message.
  std::int32_t Read(TReadBuffer buffer, std::int32_t count, std::int32_t offset) override;
  std::int32_t Write(TWriteBuffer buffer, std::int32_t count, std::int32_t offset) override;
  using TStream::Read;
  using TStream::Write;

  THandle Handle() const { return handle_; }
  std::uint32_t Access() const { return access_; }
  std::uint32_t Share() const { return share_; }
  const WideString& FileName() const { return fileName_; }
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
  THandle handle_ = INVALID_HANDLE_VALUE;
  std::uint32_t access_ = 0;
  std::uint32_t share_ = 0;
  WideString fileName_;
};

// A memory stream holding a copy of a program resource.
class TResourceStream : public TMemoryStream {
public:
  TResourceStream() = default;
};

// A stream for reading an existing file (shared for reading), or nil when
// the file does not exist.
TRef<TFileStream> OpenFileForRead(const WideString& name);
// A show's file (picture, video, music, voice, font) for reading with the
// share mode given; nil when it cannot be opened. The file layer refuses
// what is no regular file (a read of a device or a pipe may never end):
// such a name is logged once, with what it is.
TRef<TFileStream> OpenMediaFile(const WideString& name, std::uint32_t share);
// A stream for reading and writing, created anew when truncate is set,
// else opened or created.
TRef<TFileStream> OpenFileForWrite(const WideString& name, bool truncate);
// Writes the whole source into the file (the source keeps its position).
bool SaveStreamToFile(TStream* source, const WideString& name);
// A copy of the program resource of that type and name (the name ignores
// letter case), at position 0; nil when it is missing or empty.
TRef<TResourceStream> OpenResourceStream(const WideString& name, std::string_view resourceType = "RCDATA");

// The values of the ReadFile and WriteFile hooks: "RES:Name.ext" (the prefix
// in any letter case) opens the RCDATA resource "Name"; anything else is a file.
TRef<TStream> ReadFileHook(const WideString& name);
TRef<TStream> WriteFileHook(const WideString& name, bool truncate);

void InitFileStream();
void FiniFileStream();

}  // namespace zm
