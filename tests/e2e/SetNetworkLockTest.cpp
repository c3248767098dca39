#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "FileLock.h"
#include "SetNetworkFixture.h"

extern char** environ;

namespace {

// SetNetwork started in the background with exactly the environment env
// and its output in a file; killed and reaped if the test ends before it
// does.
class BackgroundRun {
public:
    BackgroundRun(std::vector<std::string> env, std::vector<std::string> args,
                  const std::string& out) {
        args = commandLine(setNetworkExe(), args);
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& variable : env) {
            envp.push_back(variable.data());
        }
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
    }
    BackgroundRun(const BackgroundRun&) = delete;
    BackgroundRun& operator=(const BackgroundRun&) = delete;
    ~BackgroundRun() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    bool running() { return !reaped(); }
    // The exit status, or -1 when it did not end within the limit or was
    // killed.
    int wait(std::chrono::seconds limit) {
        auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::seconds(scaledSeconds(static_cast<int>(limit.count())));
        while (!reaped()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }

private:
    bool reaped() {
        if (pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_) {
            pid_ = -1;
        }
        return pid_ <= 0;
    }

    pid_t pid_ = -1;
    int status_ = -1;
};

using SetNetworkLockTest = SetNetworkFixture;

TEST_F(SetNetworkLockTest, ASecondProcessWaitsForTheLock) {
    FileLock lock(String(root_.file("tmp/network.lock")));
    ASSERT_TRUE(lock.isOpen());
    lock.lock();

    BackgroundRun second({root_.registerDirEnv()}, {"-S", "--server", "a"}, root_.file("out.txt"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(second.running());
    EXPECT_FALSE(hasSettings());  // nothing done while it waits

    lock.close();
    EXPECT_EQ(second.wait(std::chrono::seconds(30)), 0);
    EXPECT_EQ(root_.read("out.txt"), kChanged);
    EXPECT_TRUE(hasSettings());
}

TEST_F(SetNetworkLockTest, EvenHelpWaitsForTheLock) {
    FileLock lock(String(root_.file("tmp/network.lock")));
    lock.lock();
    BackgroundRun help({root_.registerDirEnv()}, {"-h"}, root_.file("out.txt"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(help.running());
    lock.close();
    EXPECT_EQ(help.wait(std::chrono::seconds(30)), 0);
}

TEST_F(SetNetworkLockTest, WithoutRegisterDirTheLockIsBelowTheFileSystemRoot) {
    // Like every run of the command, this leaves /tmp/network.lock behind:
    // removing it could let a concurrent run of this test go unlocked.
    FileLock lock(String("/tmp/network.lock"));
    if (!lock.isOpen()) {
        GTEST_SKIP() << "/tmp/network.lock cannot be opened";
    }
    lock.lock();
    BackgroundRun help({}, {"-h"}, root_.file("out.txt"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(help.running());
    lock.close();
    EXPECT_EQ(help.wait(std::chrono::seconds(30)), 0);
    EXPECT_EQ(root_.read("out.txt").rfind("Usage: SetNetwork [options...]\n", 0), 0u);
}

TEST_F(SetNetworkLockTest, WithoutTmpItRunsUnlocked) {
    root_.remove("tmp");
    ProgramResult r = run({"-S", "--server", "a"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, kChanged);
    EXPECT_FALSE(root_.exists("tmp"));
}

TEST_F(SetNetworkLockTest, TheLockFileIsCreatedOwnerOnlyAndKept) {
    EXPECT_EQ(run({"-h"}).exitStatus, 0);
    struct stat status {};
    ASSERT_EQ(stat(root_.file("tmp/network.lock").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0077, 0u);
}

}  // namespace
