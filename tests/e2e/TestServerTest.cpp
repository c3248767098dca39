// Checks of the test update server's own fault switches: the other tests
// rely on them doing exactly what they say.
#include "TestServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <string>

#include "TempRoot.h"

namespace {

// Sends raw bytes to 127.0.0.1:port (or [::1]:port) and returns all that
// comes back.
std::string exchange(int port, const std::string& request, bool ipv6 = false) {
    int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    sockaddr_storage storage{};
    socklen_t size = 0;
    if (ipv6) {
        auto* addr = reinterpret_cast<sockaddr_in6*>(&storage);
        addr->sin6_family = AF_INET6;
        addr->sin6_port = htons(static_cast<uint16_t>(port));
        addr->sin6_addr = in6addr_loopback;
        size = sizeof *addr;
    } else {
        auto* addr = reinterpret_cast<sockaddr_in*>(&storage);
        addr->sin_family = AF_INET;
        addr->sin_port = htons(static_cast<uint16_t>(port));
        addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        size = sizeof *addr;
    }
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&storage), size) != 0) {
        ::close(fd);
        ADD_FAILURE() << "cannot connect to the test server";
        return {};
    }
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buffer[8192];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        answer.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return answer;
}

std::string bodyOf(const std::string& answer) {
    auto at = answer.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : answer.substr(at + 4);
}

// The bytes zlib inflates from coded (windowBits as deflateInit2 takes it).
std::string inflated(const std::string& coded, int windowBits) {
    z_stream z{};
    inflateInit2(&z, windowBits);
    std::string out(1 << 20, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(coded.data()));
    z.avail_in = static_cast<uInt>(coded.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    int result = inflate(&z, Z_FINISH);
    out.resize(z.total_out);
    inflateEnd(&z);
    return result == Z_STREAM_END ? out : "inflate failed";
}

bool hasIPv6Loopback() {
    int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_loopback;
    bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return ok;
}

std::string digits(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += static_cast<char>('0' + i % 10);
    }
    return text;
}

}  // namespace

TEST(TestServerTest, RecordsRequestAndServesSequenceWhoseLastAnswerRepeats) {
    TestServer server(R"({"routes": {"POST /lm/update": [
        {"status": 200, "body": "first"}, {"status": 401, "body": "second"}]}})");
    std::string post = "POST /lm/update HTTP/1.0\r\nX-Id: 7\r\nContent-Length: 5\r\n\r\nhello";
    EXPECT_EQ(bodyOf(exchange(server.port(), post)), "first");
    EXPECT_NE(exchange(server.port(), post).find("HTTP/1.0 401 "), std::string::npos);
    EXPECT_NE(exchange(server.port(), post).find("HTTP/1.0 401 "), std::string::npos);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].requestLine, "POST /lm/update HTTP/1.0");
    EXPECT_EQ(requests[0].header("x-id"), "7");
    EXPECT_EQ(requests[0].body, "hello");
}

TEST(TestServerTest, QueryFallsBackToPathRouteAndUnknownPathIs404) {
    TestServer server(R"({"routes": {"GET /control": {"body": "pong"}}})");
    EXPECT_EQ(bodyOf(exchange(server.port(), "GET /control?act=ping HTTP/1.0\r\n\r\n")), "pong");
    EXPECT_NE(exchange(server.port(), "GET /other HTTP/1.0\r\n\r\n").find(" 404 "),
              std::string::npos);
}

TEST(TestServerTest, RangeGives206WithTheRestAndContentRange) {
    TempRoot dir;
    dir.write("pkg.bin", digits(10000));
    TestServer server(R"({"routes": {"GET /f": {"body_file": )" + jsonString(dir.file("pkg.bin")) +
                      "}}}");
    std::string answer = exchange(server.port(), "GET /f HTTP/1.0\r\nRange: bytes=3000-\r\n\r\n");
    EXPECT_NE(answer.find("HTTP/1.0 206 "), std::string::npos);
    EXPECT_NE(answer.find("Content-Length: 7000\r\n"), std::string::npos);
    EXPECT_NE(answer.find("Content-Range: bytes 3000-9999/10000\r\n"), std::string::npos);
    EXPECT_EQ(bodyOf(answer), digits(10000).substr(3000));
}

TEST(TestServerTest, FaultSwitchesCutRelabelOrReplaceTheAnswer) {
    TestServer server(R"({"routes": {
        "GET /cut": {"body_repeat": "ab", "body_count": 5000, "close_after": 3000},
        "GET /whole": {"body": "0123456789", "ignore_range": true},
        "GET /lie": {"body": "short", "content_length": 100},
        "GET /junk": {"garbage": "not http at all"}}})");
    std::string cut = exchange(server.port(), "GET /cut HTTP/1.0\r\n\r\n");
    EXPECT_NE(cut.find("Content-Length: 10000\r\n"), std::string::npos);
    EXPECT_EQ(bodyOf(cut).size(), 3000u);
    std::string whole = exchange(server.port(), "GET /whole HTTP/1.0\r\nRange: bytes=4-\r\n\r\n");
    EXPECT_NE(whole.find("HTTP/1.0 200 "), std::string::npos);
    EXPECT_EQ(bodyOf(whole), "0123456789");
    std::string lie = exchange(server.port(), "GET /lie HTTP/1.0\r\n\r\n");
    EXPECT_NE(lie.find("Content-Length: 100\r\n"), std::string::npos);
    EXPECT_EQ(bodyOf(lie), "short");
    EXPECT_EQ(exchange(server.port(), "GET /junk HTTP/1.0\r\n\r\n"), "not http at all");
}

TEST(TestServerTest, NewConfigurationTakesEffect) {
    TestServer server(R"({"default": {"body": "old"}})");
    EXPECT_EQ(bodyOf(exchange(server.port(), "GET / HTTP/1.0\r\n\r\n")), "old");
    server.setConfig(R"({"default": {"body": "new"}})");
    EXPECT_EQ(bodyOf(exchange(server.port(), "GET / HTTP/1.0\r\n\r\n")), "new");
}

TEST(TestServerTest, ProxyForwardsAbsoluteUriOnlyWithCredentials) {
    TestServer origin(R"({"default": {"body": "from origin"}})");
    TestServer::Options options;
    options.proxy = true;
    options.proxyAuth = "user:secret";
    TestServer proxy("{}", options);
    std::string request = "GET " + origin.url("/x?y=1") + " HTTP/1.0\r\n";
    EXPECT_NE(exchange(proxy.port(), request + "\r\n").find(" 407 "), std::string::npos);
    // base64("user:wrong")
    EXPECT_NE(
        exchange(proxy.port(), request + "Proxy-authorization: Basic dXNlcjp3cm9uZw==\r\n\r\n")
            .find(" 407 "),
        std::string::npos);
    // base64("user:secret")
    std::string answer =
        exchange(proxy.port(), request + "Proxy-authorization: Basic dXNlcjpzZWNyZXQ=\r\n\r\n");
    EXPECT_EQ(bodyOf(answer), "from origin");
    auto seen = origin.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].requestLine, "GET /x?y=1 HTTP/1.0");
    EXPECT_FALSE(seen[0].hasHeader("Proxy-authorization"));
    EXPECT_TRUE(proxy.requests().at(1).proxied);
}

TEST(TestServerTest, EncodingSwitchCompressesTheBody) {
    struct Case {
        const char* encoding;
        const char* header;
        int windowBits;
    };
    TestServer server(R"({"routes": {
        "GET /gzip": {"body_repeat": "update ", "body_count": 500, "encoding": "gzip"},
        "GET /deflate": {"body_repeat": "update ", "body_count": 500, "encoding": "deflate"},
        "GET /raw-deflate": {"body_repeat": "update ", "body_count": 500,
                             "encoding": "raw-deflate"}}})");
    std::string plain;
    for (int i = 0; i < 500; ++i) {
        plain += "update ";
    }
    for (const Case& c : {Case{"gzip", "gzip", 31}, Case{"deflate", "deflate", 15},
                          Case{"raw-deflate", "deflate", -15}}) {
        std::string answer =
            exchange(server.port(), "GET /" + std::string(c.encoding) + " HTTP/1.0\r\n\r\n");
        std::string body = bodyOf(answer);
        EXPECT_NE(answer.find("Content-Encoding: " + std::string(c.header) + "\r\n"),
                  std::string::npos)
            << c.encoding;
        EXPECT_NE(answer.find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
                  std::string::npos)
            << c.encoding;
        EXPECT_LT(body.size(), plain.size()) << c.encoding;
        EXPECT_EQ(inflated(body, c.windowBits), plain) << c.encoding;
    }
}

TEST(TestServerTest, RedirectSwitchSendsRelativeOrAbsoluteLocation) {
    TestServer server(R"({"routes": {
        "GET /moved": {"redirect": "/pkg/new.zip", "status": 301},
        "GET /found": {"redirect": "/pkg/new.zip"},
        "GET /absolute": {"redirect": "/pkg/new.zip", "status": 308, "absolute_location": true}}})");
    std::string moved = exchange(server.port(), "GET /moved HTTP/1.0\r\n\r\n");
    EXPECT_EQ(moved.rfind("HTTP/1.0 301 Moved Permanently\r\n", 0), 0u) << moved;
    EXPECT_NE(moved.find("Location: /pkg/new.zip\r\n"), std::string::npos);
    EXPECT_EQ(exchange(server.port(), "GET /found HTTP/1.0\r\n\r\n").rfind("HTTP/1.0 302 ", 0), 0u);
    std::string host = "127.0.0.1:" + std::to_string(server.port());
    std::string absolute =
        exchange(server.port(), "GET /absolute HTTP/1.0\r\nHost: " + host + "\r\n\r\n");
    EXPECT_EQ(absolute.rfind("HTTP/1.0 308 Permanent Redirect\r\n", 0), 0u) << absolute;
    EXPECT_NE(absolute.find("Location: http://" + host + "/pkg/new.zip\r\n"), std::string::npos);
}

TEST(TestServerTest, CloseDelimitedBodyHasNoContentLength) {
    TestServer server(R"({"routes": {"GET /f": {"body": "all of it", "content_length": -1}}})");
    std::string answer = exchange(server.port(), "GET /f HTTP/1.0\r\n\r\n");
    EXPECT_EQ(answer.find("Content-Length"), std::string::npos) << answer;
    EXPECT_EQ(bodyOf(answer), "all of it");
}

TEST(TestServerTest, ListensOnIPv6LoopbackAndProxiesToIt) {
    if (!hasIPv6Loopback()) {
        GTEST_SKIP() << "no IPv6 loopback (::1) on this machine";
    }
    TestServer::Options v6;
    v6.ipv6 = true;
    TestServer origin(R"({"default": {"body": "over ipv6"}})", v6);
    EXPECT_EQ(origin.url("/x"), "http://[::1]:" + std::to_string(origin.port()) + "/x");
    EXPECT_EQ(bodyOf(exchange(origin.port(), "GET /x HTTP/1.0\r\n\r\n", true)), "over ipv6");
    v6.proxy = true;
    TestServer proxy("{}", v6);
    std::string answer =
        exchange(proxy.port(), "GET " + origin.url("/y") + " HTTP/1.0\r\n\r\n", true);
    EXPECT_EQ(bodyOf(answer), "over ipv6");
    ASSERT_EQ(origin.requests().size(), 2u);
    EXPECT_EQ(origin.requests()[1].requestLine, "GET /y HTTP/1.0");
}
