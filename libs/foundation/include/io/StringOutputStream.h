#pragma once

#include "String.h"
#include "io/OutputStream.h"

// Collects every byte written in memory.
class StringOutputStream : public OutputStream {
public:
    StringOutputStream() = default;

    using OutputStream::write;
    // Discards the collected bytes.
    void close() override;
    void write(int byte) override;
    void write(const char* buffer, int length) override;

    // Everything written so far (empty after close).
    const String& getString() const { return bytes_; }
    int size() const { return bytes_.length(); }
    String toString() const override { return bytes_; }

private:
    String bytes_;
};
