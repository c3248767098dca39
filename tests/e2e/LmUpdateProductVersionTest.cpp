#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RunProgram.h"
#include "TempRoot.h"

namespace {

// Runs with REGISTER_DIR naming the root.
RunOptions inRoot(const TempRoot& root) {
    RunOptions options;
    options.env = {root.registerDirEnv()};
    return options;
}

const std::string kTryHelp = "try 'LmUpdate --help' for more information\n";

ProgramResult run(const TempRoot& root, const std::vector<std::string>& args) {
    return runProgram(lmUpdateExe(), args, inRoot(root));
}

struct Case {
    const char* name;
    std::vector<std::string> args;
    int exitStatus;
    std::string out;
};

class LmUpdateCommandLineTest : public testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        root_.makeStandardDirs();
        ASSERT_EQ(run(root_, {"--init"}).exitStatus, 0);
    }
    TempRoot root_;
};

TEST_P(LmUpdateCommandLineTest, PrintsAndExits) {
    ProgramResult result = run(root_, GetParam().args);
    EXPECT_EQ(result.exitStatus, GetParam().exitStatus);
    EXPECT_EQ(result.out, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    E2E, LmUpdateCommandLineTest,
    testing::Values(Case{"Installed", {"--product-version", "1000"}, 0, "1.0.0.0\n"},
                    Case{"LeadingZeroMatchesNothing", {"--product-version", "01000"}, 0, "0\n"},
                    Case{"Unknown", {"--product-version", "2000"}, 0, "0\n"},
                    Case{"MissingValue", {"--product-version"}, 255, kTryHelp},
                    Case{"NoAction", {}, 255, kTryHelp},
                    Case{"UnknownOption", {"--list", "--frobnicate"}, 255, kTryHelp},
                    Case{"TwoActions", {"--list", "--init"}, 255, kTryHelp},
                    Case{"MissingDownloadDir",
                         {"--list", "--download-dir", "/nonexistent/dir"},
                         255,
                         "LmUpdate: invalid download directory: /nonexistent/dir\n"},
                    Case{"DownloadDirAccepted",
                         {"--product-version", "1000", "--download-dir", "/"},
                         0,
                         "1.0.0.0\n"}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(LmUpdateProductVersionTest, HelpPrintsUsage) {
    TempRoot root;
    for (const char* option : {"-h", "--help"}) {
        ProgramResult result = run(root, {option});
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.out.rfind("Usage: LmUpdate", 0), 0u) << result.out;
        EXPECT_NE(result.out.find("-h/--help"), std::string::npos);
    }
}

TEST(LmUpdateProductVersionTest, VerboseEchoesLogLines) {
    TempRoot root;
    root.makeStandardDirs();
    ASSERT_EQ(run(root, {"--init"}).exitStatus, 0);
    ProgramResult result = run(root, {"--deregister", "--id", "42", "--name", "n", "--verbose"});
    EXPECT_EQ(result.exitStatus, 256 - 4);
    EXPECT_NE(result.err.find("LmUpdate: deregister product failed: ProductID:   42"),
              std::string::npos)
        << result.err;
}

}  // namespace
