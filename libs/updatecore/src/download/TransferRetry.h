#pragma once

#include <optional>

#include "Clock.h"
#include "String.h"

class Backoff;

// The attempts of one file at one server. A transfer cut by a reset, a
// read time-out or a short body is tried again after the run's backoff, up
// to Backoff::kAttempts attempts in a row that brought no byte; a 503 or
// 429 with a Retry-After the cap allows waits as asked. Each decision is
// logged with its reason and delay; none means: the next server.
class TransferRetry {
public:
    // The failure a body that ends before its length raises.
    static constexpr const char* kShortBody = "file size is incorrect";

    TransferRetry(Backoff& backoff, const String& url) : backoff_(backoff), url_(url) {}

    // Whether a raised failure's message is a cut transfer.
    static bool isCut(const String& message);

    // The wait before the attempt after a cut (reason); progressed: the cut
    // attempt brought bytes.
    std::optional<Clock::Duration> afterCut(const String& reason, bool progressed);
    // The wait before the attempt after a busy answer, or none (no
    // Retry-After, one beyond the cap, or no attempt left).
    std::optional<Clock::Duration> afterBusy(int status, const String& retryAfter);

private:
    std::optional<Clock::Duration> next(const String& why, std::optional<Clock::Duration> delay);

    Backoff& backoff_;
    const String url_;
    int failures_ = 0;  // attempts in a row that brought nothing
};
