#pragma once

#include <netinet/in.h>

#include <memory>

#include "net/InetAddress.h"

// An IPv4 socket address (host and port) with the host it names.
class SocketAddress {
public:
    SocketAddress(const InetAddress& host, int port);
    // Resolves host at once; when it does not resolve, getInetAddress() is
    // null and the address is left as INADDR_ANY.
    SocketAddress(const char* host, int port);
    explicit SocketAddress(const sockaddr_in& raw);
    SocketAddress(const SocketAddress& other);
    SocketAddress& operator=(const SocketAddress& other);

    const sockaddr_in& raw() const { return raw_; }
    // The port as given, which may lie outside what TCP can reach.
    int getPort() const { return port_; }
    bool hasValidPort() const { return port_ >= 0 && port_ <= 65535; }
    const InetAddress* getInetAddress() const { return inet_.get(); }

private:
    sockaddr_in raw_{};
    int port_;
    std::unique_ptr<InetAddress> inet_;
};
