#include "FdReading.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Exception.h"

namespace {

// Calls read(buffer, length, done) until length bytes are in or it gives 0.
template <class Read>
size_t readAll(uint8_t* buffer, size_t length, Read read) {
    size_t total = 0;
    while (total < length) {
        ssize_t got = read(buffer + total, length - total, total);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw IOException(std::strerror(errno), "delta/FdReading", __LINE__);
        }
        if (got == 0) {
            break;
        }
        total += static_cast<size_t>(got);
    }
    return total;
}

}  // namespace

size_t readUpTo(int fd, uint8_t* buffer, size_t length) {
    return readAll(buffer, length,
                   [fd](uint8_t* to, size_t count, size_t) { return ::read(fd, to, count); });
}

size_t readUpToAt(int fd, uint8_t* buffer, size_t length, uint64_t offset) {
    return readAll(buffer, length, [fd, offset](uint8_t* to, size_t count, size_t done) {
        return ::pread(fd, to, count, static_cast<off_t>(offset + done));
    });
}
