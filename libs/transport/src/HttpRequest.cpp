#include "net/HttpRequest.h"

#include <array>

namespace {
const std::array<const char*, 7> kMethods = {"GET", "POST",   "HEAD", "OPTIONS",
                                             "PUT", "DELETE", "TRACE"};

bool isVersionText(const String& text) {
    if (text.isEmpty()) {
        return false;
    }
    for (char c : text.view()) {
        if ((c < '0' || c > '9') && c != '.') {
            return false;
        }
    }
    return true;
}
}  // namespace

HttpRequest::HttpRequest() {
    setDefaultHeaders();
}

HttpRequest::HttpRequest(const URL& url) : url_(url) {
    setDefaultHeaders();
}

void HttpRequest::setDefaultHeaders() {
    headers_.setHeader("Accept", "*/*");
    headers_.setHeader("User-Agent", "Mozilla/4.0 (compatible; MSIE 5.0; Windows 98)");
    headers_.setHeader("Accept-Language", "en-us");
    headers_.setHeader("Accept-Encoding", "gzip, deflate");
}

bool HttpRequest::setURL(const URL& url) {
    if (!url.isValid()) {
        return false;
    }
    url_ = url;
    return true;
}

bool HttpRequest::setMethod(const String& method) {
    for (const char* known : kMethods) {
        if (method.equalsIgnoreCase(known)) {
            method_ = method;
            return true;
        }
    }
    return false;
}

bool HttpRequest::setVersion(const String& version) {
    if (!isVersionText(version)) {
        return false;
    }
    version_ = version;
    return true;
}

String HttpRequest::getRequestText() const {
    return text(true);
}

String HttpRequest::getWireText() const {
    return text(false);
}

String HttpRequest::text(bool forLog) const {
    if (!url_.isValid() || headers_.isEmpty()) {
        return String();
    }
    String line(method_);
    line.append(' ').append(forLog ? URL::masked(url_.toString()) : url_.toString());
    line.append(" HTTP/").append(version_).append("\r\n");
    return line.append(forLog ? headers_.getLogText() : headers_.getText()).append("\r\n");
}
