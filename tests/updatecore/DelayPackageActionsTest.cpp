#include "run/DelayPackageActions.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "InstallRoot.h"
#include "StateDocument.h"
#include "SystemLog.h"
#include "TempRoot.h"
#include "state/LmUpdateStore.h"
#include "state/StateFiles.h"

namespace {

class DelayPackageActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        root().clear();
        root().mkdirs("conf");
        ASSERT_TRUE(createDefaultInventory());
    }
    void TearDown() override { root().clear(); }

    static TempRoot& root() { return processRoot(); }

    // A deferred package of product id whose install-package script records
    // its arguments in ROOT/record/<id> and exits with exitStatus.
    static LmPackageInfo deferred(int32_t id, int exitStatus = 0) {
        std::string dir = "deferred/" + std::to_string(id) + "/2_0_0_1";
        root().writeScript(dir + "/install-package",
                           "printf '%s\\n' \"$@\" > " +
                               root().file("record/" + std::to_string(id)) + "\nexit " +
                               std::to_string(exitStatus) + "\n");
        root().mkdirs("record");
        LmPackageInfo p;
        p.path = root().file(dir);
        p.file = "a.zip";
        p.version = LmVersionInfo("2.0.0.1", "", "");
        p.product.id = id;
        p.product.name = "p" + std::to_string(id);
        p.product.desc = "Product " + std::to_string(id);
        p.product.installPath = "/opt/p" + std::to_string(id);
        p.downloadResult = 1;
        p.format = "zip";
        p.installScript = "install";
        p.runResult = -1;
        return p;
    }

    static void store(const Vector<LmPackageInfo>& list) {
        ASSERT_TRUE(savePackages(list, installPath(kDelayPackagesFile)));
    }

    // Product ids of the deferred list on disk, in order.
    static std::vector<int32_t> storedIds() {
        StateDocument state;
        Vector<LmPackageInfo> list;
        EXPECT_EQ(state.getDelayPackages(list), 0);
        return ids(list);
    }

    static std::vector<int32_t> ids(const Vector<LmPackageInfo>& list) {
        std::vector<int32_t> out;
        for (const LmPackageInfo& p : list) {
            out.push_back(p.product.id);
        }
        return out;
    }

    static std::vector<int32_t> documentIds(const String& document) {
        StateDocument state;
        Vector<LmPackageInfo> list;
        EXPECT_TRUE(state.parse(document)) << document;
        state.readPackageInfoList(list, false);
        return ids(list);
    }

    static int run(int32_t id, const char* word, int removeFiles, String& action,
                   std::string& printed) {
        action = word;
        ::testing::internal::CaptureStdout();
        int result = delayPackageAction(id, action, removeFiles);
        printed = ::testing::internal::GetCapturedStdout();
        return result;
    }

    static bool installed(int32_t id, LmProduct& out) {
        LmUpdateStore& store = LmUpdateStore::instance();
        store.load(installPath(kInventoryFile));
        return store.findProduct(id, out);
    }
};

struct StatusCase {
    const char* name;
    int32_t id;
    std::vector<int32_t> shown;
};

void PrintTo(const StatusCase& c, std::ostream* os) {
    *os << c.name;
}

class DelayStatusTest : public DelayPackageActionsTest,
                        public ::testing::WithParamInterface<StatusCase> {};

TEST_P(DelayStatusTest, PrintsTheDocumentOfTheChosenPackagesAndKeepsTheList) {
    store({deferred(5), deferred(6)});
    String action;
    std::string printed;
    SystemLog::setEcho(true);
    ::testing::internal::CaptureStderr();
    int result = run(GetParam().id, "Status", 1, action, printed);
    std::string log = ::testing::internal::GetCapturedStderr();
    SystemLog::setEcho(false);
    ASSERT_EQ(result, 0);
    std::vector<std::string> lines{"LmUpdate: status delay package id: " +
                                   std::to_string(GetParam().id)};
    if (GetParam().id != 0) {
        lines.insert(lines.end(), {"LmUpdate:checking id:5", "LmUpdate:checking id:6"});
    }
    for (const std::string& line : lines) {
        EXPECT_NE(log.find(line + "\n"), std::string::npos) << line << "\n" << log;
    }
    EXPECT_EQ(printed, action.str());
    EXPECT_EQ(documentIds(action), GetParam().shown);
    EXPECT_EQ(storedIds(), (std::vector<int32_t>{5, 6}));
}

INSTANTIATE_TEST_SUITE_P(Ids, DelayStatusTest,
                         ::testing::Values(StatusCase{"all", 0, {5, 6}}, StatusCase{"one", 6, {6}},
                                           StatusCase{"unknown", 9, {}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DelayPackageActionsTest, RemoveDropsTheChosenPackagesAndOptionallyTheirFiles) {
    store({deferred(5), deferred(6), deferred(7)});
    String action;
    std::string printed;
    EXPECT_EQ(run(6, "REMOVE", 1, action, printed), 0);
    EXPECT_EQ(storedIds(), (std::vector<int32_t>{5, 7}));
    EXPECT_FALSE(root().exists("deferred/6"));
    EXPECT_TRUE(root().exists("deferred/5/2_0_0_1/install-package"));

    EXPECT_EQ(run(0, "remove", 0, action, printed), 0);
    EXPECT_EQ(storedIds(), std::vector<int32_t>{});
    EXPECT_TRUE(root().exists("deferred/5/2_0_0_1"));
    EXPECT_EQ(printed, "");
    // An empty list stays empty.
    EXPECT_EQ(run(0, "remove", 1, action, printed), 0);
}

TEST_F(DelayPackageActionsTest, InstallKeepsTheOtherProductsDeferredPackages) {
    store({deferred(5), deferred(6), deferred(7)});
    String action;
    std::string printed;
    EXPECT_EQ(run(6, "install", 1, action, printed), 0);
    EXPECT_EQ(root().read("record/6"),
              "-d\n/opt/p6\n-s\n" + root().file("deferred/6/2_0_0_1") + "\n");
    EXPECT_EQ(storedIds(), (std::vector<int32_t>{5, 7}));
    EXPECT_FALSE(root().exists("deferred/6"));
    LmProduct product;
    ASSERT_TRUE(installed(6, product));
    EXPECT_EQ(product.version.version.str(), "2.0.0.1");
    EXPECT_EQ(product.info.installPath.str(), "/opt/p6");
}

struct InstallCase {
    const char* name;
    int exitStatus;
    int result;
    bool registered;
};

void PrintTo(const InstallCase& c, std::ostream* os) {
    *os << c.name;
}

class DelayInstallTest : public DelayPackageActionsTest,
                         public ::testing::WithParamInterface<InstallCase> {};

TEST_P(DelayInstallTest, ScriptStatusDecidesResultAndRegistration) {
    store({deferred(5, GetParam().exitStatus)});
    String action;
    std::string printed;
    EXPECT_EQ(run(5, "install", 1, action, printed), GetParam().result);
    LmProduct product;
    EXPECT_EQ(installed(5, product), GetParam().registered);
    // The entry and its directory go whatever the script did.
    EXPECT_EQ(storedIds(), std::vector<int32_t>{});
    EXPECT_FALSE(root().exists("deferred/5"));
}

INSTANTIATE_TEST_SUITE_P(Statuses, DelayInstallTest,
                         ::testing::Values(InstallCase{"zero", 0, 0, true},
                                           InstallCase{"one", 1, 1, true},
                                           InstallCase{"two", 2, 2, false},
                                           InstallCase{"other", 9, -1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DelayPackageActionsTest, FailuresAndUnknownActions) {
    store({deferred(5)});
    String action;
    std::string printed;
    EXPECT_EQ(run(0, "install", 1, action, printed), -1) << "install needs an id";
    EXPECT_EQ(run(9, "install", 1, action, printed), -1) << "no such id";
    EXPECT_EQ(run(5, "frobnicate", 1, action, printed), 0);
    EXPECT_EQ(storedIds(), std::vector<int32_t>{5});

    root().remove("conf/lm-delay-packages");
    for (const char* word : {"install", "status", "remove"}) {
        EXPECT_EQ(run(5, word, 1, action, printed), -1) << word;
    }
}

TEST_F(DelayPackageActionsTest, AddReplacesAnOlderPackageOfTheSameProduct) {
    store({deferred(5), deferred(6)});
    LmPackageInfo newer = deferred(5);
    newer.version = LmVersionInfo("3.0.0.0", "", "");
    addDelayPackage(newer, 0);
    StateDocument state;
    Vector<LmPackageInfo> list;
    ASSERT_EQ(state.getDelayPackages(list), 0);
    ASSERT_EQ(ids(list), (std::vector<int32_t>{6, 5}));
    EXPECT_EQ(list[1].version.version.str(), "3.0.0.0");

    // Without a list file the package starts a new one.
    root().remove("conf/lm-delay-packages");
    addDelayPackage(newer, 0);
    EXPECT_EQ(storedIds(), std::vector<int32_t>{5});
}

}  // namespace
