#include "picture/png_reader.h"

#include <csetjmp>
#include <png.h>
#include <vector>

namespace sorowa::png {
namespace {

struct Source {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

// libpng reports errors by calling these; error_exit longjmps back into the function that
// made the call, never through C++ frames with destructors.
[[noreturn]] void OnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

void ReadFromSpan(png_structp png, png_bytep out, png_size_t count) {
    auto* source = static_cast<Source*>(png_get_io_ptr(png));
    if (count > source->size - source->pos) png_error(png, "truncated");
    for (png_size_t i = 0; i < count; ++i)
        out[i] = source->data[source->pos + i];
    source->pos += count;
}

// Reads the header and sets up the conversion to 8-bit BGRA; false on a libpng error.
bool ReadHeader(png_structp png, png_infop info, png_uint_32* width, png_uint_32* height) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    *width = png_get_image_width(png, info);
    *height = png_get_image_height(png, info);
    const int colorType = png_get_color_type(png, info);
    png_set_expand(png); // palette and low-depth grey to 8 bits, tRNS to alpha
    png_set_strip_16(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return png_get_rowbytes(png, info) == static_cast<png_size_t>(*width) * 4;
}

bool ReadRows(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
    return true;
}

} // namespace

bool IsPng(std::span<const std::uint8_t> data) {
    return data.size() >= 8 && png_sig_cmp(data.data(), 0, 8) == 0;
}

QImage DecodePng(std::span<const std::uint8_t> data, int maxSide) {
    if (!IsPng(data)) return {};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (png == nullptr) return {};
    png_infop info = png_create_info_struct(png);
    struct Guard {
        png_structp* png;
        png_infop* info;
        ~Guard() { png_destroy_read_struct(png, info, nullptr); }
    } guard{&png, &info};
    if (info == nullptr) return {};

    Source source{data.data(), data.size(), 0};
    png_set_read_fn(png, &source, ReadFromSpan);
    png_set_user_limits(png, static_cast<png_uint_32>(maxSide), static_cast<png_uint_32>(maxSide));
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    if (!ReadHeader(png, info, &width, &height)) return {};
    if (width == 0 || height == 0 || width > static_cast<png_uint_32>(maxSide) ||
        height > static_cast<png_uint_32>(maxSide))
        return {};

    QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
    if (image.isNull()) return {};
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = image.scanLine(static_cast<int>(y));
    if (!ReadRows(png, rows.data())) return {};
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace sorowa::png
