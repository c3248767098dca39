#include "io/InputStream.h"

#include <algorithm>

#include "Exception.h"

namespace {
constexpr const char kSource[] = "io/InputStream";
constexpr const char kClosedSource[] = "io/InputStream.H";
constexpr int64_t kSkipChunk = 512;

[[noreturn]] void unimplemented(int line) {
    throw IOException("Unimplemented", kSource, line);
}
}  // namespace

void InputStream::checkOpen() const {
    if (closed_) {
        throw IOException("Stream is already closed", kClosedSource, __LINE__);
    }
}

int InputStream::available() {
    unimplemented(__LINE__);
}

void InputStream::close() {
    unimplemented(__LINE__);
}

int InputStream::read() {
    unimplemented(__LINE__);
}

int InputStream::read(char* buffer, int length) {
    checkOpen();
    int count = 0;
    while (count < length) {
        int byte = read();
        if (byte < 0) {
            break;
        }
        buffer[count++] = static_cast<char>(byte);
    }
    return count;
}

int64_t InputStream::skip(int64_t count) {
    checkOpen();
    char chunk[kSkipChunk];
    int64_t skipped = 0;
    while (skipped < count) {
        int n = read(chunk, static_cast<int>(std::min(kSkipChunk, count - skipped)));
        if (n <= 0) {
            break;
        }
        skipped += n;
    }
    return skipped;
}

bool InputStream::markSupported() {
    checkOpen();
    return false;
}

void InputStream::mark(int) {
    checkOpen();
}

void InputStream::reset() {
    checkOpen();
}
