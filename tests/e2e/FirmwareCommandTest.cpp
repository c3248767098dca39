// LmUpdate --firmware against the test update server: the answer of
// get_update_info, and the download of a stored answer's firmware file.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "UpdateFixture.h"

namespace {

const char kFirmware[] =
    "firmware image bytes, repeated. firmware image bytes, repeated. "
    "firmware image bytes, repeated. firmware image bytes, repeated.";

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

TEST_F(FirmwareCommandTest, DigestMismatchKeepsTheFile) {
    serveFirmware(storeAnswer("0123456789abcdef0123456789abcdef"));
    ProgramResult r = firmware("update", "3.1");
    EXPECT_EQ(r.exitStatus, 256 - 14) << r.err;
    EXPECT_EQ(root_.read(localFile()), kFirmware);
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
}

TEST_F(FirmwareCommandTest, CompleteFileIsAcceptedWithoutADownload) {
    ServedFile file = storeAnswer();
    root_.write(localFile(), kFirmware);
    serveFirmware(file);
    ProgramResult r = firmware("update", "3.1");
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_FALSE(downloadRequested());
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

TEST_F(FirmwareCommandTest, UnknownActionWordIsAUsageError) {
    EXPECT_EQ(firmware("flash", "3.1").exitStatus, 255);
}

}  // namespace
