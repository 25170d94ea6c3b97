#pragma once
// The options dialog: the default folder, the thumbnail size choice with the user size,
// and whether the main window's placement is restored at start-up; it also shows which
// decoder plug-ins were found at start-up. It reads the settings file each time it is
// shown and writes it only on OK. Created once; hidden between uses.

#include <QDialog>
#include <functional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace sorowa {

namespace platform {
class TSpinEdit;
}

class TForm_Option : public QDialog {
    Q_OBJECT
public:
    // programFile: the program file whose settings file the dialog reads and writes (see
    // settings::SettingsFileLocation).
    explicit TForm_Option(QString programFile, QWidget* parent = nullptr);

    // Where the dialog reads the main window's folder-listing mask.
    void SetFolderMaskSource(std::function<QString()> source) { folderMask_ = std::move(source); }
    // The settings file path computed at the last showing.
    QString SettingsPath() const { return settingsPath_; }

    QGroupBox* GrBx_Fol;
    QLineEdit* Ed_Fol;
    QPushButton* Bt_Fol;
    QGroupBox* GrBx_Susie;
    QLabel* Lb_Susie1;
    QLabel* Lb_Susie2;
    QLabel* Lb_Pi;
    QLabel* Lb_Mag;
    QLabel* Lb_Q4;
    QLabel* Lb_Pic;
    QLabel* Lb_Pic2;
    QLabel* Lb_Tif;
    QLabel* Lb_Png;
    QLabel* Lb_Jpg;
    QLabel* Lb_Gif;
    QGroupBox* GrBx_Size;
    QRadioButton* RdBt_Size80;
    QRadioButton* RdBt_Size100;
    QRadioButton* RdBt_Size120;
    QRadioButton* RdBt_Size150;
    QRadioButton* RdBt_SizeUser;
    QLabel* Lb_SizeWidth;
    platform::TSpinEdit* SpEd_SizeWidth;
    QLabel* Lb_SizeHeight;
    platform::TSpinEdit* SpEd_SizeHeight;
    QCheckBox* ChBx_Position;
    QCheckBox* ChBx_Companions;
    QPushButton* Bt_OK;
    QPushButton* Bt_Cancel;

    void FormShow();
    void Bt_FolClick();
    void RdBt_SizeClick();
    void Bt_OKClick();
    void Bt_CancelClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildFolderGroup();
    void BuildPluginGroup();
    void BuildSizeGroup();
    void SetUserSizeEnabled(bool enabled);

    const QString programFile_;
    std::function<QString()> folderMask_;
    QString settingsPath_;
};

} // namespace sorowa
