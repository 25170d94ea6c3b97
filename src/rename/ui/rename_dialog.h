#pragma once
// The rename dialog: base name, digit count and start number of a batch rename. Created
// once; it keeps its values from one use to the next.

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace sorowa {

namespace platform {
class TSpinEdit;
}

// The characters a base name cannot hold, in the order they are looked for.
inline constexpr char16_t kForbiddenNameCharacters[] = u"\\/:,;*?\"<>|";
bool HasForbiddenNameCharacter(const QString& name);

class TForm_Henkou : public QDialog {
    Q_OBJECT
public:
    explicit TForm_Henkou(QWidget* parent = nullptr);

    QLabel* Lb_FName;
    QLabel* Lb_FNK;
    QLabel* Lb_FNSN;
    QLineEdit* Ed_FName;
    platform::TSpinEdit* SpEd_FNK;
    platform::TSpinEdit* SpEd_FNSN;
    QPushButton* Bt_OK;
    QPushButton* Bt_Cancel;

    void Bt_OKClick();
    void Bt_CancelClick();
    void Ed_FNameKeyDown(int key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
};

} // namespace sorowa
