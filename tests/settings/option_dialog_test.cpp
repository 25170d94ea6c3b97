// The options dialog and the About box, driven as a user would: shown modally, clicked,
// confirmed or cancelled; checked by what they show and what they leave in the file.
#include "platform/directories.h"
#include "platform/ui/folder_browser.h"
#include "platform/ui/spin_edit.h"
#include "settings/about_box.h"
#include "settings/option_dialog.h"
#include "settings/settings_file.h"
#include "support/message_recorder.h"
#include "support/modal_dialogs.h"
#include "support/temp_folder.h"
#include "support/unwritable_file.h"
#include "support/widgets.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <gtest/gtest.h>

using namespace sorowa;
using namespace Qt::StringLiterals;

namespace {

class OptionDialog : public ::testing::Test {
protected:
    void SetUp() override {
        dialog->SetFolderMaskSource([this] { return mask; });
    }
    void TearDown() override {
        dialog.reset();
        test::ExpectNoWindowsLeft();
    }
    QString Ini() const { return program.File(u"sorowa.INI"_s); }
    void Store(const char* text) { program.Write(u"sorowa.INI"_s, text); }
    QByteArray Stored() const { return test::ReadFileBytes(Ini()); }
    // Shows the dialog modally; act drives it while it is up. Returns the result.
    int Run(std::function<void()> act) {
        QTimer::singleShot(0, dialog.get(), [this, act] {
            act();
            if (dialog->isVisible()) dialog->Bt_Cancel->click();
        });
        return dialog->exec();
    }
    void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    QList<QLabel*> PluginLabels() const {
        return {dialog->Lb_Pi,   dialog->Lb_Mag, dialog->Lb_Q4, dialog->Lb_Pic,
                dialog->Lb_Pic2, dialog->Lb_Tif, dialog->Lb_Png};
    }
    QList<QWidget*> UserSizeControls() const {
        return {dialog->Lb_SizeWidth, dialog->Lb_SizeHeight, dialog->SpEd_SizeWidth,
                dialog->SpEd_SizeHeight};
    }
    bool UserSizeEnabled() const {
        int enabled = 0;
        for (QWidget* w : UserSizeControls())
            enabled += w->isEnabled();
        EXPECT_TRUE(enabled == 0 || enabled == 4) << enabled;
        return enabled == 4;
    }

    test::TempFolder program;
    test::MessageRecorder messages;
    QString mask = u"*.bmp;*.wmf;*.emf;*.ico;*.jpg;*.gif"_s;
    // The settings file is the one beside this program file.
    std::unique_ptr<TForm_Option> dialog =
        std::make_unique<TForm_Option>(program.File(u"sorowa"_s));
};

} // namespace

TEST_F(OptionDialog, LayoutCaptionsAndFirstState) {
    EXPECT_EQ(dialog->windowTitle(), u"オプション"_s);
    EXPECT_EQ(dialog->size(), QSize(450, 321));
    const struct {
        QWidget* control;
        QRect geometry;
        QString text;
    } boxes[] = {
        {dialog->GrBx_Fol, {8, 8, 433, 57}, u"デフォルト フォルダ"_s},
        {dialog->Ed_Fol, {8, 24, 353, 23}, u""_s},
        {dialog->Bt_Fol, {368, 24, 57, 25}, u"参照"_s},
        {dialog->GrBx_Susie, {8, 80, 249, 193}, u"利用可能なSusie Plug-in"_s},
        {dialog->GrBx_Size, {272, 80, 169, 193}, u"サムネイルサイズ"_s},
        {dialog->RdBt_Size80, {8, 24, 113, 17}, u"80 x 80"_s},
        {dialog->RdBt_Size100, {8, 44, 113, 17}, u"100 x 100"_s},
        {dialog->RdBt_Size120, {8, 64, 113, 17}, u"120 x 120"_s},
        {dialog->RdBt_Size150, {8, 84, 113, 17}, u"150 x 150"_s},
        {dialog->RdBt_SizeUser, {8, 104, 113, 17}, u"ユーザー指定"_s},
        {dialog->SpEd_SizeWidth, {88, 128, 65, 24}, u""_s},
        {dialog->SpEd_SizeHeight, {88, 160, 65, 24}, u""_s},
        {dialog->ChBx_Position, {8, 288, 233, 17}, u"ﾒｲﾝｳｨﾝﾄﾞｳの位置ｻｲｽﾞを記憶"_s},
        {dialog->Bt_OK, {272, 288, 83, 25}, u"OK"_s},
        {dialog->Bt_Cancel, {360, 288, 83, 25}, u"キャンセル"_s},
    };
    for (const auto& b : boxes) {
        EXPECT_EQ(b.control->geometry(), b.geometry) << b.control->objectName().toStdString();
        QString text;
        if (auto* box = qobject_cast<QGroupBox*>(b.control)) text = box->title();
        if (auto* button = qobject_cast<QAbstractButton*>(b.control)) text = button->text();
        EXPECT_EQ(text, b.text) << b.control->objectName().toStdString();
    }
    const struct {
        QLabel* label;
        QPoint position;
        QString text;
    } labels[] = {
        {dialog->Lb_Susie1, {16, 24}, u"画像形式"_s},
        {dialog->Lb_Susie2, {104, 24}, u"Plug-inファイル名"_s},
        {dialog->Lb_Pi, {16, 44}, u"Pi       ：ifpi.spi"_s},
        {dialog->Lb_Mag, {16, 60}, u"MAG      ：ifmag.spi"_s},
        {dialog->Lb_Q4, {16, 76}, u"XLD4(.Q4)：ifxld4.spi"_s},
        {dialog->Lb_Pic, {16, 92}, u"PIC      ：ifpic.spi"_s},
        {dialog->Lb_Pic2, {16, 108}, u"PIC2     ：ifpic2.spi"_s},
        {dialog->Lb_Tif, {16, 124}, u"TIFF     ：iftiff.spi"_s},
        {dialog->Lb_Png, {16, 140}, u"PNG      ：ifpng.spi"_s},
        {dialog->Lb_Jpg, {16, 156}, u"JPG      ：ifjpeg.spi"_s},
        {dialog->Lb_Gif, {16, 172}, u"GIF      ：ifgif.spi"_s},
        {dialog->Lb_SizeWidth, {48, 132}, u"幅："_s},
        {dialog->Lb_SizeHeight, {48, 164}, u"高さ："_s},
    };
    for (const auto& l : labels) {
        EXPECT_EQ(l.label->pos(), l.position) << l.text.toStdString();
        EXPECT_EQ(l.label->text(), l.text);
    }
    // The plug-in labels line up: a fixed-pitch font, so every colon starts at one column.
    for (QLabel* label : PluginLabels()) {
        EXPECT_TRUE(QFontInfo(label->font()).fixedPitch()) << label->text().toStdString();
        const QFontMetrics metrics(label->font());
        EXPECT_EQ(metrics.horizontalAdvance(label->text().left(9)),
                  metrics.horizontalAdvance(dialog->Lb_Pi->text().left(9)));
        EXPECT_FALSE(label->isEnabled());
    }
    EXPECT_TRUE(dialog->Lb_Jpg->isHidden());
    EXPECT_TRUE(dialog->Lb_Gif->isHidden());
    EXPECT_TRUE(dialog->RdBt_Size100->isChecked());
    EXPECT_FALSE(UserSizeEnabled());
    EXPECT_EQ(dialog->SpEd_SizeWidth->Value(), 160);
    EXPECT_EQ(dialog->SpEd_SizeHeight->Value(), 120);
    EXPECT_FALSE(dialog->ChBx_Position->isChecked());
    // Tab order: folder, browse, OK, Cancel, the four presets, width, height, user, check box.
    const QList<QWidget*> chain{
        dialog->Ed_Fol,          dialog->Bt_Fol,        dialog->Bt_OK,
        dialog->Bt_Cancel,       dialog->RdBt_Size80,   dialog->RdBt_Size100,
        dialog->RdBt_Size120,    dialog->RdBt_Size150,  dialog->SpEd_SizeWidth,
        dialog->SpEd_SizeHeight, dialog->RdBt_SizeUser, dialog->ChBx_Position};
    for (qsizetype i = 1; i < chain.size(); ++i) {
        QWidget* next = chain[i - 1]->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus || next->focusProxy() == chain[i - 1])
            next = next->nextInFocusChain();
        EXPECT_EQ(next == chain[i] || next->focusProxy() == chain[i], true)
            << chain[i - 1]->objectName().toStdString() << " -> "
            << next->objectName().toStdString();
    }
}

TEST_F(OptionDialog, ShowsTheStoredValuesClampedAndTheFoundPlugins) {
    const struct {
        const char* ini;
        QString mask;
        QRadioButton* TForm_Option::*checked;
        bool userEnabled;
        QSize user;
        bool position;
        QString folder; // empty: the current directory
        QStringList enabledLabels;
    } cases[] = {
        {"", u"*.bmp;*.jpg;*.gif"_s, &TForm_Option::RdBt_Size100, false, {160, 120}, false, {}, {}},
        {"[thumbnail]\nNumber=999\nSize_W=200\nSize_H=150\n[Default]\nPosition=1\nDir=/srv\n",
         u"*.bmp;*.pic"_s,
         &TForm_Option::RdBt_SizeUser,
         true,
         {200, 150},
         true,
         u"/srv"_s,
         {u"Lb_Pic"_s}},
        // An unknown number keeps the buttons as they were (user, from the showing before),
        // with the width and height shown disabled; out-of-range sizes are clamped.
        {"[thumbnail]\nNumber=7\nSize_W=1000\nSize_H=5\n[Default]\nDir=photos\n",
         u"*.bmp;*.pic2"_s,
         &TForm_Option::RdBt_SizeUser,
         false,
         {640, 60},
         false,
         u"PROGRAM/photos"_s,
         {u"Lb_Pic"_s, u"Lb_Pic2"_s}},
        {"[thumbnail]\nNumber=0x50\n",
         u"*.pi;*.mag;*.q4;*.pic;*.pic2;*.tif;*.png"_s,
         &TForm_Option::RdBt_Size80,
         false,
         {160, 120},
         false,
         {},
         {u"Lb_Pi"_s, u"Lb_Mag"_s, u"Lb_Q4"_s, u"Lb_Pic"_s, u"Lb_Pic2"_s, u"Lb_Tif"_s,
          u"Lb_Png"_s}},
    };
    for (const auto& c : cases) {
        Store(c.ini);
        mask = c.mask;
        Run([&] {
            EXPECT_TRUE((dialog.get()->*c.checked)->isChecked()) << c.ini;
            EXPECT_EQ(UserSizeEnabled(), c.userEnabled) << c.ini;
            EXPECT_EQ(dialog->SpEd_SizeWidth->Value(), c.user.width()) << c.ini;
            EXPECT_EQ(dialog->SpEd_SizeHeight->Value(), c.user.height()) << c.ini;
            EXPECT_EQ(dialog->ChBx_Position->isChecked(), c.position) << c.ini;
            QString folder = c.folder.isEmpty() ? platform::CurrentDirectory() : c.folder;
            folder.replace(u"PROGRAM"_s, program.Path());
            EXPECT_EQ(dialog->Ed_Fol->text(), folder) << c.ini;
            QStringList enabled;
            for (QLabel* label : PluginLabels())
                if (label->isEnabled()) enabled << label->objectName();
            EXPECT_EQ(enabled, c.enabledLabels) << c.ini;
            EXPECT_FALSE(dialog->Lb_Jpg->isVisible());
            EXPECT_FALSE(dialog->Lb_Gif->isVisible());
            EXPECT_EQ(dialog->SettingsPath(), Ini());
        });
    }
}

TEST_F(OptionDialog, SizeButtonsSwitchTheUserSizeControls) {
    Run([&] {
        Click(dialog->RdBt_SizeUser);
        EXPECT_TRUE(UserSizeEnabled());
        dialog->SpEd_SizeWidth->SetValue(300);
        Click(dialog->RdBt_Size150);
        EXPECT_FALSE(UserSizeEnabled());
        EXPECT_EQ(dialog->SpEd_SizeWidth->Value(), 300); // kept while disabled
    });
}

TEST_F(OptionDialog, OkWritesEverythingCancelWritesNothing) {
    // A preset still writes the width and height fields; a cleared folder writes empty Dir.
    EXPECT_EQ(Run([&] {
                  dialog->Ed_Fol->clear();
                  Click(dialog->RdBt_Size120);
                  Click(dialog->ChBx_Position);
                  Click(dialog->Bt_OK);
              }),
              QDialog::Accepted);
    EXPECT_EQ(Stored(), "[Default]\nDir=\nPosition=1\n"
                        "[thumbnail]\nNumber=120\nSize_W=160\nSize_H=120\n");
    // Changes, then Cancel: nothing is written, and the next showing shows the file again.
    EXPECT_EQ(Run([&] {
                  dialog->Ed_Fol->setText(u"/elsewhere"_s);
                  Click(dialog->RdBt_SizeUser);
                  dialog->SpEd_SizeWidth->SetValue(400);
                  Click(dialog->Bt_Cancel);
              }),
              QDialog::Rejected);
    EXPECT_EQ(Stored(), "[Default]\nDir=\nPosition=1\n"
                        "[thumbnail]\nNumber=120\nSize_W=160\nSize_H=120\n");
    Run([&] {
        EXPECT_EQ(dialog->Ed_Fol->text(), u""_s);
        EXPECT_TRUE(dialog->RdBt_Size120->isChecked());
        EXPECT_EQ(dialog->SpEd_SizeWidth->Value(), 160);
    });
    // A user size typed out of range is stored clamped.
    Run([&] {
        Click(dialog->RdBt_SizeUser);
        dialog->SpEd_SizeWidth->findChild<QLineEdit*>()->setText(u"9999"_s);
        Click(dialog->Bt_OK);
    });
    EXPECT_TRUE(Stored().contains("Number=999\nSize_W=640\n")) << Stored().toStdString();
    EXPECT_TRUE(messages.Messages().isEmpty());
}

TEST_F(OptionDialog, ARefusedWriteStopsThereAndKeepsTheDialogOpen) {
    // The dialog writes Dir, Number, Size_W, Size_H and Position; the file grows with each.
    // Replayed on a scratch file, the writes give the file after each of them.
    const auto write = [](const platform::ProfileFile& file, int k) {
        switch (k) {
        case 0:
            return file.WriteString(u"Default"_s, u"Dir"_s, u"/pics"_s);
        case 1:
            return file.WriteInteger(u"thumbnail"_s, u"Number"_s, 150);
        case 2:
            return file.WriteInteger(u"thumbnail"_s, u"Size_W"_s, 160);
        case 3:
            return file.WriteInteger(u"thumbnail"_s, u"Size_H"_s, 120);
        default:
            return file.WriteBool(u"Default"_s, u"Position"_s, false);
        }
    };
    test::TempFolder scratch;
    QList<QByteArray> after{QByteArray()};
    for (int k = 0; k < 5; ++k) {
        write(platform::ProfileFile(scratch.File(u"a.INI"_s)), k);
        after << test::ReadFileBytes(scratch.File(u"a.INI"_s));
    }
    // A file size limit at the length after k writes lets those through and refuses the next.
    for (int failing = 0; failing < 5; ++failing) {
        QFile::remove(Ini());
        messages.Clear();
        Run([&] {
            dialog->Ed_Fol->setText(u"/pics"_s);
            Click(dialog->RdBt_Size150);
            {
                test::FileSizeLimit limit(static_cast<rlim_t>(after[failing].size()));
                Click(dialog->Bt_OK);
            }
            EXPECT_TRUE(dialog->isVisible()) << failing;
            EXPECT_EQ(messages.Texts(), QStringList{Ini() + u" に書き込めません."_s}) << failing;
            if (!messages.Messages().isEmpty()) {
                EXPECT_EQ(messages.Messages().first().icon, QMessageBox::Critical);
            }
        });
        EXPECT_EQ(test::ReadFileBytes(Ini()), after[failing]) << failing;
    }
    // With the limit gone, OK goes through.
    EXPECT_EQ(Run([&] { Click(dialog->Bt_OK); }), QDialog::Accepted);
}

TEST_F(OptionDialog, BrowseReplacesTheFolderOnlyWhenConfirmed) {
    test::TempFolder pictures;
    const QString chosen = pictures.File(u"写真"_s);
    ASSERT_TRUE(QDir().mkdir(chosen));
    QStringList titles;
    bool confirm = true;
    // The folder is selected in the browser both times; the second time it is cancelled.
    test::WhenModalOpens<platform::TFolderBrowser> browser([&](platform::TFolderBrowser* b) {
        titles << b->findChild<QLabel*>()->text();
        const bool selected = b->SelectFolder(chosen);
        EXPECT_TRUE(selected);
        if (confirm && selected)
            Click(b->OkButton());
        else
            EXPECT_TRUE(test::ClickButton(b, u"キャンセル"_s));
    });
    Run([&] {
        Click(dialog->Bt_Fol);
        EXPECT_EQ(dialog->Ed_Fol->text(), chosen);
        confirm = false;
        Click(dialog->Bt_Fol);
        EXPECT_EQ(dialog->Ed_Fol->text(), chosen);
    });
    EXPECT_EQ(titles, (QStringList{u"フォルダを指定して下さい"_s, u"フォルダを指定して下さい"_s}));
    EXPECT_FALSE(QFile::exists(Ini())); // nothing written before OK
}

TEST(FolderBrowser, OnlyAChosenFolderCanBeConfirmed) {
    test::TempFolder folder;
    QDir(folder.Path()).mkdir(u"sub"_s);
    folder.Write(u"file.txt"_s, "x");
    platform::TFolderBrowser browser(u"フォルダを指定して下さい"_s);
    EXPECT_FALSE(browser.OkButton()->isEnabled()); // no initial selection
    EXPECT_FALSE(browser.SelectFolder(folder.File(u"file.txt"_s)));
    ASSERT_TRUE(browser.SelectFolder(folder.File(u"sub"_s)));
    EXPECT_TRUE(browser.OkButton()->isEnabled());
    EXPECT_EQ(browser.SelectedFolder(), folder.File(u"sub"_s));
}

TEST(AboutBox, ShowsIconNameVersionAndClosesWithOk) {
    TForm_About about;
    EXPECT_EQ(about.windowTitle(), u"Sorowaのバージョン情報"_s);
    EXPECT_EQ(about.size(), QSize(257, 154));
    EXPECT_EQ(about.Image1->geometry(), QRect(8, 8, 32, 32));
    const QImage icon = about.Image1->pixmap().toImage();
    ASSERT_EQ(icon.size(), QSize(32, 32));
    EXPECT_NE(icon.pixelColor(8, 8), icon.pixelColor(0, 0)); // something is drawn
    EXPECT_EQ(about.Label1->text(), u"Sorowa"_s);
    EXPECT_TRUE(about.Label1->font().bold());
    EXPECT_EQ(about.Label2->text(), u"Version 0.3"_s);
    const QPoint positions[] = {{48, 8}, {48, 28}, {48, 56}, {48, 76}, {48, 96}};
    const QLabel* labels[] = {about.Label1, about.Label2, about.Label3, about.Label4, about.Label5};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(labels[i]->pos(), positions[i]);
        EXPECT_FALSE(labels[i]->text().isEmpty());
        EXPECT_LE(labels[i]->geometry().right(), about.width()) << labels[i]->text().toStdString();
    }
    EXPECT_TRUE(about.Label4->text().contains(u"LICENSE"_s));
    EXPECT_EQ(about.Bt_OK->geometry(), QRect(88, 120, 81, 25));
    QTimer::singleShot(0, &about, [&] { QTest::mouseClick(about.Bt_OK, Qt::LeftButton); });
    EXPECT_EQ(about.exec(), QDialog::Accepted);
    EXPECT_FALSE(about.isVisible());
}
