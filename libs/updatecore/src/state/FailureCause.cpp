#include "state/FailureCause.h"

#include <iterator>

#include "Utils.h"

namespace {

struct Rule {
    const char* text;  // found anywhere in the message, case ignored
    const char* cls;
    const char* reason;
};

// Tested in this order: the first rule whose text the message holds wins.
constexpr Rule kTransportRules[] = {
    {"deadline passed", "deadline", ""}, {"EC_INVALID_HOST", "dns", ""},
    {"EC_PROXY_FAILED", "proxy", ""},    {"SSL", "tls", ""},
    {"certificate", "tls", ""},
};

constexpr Rule kRefusalRules[] = {
    {"disk space", "disk", ""},
    {"cannot read the file", "disk", ""},
    {"download path", "disk", ""},
    {"malformed sha256", "package-refused", "encoding"},
    {"signature", "package-refused", "signature"},
    {"signing key", "package-refused", "signature"},
    {"no sha256", "package-refused", "signature"},
    {"mismatch", "package-refused", "digest"},
    {"size", "package-refused", "size"},
    {"not newer than", "package-refused", "rollback"},
    {"not requested", "package-refused", "not-requested"},
    {"content-coded", "package-refused", "encoding"},
    {"redirect", "answer-refused", ""},
};

bool holds(const String& message, const char* text) {
    return message.toLowerCase().indexOf(String(text).toLowerCase().view()) >= 0;
}

const Rule* firstRule(const String& message, const Rule* begin, const Rule* end) {
    for (const Rule* rule = begin; rule != end; ++rule) {
        if (holds(message, rule->text)) {
            return rule;
        }
    }
    return nullptr;
}

FailureCause causeOf(const Rule& rule, const String& detail) {
    return {rule.cls, rule.reason, detail};
}

}  // namespace

FailureCause FailureCause::ofTransport(const String& message, bool viaProxy) {
    if (const Rule* rule =
            firstRule(message, std::begin(kTransportRules), std::end(kTransportRules))) {
        return causeOf(*rule, message);
    }
    bool refused = message.startsWith("EC_CONNECT_REFUSED");
    return {refused && viaProxy ? "proxy" : "network", String(), message};
}

// Everything else the trust rules refuse is a name or path that would
// leave its place (a file name, a version, an install script, a link).
FailureCause FailureCause::ofRefusal(const String& reason) {
    if (const Rule* rule = firstRule(reason, std::begin(kRefusalRules), std::end(kRefusalRules))) {
        return causeOf(*rule, reason);
    }
    return {"package-refused", "path", reason};
}

FailureCause FailureCause::ofStatus(int status) {
    return {"http-status", decimalText(status), "HTTP " + decimalText(status)};
}

FailureCause FailureCause::ofEarlierFailure(const String& reason) {
    FailureCause cause = ofRefusal(reason);
    if (reason.startsWith("HTTP ")) {
        cause.cls = "http-status";
    } else if (reason.startsWith("install script")) {
        cause.cls = "script";
    }
    cause.reason = "backoff";
    return cause;
}
