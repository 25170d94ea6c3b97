#pragma once
// The desktop's folder browser: a modal tree of the whole file system from its root down,
// in which only folders can be chosen. Nothing is selected when it opens.

#include <QDialog>
#include <optional>

class QLabel;
class QPushButton;
class QTreeView;
class QFileSystemModel;

namespace sorowa::platform {

class TFolderBrowser : public QDialog {
    Q_OBJECT
public:
    // title is the text shown above the tree.
    explicit TFolderBrowser(const QString& title, QWidget* parent = nullptr);

    QTreeView* Tree() const { return tree_; }
    QPushButton* OkButton() const { return ok_; }
    // The selected folder's full path; empty while none is selected.
    QString SelectedFolder() const;
    // Selects folder in the tree (for keyboard users and tests); false when it is not there.
    bool SelectFolder(const QString& folder);

private:
    void SelectionChanged();

    QLabel* title_;
    QFileSystemModel* model_;
    QTreeView* tree_;
    QPushButton* ok_;
};

// Shows the browser owned by parent; the chosen folder, or nullopt when cancelled.
std::optional<QString> BrowseForFolder(QWidget* parent, const QString& title);

} // namespace sorowa::platform
