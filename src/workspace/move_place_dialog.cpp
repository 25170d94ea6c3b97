#include "workspace/move_place_dialog.h"

#include "platform/fonts.h"
#include "platform/ui/spin_edit.h"

#include <QLabel>
#include <QPushButton>

namespace sorowa {

TMovePlaceDialog::TMovePlaceDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("Form_Place"));
    setWindowTitle(QStringLiteral("位置を指定して移動"));
    setFont(platform::DesignFont());
    setFixedSize(233, 82);
    Lb_Place = new QLabel(QStringLiteral("移動先の番号(&P)："), this);
    Lb_Place->setObjectName(QStringLiteral("Lb_Place"));
    Lb_Place->setGeometry(8, 12, 120, 15);
    SpEd_Place = new platform::TSpinEdit(this);
    SpEd_Place->setObjectName(QStringLiteral("SpEd_Place"));
    SpEd_Place->setToolTip(QStringLiteral("選択画像の先頭を移す番号を入力"));
    SpEd_Place->setGeometry(136, 8, 89, 24);
    Lb_Place->setBuddy(SpEd_Place);
    Bt_OK = new QPushButton(QStringLiteral("OK"), this);
    Bt_OK->setObjectName(QStringLiteral("Bt_OK"));
    Bt_OK->setGeometry(72, 48, 75, 25);
    Bt_OK->setDefault(true);
    Bt_Cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    Bt_Cancel->setObjectName(QStringLiteral("Bt_Cancel"));
    Bt_Cancel->setGeometry(152, 48, 75, 25);
    connect(Bt_OK, &QPushButton::clicked, this, &QDialog::accept);
    connect(Bt_Cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TMovePlaceDialog::Prepare(int count, int place) {
    SpEd_Place->SetRange(1, std::max(count, 1));
    SpEd_Place->SetValue(place);
}

int TMovePlaceDialog::Place() const {
    return std::clamp(SpEd_Place->Value(), SpEd_Place->MinValue(), SpEd_Place->MaxValue());
}

void TMovePlaceDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    SpEd_Place->setFocus();
    SpEd_Place->selectAll();
}

} // namespace sorowa
