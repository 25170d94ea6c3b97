// The pool that decodes pictures off the GUI thread: the order jobs start in, completions on
// the GUI thread only, and cancelling (one job, everything, the pool itself) while work runs.
#include "picture/decode_pool.h"
#include "support/widgets.h"

#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace sorowa {
namespace {

// A gate that work waits at until the test opens it.
class Gate {
public:
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void Pass() {
        std::unique_lock lock(mutex_);
        reached_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
    }
    void WaitReached() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return reached_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false, reached_ = false;
};

// Scrolling: the paints of the newly visible pictures ask again, and their jobs start before
// those asked for by earlier paints; stand-ins before any decode; within one pass, in the
// order asked.
TEST(DecodePoolTest, TheLatestPassStartsFirstStandInsBeforeDecodes) {
    TDecodePool pool(1);
    pool.SetHeld(true);
    std::mutex mutex;
    std::vector<char> started;
    std::vector<char> completed;
    const QThread* gui = QThread::currentThread();
    auto submit = [&](TDecodePool::Kind kind, char name) {
        return pool.Submit(
            kind,
            [&, name] {
                EXPECT_NE(QThread::currentThread(), gui);
                std::lock_guard lock(mutex);
                started.push_back(name);
            },
            [&, name] {
                EXPECT_EQ(QThread::currentThread(), gui);
                completed.push_back(name);
            });
    };
    const auto a = submit(TDecodePool::Kind::Decode, 'a');
    const auto b = submit(TDecodePool::Kind::Decode, 'b');
    const auto c = submit(TDecodePool::Kind::Decode, 'c');
    pool.EndRequestPass(); // scrolled: c and b are painted again, d and s appear
    EXPECT_TRUE(pool.Request(c));
    EXPECT_TRUE(pool.Request(b));
    const auto d = submit(TDecodePool::Kind::Decode, 'd');
    const auto s = submit(TDecodePool::Kind::StandIn, 's');
    EXPECT_EQ(pool.Pending(), 5u);
    pool.SetHeld(false);
    ASSERT_TRUE(test::WaitFor([&] { return completed.size() == 5; }));
    EXPECT_EQ(started, (std::vector<char>{'s', 'c', 'b', 'd', 'a'}));
    EXPECT_EQ(pool.Pending(), 0u);
    EXPECT_FALSE(pool.Request(a)) << "done: asked again, it is submitted anew";
}

// Closing a folder with 500 decodes waiting: none of them runs or completes, and the close
// returns only once the one running has ended; then the pool itself goes in the middle of a
// job, and that job's completion never runs.
TEST(DecodePoolTest, CancellingWaitsForWhatRunsAndNothingCancelledCompletes) {
    auto pool = std::make_unique<TDecodePool>(1);
    pool->SetHeld(true);
    Gate gate;
    std::atomic<bool> runningEnded{false};
    std::atomic<int> ran{0};
    int completed = 0;
    const auto running = pool->Submit(
        TDecodePool::Kind::Decode,
        [&] {
            gate.Pass();
            runningEnded = true;
        },
        [&] { ++completed; });
    for (int i = 0; i < 500; ++i)
        pool->Submit(
            TDecodePool::Kind::Decode, [&] { ++ran; }, [&] { ++completed; });
    pool->SetHeld(false);
    gate.WaitReached();
    EXPECT_EQ(pool->Pending(), 500u);
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // while CancelAll waits
        gate.Open();
    });
    pool->CancelAll();
    EXPECT_TRUE(runningEnded) << "returns only when what ran has ended";
    EXPECT_EQ(pool->Pending(), 0u);
    EXPECT_EQ(pool->Running(), 0);
    opener.join();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(completed, 0);
    EXPECT_EQ(ran, 0) << "cancelled jobs never start";

    // The pool destroyed while a job runs.
    Gate second;
    pool->Submit(
        TDecodePool::Kind::Decode, [&] { second.Pass(); }, [&] { ++completed; });
    second.WaitReached();
    std::thread late([&] { second.Open(); });
    pool.reset();
    late.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(completed, 0);
    TDecodePool::Cancel(running); // after the pool: harmless
}

} // namespace
} // namespace sorowa
