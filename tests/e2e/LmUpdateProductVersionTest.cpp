#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "LmUpdateRun.h"

namespace {

struct VersionCase {
    const char* name;
    std::vector<std::string> args;
    int exitStatus;
    std::string out;
};

void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << c.name;
    for (const std::string& arg : c.args) {
        *os << " " << arg;
    }
}

class LmUpdateProductVersionTest : public testing::TestWithParam<VersionCase> {
protected:
    void SetUp() override {
        root_.makeStandardDirs();
        ASSERT_EQ(runLmUpdate(root_, {"--init"}).exitStatus, 0);
    }
    TempRoot root_;
};

TEST_P(LmUpdateProductVersionTest, PrintsTheVersionText) {
    ProgramResult result = runLmUpdate(root_, GetParam().args);
    EXPECT_EQ(result.exitStatus, GetParam().exitStatus);
    EXPECT_EQ(result.out, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    E2E, LmUpdateProductVersionTest,
    testing::Values(VersionCase{"Installed", {"--product-version", "1000"}, 0, "1.0.0.0\n"},
                    VersionCase{
                        "LeadingZeroMatchesNothing", {"--product-version", "01000"}, 0, "0\n"},
                    VersionCase{"Unknown", {"--product-version", "2000"}, 0, "0\n"},
                    VersionCase{"MissingValue", {"--product-version"}, 255, kTryHelp}),
    [](const testing::TestParamInfo<VersionCase>& info) { return info.param.name; });

}  // namespace
