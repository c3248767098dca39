#pragma once

#include "String.h"

// The hops of a download that the server moved elsewhere (301, 302, 303,
// 307, 308): each Location resolved against the URL that answered with it,
// at most kMaxHops of them, and never from https down to http.
class RedirectChain {
public:
    static constexpr int kMaxHops = 10;

    explicit RedirectChain(const String& url) : current_(url) {}

    static bool isRedirect(int status);

    // The URL to request now.
    const String& current() const { return current_; }
    // Moves on to location (logged); false, with the reason logged and kept,
    // when the hop is refused: also for a location that does not parse or
    // names no host. Logged URLs show user information as "****@".
    bool follow(const String& location);
    const String& refusal() const { return refusal_; }

    // location against base: absolute as is, "//host/x" with base's
    // protocol, "/x" on base's host, else beside the last segment of base's
    // path. Raises Exception "Malformed URL" for a base that does not parse.
    static String resolve(const String& base, const String& location);

private:
    bool refuse(const String& logLine, const String& reason);

    String current_;
    int hops_ = 0;
    String refusal_;
};
