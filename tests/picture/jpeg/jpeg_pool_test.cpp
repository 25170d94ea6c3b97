// The JPEG picture with a decode pool, as the thumbnail windows draw it: the draw asks, the
// decode arrives later, the camera's copy only ever stands in, errors are raised once, and a
// picture that goes while its decode runs is never touched.
#include "jpeg_test_files.h"
#include "picture/decode_pool.h"
#include "picture/jpeg/jpeg_image.h"
#include "picture/stream.h"
#include "platform/display.h"
#include "support/temp_folder.h"
#include "support/widgets.h"

#include <QFile>
#include <QPainter>
#include <gtest/gtest.h>

namespace sorowa {
namespace {

using test::Bytes;

class JpegPoolTest : public ::testing::Test {
protected:
};

// Loaded to hand its decodes to pool (nullptr: to decode in its draws).
void Load(TJPEGImage& picture, const Bytes& bytes, TDecodePool* pool = nullptr) {
    picture.SetContext({.pool = pool});
    TMemoryStream stream(bytes);
    picture.LoadFromStream(stream);
}

QByteArray ToQByteArray(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

// Draws as a paint does; the error text the draw raised, empty for none.
QString Draw(TJPEGImage& picture, int w, int h, QImage* drawn = nullptr) {
    QImage target(w, h, QImage::Format_RGB32);
    target.fill(Qt::magenta);
    QString error;
    {
        QPainter painter(&target);
        TCanvas canvas(painter, 24);
        try {
            picture.Draw(canvas, QRect(0, 0, w, h));
        } catch (const Exception& e) {
            error = e.Message();
        }
    }
    if (drawn != nullptr) *drawn = target;
    return error;
}

// The photo decoded inside the draw, with no pool and no Exif copy (made before any pool).
QImage OwnDecode(const Bytes& photo, int w, int h) {
    TJPEGImage picture;
    Load(picture, photo);
    QImage drawn;
    Draw(picture, w, h, &drawn);
    return drawn;
}

QImage Edited(const QImage& source, const std::function<void(QPainter&)>& edit) {
    QImage out = source.copy();
    QPainter painter(&out);
    edit(painter);
    return out;
}

// Edited photos that kept the camera's old copy and their size, as seen in use: each passes
// the check of the top rows, so the copy stands in; what stays is the photo's own decode.
TEST_F(JpegPoolTest, EditedPhotosWithTheirOldCopyEndAsThePhotosOwnDecode) {
    const QImage photo = test::PhotoLike(1200, 800, 3);
    QImage sky = photo.copy();
    QPainter(&sky).fillRect(0, 0, 1200, 240, QColor(120, 170, 220));
    QImage white(1200, 800, QImage::Format_RGB32);
    white.fill(Qt::white);
    QPainter(&white).fillRect(300, 450, 500, 300, QColor(40, 60, 30));
    struct Case {
        const char* what;
        QImage before, after;
    };
    const Case cases[] = {
        {"lower 80% painted black", photo,
         Edited(photo, [](QPainter& p) { p.fillRect(0, 160, 1200, 640, Qt::black); })},
        {"red box over the middle", photo,
         Edited(photo, [](QPainter& p) { p.fillRect(400, 250, 400, 300, Qt::red); })},
        {"mirrored under a plain sky", sky, sky.mirrored(true, false)},
        {"white background turned round", white, white.mirrored(true, true)},
        {"not edited", photo, photo},
    };
    std::vector<Bytes> files;
    std::vector<QImage> own;
    for (const Case& c : cases) {
        files.push_back(test::EncodeJpeg(c.after));
        own.push_back(OwnDecode(files.back(), 100, 100));
    }
    TDecodePool pool(1);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const Bytes& edited = files[i];
        TJPEGImage picture;
        Load(picture,
             test::WithExifThumbnail(edited, test::CameraThumbnail(c.before), {false, 1200, 800}),
             &pool);
        bool stoodIn = false;
        picture.SetOnChange(
            [&](TGraphic&) { stoodIn = stoodIn || picture.FromEmbeddedThumbnail(); });
        EXPECT_EQ(Draw(picture, 100, 100), QString()) << c.what;
        ASSERT_TRUE(test::WaitFor([&] { return !picture.DecodePending(); })) << c.what;
        QImage drawn;
        EXPECT_EQ(Draw(picture, 100, 100, &drawn), QString()) << c.what;
        EXPECT_FALSE(picture.FromEmbeddedThumbnail()) << c.what;
        EXPECT_EQ(picture.DecodedScale(), 1) << c.what;
        EXPECT_EQ(drawn, own[i]) << c.what;
        if (std::string(c.what) == "not edited") {
            EXPECT_TRUE(stoodIn) << "its copy stood in";
        }
    }
}

// Until the decode arrives a draw shows nothing (or the stand-in); a first decode's failure
// is raised by the draw after it arrives, once; a larger decode that fails keeps the bitmap.
TEST_F(JpegPoolTest, DecodesArriveLaterErrorsAreRaisedOnceAndAFailedLargerDecodeKeepsTheBitmap) {
    test::TempFolder folder;
    const Bytes original = test::EncodeJpeg(test::PhotoLike(800, 600));
    const QImage own = OwnDecode(original, 100, 75);
    TDecodePool pool(1);
    const QString path = folder.Write(QStringLiteral("a.jpg"), ToQByteArray(original));
    TJPEGImage picture;
    picture.SetContext({.pool = &pool});
    picture.LoadFile(path);
    int changes = 0;
    picture.SetOnChange([&](TGraphic&) { ++changes; });
    pool.SetHeld(true);
    QImage drawn;
    EXPECT_EQ(Draw(picture, 100, 75, &drawn), QString());
    EXPECT_EQ(drawn.pixel(50, 40), QColor(Qt::magenta).rgb()) << "nothing drawn yet";
    EXPECT_TRUE(picture.DecodePending());
    EXPECT_EQ(Draw(picture, 100, 75), QString());
    EXPECT_EQ(pool.Pending(), 1u) << "asked again, not twice";
    pool.SetHeld(false);
    ASSERT_TRUE(test::WaitFor([&] { return changes > 0; })) << "the change notice repaints";
    EXPECT_EQ(Draw(picture, 100, 75, &drawn), QString());
    EXPECT_EQ(drawn, own);

    // Another photo of the same size written over it in place.
    Bytes other = test::EncodeJpeg(test::PhotoLike(800, 600, 5));
    other.resize(original.size(), 0);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write(ToQByteArray(other));
    }
    EXPECT_EQ(Draw(picture, 400, 300), QString());
    ASSERT_TRUE(test::WaitFor([&] { return !picture.DecodePending(); }));
    EXPECT_EQ(Draw(picture, 400, 300, &drawn), QString()) << "no error for a larger decode";
    EXPECT_EQ(picture.Bitmap().size(), QSize(100, 75)) << "the bitmap it had, stretched";
    EXPECT_FALSE(picture.DecodePending()) << "not asked again";

    // A first draw that cannot get the loaded content: one error, then an empty picture.
    TJPEGImage changed;
    changed.SetContext({.pool = &pool});
    changed.LoadFile(path);
    folder.Write(QStringLiteral("a.jpg"), ToQByteArray(original)); // saved anew, same size
    TJPEGImage empty;
    empty.SetContext({.pool = &pool});
    empty.LoadFile(folder.Write(QStringLiteral("empty.jpg"), QByteArray()));
    for (TJPEGImage* p : {&changed, &empty})
        EXPECT_EQ(Draw(*p, 100, 75), QString());
    ASSERT_TRUE(test::WaitFor([&] { return !changed.DecodePending() && !empty.DecodePending(); }));
    EXPECT_EQ(Draw(changed, 100, 75),
              QStringLiteral("画像ファイルが読み込んだ後で変更されています: %1").arg(path));
    EXPECT_EQ(Draw(empty, 100, 75), QStringLiteral("JPEG エラー #41"));
    for (TJPEGImage* p : {&changed, &empty}) {
        EXPECT_EQ(Draw(*p, 100, 75), QString()) << "reported once";
        EXPECT_EQ(Draw(*p, 200, 150), QString());
        EXPECT_TRUE(p->Bitmap().isNull());
        EXPECT_FALSE(p->DecodePending());
    }
}

// Pictures destroyed, or loaded anew, while their decodes wait or run: nothing arrives at them.
TEST_F(JpegPoolTest, APictureThatGoesWhileItsDecodeRunsIsNeverTouched) {
    TDecodePool pool(2);
    const Bytes photo = test::EncodeJpeg(test::PhotoLike(1600, 1200));
    std::vector<std::unique_ptr<TJPEGImage>> pictures;
    for (int i = 0; i < 40; ++i) {
        pictures.push_back(std::make_unique<TJPEGImage>());
        Load(*pictures.back(), photo, &pool);
        Draw(*pictures.back(), 100, 75);
    }
    ASSERT_TRUE(test::WaitFor([&] { return pool.Running() > 0; }));
    pictures.erase(pictures.begin(), pictures.begin() + 30);
    Load(*pictures.front(), photo, &pool); // loaded anew: its old decode is dropped
    ASSERT_TRUE(test::WaitFor([&] { return pool.Pending() == 0 && pool.Running() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(pictures.front()->Decoded());
    for (std::size_t i = 1; i < pictures.size(); ++i)
        EXPECT_TRUE(test::WaitFor([&] { return pictures[i]->Decoded(); }));
}

// A progress handler's error in a decode that runs in the pool is raised by a draw, once: the
// draw that asked, for the start, the next one for the end, which runs where nothing can raise.
// Its silent abort stops nothing: the decode runs elsewhere.
TEST_F(JpegPoolTest, AHandlersErrorIsRaisedOnceByADrawAndItsSilentAbortStopsNothing) {
    const Bytes photo = test::EncodeJpeg(test::PhotoLike(320, 240));
    TDecodePool pool(1);
    for (const TProgressStage stage : {TProgressStage::Starting, TProgressStage::Ending}) {
        for (const bool abort : {true, false}) {
            SCOPED_TRACE(testing::Message() << static_cast<int>(stage) << " abort " << abort);
            TJPEGImage picture;
            Load(picture, photo, &pool);
            picture.SetOnProgress([&](TGraphic&, const TProgressReport& report) {
                if (report.stage != stage) return;
                if (abort) throw EAbort();
                throw EInvalidGraphic(QStringLiteral("handler failed"));
            });
            QStringList raised{Draw(picture, 40, 30)};
            ASSERT_TRUE(test::WaitFor([&] { return !picture.DecodePending(); }));
            raised << Draw(picture, 40, 30) << Draw(picture, 40, 30);
            const QString error = abort ? QString() : QStringLiteral("handler failed");
            const bool atStart = stage == TProgressStage::Starting;
            EXPECT_EQ(raised, (QStringList{atStart ? error : QString(), atStart ? QString() : error,
                                           QString()}));
            EXPECT_EQ(picture.State(), jpeg::PictureState::Decoded);
            EXPECT_EQ(picture.Bitmap().size(), QSize(40, 30));
        }
    }
}

} // namespace
} // namespace sorowa
