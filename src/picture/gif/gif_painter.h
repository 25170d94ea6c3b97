#pragma once
// The painter that plays an animated GIF into its picture's composed bitmap: passes and the
// loop extension, frame delays, disposal methods and transparency. Its thread only waits,
// times and chooses frames; every touch of a bitmap or a frame is handed to the GUI thread.

#include "picture/gif/gif_sync.h"

#include <QImage>
#include <QRgb>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace sorowa {

class TGIFImage;
class TGIFSubImage;

namespace gif {

class TRenderer;

// Milliseconds per delay unit, and the delay rules of a frame.
inline constexpr int kMsPerDelayUnit = 12;
inline constexpr int kDefaultDelayUnits = 10;
inline constexpr int kMinDelayUnits = 3;
inline constexpr int kMaxSyncDelayUnits = 1000;

// The delay in units that follows a frame: 10 without a delay of its own, else that delay
// raised to 3; synchronously at most 1000.
int FrameDelayUnits(std::optional<int> graphicControlDelay, bool synchronous);
// The wait before a frame: its delay at speed percent, less the overshoot of the previous wait.
std::int64_t FrameWaitMs(int delayUnits, std::int64_t overshootMs, int speed);

// Copies the frame onto target (the logical screen, pixel for pixel) at its place; drawn
// transparently, pixels under its mask keep what target holds.
void ComposeFrame(TGIFImage& image, TGIFSubImage& frame, QImage& target, bool transparent);

// What the painter thread needs to know of each frame, taken on the GUI thread when the
// painter is made; the frames do not change while a painter lives.
struct TFrameTiming {
    bool empty = true;
    std::optional<int> delay;     // of its first graphic control extension
    int disposal = 1;             // of its last graphic control extension
    std::optional<int> loopCount; // of its first loop extension
};

class TGIFPainter {
public:
    // Made on the GUI thread for the picture's composed bitmap. renderer: the render pool
    // that makes frame bitmaps ahead of time; nullptr: each is made when its frame is due.
    TGIFPainter(TGIFImage& image, QImage& canvas, unsigned options, int speed,
                TAnimationClock& clock, TRenderer* renderer);
    // On the GUI thread, after the run has ended.
    ~TGIFPainter();
    TGIFPainter(const TGIFPainter&) = delete;
    TGIFPainter& operator=(const TGIFPainter&) = delete;

    // Starts the painter's thread (asynchronous painting).
    void Start();
    // The whole run on the calling thread (synchronous painting, or the started thread).
    void Execute();
    // Asks the run to stop and wakes it.
    void Terminate();
    void Join();

    // Painters that exist in the process (each is joined before it is freed).
    static int LiveCount() { return live_.load(); }

    bool Asynchronous() const { return asynchronous_; }
    bool Terminated() const { return terminated_.load(); }
    bool Started() const { return started_.load(); }
    bool Ended() const { return ended_.load(); }
    int ActiveFrame() const { return activeFrame_.load(); }
    bool HasBuffers() const { return !composition_.isNull(); }
    bool HasBackgroundCopy() const { return !background_.isNull(); }
    QRgb BackgroundColor() const { return backgroundColor_; }

private:
    void Run();
    void RunFrames(int& delay, bool& loopSeen, int& loopCounter, int& loopStart);
    // false when the wait was cut short by Terminate.
    bool WaitBeforeFrame(int delay);
    void PrepareFrameBitmap();
    // On the GUI thread.
    void DrawFrame(int index);
    void MakeReady(int index);
    void Ended(bool ranOnGuiThread);

    TGIFImage* image_;
    QImage* canvas_;
    const unsigned options_;
    const int speed_;
    const bool asynchronous_;
    TAnimationClock& clock_;
    TRenderer* renderer_;
    std::vector<TFrameTiming> frames_;
    std::unique_ptr<std::atomic<bool>[]> ready_; // frame bitmap made
    std::unique_ptr<TWakeEvent> wake_;

    QImage composition_, previous_, background_; // GUI thread only
    QRgb backgroundColor_ = 0;
    int currentDisposal_ = 1, previousDisposal_ = 1;

    std::int64_t lastWaitMs_ = 0, previousWaitMs_ = 0;
    std::atomic<int> activeFrame_{-1};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> started_{false};
    std::atomic<bool> ended_{false};
    std::thread thread_;
    static inline std::atomic<int> live_{0};
};

} // namespace gif
} // namespace sorowa

namespace sorowa::gif {

// A picture's running painters, under their own lock, and the current one.
struct TPainterList {
    std::mutex mutex;
    std::vector<std::unique_ptr<TGIFPainter>> painters;
    TGIFPainter* current = nullptr;

    // On the GUI thread: joins and frees the painters whose run has ended.
    void Reap();
    // Painters whose run has not ended.
    int Running();
};

} // namespace sorowa::gif
