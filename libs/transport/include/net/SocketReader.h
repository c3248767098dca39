#pragma once

#include <vector>

class ClientSocket;

// Reads a socket (plain or TLS) through a buffer of kCapacity bytes, so that
// callers may take small pieces, or a head byte by byte, at the cost of one
// receive per buffer: a read waits for the socket (and its time-out) only
// when nothing is buffered. The socket is not owned.
class SocketReader {
public:
    static constexpr int kCapacity = 64 * 1024;

    explicit SocketReader(ClientSocket* socket);
    SocketReader(const SocketReader&) = delete;
    SocketReader& operator=(const SocketReader&) = delete;

    // Up to length bytes, from the buffer when it holds any, else from one
    // socket read: the count, 0 at end of stream, a negative socket result
    // passed on, -1 for no socket, no buffer or length < 1.
    int read(char* buffer, int length);
    // One byte (0 to 255), or -1 when none could be read.
    int readByte();
    // Bytes received and not yet taken.
    int buffered() const { return end_ - start_; }
    ClientSocket* socket() const { return socket_; }

private:
    int refill();

    ClientSocket* socket_;
    std::vector<char> buffer_;
    int start_ = 0;
    int end_ = 0;
};
