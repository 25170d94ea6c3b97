#pragma once
// The small dialog of the command that moves the selection to a place given by number:
// one spin edit, 1 to the number of thumbnails, for the place the selection's first
// thumbnail goes to. Created once; shown modally for each use.

#include <QDialog>

class QLabel;
class QPushButton;

namespace sorowa {

namespace platform {
class TSpinEdit;
}

class TMovePlaceDialog : public QDialog {
    Q_OBJECT
public:
    explicit TMovePlaceDialog(QWidget* parent = nullptr);

    // Sets the range 1..count and the value place before the dialog is shown.
    void Prepare(int count, int place);
    // The place chosen, clamped into the range.
    int Place() const;

    QLabel* Lb_Place;
    platform::TSpinEdit* SpEd_Place;
    QPushButton* Bt_OK;
    QPushButton* Bt_Cancel;

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace sorowa
