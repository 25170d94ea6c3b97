// Changes of order in a folder of 10,000 thumbnails, each measured on the GUI thread from
// the command to the end of the events it causes (repaint of what is on screen included):
// one thumbnail from the last place to the first, and a drop of 1,000 selected thumbnails
// (every tenth) before the first. Every window's number changes in both.
//
//   QT_QPA_PLATFORM=offscreen build-rel/bench/workspace/arrange_bench

#include "answered_dialogs.h"
#include "app/main_form.h"
#include "app/startup.h"
#include "platform/directories.h"
#include "platform/ui/error_display.h"
#include "tiny_bmp.h"
#include "workspace/child_windows.h"
#include "workspace/folder_chooser.h"
#include "workspace/mdi_frame.h"
#include "workspace/reorder_drag.h"
#include "workspace/sequence.h"
#include "workspace/thumbnail_window.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace sorowa;

namespace {

constexpr int kCount = 10000;

using bench::TinyBmp;

// The program with a folder of kCount pictures open, made once for all benchmarks.
struct OpenProgram {
    OpenProgram() {
        const QByteArray bmp = TinyBmp();
        for (int i = 0; i < kCount; ++i) {
            QFile file(pictures.filePath(QString("pic%1.bmp").arg(i, 5, 10, QChar('0'))));
            file.open(QIODevice::WriteOnly);
            file.write(bmp);
        }
        test::WhenModalOpens<TFolderChooser> chooser(bench::ConfirmFolder(pictures.path()));
        forms = CreateForms({.programFile = settings.filePath("sorowa")});
        forms.mainForm->show();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        forms.mainForm->Bt_OpenClick();
        QCoreApplication::processEvents();
    }
    TMdiFrame& Frame() { return *forms.mainForm->MdiFrame(); }
    QTemporaryDir pictures;
    QTemporaryDir settings;
    TProgramForms forms;
};

// Made by the first benchmark, gone before the application object.
std::unique_ptr<OpenProgram> program;

OpenProgram& Program() {
    if (!program) program = std::make_unique<OpenProgram>();
    return *program;
}

void BM_MoveLastToFirst(benchmark::State& state) {
    TMdiFrame& frame = Program().Frame();
    TSequence& sequence = frame.Sequence();
    if (sequence.Size() != kCount) state.SkipWithError("not all opened");
    for (auto _ : state) {
        state.PauseTiming();
        frame.SetActiveChild(sequence.At(kCount));
        QCoreApplication::processEvents();
        state.ResumeTiming();
        sequence.MoveSelectionToPlace(1);
        QCoreApplication::processEvents();
        state.PauseTiming();
        if (sequence.At(1) != frame.ActiveChild()) state.SkipWithError("not moved");
        sequence.Undo();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}

void BM_DropBlockOf1000(benchmark::State& state) {
    TMdiFrame& frame = Program().Frame();
    TSequence& sequence = frame.Sequence();
    if (sequence.Size() != kCount) state.SkipWithError("not all opened");
    for (auto _ : state) {
        state.PauseTiming();
        frame.SetActiveChild(sequence.At(10));
        for (int n = 20; n <= kCount; n += 10)
            sequence.SetSelected(sequence.At(n), true);
        QCoreApplication::processEvents();
        state.ResumeTiming();
        // Where a drop over the left half of the first thumbnail lands, and the drop.
        sequence.MoveSelectionToGap(
            DropPlaceAt(sequence, sequence.At(1)->pos() + QPoint(5, 30)).gap);
        QCoreApplication::processEvents();
        state.PauseTiming();
        if (sequence.At(1000)->FileName() != "pic09999.bmp") state.SkipWithError("not moved");
        sequence.Undo();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK(BM_MoveLastToFirst)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_DropBlockOf1000)->Unit(benchmark::kMillisecond)->Iterations(20);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::TApplication app(argc, argv);
    test::WhenModalOpens<QMessageBox> messages([](QMessageBox* box) { test::ClickOk(box); });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    program.reset();
    return 0;
}
