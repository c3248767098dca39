// The scheduled update stopped as systemd stops its service with
// KillMode=mixed: SIGTERM to the wrapper alone, then SIGKILL to all that is
// left once the wrapper has ended or the stop time-out has passed.
#include <gtest/gtest.h>

#include <string>

#include "UpdateFixture.h"

namespace {

constexpr int kStopTimeoutSeconds = 5;

class ScheduledStopTest : public UpdateFixture {
protected:
    void SetUp() override {
        UpdateFixture::SetUp();
        for (const char* id : {"5", "6"}) {
            ProgramResult r =
                lmUpdate({"--register", "--id", id, "--name", "prod", "--path",
                          root_.file(std::string("opt/prod") + id), "--version", "1.0.0.0"});
            ASSERT_EQ(r.exitStatus, 0) << r.out;
        }
        // The wrapper starts LmUpdate by this path, through the emulator if any.
        root_.write("lmupdate", "#!/bin/sh\nexec $LM_TEST_EMULATOR " + lmUpdateExe() + " \"$@\"\n",
                    0755);
    }

    // The updater (1000) is up to date; product 5 gets a package whose
    // install script marks its start and then waits for ROOT/release.
    void serveWaitingPackage() {
        std::string script = "#!/bin/sh\ntouch " + root_.file("record/started") +
                             "\nn=0; until [ -e " + root_.file("release") +
                             " ] || [ $n -ge 200 ]; do n=$((n+1)); sleep 0.05; done\n" +
                             installingScript(root_, "install5", 0).substr(10);
        ServedFile file = makeZip("p5.zip", {{"install", script, 0755}, {"payload", "data"}});
        std::string package = packageXml(5, version2001(), "pkg/p5.zip", file, "install");
        startServer(config({textRoute("POST /lm-self-update", updateResponse(200)),
                            textRoute("POST /lm-update", updateResponse(201, package)),
                            fileRoute("GET /lm-download", file)}));
    }

    // Runs the wrapper in a process group of its own; once the install
    // script has started, stops it as systemd does, and releases the script
    // a moment later: a wrapper that ends at once has its group killed
    // first. The shell's status is the wrapper's.
    ProgramResult stopDuringInstall() const {
        std::string script =
            "setsid sh \"$0\" & w=$!\n"
            "n=0; until [ -e " +
            root_.file("record/started") +
            " ] || [ $n -ge 400 ]; do n=$((n+1)); sleep 0.05; done\n"
            "kill -TERM $w\n"
            "(sleep 0.3; : >" +
            root_.file("release") +
            ") >/dev/null 2>&1 &\n"
            "(sleep " +
            std::to_string(scaledSeconds(kStopTimeoutSeconds)) +
            "; kill -KILL -- -$w) >/dev/null 2>&1 & watchdog=$!\n"
            "wait $w; status=$?\n"
            "kill -KILL -- -$w 2>/dev/null; kill $watchdog 2>/dev/null\n"
            "exit $status\n";
        RunOptions run = options();
        run.env.push_back("LMUPDATE=" + root_.file("lmupdate"));
        run.env.push_back("LMUPDATE_LOCK=" + root_.file("lmupdate.lock"));
        run.env.push_back("LMUPDATE_OPTIONS=--download-dir " + root_.file("download"));
        return runProgram("/bin/sh", {"-c", script, LM_BINARY_DIR "/packaging/lmupdate-scheduled"},
                          run);
    }

    int updateRequests() const {
        int count = 0;
        for (const RecordedRequest& request : server_->requests()) {
            count += request.method == "POST" && request.path == "/lm-update" ? 1 : 0;
        }
        return count;
    }
};

TEST_F(ScheduledStopTest, RunningInstallScriptFinishesAndIsRecorded) {
    serveWaitingPackage();
    ProgramResult r = stopDuringInstall();
    // The wrapper ended by itself, with the stopped run's status.
    ASSERT_EQ(r.signal, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("product 5: LmUpdate --update exited with status " +
                         std::to_string(r.exitStatus) + "\n"),
              std::string::npos)
        << r.out << r.err;
    EXPECT_NE(r.exitStatus, 128 + 9) << r.out << r.err;
    EXPECT_TRUE(root_.exists("opt/prod5/payload"));
    EXPECT_EQ(installedVersion(5), "2.0.0.1");
    // Product 6 was not started.
    EXPECT_EQ(updateRequests(), 1);
}

}  // namespace
