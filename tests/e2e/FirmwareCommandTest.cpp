// LmUpdate --firmware against the test update server: the answer of
// get_update_info, and the download of a stored answer's firmware file.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "UpdateFixture.h"

namespace {

const char kFirmware[] =
    "firmware image bytes, repeated. firmware image bytes, repeated. "
    "firmware image bytes, repeated. firmware image bytes, repeated.";

// A port on 127.0.0.1 that nothing listens on (just released by us).
int closedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

// The path of a request target, which may be an absolute URI.
std::string pathOf(const RecordedRequest& request) {
    std::string target = request.target;
    auto scheme = target.find("://");
    if (scheme != std::string::npos) {
        target = target.substr(target.find('/', scheme + 3));
    }
    return target.substr(0, target.find('?'));
}

class FirmwareCommandTest : public UpdateFixture {
protected:
    ProgramResult firmware(const std::string& action, const std::string& arg) const {
        return lmUpdate(
            {"--firmware", action, "--arg", arg, "--download-dir", root_.file("download")});
    }

    // Stores an answer announcing firmware 3.1 of product 9 as fw/f.bin.
    ServedFile storeAnswer(const std::string& md5 = "") {
        ServedFile file = servedFile("f.bin", kFirmware);
        if (!md5.empty()) {
            file.md5 = md5;
        }
        root_.write("shared_conf/lm-firmware-packages",
                    updateResponse(201, packageXml(9, "<ExtVersionInfo version=\"3.1\"/>",
                                                   "fw/f.bin", file, "")));
        return file;
    }

    void serveFirmware(const ServedFile& file) {
        startServer(config({textRoute("GET /lm-sessionid", "SID42"),
                            fileRoute("GET /lm-download?path=fw/f.bin", file)}));
    }

    std::string localFile() const { return "download/9/3_1/f.bin"; }

    bool downloadRequested() const {
        for (const RecordedRequest& request : server_->requests()) {
            if (pathOf(request) == "/lm-download") {
                return true;
            }
        }
        return false;
    }
};

TEST_F(FirmwareCommandTest, GetUpdateInfoPrintsTheAnswerVerbatim) {
    std::string answer = updateResponse(200) + "\n  trailing text kept\n";
    startServer(config({textRoute("POST /lm-firmware-update", answer)}));
    ProgramResult r = firmware("get_update_info", "1000");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, answer);
    ASSERT_EQ(server_->requests().size(), 1u);
    EXPECT_EQ(server_->requests()[0].header("X-Lm-Update-Protocol-Version"), "1.0");
}

TEST_F(FirmwareCommandTest, RejectedProductIdContactsNoServer) {
    startServer(config({textRoute("POST /lm-firmware-update", "x")}));
    ProgramResult r = firmware("get_update_info", "abc");
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_EQ(r.out, "LmUpdate: invalid firmware product id is specified!\n");
    EXPECT_TRUE(server_->requests().empty());
}

TEST_F(FirmwareCommandTest, UpdateDownloadsWithASessionIdAndVerifies) {
    ServedFile file = storeAnswer();
    serveFirmware(file);
    ProgramResult r = firmware("UPDATE", "3.1");
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_EQ(root_.read(localFile()), kFirmware);
    auto requests = server_->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(pathOf(requests[0]), "/lm-sessionid");
    EXPECT_EQ(requests[0].header("X-Lm-Update-URL"), "fw/f.bin");
    EXPECT_EQ(requests[1].target, server_->url("/lm-download?path=fw/f.bin"));
    EXPECT_EQ(requests[1].header("X-Lm-Update-SessionID"), "SID42");
    EXPECT_FALSE(requests[1].hasHeader("Range"));
    EXPECT_NE(record("firmware_update.pl").find("--action UPDATE --updatePID "), std::string::npos);
    EXPECT_NE(record("firmware_update.pl")
                  .find("--downloaded_size 0 --total_size " + std::to_string(file.size) +
                        " --version 3.1"),
              std::string::npos);
}

// A refused file goes, or the next run would take it as complete.
TEST_F(FirmwareCommandTest, DigestMismatchRemovesTheFile) {
    serveFirmware(storeAnswer("0123456789abcdef0123456789abcdef"));
    ProgramResult r = firmware("update", "3.1");
    EXPECT_EQ(r.exitStatus, 256 - 14) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(root_.exists(localFile()));
}

TEST_F(FirmwareCommandTest, PartlyDownloadedFileIsResumed) {
    ServedFile file = storeAnswer();
    root_.write(localFile(), std::string(kFirmware).substr(0, 40));
    serveFirmware(file);
    ProgramResult r = firmware("update", "3.1");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(root_.read(localFile()), kFirmware);
    auto requests = server_->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].header("Range"), "bytes=40-");
    // A resumed file starts with a progress report from where it stands.
    std::string reports = record("firmware_update.pl");
    EXPECT_NE(reports.find("--downloaded_size 40 --total_size " + std::to_string(file.size) +
                           " --version 3.1"),
              std::string::npos)
        << reports;
    EXPECT_EQ(reports.find("--downloaded_size 0 "), std::string::npos) << reports;
}

TEST_F(FirmwareCommandTest, CompleteFileIsAcceptedWithoutADownload) {
    ServedFile file = storeAnswer();
    root_.write(localFile(), kFirmware);
    serveFirmware(file);
    ProgramResult r = firmware("update", "3.1");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_FALSE(downloadRequested());
}

// A link planted where the firmware file goes is not written through; the
// firmware is refused before any download and the link goes.
TEST_F(FirmwareCommandTest, PlantedLinkIsRefusedWithoutADownload) {
    serveFirmware(storeAnswer());
    root_.write("victim", "secret", 0600);
    root_.mkdirs("download/9/3_1");
    std::filesystem::create_symlink(root_.file("victim"), root_.file(localFile()));
    ProgramResult r = firmware("update", "3.1");
    EXPECT_EQ(r.exitStatus, 256 - 14) << r.err;
    EXPECT_FALSE(downloadRequested());
    EXPECT_EQ(root_.read("victim"), "secret");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(root_.file(localFile()))));
}

struct StoredCase {
    const char* name;
    std::string stored;  // "" leaves no file
    std::string version;
    int exitStatus;
};

void PrintTo(const StoredCase& c, std::ostream* os) {
    *os << c.name;
}

class FirmwareStoredAnswerTest : public FirmwareCommandTest,
                                 public testing::WithParamInterface<StoredCase> {};

TEST_P(FirmwareStoredAnswerTest, ResultOfTheStoredAnswer) {
    if (GetParam().stored == "announce") {
        storeAnswer();
    } else if (!GetParam().stored.empty()) {
        root_.write("shared_conf/lm-firmware-packages", GetParam().stored);
    }
    serveFirmware(servedFile("f.bin", kFirmware));
    ProgramResult r = firmware("update", GetParam().version);
    EXPECT_EQ(r.exitStatus, GetParam().exitStatus) << r.out << r.err;
    EXPECT_FALSE(downloadRequested());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FirmwareStoredAnswerTest,
    testing::Values(StoredCase{"unknownVersion", "announce", "9.9", 251},
                    StoredCase{"nothingToDo",
                               "<LmUpdateResponse><Result code=\"200\"/>"
                               "</LmUpdateResponse>",
                               "3.1", 0},
                    StoredCase{"missing", "", "3.1", 251},
                    StoredCase{"notWellFormed", "<LmUpdateResponse>", "3.1", 251},
                    StoredCase{"selfUpdateRoot",
                               "<LmSelfUpdateResponse><Result code=\"201\"/>"
                               "</LmSelfUpdateResponse>",
                               "3.1", 251},
                    StoredCase{"noResultCode", "<LmUpdateResponse/>", "3.1", 251}),
    [](const auto& info) { return std::string(info.param.name); });

struct DownloadCase {
    const char* name;
    std::string sessionAnswer;   // of GET /lm-sessionid
    std::string downloadAnswer;  // of GET /lm-download?path=fw/f.bin; "" for the file
    int exitStatus;
    long long bytesLeft;  // size of the local file afterwards, -1 for none
    size_t requests = 2;  // at most, session ids included
};

void PrintTo(const DownloadCase& c, std::ostream* os) {
    *os << c.name;
}

class FirmwareDownloadFailureTest : public FirmwareCommandTest,
                                    public testing::WithParamInterface<DownloadCase> {};

TEST_P(FirmwareDownloadFailureTest, ResultCodeOfTheAnswer) {
    const DownloadCase& c = GetParam();
    ServedFile file = storeAnswer();
    std::string download = c.downloadAnswer.empty() ? fileAnswer(file.path) : c.downloadAnswer;
    startServer(config(
        {{"GET /lm-sessionid", c.sessionAnswer}, {"GET /lm-download?path=fw/f.bin", download}}));
    ProgramResult r = firmware("update", "3.1");
    EXPECT_EQ(r.exitStatus, c.exitStatus) << r.out << r.err;
    EXPECT_EQ(root_.size(localFile()), c.bytesLeft);
    // Every answer ends the operation: no second server; only a cut
    // transfer is tried again.
    EXPECT_LE(server_->requests().size(), c.requests);
}

const char kSessionId[] = R"({"status": 200, "body": "SID42"})";

INSTANTIATE_TEST_SUITE_P(
    Answers, FirmwareDownloadFailureTest,
    testing::Values(
        DownloadCase{"sessionIdRefused", R"({"status": 500, "body": "no"})", "", 256 - 15, -1},
        DownloadCase{"unauthorized", kSessionId, R"({"status": 401, "body": "no"})", 256 - 8, -1},
        DownloadCase{"notFound", kSessionId, R"({"status": 404, "body": "no"})", 256 - 17, -1},
        DownloadCase{"otherStatus", kSessionId, R"({"status": 503, "body": "no"})", 256 - 5, -1},
        DownloadCase{"sizeMismatch", kSessionId,
                     R"({"status": 200, "body": "short", "content_length": 5})", 256 - 5, -1},
        // A body that ends early is resumed in the same run.
        DownloadCase{"shortBody", kSessionId,
                     std::string(R"([{"status": 200, "body": ")") + kFirmware +
                         R"(", "close_after": 10}, {"status": 200, "body": ")" + kFirmware +
                         R"("}])",
                     0, static_cast<long long>(std::string(kFirmware).size()), 4},
        DownloadCase{
            "contentCoded", kSessionId,
            std::string(R"({"status": 200, "body": ")") + kFirmware + R"(", "encoding": "gzip"})",
            256 - 5, -1},
        DownloadCase{"redirectToAnotherScheme", kSessionId,
                     R"({"redirect": "ftp://127.0.0.1/f.bin", "status": 301})", 256 - 5, -1},
        DownloadCase{
            "closeDelimitedIsReadToTheEnd", kSessionId,
            std::string(R"({"status": 200, "body": ")") + kFirmware + R"(", "content_length": -1})",
            0, static_cast<long long>(std::string(kFirmware).size())}),
    [](const auto& info) { return std::string(info.param.name); });

// The mirror is another host by name ("localhost"), though on this machine.
TEST_F(FirmwareCommandTest, MovedFirmwareIsFollowedWithoutIdentifyingHeadersElsewhere) {
    ServedFile file = storeAnswer();
    TestServer mirror(config({fileRoute("GET /f.bin", file)}));
    startServer(
        config({textRoute("GET /lm-sessionid", "SID42"),
                {"GET /lm-download?path=fw/f.bin",
                 "{\"redirect\": " +
                     jsonString("http://localhost:" + std::to_string(mirror.port()) + "/f.bin") +
                     ", \"status\": 307}"}}));
    ProgramResult r = firmware("update", "3.1");
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_EQ(root_.read(localFile()), kFirmware);
    ASSERT_EQ(mirror.requests().size(), 1u);
    EXPECT_FALSE(mirror.requests()[0].hasHeader("X-Lm-Update-SessionID"));
    EXPECT_FALSE(mirror.requests()[0].hasHeader("X-Lm-Update-MAC"));
    EXPECT_EQ(mirror.requests()[0].header("Accept-Encoding"), "identity");
}

// Only the first server is asked for firmware, even when it refuses.
TEST_F(FirmwareCommandTest, GetUpdateInfoAsksOnlyTheFirstServer) {
    startServer(config({textRoute("POST /lm-firmware-update", updateResponse(200))}));
    std::string settings = root_.read("conf/network.xml");
    std::string live = "127.0.0.1:" + std::to_string(server_->port());
    std::string refused = "127.0.0.1:" + std::to_string(closedPort());
    auto at = settings.find("<Server host=\"" + live + "\"");
    ASSERT_NE(at, std::string::npos) << settings;
    settings.insert(at, "<Server host=\"" + refused + "\"/>");
    root_.write("conf/network.xml", settings);

    ProgramResult r = firmware("get_update_info", "");
    EXPECT_EQ(r.exitStatus, 256 - 22) << r.out << r.err;
    EXPECT_EQ(r.out, "") << "no error name is printed";
    EXPECT_TRUE(server_->requests().empty());
}

TEST_F(FirmwareCommandTest, UnknownActionWordIsAUsageError) {
    EXPECT_EQ(firmware("flash", "3.1").exitStatus, 255);
}

}  // namespace
