#pragma once

#include "io/InputStream.h"

// Passes every operation to the wrapped stream, which it does not own.
class FilterInputStream : public InputStream {
public:
    explicit FilterInputStream(InputStream& in) : in_(in) {}

    using InputStream::read;
    int available() override { return in_.available(); }
    void close() override { in_.close(); }
    int read() override { return in_.read(); }
    int read(char* buffer, int length) override { return in_.read(buffer, length); }
    int64_t skip(int64_t count) override { return in_.skip(count); }
    bool markSupported() override { return in_.markSupported(); }
    void mark(int readLimit) override { in_.mark(readLimit); }
    void reset() override { in_.reset(); }

protected:
    InputStream& in() { return in_; }

private:
    InputStream& in_;
};
