#pragma once
// The main window: a button panel over the frame that holds the thumbnail windows, the
// main menu, and the folder label. Its two states (no folder open, folder open) exist only
// as the enabled flags of its controls, the folder label and key preview.

#include "platform/directories.h"
#include "settings/settings_file.h"
#include "workspace/folder_listing.h"

#include <QMainWindow>
#include <memory>
#include <optional>

class QAction;
class QActionGroup;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;

namespace sorowa {

class TForm_Grp;
class TMdiFrame;
class TForm_Henkou;
class TWindowRenamer;
class TForm_Option;
class TForm_About;
class TMovePlaceDialog;
class TSPIs;
class TArrangementKeeper;

class TForm_Main : public QMainWindow {
    Q_OBJECT
public:
    // places: where the plug-ins are searched, and the program file the settings file and
    // the help file are named after.
    explicit TForm_Main(platform::ProgramPlaces places, QWidget* parent = nullptr);
    ~TForm_Main() override;

    TMdiFrame* MdiFrame() const { return mdiArea_; }
    bool KeyPreview() const { return keyPreview_; }
    TFileList& FileListBox1() { return fileListBox1_; }
    // The base mask and the patterns of the seven plug-in files found at the first show:
    // the plug-ins the options dialog shows as found (the folder listing takes more).
    const QString& PluginFileMask() const { return pluginFileMask_; }

    // The rename dialog, created once at start-up.
    TForm_Henkou* Form_Henkou = nullptr;
    // The options dialog and the About box, created once at start-up.
    TForm_Option* Form_Option = nullptr;
    TForm_About* Form_About = nullptr;
    // The dialog of 位置を指定して移動, made with the window.
    TMovePlaceDialog* Form_Place;
    // The decoder plug-ins, found and loaded while the window is made.
    std::unique_ptr<TSPIs> SPIs1;

    // Controls, by their names.
    QFrame* Bevel1;
    QWidget* Panel1;
    QPushButton* Bt_Open;
    QLabel* Lb_Fol1;
    QLabel* Lb_Fol2;
    QPushButton* Bt_Up;
    QPushButton* Bt_Down;
    QPushButton* Bt_Save;

    QMenu* M_File;
    QAction* MF_Open;
    QAction* MF_Save;
    QAction* MF_Renumber;
    QAction* MF_Undo;
    QAction* MF_Close;
    QAction* MF_Exit;
    QMenu* M_Run;
    QAction* MR_Up;
    QAction* MR_Down;
    QAction* MR_Open;
    QAction* MR_Top;
    QAction* MR_End;
    QAction* MR_Place;
    QAction* MR_Reverse;
    QAction* MR_SelectAll;
    QAction* MR_UndoOrder;
    QAction* MR_RedoOrder;
    QMenu* M_View;
    QMenu* MV_Size;
    QActionGroup* MVS_Group;
    QAction* MVS_80;
    QAction* MVS_100;
    QAction* MVS_120;
    QAction* MVS_150;
    QAction* MVS_User;
    QAction* MV_Option;
    QMenu* M_Help;
    QAction* MH_Help;
    QAction* MH_Key;
    QAction* MH_About;

    // Handlers.
    void FormShow();
    void FormClose();
    void FormResize();
    void FormKeyDown(int key);
    void Bt_OpenClick();
    void Bt_UpDownClick(QObject* sender);
    void Bt_SaveClick();
    void MF_RenumberClick();
    void MF_UndoClick();
    void MF_CloseClick();
    void MF_ExitClick();
    void MR_UpClick();
    void MR_DownClick();
    void MR_OpenClick();
    void MR_TopClick();
    void MR_EndClick();
    void MR_PlaceClick();
    void MR_ReverseClick();
    void MR_SelectAllClick();
    void MR_UndoOrderClick();
    void MR_RedoOrderClick();
    void MVS_Click(QObject* sender);
    void MV_OptionClick();
    void MH_HelpClick();
    void MH_KeyClick();
    void MH_AboutClick();

    // The order of the thumbnails changed: it is saved a moment later.
    void ArrangementChanged();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void BuildPanel();
    void BuildMenu();
    void ConnectHandlers();
    void EnterNoFolderState();
    void EnterFolderOpenState(const QString& folder);
    // Undo and redo of the order are offered while there is something to take back.
    void UpdateOrderHistory();
    // After a command that moved the selection: its active window is brought into view.
    void ShowActiveChild();
    QString SettingsPath();
    QAction* SizeItemAction(int item) const;
    settings::MainWindowHooks SettingsHooks();
    void ApplyPlacement(const settings::Placement& stored);
    void FinishPlacement();
    QMargins FrameMargins() const;
    void RunHelp(int command);

    const platform::ProgramPlaces places_;
    TMdiFrame* mdiArea_;
    TFileList fileListBox1_;
    QString pluginFileMask_;
    QString settingsPath_;
    bool keyPreview_ = false;
    bool shown_ = false;
    std::unique_ptr<TWindowRenamer> renamer_;
    std::unique_ptr<TArrangementKeeper> arrangement_;
    // A stored frame whose inner size waits for the window manager's frame to be known.
    std::optional<QRect> pendingFrame_;
};

} // namespace sorowa
