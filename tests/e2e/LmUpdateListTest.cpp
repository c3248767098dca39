#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "LmUpdateRun.h"

namespace {

class LmUpdateListTest : public InitializedRootTest {
protected:
    std::string updaterListing() const {
        return "ProductID:   1000\nProductName: Updater\nInstallpath: " + root_.path() +
               "\nDescription: Torvane Updater\nVersion:     1.0.0.0\n";
    }
};

TEST_F(LmUpdateListTest, ListsEveryProductWithLastUpdate) {
    root_.write("conf/lm-lastupdate",
                "<LmUpdate><UpdateInfo><Entry ProductID=\"1000\" LastUpdate=\"2026-12-01\" "
                "LastSuccessUpdate=\"2026-11-30\" LastUpdateStatus=\"failed\" "
                "UpdateMessage=\"timeout\"/></UpdateInfo></LmUpdate>");
    ASSERT_EQ(run({"--register", "--id", "2000", "--name", "P", "--path", "/p", "--version", "v7"})
                  .exitStatus,
              0);
    ProgramResult result = run({"--list"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "Installed Torvane products: \n\n" + updaterListing() +
                              "LastUpdate: 2026-12-01\nLastSuccessUpdate: 2026-11-30\n"
                              "LastUpdateStatus: failed\nUpdateMessage: timeout\n"
                              "\nProductID:   2000\nProductName: P\nInstallpath: /p\n"
                              "Version:     v7\n");
}

TEST_F(LmUpdateListTest, ListsOneProduct) {
    ProgramResult result = run({"--list", "--id", "1000"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, updaterListing());
}

// A description holding a newline forges a line of the listing; the ids
// form shows nothing but ids, and nothing at all when none matches.
TEST_F(LmUpdateListTest, IdsFormPrintsOnlyTheIds) {
    ASSERT_EQ(run({"--register", "--id", "2000", "--name", "P", "--path", "/p", "--version", "1",
                   "--desc", "a\nProductID:   666"})
                  .exitStatus,
              0);
    ProgramResult all = run({"--list", "--ids"});
    EXPECT_EQ(all.exitStatus, 0);
    EXPECT_EQ(all.out, "1000\n2000\n");
    ProgramResult one = run({"--list", "--ids", "--id", "2000"});
    EXPECT_EQ(one.exitStatus, 0);
    EXPECT_EQ(one.out, "2000\n");
    ProgramResult none = run({"--list", "--ids", "--id", "77"});
    EXPECT_EQ(none.exitStatus, 255);
    EXPECT_EQ(none.out, "");
}

struct NothingCase {
    const char* name;
    const char* inventory;  // null: keep the default one
    std::vector<std::string> args;
};

void PrintTo(const NothingCase& c, std::ostream* os) {
    *os << c.name;
    for (const std::string& arg : c.args) {
        *os << " " << arg;
    }
}

class ListNothingTest : public LmUpdateListTest, public testing::WithParamInterface<NothingCase> {};

TEST_P(ListNothingTest, PrintsNoProductsWithoutLineEnd) {
    if (GetParam().inventory != nullptr) {
        root_.write("conf/lm-inventory", GetParam().inventory);
    }
    ProgramResult result = run(GetParam().args);
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_EQ(result.out, "No any products exist in inventory");
}

INSTANTIATE_TEST_SUITE_P(
    E2E, ListNothingTest,
    testing::Values(
        NothingCase{"UnknownId", nullptr, {"--list", "--id", "77"}},
        NothingCase{"NoProducts",
                    "<LmUpdateClientSettings><Inventory><PlatformInfo/><Products/></Inventory>"
                    "</LmUpdateClientSettings>",
                    {"--list"}},
        NothingCase{"UnparsableInventory", "<LmUpdateClientSettings>", {"--list"}},
        NothingCase{"UnknownEntryChild",
                    "<LmUpdateClientSettings><Inventory><Products><InstalledProduct>"
                    "<ProductInfo id=\"1\"/><Odd/></InstalledProduct></Products></Inventory>"
                    "</LmUpdateClientSettings>",
                    {"--list"}}),
    [](const testing::TestParamInfo<NothingCase>& info) { return info.param.name; });

TEST_F(LmUpdateListTest, BadIdIsAUsageError) {
    for (const char* id : {"abc", ""}) {
        std::vector<std::string> args = {"--list", "--id"};
        if (*id != '\0') {
            args.push_back(id);
        }
        ProgramResult result = run(args);
        EXPECT_EQ(result.exitStatus, 255) << id;
        EXPECT_EQ(result.out, kTryHelp) << id;
    }
}

}  // namespace
