#pragma once

#include <memory>

#include "net/InetAddress.h"
#include "net/SocketAddress.h"
#include "net/SocketException.h"

// Blocking IPv4 TCP client socket. Connect, read and write each wait at most
// the time-out (whole seconds of it; negative = no limit) and report every
// failure as a SocketException whose message begins with an error-code word.
class ClientSocket {
public:
    enum State { kCreated = 0, kConnected = 1, kClosed = 2 };

    explicit ClientSocket(const SocketAddress& remote);
    ClientSocket(const InetAddress& host, int port);
    // Resolves host now; an unresolvable one fails at open.
    ClientSocket(const char* host, int port);
    // Adopts a connected descriptor, which this object never closes.
    explicit ClientSocket(int connectedFd);
    virtual ~ClientSocket();
    ClientSocket(const ClientSocket&) = delete;
    ClientSocket& operator=(const ClientSocket&) = delete;

    // Connects; 0 on success, -1 when not in the created state.
    virtual int open();
    // One send; the count sent (maybe short), -1 for no data or length < 1.
    virtual int write(const char* data, int length);
    // One receive; the count (0 at end of stream, negative results passed
    // on), -1 for no buffer or size < 1.
    virtual int read(char* buffer, int size);
    virtual void close();

    void setTimeout(int milliseconds) { timeout_ = milliseconds; }
    int getTimeout() const { return timeout_; }
    int getFD() const { return fd_; }
    int getState() const { return state_; }
    bool isConnected() const { return state_ == kConnected; }
    const InetAddress* getRemoteAddress() const { return remote_->getInetAddress(); }
    // Null unless connected.
    const InetAddress* getLocalAddress() const;

protected:
    // Waits until fd can be read (or written): > 0 ready, 0 time-out, -1 error
    // (errno set). limitMs < 0 waits without limit; signals do not cut the
    // wait short.
    static int waitFor(int fd, bool forWrite, int limitMs);
    // The time-out as the plain socket applies it: whole seconds.
    int wholeSecondLimit() const;

private:
    void createDescriptor();
    void checkRemote() const;
    bool startConnection();
    void setNonBlocking(bool on);
    void awaitConnection();
    void readLocalAddress();
    int waitOrThrow(bool forWrite, const char* operation);

    int fd_ = -1;
    std::unique_ptr<SocketAddress> remote_;
    std::unique_ptr<SocketAddress> local_;
    int timeout_ = -1;
    bool owned_ = true;
    int state_ = kCreated;
};
