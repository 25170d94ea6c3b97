#pragma once
// The help engine: a small window that shows the program's help file, with a contents page
// and a topic search over the file's index.
//
// The help file is one HTML file of ours. Its topics are headings that carry an anchor,
//     <h2><a name="rename"></a>名前変更</h2>
// (levels 1 to 3 make the contents, indented by level), and its index is the list
//     <ul class="index"><li><a href="#rename">名前変更</a></li> ... </ul>
// whose entries the topic search offers. A file that is missing or cannot be read is
// reported in the viewer itself.

#include <QList>
#include <QString>
#include <QWidget>

class QLineEdit;
class QListWidget;
class QTabWidget;
class QTextBrowser;
class QTreeWidget;

namespace sorowa::platform {

// The two commands the program gives the help engine.
enum class HelpCommand { Contents = 3, Finder = 11 };

// The help file given to the help engine (process-wide).
QString ApplicationHelpFile();
void SetApplicationHelpFile(const QString& file);

struct HelpTopic {
    int level = 1;
    QString anchor;
    QString title;
};
struct HelpIndexEntry {
    QString keyword;
    QString anchor;
};
struct HelpDocument {
    QString html;
    QList<HelpTopic> topics;
    QList<HelpIndexEntry> index;
};

// Reads the topics and index of a help file's text.
HelpDocument ParseHelp(const QString& html);

class THelpViewer : public QWidget {
    Q_OBJECT
public:
    explicit THelpViewer(QWidget* owner = nullptr);

    // Loads file and carries out command.
    void Run(const QString& file, HelpCommand command);

    QString File() const { return file_; }
    const HelpDocument& Document() const { return document_; }
    QTabWidget* Tabs() const { return tabs_; }
    QTreeWidget* Contents() const { return contents_; }
    QLineEdit* SearchField() const { return search_; }
    QListWidget* IndexList() const { return indexList_; }
    QTextBrowser* Page() const { return page_; }

    // Shows the topic that anchor names.
    void ShowTopic(const QString& anchor);

private:
    void Load(const QString& file);
    void FilterIndex(const QString& text);
    void ShowChosenIndexEntry();

    QString file_;
    HelpDocument document_;
    QTabWidget* tabs_;
    QTreeWidget* contents_;
    QLineEdit* search_;
    QListWidget* indexList_;
    QTextBrowser* page_;
};

// Runs command for file in the one help window of owner (created on first use).
void WinHelp(QWidget* owner, const QString& file, HelpCommand command);

} // namespace sorowa::platform
