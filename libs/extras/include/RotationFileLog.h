#pragma once

#include "FileLock.h"
#include "FileLog.h"

// A file log that several processes may append to, rotated to name + ".1"
// (newest) ... name + "." + count (oldest) when it reaches its size limit.
// Writers serialise on "/tmp/<base name>.lock"; renaming the rotated files
// is serialised on "/tmp/<base name>.rlock".
class RotationFileLog : public FileLog {
public:
    RotationFileLog() = default;
    explicit RotationFileLog(const String& path);

    // Closes and deletes the log file and all its rotated files.
    void reset() override;
    // Deletes the rotated files beyond sizeKiB worth of log.
    void trim(int sizeKiB) override;
    // Takes the write lock, rotates when the file is full, and reopens the
    // file when another process rotated it.
    void lock() override;
    // Closes the file when nearly full, then releases the write lock.
    void unlock() override;
    // FileLog::open, then the lock files of path (taken again only when the
    // log moves to another file).
    bool open(const String& path) override;
    // name ".k" -> name ".(k+1)", or name "." + count (deleted first) when
    // k + 1 exceeds the count; a name without a numeric suffix unchanged.
    virtual String nextRotatedName(const String& name);

protected:
    // Size limit in KiB (0: never rotate) and highest rotation suffix.
    virtual int sizeLimit() const;
    virtual int rotatedFileCount() const;

private:
    void rotate();
    void shift(const String& rotated);
    void shiftPending();

    FileLock writeLock_;
    FileLock rotationLock_;
};
