#include "io/BufferedOutputStream.h"

#include <algorithm>
#include <cstring>

#include "Exception.h"

namespace {
constexpr int kDefaultSize = 2048;
}  // namespace

BufferedOutputStream::BufferedOutputStream(OutputStream& out, int size) : FilterOutputStream(out) {
    buffer_.resize(static_cast<size_t>(size > 0 ? size : kDefaultSize));
}

BufferedOutputStream::~BufferedOutputStream() {
    try {
        close();
    } catch (const Exception&) {
        // A destructor cannot report a failed flush.
    }
}

void BufferedOutputStream::flushBuffer() {
    if (count_ > 0) {
        int n = count_;
        count_ = 0;
        out().write(buffer_.data(), n);
    }
}

void BufferedOutputStream::close() {
    if (isClosed()) {
        return;
    }
    // Closed and freed even when the last flush fails.
    int pending = count_;
    count_ = 0;
    std::vector<char> buffer;
    buffer.swap(buffer_);
    setClosed();
    if (pending > 0) {
        out().write(buffer.data(), pending);
    }
}

void BufferedOutputStream::flush() {
    checkOpen();
    flushBuffer();
    out().flush();
}

void BufferedOutputStream::write(int byte) {
    checkOpen();
    buffer_[static_cast<size_t>(count_++)] = static_cast<char>(byte);
    if (count_ == static_cast<int>(buffer_.size())) {
        flushBuffer();
    }
}

void BufferedOutputStream::write(const char* buffer, int length) {
    checkOpen();
    int size = static_cast<int>(buffer_.size());
    if (length <= 0) {
        return;
    }
    if (count_ > 0 || length < size) {
        int n = std::min(length, size - count_);
        std::memcpy(buffer_.data() + count_, buffer, static_cast<size_t>(n));
        count_ += n;
        buffer += n;
        length -= n;
        if (count_ == size) {
            flushBuffer();
        }
    }
    if (length >= size) {
        out().write(buffer, length);
    } else if (length > 0) {
        std::memcpy(buffer_.data(), buffer, static_cast<size_t>(length));
        count_ = length;
    }
}
