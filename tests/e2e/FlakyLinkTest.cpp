// Update runs whose package comes over a bad link (the link relay between
// the client and the test server): each run ends installed, the cut
// transfers resumed or the busy server waited for within the run.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "LinkRelay.h"
#include "UpdateFixture.h"

namespace {

struct LinkCase {
    const char* name;
    LinkRelay::Options link;
    const char* logged;  // a line of the run's log
};

void PrintTo(const LinkCase& c, std::ostream* os) {
    *os << c.name;
}

LinkRelay::Options resets() {
    LinkRelay::Options link;
    link.resetEveryBytes = 40000;
    return link;
}

// 100 kB/s open for half a second in every two.
LinkRelay::Options stalls() {
    LinkRelay::Options link;
    link.rateBytesPerSecond = 100000;
    link.stallSeconds = 1.5;
    link.stallEverySeconds = 2;
    return link;
}

LinkRelay::Options busy() {
    LinkRelay::Options link;
    link.unavailableRequests = 2;
    link.retryAfter = "1";
    return link;
}

class FlakyLinkTest : public UpdateFixture, public testing::WithParamInterface<LinkCase> {};

TEST_P(FlakyLinkTest, OneRunEndsInstalled) {
    registerProduct5();
    ServedFile file = makeZip("p5.zip", {{"install", installingScript(root_, "install5", 0), 0755},
                                         {"payload", noise(120000)}});
    startServer("{}");
    LinkRelay relay(server_->port(), GetParam().link);
    std::string url = "http://127.0.0.1:" + std::to_string(relay.port()) + "/pkg/p5.zip";
    server_->setConfig(
        config({textRoute("POST /lm-update",
                          updateResponse(201, packageXml(5, version2001(), url, file, "install"))),
                fileRoute("GET /pkg/p5.zip", file)}));
    ProgramResult set =
        runProgram(setNetworkExe(),
                   {"-S", "--server", "127.0.0.1:" + std::to_string(server_->port()), "--type",
                    "http", "--timeout", "1"},
                   options());
    ASSERT_EQ(set.exitStatus, 0) << set.err;

    ProgramResult r = update(5);
    EXPECT_EQ(r.exitStatus, 2) << r.err;
    EXPECT_NE(r.err.find(GetParam().logged), std::string::npos) << r.err;
    EXPECT_EQ(installedVersion(5), "2.0.0.1");
    EXPECT_GE(relay.connections(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Links, FlakyLinkTest,
    testing::Values(LinkCase{"reset", resets(), "LmUpdate: download cut ("},
                    LinkCase{"stall", stalls(), "LmUpdate: download cut (EC_READ_TIMEOUT"},
                    LinkCase{
                        "busy", busy(),
                        "LmUpdate: server busy (503, Retry-After 1): attempt 2 of 5 in 1.0 s"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
