// Thumbnail windows whose photos decode on the frame's pool: visible ones first, scrolling
// puts the newly visible ones ahead, a decode error is shown once, and closing the folder
// cancels what waits and waits for what runs.
#include "../picture/jpeg/jpeg_test_files.h"
#include "close_while_decoding.h"
#include "workspace/image.h"
#include "picture/jpeg/jpeg_image.h"
#include "support/message_recorder.h"
#include "support/temp_folder.h"
#include "support/widgets.h"
#include "workspace/mdi_frame.h"
#include "workspace/thumbnail_size.h"
#include "workspace/thumbnail_window.h"

#include <QScrollBar>
#include <QSet>
#include <gtest/gtest.h>

using namespace sorowa;

namespace {

class ThumbnailDecode : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterJpegPicture();
        SetThumbnailSize({100, 100});
        frame = std::make_unique<TMdiFrame>();
        frame->resize(600, 300);
        frame->show();
    }
    void TearDown() override {
        frame.reset();
        test::ExpectNoWindowsLeft();
        UnregisterJpegPicture();
    }

    // count windows in rows of five, each loading its own copy of one photo.
    QList<TForm_Grp*> OpenFolder(int count, const QByteArray& photo) {
        QList<TForm_Grp*> windows;
        for (int i = 0; i < count; ++i) {
            auto* window = new TForm_Grp(frame.get());
            window->move(8 + (i % 5) * 108, 8 + (i / 5) * 131);
            window->LoadPicture(
                QString::number(i + 1),
                folder.Write(QStringLiteral("p%1.jpg").arg(i, 3, 10, QChar('0')), photo));
            windows.append(window);
        }
        return windows;
    }

    static TJPEGImage* PictureOf(TForm_Grp* window) {
        return dynamic_cast<TJPEGImage*>(window->Image1()->Picture().Graphic());
    }

    test::TempFolder folder;
    std::unique_ptr<TMdiFrame> frame;
    test::MessageRecorder messages;
};

QByteArray Photo(int width, int height) {
    const test::Bytes bytes = test::EncodeJpeg(test::PhotoLike(width, height));
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

TEST_F(ThumbnailDecode, ScrollingPutsTheNewlyVisibleThumbnailsFirst) {
    TDecodePool& pool = frame->Decodes();
    pool.SetHeld(true);
    const QList<TForm_Grp*> windows = OpenFolder(40, Photo(800, 600));
    auto requested = [&] {
        QSet<TForm_Grp*> set;
        for (TForm_Grp* window : windows)
            if (PictureOf(window)->DecodePending()) set.insert(window);
        return set;
    };
    ASSERT_TRUE(test::WaitFor([&] { return !requested().isEmpty(); }));
    const QSet<TForm_Grp*> first = requested();
    EXPECT_LT(first.size(), 20) << "only what is visible asks";
    frame->verticalScrollBar()->setValue(frame->verticalScrollBar()->maximum());
    ASSERT_TRUE(test::WaitFor([&] { return requested().size() > first.size(); }));
    const QSet<TForm_Grp*> scrolledTo = requested() - first;
    pool.SetHeld(false);
    auto decoded = [&] {
        QSet<TForm_Grp*> set;
        for (TForm_Grp* window : windows)
            if (PictureOf(window)->Decoded()) set.insert(window);
        return set;
    };
    ASSERT_TRUE(test::WaitFor([&] { return !decoded().isEmpty(); }));
    const QSet<TForm_Grp*> early = decoded();
    EXPECT_TRUE(early.size() <= scrolledTo.size() && (early - scrolledTo).isEmpty())
        << "the thumbnails scrolled to decode before those scrolled away from";
    ASSERT_TRUE(
        test::WaitFor([&] { return decoded().size() == first.size() + scrolledTo.size(); }));
    EXPECT_EQ(pool.Pending(), 0u) << "the ones never seen are never decoded";
    EXPECT_TRUE(messages.Texts().isEmpty());
}

TEST_F(ThumbnailDecode, ADecodeErrorIsShownOnceThroughTheErrorDisplay) {
    QList<TForm_Grp*> windows = OpenFolder(1, QByteArray()); // zero bytes: fails at first draw
    TJPEGImage* picture = PictureOf(windows[0]);
    ASSERT_TRUE(test::WaitFor([&] { return picture->Decoded(); }));
    ASSERT_TRUE(test::WaitFor([&] { return !messages.Texts().isEmpty(); }));
    for (int i = 0; i < 3; ++i) {
        windows[0]->Image1()->repaint();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(messages.Texts(), QStringList{QStringLiteral("JPEG エラー #41.")});
}

TEST_F(ThumbnailDecode, ClosingTheFolderWith500PendingDecodesCancelsThemAndWaits) {
    frame->Decodes().SetHeld(true);
    test::CloseWhileDecoding(*frame, OpenFolder(500, Photo(400, 300)));
    EXPECT_TRUE(messages.Texts().isEmpty());
}

} // namespace
