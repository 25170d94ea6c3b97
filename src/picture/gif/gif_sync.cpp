#include "picture/gif/gif_sync.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace sorowa::gif {

void TWakeEvent::Set() {
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    changed_.notify_all();
}

void TWakeEvent::Poke() {
    // Taking the lock orders the poke after the waiter's check of its condition.
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
}

bool TWakeEvent::WaitFor(std::int64_t ms) {
    std::unique_lock lock(mutex_);
    const bool set =
        changed_.wait_for(lock, std::chrono::milliseconds(ms < 0 ? 0 : ms), [&] { return set_; });
    set_ = false;
    return set;
}

bool TWakeEvent::WaitUntil(const std::function<bool()>& timeUp) {
    std::unique_lock lock(mutex_);
    while (!set_) {
        if (timeUp()) return false;
        changed_.wait_for(lock, std::chrono::milliseconds(50));
    }
    set_ = false;
    return true;
}

void TAnimationClock::Yield() {
    std::this_thread::yield();
}

namespace {

class TSteadyClock : public TAnimationClock {
public:
    std::int64_t NowMs() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    bool Wait(TWakeEvent& event, std::int64_t ms) override { return event.WaitFor(ms); }
    void Sleep(std::int64_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

} // namespace

TAnimationClock& SteadyClock() {
    static TSteadyClock clock;
    return clock;
}

struct TGuiCalls::Request {
    std::function<void()> call;
    // Each waiting caller has its own, so that a finished call wakes only its caller.
    std::condition_variable finished;
    bool waited = false;
    bool done = false;
    std::exception_ptr error;
};

TGuiCalls& TGuiCalls::Instance() {
    static TGuiCalls calls;
    if (!calls.notifierMade_.load(std::memory_order_acquire)) calls.MakeNotifier();
    return calls;
}

bool TGuiCalls::OnGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && app->thread() == QThread::currentThread();
}

TGuiCalls::TGuiCalls() {
    // The event loop learns of waiting calls through an eventfd, so that worker threads never
    // call into Qt for each call.
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

void TGuiCalls::MakeNotifier() {
    if (wakeFd_ < 0) return;
    if (OnGuiThread()) {
        MakeNotifierHere();
        return;
    }
    // A worker came first: the notifier belongs to the GUI thread, so the GUI thread makes it
    // when it next runs its loop (posting to the application object is safe from any thread).
    // Calls enqueued until then wait in the eventfd, which stays readable.
    QCoreApplication* app = QCoreApplication::instance();
    if (app != nullptr && !notifierAsked_.exchange(true))
        QMetaObject::invokeMethod(app, [this] { MakeNotifierHere(); }, Qt::QueuedConnection);
}

void TGuiCalls::MakeNotifierHere() {
    if (notifierMade_.exchange(true, std::memory_order_acq_rel)) return;
    notifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto got = read(wakeFd_, &count, sizeof count);
        wakeWritten_.store(false);
        RunPending();
    });
}

TGuiCalls::~TGuiCalls() {
    delete notifier_.data();
    if (wakeFd_ >= 0) close(wakeFd_);
}

void TGuiCalls::Enqueue(std::shared_ptr<Request> request) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(request));
    }
    arrived_.notify_all();
    if (wakeFd_ >= 0 && !wakeWritten_.exchange(true)) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto put = write(wakeFd_, &one, sizeof one);
    }
}

void TGuiCalls::Call(const std::function<void()>& call) {
    if (OnGuiThread()) {
        call();
        return;
    }
    auto request = std::make_shared<Request>();
    request->call = call;
    request->waited = true;
    Enqueue(request);
    std::unique_lock lock(mutex_);
    request->finished.wait(lock, [&] { return request->done; });
    if (request->error) std::rethrow_exception(request->error);
}

void TGuiCalls::Post(std::function<void()> call) {
    auto request = std::make_shared<Request>();
    request->call = std::move(call);
    Enqueue(std::move(request));
}

bool TGuiCalls::RunPending() {
    bool ran = false;
    for (;;) {
        std::shared_ptr<Request> request;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) break;
            request = std::move(queue_.front());
            queue_.pop_front();
        }
        ran = true;
        std::exception_ptr error;
        try {
            request->call();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            request->error = request->waited ? error : nullptr;
            request->done = true;
            request->finished.notify_one();
        }
    }
    return ran;
}

void TGuiCalls::WaitForCalls(std::int64_t ms) {
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, std::chrono::milliseconds(ms),
                      [&] { return !queue_.empty() || poked_; });
    poked_ = false;
}

void TGuiCalls::Poke() {
    {
        std::lock_guard lock(mutex_);
        poked_ = true;
    }
    arrived_.notify_all();
}

std::size_t TGuiCalls::PendingCount() {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

} // namespace sorowa::gif
