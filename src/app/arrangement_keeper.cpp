#include "app/arrangement_keeper.h"

#include "arrangement/arrangement_store.h"
#include "platform/ui/message_box.h"
#include "workspace/folder_listing.h"

#include <QMessageBox>
#include <QPushButton>
#include <algorithm>

namespace sorowa {
namespace {

// Either answer is a choice the user makes: the box has no escape button, so neither Escape
// nor its close box can take the arrangement away by accident.
bool AskToRestore(QWidget* parent) {
    QMessageBox box(QMessageBox::Question, platform::ApplicationTitle(),
                    QStringLiteral("前回の並び順を復元しますか？"), QMessageBox::NoButton, parent);
    QPushButton* restore = box.addButton(QStringLiteral("復元する"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("名前順"), QMessageBox::ActionRole);
    box.setDefaultButton(restore);
    box.exec();
    return box.clickedButton() == restore;
}

} // namespace

TArrangementKeeper::TArrangementKeeper(QWidget* owner, OrderSource currentOrder)
    : owner_(owner), currentOrder_(std::move(currentOrder)) {
    timer_.setSingleShot(true);
    timer_.setInterval(kSaveDelayMs);
    connect(&timer_, &QTimer::timeout, this, [this] { SaveNow(); });
}

QStringList TArrangementKeeper::Opened(const QString& folder, const QStringList& names) {
    timer_.stop();
    listedFolder_ = folder;
    folder_ = arrangement::CanonicalFolder(folder).value_or(QString());
    if (folder_.isEmpty() || names.isEmpty()) return names;
    const std::optional<arrangement::TArrangement> saved = arrangement::LoadArrangement(folder_);
    if (!saved) return names;
    QStringList restored =
        arrangement::RestoredOrder(saved->files, arrangement::DescribeFiles(folder, names));
    // A listed file that could not be looked at (gone since the listing) still gets its
    // window, as in name order, where its load reports it.
    if (restored.size() != names.size())
        for (const QString& name : names)
            if (!restored.contains(name)) restored << name;
    if (restored == names) return names;
    if (AskToRestore(owner_)) return restored;
    arrangement::ForgetArrangement(folder_);
    return names;
}

void TArrangementKeeper::Changed() {
    if (!folder_.isEmpty()) timer_.start();
}

void TArrangementKeeper::Flush() {
    if (timer_.isActive()) SaveNow();
}

void TArrangementKeeper::Closed() {
    Flush();
    folder_.clear();
    listedFolder_.clear();
}

// Failures to write are not shown: keeping the arrangement is a safety net under the user's
// work, and a message at every move would stop the work it protects. The next change tries
// again.
void TArrangementKeeper::SaveNow() {
    timer_.stop();
    if (folder_.isEmpty()) return;
    const QStringList order = currentOrder_();
    // An arrangement that is the name order is what any opening gives anyway.
    if (std::is_sorted(order.begin(), order.end(), FileNameLess)) {
        arrangement::ForgetArrangement(folder_);
        return;
    }
    arrangement::SaveArrangement({folder_, arrangement::DescribeFiles(listedFolder_, order)});
}

} // namespace sorowa
