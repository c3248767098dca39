#include "LmUpdateParser.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

LmUpdateParser& parsed(LmUpdateParser& parser, const std::string& text) {
    EXPECT_TRUE(parser.parse(String(text))) << text;
    return parser;
}

const char kFullPackage[] =
    "<PackageInfo path=\"p\" file=\"f.zip\">"
    "<ProductInfo id=\"2000\" name=\"Prod\" desc=\"D\" installPath=\"/opt/p\" serialNo=\"S\""
    " parent=\"1,2\" langCode=\"en\" OEM=\"o\"/>"
    "<PlatformInfo arch=\"armv7l\" os=\"Linux\" vendor=\"V\" version=\"5.10\"/>"
    "<LmVersionInfo major=\"2\" minor=\"3\" patchLevel=\"4\" buildNum=\"5\" status=\"rc\""
    " desc=\"vd\"/>"
    "<DownloadInfo url=\"http://h/a/b/f.zip\" md5=\"abc\" size=\"1234\" time=\"t\" result=\"7\""
    " sha256=\"AB01\" signature=\"c2ln+/==\"/>"
    "<RunInfo format=\"zip\" installScript=\"install.sh\" result=\"8\"/>"
    "</PackageInfo>";

std::string response(const std::string& inner) {
    return "<LmUpdateResponse><Result code=\"201\" status=\"ok\"/><PackageInfoList>" + inner +
           "</PackageInfoList></LmUpdateResponse>";
}

TEST(LmUpdateParserTest, EmptyOrBrokenTextHasNoDocument) {
    LmUpdateParser parser;
    EXPECT_FALSE(parser.parse(String("")));
    EXPECT_FALSE(parser.parse(String("<A><B></A>")));
    Vector<LmPackageInfo> packages(0, 20);
    EXPECT_EQ(parser.readPackageInfoList(packages, true), -1);
    EXPECT_EQ(parser.getResultCode(), -1);
    String text("kept");
    EXPECT_FALSE(parser.describe(text));
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
    LmUpdateParser parser;
    parsed(parser, GetParam().document);
    EXPECT_EQ(parser.getResultCode(), GetParam().code);
    EXPECT_EQ(parser.getResultStatus(), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Parser, ResultCodeTest,
    testing::Values(
        ResultCase{"Plain", "<R><Result code=\"210\" status=\"moved\"/></R>", 210, "moved"},
        ResultCase{"NoResult", "<R><Other code=\"201\"/></R>", -1, ""},
        ResultCase{"EmptyCode", "<R><Result code=\"\" status=\"s\"/></R>", -1, "s"},
        ResultCase{"NotANumber", "<R><Result code=\"abc\"/></R>", -1, ""},
        ResultCase{"TrailingWord", "<R><Result code=\"500 error\"/></R>", 500, ""},
        ResultCase{"AttributeCase", "<R><Result CODE=\"200\" Status=\"x\"/></R>", 200, "x"}),
    [](const testing::TestParamInfo<ResultCase>& info) { return info.param.name; });

TEST(LmUpdateParserTest, ReadsEveryFieldOfAPackage) {
    LmUpdateParser parser;
    parsed(parser, response(kFullPackage));
    Vector<LmPackageInfo> packages(0, 20);
    ASSERT_EQ(parser.readPackageInfoList(packages, false), 1);
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
    EXPECT_EQ(p.size, 1234);
    EXPECT_EQ(p.time, "t");
    EXPECT_EQ(p.downloadResult, 7);
    EXPECT_EQ(p.format, "zip");
    EXPECT_EQ(p.installScript, "install.sh");
    EXPECT_EQ(p.runResult, 8);
}

TEST(LmUpdateParserTest, DropsPackagesWithFewerThanFiveChildren) {
    LmUpdateParser parser;
    parsed(parser, response("<PackageInfo path=\"four\"><ProductInfo id=\"1\"/><PlatformInfo/>"
                            "<DownloadInfo/><RunInfo/></PackageInfo>" +
                            std::string(kFullPackage) +
                            "<PackageInfo><ProductInfo id=\"3\"/><PlatformInfo/><DownloadInfo/>"
                            "<RunInfo/><Unknown/></PackageInfo>"));
    Vector<LmPackageInfo> packages(0, 20);
    ASSERT_EQ(parser.readPackageInfoList(packages, false), 2);
    EXPECT_EQ(packages[0].product.id, 2000);
    EXPECT_EQ(packages[1].product.id, 3);  // unknown child ignored, still five
}

TEST(LmUpdateParserTest, LastVersionElementWins) {
    const std::string parts = "<ProductInfo id=\"1\"/><PlatformInfo/><DownloadInfo/><RunInfo/>";
    const std::string numeric = "<LmVersionInfo major=\"1\" minor=\"2\"/>";
    const std::string text = "<ExtVersionInfo version=\"v-a\" status=\"s\"/>";
    LmUpdateParser parser;
    parsed(parser, response("<PackageInfo>" + parts + numeric + text + "</PackageInfo>" +
                            "<PackageInfo>" + parts + text + numeric + "</PackageInfo>"));
    Vector<LmPackageInfo> packages(0, 20);
    ASSERT_EQ(parser.readPackageInfoList(packages, false), 2);
    EXPECT_FALSE(packages[0].version.numeric);
    EXPECT_EQ(packages[0].version.version, "v-a");
    EXPECT_EQ(packages[0].version.major, 0);
    EXPECT_TRUE(packages[1].version.numeric);
    EXPECT_EQ(packages[1].version.version, "1.2.0.0");
    EXPECT_EQ(packages[1].version.status, "");
}

TEST(LmUpdateParserTest, UnreadableNumbersFallBack) {
    LmUpdateParser parser;
    parsed(parser, response("<PackageInfo><ProductInfo id=\"x1\"/><PlatformInfo/>"
                            "<LmVersionInfo major=\"a\" minor=\"\" buildNum=\"9\"/>"
                            "<DownloadInfo size=\"big\" result=\"r\"/><RunInfo result=\"\"/>"
                            "</PackageInfo>"));
    Vector<LmPackageInfo> packages(0, 20);
    ASSERT_EQ(parser.readPackageInfoList(packages, false), 1);
    EXPECT_EQ(packages[0].product.id, -1);
    EXPECT_EQ(packages[0].size, 0);
    EXPECT_EQ(packages[0].downloadResult, 0);
    EXPECT_EQ(packages[0].runResult, 0);
    EXPECT_EQ(packages[0].version.version, "0.0.0.9");
}

TEST(LmUpdateParserTest, PackageListRootServesBothForms) {
    LmUpdateParser parser;
    parsed(parser, "<PackageInfoList>" + std::string(kFullPackage) + "</PackageInfoList>");
    Vector<LmPackageInfo> packages(0, 20);
    EXPECT_EQ(parser.readPackageInfoList(packages, false), 1);
    EXPECT_EQ(parser.readPackageInfoList(packages, true), 1);
    parsed(parser, "<Other>" + std::string(kFullPackage) + "</Other>");
    EXPECT_EQ(parser.readPackageInfoList(packages, false), -1);
    EXPECT_EQ(packages.size(), 0);
    EXPECT_EQ(parser.readPackageInfoList(packages, true), 1);
}

TEST(LmUpdateParserTest, ServerListCountsPresentHostsOnly) {
    LmUpdateParser parser;
    parsed(parser,
           "<LmUpdateResponse><Result code=\"211\"/><ServerList><Server host=\"a\"/>"
           "<Server/><Any host=\"\"/><Server HOST=\"b:8080\"/></ServerList></LmUpdateResponse>");
    Vector<String> hosts(0, 20);
    ASSERT_EQ(parser.readServerList(hosts), 3);
    EXPECT_EQ(hosts[0], "a");
    EXPECT_EQ(hosts[1], "");
    EXPECT_EQ(hosts[2], "b:8080");
    parsed(parser, "<LmUpdateResponse/>");
    EXPECT_EQ(parser.readServerList(hosts), -1);
}

TEST(LmUpdateParserTest, PartialFilesReadEveryChild) {
    LmUpdateParser parser;
    parsed(parser,
           "<PartialFiles><PartialFile productID=\"5\" url=\"u\" path=\"p\" size=\"10\""
           " actualSize=\"4\"/><Other url=\"v\" size=\"n\"/></PartialFiles>");
    Vector<LmPartialFileInfo> files(0, 20);
    ASSERT_EQ(parser.readPartialFiles(files), 2);
    EXPECT_EQ(files[0].productID, 5);
    EXPECT_EQ(files[0].url, "u");
    EXPECT_EQ(files[0].path, "p");
    EXPECT_EQ(files[0].size, 10);
    EXPECT_EQ(files[0].actualSize, 4);
    EXPECT_EQ(files[1].productID, -1);
    EXPECT_EQ(files[1].url, "v");
    EXPECT_EQ(files[1].size, -1);
    EXPECT_EQ(files[1].actualSize, -1);
}

struct SizeLimitCase {
    const char* name;
    const char* document;
    int minSize;
    std::vector<long> ids;
};

void PrintTo(const SizeLimitCase& c, std::ostream* os) {
    *os << c.name << ": " << c.document;
}

class SizeLimitTest : public testing::TestWithParam<SizeLimitCase> {};

TEST_P(SizeLimitTest, ReadsLimitAndIds) {
    LmUpdateParser parser;
    parsed(parser, GetParam().document);
    SizeLimit limit;
    limit.minSize = 99;
    limit.ids.add(42);
    EXPECT_TRUE(parser.readSizeLimit(limit));
    EXPECT_EQ(limit.minSize, GetParam().minSize);
    std::vector<long> ids(limit.ids.begin(), limit.ids.end());
    EXPECT_EQ(ids, GetParam().ids);
}

INSTANTIATE_TEST_SUITE_P(
    Parser, SizeLimitTest,
    testing::Values(SizeLimitCase{"Root",
                                  "<SizeLimit MinSize=\"4096\"><P id=\"1\"/><P id=\"x\"/><Q/>"
                                  "<P id=\"7\"/></SizeLimit>",
                                  4096,
                                  {1, 7}},
                    SizeLimitCase{
                        "BelowRoot",
                        "<Conf><SizeLimit minsize=\"12\"><P id=\"3\"/></SizeLimit></Conf>",
                        12,
                        {3}},
                    SizeLimitCase{"Missing", "<Conf/>", 0, {}},
                    SizeLimitCase{"BadMinSize", "<SizeLimit MinSize=\"lots\"/>", 0, {}}),
    [](const testing::TestParamInfo<SizeLimitCase>& info) { return info.param.name; });

TEST(LmUpdateParserTest, SizeLimitWithoutDocumentIsFalse) {
    LmUpdateParser parser;
    SizeLimit limit;
    limit.minSize = 5;
    EXPECT_FALSE(parser.readSizeLimit(limit));
    EXPECT_EQ(limit.minSize, 0);
}

const char kInventory[] =
    "<LmUpdateClientSettings><Inventory>"
    "<PlatformInfo os=\"Linux\" vendor=\"\" arch=\"armv7l\" version=\"5.10\"/><Products>";

TEST(LmUpdateParserTest, InstalledProductsSkipShortEntries) {
    LmUpdateParser parser;
    parsed(parser,
           std::string(kInventory) +
               "<InstalledProduct><ProductInfo id=\"7\"/></InstalledProduct>"
               "<InstalledProduct><ProductInfo name=\"noid\"/>"
               "<ExtVersionInfo version=\"abc\" status=\"s\" desc=\"d\"/></InstalledProduct>"
               "<InstalledProduct><lmversioninfo major=\"3\"/><productinfo id=\"8\"/>"
               "</InstalledProduct></Products></Inventory></LmUpdateClientSettings>");
    Vector<LmProduct> products(0, 20);
    Vector<int> positions(0, 20);
    ASSERT_EQ(parser.readInstalledProducts(products, positions), 2);
    EXPECT_EQ(products[0].info.id, -1);
    EXPECT_EQ(products[0].info.name, "noid");
    EXPECT_FALSE(products[0].version.numeric);
    EXPECT_EQ(products[0].version.toString(), "abc,s,d");
    EXPECT_EQ(products[1].info.id, 8);
    EXPECT_EQ(products[1].version.version, "3.0.0.0");
    EXPECT_EQ(positions[0], 1);
    EXPECT_EQ(positions[1], 2);
    LmProduct found;
    EXPECT_TRUE(parser.findProduct(8, found));
    EXPECT_EQ(found.info.id, 8);
    EXPECT_FALSE(parser.findProduct(7, found));
    PlatformInfo platform;
    ASSERT_TRUE(parser.readPlatformInfo(platform));
    EXPECT_EQ(platform.arch, "armv7l");
}

TEST(LmUpdateParserTest, UnknownChildFailsInventoryRead) {
    LmUpdateParser parser;
    parsed(parser,
           std::string(kInventory) +
               "<InstalledProduct><ProductInfo id=\"1\"/><LmVersionInfo/></InstalledProduct>"
               "<InstalledProduct><ProductInfo id=\"2\"/><LmVersionInfo/><Extra/>"
               "</InstalledProduct></Products></Inventory></LmUpdateClientSettings>");
    Vector<LmProduct> products(0, 20);
    EXPECT_EQ(parser.readInstalledProducts(products), -1);
    EXPECT_EQ(products.size(), 1);
    LmProduct found;
    EXPECT_TRUE(parser.findProduct(1, found));
    EXPECT_FALSE(parser.findProduct(2, found));  // the unreadable entry
    EXPECT_EQ(found.info.id, 1);
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
    LmUpdateParser parser;
    parsed(parser, GetParam().document);
    String out("pre\n");
    EXPECT_EQ(parser.describe(out), GetParam().rendered);
    EXPECT_EQ(out, String("pre\n") + GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Parser, DescribeTest,
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

TEST(LmUpdateParserTest, RootNameAsWritten) {
    LmUpdateParser parser;
    EXPECT_EQ(parser.rootName(), "");
    parsed(parser, "<lmUpdateResponse/>");
    EXPECT_EQ(parser.rootName(), "lmUpdateResponse");
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
    LmUpdateParser parser;
    parsed(parser, response(GetParam().package));
    Vector<LmPackageInfo> packages(0, 20);
    ASSERT_EQ(parser.readPackageInfoList(packages, false), 1);
    EXPECT_EQ(packages[0].refusal, GetParam().refusal);
    EXPECT_EQ(packages[0].isUsable(), std::string(GetParam().refusal).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Parser, PackageNumberFitTest,
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

TEST(LmUpdateParserTest, StateRecordsWhoseNumbersDoNotFitAreIgnored) {
    LmUpdateParser parser;
    parsed(parser,
           "<PartialFiles><PartialFile productID=\"5\" size=\"10\" actualSize=\"4\"/>"
           "<PartialFile productID=\"6\" size=\"4294967544\" actualSize=\"4\"/>"
           "<PartialFile productID=\"99999999999\" size=\"1\"/></PartialFiles>");
    Vector<LmPartialFileInfo> files(0, 20);
    ASSERT_EQ(parser.readPartialFiles(files), 1);
    EXPECT_EQ(files[0].productID, 5);

    parsed(parser, std::string(kInventory) +
                       "<InstalledProduct><LmVersionInfo major=\"1\"/><ProductInfo "
                       "id=\"99999999999\"/></InstalledProduct>"
                       "<InstalledProduct><LmVersionInfo major=\"4294967297\"/><ProductInfo "
                       "id=\"3\"/></InstalledProduct>"
                       "<InstalledProduct><LmVersionInfo major=\"2\"/><ProductInfo id=\"4\"/>"
                       "</InstalledProduct></Products></Inventory></LmUpdateClientSettings>");
    Vector<LmProduct> products(0, 20);
    Vector<int> positions(0, 20);
    ASSERT_EQ(parser.readInstalledProducts(products, positions), 1);
    EXPECT_EQ(products[0].info.id, 4);
    EXPECT_EQ(positions[0], 2);
    LmProduct found;
    EXPECT_FALSE(parser.findProduct(1215752191, found));
}

// Answers are held to the network caps, state files to the local ones; the
// error text names the cap for the log.
TEST(LmUpdateParserTest, TheSourceDecidesTheCapsAndTheErrorNamesThem) {
    std::string wide = "<R>";
    for (int i = 0; i < 100000; ++i) {
        wide += "<a/>";
    }
    wide += "</R>";
    LmUpdateParser parser;
    EXPECT_EQ(parser.getSource(), LmUpdateParser::Source::kLocal);
    EXPECT_TRUE(parser.parse(String(wide)));
    EXPECT_EQ(parser.getErrorText(), "");
    parser.setSource(LmUpdateParser::Source::kNetwork);
    EXPECT_FALSE(parser.parse(String(wide)));
    EXPECT_EQ(parser.getErrorText(), "over the limit: more elements than 100000 at line 1");
    parser.setSource(LmUpdateParser::Source::kLocal);
    std::string deep = "<R>";
    for (int i = 0; i < 32; ++i) {
        deep += "<a>";
    }
    for (int i = 0; i < 32; ++i) {
        deep += "</a>";
    }
    EXPECT_FALSE(parser.parse(String(deep + "</R>")));
    EXPECT_EQ(parser.getErrorText(),
              "over the limit: elements nested deeper than 32 levels at line 1");
}

}  // namespace
