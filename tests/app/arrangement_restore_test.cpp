// The arrangement outlives the folder's windows: arranged with Page Down, the folder closed (or
// the program ended) and opened again, the question comes and the order comes back; name order
// forgets it; a renumbering keeps only an order its new names do not give.
#include "arrangement/arrangement_store.h"
#include "main_window_fixture.h"
#include "platform/ui/spin_edit.h"
#include "rename/ui/rename_dialog.h"

#include <QAbstractButton>
#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <memory>

using namespace sorowa;

namespace {

class ArrangementRestore : public test::MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        for (const char* name : {"p01.bmp", "p02.bmp", "p03.bmp", "p04.bmp"})
            folder.Write(name, test::MakeBmp(2, 2));
    }
    QString Canonical() const { return arrangement::CanonicalFolder(folder.Path()).value(); }
    bool Saved() const { return arrangement::LoadArrangement(Canonical()).has_value(); }
    QStringList Sequence() const {
        QStringList captions;
        for (int n = 1; n <= Windows().size(); ++n)
            captions << (Window(n) != nullptr ? Window(n)->windowTitle() : QString());
        return captions;
    }
    // Page Down in one of the main window's own controls, with number selected.
    void PageDown(int number) {
        main->MdiFrame()->SetActiveChild(Window(number));
        main->Bt_Save->setFocus();
        QTest::keyClick(main->Bt_Save, Qt::Key_PageDown);
    }
    // Opens the folder; a question box that comes up is answered as a user would: Return
    // for the default button, or Escape first (which must not answer) and then Space on
    // the named button.
    void OpenAnswering(const QString& button) {
        question.reset();
        auto poll = std::make_unique<QTimer>();
        poll->setInterval(10);
        QObject::connect(poll.get(), &QTimer::timeout, main, [&, timer = poll.get()] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) return;
            timer->stop();
            Question seen{box->windowTitle(), box->text(), {}, {}, false};
            for (QAbstractButton* b : box->buttons())
                seen.buttons << b->text();
            if (box->defaultButton() != nullptr) seen.defaultButton = box->defaultButton()->text();
            question = seen;
            if (button.isEmpty()) {
                QTest::keyClick(box, Qt::Key_Return);
                return;
            }
            QTest::keyClick(box, Qt::Key_Escape);
            question->closedByEscape = !box->isVisible();
            if (question->closedByEscape) return;
            for (QAbstractButton* b : box->buttons())
                if (b->text() == button) QTest::keyClick(b, Qt::Key_Space);
        });
        poll->start();
        Open(folder.Path());
    }
    struct Question {
        QString caption;
        QString text;
        QStringList buttons;
        QString defaultButton;
        bool closedByEscape = false;
    };
    std::optional<Question> question;
    test::TempFolder folder;
};

const QStringList kNameOrder{"1;p01.bmp", "2;p02.bmp", "3;p03.bmp", "4;p04.bmp"};
const QStringList kArranged{"1;p01.bmp", "2;p03.bmp", "3;p02.bmp", "4;p04.bmp"};

} // namespace

TEST_F(ArrangementRestore, ComesBackAfterTheFolderIsClosedUnlessNameOrderIsChosen) {
    struct Case {
        const char* what;
        bool closeAtOnce; // closed while the save is still pending
        QString answer;   // empty: the default button
    };
    const Case cases[] = {
        {"saved within a second, restored", false, {}},
        {"saved at the close of the folder, name order chosen", true, QStringLiteral("名前順")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OpenAnswering({});
        ASSERT_FALSE(question) << "asked with nothing saved";
        ASSERT_EQ(Sequence(), kNameOrder);
        PageDown(2);
        ASSERT_EQ(Sequence(), kArranged);
        if (!c.closeAtOnce) QTRY_VERIFY_WITH_TIMEOUT(Saved(), 1000);
        main->MF_Close->trigger();
        ASSERT_TRUE(Saved());
        ASSERT_TRUE(test::WaitFor([&] { return Windows().isEmpty(); }));

        OpenAnswering(c.answer);
        ASSERT_TRUE(question) << "not asked";
        EXPECT_EQ(question->caption, "Sorowa");
        EXPECT_EQ(question->text, "前回の並び順を復元しますか？");
        EXPECT_EQ(question->buttons, (QStringList{"復元する", "名前順"}));
        EXPECT_EQ(question->defaultButton, "復元する");
        EXPECT_FALSE(question->closedByEscape) << "Escape is no answer";
        if (c.answer.isEmpty()) {
            EXPECT_EQ(Sequence(), kArranged);
            EXPECT_TRUE(Saved());
            // Back in name order by hand: nothing is left to restore.
            PageDown(2);
            ASSERT_EQ(Sequence(), kNameOrder);
            QTRY_VERIFY_WITH_TIMEOUT(!Saved(), 1000);
        } else {
            EXPECT_EQ(Sequence(), kNameOrder);
            EXPECT_FALSE(Saved());
        }
        main->MF_Close->trigger();
        ASSERT_TRUE(test::WaitFor([&] { return Windows().isEmpty(); }));
        OpenAnswering({});
        EXPECT_FALSE(question) << "asked again";
        EXPECT_EQ(Sequence(), kNameOrder);
        main->MF_Close->trigger();
        ASSERT_TRUE(test::WaitFor([&] { return Windows().isEmpty(); }));
    }
    EXPECT_TRUE(messages.Messages().isEmpty());
}

TEST_F(ArrangementRestore, APendingChangeIsSavedAtExit) {
    OpenAnswering({});
    PageDown(2);
    main->MF_Exit->trigger();
    const std::optional<arrangement::TArrangement> saved =
        arrangement::LoadArrangement(Canonical());
    ASSERT_TRUE(saved);
    EXPECT_EQ(arrangement::NamesOf(saved->files),
              (QStringList{"p01.bmp", "p03.bmp", "p02.bmp", "p04.bmp"}));
}

// Renamed in sequence order, the files list in that order and nothing is kept; unless the
// numbers do not sort as names (q8, q9, q10, q11 list as q10, q11, q8, q9): then the order is
// kept under the new names.
TEST_F(ArrangementRestore, ARenumberingKeepsOnlyAnOrderTheNamesDoNotGive) {
    struct Case {
        int start;
        QStringList sequence;
        bool kept;
    };
    const Case cases[] = {
        {1, {"1;q1.bmp", "2;q2.bmp", "3;q3.bmp", "4;q4.bmp"}, false},
        {8, {"1;q8.bmp", "2;q9.bmp", "3;q10.bmp", "4;q11.bmp"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        OpenAnswering({});
        PageDown(2);
        QTRY_VERIFY_WITH_TIMEOUT(Saved(), 1000);
        QTimer::singleShot(0, main, [this, start = c.start] {
            main->Form_Henkou->Ed_FName->setText(QStringLiteral("q"));
            main->Form_Henkou->SpEd_FNSN->SetValue(start);
            QTest::mouseClick(main->Form_Henkou->Bt_OK, Qt::LeftButton);
        });
        main->MF_Renumber->trigger();
        ASSERT_EQ(Sequence(), c.sequence);
        EXPECT_EQ(Saved(), c.kept);
        main->MF_Close->trigger();
        ASSERT_TRUE(test::WaitFor([&] { return Windows().isEmpty(); }));
        OpenAnswering({});
        EXPECT_EQ(question.has_value(), c.kept);
        EXPECT_EQ(Sequence(), c.sequence);
        main->MF_Close->trigger();
        ASSERT_TRUE(test::WaitFor([&] { return Windows().isEmpty(); }));
        // The next round starts from the files in name order again.
        for (int n = 0; n < 4; ++n)
            ASSERT_TRUE(QFile::rename(
                folder.File(c.sequence[n].section(u';', 1)),
                folder.File(QStringLiteral("p%1.bmp").arg(n + 1, 2, 10, QChar(u'0')))));
    }
    EXPECT_TRUE(messages.Messages().isEmpty());
}
