#pragma once

#include <chrono>
#include <cstdint>

#include "Clock.h"

// The lowest rate a download may keep: a server that sends just enough to
// beat each read's time-out must still not hold a run for hours. Measured
// over windows of max(time-out, 30 s) of transfer time; pacing sleeps do
// not count.
class DownloadRate {
public:
    static constexpr int64_t kMinBytesPerSecond = 1024;
    static constexpr std::chrono::seconds kMinWindow{30};

    explicit DownloadRate(int timeoutMs, const Clock& clock = Clock::process());

    // After count bytes arrived: raises the read time-out (SocketException,
    // EC_READ_TIMEOUT) once a whole window brought less than the lowest
    // rate.
    void received(int count);
    // A pacing sleep that must not count as transfer time.
    void paused(Clock::Duration pause);

    Clock::Duration window() const { return window_; }

private:
    const Clock& clock_;
    Clock::Duration window_;
    Clock::TimePoint windowStart_;
    Clock::Duration pausedInWindow_{};
    int64_t bytesInWindow_ = 0;
};
