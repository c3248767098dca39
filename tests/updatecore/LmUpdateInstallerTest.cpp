#include "install/LmUpdateInstaller.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <optional>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "DeathTestStyle.h"
#include "InstallRoot.h"
#include "RunProgram.h"
#include "SystemLog.h"
#include "TempRoot.h"
#include "TmpfsMount.h"
#include "install/PackageWorkspace.h"

namespace fs = std::filesystem;

namespace {

struct Member {
    std::string name;
    std::string content;
    int mode = 0644;
};

class InstallerTest : public ::testing::Test {
protected:
    void SetUp() override {
        root().clear();
        root().mkdirs("record");
    }
    void TearDown() override { root().clear(); }

    static TempRoot& root() { return processRoot(); }

    // A zip archive of the members, placed as ROOT/download/<id>/<ver>/a.zip;
    // encrypted with password unless it is empty.
    std::string makeZip(const std::string& packageDir, const std::vector<Member>& members,
                        const std::string& password = "") {
        std::string staging = "staging/" + packageDir;
        std::vector<std::string> args{"-q", "-r", root().file(packageDir) + "/a.zip", "."};
        if (!password.empty()) {
            args.insert(args.begin(), {"-P", password});
        }
        for (const Member& m : members) {
            root().write(staging + "/" + m.name, m.content, m.mode);
        }
        root().mkdirs(packageDir);
        RunOptions options;
        options.workingDir = root().file(staging);
        ProgramResult zip = runProgram("/usr/bin/zip", args, options);
        EXPECT_EQ(zip.exitStatus, 0) << zip.err;
        root().remove("staging");
        return root().file(packageDir);
    }

    // A script that records its argument vector (one per line) in
    // ROOT/record/<tag>, then runs body. (Argument 0 of a "#!" script is
    // replaced by its path, so it cannot be recorded here.)
    std::string recordingScript(const std::string& tag, const std::string& body) {
        return "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + root().file("record/" + tag) + "\n" + body +
               "\n";
    }

    static LmPackageInfo package(const std::string& dir, const char* format = "zip") {
        LmPackageInfo p;
        p.path = dir;
        p.file = "a.zip";
        p.version = LmVersionInfo("1.0.0.7", "", "");
        p.product.id = 5;
        p.product.name = "prod";
        p.product.desc = "Product Five";
        p.downloadResult = 1;
        p.format = format;
        p.installScript = "install";
        return p;
    }

    static int install(Vector<LmPackageInfo>& packages) {
        LmUpdateInstaller installer(packages);
        int count = installer.installAll();
        packages = installer.getPackages();
        return count;
    }

    // install(), also collecting the lines it logs.
    static int install(Vector<LmPackageInfo>& packages, std::string& log) {
        SystemLog::setEcho(true);
        ::testing::internal::CaptureStderr();
        int count = install(packages);
        log = ::testing::internal::GetCapturedStderr();
        SystemLog::setEcho(false);
        return count;
    }

    // Installs the package in dir, served as pkg/p5.zip, and expects it
    // refused for reason (its start), nothing of its product kept.
    static void expectRefused(const std::string& dir, const std::string& reason) {
        Vector<LmPackageInfo> packages{package(dir)};
        packages[0].url = "pkg/p5.zip";
        std::string log;
        EXPECT_EQ(install(packages, log), 0);
        EXPECT_NE(log.find("LmUpdate: package refused: pkg/p5.zip: " + reason), std::string::npos)
            << log;
        EXPECT_FALSE(root().exists("download/5")) << "the package was kept";
    }
};

bool logged(const std::string& log, const std::string& line) {
    return log.find(line + "\n") != std::string::npos;
}

// The private directory a recorded script got as SOURCE: "-s" is the last
// option but one.
std::string recordedSource(const std::string& recorded) {
    size_t at = recorded.rfind("-s\n");
    return at == std::string::npos ? "" : recorded.substr(at + 3, recorded.size() - at - 4);
}

TEST_F(InstallerTest, OrdinaryZipIsUnpackedScriptRunAndDownloadDirectoryRemoved) {
    std::string dir =
        makeZip("download/5/1_0_0_7",
                {{"install", recordingScript("install", "cp \"$4/payload\" \"$2\""), 0755},
                 {"payload", "data"}});
    root().mkdirs("target");
    Vector<LmPackageInfo> packages{package(dir)};
    packages[0].product.installPath = root().file("target");

    EXPECT_EQ(install(packages), 1);
    EXPECT_EQ(packages[0].runResult, 1);
    std::string source = recordedSource(root().read("record/install"));
    EXPECT_EQ(root().read("record/install"),
              "-d\n" + root().file("target") + "\n-s\n" + source + "\n");
    // A fresh private directory of ROOT/tmp, gone with the download.
    EXPECT_EQ(source.rfind(root().file("tmp/lmupdate-"), 0), 0u) << source;
    EXPECT_FALSE(fs::exists(source));
    EXPECT_EQ(root().read("target/payload"), "data");
    EXPECT_FALSE(root().exists("download/5"));
}

struct ExitCase {
    const char* name;
    const char* body;
    int counted;
    int runResult;
    const char* logLine;  // expected among the logged lines, or nullptr
};

void PrintTo(const ExitCase& c, std::ostream* os) {
    *os << c.name;
}

class InstallerExitTest : public InstallerTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(InstallerExitTest, ScriptStatusDecidesTheOutcome) {
    std::string dir =
        makeZip("download/5/1_0_0_7", {{"install", recordingScript("s", GetParam().body), 0755}});
    Vector<LmPackageInfo> packages{package(dir)};
    std::string log;
    int count = install(packages, log);
    EXPECT_EQ(count, GetParam().counted);
    EXPECT_EQ(packages[0].runResult, GetParam().runResult);
    EXPECT_NE(log.find("Install Product Five ..."), std::string::npos) << log;
    if (GetParam().logLine) {
        EXPECT_NE(log.find(GetParam().logLine), std::string::npos) << log;
    }
    EXPECT_TRUE(root().exists("record/s"));
    // After the script the product's download directory goes in every case.
    EXPECT_FALSE(root().exists("download/5"));
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, InstallerExitTest,
    ::testing::Values(ExitCase{"installed", "exit 0", 1, 1, nullptr},
                      ExitCase{"failed", "exit 2", 0, 0, "Install6 Product Five (1.0.0.7) failed"},
                      ExitCase{"other", "exit 3", 0, 0, "Install6 Product Five (1.0.0.7) failed"},
                      ExitCase{"killed", "kill -KILL $$", 0, 0,
                               "Install7 Product Five (1.0.0.7) failed"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstallerTest, ScriptExitingOneDefersAndMovesThePackageBelowTheRoot) {
    std::string dir =
        makeZip("download/5/1_0_0_7", {{"install", recordingScript("s", "exit 1"), 0755},
                                       {"install-package", "#!/bin/sh\nexit 0\n", 0755}});
    Vector<LmPackageInfo> packages{package(dir)};
    std::string log;
    EXPECT_EQ(install(packages, log), 1);
    EXPECT_EQ(packages[0].runResult, -1);
    std::string target = root().path() + root().file("download/5");
    std::string slash = std::to_string(root().file("download/5").size());
    std::string source = recordedSource(root().read("record/s"));
    for (const std::string& line :
         {"move path " + target + " " + slash, "rm path " + target + ") success",
          "move path " + source + ") success"}) {
        EXPECT_TRUE(logged(log, line)) << line << "\n" << log;
    }
    EXPECT_EQ(packages[0].path.str(), target + "/1_0_0_7");
    EXPECT_TRUE(fs::exists(target + "/1_0_0_7/install-package"));
    EXPECT_FALSE(root().exists("download/5"));
}

// Under the install lock, a private directory in the area can only be one
// a cut-off run left; the lock file and other entries stay.
TEST_F(InstallerTest, WorkspacesLeftByACutOffRunAreRemoved) {
    for (const char* name : {"tmp/lmupdate-Ab12Cd/unpacked", "tmp/lmupdate-install.lock",
                             "tmp/lmupdate-Ab12C/x", "tmp/other"}) {
        root().write(name, "x");
    }
    EXPECT_EQ(PackageWorkspace::removeLeftovers(DirectoryHandle::open(root().file("tmp"))), 1);
    EXPECT_FALSE(root().exists("tmp/lmupdate-Ab12Cd"));
    EXPECT_TRUE(root().exists("tmp/lmupdate-install.lock"));
    EXPECT_TRUE(root().exists("tmp/lmupdate-Ab12C/x"));
    EXPECT_TRUE(root().exists("tmp/other"));
}

TEST_F(InstallerTest, NonExecutableOrMissingScriptFailsAndNextPackageIsHandled) {
    std::string first = makeZip("download/5/1_0_0_7", {{"install", "#!/bin/sh\nexit 0\n", 0644}});
    std::string second = makeZip("download/6/1_0_0_7", {{"other", "x"}});
    std::string third =
        makeZip("download/7/1_0_0_7", {{"install", recordingScript("third", "exit 0"), 0755}});
    Vector<LmPackageInfo> packages{package(first), package(second), package(third)};
    EXPECT_EQ(install(packages), 1);
    EXPECT_EQ(packages[0].runResult, 0);
    EXPECT_EQ(packages[1].runResult, 0);
    EXPECT_EQ(packages[2].runResult, 1);
    EXPECT_FALSE(root().exists("download/5"));
    EXPECT_FALSE(root().exists("download/6"));
}

TEST_F(InstallerTest, LargePackageGetsOnlyItsScriptsUnpacked) {
    std::string dir = makeZip(
        "download/5/1_0_0_7",
        {{"large_package_flag", ""},
         {"install", recordingScript("large", "LC_ALL=C ls \"$2\" > " + root().file("record/ls")),
          0755},
         {"readme", "r"},
         {"install-package", "#!/bin/sh\n", 0755},
         {"payload", "big"}});
    Vector<LmPackageInfo> packages{package(dir)};
    packages[0].product.installPath = "";
    EXPECT_EQ(install(packages), 1);
    // No installPath: only "-s" and the source directory.
    EXPECT_EQ(root().read("record/large"),
              "-s\n" + recordedSource(root().read("record/large")) + "\n");
    EXPECT_EQ(root().read("record/ls"),
              "a.zip\ninstall\ninstall-package\nlarge_package_flag\nreadme\n");
}

TEST_F(InstallerTest, CorruptArchiveIsDeletedAndItsDirectoryKept) {
    root().write("download/5/1_0_0_7/a.zip", "this is not a zip archive");
    Vector<LmPackageInfo> packages{package(root().file("download/5/1_0_0_7"))};
    std::string log;
    EXPECT_EQ(install(packages, log), 0);
    EXPECT_TRUE(logged(log, "Install5 Product Five (1.0.0.7) failed")) << log;
    EXPECT_EQ(packages[0].runResult, 0);
    EXPECT_TRUE(root().exists("download/5/1_0_0_7"));
    EXPECT_FALSE(root().exists("download/5/1_0_0_7/a.zip"));
}

// unzip would ask for the password on the terminal and hold the locks.
TEST_F(InstallerTest, EncryptedMemberIsRefusedBeforeUnzipCanAsk) {
    std::string dir = makeZip("download/5/1_0_0_7",
                              {{"install", recordingScript("s", "exit 0"), 0755}}, "secret");
    expectRefused(dir, "encrypted member install");
    EXPECT_FALSE(root().exists("record/s"));
}

// 64 MiB of zeros zip to some 64 KiB; unpacked they would fill the disk.
TEST_F(InstallerTest, ArchiveLargerUnpackedThanTheFreeSpaceIsRefused) {
    // Packages are unpacked in the install area, ROOT/tmp here.
    TmpfsMount disk(root().file("tmp"), "16m");
    if (!disk.mounted()) {
        GTEST_SKIP() << "mounting a 16 MiB tmpfs needs root: " << disk.error();
    }
    root().mkdirs("download/5/1_0_0_7");
    RunOptions options;
    options.workingDir = root().file("download/5/1_0_0_7");
    ProgramResult zip =
        runProgram("/bin/sh", {"-c", "head -c 67108864 /dev/zero | zip -q a.zip -"}, options);
    ASSERT_EQ(zip.exitStatus, 0) << zip.err;
    expectRefused(root().file("download/5/1_0_0_7"),
                  "unpacked size 67108864 bytes: more than the ");
    EXPECT_TRUE(fs::is_empty(root().file("tmp"))) << "its private directory was kept";
}

// An archive member written with python's zipfile, which can store
// symbolic links (a link's content is its target) and unsafe names.
struct RawMember {
    std::string name;
    std::string content;  // "@OUTSIDE" stands for ROOT/outside/install
    bool link = false;
};

struct RefusedCase {
    const char* name;
    std::vector<RawMember> members;
    const char* installScript;  // "@OUTSIDE" as in the members
    const char* reason;         // the start of the logged reason
};

void PrintTo(const RefusedCase& c, std::ostream* os) {
    *os << c.name;
}

class ArchiveTest : public InstallerTest {
protected:
    std::string outside() { return root().file("outside/install"); }

    std::string resolve(const std::string& text) { return text == "@OUTSIDE" ? outside() : text; }

    // The members as ROOT/<packageDir>/a.zip.
    std::string writeZip(const std::string& packageDir, const std::vector<RawMember>& members) {
        std::vector<std::string> args{"-c",
                                      "import stat, sys, zipfile\n"
                                      "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                                      "    for i in range(2, len(sys.argv), 3):\n"
                                      "        info = zipfile.ZipInfo(sys.argv[i])\n"
                                      "        info.create_system = 3\n"
                                      "        kind = stat.S_IFLNK | 0o777 if sys.argv[i + 2] == "
                                      "'l' else stat.S_IFREG | 0o755\n"
                                      "        info.external_attr = kind << 16\n"
                                      "        z.writestr(info, sys.argv[i + 1])\n",
                                      root().file(packageDir) + "/a.zip"};
        for (const RawMember& m : members) {
            args.insert(args.end(), {m.name, resolve(m.content), m.link ? "l" : "f"});
        }
        root().mkdirs(packageDir);
        ProgramResult zip = runProgram("/usr/bin/python3", args);
        EXPECT_EQ(zip.exitStatus, 0) << zip.err;
        return root().file(packageDir);
    }
};

class RefusedPackageTest : public ArchiveTest, public ::testing::WithParamInterface<RefusedCase> {};

// Whatever the package names, nothing outside its directory runs: the
// package is refused, its download directory goes, and the next package is
// installed all the same.
TEST_P(RefusedPackageTest, NothingOutsideThePackageRuns) {
    root().write("outside/install", recordingScript("outside", "exit 0"), 0755);
    LmPackageInfo refused = package(writeZip("download/5/1_0_0_7", GetParam().members));
    refused.installScript = resolve(GetParam().installScript);
    refused.url = "http://updates.example/p5.zip";
    LmPackageInfo next = package(
        makeZip("download/6/1_0_0_7", {{"install", recordingScript("next", "exit 0"), 0755}}));
    next.product.id = 6;
    Vector<LmPackageInfo> packages{refused, next};
    std::string log;
    EXPECT_EQ(install(packages, log), 1);
    EXPECT_FALSE(root().exists("record/outside")) << "a file outside the package ran";
    EXPECT_EQ(packages[0].runResult, 0);
    EXPECT_TRUE(root().exists("record/next"));
    EXPECT_FALSE(root().exists("download/5"));
    EXPECT_NE(log.find("LmUpdate: package refused: http://updates.example/p5.zip: " +
                       std::string(GetParam().reason)),
              std::string::npos)
        << log;
    EXPECT_TRUE(logged(log, "EC_LMUPDATE_PACKAGE_ERROR")) << log;
}

const RawMember kScript{"install", "#!/bin/sh\nexit 0\n"};

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedPackageTest,
    ::testing::Values(
        RefusedCase{"scriptUpTheTree",
                    {kScript},
                    "../../../outside/install",
                    "install script outside the package"},
        RefusedCase{"scriptUpTheTreeWithBackslashes",
                    {kScript},
                    "..\\..\\..\\outside\\install",
                    "install script outside the package"},
        RefusedCase{"absoluteScript", {kScript}, "@OUTSIDE", "install script outside the package"},
        RefusedCase{"scriptIsALinkOut",
                    {{"install", "@OUTSIDE", true}},
                    "install",
                    "link to outside the package"},
        RefusedCase{"linkUpTheTree",
                    {kScript, {"lib/x", "../../../../outside/install", true}},
                    "install",
                    "link to outside the package"},
        RefusedCase{"scriptThroughALinkedDirectory",
                    {{"real/install", "#!/bin/sh\nexit 0\n"}, {"bin", "real", true}},
                    "bin/install",
                    "install script reached through a link"},
        RefusedCase{"scriptIsADirectory",
                    {{"install/x", "x"}},
                    "install",
                    "install script is not a regular file"},
        RefusedCase{
            "absoluteMember", {kScript, {"/abs/x", "x"}}, "install", "unsafe member path /abs/x"},
        RefusedCase{"memberUpTheTree",
                    {kScript, {"a/../../x", "x"}},
                    "install",
                    "unsafe member path a/../../x"}),
    [](const auto& info) { return std::string(info.param.name); });

// Links within the package, as shared libraries ship, are kept.
TEST_F(ArchiveTest, RelativeLinkInsideThePackageIsAllowed) {
    std::string dir = writeZip("download/5/1_0_0_7",
                               {{"install", recordingScript("s", "readlink \"$2/lib/libx.so\" > " +
                                                                     root().file("record/link"))},
                                {"lib/libx.so.1", "elf"},
                                {"lib/libx.so", "libx.so.1", true}});
    Vector<LmPackageInfo> packages{package(dir)};
    EXPECT_EQ(install(packages), 1);
    EXPECT_EQ(root().read("record/link"), "libx.so.1\n");
}

struct SkipCase {
    const char* name;
    const char* format;
    int downloadResult;
    const char* logLine;
};

void PrintTo(const SkipCase& c, std::ostream* os) {
    *os << c.name;
}

class InstallerSkipTest : public InstallerTest, public ::testing::WithParamInterface<SkipCase> {};

TEST_P(InstallerSkipTest, PackageIsLeftUntouched) {
    std::string dir =
        makeZip("download/5/1_0_0_7", {{"install", recordingScript("s", "exit 0"), 0755}});
    Vector<LmPackageInfo> packages{package(dir, GetParam().format)};
    packages[0].downloadResult = GetParam().downloadResult;
    std::string log;
    EXPECT_EQ(install(packages, log), 0);
    EXPECT_TRUE(logged(log, GetParam().logLine)) << log;
    EXPECT_FALSE(root().exists("record/s"));
    EXPECT_TRUE(root().exists("download/5/1_0_0_7/a.zip"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InstallerSkipTest,
    ::testing::Values(
        SkipCase{"notDownloaded", "zip", 0, "LmUpdate: package file of 'prod (1.0.0.7) is invalid"},
        SkipCase{"failedDownload", "zip", -1,
                 "LmUpdate: package file of 'prod (1.0.0.7) is invalid"},
        SkipCase{"unsupportedFormat", "tar", 1, "LmUpdate: unsupported package format: tar"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstallerTest, FormatIsComparedIgnoringCaseAndBackslashesBecomeSlashes) {
    std::string dir =
        makeZip("download/5/1_0_0_7", {{"bin/install", recordingScript("s", "exit 0"), 0755}});
    Vector<LmPackageInfo> packages{package(dir, "ZiP")};
    packages[0].installScript = "bin\\install";
    EXPECT_EQ(install(packages), 1);
    EXPECT_TRUE(root().exists("record/s"));
}

TEST_F(InstallerTest, ConstructionFromADocumentReadsTheRootsPackages) {
    LmUpdateInstaller installer(
        String("<PackageInfoList><PackageInfo path=\"/d/5/1_0\" file=\"a.zip\">"
               "<ProductInfo id=\"5\" name=\"p\" desc=\"P\" installPath=\"/opt/p\"/>"
               "<PlatformInfo arch=\"arm\"/><ExtVersionInfo version=\"1.0\"/>"
               "<DownloadInfo url=\"u\" result=\"1\"/>"
               "<RunInfo format=\"zip\" installScript=\"install\" result=\"0\"/></PackageInfo>"
               "</PackageInfoList>"));
    ASSERT_EQ(installer.getPackages().size(), 1);
    EXPECT_EQ(installer.getPackages()[0].product.installPath.str(), "/opt/p");
    EXPECT_EQ(installer.getPackages()[0].installScript.str(), "install");
    EXPECT_EQ(LmUpdateInstaller(String("<broken")).getPackages().size(), 0);
}

TEST_F(InstallerTest, RemovesOnlyAProductDirectoryThatHasAParent) {
    root().write("download/5/1_0_0_7/a.zip", "x");
    root().write("download/6/keep", "x");
    EXPECT_TRUE(LmUpdateInstaller::removeProductDirectory(root().file("download/5/1_0_0_7")));
    EXPECT_FALSE(root().exists("download/5"));
    EXPECT_TRUE(root().exists("download/6/keep"));
    // Missing already counts as removed.
    EXPECT_TRUE(LmUpdateInstaller::removeProductDirectory(root().file("download/5/1_0_0_7")));
    // A package directory without a parent names none. (The spellings of
    // "/" are refused too, but a test of them would wipe the machine if
    // that ever broke.)
    EXPECT_FALSE(LmUpdateInstaller::removeProductDirectory("/1_0_0_7"));
    EXPECT_FALSE(LmUpdateInstaller::removeProductDirectory("1_0_0_7"));
}

struct DeferredCase {
    const char* name;
    const char* body;
    int mode;
    std::optional<int> result;  // the script's status when it exited 0, 1 or 2
};

void PrintTo(const DeferredCase& c, std::ostream* os) {
    *os << c.name;
}

class RunInstallPackageTest : public InstallerTest,
                              public ::testing::WithParamInterface<DeferredCase> {};

TEST_P(RunInstallPackageTest, ResultFollowsTheScript) {
    root().write("deferred/1_0_0_7/install-package", recordingScript("deferred", GetParam().body),
                 GetParam().mode);
    LmPackageInfo p = package(root().file("deferred/1_0_0_7"));
    p.product.installPath = "/opt/five";
    EXPECT_EQ(LmUpdateInstaller::runInstallPackage(p), GetParam().result);
    if (GetParam().mode & 0100) {
        EXPECT_EQ(root().read("record/deferred"), "-d\n/opt/five\n-s\n" + p.path.str() + "\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, RunInstallPackageTest,
    ::testing::Values(DeferredCase{"zero", "exit 0", 0755, 0},
                      DeferredCase{"one", "exit 1", 0755, 1},
                      DeferredCase{"two", "exit 2", 0755, 2},
                      DeferredCase{"three", "exit 3", 0755, std::nullopt},
                      DeferredCase{"killed", "kill -TERM $$", 0755, std::nullopt},
                      DeferredCase{"notExecutable", "exit 0", 0644, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// Image packages need a loop device and the right to mount.
class ImageInstallerTest : public InstallerTest {
protected:
    // An ext2 image holding the given files, as ROOT/download/5/1_0_0_7/a.img.
    std::string makeImage(const std::vector<Member>& members) {
        for (const Member& m : members) {
            root().write("image/" + m.name, m.content, m.mode);
        }
        std::string image = root().file("download/5/1_0_0_7/a.img");
        root().mkdirs("download/5/1_0_0_7");
        ProgramResult mk = runProgram("/usr/sbin/mke2fs", {"-q", "-F", "-t", "ext2", "-d",
                                                           root().file("image"), image, "1M"});
        EXPECT_EQ(mk.exitStatus, 0) << mk.err;
        root().remove("image");
        return root().file("download/5/1_0_0_7");
    }

    // Tries a real loop mount of a tiny image once.
    static bool canLoopMount() {
        static const bool possible = [] {
            if (geteuid() != 0 || access("/usr/sbin/mke2fs", X_OK) != 0) {
                return false;
            }
            TempRoot probe;
            probe.mkdirs("mnt");
            ProgramResult mk = runProgram("/usr/sbin/mke2fs",
                                          {"-q", "-F", "-t", "ext2", probe.file("p.img"), "1M"});
            if (mk.exitStatus != 0) {
                return false;
            }
            ProgramResult mount =
                runProgram("/bin/mount", {"-o", "loop", probe.file("p.img"), probe.file("mnt")});
            if (mount.exitStatus != 0) {
                return false;
            }
            runProgram("/bin/umount", {probe.file("mnt")});
            return true;
        }();
        return possible;
    }

    // Why the loop-mount tests cannot run here, or nullptr when they can.
    static const char* noLoopMountReason() {
        if (underEmulation()) {
            return "no loop mounts under emulation: the mount, a privileged operation on a "
                   "device shared by the whole machine, is not what a cross-build tests";
        }
        if (!canLoopMount()) {
            return "loop-mounting an image needs root, a usable loop device and mke2fs";
        }
        return nullptr;
    }

    LmPackageInfo imagePackage(const std::string& dir) {
        LmPackageInfo p = package(dir, "IMG");
        p.file = "a.img";
        return p;
    }
};

TEST(ImageMountTest, ImageIsMountedReadOnlyWithoutSetuidOrDevices) {
    Vector<String> expected{"mount", "-o", "loop,ro,nosuid,nodev", "/d/a.img", "/d/tmp"};
    EXPECT_EQ(LmUpdateInstaller::mountArguments("/d/a.img", "/d/tmp"), expected);
}

TEST_F(ImageInstallerTest, MountFailureKeepsTheDownloadDirectory) {
    root().write("download/5/1_0_0_7/a.img", "not a file system");
    Vector<LmPackageInfo> packages{imagePackage(root().file("download/5/1_0_0_7"))};
    EXPECT_EQ(install(packages), 0);
    EXPECT_EQ(packages[0].runResult, 0);
    EXPECT_TRUE(root().exists("download/5/1_0_0_7"));
}

struct ImageCase {
    const char* name;
    const char* body;
    int counted;
};

void PrintTo(const ImageCase& c, std::ostream* os) {
    *os << c.name;
}

class ImageExitTest : public ImageInstallerTest, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(ImageExitTest, ScriptRunsOnTheMountedImageWhichIsReleased) {
    if (const char* reason = noLoopMountReason()) {
        GTEST_SKIP() << reason;
    }
    std::string mountLine = "grep \" $2 \" /proc/mounts > " + root().file("record/mount") + "\n";
    std::string dir =
        makeImage({{"install", recordingScript("img", mountLine + GetParam().body), 0755}});
    Vector<LmPackageInfo> packages{imagePackage(dir)};
    EXPECT_EQ(install(packages), GetParam().counted);
    EXPECT_EQ(packages[0].runResult, GetParam().counted);
    std::string source = recordedSource(root().read("record/img"));
    EXPECT_EQ(source.rfind(root().file("tmp/lmupdate-"), 0), 0u) << source;
    EXPECT_EQ(source.substr(source.size() - 4), "/tmp");
    // The fourth field of the mount line holds its options.
    std::istringstream mount(root().read("record/mount"));
    std::string device, point, type, options;
    mount >> device >> point >> type >> options;
    for (const char* option : {"ro", "nosuid", "nodev"}) {
        EXPECT_NE(("," + options + ",").find(std::string(",") + option + ","), std::string::npos)
            << options;
    }
    // Unmounted, then the product's download directory removed.
    EXPECT_FALSE(root().exists("download/5"));
}

INSTANTIATE_TEST_SUITE_P(Statuses, ImageExitTest,
                         ::testing::Values(ImageCase{"installed", "exit 0", 1},
                                           ImageCase{"exitOneIsNotDeferral", "exit 1", 0},
                                           ImageCase{"failed", "exit 2", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// A script that cannot start: its child releases the mount itself, so the
// installer's own umount fails and the download directory is kept.
TEST_F(ImageInstallerTest, ScriptThatCannotStartStillReleasesTheMount) {
    if (const char* reason = noLoopMountReason()) {
        GTEST_SKIP() << reason;
    }
    std::string dir = makeImage({{"readme", "no install script here"}});
    Vector<LmPackageInfo> packages{imagePackage(dir)};
    std::string log;
    int count = install(packages, log);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(packages[0].runResult, 0);
    for (const char* line :
         {"Install5 Product Five (1.0.0.7) failed", "Install6 Product Five (1.0.0.7) failed",
          "Install 2(umount)Product Five (1.0.0.7) failed"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
    std::ifstream mounts("/proc/mounts");
    std::string mounted((std::istreambuf_iterator<char>(mounts)), std::istreambuf_iterator<char>());
    EXPECT_EQ(mounted.find(root().file("tmp/lmupdate-")), std::string::npos) << "still mounted";
    EXPECT_TRUE(root().exists("download/5/1_0_0_7"));
}

}  // namespace

namespace {

struct RootCase {
    const char* name;
    const char* registerDir;  // nullptr: unset; "@": ROOT/root below the scratch directory
    bool relativePackage;     // the package directory has no parent in its path
    bool deferred;
};

void PrintTo(const RootCase& c, std::ostream* os) {
    *os << c.name;
}

class InstallerRootDeathTest : public ::testing::TestWithParam<RootCase> {};

// Where the deferral target is the package's own download directory (an
// empty or "/" root) the package must end up there, not be deleted; where
// it would be the installation root itself nothing may be removed. The root
// is read once per process, so each case runs in a fresh process of its
// own; the install area is the scratch directory's.
TEST_P(InstallerRootDeathTest, DeferralNeverDeletesThePackageOrTheRoot) {
    useFreshProcessDeathTests();
    const RootCase& c = GetParam();
    TempRoot scratch;
    scratch.write("root/keep", "x");
    std::string dir = c.relativePackage ? "pkg" : scratch.file("download/5/1_0_0_7");
    scratch.writeScript("staging/install", "exit 1\n");
    scratch.mkdirs(c.relativePackage ? "pkg" : "download/5/1_0_0_7");
    scratch.mkdirs("area");
    scratch.mkdirs("download");
    RunOptions options;
    options.workingDir = scratch.file("staging");
    std::string packageDir = c.relativePackage ? scratch.file(dir) : dir;
    std::string archive = packageDir + "/a.zip";
    std::string unpackedScript = packageDir + "/install";
    ASSERT_EQ(runProgram("/usr/bin/zip", {"-q", archive, "install"}, options).exitStatus, 0);
    EXPECT_EXIT(
        {
            if (c.registerDir == nullptr) {
                unsetenv("REGISTER_DIR");
            } else {
                std::string root = *c.registerDir == '@' ? scratch.file("root") : c.registerDir;
                setenv("REGISTER_DIR", root.c_str(), 1);
            }
            if (c.relativePackage && chdir(scratch.path().c_str()) != 0) {
                std::exit(2);
            }
            LmPackageInfo p;
            p.path = dir;
            p.file = "a.zip";
            p.version = LmVersionInfo("1.0.0.7", "", "");
            p.product.id = 5;
            p.downloadResult = 1;
            p.format = "zip";
            p.installScript = "install";
            LmUpdateInstaller installer(Vector<LmPackageInfo>{p});
            installer.usePlaces(DirectoryHandle::open(scratch.file("download").c_str()),
                                DirectoryHandle::open(scratch.file("area").c_str()));
            int count = installer.installAll();
            const LmPackageInfo& after = installer.getPackages()[0];
            bool ok = count == (c.deferred ? 1 : 0) && after.runResult == (c.deferred ? -1 : 0) &&
                      fs::weakly_canonical(after.path.str()) == fs::weakly_canonical(dir) &&
                      fs::exists(unpackedScript) == c.deferred &&
                      fs::exists(scratch.file("root/keep"));
            std::exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Roots, InstallerRootDeathTest,
                         ::testing::Values(RootCase{"emptyRoot", nullptr, false, true},
                                           RootCase{"slashRoot", "/", false, true},
                                           RootCase{"doubleSlashRoot", "//", false, true},
                                           RootCase{"packageWithoutParent", "@", true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
