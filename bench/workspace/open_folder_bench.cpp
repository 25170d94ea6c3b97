// Opening a folder of N tiny pictures and re-laying it out, for N = 500 and 5,000: both
// must grow linearly. Reports the time per file of an open (listing, window creation,
// loading, placement) and the time of one re-layout of all windows.
//
//   QT_QPA_PLATFORM=offscreen build-rel/bench/workspace/open_folder_bench

#include "answered_dialogs.h"
#include "app/main_form.h"
#include "app/startup.h"
#include "platform/directories.h"
#include "platform/ui/error_display.h"
#include "tiny_bmp.h"
#include "workspace/child_windows.h"
#include "workspace/folder_chooser.h"
#include "workspace/mdi_frame.h"

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace sorowa;

namespace {

using bench::TinyBmp;

const QString& FolderOf(int count) {
    static std::map<int, std::unique_ptr<QTemporaryDir>> folders;
    auto& folder = folders[count];
    if (!folder) {
        folder = std::make_unique<QTemporaryDir>();
        const QByteArray bmp = TinyBmp();
        for (int i = 0; i < count; ++i) {
            QFile file(folder->filePath(QString("pic%1.bmp").arg(i, 5, 10, QChar('0'))));
            file.open(QIODevice::WriteOnly);
            file.write(bmp);
        }
    }
    static QString path;
    path = folder->path();
    return path;
}

struct Program {
    Program() {
        forms = CreateForms({.programFile = settings.filePath("sorowa")});
        forms.mainForm->show();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QTemporaryDir settings;
    TProgramForms forms;
};

void Close(TForm_Main& main) {
    main.MF_CloseClick();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void BM_OpenFolder(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const QString folder = FolderOf(count);
    test::WhenModalOpens<TFolderChooser> chooser(bench::ConfirmFolder(folder));
    Program program;
    TForm_Main& main = *program.forms.mainForm;
    for (auto _ : state) {
        main.Bt_OpenClick();
        state.PauseTiming();
        if (ChildWindows(main.MdiFrame()).size() != count) state.SkipWithError("not all opened");
        Close(main);
        state.ResumeTiming();
    }
    state.counters["per_file_us"] = benchmark::Counter(
        static_cast<double>(count),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_ReLayout(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const QString folder = FolderOf(count);
    test::WhenModalOpens<TFolderChooser> chooser(bench::ConfirmFolder(folder));
    Program program;
    TForm_Main& main = *program.forms.mainForm;
    main.Bt_OpenClick();
    int width = 600;
    for (auto _ : state) {
        main.resize(width, 400); // each pass lays out every window afresh
        width = width == 600 ? 900 : 600;
    }
    Close(main);
}

} // namespace

BENCHMARK(BM_OpenFolder)->Arg(500)->Arg(5000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReLayout)->Arg(500)->Arg(5000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::TApplication app(argc, argv);
    test::WhenModalOpens<QMessageBox> messages([](QMessageBox* box) { test::ClickOk(box); });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
