#pragma once

#include <cstddef>
#include <cstdint>

// The rsync-style weak sum of a window of bytes x_0 .. x_{L-1}:
// a = sum of x_i, b = sum of (L - i) * x_i, both mod 2^16, sum = b << 16 | a.
// Sliding the window by one byte costs a few additions. The counters wrap
// mod 2^32, which keeps them right mod 2^16.
class RollingChecksum {
public:
    explicit RollingChecksum(uint32_t windowLength) : length_(windowLength) {}

    // Starts over with the window at data (windowLength bytes).
    void init(const uint8_t* data) {
        a_ = 0;
        b_ = 0;
        for (uint32_t i = 0; i < length_; ++i) {
            a_ += data[i];
            b_ += a_;
        }
    }
    // Slides the window one byte on: out leaves at the front, in joins at the back.
    void roll(uint8_t out, uint8_t in) {
        a_ += static_cast<uint32_t>(in) - out;
        b_ += a_ - length_ * out;
    }
    uint32_t value() const { return (b_ & 0xffff) << 16 | (a_ & 0xffff); }

    // The sum of length bytes at data.
    static uint32_t of(const uint8_t* data, size_t length) {
        RollingChecksum sum(static_cast<uint32_t>(length));
        sum.init(data);
        return sum.value();
    }

private:
    uint32_t length_;
    uint32_t a_ = 0;
    uint32_t b_ = 0;
};
