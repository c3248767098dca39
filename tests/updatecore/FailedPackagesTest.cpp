#include "state/FailedPackages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <ostream>
#include <string>
#include <vector>

#include "TempRoot.h"
#include "Utils.h"

namespace {

constexpr std::time_t kHour = 60 * 60;
// 2026-12-09T07:00:00Z: the simulated time of day the tests start at.
constexpr std::time_t kStart = 1796799600;

LmPackageInfo package(int32_t id, const char* version = "2.0.0.1",
                      const char* md5 = "0123456789abcdef0123456789abcdef") {
    LmPackageInfo p;
    p.product.id = id;
    p.version = LmVersionInfo(version, "", "");
    p.md5 = md5;
    p.url = "pkg/p" + std::to_string(id) + ".zip";
    return p;
}

class FailedPackagesTest : public ::testing::Test {
protected:
    std::string path() const { return root_.file("conf/lm-failed-packages"); }
    FailedPackages load() const { return FailedPackages(path()); }

    TempRoot root_;
};

// The interval after the k-th consecutive failure, each failure entered when
// the one before has run out, and read back from the file each time.
TEST_F(FailedPackagesTest, IntervalDoublesUpToADay) {
    root_.mkdirs("conf");
    const std::vector<std::time_t> expectedHours{1, 2, 4, 8, 16, 24, 24};
    std::time_t now = kStart;
    for (std::size_t k = 0; k < expectedHours.size(); ++k) {
        FailedPackages failures = load();
        ASSERT_EQ(failures.skipping(package(5), now), nullptr) << "failure " << k + 1;
        failures.recordFailure(package(5), "HTTP 404", now);
        ASSERT_TRUE(failures.save());
        FailedPackages read = load();
        ASSERT_EQ(read.entries().size(), 1u);
        const FailedPackages::Entry& entry = read.entries()[0];
        EXPECT_EQ(entry.failures, static_cast<int>(k + 1));
        EXPECT_EQ(entry.until - entry.failed, expectedHours[k] * kHour) << "failure " << k + 1;
        EXPECT_NE(read.skipping(package(5), entry.until - 1), nullptr) << "failure " << k + 1;
        now = entry.until;
    }
}

struct KeyCase {
    const char* name;
    int32_t id;
    const char* version;
    const char* md5;
    bool skipped;
    std::size_t entriesLeft;
};

void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << c.name;
}

class FailedPackagesKeyTest : public FailedPackagesTest,
                              public ::testing::WithParamInterface<KeyCase> {};

// Products 5 and 6 failed; the server now announces the case's package.
TEST_P(FailedPackagesKeyTest, AnotherVersionOrDigestClearsTheEntry) {
    const KeyCase& c = GetParam();
    FailedPackages failures = load();
    failures.recordFailure(package(5), "md5 mismatch", kStart);
    failures.recordFailure(package(6), "HTTP 410", kStart);
    bool skipped = failures.skipping(package(c.id, c.version, c.md5), kStart + 60) != nullptr;
    EXPECT_EQ(skipped, c.skipped);
    EXPECT_EQ(failures.entries().size(), c.entriesLeft);
    EXPECT_NE(failures.skipping(package(6), kStart + 60), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, FailedPackagesKeyTest,
    ::testing::Values(
        KeyCase{"sameKey", 5, "2.0.0.1", "0123456789abcdef0123456789abcdef", true, 2},
        KeyCase{"digestInCapitals", 5, "2.0.0.1", "0123456789ABCDEF0123456789ABCDEF", true, 2},
        KeyCase{"newVersion", 5, "2.0.0.2", "0123456789abcdef0123456789abcdef", false, 1},
        KeyCase{"newDigest", 5, "2.0.0.1", "fedcba9876543210fedcba9876543210", false, 1},
        KeyCase{"otherProduct", 7, "2.0.0.1", "0123456789abcdef0123456789abcdef", false, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FailedPackagesTest, RetryNowAndInstallDropOnlyTheirEntries) {
    FailedPackages failures = load();
    failures.recordFailure(package(5), "HTTP 404", kStart);
    failures.recordFailure(package(6), "HTTP 404", kStart);
    failures.recordFailure(package(7), "HTTP 404", kStart);
    failures.forgetProduct(5);
    failures.forget(package(6, "2.0.0.2"));  // another version installed
    failures.forget(package(7));
    ASSERT_EQ(failures.entries().size(), 1u);
    EXPECT_EQ(failures.entries()[0].id, 6);
}

// The entry whose failure is the oldest goes, wherever it stands in the list.
TEST_F(FailedPackagesTest, A257thEntryDropsTheOldestFailure) {
    root_.mkdirs("conf");
    FailedPackages failures = load();
    for (int32_t id = 1; id <= 256; ++id) {
        std::time_t failed = id == 100 ? kStart - kHour : kStart + id;
        failures.recordFailure(package(id), "HTTP 404", failed);
    }
    failures.recordFailure(package(1000), "HTTP 404", kStart + 1000);
    ASSERT_TRUE(failures.save());
    FailedPackages read = load();
    ASSERT_EQ(read.entries().size(), FailedPackages::kMaxEntries);
    std::vector<int32_t> ids;
    for (const FailedPackages::Entry& entry : read.entries()) {
        ids.push_back(entry.id);
    }
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 100), 0);
    EXPECT_EQ(ids.front(), 1);
    EXPECT_EQ(ids.back(), 1000);
}

// An interval that ends more than a day after now was entered by a clock
// ahead of now; it must not hold the package for longer than a day.
TEST_F(FailedPackagesTest, ClockThatWentBackExpiresTheEntry) {
    FailedPackages failures = load();
    failures.recordFailure(package(5), "HTTP 404", kStart);
    EXPECT_NE(failures.skipping(package(5), kStart - 60), nullptr);
    EXPECT_EQ(failures.skipping(package(5), kStart - 24 * kHour), nullptr);
    EXPECT_EQ(failures.skipping(package(5), kStart - 365 * 24 * kHour), nullptr);
}

const char* const kUnreadable[] = {
    "not xml at all",
    "<?xml version=\"1.0\"?>\n<PackageInfoList/>\n",
    "<LmFailedPackages><Package id=\"5\" version=\"2.0.0.1\" md5=\"m\" failures=\"1\" "
    "failed=\"yesterday\" until=\"2026-12-09T08:00:00Z\"/></LmFailedPackages>",
    "<LmFailedPackages><Package id=\"5\" version=\"2.0.0.1\" md5=\"m\" failures=\"1\" "
    "failed=\"2026-13-09T07:00:00Z\" until=\"2026-12-09T08:00:00Z\"/></LmFailedPackages>",
    "<LmFailedPackages><Package id=\"99999999999\" version=\"2.0.0.1\" md5=\"m\" failures=\"1\" "
    "failed=\"2026-12-09T07:00:00Z\" until=\"2026-12-09T08:00:00Z\"/></LmFailedPackages>",
    "<LmFailedPackages><Other/></LmFailedPackages>",
};

// Counted as empty, and replaced whole by the next save.
TEST_F(FailedPackagesTest, UnreadableFileCountsAsEmpty) {
    for (const char* text : kUnreadable) {
        root_.write("conf/lm-failed-packages", text);
        FailedPackages failures = load();
        EXPECT_TRUE(failures.entries().empty()) << text;
        failures.recordFailure(package(6), "HTTP 404", kStart);
        ASSERT_TRUE(failures.save());
        FailedPackages read = load();
        ASSERT_EQ(read.entries().size(), 1u) << text;
        EXPECT_EQ(read.entries()[0].id, 6);
        EXPECT_EQ(utcTimestamp(read.entries()[0].until), "2026-12-09T08:00:00Z");
    }
}

// A server that answers 404 all day, and an hourly run that takes half a
// minute to find out: the package is asked for at most 6 times.
TEST_F(FailedPackagesTest, HourlyRunsAgainstA404FetchAtMostSixTimesADay) {
    root_.mkdirs("conf");
    std::vector<int> fetchedAtHour;
    for (int hour = 0; hour < 24; ++hour) {
        std::time_t start = kStart + hour * kHour;
        FailedPackages failures = load();
        if (failures.skipping(package(5), start) == nullptr) {
            fetchedAtHour.push_back(hour);
            failures.recordFailure(package(5), "HTTP 404", start + 30);
        }
        ASSERT_TRUE(failures.save());
    }
    EXPECT_LE(fetchedAtHour.size(), 6u);
    EXPECT_EQ(fetchedAtHour, (std::vector<int>{0, 2, 5, 10, 19}));
}

}  // namespace
