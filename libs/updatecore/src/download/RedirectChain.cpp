#include "download/RedirectChain.h"

#include <optional>

#include "Exception.h"
#include "net/URL.h"
#include "report/Report.h"

namespace {

// The path of a request target without its query, up to its last '/'.
String directoryOf(const String& file) {
    int query = file.indexOf('?');
    String path = query < 0 ? file : file.substring(0, query);
    int slash = path.lastIndexOf('/');
    return slash < 0 ? String("/") : path.substring(0, slash + 1);
}

bool isWebProtocol(const String& protocol) {
    return protocol == "http" || protocol == "https";
}

// The URL location leads to from base; none when it does not parse or is
// a web URL without a host (other schemes are refused for their scheme).
std::optional<URL> resolved(const String& base, const String& location) {
    try {
        URL target(RedirectChain::resolve(base, location));
        bool hostless = isWebProtocol(target.getProtocol()) && !target.isValid();
        return hostless ? std::nullopt : std::optional<URL>(target);
    } catch (const Exception&) {
        return std::nullopt;
    }
}

}  // namespace

bool RedirectChain::isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

String RedirectChain::resolve(const String& base, const String& location) {
    URL from(base);
    if (location.indexOf("://") > 0) {
        return location;
    }
    if (location.startsWith("//")) {
        return from.getProtocol() + ":" + location;
    }
    String origin = from.getProtocol() + "://" + from.getHostHeader();
    if (location.startsWith("/")) {
        return origin + location;
    }
    return origin + directoryOf(from.getFile()) + location;
}

bool RedirectChain::follow(const String& location) {
    const String given = location.trim();
    if (given.isEmpty()) {
        return refuse("LmUpdate: redirect without Location: " + URL::masked(current_),
                      "redirect without Location");
    }
    if (++hops_ > kMaxHops) {
        return refuse("LmUpdate: too many redirects: " + URL::masked(current_),
                      "too many redirects");
    }
    std::optional<URL> target = resolved(current_, given);
    if (!target) {
        return refuse("LmUpdate: redirect to a malformed URL refused: " + URL::masked(given),
                      "malformed redirect");
    }
    const String next = target->toString();
    if (!isWebProtocol(target->getProtocol())) {
        return refuse("LmUpdate: redirect to an unsupported URL refused: " + URL::masked(next),
                      "unsupported redirect");
    }
    if (URL(current_).getProtocol() == "https" && target->getProtocol() == "http") {
        return refuse("LmUpdate: redirect from https to http refused: " + URL::masked(next),
                      "redirect from https to http");
    }
    log("LmUpdate: redirected to " + URL::masked(next));
    current_ = next;
    return true;
}

bool RedirectChain::refuse(const String& logLine, const String& reason) {
    log(logLine);
    refusal_ = reason;
    return false;
}
