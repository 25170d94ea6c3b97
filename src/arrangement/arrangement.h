#pragma once
// An arrangement: the order the user gave the pictures of one folder, kept so that it outlives
// the window (a crash, a closed folder, the end of the program). Each file is remembered by its
// name with its size and modification time, so that a file that is no longer the one arranged
// is recognised.
//
// This header holds the pure parts: the restore rule and the text form of the state file.
// Reading and writing the file is in arrangement_store.h.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorowa::arrangement {

struct TArrangedFile {
    QString name; // a plain name within the folder
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0; // modification time, nanoseconds since the epoch
    bool operator==(const TArrangedFile&) const = default;
};

struct TArrangement {
    QString folder; // the folder's canonical path
    std::vector<TArrangedFile> files;
    bool operator==(const TArrangement&) const = default;
};

// The order to number the folder's files in. present is the folder as listed now, in name
// order. The saved files that are still there come first, in the saved order; then every other
// file, in name order. A saved file is still there only when a present file has its name, its
// size and its modification time: a name that now holds another size or time is treated as a
// file added since (it goes to the end), because what was placed by eye was the picture, and a
// file rewritten or swapped under that name may be another picture.
// (tests/arrangement/arrangement_test.cpp, RestoreRules.)
QStringList RestoredOrder(const std::vector<TArrangedFile>& saved,
                          const std::vector<TArrangedFile>& present);

// The names of present, in their order.
QStringList NamesOf(const std::vector<TArrangedFile>& files);

// The state file's text. Names and the folder are written as their bytes, with "%", control
// bytes and DEL as "%XX", so that any name fits on one line.
std::string FormatArrangement(const TArrangement& arrangement);

// Why a text is not an arrangement.
enum class TParseError {
    kHeader,       // not the first line of a state file of this version
    kFolder,       // no folder line, or a folder that is not an absolute path
    kEntry,        // an entry line that is not "size time name"
    kName,         // a name that is empty, ".", "..", or holds "/" or a NUL
    kDuplicate,    // the same name twice
    kEnd,          // no end line, or one whose count is not the number of entries
    kTrailingText, // anything after the end line
};

struct TParseResult {
    std::optional<TArrangement> arrangement;
    TParseError error = TParseError::kHeader; // when there is no arrangement
};

// Strict: anything but the exact form FormatArrangement writes is refused.
TParseResult ParseArrangement(std::string_view text);

} // namespace sorowa::arrangement
