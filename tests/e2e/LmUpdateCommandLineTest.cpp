// The LmUpdate command line as a whole: action selection, global options,
// and the option errors of every action, which must stop before the core
// runs.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "LmUpdateRun.h"

namespace {

struct Case {
    const char* name;
    std::vector<std::string> args;
    int exitStatus;
    std::string out;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name << ":";
    for (const std::string& arg : c.args) {
        *os << " " << arg;
    }
}

std::string caseName(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

class LmUpdateCommandLineTest : public testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        root_.makeStandardDirs();
        ASSERT_EQ(runLmUpdate(root_, {"--init"}).exitStatus, 0);
    }
    TempRoot root_;
};

TEST_P(LmUpdateCommandLineTest, PrintsAndExits) {
    ProgramResult result = runLmUpdate(root_, GetParam().args);
    EXPECT_EQ(result.exitStatus, GetParam().exitStatus);
    EXPECT_EQ(result.out, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Selection, LmUpdateCommandLineTest,
    testing::Values(Case{"NoAction", {}, 255, kTryHelp},
                    Case{"OnlyGlobalOptions", {"--verbose"}, 255, kTryHelp},
                    Case{"UnknownOption", {"--list", "--frobnicate"}, 255, kTryHelp},
                    Case{"TwoActions", {"--list", "--init"}, 255, kTryHelp},
                    Case{"MissingDownloadDir",
                         {"--list", "--download-dir", "/nonexistent/dir"},
                         255,
                         "LmUpdate: invalid download directory: /nonexistent/dir\n"},
                    Case{"EmptyDownloadDir",
                         {"--list", "--download-dir"},
                         255,
                         "LmUpdate: invalid download directory: \n"},
                    Case{"DownloadDirAccepted",
                         {"--product-version", "1000", "--download-dir", "/"},
                         0,
                         "1.0.0.0\n"}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    ActionOptions, LmUpdateCommandLineTest,
    testing::Values(
        Case{"UpdateWithoutId", {"--update"}, 255, kTryHelp},
        Case{"UpdateEmptyId", {"--update", "--id", "--plain"}, 255, kTryHelp},
        Case{"UpdateBadId", {"--update", "--id", "x"}, 255, kTryHelp},
        Case{"UpdateBadThrottle", {"--update", "--id", "5", "--throttle", "fast"}, 255, kTryHelp},
        Case{"UpdateEmptyPause", {"--update", "--id", "5", "--pause"}, 255, kTryHelp},
        Case{"DelayWithoutWord", {"--delay"}, 255, kTryHelp},
        Case{"DelayUnknownWord", {"--delay", "purge"}, 255, kTryHelp},
        Case{"DelayBadId", {"--delay", "status", "--id", "x"}, 255, kTryHelp},
        Case{"FirmwareWithoutWord", {"--firmware"}, 255, kTryHelp},
        Case{"FirmwareUnknownWord", {"--firmware", "flash"}, 255, kTryHelp},
        Case{"FirmwareBadPause", {"--firmware", "update", "--pause", "soon"}, 255, kTryHelp}),
    caseName);

// Every action that reads the inventory refuses to run without one.
class MissingInventoryTest : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(MissingInventoryTest, ExitsOneWithTheReason) {
    TempRoot root;
    root.makeStandardDirs();
    ProgramResult result = runLmUpdate(root, GetParam());
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "LmUpdate: cannot read inventory: " + root.file("conf/lm-inventory") +
                              ": No such file or directory\n");
}

INSTANTIATE_TEST_SUITE_P(E2E, MissingInventoryTest,
                         testing::Values(std::vector<std::string>{"--update", "--id", "5"},
                                         std::vector<std::string>{"--delay", "status"},
                                         std::vector<std::string>{"--firmware", "update"},
                                         std::vector<std::string>{"--deregister", "--id", "5",
                                                                  "--name", "n"},
                                         std::vector<std::string>{"--list"},
                                         std::vector<std::string>{"--product-version", "5"},
                                         std::vector<std::string>{"--verify"}),
                         [](const testing::TestParamInfo<std::vector<std::string>>& info) {
                             return info.param[0].substr(2) == "product-version"
                                        ? std::string("ProductVersion")
                                        : info.param[0].substr(2);
                         });

TEST(LmUpdateHelpTest, PrintsUsage) {
    TempRoot root;
    for (const char* option : {"-h", "--help"}) {
        ProgramResult result = runLmUpdate(root, {option, "--frobnicate"});
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.out.rfind("Usage: LmUpdate", 0), 0u) << result.out;
        EXPECT_NE(result.out.find("-h/--help"), std::string::npos);
    }
}

TEST(LmUpdateVerboseTest, EchoesLogLines) {
    TempRoot root;
    root.makeStandardDirs();
    ASSERT_EQ(runLmUpdate(root, {"--init"}).exitStatus, 0);
    ProgramResult result =
        runLmUpdate(root, {"--deregister", "--id", "42", "--name", "n", "--verbose"});
    EXPECT_EQ(result.exitStatus, 256 - 4);
    EXPECT_NE(result.err.find("LmUpdate: deregister product failed: ProductID:   42"),
              std::string::npos)
        << result.err;
}

}  // namespace
