#include "platform/ui/folder_browser.h"

#include <QFileSystemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>

namespace sorowa::platform {

TFolderBrowser::TFolderBrowser(const QString& title, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      title_(new QLabel(title, this)), model_(new QFileSystemModel(this)),
      tree_(new QTreeView(this)), ok_(new QPushButton(QStringLiteral("OK"), this)) {
    setObjectName(QStringLiteral("FolderBrowser"));
    setWindowTitle(QStringLiteral("フォルダの参照"));
    setFixedSize(320, 340);
    title_->setGeometry(12, 8, 296, 34);
    title_->setWordWrap(true);
    title_->setTextFormat(Qt::PlainText);

    // Folders only; hidden ones stay out of sight as they do in the folder chooser.
    model_->setFilter(QDir::Dirs | QDir::Drives | QDir::NoDotAndDotDot);
    model_->setReadOnly(true);
    model_->setRootPath(QStringLiteral("/"));
    tree_->setModel(model_);
    for (int column = 1; column < model_->columnCount(); ++column)
        tree_->hideColumn(column);
    tree_->header()->hide();
    tree_->setGeometry(12, 46, 296, 246);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    // The top level's folders are shown at once, as the desktop's first level would be.
    tree_->expand(model_->index(QStringLiteral("/")));

    ok_->setGeometry(146, 304, 77, 27);
    ok_->setEnabled(false);
    auto* cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    cancel->setGeometry(231, 304, 77, 27);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(tree_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TFolderBrowser::SelectionChanged);
    tree_->setFocus();
}

QString TFolderBrowser::SelectedFolder() const {
    const QModelIndexList rows = tree_->selectionModel()->selectedRows();
    return rows.isEmpty() ? QString() : model_->filePath(rows.first());
}

bool TFolderBrowser::SelectFolder(const QString& folder) {
    const QModelIndex index = model_->index(folder);
    if (!index.isValid() || !model_->isDir(index)) return false;
    tree_->setCurrentIndex(index);
    tree_->scrollTo(index);
    return true;
}

void TFolderBrowser::SelectionChanged() {
    ok_->setEnabled(!SelectedFolder().isEmpty());
}

std::optional<QString> BrowseForFolder(QWidget* parent, const QString& title) {
    TFolderBrowser browser(title, parent);
    if (browser.exec() != QDialog::Accepted) return std::nullopt;
    const QString folder = browser.SelectedFolder();
    if (folder.isEmpty()) return std::nullopt;
    return folder;
}

} // namespace sorowa::platform
