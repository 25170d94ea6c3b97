// The help viewer over the program's own help file: every link of its contents and index
// leads to a topic, and the topic search narrows the index as the user types.
#include "platform/ui/help_viewer.h"
#include "support/temp_folder.h"
#include "support/widgets.h"

#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace sorowa;
using namespace Qt::StringLiterals;

namespace {

QString ProgramHelp() {
    return QString::fromUtf8(test::ReadFileBytes(QStringLiteral(SOROWA_HELP_FILE)));
}

} // namespace

TEST(HelpFile, EveryLinkLeadsToATopicAndEveryCommandIsDescribed) {
    const platform::HelpDocument help = platform::ParseHelp(ProgramHelp());
    QStringList anchors;
    for (const platform::HelpTopic& topic : help.topics)
        anchors << topic.anchor;
    EXPECT_GE(help.topics.size(), 15);
    EXPECT_GE(help.index.size(), 30);
    static const QRegularExpression link(u"href=\"#([^\"]+)\""_s);
    for (auto it = link.globalMatch(help.html); it.hasNext();) {
        const QString target = it.next().captured(1);
        EXPECT_TRUE(anchors.contains(target)) << target.toStdString();
    }
    // Every menu command and button of the main window, by its caption.
    for (const char* command :
         {"ファルダ参照", "▲ UP", "▼DOWN", "名前変更", "フォルダを閉じる", "終了", "上移動",
          "下移動", "選択画像を開く", "サムネイルのサイズ", "オプション", "目次", "トピックの検索",
          "バージョン情報", "ﾒｲﾝｳｨﾝﾄﾞｳの位置ｻｲｽﾞを記憶", "ifpng.spi", "sorowa.INI", "LICENSE"})
        EXPECT_TRUE(help.html.contains(QString::fromUtf8(command))) << command;
}

TEST(HelpViewer, ContentsAndTopicSearch) {
    platform::THelpViewer viewer;
    viewer.Run(QStringLiteral(SOROWA_HELP_FILE), platform::HelpCommand::Finder);
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_EQ(viewer.Tabs()->currentIndex(), 1);
    const int all = viewer.IndexList()->count();
    EXPECT_EQ(all, viewer.Document().index.size());
    // Typing narrows the index; Enter shows the first entry's topic.
    QTest::keyClicks(viewer.SearchField(), u"sorowa.ini"_s);
    ASSERT_EQ(viewer.IndexList()->count(), 1);
    EXPECT_EQ(viewer.IndexList()->currentItem()->text(), u"sorowa.INI"_s);
    viewer.Page()->verticalScrollBar()->setValue(0);
    QTest::keyClick(viewer.SearchField(), Qt::Key_Return);
    EXPECT_GT(viewer.Page()->verticalScrollBar()->value(), 0); // scrolled to the topic
    viewer.SearchField()->clear();
    EXPECT_EQ(viewer.IndexList()->count(), all);
    // The contents list every topic, and the contents command shows the first tab.
    viewer.Run(QStringLiteral(SOROWA_HELP_FILE), platform::HelpCommand::Contents);
    EXPECT_EQ(viewer.Tabs()->currentIndex(), 0);
    EXPECT_EQ(viewer.Contents()->topLevelItemCount(), viewer.Document().topics.size());
    viewer.close();
}

TEST(HelpViewer, AMissingOrOddFileIsReportedInTheViewer) {
    test::TempFolder folder;
    const QString fifo = folder.File(u"fifo.HLP"_s);
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    for (const QString& file : {folder.File(u"missing.HLP"_s), fifo, folder.Path()}) {
        platform::THelpViewer viewer;
        viewer.Run(file, platform::HelpCommand::Contents); // a FIFO must not block here
        EXPECT_TRUE(viewer.Page()->toPlainText().contains(u"ヘルプファイルを開けません"_s))
            << file.toStdString();
        EXPECT_TRUE(viewer.Document().topics.isEmpty());
        viewer.close();
    }
}
