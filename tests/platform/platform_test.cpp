#include "platform/directories.h"
#include "platform/errors.h"
#include "platform/file_names.h"
#include "platform/ui/error_display.h"
#include "platform/ui/message_box.h"
#include "support/message_recorder.h"
#include "support/temp_folder.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace sorowa;

TEST(ErrorDisplay, AddsFullStopOnlyAfterCharactersOrderedAfterIt) {
    EXPECT_EQ(platform::ErrorDisplayText("ファイルが見つかりません"), "ファイルが見つかりません.");
    EXPECT_EQ(platform::ErrorDisplayText("Invalid GIF data"), "Invalid GIF data.");
    EXPECT_EQ(platform::ErrorDisplayText("already ends."), "already ends.");
    EXPECT_EQ(platform::ErrorDisplayText("ファイル名変更失敗！"), "ファイル名変更失敗！.");
    // "!" (0x21), "-" (0x2D) and "," (0x2C) come before "." and get nothing.
    EXPECT_EQ(platform::ErrorDisplayText("stop!"), "stop!");
    EXPECT_EQ(platform::ErrorDisplayText("a -"), "a -");
    EXPECT_EQ(platform::ErrorDisplayText("a,"), "a,");
    EXPECT_EQ(platform::ErrorDisplayText("code 41"), "code 41.");
    EXPECT_EQ(platform::ErrorDisplayText(""), "");
}

namespace {
class ThrowingButton : public QPushButton {
protected:
    void keyPressEvent(QKeyEvent*) override { throw Exception("JPEG エラー #41"); }
};
} // namespace

TEST(ErrorDisplay, ErrorEscapingAnEventHandlerIsShownAndTheProgramCarriesOn) {
    test::MessageRecorder recorder;
    ThrowingButton button;
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] { ++clicks; });
    button.show();
    QTest::keyClick(&button, Qt::Key_A);
    ASSERT_EQ(recorder.Messages().size(), 1);
    const auto& box = recorder.Messages().front();
    EXPECT_EQ(box.text, "JPEG エラー #41.");
    EXPECT_EQ(box.caption, "Sorowa");
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    // The program still handles events.
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}

TEST(ErrorDisplay, RunHandlerStopsTheHandlerAtTheError) {
    test::MessageRecorder recorder;
    bool after = false;
    platform::RunHandler([&] {
        throw EWriteError("/x/sorowa.INI に書き込めません");
        after = true;
    });
    EXPECT_FALSE(after);
    EXPECT_EQ(recorder.Texts(), QStringList{"/x/sorowa.INI に書き込めません."});
}

TEST(MessageBoxes, PlainAndWarningKinds) {
    test::MessageRecorder recorder;
    QWidget owner;
    // Each box is up, modal over the program, while it is recorded.
    QStringList modal;
    recorder.WhileOpen([&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        modal << (box != nullptr && box->isVisible() ? box->text() : QString());
    });
    platform::ShowMessage("取り扱えるグラフィックファイルがありません");
    platform::ShowWarning("ファイルオープンに失敗しました。\n/a/b.bmp", platform::MessageIcon::Stop,
                          &owner);
    ASSERT_EQ(recorder.Messages().size(), 2);
    EXPECT_EQ(modal, recorder.Texts());
    EXPECT_EQ(recorder.Messages()[0].caption, "Sorowa");
    EXPECT_EQ(recorder.Messages()[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(recorder.Messages()[0].parent, nullptr);
    EXPECT_EQ(recorder.Messages()[1].caption, "警告");
    EXPECT_EQ(recorder.Messages()[1].icon, QMessageBox::Critical);
    EXPECT_EQ(recorder.Messages()[1].parent, &owner);
}

TEST(FileNames, ValidUtf8PassesThrough) {
    const std::string bytes = "写真 01;a.JPG";
    EXPECT_EQ(platform::DecodeFileName(bytes), QString::fromUtf8(bytes.c_str()));
    EXPECT_EQ(platform::EncodeFileName(QString::fromUtf8(bytes.c_str())), bytes);
}

TEST(FileNames, InvalidBytesRoundTrip) {
    const std::vector<std::string> names = {
        "\xff.jpg",             // lone invalid byte
        "caf\xe9.bmp",          // Latin-1 e-acute
        "\x83\x5c\x95\x5c.gif", // Shift-JIS ソ表
        "\xe3\x81.jpg",         // cut multi-byte sequence
        "\xed\xa0\x80.jpg",     // encoded surrogate
        "\xc0\xaf.jpg",         // overlong "/"
        "\xf4\x8f\xbf\xbf.jpg", // U+10FFFF, one of the escape code points, written validly
    };
    for (const std::string& name : names) {
        const QString decoded = platform::DecodeFileName(name);
        EXPECT_TRUE(decoded.endsWith(name.substr(name.size() - 4).c_str())) << name;
        EXPECT_EQ(platform::EncodeFileName(decoded), name);
    }
    // Distinct byte strings never decode to the same text.
    EXPECT_NE(platform::DecodeFileName("\xff"), platform::DecodeFileName("\xf4\x8f\xbf\xbf"));
}

TEST(Directories, ReadDirectoryListsUndecodableNamesAndMarksFolders) {
    test::TempFolder folder;
    const std::string base = platform::EncodeFileName(folder.Path());
    const std::string odd = base + "/\xff\xfe.jpg";
    const int fd = open(odd.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_EQ(mkdir((base + "/sub.jpg").c_str(), 0755), 0);
    auto entries = platform::ReadDirectory(folder.Path());
    ASSERT_EQ(entries.size(), 2u);
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.isDirectory < b.isDirectory; });
    EXPECT_FALSE(entries[0].isDirectory);
    EXPECT_EQ(platform::EncodeFileName(folder.Path() + "/" + entries[0].name), odd);
    EXPECT_TRUE(platform::FileExists(folder.Path() + "/" + entries[0].name));
    EXPECT_TRUE(entries[1].isDirectory);
    EXPECT_FALSE(platform::FileExists(folder.File("sub.jpg")));
}

TEST(Directories, CurrentDirectoryAndMissingFolder) {
    const QString before = platform::CurrentDirectory();
    test::TempFolder folder;
    platform::SetCurrentDirectory(folder.Path());
    EXPECT_EQ(platform::CurrentDirectory(), QDir(folder.Path()).canonicalPath());
    try {
        platform::SetCurrentDirectory(folder.File("gone"));
        FAIL() << "no error for a missing folder";
    } catch (const EInOutError& error) {
        EXPECT_EQ(error.Code(), ENOENT);
        EXPECT_TRUE(error.Message().contains("gone"));
    }
    platform::SetCurrentDirectory(before);
}

TEST(Directories, PlacesOfThisProgramAreItsFileAndTheMachineFolders) {
    const platform::ProgramPlaces places = platform::ProgramPlaces::OfThisProgram();
    const QFileInfo program(places.programFile);
    EXPECT_TRUE(program.isAbsolute());
    EXPECT_EQ(program.fileName(), "platform_test");
    EXPECT_TRUE(program.isExecutable());
    EXPECT_EQ(places.windowsDirectory, "/usr/local/lib/sorowa");
    EXPECT_EQ(places.systemDirectory, "/usr/lib/sorowa");
    // Places made by hand for another program file keep the machine folders.
    const platform::ProgramPlaces other{.programFile = "/opt/sorowa/sorowa"};
    EXPECT_EQ(other.windowsDirectory, places.windowsDirectory);
    EXPECT_EQ(other.systemDirectory, places.systemDirectory);
}

TEST(MessageBoxes, BoxShownOverAnotherGivesItTheKeyboardBackWhenItCloses) {
    QWidget main;
    main.show();
    main.activateWindow();
    QString outer, afterInner;
    // The outer box is up; an error shown later (as a paint's error is) comes over it, parented
    // to the main window, and is closed with Return; Return then closes the outer box too.
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        outer = box ? static_cast<QMessageBox*>(box)->text() : QString();
        QTimer::singleShot(
            0, [&] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return); });
        platform::ShowMessage("inner", &main);
        QTimer::singleShot(50, [&] { // once the window system has had its say
            QWidget* active = QApplication::activeWindow();
            afterInner = active && active->inherits("QMessageBox")
                             ? static_cast<QMessageBox*>(active)->text()
                             : QStringLiteral("(not a box)");
            if (active) QTest::keyClick(active, Qt::Key_Return);
        });
    });
    QTimer guard; // a box left without the keyboard would wait for ever: close it, and fail
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* box = QApplication::activeModalWidget()) box->close();
    });
    guard.start(2000);
    platform::ShowMessage("outer", &main);
    EXPECT_EQ(outer, "outer");
    EXPECT_EQ(afterInner, "outer");
}
