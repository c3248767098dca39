#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "String.h"

// One IPv4 or IPv6 host: its address, its numeric text ("192.0.2.1",
// "::1", never bracketed) and, once known, its name.
class InetAddress {
public:
    // IPv4; address in network byte order.
    explicit InetAddress(uint32_t address);
    // An address whose name is already known (no look-up needed).
    InetAddress(uint32_t address, const String& hostName);
    // The host part of an AF_INET or AF_INET6 socket address (the port is
    // ignored); any other family gives an address with empty text.
    explicit InetAddress(const sockaddr* address, const String& hostName = String());

    // Resolves a host name, dotted number or IPv6 literal (bare or in
    // brackets) for either family; null when it does not resolve.
    // A name (not a number) is kept as the host name.
    static std::unique_ptr<InetAddress> byName(const char* host);
    // Every address of host, in the resolver's order of preference, at most
    // limit of them; empty when it does not resolve.
    static std::vector<InetAddress> allByName(const char* host, size_t limit);

    int getFamily() const { return family_; }
    bool isIPv6() const { return family_ == AF_INET6; }
    // The IPv4 address in network byte order; 0 for IPv6.
    uint32_t getAddress() const { return v4_; }
    const in6_addr& getAddress6() const { return v6_; }
    const String& getHostAddress() const { return text_; }
    // The numeric text as a URL or log line writes it: IPv6 in brackets.
    String getBracketedAddress() const;
    // The host name; when unknown, asks the resolver once for the address's
    // name. May stay empty.
    const String& getHostName() const;

private:
    int family_ = AF_INET;
    uint32_t v4_ = 0;
    in6_addr v6_{};
    String text_;
    mutable String hostName_;
    mutable bool reverseTried_ = false;
};
