// The waits between attempts and the deadline of a transfer, on a clock the
// test moves.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "FakeClock.h"
#include "download/TransferDeadline.h"
#include "session/Backoff.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::minutes;
using std::chrono::seconds;

TEST(BackoffTest, CeilingDoublesFromTheBaseUpToTheCap) {
    Backoff backoff(seconds(1), 1);
    const int64_t expected[] = {1, 2, 4, 8, 16, 32, 60, 60};
    for (int failures = 1; failures <= 8; ++failures) {
        EXPECT_EQ(backoff.ceiling(failures), seconds(expected[failures - 1])) << failures;
    }
}

// Full jitter: anywhere from nothing to the ceiling, not a fixed share.
TEST(BackoffTest, WaitsAreDrawnFromZeroToTheCeiling) {
    Backoff backoff(seconds(1), 7);
    std::set<Clock::Duration::rep> seen;
    for (int i = 0; i < 200; ++i) {
        Clock::Duration wait = backoff.afterCut(3);
        ASSERT_GE(wait, Clock::Duration::zero());
        ASSERT_LE(wait, seconds(4));
        seen.insert(wait.count());
    }
    EXPECT_GT(seen.size(), 100U);
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](auto ns) { return ns < 1'000'000'000; }));
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](auto ns) { return ns > 3'000'000'000; }));
}

TEST(BackoffTest, RetryAfterIsTakenUpToItsCap) {
    EXPECT_EQ(Backoff::afterRetryAfter(0), seconds(0));
    EXPECT_EQ(Backoff::afterRetryAfter(300), seconds(300));
    EXPECT_EQ(Backoff::afterRetryAfter(301), std::nullopt);
    EXPECT_EQ(Backoff::afterRetryAfter(std::numeric_limits<int64_t>::max()), std::nullopt);
}

TEST(BackoffTest, ARunWaitsFifteenMinutesInAll) {
    Backoff backoff(seconds(1), 1);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(backoff.take(seconds(300)));
    }
    EXPECT_FALSE(backoff.take(milliseconds(1)));
    EXPECT_EQ(backoff.waited(), minutes(15));
}

TEST(BackoffTest, TheEnvironmentMayOnlyShortenTheBase) {
    const struct {
        const char* value;
        Clock::Duration base;
    } cases[] = {{"10", milliseconds(10)}, {"0", milliseconds(0)}, {"1000", seconds(1)},
                 {"5000", seconds(1)},     {"-3", seconds(1)},     {"7ms", seconds(1)}};
    for (const auto& c : cases) {
        setenv(Backoff::kBaseVariable, c.value, 1);
        EXPECT_EQ(Backoff().ceiling(1), c.base) << c.value;
    }
    unsetenv(Backoff::kBaseVariable);
}

TEST(BackoffTest, AWaitSleepsItsWholeLength) {
    FakeClock clock;
    EXPECT_TRUE(Backoff::wait(clock, milliseconds(2500)));
    EXPECT_EQ(clock.now() - Clock::TimePoint{}, milliseconds(2500));
}

// 60 s plus the size at 8 KiB/s, counting only the time transfers run.
TEST(TransferDeadlineTest, CountsTransferTimeOnly) {
    FakeClock clock;
    TransferDeadline deadline(8192 * 40, clock);
    EXPECT_EQ(deadline.limit(), seconds(100));
    {
        TransferDeadline::Running counting(deadline);
        clock.advance(seconds(70));
        deadline.paused(seconds(20));  // pacing
    }
    clock.advance(minutes(10));  // a wait between attempts
    EXPECT_FALSE(deadline.passed());
    TransferDeadline::Running counting(deadline);
    clock.advance(seconds(50));
    EXPECT_FALSE(deadline.passed());
    clock.advance(seconds(1));
    EXPECT_TRUE(deadline.passed());
}

}  // namespace
