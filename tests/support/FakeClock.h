#pragma once

#include <vector>

#include "Clock.h"

// A clock that stands still until the test moves it on; a sleep moves it on
// by the time asked, at once, and is remembered.
//
//   FakeClock clock;
//   ProcessClockOverride onFakeTime(clock);  // for code that takes the process clock
//   clock.advance(std::chrono::seconds(30));
class FakeClock : public Clock {
public:
    TimePoint now() const override { return now_; }
    void sleep(Duration duration) override {
        sleeps_.push_back(duration);
        now_ += duration;
    }

    void advance(Duration duration) { now_ += duration; }
    // Every sleep so far, oldest first.
    const std::vector<Duration>& sleeps() const { return sleeps_; }

private:
    TimePoint now_{};
    std::vector<Duration> sleeps_;
};

// Makes a clock the process clock while it lives.
class ProcessClockOverride {
public:
    explicit ProcessClockOverride(Clock& clock) : replaced_(Clock::replaceProcess(&clock)) {}
    ~ProcessClockOverride() { Clock::replaceProcess(replaced_); }
    ProcessClockOverride(const ProcessClockOverride&) = delete;
    ProcessClockOverride& operator=(const ProcessClockOverride&) = delete;

private:
    Clock* replaced_;
};
