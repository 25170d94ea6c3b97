#include "platform/ui/spin_edit.h"
#include "rename/ui/rename_dialog.h"
#include "support/message_recorder.h"
#include "support/widgets.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

using namespace sorowa;

namespace {

class RenameDialog : public ::testing::Test {
protected:
    void TearDown() override {
        dialog.reset();
        test::ExpectNoWindowsLeft();
    }
    // Runs the dialog modally; act drives it while it is up. Returns the result.
    int Run(std::function<void()> act) {
        QTimer::singleShot(0, dialog.get(), [act] { act(); });
        return dialog->exec();
    }
    std::unique_ptr<TForm_Henkou> dialog = std::make_unique<TForm_Henkou>();
    test::MessageRecorder messages;
};

} // namespace

TEST_F(RenameDialog, LayoutTextsRangesAndFirstValues) {
    EXPECT_EQ(dialog->windowTitle(), "ファイル名の変更");
    EXPECT_EQ(dialog->size(), QSize(273, 146));
    EXPECT_EQ(dialog->Lb_FName->text(), "ファイル名：");
    EXPECT_EQ(dialog->Lb_FNK->text(), "No.桁数：");
    EXPECT_EQ(dialog->Lb_FNSN->text(), "スタートNo.：");
    EXPECT_EQ(dialog->Ed_FName->geometry(), QRect(88, 8, 177, 23));
    EXPECT_EQ(dialog->SpEd_FNK->geometry(), QRect(88, 40, 57, 24));
    EXPECT_EQ(dialog->SpEd_FNSN->geometry(), QRect(88, 72, 57, 24));
    EXPECT_EQ(dialog->Bt_OK->geometry(), QRect(112, 112, 75, 25));
    EXPECT_EQ(dialog->Bt_Cancel->geometry(), QRect(192, 112, 75, 25));
    EXPECT_EQ(dialog->Bt_Cancel->text(), "キャンセル");
    EXPECT_EQ(dialog->Ed_FName->toolTip(), "新ファイル名（番号なし）を入力");
    EXPECT_EQ(dialog->SpEd_FNK->toolTip(), "新ファイル名の番号桁数を入力");
    EXPECT_EQ(dialog->SpEd_FNSN->toolTip(), "新ファイル名の番号初期値を入力");
    EXPECT_TRUE(dialog->Ed_FName->text().isEmpty());
    EXPECT_EQ(dialog->SpEd_FNK->Value(), 1);
    EXPECT_EQ(dialog->SpEd_FNK->MinValue(), 1);
    EXPECT_EQ(dialog->SpEd_FNK->MaxValue(), 4);
    EXPECT_EQ(dialog->SpEd_FNSN->Value(), 1);
    EXPECT_EQ(dialog->SpEd_FNSN->MinValue(), 0);
    EXPECT_EQ(dialog->SpEd_FNSN->MaxValue(), 9000);
    EXPECT_FALSE(dialog->Bt_OK->isDefault());
    EXPECT_FALSE(dialog->Bt_Cancel->isDefault());
    // Tab order: name, digit count, start number, OK, Cancel.
    EXPECT_EQ(dialog->Ed_FName->nextInFocusChain(), dialog->SpEd_FNK);
}

TEST_F(RenameDialog, ForbiddenCharactersAreRefusedWithTheTwoLineWarning) {
    for (const char* name : {"a/b", "x|y", "p;q", "back\\slash", "c:d", "q?\"<>*,"}) {
        messages.Clear();
        const int result = Run([&] {
            dialog->Ed_FName->setText(QString::fromUtf8(name));
            QTest::mouseClick(dialog->Bt_OK, Qt::LeftButton);
            EXPECT_TRUE(dialog->isVisible()) << name;
            EXPECT_EQ(dialog->Ed_FName->text(), QString::fromUtf8(name));
            dialog->Bt_Cancel->click();
        });
        EXPECT_EQ(result, QDialog::Rejected);
        ASSERT_EQ(messages.Messages().size(), 1) << name;
        EXPECT_EQ(messages.Messages()[0].text,
                  "ファイル名に以下の文字は使えません。\n\\ / : , ; * ? \" < > |");
        EXPECT_EQ(messages.Messages()[0].caption, "警告");
        EXPECT_EQ(messages.Messages()[0].icon, QMessageBox::Critical);
    }
}

TEST_F(RenameDialog, JapaneseCharactersAndDotsPass) {
    for (const char* name : {"ソ表", "trip.day", "", "写真 2026"}) {
        EXPECT_EQ(Run([&] {
                      dialog->Ed_FName->setText(QString::fromUtf8(name));
                      dialog->Bt_OK->click();
                  }),
                  QDialog::Accepted)
            << name;
    }
    EXPECT_TRUE(messages.Messages().isEmpty());
}

TEST_F(RenameDialog, ALeadingDotIsRefusedSoNoFileBecomesHidden) {
    // By the button and by Enter in the name field alike; a dot further in still passes.
    for (const bool byEnter : {false, true}) {
        messages.Clear();
        EXPECT_EQ(Run([&] {
                      dialog->Ed_FName->setText(".trip");
                      if (byEnter)
                          QTest::keyClick(dialog->Ed_FName, Qt::Key_Return);
                      else
                          QTest::mouseClick(dialog->Bt_OK, Qt::LeftButton);
                      EXPECT_TRUE(dialog->isVisible());
                      EXPECT_EQ(dialog->Ed_FName->text(), ".trip");
                      dialog->Bt_Cancel->click();
                  }),
                  QDialog::Rejected);
        ASSERT_EQ(messages.Messages().size(), 1);
        EXPECT_TRUE(
            messages.Messages()[0].text.startsWith("ファイル名の先頭に「.」は使えません。"));
        EXPECT_EQ(messages.Messages()[0].caption, "警告");
    }
}

TEST_F(RenameDialog, EnterInTheNameFieldValidatesAndInASpinEditIsRefused) {
    const int result = Run([&] {
        dialog->SpEd_FNK->setFocus();
        QTest::keyClick(dialog->SpEd_FNK, Qt::Key_Return);
        EXPECT_TRUE(dialog->isVisible());
        dialog->Ed_FName->setFocus();
        QTest::keyClicks(dialog->Ed_FName, "a/b");
        QTest::keyClick(dialog->Ed_FName, Qt::Key_Return);
        EXPECT_TRUE(dialog->isVisible());
        dialog->Ed_FName->setText("photo");
        QTest::keyClick(dialog->Ed_FName, Qt::Key_Enter);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(messages.Messages().size(), 1);
}

TEST_F(RenameDialog, OutOfRangeNumbersAreClampedWhenFocusLeaves) {
    const int result = Run([&] {
        dialog->SpEd_FNK->setFocus();
        dialog->SpEd_FNK->selectAll();
        QTest::keyClicks(dialog->SpEd_FNK, "9");
        dialog->SpEd_FNSN->setFocus();
        dialog->SpEd_FNSN->selectAll();
        QTest::keyClicks(dialog->SpEd_FNSN, "12345");
        QTest::mouseClick(dialog->Bt_OK, Qt::LeftButton);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(dialog->SpEd_FNK->Value(), 4);
    EXPECT_EQ(dialog->SpEd_FNSN->Value(), 9000);
}

TEST_F(RenameDialog, AnEmptiedStartNumberReadsAsZeroAndValuesSurviveTheNextUse) {
    Run([&] {
        dialog->Ed_FName->setText("trip");
        dialog->SpEd_FNK->SetValue(3);
        dialog->SpEd_FNSN->setFocus();
        dialog->SpEd_FNSN->selectAll();
        QTest::keyClick(dialog->SpEd_FNSN, Qt::Key_Delete);
        dialog->Bt_OK->click();
    });
    EXPECT_EQ(dialog->SpEd_FNSN->Value(), 0);
    // The next opening shows the values of this one.
    Run([&] {
        EXPECT_EQ(dialog->Ed_FName->text(), "trip");
        EXPECT_EQ(dialog->SpEd_FNK->Value(), 3);
        EXPECT_EQ(dialog->SpEd_FNSN->Value(), 0);
        dialog->Bt_Cancel->click();
    });
}

TEST_F(RenameDialog, EscapeDoesNotCloseButTheCloseBoxCancels) {
    const int result = Run([&] {
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
        EXPECT_TRUE(dialog->isVisible());
        dialog->close();
    });
    EXPECT_EQ(result, QDialog::Rejected);
}

TEST(SpinEdit, TypingSteppingAndClamping) {
    platform::TSpinEdit edit;
    edit.SetRange(1, 4);
    edit.show();
    QApplication::setActiveWindow(&edit);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&edit));
    edit.setFocus();
    edit.SetValue(2);
    QTest::keyClick(&edit, Qt::Key_Up);
    EXPECT_EQ(edit.Value(), 3);
    QTest::keyClick(&edit, Qt::Key_Up);
    QTest::keyClick(&edit, Qt::Key_Up);
    EXPECT_EQ(edit.Value(), 4);
    QTest::keyClick(&edit, Qt::Key_Down);
    EXPECT_EQ(edit.Value(), 3);
    // Letters and blanks are refused; digits and signs are typed as they are.
    edit.selectAll();
    QTest::keyClicks(&edit, "a 7x+");
    EXPECT_EQ(edit.text(), "7+");
    EXPECT_EQ(edit.Value(), 1); // not an integer: the minimum
    edit.selectAll();
    QTest::keyClicks(&edit, "-5");
    EXPECT_EQ(edit.Value(), -5); // as typed until the field is left
    edit.clearFocus();
    EXPECT_EQ(edit.text(), "1");
    edit.SetValue(99);
    EXPECT_EQ(edit.Value(), 4);
    edit.SetRange(0, 9000);
    edit.SetValue(-3);
    EXPECT_EQ(edit.Value(), 0);
}

TEST(ForbiddenCharacters, GoByCharacter) {
    EXPECT_FALSE(HasForbiddenNameCharacter("ソ表能"));
    EXPECT_TRUE(HasForbiddenNameCharacter("a>b"));
    EXPECT_TRUE(HasForbiddenNameCharacter("\""));
    EXPECT_FALSE(HasForbiddenNameCharacter("a-b_c.d e"));
}
