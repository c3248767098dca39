#include "io/PathTrust.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "TempRoot.h"

namespace {

namespace fs = std::filesystem;

// Below a trusted test root: a/b is judged; a is the directory above it.
struct PathCase {
    const char* name;
    mode_t aMode;
    mode_t bMode;
    uid_t aOwner;         // 0: the test's own user
    bool linkToB;         // the path judged is a link to a/b
    const char* problem;  // after the root, "" when the path is trusted
};

void PrintTo(const PathCase& c, std::ostream* out) {
    *out << c.name;
}

class PathTrustTest : public testing::TestWithParam<PathCase> {};

TEST_P(PathTrustTest, JudgesThePathAndEveryDirectoryAboveIt) {
    const PathCase& c = GetParam();
    if (c.aOwner != 0 && ::geteuid() != 0) {
        GTEST_SKIP() << "giving a directory to another user needs root";
    }
    TempRoot root;
    root.mkdirs("a/b");
    fs::permissions(root.file("a/b"), static_cast<fs::perms>(c.bMode));
    fs::permissions(root.file("a"), static_cast<fs::perms>(c.aMode));
    if (c.aOwner != 0) {
        ASSERT_EQ(::chown(root.file("a").c_str(), c.aOwner, c.aOwner), 0);
    }
    std::string judged = root.file("a/b");
    if (c.linkToB) {
        judged = root.file("link");
        fs::create_directory_symlink(root.file("a/b"), judged);
    }
    std::string expected = *c.problem ? root.path() + "/" + c.problem : "";
    EXPECT_EQ(PathTrust::problem(String(judged.c_str())).str(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathTrustTest,
    testing::Values(
        PathCase{"Trusted", 0755, 0700, 0, false, ""},
        PathCase{"GroupWritable", 0755, 0770, 0, false, "a/b: writable by group or others"},
        PathCase{"WritableDirectoryAbove", 0777, 0755, 0, false, "a: writable by group or others"},
        PathCase{"LinkIntoAWritableDirectory", 0757, 0755, 0, true,
                 "a: writable by group or others"},
        PathCase{"OtherUsersDirectoryAbove", 0755, 0755, 65534, false, "a: owned by uid 65534"},
        PathCase{"OtherUsersStickyDirectoryAbove", 01777, 0755, 65534, false,
                 "a: owned by uid 65534"}),
    [](const testing::TestParamInfo<PathCase>& info) { return info.param.name; });

// /tmp is root's and sticky: what lies below it in a directory of our own
// is trusted; a path not made yet is not judged.
TEST(PathTrustTest, StickyRootDirectoryAboveAndMissingTailAreTrusted) {
    TempRoot root;
    ASSERT_EQ(root.path().rfind("/tmp/", 0), 0u) << root.path();
    EXPECT_EQ(PathTrust::problem(String(root.file("not/made/yet").c_str())).str(), "");
}

}  // namespace
