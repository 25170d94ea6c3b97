/* iftiff.spi - Sorowa's TIFF decoder plug-in, on libtiff.
 *
 * Decodes the first page of a file through libtiff's RGBA interface (strips and tiles;
 * every compression, photometric interpretation and sample layout that interface reads)
 * into a bottom-up 24-bit BGR bitmap, transparency composited over white, turned upright as
 * the orientation tag says (the bitmap has the turned size). */
#include "sorowa/spi.h"

#include <stdio.h>
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

/* Working memory from the program's local memory, so that it counts against the program's
 * budget of decoded bytes like the bitmap itself; NULL when there is none. */
static void* working_block(uint32_t* handle, uint64_t bytes) {
    *handle = bytes <= 0xFFFFFFFFu ? LocalAlloc(LMEM_MOVEABLE, (uint32_t)bytes) : 0;
    return *handle ? LocalLock(*handle) : NULL;
}

static void release_block(uint32_t handle) {
    if (!handle) return;
    LocalUnlock(handle);
    LocalFree(handle);
}

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

/* Whether the orientation turns the picture a quarter round (or mirrors it along a
 * diagonal): rows become columns. */
static int transposed(uint16_t orientation) {
    return orientation >= ORIENTATION_LEFTTOP && orientation <= ORIENTATION_LEFTBOT;
}

int32_t IsSupported(const char* file_name, const void* data) {
    (void)file_name;
    return signature((const unsigned char*)data);
}

/* The file in memory, as libtiff's client procedures see it. */
struct source {
    const unsigned char* data;
    toff_t size, pos;
    int ran_out; /* a strip's data ended before its rows */
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

/* libtiff's messages are not shown anywhere; a failure shows in the results. One warning
 * matters: libjpeg, given a strip whose data ends early, says so and makes up the rest, as
 * much of it as the strip claims; the rows after it are left as a cut picture's. */
static int quiet(TIFF* tif, void* user, const char* module, const char* format, va_list args) {
    (void)tif;
    (void)user;
    (void)module;
    (void)format;
    (void)args;
    return 1;
}

static int watch_warnings(TIFF* tif, void* user, const char* module, const char* format,
                          va_list args) {
    char text[256];
    (void)tif;
    (void)module;
    vsnprintf(text, sizeof text, format, args);
    if (strstr(text, "Premature end of JPEG")) ((struct source*)user)->ran_out = 1;
    return 1;
}

static TIFF* open_tiff(struct source* s, const char* data, int32_t length) {
    TIFFOpenOptions* options;
    TIFF* tif;
    if (length < 8 || !signature((const unsigned char*)data)) return NULL;
    s->data = (const unsigned char*)data;
    s->size = (toff_t)length;
    s->pos = 0;
    s->ran_out = 0;
    options = TIFFOpenOptionsAlloc();
    if (!options) return NULL;
    TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, NULL);
    TIFFOpenOptionsSetWarningHandlerExtR(options, watch_warnings, s);
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
    uint16_t bits = 1, samples = 1, orientation = ORIENTATION_TOPLEFT;
    if (flag != SPI_INPUT_MEMORY) return SPI_NOT_SUPPORTED;
    tif = open_tiff(&s, data, length);
    if (!tif) return SPI_NOT_SUPPORTED;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    TIFFClose(tif);
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
        return SPI_BROKEN_DATA;
    memset(info, 0, sizeof *info);
    /* The size of the picture turned upright. */
    info->width = (int32_t)(transposed(orientation) ? height : width);
    info->height = (int32_t)(transposed(orientation) ? width : height);
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

/* Whether the picture can be read a scanline at a time, each strip decoded once from start
 * to end: strips (not tiles) of whole pixels in one plane, rows stored from the top or from
 * the bottom, and no subsampled YCbCr outside JPEG (libtiff hands JPEG's over as RGB; the
 * others come in blocks of rows). */
static int by_scanlines(TIFF* tif, const TIFFRGBAImage* image) {
    uint16_t horizontal = 1, vertical = 1;
    if (TIFFIsTiled(tif) || !image->isContig || !image->put.contig) return 0;
    if (image->orientation != ORIENTATION_TOPLEFT && image->orientation != ORIENTATION_BOTLEFT)
        return 0;
    if (image->photometric == PHOTOMETRIC_YCBCR) {
        TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &horizontal, &vertical);
        if (horizontal != 1 || vertical != 1) return 0;
    }
    return 1;
}

/* Whether the file's first row is the picture's bottom row. libtiff asked for another
 * vertical order turns every band upside down by itself, so the bands are asked for in the
 * file's order and put in place here. */
static int stored_bottom_up(const TIFFRGBAImage* image) {
    switch (image->orientation) {
    case ORIENTATION_BOTLEFT:
    case ORIENTATION_BOTRIGHT:
    case ORIENTATION_LEFTBOT:
    case ORIENTATION_RIGHTBOT:
        return 1;
    default:
        return 0;
    }
}

/* Rows per band on the other pictures. libtiff decodes a strip (or row of tiles) from its
 * start for every band that touches it, so bands that end inside one decode it again: bands
 * of whole strips, at least BAND rows, avoid that. When such a band would be too large, or
 * the strips are not known, as many rows as MAX_BAND_BYTES holds: the fewer bands, the fewer
 * times a tall strip is decoded again. */
static uint32_t band_rows(TIFF* tif, const TIFFRGBAImage* image) {
    uint32_t unit = 0, rows;
    uint64_t most = MAX_BAND_BYTES / ((uint64_t)image->width * 4);
    if (most < 1) most = 1;
    if (most > image->height) most = image->height;
    if (TIFFIsTiled(tif)) {
        if (!TIFFGetField(tif, TIFFTAG_TILELENGTH, &unit)) return (uint32_t)most;
    } else if (!TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &unit)) {
        return (uint32_t)most;
    }
    if (unit == 0) return (uint32_t)most;
    if (unit >= image->height) return (uint32_t)most;
    rows = (BAND + unit - 1) / unit * unit;
    return rows <= most ? rows : (uint32_t)most;
}

/* Where the rows go: bottom-up BGR rows at pixels, progress every BAND rows put. */
struct rows_out {
    unsigned char* pixels;
    uint32_t width, height, stride, done, reported, read; /* read: rows that came from data */
    ProgressCallback progress;
    int32_t user;
};

static unsigned char* row_at(const struct rows_out* out, uint32_t row) {
    return out->pixels + (size_t)(out->height - 1 - row) * out->stride;
}

/* One more row is in place; nonzero when asked to stop. */
static int row_done(struct rows_out* out) {
    ++out->done;
    if (out->done - out->reported < BAND && out->done != out->height) return 0;
    out->reported = out->done;
    return out->progress && out->progress((int32_t)out->done, (int32_t)out->height, out->user) != 0;
}

/* Counts rows [from, to) as done without writing them: they stay black; nonzero when asked to
 * stop. */
static int skip_rows(struct rows_out* out, uint32_t from, uint32_t to) {
    for (; from < to; ++from)
        if (row_done(out)) return 1;
    return 0;
}

/* Strip by strip, a scanline at a time. A row that fails (or whose data ended early) and the
 * rest of its strip stay black, as the missing part of a cut bitmap does, and cost nothing:
 * the block starts zeroed. The next strip is read again. */
static int32_t decode_scanlines(TIFF* tif, TIFFRGBAImage* image, struct source* s,
                                struct rows_out* out) {
    const tmsize_t scanline = TIFFScanlineSize(tif);
    const int bottom_up = stored_bottom_up(image);
    uint32_t strip_rows = 0, chunk = BAND, y, i, rows, zero_until = 0, good_rows;
    unsigned char good[BAND];
    unsigned char* raw;
    uint32_t* rgba;
    uint32_t raw_handle = 0, rgba_handle = 0;
    int32_t result = SPI_SUCCESS;
    if (scanline <= 0) return SPI_BROKEN_DATA;
    /* No real picture has rows this long (a header claiming thousands of samples a pixel). */
    if ((uint64_t)scanline > MAX_BAND_BYTES) return SPI_NO_MEMORY;
    if (!TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &strip_rows) || strip_rows == 0)
        strip_rows = out->height;
    /* Rows read at once: BAND, fewer when the file's rows are long (many samples). */
    if ((uint64_t)scanline * BAND > MAX_BAND_BYTES) chunk = (uint32_t)(MAX_BAND_BYTES / scanline);
    raw = (unsigned char*)working_block(&raw_handle, (uint64_t)scanline * chunk);
    rgba = (uint32_t*)working_block(&rgba_handle, (uint64_t)out->width * chunk * 4);
    if (!raw || !rgba) result = SPI_NO_MEMORY;
    for (y = 0; result == SPI_SUCCESS && y < out->height; y += rows) {
        rows = out->height - y < chunk ? out->height - y : chunk;
        good_rows = 0;
        for (i = 0; i < rows; ++i) {
            good[i] = 0;
            if (y + i < zero_until) continue;
            if (TIFFReadScanline(tif, raw + (size_t)i * (size_t)scanline, y + i, 0) >= 0 &&
                !s->ran_out) {
                good[i] = 1;
                ++good_rows;
            } else {
                const uint64_t next = ((uint64_t)(y + i) / strip_rows + 1) * strip_rows;
                zero_until = next < out->height ? (uint32_t)next : out->height;
                s->ran_out = 0;
            }
        }
        if (good_rows > 0) {
            /* Rows converted with the good ones but not kept: cleared, not left undefined. */
            for (i = 0; i < rows; ++i)
                if (!good[i]) memset(raw + (size_t)i * (size_t)scanline, 0, (size_t)scanline);
            image->put.contig(image, rgba, 0, 0, out->width, rows, 0, 0, raw);
        }
        for (i = 0; i < rows && result == SPI_SUCCESS; ++i) {
            const uint32_t row = bottom_up ? out->height - 1 - (y + i) : y + i;
            if (good[i]) {
                to_bgr(rgba + (size_t)i * out->width, row_at(out, row), out->width);
                ++out->read;
            }
            if (row_done(out)) result = SPI_ABORTED;
        }
    }
    release_block(raw_handle);
    release_block(rgba_handle);
    return result;
}

/* In bands through TIFFRGBAImageGet (tiles, planes apart, other orientations). A band libtiff
 * cannot read whole stays black; the next one is tried. */
static int32_t decode_bands(TIFF* tif, TIFFRGBAImage* image, struct source* s,
                            struct rows_out* out) {
    const uint32_t band_height = band_rows(tif, image);
    const int bottom_up = stored_bottom_up(image);
    uint32_t band_handle = 0;
    uint32_t* band = (uint32_t*)working_block(&band_handle, (uint64_t)out->width * band_height * 4);
    uint32_t y, i, rows;
    int32_t result = band ? SPI_SUCCESS : SPI_NO_MEMORY;
    for (y = 0; result == SPI_SUCCESS && y < out->height; y += rows) {
        rows = out->height - y < band_height ? out->height - y : band_height;
        image->row_offset = (int)y;
        image->col_offset = 0;
        if (!TIFFRGBAImageGet(image, band, out->width, rows)) {
            if (skip_rows(out, y, y + rows)) result = SPI_ABORTED;
            continue;
        }
        for (i = 0; i < rows && result == SPI_SUCCESS; ++i) {
            const uint32_t row = bottom_up ? out->height - 1 - (y + i) : y + i;
            to_bgr(band + (size_t)i * out->width, row_at(out, row), out->width);
            ++out->read;
            if (row_done(out)) result = SPI_ABORTED;
        }
        /* libjpeg made up the rest of a strip whose data ended, and would make it up again
         * for every band: the rows not reached stay black. */
        if (s->ran_out && result == SPI_SUCCESS) {
            if (skip_rows(out, y + rows, out->height)) result = SPI_ABORTED;
            break;
        }
    }
    release_block(band_handle);
    return result;
}

/* libtiff's RGBA interface flips rows and columns as an orientation asks but never swaps
 * them: it reads LEFTTOP as TOPLEFT, RIGHTTOP as TOPRIGHT, RIGHTBOT as BOTRIGHT and LEFTBOT
 * as BOTLEFT. What it gave is the upright picture mirrored along a diagonal: the main one
 * for LEFTTOP and RIGHTBOT, the other one for RIGHTTOP and LEFTBOT. Replaces *pixel_handle
 * (width x height) with the picture turned upright (height x width). */
static int32_t swap_rows_and_columns(uint16_t orientation, uint32_t* pixel_handle, uint32_t width,
                                     uint32_t height) {
    const int main_diagonal =
        orientation == ORIENTATION_LEFTTOP || orientation == ORIENTATION_RIGHTBOT;
    const uint32_t stride = (width * 3 + 3) / 4 * 4, turned_stride = (height * 3 + 3) / 4 * 4;
    /* Zeroed: the rows' padding. */
    const uint32_t turned = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, turned_stride * width);
    const unsigned char* from;
    unsigned char* to;
    uint32_t x, y;
    if (!turned) return SPI_NO_MEMORY;
    from = (const unsigned char*)LocalLock(*pixel_handle);
    to = (unsigned char*)LocalLock(turned);
    if (!from || !to) {
        if (from) LocalUnlock(*pixel_handle);
        LocalFree(turned);
        return SPI_MEMORY_ERROR;
    }
    /* Upright row y, column x, from row and column of the given picture; both bottom-up. */
    for (y = 0; y < width; ++y) {
        unsigned char* row = to + (size_t)(width - 1 - y) * turned_stride;
        for (x = 0; x < height; ++x) {
            const uint32_t sx = main_diagonal ? y : width - 1 - y;
            const uint32_t sy = main_diagonal ? x : height - 1 - x;
            memcpy(row + (size_t)x * 3, from + (size_t)(height - 1 - sy) * stride + (size_t)sx * 3,
                   3);
        }
    }
    LocalUnlock(*pixel_handle);
    LocalUnlock(turned);
    LocalFree(*pixel_handle);
    *pixel_handle = turned;
    return SPI_SUCCESS;
}

static int32_t decode(TIFF* tif, struct source* s, uint32_t* info_handle, uint32_t* pixel_handle,
                      ProgressCallback progress, int32_t user) {
    char message[1024];
    TIFFRGBAImage image;
    struct rows_out out;
    uint32_t width, height;
    unsigned char* header;
    int32_t result = SPI_SUCCESS;

    /* Stop at a read error: what could not be read is left out, not made up. */
    if (!TIFFRGBAImageOK(tif, message) || !TIFFRGBAImageBegin(&image, tif, 1, message))
        return SPI_BROKEN_DATA;
    image.req_orientation = stored_bottom_up(&image) ? ORIENTATION_BOTLEFT : ORIENTATION_TOPLEFT;
    width = image.width;
    height = image.height;
    if (width == 0 || height == 0 || (uint64_t)width * height > MAX_PIXELS) {
        TIFFRGBAImageEnd(&image);
        return width == 0 || height == 0 ? SPI_BROKEN_DATA : SPI_NO_MEMORY;
    }
    memset(&out, 0, sizeof out);
    out.width = width;
    out.height = height;
    out.stride = (width * 3 + 3) / 4 * 4;
    out.progress = progress;
    out.user = user;
    *info_handle = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 40);
    /* Zeroed: rows left unwritten are black. */
    *pixel_handle = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, out.stride * height);
    out.pixels = *pixel_handle ? (unsigned char*)LocalLock(*pixel_handle) : NULL;
    if (!*info_handle || !out.pixels)
        result = SPI_NO_MEMORY;
    else if (by_scanlines(tif, &image))
        result = decode_scanlines(tif, &image, s, &out);
    else
        result = decode_bands(tif, &image, s, &out);
    TIFFRGBAImageEnd(&image);
    /* Not one row of the picture in the file: broken, not a black picture. */
    if (result == SPI_SUCCESS && out.read == 0) result = SPI_BROKEN_DATA;
    if (out.pixels) LocalUnlock(*pixel_handle);
    if (result == SPI_SUCCESS && transposed(image.orientation)) {
        const uint32_t stored_width = width;
        /* A copy without progress reports: the decode's have reached the end already. */
        result = swap_rows_and_columns(image.orientation, pixel_handle, width, height);
        width = height;
        height = stored_width;
    }
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
    result = decode(tif, &s, &info_handle, &pixel_handle, progress, user);
    TIFFClose(tif);
    if (result == SPI_SUCCESS) {
        *bitmap_info = info_handle;
        *bitmap = pixel_handle;
    }
    return result;
}
