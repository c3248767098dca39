#include <gtest/gtest.h>

#include "net/ContentRange.h"

namespace {
struct RangeCase {
    const char* name;
    const char* value;
    bool accepted;
    int64_t first;
    int64_t last;
    int64_t total;
};

void PrintTo(const RangeCase& c, std::ostream* os) {
    *os << testing::PrintToString(std::string(c.value));
}

class ContentRangeTest : public testing::TestWithParam<RangeCase> {};

TEST_P(ContentRangeTest, ParsesOrRefuses) {
    const RangeCase& c = GetParam();
    std::optional<ContentRange> range = ContentRange::parse(c.value);
    ASSERT_EQ(range.has_value(), c.accepted);
    if (c.accepted) {
        EXPECT_EQ(range->first, c.first);
        EXPECT_EQ(range->last, c.last);
        EXPECT_EQ(range->total, c.total);
        EXPECT_EQ(range->length(), c.last - c.first + 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, ContentRangeTest,
    testing::Values(RangeCase{"Plain", "bytes 0-99/1000", true, 0, 99, 1000},
                    RangeCase{"LastByteOfTheFile", "Bytes 5-5/6", true, 5, 5, 6},
                    RangeCase{"UnknownTotal", "BYTES 100-199/*", true, 100, 199, -1},
                    RangeCase{"WhitespaceAround", " \tbytes 0-0/* ", true, 0, 0, -1},
                    RangeCase{"LargestTotal", "bytes 0-9223372036854775806/9223372036854775807",
                              true, 0, 9223372036854775806, 9223372036854775807},
                    RangeCase{"OtherUnit", "items 0-1/2", false, 0, 0, 0},
                    RangeCase{"EqualsInsteadOfSpace", "bytes=0-1/10", false, 0, 0, 0},
                    RangeCase{"Unsatisfied", "bytes */1000", false, 0, 0, 0},
                    RangeCase{"LastBeforeFirst", "bytes 5-4/10", false, 0, 0, 0},
                    RangeCase{"LastAtTotal", "bytes 0-10/10", false, 0, 0, 0},
                    RangeCase{"MinusSign", "bytes -1-5/10", false, 0, 0, 0},
                    RangeCase{"PlusSign", "bytes +1-5/10", false, 0, 0, 0},
                    RangeCase{"SignedTotal", "bytes 1-5/+10", false, 0, 0, 0},
                    RangeCase{"SpaceBeforeDash", "bytes 1 -5/10", false, 0, 0, 0},
                    RangeCase{"SpaceAfterDash", "bytes 1- 5/10", false, 0, 0, 0},
                    RangeCase{"SpaceBeforeTotal", "bytes 0-1/ 10", false, 0, 0, 0},
                    RangeCase{"TwoSpacesAfterUnit", "bytes  0-1/10", false, 0, 0, 0},
                    RangeCase{"LastOverflows", "bytes 0-99999999999999999999/*", false, 0, 0, 0},
                    RangeCase{"TotalOverflows", "bytes 0-1/9223372036854775808", false, 0, 0, 0},
                    RangeCase{"LengthBeyondInt64", "bytes 0-9223372036854775807/*", false, 0, 0, 0},
                    RangeCase{"TrailingText", "bytes 0-1/10 x", false, 0, 0, 0},
                    RangeCase{"SecondRange", "bytes 0-1/10,2-3/10", false, 0, 0, 0},
                    RangeCase{"NoTotal", "bytes 0-1", false, 0, 0, 0},
                    RangeCase{"EmptyTotal", "bytes 0-1/", false, 0, 0, 0},
                    RangeCase{"UnitOnly", "bytes", false, 0, 0, 0}),
    [](const testing::TestParamInfo<RangeCase>& info) { return info.param.name; });
}  // namespace
