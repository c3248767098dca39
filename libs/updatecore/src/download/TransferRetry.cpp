#include "download/TransferRetry.h"

#include <cstdio>
#include <ctime>

#include "Utils.h"
#include "net/RetryAfter.h"
#include "net/URL.h"
#include "report/Report.h"
#include "session/Backoff.h"

namespace {

// The beginnings of the messages of a transfer that broke off once under
// way, rather than a server that cannot be reached.
constexpr const char* kCuts[] = {
    "EC_READ_FAILED",          "EC_READ_TIMEOUT",    "EC_WRITE_FAILED",
    TransferRetry::kShortBody, "multipart body cut",
};

String secondsText(Clock::Duration delay) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(delay).count());
    return String(text);
}

}  // namespace

bool TransferRetry::isCut(const String& message) {
    for (const char* cut : kCuts) {
        if (message.startsWith(cut)) {
            return true;
        }
    }
    return false;
}

std::optional<Clock::Duration> TransferRetry::afterCut(const String& reason, bool progressed) {
    failures_ = progressed ? 1 : failures_ + 1;
    return next("download cut (" + reason + ")", backoff_.afterCut(failures_));
}

std::optional<Clock::Duration> TransferRetry::afterBusy(int status, const String& retryAfter) {
    std::optional<int64_t> seconds = RetryAfter::seconds(retryAfter, std::time(nullptr));
    ++failures_;
    String why = "server busy (" + decimalText(status) + ", Retry-After " + retryAfter + ")";
    if (!seconds) {
        return std::nullopt;
    }
    std::optional<Clock::Duration> delay = Backoff::afterRetryAfter(*seconds);
    if (!delay) {
        logWarning("LmUpdate: " + why + ": longer than the cap: " + URL::masked(url_));
    }
    return delay ? next(why, delay) : std::nullopt;
}

std::optional<Clock::Duration> TransferRetry::next(const String& why,
                                                   std::optional<Clock::Duration> delay) {
    if (failures_ >= Backoff::kAttempts) {
        logWarning("LmUpdate: " + why + ": no attempt left at this server: " + URL::masked(url_));
        return std::nullopt;
    }
    if (!backoff_.take(*delay)) {
        logWarning("LmUpdate: " + why + ": the run has waited its limit: " + URL::masked(url_));
        return std::nullopt;
    }
    logWarning("LmUpdate: " + why + ": attempt " + decimalText(failures_ + 1) + " of " +
               decimalText(Backoff::kAttempts) + " in " + secondsText(*delay) + ": " +
               URL::masked(url_));
    return delay;
}
