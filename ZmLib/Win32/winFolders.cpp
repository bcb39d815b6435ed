#include "ZmLib/Win32/winFolders.h"

#include <cerrno>
#include <chrono>
#include <filesystem>

#include "Platform/PlatFiles.h"
#include "Platform/PlatSystem.h"
#include "ZmLib/Win32/winSysUtils.h"

namespace zm {

namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kEpochDiffSeconds = 11644473600LL;  // 1601 to 1970

// Days since 1970-01-01 of a civil date, and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + std::int64_t(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = unsigned(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = std::int64_t(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

// Seconds the local clock is ahead of UTC now, to the minute.
std::int64_t LocalOffsetSeconds() {
  TSystemTime l;
  WinGetLocalTime(l);
  std::int64_t local = DaysFromCivil(l.wYear, l.wMonth, l.wDay) * 86400 + l.wHour * 3600 + l.wMinute * 60 + l.wSecond;
  std::int64_t utc =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  std::int64_t off = local - utc;
  return (off >= 0 ? off + 30 : off - 30) / 60 * 60;
}

[[noreturn]] void RaiseFolder(const WideString& folder, std::int32_t osError) {
  std::string text = SysErrorMessage(osError) + " (" + plat::NativePath(folder) + ")";
  switch (plat::WindowsErrorCode(osError)) {
    case plat::kErrorPathNotFound:
    case plat::kErrorFileNotFound: throw EFolderNotFound(text, osError);
    case plat::kErrorAccessDenied: throw EFolderAccessDenied(text, osError);
    default: throw EFolderError(text, osError);
  }
}

WideString Join(const WideString& folder, const WideString& name) {
  if (folder.empty() || folder.back() == u'\\' || folder.back() == u'/') return folder + name;
  return folder + u"\\" + name;
}

void Fill(const TWin32FindData& d, TFileInfo& info) {
  info.Name = d.FileName;
  std::size_t dot = d.FileName.rfind(u'.');
  info.ExtPos = dot == WideString::npos ? 0 : std::int32_t(dot) + 1;
  info.ShortName = d.AlternateFileName.empty() ? d.FileName : d.AlternateFileName;
  info.Attributes = d.FileAttributes;
  info.Directory = (d.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.Size = d.FileSize;
  info.SizeOnDisk = d.FileSize;  // no compressed files here
  info.CreationTime = FileTimeToLocalTime(d.CreationTime);
  info.LastAccessTime = FileTimeToLocalTime(d.LastAccessTime);
  info.LastWriteTime = FileTimeToLocalTime(d.LastWriteTime);
}

// The target of a link, or empty.
WideString LinkTarget(const WideString& path) {
  std::error_code ec;
  std::filesystem::path native(plat::NativePath(path));
  std::filesystem::path t = std::filesystem::read_symlink(native, ec);
  if (ec) return {};
  if (t.is_relative()) t = native.parent_path() / t;
  return plat::FromNativePath(t.string());
}

}  // namespace

TSystemTime FileTimeToLocalTime(std::int64_t fileTime) {
  TSystemTime t;
  if (fileTime < 0) return t;
  std::int64_t secs = fileTime / kTicksPerSecond - kEpochDiffSeconds + LocalOffsetSeconds();
  std::int64_t ms = (fileTime % kTicksPerSecond) / 10000;
  std::int64_t days = secs >= 0 ? secs / 86400 : (secs - 86399) / 86400;
  std::int64_t rest = secs - days * 86400;
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  if (y < 1601 || y > 30827) return TSystemTime{};
  t.wYear = std::uint16_t(y);
  t.wMonth = std::uint16_t(m);
  t.wDay = std::uint16_t(d);
  t.wDayOfWeek = std::uint16_t(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  t.wHour = std::uint16_t(rest / 3600);
  t.wMinute = std::uint16_t(rest / 60 % 60);
  t.wSecond = std::uint16_t(rest % 60);
  t.wMilliseconds = std::uint16_t(ms);
  return t;
}

std::int32_t EnumerateFolder(const WideString& folder, const WideString& mask, const TFolderCallback& callback) {
  TFileAPI& api = FileAPI();
  std::int32_t attr = api.GetFileAttributes(folder);
  if (attr == INVALID_FILE_ATTRIBUTES) RaiseFolder(folder, plat::LastOSError());
  if (!(std::uint32_t(attr) & FILE_ATTRIBUTE_DIRECTORY)) RaiseFolder(folder, ENOTDIR);
  WideString where = folder;
  TWin32FindData d;
  THandle h = api.FindFirst(Join(where, mask), d);
  if (h == INVALID_HANDLE_VALUE) {
    std::int32_t err = plat::LastOSError();
    // A refused link is read through its target.
    if (plat::WindowsErrorCode(err) == plat::kErrorAccessDenied &&
        (std::uint32_t(attr) & FILE_ATTRIBUTE_REPARSE_POINT)) {
      WideString target = LinkTarget(folder);
      if (!target.empty()) {
        where = target;
        h = api.FindFirst(Join(where, mask), d);
        if (h == INVALID_HANDLE_VALUE) err = plat::LastOSError();
      }
    }
    if (h == INVALID_HANDLE_VALUE) {
      if (plat::WindowsErrorCode(err) == plat::kErrorFileNotFound) return 0;  // nothing matches
      RaiseFolder(folder, err);
    }
  }
  std::int32_t count = 0;
  try {
    bool stop = false;
    do {
      if (d.FileName == u"." || d.FileName == u"..") continue;
      TFileInfo info;
      Fill(d, info);
      if (callback && callback(info, stop)) ++count;
    } while (!stop && api.FindNext(h, d));
  } catch (...) {
    api.FindClose(h);
    throw;
  }
  api.FindClose(h);
  return count;
}

}  // namespace zm
