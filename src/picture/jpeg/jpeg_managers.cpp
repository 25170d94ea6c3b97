#include "picture/jpeg/jpeg_managers.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <jerror.h>

namespace sorowa::jpeg {
namespace {

// --- error manager -------------------------------------------------------------------------

void ErrorExit(j_common_ptr cinfo) {
    StopDecoding(cinfo, StopReason::LibraryError);
}

// Warnings and trace messages are ignored: a damaged file that the library can still decode
// shows what it decodes.
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}
void FormatMessage(j_common_ptr, char* buffer) {
    buffer[0] = '\0';
}

void ResetErrorManager(j_common_ptr cinfo) {
    cinfo->err->num_warnings = 0;
    cinfo->err->msg_code = 0;
}

// --- source manager ------------------------------------------------------------------------

SourceManager& Source(j_decompress_ptr cinfo) {
    return *reinterpret_cast<SourceManager*>(cinfo->src);
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    SourceManager& source = Source(cinfo);
    const std::size_t count = std::min(kSourceBufferSize, source.size - source.position);
    if (count == 0) {
        if (!source.anyRead) {
            cinfo->err->msg_code = kEmptyInputCode;
            cinfo->err->error_exit(reinterpret_cast<j_common_ptr>(cinfo));
        }
        // The data ended early: an end-of-image marker is supplied, so a truncated file
        // decodes to its end (the missing part grey) instead of failing. truncated-scan.jpg
        // in tests/data/jpeg shows it.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        source.ranOut = true;
        source.buffer[0] = 0xFF;
        source.buffer[1] = JPEG_EOI;
        source.pub.next_input_byte = source.buffer;
        source.pub.bytes_in_buffer = 2;
        return TRUE;
    }
    std::memcpy(source.buffer, source.data + source.position, count);
    source.position += count;
    source.anyRead = true;
    source.pub.next_input_byte = source.buffer;
    source.pub.bytes_in_buffer = count;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    SourceManager& source = Source(cinfo);
    auto remaining = static_cast<std::size_t>(count);
    if (remaining <= source.pub.bytes_in_buffer) {
        source.pub.next_input_byte += remaining;
        source.pub.bytes_in_buffer -= remaining;
        return;
    }
    // Past the buffer: skip in the data itself rather than refilling buffer by buffer.
    remaining -= source.pub.bytes_in_buffer;
    source.pub.bytes_in_buffer = 0;
    const std::size_t inData = std::min(remaining, source.size - source.position);
    source.position += inData;
    remaining -= inData;
    // A skip past the end stops at the supplied end-of-image marker, so the library meets it
    // next instead of skipping it too.
    FillInputBuffer(cinfo);
}

// --- progress manager ----------------------------------------------------------------------

std::int64_t SteadyClockMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void ProgressMonitor(j_common_ptr common) {
    auto cinfo = reinterpret_cast<j_decompress_ptr>(common);
    ProgressManager& progress = *reinterpret_cast<ProgressManager*>(cinfo->progress);
    // A small file can hold thousands of scans, each of which walks the whole image; a real
    // photo has about ten. Checked before anything else, with or without a handler.
    if (cinfo->input_scan_number > progress.maxScans)
        StopDecoding(common, StopReason::TooManyScans);
    if (progress.sink.report == nullptr) return;

    const ProgressFigures figures{progress.pub.pass_counter,
                                  progress.pub.pass_limit,
                                  progress.pub.completed_passes,
                                  progress.pub.total_passes,
                                  static_cast<int>(cinfo->output_scanline),
                                  static_cast<int>(cinfo->output_width),
                                  static_cast<int>(cinfo->output_height)};
    ProgressEvent event{};
    if (!NextProgressReport(progress.throttle, figures, progress.clockMs(), event)) return;
    if (!progress.sink.report(progress.sink.context, event))
        StopDecoding(common, StopReason::HandlerStop);
}

} // namespace

jpeg_error_mgr* InitErrorManager(ErrorManager& manager) {
    jpeg_std_error(&manager.pub);
    manager.pub.error_exit = ErrorExit;
    manager.pub.emit_message = EmitMessage;
    manager.pub.output_message = OutputMessage;
    manager.pub.format_message = FormatMessage;
    manager.pub.reset_error_mgr = ResetErrorManager;
    manager.reason = StopReason::None;
    return &manager.pub;
}

void StopDecoding(j_common_ptr cinfo, StopReason reason) {
    auto& manager = *reinterpret_cast<ErrorManager*>(cinfo->err);
    manager.reason = reason;
    std::longjmp(manager.jump, 1);
}

void AttachSource(j_decompress_ptr cinfo, SourceManager& source, const std::uint8_t* data,
                  std::size_t size) {
    source.data = data;
    source.size = data == nullptr ? 0 : size;
    source.position = 0;
    source.anyRead = false;
    source.ranOut = false;
    source.buffer = static_cast<JOCTET*>(cinfo->mem->alloc_small(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, kSourceBufferSize));
    source.pub.init_source = InitSource;
    source.pub.fill_input_buffer = FillInputBuffer;
    source.pub.skip_input_data = SkipInputData;
    source.pub.resync_to_restart = jpeg_resync_to_restart;
    source.pub.term_source = TermSource;
    source.pub.next_input_byte = nullptr;
    source.pub.bytes_in_buffer = 0;
    cinfo->src = &source.pub;
}

bool NextProgressReport(ProgressThrottle& throttle, const ProgressFigures& figures,
                        std::int64_t nowMs, ProgressEvent& event) {
    if (!throttle.started) {
        throttle.started = true;
        throttle.lastTickMs = nowMs;
        return false;
    }
    if (nowMs - throttle.lastTickMs < 500) return false;
    throttle.lastTickMs = nowMs;

    const double passFraction =
        figures.passLimit > 0 ? static_cast<double>(figures.passCounter) / figures.passLimit : 0;
    const int passes = std::max(figures.totalPasses, 1);
    const int percent =
        static_cast<int>(std::lround((passFraction + figures.completedPasses) * 100.0 / passes));
    if (percent == throttle.lastPercent) return false;
    throttle.lastPercent = percent;

    // A row smaller than the last one means a new pass began: report down to the bottom.
    const int bottom =
        figures.outputScanline < throttle.lastRow ? figures.outputHeight : figures.outputScanline;
    event.percent = percent;
    event.top = throttle.lastRow;
    event.bottom = bottom;
    event.width = figures.outputWidth;
    event.redrawNow = bottom - throttle.lastRow > 3;
    throttle.lastRow = figures.outputScanline;
    return true;
}

void AttachProgress(j_decompress_ptr cinfo, ProgressManager& progress, int maxScans,
                    ProgressSink sink, std::int64_t (*clockMs)()) {
    progress.pub.progress_monitor = ProgressMonitor;
    progress.pub.pass_counter = 0;
    progress.pub.pass_limit = 0;
    progress.pub.completed_passes = 0;
    progress.pub.total_passes = 0;
    progress.maxScans = maxScans;
    progress.sink = sink;
    progress.throttle = ProgressThrottle{false, 0, 0, 0};
    progress.clockMs = clockMs != nullptr ? clockMs : SteadyClockMs;
    cinfo->progress = &progress.pub;
}

} // namespace sorowa::jpeg
