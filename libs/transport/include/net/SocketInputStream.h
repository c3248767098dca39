#pragma once

#include "io/InputStream.h"

class ClientSocket;

// The body of a response: reads straight from the connection's socket,
// which it does not own. Socket failures pass through unchanged.
class SocketInputStream : public InputStream {
public:
    explicit SocketInputStream(ClientSocket* socket) : socket_(socket) {}

    using InputStream::read;
    int available() override;
    // Marks the stream closed; the socket stays open.
    void close() override;
    // One byte (0 to 255), or -1 when none could be read.
    int read() override;
    // One socket read; 0 at end of stream or on a socket error.
    int read(char* buffer, int length) override;
    int64_t skip(int64_t count) override;
    bool markSupported() override { return false; }
    void mark(int) override {}
    void reset() override {}

private:
    ClientSocket* socket_;
};
