#pragma once
// What the animation threads wait and time with: an auto-reset wake event, a millisecond
// clock that tests can replace, and the queue of calls that worker threads hand to the GUI
// thread and wait for.

#include <QPointer>
#include <QSocketNotifier>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

namespace sorowa::gif {

// An auto-reset event: Set wakes one wait (or the next one) and is used up by it.
class TWakeEvent {
public:
    void Set();
    // Waits until the event is set (true, and it is reset) or until ms have passed (false).
    bool WaitFor(std::int64_t ms);
    // Waits until the event is set (true) or timeUp() holds (false). timeUp is checked
    // whenever Poke is called and at least every 50 ms.
    bool WaitUntil(const std::function<bool()>& timeUp);
    // Makes waiters look at their condition again.
    void Poke();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

// The millisecond clock and the waits of the animation. The real one follows the steady
// clock; tests put in one whose time moves only when they say.
class TAnimationClock {
public:
    virtual ~TAnimationClock() = default;
    virtual std::int64_t NowMs() = 0;
    // Waits on event for at most ms; true when the event was set first.
    virtual bool Wait(TWakeEvent& event, std::int64_t ms) = 0;
    // Waits ms without any event (the synchronous painter and the render threads' pause).
    virtual void Sleep(std::int64_t ms) = 0;
    virtual void Yield();
};

// The process's real clock.
TAnimationClock& SteadyClock();

// Calls that worker threads run on the GUI thread. The GUI thread runs them when its event
// loop is idle, and wherever it waits for the workers (RunPending). Running them never
// processes any other event, so no wait re-enters arbitrary event handling.
class TGuiCalls {
public:
    // The process's queue. Whichever thread uses it first, the GUI thread's event loop runs
    // its calls (from its next round on when a worker came first).
    static TGuiCalls& Instance();
    ~TGuiCalls();

    // Runs call on the GUI thread and waits for it to finish; what it throws is thrown here.
    // On the GUI thread it runs at once.
    void Call(const std::function<void()>& call);
    // Hands call to the GUI thread without waiting.
    void Post(std::function<void()> call);
    // On the GUI thread: runs the calls that are waiting; true when there were any.
    bool RunPending();
    // On the GUI thread: waits at most ms for a call to arrive or for Poke.
    void WaitForCalls(std::int64_t ms);
    // Ends a WaitForCalls early (a worker that ended, say).
    void Poke();
    std::size_t PendingCount();
    static bool OnGuiThread();

private:
    struct Request;
    TGuiCalls();
    void Enqueue(std::shared_ptr<Request> request);
    // Has the GUI thread make the notifier that runs calls from its event loop.
    void MakeNotifier();
    void MakeNotifierHere();

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::shared_ptr<Request>> queue_;
    bool poked_ = false;
    int wakeFd_ = -1;
    QPointer<QSocketNotifier> notifier_; // owned by the application object; GUI thread only
    std::atomic<bool> notifierMade_{false};
    std::atomic<bool> notifierAsked_{false};
    std::atomic<bool> wakeWritten_{false};
};

} // namespace sorowa::gif
