#pragma once

#include <vector>

#include "io/FilterOutputStream.h"

// Gathers small writes into writes of the buffer's capacity to the wrapped
// stream. flush and close pass on what is buffered; so does the destructor,
// on every way out of the owner's scope, so that what was written reaches
// the wrapped stream even when an exception ends the writing (a failure to
// write then is lost: the exception in flight is the one that counts).
class BufferedOutputStream : public FilterOutputStream {
public:
    static constexpr int kDefaultCapacity = 64 * 1024;

    explicit BufferedOutputStream(OutputStream& out, int capacity = kDefaultCapacity);
    ~BufferedOutputStream() override;

    using FilterOutputStream::write;
    void close() override;
    void flush() override;
    void write(int byte) override;
    void write(const char* buffer, int length) override;

    int buffered() const { return static_cast<int>(buffer_.size()); }

private:
    void drain();

    std::vector<char> buffer_;
    size_t capacity_;
};
