#include "support/widgets.h"
#include "workspace/child_windows.h"
#include "workspace/mdi_frame.h"
#include "workspace/reorder.h"
#include "workspace/thumbnail_size.h"
#include "workspace/thumbnail_window.h"

#include <gtest/gtest.h>

using namespace sorowa;

namespace {
// count thumbnail windows without pictures, captioned n;f<n>.
std::unique_ptr<TMdiFrame> FrameWith(int count) {
    SetThumbnailSize({20, 20});
    auto frame = std::make_unique<TMdiFrame>();
    for (int n = 1; n <= count; ++n) {
        auto* window = new TForm_Grp(frame.get());
        window->setWindowTitle(QString("%1;f%1").arg(n));
        frame->AppendToSequence(window);
    }
    return frame;
}
QStringList Numbers(const TMdiFrame* frame) {
    QStringList captions;
    for (TForm_Grp* w : ChildWindows(frame))
        captions << w->windowTitle();
    std::sort(captions.begin(), captions.end(), [](const QString& a, const QString& b) {
        return a.section(';', 0, 0).toInt() < b.section(';', 0, 0).toInt();
    });
    return captions;
}
} // namespace

TEST(Reorder, MarkerIs999BelowThatManyWindowsAndZeroFrom999On) {
    EXPECT_EQ(TemporaryMarker(1), 999);
    EXPECT_EQ(TemporaryMarker(998), 999);
    EXPECT_EQ(TemporaryMarker(999), 0);
    EXPECT_EQ(TemporaryMarker(5000), 0);
}

TEST(Reorder, ExchangesStayUniqueInAFolderOf999) {
    auto frame = FrameWith(999);
    // 999 is a real number here: moving it up twice and then 997 down must keep 1..999.
    frame->SetActiveChild(FindByNumber(frame.get(), 999));
    ExchangeWithNeighbour(frame.get(), true);
    ExchangeWithNeighbour(frame.get(), true);
    frame->SetActiveChild(FindByNumber(frame.get(), 997));
    ExchangeWithNeighbour(frame.get(), false);
    const QStringList captions = Numbers(frame.get());
    ASSERT_EQ(captions.size(), 999);
    for (int n = 1; n <= 999; ++n)
        EXPECT_EQ(captions[n - 1].section(';', 0, 0).toInt(), n);
    EXPECT_EQ(captions.mid(995), (QStringList{"996;f996", "997;f997", "998;f999", "999;f998"}));
    frame.reset();
    test::ExpectNoWindowsLeft();
}
