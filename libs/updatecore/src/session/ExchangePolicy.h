#pragma once

// How a run over the update servers differs between the requests that make
// one.
struct ExchangePolicy {
    // What is logged when an attempt raises a failure.
    enum class FailureLog { kHostAndMessage, kMessage, kNothing };

    bool firstServerOnly = false;
    bool logUnsent = false;  // "Connecting to <host> failed" when nothing went out
    FailureLog failureLog = FailureLog::kHostAndMessage;
    bool reportErrorName = false;  // the failure's session error name to standard output
    bool endAtFailure = false;     // a raised failure ends the run (else: the next server)
};
