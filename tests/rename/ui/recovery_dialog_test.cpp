// The question put for a rename cut short: it shows every move, Return and Escape leave
// everything as it is, and each button gives its answer.
#include "rename/ui/recovery_dialog.h"
#include "support/widgets.h"

#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

using namespace sorowa;

namespace {

void PressButton(QDialog* box, const QString& text) {
    for (QPushButton* button : box->findChildren<QPushButton*>())
        if (button->text() == text) return QTest::mouseClick(button, Qt::LeftButton);
    ADD_FAILURE() << "no button " << text.toStdString();
}

} // namespace

TEST(RecoveryDialog, ShowsTheMovesAndGivesTheAnswerOfEachKeyAndButton) {
    const struct {
        const char* name;
        std::function<void(QDialog*)> answer;
        TRecoveryChoice expected;
    } cases[] = {
        {"Return", [](QDialog* box) { QTest::keyClick(box, Qt::Key_Return); },
         TRecoveryChoice::kLeave},
        {"Escape", [](QDialog* box) { QTest::keyClick(box, Qt::Key_Escape); },
         TRecoveryChoice::kLeave},
        {"finish", [](QDialog* box) { PressButton(box, QStringLiteral("完了する(&F)")); },
         TRecoveryChoice::kFinish},
        {"roll back", [](QDialog* box) { PressButton(box, QStringLiteral("元に戻す(&R)")); },
         TRecoveryChoice::kRollBack},
        {"leave", [](QDialog* box) { PressButton(box, QStringLiteral("そのままにする(&L)")); },
         TRecoveryChoice::kLeave},
    };
    const QString moves = QStringLiteral("a.jpg → b.jpg\nb.jpg → c.jpg\nc.jpg → a.jpg");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QString question;
        QString shown;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->objectName(), QStringLiteral("RecoveryQuestion"));
            question = box->findChild<QLabel*>()->text();
            shown = box->findChild<QPlainTextEdit*>(QStringLiteral("Moves"))->toPlainText();
            c.answer(box);
        });
        EXPECT_EQ(AskRecoveryQuestion(QStringLiteral("the question"), moves, nullptr), c.expected);
        EXPECT_EQ(question, QStringLiteral("the question"));
        EXPECT_EQ(shown, moves);
        test::ExpectNoWindowsLeft();
    }
}
