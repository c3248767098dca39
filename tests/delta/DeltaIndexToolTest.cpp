#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "DeltaTestFiles.h"
#include "RunProgram.h"

namespace {

// A zip of one compressible member, made by python3's zipfile.
void makeZip(const TempRoot& root, const std::string& name, const char* method) {
    std::string script =
        "import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile." +
        std::string(method) +
        ") as z:\n"
        "    z.writestr('payload', 'abc' * 5000)\n";
    ProgramResult made = runProgram(LM_TEST_PYTHON, {"-c", script, root.file(name)});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
}

TEST(DeltaIndexToolTest, WritesTheIndexAndWarnsOfDeflatedZips) {
    TempRoot root;
    root.write("package", randomBytes(10000, 5));
    ProgramResult made = runProgram(
        deltaIndexExe(), {root.file("package"), root.file("index"), "--block-size", "1024"});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    EXPECT_EQ(made.err, "");
    EXPECT_EQ(root.read("index"), indexOf(randomBytes(10000, 5), 1024).serialize());
    struct stat status {};
    ASSERT_EQ(::stat(root.file("index").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);

    const std::string warning = "warning: " + root.file("deflated.zip") + ": little to gain";
    makeZip(root, "deflated.zip", "ZIP_DEFLATED");
    makeZip(root, "stored.zip", "ZIP_STORED");
    made = runProgram(deltaIndexExe(), {root.file("deflated.zip"), root.file("index")});
    EXPECT_EQ(made.exitStatus, 0);
    EXPECT_NE(made.err.find(warning), std::string::npos) << made.err;
    made = runProgram(deltaIndexExe(), {root.file("stored.zip"), root.file("index")});
    EXPECT_EQ(made.exitStatus, 0);
    EXPECT_EQ(made.err, "");

    made = runProgram(deltaIndexExe(), {root.file("missing"), root.file("index")});
    EXPECT_EQ(made.exitStatus, 1);
    EXPECT_NE(made.err.find("cannot read " + root.file("missing") + ": "), std::string::npos);
}

}  // namespace
