#include "RotationFileLog.h"

#include <cstdio>
#include <cstdlib>

#include "Utils.h"
#include "io/File.h"

namespace {
constexpr int64_t kKiB = 1024;  // so that a limit in bytes fits on 32-bit systems too

// The lock file is created with 0600 when missing, then widened to 0666 so
// that processes of other users can take the lock too.
void openLockFile(FileLock& lock, const String& path) {
    if (!lock.isOpen()) {
        lock.open(path, true);
    }
}

// The numeric suffix k of name ".k", or -1.
long rotationSuffix(const String& name) {
    int dot = name.lastIndexOf('.');
    String suffix = dot < 0 ? String() : name.substring(dot + 1);
    if (!isNumber(suffix.c_str())) {
        return -1;
    }
    return std::strtol(suffix.c_str(), nullptr, 10);
}

String rotatedName(const String& name, long suffix) {
    return name + "." + String().append(suffix);
}

bool isRotatedFileOf(const String& entry, const String& base) {
    return entry == base || (entry.startsWith(base.view()) && entry.length() > base.length() + 1 &&
                             entry.charAt(base.length()) == '.' &&
                             isNumber(entry.substring(base.length() + 1).c_str()));
}
}  // namespace

RotationFileLog::RotationFileLog(const String& path) {
    open(path);
}

int RotationFileLog::sizeLimit() const {
    return Log::getMaxLogSize();
}

int RotationFileLog::rotatedFileCount() const {
    return Log::getRotatedFileCount();
}

bool RotationFileLog::open(const String& path) {
    if (path != getFileName()) {
        // Writers of the new file serialise on its own lock files.
        writeLock_.close();
        rotationLock_.close();
    }
    bool opened = FileLog::open(path);
    if (opened) {
        String base = File(path).getName();
        openLockFile(writeLock_, String("/tmp/") + base + ".lock");
        openLockFile(rotationLock_, String("/tmp/") + base + ".rlock");
    }
    return opened;
}

void RotationFileLog::lock() {
    writeLock_.lock();
    long limit = sizeLimit();
    if (limit > 0 && File(getFileName()).length() >= limit * kKiB) {
        rotate();
    }
    open(getFileName());
}

void RotationFileLog::unlock() {
    long limit = sizeLimit();
    if (limit > 0 && File(getFileName()).length() >= (limit - 2) * kKiB) {
        closeStream();
    }
    writeLock_.unlock();
}

// Called with the write lock held.
void RotationFileLog::rotate() {
    const String& name = getFileName();
    closeStream();
    if (File(name).length() > sizeLimit() * kKiB) {
        // Under the rotation lock, so that a ".0" left by a process that has
        // not shifted it yet is shifted first instead of overwritten.
        rotationLock_.lock();
        shiftPending();
        std::rename(name.c_str(), rotatedName(name, 0).c_str());
        rotationLock_.unlock();
    }
    open(name);
    writeLock_.unlock();
    rotationLock_.lock();
    shiftPending();
    rotationLock_.unlock();
    writeLock_.lock();
}

void RotationFileLog::shiftPending() {
    String pending = rotatedName(getFileName(), 0);
    if (File(pending).exists()) {
        shift(pending);
    }
}

void RotationFileLog::shift(const String& rotated) {
    String next = nextRotatedName(rotated);
    if (next == rotated) {
        return;
    }
    if (File(next).exists()) {
        shift(next);
    }
    std::rename(rotated.c_str(), next.c_str());
}

String RotationFileLog::nextRotatedName(const String& name) {
    long suffix = rotationSuffix(name);
    if (suffix < 0) {
        return name;
    }
    String base = name.substring(0, name.lastIndexOf('.'));
    long count = rotatedFileCount();
    if (suffix + 1 > count) {
        String oldest = rotatedName(base, count);
        File(oldest).remove();
        return oldest;
    }
    return rotatedName(base, suffix + 1);
}

void RotationFileLog::trim(int sizeKiB) {
    long limit = sizeLimit();
    if (limit <= 0 || sizeKiB < 0) {
        return;
    }
    for (long suffix = sizeKiB / limit + 1;; ++suffix) {
        File rotated(rotatedName(getFileName(), suffix));
        if (!rotated.exists()) {
            break;
        }
        rotated.remove();
    }
}

// Only the log and its numbered files go: the lock files, which may share
// the directory and the prefix, stay in place for the other processes.
void RotationFileLog::reset() {
    closeStream();
    if (getFileName().isEmpty()) {
        return;
    }
    File log(getFileName());
    String directory = log.getParent().isEmpty() ? String(".") : log.getParent();
    String base = log.getName();
    Vector<String> entries;
    File(directory).list(entries);
    for (const String& entry : entries) {
        if (isRotatedFileOf(entry, base)) {
            File(directory, entry).remove();
        }
    }
}
