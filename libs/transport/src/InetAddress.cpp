#include "net/InetAddress.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>

namespace {
// getaddrinfo frees its own answer: wrap it so every path releases it.
struct AddrInfoDeleter {
    void operator()(addrinfo* info) const { freeaddrinfo(info); }
};

String numericText(int family, const void* address) {
    char text[INET6_ADDRSTRLEN] = "";
    inet_ntop(family, address, text, sizeof text);
    return String(text);
}

// "[::1]" names the same host as "::1": URLs and stored settings bracket
// IPv6 literals, the resolver wants them bare.
String withoutBrackets(const char* host) {
    String text(host);
    if (text.length() >= 2 && text.charAt(0) == '[' && text.charAt(text.length() - 1) == ']') {
        return text.substring(1, text.length() - 1);
    }
    return text;
}

bool sameHost(const InetAddress& a, const InetAddress& b) {
    return a.getFamily() == b.getFamily() && a.getHostAddress() == b.getHostAddress();
}
}  // namespace

InetAddress::InetAddress(uint32_t address) : v4_(address), text_(numericText(AF_INET, &address)) {}

InetAddress::InetAddress(uint32_t address, const String& hostName)
    : v4_(address), text_(numericText(AF_INET, &address)), hostName_(hostName) {}

InetAddress::InetAddress(const sockaddr* address, const String& hostName)
    : family_(address->sa_family), hostName_(hostName) {
    if (family_ == AF_INET) {
        v4_ = reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr;
        text_ = numericText(AF_INET, &v4_);
    } else if (family_ == AF_INET6) {
        v6_ = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        text_ = numericText(AF_INET6, &v6_);
    }
}

std::unique_ptr<InetAddress> InetAddress::byName(const char* host) {
    std::vector<InetAddress> found = allByName(host, 1);
    return found.empty() ? nullptr : std::make_unique<InetAddress>(found.front());
}

std::vector<InetAddress> InetAddress::allByName(const char* host, size_t limit) {
    std::vector<InetAddress> addresses;
    if (host == nullptr || *host == '\0') {
        return addresses;
    }
    String name = withoutBrackets(host);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return addresses;
    }
    std::unique_ptr<addrinfo, AddrInfoDeleter> answer(found);
    for (const addrinfo* entry = answer.get(); entry != nullptr && addresses.size() < limit;
         entry = entry->ai_next) {
        if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6) {
            continue;
        }
        InetAddress address(entry->ai_addr);
        if (address.text_ != name) {
            address.hostName_ = name;
        }
        bool repeated = false;
        for (const InetAddress& known : addresses) {
            repeated = repeated || sameHost(known, address);
        }
        if (!repeated) {
            addresses.push_back(address);
        }
    }
    return addresses;
}

String InetAddress::getBracketedAddress() const {
    return isIPv6() ? "[" + text_ + "]" : text_;
}

const String& InetAddress::getHostName() const {
    if (hostName_.isEmpty() && !reverseTried_) {
        reverseTried_ = true;
        sockaddr_storage raw{};
        socklen_t size = 0;
        if (family_ == AF_INET6) {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&raw);
            in6->sin6_family = AF_INET6;
            in6->sin6_addr = v6_;
            size = sizeof *in6;
        } else {
            auto* in = reinterpret_cast<sockaddr_in*>(&raw);
            in->sin_family = AF_INET;
            in->sin_addr.s_addr = v4_;
            size = sizeof *in;
        }
        char name[NI_MAXHOST] = "";
        if (getnameinfo(reinterpret_cast<const sockaddr*>(&raw), size, name, sizeof name, nullptr,
                        0, NI_NAMEREQD) == 0) {
            hostName_ = name;
        }
    }
    return hostName_;
}
