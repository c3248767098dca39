#include "download/RedirectChain.h"

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
    if (location.trim().isEmpty()) {
        return refuse("LmUpdate: redirect without Location: " + current_,
                      "redirect without Location");
    }
    if (++hops_ > kMaxHops) {
        return refuse("LmUpdate: too many redirects: " + current_, "too many redirects");
    }
    String next;
    try {
        next = URL::normalize(resolve(current_, location.trim()));
    } catch (const Exception&) {
        return refuse("LmUpdate: redirect to a malformed URL refused: " + location,
                      "malformed redirect");
    }
    URL target(next);
    if (!isWebProtocol(target.getProtocol())) {
        return refuse("LmUpdate: redirect to an unsupported URL refused: " + next,
                      "unsupported redirect");
    }
    if (URL(current_).getProtocol() == "https" && target.getProtocol() == "http") {
        return refuse("LmUpdate: redirect from https to http refused: " + next,
                      "redirect from https to http");
    }
    log("LmUpdate: redirected to " + next);
    current_ = next;
    return true;
}

bool RedirectChain::refuse(const String& logLine, const String& reason) {
    log(logLine);
    refusal_ = reason;
    return false;
}
