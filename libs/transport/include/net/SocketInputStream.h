#pragma once

#include <memory>

#include "io/InputStream.h"
#include "net/SocketReader.h"

class ClientSocket;

// The body of a response: reads the connection's socket, which it does not
// own, through a buffer (what the head's reads left in it comes first).
// Socket failures pass through unchanged.
class SocketInputStream : public InputStream {
public:
    explicit SocketInputStream(ClientSocket* socket)
        : reader_(std::make_unique<SocketReader>(socket)) {}
    explicit SocketInputStream(std::unique_ptr<SocketReader> reader) : reader_(std::move(reader)) {}

    using InputStream::read;
    int available() override;
    // Marks the stream closed; the socket stays open.
    void close() override;
    // One byte (0 to 255), or -1 when none could be read.
    int read() override;
    // Buffered bytes, or else one socket read; 0 at end of stream or on a
    // socket error.
    int read(char* buffer, int length) override;
    int64_t skip(int64_t count) override;
    bool markSupported() override { return false; }
    void mark(int) override {}
    void reset() override {}

private:
    ClientSocket* socket() const { return reader_->socket(); }

    std::unique_ptr<SocketReader> reader_;
};
