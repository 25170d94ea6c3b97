#include "picture/gif/gif_renderer.h"

#include <algorithm>
#include <chrono>

namespace sorowa::gif {

TRenderThread::TRenderThread(TRenderer& owner) : renderer(owner) {}

TRenderer::TRenderer(Limits limits) : limits_(limits) {}

TRenderer::~TRenderer() {
    terminated_.store(true);
    std::size_t running = 0;
    {
        std::lock_guard queueLock(queueMutex_);
        std::lock_guard threadsLock(threadsMutex_);
        running = threads_.size();
        for (const auto& job : queue_) {
            std::lock_guard jobLock(job->mutex);
            if (!job->cancelled) job->wake->Set();
        }
    }
    semaphore_.release(static_cast<std::ptrdiff_t>(running));
    // A thread may be waiting for a call on the GUI thread; keep running those until every
    // thread has ended and every painter woken above has left Request.
    const bool gui = TGuiCalls::OnGuiThread();
    for (;;) {
        bool allEnded = true;
        {
            std::lock_guard queueLock(queueMutex_);
            std::lock_guard threadsLock(threadsMutex_);
            for (const auto& t : threads_)
                allEnded = allEnded && t->ended.load();
            allEnded = allEnded && callers_ == 0;
        }
        if (allEnded) break;
        if (gui) {
            TGuiCalls::Instance().RunPending();
            TGuiCalls::Instance().WaitForCalls(1);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    std::list<std::unique_ptr<TRenderThread>> threads;
    {
        std::lock_guard threadsLock(threadsMutex_);
        threads = std::move(threads_);
    }
    for (auto& t : threads)
        t->thread.join();
    ReapEnded();
}

int TRenderer::ThreadCount() {
    std::lock_guard lock(threadsMutex_);
    return static_cast<int>(threads_.size());
}

std::size_t TRenderer::QueuedCount() {
    std::lock_guard lock(queueMutex_);
    return queue_.size();
}

void TRenderer::ReapEnded() {
    std::vector<std::unique_ptr<TRenderThread>> ended;
    {
        std::lock_guard lock(threadsMutex_);
        ended = std::move(left_);
        left_.clear();
    }
    for (auto& t : ended)
        t->thread.join();
}

bool TRenderer::Request(std::function<void()> prepare, TWakeEvent& wake) {
    ReapEnded();
    auto job = std::make_shared<TRenderJob>();
    job->prepare = std::move(prepare);
    job->wake = &wake;
    {
        std::lock_guard queueLock(queueMutex_);
        if (terminated_.load()) return false;
        ++callers_;
        std::lock_guard threadsLock(threadsMutex_);
        const int count = static_cast<int>(threads_.size());
        if ((threads_.empty() || !threads_.front()->idle) && count < limits_.maxThreads) {
            auto thread = std::make_unique<TRenderThread>(*this);
            TRenderThread* self = thread.get();
            threads_.push_back(std::move(thread));
            peakThreads_.store(std::max(peakThreads_.load(), count + 1));
            self->thread = std::thread([this, self] { Run(self); });
        }
        queue_.push_back(job);
    }
    semaphore_.release();
    const bool done = wake.WaitFor(limits_.waitMs);
    {
        std::lock_guard jobLock(job->mutex);
        job->cancelled = true;
    }
    // The last touch of the renderer: once counted out, it may be gone.
    std::lock_guard queueLock(queueMutex_);
    std::erase(queue_, job);
    --callers_;
    return done;
}

void TRenderer::RunJob(const std::shared_ptr<TRenderJob>& job) {
    TGuiCalls::Instance().Call([&job] {
        std::lock_guard jobLock(job->mutex);
        if (job->cancelled) return;
        try {
            job->prepare();
        } catch (...) {
            // The painter makes the bitmap itself when it draws, and fails there.
        }
        job->wake->Set();
    });
}

void TRenderer::Run(TRenderThread* self) {
    while (!terminated_.load()) {
        if (!semaphore_.try_acquire_for(std::chrono::milliseconds(limits_.idleMs))) {
            std::lock_guard queueLock(queueMutex_);
            std::lock_guard threadsLock(threadsMutex_);
            // Work that came in meanwhile keeps the thread.
            if (terminated_.load() || !queue_.empty()) continue;
            auto it = std::find_if(threads_.begin(), threads_.end(),
                                   [self](const auto& t) { return t.get() == self; });
            left_.push_back(std::move(*it));
            threads_.erase(it);
            self->ended.store(true);
            return;
        }
        if (terminated_.load()) break;
        std::shared_ptr<TRenderJob> job;
        {
            std::lock_guard queueLock(queueMutex_);
            if (!queue_.empty()) {
                job = std::move(queue_.front());
                queue_.pop_front();
            }
            std::lock_guard threadsLock(threadsMutex_);
            self->idle = !job;
            if (!job) {
                // Idle threads go first, where a request looks for one.
                auto it = std::find_if(threads_.begin(), threads_.end(),
                                       [self](const auto& t) { return t.get() == self; });
                threads_.splice(threads_.begin(), threads_, it);
                continue;
            }
        }
        RunJob(job);
        bool more = false;
        {
            std::lock_guard queueLock(queueMutex_);
            more = !queue_.empty();
            std::lock_guard threadsLock(threadsMutex_);
            self->idle = true;
        }
        if (more && !terminated_.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(limits_.pauseMs));
    }
    self->ended.store(true);
}

} // namespace sorowa::gif
