#include "net/InetAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {
String dottedText(uint32_t address) {
    in_addr in{};
    in.s_addr = address;
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &in, text, sizeof text);
    return String(text);
}

// getaddrinfo frees its own answer: wrap it so every path releases it.
struct AddrInfoDeleter {
    void operator()(addrinfo* info) const { freeaddrinfo(info); }
};
}  // namespace

InetAddress::InetAddress(uint32_t address) : address_(address), text_(dottedText(address)) {}

InetAddress::InetAddress(uint32_t address, const String& hostName)
    : address_(address), text_(dottedText(address)), hostName_(hostName) {}

std::unique_ptr<InetAddress> InetAddress::byName(const char* host) {
    if (host == nullptr || *host == '\0') {
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) {
        return nullptr;
    }
    std::unique_ptr<addrinfo, AddrInfoDeleter> answer(found);
    const auto* in = reinterpret_cast<const sockaddr_in*>(answer->ai_addr);
    auto address = std::make_unique<InetAddress>(in->sin_addr.s_addr);
    if (address->text_ != host) {
        address->hostName_ = host;
    }
    return address;
}

const String& InetAddress::getHostName() const {
    if (hostName_.isEmpty() && !reverseTried_) {
        reverseTried_ = true;
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = address_;
        char name[NI_MAXHOST] = "";
        if (getnameinfo(reinterpret_cast<const sockaddr*>(&in), sizeof in, name, sizeof name,
                        nullptr, 0, NI_NAMEREQD) == 0) {
            hostName_ = name;
        }
    }
    return hostName_;
}
