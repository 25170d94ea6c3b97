#include "workspace/folder_chooser.h"

#include "platform/directories.h"
#include "platform/errors.h"
#include "platform/file_names.h"
#include "workspace/folder_listing.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStorageInfo>
#include <algorithm>

namespace sorowa {
namespace {

constexpr int kFolderRole = Qt::UserRole;

QLabel* MakeLabel(const QString& text, QWidget* parent, int x, int y, QWidget* buddy = nullptr) {
    auto* label = new QLabel(text, parent);
    label->move(x, y);
    label->adjustSize();
    if (buddy != nullptr) label->setBuddy(buddy);
    return label;
}

} // namespace

QString ParentFolder(const QString& folder) {
    const qsizetype slash = folder.lastIndexOf(u'/');
    if (slash <= 0) return QStringLiteral("/");
    return folder.left(slash);
}

QString JoinPath(const QString& folder, const QString& name) {
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

TFolderChooser::TFolderChooser(const QString& start, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      path_(new QLabel(this)), tree_(new QListWidget(this)), files_(new QListWidget(this)),
      drives_(new QComboBox(this)) {
    setWindowTitle(QStringLiteral("ディレクトリの選択"));
    setFixedSize(424, 255);

    MakeLabel(QStringLiteral("ディレクトリ名(&N):"), this, 8, 8, tree_);
    path_->setGeometry(8, 24, 313, 17);
    MakeLabel(QStringLiteral("ディレクトリ(&D):"), this, 8, 54, tree_);
    tree_->setGeometry(8, 72, 213, 138);
    MakeLabel(QStringLiteral("ファイル(&F): (*.*)"), this, 232, 54, files_);
    files_->setGeometry(232, 72, 185, 93);
    files_->setEnabled(false); // for information only, greyed
    MakeLabel(QStringLiteral("ドライブ(&R):"), this, 232, 174, drives_);
    drives_->setGeometry(232, 192, 185, 24);

    // There is no network-connection dialog on this system, so no network button.
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(256, 224, 77, 27);
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    cancel->setGeometry(340, 224, 77, 27);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    connect(tree_, &QListWidget::itemDoubleClicked, this, &TFolderChooser::TreeActivated);
    tree_->installEventFilter(this);
    FillDrives();
    connect(drives_, &QComboBox::activated, this, &TFolderChooser::DriveChosen);

    if (start.isEmpty() || !EnterFolder(start)) EnterFolder(platform::CurrentDirectory());
    tree_->setFocus();
}

void TFolderChooser::FillDrives() {
    QStringList roots;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes())
        if (volume.isValid() && volume.isReady()) roots.append(volume.rootPath());
    roots.removeDuplicates();
    std::sort(roots.begin(), roots.end());
    drives_->addItems(roots);
}

bool TFolderChooser::EnterFolder(const QString& folder) {
    std::vector<platform::DirectoryEntry> entries;
    try {
        entries = platform::ReadDirectory(folder);
    } catch (const Exception&) {
        return false;
    }
    folder_ = folder.size() > 1 && folder.endsWith(u'/') ? folder.chopped(1) : folder;

    QStringList subFolders, fileNames;
    for (const auto& entry : entries) {
        if (entry.name.startsWith(u'.')) continue;
        (entry.isDirectory ? subFolders : fileNames).append(entry.name);
    }
    std::sort(subFolders.begin(), subFolders.end(), FileNameLess);
    std::sort(fileNames.begin(), fileNames.end(), FileNameLess);

    // The folders from the root down to this one, then its sub-folders one level deeper.
    QStringList chain;
    for (QString f = folder_; f != QStringLiteral("/"); f = ParentFolder(f))
        chain.prepend(f);
    chain.prepend(QStringLiteral("/"));
    tree_->clear();
    const QString indentUnit = QStringLiteral("  ");
    for (qsizetype depth = 0; depth < chain.size(); ++depth) {
        const QString& f = chain[depth];
        const QString name = f == QStringLiteral("/") ? f : f.mid(f.lastIndexOf(u'/') + 1);
        auto* item = new QListWidgetItem(indentUnit.repeated(depth) + name, tree_);
        item->setData(kFolderRole, f);
    }
    for (const QString& name : subFolders) {
        auto* item = new QListWidgetItem(indentUnit.repeated(chain.size()) + name, tree_);
        item->setData(kFolderRole, JoinPath(folder_, name));
    }
    tree_->setCurrentRow(static_cast<int>(chain.size() - 1));
    files_->clear();
    files_->addItems(fileNames);
    ShowPath();
    return true;
}

void TFolderChooser::TreeActivated(QListWidgetItem* item) {
    if (item != nullptr) EnterFolder(item->data(kFolderRole).toString());
}

bool TFolderChooser::eventFilter(QObject* watched, QEvent* event) {
    // Enter on a highlighted folder other than the open one enters it and keeps the chooser
    // open, as a double click does; on the open folder's own line it confirms the chooser.
    if (watched == tree_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const QListWidgetItem* item = tree_->currentItem();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && item != nullptr &&
            item->data(kFolderRole).toString() != folder_) {
            EnterFolder(item->data(kFolderRole).toString());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFolderChooser::DriveChosen(int index) {
    if (index >= 0) EnterFolder(drives_->itemText(index));
}

void TFolderChooser::ShowPath() {
    path_->setText(path_->fontMetrics().elidedText(folder_, Qt::ElideMiddle, path_->width()));
    path_->setToolTip(folder_);
}

void TFolderChooser::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    ShowPath();
}

std::optional<QString> ChooseFolder(QWidget* parent, const QString& start) {
    TFolderChooser chooser(start, parent);
    if (chooser.exec() != QDialog::Accepted) return std::nullopt;
    return chooser.Folder();
}

} // namespace sorowa
