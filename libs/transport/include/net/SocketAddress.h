#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>

#include "net/InetAddress.h"

// An IPv4 or IPv6 socket address (host and port) with the host it names.
class SocketAddress {
public:
    SocketAddress(const InetAddress& host, int port);
    // Resolves host at once to its first address; when it does not resolve,
    // getInetAddress() is null and the address is IPv4's INADDR_ANY.
    SocketAddress(const char* host, int port);
    // An AF_INET or AF_INET6 address, as getpeername gives it.
    explicit SocketAddress(const sockaddr* raw);
    SocketAddress(const SocketAddress& other);
    SocketAddress& operator=(const SocketAddress& other);

    const sockaddr* raw() const { return reinterpret_cast<const sockaddr*>(&raw_); }
    socklen_t rawLength() const;
    int getFamily() const { return raw_.ss_family; }
    // The port as given, which may lie outside what TCP can reach.
    int getPort() const { return port_; }
    bool hasValidPort() const { return port_ >= 0 && port_ <= 65535; }
    const InetAddress* getInetAddress() const { return inet_.get(); }
    // "192.0.2.1:80" or "[2001:db8::1]:80", for log lines.
    String toString() const;

private:
    void fill(const InetAddress& host);

    sockaddr_storage raw_{};
    int port_;
    std::unique_ptr<InetAddress> inet_;
};
