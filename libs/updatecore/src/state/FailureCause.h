#pragma once

#include "String.h"

// Why a product or a run failed, in the run report's terms: a class from
// one documented set (docs/RUN-REPORT.md), a reason where the class has
// them, and the detail the log names.
struct FailureCause {
    String cls;  // empty: nothing failed, or the cause is not known
    String reason = String();
    String detail = String();

    bool known() const { return !cls.isEmpty(); }

    // The message of a raised transport failure ("EC_CONNECT_REFUSED: ...",
    // "SSL: certificate verify failed: ..."); a refused connection through
    // a proxy is the proxy's.
    static FailureCause ofTransport(const String& message, bool viaProxy);
    // A refusal reason of the trust rules ("sha256 mismatch").
    static FailureCause ofRefusal(const String& reason);
    // A server's error status.
    static FailureCause ofStatus(int status);
    // A package skipped after the failure recorded as reason ("HTTP 404",
    // "install script failed", a refusal): that failure's class, reason
    // "backoff".
    static FailureCause ofEarlierFailure(const String& reason);
};
