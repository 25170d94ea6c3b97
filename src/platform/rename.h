#pragma once
// Renaming one file without ever replacing what already holds the new name.
//
// The batch rename hands every file straight to its new name, and the folder may hold, or
// another program may create at that very moment, a file or folder of that name. Whatever
// holds the new name must survive: the rename then fails and says why. The order of attempts:
//   1. renameat2 with RENAME_NOREPLACE: atomic, and what ext4, tmpfs, xfs, btrfs and overlayfs do.
//   2. Where the file system refuses the flag (EINVAL, e.g. FAT and some FUSE drivers):
//      link the new name, then unlink the old one. link never replaces.
//   3. Where link is refused too (EPERM, e.g. FAT): take the new name with an exclusive create,
//      then rename(2) the file over that empty placeholder, and remove the placeholder again if
//      that rename fails.
// Never rename(2) over a name that is not ours, never "check, then rename", never copy and
// delete. A new name equal to the current one succeeds without touching the file; a name that
// differs only in letter case and names the same file (a case-insensitive folder) renames it.
// tests/platform/no_replace_rename_test.cpp shows each of these, races and FAT included.

#include <QString>

namespace sorowa::platform {

// Which way a rename went (or, after a failure, the last way that was tried).
enum class RenameRoute {
    kNothingDone, // the new name was the current name (or an alias of it): nothing to do
    kRenameNoReplace,
    kLinkUnlink,
    kReservation,
    kCaseOnly, // same file, other letter case, on a case-insensitive folder
};

struct RenameResult {
    bool ok = false;
    int error = 0;              // the system's error number (errno) when !ok, else 0
    bool sourceMissing = false; // after a failure: the old name no longer exists
    RenameRoute route = RenameRoute::kNothingDone;
};

// Renames the file oldPath to newPath (normally in the same folder) and never replaces an
// existing file, folder or symbolic link at newPath, not even one created by another program
// while this runs. Names are held as QString and turned into their bytes with
// EncodeFileName, so names that are not valid UTF-8 keep their bytes. A folder can be renamed
// too, except on file systems that need the placeholder (a placeholder is a file).
RenameResult RenameFileNoReplace(const QString& oldPath, const QString& newPath);

const char* RenameRouteName(RenameRoute route);

// The system calls the rename goes through. Tests replace single entries to take the
// fallback routes on file systems that do not need them and to step into the gaps between
// two calls; the program always uses DefaultRenameSystemCalls().
// Each call takes its paths relative to the folder descriptor it is given (AT_FDCWD for the
// path forms).
struct RenameSystemCalls {
    int (*renameNoReplace)(int dir, const char* from, const char* to); // renameat2(NOREPLACE)
    int (*link)(int dir, const char* from, const char* to);
    int (*unlink)(int dir, const char* path);
    int (*createExclusive)(int dir, const char* path);        // openat(O_CREAT|O_EXCL); an fd or -1
    int (*rename)(int dir, const char* from, const char* to); // renameat, only over our placeholder
};

const RenameSystemCalls& DefaultRenameSystemCalls();
RenameResult RenameFileNoReplace(const QString& oldPath, const QString& newPath,
                                 const RenameSystemCalls& calls);

// The same for two entries of one open folder (folder: a descriptor, see folder_handle.h), so
// that the rename reaches that folder whatever its path names by now.
RenameResult RenameEntryNoReplace(int folder, const QString& oldName, const QString& newName,
                                  const RenameSystemCalls& calls = DefaultRenameSystemCalls());

} // namespace sorowa::platform
