#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "LmUpdateRun.h"

namespace {

class LmUpdateRegisterTest : public InitializedRootTest {
protected:
    std::string list() const { return run({"--list"}).out; }
};

TEST_F(LmUpdateRegisterTest, RegisterListsTheProductAtTheEnd) {
    ProgramResult result = run({"--register", "--id", "2000", "--name", "Prod", "--path",
                                "/opt/prod", "--version", "2.1.7", "--desc", "A product",
                                "--serialno", "SN1", "--parent", "1000", "--version-status", "rc"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "");
    ProgramResult listed = run({"--list", "--id", "2000"});
    EXPECT_EQ(listed.exitStatus, 0);
    EXPECT_EQ(listed.out,
              "ProductID:   2000\nProductName: Prod\nInstallpath: /opt/prod\n"
              "Description: A product\nParentIDs:   1000\nSerialNo:    SN1\n"
              "Version:     2.1.0.7\n");
}

// Option texts are stored as attribute values: markup characters in them
// must not break the inventory for every later command.
TEST_F(LmUpdateRegisterTest, MarkupInTextsRoundTrips) {
    ASSERT_EQ(run({"--register", "--id", "7", "--name", "A&B \"q\" <x>", "--path", "/p'q",
                   "--version", "1.0", "--desc", "50% > 4"})
                  .exitStatus,
              0);
    ProgramResult listed = run({"--list", "--id", "7"});
    EXPECT_EQ(listed.exitStatus, 0);
    EXPECT_EQ(listed.out,
              "ProductID:   7\nProductName: A&B \"q\" <x>\nInstallpath: /p'q\n"
              "Description: 50% > 4\nVersion:     1.0.0.0\n");
}

// The command replaces the whole entry: nothing of the old one is kept.
TEST_F(LmUpdateRegisterTest, ReRegisterReplacesAndMovesToEnd) {
    ASSERT_EQ(run({"--register", "--id", "2000", "--name", "Old", "--path", "/a", "--version",
                   "1.0", "--serialno", "KEEP", "--oem", "acme"})
                  .exitStatus,
              0);
    ASSERT_EQ(
        run({"--register", "--id", "3000", "--name", "Three", "--path", "/b", "--version", "R3"})
            .exitStatus,
        0);
    ASSERT_EQ(run({"--register", "--id", "2000", "--name", "New", "--path", "/c", "--version",
                   "2.0", "--serialno", "IGNORED"})
                  .exitStatus,
              0);
    const std::string text = list();
    const size_t three = text.find("ProductID:   3000");
    const size_t two = text.find("ProductID:   2000");
    ASSERT_NE(three, std::string::npos) << text;
    ASSERT_NE(two, std::string::npos) << text;
    EXPECT_LT(three, two);
    EXPECT_EQ(text.find("ProductID:   2000", two + 1), std::string::npos);
    EXPECT_NE(text.find("ProductName: New\nInstallpath: /c\nSerialNo:    IGNORED\n"
                        "Version:     2.0.0.0\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("ProductName: Three\nInstallpath: /b\nVersion:     R3\n"),
              std::string::npos)
        << text;
}

struct OptionErrorCase {
    const char* name;
    std::vector<std::string> args;
    const char* message;
};

void PrintTo(const OptionErrorCase& c, std::ostream* os) {
    *os << c.name << ":";
    for (const std::string& arg : c.args) {
        *os << " " << arg;
    }
}

class RegisterOptionErrorTest : public LmUpdateRegisterTest,
                                public testing::WithParamInterface<OptionErrorCase> {};

TEST_P(RegisterOptionErrorTest, PrintsReasonAndExits255) {
    const std::string before = root_.read("conf/lm-inventory");
    ProgramResult result = run(GetParam().args);
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_EQ(result.out, std::string(GetParam().message) + "\n" + kTryHelp);
    EXPECT_EQ(root_.read("conf/lm-inventory"), before);
}

INSTANTIATE_TEST_SUITE_P(
    E2E, RegisterOptionErrorTest,
    testing::Values(OptionErrorCase{"NoId",
                                    {"--register", "--name", "n"},
                                    "LmUpdate: no product id is specified!"},
                    OptionErrorCase{"BadId",
                                    {"--register", "--id", "x1", "--name", "n"},
                                    "LmUpdate: invalid product id is specified!"},
                    OptionErrorCase{"NoName",
                                    {"--register", "--id", "5", "--name"},
                                    "LmUpdate: no product name is specified!"},
                    OptionErrorCase{"NoPath",
                                    {"--register", "--id", "5", "--name", "n", "--version", "1"},
                                    "LmUpdate: no product install path is specified!"},
                    OptionErrorCase{"NoVersion",
                                    {"--register", "--id", "5", "--name", "n", "--path", "/p"},
                                    "LmUpdate: no product version is specified!"},
                    OptionErrorCase{"DeregisterNoName",
                                    {"--deregister", "--id", "1000"},
                                    "LmUpdate: no product name is specified!"}),
    [](const testing::TestParamInfo<OptionErrorCase>& info) { return info.param.name; });

TEST_F(LmUpdateRegisterTest, DeregisterRemovesOnlyKnownProducts) {
    ASSERT_EQ(run({"--register", "--id", "2000", "--name", "P", "--path", "/p", "--version", "1.0"})
                  .exitStatus,
              0);
    ProgramResult removed = run({"--deregister", "--id", "2000", "--name", "whatever"});
    EXPECT_EQ(removed.exitStatus, 0);
    EXPECT_EQ(removed.out, "");
    EXPECT_EQ(list().find("2000"), std::string::npos);
    ProgramResult unknown = run({"--deregister", "--id", "2000", "--name", "P"});
    EXPECT_EQ(unknown.exitStatus, 256 - 4);
    EXPECT_EQ(unknown.out, "");
}

TEST_F(LmUpdateRegisterTest, UnparsableInventoryFailsRegistration) {
    root_.write("conf/lm-inventory", "<LmUpdateClientSettings>");
    ProgramResult result =
        run({"--register", "--id", "5", "--name", "n", "--path", "/p", "--version", "1"});
    EXPECT_EQ(result.exitStatus, 256 - 3);
    EXPECT_EQ(root_.read("conf/lm-inventory"), "<LmUpdateClientSettings>");
}

}  // namespace
