// Update runs that a signal interrupts: killed outright (reboot, power loss)
// or asked to stop (SIGTERM, SIGINT, SIGHUP) while a package downloads or
// installs.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "UpdateFixture.h"

namespace {

constexpr int kProduct = 5;
constexpr const char* kLocalFile = "download/5/2_0_0_1/p5.zip";

class InterruptedUpdateTest : public UpdateFixture {
protected:
    void SetUp() override {
        UpdateFixture::SetUp();
        registerProduct5();
    }

    ServedFile package(const std::string& script) {
        return makeZip("p5.zip", {{"install", script, 0755}, {"payload", noise(60000)}});
    }

    // The update server announcing file, sent slowly (2000 bytes every 0.1 s)
    // unless fast.
    void serve(const ServedFile& file, bool fast = false) {
        std::string pace = fast ? "" : ", \"chunk_size\": 2000, \"chunk_delay\": 0.1";
        startServer(
            config({textRoute("POST /lm-update",
                              updateResponse(201, packageXml(kProduct, version2001(), "pkg/p5.zip",
                                                             file, "install"))),
                    {"GET /lm-download", fileAnswer(file.path, pace)}}));
    }

    // An update run that gets signal once `ready` (a shell test) holds; the
    // shell's status is the run's exit status (128 + n when killed by n).
    // With toGroup, the run leads a process group of its own and the signal
    // goes to that group, as a terminal's Ctrl-C or a service stop does.
    ProgramResult updateInterrupted(const std::string& signal, const std::string& ready,
                                    bool toGroup = false) {
        // $LM_TEST_EMULATOR is empty natively and qemu-arm in a cross-build,
        // which passes the signal on to the program it runs. setsid does not
        // fork here (a background job does not lead its group).
        std::string script = std::string(toGroup ? "setsid " : "") +
                             "$LM_TEST_EMULATOR \"$0\" \"$@\" & pid=$!; n=0; until " + ready +
                             "; do n=$((n+1)); [ $n -gt 400 ] && break; sleep 0.05; done; kill -" +
                             signal + (toGroup ? " -$pid" : " $pid") + "; wait $pid";
        std::vector<std::string> args{"-c",
                                      script,
                                      lmUpdateExe(),
                                      "--update",
                                      "--id",
                                      std::to_string(kProduct),
                                      "--download-dir",
                                      root_.file("download"),
                                      "--verbose"};
        return runProgram("/bin/sh", args, options());
    }

    // True in the shell once the local file holds at least 4000 bytes.
    std::string downloadUnderWay() const {
        return "[ \"$(stat -c %s " + root_.file(kLocalFile) +
               " 2>/dev/null || echo 0)\" -ge 4000 ]";
    }

    std::vector<RecordedRequest> downloadRequests() const {
        std::vector<RecordedRequest> out;
        for (const RecordedRequest& request : server_->requests()) {
            if (request.path.rfind("/lm-download", 0) == 0) {
                out.push_back(request);
            }
        }
        return out;
    }
};

TEST_F(InterruptedUpdateTest, KilledRunResumesWithARangeRequest) {
    ServedFile file = package(installingScript(root_, "install5", 0));
    serve(file);
    ProgramResult killed = updateInterrupted("KILL", downloadUnderWay());
    EXPECT_EQ(killed.exitStatus, 128 + 9) << killed.err;
    long long have = root_.size(kLocalFile);
    ASSERT_GT(have, 0);
    ASSERT_LT(have, file.size);

    serve(file, true);
    ProgramResult r = update(kProduct);
    EXPECT_EQ(r.exitStatus, 2) << r.err;
    std::vector<RecordedRequest> requests = downloadRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header("Range"), "bytes=" + std::to_string(have) + "-");
    EXPECT_EQ(installedVersion(kProduct), "2.0.0.1");
}

// Bytes kept by a killed run that are not the file's (the file changed
// after its record was written) are thrown away once, in the same run.
TEST_F(InterruptedUpdateTest, WrongKeptBytesAreFetchedAgainFromTheStart) {
    ServedFile file = package(installingScript(root_, "install5", 0));
    serve(file);
    updateInterrupted("KILL", downloadUnderWay());
    long long have = root_.size(kLocalFile);
    ASSERT_GT(have, 1000);
    std::string kept = root_.read(kLocalFile);
    kept[100] = static_cast<char>(~kept[100]);
    root_.write(kLocalFile, kept);

    serve(file, true);
    ProgramResult r = update(kProduct);
    EXPECT_EQ(r.exitStatus, 2) << r.err;
    EXPECT_NE(r.err.find("LmUpdate: resumed file refused (md5 mismatch)"), std::string::npos)
        << r.err;
    std::vector<RecordedRequest> requests = downloadRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].header("Range"), "bytes=" + std::to_string(have) + "-");
    EXPECT_FALSE(requests[1].hasHeader("Range"));
    EXPECT_EQ(installedVersion(kProduct), "2.0.0.1");
}

// What a killed run fetched is counted once: the day's count never passes
// what the server sent, though both runs fetched.
TEST_F(InterruptedUpdateTest, KilledRunCountsItsBytesOnce) {
    ServedFile file = package(installingScript(root_, "install5", 0));
    serve(file);
    ProgramResult set = runProgram(setNetworkExe(), {"-S", "--budget", "100"}, options());
    ASSERT_EQ(set.exitStatus, 0) << set.err;
    updateInterrupted("KILL", downloadUnderWay());
    // The server records an answer once its write fails.
    long long have = root_.size(kLocalFile);
    for (int i = 0; i < 100 && server_->bytesSent() < have; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    int64_t sentBefore = server_->bytesSent();
    ASSERT_GE(sentBefore, have);
    serve(file, true);
    ASSERT_EQ(update(kProduct).exitStatus, 2);
    std::string count = root_.read("conf/lm-byte-count");
    auto at = count.find("bytes=\"");
    ASSERT_NE(at, std::string::npos) << count;
    int64_t counted = std::stoll(count.substr(at + 7));
    EXPECT_LE(counted, sentBefore + server_->bytesSent());
    // Counted at each twentieth of the file: a kill loses at most the last.
    EXPECT_GE(counted, file.size - file.size / 20);
}

class StoppedDownloadTest : public InterruptedUpdateTest,
                            public testing::WithParamInterface<const char*> {};

TEST_P(StoppedDownloadTest, KeepsTheFileAndEndsWithMinusFive) {
    ServedFile file = package(installingScript(root_, "install5", 0));
    serve(file);
    ProgramResult r = updateInterrupted(GetParam(), downloadUnderWay());
    EXPECT_EQ(r.exitStatus, 256 - 5) << r.err;
    EXPECT_EQ(r.out, "EC_LMUPDATE_UPDATE_ERROR\n");
    long long have = root_.size(kLocalFile);
    ASSERT_GT(have, 0);
    ASSERT_LT(have, file.size);
    EXPECT_NE(record("update_status.pl")
                  .find("--action update --id 5 --status stopped --downloaded_size " +
                        std::to_string(have) + " --total_size " + std::to_string(file.size) + "\n"),
              std::string::npos)
        << record("update_status.pl");
    EXPECT_FALSE(root_.exists("record/install5"));
    EXPECT_EQ(installedVersion(kProduct), "1.0.0.0");
    EXPECT_TRUE(root_.exists("conf/lm-partial-files"));

    serve(file, true);
    EXPECT_EQ(update(kProduct).exitStatus, 2);
    ASSERT_EQ(downloadRequests().size(), 1u);
    EXPECT_EQ(downloadRequests()[0].header("Range"), "bytes=" + std::to_string(have) + "-");
}

INSTANTIATE_TEST_SUITE_P(Signals, StoppedDownloadTest, testing::Values("TERM", "INT", "HUP"));

TEST_F(InterruptedUpdateTest, StopDuringInstallWaitsForTheScript) {
    // The script marks its start, takes a while, then installs.
    std::string script = "#!/bin/sh\ntouch " + root_.file("record/started") + "\nsleep 1\n" +
                         installingScript(root_, "install5", 0).substr(10);
    ServedFile file = package(script);
    serve(file, true);
    // The stop goes to the run's whole process group: the script, in a group
    // of its own, does not get it.
    ProgramResult r =
        updateInterrupted("TERM", "[ -e " + root_.file("record/started") + " ]", true);
    // The script ran to its end, the package is recorded as installed, and
    // the write lock was given back.
    EXPECT_NE(r.err.find("installation stopped by signal 15"), std::string::npos) << r.err;
    EXPECT_EQ(r.exitStatus, 2) << r.err;
    EXPECT_TRUE(root_.exists("record/install5"));
    EXPECT_EQ(installedVersion(kProduct), "2.0.0.1");
    EXPECT_NE(record("write_lock.pl").find("--action UNLOCK --pid "), std::string::npos);
}

}  // namespace
