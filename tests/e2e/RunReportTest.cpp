// The run report (ROOT/logs/last-run.json), the metrics file and
// --last-run, from whole update runs against the test update server: the
// class each kind of failure gets, and the bytes of a run against what the
// server counted.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TmpfsMount.h"
#include "UpdateFixture.h"

namespace {

using nlohmann::json;

constexpr const char* kLocalFile = "download/5/2_0_0_1/p5.zip";

class RunReportTest : public UpdateFixture {
protected:
    void SetUp() override {
        UpdateFixture::SetUp();
        registerProduct5();
    }

    // The update run with the resolver's wait cut to one try of a second.
    RunOptions runOptions() const {
        RunOptions run = options();
        run.env.push_back("RES_OPTIONS=timeout:1 attempts:1");
        return run;
    }

    std::vector<std::string> updateArgs(std::vector<std::string> more = {}) const {
        std::vector<std::string> args{
            "--update", "--id", "5", "--download-dir", root_.file("download"), "--verbose"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }

    ProgramResult runUpdate(std::vector<std::string> more = {}) const {
        return runProgram(lmUpdateExe(), updateArgs(std::move(more)), runOptions());
    }

    // An update run sent SIGTERM once 4000 bytes of the package are on disk.
    ProgramResult terminatedUpdate() const {
        std::string ready =
            "[ \"$(stat -c %s " + root_.file(kLocalFile) + " 2>/dev/null || echo 0)\" -ge 4000 ]";
        std::string script = "$LM_TEST_EMULATOR \"$0\" \"$@\" & pid=$!; n=0; until " + ready +
                             "; do n=$((n+1)); [ $n -gt 400 ] && break; sleep 0.05; done; "
                             "kill -TERM $pid; wait $pid";
        std::vector<std::string> args{"-c", script, lmUpdateExe()};
        std::vector<std::string> update = updateArgs();
        args.insert(args.end(), update.begin(), update.end());
        return runProgram("/bin/sh", args, runOptions());
    }

    void setNetwork(std::vector<std::string> args) const {
        args.insert(args.begin(), "-S");
        ProgramResult set = runProgram(setNetworkExe(), args, options());
        ASSERT_EQ(set.exitStatus, 0) << set.out << set.err;
    }

    ServedFile package(int scriptExit, const std::string& payload = "new") {
        return makeZip("p5.zip",
                       {{"install", installingScript(root_, "install5", scriptExit), 0755},
                        {"payload", payload}});
    }

    // The update answer announcing file (with extra DownloadInfo attributes)
    // and the download's answer.
    static std::string routes(const ServedFile& file, const std::string& download,
                              const std::string& attributes = "") {
        std::string xml = packageXml(5, version2001(), "pkg/p5.zip", file, "install");
        xml.replace(xml.find("<DownloadInfo "), 14, "<DownloadInfo " + attributes + " ");
        return config({textRoute("POST /lm-update", updateResponse(201, xml)),
                       {"GET /lm-download?path=pkg/p5.zip", download}});
    }

    // The last run's report, checked against the schema; null when missing.
    json report() const {
        if (!root_.exists("logs/last-run.json")) {
            ADD_FAILURE() << "no run report";
            return json();
        }
        ProgramResult check = checkTool({"validate", root_.file("logs/last-run.json"),
                                         sourcePath("docs/run-report.schema.json")});
        EXPECT_EQ(check.exitStatus, 0) << check.out << check.err;
        return json::parse(root_.read("logs/last-run.json"), nullptr, false);
    }

    static ProgramResult checkTool(std::vector<std::string> args) {
        args.insert(args.begin(), sourcePath("tools/check_run_report.py"));
        return runProgram(LM_TEST_PYTHON, args);
    }

    // The samples of a metrics file, one JSON object each.
    static std::vector<json> samples(const std::string& path) {
        ProgramResult parsed = checkTool({"metrics", path});
        EXPECT_EQ(parsed.exitStatus, 0) << parsed.out << parsed.err;
        std::vector<json> out;
        std::istringstream lines(parsed.out);
        for (std::string line; std::getline(lines, line);) {
            out.push_back(json::parse(line));
        }
        return out;
    }

    // What the server counted, once it has counted at least least: it
    // records an answer after its last write, which the client may have
    // read before.
    int64_t sentBytes(int64_t least) const {
        for (int i = 0; i < 40 && server_->bytesSent() < least; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return server_->bytesSent();
    }

    std::unique_ptr<TestServer> proxy_;
    std::unique_ptr<TmpfsMount> disk_;
};

// --- Failure classes ----------------------------------------------------------

enum class Fault {
    kPortClosed,
    kNoSuchHost,
    kUntrustedCertificate,
    kProxyAuthentication,
    kMissingPackage,
    kDigestMismatch,
    kBadSignature,
    kFullDisk,
    kScriptFails,
    kLockHeld,
    kUnreadableSettings,
    kTerminated,
};

struct FaultCase {
    const char* name;
    Fault fault;
    int exitStatus;
    const char* failureClass;
    const char* reason;  // "" where the class has none
    const char* logged;  // part of a line of the run's log
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class FaultReportTest : public RunReportTest, public testing::WithParamInterface<FaultCase> {
protected:
    // Serves product 5's package with the fault in place; false (the test
    // skipped) where this machine cannot make it.
    bool arrange(Fault fault) {
        std::string payload = fault == Fault::kFullDisk     ? noise(2 << 20)
                              : fault == Fault::kTerminated ? noise(60000)
                                                            : "new";
        ServedFile file = package(fault == Fault::kScriptFails ? 2 : 0, payload);
        std::string download = fileAnswer(file.path);
        std::string attributes;
        switch (fault) {
            case Fault::kUntrustedCertificate: {
                root_.mkdirs("certs");
                TestCertificates certs = makeTestCertificates(root_.file("certs"));
                TestServer::Options tls;
                tls.tlsCert = certs.serverCert;
                tls.tlsKey = certs.serverKey;
                server_ = std::make_unique<TestServer>(routes(file, download), tls);
                setNetwork({"--server", "localhost:" + std::to_string(server_->port()), "--type",
                            "https", "--tls-verify", "system"});
                return true;
            }
            case Fault::kMissingPackage:
                download = answer("no", 404);
                break;
            case Fault::kDigestMismatch:
                file.md5 = "0123456789abcdef0123456789abcdef";
                break;
            case Fault::kBadSignature:
                attributes = signatureOfOtherVersion(file);
                break;
            case Fault::kFullDisk:
                disk_ = std::make_unique<TmpfsMount>(root_.file("download"), "1m");
                if (!disk_->mounted()) {
                    return false;
                }
                break;
            case Fault::kLockHeld:
                root_.write("lock-exit", "2");
                break;
            case Fault::kTerminated:
                download = fileAnswer(file.path, ", \"chunk_size\": 2000, \"chunk_delay\": 0.1");
                break;
            default:
                break;
        }
        startServer(routes(file, download, attributes));
        std::string port = std::to_string(server_->port());
        if (fault == Fault::kPortClosed) {
            server_.reset();
        } else if (fault == Fault::kNoSuchHost) {
            setNetwork({"--server", "lmupdate-test.invalid:" + port, "--type", "http"});
        } else if (fault == Fault::kProxyAuthentication) {
            TestServer::Options asking;
            asking.proxyAuth = "user:secret";
            proxy_ = std::make_unique<TestServer>("{}", asking);
            setNetwork({"--type", "http", "--isUsingProxy", "1", "--proxyserver", "127.0.0.1",
                        "--proxyport", std::to_string(proxy_->port())});
        } else if (fault == Fault::kUnreadableSettings) {
            // Root reads any file: a directory in its place is what no one can read.
            root_.remove("conf/network.xml");
            root_.mkdirs("conf/network.xml");
        }
        return true;
    }

    // The signature attributes of a trusted key, made for another version
    // than the one announced.
    std::string signatureOfOtherVersion(const ServedFile& file) {
        std::string key = root_.file("signer.key");
        std::string pub = root_.file("signer.pub");
        EXPECT_EQ(runProgram("/usr/bin/openssl", {"genpkey", "-algorithm", "ED25519", "-out", key})
                      .exitStatus,
                  0);
        root_.write("conf/lm-signing-key.pem",
                    runProgram("/usr/bin/openssl", {"pkey", "-in", key, "-pubout"}).out);
        ProgramResult signature = runProgram(sourcePath("scripts/sign-package"),
                                             {file.path, key, "5", "9.9.9", "zip", "install", ""});
        EXPECT_EQ(signature.exitStatus, 0) << signature.err;
        return signature.out.substr(0, signature.out.find('\n'));
    }
};

TEST_P(FaultReportTest, ReportNamesTheFailure) {
    const FaultCase& c = GetParam();
    if (!arrange(c.fault)) {
        GTEST_SKIP() << "a small download file system needs root and tmpfs: " << disk_->error();
    }
    ProgramResult r = c.fault == Fault::kTerminated ? terminatedUpdate() : runUpdate();
    EXPECT_EQ(r.exitStatus, c.exitStatus) << r.out << r.err;
    EXPECT_NE(r.err.find(c.logged), std::string::npos) << r.err;

    json doc = report();
    ASSERT_TRUE(doc.is_object());
    EXPECT_EQ(doc.value("exit_status", -1), r.exitStatus);
    EXPECT_FALSE(doc.value("success", true));
    std::vector<json> failures{doc.value("failure", json())};
    for (const json& product : doc.value("products", json::array())) {
        failures.push_back(product.value("failure", json()));
    }
    // The run's failure first, then each product's.
    for (const json& failure : failures) {
        ASSERT_TRUE(failure.is_object()) << "a failure without its class: " << doc.dump();
        EXPECT_EQ(failure.value("class", ""), c.failureClass) << doc.dump();
        if (*c.reason) {
            EXPECT_EQ(failure.value("reason", ""), c.reason) << doc.dump();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultReportTest,
    testing::Values(
        FaultCase{"portClosed", Fault::kPortClosed, 256 - 5, "network", "",
                  "failed: EC_CONNECT_REFUSED"},
        FaultCase{"noSuchHost", Fault::kNoSuchHost, 256 - 5, "dns", "", "failed: EC_INVALID_HOST"},
        FaultCase{"untrustedCertificate", Fault::kUntrustedCertificate, 256 - 5, "tls", "",
                  "LmUpdate: cannot verify update server localhost:"},
        FaultCase{"proxyAuthentication", Fault::kProxyAuthentication, 256 - 5, "proxy", "",
                  "LmUpdate: proxy authentication failed (407)"},
        FaultCase{"missingPackage", Fault::kMissingPackage, 256 - 5, "http-status", "404",
                  "Download 'Product 5' failed with code 404"},
        FaultCase{"digestMismatch", Fault::kDigestMismatch, 256 - 5, "package-refused", "digest",
                  "LmUpdate: package refused: pkg/p5.zip: md5 mismatch"},
        FaultCase{"badSignature", Fault::kBadSignature, 256 - 5, "package-refused", "signature",
                  "LmUpdate: package refused: pkg/p5.zip: bad signature"},
        FaultCase{"fullDisk", Fault::kFullDisk, 256 - 5, "disk", "",
                  "pkg/p5.zip: not enough disk space: "},
        FaultCase{"scriptFails", Fault::kScriptFails, 256 - 6, "script", "",
                  "Install6 Product 5 (2.0.0.1) failed"},
        FaultCase{"lockHeld", Fault::kLockHeld, 256 - 12, "lock", "", "lock exit code: 2"},
        FaultCase{"unreadableSettings", Fault::kUnreadableSettings, 256 - 5, "config", "",
                  "LmUpdate: read server settings failed"},
        FaultCase{"terminated", Fault::kTerminated, 256 - 5, "stopped", "", "signal 15"}),
    [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// --- Bytes and metrics of a successful run ---------------------------------

// The label value a product's version gives: a quote and a backslash that
// the text format must escape.
constexpr const char* kOddVersion = "R\"6\\x";

const json::json_pointer kTotalFetched("/totals/bytes_fetched");

TEST_F(RunReportTest, BytesAndMetricsMatchWhatTheServerSent) {
    ProgramResult registered = lmUpdate({"--register", "--id", "6", "--name", "prod6", "--path",
                                         root_.file("opt/prod6"), "--version", kOddVersion});
    ASSERT_EQ(registered.exitStatus, 0) << registered.out << registered.err;
    ServedFile file = package(0, noise(300 * 1024));
    startServer(routes(file, fileAnswer(file.path)));
    std::string metrics = root_.file("metrics.prom");

    ProgramResult first = runUpdate({"--metrics-file", metrics});
    ASSERT_EQ(first.exitStatus, 2) << first.out << first.err;
    json doc = report();
    ASSERT_TRUE(doc.is_object());
    int64_t fetched = doc.value("bytes_fetched", int64_t{-1});
    EXPECT_GT(fetched, file.size);
    EXPECT_EQ(fetched, sentBytes(fetched));
    int64_t total = doc.value(kTotalFetched, int64_t{-1});
    EXPECT_EQ(total, fetched);

    std::vector<json> parsed = samples(metrics);
    auto value = [&](const std::string& name) {
        for (const json& sample : parsed) {
            if (sample.value("name", "") == name) {
                return sample.value("value", -1.0);
            }
        }
        ADD_FAILURE() << "no sample " << name;
        return -1.0;
    };
    EXPECT_EQ(value("lmupdate_last_exit_status"), first.exitStatus);
    EXPECT_EQ(value("lmupdate_fetched_bytes_total"), static_cast<double>(total));
    json odd = {{"name", "lmupdate_product_info"},
                {"labels", {{"id", "6"}, {"version", kOddVersion}}},
                {"value", 1.0}};
    EXPECT_NE(std::find(parsed.begin(), parsed.end(), odd), parsed.end())
        << root_.read("metrics.prom");

    // The next run, up to date, adds its own bytes to the totals.
    int64_t sentBefore = server_->bytesSent();
    server_->setConfig(config({textRoute("POST /lm-update", updateResponse(200))}));
    ASSERT_EQ(runUpdate().exitStatus, 0);
    json next = report();
    ASSERT_TRUE(next.is_object());
    int64_t more = next.value("bytes_fetched", int64_t{-1});
    EXPECT_EQ(more, sentBytes(sentBefore + more) - sentBefore);
    EXPECT_EQ(next.value(kTotalFetched, int64_t{-1}), total + more);
}

TEST_F(RunReportTest, UnwritableMetricsFileCostsOneLine) {
    startServer(config({textRoute("POST /lm-update", updateResponse(200))}));
    std::string metrics = root_.file("no-such-dir/metrics.prom");
    ProgramResult r = runUpdate({"--metrics-file", metrics});
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("LmUpdate: cannot write metrics: " + metrics + ": "), std::string::npos)
        << r.err;
    EXPECT_TRUE(report().is_object());
}

// --- --last-run -----------------------------------------------------------------

TEST_F(RunReportTest, LastRunShowsTheReportOrSaysWhyNot) {
    ProgramResult none = lmUpdate({"--last-run"});
    EXPECT_EQ(none.exitStatus, 255);
    EXPECT_EQ(
        none.err.rfind("LmUpdate: no run report: " + root_.file("logs/last-run.json") + ": ", 0),
        0u)
        << none.err;

    startServer(config({textRoute("POST /lm-update", updateResponse(200))}));
    ASSERT_EQ(runUpdate().exitStatus, 0);
    ProgramResult shown = lmUpdate({"--last-run", "--json"});
    EXPECT_EQ(shown.exitStatus, 0) << shown.err;
    EXPECT_EQ(json::parse(shown.out, nullptr, false), report()) << shown.out;
}

}  // namespace
