#pragma once
// Closing a folder while its thumbnails decode, as the decode tests of every picture kind do.

#include "support/widgets.h"
#include "workspace/image.h"
#include "workspace/mdi_frame.h"
#include "workspace/thumbnail_window.h"

#include <QList>
#include <gtest/gtest.h>

namespace sorowa::test {

// With the frame's pool held: paints every window (each hands its decode to the pool), lets
// the pool go and, once a decode runs, closes the windows last first. Whatever was pending is
// dropped and what ran has ended by then, and every window is gone.
inline void CloseWhileDecoding(TMdiFrame& frame, const QList<TForm_Grp*>& windows) {
    TDecodePool& pool = frame.Decodes();
    for (TForm_Grp* window : windows)
        window->Image1()->grab(); // painted
    ASSERT_EQ(pool.Pending(), static_cast<std::size_t>(windows.size()));
    pool.SetHeld(false);
    ASSERT_TRUE(WaitFor([&] { return pool.Running() > 0; }, 10000));
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        (*it)->close();
    EXPECT_EQ(pool.Pending(), 0u);
    EXPECT_EQ(pool.Running(), 0) << "what ran has ended when the folder is closed";
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    EXPECT_TRUE(frame.Children().isEmpty());
}

} // namespace sorowa::test
