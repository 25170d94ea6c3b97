#include "platform/ui/help_viewer.h"

#include "platform/file_names.h"
#include "platform/program_icon.h"

#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTextDocumentFragment>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <optional>
#include <sys/stat.h>

namespace sorowa::platform {
namespace {

QString& HelpFileValue() {
    static QString value;
    return value;
}

// A help file is a few hundred kilobytes at most; anything larger is not ours.
constexpr qint64 kMaxHelpBytes = 8 * 1024 * 1024;
constexpr int kAnchorRole = Qt::UserRole;

QString PlainText(const QString& html) {
    return QTextDocumentFragment::fromHtml(html).toPlainText().simplified();
}

// The file's text, or an empty optional when it is missing, not a regular file (a FIFO
// would block the reader) or too large.
std::optional<QString> ReadHelpText(const QString& file) {
    struct stat info {};
    if (::stat(EncodeFileName(file).c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size > kMaxHelpBytes)
        return std::nullopt;
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly)) return std::nullopt;
    return QString::fromUtf8(input.read(kMaxHelpBytes));
}

QString MissingFilePage(const QString& file) {
    return QStringLiteral(
               "<h2>ヘルプファイルを開けません</h2><p>%1</p>"
               "<p>ヘルプファイルはプログラムファイルと同じフォルダに置いてください。</p>")
        .arg(file.toHtmlEscaped());
}

} // namespace

QString ApplicationHelpFile() {
    return HelpFileValue();
}
void SetApplicationHelpFile(const QString& file) {
    HelpFileValue() = file;
}

HelpDocument ParseHelp(const QString& html) {
    HelpDocument document;
    document.html = html;
    static const QRegularExpression heading(
        QStringLiteral(R"re(<h([1-3])[^>]*>\s*<a\s+name="([^"]+)"\s*>\s*</a>(.*?)</h\1>)re"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    for (auto it = heading.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        document.topics.append(
            {match.captured(1).toInt(), match.captured(2), PlainText(match.captured(3))});
    }
    static const QRegularExpression indexList(
        QStringLiteral(R"re(<ul\s+class="index"\s*>(.*?)</ul>)re"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression entry(
        QStringLiteral(R"re(<li>\s*<a\s+href="#([^"]+)"\s*>(.*?)</a>)re"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    for (auto lists = indexList.globalMatch(html); lists.hasNext();) {
        const QString items = lists.next().captured(1);
        for (auto it = entry.globalMatch(items); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            document.index.append({PlainText(match.captured(2)), match.captured(1)});
        }
    }
    return document;
}

THelpViewer::THelpViewer(QWidget* owner)
    : QWidget(owner, Qt::Window), tabs_(new QTabWidget), contents_(new QTreeWidget),
      search_(new QLineEdit), indexList_(new QListWidget), page_(new QTextBrowser) {
    setObjectName(QStringLiteral("HelpViewer"));
    setWindowIcon(ProgramIcon());
    resize(760, 540);

    contents_->setHeaderHidden(true);
    contents_->setRootIsDecorated(false);
    tabs_->addTab(contents_, QStringLiteral("目次"));

    auto* finder = new QWidget;
    auto* finderLayout = new QVBoxLayout(finder);
    auto* prompt = new QLabel(QStringLiteral("検索するキーワードを入力してください(&W):"));
    prompt->setBuddy(search_);
    prompt->setWordWrap(true);
    finderLayout->addWidget(prompt);
    finderLayout->addWidget(search_);
    finderLayout->addWidget(indexList_, 1);
    tabs_->addTab(finder, QStringLiteral("キーワード"));

    page_->setOpenLinks(true);
    page_->setOpenExternalLinks(false);
    auto* splitter = new QSplitter(this);
    splitter->addWidget(tabs_);
    splitter->addWidget(page_);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({230, 530});
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);

    connect(contents_, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { ShowTopic(item->data(0, kAnchorRole).toString()); });
    connect(contents_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { ShowTopic(item->data(0, kAnchorRole).toString()); });
    connect(search_, &QLineEdit::textChanged, this, &THelpViewer::FilterIndex);
    connect(search_, &QLineEdit::returnPressed, this, &THelpViewer::ShowChosenIndexEntry);
    connect(indexList_, &QListWidget::itemActivated, this, &THelpViewer::ShowChosenIndexEntry);
}

void THelpViewer::Load(const QString& file) {
    file_ = file;
    const std::optional<QString> text = ReadHelpText(file);
    document_ = text ? ParseHelp(*text) : HelpDocument{MissingFilePage(file), {}, {}};
    page_->setHtml(document_.html);
    setWindowTitle(text && !document_.topics.isEmpty() ? document_.topics.first().title
                                                       : QStringLiteral("ヘルプ"));

    contents_->clear();
    for (const HelpTopic& topic : document_.topics) {
        auto* item = new QTreeWidgetItem(contents_);
        item->setText(0, QString(2 * (topic.level - 1), u' ') + topic.title);
        item->setData(0, kAnchorRole, topic.anchor);
    }
    FilterIndex(search_->text());
}

void THelpViewer::Run(const QString& file, HelpCommand command) {
    Load(file); // read afresh: the file may have been put in place since
    if (command == HelpCommand::Contents) {
        tabs_->setCurrentIndex(0);
        page_->scrollToAnchor(document_.topics.isEmpty() ? QString()
                                                         : document_.topics.first().anchor);
    } else {
        tabs_->setCurrentIndex(1);
    }
    show();
    raise();
    activateWindow();
    if (command == HelpCommand::Finder) {
        search_->setFocus();
        search_->selectAll();
    }
}

void THelpViewer::ShowTopic(const QString& anchor) {
    if (!anchor.isEmpty()) page_->scrollToAnchor(anchor);
}

void THelpViewer::FilterIndex(const QString& text) {
    indexList_->clear();
    const QString wanted = text.trimmed();
    for (const HelpIndexEntry& entry : document_.index) {
        if (!wanted.isEmpty() && !entry.keyword.contains(wanted, Qt::CaseInsensitive)) continue;
        auto* item = new QListWidgetItem(entry.keyword, indexList_);
        item->setData(kAnchorRole, entry.anchor);
    }
    if (indexList_->count() > 0) indexList_->setCurrentRow(0);
}

void THelpViewer::ShowChosenIndexEntry() {
    if (const QListWidgetItem* item = indexList_->currentItem())
        ShowTopic(item->data(kAnchorRole).toString());
}

void WinHelp(QWidget* owner, const QString& file, HelpCommand command) {
    THelpViewer* viewer =
        owner != nullptr ? owner->findChild<THelpViewer*>(QString(), Qt::FindDirectChildrenOnly)
                         : nullptr;
    if (viewer == nullptr) viewer = new THelpViewer(owner);
    if (owner == nullptr) viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->Run(file, command);
}

} // namespace sorowa::platform
