// Deferred packages end to end: a script exiting 1 defers its package, and
// LmUpdate --delay shows, installs and removes deferred packages.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "UpdateFixture.h"

namespace {

class DelayCommandTest : public UpdateFixture {
protected:
    void SetUp() override {
        UpdateFixture::SetUp();
        for (int id : {5, 6}) {
            ASSERT_EQ(
                lmUpdate({"--register", "--id", std::to_string(id), "--name",
                          "prod" + std::to_string(id), "--path",
                          root_.file("opt/prod" + std::to_string(id)), "--version", "1.0.0.0"})
                    .exitStatus,
                0);
        }
    }

    // Runs an update in which the packages of products 5 and 6 both ask to
    // be deferred; their install-package scripts record their arguments.
    void deferBoth() {
        std::string packages;
        std::vector<Route> routes;
        for (int id : {5, 6}) {
            std::string tag = "later" + std::to_string(id);
            ServedFile zip = makeZip("p" + std::to_string(id) + ".zip",
                                     {{"install", "#!/bin/sh\nexit 1\n", 0755},
                                      {"install-package", installingScript(root_, tag, 0), 0755},
                                      {"payload", "deferred" + std::to_string(id)}});
            std::string url = "pkg/p" + std::to_string(id) + ".zip";
            packages += packageXml(id, version2001(), url, zip, "install");
            routes.push_back(fileRoute("GET /lm-download?path=" + url, zip));
        }
        routes.push_back(textRoute("POST /lm-update", updateResponse(201, packages)));
        startServer(config(routes));
        ProgramResult r = update(5);
        ASSERT_EQ(r.exitStatus, 2) << r.out << r.err;
    }

    // Where a deferred package of product id lives: the root, then its
    // download directory.
    std::string deferredDir(int id) const {
        return root_.path() + root_.file("download/" + std::to_string(id)) + "/2_0_0_1";
    }

    ProgramResult delay(const std::string& action, int id, bool keepFiles = false) const {
        std::vector<std::string> args{"--delay", action, "--id", std::to_string(id)};
        if (keepFiles) {
            args.push_back("--keep-files");
        }
        return lmUpdate(args);
    }
};

TEST_F(DelayCommandTest, DeferredPackageIsMovedBelowTheRootAndListed) {
    deferBoth();
    EXPECT_TRUE(root_.exists(deferredDir(5).substr(root_.path().size() + 1) + "/install-package"));
    EXPECT_FALSE(root_.exists("download/5"));
    EXPECT_EQ(installedVersion(5), "1.0.0.0");

    ProgramResult status = delay("status", 5);
    EXPECT_EQ(status.exitStatus, 0);
    EXPECT_NE(status.out.find("path=\"" + deferredDir(5) + "\""), std::string::npos) << status.out;
    EXPECT_EQ(status.out.find(deferredDir(6)), std::string::npos) << status.out;
    ProgramResult all = delay("STATUS", 0);
    EXPECT_NE(all.out.find(deferredDir(6)), std::string::npos) << all.out;
}

TEST_F(DelayCommandTest, InstallRunsTheDeferredScriptAndKeepsTheOtherProducts) {
    deferBoth();
    ProgramResult r = delay("install", 5);
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_EQ(root_.read("record/later5"),
              "-d\n" + root_.file("opt/prod5") + "\n-s\n" + deferredDir(5) + "\n");
    EXPECT_EQ(root_.read("opt/prod5/payload"), "deferred5");
    EXPECT_EQ(installedVersion(5), "2.0.0.1");

    // Product 6's deferred package survives the install of product 5.
    ProgramResult rest = delay("status", 0);
    EXPECT_EQ(rest.out.find(deferredDir(5)), std::string::npos) << rest.out;
    EXPECT_NE(rest.out.find(deferredDir(6)), std::string::npos) << rest.out;

    EXPECT_EQ(delay("install", 5).exitStatus, 255) << "nothing left for product 5: -1";
}

// The deferred script runs from its path, so another user able to rename a
// directory on it could swap the script: --delay install refuses.
TEST_F(DelayCommandTest, InstallRefusesASwappablePath) {
    deferBoth();
    std::string unsafe = root_.path() + root_.file("download");
    std::filesystem::permissions(unsafe, std::filesystem::perms::group_write,
                                 std::filesystem::perm_options::add);
    ProgramResult r = delay("install", 5);
    EXPECT_EQ(r.exitStatus, 255) << r.out << r.err;
    EXPECT_NE(r.err.find("LmUpdate: unsafe path: " + unsafe + ": writable by group or others\n"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(root_.exists("record/later5"));
    EXPECT_EQ(installedVersion(5), "1.0.0.0");
}

TEST_F(DelayCommandTest, RemoveAllEmptiesTheList) {
    deferBoth();
    EXPECT_EQ(delay("remove", 0, true).exitStatus, 0);
    ProgramResult status = delay("status", 0);
    EXPECT_EQ(status.out.find("PackageInfo "), std::string::npos) << status.out;
    EXPECT_EQ(status.out.find("<PackageInfo>"), std::string::npos) << status.out;
    // --keep-files leaves the directories.
    EXPECT_TRUE(root_.exists(deferredDir(6).substr(root_.path().size() + 1)));
    EXPECT_EQ(delay("install", 0).exitStatus, 255);
}

}  // namespace
