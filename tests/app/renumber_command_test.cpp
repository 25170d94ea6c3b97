// The renumber and undo commands of the File menu, driven through the main window, and the
// recovery of a cut-short renumbering when its folder is opened again. After each test the
// folder holds the same contents as before.
#include "main_window_fixture.h"
#include "platform/file_names.h"
#include "platform/ui/spin_edit.h"
#include "rename/rename_journal.h"
#include "rename/two_phase_rename.h"
#include "rename/ui/rename_dialog.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <map>

using namespace sorowa;

namespace {

class RenumberCommand : public test::MainWindowFixture {
protected:
    void TearDown() override {
        EXPECT_EQ(Checksums(), checksumsBefore);
        EXPECT_FALSE(platform::FileExists(folder.File(kRenameJournalName)));
        MainWindowFixture::TearDown();
    }
    void AnswerDialog(const QString& base, int digits, int start) {
        QTimer::singleShot(0, main, [=, this] {
            TForm_Henkou* dialog = main->Form_Henkou;
            ASSERT_TRUE(dialog->isVisible());
            dialog->Ed_FName->setText(base);
            dialog->SpEd_FNK->SetValue(digits);
            dialog->SpEd_FNSN->SetValue(start);
            QTest::mouseClick(dialog->Bt_OK, Qt::LeftButton);
        });
    }
    // Files whose content is their own name, each a different size.
    void MakeFiles(const QStringList& names) {
        for (const QString& name : names)
            folder.Write(name, ("picture " + name).toUtf8());
        checksumsBefore = Checksums();
    }
    QList<QByteArray> Checksums() const {
        QList<QByteArray> sums;
        for (const platform::DirectoryEntry& entry : platform::ReadDirectory(folder.Path()))
            sums << QCryptographicHash::hash(test::ReadFileBytes(folder.File(entry.name)),
                                             QCryptographicHash::Md5);
        std::sort(sums.begin(), sums.end());
        return sums;
    }
    // The captions in sequence order.
    QStringList Sequence() const {
        QStringList captions;
        for (int n = 1; n <= Windows().size(); ++n)
            captions << Window(n)->windowTitle();
        return captions;
    }
    QString Content(const QString& name) const {
        return QString::fromUtf8(test::ReadFileBytes(folder.File(name)));
    }

    void CheckCompanionsFollow(QAction* command);

    test::TempFolder folder;
    QList<QByteArray> checksumsBefore;
};

QStringList Names(const QString& base, int count) {
    QStringList names;
    for (int i = 1; i <= count; ++i)
        names << QStringLiteral("%1%2.bmp").arg(base).arg(i, 2, 10, QChar(u'0'));
    return names;
}

TEST_F(RenumberCommand, FollowsRenameInTheMenuAndIsEnabledWithIt) {
    QStringList order;
    for (QAction* action : main->M_File->actions())
        order << action->objectName();
    EXPECT_EQ(order, (QStringList{"MF_Open", "MF_Save", "MF_Renumber", "MF_Undo", "MF_Close",
                                  "MF_Bar", "MF_Exit"}));
    EXPECT_EQ(main->MF_Renumber->text(), "連番を振り直す(&N)");
    EXPECT_EQ(main->MF_Undo->text(), "元に戻す(&U)");
    MakeFiles({"a.bmp"});
    for (int round = 0; round < 2; ++round) {
        EXPECT_FALSE(main->MF_Renumber->isEnabled());
        EXPECT_FALSE(main->MF_Undo->isEnabled());
        Open(folder.Path());
        EXPECT_TRUE(main->MF_Renumber->isEnabled());
        EXPECT_FALSE(main->MF_Undo->isEnabled());   // nothing to undo yet
        AnswerDialog(round == 0 ? "b" : "c", 1, 1); // a name that changes
        main->MF_Save->trigger();
        EXPECT_TRUE(main->MF_Undo->isEnabled());
        main->MF_Close->trigger(); // the history belongs to the open folder
    }
}

// 40 numbered photos, the last moved to the front, renumbered with the same base: every file
// gets the name of its place without a message; undo brings back the names before.
TEST_F(RenumberCommand, ReorderedFolderIsRenumberedAndUndone) {
    const QStringList names = Names("trip", 40);
    MakeFiles(names);
    Open(folder.Path());
    main->MdiFrame()->SetActiveChild(Window(40));
    for (int i = 0; i < 39; ++i)
        main->Bt_Up->click();
    const QStringList shown = Sequence();
    ASSERT_EQ(shown.first(), "1;trip40.bmp");
    messages.Clear();
    AnswerDialog("trip", 2, 1);
    main->MF_Renumber->trigger();
    EXPECT_TRUE(messages.Texts().isEmpty()) << messages.Texts().join('\n').toStdString();
    for (int n = 1; n <= 40; ++n) {
        const QString oldName = shown[n - 1].section(u';', 1);
        EXPECT_EQ(Window(n)->windowTitle(), QStringLiteral("%1;%2").arg(n).arg(names[n - 1]));
        EXPECT_EQ(Content(names[n - 1]), "picture " + oldName);
    }
    ASSERT_TRUE(main->MF_Undo->isEnabled());
    main->MF_Undo->trigger();
    EXPECT_TRUE(messages.Texts().isEmpty());
    EXPECT_EQ(Sequence(), shown);
    for (const QString& name : names)
        EXPECT_EQ(Content(name), "picture " + name);
    EXPECT_FALSE(main->MF_Undo->isEnabled());
}

// Undo after the plain rename; a file written to since keeps its new name and is named.
TEST_F(RenumberCommand, UndoAfterRenameLeavesFilesChangedSince) {
    MakeFiles({"a.bmp", "b.bmp", "c.bmp"});
    Open(folder.Path());
    AnswerDialog("x", 1, 1);
    main->Bt_Save->click();
    ASSERT_EQ(Sequence(), (QStringList{"1;x1.bmp", "2;x2.bmp", "3;x3.bmp"}));
    folder.Write("x2.bmp", "picture b.bmp, edited");
    checksumsBefore = Checksums();
    messages.Clear();
    main->MF_Undo->trigger();
    ASSERT_EQ(messages.Texts().size(), 1);
    EXPECT_TRUE(messages.Texts()[0].contains("\nx2.bmp")) << messages.Texts()[0].toStdString();
    EXPECT_EQ(Sequence(), (QStringList{"1;a.bmp", "2;x2.bmp", "3;c.bmp"}));
    EXPECT_EQ(Content("a.bmp"), "picture a.bmp");
    EXPECT_EQ(Content("c.bmp"), "picture c.bmp");
}

// Answers the next question box with the button of that text; its text goes to shown.
void AnswerBox(QObject* context, const QString& button, QString* shown) {
    auto* timer = new QTimer(context);
    QObject::connect(timer, &QTimer::timeout, context, [=] {
        // A question, not one of the program's plain messages (the recorder answers those).
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || box->objectName() == QStringLiteral("MessageBox")) return;
        timer->deleteLater();
        timer->stop();
        *shown = box->text();
        for (QAbstractButton* candidate : box->buttons())
            if (candidate->text() == button) return candidate->click();
        ADD_FAILURE() << "no button " << button.toStdString();
        box->reject();
    });
    timer->start(10);
}

// A file of another program holding a new name is named before anything moves; going on
// leaves that position alone, cancelling leaves everything.
TEST_F(RenumberCommand, ForeignFileHoldingANewNameIsAskedAboutFirst) {
    for (const bool goOn : {true, false}) {
        SCOPED_TRACE(goOn);
        MakeFiles({"p1.gif", "p2.gif", "p3.gif"});
        Open(folder.Path());
        folder.Write("q2.gif", "someone else's");
        checksumsBefore = Checksums();
        messages.Clear();
        AnswerDialog("q", 1, 1);
        QString question;
        AnswerBox(main, goOn ? QStringLiteral("除いて続ける(&C)") : QStringLiteral("キャンセル"),
                  &question);
        main->MF_Renumber->trigger();
        EXPECT_TRUE(question.contains("\np2.gif → q2.gif\n")) << question.toStdString();
        EXPECT_TRUE(messages.Texts().isEmpty());
        const QStringList wanted = goOn ? QStringList{"1;q1.gif", "2;p2.gif", "3;q3.gif"}
                                        : QStringList{"1;p1.gif", "2;p2.gif", "3;p3.gif"};
        EXPECT_EQ(Sequence(), wanted);
        EXPECT_EQ(Content("q2.gif"), "someone else's");
        main->MF_Close->trigger();
        for (const QString& name : QDir(folder.Path()).entryList(QDir::Files))
            QFile::remove(folder.File(name));
    }
    checksumsBefore = Checksums();
}

// Companion files take their picture's new number in a rename and in a renumbering, leave
// unrelated files alone, and come back with undo.
void RenumberCommand::CheckCompanionsFollow(QAction* command) {
    const QStringList pictures{"IMG_0001.JPG", "IMG_0002.jpg", "IMG_0003.jpg"};
    const QStringList companions{"IMG_0001.xmp", "IMG_0001.CR2", "IMG_0002.AAE", "IMG_0002.MOV",
                                 "IMG_0003.JPG.xmp"};
    const QStringList unrelated{"IMG_0004.xmp", "IMG_00011.xmp", "notes.txt"};
    MakeFiles(pictures + companions + unrelated);
    const auto before = QDir(folder.Path()).entryList(QDir::Files, QDir::Name);
    Open(folder.Path());
    main->MdiFrame()->SetActiveChild(Window(3));
    main->Bt_Up->click();
    main->Bt_Up->click(); // IMG_0003 first
    AnswerDialog("trip", 2, 1);
    command->trigger();
    EXPECT_EQ(Sequence(), (QStringList{"1;trip01.jpg", "2;trip02.JPG", "3;trip03.jpg"}));
    const std::map<QString, QString> expected{
        {"trip01.jpg", "IMG_0003.jpg"}, {"trip01.jpg.xmp", "IMG_0003.JPG.xmp"},
        {"trip02.JPG", "IMG_0001.JPG"}, {"trip02.xmp", "IMG_0001.xmp"},
        {"trip02.CR2", "IMG_0001.CR2"}, {"trip03.jpg", "IMG_0002.jpg"},
        {"trip03.AAE", "IMG_0002.AAE"}, {"trip03.MOV", "IMG_0002.MOV"}};
    for (const auto& [now, was] : expected)
        EXPECT_EQ(Content(now), "picture " + was) << now.toStdString();
    for (const QString& name : unrelated)
        EXPECT_EQ(Content(name), "picture " + name);
    main->MF_Undo->trigger();
    EXPECT_EQ(QDir(folder.Path()).entryList(QDir::Files, QDir::Name), before);
}

TEST_F(RenumberCommand, CompanionFilesFollowTheRenumberingAndComeBackOnUndo) {
    CheckCompanionsFollow(main->MF_Renumber);
}

TEST_F(RenumberCommand, CompanionFilesFollowTheRenameAndComeBackOnUndo) {
    CheckCompanionsFollow(main->MF_Save);
}

// The program died in the middle of a renumbering: opening the folder again offers to finish.
TEST_F(RenumberCommand, OpeningAFolderCutShortOffersToFinishIt) {
    MakeFiles({"k1.bmp", "k2.bmp", "k3.bmp"});
    struct Crash {};
    TTwoPhaseOptions crashing;
    int steps = 0;
    crashing.afterStep = [&](TRenameStep, int) {
        if (++steps == 6) throw Crash{}; // after the first final move
    };
    const std::vector<TMove> rotation{
        {"k1.bmp", "k2.bmp"}, {"k2.bmp", "k3.bmp"}, {"k3.bmp", "k1.bmp"}};
    EXPECT_THROW(RunTwoPhaseRename(folder.Path(), rotation, crashing), Crash);
    // The program's own question comes up while the folder opens; it is answered "finish".
    QString question;
    test::WhenModalOpens<QDialog> recovery(
        [&](QDialog* box) {
            question = box->findChild<QLabel*>()->text();
            EXPECT_TRUE(test::ClickButton(box, "完了する(&F)"));
        },
        "RecoveryQuestion");
    Open(folder.Path());
    EXPECT_EQ(recovery.Opened(), 1);
    EXPECT_TRUE(question.contains("3 個のファイル")) << question.toStdString();
    EXPECT_EQ(Sequence(), (QStringList{"1;k1.bmp", "2;k2.bmp", "3;k3.bmp"}));
    EXPECT_EQ(Content("k2.bmp"), "picture k1.bmp");
    EXPECT_EQ(Content("k3.bmp"), "picture k2.bmp");
    EXPECT_EQ(Content("k1.bmp"), "picture k3.bmp");
}

} // namespace
