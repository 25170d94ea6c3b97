/*
 * sorowa/spi.h - the interface between Sorowa and its picture decoder plug-ins.
 *
 * A plug-in is a shared object named "*.spi", built with nothing but
 *
 *     cc -shared -fPIC -o ifxyz.spi ifxyz.c
 *
 * It exports the entry points below with C linkage and default visibility. The program
 * exports the local-memory functions (LocalAlloc ... LocalFree): a plug-in's references to
 * them are resolved when the program loads it, so a plug-in links against nothing of ours.
 * See docs/plugins.md for a complete example.
 */
#ifndef SOROWA_SPI_H
#define SOROWA_SPI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define SOROWA_SPI_EXPORT __attribute__((visibility("default")))
#else
#define SOROWA_SPI_EXPORT
#endif

/* Results of IsSupported: non-zero means "I can decode this". Results of GetPictureInfo
 * and GetPicture: 0 is success, anything else a failure; these are the usual ones. */
#define SPI_SUCCESS 0
#define SPI_ABORTED 1       /* the progress callback asked to stop */
#define SPI_NOT_SUPPORTED 2 /* not a format of this plug-in */
#define SPI_BROKEN_DATA 3   /* the data is damaged or ends early */
#define SPI_NO_MEMORY 4     /* LocalAlloc failed */
#define SPI_MEMORY_ERROR 5  /* LocalLock failed */
#define SPI_INTERNAL_ERROR 8

/* Input flag of GetPictureInfo and GetPicture: the data is in memory. The program always
 * passes it. */
#define SPI_INPUT_MEMORY 1

/* Picture information, packed to 26 bytes. */
#pragma pack(push, 1)
struct PictureInfo {
    int32_t left;         /* 0 */
    int32_t top;          /* 4 */
    int32_t width;        /* 8 */
    int32_t height;       /* 12 */
    uint16_t x_density;   /* 16: horizontal pixels per inch, 0 if unknown */
    uint16_t y_density;   /* 18 */
    int16_t colour_depth; /* 20: bits per pixel */
    uint32_t text;        /* 22: local-memory handle of a NUL-ended text, or 0 */
};
#pragma pack(pop)

#if defined(__cplusplus)
static_assert(sizeof(struct PictureInfo) == 26, "PictureInfo must be 26 bytes");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(struct PictureInfo) == 26, "PictureInfo must be 26 bytes");
#endif

/* Called by the plug-in while GetPicture decodes: numerator / denominator of the work done,
 * and the user value that GetPicture received. Returns 0 to go on, 1 to ask the plug-in to
 * stop (GetPicture then returns SPI_ABORTED). */
typedef int32_t (*ProgressCallback)(int32_t numerator, int32_t denominator, int32_t user);

/* ---- Local memory, exported by the program ---------------------------------------------
 * Handles are non-zero 32-bit values issued by the program. Blocks never move; still, a
 * plug-in always calls LocalLock to reach the memory, also for LMEM_FIXED blocks. A handle
 * that GetPicture or GetPictureInfo hands back belongs to the program from then on. */
#define LMEM_FIXED 0x0
#define LMEM_MOVEABLE 0x2
#define LMEM_ZEROINIT 0x40

/* 0 when the block cannot be allocated. */
SOROWA_SPI_EXPORT uint32_t LocalAlloc(uint32_t flags, uint32_t bytes);
/* NULL for an unknown handle. */
SOROWA_SPI_EXPORT void* LocalLock(uint32_t handle);
/* Non-zero while the block is still locked. */
SOROWA_SPI_EXPORT int32_t LocalUnlock(uint32_t handle);
/* 0 for an unknown handle. */
SOROWA_SPI_EXPORT uint32_t LocalSize(uint32_t handle);
/* 0 on success, the handle on failure. */
SOROWA_SPI_EXPORT uint32_t LocalFree(uint32_t handle);

/* ---- Entry points, exported by the plug-in ---------------------------------------------- */

/* Info text number index into buffer (length bytes at most, NUL included); returns the
 * length written without the NUL, or 0 when there is no such text. Index 0: API version
 * ("00IN" for a picture decoder); 1: plug-in name; 2n+2: file patterns of format n
 * separated by ";" (such as "*.png"); 2n+3: that format's description. */
SOROWA_SPI_EXPORT int32_t GetPluginInfo(int32_t index, char* buffer, int32_t length);

/* Non-zero when the plug-in can decode the data. file_name may be empty; data points to at
 * least 2048 bytes (zero-filled past the end of shorter data). */
SOROWA_SPI_EXPORT int32_t IsSupported(const char* file_name, const void* data);

/* Fills info for the picture in data[0 .. length). flag is SPI_INPUT_MEMORY. */
SOROWA_SPI_EXPORT int32_t GetPictureInfo(const char* data, int32_t length, uint32_t flag,
                                         struct PictureInfo* info);

/* Decodes data[0 .. length) into two new local-memory blocks: *bitmap_info receives a
 * 40-byte BITMAPINFOHEADER followed by its colour table, *bitmap the rows it describes
 * (bottom row first unless the height is negative, each padded to a multiple of 4 bytes).
 * Calls progress (when not NULL) with user as it goes. Returns 0 with both handles set, or
 * an error with neither touched. */
SOROWA_SPI_EXPORT int32_t GetPicture(const char* data, int32_t length, uint32_t flag,
                                     uint32_t* bitmap_info, uint32_t* bitmap,
                                     ProgressCallback progress, int32_t user);

/* Optional. As GetPicture, for a small copy of the picture that the file itself carries (a
 * camera's thumbnail): quick to decode, shown only until GetPicture's picture arrives.
 * Returns an error, with neither handle touched, when the file has none. */
SOROWA_SPI_EXPORT int32_t GetPreview(const char* data, int32_t length, uint32_t flag,
                                     uint32_t* bitmap_info, uint32_t* bitmap,
                                     ProgressCallback progress, int32_t user);

#ifdef __cplusplus
}
#endif

#endif /* SOROWA_SPI_H */
