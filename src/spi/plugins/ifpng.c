/* ifpng.spi - Sorowa's PNG decoder plug-in, on libpng.
 *
 * Every colour type and bit depth, interlaced too, becomes a bottom-up 24-bit BGR bitmap:
 * palette and grey are expanded, 16-bit samples become round(v / 257), transparency is
 * composited over white. No gamma or colour-profile correction is applied. */
#include "sorowa/spi.h"

#include <png.h>
#include <stdlib.h>
#include <string.h>

/* The largest picture the program takes: 2^28 pixels (16384 x 16384). */
#define MAX_PIXELS ((uint64_t)1 << 28)
/* Rows per progress report. */
#define BAND 64

static const char* const info_texts[] = {"00IN", "Sorowa PNG decoder (libpng)", "*.png",
                                         "PNG picture"};

int32_t GetPluginInfo(int32_t index, char* buffer, int32_t length) {
    if (index < 0 || index >= (int32_t)(sizeof info_texts / sizeof info_texts[0]) || length < 1)
        return 0;
    strncpy(buffer, info_texts[index], (size_t)length - 1);
    buffer[length - 1] = '\0';
    return (int32_t)strlen(buffer);
}

int32_t IsSupported(const char* file_name, const void* data) {
    (void)file_name;
    return png_sig_cmp((png_const_bytep)data, 0, 8) == 0;
}

/* One decode. Everything that must be released after a libpng error lives here, outside
 * the frame that calls setjmp. */
struct job {
    const unsigned char* data;
    size_t length, pos;
    png_structp png;
    png_infop info;
    uint32_t info_handle, pixel_handle;
    unsigned char* pixels; /* locked pixel block */
    /* Working memory comes from the program's local memory too, so that it counts against
     * the program's budget of decoded bytes like the bitmap itself. */
    uint32_t rgba_handle, row_handle;
    unsigned char* rgba; /* the whole picture, for interlaced files; locked */
    unsigned char* row;  /* one row, for the others; locked */
    int32_t result;      /* the error to return after a longjmp */
};

static void read_data(png_structp png, png_bytep out, size_t count) {
    struct job* job = (struct job*)png_get_io_ptr(png);
    if (count > job->length - job->pos) png_error(png, "the data ends early");
    memcpy(out, job->data + job->pos, count);
    job->pos += count;
}

static void on_error(png_structp png, png_const_charp message) {
    (void)message;
    png_longjmp(png, 1);
}

static void on_warning(png_structp png, png_const_charp message) {
    (void)png;
    (void)message;
}

static void release(struct job* job) {
    if (job->png) png_destroy_read_struct(&job->png, job->info ? &job->info : NULL, NULL);
    if (job->rgba) LocalUnlock(job->rgba_handle);
    if (job->row) LocalUnlock(job->row_handle);
    if (job->rgba_handle) LocalFree(job->rgba_handle);
    if (job->row_handle) LocalFree(job->row_handle);
    if (job->pixels) LocalUnlock(job->pixel_handle);
    if (job->info_handle) LocalFree(job->info_handle);
    if (job->pixel_handle) LocalFree(job->pixel_handle);
    job->png = NULL;
    job->rgba = job->row = job->pixels = NULL;
    job->info_handle = job->pixel_handle = job->rgba_handle = job->row_handle = 0;
}

/* Opens the stream and reads the header; 0 on success. */
static int32_t open_png(struct job* job, const char* data, int32_t length, uint32_t flag) {
    memset(job, 0, sizeof *job);
    if (flag != SPI_INPUT_MEMORY || length < 8 || png_sig_cmp((png_const_bytep)data, 0, 8) != 0)
        return SPI_NOT_SUPPORTED;
    job->data = (const unsigned char*)data;
    job->length = (size_t)length;
    job->result = SPI_BROKEN_DATA;
    job->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, job, on_error, on_warning);
    if (!job->png) return SPI_NO_MEMORY;
    job->info = png_create_info_struct(job->png);
    if (!job->info) return SPI_NO_MEMORY;
    png_set_read_fn(job->png, job, read_data);
    return SPI_SUCCESS;
}

/* Composites one RGBA row over white into a BGR row. */
static void to_bgr(const unsigned char* rgba, unsigned char* bgr, uint32_t width) {
    uint32_t x;
    for (x = 0; x < width; ++x, rgba += 4, bgr += 3) {
        const unsigned a = rgba[3], white = 255u * (255u - a) + 127u;
        if (a == 255) {
            bgr[0] = rgba[2];
            bgr[1] = rgba[1];
            bgr[2] = rgba[0];
            continue;
        }
        bgr[0] = (unsigned char)((rgba[2] * a + white) / 255u);
        bgr[1] = (unsigned char)((rgba[1] * a + white) / 255u);
        bgr[2] = (unsigned char)((rgba[0] * a + white) / 255u);
    }
    /* The row's padding: up to 3 bytes, zero. */
    for (x = 0; (width * 3 + x) % 4 != 0; ++x)
        bgr[x] = 0;
}

/* The libpng calls run in functions of their own, below the one that calls setjmp, so that
 * no local variable lives across a longjmp. */
__attribute__((noinline)) static void read_header(struct job* job, struct PictureInfo* info) {
    png_read_info(job->png, job->info);
    memset(info, 0, sizeof *info);
    info->width = (int32_t)png_get_image_width(job->png, job->info);
    info->height = (int32_t)png_get_image_height(job->png, job->info);
    info->x_density = (uint16_t)png_get_x_pixels_per_inch(job->png, job->info);
    info->y_density = (uint16_t)png_get_y_pixels_per_inch(job->png, job->info);
    info->colour_depth =
        (int16_t)(png_get_bit_depth(job->png, job->info) * png_get_channels(job->png, job->info));
}

static int32_t header(struct job* job, struct PictureInfo* info) {
    if (setjmp(png_jmpbuf(job->png))) return job->result;
    read_header(job, info);
    return SPI_SUCCESS;
}

int32_t GetPictureInfo(const char* data, int32_t length, uint32_t flag, struct PictureInfo* info) {
    struct job job;
    int32_t result = open_png(&job, data, length, flag);
    if (result == SPI_SUCCESS) result = header(&job, info);
    release(&job);
    return result;
}

__attribute__((noinline)) static void read_picture(struct job* job, ProgressCallback progress,
                                                   int32_t user) {
    png_structp png = job->png;
    png_infop info = job->info;
    uint32_t width, height, y, stride, done = 0, total;
    int passes, pass, colour_type, opaque;
    unsigned char* header;

    png_read_info(png, info);
    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    if (width == 0 || height == 0 || (uint64_t)width * height > MAX_PIXELS) {
        job->result = SPI_NO_MEMORY;
        png_error(png, "too large");
    }
    colour_type = png_get_color_type(png, info);
    opaque = !(colour_type & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS);
    /* Opaque pictures become 8-bit BGR that libpng writes straight into the bitmap's rows;
     * the others 8-bit RGBA, composited over white afterwards. */
    png_set_expand(png);
    png_set_scale_16(png);
    if (!(colour_type & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
    if (opaque) png_set_bgr(png);
    passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != (size_t)width * (opaque ? 3 : 4))
        png_error(png, "unexpected layout");

    stride = (width * 3 + 3) / 4 * 4;
    job->info_handle = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 40);
    job->pixel_handle = LocalAlloc(LMEM_MOVEABLE, stride * height); /* every byte written */
    if (!job->info_handle || !job->pixel_handle) {
        job->result = SPI_NO_MEMORY;
        png_error(png, "no memory");
    }
    job->pixels = (unsigned char*)LocalLock(job->pixel_handle);
    if (!opaque && passes > 1) {
        job->rgba_handle = LocalAlloc(LMEM_MOVEABLE, width * 4 * height); /* at most 1 GiB */
        job->rgba = (unsigned char*)LocalLock(job->rgba_handle);
    } else if (!opaque) {
        job->row_handle = LocalAlloc(LMEM_MOVEABLE, width * 4);
        job->row = (unsigned char*)LocalLock(job->row_handle);
    }
    if (!job->pixels || (!opaque && !job->rgba && !job->row)) {
        job->result = SPI_NO_MEMORY;
        png_error(png, "no memory");
    }

    total = (uint32_t)passes * height;
    for (pass = 0; pass < passes; ++pass) {
        for (y = 0; y < height; ++y) {
            unsigned char* dib_row = job->pixels + (size_t)(height - 1 - y) * stride;
            if (opaque) {
                if (pass == 0) memset(dib_row + (size_t)width * 3, 0, stride - width * 3);
                png_read_row(png, dib_row, NULL);
            } else if (passes > 1) {
                png_read_row(png, job->rgba + (size_t)y * width * 4, NULL);
            } else {
                png_read_row(png, job->row, NULL);
                to_bgr(job->row, dib_row, width);
            }
            ++done;
            if (progress && (done % BAND == 0 || done == total) &&
                progress((int32_t)done, (int32_t)total, user) != 0) {
                job->result = SPI_ABORTED;
                png_error(png, "aborted");
            }
        }
    }
    if (!opaque && passes > 1)
        for (y = 0; y < height; ++y)
            to_bgr(job->rgba + (size_t)y * width * 4,
                   job->pixels + (size_t)(height - 1 - y) * stride, width);

    header = (unsigned char*)LocalLock(job->info_handle);
    if (!header) {
        job->result = SPI_MEMORY_ERROR;
        png_error(png, "no header");
    }
    header[0] = 40;
    memcpy(header + 4, &width, 4);
    memcpy(header + 8, &height, 4);
    header[12] = 1;
    header[14] = 24;
    LocalUnlock(job->info_handle);
}

static int32_t decode(struct job* job, ProgressCallback progress, int32_t user) {
    if (setjmp(png_jmpbuf(job->png))) return job->result;
    read_picture(job, progress, user);
    return SPI_SUCCESS;
}

int32_t GetPicture(const char* data, int32_t length, uint32_t flag, uint32_t* bitmap_info,
                   uint32_t* bitmap, ProgressCallback progress, int32_t user) {
    struct job job;
    int32_t result = open_png(&job, data, length, flag);
    if (result == SPI_SUCCESS) result = decode(&job, progress, user);
    if (result == SPI_SUCCESS) {
        LocalUnlock(job.pixel_handle);
        job.pixels = NULL;
        *bitmap_info = job.info_handle;
        *bitmap = job.pixel_handle;
        job.info_handle = job.pixel_handle = 0; /* the program's now */
    }
    release(&job);
    return result;
}
