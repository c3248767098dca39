#include "FileLock.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {
constexpr int kMaxPath = 255;

struct flock wholeFile(short type) {
    struct flock record {};
    record.l_type = type;
    record.l_whence = SEEK_SET;
    record.l_start = 0;
    record.l_len = 0;
    return record;
}
}  // namespace

FileLock::FileLock(const String& path, bool shared) {
    open(path, shared);
}

FileLock::~FileLock() {
    close();
}

bool FileLock::open(const String& path, bool shared) {
    close();
    shared_ = shared;
    path_ = path.length() > kMaxPath ? path.substring(0, kMaxPath) : path;
    if (path_.isEmpty()) {
        return false;
    }
    do {
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ >= 0 && shared_) {
        ::fchmod(fd_, 0666);
    }
    return isOpen();
}

void FileLock::lock() {
    if (!isOpen()) {
        return;
    }
    struct flock record = wholeFile(F_WRLCK);
    while (::fcntl(fd_, F_SETLKW, &record) != 0 && errno == EINTR) {
    }
}

int FileLock::unlock() {
    if (!isOpen()) {
        return -1;
    }
    struct flock record = wholeFile(F_UNLCK);
    return ::fcntl(fd_, F_SETLK, &record);
}

int FileLock::close() {
    if (!isOpen()) {
        return -1;
    }
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? 0 : -1;
}

int FileLock::remove() {
    if (!isOpen()) {
        return -1;
    }
    return ::unlink(path_.c_str()) == 0 ? 0 : -1;
}
