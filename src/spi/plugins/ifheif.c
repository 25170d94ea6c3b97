/* ifheif.spi - Sorowa's HEIF and AVIF decoder plug-in, on libheif.
 *
 * Decodes the primary picture (HEVC or AV1) into a bottom-up 24-bit BGR bitmap: 10- and
 * 12-bit samples become round(v * 255 / max), alpha is composited over white. libheif
 * applies the container's own crop, rotation (irot) and mirroring (imir) while it decodes,
 * and only those: the Exif orientation that phones write as well describes the same turn
 * once more, so it is never read. libheif 1.15 has no colour management: an ICC profile is
 * left unapplied and the samples are taken as sRGB. GetPreview decodes the file's own
 * thumbnail of the primary picture the same way. */
#include "sorowa/spi.h"

#include <libheif/heif.h>
#include <string.h>

/* The largest picture the program takes: 2^28 pixels (16384 x 16384). */
#define MAX_SIDE 16384
#define MAX_PIXELS ((uint64_t)1 << 28)
/* Rows per progress report. */
#define BAND 64

static const char* const info_texts[] = {"00IN",          "Sorowa HEIF/AVIF decoder (libheif)",
                                         "*.heic;*.heif", "HEIF picture",
                                         "*.avif",        "AVIF picture"};

int32_t GetPluginInfo(int32_t index, char* buffer, int32_t length) {
    if (index < 0 || index >= (int32_t)(sizeof info_texts / sizeof info_texts[0]) || length < 1)
        return 0;
    strncpy(buffer, info_texts[index], (size_t)length - 1);
    buffer[length - 1] = '\0';
    return (int32_t)strlen(buffer);
}

/* The "ftyp" box comes first; libheif knows which brands it reads. The generic brand "mif1"
 * (Nokia's and libheif's own files) leaves it unsure until the file is read: those are
 * taken too, and a file that is not one after all fails in GetPicture. */
static int signature(const uint8_t* data, int length) {
    const enum heif_filetype_result type = heif_check_filetype(data, length);
    return type == heif_filetype_yes_supported || type == heif_filetype_maybe;
}

int32_t IsSupported(const char* file_name, const void* data) {
    (void)file_name;
    return signature((const uint8_t*)data, 2048);
}

/* One decode: everything to release at the end. */
struct job {
    struct heif_context* context;
    struct heif_image_handle* handle;
    struct heif_image* image;
    uint32_t info_handle, pixel_handle, reserve_handle;
    ProgressCallback progress;
    int32_t user;
};

static void release(struct job* job) {
    if (job->image) heif_image_release(job->image);
    if (job->handle) heif_image_handle_release(job->handle);
    if (job->context) heif_context_free(job->context);
    if (job->reserve_handle) LocalFree(job->reserve_handle);
    if (job->info_handle) LocalFree(job->info_handle);
    if (job->pixel_handle) LocalFree(job->pixel_handle);
    memset(job, 0, sizeof *job);
}

/* Reads the container and finds the primary picture; checks its size. 0 on success. */
static int32_t open_heif(struct job* job, const char* data, int32_t length, uint32_t flag) {
    struct heif_error error;
    int width, height;
    memset(job, 0, sizeof *job);
    if (flag != SPI_INPUT_MEMORY || length < 12) return SPI_NOT_SUPPORTED;
    if (!signature((const uint8_t*)data, length)) return SPI_NOT_SUPPORTED;
    job->context = heif_context_alloc();
    if (!job->context) return SPI_NO_MEMORY;
    heif_context_set_maximum_image_size_limit(job->context, MAX_SIDE);
    error = heif_context_read_from_memory_without_copy(job->context, data, (size_t)length, NULL);
    if (error.code != heif_error_Ok) return SPI_BROKEN_DATA;
    error = heif_context_get_primary_image_handle(job->context, &job->handle);
    if (error.code != heif_error_Ok) return SPI_BROKEN_DATA;
    /* The size after libheif's rotation and crop, as the picture will be. */
    width = heif_image_handle_get_width(job->handle);
    height = heif_image_handle_get_height(job->handle);
    if (width <= 0 || height <= 0) return SPI_BROKEN_DATA;
    if (width > MAX_SIDE || height > MAX_SIDE || (uint64_t)width * (uint64_t)height > MAX_PIXELS)
        return SPI_NO_MEMORY;
    return SPI_SUCCESS;
}

int32_t GetPictureInfo(const char* data, int32_t length, uint32_t flag, struct PictureInfo* info) {
    struct job job;
    int32_t result = open_heif(&job, data, length, flag);
    if (result == SPI_SUCCESS) {
        const int bits = heif_image_handle_get_luma_bits_per_pixel(job.handle);
        memset(info, 0, sizeof *info);
        info->width = heif_image_handle_get_width(job.handle);
        info->height = heif_image_handle_get_height(job.handle);
        info->colour_depth = (int16_t)((bits > 0 ? bits : 8) *
                                       (heif_image_handle_has_alpha_channel(job.handle) ? 4 : 3));
    }
    release(&job);
    return result;
}

/* Samples of one row as 8-bit RGBA, over white. src holds `channels` samples a pixel, of
 * one byte, or two little-endian bytes of `bits` significant bits. */
static void to_bgr(const uint8_t* src, unsigned char* bgr, uint32_t width, int channels, int bits,
                   int premultiplied) {
    const uint32_t max = (1u << bits) - 1;
    /* The common case (8-bit, no alpha) is a plain swap; the rest goes sample by sample. */
    const uint32_t general = bits == 8 && channels == 3 ? 0 : width;
    uint32_t x, c;
    for (x = general; x < width; ++x, src += 3, bgr += 3) {
        bgr[0] = src[2];
        bgr[1] = src[1];
        bgr[2] = src[0];
    }
    for (x = 0; x < general; ++x, bgr += 3) {
        uint32_t v[4] = {0, 0, 0, 255};
        for (c = 0; c < (uint32_t)channels; ++c) {
            if (bits == 8) {
                v[c] = *src++;
            } else {
                uint32_t s = (uint32_t)src[0] | (uint32_t)src[1] << 8;
                src += 2;
                if (s > max) s = max;
                v[c] = (s * 255 + max / 2) / max;
            }
        }
        if (v[3] != 255) {
            const uint32_t a = v[3], white = 255u * (255u - a);
            for (c = 0; c < 3; ++c) {
                if (premultiplied) {
                    const uint32_t s = v[c] + 255u - a;
                    v[c] = s > 255 ? 255 : s;
                } else {
                    v[c] = (v[c] * a + white + 127u) / 255u;
                }
            }
        }
        bgr[0] = (unsigned char)v[2];
        bgr[1] = (unsigned char)v[1];
        bgr[2] = (unsigned char)v[0];
    }
    /* The row's padding: up to 3 bytes, zero. */
    for (x = 0; (width * 3 + x) % 4 != 0; ++x)
        bgr[x] = 0;
}

static int32_t decode(struct job* job) {
    const int alpha = heif_image_handle_has_alpha_channel(job->handle);
    const int luma_bits = heif_image_handle_get_luma_bits_per_pixel(job->handle);
    const int deep = luma_bits > 8;
    const int channels = alpha ? 4 : 3;
    const enum heif_chroma chroma =
        deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
             : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    const uint32_t width = (uint32_t)heif_image_handle_get_width(job->handle);
    const uint32_t height = (uint32_t)heif_image_handle_get_height(job->handle);
    const uint32_t stride = (width * 3 + 3) / 4 * 4;
    const uint64_t sample_bytes = deep ? 2 : 1;
    struct heif_decoding_options* options;
    struct heif_error error;
    const uint8_t* plane;
    unsigned char* pixels;
    unsigned char* header;
    int plane_stride = 0, bits;
    uint32_t y, done;

    /* The blocks first, so that a picture the memory budget cannot take costs no decode.
     * libheif keeps its own copies while it decodes (the codec's YCbCr planes, then the
     * interleaved RGB(A)); the reserve block stands for them in the budget until they go. */
    job->info_handle = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 40);
    job->pixel_handle = LocalAlloc(LMEM_MOVEABLE, stride * height); /* every byte written */
    if (!job->info_handle || !job->pixel_handle) return SPI_NO_MEMORY;
    {
        const uint64_t reserve = (uint64_t)width * height * sample_bytes * (3u + channels);
        if (reserve > UINT32_MAX) return SPI_NO_MEMORY;
        job->reserve_handle = LocalAlloc(LMEM_MOVEABLE, (uint32_t)reserve);
        if (!job->reserve_handle) return SPI_NO_MEMORY;
    }

    options = heif_decoding_options_alloc();
    if (!options) return SPI_NO_MEMORY;
    options->ignore_transformations = 0;
    error = heif_decode_image(job->handle, &job->image, heif_colorspace_RGB, chroma, options);
    heif_decoding_options_free(options);
    LocalFree(job->reserve_handle);
    job->reserve_handle = 0;
    if (error.code != heif_error_Ok || !job->image) return SPI_BROKEN_DATA;

    plane = heif_image_get_plane_readonly(job->image, heif_channel_interleaved, &plane_stride);
    bits = heif_image_get_bits_per_pixel_range(job->image, heif_channel_interleaved);
    if (!plane || plane_stride <= 0 || (uint64_t)plane_stride < width * channels * sample_bytes ||
        heif_image_get_width(job->image, heif_channel_interleaved) != (int)width ||
        heif_image_get_height(job->image, heif_channel_interleaved) != (int)height)
        return SPI_BROKEN_DATA;
    if (deep ? bits <= 8 || bits > 16 : bits != 8) return SPI_BROKEN_DATA;

    pixels = (unsigned char*)LocalLock(job->pixel_handle);
    if (!pixels) return SPI_MEMORY_ERROR;
    for (y = 0, done = 0; y < height; ++y) {
        to_bgr(plane + (size_t)y * (size_t)plane_stride, pixels + (size_t)(height - 1 - y) * stride,
               width, channels, bits,
               alpha && heif_image_handle_is_premultiplied_alpha(job->handle));
        ++done;
        /* libheif 1.15 reports nothing while it decodes (not even a grid's tiles) and cannot
         * be stopped: progress and a request to stop come with the rows put. */
        if (job->progress && (done % BAND == 0 || done == height)) {
            if (job->progress((int32_t)done, (int32_t)height, job->user) != 0) {
                LocalUnlock(job->pixel_handle);
                return SPI_ABORTED;
            }
        }
    }
    LocalUnlock(job->pixel_handle);

    header = (unsigned char*)LocalLock(job->info_handle);
    if (!header) return SPI_MEMORY_ERROR;
    header[0] = 40;
    memcpy(header + 4, &width, 4);
    memcpy(header + 8, &height, 4);
    header[12] = 1;
    header[14] = 24;
    LocalUnlock(job->info_handle);
    return SPI_SUCCESS;
}

/* Decodes the job's image when result says it is open, hands its two blocks to the program on
 * success, and releases the job either way. */
static int32_t decode_and_hand_over(struct job* job, int32_t result, uint32_t* bitmap_info,
                                    uint32_t* bitmap, ProgressCallback progress, int32_t user) {
    if (result == SPI_SUCCESS) {
        job->progress = progress;
        job->user = user;
        result = decode(job);
    }
    if (result == SPI_SUCCESS) {
        *bitmap_info = job->info_handle;
        *bitmap = job->pixel_handle;
        job->info_handle = job->pixel_handle = 0; /* the program's now */
    }
    release(job);
    return result;
}

int32_t GetPicture(const char* data, int32_t length, uint32_t flag, uint32_t* bitmap_info,
                   uint32_t* bitmap, ProgressCallback progress, int32_t user) {
    struct job job;
    int32_t result = open_heif(&job, data, length, flag);
    return decode_and_hand_over(&job, result, bitmap_info, bitmap, progress, user);
}

/* The file's thumbnail of the primary picture (the first, when there are several), decoded as
 * GetPicture decodes the picture; SPI_NOT_SUPPORTED when the file has none. */
int32_t GetPreview(const char* data, int32_t length, uint32_t flag, uint32_t* bitmap_info,
                   uint32_t* bitmap, ProgressCallback progress, int32_t user) {
    struct job job;
    int32_t result = open_heif(&job, data, length, flag);
    if (result == SPI_SUCCESS) {
        heif_item_id id = 0;
        struct heif_image_handle* thumbnail = NULL;
        if (heif_image_handle_get_list_of_thumbnail_IDs(job.handle, &id, 1) != 1 ||
            heif_image_handle_get_thumbnail(job.handle, id, &thumbnail).code != heif_error_Ok) {
            result = SPI_NOT_SUPPORTED;
        } else {
            const int width = heif_image_handle_get_width(thumbnail);
            const int height = heif_image_handle_get_height(thumbnail);
            heif_image_handle_release(job.handle);
            job.handle = thumbnail;
            if (width <= 0 || height <= 0 || width > MAX_SIDE || height > MAX_SIDE)
                result = SPI_BROKEN_DATA;
        }
    }
    return decode_and_hand_over(&job, result, bitmap_info, bitmap, progress, user);
}
