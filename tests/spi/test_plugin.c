/* One small plug-in, built in several variants (TP_VARIANT) for the host's tests.
 *
 * The picture variants decode a made-up format: "TPIC", then little-endian u16 width,
 * u16 height, u8 bits per pixel (4, 8 or 24), u8 mode (how the plug-in misbehaves, below).
 * Pixels are computed, not stored. Every call is reported to the test program through
 * SorowaTestPluginEvent when the program has one. */
#include "sorowa/spi.h"

#include <string.h>

#define TP_PICTURE 1      /* "00IN", *.tpi */
#define TP_MULTI 2        /* "00IN", several formats, a pattern list, a pattern without "." */
#define TP_LOWER 3        /* "00in" */
#define TP_ARCHIVE 4      /* "00AM" */
#define TP_NO_INFO 5      /* no GetPluginInfo */
#define TP_NO_PICTURE 6   /* "00IN" without GetPicture */
#define TP_HALF_PAIR 7    /* info text 2 but not 3 */
#define TP_SCRIPTED 8     /* info texts come from the test program */
#define TP_PICTURE_BMP 9  /* as TP_PICTURE, also claiming *.bmp */
#define TP_PICTURE_TOO 10 /* as TP_PICTURE under another name */

#ifndef TP_VARIANT
#define TP_VARIANT TP_PICTURE
#endif

/* Modes of the picture format. */
enum {
    MODE_NORMAL = 0,
    MODE_SHORT_PIXELS = 1,
    MODE_SHORT_INFO = 2,
    MODE_FREED_HANDLE = 3,
    MODE_UNKNOWN_HANDLE = 4,
    MODE_HUGE_HEADER = 5,
    MODE_FAIL = 6,
    MODE_INFO_TEXT = 7,
    MODE_ZERO_COLOURS = 8, /* 4 bits with 0 colours used */
};

extern void SorowaTestPluginEvent(const char* plugin, const char* event, const void* data,
                                  int value) __attribute__((weak));
extern int32_t SorowaTestPluginInfo(int32_t index, char* buffer, int32_t length)
    __attribute__((weak));

static void event(const char* name, const void* data, int value) {
    if (SorowaTestPluginEvent) SorowaTestPluginEvent(TP_NAME, name, data, value);
}

__attribute__((constructor)) static void loaded(void) {
    event("load", 0, 0);
}
__attribute__((destructor)) static void released(void) {
    event("release", 0, 0);
}

#if TP_VARIANT == TP_PICTURE || TP_VARIANT == TP_NO_PICTURE || TP_VARIANT == TP_PICTURE_TOO
static const char* const texts[]
    __attribute__((unused)) = {"00IN", TP_NAME, "*.tpi", "Test picture", 0};
#elif TP_VARIANT == TP_PICTURE_BMP
static const char* const texts[]
    __attribute__((unused)) = {"00IN", TP_NAME, "*.tpi;*.bmp", "Test picture", 0};
#elif TP_VARIANT == TP_MULTI
static const char* const texts[] __attribute__((unused)) = {
    "00IN", TP_NAME, "*.jpg;*.jpeg;*.jpe", "JPEG picture", "tpx", "No dot", "*.tpm", "Third", 0};
#elif TP_VARIANT == TP_LOWER
static const char* const texts[]
    __attribute__((unused)) = {"00in", TP_NAME, "*.low", "Lower case", 0};
#elif TP_VARIANT == TP_ARCHIVE
static const char* const texts[] __attribute__((unused)) = {"00AM", TP_NAME, "*.arc", "Archive", 0};
#elif TP_VARIANT == TP_HALF_PAIR
static const char* const texts[] __attribute__((unused)) = {"00IN", TP_NAME, "*.half", 0};
#else
static const char* const texts[] __attribute__((unused)) = {0};
#endif

#if TP_VARIANT != TP_NO_INFO
int32_t GetPluginInfo(int32_t index, char* buffer, int32_t length) {
    event("info", 0, index);
#if TP_VARIANT == TP_SCRIPTED
    (void)texts;
    return SorowaTestPluginInfo ? SorowaTestPluginInfo(index, buffer, length) : 0;
#else
    int32_t n;
    for (n = 0; n < index; ++n)
        if (!texts[n]) return 0;
    if (index < 0 || !texts[index] || length <= 0) return 0;
    strncpy(buffer, texts[index], (size_t)length);
    buffer[length - 1] = 0;
    return (int32_t)strlen(buffer);
#endif
}
#endif

static uint32_t u16(const unsigned char* p) {
    return (uint32_t)(p[0] | p[1] << 8);
}

int32_t IsSupported(const char* file_name, const void* data) {
    event("IsSupported", data, 0);
    event("IsSupportedName", file_name, 0);
    return memcmp(data, "TPIC", 4) == 0;
}

int32_t GetPictureInfo(const char* data, int32_t length, uint32_t flag, struct PictureInfo* info) {
    const unsigned char* p = (const unsigned char*)data;
    event("GetPictureInfo", data, length);
    if (flag != SPI_INPUT_MEMORY || length < 10 || memcmp(data, "TPIC", 4) != 0)
        return SPI_NOT_SUPPORTED;
    memset(info, 0, sizeof *info);
    info->width = (int32_t)u16(p + 4);
    info->height = (int32_t)u16(p + 6);
    info->colour_depth = p[8];
    info->x_density = info->y_density = 72;
    if (p[9] == MODE_INFO_TEXT) {
        info->text = LocalAlloc(LMEM_MOVEABLE, 5);
        memcpy(LocalLock(info->text), "Hello", 5); /* no NUL: read up to the block's size */
        LocalUnlock(info->text);
    }
    return SPI_SUCCESS;
}

#if TP_VARIANT == TP_ARCHIVE
int32_t GetArchiveInfo(void) {
    return 1;
}
int32_t GetFileInfo(void) {
    return 1;
}
int32_t GetFile(void) {
    return 1;
}
#endif

#if TP_VARIANT != TP_NO_PICTURE
static void header(unsigned char* h, int32_t width, int32_t height, int bits, uint32_t colours) {
    memset(h, 0, 40);
    h[0] = 40;
    memcpy(h + 4, &width, 4);
    memcpy(h + 8, &height, 4);
    h[12] = 1;
    h[14] = (unsigned char)bits;
    memcpy(h + 32, &colours, 4);
}

int32_t GetPicture(const char* data, int32_t length, uint32_t flag, uint32_t* bitmap_info,
                   uint32_t* bitmap, ProgressCallback progress, int32_t user) {
    const unsigned char* p = (const unsigned char*)data;
    int32_t width, height, x, y, bits, mode, stride;
    uint32_t colours, ih, ph;
    unsigned char *info, *pixels;
    event("GetPicture", data, length);
    if (flag != SPI_INPUT_MEMORY || length < 10 || memcmp(data, "TPIC", 4) != 0)
        return SPI_NOT_SUPPORTED;
    width = (int32_t)u16(p + 4);
    height = (int32_t)u16(p + 6);
    bits = p[8];
    mode = p[9];
    if (mode == MODE_FAIL) return SPI_BROKEN_DATA;
    colours = bits == 4 ? (mode == MODE_ZERO_COLOURS ? 0 : 16) : bits == 8 ? 256 : 0;
    stride = (width * bits + 31) / 32 * 4;
    ih = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 40 + 4 * (bits == 4 ? 16 : colours));
    ph = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, (uint32_t)(stride * height));
    if (!ih || !ph) return SPI_NO_MEMORY;
    info = (unsigned char*)LocalLock(ih);
    pixels = (unsigned char*)LocalLock(ph);
    header(info, mode == MODE_HUGE_HEADER ? 65535 : width,
           mode == MODE_HUGE_HEADER ? 65535 : height, bits, colours);
    for (x = 0; x < (bits == 4 ? 16 : (int32_t)colours); ++x) {
        info[40 + 4 * x] = (unsigned char)(x * 16);      /* blue */
        info[40 + 4 * x + 1] = (unsigned char)(255 - x); /* green */
        info[40 + 4 * x + 2] = (unsigned char)(x * 3);   /* red */
    }
    for (y = 0; y < height; ++y) {
        unsigned char* row = pixels + (height - 1 - y) * stride; /* bottom-up */
        for (x = 0; x < width; ++x) {
            if (bits == 24) {
                row[3 * x] = (unsigned char)(x * 2);
                row[3 * x + 1] = (unsigned char)(y * 4);
                row[3 * x + 2] = 77;
            } else if (bits == 8) {
                row[x] = (unsigned char)(x + y);
            } else {
                const unsigned v = (unsigned)(x + y) & 15u;
                row[x / 2] |= (unsigned char)(x % 2 ? v : v << 4);
            }
        }
        if (progress && progress(y + 1, height, user) != 0) {
            LocalUnlock(ih);
            LocalUnlock(ph);
            LocalFree(ih);
            LocalFree(ph);
            event("aborted", 0, y);
            return SPI_ABORTED;
        }
    }
    LocalUnlock(ih);
    LocalUnlock(ph);
    if (mode == MODE_SHORT_PIXELS || mode == MODE_SHORT_INFO) {
        /* Hand back a block smaller than the header says. */
        uint32_t shorter = LocalAlloc(LMEM_FIXED, mode == MODE_SHORT_INFO ? 20 : (uint32_t)stride);
        if (mode == MODE_SHORT_INFO) {
            LocalFree(ih);
            ih = shorter;
        } else {
            LocalFree(ph);
            ph = shorter;
        }
    } else if (mode == MODE_FREED_HANDLE) {
        LocalFree(ph);
    } else if (mode == MODE_UNKNOWN_HANDLE) {
        LocalFree(ph);
        ph = 0xDEADBEEFu;
    }
    *bitmap_info = ih;
    *bitmap = ph;
    return SPI_SUCCESS;
}
#endif
