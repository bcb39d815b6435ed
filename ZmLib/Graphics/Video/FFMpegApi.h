#pragma once
// The FFmpeg libraries, loaded at run time: the player starts and plays
// pictures and PCM/MP3 music on a machine without them. Entry points are
// looked up by name and typed from the installed headers, and the sonames
// pin the generation those headers describe, so a mismatched library fails
// to load instead of corrupting memory.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/hwcontext.h>
#include <libavutil/imgutils.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <string>
#include <vector>

#include "ZmLib/zmTypes.h"

namespace zm {

// Every entry point the program calls, by library.
#define ZM_FF_AVUTIL(X)                                                                                          \
  X(avutil_version)                                                                                             \
  X(av_malloc) X(av_free) X(av_freep) X(av_realloc) X(av_fast_malloc) X(av_frame_alloc) X(av_frame_free)        \
  X(av_frame_unref) X(av_rescale_q) X(av_reduce) X(av_dict_get) X(av_display_rotation_get)                     \
  X(av_hwdevice_find_type_by_name) X(av_hwdevice_iterate_types) X(av_hwdevice_ctx_create) X(av_buffer_ref) X(av_buffer_unref)                \
  X(av_hwframe_transfer_data) X(av_image_get_buffer_size) X(av_image_fill_arrays) X(av_samples_get_buffer_size) \
  X(av_get_bytes_per_sample) X(av_channel_layout_default) X(av_channel_layout_compare)                          \
  X(av_channel_layout_copy) X(av_channel_layout_uninit) X(av_log_set_callback) X(av_log_set_level)             \
  X(av_log_format_line2) X(av_strerror) X(av_strdup)
#define ZM_FF_AVCODEC(X)                                                                                         \
  X(avcodec_version)                                                                                            \
  X(avcodec_find_decoder) X(avcodec_alloc_context3) X(avcodec_parameters_to_context) X(avcodec_free_context)    \
  X(avcodec_open2) X(avcodec_close) X(avcodec_send_packet) X(avcodec_receive_frame) X(avcodec_flush_buffers)   \
  X(av_packet_alloc) X(av_packet_free) X(av_packet_unref)
#define ZM_FF_AVFORMAT(X)                                                                                        \
  X(avformat_version)                                                                                           \
  X(avformat_alloc_context) X(avformat_open_input) X(avformat_find_stream_info) X(avformat_close_input)         \
  X(avio_alloc_context) X(avio_context_free) X(av_read_frame) X(avio_feof) X(av_seek_frame)                     \
  X(av_stream_get_side_data) X(av_probe_input_buffer2) X(av_index_search_timestamp) X(avformat_index_get_entry)
#define ZM_FF_SWSCALE(X) X(swscale_version) X(sws_getCachedContext) X(sws_scale) X(sws_freeContext)
#define ZM_FF_SWRESAMPLE(X) \
  X(swresample_version) X(swr_alloc_set_opts2) X(swr_init) X(swr_convert) X(swr_free) X(swr_get_delay)

#define ZM_FF_ALL(X) ZM_FF_AVUTIL(X) ZM_FF_AVCODEC(X) ZM_FF_AVFORMAT(X) ZM_FF_SWSCALE(X) ZM_FF_SWRESAMPLE(X)

// The bound entry points; all set once the libraries are loaded.
struct TFFApi {
#define ZM_FF_FIELD(fn) decltype(&::fn) fn = nullptr;
  ZM_FF_ALL(ZM_FF_FIELD)
#undef ZM_FF_FIELD
};

// The entry points. Only valid after LoadFFmpegLibraries answered true
// (every caller checks that first; the libraries are never unloaded while
// the program runs).
const TFFApi& FF();

// The folder the program's start-up located for the libraries; empty means
// the system's search path only. Relative folders resolve against the folder
// the program loads its own libraries from (CodeFolder), never against the
// program's own folder.
void SetFFmpegFolder(const WideString& folder);
WideString FFmpegFolder();

// Whether the libraries are loaded. The first call, and every call after the
// folder has changed, loads them (from the folder first, then the system's
// search path), caches the answer and, when loaded and hardware decoding is
// switched on, initialises the shared hardware device. Other calls answer the
// cached result. Thread-safe.
bool LoadFFmpegLibraries();

// Hardware decoding (on by default); read when the device is initialised.
void SetHardwareDecoding(bool on);
bool HardwareDecoding();

// The text of an FFmpeg error number ("Error number N occurred" when the
// table has no row for it), after "FileName: " when a file name is given.
WideString FFmpegErrorText(const WideString& fileName, std::int32_t errorNumber);

// Test seam: library file names tried instead of the standard sonames (in
// the order avutil, swresample, swscale, avcodec, avformat); an empty list
// restores them. Forces the next LoadFFmpegLibraries to load again.
void SetFFmpegLibraryNamesForTest(const std::vector<std::string>& names);

// Sets up what must be in place before the first format context (FFmpeg's
// own messages go to the log); later calls do nothing. Thread-safe.
void PrepareFFmpegFormats();

// The shared hardware device. Each video decoder holds it while it lives;
// the last holder releases it.
void AddHardwareHolder();
void DropHardwareHolder();
std::int32_t HardwareHolders();
// Whether the device was created; its reference (nil when not) and the
// hardware pixel format it implies (AV_PIX_FMT_NONE when none).
bool HardwareDeviceReady();
AVBufferRef* HardwareDevice();
AVPixelFormat HardwarePixelFormat();
// The status name of the device type, then "=OK" or "=Failed"; empty
// before the device was initialised.
WideString HardwareDeviceStatus();
// The unit's finalisation: drops the device's own holder. The next load
// initialises the device again.
void FiniFFmpegApi();

}  // namespace zm
