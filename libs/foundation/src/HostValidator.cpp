#include "HostValidator.h"

#include <arpa/inet.h>

#include "Vector.h"

namespace {
constexpr int kMaxNameLength = 253;
constexpr int kMaxLabelLength = 63;
constexpr int kMaxPortDigits = 5;
constexpr int kMaxPort = 65535;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isLetterOrDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool allDigits(const String& text) {
    for (int i = 0; i < text.length(); ++i) {
        if (!isDigit(text.charAt(i))) {
            return false;
        }
    }
    return true;
}
}  // namespace

bool HostValidator::isBareIpv6(const String& text) {
    in6_addr address{};
    return text.indexOf(':') >= 0 && text.indexOf('\0') < 0 &&
           inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

String HostValidator::withBrackets(const String& entry) {
    return isBareIpv6(entry) ? "[" + entry + "]" : entry;
}

bool HostValidator::isValid(const String& entry, bool portAllowed) {
    if (entry.indexOf('\0') >= 0) {  // the address checks read C strings
        return false;
    }
    if (entry.startsWith("[")) {
        int close = entry.indexOf(']');
        if (close < 0) {
            return false;
        }
        String rest = entry.substring(close + 1);
        return isBareIpv6(entry.substring(1, close)) &&
               (rest.isEmpty() ||
                (portAllowed && rest.startsWith(":") && isPort(rest.substring(1))));
    }
    int colon = entry.indexOf(':');
    String host = colon < 0 ? entry : entry.substring(0, colon);
    if (colon >= 0 && (!portAllowed || !isPort(entry.substring(colon + 1)))) {
        return false;
    }
    return isIpv4(host) || isName(host);
}

bool HostValidator::isIpv4(const String& host) {
    in_addr address{};
    return inet_pton(AF_INET, host.c_str(), &address) == 1;
}

// A name whose last label is a number would read as an address; only real
// dotted addresses (isIpv4) may look like that.
bool HostValidator::isName(const String& host) {
    if (host.isEmpty() || host.length() > kMaxNameLength) {
        return false;
    }
    Vector<String> labels;
    host.split(".", labels);
    // split drops nothing: an empty label (".." or an end dot) is refused.
    int dots = 0;
    for (int i = 0; i < host.length(); ++i) {
        dots += host.charAt(i) == '.' ? 1 : 0;
    }
    if (labels.size() != dots + 1) {
        return false;
    }
    for (const String& label : labels) {
        if (!isLabel(label)) {
            return false;
        }
    }
    return !allDigits(labels[labels.size() - 1]);
}

bool HostValidator::isLabel(const String& label) {
    if (label.isEmpty() || label.length() > kMaxLabelLength || label.startsWith("-") ||
        label.endsWith("-")) {
        return false;
    }
    for (int i = 0; i < label.length(); ++i) {
        char c = label.charAt(i);
        if (!isLetterOrDigit(c) && c != '-') {
            return false;
        }
    }
    return true;
}

bool HostValidator::isPort(const String& text) {
    if (text.isEmpty() || text.length() > kMaxPortDigits || !allDigits(text) ||
        text.startsWith("0")) {
        return false;
    }
    int port = 0;
    for (int i = 0; i < text.length(); ++i) {
        port = port * 10 + (text.charAt(i) - '0');
    }
    return port <= kMaxPort;
}
