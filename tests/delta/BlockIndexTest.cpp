#include "delta/BlockIndex.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "DeltaTestFiles.h"

namespace {

// Three blocks of 1 KiB, the last one short.
std::string validIndex() {
    return indexOf(randomBytes(2500, 3), 1024).serialize();
}

// Sets the big-endian number of `bytes` bytes at offset.
std::string withNumber(std::string index, size_t offset, int bytes, uint64_t value) {
    for (int i = bytes - 1; i >= 0; --i, value >>= 8) {
        index[offset + static_cast<size_t>(i)] = static_cast<char>(value & 0xff);
    }
    return index;
}

struct ParseCase {
    const char* name;
    std::function<std::string(const std::string& valid)> mangle;
    const char* reason;  // null: parses, and serializes to the same bytes
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

class BlockIndexParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(BlockIndexParseTest, ParsesOrSaysWhy) {
    const ParseCase& c = GetParam();
    std::string bytes = c.mangle(validIndex());
    if (c.reason == nullptr) {
        EXPECT_EQ(BlockIndex::parse(bytes).serialize(), bytes);
        EXPECT_EQ(BlockIndex::parse(bytes), indexOf(randomBytes(2500, 3), 1024));
        return;
    }
    try {
        BlockIndex::parse(bytes);
        ADD_FAILURE() << "parsed";
    } catch (const DeltaIndexException& e) {
        EXPECT_EQ(e.getMessage(), c.reason);
    }
}

using S = const std::string&;
INSTANTIATE_TEST_SUITE_P(
    Rows, BlockIndexParseTest,
    testing::Values(
        ParseCase{"RoundTrip", [](S v) { return v; }, nullptr},
        ParseCase{"BadMagic", [](S v) { return "LMDELTB" + v.substr(7); }, "bad magic"},
        ParseCase{"ShortBadMagic", [](S) { return std::string("PK"); }, "bad magic"},
        ParseCase{"Version2", [](S v) { return withNumber(v, 8, 4, 2); }, "unsupported version 2"},
        ParseCase{"BlockSizeNotAPowerOfTwo", [](S v) { return withNumber(v, 12, 4, 3000); },
                  "block size 3000 is not a power of two from 1 to 64 KiB"},
        ParseCase{"BlockSizeTooSmall", [](S v) { return withNumber(v, 12, 4, 512); },
                  "block size 512 is not a power of two from 1 to 64 KiB"},
        ParseCase{"BlockSizeTooBig", [](S v) { return withNumber(v, 12, 4, 131072); },
                  "block size 131072 is not a power of two from 1 to 64 KiB"},
        ParseCase{"TruncatedHeader", [](S v) { return v.substr(0, 40); }, "truncated"},
        ParseCase{"TruncatedBlock", [](S v) { return v.substr(0, v.size() - 5); }, "truncated"},
        ParseCase{"TrailingBytes", [](S v) { return v + "x"; }, "trailing bytes"},
        ParseCase{"ExtraBlock",
                  [](S v) { return v + v.substr(v.size() - (4 + BlockIndex::kStrongBytes)); },
                  "block count does not match the file size"},
        ParseCase{"SizeOfMoreBlocks", [](S v) { return withNumber(v, 16, 8, 4000); },
                  "block count does not match the file size"},
        ParseCase{"HugeSize", [](S v) { return withNumber(v, 16, 8, UINT64_MAX); },
                  "block count does not match the file size"}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

// The sums are the format: a client and the vendor's tool must agree on
// them byte for byte. Known answers for the bytes 1, 2, 3: a = 6,
// b = 3*1 + 2*2 + 1*3 = 10, and SHA-256 from its published value.
TEST(BlockIndexTest, SumsAShortBlockOverItsOwnBytes) {
    BlockIndex index = indexOf(std::string("\x01\x02\x03", 3), 1024);
    const std::string sha = "039058c6f2c0cb492c533b0a4d14ef77cc0f78abccced5287d84a1a2011cfb81";
    ASSERT_EQ(index.blockCount(), 1u);
    EXPECT_EQ(index.blockLength(0), 3u);
    EXPECT_EQ(index.blocks()[0].weak, (10u << 16) | 6u);
    EXPECT_EQ(index.fileSha256Hex(), sha);
    std::array<uint8_t, BlockIndex::kStrongBytes> strong{0x03, 0x90, 0x58, 0xc6, 0xf2, 0xc0};
    EXPECT_EQ(index.blocks()[0].strong, strong);
}

}  // namespace
