#include "ServerAnswer.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "StateDocument.h"
#include "SystemLog.h"

namespace {

ServerAnswer& parsed(ServerAnswer& answer, const std::string& text) {
    EXPECT_TRUE(answer.parse(String(text))) << text;
    return answer;
}

const char kFullPackage[] =
    "<PackageInfo path=\"p\" file=\"f.zip\">"
    "<ProductInfo id=\"2000\" name=\"Prod\" desc=\"D\" installPath=\"/opt/p\" serialNo=\"S\""
    " parent=\"1,2\" langCode=\"en\" OEM=\"o\"/>"
    "<PlatformInfo arch=\"armv7l\" os=\"Linux\" vendor=\"V\" version=\"5.10\"/>"
    "<LmVersionInfo major=\"2\" minor=\"3\" patchLevel=\"4\" buildNum=\"5\" status=\"rc\""
    " desc=\"vd\"/>"
    "<DownloadInfo url=\"http://h/a/b/f.zip\" md5=\"abc\" size=\"1234\" time=\"t\" result=\"7\""
    " sha256=\"AB01\" signature=\"c2ln+/==\" deltaIndex=\"idx/f.zip.lmdelta\"/>"
    "<RunInfo format=\"zip\" installScript=\"install.sh\" result=\"8\"/>"
    "</PackageInfo>";

std::string response(const std::string& inner) {
    return "<LmUpdateResponse><Result code=\"201\" status=\"ok\"/><PackageInfoList>" + inner +
           "</PackageInfoList></LmUpdateResponse>";
}

TEST(ServerAnswerTest, EmptyOrBrokenTextHasNoDocument) {
    ServerAnswer answer;
    EXPECT_FALSE(answer.parse(String("")));
    EXPECT_FALSE(answer.parse(String("<A><B></A>")));
    Vector<LmPackageInfo> packages(0, 20);
    EXPECT_EQ(answer.readPackageInfoList(packages, true), -1);
    EXPECT_EQ(answer.getResultCode(), -1);
    String text("kept");
    EXPECT_FALSE(answer.describe(text));
    EXPECT_EQ(text, "kept");
}

struct ResultCase {
    const char* name;
    const char* document;
    int code;
    const char* status;
};

void PrintTo(const ResultCase& c, std::ostream* os) {
    *os << c.name << ": " << c.document;
}

class ResultCodeTest : public testing::TestWithParam<ResultCase> {};

TEST_P(ResultCodeTest, ReadsCodeAndStatus) {
    ServerAnswer answer;
    parsed(answer, GetParam().document);
    EXPECT_EQ(answer.getResultCode(), GetParam().code);
    EXPECT_EQ(answer.getResultStatus(), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ResultCodeTest,
    testing::Values(
        ResultCase{"Plain", "<R><Result code=\"210\" status=\"moved\"/></R>", 210, "moved"},
        ResultCase{"NoResult", "<R><Other code=\"201\"/></R>", -1, ""},
        ResultCase{"EmptyCode", "<R><Result code=\"\" status=\"s\"/></R>", -1, "s"},
        ResultCase{"NotANumber", "<R><Result code=\"abc\"/></R>", -1, ""},
        ResultCase{"TrailingWord", "<R><Result code=\"500 error\"/></R>", 500, ""},
        ResultCase{"AttributeCase", "<R><Result CODE=\"200\" Status=\"x\"/></R>", 200, "x"}),
    [](const testing::TestParamInfo<ResultCase>& info) { return info.param.name; });

TEST(ServerAnswerTest, ReadsEveryFieldOfAPackage) {
    ServerAnswer answer;
    parsed(answer, response(kFullPackage));
    Vector<LmPackageInfo> packages(0, 20);
    ASSERT_EQ(answer.readPackageInfoList(packages, false), 1);
    const LmPackageInfo& p = packages[0];
    EXPECT_EQ(p.path, "p");
    EXPECT_EQ(p.file, "f.zip");
    EXPECT_EQ(p.product.id, 2000);
    EXPECT_EQ(p.product.name, "Prod");
    EXPECT_EQ(p.product.desc, "D");
    EXPECT_EQ(p.product.installPath, "/opt/p");
    EXPECT_EQ(p.product.serialNo, "S");
    EXPECT_EQ(p.product.parent, "1,2");
    EXPECT_EQ(p.product.langCode, "en");
    EXPECT_EQ(p.product.OEM, "o");
    EXPECT_EQ(p.platform.arch, "armv7l");
    EXPECT_EQ(p.platform.os, "Linux");
    EXPECT_EQ(p.platform.vendor, "V");
    EXPECT_EQ(p.platform.version, "5.10");
    EXPECT_TRUE(p.version.numeric);
    EXPECT_EQ(p.version.version, "2.3.4.5");
    EXPECT_EQ(p.version.status, "rc");
    EXPECT_EQ(p.version.desc, "vd");
    EXPECT_EQ(p.url, "http://h/a/b/f.zip");
    EXPECT_EQ(p.md5, "abc");
    EXPECT_EQ(p.sha256, "AB01");
    EXPECT_EQ(p.signature, "c2ln+/==");
    EXPECT_EQ(p.deltaIndex, "idx/f.zip.lmdelta");
    EXPECT_EQ(p.size, 1234);
    EXPECT_EQ(p.time, "t");
    EXPECT_EQ(p.downloadResult, 7);
    EXPECT_EQ(p.format, "zip");
    EXPECT_EQ(p.installScript, "install.sh");
    EXPECT_EQ(p.runResult, 8);
}

// A description with a line break forged a "ProductID:" line in the
// listing; the client's own state files are read back as they are.
TEST(ServerAnswerTest, ControlBytesOfServerTextBecomeBlanks) {
    std::string package = kFullPackage;
    package.replace(package.find("desc=\"D\""), 8, "desc=\"D&#10;ProductID: 7&#x7f;\"");
    package.replace(package.find("name=\"Prod\""), 11, "name=\"P&#9;\"");
    package.replace(package.find("<LmVersionInfo"), 14, "<ExtVersionInfo version=\"2&#13;\"");
    ServerAnswer answer;
    StateDocument state;
    ASSERT_TRUE(state.parse(String(response(package))));
    Vector<LmPackageInfo> served(0, 20);
    Vector<LmPackageInfo> stored(0, 20);
    ASSERT_EQ(parsed(answer, response(package)).readPackageInfoList(served, false), 1);
    ASSERT_EQ(state.readPackageInfoList(stored, false), 1);
    EXPECT_EQ(served[0].product.desc, "D ProductID: 7 ");
    EXPECT_EQ(served[0].product.name, "P ");
    EXPECT_EQ(served[0].version.version, "2 ");
    EXPECT_EQ(stored[0].product.desc, "D\nProductID: 7\x7f");
}

TEST(ServerAnswerTest, DropsPackagesWithFewerThanFiveChildren) {
    ServerAnswer answer;
    parsed(answer, response("<PackageInfo path=\"four\"><ProductInfo id=\"1\"/><PlatformInfo/>"
                            "<DownloadInfo/><RunInfo/></PackageInfo>" +
                            std::string(kFullPackage) +
                            "<PackageInfo><ProductInfo id=\"3\"/><PlatformInfo/><DownloadInfo/>"
                            "<RunInfo/><Unknown/></PackageInfo>"));
    Vector<LmPackageInfo> packages(0, 20);
    ASSERT_EQ(answer.readPackageInfoList(packages, false), 2);
    EXPECT_EQ(packages[0].product.id, 2000);
    EXPECT_EQ(packages[1].product.id, 3);  // unknown child ignored, still five
}

TEST(ServerAnswerTest, LastVersionElementWins) {
    const std::string parts = "<ProductInfo id=\"1\"/><PlatformInfo/><DownloadInfo/><RunInfo/>";
    const std::string numeric = "<LmVersionInfo major=\"1\" minor=\"2\"/>";
    const std::string text = "<ExtVersionInfo version=\"v-a\" status=\"s\"/>";
    ServerAnswer answer;
    parsed(answer, response("<PackageInfo>" + parts + numeric + text + "</PackageInfo>" +
                            "<PackageInfo>" + parts + text + numeric + "</PackageInfo>"));
    Vector<LmPackageInfo> packages(0, 20);
    ASSERT_EQ(answer.readPackageInfoList(packages, false), 2);
    EXPECT_FALSE(packages[0].version.numeric);
    EXPECT_EQ(packages[0].version.version, "v-a");
    EXPECT_EQ(packages[0].version.major, 0);
    EXPECT_TRUE(packages[1].version.numeric);
    EXPECT_EQ(packages[1].version.version, "1.2.0.0");
    EXPECT_EQ(packages[1].version.status, "");
}

TEST(ServerAnswerTest, UnreadableNumbersFallBack) {
    ServerAnswer answer;
    parsed(answer, response("<PackageInfo><ProductInfo id=\"x1\"/><PlatformInfo/>"
                            "<LmVersionInfo major=\"a\" minor=\"\" buildNum=\"9\"/>"
                            "<DownloadInfo size=\"big\" result=\"r\"/><RunInfo result=\"\"/>"
                            "</PackageInfo>"));
    Vector<LmPackageInfo> packages(0, 20);
    ASSERT_EQ(answer.readPackageInfoList(packages, false), 1);
    EXPECT_EQ(packages[0].product.id, -1);
    EXPECT_EQ(packages[0].size, 0);
    EXPECT_EQ(packages[0].downloadResult, 0);
    EXPECT_EQ(packages[0].runResult, 0);
    EXPECT_EQ(packages[0].version.version, "0.0.0.9");
}

TEST(ServerAnswerTest, PackageListRootServesBothForms) {
    ServerAnswer answer;
    parsed(answer, "<PackageInfoList>" + std::string(kFullPackage) + "</PackageInfoList>");
    Vector<LmPackageInfo> packages(0, 20);
    EXPECT_EQ(answer.readPackageInfoList(packages, false), 1);
    EXPECT_EQ(answer.readPackageInfoList(packages, true), 1);
    parsed(answer, "<Other>" + std::string(kFullPackage) + "</Other>");
    EXPECT_EQ(answer.readPackageInfoList(packages, false), -1);
    EXPECT_EQ(packages.size(), 0);
    EXPECT_EQ(answer.readPackageInfoList(packages, true), 1);
}

TEST(ServerAnswerTest, ServerListCountsPresentHostsOnly) {
    ServerAnswer answer;
    parsed(answer,
           "<LmUpdateResponse><Result code=\"211\"/><ServerList><Server host=\"a\"/>"
           "<Server/><Any host=\"\"/><Server HOST=\"b:8080\"/></ServerList></LmUpdateResponse>");
    Vector<String> hosts(0, 20);
    ASSERT_EQ(answer.readServerList(hosts), 3);
    EXPECT_EQ(hosts[0], "a");
    EXPECT_EQ(hosts[1], "");
    EXPECT_EQ(hosts[2], "b:8080");
    parsed(answer, "<LmUpdateResponse/>");
    EXPECT_EQ(answer.readServerList(hosts), -1);
}

struct DescribeCase {
    const char* name;
    const char* document;
    bool rendered;
    const char* text;
};

void PrintTo(const DescribeCase& c, std::ostream* os) {
    *os << c.name << ": " << c.document;
}

class DescribeTest : public testing::TestWithParam<DescribeCase> {};

TEST_P(DescribeTest, RendersDocument) {
    ServerAnswer answer;
    parsed(answer, GetParam().document);
    String out("pre\n");
    EXPECT_EQ(answer.describe(out), GetParam().rendered);
    EXPECT_EQ(out, String("pre\n") + GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DescribeTest,
    testing::Values(
        DescribeCase{"RegisterResponseKeepsSpelling",
                     "<lmregisterresponse CurrentTime=\"2026-01-01\"><G><P name=\"a\" value=\"1\"/>"
                     "<P name=\"b\"/></G><H><P value=\"x\" name=\"c\"/></H></lmregisterresponse>",
                     true, "lmregisterresponse-CurrentTime:2026-01-01\na:1\nc:x\n"},
        DescribeCase{"VerifyResponseWithoutTime", "<LmVerifyResponse/>", true,
                     "LmVerifyResponse-CurrentTime:\n"},
        DescribeCase{"RegisterInfo",
                     "<LmRegisterInfo><P name=\"serial\" value=\"S1\"/><P value=\"v\"/>"
                     "</LmRegisterInfo>",
                     true, "serial:S1\n"},
        DescribeCase{"ParameterList",
                     "<LmVerifyConfig><P name=\"k\" value=\"v\"/><P name=\"only\"/>"
                     "<P name=\"e\" value=\"\"/></LmVerifyConfig>",
                     true, "k:v\ne:\n"},
        DescribeCase{"ServiceMap",
                     "<ServiceToProductID><S service=\"av\" productID=\"2001\"/><S service=\"x\"/>"
                     "</ServiceToProductID>",
                     true, "av:2001\n"},
        DescribeCase{"UpdateResponseFileNames",
                     "<LmUpdateResponse><PackageInfoList>"
                     "<PackageInfo><ProductInfo/><PlatformInfo/><RunInfo format=\"zip\"/>"
                     "<ExtVersionInfo version=\"1.0b\"/><DownloadInfo url=\"http://h/a/b/c.zip\"/>"
                     "</PackageInfo>"
                     "<PackageInfo><ProductInfo/><PlatformInfo/><RunInfo/><ExtVersionInfo/>"
                     "<DownloadInfo url=\"plain.img\"/></PackageInfo>"
                     "<PackageInfo><ProductInfo/><PlatformInfo/><RunInfo/><ExtVersionInfo/>"
                     "<DownloadInfo url=\"http://h/dir/\"/></PackageInfo>"
                     "</PackageInfoList></LmUpdateResponse>",
                     true,
                     "version:1.0b\nformat:zip\nfilename:c.zip\n"
                     "version:\nformat:\nfilename:plain.img\n"
                     "version:\nformat:\nfilename:\n"},
        DescribeCase{"SelfUpdateNotRendered", "<LmSelfUpdateResponse/>", false, ""},
        DescribeCase{"OtherRoot", "<Anything/>", false, ""}),
    [](const testing::TestParamInfo<DescribeCase>& info) { return info.param.name; });

TEST(ServerAnswerTest, RootNameAsWritten) {
    ServerAnswer answer;
    EXPECT_EQ(answer.rootName(), "");
    parsed(answer, "<lmUpdateResponse/>");
    EXPECT_EQ(answer.rootName(), "lmUpdateResponse");
}

// A package from an answer whose number would wrap (size 4294967544 read as
// 248, id 99999999999 as 1215752191) is kept, marked, so that it is refused
// before any byte is fetched.
struct FitCase {
    const char* name;
    std::string package;
    const char* refusal;
};

void PrintTo(const FitCase& c, std::ostream* os) {
    *os << c.name;
}

std::string packageWith(const std::string& product, const std::string& version,
                        const std::string& download) {
    return "<PackageInfo><ProductInfo " + product + "/><PlatformInfo/><LmVersionInfo " + version +
           "/><DownloadInfo url=\"http://h/f.zip\" " + download + "/><RunInfo/></PackageInfo>";
}

class PackageNumberFitTest : public testing::TestWithParam<FitCase> {};

TEST_P(PackageNumberFitTest, ANumberThatDoesNotFitMarksThePackage) {
    ServerAnswer answer;
    parsed(answer, response(GetParam().package));
    Vector<LmPackageInfo> packages(0, 20);
    ASSERT_EQ(answer.readPackageInfoList(packages, false), 1);
    EXPECT_EQ(packages[0].refusal, GetParam().refusal);
    EXPECT_EQ(packages[0].isUsable(), std::string(GetParam().refusal).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PackageNumberFitTest,
    testing::Values(
        FitCase{"AllFit", packageWith("id=\"2147483647\"", "major=\"1\"", "size=\"2147483647\""),
                ""},
        FitCase{"Size", packageWith("id=\"1\"", "major=\"1\"", "size=\"4294967544\""),
                "number out of range: size"},
        FitCase{"Id", packageWith("id=\"99999999999\"", "major=\"1\"", "size=\"1\""),
                "number out of range: id"},
        FitCase{
            "VersionNumbers",
            packageWith("id=\"1\"", "major=\"2147483648\" buildNum=\"4294967296\"", "size=\"1\""),
            "number out of range: major, buildNum"},
        FitCase{"EveryPart",
                packageWith("id=\"2147483648\"", "minor=\"2147483648\"", "size=\"2147483648\""),
                "number out of range: id, minor, size"},
        FitCase{"NotANumberStillFallsBack", packageWith("id=\"x\"", "major=\"a\"", "size=\"big\""),
                ""}),
    [](const testing::TestParamInfo<FitCase>& info) { return info.param.name; });

struct RootCase {
    const char* name;
    const char* document;
    std::optional<int> code;
    const char* logged;  // what the log shows
};

void PrintTo(const RootCase& c, std::ostream* os) {
    *os << c.name << ": " << c.document;
}

class ResultCodeInTest : public testing::TestWithParam<RootCase> {};

// Only an answer of an expected kind has a result; the log says why
// another has none.
TEST_P(ResultCodeInTest, ReadsTheCodeOfAnExpectedRootOnly) {
    ServerAnswer answer;
    parsed(answer, GetParam().document);
    SystemLog::setEcho(true);
    testing::internal::CaptureStderr();
    std::optional<int> code = answer.resultCodeIn({"LmSelfUpdateResponse", "LmUpdateResponse"});
    std::string logged = testing::internal::GetCapturedStderr();
    SystemLog::setEcho(false);
    EXPECT_EQ(code, GetParam().code);
    EXPECT_EQ(logged, GetParam().logged);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ResultCodeInTest,
    testing::Values(
        RootCase{"Listed", "<LmUpdateResponse><Result code=\"201\"/></LmUpdateResponse>", 201, ""},
        RootCase{"RootIgnoresCase",
                 "<lmselfupdateresponse><Result code=\"200\"/></lmselfupdateresponse>", 200, ""},
        RootCase{"OtherRoot", "<LmVerifyResponse><Result code=\"200\"/></LmVerifyResponse>",
                 std::nullopt, "LmUpdate: Unknown update response type: LmVerifyResponse\n"},
        RootCase{"NoCode", "<LmUpdateResponse><Result status=\"ok\"/></LmUpdateResponse>",
                 std::nullopt, "LmUpdate: no result code available in response\n"},
        RootCase{"CodeNotANumber", "<LmUpdateResponse><Result code=\"abc\"/></LmUpdateResponse>",
                 std::nullopt, "LmUpdate: no result code available in response\n"}),
    [](const testing::TestParamInfo<RootCase>& info) { return info.param.name; });

}  // namespace
