#include "app/main_form.h"

#include "app/arrangement_keeper.h"
#include "app/folder_mask.h"
#include "picture/gif/gif_renderer.h"
#include "platform/directories.h"
#include "platform/fonts.h"
#include "platform/profile.h"
#include "platform/shell.h"
#include "platform/ui/error_display.h"
#include "platform/ui/help_viewer.h"
#include "platform/ui/message_box.h"
#include "rename/rename_recovery.h"
#include "rename/ui/recovery_dialog.h"
#include "rename/ui/rename_dialog.h"
#include "rename/ui/window_rename.h"
#include "settings/about_box.h"
#include "settings/option_dialog.h"
#include "settings/settings_file.h"
#include "spi/spi.h"
#include "workspace/child_windows.h"
#include "workspace/folder_chooser.h"
#include "workspace/grid_layout.h"
#include "workspace/mdi_frame.h"
#include "workspace/move_place_dialog.h"
#include "workspace/reorder.h"
#include "workspace/sequence.h"
#include "workspace/thumbnail_size.h"
#include "workspace/thumbnail_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace sorowa {
namespace {

QPushButton* MakeButton(QWidget* panel, const char* name, const QString& caption,
                        const QString& hint, QRect geometry) {
    auto* button = new QPushButton(caption, panel);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(hint);
    button->setGeometry(geometry);
    return button;
}

QAction* MakeAction(QMenu* menu, const char* name, const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

QString UserSizeCaption(QSize size) {
    return QStringLiteral("ユーザー指定（%1 x %2）").arg(size.width()).arg(size.height());
}

} // namespace

TForm_Main::TForm_Main(platform::ProgramPlaces places, QWidget* parent)
    : QMainWindow(parent), places_(std::move(places)),
      mdiArea_(new TMdiFrame(nullptr, std::make_shared<gif::TRenderer>())) {
    renamer_ = std::make_unique<TWindowRenamer>(this);
    arrangement_ = std::make_unique<TArrangementKeeper>(this, [this] {
        const QList<TForm_Grp*> windows = ChildWindows(mdiArea_);
        const TNumberIndex index(windows);
        QStringList names;
        for (int n = 1; n <= windows.size(); ++n)
            if (TForm_Grp* window = index.Find(n)) names << window->FileName();
        return names;
    });
    setObjectName(QStringLiteral("Form_Main"));
    setWindowTitle(QStringLiteral("Sorowa"));
    setFont(platform::DesignFont());
    resize(449, 385);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    Bevel1 = new QFrame(central);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setFixedHeight(2);
    Panel1 = new QWidget(central);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(71);
    mdiArea_->setParent(central);
    layout->addWidget(Bevel1);
    layout->addWidget(Panel1);
    layout->addWidget(mdiArea_, 1);
    setCentralWidget(central);

    Form_Place = new TMovePlaceDialog(this);
    BuildPanel();
    BuildMenu();
    ConnectHandlers();
    qApp->installEventFilter(this);

    SPIs1 = std::make_unique<TSPIs>();
    SPIs1->Places = places_;
    SPIs1->SearchOptions = {TSPISearchOption::spsSusieDir, TSPISearchOption::spsAppDir,
                            TSPISearchOption::spsSystemDir, TSPISearchOption::spsWindowsDir};
    SPIs1->Loaded();
}

TForm_Main::~TForm_Main() {
    if (qApp != nullptr) qApp->removeEventFilter(this);
    // Pictures decode through the plug-ins on the frame's pool: none may still run when the
    // plug-ins are unloaded, which happens before the frame goes with the window's children.
    mdiArea_->Decodes().CancelAll();
    // The frame outlives this part of the window: what it tells must not reach it.
    disconnect(&mdiArea_->Sequence(), nullptr, this, nullptr);
}

void TForm_Main::BuildPanel() {
    Bt_Open =
        MakeButton(Panel1, "Bt_Open", QStringLiteral("ファルダ参照"),
                   QStringLiteral("指定フォルダ上の画像ファイルをすべて開く"), {8, 8, 97, 25});
    Lb_Fol1 = new QLabel(QStringLiteral("フォルダ："), Panel1);
    Lb_Fol1->setObjectName(QStringLiteral("Lb_Fol1"));
    Lb_Fol1->move(112, 12);
    Lb_Fol1->adjustSize();
    Lb_Fol2 = new QLabel(Panel1);
    Lb_Fol2->setObjectName(QStringLiteral("Lb_Fol2"));
    Lb_Fol2->move(176, 12);
    Lb_Fol2->setTextFormat(Qt::PlainText);
    Bt_Up = MakeButton(Panel1, "Bt_Up", QStringLiteral("▲ UP "),
                       QStringLiteral("選択画像ファイルを上移動"), {8, 40, 72, 25});
    Bt_Down = MakeButton(Panel1, "Bt_Down", QStringLiteral("▼DOWN"),
                         QStringLiteral("選択画像ファイルを下移動"), {80, 40, 72, 25});
    Bt_Up->setFont(platform::FixedDesignFont());
    Bt_Down->setFont(platform::FixedDesignFont());
    Bt_Save = MakeButton(Panel1, "Bt_Save", QStringLiteral("名前変更"),
                         QStringLiteral("ファイル名の一斉変更"), {160, 40, 75, 25});
    for (QPushButton* button : {Bt_Open, Bt_Up, Bt_Down, Bt_Save})
        button->setAutoDefault(false);
}

void TForm_Main::BuildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    M_File = bar->addMenu(QStringLiteral("ファイル(&F)"));
    M_File->setObjectName(QStringLiteral("M_File"));
    MF_Open = MakeAction(M_File, "MF_Open", QStringLiteral("フォルダ参照(&O)"));
    MF_Save = MakeAction(M_File, "MF_Save", QStringLiteral("名前変更(&S)"));
    MF_Renumber = MakeAction(M_File, "MF_Renumber", QStringLiteral("連番を振り直す(&N)"));
    MF_Undo = MakeAction(M_File, "MF_Undo", QStringLiteral("元に戻す(&U)"));
    MF_Close = MakeAction(M_File, "MF_Close", QStringLiteral("フォルダを閉じる(&C)"));
    M_File->addSeparator()->setObjectName(QStringLiteral("MF_Bar"));
    MF_Exit = MakeAction(M_File, "MF_Exit", QStringLiteral("終了(&X)"));

    M_Run = bar->addMenu(QStringLiteral("実行(&R)"));
    M_Run->setObjectName(QStringLiteral("M_Run"));
    MR_Up = MakeAction(M_Run, "MR_Up", QStringLiteral("上移動(&U)"));
    MR_Down = MakeAction(M_Run, "MR_Down", QStringLiteral("下移動(&D)"));
    MR_Open = MakeAction(M_Run, "MR_Open", QStringLiteral("選択画像を開く(&O)"));
    M_Run->addSeparator();
    MR_Top = MakeAction(M_Run, "MR_Top", QStringLiteral("先頭へ移動(&T)"));
    MR_Top->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Home));
    MR_End = MakeAction(M_Run, "MR_End", QStringLiteral("末尾へ移動(&E)"));
    MR_End->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_End));
    MR_Place = MakeAction(M_Run, "MR_Place", QStringLiteral("位置を指定して移動(&M)..."));
    MR_Reverse = MakeAction(M_Run, "MR_Reverse", QStringLiteral("並びを逆にする(&V)"));
    M_Run->addSeparator();
    MR_SelectAll = MakeAction(M_Run, "MR_SelectAll", QStringLiteral("すべて選択(&A)"));
    MR_SelectAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    // The File menu's 元に戻す takes back renames and has no shortcut; Ctrl+Z here takes
    // back only changes of order.
    MR_UndoOrder = MakeAction(M_Run, "MR_UndoOrder", QStringLiteral("並べ替えを元に戻す(&Z)"));
    MR_UndoOrder->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    MR_RedoOrder = MakeAction(M_Run, "MR_RedoOrder", QStringLiteral("並べ替えをやり直す(&Y)"));
    MR_RedoOrder->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});

    M_View = bar->addMenu(QStringLiteral("表示(&V)"));
    M_View->setObjectName(QStringLiteral("M_View"));
    MV_Size = M_View->addMenu(QStringLiteral("サムネイルのサイズ(&S)"));
    MV_Size->setObjectName(QStringLiteral("MV_Size"));
    MVS_Group = new QActionGroup(this);
    MVS_Group->setExclusive(true);
    MVS_80 = MakeAction(MV_Size, "MVS_80", QStringLiteral("80 x 80"));
    MVS_100 = MakeAction(MV_Size, "MVS_100", QStringLiteral("100 x 100"));
    MVS_120 = MakeAction(MV_Size, "MVS_120", QStringLiteral("120 x 120"));
    MVS_150 = MakeAction(MV_Size, "MVS_150", QStringLiteral("150 x 150"));
    MVS_User = MakeAction(MV_Size, "MVS_User", UserSizeCaption({160, 120}));
    for (QAction* item : {MVS_80, MVS_100, MVS_120, MVS_150, MVS_User}) {
        item->setCheckable(true);
        MVS_Group->addAction(item);
    }
    MVS_100->setChecked(true);
    MV_Option = MakeAction(M_View, "MV_Option", QStringLiteral("オプション(&O)"));

    M_Help = bar->addMenu(QStringLiteral("ヘルプ(&H)"));
    M_Help->setObjectName(QStringLiteral("M_Help"));
    MH_Help = MakeAction(M_Help, "MH_Help", QStringLiteral("目次(&C)"));
    MH_Key = MakeAction(M_Help, "MH_Key", QStringLiteral("トピックの検索(&H)"));
    M_Help->addSeparator()->setObjectName(QStringLiteral("MH_Bar"));
    MH_About = MakeAction(M_Help, "MH_About", QStringLiteral("バージョン情報(&A)"));
}

void TForm_Main::ConnectHandlers() {
    // Every handler runs guarded: an error it raises goes to the error display.
    auto on = [this](auto* control, auto signal, auto handler) {
        connect(control, signal, this, [this, control, handler] {
            platform::RunHandler([&] { handler(this, control); });
        });
    };
    using M = TForm_Main;
    on(Bt_Open, &QPushButton::clicked, [](M* m, QObject*) { m->Bt_OpenClick(); });
    on(MF_Open, &QAction::triggered, [](M* m, QObject*) { m->Bt_OpenClick(); });
    on(Bt_Up, &QPushButton::clicked, [](M* m, QObject* s) { m->Bt_UpDownClick(s); });
    on(Bt_Down, &QPushButton::clicked, [](M* m, QObject* s) { m->Bt_UpDownClick(s); });
    on(Bt_Save, &QPushButton::clicked, [](M* m, QObject*) { m->Bt_SaveClick(); });
    on(MF_Save, &QAction::triggered, [](M* m, QObject*) { m->Bt_SaveClick(); });
    on(MF_Renumber, &QAction::triggered, [](M* m, QObject*) { m->MF_RenumberClick(); });
    on(MF_Undo, &QAction::triggered, [](M* m, QObject*) { m->MF_UndoClick(); });
    on(MF_Close, &QAction::triggered, [](M* m, QObject*) { m->MF_CloseClick(); });
    on(MF_Exit, &QAction::triggered, [](M* m, QObject*) { m->MF_ExitClick(); });
    on(MR_Up, &QAction::triggered, [](M* m, QObject*) { m->MR_UpClick(); });
    on(MR_Down, &QAction::triggered, [](M* m, QObject*) { m->MR_DownClick(); });
    on(MR_Open, &QAction::triggered, [](M* m, QObject*) { m->MR_OpenClick(); });
    on(MR_Top, &QAction::triggered, [](M* m, QObject*) { m->MR_TopClick(); });
    on(MR_End, &QAction::triggered, [](M* m, QObject*) { m->MR_EndClick(); });
    on(MR_Place, &QAction::triggered, [](M* m, QObject*) { m->MR_PlaceClick(); });
    on(MR_Reverse, &QAction::triggered, [](M* m, QObject*) { m->MR_ReverseClick(); });
    on(MR_SelectAll, &QAction::triggered, [](M* m, QObject*) { m->MR_SelectAllClick(); });
    on(MR_UndoOrder, &QAction::triggered, [](M* m, QObject*) { m->MR_UndoOrderClick(); });
    on(MR_RedoOrder, &QAction::triggered, [](M* m, QObject*) { m->MR_RedoOrderClick(); });
    connect(&mdiArea_->Sequence(), &TSequence::HistoryChanged, this,
            [this] { UpdateOrderHistory(); });
    // Every change of order the user makes (drag, command, Page Up/Down, undo, redo) is saved.
    connect(&mdiArea_->Sequence(), &TSequence::OrderChanged, this,
            [this] { ArrangementChanged(); });
    for (QAction* item : {MVS_80, MVS_100, MVS_120, MVS_150, MVS_User})
        on(item, &QAction::triggered, [](M* m, QObject* s) { m->MVS_Click(s); });
    on(MV_Option, &QAction::triggered, [](M* m, QObject*) { m->MV_OptionClick(); });
    on(MH_Help, &QAction::triggered, [](M* m, QObject*) { m->MH_HelpClick(); });
    on(MH_Key, &QAction::triggered, [](M* m, QObject*) { m->MH_KeyClick(); });
    on(MH_About, &QAction::triggered, [](M* m, QObject*) { m->MH_AboutClick(); });
}

void TForm_Main::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_) return;
    shown_ = true;
    platform::RunHandler([this] { FormShow(); });
}

void TForm_Main::FormShow() {
    // 1, 3, 4: the no-folder state, except that MF_Open keeps its own enabled flag here.
    const bool openEnabled = MF_Open->isEnabled();
    EnterNoFolderState();
    MF_Open->setEnabled(openEnabled);
    // 2
    SetThumbnailSize({100, 100});
    // 5: close the initial thumbnail window; it is destroyed later by the event loop.
    if (const QList<TForm_Grp*> children = ChildWindows(mdiArea_); !children.isEmpty())
        children.first()->close();
    // 6-8
    pluginFileMask_ = BuildPluginFileMask(PluginSearchPath(places_));
    fileListBox1_.SetMask(FolderMaskFrom(pluginFileMask_));
    // 9: the stored settings. The placement is applied as a whole once all four values
    // are read, fitted to the desktop.
    settingsPath_ = settings::SettingsFileLocation(places_.programFile);
    settings::MainWindowHooks hooks = SettingsHooks();
    std::optional<settings::Placement> placement;
    hooks.setLeft = [&](int left) { placement.emplace().left = left; };
    hooks.setTop = [&](int top) { placement->top = top; };
    hooks.setWidth = [&](int width) { placement->width = width; };
    hooks.setHeight = [&](int height) { placement->height = height; };
    settings::RunStartupSteps(platform::ProfileFile(settingsPath_), hooks);
    if (placement) ApplyPlacement(*placement);
}

settings::MainWindowHooks TForm_Main::SettingsHooks() {
    settings::MainWindowHooks hooks;
    hooks.setDefaultFolder = [](const QString& folder) { SetDefaultFolder(folder); };
    hooks.runSizeCommand = [this](settings::SizeItem item) {
        MVS_Click(SizeItemAction(static_cast<int>(item)));
    };
    return hooks;
}

// The stored values are the outer frame. Its corner is placed as the frame's corner (the
// window manager keeps it there when it adds the frame), but the inner size can only be
// derived once the window has been framed: until then the window takes the stored size as
// its inner size, and FinishPlacement corrects it as soon as the frame is known. A window
// manager that draws no frame never announces one; the placement then stays as it is.
// tests/app/placement_under_wm.sh checks the round trip under a real window manager.
void TForm_Main::ApplyPlacement(const settings::Placement& stored) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect desktop = screen != nullptr ? screen->virtualGeometry() : QRect(0, 0, 640, 480);
    const settings::Placement p = settings::FitPlacement(stored, desktop);
    const QRect frame(p.left, p.top, p.width, p.height);
    // Size first: the position set last decides that the position means the frame's.
    resize(frame.size());
    if (QWindow* window = windowHandle())
        window->setFramePosition(frame.topLeft());
    else
        move(frame.topLeft());
    pendingFrame_ = frame;
    QTimer::singleShot(2000, this, [this] { pendingFrame_.reset(); });
}

QMargins TForm_Main::FrameMargins() const {
    // Asked of the window system each time: the widget's own copy can lag behind the window
    // manager's frame.
    return windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
}

void TForm_Main::FinishPlacement() {
    const QMargins margins = FrameMargins();
    if (!pendingFrame_ || margins.isNull()) return;
    const QRect frame = *pendingFrame_;
    pendingFrame_.reset();
    setGeometry(frame.marginsRemoved(margins));
}

QString TForm_Main::SettingsPath() {
    if (settingsPath_.isEmpty())
        settingsPath_ = settings::SettingsFileLocation(places_.programFile);
    return settingsPath_;
}

QAction* TForm_Main::SizeItemAction(int item) const {
    QAction* const items[] = {MVS_80, MVS_100, MVS_120, MVS_150, MVS_User};
    return items[item];
}

void TForm_Main::EnterNoFolderState() {
    Bt_Open->setEnabled(true);
    MF_Open->setEnabled(true);
    Bt_Up->setEnabled(false);
    Bt_Down->setEnabled(false);
    Bt_Save->setEnabled(false);
    MF_Save->setEnabled(false);
    MF_Renumber->setEnabled(false);
    MF_Undo->setEnabled(false);
    renamer_->Clear();
    MF_Close->setEnabled(false);
    M_Run->menuAction()->setEnabled(false);
    for (QAction* item : {MR_Top, MR_End, MR_Place, MR_Reverse, MR_SelectAll})
        item->setEnabled(false);
    UpdateOrderHistory();
    Lb_Fol2->clear();
    keyPreview_ = false;
}

void TForm_Main::EnterFolderOpenState(const QString& folder) {
    Bt_Open->setEnabled(false);
    MF_Open->setEnabled(false);
    Bt_Up->setEnabled(true);
    Bt_Down->setEnabled(true);
    Bt_Save->setEnabled(true);
    MF_Save->setEnabled(true);
    MF_Renumber->setEnabled(true);
    MF_Undo->setEnabled(false);
    MF_Close->setEnabled(true);
    M_Run->menuAction()->setEnabled(true);
    for (QAction* item : {MR_Top, MR_End, MR_Place, MR_Reverse, MR_SelectAll})
        item->setEnabled(true);
    UpdateOrderHistory();
    Lb_Fol2->setText(folder);
    Lb_Fol2->adjustSize();
    keyPreview_ = true;
}

void TForm_Main::UpdateOrderHistory() {
    const bool open = M_Run->menuAction()->isEnabled();
    MR_UndoOrder->setEnabled(open && mdiArea_->Sequence().CanUndo());
    MR_RedoOrder->setEnabled(open && mdiArea_->Sequence().CanRedo());
}

void TForm_Main::closeEvent(QCloseEvent* event) {
    platform::RunHandler([this] { FormClose(); });
    QMainWindow::closeEvent(event);
}

void TForm_Main::FormClose() {
    arrangement_->Flush();
    // A minimised window stores where it will come back; a maximised one its present edges.
    const QRect inner = isMinimized() ? normalGeometry() : geometry();
    const QRect outer = inner.marginsAdded(FrameMargins());
    settings::WritePlacement(platform::ProfileFile(SettingsPath()),
                             {outer.left(), outer.top(), outer.width(), outer.height()});
}

void TForm_Main::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    platform::RunHandler([this] { FormResize(); });
}

void TForm_Main::FormResize() {
    const QList<TForm_Grp*> windows = ChildWindows(mdiArea_);
    if (windows.size() < 2) return;
    const QSize size = ThumbnailSize();
    TGridPlacer placer(size, WrapLimit(frameGeometry().width(), size));
    const TSequence& sequence = mdiArea_->Sequence();
    for (int i = 1; i <= windows.size(); ++i) {
        const QPoint position = placer.Next();
        if (TForm_Grp* window = sequence.At(i)) {
            window->move(position);
            window->SetClientSize(size);
        }
    }
    mdiArea_->RemeasureLater();
}

bool TForm_Main::event(QEvent* event) {
    const bool result = QMainWindow::event(event);
    if (pendingFrame_) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Paint:
        case QEvent::WindowActivate:
            FinishPlacement();
            break;
        default:
            break;
        }
    }
    return result;
}

bool TForm_Main::eventFilter(QObject* watched, QEvent* event) {
    // Key preview: Page Up / Page Down pressed in one of this window's own controls (not in
    // a thumbnail window, which handles its keys itself). Only the first delivery of a key,
    // the one to the focus widget, counts.
    if (event->type() == QEvent::KeyPress && keyPreview_ && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        const QWidget* focus = QApplication::focusWidget();
        const bool first = widget == focus || (focus == nullptr && widget == this);
        bool inThumbnail = false;
        for (QWidget* w = widget; w != nullptr; w = w->parentWidget())
            if (qobject_cast<TForm_Grp*>(w) != nullptr) inThumbnail = true;
        if (first && !inThumbnail && widget->window() == this) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            platform::RunHandler([&] { FormKeyDown(key); });
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm_Main::FormKeyDown(int key) {
    if (key == Qt::Key_PageUp) Bt_Up->click();
    if (key == Qt::Key_PageDown) Bt_Down->click();
}

void TForm_Main::Bt_OpenClick() {
    const QString start = DefaultFolder();
    const std::optional<QString> folder = ChooseFolder(this, start);
    if (!folder) return;
    RecoverInterruptedRename(*folder, RecoveryDialogs(this));
    fileListBox1_.SetDirectory(*folder);
    const QStringList names = arrangement_->Opened(*folder, fileListBox1_.Items());
    if (names.isEmpty()) {
        platform::ShowMessage(QStringLiteral("取り扱えるグラフィックファイルがありません"), this);
        return;
    }
    const QSize size = ThumbnailSize();
    TGridPlacer placer(size, WrapLimit(frameGeometry().width(), size));
    for (qsizetype n = 1; n <= names.size(); ++n) {
        auto* window = new TForm_Grp(mdiArea_);
        connect(window, &TForm_Grp::MoveKeyPressed, this,
                [this](bool up) { (up ? Bt_Up : Bt_Down)->click(); });
        // In place before the load, so that a failure's message does not show it on top of
        // the first thumbnail.
        window->move(placer.Next());
        window->LoadPicture(QString::number(n), *folder + u'/' + names[n - 1]);
        mdiArea_->AppendToSequence(window);
    }
    EnterFolderOpenState(*folder);
}

void TForm_Main::MF_CloseClick() {
    arrangement_->Closed();
    const QList<TForm_Grp*> windows = ChildWindows(mdiArea_);
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        (*it)->close();
    EnterNoFolderState();
}

void TForm_Main::Bt_UpDownClick(QObject* sender) {
    const QString name = sender != nullptr ? sender->objectName() : QString();
    if (name != QStringLiteral("Bt_Up") && name != QStringLiteral("Bt_Down")) return;
    MoveSelectionOnePlace(mdiArea_, name == QStringLiteral("Bt_Up"));
}

void TForm_Main::ArrangementChanged() {
    arrangement_->Changed();
}

void TForm_Main::Bt_SaveClick() {
    if (Form_Henkou == nullptr || Form_Henkou->exec() != QDialog::Accepted) return;
    TBatchRenameParams params = ParamsFromDialog(*Form_Henkou, Lb_Fol2->text());
    params.companions = settings::ReadRenameCompanions(platform::ProfileFile(SettingsPath()));
    renamer_->BatchRename(params, ChildWindows(mdiArea_));
    // The arrangement under the new names: gone when they list in sequence order.
    arrangement_->SaveNow();
    MF_Undo->setEnabled(renamer_->CanUndo());
    mdiArea_->Sequence().ClearHistory();
}

void TForm_Main::MF_RenumberClick() {
    if (Form_Henkou == nullptr || Form_Henkou->exec() != QDialog::Accepted) return;
    TBatchRenameParams params = ParamsFromDialog(*Form_Henkou, Lb_Fol2->text());
    params.companions = settings::ReadRenameCompanions(platform::ProfileFile(SettingsPath()));
    renamer_->Renumber(params, ChildWindows(mdiArea_));
    arrangement_->SaveNow();
    MF_Undo->setEnabled(renamer_->CanUndo());
    mdiArea_->Sequence().ClearHistory();
}

void TForm_Main::MF_UndoClick() {
    renamer_->Undo(Lb_Fol2->text());
    arrangement_->SaveNow(); // the old names are back, in the order the windows show
    MF_Undo->setEnabled(renamer_->CanUndo());
    mdiArea_->Sequence().ClearHistory();
}

void TForm_Main::MF_ExitClick() {
    close();
}

void TForm_Main::MR_UpClick() {
    Bt_Up->click();
}

void TForm_Main::MR_DownClick() {
    Bt_Down->click();
}

void TForm_Main::MR_OpenClick() {
    if (TForm_Grp* window = mdiArea_->ActiveChild()) platform::ShellOpen(window->FileName());
}

void TForm_Main::ShowActiveChild() {
    if (TForm_Grp* window = mdiArea_->ActiveChild()) mdiArea_->ensureWidgetVisible(window, 0, 0);
}

void TForm_Main::MR_TopClick() {
    if (mdiArea_->Sequence().MoveSelectionToPlace(1)) ShowActiveChild();
}

void TForm_Main::MR_EndClick() {
    TSequence& sequence = mdiArea_->Sequence();
    if (sequence.MoveSelectionToGap(sequence.Size())) ShowActiveChild();
}

void TForm_Main::MR_PlaceClick() {
    TSequence& sequence = mdiArea_->Sequence();
    const std::vector<int> selected = sequence.SelectedNumbers();
    if (selected.empty()) return;
    Form_Place->Prepare(sequence.Size(), selected.front());
    if (Form_Place->exec() != QDialog::Accepted) return;
    if (sequence.MoveSelectionToPlace(Form_Place->Place())) ShowActiveChild();
}

void TForm_Main::MR_ReverseClick() {
    mdiArea_->Sequence().ReverseSelection();
}

void TForm_Main::MR_SelectAllClick() {
    mdiArea_->SelectAll();
}

void TForm_Main::MR_UndoOrderClick() {
    if (mdiArea_->Sequence().Undo()) ShowActiveChild();
}

void TForm_Main::MR_RedoOrderClick() {
    if (mdiArea_->Sequence().Redo()) ShowActiveChild();
}

void TForm_Main::MVS_Click(QObject* sender) {
    const std::pair<QAction*, int> presets[] = {
        {MVS_80, 80}, {MVS_100, 100}, {MVS_120, 120}, {MVS_150, 150}};
    for (const auto& [item, side] : presets) {
        if (sender == item) {
            item->setChecked(true);
            SetThumbnailSize({side, side});
        }
    }
    if (sender == MVS_User) {
        MVS_User->setChecked(true);
        const QSize size = settings::ReadUserSize(platform::ProfileFile(SettingsPath()));
        SetThumbnailSize(size);
        MVS_User->setText(UserSizeCaption(size));
    }
    FormResize();
}

void TForm_Main::MV_OptionClick() {
    if (Form_Option == nullptr || Form_Option->exec() != QDialog::Accepted) return;
    settings::RunOptionsAcceptedSteps(platform::ProfileFile(SettingsPath()), DefaultFolder(),
                                      SettingsHooks());
}

void TForm_Main::MH_HelpClick() {
    RunHelp(static_cast<int>(platform::HelpCommand::Contents));
}

void TForm_Main::MH_KeyClick() {
    RunHelp(static_cast<int>(platform::HelpCommand::Finder));
}

// The help file is the program file's own name with ".HLP", beside it.
void TForm_Main::RunHelp(int command) {
    platform::SetApplicationHelpFile(
        platform::ChangeFileExt(places_.programFile, QStringLiteral(".HLP")));
    platform::WinHelp(this, platform::ApplicationHelpFile(),
                      static_cast<platform::HelpCommand>(command));
}

void TForm_Main::MH_AboutClick() {
    if (Form_About != nullptr) Form_About->exec();
}

} // namespace sorowa
