#include "ZmLib/Graphics/Video/FFMpegApi.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <mutex>

#include "Platform/PlatUtf8.h"
#include "ZmLib/Win32/winSysUtils.h"
#include "ZmLib/_MyUtils.h"
#include "ZmLib/zmLog.h"

namespace zm {

namespace {

struct TLibrary {
  const char* Soname;
  unsigned Major;
};

// In load order: each library after the ones it depends on.
constexpr TLibrary kLibraries[] = {
    {"libavutil.so.57", LIBAVUTIL_VERSION_MAJOR},     {"libswresample.so.4", LIBSWRESAMPLE_VERSION_MAJOR},
    {"libswscale.so.6", LIBSWSCALE_VERSION_MAJOR},    {"libavcodec.so.59", LIBAVCODEC_VERSION_MAJOR},
    {"libavformat.so.59", LIBAVFORMAT_VERSION_MAJOR},
};
constexpr int kLibraryCount = 5;

struct TLoader {
  std::mutex Lock;
  WideString Folder;
  WideString TriedFolder;
  bool Tried = false;
  bool Loaded = false;
  bool Bound = false;  // Api holds a complete set (kept for the process)
  std::vector<std::string> TestNames;
  TFFApi Api;
  std::vector<void*> Handles;
  bool HardwareOn = true;
};

TLoader& Loader() {
  static TLoader* loader = new TLoader;  // outlives every static user
  return *loader;
}

struct THardware {
  std::mutex Lock;
  bool Initialised = false;
  bool Ready = false;
  AVHWDeviceType Type = AV_HWDEVICE_TYPE_NONE;
  AVPixelFormat PixelFormat = AV_PIX_FMT_NONE;
  WideString Status;
  AVBufferRef* Device = nullptr;
  std::atomic<std::int32_t> Holders{0};
};

THardware& Hardware() {
  static THardware* hw = new THardware;
  return *hw;
}

void LogText(const std::string& text) {
  try {
    LogLine(plat::FromUtf8(text));
  } catch (...) {
  }
}

std::string LibraryPath(const WideString& folder, const std::string& name) {
  if (folder.empty()) return name;
  std::string f = plat::ToUtf8(folder);
  if (f.back() != '\\' && f.back() != '/') f += '\\';
  return f + name;
}

// Loads the five libraries (folder first, then the system's search) and
// binds every entry point; all or nothing. A bare name is never looked for
// beside the program.
bool LoadSet(const WideString& folder, const std::vector<std::string>& names, TFFApi& api,
             std::vector<void*>& handles) {
  void* h[kLibraryCount] = {};
  const auto unload = [&] {
    for (void*& m : h)
      if (m) WinFreeLibrary(m), m = nullptr;
  };
  for (int i = 0; i < kLibraryCount; ++i) {
    const std::string name = i < int(names.size()) ? names[std::size_t(i)] : kLibraries[i].Soname;
    if (name.empty()) {
      unload();
      return false;
    }
    bool ok = !folder.empty() && LoadDll(h[i], plat::FromUtf8(LibraryPath(folder, name)));
    if (!ok) ok = LoadDll(h[i], plat::FromUtf8(name));
    if (!ok) {
      h[i] = nullptr;
      unload();
      return false;
    }
  }
  bool complete = true;
  const auto bind = [&](void* module, const char* symbol, auto*& field) {
    LoadDllProc(module, symbol, true, field);
    if (!field) complete = false;
  };
#define ZM_FF_BIND0(fn) bind(h[0], #fn, api.fn);
#define ZM_FF_BIND1(fn) bind(h[1], #fn, api.fn);
#define ZM_FF_BIND2(fn) bind(h[2], #fn, api.fn);
#define ZM_FF_BIND3(fn) bind(h[3], #fn, api.fn);
#define ZM_FF_BIND4(fn) bind(h[4], #fn, api.fn);
  ZM_FF_AVUTIL(ZM_FF_BIND0)
  ZM_FF_SWRESAMPLE(ZM_FF_BIND1)
  ZM_FF_SWSCALE(ZM_FF_BIND2)
  ZM_FF_AVCODEC(ZM_FF_BIND3)
  ZM_FF_AVFORMAT(ZM_FF_BIND4)
#undef ZM_FF_BIND0
#undef ZM_FF_BIND1
#undef ZM_FF_BIND2
#undef ZM_FF_BIND3
#undef ZM_FF_BIND4
  // A library of another generation lays its structures out differently.
  if (complete) {
    const unsigned majors[kLibraryCount] = {api.avutil_version() >> 16, api.swresample_version() >> 16,
                                            api.swscale_version() >> 16, api.avcodec_version() >> 16,
                                            api.avformat_version() >> 16};
    for (int i = 0; i < kLibraryCount; ++i)
      if (majors[i] != kLibraries[i].Major) complete = false;
  }
  if (!complete) {
    api = TFFApi{};
    unload();
    return false;
  }
  handles.assign(h, h + kLibraryCount);
  return true;
}

struct TStatusName {
  AVHWDeviceType Type;
  AVPixelFormat Format;
  const char* Name;
};
constexpr TStatusName kDeviceTypes[] = {
    {AV_HWDEVICE_TYPE_CUDA, AV_PIX_FMT_CUDA, "AV_HWDEVICE_TYPE_CUDA"},
    {AV_HWDEVICE_TYPE_DXVA2, AV_PIX_FMT_DXVA2_VLD, "AV_HWDEVICE_TYPE_DXVA2"},
    {AV_HWDEVICE_TYPE_VIDEOTOOLBOX, AV_PIX_FMT_VIDEOTOOLBOX, "AV_HWDEVICE_TYPE_VIDEOTOOLBOX"},
    {AV_HWDEVICE_TYPE_D3D11VA, AV_PIX_FMT_D3D11, "AV_HWDEVICE_TYPE_D3D11VA"},
};

void ReleaseDevice(THardware& hw) {
  if (hw.Device) FF().av_buffer_unref(&hw.Device);
  hw.Device = nullptr;
  hw.Ready = false;
}

// Once per load; every video decoder shares the device.
void InitHardwareDevice() {
  THardware& hw = Hardware();
  std::lock_guard<std::mutex> guard(hw.Lock);
  if (hw.Initialised) return;
  hw.Initialised = true;
  if (hw.Holders.fetch_add(1) + 1 >= 2 && hw.Device) return;
  const char* name = "dxva2";
  hw.Type = FF().av_hwdevice_find_type_by_name(name);
  hw.PixelFormat = AV_PIX_FMT_NONE;
  const char* status = "AV_HWDEVICE_TYPE_NONE";
  for (const TStatusName& t : kDeviceTypes)
    if (t.Type == hw.Type) hw.PixelFormat = t.Format, status = t.Name;
  AVBufferRef* device = nullptr;
  // A device type this FFmpeg was built without is not tried: there is no
  // such hardware here, and nothing to report.
  bool built = false;
  if (hw.Type != AV_HWDEVICE_TYPE_NONE)
    for (AVHWDeviceType t = FF().av_hwdevice_iterate_types(AV_HWDEVICE_TYPE_NONE); t != AV_HWDEVICE_TYPE_NONE;
         t = FF().av_hwdevice_iterate_types(t))
      built = built || t == hw.Type;
  bool created = built && FF().av_hwdevice_ctx_create(&device, hw.Type, nullptr, nullptr, 0) >= 0;
  if (built && !created) LogText("ffmpeg: Failed to create specified HW device.");
  if (hw.PixelFormat == AV_PIX_FMT_NONE) {
    LogText(std::string("ffmpeg: Cannot support \"") + name + "\" in this example.");
    created = false;
  }
  if (!created && device) FF().av_buffer_unref(&device);
  if (hw.Device) FF().av_buffer_unref(&hw.Device);
  hw.Device = device;
  hw.Ready = created;
  hw.Status = plat::FromUtf8(std::string(status) + (created ? "=OK" : "=Failed"));
}

// FFmpeg's own messages, warnings and worse, go to the log instead of the
// standard error. Called on FFmpeg's threads: never raises.
void LogCallback(void* avcl, int level, const char* fmt, va_list vl) {
  if (level > AV_LOG_WARNING || !fmt) return;
  try {
    char line[1024];
    thread_local int printPrefix = 1;
    va_list copy;
    va_copy(copy, vl);
    FF().av_log_format_line2(avcl, level, fmt, copy, line, int(sizeof line), &printPrefix);
    va_end(copy);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    if (!text.empty()) LogText("ffmpeg: " + text);
  } catch (...) {
  }
}

struct TErrorRow {
  std::int32_t Number;
  const char* Text;
};

// First match wins: on this system some names share a number
// (EWOULDBLOCK and EAGAIN, ENOTSUP and EOPNOTSUPP).
const TErrorRow kErrorRows[] = {
    // Windows sockets and name resolution.
    {-10004, "Interrupted function call"},
    {-10009, "File handle is not valid"},
    {-10013, "Permission denied"},
    {-10014, "Bad address"},
    {-10022, "Invalid argument / Invalid data found when processing input"},
    {-10024, "Too many open files"},
    {-10035, "Resource temporarily unavailable"},
    {-10036, "Operation now in progress"},
    {-10037, "Operation already in progress"},
    {-10038, "Socket operation on nonsocket"},
    {-10039, "Destination address required"},
    {-10040, "Message too long"},
    {-10041, "Protocol wrong type for socket"},
    {-10042, "Bad protocol option"},
    {-10043, "Protocol not supported"},
    {-10044, "Socket type not supported"},
    {-10045, "Operation not supported"},
    {-10046, "Protocol family not supported"},
    {-10047, "Address family not supported by protocol family"},
    {-10048, "Address already in use"},
    {-10049, "Cannot assign requested address"},
    {-10050, "Network is down"},
    {-10051, "Network is unreachable"},
    {-10052, "Network dropped connection on reset"},
    {-10053, "Software caused connection abort"},
    {-10054, "Connection reset by peer"},
    {-10055, "No buffer space available"},
    {-10056, "Socket is already connected"},
    {-10057, "Socket is not connected"},
    {-10058, "Cannot send after socket shutdown"},
    {-10059, "Too many references"},
    {-10060, "Connection timed out"},
    {-10061, "Connection refused"},
    {-10062, "Cannot translate name"},
    {-10063, "Name too long"},
    {-10064, "Host is down"},
    {-10065, "No route to host"},
    {-10066, "Directory not empty"},
    {-10067, "Too many processes"},
    {-10068, "User quota exceeded"},
    {-10069, "Disk quota exceeded"},
    {-10070, "Stale file handle reference"},
    {-10071, "Item is remote"},
    {-10091, "Network subsystem is unavailable"},
    {-10092, "Winsock.dll version out of range"},
    {-10093, "Successful WSAStartup not yet performed"},
    {-10101, "Graceful shutdown in progress"},
    {-10102, "No more results"},
    {-10103, "Call has been canceled"},
    {-10104, "Procedure call table is invalid"},
    {-10105, "Service provider is invalid"},
    {-10106, "Service provider failed to initialize"},
    {-10107, "System call failure"},
    {-10108, "Service not found"},
    {-10109, "Class type not found"},
    {-10110, "No more results"},
    {-10111, "Call was canceled"},
    {-10112, "Database query was refused"},
    {-11001, "Host not found"},
    {-11002, "Nonauthoritative host not found"},
    {-11003, "This is a nonrecoverable error"},
    {-11004, "Valid name, no data record of requested type"},
    // FFmpeg's own.
    {AVERROR_BSF_NOT_FOUND, "Bitstream filter not found"},
    {AVERROR_BUG, "Internal bug, should not have happened"},
    {AVERROR_BUG2, "Internal bug, should not have happened"},
    {AVERROR_BUFFER_TOO_SMALL, "Buffer too small"},
    {AVERROR_DECODER_NOT_FOUND, "Decoder not found"},
    {AVERROR_DEMUXER_NOT_FOUND, "Demuxer not found"},
    {AVERROR_ENCODER_NOT_FOUND, "Encoder not found"},
    {AVERROR_EOF, "End of file"},
    {AVERROR_EXIT, "Immediate exit requested"},
    {AVERROR_EXTERNAL, "Generic error in an external library"},
    {AVERROR_FILTER_NOT_FOUND, "Filter not found"},
    {AVERROR_INPUT_CHANGED, "Input changed"},
    {AVERROR_OUTPUT_CHANGED, "Output changed"},
    {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
    {AVERROR_MUXER_NOT_FOUND, "Muxer not found"},
    {AVERROR_OPTION_NOT_FOUND, "Option not found"},
    {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg, patches welcome"},
    {AVERROR_PROTOCOL_NOT_FOUND, "Protocol not found"},
    {AVERROR_STREAM_NOT_FOUND, "Stream not found"},
    {AVERROR_UNKNOWN, "Unknown error occurred"},
    {AVERROR_EXPERIMENTAL, "Experimental feature"},
    {AVERROR_HTTP_BAD_REQUEST, "Server returned 400 Bad Request"},
    {AVERROR_HTTP_UNAUTHORIZED, "Server returned 401 Unauthorized (authorization failed)"},
    {AVERROR_HTTP_FORBIDDEN, "Server returned 403 Forbidden (access denied)"},
    {AVERROR_HTTP_NOT_FOUND, "Server returned 404 Not Found"},
    {AVERROR_HTTP_OTHER_4XX, "Server returned 4XX Client Error, but not one of 40{0,1,3,4}"},
    {AVERROR_HTTP_SERVER_ERROR, "Server returned 5XX Server Error reply"},
    // System error numbers, by name: the numbers differ between systems.
    {AVERROR(ENOENT), "No such file or directory"},
    {AVERROR(ESRCH), "No such process"},
    {AVERROR(EINTR), "Interrupted function call"},
    {AVERROR(EIO), "I/O error"},
    {AVERROR(ENXIO), "No such device or address"},
    {AVERROR(E2BIG), "Arg list too long"},
    {AVERROR(ENOEXEC), "Exec format error"},
    {AVERROR(EBADF), "Bad file descriptor"},
    {AVERROR(ECHILD), "No child processes"},
    {AVERROR(EAGAIN), "Resource temporarily unavailable"},
    {AVERROR(ENOMEM), "Not enough space"},
    {AVERROR(EACCES), "Permission denied"},
    {AVERROR(EFAULT), "Bad address"},
    {AVERROR(EBUSY), "Resource device"},
    {AVERROR(EEXIST), "File exists"},
    {AVERROR(EXDEV), "Improper link"},
    {AVERROR(ENODEV), "No such device"},
    {AVERROR(ENOTDIR), "Not a directory"},
    {AVERROR(EISDIR), "Is a directory"},
    {AVERROR(EINVAL), "Invalid argument"},
    {AVERROR(ENFILE), "Too many open files in system"},
    {AVERROR(EMFILE), "Too many open files"},
    {AVERROR(ENOTTY), "Inappropriate I/O control operation"},
    {AVERROR(EFBIG), "File too large"},
    {AVERROR(ENOSPC), "No space left on device"},
    {AVERROR(ESPIPE), "Invalid seek"},
    {AVERROR(EROFS), "Read-only file system"},
    {AVERROR(EMLINK), "Too many links"},
    {AVERROR(EPIPE), "Broken pipe"},
    {AVERROR(EDOM), "Domain error"},
    {AVERROR(ERANGE), "Result too large"},
    {AVERROR(EDEADLK), "Resource deadlock avoided"},
    {AVERROR(ENAMETOOLONG), "Filename too long"},
    {AVERROR(ENOLCK), "No locks available"},
    {AVERROR(ENOSYS), "Function not implemented"},
    {AVERROR(ENOTEMPTY), "Directory not empty"},
    {AVERROR(EILSEQ), "Illegal byte sequence"},
    {AVERROR(EADDRINUSE), "Address in use"},
    {AVERROR(EADDRNOTAVAIL), "Address not available"},
    {AVERROR(EAFNOSUPPORT), "Address family not supported"},
    {AVERROR(EALREADY), "Connection already in progress"},
    {AVERROR(EBADMSG), "Bad message"},
    {AVERROR(ECANCELED), "Operation canceled"},
    {AVERROR(ECONNABORTED), "Connection aborted"},
    {AVERROR(ECONNREFUSED), "Connection refused"},
    {AVERROR(ECONNRESET), "Connection reset"},
    {AVERROR(EDESTADDRREQ), "Destination address required"},
    {AVERROR(EHOSTUNREACH), "Host unreachable"},
    {AVERROR(EIDRM), "Identifier removed"},
    {AVERROR(EINPROGRESS), "Operation in progress"},
    {AVERROR(EISCONN), "Already connected"},
    {AVERROR(ELOOP), "Too many symbolic link levels"},
    {AVERROR(EMSGSIZE), "Message size"},
    {AVERROR(ENETDOWN), "Network down"},
    {AVERROR(ENETRESET), "Network reset"},
    {AVERROR(ENETUNREACH), "Network unreachable"},
    {AVERROR(ENOBUFS), "No buffer space"},
    {AVERROR(ENODATA), "No message available"},
    {AVERROR(ENOLINK), "No link"},
    {AVERROR(ENOMSG), "No message"},
    {AVERROR(ENOPROTOOPT), "No protocol option"},
    {AVERROR(ENOSR), "No stream resources"},
    {AVERROR(ENOSTR), "Not a stream"},
    {AVERROR(ENOTCONN), "Not connected"},
    {AVERROR(ENOTRECOVERABLE), "State not recoverable"},
    {AVERROR(ENOTSOCK), "Not a socket"},
    {AVERROR(ENOTSUP), "Not supported"},
    {AVERROR(EOPNOTSUPP), "Operation not supported"},
    {AVERROR(EOVERFLOW), "Value too large"},
    {AVERROR(EOWNERDEAD), "Owner dead"},
    {AVERROR(EPROTO), "Protocol error"},
    {AVERROR(EPROTONOSUPPORT), "Protocol not supported"},
    {AVERROR(EPROTOTYPE), "Wrong protocol type"},
    {AVERROR(ETIME), "Stream timeout"},
    {AVERROR(ETIMEDOUT), "Timed out"},
    {AVERROR(ETXTBSY), "Text file busy"},
    {AVERROR(EWOULDBLOCK), "Operation would block"},
};

std::once_flag gFormatsOnce;

}  // namespace

const TFFApi& FF() { return Loader().Api; }

void SetFFmpegFolder(const WideString& folder) {
  TLoader& l = Loader();
  std::lock_guard<std::mutex> guard(l.Lock);
  l.Folder = folder;
}

WideString FFmpegFolder() {
  TLoader& l = Loader();
  std::lock_guard<std::mutex> guard(l.Lock);
  return l.Folder;
}

bool LoadFFmpegLibraries() {
  TLoader& l = Loader();
  bool loaded = false, initDevice = false;
  {
    std::lock_guard<std::mutex> guard(l.Lock);
    if (l.Tried && l.TriedFolder == l.Folder) return l.Loaded;
    l.Tried = true;
    l.TriedFolder = l.Folder;
    const WideString folder = l.Folder.empty() ? WideString() : ExpandFromCodeDir(l.Folder);
    TFFApi api;
    std::vector<void*> handles;
    l.Loaded = LoadSet(folder, l.TestNames, api, handles);
    if (l.Loaded) {
      if (l.Bound) {
        // Decoders may be running on the bound set: it stays, and the
        // second set only drops its references again.
        for (void* h : handles) WinFreeLibrary(h);
      } else {
        l.Api = api;
        l.Handles = std::move(handles);
        l.Bound = true;
      }
    }
    loaded = l.Loaded;
    initDevice = l.Loaded && l.HardwareOn;
  }
  // The device's creation already speaks through FFmpeg's log.
  if (loaded) PrepareFFmpegFormats();
  if (initDevice) InitHardwareDevice();
  return loaded;
}

void SetHardwareDecoding(bool on) {
  TLoader& l = Loader();
  std::lock_guard<std::mutex> guard(l.Lock);
  l.HardwareOn = on;
}

bool HardwareDecoding() {
  TLoader& l = Loader();
  std::lock_guard<std::mutex> guard(l.Lock);
  return l.HardwareOn;
}

void SetFFmpegLibraryNamesForTest(const std::vector<std::string>& names) {
  TLoader& l = Loader();
  std::lock_guard<std::mutex> guard(l.Lock);
  l.TestNames = names;
  l.Tried = false;
}

WideString FFmpegErrorText(const WideString& fileName, std::int32_t errorNumber) {
  std::string text;
  for (const TErrorRow& row : kErrorRows) {
    if (row.Number == errorNumber) {
      text = row.Text;
      break;
    }
  }
  if (text.empty()) text = "Error number " + std::to_string(errorNumber) + " occurred";
  WideString result = plat::FromUtf8(text);
  return fileName.empty() ? result : fileName + u": " + result;
}

void PrepareFFmpegFormats() {
  std::call_once(gFormatsOnce, [] {
    FF().av_log_set_level(AV_LOG_WARNING);
    FF().av_log_set_callback(&LogCallback);
  });
}

void AddHardwareHolder() { Hardware().Holders.fetch_add(1); }

void DropHardwareHolder() {
  THardware& hw = Hardware();
  std::lock_guard<std::mutex> guard(hw.Lock);
  if (hw.Holders.load() <= 0) return;
  if (hw.Holders.fetch_sub(1) == 1) ReleaseDevice(hw);
}

std::int32_t HardwareHolders() { return Hardware().Holders.load(); }

bool HardwareDeviceReady() {
  THardware& hw = Hardware();
  std::lock_guard<std::mutex> guard(hw.Lock);
  return hw.Ready && hw.Device;
}

AVBufferRef* HardwareDevice() {
  THardware& hw = Hardware();
  std::lock_guard<std::mutex> guard(hw.Lock);
  return hw.Ready ? hw.Device : nullptr;
}

AVPixelFormat HardwarePixelFormat() {
  THardware& hw = Hardware();
  std::lock_guard<std::mutex> guard(hw.Lock);
  return hw.PixelFormat;
}

WideString HardwareDeviceStatus() {
  THardware& hw = Hardware();
  std::lock_guard<std::mutex> guard(hw.Lock);
  return hw.Status;
}

void FiniFFmpegApi() {
  THardware& hw = Hardware();
  {
    std::lock_guard<std::mutex> guard(hw.Lock);
    if (!hw.Initialised) return;
    hw.Initialised = false;
  }
  DropHardwareHolder();
  // The next load initialises the device again.
  TLoader& l = Loader();
  std::lock_guard<std::mutex> guard(l.Lock);
  l.Tried = false;
}

}  // namespace zm
