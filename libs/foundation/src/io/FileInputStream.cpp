#include "io/FileInputStream.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "Exception.h"

namespace {
constexpr const char kSource[] = "io/InputStream";

[[noreturn]] void fail(const String& prefix, int line) {
    throw IOException(prefix + strerror(errno), kSource, line);
}

[[noreturn]] void failErrno(int line) {
    fail(String(), line);
}
}  // namespace

FileInputStream::FileInputStream(const String& path) {
    do {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        setClosed();
        fail(path + ": ", __LINE__);
    }
}

FileInputStream::FileInputStream(int fd) : fd_(fd) {}

FileInputStream::~FileInputStream() {
    if (!isClosed() && fd_ >= 0) {
        ::close(fd_);
    }
}

bool FileInputStream::isStreamLike() {
    struct stat status {};
    if (fstat(fd_, &status) != 0) {
        failErrno(__LINE__);
    }
    return S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode) || S_ISSOCK(status.st_mode);
}

int FileInputStream::available() {
    checkOpen();
    if (fd_ < 0) {
        errno = EBADF;
        failErrno(__LINE__);
    }
    if (isStreamLike()) {
        int waiting = 0;
        if (ioctl(fd_, FIONREAD, &waiting) != 0) {
            failErrno(__LINE__);
        }
        return waiting;
    }
    off_t current = lseek(fd_, 0, SEEK_CUR);
    off_t end = current < 0 ? -1 : lseek(fd_, 0, SEEK_END);
    if (end < 0 || lseek(fd_, current, SEEK_SET) < 0) {
        failErrno(__LINE__);
    }
    // A count beyond the int range is reported as the largest int.
    return static_cast<int>(std::clamp<off_t>(end - current, 0, INT_MAX));
}

void FileInputStream::close() {
    if (isClosed()) {
        return;
    }
    setClosed();
    if (fd_ >= 0 && ::close(fd_) != 0) {
        fd_ = -1;
        failErrno(__LINE__);
    }
    fd_ = -1;
}

int FileInputStream::read() {
    unsigned char byte = 0;
    int n = read(reinterpret_cast<char*>(&byte), 1);
    return n == 1 ? byte : -1;
}

int FileInputStream::read(char* buffer, int length) {
    checkOpen();
    if (length <= 0) {
        return 0;
    }
    ssize_t n;
    do {
        n = ::read(fd_, buffer, static_cast<size_t>(length));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        failErrno(__LINE__);
    }
    return static_cast<int>(n);
}

int64_t FileInputStream::skip(int64_t count) {
    checkOpen();
    if (count <= 0) {
        return 0;
    }
    if (lseek(fd_, count, SEEK_CUR) < 0) {
        if (errno != ESPIPE) {
            failErrno(__LINE__);
        }
        // A pipe or socket cannot seek: read through instead.
        return InputStream::skip(count);
    }
    return count;
}

bool FileInputStream::markSupported() {
    checkOpen();
    return !isStreamLike();
}

void FileInputStream::mark(int) {
    checkOpen();
    off_t position = lseek(fd_, 0, SEEK_CUR);
    if (position < 0) {
        throw IOException(String("File::mark: ") + strerror(errno) + ", possibly non-seekable fd",
                          kSource, __LINE__);
    }
    markedPosition_ = position;
}

void FileInputStream::reset() {
    checkOpen();
    if (markedPosition_ < 0) {
        throw IOException("No mark set", kSource, __LINE__);
    }
    if (lseek(fd_, markedPosition_, SEEK_SET) < 0) {
        failErrno(__LINE__);
    }
}
