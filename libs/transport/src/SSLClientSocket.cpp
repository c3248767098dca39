#include "net/SSLClientSocket.h"

#include <algorithm>

#include "net/AlarmGuard.h"
#include "net/InetAddress.h"
#include "net/TlsPeerCheck.h"

namespace {
constexpr const char kSource[] = "net/SSLClientSocket";

[[noreturn]] void fail(const char* message, int line) {
    throw SocketException(message, kSource, line);
}

// The messages of a TLS read or write that waited in vain or failed.
struct Failures {
    const char* timeout;
    const char* failed;
};
constexpr Failures kReadFailures = {
    "EC_READ_TIMEOUT: SSLClintSocket: reading data from socket timeout",
    "EC_READ_FAILED: SSLClintSocket: reading data from socket failed"};
constexpr Failures kWriteFailures = {
    "EC_WRITE_TIMEOUT: SSLClintSocket: sending data on socket timeout",
    "EC_WRITE_FAILED: SSLClintSocket: sending data on socket failed"};
}  // namespace

SSLClientSocket::SSLClientSocket(const SocketAddress& remote)
    : ClientSocket(remote), client_(std::make_unique<SSLClient>()) {}

SSLClientSocket::SSLClientSocket(const InetAddress& host, int port)
    : ClientSocket(host, port), client_(std::make_unique<SSLClient>()) {}

SSLClientSocket::SSLClientSocket(const char* host, int port)
    : ClientSocket(host, port),
      client_(std::make_unique<SSLClient>()),
      serverName_(host != nullptr ? host : "") {}

SSLClientSocket::SSLClientSocket(int connectedFd)
    : ClientSocket(connectedFd), client_(std::make_unique<SSLClient>()) {}

SSLClientSocket::~SSLClientSocket() {
    client_.reset();
}

int SSLClientSocket::open() {
    return ClientSocket::open();
}

// A time-out under a second still arms a second: an alarm of 0 would leave
// the TLS call blocked without limit.
unsigned SSLClientSocket::alarmSeconds() const {
    int timeout = getTimeout();
    return timeout < 1 ? 0U : static_cast<unsigned>(std::max(timeout / 1000, 1));
}

// The alarm of a read ends at the read deadline too, rounded up to a
// whole second.
unsigned SSLClientSocket::readAlarmSeconds() const {
    int limit = readLimit();
    if (limit < 0) {
        return alarmSeconds();
    }
    return static_cast<unsigned>(std::max((limit + 999) / 1000, 1));
}

int SSLClientSocket::handshake() {
    if (!isConnected()) {
        return -1;
    }
    String name = serverName_;
    if (name.isEmpty() && getRemoteAddress() != nullptr) {
        name = getRemoteAddress()->getHostAddress();  // never a reverse look-up
    }
    AlarmGuard alarm(alarmSeconds());
    return client_->handshake(getFD(), getTimeout(), TlsPeerCheck(verification_, name));
}

// TLS reads wait for the descriptor to be writable, like writes: what the
// session has already buffered is then delivered without waiting for the
// peer.
void SSLClientSocket::awaitWritable(bool reading) {
    const Failures& failures = reading ? kReadFailures : kWriteFailures;
    if (reading && readDeadlinePassed()) {
        fail(failures.timeout, __LINE__);
    }
    int ready = waitFor(getFD(), true, reading ? readLimit() : wholeSecondLimit());
    if (ready == 0) {
        fail(failures.timeout, __LINE__);
    }
    if (ready < 0) {
        fail(failures.failed, __LINE__);
    }
}

int SSLClientSocket::read(char* buffer, int size) {
    if (buffer == nullptr || size < 1) {
        return -1;
    }
    awaitWritable(true);
    AlarmGuard alarm(readAlarmSeconds());
    int result = client_->read(buffer, size);
    if (result < 0 && AlarmGuard::expired()) {
        fail(kReadFailures.timeout, __LINE__);
    }
    return counted(result);
}

int SSLClientSocket::write(const char* data, int length) {
    if (data == nullptr || length < 1) {
        return -1;
    }
    awaitWritable(false);
    AlarmGuard alarm(alarmSeconds());
    int result = client_->write(data, length);
    if (result <= 0 && AlarmGuard::expired()) {
        fail(kWriteFailures.timeout, __LINE__);
    }
    return result;
}

void SSLClientSocket::close() {
    if (!isConnected()) {
        return;
    }
    client_->end();
    ClientSocket::close();
}
