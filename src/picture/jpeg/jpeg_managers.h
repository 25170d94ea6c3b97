#pragma once
// The three managers through which libjpeg talks to this program: the error manager (fatal
// errors leave the library by longjmp), the source manager (reads the picture's bytes in
// memory) and the progress manager (reports, the scan cap and the handler's abort).
//
// Everything here is plain data: these structs live in the frame of the caller of the one
// function that calls libjpeg, so a longjmp never skips a destructor.

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio> // jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>

namespace sorowa::jpeg {

// Why a decode left the library early, beyond the library's own errors.
enum class StopReason : int {
    None = 0,
    LibraryError, // error_exit: the code is in the error manager's msg_code
    TooManyScans, // the progress manager's scan cap
    HandlerStop,  // the progress handler asked to stop (or failed)
};

// The code shown for empty input. libjpeg 6b numbered "empty input" 41 and the message
// "JPEG エラー #41" is what users of this program have always seen for a zero-byte file;
// libjpeg-turbo's own number for it differs, so the source manager raises this one.
inline constexpr int kEmptyInputCode = 41;

struct ErrorManager {
    jpeg_error_mgr pub; // first, so the library's pointer converts back
    std::jmp_buf jump;
    StopReason reason;
};

// Sets up the error manager's routines and returns the library's view of it.
jpeg_error_mgr* InitErrorManager(ErrorManager& manager);
// Leaves the library through the error manager's jump buffer with the given reason.
[[noreturn]] void StopDecoding(j_common_ptr cinfo, StopReason reason);

// The data is handed to the library in pieces of this size. libjpeg-turbo decodes with its
// fast Huffman path only while the piece holds 512 bytes per block of an MCU (3 KB for the
// common 4:2:0 colour): with 4 KB pieces three quarters of a photo went the slow way, at
// about a tenth more time per decode. The outcome is the same at any size.
inline constexpr std::size_t kSourceBufferSize = 65536;

struct SourceManager {
    jpeg_source_mgr pub; // first, so the library's pointer converts back
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position;
    JOCTET* buffer;
    bool anyRead;
    bool ranOut; // the data ended and an end-of-image marker was supplied
};

// Attaches the source manager to data (from its first byte). The buffer comes from
// the library's permanent pool, so destroying the decompressor frees it.
void AttachSource(j_decompress_ptr cinfo, SourceManager& source, const std::uint8_t* data,
                  std::size_t size);

// One progress report as the picture passes it on.
struct ProgressEvent {
    int percent;
    int top, bottom, width; // rows decoded since the last report, left 0
    bool redrawNow;
};

// Where reports go; report returns false when decoding is to stop. It must not throw.
struct ProgressSink {
    void* context;
    bool (*report)(void* context, const ProgressEvent& event);
};

// The state of the 500 ms throttle and of the last report.
struct ProgressThrottle {
    bool started;
    std::int64_t lastTickMs;
    int lastPercent;
    int lastRow;
};

// The library's progress figures at one call of the monitor.
struct ProgressFigures {
    long passCounter, passLimit;
    int completedPasses, totalPasses;
    int outputScanline, outputWidth, outputHeight;
};

// Decides whether a call of the progress monitor at nowMs makes a report, and updates the
// throttle; the first call only records the time.
bool NextProgressReport(ProgressThrottle& throttle, const ProgressFigures& figures,
                        std::int64_t nowMs, ProgressEvent& event);

struct ProgressManager {
    jpeg_progress_mgr pub; // first, so the library's pointer converts back
    int maxScans;          // a decode stops past this many scans
    ProgressSink sink;     // report == nullptr: no reports
    ProgressThrottle throttle;
    std::int64_t (*clockMs)(); // the millisecond tick
};

// clockMs nullptr: the steady clock.
void AttachProgress(j_decompress_ptr cinfo, ProgressManager& progress, int maxScans,
                    ProgressSink sink, std::int64_t (*clockMs)() = nullptr);

} // namespace sorowa::jpeg
