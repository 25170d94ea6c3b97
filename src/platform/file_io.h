#pragma once
// Small pieces of writing files safely that several small files of the program share (the
// settings file, the saved arrangements, the rename journal). Each returns 0 or the system's
// error number; the caller decides what the user sees.

#include <string>
#include <string_view>

namespace sorowa::platform {

// A descriptor closed when it goes.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }
    // Closes now and reports the result; close can be where a delayed write error shows.
    int Close();

private:
    int fd_;
};

// Writes all of bytes, again after interruptions; a write that takes nothing is ENOSPC.
int WriteAll(int fd, std::string_view bytes);

// Makes the entries of folder (a file renamed into it) last.
int SyncFolder(const std::string& folder);

} // namespace sorowa::platform
