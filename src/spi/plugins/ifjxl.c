/* ifjxl.spi - Sorowa's JPEG XL decoder plug-in, on libjxl.
 *
 * The first displayed frame (an animation's frames composed as a player shows them) becomes
 * a bottom-up 24-bit BGR bitmap, alpha composited over white. libjxl turns the picture
 * upright as its orientation field says and rounds deeper samples to 8 bits. Colours are
 * asked for in sRGB: libjxl converts lossy (XYB) pictures to it; a lossless one keeps its own
 * colour space, which libjxl 0.7 cannot convert without a colour management system. */
#include "sorowa/spi.h"

#include <jxl/decode.h>
#include <jxl/resizable_parallel_runner.h>
#include <string.h>

/* The largest picture the program takes: 2^28 pixels (16384 x 16384). */
#define MAX_PIXELS ((uint64_t)1 << 28)
/* Rows per progress report. */
#define BAND 64
/* What libjxl holds while it decodes, per pixel: a frame of three float planes (and one for
 * alpha); the reserve block stands for it in the memory budget. */
#define DECODER_BYTES_PER_PIXEL 16

static const char* const info_texts[] = {"00IN", "Sorowa JPEG XL decoder (libjxl)", "*.jxl",
                                         "JPEG XL picture"};

int32_t GetPluginInfo(int32_t index, char* buffer, int32_t length) {
    if (index < 0 || index >= (int32_t)(sizeof info_texts / sizeof info_texts[0]) || length < 1)
        return 0;
    strncpy(buffer, info_texts[index], (size_t)length - 1);
    buffer[length - 1] = '\0';
    return (int32_t)strlen(buffer);
}

static int signature(const uint8_t* data, size_t length) {
    const JxlSignature s = JxlSignatureCheck(data, length);
    return s == JXL_SIG_CODESTREAM || s == JXL_SIG_CONTAINER;
}

int32_t IsSupported(const char* file_name, const void* data) {
    (void)file_name;
    return signature((const uint8_t*)data, 2048);
}

/* One decode: everything to release at the end. */
struct job {
    JxlDecoder* decoder;
    void* runner;
    JxlBasicInfo info;
    uint32_t info_handle, pixel_handle, rgba_handle, reserve_handle;
    unsigned char* rgba; /* locked rgba_handle */
};

static void release(struct job* job) {
    if (job->decoder) JxlDecoderDestroy(job->decoder);
    if (job->runner) JxlResizableParallelRunnerDestroy(job->runner);
    if (job->rgba) LocalUnlock(job->rgba_handle);
    if (job->rgba_handle) LocalFree(job->rgba_handle);
    if (job->reserve_handle) LocalFree(job->reserve_handle);
    if (job->info_handle) LocalFree(job->info_handle);
    if (job->pixel_handle) LocalFree(job->pixel_handle);
    memset(job, 0, sizeof *job);
}

/* Creates the decoder over the whole file, subscribed to `events`; 0 on success. */
static int32_t open_jxl(struct job* job, const char* data, int32_t length, uint32_t flag,
                        int events) {
    const int threads = events & JXL_DEC_FULL_IMAGE;
    memset(job, 0, sizeof *job);
    if (flag != SPI_INPUT_MEMORY || length < 2 || !signature((const uint8_t*)data, (size_t)length))
        return SPI_NOT_SUPPORTED;
    job->decoder = JxlDecoderCreate(NULL);
    if (!job->decoder) return SPI_NO_MEMORY;
    /* A decode runs on threads, as many as the size calls for once it is known. */
    if (threads) {
        job->runner = JxlResizableParallelRunnerCreate(NULL);
        if (!job->runner) return SPI_NO_MEMORY;
        if (JxlDecoderSetParallelRunner(job->decoder, JxlResizableParallelRunner, job->runner) !=
            JXL_DEC_SUCCESS)
            return SPI_INTERNAL_ERROR;
    }
    if (JxlDecoderSubscribeEvents(job->decoder, events) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(job->decoder, (const uint8_t*)data, (size_t)length) != JXL_DEC_SUCCESS)
        return SPI_INTERNAL_ERROR;
    JxlDecoderCloseInput(job->decoder);
    return SPI_SUCCESS;
}

/* Reads the basic information (the size already turned upright) and checks the size. */
static int32_t basic_info(struct job* job) {
    if (JxlDecoderGetBasicInfo(job->decoder, &job->info) != JXL_DEC_SUCCESS) return SPI_BROKEN_DATA;
    if (job->info.xsize == 0 || job->info.ysize == 0) return SPI_BROKEN_DATA;
    if ((uint64_t)job->info.xsize * job->info.ysize > MAX_PIXELS) return SPI_NO_MEMORY;
    return SPI_SUCCESS;
}

int32_t GetPictureInfo(const char* data, int32_t length, uint32_t flag, struct PictureInfo* info) {
    struct job job;
    int32_t result = open_jxl(&job, data, length, flag, JXL_DEC_BASIC_INFO);
    if (result == SPI_SUCCESS)
        result = JxlDecoderProcessInput(job.decoder) == JXL_DEC_BASIC_INFO ? basic_info(&job)
                                                                           : SPI_BROKEN_DATA;
    if (result == SPI_SUCCESS) {
        memset(info, 0, sizeof *info);
        info->width = (int32_t)job.info.xsize;
        info->height = (int32_t)job.info.ysize;
        info->colour_depth =
            (int16_t)(job.info.bits_per_sample *
                      (job.info.num_color_channels + (job.info.alpha_bits > 0 ? 1 : 0)));
    }
    release(&job);
    return result;
}

static const JxlPixelFormat rgba_format = {4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};

/* After the basic information: the blocks, so that a picture the memory budget cannot take
 * costs no decode, and the threads for its size. */
static int32_t prepare(struct job* job) {
    uint64_t pixels;
    uint32_t stride;
    int32_t result = basic_info(job);
    if (result != SPI_SUCCESS) return result;
    pixels = (uint64_t)job->info.xsize * job->info.ysize;
    stride = (job->info.xsize * 3 + 3) / 4 * 4;
    if (pixels * DECODER_BYTES_PER_PIXEL > UINT32_MAX) return SPI_NO_MEMORY;
    job->info_handle = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 40);
    job->pixel_handle = LocalAlloc(LMEM_MOVEABLE, stride * job->info.ysize); /* all written */
    job->reserve_handle = LocalAlloc(LMEM_MOVEABLE, (uint32_t)(pixels * DECODER_BYTES_PER_PIXEL));
    if (!job->info_handle || !job->pixel_handle || !job->reserve_handle) return SPI_NO_MEMORY;
    JxlResizableParallelRunnerSetThreads(
        job->runner, JxlResizableParallelRunnerSuggestThreads(job->info.xsize, job->info.ysize));
    return SPI_SUCCESS;
}

/* Asks for sRGB; grey pictures are asked for in grey sRGB and come out as RGB anyway. */
static void ask_for_srgb(struct job* job) {
    JxlColorEncoding srgb;
    memset(&srgb, 0, sizeof srgb);
    srgb.color_space =
        job->info.num_color_channels == 1 ? JXL_COLOR_SPACE_GRAY : JXL_COLOR_SPACE_RGB;
    srgb.white_point = JXL_WHITE_POINT_D65;
    srgb.primaries = JXL_PRIMARIES_SRGB;
    srgb.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
    srgb.rendering_intent = JXL_RENDERING_INTENT_PERCEPTUAL;
    /* Refused for pictures whose colour space libjxl must keep: they come as they are. */
    (void)JxlDecoderSetPreferredColorProfile(job->decoder, &srgb);
}

static int32_t out_buffer(struct job* job) {
    size_t size = 0;
    if (JxlDecoderImageOutBufferSize(job->decoder, &rgba_format, &size) != JXL_DEC_SUCCESS ||
        size != (size_t)job->info.xsize * job->info.ysize * 4)
        return SPI_BROKEN_DATA;
    job->rgba_handle = LocalAlloc(LMEM_MOVEABLE, (uint32_t)size);
    if (!job->rgba_handle) return SPI_NO_MEMORY;
    job->rgba = (unsigned char*)LocalLock(job->rgba_handle);
    if (!job->rgba) return SPI_MEMORY_ERROR;
    if (JxlDecoderSetImageOutBuffer(job->decoder, &rgba_format, job->rgba, size) != JXL_DEC_SUCCESS)
        return SPI_INTERNAL_ERROR;
    return SPI_SUCCESS;
}

/* Runs the decoder up to the first full frame. */
static int32_t run(struct job* job) {
    for (;;) {
        int32_t result = SPI_SUCCESS;
        switch (JxlDecoderProcessInput(job->decoder)) {
        case JXL_DEC_BASIC_INFO:
            result = prepare(job);
            break;
        case JXL_DEC_COLOR_ENCODING:
            ask_for_srgb(job);
            break;
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
            result = out_buffer(job);
            break;
        case JXL_DEC_FULL_IMAGE:
            return job->rgba ? SPI_SUCCESS : SPI_BROKEN_DATA;
        default: /* an error, input that ends early, or the end without a frame */
            return SPI_BROKEN_DATA;
        }
        if (result != SPI_SUCCESS) return result;
    }
}

/* One RGBA row over white into a BGR row. */
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

static int32_t put_rows(struct job* job, ProgressCallback progress, int32_t user) {
    const uint32_t width = job->info.xsize, height = job->info.ysize;
    const uint32_t stride = (width * 3 + 3) / 4 * 4;
    unsigned char* pixels = (unsigned char*)LocalLock(job->pixel_handle);
    unsigned char* header;
    uint32_t y;
    if (!pixels) return SPI_MEMORY_ERROR;
    for (y = 0; y < height; ++y) {
        to_bgr(job->rgba + (size_t)y * width * 4, pixels + (size_t)(height - 1 - y) * stride,
               width);
        if (progress && ((y + 1) % BAND == 0 || y + 1 == height) &&
            progress((int32_t)(y + 1), (int32_t)height, user) != 0) {
            LocalUnlock(job->pixel_handle);
            return SPI_ABORTED;
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

int32_t GetPicture(const char* data, int32_t length, uint32_t flag, uint32_t* bitmap_info,
                   uint32_t* bitmap, ProgressCallback progress, int32_t user) {
    struct job job;
    int32_t result = open_jxl(&job, data, length, flag,
                              JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE);
    if (result == SPI_SUCCESS) result = run(&job);
    if (result == SPI_SUCCESS) {
        /* The decoder's own memory goes before the rows are put. */
        JxlDecoderDestroy(job.decoder);
        job.decoder = NULL;
        LocalFree(job.reserve_handle);
        job.reserve_handle = 0;
        result = put_rows(&job, progress, user);
    }
    if (result == SPI_SUCCESS) {
        *bitmap_info = job.info_handle;
        *bitmap = job.pixel_handle;
        job.info_handle = job.pixel_handle = 0; /* the program's now */
    }
    release(&job);
    return result;
}
