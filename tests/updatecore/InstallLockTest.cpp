#include "install/InstallLock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ostream>
#include <string>

#include "TempRoot.h"

namespace {

enum class Existing { Nothing, File0600, File0644, Fifo, Directory };

struct LockCase {
    const char* name;
    Existing existing;
    const char* refusal;  // "" when the lock is held
};

void PrintTo(const LockCase& c, std::ostream* os) {
    *os << c.name;
}

class InstallLockTest : public ::testing::TestWithParam<LockCase> {
protected:
    TempRoot root_;
};

// The temporary root lies in /tmp, the one directory of the path that is
// not the effective user's.
TEST_P(InstallLockTest, OnlyAPrivateRegularFileIsLocked) {
    std::string path = root_.file("logs/install.lock");
    switch (GetParam().existing) {
        case Existing::Nothing:
            break;
        case Existing::File0600:
            root_.write("logs/install.lock", "", 0600);
            break;
        case Existing::File0644:
            root_.write("logs/install.lock", "", 0644);
            break;
        case Existing::Fifo:
            root_.mkdirs("logs");
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
            break;
        case Existing::Directory:
            root_.mkdirs("logs/install.lock");
            break;
    }
    InstallLock lock(path);
    EXPECT_EQ(lock.held(), std::string(GetParam().refusal).empty());
    EXPECT_EQ(lock.refusal().str(), GetParam().refusal);
    if (lock.held()) {
        struct stat info = {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        ASSERT_EQ(::stat(root_.file("logs").c_str(), &info), 0);
        if (GetParam().existing == Existing::Nothing) {
            EXPECT_EQ(info.st_mode & 07777, 0700u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InstallLockTest,
    ::testing::Values(LockCase{"made", Existing::Nothing, ""},
                      LockCase{"ownPrivateFile", Existing::File0600, ""},
                      LockCase{"readableByOthers", Existing::File0644, "mode is not 0600"},
                      LockCase{"fifo", Existing::Fifo, "not a regular file"},
                      LockCase{"directory", Existing::Directory, "cannot open: Is a directory"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
