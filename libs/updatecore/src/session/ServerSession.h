#pragma once

#include <cstdint>
#include <utility>

#include "session/ConnectionFactory.h"
#include "session/DownloadOptions.h"

// The connections of one command run with the update servers: made as the
// run's options say, and what they brought counted for the run. Every
// connection of the run is made and released through a ServerCall, which
// counts it here once.
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

    void countReceived(int64_t bytes) { bytesFetched_ += bytes; }
    void noteStatus(int status) { lastStatus_ = status; }

private:
    const DownloadOptions options_;
    const ConnectionFactory connections_;
    int64_t bytesFetched_ = 0;
    int lastStatus_ = 200;
};
