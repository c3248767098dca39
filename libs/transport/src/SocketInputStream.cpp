#include "net/SocketInputStream.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Exception.h"
#include "net/ClientSocket.h"

namespace {
constexpr const char kSource[] = "net/SocketInputStream";
constexpr int64_t kSkipPiece = 1024;
}  // namespace

int SocketInputStream::available() {
    checkOpen();
    int count = 0;
    if (socket() == nullptr) {
        throw IOException(std::strerror(EBADF), kSource, __LINE__);
    }
    if (ioctl(socket()->getFD(), FIONREAD, &count) < 0) {
        throw IOException(std::strerror(errno), kSource, __LINE__);
    }
    return count + reader_->buffered();
}

void SocketInputStream::close() {
    setClosed();
}

int SocketInputStream::read() {
    checkOpen();
    return reader_->readByte();
}

int SocketInputStream::read(char* buffer, int length) {
    checkOpen();
    if (socket() == nullptr) {
        return 0;
    }
    return std::max(reader_->read(buffer, length), 0);
}

int64_t SocketInputStream::skip(int64_t count) {
    checkOpen();
    if (socket() == nullptr) {
        return -1;
    }
    char piece[kSkipPiece];
    int64_t skipped = 0;
    while (skipped < count) {
        int wanted = static_cast<int>(std::min(kSkipPiece, count - skipped));
        int got = reader_->read(piece, wanted);
        if (got > 0) {
            skipped += got;
        }
        if (got < wanted) {
            break;
        }
    }
    return skipped;
}
