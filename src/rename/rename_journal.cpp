#include "rename/rename_journal.h"

#include "platform/errors.h"
#include "platform/file_names.h"
#include "platform/rename.h"

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace sorowa {
namespace {

constexpr char kHeader[] = "sorowa-rename-journal 1\n";
constexpr char kNewSuffix[] = ".new";

std::string PathBytes(const QString& folder, const QString& name) {
    return platform::EncodeFileName(folder + u'/' + name);
}

[[noreturn]] void Fail(int code) {
    throw EOSError(
        QStringLiteral("フォルダに名前変更の記録を書けないため、名前を変更できません：%1")
            .arg(SystemErrorText(code)),
        code);
}

void WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail(n < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(n);
    }
}

// Makes the folder's entries (the journal's name, the moves) last. Some file systems (FAT
// through FUSE) cannot sync a folder: their answer is not an error of ours.
void SyncFolder(const QString& folder) {
    const int fd =
        ::open(platform::EncodeFileName(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

std::string Hex(const QString& name) {
    return QByteArray::fromStdString(platform::EncodeFileName(name)).toHex().toStdString();
}

QString FromHex(const QByteArray& hex) {
    const QByteArray bytes = QByteArray::fromHex(hex);
    return platform::DecodeFileName(std::string_view(bytes.constData(), bytes.size()));
}

bool Exists(const QString& folder, const QString& name) {
    struct stat info {};
    return ::lstat(PathBytes(folder, name).c_str(), &info) == 0;
}

} // namespace

TRenameJournal::TRenameJournal(const QString& folder, const std::vector<TJournalEntry>& entries,
                               bool replaceExisting, bool rollingBack)
    : folder_(folder) {
    std::string text = kHeader;
    if (rollingBack) text += "R\n";
    for (const TJournalEntry& entry : entries)
        text += "M " + Hex(entry.from) + ' ' + Hex(entry.temporary) + ' ' + Hex(entry.to) + ' ' +
                Hex(entry.back) + '\n';
    text += "E\n";
    // Written under a name of its own first, so that a journal is never seen half written.
    const QString name = QString::fromLatin1(kRenameJournalName);
    const QString newName = name + QString::fromLatin1(kNewSuffix);
    const std::string newPath = PathBytes(folder, newName);
    fd_ = ::open(newPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC | O_NOFOLLOW,
                 0644);
    if (fd_ < 0) Fail(errno);
    try {
        WriteAll(fd_, text);
        if (::fsync(fd_) != 0) Fail(errno);
        if (replaceExisting) {
            if (::rename(newPath.c_str(), PathBytes(folder, name).c_str()) != 0) Fail(errno);
        } else {
            const auto result =
                platform::RenameFileNoReplace(folder + u'/' + newName, folder + u'/' + name);
            if (!result.ok) Fail(result.error);
        }
    } catch (...) {
        ::close(fd_);
        ::unlink(newPath.c_str());
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

void RemoveRenameJournal(const QString& folder) {
    const QString name = QString::fromLatin1(kRenameJournalName);
    // A journal being written when the program died never announced a move.
    ::unlink(PathBytes(folder, name + QString::fromLatin1(kNewSuffix)).c_str());
    // Not synced: a journal that outlives a crash finds its moves done, and goes unasked.
    if (::unlink(PathBytes(folder, name).c_str()) != 0 && errno != ENOENT) Fail(errno);
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

std::optional<TPendingRename> ReadRenameJournal(const QString& folder) {
    const std::string path = PathBytes(folder, QString::fromLatin1(kRenameJournalName));
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return std::nullopt;
    QByteArray text;
    char buffer[65536];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, got);
    ::close(fd);

    TPendingRename pending;
    QList<QByteArray> lines = text.split('\n');
    lines.removeLast(); // the text after the last line feed: empty, or a line cut off
    if (lines.isEmpty() || lines.first() + '\n' != kHeader) return pending;
    std::vector<TJournalEntry> entries;
    std::set<int> failed;
    std::set<int> sentBack;
    std::vector<std::pair<int, int>> finalMoves;
    bool planEnded = false;
    for (qsizetype n = 1; n < lines.size(); ++n) {
        const QList<QByteArray> words = lines[n].split(' ');
        if (!planEnded) {
            if (words == QList<QByteArray>{"E"}) {
                planEnded = true;
            } else if (words == QList<QByteArray>{"R"}) {
                pending.rollingBack = true;
            } else if (words.size() == 5 && words[0] == "M") {
                entries.push_back(
                    {FromHex(words[1]), FromHex(words[2]), FromHex(words[3]), FromHex(words[4])});
            } else {
                break;
            }
        } else if (words.size() == 2 && words[0] == "F") {
            failed.insert(words[1].toInt());
        } else if (words.size() == 2 && words[0] == "B") {
            sentBack.insert(words[1].toInt());
        } else if (words.size() == 3 && words[0] == "T") {
            finalMoves.emplace_back(words[1].toInt(), words[2].toInt());
        }
    }
    if (!planEnded) return pending; // nothing was moved before the plan had been synced
    pending.entries = std::move(entries);
    for (int i = 0; i < static_cast<int>(pending.entries.size()); ++i) {
        const TJournalEntry& entry = pending.entries[i];
        TPlace place = TPlace::kSource;
        if (Exists(folder, entry.temporary)) {
            place = TPlace::kTemporary;
        } else if (sentBack.contains(i)) {
            place = TPlace::kBack;
        } else if (!failed.contains(i) &&
                   std::any_of(finalMoves.begin(), finalMoves.end(),
                               [i](auto range) { return range.first <= i && i <= range.second; })) {
            place = TPlace::kTarget;
        }
        pending.places.push_back(place);
    }
    return pending;
}

} // namespace sorowa
