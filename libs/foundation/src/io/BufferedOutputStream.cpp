#include "io/BufferedOutputStream.h"

#include "Exception.h"

BufferedOutputStream::BufferedOutputStream(OutputStream& out, int capacity)
    : FilterOutputStream(out), capacity_(capacity > 0 ? static_cast<size_t>(capacity) : 1) {
    buffer_.reserve(capacity_);
}

BufferedOutputStream::~BufferedOutputStream() {
    try {
        drain();
    } catch (const Exception&) {
        // Nothing to report to from a destructor; see the class comment.
    }
}

void BufferedOutputStream::close() {
    if (isClosed()) {
        return;
    }
    drain();
    setClosed();
    out().close();
}

void BufferedOutputStream::flush() {
    checkOpen();
    drain();
    out().flush();
}

void BufferedOutputStream::write(int byte) {
    char c = static_cast<char>(byte);
    write(&c, 1);
}

void BufferedOutputStream::write(const char* buffer, int length) {
    checkOpen();
    if (buffer == nullptr || length <= 0) {
        return;
    }
    const auto count = static_cast<size_t>(length);
    if (buffer_.size() + count > capacity_) {
        drain();
    }
    if (count >= capacity_) {
        out().write(buffer, length);
        return;
    }
    buffer_.insert(buffer_.end(), buffer, buffer + count);
}

void BufferedOutputStream::drain() {
    if (buffer_.empty() || out().isClosed()) {
        return;
    }
    // Emptied even when the write fails: those bytes are not tried again.
    struct Clear {
        std::vector<char>& bytes;
        ~Clear() { bytes.clear(); }
    } clear{buffer_};
    out().write(buffer_.data(), static_cast<int>(buffer_.size()));
}
