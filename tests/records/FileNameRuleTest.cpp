#include "FileNameRule.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct FileNameCase {
    const char* name;
    std::string fileName;
    const char* reason;
};

void PrintTo(const FileNameCase& c, std::ostream* os) {
    *os << c.name;
}

class FileNameRuleTest : public testing::TestWithParam<FileNameCase> {};

// A "/" in a version created nested download directories never removed.
TEST_P(FileNameRuleTest, OnlyAPlainComponentIsSafe) {
    EXPECT_EQ(unsafeFileNameReason(String(GetParam().fileName)), GetParam().reason);
    EXPECT_EQ(isSafeFileName(String(GetParam().fileName)), std::string(GetParam().reason).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FileNameRuleTest,
    testing::Values(FileNameCase{"Plain", "pkg-1.2.zip", ""},
                    FileNameCase{"Version", "2.0.1.7", ""}, FileNameCase{"DotsInside", "a..b", ""},
                    FileNameCase{"Utf8", "caf\xc3\xa9", ""},
                    FileNameCase{"Empty", "", "empty name"},
                    FileNameCase{"Dot", ".", "\".\" names a directory"},
                    FileNameCase{"DotDot", "..", "\"..\" names a directory"},
                    FileNameCase{"Slash", "1.0/../../etc", "name holds \"/\""},
                    FileNameCase{"Backslash", "a\\b", "name holds \"\\\""},
                    FileNameCase{"LineFeed", "a\nb", "name holds a control character"},
                    FileNameCase{"Nul", std::string("a\0b", 3), "name holds a control character"},
                    FileNameCase{"Delete", "a\x7f", "name holds a control character"}),
    [](const testing::TestParamInfo<FileNameCase>& info) { return info.param.name; });

}  // namespace
