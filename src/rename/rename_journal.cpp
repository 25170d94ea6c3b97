#include "rename/rename_journal.h"

#include "platform/errors.h"
#include "platform/file_io.h"
#include "platform/file_names.h"
#include "platform/folder_handle.h"
#include "platform/rename.h"

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace sorowa {
namespace {

constexpr char kHeader[] = "sorowa-rename-journal 1";
constexpr char kNewSuffix[] = ".new";
constexpr char kTemporaryPrefix[] = ".sorowa-";
constexpr int kTokenDigits = 16;
constexpr int kMaxGroup = 1 << 24;

QString JournalName() {
    return QString::fromLatin1(kRenameJournalName);
}

QString NewJournalName() {
    return JournalName() + QString::fromLatin1(kNewSuffix);
}

std::string Bytes(const QString& name) {
    return platform::EncodeFileName(name);
}

[[noreturn]] void Fail(int code) {
    throw EOSError(
        QStringLiteral("フォルダに名前変更の記録を書けないため、名前を変更できません：%1")
            .arg(SystemErrorText(code)),
        code);
}

void WriteAll(int fd, const std::string& bytes) {
    if (const int code = platform::WriteAll(fd, bytes); code != 0) Fail(code);
}

// Makes the folder's entries (the journal's name, the moves) last. Some file systems (FAT
// through FUSE) cannot sync a folder: their answer is not an error of ours.
void SyncFolder(const platform::FolderHandle& folder) {
    ::fsync(folder.Fd());
}

std::string Hex(const QString& name) {
    return QByteArray::fromStdString(Bytes(name)).toHex().toStdString();
}

// ---- parsing ------------------------------------------------------------------------------

bool IsLowerHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// Strict: QByteArray::fromHex skips what is not a digit, which would let a name be spelled in
// many ways.
std::optional<QString> NameFromHex(const QByteArray& hex) {
    if (hex.size() % 2 != 0 || !std::all_of(hex.begin(), hex.end(), IsLowerHex))
        return std::nullopt;
    const QByteArray bytes = QByteArray::fromHex(hex);
    const QString name =
        platform::DecodeFileName(std::string_view(bytes.constData(), bytes.size()));
    if (!platform::IsPlainEntryName(name)) return std::nullopt;
    if (name == JournalName() || name == NewJournalName()) return std::nullopt;
    return name;
}

std::optional<int> Index(const QByteArray& word, int count) {
    int value = -1;
    const char* end = word.constData() + word.size();
    const auto [next, error] = std::from_chars(word.constData(), end, value);
    if (error != std::errc() || next != end || word.isEmpty() || word.startsWith('+'))
        return std::nullopt;
    if (value < 0 || value >= count) return std::nullopt;
    return value;
}

// The token of a temporary name of the form TemporaryRenameName makes for index.
std::optional<QString> TemporaryToken(const QString& name, int index) {
    const QString prefix = QString::fromLatin1(kTemporaryPrefix);
    const QString suffix = u'-' + QString::number(index);
    if (name.size() != prefix.size() + kTokenDigits + suffix.size() || !name.startsWith(prefix) ||
        !name.endsWith(suffix)) {
        return std::nullopt;
    }
    const QString token = name.mid(prefix.size(), kTokenDigits);
    for (const QChar c : token)
        if (c.unicode() > 0x7f || !IsLowerHex(static_cast<char>(c.unicode()))) return std::nullopt;
    return token;
}

TJournalParse Refuse(const QString& reason) {
    return {false, reason, {}};
}

TJournalParse RefuseLine(qsizetype line) {
    return Refuse(QStringLiteral("%1 行目が正しくありません").arg(line + 1));
}

TJournalParse RefuseName(qsizetype line) {
    return Refuse(QStringLiteral("%1 行目の名前は、このフォルダの中のファイルの名前ではありません")
                      .arg(line + 1));
}

// Every name at most once in each role, no temporary name also a name of another role, all
// temporaries of one rename.
QString CheckPlan(const std::vector<TJournalEntry>& entries) {
    std::set<QString> from, to, back, temporary;
    std::optional<QString> token;
    for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
        const TJournalEntry& entry = entries[i];
        const std::optional<QString> own = TemporaryToken(entry.temporary, i);
        if (!own || (token && *own != *token))
            return QStringLiteral("一時ファイルの名前 %1 はこのプログラムのものではありません")
                .arg(entry.temporary);
        token = own;
        if (!from.insert(entry.from).second || !to.insert(entry.to).second ||
            !back.insert(entry.back).second || !temporary.insert(entry.temporary).second)
            return QStringLiteral("同じ名前が二度あります");
    }
    for (const QString& name : temporary)
        if (from.contains(name) || to.contains(name) || back.contains(name))
            return QStringLiteral("一時ファイルの名前 %1 がほかにも使われています").arg(name);
    return {};
}

bool Exists(const platform::FolderHandle& folder, const QString& name) {
    struct stat info {};
    return ::fstatat(folder.Fd(), Bytes(name).c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

bool IsRegularFile(const platform::FolderHandle& folder, const QString& name) {
    struct stat info {};
    return ::fstatat(folder.Fd(), Bytes(name).c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(info.st_mode);
}

struct TJournalBytes {
    TJournalRead::Status status = TJournalRead::Status::kNone;
    QString reason;
    QByteArray bytes;
};

TJournalBytes ReadJournalBytes(const platform::FolderHandle& folder) {
    const int fd = ::openat(folder.Fd(), Bytes(JournalName()).c_str(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return {};
        // ELOOP: a symbolic link in the journal's place.
        return {TJournalRead::Status::kRefused,
                errno == ELOOP ? QStringLiteral("通常のファイルではありません")
                               : QStringLiteral("読めません（%1）").arg(SystemErrorText(errno)),
                {}};
    }
    TJournalBytes result{TJournalRead::Status::kRefused, {}, {}};
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        result.reason = QStringLiteral("読めません（%1）").arg(SystemErrorText(errno));
    } else if (!S_ISREG(info.st_mode)) {
        result.reason = QStringLiteral("通常のファイルではありません");
    } else if (info.st_uid != ::geteuid()) {
        result.reason = QStringLiteral("ほかのユーザーのファイルです");
    } else if (info.st_size > kRenameJournalMaxBytes) {
        result.reason = QStringLiteral("大きすぎます");
    } else {
        // One byte more than the limit tells a file that grew since fstat.
        result.bytes.resize(kRenameJournalMaxBytes + 1);
        qsizetype done = 0;
        while (done < result.bytes.size()) {
            const ssize_t n = ::read(fd, result.bytes.data() + done, result.bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                result.reason = QStringLiteral("読めません（%1）").arg(SystemErrorText(errno));
                break;
            }
            if (n == 0) break;
            done += n;
        }
        result.bytes.resize(done);
        if (result.reason.isEmpty()) {
            if (done > kRenameJournalMaxBytes)
                result.reason = QStringLiteral("大きすぎます");
            else
                result.status = TJournalRead::Status::kFound;
        }
    }
    ::close(fd);
    return result;
}

} // namespace

QString TemporaryRenameName(std::uint64_t token, int index) {
    return QStringLiteral("%1%2-%3")
        .arg(QString::fromLatin1(kTemporaryPrefix))
        .arg(token, kTokenDigits, 16, QChar(u'0'))
        .arg(index);
}

TJournalParse ParseRenameJournal(std::span<const char> bytes) {
    QList<QByteArray> lines =
        QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).split('\n');
    lines.removeLast(); // the text after the last line feed: empty, or a line cut off
    if (lines.isEmpty() || lines.first() != kHeader)
        return Refuse(QStringLiteral("名前変更の記録ではありません"));
    TJournalParse parse;
    TJournalText& text = parse.text;
    qsizetype n = 1;
    if (n < lines.size() && lines[n] == "R") {
        text.rollingBack = true;
        ++n;
    }
    for (; n < lines.size() && !text.planEnded; ++n) {
        const QList<QByteArray> words = lines[n].split(' ');
        if (words == QList<QByteArray>{"E"}) {
            text.planEnded = true;
            continue;
        }
        if ((words.size() != 5 && words.size() != 6) || words[0] != "M") return RefuseLine(n);
        TJournalEntry entry;
        if (words.size() == 6) {
            // A group is a number of the plan's own, below any plan's size.
            const std::optional<int> group = Index(words[5], kMaxGroup);
            if (!group) return RefuseLine(n);
            entry.group = *group;
        }
        QString* names[] = {&entry.from, &entry.temporary, &entry.to, &entry.back};
        for (int w = 0; w < 4; ++w) {
            const std::optional<QString> name = NameFromHex(words[w + 1]);
            if (!name) return RefuseName(n);
            *names[w] = *name;
        }
        text.entries.push_back(std::move(entry));
    }
    // The plan is synced whole under another name before it becomes the journal, so a journal
    // without its end line was never this program's.
    if (!text.planEnded) return Refuse(QStringLiteral("記録の計画が最後まで書かれていません"));
    if (const QString problem = CheckPlan(text.entries); !problem.isEmpty()) return Refuse(problem);
    const int count = static_cast<int>(text.entries.size());
    for (; n < lines.size(); ++n) {
        const QList<QByteArray> words = lines[n].split(' ');
        if (words.size() == 2 && (words[0] == "F" || words[0] == "B")) {
            const std::optional<int> index = Index(words[1], count);
            if (!index) return RefuseLine(n);
            (words[0] == "F" ? text.failed : text.sentBack).push_back(*index);
        } else if (words.size() == 3 && words[0] == "T") {
            const std::optional<int> first = Index(words[1], count);
            const std::optional<int> last = Index(words[2], count);
            if (!first || !last || *first > *last) return RefuseLine(n);
            text.finalMoves.emplace_back(*first, *last);
        } else {
            return RefuseLine(n);
        }
    }
    parse.ok = true;
    return parse;
}

TRenameJournal::TRenameJournal(const platform::FolderHandle& folder,
                               const std::vector<TJournalEntry>& entries, bool replaceExisting,
                               bool rollingBack)
    : folder_(folder) {
    std::string text = std::string(kHeader) + '\n';
    if (rollingBack) text += "R\n";
    for (const TJournalEntry& entry : entries)
        text += "M " + Hex(entry.from) + ' ' + Hex(entry.temporary) + ' ' + Hex(entry.to) + ' ' +
                Hex(entry.back) + (entry.group >= 0 ? ' ' + std::to_string(entry.group) : "") +
                '\n';
    text += "E\n";
    // Written under a name of its own first, so that a journal is never seen half written. A
    // file left there by a rename that died while writing it (or put there by anyone) is
    // removed, never opened: it could be a FIFO, or a link to elsewhere.
    const std::string name = Bytes(JournalName());
    const std::string newName = Bytes(NewJournalName());
    const int dir = folder.Fd();
    if (::unlinkat(dir, newName.c_str(), 0) != 0 && errno != ENOENT) Fail(errno);
    fd_ = ::openat(dir, newName.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) Fail(errno);
    try {
        WriteAll(fd_, text);
        if (::fsync(fd_) != 0) Fail(errno);
        if (replaceExisting) {
            if (::renameat(dir, newName.c_str(), dir, name.c_str()) != 0) Fail(errno);
        } else {
            const auto result =
                platform::RenameEntryNoReplace(dir, NewJournalName(), JournalName());
            if (!result.ok) Fail(result.error);
        }
    } catch (...) {
        ::close(fd_);
        ::unlinkat(dir, newName.c_str(), 0);
        throw;
    }
    SyncFolder(folder);
}

TRenameJournal::~TRenameJournal() {
    if (fd_ >= 0) ::close(fd_);
}

void TRenameJournal::FirstMoveFailed(int index) {
    pending_ += "F " + std::to_string(index) + '\n';
}

void TRenameJournal::FinalMoves(int first, int last) {
    pending_ += "T " + std::to_string(first) + ' ' + std::to_string(last) + '\n';
}

void TRenameJournal::SendBack(int index) {
    pending_ += "B " + std::to_string(index) + '\n';
}

void TRenameJournal::Sync() {
    if (pending_.empty()) return;
    WriteAll(fd_, pending_);
    pending_.clear();
    if (::fdatasync(fd_) != 0) Fail(errno);
}

void TRenameJournal::Remove() {
    SyncFolder(folder_);
    ::close(fd_);
    fd_ = -1;
    RemoveRenameJournal(folder_);
}

void RemoveRenameJournal(const platform::FolderHandle& folder) {
    // A journal being written when the program died never announced a move.
    ::unlinkat(folder.Fd(), Bytes(NewJournalName()).c_str(), 0);
    // Not synced: a journal that outlives a crash finds its moves done, and goes unasked.
    if (::unlinkat(folder.Fd(), Bytes(JournalName()).c_str(), 0) != 0 && errno != ENOENT)
        Fail(errno);
}

QString RefusedJournalMessage(const platform::FolderHandle& folder, const QString& reason) {
    return QStringLiteral("名前変更の記録 %1 は使えません：%2。\n"
                          "このフォルダのファイルは何も移動していません。記録もそのままです。")
        .arg(folder.Path() + u'/' + JournalName(), reason);
}

const QString& NameAt(const TJournalEntry& entry, TPlace place) {
    switch (place) {
    case TPlace::kTemporary:
        return entry.temporary;
    case TPlace::kTarget:
        return entry.to;
    case TPlace::kBack:
        return entry.back;
    case TPlace::kSource:
        break;
    }
    return entry.from;
}

const QString& NewNameOf(const TPendingRename& pending, const TJournalEntry& entry) {
    return pending.rollingBack ? entry.back : entry.to;
}

const QString& OldNameOf(const TPendingRename& pending, const TJournalEntry& entry) {
    return pending.rollingBack ? entry.to : entry.back;
}

bool TPendingRename::AllAtOldNames() const {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (NameAt(entries[i], places[i]) != OldNameOf(*this, entries[i])) return false;
    return true;
}

bool TPendingRename::AllAtNewNames() const {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (NameAt(entries[i], places[i]) != NewNameOf(*this, entries[i])) return false;
    return true;
}

TJournalRead ReadRenameJournal(const platform::FolderHandle& folder) {
    const TJournalBytes file = ReadJournalBytes(folder);
    if (file.status != TJournalRead::Status::kFound) return {file.status, file.reason, {}};
    TJournalParse parse = ParseRenameJournal(std::span(file.bytes.constData(), file.bytes.size()));
    if (!parse.ok) return {TJournalRead::Status::kRefused, parse.reason, {}};

    TJournalText& text = parse.text;
    TJournalRead read{TJournalRead::Status::kFound, {}, {}};
    TPendingRename& pending = read.pending;
    pending.rollingBack = text.rollingBack;
    pending.entries = std::move(text.entries);
    const auto contains = [](const std::vector<int>& list, int i) {
        return std::find(list.begin(), list.end(), i) != list.end();
    };
    for (int i = 0; i < static_cast<int>(pending.entries.size()); ++i) {
        const TJournalEntry& entry = pending.entries[i];
        TPlace place = TPlace::kSource;
        if (Exists(folder, entry.temporary)) {
            place = TPlace::kTemporary;
        } else if (contains(text.sentBack, i)) {
            place = TPlace::kBack;
        } else if (!contains(text.failed, i) &&
                   std::any_of(text.finalMoves.begin(), text.finalMoves.end(),
                               [i](auto range) { return range.first <= i && i <= range.second; })) {
            place = TPlace::kTarget;
        }
        // Only files that are where the journal says, as files of this folder, are moved: a
        // journal that names anything else was not written for what this folder holds.
        const QString& now = NameAt(entry, place);
        if (!IsRegularFile(folder, now)) {
            return {TJournalRead::Status::kRefused,
                    QStringLiteral("記録にあるファイル %1 がこのフォルダにありません").arg(now),
                    {}};
        }
        pending.places.push_back(place);
    }
    return read;
}

} // namespace sorowa
