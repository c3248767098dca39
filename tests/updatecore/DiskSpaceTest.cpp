// The free-space rule of a download, through a probe that reports a fixed
// figure, and the real probe on a file system at hand.
#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>

#include "install/DiskSpace.h"

namespace {

constexpr uint64_t kMiB = DiskSpace::kReserve;

struct SpaceCase {
    const char* name;
    uint64_t available;
    int64_t size;
    int64_t onDisk;
    bool fits;
};

void PrintTo(const SpaceCase& c, std::ostream* out) {
    *out << c.name;
}

class DiskSpaceTest : public testing::TestWithParam<SpaceCase> {};

TEST_P(DiskSpaceTest, FitsOnlyWithTheReserveToSpare) {
    const SpaceCase& c = GetParam();
    String askedFor;
    DiskSpace space([&](const String& path, uint64_t& available) {
        askedFor = path;
        available = c.available;
        return true;
    });
    String reason = space.shortfall("/d/5/1_0", c.size, c.onDisk);
    EXPECT_EQ(reason.isEmpty(), c.fits) << reason.str();
    EXPECT_EQ(askedFor, "/d/5/1_0");
    if (!c.fits) {
        EXPECT_TRUE(reason.startsWith("not enough disk space: ")) << reason.str();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DiskSpaceTest,
    testing::Values(SpaceCase{"ExactlyTheSizeAndReserve", 1000 + kMiB, 1000, 0, true},
                    SpaceCase{"OneByteShort", 1000 + kMiB - 1, 1000, 0, false},
                    SpaceCase{"StoredPartCounts", 600 + kMiB, 1000, 400, true},
                    SpaceCase{"StoredPartCountsOnlyOnce", 600 + kMiB - 1, 1000, 400, false},
                    SpaceCase{"LargerFileOnDiskStillNeedsTheReserve", kMiB - 1, 1000, 5000, false},
                    SpaceCase{"LargestAnnouncedSize", 2147483647ULL, 2147483647, 0, false},
                    SpaceCase{"PlentyOfRoom", 1ULL << 40, 2147483647, 0, true}),
    [](const testing::TestParamInfo<SpaceCase>& info) { return info.param.name; });

struct UnpackCase {
    const char* name;
    uint64_t available;
    uint64_t size;
    const char* reason;  // "" when it fits
};

void PrintTo(const UnpackCase& c, std::ostream* out) {
    *out << c.name;
}

class UnpackedSizeTest : public testing::TestWithParam<UnpackCase> {};

TEST_P(UnpackedSizeTest, FitsTheSpaceLessTheReserveAndTheLimit) {
    const UnpackCase& c = GetParam();
    DiskSpace space([&](const String&, uint64_t& available) {
        available = c.available;
        return true;
    });
    EXPECT_EQ(space.unpackedShortfall("/d/5/1_0", c.size).str(), c.reason);
}

constexpr uint64_t kGiB = 1024 * kMiB;

INSTANTIATE_TEST_SUITE_P(
    Sizes, UnpackedSizeTest,
    testing::Values(
        UnpackCase{"ExactlyTheSpaceLessTheReserve", 1000 + kMiB, 1000, ""},
        UnpackCase{"OneByteOver", 1000 + kMiB, 1001,
                   "unpacked size 1001 bytes: more than the 1049576 bytes free less the "
                   "reserve of 1048576"},
        UnpackCase{"LessFreeThanTheReserve", kMiB - 1, 0,
                   "unpacked size 0 bytes: more than the 1048575 bytes free less the reserve "
                   "of 1048576"},
        UnpackCase{"AtTheLimit", 1ULL << 40, 4 * kGiB, ""},
        UnpackCase{"OverTheLimitWithRoomToSpare", 1ULL << 40, 4 * kGiB + 1,
                   "unpacked size 4294967297 bytes: more than the limit of 4294967296 bytes"}),
    [](const testing::TestParamInfo<UnpackCase>& info) { return info.param.name; });

TEST(DiskSpaceProbeTest, UnknownSpaceIsAShortfall) {
    DiskSpace space([](const String&, uint64_t&) {
        errno = ENOENT;
        return false;
    });
    EXPECT_TRUE(space.shortfall("/nowhere", 1, 0).startsWith("free disk space unknown: "));
}

TEST(DiskSpaceProbeTest, StatvfsReportsAFileSystemAtHand) {
    uint64_t available = 0;
    ASSERT_TRUE(DiskSpace::statvfsProbe("/", available));
    EXPECT_FALSE(DiskSpace::statvfsProbe("/no/such/directory/here", available));
    EXPECT_EQ(errno, ENOENT);
}

}  // namespace
