#include "LmNetConfig.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "Base64.h"
#include "FileSizeLimit.h"
#include "TempRoot.h"
#include "io/File.h"

namespace {

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

std::string b64(const char* text) {
    return Base64::encode(String(text)).str();
}

std::vector<std::string> hosts(const Vector<LmServer>& servers) {
    std::vector<std::string> out;
    for (const LmServer& server : servers) {
        out.push_back(server.str());
    }
    return out;
}

class LmNetConfigTest : public testing::Test {
protected:
    // Writes the settings file and loads it into config_.
    void load(const std::string& document) {
        root_.write("conf/network.xml", document);
        ASSERT_EQ(config_.load(path().c_str()), 1) << document;
    }
    std::string path() const { return root_.file("conf/network.xml"); }
    std::string file() const { return root_.read("conf/network.xml"); }

    TempRoot root_;
    LmNetConfig config_;
};

struct ReadCase {
    const char* name;
    std::string serverListAttributes;
    std::string type, isUsingProxy, proxyHost;
    int proxyPort;
    std::string proxyUser, proxyPass, user, pass;
    int timeout;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name << ": <ServerList " << c.serverListAttributes << ">";
}

class LmNetConfigReadTest : public LmNetConfigTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(LmNetConfigReadTest, ReadsServerListAttributes) {
    const ReadCase& c = GetParam();
    load("<LmNetClientSettings><ServerList " + c.serverListAttributes +
         "><Server host=\"a\"/></ServerList></LmNetClientSettings>");
    NetworkSettings s;
    s.user = s.pass = s.proxyHost = s.proxyUser = s.proxyPass = "stale";
    ASSERT_EQ(config_.getSettings(s), 1);
    EXPECT_EQ(s.type.str(), c.type);
    EXPECT_EQ(s.isUsingProxy.str(), c.isUsingProxy);
    EXPECT_EQ(s.proxyHost.str(), c.proxyHost);
    EXPECT_EQ(s.proxyPort, c.proxyPort);
    EXPECT_EQ(s.proxyUser.str(), c.proxyUser);
    EXPECT_EQ(s.proxyPass.str(), c.proxyPass);
    EXPECT_EQ(s.user.str(), c.user);
    EXPECT_EQ(s.pass.str(), c.pass);
    EXPECT_EQ(s.timeout, c.timeout);
}

INSTANTIATE_TEST_SUITE_P(
    Attributes, LmNetConfigReadTest,
    testing::Values(
        ReadCase{"NoAttributes", "", "https", "0", "", 0, "", "", "", "", 0},
        ReadCase{"EmptyValuesGiveDefaults", "type=\"\" isUsingProxy=\"\" proxy=\"\" timeout=\"\"",
                 "https", "0", "", 0, "", "", "", "", 0},
        ReadCase{"KeptAsWritten", "TYPE=\"HTTP\" isusingproxy=\"1\" timeout=\"60\"", "HTTP", "1",
                 "", 0, "", "", "", "", 60},
        ReadCase{"ProxyColonZero", "proxy=\":0\"", "https", "0", "", 0, "", "", "", "", 0},
        ReadCase{"ProxyWithoutPort", "proxy=\"px\"", "https", "0", "px", 0, "", "", "", "", 0},
        ReadCase{"ProxyPortLetters", "proxy=\"px:ab\"", "https", "0", "px", 0, "", "", "", "", 0},
        ReadCase{"ProxyPortTrailingText", "proxy=\"px:80x\"", "https", "0", "px", 80, "", "", "",
                 "", 0},
        ReadCase{"ProxyFirstColonSplits", "proxy=\"px:81:2\"", "https", "0", "px", 81, "", "", "",
                 "", 0},
        ReadCase{"ProxyUserAndPass", "proxyuser=\"" + b64("u:p:q") + "\"", "https", "0", "", 0, "u",
                 "p:q", "", "", 0},
        ReadCase{"ProxyUserLeadingColon", "proxyuser=\"" + b64(":pw") + "\"", "https", "0", "", 0,
                 "", "pw", "", "", 0},
        ReadCase{"ProxyUserWithoutPass", "proxyuser=\"" + b64("u:") + "\"", "https", "0", "", 0,
                 "u", "", "", "", 0},
        ReadCase{"ProxyUserWithoutColon", "proxyuser=\"" + b64("nocolon") + "\"", "https", "0", "",
                 0, "", "", "", "", 0},
        ReadCase{"UserAndPass", "user=\"" + b64("me:secret") + "\"", "https", "0", "", 0, "", "",
                 "me", "secret", 0},
        ReadCase{"UserLeadingColonGivesNeither", "user=\"" + b64(":pw") + "\"", "https", "0", "", 0,
                 "", "", "", "", 0},
        ReadCase{"TimeoutNotANumber", "timeout=\"soon\"", "https", "0", "", 0, "", "", "", "", 0},
        ReadCase{"NegativeTimeout", "timeout=\"-5\"", "https", "0", "", 0, "", "", "", "", 0}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST_F(LmNetConfigTest, ServerEntriesComeFromEveryChildWithAHost) {
    load(
        "<R><ServerList mac=\"00:11\"><Server host=\"a\"/><Other host=\"\"/><NoHost/>"
        "<X HOST=\"c\"/></ServerList></R>");
    NetworkSettings s;
    ASSERT_EQ(config_.getSettings(s), 3);
    EXPECT_EQ(hosts(s.servers), (std::vector<std::string>{"a", "", "c"}));
    EXPECT_EQ(hosts(s.originalServers), hosts(s.servers));
    EXPECT_EQ(s.mac, "00:11");
}

TEST_F(LmNetConfigTest, OriginalServerListIsReadSeparately) {
    load(
        "<R><ServerList><Server host=\"new\"/></ServerList>"
        "<OriginalServerList><Server host=\"o1\"/><Server host=\"o2\"/></OriginalServerList></R>");
    NetworkSettings s;
    ASSERT_EQ(config_.getSettings(s), 1);
    EXPECT_EQ(hosts(s.servers), (std::vector<std::string>{"new"}));
    EXPECT_EQ(hosts(s.originalServers), (std::vector<std::string>{"o1", "o2"}));
}

TEST_F(LmNetConfigTest, WithoutServerListOnlyTheListsAndCredentialsAreReset) {
    load("<R><Other/></R>");
    NetworkSettings s;
    s.type = "http";
    s.isUsingProxy = "1";
    s.proxyPort = 8;
    s.timeout = 9;
    s.mac = "m";
    s.proxyUser = "u";
    s.servers.add(LmServer("x"));
    EXPECT_EQ(config_.getSettings(s), -1);
    EXPECT_EQ(s.type, "http");
    EXPECT_EQ(s.isUsingProxy, "1");
    EXPECT_EQ(s.proxyPort, 8);
    EXPECT_EQ(s.timeout, 9);
    EXPECT_EQ(s.mac, "m");
    EXPECT_EQ(s.proxyUser, "");
    EXPECT_TRUE(s.servers.isEmpty());
}

TEST_F(LmNetConfigTest, NothingLoadedGivesMinusOne) {
    NetworkSettings s;
    EXPECT_FALSE(config_.isLoaded());
    EXPECT_EQ(config_.getSettings(s), -1);
    EXPECT_EQ(config_.load(nullptr), 0);
    EXPECT_EQ(config_.load(""), 0);
    root_.write("conf/network.xml", "<R><unclosed>");
    EXPECT_EQ(config_.load(path().c_str()), 0);
    EXPECT_FALSE(config_.isLoaded());
    EXPECT_EQ(config_.getSettings(s), -1);
}

TEST_F(LmNetConfigTest, MissingFileRaisesWithThePath) {
    try {
        config_.load(root_.file("conf/missing.xml").c_str());
        FAIL() << "no exception";
    } catch (const IOException& e) {
        EXPECT_EQ(e.getMessage().str(),
                  root_.file("conf/missing.xml") + ": No such file or directory");
    }
}

TEST_F(LmNetConfigTest, StoreWithoutServersChangesNothing) {
    const std::string doc = "<R><ServerList timeout=\"5\"><Server host=\"a\"/></ServerList></R>";
    load(doc);
    NetworkSettings s;
    s.timeout = 60;
    EXPECT_EQ(config_.storeSettings(s), 0);
    EXPECT_EQ(file(), doc);
}

TEST_F(LmNetConfigTest, StoreWithoutServerListChangesNothing) {
    const std::string doc = "<R/>";
    load(doc);
    NetworkSettings s;
    s.servers.add(LmServer("a"));
    EXPECT_EQ(config_.storeSettings(s), 0);
    EXPECT_EQ(file(), doc);
}

TEST_F(LmNetConfigTest, StoreReplacesChildrenAndKeepsWhatItDoesNotOwn) {
    load(
        "<LmNetClientSettings><ServerList mac=\"m1\" timeout=\"7\" user=\"dTpw\" extra=\"x\">"
        "<Server host=\"old\"/><Foreign/><Server host=\"old2\"/></ServerList>"
        "<OriginalServerList><Server host=\"orig\"/></OriginalServerList>"
        "<ServerVerify><Param name=\"ssl.server.cert\" value=\"/c.pem\"/></ServerVerify>"
        "<Budget mibPerDay=\"25\"/></LmNetClientSettings>");
    NetworkSettings s;
    s.type = "http";
    s.proxyHost = "proxy";
    s.proxyPort = 3128;
    s.proxyUser = "u";
    s.proxyPass = "p";
    s.timeout = 30;
    s.servers.add(LmServer("s1"));
    s.servers.add(LmServer("s2"));
    EXPECT_EQ(config_.storeSettings(s), 1);
    EXPECT_TRUE(config_.lastSaveSucceeded());
    EXPECT_EQ(file(),
              kDeclaration +
                  "<LmNetClientSettings>\n"
                  "<ServerList mac=\"m1\" timeout=\"30\" user=\"dTpw\" extra=\"x\" type=\"http\" "
                  "isUsingProxy=\"0\" proxy=\"proxy:3128\" proxyuser=\"" +
                  b64("u:p") +
                  "\">\n"
                  "<Server host=\"s1\"/>\n<Server host=\"s2\"/>\n</ServerList>\n"
                  "<OriginalServerList>\n<Server host=\"orig\"/>\n</OriginalServerList>\n"
                  "<ServerVerify>\n<Param name=\"ssl.server.cert\" value=\"/c.pem\"/>\n"
                  "</ServerVerify>\n<Budget mibPerDay=\"25\"/>\n</LmNetClientSettings>\n");
    // The document in memory is what the file holds.
    NetworkSettings back;
    ASSERT_EQ(config_.getSettings(back), 2);
    EXPECT_EQ(hosts(back.originalServers), (std::vector<std::string>{"orig"}));
    EXPECT_EQ(back.proxyHost, "proxy");
    EXPECT_EQ(back.proxyPass, "p");
}

struct ProxyCase {
    const char* name;
    const char* host;
    int port;
    const char* user;
    const char* pass;
    std::string proxy;
    std::string proxyuser;
};

void PrintTo(const ProxyCase& c, std::ostream* os) {
    *os << c.name << ": proxy=\"" << c.proxy << "\" proxyuser=\"" << c.proxyuser << "\"";
}

class LmNetConfigProxyTest : public LmNetConfigTest,
                             public testing::WithParamInterface<ProxyCase> {};

TEST_P(LmNetConfigProxyTest, WritesProxyAttributes) {
    const ProxyCase& c = GetParam();
    load("<R><ServerList/></R>");
    NetworkSettings s;
    s.proxyHost = c.host;
    s.proxyPort = c.port;
    s.proxyUser = c.user;
    s.proxyPass = c.pass;
    s.timeout = 180;
    s.servers.add(LmServer("a"));
    ASSERT_EQ(config_.storeSettings(s), 1);
    EXPECT_EQ(file(), kDeclaration + "<R>\n<ServerList type=\"https\" isUsingProxy=\"0\" proxy=\"" +
                          c.proxy + "\" proxyuser=\"" + c.proxyuser +
                          "\" timeout=\"180\">\n<Server host=\"a\"/>\n</ServerList>\n</R>\n");
}

INSTANTIATE_TEST_SUITE_P(
    Values, LmNetConfigProxyTest,
    testing::Values(ProxyCase{"NoHostPortMinusOne", "", -1, "", "", "", ""},
                    ProxyCase{"NoHostPortZero", "", 0, "", "", ":0", ""},
                    ProxyCase{"HostAndPort", "p.example", 8080, "", "", "p.example:8080", ""},
                    ProxyCase{"OnlyPassword", "", -1, "", "pw", "", b64(":pw")},
                    ProxyCase{"Escaped", "a&b\"<>", 1, "", "", "a&amp;b&quot;&lt;&gt;:1", ""}),
    [](const testing::TestParamInfo<ProxyCase>& info) { return std::string(info.param.name); });

TEST_F(LmNetConfigTest, AValueXmlCannotCarryLeavesTheFileAsItWas) {
    const std::string doc = "<R><ServerList><Server host=\"a\"/></ServerList></R>";
    load(doc);
    NetworkSettings s;
    s.servers.add(LmServer("bad\x01host"));
    testing::internal::CaptureStdout();
    EXPECT_EQ(config_.storeSettings(s), 1);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "LmUpdate: store network settings failed: " + path() +
                  ": a value holds characters that cannot be stored");
    EXPECT_FALSE(config_.lastSaveSucceeded());
    EXPECT_EQ(file(), doc);
    Vector<String> names;
    ASSERT_TRUE(File(root_.file("conf")).list(names));
    EXPECT_EQ(names.size(), 1);  // no temporary file left behind
}

// The settings hold the proxy credentials: a file readable by others is
// closed on its next save.
TEST_F(LmNetConfigTest, SaveLeavesTheFile0600AndNoTemporaryFile) {
    load("<R><ServerList/></R>");
    ASSERT_EQ(chmod(path().c_str(), 0644), 0);
    ASSERT_EQ(config_.save(), 1);
    struct stat status {};
    ASSERT_EQ(stat(path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    Vector<String> names;
    ASSERT_TRUE(File(root_.file("conf")).list(names));
    EXPECT_EQ(names.size(), 1);
}

TEST_F(LmNetConfigTest, ASaveThatRunsOutOfRoomKeepsTheOldSettings) {
    const std::string doc = "<R><ServerList><Server host=\"a\"/></ServerList></R>";
    load(doc);
    NetworkSettings s;
    for (int i = 0; i < 100; ++i) {
        s.servers.add(LmServer(String("server").append(i).append(".example")));
    }
    std::string out;
    {
        FileSizeLimit limit(512);
        if (!limit.active()) {
            GTEST_SKIP() << "cannot limit the file size";
        }
        testing::internal::CaptureStdout();
        EXPECT_EQ(config_.storeSettings(s), 1);
        std::fflush(stdout);
        out = testing::internal::GetCapturedStdout();
    }
    EXPECT_EQ(out, "LmUpdate: store network settings failed: " + path() + ": File too large");
    EXPECT_FALSE(config_.lastSaveSucceeded());
    EXPECT_EQ(file(), doc);
    Vector<String> names;
    ASSERT_TRUE(File(root_.file("conf")).list(names));
    EXPECT_EQ(names.size(), 1);
}

TEST_F(LmNetConfigTest, SaveIntoAVanishedDirectoryReportsThePath) {
    load("<R><ServerList/></R>");
    root_.remove("conf");
    testing::internal::CaptureStdout();
    EXPECT_EQ(config_.save(), 0);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "LmUpdate: store network settings failed: " + path() + ": No such file or directory");
    EXPECT_FALSE(root_.exists("conf"));
}

TEST_F(LmNetConfigTest, ServerVerifyIsWrittenAndFoundOnlyForExistingFiles) {
    root_.write("certs/ca.pem", "pem");
    load("<R><ServerList/><ServerVerify><Param name=\"x\" value=\"y\"/></ServerVerify></R>");
    CertLocation missing{String(root_.file("certs")), String("none.pem")};
    EXPECT_EQ(config_.setServerVerify(missing), 0);
    CertLocation location{String(root_.file("certs")), String("ca.pem")};
    ASSERT_EQ(config_.setServerVerify(location), 1);
    EXPECT_EQ(file(), kDeclaration +
                          "<R>\n<ServerList/>\n<ServerVerify>\n<Param "
                          "name=\"ssl.server.cert\" value=\"" +
                          root_.file("certs/ca.pem") + "\"/>\n</ServerVerify>\n</R>\n");
    CertLocation found{String("stale"), String("stale")};
    EXPECT_EQ(config_.getServerVerify(found), 1);
    EXPECT_EQ(found.directory, "");
    EXPECT_EQ(found.file.str(), root_.file("certs/ca.pem"));
}

TEST_F(LmNetConfigTest, ServerVerifyIsAddedBelowTheRootAndAnEmptyDirectoryMeansHere) {
    root_.write("ca.pem", "pem");
    const std::string before = "<R><ServerList/></R>";
    load(before);
    EXPECT_EQ(config_.setServerVerify(CertLocation{String(root_.path()), String()}), 0);
    EXPECT_EQ(file(), before);

    // The certificate path is relative to the working directory.
    char* saved = getcwd(nullptr, 0);
    ASSERT_NE(saved, nullptr);
    ASSERT_EQ(chdir(root_.path().c_str()), 0);
    int result = config_.setServerVerify(CertLocation{String(), String("ca.pem")});
    EXPECT_EQ(chdir(saved), 0);
    std::free(saved);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(file(), kDeclaration +
                          "<R>\n<ServerList/>\n<ServerVerify>\n"
                          "<Param name=\"ssl.server.cert\" value=\"./ca.pem\"/>\n"
                          "</ServerVerify>\n</R>\n");

    LmNetConfig unloaded;
    EXPECT_EQ(unloaded.setServerVerify(CertLocation{String(root_.path()), String("ca.pem")}), 0);
}

// A configured path that does not exist is still the configured path: the
// connection then fails instead of going unverified. An empty one counts as
// not configured.
TEST_F(LmNetConfigTest, ServerVerifyReturnsTheConfiguredPathEvenWhenMissing) {
    root_.write("ca.pem", "pem");
    load(
        "<R><ServerVerify><Param name=\"ssl.server.cert\" value=\"\"/>"
        "<Param name=\"SSL.Server.Cert\" value=\"/nonexistent/x.pem\"/>"
        "<Param name=\"ssl.server.cert\" value=\"" +
        root_.file("ca.pem") + "\"/></ServerVerify></R>");
    CertLocation found;
    EXPECT_EQ(config_.getServerVerify(found), 1);
    EXPECT_EQ(found.file, "/nonexistent/x.pem");
    load("<R/>");
    EXPECT_EQ(config_.getServerVerify(found), -1);
    EXPECT_EQ(found.file, "");
}

struct VerificationCase {
    const char* name;
    const char* parameters;  // the children of ServerVerify; null: no element
    CertLocation::Mode mode;
    const char* value;  // the path (kPath) or the refused value (kInvalid)
};

class LmNetConfigVerificationTest : public LmNetConfigTest,
                                    public testing::WithParamInterface<VerificationCase> {};

TEST_P(LmNetConfigVerificationTest, ModeFromTheParameters) {
    const VerificationCase& c = GetParam();
    load(c.parameters == nullptr ? std::string("<R><ServerList/></R>")
                                 : std::string("<R><ServerList/><ServerVerify>") + c.parameters +
                                       "</ServerVerify></R>");
    CertLocation location = config_.getVerification();
    EXPECT_EQ(location.mode, c.mode);
    const String& value =
        c.mode == CertLocation::Mode::kInvalid ? location.invalidValue : location.file;
    EXPECT_EQ(value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Parameters, LmNetConfigVerificationTest,
    testing::Values(
        VerificationCase{"NoElement", nullptr, CertLocation::Mode::kSystem, ""},
        VerificationCase{"EmptyPath", "<Param name=\"ssl.server.cert\" value=\"\"/>",
                         CertLocation::Mode::kSystem, ""},
        VerificationCase{"MissingPath", "<Param name=\"ssl.server.cert\" value=\"/no/ca.pem\"/>",
                         CertLocation::Mode::kPath, "/no/ca.pem"},
        VerificationCase{"NoneIgnoringCase", "<Param name=\"SSL.Verify\" value=\"NoNe\"/>",
                         CertLocation::Mode::kNone, ""},
        VerificationCase{"NoneBeatsAPath",
                         "<Param name=\"ssl.server.cert\" value=\"/ca.pem\"/>"
                         "<Param name=\"ssl.verify\" value=\"none\"/>",
                         CertLocation::Mode::kNone, ""},
        VerificationCase{"OtherValueIsInvalid",
                         "<Param name=\"ssl.server.cert\" value=\"/ca.pem\"/>"
                         "<Param name=\"ssl.verify\" value=\"off\"/>",
                         CertLocation::Mode::kInvalid, "off"},
        VerificationCase{"EmptyValueIsInvalid", "<Param name=\"ssl.verify\" value=\"\"/>",
                         CertLocation::Mode::kInvalid, ""}),
    [](const testing::TestParamInfo<VerificationCase>& info) { return info.param.name; });

// Each mode replaces the stored one and keeps unrelated parameters.
TEST_F(LmNetConfigTest, SetVerificationReplacesTheStoredMode) {
    load(
        "<R><ServerList/><ServerVerify><Param name=\"x\" value=\"y\"/>"
        "<Param name=\"ssl.server.cert\" value=\"/old.pem\"/></ServerVerify></R>");
    CertLocation none;
    none.mode = CertLocation::Mode::kNone;
    ASSERT_EQ(config_.setVerification(none), 1);
    EXPECT_EQ(file(), kDeclaration +
                          "<R>\n<ServerList/>\n<ServerVerify>\n<Param name=\"x\" value=\"y\"/>\n"
                          "<Param name=\"ssl.verify\" value=\"none\"/>\n</ServerVerify>\n</R>\n");
    CertLocation path;
    path.mode = CertLocation::Mode::kPath;
    path.file = "/etc/ca dir";
    ASSERT_EQ(config_.setVerification(path), 1);
    EXPECT_EQ(config_.getVerification().mode, CertLocation::Mode::kPath);
    EXPECT_EQ(config_.getVerification().file, "/etc/ca dir");
    ASSERT_EQ(config_.setVerification(CertLocation{}), 1);
    EXPECT_EQ(file(), kDeclaration +
                          "<R>\n<ServerList/>\n<ServerVerify>\n<Param name=\"x\" value=\"y\"/>\n"
                          "</ServerVerify>\n</R>\n");
    path.file = "";
    EXPECT_EQ(config_.setVerification(path), 0);
    LmNetConfig unloaded;
    EXPECT_EQ(unloaded.setVerification(none), 0);
}

// The budget is an element of its own below the root, changed in place;
// 0 removes every one, and a value out of range changes nothing.
TEST_F(LmNetConfigTest, BudgetIsStoredReplacedAndRemoved) {
    load("<R><ServerList/></R>");
    EXPECT_EQ(config_.getBudget(), 0);
    ASSERT_EQ(config_.setBudget(25), 1);
    EXPECT_TRUE(config_.lastSaveSucceeded());
    EXPECT_EQ(file(), kDeclaration + "<R>\n<ServerList/>\n<Budget mibPerDay=\"25\"/>\n</R>\n");
    ASSERT_EQ(config_.setBudget(1048576), 1);
    EXPECT_EQ(config_.getBudget(), 1048576);
    for (int outOfRange : {-1, 1048577}) {
        EXPECT_EQ(config_.setBudget(outOfRange), 0) << outOfRange;
    }
    EXPECT_EQ(file(), kDeclaration + "<R>\n<ServerList/>\n<Budget mibPerDay=\"1048576\"/>\n</R>\n");

    load("<R><Budget mibPerDay=\"1\"/><ServerList/><Budget mibPerDay=\"2\"/></R>");
    ASSERT_EQ(config_.setBudget(0), 1);
    EXPECT_EQ(file(), kDeclaration + "<R>\n<ServerList/>\n</R>\n");
    EXPECT_EQ(config_.getBudget(), 0);

    LmNetConfig unloaded;
    EXPECT_EQ(unloaded.getBudget(), 0);
    EXPECT_EQ(unloaded.setBudget(25), 0);
}

// A stored value the command line would refuse is reported as such, not
// taken for no budget.
TEST_F(LmNetConfigTest, AStoredBudgetThatIsNoValueIsMinusOne) {
    for (const char* budget :
         {"<Budget/>", "<Budget mibPerDay=\"0\"/>", "<Budget mibPerDay=\" 5\"/>",
          "<Budget mibPerDay=\"4294967297\"/>"}) {
        load(std::string("<R>") + budget + "</R>");
        EXPECT_EQ(config_.getBudget(), -1) << budget;
    }
}

}  // namespace

namespace {

TEST_F(LmNetConfigTest, SaveThroughASymbolicLinkUpdatesTheLinkedFile) {
    root_.write("persistent/network.xml", "<R><ServerList/></R>");
    root_.mkdirs("conf");
    ASSERT_EQ(symlink(root_.file("persistent/network.xml").c_str(), path().c_str()), 0);
    ASSERT_EQ(config_.load(path().c_str()), 1);
    NetworkSettings s;
    s.servers.add(LmServer("a"));
    ASSERT_EQ(config_.storeSettings(s), 1);
    ASSERT_TRUE(config_.lastSaveSucceeded());
    struct stat status {};
    ASSERT_EQ(lstat(path().c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_NE(root_.read("persistent/network.xml").find("<Server host=\"a\"/>"), std::string::npos);
}

TEST_F(LmNetConfigTest, SaveWithNothingLoadedWritesNothing) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(config_.save(), 0);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "LmUpdate: store network settings failed: no settings file is loaded");
}

}  // namespace
