#pragma once

#include "Clock.h"

// The real clock: std::chrono::steady_clock, and nanosleep.
class SteadyClock : public Clock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    void sleep(Duration duration) override;
};
