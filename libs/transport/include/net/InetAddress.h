#pragma once

#include <cstdint>
#include <memory>

#include "String.h"

// One IPv4 host: its address, its dotted text and, once known, its name.
class InetAddress {
public:
    // address in network byte order.
    explicit InetAddress(uint32_t address);
    // An address whose name is already known (no look-up needed).
    InetAddress(uint32_t address, const String& hostName);

    // Resolves a host name or dotted number; null when it does not resolve.
    // A name (not a dotted number) is kept as the host name.
    static std::unique_ptr<InetAddress> byName(const char* host);

    uint32_t getAddress() const { return address_; }
    const String& getHostAddress() const { return text_; }
    // The host name; when unknown, asks the resolver once for the address's
    // name. May stay empty.
    const String& getHostName() const;

private:
    uint32_t address_;
    String text_;
    mutable String hostName_;
    mutable bool reverseTried_ = false;
};
