// Renaming 5,000 files in sequence through RenameFileNoReplace against a plain loop of the
// same renameat2(RENAME_NOREPLACE) calls, in the same run and the same folder. The folder is
// made under SOROWA_BENCH_DIR if set, else under the system's temporary folder.
//   build-rel/bench/rename/rename_bench                       (the temporary folder's disk)
//   SOROWA_BENCH_DIR=/dev/shm build-rel/bench/rename/rename_bench   (tmpfs)
// per_file is the wall-clock time of one rename; compare the two benchmarks' per_file medians.
#include "platform/file_names.h"
#include "platform/rename.h"

#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFiles = 5000;

// kFiles files in a fresh folder, each renamed back and forth between two name sets so that
// every round of the benchmark renames every file once to a free name.
class Folder {
public:
    Folder() : dir_(BaseFolder() + "/sorowa-rename-bench-XXXXXX") {
        if (!dir_.isValid()) throw std::runtime_error("cannot make the benchmark folder");
        for (int i = 0; i < kFiles; ++i) {
            const QString a =
                dir_.filePath(QStringLiteral("photo%1.JPG").arg(i, 5, 10, QChar('0')));
            const QString b = dir_.filePath(QStringLiteral("trip%1.JPG").arg(i, 5, 10, QChar('0')));
            names_[0].push_back(a);
            names_[1].push_back(b);
            bytes_[0].push_back(sorowa::platform::EncodeFileName(a));
            bytes_[1].push_back(sorowa::platform::EncodeFileName(b));
            const int fd = ::open(bytes_[0].back().c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (fd < 0 || ::write(fd, "picture", 7) != 7) throw std::runtime_error("cannot write");
            ::close(fd);
        }
    }
    // Names the files have now, and the names they get next.
    const std::vector<QString>& Current() const { return names_[side_]; }
    const std::vector<QString>& Next() const { return names_[1 - side_]; }
    const std::vector<std::string>& CurrentBytes() const { return bytes_[side_]; }
    const std::vector<std::string>& NextBytes() const { return bytes_[1 - side_]; }
    void Flip() { side_ = 1 - side_; }

private:
    static QString BaseFolder() {
        const char* base = std::getenv("SOROWA_BENCH_DIR");
        return base && *base ? QString::fromLocal8Bit(base) : QDir::tempPath();
    }
    QTemporaryDir dir_;
    std::vector<QString> names_[2];
    std::vector<std::string> bytes_[2];
    int side_ = 0;
};

void SetCounters(benchmark::State& state) {
    state.counters["per_file"] =
        benchmark::Counter(double(kFiles), benchmark::Counter::kIsIterationInvariantRate |
                                               benchmark::Counter::kInvert);
}

void BM_RenameFileNoReplace(benchmark::State& state) {
    Folder folder;
    for (auto _ : state) {
        const auto& from = folder.Current();
        const auto& to = folder.Next();
        for (int i = 0; i < kFiles; ++i) {
            const auto result = sorowa::platform::RenameFileNoReplace(from[i], to[i]);
            if (!result.ok) state.SkipWithError("a rename failed");
        }
        folder.Flip();
    }
    SetCounters(state);
}

void BM_PlainRenameat2(benchmark::State& state) {
    Folder folder;
    for (auto _ : state) {
        const auto& from = folder.CurrentBytes();
        const auto& to = folder.NextBytes();
        for (int i = 0; i < kFiles; ++i) {
            if (::renameat2(AT_FDCWD, from[i].c_str(), AT_FDCWD, to[i].c_str(), RENAME_NOREPLACE) !=
                0) {
                state.SkipWithError("a rename failed");
            }
        }
        folder.Flip();
    }
    SetCounters(state);
}

// Wall-clock time: a rename spends most of its time in the kernel. The plain loop runs before
// and after, so that a drift of the machine shows.
BENCHMARK(BM_PlainRenameat2)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);
BENCHMARK(BM_RenameFileNoReplace)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);
BENCHMARK(BM_PlainRenameat2)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);

} // namespace

BENCHMARK_MAIN();
