#include "FileLock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "TempRoot.h"

namespace {
mode_t permissionsOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0);
    return status.st_mode & 07777;
}

// Reads one byte from fd, waiting at most timeoutMs; -1 when nothing came.
int readByte(int fd, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    struct timeval timeout {
        timeoutMs / 1000, (timeoutMs % 1000) * 1000
    };
    if (select(fd + 1, &set, nullptr, nullptr, &timeout) != 1) {
        return -1;
    }
    char c;
    return read(fd, &c, 1) == 1 ? c : -1;
}

TEST(FileLockTest, SecondProcessWaitsUntilFirstReleases) {
    TempRoot root;
    String path(root.file("test.lock"));
    FileLock first(path);
    ASSERT_TRUE(first.isOpen());
    first.lock();

    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(report[0]);
        FileLock second(path);
        second.lock();
        ssize_t n = write(report[1], "L", 1);
        _exit(n == 1 ? 0 : 1);
    }
    close(report[1]);
    // The child must still be waiting while this process holds the lock.
    EXPECT_EQ(readByte(report[0], 300), -1);
    EXPECT_EQ(first.unlock(), 0);
    EXPECT_EQ(readByte(report[0], 10000), 'L');
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(report[0]);
}

TEST(FileLockTest, ExitOfHolderReleasesLock) {
    TempRoot root;
    String path(root.file("exit.lock"));
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FileLock held(path);
        held.lock();
        ssize_t n = write(ready[1], "H", 1);
        usleep(200 * 1000);
        n += write(ready[1], "E", 1);
        _exit(n == 2 ? 0 : 1);  // exits without unlocking
    }
    ASSERT_EQ(readByte(ready[0], 10000), 'H');
    FileLock mine(path);
    mine.lock();  // granted only once the child is gone
    EXPECT_EQ(readByte(ready[0], 0), 'E');
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(ready[0]);
    close(ready[1]);
}

TEST(FileLockTest, MissingDirectoryLeavesLockClosed) {
    TempRoot root;
    FileLock lock(String(root.file("no/such/dir/x.lock")));
    EXPECT_FALSE(lock.isOpen());
    lock.lock();  // returns at once
    EXPECT_EQ(lock.unlock(), -1);
    EXPECT_EQ(lock.remove(), -1);
    EXPECT_EQ(lock.close(), -1);
    FileLock empty((String()));
    EXPECT_FALSE(empty.isOpen());
}

TEST(FileLockTest, PermissionsSharedAndPrivate) {
    TempRoot root;
    mode_t old = umask(022);
    {
        FileLock shared(String(root.file("shared.lock")), true);
        FileLock own(String(root.file("own.lock")), false);
        EXPECT_TRUE(shared.isOpen() && own.isOpen());
    }
    umask(old);
    EXPECT_EQ(permissionsOf(root.file("shared.lock")), 0666u);
    EXPECT_EQ(permissionsOf(root.file("own.lock")), 0600u);
    // Closing never removes the lock file; remove does.
    FileLock again(String(root.file("own.lock")));
    EXPECT_EQ(again.close(), 0);
    EXPECT_EQ(again.close(), -1);
    EXPECT_TRUE(root.exists("own.lock"));
    again.open(String(root.file("own.lock")));
    EXPECT_EQ(again.remove(), 0);
    EXPECT_FALSE(root.exists("own.lock"));
}

TEST(FileLockTest, LongPathIsCut) {
    TempRoot root;
    std::string longName = root.path() + "/" + std::string(300, 'n');
    FileLock lock{String(longName)};
    EXPECT_EQ(lock.getPath().length(), 255);
}
}  // namespace
