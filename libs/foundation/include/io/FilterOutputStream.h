#pragma once

#include "io/OutputStream.h"

// Passes every operation to the wrapped stream, which it does not own.
class FilterOutputStream : public OutputStream {
public:
    explicit FilterOutputStream(OutputStream& out) : out_(out) {}

    using OutputStream::write;
    void close() override { out_.close(); }
    void flush() override { out_.flush(); }
    void write(int byte) override { out_.write(byte); }
    void write(const char* buffer, int length) override { out_.write(buffer, length); }

protected:
    OutputStream& out() { return out_; }

private:
    OutputStream& out_;
};
