#include "settings/option_dialog.h"

#include "platform/directories.h"
#include "platform/ui/error_display.h"
#include "platform/ui/folder_browser.h"
#include "platform/fonts.h"
#include "platform/ui/spin_edit.h"
#include "settings/settings_file.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

namespace sorowa {
namespace {

template <typename Widget>
Widget* Make(QWidget* parent, const char* name, QRect geometry, const QString& text = {}) {
    auto* widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    if constexpr (requires { widget->setText(text); }) widget->setText(text);
    return widget;
}

// A label placed by its top-left corner and sized to its text.
QLabel* MakeLabel(QWidget* parent, const char* name, QPoint position, const QString& text,
                  const QFont* font = nullptr) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    if (font != nullptr) label->setFont(*font);
    label->move(position);
    label->adjustSize();
    return label;
}

struct PluginLabel {
    QLabel* TForm_Option::*label;
    const char* name;
    const char* caption;
    const char* maskEntry; // nullptr: never shown
};

// Captions: the format name padded to nine characters, "：" and the plug-in file name.
const PluginLabel kPluginLabels[] = {
    {&TForm_Option::Lb_Pi, "Lb_Pi", "Pi       ：ifpi.spi", "*.pi"},
    {&TForm_Option::Lb_Mag, "Lb_Mag", "MAG      ：ifmag.spi", "*.mag"},
    {&TForm_Option::Lb_Q4, "Lb_Q4", "XLD4(.Q4)：ifxld4.spi", "*.q4"},
    {&TForm_Option::Lb_Pic, "Lb_Pic", "PIC      ：ifpic.spi", "*.pic"},
    {&TForm_Option::Lb_Pic2, "Lb_Pic2", "PIC2     ：ifpic2.spi", "*.pic2"},
    {&TForm_Option::Lb_Tif, "Lb_Tif", "TIFF     ：iftiff.spi", "*.tif"},
    {&TForm_Option::Lb_Png, "Lb_Png", "PNG      ：ifpng.spi", "*.png"},
    {&TForm_Option::Lb_Jpg, "Lb_Jpg", "JPG      ：ifjpeg.spi", nullptr},
    {&TForm_Option::Lb_Gif, "Lb_Gif", "GIF      ：ifgif.spi", nullptr},
};

} // namespace

TForm_Option::TForm_Option(QString programFile, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      programFile_(std::move(programFile)) {
    setObjectName(QStringLiteral("Form_Option"));
    setWindowTitle(QStringLiteral("オプション"));
    setFont(platform::DesignFont());
    setFixedSize(450, 321);

    BuildFolderGroup();
    BuildPluginGroup();
    BuildSizeGroup();
    ChBx_Position = Make<QCheckBox>(this, "ChBx_Position", {8, 288, 233, 17},
                                    QStringLiteral("ﾒｲﾝｳｨﾝﾄﾞｳの位置ｻｲｽﾞを記憶"));
    ChBx_Companions = Make<QCheckBox>(this, "ChBx_Companions", {8, 304, 260, 17},
                                      QStringLiteral("関連ﾌｧｲﾙ(RAW･XMP等)も名前変更"));
    Bt_OK = Make<QPushButton>(this, "Bt_OK", {272, 288, 83, 25}, QStringLiteral("OK"));
    Bt_Cancel =
        Make<QPushButton>(this, "Bt_Cancel", {360, 288, 83, 25}, QStringLiteral("キャンセル"));
    for (QPushButton* button : {Bt_Fol, Bt_OK, Bt_Cancel}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    // Tab order: the folder group (field, browse), OK, Cancel, the size group (four presets,
    // width, height, user size), the check box.
    const QList<QWidget*> chain{Ed_Fol,         Bt_Fol,          Bt_OK,         Bt_Cancel,
                                RdBt_Size80,    RdBt_Size100,    RdBt_Size120,  RdBt_Size150,
                                SpEd_SizeWidth, SpEd_SizeHeight, RdBt_SizeUser, ChBx_Position,
                                ChBx_Companions};
    for (qsizetype i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);

    const auto guarded = [this](void (TForm_Option::*handler)()) {
        return [this, handler] { platform::RunHandler([&] { (this->*handler)(); }); };
    };
    connect(Bt_Fol, &QPushButton::clicked, this, guarded(&TForm_Option::Bt_FolClick));
    for (QRadioButton* button :
         {RdBt_Size80, RdBt_Size100, RdBt_Size120, RdBt_Size150, RdBt_SizeUser})
        connect(button, &QRadioButton::clicked, this, guarded(&TForm_Option::RdBt_SizeClick));
    connect(Bt_OK, &QPushButton::clicked, this, guarded(&TForm_Option::Bt_OKClick));
    connect(Bt_Cancel, &QPushButton::clicked, this, guarded(&TForm_Option::Bt_CancelClick));
}

void TForm_Option::BuildFolderGroup() {
    GrBx_Fol = Make<QGroupBox>(this, "GrBx_Fol", {8, 8, 433, 57});
    GrBx_Fol->setTitle(QStringLiteral("デフォルト フォルダ"));
    Ed_Fol = Make<QLineEdit>(GrBx_Fol, "Ed_Fol", {8, 24, 353, 23});
    Bt_Fol = Make<QPushButton>(GrBx_Fol, "Bt_Fol", {368, 24, 57, 25}, QStringLiteral("参照"));
}

void TForm_Option::BuildPluginGroup() {
    GrBx_Susie = Make<QGroupBox>(this, "GrBx_Susie", {8, 80, 249, 193});
    GrBx_Susie->setTitle(QStringLiteral("利用可能なSusie Plug-in"));
    Lb_Susie1 = MakeLabel(GrBx_Susie, "Lb_Susie1", {16, 24}, QStringLiteral("画像形式"));
    Lb_Susie2 = MakeLabel(GrBx_Susie, "Lb_Susie2", {104, 24}, QStringLiteral("Plug-inファイル名"));
    // A fixed-pitch font, so that the columns of the captions line up.
    const QFont fixed = platform::FixedDesignFont();
    int top = 44;
    for (const PluginLabel& entry : kPluginLabels) {
        QLabel* label =
            MakeLabel(GrBx_Susie, entry.name, {16, top}, QString::fromUtf8(entry.caption), &fixed);
        label->setEnabled(false);
        if (entry.maskEntry == nullptr) label->hide();
        this->*entry.label = label;
        top += 16;
    }
}

void TForm_Option::BuildSizeGroup() {
    GrBx_Size = Make<QGroupBox>(this, "GrBx_Size", {272, 80, 169, 193});
    GrBx_Size->setTitle(QStringLiteral("サムネイルサイズ"));
    RdBt_Size80 =
        Make<QRadioButton>(GrBx_Size, "RdBt_Size80", {8, 24, 113, 17}, QStringLiteral("80 x 80"));
    RdBt_Size100 = Make<QRadioButton>(GrBx_Size, "RdBt_Size100", {8, 44, 113, 17},
                                      QStringLiteral("100 x 100"));
    RdBt_Size120 = Make<QRadioButton>(GrBx_Size, "RdBt_Size120", {8, 64, 113, 17},
                                      QStringLiteral("120 x 120"));
    RdBt_Size150 = Make<QRadioButton>(GrBx_Size, "RdBt_Size150", {8, 84, 113, 17},
                                      QStringLiteral("150 x 150"));
    RdBt_SizeUser = Make<QRadioButton>(GrBx_Size, "RdBt_SizeUser", {8, 104, 113, 17},
                                       QStringLiteral("ユーザー指定"));
    RdBt_Size100->setChecked(true);
    Lb_SizeWidth = MakeLabel(GrBx_Size, "Lb_SizeWidth", {48, 132}, QStringLiteral("幅："));
    SpEd_SizeWidth = Make<platform::TSpinEdit>(GrBx_Size, "SpEd_SizeWidth", {88, 128, 65, 24});
    SpEd_SizeWidth->SetRange(60, 640);
    SpEd_SizeWidth->SetValue(160);
    Lb_SizeHeight = MakeLabel(GrBx_Size, "Lb_SizeHeight", {48, 164}, QStringLiteral("高さ："));
    SpEd_SizeHeight = Make<platform::TSpinEdit>(GrBx_Size, "SpEd_SizeHeight", {88, 160, 65, 24});
    SpEd_SizeHeight->SetRange(60, 480);
    SpEd_SizeHeight->SetValue(120);
    SetUserSizeEnabled(false);
}

void TForm_Option::SetUserSizeEnabled(bool enabled) {
    for (QWidget* control : std::initializer_list<QWidget*>{Lb_SizeWidth, Lb_SizeHeight,
                                                            SpEd_SizeWidth, SpEd_SizeHeight})
        control->setEnabled(enabled);
}

void TForm_Option::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    platform::RunHandler([this] { FormShow(); });
}

void TForm_Option::FormShow() {
    // 1
    settingsPath_ = settings::SettingsFileLocation(programFile_);
    const platform::ProfileFile file(settingsPath_);
    // 2, 3, 6, 7: the values, as the settings file holds them now.
    const settings::OptionValues values =
        settings::ReadOptionValues(file, platform::CurrentDirectory());
    Ed_Fol->setText(values.folder);
    // 4, 5
    SetUserSizeEnabled(false);
    const std::pair<int, QRadioButton*> presets[] = {
        {80, RdBt_Size80}, {100, RdBt_Size100}, {120, RdBt_Size120}, {150, RdBt_Size150}};
    for (const auto& [number, button] : presets)
        if (values.number == number) button->setChecked(true);
    if (values.number == settings::NumberForSizeItem(settings::SizeItem::User)) {
        RdBt_SizeUser->setChecked(true);
        SetUserSizeEnabled(true);
    }
    // 6
    SpEd_SizeWidth->SetValue(values.userWidth);
    SpEd_SizeHeight->SetValue(values.userHeight);
    // 7
    ChBx_Position->setChecked(values.restorePlacement);
    ChBx_Companions->setChecked(values.renameCompanions);
    // 8: a label is enabled when its pattern is one of the mask's entries; none is ever
    // disabled again.
    const QStringList entries =
        folderMask_ ? folderMask_().split(u';', Qt::SkipEmptyParts) : QStringList();
    for (const PluginLabel& entry : kPluginLabels)
        if (entry.maskEntry != nullptr && entries.contains(QLatin1String(entry.maskEntry)))
            (this->*entry.label)->setEnabled(true);
}

void TForm_Option::Bt_FolClick() {
    if (const std::optional<QString> folder =
            platform::BrowseForFolder(this, QStringLiteral("フォルダを指定して下さい")))
        Ed_Fol->setText(*folder);
}

void TForm_Option::RdBt_SizeClick() {
    SetUserSizeEnabled(RdBt_SizeUser->isChecked());
}

void TForm_Option::Bt_OKClick() {
    // The spin edits clamp when they lose focus; store them clamped even if none did.
    SpEd_SizeWidth->SetValue(SpEd_SizeWidth->Value());
    SpEd_SizeHeight->SetValue(SpEd_SizeHeight->Value());
    settings::OptionValues values;
    values.folder = Ed_Fol->text();
    const std::pair<QRadioButton*, settings::SizeItem> items[] = {
        {RdBt_Size80, settings::SizeItem::Size80},
        {RdBt_Size100, settings::SizeItem::Size100},
        {RdBt_Size120, settings::SizeItem::Size120},
        {RdBt_Size150, settings::SizeItem::Size150},
        {RdBt_SizeUser, settings::SizeItem::User}};
    for (const auto& [button, item] : items)
        if (button->isChecked()) values.number = settings::NumberForSizeItem(item);
    values.userWidth = SpEd_SizeWidth->Value();
    values.userHeight = SpEd_SizeHeight->Value();
    values.restorePlacement = ChBx_Position->isChecked();
    values.renameCompanions = ChBx_Companions->isChecked();
    // A refused write throws out of here: the rest is not written and the dialog stays open.
    settings::WriteOptionValues(platform::ProfileFile(settingsPath_), values);
    accept();
}

void TForm_Option::Bt_CancelClick() {
    reject();
}

} // namespace sorowa
