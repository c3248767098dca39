#include "io/AtomicFileWriter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Exception.h"
#include "FileSizeLimit.h"
#include "TempRoot.h"
#include "io/File.h"

namespace {

class AtomicFileWriterTest : public testing::Test {
protected:
    std::string path(const std::string& relative = "conf/state") const {
        return root_.file(relative);
    }

    // The entries of the directory, to see that no temporary file is left.
    std::vector<std::string> entries(const std::string& relative = "conf") const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(root_.file(relative))) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    static mode_t modeOf(const std::string& file) {
        struct stat status {};
        EXPECT_EQ(stat(file.c_str(), &status), 0);
        return status.st_mode & 07777;
    }

    // The message of the IOException that action raises ("" when none).
    static std::string ioError(const std::function<void()>& action) {
        try {
            action();
        } catch (const IOException& e) {
            return e.getMessage().str();
        }
        return "";
    }

    void SetUp() override { root_.write("conf/state", "old content\n", 0640); }

    TempRoot root_;
};

TEST_F(AtomicFileWriterTest, CommitReplacesTheContentAndLeavesNoTemporaryFile) {
    AtomicFileWriter out(path());
    EXPECT_EQ(File(out.getTemporaryPath()).getParent().str(), root_.file("conf"));
    out.write("new ");
    out.write('c');
    out.write(String("ontent"));
    EXPECT_EQ(root_.read("conf/state"), "old content\n");
    out.commit();
    EXPECT_EQ(root_.read("conf/state"), "new content");
    EXPECT_EQ(entries(), std::vector<std::string>{"state"});
    EXPECT_TRUE(out.isClosed());
    EXPECT_EQ(ioError([&] { out.write("more"); }), "Stream is already closed");
}

TEST_F(AtomicFileWriterTest, ContentLargerThanTheBufferArrivesWhole) {
    std::string big;
    for (int i = 0; i < 50000; ++i) {
        big += static_cast<char>('a' + i % 26);
    }
    AtomicFileWriter out(path());
    for (size_t at = 0; at < big.size(); at += 1000) {
        out.write(big.data() + at, 1000);
    }
    out.commit();
    EXPECT_EQ(root_.read("conf/state"), big);
}

TEST_F(AtomicFileWriterTest, AnEmptyCommitLeavesAnEmptyFile) {
    AtomicFileWriter(path()).commit();
    EXPECT_EQ(root_.size("conf/state"), 0);
}

struct AbandonCase {
    const char* name;
    std::function<void(AtomicFileWriter&)> end;
};

class AtomicFileWriterAbandonTest : public AtomicFileWriterTest,
                                    public testing::WithParamInterface<AbandonCase> {};

TEST_P(AtomicFileWriterAbandonTest, LeavesTheOldFileAndNoTemporaryFile) {
    {
        AtomicFileWriter out(path());
        out.write(std::string(20000, 'x').c_str());  // past the buffer: on disk already
        ASSERT_EQ(File(out.getTemporaryPath()).length(), 20000);
        GetParam().end(out);
    }
    EXPECT_EQ(root_.read("conf/state"), "old content\n");
    EXPECT_EQ(entries(), std::vector<std::string>{"state"});
}

INSTANTIATE_TEST_SUITE_P(Ends, AtomicFileWriterAbandonTest,
                         testing::Values(AbandonCase{"Destroyed", [](AtomicFileWriter&) {}},
                                         AbandonCase{"Closed",
                                                     [](AtomicFileWriter& out) {
                                                         out.close();
                                                         EXPECT_EQ(out.getTemporaryPath().str(),
                                                                   "");
                                                     }},
                                         AbandonCase{"ClosedThenCommitted",
                                                     [](AtomicFileWriter& out) {
                                                         out.close();
                                                         EXPECT_THROW(out.commit(), IOException);
                                                     }}),
                         [](const testing::TestParamInfo<AbandonCase>& info) {
                             return info.param.name;
                         });

TEST_F(AtomicFileWriterTest, ASymbolicLinkIsReplacedThroughTheLink) {
    root_.write("persistent/state", "linked old", 0600);
    root_.remove("conf/state");
    ASSERT_EQ(symlink(root_.file("persistent/state").c_str(), path().c_str()), 0);
    AtomicFileWriter out(path());
    out.write("linked new");
    out.commit();
    struct stat status {};
    ASSERT_EQ(lstat(path().c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(root_.read("persistent/state"), "linked new");
    EXPECT_EQ(modeOf(root_.file("persistent/state")), 0600u);
    EXPECT_EQ(entries("persistent"), std::vector<std::string>{"state"});
}

TEST_F(AtomicFileWriterTest, ADanglingLinkGetsItsFileCreated) {
    root_.mkdirs("persistent");
    ASSERT_EQ(symlink("../persistent/fresh", path("conf/fresh").c_str()), 0);
    AtomicFileWriter out(path("conf/fresh"));
    out.write("created");
    out.commit();
    EXPECT_EQ(root_.read("persistent/fresh"), "created");
    struct stat status {};
    ASSERT_EQ(lstat(path("conf/fresh").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
}

TEST_F(AtomicFileWriterTest, ALoopOfLinksIsRefused) {
    ASSERT_EQ(symlink("b", path("conf/a").c_str()), 0);
    ASSERT_EQ(symlink("a", path("conf/b").c_str()), 0);
    EXPECT_EQ(ioError([&] { AtomicFileWriter out(path("conf/a")); }),
              path("conf/a") + ": Too many levels of symbolic links");
    EXPECT_EQ(entries().size(), 3u);
}

TEST_F(AtomicFileWriterTest, TheOldModeIsKeptAndANewFileFollowsTheUmask) {
    ASSERT_EQ(chmod(path().c_str(), 0604), 0);
    AtomicFileWriter(path()).commit();
    EXPECT_EQ(modeOf(path()), 0604u);

    mode_t saved = umask(027);
    AtomicFileWriter(path("conf/fresh")).commit();
    umask(saved);
    EXPECT_EQ(modeOf(path("conf/fresh")), 0640u);
}

TEST_F(AtomicFileWriterTest, AForcedModeReplacesTheOldOneAndTheUmask) {
    ASSERT_EQ(chmod(path().c_str(), 0644), 0);
    AtomicFileWriter existing(path());
    existing.forceMode(0600);
    existing.commit();
    EXPECT_EQ(modeOf(path()), 0600u);

    mode_t saved = umask(0);
    AtomicFileWriter fresh(path("conf/fresh"));
    fresh.forceMode(0600);
    fresh.commit();
    umask(saved);
    EXPECT_EQ(modeOf(path("conf/fresh")), 0600u);
}

TEST_F(AtomicFileWriterTest, AFailedWriteKeepsTheOldFileAndCannotBeCommitted) {
    AtomicFileWriter out(path());
    std::string message;
    {
        FileSizeLimit limit(4096);
        if (!limit.active()) {
            GTEST_SKIP() << "cannot limit the file size";
        }
        message = ioError([&] {
            out.write(std::string(10000, 'x').c_str());
            out.commit();
        });
    }
    EXPECT_EQ(message, path() + ": File too large");
    EXPECT_EQ(ioError([&] { out.commit(); }), "Stream is already closed");
    EXPECT_EQ(root_.read("conf/state"), "old content\n");
    EXPECT_EQ(entries(), std::vector<std::string>{"state"});
}

TEST_F(AtomicFileWriterTest, AFailedCommitKeepsTheOldFile) {
    AtomicFileWriter out(path());
    out.write(std::string(3000, 'x').c_str());  // still in the buffer
    {
        FileSizeLimit limit(1024);
        if (!limit.active()) {
            GTEST_SKIP() << "cannot limit the file size";
        }
        EXPECT_EQ(ioError([&] { out.commit(); }), path() + ": File too large");
    }
    EXPECT_EQ(root_.read("conf/state"), "old content\n");
    EXPECT_EQ(entries(), std::vector<std::string>{"state"});
}

// No descriptor can be opened any more: the directory that would make the
// rename durable cannot be opened, so the save fails and publishes nothing.
TEST_F(AtomicFileWriterTest, ADirectoryThatCannotBeSyncedFailsTheSave) {
#ifdef __SANITIZE_ADDRESS__
    // Their runtime checks memory through a pipe of its own, which the
    // exhausted limit refuses: it would report the exception as corrupt.
    GTEST_SKIP() << "the sanitizers need file descriptors of their own";
#endif
    AtomicFileWriter out(path());
    out.write("new content\n");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    int lowestFree = dup(0);
    ASSERT_GE(lowestFree, 0);
    close(lowestFree);
    rlimit exhausted = saved;
    exhausted.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &exhausted), 0);
    std::string message = ioError([&] { out.commit(); });
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(message, path() + ": Too many open files");
    EXPECT_EQ(root_.read("conf/state"), "old content\n");
    EXPECT_EQ(entries(), std::vector<std::string>{"state"});
}

// What a cut save leaves is removed once it is old; a save in progress,
// another file's temporary file and names that only look alike stay.
TEST_F(AtomicFileWriterTest, OnlyStaleTemporaryFilesOfTheTargetAreRemoved) {
    const std::vector<std::pair<std::string, time_t>> files = {{".state.Ab3dE9", 1000},
                                                               {".state.Zz9yX8", 3000},
                                                               {".other.Ab3dE9", 1000},
                                                               {".state.Ab3dE", 1000},
                                                               {".state.Ab3d-9", 1000}};
    for (const auto& [name, written] : files) {
        root_.write("conf/" + name, "x");
        const timespec times[2] = {{written, 0}, {written, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path("conf/" + name).c_str(), times, 0), 0);
    }
    EXPECT_EQ(AtomicFileWriter::removeStaleTemporaries(path(), 2000), 1);
    std::vector<std::string> left = entries();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{".other.Ab3dE9", ".state.Ab3d-9", ".state.Ab3dE",
                                              ".state.Zz9yX8", "state"}));
    EXPECT_EQ(root_.read("conf/state"), "old content\n");
}

struct OpenFailureCase {
    const char* name;
    const char* target;
    const char* error;
};

class AtomicFileWriterOpenTest : public AtomicFileWriterTest,
                                 public testing::WithParamInterface<OpenFailureCase> {};

TEST_P(AtomicFileWriterOpenTest, NamesTheTargetAndTheSystemError) {
    const OpenFailureCase& c = GetParam();
    EXPECT_EQ(ioError([&] { AtomicFileWriter out(path(c.target)); }),
              path(c.target) + ": " + c.error);
    EXPECT_EQ(root_.read("conf/state"), "old content\n");
    EXPECT_EQ(entries(), std::vector<std::string>{"state"});
}

INSTANTIATE_TEST_SUITE_P(
    Targets, AtomicFileWriterOpenTest,
    testing::Values(OpenFailureCase{"MissingDirectory", "conf/missing/state",
                                    "No such file or directory"},
                    OpenFailureCase{"DirectoryIsAFile", "conf/state/inner", "Not a directory"}),
    [](const testing::TestParamInfo<OpenFailureCase>& info) { return info.param.name; });

TEST_F(AtomicFileWriterTest, ADirectoryInTheWayIsNotReplaced) {
    root_.mkdirs("conf/dir/keep");
    AtomicFileWriter out(path("conf/dir"));
    out.write("x");
    EXPECT_EQ(ioError([&] { out.commit(); }), path("conf/dir") + ": Is a directory");
    EXPECT_TRUE(root_.exists("conf/dir/keep"));
    EXPECT_EQ(entries().size(), 2u);
}

}  // namespace
