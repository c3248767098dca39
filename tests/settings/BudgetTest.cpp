#include "Budget.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace {

struct BudgetCase {
    const char* name;
    const char* text;
    std::optional<int> expected;
};

void PrintTo(const BudgetCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class ParseBudgetTest : public testing::TestWithParam<BudgetCase> {};

TEST_P(ParseBudgetTest, AcceptsOnlyDigitsInRange) {
    EXPECT_EQ(parseBudget(String(GetParam().text)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, ParseBudgetTest,
                         testing::Values(BudgetCase{"Smallest", "1", 1},
                                         BudgetCase{"Largest", "1048576", 1048576},
                                         BudgetCase{"Zero", "0", std::nullopt},
                                         BudgetCase{"Negative", "-1", std::nullopt},
                                         BudgetCase{"OnePast", "1048577", std::nullopt},
                                         BudgetCase{"TrailingText", "12x", std::nullopt},
                                         BudgetCase{"LeadingBlank", " 12", std::nullopt},
                                         BudgetCase{"Empty", "", std::nullopt},
                                         BudgetCase{"Huge", "99999999999999999999", std::nullopt},
                                         BudgetCase{"WrapsToOne", "4294967297", std::nullopt},
                                         BudgetCase{"PlusSign", "+5", std::nullopt}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
