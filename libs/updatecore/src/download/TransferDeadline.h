#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "Clock.h"
#include "Exception.h"

// How long one file may take to arrive, over all its attempts and servers:
// kBase plus its size at kMinBytesPerSecond. Only the time its transfers
// run counts: the waits between attempts and the pacing pauses do not.
class TransferDeadline {
public:
    static constexpr Clock::Duration kBase = std::chrono::seconds(60);
    static constexpr int64_t kMinBytesPerSecond = 8 * 1024;

    // Counts time while it lives.
    class Running {
    public:
        explicit Running(TransferDeadline& deadline) : deadline_(deadline) { deadline_.start(); }
        ~Running() { deadline_.stop(); }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

    private:
        TransferDeadline& deadline_;
    };

    TransferDeadline(int64_t size, const Clock& clock);

    // Time counts from now until stop.
    void start();
    void stop();
    // A pause taken while time counts.
    void paused(Clock::Duration pause) { spent_ -= pause; }
    bool passed() const;
    Clock::Duration limit() const { return limit_; }

private:
    Clock::Duration spentNow() const;

    const Clock& clock_;
    Clock::Duration limit_;
    Clock::Duration spent_{};
    std::optional<Clock::TimePoint> running_;
};

// Raised by a transfer that runs past its deadline; what arrived stays.
class DeadlineException : public IOException {
public:
    DeadlineException(const char* source, int line)
        : IOException("EC_READ_TIMEOUT: download deadline passed", source, line) {}
};
