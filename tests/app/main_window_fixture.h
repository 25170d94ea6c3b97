#pragma once
// A started program: the main window shown (its first-show steps done), the initial
// thumbnail window gone, message boxes recorded, the folder chooser answered by the test
// (entered and confirmed, or cancelled, as a user would).

#include "app/main_form.h"
#include "app/startup.h"
#include "platform/directories.h"
#include "support/message_recorder.h"
#include "support/modal_dialogs.h"
#include "support/temp_folder.h"
#include "support/widgets.h"
#include "workspace/child_windows.h"
#include "workspace/folder_chooser.h"
#include "workspace/mdi_frame.h"
#include "workspace/thumbnail_window.h"

#include <QPointer>
#include <QPushButton>
#include <gtest/gtest.h>

namespace sorowa::test {

class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        previousDirectory_ = platform::CurrentDirectory();
        // Where the settings go when the program's folder cannot take them.
        qputenv("XDG_CONFIG_HOME", configFolder.Path().toUtf8());
        // Where the arrangements of folders are kept: never the user's own.
        qputenv("XDG_STATE_HOME", stateFolder.Path().toUtf8());
        BeforeStart();
        forms = CreateForms(places);
        main = forms.mainForm.get();
        main->show();
        if (keepWindowSizeAtStart) ResizeOuter(449);
        QPointer<TForm_Grp> initial = forms.initialThumbnail;
        ASSERT_TRUE(WaitFor([&] { return initial.isNull(); }));
    }
    void TearDown() override {
        forms.mainForm.reset();
        platform::SetCurrentDirectory(previousDirectory_);
        qunsetenv("XDG_CONFIG_HOME");
        qunsetenv("XDG_STATE_HOME");
        ExpectNoWindowsLeft();
    }

    // Runs before the program starts (to lay down a settings file, or change places, say).
    virtual void BeforeStart() {}
    QString SettingsFile() const { return programFolder.File("sorowa.INI"); }

    // Opens folder through the open command, as if chosen in the chooser.
    void Open(const QString& folder) {
        chosenFolder = folder;
        main->Bt_Open->click();
    }
    // Gives the main window an outer (frame) width of width pixels.
    void ResizeOuter(int width) {
        main->resize(width - (main->frameGeometry().width() - main->width()), 385);
        ASSERT_EQ(main->frameGeometry().width(), width);
    }
    QList<TForm_Grp*> Windows() const { return ChildWindows(main->MdiFrame()); }
    TForm_Grp* Window(int number) const { return FindByNumber(main->MdiFrame(), number); }
    QStringList Captions() const {
        QStringList captions;
        for (TForm_Grp* window : Windows())
            captions << window->windowTitle();
        return captions;
    }

    bool keepWindowSizeAtStart = true; // the layout tests expect a 449 pixel wide window
    TempFolder programFolder;
    // The settings file lives beside the program file: keep it in a folder of the test's.
    // The machine's plug-in folders are the real ones unless a test gives its own.
    platform::ProgramPlaces places{.programFile = programFolder.File("sorowa")};
    TempFolder configFolder;
    TempFolder stateFolder;
    TProgramForms forms;
    TForm_Main* main = nullptr;
    MessageRecorder messages;
    // The folder the chooser is to open; nullopt cancels it.
    std::optional<QString> chosenFolder;
    // Where each chooser opened.
    QStringList chooserStarts;
    // Runs in the chooser just before it is confirmed.
    std::function<void()> beforeConfirm;

private:
    void AnswerChooser(TFolderChooser* chooser) {
        chooserStarts << chooser->Folder();
        bool confirm = chosenFolder.has_value();
        if (confirm && !chooser->EnterFolder(*chosenFolder)) {
            ADD_FAILURE() << "the chooser cannot enter " << chosenFolder->toStdString();
            confirm = false;
        }
        if (confirm && beforeConfirm) beforeConfirm();
        EXPECT_TRUE(
            ClickButton(chooser, confirm ? QStringLiteral("OK") : QStringLiteral("キャンセル")));
    }

    WhenModalOpens<TFolderChooser> chooser_{[this](TFolderChooser* c) { AnswerChooser(c); }};
    QString previousDirectory_;
};

} // namespace sorowa::test
