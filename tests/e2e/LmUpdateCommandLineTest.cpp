// The LmUpdate command line as a whole: action selection, global options,
// and the option errors of every action, which must stop before the core
// runs.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "LmUpdateRun.h"

namespace {

TEST_P(LmUpdateCommandTest, PrintsAndExits) {
    ProgramResult result = run(GetParam().args);
    EXPECT_EQ(result.exitStatus, GetParam().exitStatus);
    EXPECT_EQ(result.out, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Selection, LmUpdateCommandTest,
    testing::Values(CommandCase{"NoAction", {}, 255, kTryHelp},
                    CommandCase{"OnlyGlobalOptions", {"--verbose"}, 255, kTryHelp},
                    CommandCase{"UnknownOption", {"--list", "--frobnicate"}, 255, kTryHelp},
                    CommandCase{"TwoActions", {"--list", "--init"}, 255, kTryHelp},
                    CommandCase{"MissingDownloadDir",
                                {"--list", "--download-dir", "/nonexistent/dir"},
                                255,
                                "LmUpdate: invalid download directory: /nonexistent/dir\n"},
                    CommandCase{"EmptyDownloadDir",
                                {"--list", "--download-dir"},
                                255,
                                "LmUpdate: invalid download directory: \n"},
                    CommandCase{"UnknownLogFormat",
                                {"--list", "--log-format", "json"},
                                255,
                                "LmUpdate: invalid log format: json\n" + kTryHelp},
                    CommandCase{"DownloadDirAccepted",
                                {"--product-version", "1000", "--download-dir", "/"},
                                0,
                                "1.0.0.0\n"}),
    commandCaseName);

INSTANTIATE_TEST_SUITE_P(
    ActionOptions, LmUpdateCommandTest,
    testing::Values(
        CommandCase{"UpdateWithoutId", {"--update"}, 255, kTryHelp},
        CommandCase{"UpdateEmptyId", {"--update", "--id", "--plain"}, 255, kTryHelp},
        CommandCase{"UpdateBadId", {"--update", "--id", "x"}, 255, kTryHelp},
        CommandCase{
            "UpdateBadThrottle", {"--update", "--id", "5", "--throttle", "fast"}, 255, kTryHelp},
        CommandCase{"UpdateEmptyPause", {"--update", "--id", "5", "--pause"}, 255, kTryHelp},
        CommandCase{
            "UpdateBadSeedCache", {"--update", "--id", "5", "--seed-cache", "x"}, 255, kTryHelp},
        CommandCase{"UpdateNegativeSeedCache",
                    {"--update", "--id", "5", "--seed-cache", "-1"},
                    255,
                    kTryHelp},
        CommandCase{"DelayWithoutWord", {"--delay"}, 255, kTryHelp},
        CommandCase{"DelayUnknownWord", {"--delay", "purge"}, 255, kTryHelp},
        CommandCase{"DelayBadId", {"--delay", "status", "--id", "x"}, 255, kTryHelp},
        CommandCase{"FirmwareWithoutWord", {"--firmware"}, 255, kTryHelp},
        CommandCase{"FirmwareUnknownWord", {"--firmware", "flash"}, 255, kTryHelp},
        CommandCase{
            "FirmwareBadPause", {"--firmware", "update", "--pause", "soon"}, 255, kTryHelp}),
    commandCaseName);

// Every action that reads the inventory refuses to run without one.
TEST(LmUpdateInventoryTest, MissingInventoryExitsOneWithTheReason) {
    TempRoot root;
    root.makeStandardDirs();
    const std::vector<std::vector<std::string>> commands = {
        {"--update", "--id", "5"},
        {"--delay", "status"},
        {"--firmware", "update"},
        {"--register", "--id", "5", "--name", "n", "--path", "/p", "--version", "1"},
        {"--deregister", "--id", "5", "--name", "n"},
        {"--list"},
        {"--product-version", "5"},
        {"--verify"}};
    for (const std::vector<std::string>& args : commands) {
        SCOPED_TRACE(args[0]);
        ProgramResult result = runLmUpdate(root, args);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.out, "LmUpdate: cannot read inventory: " + root.file("conf/lm-inventory") +
                                  ": No such file or directory\n");
    }
    EXPECT_FALSE(root.exists("conf/lm-inventory"));
}

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
    EXPECT_EQ(result.err.rfind("LmUpdate: ", 0), 0u)
        << "no identity prefix expected: " << result.err;
}

}  // namespace
