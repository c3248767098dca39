#pragma once

#include <chrono>

// Monotonic time and waiting, for pacing, time-outs, retries and budgets.
// The code that paces or times out takes a Clock, by default the process
// clock; tests give it a fake one whose sleep only moves its time on.
class Clock {
public:
    using Duration = std::chrono::steady_clock::duration;
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;

    // Never goes back, whatever happens to the time of day.
    virtual TimePoint now() const = 0;
    // Waits for duration, or less when a signal handler ran meanwhile (as
    // sleep(3) does), so that a stop request is not held up.
    virtual void sleep(Duration duration) = 0;

    // The clock of the whole process: the steady clock unless replaced.
    static Clock& process();
    // Makes clock the process clock (nullptr: the steady clock again) and
    // returns the one it replaces; for tests of whole sessions.
    static Clock* replaceProcess(Clock* clock);
};
