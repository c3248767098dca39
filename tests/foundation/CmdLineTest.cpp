#include "CmdLine.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Options = std::vector<std::pair<std::string, std::string>>;

struct ParseCase {
    const char* name;
    std::vector<const char*> args;  // after argv[0]
    Options expected;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name << ":";
    for (const char* arg : c.args) {
        *os << " '" << arg << "'";
    }
}

class CmdLineParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(CmdLineParseTest, SplitsNamesAndValues) {
    const ParseCase& c = GetParam();
    std::vector<const char*> argv{"SetNetwork"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    CmdLine cmdLine(static_cast<int>(argv.size()), argv.data());
    cmdLine.parse();
    Options actual;
    for (const String& name : cmdLine.getNames()) {
        String value("unset");
        EXPECT_TRUE(cmdLine.getOption(name, value));
        actual.emplace_back(name.str(), value.str());
    }
    EXPECT_EQ(actual, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CmdLineParseTest,
    testing::Values(
        ParseCase{"Nothing", {}, {}},
        ParseCase{"OneAndTwoDashes",
                  {"-S", "--set", "--S", "-set"},
                  {{"S", ""}, {"set", ""}, {"S", ""}, {"set", ""}}},
        ParseCase{"ValueFollows",
                  {"-S", "--server", "a,b", "--timeout", "60"},
                  {{"S", ""}, {"server", "a,b"}, {"timeout", "60"}}},
        ParseCase{"WordAfterFlagIsItsValue", {"-S", "extra"}, {{"S", "extra"}}},
        ParseCase{"StrayWordsIgnored", {"word", "-h", "x", "y"}, {{"h", "x"}}},
        ParseCase{"DoubleDashAloneIsNamedDash", {"--"}, {{"-", ""}}},
        ParseCase{"LoneDashIsIgnored", {"-", "-S"}, {{"S", ""}}},
        ParseCase{"EmptyValueConsumed", {"--proxyuser", "", "-S"}, {{"proxyuser", ""}, {"S", ""}}},
        ParseCase{"NegativeNumberIsAnOption", {"--timeout", "-5"}, {{"timeout", ""}, {"5", ""}}},
        ParseCase{
            "LastOptionHasEmptyValue", {"-S", "--proxyport"}, {{"S", ""}, {"proxyport", ""}}}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(CmdLineTest, FirstOptionOfANameWinsAndNamesAreCaseSensitive) {
    const char* argv[] = {"x", "--type", "http", "--type", "https", "--Type", "ftp"};
    CmdLine cmdLine(7, argv);
    cmdLine.parse();
    String value;
    EXPECT_TRUE(cmdLine.getOption("type", value));
    EXPECT_EQ(value, "http");
    EXPECT_TRUE(cmdLine.getOption("Type", value));
    EXPECT_EQ(value, "ftp");
    EXPECT_FALSE(cmdLine.getOption("TYPE", value));
    EXPECT_FALSE(cmdLine.getOption("", value));
    EXPECT_EQ(cmdLine.getOptionCount(), 3);
}

TEST(CmdLineTest, ClassifyGivesThePrefixLength) {
    const char* argv[] = {"x"};
    CmdLine cmdLine(1, argv);
    EXPECT_EQ(cmdLine.classify("--x"), 2);
    EXPECT_EQ(cmdLine.classify("--"), 1);
    EXPECT_EQ(cmdLine.classify("-x"), 1);
    EXPECT_EQ(cmdLine.classify("-"), 0);
    EXPECT_EQ(cmdLine.classify("x-"), 0);
    EXPECT_EQ(cmdLine.classify(""), 0);
}

}  // namespace
