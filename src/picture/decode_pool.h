#pragma once
// A small pool of threads that decode pictures away from the GUI thread, so that a folder of
// large photos shows its windows at once and fills them in.
//
// Pictures hand their decodes to the pool from their draws: what is painted is what is
// visible, so visible pictures decode first, and a scroll, whose paints ask again, puts the
// newly visible ones ahead of those asked for earlier. A job's work runs on a pool thread
// and must touch nothing but what it owns (shared, immutable input and its own result); its
// completion runs afterwards on the GUI thread, unless the job was cancelled first, so a
// picture that cancels its jobs when it goes is never touched after it is freed.
//
// The threads (one per core at most, started with the first job) run below the GUI thread's
// priority. Destroying the pool cancels what is pending and waits for what runs.

#include <QObject>
#include <cstddef>
#include <functional>
#include <memory>

namespace sorowa {

class TDecodePool {
public:
    // Every stand-in (a quick, rough picture) runs before any decode.
    enum class Kind { StandIn = 0, Decode = 1 };
    class Job;
    using JobPtr = std::shared_ptr<Job>;

    static constexpr int kMaxThreads = 4;

    // threads 0: one per core, at most kMaxThreads. Pictures use the pool their context
    // names (picture_context.h).
    explicit TDecodePool(int threads = 0);
    ~TDecodePool();
    TDecodePool(const TDecodePool&) = delete;
    TDecodePool& operator=(const TDecodePool&) = delete;

    // A job that runs work on a pool thread and then done on the GUI thread, requested at once
    // (see Request). GUI thread only, as all that follows.
    JobPtr Submit(Kind kind, std::function<void()> work, std::function<void()> done);
    // Puts a job that has not started yet among the newest requests. Jobs requested in one
    // pass of the event loop start in the order they were requested, before any requested
    // in an earlier pass. False when the job will not complete (cancelled, or not this
    // pool's): the caller submits anew.
    bool Request(const JobPtr& job);
    // The job's completion will not run; if it has not started it never will.
    static void Cancel(const JobPtr& job);
    static bool Started(const JobPtr& job);
    // Cancels every job and waits until none is running (closing the folder).
    void CancelAll();

    std::size_t Pending() const;
    int Running() const;
    int Threads() const;
    // Holds the threads before they take another job (tests).
    void SetHeld(bool held);
    // Ends the present request pass now, as the event loop's next round would (tests).
    void EndRequestPass();

private:
    struct Core;
    std::shared_ptr<Core> core_;
    std::unique_ptr<QObject> receiver_; // completions are handed to the GUI thread through it
};

} // namespace sorowa
