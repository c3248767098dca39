#include "io/File.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>

#include "TempRoot.h"
#include "io/FileDescriptor.h"

namespace {
struct PathCase {
    const char* name;
    const char* path;
    const char* expected;
};

void PrintTo(const PathCase& c, std::ostream* os) {
    *os << '"' << c.path << "\" -> \"" << c.expected << '"';
}

class ParentTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(ParentTest, Parent) {
    EXPECT_EQ(File(GetParam().path).getParent(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParentTest,
                         ::testing::Values(PathCase{"Nested", "/a/b/c", "/a/b"},
                                           PathCase{"OneSegmentAbsolute", "/a", "/"},
                                           PathCase{"Root", "/", ""},
                                           PathCase{"NoSlash", "name", ""},
                                           PathCase{"Relative", "a/b", "a"}),
                         [](const auto& info) { return info.param.name; });

class CanonicalTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(CanonicalTest, Canonical) {
    EXPECT_EQ(File(GetParam().path).getCanonicalPath(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CanonicalTest,
    ::testing::Values(
        PathCase{"Plain", "/a/b", "/a/b"}, PathCase{"DotSegment", "/a/./b", "/a/b"},
        PathCase{"FinalDot", "/a/b/.", "/a/b"}, PathCase{"RepeatedSlash", "//a///b", "/a/b"},
        PathCase{"DotDot", "/a/b/../c", "/a/c"}, PathCase{"FinalDotDot", "/a/b/..", "/a"},
        PathCase{"DotDotAtRoot", "/../../a", "/a"}, PathCase{"OnlyDotDot", "/..", "/"},
        PathCase{"HiddenNameKept", "/a/.hidden/..x", "/a/.hidden/..x"}),
    [](const auto& info) { return info.param.name; });

TEST(FileDescriptorTest, ClosesWhatItOwnsOnceAndNothingItGaveUp) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    {
        FileDescriptor reader(fds[0]);
        FileDescriptor writer(fds[1]);
        FileDescriptor moved(std::move(writer));
        EXPECT_FALSE(writer.isOpen());
        EXPECT_EQ(moved.get(), fds[1]);
        int kept = reader.release();
        EXPECT_EQ(kept, fds[0]);
        EXPECT_FALSE(reader.isOpen());
    }
    EXPECT_EQ(::fcntl(fds[1], F_GETFD), -1) << "the owner closed it";
    EXPECT_NE(::fcntl(fds[0], F_GETFD), -1) << "released, so still open";
    ::close(fds[0]);
}

TEST(FileTest, CanonicalPathOfRelativeStartsAtCurrentDirectory) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(File("x/../y").getCanonicalPath(), File(String(cwd) + "/y").getCanonicalPath());
    EXPECT_EQ(File("y").getAbsolutePath(), String(cwd) + "/y");
}

TEST(FileTest, JoinsDirectoryAndName) {
    EXPECT_EQ(File("/a/", "b").getPath(), "/a/b");
    EXPECT_EQ(File("/a", "b").getPath(), "/a/b");
    EXPECT_EQ(File("", "b").getPath(), "b");
    EXPECT_EQ(File("/a/b.txt").getName(), "b.txt");
    EXPECT_EQ(File("b.txt").getName(), "b.txt");
}

TEST(FileTest, QueriesOnRealFiles) {
    TempRoot root;
    root.write("f", "12345");
    File file(String(root.file("f")));
    File dir(String(root.path()));
    File missing(String(root.file("missing")));
    EXPECT_TRUE(file.exists() && file.isFile() && !file.isDirectory());
    EXPECT_TRUE(dir.isDirectory() && !dir.isFile());
    EXPECT_EQ(file.length(), 5);
    EXPECT_EQ(dir.length(), -1);
    EXPECT_EQ(missing.length(), -1);
    EXPECT_FALSE(missing.exists());
    EXPECT_EQ(missing.lastModified(), 0);

    ASSERT_TRUE(file.setLastModified(1000000));
    EXPECT_EQ(file.lastModified(), 1000000);

    int fd = open(root.file("f").c_str(), O_RDONLY);
    EXPECT_TRUE(file.isSameFile(fd));
    EXPECT_FALSE(dir.isSameFile(fd));
    close(fd);
}

TEST(FileTest, SetReadOnlyClearsWriteBits) {
    TempRoot root;
    root.write("f", "x", 0666);
    File file(String(root.file("f")));
    EXPECT_FALSE(file.isReadOnly());
    ASSERT_TRUE(file.setReadOnly());
    struct stat status {};
    ASSERT_EQ(stat(root.file("f").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0222, 0u);
    EXPECT_TRUE(file.isReadOnly());
}

TEST(FileTest, MkdirsCreatesParentsAndCreateNewFileOnlyOnce) {
    TempRoot root;
    File deep(String(root.file("a/b/c")));
    EXPECT_TRUE(deep.mkdirs());
    EXPECT_TRUE(deep.isDirectory());
    EXPECT_TRUE(deep.mkdirs());  // already there
    EXPECT_FALSE(deep.mkdir());

    // A trailing "/" makes the parent step create the directory itself.
    File trailing(String(root.file("t/u/")));
    EXPECT_TRUE(trailing.mkdirs());
    EXPECT_TRUE(root.exists("t/u"));
    root.write("plain", "x");
    EXPECT_FALSE(File(String(root.file("plain/sub"))).mkdirs());
    EXPECT_FALSE(File(String(root.file("plain/"))).mkdirs());  // a file, not a directory

    File created(deep.getPath(), "new");
    EXPECT_TRUE(created.createNewFile());
    EXPECT_FALSE(created.createNewFile());
    struct stat status {};
    ASSERT_EQ(stat(created.getPath().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0077, 0u);
}

TEST(FileTest, ListAndDeleteRecursively) {
    TempRoot root;
    root.write("d/x", "1");
    root.write("d/sub/y", "2");
    root.write("keep/z", "3");
    ASSERT_EQ(symlink(root.file("keep").c_str(), root.file("d/link").c_str()), 0);

    Vector<String> names;
    ASSERT_TRUE(File(String(root.file("d"))).list(names));
    std::vector<std::string> sorted;
    for (const String& name : names) {
        sorted.push_back(name.str());
    }
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"link", "sub", "x"}));
    EXPECT_FALSE(File(String(root.file("missing"))).list(names));

    EXPECT_TRUE(File(String(root.file("d"))).deleteRecursively());
    EXPECT_FALSE(root.exists("d"));
    // The link was removed, not followed.
    EXPECT_TRUE(root.exists("keep/z"));
}

TEST(FileTest, RenameToTakesNewPath) {
    TempRoot root;
    root.write("old", "x");
    File file(String(root.file("old")));
    ASSERT_TRUE(file.renameTo(String(root.file("new"))));
    EXPECT_EQ(file.getPath(), String(root.file("new")));
    EXPECT_TRUE(root.exists("new"));
    EXPECT_FALSE(File(String(root.file("missing"))).renameTo(String(root.file("other"))));
}

TEST(FileTest, RemoveFileAndEmptyDirectory) {
    TempRoot root;
    root.write("d/f", "x");
    EXPECT_FALSE(File(String(root.file("d"))).remove());  // not empty
    EXPECT_TRUE(File(String(root.file("d/f"))).remove());
    EXPECT_TRUE(File(String(root.file("d"))).remove());
    EXPECT_FALSE(root.exists("d"));
}
}  // namespace
