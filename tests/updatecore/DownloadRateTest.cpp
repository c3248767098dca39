// The lowest download rate, on a clock the test moves.
#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "FakeClock.h"
#include "download/DownloadRate.h"
#include "net/SocketException.h"

namespace {

using std::chrono::milliseconds;

// One read: the time it took, what it brought, and a pacing sleep after it.
struct Read {
    int ms;
    int bytes;
    int pauseMs;
};

std::vector<Read> repeated(int count, Read read) {
    return std::vector<Read>(static_cast<size_t>(count), read);
}

std::vector<Read> joined(std::vector<Read> first, const std::vector<Read>& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

struct RateCase {
    const char* name;
    int timeoutMs;
    std::vector<Read> reads;
    int failsAtRead;  // -1: never
};

void PrintTo(const RateCase& c, std::ostream* out) {
    *out << c.name;
}

class DownloadRateTest : public testing::TestWithParam<RateCase> {};

TEST_P(DownloadRateTest, EndsOnlyAfterAWholeSlowWindow) {
    const RateCase& c = GetParam();
    FakeClock clock;
    DownloadRate rate(c.timeoutMs, clock);
    int failedAt = -1;
    for (size_t i = 0; i < c.reads.size() && failedAt < 0; ++i) {
        clock.advance(milliseconds(c.reads[i].ms));
        try {
            rate.received(c.reads[i].bytes);
        } catch (const SocketException& e) {
            failedAt = static_cast<int>(i);
            EXPECT_TRUE(e.getMessage().startsWith("EC_READ_TIMEOUT: ")) << e.getMessage().str();
        }
        clock.advance(milliseconds(c.reads[i].pauseMs));
        rate.paused(milliseconds(c.reads[i].pauseMs));
    }
    EXPECT_EQ(failedAt, c.failsAtRead);
}

INSTANTIATE_TEST_SUITE_P(
    Reads, DownloadRateTest,
    testing::Values(
        RateCase{"JustBelowOneKiBPerSecond", 3000, repeated(40, {1000, 1000, 0}), 29},
        RateCase{"OneKiBPerSecond", 3000, repeated(40, {1000, 1024, 0}), -1},
        RateCase{"LongerTimeoutIsTheWindow", 60000, repeated(70, {1000, 1000, 0}), 59},
        RateCase{"PacingSleepsDoNotCount", 3000, repeated(40, {1000, 1024, 10000}), -1},
        RateCase{"FastWindowLendsNothingToTheNext", 3000,
                 joined(repeated(30, {1000, 4096, 0}), repeated(40, {1000, 100, 0})), 59},
        RateCase{"OneStalledReadLongerThanTheWindow", 3000, {{500, 4096, 0}, {31000, 1, 0}}, 1}),
    [](const testing::TestParamInfo<RateCase>& info) { return info.param.name; });

}  // namespace
