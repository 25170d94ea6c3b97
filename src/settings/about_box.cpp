#include "settings/about_box.h"

#include "platform/fonts.h"
#include "platform/program_icon.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace sorowa {
namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, QPoint position, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->move(position);
    label->adjustSize();
    return label;
}

} // namespace

TForm_About::TForm_About(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("Form_About"));
    setWindowTitle(QStringLiteral("Sorowaのバージョン情報"));
    setFont(platform::DesignFont());
    setFixedSize(257, 154);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(8, 8, 32, 32);
    Image1->setPixmap(platform::ProgramIconPixmap(32));

    Label1 = MakeLabel(this, "Label1", {48, 8}, QStringLiteral("Sorowa"));
    QFont bold = font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label1->adjustSize();
    Label2 = MakeLabel(this, "Label2", {48, 28}, QStringLiteral("Version 0.3"));
    Label3 = MakeLabel(this, "Label3", {48, 56}, QStringLiteral("2026 Sorowa の作者たち"));
    Label4 = MakeLabel(this, "Label4", {48, 76}, QStringLiteral("MIT ライセンス (LICENSE)"));
    Label5 = MakeLabel(this, "Label5", {48, 96}, QStringLiteral("一部に IJG の成果を利用"));

    Bt_OK = new QPushButton(QStringLiteral("OK"), this);
    Bt_OK->setObjectName(QStringLiteral("Bt_OK"));
    Bt_OK->setGeometry(88, 120, 81, 25);
    connect(Bt_OK, &QPushButton::clicked, this, [this] { Bt_OKClick(); });
}

void TForm_About::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TForm_About::Bt_OKClick() {
    accept();
}

} // namespace sorowa
