#include "rename/renumber_command.h"

#include "platform/errors.h"
#include "platform/file_names.h"
#include "platform/folder_handle.h"
#include "rename/companions.h"
#include "rename/two_phase_rename.h"

#include <QHash>
#include <QSet>
#include <fcntl.h>
#include <sys/stat.h>
#include <utility>

namespace sorowa {
namespace {

std::optional<platform::FileIdentity> Identify(const platform::FolderHandle& folder,
                                               const QString& name) {
    struct stat info {};
    if (!folder.IsOpen() ||
        ::fstatat(folder.Fd(), platform::EncodeFileName(name).c_str(), &info,
                  AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return platform::FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                                  static_cast<std::uint64_t>(info.st_ino), info.st_size,
                                  info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec};
}

} // namespace

void TRenameHistory::RecordChanges(const QString& folder, const QStringList& before,
                                   const QStringList& after,
                                   const std::vector<TRenamedFile>& companions) {
    Clear();
    folder_ = folder;
    const platform::FolderHandle handle(folder);
    for (int i = 0; i < before.size() && i < after.size(); ++i)
        if (after[i] != before[i]) Record(handle, i, before[i], after[i]);
    for (const TRenamedFile& companion : companions)
        Record(handle, companion.file, companion.from, companion.to, true);
}

void TRenameHistory::Record(const platform::FolderHandle& folder, int owner,
                            const QString& previous, const QString& given, bool companion) {
    folder_ = folder.Path();
    entries_.push_back({owner, previous, given, Identify(folder, given), companion});
}

std::vector<TRenameHistory::Entry> TRenameHistory::Take() {
    return std::exchange(entries_, {});
}

QString FailureMessage(const std::vector<TMoveOutcome>& outcomes, const QStringList& wanted) {
    QString taken;
    QString failed;
    QString heldBack;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const TMoveOutcome& outcome = outcomes[i];
        if (outcome.place == TPlace::kTarget) continue;
        if (outcome.heldBack) {
            heldBack += QStringLiteral("\n%1：%2 のまま").arg(wanted[i], outcome.nameNow);
        } else if (outcome.targetTaken) {
            taken += QStringLiteral("\n%1 は使用中：%2 のまま").arg(wanted[i], outcome.nameNow);
        } else {
            failed += QStringLiteral("\n%1（%2）：%3 のまま")
                          .arg(wanted[i], SystemErrorText(outcome.error), outcome.nameNow);
        }
    }
    QString text;
    if (!taken.isEmpty())
        text += QStringLiteral("新しい名前を別のファイルが使っているため、変更できませんでした。") +
                taken;
    if (!failed.isEmpty()) {
        if (!text.isEmpty()) text += u'\n';
        text += QStringLiteral("次のファイルは名前を変更できませんでした。") + failed;
    }
    if (!heldBack.isEmpty()) {
        if (!text.isEmpty()) text += u'\n';
        text += QStringLiteral("組になるファイルの名前を変えられないため、次のファイルも元の名前の"
                               "ままです。") +
                heldBack;
    }
    return text;
}

namespace {

// Every name of the folder, of any kind of entry: what a new name could collide with.
QSet<QString> NamesOfEntries(const platform::FolderHandle& folder) {
    QSet<QString> names;
    for (const std::string& raw : platform::EntryNames(folder))
        names.insert(platform::DecodeFileName(raw));
    return names;
}

struct TPlannedMove {
    TMove move;
    int file = -1; // the picture's index in the files given
    bool companion = false;
};

// The moves of a renumbering: each picture to its place's name and, where asked, every file
// that belongs to it along with it, in one group.
std::vector<TPlannedMove> PlanRenumber(const TBatchRenameParams& params,
                                       const std::vector<TNumberedName>& files,
                                       const std::vector<int>& sequence,
                                       const platform::FolderHandle& folder) {
    QStringList pictures;
    for (const int file : sequence)
        pictures << files[file].name;
    const std::vector<std::vector<TCompanion>> companions =
        params.companions ? FindCompanions(pictures, OtherFiles(folder, pictures))
                          : std::vector<std::vector<TCompanion>>(pictures.size());
    std::vector<TPlannedMove> plan;
    for (int i = 0; i < static_cast<int>(sequence.size()); ++i) {
        const QString numberText = PaddedNumber(params.startNumber + i, params.digitCount);
        const QString newName = NewFileName(params.baseName, numberText, pictures[i]);
        plan.push_back({{pictures[i], newName, {}, i}, sequence[i], false});
        for (const TCompanion& companion : companions[i])
            plan.push_back(
                {{companion.name, CompanionNewName(pictures[i], companion, newName), {}, i},
                 sequence[i],
                 true});
    }
    return plan;
}

// Takes out of plan every group one of whose new names a file outside the renumbering holds,
// and says which, once, before anything moves; false when the user would rather cancel.
bool LeaveOutClashes(std::vector<TPlannedMove>& plan, const platform::FolderHandle& folder,
                     const ClashQuestion& goOnWithout) {
    QSet<QString> outside = NamesOfEntries(folder);
    for (const TPlannedMove& planned : plan)
        outside.remove(planned.move.from);
    QSet<int> clashing;
    QString lines;
    for (const TPlannedMove& planned : plan) {
        if (planned.move.to == planned.move.from || !outside.contains(planned.move.to)) continue;
        clashing.insert(planned.move.group);
        lines += QStringLiteral("\n%1 → %2").arg(planned.move.from, planned.move.to);
    }
    if (clashing.isEmpty()) return true;
    const QString text =
        QStringLiteral("次の新しい名前は、並びにないファイルがすでに使っています。") + lines +
        QStringLiteral("\nこれらのファイル（と組になるファイル）の名前は変えずに続けますか？");
    if (!goOnWithout) return true;
    if (!goOnWithout(text)) return false;
    std::erase_if(plan, [&](const TPlannedMove& p) { return clashing.contains(p.move.group); });
    return true;
}

} // namespace

TRenumberResult RunRenumber(const TBatchRenameParams& params,
                            const std::vector<TNumberedName>& files, TRenameHistory& history,
                            const ClashQuestion& goOnWithout) {
    const std::vector<int> sequence = SequenceOrder(files);
    TRenumberResult result;
    for (const TNumberedName& file : files)
        result.names << file.name;
    const platform::FolderHandle folder(params.folder);
    std::vector<TPlannedMove> plan = PlanRenumber(params, files, sequence, folder);
    if (!LeaveOutClashes(plan, folder, goOnWithout)) {
        result.cancelled = true;
        return result;
    }
    std::vector<TMove> moves;
    QStringList wanted;
    for (const TPlannedMove& planned : plan) {
        moves.push_back(planned.move);
        wanted << planned.move.to;
    }
    const std::vector<TMoveOutcome> outcomes = RunTwoPhaseRename(folder, moves);
    history.Clear();
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        if (!plan[i].companion) result.names[plan[i].file] = outcomes[i].nameNow;
        if (outcomes[i].place == TPlace::kTarget && moves[i].from != moves[i].to)
            history.Record(folder, plan[i].file, moves[i].from, moves[i].to, plan[i].companion);
    }
    result.message = FailureMessage(outcomes, wanted);
    return result;
}

TUndoResult RunUndo(const QString& folderPath, TRenameHistory& history, const QStringList& shown) {
    std::vector<TRenameHistory::Entry> entries = history.Take();
    const platform::FolderHandle folder(folderPath);
    std::vector<const TRenameHistory::Entry*> undone;
    std::vector<TMove> moves;
    QStringList wanted;
    QString changed;
    QHash<int, int> groups;
    for (const TRenameHistory::Entry& entry : entries) {
        // Only the file that the rename named so, unchanged, and for a picture still shown
        // under that name.
        const bool stillShown =
            entry.companion ||
            (entry.owner >= 0 && entry.owner < shown.size() && shown[entry.owner] == entry.given);
        const bool same =
            stillShown && entry.identity && Identify(folder, entry.given) == entry.identity;
        if (!same) {
            changed += u'\n' + entry.given;
            continue;
        }
        // A picture and its companions move back together.
        if (!groups.contains(entry.owner))
            groups.insert(entry.owner, static_cast<int>(groups.size()));
        undone.push_back(&entry);
        moves.push_back({entry.given, entry.previous, {}, groups.value(entry.owner)});
        wanted << entry.previous;
    }
    const std::vector<TMoveOutcome> outcomes = RunTwoPhaseRename(folder, moves);
    TUndoResult result;
    for (std::size_t i = 0; i < outcomes.size(); ++i)
        if (!undone[i]->companion) result.names.push_back({undone[i]->owner, outcomes[i].nameNow});
    result.message = FailureMessage(outcomes, wanted);
    if (!changed.isEmpty()) {
        if (!result.message.isEmpty()) result.message += u'\n';
        result.message +=
            QStringLiteral("名前変更の後で変わったか無くなったため、元に戻さなかったファイル：") +
            changed;
    }
    return result;
}

} // namespace sorowa
