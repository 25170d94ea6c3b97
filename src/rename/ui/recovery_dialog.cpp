#include "rename/ui/recovery_dialog.h"

#include "platform/ui/message_box.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace sorowa {

// The question names every file it would move, so that the user sees what either answer does
// before giving it.
TRecoveryChoice AskRecoveryQuestion(const QString& question, const QString& moves,
                                    QWidget* parent) {
    QDialog box(parent);
    box.setObjectName(QStringLiteral("RecoveryQuestion"));
    box.setWindowTitle(platform::ApplicationTitle());
    box.setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(&box);
    auto* label = new QLabel(question, &box);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* list = new QPlainTextEdit(moves, &box);
    list->setObjectName(QStringLiteral("Moves"));
    list->setReadOnly(true);
    list->setLineWrapMode(QPlainTextEdit::NoWrap);
    list->setFocusPolicy(Qt::NoFocus);
    list->setMinimumSize(420, 160);
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(&box);
    QPushButton* finish =
        buttons->addButton(QStringLiteral("完了する(&F)"), QDialogButtonBox::AcceptRole);
    QPushButton* rollBack =
        buttons->addButton(QStringLiteral("元に戻す(&R)"), QDialogButtonBox::AcceptRole);
    QPushButton* leave =
        buttons->addButton(QStringLiteral("そのままにする(&L)"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    TRecoveryChoice choice = TRecoveryChoice::kLeave;
    QObject::connect(finish, &QPushButton::clicked, &box, [&] {
        choice = TRecoveryChoice::kFinish;
        box.accept();
    });
    QObject::connect(rollBack, &QPushButton::clicked, &box, [&] {
        choice = TRecoveryChoice::kRollBack;
        box.accept();
    });
    QObject::connect(leave, &QPushButton::clicked, &box, &QDialog::reject);
    finish->setAutoDefault(false);
    rollBack->setAutoDefault(false);
    leave->setDefault(true);
    leave->setFocus();
    box.exec();
    return choice;
}

TRecoveryUi RecoveryDialogs(QWidget* parent) {
    return {[parent](const QString& question, const QString& moves) {
                return AskRecoveryQuestion(question, moves, parent);
            },
            [parent](const QString& text) { platform::ShowMessage(text, parent); }};
}

} // namespace sorowa
