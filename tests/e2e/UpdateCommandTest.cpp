// Whole update runs of LmUpdate --update against the test update server.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "UpdateFixture.h"

namespace {

class UpdateCommandTest : public UpdateFixture {
protected:
    void SetUp() override {
        UpdateFixture::SetUp();
        registerProduct(5);
    }

    void registerProduct(int id) {
        ProgramResult r = lmUpdate(
            {"--register", "--id", std::to_string(id), "--name", "prod" + std::to_string(id),
             "--path", root_.file("opt/prod" + std::to_string(id)), "--version", "1.0.0.0"});
        ASSERT_EQ(r.exitStatus, 0) << r.out;
    }

    // A zip package of product id whose install script installs "payload".
    ServedFile package(int id, int exitStatus, const std::string& payload = "new") {
        std::string tag = "install" + std::to_string(id);
        return makeZip(
            "p" + std::to_string(id) + ".zip",
            {{"install", installingScript(root_, tag, exitStatus), 0755}, {"payload", payload}});
    }
};

TEST_F(UpdateCommandTest, UpToDateRunReturnsZeroAndWritesNoNewPackagesFile) {
    startServer(config({textRoute("POST /lm-update", updateResponse(200))}));
    ProgramResult r = update(5);
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_FALSE(root_.exists("conf/lm-newpkgs"));
    EXPECT_EQ(record("update_status.pl"), "--action update --id 5 --status request\n");
    EXPECT_EQ(record("write_lock.pl"), "");
}

TEST_F(UpdateCommandTest, OneOfThreeAnnouncedPackagesInstalls) {
    registerProduct(6);
    registerProduct(7);
    ServedFile good = package(5, 0);
    ServedFile corrupt = package(6, 0);
    corrupt.md5 = "0123456789abcdef0123456789abcdef";
    ServedFile missing = package(7, 0);
    startServer(config({
        textRoute("POST /lm-update",
                  updateResponse(
                      201, packageXml(5, version2001(), "pkg/p5.zip", good, "install") +
                               packageXml(6, version2001(), "pkg/p6.zip", corrupt, "install") +
                               packageXml(7, version2001(), "pkg/p7.zip", missing, "install"))),
        fileRoute("GET /lm-download?path=pkg/p5.zip", good),
        fileRoute("GET /lm-download?path=pkg/p6.zip", corrupt),
        statusRoute("GET /lm-download?path=pkg/p7.zip", 404),
    }));
    ProgramResult r = update(5);
    EXPECT_EQ(r.exitStatus, 2) << r.out << r.err;
    EXPECT_NE(r.err.find("Torvane LmUpdater sucessfully downloaded and installed 3 update(s)"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(root_.read("opt/prod5/payload"), "new");
    EXPECT_EQ(root_.read("record/install5"), "-d\n" + root_.file("opt/prod5") + "\n-s\n" +
                                                 root_.file("download/5/2_0_0_1") + "\n");
    EXPECT_FALSE(root_.exists("record/install6"));
    EXPECT_EQ(installedVersion(5), "2.0.0.1");
    EXPECT_EQ(installedVersion(6), "1.0.0.0");
    EXPECT_TRUE(root_.exists("conf/lm-newpkgs"));
    EXPECT_NE(record("update_status.pl").find("--action update --id 5 --status install\n"),
              std::string::npos);
    // Both locks were taken and the write lock given back, for this process.
    std::string locks = record("write_lock.pl");
    EXPECT_EQ(locks.rfind("--action LOCK --pid ", 0), 0u) << locks;
    EXPECT_NE(locks.find("--action UNLOCK --pid "), std::string::npos) << locks;
    EXPECT_NE(locks.find("--timeout 600\n"), std::string::npos) << locks;
}

TEST_F(UpdateCommandTest, SelfUpdateReturnsOne) {
    ServedFile self =
        makeZip("self.zip", {{"bin\\install-self", "x"}, {"install", "#!/bin/sh\nexit 0\n", 0755}});
    startServer(config({
        textRoute(
            "POST /lm-self-update",
            updateResponse(201, packageXml(1000, version2001(), "pkg/self.zip", self, "install"))),
        fileRoute("GET /lm-download?path=pkg/self.zip", self),
    }));
    ProgramResult r = update(1000);
    EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
    EXPECT_EQ(installedVersion(1000), "2.0.0.1");
}

TEST_F(UpdateCommandTest, ScriptWrittenWithBackslashesIsRunWithSlashes) {
    ServedFile zip = makeZip("p5.zip", {{"bin/setup", installingScript(root_, "install5", 0), 0755},
                                        {"payload", "nested"}});
    startServer(config({
        textRoute("POST /lm-update", updateResponse(201, packageXml(5, version2001(), "pkg/p5.zip",
                                                                    zip, "bin\\\\setup"))),
        fileRoute("GET /lm-download?path=pkg/p5.zip", zip),
    }));
    ProgramResult r = update(5);
    EXPECT_EQ(r.exitStatus, 2) << r.out << r.err;
    EXPECT_EQ(root_.read("opt/prod5/payload"), "nested");
}

TEST_F(UpdateCommandTest, LargePackageUnpacksOnlyItsScripts) {
    // unzip fails unless all three scripts' members are in the archive.
    ServedFile zip = makeZip("p5.zip", {{"large_package_flag", ""},
                                        {"install", installingScript(root_, "install5", 0), 0755},
                                        {"readme", "r"},
                                        {"install-package", "#!/bin/sh\n", 0755},
                                        {"payload", "big"}});
    startServer(config({
        textRoute("POST /lm-update",
                  updateResponse(201, packageXml(5, version2001(), "pkg/p5.zip", zip, "install"))),
        fileRoute("GET /lm-download?path=pkg/p5.zip", zip),
    }));
    ProgramResult r = update(5);
    // The payload was not unpacked, so the script's copy fails: still exit
    // status 0 of the script decides (it ends with "exit 0").
    EXPECT_EQ(r.exitStatus, 2) << r.out << r.err;
    EXPECT_FALSE(root_.exists("opt/prod5/payload"));
    EXPECT_TRUE(root_.exists("record/install5"));
}

struct LinkCase {
    const char* name;
    bool linkedDirectory;  // the link replaces ".../logs", else ".../logs/install.lock"
};

void PrintTo(const LinkCase& c, std::ostream* os) {
    *os << c.name;
}

class InstallLockLinkTest : public UpdateCommandTest,
                            public testing::WithParamInterface<LinkCase> {};

// The install lock has a fixed name in /tmp: a symbolic link planted there,
// for the file or a directory on its way, must not make the run create or
// lock anything where it points.
TEST_P(InstallLockLinkTest, PlantedSymbolicLinkIsNotFollowed) {
    std::string logs = lockDirectory() + "/logs";
    std::string victim = root_.file("victim");
    std::filesystem::create_directories(GetParam().linkedDirectory ? lockDirectory() : logs);
    if (GetParam().linkedDirectory) {
        root_.mkdirs("victim");
        std::filesystem::create_directory_symlink(victim, logs);
    } else {
        std::filesystem::create_symlink(victim, logs + "/install.lock");
    }
    ServedFile zip = package(5, 0);
    startServer(config({
        textRoute("POST /lm-update",
                  updateResponse(201, packageXml(5, version2001(), "pkg/p5.zip", zip, "install"))),
        fileRoute("GET /lm-download?path=pkg/p5.zip", zip),
    }));
    ProgramResult r = update(5);
    EXPECT_EQ(r.exitStatus, 2) << r.err;
    EXPECT_NE(r.err.find("LmUpdate: cannot open install lock: "), std::string::npos) << r.err;
    if (GetParam().linkedDirectory) {
        EXPECT_FALSE(root_.exists("victim/install.lock")) << "the lock was made through the link";
    } else {
        EXPECT_FALSE(root_.exists("victim")) << "the lock was opened through the link";
        EXPECT_TRUE(std::filesystem::is_symlink(logs + "/install.lock"));
    }
}

INSTANTIATE_TEST_SUITE_P(Links, InstallLockLinkTest,
                         testing::Values(LinkCase{"lockFile", false}, LinkCase{"directory", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Without a planted link the lock file is made, with its directories private.
TEST_F(UpdateCommandTest, InstallLockIsMadeBelowTmp) {
    ServedFile zip = package(5, 0);
    startServer(config({
        textRoute("POST /lm-update",
                  updateResponse(201, packageXml(5, version2001(), "pkg/p5.zip", zip, "install"))),
        fileRoute("GET /lm-download?path=pkg/p5.zip", zip),
    }));
    ASSERT_EQ(update(5).exitStatus, 2);
    std::string logs = lockDirectory() + "/logs";
    EXPECT_TRUE(std::filesystem::is_regular_file(logs + "/install.lock"));
    EXPECT_EQ(std::filesystem::status(logs).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
}

struct FailureCase {
    const char* name;
    int downloadStatus;  // answer to the download request
    int scriptExit;
    const char* lockExit;  // "" for none
    int exitStatus;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class UpdateFailureTest : public UpdateCommandTest,
                          public testing::WithParamInterface<FailureCase> {};

TEST_P(UpdateFailureTest, ExitStatusIsTheResultCode) {
    const FailureCase& c = GetParam();
    ServedFile zip = package(5, c.scriptExit);
    if (*c.lockExit) {
        root_.write("lock-exit", c.lockExit);
    }
    std::string download = c.downloadStatus == 200
                               ? fileRoute("GET /lm-download?path=pkg/p5.zip", zip)
                               : statusRoute("GET /lm-download?path=pkg/p5.zip", c.downloadStatus);
    startServer(config({
        textRoute("POST /lm-update",
                  updateResponse(201, packageXml(5, version2001(), "pkg/p5.zip", zip, "install"))),
        download,
    }));
    ProgramResult r = update(5);
    EXPECT_EQ(r.exitStatus, c.exitStatus) << r.out << r.err;
    EXPECT_EQ(installedVersion(5), "1.0.0.0");
}

INSTANTIATE_TEST_SUITE_P(Codes, UpdateFailureTest,
                         testing::Values(FailureCase{"downloadFails", 404, 0, "", 251},
                                         FailureCase{"downloadUnauthorized", 401, 0, "", 248},
                                         FailureCase{"writeLockRefused", 200, 0, "2", 244},
                                         FailureCase{"scriptFails", 200, 2, "", 250}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
