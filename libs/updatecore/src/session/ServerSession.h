#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "session/Backoff.h"
#include "session/ConnectionFactory.h"
#include "session/DownloadOptions.h"
#include "state/ByteBudget.h"
#include "state/FailureCause.h"

// The connections of one command run with the update servers: made as the
// run's options say, and what they brought counted for the run. Every
// connection of the run is made and released through a ServerCall, which
// counts it here once, and charges it to the daily byte budget. The waits
// between attempts are the run's too.
class ServerSession {
public:
    explicit ServerSession(DownloadOptions options = DownloadOptions())
        : options_(std::move(options)), connections_(options_.plainDownload) {}
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

    const DownloadOptions& options() const { return options_; }
    const ConnectionFactory& connections() const { return connections_; }

    // The bytes of HTTP heads and bodies received on every connection of
    // the run: answers, packages and firmware.
    int64_t bytesFetched() const { return bytesFetched_; }
    // The status of the last answer a server gave (200 before any).
    int lastStatus() const { return lastStatus_; }

    void countReceived(int64_t bytes);
    void noteStatus(int status) { lastStatus_ = status; }

    // The daily byte budget of the settings (read once).
    ByteBudget& budget();
    // Charges fetched, the run's bytes so far, and tells whether a
    // transfer expecting bytes more may start.
    bool budgetAllows(int64_t fetched, int64_t bytes);
    // The budget's line on standard error, its error name on standard
    // output.
    void reportBudgetReached();
    Backoff& backoff() { return backoff_; }
    // The last failure of an exchange or an answer this run: the run
    // report's cause where no product has one.
    const FailureCause& cause() const { return cause_; }
    void noteCause(const FailureCause& cause) { cause_ = cause; }

private:
    const DownloadOptions options_;
    const ConnectionFactory connections_;
    Backoff backoff_;
    std::optional<ByteBudget> budget_;
    int64_t bytesFetched_ = 0;
    int lastStatus_ = 200;
    FailureCause cause_;
};
