/* iftiff.spi - Sorowa's TIFF decoder plug-in, on libtiff.
 *
 * Decodes the first page of a file through libtiff's RGBA interface (strips and tiles;
 * every compression, photometric interpretation and sample layout that interface reads)
 * into a bottom-up 24-bit BGR bitmap, transparency composited over white. */
#include "sorowa/spi.h"

#include <stdlib.h>
#include <string.h>
#include <tiffio.h>

/* The largest picture the program takes: 2^28 pixels (16384 x 16384). */
#define MAX_PIXELS ((uint64_t)1 << 28)
/* Largest single allocation libtiff may make for a damaged file. */
#define MAX_LIBTIFF_ALLOCATION ((tmsize_t)512 << 20)
/* Rows per progress report, and per band when whole strips cannot be read at once. */
#define BAND 64
/* Most bytes of libtiff's RGBA rows held at once. */
#define MAX_BAND_BYTES ((uint64_t)64 << 20)

static const char* const info_texts[] = {"00IN", "Sorowa TIFF decoder (libtiff)", "*.tif;*.tiff",
                                         "TIFF picture"};

int32_t GetPluginInfo(int32_t index, char* buffer, int32_t length) {
    if (index < 0 || index >= (int32_t)(sizeof info_texts / sizeof info_texts[0]) || length < 1)
        return 0;
    strncpy(buffer, info_texts[index], (size_t)length - 1);
    buffer[length - 1] = '\0';
    return (int32_t)strlen(buffer);
}

static int signature(const unsigned char* p) {
    /* "II" or "MM", then 42 (classic TIFF) or 43 (BigTIFF) in that byte order. */
    return (p[0] == 'I' && p[1] == 'I' && (p[2] == 42 || p[2] == 43) && p[3] == 0) ||
           (p[0] == 'M' && p[1] == 'M' && p[2] == 0 && (p[3] == 42 || p[3] == 43));
}

int32_t IsSupported(const char* file_name, const void* data) {
    (void)file_name;
    return signature((const unsigned char*)data);
}

/* The file in memory, as libtiff's client procedures see it. */
struct source {
    const unsigned char* data;
    toff_t size, pos;
};

static tmsize_t read_proc(thandle_t handle, void* buffer, tmsize_t count) {
    struct source* s = (struct source*)handle;
    toff_t left = s->pos < s->size ? s->size - s->pos : 0;
    if (count <= 0) return 0;
    if ((toff_t)count > left) count = (tmsize_t)left;
    memcpy(buffer, s->data + s->pos, (size_t)count);
    s->pos += (toff_t)count;
    return count;
}

static tmsize_t write_proc(thandle_t handle, void* buffer, tmsize_t count) {
    (void)handle;
    (void)buffer;
    (void)count;
    return 0;
}

static toff_t seek_proc(thandle_t handle, toff_t offset, int whence) {
    struct source* s = (struct source*)handle;
    toff_t base = whence == SEEK_CUR ? s->pos : whence == SEEK_END ? s->size : 0;
    if (offset > (toff_t)INT64_MAX - base) return (toff_t)-1;
    s->pos = base + offset;
    return s->pos;
}

static int close_proc(thandle_t handle) {
    (void)handle;
    return 0;
}

static toff_t size_proc(thandle_t handle) {
    return ((struct source*)handle)->size;
}

static int map_proc(thandle_t handle, void** base, toff_t* size) {
    struct source* s = (struct source*)handle;
    *base = (void*)s->data;
    *size = s->size;
    return 1;
}

static void unmap_proc(thandle_t handle, void* base, toff_t size) {
    (void)handle;
    (void)base;
    (void)size;
}

/* libtiff's messages are not shown anywhere; a failure shows in the results. */
static int quiet(TIFF* tif, void* user, const char* module, const char* format, va_list args) {
    (void)tif;
    (void)user;
    (void)module;
    (void)format;
    (void)args;
    return 1;
}

static TIFF* open_tiff(struct source* s, const char* data, int32_t length) {
    TIFFOpenOptions* options;
    TIFF* tif;
    if (length < 8 || !signature((const unsigned char*)data)) return NULL;
    s->data = (const unsigned char*)data;
    s->size = (toff_t)length;
    s->pos = 0;
    options = TIFFOpenOptionsAlloc();
    if (!options) return NULL;
    TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, NULL);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, NULL);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, MAX_LIBTIFF_ALLOCATION);
    tif = TIFFClientOpenExt("memory", "r", (thandle_t)s, read_proc, write_proc, seek_proc,
                            close_proc, size_proc, map_proc, unmap_proc, options);
    TIFFOpenOptionsFree(options);
    return tif;
}

int32_t GetPictureInfo(const char* data, int32_t length, uint32_t flag, struct PictureInfo* info) {
    struct source s;
    TIFF* tif;
    uint32_t width = 0, height = 0;
    uint16_t bits = 1, samples = 1;
    if (flag != SPI_INPUT_MEMORY) return SPI_NOT_SUPPORTED;
    tif = open_tiff(&s, data, length);
    if (!tif) return SPI_NOT_SUPPORTED;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFClose(tif);
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
        return SPI_BROKEN_DATA;
    memset(info, 0, sizeof *info);
    info->width = (int32_t)width;
    info->height = (int32_t)height;
    info->colour_depth = (int16_t)(bits * samples);
    return SPI_SUCCESS;
}

/* Composites one band row (libtiff's premultiplied ABGR words) over white into BGR. */
static void to_bgr(const uint32_t* rgba, unsigned char* bgr, uint32_t width) {
    uint32_t x;
    for (x = 0; x < width; ++x, bgr += 3) {
        const uint32_t p = rgba[x], white = 255u - TIFFGetA(p);
        uint32_t r, g, b;
        if (white == 0) {
            bgr[0] = (unsigned char)TIFFGetB(p);
            bgr[1] = (unsigned char)TIFFGetG(p);
            bgr[2] = (unsigned char)TIFFGetR(p);
            continue;
        }
        r = TIFFGetR(p) + white;
        g = TIFFGetG(p) + white;
        b = TIFFGetB(p) + white;
        bgr[0] = (unsigned char)(b > 255 ? 255 : b);
        bgr[1] = (unsigned char)(g > 255 ? 255 : g);
        bgr[2] = (unsigned char)(r > 255 ? 255 : r);
    }
    /* The row's padding: up to 3 bytes, zero. */
    for (x = 0; (width * 3 + x) % 4 != 0; ++x)
        bgr[x] = 0;
}

/* Rows per band. libtiff decodes a strip (or row of tiles) from its start for every band that
 * touches it, so bands that end inside one decode it again: bands of whole strips, at least
 * BAND rows, avoid that. Only for pictures stored top row first, where libtiff turns no band
 * upside down, so that every band gives the same rows; otherwise, and when such a band would
 * be too large, BAND rows. */
static uint32_t band_rows(TIFF* tif, const TIFFRGBAImage* image) {
    uint32_t unit = 0, rows;
    if (image->orientation != ORIENTATION_TOPLEFT) return BAND;
    if (TIFFIsTiled(tif)) {
        if (!TIFFGetField(tif, TIFFTAG_TILELENGTH, &unit)) return BAND;
    } else if (!TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &unit)) {
        return BAND;
    }
    if (unit == 0) return BAND;
    if (unit >= image->height)
        return (uint64_t)image->width * image->height * 4 <= MAX_BAND_BYTES ? image->height : BAND;
    rows = (BAND + unit - 1) / unit * unit;
    return (uint64_t)image->width * rows * 4 <= MAX_BAND_BYTES ? rows : BAND;
}

static int32_t decode(TIFF* tif, uint32_t* info_handle, uint32_t* pixel_handle,
                      ProgressCallback progress, int32_t user) {
    char message[1024];
    TIFFRGBAImage image;
    uint32_t width, height, y, rows, stride, band_height, reported = 0;
    uint32_t* band = NULL;
    unsigned char *pixels, *header;
    int32_t result = SPI_SUCCESS;

    if (!TIFFRGBAImageOK(tif, message) || !TIFFRGBAImageBegin(&image, tif, 0, message))
        return SPI_BROKEN_DATA;
    image.req_orientation = ORIENTATION_TOPLEFT;
    width = image.width;
    height = image.height;
    if (width == 0 || height == 0 || (uint64_t)width * height > MAX_PIXELS) {
        TIFFRGBAImageEnd(&image);
        return width == 0 || height == 0 ? SPI_BROKEN_DATA : SPI_NO_MEMORY;
    }
    stride = (width * 3 + 3) / 4 * 4;
    band_height = band_rows(tif, &image);
    *info_handle = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 40);
    *pixel_handle = LocalAlloc(LMEM_MOVEABLE, stride * height); /* every byte written */
    band = (uint32_t*)malloc((size_t)width * band_height * 4);
    pixels = *pixel_handle ? (unsigned char*)LocalLock(*pixel_handle) : NULL;
    if (!*info_handle || !pixels || !band) result = SPI_NO_MEMORY;

    for (y = 0; result == SPI_SUCCESS && y < height; y += rows) {
        uint32_t i;
        rows = height - y < band_height ? height - y : band_height;
        image.row_offset = (int)y;
        image.col_offset = 0;
        if (!TIFFRGBAImageGet(&image, band, width, rows)) {
            result = SPI_BROKEN_DATA;
            break;
        }
        /* Progress every BAND rows whatever the band, each once its rows are in place. */
        for (i = 0; i < rows && result == SPI_SUCCESS; ++i) {
            const uint32_t done = y + i + 1;
            to_bgr(band + (size_t)i * width, pixels + (size_t)(height - 1 - (y + i)) * stride,
                   width);
            if (done - reported < BAND && done != height) continue;
            reported = done;
            if (progress && progress((int32_t)done, (int32_t)height, user) != 0)
                result = SPI_ABORTED;
        }
    }
    TIFFRGBAImageEnd(&image);
    free(band);
    if (pixels) LocalUnlock(*pixel_handle);
    if (result == SPI_SUCCESS) {
        header = (unsigned char*)LocalLock(*info_handle);
        header[0] = 40;
        memcpy(header + 4, &width, 4);
        memcpy(header + 8, &height, 4);
        header[12] = 1;
        header[14] = 24;
        LocalUnlock(*info_handle);
        return SPI_SUCCESS;
    }
    if (*info_handle) LocalFree(*info_handle);
    if (*pixel_handle) LocalFree(*pixel_handle);
    *info_handle = *pixel_handle = 0;
    return result;
}

int32_t GetPicture(const char* data, int32_t length, uint32_t flag, uint32_t* bitmap_info,
                   uint32_t* bitmap, ProgressCallback progress, int32_t user) {
    struct source s;
    TIFF* tif;
    uint32_t info_handle = 0, pixel_handle = 0;
    int32_t result;
    if (flag != SPI_INPUT_MEMORY) return SPI_NOT_SUPPORTED;
    tif = open_tiff(&s, data, length);
    if (!tif) return SPI_NOT_SUPPORTED;
    result = decode(tif, &info_handle, &pixel_handle, progress, user);
    TIFFClose(tif);
    if (result == SPI_SUCCESS) {
        *bitmap_info = info_handle;
        *bitmap = pixel_handle;
    }
    return result;
}
