// Package download with resume, pacing, progress reports and MD5 checks,
// against the test update server.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>
#include <regex>

#include "FakeClock.h"
#include "LmUpdateClientFixture.h"
#include "MD5.h"
#include "TmpfsMount.h"
#include "download/PackageDownload.h"
#include "download/PackageFetch.h"
#include "download/PackagePolicy.h"
#include "net/HttpRequest.h"
#include "net/URL.h"
#include "run/FirmwarePolicy.h"
#include "session/Backoff.h"
#include "state/StateFiles.h"

namespace {

constexpr int kProduct = 5;
constexpr const char* kUrl = "pkgs/a.zip";
constexpr const char* kPackageDir = "download/5/2_1_0_7";
constexpr const char* kLocalFile = "download/5/2_1_0_7/a.zip";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string pattern(int size) {
    std::string bytes;
    for (int i = 0; i < size; ++i) {
        bytes += static_cast<char>('A' + (i * 7) % 26);
    }
    return bytes;
}

class LmUpdateClientDownloadTest : public LmUpdateClientFixture {
protected:
    void SetUp() override {
        LmUpdateClientFixture::SetUp();
        addProduct(kProduct, "2.0.0.0", "SN5", "", "/opt/p5");
        useContent(pattern(10000));
        setenv("LMUPDATE_BACKOFF_BASE_MS", "0", 1);  // retries without waiting
    }
    void TearDown() override {
        unsetenv("LMUPDATE_BACKOFF_BASE_MS");
        LmUpdateClientFixture::TearDown();
    }

    // The package file the server offers, and its digest in capitals.
    void useContent(const std::string& bytes) {
        content_ = bytes;
        root().write("served/a.zip", bytes);
        String digest;
        ASSERT_TRUE(MD5::fileDigest(String(root().file("served/a.zip")), digest));
        md5_ = digest.str();
    }

    std::string announcement(const std::string& url = kUrl, const std::string& md5 = "") const {
        return answer(response(
            201, "<PackageInfoList>\n" +
                     package(kProduct, "Pkg Five", "2.1.0.7", url, md5.empty() ? md5_ : md5,
                             static_cast<long>(content_.size())) +
                     "</PackageInfoList>\n"));
    }

    // A download answer serving the file, with extra JSON fields.
    std::string fileAnswer(const std::string& extra = "") const {
        return ServerAnswers::fileAnswer(root().file("served/a.zip"), extra);
    }

    std::string serve(const std::string& downloadAnswer, const std::string& md5 = "") const {
        return config(
            {{"POST /lm-update", announcement(kUrl, md5)}, {"GET /lm-download", downloadAnswer}});
    }

    // One update session of kProduct into ROOT/download: the packages
    // accepted, or -1 when it failed. What it came to stays in updated_, the
    // last HTTP status in lastStatus_.
    int runUpdate(Output* output = nullptr, bool plain = false, int throttle = 0, int pause = 0) {
        ServerSession session(
            downloadOptions(plain ? 1 : 0, throttle, pause, root().file("download")));
        Output captured = capture([&] { updated_ = LmUpdateClient(session).update(kProduct); });
        lastStatus_ = session.lastStatus();
        if (output) {
            *output = captured;
        }
        return updated_.outcome == Outcome::kFailed ? -1
                                                    : PackageDownload::accepted(updated_.products);
    }

    static bool partialRecord(LmPartialFileInfo& out) {
        LmUpdateStore store;
        return store.load(installPath(kPartialFilesFile)) && store.getPartialFile(kProduct, out);
    }

    // Runs an update whose one package is refused before any byte of it is
    // fetched, "LmUpdate: package refused: " + reason logged.
    void expectRefusedBeforeFetching(const TestServer& server, const std::string& reason) {
        Output output;
        EXPECT_EQ(runUpdate(&output), -1);
        EXPECT_EQ(output.out, "EC_LMUPDATE_PACKAGE_ERROR\n");
        EXPECT_TRUE(contains(output.log, "LmUpdate: package refused: " + reason)) << output.log;
        EXPECT_TRUE(downloads(server).empty());
    }

    static std::vector<RecordedRequest> downloads(const TestServer& server) {
        std::vector<RecordedRequest> out;
        for (auto& request : server.requests()) {
            if (request.path.rfind("/lm-download", 0) == 0) {
                out.push_back(request);
            }
        }
        return out;
    }

    std::string content_;
    std::string md5_;
    UpdateResult updated_;
    int lastStatus_ = 0;
};

TEST_F(LmUpdateClientDownloadTest, WholePackageIsStoredAndVerified) {
    TestServer server(serve(fileAnswer()));
    useServers({host(server)});
    Output output;
    EXPECT_EQ(runUpdate(&output), 1) << output.log;

    EXPECT_EQ(root().read(kLocalFile), content_);
    const LmPackageInfo& package = updated_.packages[0];
    EXPECT_EQ(package.downloadResult, 1);
    EXPECT_EQ(package.path, String(root().file(kPackageDir)));
    EXPECT_EQ(package.file, "a.zip");
    EXPECT_EQ(package.product.installPath, "/opt/p5");
    auto requests = downloads(server);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, std::string("/lm-download?path=") + kUrl);
    EXPECT_EQ(requests[0].header("X-Lm-Update-ProductId"), "5");
    EXPECT_EQ(requests[0].header("X-Lm-Update-SerialNo"), "SN5");
    EXPECT_FALSE(requests[0].hasHeader("Range"));
    EXPECT_EQ(requests[0].header("Accept-Encoding"), "identity");
    // Without a session id its header is empty, which the HTTP layer does not send.
    EXPECT_EQ(lmHeaderNames(requests[0]),
              (std::vector<std::string>{"X-Lm-Content-Compression", "X-Lm-Update-MAC",
                                        "X-Lm-Update-ProductId", "X-Lm-Update-ProductVersion",
                                        "X-Lm-Update-SerialNo"}));
    EXPECT_TRUE(contains(output.log, "Download Pkg Five (0 of 10000)\n"));
    EXPECT_TRUE(contains(output.log, "LmUpdate: md5: " + String(md5_).toLowerCase().str()));
    EXPECT_TRUE(contains(output.log, "Download Pkg Five (10000 of 10000)"));
}

TEST_F(LmUpdateClientDownloadTest, ProgressReportsAreAtMostTwentyOnePerTransfer) {
    useContent(pattern(100000));
    TestServer server(serve(fileAnswer(", \"chunk_size\": 700")));
    useServers({host(server)});
    ASSERT_EQ(runUpdate(), 1);

    std::vector<std::string> lines = progressLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "--action update --id 5 --status request");
    std::vector<std::string> reports(lines.begin() + 1, lines.end());
    EXPECT_LE(reports.size(), 21u);
    EXPECT_EQ(reports.front(),
              "--action update --id 5 --status download --downloaded_size 0 --total_size 100000");
    EXPECT_EQ(reports.back(),
              "--action update --id 5 --status download --downloaded_size 100000 "
              "--total_size 100000");
    std::regex line(
        "--action update --id 5 --status download --downloaded_size (\\d+) "
        "--total_size 100000");
    long previous = -1;
    for (const auto& text : reports) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(text, match, line)) << text;
        long size = std::stol(match[1]);
        EXPECT_GT(size, previous);
        previous = size;
    }
}

TEST_F(LmUpdateClientDownloadTest, WrongDigestRemovesTheProductDirectory) {
    TestServer server(serve(fileAnswer(), std::string(32, '0')));
    useServers({host(server)});
    Output output;
    EXPECT_EQ(runUpdate(&output), -1);

    EXPECT_FALSE(root().exists("download/5"));
    EXPECT_TRUE(contains(output.log,
                         std::string("LmUpdate: invalid md5 in downloading file: ") + kUrl + "\n"));
    EXPECT_TRUE(contains(output.log, "EC_LMUPDATE_PACKAGE_ERROR"));
    EXPECT_EQ(updated_.packages[0].downloadResult, 0);
}

TEST_F(LmUpdateClientDownloadTest, FailedPackageKeepsAnAcceptedOneOfTheSameProduct) {
    std::string packages =
        package(kProduct, "Pkg Five", "2.1.0.7", kUrl, md5_, 10000) +
        package(kProduct, "Pkg Five B", "2.1.0.7", "pkgs/b.zip", std::string(32, '0'), 10000);
    TestServer server(
        config({{"POST /lm-update",
                 answer(response(201, "<PackageInfoList>\n" + packages + "</PackageInfoList>\n"))},
                {"GET /lm-download", fileAnswer()}}));
    useServers({host(server)});
    Output output;
    EXPECT_EQ(runUpdate(&output), 1) << output.log;

    EXPECT_EQ(root().read(kLocalFile), content_);
    EXPECT_FALSE(root().exists(std::string(kPackageDir) + "/b.zip"));
    EXPECT_EQ(updated_.packages[0].downloadResult, 1);
    EXPECT_EQ(updated_.packages[1].downloadResult, 0);
}

// A deferred package is skipped only when both its url and its md5 match the
// announcement exactly (case counts).
struct DelayCase {
    const char* name;
    const char* url;
    enum Md5 { kSame, kLowerCase, kOther } md5;
    bool skipped;
};

void PrintTo(const DelayCase& c, std::ostream* out) {
    *out << c.name;
}

class LmUpdateClientDelayTest : public LmUpdateClientDownloadTest,
                                public testing::WithParamInterface<DelayCase> {};

TEST_P(LmUpdateClientDelayTest, SkipsOnlyTheSamePackage) {
    const DelayCase& c = GetParam();
    LmPackageInfo delayed;
    delayed.product.id = kProduct;
    delayed.url = c.url;
    delayed.md5 = c.md5 == DelayCase::kSame        ? String(md5_)
                  : c.md5 == DelayCase::kLowerCase ? String(md5_).toLowerCase()
                                                   : String(std::string(32, 'f'));
    Vector<LmPackageInfo> list;
    list.add(delayed);
    ASSERT_TRUE(savePackages(list, installPath(kDelayPackagesFile)));
    TestServer server(serve(fileAnswer()));
    useServers({host(server)});
    Output output;
    EXPECT_EQ(runUpdate(&output), c.skipped ? -1 : 1);

    EXPECT_EQ(contains(output.log, "EC_LMUPDATE_DELAY_PACKAGE"), c.skipped);
    EXPECT_EQ(downloads(server).size(), c.skipped ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Deferred, LmUpdateClientDelayTest,
    testing::Values(DelayCase{"SameUrlAndMd5", kUrl, DelayCase::kSame, true},
                    DelayCase{"OtherMd5", kUrl, DelayCase::kOther, false},
                    DelayCase{"Md5InOtherCase", kUrl, DelayCase::kLowerCase, false},
                    DelayCase{"OtherUrl", "pkgs/other.zip", DelayCase::kSame, false}),
    [](const testing::TestParamInfo<DelayCase>& info) { return info.param.name; });

TEST_F(LmUpdateClientDownloadTest, MissingDelayListCountsAsEmpty) {
    root().remove(kDelayPackagesFile);
    TestServer server(serve(fileAnswer()));
    useServers({host(server)});
    Output output;
    EXPECT_EQ(runUpdate(&output), 1) << output.log;
    EXPECT_TRUE(contains(output.log,
                         "LmUpdate: get packages info failed before downloading package file: " +
                             root().file(kDelayPackagesFile) + ": "));
}

// Packages refused before any byte is fetched: a version or url whose
// last part cannot name one path component, or a number that does not fit.
struct RefusedCase {
    const char* name;
    std::string url;
    std::string version;
    int64_t size;  // -1: the served file's
    std::string loggedReason;
};

void PrintTo(const RefusedCase& c, std::ostream* out) {
    *out << c.name;
}

class LmUpdateClientRefusedPackageTest : public LmUpdateClientDownloadTest,
                                         public testing::WithParamInterface<RefusedCase> {};

TEST_P(LmUpdateClientRefusedPackageTest, NothingIsFetched) {
    const RefusedCase& c = GetParam();
    int64_t size = c.size < 0 ? static_cast<int64_t>(content_.size()) : c.size;
    std::string list = "<PackageInfoList>\n" +
                       package(kProduct, "Pkg Five", c.version, c.url, md5_, size) +
                       "</PackageInfoList>\n";
    TestServer server(config({{"POST /lm-update", answer(response(201, list))}}));
    useServers({host(server)});
    root().write("download/5/2_0_0_0/old.zip", "left from an earlier run");
    expectRefusedBeforeFetching(server, c.loggedReason);
    EXPECT_FALSE(root().exists("download/5"));
}

INSTANTIATE_TEST_SUITE_P(
    Packages, LmUpdateClientRefusedPackageTest,
    testing::Values(
        RefusedCase{"DotDotFileName", "pkgs/..", "2.1.0.7", -1,
                    "pkgs/..: file name: \"..\" names a directory"},
        RefusedCase{"BareDotDot", "..", "2.1.0.7", -1, "..: file name: \"..\" names a directory"},
        RefusedCase{"DotFileName", "pkgs/.", "2.1.0.7", -1,
                    "pkgs/.: file name: \".\" names a directory"},
        RefusedCase{"EmptyFileName", "pkgs/", "2.1.0.7", -1, "pkgs/: file name: empty name"},
        RefusedCase{"BackslashFileName", "pkgs/..\\a.zip", "2.1.0.7", -1,
                    "pkgs/..\\a.zip: file name: name holds \"\\\""},
        RefusedCase{"ControlByteFileName", "pkgs/a&#9;.zip", "2.1.0.7", -1,
                    "pkgs/a\\x09.zip: file name: name holds a control character"},
        RefusedCase{"SlashInVersion", "pkgs/a.zip", "2/1", -1,
                    "pkgs/a.zip: version: name holds \"/\""},
        RefusedCase{"DotDotVersion", "pkgs/a.zip", "..", -1,
                    "pkgs/a.zip: version: \"..\" names a directory"},
        RefusedCase{"SizeOver32Bits", "pkgs/a.zip", "2.1.0.7", INT64_C(4294967544),
                    "pkgs/a.zip: number out of range: size"}),
    [](const testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

TEST_F(LmUpdateClientDownloadTest, PackageLargerThanTheFreeSpaceIsRefused) {
    TmpfsMount disk(root().file("download"), "2m");
    if (!disk.mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.error();
    }
    std::string list = "<PackageInfoList>\n" +
                       package(kProduct, "Pkg Five", "2.1.0.7", kUrl, md5_, 2147483647L) +
                       "</PackageInfoList>\n";
    TestServer server(config({{"POST /lm-update", answer(response(201, list))},
                              {"GET /lm-download", R"({"body_repeat": "x", "body_count": 4000000,
                                                       "content_length": 2147483647})"}}));
    useServers({host(server)});
    expectRefusedBeforeFetching(server, std::string(kUrl) + ": not enough disk space: ");
    EXPECT_FALSE(root().exists("download/5"));
}

// Seeds on the download's file system go before its free-space check would
// refuse it.
TEST_F(LmUpdateClientDownloadTest, SeedsGoBeforeTheFreeSpaceCheckRefuses) {
    TmpfsMount disk(root().file("download"), "3m");
    if (!disk.mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.error();
    }
    useContent(pattern(1024 * 1024));
    root().mkdirs("download/lmupdate-seed/7");
    ASSERT_EQ(chmod(root().file("download/lmupdate-seed").c_str(), 0700), 0);
    ASSERT_EQ(chmod(root().file("download/lmupdate-seed/7").c_str(), 0700), 0);
    root().write("download/lmupdate-seed/7/old.zip", std::string(1536 * 1024, 's'));
    TestServer server(serve(fileAnswer()));
    useServers({host(server)});

    EXPECT_EQ(runUpdate(), 1);
    EXPECT_EQ(root().read(kLocalFile), content_);
    EXPECT_FALSE(root().exists("download/lmupdate-seed/7/old.zip"));
}

// What another user left in the download tree before the run. The victim
// is a root-owned 0600 file outside the tree that a write through a
// planted link would overwrite.
enum class Plant {
    kLinkInWorldWritableDirectory,
    kLinkAsProductDirectory,
    kLinkAsPackageFile,
    kGroupWritableProductDirectory,
    kForeignVersionDirectory,
};

struct PlantedTreeCase {
    const char* name;
    Plant plant;
    std::string unsafe;  // the path below the root and the reason logged
    bool productKept;    // download/5 stays: nothing in an untrusted tree is removed
};

void PrintTo(const PlantedTreeCase& c, std::ostream* out) {
    *out << c.name;
}

class LmUpdateClientPlantedTreeTest : public LmUpdateClientDownloadTest,
                                      public testing::WithParamInterface<PlantedTreeCase> {
protected:
    void plant(Plant what) {
        root().write("victim", "secret", 0600);
        root().mkdirs("victim-dir");
        root().mkdirs(kPackageDir);
        switch (what) {
            case Plant::kLinkInWorldWritableDirectory:
                std::filesystem::permissions(root().file("download"), std::filesystem::perms::all);
                std::filesystem::create_symlink(root().file("victim"), root().file(kLocalFile));
                break;
            case Plant::kLinkAsProductDirectory:
                root().remove("download/5");
                std::filesystem::create_directory_symlink(root().file("victim-dir"),
                                                          root().file("download/5"));
                break;
            case Plant::kLinkAsPackageFile:
                std::filesystem::create_symlink(root().file("victim"), root().file(kLocalFile));
                break;
            case Plant::kGroupWritableProductDirectory:
                std::filesystem::permissions(root().file("download/5"),
                                             std::filesystem::perms::group_write,
                                             std::filesystem::perm_options::add);
                break;
            case Plant::kForeignVersionDirectory:
                ASSERT_EQ(::chown(root().file(kPackageDir).c_str(), 65534, 65534), 0);
                break;
        }
    }
};

TEST_P(LmUpdateClientPlantedTreeTest, PackageIsRefusedAndNothingOutsideIsWritten) {
    const PlantedTreeCase& c = GetParam();
    if (c.plant == Plant::kForeignVersionDirectory && ::geteuid() != 0) {
        GTEST_SKIP() << "giving a directory to uid 65534 needs root";
    }
    plant(c.plant);
    TestServer server(
        config({{"POST /lm-update", announcement()}, {"GET /lm-download", fileAnswer()}}));
    useServers({host(server)});
    expectRefusedBeforeFetching(
        server, std::string(kUrl) + ": unsafe download path: " + root().path() + "/" + c.unsafe);
    EXPECT_EQ(root().read("victim"), "secret");
    EXPECT_TRUE(std::filesystem::is_empty(root().file("victim-dir")));
    EXPECT_EQ(std::filesystem::exists(std::filesystem::symlink_status(root().file("download/5"))),
              c.productKept);
}

INSTANTIATE_TEST_SUITE_P(
    Plants, LmUpdateClientPlantedTreeTest,
    testing::Values(PlantedTreeCase{"LinkInWorldWritableDirectory",
                                    Plant::kLinkInWorldWritableDirectory,
                                    "download: writable by group or others", true},
                    PlantedTreeCase{"LinkAsProductDirectory", Plant::kLinkAsProductDirectory,
                                    "download/5: a link", true},
                    PlantedTreeCase{"LinkAsPackageFile", Plant::kLinkAsPackageFile,
                                    "download/5/2_1_0_7/a.zip: a link", false},
                    PlantedTreeCase{"GroupWritableProductDirectory",
                                    Plant::kGroupWritableProductDirectory,
                                    "download/5: writable by group or others", true},
                    PlantedTreeCase{"ForeignVersionDirectory", Plant::kForeignVersionDirectory,
                                    "download/5/2_1_0_7: owned by uid 65534", true}),
    [](const testing::TestParamInfo<PlantedTreeCase>& info) { return info.param.name; });

// The one fetch pipeline refuses for packages and firmware alike; only
// the report and what is removed differ (the caller's policy).
enum class Caller { kPackage, kFirmware };

struct FetchRefusalCase {
    const char* name;
    Caller caller;
    bool smallDisk;      // else a link planted as the package file
    std::string reason;  // after the root (the link) or as it stands (the disk)
};

void PrintTo(const FetchRefusalCase& c, std::ostream* out) {
    *out << c.name;
}

class PackageFetchRefusalTest : public LmUpdateClientDownloadTest,
                                public testing::WithParamInterface<FetchRefusalCase> {
protected:
    LmPackageInfo announced(int32_t size) const {
        LmPackageInfo package;
        package.product.id = kProduct;
        package.product.desc = "Pkg Five";
        package.version = LmVersionInfo("2.1.0.7", "", "");
        package.url = kUrl;
        package.md5 = md5_;
        package.size = size;
        return package;
    }
};

TEST_P(PackageFetchRefusalTest, NothingIsFetchedOrWrittenOutside) {
    const FetchRefusalCase& c = GetParam();
    std::optional<TmpfsMount> disk;
    if (c.smallDisk) {
        disk.emplace(root().file("download"), "2m");
        if (!disk->mounted()) {
            GTEST_SKIP() << "cannot mount a tmpfs here: " << disk->error();
        }
    } else {
        root().write("victim", "secret", 0600);
        root().mkdirs(kPackageDir);
        std::filesystem::create_symlink(root().file("victim"), root().file(kLocalFile));
    }
    TestServer server(config({{"GET /lm-download", fileAnswer()}}));
    useServers({host(server)});
    ServerSession session(downloadOptions(0, 0, 0, root().file("download")));
    PackageFetch fetch(session, Vector<String>());
    Vector<LmPackageInfo> packages;
    packages.add(announced(c.smallDisk ? 2147483647 : static_cast<int32_t>(content_.size())));
    PackagePolicy packagePolicy(fetch.tree(), packages, packages[0], kProduct);
    FirmwarePolicy firmwarePolicy("2.1.0.7");
    FetchPolicy& policy = c.caller == Caller::kPackage ? static_cast<FetchPolicy&>(packagePolicy)
                                                       : static_cast<FetchPolicy&>(firmwarePolicy);
    FetchResult result{FetchOutcome::kFetched};
    Output output = capture([&] { result = fetch.run(packages[0], policy); });

    std::string reason =
        c.smallDisk ? c.reason : "unsafe download path: " + root().path() + "/" + c.reason;
    EXPECT_EQ(result.outcome, FetchOutcome::kRefused);
    EXPECT_TRUE(contains(result.reason.str(), reason)) << result.reason;
    bool firmware = c.caller == Caller::kFirmware;
    EXPECT_TRUE(contains(output.log, std::string(firmware ? "LmUpdate: firmware package refused: "
                                                          : "LmUpdate: package refused: ") +
                                         kUrl + ": " + reason))
        << output.log;
    EXPECT_EQ(output.out, firmware ? "" : "EC_LMUPDATE_PACKAGE_ERROR\n");
    EXPECT_TRUE(downloads(server).empty());
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(root().file(kLocalFile))));
    if (!c.smallDisk) {
        EXPECT_EQ(root().read("victim"), "secret");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Callers, PackageFetchRefusalTest,
    testing::Values(FetchRefusalCase{"PackageLink", Caller::kPackage, false,
                                     "download/5/2_1_0_7/a.zip: a link"},
                    FetchRefusalCase{"FirmwareLink", Caller::kFirmware, false,
                                     "download/5/2_1_0_7/a.zip: a link"},
                    FetchRefusalCase{"FirmwareLargerThanTheFreeSpace", Caller::kFirmware, true,
                                     "not enough disk space: "}),
    [](const testing::TestParamInfo<FetchRefusalCase>& info) { return info.param.name; });

// Every connection of the run is counted once: the session id, the answer
// and the package, heads and bodies.
TEST_F(LmUpdateClientDownloadTest, RunRecordHoldsEveryByteTheServerSent) {
    TestServer server(config({{"POST /lm-update", announcement()},
                              {"GET /lm-sessionid", answer("S-1")},
                              {"GET /lm-download", fileAnswer()}}));
    useServers({host(server)});
    UpdateRun run(downloadOptions(1, 0, 0, root().file("download")));
    capture([&] { run.run(kProduct); });
    EXPECT_GT(server.bytesSent(), static_cast<int64_t>(content_.size()));
    EXPECT_EQ(run.record().bytesFetched(), server.bytesSent());
    const ProductResult* product = run.record().find(kProduct);
    ASSERT_NE(product, nullptr);
    EXPECT_EQ(product->outcome, ProductOutcome::kDownloaded);
}

TEST_F(LmUpdateClientDownloadTest, AbsoluteUrlIsFetchedAsItStands) {
    TestServer files(config({{"GET /direct/a.zip", fileAnswer()}}));
    TestServer server(config({{"POST /lm-update", announcement(files.url("/direct/a.zip"))}}));
    useServers({host(server)});
    EXPECT_EQ(runUpdate(), 1);
    EXPECT_EQ(files.requests().size(), 1u);
}

TEST_F(LmUpdateClientDownloadTest, PlainDownloadSendsTheSessionId) {
    TestServer server(config({{"POST /lm-update", announcement()},
                              {"GET /lm-sessionid", answer("S-42")},
                              {"GET /lm-download", fileAnswer()}}));
    useServers({host(server)});
    EXPECT_EQ(runUpdate(nullptr, true), 1);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].path, "/lm-sessionid");
    EXPECT_EQ(requests[1].header("X-Lm-Update-URL"), kUrl);
    EXPECT_EQ(requests[1].header("X-Lm-Update-Protocol-Version"), "1.0");
    EXPECT_EQ(requests[1].header("X-Lm-Update-MAC"), kMac);
    EXPECT_EQ(requests[2].header("X-Lm-Update-SessionID"), "S-42");
    for (int i : {1, 2}) {
        EXPECT_EQ(requests[i].header("Connection"), "close") << requests[i].path;
    }
}

// Session-id answers that end a plain download at once.
struct SessionIdCase {
    const char* name;
    std::string answer;
    int httpStatus;       // afterwards
    const char* logLine;  // a line the log must hold, or ""
};

void PrintTo(const SessionIdCase& c, std::ostream* out) {
    *out << c.name;
}

class LmUpdateClientSessionIdTest : public LmUpdateClientDownloadTest,
                                    public testing::WithParamInterface<SessionIdCase> {};

TEST_P(LmUpdateClientSessionIdTest, EndsTheDownloadWithoutOtherServers) {
    const SessionIdCase& c = GetParam();
    TestServer other(serve(fileAnswer()));
    TestServer server(
        config({{"POST /lm-update", announcement()}, {"GET /lm-sessionid", c.answer}}));
    useServers({host(server), host(other)});
    Output output;
    EXPECT_EQ(runUpdate(&output, true), -1);
    EXPECT_EQ(lastStatus_, c.httpStatus);
    EXPECT_TRUE(other.requests().empty());
    EXPECT_TRUE(downloads(server).empty());
    EXPECT_TRUE(contains(output.out, "EC_LMUPDATE_UPDATE_ERROR\n"));
    EXPECT_TRUE(contains(output.log, c.logLine)) << output.log;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, LmUpdateClientSessionIdTest,
    testing::Values(SessionIdCase{"Forbidden", LmUpdateClientFixture::answer("", 403), 403, ""},
                    SessionIdCase{"OverMemoryCap",
                                  R"({"body_repeat": "s", "body_count": 16777217})", 200,
                                  "LmUpdate: response body too large"}),
    [](const testing::TestParamInfo<SessionIdCase>& info) { return info.param.name; });

// What fetching the session id comes to, which the firmware download turns
// into its own result codes.
struct SessionIdFetchCase {
    const char* name;
    std::string answer;  // of GET /lm-sessionid; "" for settings without a server
    Answer outcome;
    const char* sessionId;
    int httpStatus;  // afterwards
};

void PrintTo(const SessionIdFetchCase& c, std::ostream* out) {
    *out << c.name;
}

class LmUpdateClientSessionIdFetchTest : public LmUpdateClientDownloadTest,
                                         public testing::WithParamInterface<SessionIdFetchCase> {};

TEST_P(LmUpdateClientSessionIdFetchTest, TellsTheOutcomeApart) {
    const SessionIdFetchCase& c = GetParam();
    TestServer server(
        config({{"GET /lm-sessionid", c.answer.empty() ? answer("unused") : c.answer}}));
    useServers(c.answer.empty() ? std::vector<std::string>{} : std::vector{host(server)});
    ServerSession session;
    ExchangePolicy policy;
    String serverHost(host(server));
    String sessionId;
    Output output = capture([&] {
        ServerCall call(session, policy, serverHost);
        HttpRequest request(URL("http://" + serverHost + "/lm-sessionid"));
        Answer outcome = Answer::kNotSent;
        if (call.open(ConnectionKind::kSession, false)) {
            outcome = call.fetchSessionId(request, sessionId);
        }
        EXPECT_EQ(outcome, c.outcome);
    });
    EXPECT_EQ(sessionId.str(), c.sessionId);
    EXPECT_EQ(session.lastStatus(), c.httpStatus);
    EXPECT_EQ(server.requests().size(), c.answer.empty() ? 0u : 1u) << output.log;
}

using Fetch = Answer;

INSTANTIATE_TEST_SUITE_P(
    Outcomes, LmUpdateClientSessionIdFetchTest,
    testing::Values(SessionIdFetchCase{"received", LmUpdateClientFixture::answer("S-42"),
                                       Fetch::kBody, "S-42", 200},
                    SessionIdFetchCase{"badStatus", LmUpdateClientFixture::answer("no", 500),
                                       Fetch::kBadStatus, "", 500},
                    SessionIdFetchCase{"overMemoryCap",
                                       R"({"body_repeat": "s", "body_count": 16777217})",
                                       Fetch::kNoBody, "", 200},
                    SessionIdFetchCase{"noServer", "", Fetch::kNotSent, "", 200}),
    [](const testing::TestParamInfo<SessionIdFetchCase>& info) { return info.param.name; });

TEST_F(LmUpdateClientDownloadTest, NextServerAfterNotFoundOrBadLength) {
    TestServer good(serve(fileAnswer()));
    TestServer lying(serve(fileAnswer(", \"content_length\": 9999")));
    TestServer missing(serve(answer("no", 404)));
    useServers({host(missing), host(lying), host(good)});
    Output output;
    EXPECT_EQ(runUpdate(&output), 1);
    EXPECT_TRUE(contains(output.log, "Download 'Pkg Five' not found"));
    EXPECT_TRUE(contains(output.log, "Download 'Pkg Five' failed with code 404"));
    EXPECT_TRUE(contains(output.log, "LmUpdate: invalid file length in response"));
    EXPECT_EQ(downloads(good).size(), 1u);
}

TEST_F(LmUpdateClientDownloadTest, NoServerDeliversRemovesTheDirectory) {
    TestServer server(serve(answer("no", 401)));
    useServers({host(server)});
    Output output;
    EXPECT_EQ(runUpdate(&output), -1);
    EXPECT_TRUE(contains(output.log, "Download 'Pkg Five' unauthorized"));
    EXPECT_TRUE(contains(output.log, std::string("LmUpdate: downloading file failed: ") + kUrl));
    EXPECT_EQ(output.out, "EC_LMUPDATE_UPDATE_ERROR\n");
    EXPECT_FALSE(root().exists("download/5"));
    EXPECT_EQ(lastStatus_, 401);
}

TEST_F(LmUpdateClientDownloadTest, BodyBeyondTheAnnouncedSizeIsNotWritten) {
    // The head promises the right length but the server keeps sending.
    root().write("served/long.zip", content_ + std::string(5000, 'Z'));
    TestServer server(serve(
        ServerAnswers::fileAnswer(root().file("served/long.zip"), ", \"content_length\": 10000")));
    useServers({host(server)});
    EXPECT_EQ(runUpdate(), 1);
    EXPECT_EQ(root().size(kLocalFile), 10000);
}

// How the download answer's framing, coding and redirects end a package.
struct AnswerCase {
    const char* name;
    std::string download;  // the answer to GET /lm-download
    std::string mirror;    // the answer to GET /mirror/a.zip
    int result;            // of update()
    const char* out;
    const char* logLine;
    size_t downloadRequests;  // to /lm-download
    long stored;              // bytes of the local file, -1: the product directory is gone
};

void PrintTo(const AnswerCase& c, std::ostream* out) {
    *out << c.name;
}

class LmUpdateClientAnswerTest : public LmUpdateClientDownloadTest,
                                 public testing::WithParamInterface<AnswerCase> {
protected:
    // "FILE" serves the package; "SERVED" in an answer names its file.
    std::string withFile(const std::string& json) const {
        if (json == "FILE") {
            return fileAnswer();
        }
        std::string text = json.empty() ? "{}" : json;
        size_t at = text.find("\"SERVED\"");
        return at == std::string::npos
                   ? text
                   : text.replace(at, 8, jsonString(root().file("served/a.zip")));
    }
};

TEST_P(LmUpdateClientAnswerTest, EndsThePackageAsItShould) {
    const AnswerCase& c = GetParam();
    TestServer server(config({{"POST /lm-update", announcement()},
                              {"GET /lm-download", withFile(c.download)},
                              {"GET /mirror/a.zip", withFile(c.mirror)}}));
    useServers({host(server)});
    Output output;
    EXPECT_EQ(runUpdate(&output), c.result) << output.log;
    EXPECT_EQ(output.out, c.out);
    EXPECT_TRUE(contains(output.log, c.logLine)) << output.log;
    EXPECT_EQ(downloads(server).size(), c.downloadRequests);
    if (c.stored < 0) {
        EXPECT_FALSE(root().exists("download/5"));
    } else {
        EXPECT_EQ(root().size(kLocalFile), c.stored);
    }
    if (c.result == 1) {
        EXPECT_EQ(root().read(kLocalFile), content_);
    }
}

const std::string kMoved = R"({"redirect": "/mirror/a.zip", "status": )";

INSTANTIATE_TEST_SUITE_P(
    Answers, LmUpdateClientAnswerTest,
    testing::Values(
        AnswerCase{"Moved301", kMoved + "301}", "FILE", 1, "",
                   "LmUpdate: redirected to http://127.0.0.1:", 1, 10000},
        AnswerCase{"Found302Absolute", kMoved + "302, \"absolute_location\": true}", "FILE", 1, "",
                   "/mirror/a.zip", 1, 10000},
        AnswerCase{"SeeOther303", kMoved + "303}", "FILE", 1, "", "/mirror/a.zip", 1, 10000},
        AnswerCase{"Temporary307", kMoved + "307}", "FILE", 1, "", "/mirror/a.zip", 1, 10000},
        AnswerCase{"Permanent308", kMoved + "308}", "FILE", 1, "", "/mirror/a.zip", 1, 10000},
        AnswerCase{"RedirectToAWrongLengthIsTheUsualError", kMoved + "302}", R"({"body": "short"})",
                   -1, "EC_LMUPDATE_UPDATE_ERROR\n", "LmUpdate: invalid file length in response", 1,
                   -1},
        AnswerCase{"EleventhRedirectIsRefused",
                   R"({"redirect": "/lm-download?path=again", "status": 302})", "FILE", -1,
                   "EC_LMUPDATE_PACKAGE_ERROR\n", "LmUpdate: too many redirects: http://", 11, -1},
        AnswerCase{"ContentCodedIsRefused", R"({"body_file": "SERVED", "encoding": "gzip"})", "",
                   -1, "EC_LMUPDATE_PACKAGE_ERROR\n",
                   "LmUpdate: package refused: pkgs/a.zip: content-coded (gzip)", 1, -1},
        AnswerCase{"CloseDelimitedIsReadToTheEnd",
                   R"({"body_file": "SERVED", "content_length": -1})", "", 1, "",
                   "Download Pkg Five (10000 of 10000)", 1, 10000},
        // Each cut answer brings 3000 bytes more: resumed in the same run.
        AnswerCase{"CloseDelimitedShortIsResumedInTheRun",
                   R"({"body_file": "SERVED", "content_length": -1, "close_after": 3000})", "", 1,
                   "", "LmUpdate: download cut (file size is incorrect): attempt 2 of 5", 4, 10000},
        AnswerCase{"PresentLengthThatDiffersIsAnError",
                   R"({"body_file": "SERVED", "content_length": 9000})", "", -1,
                   "EC_LMUPDATE_UPDATE_ERROR\n", "LmUpdate: invalid file length in response", 1,
                   -1}),
    [](const testing::TestParamInfo<AnswerCase>& info) { return info.param.name; });

// On the fake clock: the pauses are counted, not waited for (the
// end-to-end tests wait for a real one).
TEST_F(LmUpdateClientDownloadTest, ThrottledTransferPausesAfterEachAllowance) {
    useContent(pattern(3072));
    TestServer server(serve(fileAnswer()));
    useServers({host(server)});
    FakeClock clock;
    ProcessClockOverride onFakeTime(clock);
    EXPECT_EQ(runUpdate(nullptr, false, 1, 1), 1);
    const Clock::Duration second = std::chrono::seconds(1);
    EXPECT_EQ(clock.sleeps(), std::vector<Clock::Duration>({second, second}));
}

// --- Resume -----------------------------------------------------------------

// The requests of a run whose every retry after the first cut brings nothing.
constexpr size_t kBrokenRunRequests = Backoff::kAttempts;

class LmUpdateClientResumeTest : public LmUpdateClientDownloadTest {
protected:
    // A first run that breaks off after 3000 bytes, its retries bringing
    // nothing more; kept: the 3000 bytes may stay for a resume (else each
    // retry starts over and the last leaves nothing).
    void breakOffAt3000(TestServer& server, bool kept = true) {
        server.setConfig(serve("[" + fileAnswer(", \"close_after\": 3000") + ", " +
                               fileAnswer(", \"close_after\": 0") + "]"));
        Output output;
        EXPECT_EQ(runUpdate(&output), -1);
        EXPECT_TRUE(contains(output.log, "file size is incorrect")) << output.log;
        EXPECT_EQ(root().size(kLocalFile), kept ? 3000 : 0);
    }
};

TEST_F(LmUpdateClientResumeTest, StalledTransferReportsTheTimeoutAndKeepsTheFile) {
    TestServer server(serve("[" + fileAnswer(", \"chunk_size\": 3000, \"chunk_delay\": 30") +
                            ", {\"silent\": true}]"));
    useServers({host(server)}, "type=\"http\" timeout=\"1\"");
    Output output;
    EXPECT_EQ(runUpdate(&output), -1);

    EXPECT_EQ(output.out, "EC_LMUPDATE_READ_TIMEOUT\n");
    EXPECT_TRUE(contains(output.log, "partail result: false\n")) << output.log;
    EXPECT_TRUE(
        contains(output.log, "save  PartialFilesInfo: " + root().file(kLocalFile) + ") success\n"));
    EXPECT_EQ(root().size(kLocalFile), 3000);
    LmPartialFileInfo record;
    ASSERT_TRUE(partialRecord(record));
    EXPECT_EQ(record.actualSize, 3000);
    EXPECT_EQ(record.path, String(root().file(kLocalFile)));
}

TEST_F(LmUpdateClientResumeTest, BrokenTransferResumesWithRange) {
    TestServer server("{}");
    useServers({host(server)});
    breakOffAt3000(server);
    LmPartialFileInfo record;
    ASSERT_TRUE(partialRecord(record));
    EXPECT_EQ(record.actualSize, 3000);
    EXPECT_EQ(record.size, 10000);
    EXPECT_EQ(record.url, kUrl);

    root().remove("tmp/progress");
    server.setConfig(serve(fileAnswer()));
    Output output;
    EXPECT_EQ(runUpdate(&output), 1) << output.log;
    auto requests = downloads(server);
    ASSERT_EQ(requests.size(), kBrokenRunRequests + 1);
    EXPECT_EQ(requests.back().header("Range"), "bytes=3000-");
    EXPECT_TRUE(contains(output.log, "enter partial download!!!"));
    EXPECT_TRUE(contains(output.log, "Download Pkg Five (3000 of 10000)\n"));
    std::vector<std::string> lines = progressLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1],
              "--action update --id 5 --status download --downloaded_size 3000 "
              "--total_size 10000");
    EXPECT_EQ(root().read(kLocalFile), content_);
    EXPECT_FALSE(partialRecord(record));
}

TEST_F(LmUpdateClientResumeTest, WholeAnswerToARangeRequestStartsOver) {
    TestServer server("{}");
    useServers({host(server)});
    breakOffAt3000(server);

    server.setConfig(serve(fileAnswer(", \"ignore_range\": true")));
    EXPECT_EQ(runUpdate(), 1);
    auto requests = downloads(server);
    ASSERT_EQ(requests.size(), kBrokenRunRequests + 1);
    EXPECT_EQ(requests.back().header("Range"), "bytes=3000-");
    EXPECT_EQ(root().read(kLocalFile), content_);
}

// The record may lag behind the file (a run killed after writing it): the
// bytes on disk are what the next run resumes from.
TEST_F(LmUpdateClientResumeTest, FileOnDiskDecidesTheResumePoint) {
    for (int have : {2000, 5000}) {
        TestServer server("{}");
        useServers({host(server)});
        breakOffAt3000(server);
        root().write(kLocalFile, content_.substr(0, static_cast<size_t>(have)));

        server.setConfig(serve(fileAnswer()));
        Output output;
        EXPECT_EQ(runUpdate(&output), 1) << have;
        auto requests = downloads(server);
        ASSERT_EQ(requests.size(), kBrokenRunRequests + 1);
        EXPECT_EQ(requests.back().header("Range"), "bytes=" + std::to_string(have) + "-");
        LmPartialFileInfo record;
        EXPECT_FALSE(partialRecord(record));
        EXPECT_EQ(root().read(kLocalFile), content_);
        root().remove("download/5");
    }
}

TEST_F(LmUpdateClientResumeTest, RedirectedDownloadResumesUnderTheAnnouncedUrl) {
    auto routes = [&](const std::string& mirror) {
        return config({{"POST /lm-update", announcement()},
                       {"GET /lm-download", R"({"redirect": "/mirror/a.zip", "status": 302})"},
                       {"GET /mirror/a.zip", mirror}});
    };
    TestServer server(routes("[" + fileAnswer(", \"close_after\": 3000") + ", " +
                             fileAnswer(", \"close_after\": 0") + "]"));
    useServers({host(server)});
    EXPECT_EQ(runUpdate(), -1);
    LmPartialFileInfo record;
    ASSERT_TRUE(partialRecord(record));
    EXPECT_EQ(record.url, kUrl);
    EXPECT_EQ(record.actualSize, 3000);

    server.setConfig(routes(fileAnswer()));
    EXPECT_EQ(runUpdate(), 1);
    auto requests = server.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().path, "/mirror/a.zip");
    EXPECT_EQ(requests.back().header("Range"), "bytes=3000-");
    EXPECT_EQ(root().read(kLocalFile), content_);
}

TEST_F(LmUpdateClientResumeTest, RecordOfAnotherUrlIsDiscarded) {
    TestServer server("{}");
    useServers({host(server)});
    breakOffAt3000(server);
    LmPartialFileInfo record;
    ASSERT_TRUE(partialRecord(record));
    record.url = "pkgs/older.zip";
    LmUpdateStore store;
    ASSERT_TRUE(store.load(installPath(kPartialFilesFile)));
    ASSERT_TRUE(store.setPartialFile(kProduct, record));

    server.setConfig(serve(fileAnswer()));
    Output output;
    EXPECT_EQ(runUpdate(&output), 1);
    auto requests = downloads(server);
    ASSERT_EQ(requests.size(), kBrokenRunRequests + 1);
    EXPECT_FALSE(requests.back().hasHeader("Range"));
    EXPECT_TRUE(contains(output.log, "info in LMUPDATE_PARTIAL_FILE did not match real one"));
    EXPECT_FALSE(partialRecord(record));
    EXPECT_EQ(root().read(kLocalFile), content_);
}

TEST_F(LmUpdateClientResumeTest, DownloadIsRecordedBeforeItsFirstByte) {
    TestServer server(serve(answer("no", 404)));
    useServers({host(server)});
    Output output;
    EXPECT_EQ(runUpdate(&output), -1);
    // Written before the request went out, though no byte ever came.
    std::string saved = "save  PartialFilesInfo: " + root().file(kLocalFile) + ") success";
    ASSERT_TRUE(contains(output.log, saved)) << output.log;
    EXPECT_LT(output.log.find(saved), output.log.find("GET http://"));
}

// A run cut after the last byte, before it dropped the record or after it
// but before the install: the file is whole, so nothing is fetched again
// and the digest checks decide.
TEST_F(LmUpdateClientResumeTest, CompleteFileFetchesNothingWithOrWithoutItsRecord) {
    for (bool recorded : {true, false}) {
        SCOPED_TRACE(recorded ? "recorded" : "record dropped");
        root().write(kLocalFile, content_);
        LmPartialFileInfo record;
        record.productID = kProduct;
        record.url = kUrl;
        record.path = String(root().file(kLocalFile));
        record.size = 10000;
        record.actualSize = 10000;
        LmUpdateStore store;
        ASSERT_TRUE(store.load(installPath(kPartialFilesFile)));
        ASSERT_TRUE(recorded ? store.setPartialFile(kProduct, record)
                             : (store.removePartialFile(kProduct), true));
        TestServer server(serve(fileAnswer()));
        useServers({host(server)});
        EXPECT_EQ(runUpdate(), 1);
        EXPECT_TRUE(downloads(server).empty());
        EXPECT_EQ(root().read(kLocalFile), content_);
        EXPECT_FALSE(partialRecord(record));
    }
}

TEST_F(LmUpdateClientResumeTest, ListedProductNeverLeavesARecord) {
    root().write(
        kPartialConfigFile,
        "<?xml version=\"1.0\"?>\n<SizeLimit MinSize=\"0\">\n<P id=\"5\"/>\n</SizeLimit>\n");
    TestServer server("{}");
    useServers({host(server)});
    breakOffAt3000(server, false);
    LmPartialFileInfo record;
    EXPECT_FALSE(partialRecord(record));

    server.setConfig(serve(fileAnswer()));
    EXPECT_EQ(runUpdate(), 1);
    auto requests = downloads(server);
    ASSERT_EQ(requests.size(), kBrokenRunRequests + 1);
    EXPECT_FALSE(requests.back().hasHeader("Range"));
}

TEST_F(LmUpdateClientResumeTest, PackageBelowMinSizeNeverLeavesARecord) {
    root().write(kPartialConfigFile, "<?xml version=\"1.0\"?>\n<SizeLimit MinSize=\"20000\"/>\n");
    TestServer server("{}");
    useServers({host(server)});
    breakOffAt3000(server, false);
    LmPartialFileInfo record;
    EXPECT_FALSE(partialRecord(record));
}

TEST_F(LmUpdateClientResumeTest, UnexpectedPartialAnswerIsNotFound) {
    TestServer server(serve("{\"status\": 206, \"body\": \"x\"}"));
    useServers({host(server)});
    Output output;
    EXPECT_EQ(runUpdate(&output), -1);
    EXPECT_TRUE(contains(output.log, "Download 'Pkg Five' failed with code 206"));
}

}  // namespace
