// The demo script (scripts/demo) against the built executables: it must
// update the product, show its progress, and leave nothing behind, also
// when it is stopped half-way or cannot start.
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "RunProgram.h"
#include "TempRoot.h"

namespace {

namespace fs = std::filesystem;

// The pid the demo printed for its test update server, -1 when none.
int serverPid(const std::string& out) {
    const std::string marker = "Test update server (pid ";
    auto at = out.find(marker);
    return at == std::string::npos ? -1 : std::stoi(out.substr(at + marker.size()));
}

bool processGone(int pid) {
    return kill(pid, 0) == -1 && errno == ESRCH;
}

class DemoTest : public testing::Test {
protected:
    // The demo's scratch directory goes below a directory of this test.
    RunOptions options() const {
        RunOptions options;
        options.env = {"TMPDIR=" + tmp_.path(), "PYTHON=" LM_TEST_PYTHON};
        options.timeoutSeconds = 120;
        return options;
    }

    ProgramResult demo(const std::string& buildDir) const {
        return runProgram("/bin/sh", {sourcePath("scripts/demo"), buildDir}, options());
    }

    // Nothing left in TMPDIR, nor below "/tmp" + TMPDIR (where the update
    // client keeps its install lock for a root inside TMPDIR).
    void expectNothingLeft() const {
        EXPECT_TRUE(fs::is_empty(tmp_.path()));
        EXPECT_FALSE(fs::exists("/tmp" + tmp_.path()));
    }

    TempRoot tmp_;
};

TEST_F(DemoTest, UpdatesTheProductAndLeavesNothingBehind) {
    ProgramResult r = demo(LM_BINARY_DIR);
    ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
    for (const char* step :
         {"==> Pointing the client at the server", "==> Creating the inventory and state files",
          "==> Registering demo-product 1.0.0.0", "==> Updating demo-product",
          "==> Listing the installed products", "==> Stopping the test update server"}) {
        EXPECT_NE(r.out.find(step), std::string::npos) << step << "\n" << r.out;
    }
    // Not on a terminal: plain progress lines, the last one complete.
    EXPECT_NE(r.err.find("product 7: download 0 of "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("bytes (100%)"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos) << "no bar redrawing off a terminal";
    auto listing = r.out.find("==> Listing the installed products");
    ASSERT_NE(listing, std::string::npos);
    EXPECT_NE(r.out.find("Version:     1.1.0.0", listing), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Hello from demo-product 1.1.0.0"), std::string::npos) << r.out;

    int pid = serverPid(r.out);
    ASSERT_GT(pid, 0) << r.out;
    EXPECT_TRUE(processGone(pid));
    expectNothingLeft();
}

TEST_F(DemoTest, MissingBuildFailsClearly) {
    TempRoot emptyBuild;
    ProgramResult r = demo(emptyBuild.path());
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("demo: " + emptyBuild.path() + "/bin/SetNetwork not found"),
              std::string::npos)
        << r.err;
    expectNothingLeft();
}

// Stopped once its server runs: the server is stopped and the scratch
// directory removed.
TEST_F(DemoTest, TerminatedHalfWayCleansUp) {
    const std::string script =
        "sh \"$1\" \"$2\" >\"$3\" 2>&1 & demo=$!\n"
        "tries=0\n"
        "until grep -q 'listening on' \"$3\"; do\n"
        "  tries=$((tries + 1)); [ $tries -le 300 ] || break; sleep 0.1\n"
        "done\n"
        "kill -TERM $demo; status=0; wait $demo || status=$?; echo \"status $status\"\n";
    TempRoot outputDir;
    const std::string output = outputDir.file("demo.out");
    ProgramResult r = runProgram(
        "/bin/sh", {"-c", script, "sh", sourcePath("scripts/demo"), LM_BINARY_DIR, output},
        options());
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    std::string out = outputDir.read("demo.out");
    EXPECT_EQ(r.out, "status 143\n") << out;
    int pid = serverPid(out);
    ASSERT_GT(pid, 0) << out;
    EXPECT_TRUE(processGone(pid));
    expectNothingLeft();
}

}  // namespace
