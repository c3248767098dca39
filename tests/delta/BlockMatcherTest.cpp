#include "delta/BlockMatcher.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "DeltaTestFiles.h"
#include "delta/DeltaPlan.h"

namespace {

constexpr int64_t M = BlockMatcher::kMissing;
constexpr int64_t L = 4096;

struct Files {
    std::string seed;
    std::string newFile;
    std::vector<int64_t> expected;  // per block of the new file
};

struct MatchCase {
    const char* name;
    uint32_t blockSize;
    // Builds the files from eight blocks of random bytes.
    std::function<Files(const std::string& base)> make;
};

std::string blocks(const std::string& base, std::initializer_list<int> numbers, int64_t size = L) {
    std::string out;
    for (int n : numbers) {
        out += base.substr(static_cast<size_t>(n * size), static_cast<size_t>(size));
    }
    return out;
}

std::string inserted(std::string text, size_t at, size_t count) {
    return text.insert(at, randomBytes(count, 99));
}

std::string overwritten(std::string text, std::initializer_list<int> numbers, int64_t size = L) {
    for (int n : numbers) {
        text.replace(static_cast<size_t>(n * size), static_cast<size_t>(size),
                     randomBytes(static_cast<size_t>(size), 1000 + n));
    }
    return text;
}

// The new file as the plan rebuilds it: seed pieces from the seed, the rest
// from the new file itself, standing in for the server.
std::string rebuilt(const DeltaPlan& plan, const Files& files) {
    std::string out;
    for (const DeltaPiece& piece : plan.pieces()) {
        bool fetched = piece.seedOffset == M;
        const std::string& source = fetched ? files.newFile : files.seed;
        out += source.substr(fetched ? piece.offset : static_cast<size_t>(piece.seedOffset),
                             piece.length);
    }
    return out;
}

void PrintTo(const MatchCase& c, std::ostream* os) {
    *os << c.name;
}

class BlockMatcherTest : public testing::TestWithParam<MatchCase> {};

TEST_P(BlockMatcherTest, FindsTheSeedsBlocksAndRebuildsTheFile) {
    const MatchCase& c = GetParam();
    Files files = c.make(randomBytes(8 * c.blockSize, 7));
    BlockIndex index = indexOf(files.newFile, c.blockSize);
    TempRoot root;
    std::vector<int64_t> matches =
        BlockMatcher(index).match(fileWith(root, "seed", files.seed).get());

    EXPECT_EQ(matches, files.expected);
    DeltaPlan plan(index, matches);
    EXPECT_EQ(rebuilt(plan, files), files.newFile);
    uint64_t changed = 0;
    for (size_t i = 0; i < files.expected.size(); ++i) {
        changed += files.expected[i] == M ? index.blockLength(i) : 0;
    }
    EXPECT_EQ(plan.fetchBytes(), changed);
    EXPECT_EQ(plan.seedBytes() + plan.fetchBytes(), files.newFile.size());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BlockMatcherTest,
    testing::Values(
        MatchCase{"MovedBlock", L,
                  [](const std::string& base) {
                      return Files{blocks(base, {0, 5, 1, 2, 3, 4, 6, 7}),
                                   base,
                                   {0, 2 * L, 3 * L, 4 * L, 5 * L, L, 6 * L, 7 * L}};
                  }},
        // The last block of the new file is the seed's last byte.
        MatchCase{"InsertedOneByte", L,
                  [](const std::string& base) {
                      return Files{base,
                                   inserted(base, 2 * L + 100, 1),
                                   {0, L, M, 3 * L - 1, 4 * L - 1, 5 * L - 1, 6 * L - 1, 7 * L - 1,
                                    8 * L - 1}};
                  }},
        MatchCase{"Inserted1000Bytes", L,
                  [](const std::string& base) {
                      return Files{base,
                                   inserted(base, 2 * L + 100, 1000),
                                   {0, L, M, 3 * L - 1000, 4 * L - 1000, 5 * L - 1000, 6 * L - 1000,
                                    7 * L - 1000, 8 * L - 1000}};
                  }},
        MatchCase{"Deleted1000Bytes", L,
                  [](const std::string& base) {
                      std::string shorter = base;
                      shorter.erase(3 * L + 100, 1000);
                      return Files{
                          base,
                          shorter,
                          {0, L, 2 * L, M, 4 * L + 1000, 5 * L + 1000, 6 * L + 1000, 7 * L + 1000}};
                  }},
        MatchCase{"ScatteredOverwrites", L,
                  [](const std::string& base) {
                      return Files{base,
                                   overwritten(base, {1, 4, 6}),
                                   {0, M, 2 * L, 3 * L, M, 5 * L, M, 7 * L}};
                  }},
        MatchCase{"EmptySeed", L,
                  [](const std::string& base) {
                      return Files{"", base, std::vector<int64_t>(8, M)};
                  }},
        MatchCase{"SeedLargerThanTheNewFile", L,
                  [](const std::string& base) {
                      return Files{base, blocks(base, {2, 3, 4}), {2 * L, 3 * L, 4 * L}};
                  }},
        MatchCase{"Identical", L,
                  [](const std::string& base) {
                      return Files{base, base, {0, L, 2 * L, 3 * L, 4 * L, 5 * L, 6 * L, 7 * L}};
                  }},
        // The short last block is looked for only at the seed's end.
        MatchCase{
            "ShortLastBlockNotAtTheSeedsEnd", L,
            [](const std::string& base) {
                return Files{base, base.substr(0, 5 * L + 123), {0, L, 2 * L, 3 * L, 4 * L, M}};
            }},
        // Equal blocks of the new file are all found by one block of the seed.
        MatchCase{"RepeatedBlock", L,
                  [](const std::string& base) {
                      return Files{blocks(base, {0, 2}), blocks(base, {0, 1, 0, 2}), {0, M, 0, L}};
                  }},
        MatchCase{"BlockSize1KiB", 1024,
                  [](const std::string& base) {
                      std::string seed = inserted(overwritten(base, {5}, 1024), 1500, 1);
                      return Files{seed, base, {0, M, 2049, 3073, 4097, M, 6145, 7169}};
                  }}),
    [](const testing::TestParamInfo<MatchCase>& info) { return std::string(info.param.name); });

}  // namespace
