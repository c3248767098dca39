#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

#include "SetNetworkFixture.h"

namespace {

const std::string kUsage =
    "Usage: SetNetwork [options...]\n"
    "-S/--set:                     Set network settings\n"
    "  --server <host1,host2,...>  Host names of update servers\n"
    "  --type <https/http>         Protocol type <Default type is https>\n"
    "  --isUsingProxy <1 yes/0 no> isUsingProxy <Default type is 0>\n"
    "  --proxyserver <proxyserver> proxy server\n"
    "  --proxyport <proxyport>     proxy port\n"
    "  --proxyuser <user>          Specify proxy user\n"
    "  --proxypass <password>      Specify proxy password\n"
    "  --timeout <seconds>         Maximum timeout allowed for connection\n"
    "  --tls-verify <system|none|path> Certificate check of update servers\n"
    "  --budget <MiB per day|off>  Daily byte budget for metered links\n"
    "-h/--help:                  This help text\n";

const std::string kDefaultDocument = settingsDocument(
    "<ServerList type=\"https\" isUsingProxy=\"0\" proxy=\"\" proxyuser=\"\" timeout=\"180\">",
    {""});

// The printed settings, label by label.
std::string printed(const std::string& servers, const std::string& type,
                    const std::string& isUsingProxy, const std::string& proxyHost,
                    const std::string& port, const std::string& user, const std::string& pass,
                    const std::string& timeout) {
    return "server:     " + servers + "\ntype:       " + type +
           "\nisUsingProxy:      " + isUsingProxy + "\nproxyserver:      " + proxyHost +
           "\nproxyport:      " + (port.empty() ? "" : "      " + port) + "\nproxyuser:  " + user +
           "\nproxypass:  " + pass + "\ntimeout:    " + timeout + "\n";
}

// The ServerList start tag with the five attributes a store writes, in order.
std::string tag(const std::string& type, const std::string& isUsingProxy, const std::string& proxy,
                const std::string& proxyuser, const std::string& timeout) {
    return "<ServerList type=\"" + type + "\" isUsingProxy=\"" + isUsingProxy + "\" proxy=\"" +
           proxy + "\" proxyuser=\"" + proxyuser + "\" timeout=\"" + timeout + "\">";
}

// The file after storing options that leave everything but the servers and
// the time-out at their defaults.
std::string defaultsStored(const std::vector<std::string>& hosts,
                           const std::string& timeout = "180") {
    return settingsDocument(tag("https", "0", ":0", "", timeout), hosts);
}

const std::string kUnauthenticated =
    "LmUpdate: warning: updates are not authenticated: no signing key and ";

using SetNetworkCommandTest = SetNetworkFixture;

TEST_F(SetNetworkCommandTest, WithoutAnActionOptionPointsToHelp) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"--foo"}, {"word"}, {"-", "--server", "a"}}) {
        ProgramResult r = run(args);
        EXPECT_EQ(r.exitStatus, 255);
        EXPECT_EQ(r.out, kTryHelp);
        EXPECT_EQ(r.err, "");
    }
    EXPECT_FALSE(hasSettings());
    EXPECT_TRUE(root_.exists("tmp/network.lock"));  // even then the lock was taken
}

TEST_F(SetNetworkCommandTest, HelpPrintsTheUsageLines) {
    for (const char* option : {"-h", "--help", "-help", "--h"}) {
        ProgramResult r = run({option});
        EXPECT_EQ(r.exitStatus, 0) << option;
        EXPECT_EQ(r.out, kUsage) << option;
    }
    EXPECT_FALSE(hasSettings());
}

TEST_F(SetNetworkCommandTest, PrintModeWithoutAUsableFileExits10) {
    for (const char* content : {"", "<LmNetClientSettings><ServerList>", "not xml"}) {
        if (*content != '\0') {
            writeSettings(content);
        }
        ProgramResult r = run({"-S"});
        EXPECT_EQ(r.exitStatus, 10) << content;
        EXPECT_EQ(r.out, "") << content;
    }
    EXPECT_EQ(settings(), "not xml");  // print mode never writes
    root_.remove(kSettings);
    EXPECT_EQ(run({"--set"}).exitStatus, 10);
    EXPECT_FALSE(hasSettings());
}

TEST_F(SetNetworkCommandTest, PrintModePrintsTheDefaultDocument) {
    writeSettings(kDefaultDocument);
    ProgramResult r = run({"-S"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, printed("", "https", "0", "", "", "", "", "180"));
}

TEST_F(SetNetworkCommandTest, PrintModePrintsEverySetting) {
    // "dTpwJXM=" is the Base64 form of "u:p%s".
    writeSettings(
        settingsDocument("<ServerList type=\"http\" isUsingProxy=\"1\" proxy=\"px&amp;1:3128\" "
                         "proxyuser=\"dTpwJXM=\" timeout=\"42\">",
                         {"s1", "s2"}));
    ProgramResult r = run({"-S", "extra"});  // the word is the value of S
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, printed("s1,s2", "http", "1", "px&1", "3128", "u", "p%s", "42"));
}

TEST_F(SetNetworkCommandTest, PrintModeShowsTheOriginalServerList) {
    writeSettings(settingsDocument("<ServerList proxy=\"px\" timeout=\"0\">", {"active"},
                                   "<OriginalServerList>\n<Server host=\"o1\"/>\n<Server "
                                   "host=\"o2\"/>\n</OriginalServerList>\n"));
    ProgramResult r = run({"--S"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, printed("o1,o2", "https", "0", "px", "", "", "", "180"));
}

TEST_F(SetNetworkCommandTest, SetModeCreatesTheDefaultDocumentThenStores) {
    ProgramResult r = run({"-S", "--server", "a"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, kChanged);
    EXPECT_EQ(settings(), defaultsStored({"a"}));
    // The file holds the proxy credentials: only its owner may read it.
    struct stat status {};
    ASSERT_EQ(stat(root_.file("conf/network.xml").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
}

TEST_F(SetNetworkCommandTest, SetModeReplacesAnUnusableFile) {
    for (const char* content : {"", "<broken", "<LmNetClientSettings/>x"}) {
        writeSettings(content);
        ProgramResult r = run({"-S", "--server", "b", "--timeout", "9"});
        EXPECT_EQ(r.exitStatus, 0) << content;
        EXPECT_EQ(r.out, kChanged);
        EXPECT_EQ(settings(), defaultsStored({"b"}, "9")) << content;
    }
}

TEST_F(SetNetworkCommandTest, SetAndHelpTogetherIsSetModeWithNothingGiven) {
    ProgramResult r = run({"-S", "-h"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, kChanged);
    EXPECT_EQ(settings(), defaultsStored({""}));
}

TEST_F(SetNetworkCommandTest, ApplyCarriesOnlyServersAndTimeout) {
    const std::string after =
        "<OriginalServerList>\n<Server host=\"orig\"/>\n</OriginalServerList>\n"
        "<ServerVerify>\n<Param name=\"ssl.server.cert\" value=\"/etc/ca.pem\"/>\n"
        "</ServerVerify>\n";
    writeSettings(
        settingsDocument("<ServerList mac=\"00:0a\" type=\"http\" isUsingProxy=\"1\" "
                         "proxy=\"px:8080\" proxyuser=\"dTpw\" timeout=\"77\">",
                         {"s1", "s2"}, after));
    ProgramResult r = run({"-S", "--timeout", "60"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, kChanged);
    EXPECT_EQ(settings(), settingsDocument("<ServerList mac=\"00:0a\" type=\"https\" "
                                           "isUsingProxy=\"0\" proxy=\":0\" proxyuser=\"\" "
                                           "timeout=\"60\">",
                                           {"s1", "s2"}, after));

    r = run({"-S", "--server", "n1,n2", "--type", "HTTP"},  // time-out carried over
            kUnauthenticated + "--type http\n");
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(settings(), settingsDocument("<ServerList mac=\"00:0a\" type=\"HTTP\" "
                                           "isUsingProxy=\"0\" proxy=\":0\" proxyuser=\"\" "
                                           "timeout=\"60\">",
                                           {"n1", "n2"}, after));
    // The printed list stays the original one.
    EXPECT_EQ(run({"-S"}).out, printed("orig", "HTTP", "0", "", "", "", "", "60"));
}

TEST_F(SetNetworkCommandTest, TimeoutZeroKeepsTheStoredOneOr180) {
    writeSettings(settingsDocument("<ServerList timeout=\"33\">", {"a"}));
    EXPECT_EQ(run({"-S", "--timeout", "0"}).exitStatus, 0);
    EXPECT_NE(settings().find("timeout=\"33\""), std::string::npos);
    writeSettings(settingsDocument("<ServerList timeout=\"junk\">", {"a"}));
    EXPECT_EQ(run({"-S", "--timeout", "0"}).exitStatus, 0);
    EXPECT_NE(settings().find("timeout=\"180\""), std::string::npos);
}

struct AcceptCase {
    const char* name;
    std::vector<std::string> args;
    std::string serverListTag;
    std::vector<std::string> hosts;
};

void PrintTo(const AcceptCase& c, std::ostream* os) {
    *os << c.name << commandLine(c.args);
}

class SetNetworkAcceptTest : public SetNetworkFixture,
                             public testing::WithParamInterface<AcceptCase> {};

TEST_P(SetNetworkAcceptTest, StoresTheOptions) {
    const AcceptCase& c = GetParam();
    writeSettings(kDefaultDocument);
    std::vector<std::string> args{"-S"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProgramResult r = run(args);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, kChanged);
    EXPECT_EQ(settings(), settingsDocument(c.serverListTag, c.hosts));
}

INSTANTIATE_TEST_SUITE_P(
    Options, SetNetworkAcceptTest,
    testing::Values(
        AcceptCase{"EmptyPiecesDropped",
                   {"--server", "a,,b,"},
                   tag("https", "0", ":0", "", "180"),
                   {"a", "b"}},
        AcceptCase{"HostGrammar",
                   {"--server", "Up-1.example.com:8443,10.0.0.1,[::1]:443,2001:db8::7"},
                   tag("https", "0", ":0", "", "180"),
                   {"Up-1.example.com:8443", "10.0.0.1", "[::1]:443", "[2001:db8::7]"}},
        AcceptCase{"TypeKeepsCase", {"--type", "HtTpS"}, tag("HtTpS", "0", ":0", "", "180"), {""}},
        AcceptCase{"ProxyComplete",
                   {"--isUsingProxy", "1", "--proxyserver", "px", "--proxyport", "3128",
                    "--proxyuser", "u", "--proxypass", "p"},
                   tag("https", "1", "px:3128", "dTpw", "180"),
                   {""}},
        AcceptCase{"ProxyPortTrailingText",
                   {"--proxyport", "80x"},
                   tag("https", "0", ":80", "", "180"),
                   {""}},
        AcceptCase{"ProxyPortEmptyIsIgnored",
                   {"--proxyport", "--timeout", "5"},
                   tag("https", "0", ":0", "", "5"),
                   {""}},
        AcceptCase{
            "ProxyPortLastIsIgnored", {"--proxyport"}, tag("https", "0", ":0", "", "180"), {""}},
        AcceptCase{
            "TimeoutTrailingText", {"--timeout", "180s"}, tag("https", "0", ":0", "", "180"), {""}},
        AcceptCase{"OneDashOptions",
                   {"-server", "x", "-timeout", "7"},
                   tag("https", "0", ":0", "", "7"),
                   {"x"}},
        AcceptCase{"BareIpv6ProxyIsBracketed",
                   {"--proxyserver", "::1", "--proxyport", "3128"},
                   tag("https", "0", "[::1]:3128", "", "180"),
                   {""}}),
    [](const testing::TestParamInfo<AcceptCase>& info) { return std::string(info.param.name); });

TEST_F(SetNetworkCommandTest, EscapedValuesReadBackUnchanged) {
    ASSERT_EQ(run({"-S", "--server", "a,b", "--proxyserver", "p", "--proxyuser", "u\"&<\n",
                   "--proxypass", "<pw>&\"\t"})
                  .exitStatus,
              0);
    EXPECT_EQ(run({"-S"}).out,
              printed("a,b", "https", "0", "p", "", "u\"&<\n", "<pw>&\"\t", "180"));
}

struct RejectCase {
    const char* name;
    std::vector<std::string> args;
    std::string message;
};

void PrintTo(const RejectCase& c, std::ostream* os) {
    *os << c.name << commandLine(c.args);
}

class SetNetworkRejectTest : public SetNetworkFixture,
                             public testing::WithParamInterface<RejectCase> {};

TEST_P(SetNetworkRejectTest, PrintsTheMessageAndLeavesTheFileAlone) {
    const RejectCase& c = GetParam();
    const std::string doc = settingsDocument("<ServerList timeout=\"5\">", {"keep"});
    writeSettings(doc);
    std::vector<std::string> args{"-S"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProgramResult r = run(args);
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_EQ(r.out, c.message + "\n" + kTryHelp);
    EXPECT_EQ(settings(), doc);
}

INSTANTIATE_TEST_SUITE_P(
    Options, SetNetworkRejectTest,
    testing::Values(
        RejectCase{"ServerEmpty", {"--server", ""}, "LmUpdate: no server host is specified!"},
        RejectCase{"ServerLast", {"--server"}, "LmUpdate: no server host is specified!"},
        RejectCase{
            "TypeEmpty", {"--type", "--server", "a"}, "LmUpdate: no protocol type is specified!"},
        RejectCase{
            "TypeUnsupported", {"--type", "ftp"}, "LmUpdate: unsupported protocol type: 'ftp'"},
        RejectCase{"TypeVerbatim",
                   {"--type", "%s%n\\x"},
                   "LmUpdate: unsupported protocol type: '%s%n\\x'"},
        RejectCase{"ProxyFlagEmpty", {"--isUsingProxy"}, "LmUpdate: no isUsingProxy is specified!"},
        RejectCase{"ProxyFlagWord",
                   {"--isUsingProxy", "yes"},
                   "LmUpdate: unsupported isUsingProxy: 'yes'"},
        RejectCase{
            "ProxyPortLetters", {"--proxyport", "8a"}, "LmUpdate: invalid proxyport is specified!"},
        RejectCase{"ProxyPortWrapsToMinusOne",
                   {"--proxyport", "4294967295"},
                   "LmUpdate: invalid proxyport is specified!"},
        RejectCase{"ProxyPortOutOfRange",
                   {"--proxyport", "65536"},
                   "LmUpdate: invalid proxyport is specified!"},
        RejectCase{"TimeoutEmpty", {"--timeout"}, "LmUpdate: no connection timeout is specified!"},
        RejectCase{"TimeoutLetters",
                   {"--timeout", "soon"},
                   "LmUpdate: invalid connection timeout is specified!"},
        RejectCase{"TimeoutWrapsNegative",
                   {"--timeout", "4294967295"},
                   "LmUpdate: invalid connection timeout is specified!"},
        RejectCase{"FirstFailureWins",
                   {"--timeout", "x", "--server", ""},
                   "LmUpdate: no server host is specified!"},
        RejectCase{"ServerBlank", {"--server", " a"}, "LmUpdate: invalid server host: ' a'"},
        RejectCase{"ServerWithPath",
                   {"--server", "a,user:pw@host/x?y="},
                   "LmUpdate: invalid server host: 'user:pw@host/x?y='"},
        RejectCase{"ServerMarkup", {"--server", "a&b"}, "LmUpdate: invalid server host: 'a&b'"},
        RejectCase{"ServerPortOutOfRange",
                   {"--server", "host:65536"},
                   "LmUpdate: invalid server host: 'host:65536'"},
        RejectCase{"ProxyWithPort",
                   {"--proxyserver", "p:3128"},
                   "LmUpdate: invalid proxyserver: 'p:3128'"},
        RejectCase{"ProxyMarkup",
                   {"--proxyserver", "p&<>\"q"},
                   "LmUpdate: invalid proxyserver: 'p&<>\"q'"},
        RejectCase{"TlsVerifyEmpty", {"--tls-verify"}, "LmUpdate: no verify mode is specified!"},
        RejectCase{"TlsVerifyMissingPath",
                   {"--tls-verify", "/nonexistent/ca.pem"},
                   "LmUpdate: invalid verify value: '/nonexistent/ca.pem'"},
        RejectCase{"TlsVerifyAfterTimeout",
                   {"--tls-verify", "", "--timeout", "x"},
                   "LmUpdate: invalid connection timeout is specified!"},
        RejectCase{"BudgetEmpty", {"--budget"}, "LmUpdate: no budget is specified!"},
        RejectCase{"BudgetNegative", {"--budget", "-5"}, "LmUpdate: invalid budget is specified!"},
        RejectCase{"BudgetText", {"--budget", "lots"}, "LmUpdate: invalid budget is specified!"},
        // 0 stands for off inside, but is no budget to type.
        RejectCase{"BudgetZero", {"--budget", "0"}, "LmUpdate: invalid budget is specified!"},
        RejectCase{"BudgetHuge",
                   {"--budget", "99999999999999999999"},
                   "LmUpdate: invalid budget is specified!"}),
    [](const testing::TestParamInfo<RejectCase>& info) { return std::string(info.param.name); });

TEST_F(SetNetworkCommandTest, ASettingsFileThatCannotBeReadExits1) {
    root_.mkdirs(kSettings);  // a directory where the file should be
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-S"}, {"-S", "--server", "a"}}) {
        ProgramResult r = run(args);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(r.out, root_.file(kSettings) + ": Is a directory");
    }
    ProgramResult help = run({"-h"});  // loaded after the options, also for help
    EXPECT_EQ(help.exitStatus, 1);
    EXPECT_EQ(help.out, kUsage + root_.file(kSettings) + ": Is a directory");
}

TEST_F(SetNetworkCommandTest, ASettingsFileThatCannotBeOpenedExits1) {
    // Opening a socket fails even for root.
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = root_.file(kSettings);
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ProgramResult r = run({"-S", "--server", "a"});
    close(fd);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, path + ": No such device or address");
}

TEST_F(SetNetworkCommandTest, AFifoAsTheSettingsFileReadsAsEmptyWithoutBlocking) {
    ASSERT_EQ(mkfifo(root_.file(kSettings).c_str(), 0600), 0);
    ProgramResult r = run({"-S"});
    EXPECT_EQ(r.exitStatus, 10);
    EXPECT_EQ(r.out, "");
    r = run({"-S", "--server", "a"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, kChanged);
    EXPECT_EQ(settings(), defaultsStored({"a"}));
}

TEST_F(SetNetworkCommandTest, AnUnreadableSettingsFileExits1) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root reads any file";
    }
    writeSettings(kDefaultDocument);
    ASSERT_EQ(chmod(root_.file(kSettings).c_str(), 0), 0);
    ProgramResult r = run({"-S"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, root_.file(kSettings) + ": Permission denied");
}

TEST_F(SetNetworkCommandTest, WithoutConfTheDefaultFileCannotBeCreated) {
    root_.remove("conf");
    ProgramResult r = run({"-S", "--server", "a"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "LmUpdate: cannot create network settings file: " + root_.file(kSettings) +
                         ": No such file or directory\n");
    EXPECT_FALSE(root_.exists("conf"));
}

// Such hosts no longer pass the host grammar; the XML writer's own check is
// tested with the settings store.
TEST_F(SetNetworkCommandTest, AValueXmlCannotCarryIsNotStored) {
    writeSettings(kDefaultDocument);
    ProgramResult r = run({"-S", "--server", "bad\x01", "--proxyserver", "\xff"});
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_EQ(r.out, std::string("LmUpdate: invalid server host: 'bad\x01'\n") + kTryHelp);
    EXPECT_EQ(settings(), kDefaultDocument);
}

// --tls-verify alone changes only ServerVerify; with other options those are
// stored as always. A path is stored as its absolute real path.
TEST_F(SetNetworkCommandTest, TlsVerifyStoresTheCertificateCheck) {
    const std::string serverList =
        "<ServerList type=\"http\" isUsingProxy=\"1\" proxy=\"px:8\" "
        "proxyuser=\"\" timeout=\"5\">";
    writeSettings(settingsDocument(serverList, {"a"}));
    root_.write("certs/ca.pem", "pem");
    const std::string real = root_.file("certs/ca.pem");
    struct Step {
        std::vector<std::string> args;
        std::string serverVerify;  // the element after the run
    };
    const Step steps[] = {
        {{"-S", "--tls-verify", root_.file("certs/../certs/ca.pem")},
         "<ServerVerify>\n<Param name=\"ssl.server.cert\" value=\"" + real +
             "\"/>\n</ServerVerify>\n"},
        {{"-S", "--tls-verify", "none"},
         "<ServerVerify>\n<Param name=\"ssl.verify\" value=\"none\"/>\n</ServerVerify>\n"},
        {{"-S", "--tls-verify", root_.file("certs")},
         "<ServerVerify>\n<Param name=\"ssl.server.cert\" value=\"" + root_.file("certs") +
             "\"/>\n</ServerVerify>\n"},
        {{"-S", "--tls-verify", "system"}, "<ServerVerify/>\n"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.args[2]);
        ProgramResult r =
            run(step.args, step.args[2] == "none" ? kUnauthenticated + "--tls-verify none\n" : "");
        EXPECT_EQ(r.exitStatus, 0);
        EXPECT_EQ(r.out, kChanged);
        EXPECT_EQ(settings(), settingsDocument(serverList, {"a"}, step.serverVerify));
    }
    ProgramResult r = run({"-S", "--timeout", "9", "--tls-verify", "none"},
                          kUnauthenticated + "--tls-verify none\n");
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(settings(),
              settingsDocument(tag("https", "0", ":0", "", "9"), {"a"},
                               "<ServerVerify>\n<Param name=\"ssl.verify\" value=\"none\"/>\n"
                               "</ServerVerify>\n"));
}

// --budget alone (or with --tls-verify only) changes only itself; later
// stores of the other settings keep it, and off removes it.
TEST_F(SetNetworkCommandTest, BudgetIsStoredListedKeptAndRemoved) {
    const std::string serverList =
        "<ServerList type=\"http\" isUsingProxy=\"1\" proxy=\"px:8\" "
        "proxyuser=\"\" timeout=\"5\">";
    writeSettings(settingsDocument(serverList, {"a"}));
    ProgramResult r = run({"-S", "--budget", "25"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, kChanged);
    EXPECT_EQ(settings(), settingsDocument(serverList, {"a"}, "<Budget mibPerDay=\"25\"/>\n"));
    EXPECT_EQ(run({"-S"}).out,
              printed("a", "http", "1", "px", "8", "", "", "5") + "budget:     25 MiB/day\n");

    EXPECT_EQ(run({"-S", "--tls-verify", "system", "--budget", "1048576"}).exitStatus, 0);
    const std::string largest = "<Budget mibPerDay=\"1048576\"/>\n";
    EXPECT_EQ(settings(), settingsDocument(serverList, {"a"}, largest));

    EXPECT_EQ(run({"-S", "--timeout", "9"}).exitStatus, 0);
    const std::string stored = tag("https", "0", ":0", "", "9");
    EXPECT_EQ(settings(), settingsDocument(stored, {"a"}, largest));

    r = run({"-S", "--budget", "off"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, kChanged);
    EXPECT_EQ(settings(), settingsDocument(stored, {"a"}));
    EXPECT_EQ(run({"-S"}).out, printed("a", "https", "0", "", "", "", "", "9"));
}

// Standard output and the status are those of any store; a signing key
// (the root's) leaves nothing to point out.
TEST_F(SetNetworkCommandTest, UnauthenticatedSettingsWarnWithoutASigningKey) {
    writeSettings(kDefaultDocument);
    const std::vector<std::string> args{"-S", "--type", "HTTP", "--tls-verify", "none"};
    ProgramResult r =
        run(args, kUnauthenticated + "--type http\n" + kUnauthenticated + "--tls-verify none\n");
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, kChanged);
    root_.write("conf/lm-signing-key.pem", "key");
    EXPECT_EQ(run(args).out, kChanged);
    root_.remove("conf/lm-signing-key.pem");
    EXPECT_EQ(run({"-S", "--type", "https", "--tls-verify", "system"}).exitStatus, 0);
}

TEST_F(SetNetworkCommandTest, NothingToStoreIsReportedAsAFailure) {
    struct Case {
        std::string document;
        std::vector<std::string> args;
        std::string reason;
    };
    const Case cases[] = {
        {settingsDocument("<ServerList timeout=\"5\">", {}),
         {"-S", "--timeout", "60"},
         "no update server is configured"},
        {std::string(kDeclaration) + "<LmNetClientSettings/>\n",
         {"-S", "--server", "a"},
         "no server list in " + root_.file(kSettings)},
    };
    for (const Case& c : cases) {
        writeSettings(c.document);
        ProgramResult r = run(c.args);
        EXPECT_EQ(r.exitStatus, 1) << c.reason;
        EXPECT_EQ(r.out, "LmUpdate: network settings are not changed: " + c.reason + "\n");
        EXPECT_EQ(settings(), c.document);
    }
}

TEST_F(SetNetworkCommandTest, CreatesAMissingInstallationRootButNothingElse) {
    RunOptions options;
    options.env = {"REGISTER_DIR=" + root_.file("new/root")};
    ProgramResult r = runProgram(setNetworkExe(), {"-S"}, options);
    EXPECT_EQ(r.exitStatus, 10);
    EXPECT_TRUE(root_.exists("new/root"));
    EXPECT_FALSE(root_.exists("new/root/tmp"));
    EXPECT_FALSE(root_.exists("new/root/conf"));
}

}  // namespace
