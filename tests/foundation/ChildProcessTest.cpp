#include "ChildProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>

namespace {

class ChildProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/childprocess-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Writes a shell script and returns its path; mode 0755 unless given.
    std::string script(const std::string& name, const std::string& body, mode_t mode = 0755) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        chmod(path.c_str(), mode);
        return path;
    }

    std::string read(const std::string& name) {
        std::ifstream in(dir_ + "/" + name);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string dir_;
};

struct ExitCase {
    const char* name;
    const char* body;
    int exitStatus;
};

void PrintTo(const ExitCase& c, std::ostream* os) {
    *os << c.name;
}

class ChildProcessExitTest : public ChildProcessTest,
                             public ::testing::WithParamInterface<ExitCase> {};

TEST_P(ChildProcessExitTest, ReturnsRawWaitStatusOfNormalExit) {
    std::string path = script("s", GetParam().body);
    int status = ChildProcess::run(path, {"s"});
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), GetParam().exitStatus);
    EXPECT_EQ(status, GetParam().exitStatus << 8);
}

INSTANTIATE_TEST_SUITE_P(Statuses, ChildProcessExitTest,
                         ::testing::Values(ExitCase{"zero", "exit 0", 0},
                                           ExitCase{"one", "exit 1", 1},
                                           ExitCase{"two", "exit 2", 2},
                                           ExitCase{"large", "exit 200", 200}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChildProcessTest, PassesArgumentZeroAndArgumentsUnchanged) {
    std::string path =
        script("rec", "for a in \"$0\" \"$@\"; do echo \"[$a]\"; done > " + dir_ + "/args");
    // No shell in between: blanks and shell characters arrive as they are.
    int status = ChildProcess::run(path, {path, "-s", "a b", "$HOME;x", ""});
    ASSERT_EQ(status, 0);
    EXPECT_EQ(read("args"), "[" + path + "]\n[-s]\n[a b]\n[$HOME;x]\n[]\n");
}

TEST_F(ChildProcessTest, SignalDeathIsReported) {
    std::string path = script("k", "kill -TERM $$");
    int status = ChildProcess::run(path, {"k"});
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
}

struct StartFailureCase {
    const char* name;
    bool create;
    mode_t mode;
    int exitStatus;
};

void PrintTo(const StartFailureCase& c, std::ostream* os) {
    *os << c.name;
}

class ChildProcessStartFailureTest : public ChildProcessTest,
                                     public ::testing::WithParamInterface<StartFailureCase> {};

TEST_P(ChildProcessStartFailureTest, EndsWithStatusOfTheFailure) {
    // Even root is refused a file without any execute bit (EACCES).
    std::string path = dir_ + "/missing";
    if (GetParam().create) {
        path = script("noexec", "exit 0", GetParam().mode);
    }
    int status = ChildProcess::run(path, {"x"}, "start failed");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), GetParam().exitStatus);
}

INSTANTIATE_TEST_SUITE_P(Failures, ChildProcessStartFailureTest,
                         ::testing::Values(StartFailureCase{"notExecutable", true, 0644, 127},
                                           StartFailureCase{"missing", false, 0, 128}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChildProcessTest, StartFailureHookAndFixedStatusRunInTheChild) {
    ChildProcess child(dir_ + "/missing", {"x"});
    std::string marker = dir_ + "/hook";
    child.setStartFailureHook(
        [&marker](int error) { std::ofstream(marker) << (error == ENOENT ? "ENOENT" : "other"); });
    child.setStartFailureStatus(3);
    ASSERT_TRUE(child.start());
    int status = child.wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(read("hook"), "ENOENT");
}

TEST_F(ChildProcessTest, WaitIsIdempotentAndNeverStartedGivesMinusOne) {
    ChildProcess idle(script("s", "exit 4"), {"s"});
    EXPECT_EQ(idle.wait(), -1);
    ASSERT_TRUE(idle.start());
    EXPECT_TRUE(idle.running());
    EXPECT_EQ(idle.wait(), 4 << 8);
    EXPECT_FALSE(idle.running());
    EXPECT_EQ(idle.wait(), 4 << 8);
}

TEST_F(ChildProcessTest, DestructorReapsAChildStillRunning) {
    pid_t pid;
    {
        ChildProcess child(script("sleeper", "exec sleep 30"), {"sleeper"});
        ASSERT_TRUE(child.start());
        pid = child.pid();
    }
    // Reaped: the pid is no longer our child (no zombie left).
    int status;
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(ChildProcessTest, MovedObjectOwnsTheChild) {
    ChildProcess first(script("s", "exit 5"), {"s"});
    ASSERT_TRUE(first.start());
    ChildProcess second(std::move(first));
    EXPECT_FALSE(first.running());
    EXPECT_EQ(second.wait(), 5 << 8);
}

TEST_F(ChildProcessTest, DiscardedStandardErrorGoesToDevNull) {
    // Exits 0 only when its standard error is /dev/null; kept across a move.
    ChildProcess probe(script("s", "[ \"$(readlink /proc/self/fd/2)\" = /dev/null ]"), {"s"});
    probe.discardStandardError();
    ChildProcess moved(std::move(probe));
    ASSERT_TRUE(moved.start());
    EXPECT_EQ(moved.wait(), 0);
}

// A start setting, and what a child started with it reports about itself.
struct SettingCase {
    const char* name;
    void (*apply)(ChildProcess&);
    const char* body;  // writes its findings to standard output
    const char* seen;
};

void PrintTo(const SettingCase& c, std::ostream* os) {
    *os << c.name;
}

class ChildProcessSettingTest : public ChildProcessTest,
                                public ::testing::WithParamInterface<SettingCase> {};

// Whether the shell leads its own process group and session ($5 and $6 of
// /proc/PID/stat).
constexpr const char kGroupAndSession[] =
    "set -- $(cat /proc/$$/stat)\n"
    "[ \"$5\" = \"$1\" ] && echo own group || echo our group\n"
    "[ \"$6\" = \"$1\" ] && echo own session || echo our session";

TEST_P(ChildProcessSettingTest, ChildStartsWithTheSetting) {
    // Our standard input a pipe, so that /dev/null in the child is its doing.
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    int savedInput = dup(STDIN_FILENO);
    dup2(ends[0], STDIN_FILENO);
    std::string path = script("s", std::string("cd \"${0%/*}\"\n") + GetParam().body);
    int out = open((dir_ + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ChildProcess child(path, {"s"});
    child.setStandardOutput(out);
    GetParam().apply(child);
    ASSERT_TRUE(child.start());
    int status = child.wait();
    dup2(savedInput, STDIN_FILENO);
    for (int fd : {savedInput, ends[0], ends[1], out}) {
        close(fd);
    }
    EXPECT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(read("out"), GetParam().seen);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ChildProcessSettingTest,
    ::testing::Values(
        SettingCase{"groupInherited", [](ChildProcess&) {}, kGroupAndSession,
                    "our group\nour session\n"},
        SettingCase{"ownProcessGroup", [](ChildProcess& c) { c.startOwnProcessGroup(); },
                    kGroupAndSession, "own group\nour session\n"},
        SettingCase{"newSession", [](ChildProcess& c) { c.startNewSession(); }, kGroupAndSession,
                    "own group\nown session\n"},
        SettingCase{"standardInputDiscarded", [](ChildProcess& c) { c.discardStandardInput(); },
                    "readlink /proc/self/fd/0", "/dev/null\n"},
        // head ends on SIGXFSZ at the limit; what it wrote stays.
        SettingCase{"fileSizeLimit", [](ChildProcess& c) { c.setFileSizeLimit(1000); },
                    "head -c 5000 /dev/zero > big; wc -c < big", "1000\n"},
        SettingCase{"environmentReplaced",
                    [](ChildProcess& c) {
                        c.setEnvironment({"A=1", "PATH=/usr/bin:/bin"});
                    },
                    "/usr/bin/env | grep -v PWD=", "A=1\nPATH=/usr/bin:/bin\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
