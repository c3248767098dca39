#pragma once

#include "String.h"

// The grammar of an update server or proxy host entry: a DNS name of
// letter-digit-hyphen labels (1 to 63 characters each, 253 in all), a
// dotted IPv4 address, or a bracketed IPv6 literal, each with an optional
// ":port" of 1 to 65535. Nothing else (user names, paths, schemes, blanks)
// gets into the settings.
class HostValidator {
public:
    // Whether entry is one host with an optional port (when portAllowed).
    static bool isValid(const String& entry, bool portAllowed = true);
    // Whether text is an IPv6 literal without brackets (and so no port).
    static bool isBareIpv6(const String& text);
    // entry with a bare IPv6 literal put in brackets; anything else as is.
    static String withBrackets(const String& entry);

private:
    static bool isName(const String& host);
    static bool isLabel(const String& label);
    static bool isIpv4(const String& host);
    static bool isPort(const String& text);
};
