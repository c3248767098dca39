#include "net/SocketAddress.h"

#include <cstring>

namespace {
int portOf(const sockaddr* raw) {
    if (raw->sa_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(raw)->sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in*>(raw)->sin_port);
}

sockaddr_storage copyOf(const sockaddr* raw) {
    sockaddr_storage copy{};
    size_t size = raw->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    std::memcpy(&copy, raw, size);
    return copy;
}
}  // namespace

SocketAddress::SocketAddress(const InetAddress& host, int port)
    : port_(port), inet_(std::make_unique<InetAddress>(host)) {
    fill(host);
}

SocketAddress::SocketAddress(const char* host, int port)
    : port_(port), inet_(InetAddress::byName(host)) {
    fill(inet_ ? *inet_ : InetAddress(htonl(INADDR_ANY)));
}

SocketAddress::SocketAddress(const sockaddr* raw)
    : raw_(copyOf(raw)), port_(portOf(raw)), inet_(std::make_unique<InetAddress>(raw)) {}

SocketAddress::SocketAddress(const SocketAddress& other)
    : raw_(other.raw_),
      port_(other.port_),
      inet_(other.inet_ ? std::make_unique<InetAddress>(*other.inet_) : nullptr) {}

SocketAddress& SocketAddress::operator=(const SocketAddress& other) {
    if (this != &other) {
        raw_ = other.raw_;
        port_ = other.port_;
        inet_ = other.inet_ ? std::make_unique<InetAddress>(*other.inet_) : nullptr;
    }
    return *this;
}

void SocketAddress::fill(const InetAddress& host) {
    raw_ = sockaddr_storage{};
    auto port = htons(static_cast<uint16_t>(port_));
    if (host.isIPv6()) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&raw_);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = port;
        in6->sin6_addr = host.getAddress6();
    } else {
        auto* in = reinterpret_cast<sockaddr_in*>(&raw_);
        in->sin_family = AF_INET;
        in->sin_port = port;
        in->sin_addr.s_addr = host.getAddress();
    }
}

socklen_t SocketAddress::rawLength() const {
    return getFamily() == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

String SocketAddress::toString() const {
    String host = inet_ ? inet_->getBracketedAddress() : String("?");
    return host.append(':').append(port_);
}
