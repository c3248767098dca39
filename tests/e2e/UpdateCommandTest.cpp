// Whole update runs of LmUpdate --update against the test update server.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

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
    // The script ran in a private directory of ROOT/tmp, removed since.
    std::string arguments = root_.read("record/install5");
    std::string prefix = "-d\n" + root_.file("opt/prod5") + "\n-s\n";
    ASSERT_EQ(arguments.rfind(prefix, 0), 0u) << arguments;
    std::string source = arguments.substr(prefix.size(), arguments.size() - prefix.size() - 1);
    EXPECT_EQ(source.rfind(root_.file("tmp/lmupdate-"), 0), 0u) << source;
    EXPECT_FALSE(std::filesystem::exists(source));
    EXPECT_FALSE(root_.exists("record/install6"));
    EXPECT_EQ(installedVersion(5), "2.0.0.1");
    EXPECT_EQ(installedVersion(6), "1.0.0.0");
    // The installed package's file is its product's seed; the refused one left none.
    EXPECT_EQ(root_.read("download/lmupdate-seed/5/p5.zip"), root_.read("served/p5.zip"));
    EXPECT_FALSE(root_.exists("download/lmupdate-seed/6"));
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

// The one run that waits for real pacing: a package of two KiB or less,
// paced at one KiB, pauses once, for a second.
TEST_F(UpdateCommandTest, ThrottledRunPausesForReal) {
    const std::string payload = noise(1000);
    ServedFile zip = package(5, 0, payload);
    ASSERT_GT(zip.size, 1024);
    ASSERT_LE(zip.size, 2048);
    startServer(config({
        textRoute("POST /lm-update",
                  updateResponse(201, packageXml(5, version2001(), "pkg/p5.zip", zip, "install"))),
        fileRoute("GET /lm-download?path=pkg/p5.zip", zip),
    }));
    auto start = std::chrono::steady_clock::now();
    ProgramResult r = update(5, {"--throttle", "1", "--pause", "1"});
    EXPECT_EQ(r.exitStatus, 2) << r.out << r.err;
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(root_.read("opt/prod5/payload"), payload);
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

// Nothing of the caller's environment reaches the script that runs as root.
TEST_F(UpdateCommandTest, InstallScriptGetsOnlyItsOwnEnvironment) {
    std::string script =
        "#!/bin/sh\n/usr/bin/env | grep -v '^PWD=' | sort > " + root_.file("record/env") + "\n";
    ServedFile zip = makeZip("p5.zip", {{"install", script, 0755}});
    startServer(config({
        textRoute("POST /lm-update",
                  updateResponse(201, packageXml(5, version2001(), "pkg/p5.zip", zip, "install"))),
        fileRoute("GET /lm-download?path=pkg/p5.zip", zip),
    }));
    RunOptions caller = options();
    caller.env.insert(caller.env.end(),
                      {"HOME=/nowhere", "LD_LIBRARY_PATH=/x", "IFS=x", "SECRET=s"});
    ProgramResult r = runProgram(
        lmUpdateExe(), {"--update", "--id", "5", "--download-dir", root_.file("download")}, caller);
    ASSERT_EQ(r.exitStatus, 2) << r.err;
    const struct passwd* user = ::getpwuid(::geteuid());
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(root_.read("record/env"), "HOME=" + std::string(user->pw_dir) +
                                            "\nLANG=C\nPATH=/usr/sbin:/usr/bin:/sbin:/bin\n"
                                            "REGISTER_DIR=" +
                                            root_.path() + "\n");
}

// What another user leaves where the install locks go.
enum class Plant {
    LinkToFile,        // ".../logs/install.lock" is a symbolic link
    LinkToDirectory,   // ".../logs" is a symbolic link
    ForeignFile,       // uid 65534 made and holds the lock file
    ForeignDirectory,  // uid 65534 made ".../logs" and holds the lock file in it
    ForeignRootTmp     // uid 65534 owns ROOT/tmp
};

struct PlantCase {
    const char* name;
    Plant plant;
    bool legacySkipped;       // the legacy lock's path was planted
    const char* privateLock;  // the lock taken instead, relative to the root unless absolute
};

void PrintTo(const PlantCase& c, std::ostream* os) {
    *os << c.name;
}

// A process of uid 65534 that creates "install.lock" in directory (in a new
// subdirectory "logs" of it when asked) and holds a record lock on it until
// the object goes. It reaches the directory through a descriptor opened
// here, as the private directories above it are closed to it.
class ForeignLockHolder {
public:
    ForeignLockHolder(const std::string& directory, bool makeLogs) {
        std::string script =
            "import fcntl, os, sys\n"
            "d = int(sys.argv[1])\n"
            "if sys.argv[2] == '1':\n"
            "    os.mkdir('logs', 0o777, dir_fd=d)\n"
            "    d = os.open('logs', os.O_RDONLY, dir_fd=d)\n"
            "f = os.open('install.lock', os.O_RDWR | os.O_CREAT, 0o600, dir_fd=d)\n"
            "fcntl.lockf(f, fcntl.LOCK_EX)\n"
            "print('held', flush=True)\n"
            "sys.stdin.read()\n";
        int toChild[2];
        int fromChild[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(toChild[0], 0);
            ::dup2(fromChild[1], 1);
            std::string fd = std::to_string(::open(directory.c_str(), O_RDONLY | O_DIRECTORY));
            ::execl("/usr/bin/setpriv", "setpriv", "--reuid", "65534", "--regid", "65534",
                    "--clear-groups", "/usr/bin/python3", "-c", script.c_str(), fd.c_str(),
                    makeLogs ? "1" : "0", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        input_ = toChild[1];
        char answer[8] = {};
        held_ = ::read(fromChild[0], answer, 4) == 4 && std::string(answer, 4) == "held";
        ::close(fromChild[0]);
    }
    ~ForeignLockHolder() {
        if (input_ >= 0) {
            ::close(input_);  // the holder ends at the end of its input
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ForeignLockHolder(const ForeignLockHolder&) = delete;
    ForeignLockHolder& operator=(const ForeignLockHolder&) = delete;
    bool held() const { return held_; }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    bool held_ = false;
};

class InstallLockPlantTest : public UpdateCommandTest,
                             public testing::WithParamInterface<PlantCase> {
protected:
    // Plants what the case names; false (the test skipped) where it cannot.
    bool plant(const std::string& logs, std::unique_ptr<ForeignLockHolder>& holder) {
        std::string victim = root_.file("victim");
        switch (GetParam().plant) {
            case Plant::LinkToFile:
                std::filesystem::create_directories(logs);
                std::filesystem::create_symlink(victim, logs + "/install.lock");
                return true;
            case Plant::LinkToDirectory:
                std::filesystem::create_directories(lockDirectory());
                root_.mkdirs("victim");
                std::filesystem::create_directory_symlink(victim, logs);
                return true;
            case Plant::ForeignRootTmp:
                return ::geteuid() == 0 && ::chown(root_.file("tmp").c_str(), 65534, 65534) == 0;
            case Plant::ForeignFile:
            case Plant::ForeignDirectory:
                break;
        }
        if (::geteuid() != 0 || !std::filesystem::exists("/usr/bin/setpriv") ||
            !std::filesystem::exists("/usr/bin/python3")) {
            return false;
        }
        bool foreignDirectory = GetParam().plant == Plant::ForeignDirectory;
        // A directory on the way the other user may write to: the shared
        // one (as /tmp is) or the last.
        std::string writable = foreignDirectory ? lockDirectory() : logs;
        std::filesystem::create_directories(writable);
        std::filesystem::permissions(writable, std::filesystem::perms::all);
        holder = std::make_unique<ForeignLockHolder>(writable, foreignDirectory);
        return holder->held();
    }
};

// The legacy install lock has a fixed name in /tmp: a link planted there
// must not make the run create or lock anything where it points, and a file
// or directory of another user, even held, is skipped with a line in the
// log. The run waits for nobody and installs under a private lock that no
// other user can take.
TEST_P(InstallLockPlantTest, PlantedLockIsSkippedForAPrivateOne) {
    std::string logs = lockDirectory() + "/logs";
    std::unique_ptr<ForeignLockHolder> holder;
    if (!plant(logs, holder)) {
        GTEST_SKIP() << "planting as uid 65534 needs root, /usr/bin/setpriv and /usr/bin/python3";
    }
    ServedFile zip = package(5, 0);
    startServer(config({
        textRoute("POST /lm-update",
                  updateResponse(201, packageXml(5, version2001(), "pkg/p5.zip", zip, "install"))),
        fileRoute("GET /lm-download?path=pkg/p5.zip", zip),
    }));
    std::vector<std::string> args{"--update", "--id", "5", "--download-dir", root_.file("download"),
                                  "--verbose"};
    RunOptions quick = options();
    quick.timeoutSeconds = 20;
    ProgramResult r = runProgram(lmUpdateExe(), args, quick);
    EXPECT_FALSE(r.timedOut) << "the run waited for another user's lock";
    EXPECT_EQ(r.exitStatus, 2) << r.err;
    EXPECT_EQ(r.err.find("LmUpdate: legacy install lock skipped: " + logs + "/install.lock: ") !=
                  std::string::npos,
              GetParam().legacySkipped)
        << r.err;
    EXPECT_TRUE(root_.exists("record/install5"));
    std::string privateLock = GetParam().privateLock;
    if (privateLock[0] != '/') {
        privateLock = root_.file(privateLock);
    }
    struct stat info = {};
    ASSERT_EQ(::lstat(privateLock.c_str(), &info), 0) << privateLock;
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_uid, ::geteuid());
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_FALSE(root_.exists("victim/install.lock")) << "the lock was made through a link";
    if (GetParam().plant == Plant::LinkToFile) {
        EXPECT_FALSE(root_.exists("victim")) << "the lock was opened through the link";
        EXPECT_TRUE(std::filesystem::is_symlink(logs + "/install.lock"));
    }
}

constexpr const char kRootTmpLock[] = "tmp/lmupdate-install.lock";

INSTANTIATE_TEST_SUITE_P(
    Plants, InstallLockPlantTest,
    testing::Values(PlantCase{"lockFile", Plant::LinkToFile, true, kRootTmpLock},
                    PlantCase{"directory", Plant::LinkToDirectory, true, kRootTmpLock},
                    PlantCase{"foreignHeldFile", Plant::ForeignFile, true, kRootTmpLock},
                    PlantCase{"foreignHeldDirectory", Plant::ForeignDirectory, true, kRootTmpLock},
                    PlantCase{"foreignRootTmp", Plant::ForeignRootTmp, false,
                              "/run/lmupdate/install.lock"}),
    [](const auto& info) { return std::string(info.param.name); });

// Without a planted link both lock files are made, with the legacy one's
// directories private.
TEST_F(UpdateCommandTest, InstallLockIsMadeBelowTmp) {
    ServedFile zip = package(5, 0);
    startServer(config({
        textRoute("POST /lm-update",
                  updateResponse(201, packageXml(5, version2001(), "pkg/p5.zip", zip, "install"))),
        fileRoute("GET /lm-download?path=pkg/p5.zip", zip),
    }));
    ASSERT_EQ(update(5).exitStatus, 2);
    EXPECT_TRUE(std::filesystem::is_regular_file(root_.file("tmp/lmupdate-install.lock")));
    std::string logs = lockDirectory() + "/logs";
    EXPECT_TRUE(std::filesystem::is_regular_file(logs + "/install.lock"));
    EXPECT_EQ(std::filesystem::status(logs).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
}

// Another user planted a link to a root-owned 0600 file where the package
// file goes, in a product directory anyone may write to: the package is
// refused and the file stays as it was.
TEST_F(UpdateCommandTest, PlantedLinkInAWorldWritableDownloadDirectoryIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a link of uid 65534 needs root";
    }
    ServedFile zip = package(5, 0);
    startServer(config({
        textRoute("POST /lm-update",
                  updateResponse(201, packageXml(5, version2001(), "pkg/p5.zip", zip, "install"))),
        fileRoute("GET /lm-download?path=pkg/p5.zip", zip),
    }));
    root_.write("victim", "secret", 0600);
    root_.mkdirs("download/5/2_0_0_1");
    std::filesystem::permissions(root_.file("download/5"), std::filesystem::perms::all);
    std::string link = root_.file("download/5/2_0_0_1/p5.zip");
    std::filesystem::create_symlink(root_.file("victim"), link);
    ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);
    ProgramResult r = update(5);
    EXPECT_EQ(r.exitStatus, 251) << r.out << r.err;
    std::string refusal =
        "LmUpdate: package refused: pkg/p5.zip: unsafe download path: " + root_.file("download/5") +
        ": writable by group or others";
    EXPECT_NE((r.out + r.err).find(refusal), std::string::npos) << r.out << r.err;
    EXPECT_EQ(root_.read("victim"), "secret");
    EXPECT_EQ(installedVersion(5), "1.0.0.0");
}

// A user owning a parent of the download directory swaps it when the
// install step is announced and plants a package of their own at the old
// path: the run installs the package it downloaded and checked, from the
// download directory it holds open, and the planted script never runs.
TEST_F(UpdateCommandTest, SwappedDownloadParentRunsNoPlantedScript) {
    ServedFile zip = package(5, 0);
    ServedFile planted =
        makeZip("planted.zip",
                {{"install", "#!/bin/sh\ntouch " + root_.file("record/planted") + "\n", 0755}});
    std::string parent = root_.file("parent");
    root_.write("bin/update_status.pl",
                "use File::Copy; use File::Path qw(make_path);\n"
                "if (\"@ARGV\" =~ /--status install/) {\n"
                "  rename('" +
                    parent + "', '" + parent +
                    "-moved') or die;\n"
                    "  make_path('" +
                    parent +
                    "/download/5/2_0_0_1');\n"
                    "  copy('" +
                    planted.path + "', '" + parent +
                    "/download/5/2_0_0_1/p5.zip') or die;\n"
                    "}\n",
                0755);
    root_.mkdirs("parent/download");
    startServer(config({
        textRoute("POST /lm-update",
                  updateResponse(201, packageXml(5, version2001(), "pkg/p5.zip", zip, "install"))),
        fileRoute("GET /lm-download?path=pkg/p5.zip", zip),
    }));
    ProgramResult r =
        lmUpdate({"--update", "--id", "5", "--download-dir", parent + "/download", "--verbose"});
    ASSERT_TRUE(root_.exists("parent-moved")) << "the stand-in did not swap: " << r.err;
    EXPECT_EQ(r.exitStatus, 2) << r.out << r.err;
    EXPECT_FALSE(root_.exists("record/planted"));
    EXPECT_TRUE(root_.exists("record/install5"));
    EXPECT_EQ(root_.read("opt/prod5/payload"), "new");
    EXPECT_EQ(installedVersion(5), "2.0.0.1");
    EXPECT_FALSE(root_.exists("parent-moved/download/5"));
}

// A package of product 5 that fails, and how often the runs asked for it.
class FailingPackageTest : public UpdateCommandTest {
protected:
    // downloadStatus 200 serves the package, whose script exits with
    // scriptExit; badDigest announces another MD5.
    void serve(int downloadStatus, int scriptExit = 0, bool badDigest = false) {
        ServedFile zip = package(5, scriptExit);
        Route download = downloadStatus == 200
                             ? fileRoute("GET /lm-download?path=pkg/p5.zip", zip)
                             : statusRoute("GET /lm-download?path=pkg/p5.zip", downloadStatus);
        if (badDigest) {
            zip.md5 = "0123456789abcdef0123456789abcdef";
        }
        startServer(config({
            textRoute(
                "POST /lm-update",
                updateResponse(201, packageXml(5, version2001(), "pkg/p5.zip", zip, "install"))),
            download,
        }));
    }

    long downloads() const {
        long count = 0;
        for (const RecordedRequest& request : server_->requests()) {
            count += request.path == "/lm-download?path=pkg/p5.zip" ? 1 : 0;
        }
        return count;
    }

    // Moves the failure and the end of its skip interval to hours ago.
    void backDateRecord() const {
        std::string text = root_.read("conf/lm-failed-packages");
        std::time_t now = std::time(nullptr);
        for (auto [name, hoursAgo] : {std::pair<std::string, int>{"failed", 3}, {"until", 2}}) {
            std::string::size_type at = text.find(name + "=\"");
            ASSERT_NE(at, std::string::npos) << text;
            at += name.size() + 2;
            text.replace(at, text.find('"', at) - at, isoTime(now - hoursAgo * 3600));
        }
        root_.write("conf/lm-failed-packages", text);
    }

    static std::string isoTime(std::time_t time) {
        std::tm parts{};
        char text[32];
        gmtime_r(&time, &parts);
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
        return text;
    }
};

struct HeldBackCase {
    const char* name;
    int downloadStatus;
    int scriptExit;
    bool badDigest;
    int firstExit;
    const char* reason;  // of the skip; nullptr: the next run fetches it again
};

void PrintTo(const HeldBackCase& c, std::ostream* os) {
    *os << c.name;
}

class HeldBackTest : public FailingPackageTest, public testing::WithParamInterface<HeldBackCase> {};

TEST_P(HeldBackTest, NextRunFetchesItOnlyWhenTheFailureMayPass) {
    const HeldBackCase& c = GetParam();
    serve(c.downloadStatus, c.scriptExit, c.badDigest);
    ProgramResult first = update(5);
    EXPECT_EQ(first.exitStatus, c.firstExit) << first.out << first.err;
    ASSERT_EQ(downloads(), 1);
    ProgramResult second = update(5);
    EXPECT_EQ(second.exitStatus, c.reason ? 251 : c.firstExit) << second.out << second.err;
    EXPECT_EQ(downloads(), c.reason ? 1 : 2);
    std::string skipped = std::string(": pkg/p5.zip: ") + (c.reason ? c.reason : "");
    EXPECT_EQ(second.err.find(skipped) != std::string::npos, c.reason != nullptr) << second.err;
}

INSTANTIATE_TEST_SUITE_P(
    Failures, HeldBackTest,
    testing::Values(HeldBackCase{"gone410", 410, 0, false, 251, "HTTP 410"},
                    HeldBackCase{"badDigest", 200, 0, true, 251, "md5 mismatch"},
                    HeldBackCase{"scriptFails", 200, 2, false, 250, "install script failed"},
                    HeldBackCase{"serverError", 503, 0, false, 251, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// A URL that answers 404: skipped by the next run, fetched by --retry-now.
TEST_F(FailingPackageTest, NextRunSkipsItUntilRetryNow) {
    serve(404);
    ProgramResult first = update(5);
    EXPECT_EQ(first.exitStatus, 251) << first.out << first.err;
    EXPECT_EQ(downloads(), 1);
    ProgramResult second = update(5);
    EXPECT_EQ(second.exitStatus, 251) << second.out << second.err;
    EXPECT_EQ(downloads(), 1);
    EXPECT_NE(second.err.find("LmUpdate: package skipped until "), std::string::npos) << second.err;
    EXPECT_NE(second.err.find(": pkg/p5.zip: HTTP 404"), std::string::npos) << second.err;
    EXPECT_NE(second.out.find("EC_LMUPDATE_UPDATE_ERROR"), std::string::npos) << second.out;
    ProgramResult retry = update(5, {"--retry-now"});
    EXPECT_EQ(retry.exitStatus, 251) << retry.out << retry.err;
    EXPECT_EQ(downloads(), 2);
    EXPECT_EQ(installedVersion(5), "1.0.0.0");
}

// For the journal every standard-error line carries its priority, the
// progress script's plain lines too; otherwise no line does.
TEST_F(FailingPackageTest, JournalFormatPrefixesEveryStandardErrorLine) {
    serve(200, 0, true);
    for (const char* name : {"LmProgress.pm", "LmScript.pm", "update_status.pl"}) {
        std::filesystem::copy_file(sourcePath(std::string("scripts/appliance/bin/") + name),
                                   root_.file(std::string("bin/") + name),
                                   std::filesystem::copy_options::overwrite_existing);
    }
    struct Case {
        const char* name;
        std::vector<std::string> options;
        bool journalStream;  // JOURNAL_STREAM names standard error
        bool journal;
    };
    const Case cases[] = {{"Option", {"--log-format", "journal"}, false, true},
                          {"JournalStream", {}, true, true},
                          {"PlainOption", {"--log-format", "plain"}, true, false},
                          {"Neither", {}, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args =
            commandLine(lmUpdateExe(), {"--update", "--id", "5", "--download-dir",
                                        root_.file("download"), "--verbose", "--retry-now"});
        args.insert(args.end(), c.options.begin(), c.options.end());
        std::string stream = c.journalStream ? "$(stat -L -c %d:%i /proc/self/fd/2)" : "";
        args.insert(args.begin(), {"-c", "JOURNAL_STREAM=" + stream + " exec \"$@\"", "sh"});
        ProgramResult r = runProgram("/bin/sh", args, options());
        EXPECT_EQ(r.exitStatus, 251) << r.out << r.err;
        EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err;
        std::istringstream lines(r.err);
        for (std::string line; std::getline(lines, line);) {
            bool prefixed =
                line.starts_with("<3>") || line.starts_with("<4>") || line.starts_with("<6>");
            EXPECT_EQ(prefixed, c.journal) << line;
        }
        std::string info = c.journal ? "<6>" : "";
        EXPECT_NE(r.err.find(info + "product 5: download 0 of "), std::string::npos) << r.err;
        std::istringstream names(r.out);
        for (std::string name; std::getline(names, name);) {
            EXPECT_NE(r.err.find((c.journal ? "<3>" : "") + name + "\n"), std::string::npos)
                << name;
        }
    }
}

TEST_F(FailingPackageTest, RecordWhoseIntervalEndedIsFetchedAgain) {
    serve(404);
    ASSERT_EQ(update(5).exitStatus, 251);
    ASSERT_EQ(downloads(), 1);
    backDateRecord();
    ProgramResult again = update(5);
    EXPECT_EQ(again.exitStatus, 251) << again.out << again.err;
    EXPECT_EQ(downloads(), 2);
    EXPECT_EQ(again.err.find("package skipped"), std::string::npos) << again.err;
    // The second failure in a row holds it for two hours.
    std::string record = root_.read("conf/lm-failed-packages");
    EXPECT_NE(record.find("failures=\"2\""), std::string::npos) << record;
}

struct FailureCase {
    const char* name;
    int downloadStatus;  // answer to the download request
    int scriptExit;
    const char* lockExit;  // "" for none
    int exitStatus;
    // A directory made writable by group, relative to the root ("." the
    // root itself), which the run names as an unsafe path before it asks
    // any server; "" for none.
    const char* groupWritable = "";
    // A budget of 1 MiB a day, all of it counted already.
    bool budgetSpent = false;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class UpdateFailureTest : public UpdateCommandTest,
                          public testing::WithParamInterface<FailureCase> {
protected:
    void spendBudget() {
        ProgramResult set = runProgram(setNetworkExe(), {"-S", "--budget", "1"}, options());
        ASSERT_EQ(set.exitStatus, 0) << set.out << set.err;
        std::time_t now = std::time(nullptr);
        char day[16];
        std::strftime(day, sizeof day, "%Y-%m-%d", std::gmtime(&now));
        root_.write("conf/lm-byte-count", std::string("<LmByteCount><Day date=\"") + day +
                                              "\" bytes=\"1048576\"/></LmByteCount>");
    }

    std::string unsafeDirectory(const std::string& relative) const {
        return relative == "." ? root_.path() : root_.file(relative);
    }
};

TEST_P(UpdateFailureTest, ExitStatusIsTheResultCode) {
    const FailureCase& c = GetParam();
    ServedFile zip = package(5, c.scriptExit);
    if (*c.lockExit) {
        root_.write("lock-exit", c.lockExit);
    }
    Route download = c.downloadStatus == 200
                         ? fileRoute("GET /lm-download?path=pkg/p5.zip", zip)
                         : statusRoute("GET /lm-download?path=pkg/p5.zip", c.downloadStatus);
    startServer(config({
        textRoute("POST /lm-update",
                  updateResponse(201, packageXml(5, version2001(), "pkg/p5.zip", zip, "install"))),
        download,
    }));
    if (*c.groupWritable) {
        std::filesystem::permissions(unsafeDirectory(c.groupWritable),
                                     std::filesystem::perms::group_write,
                                     std::filesystem::perm_options::add);
    }
    if (c.budgetSpent) {
        spendBudget();
    }
    ProgramResult r = update(5);
    EXPECT_EQ(r.exitStatus, c.exitStatus) << r.out << r.err;
    EXPECT_EQ(installedVersion(5), "1.0.0.0");
    EXPECT_FALSE(root_.exists("download/lmupdate-seed/5/p5.zip"));
    if (*c.groupWritable) {
        std::string unsafe = "LmUpdate: unsafe path: " + unsafeDirectory(c.groupWritable) +
                             ": writable by group or others\n";
        EXPECT_NE(r.err.find(unsafe), std::string::npos) << r.err;
        EXPECT_TRUE(server_->requests().empty());
    }
    if (c.budgetSpent) {
        EXPECT_NE(r.err.find("LmUpdate: daily byte budget reached: 1.0 of 1 MiB\n"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.out.find("EC_LMUPDATE_BUDGET_REACHED"), std::string::npos) << r.out;
        for (const RecordedRequest& request : server_->requests()) {
            EXPECT_EQ(request.path, "/lm-update");  // the answer only, never the package
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, UpdateFailureTest,
                         testing::Values(FailureCase{"downloadFails", 404, 0, "", 251},
                                         FailureCase{"downloadUnauthorized", 401, 0, "", 248},
                                         FailureCase{"writeLockRefused", 200, 0, "2", 244},
                                         FailureCase{"scriptFails", 200, 2, "", 250},
                                         FailureCase{"downloadAncestorUnsafe", 200, 0, "", 244,
                                                     "."},
                                         FailureCase{"binUnsafe", 200, 0, "", 244, "bin"},
                                         FailureCase{"budgetReached", 200, 0, "", 227, "", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
