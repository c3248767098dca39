#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "net/InetAddress.h"
#include "net/SocketAddress.h"
#include "net/SocketException.h"

// Blocking TCP client socket over IPv4 or IPv6. Connect, read and write each
// wait at most the time-out (whole seconds of it; negative = no limit) and
// report every failure as a SocketException whose message begins with an
// error-code word. A host name that resolves to several addresses gives up
// to kMaxAddresses of them, tried in the resolver's order, each connect
// bounded by the time-out; the last failure is the one raised.
class ClientSocket {
public:
    enum State { kCreated = 0, kConnected = 1, kClosed = 2 };

    static constexpr size_t kMaxAddresses = 3;

    explicit ClientSocket(const SocketAddress& remote);
    ClientSocket(const InetAddress& host, int port);
    // Resolves host now (a name, a dotted number, an IPv6 literal bare or in
    // brackets); an unresolvable one fails at open.
    ClientSocket(const char* host, int port);
    // Tries the first kMaxAddresses of addresses in order; none: fails at
    // open as an unresolvable host.
    explicit ClientSocket(const std::vector<SocketAddress>& addresses);
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
    // Bounds all further reads together: each waits at most until
    // milliseconds from now (and at most the time-out), and a read after
    // that fails as a time-out. A peer that drips bytes must not hold an
    // exchange open for ever.
    void setReadDeadline(int milliseconds);
    void clearReadDeadline() { readDeadline_.reset(); }
    int getFD() const { return fd_; }
    int getState() const { return state_; }
    bool isConnected() const { return state_ == kConnected; }
    // The address connected to or, after a failed open, the last one tried.
    const InetAddress* getRemoteAddress() const { return remote_->getInetAddress(); }
    // The same with its port ("[::1]:8080"), for log lines.
    String getRemoteText() const { return remote_->toString(); }
    // The bytes the reads have brought so far (over TLS, the decrypted ones).
    int64_t bytesReceived() const { return bytesReceived_; }
    // Null unless connected.
    const InetAddress* getLocalAddress() const;

protected:
    // Waits until fd can be read (or written): > 0 ready, 0 time-out, -1 error
    // (errno set). limitMs < 0 waits without limit; signals do not cut the
    // wait short.
    static int waitFor(int fd, bool forWrite, int limitMs);
    // The time-out as the plain socket applies it: whole seconds.
    int wholeSecondLimit() const;
    // What a read may still wait: the time-out, cut to the read deadline;
    // 0 once the deadline has passed.
    int readLimit() const;
    bool readDeadlinePassed() const;
    // A read's result, its bytes counted.
    int counted(int result) {
        bytesReceived_ += result > 0 ? result : 0;
        return result;
    }

private:
    void createDescriptor(int family);
    void checkRemote() const;
    void connectToSomeAddress();
    void replaceDescriptor();
    bool startConnection();
    void setNonBlocking(bool on);
    void awaitConnection();
    void readLocalAddress();
    int waitOrThrow(bool forWrite, const char* operation);

    int fd_ = -1;
    std::unique_ptr<SocketAddress> remote_;
    // Further addresses of the same host, tried in turn when one fails.
    std::vector<SocketAddress> alternatives_;
    std::unique_ptr<SocketAddress> local_;
    int timeout_ = -1;
    std::optional<std::chrono::steady_clock::time_point> readDeadline_;
    bool owned_ = true;
    int state_ = kCreated;
    int64_t bytesReceived_ = 0;
};
