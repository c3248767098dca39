#include "LmUpdateCore.h"
#include "RecordBuilders.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>

#include "InstallRoot.h"
#include "SystemLog.h"
#include "TempRoot.h"
#include "state/LmUpdateStore.h"
#include "state/StateFiles.h"

namespace {

using Options = std::map<std::string, std::string>;

OptionLookup lookup(const Options& options) {
    return [options](const String& name, String& value) {
        auto it = options.find(name.str());
        if (it == options.end()) {
            return false;
        }
        value = String(it->second);
        return true;
    };
}

const Options kFull = {{"id", "2000"},           {"name", "Prod"},      {"desc", "D"},
                       {"lang-code", "de"},      {"oem", "acme"},       {"serialno", "SN"},
                       {"parent", "1000,3"},     {"path", "/opt/prod"}, {"version", "4.1-beta_2"},
                       {"version-status", "rc"}, {"version-desc", "vd"}};

struct ArgsCase {
    const char* name;
    Options options;
    bool full;
    bool accepted;
    const char* output;
};

Options without(Options options, const std::string& name) {
    options.erase(name);
    return options;
}

Options with(Options options, const std::string& name, const std::string& value) {
    options[name] = value;
    return options;
}

void PrintTo(const ArgsCase& c, std::ostream* os) {
    *os << c.name << (c.full ? " (full):" : ":");
    for (const auto& [name, value] : c.options) {
        *os << " --" << name << " '" << value << "'";
    }
}

class ParseProductArgsTest : public testing::TestWithParam<ArgsCase> {};

TEST_P(ParseProductArgsTest, ChecksOptionsInOrder) {
    const ArgsCase& c = GetParam();
    LmProduct product;
    testing::internal::CaptureStdout();
    const bool accepted = parseProductArgs(lookup(c.options), product, c.full);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
    EXPECT_EQ(accepted, c.accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Registration, ParseProductArgsTest,
    testing::Values(
        ArgsCase{"FullAccepted", kFull, true, true, ""},
        ArgsCase{"IdAndNameEnoughWhenNotFull", {{"id", "5"}, {"name", "n"}}, false, true, ""},
        ArgsCase{"IdAndNameNotEnoughWhenFull",
                 {{"id", "5"}, {"name", "n"}},
                 true,
                 false,
                 "LmUpdate: no product install path is specified!\n"},
        ArgsCase{"NoId", without(kFull, "id"), true, false,
                 "LmUpdate: no product id is specified!\n"},
        ArgsCase{"EmptyIdIsMissing", with(kFull, "id", ""), false, false,
                 "LmUpdate: no product id is specified!\n"},
        ArgsCase{"IdNotANumber", with(kFull, "id", "12a"), false, false,
                 "LmUpdate: invalid product id is specified!\n"},
        ArgsCase{"NoName", without(kFull, "name"), false, false,
                 "LmUpdate: no product name is specified!\n"},
        ArgsCase{"EmptyPath", with(kFull, "path", ""), true, false,
                 "LmUpdate: no product install path is specified!\n"},
        ArgsCase{"NoVersion", without(kFull, "version"), true, false,
                 "LmUpdate: no product version is specified!\n"}),
    [](const testing::TestParamInfo<ArgsCase>& info) { return info.param.name; });

TEST(ParseProductArgsFieldsTest, FillsEveryField) {
    LmProduct product;
    ASSERT_TRUE(parseProductArgs(lookup(kFull), product, true));
    EXPECT_EQ(product.info.id, 2000);
    EXPECT_EQ(product.info.name, "Prod");
    EXPECT_EQ(product.info.desc, "D");
    EXPECT_EQ(product.info.langCode, "de");
    EXPECT_EQ(product.info.OEM, "acme");
    EXPECT_EQ(product.info.serialNo, "SN");
    EXPECT_EQ(product.info.parent, "1000,3");
    EXPECT_EQ(product.info.installPath, "/opt/prod");
    EXPECT_EQ(product.version.version, "4.1-beta_2");
    EXPECT_EQ(product.version.status, "rc");
    EXPECT_EQ(product.version.desc, "vd");
    EXPECT_EQ(product.version.major, 4);
    EXPECT_TRUE(product.version.numeric);
}

class RegistrationTest : public testing::Test {
protected:
    void SetUp() override {
        processRoot().clear();
        processRoot().makeStandardDirs();
        ASSERT_TRUE(createDefaultInventory());
        ASSERT_TRUE(LmUpdateStore::instance().load(installPath(kInventoryFile)));
        SystemLog::setEcho(true);
    }
    void TearDown() override { SystemLog::setEcho(false); }

    static LmProduct product(int id, const char* name, const char* version) {
        return productRecord(id, name, version);
    }
};

// A log line keeps its line breaks as \x0a: text from outside cannot forge lines.
TEST_F(RegistrationTest, RegisterReplacesEntryAndLogs) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(registerAction(product(2000, "A", "1.0")), 0);
    EXPECT_EQ(registerAction(product(2000, "B", "2.0")), 0);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("LmUpdate: register product successful: ProductID:   2000\\x0a"
                       "ProductName: B\\x0aInstallpath: /opt\\x0a (2.0)"),
              std::string::npos)
        << log;
    Vector<LmProduct> products(0, 20);
    ASSERT_EQ(LmUpdateStore::instance().getInstalledProducts(products), 2);
    EXPECT_EQ(products[1].info.name, "B");
}

TEST_F(RegistrationTest, RegisterIntoUnreadableInventoryFails) {
    processRoot().write(kInventoryFile, "<broken");
    LmUpdateStore::instance().load(installPath(kInventoryFile));
    testing::internal::CaptureStderr();
    EXPECT_EQ(registerAction(product(2000, "A", "1.0")), ResultCode::kRegisterFailed);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("LmUpdate: register product failed: ProductID:   2000\\x0a"),
              std::string::npos)
        << log;
}

TEST_F(RegistrationTest, DeregisterUnknownLogsEmptyVersion) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(deregisterAction(product(4242, "Gone", "9.9")), ResultCode::kDeregisterFailed);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("LmUpdate: deregister product failed: ProductID:   4242\\x0aProductName: "
                       "Gone\\x0aInstallpath: /opt\\x0a ()"),
              std::string::npos)
        << log;
}

TEST_F(RegistrationTest, DeregisterLogsTheRemovedEntry) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(deregisterAction(product(1000, "ignored", "")), 0);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("LmUpdate: deregister product successful: ProductID:   1000\\x0a"
                       "ProductName: Updater\\x0a"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Description: Torvane Updater\\x0a (1.0.0.0)"), std::string::npos) << log;
    testing::internal::CaptureStdout();
    EXPECT_EQ(listProducts(0), ResultCode::kNothingToList);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No any products exist in inventory");
}

struct VersionCase {
    const char* name;
    const char* idText;
    const char* output;
};

void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << c.name << " \"" << c.idText << "\"";
}

class PrintVersionTest : public RegistrationTest,
                         public testing::WithParamInterface<VersionCase> {};

TEST_P(PrintVersionTest, ComparesIdAsText) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(printProductVersion(GetParam().idText), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(Registration, PrintVersionTest,
                         testing::Values(VersionCase{"Installed", "1000", "1.0.0.0\n"},
                                         VersionCase{"LeadingZero", "01000", "0\n"},
                                         VersionCase{"TrailingBlank", "1000 ", "0\n"},
                                         VersionCase{"Unknown", "5", "0\n"}),
                         [](const testing::TestParamInfo<VersionCase>& info) {
                             return info.param.name;
                         });

TEST_F(RegistrationTest, ListOneWithLastUpdate) {
    processRoot().write(kLastUpdateFile,
                        "<UpdateInfo><P ProductID=\"1000\" LastUpdate=\"today\"/></UpdateInfo>");
    testing::internal::CaptureStdout();
    EXPECT_EQ(listProducts(1000), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ProductID:   1000\nProductName: Updater\nInstallpath: " + processRoot().path() +
                  "\nDescription: Torvane Updater\nVersion:     1.0.0.0\nLastUpdate: today\n"
                  "LastSuccessUpdate: \nLastUpdateStatus: \nUpdateMessage: \n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(listProducts(7), ResultCode::kNothingToList);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No any products exist in inventory");
}

}  // namespace
