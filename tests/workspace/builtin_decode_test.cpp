// Thumbnail windows of large bitmaps and metafiles: their decodes (a metafile's play) run on
// the frame's pool, draw nothing until they land and then what a draw without the pool draws,
// and closing the folder while they run leaves nothing running and no decoded bytes behind.
#include "close_while_decoding.h"
#include "picture/bitmap.h"
#include "workspace/image.h"
#include "picture/metafile.h"
#include "platform/memory_budget.h"
#include "support/message_recorder.h"
#include "support/temp_folder.h"
#include "support/widgets.h"
#include "workspace/mdi_frame.h"
#include "workspace/thumbnail_size.h"
#include "workspace/thumbnail_window.h"

#include <QFile>
#include <QPainter>
#include <gtest/gtest.h>

using namespace sorowa;

namespace {

// A 24-bit bitmap file of noise.
QByteArray Bmp(int width, int height) {
    const int row = (width * 3 + 3) / 4 * 4;
    QByteArray bytes(54 + row * height, '\0');
    auto* b = reinterpret_cast<unsigned char*>(bytes.data());
    const auto put = [b](int at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put(2, static_cast<std::uint32_t>(bytes.size()));
    put(10, 54);
    put(14, 40);
    put(18, static_cast<std::uint32_t>(width));
    put(22, static_cast<std::uint32_t>(height));
    b[26] = 1;
    b[28] = 24;
    std::uint32_t state = 1;
    for (qsizetype i = 54; i < bytes.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        b[i] = static_cast<unsigned char>(state >> 24);
    }
    return bytes;
}

const QString kRealWorld = QStringLiteral(SOROWA_SHARED_DATA "/../realworld");

struct File {
    QString name;
    QByteArray bytes;
};

// A bitmap above the pool's threshold, and metafiles of many records where they are.
std::vector<File> LargeFiles() {
    std::vector<File> files{{QStringLiteral("large.bmp"), Bmp(800, 600)}};
    for (const char* name : {"/emf/emf2svg-test-000.emf", "/wmf/poi-60677.wmf"}) {
        QFile file(kRealWorld + QLatin1String(name));
        if (file.open(QIODevice::ReadOnly))
            files.push_back({QFileInfo(file).fileName(), file.readAll()});
    }
    return files;
}

bool Pending(TGraphic* graphic) {
    if (auto* bitmap = dynamic_cast<TBitmap*>(graphic)) return bitmap->WholeDecodePending();
    if (auto* metafile = dynamic_cast<TMetafile*>(graphic)) return metafile->PlayPending();
    return false;
}

class BuiltinDecode : public ::testing::Test {
protected:
    void SetUp() override { SetThumbnailSize({100, 100}); }
    void TearDown() override {
        frame.reset();
        test::ExpectNoWindowsLeft();
    }

    void MakeFrame() {
        frame = std::make_unique<TMdiFrame>();
        frame->resize(600, 300);
        frame->show();
    }

    TForm_Grp* Open(int i, const File& file) {
        auto* window = new TForm_Grp(frame.get());
        window->move(8 + (i % 5) * 108, 8 + (i / 5 % 2) * 131);
        window->LoadPicture(QString::number(i + 1),
                            folder.Write(QStringLiteral("%1-%2").arg(i).arg(file.name), file.bytes));
        return window;
    }

    // What a picture shows drawn at 100 x 100 over magenta.
    static QImage Drawn(TGraphic& picture) {
        QImage target(100, 100, QImage::Format_RGB32);
        target.fill(Qt::magenta);
        QPainter painter(&target);
        TCanvas canvas(painter, 24);
        picture.Draw(canvas, target.rect());
        return target;
    }

    static TGraphic* PictureOf(TForm_Grp* window) { return window->Image1()->Picture().Graphic(); }

    test::TempFolder folder;
    std::unique_ptr<TMdiFrame> frame;
    test::MessageRecorder messages;
};

TEST_F(BuiltinDecode, LargePicturesDrawNothingUntilThePoolLandsThenWhatTheyDrawWithout) {
    const std::vector<File> files = LargeFiles();
    std::vector<QImage> expected;
    for (const File& file : files) {
        TPicture reference; // no pool: decoded and played in the draw
        reference.LoadFile(folder.Write(QStringLiteral("reference-") + file.name, file.bytes));
        expected.push_back(Drawn(*reference.Graphic()));
    }
    QImage untouched(100, 100, QImage::Format_RGB32);
    untouched.fill(Qt::magenta);
    MakeFrame();
    TDecodePool& pool = frame->Decodes();
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].name.toStdString());
        pool.SetHeld(true);
        TForm_Grp* window = Open(static_cast<int>(i), files[i]);
        TGraphic* picture = PictureOf(window);
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(Drawn(*picture), untouched) << "a draw hands the work to the pool";
        EXPECT_TRUE(Pending(picture));
        EXPECT_GT(pool.Pending(), 0u);
        pool.SetHeld(false);
        ASSERT_TRUE(test::WaitFor([&] { return !Pending(picture); }, 60000));
        EXPECT_EQ(Drawn(*picture), expected[i]);
    }
    EXPECT_TRUE(messages.Texts().isEmpty()) << messages.Texts().join(u'|').toStdString();
}

TEST_F(BuiltinDecode, ClosingTheFolderWhileTheyDecodeWaitsAndLeavesNoDecodedBytes) {
    const std::vector<File> files = LargeFiles();
    const std::uint64_t before = platform::TDecodedBytesBudget::Process().InUse();
    MakeFrame();
    frame->Decodes().SetHeld(true);
    QList<TForm_Grp*> windows;
    for (int i = 0; i < 40; ++i)
        windows.append(Open(i, files[static_cast<std::size_t>(i) % files.size()]));
    test::CloseWhileDecoding(*frame, windows);
    EXPECT_EQ(platform::TDecodedBytesBudget::Process().InUse(), before);
    EXPECT_TRUE(messages.Texts().isEmpty());
}

} // namespace
