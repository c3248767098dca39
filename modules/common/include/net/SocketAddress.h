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
    int getPort() const { return ntohs(raw_.sin_port); }
    const InetAddress* getInetAddress() const { return inet_.get(); }

private:
    sockaddr_in raw_{};
    std::unique_ptr<InetAddress> inet_;
};
