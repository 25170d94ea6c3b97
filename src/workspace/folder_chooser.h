#pragma once
// The folder chooser: a modal dialog with a folder tree, a greyed file list for
// information and a drive list (the mount points). No folder can be typed or created.

#include <QDialog>
#include <optional>

class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;

namespace sorowa {

class TFolderChooser : public QDialog {
    Q_OBJECT
public:
    // Opens at start, or at the current directory when start is empty or cannot be read.
    TFolderChooser(const QString& start, QWidget* parent = nullptr);

    QString Folder() const { return folder_; }
    // Moves the chooser into folder; false when it cannot be read.
    bool EnterFolder(const QString& folder);

    QListWidget* FolderTree() const { return tree_; }
    QListWidget* FileList() const { return files_; }
    QComboBox* DriveList() const { return drives_; }
    QLabel* PathLabel() const { return path_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FillDrives();
    void TreeActivated(QListWidgetItem* item);
    void DriveChosen(int index);
    void ShowPath();

    QString folder_;
    QLabel* path_;
    QListWidget* tree_;
    QListWidget* files_;
    QComboBox* drives_;
};

// Shows the chooser modally; the chosen folder's full path, or nullopt when cancelled.
std::optional<QString> ChooseFolder(QWidget* parent, const QString& start);

// parent of folder ("/" for a top-level folder); folder itself when it is the root.
QString ParentFolder(const QString& folder);
QString JoinPath(const QString& folder, const QString& name);

} // namespace sorowa
