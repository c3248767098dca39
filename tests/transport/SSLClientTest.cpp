#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>

#include "LocalServer.h"
#include "RunProgram.h"
#include "SharedFiles.h"
#include "SystemLog.h"
#include "TempRoot.h"
#include "TestServer.h"
#include "net/HttpsConnection.h"
#include "net/SSLClientSocket.h"
#include "net/SSLException.h"
#include "net/SSLSettings.h"
#include "net/TlsPeerCheck.h"

namespace {
const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

struct Files {
    TestCertificates main;     // CA and a server certificate for localhost
    std::string otherCa;       // a CA that signed nothing here
    std::string wildcardCert;  // CN *.a.b, signed by the main CA
    std::string wildcardKey;
    std::string clientCombined;  // client certificate and key in one PEM file
    std::string clientDer;
    std::string clientKeyDer;
    std::string clientCert;
    std::string clientKeyEncrypted;  // pass phrase "secret"
};

void openssl(const std::vector<std::string>& args) {
    ProgramResult result = runProgram("/usr/bin/openssl", args);
    ASSERT_EQ(result.exitStatus, 0) << result.err;
}

// A certificate for subject signed by the main CA.
void signedCertificate(const Files& f, const std::string& dir, const std::string& name,
                       const std::string& subject) {
    openssl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", dir + "/" + name + ".key", "-out",
             dir + "/" + name + ".csr", "-subj", subject});
    openssl({"x509", "-req", "-in", dir + "/" + name + ".csr", "-CA", f.main.caCert, "-CAkey",
             f.main.caKey, "-CAcreateserial", "-days", "30", "-out", dir + "/" + name + ".pem"});
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Where the suite's files are in dir.
Files filesIn(const std::string& dir) {
    Files f;
    f.main = testCertificatesIn(dir);
    f.otherCa = dir + "/other-ca.pem";
    f.wildcardCert = dir + "/wildcard.pem";
    f.wildcardKey = dir + "/wildcard.key";
    f.clientCert = dir + "/client.pem";
    f.clientCombined = dir + "/client-combined.pem";
    f.clientDer = dir + "/client.der";
    f.clientKeyDer = dir + "/client-key.der";
    f.clientKeyEncrypted = dir + "/client-enc.key";
    return f;
}

// Makes the suite's files in dir; false when a step failed.
bool makeFiles(const std::string& dir) {
    const Files f = filesIn(dir);
    makeTestCertificates(dir);
    openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", dir + "/other-ca.key",
             "-out", f.otherCa, "-days", "30", "-subj", "/CN=Other CA"});
    signedCertificate(f, dir, "wildcard", "/CN=*.a.b");
    signedCertificate(f, dir, "client", "/CN=appliance");
    std::ofstream(f.clientCombined) << readFile(f.clientCert) << readFile(dir + "/client.key");
    openssl({"x509", "-in", f.clientCert, "-outform", "DER", "-out", f.clientDer});
    openssl({"pkey", "-in", dir + "/client.key", "-outform", "DER", "-out", f.clientKeyDer});
    openssl({"pkey", "-in", dir + "/client.key", "-aes128", "-passout", "pass:secret", "-out",
             f.clientKeyEncrypted});
    return !testing::Test::HasFailure();
}

// Records the SNI name each client sends on context ("none" without one),
// also when the client refuses the server afterwards.
void recordServerName(SSL_CTX* context, std::string* name) {
    *name = "none";
    SSL_CTX_set_tlsext_servername_arg(context, name);
    SSL_CTX_set_tlsext_servername_callback(
        context, +[](SSL* ssl, int*, void* arg) {
            const char* sent = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
            *static_cast<std::string*>(arg) = sent != nullptr ? sent : "none";
            return SSL_TLSEXT_ERR_OK;
        });
}

class SSLTest : public testing::Test {
protected:
    // The files are made once for the build tree and copied here.
    static void SetUpTestSuite() {
        root_ = new TempRoot;
        copySharedFiles("ssl-client-test", root_->path(), makeFiles);
        files_ = filesIn(root_->path());
    }
    static void TearDownTestSuite() {
        delete root_;
        root_ = nullptr;
    }

    void SetUp() override {
        SSLSettings::reset();
        SSLClient::startup();
    }
    void TearDown() override { SSLSettings::reset(); }

    // A TLS server for one connection: handshake, read a request, answer.
    std::unique_ptr<LocalServer> tlsServer(SSL_CTX* context,
                                           const std::string& answer = okResponse("secure")) {
        return std::make_unique<LocalServer>([this, context, answer](int fd) {
            ServerSession ssl = acceptTls(context, fd);
            if (!ssl) {
                return;
            }
            handshakes_++;
            received_ = readTlsRequest(ssl.get());
            sendTls(ssl.get(), answer);
            SSL_shutdown(ssl.get());
        });
    }

    ServerContext serverContext() {
        return makeServerContext(files_.main.serverCert, files_.main.serverKey);
    }

    // The test CA alone verifies the server (its certificate names
    // localhost and 127.0.0.1).
    static TlsVerification mainCa() { return TlsVerification::at(files_.main.caCert.c_str()); }
    static void trustMainCa(SSLClientSocket& socket) { socket.setVerification(mainCa()); }

    // The verification reason of the SSLException a handshake raises.
    static std::string verifyFailure(SSLClientSocket& socket) {
        try {
            socket.handshake();
        } catch (const SSLException& e) {
            return e.getVerifyReason().str();
        }
        return "no exception";
    }

    // The message of the SSLException a handshake over socket raises.
    static std::string handshakeFailure(SSLClientSocket& socket) {
        try {
            socket.handshake();
        } catch (const IOException& e) {
            return e.getMessage().str();
        }
        return "no exception";
    }

    static std::string bodyOf(HttpResponse& response) {
        std::string body;
        char buffer[256];
        int n = 0;
        while (response.getBody() && (n = response.getBody()->read(buffer, sizeof buffer)) > 0) {
            body.append(buffer, static_cast<size_t>(n));
        }
        return body;
    }

    static TempRoot* root_;
    static Files files_;
    std::string received_;
    int handshakes_ = 0;
};

TempRoot* SSLTest::root_ = nullptr;
Files SSLTest::files_;

// The system's trust store does not know the test CA.
TEST_F(SSLTest, DefaultVerifiesAgainstTheSystemTrustStore) {
    ServerContext context = serverContext();
    LocalServer server([&](int fd) { acceptTls(context.get(), fd); });
    SSLClientSocket socket("127.0.0.1", server.port());
    socket.setTimeout(2000);
    ASSERT_EQ(socket.open(), 0);
    EXPECT_EQ(verifyFailure(socket), "unable to get local issuer certificate");
}

TEST_F(SSLTest, VerificationOffAcceptsAnyCertificateAndExchanges) {
    ServerContext context = makeServerContext(files_.wildcardCert, files_.wildcardKey);
    auto server = tlsServer(context.get());
    HttpsConnection connection;
    connection.setTimeout(2000);
    connection.setVerification(TlsVerification::off());
    HttpRequest request(URL("https", "127.0.0.1", server->port(), "/x"));
    HttpResponse response;
    ASSERT_TRUE(connection.sendAndReceive(request, response));
    EXPECT_EQ(response.getStatus(), 200);
    connection.close();
    server->stop();
    EXPECT_EQ(received_.rfind("GET https://127.0.0.1:" + std::to_string(server->port()) +
                                  "/x HTTP/1.0\r\nAccept: */*\r\n",
                              0),
              0u)
        << received_;
}

TEST_F(SSLTest, ResponseBodyArrivesAndCleanCloseEndsIt) {
    ServerContext context = serverContext();
    auto server = tlsServer(context.get(), okResponse("secure body"));
    HttpsConnection connection;
    connection.setTimeout(2000);
    connection.setVerification(mainCa());
    HttpRequest request(URL("https", "127.0.0.1", server->port(), "/"));
    HttpResponse response;
    ASSERT_TRUE(connection.sendAndReceive(request, response));
    EXPECT_EQ(response.getStatus(), 200);
    EXPECT_EQ(bodyOf(response), "secure body");
    char byte = 0;
    EXPECT_EQ(connection.getSocket()->read(&byte, 0), -1);
    SystemLog::setEcho(true);
    testing::internal::CaptureStderr();
    EXPECT_EQ(connection.getSocket()->read(&byte, 1), 0);
    std::string log = testing::internal::GetCapturedStderr();
    SystemLog::setEcho(false);
    EXPECT_NE(log.find("SSL: read failed: the connection was shut down by peer cleanly"),
              std::string::npos)
        << log;
}

TEST_F(SSLTest, VerificationWithTheRightCaPasses) {
    ServerContext context = serverContext();
    auto server = tlsServer(context.get());
    HttpsConnection connection;
    connection.setTimeout(2000);
    connection.setVerification(mainCa());
    HttpRequest request(URL("https", "127.0.0.1", server->port(), "/ok"));
    HttpResponse response;
    ASSERT_TRUE(connection.sendAndReceive(request, response));
    EXPECT_EQ(response.getStatus(), 200);
    auto* socket = static_cast<SSLClientSocket*>(connection.getSocket());
    EXPECT_EQ(socket->getClient()->getVerifyResult(), 0);
}

TEST_F(SSLTest, VerificationWithAWrongCaFailsBeforeAnythingIsSent) {
    ServerContext context = serverContext();
    auto server = tlsServer(context.get());
    HttpsConnection connection;
    connection.setTimeout(2000);
    connection.setVerification(TlsVerification::at(files_.otherCa.c_str()));
    HttpRequest request(URL("https", "127.0.0.1", server->port(), "/"));
    HttpResponse response;
    try {
        connection.sendAndReceive(request, response);
        ADD_FAILURE() << "handshake passed";
    } catch (const SSLException& e) {
        EXPECT_EQ(e.getMessage(),
                  "SSL: certificate verify failed: unable to get local issuer certificate");
        EXPECT_EQ(e.getVerifyReason(), "unable to get local issuer certificate");
    }
    EXPECT_FALSE(connection.isConnected());
    server->stop();
    EXPECT_EQ(handshakes_, 0);
    EXPECT_EQ(received_, "");
}

// A configured location that cannot be used fails the connection rather
// than turning verification off; a hashed directory is a location too.
TEST_F(SSLTest, VerifyLocations) {
    const std::string dir = root_->path();
    const std::string hashed = dir + "/hashed";
    const std::string empty = dir + "/empty.pem";
    root_->write("hashed/ca.pem", root_->read("ca.pem"));
    root_->write("empty.pem", "no certificate here\n");
    openssl({"rehash", hashed});
    struct Case {
        std::string location;
        std::string reason;  // "" when the handshake passes
    };
    const Case cases[] = {
        {"/nonexistent/ca.pem", "cannot read CA /nonexistent/ca.pem: No such file or directory"},
        {empty, "cannot read CA " + empty + ": no certificate or crl found"},
        {hashed, ""},
        {dir + "/other-ca.pem", "unable to get local issuer certificate"},
    };
    ServerContext context = serverContext();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location);
        LocalServer server([&](int fd) { acceptTls(context.get(), fd); });
        SSLClientSocket socket("127.0.0.1", server.port());
        socket.setTimeout(2000);
        socket.setVerification(TlsVerification::at(c.location.c_str()));
        ASSERT_EQ(socket.open(), 0);
        if (c.reason.empty()) {
            EXPECT_EQ(socket.handshake(), 0);
        } else {
            EXPECT_EQ(verifyFailure(socket), c.reason);
        }
    }
}

struct HostCase {
    const char* name;
    bool wildcard;       // the server shows CN *.a.b, else localhost/127.0.0.1
    const char* host;    // the server's name as the client knows it
    const char* reason;  // "" when the check passes
};

void PrintTo(const HostCase& c, std::ostream* os) {
    *os << "host " << c.host << (*c.reason == 0 ? " passes" : " fails");
}

class SSLHostCheckTest : public SSLTest, public testing::WithParamInterface<HostCase> {};

// The name check is OpenSSL's, against the name the client was given (and
// sent for SNI); an address is checked as an address.
TEST_P(SSLHostCheckTest, NameOrAddress) {
    const HostCase& c = GetParam();
    ServerContext context =
        c.wildcard ? makeServerContext(files_.wildcardCert, files_.wildcardKey) : serverContext();
    std::string sni;
    recordServerName(context.get(), &sni);
    LocalServer server([&](int fd) { acceptTls(context.get(), fd); });
    SSLClientSocket socket(InetAddress(kLoopback), server.port());
    socket.setServerName(c.host);
    trustMainCa(socket);
    socket.setTimeout(2000);
    ASSERT_EQ(socket.open(), 0);
    if (*c.reason == 0) {
        EXPECT_EQ(socket.handshake(), 0);
    } else {
        EXPECT_EQ(verifyFailure(socket), c.reason);
    }
    socket.close();
    server.stop();
    EXPECT_EQ(sni, TlsPeerCheck::isIpLiteral(c.host) ? "none" : c.host);
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, SSLHostCheckTest,
    testing::Values(HostCase{"OneLabelInFront", true, "x.a.b", ""},
                    HostCase{"CaseIsIgnored", true, "X.A.b", ""},
                    HostCase{"TwoLabelsInFront", true, "y.x.a.b", "hostname mismatch"},
                    HostCase{"BareDomain", true, "a.b", "hostname mismatch"},
                    HostCase{"OtherDomain", true, "x.a.c", "hostname mismatch"},
                    HostCase{"Localhost", false, "localhost", ""},
                    HostCase{"AddressInTheCertificate", false, "127.0.0.1", ""},
                    HostCase{"OtherAddress", false, "127.0.0.2", "IP address mismatch"},
                    HostCase{"NameIsNotAnAddress", false, "127.0.0.1.example",
                             "hostname mismatch"}),
    [](const testing::TestParamInfo<HostCase>& info) { return info.param.name; });

// Off means no name check either; a socket made from a host name checks it.
TEST_F(SSLTest, VerificationOffSkipsTheNameCheckAndTheGivenHostIsChecked) {
    ServerContext context = serverContext();
    {
        auto server = tlsServer(context.get());
        SSLClientSocket socket(InetAddress(kLoopback, "elsewhere.example"), server->port());
        socket.setServerName("elsewhere.example");
        socket.setVerification(TlsVerification::off());
        socket.setTimeout(2000);
        ASSERT_EQ(socket.open(), 0);
        EXPECT_EQ(socket.handshake(), 0);
    }
    {
        auto server = tlsServer(context.get());
        SSLClientSocket socket("localhost", server->port());
        EXPECT_EQ(socket.getServerName(), "localhost");
        trustMainCa(socket);
        socket.setTimeout(2000);
        ASSERT_EQ(socket.open(), 0);
        EXPECT_EQ(socket.handshake(), 0);
    }
}

TEST_F(SSLTest, RefusedVerificationSettingFailsWithItsReason) {
    LocalServer server([](int fd) { readUntilClosed(fd); });
    SSLClientSocket socket("127.0.0.1", server.port());
    socket.setVerification(TlsVerification::refused("invalid ssl.verify value 'maybe'"));
    socket.setTimeout(2000);
    ASSERT_EQ(socket.open(), 0);
    EXPECT_EQ(handshakeFailure(socket), "SSL: invalid ssl.verify value 'maybe'");
}

struct ClientCertCase {
    const char* name;
    std::string Files::*certificate;
    const char* certificateType;
    std::string Files::*key;  // null: no key file
    const char* keyType;
    const char* password;
    const char* failure;  // null when the server accepts the client
};

void PrintTo(const ClientCertCase& c, std::ostream* os) {
    *os << c.name << " (certificate type \"" << c.certificateType << "\", key type \"" << c.keyType
        << "\")";
}

class SSLClientCertificateTest : public SSLTest,
                                 public testing::WithParamInterface<ClientCertCase> {};

TEST_P(SSLClientCertificateTest, LoadsAndPresents) {
    const ClientCertCase& c = GetParam();
    ServerContext context = serverContext();
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    SSL_CTX_load_verify_locations(context.get(), files_.main.caCert.c_str(), nullptr);
    std::string clientName;
    LocalServer server([&](int fd) {
        ServerSession ssl = acceptTls(context.get(), fd);
        if (!ssl) {
            return;
        }
        X509* peer = SSL_get1_peer_certificate(ssl.get());
        char name[64] = "";
        X509_NAME_get_text_by_NID(X509_get_subject_name(peer), NID_commonName, name, sizeof name);
        clientName = name;
        X509_free(peer);
        // Under TLS 1.3 the client learns of a refused certificate only
        // when it reads, so answer something.
        sendTls(ssl.get(), "hello");
        SSL_shutdown(ssl.get());
    });
    if (c.certificate != nullptr) {
        SSLSettings::setCertificate((files_.*c.certificate).c_str(), c.certificateType);
        SSLSettings::setPrivateKey(c.key ? (files_.*c.key).c_str() : "", c.keyType);
        SSLSettings::setKeyPassword(c.password);
    }
    SSLClientSocket socket("127.0.0.1", server.port());
    trustMainCa(socket);
    socket.setTimeout(2000);
    ASSERT_EQ(socket.open(), 0);
    std::string outcome;
    try {
        socket.handshake();
        char buffer[8] = "";
        int n = socket.read(buffer, sizeof buffer);
        outcome = n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "nothing";
    } catch (const IOException& e) {
        outcome = e.getMessage().str();
    }
    socket.close();
    server.stop();
    if (c.failure == nullptr) {
        EXPECT_EQ(outcome, "hello");
        EXPECT_EQ(clientName, "appliance");
    } else {
        EXPECT_NE(outcome.find(c.failure), std::string::npos) << outcome;
        EXPECT_EQ(clientName, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, SSLClientCertificateTest,
    testing::Values(
        ClientCertCase{"PemWithKeyInCertificateFile", &Files::clientCombined, "PEM", nullptr, "PEM",
                       "", nullptr},
        ClientCertCase{"UnknownTypeMeansPem", &Files::clientCombined, "xyz", nullptr, "", "",
                       nullptr},
        ClientCertCase{"DerInLowerCase", &Files::clientDer, "der", &Files::clientKeyDer, "DER", "",
                       nullptr},
        ClientCertCase{"EncryptedKeyWithPassword", &Files::clientCert, "PEM",
                       &Files::clientKeyEncrypted, "PEM", "secret", nullptr},
        ClientCertCase{"EncryptedKeyWithWrongPassword", &Files::clientCert, "PEM",
                       &Files::clientKeyEncrypted, "PEM", "wrong",
                       "SSL: load client certificate failed"},
        ClientCertCase{"KeyOfAnotherCertificate", &Files::clientCert, "PEM", &Files::wildcardKey,
                       "PEM", "", "SSL: load client certificate failed"},
        ClientCertCase{"EngineCertificateNotImplemented", &Files::clientCert, "ENG", nullptr, "PEM",
                       "", "SSL: load client certificate failed"},
        // The refusal arrives after the client's side of the handshake: the
        // session then ends without data.
        ClientCertCase{"NoCertificateIsRefusedByServer", nullptr, "", nullptr, "", "", "nothing"}),
    [](const testing::TestParamInfo<ClientCertCase>& info) { return info.param.name; });

TEST_F(SSLTest, HandshakeTimesOutAgainstASilentServer) {
    struct sigaction before {};
    sigaction(SIGALRM, nullptr, &before);
    LocalServer server([](int fd) { readUntilClosed(fd); });
    SSLClientSocket socket("127.0.0.1", server.port());
    socket.setTimeout(1000);
    ASSERT_EQ(socket.open(), 0);
    EXPECT_EQ(handshakeFailure(socket), "EC_CONNECT_TIMEOUT: SSL: connection timeout");
    struct sigaction after {};
    sigaction(SIGALRM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);  // the guard restored it
    EXPECT_EQ(alarm(0), 0u);                         // and left no alarm behind
}

TEST_F(SSLTest, ReadTimesOutWhenTheServerGoesSilent) {
    ServerContext context = serverContext();
    // Under a second too: the read must not block without limit.
    for (int timeout : {1000, 500}) {
        SCOPED_TRACE(timeout);
        LocalServer server([&](int fd) {
            ServerSession ssl = acceptTls(context.get(), fd);
            char byte = 0;
            if (ssl) {
                SSL_read(ssl.get(), &byte, 1);  // until the client goes away
            }
        });
        SSLClientSocket socket("127.0.0.1", server.port());
        trustMainCa(socket);
        socket.setTimeout(timeout);
        ASSERT_EQ(socket.open(), 0);
        ASSERT_EQ(socket.handshake(), 0);
        char buffer[16];
        try {
            socket.read(buffer, sizeof buffer);
            ADD_FAILURE() << "read returned";
        } catch (const SocketException& e) {
            EXPECT_EQ(e.getMessage(),
                      "EC_READ_TIMEOUT: SSLClintSocket: reading data from socket timeout");
        }
    }
}

// A TLS server that completes the handshake and then never reads, holding
// the connection until the client is done (or 30 s pass).
class SilentTlsServer {
public:
    explicit SilentTlsServer(SSL_CTX* context)
        : clientDone_(released_.get_future().share()), server_([this, context](int fd) {
              ServerSession ssl = acceptTls(context, fd);
              gaveUp_ = clientDone_.wait_for(std::chrono::seconds(30)) != std::future_status::ready;
          }) {}
    ~SilentTlsServer() { release(); }
    SilentTlsServer(const SilentTlsServer&) = delete;
    SilentTlsServer& operator=(const SilentTlsServer&) = delete;

    int port() const { return server_.port(); }
    // True when the client kept the server waiting for the whole 30 s.
    bool gaveUp() const { return gaveUp_; }
    void release() {
        if (!releasedOnce_) {
            releasedOnce_ = true;
            released_.set_value();
        }
        server_.stop();
    }

private:
    std::promise<void> released_;
    bool releasedOnce_ = false;
    std::shared_future<void> clientDone_;
    std::atomic<bool> gaveUp_{false};
    LocalServer server_;
};

TEST_F(SSLTest, WriteTimesOutWhenTheServerStopsReading) {
    ServerContext context = serverContext();
    SilentTlsServer server(context.get());
    SSLClientSocket socket("127.0.0.1", server.port());
    trustMainCa(socket);
    socket.setTimeout(1000);
    ASSERT_EQ(socket.open(), 0);
    ASSERT_EQ(socket.handshake(), 0);
    const std::string chunk(65536, 'w');
    std::string message = "no exception";
    try {
        for (int i = 0; i < 4096; ++i) {
            socket.write(chunk.data(), static_cast<int>(chunk.size()));
        }
    } catch (const SocketException& e) {
        message = e.getMessage().str();
    }
    EXPECT_EQ(message, "EC_WRITE_TIMEOUT: SSLClintSocket: sending data on socket timeout");
    socket.close();
    EXPECT_FALSE(server.gaveUp());
}

TEST_F(SSLTest, CloseDoesNotWaitToSendTheCloseNotice) {
    ServerContext context = serverContext();
    SilentTlsServer server(context.get());
    SSLClientSocket socket("127.0.0.1", server.port());
    trustMainCa(socket);
    ASSERT_EQ(socket.open(), 0);
    ASSERT_EQ(socket.handshake(), 0);
    // Fill the way to the server so that not even the close notice fits.
    // A fixed send buffer keeps the kernel from growing it meanwhile.
    const int fd = socket.getFD();
    const int sendBuffer = 4096;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const std::string junk(65536, 'j');
    for (int round = 0; round < 3; ++round) {
        while (::send(fd, junk.data(), junk.size(), MSG_NOSIGNAL) > 0) {
        }
        usleep(50000);
    }
    fcntl(fd, F_SETFL, flags);
    socket.close();
    EXPECT_EQ(socket.getState(), ClientSocket::kClosed);
    EXPECT_FALSE(server.gaveUp());
}

TEST_F(SSLTest, HandshakeOnlyWhenConnected) {
    SSLClientSocket socket("127.0.0.1", closedPort());
    EXPECT_EQ(socket.handshake(), -1);
    char byte = 0;
    EXPECT_EQ(socket.read(&byte, 0), -1);
    EXPECT_EQ(socket.write(nullptr, 1), -1);
}

TEST_F(SSLTest, VersionOneMeansTls10Only) {
    ServerContext context = serverContext();
    SSL_CTX_set_min_proto_version(context.get(), TLS1_VERSION);
    SSL_CTX_set_security_level(context.get(), 0);
    int negotiated = 0;
    LocalServer server([&](int fd) {
        ServerSession ssl = acceptTls(context.get(), fd);
        if (ssl) {
            negotiated = SSL_version(ssl.get());
            SSL_shutdown(ssl.get());
        }
    });
    SSLSettings::setVersion(SSLSettings::kTLSv1);
    SSLClientSocket socket("127.0.0.1", server.port());
    trustMainCa(socket);
    socket.setTimeout(2000);
    ASSERT_EQ(socket.open(), 0);
    EXPECT_EQ(socket.handshake(), 0);
    socket.close();
    server.stop();
    EXPECT_EQ(negotiated, TLS1_VERSION);
}

TEST_F(SSLTest, NegotiationRefusesServersBelowTls12) {
    ServerContext context = serverContext();
    SSL_CTX_set_min_proto_version(context.get(), TLS1_VERSION);
    SSL_CTX_set_max_proto_version(context.get(), TLS1_1_VERSION);
    SSL_CTX_set_security_level(context.get(), 0);
    bool accepted = false;
    LocalServer server([&](int fd) { accepted = acceptTls(context.get(), fd) != nullptr; });
    SSLClientSocket socket("127.0.0.1", server.port());
    trustMainCa(socket);
    socket.setTimeout(2000);
    ASSERT_EQ(socket.open(), 0);
    EXPECT_EQ(handshakeFailure(socket).rfind("SSL: ", 0), 0u);
    socket.close();
    server.stop();
    EXPECT_FALSE(accepted);
}

TEST_F(SSLTest, SettingsTheLibraryCannotHonourFailClearly) {
    struct Case {
        const char* name;
        void (*configure)();
        const char* message;
    };
    const Case cases[] = {
        {"SSLv2", [] { SSLSettings::setVersion(SSLSettings::kSSLv2); },
         "SSL: SSLv2 is not supported by this OpenSSL version"},
        {"SSLv3", [] { SSLSettings::setVersion(SSLSettings::kSSLv3); },
         "SSL: SSLv3 is not supported by this OpenSSL version"},
        {"BadCipherList", [] { SSLSettings::setCipherList("NO-SUCH-CIPHER"); },
         "SSL: failed setting cipher list"},
        {"MissingCertificateFile", [] { SSLSettings::setCertificate("/nonexistent.pem", "PEM"); },
         "SSL: load client certificate failed"},
    };
    ServerContext context = serverContext();
    for (const Case& c : cases) {
        SSLSettings::reset();
        c.configure();
        LocalServer server([](int fd) { readUntilClosed(fd); });
        SSLClientSocket socket("127.0.0.1", server.port());
        socket.setTimeout(2000);
        ASSERT_EQ(socket.open(), 0);
        EXPECT_EQ(handshakeFailure(socket), c.message) << c.name;
    }
}

TEST_F(SSLTest, TunnelThroughAProxy) {
    ServerContext context = serverContext();
    std::string connect;
    std::string sni;
    recordServerName(context.get(), &sni);
    LocalServer proxy([&](int fd) {
        connect = readHead(fd);
        sendAll(fd, "HTTP/1.0 200 Connection established\r\n\r\n");
        ServerSession ssl = acceptTls(context.get(), fd);  // plays the target
        if (ssl) {
            received_ = readTlsRequest(ssl.get());
            sendTls(ssl.get(), okResponse("tunnelled"));
            SSL_shutdown(ssl.get());
        }
    });
    HttpsConnection connection;
    connection.setTimeout(2000);
    connection.setVerification(mainCa());
    connection.setProxy("127.0.0.1", proxy.port());
    connection.setProxyCredentials("user", "pass");
    HttpRequest request(URL(String("https://localhost/lm/update")));
    HttpResponse response;
    ASSERT_TRUE(connection.sendAndReceive(request, response));
    EXPECT_EQ(response.getStatus(), 200);
    EXPECT_EQ(bodyOf(response), "tunnelled");
    connection.close();
    proxy.stop();
    EXPECT_EQ(sni, "localhost");
    EXPECT_EQ(connect,
              "CONNECT localhost:443 HTTP/1.0\r\n"
              "Host: localhost\r\n"
              "User-Agent: Mozilla/4.0\r\n"
              "Proxy-authorization: Basic dXNlcjpwYXNz\r\n\r\n");
    EXPECT_EQ(received_.rfind("GET https://localhost:443/lm/update HTTP/1.0\r\n", 0), 0u);
    EXPECT_NE(received_.find("Proxy-Connection: Keep-Alive\r\n"), std::string::npos);
    EXPECT_EQ(received_.find("Proxy-authorization"), std::string::npos);
}

// The certificate must name the target; the proxy's address (which the
// certificate does name) counts for nothing.
TEST_F(SSLTest, TunnelledServerIsCheckedAgainstTheTargetsName) {
    ServerContext context = serverContext();
    std::string sni;
    recordServerName(context.get(), &sni);
    LocalServer proxy([&](int fd) {
        readHead(fd);
        sendAll(fd, "HTTP/1.0 200 Connection established\r\n\r\n");
        acceptTls(context.get(), fd);
    });
    HttpsConnection connection;
    connection.setTimeout(2000);
    connection.setVerification(mainCa());
    connection.setProxy("127.0.0.1", proxy.port());
    HttpRequest request(URL(String("https://update.example.invalid/lm/update")));
    HttpResponse response;
    try {
        connection.sendAndReceive(request, response);
        ADD_FAILURE() << "handshake passed";
    } catch (const SSLException& e) {
        EXPECT_EQ(e.getVerifyReason(), "hostname mismatch");
    }
    proxy.stop();
    EXPECT_EQ(sni, "update.example.invalid");
}

TEST_F(SSLTest, RefusedTunnelFailsTheExchange) {
    LocalServer proxy([](int fd) {
        readHead(fd);
        sendAll(fd, "HTTP/1.0 403 Forbidden\r\n\r\n");
    });
    HttpsConnection connection;
    connection.setTimeout(2000);
    connection.setProxy("127.0.0.1", proxy.port());
    HttpRequest request(URL(String("https://update.example.invalid/")));
    HttpResponse response;
    try {
        connection.sendAndReceive(request, response);
        ADD_FAILURE() << "no exception";
    } catch (const IOException& e) {
        EXPECT_EQ(e.getMessage(), "EC_PROXY_FAILED: http tunnel failed");
    }
}

struct LiteralCase {
    const char* host;
    bool address;
};

// An address gets the address check and no SNI; everything else is a name.
TEST(TlsPeerCheckTest, IpLiterals) {
    const LiteralCase cases[] = {
        {"127.0.0.1", true},  {"[::1]", true},      {"::1", true},        {"fe80::1:2", true},
        {"localhost", false}, {"1.2.3", false},     {"1.2.3.4.5", false}, {"[1.2.3.4]", true},
        {"", false},          {"[example]", false}, {"256.1.1.1", false}, {"x.a.b", false},
    };
    for (const LiteralCase& c : cases) {
        EXPECT_EQ(TlsPeerCheck::isIpLiteral(c.host), c.address) << c.host;
    }
}

TEST(SSLClientVersionTest, VersionText) {
    struct Case {
        unsigned long number;
        const char* text;
    };
    const Case cases[] = {
        {0x0090812fUL, " OpenSSL/0.9.8r"}, {0x0090800fUL, " OpenSSL/0.9.8"},
        {0x00905000UL, " OpenSSL/0.9.8"},  {0x1000214fUL, " OpenSSL/1.0.2t"},
        {0x30000130UL, " OpenSSL/3.0.19"}, {0x30200000UL, " OpenSSL/3.2.0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SSLClient::formatVersion(c.number), c.text) << std::hex << c.number;
    }
    EXPECT_EQ(SSLClient::getVersionText(), SSLClient::formatVersion(OpenSSL_version_num()));
}
}  // namespace
