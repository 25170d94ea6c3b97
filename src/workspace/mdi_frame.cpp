#include "workspace/mdi_frame.h"

#include <QKeyEvent>

namespace sorowa {

TMdiFrame::TMdiFrame(QWidget* parent) : QMdiArea(parent) {}

bool TMdiFrame::eventFilter(QObject* watched, QEvent* event) {
    // QMdiArea watches the whole application for Ctrl+Tab / Ctrl+Shift+Tab to switch
    // windows; those keys are not handed to it.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Control) return false;
    }
    return QMdiArea::eventFilter(watched, event);
}

} // namespace sorowa
