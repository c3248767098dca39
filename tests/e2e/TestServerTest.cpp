// Checks of the test update server's own fault switches: the other tests
// rely on them doing exactly what they say.
#include "TestServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "TempRoot.h"

namespace {

// Sends raw bytes to 127.0.0.1:port and returns all that comes back.
std::string exchange(int port, const std::string& request) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
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
