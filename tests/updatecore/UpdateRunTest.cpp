#include "run/UpdateRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "InstallRoot.h"
#include "TempRoot.h"

namespace fs = std::filesystem;

namespace {

TEST(UpdateRunTest, InstallLockPathInsertsTheRootAsItStands) {
    processRoot();
    EXPECT_EQ(installLockPath().str(), "/tmp/" + installRoot().str() + "/logs/install.lock");
}

// "/tmp/lmupdate" is the session's fixed scratch directory; the test only
// touches it when nobody else has one, and in one test so that its steps
// never race each other.
TEST(UpdateRunDeathTest, TempFilesAreClearedAlsoWhenANetworkTimeoutEndsTheProcess) {
    if (fs::exists("/tmp/lmupdate")) {
        GTEST_SKIP() << "/tmp/lmupdate exists already; not touching another run's files";
    }
    EXPECT_EQ(clearTempFiles(), 1) << "absent counts as cleared";
    fs::create_directories("/tmp/lmupdate/a/b");
    std::ofstream("/tmp/lmupdate/a/b/file") << "x";
    EXPECT_EQ(clearTempFiles(), 1);
    EXPECT_FALSE(fs::exists("/tmp/lmupdate"));

    fs::create_directories("/tmp/lmupdate/c");
    EXPECT_EXIT(onNetworkTimeout(), testing::ExitedWithCode(247), "");
    EXPECT_FALSE(fs::exists("/tmp/lmupdate"));
}

}  // namespace
