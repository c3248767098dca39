#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The seed file read once from its start through a bounded buffer. The
// caller asks for byte ranges at rising offsets; the bytes before the
// earliest range asked for are dropped, except the last `keep` bytes read,
// so that the seed's tail is at hand once it has been read to its end.
class SeedWindow {
public:
    SeedWindow(int fd, size_t keep, size_t capacity);

    // Whether [position, position + length) is held, reading on when it is
    // not yet. position never goes back; length + keep at most capacity.
    bool hold(uint64_t position, size_t length) {
        while (position + length > end() && !atEnd_) {
            refill(position);
        }
        return position + length <= end();
    }
    // The byte at position, held.
    const uint8_t* at(uint64_t position) const { return buffer_.data() + (position - start_); }
    // The offset after the last byte read.
    uint64_t end() const { return start_ + filled_; }

    // Reads the rest of the seed, keeping only its tail.
    void readToEnd();
    // The last length bytes of the seed (length at most keep), null when the
    // seed is shorter; once read to the end.
    const uint8_t* tail(size_t length) const;

private:
    void refill(uint64_t position);

    int fd_;
    size_t keep_;
    std::vector<uint8_t> buffer_;
    uint64_t start_ = 0;  // the seed offset of buffer_[0]
    size_t filled_ = 0;
    bool atEnd_ = false;
};
