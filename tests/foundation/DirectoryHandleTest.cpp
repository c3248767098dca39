#include "io/DirectoryHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "Exception.h"
#include "TempRoot.h"

namespace {

// What a local user may have left where the tree expects a directory or a
// package file. The victim is a root-owned 0600 file outside the tree.
enum class Plant { kNothing, kRegularFile, kDirectory, kLinkToFile, kLinkToDirectory, kFifo };

struct PlantCase {
    const char* name;
    Plant plant;
    bool subdirectoryOpens;  // subdirectory("entry") gives a handle
    bool fileOpens;          // openForWriting("entry") gives a descriptor
    const char* problem;     // entryProblem("entry"), after the path and ": "
};

class DirectoryHandlePlantTest : public testing::TestWithParam<PlantCase> {
protected:
    void SetUp() override {
        root_.write("victim", "secret", 0600);
        root_.mkdirs("victim-dir");
        root_.mkdirs("tree");
        std::string entry = root_.file("tree/entry");
        switch (GetParam().plant) {
            case Plant::kNothing:
                break;
            case Plant::kRegularFile:
                root_.write("tree/entry", "part");
                break;
            case Plant::kDirectory:
                root_.mkdirs("tree/entry");
                break;
            case Plant::kLinkToFile:
                std::filesystem::create_symlink(root_.file("victim"), entry);
                break;
            case Plant::kLinkToDirectory:
                std::filesystem::create_directory_symlink(root_.file("victim-dir"), entry);
                break;
            case Plant::kFifo:
                ASSERT_EQ(::mkfifo(entry.c_str(), 0666), 0);
                break;
        }
    }

    DirectoryHandle tree() const {
        return DirectoryHandle::open(String(root_.file("tree").c_str()));
    }
    std::string entry() const { return root_.file("tree/entry"); }
    // The message of the refusal call raises.
    template <typename Call>
    std::string refusal(Call call) const {
        try {
            call();
        } catch (const UnsafePathException& e) {
            return e.getMessage().c_str();
        }
        return "no refusal";
    }
    bool plantedLink() const {
        return GetParam().plant == Plant::kLinkToFile ||
               GetParam().plant == Plant::kLinkToDirectory;
    }
    void expectVictimsUntouched() const {
        EXPECT_EQ(root_.read("victim"), "secret");
        EXPECT_TRUE(std::filesystem::is_empty(root_.file("victim-dir")));
    }

    TempRoot root_;
};

TEST_P(DirectoryHandlePlantTest, EntryProblemNamesWhatIsThere) {
    const char* problem = GetParam().problem;
    EXPECT_EQ(std::string(tree().entryProblem("entry").c_str()),
              *problem == '\0' ? std::string() : entry() + ": " + problem);
}

TEST_P(DirectoryHandlePlantTest, SubdirectoryIsNeverReachedThroughALink) {
    if (GetParam().subdirectoryOpens) {
        EXPECT_EQ(std::string(tree().subdirectory("entry").path().c_str()), entry());
    } else {
        std::string message = refusal([this] { tree().subdirectory("entry"); });
        EXPECT_EQ(message, entry() + (plantedLink() ? ": a link" : ": not a directory"));
    }
    expectVictimsUntouched();
}

TEST_P(DirectoryHandlePlantTest, FileIsNeverOpenedThroughALink) {
    if (GetParam().fileOpens) {
        FileDescriptor fd = tree().openForWriting("entry", O_CREAT | O_APPEND);
        EXPECT_EQ(::write(fd.get(), "x", 1), 1);
    } else {
        std::string message =
            refusal([this] { tree().openForWriting("entry", O_CREAT | O_TRUNC); });
        EXPECT_EQ(message, entry() + (plantedLink() ? ": a link" : ": not a regular file"));
    }
    expectVictimsUntouched();
}

TEST_P(DirectoryHandlePlantTest, OnlyARegularFileIsMoved) {
    root_.mkdirs("private");
    DirectoryHandle to = DirectoryHandle::open(String(root_.file("private").c_str()));
    if (GetParam().plant == Plant::kRegularFile) {
        tree().moveFile("entry", to);
        EXPECT_EQ(root_.read("private/entry"), "part");
        EXPECT_FALSE(root_.exists("tree/entry"));
    } else if (GetParam().plant == Plant::kNothing) {
        EXPECT_THROW(tree().moveFile("entry", to), IOException);
    } else {
        std::string message = refusal([&] { tree().moveFile("entry", to); });
        EXPECT_EQ(message, entry() + (plantedLink() ? ": a link" : ": not a regular file"));
        EXPECT_FALSE(root_.exists("private/entry"));
    }
    expectVictimsUntouched();
}

// A deferred package's tree is synced before the list naming it: whatever
// lies in it, nothing is followed, nothing blocks and nothing fails.
TEST_P(DirectoryHandlePlantTest, ATreeIsSyncedWithoutFollowingWhatLiesInIt) {
    root_.write("tree/script", "#!/bin/sh\n");
    EXPECT_NO_THROW(tree().syncTree());
    expectVictimsUntouched();
}

INSTANTIATE_TEST_SUITE_P(
    Plants, DirectoryHandlePlantTest,
    testing::Values(PlantCase{"Nothing", Plant::kNothing, true, true, ""},
                    PlantCase{"RegularFile", Plant::kRegularFile, false, true, ""},
                    PlantCase{"Directory", Plant::kDirectory, true, false, "not a regular file"},
                    PlantCase{"LinkToFile", Plant::kLinkToFile, false, false, "a link"},
                    PlantCase{"LinkToDirectory", Plant::kLinkToDirectory, false, false, "a link"},
                    PlantCase{"Fifo", Plant::kFifo, false, false, "not a regular file"}),
    [](const testing::TestParamInfo<PlantCase>& info) { return info.param.name; });

struct TrustCase {
    const char* name;
    mode_t mode;
    bool foreignOwner;   // owned by uid 65534 (needs root)
    const char* reason;  // after the path and ": "; "" when trusted
};

class DirectoryHandleTrustTest : public testing::TestWithParam<TrustCase> {};

TEST_P(DirectoryHandleTrustTest, OnlyRootOrTheEffectiveUserMayChangeIt) {
    const TrustCase& c = GetParam();
    if (c.foreignOwner && ::geteuid() != 0) {
        GTEST_SKIP() << "giving a directory to uid 65534 needs root";
    }
    TempRoot root;
    root.mkdirs("dir");
    std::string path = root.file("dir");
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    if (c.foreignOwner) {
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    }
    String reason = DirectoryHandle::open(String(path.c_str())).untrustedReason();
    EXPECT_EQ(std::string(reason.c_str()),
              *c.reason == '\0' ? std::string() : path + ": " + c.reason);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, DirectoryHandleTrustTest,
    testing::Values(TrustCase{"Private", 0700, false, ""},
                    TrustCase{"ReadableByAll", 0755, false, ""},
                    TrustCase{"GroupWritable", 0775, false, "writable by group or others"},
                    TrustCase{"WorldWritable", 0777, false, "writable by group or others"},
                    TrustCase{"StickyWorldWritable", 01777, false, "writable by group or others"},
                    TrustCase{"ForeignOwner", 0755, true, "owned by uid 65534"}),
    [](const testing::TestParamInfo<TrustCase>& info) { return info.param.name; });

TEST(DirectoryHandleCreateTest, ANewSubdirectoryIs0755WhateverTheUmask) {
    TempRoot root;
    mode_t old = ::umask(0);
    DirectoryHandle made = DirectoryHandle::open(String(root.path().c_str())).subdirectory("new");
    ::umask(old);
    struct stat status {};
    ASSERT_EQ(::stat(root.file("new").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0755u);
    EXPECT_TRUE(made.untrustedReason().isEmpty());
}

TEST(DirectoryHandleCreateTest, AFreshSubdirectoryIsPrivateAndNew) {
    TempRoot root;
    DirectoryHandle parent = DirectoryHandle::open(String(root.path().c_str()));
    DirectoryHandle first = parent.freshSubdirectory("work-");
    DirectoryHandle second = parent.freshSubdirectory("work-");
    std::string name = first.path().substring(root.path().size() + 1).c_str();
    EXPECT_EQ(name.rfind("work-", 0), 0u);
    EXPECT_EQ(name.size(), 11u);
    EXPECT_NE(std::string(first.path().c_str()), std::string(second.path().c_str()));
    struct stat status {};
    ASSERT_EQ(::stat(first.path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
}

// A link inside a removed tree goes; what it names stays.
TEST(DirectoryHandleRemoveTest, ATreeIsRemovedWithoutFollowingItsLinks) {
    TempRoot root;
    root.write("victim-dir/keep", "x");
    root.write("victim", "secret");
    root.write("tree/sub/file", "y");
    std::filesystem::create_directory_symlink(root.file("victim-dir"), root.file("tree/sub/dir"));
    std::filesystem::create_symlink(root.file("victim"), root.file("tree/link"));
    DirectoryHandle parent = DirectoryHandle::open(String(root.path().c_str()));
    EXPECT_TRUE(parent.removeTree("tree"));
    EXPECT_FALSE(root.exists("tree"));
    EXPECT_EQ(root.read("victim-dir/keep"), "x");
    EXPECT_EQ(root.read("victim"), "secret");
    EXPECT_TRUE(parent.removeTree("tree"));  // missing counts as removed
}

// Where a rename cannot go (another file system), the file is copied from
// the descriptor opened before.
TEST(DirectoryHandleMoveTest, AFileIsCopiedAcrossFileSystems) {
    TempRoot root;
    root.write("from/archive", "payload");
    struct stat here {};
    struct stat there {};
    if (::stat("/dev/shm", &there) != 0 || ::stat(root.path().c_str(), &here) != 0 ||
        here.st_dev == there.st_dev) {
        GTEST_SKIP() << "/dev/shm is no other file system here";
    }
    DirectoryHandle shared = DirectoryHandle::open("/dev/shm");
    DirectoryHandle to = shared.freshSubdirectory("lm-move-test-");
    DirectoryHandle::open(String(root.file("from").c_str())).moveFile("archive", to);
    std::string moved = std::string(to.path().c_str()) + "/archive";
    std::ifstream in(moved);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "payload");
    EXPECT_FALSE(root.exists("from/archive"));
    EXPECT_TRUE(shared.removeTree(to.path().substring(9)));
}

TEST(DirectoryHandleOpenTest, AMissingDirectoryRaisesWithItsPath) {
    TempRoot root;
    try {
        DirectoryHandle::open(String(root.file("missing").c_str()));
        FAIL() << "opened a missing directory";
    } catch (const IOException& e) {
        EXPECT_EQ(std::string(e.getMessage().c_str()),
                  root.file("missing") + ": No such file or directory");
    }
}

}  // namespace
