#include "LmUpdateClientFixture.h"
#include "RecordBuilders.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <sstream>

std::string LmUpdateClientFixture::refusingHost() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    ::close(fd);  // nothing listens there any more
    return "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
}

void LmUpdateClientFixture::useServers(const std::vector<std::string>& hosts,
                                       const std::string& attributes, const std::string& extra) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<LmNetClientSettings>\n"
        "<ServerList " +
        attributes + " mac=\"" + kMac + "\">\n";
    for (const auto& host : hosts) {
        xml += "<Server host=\"" + host + "\"/>\n";
    }
    xml += "</ServerList>\n" + extra + "</LmNetClientSettings>\n";
    root().write("conf/network.xml", xml);
    ASSERT_NE(LmNetConfig::getInstance().load(root().file("conf/network.xml").c_str()), 0);
}

void LmUpdateClientFixture::addProduct(int id, const std::string& version,
                                       const std::string& serial, const std::string& parent,
                                       const std::string& installPath) {
    const std::string name = "product" + std::to_string(id);
    const std::string desc = "Product " + std::to_string(id);
    LmProduct product = productRecord(id, name.c_str(), version.c_str(),
                                      {.installPath = installPath.c_str(),
                                       .versionStatus = "release",
                                       .desc = desc.c_str(),
                                       .serialNo = serial.c_str(),
                                       .parent = parent.c_str()});
    LmUpdateStore& store = LmUpdateStore::instance();
    store.removeProduct(id);
    ASSERT_TRUE(store.addProduct(product));
    ASSERT_TRUE(store.save());
}

LmUpdateClientFixture::Output LmUpdateClientFixture::capture(const std::function<void()>& f) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    f();
    std::fflush(stdout);
    Output output;
    output.log = testing::internal::GetCapturedStderr();
    output.out = testing::internal::GetCapturedStdout();
    return output;
}

std::vector<std::string> LmUpdateClientFixture::progressLines() {
    std::vector<std::string> lines;
    if (!root().exists("tmp/progress")) {
        return lines;
    }
    std::istringstream in(root().read("tmp/progress"));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> LmUpdateClientFixture::lmHeaderNames(const RecordedRequest& request) {
    std::vector<std::string> names;
    for (const auto& header : request.headers) {
        if (header.first.rfind("X-Lm-", 0) == 0) {
            names.push_back(header.first);
        }
    }
    return names;
}

std::filesystem::file_time_type LmUpdateClientFixture::backdate(const std::string& path) {
    auto earlier = std::filesystem::last_write_time(path) - std::chrono::hours(1);
    std::filesystem::last_write_time(path, earlier);
    return earlier;
}
