/* ifppm.spi - an example Sorowa decoder plug-in for binary Netpbm pictures:
 * PPM ("P6", colour) and PGM ("P5", grey), 8 or 16 bits per sample.
 *
 * Build:   cc -shared -fPIC -O2 -I/usr/local/include -o ifppm.spi ifppm.c
 * Install: copy ifppm.spi beside the sorowa program, or into /usr/local/lib/sorowa.
 *
 * It returns a bottom-up 24-bit BGR bitmap, as every picture plug-in may. */
#include <sorowa/spi.h>
#include <string.h>

/* Info texts: API version, plug-in name, then pattern and description of each format. */
static const char* const info_texts[] = {
    "00IN",
    "Netpbm PPM/PGM example plug-in",
    "*.ppm;*.pgm",
    "Netpbm picture",
};

int32_t GetPluginInfo(int32_t index, char* buffer, int32_t length) {
    if (index < 0 || index >= (int32_t)(sizeof info_texts / sizeof info_texts[0]) || length < 1)
        return 0;
    strncpy(buffer, info_texts[index], (size_t)length - 1);
    buffer[length - 1] = '\0';
    return (int32_t)strlen(buffer);
}

int32_t IsSupported(const char* file_name, const void* data) {
    const unsigned char* p = (const unsigned char*)data; /* at least 2048 bytes */
    (void)file_name;
    return p[0] == 'P' && (p[1] == '5' || p[1] == '6') &&
           (p[2] == ' ' || p[2] == '\t' || p[2] == '\r' || p[2] == '\n');
}

/* The header of a Netpbm picture. */
struct header {
    int32_t width, height, maxval, channels;
    int32_t offset; /* where the samples start */
};

/* Reads one decimal number after white space and comments; -1 when there is none. */
static int32_t number(const unsigned char* data, int32_t length, int32_t* pos) {
    int32_t value = 0, digits = 0;
    while (*pos < length) {
        unsigned char c = data[*pos];
        if (c == '#') {
            while (*pos < length && data[*pos] != '\n')
                ++*pos;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++*pos;
        } else {
            break;
        }
    }
    while (*pos < length && data[*pos] >= '0' && data[*pos] <= '9') {
        if (value > 100000000) return -1; /* far beyond any size we accept */
        value = value * 10 + (data[*pos] - '0');
        ++*pos;
        ++digits;
    }
    return digits > 0 ? value : -1;
}

static int read_header(const char* data, int32_t length, struct header* h) {
    const unsigned char* p = (const unsigned char*)data;
    int32_t pos = 2;
    if (length < 3 || p[0] != 'P' || (p[1] != '5' && p[1] != '6')) return 0;
    h->channels = p[1] == '6' ? 3 : 1;
    h->width = number(p, length, &pos);
    h->height = number(p, length, &pos);
    h->maxval = number(p, length, &pos);
    if (h->width <= 0 || h->height <= 0 || h->maxval <= 0 || h->maxval > 65535) return 0;
    /* Refuse what no picture of the program can be (16384 x 16384 at most) before
     * allocating anything on the header's word. */
    if ((int64_t)h->width * h->height > (int64_t)1 << 28) return 0;
    if (pos >= length) return 0;
    h->offset = pos + 1; /* one white-space character ends the header */
    return 1;
}

int32_t GetPictureInfo(const char* data, int32_t length, uint32_t flag, struct PictureInfo* info) {
    struct header h;
    if (flag != SPI_INPUT_MEMORY || !read_header(data, length, &h)) return SPI_NOT_SUPPORTED;
    memset(info, 0, sizeof *info);
    info->width = h.width;
    info->height = h.height;
    info->colour_depth = (int16_t)(8 * h.channels);
    info->text = 0; /* no comment text */
    return SPI_SUCCESS;
}

/* One sample scaled to 0..255. */
static unsigned char sample(const unsigned char* p, int32_t maxval) {
    uint32_t v = maxval > 255 ? (uint32_t)(p[0] << 8 | p[1]) : p[0];
    if (v > (uint32_t)maxval) v = (uint32_t)maxval;
    return (unsigned char)((v * 255 + (uint32_t)maxval / 2) / (uint32_t)maxval);
}

int32_t GetPicture(const char* data, int32_t length, uint32_t flag, uint32_t* bitmap_info,
                   uint32_t* bitmap, ProgressCallback progress, int32_t user) {
    const unsigned char* p = (const unsigned char*)data;
    struct header h;
    int32_t bytes, stride, x, y;
    int64_t needed;
    uint32_t info_handle, pixel_handle;
    unsigned char *info, *pixels;

    if (flag != SPI_INPUT_MEMORY || !read_header(data, length, &h)) return SPI_NOT_SUPPORTED;
    bytes = h.maxval > 255 ? 2 : 1;
    needed = (int64_t)h.width * h.height * h.channels * bytes;
    if (needed > (int64_t)length - h.offset) return SPI_BROKEN_DATA; /* data ends early */

    stride = (h.width * 3 + 3) / 4 * 4;
    info_handle = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 40);
    pixel_handle = LocalAlloc(LMEM_MOVEABLE, (uint32_t)((int64_t)stride * h.height));
    if (!info_handle || !pixel_handle) {
        if (info_handle) LocalFree(info_handle);
        if (pixel_handle) LocalFree(pixel_handle);
        return SPI_NO_MEMORY;
    }
    info = (unsigned char*)LocalLock(info_handle);
    pixels = (unsigned char*)LocalLock(pixel_handle);

    /* BITMAPINFOHEADER: size 40, width, height (positive: bottom row first), 1 plane,
     * 24 bits, no compression; the rest 0. */
    info[0] = 40;
    memcpy(info + 4, &h.width, 4);
    memcpy(info + 8, &h.height, 4);
    info[12] = 1;
    info[14] = 24;

    for (y = 0; y < h.height; ++y) {
        const unsigned char* src = p + h.offset + (int64_t)y * h.width * h.channels * bytes;
        unsigned char* dst = pixels + (int64_t)(h.height - 1 - y) * stride;
        for (x = 0; x < h.width; ++x) {
            const unsigned char* s = src + (int64_t)x * h.channels * bytes;
            unsigned char r = sample(s, h.maxval);
            unsigned char g = h.channels == 3 ? sample(s + bytes, h.maxval) : r;
            unsigned char b = h.channels == 3 ? sample(s + 2 * bytes, h.maxval) : r;
            dst[3 * x] = b;
            dst[3 * x + 1] = g;
            dst[3 * x + 2] = r;
        }
        memset(dst + 3 * h.width, 0, (size_t)(stride - 3 * h.width)); /* row padding */
        /* Report progress every 64 rows; stop when the program asks. */
        if (progress && (y % 64 == 63 || y == h.height - 1) && progress(y + 1, h.height, user)) {
            LocalUnlock(info_handle);
            LocalUnlock(pixel_handle);
            LocalFree(info_handle);
            LocalFree(pixel_handle);
            return SPI_ABORTED;
        }
    }
    LocalUnlock(info_handle);
    LocalUnlock(pixel_handle);
    *bitmap_info = info_handle; /* both blocks belong to the program from here on */
    *bitmap = pixel_handle;
    return SPI_SUCCESS;
}
