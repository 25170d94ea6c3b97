#pragma once
// Helpers for tests that drive real windows.

#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

namespace sorowa::test {

// Runs the event loop (deferred deletes included) until condition holds or 5 s pass.
template <typename Condition> bool WaitFor(Condition condition, int timeoutMs = 5000) {
    return QTest::qWaitFor(condition, timeoutMs);
}

// Lets pending deferred deletes run, then checks that no window is left visible.
inline void ExpectNoWindowsLeft() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    for (QWidget* widget : QApplication::topLevelWidgets())
        EXPECT_FALSE(widget->isVisible()) << "left over: " << widget->metaObject()->className()
                                          << " " << widget->objectName().toStdString();
}

} // namespace sorowa::test
