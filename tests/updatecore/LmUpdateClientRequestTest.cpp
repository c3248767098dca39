// The update session's conversation with the update servers, against the
// test update server.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <ostream>

#include "LazyText.h"
#include "LmUpdateClientFixture.h"
#include "LmUpdateCore.h"
#include "net/HttpConnection.h"
#include "net/HttpsConnection.h"

namespace {

using Outcome = UpdateResult::Outcome;

class LmUpdateClientRequestTest : public LmUpdateClientFixture {};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(LmUpdateClientRequestTest, UpdateRequestPostsTheDocumentWithProductHeaders) {
    addProduct(5, "2.0.0.1");
    TestServer server(config({{"POST /lm-update", answer(response(200))}}));
    useServers({host(server)});
    ServerSession session;
    LmUpdateClient client(session);
    Outcome result = Outcome::kFailed;
    Output output = capture([&] { result = client.update(5).outcome; });

    EXPECT_EQ(result, Outcome::kUpToDate);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const RecordedRequest& request = requests[0];
    EXPECT_EQ(request.requestLine, "POST http://" + host(server) + "/lm-update HTTP/1.0");
    EXPECT_EQ(request.header("X-Lm-Update-Protocol-Version"), "1.0");
    EXPECT_FALSE(request.hasHeader("X-Lm-Self-Update-Protocol-Version"));
    EXPECT_EQ(request.header("X-Lm-Update-MAC"), kMac);
    EXPECT_EQ(request.header("X-Lm-Content-Compression"), "deflate");
    EXPECT_EQ(lmHeaderNames(request),
              (std::vector<std::string>{"X-Lm-Update-Protocol-Version", "X-Lm-Update-MAC",
                                        "X-Lm-Content-Compression"}));
    String document;
    ASSERT_TRUE(LmUpdateStore::instance().buildRequest(5, document));
    EXPECT_EQ(request.body, document.str());
    EXPECT_TRUE(contains(output.log, "Connecting to " + host(server) + "...\n"));
    EXPECT_TRUE(contains(output.log, "Torvane products and components are up-to-date"));
    ASSERT_EQ(progressLines().size(), 1u);
    EXPECT_EQ(progressLines()[0], "--action update --id 5 --status request");
}

// The progress script's exit status is never read.
TEST_F(LmUpdateClientRequestTest, FailingOrMissingProgressScriptChangesNothing) {
    TestServer server(config({{"POST /lm-self-update", answer(response(200))}}));
    useServers({host(server)});
    for (bool missing : {false, true}) {
        if (missing) {
            root().remove("bin/update_status.pl");
        } else {
            root().write("bin/update_status.pl", "exit 3;\n");
        }
        ServerSession session;
        LmUpdateClient client(session);
        Output output =
            capture([&] { EXPECT_EQ(client.update(1000).outcome, Outcome::kUpToDate) << missing; });
        EXPECT_TRUE(contains(output.log, "Torvane LmUpdate is up-to-date")) << missing;
    }
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(LmUpdateClientRequestTest, SelfUpdateUsesItsOwnPathAndHeader) {
    TestServer server(
        config({{"POST /lm-self-update", answer(response(200, "", "LMSELFUPDATERESPONSE"))}}));
    useServers({host(server)});
    ServerSession session;
    LmUpdateClient client(session);
    Output output = capture([&] { EXPECT_EQ(client.update(1000).outcome, Outcome::kUpToDate); });

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/lm-self-update");
    EXPECT_EQ(requests[0].header("X-Lm-Self-Update-Protocol-Version"), "1.0");
    EXPECT_FALSE(requests[0].hasHeader("X-Lm-Update-Protocol-Version"));
    EXPECT_TRUE(contains(output.log, "Torvane LmUpdate is up-to-date"));
}

TEST_F(LmUpdateClientRequestTest, RefusingFirstServerIsReportedAndTheSecondTried) {
    TestServer second(config({{"POST /lm-self-update", answer(response(200))}}));
    TestServer third(config({{"POST /lm-self-update", answer(response(200))}}));
    std::string dead = refusingHost();
    useServers({dead, host(second), host(third)});
    ServerSession session;
    LmUpdateClient client(session);
    Output output = capture([&] { EXPECT_EQ(client.update(1000).outcome, Outcome::kUpToDate); });

    EXPECT_EQ(output.out, "EC_LMUPDATE_CONNECT_REFUSED\n");
    EXPECT_TRUE(contains(output.log, "Connecting to " + dead + " failed: EC_CONNECT_REFUSED"));
    EXPECT_EQ(second.requests().size(), 1u);
    EXPECT_EQ(third.requests().size(), 0u);
}

TEST_F(LmUpdateClientRequestTest, RefusedThroughAProxyIsTheProxysFailure) {
    TestServer server(config({{"POST /lm-self-update", answer(response(200))}}));
    std::string dead = refusingHost();
    useServers({host(server)},
               "type=\"http\" timeout=\"10\" isUsingProxy=\"1\" proxy=\"" + dead + "\"");
    ServerSession session;
    LmUpdateClient client(session);
    Output output = capture([&] { EXPECT_EQ(client.update(1000).outcome, Outcome::kFailed); });
    EXPECT_EQ(output.out, "EC_LMUPDATE_PROXY_FAILED\n");
}

TEST_F(LmUpdateClientRequestTest, UnauthorizedLeavesStatus401AndNoLineEnd) {
    TestServer server(config({{"POST /lm-self-update", answer("no", 401)}}));
    useServers({host(server)});
    ServerSession session;
    LmUpdateClient client(session);
    Output output = capture([&] { EXPECT_EQ(client.update(1000).outcome, Outcome::kFailed); });

    EXPECT_EQ(session.lastStatus(), 401);
    EXPECT_EQ(output.out, "EC_LMUPDATE_UPDATE_ERROR");
    EXPECT_TRUE(contains(output.log, "LmUpdate: http response: 401"));
}

TEST_F(LmUpdateClientRequestTest, RequestsGoThroughAnAuthenticatingProxy) {
    TestServer origin(config({{"POST /lm-self-update", answer(response(200))}}));
    TestServer::Options options;
    options.proxy = true;
    options.proxyAuth = "pu:pp";
    TestServer proxy("{}", options);
    // proxyuser is base64("pu:pp")
    useServers({host(origin)}, "type=\"http\" timeout=\"10\" isUsingProxy=\"1\" proxy=\"" +
                                   host(proxy) + "\" proxyuser=\"cHU6cHA=\"");
    ServerSession session;
    LmUpdateClient client(session);
    capture([&] { EXPECT_EQ(client.update(1000).outcome, Outcome::kUpToDate); });
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(proxy.requests()[0].header("Proxy-authorization"), "Basic cHU6cHA=");
    EXPECT_EQ(origin.requests().size(), 1u);
}

TEST_F(LmUpdateClientRequestTest, ProxyAsking407IsAProxyFailure) {
    TestServer origin(config({{"POST /lm-self-update", answer(response(200))}}));
    TestServer::Options options;
    options.proxyAuth = "pu:pp";
    TestServer proxy("{}", options);
    // proxyuser is base64("pu:wrong")
    useServers({host(origin)}, "type=\"http\" timeout=\"10\" isUsingProxy=\"1\" proxy=\"" +
                                   host(proxy) + "\" proxyuser=\"cHU6d3Jvbmc=\"");
    ServerSession session;
    LmUpdateClient client(session);
    Output output = capture([&] { EXPECT_EQ(client.update(1000).outcome, Outcome::kFailed); });
    EXPECT_EQ(output.out, "EC_LMUPDATE_PROXY_FAILED\n");
    EXPECT_TRUE(contains(output.log, "LmUpdate: proxy authentication failed (407)")) << output.log;
    EXPECT_TRUE(origin.requests().empty());
}

// What a faulty server does to one update request.
struct FaultCase {
    const char* name;
    LazyText answer;
    Outcome result;       // of update()
    const char* out;      // standard output
    const char* logLine;  // a line the log must hold
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const FaultCase& c, std::ostream* out) {
    *out << c.name;
}

class LmUpdateClientFaultTest : public LmUpdateClientFixture,
                                public testing::WithParamInterface<FaultCase> {};

TEST_P(LmUpdateClientFaultTest, EndsWithTheRightReport) {
    const FaultCase& c = GetParam();
    TestServer server(config({{"POST /lm-self-update", c.answer()}}));
    useServers({host(server)}, "type=\"http\" timeout=\"1\"");
    ServerSession session;
    LmUpdateClient client(session);
    Outcome result = Outcome::kFailed;
    Output output = capture([&] { result = client.update(1000).outcome; });
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(output.out, c.out);
    EXPECT_TRUE(contains(output.log, c.logLine)) << output.log;
}

const std::string kUpToDate = LmUpdateClientFixture::response(200);
// Within the caps of a state file but over those of an answer.
std::string elements(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "<a/>";
    }
    return text;
}
std::string tooManyElements() {
    return "{\"body\": " + jsonString(LmUpdateClientFixture::response(200, elements(100001))) + "}";
}
// Logged only up to its first 4 KiB.
const std::string kLongAnswer = kUpToDate + std::string(5000, ' ');
const std::string kLongAnswerCut = " ... (" + std::to_string(kLongAnswer.size()) + " bytes)";

INSTANTIATE_TEST_SUITE_P(
    Faults, LmUpdateClientFaultTest,
    testing::Values(
        FaultCase{"Garbage", R"({"garbage": "this is not HTTP at all\r\n\r\n"})", Outcome::kFailed,
                  "EC_LMUPDATE_UPDATE_ERROR", "LmUpdate: http response: -1"},
        FaultCase{"NotFound", R"({"status": 404, "body": "gone"})", Outcome::kFailed,
                  "EC_LMUPDATE_UPDATE_ERROR", "LmUpdate: http response: 404"},
        FaultCase{"Silence", R"({"silent": true})", Outcome::kFailed, "EC_LMUPDATE_READ_TIMEOUT\n",
                  "failed: EC_READ_TIMEOUT"},
        // A head or a body that drips within each read's time-out (1 s)
        // still ends: the head within the time-out, the body within four.
        FaultCase{"DrippedHead", "{\"body\": " + jsonString(kUpToDate) + ", \"drip_head\": 0.4}",
                  Outcome::kFailed, "EC_LMUPDATE_READ_TIMEOUT\n", "failed: EC_READ_TIMEOUT"},
        FaultCase{"DrippedBody", "{\"body\": " + jsonString(kUpToDate) + ", \"drip_body\": 0.4}",
                  Outcome::kFailed, "EC_LMUPDATE_READ_TIMEOUT\n", "failed: EC_READ_TIMEOUT"},
        FaultCase{"ShortBody", "{\"body\": " + jsonString(kUpToDate) + ", \"close_after\": 20}",
                  Outcome::kFailed, "EC_LMUPDATE_CONNECT_ERROR\n",
                  "LmUpdate: response body unreadable: "},
        FaultCase{"GzipAnswerIsDecoded",
                  "{\"body\": " + jsonString(kUpToDate) + ", \"encoding\": \"gzip\"}",
                  Outcome::kUpToDate, "", "Torvane LmUpdate is up-to-date"},
        FaultCase{"DeflateAnswerIsDecoded",
                  "{\"body\": " + jsonString(kUpToDate) + ", \"encoding\": \"deflate\"}",
                  Outcome::kUpToDate, "", "Torvane LmUpdate is up-to-date"},
        FaultCase{"RawDeflateAnswerIsDecoded",
                  "{\"body\": " + jsonString(kUpToDate) + ", \"encoding\": \"raw-deflate\"}",
                  Outcome::kUpToDate, "", "Torvane LmUpdate is up-to-date"},
        FaultCase{"CorruptGzipIsNoAnswer",
                  "{\"body\": " + jsonString(kUpToDate) +
                      ", \"headers\": {\"Content-Encoding\": \"gzip\"}}",
                  Outcome::kFailed, "EC_LMUPDATE_CONNECT_ERROR\n",
                  "LmUpdate: response body unreadable: "},
        FaultCase{"UnparsableAnswerIsRefused", R"({"body": "<not xml"})", Outcome::kFailed,
                  "EC_LMUPDATE_UPDATE_ERROR\n", "LmUpdate: update answer refused"},
        FaultCase{"UnknownResultIsRefused",
                  "{\"body\": " + jsonString(LmUpdateClientFixture::response(202)) + "}",
                  Outcome::kFailed, "EC_LMUPDATE_UPDATE_ERROR\n",
                  "LmUpdate: update answer refused: result 202"},
        FaultCase{"OverTheElementCapOfAnswers", LazyText(tooManyElements), Outcome::kFailed,
                  "EC_LMUPDATE_UPDATE_ERROR\n",
                  "LmUpdate: invalid update response format: over the limit: more elements than "
                  "100000"},
        FaultCase{"LongAnswerIsCutInTheLog", "{\"body\": " + jsonString(kLongAnswer) + "}",
                  Outcome::kUpToDate, "", kLongAnswerCut.c_str()},
        FaultCase{"LongerThanContentLength",
                  "{\"body\": " + jsonString(kUpToDate + "trailing junk") +
                      ", \"content_length\": " + std::to_string(kUpToDate.size()) + "}",
                  Outcome::kUpToDate, "", "Torvane LmUpdate is up-to-date"},
        FaultCase{"NoContentLengthReadToTheEnd",
                  "{\"body\": " + jsonString(kUpToDate) + ", \"content_length\": -1}",
                  Outcome::kUpToDate, "", "Torvane LmUpdate is up-to-date"},
        FaultCase{"OverMemoryCap", R"({"body_repeat": "x", "body_count": 16777217})",
                  Outcome::kFailed, "EC_LMUPDATE_CONNECT_ERROR\n",
                  "LmUpdate: response body too large"},
        FaultCase{"OverMemoryCapWithoutLength",
                  R"({"body_repeat": "x", "body_count": 16777217, "content_length": -1})",
                  Outcome::kFailed, "EC_LMUPDATE_CONNECT_ERROR\n",
                  "LmUpdate: response body too large"},
        FaultCase{"Result500IsRefused",
                  "{\"body\": " + jsonString(LmUpdateClientFixture::response(500)) + "}",
                  Outcome::kFailed, "EC_LMUPDATE_UPDATE_ERROR\n",
                  "LmUpdate: update answer refused: result 500"},
        FaultCase{"RedirectToAUrl",
                  "{\"body\": " +
                      jsonString(LmUpdateClientFixture::response(
                          211, LmUpdateClientFixture::serverList({"file:///etc/passwd"}))) +
                      "}",
                  Outcome::kFailed, "EC_LMUPDATE_UPDATE_ERROR\n",
                  "LmUpdate: update answer refused: invalid host 'file:///etc/passwd'"},
        FaultCase{
            "RedirectToNobody",
            "{\"body\": " + jsonString(LmUpdateClientFixture::response(211, "<ServerList/>")) + "}",
            Outcome::kFailed, "EC_LMUPDATE_UPDATE_ERROR\n",
            "LmUpdate: update answer refused: no host in the server list"},
        FaultCase{
            "UnknownRoot",
            "{\"body\": " + jsonString(LmUpdateClientFixture::response(201, "", "Other")) + "}",
            Outcome::kFailed, "EC_LMUPDATE_UPDATE_ERROR\n",
            "LmUpdate: Unknown update response type: Other"}),
    [](const testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

TEST_F(LmUpdateClientRequestTest, UnusableSettingsAreABadConfiguration) {
    root().write("conf/network.xml", "this is no XML");
    EXPECT_EQ(LmNetConfig::getInstance().load(root().file("conf/network.xml").c_str()), 0);
    ServerSession session;
    LmUpdateClient client(session);
    Output output = capture([&] { EXPECT_EQ(client.update(1000).outcome, Outcome::kFailed); });
    EXPECT_EQ(output.out, "EC_LMUPDATE_BAD_CONFIG\n");
    EXPECT_TRUE(contains(output.log, "LmUpdate: read server settings failed"));
}

TEST_F(LmUpdateClientRequestTest, UnbuildableRequestStopsAtTheFirstServer) {
    TestServer first("{}");
    TestServer second("{}");
    useServers({host(first), host(second)});
    root().write(kInventoryFile,
                 "<?xml version=\"1.0\"?>\n<Inventory>\n<Products/>\n</Inventory>\n");
    loadInventory();  // no platform: no request document
    ServerSession session;
    LmUpdateClient client(session);
    Output output = capture([&] { EXPECT_EQ(client.update(1000).outcome, Outcome::kFailed); });
    EXPECT_EQ(output.out, "EC_LMUPDATE_BAD_CONFIG\n");
    EXPECT_TRUE(contains(output.log, "Cannot obtain product data for request"));
    EXPECT_EQ(first.requests().size() + second.requests().size(), 0u);
}

// --- Redirects --------------------------------------------------------------

TEST_F(LmUpdateClientRequestTest, Redirect210PutsTheNewServerFirstInTheSettings) {
    TestServer target(config({{"POST /lm-self-update", answer(response(200))}}));
    TestServer first(
        config({{"POST /lm-self-update", answer(response(210, serverList({host(target)})))}}));
    useServers({host(first)});
    ServerSession session;
    LmUpdateClient client(session);
    Output output = capture([&] { EXPECT_EQ(client.update(1000).outcome, Outcome::kUpToDate); });

    EXPECT_TRUE(contains(output.log, "Redirect to new update server"));
    EXPECT_EQ(target.requests().size(), 1u);
    LmNetConfig stored;
    ASSERT_NE(stored.load(root().file("conf/network.xml").c_str()), 0);
    NetworkSettings settings;
    ASSERT_EQ(stored.getSettings(settings), 2);
    EXPECT_EQ(settings.servers[0], String(host(target)));
    EXPECT_EQ(settings.servers[1], String(host(first)));
}

TEST_F(LmUpdateClientRequestTest, Redirect211LeavesTheSettingsFileAlone) {
    TestServer target(config({{"POST /lm-self-update", answer(response(200))}}));
    TestServer first(
        config({{"POST /lm-self-update", answer(response(211, serverList({host(target)})))}}));
    useServers({host(first)});
    std::string before = root().read("conf/network.xml");
    ServerSession session;
    LmUpdateClient client(session);
    capture([&] { EXPECT_EQ(client.update(1000).outcome, Outcome::kUpToDate); });

    EXPECT_EQ(target.requests().size(), 1u);
    EXPECT_EQ(first.requests().size(), 1u);
    EXPECT_EQ(root().read("conf/network.xml"), before);
    ASSERT_EQ(client.servers().size(), 1);
    EXPECT_EQ(client.servers()[0], String(host(target)));
}

TEST_F(LmUpdateClientRequestTest, Redirect210PutsNewHostsFirstInReverseOrderAndRewrites) {
    useServers({"old.example", "Keep.Example"});
    std::filesystem::path file = root().file("conf/network.xml");
    auto earlier = backdate(file);
    ServerSession session;
    LmUpdateClient client(session);
    std::optional<int> code;
    capture([&] {
        code = client.handleResponse(
            response(210, serverList({"KEEP.example", "new1.example", "new2.example"})));
    });

    EXPECT_EQ(code, 210);
    EXPECT_GT(std::filesystem::last_write_time(file), earlier);
    LmNetConfig stored;
    ASSERT_NE(stored.load(file.c_str()), 0);
    NetworkSettings settings;
    ASSERT_EQ(stored.getSettings(settings), 4);
    const char* expected[] = {"new2.example", "new1.example", "old.example", "Keep.Example"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(settings.servers[i], String(expected[i])) << i;
    }
    ASSERT_EQ(client.servers().size(), 3);
    EXPECT_EQ(client.servers()[0], "KEEP.example");
}

TEST_F(LmUpdateClientRequestTest, Redirect210ToAKnownHostStillRewritesTheSettings) {
    useServers({"old.example"});
    std::filesystem::path file = root().file("conf/network.xml");
    auto earlier = backdate(file);
    ServerSession session;
    LmUpdateClient client(session);
    capture(
        [&] { EXPECT_EQ(client.handleResponse(response(210, serverList({"OLD.example"}))), 210); });

    EXPECT_GT(std::filesystem::last_write_time(file), earlier);
    LmNetConfig stored;
    ASSERT_NE(stored.load(file.c_str()), 0);
    NetworkSettings settings;
    ASSERT_EQ(stored.getSettings(settings), 1);
    EXPECT_EQ(settings.servers[0], "old.example");
}

std::vector<std::string> numberedHosts(int count, const std::string& prefix = "h") {
    std::vector<std::string> hosts;
    for (int i = 0; i < count; ++i) {
        hosts.push_back(prefix + std::to_string(i) + ".example");
    }
    return hosts;
}

// What a 210 stores: the answer's first `count` hosts, last first, above
// the hosts stored before.
std::vector<std::string> storedFirst(std::vector<std::string> hosts, size_t count,
                                     const std::vector<std::string>& before) {
    hosts.resize(count);
    std::reverse(hosts.begin(), hosts.end());
    hosts.insert(hosts.end(), before.begin(), before.end());
    return hosts;
}

// 210 host lists that are refused whole, the settings left as they were.
class BadServerListTest : public LmUpdateClientFixture,
                          public testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(BadServerListTest, LeavesTheSettingsByteForByte) {
    useServers({"old.example"});
    std::string before = root().read("conf/network.xml");
    ServerSession session;
    LmUpdateClient client(session);
    std::optional<int> code;
    Output output =
        capture([&] { code = client.handleResponse(response(210, serverList(GetParam()))); });
    EXPECT_EQ(code, std::nullopt);
    EXPECT_EQ(output.out, "EC_LMUPDATE_UPDATE_ERROR\n");
    EXPECT_EQ(root().read("conf/network.xml"), before);
    EXPECT_EQ(client.servers().size(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, BadServerListTest,
    testing::Values(std::vector<std::string>{"new.example", "user:pw@host/x?y="},
                    std::vector<std::string>{""}, std::vector<std::string>{"host:0"},
                    numberedHosts(LmUpdateClient::kMaxServers + 1)));

// A 210 stores new hosts only while the stored list stays within 16 and
// never removes a stored server; every host of the answer serves this run.
struct StoreCase {
    const char* name;
    std::vector<std::string> stored;
    std::vector<std::string> answer;
    std::vector<std::string> expected;  // the stored list afterwards
    std::vector<std::string> unstored;  // the hosts the log line names
};

void PrintTo(const StoreCase& c, std::ostream* os) {
    *os << c.name;
}

class Redirect210StoreTest : public LmUpdateClientFixture,
                             public testing::WithParamInterface<StoreCase> {};

TEST_P(Redirect210StoreTest, KeepsEveryStoredServer) {
    const StoreCase& c = GetParam();
    useServers(c.stored);
    ServerSession session;
    LmUpdateClient client(session);
    Output output = capture(
        [&] { EXPECT_EQ(client.handleResponse(response(210, serverList(c.answer))), 210); });
    LmNetConfig stored;
    ASSERT_NE(stored.load(root().file("conf/network.xml").c_str()), 0);
    NetworkSettings settings;
    stored.getSettings(settings);
    std::vector<std::string> hosts;
    for (int i = 0; i < settings.servers.size(); ++i) {
        hosts.push_back(settings.servers[i].str());
    }
    EXPECT_EQ(hosts, c.expected);
    EXPECT_EQ(client.servers().size(), static_cast<int>(c.answer.size()));
    std::string line = "LmUpdate: stored server list full, for this run only: ";
    for (size_t i = 0; i < c.unstored.size(); ++i) {
        line += (i == 0 ? "" : ", ") + c.unstored[i];
    }
    EXPECT_TRUE(contains(output.log, line + "\n")) << output.log;
}

const std::vector<std::string> kTwoStored{"old1.example", "old2.example"};

INSTANTIATE_TEST_SUITE_P(
    Lists, Redirect210StoreTest,
    testing::Values(StoreCase{"SixteenNewAfterTwo",
                              kTwoStored,
                              numberedHosts(16),
                              storedFirst(numberedHosts(16), 14, kTwoStored),
                              {"h14.example", "h15.example"}},
                    StoreCase{"SixteenNewAgainstSixteen", numberedHosts(16, "s"), numberedHosts(16),
                              numberedHosts(16, "s"), numberedHosts(16)},
                    StoreCase{"KnownHostsTakeNoRoom",
                              numberedHosts(15, "s"),
                              {"S3.example", "n1.example", "N2.example", "n2.EXAMPLE"},
                              storedFirst({"n1.example"}, 1, numberedHosts(15, "s")),
                              {"N2.example"}},
                    StoreCase{"ALongerStoredListIsNotCut",
                              numberedHosts(17, "s"),
                              {"n1.example"},
                              numberedHosts(17, "s"),
                              {"n1.example"}}),
    [](const testing::TestParamInfo<StoreCase>& info) { return std::string(info.param.name); });

TEST_F(LmUpdateClientRequestTest, RedirectLoopEndsAtTheLimit) {
    TestServer server("{}");
    server.setConfig(
        config({{"POST /lm-self-update", answer(response(211, serverList({host(server)})))}}));
    useServers({host(server)});
    ServerSession session;
    LmUpdateClient client(session);
    Output output = capture([&] { EXPECT_EQ(client.update(1000).outcome, Outcome::kFailed); });

    EXPECT_EQ(server.requests().size(), 1u + LmUpdateClient::kMaxRedirects);
    EXPECT_EQ(output.out, "EC_LMUPDATE_UPDATE_ERROR\n");
    EXPECT_TRUE(contains(output.log, "LmUpdate: too many redirects"));
}

// --- Ping and verify --------------------------------------------------------

TEST_F(LmUpdateClientRequestTest, PingPrintsTheBodyOfTheFirstServerThatAnswers) {
    TestServer server(config({{"GET /control?act=ping", answer("pong\n")}}));
    useServers({host(server)});
    ServerSession session;
    LmUpdateClient client(session);
    Output output = capture([&] { EXPECT_EQ(client.ping(), 0); });
    EXPECT_EQ(output.out, "pong\n");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].header("X-Lm-Update-MAC"), kMac);
}

TEST_F(LmUpdateClientRequestTest, PingStopsAtTheFirstTransportFailure) {
    TestServer unused(config({{"GET /control?act=ping", answer("pong\n")}}));
    useServers({refusingHost(), host(unused)});
    ServerSession session;
    LmUpdateClient client(session);
    capture([&] { EXPECT_EQ(client.ping(), -22); });
    EXPECT_EQ(unused.requests().size(), 0u);
}

TEST_F(LmUpdateClientRequestTest, VerifySendsTheParentsIdentityWhenTheSerialIsEmpty) {
    addProduct(7, "3.1.0.0", "SN-7");
    addProduct(1000, "1.2.0.0", "", "abc,7");
    TestServer server(config({{"GET /lm-verify", answer("")}}));
    useServers({host(server)});
    ServerSession session;
    LmUpdateClient client(session);
    Output output = capture([&] { EXPECT_EQ(client.verify(), 0); });

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const RecordedRequest& request = requests[0];
    EXPECT_EQ(request.path, "/lm-verify");
    EXPECT_EQ(request.header("X-Lm-Update-ProductId"), "7");
    EXPECT_EQ(request.header("X-Lm-Update-ProductVersion"), "3.1.0.0");
    EXPECT_EQ(request.header("X-Lm-Update-SerialNo"), "SN-7");
    EXPECT_EQ(request.header("Connection"), "close");
    EXPECT_TRUE(contains(output.log, "invalid dec number"));
}

// Which identity a product's requests carry: its own, or that of the first
// parent (in list order) that is installed and has a serial number.
struct LookupCase {
    const char* name;
    const char* serial;
    const char* parents;
    int id;  // sent
    const char* version;
    const char* sentSerial;
    bool logsParseError;
};

void PrintTo(const LookupCase& c, std::ostream* out) {
    *out << c.name;
}

class LmUpdateClientLookupTest : public LmUpdateClientFixture,
                                 public testing::WithParamInterface<LookupCase> {};

TEST_P(LmUpdateClientLookupTest, ChoosesTheIdentity) {
    const LookupCase& c = GetParam();
    addProduct(7, "3.1.0.0", "SN-7");
    addProduct(8, "8.0.0.0");
    addProduct(9, "9.0.0.0", "SN-9");
    addProduct(20, "2.0.0.0", c.serial, c.parents);
    ServerSession session;
    LmUpdateClient client(session);
    int32_t id = 20;
    String version;
    String serial;
    bool found = false;
    Output output =
        capture([&] { found = RequestBuilder::lookupProductHeaders(id, version, serial); });
    EXPECT_TRUE(found);
    EXPECT_EQ(id, c.id);
    EXPECT_EQ(version, c.version);
    EXPECT_EQ(serial, c.sentSerial);
    EXPECT_EQ(contains(output.log, "invalid dec number"), c.logsParseError) << output.log;
}

INSTANTIATE_TEST_SUITE_P(
    Parents, LmUpdateClientLookupTest,
    testing::Values(
        LookupCase{"OwnSerial", "S20", "7", 20, "2.0.0.0", "S20", false},
        LookupCase{"NonNumericSkipped", "", "abc,7", 7, "3.1.0.0", "SN-7", true},
        LookupCase{"StopsAtTheFirstMatch", "", "7,abc", 7, "3.1.0.0", "SN-7", false},
        LookupCase{"ParentWithoutSerialSkipped", "", "8,9", 9, "9.0.0.0", "SN-9", false},
        // 4294967295 wraps to -1 in the 32-bit parse.
        LookupCase{"NegativeAndUnknownSkipped", "", "4294967295,99,7", 7, "3.1.0.0", "SN-7", false},
        LookupCase{"NoParentQualifies", "", "8", 20, "2.0.0.0", "", false}),
    [](const testing::TestParamInfo<LookupCase>& info) { return info.param.name; });

TEST_F(LmUpdateClientRequestTest, UnknownProductHasNoIdentity) {
    ServerSession session;
    LmUpdateClient client(session);
    int32_t id = 4242;
    String version("unchanged");
    String serial("unchanged");
    EXPECT_FALSE(RequestBuilder::lookupProductHeaders(id, version, serial));
    EXPECT_EQ(id, 4242);
    EXPECT_EQ(version, "unchanged");
    EXPECT_EQ(serial, "unchanged");
}

TEST_F(LmUpdateClientRequestTest, VerifyResultByStatus) {
    TestServer denied(config({{"GET /lm-verify", answer("", 401)}}));
    TestServer missing(config({{"GET /lm-verify", answer("", 404)}}));
    useServers({host(missing), host(denied)});
    ServerSession session;
    LmUpdateClient client(session);
    capture([&] { EXPECT_EQ(client.verify(), -8); });
    EXPECT_EQ(session.lastStatus(), 401);

    useServers({host(missing)});
    capture([&] { EXPECT_EQ(client.verify(), -9); });
}

TEST_F(LmUpdateClientRequestTest, DownloadDirMustExist) {
    String nowhere(root().file("nowhere"));
    String download(root().file("download"));
    EXPECT_EQ(downloadOptions(0, 0, 0, String()).downloadDir, "/download/lmupdate");
    EXPECT_EQ(downloadOptions(0, 0, 0, nowhere).downloadDir, "/download/lmupdate");
    EXPECT_EQ(downloadOptions(0, 0, 0, download).downloadDir, download);
    EXPECT_TRUE(downloadOptions(1, 0, 0, String()).plainDownload);
    EXPECT_FALSE(downloadOptions(2, 0, 0, String()).plainDownload);
}

// What openConnection makes from the settings' protocol and time-out, the
// kind asked for and the plain-download flag.
struct ConnectionCase {
    const char* name;
    const char* type;
    const char* timeout;
    ConnectionKind kind;
    bool plainDownload;
    bool secure;
    int timeoutMs;
};

void PrintTo(const ConnectionCase& c, std::ostream* out) {
    *out << c.name;
}

class LmUpdateClientConnectionTest : public LmUpdateClientFixture,
                                     public testing::WithParamInterface<ConnectionCase> {};

TEST_P(LmUpdateClientConnectionTest, MadeByKindAndSettings) {
    const ConnectionCase& c = GetParam();
    useServers({refusingHost()},
               std::string("type=\"") + c.type + "\" timeout=\"" + c.timeout + "\"");
    std::unique_ptr<HttpConnection> connection = ConnectionFactory(c.plainDownload).open(c.kind);
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(dynamic_cast<HttpsConnection*>(connection.get()) != nullptr, c.secure);
    EXPECT_EQ(connection->getTimeout(), c.timeoutMs);
}

constexpr ConnectionKind kSession = ConnectionKind::kSession;
constexpr ConnectionKind kPlain = ConnectionKind::kPlain;
constexpr ConnectionKind kDownload = ConnectionKind::kDownload;

INSTANTIATE_TEST_SUITE_P(
    Kinds, LmUpdateClientConnectionTest,
    testing::Values(
        ConnectionCase{"SessionHttp", "http", "30", kSession, false, false, 30000},
        ConnectionCase{"SessionHttpAnyCase", "HTTP", "30", kSession, false, false, 30000},
        ConnectionCase{"SessionHttps", "https", "30", kSession, false, true, 30000},
        ConnectionCase{"SessionOtherProtocol", "ftp", "30", kSession, false, true, 30000},
        ConnectionCase{"PlainOverHttps", "https", "30", kPlain, false, false, 30000},
        ConnectionCase{"DownloadHttps", "https", "30", kDownload, false, true, 30000},
        ConnectionCase{"PlainDownload", "https", "30", kDownload, true, false, 30000},
        ConnectionCase{"DownloadHttp", "http", "30", kDownload, false, false, 30000},
        ConnectionCase{"ZeroTimeout", "http", "0", kSession, false, false, 120000},
        ConnectionCase{"NegativeTimeout", "http", "-5", kSession, false, false, 120000}),
    [](const testing::TestParamInfo<ConnectionCase>& info) { return info.param.name; });

TEST_F(LmUpdateClientRequestTest, NoConnectionWithoutSettings) {
    root().write("conf/network.xml", "this is no XML");
    EXPECT_EQ(LmNetConfig::getInstance().load(root().file("conf/network.xml").c_str()), 0);
    EXPECT_EQ(ConnectionFactory(false).open(ConnectionKind::kSession), nullptr);
}

// The error-name table, row by row.
struct ErrorCase {
    const char* message;
    const char* proxy;  // isUsingProxy
    const char* name;
    int code;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ErrorCase& c, std::ostream* out) {
    *out << c.message;
}

class LmUpdateClientErrorTableTest : public testing::TestWithParam<ErrorCase> {};

TEST_P(LmUpdateClientErrorTableTest, MapsTheMessagesBeginning) {
    NetworkSettings settings;
    settings.isUsingProxy = GetParam().proxy;
    EXPECT_EQ(TransportErrors::nameFor(GetParam().message, settings), GetParam().name);
    EXPECT_EQ(TransportErrors::codeFor(GetParam().message, settings), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LmUpdateClientErrorTableTest,
    testing::Values(ErrorCase{"EC_INVALID_HOST: x", "0", "EC_LMUPDATE_INVALID_HOST", -20},
                    ErrorCase{"EC_PROXY_FAILED: http tunnel failed", "1",
                              "EC_LMUPDATE_PROXY_FAILED", -21},
                    ErrorCase{"EC_CONNECT_REFUSED: x", "0", "EC_LMUPDATE_CONNECT_REFUSED", -22},
                    ErrorCase{"EC_CONNECT_REFUSED: x", "1", "EC_LMUPDATE_PROXY_FAILED", -21},
                    ErrorCase{"EC_CONNECT_TIMEOUT: x", "0", "EC_LMUPDATE_CONNECT_TIMEOUT", -23},
                    ErrorCase{"EC_READ_FAILED: x", "0", "EC_LMUPDATE_READ_FAILED", -24},
                    ErrorCase{"EC_READ_TIMEOUT: x", "0", "EC_LMUPDATE_READ_TIMEOUT", -25},
                    ErrorCase{"EC_WRITE_FAILED: x", "0", "EC_LMUPDATE_WRITE_FAILED", -26},
                    ErrorCase{"EC_WRITE_TIMEOUT: x", "0", "EC_LMUPDATE_WRITE_TIMEOUT", -27},
                    ErrorCase{"EC_CONNECT_FAILED: x", "0", "EC_LMUPDATE_CONNECT_FAILED", -28},
                    ErrorCase{"file size is incorrect", "0", "", -9},
                    ErrorCase{"xEC_READ_FAILED", "0", "", -9}),
    [](const testing::TestParamInfo<ErrorCase>& info) {
        std::string name;
        for (char c : std::string(info.param.message)) {
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name + (std::string(info.param.proxy) == "1" ? "_viaProxy" : "");
    });

}  // namespace

namespace {

using Outcome = UpdateResult::Outcome;

class LmUpdateClientSecureTest : public LmUpdateClientFixture {
protected:
    void SetUp() override {
        LmUpdateClientFixture::SetUp();
        certificates_ = makeTestCertificates(certificateDir_.path());
        TestServer::Options options;
        options.tlsCert = certificates_.serverCert;
        options.tlsKey = certificates_.serverKey;
        server_ = std::make_unique<TestServer>(
            config({{"POST /lm-self-update", answer(response(200))}}), options);
    }

    // Settings for HTTPS, verifying the server against caFile.
    void useSecureServer(const std::string& caFile) {
        useServers({host(*server_)}, "type=\"https\" timeout=\"10\"",
                   "<ServerVerify>\n<Param name=\"ssl.server.cert\" value=\"" + caFile +
                       "\"/>\n</ServerVerify>\n");
    }

    TempRoot certificateDir_;
    TestCertificates certificates_;
    std::unique_ptr<TestServer> server_;
};

TEST_F(LmUpdateClientSecureTest, HttpsRequestToAVerifiedServer) {
    useSecureServer(certificates_.caCert);
    ServerSession session;
    LmUpdateClient client(session);
    Output output = capture([&] { EXPECT_EQ(client.update(1000).outcome, Outcome::kUpToDate); });
    EXPECT_TRUE(
        contains(output.log, "Connecting to " + host(*server_) + " via secure connection...\n"));
    auto requests = server_->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].tls);
}

TEST_F(LmUpdateClientSecureTest, ServerSignedByAnotherAuthorityIsRefused) {
    TempRoot otherDir;
    TestCertificates other = makeTestCertificates(otherDir.path());
    useSecureServer(other.caCert);
    ServerSession session;
    LmUpdateClient client(session);
    Output output = capture([&] { EXPECT_EQ(client.update(1000).outcome, Outcome::kFailed); });
    EXPECT_TRUE(server_->requests().empty());
    EXPECT_TRUE(contains(output.log, "Connecting to " + host(*server_) + " failed: "));
}

}  // namespace
