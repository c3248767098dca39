#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "Clock.h"
#include "String.h"
#include "download/DownloadRate.h"

class InputStream;
class OutputStream;
class TransferDeadline;

// Moves a download's body to its file in 1024-byte chunks: a progress
// report at each further kProgressSteps-th of the size, a log line at each
// further whole percentage, and the pacing sleeps (pauseSeconds after each
// throttleKB KiB). A transfer slower than DownloadRate allows ends with the
// read time-out, one past the deadline it watches with DeadlineException.
class FileTransfer {
public:
    using Progress = std::function<void(int32_t received)>;

    FileTransfer(int throttleKB, int pauseSeconds, int timeoutMs, Clock& clock = Clock::process())
        : throttleKB_(throttleKB),
          pauseSeconds_(pauseSeconds),
          timeoutMs_(timeoutMs),
          clock_(clock) {}

    // From received on, never past size; the byte count on disk at the end.
    int32_t run(InputStream& body, OutputStream& out, int32_t received, int32_t size,
                const String& name, const Progress& progress);

    // A file that arrives in pieces (a delta): start once, then each piece
    // from its stream (copy, paced) or from elsewhere (advance, not paced),
    // the reports counting the whole file.
    void start(int32_t size, const String& name, const Progress& progress);
    // From received on, never past end; the byte count on disk at the end.
    int32_t copy(InputStream& body, OutputStream& out, int32_t received, int32_t end);
    // received bytes are on disk now.
    void advance(int32_t received);

    // The file's deadline, told of the pacing pauses and checked at every
    // chunk.
    void watch(TransferDeadline& deadline) { deadline_ = &deadline; }

    // "Download <name> (<received> of <size>)"
    static String downloadLine(const String& name, int32_t received, int32_t size);

private:
    void reportStep(int32_t received);
    void logPercentage(int32_t received);
    void pace(int chunk);

    int throttleKB_;
    int pauseSeconds_;
    int timeoutMs_;
    Clock& clock_;
    std::optional<DownloadRate> rate_;  // over the whole file, from start on
    TransferDeadline* deadline_ = nullptr;
    int32_t size_ = 0;
    String name_;
    Progress progress_;
    int32_t steps_ = 0;    // progress reports made, 0 to kProgressSteps
    int32_t percent_ = 0;  // last whole percentage logged
    int64_t sincePause_ = 0;
};
