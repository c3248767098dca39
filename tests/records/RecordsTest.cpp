#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <type_traits>
#include <utility>

#include "LmPackageInfo.h"
#include "LmPartialFileInfo.h"
#include "LmProduct.h"
#include "LmProductInfo.h"
#include "LmVersionInfo.h"
#include "SizeLimit.h"
#include "VersionInfo.h"
#include "VersionOrder.h"

namespace {

struct VersionCase {
    const char* name;
    const char* text;
    int major, minor, patchLevel, buildNum;
    bool numeric;
    bool set;
};

void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << c.name << " \"" << c.text << "\"";
}

class VersionTextTest : public testing::TestWithParam<VersionCase> {};

TEST_P(VersionTextTest, ParsesNumbersFromText) {
    const VersionCase& c = GetParam();
    LmVersionInfo v(c.text, "st", "ds");
    EXPECT_EQ(v.version, c.text);
    EXPECT_EQ(v.status, "st");
    EXPECT_EQ(v.desc, "ds");
    EXPECT_EQ(v.major, c.major);
    EXPECT_EQ(v.minor, c.minor);
    EXPECT_EQ(v.patchLevel, c.patchLevel);
    EXPECT_EQ(v.buildNum, c.buildNum);
    EXPECT_EQ(v.numeric, c.numeric);
    EXPECT_EQ(v.isSet(), c.set);
}

INSTANTIATE_TEST_SUITE_P(
    Records, VersionTextTest,
    testing::Values(VersionCase{"FourNumbers", "1.0.0.0", 1, 0, 0, 0, true, true},
                    VersionCase{"AllFourFieldsDistinct", "9.8.7.6", 9, 8, 7, 6, true, true},
                    VersionCase{"TwoNumbers", "3.2", 3, 2, 0, 0, true, true},
                    VersionCase{"OneNumberIsNotNumeric", "7", 0, 0, 0, 0, false, true},
                    VersionCase{"EmptyTokenDropped", "1..2", 1, 2, 0, 0, true, true},
                    VersionCase{"WordSwallowedAfterMinor", "4.1-beta_2", 4, 1, 0, 0, true, true},
                    VersionCase{"ThreeNumbersGoToBuild", "2.1.7", 2, 1, 0, 7, true, true},
                    VersionCase{"FiveNumbersKeepThird", "1.2.3.4.5", 1, 2, 0, 3, true, true},
                    VersionCase{"Empty", "", 0, 0, 0, 0, false, false},
                    VersionCase{"TrailingLetterStopsNumber", "12x.3", 12, 3, 0, 0, true, true},
                    VersionCase{"BadMajorLeavesNonNumeric", "a.3", 0, 0, 0, 0, false, true},
                    VersionCase{"LeadingDelimiters", "_-5.6-", 5, 6, 0, 0, true, true}),
    [](const testing::TestParamInfo<VersionCase>& info) { return info.param.name; });

struct OrderCase {
    const char* name;
    const char* offered;
    const char* installed;
    bool newer;
};

void PrintTo(const OrderCase& c, std::ostream* os) {
    *os << c.name << " \"" << c.offered << "\" after \"" << c.installed << "\"";
}

class VersionOrderTest : public testing::TestWithParam<OrderCase> {};

TEST_P(VersionOrderTest, OnlyALaterVersionIsNewer) {
    const OrderCase& c = GetParam();
    EXPECT_EQ(VersionOrder::isNewer(c.offered, c.installed), c.newer);
}

INSTANTIATE_TEST_SUITE_P(
    Records, VersionOrderTest,
    testing::Values(OrderCase{"OlderIsNotNewer", "1.0.0", "2.1.3", false},
                    OrderCase{"SameIsNotNewer", "2.0.0.1", "2.0.0.1", false},
                    OrderCase{"LaterBuild", "2.0.0.2", "2.0.0.1", true},
                    OrderCase{"NumbersNotText", "2.10", "2.9", true},
                    OrderCase{"MissingPartsAreZero", "1.0", "1.0.0.0", false},
                    OrderCase{"ThirdNumberCounts", "2.1.4", "2.1.3.9", true},
                    OrderCase{"LeadingZerosDoNotCount", "2.01", "2.1", false},
                    OrderCase{"HugeNumberDoesNotWrap", "99999999999999999999", "2", true},
                    OrderCase{"FiveNumbersAreText", "1.2.3.4.5", "1.2.3.4.6", true},
                    OrderCase{"EmptyPartIsText", "1..2", "1.3", true},
                    OrderCase{"WordsDifferIsNewer", "2.0-beta", "2.0", true},
                    OrderCase{"EqualWordsAreNotNewer", "rc1", "rc1", false},
                    OrderCase{"EmptyAgainstEmpty", "", "", false}),
    [](const testing::TestParamInfo<OrderCase>& info) { return info.param.name; });

TEST(VersionInfoTest, NumericConstructionBuildsText) {
    LmVersionInfo v(1, 2, 3, 40, "beta", "d");
    EXPECT_EQ(v.version, "1.2.3.40");
    EXPECT_TRUE(v.numeric);
    EXPECT_TRUE(v.isSet());
}

TEST(VersionInfoTest, AssignFromPlainVersionClearsNumbers) {
    LmVersionInfo v(1, 2, 3, 4, "beta", "d");
    v = VersionInfo("x7", "rc", "text", false);
    EXPECT_EQ(v.version, "x7");
    EXPECT_EQ(v.status, "rc");
    EXPECT_EQ(v.desc, "text");
    EXPECT_FALSE(v.numeric);
    EXPECT_EQ(v.major + v.minor + v.patchLevel + v.buildNum, 0);
}

TEST(VersionInfoTest, ToStringJoinsOnlyNonEmptyParts) {
    EXPECT_EQ(VersionInfo("1.0", "", "", false).toString(), "1.0");
    EXPECT_EQ(VersionInfo("1.0", "", "d", false).toString(), "1.0,d");
    EXPECT_EQ(VersionInfo("1.0", "beta", "", false).toString(), "1.0,beta");
    EXPECT_EQ(VersionInfo("1.0", "beta", "d e", false).toString(), "1.0,beta,d e");
    EXPECT_FALSE(VersionInfo().isSet());
}

TEST(ProductInfoTest, DefaultListingHasThreeLines) {
    EXPECT_EQ(LmProductInfo().toString(), "ProductID:   -1\nProductName: \nInstallpath: \n");
}

TEST(ProductInfoTest, FullListingInFixedOrder) {
    LmProductInfo p;
    p.id = 42;
    p.name = "Name";
    p.installPath = "/opt/x";
    p.desc = "Desc";
    p.langCode = "en";
    p.OEM = "acme";
    p.parent = "1,2";
    p.serialNo = "S1";
    EXPECT_EQ(p.toString(),
              "ProductID:   42\n"
              "ProductName: Name\n"
              "Installpath: /opt/x\n"
              "Description: Desc\n"
              "LangCode:    en\n"
              "OEM:    acme\n"
              "ParentIDs:   1,2\n"
              "SerialNo:    S1\n");
}

TEST(ProductInfoTest, ListingSkipsEmptyOptionalFields) {
    LmProductInfo p;
    p.id = 3;
    p.OEM = "o";
    EXPECT_EQ(p.toString(), "ProductID:   3\nProductName: \nInstallpath: \nOEM:    o\n");
}

TEST(RecordDefaultsTest, MatchDocumentedDefaults) {
    LmPackageInfo pkg;
    EXPECT_EQ(pkg.product.id, -1);
    EXPECT_EQ(pkg.size, 0);
    EXPECT_EQ(pkg.downloadResult, 0);
    EXPECT_EQ(pkg.runResult, 0);
    EXPECT_FALSE(pkg.version.numeric);
    LmPartialFileInfo partial;
    EXPECT_EQ(partial.productID, -1);
    EXPECT_EQ(partial.size, -1);
    EXPECT_EQ(partial.actualSize, -1);
    SizeLimit limit;
    EXPECT_EQ(limit.minSize, 0);
    EXPECT_EQ(limit.ids.size(), 0);
}

TEST(RecordCopyTest, CopiesAreIndependent) {
    LmProduct a;
    a.info.name = "a";
    a.version = LmVersionInfo("1.2", "", "");
    LmProduct b = a;
    b.info.name = "b";
    b.version.major = 9;
    EXPECT_EQ(a.info.name, "a");
    EXPECT_EQ(a.version.major, 1);
}

// A vector of records moves them when it grows: with a copy per element and
// growth, listing thousands of products turned quadratic.
static_assert(std::is_nothrow_move_constructible_v<LmVersionInfo>);
static_assert(std::is_nothrow_move_constructible_v<LmProductInfo>);
static_assert(std::is_nothrow_move_constructible_v<LmProduct>);
static_assert(std::is_nothrow_move_constructible_v<LmPackageInfo>);
static_assert(std::is_nothrow_move_assignable_v<LmPackageInfo>);

TEST(RecordMoveTest, MovingTakesTheTextsAndKeepsTheNumbers) {
    LmProduct a;
    a.info.name = String(std::string(100, 'n'));
    a.version = LmVersionInfo("1.2.3.4", "beta", "d");
    const char* nameBytes = a.info.name.data();
    LmProduct b = std::move(a);
    EXPECT_EQ(b.info.name.data(), nameBytes);  // the buffer moved, no copy
    EXPECT_EQ(b.version.buildNum, 4);
    EXPECT_EQ(b.version.version, "1.2.3.4");
    EXPECT_TRUE(b.version.numeric);
}

}  // namespace
