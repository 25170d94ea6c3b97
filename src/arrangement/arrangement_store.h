#pragma once
// Where arrangements are kept: one small file per folder in $XDG_STATE_HOME/sorowa (by default
// ~/.local/state/sorowa), named for a hash of the folder's canonical path, which the file holds
// too. A file is replaced whole (a temporary file beside it, synced, renamed over it), so that
// a crash at any moment leaves either the previous arrangement or the new one. A file that
// is damaged, of another folder, or larger than any arrangement the program writes is ignored.
//
// Failures come back as the system's error number; what the user sees is the caller's choice.

#include "arrangement/arrangement.h"

#include <QString>
#include <QStringList>
#include <cstddef>
#include <optional>
#include <vector>

namespace sorowa::arrangement {

// A state file past this size is not read: it is far more than the entries of any folder the
// program can show need.
inline constexpr std::size_t kMaxStateFileBytes = std::size_t{64} << 20;

// $XDG_STATE_HOME/sorowa, or ~/.local/state/sorowa when the variable is unset or not absolute.
QString StateFolder();

// The folder's path with every link resolved, or nullopt when it cannot be resolved.
std::optional<QString> CanonicalFolder(const QString& folder);

// The state file of a folder given by its canonical path.
QString StateFilePath(const QString& canonicalFolder);

// The size and modification time of each of names in folder, in their order. A name that is
// not a regular file (any more) is left out.
std::vector<TArrangedFile> DescribeFiles(const QString& folder, const QStringList& names);

// Replaces the state file of arrangement.folder; 0 or the system's error number. Temporary
// files left by writers that were killed are removed on the way.
int SaveArrangement(const TArrangement& arrangement);

// The arrangement saved for the folder; nullopt when there is none or the file is not one.
std::optional<TArrangement> LoadArrangement(const QString& canonicalFolder);

// Removes the folder's state file; 0 (also when there was none) or the system's error number.
int ForgetArrangement(const QString& canonicalFolder);

} // namespace sorowa::arrangement
