#pragma once

#include <vector>

#include "io/FilterOutputStream.h"

// Writes to the wrapped stream (not owned) through a buffer.
class BufferedOutputStream : public FilterOutputStream {
public:
    explicit BufferedOutputStream(OutputStream& out, int size = 2048);
    ~BufferedOutputStream() override;

    using OutputStream::write;
    // Flushes and frees the buffer; the wrapped stream stays open.
    void close() override;
    void flush() override;
    void write(int byte) override;
    void write(const char* buffer, int length) override;

private:
    void flushBuffer();

    std::vector<char> buffer_;
    int count_ = 0;
};
