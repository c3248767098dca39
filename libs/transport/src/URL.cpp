#include "net/URL.h"

#include <arpa/inet.h>

#include <cstring>

#include "Exception.h"

namespace {
constexpr const char kSource[] = "net/URL";
constexpr int kMaxPort = 65535;

[[noreturn]] void malformed(int line) {
    throw Exception("Malformed URL", kSource, line);
}

// Every run of consecutive "/" becomes a single one.
String collapseSlashes(const String& path) {
    String out;
    for (int i = 0; i < path.length(); ++i) {
        char c = path.charAt(i);
        if (c != '/' || out.isEmpty() || out.charAt(out.length() - 1) != '/') {
            out.append(c);
        }
    }
    return out;
}

// Decimal digits only; an over-large number is as malformed as a letter.
int parsePort(const String& digits) {
    long port = 0;
    for (int i = 0; i < digits.length(); ++i) {
        char c = digits.charAt(i);
        if (c < '0' || c > '9') {
            malformed(__LINE__);
        }
        port = port * 10 + (c - '0');
        if (port > kMaxPort) {
            malformed(__LINE__);
        }
    }
    return static_cast<int>(port);
}

bool isIPv6Literal(const String& text) {
    in6_addr address{};
    return inet_pton(AF_INET6, text.c_str(), &address) == 1;
}
}  // namespace

URL::URL(const String& protocol, const String& host, const String& file)
    : URL(protocol, host, defaultPort(protocol), file) {}

URL::URL(const String& protocol, const String& host, int port, const String& file)
    : protocol_(protocol), host_(host), port_(port), file_(file) {}

URL::URL(const String& text) {
    parse(text);
}

int URL::defaultPort(const String& protocol) {
    if (protocol.equalsIgnoreCase("http")) {
        return 80;
    }
    if (protocol.equalsIgnoreCase("https")) {
        return 443;
    }
    if (protocol.equalsIgnoreCase("ftp")) {
        return 21;
    }
    return -1;
}

void URL::parse(const String& text) {
    // Line breaks would end a request line early and smuggle in headers; a
    // NUL would cut the text short for the resolver and the address checks.
    if (text.indexOf('\r') >= 0 || text.indexOf('\n') >= 0 || text.indexOf('\0') >= 0) {
        malformed(__LINE__);
    }
    int separator = text.indexOf("://");
    if (separator < 0) {
        malformed(__LINE__);
    }
    protocol_ = text.substring(0, separator);
    int start = separator + 3;
    if (start >= text.length()) {
        malformed(__LINE__);
    }
    int slash = text.indexOf('/', start);
    if (slash < 0) {
        parseAuthority(text.substring(start));
    } else {
        parseAuthority(text.substring(start, slash));
        file_ = collapseSlashes(text.substring(slash));
    }
    protocol_ = protocol_.toLowerCase();
    host_ = host_.toLowerCase();
}

void URL::parseAuthority(String authority) {
    int at = authority.indexOf('@');
    if (at >= 0) {
        String userInfo = authority.substring(0, at);
        int colon = userInfo.indexOf(':');
        if (colon < 0) {
            malformed(__LINE__);
        }
        user_ = userInfo.substring(0, colon);
        password_ = userInfo.substring(colon + 1);
        authority = authority.substring(at + 1);
    }
    parseHostAndPort(authority);
}

void URL::parseHostAndPort(const String& hostPort) {
    int colon = hostPort.indexOf(':');
    if (hostPort.startsWith("[")) {
        int close = hostPort.indexOf(']');
        if (close < 0 || !isIPv6Literal(hostPort.substring(1, close))) {
            malformed(__LINE__);
        }
        host_ = hostPort.substring(1, close);
        colon = close + 1;
        if (colon < hostPort.length() && hostPort.charAt(colon) != ':') {
            malformed(__LINE__);
        }
    } else {
        host_ = colon < 0 ? hostPort : hostPort.substring(0, colon);
    }
    String digits =
        colon < 0 || colon >= hostPort.length() ? String() : hostPort.substring(colon + 1);
    port_ = digits.isEmpty() ? defaultPort(protocol_) : parsePort(digits);
}

bool URL::operator==(const URL& other) const {
    return protocol_.equalsIgnoreCase(other.protocol_.view()) &&
           host_.equalsIgnoreCase(other.host_.view()) && port_ == other.port_ &&
           file_ == other.file_;
}

String URL::toString() const {
    String text(protocol_);
    text.append("://");
    if (!user_.isEmpty()) {
        text.append(user_).append(':').append(password_).append('@');
    }
    text.append(bracketed(host_));
    if (port_ != -1) {
        text.append(':').append(port_);
    }
    return text.append(file_);
}

String URL::getHostHeader() const {
    String text = getHostText();
    if (port_ != -1 && port_ != defaultPort(protocol_)) {
        text.append(':').append(port_);
    }
    return text;
}

String URL::bracketed(const String& host) {
    bool bare = host.indexOf(':') >= 0 && !host.startsWith("[");
    return bare ? "[" + host + "]" : host;
}

String URL::normalize(const String& text) {
    return URL(text).toString();
}

String URL::masked(const String& text) {
    int separator = text.indexOf("://");
    if (separator < 0) {
        return text;
    }
    int start = separator + 3;
    int end = start;
    while (end < text.length() && std::strchr("/?#", text.charAt(end)) == nullptr) {
        ++end;
    }
    int at = text.substring(start, end).lastIndexOf('@');
    return at < 0 ? text : text.substring(0, start) + "****" + text.substring(start + at);
}
