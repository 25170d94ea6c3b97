// The layer under the picture: scale choice, the progress throttle, and the decoder's stops
// (working-memory cap, the handler's stop) with the state they leave.
#include "jpeg_test_files.h"
#include "picture/jpeg/jpeg_decoder.h"

#include <gtest/gtest.h>
#include <jerror.h>

namespace sorowa::jpeg {
namespace {

TEST(JpegScale, SmallestScaleCoveringBothDirections) {
    EXPECT_EQ(ChooseScale(4000, 3000, 100, 100), 1); // 500 x 375
    EXPECT_EQ(ChooseScale(800, 600, 100, 100), 2);   // 1/8 is 100 x 75
    EXPECT_EQ(ChooseScale(800, 600, 100, 75), 1);    // exactly covered
    EXPECT_EQ(ChooseScale(800, 600, 101, 75), 2);
    EXPECT_EQ(ChooseScale(6000, 4000, 640, 480), 1); // 750 x 500
    EXPECT_EQ(ChooseScale(4000, 3000, 640, 480), 2); // 1/8 is 500 x 375
    EXPECT_EQ(ChooseScale(100, 100, 100, 100), 8);
    EXPECT_EQ(ChooseScale(50, 50, 100, 100), 8) << "full size when nothing covers";
    EXPECT_EQ(ChooseScale(800, 600, 0, 0), 1);
    // Sides round up as libjpeg's do: 9 pixels at 1/8 make 2.
    EXPECT_EQ(ScaledSide(9, 1), 2);
    EXPECT_EQ(ScaledSide(65500, 1), 8188);
    EXPECT_EQ(ScaledSide(65500, 8), 65500);
}

ProgressFigures Figures(long counter, long limit, int completed, int total, int row,
                        int height = 100) {
    return {counter, limit, completed, total, row, 50, height};
}

TEST(JpegProgress, ThrottledTo500MsFromTheFirstCallWithRowsSinceTheLastReport) {
    ProgressThrottle throttle{false, 0, 0, 0};
    ProgressEvent event{};
    EXPECT_FALSE(NextProgressReport(throttle, Figures(10, 100, 0, 1, 10), 1000, event))
        << "the first call only records the time";
    EXPECT_FALSE(NextProgressReport(throttle, Figures(20, 100, 0, 1, 20), 1499, event));
    ASSERT_TRUE(NextProgressReport(throttle, Figures(25, 100, 0, 1, 25), 1500, event));
    EXPECT_EQ(event.percent, 25);
    EXPECT_EQ(event.top, 0);
    EXPECT_EQ(event.bottom, 25);
    EXPECT_EQ(event.width, 50);
    EXPECT_TRUE(event.redrawNow);

    // Same percentage: nothing, although the time has come.
    EXPECT_FALSE(NextProgressReport(throttle, Figures(25, 100, 0, 1, 27), 2100, event));
    ASSERT_TRUE(NextProgressReport(throttle, Figures(27, 100, 0, 1, 27), 2700, event));
    EXPECT_EQ(event.top, 25);
    EXPECT_EQ(event.bottom, 27);
    EXPECT_FALSE(event.redrawNow) << "two rows are not worth a redraw";
}

TEST(JpegProgress, PercentSpansAllPassesAndANewPassReportsToTheBottom) {
    ProgressThrottle throttle{true, 0, 0, 80};
    ProgressEvent event{};
    // Second of three passes, half done: (0.5 + 1) * 100 / 3 = 50.
    ASSERT_TRUE(NextProgressReport(throttle, Figures(50, 100, 1, 3, 10), 600, event));
    EXPECT_EQ(event.percent, 50);
    EXPECT_EQ(event.top, 80);
    EXPECT_EQ(event.bottom, 100) << "row went back: a new pass began";
    EXPECT_EQ(throttle.lastRow, 10);
    // Rounded to the nearest: (0.335 + 0) * 100 / 1 = 33.5 -> 34.
    ProgressThrottle other{true, 0, 0, 0};
    ASSERT_TRUE(NextProgressReport(other, Figures(335, 1000, 0, 1, 5), 500, event));
    EXPECT_EQ(event.percent, 34);
}

struct Bitmap {
    std::vector<std::uint8_t> pixels;
    int width = 0, height = 0, bits = 0;
    static RowTarget Make(void* context, int w, int h, int bits, const std::uint32_t*, int) {
        auto& b = *static_cast<Bitmap*>(context);
        b.width = w, b.height = h, b.bits = bits;
        const std::ptrdiff_t pitch = ((w * bits / 8) + 3) / 4 * 4;
        b.pixels.assign(static_cast<std::size_t>(pitch * h), 0xAB);
        return {b.pixels.data(), pitch};
    }
};

DecodeRequest Request(const test::Bytes& bytes, Bitmap& bitmap, int scale = 8) {
    DecodeRequest request;
    request.data = bytes.data();
    request.size = bytes.size();
    request.scaleEighths = scale;
    request.limits = {100, 512L * 1024 * 1024, 40'000'000};
    request.bitmap = {&bitmap, &Bitmap::Make};
    return request;
}

TEST(JpegDecoder, WorkingMemoryCapStopsAProgressiveDecodeWithTheLibrarysCode) {
    const test::Bytes bytes = test::EncodeJpeg(test::PhotoLike(512, 512), {.progressive = true});
    Bitmap bitmap;
    DecodeRequest request = Request(bytes, bitmap, 1);
    // A progressive file keeps every coefficient of the full-size image whatever the output
    // scale: 512 x 512 needs about 768 KB of them, over this cap.
    request.limits.maxMemory = 256 * 1024;
    const DecodeResult result = DecodeJpeg(request);
    EXPECT_EQ(result.status, DecodeStatus::LibraryError);
    EXPECT_EQ(result.code, JERR_NO_BACKING_STORE);
    EXPECT_FALSE(result.madeBitmap);

    request.limits.maxMemory = 8 * 1024 * 1024;
    EXPECT_EQ(DecodeJpeg(request).status, DecodeStatus::Ok);
    EXPECT_EQ(bitmap.width, 64);
}

std::int64_t fakeNow = 0;
std::int64_t FakeClock() {
    return fakeNow += 600;
} // every call is a report's worth later

TEST(JpegDecoder, HandlerStopLeavesTheRowsDecodedSoFar) {
    const test::Bytes bytes = test::EncodeJpeg(test::PhotoLike(64, 256));
    Bitmap bitmap;
    DecodeRequest request = Request(bytes, bitmap);
    struct Count {
        int reports = 0;
    } count;
    request.progress = {&count, [](void* context, const ProgressEvent&) {
                            return ++static_cast<Count*>(context)->reports < 3;
                        }};
    request.clockMs = FakeClock;
    const DecodeResult result = DecodeJpeg(request);
    EXPECT_EQ(result.status, DecodeStatus::HandlerStop);
    EXPECT_EQ(count.reports, 3);
    EXPECT_TRUE(result.madeBitmap);
    EXPECT_GT(result.rowsDone, 0);
    EXPECT_LT(result.rowsDone, 256);
    // Rows below rowsDone were never written.
    const std::size_t pitch = bitmap.pixels.size() / 256;
    EXPECT_EQ(bitmap.pixels[pitch * 255], 0xAB);
}

TEST(JpegDecoder, PixelBudgetIsCheckedBeforeTheBitmapIsMade) {
    const test::Bytes bytes = test::EncodeJpeg(test::PhotoLike(64, 64));
    Bitmap bitmap;
    DecodeRequest request = Request(bytes, bitmap);
    request.limits.maxOutputPixels = 64 * 64 - 1;
    const DecodeResult result = DecodeJpeg(request);
    EXPECT_EQ(result.status, DecodeStatus::OverPixelBudget);
    EXPECT_EQ(result.width, 64);
    EXPECT_FALSE(result.madeBitmap);
    EXPECT_EQ(bitmap.width, 0);
}

TEST(JpegDecoder, BitmapThatCannotBeMadeIsReportedNotWrittenTo) {
    const test::Bytes bytes = test::EncodeJpeg(test::PhotoLike(16, 16));
    Bitmap unused;
    DecodeRequest request = Request(bytes, unused);
    request.bitmap = {nullptr,
                      [](void*, int, int, int, const std::uint32_t*, int) { return RowTarget{}; }};
    EXPECT_EQ(DecodeJpeg(request).status, DecodeStatus::NoMemory);
}

TEST(JpegDecoder, FlatRowsAfterCutDataAreCopiedExactlyAsDecoded) {
    const test::Bytes colour = test::EncodeJpeg(test::PhotoLike(200, 400));
    test::Bytes claimsMore = colour; // the same data under a frame three times as tall
    test::SetFrameSize(claimsMore, 200, 1200);
    const struct {
        const char* name;
        test::Bytes bytes;
        bool eightBit = false;
    } files[] = {
        {"colour", colour},
        {"colour on an 8-bit display", colour, true},
        {"claims more rows", claimsMore},
        {"cmyk", test::EncodeJpeg(test::PhotoLike(200, 400), {.kind = test::JpegKind::Cmyk})},
        {"grayscale",
         test::EncodeJpeg(test::PhotoLike(200, 400), {.kind = test::JpegKind::Grayscale})},
    };
    for (const auto& file : files)
        for (const int percentKept : {5, 40, 97, 100})
            for (const int scale : {1, 3, 8}) {
                const test::Bytes cut(file.bytes.begin(),
                                      file.bytes.begin() +
                                          static_cast<long>(file.bytes.size()) * percentKept / 100);
                Bitmap copied, decoded;
                DecodeRequest request = Request(cut, copied, scale);
                request.eightBitDisplay = file.eightBit;
                const DecodeResult result = DecodeJpeg(request);
                request.bitmap = {&decoded, &Bitmap::Make};
                request.decodeMadeUpTail = true;
                const DecodeResult reference = DecodeJpeg(request);
                SCOPED_TRACE(testing::Message() << file.name << ", " << percentKept
                                                << "% kept, scale " << scale << "/8");
                EXPECT_EQ(result.status, reference.status);
                EXPECT_EQ(result.ranOut, reference.ranOut);
                EXPECT_EQ(result.rowsDone, reference.rowsDone);
                EXPECT_TRUE(copied.pixels == decoded.pixels);
            }
}

TEST(JpegDecoder, HeaderOfATruncatedMarkerSegmentFailsWithNoImage) {
    // SOI, then an APP1 segment claiming 65533 bytes of which 4 are there: the skip runs off
    // the end, meets the supplied end-of-image marker, and the header read finds no image.
    const test::Bytes bytes = {0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF, 'E', 'x', 'i', 'f'};
    const HeaderResult header = ReadJpegHeader(bytes.data(), bytes.size(), {100, 1 << 20, 100});
    EXPECT_EQ(header.status, DecodeStatus::LibraryError);
    EXPECT_EQ(header.code, JERR_NO_IMAGE);
}

} // namespace
} // namespace sorowa::jpeg
