#include "net/ClientSocket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "SystemLog.h"

namespace {
constexpr const char kSource[] = "net/ClientSocket";

[[noreturn]] void fail(const char* message, int line) {
    throw SocketException(message, kSource, line);
}

void logError(const char* operation, int error) {
    SystemLog::write(String(operation) + ": " + std::strerror(error), LogPriority::kError);
}

SocketAddress queryAddress(int fd, bool peer, int line) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    if ((peer ? getpeername(fd, raw, &size) : getsockname(fd, raw, &size)) < 0) {
        throw SocketException(std::strerror(errno), kSource, line);
    }
    return SocketAddress(raw);
}

// The addresses of host with port, none when it does not resolve.
std::vector<SocketAddress> resolve(const char* host, int port) {
    std::vector<SocketAddress> addresses;
    for (const InetAddress& address : InetAddress::allByName(host, ClientSocket::kMaxAddresses)) {
        addresses.emplace_back(address, port);
    }
    return addresses;
}

const char* connectError(int pending) {
    switch (pending) {
        case 0:
        case EISCONN:
            return nullptr;
        case ECONNREFUSED:
        case ECONNRESET:
            return "EC_CONNECT_REFUSED: connecting refused failed";
        case ETIMEDOUT:
            return "EC_CONNECT_TIMEOUT: connecting timeout failed";
        default:
            return "EC_CONNECT_FAILED: connecting failed";
    }
}
}  // namespace

ClientSocket::ClientSocket(const SocketAddress& remote)
    : remote_(std::make_unique<SocketAddress>(remote)) {
    createDescriptor(remote_->getFamily());
}

ClientSocket::ClientSocket(const InetAddress& host, int port)
    : remote_(std::make_unique<SocketAddress>(host, port)) {
    createDescriptor(remote_->getFamily());
}

ClientSocket::ClientSocket(const char* host, int port) : ClientSocket(resolve(host, port)) {}

ClientSocket::ClientSocket(const std::vector<SocketAddress>& addresses) {
    size_t count = std::min(addresses.size(), kMaxAddresses);
    remote_ = std::make_unique<SocketAddress>(
        count > 0 ? addresses.front() : SocketAddress(static_cast<const char*>(nullptr), 0));
    for (size_t i = 1; i < count; ++i) {
        alternatives_.push_back(addresses[i]);
    }
    createDescriptor(remote_->getFamily());
}

ClientSocket::ClientSocket(int connectedFd)
    : fd_(connectedFd),
      remote_(std::make_unique<SocketAddress>(queryAddress(connectedFd, true, __LINE__))),
      local_(std::make_unique<SocketAddress>(queryAddress(connectedFd, false, __LINE__))),
      owned_(false),
      state_(kConnected) {}

ClientSocket::~ClientSocket() {
    ClientSocket::close();
}

void ClientSocket::createDescriptor(int family) {
    fd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        fail("cannot get socket fd", __LINE__);
    }
}

const InetAddress* ClientSocket::getLocalAddress() const {
    return state_ == kConnected && local_ ? local_->getInetAddress() : nullptr;
}

int ClientSocket::open() {
    if (state_ != kCreated) {
        return -1;
    }
    checkRemote();
    connectToSomeAddress();
    readLocalAddress();
    state_ = kConnected;
    return 0;
}

// The addresses in turn until one connects; the last one's failure is
// raised.
void ClientSocket::connectToSomeAddress() {
    std::vector<SocketAddress> others = std::move(alternatives_);
    alternatives_.clear();
    for (size_t next = 0;; ++next) {
        try {
            if (!startConnection()) {
                awaitConnection();
            }
            return;
        } catch (const SocketException& e) {
            if (next == others.size()) {
                throw;
            }
            SystemLog::write("ClientSocket::open: " + remote_->toString() + ": " + e.getMessage() +
                                 "; trying " + others[next].toString(),
                             LogPriority::kWarning);
            *remote_ = others[next];
            replaceDescriptor();
        }
    }
}

// A descriptor whose connect failed cannot connect again; the next address
// may also be of the other family.
void ClientSocket::replaceDescriptor() {
    ::close(fd_);
    fd_ = -1;
    createDescriptor(remote_->getFamily());
}

// Raises before anything goes on the network when there is nowhere to go.
void ClientSocket::checkRemote() const {
    const InetAddress* host = remote_->getInetAddress();
    if (host == nullptr || host->getHostAddress().isEmpty()) {
        fail("EC_INVALID_HOST: invalid remote host", __LINE__);
    }
    // Cut down to 16 bits it would name some other port.
    if (!remote_->hasValidPort()) {
        SystemLog::write(String("ClientSocket::open: invalid port ").append(remote_->getPort()),
                         LogPriority::kError);
        fail("EC_CONNECT_FAILED: connecting failed", __LINE__);
    }
}

// Connects without blocking; true when the connection was made at once,
// false when it is under way.
bool ClientSocket::startConnection() {
    setNonBlocking(true);
    int result = ::connect(fd_, remote_->raw(), remote_->rawLength());
    if (result < 0 && errno != EINPROGRESS) {
        logError("ClientSocket::open", errno);
        fail("EC_CONNECT_FAILED: connecting failed", __LINE__);
    }
    setNonBlocking(false);
    return result == 0;
}

void ClientSocket::setNonBlocking(bool on) {
    int flags = fcntl(fd_, F_GETFL);
    if (flags >= 0) {
        fcntl(fd_, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
    }
}

void ClientSocket::awaitConnection() {
    int ready = waitFor(fd_, true, wholeSecondLimit());
    if (ready == 0) {
        SystemLog::write("ClientSocket::open: timeouted", LogPriority::kError);
        fail("EC_CONNECT_TIMEOUT: connecting timeout", __LINE__);
    }
    if (ready < 0) {
        logError("ClientSocket::open", errno);
        fail("EC_CONNECT_FAILED: connecting failed", __LINE__);
    }
    int pending = 0;
    socklen_t size = sizeof pending;
    if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &pending, &size) < 0) {
        fail("EC_CONNECT_FAILED: connecting failed", __LINE__);
    }
    if (const char* message = connectError(pending)) {
        fail(message, __LINE__);
    }
}

void ClientSocket::readLocalAddress() {
    local_ = std::make_unique<SocketAddress>(queryAddress(fd_, false, __LINE__));
}

int ClientSocket::waitFor(int fd, bool forWrite, int limitMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs < 0 ? 0 : limitMs);
    pollfd entry{fd, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    int wait = limitMs;
    for (;;) {
        int ready = ::poll(&entry, 1, wait);
        if (ready > 0 && (entry.revents & POLLNVAL) != 0) {
            // A descriptor that is not open is an error, not readiness.
            errno = EBADF;
            return -1;
        }
        if (ready >= 0 || errno != EINTR) {
            return ready;
        }
        if (limitMs >= 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
    }
}

int ClientSocket::wholeSecondLimit() const {
    return timeout_ < 0 ? -1 : timeout_ / 1000 * 1000;
}

void ClientSocket::setReadDeadline(int milliseconds) {
    readDeadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}

bool ClientSocket::readDeadlinePassed() const {
    return readDeadline_ && std::chrono::steady_clock::now() >= *readDeadline_;
}

int ClientSocket::readLimit() const {
    int limit = wholeSecondLimit();
    if (!readDeadline_) {
        return limit;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        *readDeadline_ - std::chrono::steady_clock::now());
    int leftMs = static_cast<int>(std::max<int64_t>(left.count(), 0));
    return limit < 0 ? leftMs : std::min(limit, leftMs);
}

int ClientSocket::waitOrThrow(bool forWrite, const char* operation) {
    int ready = !forWrite && readDeadlinePassed()
                    ? 0
                    : waitFor(fd_, forWrite, forWrite ? wholeSecondLimit() : readLimit());
    if (ready < 0) {
        logError(operation, errno);
        fail(forWrite ? "EC_WRITE_FAILED: sending data on socket failed"
                      : "EC_READ_FAILED: reading data from socket failed",
             __LINE__);
    }
    if (ready == 0) {
        SystemLog::write(String(operation) + ": timeouted", LogPriority::kError);
        fail(forWrite ? "EC_WRITE_TIMEOUT: sending data on socket timeout"
                      : "EC_READ_TIMEOUT: reading data from socket timeout",
             __LINE__);
    }
    return ready;
}

int ClientSocket::read(char* buffer, int size) {
    if (buffer == nullptr || size < 1) {
        return -1;
    }
    waitOrThrow(false, "ClientSocket::read");
    return counted(static_cast<int>(::recv(fd_, buffer, static_cast<size_t>(size), 0)));
}

int ClientSocket::write(const char* data, int length) {
    if (data == nullptr || length < 1) {
        return -1;
    }
    waitOrThrow(true, "ClientSocket::write");
    // MSG_NOSIGNAL: a peer that went away must give an error, not SIGPIPE.
    return static_cast<int>(::send(fd_, data, static_cast<size_t>(length), MSG_NOSIGNAL));
}

void ClientSocket::close() {
    if (state_ == kClosed) {
        return;
    }
    if (owned_ && fd_ >= 0) {
        ::close(fd_);
    }
    local_.reset();
    state_ = kClosed;
}
