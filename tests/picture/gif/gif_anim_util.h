#pragma once
// Test-only helpers for animation: a writer of small animated GIFs, a clock whose time moves
// only when the test says, and a loop that serves the GUI thread while waiting.

#include "gif_test_util.h"
#include "picture/gif/gif_image.h"
#include "picture/gif/gif_sync.h"
#include "picture/stream.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace sorowa::giftest {

struct AnimFrame {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<std::uint8_t> pixels; // width * height indices into the global table
    std::optional<int> delay;         // a graphic control extension when set
    int disposal = 1;
    std::optional<std::uint8_t> transparentIndex;
    std::optional<int> loopCount; // a NETSCAPE2.0 extension before this frame
};

// A frame of one colour index covering (left, top, width, height).
inline AnimFrame SolidFrame(int left, int top, int width, int height, std::uint8_t index,
                            std::optional<int> delay = 10, int disposal = 1) {
    AnimFrame f;
    f.left = left;
    f.top = top;
    f.width = width;
    f.height = height;
    f.pixels.assign(static_cast<std::size_t>(width * height), index);
    f.delay = delay;
    f.disposal = disposal;
    return f;
}

// A GIF89a with a 256-entry global table (colors first, the rest black) and the frames, each
// coded with literal codes only (a clear code before the table would widen the codes).
inline std::vector<std::uint8_t> MakeAnimatedGif(int width, int height,
                                                 const std::vector<QRgb>& colors,
                                                 const std::vector<AnimFrame>& frames,
                                                 std::uint8_t backgroundIndex = 0) {
    std::vector<std::uint8_t> out{'G', 'I', 'F', '8', '9', 'a'};
    auto word = [&](int v) {
        out.push_back(static_cast<std::uint8_t>(v & 0xFF));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    word(width);
    word(height);
    out.push_back(0xF7); // global table of 256 entries
    out.push_back(backgroundIndex);
    out.push_back(0);
    for (int i = 0; i < 256; ++i) {
        const QRgb c =
            i < static_cast<int>(colors.size()) ? colors[static_cast<std::size_t>(i)] : 0;
        out.push_back(static_cast<std::uint8_t>(qRed(c)));
        out.push_back(static_cast<std::uint8_t>(qGreen(c)));
        out.push_back(static_cast<std::uint8_t>(qBlue(c)));
    }
    for (const AnimFrame& f : frames) {
        if (f.loopCount) {
            const char id[] = "NETSCAPE2.0";
            out.insert(out.end(), {0x21, 0xFF, 11});
            out.insert(out.end(), id, id + 11);
            out.insert(out.end(), {3, 1});
            word(*f.loopCount);
            out.push_back(0);
        }
        if (f.delay) {
            out.insert(out.end(), {0x21, 0xF9, 4});
            out.push_back(
                static_cast<std::uint8_t>((f.disposal << 2) | (f.transparentIndex ? 1 : 0)));
            word(*f.delay);
            out.push_back(f.transparentIndex.value_or(0));
            out.push_back(0);
        }
        out.push_back(0x2C);
        word(f.left);
        word(f.top);
        word(f.width);
        word(f.height);
        out.push_back(0);
        out.push_back(8); // minimum code size: clear 256, end 257, 9-bit codes
        std::vector<std::pair<int, int>> codes;
        codes.push_back({256, 9});
        int sinceClear = 0;
        for (std::uint8_t p : f.pixels) {
            if (sinceClear == 250) {
                codes.push_back({256, 9});
                sinceClear = 0;
            }
            codes.push_back({p, 9});
            ++sinceClear;
        }
        codes.push_back({257, 9});
        std::vector<std::uint8_t> packed;
        {
            std::uint32_t acc = 0;
            int count = 0;
            for (const auto& [code, bits] : codes) {
                acc |= static_cast<std::uint32_t>(code) << count;
                count += bits;
                while (count >= 8) {
                    packed.push_back(static_cast<std::uint8_t>(acc));
                    acc >>= 8;
                    count -= 8;
                }
            }
            if (count > 0) packed.push_back(static_cast<std::uint8_t>(acc));
        }
        const std::vector<std::uint8_t> blocks = SubBlocks(packed, 255);
        out.insert(out.end(), blocks.begin(), blocks.end());
    }
    out.push_back(0x3B);
    return out;
}

inline void LoadGif(TGIFImage& image, const std::vector<std::uint8_t>& bytes) {
    TMemoryStream stream(bytes);
    image.LoadFromStream(stream);
}

// Time moves only through Advance, or, with autoAdvance, by exactly what each wait asks.
class FakeClock : public gif::TAnimationClock {
public:
    explicit FakeClock(bool autoAdvance) : autoAdvance_(autoAdvance) {}

    std::int64_t NowMs() override { return now_.load(); }
    bool Wait(gif::TWakeEvent& event, std::int64_t ms) override {
        Record(ms);
        if (autoAdvance_) {
            if (event.WaitFor(0)) return true;
            now_ += std::max<std::int64_t>(ms, 0);
            return false;
        }
        const std::int64_t deadline = now_.load() + ms;
        {
            std::lock_guard lock(mutex_);
            waiting_.insert(&event);
        }
        const bool set = event.WaitUntil([&] { return now_.load() >= deadline; });
        std::lock_guard lock(mutex_);
        waiting_.erase(&event);
        return set;
    }
    void Sleep(std::int64_t ms) override {
        gif::TWakeEvent never;
        if (autoAdvance_) {
            Record(ms);
            now_ += ms;
            return;
        }
        Wait(never, ms);
    }
    void Advance(std::int64_t ms) {
        now_ += ms;
        std::lock_guard lock(mutex_);
        for (gif::TWakeEvent* event : waiting_)
            event->Poke();
    }
    std::vector<std::int64_t> Waits() {
        std::lock_guard lock(mutex_);
        return waits_;
    }
    int Waiting() {
        std::lock_guard lock(mutex_);
        return static_cast<int>(waiting_.size());
    }

private:
    void Record(std::int64_t ms) {
        std::lock_guard lock(mutex_);
        waits_.push_back(ms);
    }
    const bool autoAdvance_;
    std::atomic<std::int64_t> now_{1000};
    std::mutex mutex_;
    std::set<gif::TWakeEvent*> waiting_;
    std::vector<std::int64_t> waits_;
};

// Serves the GUI thread (its event loop and the calls handed to it) until condition holds
// or timeoutMs pass.
template <typename Condition> bool ServeUntil(Condition condition, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    auto& calls = gif::TGuiCalls::Instance();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents();
        if (!calls.RunPending()) calls.WaitForCalls(2);
    }
    return true;
}

} // namespace sorowa::giftest
