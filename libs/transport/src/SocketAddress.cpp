#include "net/SocketAddress.h"

namespace {
sockaddr_in makeRaw(uint32_t address, int port) {
    sockaddr_in raw{};
    raw.sin_family = AF_INET;
    raw.sin_port = htons(static_cast<uint16_t>(port));
    raw.sin_addr.s_addr = address;
    return raw;
}
}  // namespace

SocketAddress::SocketAddress(const InetAddress& host, int port)
    : raw_(makeRaw(host.getAddress(), port)),
      port_(port),
      inet_(std::make_unique<InetAddress>(host)) {}

SocketAddress::SocketAddress(const char* host, int port)
    : port_(port), inet_(InetAddress::byName(host)) {
    raw_ = makeRaw(inet_ ? inet_->getAddress() : htonl(INADDR_ANY), port);
}

SocketAddress::SocketAddress(const sockaddr_in& raw)
    : raw_(raw),
      port_(ntohs(raw.sin_port)),
      inet_(std::make_unique<InetAddress>(raw.sin_addr.s_addr)) {}

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
