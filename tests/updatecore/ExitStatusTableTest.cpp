// The README's exit-status table of LmUpdate against the core's table of
// result codes: each row's codes are exactly those its actions can end with.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "ExitStatusDocs.h"
#include "LmUpdateCore.h"

namespace {

// The action names of a row's first cell, as the core's table spells them.
std::vector<std::string> actions(const std::string& label) {
    if (label.find("`LmUpdate`") != std::string::npos) {
        return {"any"};
    }
    if (label == "any action reading the inventory") {
        return {"inventory"};
    }
    std::vector<std::string> out;
    std::regex option("`--([^`]+)`");
    for (auto it = std::sregex_iterator(label.begin(), label.end(), option);
         it != std::sregex_iterator(); ++it) {
        out.push_back((*it)[1]);
    }
    return out;
}

// Each LmUpdate row label of the README table with the codes of its rows.
std::map<std::string, std::set<int>> readmeTable() {
    std::map<std::string, std::set<int>> table = readmeExitStatuses();
    table.erase("`SetNetwork`");
    return table;
}

std::set<int> coreCodes(const std::vector<std::string>& names) {
    std::set<int> out;
    for (int i = 0; i < kActionResultCount; ++i) {
        for (const std::string& name : names) {
            if (name == kActionResults[i].action) {
                out.insert(kActionResults[i].code);
            }
        }
    }
    return out;
}

TEST(ExitStatusTableTest, ReadmeRowsMatchTheResultCodes) {
    std::map<std::string, std::set<int>> table = readmeTable();
    ASSERT_GE(table.size(), 12u) << "the README's exit-status table was not found";
    std::set<std::string> documented;
    for (const auto& [label, found] : table) {
        std::vector<std::string> names = actions(label);
        ASSERT_FALSE(names.empty()) << label;
        EXPECT_EQ(found, coreCodes(names)) << label;
        documented.insert(names.begin(), names.end());
    }
    for (int i = 0; i < kActionResultCount; ++i) {
        EXPECT_EQ(documented.count(kActionResults[i].action), 1u)
            << kActionResults[i].action << " is missing from the README";
    }
}

TEST(ExitStatusTableTest, OneValueStandsForEachOperationsOwnMeaning) {
    EXPECT_EQ(ResultCode::kUpdateInventory, ResultCode::kPingSettings);
    EXPECT_EQ(coreCodes({"update"}).count(ResultCode::kUpdateInventory), 1u);
    EXPECT_EQ(coreCodes({"ping"}).count(ResultCode::kPingSettings), 1u);
    EXPECT_EQ(coreCodes({"verify"}).count(ResultCode::kConnectFailed), 0u)
        << "verify never ends with a transport code";
}

}  // namespace
