// Animated GIFs: the painter's timing, passes and disposal with a clock of the test's, the
// composed bitmap, the render pool, and stopping painters while they play.
#include "gif_anim_util.h"
#include "picture/gif/gif_painter.h"
#include "picture/gif/gif_renderer.h"
#include "platform/display.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <atomic>
#include <cstdlib>
#include <dirent.h>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

namespace sorowa {
namespace {

using giftest::AnimFrame;
using giftest::FakeClock;
using giftest::LoadGif;
using giftest::MakeAnimatedGif;
using giftest::ServeUntil;
using giftest::SolidFrame;

const QRgb kRed = qRgb(255, 0, 0), kGreen = qRgb(0, 255, 0), kBlue = qRgb(0, 0, 255),
           kWhite = qRgb(255, 255, 255), kMagenta = qRgb(255, 0, 255);
const std::vector<QRgb> kColors{kRed, kGreen, kBlue, kWhite};

// A picture drawn onto a canvas of the test's, recording the composed bitmap's colour at
// probe each time the painter changes it.
struct Played {
    explicit Played(const std::vector<std::uint8_t>& bytes, QPoint probe = {0, 0},
                    gif::TAnimationClock* clock = nullptr) {
        LoadGif(image, bytes);
        image.SetAnimationClock(clock);
        image.SetOnChange([this, probe](TGraphic&) {
            std::lock_guard lock(mutex);
            if (!image.ComposedBitmap().isNull())
                seen.push_back(image.ComposedBitmap().pixel(probe));
        });
    }
    void Draw(QImage& canvas, QRect rect = {}) {
        QPainter painter(&canvas);
        TCanvas target(painter, 24);
        image.Draw(target, rect.isNull() ? canvas.rect() : rect);
    }
    std::vector<QRgb> Seen() {
        std::lock_guard lock(mutex);
        return seen;
    }
    std::mutex mutex;
    std::vector<QRgb> seen;
    TGIFImage image;
};

QImage Canvas(QSize size, QRgb color) {
    QImage canvas(size, QImage::Format_RGB32);
    canvas.fill(color);
    return canvas;
}

class GifAnimation : public ::testing::Test {
protected:
    void SetUp() override {
        // What an earlier test's painters posted as they ended (their reaping) runs now, so
        // that the tests that count the waiting calls count only their own.
        gif::TGuiCalls::Instance().RunPending();
    }
};

TEST(GifAnimationTiming, DelayRules) {
    EXPECT_EQ(gif::FrameDelayUnits(std::nullopt, false), 10);
    EXPECT_EQ(gif::FrameDelayUnits(0, false), 10);
    EXPECT_EQ(gif::FrameDelayUnits(1, false), 3);
    EXPECT_EQ(gif::FrameDelayUnits(2, false), 3);
    EXPECT_EQ(gif::FrameDelayUnits(4, false), 4);
    EXPECT_EQ(gif::FrameDelayUnits(3000, false), 3000);
    EXPECT_EQ(gif::FrameDelayUnits(3000, true), 1000);
    EXPECT_EQ(gif::FrameWaitMs(10, 0, 100), 120);
    EXPECT_EQ(gif::FrameWaitMs(10, 7, 100), 113);
    EXPECT_EQ(gif::FrameWaitMs(10, 0, 200), 60);
    EXPECT_EQ(gif::FrameWaitMs(3, 0, 50), 72);
    EXPECT_EQ(gif::FrameWaitMs(10, 200, 100), -80);
}

// The waits before each frame, and the frames shown, for the delays of the frames.
TEST_F(GifAnimation, WaitsFollowTheFrameDelays) {
    struct Case {
        std::vector<std::optional<int>> delays;
        int speed;
        std::vector<std::int64_t> waits;
    };
    const std::vector<Case> cases{
        {{0, 1, 2, 300, 5}, 100, {120, 36, 36, 3600}},
        {{std::nullopt, 10, 10}, 100, {120, 120}},
        {{10, 10, 10}, 200, {60, 60}},
    };
    for (const Case& c : cases) {
        std::vector<AnimFrame> frames;
        for (std::size_t i = 0; i < c.delays.size(); ++i)
            frames.push_back(SolidFrame(0, 0, 4, 4, static_cast<std::uint8_t>(i % 4), c.delays[i]));
        FakeClock clock(true);
        Played played(MakeAnimatedGif(4, 4, kColors, frames), {0, 0}, &clock);
        played.image.SetAnimationSpeed(c.speed);
        QImage canvas = Canvas({8, 8}, kMagenta);
        played.Draw(canvas);
        ASSERT_TRUE(ServeUntil([&] { return played.image.RunningPainters() == 0; }));
        EXPECT_EQ(clock.Waits(), c.waits);
        std::vector<QRgb> expected;
        for (std::size_t i = 0; i < c.delays.size(); ++i)
            expected.push_back(kColors[i % 4]);
        EXPECT_EQ(played.Seen(), expected);
    }
}

// Passes: none without a loop extension, n in all for a count of n, later passes from the
// frame that carries the extension.
TEST_F(GifAnimation, LoopCountsGiveThePasses) {
    struct Case {
        int loopFrame;
        int count;
        std::vector<QRgb> shown;
    };
    const std::vector<Case> cases{
        {-1, 0, {kRed, kGreen}},
        {0, 1, {kRed, kGreen}},
        {0, 3, {kRed, kGreen, kRed, kGreen, kRed, kGreen}},
        {1, 2, {kRed, kGreen, kBlue, kGreen, kBlue}},
    };
    for (const Case& c : cases) {
        std::vector<AnimFrame> frames{SolidFrame(0, 0, 2, 2, 0), SolidFrame(0, 0, 2, 2, 1)};
        if (c.loopFrame == 1) frames.push_back(SolidFrame(0, 0, 2, 2, 2));
        if (c.loopFrame >= 0) frames[static_cast<std::size_t>(c.loopFrame)].loopCount = c.count;
        FakeClock clock(true);
        Played played(MakeAnimatedGif(2, 2, kColors, frames), {0, 0}, &clock);
        QImage canvas = Canvas({4, 4}, kMagenta);
        played.Draw(canvas);
        ASSERT_TRUE(ServeUntil([&] { return played.image.RunningPainters() == 0; }));
        EXPECT_EQ(played.Seen(), c.shown) << c.loopFrame << " " << c.count;
        EXPECT_EQ(played.image.ComposedBitmap().pixel(0, 0), c.shown.back());
    }
}

TEST_F(GifAnimation, LoopCountZeroPlaysUntilThePictureGoes) {
    std::vector<AnimFrame> frames{SolidFrame(0, 0, 2, 2, 0), SolidFrame(0, 0, 2, 2, 1)};
    frames[0].loopCount = 0;
    FakeClock clock(true);
    auto played =
        std::make_unique<Played>(MakeAnimatedGif(2, 2, kColors, frames), QPoint{0, 0}, &clock);
    QImage canvas = Canvas({4, 4}, kMagenta);
    played->Draw(canvas);
    ASSERT_TRUE(ServeUntil([&] { return played->Seen().size() >= 41; }));
    EXPECT_EQ(played->image.RunningPainters(), 1);
    const auto seen = played->Seen();
    for (std::size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], i % 2 == 0 ? kRed : kGreen);
    played.reset(); // stops the painter before the picture goes
}

// Drawing time beyond a frame's delay is taken off the next wait, so it does not add up.
TEST_F(GifAnimation, OvershootIsTakenOffTheNextWait) {
    std::vector<AnimFrame> frames;
    for (int i = 0; i < 5; ++i)
        frames.push_back(SolidFrame(0, 0, 2, 2, static_cast<std::uint8_t>(i % 4), 10));
    FakeClock clock(false);
    Played played(MakeAnimatedGif(2, 2, kColors, frames), {0, 0}, &clock);
    QImage canvas = Canvas({4, 4}, kMagenta);
    const std::int64_t start = clock.NowMs();
    played.Draw(canvas);
    std::vector<std::int64_t> drawnAt;
    for (std::size_t waits = 1; waits <= 4; ++waits) {
        ASSERT_TRUE(
            ServeUntil([&] { return clock.Waits().size() == waits && clock.Waiting() == 1; }));
        clock.Advance(clock.Waits().back() + 7); // each frame comes 7 ms late
        ASSERT_TRUE(ServeUntil([&] { return played.Seen().size() == waits + 1; }));
        drawnAt.push_back(clock.NowMs() - start);
    }
    EXPECT_EQ(clock.Waits(), (std::vector<std::int64_t>{120, 113, 113, 113}));
    EXPECT_EQ(drawnAt, (std::vector<std::int64_t>{127, 247, 367, 487}));
}

// Disposal 2 clears to what was under the picture (the target's content with transparent
// drawing, the GIF's background colour without); disposal 3 restores the frame before.
TEST_F(GifAnimation, DisposalMethods) {
    // Frame 0 covers the screen in red; frame 1 a 2 x 2 square at (0, 0); frame 2 one pixel
    // at (3, 3) so that the probe at (0, 0) shows what the disposals left there.
    struct Case {
        int firstDisposal, secondDisposal;
        bool transparentDrawing;
        std::vector<QRgb> shown; // at (0, 0) after each frame
    };
    const std::vector<Case> cases{
        {1, 1, true, {kRed, kBlue, kBlue}},    {2, 1, true, {kRed, kBlue, kBlue}},
        {2, 2, true, {kRed, kBlue, kMagenta}}, {2, 2, false, {kRed, kBlue, kGreen}},
        {1, 3, true, {kRed, kBlue, kRed}},     {2, 3, true, {kRed, kBlue, kMagenta}},
        {2, 4, true, {kRed, kRed, kMagenta}}, // other values draw nothing
    };
    for (const Case& c : cases) {
        std::vector<AnimFrame> frames{SolidFrame(0, 0, 4, 4, 0, 10, c.firstDisposal),
                                      SolidFrame(0, 0, 2, 2, 2, 10, c.secondDisposal),
                                      SolidFrame(3, 3, 1, 1, 3, 10, 1)};
        FakeClock clock(true);
        Played played(MakeAnimatedGif(4, 4, kColors, frames, 1), {0, 0}, &clock);
        if (!c.transparentDrawing)
            played.image.SetDrawOptions(played.image.DrawOptions() & ~TGIFImage::goTransparent);
        QImage canvas = Canvas({4, 4}, kMagenta);
        played.Draw(canvas);
        ASSERT_TRUE(ServeUntil([&] { return played.image.RunningPainters() == 0; }));
        EXPECT_EQ(played.Seen(), c.shown)
            << c.firstDisposal << " " << c.secondDisposal << " " << c.transparentDrawing;
    }
}

// Transparent pixels show what lies under the picture: the thumbnail's own background.
TEST_F(GifAnimation, TransparentPixelsShowTheTarget) {
    AnimFrame first = SolidFrame(0, 0, 2, 1, 0, 10, 2);
    first.pixels = {0, 3};
    first.transparentIndex = 3;
    AnimFrame second = SolidFrame(0, 0, 2, 1, 3, 10, 1);
    second.transparentIndex = 3;
    FakeClock clock(true);
    Played played(MakeAnimatedGif(2, 1, kColors, {first, second}), {1, 0}, &clock);
    QImage canvas = Canvas({2, 1}, kMagenta);
    played.Draw(canvas);
    ASSERT_TRUE(ServeUntil([&] { return played.image.RunningPainters() == 0; }));
    EXPECT_EQ(played.Seen(), (std::vector<QRgb>{kMagenta, kMagenta}));
    EXPECT_EQ(played.image.ComposedBitmap().pixel(0, 0), kMagenta); // cleared by disposal 2
}

TEST_F(GifAnimation, BackgroundIndexOutsideTheTableWarnsAndTakesEntryZero) {
    std::vector<AnimFrame> frames{SolidFrame(0, 0, 2, 2, 0, 10, 2), SolidFrame(1, 1, 1, 1, 1)};
    std::vector<std::uint8_t> bytes = MakeAnimatedGif(2, 2, kColors, frames, 9);
    bytes[10] = 0xF1; // a global table of 4 entries: index 9 lies outside it
    bytes.erase(bytes.begin() + 13 + 12, bytes.begin() + 13 + 768);
    FakeClock clock(true);
    TGIFImage image;
    QStringList warnings;
    image.SetOnWarning([&](TGIFItem*, TGIFSeverity, const QString& text) { warnings << text; });
    LoadGif(image, bytes);
    image.SetAnimationClock(&clock);
    image.SetDrawOptions(image.DrawOptions() & ~TGIFImage::goTransparent);
    QImage canvas = Canvas({2, 2}, kMagenta);
    {
        QPainter painter(&canvas);
        TCanvas target(painter, 24);
        image.Draw(target, canvas.rect());
    }
    ASSERT_TRUE(ServeUntil([&] { return image.RunningPainters() == 0; }));
    EXPECT_EQ(warnings, QStringList{QString::fromLatin1(gifmsg::kInvalidColorIndex)});
    EXPECT_EQ(image.ComposedBitmap().pixel(0, 0), kRed); // cleared to entry 0
}

// Repaints stretch the composed bitmap; a new size does not start the animation again.
TEST_F(GifAnimation, ResizingKeepsThePainter) {
    std::vector<AnimFrame> frames{SolidFrame(0, 0, 2, 2, 0), SolidFrame(0, 0, 2, 2, 1),
                                  SolidFrame(0, 0, 2, 2, 2)};
    FakeClock clock(false);
    Played played(MakeAnimatedGif(2, 2, kColors, frames), {0, 0}, &clock);
    QImage small = Canvas({10, 10}, kMagenta);
    played.Draw(small);
    EXPECT_EQ(small.pixel(5, 5), kRed);
    gif::TGIFPainter* painter = played.image.CurrentPainter();
    ASSERT_NE(painter, nullptr);
    ASSERT_TRUE(ServeUntil([&] { return clock.Waiting() == 1; }));
    clock.Advance(120);
    ASSERT_TRUE(ServeUntil([&] { return played.Seen().size() == 2; }));
    // The second frame is shown; the painter moves on to the third and waits for its time.
    ASSERT_TRUE(ServeUntil([&] { return clock.Waits().size() == 2 && clock.Waiting() == 1; }));
    QImage large = Canvas({30, 20}, kMagenta);
    played.Draw(large);
    EXPECT_EQ(played.image.CurrentPainter(), painter);
    EXPECT_EQ(painter->ActiveFrame(), 2); // waiting to show the third frame
    EXPECT_EQ(large.pixel(29, 19), kGreen);
    EXPECT_EQ(played.Seen().size(), 2u);
}

// Without asynchronous painting the whole run happens inside the draw, with waits of at
// least 1 unit and at most 1000.
TEST_F(GifAnimation, SynchronousPaintingRunsInsideTheDraw) {
    std::vector<AnimFrame> frames{SolidFrame(0, 0, 2, 2, 0, 2000), SolidFrame(0, 0, 2, 2, 1, 0)};
    frames[0].loopCount = 0; // forever only when asynchronous: once here
    FakeClock clock(true);
    Played played(MakeAnimatedGif(2, 2, kColors, frames), {0, 0}, &clock);
    played.image.SetDrawOptions(played.image.DrawOptions() & ~TGIFImage::goAsync);
    QImage canvas = Canvas({2, 2}, kMagenta);
    const std::int64_t start = clock.NowMs();
    played.Draw(canvas);
    EXPECT_EQ(played.image.CurrentPainter(), nullptr);
    EXPECT_EQ(played.image.RunningPainters(), 0);
    EXPECT_EQ(played.Seen(), (std::vector<QRgb>{kRed, kGreen}));
    EXPECT_EQ(clock.NowMs() - start, 12 + 12000); // 1 unit, then 2000 units held to 1000
    for (std::int64_t step : clock.Waits())
        EXPECT_LE(step, 100);
}

int ThreadsOfThisProcess() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        closedir(dir);
    }
    return count;
}

// Many animated pictures share at most 4 render threads; destroying them while they play
// ends every painter, and the renderer's end ends its threads.
TEST_F(GifAnimation, ManyPicturesShareFourRenderThreads) {
    const int threadsBefore = ThreadsOfThisProcess();
    std::vector<AnimFrame> frames;
    for (int i = 0; i < 4; ++i)
        frames.push_back(SolidFrame(0, 0, 8, 8, static_cast<std::uint8_t>(i), 10));
    frames[0].loopCount = 0;
    const std::vector<std::uint8_t> bytes = MakeAnimatedGif(8, 8, kColors, frames);
    auto renderer = std::make_unique<gif::TRenderer>();
    std::vector<std::unique_ptr<TGIFImage>> images;
    QImage canvas = Canvas({8, 8}, kMagenta);
    for (int i = 0; i < 200; ++i) {
        auto image = std::make_unique<TGIFImage>();
        image->SetContext({.renderer = renderer.get()});
        LoadGif(*image, bytes);
        QPainter painter(&canvas);
        TCanvas target(painter, 24);
        image->Draw(target, canvas.rect());
        images.push_back(std::move(image));
    }
    const auto allReady = [&] {
        for (const auto& image : images)
            for (const auto& frame : image->Images())
                if (frame->maskNeeded) return false;
        return true;
    };
    ASSERT_TRUE(ServeUntil(allReady, 60000));
    EXPECT_GE(renderer->PeakThreadCount(), 1);
    EXPECT_LE(renderer->PeakThreadCount(), 4);
    images.clear();
    renderer.reset();
    EXPECT_EQ(gif::TGIFPainter::LiveCount(), 0);
    // Render threads of earlier tests may have ended meanwhile; none began.
    EXPECT_LE(ThreadsOfThisProcess(), threadsBefore);
}

// The renderer goes while painters wait inside Request: it wakes them and is gone only after
// the last has left, since each still takes its job out of the queue on the way out.
TEST_F(GifAnimation, RendererGoesWhilePaintersWaitInside) {
    constexpr int kPainters = 8;
    auto renderer = std::make_unique<gif::TRenderer>(gif::TRenderer::Limits{1, 60000, 60000, 10});
    gif::TRenderer* shared = renderer.get();
    std::vector<gif::TWakeEvent> wakes(kPainters);
    std::atomic<int> left{0};
    std::vector<std::thread> painters;
    for (int i = 0; i < kPainters; ++i) {
        painters.emplace_back([&, i] {
            shared->Request([] {}, wakes[i]);
            left.fetch_add(1);
        });
    }
    // Without serving the GUI thread, one job waits for it and the others in the queue. (The
    // GUI-call queue may also hold the reaping an earlier test's painter posted as it ended.)
    auto& calls = gif::TGuiCalls::Instance();
    QElapsedTimer timer;
    timer.start();
    while (!(renderer->QueuedCount() == kPainters - 1 && calls.PendingCount() >= 1) &&
           timer.elapsed() < 10000)
        std::this_thread::yield();
    ASSERT_EQ(renderer->QueuedCount(), std::size_t{kPainters - 1});
    ASSERT_GE(calls.PendingCount(), 1u);
    renderer.reset();
    EXPECT_EQ(left.load(), kPainters);
    for (std::thread& painter : painters)
        painter.join();
}

// The queue works whoever uses it first: a call a worker posts before the GUI thread ever
// touched the queue still runs from the event loop. In a process of its own, where the queue
// is new.
TEST(GuiCallsDeathTest, FirstUseOnAWorkerStillRunsFromTheEventLoop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::atomic<bool> ran{false};
            std::thread([&] { gif::TGuiCalls::Instance().Post([&] { ran = true; }); }).join();
            QElapsedTimer timer;
            timer.start();
            while (!ran && timer.elapsed() < 10000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            std::_Exit(ran ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// A render thread waiting for the GUI thread to make a frame bitmap, while the picture goes.
TEST_F(GifAnimation, PictureGoesWhileARenderThreadIsMidFrame) {
    std::vector<AnimFrame> frames{SolidFrame(0, 0, 64, 64, 0, 3), SolidFrame(0, 0, 64, 64, 1, 3)};
    gif::TRenderer renderer;
    auto image = std::make_unique<TGIFImage>();
    LoadGif(*image, MakeAnimatedGif(64, 64, kColors, frames));
    image->SetContext({.renderer = &renderer});
    QImage canvas = Canvas({64, 64}, kMagenta);
    {
        QPainter painter(&canvas);
        TCanvas target(painter, 24);
        image->Draw(target, canvas.rect());
    }
    // Without serving the GUI thread, the render thread's call stays waiting.
    auto& calls = gif::TGuiCalls::Instance();
    QElapsedTimer timer;
    timer.start();
    while (!(calls.PendingCount() == 1 && renderer.QueuedCount() == 0) && timer.elapsed() < 10000)
        std::this_thread::yield();
    ASSERT_EQ(calls.PendingCount(), 1u);
    ASSERT_EQ(renderer.QueuedCount(), 0u);
    image.reset(); // returns: the GUI thread served the render thread while it waited
    EXPECT_EQ(image, nullptr);
    EXPECT_TRUE(ServeUntil([&] { return calls.PendingCount() == 0; }));
}

// Drawing again after a load starts over on the new frames; clearing stops the painter.
TEST_F(GifAnimation, LoadAndClearStopThePainters) {
    std::vector<AnimFrame> frames{SolidFrame(0, 0, 2, 2, 0), SolidFrame(0, 0, 2, 2, 1)};
    frames[0].loopCount = 0;
    const auto bytes = MakeAnimatedGif(2, 2, kColors, frames);
    FakeClock clock(false);
    Played played(bytes, {0, 0}, &clock);
    QImage canvas = Canvas({2, 2}, kMagenta);
    played.Draw(canvas);
    EXPECT_EQ(played.image.RunningPainters(), 1);
    LoadGif(played.image, bytes);
    EXPECT_EQ(played.image.RunningPainters(), 0);
    EXPECT_TRUE(played.image.ComposedBitmap().isNull());
    played.Draw(canvas);
    EXPECT_EQ(played.image.RunningPainters(), 1);
    played.image.SetWidth(3);
    EXPECT_EQ(played.image.RunningPainters(), 0);
    played.Draw(canvas);
    played.image.Clear();
    EXPECT_EQ(played.image.RunningPainters(), 0);
}

// Open and close a set of animated pictures many times, as a folder of them would be.
TEST_F(GifAnimation, ThousandOpenCloseCycles) {
    std::vector<AnimFrame> frames{SolidFrame(0, 0, 16, 16, 0, 3), SolidFrame(0, 0, 16, 16, 1, 3),
                                  SolidFrame(4, 4, 8, 8, 2, 3, 2)};
    frames[0].loopCount = 0;
    const auto bytes = MakeAnimatedGif(16, 16, kColors, frames);
    gif::TRenderer renderer;
    QImage canvas = Canvas({16, 16}, kMagenta);
    for (int cycle = 0; cycle < 1000; ++cycle) {
        std::vector<std::unique_ptr<TGIFImage>> folder;
        for (int i = 0; i < 4; ++i) {
            auto image = std::make_unique<TGIFImage>();
            LoadGif(*image, bytes);
            image->SetContext({.renderer = &renderer});
            QPainter painter(&canvas);
            TCanvas target(painter, 24);
            image->Draw(target, canvas.rect());
            folder.push_back(std::move(image));
        }
        if (cycle % 100 == 0) ServeUntil([] { return false; }, 50);
        folder.clear();
    }
    EXPECT_LE(renderer.PeakThreadCount(), 4);
}

} // namespace
} // namespace sorowa
