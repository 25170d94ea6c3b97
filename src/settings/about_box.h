#pragma once
// The About box: the program's icon, name, version and author lines. Created once; hidden
// between uses.

#include <QDialog>

class QLabel;
class QPushButton;

namespace sorowa {

class TForm_About : public QDialog {
    Q_OBJECT
public:
    explicit TForm_About(QWidget* parent = nullptr);

    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QPushButton* Bt_OK;

    void Bt_OKClick();

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace sorowa
