#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "RunProgram.h"
#include "TempRoot.h"

namespace {

const char kPerl[] = "/usr/bin/perl";

std::string script(const char* name) {
    return sourcePath(std::string("scripts/appliance/bin/") + name);
}

RunOptions inRoot(const TempRoot& root) {
    RunOptions options;
    options.env = {root.registerDirEnv()};
    return options;
}

// A process that lives until the object goes: a pid the lock can belong to.
class LiveProcess {
public:
    LiveProcess() : child_("/bin/sleep", {"sleep", "120"}) { child_.start(); }
    std::string pid() const { return std::to_string(child_.pid()); }

private:
    ChildProcess child_;
};

class WriteLockTest : public ::testing::Test {
protected:
    Vector<String> lockArguments(const std::string& action, const std::string& pid,
                                 const std::string& timeout) {
        return {"env",       String(root_.registerDirEnv()),
                kPerl,       String(script("write_lock.pl")),
                "--action",  String(action),
                "--pid",     String(pid),
                "--timeout", String(timeout)};
    }

    int lock(const std::string& action, const std::string& pid, const std::string& timeout = "0") {
        return runProgram(kPerl,
                          {script("write_lock.pl"), "--action", action, "--pid", pid, "--timeout",
                           timeout},
                          inRoot(root_))
            .exitStatus;
    }

    std::string owner() {
        return root_.exists("tmp/write-lock") ? root_.read("tmp/write-lock") : "";
    }

    TempRoot root_;
    LiveProcess a_;
    LiveProcess b_;
};

TEST_F(WriteLockTest, SecondOwnerWaitsUntilTheFirstReleases) {
    ASSERT_EQ(lock("LOCK", a_.pid(), "600"), 0);
    ChildProcess waiter("/usr/bin/env", lockArguments("LOCK", b_.pid(), "60"));
    ASSERT_TRUE(waiter.start());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    int status;
    EXPECT_EQ(waitpid(waiter.pid(), &status, WNOHANG), 0) << "LOCK did not wait";
    EXPECT_EQ(owner(), a_.pid() + "\n");

    EXPECT_EQ(lock("UNLOCK", a_.pid(), "600"), 0);
    EXPECT_EQ(waiter.wait(), 0);
    EXPECT_EQ(owner(), b_.pid() + "\n");
}

TEST_F(WriteLockTest, TrylockFailsAtOnceAndLockTimesOut) {
    ASSERT_EQ(lock("LOCK", a_.pid(), "600"), 0);
    EXPECT_EQ(lock("TRYLOCK", b_.pid(), "600"), 1);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lock("LOCK", b_.pid(), "1"), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(owner(), a_.pid() + "\n");
}

// A guard held for ever (by a stuck caller or another user) must not make
// LOCK wait beyond its time-out, nor TRYLOCK beyond a second.
TEST_F(WriteLockTest, GuardHeldElsewhereEndsWithinTheTimeOut) {
    root_.mkdirs("tmp");
    // One process (killed with the object) that holds the guard, then says so.
    ChildProcess holder(
        kPerl, {"perl", "-e",
                "open(my $f, '>>', $ARGV[0]) or die; flock($f, 2) or die; "
                "open(my $m, '>', $ARGV[1]); close $m; sleep 30",
                String(root_.file("tmp/write-lock.guard")), String(root_.file("tmp/held"))});
    ASSERT_TRUE(holder.start());
    for (int i = 0; i < 500 && !root_.exists("tmp/held"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(root_.exists("tmp/held"));
    for (const char* action : {"LOCK", "TRYLOCK"}) {
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(lock(action, b_.pid(), "1"), 1) << action;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4)) << action;
    }
    EXPECT_EQ(owner(), "");
}

TEST_F(WriteLockTest, OwnershipRules) {
    pid_t dead;
    {
        ChildProcess gone("/bin/true", {"true"});
        ASSERT_TRUE(gone.start());
        dead = gone.pid();
        gone.wait();
    }
    struct Step {
        const char* what;
        std::string action;
        std::string pid;
        int exitStatus;
    };
    const std::vector<Step> steps = {
        {"releasing a free lock", "UNLOCK", a_.pid(), 0},
        {"a dead owner takes it", "TRYLOCK", std::to_string(dead), 0},
        {"a stale lock is taken over", "TRYLOCK", a_.pid(), 0},
        {"the owner takes it again", "LOCK", a_.pid(), 0},
        {"another process cannot release it", "UNLOCK", b_.pid(), 2},
        {"the action word ignores case", "unlock", a_.pid(), 0},
        {"unknown action", "GRAB", a_.pid(), 4},
        {"no pid", "LOCK", "0", 4},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(lock(step.action, step.pid), step.exitStatus) << step.what;
    }
}

// With an empty root the lock files lie in /tmp, where anybody may plant a
// link: the script must refuse it rather than create or lock its target.
TEST_F(WriteLockTest, PlantedLinkIsNotFollowed) {
    root_.mkdirs("tmp");
    ASSERT_EQ(symlink(root_.file("victim").c_str(), root_.file("tmp/write-lock.guard").c_str()), 0);
    EXPECT_EQ(lock("LOCK", a_.pid()), 4);
    EXPECT_FALSE(root_.exists("victim"));
    EXPECT_FALSE(root_.exists("tmp/write-lock"));
}

std::map<std::string, std::string> readStatus(const TempRoot& root, const std::string& name) {
    std::map<std::string, std::string> fields;
    std::istringstream in(root.read("tmp/" + name));
    for (std::string line; std::getline(in, line);) {
        auto eq = line.find('=');
        fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return fields;
}

TEST(StatusScriptsTest, UpdateStatusPrintsOnePlainLinePerReportAndKeepsTheState) {
    TempRoot root;
    struct Report {
        std::vector<std::string> args;
        std::string line;  // start of the expected line
    };
    const std::vector<Report> reports = {
        {{"--status", "request"}, "product 5: asking the update servers\n"},
        {{"--status", "download", "--downloaded_size", "0", "--total_size", "4096"},
         "product 5: download 0 of 4096 bytes (0%)"},
        {{"--status", "download", "--downloaded_size", "1024", "--total_size", "4096"},
         "product 5: download 1024 of 4096 bytes (25%)"},
    };
    for (const Report& report : reports) {
        std::vector<std::string> args{script("update_status.pl"), "--action", "update", "--id",
                                      "5"};
        args.insert(args.end(), report.args.begin(), report.args.end());
        ProgramResult result = runProgram(kPerl, args, inRoot(root));
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.err.rfind(report.line, 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(result.err.find('\r'), std::string::npos);
    }
    auto state = readStatus(root, "update-status");
    EXPECT_EQ(state["status"], "download");
    EXPECT_EQ(state["downloaded"], "1024");
    EXPECT_EQ(state["total"], "4096");
    EXPECT_EQ(state["percent"], "25");
    EXPECT_EQ(state["startbytes"], "0");

    runProgram(
        kPerl,
        {script("update_status.pl"), "--action", "update", "--id", "5", "--status", "install"},
        inRoot(root));
    EXPECT_EQ(readStatus(root, "update-status")["status"], "install");
}

// The scripts read their options without Getopt::Long, which cost more to
// load than the rest of a report: the forms it accepted still work, and a
// bad line still fails with the usage text.
struct OptionCase {
    const char* name;
    std::vector<std::string> args;
    int exitStatus;
    const char* errStart;
};

void PrintTo(const OptionCase& c, std::ostream* os) {
    *os << c.name;
}

class StatusOptionsTest : public testing::TestWithParam<OptionCase> {};

TEST_P(StatusOptionsTest, ReadsTheFormsGetoptLongRead) {
    TempRoot root;
    std::vector<std::string> args{script("update_status.pl")};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    ProgramResult result = runProgram(kPerl, args, inRoot(root));
    EXPECT_EQ(result.exitStatus, GetParam().exitStatus) << result.err;
    EXPECT_EQ(result.err.rfind(GetParam().errStart, 0), 0u) << result.err;
    EXPECT_EQ(root.exists("tmp/update-status"), GetParam().exitStatus == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, StatusOptionsTest,
    testing::Values(OptionCase{"equals_sign",
                               {"--action=update", "--id=5", "--status=request"},
                               0,
                               "product 5: asking the update servers\n"},
                    OptionCase{"single_dash_any_case_and_prefix",
                               {"-ACT", "update", "-i", "5", "--stat", "request"},
                               0,
                               "product 5: asking the update servers\n"},
                    OptionCase{"unknown_option",
                               {"--id", "5", "--status", "request", "--colour", "red"},
                               255,
                               "Unknown option: colour\n"},
                    OptionCase{"unique_prefix",
                               {"--id", "5", "--status", "download", "--to", "9"},
                               0,
                               "product 5: download 0 of 9 bytes"},
                    OptionCase{"number_expected",
                               {"--id", "five", "--status", "request"},
                               255,
                               "Value \"five\" invalid for option id (number expected)\n"},
                    OptionCase{"value_missing",
                               {"--status", "request", "--id"},
                               255,
                               "Option id requires an argument\n"},
                    OptionCase{"status_missing", {"--id", "5"}, 255, "usage: update_status.pl"}));

TEST(StatusScriptsTest, FirmwareUpdateKeepsItsOwnStatusFile) {
    TempRoot root;
    ProgramResult result = runProgram(
        kPerl,
        {script("firmware_update.pl"), "--action", "UPDATE", "--updatePID", "77", "--status",
         "download", "--downloaded_size", "50", "--total_size", "200", "--version", "1.2"},
        inRoot(root));
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err.rfind("firmware 1.2: download 50 of 200 bytes (25%)", 0), 0u)
        << result.err;
    auto state = readStatus(root, "firmware-status");
    EXPECT_EQ(state["subject"], "firmware 1.2");
    EXPECT_EQ(state["action"], "UPDATE");
    EXPECT_FALSE(root.exists("tmp/update-status"));
}

}  // namespace
