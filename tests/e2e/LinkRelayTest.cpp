// Checks of the link relay the flaky-link tests run through: what it lets
// through, when it resets, what it answers in place of the server. Byte
// counts and the relay's stats, never durations.
#include "LinkRelay.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "TestServer.h"

namespace {

struct Received {
    std::string bytes;
    int error = 0;  // errno of the read that ended it, 0 for an orderly end
};

// Sends a request to 127.0.0.1:port and reads until the end or an error.
Received exchange(int port, const std::string& request) {
    Received got;
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        ADD_FAILURE() << "cannot connect to the relay";
        return got;
    }
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[8192];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
        got.bytes.append(buffer, static_cast<size_t>(n));
    }
    got.error = n < 0 ? errno : 0;
    ::close(fd);
    return got;
}

const char* const kServer = R"({"routes": {"GET /f": {"body_repeat": "0123456789",
                                                      "body_count": 10000}}})";
const std::string kGet = "GET /f HTTP/1.0\r\n\r\n";

LinkRelay::Options shaped() {
    LinkRelay::Options o;
    o.rateBytesPerSecond = 1000000;
    o.latencyMs = 40;
    o.stallSeconds = 0.05;
    o.stallEverySeconds = 0.15;
    return o;
}

LinkRelay::Options resetAfterBytes(int64_t bytes) {
    LinkRelay::Options o;
    o.resetEveryBytes = bytes;
    return o;
}

// 100,000 bytes at 20,000 B/s would take 5 s: a reset every 0.2 s comes
// first, whenever the connection starts.
LinkRelay::Options resetByTheClock() {
    LinkRelay::Options o;
    o.rateBytesPerSecond = 20000;
    o.resetEverySeconds = 0.2;
    return o;
}

}  // namespace

// One answer of 100,000 body bytes through the relay: whole and in order
// when only shaped, cut by an RST at a reset.
TEST(LinkRelayTest, ShapedLinkDeliversAllAndResetsCutWithAnRst) {
    struct Case {
        const char* name;
        LinkRelay::Options options;
        bool whole;
        int64_t bytesToClient;  // -1: the whole answer
    };
    const std::vector<Case> cases = {
        {"rate, latency and stalls", shaped(), true, -1},
        {"a reset every 3000 bytes", resetAfterBytes(3000), false, 3000},
        {"a reset every 0.2 s", resetByTheClock(), false, -1},
    };
    TestServer server(kServer);
    const std::string direct = exchange(server.port(), kGet).bytes;
    ASSERT_EQ(direct.size() - direct.find("\r\n\r\n") - 4, 100000u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LinkRelay relay(server.port(), c.options);
        Received got = exchange(relay.port(), kGet);
        EXPECT_EQ(relay.connections(), 1);
        if (c.whole) {
            EXPECT_EQ(got.error, 0);
            EXPECT_EQ(got.bytes, direct);
            EXPECT_EQ(relay.bytesToClient(), static_cast<int64_t>(direct.size()));
            EXPECT_EQ(relay.resets(), 0);
            continue;
        }
        EXPECT_EQ(got.error, ECONNRESET);
        EXPECT_EQ(relay.resets(), 1);
        EXPECT_LT(got.bytes.size(), direct.size());
        EXPECT_EQ(got.bytes, direct.substr(0, got.bytes.size()));
        EXPECT_LE(static_cast<int64_t>(got.bytes.size()), relay.bytesToClient());
        if (c.bytesToClient >= 0) {
            EXPECT_EQ(relay.bytesToClient(), c.bytesToClient);
        }
    }
}

TEST(LinkRelayTest, FirstRequestsGet503WithRetryAfterThenPassThrough) {
    TestServer server(kServer);
    LinkRelay::Options options;
    options.unavailableRequests = 2;
    options.retryAfter = "Wed, 21 Oct 2026 07:28:00 GMT";
    LinkRelay relay(server.port(), options);
    const std::string refusal =
        "HTTP/1.1 503 Service Unavailable\r\nRetry-After: Wed, 21 Oct 2026 07:28:00 GMT\r\n"
        "Content-Length: 0\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(exchange(relay.port(), kGet).bytes, refusal);
    EXPECT_EQ(exchange(relay.port(), kGet).bytes, refusal);
    Received third = exchange(relay.port(), kGet);
    EXPECT_EQ(third.bytes.rfind("HTTP/1.0 200 ", 0), 0u) << third.bytes.substr(0, 100);
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(relay.connections(), 3);
    EXPECT_EQ(relay.bytesToClient(), static_cast<int64_t>(2 * refusal.size() + third.bytes.size()));
}
