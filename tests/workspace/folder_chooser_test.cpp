#include "platform/directories.h"
#include "support/temp_folder.h"
#include "support/widgets.h"
#include "workspace/folder_chooser.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace sorowa;

namespace {
QStringList Entries(QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text().trimmed();
    return texts;
}
} // namespace

TEST(FolderChooser, ShowsTheChainOfFoldersThenSubFoldersAndTheFiles) {
    test::TempFolder folder;
    QDir(folder.Path()).mkpath("b sub/deeper");
    QDir(folder.Path()).mkdir("A sub");
    QDir(folder.Path()).mkdir(".hidden");
    folder.Write("z.txt", "");
    folder.Write("a.jpg", "");
    TFolderChooser chooser(folder.Path());
    EXPECT_EQ(chooser.windowTitle(), "ディレクトリの選択");
    EXPECT_EQ(chooser.size(), QSize(424, 255));
    EXPECT_EQ(chooser.Folder(), folder.Path());
    const QStringList tree = Entries(chooser.FolderTree());
    EXPECT_EQ(tree.first(), "/");
    EXPECT_EQ(tree.mid(tree.size() - 3),
              (QStringList{QFileInfo(folder.Path()).fileName(), "A sub", "b sub"}));
    EXPECT_EQ(Entries(chooser.FileList()), (QStringList{"a.jpg", "z.txt"}));
    EXPECT_FALSE(chooser.FileList()->isEnabled());
    EXPECT_GT(chooser.DriveList()->count(), 0);

    // A double click enters a sub-folder, and one on an ancestor goes back up.
    QListWidget* treeList = chooser.FolderTree();
    QListWidgetItem* sub = treeList->item(treeList->count() - 1);
    emit treeList->itemDoubleClicked(sub);
    EXPECT_EQ(chooser.Folder(), folder.File("b sub"));
    EXPECT_EQ(Entries(treeList).last(), "deeper");
    emit treeList->itemDoubleClicked(treeList->item(0));
    EXPECT_EQ(chooser.Folder(), "/");
}

TEST(FolderChooser, StartsAtTheCurrentDirectoryWhenTheStartCannotBeEntered) {
    test::TempFolder folder;
    const QString previous = platform::CurrentDirectory();
    platform::SetCurrentDirectory(folder.Path());
    const QString current = platform::CurrentDirectory();
    EXPECT_EQ(TFolderChooser("").Folder(), current);
    EXPECT_EQ(TFolderChooser(folder.File("missing")).Folder(), current);
    platform::SetCurrentDirectory(previous);
}

TEST(FolderChooser, EscapeCancelsAndOkIsTheDefaultButton) {
    test::TempFolder folder;
    TFolderChooser chooser(folder.Path());
    chooser.show();
    QPushButton* ok = nullptr;
    for (QPushButton* button : chooser.findChildren<QPushButton*>())
        if (button->text() == "OK") ok = button;
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());
    QTest::keyClick(&chooser, Qt::Key_Escape);
    EXPECT_EQ(chooser.result(), QDialog::Rejected);
    EXPECT_FALSE(chooser.isVisible());
}

TEST(FolderChooser, LongPathsAreShortenedWithAnEllipsis) {
    test::TempFolder folder;
    const QString deep = folder.File(QString(60, 'x') + "/" + QString(60, 'y'));
    ASSERT_TRUE(QDir().mkpath(deep));
    TFolderChooser chooser(deep);
    EXPECT_TRUE(chooser.PathLabel()->text().contains(QChar(0x2026)));
    EXPECT_EQ(chooser.PathLabel()->toolTip(), deep);
}

TEST(FolderChooser, EnterWalksDownTheTreeAndConfirmsOnTheOpenFolder) {
    test::TempFolder folder;
    ASSERT_TRUE(QDir().mkpath(folder.File("a/b")));
    TFolderChooser chooser(folder.Path());
    chooser.show();
    QListWidget* tree = chooser.FolderTree();
    tree->setFocus();
    // Highlight the sub-folder "a" (the last line) and press Enter: the chooser enters it
    // and stays open.
    tree->setCurrentRow(tree->count() - 1);
    QTest::keyClick(tree, Qt::Key_Return);
    EXPECT_EQ(chooser.Folder(), folder.File("a"));
    EXPECT_TRUE(chooser.isVisible());
    tree->setCurrentRow(tree->count() - 1);
    QTest::keyClick(tree, Qt::Key_Enter);
    EXPECT_EQ(chooser.Folder(), folder.File("a/b"));
    EXPECT_TRUE(chooser.isVisible());
    // Enter on the open folder's own line confirms it.
    ASSERT_EQ(tree->currentItem()->text().trimmed(), "b");
    QTest::keyClick(tree, Qt::Key_Return);
    EXPECT_FALSE(chooser.isVisible());
    EXPECT_EQ(chooser.result(), QDialog::Accepted);
    EXPECT_EQ(chooser.Folder(), folder.File("a/b"));
}
