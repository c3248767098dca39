#include "delta/DeltaPlan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeltaTestFiles.h"
#include "delta/BlockMatcher.h"

namespace {

constexpr int64_t M = BlockMatcher::kMissing;

struct PlanCase {
    const char* name;
    uint64_t from;
    std::vector<DeltaPiece> pieces;
    std::vector<std::vector<ByteRange>> requests;
};

void PrintTo(const PlanCase& c, std::ostream* os) {
    *os << c.name;
}

class DeltaPlanTest : public testing::TestWithParam<PlanCase> {};

// Seven blocks of 1 KiB, the last 1000 bytes: 0 and 1 are in the seed apart,
// 4 and 5 one after the other, 2, 3 and 6 are fetched.
TEST_P(DeltaPlanTest, CutsAndMergesPieces) {
    const PlanCase& c = GetParam();
    BlockIndex index = indexOf(std::string(7 * 1024 - 24, 'z'), 1024);
    DeltaPlan plan(index, {0, 3072, M, M, 7168, 8192, M}, c.from);
    EXPECT_EQ(plan.pieces(), c.pieces);
    EXPECT_EQ(plan.requests(), c.requests);
    uint64_t fetched = 0;
    for (const DeltaPiece& piece : c.pieces) {
        fetched += piece.seedOffset == M ? piece.length : 0;
    }
    EXPECT_EQ(plan.fetchBytes(), fetched);
    EXPECT_EQ(plan.seedBytes() + plan.fetchBytes(), index.fileSize() - c.from);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DeltaPlanTest,
    testing::Values(PlanCase{"Whole",
                             0,
                             {{0, 1024, 0},
                              {1024, 1024, 3072},
                              {2048, 2048, M},
                              {4096, 2048, 7168},
                              {6144, 1000, M}},
                             {{{2048, 4095}, {6144, 7143}}}},
                    PlanCase{
                        "ResumedInACopiedBlock",
                        1124,
                        {{1124, 924, 3172}, {2048, 2048, M}, {4096, 2048, 7168}, {6144, 1000, M}},
                        {{{2048, 4095}, {6144, 7143}}}},
                    PlanCase{"ResumedInAFetchedBlock",
                             3000,
                             {{3000, 1096, M}, {4096, 2048, 7168}, {6144, 1000, M}},
                             {{{3000, 4095}, {6144, 7143}}}},
                    PlanCase{"ResumedAtTheEnd", 7144, {}, {}}),
    [](const testing::TestParamInfo<PlanCase>& info) { return std::string(info.param.name); });

// 200 blocks, every other one fetched: 100 ranges in requests of at most 64.
// (64 ranges of at most 41 characters each cannot reach the header limit,
// which is checked all the same.)
TEST(DeltaPlanRequestsTest, GroupsRangesWithinTheLimits) {
    BlockIndex index = indexOf(std::string(200 * 1024, 'z'), 1024);
    std::vector<int64_t> matches(200, M);
    std::vector<ByteRange> wanted;
    for (size_t i = 0; i < matches.size(); ++i) {
        if (i % 2 == 0) {
            matches[i] = static_cast<int64_t>(i) * 1024;
        } else {
            wanted.push_back({i * 1024, i * 1024 + 1023});
        }
    }
    std::vector<std::vector<ByteRange>> requests = DeltaPlan(index, matches).requests();

    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].size(), DeltaPlan::kMaxRangesPerRequest);
    std::vector<ByteRange> all;
    for (const std::vector<ByteRange>& group : requests) {
        EXPECT_LE(DeltaPlan::rangeHeader(group).size(), DeltaPlan::kMaxRangeHeaderBytes);
        all.insert(all.end(), group.begin(), group.end());
    }
    EXPECT_EQ(all, wanted);
    EXPECT_EQ(DeltaPlan::rangeHeader({{0, 99}, {200, 299}}), "bytes=0-99,200-299");
}

}  // namespace
