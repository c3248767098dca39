#include "StateDocument.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "ServerAnswer.h"

namespace {

StateDocument& parsed(StateDocument& state, const std::string& text) {
    EXPECT_TRUE(state.parse(String(text))) << text;
    return state;
}

TEST(StateDocumentTest, PartialFilesReadEveryChild) {
    StateDocument state;
    parsed(state,
           "<PartialFiles><PartialFile productID=\"5\" url=\"u\" path=\"p\" size=\"10\""
           " actualSize=\"4\"/><Other url=\"v\" size=\"n\"/></PartialFiles>");
    Vector<LmPartialFileInfo> files(0, 20);
    ASSERT_EQ(state.readPartialFiles(files), 2);
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
    StateDocument state;
    parsed(state, GetParam().document);
    SizeLimit limit;
    limit.minSize = 99;
    limit.ids.add(42);
    EXPECT_TRUE(state.readSizeLimit(limit));
    EXPECT_EQ(limit.minSize, GetParam().minSize);
    std::vector<long> ids(limit.ids.begin(), limit.ids.end());
    EXPECT_EQ(ids, GetParam().ids);
}

INSTANTIATE_TEST_SUITE_P(
    States, SizeLimitTest,
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

TEST(StateDocumentTest, SizeLimitWithoutDocumentIsFalse) {
    StateDocument state;
    SizeLimit limit;
    limit.minSize = 5;
    EXPECT_FALSE(state.readSizeLimit(limit));
    EXPECT_EQ(limit.minSize, 0);
}

const char kInventory[] =
    "<LmUpdateClientSettings><Inventory>"
    "<PlatformInfo os=\"Linux\" vendor=\"\" arch=\"armv7l\" version=\"5.10\"/><Products>";

TEST(StateDocumentTest, InstalledProductsSkipShortEntries) {
    StateDocument state;
    parsed(state, std::string(kInventory) +
                      "<InstalledProduct><ProductInfo id=\"7\"/></InstalledProduct>"
                      "<InstalledProduct><ProductInfo name=\"noid\"/>"
                      "<ExtVersionInfo version=\"abc\" status=\"s\" desc=\"d\"/></InstalledProduct>"
                      "<InstalledProduct><lmversioninfo major=\"3\"/><productinfo id=\"8\"/>"
                      "</InstalledProduct></Products></Inventory></LmUpdateClientSettings>");
    Vector<LmProduct> products(0, 20);
    Vector<int> positions(0, 20);
    ASSERT_EQ(state.readInstalledProducts(products, positions), 2);
    EXPECT_EQ(products[0].info.id, -1);
    EXPECT_EQ(products[0].info.name, "noid");
    EXPECT_FALSE(products[0].version.numeric);
    EXPECT_EQ(products[0].version.toString(), "abc,s,d");
    EXPECT_EQ(products[1].info.id, 8);
    EXPECT_EQ(products[1].version.version, "3.0.0.0");
    EXPECT_EQ(positions[0], 1);
    EXPECT_EQ(positions[1], 2);
    LmProduct found;
    EXPECT_TRUE(state.findProduct(8, found));
    EXPECT_EQ(found.info.id, 8);
    EXPECT_FALSE(state.findProduct(7, found));
    PlatformInfo platform;
    ASSERT_TRUE(state.readPlatformInfo(platform));
    EXPECT_EQ(platform.arch, "armv7l");
}

TEST(StateDocumentTest, UnknownChildFailsInventoryRead) {
    StateDocument state;
    parsed(state, std::string(kInventory) +
                      "<InstalledProduct><ProductInfo id=\"1\"/><LmVersionInfo/></InstalledProduct>"
                      "<InstalledProduct><ProductInfo id=\"2\"/><LmVersionInfo/><Extra/>"
                      "</InstalledProduct></Products></Inventory></LmUpdateClientSettings>");
    Vector<LmProduct> products(0, 20);
    EXPECT_EQ(state.readInstalledProducts(products), -1);
    EXPECT_EQ(products.size(), 1);
    LmProduct found;
    EXPECT_TRUE(state.findProduct(1, found));
    EXPECT_FALSE(state.findProduct(2, found));  // the unreadable entry
    EXPECT_EQ(found.info.id, 1);
}

TEST(StateDocumentTest, StateRecordsWhoseNumbersDoNotFitAreIgnored) {
    StateDocument state;
    parsed(state,
           "<PartialFiles><PartialFile productID=\"5\" size=\"10\" actualSize=\"4\"/>"
           "<PartialFile productID=\"6\" size=\"4294967544\" actualSize=\"4\"/>"
           "<PartialFile productID=\"99999999999\" size=\"1\"/></PartialFiles>");
    Vector<LmPartialFileInfo> files(0, 20);
    ASSERT_EQ(state.readPartialFiles(files), 1);
    EXPECT_EQ(files[0].productID, 5);

    parsed(state, std::string(kInventory) +
                      "<InstalledProduct><LmVersionInfo major=\"1\"/><ProductInfo "
                      "id=\"99999999999\"/></InstalledProduct>"
                      "<InstalledProduct><LmVersionInfo major=\"4294967297\"/><ProductInfo "
                      "id=\"3\"/></InstalledProduct>"
                      "<InstalledProduct><LmVersionInfo major=\"2\"/><ProductInfo id=\"4\"/>"
                      "</InstalledProduct></Products></Inventory></LmUpdateClientSettings>");
    Vector<LmProduct> products(0, 20);
    Vector<int> positions(0, 20);
    ASSERT_EQ(state.readInstalledProducts(products, positions), 1);
    EXPECT_EQ(products[0].info.id, 4);
    EXPECT_EQ(positions[0], 2);
    LmProduct found;
    EXPECT_FALSE(state.findProduct(1215752191, found));
}

// Answers are held to the network caps, state files to the local ones; the
// error text names the cap for the log.
TEST(RecordDocumentTest, TheSourceDecidesTheCapsAndTheErrorNamesThem) {
    std::string wide = "<R>";
    for (int i = 0; i < 100000; ++i) {
        wide += "<a/>";
    }
    wide += "</R>";
    StateDocument state;
    EXPECT_EQ(state.getSource(), RecordDocument::Source::kLocal);
    EXPECT_TRUE(state.parse(String(wide)));
    EXPECT_EQ(state.getErrorText(), "");
    ServerAnswer answer;
    EXPECT_EQ(answer.getSource(), RecordDocument::Source::kNetwork);
    EXPECT_FALSE(answer.parse(String(wide)));
    EXPECT_EQ(answer.getErrorText(), "over the limit: more elements than 100000 at line 1");
    std::string deep = "<R>";
    for (int i = 0; i < 32; ++i) {
        deep += "<a>";
    }
    for (int i = 0; i < 32; ++i) {
        deep += "</a>";
    }
    EXPECT_FALSE(state.parse(String(deep + "</R>")));
    EXPECT_EQ(state.getErrorText(),
              "over the limit: elements nested deeper than 32 levels at line 1");
}

}  // namespace
