#include "picture/decode_pool.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <time.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace sorowa {

namespace {

// The order jobs start in: stand-ins first, then the newest request pass, then the order of
// the requests within it.
using Key = std::tuple<int, std::int64_t, std::int64_t>;

enum class State { Pending, Running, Finished, Cancelled, Delivered };

// SOROWA_TRACE=1: every completion, and every stretch of more than kStallMs in which the GUI
// thread's event loop did not come round, go to stderr as "sorowa-trace <ms since the epoch>
// ...", so that a run can be timed from outside. Read once; nothing is done when it is off.
bool Tracing() {
    static const bool on = qEnvironmentVariableIntValue("SOROWA_TRACE") != 0;
    return on;
}
constexpr int kStallMs = 50;
constexpr int kStallTickMs = 10;
} // namespace

class TDecodePool::Job {
public:
    Job(std::shared_ptr<Core> core, Kind kind, std::function<void()> work,
        std::function<void()> done)
        : core(std::move(core)), kind(kind), work(std::move(work)), done(std::move(done)) {}

    std::shared_ptr<Core> core;
    const Kind kind;
    // Guarded by the core's mutex.
    State state = State::Pending;
    Key key{};
    // Read by the thread that runs the job only; released by it afterwards.
    std::function<void()> work;
    // GUI thread only.
    std::function<void()> done;
};

// Everything the threads share. Plain data behind one mutex; jobs keep it alive, so a job
// cancelled after the pool is gone still finds it.
struct TDecodePool::Core {
    std::mutex mutex;
    std::condition_variable wake; // a job to take, or stopping
    std::condition_variable idle; // a job has finished running
    std::map<Key, JobPtr> pending;
    std::vector<JobPtr> finished;
    std::vector<Job*> active; // running now
    int running = 0;
    bool stopping = false;
    bool held = false;
    bool deliveryPosted = false;
    QObject* receiver = nullptr; // lives while any thread may post to it
    std::vector<std::thread> threads;
    int maxThreads = 1;
    // GUI thread only.
    std::int64_t generation = 0;
    std::int64_t sequence = 0;
    bool passOpen = false;

    Key NextKey(Kind kind) { return {static_cast<int>(kind), -generation, ++sequence}; }

    void Run(const std::shared_ptr<Core>& self);
    void Deliver();
};

void TDecodePool::Core::Run(const std::shared_ptr<Core>& self) {
    // Below the GUI thread: the window answers first while pictures decode.
    const int nice = getpriority(PRIO_PROCESS, 0);
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), std::min(19, nice + 5));
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [&] { return stopping || (!held && !pending.empty()); });
        if (stopping) return;
        JobPtr job = std::move(pending.begin()->second);
        pending.erase(pending.begin());
        job->state = State::Running;
        active.push_back(job.get());
        ++running;
        std::function<void()> work = std::move(job->work);
        lock.unlock();
        try {
            work();
        } catch (...) { // a job reports through what it owns; nothing may leave the thread
        }
        work = nullptr; // what it holds goes here, not on the GUI thread
        lock.lock();
        --running;
        std::erase(active, job.get());
        if (job->state == State::Running) {
            job->state = State::Finished;
            finished.push_back(std::move(job));
            if (!deliveryPosted) {
                deliveryPosted = true;
                QMetaObject::invokeMethod(
                    receiver, [self] { self->Deliver(); }, Qt::QueuedConnection);
            }
        }
        idle.notify_all();
    }
}

void TDecodePool::Core::Deliver() {
    std::vector<JobPtr> ready;
    {
        std::lock_guard lock(mutex);
        ready.swap(finished);
        deliveryPosted = false;
    }
    for (const JobPtr& job : ready) {
        bool deliver = false;
        {
            // A completion may cancel a job that finished in the same batch.
            std::lock_guard lock(mutex);
            if (job->state == State::Finished) {
                job->state = State::Delivered;
                deliver = true;
            }
        }
        if (!deliver || !job->done) continue;
        if (!Tracing()) {
            std::exchange(job->done, nullptr)();
            continue;
        }
        QElapsedTimer took;
        took.start();
        std::exchange(job->done, nullptr)();
        std::fprintf(stderr, "sorowa-trace %lld completion %s %lld ms\n",
                     static_cast<long long>(QDateTime::currentMSecsSinceEpoch()),
                     job->kind == Kind::StandIn ? "stand-in" : "decode",
                     static_cast<long long>(took.elapsed()));
    }
}

TDecodePool::TDecodePool(int threads)
    : core_(std::make_shared<Core>()), receiver_(std::make_unique<QObject>()) {
    core_->receiver = receiver_.get();
    core_->maxThreads =
        threads > 0 ? threads : std::clamp(QThread::idealThreadCount(), 1, kMaxThreads);
    if (Tracing()) {
        // A timer that should come round every few milliseconds: a late one is a stall. The
        // GUI thread's own processor time over the gap tells work apart from a machine too
        // busy to run it.
        auto* stallWatch = new QTimer(receiver_.get());
        stallWatch->setTimerType(Qt::PreciseTimer);
        struct Last {
            QElapsedTimer wall;
            qint64 cpuUs = 0;
        };
        const auto cpuUs = [] {
            timespec now{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
            return static_cast<qint64>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
        };
        auto last = std::make_shared<Last>();
        last->wall.start();
        last->cpuUs = cpuUs();
        QObject::connect(stallWatch, &QTimer::timeout, [last, cpuUs] {
            const qint64 gap = last->wall.restart();
            const qint64 cpu = cpuUs();
            const qint64 used = cpu - std::exchange(last->cpuUs, cpu);
            if (gap > kStallMs)
                std::fprintf(stderr, "sorowa-trace %lld stall %lld ms (GUI thread busy %lld ms)\n",
                             static_cast<long long>(QDateTime::currentMSecsSinceEpoch()),
                             static_cast<long long>(gap), static_cast<long long>(used / 1000));
        });
        stallWatch->start(kStallTickMs);
    }
}

TDecodePool::~TDecodePool() {
    CancelAll();
    {
        std::lock_guard lock(core_->mutex);
        core_->stopping = true;
    }
    core_->wake.notify_all();
    for (std::thread& thread : core_->threads)
        thread.join();
    core_->threads.clear();
    // No thread posts any more; completions already posted go with the receiver.
    std::lock_guard lock(core_->mutex);
    core_->receiver = nullptr;
    core_->finished.clear();
}

TDecodePool::JobPtr TDecodePool::Submit(Kind kind, std::function<void()> work,
                                        std::function<void()> done) {
    auto job = std::make_shared<Job>(core_, kind, std::move(work), std::move(done));
    {
        std::lock_guard lock(core_->mutex);
        // Threads start with the first job, so a window that never decodes runs none.
        while (static_cast<int>(core_->threads.size()) < core_->maxThreads)
            core_->threads.emplace_back([core = core_] { core->Run(core); });
        job->state = State::Pending;
    }
    Request(job);
    return job;
}

bool TDecodePool::Request(const JobPtr& job) {
    if (!job || job->core != core_) return false;
    Core& core = *core_;
    if (!core.passOpen) {
        // Requests until the event loop comes round again belong to one pass.
        ++core.generation;
        core.passOpen = true;
        QTimer::singleShot(0, receiver_.get(), [core = core_] { core->passOpen = false; });
    }
    {
        std::lock_guard lock(core.mutex);
        if (job->state != State::Pending)
            return job->state == State::Running || job->state == State::Finished;
        core.pending.erase(job->key);
        job->key = core.NextKey(job->kind);
        core.pending.emplace(job->key, job);
    }
    core.wake.notify_one();
    return true;
}

void TDecodePool::Cancel(const JobPtr& job) {
    if (!job) return;
    {
        std::lock_guard lock(job->core->mutex);
        if (job->state == State::Pending) job->core->pending.erase(job->key);
        if (job->state != State::Delivered) job->state = State::Cancelled;
    }
    job->done = nullptr;
}

bool TDecodePool::Started(const JobPtr& job) {
    if (!job) return false;
    std::lock_guard lock(job->core->mutex);
    return job->state != State::Pending;
}

void TDecodePool::CancelAll() {
    std::vector<JobPtr> dropped;
    std::unique_lock lock(core_->mutex);
    for (auto& [key, job] : core_->pending) {
        job->state = State::Cancelled;
        dropped.push_back(std::move(job));
    }
    core_->pending.clear();
    for (JobPtr& job : core_->finished) {
        job->state = State::Cancelled;
        dropped.push_back(std::move(job));
    }
    core_->finished.clear();
    for (Job* job : core_->active)
        job->state = State::Cancelled; // Run drops it when it ends
    core_->idle.wait(lock, [&] { return core_->running == 0; });
    lock.unlock();
    for (JobPtr& job : dropped)
        job->done = nullptr;
}

void TDecodePool::EndRequestPass() {
    core_->passOpen = false;
}

std::size_t TDecodePool::Pending() const {
    std::lock_guard lock(core_->mutex);
    return core_->pending.size();
}

int TDecodePool::Running() const {
    std::lock_guard lock(core_->mutex);
    return core_->running;
}

int TDecodePool::Threads() const {
    return core_->maxThreads;
}

void TDecodePool::SetHeld(bool held) {
    {
        std::lock_guard lock(core_->mutex);
        core_->held = held;
    }
    core_->wake.notify_all();
}

} // namespace sorowa
