#pragma once

#include <cstdint>
#include <ctime>

#include "String.h"

// The daily byte budget of a metered link: the bytes fetched from the
// servers per calendar day (UTC), counted in conf/lm-byte-count by every
// run of the day, so that a killed run's bytes count too:
//   <LmByteCount><Day date="2026-12-09" bytes="1234"/></LmByteCount>
// A run charges what its session has fetched as it goes (only what is new
// since its last charge, so nothing counts twice); a transfer starts only
// when what it expects fits in what the day has left. A counter that
// cannot be read counts the day as spent; one dated after today (the clock
// went back) keeps counting that day.
class ByteBudget {
public:
    static constexpr char kFile[] = "conf/lm-byte-count";
    static constexpr int64_t kMiB = 1024 * 1024;

    // limit: bytes per day, 0 for none (nothing is counted then).
    explicit ByteBudget(int64_t limit = 0) : limit_(limit) {}

    bool limited() const { return limit_ > 0; }
    // Adds what the run has fetched beyond its last charge, total being
    // all it has fetched so far.
    void charge(int64_t total, std::time_t now);
    // Whether a transfer expecting bytes may start now.
    bool allows(int64_t bytes, std::time_t now);
    // The day's count as last read or written.
    int64_t used() const { return used_; }
    int64_t limit() const { return limit_; }

    // "LmUpdate: daily byte budget reached: USED of LIMIT MiB"
    String reachedLine() const;
    // "2026-12-09"
    static String dayOf(std::time_t now);

private:
    // The day to count in and its bytes so far, from the file.
    void read(std::time_t now);
    void write() const;

    const int64_t limit_;
    int64_t charged_ = 0;  // of the run's total
    String day_;
    int64_t used_ = 0;
};
