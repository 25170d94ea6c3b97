// Renumbering 5,000 files whose every new name is another file's old name (the sequence
// reversed, so each round undoes the last), through the two phases with their journal,
// against a plain loop of renameat2(RENAME_NOREPLACE) doing the same 2 x 5,000 single moves
// (to temporary names, then to the new names), in the same run and the same folder.
//   build-rel/bench/rename/renumber_bench
//   SOROWA_BENCH_DIR=/dev/shm build-rel/bench/rename/renumber_bench   (tmpfs)
// per_file is the wall-clock time per file; the goal is a ratio of at most 2.5.
#include "platform/file_names.h"
#include "rename/two_phase_rename.h"

#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

using namespace sorowa;

namespace {

constexpr int kFiles = 5000;

QString BaseFolder() {
    const char* base = std::getenv("SOROWA_BENCH_DIR");
    return base && *base ? QString::fromLocal8Bit(base) : QDir::tempPath();
}

class Folder {
public:
    Folder() : dir_(BaseFolder() + "/sorowa-renumber-bench-XXXXXX") {
        if (!dir_.isValid()) throw std::runtime_error("cannot make the benchmark folder");
        for (int i = 0; i < kFiles; ++i) {
            names_ << QStringLiteral("trip%1.JPG").arg(i + 1, 4, 10, QChar(u'0'));
            const std::string path = platform::EncodeFileName(dir_.filePath(names_.back()));
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (fd < 0 || ::write(fd, "picture", 7) != 7) throw std::runtime_error("cannot write");
            ::close(fd);
        }
    }
    QString Path() const { return dir_.path(); }
    // The file at position i of the reversed sequence takes the name of position i.
    std::vector<TMove> Reversal() const {
        std::vector<TMove> moves;
        for (int i = 0; i < kFiles; ++i)
            moves.push_back({names_[kFiles - 1 - i], names_[i]});
        return moves;
    }
    std::string Bytes(const QString& name) const {
        return platform::EncodeFileName(dir_.filePath(name));
    }

private:
    QTemporaryDir dir_;
    QStringList names_;
};

void SetCounters(benchmark::State& state) {
    state.counters["per_file"] =
        benchmark::Counter(double(kFiles), benchmark::Counter::kIsIterationInvariantRate |
                                               benchmark::Counter::kInvert);
}

void BM_Renumber(benchmark::State& state) {
    Folder folder;
    const std::vector<TMove> moves = folder.Reversal();
    for (auto _ : state) {
        for (const TMoveOutcome& outcome : RunTwoPhaseRename(folder.Path(), moves)) {
            if (outcome.place != TPlace::kTarget) state.SkipWithError("a move failed");
        }
    }
    SetCounters(state);
}

void BM_PlainRenameat2TwoMoves(benchmark::State& state) {
    Folder folder;
    std::vector<std::string> from;
    std::vector<std::string> temporary;
    std::vector<std::string> to;
    for (const TMove& move : folder.Reversal()) {
        from.push_back(folder.Bytes(move.from));
        temporary.push_back(folder.Bytes(".tmp-" + move.from));
        to.push_back(folder.Bytes(move.to));
    }
    for (auto _ : state) {
        for (int i = 0; i < kFiles; ++i) {
            if (::renameat2(AT_FDCWD, from[i].c_str(), AT_FDCWD, temporary[i].c_str(),
                            RENAME_NOREPLACE) != 0)
                state.SkipWithError("a rename failed");
        }
        for (int i = 0; i < kFiles; ++i) {
            if (::renameat2(AT_FDCWD, temporary[i].c_str(), AT_FDCWD, to[i].c_str(),
                            RENAME_NOREPLACE) != 0)
                state.SkipWithError("a rename failed");
        }
    }
    SetCounters(state);
}

// Wall-clock time: renames and syncs spend their time in the kernel and the disk. The plain
// loop runs before and after, so that a drift of the shared machine shows.
BENCHMARK(BM_PlainRenameat2TwoMoves)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);
BENCHMARK(BM_Renumber)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);
BENCHMARK(BM_PlainRenameat2TwoMoves)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);

} // namespace

BENCHMARK_MAIN();
