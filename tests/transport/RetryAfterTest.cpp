#include <gtest/gtest.h>

#include <limits>

#include "net/RetryAfter.h"

namespace {

// 2026-12-09 07:00:00 UTC
constexpr std::time_t kNow = 1796799600;

struct RetryAfterCase {
    const char* value;
    std::optional<int64_t> seconds;
};

void PrintTo(const RetryAfterCase& c, std::ostream* os) {
    *os << testing::PrintToString(std::string(c.value));
}

class RetryAfterTest : public testing::TestWithParam<RetryAfterCase> {};

TEST_P(RetryAfterTest, GivesTheWaitOrNone) {
    EXPECT_EQ(RetryAfter::seconds(GetParam().value, kNow), GetParam().seconds);
}

constexpr std::optional<int64_t> kNone;

INSTANTIATE_TEST_SUITE_P(
    Values, RetryAfterTest,
    testing::Values(RetryAfterCase{"120", 120}, RetryAfterCase{"0", 0}, RetryAfterCase{" 7 ", 7},
                    RetryAfterCase{"99999999999999999999", std::numeric_limits<int64_t>::max()},
                    RetryAfterCase{"Wed, 09 Dec 2026 07:00:30 GMT", 30},
                    RetryAfterCase{"Wednesday, 09-Dec-26 07:05:00 GMT", 300},
                    RetryAfterCase{"Wed Dec  9 08:00:00 2026", 3600},
                    RetryAfterCase{"Tue, 08 Dec 2026 07:00:00 GMT", 0},  // past
                    RetryAfterCase{"-5", kNone}, RetryAfterCase{"+5", kNone},
                    RetryAfterCase{"1.5", kNone}, RetryAfterCase{"5s", kNone},
                    RetryAfterCase{"", kNone},
                    RetryAfterCase{"Wed, 09 Dec 2026 07:00:30 PST", kNone},
                    RetryAfterCase{"Wed, 09 Dec 2026 07:00:30 GMT trailing", kNone},
                    RetryAfterCase{"tomorrow", kNone}));

}  // namespace
