#include <gtest/gtest.h>

#include <string>

#include "LmUpdateRun.h"

namespace {

TEST(LmUpdateInitTest, CreatesMissingFilesOnce) {
    TempRoot root;
    ProgramResult first = runLmUpdate(root, {"--init"});
    EXPECT_EQ(first.exitStatus, 0);
    EXPECT_EQ(first.out,
              "created: conf/lm-inventory\ncreated: conf/lm-partial-files\n"
              "created: conf/lm-delay-packages\n");
    EXPECT_EQ(root.read("conf/lm-partial-files"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PartialFiles/>\n");
    EXPECT_EQ(root.read("conf/lm-delay-packages"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PackageInfoList/>\n");
    EXPECT_NE(root.read("conf/lm-inventory").find("installPath=\"" + root.path() + "\""),
              std::string::npos);

    ProgramResult second = runLmUpdate(root, {"--init"});
    EXPECT_EQ(second.exitStatus, 0);
    EXPECT_EQ(second.out, "");
}

TEST(LmUpdateInitTest, KeepsExistingFiles) {
    TempRoot root;
    root.write("conf/lm-inventory", "<mine/>");
    ProgramResult result = runLmUpdate(root, {"--init"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "created: conf/lm-partial-files\ncreated: conf/lm-delay-packages\n");
    EXPECT_EQ(root.read("conf/lm-inventory"), "<mine/>");
}

TEST(LmUpdateInitTest, FailedCreationExitsOne) {
    TempRoot root;
    root.write("conf", "not a directory");
    ProgramResult result = runLmUpdate(root, {"--init"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "");
}

}  // namespace
