#include "net/ClientSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "LocalServer.h"
#include "SystemLog.h"

namespace {
// The message of the SocketException that operation raises on socket.
template <class Operation>
std::string messageOf(ClientSocket& socket, Operation operation) {
    try {
        operation(socket);
    } catch (const SocketException& e) {
        return e.getMessage().str();
    }
    return "no exception";
}

std::string openMessage(ClientSocket& socket) {
    return messageOf(socket, [](ClientSocket& s) { return s.open(); });
}

std::string readMessage(ClientSocket& socket) {
    return messageOf(socket, [](ClientSocket& s) {
        char buffer[16];
        return s.read(buffer, sizeof buffer);
    });
}

// A raw non-blocking client connection; closed by the destructor.
struct RawConnection {
    explicit RawConnection(int port) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    ~RawConnection() { ::close(fd); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;
    int fd = -1;
};

TEST(ClientSocketTest, ConnectsReadsWritesAndSeesPeerClose) {
    std::string received;
    LocalServer server([&](int fd) {
        received = readHead(fd);
        sendAll(fd, "pong");
    });
    ClientSocket socket("127.0.0.1", server.port());
    socket.setTimeout(2000);
    EXPECT_EQ(socket.getLocalAddress(), nullptr);
    ASSERT_EQ(socket.open(), 0);
    EXPECT_EQ(socket.getState(), ClientSocket::kConnected);
    ASSERT_NE(socket.getLocalAddress(), nullptr);
    EXPECT_EQ(socket.getLocalAddress()->getHostAddress(), "127.0.0.1");
    EXPECT_EQ(socket.write("ping\r\n\r\n", 8), 8);
    char buffer[16] = {};
    std::string reply;
    int n = 0;
    while ((n = socket.read(buffer, sizeof buffer)) > 0) {
        reply.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(n, 0);  // the server closed
    EXPECT_EQ(reply, "pong");
    server.stop();
    EXPECT_EQ(received, "ping\r\n\r\n");
}

TEST(ClientSocketTest, OpenOnlyFromTheCreatedState) {
    LocalServer server([](int fd) { readUntilClosed(fd); });
    ClientSocket socket("127.0.0.1", server.port());
    ASSERT_EQ(socket.open(), 0);
    EXPECT_EQ(socket.open(), -1);
    socket.close();
    EXPECT_EQ(socket.getState(), ClientSocket::kClosed);
    EXPECT_EQ(socket.getLocalAddress(), nullptr);
    EXPECT_EQ(socket.open(), -1);
}

TEST(ClientSocketTest, ArgumentGuardsReturnMinusOneWithoutWaiting) {
    LocalServer server([](int fd) { readUntilClosed(fd); });
    ClientSocket socket("127.0.0.1", server.port());
    socket.open();
    char buffer[4];
    EXPECT_EQ(socket.read(buffer, 0), -1);
    EXPECT_EQ(socket.read(nullptr, 4), -1);
    EXPECT_EQ(socket.write(nullptr, 4), -1);
    EXPECT_EQ(socket.write("x", 0), -1);
}

TEST(ClientSocketTest, UnresolvableHostFailsAtOpenWithoutConnecting) {
    ClientSocket socket("", 80);
    EXPECT_EQ(socket.getRemoteAddress(), nullptr);
    EXPECT_EQ(openMessage(socket), "EC_INVALID_HOST: invalid remote host");
    EXPECT_EQ(socket.getState(), ClientSocket::kCreated);
}

TEST(ClientSocketTest, PortsOutsideTcpFailWithoutConnecting) {
    for (int port : {-1, 65536, 65536 + 80}) {
        ClientSocket socket("127.0.0.1", port);
        EXPECT_EQ(openMessage(socket), "EC_CONNECT_FAILED: connecting failed") << port;
        EXPECT_EQ(socket.getState(), ClientSocket::kCreated) << port;
    }
}

TEST(ClientSocketTest, RefusedConnection) {
    ClientSocket socket("127.0.0.1", closedPort());
    socket.setTimeout(2000);
    // A non-blocking connect learns of the refusal while under way.
    EXPECT_EQ(openMessage(socket), "EC_CONNECT_REFUSED: connecting refused failed");
    EXPECT_EQ(socket.getState(), ClientSocket::kCreated);
}

TEST(ClientSocketTest, ConnectErrorReportedAtOnce) {
    // No TCP connection to a broadcast address: connect itself says so.
    ClientSocket socket(InetAddress(htonl(INADDR_BROADCAST)), 80);
    socket.setTimeout(1000);
    SystemLog::setEcho(true);
    testing::internal::CaptureStderr();
    EXPECT_EQ(openMessage(socket), "EC_CONNECT_FAILED: connecting failed");
    std::string log = testing::internal::GetCapturedStderr();
    SystemLog::setEcho(false);
    EXPECT_NE(log.find("ClientSocket::open: "), std::string::npos) << log;
    EXPECT_EQ(log.find("timeouted"), std::string::npos) << log;
    EXPECT_EQ(socket.getState(), ClientSocket::kCreated);
}

TEST(ClientSocketTest, ConnectTimesOutWhenTheBacklogIsFull) {
    int port = 0;
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    // Never accepted: these fill the queue, so later SYNs go unanswered.
    std::vector<std::unique_ptr<RawConnection>> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(std::make_unique<RawConnection>(port));
    }
    usleep(100000);

    ClientSocket socket("127.0.0.1", port);
    socket.setTimeout(1000);
    EXPECT_EQ(openMessage(socket), "EC_CONNECT_TIMEOUT: connecting timeout");
    ::close(listener);
}

TEST(ClientSocketTest, ReadTimesOutAgainstASilentServer) {
    LocalServer server([](int fd) { readUntilClosed(fd); });
    ClientSocket socket("127.0.0.1", server.port());
    socket.setTimeout(1000);
    ASSERT_EQ(socket.open(), 0);
    SystemLog::setEcho(true);
    testing::internal::CaptureStderr();
    EXPECT_EQ(readMessage(socket), "EC_READ_TIMEOUT: reading data from socket timeout");
    std::string log = testing::internal::GetCapturedStderr();
    SystemLog::setEcho(false);
    EXPECT_NE(log.find("ClientSocket::read: timeouted"), std::string::npos) << log;
    // Still usable for close after a raise.
    socket.close();
    EXPECT_EQ(socket.getState(), ClientSocket::kClosed);
}

TEST(ClientSocketTest, ReadAndWriteAfterCloseFail) {
    ClientSocket socket("127.0.0.1", closedPort());
    socket.setTimeout(1000);
    SystemLog::setEcho(true);
    testing::internal::CaptureStderr();
    socket.close();  // releases its descriptor; nothing opens another before the reads
    EXPECT_EQ(readMessage(socket), "EC_READ_FAILED: reading data from socket failed");
    EXPECT_EQ(messageOf(socket, [](ClientSocket& s) { return s.write("x", 1); }),
              "EC_WRITE_FAILED: sending data on socket failed");
    std::string log = testing::internal::GetCapturedStderr();
    SystemLog::setEcho(false);
    EXPECT_NE(log.find(std::string("ClientSocket::read: ") + strerror(EBADF)), std::string::npos)
        << log;
    EXPECT_NE(log.find(std::string("ClientSocket::write: ") + strerror(EBADF)), std::string::npos)
        << log;
}

TEST(ClientSocketTest, LargeWriteReportsWhatWasSent) {
    std::string received;
    LocalServer server([&](int fd) { received = readUntilClosed(fd); });
    std::string data(100000, 'x');
    size_t total = 0;
    {
        ClientSocket socket("127.0.0.1", server.port());
        socket.setTimeout(2000);
        socket.open();
        while (total < data.size()) {
            int n = socket.write(data.data() + total, static_cast<int>(data.size() - total));
            ASSERT_GT(n, 0);
            total += static_cast<size_t>(n);
        }
    }
    server.stop();
    EXPECT_EQ(received.size(), total);
}

TEST(ClientSocketTest, AdoptedDescriptorStaysOpenAfterClose) {
    LocalServer server([](int fd) { readUntilClosed(fd); });
    ClientSocket owner("127.0.0.1", server.port());
    ASSERT_EQ(owner.open(), 0);
    {
        ClientSocket adopted(owner.getFD());
        EXPECT_EQ(adopted.getState(), ClientSocket::kConnected);
        EXPECT_EQ(adopted.open(), -1);
        ASSERT_NE(adopted.getRemoteAddress(), nullptr);
        EXPECT_EQ(adopted.getRemoteAddress()->getHostAddress(), "127.0.0.1");
        EXPECT_EQ(adopted.write("a", 1), 1);
        adopted.close();
    }
    EXPECT_NE(fcntl(owner.getFD(), F_GETFD), -1);
    EXPECT_EQ(owner.write("b", 1), 1);
}

TEST(ClientSocketTest, AdoptingANonSocketRaisesTheSystemError) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    try {
        ClientSocket adopted(fds[0]);
        ADD_FAILURE() << "adopted a pipe";
    } catch (const SocketException& e) {
        EXPECT_EQ(e.getMessage(), strerror(ENOTSOCK));
    }
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(InetAddressTest, NamesAndDottedNumbers) {
    auto byNumber = InetAddress::byName("127.0.0.1");
    ASSERT_NE(byNumber, nullptr);
    EXPECT_EQ(byNumber->getHostAddress(), "127.0.0.1");
    EXPECT_EQ(byNumber->getAddress(), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(byNumber->getHostName(), "localhost");  // asked of the resolver
    auto byName = InetAddress::byName("localhost");
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(byName->getHostAddress(), "127.0.0.1");
    EXPECT_EQ(byName->getHostName(), "localhost");
    EXPECT_EQ(InetAddress::byName(""), nullptr);
    EXPECT_EQ(InetAddress(htonl(INADDR_LOOPBACK), "x.a.b").getHostName(), "x.a.b");
}

struct LiteralCase {
    const char* text;
    const char* address;  // numeric text, never bracketed
    bool v6;
    const char* bracketed;
};

class InetAddressLiteralTest : public testing::TestWithParam<LiteralCase> {};

TEST_P(InetAddressLiteralTest, ResolvesEitherFamily) {
    const LiteralCase& c = GetParam();
    auto address = InetAddress::byName(c.text);
    ASSERT_NE(address, nullptr) << c.text;
    EXPECT_EQ(address->getHostAddress(), c.address);
    EXPECT_EQ(address->isIPv6(), c.v6);
    EXPECT_EQ(address->getBracketedAddress(), c.bracketed);
}

INSTANTIATE_TEST_SUITE_P(Literals, InetAddressLiteralTest,
                         testing::Values(LiteralCase{"127.0.0.1", "127.0.0.1", false, "127.0.0.1"},
                                         LiteralCase{"::1", "::1", true, "[::1]"},
                                         LiteralCase{"[::1]", "::1", true, "[::1]"},
                                         LiteralCase{"2001:DB8::A", "2001:db8::a", true,
                                                     "[2001:db8::a]"}));

TEST(InetAddressTest, UnbalancedBracketsDoNotResolve) {
    EXPECT_EQ(InetAddress::byName("[::1"), nullptr);
    EXPECT_TRUE(InetAddress::allByName("::1]", 3).empty());
}

// A listening socket on ::1 (connects complete in its backlog without an
// accept); fd stays -1 where the machine has no IPv6 loopback.
struct V6Listener {
    V6Listener() {
        fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_loopback;
        socklen_t size = sizeof address;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(fd, 8) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            if (fd >= 0) {
                ::close(fd);
            }
            fd = -1;
            return;
        }
        port = ntohs(address.sin6_port);
    }
    ~V6Listener() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    V6Listener(const V6Listener&) = delete;
    V6Listener& operator=(const V6Listener&) = delete;
    int fd = -1;
    int port = 0;
};

TEST(ClientSocketTest, ConnectsOverIPv6ToBareOrBracketedLiteral) {
    V6Listener listener;
    if (listener.fd < 0) {
        GTEST_SKIP() << "no IPv6 loopback (::1) on this machine";
    }
    for (const char* host : {"::1", "[::1]"}) {
        ClientSocket socket(host, listener.port);
        socket.setTimeout(2000);
        ASSERT_EQ(socket.open(), 0) << host;
        EXPECT_EQ(socket.getRemoteAddress()->getHostAddress(), "::1");
        EXPECT_EQ(socket.getRemoteText(), "[::1]:" + std::to_string(listener.port));
        ASSERT_NE(socket.getLocalAddress(), nullptr);
        EXPECT_TRUE(socket.getLocalAddress()->isIPv6());
    }
}

TEST(ClientSocketTest, NextAddressOfTheOtherFamilyAfterARefusal) {
    V6Listener listener;
    if (listener.fd < 0) {
        GTEST_SKIP() << "no IPv6 loopback (::1) on this machine";
    }
    std::vector<SocketAddress> addresses{SocketAddress("127.0.0.1", closedPort()),
                                         SocketAddress("::1", listener.port)};
    ClientSocket socket(addresses);
    socket.setTimeout(2000);
    ASSERT_EQ(socket.open(), 0);
    EXPECT_EQ(socket.getRemoteText(), "[::1]:" + std::to_string(listener.port));
}

TEST(ClientSocketTest, AtMostThreeAddressesAreTried) {
    LocalServer server([](int fd) { readUntilClosed(fd); });
    std::vector<SocketAddress> addresses;
    for (int i = 0; i < 3; ++i) {
        addresses.emplace_back("127.0.0.1", closedPort());
    }
    addresses.emplace_back("127.0.0.1", server.port());  // never reached
    ClientSocket socket(addresses);
    socket.setTimeout(2000);
    EXPECT_EQ(openMessage(socket), "EC_CONNECT_REFUSED: connecting refused failed");
    EXPECT_EQ(socket.getRemoteText(), "127.0.0.1:" + std::to_string(addresses[2].getPort()));
    EXPECT_EQ(socket.getState(), ClientSocket::kCreated);
}
}  // namespace
