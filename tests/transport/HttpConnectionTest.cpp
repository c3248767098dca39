#include "net/HttpConnection.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>

#include "LocalServer.h"
#include "TempRoot.h"
#include "net/SocketException.h"

namespace {
const char kDefaultHeaders[] =
    "Accept: */*\r\n"
    "User-Agent: Mozilla/4.0 (compatible; MSIE 5.0; Windows 98)\r\n"
    "Accept-Language: en-us\r\n"
    "Accept-Encoding: gzip, deflate\r\n";

std::string bodyOf(HttpResponse& response) {
    std::string body;
    char buffer[1024];
    int n = 0;
    while (response.getBody() != nullptr && (n = response.getBody()->read(buffer, 1024)) > 0) {
        body.append(buffer, static_cast<size_t>(n));
    }
    return body;
}

// --- Reading a response head from a socket ---------------------------------

struct ReadCase {
    const char* name;
    std::string sent;  // what the server sends before closing
    bool accepted;
    int status;
    int contentLength;
    std::string body;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name << " (" << c.sent.size() << " bytes, " << (c.accepted ? "accepted" : "refused")
        << ")";
}

class ResponseReadTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ResponseReadTest, ReadsHeadThenBodyStream) {
    const ReadCase& c = GetParam();
    LocalServer server([&](int fd) { sendAll(fd, c.sent); });
    ClientSocket socket("127.0.0.1", server.port());
    socket.setTimeout(2000);
    ASSERT_EQ(socket.open(), 0);
    HttpResponse response;
    ASSERT_EQ(response.read(&socket), c.accepted);
    if (!c.accepted) {
        EXPECT_EQ(response.getBody(), nullptr);
        return;
    }
    EXPECT_EQ(response.getStatus(), c.status);
    EXPECT_EQ(response.getContentLength(), c.contentLength);
    EXPECT_EQ(bodyOf(response), c.body);
    EXPECT_EQ(response.getBody()->read(), -1);  // the peer has closed
}

INSTANTIATE_TEST_SUITE_P(
    Heads, ResponseReadTest,
    testing::Values(
        ReadCase{"BlankLinesBeforeStatusSkipped",
                 "\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody", true, 200, 4, "body"},
        ReadCase{"BareLineFeeds", "HTTP/1.0 404 Not Found\nServer: t\n\nmissing", true, 404, -1,
                 "missing"},
        ReadCase{"NonNumericLengthIsMinusOne", "HTTP/1.0 200 OK\r\nContent-Length: abc\r\n\r\n",
                 true, 200, -1, ""},
        ReadCase{"NegativeLengthIsMinusOne", "HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\n", true,
                 200, -1, ""},
        ReadCase{"LengthPast2GiBIsMinusOne",
                 "HTTP/1.0 200 OK\r\nContent-Length: 4294967544\r\n\r\n", true, 200, -1, ""},
        ReadCase{"LargestLength", "HTTP/1.0 200 OK\r\nContent-Length: 2147483647\r\n\r\n", true,
                 200, 2147483647, ""},
        ReadCase{"StatusPastInt32", "HTTP/1.0 4294967496 OK\r\n\r\n", false, -1, -1, ""},
        ReadCase{"BodyShorterThanAnnounced", "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc",
                 true, 200, 10, "abc"},
        ReadCase{"EndOfStreamEndsTheHead", "HTTP/1.0 204 No Content\r\nA: b", true, 204, -1, ""},
        ReadCase{"NothingAtAll", "", false, -1, -1, ""},
        ReadCase{"GarbageStatusLine", "SSH-2.0-OpenSSH_9.6\r\n\r\n", false, -1, -1, ""},
        ReadCase{"HeaderWithoutValue", "HTTP/1.0 200 OK\r\nX-Empty:\r\n\r\n", false, -1, -1, ""},
        ReadCase{"HeaderWithoutColon", "HTTP/1.0 200 OK\r\nnonsense\r\n\r\n", false, -1, -1, ""},
        ReadCase{"OverlongStatusLine", "HTTP/1.0 200 " + std::string(9000, 'x') + "\r\n\r\n", false,
                 -1, -1, ""},
        ReadCase{"StatusLineOfExactlyTheLimit",
                 "HTTP/1.0 200 " + std::string(8192 - 13, 'x') + "\r\n\r\n", false, -1, -1, ""},
        // 8191 bytes and CR LF fill the line buffer with the CR, which
        // still goes.
        ReadCase{"StatusLineJustUnderTheLimit",
                 "HTTP/1.0 200 " + std::string(8191 - 13, 'x') + "\r\n\r\n", true, 200, -1, ""},
        ReadCase{"HeaderLineJustUnderTheLimit",
                 "HTTP/1.0 200 OK\r\nX: " + std::string(8191 - 3, 'y') + "\r\nA: 1\r\n\r\n", true,
                 200, -1, ""},
        ReadCase{"HeaderLineOfExactlyTheLimit",
                 "HTTP/1.0 200 OK\r\nX: " + std::string(8192 - 3, 'y') + "\r\n\r\n", false, -1, -1,
                 ""},
        ReadCase{"OverlongHeaderLine",
                 "HTTP/1.0 200 OK\r\nX: " + std::string(9000, 'y') + "\r\n\r\n", false, -1, -1, ""},
        ReadCase{"EndlessBlankLines", std::string(2000, '\n') + "HTTP/1.0 200 OK\r\n\r\n", false,
                 -1, -1, ""},
        ReadCase{"EndlessHeaders",
                 [] {
                     std::string s = "HTTP/1.0 200 OK\r\n";
                     for (int i = 0; i < 5000; ++i) {
                         s += "X-" + std::to_string(i) + ": v\r\n";
                     }
                     return s + "\r\n";
                 }(),
                 false, -1, -1, ""}),
    [](const testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

TEST(ResponseReadTest, TextFormForTheLog) {
    LocalServer server(
        [](int fd) { sendAll(fd, "HTTP/1.0 302 Found\r\nLocation: /x\r\nA: 1\r\n\r\n"); });
    ClientSocket socket("127.0.0.1", server.port());
    socket.open();
    HttpResponse response;
    ASSERT_TRUE(response.read(&socket));
    EXPECT_EQ(response.getText(), "HTTP/1.0 302 Found\r\nLocation: /x\r\nA: 1\r\n");
}

TEST(ResponseReadTest, SilentServerTimesOut) {
    LocalServer server([](int fd) { readUntilClosed(fd); });
    ClientSocket socket("127.0.0.1", server.port());
    socket.setTimeout(1000);
    socket.open();
    HttpResponse response;
    EXPECT_THROW(response.read(&socket), SocketException);
}

TEST(SocketInputStreamTest, SkipAvailableAndClose) {
    LocalServer server([](int fd) { sendAll(fd, std::string(3000, 'a') + "XYZ"); });
    ClientSocket socket("127.0.0.1", server.port());
    socket.setTimeout(2000);
    socket.open();
    SocketInputStream in(&socket);
    EXPECT_EQ(in.skip(0), 0);
    EXPECT_EQ(in.skip(3000), 3000);
    EXPECT_EQ(in.read(), 'X');
    EXPECT_GE(in.available(), 0);
    in.close();
    EXPECT_THROW(in.read(), IOException);
    EXPECT_EQ(socket.getState(), ClientSocket::kConnected);  // the socket stays open
    SocketInputStream none(nullptr);
    char buffer[4];
    EXPECT_EQ(none.read(), -1);
    EXPECT_EQ(none.read(buffer, 4), 0);
    EXPECT_EQ(none.skip(10), -1);
    EXPECT_THROW(none.available(), IOException);
}

// The head's read takes body bytes into the buffer with it: the body stream
// must start with them, wait for the rest, and still time out when the
// server stalls with bytes owed.
TEST(SocketInputStreamTest, BodyBytesReadWithTheHeadComeFirstAndTimeOutsApply) {
    const std::string body = std::string(70000, 'b') + "END";
    const size_t firstPart = 2000;
    std::atomic<bool> release{false};
    LocalServer server([&](int fd) {
        std::string head =
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size() + 5) + "\r\n\r\n";
        sendAll(fd, head + body.substr(0, firstPart));
        usleep(200000);  // the client has the head and the first part by now
        sendAll(fd, body.substr(firstPart));
        while (!release) {
            usleep(10000);  // owes 5 bytes: the client must time out
        }
    });
    ClientSocket socket("127.0.0.1", server.port());
    socket.setTimeout(1000);
    ASSERT_EQ(socket.open(), 0);
    HttpResponse response;
    ASSERT_TRUE(response.read(&socket));
    ASSERT_EQ(response.getContentLength(), static_cast<int>(body.size() + 5));
    EXPECT_EQ(response.getBody()->available(), static_cast<int>(firstPart));
    std::string got;
    char piece[1024];
    while (got.size() < body.size()) {
        int n = response.getBody()->read(piece, 1024);
        ASSERT_GT(n, 0);
        ASSERT_LE(n, 1024);
        got.append(piece, static_cast<size_t>(n));
    }
    EXPECT_EQ(got, body);
    EXPECT_THROW(response.getBody()->read(piece, 1024), SocketException);
    release = true;
}

// --- Whole exchanges -------------------------------------------------------

class HttpConnectionTest : public testing::Test {
protected:
    // One exchange against a server that records the request and answers.
    bool exchange(HttpConnection& connection, HttpRequest& request,
                  const std::string& answer = okResponse("hi")) {
        bool sent = false;
        {
            LocalServer server([&](int fd) {
                received_ = readRequest(fd);
                sendAll(fd, answer);
            });
            port_ = server.port();
            if (!request.getURL().isValid()) {
                request.setURL(URL("http", "127.0.0.1", port_, "/x"));
            }
            sent = connection.sendAndReceive(request, response_);
            body_ = bodyOf(response_);
            connection.close();
        }
        return sent;
    }

    std::string writeFile(const std::string& name, const std::string& content) {
        std::string path = root_.file(name);
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    TempRoot root_;
    HttpResponse response_;
    std::string received_;
    std::string body_;
    int port_ = 0;
};

TEST_F(HttpConnectionTest, DirectExchangeExactRequest) {
    HttpConnection connection;
    connection.setTimeout(2000);
    HttpRequest request;
    request.getHeaders().addHeader("X-Custom", "1");
    ASSERT_TRUE(exchange(connection, request));
    EXPECT_EQ(received_, "GET http://127.0.0.1:" + std::to_string(port_) + "/x HTTP/1.0\r\n" +
                             kDefaultHeaders +
                             "X-Custom: 1\r\n"
                             "Host: 127.0.0.1:" +
                             std::to_string(port_) + "\r\n" +
                             "Connection: Keep-Alive\r\n"
                             "Connection: close\r\n\r\n");
    EXPECT_EQ(response_.getStatus(), 200);
    EXPECT_EQ(body_, "hi");
    // The added headers stay in the caller's request.
    EXPECT_EQ(request.getHeaders().size(), 8);
}

TEST_F(HttpConnectionTest, PlainProxyGetsAbsoluteUrlAndBasicAuthorization) {
    HttpConnection connection;
    connection.setTimeout(2000);
    HttpRequest request(URL(String("http://update.example.invalid:81/lm/update?a=b")));
    LocalServer proxy([&](int fd) {
        received_ = readRequest(fd);
        sendAll(fd, okResponse("via proxy"));
    });
    connection.setProxy("127.0.0.1", proxy.port());
    connection.setProxyCredentials("user", "pass");
    ASSERT_TRUE(connection.sendAndReceive(request, response_));
    EXPECT_EQ(bodyOf(response_), "via proxy");
    connection.close();
    proxy.stop();
    EXPECT_EQ(received_,
              std::string("GET http://update.example.invalid:81/lm/update?a=b HTTP/1.0\r\n") +
                  kDefaultHeaders +
                  "Host: update.example.invalid:81\r\n"
                  "Proxy-Connection: Keep-Alive\r\n"
                  "Proxy-authorization: Basic dXNlcjpwYXNz\r\n"
                  "Connection: close\r\n\r\n");
}

TEST_F(HttpConnectionTest, KeepAliveOffWithPostData) {
    HttpConnection connection;
    connection.setKeepAlive(false);
    HttpRequest request;
    request.setMethod("POST");
    request.setPostData("0123456789");
    ASSERT_TRUE(exchange(connection, request));
    EXPECT_EQ(received_, "POST http://127.0.0.1:" + std::to_string(port_) + "/x HTTP/1.0\r\n" +
                             kDefaultHeaders + "Host: 127.0.0.1:" + std::to_string(port_) +
                             "\r\n"
                             "Content-Length: 10\r\n"
                             "Connection: close\r\n\r\n0123456789");
}

TEST_F(HttpConnectionTest, KeepAliveHeaderSuppressesConnectionClose) {
    HttpConnection connection;
    connection.setKeepAlive(false);
    HttpRequest request;
    request.getHeaders().addHeader("keep-alive", "300");
    ASSERT_TRUE(exchange(connection, request));
    EXPECT_EQ(received_.find("Connection: close"), std::string::npos) << received_;
}

TEST_F(HttpConnectionTest, PostFiles) {
    struct Case {
        const char* name;
        std::string content;
    };
    std::string large;
    for (int i = 0; i < 300000; ++i) {
        large += static_cast<char>(i * 7 % 251);
    }
    for (const Case& c : {Case{"empty", ""}, Case{"large", large}}) {
        HttpConnection connection;
        connection.setTimeout(5000);
        connection.setKeepAlive(false);
        HttpRequest request;
        request.setMethod("POST");
        request.setPostFile(writeFile(c.name, c.content).c_str());
        ASSERT_TRUE(exchange(connection, request)) << c.name;
        std::string expectedHead =
            "Content-Length: " + std::to_string(c.content.size()) + "\r\nConnection: close\r\n\r\n";
        size_t at = received_.find(expectedHead);
        ASSERT_NE(at, std::string::npos) << c.name;
        EXPECT_TRUE(received_.substr(at + expectedHead.size()) == c.content) << c.name;
    }
}

TEST_F(HttpConnectionTest, UnusableBodiesSendNothing) {
    struct Case {
        const char* name;
        const char* data;
        bool file;  // a post file that exists
        bool missingFile;
    };
    const Case cases[] = {{"MissingFile", "", false, true},
                          {"BothDataAndFile", "data", true, false}};
    for (const Case& c : cases) {
        HttpConnection connection;
        connection.setTimeout(2000);
        HttpRequest request;
        request.setPostData(c.data);
        if (c.file) {
            request.setPostFile(writeFile("body", "x").c_str());
        }
        if (c.missingFile) {
            request.setPostFile(root_.file("missing").c_str());
        }
        EXPECT_FALSE(exchange(connection, request)) << c.name;
        EXPECT_EQ(received_, "") << c.name;
        EXPECT_EQ(response_.getStatus(), -1) << c.name;
    }
}

TEST_F(HttpConnectionTest, DirectoryAsPostFileIsRefused) {
    HttpConnection connection;
    HttpRequest request;
    request.setPostFile(root_.path().c_str());
    EXPECT_FALSE(exchange(connection, request));
    EXPECT_EQ(received_, "");
}

class HttpTunnelTest : public HttpConnectionTest, public testing::WithParamInterface<int> {};

// Time-outs of 0 and below mean none, for the tunnel as for the connection.
TEST_P(HttpTunnelTest, RefusedTunnelIsIgnoredByPlainHttp) {
    std::string connect;
    LocalServer proxy([&](int fd) {
        connect = readHead(fd);
        usleep(100000);  // a proxy that takes its time
        sendAll(fd, "HTTP/1.0 403 Forbidden\r\n\r\n");
        received_ = readRequest(fd);
        sendAll(fd, okResponse("after"));
    });
    HttpConnection connection;
    connection.setTimeout(GetParam());
    connection.setTunnel(true);
    connection.setProxy("127.0.0.1", proxy.port());
    connection.setProxyCredentials("user", "pass");
    HttpRequest request(URL(String("http://target.invalid:8080/p")));
    ASSERT_TRUE(connection.sendAndReceive(request, response_));
    EXPECT_EQ(response_.getStatus(), 200);
    EXPECT_EQ(bodyOf(response_), "after");
    connection.close();
    proxy.stop();
    EXPECT_EQ(connect,
              "CONNECT target.invalid:8080 HTTP/1.0\r\n"
              "Host: target.invalid:8080\r\n"
              "User-Agent: Mozilla/4.0\r\n"
              "Proxy-authorization: Basic dXNlcjpwYXNz\r\n\r\n");
    // Tunnelled requests carry no proxy authorization of their own.
    EXPECT_EQ(received_.find("Proxy-authorization"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Timeouts, HttpTunnelTest, testing::Values(2000, 0, -1),
                         [](const testing::TestParamInfo<int>& info) {
                             return info.param > 0 ? "Limited" : info.param == 0 ? "Zero" : "None";
                         });

TEST_F(HttpConnectionTest, ConnectionFailuresRaise) {
    HttpConnection connection;
    connection.setTimeout(2000);
    HttpRequest request(URL("http", "127.0.0.1", closedPort(), "/"));
    try {
        connection.sendAndReceive(request, response_);
        ADD_FAILURE() << "no exception";
    } catch (const SocketException& e) {
        EXPECT_EQ(e.getMessage(), "EC_CONNECT_REFUSED: connecting refused failed");
    }
    EXPECT_FALSE(connection.isConnected());
}

// A 407 from the proxy, to a forwarded request or to CONNECT, is its own
// proxy failure; a 407 that did not come from a proxy is just an answer.
TEST_F(HttpConnectionTest, ProxyAuthenticationRequiredRaisesOnlyFromTheProxy) {
    struct Case {
        const char* name;
        bool proxy;
        bool tunnel;
        bool raises;
    };
    const Case cases[] = {{"Forwarded", true, false, true},
                          {"Connect", true, true, true},
                          {"Direct", false, false, false}};
    for (const Case& c : cases) {
        LocalServer server([](int fd) {
            readHead(fd);
            sendAll(fd, "HTTP/1.0 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n");
        });
        HttpConnection connection;
        connection.setTimeout(2000);
        connection.setTunnel(c.tunnel);
        HttpRequest request(URL("http", "127.0.0.1", server.port(), "/x"));
        if (c.proxy) {
            connection.setProxy("127.0.0.1", server.port());
            request.setURL(URL(String("http://update.example.invalid/x")));
        }
        std::string message = "no exception";
        try {
            connection.sendAndReceive(request, response_);
        } catch (const IOException& e) {
            message = e.getMessage().str();
        }
        EXPECT_EQ(message, c.raises ? HttpConnection::kProxyAuthenticationFailed : "no exception")
            << c.name;
        connection.close();
    }
}

TEST_F(HttpConnectionTest, IPv6LiteralKeepsItsBracketsOnTheWire) {
    HttpConnection connection;
    connection.setTimeout(2000);
    HttpRequest request(URL(String("http://[2001:db8::5]:8080/lm/update")));
    std::string connect;
    LocalServer proxy([&](int fd) {
        connect = readHead(fd);
        sendAll(fd, "HTTP/1.0 200 Connection established\r\n\r\n");
        received_ = readRequest(fd);
        sendAll(fd, okResponse("ok"));
    });
    connection.setTunnel(true);
    connection.setProxy("[::ffff:127.0.0.1]", proxy.port());
    ASSERT_TRUE(connection.sendAndReceive(request, response_));
    connection.close();
    proxy.stop();
    EXPECT_EQ(
        connect.rfind("CONNECT [2001:db8::5]:8080 HTTP/1.0\r\nHost: [2001:db8::5]:8080\r\n", 0), 0u)
        << connect;
    EXPECT_EQ(received_.rfind("GET http://[2001:db8::5]:8080/lm/update HTTP/1.0\r\n", 0), 0u);
    EXPECT_NE(received_.find("Host: [2001:db8::5]:8080\r\n"), std::string::npos);
}
}  // namespace
