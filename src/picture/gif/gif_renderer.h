#pragma once
// The render pool: a few threads shared by every animated picture that have frame bitmaps
// made ahead of time, so that a frame is ready when its delay runs out. The threads only
// wait and choose; the bitmaps themselves are made on the GUI thread.

#include "picture/gif/gif_sync.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

namespace sorowa::gif {

class TRenderer;

// One request: what to prepare (run on the GUI thread) and whom to wake when it is done.
// The painter cancels it when it stops waiting, so that nothing runs or wakes afterwards.
struct TRenderJob {
    std::function<void()> prepare;
    TWakeEvent* wake = nullptr;
    std::mutex mutex;
    bool cancelled = false;
};

class TRenderThread {
public:
    explicit TRenderThread(TRenderer& renderer);
    TRenderer& renderer;
    std::thread thread;
    bool idle = true;               // guarded by the renderer's thread-list lock
    std::atomic<bool> ended{false}; // set as the very last thing the thread does
};

class TRenderer {
public:
    struct Limits {
        int maxThreads = 4;
        std::int64_t waitMs = 5000;  // longest a painter waits for a prepared bitmap
        std::int64_t idleMs = 60000; // a render thread ends after this long without work
        std::int64_t pauseMs = 10;   // pause between two jobs while more are queued
    };

    explicit TRenderer(Limits limits);
    TRenderer() : TRenderer(Limits{}) {}
    // Terminates the threads, wakes every queued painter and joins the threads. On the GUI
    // thread it keeps running the calls the threads wait for.
    ~TRenderer();
    TRenderer(const TRenderer&) = delete;
    TRenderer& operator=(const TRenderer&) = delete;

    // From a painter thread: has prepare run on the GUI thread by a render thread, which then
    // sets wake; waits for that at most waitMs. True when the job ran in time.
    bool Request(std::function<void()> prepare, TWakeEvent& wake);

    int ThreadCount();
    // The most render threads that ever ran at once.
    int PeakThreadCount() const { return peakThreads_.load(); }
    std::size_t QueuedCount();

private:
    void Run(TRenderThread* self);
    void RunJob(const std::shared_ptr<TRenderJob>& job);
    // Joins threads that have left the list. Called with neither lock held.
    void ReapEnded();

    const Limits limits_;
    std::mutex queueMutex_; // taken before threadsMutex_
    std::deque<std::shared_ptr<TRenderJob>> queue_;
    std::mutex threadsMutex_;
    std::list<std::unique_ptr<TRenderThread>> threads_;
    std::vector<std::unique_ptr<TRenderThread>> left_; // ended threads waiting to be joined
    std::counting_semaphore<> semaphore_{0};
    std::atomic<bool> terminated_{false};
    std::atomic<int> peakThreads_{0};
    // Painters inside Request (guarded by queueMutex_): the destructor wakes them and waits
    // until the last has left, since each still takes its job out of the queue.
    int callers_ = 0;
};

} // namespace sorowa::gif
