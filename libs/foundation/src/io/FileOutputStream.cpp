#include "io/FileOutputStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Exception.h"

namespace {
constexpr const char kSource[] = "io/OutputStream";

int openFlags(int mode) {
    switch (mode) {
        case FileOutputStream::kTruncate:
            return O_WRONLY | O_CREAT | O_TRUNC;
        case FileOutputStream::kAppend:
            return O_WRONLY | O_APPEND;
        case FileOutputStream::kCreateAppend:
            return O_WRONLY | O_CREAT | O_APPEND;
        default:
            return O_WRONLY;
    }
}

[[noreturn]] void failErrno(int line) {
    throw IOException(strerror(errno), kSource, line);
}
}  // namespace

FileOutputStream::FileOutputStream(const String& path, int mode) {
    do {
        fd_ = ::open(path.c_str(), openFlags(mode) | O_CLOEXEC, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        setClosed();
        throw IOException(path + ": " + strerror(errno), kSource, __LINE__);
    }
}

FileOutputStream::FileOutputStream(int fd) : fd_(fd) {}

FileOutputStream::~FileOutputStream() {
    try {
        close();
    } catch (const Exception&) {
        // A destructor cannot report it; the descriptor is released anyway.
    }
}

FileOutputStream& FileOutputStream::standardError() {
    static FileOutputStream stream(STDERR_FILENO);
    return stream;
}

void FileOutputStream::close() {
    if (isClosed()) {
        return;
    }
    setClosed();
    int fd = fd_;
    fd_ = -1;
    bool standard = fd == STDOUT_FILENO || fd == STDERR_FILENO;
    if (fd >= 0 && !standard && ::close(fd) != 0) {
        failErrno(__LINE__);
    }
}

void FileOutputStream::write(int byte) {
    char c = static_cast<char>(byte);
    write(&c, 1);
}

void FileOutputStream::write(const char* buffer, int length) {
    checkOpen();
    if (length <= 0) {
        return;
    }
    ssize_t n;
    do {
        n = ::write(fd_, buffer, static_cast<size_t>(length));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        failErrno(__LINE__);
    }
    if (n != length) {
        throw IOException(String("short write: ").append(static_cast<long>(n)) + " of " +
                              String().append(length) + " bytes",
                          kSource, __LINE__);
    }
}
