// The whole batch rename of 5,000 files (sequence order, names, the no-replace rename) against
// a plain loop of renameat2(RENAME_NOREPLACE) calls over 5,000 files, in the same run, on the
// same disk. Every round renames every file once to a free name.
//   build-rel/bench/rename/batch_rename_bench
// per_file is the wall-clock time per file; the goal is a ratio under 2.
#include "platform/file_names.h"
#include "rename/batch_rename.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdexcept>
#include <stdio.h>
#include <unistd.h>

using namespace sorowa;

namespace {

constexpr int kFiles = 5000;

void CreateFiles(const QTemporaryDir& dir, const char* prefix) {
    for (int i = 1; i <= kFiles; ++i) {
        const std::string path = platform::EncodeFileName(
            dir.filePath(QString("%1%2.JPG").arg(prefix).arg(i, 5, 10, QChar('0'))));
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0 || ::write(fd, "picture", 7) != 7) throw std::runtime_error("cannot write");
        ::close(fd);
    }
}

void BM_BatchRename(benchmark::State& state) {
    QTemporaryDir dir;
    CreateFiles(dir, "a");
    std::vector<TNumberedName> files;
    for (int i = 1; i <= kFiles; ++i)
        files.push_back({i, QString("a%1.JPG").arg(i, 5, 10, QChar('0'))});
    int failures = 0;
    bool flip = false;
    const TBatchRenameUi ui{[&](int file, const QString& name) { files[file].name = name; },
                            [&](const QString&) { ++failures; }};
    for (auto _ : state) {
        RunBatchRename({flip ? "b" : "c", 5, 1, dir.path()}, files, ui);
        flip = !flip;
    }
    if (failures != 0) state.SkipWithError("a rename failed");
    state.counters["per_file"] = benchmark::Counter(
        kFiles, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_PlainRenameLoop(benchmark::State& state) {
    QTemporaryDir dir;
    CreateFiles(dir, "a");
    std::vector<std::string> names[2];
    for (int i = 1; i <= kFiles; ++i) {
        const QString n = QString("%1").arg(i, 5, 10, QChar('0'));
        names[0].push_back(platform::EncodeFileName(dir.filePath("a" + n + ".JPG")));
        names[1].push_back(platform::EncodeFileName(dir.filePath("b" + n + ".JPG")));
    }
    int side = 0;
    int failures = 0;
    for (auto _ : state) {
        for (int i = 0; i < kFiles; ++i)
            if (renameat2(AT_FDCWD, names[side][i].c_str(), AT_FDCWD, names[1 - side][i].c_str(),
                          RENAME_NOREPLACE) != 0)
                ++failures;
        side = 1 - side;
    }
    if (failures != 0) state.SkipWithError("a rename failed");
    state.counters["per_file"] = benchmark::Counter(
        kFiles, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(BM_PlainRenameLoop)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_BatchRename)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
