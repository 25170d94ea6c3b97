#pragma once
// Keeps the arrangement of the open folder on disk while the user works, and offers it back
// when the folder is opened again.
//
// States: no folder (folder_ empty) -> Opened -> folder open, nothing pending -> Changed ->
// save pending (the timer runs) -> the timer fires, Flush or SaveNow -> folder open, nothing
// pending. Closed writes a pending save and goes back to no folder. Changed and SaveNow
// without an open folder do nothing.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

class QWidget;

namespace sorowa {

class TArrangementKeeper : public QObject {
public:
    // The file names of the open folder in sequence order (1..N).
    using OrderSource = std::function<QStringList()>;
    // How long after the last change the order is written: the user's quick run of moves
    // costs one write, and a crash loses at most this much of the work.
    static constexpr int kSaveDelayMs = 300;

    // owner: the window the question is shown over; it must outlive the keeper.
    TArrangementKeeper(QWidget* owner, OrderSource currentOrder);

    // Called once the folder is listed, with its names in name order; returns the order to
    // number them in. When a saved arrangement gives another order than the name order, the
    // user is asked whether to restore it; name order forgets it.
    QStringList Opened(const QString& folder, const QStringList& names);
    // The order changed: it is written a moment later.
    void Changed();
    // Writes a pending change now.
    void Flush();
    // Writes the order now, pending or not; an order that is the name order (as a rename in
    // sequence order leaves it) removes the saved arrangement instead, since any opening
    // gives that order anyway.
    void SaveNow();
    // The folder is being closed: a pending change is written, then nothing is kept open.
    void Closed();

private:
    QWidget* owner_;
    OrderSource currentOrder_;
    QString folder_;       // the canonical path of the open folder, empty when none is open
    QString listedFolder_; // the open folder as chosen, where its files are looked up
    QTimer timer_;
};

} // namespace sorowa
