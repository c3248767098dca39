#include "session/Backoff.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "StopSignals.h"

Backoff::Backoff(Clock::Duration base, uint64_t seed) : base_(base), random_(seed) {}

Clock::Duration Backoff::ceiling(int failures) const {
    Clock::Duration wait = base_;
    for (int i = 1; i < failures && wait < kCap; ++i) {
        wait *= 2;
    }
    return std::min(wait, kCap);
}

Clock::Duration Backoff::afterCut(int failures) {
    auto most = std::chrono::duration_cast<std::chrono::milliseconds>(ceiling(failures));
    std::uniform_int_distribution<int64_t> draw(0, most.count());
    return std::chrono::milliseconds(draw(random_));
}

std::optional<Clock::Duration> Backoff::afterRetryAfter(int64_t seconds) {
    if (seconds < 0 ||
        seconds > std::chrono::duration_cast<std::chrono::seconds>(kRetryAfterCap).count()) {
        return std::nullopt;
    }
    return std::chrono::seconds(seconds);
}

bool Backoff::take(Clock::Duration delay) {
    if (waited_ + delay > kRunLimit) {
        return false;
    }
    waited_ += delay;
    return true;
}

bool Backoff::wait(Clock& clock, Clock::Duration delay) {
    Clock::TimePoint end = clock.now() + delay;
    // A signal that is not a stop request also cuts a sleep short.
    while (!StopSignals::requested() && clock.now() < end) {
        clock.sleep(end - clock.now());
    }
    return !StopSignals::requested();
}

// An invalid value, or one above kBase, keeps kBase.
Clock::Duration Backoff::baseFromEnvironment() {
    const char* text = std::getenv(kBaseVariable);
    if (text == nullptr) {
        return kBase;
    }
    int64_t ms = -1;
    const char* end = text + std::strlen(text);
    auto [stop, error] = std::from_chars(text, end, ms);
    if (error != std::errc() || stop != end || ms < 0 || std::chrono::milliseconds(ms) > kBase) {
        return kBase;
    }
    return std::chrono::milliseconds(ms);
}
