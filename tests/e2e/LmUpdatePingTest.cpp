// LmUpdate --ping, run as a program in a fresh installation root against the
// test update server.
#include <gtest/gtest.h>

#include <ostream>

#include <string>

#include "RunProgram.h"
#include "ServerAnswers.h"
#include "TempRoot.h"
#include "TestServer.h"

namespace {

std::string settingsFor(const std::string& host, int timeout) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<LmNetClientSettings>\n"
           "<ServerList type=\"http\" isUsingProxy=\"0\" proxy=\"\" proxyuser=\"\" timeout=\"" +
           std::to_string(timeout) + "\" mac=\"aa:bb\">\n<Server host=\"" + host +
           "\"/>\n</ServerList>\n</LmNetClientSettings>\n";
}

struct PingCase {
    const char* name;
    std::string answer;  // of the test server to GET /control?act=ping
    int exitStatus;
    const char* out;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const PingCase& c, std::ostream* out) {
    *out << c.name;
}

class LmUpdatePingTest : public testing::TestWithParam<PingCase> {};

TEST_P(LmUpdatePingTest, ExitStatusAndOutput) {
    const PingCase& c = GetParam();
    TestServer server(ServerAnswers::config({{"GET /control?act=ping", c.answer}}));
    TempRoot root;
    root.makeStandardDirs();
    root.write("conf/network.xml", settingsFor("127.0.0.1:" + std::to_string(server.port()), 1));

    ProgramResult result = runProgram(lmUpdateExe(), {"--ping"}, {.env = {root.registerDirEnv()}});
    EXPECT_EQ(result.exitStatus, c.exitStatus) << result.err;
    EXPECT_EQ(result.out, c.out);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/control?act=ping");
    EXPECT_EQ(requests[0].header("X-Lm-Update-MAC"), "aa:bb");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, LmUpdatePingTest,
    testing::Values(PingCase{"BodyPrintedVerbatim", R"({"body": "pong\nsecond line"})", 0,
                             "pong\nsecond line"},
                    PingCase{"GarbageIsNoAnswer", R"({"garbage": "???"})", 256 - 28, ""},
                    PingCase{"SilenceTimesOut", R"({"silent": true})", 256 - 25, ""}),
    [](const testing::TestParamInfo<PingCase>& info) { return info.param.name; });

TEST(LmUpdatePingCommandTest, RefusedConnectionGivesItsCode) {
    TempRoot root;
    root.makeStandardDirs();
    int port = 0;
    {
        TestServer gone("{}");
        port = gone.port();
    }
    root.write("conf/network.xml", settingsFor("127.0.0.1:" + std::to_string(port), 5));
    ProgramResult result = runProgram(lmUpdateExe(), {"--ping"}, {.env = {root.registerDirEnv()}});
    EXPECT_EQ(result.exitStatus, 256 - 22);
}

TEST(LmUpdatePingCommandTest, VerboseShowsTheSessionsLogLines) {
    TestServer server(R"({"routes": {"GET /control?act=ping": {"body": "pong"}}})");
    TempRoot root;
    root.makeStandardDirs();
    std::string host = "127.0.0.1:" + std::to_string(server.port());
    root.write("conf/network.xml", settingsFor(host, 5));
    ProgramResult result =
        runProgram(lmUpdateExe(), {"--ping", "--verbose"}, {.env = {root.registerDirEnv()}});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "pong");
    EXPECT_NE(result.err.find("Connecting to " + host + "..."), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("Connected to " + host + " at " + host), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("GET http://" + host + "/control?act=ping HTTP/1.0"),
              std::string::npos)
        << result.err;
}

TEST(LmUpdatePingCommandTest, ProxyAsking407IsAProxyFailureOnStandardError) {
    TestServer::Options options;
    options.proxyAuth = "user:secret";
    TestServer proxy("{}", options);
    TempRoot root;
    root.makeStandardDirs();
    std::string settings = settingsFor("127.0.0.1:9", 5);
    std::string proxied = "isUsingProxy=\"1\" proxy=\"127.0.0.1:" + std::to_string(proxy.port()) +
                          "\" proxyuser=\"\"";
    settings.replace(settings.find("isUsingProxy=\"0\" proxy=\"\" proxyuser=\"\""), 38, proxied);
    root.write("conf/network.xml", settings);
    ProgramResult result = runProgram(lmUpdateExe(), {"--ping"}, {.env = {root.registerDirEnv()}});
    EXPECT_EQ(result.exitStatus, 256 - 21);
    EXPECT_EQ(result.err, "LmUpdate: proxy authentication failed (407)\n");
    ASSERT_EQ(proxy.requests().size(), 1u);
}

TEST(LmUpdatePingCommandTest, MissingSettingsGiveMinusTwo) {
    TempRoot root;
    root.makeStandardDirs();
    ProgramResult result = runProgram(lmUpdateExe(), {"--ping"}, {.env = {root.registerDirEnv()}});
    EXPECT_EQ(result.exitStatus, 256 - 2);
}

TEST(LmUpdatePingCommandTest, MissingDownloadDirectoryIsAUsageError) {
    TempRoot root;
    root.makeStandardDirs();
    ProgramResult result = runProgram(lmUpdateExe(), {"--ping", "--download-dir", root.file("no")},
                                      {.env = {root.registerDirEnv()}});
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_EQ(result.out, "LmUpdate: invalid download directory: " + root.file("no") + "\n");
}

}  // namespace
