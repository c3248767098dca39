#pragma once

#include <vector>

#include "io/FilterInputStream.h"

// Reads the wrapped stream (not owned) through a buffer; supports mark and
// reset, growing the buffer up to the mark limit to keep the marked bytes.
class BufferedInputStream : public FilterInputStream {
public:
    explicit BufferedInputStream(InputStream& in, int size = 2048);
    ~BufferedInputStream() override;

    using InputStream::read;
    int available() override;
    // Frees the buffer; the wrapped stream stays open.
    void close() override;
    int read() override;
    int read(char* buffer, int length) override;
    int64_t skip(int64_t count) override;
    bool markSupported() override;
    void mark(int readLimit) override;
    void reset() override;

private:
    void fill();
    // Forgets the mark and shrinks a grown buffer back to its initial size.
    void dropMark();
    int buffered() const { return count_ - position_; }

    std::vector<char> buffer_;
    int position_ = 0;
    int count_ = 0;
    int initialSize_;
    int markPosition_ = -1;
    int markLimit_ = 0;
};
