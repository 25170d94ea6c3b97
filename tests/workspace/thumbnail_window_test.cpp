#include "platform/directories.h"
#include "support/message_recorder.h"
#include "support/opened_files.h"
#include "support/temp_folder.h"
#include "support/widgets.h"
#include "workspace/child_windows.h"
#include "workspace/image.h"
#include "workspace/mdi_frame.h"
#include "workspace/thumbnail_size.h"
#include "workspace/thumbnail_window.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace sorowa;

namespace {

class ThumbnailWindow : public ::testing::Test {
protected:
    void SetUp() override {
        SetThumbnailSize({100, 100});
        frame = std::make_unique<TMdiFrame>();
        frame->resize(600, 400);
        frame->show();
    }
    void TearDown() override {
        frame.reset();
        test::ExpectNoWindowsLeft();
    }
    std::unique_ptr<TMdiFrame> frame;
    test::MessageRecorder messages;
};

} // namespace

TEST_F(ThumbnailWindow, ClientAreaIsTheThumbnailSizeAndTheFrameIsSmall) {
    auto* window = new TForm_Grp(frame.get());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Form_Grp");
    EXPECT_EQ(window->Image1()->size(), QSize(100, 100));
    EXPECT_EQ(window->ClientSize(), QSize(100, 100));
    EXPECT_TRUE(window->Image1()->Stretch());
    const QSize extra = window->size() - window->ClientSize();
    EXPECT_LE(extra.width(), 8);
    EXPECT_LE(extra.height(), 31);
    EXPECT_GT(extra.height(), 0) << "a caption bar is shown";
    EXPECT_EQ(frame->ActiveChild(), window);
    SetThumbnailSize({150, 120});
    window->SetClientSize({150, 120});
    EXPECT_EQ(window->Image1()->size(), QSize(150, 120));
    EXPECT_EQ(window->size() - window->ClientSize(), extra);
}

TEST_F(ThumbnailWindow, LoadPictureSetsTheCaptionAndThePicture) {
    test::TempFolder folder;
    auto* window = new TForm_Grp(frame.get());
    window->LoadPicture("7", folder.Write("a;b.bmp", test::MakeBmp(10, 5)));
    EXPECT_EQ(window->windowTitle(), "7;a;b.bmp");
    EXPECT_EQ(window->Number(), 7);
    EXPECT_EQ(window->FileName(), "a;b.bmp");
    EXPECT_EQ(window->Image1()->Picture().Width(), 10);
    EXPECT_TRUE(messages.Messages().isEmpty());
}

TEST_F(ThumbnailWindow, LoadFailureShowsOneWarningAndKeepsTheCaption) {
    test::TempFolder folder;
    auto* window = new TForm_Grp(frame.get());
    const QString path = folder.Write("broken.bmp", "not a bitmap");
    window->LoadPicture("3", path);
    EXPECT_EQ(window->windowTitle(), "3;broken.bmp");
    EXPECT_EQ(window->Image1()->Picture().Graphic(), nullptr);
    ASSERT_EQ(messages.Messages().size(), 1);
    const auto& box = messages.Messages().front();
    EXPECT_EQ(box.text, "ファイルオープンに失敗しました。\n" + path);
    EXPECT_EQ(box.caption, "警告");
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    // An unknown extension and a missing file give the same message, naming the file.
    window->LoadPicture("4", folder.File("x.txt"));
    window->LoadPicture("5", folder.File("missing.bmp"));
    EXPECT_EQ(messages.Texts().mid(1),
              (QStringList{"ファイルオープンに失敗しました。\n" + folder.File("x.txt"),
                           "ファイルオープンに失敗しました。\n" + folder.File("missing.bmp")}));
}

TEST_F(ThumbnailWindow, TheUserCannotMoveOrCloseIt) {
    auto* window = new TForm_Grp(frame.get());
    auto* other = new TForm_Grp(frame.get());
    window->move(10, 20);
    other->move(200, 20);
    frame->SetActiveChild(window);
    // Dragging the caption bar.
    QTest::mousePress(window, Qt::LeftButton, {}, QPoint(30, 6));
    QTest::mouseMove(window, QPoint(90, 60));
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(90, 60));
    EXPECT_EQ(window->pos(), QPoint(10, 20));
    // Dragging the bottom-right border.
    const QPoint corner(window->width() - 2, window->height() - 2);
    QTest::mousePress(window, Qt::LeftButton, {}, corner);
    QTest::mouseMove(window, corner + QPoint(40, 40));
    QTest::mouseRelease(window, Qt::LeftButton, {}, corner + QPoint(40, 40));
    EXPECT_EQ(window->ClientSize(), QSize(100, 100));
    // The frame's keys to close or cycle child windows.
    QTest::keyClick(window, Qt::Key_F4, Qt::ControlModifier);
    QTest::keyClick(window, Qt::Key_Tab, Qt::ControlModifier);
    QTest::keyClick(window, Qt::Key_F6, Qt::ControlModifier);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(frame->ActiveChild(), window);
    EXPECT_EQ(ChildWindows(frame.get()).size(), 2);
    // A click on the other window selects it.
    QTest::mouseClick(other->Image1(), Qt::LeftButton);
    EXPECT_EQ(frame->ActiveChild(), other);
}

TEST_F(ThumbnailWindow, TheFrameScrollsToWindowsBeyondIt) {
    auto* window = new TForm_Grp(frame.get());
    window->move(1000, 900);
    EXPECT_TRUE(test::WaitFor([&] {
        return frame->horizontalScrollBar()->isVisible() && frame->verticalScrollBar()->isVisible();
    }));
    EXPECT_GE(frame->widget()->width(), window->geometry().right() + 1);
    // Closing it gives the space back once the close is over.
    window->close();
    EXPECT_TRUE(test::WaitFor([&] {
        return !frame->horizontalScrollBar()->isVisible() &&
               !frame->verticalScrollBar()->isVisible();
    }));
}

TEST_F(ThumbnailWindow, PageKeysAskForAMove) {
    auto* window = new TForm_Grp(frame.get());
    QSignalSpy spy(window, &TForm_Grp::MoveKeyPressed);
    QTest::keyClick(window, Qt::Key_PageUp);
    QTest::keyClick(window, Qt::Key_PageDown, Qt::ShiftModifier);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_TRUE(spy[0][0].toBool());
    EXPECT_FALSE(spy[1][0].toBool());
}

TEST_F(ThumbnailWindow, DoubleClickOpensTheBareNameInTheCurrentDirectory) {
    test::TempFolder folder;
    const QString previous = platform::CurrentDirectory();
    platform::SetCurrentDirectory(folder.Path());
    test::OpenedFiles opened;
    auto* window = new TForm_Grp(frame.get());
    window->LoadPicture("1", folder.Write("pic 写真%.bmp", test::MakeBmp(2, 2)));
    QTest::mouseDClick(window->Image1(), Qt::LeftButton);
    platform::SetCurrentDirectory(previous);
    EXPECT_EQ(opened.Paths(), QStringList{QDir(folder.Path()).canonicalPath() + "/pic 写真%.bmp"});
}

TEST_F(ThumbnailWindow, ClosingDefersTheDestruction) {
    QPointer<TForm_Grp> window = new TForm_Grp(frame.get());
    window->close();
    EXPECT_FALSE(window.isNull());
    EXPECT_EQ(ChildWindows(frame.get()).size(), 1);
    EXPECT_TRUE(test::WaitFor([&] { return window.isNull(); }));
    EXPECT_TRUE(ChildWindows(frame.get()).isEmpty());
}

TEST_F(ThumbnailWindow, NumberLookupTakesTheFirstWindowWithTheNumber) {
    QList<TForm_Grp*> windows;
    for (const char* caption : {"2;b.bmp", "1;a.bmp", "Form_Grp", "2;c.bmp"}) {
        windows << new TForm_Grp(frame.get());
        windows.back()->setWindowTitle(caption);
    }
    EXPECT_EQ(ChildWindows(frame.get()), windows);
    EXPECT_EQ(FindByNumber(frame.get(), 2), windows[0]);
    EXPECT_EQ(FindByNumber(frame.get(), 1), windows[1]);
    EXPECT_EQ(FindByNumber(frame.get(), 3), nullptr);
    const TNumberIndex index(ChildWindows(frame.get()));
    EXPECT_EQ(index.Find(2), windows[0]);
    EXPECT_EQ(index.Find(1), windows[1]);
    EXPECT_EQ(index.Find(3), nullptr);
}
