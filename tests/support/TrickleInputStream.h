#pragma once

#include <algorithm>
#include <string>
#include <utility>

#include "io/InputStream.h"

// An input stream that hands out at most chunk bytes per read, as a socket
// may.
class TrickleInputStream : public InputStream {
public:
    TrickleInputStream(std::string data, int chunk) : data_(std::move(data)), chunk_(chunk) {}
    using InputStream::read;
    int available() override { return 0; }
    void close() override { setClosed(); }
    int read() override {
        char c;
        return read(&c, 1) == 1 ? static_cast<unsigned char>(c) : -1;
    }
    int read(char* buffer, int length) override {
        int n = std::min({length, chunk_, static_cast<int>(data_.size() - position_)});
        data_.copy(buffer, static_cast<size_t>(n), position_);
        position_ += static_cast<size_t>(n);
        return n;
    }
    // Bytes handed out so far.
    size_t position() const { return position_; }

private:
    std::string data_;
    int chunk_;
    size_t position_ = 0;
};
