/* The interface between the player and its decoder plug-ins (liboruogg.so,
 * liboruwma.so). A plug-in exports exactly these five functions by these
 * names; the player refuses a library that lacks any of them.
 *
 * The plug-in reads the file only through the stream procedures it is given,
 * and hands decoded 16-bit little-endian interleaved PCM to the write
 * procedure. No function may raise or abort on a damaged stream: it answers
 * 0 (or a null decoder) instead. */
#ifndef ORU_PLUGIN_H
#define ORU_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)
/* The wave format record as files lay it out (18 bytes). */
typedef struct {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
} OruWaveFormatEx;
#pragma pack(pop)

/* The player's stream procedures; each takes the stream handle first.
 * Seek origins: 0 from the start, 1 from the current position, 2 counts the
 * offset BACK from the end (position = size - offset); any other origin is
 * an error in the caller. Seeks answer the new position, -1 on failure.
 * Reads answer the bytes read (0 at the end); keep single reads well below
 * 100 MiB. */
typedef struct {
  int32_t (*Read)(void* stream, void* buffer, int32_t count);
  int32_t (*GetPosition)(void* stream);
  int32_t (*Seek)(void* stream, int32_t offset, int32_t origin);
  int32_t (*GetSize)(void* stream);
  int64_t (*Read64)(void* stream, void* buffer, int64_t count);
  int64_t (*GetPosition64)(void* stream);
  int64_t (*Seek64)(void* stream, int64_t offset, int32_t origin);
  int64_t (*GetSize64)(void* stream);
} OruStreamCallbacks;

/* Appends bytes of PCM to the target. */
typedef void (*OruWriteProc)(void* target, const void* pcm, int32_t bytes);

#define ORU_EXPORT __attribute__((visibility("default")))

/* Nonzero when the plug-in can decode the stream; then fills the duration
 * (ms), the offset of the audio data and the format it delivers (PCM 16). */
ORU_EXPORT int32_t GetMediaInfo(void* stream, const OruStreamCallbacks* callbacks, int32_t* durationMs,
                                int32_t* dataOffset, OruWaveFormatEx* format);
/* A decoder over the stream (null on failure); reserved is 0. */
ORU_EXPORT void* CreateDecoder(void* stream, const OruStreamCallbacks* callbacks, OruWriteProc write, void* target,
                               int32_t reserved);
ORU_EXPORT void DestroyDecoder(void* decoder);
/* Decodes the next piece and writes it; answers the bytes written, 0 at the
 * end (or after an error: the rest of the stream is lost). */
ORU_EXPORT int32_t Decode(void* decoder);
/* Seeks to *ms and writes back the position reached; nonzero on success. */
ORU_EXPORT int32_t SetPosition(void* decoder, int32_t* ms);

#ifdef __cplusplus
}
#endif

#endif
