#include "picture/jpeg/jpeg_decoder.h"

#include <algorithm>
#include <cstring>

namespace sorowa::jpeg {
namespace {

enum class Mode { Header, Decode };

// Everything the one function that calls libjpeg works with. It is plain data living in the
// caller's frame, so a longjmp out of the library skips no destructor and no local of the
// calling function changes between setjmp and longjmp.
struct Decompressor {
    jpeg_decompress_struct cinfo;
    ErrorManager error;
    SourceManager source;
    ProgressManager progress;
    Mode mode;
    const DecodeRequest* request;
    HeaderResult header;
    DecodeResult result;
    bool cmyk;
    bool adobe;
    RowTarget target;
    std::uint32_t palette[256];
    int paletteSize;
    JSAMPROW rows[16];
    JSAMPARRAY cmykRow;
    bool firstScansOnly;
    bool rowsFromFirstScan;
    bool fillsMadeUpTail;
    int madeUpFrom; // output rows from here on come from made-up data alone; -1: not yet known
};

void SetDecodeParameters(Decompressor& d) {
    jpeg_decompress_struct& cinfo = d.cinfo;
    cinfo.scale_num = static_cast<unsigned>(std::clamp(d.request->scaleEighths, 1, 8));
    cinfo.scale_denom = 8;
    cinfo.do_block_smoothing = TRUE;
    d.cmyk = cinfo.out_color_space == JCS_CMYK;
    d.adobe = cinfo.saw_Adobe_marker;
    const bool grayscale = cinfo.out_color_space == JCS_GRAYSCALE;
    // CMYK (and YCCK) files come out of the library as four bytes per pixel; they are turned
    // into 24-bit rows here, never quantized (that would give a CMYK colour map) and never
    // copied as they are into rows made for three bytes.
    const bool quantize = grayscale || (d.request->eightBitDisplay && !d.cmyk);
    if (quantize) {
        // 236, not 256: the 20 static colours of an 8-bit display stay free.
        cinfo.quantize_colors = TRUE;
        cinfo.desired_number_of_colors = 236;
    } else if (!d.cmyk) {
        // Blue, green, red: the byte order of the bitmap's 24-bit rows.
        cinfo.out_color_space = JCS_EXT_BGR;
    }
    d.result.bitsPerPixel = quantize ? 8 : 24;
}

void TakePalette(Decompressor& d) {
    const jpeg_decompress_struct& cinfo = d.cinfo;
    d.paletteSize = 0;
    if (!cinfo.quantize_colors || cinfo.colormap == nullptr) return;
    const int count = std::clamp(cinfo.actual_number_of_colors, 0, 256);
    for (int i = 0; i < count; ++i) {
        std::uint32_t r, g, b;
        if (cinfo.out_color_components == 1) {
            r = g = b = cinfo.colormap[0][i];
        } else {
            r = cinfo.colormap[0][i];
            g = cinfo.colormap[1][i];
            b = cinfo.colormap[2][i];
        }
        d.palette[i] = 0xff000000u | (r << 16) | (g << 8) | b;
    }
    d.paletteSize = count;
}

// Adobe files store CMYK inverted; others store it plainly.
void CmykToBgr(const JSAMPLE* in, std::uint8_t* out, int width, bool inverted) {
    for (int x = 0; x < width; ++x, in += 4, out += 3) {
        unsigned c = in[0], m = in[1], y = in[2], k = in[3];
        if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        out[0] = static_cast<std::uint8_t>(y * k / 255);
        out[1] = static_cast<std::uint8_t>(m * k / 255);
        out[2] = static_cast<std::uint8_t>(c * k / 255);
    }
}

// Points d.rows at the bitmap rows the next read fills; returns how many. Several rows per
// call where bitmap rows follow each other at a 4-byte-aligned pitch. A CMYK file is read
// one row at a time into a row of its own, converted afterwards by StoreRows.
JDIMENSION PrepareRows(Decompressor& d) {
    const jpeg_decompress_struct& cinfo = d.cinfo;
    if (d.cmyk) {
        d.rows[0] = d.cmykRow[0];
        return 1;
    }
    const int row = static_cast<int>(cinfo.output_scanline);
    const bool multiRow = d.target.pitch > 0 && d.target.pitch % 4 == 0;
    const int batch = multiRow ? std::clamp(cinfo.rec_outbuf_height, 1, 16) : 1;
    const int count = std::min(batch, d.result.height - row);
    for (int i = 0; i < count; ++i)
        d.rows[i] = d.target.firstRow + (row + i) * d.target.pitch;
    return static_cast<JDIMENSION>(count);
}

void StoreRows(Decompressor& d, JDIMENSION got) {
    const int done = static_cast<int>(d.cinfo.output_scanline);
    if (d.cmyk && got == 1)
        CmykToBgr(d.cmykRow[0], d.target.firstRow + (done - 1) * d.target.pitch,
                  static_cast<int>(d.cinfo.output_width), d.adobe);
    d.result.rowsDone = done;
}

bool WithinPixelBudget(Decompressor& d) {
    d.result.width = static_cast<int>(d.cinfo.output_width);
    d.result.height = static_cast<int>(d.cinfo.output_height);
    const std::uint64_t pixels = std::uint64_t{d.cinfo.output_width} * d.cinfo.output_height;
    if (pixels <= d.request->limits.maxOutputPixels) return true;
    d.result.status = DecodeStatus::OverPixelBudget;
    return false;
}

bool MakeBitmap(Decompressor& d) {
    TakePalette(d);
    if (d.request->maxRows > 0) d.result.height = std::min(d.result.height, d.request->maxRows);
    const BitmapSink& sink = d.request->bitmap;
    d.target = sink.make(sink.context, d.result.width, d.result.height, d.result.bitsPerPixel,
                         d.palette, d.paletteSize);
    d.result.madeBitmap = d.target.firstRow != nullptr;
    if (!d.result.madeBitmap) d.result.status = DecodeStatus::NoMemory;
    return d.result.madeBitmap;
}

void TakeHeader(Decompressor& d, bool multipleScans) {
    JpegHeader& header = d.header.header;
    header.width = static_cast<int>(d.cinfo.image_width);
    header.height = static_cast<int>(d.cinfo.image_height);
    header.grayscale = d.cinfo.jpeg_color_space == JCS_GRAYSCALE;
    header.progressive = multipleScans;
}

// At 1/8 scale the output transform of a component takes only the first k x k coefficients
// of each block (k = 1, the block's mean, for full-resolution components; 2 for chroma stored
// at half resolution). A progressive file sends those first, in a fraction of its bytes, and
// the rest only refines detail that this scale never shows. A 24-bit output at 1/8 is
// therefore made from the first scans alone, as soon as every coefficient it uses is known to
// within its last bit (half a quantization step).
bool UseFirstScansOnly(const Decompressor& d) {
    return d.cinfo.progressive_mode && d.request->scaleEighths == 1 && !d.cinfo.quantize_colors &&
           d.request->maxRows == 0;
}

bool OutputCoefficientsKnown(const jpeg_decompress_struct& cinfo) {
    if (cinfo.coef_bits == nullptr) return false;
    for (int c = 0; c < cinfo.num_components; ++c) {
        const int k = std::clamp(cinfo.comp_info[c].DCT_scaled_size, 1, DCTSIZE);
        for (int v = 0; v < k; ++v)
            for (int u = 0; u < k; ++u) {
                const int bits = cinfo.coef_bits[c][v * DCTSIZE + u];
                if (bits < 0 || bits > 1) return false;
            }
    }
    return true;
}

// Reads scans until the output's coefficients are known (or the data ends), under the scan cap.
void ConsumeFirstScans(Decompressor& d) {
    for (;;) {
        const int got = jpeg_consume_input(&d.cinfo);
        if (d.cinfo.input_scan_number > d.request->limits.maxScans)
            StopDecoding(reinterpret_cast<j_common_ptr>(&d.cinfo), StopReason::TooManyScans);
        if (got == JPEG_REACHED_EOI || got == JPEG_SUSPENDED) return;
        if (got == JPEG_SCAN_COMPLETED && OutputCoefficientsKnown(d.cinfo)) return;
    }
}

// Once the data has run out, the library decodes every block that follows as all zero
// coefficients: a single-scan file then gives rows of one flat colour down to the bottom,
// and a claimed 30,000 x 30,000 picture of a few hundred bytes would cost as much as a real
// one. The flat rows are copied instead of decoded, once they are certain to be made up:
// some iMCU rows past the point where the data ended (the library reads at most a couple
// ahead of its output, and smooths across one more), and the rows there are one colour and
// equal to each other. Quantized output is not copied: its dithering carries an error from
// row to row.
bool MayFillMadeUpTail(const Decompressor& d) {
    return !jpeg_has_multiple_scans(const_cast<j_decompress_ptr>(&d.cinfo)) &&
           !d.cinfo.quantize_colors && d.result.bitsPerPixel == 24 && !d.request->decodeMadeUpTail;
}

int RowsPerIMCURow(const jpeg_decompress_struct& cinfo) {
    const JDIMENSION iMCURows = std::max<JDIMENSION>(cinfo.total_iMCU_rows, 1);
    return static_cast<int>((cinfo.output_height + iMCURows - 1) / iMCURows);
}

bool FlatRow(const std::uint8_t* row, int width) {
    for (int x = 1; x < width; ++x)
        if (std::memcmp(row, row + 3 * x, 3) != 0) return false;
    return true;
}

// True when the rows decoded last are made up, and every row below has been filled with them.
bool FillMadeUpTail(Decompressor& d) {
    if (!d.fillsMadeUpTail || !d.source.ranOut) return false;
    const int done = d.result.rowsDone;
    const int span = RowsPerIMCURow(d.cinfo);
    if (d.madeUpFrom < 0) d.madeUpFrom = done + 6 * span;
    if (done < d.madeUpFrom || done >= d.result.height) return false;
    const std::uint8_t* last = d.target.firstRow + (done - 1) * d.target.pitch;
    const std::size_t rowBytes = static_cast<std::size_t>(d.result.width) * 3;
    if (!FlatRow(last, d.result.width)) return false;
    for (int y = done - span; y < done - 1; ++y)
        if (std::memcmp(d.target.firstRow + y * d.target.pitch, last, rowBytes) != 0) return false;
    for (int y = done; y < d.result.height; ++y)
        std::memcpy(d.target.firstRow + y * d.target.pitch, last, rowBytes);
    d.result.rowsDone = d.result.height;
    return true;
}

DecodeStatus StatusFor(StopReason reason) {
    switch (reason) {
    case StopReason::TooManyScans:
        return DecodeStatus::TooManyScans;
    case StopReason::HandlerStop:
        return DecodeStatus::HandlerStop;
    default:
        return DecodeStatus::LibraryError;
    }
}

// Every call into libjpeg is made from this function (the source manager takes its buffer
// from the library's pool while being attached). libjpeg's fatal errors, and the progress
// manager's stops, longjmp back to the setjmp below; all state lives in d, plain data owned
// by the caller, so nothing with a destructor is skipped and no local is left indeterminate.
// The decompressor is destroyed on every path, and only the caller, after this function has
// returned, turns the outcome into an exception.
void RunLibjpeg(Decompressor& d) {
    d.cinfo.err = InitErrorManager(d.error);
    if (setjmp(d.error.jump) != 0) {
        jpeg_destroy_decompress(&d.cinfo);
        d.result.status = d.header.status = StatusFor(d.error.reason);
        d.result.code = d.header.code = d.error.pub.msg_code;
        return;
    }
    jpeg_CreateDecompress(&d.cinfo, JPEG_LIB_VERSION, sizeof(jpeg_decompress_struct));
    d.cinfo.mem->max_memory_to_use = d.request->limits.maxMemory;
    AttachSource(&d.cinfo, d.source, d.request->data, d.request->size);
    AttachProgress(&d.cinfo, d.progress, d.request->limits.maxScans,
                   d.mode == Mode::Decode ? d.request->progress : ProgressSink{},
                   d.request->clockMs);
    jpeg_read_header(&d.cinfo, TRUE);
    TakeHeader(d, jpeg_has_multiple_scans(&d.cinfo));
    if (d.mode == Mode::Decode) {
        SetDecodeParameters(d);
        jpeg_calc_output_dimensions(&d.cinfo);
        if (WithinPixelBudget(d)) {
            d.firstScansOnly = UseFirstScansOnly(d);
            // A few rows of a progressive file: its first scan gives them, read only as far
            // as those rows.
            d.rowsFromFirstScan = d.cinfo.progressive_mode && d.request->maxRows > 0;
            d.cinfo.buffered_image = d.firstScansOnly || d.rowsFromFirstScan ? TRUE : FALSE;
            jpeg_start_decompress(&d.cinfo);
            if (d.firstScansOnly || d.rowsFromFirstScan) {
                if (d.firstScansOnly) ConsumeFirstScans(d);
                // Smoothing estimates missing detail from the neighbouring blocks' means,
                // reading ahead into the next scan to get them, and alters the means too.
                // For a complete file it does nothing.
                d.cinfo.do_block_smoothing = FALSE;
                jpeg_start_output(&d.cinfo, d.cinfo.input_scan_number);
            }
            if (d.cmyk)
                d.cmykRow = d.cinfo.mem->alloc_sarray(reinterpret_cast<j_common_ptr>(&d.cinfo),
                                                      JPOOL_IMAGE, d.cinfo.output_width * 4, 1);
            if (MakeBitmap(d)) {
                d.fillsMadeUpTail = MayFillMadeUpTail(d);
                d.madeUpFrom = -1;
                while (d.cinfo.output_scanline < d.cinfo.output_height &&
                       (d.request->maxRows <= 0 || d.result.rowsDone < d.request->maxRows)) {
                    const JDIMENSION got = jpeg_read_scanlines(&d.cinfo, d.rows, PrepareRows(d));
                    StoreRows(d, got);
                    if (got == 0) break; // only a suspending source gives nothing; ours never
                    if (FillMadeUpTail(d)) break;
                }
                // From the first scans, or for the first rows, nothing more is read:
                // finishing the output pass would read on to the next scan's header,
                // finishing the decompression to the end.
                const bool partial = d.firstScansOnly || d.rowsFromFirstScan ||
                                     d.cinfo.output_scanline < d.cinfo.output_height;
                if (!partial) jpeg_finish_decompress(&d.cinfo);
            }
        }
    }
    jpeg_destroy_decompress(&d.cinfo);
}

} // namespace

HeaderResult ReadJpegHeader(const std::uint8_t* data, std::size_t size,
                            const DecodeLimits& limits) {
    DecodeRequest request;
    request.data = data;
    request.size = size;
    request.limits = limits;
    Decompressor d{};
    d.mode = Mode::Header;
    d.request = &request;
    RunLibjpeg(d);
    d.header.ranOut = d.source.ranOut;
    return d.header;
}

DecodeResult DecodeJpeg(const DecodeRequest& request) {
    Decompressor d{};
    d.mode = Mode::Decode;
    d.request = &request;
    RunLibjpeg(d);
    d.result.ranOut = d.source.ranOut;
    return d.result;
}

int ChooseScale(int imageWidth, int imageHeight, int wantWidth, int wantHeight) {
    for (int m = 1; m < 8; ++m)
        if (ScaledSide(imageWidth, m) >= wantWidth && ScaledSide(imageHeight, m) >= wantHeight)
            return m;
    return 8;
}

std::int64_t ScaledSide(int side, int scaleEighths) {
    return (std::int64_t{side} * scaleEighths + 7) / 8;
}

} // namespace sorowa::jpeg
