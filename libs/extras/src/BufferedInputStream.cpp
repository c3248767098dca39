#include "io/BufferedInputStream.h"

#include <algorithm>
#include <cstring>

#include "Exception.h"

namespace {
constexpr const char kSource[] = "io/InputStream";
constexpr int kDefaultSize = 2048;
constexpr int64_t kSkipChunk = 1024;

// Whether the wrapped stream has bytes that can be read without blocking;
// a stream that cannot tell counts as having none.
bool moreWaiting(InputStream& in) {
    try {
        return in.available() > 0;
    } catch (const IOException&) {
        return false;
    }
}
}  // namespace

BufferedInputStream::BufferedInputStream(InputStream& in, int size)
    : FilterInputStream(in), initialSize_(size > 0 ? size : kDefaultSize) {
    buffer_.resize(static_cast<size_t>(initialSize_));
}

BufferedInputStream::~BufferedInputStream() = default;

void BufferedInputStream::dropMark() {
    markPosition_ = -1;
    position_ = count_ = 0;
    buffer_.resize(static_cast<size_t>(initialSize_));
}

// Makes room behind the buffered bytes, keeping those since the mark while
// the mark limit allows, then reads once from the wrapped stream.
void BufferedInputStream::fill() {
    int size = static_cast<int>(buffer_.size());
    if (markPosition_ < 0) {
        position_ = count_ = 0;
    } else if (position_ - markPosition_ > markLimit_) {
        dropMark();
    } else if (markPosition_ == 0 && count_ == size) {
        int grown = std::min(size * 2, markLimit_);
        if (grown > size) {
            buffer_.resize(static_cast<size_t>(grown));
        } else {
            // The mark limit is used up: no byte more can be kept for reset.
            dropMark();
        }
    } else if (markPosition_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + markPosition_,
                     static_cast<size_t>(count_ - markPosition_));
        position_ -= markPosition_;
        count_ -= markPosition_;
        markPosition_ = 0;
    }
    int free = static_cast<int>(buffer_.size()) - count_;
    int n = in().read(buffer_.data() + count_, free);
    if (n > 0) {
        count_ += n;
    }
}

int BufferedInputStream::available() {
    checkOpen();
    return buffered() + in().available();
}

void BufferedInputStream::close() {
    if (isClosed()) {
        return;
    }
    setClosed();
    std::vector<char>().swap(buffer_);
    position_ = count_ = 0;
    markPosition_ = -1;
}

int BufferedInputStream::read() {
    checkOpen();
    if (buffered() <= 0) {
        fill();
        if (buffered() <= 0) {
            return -1;
        }
    }
    return static_cast<unsigned char>(buffer_[static_cast<size_t>(position_++)]);
}

int BufferedInputStream::read(char* buffer, int length) {
    checkOpen();
    int total = 0;
    while (total < length) {
        if (buffered() <= 0) {
            // Once some bytes are in hand, do not block for more.
            if (total > 0 && !moreWaiting(in())) {
                break;
            }
            fill();
            if (buffered() <= 0) {
                break;
            }
        }
        int n = std::min(buffered(), length - total);
        std::memcpy(buffer + total, buffer_.data() + position_, static_cast<size_t>(n));
        position_ += n;
        total += n;
    }
    return total;
}

int64_t BufferedInputStream::skip(int64_t count) {
    checkOpen();
    if (count <= 0) {
        return 0;
    }
    int64_t skipped = std::min(static_cast<int64_t>(buffered()), count);
    position_ += static_cast<int>(skipped);
    if (skipped == count) {
        return skipped;
    }
    if (markPosition_ < 0) {
        return skipped + in().skip(count - skipped);
    }
    // Read through the buffer so that reset can still return to the mark.
    while (skipped < count) {
        if (buffered() <= 0) {
            fill();
            if (buffered() <= 0) {
                break;
            }
        }
        int64_t n = std::min({static_cast<int64_t>(buffered()), count - skipped, kSkipChunk});
        position_ += static_cast<int>(n);
        skipped += n;
    }
    return skipped;
}

bool BufferedInputStream::markSupported() {
    checkOpen();
    return true;
}

void BufferedInputStream::mark(int readLimit) {
    checkOpen();
    markLimit_ = readLimit;
    markPosition_ = position_;
}

void BufferedInputStream::reset() {
    checkOpen();
    if (markPosition_ < 0) {
        throw IOException("No mark was set", kSource, __LINE__);
    }
    position_ = markPosition_;
}
