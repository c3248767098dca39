#pragma once

#include <fcntl.h>

#include "String.h"

// Exclusive lock between processes, held as a POSIX record lock over the
// whole of a lock file. Record locks belong to the process: two FileLocks
// of one process on one file do not exclude each other. A lock file that
// cannot be opened leaves the object closed, and lock then does nothing.
class FileLock : public LmObject {
public:
    FileLock() = default;
    // Runs open(path, shared).
    explicit FileLock(const String& path, bool shared = false);
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock() override;

    // Closes a held descriptor, then opens path (cut to 255 characters)
    // read-write, created with permission bits 0600 when absent; a shared
    // lock file gets 0666 so that other users can lock it. An empty path
    // leaves the lock closed. True when open.
    bool open(const String& path, bool shared = false);
    bool isOpen() const { return fd_ >= 0; }
    // Waits until the lock is granted; nothing when not open.
    void lock();
    // The record-lock call's result, or -1 when not open.
    int unlock();
    // Closes the descriptor, which also releases the lock: 0, or -1 when
    // not open or closing failed.
    int close();
    // Unlinks the lock file: 0, or -1 when not open or unlinking failed.
    int remove();

    const String& getPath() const { return path_; }

private:
    int fd_ = -1;
    String path_;
    bool shared_ = false;
};
