#include "rename/ui/rename_dialog.h"

#include "platform/fonts.h"
#include "platform/ui/message_box.h"
#include "platform/ui/spin_edit.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace sorowa {
namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    return label;
}

platform::TSpinEdit* MakeSpinEdit(QWidget* parent, const char* name, const QString& hint,
                                  QRect geometry, int minimum, int maximum, int value) {
    auto* edit = new platform::TSpinEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setToolTip(hint);
    edit->setGeometry(geometry);
    edit->SetRange(minimum, maximum);
    edit->SetValue(value);
    return edit;
}

QString ForbiddenCharacterList() {
    QString list;
    for (const char16_t* c = kForbiddenNameCharacters; *c != 0; ++c) {
        if (!list.isEmpty()) list += u' ';
        list += QChar(*c);
    }
    return list;
}

} // namespace

bool HasForbiddenNameCharacter(const QString& name) {
    for (const char16_t* c = kForbiddenNameCharacters; *c != 0; ++c)
        if (name.contains(QChar(*c))) return true;
    return false;
}

TForm_Henkou::TForm_Henkou(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("Form_Henkou"));
    setWindowTitle(QStringLiteral("ファイル名の変更"));
    setFont(platform::DesignFont());
    setFixedSize(273, 146);

    Lb_FName = MakeLabel(this, "Lb_FName", QStringLiteral("ファイル名："), {8, 12, 73, 15});
    Lb_FNK = MakeLabel(this, "Lb_FNK", QStringLiteral("No.桁数："), {8, 44, 59, 15});
    Lb_FNSN = MakeLabel(this, "Lb_FNSN", QStringLiteral("スタートNo.："), {8, 76, 78, 15});
    Ed_FName = new QLineEdit(this);
    Ed_FName->setObjectName(QStringLiteral("Ed_FName"));
    Ed_FName->setToolTip(QStringLiteral("新ファイル名（番号なし）を入力"));
    Ed_FName->setGeometry(88, 8, 177, 23);
    SpEd_FNK = MakeSpinEdit(this, "SpEd_FNK", QStringLiteral("新ファイル名の番号桁数を入力"),
                            {88, 40, 57, 24}, 1, 4, 1);
    SpEd_FNSN = MakeSpinEdit(this, "SpEd_FNSN", QStringLiteral("新ファイル名の番号初期値を入力"),
                             {88, 72, 57, 24}, 0, 9000, 1);
    Bt_OK = new QPushButton(QStringLiteral("OK"), this);
    Bt_OK->setObjectName(QStringLiteral("Bt_OK"));
    Bt_OK->setGeometry(112, 112, 75, 25);
    Bt_Cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    Bt_Cancel->setObjectName(QStringLiteral("Bt_Cancel"));
    Bt_Cancel->setGeometry(192, 112, 75, 25);
    // Neither button is the default or the cancel button of the dialog.
    for (QPushButton* button : {Bt_OK, Bt_Cancel}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    setTabOrder(Ed_FName, SpEd_FNK);
    setTabOrder(SpEd_FNK, SpEd_FNSN);
    setTabOrder(SpEd_FNSN, Bt_OK);
    setTabOrder(Bt_OK, Bt_Cancel);

    connect(Bt_OK, &QPushButton::clicked, this, [this] { Bt_OKClick(); });
    connect(Bt_Cancel, &QPushButton::clicked, this, [this] { Bt_CancelClick(); });
    Ed_FName->installEventFilter(this);
}

void TForm_Henkou::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    Ed_FName->setFocus();
}

void TForm_Henkou::Bt_OKClick() {
    if (HasForbiddenNameCharacter(Ed_FName->text())) {
        platform::ShowWarning(QStringLiteral("ファイル名に以下の文字は使えません。\n") +
                                  ForbiddenCharacterList(),
                              platform::MessageIcon::Error, this);
        return;
    }
    // A leading "." would make every renamed file a hidden file, which the folder listing
    // skips: the folder would seem emptied. tests/rename/ui/rename_dialog_test.cpp shows it.
    if (Ed_FName->text().startsWith(u'.')) {
        platform::ShowWarning(QStringLiteral("ファイル名の先頭に「.」は使えません。\n"
                                             "「.」で始まる名前のファイルは隠しファイルになり、"
                                             "一覧に表示されなくなります。"),
                              platform::MessageIcon::Error, this);
        return;
    }
    // The spin edits clamp when they lose focus; read them clamped even if none did.
    SpEd_FNK->SetValue(SpEd_FNK->Value());
    SpEd_FNSN->SetValue(SpEd_FNSN->Value());
    accept();
}

void TForm_Henkou::Bt_CancelClick() {
    reject();
}

void TForm_Henkou::Ed_FNameKeyDown(int key) {
    if (key == Qt::Key_Return || key == Qt::Key_Enter) Bt_OKClick();
}

bool TForm_Henkou::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Ed_FName && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            Ed_FNameKeyDown(key);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TForm_Henkou::keyPressEvent(QKeyEvent* event) {
    // Without a cancel button, Esc does not close the dialog; the title bar's close box does.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace sorowa
