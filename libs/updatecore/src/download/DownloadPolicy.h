#pragma once

#include <cstdint>

#include "String.h"
#include "session/ExchangePolicy.h"

class ResumeSource;
struct DownloadOptions;

// A server's answer that brings no file.
struct WrongAnswer {
    int status;
    // The status was right but the length does not add up to the size.
    bool badLength;
    // The answer to a request for the whole file (not a resume).
    bool whole;
};

// How the downloads of packages and of firmware differ: the connection,
// where they resume from, what they report while they run, and what a
// wrong answer means. Everything else of a download is the same for both.
class DownloadPolicy {
public:
    virtual ~DownloadPolicy() = default;

    // A download session id first, then plain HTTP.
    virtual bool plain(const DownloadOptions& options) const = 0;
    virtual ResumeSource& resume() = 0;
    // How the run over the servers goes; it ends at a raised failure.
    virtual ExchangePolicy exchange() const = 0;

    virtual void started(int32_t size) = 0;
    virtual void progressed(int32_t received, int32_t size) = 0;
    virtual void sessionIdReceived(const String&) {}
    // Each answer's status, redirects included.
    virtual void answered(int) {}
    // Says what was wrong (in the caller's words); true to try the next
    // server, false to end the download.
    virtual bool nextServerAfter(const WrongAnswer& answer) = 0;
};
