// The daily byte count in a scratch installation root, with the time of day
// given by the test.
#include "state/ByteBudget.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "TempRoot.h"

namespace {

constexpr int64_t kMiB = ByteBudget::kMiB;
// 2026-12-09 07:00:00 UTC
constexpr std::time_t kMorning = 1796799600;

class ByteBudgetTest : public testing::Test {
protected:
    void SetUp() override {
        processRoot().mkdirs("conf");
        std::remove(counter().c_str());
    }
    static std::string counter() { return processRoot().file(ByteBudget::kFile); }
    static void writeCounter(const std::string& text) { std::ofstream(counter()) << text; }
    static std::string day(const char* date, int64_t bytes) {
        return std::string("<LmByteCount><Day date=\"") + date + "\" bytes=\"" +
               std::to_string(bytes) + "\"/></LmByteCount>";
    }
};

TEST_F(ByteBudgetTest, ATransferStartsOnlyWhenItFitsInWhatIsLeft) {
    ByteBudget budget(10 * kMiB);
    budget.charge(6 * kMiB, kMorning);
    EXPECT_TRUE(budget.allows(4 * kMiB, kMorning));
    EXPECT_FALSE(budget.allows(4 * kMiB + 1, kMorning));
    EXPECT_EQ(budget.reachedLine(), "LmUpdate: daily byte budget reached: 6.0 of 10 MiB");
}

// A run charges its running total: what was charged before is not counted
// again, by this run or (after a kill) by the next one.
TEST_F(ByteBudgetTest, NothingCountsTwice) {
    ByteBudget first(10 * kMiB);
    first.charge(1 * kMiB, kMorning);
    first.charge(3 * kMiB, kMorning);
    first.charge(3 * kMiB, kMorning);
    ByteBudget next(10 * kMiB);  // a later run, the first one killed
    next.charge(2 * kMiB, kMorning);
    EXPECT_EQ(next.used(), 5 * kMiB);
}

TEST_F(ByteBudgetTest, TheCountIsPerUtcDay) {
    const struct {
        const char* name;
        std::string file;
        std::time_t now;
        int64_t used;
    } cases[] = {
        {"SameDay", day("2026-12-09", 7 * kMiB), kMorning, 7 * kMiB},
        {"NextDayStartsAfresh", day("2026-12-08", 7 * kMiB), kMorning, 0},
        {"ClockWentBackKeepsCounting", day("2026-12-10", 7 * kMiB), kMorning, 7 * kMiB},
        {"UnreadableIsSpent", "<LmByteCount><Day date=\"2026-12-09\" bytes=\"x\"/>", kMorning,
         10 * kMiB},
        {"NotADocumentIsSpent", "garbage", kMorning, 10 * kMiB},
        {"MidnightUtc", day("2026-12-09", 7 * kMiB), kMorning + 17 * 3600, 0},
    };
    for (const auto& c : cases) {
        writeCounter(c.file);
        ByteBudget budget(10 * kMiB);
        EXPECT_EQ(budget.allows(1, c.now), c.used < 10 * kMiB) << c.name;
        EXPECT_EQ(budget.used(), c.used) << c.name;
    }
}

// Hourly runs over two days, each fetching 4 MiB while the day allows it.
TEST_F(ByteBudgetTest, ADayNeverGoesPastItsLimit) {
    int64_t fetchedToday = 0;
    int runsToday = 0;
    for (int hour = 0; hour < 48; ++hour) {
        std::time_t now = kMorning - 7 * 3600 + hour * 3600;
        if (hour == 24) {
            EXPECT_EQ(runsToday, 6);  // 6 × 4 MiB fit in 25 MiB
            fetchedToday = 0;
            runsToday = 0;
        }
        ByteBudget budget(25 * kMiB);
        budget.charge(3000, now);  // the update answer, never held back
        fetchedToday += 3000;
        if (budget.allows(4 * kMiB, now)) {
            budget.charge(3000 + 4 * kMiB, now);
            fetchedToday += 4 * kMiB;
            ++runsToday;
        }
        ASSERT_LE(fetchedToday, 25 * kMiB) << hour;
    }
}

}  // namespace
