// Update runs over verified TLS, with signed packages and checked server
// lists, against the test update server; certificates and keys are made at
// test time.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ostream>
#include <string>
#include <vector>

#include "UpdateFixture.h"

namespace {

const char kOpenssl[] = "/usr/bin/openssl";

// Runs openssl with args; a failure fails the test.
void openssl(const std::vector<std::string>& args) {
    ProgramResult r = runProgram(kOpenssl, args);
    ASSERT_EQ(r.exitStatus, 0) << "openssl " << args[0] << ": " << r.err;
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

struct KeyPair {
    std::string privateKey;
    std::string publicKey;
};

class SecureUpdateTest : public UpdateFixture {
protected:
    void SetUp() override {
        UpdateFixture::SetUp();
        root_.mkdirs("certs");
        certs_ = makeTestCertificates(root_.file("certs"));
        registerProduct5();
    }

    // A certificate for name (and its SAN) from the test CA, or self-signed.
    std::pair<std::string, std::string> issue(const std::string& name, const std::string& san,
                                              bool selfSigned) {
        std::string base = root_.file("certs/" + name + (selfSigned ? "-self" : ""));
        std::string ext = base + ".ext";
        root_.write("certs/" + name + (selfSigned ? "-self" : "") + ".ext",
                    "subjectAltName=" + san + "\nextendedKeyUsage=serverAuth\n");
        if (selfSigned) {
            openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", base + ".key",
                     "-out", base + ".pem", "-days", "30", "-subj", "/CN=" + name, "-addext",
                     "subjectAltName=" + san});
        } else {
            openssl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", base + ".key", "-out",
                     base + ".csr", "-subj", "/CN=" + name});
            openssl({"x509", "-req", "-in", base + ".csr", "-CA", certs_.caCert, "-CAkey",
                     certs_.caKey, "-CAcreateserial", "-out", base + ".pem", "-days", "30",
                     "-extfile", ext});
        }
        return {base + ".pem", base + ".key"};
    }

    // The update server over TLS with cert and key, set as the only server
    // (by host) with type https and the verify mode (none when empty).
    void startTlsServer(const std::string& config, const std::string& cert, const std::string& key,
                        const std::string& host, const std::string& verify) {
        TestServer::Options tls;
        tls.tlsCert = cert;
        tls.tlsKey = key;
        server_ = std::make_unique<TestServer>(config, tls);
        entry_ = host + ":" + std::to_string(server_->port());
        std::vector<std::string> args{"-S", "--server", entry_, "--type", "https"};
        if (!verify.empty()) {
            args.insert(args.end(), {"--tls-verify", verify});
        }
        ProgramResult set = runProgram(setNetworkExe(), args, options());
        ASSERT_EQ(set.exitStatus, 0) << set.out << set.err;
    }

    std::string upToDate() const {
        return config({textRoute("POST /lm-update", updateResponse(200))});
    }

    // A signing key pair of the given openssl genpkey arguments.
    KeyPair makeKey(const std::string& name, const std::vector<std::string>& genpkey) {
        KeyPair pair{root_.file("certs/" + name + ".key"), root_.file("certs/" + name + ".pub")};
        std::vector<std::string> args{"genpkey"};
        args.insert(args.end(), genpkey.begin(), genpkey.end());
        args.insert(args.end(), {"-out", pair.privateKey});
        openssl(args);
        openssl({"pkey", "-in", pair.privateKey, "-pubout", "-out", pair.publicKey});
        return pair;
    }

    void trustKey(const KeyPair& key) {
        root_.write("conf/lm-signing-key.pem", readFile(key.publicKey));
    }

    static std::string readFile(const std::string& path) {
        return runProgram("/bin/cat", {path}).out;
    }

    // The sha256 and signature attributes scripts/sign-package gives for
    // product id at version.
    static std::string signature(const ServedFile& file, const KeyPair& key,
                                 const std::string& installScript, int id = 5,
                                 const std::string& version = "2.0.0.1") {
        ProgramResult r = runProgram(
            sourcePath("scripts/sign-package"),
            {file.path, key.privateKey, std::to_string(id), version, "zip", installScript, ""});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        return r.out.substr(0, r.out.find('\n'));
    }

    // Product id's package at version with extra DownloadInfo attributes.
    static std::string signedPackageXml(const ServedFile& file, const std::string& attributes,
                                        const std::string& installScript = "install", int id = 5,
                                        const std::string& version = "2.0.0.1") {
        std::string xml = packageXml(id, "<ExtVersionInfo version=\"" + version + "\"/>",
                                     "pkg/p5.zip", file, installScript);
        xml.replace(xml.find("<DownloadInfo "), 14, "<DownloadInfo " + attributes + " ");
        return xml;
    }

    ServedFile package() {
        return makeZip("p5.zip", {{"install", installingScript(root_, "install5", 0), 0755},
                                  {"payload", "new"}});
    }

    // Nothing of a refused package of product 5 stays behind.
    void expectNothingLeft(const std::string& inventoryBefore, int id = 5) {
        EXPECT_FALSE(root_.exists("download/" + std::to_string(id)));
        std::string partial = root_.exists("conf/lm-partial-files")
                                  ? root_.read("conf/lm-partial-files")
                                  : std::string();
        EXPECT_EQ(partial.find("id=\"" + std::to_string(id) + "\""), std::string::npos) << partial;
        EXPECT_EQ(root_.read("conf/lm-inventory"), inventoryBefore);
        EXPECT_FALSE(root_.exists("record/install5"));
    }

    TestCertificates certs_;
    std::string entry_;
};

// --- Server verification ----------------------------------------------------

enum class ServerCert { kFromCa, kSelfSigned, kOtherHost };
enum class Verify { kSystem, kCa, kMissingCa, kNone };

struct VerifyCase {
    const char* name;
    ServerCert cert;
    Verify verify;
    bool connects;
    const char* reason;  // in the stderr line when it does not connect
};

void PrintTo(const VerifyCase& c, std::ostream* out) {
    *out << c.name;
}

class ServerVerifyTest : public SecureUpdateTest, public testing::WithParamInterface<VerifyCase> {};

TEST_P(ServerVerifyTest, ConnectsOnlyWhenTheCheckPasses) {
    const VerifyCase& c = GetParam();
    std::pair<std::string, std::string> cert{certs_.serverCert, certs_.serverKey};
    if (c.cert == ServerCert::kSelfSigned) {
        cert = issue("localhost", "DNS:localhost", true);
    } else if (c.cert == ServerCert::kOtherHost) {
        cert = issue("other.example", "DNS:other.example", false);
    }
    std::string verify = c.verify == Verify::kSystem ? "system"
                         : c.verify == Verify::kNone ? "none"
                                                     : root_.file("certs/copy-of-ca.pem");
    root_.write("certs/copy-of-ca.pem", readFile(certs_.caCert));
    startTlsServer(upToDate(), cert.first, cert.second, "localhost", verify);
    if (c.verify == Verify::kMissingCa) {
        root_.remove("certs/copy-of-ca.pem");
    }

    ProgramResult r = update(5);
    std::string line = "LmUpdate: cannot verify update server " + entry_ + ": ";
    if (c.connects) {
        EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
        EXPECT_EQ(r.err.find(line), std::string::npos) << r.err;
        EXPECT_EQ(server_->requests().size(), 1u);
    } else {
        EXPECT_EQ(r.exitStatus, 256 - 5) << r.out << r.err;
        EXPECT_EQ(occurrences(r.err, line + c.reason), 1u) << r.err;
        EXPECT_TRUE(server_->requests().empty());
    }
    bool warned = r.err.find("LmUpdate: TLS verification is off for " + entry_ +
                             " (ssl.verify none)") != std::string::npos;
    EXPECT_EQ(warned, c.verify == Verify::kNone) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ServerVerifyTest,
    testing::Values(VerifyCase{"SystemStoreRefusesSelfSigned", ServerCert::kSelfSigned,
                               Verify::kSystem, false, "self-signed certificate"},
                    VerifyCase{"RightCaPasses", ServerCert::kFromCa, Verify::kCa, true, ""},
                    VerifyCase{"OtherHostOfTheRightCa", ServerCert::kOtherHost, Verify::kCa, false,
                               "hostname mismatch"},
                    VerifyCase{"MissingCaFile", ServerCert::kFromCa, Verify::kMissingCa, false,
                               "cannot read CA "},
                    VerifyCase{"VerifyNoneConnects", ServerCert::kSelfSigned, Verify::kNone, true,
                               ""}),
    [](const testing::TestParamInfo<VerifyCase>& info) { return info.param.name; });

// Without --verbose the refusal is still on standard error.
TEST_F(SecureUpdateTest, RefusalIsReportedWithoutVerbose) {
    std::pair<std::string, std::string> cert = issue("localhost", "DNS:localhost", true);
    startTlsServer(upToDate(), cert.first, cert.second, "localhost", "system");
    ProgramResult r = lmUpdate({"--update", "--id", "5", "--download-dir", root_.file("download")});
    EXPECT_EQ(r.exitStatus, 256 - 5);
    EXPECT_EQ(occurrences(r.err, "LmUpdate: cannot verify update server " + entry_ +
                                     ": self-signed certificate"),
              1u)
        << r.err;
}

// --- SNI --------------------------------------------------------------------

TEST_F(SecureUpdateTest, ServerNameIsSentForANameAndNotForAnAddress) {
    startTlsServer(upToDate(), certs_.serverCert, certs_.serverKey, "localhost", certs_.caCert);
    ASSERT_EQ(update(5).exitStatus, 0);
    runProgram(setNetworkExe(), {"-S", "--server", "127.0.0.1:" + std::to_string(server_->port())},
               options());
    ASSERT_EQ(update(5).exitStatus, 0);
    auto requests = server_->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].sni, "localhost");
    EXPECT_EQ(requests[1].sni, "");
}

TEST_F(SecureUpdateTest, ServerNameGoesThroughTheProxyTunnel) {
    startTlsServer(upToDate(), certs_.serverCert, certs_.serverKey, "localhost", certs_.caCert);
    TestServer::Options proxyOptions;
    proxyOptions.proxy = true;
    TestServer proxy("{}", proxyOptions);
    ProgramResult set =
        runProgram(setNetworkExe(),
                   {"-S", "--server", entry_, "--isUsingProxy", "1", "--proxyserver", "127.0.0.1",
                    "--proxyport", std::to_string(proxy.port())},
                   options());
    ASSERT_EQ(set.exitStatus, 0) << set.out;
    ProgramResult r = update(5);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(proxy.requests()[0].method, "CONNECT");
    ASSERT_EQ(server_->requests().size(), 1u);
    EXPECT_EQ(server_->requests()[0].sni, "localhost");
}

// --- Signed packages --------------------------------------------------------

struct KeyCase {
    const char* name;
    std::vector<std::string> genpkey;
};

void PrintTo(const KeyCase& c, std::ostream* out) {
    *out << c.name;
}

class SignedPackageTest : public SecureUpdateTest, public testing::WithParamInterface<KeyCase> {};

// Without a key the package installs unchecked, and standard error says so.
TEST_P(SignedPackageTest, Installs) {
    bool keyed = !GetParam().genpkey.empty();
    ServedFile file = package();
    std::string attributes;
    if (keyed) {
        KeyPair key = makeKey("signer", GetParam().genpkey);
        trustKey(key);
        attributes = signature(file, key, "install");
    }
    startServer(config(
        {textRoute("POST /lm-update", updateResponse(201, signedPackageXml(file, attributes))),
         fileRoute("GET /lm-download?path=pkg/p5.zip", file)}));
    ProgramResult r = update(5);
    EXPECT_EQ(r.exitStatus, 2) << r.out << r.err;
    EXPECT_TRUE(root_.exists("record/install5"));
    const std::string unchecked =
        "LmUpdate: warning: installing 5 2.0.0.1 without a signature "
        "check: no signing key configured\n";
    EXPECT_EQ(occurrences(r.err, unchecked), keyed ? 0u : 1u) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, SignedPackageTest,
    testing::Values(KeyCase{"NoKey", {}},
                    KeyCase{"Rsa", {"-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048"}},
                    KeyCase{"EcdsaP256",
                            {"-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256"}},
                    KeyCase{"Ed25519", {"-algorithm", "ED25519"}}),
    [](const testing::TestParamInfo<KeyCase>& info) { return info.param.name; });

// kOlder, kReplayed and kOtherProduct are validly signed: not newer than
// what is installed, or not asked for.
enum class Tamper { kUnsigned, kOtherKey, kMetadata, kFile, kOlder, kReplayed, kOtherProduct };

struct TamperCase {
    const char* name;
    Tamper tamper;
    const char* reason;
};

void PrintTo(const TamperCase& c, std::ostream* out) {
    *out << c.name;
}

class RefusedPackageTest : public SecureUpdateTest,
                           public testing::WithParamInterface<TamperCase> {};

TEST_P(RefusedPackageTest, LeavesNothingBehind) {
    const TamperCase& c = GetParam();
    std::vector<std::string> ec{"-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256"};
    KeyPair key = makeKey("signer", ec);
    trustKey(key);
    ServedFile file = package();
    int id = c.tamper == Tamper::kOtherProduct ? 6 : 5;
    std::string version = c.tamper == Tamper::kOlder ? "1.0.0" : "2.0.0.1";
    std::string attributes = signature(file, key, "install", id, version);
    std::string installScript = "install";
    if (c.tamper == Tamper::kOlder) {
        ASSERT_EQ(lmUpdate({"--register", "--id", "5", "--name", "prod5", "--path",
                            root_.file("opt/prod5"), "--version", "2.1.3.0"})
                      .exitStatus,
                  0);
    } else if (c.tamper == Tamper::kUnsigned) {
        attributes = "";
    } else if (c.tamper == Tamper::kOtherKey) {
        attributes = signature(file, makeKey("intruder", ec), "install");
    } else if (c.tamper == Tamper::kMetadata) {
        installScript = "payload";
    } else if (c.tamper == Tamper::kFile) {
        file = servedFile("p5.zip", "not the signed archive");
    }
    startServer(
        config({textRoute("POST /lm-update",
                          updateResponse(
                              201, signedPackageXml(file, attributes, installScript, id, version))),
                fileRoute("GET /lm-download?path=pkg/p5.zip", file)}));
    if (c.tamper == Tamper::kReplayed) {
        ASSERT_EQ(update(5).exitStatus, 2);
        root_.remove("record/install5");
    }
    std::string inventory = root_.read("conf/lm-inventory");
    ProgramResult r = update(5);
    EXPECT_EQ(r.exitStatus, 256 - 5) << r.out << r.err;
    EXPECT_NE(r.out.find("EC_LMUPDATE_PACKAGE_ERROR\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("LmUpdate: package refused: pkg/p5.zip: " + std::string(c.reason)),
              std::string::npos)
        << r.err;
    expectNothingLeft(inventory, id);
}

INSTANTIATE_TEST_SUITE_P(
    Tampering, RefusedPackageTest,
    testing::Values(
        TamperCase{"Unsigned", Tamper::kUnsigned, "no sha256"},
        TamperCase{"WrongKey", Tamper::kOtherKey, "bad signature"},
        TamperCase{"TamperedMetadata", Tamper::kMetadata, "bad signature"},
        TamperCase{"TamperedFile", Tamper::kFile, "sha256 mismatch"},
        TamperCase{"OlderThanInstalled", Tamper::kOlder, "not newer than the installed 2.1.3.0"},
        TamperCase{"Replayed", Tamper::kReplayed, "not newer than the installed 2.0.0.1"},
        TamperCase{"OtherProduct", Tamper::kOtherProduct, "not requested"}),
    [](const testing::TestParamInfo<TamperCase>& info) { return info.param.name; });

TEST_F(SecureUpdateTest, UnusableSigningKeyRefusesEveryPackage) {
    root_.write("conf/lm-signing-key.pem", "not a key\n");
    ServedFile file = package();
    startServer(
        config({textRoute("POST /lm-update", updateResponse(201, signedPackageXml(file, ""))),
                fileRoute("GET /lm-download?path=pkg/p5.zip", file)}));
    ProgramResult r = update(5);
    EXPECT_EQ(r.exitStatus, 256 - 5);
    EXPECT_NE(r.err.find("LmUpdate: signing key unusable: " +
                         root_.file("conf/lm-signing-key.pem") + ": "),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(root_.exists("download/5"));
}

// Whoever may rewrite the key could sign anything: the run refuses before it
// asks a server.
TEST_F(SecureUpdateTest, SigningKeyOthersMayWriteRefusesTheRun) {
    trustKey(makeKey("signer", {"-algorithm", "ED25519"}));
    std::string key = root_.file("conf/lm-signing-key.pem");
    ASSERT_EQ(chmod(key.c_str(), 0666), 0);
    startServer(upToDate());
    ProgramResult r = update(5);
    EXPECT_EQ(r.exitStatus, 256 - 12) << r.out << r.err;
    EXPECT_EQ(
        occurrences(r.err, "LmUpdate: unsafe path: " + key + ": writable by group or others\n"), 1u)
        << r.err;
    EXPECT_TRUE(server_->requests().empty());
}

// --- Package urls -----------------------------------------------------------

// The update server on 127.0.0.1 over HTTP (with --plain), the package on
// "localhost" over TLS: another host.
class AbsoluteUrlTest : public SecureUpdateTest {
protected:
    void SetUp() override {
        SecureUpdateTest::SetUp();
        ServedFile file = package();
        TestServer::Options tls;
        tls.tlsCert = certs_.serverCert;
        tls.tlsKey = certs_.serverKey;
        files_ = std::make_unique<TestServer>(config({fileRoute("GET /pkg/p5.zip", file)}), tls);
        std::string url = "https://localhost:" + std::to_string(files_->port()) + "/pkg/p5.zip";
        std::string answer =
            updateResponse(201, packageXml(5, version2001(), url, file, "install"));
        startServer(config(
            {textRoute("POST /lm-update", answer), textRoute("GET /lm-sessionid", "sid-1")}));
        ASSERT_EQ(runProgram(setNetworkExe(), {"-S", "--tls-verify", certs_.caCert}, options())
                      .exitStatus,
                  0);
        result_ = update(5, {"--plain"});
    }

    std::unique_ptr<TestServer> files_;
    ProgramResult result_;
};

TEST_F(AbsoluteUrlTest, HttpsUrlGoesOverTls) {
    EXPECT_EQ(result_.exitStatus, 2) << result_.out << result_.err;
    auto requests = files_->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].tls);
}

// The one request server got carried nothing that identifies the appliance.
void expectAnonymousDownload(const TestServer& server) {
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    for (const char* name : {"X-Lm-Update-MAC", "X-Lm-Update-SerialNo", "X-Lm-Update-ProductId",
                             "X-Lm-Update-ProductVersion", "X-Lm-Update-SessionID"}) {
        EXPECT_FALSE(requests[0].hasHeader(name)) << name;
    }
}

TEST_F(AbsoluteUrlTest, NoIdentifyingHeaderReachesAForeignHost) {
    expectAnonymousDownload(*files_);
    EXPECT_EQ(result_.exitStatus, 2) << result_.err;
}

// An http:// URL on the update server's own host under https settings: the
// package still installs (the verified answer's digest vouches for it), but
// nothing identifying goes over the plain connection.
TEST_F(SecureUpdateTest, HttpPackageUnderHttpsGoesWithoutIdentity) {
    ServedFile file = package();
    TestServer files(config({fileRoute("GET /pkg/p5.zip", file)}));
    std::string url = "http://localhost:" + std::to_string(files.port()) + "/pkg/p5.zip";
    startTlsServer(
        config({textRoute("POST /lm-update",
                          updateResponse(201, packageXml(5, version2001(), url, file, "install"))),
                textRoute("GET /lm-sessionid", "sid-1")}),
        certs_.serverCert, certs_.serverKey, "localhost", certs_.caCert);
    ProgramResult r = update(5);
    EXPECT_EQ(r.exitStatus, 2) << r.out << r.err;
    EXPECT_TRUE(root_.exists("record/install5"));
    EXPECT_EQ(occurrences(r.err, "LmUpdate: warning: package over plain HTTP: " + url + "\n"), 1u)
        << r.err;
    expectAnonymousDownload(files);
}

// --- Server lists and migration ---------------------------------------------

TEST_F(SecureUpdateTest, MalformedRedirectListLeavesTheSettingsByteForByte) {
    startServer(config({textRoute(
        "POST /lm-update",
        "<?xml version=\"1.0\"?><LmUpdateResponse><Result code=\"210\" status=\"ok\"/>"
        "<ServerList><Server host=\"user:pw@host/x?y=\"/></ServerList></LmUpdateResponse>")}));
    std::string before = root_.read("conf/network.xml");
    ProgramResult r = update(5);
    EXPECT_EQ(r.exitStatus, 256 - 5) << r.err;
    EXPECT_NE(r.out.find("EC_LMUPDATE_UPDATE_ERROR\n"), std::string::npos) << r.out;
    EXPECT_EQ(root_.read("conf/network.xml"), before);
}

TEST_F(SecureUpdateTest, PreviousReleaseSettingsWithTlsVerifyUpdate) {
    TestServer::Options tls;
    tls.tlsCert = certs_.serverCert;
    tls.tlsKey = certs_.serverKey;
    server_ = std::make_unique<TestServer>(upToDate(), tls);
    root_.write("conf/network.xml",
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<LmNetClientSettings>\n"
                "<ServerList type=\"https\" isUsingProxy=\"0\" proxy=\"\" proxyuser=\"\" "
                "timeout=\"30\" mac=\"00:11:22:33:44:55\">\n<Server host=\"localhost:" +
                    std::to_string(server_->port()) +
                    "\"/>\n</ServerList>\n<OriginalServerList>\n<Server host=\"localhost\"/>\n"
                    "</OriginalServerList>\n</LmNetClientSettings>\n");
    ProgramResult set =
        runProgram(setNetworkExe(), {"-S", "--tls-verify", certs_.caCert}, options());
    ASSERT_EQ(set.exitStatus, 0) << set.out << set.err;
    ProgramResult r = update(5);
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    ASSERT_EQ(server_->requests().size(), 1u);
    EXPECT_TRUE(server_->requests()[0].tls);
}

}  // namespace
