#include "report/ProgressReporter.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <ostream>

#include <cstdlib>
#include <string>

#include "StopSignals.h"
#include "TempRoot.h"

namespace {

struct Case {
    const char* name;
    String command;
    const char* expected;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class ProgressCommandTest : public testing::TestWithParam<Case> {};

TEST_P(ProgressCommandTest, GivesTheFixedLine) {
    EXPECT_EQ(GetParam().command, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    PlainValues, ProgressCommandTest,
    testing::Values(
        Case{"request", ProgressReporter::requestCommand("/r", 5),
             "/usr/bin/perl /r/bin/update_status.pl --action update --id 5 --status request"},
        Case{"downloadStart", ProgressReporter::downloadCommand("/r", 5, 0, 10000),
             "/usr/bin/perl /r/bin/update_status.pl --action update --id 5 --status download "
             "--downloaded_size 0 --total_size 10000"},
        Case{"downloadProgress", ProgressReporter::downloadCommand("/r", 1000, 3000, 10000),
             "/usr/bin/perl /r/bin/update_status.pl --action update --id 1000 --status download "
             "--downloaded_size 3000 --total_size 10000"},
        Case{"install", ProgressReporter::installCommand("/r", 7),
             "/usr/bin/perl /r/bin/update_status.pl --action update --id 7 --status install"},
        Case{"firmware", ProgressReporter::firmwareCommand("/r", 42, 512, 2048, "2.1.0"),
             "/usr/bin/perl /r/bin/firmware_update.pl --action UPDATE --updatePID 42 --status "
             "download "
             "--downloaded_size 512 --total_size 2048 --version 2.1.0"},
        Case{"emptyRoot", ProgressReporter::requestCommand("", 3),
             "/usr/bin/perl /bin/update_status.pl --action update --id 3 --status request"},
        Case{
            "emptyVersion", ProgressReporter::firmwareCommand("", 1, 0, 9, ""),
            "/usr/bin/perl /bin/firmware_update.pl --action UPDATE --updatePID 1 --status download "
            "--downloaded_size 0 --total_size 9 --version "}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(ProgressReporterTest, LongLinesAreCut) {
    String root(std::string(300, 'x'));
    EXPECT_EQ(ProgressReporter::requestCommand("/" + root, 1).length(),
              ProgressReporter::kMaxCommand);
}

// A root with a blank and a version with shell characters reach the script
// as single arguments, and nothing else runs.
TEST(ProgressReporterTest, QuotedValuesStayOneArgumentEach) {
    TempRoot dir;
    std::string root = dir.file("with blank");
    std::string record = dir.file("args");
    dir.write("with blank/bin/firmware_update.pl",
              "open(my $f, '>', '" + record + "') or die;\nprint $f join(\"|\", @ARGV);\n");
    std::string marker = dir.file("injected");
    String version("1.0;touch " + marker + " 'q'");
    String command = ProgressReporter::firmwareCommand(String(root), 9, 0, 100, version);
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(dir.read("args"),
              "--action|UPDATE|--updatePID|9|--status|download|--downloaded_size|0|"
              "--total_size|100|--version|1.0;touch " +
                  marker + " 'q'");
    EXPECT_FALSE(dir.exists("injected"));
}

// A stop asked for while a progress script runs is kept: the run must
// still see it once the script has ended.
TEST(ProgressReporterTest, StopSignalDuringAReportIsKept) {
    TempRoot& root = processRoot();
    root.write("bin/update_status.pl", "kill 'INT', " + std::to_string(::getpid()) + ";\n");
    StopSignals stop;
    ProgressReporter::reportRequest(5);
    EXPECT_TRUE(StopSignals::requested());
    EXPECT_EQ(StopSignals::signalNumber(), SIGINT);
}

}  // namespace
