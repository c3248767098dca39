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
#include <utility>
#include <vector>

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

// The value of a header of a raw answer, "" when absent.
std::string headerOf(const std::string& answer, const std::string& name) {
    auto at = answer.find("\r\n" + name + ": ");
    if (at == std::string::npos || at > answer.find("\r\n\r\n")) {
        return {};
    }
    at += name.size() + 4;
    return answer.substr(at, answer.find("\r\n", at) - at);
}

using Parts = std::vector<std::pair<std::string, std::string>>;

// The parts of a multipart/byteranges answer as a client frames them by the
// boundary: each part's Content-Range and bytes; {} when the body does not
// frame.
Parts multipartParts(const std::string& answer) {
    std::string type = headerOf(answer, "Content-Type");
    auto named = type.find("boundary=");
    if (type.rfind("multipart/byteranges;", 0) != 0 || named == std::string::npos) {
        return {};
    }
    std::string delimiter = "--" + type.substr(named + 9);
    std::string body = bodyOf(answer);
    if (body.rfind(delimiter + "\r\n", 0) != 0) {
        return {};
    }
    Parts parts;
    for (size_t at = delimiter.size(); body.compare(at, 2, "--") != 0;) {
        auto data = body.find("\r\n\r\n", at);
        auto next = body.find("\r\n" + delimiter, at);
        if (data == std::string::npos || next == std::string::npos || next < data) {
            return {};
        }
        // The part head starts with the line end after the delimiter.
        std::string head = body.substr(at, data - at) + "\r\n\r\n";
        parts.emplace_back(headerOf(head, "Content-Range"), body.substr(data + 4, next - data - 4));
        at = next + 2 + delimiter.size();
    }
    return parts;
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

// Range lists and the switches a block-delta client meets: parts in the
// order asked, 416, and the answers that must send it back to a full
// download. The body is digits(10000): byte p is '0' + p % 10.
TEST(TestServerTest, RangeListsGetPartsOr416OrTheWholeBody) {
    struct Case {
        const char* switches;
        const char* range;
        int status;
        const char* contentRange;  // of a single-range or 416 answer
        std::string body;          // of a single-range, 200 or 416 answer
        Parts parts;               // of a multipart answer, as framed
    };
    const std::string whole = digits(10000);
    const std::string garbled = "--9876543210segnaRtseTmL";
    const std::vector<Case> cases = {
        {"", "bytes=100-104", 206, "bytes 100-104/10000", "01234", {}},
        {"", "bytes=-3", 206, "bytes 9997-9999/10000", "789", {}},
        {"",
         "bytes=9995-, 3-5,0-0",
         206,
         "",
         "",
         {{"bytes 9995-9999/10000", "56789"},
          {"bytes 3-5/10000", "345"},
          {"bytes 0-0/10000", "0"}}},
        {"", "bytes=20000-,7-8", 206, "bytes 7-8/10000", "78", {}},
        {"", "bytes=10000-,20000-20001", 416, "bytes */10000", "", {}},
        {"", "bytes=5-2", 200, "", whole, {}},
        {R"("max_ranges": 0,)", "bytes=3-5", 200, "", whole, {}},
        {R"("max_ranges": 1,)", "bytes=3-5,7-8", 200, "", whole, {}},
        {R"("max_ranges": 2,)",
         "bytes=3-5,7-8",
         206,
         "",
         "",
         {{"bytes 3-5/10000", "345"}, {"bytes 7-8/10000", "78"}}},
        {R"("range_416": true,)", "bytes=0-", 416, "bytes */10000", "", {}},
        {R"("tamper_ranges": true,)",
         "bytes=0-1",
         206,
         "bytes 0-1/10000",
         "\xcf"
         "1",
         {}},
        {R"("tamper_ranges": true,)",
         "bytes=0-1,4-4",
         206,
         "",
         "",
         {{"bytes 0-1/10000",
           "\xcf"
           "1"},
          {"bytes 4-4/10000", "4"}}},
        // The garbled delimiter does not end the first part: it runs on to
        // the closing delimiter.
        {R"("broken_multipart": true,)",
         "bytes=0-3,10-13",
         206,
         "",
         "",
         {{"bytes 0-3/10000", "0123\r\n" + garbled +
                                  "\r\nContent-Type: application/octet-stream\r\n"
                                  "Content-Range: bytes 10-13/10000\r\n\r\n0123"}}},
    };
    TempRoot dir;
    dir.write("pkg.bin", whole);
    std::string routes;
    for (size_t i = 0; i < cases.size(); ++i) {
        routes += std::string(i ? "," : "") + "\"GET /f" + std::to_string(i) + "\": {" +
                  cases[i].switches + R"("body_file": )" + jsonString(dir.file("pkg.bin")) + "}";
    }
    TestServer server(R"({"routes": {)" + routes + "}}");
    int64_t sent = 0, bodies = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(std::string(c.switches) + " Range: " + c.range);
        std::string answer =
            exchange(server.port(),
                     "GET /f" + std::to_string(i) + " HTTP/1.0\r\nRange: " + c.range + "\r\n\r\n");
        sent += static_cast<int64_t>(answer.size());
        bodies += static_cast<int64_t>(bodyOf(answer).size());
        EXPECT_EQ(answer.rfind("HTTP/1.0 " + std::to_string(c.status) + " ", 0), 0u) << answer;
        EXPECT_EQ(headerOf(answer, "Content-Length"), std::to_string(bodyOf(answer).size()));
        EXPECT_EQ(headerOf(answer, "Content-Range"), c.contentRange);
        EXPECT_EQ(multipartParts(answer), c.parts);
        if (c.parts.empty()) {
            EXPECT_EQ(bodyOf(answer), c.body);
        }
    }
    EXPECT_EQ(server.bytesSent(), sent);
    EXPECT_EQ(server.bodyBytesSent(), bodies);
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
