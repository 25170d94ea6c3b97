/* ifwebp.spi - Sorowa's WebP decoder plug-in, on libwebp.
 *
 * Lossy and lossless, still and animated (the first frame, composed on its canvas as an
 * animation player shows it) become a bottom-up 24-bit BGR bitmap, alpha composited over
 * white. An Exif orientation of 2 to 8 in the file's EXIF chunk is applied: the bitmap is
 * the picture turned upright, its size the turned one. libwebp has no colour management:
 * an ICC profile is left unapplied and the samples are taken as sRGB. */
#include "sorowa/spi.h"

#include <string.h>
#include <webp/decode.h>
#include <webp/demux.h>

/* The largest picture the program takes: 2^28 pixels (16384 x 16384). */
#define MAX_PIXELS ((uint64_t)1 << 28)
/* Rows per progress report. */
#define BAND 64
/* Exif tag number of the orientation, and its SHORT type. */
#define EXIF_ORIENTATION 0x0112
#define EXIF_SHORT 3

static const char* const info_texts[] = {"00IN", "Sorowa WebP decoder (libwebp)", "*.webp",
                                         "WebP picture"};

int32_t GetPluginInfo(int32_t index, char* buffer, int32_t length) {
    if (index < 0 || index >= (int32_t)(sizeof info_texts / sizeof info_texts[0]) || length < 1)
        return 0;
    strncpy(buffer, info_texts[index], (size_t)length - 1);
    buffer[length - 1] = '\0';
    return (int32_t)strlen(buffer);
}

static int signature(const unsigned char* p) {
    return memcmp(p, "RIFF", 4) == 0 && memcmp(p + 8, "WEBP", 4) == 0;
}

int32_t IsSupported(const char* file_name, const void* data) {
    (void)file_name;
    return signature((const unsigned char*)data);
}

static uint32_t get16(const uint8_t* p, int big) {
    return big ? (uint32_t)p[0] << 8 | p[1] : (uint32_t)p[1] << 8 | p[0];
}

static uint32_t get32(const uint8_t* p, int big) {
    return big ? get16(p, 1) << 16 | get16(p + 2, 1) : get16(p + 2, 0) << 16 | get16(p, 0);
}

/* The orientation tag of the first IFD of an Exif block (a TIFF structure, with or without
 * the "Exif\0\0" prefix JPEG's APP1 puts before it); 1 when there is none or the block is
 * damaged. */
static int exif_orientation(const uint8_t* exif, size_t size) {
    uint32_t ifd, count, i;
    int big;
    if (size >= 6 && memcmp(exif, "Exif\0\0", 6) == 0) {
        exif += 6;
        size -= 6;
    }
    if (size < 8) return 1;
    if (memcmp(exif, "II*\0", 4) == 0)
        big = 0;
    else if (memcmp(exif, "MM\0*", 4) == 0)
        big = 1;
    else
        return 1;
    ifd = get32(exif + 4, big);
    if (ifd > size - 2) return 1;
    count = get16(exif + ifd, big);
    for (i = 0; i < count; ++i) {
        const size_t at = (size_t)ifd + 2 + (size_t)i * 12;
        uint32_t value;
        if (at > size - 12) return 1;
        if (get16(exif + at, big) != EXIF_ORIENTATION) continue;
        if (get16(exif + at + 2, big) != EXIF_SHORT || get32(exif + at + 4, big) != 1) return 1;
        value = get16(exif + at + 8, big);
        return value >= 1 && value <= 8 ? (int)value : 1;
    }
    return 1;
}

/* Where the pixel (x, y) of the upright picture lies in the stored one of width w and
 * height h, for each Exif orientation. */
static void stored_position(int orientation, uint32_t w, uint32_t h, uint32_t x, uint32_t y,
                            uint32_t* sx, uint32_t* sy) {
    switch (orientation) {
    case 2:
        *sx = w - 1 - x;
        *sy = y;
        break; /* mirrored left to right */
    case 3:
        *sx = w - 1 - x;
        *sy = h - 1 - y;
        break; /* turned half round */
    case 4:
        *sx = x;
        *sy = h - 1 - y;
        break; /* mirrored top to bottom */
    case 5:
        *sx = y;
        *sy = x;
        break; /* mirrored along the diagonal */
    case 6:
        *sx = y;
        *sy = h - 1 - x;
        break; /* to be turned clockwise */
    case 7:
        *sx = w - 1 - y;
        *sy = h - 1 - x;
        break; /* along the other diagonal */
    case 8:
        *sx = w - 1 - y;
        *sy = x;
        break; /* to be turned anticlockwise */
    default:
        *sx = x;
        *sy = y;
        break;
    }
}

/* The file's demuxer, canvas and orientation. */
struct file {
    WebPData data;
    WebPDemuxer* demux;
    uint32_t width, height; /* the stored canvas */
    int orientation;
};

static int32_t open_webp(struct file* f, const char* data, int32_t length, uint32_t flag) {
    WebPChunkIterator exif;
    memset(f, 0, sizeof *f);
    if (flag != SPI_INPUT_MEMORY || length < 12 || !signature((const unsigned char*)data))
        return SPI_NOT_SUPPORTED;
    f->data.bytes = (const uint8_t*)data;
    f->data.size = (size_t)length;
    f->demux = WebPDemux(&f->data);
    if (!f->demux) return SPI_BROKEN_DATA;
    f->width = WebPDemuxGetI(f->demux, WEBP_FF_CANVAS_WIDTH);
    f->height = WebPDemuxGetI(f->demux, WEBP_FF_CANVAS_HEIGHT);
    if (f->width == 0 || f->height == 0) return SPI_BROKEN_DATA;
    if ((uint64_t)f->width * f->height > MAX_PIXELS) return SPI_NO_MEMORY;
    f->orientation = 1;
    if (WebPDemuxGetChunk(f->demux, "EXIF", 1, &exif)) {
        f->orientation = exif_orientation(exif.chunk.bytes, exif.chunk.size);
        WebPDemuxReleaseChunkIterator(&exif);
    }
    return SPI_SUCCESS;
}

static void close_webp(struct file* f) {
    if (f->demux) WebPDemuxDelete(f->demux);
    f->demux = NULL;
}

static int turned(int orientation) {
    return orientation >= 5;
}

int32_t GetPictureInfo(const char* data, int32_t length, uint32_t flag, struct PictureInfo* info) {
    struct file f;
    int32_t result = open_webp(&f, data, length, flag);
    if (result == SPI_SUCCESS) {
        const uint32_t flags = WebPDemuxGetI(f.demux, WEBP_FF_FORMAT_FLAGS);
        memset(info, 0, sizeof *info);
        info->width = (int32_t)(turned(f.orientation) ? f.height : f.width);
        info->height = (int32_t)(turned(f.orientation) ? f.width : f.height);
        info->colour_depth = (int16_t)(flags & ALPHA_FLAG ? 32 : 24);
    }
    close_webp(&f);
    return result;
}

/* One upright row y of the picture from the stored RGBA canvas, over white. */
static void put_row(const struct file* f, const uint8_t* rgba, uint32_t y, unsigned char* bgr,
                    uint32_t width) {
    uint32_t x, sx, sy;
    for (x = 0; x < width; ++x, bgr += 3) {
        const uint8_t* p;
        uint32_t a;
        stored_position(f->orientation, f->width, f->height, x, y, &sx, &sy);
        p = rgba + ((size_t)sy * f->width + sx) * 4;
        a = p[3];
        if (a == 255) {
            bgr[0] = p[2];
            bgr[1] = p[1];
            bgr[2] = p[0];
        } else {
            const uint32_t white = 255u * (255u - a) + 127u;
            bgr[0] = (unsigned char)((p[2] * a + white) / 255u);
            bgr[1] = (unsigned char)((p[1] * a + white) / 255u);
            bgr[2] = (unsigned char)((p[0] * a + white) / 255u);
        }
    }
    /* The row's padding: up to 3 bytes, zero. */
    for (x = 0; (width * 3 + x) % 4 != 0; ++x)
        bgr[x] = 0;
}

static int32_t decode(const struct file* f, uint32_t* info_handle, uint32_t* pixel_handle,
                      ProgressCallback progress, int32_t user) {
    const uint32_t width = turned(f->orientation) ? f->height : f->width;
    const uint32_t height = turned(f->orientation) ? f->width : f->height;
    const uint32_t stride = (width * 3 + 3) / 4 * 4;
    const uint64_t canvas = (uint64_t)f->width * f->height * 4;
    WebPAnimDecoderOptions options;
    WebPAnimDecoder* decoder = NULL;
    uint32_t reserve = 0, y;
    uint8_t* rgba = NULL;
    unsigned char* pixels;
    unsigned char* header;
    int timestamp = 0;
    int32_t result = SPI_SUCCESS;

    /* The blocks first, so that a picture the memory budget cannot take costs no decode.
     * libwebp's decoder keeps the canvas and the previous frame's copy of it; the reserve
     * block stands for both in the budget while they live. */
    *info_handle = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 40);
    *pixel_handle = LocalAlloc(LMEM_MOVEABLE, stride * height); /* every byte written */
    if (!*info_handle || !*pixel_handle || 2 * canvas > UINT32_MAX) {
        result = SPI_NO_MEMORY;
    } else {
        reserve = LocalAlloc(LMEM_MOVEABLE, (uint32_t)(2 * canvas));
        if (!reserve) result = SPI_NO_MEMORY;
    }
    if (result == SPI_SUCCESS && !WebPAnimDecoderOptionsInit(&options)) result = SPI_INTERNAL_ERROR;
    if (result == SPI_SUCCESS) {
        options.color_mode = MODE_RGBA;
        options.use_threads = 0;
        decoder = WebPAnimDecoderNew(&f->data, &options);
        if (!decoder || !WebPAnimDecoderGetNext(decoder, &rgba, &timestamp) || !rgba)
            result = SPI_BROKEN_DATA;
    }
    pixels = result == SPI_SUCCESS ? (unsigned char*)LocalLock(*pixel_handle) : NULL;
    if (result == SPI_SUCCESS && !pixels) result = SPI_MEMORY_ERROR;
    for (y = 0; result == SPI_SUCCESS && y < height; ++y) {
        put_row(f, rgba, y, pixels + (size_t)(height - 1 - y) * stride, width);
        if (progress && ((y + 1) % BAND == 0 || y + 1 == height) &&
            progress((int32_t)(y + 1), (int32_t)height, user) != 0)
            result = SPI_ABORTED;
    }
    if (pixels) LocalUnlock(*pixel_handle);
    if (decoder) WebPAnimDecoderDelete(decoder);
    if (reserve) LocalFree(reserve);

    if (result == SPI_SUCCESS) {
        header = (unsigned char*)LocalLock(*info_handle);
        if (!header) {
            result = SPI_MEMORY_ERROR;
        } else {
            header[0] = 40;
            memcpy(header + 4, &width, 4);
            memcpy(header + 8, &height, 4);
            header[12] = 1;
            header[14] = 24;
            LocalUnlock(*info_handle);
            return SPI_SUCCESS;
        }
    }
    if (*info_handle) LocalFree(*info_handle);
    if (*pixel_handle) LocalFree(*pixel_handle);
    *info_handle = *pixel_handle = 0;
    return result;
}

int32_t GetPicture(const char* data, int32_t length, uint32_t flag, uint32_t* bitmap_info,
                   uint32_t* bitmap, ProgressCallback progress, int32_t user) {
    struct file f;
    uint32_t info_handle = 0, pixel_handle = 0;
    int32_t result = open_webp(&f, data, length, flag);
    if (result == SPI_SUCCESS) result = decode(&f, &info_handle, &pixel_handle, progress, user);
    close_webp(&f);
    if (result == SPI_SUCCESS) {
        *bitmap_info = info_handle;
        *bitmap = pixel_handle;
    }
    return result;
}
