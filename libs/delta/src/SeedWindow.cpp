#include "SeedWindow.h"

#include <algorithm>
#include <cstring>

#include "FdReading.h"

SeedWindow::SeedWindow(int fd, size_t keep, size_t capacity)
    : fd_(fd), keep_(keep), buffer_(capacity) {}

void SeedWindow::refill(uint64_t position) {
    uint64_t keepFrom = std::min(position, end() - std::min(filled_, keep_));
    size_t dropped = static_cast<size_t>(keepFrom - start_);
    std::memmove(buffer_.data(), buffer_.data() + dropped, filled_ - dropped);
    start_ = keepFrom;
    filled_ -= dropped;
    size_t want = buffer_.size() - filled_;
    size_t got = readUpToAt(fd_, buffer_.data() + filled_, want, end());
    filled_ += got;
    atEnd_ = got < want;
}

void SeedWindow::readToEnd() {
    while (!atEnd_) {
        refill(end());
    }
}

const uint8_t* SeedWindow::tail(size_t length) const {
    return length <= filled_ ? at(end() - length) : nullptr;
}
