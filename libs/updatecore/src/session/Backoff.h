#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>

#include "Clock.h"

// The waits of one run between the attempts of its transfers: after a cut,
// an exponential backoff with full jitter; after a 503 or 429, the server's
// Retry-After within a cap; all of them together within kRunLimit, so that
// a run on a bad link still ends.
class Backoff {
public:
    static constexpr Clock::Duration kBase = std::chrono::seconds(1);
    static constexpr Clock::Duration kCap = std::chrono::seconds(60);
    static constexpr Clock::Duration kRetryAfterCap = std::chrono::seconds(300);
    static constexpr Clock::Duration kRunLimit = std::chrono::minutes(15);
    // Attempts per file and server before the next server.
    static constexpr int kAttempts = 5;
    // Names the base in milliseconds (at most kBase): tests wait less.
    static constexpr const char* kBaseVariable = "LMUPDATE_BACKOFF_BASE_MS";

    explicit Backoff(Clock::Duration base = baseFromEnvironment(),
                     uint64_t seed = std::random_device()());

    // The longest wait before the attempt after failed attempt number
    // failures (1, 2, ...): base doubled each time, at most kCap.
    Clock::Duration ceiling(int failures) const;
    // A wait drawn evenly from zero to ceiling(failures).
    Clock::Duration afterCut(int failures);
    // The wait a Retry-After of seconds asks for; none above kRetryAfterCap.
    static std::optional<Clock::Duration> afterRetryAfter(int64_t seconds);
    // Whether delay fits in what the run may still wait; it is counted
    // when it does.
    bool take(Clock::Duration delay);
    Clock::Duration waited() const { return waited_; }

    // Sleeps delay on clock unless a stop signal ends the wait first;
    // false when one did.
    static bool wait(Clock& clock, Clock::Duration delay);

private:
    static Clock::Duration baseFromEnvironment();

    Clock::Duration base_;
    std::mt19937_64 random_;
    Clock::Duration waited_{};
};
