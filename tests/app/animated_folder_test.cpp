// A folder of animated GIFs: its thumbnails play, and closing the folder while they play ends
// every painter at once.
#include "main_window_fixture.h"
#include "picture/gif/gif_anim_util.h"
#include "picture/gif/gif_painter.h"
#include "workspace/image.h"

namespace sorowa {
namespace {

class AnimatedFolder : public test::MainWindowFixture {
protected:
    void BeforeStart() override { RegisterGifPicture(); }
    void TearDown() override {
        MainWindowFixture::TearDown();
        UnregisterGifPicture();
    }
    int Playing() const {
        int playing = 0;
        for (TForm_Grp* window : Windows())
            if (auto* gif = dynamic_cast<TGIFImage*>(window->Image1()->Picture().Graphic()))
                playing += gif->RunningPainters();
        return playing;
    }
};

TEST_F(AnimatedFolder, ClosingWhileTheyPlayEndsEveryPainter) {
    const std::vector<QRgb> colors{qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
    std::vector<giftest::AnimFrame> frames{giftest::SolidFrame(0, 0, 32, 32, 0, 3),
                                           giftest::SolidFrame(0, 0, 32, 32, 1, 3),
                                           giftest::SolidFrame(8, 8, 16, 16, 2, 3, 2)};
    frames[0].loopCount = 0;
    const auto bytes = giftest::MakeAnimatedGif(32, 32, colors, frames);
    test::TempFolder folder;
    for (int i = 0; i < 24; ++i)
        folder.Write(QStringLiteral("%1.gif").arg(i, 2, 10, QLatin1Char('0')),
                     QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                static_cast<qsizetype>(bytes.size())));
    for (int cycle = 0; cycle < 20; ++cycle) {
        Open(folder.Path());
        ASSERT_EQ(Windows().size(), 24);
        // Those on screen play; one that is scrolled out of view starts when it is painted.
        ASSERT_TRUE(test::WaitFor([&] { return Playing() >= 4; }));
        main->MF_Close->trigger();
        ASSERT_TRUE(test::WaitFor([&] { return Windows().isEmpty(); }));
        // Closed windows are freed by the event loop; each joins its painter as it goes.
        EXPECT_TRUE(test::WaitFor([] { return gif::TGIFPainter::LiveCount() == 0; }));
    }
}

} // namespace
} // namespace sorowa
